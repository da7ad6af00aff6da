// The checking cycle end to end: the main window against a private Dovecot
// over POP3, POP3S, IMAP4 and IMAPS, with rules, the hidden list, a save
// rule, refused log-ins, a wrong certificate and a server that falls silent.
// What the cycle did on the server is checked with Python's poplib and
// imaplib; saved messages are read back with Python's email package.
#include <gtest/gtest.h>

#include <QRegularExpression>

#include "ChildProcess.h"
#include "IniFile.h"
#include "MainWindowFixture.h"
#include "NetIMAP4.h"
#include "NetPOP3.h"
#include "OpenSSLServer.h"
#include "PythonPeer.h"
#include "ScriptedPeer.h"
#include "SimpleTimer.h"
#include "../../mailproto/dovecot_suite.h"

namespace {

class MainCycle : public DovecotSuite<MainCycle> {
protected:
    static void SetUpTestSuite() {
        DovecotServer::Options o;
        for (const char *u : {"pop", "pops", "imap", "imaps", "rulespop", "rulesimap", "save", "seen", "again",
                              "reentry", "lists", "hostile", "lockpop", "pipepop", "lockimap", "pipeimap"})
            o.Users.push_back({u, std::string("pw-") + u});
        if (!StartDovecot(o)) return;
        Server->FillMailbox("pop", 5);
        Server->FillMailbox("pops", 3);
        Server->FillMailbox("imap", 4);
        Server->FillMailbox("imaps", 2);
        Server->FillMailbox("rulespop", 6);
        Server->FillMailbox("rulesimap", 6);
        Server->FillMailbox("save", 2);
        Server->FillMailbox("seen", 2);
        Server->FillMailbox("seen", 3, "INBOX", 3, true);
        Server->FillMailbox("again", 3);
        Server->FillMailbox("reentry", 20);
        Server->FillMailbox("lists", 2);
        // Pairs of equal mailboxes for the lock-step and the pipelined cycle:
        // more messages than one window or range, some of them seen.
        for (const char *u : {"lockpop", "pipepop", "lockimap", "pipeimap"}) {
            Server->FillMailbox(u, 300);
            Server->FillMailbox(u, 3, "INBOX", 301, true);
        }
        // Encoded words that decode to line breaks and NUL.
        Server->AddMessage("hostile",
                           "From: =?utf-8?q?Evil=0D=0AName?= <evil@example.org>\r\n"
                           "Subject: =?utf-8?q?line=0D=0Aone=00two?=\r\n"
                           "Message-ID: <hostile@example.org>\r\n\r\nbody\r\n");
    }

    void SetUp() override {
        DovecotSuite::SetUp();
        if (IsSkipped()) return;
        H = std::make_unique<MainWindowHarness>();
    }
    void TearDown() override { H.reset(); }

    static TTestAccount Pop(const std::string &user, bool ssl = false) {
        TTestAccount a;
        a.Name = user + "-account";
        a.Port = ssl ? Server->Pop3sPort() : Server->Pop3Port();
        a.User = user;
        a.Password = "pw-" + user;
        a.SSL = ssl;
        return a;
    }
    static TTestAccount Imap(const std::string &user, bool ssl = false) {
        TTestAccount a = Pop(user, ssl);
        a.Kind = "IMAP4";
        a.Port = ssl ? Server->ImapsPort() : Server->ImapPort();
        return a;
    }
    // Bounded waits, so that a fault shows as a failure and not a hang.
    TFrmMain &Start(const std::vector<std::string> &args = {}) {
        TFrmMain &m = H->Start(args);
        m.NetPOP31->SetReadTimeout(20000);
        m.NetIMAP41->SetReadTimeout(20000);
        m.NetPOP31->SetConnectTimeout(10000);
        m.NetIMAP41->SetConnectTimeout(10000);
        return m;
    }

    // Python against the server, for what the cycle left there.
    static std::string Py(const std::string &script, const std::vector<std::string> &args) {
        std::string out, err;
        int rc = RunPython(script, args, &out, &err);
        EXPECT_EQ(rc, 0) << err;
        return out;
    }
    static std::string PopIds(const std::string &user) {
        return Py(R"PY(
import poplib, sys, email
p = poplib.POP3(sys.argv[1], int(sys.argv[2]), timeout=20)
p.user(sys.argv[3]); p.pass_(sys.argv[4])
ids = []
for n in range(1, p.stat()[0] + 1):
    ids.append(email.message_from_bytes(b"\r\n".join(p.top(n, 0)[1]))["Message-ID"])
p.quit()
print(" ".join(ids))
)PY",
                  {Server->Host(), std::to_string(Server->Pop3Port()), user, "pw-" + user});
    }
    // "id flags" of every message, one per line.
    static std::string ImapIdsAndFlags(const std::string &user) {
        return Py(R"PY(
import imaplib, sys, email, re
m = imaplib.IMAP4(sys.argv[1], int(sys.argv[2]))
m.login(sys.argv[3], sys.argv[4])
typ, data = m.select("INBOX", readonly=True)
for n in range(1, int(data[0]) + 1):
    typ, d = m.fetch(str(n), "(FLAGS BODY.PEEK[HEADER])")
    flags = re.search(rb"FLAGS \(([^)]*)\)", d[0][0]).group(1).decode()
    print(email.message_from_bytes(d[0][1])["Message-ID"], flags)
m.logout()
)PY",
                  {Server->Host(), std::to_string(Server->ImapPort()), user, "pw-" + user});
    }

    std::unique_ptr<MainWindowHarness> H;
};

std::string ReadIni(const std::string &file, const std::string &section, const std::string &key) {
    TMemIniFile ini(file);
    return ini.ReadString(section, key, "(none)");
}

}  // namespace

TEST_F(MainCycle, FourKindsOfAccountInOneCycle) {
    H->WriteSettings({Pop("pop"), Pop("pops", true), Imap("imap"), Imap("imaps", true)},
                     {H->LongLog(), "UseExeSkins=True", "UsedSkin=outside", "BlinkTimes=2"});
    TFrmMain &m = Start();
    m.Timer1Timer();

    const TAccountArray &a = m.State.Accounts;
    ASSERT_EQ(a.Count(), 4);
    EXPECT_EQ(a[0].NewCount, 5) << H->Log();
    EXPECT_EQ(a[1].NewCount, 3) << H->Log();
    EXPECT_EQ(a[2].NewCount, 4) << H->Log();
    EXPECT_EQ(a[3].NewCount, 2) << H->Log();
    EXPECT_EQ(a.TotalNew, 14);
    EXPECT_EQ(a.ShownIndex, 0);
    EXPECT_FALSE(m.Reporter.ErrorFlag) << H->Log();

    const Tiedot &pop = a[0];
    ASSERT_EQ(pop.Senders.Count(), 5);
    EXPECT_EQ(pop.Senders[0], "Sender 1 <sender1@example.org>");
    EXPECT_EQ(pop.Addresses[2], "juergen3@example.org");
    EXPECT_TRUE(Contains(pop.Senders[2], "Jürgen Übel")) << pop.Senders[2];
    EXPECT_EQ(pop.Subjects[3], "Grüße aus Köln, Nachricht 4");
    EXPECT_EQ(pop.MessageIds[4], "<msg5@tarnwick.test>");
    // The default format shows the time, then the date.
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d    \\d\\d\\.\\d\\d\\.2024$")
                    .match(QString::fromStdString(pop.Dates[0]))
                    .hasMatch())
        << pop.Dates[0];
    EXPECT_EQ(a[3].MessageIds[1], "<msg2@tarnwick.test>");

    EXPECT_EQ(m.TrayIcon1->Hint(), "You got all in all 14 new mails");
    EXPECT_EQ(H->LogLinesWith("Checking 127.0.0.1"), 4) << H->Log();
    EXPECT_EQ(H->LogLinesWith("Done: You got 5 new mails"), 1) << H->Log();
    // New mail: the monitor is woken and the pulse runs twice two steps.
    EXPECT_EQ(H->Desk.Count("MonitorOn"), 1);
    EXPECT_TRUE(m.Timer7->Enabled());
    EXPECT_EQ(m.Timer7->Tag, 4);
    EXPECT_TRUE(m.Timer2->Enabled());
    EXPECT_EQ(m.TrayIcon1->IconList(), m.ImageList2);
    EXPECT_TRUE(m.TrayIcon1->CycleIcons());

    // The status file for skin programs.
    std::string mails = H->Dir.File("temp/mails.dat");
    EXPECT_EQ(ReadIni(mails, "Other", "NewM"), "True");
    EXPECT_EQ(ReadIni(mails, "Other", "Activ"), "0");
    EXPECT_EQ(ReadIni(mails, "0", "M"), "5");
    EXPECT_EQ(ReadIni(mails, "2", "M"), "4");
    EXPECT_EQ(ReadIni(mails, "0_1", "EMail"), "sender1@example.org");
    EXPECT_EQ(ReadIni(mails, "3_2", "ID"), "<msg2@tarnwick.test>");
    EXPECT_EQ(ReadIni(mails, "1_4", "ID"), "(none)");

    // Nothing changed since: no alert again, and the status file says so.
    m.Timer7->SetEnabled(false);
    m.Timer1Timer();
    EXPECT_EQ(m.State.Accounts.TotalNew, 14);
    EXPECT_EQ(H->Desk.Count("MonitorOn"), 1);
    EXPECT_FALSE(m.Timer7->Enabled());
    EXPECT_EQ(ReadIni(mails, "Other", "NewM"), "False");
}

TEST_F(MainCycle, RulesDeleteAndHideAndTheHiddenListSkips) {
    WriteTestFile(H->Dir.File("rules/delete.rul"),
                  "[Rule]\nRule1=1\nAllAccounts=True\nEMailRule=0\nAllEMails=False\nWordsRule=6\n"
                  "[EMails]\n0=sender2@example.org\n");
    WriteTestFile(H->Dir.File("rules/hide.rul"),
                  "[Rule]\nRule1=0\nAllAccounts=True\nAllEMails=True\nWordsRule=0\n[Words]\n0=test message 5\n");
    WriteTestFile(H->Dir.File("hiddedmessages.txt"), "<msg3@tarnwick.test>\r\n<MSG4@tarnwick.test>\r\n");
    H->WriteSettings({Pop("rulespop"), Imap("rulesimap")}, {H->LongLog()});
    TFrmMain &m = Start();
    m.Timer1Timer();

    for (int i = 0; i < 2; ++i) {
        const Tiedot &t = m.State.Accounts[i];
        // 2 deleted, 3 hidden by the list, 5 by a rule; the rest keep dense
        // positions. The hidden list compares exactly: MSG4 is not msg4.
        EXPECT_EQ(t.NewCount, 3) << H->Log();
        ASSERT_EQ(t.MessageIds.Count(), 3);
        EXPECT_EQ(t.MessageIds[0], "<msg1@tarnwick.test>");
        EXPECT_EQ(t.MessageIds[1], "<msg4@tarnwick.test>");
        EXPECT_EQ(t.MessageIds[2], "<msg6@tarnwick.test>");
    }
    EXPECT_EQ(H->LogLinesWith("Deleted by a rule: Sender 2 - Test message 2"), 2) << H->Log();
    EXPECT_EQ(H->LogLinesWith("Hidden: Sender 5 - Test message 5"), 2) << H->Log();
    EXPECT_EQ(H->LogLinesWith("Hidden: Jürgen Übel - Test message 3"), 2) << H->Log();

    // Gone from the server, the rest still there.
    EXPECT_EQ(Trim(PopIds("rulespop")),
              "<msg1@tarnwick.test> <msg3@tarnwick.test> <msg4@tarnwick.test> <msg5@tarnwick.test> "
              "<msg6@tarnwick.test>");
    std::string imap = ImapIdsAndFlags("rulesimap");
    EXPECT_FALSE(Contains(imap, "<msg2@")) << imap;
    EXPECT_TRUE(Contains(imap, "<msg6@")) << imap;

    // The record of deleted mail: subject, sender, account, time.
    TStringList deleted;
    deleted.LoadFromFile(H->Dir.File("deleted.txt"));
    ASSERT_EQ(deleted.Count(), 2);
    EXPECT_EQ(deleted[0].rfind("Test message 2   Sender 2 <sender2@example.org>   rulespop-account   ", 0), 0u)
        << deleted[0];
    EXPECT_EQ(deleted[1].rfind("Test message 2   Sender 2 <sender2@example.org>   rulesimap-account   ", 0), 0u)
        << deleted[1];
}

TEST_F(MainCycle, SaveRuleWritesTheWholeMessageAndLeavesItUnread) {
    std::string folder = H->Dir.File("saved/mail");
    WriteTestFile(H->Dir.File("rules/keep.rul"),
                  "[Rule]\nRule1=3\nAllAccounts=True\nEMailRule=0\nAllEMails=False\nWordsRule=6\n"
                  "[EMails]\n0=sender1@example.org\n[Options]\nPath=" +
                      folder + "\n");
    H->WriteSettings({Imap("save")}, {H->LongLog()});
    TFrmMain &m = Start();
    m.Timer1Timer();

    // A saved message is still new mail.
    EXPECT_EQ(m.State.Accounts[0].NewCount, 2) << H->Log();
    std::vector<std::string> files = ListDirectory(folder);
    ASSERT_EQ(files.size(), 1u) << H->Log();
    EXPECT_EQ(files[0], "Sender 1 sender1@example.org Test message 1 msg1@tarnwick.test.eml");

    // Python's email reads what was saved with the server's own headers.
    std::string out = Py(R"PY(
import email, email.policy, sys
m = email.message_from_bytes(open(sys.argv[1], "rb").read(), policy=email.policy.default)
print(m["From"]); print(m["Subject"]); print(m["Message-ID"]); print(m["Date"])
print(m.get_body(("plain",)).get_content().splitlines()[0])
)PY",
                         {folder + "/" + files[0]});
    EXPECT_EQ(out,
              "Sender 1 <sender1@example.org>\nTest message 1\n<msg1@tarnwick.test>\n"
              "Fri, 01 Mar 2024 08:01:00 +0200\nLine 1 of message 1.\n");

    // Saving did not mark it read on the server.
    std::string flags = ImapIdsAndFlags("save");
    EXPECT_TRUE(Contains(flags, "<msg1@tarnwick.test> \n")) << flags;
    EXPECT_FALSE(Contains(flags, "Seen")) << flags;

    // The file is there: the next cycle does not fetch it again.
    WriteTestFile(folder + "/" + files[0], "kept");
    m.Timer1Timer();
    EXPECT_EQ(ReadTestFile(folder + "/" + files[0]), "kept");
    EXPECT_EQ(m.State.Accounts[0].NewCount, 2);
}

TEST_F(MainCycle, SeenImapMessagesAreNoNewMail) {
    H->WriteSettings({Imap("seen"), Pop("seen")}, {H->LongLog()});
    TFrmMain &m = Start();
    m.Timer1Timer();
    EXPECT_EQ(m.State.Accounts[0].NewCount, 2) << H->Log();
    EXPECT_EQ(m.State.Accounts[0].MessageIds[1], "<msg2@tarnwick.test>");
    // POP3 has no flags: every message counts.
    EXPECT_EQ(m.State.Accounts[1].NewCount, 5) << H->Log();
}

TEST_F(MainCycle, RefusedLogInsSetTheErrorSignal) {
    TTestAccount badPop = Pop("again"), badImap = Imap("again", true);
    badPop.Password = badImap.Password = "wrong";
    H->WriteSettings({Pop("again"), badPop, badImap}, {H->LongLog()});
    TFrmMain &m = Start();
    m.Timer1Timer();

    EXPECT_EQ(m.State.Accounts[0].NewCount, 3);
    EXPECT_EQ(m.State.Accounts[1].NewCount, 0);
    EXPECT_EQ(m.State.Accounts[2].NewCount, 0);
    // Whatever the server said, it is a bad log-in.
    EXPECT_EQ(H->LogLinesWith("Login failed: wrong user name or password"), 2) << H->Log();
    EXPECT_TRUE(m.Reporter.ErrorFlag);
    EXPECT_EQ(m.Reporter.LastErrorKind, TEventReporter::LoginError);
    EXPECT_EQ(m.TrayIcon1->IconList(), m.ImageList3);
    EXPECT_TRUE(m.TrayIcon1->CycleIcons());
    EXPECT_FALSE(m.NetPOP31->Connected());
    EXPECT_FALSE(m.NetIMAP41->Connected());

    // The tray click shows the log and ends the signal.
    m.TrayIcon1Click();
    EXPECT_FALSE(m.Reporter.ErrorFlag);
    EXPECT_FALSE(m.TrayIcon1->CycleIcons());

    // A good account after a bad one ends the signal, as it always did.
    H->Stop();
    H->WriteSettings({badPop, Pop("again")}, {H->LongLog()});
    TFrmMain &m2 = Start();
    m2.Timer1Timer();
    EXPECT_FALSE(m2.Reporter.ErrorFlag);
    EXPECT_EQ(m2.State.Accounts[1].NewCount, 3);
}

TEST_F(MainCycle, CertificateForAnotherHostIsRefused) {
    const TestPKI &pki = TestPKI::Get();
    StartTLSServer wrong(StartTLSServer::Implicit, pki.WrongHostCert, pki.Key);
    TTestAccount bad = Pop("pop", true);
    bad.Port = wrong.Port();
    H->WriteSettings({bad, Pop("pop")}, {H->LongLog()});
    TFrmMain &m = Start();
    m.Timer1Timer();
    EXPECT_EQ(m.State.Accounts[0].NewCount, 0);
    EXPECT_EQ(m.State.Accounts[1].NewCount, 5) << H->Log();
    EXPECT_EQ(H->LogLinesWith("Checking 127.0.0.1"), 2);
    // The password never went out over the refused connection.
    EXPECT_FALSE(m.NetPOP31->Connected());
}

TEST_F(MainCycle, SilentServerEndsItsAccountWhileTheWindowLives) {
    ScriptedPeer silent({"sleep:30000"});
    TTestAccount dead = Pop("pop");
    dead.Port = silent.Port();
    H->WriteSettings({dead, Pop("pop")}, {H->LongLog()});
    TFrmMain &m = Start();
    m.NetPOP31->SetReadTimeout(1000);
    int ticks = 0;
    TSimpleTimer ticker(10, [&](QObject *) { ++ticks; });
    ticker.SetEnabled(true);
    m.Timer1Timer();
    ticker.SetEnabled(false);

    EXPECT_EQ(m.State.Accounts[0].NewCount, 0);
    EXPECT_EQ(m.State.Accounts[1].NewCount, 5) << H->Log();
    // The window's timers went on while the server kept silent (the waits
    // hand the window its events every quarter of a second).
    EXPECT_GE(ticks, 2);
    EXPECT_EQ(m.State.Accounts.TotalNew, 5);
}

TEST_F(MainCycle, OneCycleAtATimeAndExitStopsIt) {
    H->WriteSettings({Pop("reentry"), Imap("reentry")}, {H->LongLog()});
    TFrmMain &m = Start();
    // Enter pressed (or the menu used) while the cycle pumps messages.
    int nested = 0;
    TSimpleTimer enter(1, [&](QObject *) {
        ++nested;
        m.Timer1Timer();
    });
    enter.SetEnabled(true);
    m.Timer1Timer();
    enter.SetEnabled(false);
    EXPECT_GT(nested, 0);
    EXPECT_EQ(H->LogLinesWith("Checking 127.0.0.1"), 2) << H->Log();
    EXPECT_EQ(m.State.Accounts[0].NewCount, 20);
    EXPECT_EQ(m.State.Accounts[1].NewCount, 20) << H->Log();

    // Exit in the middle: the cycle stops and leaves total and hint alone.
    m.State.Accounts.TotalNew = 77;
    m.TrayIcon1->SetHint("before");
    TSimpleTimer exitSoon(1, [&](QObject *) { m.Exit1->Tag = 1; });
    exitSoon.SetEnabled(true);
    m.Timer1Timer();
    exitSoon.SetEnabled(false);
    EXPECT_EQ(m.State.Accounts.TotalNew, 77);
    EXPECT_EQ(m.TrayIcon1->Hint(), "before");
    EXPECT_EQ(H->LogLinesWith("Checking 127.0.0.1"), 3);
    EXPECT_FALSE(m.NetPOP31->Connected());
}

TEST_F(MainCycle, SkippedAccountsKeepTheirListsUntilNoMailIsLeft) {
    TTestAccount off = Pop("lists");
    off.Enabled = false;
    TTestAccount noHost = Pop("lists");
    noHost.Host = "";
    H->WriteSettings({off, noHost, Pop("lists")}, {H->LongLog()});
    TFrmMain &m = Start();
    m.State.Accounts[0].Senders.Add("old sender");
    m.State.Accounts[0].NewCount = 1;
    m.State.Accounts[1].Subjects.Add("old subject");
    m.Timer1Timer();
    EXPECT_EQ(m.State.Accounts[0].NewCount, 0);
    EXPECT_EQ(m.State.Accounts[0].Senders.Count(), 1);
    EXPECT_EQ(m.State.Accounts[1].Subjects.Count(), 1);
    EXPECT_EQ(m.State.Accounts.TotalNew, 2);
    EXPECT_EQ(H->LogLinesWith("Checking"), 1);

    // The last account's mail goes: a total of 0 empties every list.
    m.State.Accounts[2].Enabled = false;
    m.Timer1Timer();
    EXPECT_EQ(m.State.Accounts.TotalNew, 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(m.State.Accounts[i].Senders.Count(), 0);
        EXPECT_EQ(m.State.Accounts[i].Subjects.Count(), 0);
    }
    EXPECT_EQ(m.TrayIcon1->Hint(), "You got all in all 0 new mails");
}

TEST_F(MainCycle, LineBreaksFromHeadersStayOutOfTheListsAndFiles) {
    H->WriteSettings({Imap("hostile")}, {H->LongLog(), "UseExeSkins=True", "UsedSkin=x"});
    TFrmMain &m = Start();
    m.Timer1Timer();
    const Tiedot &t = m.State.Accounts[0];
    ASSERT_EQ(t.NewCount, 1) << H->Log();
    for (const std::string *text : {&t.Senders[0], &t.Subjects[0], &t.Dates[0], &t.MessageIds[0]})
        EXPECT_EQ(text->find_first_of(std::string("\r\n\0", 3)), std::string::npos) << *text;
    EXPECT_TRUE(Contains(t.Subjects[0], "line") && Contains(t.Subjects[0], "one")) << t.Subjects[0];
    // The status file holds it on one line, whole.
    std::string subject = ReadIni(H->Dir.File("temp/mails.dat"), "0_1", "Subject");
    EXPECT_EQ(subject, t.Subjects[0]);
    m.SaveDeletedMessage(t.Name, t.Senders[0], t.Subjects[0]);
    TStringList deleted;
    deleted.LoadFromFile(H->Dir.File("deleted.txt"));
    EXPECT_EQ(deleted.Count(), 1);
}

// What one cycle left behind, with the account's user name taken out.
struct TCycleOutcome {
    std::vector<std::string> Accounts;  // count and the five lists of each
    std::vector<std::string> Log;
    std::vector<std::string> Deleted;   // "deleted.txt" without the times
    std::vector<std::string> Saved;
    std::string PopServer, ImapServer;
};

TEST_F(MainCycle, PipelinedAndLockStepCyclesDoTheSame) {
    auto run = [&](const std::string &mode) {
        const std::string pop = mode + "pop", imap = mode + "imap";
        MainWindowHarness h;
        const std::string folder = h.Dir.File("saved");
        WriteTestFile(h.Dir.File("rules/delete.rul"),
                      "[Rule]\nRule1=1\nAllAccounts=True\nAllEMails=True\nWordsRule=0\n[Words]\n0=test message 7\n");
        WriteTestFile(h.Dir.File("rules/hide.rul"),
                      "[Rule]\nRule1=0\nAllAccounts=True\nAllEMails=True\nWordsRule=0\n[Words]\n0=test message 5\n");
        WriteTestFile(h.Dir.File("rules/keep.rul"),
                      "[Rule]\nRule1=3\nAllAccounts=True\nAllEMails=True\nWordsRule=0\n[Words]\n0=test message 29\n"
                      "[Options]\nPath=" + folder + "\n");
        WriteTestFile(h.Dir.File("hiddedmessages.txt"), "<msg3@tarnwick.test>\r\n<msg123@tarnwick.test>\r\n");
        TTestAccount a = Pop(pop), b = Imap(imap);
        a.Name = "pop-account";
        b.Name = "imap-account";
        h.WriteSettings({a, b}, {MainWindowHarness::LongLog(), "DelMessVal=100000"});
        TFrmMain &m = h.Start();
        m.NetPOP31->SetReadTimeout(20000);
        m.NetIMAP41->SetReadTimeout(20000);
        if (mode == "lock") {
            m.NetPOP31->PipelineDepth = 1;
            m.NetIMAP41->HeaderRangeSize = 1;
        }
        m.Timer1Timer();

        TCycleOutcome o;
        for (const Tiedot &t : m.State.Accounts.Items) {
            std::string all = IntToStr(t.NewCount) + "\n";
            for (const TStringList *l : {&t.Senders, &t.Addresses, &t.Subjects, &t.Dates, &t.MessageIds})
                all += l->Text() + "--\n";
            o.Accounts.push_back(all);
        }
        for (std::string l : h.LogLines()) {
            l = StringReplaceAll(StringReplaceAll(l, pop, "POP"), imap, "IMAP");
            // The time each line was written differs.
            o.Log.push_back(l.size() > 9 && l[2] == ':' && l[5] == ':' ? l.substr(8) : l);
        }
        TStringList deleted;
        if (FileExists(h.Dir.File("deleted.txt")))
            deleted.LoadFromFile(h.Dir.File("deleted.txt"));
        for (const std::string &l : deleted.Items())
            o.Deleted.push_back(l.substr(0, l.find("-account   ")));
        if (DirectoryExists(folder))
            o.Saved = ListDirectory(folder);
        o.PopServer = PopIds(pop);
        o.ImapServer = ImapIdsAndFlags(imap);
        return o;
    };
    TCycleOutcome lock = run("lock"), pipe = run("pipe");

    // 303 messages, 3 of them seen (which only IMAP4 knows); some hidden by
    // the list or a rule, 9 deleted and 9 saved in each account, across
    // windows and ranges.
    ASSERT_EQ(pipe.Accounts.size(), 2u);
    EXPECT_EQ(pipe.Accounts[0].substr(0, pipe.Accounts[0].find('\n')), "283");
    EXPECT_EQ(pipe.Accounts[1].substr(0, pipe.Accounts[1].find('\n')), "280");
    EXPECT_EQ(pipe.Accounts, lock.Accounts);
    EXPECT_EQ(pipe.Log, lock.Log);
    EXPECT_EQ(pipe.Deleted.size(), 18u);
    EXPECT_EQ(pipe.Deleted, lock.Deleted);
    EXPECT_EQ(pipe.Saved.size(), 9u);
    EXPECT_EQ(pipe.Saved, lock.Saved);
    EXPECT_FALSE(Contains(pipe.PopServer, "<msg7@")) << pipe.PopServer;
    EXPECT_TRUE(Contains(pipe.PopServer, "<msg8@")) << pipe.PopServer;
    EXPECT_EQ(pipe.PopServer, lock.PopServer);
    EXPECT_EQ(pipe.ImapServer, lock.ImapServer);
}
