// POP3 and IMAP4 sessions to Dovecot through real SOCKS proxies (dante and
// microsocks on loopback), plain and over TLS: what comes back must equal
// what a direct session to the same mailbox reads.
#include "DovecotServer.h"
#include "dovecot_suite.h"
#include "NetIMAP4.h"
#include "NetPOP3.h"
#include "NetSSLOpenSSL.h"
#include "NetSocks.h"
#include "SocksServers.h"

#include <gtest/gtest.h>

namespace {

const int kMessages = 9;

// Every header block of the mailbox, in order, as the client read it.
using Headers = std::vector<std::string>;

struct Proxy {
    TSocksVersion Version = svSocks5;
    int Port = 0;
    std::string User, Password;
};

// An ownerless proxy: the handler keeps a copy of its own.
std::unique_ptr<TNetSocksInfo> MakeProxy(const Proxy &p) {
    auto s = NetCreateNoOwner<TNetSocksInfo>();
    s->Host = "127.0.0.1";
    s->Port = p.Port;
    s->Version = p.Version;
    if (!p.User.empty()) {
        s->Authentication = saUsernamePassword;
        s->Username = p.User;
        s->Password = p.Password;
    }
    return s;
}

class SocksDovecot : public DovecotSuite<SocksDovecot> {
protected:
    static void SetUpTestSuite() {
        DovecotServer::Options o;
        o.Users = {{"proxied", "pw-proxied"}};
        if (!StartDovecot(o)) return;
        Server->FillMailbox("proxied", kMessages);
        if (DanteServer::Unavailable().empty()) Dante = new DanteServer();
        if (MicrosocksServer::Unavailable().empty()) Micro = new MicrosocksServer("sockuser", "sock pass");
    }
    static void TearDownTestSuite() {
        delete Dante;
        Dante = nullptr;
        delete Micro;
        Micro = nullptr;
        DovecotSuite::TearDownTestSuite();
    }

    // POP3 to host:port (TLS implicit, explicit or none) through the proxy
    // (none when its port is 0): the header blocks by TOP n 0.
    Headers Pop3(const Proxy &proxy, TNetUseTLS tls, const std::string &host = "127.0.0.1") {
        auto pop = NetCreateNoOwner<TNetPOP3>();
        TNetIOHandlerSocket *io;
        if (tls == utNoTLSSupport)
            io = NetCreate<TNetIOHandlerStack>(pop.get());
        else
            io = NetCreate<TNetSSLIOHandlerSocketOpenSSL>(pop.get());
        pop->SetIOHandler(io);
        pop->SetUseTLS(tls);
        if (proxy.Port) io->SetTransparentProxy(MakeProxy(proxy).get());
        pop->SetHost(host);
        pop->SetPort(tls == utUseImplicitTLS ? Server->Pop3sPort() : Server->Pop3Port());
        pop->SetConnectTimeout(5000);
        pop->SetReadTimeout(10000);
        pop->Username = "proxied";
        pop->Password = "pw-proxied";
        pop->Connect();
        if (tls != utNoTLSSupport) {
            auto *h = dynamic_cast<TNetSSLIOHandlerSocketOpenSSL *>(pop->IOHandler());
            EXPECT_NE(h->SSLSocket(), nullptr);
        }
        if (proxy.Port) {
            EXPECT_EQ(io->Binding()->PeerPort(), proxy.Port);
        }
        Headers out;
        auto msg = NetCreateNoOwner<TNetMessage>();
        int count = pop->GetMessageCount();
        for (int n = 1; n <= count; ++n) {
            EXPECT_TRUE(pop->RetrieveHeaders(n, *msg));
            out.push_back(msg->Headers.Text());
        }
        pop->Disconnect();
        return out;
    }

    Headers Imap(const Proxy &proxy, bool tls, const std::string &host = "127.0.0.1") {
        auto imap = NetCreateNoOwner<TNetIMAP4>();
        TNetIOHandlerSocket *io;
        if (tls) {
            io = NetCreate<TNetSSLIOHandlerSocketOpenSSL>(imap.get());
            imap->SetIOHandler(io);
            imap->SetUseTLS(utUseImplicitTLS);
        } else {
            io = NetCreate<TNetIOHandlerStack>(imap.get());
            imap->SetIOHandler(io);
        }
        if (proxy.Port) io->SetTransparentProxy(MakeProxy(proxy).get());
        imap->SetHost(host);
        imap->SetPort(tls ? Server->ImapsPort() : Server->ImapPort());
        imap->SetConnectTimeout(5000);
        imap->SetReadTimeout(10000);
        imap->Username = "proxied";
        imap->Password = "pw-proxied";
        Headers out;
        if (!imap->Connect(true)) {
            ADD_FAILURE() << "no log-in";
            return out;
        }
        if (proxy.Port) {
            EXPECT_EQ(io->Binding()->PeerPort(), proxy.Port);
        }
        EXPECT_TRUE(imap->SelectMailBox("INBOX"));
        auto msg = NetCreateNoOwner<TNetMessage>();
        for (int n = 1; n <= imap->MailBox()->TotalMsgs; ++n) {
            EXPECT_TRUE(imap->RetrieveHeaders(n, *msg));
            out.push_back(msg->Headers.Text());
        }
        imap->Disconnect();
        return out;
    }

    void SetUp() override {
        DovecotSuite::SetUp();
        if (IsSkipped()) return;
        if (!Dante) GTEST_SKIP() << DanteServer::Unavailable();
        if (!Micro) GTEST_SKIP() << MicrosocksServer::Unavailable();
    }

    Proxy DanteProxy(TSocksVersion v = svSocks5) const { return {v, Dante->Port(), "", ""}; }
    Proxy MicroProxy() const { return {svSocks5, Micro->Port(), "sockuser", "sock pass"}; }

    static inline DanteServer *Dante = nullptr;
    static inline MicrosocksServer *Micro = nullptr;
};

TEST_F(SocksDovecot, Pop3ThroughEachProxyReadsWhatADirectSessionReads) {
    Headers direct = Pop3({}, utNoTLSSupport);
    ASSERT_EQ(direct.size(), size_t(kMessages));
    EXPECT_NE(direct[0].find("Message-ID: <msg1@tarnwick.test>"), std::string::npos) << direct[0];
    EXPECT_EQ(Pop3(DanteProxy(svSocks5), utNoTLSSupport), direct);
    EXPECT_EQ(Pop3(DanteProxy(svSocks4), utNoTLSSupport), direct);
    EXPECT_EQ(Pop3(MicroProxy(), utNoTLSSupport), direct);
    // Implicit TLS and STLS run over the tunnel; the certificate is checked
    // against the server's name, which the proxy resolves.
    EXPECT_EQ(Pop3(DanteProxy(), utUseImplicitTLS, "localhost"), direct);
    EXPECT_EQ(Pop3(MicroProxy(), utUseRequireTLS, "localhost"), direct);
}

TEST_F(SocksDovecot, ImapThroughEachProxyReadsWhatADirectSessionReads) {
    Headers direct = Imap({}, false);
    ASSERT_EQ(direct.size(), size_t(kMessages));
    EXPECT_EQ(Imap({}, true), direct);
    EXPECT_EQ(Imap(DanteProxy(), true), direct);
    EXPECT_EQ(Imap(DanteProxy(svSocks4), true), direct);
    EXPECT_EQ(Imap(MicroProxy(), true, "localhost"), direct);
    EXPECT_EQ(Imap(MicroProxy(), false), direct);
}

TEST_F(SocksDovecot, DanteUserNameAndPassword) {
    if (auto why = DanteServer::Unavailable(true); !why.empty()) GTEST_SKIP() << why;
    DanteServer::Options o;
    o.UserPassword = true;
    DanteServer dante(o);
    Headers direct = Pop3({}, utNoTLSSupport);
    EXPECT_EQ(Pop3({svSocks5, dante.Port(), DanteServer::UserName(), DanteServer::Password()}, utUseImplicitTLS),
              direct);
    EXPECT_EQ(Thrown<ENetSocksAuthError>([&] { Pop3({svSocks5, dante.Port(), "proxied", "wrong"}, utNoTLSSupport); }),
              "Authentication error to socks server.");
}

TEST_F(SocksDovecot, AProxyThatRefusesTheServerFailsTheLogIn) {
    // Nothing listens on the server port behind the proxy.
    auto pop = NetCreateNoOwner<TNetPOP3>();
    auto *io = NetCreate<TNetIOHandlerStack>(pop.get());
    pop->SetIOHandler(io);
    io->SetTransparentProxy(MakeProxy(DanteProxy()).get());
    pop->SetHost("127.0.0.1");
    pop->SetPort(1);
    pop->SetReadTimeout(5000);
    EXPECT_EQ(Thrown<ENetSocksServerConnectionRefusedError>([&] { pop->Connect(); }), "Connection refused.");
    EXPECT_FALSE(pop->Connected());
}

}  // namespace
