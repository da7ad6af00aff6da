// The IO handler bound to one TCP socket: opening allocates the socket, binds
// it locally, applies Nagle and connects.
#pragma once

#include <functional>
#include <memory>

#include "NetIOHandler.h"
#include "NetSocketHandle.h"

class TNetCustomTransparentProxy;

class TNetIOHandlerSocket : public TNetIOHandler {
public:
    ~TNetIOHandlerSocket() override;
    const char *ClassName() const override { return "TNetIOHandlerSocket"; }
    void InitComponent() override;
    void Notification(TNetInitializerComponent *comp, TOperation operation) override;

    std::string BoundIP;
    int BoundPort = 0;
    int BoundPortMin = 0;
    int BoundPortMax = 0;
    int DefaultPort = 0;
    TNetIPVersion IPVersion = Net_IPv4;
    bool UseNagle() const { return FUseNagle; }
    void SetUseNagle(bool value);

    std::function<void(TNetIOHandlerSocket *sender)> OnBeforeBind;
    std::function<void(TNetIOHandlerSocket *sender)> OnAfterBind;
    std::function<void(TNetIOHandlerSocket *sender)> OnSocketAllocated;

    // The proxy connections go through when it is enabled. Reading it makes
    // the handler's own SOCKS proxy (not enabled) when there is none.
    TNetCustomTransparentProxy *TransparentProxy();
    // nullptr frees the handler's own proxy or forgets a shared one. A proxy
    // with an owner is shared and forgotten when it is freed; an ownerless
    // one is copied into a proxy of the same class that the handler owns,
    // chained to the same next proxy.
    void SetTransparentProxy(TNetCustomTransparentProxy *value);
    // A proxy is set and enabled: connects go to it.
    bool UsesTransparentProxy() const;
    // Lets go of the proxy without freeing it (owned tells whether the
    // handler owned it), and takes it back; for connecting straight to the
    // proxy while it runs.
    TNetCustomTransparentProxy *DetachTransparentProxy(bool &owned);
    void AttachTransparentProxy(TNetCustomTransparentProxy *proxy, bool owned);

    // The socket, made at the first open and kept.
    TNetSocketHandle *Binding() const { return FBinding.get(); }
    bool BindingAllocated() const { return FBinding && FBinding->HandleAllocated(); }

    // "host:port" when the port is set and not the default one.
    std::string GetDestination() const override;
    // Splits "host:port" at the last colon; a text without one changes nothing.
    void SetDestination(const std::string &value) override;
    void Open() override;
    void Close() override;
    bool Connected() override;
    // Allocates, binds and applies Nagle; the stack handler then connects.
    void ConnectClient() override;

protected:
    explicit TNetIOHandlerSocket(TNetInitializerComponent *owner) : TNetIOHandler(owner) {}
    virtual void DoBeforeBind();
    virtual void DoAfterBind();
    virtual void DoSocketAllocated();

    std::unique_ptr<TNetSocketHandle> FBinding;
    bool FUseNagle = true;
    TNetCustomTransparentProxy *FTransparentProxy = nullptr;
    bool FOwnsTransparentProxy = false;
};
