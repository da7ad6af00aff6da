// The TCP client base of every protocol client that can use TLS: no TLS,
// TLS from the first byte (implicit), or TLS started by a command on the
// plain connection (explicit, "STLS"/"STARTTLS"), optionally required.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Classes.h"
#include "NetException.h"
#include "NetTCPClient.h"

enum TNetUseTLS { utNoTLSSupport, utUseImplicitTLS, utUseRequireTLS, utUseExplicitTLS };

NET_EXCEPTION_CLASS(ENetTLSClientException, ENetException);
NET_EXCEPTION_CLASS(ENetTLSClientSSLIOHandlerRequred, ENetTLSClientException);
NET_EXCEPTION_CLASS(ENetTLSClientCanNotSetWhileConnected, ENetTLSClientException);
NET_EXCEPTION_CLASS(ENetTLSClientTLSNotAvailable, ENetTLSClientException);
NET_EXCEPTION_CLASS(ENetTLSClientTLSHandShakeFailed, ENetTLSClientException);

extern const char *const RSTLSClientSSLIOHandlerRequred;      // "SSL IOHandler is required for this setting"
extern const char *const RSTLSClientCanNotSetWhileConnected;  // "This value can not be set while the client is connected."
extern const char *const RSTLSClientTLSNotAvailable;          // "SSL is not available on this server."
extern const char *const RSTLSClientTLSNegCmdFailed;          // "Start SSL negotiation command failed."
extern const char *const RSTLSClientTLSHandShakeFailed;       // "SSL is not available on this server."

class TNetExplicitTLSClient;
// Continue starts as the routine's default; a handler may change it.
using TNetTLSContinueEvent = std::function<void(TNetExplicitTLSClient *sender, bool &Continue)>;

class TNetExplicitTLSClient : public TNetTCPClientCustom {
public:
    const char *ClassName() const override { return "TNetExplicitTLSClient"; }
    void InitComponent() override;
    void SetIOHandler(TNetIOHandler *handler) override;
    // Prepares the TLS handler's pass-through for the chosen mode, then
    // connects; with implicit TLS the handshake runs inside.
    void Connect() override;
    // After the properties were read from a form.
    virtual void Loaded();

    TNetUseTLS UseTLS() const { return FUseTLS; }
    // Fixed while connected; moves the port between the plain and the
    // implicit-TLS port when it stands on one of them.
    virtual void SetUseTLS(TNetUseTLS value);
    TStringList *Capabilities() const { return FCapabilities.get(); }

    // The server offers no TLS (default: go on in plain text, unless TLS
    // is required).
    TNetTLSContinueEvent OnTLSNotAvailable;
    // The server refused the start command (default: end the session).
    TNetTLSContinueEvent OnTLSNegCmdFailed;
    // The handshake failed. The session always ends: the event is told,
    // but it cannot keep a session going in plain text.
    TNetTLSContinueEvent OnTLSHandShakeFailed;

    // Whether the server offers TLS; the protocols read their capabilities.
    virtual bool SupportsTLS() { return false; }

protected:
    explicit TNetExplicitTLSClient(TNetInitializerComponent *owner) : TNetTCPClientCustom(owner) {}
    // ENetTLSClientSSLIOHandlerRequred unless the IO handler is a TLS one.
    void CheckIOHandler();
    // Starts TLS on the open plain connection.
    virtual void TLSHandshake();
    void ProcessTLSNotAvail();
    void ProcessTLSNegCmdFailed();
    void ProcessTLSHandShakeFailed(const std::string &reason);
    void DisconnectIfConnected();

    TNetUseTLS FUseTLS = utNoTLSSupport;
    int FRegularProtPort = 0;
    int FImplicitTLSProtPort = 0;
    std::unique_ptr<TStringList> FCapabilities;
};
