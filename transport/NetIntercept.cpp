#include "NetIntercept.h"

TNetConnectionIntercept::~TNetConnectionIntercept() = default;

void TNetConnectionIntercept::InitComponent() {
    TNetBaseComponent::InitComponent();
    FIsClient = true;
}

void TNetConnectionIntercept::Connect(TNetInitializerComponent *connection) {
    FConnection = connection;
    if (OnConnect) OnConnect(this);
    if (FIntercept) FIntercept->Connect(connection);
}

void TNetConnectionIntercept::Disconnect() {
    if (FIntercept) FIntercept->Disconnect();
    if (OnDisconnect) OnDisconnect(this);
    FConnection = nullptr;
}

void TNetConnectionIntercept::Receive(TNetBytes &bytes) {
    if (FIntercept) FIntercept->Receive(bytes);
    if (OnReceive) OnReceive(this, bytes);
}

void TNetConnectionIntercept::Send(TNetBytes &bytes) {
    if (OnSend) OnSend(this, bytes);
    if (FIntercept) FIntercept->Send(bytes);
}

void TNetConnectionIntercept::SetIntercept(TNetConnectionIntercept *value) {
    if (value == FIntercept) return;
    for (TNetConnectionIntercept *i = value; i; i = i->FIntercept) {
        if (i == this)
            ENetInterceptCircularLink::Toss(std::string(ClassName()) + ": Circular links are not allowed");
    }
    if (FIntercept) RemoveFreeNotification(FIntercept);
    FIntercept = value;
    if (FIntercept) FreeNotification(FIntercept);
}

void TNetConnectionIntercept::Notification(TNetInitializerComponent *comp, TOperation operation) {
    TNetBaseComponent::Notification(comp, operation);
    if (operation == opRemove && comp == FIntercept) FIntercept = nullptr;
    if (operation == opRemove && comp == FConnection) FConnection = nullptr;
}
