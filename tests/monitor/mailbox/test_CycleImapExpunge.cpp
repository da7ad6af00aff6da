// The cycle's IMAP4 deletions become final only with the expunge: where the
// expunge is refused or its connection ends, "deleted.txt" and the log say
// nothing was deleted (the record as it was before the check), and the
// messages stay mail until a later check deletes them. A relay stands in for Dovecot at the expunge.
#include <gtest/gtest.h>

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

class CycleImapExpunge : public DovecotSuite<CycleImapExpunge> {
protected:
    static void SetUpTestSuite() {
        DovecotServer::Options o;
        for (const char *u : {"refused", "cut"}) o.Users.push_back({u, std::string("pw-") + u});
        if (!StartDovecot(o)) return;
        for (const char *u : {"refused", "cut"})
            for (int n = 1; n <= 4; ++n) Server->AddMessage(u, TestMessage(n));
    }
    void SetUp() override {
        DovecotSuite::SetUp();
        if (IsSkipped()) return;
        if (!PythonAvailable()) GTEST_SKIP() << "python3 is needed";
    }

    // Messages 2 and 4 are deleted by a rule.
    static TFrmMain &Start(MainWindowHarness &h, const std::string &user, int port) {
        WriteTestFile(h.Dir.File("rules/delete.rul"), "[Rule]\nRule1=1\nAllAccounts=True\nAllEMails=True\n"
                                                      "WordsRule=0\n[Words]\n0=message 2\n1=message 4\n");
        h.WriteSettings({TTestAccount{.Name = user + "-account",
                                      .Kind = "IMAP4",
                                      .Port = port,
                                      .User = user,
                                      .Password = "pw-" + user}},
                        {h.LongLog(), "DelMessVal=2"});
        TFrmMain &m = h.Start();
        m.NetIMAP41->SetReadTimeout(20000);
        m.NetIMAP41->SetConnectTimeout(10000);
        return m;
    }
    // The Message-IDs left in the user's INBOX, in order, blank-separated.
    static std::string IdsOnServer(const std::string &user) { return Server->InboxMessageIds(user); }
    static int RecordedLines(MainWindowHarness &h) {
        if (!FileExists(h.Dir.File("deleted.txt"))) return 0;
        TStringList lines;
        lines.LoadFromFile(h.Dir.File("deleted.txt"));
        return lines.Count();
    }
};

}  // namespace

TEST_F(CycleImapExpunge, DeletionsAreRecordedOnlyWhenTheExpungeIsDone) {
    const std::string all = Id(1) + " " + Id(2) + " " + Id(3) + " " + Id(4);
    for (const std::string user : {"refused", "cut"}) {
        SCOPED_TRACE(user);
        CommandRelay relay(Server->ImapPort(), "^\\S+ (UID )?EXPUNGE", user == "refused" ? "{tag} NO Not now" : "");
        MainWindowHarness h;
        // A line of an earlier check, which the two lines of this one would
        // push out of a record kept to two lines.
        const std::string earlier = "Earlier message   Someone   elsewhere   08:00    01.03.2024\r\n";
        WriteTestFile(h.Dir.File("deleted.txt"), earlier);
        TFrmMain &m = Start(h, user, relay.Port());
        m.Timer1Timer();

        EXPECT_EQ(IdsOnServer(user), all);
        EXPECT_EQ(ReadTestFile(h.Dir.File("deleted.txt")), earlier) << h.Log();
        EXPECT_EQ(h.LogLinesWith("Deleted by a rule"), 0) << h.Log();
        EXPECT_EQ(h.LogLinesWith("Deletions not confirmed by the server"), 1) << h.Log();
        const Tiedot &t = m.State.Accounts[0];
        EXPECT_EQ(t.NewCount, 4) << h.Log();
        EXPECT_EQ(t.MessageIds.Text(), TStringList({Id(1), Id(3), Id(2), Id(4)}).Text()) << h.Log();

        // Straight to the server, the next check deletes them for good.
        m.State.Accounts[0].Port = Server->ImapPort();
        m.Timer1Timer();
        EXPECT_EQ(IdsOnServer(user), Id(1) + " " + Id(3));
        EXPECT_EQ(RecordedLines(h), 2) << h.Log();
        EXPECT_EQ(h.LogLinesWith("Deleted by a rule"), 2) << h.Log();
        EXPECT_EQ(m.State.Accounts[0].NewCount, 2) << h.Log();
    }
}
