// The main window's life and its alerts, without a mail server: start-up on
// a profile, the pulse, balloon, sound and programs, the hidden and deleted
// files, saved-message names, the scheduler, destruction, and the program
// itself ending on SIGTERM.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include "dialogs/DialogSeam.h"
#include "IniFile.h"
#include "settings/Kel_Reg.h"
#include "MainWindowFixture.h"
#include "OpenSSLServer.h"
#include "SimpleTimer.h"
#include "settings/TarnwickVersion.h"
#include "updates/UpdateFiles.h"
#include "dialogs/unFrmGetText.h"
#include "dialogs/unMessYesNo.h"
#include "reader/unShowBody.h"
#include "dialogs/unitMessages.h"

namespace {

class MainWindow : public ::testing::Test {
protected:
    MainWindowHarness H;
    std::string Settings() const { return H.Dir.File("Tarnwick.ini"); }
    void SetOption(const std::string &key, const std::string &value) {
        IniWriteString(SettingsFilePath(), "Options", key, value);
    }
    TTestAccount Account(const std::string &name) {
        TTestAccount a;
        a.Name = name;
        a.Port = 1;  // never reached by these tests
        a.User = "u";
        a.Password = "p";
        return a;
    }
    // Drives the pulse timer until it stops; the number of ticks.
    int RunPulse(TFrmMain &m) {
        int ticks = 0;
        while (m.Timer7->Enabled() && ticks < 1000) {
            m.Timer7Timer();
            ++ticks;
        }
        return ticks;
    }
};

}  // namespace

TEST_F(MainWindow, StartsHiddenInTheTrayOnTheProfileOfUser) {
    H.WriteSettings({Account("work mail")}, {}, "work.ini");
    H.WriteSettings({Account("default mail")});
    TFrmMain &m = H.Start({"-user", "_work"});
    EXPECT_FALSE(m.isVisible());
    EXPECT_EQ(m.State.User, "work");
    EXPECT_EQ(SettingsFileName(), "work.ini");
    ASSERT_EQ(m.State.Accounts.Count(), 1);
    EXPECT_EQ(m.State.Accounts[0].Name, "work mail");
    EXPECT_TRUE(H.Tray.Shown(m.TrayIcon1->Id()));
    EXPECT_EQ(m.TrayIcon1->Hint(), "Tarnwick / Mailbox not checked yet");
    EXPECT_EQ(m.CycleHint(3), "work you got all in all 3 new mails");
    EXPECT_EQ(m.NytPostin1->text().toStdString(), "Show mail");
    // The settings held accounts: they were backed up.
    EXPECT_TRUE(FileExists(H.Dir.File("work.ini.bak")));

    // A one-character profile is no profile.
    H.Stop();
    TFrmMain &d = H.Start({"-user", "x"});
    EXPECT_EQ(d.State.User, "");
    EXPECT_EQ(SettingsFileName(), "Tarnwick.ini");
    EXPECT_EQ(d.State.Accounts[0].Name, "default mail");
    EXPECT_EQ(d.CycleHint(3), "You got all in all 3 new mails");
}

TEST_F(MainWindow, LoadProblemsReachTheLogAtTheDelayedStart) {
    H.WriteSettings({Account("a")}, {"DelayTime=0"});
    IniWriteString(Settings(), "0", "Port", "not a port");
    TFrmMain &m = H.Start();
    // No delay is at once, not never.
    EXPECT_GT(m.Timer5->Interval(), 0u);
    EXPECT_EQ(H.LogLinesWith("Port"), 0);
    m.Timer5Timer();
    EXPECT_EQ(H.LogLinesWith("[0] Port \"not a port\" is not valid"), 1) << H.Log();
    EXPECT_FALSE(m.Timer5->Enabled());
}

TEST_F(MainWindow, PulseOfBeepsAndLights) {
    H.WriteSettings({Account("a")}, {"Beep=True", "BlinkTimes=2"});
    TFrmMain &m = H.Start();
    m.RaiseNewMailAlerts();
    EXPECT_EQ(m.Timer7->Tag, 4);
    EXPECT_EQ(RunPulse(m), 4);
    EXPECT_EQ(H.Desk.Count("Beep"), 2);
    EXPECT_EQ(H.Desk.Count("ToggleKeyboardLeds"), 0);

    // The defaults: six toggles (the lights end as they began), three beeps.
    SetOption("Blink", "True");
    SetOption("BlinkTimes", "3");
    H.Desk.Calls.clear();
    m.RaiseNewMailAlerts();
    EXPECT_EQ(RunPulse(m), 6);
    EXPECT_EQ(H.Desk.Count("ToggleKeyboardLeds"), 6);
    EXPECT_EQ(H.Desk.Count("Beep"), 3);

    // A count that is no number takes the default; a negative one is none.
    SetOption("BlinkTimes", "many");
    m.RaiseNewMailAlerts();
    EXPECT_EQ(m.Timer7->Tag, 6);
    SetOption("BlinkTimes", "-4");
    m.RaiseNewMailAlerts();
    EXPECT_EQ(RunPulse(m), 1);

    // Neither beep nor lights: the first tick ends it.
    SetOption("Beep", "False");
    SetOption("Blink", "False");
    SetOption("BlinkTimes", "3");
    H.Desk.Calls.clear();
    m.RaiseNewMailAlerts();
    EXPECT_EQ(RunPulse(m), 1);
    EXPECT_EQ(m.Timer7->Tag, 0);
    EXPECT_TRUE(H.Desk.Calls.size() == 1 && H.Desk.Calls[0] == "MonitorOn");
}

TEST_F(MainWindow, BalloonSoundProgramsAndMonitor) {
    H.WriteSettings({Account("home"), Account("work"), Account("none")},
                    {"ShowBallTip=True", "DefBTip=True", "BTipSTime=7", "PlaySound=1", "RunProg=True",
                     "ProgFile=notify-me \"new mail\"", "RunMailClient=True", "EMailClPath=mailer -compose",
                     "TurnMonOn=False"});
    TFrmMain &m = H.Start();
    m.State.Accounts[0].NewCount = 2;
    m.State.Accounts[1].NewCount = 1;
    m.RaiseNewMailAlerts();

    const TNotifyIconData &d = H.Tray.Last().Data;
    EXPECT_EQ(d.szInfoTitle, "Tarnwick");
    EXPECT_EQ(d.szInfo, "home - You got 2 new mails\nwork - You got 1 new mails\n");
    EXPECT_EQ(d.uTimeout, 7000u);
    EXPECT_EQ(H.Desk.Count("PlaySound " + H.Dir.File("newmail.wav")), 1);
    EXPECT_EQ(H.Desk.Count("StartProgram notify-me \"new mail\""), 1);
    EXPECT_EQ(H.Desk.Count("StartProgram mailer -compose"), 1);
    EXPECT_EQ(H.Desk.Count("MonitorOn"), 0);

    // A sound still playing is not started again; no file, no sound.
    m.RaiseNewMailAlerts();
    EXPECT_EQ(H.Desk.Count("PlaySound"), 1);
    H.Desk.Playing = false;
    SetOption("SoundFile", "");
    m.RaiseNewMailAlerts();
    EXPECT_EQ(H.Desk.Count("PlaySound"), 1);
    SetOption("PlaySound", "false");
    SetOption("SoundFile", "/x.wav");
    m.RaiseNewMailAlerts();
    EXPECT_EQ(H.Desk.Count("PlaySound"), 1);
}

TEST_F(MainWindow, SystemScreenSaverIsPokedAtMostAHundredTimes) {
    H.WriteSettings({Account("a")});
    TFrmMain &m = H.Start();
    H.Desk.SaverActiveAnswers = 3;
    m.StopScreenSaver();
    EXPECT_EQ(H.Desk.Count("PokeScreenSaver"), 3);
    H.Desk.SaverActiveAnswers = 1000;
    H.Desk.Calls.clear();
    m.StopScreenSaver();
    EXPECT_EQ(H.Desk.Count("PokeScreenSaver"), 100);
    SetOption("DisScreen", "False");
    H.Desk.Calls.clear();
    m.StopScreenSaver();
    EXPECT_EQ(H.Desk.Count("PokeScreenSaver"), 0);
}

TEST_F(MainWindow, ProtectedAccountAsksForItsPasswordFirst) {
    TTestAccount locked = Account("locked");
    locked.Password = "s3cret";
    H.WriteSettings({locked});
    IniWriteString(Settings(), "0", "Protected", "True");
    TFrmMain &m = H.Start();
    ASSERT_TRUE(m.State.Accounts[0].Protected);
    // The user types an answer into the password box; every other dialog
    // (the warning, the reader) is recorded by its text.
    std::string typed;
    std::vector<std::string> shown;
    SetModalHook([&](QDialog &d) {
        if (auto *ask = dynamic_cast<TfrmGetText *>(&d)) {
            shown.push_back("password");
            EXPECT_EQ(ask->Edit1->echoMode(), QLineEdit::Password);
            ask->Edit1->setText(QString::fromStdString(typed));
            ask->BitBtn1->click();
        } else if (auto *w = dynamic_cast<TForm1 *>(&d)) {
            shown.push_back(w->Label2->text().toStdString());
        } else {
            shown.push_back("other");
        }
    });
    typed = "wrong";
    m.Readmessges1Click();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "password");
    EXPECT_EQ(shown[1], "Wrong password.");
    // The right one opens the reader.
    shown.clear();
    typed = "s3cret";
    m.Readmessges1Click();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "password");
    EXPECT_NE(shown[1], "Wrong password.");

    // A password kept in Windows-1252 bytes by an older file is what the
    // user types in UTF-8.
    m.State.Accounts[0].Password = "s\xE4lasana";
    shown.clear();
    typed = "s\xC3\xA4lasana";
    m.Readmessges1Click();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_NE(shown[1], "Wrong password.");
    SetModalHook({});
}

// The password question and the reader wait in message loops of their own,
// where a cycle or the browsing moves the main window to another account:
// neither opens a protected account whose password nobody gave.
TEST_F(MainWindow, ThePasswordOpensOnlyTheAccountItWasGivenFor) {
    TTestAccount mine = Account("mine"), theirs = Account("theirs"), open = Account("open");
    mine.Password = "mine-pw";
    theirs.Password = "theirs-pw";
    for (TTestAccount *a : {&mine, &theirs, &open}) a->Host = "";  // the reader lists without a server
    H.WriteSettings({mine, theirs, open});
    IniWriteString(Settings(), "0", "Protected", "True");
    IniWriteString(Settings(), "1", "Protected", "True");
    TFrmMain &m = H.Start();
    ASSERT_TRUE(m.State.Accounts[0].Protected);
    ASSERT_TRUE(m.State.Accounts[1].Protected);
    std::vector<std::string> listed;  // the account each reader load showed
    int movedTo = -1;                 // where the main window goes while the question waits
    std::function<void(TfrmMessBody &)> inReader;
    SetModalHook([&](QDialog &d) {
        if (auto *ask = dynamic_cast<TfrmGetText *>(&d)) {
            if (movedTo >= 0) m.State.Accounts.ShownIndex = movedTo;
            ask->Edit1->setText("mine-pw");
            ask->BitBtn1->click();
        } else if (auto *r = dynamic_cast<TfrmMessBody *>(&d)) {
            r->Timer1Timer();
            listed.push_back(r->Label5->text().toStdString());
            if (inReader) inReader(*r);
        }
    });
    // The question for "mine" while the window moves on to "theirs".
    m.State.Accounts.ShownIndex = 0;
    movedTo = 1;
    m.Readmessges1Click();
    EXPECT_TRUE(listed.empty()) << listed[0];

    // Opened for "mine"; a cycle then shows "theirs", and the reload stops.
    movedTo = -1;
    m.State.Accounts.ShownIndex = 0;
    inReader = [&](TfrmMessBody &r) {
        m.State.Accounts.ShownIndex = 1;
        r.ToolButton1Click(r.ToolButton1);
        r.Timer1Timer();
        listed.push_back(r.Label5->text().toStdString());
        // An account without protection is listed as the window shows it.
        m.State.Accounts.ShownIndex = 2;
        r.ToolButton1Click(r.ToolButton1);
        listed.push_back(r.Label5->text().toStdString());
    };
    m.Readmessges1Click();
    EXPECT_EQ(listed, (std::vector<std::string>{"mine", "mine", "open"}));
    SetModalHook({});
}

TEST_F(MainWindow, EmptySettingsOfferTheBackupAndRestoreIt) {
    H.WriteSettings({Account("saved one"), Account("saved two")}, {}, "Tarnwick.ini.bak");
    WriteTestFile(Settings(), "[Accounts]\nNum=-1\n");
    TFrmMain &m = H.Start();
    EXPECT_EQ(m.State.Accounts.Count(), 0);
    // The offer waits for the window's timer; the test fires it.
    EXPECT_EQ(m.Timer8->Interval(), 300u);
    std::vector<std::string> asked;
    SetModalHook([&](QDialog &d) {
        if (auto *q = dynamic_cast<TfrmMessYesNo *>(&d)) {
            asked.push_back(q->Label1->text().toStdString());
            q->BitBtn1->click();
        } else if (auto *w = dynamic_cast<TForm1 *>(&d)) {
            asked.push_back(w->Label2->text().toStdString());
        }
    });
    m.Timer8Timer();
    SetModalHook({});
    EXPECT_FALSE(m.Timer8->Enabled());
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_TRUE(Contains(asked[0], "saved one - 127.0.0.1 - u")) << asked[0];
    EXPECT_EQ(asked[1], "Your settings were restored from the backup.");
    ASSERT_EQ(m.State.Accounts.Count(), 2);
    EXPECT_EQ(m.State.Accounts[1].Name, "saved two");
    EXPECT_EQ(IniReadString(Settings(), "Accounts", "Num", ""), "1");
}

TEST_F(MainWindow, StatusFileGoesWhenNoSkinProgramUsesIt) {
    H.WriteSettings({Account("a")}, {"UseExeSkins=True"});
    TFrmMain &m = H.Start();
    WriteTestFile(H.Dir.File("temp/mails.dat"), "[Other]\nNewM=True\n");
    m.WriteMailsFile(true);
    EXPECT_FALSE(FileExists(H.Dir.File("temp/mails.dat")));
}

TEST_F(MainWindow, SenderTextsWithoutTheirAddress) {
    H.WriteSettings({});
    TFrmMain &m = H.Start();
    EXPECT_EQ(m.StripAngleAddress("<a@b.org>"), "a@b.org");
    EXPECT_EQ(m.StripAngleAddress("Ann Smith <a@b.org>"), "Ann Smith ");
    EXPECT_EQ(m.StripAngleAddress("Ann <a@b.org> (work)"), "Ann  (work)");
    EXPECT_EQ(m.StripAngleAddress("Ann <a@b.org"), "Ann ");
    EXPECT_EQ(m.StripAngleAddress("a@b.org"), "a@b.org");
    EXPECT_EQ(m.StripAngleAddress(""), "");
}

TEST_F(MainWindow, SavedMessageNamesAreSafeAndBounded) {
    std::string folder = H.Dir.File("saved/deep");
    EXPECT_EQ(MakeEmlFileName(folder, "A <a@b> re: x?\x01\r\n|y.eml"), folder + "/A a@b re xy.eml");
    EXPECT_TRUE(DirectoryExists(folder));
    // A long subject of two-byte letters: cut between letters, ".eml" kept.
    std::string name = MakeEmlFileName(folder, "x" + [] {
        std::string s;
        for (int i = 0; i < 200; ++i) s += "ä";
        return s;
    }() + ".eml");
    std::string file = ExtractFileName(name);
    EXPECT_LE(file.size(), 240u);
    EXPECT_EQ(file.substr(file.size() - 4), ".eml");
    EXPECT_EQ(file.substr(file.size() - 6, 2), "ä");
    EXPECT_EQ(file.size() % 2, 1u) << "a letter was cut in half";
    // Relative folders (and the separators of old Windows rules) lie in the
    // program folder.
    EXPECT_EQ(MakeEmlFileName("mail\\kept", "m.eml"), H.Dir.File("mail/kept/m.eml"));
    EXPECT_TRUE(DirectoryExists(H.Dir.File("mail/kept")));
    EXPECT_EQ(ExtractFileName(MakeEmlFileName(folder, "..")), "_..");
}

TEST_F(MainWindow, HiddenMessagesMatchWholeLinesExactly) {
    H.WriteSettings({});
    TFrmMain &m = H.Start();
    EXPECT_FALSE(m.IsHiddenMessage("<a@b>"));
    WriteTestFile(H.Dir.File("hiddedmessages.txt"), "<a@b>\r\n\r\n<C@D>\n");
    EXPECT_TRUE(m.IsHiddenMessage("<a@b>"));
    EXPECT_TRUE(m.IsHiddenMessage("<C@D>"));
    EXPECT_FALSE(m.IsHiddenMessage("<c@d>"));
    EXPECT_FALSE(m.IsHiddenMessage("<a@b"));
    // A message without an identifier is not hidden by an empty line.
    EXPECT_FALSE(m.IsHiddenMessage(""));
    // The reader adds a line: it counts at once.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    WriteTestFile(H.Dir.File("hiddedmessages.txt"), "<a@b>\r\n<new@x>\r\n");
    EXPECT_TRUE(m.IsHiddenMessage("<new@x>"));
    EXPECT_FALSE(m.IsHiddenMessage("<C@D>"));
}

TEST_F(MainWindow, DeletedMessagesFileKeepsItsLastLines) {
    H.WriteSettings({}, {"DelMessVal=2", "ShowingTime=yyyy"});
    TFrmMain &m = H.Start();
    m.SaveDeletedMessage("acc", "Ann <a@b>", "one");
    m.SaveDeletedMessage("acc", "Ann <a@b>", std::string("two\r\nlines\0x", 12));
    m.SaveDeletedMessage("acc", "Bob <b@c>", "three");
    TStringList lines;
    lines.LoadFromFile(H.Dir.File("deleted.txt"));
    std::string year = FormatDateTime("yyyy", Now());
    ASSERT_EQ(lines.Count(), 2);
    EXPECT_EQ(lines[0], "two  lines x   Ann <a@b>   acc   " + year);
    EXPECT_EQ(lines[1], "three   Bob <b@c>   acc   " + year);

    // A value that is no number keeps 30; a negative one keeps nothing.
    SetOption("DelMessVal", "lots");
    for (int i = 0; i < 35; ++i) m.SaveDeletedMessage("acc", "s", "x" + std::to_string(i));
    lines.LoadFromFile(H.Dir.File("deleted.txt"));
    EXPECT_EQ(lines.Count(), 30);
    SetOption("DelMessVal", "-3");
    m.SaveDeletedMessage("acc", "s", "gone");
    EXPECT_EQ(Trim(ReadTestFile(H.Dir.File("deleted.txt"))), "");
    SetOption("SaveDeletedM", "False");
    DeleteFile(H.Dir.File("deleted.txt"));
    m.SaveDeletedMessage("acc", "s", "not written");
    EXPECT_FALSE(FileExists(H.Dir.File("deleted.txt")));
}

TEST_F(MainWindow, SchedulerStartsACycleOnceItsTimeHasCome) {
    TTestAccount web = Account("web");
    web.Kind = "HTTP";
    H.WriteSettings({web}, {"CheckTime=0"});
    TFrmMain &m = H.Start();
    m.Timer6Timer();
    EXPECT_EQ(H.LogLinesWith("Checking"), 0);
    m.State.Options.NextCheck = Now() - 0.001;
    m.Timer6Timer();
    // A web-mail account says why it cannot be checked here and counts 0.
    EXPECT_EQ(H.LogLinesWith("Checking 127.0.0.1"), 1);
    EXPECT_EQ(H.LogLinesWith("Web mail is not available in this build of Tarnwick."), 1) << H.Log();
    EXPECT_EQ(m.State.Accounts[0].NewCount, 0);
    // An interval below one unit is one unit.
    EXPECT_NEAR(m.State.Options.NextCheck, Now() + 0.0007, 0.00005);
}

TEST_F(MainWindow, DestroyingSavesOnceAndEmptiesTemp) {
    H.WriteSettings({Account("a")});
    TFrmMain &m = H.Start();
    WriteTestFile(H.Dir.File("temp/one.tmp"), "1");
    WriteTestFile(H.Dir.File("temp/two"), "2");
    m.State.Accounts[0].Name = "renamed";
    m.FormDestroy();
    EXPECT_EQ(IniReadString(Settings(), "0", "Name", ""), "renamed");
    EXPECT_EQ(IniReadString(Settings(), "Options", "TWVerini", ""), TarnwickVersion);
    EXPECT_TRUE(ListDirectory(H.Dir.File("temp")).empty());
    // Reached again (the window going after it): no second save.
    IniWriteString(Settings(), "0", "Name", "edited since");
    m.FormDestroy();
    H.Stop();
    EXPECT_EQ(IniReadString(Settings(), "0", "Name", ""), "edited since");

    // Handed over to the updater: "temp" stays.
    TFrmMain &n = H.Start();
    WriteTestFile(H.Dir.File("temp/update.zip"), "z");
    n.State.CleanupAllowed = false;
    H.Stop();
    EXPECT_TRUE(FileExists(H.Dir.File("temp/update.zip")));
}

// A session-end request may be followed by more session (a log-out the user
// cancels, a checkpoint): it saves, and the program goes on whole.
TEST_F(MainWindow, ASessionEndRequestSavesAndTheProgramGoesOn) {
    H.WriteSettings({Account("a")}, {H.LongLog()});
    TFrmMain &m = H.Start();
    WriteTestFile(H.Dir.File("temp/message.eml"), "x");
    m.State.Accounts[0].Name = "renamed";
    m.State.Accounts[0].Senders.Add("Ann <a@b>");
    m.State.Accounts[0].NewCount = 1;
    m.QueryEndSession();
    EXPECT_EQ(IniReadString(Settings(), "0", "Name", ""), "renamed");

    // Reports still reach the log, the error signal still works, the mail
    // waiting is still listed and "temp" still holds the check's files.
    m.ReportEvent("after the request", 0, 5, TEventReporter::clBlack);
    EXPECT_EQ(H.LogLinesWith("after the request"), 1) << H.Log();
    m.ReportEvent(" Bad login", 0, 1, TEventReporter::clRed);
    EXPECT_TRUE(m.Reporter.ErrorFlag);
    EXPECT_TRUE(m.TrayIcon1->CycleIcons());
    EXPECT_EQ(m.TrayIcon1->IconList(), m.ImageList3);
    EXPECT_EQ(m.State.Accounts[0].Senders.Count(), 1);
    EXPECT_TRUE(FileExists(H.Dir.File("temp/message.eml")));

    // The real end saves what changed since, and empties "temp".
    m.State.Accounts[0].Name = "renamed later";
    H.Stop();
    EXPECT_EQ(IniReadString(Settings(), "0", "Name", ""), "renamed later");
    EXPECT_TRUE(ListDirectory(H.Dir.File("temp")).empty());
}

// Fenlow's jobs wait until every Tarnwick of the folder has ended; whichever
// profile ends, what they will install stays in "temp".
TEST_F(MainWindow, ExitingLeavesWhatFenlowHasYetToInstall) {
    H.WriteSettings({Account("a")});
    H.WriteSettings({Account("anna's")}, {}, "anna.ini");
    auto temp = [&](const std::string &name) { return H.Dir.File("temp/" + name); };
    WriteTestFile(H.Dir.File("fenlow.dat"), "[File]\r\nVersion=0.9.0.0\r\nPath=" + temp("tarnwick.zip") + "\r\n");
    WriteTestFile(temp("tarnwick.zip"), "PK-program");
    WriteTestFile(H.Dir.File("skins.dat"), "[FENLOW_File]\r\nPath=temp/Blue.zip\r\nSkin=Blue\r\n");
    WriteTestFile(temp("Blue.zip"), "PK-skin");
    WriteTestFile(SkinBackupFolder(H.Dir.Path(), "Blue") + "/Blue.skn", "[About]\r\nVersion=1\r\n");
    for (const char *archive : {AllSkinsArchiveName, SkinEditorArchiveName}) WriteTestFile(temp(archive), "PK");
    // The program's own work files go.
    for (const char *work : {"mails.dat", "hiddedmessages.txt", "reader/part.eml", "tarnwick.old"})
        WriteTestFile(temp(work), "x");

    H.Start({"-user", "_anna"});
    H.Stop();
    EXPECT_EQ(ListDirectory(H.Dir.File("temp")),
              (std::vector<std::string>{"allskins.zip", "Blue.zip", "Brisvel.zip", "oldskins", "tarnwick.zip"}));
    EXPECT_EQ(ReadTestFile(SkinBackupFolder(H.Dir.Path(), "Blue") + "/Blue.skn"), "[About]\r\nVersion=1\r\n");

    // Fenlow has installed the update: the archive it left is no hand-over.
    // Neither is the folder itself, nor anything outside it.
    WriteTestFile(H.Dir.File("fenlow.dat"), "[File]\r\nPath=temp\r\n");
    WriteTestFile(H.Dir.File("skins.dat"), "[FENLOW_File]\r\nPath=temp/../Tarnwick.ini\r\n");
    H.Start();
    H.Stop();
    EXPECT_EQ(ListDirectory(H.Dir.File("temp")),
              (std::vector<std::string>{"allskins.zip", "Brisvel.zip", "oldskins"}));
    EXPECT_TRUE(FileExists(Settings()));
}

// The scheduler times its interval on a steady clock; the next check time it
// shows follows the wall clock wherever that goes.
TEST_F(MainWindow, TheScheduleKeepsItsPaceWhenTheWallClockJumps) {
    TTestAccount web = Account("web");
    web.Kind = "HTTP";
    H.WriteSettings({web}, {"CheckTime=1", H.LongLog()});
    TFrmMain &m = H.Start();
    TDateTime wall = Now();
    int64_t steady = 5000000;
    m.WallClock = [&] { return wall; };
    m.SteadyClockMs = [&] { return steady; };
    auto checks = [&] { return H.LogLinesWith("Checking 127.0.0.1"); };
    // One scheduler tick after Seconds, with the wall clock moved by Jump
    // seconds besides.
    auto tick = [&](int seconds, double jump = 0) {
        steady += seconds * 1000;
        wall += (seconds + jump) / 86400.0;
        m.Timer6Timer();
    };
    m.State.Options.NextCheck = wall;
    m.Timer6Timer();
    ASSERT_EQ(checks(), 1);

    // Daylight saving ends: the clock goes back an hour. One unit (60.48 s)
    // after the last check the next one runs all the same.
    tick(10, -3600);
    EXPECT_EQ(checks(), 1);
    EXPECT_NEAR((m.State.Options.NextCheck - wall) * 86400, 50.48, 0.01);
    for (int i = 0; i < 5; ++i) tick(10);
    EXPECT_EQ(checks(), 1);
    tick(10);
    EXPECT_EQ(checks(), 2);

    // The clock jumps a day ahead: no check is hurried.
    tick(10, 86400);
    EXPECT_EQ(checks(), 2);
    EXPECT_NEAR((m.State.Options.NextCheck - wall) * 86400, 50.48, 0.01);
    for (int i = 0; i < 6; ++i) tick(10);
    EXPECT_EQ(checks(), 3);

    // A next check time set elsewhere (the Options dialog) counts from now.
    m.State.Options.NextCheck = wall + 25 / 86400.0;
    tick(10);
    tick(10, -7200);
    EXPECT_EQ(checks(), 3);
    tick(10);
    EXPECT_EQ(checks(), 4);
}

// The machine sleeps through the night two minutes after a check: the first
// check after it wakes is due at once, not when what was left of the
// interval has passed on the clock that stood still.
TEST_F(MainWindow, TheFirstCheckAfterASleepIsNotPutOff) {
    TTestAccount web = Account("web");
    web.Kind = "HTTP";
    H.WriteSettings({web}, {"CheckTime=10", H.LongLog()});
    TFrmMain &m = H.Start();
    // The kernel's clocks as the test moves them.
    int64_t running = 5000000, sinceBoot = 9000000;
    TDateTime wall = Now();
    SetKernelClockReader([&](clockid_t clock) -> int64_t {
        if (clock == CLOCK_BOOTTIME) return sinceBoot;
        if (clock == CLOCK_MONOTONIC) return running;
        return int64_t(wall * 86400000.0);
    });
    struct TClocksBack {
        ~TClocksBack() { SetKernelClockReader({}); }
    } clocksBack;
    m.WallClock = [&] { return wall; };
    auto checks = [&] { return H.LogLinesWith("Checking 127.0.0.1"); };
    auto awake = [&](int seconds) {
        running += seconds * 1000;
        sinceBoot += seconds * 1000;
        wall += seconds / 86400.0;
        m.Timer6Timer();
    };
    auto asleep = [&](int hours) {
        sinceBoot += int64_t(hours) * 3600000;
        wall += hours / 24.0;
    };
    m.State.Options.NextCheck = wall;
    m.Timer6Timer();
    ASSERT_EQ(checks(), 1);
    for (int i = 0; i < 12; ++i) awake(10);
    EXPECT_EQ(checks(), 1);

    asleep(8);
    awake(10);
    EXPECT_EQ(checks(), 2);
    EXPECT_NEAR((m.State.Options.NextCheck - wall) * 86400, 604.8, 0.01);
    // From there the checks keep their pace.
    for (int i = 0; i < 60; ++i) awake(10);
    EXPECT_EQ(checks(), 2);
    awake(10);
    EXPECT_EQ(checks(), 3);
}

// Exit chosen while the delayed start-up waits for an update site that took
// the connection and never answers.
TEST_F(MainWindow, ExitDuringTheDelayedStartUpEndsItsWaits) {
    BrokenTLSPeer site(BrokenTLSPeer::Stall);
    ::setenv(UpdateUrlVariable, ("https://127.0.0.1:" + std::to_string(site.Port()) + "/tarnwick/").c_str(), 1);
    TTestAccount web = Account("web");
    web.Kind = "HTTP";
    H.WriteSettings({web}, {"CheckUpdates=True", "CheckSkinFenlow=True", "CheckOnStart=True", H.LongLog()});
    WriteTestFile(H.Dir.File("blacklist.dat"), "[spam@example.org]\r\nHide=True\r\n");
    TFrmMain &m = H.Start();
    m.UpdatePauseMs = 0;
    // Far longer than an exit may take.
    m.InfoDownloadLimitMs = 10000;
    TSimpleTimer user(20, [&](QObject *) {
        if (site.Accepted() > 0 && m.Exit1->Tag == 0) m.Exit1->trigger();
    });
    user.SetEnabled(true);
    const auto start = std::chrono::steady_clock::now();
    m.Timer5Timer();
    const auto took = std::chrono::steady_clock::now() - start;
    user.SetEnabled(false);
    ::unsetenv(UpdateUrlVariable);

    EXPECT_EQ(m.Exit1->Tag, 1);
    EXPECT_LT(took, std::chrono::seconds(3));
    // Nothing after the exit: no skin information, no start-up check, no
    // usage counter, no import.
    EXPECT_EQ(site.Accepted(), 1);
    EXPECT_EQ(H.LogLinesWith("Checking 127.0.0.1"), 0) << H.Log();
    EXPECT_NE(IniReadString(Settings(), "Options", "Calculated", ""), "True");
    EXPECT_TRUE(FileExists(H.Dir.File("blacklist.dat")));
    EXPECT_FALSE(FileExists(H.Dir.File("fenlow.dat")));
}

TEST_F(MainWindow, TermSignalSavesTheSettingsAndEmptiesTemp) {
    // The program itself, in a folder of its own (its folder is its home).
    std::string exe = H.Dir.File("tarnwick");
    WriteTestFile(exe, ReadTestFile(std::string(TW_BINARY_DIR) + "/monitor/tarnwick"));
    ::chmod(exe.c_str(), 0755);
    H.WriteSettings({Account("kept")});
    WriteTestFile(H.Dir.File("temp/leftover.eml"), "x");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl(exe.c_str(), exe.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    // The backup is written while the settings load: the program is up.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!FileExists(H.Dir.File("Tarnwick.ini.bak")) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(FileExists(H.Dir.File("Tarnwick.ini.bak")));
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    int status = 0;
    pid_t done = 0;
    until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "tarnwick did not end on SIGTERM";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(IniReadString(Settings(), "Options", "TWVerini", ""), TarnwickVersion);
    EXPECT_EQ(IniReadString(Settings(), "0", "Name", ""), "kept");
    EXPECT_TRUE(ListDirectory(H.Dir.File("temp")).empty());
}
