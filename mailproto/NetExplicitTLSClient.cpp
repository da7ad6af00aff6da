#include "NetExplicitTLSClient.h"

#include "NetSSLOpenSSL.h"

const char *const RSTLSClientSSLIOHandlerRequred = "SSL IOHandler is required for this setting";
const char *const RSTLSClientCanNotSetWhileConnected =
    "This value can not be set while the client is connected.";
const char *const RSTLSClientTLSNotAvailable = "SSL is not available on this server.";
const char *const RSTLSClientTLSNegCmdFailed = "Start SSL negotiation command failed.";
const char *const RSTLSClientTLSHandShakeFailed = "SSL is not available on this server.";

namespace {
TNetSSLIOHandlerSocketBase *AsTLSHandler(TNetIOHandler *h)
{
    return dynamic_cast<TNetSSLIOHandlerSocketBase *>(h);
}
}  // namespace

void TNetExplicitTLSClient::InitComponent()
{
    TNetTCPClientCustom::InitComponent();
    FCapabilities = std::make_unique<TStringList>();
    FUseTLS = utNoTLSSupport;
}

void TNetExplicitTLSClient::Loaded()
{
    if (!AsTLSHandler(FIOHandler))
        SetUseTLS(utNoTLSSupport);
}

void TNetExplicitTLSClient::SetIOHandler(TNetIOHandler *handler)
{
    TNetTCPClientCustom::SetIOHandler(handler);
    if (!AsTLSHandler(handler) && FUseTLS != utNoTLSSupport) {
        if (Connected())
            FUseTLS = utNoTLSSupport;
        else
            SetUseTLS(utNoTLSSupport);
    }
}

void TNetExplicitTLSClient::CheckIOHandler()
{
    if (!AsTLSHandler(FIOHandler))
        ENetTLSClientSSLIOHandlerRequred::Toss(RSTLSClientSSLIOHandlerRequred);
}

void TNetExplicitTLSClient::SetUseTLS(TNetUseTLS value)
{
    if (Connected())
        ENetTLSClientCanNotSetWhileConnected::Toss(RSTLSClientCanNotSetWhileConnected);
    if (IsLoading()) {
        FUseTLS = value;
        return;
    }
    if (value != utNoTLSSupport)
        CheckIOHandler();
    if (value == FUseTLS)
        return;
    // A port the user chose stays; only the two known ports follow.
    if (value == utUseImplicitTLS) {
        if (Port() == FRegularProtPort)
            SetPort(FImplicitTLSProtPort);
    } else if (Port() == FImplicitTLSProtPort) {
        SetPort(FRegularProtPort);
    }
    FUseTLS = value;
}

void TNetExplicitTLSClient::Connect()
{
    // Every TLS mode needs its TLS handler here, implicit TLS too: a handler
    // freed behind the client's back leaves none, and the plain one the TCP
    // client would make instead carries the password in clear text.
    if (FUseTLS != utNoTLSSupport && !AsTLSHandler(FIOHandler))
        ENetTLSClientSSLIOHandlerRequred::Toss(RSTLSClientSSLIOHandlerRequred);
    if (TNetSSLIOHandlerSocketBase *tls = AsTLSHandler(FIOHandler)) {
        // A socket left over from a connection the peer ended goes first,
        // so the pass-through switch below never handshakes on it.
        if (tls->BindingAllocated() && !Connected())
            tls->Close();
        tls->SetPassThrough(FUseTLS != utUseImplicitTLS);
    }
    TNetTCPClientCustom::Connect();
}

void TNetExplicitTLSClient::TLSHandshake()
{
    TNetSSLIOHandlerSocketBase *tls = AsTLSHandler(FIOHandler);
    if (!tls)
        return;
    try {
        tls->SetPassThrough(false);
    } catch (const std::exception &e) {
        ProcessTLSHandShakeFailed(e.what());
    }
}

void TNetExplicitTLSClient::DisconnectIfConnected()
{
    // Runs on the way to raising why TLS failed: a server that does not
    // answer the goodbye must not put its own time-out in place of that.
    try {
        if (Connected())
            Disconnect(true);
        else if (FIOHandler && FIOHandler->Opened())
            Disconnect(false);
    } catch (const std::exception &) {
        if (FIOHandler && FIOHandler->Opened())
            FIOHandler->Close();
    }
}

void TNetExplicitTLSClient::ProcessTLSNotAvail()
{
    bool goOn = true;
    if (FUseTLS != utUseRequireTLS && OnTLSNotAvailable)
        OnTLSNotAvailable(this, goOn);
    if (FUseTLS == utUseRequireTLS || !goOn) {
        DisconnectIfConnected();
        ENetTLSClientTLSNotAvailable::Toss(RSTLSClientTLSNotAvailable);
    }
}

void TNetExplicitTLSClient::ProcessTLSNegCmdFailed()
{
    bool goOn = false;
    if (FUseTLS != utUseRequireTLS && OnTLSNegCmdFailed)
        OnTLSNegCmdFailed(this, goOn);
    if (FUseTLS == utUseRequireTLS || !goOn) {
        DisconnectIfConnected();
        ENetTLSClientTLSNotAvailable::Toss(RSTLSClientTLSNegCmdFailed);
    }
}

void TNetExplicitTLSClient::ProcessTLSHandShakeFailed(const std::string &reason)
{
    // The peer saw a handshake start; whatever it said, plain text from
    // here on could be read or changed by anyone in between.
    bool goOn = false;
    if (FUseTLS != utUseRequireTLS && OnTLSHandShakeFailed)
        OnTLSHandShakeFailed(this, goOn);
    DisconnectIfConnected();
    std::string msg = RSTLSClientTLSHandShakeFailed;
    if (!reason.empty())
        msg += " " + reason;
    ENetTLSClientTLSHandShakeFailed::Toss(msg);
}
