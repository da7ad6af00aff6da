#include "NetTCPClient.h"

void TNetTCPClientCustom::InitComponent() {
    TNetTCPConnection::InitComponent();
    FReadTimeout = -1;
}

void TNetTCPClientCustom::CopySettingsToHandler() {
    if (!FIOHandler) return;
    FIOHandler->SetPort(FPort);
    FIOHandler->SetHost(FHost);
    FIOHandler->ConnectTimeout = FConnectTimeout;
    FIOHandler->ReadTimeout = FReadTimeout;
    if (FSocket) {
        FSocket->BoundIP = FBoundIP;
        FSocket->BoundPort = FBoundPort;
        FSocket->BoundPortMin = BoundPortMin;
        FSocket->BoundPortMax = BoundPortMax;
        FSocket->IPVersion = FIPVersion;
        FSocket->OnBeforeBind = FOnBeforeBind;
        FSocket->OnAfterBind = FOnAfterBind;
    }
}

void TNetTCPClientCustom::SetIOHandler(TNetIOHandler *handler) {
    TNetTCPConnection::SetIOHandler(handler);
    CopySettingsToHandler();
}

void TNetTCPClientCustom::SetHost(const std::string &value) {
    FHost = value;
    if (FIOHandler) FIOHandler->SetHost(value);
}

void TNetTCPClientCustom::SetPort(int value) {
    FPort = value;
    if (FIOHandler) FIOHandler->SetPort(value);
}

void TNetTCPClientCustom::SetIPVersion(TNetIPVersion value) {
    FIPVersion = value;
    if (FSocket) FSocket->IPVersion = value;
}

void TNetTCPClientCustom::SetConnectTimeout(int value) {
    FConnectTimeout = value;
    if (FIOHandler) FIOHandler->ConnectTimeout = value;
}

int TNetTCPClientCustom::ReadTimeout() const { return FIOHandler ? FIOHandler->ReadTimeout : FReadTimeout; }

void TNetTCPClientCustom::SetReadTimeout(int value) {
    FReadTimeout = value;
    if (FIOHandler) FIOHandler->ReadTimeout = value;
}

void TNetTCPClientCustom::SetBoundIP(const std::string &value) {
    FBoundIP = value;
    if (FSocket) FSocket->BoundIP = value;
}

void TNetTCPClientCustom::SetBoundPort(int value) {
    FBoundPort = value;
    if (FSocket) FSocket->BoundPort = value;
}

void TNetTCPClientCustom::SetOnBeforeBind(std::function<void(TNetIOHandlerSocket *)> handler) {
    FOnBeforeBind = std::move(handler);
    if (FSocket) FSocket->OnBeforeBind = FOnBeforeBind;
}

void TNetTCPClientCustom::SetOnAfterBind(std::function<void(TNetIOHandlerSocket *)> handler) {
    FOnAfterBind = std::move(handler);
    if (FSocket) FSocket->OnAfterBind = FOnAfterBind;
}

TNetIOHandler *TNetTCPClientCustom::MakeImplicitClientHandler() { return TNetIOHandler::MakeDefaultIOHandler(this); }

void TNetTCPClientCustom::DoOnConnected() {
    if (OnConnected) OnConnected(this);
}

void TNetTCPClientCustom::Connect() {
    if (Connected()) ENetAlreadyConnected::Toss("Already connected.");
    if (FHost.empty()) ENetHostRequired::Toss("");
    if (FPort == 0) ENetPortRequired::Toss("");
    if (!FIOHandler) {
        TNetIOHandler *h = MakeImplicitClientHandler();
        SetIOHandler(h);
        h->OnStatus = OnStatus;
        FManagedIOHandler = true;
    }
    if (!Destination.empty()) FIOHandler->SetDestination(Destination);
    CopySettingsToHandler();
    FIOHandler->Open();
    if (FIOHandler->Intercept()) FIOHandler->Intercept()->Connect(this);
    DoStatus(hsConnected);
    DoOnConnected();
}

std::string TNetTCPClientCustom::ConnectAndGetAll() {
    Connect();
    std::string all;
    try {
        all = FIOHandler->AllData();
    } catch (...) {
        try {
            Disconnect(false);
        } catch (...) {
        }
        throw;
    }
    DisconnectAndNotify();
    return all;
}
