// The message reader against the scripted POP3 mailbox (ScriptedPop3Server),
// which offers PIPELINING or not, deletes at QUIT as a real server does, and
// writes down every command with whether more had already arrived before
// its answer went out (a command sent ahead).
#include <gtest/gtest.h>

#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>

#include "IniFile.h"
#include "mainwindow/MainWindowFixture.h"
#include "NetPOP3.h"
#include "PythonPeer.h"
#include "ReaderFixture.h"
#include "ScriptedPop3Server.h"
#include "reader/unShowBody.h"

namespace {

// Messages 1 to count on a server without UIDL: the reader knows each by
// its Message-ID and size (AReadOrDeleteGoesOnlyToTheMessageListed takes
// both kinds of server).
ScriptedPop3Server Serve(int count, bool pipelining, int bigAt = 0) {
    return ScriptedPop3Server(NumberedPop3Messages(count, bigAt), {.Pipelining = pipelining, .Uidl = false});
}

class MessageReaderPop3 : public ::testing::Test {
protected:
    void TearDown() override { SetModalHook({}); }
    void SetUp() override {
        if (!PythonAvailable()) GTEST_SKIP() << "python3 is needed";
    }
    // The main window on the one account of the scripted server, with more
    // options of its own.
    TFrmMain &Start(int port, std::vector<std::string> options = {}) {
        options.insert(options.begin(), H.LongLog());
        H.WriteSettings({TTestAccount{.Name = "Scripted", .Port = port, .User = "user", .Password = "secret"}},
                        options);
        TFrmMain &m = H.Start();
        m.Timer1->SetEnabled(false);
        m.NetPOP31->SetReadTimeout(10000);
        m.NetPOP31->SetConnectTimeout(10000);
        return m;
    }
    // The reader on that account; act works on the loaded list.
    void RunReader(const std::function<void(TfrmMessBody &)> &act) {
        H.Main->State.Accounts.ShownIndex = 0;
        EXPECT_TRUE(RunLoadedReader(act, 30000)) << "the reader stays busy";
    }
    void RunReader(int port, const std::function<void(TfrmMessBody &)> &act) {
        Start(port);
        RunReader(act);
    }

    MainWindowHarness H;
};

}  // namespace

TEST_F(MessageReaderPop3, WithoutPipeliningEveryCommandWaitsForTheAnswerBefore) {
    auto server = Serve(5, false);
    RunReader(server.Port(), [&](TfrmMessBody &f) {
        EXPECT_EQ(Subjects(f), (std::vector<std::string>{"Message 5", "Message 4", "Message 3", "Message 2",
                                                          "Message 1"}));
        EXPECT_EQ(f.MailList->topLevelItem(4)->text(3).toStdString(), "151") << "the LIST size of message 1";
    });
    EXPECT_EQ(server.Count("TOP "), 5);
    EXPECT_EQ(server.Count("LIST "), 5);
    EXPECT_EQ(server.Count(" ahead"), 0) << "a server without PIPELINING is sent one command per answer";
}

TEST_F(MessageReaderPop3, AHeaderTooLargeLeavesOutThatMessageAlone) {
    // Once with one command per answer, once with the commands sent ahead.
    for (bool pipelining : {false, true}) {
        SCOPED_TRACE(pipelining ? "pipelining" : "lock-step");
        auto server = Serve(4, pipelining, 2);
        RunReader(server.Port(), [&](TfrmMessBody &f) {
            EXPECT_EQ(Subjects(f), (std::vector<std::string>{"Message 4", "Message 3", "Message 1"})) << f.Status();
            // Message 3 is still deleted as the one it is: the numbers of
            // the others were kept.
            f.SelectRow(1);
            f.ToolButton1Click(f.ToolButton4);
            EXPECT_EQ(Subjects(f), (std::vector<std::string>{"Message 4", "Message 1"})) << f.Status();
        });
        EXPECT_EQ(server.Count("DELE 3"), 1);
        H.Stop();
    }
}

TEST_F(MessageReaderPop3, AfterADeleteTheNextRowsBodyIsFetchedAndShown) {
    auto server = Serve(3, true);
    RunReader(server.Port(), [&](TfrmMessBody &f) {
        f.SelectRow(0);  // message 3
        f.ToolButton1Click(f.ToolButton4);
        ASSERT_EQ(Subjects(f), (std::vector<std::string>{"Message 2", "Message 1"})) << f.Status();
        EXPECT_EQ(f.SelectedRow(), 0);
        EXPECT_TRUE(Contains(f.RichEdit1->toPlainText().toStdString(), "Body of message 2."))
            << "shown: " << f.RichEdit1->toPlainText().toStdString();
        EXPECT_FALSE(f.MailList->topLevelItem(0)->font(0).bold()) << "its body was read";
    });
    EXPECT_EQ(server.Count("DELE 3"), 1);
    EXPECT_EQ(server.Count("RETR 2"), 1);
}

// A list copy and a Cc copy of one mail share its Message-ID (their sizes
// differ by the list's header). Another client deletes the list copy after
// the reader listed both: the number the reader knows it by now holds the
// Cc copy, which must be neither shown nor deleted in its place. With UIDL
// the identifier tells them apart, without it the size.
TEST_F(MessageReaderPop3, AReadOrDeleteGoesOnlyToTheMessageListed) {
    const std::string head = "From: Ann <ann@example.org>\r\nSubject: Meeting\r\nMessage-ID: <meeting@example.org>\r\n";
    for (bool uidl : {true, false}) {
        SCOPED_TRACE(uidl ? "UIDL" : "no UIDL");
        ScriptedPop3Server server({{"list-copy", head + "List-Id: <team.example.org>\r\n\r\nSent to the list.\r\n"},
                                   {"cc-copy", head + "\r\nSent to you.\r\n"},
                                   {"other", "From: Bo <bo@example.org>\r\nSubject: Other\r\n\r\nElse.\r\n"}},
                                  ScriptedPop3Server::Options{.Pipelining = true, .Uidl = uidl});
        RunReader(server.Port(), [&](TfrmMessBody &f) {
            ASSERT_EQ(Subjects(f), (std::vector<std::string>{"Other", "Meeting", "Meeting"})) << f.Status();
            server.Remove("list-copy");
            f.SelectRow(2);  // the list copy, message 1 when listed
            f.ToolButton6Click();
            EXPECT_EQ(f.Status(), "This message is no longer on the server.");
            EXPECT_FALSE(Contains(f.RichEdit1->toPlainText().toStdString(), "Sent to you."));
            f.ToolButton1Click(f.ToolButton4);
            EXPECT_EQ(f.Status(), "Cannot delete this message.");
            EXPECT_EQ(Subjects(f).size(), 3u);
        });
        EXPECT_EQ(server.Uids(), (std::vector<std::string>{"cc-copy", "other"}));
        EXPECT_EQ(server.Count("DELE"), 0);
        H.Stop();
    }
}

// A message without a Date header has no date: none in the main window, in
// the status file for skin programs and in the reader's list, rather than
// the zero date.
TEST_F(MessageReaderPop3, AMessageWithoutADateShowsNone) {
    ScriptedPop3Server server(std::vector<ScriptedPop3Message>{
        {"undated", "From: Ann <ann@example.org>\r\nSubject: Undated\r\nMessage-ID: <undated@example.org>\r\n"
                    "\r\nNo date.\r\n"},
        {"dated", "From: Bo <bo@example.org>\r\nSubject: Dated\r\nMessage-ID: <dated@example.org>\r\n"
                  "Date: Fri, 01 Mar 2024 12:00:00 +0000\r\n\r\nDated.\r\n"}});
    TFrmMain &m = Start(server.Port(), {"UseExeSkins=True", "UsedSkin=outside"});
    m.Timer1Timer();
    const Tiedot &t = m.State.Accounts[0];
    ASSERT_EQ(t.NewCount, 2) << H.Log();
    EXPECT_EQ(t.Dates[0], "");
    EXPECT_TRUE(Contains(t.Dates[1], "01.03.2024")) << t.Dates[1];

    m.State.Accounts.ShownIndex = 0;
    m.State.Accounts[0].Shown = 1;
    m.ShowMessageStep(2);
    EXPECT_EQ(m.LabelSubject->text().toStdString(), "Undated");
    EXPECT_EQ(m.LabelDate->text().toStdString(), "");

    TMemIniFile mails(H.Dir.File("temp/mails.dat"));
    EXPECT_EQ(mails.ReadString("0_1", "Date", "(none)"), "");
    EXPECT_EQ(mails.ReadString("0_2", "Date", "(none)"), t.Dates[1]);

    RunReader([&](TfrmMessBody &f) {
        ASSERT_EQ(Subjects(f), (std::vector<std::string>{"Dated", "Undated"})) << f.Status();
        EXPECT_EQ(f.MailList->topLevelItem(1)->text(2).toStdString(), "");
        EXPECT_TRUE(Contains(f.MailList->topLevelItem(0)->text(2).toStdString(), "01.03.2024"));
    });
}
