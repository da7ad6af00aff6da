// The IMAP4 client against Dovecot, plain and over implicit TLS, checked
// against Python's imaplib on the same server: counts, headers, flags,
// whole messages, delete and expunge, non-ASCII mailbox names, and a
// second session changing flags between our commands.
#include "DovecotServer.h"
#include "dovecot_suite.h"
#include "NetIMAP4.h"
#include "NetMessage.h"
#include "NetSASLMechanisms.h"
#include "NetSSLOpenSSL.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const char *kImapLib = R"PY(
import imaplib, sys
host, port, user, password, action, *args = sys.argv[1:]
m = imaplib.IMAP4(host, int(port), timeout=20)
m.login(user, password)
if action == "list":
    print("\n".join(d.decode() for d in m.list()[1]))
else:
    count = int(m.select(args[0] if action == "count" and args else "INBOX")[1][0])
    if action == "count":
        print(count)
    elif action == "store":        # store N FLAGSCOMMAND FLAGS
        assert m.store(*args)[0] == "OK"
    elif action == "expunge":      # expunge N: that message alone
        assert m.store(args[0], "+FLAGS", "(\\Deleted)")[0] == "OK"
        assert m.expunge()[0] == "OK"
    elif action == "size":
        print(m.fetch(args[0], "(RFC822.SIZE)")[1][0].decode())
    for n in range(1, count + 1):
        if action == "headers":    # every header as hex, with its flags
            d = m.fetch(str(n), "(FLAGS RFC822.HEADER)")[1]
            print(n, d[0][1].hex(), d[0][0].decode())
        elif action == "ids":      # message ids and flags, in order
            d = m.fetch(str(n), "(FLAGS BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])")[1]
            print(n, d[0][1].decode().strip(), d[0][0].decode())
m.logout()
)PY";

std::unique_ptr<TNetIMAP4> ImapClient(DovecotServer &server, const std::string &user, const std::string &password,
                                      bool tls) {
    auto c = NetCreateNoOwner<TNetIMAP4>();
    c->SetHost(server.Host());
    if (tls) {
        c->SetIOHandler(NetCreate<TNetSSLIOHandlerSocketOpenSSL>(c.get()));
        c->SetUseTLS(utUseImplicitTLS);
        EXPECT_EQ(c->Port(), 993);
    } else {
        EXPECT_EQ(c->Port(), 143);
    }
    c->SetPort(tls ? server.ImapsPort() : server.ImapPort());
    c->Username = user;
    c->Password = password;
    c->SetConnectTimeout(5000);
    c->SetReadTimeout(20000);
    return c;
}

class IMAPDovecot : public DovecotSuite<IMAPDovecot> {
protected:
    static void SetUpTestSuite() {
        DovecotServer::Options o;
        o.Users = {{"plain", "pw-plain"}, {"tls", "pw-tls"}, {"cross", "pw-cross"},
                   {"expunge", "pw-expunge"}, {"names", "pw-names"}, {"moved", "pw-moved"}, {"latin", "pw-p\xC3\xA4ss \"w\" \\ \xC3\xB6"}};
        StartDovecot(o);
    }

    static std::string Password(const std::string &user) {
        return user == "latin" ? "pw-p\xC3\xA4ss \"w\" \\ \xC3\xB6" : "pw-" + user;
    }

    std::unique_ptr<TNetIMAP4> Client(const std::string &user, bool tls) {
        return ImapClient(*Server, user, Password(user), tls);
    }

    // Runs the imaplib helper; its standard output.
    std::string ImapLib(const std::string &user, const std::vector<std::string> &args) {
        std::vector<std::string> all = {Server->Host(), std::to_string(Server->ImapPort()), user, Password(user)};
        all.insert(all.end(), args.begin(), args.end());
        std::string out, err;
        int rc = RunPython(kImapLib, all, &out, &err);
        EXPECT_EQ(rc, 0) << err;
        return out;
    }

    static std::vector<std::string> Lines(const std::string &text) {
        TStringList l;
        l.SetText(text);
        return {l.begin(), l.end()};
    }

    void CheckingCycleRoad(const std::string &user, bool tls);
};

std::string ExpectedSubject(int n) {
    return n % 4 == 0 ? "Grüße aus Köln, Nachricht " + std::to_string(n) : "Test message " + std::to_string(n);
}

std::string ExpectedId(int n) { return "<msg" + std::to_string(n) + "@tarnwick.test>"; }

void IMAPDovecot::CheckingCycleRoad(const std::string &user, bool tls) {
    SCOPED_TRACE(tls ? "IMAPS" : "IMAP");
    Server->FillMailbox(user, 12);
    auto c = Client(user, tls);
    ASSERT_TRUE(c->Connect(true));
    EXPECT_NE(c->GreetingBanner.find("Dovecot ready."), std::string::npos) << c->GreetingBanner;
    EXPECT_EQ(c->ConnectionState(), csAuthenticated);
    EXPECT_EQ(c->LastTag(), "C2");  // LOGIN, CAPABILITY
    EXPECT_GE(c->IMAPCapabilities()->IndexOf("UIDPLUS"), 0);
    if (tls) {
        auto *h = dynamic_cast<TNetSSLIOHandlerSocketOpenSSL *>(c->IOHandler());
        ASSERT_NE(h, nullptr);
        EXPECT_NE(h->SSLSocket(), nullptr);
    }
    ASSERT_TRUE(c->SelectMailBox("INBOX"));
    EXPECT_EQ(c->ConnectionState(), csSelected);
    EXPECT_EQ(c->MailBox()->TotalMsgs, 12);
    EXPECT_FALSE(c->MailBox()->UIDValidity.empty());
    EXPECT_TRUE(c->MailBox()->ReadWrite);
    EXPECT_TRUE(c->MailBox()->Flags.Has(mfSeen));

    auto msg = NetCreateNoOwner<TNetMessage>();
    for (int n = 1; n <= 12; ++n) {
        ASSERT_TRUE(c->RetrieveHeaders(n, *msg)) << n;
        EXPECT_EQ(msg->MessageId(), ExpectedId(n));
        EXPECT_EQ(msg->Subject, ExpectedSubject(n));
        if (n % 3 == 0) {
            EXPECT_EQ(msg->From().Name, "Jürgen Übel");
        }
        EXPECT_TRUE(msg->Body.Empty());
        EXPECT_FALSE(c->GetMessageFlags(n)) << n;
    }
    std::string sizeLine = ImapLib(user, {"size", "5"});
    int64_t size = c->GetMessageSize(5);
    EXPECT_NE(sizeLine.find("(RFC822.SIZE " + std::to_string(size) + ")"), std::string::npos) << sizeLine;
    EXPECT_EQ(c->GetMessageSize(99), -1);  // no such message: NO/BAD, no exception
    EXPECT_THROW(c->RetrieveHeaders(99, *msg), ENetIMAP4CommandFailed);
    EXPECT_TRUE(msg->Headers.Empty());

    // Saved without a trace on the server: the message stays unseen.
    ASSERT_TRUE(c->RetrieveMessage(6, *msg, true));
    EXPECT_EQ(msg->MessageId(), ExpectedId(6));
    EXPECT_FALSE(c->GetMessageFlags(6));

    ASSERT_TRUE(c->RetrieveMessage(5, *msg));
    EXPECT_EQ(msg->MessageId(), ExpectedId(5));
    bool attachment = false;
    for (int i = 0; i < msg->Parts.Count(); ++i)
        if (auto *a = dynamic_cast<TNetAttachment *>(&msg->Parts[i])) attachment = a->FileName == "data5.bin";
    EXPECT_TRUE(attachment);
    EXPECT_TRUE(c->GetMessageFlags(5));  // a whole fetch marks it seen

    // Header and flags in one exchange, as a check asks for them.
    TNetMessageFlags flags;
    ASSERT_TRUE(c->RetrieveHeaders(5, *msg, flags));
    EXPECT_EQ(msg->MessageId(), ExpectedId(5));
    EXPECT_TRUE(flags.Has(mfSeen));
    ASSERT_TRUE(c->RetrieveHeaders(7, *msg, flags));
    EXPECT_EQ(msg->Subject, ExpectedSubject(7));
    EXPECT_FALSE(flags.Has(mfSeen));
    EXPECT_TRUE(flags.Has(mfRecent));
    EXPECT_THROW(c->RetrieveHeaders(99, *msg, flags), ENetIMAP4CommandFailed);

    c->Disconnect();
    EXPECT_FALSE(c->Connected());
    EXPECT_EQ(c->ConnectionState(), csNonAuthenticated);

    // The session can be opened again on the same component.
    ASSERT_TRUE(c->Connect(true));
    EXPECT_EQ(c->LastTag(), "C2");
    ASSERT_TRUE(c->SelectMailBox("INBOX"));
    EXPECT_EQ(c->MailBox()->TotalMsgs, 12);
    c->Disconnect();
}

TEST_F(IMAPDovecot, CheckingCyclePlainAndImplicitTLS) {
    CheckingCycleRoad("plain", false);
    CheckingCycleRoad("tls", true);
}

TEST_F(IMAPDovecot, EightBitPasswordGoesAsALiteralAndAWrongOneIsRefused) {
    // Blanks, quotes, a backslash and 8-bit characters in one password.
    auto c = Client("latin", false);
    ASSERT_TRUE(c->Connect(true));
    EXPECT_EQ(c->ConnectionState(), csAuthenticated);
    EXPECT_TRUE(c->SelectMailBox("INBOX"));
    c->Disconnect();
    c->Password = "pw-p\xC3\xA4ss \"w\" \\ \xC3\xB5";  // one byte off
    try {
        c->Connect(true);
        ADD_FAILURE() << "logged in with a wrong password";
    } catch (const ENetIMAP4LoginRefused &e) {
        EXPECT_NE(e.Message().find("Authentication failed"), std::string::npos) << e.Message();
    }
    EXPECT_THROW(c->SelectMailBox("INBOX"), ENetConnectionStateError);
    c->Disconnect();
}

TEST_F(IMAPDovecot, SASLLogInWithEachMechanism) {
    Server->FillMailbox("names", 1, "INBOX");
    for (int kind = 0; kind < 3; ++kind) {
        auto c = Client("names", false);
        TNetSASLUserPass *mech = kind == 0 ? NetCreate<TNetSASLPlain>(c.get())
                                 : kind == 1 ? static_cast<TNetSASLUserPass *>(NetCreate<TNetSASLLogin>(c.get()))
                                             : NetCreate<TNetSASLCRAMMD5>(c.get());
        SCOPED_TRACE(mech->ServiceName());
        mech->Username = "names";
        mech->Password = Password("names");
        c->SASLMechanisms()->Add(mech);
        c->AuthType = TNetIMAP4AuthenticationType::atSASL;
        c->Connect(true);
        EXPECT_EQ(c->ConnectionState(), csAuthenticated);
        EXPECT_TRUE(c->SelectMailBox("INBOX"));
        c->Disconnect();
        ASSERT_TRUE(Server->WaitForLog("method=" + mech->ServiceName(), 1));

        mech->Password = "wrong";
        try {
            c->Connect(true);
            ADD_FAILURE() << "logged in with a wrong password";
        } catch (const ENetIMAP4LoginRefused &e) {
            EXPECT_NE(e.Message().find("Authentication failed"), std::string::npos) << e.Message();
        }
        EXPECT_EQ(c->ConnectionState(), csNonAuthenticated);
        c->Disconnect();
    }
}

TEST_F(IMAPDovecot, NonAsciiMailboxNameRoundTrips) {
    const std::string name = "Entwürfe 日本語 😀 & Co";
    Server->FillMailbox("names", 3, name);
    auto c = Client("names", false);
    c->Connect(true);
    ASSERT_TRUE(c->SelectMailBox(name));
    EXPECT_EQ(c->MailBox()->TotalMsgs, 3);
    EXPECT_EQ(c->MailBox()->Name, name);
    // A near miss is another mailbox: refused, and no count of the one
    // selected before stays behind.
    EXPECT_THROW(c->SelectMailBox("Entwurfe"), ENetIMAP4CommandFailed);
    EXPECT_EQ(c->MailBox()->TotalMsgs, 0);
    EXPECT_EQ(c->ConnectionState(), csAuthenticated);
    c->RetrieveOnSelect = rsHeaders;
    ASSERT_TRUE(c->SelectMailBox(name));
    ASSERT_EQ(c->MailBox()->Messages.Count(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(c->MailBox()->Messages.Items(i).Msg().MessageId(), ExpectedId(i + 1));
    c->Disconnect();

    // The server lists the name in exactly the form we send, and it decodes
    // back to what we asked for.
    std::string encoded = TNetMUTF7::Encode(name);
    std::string listing = ImapLib("names", {"list"});
    EXPECT_NE(listing.find("\"" + encoded + "\""), std::string::npos) << listing << "\n" << encoded;
    EXPECT_EQ(TNetMUTF7::Decode(encoded), name);
    EXPECT_EQ(ImapLib("names", {"count", "\"" + encoded + "\""}), "3\n");
}

TEST_F(IMAPDovecot, AgreesWithImapLibWhileAnotherSessionChangesFlags) {
    const int kCount = 20;
    Server->FillMailbox("cross", kCount);
    ImapLib("cross", {"store", "1:5", "+FLAGS", "(\\Seen)"});
    std::vector<std::string> reference = Lines(ImapLib("cross", {"headers"}));
    ASSERT_GE(reference.size(), size_t(kCount));

    auto c = Client("cross", false);
    c->Connect(true);
    ASSERT_TRUE(c->SelectMailBox("INBOX"));
    ASSERT_EQ(c->MailBox()->TotalMsgs, kCount);
    auto msg = NetCreateNoOwner<TNetMessage>();
    int flaggedSeen = 0;
    for (int n = 1; n <= kCount; ++n) {
        // Between our commands the other session flags this message and
        // its neighbour; the server tells us with FETCH lines of its own.
        ImapLib("cross", {"store", std::to_string(n) + "," + std::to_string(n % kCount + 1), "+FLAGS",
                          "(\\Flagged)"});
        ASSERT_TRUE(c->RetrieveHeaders(n, *msg)) << n;
        EXPECT_EQ(msg->MessageId(), ExpectedId(n));
        if (c->LineStruct()->Flags.Has(mfFlagged)) ++flaggedSeen;
        // The same header bytes as imaplib read.
        std::string hex;
        for (unsigned char ch : msg->Headers.Text() + "\r\n") hex += Format("%02x", ch);
        const std::string &ref = reference[size_t(n - 1)];
        EXPECT_EQ(ref.substr(0, ref.find(' ', 3)), std::to_string(n) + " " + hex) << n;
        EXPECT_EQ(c->GetMessageFlags(n), n <= 5) << n;
        TNetMessageFlags flags;
        ASSERT_TRUE(c->RetrieveFlags(n, flags));
        EXPECT_TRUE(flags.Has(mfFlagged)) << n;
    }
    EXPECT_GT(flaggedSeen, 0);  // the unsolicited flag news did reach us

    ASSERT_TRUE(c->DeleteMessage({7}));
    ASSERT_TRUE(c->ExpungeMailBox());
    c->Disconnect();
    std::string ids = ImapLib("cross", {"ids"});
    EXPECT_EQ(ids.find(ExpectedId(7)), std::string::npos) << ids;
    EXPECT_NE(ids.find(ExpectedId(8)), std::string::npos);
    EXPECT_EQ(Lines(ids).size(), size_t(kCount - 1));
}

TEST_F(IMAPDovecot, ExpungeLeavesWhatOthersOnlyFlagged) {
    Server->FillMailbox("expunge", 6);
    // Another client flags message 1 deleted and leaves without expunging.
    ImapLib("expunge", {"store", "1", "+FLAGS", "(\\Deleted)"});
    auto c = Client("expunge", false);
    c->Connect(true);
    ASSERT_TRUE(c->SelectMailBox("INBOX"));
    ASSERT_TRUE(c->DeleteMessage({4}));
    ASSERT_TRUE(c->ExpungeMailBox());
    EXPECT_EQ(c->MailBox()->TotalMsgs, 5);
    c->Disconnect();
    std::string ids = ImapLib("expunge", {"ids"});
    std::vector<std::string> lines = Lines(ids);
    ASSERT_EQ(lines.size(), 5u) << ids;
    EXPECT_NE(lines[0].find(ExpectedId(1)), std::string::npos);
    EXPECT_NE(lines[0].find("\\Deleted"), std::string::npos);
    EXPECT_EQ(ids.find(ExpectedId(4)), std::string::npos);
}

TEST_F(IMAPDovecot, DeletesByUIDHitTheMessageWhereverItMoved) {
    Server->FillMailbox("moved", 5);
    auto c = Client("moved", false);
    c->Connect(true);
    ASSERT_TRUE(c->SelectMailBox("INBOX"));
    std::vector<std::string> uids;
    ASSERT_EQ(c->RetrieveHeadersRange(1, 5,
                                      [&](const TNetIMAP4::TRangeItem &it, TNetMessage &) {
                                          uids.push_back(it.UID);
                                          return true;
                                      }),
              "OK");
    ASSERT_EQ(uids.size(), 5u);
    // Another client expunges message 1, and a command that may tell of it
    // does: what was listed at 3 stands at 2 now, and 3 holds message 4.
    ImapLib("moved", {"expunge", "1"});
    EXPECT_EQ(c->SendCommand("NOOP", {"EXPUNGE"}), "OK");
    EXPECT_EQ(c->NumberOfUID(uids[2]), 2);
    EXPECT_EQ(c->NumberOfUID(uids[0]), 0);
    ASSERT_TRUE(c->DeleteMessagesByUID({uids[2]}));
    ASSERT_TRUE(c->ExpungeMailBox());
    c->Disconnect();
    std::string ids = ImapLib("moved", {"ids"});
    EXPECT_EQ(Lines(ids).size(), 3u) << ids;
    EXPECT_EQ(ids.find(ExpectedId(3)), std::string::npos) << ids;
    EXPECT_NE(ids.find(ExpectedId(4)), std::string::npos) << ids;
}

TEST(IMAPDovecotIPv6, ImplicitTLSOverIPv6Loopback) {
    std::string why = DovecotServer::Unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    DovecotServer::Options o;
    o.ListenIPv6 = true;
    DovecotServer server(o);
    setenv("SSL_CERT_FILE", server.CaFile().c_str(), 1);
    server.FillMailbox(server.UserName(), 2);
    auto c = ImapClient(server, server.UserName(), server.Password(), true);
    c->SetIPVersion(Net_IPv6);
    c->SetHost("::1");
    c->Connect(true);
    ASSERT_TRUE(c->SelectMailBox("INBOX"));
    EXPECT_EQ(c->MailBox()->TotalMsgs, 2);
    auto msg = NetCreateNoOwner<TNetMessage>();
    ASSERT_TRUE(c->RetrieveHeaders(2, *msg));
    EXPECT_EQ(msg->MessageId(), ExpectedId(2));
    c->Disconnect();
}

}  // namespace

TEST_F(IMAPDovecot, RangeFetchBringsFlagsUIDsAndHeadersWithoutMarkingThemRead) {
    Server->FillMailbox("names", 30, "Range");
    auto c = Client("names", false);
    ASSERT_TRUE(c->Connect(true));
    ASSERT_TRUE(c->SelectMailBox("Range"));
    ASSERT_EQ(c->MailBox()->TotalMsgs, 30);
    ASSERT_TRUE(c->RetrieveMessage(4, *NetCreateNoOwner<TNetMessage>()));  // now \Seen

    const int64_t size7 = c->GetMessageSize(7);
    std::vector<int> numbers;
    std::vector<std::string> uids;
    std::string code = c->RetrieveHeadersRange(
        2, 29,
        [&](const TNetIMAP4::TRangeItem &it, TNetMessage &m) {
            EXPECT_EQ(m.MessageId(), ExpectedId(it.Number));
            EXPECT_EQ(m.Subject, ExpectedSubject(it.Number));
            EXPECT_EQ(it.Flags.Has(mfSeen), it.Number == 4) << it.Number;
            if (it.Number == 7) EXPECT_EQ(it.Size, size7);
            EXPECT_GT(it.Size, 0);
            numbers.push_back(it.Number);
            uids.push_back(it.UID);
            return true;
        },
        true);
    EXPECT_EQ(code, "OK");
    ASSERT_EQ(numbers.size(), 28u);
    EXPECT_EQ(numbers.front(), 2);
    EXPECT_EQ(numbers.back(), 29);
    EXPECT_EQ(uids[0], c->GetUID(2));
    // Nothing was marked read by the range.
    EXPECT_FALSE(c->GetMessageFlags(5));

    // A handler that stops: the rest of the answer is read past and the
    // session goes on.
    int seen = 0;
    c->RetrieveHeadersRange(1, 30, [&](const TNetIMAP4::TRangeItem &, TNetMessage &) { return ++seen < 3; });
    EXPECT_EQ(seen, 3);
    EXPECT_EQ(c->GetUID(30).empty(), false);

    // Deletions by known UIDs in one STORE; the expunge removes only them.
    ASSERT_TRUE(c->DeleteMessagesByUID({uids[1], uids[8]}));
    ASSERT_TRUE(c->ExpungeMailBox());
    EXPECT_EQ(c->MailBox()->TotalMsgs, 28);
    // A number beyond the mailbox: the server's refusal, no exception.
    EXPECT_NE(c->RetrieveHeadersRange(40, 41, [](const TNetIMAP4::TRangeItem &, TNetMessage &) { return true; }),
              "OK");
    EXPECT_TRUE(c->Connected());
    c->Disconnect();
}

TEST_F(IMAPDovecot, RangesSentAheadAreReadInOrderAndAnotherCommandReadsPastThem) {
    Server->FillMailbox("names", 30, "Ahead");
    auto c = Client("names", false);
    ASSERT_TRUE(c->Connect(true));
    ASSERT_TRUE(c->SelectMailBox("Ahead"));
    // Three ranges on their way before the first answer is read.
    c->SendHeadersRange(1, 10);
    c->SendHeadersRange(11, 20);
    c->SendHeadersRange(21, 30, true);
    EXPECT_EQ(c->PendingRanges(), 3);
    std::vector<int> numbers;
    auto take = [&](const TNetIMAP4::TRangeItem &it, TNetMessage &m) {
        EXPECT_EQ(m.MessageId(), ExpectedId(it.Number));
        numbers.push_back(it.Number);
        return true;
    };
    EXPECT_EQ(c->ReadHeadersRange(take), "OK");
    EXPECT_EQ(numbers.size(), 10u);
    EXPECT_EQ(c->ReadHeadersRange(take), "OK");
    EXPECT_EQ(numbers.size(), 20u);
    for (size_t k = 0; k < numbers.size(); ++k) EXPECT_EQ(numbers[k], int(k) + 1);
    // A command while a range is still due: that answer is read past first,
    // and the command gets its own.
    EXPECT_EQ(c->PendingRanges(), 1);
    EXPECT_EQ(c->GetUID(30).empty(), false);
    EXPECT_EQ(c->PendingRanges(), 0);
    EXPECT_THROW(c->ReadHeadersRange(take), ENetIMAP4CommandFailed);
    EXPECT_TRUE(c->Connected());
    c->Disconnect();
}
