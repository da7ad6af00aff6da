// The explicit-TLS client base: the TLS mode, the port that follows it, and
// what happens when a server offers no TLS, refuses it or fails the
// handshake. Driven by a small POP3-style client against real servers.
#include "NetExplicitTLSClient.h"
#include "NetSSLOpenSSL.h"
#include "OpenSSLServer.h"
#include "explicit_tls_test_client.h"

#include <gtest/gtest.h>

namespace {

class ExplicitTLS : public ::testing::Test {
protected:
    static void SetUpTestSuite() { TestPKI::TrustTestCA(); }

    void SetUp() override
    {
        Client = NetCreateNoOwner<TTestPOP3>();
        TLS = NetCreate<TNetSSLIOHandlerSocketOpenSSL>(Client.get());
        Client->SetIOHandler(TLS);
        Client->SetHost("localhost");
        Client->SetConnectTimeout(3000);
        Client->SetReadTimeout(5000);
    }

    std::unique_ptr<TTestPOP3> Client;
    TNetSSLIOHandlerSocketOpenSSL *TLS = nullptr;
};

TEST_F(ExplicitTLS, PortFollowsTheModeBetweenTheKnownPorts)
{
    EXPECT_EQ(Client->Port(), 110);
    Client->SetUseTLS(utUseImplicitTLS);
    EXPECT_EQ(Client->Port(), 995);
    Client->SetUseTLS(utUseExplicitTLS);
    EXPECT_EQ(Client->Port(), 110);
    Client->SetUseTLS(utUseImplicitTLS);
    Client->SetUseTLS(utNoTLSSupport);
    EXPECT_EQ(Client->Port(), 110);
    Client->SetPort(2110);
    Client->SetUseTLS(utUseImplicitTLS);
    EXPECT_EQ(Client->Port(), 2110);
    Client->SetUseTLS(utNoTLSSupport);
    EXPECT_EQ(Client->Port(), 2110);
}

TEST_F(ExplicitTLS, TLSModesNeedATLSHandler)
{
    auto plain = NetCreate<TNetIOHandlerStack>(Client.get());
    Client->SetUseTLS(utUseImplicitTLS);
    // Replacing the handler by a plain one drops TLS and the TLS port.
    Client->SetIOHandler(plain);
    EXPECT_EQ(Client->UseTLS(), utNoTLSSupport);
    EXPECT_EQ(Client->Port(), 110);
    try {
        Client->SetUseTLS(utUseImplicitTLS);
        FAIL() << "no exception";
    } catch (const ENetTLSClientSSLIOHandlerRequred &e) {
        EXPECT_EQ(e.Message(), "SSL IOHandler is required for this setting");
    }
    EXPECT_EQ(Client->UseTLS(), utNoTLSSupport);
}

TEST_F(ExplicitTLS, TLSModeNeverConnectsWithoutItsTLSHandler)
{
    const TestPKI &pki = TestPKI::Get();
    StartTLSServer server(StartTLSServer::NoSTLS, pki.ServerCert, pki.Key);  // plain only
    for (TNetUseTLS mode : {utUseImplicitTLS, utUseRequireTLS}) {
        if (!TLS) {
            TLS = NetCreate<TNetSSLIOHandlerSocketOpenSSL>(Client.get());
            Client->SetIOHandler(TLS);
        }
        Client->SetUseTLS(mode);
        Client->SetPort(server.Port());
        // The handler goes away behind the client's back; the client forgets
        // it but must not make a plain one of its own and log in through it.
        delete TLS;
        TLS = nullptr;
        ASSERT_EQ(Client->IOHandler(), nullptr);
        try {
            Client->Login();
            ADD_FAILURE() << "connected without TLS";
        } catch (const ENetTLSClientSSLIOHandlerRequred &e) {
            EXPECT_EQ(e.Message(), "SSL IOHandler is required for this setting");
        }
        EXPECT_FALSE(Client->Connected());
        EXPECT_EQ(Client->UseTLS(), mode);
    }
}

TEST_F(ExplicitTLS, ImplicitTLSFromTheFirstByte)
{
    const TestPKI &pki = TestPKI::Get();
    StartTLSServer server(StartTLSServer::Implicit, pki.ServerCert, pki.Key);
    Client->SetUseTLS(utUseImplicitTLS);
    Client->SetPort(server.Port());
    Client->Login();
    EXPECT_EQ(Client->GreetingLine, "+OK test server ready");
    EXPECT_EQ(Client->Cmd("NOOP"), "+OK tls");
    try {
        Client->SetUseTLS(utNoTLSSupport);
        FAIL() << "no exception";
    } catch (const ENetTLSClientCanNotSetWhileConnected &e) {
        EXPECT_EQ(e.Message(), "This value can not be set while the client is connected.");
    }
    Client->Disconnect(false);
    EXPECT_FALSE(Client->Connected());
}

TEST_F(ExplicitTLS, ExplicitTLSUpgradesThePlainSession)
{
    const TestPKI &pki = TestPKI::Get();
    StartTLSServer server(StartTLSServer::Explicit, pki.ServerCert, pki.Key);
    for (TNetUseTLS mode : {utUseExplicitTLS, utUseRequireTLS}) {
        Client->SetUseTLS(mode);
        Client->SetPort(server.Port());
        Client->Login();
        EXPECT_EQ(Client->Cmd("NOOP"), "+OK tls");
        Client->Disconnect(false);
    }
    // Without TLS the same server is spoken to in plain text.
    Client->SetUseTLS(utNoTLSSupport);
    Client->Login();
    EXPECT_EQ(Client->Cmd("NOOP"), "+OK plain");
}

TEST_F(ExplicitTLS, ServerWithoutTLS)
{
    const TestPKI &pki = TestPKI::Get();
    StartTLSServer server(StartTLSServer::NoSTLS, pki.ServerCert, pki.Key);
    Client->SetPort(server.Port());

    // Explicit, nobody objects: the session goes on in plain text.
    Client->SetUseTLS(utUseExplicitTLS);
    Client->Login();
    EXPECT_EQ(Client->Cmd("NOOP"), "+OK plain");
    Client->Disconnect(false);

    // Explicit, the event says no.
    int told = 0;
    Client->OnTLSNotAvailable = [&](TNetExplicitTLSClient *, bool &goOn) {
        ++told;
        EXPECT_TRUE(goOn);
        goOn = false;
    };
    try {
        Client->Login();
        FAIL() << "no exception";
    } catch (const ENetTLSClientTLSNotAvailable &e) {
        EXPECT_EQ(e.Message(), "SSL is not available on this server.");
    }
    EXPECT_EQ(told, 1);
    EXPECT_FALSE(Client->Connected());

    // Required: ends without asking.
    Client->SetUseTLS(utUseRequireTLS);
    EXPECT_THROW(Client->Login(), ENetTLSClientTLSNotAvailable);
    EXPECT_EQ(told, 1);
    EXPECT_FALSE(Client->Connected());
}

TEST_F(ExplicitTLS, RefusedStartCommand)
{
    const TestPKI &pki = TestPKI::Get();
    StartTLSServer server(StartTLSServer::RefuseSTLS, pki.ServerCert, pki.Key);
    Client->SetPort(server.Port());
    Client->SetUseTLS(utUseExplicitTLS);
    try {
        Client->Login();
        FAIL() << "no exception";
    } catch (const ENetTLSClientTLSNotAvailable &e) {
        EXPECT_EQ(e.Message(), "Start SSL negotiation command failed.");
    }
    EXPECT_FALSE(Client->Connected());

    // An event that lets it go on keeps the plain session.
    Client->OnTLSNegCmdFailed = [](TNetExplicitTLSClient *, bool &goOn) {
        EXPECT_FALSE(goOn);
        goOn = true;
    };
    Client->Login();
    EXPECT_EQ(Client->Cmd("NOOP"), "+OK plain");
    Client->Disconnect(false);

    Client->SetUseTLS(utUseRequireTLS);
    EXPECT_THROW(Client->Login(), ENetTLSClientTLSNotAvailable);
    EXPECT_FALSE(Client->Connected());
}

TEST_F(ExplicitTLS, FailedHandshakeNeverFallsBackToPlain)
{
    const TestPKI &pki = TestPKI::Get();
    StartTLSServer server(StartTLSServer::Explicit, pki.WrongHostCert, pki.Key);
    Client->SetPort(server.Port());
    Client->SetUseTLS(utUseExplicitTLS);
    // Even an event that asks to carry on does not get a plain session.
    int told = 0;
    Client->OnTLSHandShakeFailed = [&](TNetExplicitTLSClient *, bool &goOn) {
        ++told;
        goOn = true;
    };
    try {
        Client->Login();
        FAIL() << "no exception";
    } catch (const ENetTLSClientTLSHandShakeFailed &e) {
        EXPECT_EQ(e.Message(),
                  "SSL is not available on this server. Error connecting with SSL. "
                  "Certificate verification failed: hostname mismatch");
    }
    EXPECT_EQ(told, 1);
    EXPECT_FALSE(Client->Connected());
    EXPECT_FALSE(TLS->BindingAllocated());

    // The implicit route reports the TLS handler's own exception.
    StartTLSServer implicit(StartTLSServer::Implicit, pki.WrongHostCert, pki.Key);
    Client->SetUseTLS(utUseImplicitTLS);
    Client->SetPort(implicit.Port());
    EXPECT_THROW(Client->Login(), ENetOSSLConnectError);
    EXPECT_FALSE(Client->Connected());
}

}  // namespace
