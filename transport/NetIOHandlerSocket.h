// The IO handler bound to one TCP socket: opening allocates the socket, binds
// it locally, applies Nagle and connects.
#pragma once

#include <functional>
#include <memory>

#include "NetIOHandler.h"
#include "NetSocketHandle.h"

class TNetIOHandlerSocket : public TNetIOHandler {
public:
    ~TNetIOHandlerSocket() override;
    const char *ClassName() const override { return "TNetIOHandlerSocket"; }
    void InitComponent() override;

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
};
