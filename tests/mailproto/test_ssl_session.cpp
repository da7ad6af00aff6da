// TLS contexts and sessions against real peers on loopback: what a client
// accepts, what it refuses and why, and that nothing waits for ever.
#include "NetAntiFreeze.h"
#include "NetSSLOpenSSL.h"
#include "OpenSSLServer.h"
#include "TestCertNames.h"
#include "TestSupport.h"
#include "TrickleProxy.h"

#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct Recorder : TNetSSLEvents {
    std::vector<std::string> Status;
    std::string Password;
    bool VerifyAnswer = true;
    std::vector<std::string> VerifiedSubjects;

    void DoStatusInfo(const std::string &msg) override { Status.push_back(msg); }
    void DoGetPassword(std::string &password) override { password = Password; }
    bool DoVerifyPeer(TNetX509 *cert, bool aOk) override
    {
        VerifiedSubjects.push_back(cert->Subject()->OneLine());
        return aOk && VerifyAnswer;
    }
    int HandshakeTimeout() const override { return 5000; }
    int WriteTimeout() const override { return 5000; }
};

class SSLSession : public ::testing::Test {
protected:
    static void SetUpTestSuite() { TestPKI::TrustTestCA(); }

    // A client context with the program's own settings unless opts says
    // otherwise: version 2 asked for, mode unassigned, no verify mode, no
    // cipher list.
    std::unique_ptr<TNetSSLContext> Context(Recorder &rec, const TNetSSLOptions &opts = {}, bool status = true,
                                            bool verifyEvent = false)
    {
        auto ctx = std::make_unique<TNetSSLContext>();
        ctx->CopyOptions(opts);
        ctx->Parent = &rec;
        ctx->StatusInfoOn = status;
        ctx->VerifyOn = verifyEvent;
        ctx->InitContext(false);
        return ctx;
    }

    // Runs a client handshake to the port; returns the exception text, or
    // "" when it succeeded.
    std::string Handshake(int port, const std::string &host, Recorder &rec, const TNetSSLOptions &opts = {},
                          bool verifyEvent = false)
    {
        auto ctx = Context(rec, opts, false, verifyEvent);
        int fd = ConnectLoopback("127.0.0.1", port);
        EXPECT_GE(fd, 0);
        std::string result;
        try {
            TNetSSLSocket s(&rec, ctx.get());
            s.Connect(fd, host);
        } catch (const ENetOSSLConnectError &e) {
            result = e.Message();
        }
        close(fd);
        return result;
    }

    const TestPKI &Pki = TestPKI::Get();
    const std::string Failed = "Error connecting with SSL. Certificate verification failed: ";
};

TEST_F(SSLSession, ProgramSettingsMakeAVerifyingTLS12Client)
{
    OpenSSLServer server(Pki.ServerCert, Pki.Key);
    Recorder rec;
    auto ctx = Context(rec);
    EXPECT_EQ(ctx->Mode, sslmClient);  // unassigned becomes client
    EXPECT_EQ(OSSL.SSL_CTX_get_version_suite(ctx->Handle()), OSSL_TLS1_2_VERSION);
    EXPECT_NE(OSSL.SSL_CTX_get_verify_depth(ctx->Handle()), 0);  // the form's 0 is not applied
    int fd = ConnectLoopback("127.0.0.1", server.Port());
    ASSERT_GE(fd, 0);
    {
        TNetSSLSocket s(&rec, ctx.get());
        s.Connect(fd, "localhost");
        EXPECT_EQ(std::count_if(rec.Status.begin(), rec.Status.end(),
                                [](const std::string &m) { return m.rfind("Cipher: name = ", 0) == 0; }),
                  1);
        // The handshake's own steps come through the status relay too.
        ASSERT_FALSE(rec.Status.empty());
        EXPECT_EQ(rec.Status.front().rfind("SSL status: \"", 0), 0u) << rec.Status.front();
        EXPECT_GT(s.Cipher()->Bits(), 0);
        ASSERT_NE(s.PeerCert(), nullptr);
        EXPECT_EQ(s.PeerCert()->Subject()->OneLine(), "/CN=localhost");
        EXPECT_EQ(s.PeerCert()->Issuer()->OneLine(), "/CN=Tarnwick Test CA");
    }
    close(fd);
}

TEST_F(SSLSession, IPAddressMustBeInTheCertificate)
{
    OpenSSLServer server(Pki.ServerCert, Pki.Key);
    Recorder rec;
    EXPECT_EQ(Handshake(server.Port(), "127.0.0.1", rec), "");
    OpenSSLServer other(Pki.WrongHostCert, Pki.Key);
    EXPECT_EQ(Handshake(other.Port(), "127.0.0.1", rec), Failed + "IP address mismatch");
}

TEST_F(SSLSession, HostNameGoesOutForTheServerToChooseItsCertificate)
{
    // The server shows a certificate for another name unless the client
    // names "localhost" in its hello; an address is never sent as a name.
    OpenSSLServer server(Pki.WrongHostCert, Pki.Key,
                         {"-servername", "localhost", "-cert2", Pki.ServerCert, "-key2", Pki.Key});
    Recorder rec;
    EXPECT_EQ(Handshake(server.Port(), "localhost", rec), "");
    EXPECT_EQ(Handshake(server.Port(), "127.0.0.1", rec), Failed + "IP address mismatch");
}

TEST_F(SSLSession, NamesAndDatesTheCertificateMustMatch)
{
    struct Case {
        std::string Cn, San, Host, Expected;
        std::string Start = "", End = "";
    };
    const std::string host = Failed + "hostname mismatch", ip = Failed + "IP address mismatch";
    const std::vector<Case> cases = {
        {"x", "DNS:*.example.com", "mail.example.com", ""},
        // A wildcard stands for one whole label at the left, no more.
        {"x", "DNS:*.example.com", "a.mail.example.com", host},
        {"x", "DNS:*.example.com", "example.com", host},
        {"x", "DNS:*.com", "mail.com", host},
        {"x", "DNS:a.*.example", "a.b.example", host},
        // An address matches only an address entry: no name, no wildcard,
        // no common name.
        {"x", "DNS:*.0.0.1", "127.0.0.1", ip},
        {"x", "DNS:127.0.0.1", "127.0.0.1", ip},
        {"127.0.0.1", "", "127.0.0.1", ip},
        {"x", "IP:127.0.0.1", "localhost", host},
        // A common name is not looked at once the certificate names hosts.
        {"localhost", "DNS:wrong.example", "localhost", host},
        {"x", "DNS:localhost", "localhost", Failed + "certificate is not yet valid", "20991231000000Z",
         "21000101000000Z"},
    };
    for (const Case &c : cases) {
        OpenSSLServer server(IssueTestCert(c.Cn, c.San, c.Start, c.End), Pki.Key);
        Recorder rec;
        EXPECT_EQ(Handshake(server.Port(), c.Host, rec), c.Expected)
            << "CN=" << c.Cn << " " << c.San << " for " << c.Host;
    }
}

TEST_F(SSLSession, ServersBelowTLS12AreRefused)
{
    // The openssl command at this security level does speak these versions
    // with a client that offers them.
    for (const char *version : {"-tls1", "-tls1_1"}) {
        OpenSSLServer server(Pki.ServerCert, Pki.Key, {version, "-cipher", "DEFAULT:@SECLEVEL=0"});
        Recorder rec;
        std::string msg = Handshake(server.Port(), "localhost", rec);
        EXPECT_EQ(msg.rfind("Error connecting with SSL. ", 0), 0u) << version << ": " << msg;
    }
}

TEST_F(SSLSession, EveryModeAndVerifySettingStillChecksTheServer)
{
    // Whatever the options say, a context made for the client side checks
    // the server's chain and name.
    OpenSSLServer server(Pki.WrongHostCert, Pki.Key);
    for (TNetSSLMode mode : {sslmUnassigned, sslmClient, sslmBoth}) {
        for (TNetSSLVerifyModeSet verify : {0u, unsigned(sslvrfClientOnce), unsigned(sslvrfFailIfNoPeerCert)}) {
            Recorder rec;
            TNetSSLOptions opts;
            opts.Mode = mode;
            opts.VerifyMode = verify;
            EXPECT_EQ(Handshake(server.Port(), "localhost", rec, opts), Failed + "hostname mismatch")
                << "mode " << mode << ", verify " << verify;
        }
    }
}

TEST_F(SSLSession, CipherListCannotLetInAServerWithoutCertificate)
{
    // Anonymous suites send no certificate at all, so there is nothing to
    // check; a cipher list that allows them must not make that a success.
    OpenSSLServer server(Pki.ServerCert, Pki.Key, {"-nocert", "-tls1_2", "-cipher", "aNULL:@SECLEVEL=0"});
    Recorder rec;
    TNetSSLOptions opts;
    opts.CipherList = "ALL:@SECLEVEL=0";
    std::string msg = Handshake(server.Port(), "localhost", rec, opts);
    EXPECT_EQ(msg.rfind("Error connecting with SSL. ", 0), 0u) << msg;
    // The same list still reaches a server that shows its certificate.
    OpenSSLServer good(Pki.ServerCert, Pki.Key, {"-tls1_2"});
    EXPECT_EQ(Handshake(good.Port(), "localhost", rec, opts), "");
}

TEST_F(SSLSession, VerifyEventMayRefuseButNotAdmit)
{
    {
        OpenSSLServer server(Pki.ServerCert, Pki.Key);
        Recorder rec;
        EXPECT_EQ(Handshake(server.Port(), "localhost", rec, {}, true), "");
        ASSERT_EQ(rec.VerifiedSubjects.size(), 2u);
        EXPECT_EQ(rec.VerifiedSubjects[1], "/CN=localhost");
        rec.VerifyAnswer = false;
        EXPECT_EQ(Handshake(server.Port(), "localhost", rec, {}, true), Failed + "application verification failure");
    }
    OpenSSLServer server(Pki.ExpiredCert, Pki.Key);
    struct Admitter : Recorder {
        bool DoVerifyPeer(TNetX509 *, bool) override { return true; }
    } rec;
    EXPECT_NE(Handshake(server.Port(), "localhost", rec, {}, true), "");
}

TEST_F(SSLSession, SplitRecordsAndStaleErrorsFromThePump)
{
    // The server's flights and records arrive in 64-byte pieces, so every
    // handshake step and every read waits, and the window is pumped each
    // time. Whatever the pump leaves on OpenSSL's error queue must not be
    // taken for the session's own failure.
    OpenSSLServer server(Pki.ServerCert, Pki.Key, {"-rev"});
    TrickleProxy slow(server.Port(), 64, 5);
    Recorder rec;
    auto ctx = Context(rec);
    SSL_CTX *other = OSSL.SSL_CTX_new(OSSL.TLS_client_method());
    ASSERT_NE(other, nullptr);
    int fd = ConnectLoopback("127.0.0.1", slow.Port());
    ASSERT_GE(fd, 0);
    int pumped = 0;
    TNetAntiFreeze::SetProcessMessagesHook([&](bool) {
        ++pumped;
        OSSL.SSL_CTX_set_cipher_list(other, "no-such-cipher");  // fails, error left queued
    });
    auto af = NetCreateNoOwner<TNetAntiFreeze>();
    af->IdleTimeOut = 1;
    std::string failure, got;
    try {
        TNetSSLSocket s(&rec, ctx.get());
        s.Connect(fd, "localhost");
        std::string line = std::string(2000, 'b') + "end\n";
        EXPECT_EQ(s.Send(line.data(), int(line.size())), int(line.size()));
        char buf[512];
        for (int n; got.size() < line.size() && (n = s.Recv(buf, sizeof buf, 5000)) > 0;)
            got.append(buf, size_t(n));
    } catch (const ENetException &e) {
        failure = e.Message();
    }
    af.reset();
    TNetAntiFreeze::SetProcessMessagesHook(nullptr);
    OSSL.ERR_clear_error();
    OSSL.SSL_CTX_free(other);
    close(fd);
    EXPECT_EQ(failure, "");
    EXPECT_EQ(got, "dne" + std::string(2000, 'b') + "\n");
    EXPECT_GE(pumped, 10);
}

TEST_F(SSLSession, ContextSettingErrors)
{
    Recorder rec;
    TNetSSLOptions bad, missing, root;
    bad.CipherList = "NO-SUCH-CIPHER";
    EXPECT_THROW(Context(rec, bad), ENetOSSLSettingCipherError);
    missing.CertFile = "/nonexistent/cert.pem";
    EXPECT_THAT([&] { Context(rec, missing); },
                testing::ThrowsMessage<ENetOSSLLoadingCertError>(testing::StartsWith("Could not load certificate.")));
    root.RootCertFile = "/nonexistent/ca.pem";
    EXPECT_THROW(Context(rec, root), ENetOpenSSLLoadError);
}

TEST_F(SSLSession, EncryptedKeyAsksForThePassword)
{
    TempDir dir;
    std::string enc = dir.File("enc.key");
    ASSERT_EQ(std::system(("openssl pkey -in " + Pki.Key + " -aes128 -passout pass:s3cret -out " + enc +
                           " 2>/dev/null").c_str()),
              0);
    Recorder rec;
    TNetSSLOptions opts;
    opts.CertFile = Pki.ServerCert;
    opts.KeyFile = enc;
    rec.Password = "wrong";
    EXPECT_THROW(Context(rec, opts), ENetOSSLLoadingKeyError);
    rec.Password = "s3cret";
    EXPECT_NO_THROW(Context(rec, opts));
}

}  // namespace
