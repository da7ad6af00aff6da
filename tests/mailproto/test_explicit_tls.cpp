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
        Client->SetIOHandler(TLS);
        Client->SetHost("localhost");
        Client->SetConnectTimeout(3000);
        Client->SetReadTimeout(5000);
    }

    // Starts a server and points the client at it.
    std::unique_ptr<StartTLSServer> Serve(StartTLSServer::TMode mode, const std::string &cert = "")
    {
        auto server = std::make_unique<StartTLSServer>(mode, cert.empty() ? Pki.ServerCert : cert, Pki.Key);
        Client->SetPort(server->Port());
        return server;
    }

    // The log-in fails with E (and the text, when given) and leaves the
    // client closed.
    template <class E>
    void LoginFails(const char *text = nullptr)
    {
        std::string got = Thrown<E>([&] { Client->Login(); });
        EXPECT_NE(got, "(no exception)");
        if (text) {
            EXPECT_EQ(got, text);
        }
        EXPECT_FALSE(Client->Connected());
    }

    const TestPKI &Pki = TestPKI::Get();
    std::unique_ptr<TTestPOP3> Client = NetCreateNoOwner<TTestPOP3>();
    TNetSSLIOHandlerSocketOpenSSL *TLS = NetCreate<TNetSSLIOHandlerSocketOpenSSL>(Client.get());
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
    // A port of the user's own stays.
    Client->SetPort(2110);
    Client->SetUseTLS(utUseImplicitTLS);
    EXPECT_EQ(Client->Port(), 2110);
    Client->SetUseTLS(utNoTLSSupport);
    EXPECT_EQ(Client->Port(), 2110);
}

TEST_F(ExplicitTLS, TLSModesNeedATLSHandler)
{
    Client->SetUseTLS(utUseImplicitTLS);
    // Replacing the handler by a plain one drops TLS and the TLS port.
    Client->SetIOHandler(NetCreate<TNetIOHandlerStack>(Client.get()));
    EXPECT_EQ(Client->UseTLS(), utNoTLSSupport);
    EXPECT_EQ(Client->Port(), 110);
    EXPECT_EQ(Thrown<ENetTLSClientSSLIOHandlerRequred>([&] { Client->SetUseTLS(utUseImplicitTLS); }),
              "SSL IOHandler is required for this setting");
    EXPECT_EQ(Client->UseTLS(), utNoTLSSupport);
}

TEST_F(ExplicitTLS, TLSModeNeverConnectsWithoutItsTLSHandler)
{
    auto server = Serve(StartTLSServer::NoSTLS);  // plain only
    for (TNetUseTLS mode : {utUseImplicitTLS, utUseRequireTLS}) {
        if (!TLS) {
            TLS = NetCreate<TNetSSLIOHandlerSocketOpenSSL>(Client.get());
            Client->SetIOHandler(TLS);
        }
        Client->SetUseTLS(mode);
        Client->SetPort(server->Port());
        // The handler goes away behind the client's back; the client forgets
        // it but must not make a plain one of its own and log in through it.
        delete TLS;
        TLS = nullptr;
        ASSERT_EQ(Client->IOHandler(), nullptr);
        LoginFails<ENetTLSClientSSLIOHandlerRequred>("SSL IOHandler is required for this setting");
        EXPECT_EQ(Client->UseTLS(), mode);
    }
}

TEST_F(ExplicitTLS, ImplicitTLSFromTheFirstByte)
{
    Client->SetUseTLS(utUseImplicitTLS);
    auto server = Serve(StartTLSServer::Implicit);
    Client->Login();
    EXPECT_EQ(Client->GreetingLine, "+OK test server ready");
    EXPECT_EQ(Client->Cmd("NOOP"), "+OK tls");
    EXPECT_EQ(Thrown<ENetTLSClientCanNotSetWhileConnected>([&] { Client->SetUseTLS(utNoTLSSupport); }),
              "This value can not be set while the client is connected.");
}

TEST_F(ExplicitTLS, ExplicitTLSUpgradesThePlainSession)
{
    auto server = Serve(StartTLSServer::Explicit);
    for (TNetUseTLS mode : {utUseExplicitTLS, utUseRequireTLS}) {
        Client->SetUseTLS(mode);
        Client->SetPort(server->Port());
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
    auto server = Serve(StartTLSServer::NoSTLS);
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
    LoginFails<ENetTLSClientTLSNotAvailable>("SSL is not available on this server.");
    EXPECT_EQ(told, 1);
    // Required: ends without asking.
    Client->SetUseTLS(utUseRequireTLS);
    LoginFails<ENetTLSClientTLSNotAvailable>();
    EXPECT_EQ(told, 1);
}

TEST_F(ExplicitTLS, RefusedStartCommand)
{
    auto server = Serve(StartTLSServer::RefuseSTLS);
    Client->SetUseTLS(utUseExplicitTLS);
    LoginFails<ENetTLSClientTLSNotAvailable>("Start SSL negotiation command failed.");
    // An event that lets it go on keeps the plain session.
    Client->OnTLSNegCmdFailed = [](TNetExplicitTLSClient *, bool &goOn) {
        EXPECT_FALSE(goOn);
        goOn = true;
    };
    Client->Login();
    EXPECT_EQ(Client->Cmd("NOOP"), "+OK plain");
    Client->Disconnect(false);
    Client->SetUseTLS(utUseRequireTLS);
    LoginFails<ENetTLSClientTLSNotAvailable>();
}

TEST_F(ExplicitTLS, FailedHandshakeNeverFallsBackToPlain)
{
    auto server = Serve(StartTLSServer::Explicit, Pki.WrongHostCert);
    Client->SetUseTLS(utUseExplicitTLS);
    // Even an event that asks to carry on does not get a plain session.
    int told = 0;
    Client->OnTLSHandShakeFailed = [&](TNetExplicitTLSClient *, bool &goOn) {
        ++told;
        goOn = true;
    };
    LoginFails<ENetTLSClientTLSHandShakeFailed>("SSL is not available on this server. Error connecting with SSL. "
                                                "Certificate verification failed: hostname mismatch");
    EXPECT_EQ(told, 1);
    EXPECT_FALSE(TLS->BindingAllocated());

    // The implicit route reports the TLS handler's own exception.
    Client->SetUseTLS(utUseImplicitTLS);
    auto implicit = Serve(StartTLSServer::Implicit, Pki.WrongHostCert);
    LoginFails<ENetOSSLConnectError>();
}

}  // namespace
