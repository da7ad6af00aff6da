// TLS contexts and sessions against real peers on loopback: what a client
// accepts, what it refuses and why, and that nothing waits for ever.
#include "NetAntiFreeze.h"
#include "NetSSLOpenSSL.h"
#include "OpenSSLServer.h"
#include "TestSupport.h"
#include "TrickleProxy.h"

#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Recorder : TNetSSLEvents {
    std::vector<std::string> Status;
    std::string Password;
    int VerifyCalls = 0;
    bool VerifyAnswer = true;
    std::vector<std::string> VerifiedSubjects;
    int Timeout = 5000;

    void DoStatusInfo(const std::string &msg) override { Status.push_back(msg); }
    void DoGetPassword(std::string &password) override { password = Password; }
    bool DoVerifyPeer(TNetX509 *cert, bool aOk) override
    {
        ++VerifyCalls;
        VerifiedSubjects.push_back(cert->Subject()->OneLine());
        return aOk && VerifyAnswer;
    }
    int HandshakeTimeout() const override { return Timeout; }
    int WriteTimeout() const override { return Timeout; }
};

class SSLSession : public ::testing::Test {
protected:
    static void SetUpTestSuite() { TestPKI::TrustTestCA(); }

    // A client context with the program's own settings: version 2 asked
    // for, mode unassigned, no verify mode, no cipher list.
    std::unique_ptr<TNetSSLContext> ClientContext(Recorder &rec, const TNetSSLOptions &opts = {})
    {
        auto ctx = std::make_unique<TNetSSLContext>();
        ctx->CopyOptions(opts);
        ctx->Parent = &rec;
        ctx->StatusInfoOn = true;
        ctx->InitContext(false);
        return ctx;
    }

    // Runs a client handshake to the port; returns the exception text, or
    // "" when it succeeded.
    std::string Handshake(int port, const std::string &host, Recorder &rec,
                          const TNetSSLOptions &opts = {}, bool verifyEvent = false)
    {
        auto ctx = std::make_unique<TNetSSLContext>();
        ctx->CopyOptions(opts);
        ctx->Parent = &rec;
        ctx->StatusInfoOn = false;
        ctx->VerifyOn = verifyEvent;
        ctx->InitContext(false);
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
};

TEST_F(SSLSession, ProgramSettingsMakeAVerifyingTLS12Client)
{
    Recorder rec;
    auto ctx = ClientContext(rec);
    EXPECT_EQ(ctx->Mode, sslmClient);  // unassigned becomes client
    EXPECT_EQ(OSSL.SSL_CTX_get_version_suite(ctx->Handle()), OSSL_TLS1_2_VERSION);
    EXPECT_NE(OSSL.SSL_CTX_get_verify_depth(ctx->Handle()), 0);  // the form's 0 is not applied
    EXPECT_GE(TNetSSLContext::ContextCount(), 1);
}

TEST_F(SSLSession, HandshakeReportsCipherAndExchangesData)
{
    const TestPKI &pki = TestPKI::Get();
    OpenSSLServer server(pki.ServerCert, pki.Key, {"-rev"});
    Recorder rec;
    auto ctx = ClientContext(rec);
    int fd = ConnectLoopback("127.0.0.1", server.Port());
    ASSERT_GE(fd, 0);
    {
        TNetSSLSocket s(&rec, ctx.get());
        s.Connect(fd, "localhost");
        int cipherTexts = 0;
        for (const auto &m : rec.Status)
            if (m.rfind("Cipher: name = ", 0) == 0)
                ++cipherTexts;
        EXPECT_EQ(cipherTexts, 1);
        // The handshake's own steps come through the status relay too.
        ASSERT_FALSE(rec.Status.empty());
        EXPECT_EQ(rec.Status.front().rfind("SSL status: \"", 0), 0u) << rec.Status.front();
        EXPECT_GT(s.Cipher()->Bits(), 0);
        ASSERT_NE(s.PeerCert(), nullptr);
        EXPECT_EQ(s.PeerCert()->Subject()->OneLine(), "/CN=localhost");
        EXPECT_EQ(s.PeerCert()->Issuer()->OneLine(), "/CN=Tarnwick Test CA");
        EXPECT_EQ(s.PeerCert()->FingerprintAsString().size(), 47u);

        // Several lines, so the reply needs more than one read.
        std::string one = std::string(3000, 'a') + "xyz\n";
        std::string line, want = "zyx" + std::string(3000, 'a') + "\n";
        for (int i = 0; i < 5; ++i)
            line += one;
        size_t off = 0;
        while (off < line.size())
            off += size_t(s.Send(line.data() + off, int(line.size() - off)));
        std::string got;
        char buf[4096];
        while (got.size() < line.size()) {
            int n = s.Recv(buf, sizeof buf, 5000);
            ASSERT_GT(n, 0);
            got.append(buf, size_t(n));
        }
        EXPECT_EQ(got, want + want + want + want + want);
        // Nothing more comes: a read times out instead of waiting for ever.
        EXPECT_EQ(s.Recv(buf, sizeof buf, 200), -1);
    }
    close(fd);
}

TEST_F(SSLSession, IPAddressMustBeInTheCertificate)
{
    const TestPKI &pki = TestPKI::Get();
    OpenSSLServer server(pki.ServerCert, pki.Key);
    Recorder rec;
    EXPECT_EQ(Handshake(server.Port(), "127.0.0.1", rec), "");
    OpenSSLServer other(pki.WrongHostCert, pki.Key);
    EXPECT_EQ(Handshake(other.Port(), "127.0.0.1", rec),
              "Error connecting with SSL. Certificate verification failed: IP address mismatch");
}

TEST_F(SSLSession, EveryModeAndVerifySettingStillChecksTheServer)
{
    // Whatever the options say, a context made for the client side checks
    // the server's chain and name.
    const TestPKI &pki = TestPKI::Get();
    OpenSSLServer server(pki.WrongHostCert, pki.Key);
    for (TNetSSLMode mode : {sslmUnassigned, sslmClient, sslmBoth}) {
        for (TNetSSLVerifyModeSet verify : {0u, unsigned(sslvrfClientOnce), unsigned(sslvrfFailIfNoPeerCert)}) {
            Recorder rec;
            TNetSSLOptions opts;
            opts.Mode = mode;
            opts.VerifyMode = verify;
            EXPECT_EQ(Handshake(server.Port(), "localhost", rec, opts),
                      "Error connecting with SSL. Certificate verification failed: hostname mismatch")
                << "mode " << mode << ", verify " << verify;
        }
    }
}

TEST_F(SSLSession, CipherListCannotLetInAServerWithoutCertificate)
{
    // Anonymous suites send no certificate at all, so there is nothing to
    // check; a cipher list that allows them must not make that a success.
    const TestPKI &pki = TestPKI::Get();
    OpenSSLServer server(pki.ServerCert, pki.Key,
                         {"-nocert", "-tls1_2", "-cipher", "aNULL:@SECLEVEL=0"});
    Recorder rec;
    TNetSSLOptions opts;
    opts.CipherList = "ALL:@SECLEVEL=0";
    std::string msg = Handshake(server.Port(), "localhost", rec, opts);
    EXPECT_EQ(msg.rfind("Error connecting with SSL. ", 0), 0u) << msg;
    // The same list still reaches a server that shows its certificate.
    OpenSSLServer good(pki.ServerCert, pki.Key, {"-tls1_2"});
    EXPECT_EQ(Handshake(good.Port(), "localhost", rec, opts), "");
}

TEST_F(SSLSession, VerifyEventMayRefuseButNotAdmit)
{
    const TestPKI &pki = TestPKI::Get();
    {
        OpenSSLServer server(pki.ServerCert, pki.Key);
        Recorder rec;
        EXPECT_EQ(Handshake(server.Port(), "localhost", rec, {}, true), "");
        ASSERT_EQ(rec.VerifiedSubjects.size(), 2u);
        EXPECT_EQ(rec.VerifiedSubjects[1], "/CN=localhost");
        rec.VerifyAnswer = false;
        EXPECT_EQ(Handshake(server.Port(), "localhost", rec, {}, true),
                  "Error connecting with SSL. Certificate verification failed: "
                  "application verification failure");
    }
    {
        OpenSSLServer server(pki.ExpiredCert, pki.Key);
        struct Admitter : Recorder {
            bool DoVerifyPeer(TNetX509 *, bool) override { return true; }
        } rec;
        EXPECT_NE(Handshake(server.Port(), "localhost", rec, {}, true), "");
    }
}

TEST_F(SSLSession, StalledHandshakeKeepsTheWindowAlive)
{
    int pumped = 0;
    TNetAntiFreeze::SetProcessMessagesHook([&](bool) { ++pumped; });
    auto af = NetCreateNoOwner<TNetAntiFreeze>();
    af->IdleTimeOut = 50;
    Recorder rec;
    rec.Timeout = 600;
    BrokenTLSPeer peer(BrokenTLSPeer::Stall);
    EXPECT_EQ(Handshake(peer.Port(), "localhost", rec),
              "Error connecting with SSL. The handshake timed out.");
    af.reset();
    TNetAntiFreeze::SetProcessMessagesHook(nullptr);
    // About one pump per 50 ms slice of the 600 ms wait.
    EXPECT_GE(pumped, 8);
}

TEST_F(SSLSession, SplitRecordsAndStaleErrorsFromThePump)
{
    // The server's flights and records arrive in 64-byte pieces, so every
    // handshake step and every read waits, and the window is pumped each
    // time. Whatever the pump leaves on OpenSSL's error queue must not be
    // taken for the session's own failure.
    const TestPKI &pki = TestPKI::Get();
    OpenSSLServer server(pki.ServerCert, pki.Key, {"-rev"});
    TrickleProxy slow(server.Port(), 64, 5);
    Recorder rec;
    auto ctx = ClientContext(rec);
    SSL_CTX *other = OSSL.SSL_CTX_new(OSSL.TLS_client_method());
    ASSERT_NE(other, nullptr);
    int pumped = 0;
    TNetAntiFreeze::SetProcessMessagesHook([&](bool) {
        ++pumped;
        OSSL.SSL_CTX_set_cipher_list(other, "no-such-cipher");  // fails, error left queued
    });
    auto af = NetCreateNoOwner<TNetAntiFreeze>();
    af->IdleTimeOut = 1;
    int fd = ConnectLoopback("127.0.0.1", slow.Port());
    ASSERT_GE(fd, 0);
    std::string failure;
    try {
        TNetSSLSocket s(&rec, ctx.get());
        s.Connect(fd, "localhost");
        std::string line = std::string(2000, 'b') + "end\n";
        ASSERT_EQ(s.Send(line.data(), int(line.size())), int(line.size()));
        std::string got;
        char buf[512];
        while (got.size() < line.size()) {
            int n = s.Recv(buf, sizeof buf, 5000);
            ASSERT_GT(n, 0);
            got.append(buf, size_t(n));
        }
        EXPECT_EQ(got, "dne" + std::string(2000, 'b') + "\n");
    } catch (const ENetException &e) {
        failure = e.Message();
    }
    af.reset();
    TNetAntiFreeze::SetProcessMessagesHook(nullptr);
    OSSL.ERR_clear_error();
    OSSL.SSL_CTX_free(other);
    close(fd);
    EXPECT_EQ(failure, "");
    EXPECT_GE(pumped, 10);
}

TEST_F(SSLSession, ContextSettingErrors)
{
    Recorder rec;
    TNetSSLOptions bad;
    bad.CipherList = "NO-SUCH-CIPHER";
    EXPECT_THROW(ClientContext(rec, bad), ENetOSSLSettingCipherError);
    TNetSSLOptions missing;
    missing.CertFile = "/nonexistent/cert.pem";
    try {
        ClientContext(rec, missing);
        FAIL() << "no exception";
    } catch (const ENetOSSLLoadingCertError &e) {
        EXPECT_EQ(std::string(e.Message()).rfind("Could not load certificate.", 0), 0u);
    }
    TNetSSLOptions root;
    root.RootCertFile = "/nonexistent/ca.pem";
    EXPECT_THROW(ClientContext(rec, root), ENetOpenSSLLoadError);
}

TEST_F(SSLSession, EncryptedKeyAsksForThePassword)
{
    const TestPKI &pki = TestPKI::Get();
    TempDir dir;
    std::string enc = dir.File("enc.key");
    ASSERT_EQ(std::system(("openssl pkey -in " + pki.Key + " -aes128 -passout pass:s3cret -out " +
                           enc + " 2>/dev/null")
                              .c_str()),
              0);
    Recorder rec;
    TNetSSLOptions opts;
    opts.CertFile = pki.ServerCert;
    opts.KeyFile = enc;
    rec.Password = "wrong";
    EXPECT_THROW(ClientContext(rec, opts), ENetOSSLLoadingKeyError);
    rec.Password = "s3cret";
    EXPECT_NO_THROW(ClientContext(rec, opts));
}

}  // namespace
