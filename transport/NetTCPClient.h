// The client side of a connection: host, port, local binding, IP version,
// connect and read time-outs, the default socket IO handler, and Connect.
#pragma once

#include "NetTCPConnection.h"

class TNetTCPClientCustom : public TNetTCPConnection {
public:
    const char *ClassName() const override { return "TNetTCPClientCustom"; }
    void InitComponent() override;
    void SetIOHandler(TNetIOHandler *handler) override;

    // Each setter stores the value and passes it to the current handler.
    const std::string &Host() const { return FHost; }
    virtual void SetHost(const std::string &value);
    int Port() const { return FPort; }
    virtual void SetPort(int value);
    TNetIPVersion IPVersion() const { return FIPVersion; }
    virtual void SetIPVersion(TNetIPVersion value);
    int ConnectTimeout() const { return FConnectTimeout; }
    void SetConnectTimeout(int value);
    // The handler's value when there is a handler.
    int ReadTimeout() const;
    void SetReadTimeout(int value);
    const std::string &BoundIP() const { return FBoundIP; }
    void SetBoundIP(const std::string &value);
    int BoundPort() const { return FBoundPort; }
    void SetBoundPort(int value);
    int BoundPortMin = 0;
    int BoundPortMax = 0;
    std::string Destination;
    void SetOnBeforeBind(std::function<void(TNetIOHandlerSocket *)> handler);
    void SetOnAfterBind(std::function<void(TNetIOHandlerSocket *)> handler);

    // Held for the protocol clients, which send them at log-in.
    std::string Username;
    std::string Password;

    std::function<void(TNetTCPClientCustom *sender)> OnConnected;

    // "Already connected.", ENetHostRequired and ENetPortRequired before any
    // network work; then whatever resolving and connecting raise.
    virtual void Connect();
    // Connect, read until the peer closes, disconnect.
    virtual std::string ConnectAndGetAll();

protected:
    explicit TNetTCPClientCustom(TNetInitializerComponent *owner) : TNetTCPConnection(owner) {}
    virtual void DoOnConnected();
    virtual TNetIOHandler *MakeImplicitClientHandler();
    void CopySettingsToHandler();

    std::string FHost;
    int FPort = 0;
    TNetIPVersion FIPVersion = Net_IPv4;
    int FConnectTimeout = 0;
    int FReadTimeout = -1;
    std::string FBoundIP;
    int FBoundPort = 0;
    std::function<void(TNetIOHandlerSocket *)> FOnBeforeBind;
    std::function<void(TNetIOHandlerSocket *)> FOnAfterBind;
};

class TNetTCPClient : public TNetTCPClientCustom {
public:
    const char *ClassName() const override { return "TNetTCPClient"; }

protected:
    explicit TNetTCPClient(TNetInitializerComponent *owner) : TNetTCPClientCustom(owner) {}
};
