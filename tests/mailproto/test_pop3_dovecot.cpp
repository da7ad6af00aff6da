// TNetPOP3 against a real server: Dovecot on loopback, plain, POP3S and
// STLS, every log-in method it offers, and Python's poplib reading the same
// mailbox as the second opinion on counts, sizes, header bytes and
// deletions.

#include "DovecotServer.h"
#include "dovecot_suite.h"
#include "NetPOP3.h"
#include "NetSASLMechanisms.h"
#include "NetSSLOpenSSL.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

const int kMessages = 12;

// poplib's view of a mailbox: "count size", then per message its size and
// the hex of its header lines, each ended by CR LF.
const char *kPoplibView = R"PY(
import poplib, sys
p = poplib.POP3(sys.argv[1], int(sys.argv[2]), timeout=10)
p.user(sys.argv[3])
p.pass_(sys.argv[4])
count, size = p.stat()
print(count, size)
for line in p.list()[1]:
    n, s = line.split()
    head = p.top(int(n), 0)[1]
    head = head[:head.index(b"")] if b"" in head else head
    print(int(s), b"".join(l + b"\r\n" for l in head).hex())
p.quit()
)PY";

struct PoplibView {
    int Count = -1;
    std::vector<long long> Sizes;   // by message number - 1
    std::vector<std::string> Tops;  // header bytes
};

PoplibView Poplib(const DovecotServer &dc, size_t user) {
    std::string out, err;
    if (RunPython(kPoplibView, {dc.Host(), std::to_string(dc.Pop3Port()), dc.UserName(user), dc.Password(user)},
                  &out, &err) != 0)
        throw std::runtime_error("poplib failed: " + err);
    PoplibView v;
    std::istringstream in(out);
    long long total, size;
    in >> v.Count >> total;
    for (std::string hex; in >> size >> hex;) {
        v.Sizes.push_back(size);
        v.Tops.emplace_back();
        for (size_t i = 0; i + 1 < hex.size(); i += 2) v.Tops.back() += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return v;
}

class POP3Dovecot : public DovecotSuite<POP3Dovecot> {
protected:
    static void SetUpTestSuite() {
        DovecotServer::Options o;
        // One mailbox to read, two to change, one for APOP and SASL (its
        // password in UTF-8 and with a blank).
        o.Users = {{"reader", "r3ad-er"}, {"deleter", "d3l"}, {"resetter", "r3s"}, {"auth", "pässwörd 1"}};
        if (!StartDovecot(o)) return;
        Server->FillMailbox("reader", kMessages);
        Server->FillMailbox("deleter", 4);
        Server->FillMailbox("resetter", 4);
        Server->FillMailbox("auth", 2);
    }
    void SetUp() override {
        DovecotSuite::SetUp();
        if (IsSkipped()) return;
        Pop.reset(NetCreate<TNetPOP3>(nullptr));
        Pop->SetHost(Server->Host());
        Pop->SetPort(Server->Pop3Port());
        Pop->SetConnectTimeout(5000);
        Pop->SetReadTimeout(10000);
    }
    void TearDown() override {
        if (Pop && Pop->Connected()) Pop->Disconnect(false);
        Pop.reset();
    }
    void As(size_t user) {
        Pop->Username = Server->UserName(user);
        Pop->Password = Server->Password(user);
    }

    std::unique_ptr<TNetPOP3> Pop;
    std::unique_ptr<TNetMessage> Msg = NetCreateNoOwner<TNetMessage>();
};

TEST_F(POP3Dovecot, CountsSizesHeadersAndMessagesAgreeWithPoplib) {
    PoplibView ref = Poplib(*Server, 0);
    ASSERT_EQ(ref.Count, kMessages);
    As(0);
    Pop->Connect();
    EXPECT_GE(Pop->Capabilities()->IndexOf("TOP"), 0);
    // Dovecot offers APOP: its greeting carries a timestamp.
    EXPECT_EQ(Pop->APOPTimestamp().front(), '<');
    EXPECT_EQ(Pop->APOPTimestamp().back(), '>');

    ASSERT_EQ(Pop->GetMessageCount(), ref.Count);
    for (int n = 1; n <= ref.Count; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(Pop->GetMessageSize(n), ref.Sizes[size_t(n - 1)]);
        ASSERT_TRUE(Pop->RetrieveHeaders(n, *Msg));
        EXPECT_EQ(Msg->Headers.Text(), ref.Tops[size_t(n - 1)]);
        EXPECT_EQ(Msg->MessageId(), "<msg" + std::to_string(n) + "@tarnwick.test>");
    }
    // Encoded words in the header come out as their letters.
    ASSERT_TRUE(Pop->RetrieveHeaders(4, *Msg));
    EXPECT_EQ(Msg->Subject, "Grüße aus Köln, Nachricht 4");
    ASSERT_TRUE(Pop->RetrieveHeaders(3, *Msg));
    EXPECT_EQ(Msg->From().Name, "Jürgen Übel");
    EXPECT_EQ(Msg->From().Address, "juergen3@example.org");

    // Message 5 carries an attachment of 512 bytes (make_messages.py).
    ASSERT_TRUE(Pop->RetrieveMessage(5, *Msg));
    EXPECT_EQ(Msg->Subject, "Test message 5");
    ASSERT_EQ(Msg->Parts.Count(), 2);
    auto *text = dynamic_cast<TNetText *>(&Msg->Parts[0]);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->Body[0], "Line 1 of message 5.");
    auto *att = dynamic_cast<TNetAttachment *>(&Msg->Parts[1]);
    ASSERT_NE(att, nullptr);
    EXPECT_EQ(att->FileName, "data5.bin");
    auto in = att->OpenLoadStream();
    std::string data(size_t(in->Size()), '\0'), expect;
    in->ReadBuffer(data.data(), int64_t(data.size()));
    for (int b = 0; b < 512; ++b) expect += char(b & 255);
    EXPECT_EQ(data, expect);

    // The session is still in step: the next commands get their own replies.
    ASSERT_TRUE(Pop->RetrieveMessage(2, *Msg));
    EXPECT_EQ(Msg->Body[4], "Line 5 of message 2.");
    // A message number beyond the mailbox: "-ERR", the message untouched.
    EXPECT_FALSE(Pop->RetrieveMessage(kMessages + 1, *Msg));
    EXPECT_EQ(Msg->Subject, "Test message 2");
    EXPECT_THROW(Pop->RetrieveHeaders(kMessages + 1, *Msg), ENetReplyPOP3Error);
    EXPECT_THROW(Pop->GetMessageSize(kMessages + 1), ENetReplyPOP3Error);
    EXPECT_EQ(Pop->GetMessageCount(), kMessages);
    Pop->Disconnect();
    EXPECT_FALSE(Pop->Connected());
}

TEST_F(POP3Dovecot, DeletionsTakeEffectAtQuitAndResetUndoesThem) {
    As(2);
    Pop->Connect();
    ASSERT_EQ(Pop->GetMessageCount(), 4);
    EXPECT_TRUE(Pop->DeleteMessage(1));
    EXPECT_TRUE(Pop->DeleteMessage(3));
    // A deleted message cannot be deleted twice in the session: the server
    // refuses, the session goes on.
    EXPECT_FALSE(Pop->DeleteMessage(1));
    EXPECT_FALSE(Pop->DeleteMessage(99));
    EXPECT_TRUE(Pop->Connected());
    EXPECT_EQ(Pop->GetMessageCount(), 2);
    EXPECT_TRUE(Pop->ResetDeletions());
    Pop->Disconnect();
    EXPECT_EQ(Poplib(*Server, 2).Count, 4);

    As(1);
    Pop->Connect();
    ASSERT_TRUE(Pop->RetrieveHeaders(1, *Msg));
    const std::string gone = Msg->MessageId();
    EXPECT_TRUE(Pop->DeleteMessage(1));
    // Still there while the session holds the deletion.
    EXPECT_EQ(Server->StoredMessageCount("deleter"), 4);
    Pop->Disconnect();
    PoplibView after = Poplib(*Server, 1);
    ASSERT_EQ(after.Count, 3);
    for (const auto &top : after.Tops) EXPECT_EQ(top.find(gone), std::string::npos);
}

TEST_F(POP3Dovecot, BadPasswordRaisesTheServersTextAndCloses) {
    As(0);
    Pop->Password = "wrong";
    try {
        Pop->Connect();
        FAIL() << "log-in accepted";
    } catch (const ENetReplyPOP3Error &e) {
        EXPECT_EQ(e.ReplyCode(), "-ERR");
        EXPECT_STREQ(e.what(), "Authentication failed.\r\n");
    }
    EXPECT_FALSE(Pop->Connected());
    // The component is usable again at once.
    Pop->Password = Server->Password(0);
    Pop->Connect();
    EXPECT_EQ(Pop->GetMessageCount(), kMessages);
}

TEST_F(POP3Dovecot, APOPLogsInWithTheGreetingsTimestamp) {
    As(3);
    Pop->AuthType = atAPOP;
    Pop->Connect();
    EXPECT_EQ(Pop->GetMessageCount(), 2);
    Pop->Disconnect();
    Pop->Password = "not it";
    EXPECT_THROW(Pop->Connect(), ENetReplyPOP3Error);
    EXPECT_FALSE(Pop->Connected());
}

TEST_F(POP3Dovecot, SASLMechanismsLogInAndFallBack) {
    auto *plain = NetCreate<TNetSASLPlain>(Pop.get());
    auto *login = NetCreate<TNetSASLLogin>(Pop.get());
    auto *cram = NetCreate<TNetSASLCRAMMD5>(Pop.get());
    Pop->AuthType = atSASL;
    for (TNetSASLUserPass *mech : std::initializer_list<TNetSASLUserPass *>{plain, login, cram}) {
        SCOPED_TRACE(mech->ServiceName());
        mech->Username = Server->UserName(3);
        mech->Password = Server->Password(3);
        Pop->SASLMechanisms()->Clear();
        Pop->SASLMechanisms()->Add(mech);
        Pop->Connect();
        EXPECT_EQ(Pop->GetMessageCount(), 2);
        EXPECT_TRUE(Server->WaitForLog("Login: user=<auth>, method=" + mech->ServiceName())) << Server->LogText();
        Pop->Disconnect();

        // The same mechanism with a wrong password: the server's refusal.
        mech->Password = "wrong";
        EXPECT_THROW(Pop->Connect(), ENetReplyPOP3Error);
        EXPECT_FALSE(Pop->Connected());
    }
    // Tried from the last entry: the refused one gives way to the next.
    cram->Password = Server->Password(3);
    Pop->SASLMechanisms()->Clear();
    Pop->SASLMechanisms()->Add(cram);
    Pop->SASLMechanisms()->Add(plain);
    Pop->Connect();
    EXPECT_EQ(Pop->GetMessageCount(), 2);
    EXPECT_TRUE(Server->WaitForLog("Login: user=<auth>, method=CRAM-MD5", 2)) << Server->LogText();
    // PLAIN's refusal came first: the fourth mismatch of this test.
    EXPECT_TRUE(Server->WaitForLog("Password mismatch", 4)) << Server->LogText();
    Pop->Disconnect();
    // Freeing a mechanism takes its entry out of the list.
    delete plain;
    ASSERT_EQ(Pop->SASLMechanisms()->Count(), 1);
    EXPECT_EQ(Pop->SASLMechanisms()->Items(0)->SASL(), cram);
}

TEST_F(POP3Dovecot, ImplicitTLSAndSTLS) {
    auto *tls = NetCreate<TNetSSLIOHandlerSocketOpenSSL>(Pop.get());
    Pop->SetIOHandler(tls);
    int ciphers = 0;
    tls->OnStatusInfo = [&](const std::string &m) { ciphers += m.rfind("Cipher: name = ", 0) == 0; };
    As(0);
    Pop->SetUseTLS(utUseImplicitTLS);
    Pop->SetPort(Server->Pop3sPort());
    Pop->Connect();
    EXPECT_EQ(ciphers, 1);
    ASSERT_TRUE(Pop->RetrieveHeaders(7, *Msg));
    EXPECT_EQ(Msg->Subject, "Test message 7");
    Pop->Disconnect();

    Pop->SetUseTLS(utUseRequireTLS);
    Pop->SetPort(Server->Pop3Port());
    Pop->Connect();
    EXPECT_EQ(ciphers, 2);
    // Asked again over TLS; Dovecot no longer offers STLS there.
    EXPECT_LT(Pop->Capabilities()->IndexOfText("STLS"), 0);
    ASSERT_TRUE(Pop->RetrieveMessage(8, *Msg));
    EXPECT_EQ(Msg->Body[0], "Line 1 of message 8.");
    Pop->Disconnect();

    // One component serves every account in turn, as the checking cycle
    // uses it: back to plain text through the same TLS handler.
    Pop->SetUseTLS(utNoTLSSupport);
    Pop->Connect();
    EXPECT_EQ(ciphers, 2);
    EXPECT_GE(Pop->Capabilities()->IndexOfText("STLS"), 0);
    EXPECT_EQ(Pop->GetMessageCount(), kMessages);
    Pop->Disconnect();

    // Explicit TLS against the implicit-TLS port: the handshake is not what
    // the server expects; the client ends up closed, with an exception.
    Pop->SetUseTLS(utUseRequireTLS);
    Pop->SetPort(Server->Pop3sPort());
    Pop->SetReadTimeout(1000);
    EXPECT_THROW(Pop->Connect(), Exception);
    EXPECT_FALSE(Pop->Connected());
}

}  // namespace

TEST_F(POP3Dovecot, CommandsSentAheadAreAnsweredInOrder) {
    PoplibView ref = Poplib(*Server, 0);
    As(0);
    Pop->Connect();
    // Dovecot offers PIPELINING; the window stays within its bounds.
    ASSERT_TRUE(Pop->SupportsPipelining());
    EXPECT_GE(Pop->PipelineWindow(), 2);
    EXPECT_LE(Pop->PipelineWindow(), Pop->PipelineDepth);
    std::vector<std::string> ahead;
    for (int n = 1; n <= ref.Count; ++n) {
        ahead.push_back("TOP " + std::to_string(n) + " 0");
        ahead.push_back("LIST " + std::to_string(n));
    }
    // One refused in the middle: the rest stay in step.
    ahead.insert(ahead.begin() + 4, "TOP 99 0");
    Pop->SendAhead(ahead);
    EXPECT_EQ(Pop->PendingReplies(), int(ahead.size()));
    for (int n = 1; n <= ref.Count; ++n) {
        SCOPED_TRACE(n);
        if (n == 3) EXPECT_THROW(Pop->ReadHeadersReply(*Msg), ENetReplyPOP3Error);
        Pop->ReadHeadersReply(*Msg);
        EXPECT_EQ(Msg->Headers.Text(), ref.Tops[size_t(n - 1)]);
        EXPECT_EQ(Pop->ReadListReply(), ref.Sizes[size_t(n - 1)]);
    }
    EXPECT_EQ(Pop->PendingReplies(), 0);

    // A DELE in the stream; answers left unread are read past before QUIT.
    Pop->SendAhead({"TOP 1 0", "DELE 2", "TOP 3 0", "TOP 4 0"});
    Pop->ReadHeadersReply(*Msg);
    EXPECT_EQ(Pop->ReadStatusReply(), "+OK");
    Pop->DiscardReply();
    EXPECT_EQ(Pop->PendingReplies(), 1);
    // Reading the wrong kind of answer is refused without a read.
    EXPECT_THROW(Pop->ReadStatusReply(), ENetPOP3Exception);
    Pop->SendAhead({"RSET"});
    Pop->DiscardPendingReplies();
    EXPECT_EQ(Pop->PendingReplies(), 0);
    EXPECT_TRUE(Pop->Connected());
    EXPECT_EQ(Pop->GetMessageCount(), ref.Count);
    Pop->Disconnect();
    EXPECT_EQ(Poplib(*Server, 0).Count, ref.Count);

    // Commands that would smuggle another line are refused before sending.
    Pop->Connect();
    EXPECT_THROW(Pop->SendAhead({"TOP 1 0\r\nDELE 1"}), ENetPOP3Exception);
    EXPECT_EQ(Pop->PendingReplies(), 0);
    Pop->Disconnect();
}
