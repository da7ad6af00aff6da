// The command/reply layer every protocol client shares: it owns or borrows an
// IO handler, sends a command line, reads a (possibly multi-line) reply into
// a reply object, checks its code and raises the reply's error otherwise.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "NetIOHandlerSocket.h"
#include "NetReply.h"

// Bound on the lines of one reply a peer can make us collect.
constexpr int NetMaxReplyLines = 100000;

class TNetTCPConnection : public TNetComponent {
public:
    ~TNetTCPConnection() override;
    const char *ClassName() const override { return "TNetTCPConnection"; }
    void InitComponent() override;
    void Notification(TNetInitializerComponent *comp, TOperation operation) override;

    TNetIOHandler *IOHandler() const { return FIOHandler; }
    virtual void SetIOHandler(TNetIOHandler *handler);
    // The handler as a socket handler, or nothing for another kind.
    TNetIOHandlerSocket *Socket() const { return FSocket; }
    bool ManagedIOHandler() const { return FManagedIOHandler; }
    void SetManagedIOHandler(bool value) { FManagedIOHandler = value; }

    TNetReply *Greeting() const { return FGreeting.get(); }
    TNetReply *LastCmdResult() const { return FLastCmdResult.get(); }

    std::function<void(TNetTCPConnection *sender)> OnDisconnected;

    // ENetNotConnected "Not connected." without an IO handler.
    void CheckConnected();
    virtual bool Connected();
    virtual void Disconnect(bool notifyPeer = true);
    void DisconnectAndNotify() { Disconnect(true); }
    // Protocols send their quit command here.
    virtual void DisconnectNotifyPeer() {}
    virtual void CheckForGracefulDisconnect(bool raiseExceptionIfDisconnected = true);

    // An empty list accepts every code.
    virtual int SendCmd(const std::string &command, const std::vector<int> &acceptedCodes = {});
    // 65535 (or -1) accepts any code.
    int SendCmdOneCode(const std::string &command, int acceptedCode = 65535);
    virtual std::string SendCmdExpectText(const std::string &command, std::string_view acceptedCode);
    virtual int GetResponse(const std::vector<int> &acceptedCodes = {});
    virtual std::string GetResponse(std::string_view acceptedCode);
    virtual void GetInternalResponse();
    virtual int CheckResponse(int code, const std::vector<int> &acceptedCodes);
    virtual std::string CheckResponse(const std::string &code, std::string_view acceptedCode);
    [[noreturn]] virtual void RaiseExceptionForLastCmdResult();
    // Raises E with the reply's text lines joined by CR LF.
    template <class E>
    [[noreturn]] void RaiseExceptionForLastCmdResultAs() {
        throw E(FLastCmdResult->TextJoined());
    }

protected:
    explicit TNetTCPConnection(TNetInitializerComponent *owner) : TNetComponent(owner) {}
    virtual void DoOnDisconnected();
    virtual TNetReplyClass GetReplyClass();
    virtual void PrepareCmd(std::string &) {}

    TNetIOHandler *FIOHandler = nullptr;
    TNetIOHandlerSocket *FSocket = nullptr;
    bool FManagedIOHandler = false;
    std::unique_ptr<TNetReply> FGreeting;
    std::unique_ptr<TNetReply> FLastCmdResult;
    TNetReplyClass FReplyClass;
};
