#include "NetIOHandlerSocket.h"

#include <typeinfo>

#include "NetSocks.h"

TNetIOHandlerSocket::~TNetIOHandlerSocket() {
    try {
        if (FBinding) FBinding->CloseSocket();
    } catch (...) {
    }
}

void TNetIOHandlerSocket::InitComponent() {
    TNetIOHandler::InitComponent();
    IPVersion = Net_IPv4;
    FUseNagle = true;
}

void TNetIOHandlerSocket::Notification(TNetInitializerComponent *comp, TOperation operation) {
    TNetIOHandler::Notification(comp, operation);
    if (operation == opRemove && comp == FTransparentProxy) {
        FTransparentProxy = nullptr;
        FOwnsTransparentProxy = false;
    }
}

TNetCustomTransparentProxy *TNetIOHandlerSocket::TransparentProxy() {
    if (!FTransparentProxy) {
        AttachTransparentProxy(NetCreate<TNetSocksInfo>(this), true);
    }
    return FTransparentProxy;
}

void TNetIOHandlerSocket::SetTransparentProxy(TNetCustomTransparentProxy *value) {
    if (value == FTransparentProxy) return;
    if (value && !value->Owner() && FOwnsTransparentProxy && FTransparentProxy &&
        typeid(*FTransparentProxy) == typeid(*value)) {
        FTransparentProxy->Assign(*value);
        FTransparentProxy->SetChainedProxy(value->ChainedProxy());
        return;
    }
    // Let go of the old one first.
    bool owned = false;
    TNetCustomTransparentProxy *old = DetachTransparentProxy(owned);
    if (owned) delete old;
    if (!value) return;
    if (value->Owner()) {
        AttachTransparentProxy(value, false);
    } else {
        TNetCustomTransparentProxy *copy = value->MakeNew(this);
        copy->Assign(*value);
        // The copy goes the same way: a chain left behind would be skipped.
        copy->SetChainedProxy(value->ChainedProxy());
        AttachTransparentProxy(copy, true);
    }
}

bool TNetIOHandlerSocket::UsesTransparentProxy() const { return FTransparentProxy && FTransparentProxy->Enabled(); }

TNetCustomTransparentProxy *TNetIOHandlerSocket::DetachTransparentProxy(bool &owned) {
    TNetCustomTransparentProxy *proxy = FTransparentProxy;
    owned = FOwnsTransparentProxy;
    if (proxy) RemoveFreeNotification(proxy);
    FTransparentProxy = nullptr;
    FOwnsTransparentProxy = false;
    return proxy;
}

void TNetIOHandlerSocket::AttachTransparentProxy(TNetCustomTransparentProxy *proxy, bool owned) {
    FTransparentProxy = proxy;
    FOwnsTransparentProxy = proxy && owned;
    if (proxy) FreeNotification(proxy);
}

void TNetIOHandlerSocket::SetUseNagle(bool value) {
    if (value == FUseNagle) return;
    FUseNagle = value;
    if (BindingAllocated()) GStack->SetSocketOption(FBinding->Handle(), 6, 1, FUseNagle ? 0 : 1);
}

std::string TNetIOHandlerSocket::GetDestination() const {
    std::string d = FHost;
    if (FPort >= 1 && FPort != DefaultPort) d += ":" + IntToStr(FPort);
    return d;
}

void TNetIOHandlerSocket::SetDestination(const std::string &value) {
    int p = LastPos(":", value);
    if (p == 0) return;
    SetHost(Copy(value, 1, p - 1));
    std::string port = Trim(Copy(value, p + 1, 255));
    int v = StrToIntDef(port, DefaultPort);
    SetPort(v < 0 || v > 65535 ? DefaultPort : v);
}

void TNetIOHandlerSocket::Open() {
    TNetIOHandler::Open();
    if (!FBinding)
        FBinding = std::make_unique<TNetSocketHandle>();
    else {
        FBinding->CloseSocket();
        FBinding->Reset(true);
    }
    FBinding->ClientPortMin = BoundPortMin;
    FBinding->ClientPortMax = BoundPortMax;
    if (!FHost.empty() && FPort > 0) {
        try {
            ConnectClient();
        } catch (...) {
            // A refused, unresolved or timed-out connect leaves nothing open.
            try {
                Close();
            } catch (...) {
            }
            throw;
        }
    }
}

void TNetIOHandlerSocket::Close() {
    if (FBinding) FBinding->CloseSocket();
    TNetIOHandler::Close();
}

bool TNetIOHandlerSocket::Connected() {
    return (BindingAllocated() && TNetIOHandler::Connected()) || !InputBufferIsEmpty();
}

void TNetIOHandlerSocket::DoBeforeBind() {
    if (OnBeforeBind) OnBeforeBind(this);
}
void TNetIOHandlerSocket::DoAfterBind() {
    if (OnAfterBind) OnAfterBind(this);
}
void TNetIOHandlerSocket::DoSocketAllocated() {
    if (OnSocketAllocated) OnSocketAllocated(this);
}

void TNetIOHandlerSocket::ConnectClient() {
    DoBeforeBind();
    // Through a proxy the socket is of the proxy's address family.
    FBinding->SetIPVersion(UsesTransparentProxy() ? FTransparentProxy->IPVersion : IPVersion);
    FBinding->AllocateSocket(Net_SOCK_STREAM, 0);
    DoSocketAllocated();
    if (!BoundIP.empty()) FBinding->IP = BoundIP;
    FBinding->Port = BoundPort;
    FBinding->ClientPortMin = BoundPortMin;
    FBinding->ClientPortMax = BoundPortMax;
    FBinding->Bind();
    GStack->SetSocketOption(FBinding->Handle(), 6, 1, FUseNagle ? 0 : 1);
    DoAfterBind();
}
