// TLS against Dovecot: POP3 over implicit TLS with a 10 MB message, and the
// server's certificate checked against the name or address asked for.
#include "DovecotServer.h"
#include "dovecot_suite.h"
#include "NetSSLOpenSSL.h"
#include "explicit_tls_test_client.h"

#include <gtest/gtest.h>

namespace {

class SSLDovecot : public DovecotSuite<SSLDovecot> {
protected:
    static void SetUpTestSuite()
    {
        DovecotServer::Options o;
        o.ListenIPv6 = true;
        StartDovecot(o);
    }

    void SetUp() override
    {
        DovecotSuite::SetUp();
        if (IsSkipped())
            return;
        Client = NetCreateNoOwner<TTestPOP3>();
        TLS = NetCreate<TNetSSLIOHandlerSocketOpenSSL>(Client.get());
        TLS->OnStatusInfo = [this](const std::string &m) { CipherReports += m.rfind("Cipher: name = ", 0) == 0; };
        Client->SetIOHandler(TLS);
        Client->SetHost(Server->Host());
        Client->SetConnectTimeout(5000);
        Client->SetReadTimeout(10000);
    }

    std::unique_ptr<TTestPOP3> Client;
    TNetSSLIOHandlerSocketOpenSSL *TLS = nullptr;
    int CipherReports = 0;
};

TEST_F(SSLDovecot, POP3SRetrievesTenMegabytesWhole)
{
    // One message of 10 MB of numbered lines.
    std::string msg = "From: a@example.org\r\nSubject: big\r\n\r\n";
    const int kLines = 10 * 1024 * 1024 / 100;
    for (int i = 0; i < kLines; ++i) msg += Format("%09d ", i) + std::string(88, 'x') + "\r\n";
    Server->AddMessage(Server->UserName(), msg);

    Client->SetUseTLS(utUseImplicitTLS);
    Client->SetPort(Server->Pop3sPort());
    Client->Login();
    EXPECT_EQ(Client->GreetingLine.rfind("+OK Dovecot ready.", 0), 0u) << Client->GreetingLine;
    EXPECT_EQ(CipherReports, 1);
    ASSERT_EQ(Client->Cmd("USER " + Server->UserName()).rfind("+OK", 0), 0u);
    ASSERT_EQ(Client->Cmd("PASS " + Server->Password()).rfind("+OK", 0), 0u);
    std::string stat = Client->Cmd("STAT");
    ASSERT_EQ(stat.rfind("+OK ", 0), 0u) << stat;
    int count = std::stoi(stat.substr(4));
    ASSERT_GE(count, 1);
    ASSERT_EQ(Client->Cmd("RETR " + std::to_string(count)).rfind("+OK", 0), 0u);
    TStringList lines;
    Client->IOHandler()->CaptureDotList(lines);
    int body = lines.IndexOf("");
    ASSERT_GE(body, 0);
    ASSERT_EQ(lines.Count() - body - 1, kLines);
    for (int i = 0; i < kLines; ++i) {
        const std::string &l = lines[body + 1 + i];
        ASSERT_EQ(l.size(), 98u) << "line " << i;
        ASSERT_EQ(std::stoi(l.substr(0, 9)), i);
    }
    EXPECT_EQ(Client->Cmd("QUIT").rfind("+OK", 0), 0u);
    Client->Disconnect(false);
}

TEST_F(SSLDovecot, CertificateMustNameTheHostOrAddressAskedFor)
{
    Client->SetUseTLS(utUseImplicitTLS);
    Client->SetIPVersion(Net_IPv6);
    Client->SetHost("::1");
    Client->SetPort(Server->Pop3sPort());
    Client->Login();
    EXPECT_EQ(Client->GreetingLine.rfind("+OK", 0), 0u);
    Client->Disconnect(false);
    // The same server under an address or a name its certificate does not list.
    for (auto [peer, why] : {std::pair{"::2", "IP address mismatch"}, {"pop.example.net", "hostname mismatch"}}) {
        TLS->SetPeerName(peer);
        EXPECT_EQ(Thrown<ENetOSSLConnectError>([&] { Client->Login(); }),
                  std::string("Error connecting with SSL. Certificate verification failed: ") + why);
        EXPECT_FALSE(Client->Connected());
    }
    EXPECT_EQ(CipherReports, 1);
}

}  // namespace
