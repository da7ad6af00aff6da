// Loading and binding the OpenSSL libraries at run time.
#include "NetSSLOpenSSLHeaders.h"
#include "OpenSSLServer.h"
#include "SysUtils.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class SSLBinding : public ::testing::Test {
protected:
    void TearDown() override
    {
        // Leave the process with the real libraries bound for the next test.
        UnloadOpenSSLLibrary();
        SetOpenSSLLibraryNames("libssl.so.3", "libcrypto.so.3");
    }
};

TEST_F(SSLBinding, LoadsBindsAndMakesAContext)
{
    ASSERT_TRUE(LoadOpenSSLLibrary());
    EXPECT_TRUE(LoadOpenSSLLibrary());  // a second call finds the table bound
    // The classic start-up calls exist as routines even though OpenSSL 3
    // made them macros; RAND_screen is gone and seeding skips it quietly.
    ASSERT_NE(OSSL.SSL_library_init, nullptr);
    EXPECT_EQ(OSSL.SSL_library_init(), 1);
    ASSERT_NE(OSSL.SSL_load_error_strings, nullptr);
    EXPECT_EQ(OSSL.SSL_load_error_strings(), 1);
    EXPECT_EQ(OSSL.RAND_screen, nullptr);
    SSLRandomSeed();

    // SSL version 2 and 3 are gone; the general method takes their place.
    EXPECT_EQ(OSSL.SSLv2_client_method, nullptr);
    EXPECT_EQ(OSSL.SSLv3_client_method, nullptr);
    ASSERT_NE(OSSL.SSLv23_client_method, nullptr);
    EXPECT_EQ(OSSL.SSLv23_client_method(), OSSL.TLS_client_method());

    // (The version floor and options on a context: the session tests.)
    SSL_CTX *ctx = OSSL.SSL_CTX_new(OSSL.SSLv23_client_method());
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(OSSL.SSL_CTX_set_cipher_list(ctx, "no-such-cipher-at-all"), 0);
    EXPECT_FALSE(OpenSSLErrorText().empty());
    EXPECT_EQ(OpenSSLErrorText(), "");  // the queue was emptied
    OSSL.SSL_CTX_free(ctx);
}

TEST_F(SSLBinding, MissingLibraryFailsAndRetryRecovers)
{
    UnloadOpenSSLLibrary();
    SetOpenSSLLibraryNames("libssl-not-here.so.3", "libcrypto-not-here.so.3");
    EXPECT_FALSE(LoadOpenSSLLibrary());
    EXPECT_FALSE(OpenSSLLibraryLoaded());
    EXPECT_TRUE(ContainsText(OpenSSLLoadErrorText(), "not-here")) << OpenSSLLoadErrorText();
    EXPECT_EQ(OSSL.SSL_CTX_new, nullptr);
    EXPECT_FALSE(LoadOpenSSLLibrary());

    UnloadOpenSSLLibrary();
    UnloadOpenSSLLibrary();  // twice is harmless
    SetOpenSSLLibraryNames("libssl.so.3", "libcrypto.so.3");
    EXPECT_TRUE(LoadOpenSSLLibrary());
    EXPECT_EQ(OpenSSLLoadErrorText(), "");
    EXPECT_NE(OSSL.SSL_CTX_new, nullptr);
}

TEST_F(SSLBinding, LibraryWithoutTheEntryPointsNeverReportsSuccess)
{
    UnloadOpenSSLLibrary();
    // A real library that lacks every TLS entry point: loads, does not bind.
    SetOpenSSLLibraryNames("libcrypto.so.3", "libcrypto.so.3");
    EXPECT_FALSE(LoadOpenSSLLibrary());
    EXPECT_TRUE(ContainsText(OpenSSLLoadErrorText(), "entry point SSL_")) << OpenSSLLoadErrorText();
    // The first failure left the modules loaded; trying again must still
    // fail instead of taking the loaded modules for a bound table.
    EXPECT_FALSE(LoadOpenSSLLibrary());
    EXPECT_FALSE(OpenSSLLibraryLoaded());
    // Callers never find a half-filled table.
    EXPECT_EQ(OSSL.ERR_get_error, nullptr);
    EXPECT_EQ(OpenSSLErrorText(), "");
}

// What the verify callback saw, checked after the handshake.
struct VerifySeen {
    int Calls = 0;
    bool SessionFound = true;
    int LastDepth = -1;
};
VerifySeen gSeen;

int VerifyThroughTable(int ok, X509_STORE_CTX *ctx)
{
    ++gSeen.Calls;
    // The session comes from the store context by libssl's own index.
    SSL *s = static_cast<SSL *>(OSSL.X509_STORE_CTX_get_app_data_suite(ctx));
    if (!s || SSLGetAppData(s) != &gSeen)
        gSeen.SessionFound = false;
    gSeen.LastDepth = OSSL.X509_STORE_CTX_get_error_depth(ctx);
    return ok;
}

// A whole blocking handshake and an exchange with s_server, made only of
// table entries: proves the stand-ins do what the classic calls did.
TEST_F(SSLBinding, HandshakeThroughTheTable)
{
    const TestPKI &pki = TestPKI::Get();
    OpenSSLServer server(pki.ServerCert, pki.Key, {"-rev"});
    ASSERT_TRUE(LoadOpenSSLLibrary());
    OSSL.SSL_library_init();
    SSL_CTX *ctx = OSSL.SSL_CTX_new(OSSL.SSLv23_client_method());
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(OSSL.SSL_CTX_load_verify_locations(ctx, pki.CAFile.c_str(), nullptr), 1);
    OSSL.SSL_CTX_set_verify(ctx, OSSL_SSL_VERIFY_PEER, VerifyThroughTable);
    int fd = ConnectLoopback("127.0.0.1", server.Port());
    ASSERT_GE(fd, 0);
    SSL *s = OSSL.SSL_new(ctx);
    SSLSetAppData(s, &gSeen);
    gSeen = VerifySeen();
    ASSERT_EQ(OSSL.SSL_set_fd(s, fd), 1);
    ASSERT_EQ(OSSL.SSL_connect(s), 1) << OpenSSLErrorText();
    EXPECT_EQ(gSeen.Calls, 2);  // the authority, then the server
    EXPECT_TRUE(gSeen.SessionFound);
    EXPECT_EQ(gSeen.LastDepth, 0);

    X509 *peer = OSSL.SSL_get_peer_certificate(s);
    ASSERT_NE(peer, nullptr);
    char name[256];
    OSSL.X509_NAME_oneline(OSSL.X509_get_subject_name(peer), name, sizeof name);
    EXPECT_STREQ(name, "/CN=localhost");
    EXPECT_NE(OSSL.X509_get_notAfter_suite(peer), nullptr);
    OSSL.X509_free(peer);  // the reference is ours now

    const SSL_CIPHER *c = OSSL.SSL_get_current_cipher(s);
    ASSERT_NE(c, nullptr);
    int algBits = 0;
    EXPECT_GT(OSSL.SSL_CIPHER_get_bits(c, &algBits), 0);
    EXPECT_GT(algBits, 0);

    ASSERT_EQ(OSSL.SSL_write(s, "abc\n", 4), 4);
    char buf[16] = {};
    for (int n = 0, r; n < 4; n += r)
        ASSERT_GT(r = OSSL.SSL_read(s, buf + n, int(sizeof buf) - 1 - n), 0);
    EXPECT_STREQ(buf, "cba\n");
    OSSL.SSL_shutdown(s);
    OSSL.SSL_free(s);
    OSSL.SSL_CTX_free(ctx);
    close(fd);
}

}  // namespace
