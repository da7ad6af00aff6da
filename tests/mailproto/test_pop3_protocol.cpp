// TNetPOP3 against servers that answer exactly what a test wants, including
// servers that break the protocol: the client must end each such exchange
// with an exception, never a hang, and never stay "connected" without a
// session.

#include "NetPOP3.h"
#include "NetSSLOpenSSL.h"
#include "ScriptedPeer.h"

#include <gtest/gtest.h>

namespace {

const auto Talk = ScriptedPeer::Talk;

// Greeting with the RFC 1939 timestamp, CAPA, USER and PASS accepted.
std::vector<std::string> LoggedIn(std::initializer_list<std::string> rest, const std::string &greeting =
                                      "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>") {
    std::vector<std::string> steps = Talk({greeting, "<", "+OK", "USER", "TOP", ".", "<", "+OK", "<", "+OK"});
    auto more = Talk(rest);
    steps.insert(steps.end(), more.begin(), more.end());
    return steps;
}

class POP3Protocol : public ::testing::Test {
protected:
    void SetUp() override {
        Pop.reset(NetCreate<TNetPOP3>(nullptr));
        Pop->SetHost("127.0.0.1");
        Pop->Username = "mrose";
        Pop->Password = "tanstaaf";
        Pop->SetConnectTimeout(5000);
        Pop->SetReadTimeout(3000);
        Msg = NetCreateNoOwner<TNetMessage>();
    }
    void Start(const std::vector<std::string> &steps) {
        Peer = std::make_unique<ScriptedPeer>(steps);
        Pop->SetPort(Peer->Port());
    }
    std::unique_ptr<TNetPOP3> Pop;
    std::unique_ptr<TNetMessage> Msg;
    std::unique_ptr<ScriptedPeer> Peer;
};

TEST_F(POP3Protocol, DefaultsAndPorts) {
    auto fresh = NetCreateNoOwner<TNetPOP3>();
    EXPECT_EQ(fresh->Port(), 110);
    EXPECT_TRUE(fresh->AutoLogin);
    EXPECT_EQ(fresh->AuthType, atUserPass);
    EXPECT_EQ(fresh->UseTLS(), utNoTLSSupport);
    EXPECT_EQ(fresh->SASLMechanisms()->Count(), 0);
    // A silent server cannot hold a check for ever.
    EXPECT_GT(fresh->ReadTimeout(), 0);
    // TLS modes need the TLS handler; the port follows implicit TLS.
    EXPECT_THROW(fresh->SetUseTLS(utUseImplicitTLS), ENetTLSClientSSLIOHandlerRequred);
    fresh->SetIOHandler(NetCreate<TNetSSLIOHandlerSocketOpenSSL>(fresh.get()));
    fresh->SetUseTLS(utUseImplicitTLS);
    EXPECT_EQ(fresh->Port(), 995);
    fresh->SetUseTLS(utUseExplicitTLS);
    EXPECT_EQ(fresh->Port(), 110);
    // "stls" in any case counts.
    fresh->Capabilities()->Add("stls");
    EXPECT_TRUE(fresh->SupportsTLS());
}

TEST_F(POP3Protocol, GreetingTimestampAndAPOPDigest) {
    Pop->AuthType = atAPOP;
    Start(Talk({"+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us> welcome", "<", "-ERR no CAPA", "<",
                "+OK maildrop has 1 message (369 octets)", "<", "+OK 1 369", "<", "+OK bye", "!close"}));
    Pop->Connect();
    EXPECT_EQ(Pop->APOPTimestamp(), "<1896.697170952@dbc.mtview.ca.us>");
    EXPECT_TRUE(Pop->HasAPOPTimestamp());
    EXPECT_FALSE(Pop->HasCapabilities());
    EXPECT_EQ(Pop->GetMessageCount(), 1);
    Pop->Disconnect();
    // The digest of RFC 1939's example, in lower case.
    EXPECT_EQ(Peer->Received(), "CAPA\r\nAPOP mrose c4c9334bac560ecc979e58001b3e22fb\r\nSTAT\r\nQUIT\r\n");
}

TEST_F(POP3Protocol, APOPWithoutTimestampSendsNothingAndCloses) {
    Pop->AuthType = atAPOP;
    Start(Talk({"+OK ready <1896.697170952", "<", "-ERR", "<", "+OK", "!wait_close"}));
    try {
        Pop->Connect();
        FAIL();
    } catch (const ENetDoesNotSupportAPOP &e) {
        EXPECT_STREQ(e.what(), "Server do not support APOP (no timestamp)");
    }
    EXPECT_EQ(Pop->APOPTimestamp(), "");
    EXPECT_FALSE(Pop->Connected());
    EXPECT_EQ(Peer->Received(), "CAPA\r\nQUIT\r\n");
}

TEST_F(POP3Protocol, SASLWithoutMechanismsSendsNothing) {
    Pop->AuthType = atSASL;
    Start(Talk({"+OK ready", "<", "+OK", "SASL PLAIN", ".", "<", "+OK", "!wait_close"}));
    try {
        Pop->Connect();
        FAIL();
    } catch (const ENetSASLMechNeeded &e) {
        EXPECT_STREQ(e.what(), "Need SASL mechanisms to login with it!!");
    }
    EXPECT_FALSE(Pop->Connected());
    EXPECT_EQ(Peer->Received(), "CAPA\r\nQUIT\r\n");
}

TEST_F(POP3Protocol, LineBreaksInCredentialsAreRefusedBeforeConnecting) {
    // Nothing listens on this port: only a refusal before any network work
    // gives this exception.
    Pop->SetPort(1);
    for (const std::string &bad : {std::string("a\r\nDELE 1"), std::string("a\nb"), std::string("a\0b", 3)}) {
        Pop->Username = bad;
        EXPECT_THROW(Pop->Connect(), ENetPOP3UnsafeCredentials);
        Pop->Username = "mrose";
        Pop->Password = bad;
        EXPECT_THROW(Pop->Connect(), ENetPOP3UnsafeCredentials);
        Pop->Password = "tanstaaf";
        EXPECT_FALSE(Pop->Connected());
    }
}

TEST_F(POP3Protocol, RefusedLogInSaysGoodbyeAndCloses) {
    Start(Talk({"+OK ready", "<", "+OK", ".", "<", "+OK", "<", "-ERR [AUTH] Authentication failed.", "<",
                "+OK bye", "!close"}));
    try {
        Pop->Connect();
        FAIL();
    } catch (const ENetReplyPOP3Error &e) {
        EXPECT_STREQ(e.what(), "Authentication failed.\r\n");
    }
    EXPECT_FALSE(Pop->Connected());
    EXPECT_EQ(Peer->Received(), "CAPA\r\nUSER mrose\r\nPASS tanstaaf\r\nQUIT\r\n");
}

TEST_F(POP3Protocol, GarbledGreetingOrLogInReplyCloses) {
    Start(Talk({"* OK IMAP4rev1 ready", "!wait_close"}));
    EXPECT_THROW(Pop->Connect(), ENetReplyPOP3Error);
    EXPECT_FALSE(Pop->Connected());
    EXPECT_EQ(Peer->Received(), "");

    Start(Talk({"-ERR [SYS/TEMP] too busy", "!wait_close"}));
    EXPECT_THROW(Pop->Connect(), ENetReplyPOP3Error);
    EXPECT_FALSE(Pop->Connected());

    // Out of step after a garbled reply: no goodbye, just closed.
    Start(Talk({"+OK ready", "<", "+OK", ".", "<", "250 what?", "!wait_close"}));
    EXPECT_THROW(Pop->Connect(), ENetReplyPOP3Error);
    EXPECT_FALSE(Pop->Connected());
    EXPECT_EQ(Peer->Received(), "CAPA\r\nUSER mrose\r\n");
}

TEST_F(POP3Protocol, PeerClosingOrStallingDuringLogInEndsWithAnException) {
    Start(Talk({"+OK ready", "<", "+OK", "USER", "!close"}));
    EXPECT_THROW(Pop->Connect(), ENetConnClosedGracefully);
    EXPECT_FALSE(Pop->Connected());

    Pop->SetReadTimeout(300);
    Start(Talk({"+OK ready", "<", "+OK", ".", "<", "!sleep:2000"}));
    EXPECT_THROW(Pop->Connect(), ENetReadTimeout);
    EXPECT_FALSE(Pop->Connected());
}

TEST_F(POP3Protocol, BadAnswerToQuitStillCloses) {
    Start(LoggedIn({"<", "-ERR cannot update maildrop", "!wait_close"}));
    Pop->Connect();
    try {
        Pop->Disconnect();
        FAIL();
    } catch (const ENetReplyPOP3Error &e) {
        EXPECT_STREQ(e.what(), "cannot update maildrop\r\n");
    }
    EXPECT_FALSE(Pop->Connected());

    Start(LoggedIn({"<", "garbage", "!wait_close"}));
    Pop->Connect();
    EXPECT_THROW(Pop->Disconnect(), ENetReplyPOP3Error);
    EXPECT_FALSE(Pop->Connected());

    Start(LoggedIn({"<", "!close"}));
    Pop->Connect();
    EXPECT_THROW(Pop->Disconnect(), ENetConnClosedGracefully);
    EXPECT_FALSE(Pop->Connected());
}

TEST_F(POP3Protocol, CountsAndSizes) {
    Start(LoggedIn({"<", "+OK 5 1200", "<", "+OK 3 120", "<", "+OK 3", "<", "+OK 3 many", "<", "+OK", "<",
                    "+OK 7", "<", "+OK x 5", "<", "-ERR no such message", "<", "+OK 5 1", "!wait_close"}));
    Pop->Connect();
    EXPECT_EQ(Pop->GetMessageCount(), 5);
    EXPECT_EQ(Pop->GetMessageSize(3), 120);
    EXPECT_EQ(Pop->GetMessageSize(3), -1);
    EXPECT_EQ(Pop->GetMessageSize(3), -1);
    EXPECT_EQ(Pop->GetMessageCount(), 0);
    EXPECT_THROW(Pop->GetMessageCount(), EConvertError);
    EXPECT_THROW(Pop->GetMessageCount(), EConvertError);
    EXPECT_THROW(Pop->GetMessageSize(9), ENetReplyPOP3Error);
    // Still in step and connected after all of it.
    EXPECT_TRUE(Pop->Connected());
    EXPECT_EQ(Pop->GetMessageCount(), 5);
    Pop->Disconnect(false);
    EXPECT_EQ(Peer->Received(),
              "CAPA\r\nUSER mrose\r\nPASS tanstaaf\r\nSTAT\r\nLIST 3\r\nLIST 3\r\nLIST 3\r\nSTAT\r\nSTAT\r\nSTAT\r\n"
              "LIST 9\r\nSTAT\r\n");
}

TEST_F(POP3Protocol, RefusedCommandsLeaveTheSessionOpen) {
    Start(LoggedIn({"<", "-ERR no such message", "<", "-ERR [IN-USE] locked", "<", "-ERR no", "<", "+OK",
                    "!wait_close"}));
    Pop->Connect();
    Msg->Subject = "untouched";
    EXPECT_FALSE(Pop->RetrieveMessage(4, *Msg));
    EXPECT_EQ(Msg->Subject, "untouched");
    try {
        Pop->DeleteMessage(4);
        FAIL();
    } catch (const ENetReplyPOP3Error &e) {
        EXPECT_STREQ(e.what(), "locked\r\n");
    }
    EXPECT_FALSE(Pop->ResetDeletions());
    EXPECT_TRUE(Pop->ResetDeletions());
    EXPECT_TRUE(Pop->Connected());
}

TEST_F(POP3Protocol, StatusLineOverTheLimitEndsWithAnException) {
    Start(LoggedIn({"<", "!sendrep:100000:41", "!wait_close"}));
    Pop->Connect();
    EXPECT_THROW(Pop->GetMessageCount(), ENetReadLnMaxLineLengthExceeded);
    // The rest of that line must never pass as the next reply.
    EXPECT_FALSE(Pop->Connected());
}

TEST_F(POP3Protocol, SilentServerAfterACommandEndsTheSession) {
    Start(LoggedIn({"<", "!sleep:1000", "+OK 2 200", "<", "+OK 2 200", "!wait_close"}));
    Pop->Connect();
    Pop->SetReadTimeout(200);
    EXPECT_THROW(Pop->GetMessageCount(), ENetReadTimeout);
    // The late answer must not be taken as the reply to a later command.
    EXPECT_FALSE(Pop->Connected());
}

TEST_F(POP3Protocol, EndlessCapabilityListIsCut) {
    std::vector<std::string> steps = Talk({"+OK ready", "<", "+OK"});
    steps.push_back("sendrep:5000:" + std::string("5845595a0d0a"));  // "XEYZ\r\n"
    steps.push_back("wait_close");
    Start(steps);
    EXPECT_THROW(Pop->Connect(), ENetMaxCaptureLineExceeded);
    EXPECT_FALSE(Pop->Connected());

    // Asked again in a session: the same, and the session ends.
    steps = LoggedIn({"<", "+OK"});
    steps.push_back("sendrep:5000:" + std::string("5845595a0d0a"));
    steps.push_back("wait_close");
    Start(steps);
    Pop->Connect();
    EXPECT_THROW(Pop->QueryCapabilities(), ENetMaxCaptureLineExceeded);
    EXPECT_FALSE(Pop->Connected());
    EXPECT_EQ(Pop->Capabilities()->Count(), 0);
}

TEST_F(POP3Protocol, EndlessContinuedReplyIsCut) {
    std::vector<std::string> steps = LoggedIn({"<"});
    steps.push_back("sendrep:100000:" + std::string("2b4f4b2d0d0a"));  // "+OK-\r\n"
    steps.push_back("wait_close");
    Start(steps);
    Pop->Connect();
    EXPECT_THROW(Pop->GetMessageCount(), ENetMaxCaptureLineExceeded);
    EXPECT_FALSE(Pop->Connected());
}

TEST_F(POP3Protocol, EndlessBlankLinesAreNoReply) {
    std::vector<std::string> steps = LoggedIn({"<"});
    steps.push_back("sendrep:100000:0d0a");
    steps.push_back("wait_close");
    Start(steps);
    Pop->Connect();
    EXPECT_THROW(Pop->GetMessageCount(), ENetReplyPOP3Error);
    EXPECT_FALSE(Pop->Connected());
}

TEST_F(POP3Protocol, AnswerWithoutStatusEndsTheSession) {
    // A server that sends a message where a status belongs: its lines must
    // not become the replies to the next commands.
    Start(LoggedIn({"<", "Subject: hello", "+OK", "+OK", "!wait_close"}));
    Pop->Connect();
    EXPECT_THROW(Pop->DeleteMessage(1), ENetReplyPOP3Error);
    EXPECT_FALSE(Pop->Connected());
    EXPECT_THROW(Pop->DeleteMessage(2), Exception);
    EXPECT_EQ(Peer->Received(), "CAPA\r\nUSER mrose\r\nPASS tanstaaf\r\nDELE 1\r\n");
}

TEST_F(POP3Protocol, TLSNotOfferedTakesThePlainOrTheFailingRoad) {
    auto *tls = NetCreate<TNetSSLIOHandlerSocketOpenSSL>(Pop.get());
    Pop->SetIOHandler(tls);
    // CAPA refused: with explicit TLS the session goes on in plain text,
    // without ever sending STLS.
    Pop->SetUseTLS(utUseExplicitTLS);
    Start(Talk({"+OK ready", "<", "-ERR", "<", "+OK", "<", "+OK", "<", "+OK 0 0", "!wait_close"}));
    Pop->Connect();
    EXPECT_EQ(Pop->GetMessageCount(), 0);
    Pop->Disconnect(false);
    EXPECT_EQ(Peer->Received(), "CAPA\r\nUSER mrose\r\nPASS tanstaaf\r\nSTAT\r\n");

    // Required TLS: refused and closed, no password sent.
    Pop->SetUseTLS(utUseRequireTLS);
    Start(Talk({"+OK ready", "<", "+OK", "USER", ".", "<", "+OK", "!wait_close"}));
    EXPECT_THROW(Pop->Connect(), ENetTLSClientTLSNotAvailable);
    EXPECT_FALSE(Pop->Connected());
    EXPECT_EQ(Peer->Received().find("PASS"), std::string::npos);
}

}  // namespace

// Outside the anonymous namespace above: the STLS test needs the test PKI.
#include "OpenSSLServer.h"

TEST(POP3STLS, PlainBytesAfterTheSTLSAnswerAreDroppedAndCapabilitiesAskedAgain) {
    const TestPKI &pki = TestPKI::Get();
    TestPKI::TrustTestCA();
    StartTLSServer peer(StartTLSServer::InjectAfterSTLS, pki.ServerCert, pki.Key);
    auto pop = NetCreateNoOwner<TNetPOP3>();
    pop->SetIOHandler(NetCreate<TNetSSLIOHandlerSocketOpenSSL>(pop.get()));
    pop->SetUseTLS(utUseRequireTLS);
    pop->SetHost("127.0.0.1");
    pop->SetPort(peer.Port());
    pop->SetReadTimeout(3000);
    pop->Username = "u";
    pop->Password = "p";
    pop->Connect();
    EXPECT_GE(pop->Capabilities()->IndexOf("X-OVER-TLS"), 0);
    EXPECT_LT(pop->Capabilities()->IndexOf("INJECTED"), 0);
    EXPECT_LT(pop->Capabilities()->IndexOf("STLS"), 0);
    EXPECT_EQ(pop->GetMessageCount(), 0);
    pop->Disconnect();
    EXPECT_FALSE(pop->Connected());
}

namespace {

// STLS that goes wrong: refused, answered by something that is no TLS, or
// by silence. In every case the log-in fails, the client is closed and no
// user name or password has crossed the wire in plain text.
TEST_F(POP3Protocol, FailedSTLSNeverFallsBackToPlainText) {
    Pop->SetIOHandler(NetCreate<TNetSSLIOHandlerSocketOpenSSL>(Pop.get()));
    for (TNetUseTLS mode : {utUseRequireTLS, utUseExplicitTLS}) {
        SCOPED_TRACE(int(mode));
        Pop->SetUseTLS(mode);
        Pop->SetReadTimeout(3000);

        Start(Talk({"+OK ready", "<", "+OK", "STLS", ".", "<", "-ERR not now", "<", "+OK bye", "!wait_close"}));
        try {
            Pop->Connect();
            FAIL() << "log-in went on after a refused STLS";
        } catch (const ENetTLSClientTLSNotAvailable &e) {
            EXPECT_STREQ(e.what(), "Start SSL negotiation command failed.");
        }
        EXPECT_FALSE(Pop->Connected());
        std::string got = Peer->Received();
        EXPECT_EQ(got.rfind("CAPA\r\nSTLS\r\n", 0), 0u) << got;
        EXPECT_EQ(got.find("USER"), std::string::npos) << got;
        EXPECT_EQ(got.find("PASS"), std::string::npos) << got;

        // A server that then ignores the goodbye as well: still the reason
        // why TLS failed, not the time-out of the goodbye.
        Pop->SetReadTimeout(300);
        Start(Talk({"+OK ready", "<", "+OK", "STLS", ".", "<", "-ERR not now", "!wait_close"}));
        EXPECT_THROW(Pop->Connect(), ENetTLSClientTLSNotAvailable);
        EXPECT_FALSE(Pop->Connected());
        Pop->SetReadTimeout(3000);

        Start(Talk({"+OK ready", "<", "+OK", "STLS", ".", "<", "+OK go ahead", "HTTP/1.0 400 what?", "!wait_close"}));
        EXPECT_THROW(Pop->Connect(), ENetTLSClientTLSHandShakeFailed);
        EXPECT_FALSE(Pop->Connected());
        got = Peer->Received();
        EXPECT_EQ(got.find("USER"), std::string::npos) << got;
        EXPECT_EQ(got.find("PASS"), std::string::npos) << got;

        // Silence where the handshake should be: bounded, then the same.
        Pop->SetConnectTimeout(400);
        Pop->SetReadTimeout(400);
        Start(Talk({"+OK ready", "<", "+OK", "STLS", ".", "<", "+OK go ahead", "!sleep:10000"}));
        EXPECT_THROW(Pop->Connect(), ENetTLSClientTLSHandShakeFailed);
        Pop->SetConnectTimeout(5000);
        EXPECT_FALSE(Pop->Connected());
    }
}

}  // namespace
