// SOCKS proxies: the wire formats, the proxy components and the handler's
// hold on its proxy, scripted proxies for the exact bytes and for what real
// servers will not do, and dante and microsocks for real tunnels, binds and
// UDP relaying.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include "NetIOHandlerStack.h"
#include "NetSocks.h"
#include "NetTCPClient.h"
#include "ScriptedPeer.h"
#include "SocksServers.h"
#include "TransportTestUtil.h"

namespace {
std::string S(const std::string &b) { return ScriptedPeer::Send(b); }
std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += char(uint8_t(b));
    return s;
}
std::string Str(const TNetBytes &b) { return std::string(b.begin(), b.end()); }
TNetBytes Bytes(const std::string &s) { return TNetBytes(s.begin(), s.end()); }
std::string Read(const std::string &n) { return "read:" + n; }

// A client whose handler goes through its own SOCKS proxy at port.
struct ProxiedClient {
    ProxiedClient(int proxyPort, TSocksVersion version, const std::string &host = "127.0.0.1", int port = 110) {
        Client = NetCreateNoOwner<TTestTCPClient>();
        IO = NetCreate<TNetIOHandlerStack>(Client.get());
        Client->SetIOHandler(IO);
        Socks = dynamic_cast<TNetSocksInfo *>(IO->TransparentProxy());
        Socks->Host = "127.0.0.1";
        Socks->Port = proxyPort;
        Socks->Version = version;
        Client->SetHost(host);
        Client->SetPort(port);
        Client->SetConnectTimeout(5000);
        Client->SetReadTimeout(5000);
    }
    class TTestTCPClient : public TNetTCPClient {
    protected:
        using TNetTCPClient::TNetTCPClient;
    };
    std::unique_ptr<TTestTCPClient> Client;
    TNetIOHandlerStack *IO = nullptr;
    TNetSocksInfo *Socks = nullptr;
};

// What the server at the far end of the tunnel says, after the proxy's
// steps.
const std::string kGreeting = "+OK ready\r\n";

class TTestProxy : public TNetCustomTransparentProxy {
public:
    bool Enabled() const override { return true; }
    TNetCustomTransparentProxy *MakeNew(TNetInitializerComponent *owner) const override {
        return NetCreate<TTestProxy>(owner);
    }
    void MakeConnection(TNetIOHandler *, const std::string &, int, TNetIPVersion) override {}

protected:
    using TNetCustomTransparentProxy::TNetCustomTransparentProxy;
};
}  // namespace

// ---------------------------------------------------------------------------
TEST(SocksWire, AddressesAndUDPHeaders) {
    EXPECT_EQ(Str(SocksAddressBytes("10.1.2.3", 53)), B({1, 10, 1, 2, 3, 0, 53}));
    EXPECT_EQ(Str(SocksAddressBytes("::1", 8080)), B({4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 31, 144}));
    EXPECT_EQ(Str(SocksAddressBytes("mailhost", 110)), B({3, 8}) + "mailhost" + B({0, 110}));
    // Not four decimal numbers: a name for the proxy to resolve.
    EXPECT_EQ(Str(SocksAddressBytes("10.1", 1)), B({3, 4}) + "10.1" + B({0, 1}));
    EXPECT_EQ(SocksAddressBytes(std::string(255, 'a'), 1).size(), 259u);
    EXPECT_EQ(Thrown<ENetRangeException>([] { SocksAddressBytes(std::string(256, 'a'), 1); }), "Range check error");
    EXPECT_EQ(Thrown<ENetRangeException>([] { SocksAddressBytes("10.0.0.1", 65536); }), "Range check error");

    EXPECT_EQ(Str(SocksMakeUDPDatagram("10.1.2.3", 53, Bytes("abc"))),
              B({0, 0, 0, 1, 10, 1, 2, 3, 0, 53}) + "abc");
    EXPECT_EQ(Str(SocksMakeUDPDatagram("mailhost", 110, Bytes("xy"))),
              B({0, 0, 0, 3, 8}) + "mailhost" + B({0, 110}) + "xy");

    std::string ip = "relay";
    int port = 7;
    size_t start = 0;
    ASSERT_TRUE(SocksDecodeUDPDatagram(Bytes(B({0, 0, 0, 1, 192, 168, 0, 9, 4, 1}) + "data"), ip, port, start));
    EXPECT_EQ(ip, "192.168.0.9");
    EXPECT_EQ(port, 1025);
    EXPECT_EQ(start, 10u);
    // A name is taken as it stands; a fragment number is not looked at.
    ASSERT_TRUE(SocksDecodeUDPDatagram(Bytes(B({0, 0, 9, 3, 2}) + "mx" + B({0, 25})), ip, port, start));
    EXPECT_EQ(ip, "mx");
    EXPECT_EQ(port, 25);
    EXPECT_EQ(start, 9u);
    // An unknown type reads as IPv6.
    TNetBytes six = Bytes(B({0, 0, 0, 9}) + std::string(15, '\0') + B({1, 0, 80}));
    ASSERT_TRUE(SocksDecodeUDPDatagram(six, ip, port, start));
    EXPECT_EQ(ip, "0000:0000:0000:0000:0000:0000:0000:0001");
    EXPECT_EQ(port, 80);

    // Too short for the header: nothing decoded, nothing changed.
    ip = "relay";
    port = 7;
    for (const std::string &shortOne : {B({0, 0, 0, 1}), B({0, 0, 0, 3, 5}) + "abcde" + B({0}),
                                        B({0, 0, 0, 1, 1, 2, 3, 4, 0}), B({0, 0, 0, 4, 1, 2, 3})}) {
        EXPECT_FALSE(SocksDecodeUDPDatagram(Bytes(shortOne), ip, port, start)) << shortOne.size();
        EXPECT_EQ(ip, "relay");
        EXPECT_EQ(port, 7);
    }
}

// ---------------------------------------------------------------------------
TEST(SocksProxy, ChainsAndCopies) {
    auto a = NetCreateNoOwner<TNetSocksInfo>();
    auto b = NetCreateNoOwner<TNetSocksInfo>();
    EXPECT_EQ(a->Port, 1080);
    EXPECT_EQ(a->IPVersion, Net_IPv4);
    EXPECT_EQ(a->Version, svNoSocks);
    EXPECT_FALSE(a->Enabled());
    a->Version = svSocks4A;
    EXPECT_TRUE(a->Enabled());

    EXPECT_EQ(Thrown<ENetTransparentProxyCircularLink>([&] { a->SetChainedProxy(a.get()); }),
              "TNetSocksInfo: Circular links are not allowed");
    a->SetChainedProxy(b.get());
    EXPECT_EQ(Thrown<ENetTransparentProxyCircularLink>([&] { b->SetChainedProxy(a.get()); }),
              "TNetSocksInfo: Circular links are not allowed");
    EXPECT_EQ(b->ChainedProxy(), nullptr);
    {
        auto c = NetCreateNoOwner<TNetSocksInfo>();
        b->SetChainedProxy(c.get());
        EXPECT_THROW(c->SetChainedProxy(a.get()), ENetTransparentProxyCircularLink);
        EXPECT_EQ(c->ChainedProxy(), nullptr);
    }
    EXPECT_EQ(b->ChainedProxy(), nullptr);  // freed: the link is gone
    a.reset();
    EXPECT_NO_THROW(b->SetChainedProxy(nullptr));

    auto src = NetCreateNoOwner<TNetSocksInfo>();
    src->Host = "proxy";
    src->Port = 9050;
    src->Username = "u";
    src->Password = "p";
    src->IPVersion = Net_IPv6;
    src->Version = svSocks5;
    src->Authentication = saUsernamePassword;
    src->SetChainedProxy(b.get());
    auto dst = NetCreateNoOwner<TNetSocksInfo>();
    dst->Assign(*src);
    EXPECT_EQ(dst->Host, "proxy");
    EXPECT_EQ(dst->Port, 9050);
    EXPECT_EQ(dst->Username, "u");
    EXPECT_EQ(dst->Password, "p");
    EXPECT_EQ(dst->IPVersion, Net_IPv6);
    EXPECT_EQ(dst->Version, svSocks5);
    EXPECT_EQ(dst->Authentication, saUsernamePassword);
    EXPECT_EQ(dst->ChainedProxy(), nullptr);
}

TEST(SocksProxy, HandlerOwnsSharesOrCopiesItsProxy) {
    auto io = NetCreateNoOwner<TNetIOHandlerStack>();
    EXPECT_FALSE(io->UsesTransparentProxy());
    auto *own = io->TransparentProxy();
    ASSERT_NE(dynamic_cast<TNetSocksInfo *>(own), nullptr);
    EXPECT_FALSE(io->UsesTransparentProxy());
    EXPECT_EQ(io->TransparentProxy(), own);

    // An ownerless proxy is copied into the handler's own of that class.
    auto loose = NetCreateNoOwner<TNetSocksInfo>();
    auto next = NetCreateNoOwner<TNetSocksInfo>();
    loose->Host = "p1";
    loose->Version = svSocks5;
    loose->SetChainedProxy(next.get());
    io->SetTransparentProxy(loose.get());
    EXPECT_EQ(io->TransparentProxy(), own);
    EXPECT_EQ(own->Host, "p1");
    EXPECT_EQ(own->ChainedProxy(), next.get());  // the route stays whole
    EXPECT_TRUE(io->UsesTransparentProxy());
    loose.reset();
    EXPECT_EQ(io->TransparentProxy(), own);
    next.reset();
    EXPECT_EQ(own->ChainedProxy(), nullptr);

    // One with an owner is shared, and forgotten when freed.
    auto form = NetCreateNoOwner<TNetSocksInfo>();  // stands for a form
    auto *shared = NetCreate<TNetSocksInfo>(form.get());
    io->SetTransparentProxy(shared);
    EXPECT_EQ(io->TransparentProxy(), shared);
    delete shared;
    EXPECT_FALSE(io->UsesTransparentProxy());

    // A copy of another class replaces the handler's own.
    auto other = NetCreateNoOwner<TTestProxy>();
    other->Host = "p2";
    io->SetTransparentProxy(other.get());
    ASSERT_NE(dynamic_cast<TTestProxy *>(io->TransparentProxy()), nullptr);
    EXPECT_EQ(io->TransparentProxy()->Host, "p2");
    io->SetTransparentProxy(nullptr);
    EXPECT_FALSE(io->UsesTransparentProxy());
}

TEST(SocksProxy, WhatABaseProxyOrSocks4CannotDo) {
    auto base = NetCreateNoOwner<TTestProxy>();
    TNetSocketHandle udp;
    TNetBytes buf(10);
    std::string ip;
    int port = 0;
    EXPECT_EQ(Thrown<ENetTransparentProxyUDPNotSupported>([&] { base->OpenUDPAssociation(udp); }),
              "UDP Not supported by this proxy.");
    EXPECT_THROW(base->CloseUDPAssociation(), ENetTransparentProxyUDPNotSupported);
    EXPECT_THROW(base->SendUDP(udp, "h", 1, Net_IPv4, buf), ENetTransparentProxyUDPNotSupported);
    EXPECT_THROW(base->ReceiveUDP(udp, buf, ip, port, 0), ENetTransparentProxyUDPNotSupported);
    auto io = NetCreateNoOwner<TNetIOHandlerStack>();
    EXPECT_EQ(Thrown<ENetTransparentProxyCantBind>([&] { base->Bind(io.get(), "h", 1, Net_IPv4); }),
              "Transparent proxy cannot bind.");
    EXPECT_THROW(base->Listen(io.get(), 0), ENetTransparentProxyCantBind);

    // SOCKS 4 has no UDP: refused before anything is sent.
    auto socks = NetCreateNoOwner<TNetSocksInfo>();
    socks->Host = "127.0.0.1";
    socks->Port = RefusingPort();
    for (TSocksVersion v : {svSocks4, svSocks4A}) {
        socks->Version = v;
        EXPECT_EQ(Thrown<ENetSocksUDPNotSupportedBySOCKSVersion>([&] { socks->OpenUDPAssociation(udp); }),
                  "UDP is not support in this SOCKS version.");
        EXPECT_THROW(socks->SendUDP(udp, "h", 1, Net_IPv4, buf), ENetSocksUDPNotSupportedBySOCKSVersion);
        EXPECT_THROW(socks->ReceiveUDP(udp, buf, ip, port, 0), ENetSocksUDPNotSupportedBySOCKSVersion);
        EXPECT_THROW(socks->CloseUDPAssociation(), ENetSocksUDPNotSupportedBySOCKSVersion);
    }
    EXPECT_FALSE(socks->ControlHandler()->Connected());
    // Without a version nothing happens at all.
    socks->Version = svNoSocks;
    EXPECT_NO_THROW(socks->OpenUDPAssociation(udp));
    EXPECT_NO_THROW(socks->Bind(io.get(), "h", 1, Net_IPv4));
    EXPECT_FALSE(socks->Listen(io.get(), 0));
}

// ---------------------------------------------------------------------------
TEST(SocksScripted, Socks4And4ARequestsAndReplies) {
    {
        ScriptedPeer peer({Read("13"), S(B({0, 90, 0, 0, 0, 0, 0, 0}) + kGreeting), "wait_close"});
        ProxiedClient c(peer.Port(), svSocks4, "127.0.0.1", 110);
        c.Socks->Username = "fred";
        c.Client->Connect();
        EXPECT_EQ(c.IO->ReadLn(), "+OK ready");
        c.Client->Disconnect();
        EXPECT_EQ(peer.Received(), B({4, 1, 0, 110, 127, 0, 0, 1}) + "fred" + B({0}));
    }
    {
        // 4A: the address 0.0.0.1, the empty user's 0, then the name.
        ScriptedPeer peer({Read("22"), S(B({0, 90, 0, 0, 0, 0, 0, 0}) + kGreeting), "wait_close"});
        ProxiedClient c(peer.Port(), svSocks4A, "mail.example", 995);
        c.Client->Connect();
        EXPECT_EQ(c.IO->ReadLn(), "+OK ready");
        c.Client->Disconnect();
        EXPECT_EQ(peer.Received(), B({4, 1, 3, 227, 0, 0, 0, 1, 0}) + "mail.example" + B({0}));
    }
    const std::pair<int, std::string> refusals[] = {
        {91, "Request rejected or failed."},
        {92, "Request rejected because SOCKS server cannot connect."},
        {93, "Request rejected because the client program and identd report different user-ids."},
        {0, "Unknown socks error."},
        {94, "Unknown socks error."}};
    for (const auto &[code, text] : refusals) {
        SCOPED_TRACE(code);
        ScriptedPeer peer({Read("9"), S(B({0, code, 0, 0, 0, 0, 0, 0})), "wait_close"});
        ProxiedClient c(peer.Port(), svSocks4);
        EXPECT_EQ(Thrown<ENetSocksError>([&] { c.Client->Connect(); }), text);
        EXPECT_FALSE(c.Client->Connected());
        EXPECT_FALSE(c.IO->BindingAllocated());
    }
    {
        // A reply cut short ends in the connection's own error.
        ScriptedPeer peer({Read("9"), S(B({0, 90, 0})), "close"});
        ProxiedClient c(peer.Port(), svSocks4);
        EXPECT_THROW(c.Client->Connect(), ENetConnClosedGracefully);
        EXPECT_FALSE(c.IO->BindingAllocated());
    }
    {
        // A port past 65535 goes nowhere.
        ScriptedPeer peer({"wait_close"});
        ProxiedClient c(peer.Port(), svSocks4);
        c.Client->SetPort(70000);
        EXPECT_EQ(Thrown<ENetRangeException>([&] { c.Client->Connect(); }), "Range check error");
        EXPECT_FALSE(c.IO->BindingAllocated());
        EXPECT_EQ(peer.Received(), "");
    }
}

TEST(SocksScripted, Socks5RequestsAndAuthentication) {
    {
        // A name goes as a name; the reply's bound address is a name too.
        ScriptedPeer peer({Read("3"), S(B({5, 0})), Read("19"),
                           S(B({5, 0, 0, 3, 6}) + "relay1" + B({4, 1}) + kGreeting), "wait_close"});
        ProxiedClient c(peer.Port(), svSocks5, "mail.example", 143);
        c.Client->Connect();
        EXPECT_EQ(c.IO->ReadLn(), "+OK ready");
        c.Client->Disconnect();
        EXPECT_EQ(peer.Received(), B({5, 1, 0, 5, 1, 0, 3, 12}) + "mail.example" + B({0, 143}));
    }
    {
        // User name and an empty password; an IPv6 reply address.
        ScriptedPeer peer({Read("3"), S(B({5, 2})), Read("8"), S(B({1, 0})), Read("22"),
                           S(B({5, 0, 0, 4}) + std::string(15, '\0') + B({1, 0, 25}) + kGreeting), "wait_close"});
        ProxiedClient c(peer.Port(), svSocks5, "::1", 993);
        c.Socks->Authentication = saUsernamePassword;
        c.Socks->Username = "alice";
        c.Client->Connect();
        EXPECT_EQ(c.IO->ReadLn(), "+OK ready");
        c.Client->Disconnect();
        EXPECT_EQ(peer.Received(), B({5, 1, 2, 1, 5}) + "alice" + B({0, 5, 1, 0, 4}) + std::string(15, '\0') +
                                       B({1, 3, 225}));
    }
    const std::pair<std::vector<std::string>, std::string> failures[] = {
        {{Read("3"), S(B({5, 0xFF})), "wait_close"}, "Invalid socks authentication method."},
        {{Read("3"), S(B({5, 2})), "wait_close"}, "Invalid socks authentication method."},
        // Not a SOCKS 5 server at all.
        {{Read("3"), S("HTTP/1.0 400\r\n"), "wait_close"}, "Socks server did not respond."},
        {{Read("3"), S(B({5, 0})), Read("10"), S(B({4, 0, 0, 1, 1, 2, 3, 4, 0, 1})), "wait_close"},
         "Socks server did not respond."},
        // Cut short in the greeting, in the reply, in the bound address.
        {{Read("3"), S(B({5})), "close"}, "Socks server did not respond."},
        {{Read("3"), S(B({5, 0})), Read("10"), S(B({5, 0, 0})), "close"}, "Socks server did not respond."},
        {{Read("3"), S(B({5, 0})), Read("10"), S(B({5, 0, 0, 1, 127, 0})), "close"},
         "Socks server did not respond."},
        {{Read("3"), S(B({5, 0})), Read("10"), S(B({5, 0, 0, 3, 200, 1, 2})), "close"},
         "Socks server did not respond."},
        // An address type we cannot size: the rest is never read as data.
        {{Read("3"), S(B({5, 0})), Read("10"), S(B({5, 0, 0, 7, 1, 2, 3, 4, 0, 1}) + kGreeting), "wait_close"},
         "Address type not supported."},
        {{Read("3"), "close"}, "Socks server did not respond."},
    };
    for (const auto &[steps, text] : failures) {
        SCOPED_TRACE(steps[1]);
        ScriptedPeer peer(steps);
        ProxiedClient c(peer.Port(), svSocks5);
        EXPECT_EQ(Thrown<ENetSocksError>([&] { c.Client->Connect(); }), text);
        EXPECT_FALSE(c.IO->BindingAllocated());
    }
    const char *replies[] = {"",
                             "General SOCKS server failure.",
                             "Connection not allowed by ruleset.",
                             "Network unreachable.",
                             "Host unreachable.",
                             "Connection refused.",
                             "TTL expired.",
                             "Command not supported.",
                             "Address type not supported.",
                             "Unknown socks error."};
    for (int code = 1; code <= 9; ++code) {
        SCOPED_TRACE(code);
        ScriptedPeer refusing({Read("3"), S(B({5, 0})), Read("10"), S(B({5, code, 0, 1, 0, 0, 0, 0, 0, 0})),
                               "wait_close"});
        ProxiedClient c(refusing.Port(), svSocks5);
        EXPECT_EQ(Thrown<ENetSocksError>([&] { c.Client->Connect(); }), replies[code]);
    }
    {
        ScriptedPeer peer({Read("3"), S(B({5, 2})), Read("6"), S(B({1, 1})), "wait_close"});
        ProxiedClient c(peer.Port(), svSocks5);
        c.Socks->Authentication = saUsernamePassword;
        c.Socks->Username = "bob";
        c.Socks->Password = "x";
        EXPECT_EQ(Thrown<ENetSocksAuthError>([&] { c.Client->Connect(); }), "Authentication error to socks server.");
    }
    for (int which = 0; which < 2; ++which) {
        // A length that does not fit its byte is refused before a byte goes.
        ScriptedPeer peer({"wait_close"});
        ProxiedClient c(peer.Port(), svSocks5);
        c.Socks->Authentication = saUsernamePassword;
        (which ? c.Socks->Password : c.Socks->Username) = std::string(256, 'u');
        EXPECT_EQ(Thrown<ENetRangeException>([&] { c.Client->Connect(); }), "Range check error");
        EXPECT_FALSE(c.IO->BindingAllocated());
        EXPECT_EQ(peer.Received(), "");
    }
}

TEST(SocksScripted, SilentProxyIsGivenUpWhileTheWindowLives) {
    GuiAntiFreeze gui;
    for (int readTimeout : {300, 0}) {
        SCOPED_TRACE(readTimeout);
        ScriptedPeer peer({Read("3"), "sleep:3000", "close"});
        ProxiedClient c(peer.Port(), svSocks5);
        // Without a read limit the connect time-out bounds the answer.
        c.Client->SetReadTimeout(readTimeout);
        c.Client->SetConnectTimeout(readTimeout ? 5000 : 300);
        TickCounter ticks;
        EXPECT_EQ(Thrown<ENetSocksServerRespondError>([&] { c.Client->Connect(); }), "Socks server did not respond.");
        EXPECT_GT(ticks.Ticks, 3);
        EXPECT_FALSE(c.IO->BindingAllocated());
        EXPECT_EQ(c.IO->ReadTimeout, readTimeout);
    }
}

TEST(SocksScripted, ChainedProxiesOpenEachHop) {
    // The first proxy (SOCKS 5) opens a tunnel to the second (SOCKS 4),
    // which opens one to the server: one peer plays both proxies.
    ScriptedPeer peer({Read("3"), S(B({5, 0})), Read("10"), S(B({5, 0, 0, 1, 127, 0, 0, 1, 0, 25})), Read("9"),
                       S(B({0, 90, 0, 0, 0, 0, 0, 0}) + kGreeting), "wait_close"});
    ProxiedClient c(peer.Port(), svSocks5, "127.0.0.2", 110);
    auto form = NetCreateNoOwner<TNetSocksInfo>();
    auto *second = NetCreate<TNetSocksInfo>(form.get());
    second->Host = "10.9.8.7";
    second->Port = 1081;
    second->Version = svSocks4;
    c.Socks->SetChainedProxy(second);
    c.Client->Connect();
    EXPECT_EQ(c.IO->ReadLn(), "+OK ready");
    c.Client->Disconnect();
    EXPECT_EQ(peer.Received(),
              B({5, 1, 0, 5, 1, 0, 1, 10, 9, 8, 7, 4, 57}) + B({4, 1, 0, 110, 127, 0, 0, 2, 0}));
}

TEST(SocksScripted, BindAndListen) {
    {
        ScriptedPeer peer({Read("9"), S(B({0, 90, 0, 21, 127, 0, 0, 1})), "sleep:300",
                           S(B({0, 90, 4, 1, 10, 0, 0, 2}) + kGreeting), "wait_close"});
        auto io = NetCreateNoOwner<TNetIOHandlerStack>();
        io->ReadTimeout = 4000;
        auto *socks = dynamic_cast<TNetSocksInfo *>(io->TransparentProxy());
        socks->Host = "127.0.0.1";
        socks->Port = peer.Port();
        socks->Version = svSocks4;
        socks->Bind(io.get(), "127.0.0.1", 21, Net_IPv4);
        // The handler's own proxy lived through the bind and is back.
        EXPECT_EQ(io->TransparentProxy(), socks);
        EXPECT_EQ(io->ReadTimeout, 4000);
        EXPECT_EQ(io->Binding()->IP, "127.0.0.1");
        EXPECT_EQ(io->Binding()->Port, 21);
        std::string peerBefore = io->Binding()->PeerIP();
        EXPECT_FALSE(socks->Listen(io.get(), 0));  // nothing yet, nothing read
        EXPECT_EQ(io->Binding()->PeerIP(), peerBefore);
        ASSERT_TRUE(socks->Listen(io.get(), 4000));
        EXPECT_EQ(io->Binding()->PeerIP(), "10.0.0.2");
        EXPECT_EQ(io->Binding()->PeerPort(), 1025);
        EXPECT_EQ(io->ReadLn(), "+OK ready");
        io->Close();
        EXPECT_EQ(peer.Received(), B({4, 2, 0, 21, 127, 0, 0, 1, 0}));
    }
    {
        // SOCKS 5: both answers in one go; the second waits in the buffer.
        ScriptedPeer peer({Read("3"), S(B({5, 0})), Read("10"),
                           S(B({5, 0, 0, 1, 10, 0, 0, 1, 31, 144}) + B({5, 0, 0, 3, 9}) + "localhost" + B({0, 99})),
                           "wait_close"});
        auto io = NetCreateNoOwner<TNetIOHandlerStack>();
        auto socks = NetCreateNoOwner<TNetSocksInfo>();
        socks->Host = "127.0.0.1";
        socks->Port = peer.Port();
        socks->Version = svSocks5;
        socks->Bind(io.get(), "10.0.0.5", 0, Net_IPv4);
        EXPECT_EQ(io->Binding()->IP, "10.0.0.1");
        EXPECT_EQ(io->Binding()->Port, 8080);
        EXPECT_EQ(io->Binding()->IPVersion(), Net_IPv4);
        ASSERT_TRUE(socks->Listen(io.get(), 0));
        EXPECT_EQ(io->Binding()->PeerIP(), "127.0.0.1");
        EXPECT_EQ(io->Binding()->PeerPort(), 99);
        io->Close();
    }
    {
        ScriptedPeer peer({Read("3"), S(B({5, 0})), Read("10"), S(B({5, 7, 0, 1, 0, 0, 0, 0, 0, 0})), "wait_close"});
        auto io = NetCreateNoOwner<TNetIOHandlerStack>();
        auto socks = NetCreateNoOwner<TNetSocksInfo>();
        socks->Host = "127.0.0.1";
        socks->Port = peer.Port();
        socks->Version = svSocks5;
        EXPECT_EQ(Thrown<ENetSocksServerCommandError>([&] { socks->Bind(io.get(), "10.0.0.5", 0, Net_IPv4); }),
                  "Command not supported.");
    }
}

// ---------------------------------------------------------------------------
namespace {
// A datagram socket on 127.0.0.1 of the test's own.
struct UdpPeer {
    UdpPeer() {
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr *>(&a), len);
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~UdpPeer() { ::close(fd); }
    void SendTo(int toPort, const std::string &bytes) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(toPort));
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    std::string Receive() {
        char buf[2048];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, size_t(n)) : std::string();
    }
    int fd = -1;
    int port = 0;
};
}  // namespace

TEST(SocksUDP, DatagramsShortAndLong) {
    StackRef stack;
    UdpPeer relay;
    TNetSocketHandle udp;
    udp.AllocateSocket(Net_SOCK_DGRAM, 0);
    udp.IP = "127.0.0.1";
    udp.Bind();
    udp.SetPeer("127.0.0.1", relay.port, Net_IPv4);
    udp.Connect();
    auto socks = NetCreateNoOwner<TNetSocksInfo>();
    socks->Version = svSocks5;

    socks->SendUDP(udp, "10.1.2.3", 53, Net_IPv4, Bytes("abc"));
    EXPECT_EQ(relay.Receive(), B({0, 0, 0, 1, 10, 1, 2, 3, 0, 53}) + "abc");

    TNetBytes buf(8, 'z');
    std::string ip = "x";
    int port = 1;
    EXPECT_EQ(socks->ReceiveUDP(udp, buf, ip, port, 0), 0);  // nothing there
    EXPECT_EQ(ip, "");
    EXPECT_EQ(port, 0);

    relay.SendTo(udp.Port, B({0, 0, 0, 1, 192, 168, 0, 9, 4, 1}) + "data");
    EXPECT_EQ(socks->ReceiveUDP(udp, buf, ip, port, 2000), 4);
    EXPECT_EQ(ip, "192.168.0.9");
    EXPECT_EQ(port, 1025);
    EXPECT_EQ(Str(buf), "datazzzz");

    // More than the buffer holds: cut to it, nothing written past it.
    relay.SendTo(udp.Port, B({0, 0, 0, 1, 127, 0, 0, 1, 0, 7}) + std::string(100, 'L'));
    EXPECT_EQ(socks->ReceiveUDP(udp, buf, ip, port, 2000), 8);
    EXPECT_EQ(Str(buf), std::string(8, 'L'));
    EXPECT_EQ(buf.size(), 8u);

    // Too short for its header: the sender stays the relay, no data.
    for (const std::string &shortOne : {B({0, 0, 0, 1}), B({0, 0, 0, 1, 10, 0, 0, 1, 0}), B({0, 0, 0, 3, 9, 'a'})}) {
        buf.assign(8, 'z');
        relay.SendTo(udp.Port, shortOne);
        EXPECT_EQ(socks->ReceiveUDP(udp, buf, ip, port, 2000), 0);
        EXPECT_EQ(ip, "127.0.0.1");
        EXPECT_EQ(port, relay.port);
        EXPECT_EQ(Str(buf), std::string(8, 'z'));
    }
}

// ---------------------------------------------------------------------------
namespace {
// A server behind the proxy: greets, answers one line, waits for the close.
std::vector<std::string> ServerTalk() {
    return {S(kGreeting), "readline", S("+OK got it\r\n"), "wait_close"};
}

// Connects through the proxy, talks to the server and checks what it got.
void TalkThrough(ProxiedClient &c, ScriptedPeer &server) {
    c.Client->Connect();
    EXPECT_EQ(c.IO->ReadLn(), "+OK ready");
    c.IO->WriteLn("NOOP through the tunnel");
    EXPECT_EQ(c.IO->ReadLn(), "+OK got it");
    c.Client->Disconnect();
    EXPECT_EQ(server.Received(), "NOOP through the tunnel\r\n");
}
}  // namespace

TEST(SocksReal, DanteConnectsBindsAndRelays) {
    if (auto why = DanteServer::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    DanteServer dante;
    for (TSocksVersion v : {svSocks4, svSocks5}) {
        SCOPED_TRACE(v);
        ScriptedPeer server(ServerTalk());
        ProxiedClient c(dante.Port(), v, "127.0.0.1", server.Port());
        TalkThrough(c, server);
    }
    {
        ScriptedPeer server(ServerTalk());
        ProxiedClient c(dante.Port(), svSocks5, "localhost", server.Port());  // the proxy resolves it
        TalkThrough(c, server);
    }
    {
        ProxiedClient c(dante.Port(), svSocks5, "127.0.0.1", RefusingPort());
        EXPECT_EQ(Thrown<ENetSocksServerConnectionRefusedError>([&] { c.Client->Connect(); }),
                  "Connection refused.");
        ProxiedClient c4(dante.Port(), svSocks4, "127.0.0.1", RefusingPort());
        EXPECT_EQ(Thrown<ENetSocksRequestFailed>([&] { c4.Client->Connect(); }), "Request rejected or failed.");
        EXPECT_FALSE(c4.IO->BindingAllocated());
    }
    {
        // This dante takes no user names and refuses the method.
        ProxiedClient c(dante.Port(), svSocks5);
        c.Socks->Authentication = saUsernamePassword;
        c.Socks->Username = "u";
        EXPECT_EQ(Thrown<ENetSocksAuthMethodError>([&] { c.Client->Connect(); }),
                  "Invalid socks authentication method.");
    }
    for (TSocksVersion v : {svSocks4, svSocks5}) {
        // The proxy listens for us; a peer connects to it; the bytes flow.
        SCOPED_TRACE(v);
        auto io = NetCreateNoOwner<TNetIOHandlerStack>();
        io->ReadTimeout = 5000;
        auto *socks = dynamic_cast<TNetSocksInfo *>(io->TransparentProxy());
        socks->Host = dante.Host();
        socks->Port = dante.Port();
        socks->Version = v;
        socks->Bind(io.get(), "127.0.0.1", 0, Net_IPv4);
        EXPECT_EQ(io->TransparentProxy(), socks);
        ASSERT_GT(io->Binding()->Port, 0) << dante.LogText();
        EXPECT_FALSE(socks->Listen(io.get(), 0));
        int peer = ConnectLoopback("127.0.0.1", io->Binding()->Port);
        ASSERT_GE(peer, 0);
        ASSERT_TRUE(socks->Listen(io.get(), 5000)) << dante.LogText();
        EXPECT_EQ(io->Binding()->PeerIP(), "127.0.0.1");
        EXPECT_GT(io->Binding()->PeerPort(), 0);
        WriteAll(peer, "hello from the peer\r\n");
        EXPECT_EQ(io->ReadLn(), "hello from the peer");
        io->WriteLn("and back");
        char buf[64];
        ssize_t n = ::recv(peer, buf, sizeof buf, 0);
        EXPECT_EQ(std::string(buf, size_t(std::max<ssize_t>(n, 0))), "and back\r\n");
        ::close(peer);
        io->Close();
    }
    {
        UdpPeer echo;
        auto socks = NetCreateNoOwner<TNetSocksInfo>();
        socks->Host = dante.Host();
        socks->Port = dante.Port();
        socks->Version = svSocks5;
        TNetSocketHandle udp;
        udp.AllocateSocket(Net_SOCK_DGRAM, 0);
        socks->OpenUDPAssociation(udp);
        EXPECT_TRUE(socks->ControlHandler()->Connected());
        EXPECT_EQ(udp.PeerIP(), "127.0.0.1");
        socks->SendUDP(udp, "127.0.0.1", echo.port, Net_IPv4, Bytes("ping"));
        // The echo peer answers whoever sent: the relay.
        sockaddr_in from{};
        socklen_t len = sizeof from;
        char buf[64];
        ssize_t n = ::recvfrom(echo.fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &len);
        ASSERT_EQ(std::string(buf, size_t(std::max<ssize_t>(n, 0))), "ping") << dante.LogText();
        ::sendto(echo.fd, "pong!", 5, 0, reinterpret_cast<sockaddr *>(&from), len);
        TNetBytes in(64);
        std::string ip;
        int port = 0;
        EXPECT_EQ(socks->ReceiveUDP(udp, in, ip, port, 5000), 5);
        EXPECT_EQ(Str(in).substr(0, 5), "pong!");
        EXPECT_EQ(ip, "127.0.0.1");
        EXPECT_EQ(port, echo.port);
        socks->CloseUDPAssociation();
        EXPECT_FALSE(socks->ControlHandler()->Connected());
    }
}

TEST(SocksReal, UserNamesAndPasswords) {
    if (auto why = MicrosocksServer::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    {
        MicrosocksServer micro("mailuser", "p\xC3\xA4ss word");
        ScriptedPeer server(ServerTalk());
        ProxiedClient c(micro.Port(), svSocks5, "127.0.0.1", server.Port());
        c.Socks->Authentication = saUsernamePassword;
        c.Socks->Username = "mailuser";
        c.Socks->Password = "p\xC3\xA4ss word";
        TalkThrough(c, server);
        c.Socks->Password = "wrong";
        EXPECT_EQ(Thrown<ENetSocksAuthError>([&] { c.Client->Connect(); }), "Authentication error to socks server.");
        c.Socks->Authentication = saNoAuthentication;
        EXPECT_EQ(Thrown<ENetSocksAuthMethodError>([&] { c.Client->Connect(); }),
                  "Invalid socks authentication method.");
    }
    if (auto why = DanteServer::Unavailable(true); !why.empty()) GTEST_SKIP() << why;
    DanteServer::Options o;
    o.UserPassword = true;
    DanteServer dante(o);
    ScriptedPeer server(ServerTalk());
    ProxiedClient c(dante.Port(), svSocks5, "127.0.0.1", server.Port());
    c.Socks->Authentication = saUsernamePassword;
    c.Socks->Username = DanteServer::UserName();
    c.Socks->Password = DanteServer::Password();
    TalkThrough(c, server);
    c.Socks->Password = "nope";
    EXPECT_EQ(Thrown<ENetSocksAuthError>([&] { c.Client->Connect(); }), "Authentication error to socks server.");
}
