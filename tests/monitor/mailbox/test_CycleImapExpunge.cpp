// The cycle's IMAP4 deletions when the expunge is refused or its answer
// lost, whole or in one of its chunks: a line leaves "deleted.txt" only for
// a message the server certainly kept (our \Deleted flag taken off again),
// so whatever the server removes, now or at another client's expunge, has
// its line. A relay stands in for Dovecot at the expunge.
#include <gtest/gtest.h>

#include <set>

#include "../../mailproto/dovecot_suite.h"
#include "CommandRelay.h"
#include "NetIMAP4.h"
#include "PythonPeer.h"
#include "mainwindow/MainWindowFixture.h"

namespace {

std::string Id(int n) { return "<m" + std::to_string(n) + "@expunge.test>"; }

std::string TestMessage(int n) {
    return "From: Sender " + std::to_string(n) + " <sender" + std::to_string(n) + "@example.org>\r\nSubject: Message " +
           std::to_string(n) + "\r\nMessage-ID: " + Id(n) +
           "\r\nDate: Fri, 01 Mar 2024 08:00:00 +0000\r\n\r\nBody of message " + std::to_string(n) + ".\r\n";
}

std::set<int> Range(int first, int last) {
    std::set<int> out;
    for (int n = first; n <= last; ++n) out.insert(n);
    return out;
}

// One way the expunge goes wrong, and what becomes of the deletions.
struct TExpungeCase {
    const char *User;
    int Messages;
    std::set<int> Delete;
    const char *Pattern;  // the command the relay takes in the server's place
    const char *Answer;   // its answer; "" ends the connection there
    std::set<int> Final;  // carried out by the expunge
    std::set<int> Kept;   // certainly not: the flags came off again
    bool OthersExpunge = false;  // another client expunges at that command
};

// Four messages, 2 and 4 deleted; or 600, all deleted, the expunge in two
// chunks (500 UIDs and 100) of which the second goes wrong. The flags of
// "storelost" are set, but the answer saying so never comes. In
// "othergone" another client's expunge removes 2 and 4 before ours is
// refused: taking the flags off then keeps nothing.
const TExpungeCase Cases[] = {
    {"refused", 4, {2, 4}, "^\\S+ (UID )?EXPUNGE", "{tag} NO Not now", {}, {2, 4}},
    {"othergone", 4, {2, 4}, "^\\S+ (UID )?EXPUNGE", "{tag} NO Not now", {}, {}, true},
    {"cut", 4, {2, 4}, "^\\S+ (UID )?EXPUNGE", "", {}, {}},
    {"storelost", 4, {2, 4}, "^\\S+ UID STORE \\S+ \\+FLAGS", "{lost}", {}, {}},
    {"chunkrefused", 600, Range(1, 600), "^\\S+ UID EXPUNGE 501,", "{tag} NO Not now", Range(1, 500), Range(501, 600)},
    {"chunkcut", 600, Range(1, 600), "^\\S+ UID EXPUNGE 501,", "", Range(1, 500), {}},
};

class CycleImapExpunge : public DovecotSuite<CycleImapExpunge> {
protected:
    static void SetUpTestSuite() {
        DovecotServer::Options o;
        for (const TExpungeCase &c : Cases) o.Users.push_back({c.User, std::string("pw-") + c.User});
        if (!StartDovecot(o)) return;
        for (const TExpungeCase &c : Cases)
            for (int n = 1; n <= c.Messages; ++n) Server->AddMessage(c.User, TestMessage(n));
    }
    void SetUp() override {
        DovecotSuite::SetUp();
        if (IsSkipped()) return;
        if (!PythonAvailable()) GTEST_SKIP() << "python3 is needed";
    }

    static TFrmMain &Start(MainWindowHarness &h, const TExpungeCase &c, int port) {
        std::string words = "WordsRule=6\n";
        if (int(c.Delete.size()) < c.Messages) {
            words = "WordsRule=0\n[Words]\n";
            int i = 0;
            for (int n : c.Delete) words += std::to_string(i++) + "=message " + std::to_string(n) + "\n";
        }
        WriteTestFile(h.Dir.File("rules/delete.rul"), "[Rule]\nRule1=1\nAllAccounts=True\nAllEMails=True\n" + words);
        // Four messages: two lines kept, so those of the check would push out
        // an earlier one.
        h.WriteSettings({TTestAccount{.Name = std::string(c.User) + "-account",
                                      .Kind = "IMAP4",
                                      .Port = port,
                                      .User = c.User,
                                      .Password = std::string("pw-") + c.User}},
                        {h.LongLog(), c.Messages > 4 ? "DelMessVal=1000" : "DelMessVal=2"});
        TFrmMain &m = h.Start();
        m.NetIMAP41->SetReadTimeout(20000);
        m.NetIMAP41->SetConnectTimeout(10000);
        return m;
    }
    // The numbers of the messages the server no longer holds.
    static std::set<int> Gone(const TExpungeCase &c) {
        std::set<int> out = Range(1, c.Messages);
        const std::string ids = Server->InboxMessageIds(c.User) + " ";
        for (int n = 1; n <= c.Messages; ++n)
            if (Contains(ids, Id(n) + " ")) out.erase(n);
        return out;
    }
    // The numbers of the messages "deleted.txt" records, and how many lines
    // it has for them.
    static std::set<int> Recorded(MainWindowHarness &h, int *lineCount = nullptr) {
        std::set<int> out;
        TStringList lines;
        if (FileExists(h.Dir.File("deleted.txt"))) lines.LoadFromFile(h.Dir.File("deleted.txt"));
        int count = 0;
        for (const std::string &l : lines.Items())
            if (StartsText("Message ", l)) {
                out.insert(std::stoi(l.substr(8)));
                ++count;
            }
        if (lineCount) *lineCount = count;
        return out;
    }
};

std::set<int> Without(std::set<int> a, const std::set<int> &b) {
    for (int n : b) a.erase(n);
    return a;
}

}  // namespace

TEST_F(CycleImapExpunge, ALineGoesOnlyForAMessageTheServerCertainlyKept) {
    for (const TExpungeCase &c : Cases) {
        SCOPED_TRACE(c.User);
        const std::set<int> unknown = Without(Without(c.Delete, c.Final), c.Kept);
        CommandRelay relay(Server->ImapPort(), c.Pattern, c.Answer,
                           c.OthersExpunge ? std::string(c.User) + ":pw-" + c.User : "");
        MainWindowHarness h;
        const std::string earlier = "Earlier message   Someone   elsewhere   08:00    01.03.2024\r\n";
        WriteTestFile(h.Dir.File("deleted.txt"), earlier);
        TFrmMain &m = Start(h, c, relay.Port());
        m.Timer1Timer();

        // Each deletion the server carried out, or may have, stays on record
        // and is no mail; one it kept is mail again, and its line is gone
        // (with nothing else on record, the record is as it was).
        EXPECT_EQ(Gone(c), c.OthersExpunge ? c.Delete : c.Final);
        EXPECT_EQ(Recorded(h), Without(c.Delete, c.Kept)) << h.Log();
        if (c.Final.empty() && unknown.empty()) {
            EXPECT_EQ(ReadTestFile(h.Dir.File("deleted.txt")), earlier);
        }
        EXPECT_EQ(h.LogLinesWith("Deleted by a rule"), int(c.Final.size())) << h.Log();
        EXPECT_EQ(h.LogLinesWith("Deletions the server did not make, kept as new mail: " +
                                 std::to_string(c.Kept.size())),
                  c.Kept.empty() ? 0 : 1)
            << h.Log();
        EXPECT_EQ(h.LogLinesWith("Deletions the server did not confirm, kept on record: " +
                                 std::to_string(unknown.size())),
                  unknown.empty() ? 0 : 1)
            << h.Log();
        const Tiedot &t = m.State.Accounts[0];
        EXPECT_EQ(t.NewCount, c.Messages - int(c.Delete.size()) + int(c.Kept.size())) << h.Log();
        if (c.Messages == 4 && !c.Kept.empty()) {
            EXPECT_EQ(t.MessageIds.Text(), TStringList({Id(1), Id(3), Id(2), Id(4)}).Text()) << h.Log();
        }

        // Another client's expunge removes only what is on record.
        Server->ExpungeInbox(c.User);
        EXPECT_EQ(Gone(c), Without(c.Delete, c.Kept));
        EXPECT_EQ(Recorded(h), Gone(c)) << h.Log();

        // Straight to the server, the next check deletes the rest for good,
        // and each deletion has one line.
        m.State.Accounts[0].Port = Server->ImapPort();
        m.Timer1Timer();
        int lines = 0;
        EXPECT_EQ(Gone(c), c.Delete);
        EXPECT_EQ(Recorded(h, &lines), c.Delete) << h.Log();
        EXPECT_EQ(lines, int(c.Delete.size())) << h.Log();
        EXPECT_EQ(h.LogLinesWith("Deleted by a rule"), int(c.Final.size() + c.Kept.size())) << h.Log();
        EXPECT_EQ(m.State.Accounts[0].NewCount, c.Messages - int(c.Delete.size())) << h.Log();
    }
}
