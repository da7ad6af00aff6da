// The IMAP4 client against scripted servers on loopback: exact bytes on the
// wire, literals split across reads, hostile sizes and lines, unsolicited
// responses, refused log-ins and what the client sends.
#include "NetGlobalProtocols.h"
#include "NetIMAP4.h"
#include "NetMessage.h"
#include "NetSASLMechanisms.h"
#include "NetSSLOpenSSL.h"
#include "ScriptedPeer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Steps = std::vector<std::string>;

std::string S(const std::string &bytes) { return ScriptedPeer::Send(bytes); }

// Greeting, LOGIN (C1) and CAPABILITY (C2) answered well.
Steps LoggedIn(const std::string &caps = "IMAP4rev1") {
    return {S("* OK ready\r\n"), "readline", S("C1 OK Logged in\r\n"), "readline",
            S("* CAPABILITY " + caps + "\r\nC2 OK done\r\n")};
}

// ...and SELECT "INBOX" (C3) with n messages, then the next command read.
Steps Selected(int n, const std::string &caps = "IMAP4rev1") {
    Steps s = LoggedIn(caps);
    s.push_back("readline");
    s.push_back(S("* FLAGS (\\Seen)\r\n* " + std::to_string(n) + " EXISTS\r\n* 0 RECENT\r\nC3 OK [READ-WRITE] ok\r\n"));
    s.push_back("readline");
    return s;
}

Steps operator+(Steps a, const Steps &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::unique_ptr<TNetIMAP4> Client(const ScriptedPeer &peer) {
    auto c = NetCreateNoOwner<TNetIMAP4>();
    c->SetHost("127.0.0.1");
    c->SetPort(peer.Port());
    c->Username = "user";
    c->Password = "pass word";
    c->SetConnectTimeout(5000);
    c->SetReadTimeout(5000);
    return c;
}

// A client logged in with INBOX selected.
std::unique_ptr<TNetIMAP4> InInbox(const ScriptedPeer &peer) {
    auto c = Client(peer);
    c->Connect(true);
    EXPECT_TRUE(c->SelectMailBox("INBOX"));
    return c;
}

bool FetchHeaders(TNetIMAP4 &c, int n = 1) { return c.RetrieveHeaders(n, *NetCreateNoOwner<TNetMessage>()); }

const std::string kHeader =
    "From: A <a@example.org>\r\n"
    "Subject: split\r\n"
    "X-Trap: C4 OK not the end\r\n"
    "Message-ID: <split@x>\r\n"
    "\r\n";

TEST(IMAPWire, TagsQuotingAndStateOnTheWire) {
    ScriptedPeer peer(Selected(2) + Steps{S("* 0 EXISTS\r\n* OK [ALERT] Over quota\r\nC4 OK [READ-ONLY] ok\r\n"),
                                          "readline", S("* BYE bye\r\nC5 OK done\r\n"), "close"});
    auto c = Client(peer);
    c->Password = "pa\"ss\\";
    ASSERT_TRUE(c->Connect(true));
    EXPECT_EQ(c->GreetingBanner, "ready");
    EXPECT_EQ(c->ConnectionState(), csAuthenticated);
    EXPECT_EQ(c->IMAPCapabilities()->Text(), TStringList{"IMAP4rev1"}.Text());
    ASSERT_TRUE(c->SelectMailBox("INBOX"));
    EXPECT_EQ(c->MailBox()->TotalMsgs, 2);
    EXPECT_EQ(c->ConnectionState(), csSelected);
    EXPECT_TRUE(c->MailBox()->ReadWrite);
    std::string alert;
    c->OnAlert = [&](TNetIMAP4 *, const std::string &text) { alert = text; };
    ASSERT_TRUE(c->SelectMailBox("A&B \"x\""));
    EXPECT_EQ(alert, "OK [ALERT] Over quota");
    EXPECT_FALSE(c->MailBox()->ReadWrite);
    EXPECT_EQ(c->MailBox()->TotalMsgs, 0);
    EXPECT_EQ(c->MailBox()->Name, "A&B \"x\"");
    c->Disconnect();
    EXPECT_FALSE(c->Connected());
    EXPECT_EQ(peer.Received(),
              "C1 LOGIN \"user\" \"pa\\\"ss\\\\\"\r\nC2 CAPABILITY\r\nC3 SELECT \"INBOX\"\r\n"
              "C4 SELECT \"A&-B \\\"x\\\"\"\r\nC5 LOGOUT\r\n");
}

TEST(IMAPWire, PreauthSkipsLogin) {
    ScriptedPeer peer({S("* PREAUTH welcome back\r\n"), "readline", S("* CAPABILITY IMAP4rev1\r\nC1 OK\r\n"),
                       "readline", S("* 1 EXISTS\r\nC2 OK ok\r\n"), "wait_close"});
    auto c = InInbox(peer);
    c->Disconnect(false);
    EXPECT_EQ(peer.Received().substr(0, 30), "C1 CAPABILITY\r\nC2 SELECT \"INBO");
}

TEST(IMAPWire, RefusedLoginRaisesWithTheServersText) {
    for (std::string answer : {"C1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n",
                               "C1 BAD Error in IMAP command LOGIN: bad arguments\r\n"}) {
        ScriptedPeer peer({S("* OK ready\r\n"), "readline", S(answer), "wait_close"});
        auto c = Client(peer);
        EXPECT_EQ(Thrown<ENetIMAP4LoginRefused>([&] { c->Connect(true); }) + "\r\n",
                  answer.substr(answer.find(' ', 3) + 1));
        EXPECT_EQ(c->ConnectionState(), csNonAuthenticated);
        EXPECT_EQ(Thrown<ENetConnectionStateError>([&] { c->SelectMailBox("INBOX"); }),
                  "Unable to execute command, wrong connection state;Current connection state: Non Authenticated.");
        c->Disconnect(false);
    }
    // A server that closes before its greeting, one that greets with BYE,
    // and one that disables LOGIN: the password is never sent.
    for (std::string greeting : {"", "* BYE Too many connections\r\n",
                                 "* OK [CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED] ready\r\n"}) {
        ScriptedPeer peer(greeting.empty() ? Steps{"close"} : Steps{S(greeting), "wait_close"});
        auto c = Client(peer);
        if (greeting.empty()) {
            EXPECT_THROW(c->Connect(true), ENetConnClosedGracefully);
        } else {
            EXPECT_THROW(c->Connect(true), ENetIMAP4LoginRefused) << greeting;
        }
        if (greeting.find("LOGINDISABLED") == std::string::npos) {
            EXPECT_FALSE(c->Connected());
        }
        c->Disconnect(false);
        EXPECT_EQ(peer.Received(), "") << greeting;
    }
}

TEST(IMAPWire, LoginTextsAreCheckedAndEightBitGoesAsLiteral) {
    {
        ScriptedPeer peer({S("* OK ready\r\n"), "wait_close"});
        auto c = Client(peer);
        c->Connect(false);
        for (std::string bad : {std::string("a\r\nC9 DELETE INBOX"), std::string("a\nb"), std::string("a\0b", 3)}) {
            c->Password = bad;
            EXPECT_THROW(c->Login(), ENetIMAP4InvalidText);
            c->Password = "ok";
            c->Username = bad;
            EXPECT_THROW(c->Login(), ENetIMAP4InvalidText);
        }
        c->Disconnect(false);
        EXPECT_EQ(peer.Received(), "");
    }
    ScriptedPeer peer({S("* OK ready\r\n"), "readline", S("+ go on\r\n"), "readline", S("+ more\r\n"), "read:5",
                       "readline", S("C1 OK Logged in\r\n"), "readline", S("* CAPABILITY IMAP4rev1\r\nC2 OK\r\n"),
                       "wait_close"});
    auto c = Client(peer);
    c->Username = "jörg";
    c->Password = "pässw";
    c->Connect(true);
    EXPECT_EQ(c->ConnectionState(), csAuthenticated);
    c->Disconnect(false);
    EXPECT_EQ(peer.Received(), "C1 LOGIN {5}\r\njörg {6}\r\npässw\r\nC2 CAPABILITY\r\n");
}

TEST(IMAPWire, SASLNeedsMechanismsAndTheServersList) {
    // No mechanism: refused before a byte goes out.
    {
        ScriptedPeer peer({S("* OK ready\r\n"), "wait_close"});
        auto c = Client(peer);
        c->AuthType = TNetIMAP4AuthenticationType::atSASL;
        EXPECT_EQ(Thrown<ENetSASLMechNeeded>([&] { c->Connect(true); }), "Need SASL mechanisms to login with it!!");
        EXPECT_EQ(c->ConnectionState(), csNonAuthenticated);
        c->Disconnect(false);
        EXPECT_EQ(peer.Received(), "");
    }
    // A server that will not list its capabilities gets no AUTHENTICATE.
    ScriptedPeer peer({S("* OK ready\r\n"), "readline", S("C1 BAD not now\r\n"), "wait_close"});
    auto c = Client(peer);
    c->AuthType = TNetIMAP4AuthenticationType::atSASL;
    auto *mech = NetCreate<TNetSASLPlain>(c.get());
    mech->Username = "user";
    mech->Password = "pass";
    c->SASLMechanisms()->Add(mech);
    EXPECT_EQ(Thrown<ENetIMAP4LoginRefused>([&] { c->Connect(true); }), "not now");
    EXPECT_EQ(c->ConnectionState(), csNonAuthenticated);
    c->Disconnect(false);
    EXPECT_EQ(peer.Received(), "C1 CAPABILITY\r\n");
}

TEST(IMAPWire, NeverStartTLSOnAPlainConnection) {
    // Asked to require TLS on the plain port, the client says goodbye
    // before a word of the log-in goes out; asked for it where available,
    // it logs in as it would without. Neither sends STARTTLS.
    const Steps greet = {S("* OK [CAPABILITY IMAP4rev1 STARTTLS] ready\r\n"), "readline"};
    for (TNetUseTLS use : {utUseRequireTLS, utUseExplicitTLS}) {
        bool require = use == utUseRequireTLS;
        ScriptedPeer peer(greet + (require ? Steps{S("* BYE bye\r\nC1 OK\r\n"), "wait_close"}
                                           : Steps{S("C1 OK Logged in\r\n"), "readline",
                                                   S("* CAPABILITY IMAP4rev1\r\nC2 OK\r\n"), "wait_close"}));
        auto c = Client(peer);
        c->SetIOHandler(NetCreate<TNetSSLIOHandlerSocketOpenSSL>(c.get()));
        c->SetUseTLS(use);
        c->SetPort(peer.Port());
        if (require) {
            EXPECT_EQ(Thrown<ENetTLSClientTLSNotAvailable>([&] { c->Connect(true); }),
                      "SSL is not available on this server.");
            EXPECT_FALSE(c->Connected());
            EXPECT_EQ(peer.Received(), "C1 LOGOUT\r\n");  // a goodbye, no credentials
        } else {
            c->Connect(true);
            EXPECT_EQ(c->ConnectionState(), csAuthenticated);
            c->Disconnect(false);
            EXPECT_EQ(peer.Received(), "C1 LOGIN \"user\" \"pass word\"\r\nC2 CAPABILITY\r\n");
        }
    }
}

TEST(IMAPWire, HeaderLiteralSplitAcrossReadsAmongUnsolicitedFetches) {
    std::string lit = "* 1 FETCH (RFC822.HEADER {" + std::to_string(kHeader.size()) + "}\r\n";
    ScriptedPeer peer(Selected(3) +
                      Steps{// Another client changed flags: lines for other
                            // messages and for this one without the item.
                            S("* 1 FETCH (FLAGS (\\Flagged))\r\n* 2 FETCH (FLAGS (\\Seen))\r\n* 4 EXISTS\r\n"),
                            S(lit + kHeader.substr(0, 30)), "sleep:150", S(kHeader.substr(30, 40)), "sleep:100",
                            S(kHeader.substr(70) + ")\r\nC4 OK Fetch completed.\r\n"), "readline",
                            S("* 1 FETCH (FLAGS (\\Seen \\Flagged))\r\n* 3 FETCH (FLAGS ())\r\nC5 OK\r\n"), "wait_close"});
    auto c = InInbox(peer);
    auto msg = NetCreateNoOwner<TNetMessage>();
    msg->Subject = "stale";
    ASSERT_TRUE(c->RetrieveHeaders(1, *msg));
    EXPECT_EQ(msg->Subject, "split");
    EXPECT_EQ(msg->MessageId(), "<split@x>");
    EXPECT_EQ(msg->From().Address, "a@example.org");
    EXPECT_EQ(msg->Headers.Count(), 4);
    EXPECT_TRUE(c->LineStruct()->Flags == TNetMessageFlags{mfFlagged});
    EXPECT_TRUE(c->GetMessageFlags(1));
    c->Disconnect(false);
}

TEST(IMAPWire, HostileBrokenOrSilentAnswersEndTheSession) {
    // Each answer leaves the session out of step, so it ends: the error is
    // raised and the connection closed, never read as the next reply.
    using Act = std::function<void(TNetIMAP4 &)>;
    const Act refused = [](TNetIMAP4 &c) { EXPECT_THROW(FetchHeaders(c), ENetReplyIMAP4Error); };
    // Literal after literal, or lines that together outgrow any real
    // answer, end at the bound: no waiting for the stream to stop, no
    // unbounded memory.
    const Act bounded = [&](TNetIMAP4 &c) {
        c.MaxResponseLines = 1000;
        c.MaxResponseSize = 100000;
        refused(c);
    };
    struct Case {
        const char *name;
        Steps answer;
        Act act;
    } cases[] = {
        {"huge literal", {S("* 1 FETCH (RFC822.HEADER {999999999999}\r\n"), "wait_close"}, refused},
        {"literal past the cap", {S("* 1 FETCH (RFC822.HEADER {17000000}\r\n"), "wait_close"}, refused},
        {"huge literal elsewhere", {S("* 3 FETCH (RFC822.HEADER {20000000}\r\n"), "wait_close"}, refused},
        {"literal past 2 GB with no cap set",
         {S("* 1 FETCH (RFC822.HEADER {4294967315}\r\nSubject: forged\r\n\r\n)\r\nC4 OK\r\n"), "wait_close"},
         [&](TNetIMAP4 &c) {
             c.MaxHeaderSize = int64_t(1) << 40;
             refused(c);
         }},
        {"long line", {ScriptedPeer::SendRepeated(40000, "A"), S("\r\n"), "wait_close"}, refused},
        {"unknown response", {S("HELLO there\r\n"), "wait_close"}, refused},
        {"malformed fetch", {S("* 1 FETCH RFC822.HEADER\r\n"), "wait_close"}, refused},
        {"continuation", {S("+ send more\r\n"), "wait_close"}, refused},
        // Our tag with nothing behind it: no answer will follow.
        {"tag alone", {S("C4\r\n"), "wait_close"}, refused},
        {"literals chained after another response",
         {S("* OK {0}\r\n"), ScriptedPeer::SendRepeated(5000, "{0}\r\n"), "wait_close"}, bounded},
        {"literals chained inside our FETCH",
         {S("* 1 FETCH (RFC822.HEADER {0}\r\n"), ScriptedPeer::SendRepeated(5000, " X {0}\r\n"), "wait_close"},
         bounded},
        {"bye while idle",
         {S("* BYE Disconnected for inactivity.\r\n"), "close"},
         [](TNetIMAP4 &c) {
             try {
                 c.GetMessageSize(2);
                 ADD_FAILURE();
             } catch (const ENetDisconnectedProbablyIdledOut &e) {
                 EXPECT_EQ(e.Message(), "Server has gracefully disconnected you, possibly because the connection was "
                                        "idle for too long.");
             }
         }},
        // Going down right after the bytes of a literal, where the rest of
        // the FETCH response belongs.
        {"bye after a literal",
         {S("* 1 FETCH (RFC822.HEADER {4}\r\nA: b* BYE Shutting down.\r\n"), "close"},
         [](TNetIMAP4 &c) { EXPECT_THROW(FetchHeaders(c), ENetDisconnectedProbablyIdledOut); }},
        {"silence",
         {"sleep:2000", "close"},
         [](TNetIMAP4 &c) {
             c.SetReadTimeout(300);
             EXPECT_THROW(c.GetMessageSize(1), ENetReadTimeout);
         }},
        {"closed inside a literal",
         {S("* 1 FETCH (RFC822.HEADER {100}\r\nFrom: x"), "close"},
         [](TNetIMAP4 &c) { EXPECT_THROW(FetchHeaders(c), ENetConnClosedGracefully); }},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        ScriptedPeer peer(Selected(3) + k.answer);
        auto c = InInbox(peer);
        k.act(*c);
        EXPECT_EQ(c->ConnectionState(), csUnexpectedlyDisconnected);
        EXPECT_FALSE(c->Connected());
        c->Disconnect();  // nothing left to close, nothing raised
    }
    // During SELECT as well.
    for (Steps answer : {Steps{S("* OK x {0}\r\n"), ScriptedPeer::SendRepeated(5000, "y {0}\r\n"), "wait_close"},
                         Steps{ScriptedPeer::SendRepeated(500, "* OK " + std::string(1000, 'x') + "\r\n"), "wait_close"}}) {
        ScriptedPeer peer(LoggedIn() + Steps{"readline"} + answer);
        auto c = Client(peer);
        c->MaxResponseLines = 1000;
        c->MaxResponseSize = 100000;
        c->Connect(true);
        EXPECT_THROW(c->SelectMailBox("INBOX"), ENetReplyIMAP4Error);
        EXPECT_EQ(c->ConnectionState(), csUnexpectedlyDisconnected);
        EXPECT_FALSE(c->Connected());
    }
}

TEST(IMAPWire, ReadsAreBoundedUnlessTheOwnerSaysOtherwise) {
    // A server that accepts and then says nothing must not hold a check for
    // ever when the owner never chose a read time-out.
    ScriptedPeer peer(LoggedIn());
    auto c = NetCreateNoOwner<TNetIMAP4>();
    EXPECT_GT(c->ReadTimeout(), 0);
    c->SetHost("127.0.0.1");
    c->SetPort(peer.Port());
    c->Connect(false);
    EXPECT_GT(c->IOHandler()->ReadTimeout, 0);
}

TEST(IMAPWire, ANeverAnsweredLogoutDoesNotHoldTheGoodbye) {
    ScriptedPeer peer(Selected(3) + Steps{"sleep:3000", "close"});
    auto c = InInbox(peer);
    c->SetReadTimeout(0);
    c->LogoutTimeout = 300;
    c->Disconnect();
    EXPECT_FALSE(c->Connected());
    EXPECT_EQ(c->IOHandler()->ReadTimeout, 0);
}

TEST(IMAPWire, StaleInputIsDiscardedBeforeTheNextCommand) {
    ScriptedPeer peer(Selected(3) + Steps{S("* 2 FETCH (RFC822.SIZE 777)\r\nC4 OK\r\n"
                                            "* 2 FETCH (RFC822.SIZE 999)\r\nC4 OK stale\r\n"),
                                          "sleep:200", "readline", S("C5 OK nothing for you\r\n"),
                                          "sleep:200", S("* BYE going down\r\n"), "sleep:200", "wait_close"});
    auto c = InInbox(peer);
    EXPECT_EQ(c->GetMessageSize(2), 777);
    EXPECT_EQ(c->GetMessageSize(2), -1);  // not the 999 of the stale lines
    usleep(300000);
    // The BYE that arrived while we were idle ends the session cleanly.
    EXPECT_THROW(c->GetMessageSize(2), ENetDisconnectedProbablyIdledOut);
}

TEST(IMAPWire, NumbersStatesAndRefusals) {
    ScriptedPeer peer(Selected(3) + Steps{S("C4 NO [SERVERBUG] no\r\n"), "readline", S("C5 BAD bad\r\n"), "readline",
                                          S("C6 OK\r\n"), "readline",
                                          S("* 3 EXPUNGE\r\n* 1 EXPUNGE\r\nC7 OK\r\n"), "wait_close"});
    auto c = Client(peer);
    EXPECT_THROW(c->GetMessageSize(1), ENetConnectionStateError);
    c->Connect(true);
    EXPECT_THROW(FetchHeaders(*c), ENetConnectionStateError);
    ASSERT_TRUE(c->SelectMailBox("INBOX"));
    EXPECT_EQ(Thrown<ENetNumberInvalid>([&] { FetchHeaders(*c, 0); }),
              "Number parameter (relative message number or UID) is invalid; Must be 1 or greater.");
    EXPECT_THROW(c->DeleteMessage({2, 0}), ENetNumberInvalid);
    EXPECT_THROW(c->SelectMailBox("Box\r\nC9 DELETE INBOX"), ENetIMAP4InvalidText);
    EXPECT_THROW(c->SelectMailBox(std::string("a\0b", 3)), ENetIMAP4InvalidText);
    EXPECT_EQ(c->GetMessageSize(1), -1);
    EXPECT_FALSE(c->GetMessageFlags(1));
    EXPECT_TRUE(c->DeleteMessage({1, 3}));
    EXPECT_TRUE(c->ExpungeMailBox());
    EXPECT_EQ(c->MailBox()->DeletedMsgs, (std::vector<int>{3, 1}));
    EXPECT_EQ(c->MailBox()->TotalMsgs, 1);
    c->Disconnect(false);
    EXPECT_NE(peer.Received().find("C4 FETCH 1 (RFC822.SIZE)\r\nC5 FETCH 1 (FLAGS)\r\n"
                                   "C6 STORE 1,3 +FLAGS.SILENT (\\Deleted)\r\nC7 EXPUNGE\r\n"),
              std::string::npos) << peer.Received();
    EXPECT_THROW(c->Logout(true, true), ENetClosedSocket);
}

TEST(IMAPWire, RefusedSelectsAndHeaderFetchesRaiseAndLeaveNothingBehind) {
    ScriptedPeer peer(Selected(3) + Steps{S("C4 NO Mailbox doesn't exist: Junk\r\n"), "readline",
                                          S("* 2 EXISTS\r\nC5 OK [READ-WRITE] ok\r\n"), "readline",
                                          S("C6 NO [SERVERBUG] Internal error\r\n"), "readline",
                                          S("* 2 FETCH (FLAGS (\\Seen))\r\nC7 OK Fetch completed.\r\n"), "readline",
                                          S("* 1 FETCH (RFC822.HEADER NIL)\r\nC8 OK\r\n"), "readline",
                                          S("* 1 FETCH (RFC822.SIZE 99)\r\nC9 OK\r\n"), "wait_close"});
    auto c = InInbox(peer);
    ASSERT_EQ(c->MailBox()->TotalMsgs, 3);
    EXPECT_EQ(Thrown<ENetIMAP4CommandFailed>([&] { c->SelectMailBox("Junk"); }),
              "Mailbox \"Junk\" could not be selected: Mailbox doesn't exist: Junk");
    // INBOX's count is not Junk's, and no command may act on INBOX now.
    EXPECT_EQ(c->MailBox()->TotalMsgs, 0);
    EXPECT_EQ(c->ConnectionState(), csAuthenticated);
    EXPECT_THROW(FetchHeaders(*c), ENetConnectionStateError);
    ASSERT_TRUE(c->SelectMailBox("INBOX"));
    EXPECT_EQ(c->MailBox()->TotalMsgs, 2);
    auto msg = NetCreateNoOwner<TNetMessage>();
    msg->Subject = "the last message";
    EXPECT_EQ(Thrown<ENetIMAP4CommandFailed>([&] { c->RetrieveHeaders(1, *msg); }),
              "The header of message 1 could not be fetched: [SERVERBUG] Internal error");
    EXPECT_EQ(msg->Subject, "");  // nothing of the message before it either
    // An answer without the header, or with none at all, is no header.
    EXPECT_THROW(c->RetrieveHeaders(2, *msg), ENetIMAP4CommandFailed);
    EXPECT_EQ(Thrown<ENetIMAP4CommandFailed>([&] { c->RetrieveHeaders(1, *msg); }),
              "The header of message 1 could not be fetched: the server sent no header.");
    // Still in step.
    EXPECT_EQ(c->ConnectionState(), csSelected);
    EXPECT_EQ(c->GetMessageSize(1), 99);
    c->Disconnect(false);
}

TEST(IMAPWire, UidPlusExpungesOnlyOwnMessages) {
    ScriptedPeer peer(Selected(5, "IMAP4rev1 UIDPLUS") +
                      Steps{S("* 2 FETCH (UID 12)\r\nC4 OK\r\n"), "readline", S("C5 OK\r\n"), "readline",
                            S("* 2 EXPUNGE\r\nC6 OK\r\n"), "readline", S("C7 OK\r\n"), "wait_close"});
    auto c = InInbox(peer);
    EXPECT_TRUE(c->DeleteMessage({2}));
    EXPECT_TRUE(c->ExpungeMailBox());
    EXPECT_TRUE(c->ExpungeMailBox());  // nothing of ours left: nothing sent
    EXPECT_TRUE(c->StoreFlags({4}, sfAdd, {mfSeen, mfFlagged}));
    c->Disconnect(false);
    EXPECT_NE(peer.Received().find("C4 FETCH 2 (UID)\r\nC5 STORE 2 +FLAGS.SILENT (\\Deleted)\r\n"
                                   "C6 UID EXPUNGE 12\r\nC7 STORE 4 +FLAGS.SILENT (\\Flagged \\Seen)\r\n"),
              std::string::npos) << peer.Received();
    // No usable UID for the message: nothing is flagged that our expunge
    // could not name, and a set the server slipped in is never sent back.
    ScriptedPeer odd(Selected(5, "IMAP4rev1 UIDPLUS") +
                     Steps{S("* 2 FETCH (UID 1:*)\r\nC4 OK\r\n"), "readline", S("C5 OK\r\n"), "wait_close"});
    c = InInbox(odd);
    EXPECT_FALSE(c->DeleteMessage({2}));
    EXPECT_TRUE(c->ExpungeMailBox());
    EXPECT_FALSE(c->GetMessageFlags(2));  // the session is still in step
    c->Disconnect(false);
    EXPECT_EQ(odd.Received().find("STORE"), std::string::npos) << odd.Received();
    EXPECT_EQ(odd.Received().find("EXPUNGE"), std::string::npos);
}

TEST(IMAPWire, DeletesByUIDFollowTheExpungesTheServerTellsOf) {
    // The UIDs go out as they are, and only UIDs: "1:*" would name every
    // message. An expunge told in an answer moves the numbers after it.
    ScriptedPeer peer(Selected(5, "IMAP4rev1 UIDPLUS") +
                      Steps{S("* 1 EXPUNGE\r\nC4 OK\r\n"), "readline",
                            S("* 1 FETCH (UID 14)\r\n* 2 FETCH (UID 13)\r\n* 1 EXPUNGE\r\nC5 OK\r\n"), "readline",
                            S("* 1 EXPUNGE\r\n* 2 EXPUNGE\r\nC6 OK\r\n"), "wait_close"});
    auto c = InInbox(peer);
    EXPECT_FALSE(c->DeleteMessagesByUID({"12", "1:*"}));
    EXPECT_TRUE(c->DeleteMessagesByUID({"12", "15"}));
    EXPECT_EQ(c->MailBox()->TotalMsgs, 4);
    // Message 13 stood at 2 and moved up when message 1 went.
    EXPECT_EQ(c->NumberOfUID("13"), 1);
    EXPECT_EQ(c->MailBox()->TotalMsgs, 3);
    EXPECT_TRUE(c->ExpungeMailBox());
    c->Disconnect(false);
    EXPECT_NE(peer.Received().find("C4 UID STORE 12,15 +FLAGS.SILENT (\\Deleted)\r\nC5 UID FETCH 13 (UID)\r\n"
                                   "C6 UID EXPUNGE 12,15\r\n"),
              std::string::npos)
        << peer.Received();
}

TEST(IMAPWire, ARangeReadsPastAHeaderTooLargeAndGoesOn) {
    auto answer = [](int n, const std::string &header) {
        return "* " + std::to_string(n) + " FETCH (UID " + std::to_string(10 + n) + " FLAGS () BODY[HEADER] {" +
               std::to_string(header.size()) + "}\r\n" + header + ")\r\n";
    };
    const std::string big = "Subject: big\r\nX-Filler: " + std::string(300, 'f') + "\r\n\r\n";
    const std::string two = answer(2, big);
    ScriptedPeer peer(Selected(3) + Steps{S(answer(1, "Subject: one\r\n\r\n") + two.substr(0, 100)), "sleep:100",
                                          S(two.substr(100) + answer(3, "Subject: three\r\n\r\n") + "C4 OK\r\n"),
                                          "readline", S("* 3 FETCH (UID 13)\r\nC5 OK\r\n"), "wait_close"});
    auto c = InInbox(peer);
    c->MaxHeaderSize = 200;
    std::vector<std::string> seen;
    EXPECT_EQ(c->RetrieveHeadersRange(1, 3,
                                      [&](const TNetIMAP4::TRangeItem &it, TNetMessage &m) {
                                          seen.push_back(std::to_string(it.Number) + " " + it.UID + " " +
                                                         (it.Failure.empty() ? m.Subject : it.Failure));
                                          return true;
                                      }),
              "OK");
    EXPECT_EQ(seen, (std::vector<std::string>{"1 11 one", "2 12 Message header larger than 200 bytes.",
                                              "3 13 three"}));
    // Still in step: the next command gets its own answer.
    EXPECT_EQ(c->GetUID(3), "13");
    EXPECT_EQ(c->ConnectionState(), csSelected);
    c->Disconnect(false);

    // What is read past is bounded too: a literal larger than any message
    // ends the session at once.
    ScriptedPeer huge(Selected(3) + Steps{S("* 1 FETCH (UID 11 BODY[HEADER] {5000000}\r\n"), "wait_close"});
    c = InInbox(huge);
    c->MaxHeaderSize = 200;
    c->MaxMessageSize = 100000;
    EXPECT_THROW(c->RetrieveHeadersRange(1, 3, [](const TNetIMAP4::TRangeItem &, TNetMessage &) { return true; }),
                 ENetReplyIMAP4Error);
    EXPECT_FALSE(c->Connected());
}

TEST(IMAPWire, WholeMessageThroughAPrivateFileThatNeverOutlivesTheFetch) {
    // A folder of this test's own: the shared one sees the files of every
    // other test program that runs beside it.
    TempDir dir;
    struct Scope {
        explicit Scope(const std::string &folder) { SetNetTempFolder(folder); }
        ~Scope() { SetNetTempFolder(""); }
    } scope(dir.File("tmp"));
    auto before = ListDirectory(NetTempFolder());
    const std::string body = "From: b@example.org\r\nSubject: whole\r\n\r\n.leading dot\r\n.\r\nlast line\r\n";
    const std::string lit = "* 1 FETCH (FLAGS (\\Seen) RFC822 {" + std::to_string(body.size()) + "}\r\n";
    {
        ScriptedPeer peer(Selected(1) + Steps{S(lit + body + " UID 8)\r\nC4 OK\r\n"), "wait_close"});
        auto c = InInbox(peer);
        auto msg = NetCreateNoOwner<TNetMessage>();
        int begins = 0, ends = 0, files = -1;
        int64_t worked = 0;
        c->OnWorkBeginForPart = [&](TNetComponent *, TWorkMode, int) { ++begins; };
        c->OnWorkForPart = [&](TNetComponent *, TWorkMode, int n) {
            worked += n;
            // While the literal is copied, nothing with a name stands in the folder.
            files = int(ListDirectory(NetTempFolder()).size());
        };
        c->OnWorkEndForPart = [&](TNetComponent *, TWorkMode) { ++ends; };
        ASSERT_TRUE(c->RetrieveMessage(1, *msg));
        EXPECT_EQ(files, int(before.size()));
        EXPECT_EQ(msg->Subject, "whole");
        // Literal bytes are the message as stored: dots stay, a lone "." is text.
        EXPECT_EQ(msg->Body.Text(), TStringList({".leading dot", ".", "last line"}).Text());
        EXPECT_EQ(c->LineStruct()->UID, "8");
        EXPECT_TRUE(c->LineStruct()->Flags == TNetMessageFlags{mfSeen});
        EXPECT_EQ(begins, 1);
        EXPECT_EQ(ends, 1);
        EXPECT_EQ(worked, int64_t(body.size()));
        c->Disconnect(false);
    }
    {
        // The server goes away in the middle of the literal.
        ScriptedPeer peer(Selected(1) + Steps{S(lit + body.substr(0, 8)), "close"});
        auto c = InInbox(peer);
        EXPECT_THROW(c->RetrieveMessage(1, *NetCreateNoOwner<TNetMessage>()), ENetException);
        c->Disconnect(false);
    }
    EXPECT_EQ(ListDirectory(NetTempFolder()), before);
}

TEST(IMAPWire, AMessageOfShortLinesCountsByWhatItsLinesCostToKeep) {
    TempDir dir;
    struct Scope {
        explicit Scope(const std::string &folder) { SetNetTempFolder(folder); }
        ~Scope() { SetNetTempFolder(""); }
    } scope(dir.File("tmp"));
    std::string body = "Subject: short\r\n\r\n";
    for (int i = 0; i < 8000; ++i) body += "x\r\n";
    const std::string lit = "* 1 FETCH (RFC822 {" + std::to_string(body.size()) + "}\r\n";
    ScriptedPeer peer(Selected(1) + Steps{S(lit + body + ")\r\nC4 OK\r\n"), "readline",
                                          S("* 1 FETCH (RFC822.SIZE 24000)\r\nC5 OK\r\n"), "wait_close"});
    auto c = InInbox(peer);
    c->MaxMessageSize = 100000;  // 24 KB on the wire, 8000 lines to keep
    auto msg = NetCreateNoOwner<TNetMessage>();
    msg->NoDecode = true;
    EXPECT_THROW(c->RetrieveMessage(1, *msg), ENetMessageTooLarge);
    EXPECT_EQ(c->GetMessageSize(1), 24000);
    c->Disconnect(false);
}

TEST(IMAPWire, AFetchAbortedInsideItsAnswerEndsTheSession) {
    // The caller's progress handler gives up in the middle of a message
    // whose text holds lines shaped like answers. What is left of it must
    // never be read as the answer to a later command: a header taken from
    // it would be matched to the wrong message, and a rule could then
    // delete a message the user never meant.
    const std::string fake = "Subject: forged\r\nMessage-ID: <forged@x>\r\n\r\n";
    const std::string rest = "* 2 FETCH (RFC822.HEADER {" + std::to_string(fake.size()) + "}\r\n" + fake +
                             ")\r\nC5 OK done\r\n";
    const std::string head = "Subject: real\r\n\r\n";
    const std::string lit = "* 1 FETCH (RFC822 {" + std::to_string(head.size() + rest.size()) + "}\r\n";
    ScriptedPeer peer(Selected(2) + Steps{S(lit + head), "sleep:200", S(rest), "wait_close"});
    auto c = InInbox(peer);
    c->OnWorkForPart = [](TNetComponent *, TWorkMode, int) { throw Exception("Stopped by the user."); };
    auto msg = NetCreateNoOwner<TNetMessage>();
    EXPECT_THROW(c->RetrieveMessage(1, *msg), Exception);
    EXPECT_EQ(c->ConnectionState(), csUnexpectedlyDisconnected);
    EXPECT_FALSE(c->Connected());
    c->OnWorkForPart = nullptr;
    EXPECT_THROW(c->RetrieveHeaders(2, *msg), ENetConnectionStateError);
    EXPECT_NE(msg->MessageId(), "<forged@x>");
}

}  // namespace
