#include "NetSocks.h"

#include <algorithm>

#include "NetIOHandlerStack.h"
#include "NetIPAddress.h"
#include "NetStack.h"
#include "NetTCPClient.h"

namespace {
[[noreturn]] void RaiseRange() { throw ENetRangeException("Range check error"); }

void CheckPort(int port) {
    if (port < 0 || port > 65535) RaiseRange();
}

void AppendPort(TNetBytes &bytes, int port) {
    bytes.push_back(uint8_t(port >> 8));
    bytes.push_back(uint8_t(port & 0xFF));
}

int PortAt(const TNetBytes &bytes, size_t at) { return (int(bytes[at]) << 8) | int(bytes[at + 1]); }

// Sends one message to the proxy as a single block.
void SendMessage(TNetIOHandler *io, const TNetBytes &bytes) {
    io->Write(bytes);
    if (io->WriteBufferingActive()) io->WriteBufferFlush();
}

// Reads exactly count bytes of the proxy's answer. A handler without a read
// limit would wait for a silent proxy for ever: its answer is then given
// the connect time-out, or two minutes.
void ReadAnswer(TNetIOHandler *io, TNetBytes &out, int count) {
    const int saved = io->ReadTimeout;
    if (saved <= 0) io->ReadTimeout = io->ConnectTimeout > 0 ? io->ConnectTimeout : NetSocksDefaultAnswerWait;
    try {
        io->ReadBytes(out, count, true);
    } catch (...) {
        io->ReadTimeout = saved;
        throw;
    }
    io->ReadTimeout = saved;
}

// The same, where any failure to get the answer means the server did not
// respond.
void ReadAnswerOrNoResponse(TNetIOHandler *io, TNetBytes &out, int count) {
    try {
        ReadAnswer(io, out, count);
    } catch (const Exception &) {
        ENetSocksServerRespondError::Toss("Socks server did not respond.");
    }
}

// A SOCKS 5 answer that does not begin with version 5 comes from something
// else than a SOCKS 5 server; reading on would take its bytes for ours.
void CheckSocks5Version(uint8_t version) {
    if (version != 5) ENetSocksServerRespondError::Toss("Socks server did not respond.");
}

void CheckSocks4Result(uint8_t code) {
    switch (code) {
    case 90: return;
    case 91: ENetSocksRequestFailed::Toss("Request rejected or failed.");
    case 92: ENetSocksRequestServerFailed::Toss("Request rejected because SOCKS server cannot connect.");
    case 93:
        ENetSocksRequestIdentFailed::Toss(
            "Request rejected because the client program and identd report different user-ids.");
    default: ENetSocksUnknownError::Toss("Unknown socks error.");
    }
}

void CheckSocks5Reply(uint8_t code) {
    switch (code) {
    case 0: return;
    case 1: ENetSocksServerGeneralError::Toss("General SOCKS server failure.");
    case 2: ENetSocksServerPermissionError::Toss("Connection not allowed by ruleset.");
    case 3: ENetSocksServerNetUnreachableError::Toss("Network unreachable.");
    case 4: ENetSocksServerHostUnreachableError::Toss("Host unreachable.");
    case 5: ENetSocksServerConnectionRefusedError::Toss("Connection refused.");
    case 6: ENetSocksServerTTLExpiredError::Toss("TTL expired.");
    case 7: ENetSocksServerCommandError::Toss("Command not supported.");
    case 8: ENetSocksServerAddressError::Toss("Address type not supported.");
    default: ENetSocksUnknownError::Toss("Unknown socks error.");
    }
}

// Bytes we cannot size leave the rest of the answer unread and the
// connection out of step.
void CheckAddressType(uint8_t type) {
    if (type != 1 && type != 3 && type != 4) ENetSocksServerAddressError::Toss("Address type not supported.");
}

// Reads the address of a reply whose type byte came already; a name is
// resolved in the handler's IP version.
void ReadReplyAddress(TNetIOHandler *io, uint8_t type, std::string &ip, int &port, TNetIPVersion &version,
                      TNetIPVersion nameVersion) {
    TNetBytes addr;
    if (type == 3) {
        ReadAnswer(io, addr, 1);
        ReadAnswer(io, addr, int(addr[0]) + 2);
    } else {
        ReadAnswer(io, addr, SocksAddressSize(type, 0));
    }
    version = nameVersion;
    if (!SocksDecodeAddress(addr, 0, type, ip, port, version))
        ENetSocksServerAddressError::Toss("Address type not supported.");
    if (type == 3) ip = GStack->ResolveHost(ip, nameVersion);
}
}  // namespace

// ---------------------------------------------------------------------------
TNetBytes SocksAddressBytes(const std::string &host, int port) {
    CheckPort(port);
    TNetBytes b;
    if (!CanonicalIPv6Text(host).empty()) {
        uint16_t words[8];
        ParseIPv6Words(host, words);
        b.push_back(4);
        for (uint16_t w : words) {
            b.push_back(uint8_t(w >> 8));
            b.push_back(uint8_t(w & 0xFF));
        }
    } else if (TNetStack::IsIP(host)) {
        b.push_back(1);
        std::string rest = host;
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(StrToIntDef(Fetch(rest, "."), 0)));
    } else {
        if (host.size() > 255) RaiseRange();
        b.push_back(3);
        b.push_back(uint8_t(host.size()));
        b.insert(b.end(), host.begin(), host.end());
    }
    AppendPort(b, port);
    return b;
}

int SocksAddressSize(uint8_t type, uint8_t firstByte) {
    switch (type) {
    case 1: return 4 + 2;
    case 3: return 1 + int(firstByte) + 2;
    case 4: return 16 + 2;
    default: return -1;
    }
}

bool SocksDecodeAddress(const TNetBytes &bytes, size_t at, uint8_t type, std::string &ip, int &port,
                        TNetIPVersion &ipVersion) {
    if (at >= bytes.size()) return false;
    const int size = SocksAddressSize(type, bytes[at]);
    if (size < 0 || bytes.size() - at < size_t(size)) return false;
    switch (type) {
    case 1:
        ip = Format("%d.%d.%d.%d", bytes[at], bytes[at + 1], bytes[at + 2], bytes[at + 3]);
        port = PortAt(bytes, at + 4);
        ipVersion = Net_IPv4;
        return true;
    case 4: {
        uint16_t words[8];
        for (size_t i = 0; i < 8; ++i) words[i] = uint16_t((bytes[at + 2 * i] << 8) | bytes[at + 2 * i + 1]);
        ip = IPv6WordsToText(words);
        port = PortAt(bytes, at + 16);
        ipVersion = Net_IPv6;
        return true;
    }
    default: {
        const size_t n = bytes[at];
        ip.assign(reinterpret_cast<const char *>(bytes.data() + at + 1), n);
        port = PortAt(bytes, at + 1 + n);
        return true;
    }
    }
}

TNetBytes SocksMakeUDPDatagram(const std::string &host, int port, const TNetBytes &data) {
    TNetBytes d{0, 0, 0};
    AppendBytes(d, SocksAddressBytes(host, port));
    AppendBytes(d, data);
    return d;
}

bool SocksDecodeUDPDatagram(const TNetBytes &datagram, std::string &ip, int &port, size_t &dataStart) {
    // The fragment byte is not looked at: datagrams are never fragmented.
    if (datagram.size() < 5) return false;
    uint8_t type = datagram[3];
    if (type != 1 && type != 3) type = 4;
    std::string i;
    int p = 0;
    TNetIPVersion v = Net_IPv4;
    if (!SocksDecodeAddress(datagram, 4, type, i, p, v)) return false;
    ip = i;
    port = p;
    dataStart = 4 + size_t(SocksAddressSize(type, datagram[4]));
    return true;
}

// ---------------------------------------------------------------------------
TNetCustomTransparentProxy::~TNetCustomTransparentProxy() = default;

void TNetCustomTransparentProxy::Notification(TNetInitializerComponent *comp, TOperation operation) {
    TNetComponent::Notification(comp, operation);
    if (operation == opRemove && comp == FChainedProxy) FChainedProxy = nullptr;
}

void TNetCustomTransparentProxy::SetChainedProxy(TNetCustomTransparentProxy *value) {
    if (value == FChainedProxy) return;
    for (TNetCustomTransparentProxy *p = value; p; p = p->FChainedProxy)
        if (p == this)
            ENetTransparentProxyCircularLink::Toss(std::string(ClassName()) + ": Circular links are not allowed");
    if (FChainedProxy) RemoveFreeNotification(FChainedProxy);
    FChainedProxy = value;
    if (FChainedProxy) FreeNotification(FChainedProxy);
}

void TNetCustomTransparentProxy::Assign(const TNetCustomTransparentProxy &source) {
    if (&source == this) return;
    Host = source.Host;
    Password = source.Password;
    Port = source.Port;
    IPVersion = source.IPVersion;
    Username = source.Username;
}

void TNetCustomTransparentProxy::Connect(TNetIOHandler *io, const std::string &host, int port,
                                         TNetIPVersion ipVersion) {
    if (FChainedProxy && FChainedProxy->Enabled()) {
        MakeConnection(io, FChainedProxy->Host, FChainedProxy->Port, FChainedProxy->IPVersion);
        FChainedProxy->Connect(io, host, port, ipVersion);
    } else {
        MakeConnection(io, host, port, ipVersion);
    }
}

void TNetCustomTransparentProxy::OpenUDPAssociation(TNetSocketHandle &) {
    ENetTransparentProxyUDPNotSupported::Toss("UDP Not supported by this proxy.");
}

void TNetCustomTransparentProxy::CloseUDPAssociation() {
    ENetTransparentProxyUDPNotSupported::Toss("UDP Not supported by this proxy.");
}

void TNetCustomTransparentProxy::SendUDP(TNetSocketHandle &, const std::string &, int, TNetIPVersion,
                                         const TNetBytes &) {
    ENetTransparentProxyUDPNotSupported::Toss("UDP Not supported by this proxy.");
}

int TNetCustomTransparentProxy::ReceiveUDP(TNetSocketHandle &, TNetBytes &, std::string &, int &, int) {
    ENetTransparentProxyUDPNotSupported::Toss("UDP Not supported by this proxy.");
}

void TNetCustomTransparentProxy::Bind(TNetIOHandlerSocket *, const std::string &, int, TNetIPVersion) {
    ENetTransparentProxyCantBind::Toss("Transparent proxy cannot bind.");
}

bool TNetCustomTransparentProxy::Listen(TNetIOHandlerSocket *, int) {
    ENetTransparentProxyCantBind::Toss("Transparent proxy cannot bind.");
}

// ---------------------------------------------------------------------------
void TNetSocksInfo::InitComponent() {
    TNetCustomTransparentProxy::InitComponent();
    Port = 1080;
    IPVersion = Net_IPv4;
    Version = svNoSocks;
    Authentication = saNoAuthentication;
    FControlHandler = NetCreate<TNetIOHandlerStack>(this);
}

void TNetSocksInfo::Assign(const TNetCustomTransparentProxy &source) {
    TNetCustomTransparentProxy::Assign(source);
    if (auto *s = dynamic_cast<const TNetSocksInfo *>(&source)) {
        Version = s->Version;
        Authentication = s->Authentication;
    }
}

TNetCustomTransparentProxy *TNetSocksInfo::MakeNew(TNetInitializerComponent *owner) const {
    return NetCreate<TNetSocksInfo>(owner);
}

bool TNetSocksInfo::Enabled() const { return Version == svSocks4 || Version == svSocks4A || Version == svSocks5; }

void TNetSocksInfo::MakeConnection(TNetIOHandler *io, const std::string &host, int port, TNetIPVersion) {
    switch (Version) {
    case svSocks4:
    case svSocks4A: MakeSocks4Connection(io, host, port); break;
    case svSocks5: MakeSocks5Connection(io, host, port); break;
    default: break;
    }
}

// --- SOCKS 4 and 4A ----------------------------------------------------------
void TNetSocksInfo::MakeSocks4Request(TNetIOHandler *io, const std::string &host, int port, uint8_t command) {
    CheckPort(port);
    TNetBytes req{4, command};
    AppendPort(req, port);
    std::string ip = Version == svSocks4A ? std::string("0.0.0.1") : GStack->ResolveHost(host, Net_IPv4);
    for (int i = 0; i < 4; ++i) req.push_back(uint8_t(StrToIntDef(Fetch(ip, "."), 0)));
    req.insert(req.end(), Username.begin(), Username.end());
    req.push_back(0);
    if (Version == svSocks4A) {
        req.insert(req.end(), host.begin(), host.end());
        req.push_back(0);
    }
    SendMessage(io, req);
}

void TNetSocksInfo::MakeSocks4Connection(TNetIOHandler *io, const std::string &host, int port) {
    MakeSocks4Request(io, host, port, 1);
    TNetBytes reply;
    ReadAnswer(io, reply, 8);
    CheckSocks4Result(reply[1]);
}

void TNetSocksInfo::MakeSocks4Bind(TNetIOHandlerSocket *io, const std::string &host, int port) {
    MakeSocks4Request(io, host, port, 2);
    TNetBytes reply;
    ReadAnswer(io, reply, 2);
    CheckSocks4Result(reply[1]);
    TNetBytes addr;
    ReadAnswerOrNoResponse(io, addr, 6);
    io->Binding()->SetBinding(Format("%d.%d.%d.%d", addr[2], addr[3], addr[4], addr[5]), PortAt(addr, 0),
                              Net_IPv4);
}

bool TNetSocksInfo::MakeSocks4Listen(TNetIOHandlerSocket *io) {
    TNetBytes reply;
    ReadAnswer(io, reply, 2);
    CheckSocks4Result(reply[1]);
    TNetBytes addr;
    ReadAnswer(io, addr, 6);
    io->Binding()->SetPeer(Format("%d.%d.%d.%d", addr[2], addr[3], addr[4], addr[5]), PortAt(addr, 0), Net_IPv4);
    return true;
}

// --- SOCKS 5 -------------------------------------------------------------------
void TNetSocksInfo::AuthenticateSocks5Connection(TNetIOHandler *io) {
    const bool userPass = Authentication == saUsernamePassword;
    // Each length goes in one byte: a longer text would be cut there and
    // its rest taken by the server for the next field.
    if (userPass && (Username.size() > 255 || Password.size() > 255)) RaiseRange();
    const uint8_t method = userPass ? 2 : 0;
    SendMessage(io, TNetBytes{5, 1, method});
    TNetBytes reply;
    ReadAnswerOrNoResponse(io, reply, 2);
    CheckSocks5Version(reply[0]);
    if (reply[1] == 0xFF || reply[1] != method) ENetSocksAuthMethodError::Toss("Invalid socks authentication method.");
    if (!userPass) return;
    TNetBytes auth{1, uint8_t(Username.size())};
    auth.insert(auth.end(), Username.begin(), Username.end());
    auth.push_back(uint8_t(Password.size()));
    auth.insert(auth.end(), Password.begin(), Password.end());
    SendMessage(io, auth);
    reply.clear();
    ReadAnswerOrNoResponse(io, reply, 2);
    if (reply[1] != 0) ENetSocksAuthError::Toss("Authentication error to socks server.");
}

void TNetSocksInfo::MakeSocks5Request(TNetIOHandler *io, const std::string &host, int port, uint8_t command) {
    TNetBytes req{5, command, 0};
    AppendBytes(req, SocksAddressBytes(host, port));
    SendMessage(io, req);
}

void TNetSocksInfo::MakeSocks5Connection(TNetIOHandler *io, const std::string &host, int port) {
    // A bad port or name is refused before anything goes to the proxy.
    SocksAddressBytes(host, port);
    AuthenticateSocks5Connection(io);
    MakeSocks5Request(io, host, port, 1);
    TNetBytes reply;
    ReadAnswerOrNoResponse(io, reply, 5);
    CheckSocks5Version(reply[0]);
    CheckSocks5Reply(reply[1]);
    CheckAddressType(reply[3]);
    // The rest of the bound address, which a connect does not use.
    TNetBytes rest;
    ReadAnswerOrNoResponse(io, rest, SocksAddressSize(reply[3], reply[4]) - 1);
}

void TNetSocksInfo::MakeSocks5Bind(TNetIOHandlerSocket *io, const std::string &host, int port) {
    AuthenticateSocks5Connection(io);
    MakeSocks5Request(io, host, port, 2);
    TNetBytes reply;
    ReadAnswerOrNoResponse(io, reply, 4);
    CheckSocks5Version(reply[0]);
    CheckSocks5Reply(reply[1]);
    CheckAddressType(reply[3]);
    std::string ip;
    int p = 0;
    TNetIPVersion v = Net_IPv4;
    try {
        ReadReplyAddress(io, reply[3], ip, p, v, io->IPVersion);
    } catch (const Exception &) {
        ENetSocksServerRespondError::Toss("Socks server did not respond.");
    }
    io->Binding()->SetBinding(ip, p, v);
}

bool TNetSocksInfo::MakeSocks5Listen(TNetIOHandlerSocket *io) {
    TNetBytes reply;
    ReadAnswer(io, reply, 4);
    CheckSocks5Version(reply[0]);
    CheckSocks5Reply(reply[1]);
    uint8_t type = reply[3];
    if (type != 1 && type != 3) type = 4;
    std::string ip;
    int p = 0;
    TNetIPVersion v = Net_IPv4;
    ReadReplyAddress(io, type, ip, p, v, io->IPVersion);
    io->Binding()->SetPeer(ip, p, v);
    return true;
}

// --- bind and listen -----------------------------------------------------------
void TNetSocksInfo::ConnectStraightToProxy(TNetIOHandlerSocket *io) {
    bool owned = false;
    TNetCustomTransparentProxy *held = io->DetachTransparentProxy(owned);
    TNetComponent *workTarget = io->WorkTarget();
    auto client = NetCreateNoOwner<TNetTCPClient>();
    // The client hands its settings to the handler: they are the handler's own.
    client->SetConnectTimeout(io->ConnectTimeout);
    client->SetReadTimeout(io->ReadTimeout);
    client->SetBoundIP(io->BoundIP);
    client->SetBoundPort(io->BoundPort);
    client->BoundPortMin = io->BoundPortMin;
    client->BoundPortMax = io->BoundPortMax;
    client->SetOnBeforeBind(io->OnBeforeBind);
    client->SetOnAfterBind(io->OnAfterBind);
    client->SetIPVersion(IPVersion);
    client->SetHost(Host);
    client->SetPort(Port);
    auto restore = [&] {
        try {
            client->SetIOHandler(nullptr);
        } catch (...) {
        }
        io->SetWorkTarget(workTarget);
        io->AttachTransparentProxy(held, owned);
    };
    try {
        client->SetIOHandler(io);
        client->Connect();
    } catch (...) {
        restore();
        throw;
    }
    restore();
}

void TNetSocksInfo::Bind(TNetIOHandlerSocket *io, const std::string &host, int port, TNetIPVersion) {
    if (Version == svNoSocks) return;
    CheckPort(port);
    if (Version == svSocks5) SocksAddressBytes(host, port);
    ConnectStraightToProxy(io);
    if (Version == svSocks5)
        MakeSocks5Bind(io, host, port);
    else
        MakeSocks4Bind(io, host, port);
}

bool TNetSocksInfo::Listen(TNetIOHandlerSocket *io, int timeout) {
    if (Version == svNoSocks) return false;
    if (!io->Binding()) ENetConnClosedGracefully::Toss("Connection Closed Gracefully.");
    // The announcement may have come with the bind's answer already.
    if (io->InputBufferIsEmpty() && !io->Binding()->Readable(timeout)) return false;
    return Version == svSocks5 ? MakeSocks5Listen(io) : MakeSocks4Listen(io);
}

// --- UDP -------------------------------------------------------------------------
void TNetSocksInfo::OpenUDPAssociation(TNetSocketHandle &udpBinding) {
    if (Version == svSocks4 || Version == svSocks4A)
        ENetSocksUDPNotSupportedBySOCKSVersion::Toss("UDP is not support in this SOCKS version.");
    if (Version == svNoSocks) return;
    FControlHandler->SetHost(Host);
    FControlHandler->SetPort(Port);
    FControlHandler->IPVersion = IPVersion;
    FControlHandler->Open();
    try {
        AuthenticateSocks5Connection(FControlHandler);
        MakeSocks5Request(FControlHandler, IPVersion == Net_IPv4 ? "0.0.0.0" : "::0", 0, 3);
        TNetBytes reply;
        ReadAnswerOrNoResponse(FControlHandler, reply, 2);
        CheckSocks5Version(reply[0]);
        CheckSocks5Reply(reply[1]);
        ReadAnswer(FControlHandler, reply, 2);
        const uint8_t type = reply[3];
        CheckAddressType(type);
        try {
            std::string ip;
            int port = 0;
            TNetIPVersion v = IPVersion;
            TNetBytes addr;
            if (type == 3) {
                ReadAnswer(FControlHandler, addr, 1);
                ReadAnswer(FControlHandler, addr, int(addr[0]) + 2);
            } else {
                ReadAnswer(FControlHandler, addr, SocksAddressSize(type, 0));
            }
            SocksDecodeAddress(addr, 0, type, ip, port, v);
            // The relay is the proxy as the control connection reaches it:
            // the reply's address may be one we cannot reach.
            udpBinding.SetPeer(FControlHandler->Binding()->PeerIP(), port,
                               type == 1 ? Net_IPv4 : type == 4 ? Net_IPv6 : IPVersion);
            udpBinding.Connect();
        } catch (const Exception &) {
            ENetSocksServerRespondError::Toss("Socks server did not respond.");
        }
    } catch (...) {
        try {
            FControlHandler->Close();
        } catch (...) {
        }
        throw;
    }
}

void TNetSocksInfo::CloseUDPAssociation() {
    if (Version == svSocks4 || Version == svSocks4A)
        ENetSocksUDPNotSupportedBySOCKSVersion::Toss("UDP is not support in this SOCKS version.");
    if (Version == svNoSocks) return;
    FControlHandler->Close();
}

void TNetSocksInfo::SendUDP(TNetSocketHandle &udpBinding, const std::string &host, int port, TNetIPVersion,
                            const TNetBytes &data) {
    if (Version == svSocks4 || Version == svSocks4A)
        ENetSocksUDPNotSupportedBySOCKSVersion::Toss("UDP is not support in this SOCKS version.");
    TNetBytes datagram = SocksMakeUDPDatagram(host, port, data);
    udpBinding.Send(datagram, 0, int(datagram.size()));
}

int TNetSocksInfo::ReceiveUDP(TNetSocketHandle &udpBinding, TNetBytes &buffer, std::string &peerIP, int &peerPort,
                              int timeout) {
    if (Version == svSocks4 || Version == svSocks4A)
        ENetSocksUDPNotSupportedBySOCKSVersion::Toss("UDP is not support in this SOCKS version.");
    TNetBytes datagram(buffer.size() + 200);
    if (!udpBinding.Readable(timeout)) {
        peerIP.clear();
        peerPort = 0;
        return 0;
    }
    const int got = udpBinding.RecvFrom(datagram, peerIP, peerPort, Net_IPv4);
    datagram.resize(size_t(std::max(got, 0)));
    size_t start = 0;
    // A datagram too short for its header carries nothing we can trust.
    if (!SocksDecodeUDPDatagram(datagram, peerIP, peerPort, start)) return 0;
    // Never more than the caller's buffer holds.
    const size_t n = std::min(datagram.size() - start, buffer.size());
    std::copy_n(datagram.begin() + std::ptrdiff_t(start), n, buffer.begin());
    return int(n);
}
