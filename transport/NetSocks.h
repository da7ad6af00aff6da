// Proxies a TCP connection can run through: the abstract transparent proxy
// with its chain, and SOCKS 4, 4A and 5 (RFC 1928, with RFC 1929 user name
// and password) for outgoing connections, bind and listen, and the SOCKS 5
// UDP relay.
//
// The socket IO handler holds the proxy: it connects to the proxy instead of
// the server and then asks the proxy to open the tunnel to the server.
#pragma once

#include <string>

#include "NetIOHandlerStack.h"

class TNetCustomTransparentProxy : public TNetComponent {
public:
    ~TNetCustomTransparentProxy() override;
    const char *ClassName() const override { return "TNetCustomTransparentProxy"; }
    void Notification(TNetInitializerComponent *comp, TOperation operation) override;

    std::string Host;
    std::string Password;
    int Port = 0;
    TNetIPVersion IPVersion = Net_IPv4;
    std::string Username;

    TNetCustomTransparentProxy *ChainedProxy() const { return FChainedProxy; }
    // ENetTransparentProxyCircularLink "<class>: Circular links are not
    // allowed" when the chain from value leads back to this proxy; the chain
    // is then left as it was. Freeing the chained proxy clears the link.
    void SetChainedProxy(TNetCustomTransparentProxy *value);
    // Copies Host, Password, Port, IPVersion and Username (not the chain).
    virtual void Assign(const TNetCustomTransparentProxy &source);
    // A new proxy of the same class, owned by owner: the copy an IO handler
    // keeps of an ownerless proxy given to it.
    virtual TNetCustomTransparentProxy *MakeNew(TNetInitializerComponent *owner) const = 0;

    virtual bool Enabled() const = 0;
    // Opens the tunnel to host and port on a handler connected to this
    // proxy: through the chained proxy (when set and enabled) first, which
    // then opens the tunnel to the destination, and so on down the chain.
    void Connect(TNetIOHandler *io, const std::string &host, int port, TNetIPVersion ipVersion);
    virtual void MakeConnection(TNetIOHandler *io, const std::string &host, int port, TNetIPVersion ipVersion) = 0;

    // The UDP relay: udpBinding is the caller's datagram socket, left
    // connected to the relay. The base raises
    // ENetTransparentProxyUDPNotSupported "UDP Not supported by this proxy.".
    virtual void OpenUDPAssociation(TNetSocketHandle &udpBinding);
    virtual void CloseUDPAssociation();
    // One datagram through the relay to host and port.
    virtual void SendUDP(TNetSocketHandle &udpBinding, const std::string &host, int port, TNetIPVersion ipVersion,
                         const TNetBytes &data);
    // One datagram within timeout ms: its data at the start of buffer (at
    // most buffer.size() bytes), its sender in peerIP and peerPort; the count
    // of data bytes, 0 when nothing came (peerIP "" and peerPort 0).
    virtual int ReceiveUDP(TNetSocketHandle &udpBinding, TNetBytes &buffer, std::string &peerIP, int &peerPort,
                           int timeout);

    // Connects io straight to the proxy and has the proxy listen for host
    // and port; the binding's local address then tells where it listens.
    // The base raises ENetTransparentProxyCantBind "Transparent proxy cannot
    // bind.".
    virtual void Bind(TNetIOHandlerSocket *io, const std::string &host, int port, TNetIPVersion ipVersion);
    // True when the proxy announced the peer within timeout ms (-2: no
    // limit); the binding's peer address then tells who connected.
    virtual bool Listen(TNetIOHandlerSocket *io, int timeout);

protected:
    explicit TNetCustomTransparentProxy(TNetInitializerComponent *owner) : TNetComponent(owner) {}

private:
    TNetCustomTransparentProxy *FChainedProxy = nullptr;
};

enum TSocksVersion { svNoSocks, svSocks4, svSocks4A, svSocks5 };
enum TSocksAuthentication { saNoAuthentication, saUsernamePassword };

// Every answer of a SOCKS server is waited for at most the connection's
// ReadTimeout, or where that sets no limit its ConnectTimeout, or this long.
constexpr int NetSocksDefaultAnswerWait = 120000;

class TNetSocksInfo : public TNetCustomTransparentProxy {
public:
    const char *ClassName() const override { return "TNetSocksInfo"; }
    void InitComponent() override;

    TSocksVersion Version = svNoSocks;
    TSocksAuthentication Authentication = saNoAuthentication;

    // Also copies Version and Authentication: a copy without them would
    // not be enabled, and a handler given it would connect straight to the
    // server.
    void Assign(const TNetCustomTransparentProxy &source) override;
    TNetCustomTransparentProxy *MakeNew(TNetInitializerComponent *owner) const override;
    bool Enabled() const override;
    void MakeConnection(TNetIOHandler *io, const std::string &host, int port, TNetIPVersion ipVersion) override;
    void OpenUDPAssociation(TNetSocketHandle &udpBinding) override;
    void CloseUDPAssociation() override;
    void SendUDP(TNetSocketHandle &udpBinding, const std::string &host, int port, TNetIPVersion ipVersion,
                 const TNetBytes &data) override;
    int ReceiveUDP(TNetSocketHandle &udpBinding, TNetBytes &buffer, std::string &peerIP, int &peerPort,
                   int timeout) override;
    void Bind(TNetIOHandlerSocket *io, const std::string &host, int port, TNetIPVersion ipVersion) override;
    bool Listen(TNetIOHandlerSocket *io, int timeout) override;

    // The control connection of a SOCKS 5 UDP association.
    TNetIOHandlerStack *ControlHandler() const { return FControlHandler; }

protected:
    explicit TNetSocksInfo(TNetInitializerComponent *owner) : TNetCustomTransparentProxy(owner) {}

    void MakeSocks4Request(TNetIOHandler *io, const std::string &host, int port, uint8_t command);
    void MakeSocks4Connection(TNetIOHandler *io, const std::string &host, int port);
    void MakeSocks4Bind(TNetIOHandlerSocket *io, const std::string &host, int port);
    bool MakeSocks4Listen(TNetIOHandlerSocket *io);
    // The method negotiation (and the user name and password).
    void AuthenticateSocks5Connection(TNetIOHandler *io);
    void MakeSocks5Request(TNetIOHandler *io, const std::string &host, int port, uint8_t command);
    void MakeSocks5Connection(TNetIOHandler *io, const std::string &host, int port);
    void MakeSocks5Bind(TNetIOHandlerSocket *io, const std::string &host, int port);
    bool MakeSocks5Listen(TNetIOHandlerSocket *io);
    // Connects io straight to the proxy through a client of its own, with
    // the handler's proxy put aside meanwhile (never freed) and set back.
    void ConnectStraightToProxy(TNetIOHandlerSocket *io);

private:
    TNetIOHandlerStack *FControlHandler = nullptr;
};

// ---------------------------------------------------------------------------
// The wire formats, apart from the sockets so that they can be checked alone.

// The address part of a SOCKS 5 request or UDP header for a host text: type
// 4 and 16 bytes for an IPv6 address, type 1 and 4 bytes for a dotted IPv4
// address, otherwise type 3, the length and the name (a name over 255 bytes
// is ENetRangeException "Range check error"), then the port.
TNetBytes SocksAddressBytes(const std::string &host, int port);
// The number of bytes an address of type takes after the type byte (address
// and port), given the byte that follows the type (a name's length); -1 for
// a type other than 1, 3 and 4.
int SocksAddressSize(uint8_t type, uint8_t firstByte);
// Decodes an address of type from bytes at index at (address and port):
// type 1 a dotted IPv4 text, type 4 an IPv6 text, type 3 the name as it
// stands (IPVersion then left as given). False when the bytes are too few or
// the type unknown.
bool SocksDecodeAddress(const TNetBytes &bytes, size_t at, uint8_t type, std::string &ip, int &port,
                        TNetIPVersion &ipVersion);
// A datagram for the relay: the UDP header for host and port, then data.
TNetBytes SocksMakeUDPDatagram(const std::string &host, int port, const TNetBytes &data);
// Takes the header off a received datagram: its sender and where its data
// begins. False, with nothing changed, when the datagram is shorter than its
// header. Types other than 1 and 3 are read as type 4.
bool SocksDecodeUDPDatagram(const TNetBytes &datagram, std::string &ip, int &port, size_t &dataStart);
