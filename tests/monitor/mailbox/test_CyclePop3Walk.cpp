// The cycle's POP3 walk when one message cannot be taken in or one deletion
// cannot be recorded or made, against the scripted POP3 mailbox, with the
// commands sent ahead and in lock-step: the server deletes exactly what
// "deleted.txt" says (once the server has told), a saved message is the one
// whose header was weighed, and one bad message never ends the check.
#include <gtest/gtest.h>

#include <set>

#include "mainwindow/MainWindowFixture.h"
#include "NetPOP3.h"
#include "PythonPeer.h"
#include "ScriptedPop3Server.h"

namespace {

// Message n, with no Message-ID: nothing but its place tells it from the
// others. A header of fillerLines more lines of 900 bytes each.
std::string MessageText(int n, int fillerLines = 0) {
    std::string filler;
    for (int i = 0; i < fillerLines; ++i) filler += "X-Filler: " + std::string(900, 'f') + "\r\n";
    const std::string k = std::to_string(n);
    return "From: Sender " + k + " <sender" + k + "@example.org>\r\nSubject: Message " + k + "\r\n" + filler +
           "Date: Fri, 01 Mar 2024 08:00:00 +0000\r\n\r\nBody of message " + k + ".\r\n";
}

// Words of a rule file, one for each message: "message 4", ...
std::string Words(const std::set<int> &numbers) {
    std::string out;
    int i = 0;
    for (int n : numbers) out += std::to_string(i++) + "=message " + std::to_string(n) + "\n";
    return out;
}

// Pipelined (the server offers PIPELINING) or lock-step (it does not).
class CyclePop3Walk : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (!PythonAvailable()) GTEST_SKIP() << "python3 is needed";
    }
    // The server refuses the command refused names ("TOP 3") every time,
    // and takes the first QUIT as quit says (ScriptedPop3Server::Options).
    std::unique_ptr<ScriptedPop3Server> Serve(int count, int bigAt = 0, const std::string &refused = "",
                                              const std::string &quit = "") {
        std::vector<ScriptedPop3Message> box;
        // 1300 lines of 900 bytes: above the client's 1 MB for a header.
        for (int n = 1; n <= count; ++n) box.push_back({"u" + std::to_string(n), MessageText(n, n == bigAt ? 1300 : 0)});
        return std::make_unique<ScriptedPop3Server>(
            box, ScriptedPop3Server::Options{.Pipelining = GetParam(), .Refused = refused, .Quit = quit});
    }
    TFrmMain &Start(MainWindowHarness &h, int port) {
        h.WriteSettings({TTestAccount{.Name = "scripted", .Port = port, .User = "user", .Password = "secret"}},
                        {MainWindowHarness::LongLog(), "DelMessVal=1000"});
        TFrmMain &m = h.Start();
        m.NetPOP31->SetReadTimeout(10000);
        m.NetPOP31->SetConnectTimeout(10000);
        return m;
    }
    // The subjects "deleted.txt" records.
    static std::set<std::string> Recorded(MainWindowHarness &h) {
        std::set<std::string> out;
        if (!FileExists(h.Dir.File("deleted.txt"))) return out;
        TStringList lines;
        lines.LoadFromFile(h.Dir.File("deleted.txt"));
        for (const std::string &l : lines.Items()) out.insert(l.substr(0, l.find("   ")));
        return out;
    }
    // The subjects of the messages the server no longer has.
    static std::set<std::string> Gone(const ScriptedPop3Server &s, int count) {
        std::set<std::string> out;
        const std::vector<std::string> left = s.Uids();
        for (int n = 1; n <= count; ++n)
            if (std::find(left.begin(), left.end(), "u" + std::to_string(n)) == left.end())
                out.insert("Message " + std::to_string(n));
        return out;
    }
};

// How a session that deleted ends.
struct TEnding {
    const char *Name;
    int Bad;           // a header too large to read past: the client drops the connection, no QUIT
    const char *Quit;  // how the server takes the first QUIT (ScriptedPop3Server::Options)
    std::set<int> Delete, Removed;
};

struct TPlacement {
    int Bad;
    std::set<int> Save, Delete;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Modes, CyclePop3Walk, ::testing::Values(true, false),
                         [](const auto &info) { return std::string(info.param ? "Pipelined" : "LockStep"); });

TEST_P(CyclePop3Walk, AnOversizedHeaderPassesOverThatMessageAlone) {
    // A save before the bad header and one after it, a deletion after it;
    // then a deletion before it, whose answer is still on its way when the
    // bad header comes in.
    for (const TPlacement &p : {TPlacement{5, {4, 6}, {8}}, TPlacement{5, {6}, {2}}}) {
        SCOPED_TRACE("deleting message " + std::to_string(*p.Delete.begin()));
        const int count = 9;
        auto server = Serve(count, p.Bad);
        MainWindowHarness h;
        const std::string folder = h.Dir.File("saved");
        WriteTestFile(h.Dir.File("rules/delete.rul"),
                      "[Rule]\nRule1=1\nAllAccounts=True\nAllEMails=True\nWordsRule=0\n[Words]\n" + Words(p.Delete));
        WriteTestFile(h.Dir.File("rules/save.rul"), "[Rule]\nRule1=3\nAllAccounts=True\nAllEMails=True\nWordsRule=0\n"
                                                    "[Words]\n" + Words(p.Save) + "[Options]\nPath=" + folder + "\n");
        TFrmMain &m = Start(h, server->Port());
        m.Timer1Timer();

        // Every message after the bad one is counted; the bad one is said
        // in the log, with why.
        const Tiedot &t = m.State.Accounts[0];
        EXPECT_EQ(t.NewCount, count - 1 - int(p.Delete.size())) << h.Log();
        EXPECT_EQ(h.LogLinesWith("The header of message 5 could not be fetched: Message header larger than"), 1)
            << h.Log();
        EXPECT_EQ(t.Subjects.IndexOf("Message 5"), -1);
        EXPECT_NE(t.Subjects.IndexOf("Message 9"), -1);

        // What the server deleted is what the record says, and the session
        // ended with its goodbye.
        EXPECT_EQ(Recorded(h), Gone(*server, count)) << h.Log();
        std::set<std::string> meant;
        for (int n : p.Delete) meant.insert("Message " + std::to_string(n));
        EXPECT_EQ(Gone(*server, count), meant);
        EXPECT_EQ(server->Commands().back(), "QUIT");

        // Each saved file holds the message it is named after.
        const std::vector<std::string> files = DirectoryExists(folder) ? ListDirectory(folder) : std::vector<std::string>{};
        EXPECT_EQ(files.size(), p.Save.size()) << h.Log();
        for (int n : p.Save) {
            const std::string name = "Message " + std::to_string(n) + " ";
            auto file = std::find_if(files.begin(), files.end(), [&](const std::string &f) { return Contains(f, name); });
            if (file == files.end()) {
                ADD_FAILURE() << "no file for " << name << "\n" << h.Log();
                continue;
            }
            const std::string text = ReadTestFile(folder + "/" + *file);
            EXPECT_TRUE(Contains(text, "Subject: Message " + std::to_string(n) + "\r\n")) << text;
            EXPECT_TRUE(Contains(text, "Body of message " + std::to_string(n) + ".")) << text;
        }

        // The next check passes over it again (under its new number after a
        // deletion before it), and says so again, once.
        m.Timer1Timer();
        EXPECT_EQ(m.State.Accounts[0].NewCount, count - 1 - int(p.Delete.size())) << h.Log();
        EXPECT_EQ(h.LogLinesWith("could not be fetched: Message header larger than"), 2) << h.Log();
    }
}

TEST_P(CyclePop3Walk, ARefusedHeaderPassesOverThatMessageAlone) {
    // The server will not show message 3 (its file cannot be read), check
    // after check; the mail after it is still reported.
    const int count = 5;
    auto server = Serve(count, 0, "TOP 3");
    MainWindowHarness h;
    TFrmMain &m = Start(h, server->Port());
    for (int check = 1; check <= 2; ++check) {
        SCOPED_TRACE("check " + std::to_string(check));
        m.Timer1Timer();
        const Tiedot &t = m.State.Accounts[0];
        EXPECT_EQ(t.NewCount, count - 1) << h.Log();
        EXPECT_EQ(t.Subjects.IndexOf("Message 3"), -1);
        EXPECT_EQ(t.Subjects.IndexOf("Message 5"), 3);
        // One line a check, with the number and the server's words.
        EXPECT_EQ(h.LogLinesWith("The header of message 3 could not be fetched: no such message"), check) << h.Log();
        EXPECT_EQ(h.LogLinesWith("no such message"), check) << h.Log();
        EXPECT_EQ(server->Commands().back(), "QUIT");
    }
    // A server that does not offer TOP (it is optional) and gives no header
    // ends the account with its error by the third message, not with a
    // line for every message and "0 new mails".
    auto none = Serve(count, 0, "TOP");
    m.State.Accounts[0].Port = none->Port();
    m.Timer1Timer();
    EXPECT_EQ(m.State.Accounts[0].NewCount, 0) << h.Log();
    EXPECT_EQ(h.LogLinesWith("could not be fetched"), 2 + 2) << h.Log();
    EXPECT_EQ(h.LogLinesWith("no such message"), 2 + 3) << h.Log();
    EXPECT_EQ(none->Commands().back(), "QUIT");
    // One that offers it passes over unreadable messages one at a time,
    // however many stand at the head of the mailbox.
    auto head = Serve(count, 0, "TOP 1,TOP 2,TOP 3");
    m.State.Accounts[0].Port = head->Port();
    for (int check = 1; check <= 2; ++check) {
        m.Timer1Timer();
        EXPECT_EQ(m.State.Accounts[0].NewCount, 2) << h.Log();
    }
}

TEST_P(CyclePop3Walk, ADeletionThatCannotBeRecordedIsNotMade) {
    const int count = 6;
    auto server = Serve(count);
    MainWindowHarness h;
    // "deleted.txt" cannot be written: a folder stands in its place.
    WriteTestFile(h.Dir.File("deleted.txt/keep"), "");
    WriteTestFile(h.Dir.File("rules/delete.rul"),
                  "[Rule]\nRule1=1\nAllAccounts=True\nAllEMails=True\nWordsRule=0\n[Words]\n" + Words({2, 3}));
    TFrmMain &m = Start(h, server->Port());
    m.Timer1Timer();

    // The check ends at the first deletion it cannot record, and with no
    // goodbye: the server deletes nothing.
    EXPECT_EQ(server->Uids().size(), size_t(count)) << h.Log();
    EXPECT_EQ(server->Count("DELE 2"), 1);
    EXPECT_EQ(server->Count("QUIT"), 0) << h.Log();
    EXPECT_FALSE(m.NetPOP31->Connected());
    EXPECT_EQ(h.LogLinesWith("deleted.txt"), 1) << h.Log();
}

TEST_P(CyclePop3Walk, ADeletionLeavesTheRecordOnlyWhenTheServerCertainlyDidNotMakeIt) {
    const int count = 7;
    for (const TEnding &e : {TEnding{"a header too large to read past", 5, "", {2}, {}},
                             TEnding{"QUIT carried out, then cut", 0, "cut", {2, 6}, {2, 6}},
                             TEnding{"QUIT answered -ERR, one carried out", 0, "-ERR some deleted messages not removed",
                                     {2, 6}, {2}}}) {
        SCOPED_TRACE(e.Name);
        const std::set<int> &deleting = e.Delete;
        std::set<std::string> meant;
        for (int n : deleting) meant.insert("Message " + std::to_string(n));
        auto server = Serve(count, e.Bad, "", e.Quit);
        MainWindowHarness h;
        WriteTestFile(h.Dir.File("rules/delete.rul"),
                      "[Rule]\nRule1=1\nAllAccounts=True\nAllEMails=True\nWordsRule=0\n[Words]\n" + Words(deleting));
        TFrmMain &m = Start(h, server->Port());
        // The rest of the large header is more than a message may be: the
        // client cannot read past it. A window of four commands, so that the
        // answer to DELE 2 comes before that header.
        if (e.Bad) m.NetPOP31->MaxMessageSize = 100000;
        m.NetPOP31->PipelineDepth = 4;
        m.Timer1Timer();

        std::set<std::string> removed;
        for (int n : e.Removed) removed.insert("Message " + std::to_string(n));
        EXPECT_EQ(Gone(*server, count), removed);
        EXPECT_EQ(h.LogLinesWith("Deleted by a rule"), 0) << h.Log();
        const Tiedot &t = m.State.Accounts[0];
        if (e.Bad) {
            // No QUIT: nothing deleted, nothing recorded; said once. The
            // messages stay mail, after those recorded in their turn.
            EXPECT_EQ(server->Count("QUIT"), 0);
            EXPECT_EQ(Recorded(h), std::set<std::string>{}) << h.Log();
            EXPECT_EQ(h.LogLinesWith("Deletions the server did not make"), 1) << h.Log();
            const int recorded = e.Bad - 1 - int(deleting.size());
            EXPECT_EQ(t.NewCount, recorded + int(deleting.size())) << h.Log();
            int k = recorded;
            for (int n : deleting) EXPECT_EQ(t.Subjects.IndexOf("Message " + std::to_string(n)), k++) << h.Log();
        } else {
            // The server may have deleted any of them: each stays on record,
            // none is mail, and the log names them once.
            EXPECT_EQ(Recorded(h), meant) << h.Log();
            EXPECT_EQ(h.LogLinesWith("Deletions the server did not confirm, kept on record: 2 (scripted): "
                                     "Sender 2 - Message 2; Sender 6 - Message 6"),
                      1)
                << h.Log();
            EXPECT_EQ(t.NewCount, count - int(deleting.size())) << h.Log();
            for (int n : deleting) {
                const int at = t.Subjects.IndexOf("Message " + std::to_string(n));
                EXPECT_TRUE(at == -1 || at >= t.NewCount) << n;
            }
        }

        // The next check deletes what is left of them, and "deleted.txt"
        // holds each once.
        m.NetPOP31->MaxMessageSize = TNetPOP3::DefaultMaxMessageSize;
        m.Timer1Timer();
        EXPECT_EQ(Gone(*server, count), meant);
        EXPECT_EQ(Recorded(h), meant) << h.Log();
        TStringList lines;
        if (FileExists(h.Dir.File("deleted.txt"))) lines.LoadFromFile(h.Dir.File("deleted.txt"));
        EXPECT_EQ(lines.Count(), int(deleting.size())) << lines.Text();
        EXPECT_EQ(h.LogLinesWith("Deleted by a rule"), int(deleting.size() - e.Removed.size())) << h.Log();
        EXPECT_EQ(h.LogLinesWith("Deletions the server did"), 1) << h.Log();
        // Counted no more (the lists keep what lies beyond the count).
        const int left = count - (e.Bad ? 1 : 0) - int(deleting.size());
        EXPECT_EQ(m.State.Accounts[0].NewCount, left) << h.Log();
        for (int n : deleting) {
            const int at = m.State.Accounts[0].Subjects.IndexOf("Message " + std::to_string(n));
            EXPECT_TRUE(at == -1 || at >= left) << n;
        }
    }
}
