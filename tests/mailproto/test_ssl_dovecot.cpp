// TLS against Dovecot: POP3 over implicit TLS with a 10 MB message, IMAP4
// over implicit TLS, and POP3 upgraded with STLS.
#include "DovecotServer.h"
#include "dovecot_suite.h"
#include "NetSSLOpenSSL.h"
#include "explicit_tls_test_client.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

class SSLDovecot : public DovecotSuite<SSLDovecot> {
protected:
    static void SetUpTestSuite() { StartDovecot(); }

    void SetUp() override
    {
        DovecotSuite::SetUp();
        if (IsSkipped())
            return;
        Client = NetCreateNoOwner<TTestPOP3>();
        TLS = NetCreate<TNetSSLIOHandlerSocketOpenSSL>(Client.get());
        TLS->OnStatusInfo = [this](const std::string &m) {
            if (m.rfind("Cipher: name = ", 0) == 0)
                ++CipherReports;
        };
        Client->SetIOHandler(TLS);
        Client->SetHost(Server->Host());
        Client->SetConnectTimeout(5000);
        Client->SetReadTimeout(10000);
    }

    void LogIn()
    {
        ASSERT_EQ(Client->Cmd("USER " + Server->UserName()).rfind("+OK", 0), 0u);
        ASSERT_EQ(Client->Cmd("PASS " + Server->Password()).rfind("+OK", 0), 0u);
    }

    std::unique_ptr<TTestPOP3> Client;
    TNetSSLIOHandlerSocketOpenSSL *TLS = nullptr;
    int CipherReports = 0;
};

TEST_F(SSLDovecot, POP3SRetrievesTenMegabytesWhole)
{
    // One message of 10 MB of numbered lines.
    std::string msg = "From: a@example.org\r\nTo: b@example.org\r\nSubject: big\r\n\r\n";
    const int kLines = 10 * 1024 * 1024 / 100;
    msg.reserve(msg.size() + size_t(kLines) * 100);
    char row[128];
    for (int i = 0; i < kLines; ++i) {
        snprintf(row, sizeof row, "%09d %s\r\n", i, std::string(88, 'x').c_str());
        msg += row;
    }
    Server->AddMessage(Server->UserName(), msg);

    Client->SetUseTLS(utUseImplicitTLS);
    EXPECT_EQ(Client->Port(), 995);
    Client->SetPort(Server->Pop3sPort());
    Client->Login();
    EXPECT_EQ(Client->GreetingLine.rfind("+OK Dovecot ready.", 0), 0u) << Client->GreetingLine;
    EXPECT_EQ(CipherReports, 1);
    LogIn();
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

TEST_F(SSLDovecot, IMAPSGreetsAndLogsOut)
{
    Client->SetUseTLS(utUseImplicitTLS);
    Client->SetPort(Server->ImapsPort());
    Client->Login();
    EXPECT_EQ(Client->GreetingLine.rfind("* OK ", 0), 0u) << Client->GreetingLine;
    EXPECT_EQ(CipherReports, 1);
    std::string reply = Client->Cmd("a1 LOGIN " + Server->UserName() + " " + Server->Password());
    EXPECT_EQ(reply.rfind("a1 OK", 0), 0u) << reply;
    EXPECT_EQ(Client->Cmd("a2 LOGOUT").rfind("* BYE", 0), 0u);
    Client->Disconnect(false);
}

TEST_F(SSLDovecot, POP3WithSTLS)
{
    Client->SetUseTLS(utUseRequireTLS);
    Client->SetPort(Server->Pop3Port());
    Client->Login();
    EXPECT_EQ(Client->GreetingLine.rfind("+OK Dovecot ready.", 0), 0u) << Client->GreetingLine;
    EXPECT_TRUE(Client->SupportsTLS());
    EXPECT_EQ(CipherReports, 1);
    EXPECT_FALSE(TLS->PassThrough());
    LogIn();
    // Dovecot now lists no STLS: the session is already encrypted.
    Client->Capabilities()->Clear();
    ASSERT_EQ(Client->Cmd("CAPA").rfind("+OK", 0), 0u);
    for (std::string l = TLS->ReadLn(); l != "."; l = TLS->ReadLn())
        Client->Capabilities()->Add(l);
    EXPECT_FALSE(Client->SupportsTLS());
    EXPECT_EQ(Client->Cmd("QUIT").rfind("+OK", 0), 0u);
    Client->Disconnect(false);
}

TEST_F(SSLDovecot, IPv6AddressIsCheckedAgainstTheCertificate)
{
    DovecotServer::Options o;
    o.ListenIPv6 = true;
    DovecotServer v6(o);
    setenv("SSL_CERT_FILE", v6.CaFile().c_str(), 1);
    Client->SetUseTLS(utUseImplicitTLS);
    Client->SetIPVersion(Net_IPv6);
    Client->SetHost("::1");
    Client->SetPort(v6.Pop3sPort());
    Client->Login();
    EXPECT_EQ(Client->GreetingLine.rfind("+OK", 0), 0u);
    Client->Disconnect(false);
    // The same server under an address its certificate does not list.
    TLS->SetPeerName("::2");
    EXPECT_THROW(Client->Login(), ENetOSSLConnectError);
    EXPECT_FALSE(Client->Connected());
}

TEST_F(SSLDovecot, CertificateMustNameTheHostAskedFor)
{
    Client->SetUseTLS(utUseImplicitTLS);
    Client->SetPort(Server->Pop3sPort());
    TLS->SetPeerName("pop.example.net");
    try {
        Client->Login();
        FAIL() << "no exception";
    } catch (const ENetOSSLConnectError &e) {
        EXPECT_EQ(e.Message(),
                  "Error connecting with SSL. Certificate verification failed: hostname mismatch");
    }
    EXPECT_FALSE(Client->Connected());
    EXPECT_EQ(CipherReports, 0);
}

}  // namespace
