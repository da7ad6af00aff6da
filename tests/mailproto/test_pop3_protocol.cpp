// TNetPOP3 against servers that answer exactly what a test wants, including
// servers that break the protocol: the client must end each such exchange
// with an exception, never a hang, and never stay "connected" without a
// session.

#include "NetPOP3.h"
#include "NetSSLOpenSSL.h"
#include "OpenSSLServer.h"
#include "ScriptedPeer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <map>

namespace {

const auto Talk = ScriptedPeer::Talk;

// Greeting with the RFC 1939 timestamp, CAPA, USER and PASS accepted.
std::vector<std::string> LoggedIn(std::initializer_list<std::string> rest) {
    std::vector<std::string> steps = Talk({"+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>", "<", "+OK",
                                           "USER", "TOP", ".", "<", "+OK", "<", "+OK"});
    auto more = Talk(rest);
    steps.insert(steps.end(), more.begin(), more.end());
    return steps;
}

class POP3Protocol : public ::testing::Test {
protected:
    void SetUp() override {
        Pop->SetHost("127.0.0.1");
        Pop->Username = "mrose";
        Pop->Password = "tanstaaf";
        Pop->SetConnectTimeout(5000);
        Pop->SetReadTimeout(3000);
    }
    void Start(const std::vector<std::string> &steps) {
        Peer = std::make_unique<ScriptedPeer>(steps);
        Pop->SetPort(Peer->Port());
    }
    // The call fails with E (and the text, when given) and leaves the
    // client closed.
    template <class E>
    void FailsClosed(const std::function<void()> &call, const char *text = nullptr) {
        std::string got = Thrown<E>(call);
        EXPECT_NE(got, "(no exception)");
        if (text) {
            EXPECT_EQ(got, text);
        }
        EXPECT_FALSE(Pop->Connected());
    }
    void UseTLS(TNetUseTLS mode) {
        if (!dynamic_cast<TNetSSLIOHandlerSocketOpenSSL *>(Pop->IOHandler()))
            Pop->SetIOHandler(NetCreate<TNetSSLIOHandlerSocketOpenSSL>(Pop.get()));
        Pop->SetUseTLS(mode);
    }

    std::unique_ptr<TNetPOP3> Pop = NetCreateNoOwner<TNetPOP3>();
    std::unique_ptr<TNetMessage> Msg = NetCreateNoOwner<TNetMessage>();
    std::unique_ptr<ScriptedPeer> Peer;
    const std::function<void()> Connect = [this] { Pop->Connect(); };
};

TEST_F(POP3Protocol, SilentServersCannotHoldACheckAndSTLSIsFoundInAnyCase) {
    EXPECT_GT(NetCreateNoOwner<TNetPOP3>()->ReadTimeout(), 0);
    Pop->Capabilities()->Add("stls");
    EXPECT_TRUE(Pop->SupportsTLS());
}

TEST_F(POP3Protocol, GreetingTimestampAndAPOPDigest) {
    Pop->AuthType = atAPOP;
    Start(Talk({"+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us> welcome", "<", "-ERR no CAPA", "<",
                "+OK maildrop has 1 message (369 octets)", "<", "+OK 1 369", "<", "+OK bye", "!close"}));
    Pop->Connect();
    EXPECT_EQ(Pop->APOPTimestamp(), "<1896.697170952@dbc.mtview.ca.us>");
    EXPECT_FALSE(Pop->HasCapabilities());
    EXPECT_EQ(Pop->GetMessageCount(), 1);
    Pop->Disconnect();
    // The digest of RFC 1939's example, in lower case.
    EXPECT_EQ(Peer->Received(), "CAPA\r\nAPOP mrose c4c9334bac560ecc979e58001b3e22fb\r\nSTAT\r\nQUIT\r\n");
}

TEST_F(POP3Protocol, LogInThatCannotBeginSendsNothingAndCloses) {
    Pop->AuthType = atAPOP;
    Start(Talk({"+OK ready <1896.697170952", "<", "-ERR", "<", "+OK", "!wait_close"}));
    FailsClosed<ENetDoesNotSupportAPOP>(Connect, "Server do not support APOP (no timestamp)");
    EXPECT_EQ(Pop->APOPTimestamp(), "");
    EXPECT_EQ(Peer->Received(), "CAPA\r\nQUIT\r\n");

    Pop->AuthType = atSASL;
    Start(Talk({"+OK ready", "<", "+OK", "SASL PLAIN", ".", "<", "+OK", "!wait_close"}));
    FailsClosed<ENetSASLMechNeeded>(Connect, "Need SASL mechanisms to login with it!!");
    EXPECT_EQ(Peer->Received(), "CAPA\r\nQUIT\r\n");
}

TEST_F(POP3Protocol, LineBreaksInCredentialsAreRefusedBeforeConnecting) {
    // Nothing listens on this port: only a refusal before any network work
    // gives this exception.
    Pop->SetPort(1);
    for (const std::string &bad : {std::string("a\r\nDELE 1"), std::string("a\nb"), std::string("a\0b", 3)}) {
        Pop->Username = bad;
        FailsClosed<ENetPOP3UnsafeCredentials>(Connect);
        Pop->Username = "mrose";
        Pop->Password = bad;
        FailsClosed<ENetPOP3UnsafeCredentials>(Connect);
        Pop->Password = "tanstaaf";
    }
}

TEST_F(POP3Protocol, RefusedLogInSaysGoodbyeAndCloses) {
    Start(Talk({"+OK ready", "<", "+OK", ".", "<", "+OK", "<", "-ERR [AUTH] Authentication failed.", "<",
                "+OK bye", "!close"}));
    FailsClosed<ENetReplyPOP3Error>(Connect, "Authentication failed.\r\n");
    EXPECT_EQ(Peer->Received(), "CAPA\r\nUSER mrose\r\nPASS tanstaaf\r\nQUIT\r\n");
}

TEST_F(POP3Protocol, GarbledGreetingOrLogInReplyCloses) {
    Start(Talk({"* OK IMAP4rev1 ready", "!wait_close"}));
    FailsClosed<ENetReplyPOP3Error>(Connect);
    EXPECT_EQ(Peer->Received(), "");
    Start(Talk({"-ERR [SYS/TEMP] too busy", "!wait_close"}));
    FailsClosed<ENetReplyPOP3Error>(Connect);
    // Out of step after a garbled reply: no goodbye, just closed.
    Start(Talk({"+OK ready", "<", "+OK", ".", "<", "250 what?", "!wait_close"}));
    FailsClosed<ENetReplyPOP3Error>(Connect);
    EXPECT_EQ(Peer->Received(), "CAPA\r\nUSER mrose\r\n");
}

TEST_F(POP3Protocol, PeerClosingOrStallingDuringLogInEndsWithAnException) {
    Start(Talk({"+OK ready", "<", "+OK", "USER", "!close"}));
    FailsClosed<ENetConnClosedGracefully>(Connect);
    Pop->SetReadTimeout(300);
    Start(Talk({"+OK ready", "<", "+OK", ".", "<", "!sleep:2000"}));
    FailsClosed<ENetReadTimeout>(Connect);
}

TEST_F(POP3Protocol, BadAnswerToQuitStillCloses) {
    const std::function<void()> quit = [this] { Pop->Disconnect(); };
    Start(LoggedIn({"<", "-ERR cannot update maildrop", "!wait_close"}));
    Pop->Connect();
    FailsClosed<ENetReplyPOP3Error>(quit, "cannot update maildrop\r\n");
    Start(LoggedIn({"<", "garbage", "!wait_close"}));
    Pop->Connect();
    FailsClosed<ENetReplyPOP3Error>(quit);
    Start(LoggedIn({"<", "!close"}));
    Pop->Connect();
    FailsClosed<ENetConnClosedGracefully>(quit);
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
    EXPECT_FALSE(Pop->DeleteMessage(4));  // "-ERR [IN-USE] locked"
    EXPECT_EQ(Pop->LastCmdResult()->TextJoined(), "locked");
    EXPECT_FALSE(Pop->ResetDeletions());
    EXPECT_TRUE(Pop->ResetDeletions());
    EXPECT_TRUE(Pop->Connected());
}

// Whatever is left of an answer the client gave up on must never pass as
// the reply to the next command: the session ends.
TEST_F(POP3Protocol, AnswersTheClientGivesUpOnEndTheSession) {
    const std::function<void()> count = [this] { Pop->GetMessageCount(); };
    Start(LoggedIn({"<", "!sendrep:100000:41", "!wait_close"}));  // an endless status line
    Pop->Connect();
    FailsClosed<ENetReadLnMaxLineLengthExceeded>(count);

    Start(LoggedIn({"<", "!sendrep:100000:2b4f4b2d0d0a", "!wait_close"}));  // "+OK-" for ever
    Pop->Connect();
    FailsClosed<ENetMaxCaptureLineExceeded>(count);

    Start(LoggedIn({"<", "!sendrep:100000:0d0a", "!wait_close"}));  // blank lines for ever
    Pop->Connect();
    FailsClosed<ENetReplyPOP3Error>(count);

    Start(LoggedIn({"<", "!sleep:1000", "+OK 2 200", "<", "+OK 2 200", "!wait_close"}));
    Pop->Connect();
    Pop->SetReadTimeout(200);
    FailsClosed<ENetReadTimeout>(count);
    Pop->SetReadTimeout(3000);

    // A header trickled as short lines, each in time: the answer as a whole
    // runs out of time.
    {
        std::vector<std::string> steps = LoggedIn({"<", "+OK"});
        for (int i = 0; i < 40; ++i) {
            auto line = Talk({"X-Slow: " + std::to_string(i), "!sleep:50"});
            steps.insert(steps.end(), line.begin(), line.end());
        }
        auto end = Talk({"", ".", "!wait_close"});
        steps.insert(steps.end(), end.begin(), end.end());
        Start(steps);
        Pop->Connect();
        Pop->SetReadTimeout(300);
        FailsClosed<ENetReadTimeout>([this] { Pop->RetrieveHeaders(1, *Msg); });
        Pop->SetReadTimeout(3000);
    }

    // A message where a status belongs.
    Start(LoggedIn({"<", "Subject: hello", "+OK", "+OK", "!wait_close"}));
    Pop->Connect();
    FailsClosed<ENetReplyPOP3Error>([this] { Pop->DeleteMessage(1); });
    EXPECT_THROW(Pop->DeleteMessage(2), Exception);
    EXPECT_EQ(Peer->Received(), "CAPA\r\nUSER mrose\r\nPASS tanstaaf\r\nDELE 1\r\n");
}

// An ordinary command sent while an answer to one sent ahead is still due
// would take that answer for its own.
TEST_F(POP3Protocol, NoCommandGoesOutWhileAnswersSentAheadAreDue) {
    Start(LoggedIn({"<", "+OK", "Subject: one", "", ".", "<", "+OK 1 100", "!wait_close"}));
    Pop->Connect();
    Pop->SendAhead({"TOP 1 0"});
    EXPECT_THROW(Pop->RetrieveMessage(2, *Msg), ENetPOP3Exception);
    EXPECT_TRUE(Pop->Connected());
    Pop->ReadHeadersReply(*Msg);
    EXPECT_EQ(Msg->Subject, "one");
    EXPECT_EQ(Pop->GetMessageCount(), 1);
    Pop->Disconnect(false);
    EXPECT_EQ(Peer->Received(), "CAPA\r\nUSER mrose\r\nPASS tanstaaf\r\nTOP 1 0\r\nSTAT\r\n");
}

// The server carries out a DELE at QUIT: one whose answer nobody read has
// no record with the caller, so the goodbye is not said.
TEST_F(POP3Protocol, AGoodbyeWithADeletionAnswerUnreadIsNotSaid) {
    Start(LoggedIn({"<", "+OK", "<", "+OK bye", "!wait_close"}));
    Pop->Connect();
    Pop->SendAhead({"DELE 1"});
    FailsClosed<ENetPOP3Exception>([this] { Pop->Disconnect(); }, RSPOP3DeletionsUnanswered);
    EXPECT_EQ(Pop->PendingReplies(), 0);
    EXPECT_EQ(Peer->Received(), "CAPA\r\nUSER mrose\r\nPASS tanstaaf\r\nDELE 1\r\n");
}

TEST_F(POP3Protocol, UniqueIdentifiers) {
    Start(LoggedIn({"<", "+OK", "1 QhdPYR:00WBw1Ph7x7", "2 twin", "3 " + std::string(71, 'x'), "4 twin",
                    "5 ctl\x01id", "6 ..6", "7", "x 8", "6 again", ".", "<", "+OK 2 abc", "<", "+OK 4 abc", "<",
                    "-ERR no such message", "<", "-ERR not offered", "<", "+OK 1 1", "!wait_close"}));
    Pop->Connect();
    std::map<int, std::string> uids;
    ASSERT_TRUE(Pop->GetUIDs(uids));
    // Too long, a control character, no identifier, no number: left out;
    // so are both messages that share one.
    EXPECT_EQ(uids, (std::map<int, std::string>{{1, "QhdPYR:00WBw1Ph7x7"}, {6, "..6"}}));
    EXPECT_EQ(Pop->GetUID(2), "abc");
    EXPECT_EQ(Pop->GetUID(3), "") << "the answer is for another message";
    EXPECT_EQ(Pop->GetUID(9), "");
    EXPECT_FALSE(Pop->GetUIDs(uids));
    EXPECT_TRUE(uids.empty());
    // Still in step.
    EXPECT_EQ(Pop->GetMessageCount(), 1);
    EXPECT_FALSE(Pop->SupportsUIDL());
}

TEST_F(POP3Protocol, EndlessCapabilityListIsCut) {
    Start(Talk({"+OK ready", "<", "+OK", "!sendrep:5000:5845595a0d0a", "!wait_close"}));  // "XEYZ" for ever
    FailsClosed<ENetMaxCaptureLineExceeded>(Connect);
    // Asked again in a session: the same, and the session ends.
    Start(LoggedIn({"<", "+OK", "!sendrep:5000:5845595a0d0a", "!wait_close"}));
    Pop->Connect();
    FailsClosed<ENetMaxCaptureLineExceeded>([this] { Pop->QueryCapabilities(); });
    EXPECT_EQ(Pop->Capabilities()->Count(), 0);
}

TEST_F(POP3Protocol, TLSNotOfferedTakesThePlainOrTheFailingRoad) {
    // CAPA refused: with explicit TLS the session goes on in plain text,
    // without ever sending STLS.
    UseTLS(utUseExplicitTLS);
    Start(Talk({"+OK ready", "<", "-ERR", "<", "+OK", "<", "+OK", "<", "+OK 0 0", "!wait_close"}));
    Pop->Connect();
    EXPECT_EQ(Pop->GetMessageCount(), 0);
    Pop->Disconnect(false);
    EXPECT_EQ(Peer->Received(), "CAPA\r\nUSER mrose\r\nPASS tanstaaf\r\nSTAT\r\n");
    // Required TLS: refused and closed, no password sent.
    UseTLS(utUseRequireTLS);
    Start(Talk({"+OK ready", "<", "+OK", "USER", ".", "<", "+OK", "!wait_close"}));
    FailsClosed<ENetTLSClientTLSNotAvailable>(Connect);
    EXPECT_EQ(Peer->Received().find("PASS"), std::string::npos);
}

TEST_F(POP3Protocol, PlainBytesAfterTheSTLSAnswerAreDroppedAndCapabilitiesAskedAgain) {
    const TestPKI &pki = TestPKI::Get();
    TestPKI::TrustTestCA();
    StartTLSServer peer(StartTLSServer::InjectAfterSTLS, pki.ServerCert, pki.Key);
    UseTLS(utUseRequireTLS);
    Pop->SetPort(peer.Port());
    Pop->Connect();
    EXPECT_GE(Pop->Capabilities()->IndexOf("X-OVER-TLS"), 0);
    EXPECT_LT(Pop->Capabilities()->IndexOf("INJECTED"), 0);
    EXPECT_LT(Pop->Capabilities()->IndexOf("STLS"), 0);
    EXPECT_EQ(Pop->GetMessageCount(), 0);
    Pop->Disconnect();
    EXPECT_FALSE(Pop->Connected());
}

// STLS that goes wrong: refused, answered by something that is no TLS, or
// by silence. In every case the log-in fails, the client is closed and no
// user name or password has crossed the wire in plain text.
TEST_F(POP3Protocol, FailedSTLSNeverFallsBackToPlainText) {
    auto noCredentials = [&] {
        std::string got = Peer->Received();
        EXPECT_EQ(got.rfind("CAPA\r\nSTLS\r\n", 0), 0u) << got;
        EXPECT_EQ(got.find("USER"), std::string::npos) << got;
        EXPECT_EQ(got.find("PASS"), std::string::npos) << got;
    };
    for (TNetUseTLS mode : {utUseRequireTLS, utUseExplicitTLS}) {
        SCOPED_TRACE(int(mode));
        UseTLS(mode);
        Start(Talk({"+OK ready", "<", "+OK", "STLS", ".", "<", "-ERR not now", "<", "+OK bye", "!wait_close"}));
        FailsClosed<ENetTLSClientTLSNotAvailable>(Connect, "Start SSL negotiation command failed.");
        noCredentials();

        // A server that then ignores the goodbye as well: still the reason
        // why TLS failed, not the time-out of the goodbye.
        Pop->SetReadTimeout(300);
        Start(Talk({"+OK ready", "<", "+OK", "STLS", ".", "<", "-ERR not now", "!wait_close"}));
        FailsClosed<ENetTLSClientTLSNotAvailable>(Connect);
        Pop->SetReadTimeout(3000);

        Start(Talk({"+OK ready", "<", "+OK", "STLS", ".", "<", "+OK go ahead", "HTTP/1.0 400 what?", "!wait_close"}));
        FailsClosed<ENetTLSClientTLSHandShakeFailed>(Connect);
        noCredentials();

        // Silence where the handshake should be: bounded, then the same.
        Pop->SetConnectTimeout(400);
        Pop->SetReadTimeout(400);
        Start(Talk({"+OK ready", "<", "+OK", "STLS", ".", "<", "+OK go ahead", "!sleep:10000"}));
        FailsClosed<ENetTLSClientTLSHandShakeFailed>(Connect);
        Pop->SetConnectTimeout(5000);
        Pop->SetReadTimeout(3000);
    }
}

}  // namespace
