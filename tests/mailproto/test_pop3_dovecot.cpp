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

#include <cstdlib>
#include <sstream>

namespace {

const int kMessages = 12;

// poplib's view of a mailbox: "STAT n size", "LIST i size", then per
// message "TOP i" and the hex of its header lines joined by CR LF.
const char *kPoplibView = R"PY(
import poplib, sys
host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
p = poplib.POP3(host, port, timeout=10)
p.user(user)
p.pass_(password)
count, size = p.stat()
print("STAT", count, size)
for line in p.list()[1]:
    n, s = line.split()
    print("LIST", int(n), int(s))
for n in range(1, count + 1):
    resp, lines, octets = p.top(n, 0)
    head = []
    for l in lines:
        if l == b"":
            break
        head.append(l)
    print("TOP", n, b"\r\n".join(head).hex())
p.quit()
)PY";

struct PoplibView {
    int Count = -1;
    long long Size = -1;
    std::vector<int> Sizes;         // by message number - 1
    std::vector<std::string> Tops;  // header bytes
};

std::string Unhex(const std::string &h) {
    std::string out;
    for (size_t i = 0; i + 1 < h.size(); i += 2) out += char(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

PoplibView Poplib(const DovecotServer &dc, size_t user) {
    std::string out, err;
    int rc = RunPython(kPoplibView, {dc.Host(), std::to_string(dc.Pop3Port()), dc.UserName(user), dc.Password(user)},
                       &out, &err);
    if (rc != 0) throw std::runtime_error("poplib failed: " + err);
    PoplibView v;
    std::istringstream in(out);
    std::string word;
    while (in >> word) {
        if (word == "STAT") {
            in >> v.Count >> v.Size;
        } else if (word == "LIST") {
            int n, s;
            in >> n >> s;
            v.Sizes.push_back(s);
        } else if (word == "TOP") {
            int n;
            std::string hex;
            in >> n >> hex;
            v.Tops.push_back(Unhex(hex));
        }
    }
    return v;
}

int Occurrences(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

std::string JoinLines(const TStringList &l) {
    std::string s;
    for (int i = 0; i < l.Count(); ++i) s += (i ? "\r\n" : "") + l[i];
    return s;
}

class POP3Dovecot : public DovecotSuite<POP3Dovecot> {
protected:
    static void SetUpTestSuite() {
        DovecotServer::Options o;
        // One mailbox to read, two to change, one for APOP and SASL.
        o.Users = {{"reader", "r3ad-er"}, {"deleter", "d3l"}, {"resetter", "r3s"}, {"auth", "s3cret pass"}};
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
    TNetSSLIOHandlerSocketOpenSSL *UseTLSHandler() {
        auto *tls = NetCreate<TNetSSLIOHandlerSocketOpenSSL>(Pop.get());
        Pop->SetIOHandler(tls);
        return tls;
    }

    std::unique_ptr<TNetPOP3> Pop;
};

TEST_F(POP3Dovecot, CountsSizesAndHeadersEqualPoplibs) {
    PoplibView ref = Poplib(*Server, 0);
    ASSERT_EQ(ref.Count, kMessages);

    As(0);
    Pop->Connect();
    EXPECT_TRUE(Pop->Connected());
    EXPECT_TRUE(Pop->HasCapabilities());
    EXPECT_GE(Pop->Capabilities()->IndexOf("TOP"), 0);
    // Dovecot offers APOP: its greeting carries a timestamp.
    EXPECT_EQ(Pop->APOPTimestamp().front(), '<');
    EXPECT_EQ(Pop->APOPTimestamp().back(), '>');

    ASSERT_EQ(Pop->GetMessageCount(), ref.Count);
    auto msg = NetCreateNoOwner<TNetMessage>();
    for (int n = 1; n <= ref.Count; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(Pop->GetMessageSize(n), ref.Sizes[size_t(n - 1)]);
        ASSERT_TRUE(Pop->RetrieveHeaders(n, *msg));
        EXPECT_EQ(JoinLines(msg->Headers), ref.Tops[size_t(n - 1)]);
        EXPECT_EQ(msg->MessageId(), "<msg" + std::to_string(n) + "@tarnwick.test>");
    }
    // Encoded words in the header come out as their letters.
    ASSERT_TRUE(Pop->RetrieveHeaders(4, *msg));
    EXPECT_EQ(msg->Subject, "Grüße aus Köln, Nachricht 4");
    EXPECT_EQ(msg->From().Name, "Sender 4");
    ASSERT_TRUE(Pop->RetrieveHeaders(3, *msg));
    EXPECT_EQ(msg->From().Name, "Jürgen Übel");
    EXPECT_EQ(msg->From().Address, "juergen3@example.org");

    Pop->Disconnect();
    EXPECT_FALSE(Pop->Connected());
}

TEST_F(POP3Dovecot, RetrievesWholeMessagesWithTheirParts) {
    As(0);
    Pop->Connect();
    auto msg = NetCreateNoOwner<TNetMessage>();
    // Message 5 carries an attachment of 512 bytes (make_messages.py).
    ASSERT_TRUE(Pop->RetrieveMessage(5, *msg));
    EXPECT_EQ(msg->Subject, "Test message 5");
    ASSERT_EQ(msg->Parts.Count(), 2);
    auto *text = dynamic_cast<TNetText *>(&msg->Parts[0]);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->Body[0], "Line 1 of message 5.");
    auto *att = dynamic_cast<TNetAttachment *>(&msg->Parts[1]);
    ASSERT_NE(att, nullptr);
    EXPECT_EQ(att->FileName, "data5.bin");
    auto in = att->OpenLoadStream();
    std::string data(size_t(in->Size()), '\0');
    in->ReadBuffer(data.data(), int64_t(data.size()));
    std::string expect;
    for (int r = 0; r < 2; ++r)
        for (int b = 0; b < 256; ++b) expect += char(b);
    EXPECT_EQ(data, expect);

    // The session is still in step: the next commands get their own replies.
    ASSERT_TRUE(Pop->RetrieveMessage(2, *msg));
    EXPECT_EQ(msg->Subject, "Test message 2");
    EXPECT_EQ(msg->Body[4], "Line 5 of message 2.");
    EXPECT_EQ(Pop->GetMessageCount(), kMessages);

    // A message number beyond the mailbox: "-ERR", the message untouched.
    EXPECT_FALSE(Pop->RetrieveMessage(kMessages + 1, *msg));
    EXPECT_EQ(msg->Subject, "Test message 2");
    EXPECT_THROW(Pop->RetrieveHeaders(kMessages + 1, *msg), ENetReplyPOP3Error);
    EXPECT_THROW(Pop->GetMessageSize(kMessages + 1), ENetReplyPOP3Error);
    EXPECT_TRUE(Pop->Connected());
    EXPECT_EQ(Pop->GetMessageCount(), kMessages);
}

TEST_F(POP3Dovecot, DeletionsTakeEffectAtQuitAndResetUndoesThem) {
    As(2);
    Pop->Connect();
    ASSERT_EQ(Pop->GetMessageCount(), 4);
    EXPECT_TRUE(Pop->DeleteMessage(1));
    EXPECT_TRUE(Pop->DeleteMessage(3));
    // A deleted message cannot be deleted twice in the session.
    EXPECT_THROW(Pop->DeleteMessage(1), ENetReplyPOP3Error);
    EXPECT_TRUE(Pop->ResetDeletions());
    Pop->Disconnect();
    EXPECT_EQ(Poplib(*Server, 2).Count, 4);

    As(1);
    Pop->Connect();
    auto msg = NetCreateNoOwner<TNetMessage>();
    ASSERT_TRUE(Pop->RetrieveHeaders(1, *msg));
    const std::string gone = msg->MessageId();
    EXPECT_TRUE(Pop->DeleteMessage(1));
    // Still there for poplib while the session holds the deletion.
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

TEST_F(POP3Dovecot, SASLMechanismsLogIn) {
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
        const std::string logged = "user=<auth>, method=" + mech->ServiceName();
        int before = Occurrences(Server->LogText(), logged);
        Pop->Connect();
        EXPECT_EQ(Pop->GetMessageCount(), 2);
        EXPECT_TRUE(Server->WaitForLog(logged, before + 1)) << Server->LogText();
        Pop->Disconnect();

        // The same mechanism with a wrong password: the server's refusal.
        mech->Password = "wrong";
        EXPECT_THROW(Pop->Connect(), ENetReplyPOP3Error);
        EXPECT_FALSE(Pop->Connected());
    }
    // Freeing a mechanism takes its entry out of the list.
    Pop->SASLMechanisms()->Clear();
    Pop->SASLMechanisms()->Add(plain);
    Pop->SASLMechanisms()->Add(cram);
    delete plain;
    ASSERT_EQ(Pop->SASLMechanisms()->Count(), 1);
    EXPECT_EQ(Pop->SASLMechanisms()->Items(0)->SASL(), cram);
}

TEST_F(POP3Dovecot, ImplicitTLSAndSTLS) {
    auto *tls = UseTLSHandler();
    int ciphers = 0;
    tls->OnStatusInfo = [&](const std::string &m) {
        if (m.rfind("Cipher: name = ", 0) == 0) ++ciphers;
    };
    As(0);
    Pop->SetUseTLS(utUseImplicitTLS);
    Pop->SetPort(Server->Pop3sPort());
    Pop->Connect();
    EXPECT_EQ(ciphers, 1);
    EXPECT_EQ(Pop->GetMessageCount(), kMessages);
    auto msg = NetCreateNoOwner<TNetMessage>();
    ASSERT_TRUE(Pop->RetrieveHeaders(7, *msg));
    EXPECT_EQ(msg->Subject, "Test message 7");
    Pop->Disconnect();

    Pop->SetUseTLS(utUseRequireTLS);
    Pop->SetPort(Server->Pop3Port());
    Pop->Connect();
    EXPECT_EQ(ciphers, 2);
    // Asked again over TLS; Dovecot no longer offers STLS there.
    EXPECT_TRUE(Pop->HasCapabilities());
    EXPECT_LT(Pop->Capabilities()->IndexOfText("STLS"), 0);
    EXPECT_EQ(Pop->GetMessageCount(), kMessages);
    ASSERT_TRUE(Pop->RetrieveMessage(8, *msg));
    EXPECT_EQ(msg->Body[0], "Line 1 of message 8.");
    Pop->Disconnect();

    // One component serves every account in turn, as the checking cycle
    // uses it: back to plain text through the same TLS handler.
    Pop->SetUseTLS(utNoTLSSupport);
    Pop->SetPort(Server->Pop3Port());
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
