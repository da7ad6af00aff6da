// A POP3-style client for the TLS tests: just the greeting, CAPA, STLS and
// single-line commands, on the explicit-TLS client base; and the text of a
// thrown exception.
#pragma once

#include "NetExplicitTLSClient.h"
#include "TestSupport.h"

#include <string>

// The part of a POP3 client that deals with TLS: greeting, CAPA, STLS.
class TTestPOP3 : public TNetExplicitTLSClient {
public:
    void InitComponent() override
    {
        TNetExplicitTLSClient::InitComponent();
        FRegularProtPort = 110;
        FImplicitTLSProtPort = 995;
        SetPort(110);
    }
    bool SupportsTLS() override { return Capabilities()->IndexOf("STLS") >= 0; }

    std::string Cmd(const std::string &c)
    {
        IOHandler()->WriteLn(c);
        return IOHandler()->ReadLn();
    }

    // Connects, reads the greeting and starts TLS as the mode says.
    void Login()
    {
        Connect();
        GreetingLine = IOHandler()->ReadLn();
        if (FUseTLS != utUseRequireTLS && FUseTLS != utUseExplicitTLS)
            return;
        Capabilities()->Clear();
        if (Cmd("CAPA").rfind("+OK", 0) == 0) {
            for (std::string l = IOHandler()->ReadLn(); l != "."; l = IOHandler()->ReadLn())
                Capabilities()->Add(l);
        }
        if (!SupportsTLS())
            ProcessTLSNotAvail();
        else if (Cmd("STLS").rfind("+OK", 0) != 0)
            ProcessTLSNegCmdFailed();
        else
            TLSHandshake();
    }

    std::string GreetingLine;

protected:
    using TNetExplicitTLSClient::TNetExplicitTLSClient;
};
