// The cycle's POP3 pipeline against the scripted POP3 mailbox
// (ScriptedPop3Server), which offers PIPELINING or not, can refuse one TOP,
// cut the connection at one or think long over one, and writes down every
// command with whether more had already arrived before its answer went out
// (a command sent ahead).
#include <gtest/gtest.h>

#include <algorithm>

#include "SimpleTimer.h"

#include "mainwindow/MainWindowFixture.h"
#include "NetPOP3.h"
#include "PythonPeer.h"
#include "ScriptedPop3Server.h"

namespace {

class CyclePipeline : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PythonAvailable()) GTEST_SKIP() << "python3 is needed";
    }
    static TTestAccount Account(const std::string &name, int port) {
        TTestAccount a;
        a.Name = name;
        a.Port = port;
        a.User = "user";
        a.Password = "secret";
        return a;
    }
    TFrmMain &Start(MainWindowHarness &h) {
        TFrmMain &m = h.Start();
        m.NetPOP31->SetReadTimeout(10000);
        m.NetPOP31->SetConnectTimeout(10000);
        return m;
    }
};

}  // namespace

TEST_F(CyclePipeline, WithoutPipeliningNoCommandIsSentAhead) {
    ScriptedPop3Server server(NumberedPop3Messages(40), {.Pipelining = false});
    MainWindowHarness h;
    WriteTestFile(h.Dir.File("rules/delete.rul"),
                  "[Rule]\nRule1=1\nAllAccounts=True\nAllEMails=True\nWordsRule=0\n[Words]\n0=message 7\n");
    h.WriteSettings({Account("plain", server.Port())}, {MainWindowHarness::LongLog()});
    TFrmMain &m = Start(h);
    m.Timer1Timer();
    EXPECT_EQ(m.State.Accounts[0].NewCount, 39) << h.Log();
    EXPECT_EQ(server.Count("ahead"), 0) << h.Log();
    // One command per answer, each DELE right after its message's TOP.
    std::vector<std::string> c = server.Commands();
    ASSERT_GE(c.size(), 46u);
    EXPECT_EQ(c[4], "TOP 1 0");
    EXPECT_EQ(c[10], "TOP 7 0");
    EXPECT_EQ(c[11], "DELE 7");
    EXPECT_EQ(c[12], "TOP 8 0");
    EXPECT_EQ(c.back(), "QUIT");
}

TEST_F(CyclePipeline, WithPipeliningTheTopsGoAheadInOrder) {
    ScriptedPop3Server server(NumberedPop3Messages(300));
    MainWindowHarness h;
    WriteTestFile(h.Dir.File("rules/delete.rul"),
                  "[Rule]\nRule1=1\nAllAccounts=True\nAllEMails=True\nWordsRule=0\n[Words]\n0=message 7\n");
    h.WriteSettings({Account("fast", server.Port())}, {MainWindowHarness::LongLog()});
    TFrmMain &m = Start(h);
    m.Timer1Timer();
    const Tiedot &t = m.State.Accounts[0];
    // 7 and 70 to 79 are deleted: 11 messages, in different windows.
    EXPECT_EQ(t.NewCount, 289) << h.Log();
    ASSERT_EQ(t.MessageIds.Count(), 289);
    EXPECT_EQ(t.MessageIds[5], "<m6@scripted.test>");
    EXPECT_EQ(t.MessageIds[6], "<m8@scripted.test>");
    EXPECT_EQ(h.LogLinesWith("Deleted by a rule"), 11);
    EXPECT_GT(server.Count("ahead"), 0);
    // Every TOP once and in order; every deletion asked for once.
    int expect = 1;
    for (const std::string &c : server.Commands()) {
        if (StartsText("TOP ", c)) {
            EXPECT_TRUE(StartsText("TOP " + std::to_string(expect++) + " 0", c)) << c;
        }
    }
    EXPECT_EQ(expect, 301);
    EXPECT_EQ(server.Count("DELE "), 11);
    // Never more TOPs in flight than the window.
    EXPECT_LE(m.NetPOP31->PipelineWindow(), m.NetPOP31->PipelineDepth);
}

TEST_F(CyclePipeline, ARefusedTopMidWindowKeepsTheAnswersInStep) {
    ScriptedPop3Server refusing(NumberedPop3Messages(200), {.Refused = "TOP 90"});
    ScriptedPop3Server next(NumberedPop3Messages(5));
    MainWindowHarness h;
    h.WriteSettings({Account("refusing", refusing.Port()), Account("next", next.Port())},
                    {MainWindowHarness::LongLog()});
    TFrmMain &m = Start(h);
    m.Timer1Timer();
    // Message 90 alone is passed over; each answer asked ahead after it
    // belongs to its own message, and the session ends with its own QUIT.
    const Tiedot &t = m.State.Accounts[0];
    EXPECT_EQ(t.NewCount, 199) << h.Log();
    ASSERT_EQ(t.MessageIds.Count(), 199);
    EXPECT_EQ(t.MessageIds[88], "<m89@scripted.test>");
    EXPECT_EQ(t.MessageIds[89], "<m91@scripted.test>");
    EXPECT_EQ(t.MessageIds[198], "<m200@scripted.test>");
    EXPECT_EQ(h.LogLinesWith("no such message"), 1) << h.Log();
    EXPECT_EQ(refusing.Commands().back(), "QUIT");
    EXPECT_EQ(m.State.Accounts[1].NewCount, 5) << h.Log();
    EXPECT_FALSE(m.NetPOP31->Connected());
}

TEST_F(CyclePipeline, DeletionsOnTheirWayWhenATopIsRefusedAreEachRecorded) {
    // 8 and 80 to 89 are deleted; the DELEs of the last of them are still on
    // their way behind the TOPs when TOP 90 is refused.
    ScriptedPop3Server refusing(NumberedPop3Messages(200), {.Refused = "TOP 90"});
    MainWindowHarness h;
    WriteTestFile(h.Dir.File("rules/delete.rul"),
                  "[Rule]\nRule1=1\nAllAccounts=True\nAllEMails=True\nWordsRule=0\n[Words]\n0=message 8\n");
    h.WriteSettings({Account("refusing", refusing.Port())}, {MainWindowHarness::LongLog(), "DelMessVal=1000"});
    TFrmMain &m = Start(h);
    m.Timer1Timer();
    const std::vector<std::string> c = refusing.Commands();
    auto at = [&](const std::string &prefix) {
        return std::find_if(c.begin(), c.end(), [&](const std::string &l) { return StartsText(prefix, l); }) - c.begin();
    };
    ASSERT_GT(at("DELE 89"), at("TOP 90 0")) << "DELE 89 went out behind the refused TOP";
    EXPECT_EQ(m.State.Accounts[0].NewCount, 200 - 1 - 11) << h.Log();
    // Every DELE the server was sent is answered, recorded and then made
    // at QUIT.
    EXPECT_EQ(refusing.Count("DELE "), 11);
    EXPECT_EQ(h.LogLinesWith("Deleted by a rule"), 11) << h.Log();
    TStringList deleted;
    deleted.LoadFromFile(h.Dir.File("deleted.txt"));
    EXPECT_EQ(deleted.Count(), 11);
    EXPECT_EQ(refusing.Commands().back(), "QUIT");
}

TEST_F(CyclePipeline, ACutMidWindowEndsTheAccountAndTheNextIsChecked) {
    ScriptedPop3Server cutting(NumberedPop3Messages(200), {.Cut = "TOP 90"});
    ScriptedPop3Server next(NumberedPop3Messages(5));
    MainWindowHarness h;
    h.WriteSettings({Account("cutting", cutting.Port()), Account("next", next.Port())},
                    {MainWindowHarness::LongLog()});
    TFrmMain &m = Start(h);
    m.Timer1Timer();
    EXPECT_EQ(m.State.Accounts[0].NewCount, 89) << h.Log();
    EXPECT_EQ(h.LogLinesWith("Connection Closed Gracefully"), 1) << h.Log();
    EXPECT_EQ(m.State.Accounts[1].NewCount, 5) << h.Log();
    EXPECT_EQ(m.State.Accounts.TotalNew, 94);
    EXPECT_FALSE(m.NetPOP31->Connected());
}

TEST_F(CyclePipeline, ExitMidWindowDropsWhatWasFetchedAhead) {
    // The server thinks long over message 50; the program is closed meanwhile.
    ScriptedPop3Server server(NumberedPop3Messages(200), {.Late = "TOP 50"});
    MainWindowHarness h;
    h.WriteSettings({Account("closing", server.Port())}, {MainWindowHarness::LongLog()});
    TFrmMain &m = Start(h);
    m.State.Accounts.TotalNew = 77;
    TSimpleTimer exitSoon(300, [&](QObject *) { m.Exit1->Tag = 1; });
    exitSoon.SetEnabled(true);
    m.Timer1Timer();
    exitSoon.SetEnabled(false);
    const Tiedot &t = m.State.Accounts[0];
    // The message being read when the stop came is the last one handled (as
    // one command at a time had it), the count is not recorded, and the
    // answers asked for ahead were read past before the goodbye.
    EXPECT_EQ(t.NewCount, 0);
    EXPECT_LE(t.MessageIds.Count(), 50);
    EXPECT_EQ(m.State.Accounts.TotalNew, 77);
    EXPECT_EQ(h.LogLinesWith("Done:"), 0) << h.Log();
    EXPECT_EQ(server.Commands().back(), "QUIT");
    EXPECT_FALSE(m.NetPOP31->Connected());
}
