// The SASL log-in: which mechanisms are tried in which order, what goes over
// the wire in one exchange, and what PLAIN, LOGIN and CRAM-MD5 answer. The
// same mechanisms log in to Dovecot in the POP3 and IMAP4 client tests.

#include "NetCoder.h"
#include "NetSASLMechanisms.h"
#include "NetTCPClient.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Reply = std::pair<std::string, std::string>;
using Lines = std::vector<std::string>;

std::string B64(const std::string &s) { return TNetEncoderMIME().EncodeString(s); }

// A server played by a function from each line sent to (code, text).
class ScriptedServer : public TNetSASLConnection {
public:
    std::function<Reply(const std::string &)> Answer;
    Lines Sent;
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
    Lines Steps;
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

class SaslLogin : public ::testing::Test {
protected:
    ~SaslLogin() override { delete Client; }
    TTestSASL *Mech(const std::string &name, bool owned = true) {
        TTestSASL *m = NetCreate<TTestSASL>(owned ? Client : nullptr);
        m->Name = name;
        return m;
    }
    bool Login(const TStringList *caps = nullptr) {
        return Client->Entries.LoginWithSASL("AUTH", {"+OK"}, {"+"}, Server, caps, "SASL");
    }
    TTestClient *Client = NetCreate<TTestClient>(nullptr);
    ScriptedServer Server;
};

}  // namespace

TEST_F(SaslLogin, ServerMechanismNamesFromCapabilities) {
    struct {
        TStringList caps;
        const char *keyword, *want;
    } rows[] = {
        {{"TOP", "USER", "SASL PLAIN LOGIN", "UIDL"}, "SASL", "PLAIN\r\nLOGIN\r\n"},
        {{"IMAP4rev1", "AUTH=PLAIN", "AUTH=LOGIN", "AUTH=PLAIN"}, "AUTH", "PLAIN\r\nLOGIN\r\n"},
        // Keywords match without regard to case, names come out upper case; a
        // longer keyword ("SASLX") or "AUTH" inside another word is no match.
        {{"sasl cram-md5  plain", "SASLX FOO", "XAUTH=BAR", "AUTH"}, "SASL", "CRAM-MD5\r\nPLAIN\r\n"},
        {{"XAUTH=BAR", "AUTHX=Y"}, "AUTH", ""},
        // A whole IMAP capability response kept as one line.
        {{"IMAP4rev1 SASL-IR AUTH=PLAIN AUTH=CRAM-MD5 ID"}, "AUTH", "PLAIN\r\nCRAM-MD5\r\n"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.caps.Text());
        EXPECT_EQ(TNetSASLEntries::ParseCapaSASL(r.caps, r.keyword).Text(), r.want);
    }
    TTestSASL *m = Mech("CRAM-MD5");
    EXPECT_TRUE(m->IsAuthProtocolAvailable({"PLAIN", "cram-md5"}));
    EXPECT_FALSE(m->IsAuthProtocolAvailable({"PLAIN", "CRAM-MD5X"}));
    m->Name = "";
    EXPECT_FALSE(m->IsAuthProtocolAvailable({""}));
}

TEST_F(SaslLogin, CandidatesAreTriedFromTheLastEntryAndOnlyWhenOffered) {
    TTestSASL *a = Mech("AAA"), *b = Mech("BBB"), *c = Mech("CCC");
    Client->Entries.Add(a);
    Client->Entries.Add(b);
    Client->Entries.Add();  // an entry without mechanism is passed over
    Client->Entries.Add(c);
    Client->Entries.Add(b);  // the same mechanism twice is tried once
    Server.Answer = [](const std::string &) { return Reply{"-ERR", "no"}; };

    TStringList caps{"SASL AAA BBB"}, none;
    EXPECT_FALSE(Login(&caps));
    EXPECT_EQ(Server.Sent, (Lines{"AUTH BBB", "AUTH AAA"}));
    // No capability list at all: every mechanism is a candidate.
    Server.Sent.clear();
    EXPECT_FALSE(Login());
    EXPECT_EQ(Server.Sent, (Lines{"AUTH BBB", "AUTH CCC", "AUTH AAA"}));
    // An empty list (the server offers nothing): nothing is sent.
    Server.Sent.clear();
    EXPECT_FALSE(Login(&none));
    EXPECT_TRUE(Server.Sent.empty());
    // The first mechanism that succeeds ends the log-in.
    Server.Answer = [](const std::string &line) { return Reply{line == "AUTH CCC" ? "+ok" : "-ERR", ""}; };
    EXPECT_TRUE(Login());
    EXPECT_EQ(Server.Sent, (Lines{"AUTH BBB", "AUTH CCC"}));
}

TEST_F(SaslLogin, OneExchangeDecodesChallengesAndEncodesResponses) {
    TTestSASL *m = Mech("TEST");
    Client->Entries.Add(m);
    int round = 0;
    Server.Answer = [&](const std::string &) -> Reply {
        switch (round++) {
        case 0: return {"+", "  " + B64("first challenge") + " "};
        case 1: return {"+", B64("second")};
        default: return {"+OK", "welcome"};
        }
    };
    EXPECT_TRUE(Login());
    EXPECT_EQ(Server.Sent, (Lines{"AUTH TEST", B64("r1"), B64("r2")}));
    EXPECT_EQ(m->Steps, (Lines{"start:first challenge", "continue:second", "finish"}));

    // A code that is neither success nor continue fails the exchange; the
    // finish step runs all the same.
    m->Steps.clear();
    round = 0;
    Server.Answer = [&](const std::string &) { return round++ == 0 ? Reply{"+", ""} : Reply{"-ERR", "bad"}; };
    EXPECT_FALSE(Login());
    EXPECT_EQ(m->Steps, (Lines{"start:", "finish"}));

    EXPECT_THROW(Client->Entries.LoginWithSASL("AUTH", {"+OK"}, {"+"}, static_cast<TNetTCPConnection *>(nullptr),
                                               nullptr, "SASL"),
                 ENetNotConnected);
}

TEST_F(SaslLogin, ServersThatNeverFinishAndMechanismsThatCannotAnswerAreCancelled) {
    TTestSASL *m = Mech("TEST");
    Client->Entries.Add(m);
    Server.Answer = [](const std::string &line) { return line == "*" ? Reply{"-ERR", "cancelled"} : Reply{"+", B64("more")}; };
    EXPECT_FALSE(Login());
    ASSERT_EQ(Server.Sent.size(), size_t(TNetSASLEntries::MaxChallenges + 2));
    EXPECT_EQ(Server.Sent.back(), "*");
    EXPECT_EQ(m->Steps.back(), "finish");

    m->Steps.clear();
    Server.Sent.clear();
    m->FailStart = true;
    EXPECT_THROW(Login(), ENetSASLException);
    EXPECT_EQ(Server.Sent, (Lines{"AUTH TEST", "*"}));
    EXPECT_EQ(m->Steps.back(), "finish");
}

TEST_F(SaslLogin, FreedMechanismsLeaveTheEntriesAndTheProcessWideList) {
    TTestSASL *a = Mech("AAA", false), *b = Mech("BBB", false);
    Client->Entries.Add(a);
    Client->Entries.Add(b);
    Client->Entries.Add(a);
    TNetSASLEntries copy(nullptr);
    copy.Assign(Client->Entries);
    ASSERT_EQ(copy.Count(), 3);
    EXPECT_EQ(copy.Items(2)->SASL(), a);

    delete a;  // the client is told and forgets both entries of it
    ASSERT_EQ(Client->Entries.Count(), 1);
    EXPECT_EQ(Client->Entries.Items(0)->SASL(), b);
    auto all = NetSASLInstances();
    EXPECT_EQ(std::find(all.begin(), all.end(), a), all.end());
    EXPECT_NE(std::find(all.begin(), all.end(), b), all.end());
    delete Client;
    Client = nullptr;
    delete b;
}

TEST_F(SaslLogin, MechanismResponses) {
    auto *plain = NetCreate<TNetSASLPlain>(Client);
    plain->Username = "tim";
    plain->Password = "tanstaaf";
    EXPECT_EQ(plain->StartAuthenticate(""), std::string("\0tim\0tanstaaf", 13));
    plain->Password = std::string("a\0b", 3);
    EXPECT_THROW(plain->StartAuthenticate(""), ENetSASLException);

    auto *login = NetCreate<TNetSASLLogin>(Client);
    login->Username = "tim";
    login->Password = "secret";
    // The answers follow the step, not the prompt text.
    EXPECT_EQ(login->StartAuthenticate("Password:"), "tim");
    EXPECT_EQ(login->ContinueAuthenticate("Username:"), "secret");
    EXPECT_EQ(login->ContinueAuthenticate("Password:"), "");
    login->FinishAuthenticate();
    EXPECT_EQ(login->StartAuthenticate("Username:"), "tim");

    auto *cram = NetCreate<TNetSASLCRAMMD5>(Client);
    cram->Username = "tim";
    cram->Password = "tanstaaftanstaaf";
    EXPECT_EQ(cram->StartAuthenticate("<1896.697170952@postoffice.reston.mci.net>"),
              "tim b913a602c7eda7a495b4e6e7334d3890");
}
