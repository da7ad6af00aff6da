// A hook an IO handler may carry: it sees the connection made and closed and
// every block of bytes received and sent, may change them, and passes them on
// to the next intercept of its chain.
#pragma once

#include <functional>

#include "NetComponent.h"

class TNetConnectionIntercept : public TNetBaseComponent {
public:
    ~TNetConnectionIntercept() override;
    const char *ClassName() const override { return "TNetConnectionIntercept"; }
    void InitComponent() override;

    std::function<void(TNetConnectionIntercept *sender)> OnConnect;
    std::function<void(TNetConnectionIntercept *sender)> OnDisconnect;
    std::function<void(TNetConnectionIntercept *sender, TNetBytes &bytes)> OnReceive;
    std::function<void(TNetConnectionIntercept *sender, TNetBytes &bytes)> OnSend;

    virtual void Connect(TNetInitializerComponent *connection);
    virtual void Disconnect();
    // Received data flows from the outermost intercept inwards: the chained
    // one sees it first.
    virtual void Receive(TNetBytes &bytes);
    // Sent data flows outwards: this one first, then the chained one.
    virtual void Send(TNetBytes &bytes);

    TNetConnectionIntercept *Intercept() const { return FIntercept; }
    // ENetInterceptCircularLink when the chain would come back to this one.
    void SetIntercept(TNetConnectionIntercept *value);
    TNetInitializerComponent *Connection() const { return FConnection; }
    void Notification(TNetInitializerComponent *comp, TOperation operation) override;

protected:
    explicit TNetConnectionIntercept(TNetInitializerComponent *owner) : TNetBaseComponent(owner) {}
    bool FIsClient = false;

private:
    TNetConnectionIntercept *FIntercept = nullptr;
    TNetInitializerComponent *FConnection = nullptr;
};
