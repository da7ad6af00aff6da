// The SASL log-in: which mechanisms are tried in which order, what goes over
// the wire in one exchange, and PLAIN, LOGIN and CRAM-MD5 against Dovecot's
// own implementation over POP3 "AUTH" and IMAP4 "AUTHENTICATE".

#include "DovecotServer.h"
#include "NetCoder.h"
#include "NetHashMessageDigest.h"
#include "NetSASLMechanisms.h"
#include "NetTCPClient.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

std::string B64(const std::string &s) { return TNetEncoderMIME().EncodeString(s); }

// A server played by a function from each line sent to (code, text).
class ScriptedServer : public TNetSASLConnection {
public:
    std::function<std::pair<std::string, std::string>(const std::string &)> Answer;
    std::vector<std::string> Sent;
    void SASLSendCmd(const std::string &line) override {
        Sent.push_back(line);
        std::tie(FCode, FText) = Answer(line);
    }
    std::string SASLReplyCode() override { return FCode; }
    std::string SASLReplyText() override { return FText; }

private:
    std::string FCode, FText;
};

// A mechanism that records what happens to it.
class TTestSASL : public TNetSASL {
public:
    const char *ClassName() const override { return "TTestSASL"; }
    std::string Name;
    std::vector<std::string> Steps;
    bool FailStart = false;
    std::string ServiceName() const override { return Name; }
    std::string StartAuthenticate(const std::string &challenge) override {
        Steps.push_back("start:" + challenge);
        if (FailStart) ENetSASLException::Toss("cannot");
        return "r1";
    }
    std::string ContinueAuthenticate(const std::string &challenge) override {
        Steps.push_back("continue:" + challenge);
        return "r" + std::to_string(Steps.size());
    }
    void FinishAuthenticate() override { Steps.push_back("finish"); }

protected:
    explicit TTestSASL(TNetInitializerComponent *owner) : TNetSASL(owner) {}
};

// Stands in for a mail client: owns the entries and drops the ones whose
// mechanism is freed, as the POP3 and IMAP4 clients do.
class TTestClient : public TNetBaseComponent {
public:
    TNetSASLEntries Entries{this};
    void Notification(TNetInitializerComponent *comp, TOperation op) override {
        if (op == opRemove) Entries.RemoveByComp(comp);
        TNetBaseComponent::Notification(comp, op);
    }

protected:
    explicit TTestClient(TNetInitializerComponent *owner) : TNetBaseComponent(owner) {}
};

TTestSASL *MakeMech(TNetInitializerComponent *owner, const std::string &name) {
    TTestSASL *m = NetCreate<TTestSASL>(owner);
    m->Name = name;
    return m;
}

const std::vector<std::string> kOk{"+OK"}, kCont{"+"};

}  // namespace

TEST(SaslLogin, ServerMechanismNamesFromCapabilities) {
    auto names = [](TStringList caps, const char *key) {
        return TNetSASLEntries::ParseCapaSASL(caps, key).Text();
    };
    EXPECT_EQ(names({"TOP", "USER", "SASL PLAIN LOGIN", "UIDL"}, "SASL"), "PLAIN\r\nLOGIN\r\n");
    EXPECT_EQ(names({"IMAP4rev1", "AUTH=PLAIN", "AUTH=LOGIN", "AUTH=PLAIN"}, "AUTH"), "PLAIN\r\nLOGIN\r\n");
    // Keywords match without regard to case, names come out upper case; a
    // longer keyword ("SASLX") or "AUTH" inside another word is no match.
    EXPECT_EQ(names({"sasl cram-md5  plain", "SASLX FOO", "XAUTH=BAR", "AUTH"}, "SASL"), "CRAM-MD5\r\nPLAIN\r\n");
    EXPECT_EQ(names({"XAUTH=BAR", "AUTHX=Y"}, "AUTH"), "");
    // A whole IMAP capability response kept as one line.
    EXPECT_EQ(names({"IMAP4rev1 SASL-IR AUTH=PLAIN AUTH=CRAM-MD5 ID"}, "AUTH"), "PLAIN\r\nCRAM-MD5\r\n");

    TTestClient *client = NetCreate<TTestClient>(nullptr);
    TTestSASL *m = MakeMech(client, "CRAM-MD5");
    EXPECT_TRUE(m->IsAuthProtocolAvailable({"PLAIN", "cram-md5"}));
    EXPECT_FALSE(m->IsAuthProtocolAvailable({"PLAIN", "CRAM-MD5X"}));
    m->Name = "";
    EXPECT_FALSE(m->IsAuthProtocolAvailable({""}));
    delete client;
}

TEST(SaslLogin, CandidatesAreTriedFromTheLastEntryAndOnlyWhenOffered) {
    TTestClient *client = NetCreate<TTestClient>(nullptr);
    TTestSASL *a = MakeMech(client, "AAA");
    TTestSASL *b = MakeMech(client, "BBB");
    TTestSASL *c = MakeMech(client, "CCC");
    client->Entries.Add(a);
    client->Entries.Add(b);
    client->Entries.Add();  // an entry without mechanism is passed over
    client->Entries.Add(c);
    client->Entries.Add(b);  // the same mechanism twice is tried once
    ScriptedServer server;
    server.Answer = [](const std::string &) { return std::pair<std::string, std::string>{"-ERR", "no"}; };

    TStringList caps{"SASL AAA BBB"};
    EXPECT_FALSE(client->Entries.LoginWithSASL("AUTH", kOk, kCont, server, &caps, "SASL"));
    EXPECT_EQ(server.Sent, (std::vector<std::string>{"AUTH BBB", "AUTH AAA"}));

    // No capability list at all: every mechanism is a candidate.
    server.Sent.clear();
    EXPECT_FALSE(client->Entries.LoginWithSASL("AUTH", kOk, kCont, server, nullptr, "SASL"));
    EXPECT_EQ(server.Sent, (std::vector<std::string>{"AUTH BBB", "AUTH CCC", "AUTH AAA"}));

    // An empty list (the server offers nothing): nothing is sent.
    server.Sent.clear();
    TStringList none;
    EXPECT_FALSE(client->Entries.LoginWithSASL("AUTH", kOk, kCont, server, &none, "SASL"));
    EXPECT_TRUE(server.Sent.empty());

    // The first mechanism that succeeds ends the log-in.
    server.Sent.clear();
    server.Answer = [](const std::string &line) {
        return std::pair<std::string, std::string>{line == "AUTH CCC" ? "+ok" : "-ERR", ""};
    };
    EXPECT_TRUE(client->Entries.LoginWithSASL("AUTH", kOk, kCont, server, nullptr, "SASL"));
    EXPECT_EQ(server.Sent, (std::vector<std::string>{"AUTH BBB", "AUTH CCC"}));
    delete client;
}

TEST(SaslLogin, OneExchangeDecodesChallengesAndEncodesResponses) {
    TTestClient *client = NetCreate<TTestClient>(nullptr);
    TTestSASL *m = MakeMech(client, "TEST");
    client->Entries.Add(m);
    ScriptedServer server;
    int round = 0;
    server.Answer = [&](const std::string &) -> std::pair<std::string, std::string> {
        switch (round++) {
        case 0: return {"+", "  " + B64("first challenge") + " "};
        case 1: return {"+", B64("second")};
        default: return {"+OK", "welcome"};
        }
    };
    EXPECT_TRUE(client->Entries.LoginWithSASL("AUTH", kOk, kCont, server, nullptr, "SASL"));
    EXPECT_EQ(server.Sent, (std::vector<std::string>{"AUTH TEST", B64("r1"), B64("r2")}));
    EXPECT_EQ(m->Steps, (std::vector<std::string>{"start:first challenge", "continue:second", "finish"}));

    // A code that is neither success nor continue fails the exchange; the
    // finish step runs all the same.
    m->Steps.clear();
    round = 0;
    server.Sent.clear();
    server.Answer = [&](const std::string &) -> std::pair<std::string, std::string> {
        return round++ == 0 ? std::pair<std::string, std::string>{"+", ""}
                            : std::pair<std::string, std::string>{"-ERR", "bad"};
    };
    EXPECT_FALSE(client->Entries.LoginWithSASL("AUTH", kOk, kCont, server, nullptr, "SASL"));
    EXPECT_EQ(m->Steps, (std::vector<std::string>{"start:", "finish"}));
    delete client;
}

TEST(SaslLogin, ServersThatNeverFinishAndMechanismsThatCannotAnswerAreCancelled) {
    TTestClient *client = NetCreate<TTestClient>(nullptr);
    TTestSASL *m = MakeMech(client, "TEST");
    client->Entries.Add(m);
    ScriptedServer server;
    server.Answer = [](const std::string &line) -> std::pair<std::string, std::string> {
        if (line == "*") return {"-ERR", "cancelled"};
        return {"+", B64("more")};
    };
    EXPECT_FALSE(client->Entries.LoginWithSASL("AUTH", kOk, kCont, server, nullptr, "SASL"));
    ASSERT_EQ(server.Sent.size(), size_t(TNetSASLEntries::MaxChallenges + 2));
    EXPECT_EQ(server.Sent.back(), "*");
    EXPECT_EQ(m->Steps.back(), "finish");

    m->Steps.clear();
    server.Sent.clear();
    m->FailStart = true;
    EXPECT_THROW(client->Entries.LoginWithSASL("AUTH", kOk, kCont, server, nullptr, "SASL"), ENetSASLException);
    EXPECT_EQ(server.Sent, (std::vector<std::string>{"AUTH TEST", "*"}));
    EXPECT_EQ(m->Steps.back(), "finish");
    delete client;
}

TEST(SaslLogin, EntriesAndTheProcessWideListFollowTheMechanisms) {
    TTestClient *client = NetCreate<TTestClient>(nullptr);
    TTestSASL *a = MakeMech(nullptr, "AAA");
    TTestSASL *b = MakeMech(nullptr, "BBB");
    auto all = NetSASLInstances();
    EXPECT_NE(std::find(all.begin(), all.end(), a), all.end());
    client->Entries.Add(a);
    client->Entries.Add(b);
    client->Entries.Add(a);
    EXPECT_EQ(client->Entries.Items(1)->DisplayName(), "BBB");
    EXPECT_EQ(client->Entries.Add()->DisplayName(), "TNetSASLListEntry");

    TNetSASLEntries copy(nullptr);
    copy.Assign(client->Entries);
    ASSERT_EQ(copy.Count(), 4);
    EXPECT_EQ(copy.Items(2)->SASL(), a);

    delete a;  // the client is told and forgets both entries of it
    ASSERT_EQ(client->Entries.Count(), 2);
    EXPECT_EQ(client->Entries.Items(0)->SASL(), b);
    all = NetSASLInstances();
    EXPECT_EQ(std::find(all.begin(), all.end(), a), all.end());
    delete client;
    delete b;
}

TEST(SaslLogin, MechanismResponses) {
    TTestClient *client = NetCreate<TTestClient>(nullptr);
    auto *plain = NetCreate<TNetSASLPlain>(client);
    plain->Username = "tim";
    plain->Password = "tanstaaf";
    EXPECT_EQ(plain->StartAuthenticate(""), std::string("\0tim\0tanstaaf", 13));
    plain->Password = std::string("a\0b", 3);
    EXPECT_THROW(plain->StartAuthenticate(""), ENetSASLException);

    auto *login = NetCreate<TNetSASLLogin>(client);
    login->Username = "tim";
    login->Password = "secret";
    // The answers follow the step, not the prompt text.
    EXPECT_EQ(login->StartAuthenticate("Password:"), "tim");
    EXPECT_EQ(login->ContinueAuthenticate("Username:"), "secret");
    EXPECT_EQ(login->ContinueAuthenticate("Password:"), "");
    login->FinishAuthenticate();
    EXPECT_EQ(login->StartAuthenticate("Username:"), "tim");

    auto *cram = NetCreate<TNetSASLCRAMMD5>(client);
    cram->Username = "tim";
    cram->Password = "tanstaaftanstaaf";
    EXPECT_EQ(cram->StartAuthenticate("<1896.697170952@postoffice.reston.mci.net>"),
              "tim b913a602c7eda7a495b4e6e7334d3890");
    delete client;
}

// ---------------------------------------------------------------------------
// Against Dovecot, over a plain line connection (the POP3 and IMAP4 clients
// take this part later).

namespace {

class LineConnection : public TNetSASLConnection {
public:
    LineConnection(int port, bool imap) : FImap(imap) {
        FFd = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval tv{10, 0};
        setsockopt(FFd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(FFd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) throw std::runtime_error("connect");
        Greeting = ReadLine();
    }
    ~LineConnection() override { ::close(FFd); }

    std::string Greeting;

    std::string ReadLine() {
        for (;;) {
            size_t eol = FBuf.find("\r\n");
            if (eol != std::string::npos) {
                std::string line = FBuf.substr(0, eol);
                FBuf.erase(0, eol + 2);
                return line;
            }
            char chunk[4096];
            ssize_t n = ::recv(FFd, chunk, sizeof chunk, 0);
            if (n <= 0) throw std::runtime_error("connection closed");
            FBuf.append(chunk, size_t(n));
        }
    }
    void WriteLine(const std::string &line) {
        std::string out = line + "\r\n";
        ::send(FFd, out.data(), out.size(), MSG_NOSIGNAL);
    }
    // POP3: one line, "+OK text" / "-ERR text" / "+ text".
    // IMAP4: untagged lines skipped; "+ text", or the tagged "OK"/"NO"/"BAD".
    void SASLSendCmd(const std::string &line) override {
        bool tagged = FImap && line.rfind("AUTHENTICATE ", 0) == 0;
        WriteLine(tagged ? "A1 " + line : line);
        for (;;) {
            std::string reply = ReadLine();
            if (FImap && reply.rfind("* ", 0) == 0) continue;
            if (FImap && reply.rfind("A1 ", 0) == 0) reply.erase(0, 3);
            size_t sp = reply.find(' ');
            FCode = reply.substr(0, sp);
            FText = sp == std::string::npos ? "" : reply.substr(sp + 1);
            return;
        }
    }
    std::string SASLReplyCode() override { return FCode; }
    std::string SASLReplyText() override { return FText; }

    std::vector<std::string> Capa() {
        WriteLine("CAPA");
        std::vector<std::string> lines;
        if (ReadLine().rfind("+OK", 0) != 0) return lines;
        for (std::string l = ReadLine(); l != "."; l = ReadLine()) lines.push_back(l);
        return lines;
    }

private:
    int FFd;
    bool FImap;
    std::string FBuf, FCode, FText;
};

}  // namespace

TEST(SaslDovecot, EachMechanismLogsInOverPop3AndImap) {
    std::string why = DovecotServer::Unavailable();
    if (!why.empty()) GTEST_FAIL() << why;
    DovecotServer::Options opt;
    opt.Users = {{"tester", "pässwörd 1"}};  // UTF-8 and a blank
    DovecotServer dc(opt);
    dc.FillMailbox("tester", 3);

    TTestClient *client = NetCreate<TTestClient>(nullptr);
    TNetSASLUserPass *mechs[] = {NetCreate<TNetSASLPlain>(client), NetCreate<TNetSASLLogin>(client),
                                 NetCreate<TNetSASLCRAMMD5>(client)};
    for (TNetSASLUserPass *m : mechs) {
        m->Username = "tester";
        m->Password = "pässwörd 1";
        client->Entries.Clear();
        client->Entries.Add(m);
        {
            LineConnection pop(dc.Pop3Port(), false);
            TStringList caps;
            for (auto &l : pop.Capa()) caps.Add(l);
            EXPECT_TRUE(client->Entries.LoginWithSASL("AUTH", {"+OK"}, {"+"}, pop, &caps, "SASL"))
                << m->ServiceName() << "\n" << dc.LogText();
            pop.WriteLine("STAT");
            EXPECT_EQ(pop.ReadLine().rfind("+OK 3 ", 0), 0u);
        }
        {
            LineConnection imap(dc.ImapPort(), true);
            // The greeting's capability words, kept as one line.
            size_t from = imap.Greeting.find("[CAPABILITY "), to = imap.Greeting.find(']');
            ASSERT_NE(to, std::string::npos) << imap.Greeting;
            TStringList caps{imap.Greeting.substr(from + 12, to - from - 12)};
            EXPECT_TRUE(client->Entries.LoginWithSASL("AUTHENTICATE", {"OK"}, {"+"}, imap, &caps, "AUTH"))
                << m->ServiceName() << "\n" << dc.LogText();
        }
        EXPECT_TRUE(dc.WaitForLog("method=" + m->ServiceName() + ",", 2)) << dc.LogText();
    }
    delete client;
}

TEST(SaslDovecot, RefusedMechanismFallsBackToTheNextEntry) {
    std::string why = DovecotServer::Unavailable();
    if (!why.empty()) GTEST_FAIL() << why;
    DovecotServer dc;
    TTestClient *client = NetCreate<TTestClient>(nullptr);
    auto *cram = NetCreate<TNetSASLCRAMMD5>(client);
    cram->Username = dc.UserName();
    cram->Password = dc.Password();
    auto *plain = NetCreate<TNetSASLPlain>(client);
    plain->Username = dc.UserName();
    plain->Password = "wrong";
    auto *unknown = MakeMech(client, "X-UNKNOWN");
    client->Entries.Add(cram);
    client->Entries.Add(plain);
    client->Entries.Add(unknown);  // not offered by the server: never sent

    LineConnection pop(dc.Pop3Port(), false);
    TStringList caps;
    for (auto &l : pop.Capa()) caps.Add(l);
    EXPECT_TRUE(client->Entries.LoginWithSASL("AUTH", {"+OK"}, {"+"}, pop, &caps, "SASL"));
    EXPECT_TRUE(unknown->Steps.empty());
    EXPECT_TRUE(dc.WaitForLog("Password mismatch")) << dc.LogText();
    EXPECT_TRUE(dc.WaitForLog("method=CRAM-MD5")) << dc.LogText();

    // With every password wrong the log-in is refused, not an error, and the
    // connection still answers.
    cram->Password = "wrong too";
    LineConnection pop2(dc.Pop3Port(), false);
    EXPECT_FALSE(client->Entries.LoginWithSASL("AUTH", {"+OK"}, {"+"}, pop2, &caps, "SASL"));
    pop2.WriteLine("NOOP");
    EXPECT_EQ(pop2.ReadLine().rfind("-ERR", 0), 0u);  // not logged in, but in step
    delete client;
}

TEST(SaslDovecot, ApopDigestOfTheGreetingTimestamp) {
    std::string why = DovecotServer::Unavailable();
    if (!why.empty()) GTEST_FAIL() << why;
    DovecotServer dc;
    LineConnection pop(dc.Pop3Port(), false);
    size_t lt = pop.Greeting.find('<'), gt = pop.Greeting.find('>', lt);
    ASSERT_NE(gt, std::string::npos) << pop.Greeting;
    std::string stamp = pop.Greeting.substr(lt, gt - lt + 1);
    pop.WriteLine("APOP " + dc.UserName() + " " + NetHashToLowerHex(NetMD5(stamp + dc.Password())));
    EXPECT_EQ(pop.ReadLine().rfind("+OK", 0), 0u) << dc.LogText();

    LineConnection bad(dc.Pop3Port(), false);
    bad.WriteLine("APOP " + dc.UserName() + " " + NetHashToLowerHex(NetMD5(stamp + dc.Password())));
    EXPECT_EQ(bad.ReadLine().rfind("-ERR", 0), 0u);  // another connection, another timestamp
}

namespace {

// One-line replies whose code is the first word ("+OK", "-ERR", "+"), enough
// of POP3 to carry the exchange through the shared command/reply layer.
class TWordReply : public TNetReply {
public:
    using TNetReply::TNetReply;
    void SetFormattedReply(const TStringList &lines) override {
        Clear();
        std::string line = lines.Count() ? lines[0] : "";
        size_t sp = line.find(' ');
        FCode = line.substr(0, sp);
        Text.Add(sp == std::string::npos ? "" : line.substr(sp + 1));
    }
    bool IsLastLine(const std::string &) override { return true; }
    [[noreturn]] void RaiseReplyError() override { throw ENetReplyError(TextJoined()); }
};

class TWordClient : public TNetTCPClient {
protected:
    explicit TWordClient(TNetInitializerComponent *owner) : TNetTCPClient(owner) {}
    TNetReplyClass GetReplyClass() override {
        return [] { return std::unique_ptr<TNetReply>(new TWordReply()); };
    }
};

}  // namespace

TEST(SaslDovecot, ExchangeThroughTheClientConnection) {
    std::string why = DovecotServer::Unavailable();
    if (!why.empty()) GTEST_FAIL() << why;
    DovecotServer dc;
    dc.FillMailbox(dc.UserName(), 2);
    auto client = NetCreateNoOwner<TWordClient>();
    client->SetHost(dc.Host());
    client->SetPort(dc.Pop3Port());
    client->SetReadTimeout(10000);
    TNetSASLEntries entries(client.get());
    auto *login = NetCreate<TNetSASLLogin>(client.get());
    login->Username = dc.UserName();
    login->Password = dc.Password();
    entries.Add(login);

    EXPECT_THROW(entries.LoginWithSASL("AUTH", {"+OK"}, {"+"}, static_cast<TNetTCPConnection *>(nullptr),
                                       nullptr, "SASL"),
                 ENetNotConnected);
    client->Connect();
    EXPECT_EQ(client->GetResponse("+OK"), "+OK");
    TStringList caps{"SASL PLAIN LOGIN CRAM-MD5"};
    EXPECT_TRUE(entries.LoginWithSASL("AUTH", {"+OK"}, {"+"}, client.get(), &caps, "SASL")) << dc.LogText();
    EXPECT_EQ(client->SendCmdExpectText("STAT", "+OK"), "+OK");
    EXPECT_EQ(client->LastCmdResult()->Text[0].rfind("2 ", 0), 0u);
    client->SendCmdExpectText("QUIT", "+OK");
    client->Disconnect(false);
    EXPECT_TRUE(dc.WaitForLog("method=LOGIN")) << dc.LogText();
}
