// The main window's update checks against a loopback https update site
// signed by the test CA; a stand-in Fenlow records how it was started.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <memory>
#include <sys/stat.h>

#include "dialogs/DialogSeam.h"
#include "mainwindow/FrmMain.h"
#include "HTTPGet.h"
#include "HttpTestServer.h"
#include "IniFile.h"
#include "updates/Kel_Files.h"
#include "settings/Kel_Reg.h"
#include "OpenSSLServer.h"
#include "settings/ProgramPaths.h"
#include "QtTestApp.h"
#include "SysUtils.h"
#include "settings/TarnwickVersion.h"
#include "TestSupport.h"
#include "TrayBackend.h"
#include "TrickleProxy.h"
#include "updates/UpdateFiles.h"
#include "ZipTools.h"
#include "dialogs/unitDown.h"
#include "settings/unLanguage.h"
#include "dialogs/unitMessages.h"

namespace {

// The log as the reporter writes it: the message numbers and colours.
class TRecordedLog : public TLogView {
public:
    std::vector<std::pair<std::string, int>> Lines;
    int LineCount() const override { return int(Lines.size()); }
    std::string Line(int i) const override { return Lines[size_t(i)].first; }
    void AddLine(const std::string &t) override { Lines.push_back({t, 0}); }
    void ColourLastLine(int c) override { Lines.back().second = c; }
    void DeleteLine(int i) override { Lines.erase(Lines.begin() + i); }
    // "75 black, 76 black" of the numbered lines.
    std::string Events() const {
        std::string out;
        for (const auto &[text, colour] : Lines) {
            int at = Pos("#", text);
            if (at == 0) continue;
            if (!out.empty()) out += ", ";
            // The number alone, without the argument some reports carry.
            int end = at + 1;
            while (end <= int(text.size()) && text[end - 1] >= '0' && text[end - 1] <= '9') ++end;
            out += Copy(text, at + 1, end - at - 1) + (colour == TEventReporter::clRed    ? " red"
                                         : colour == TEventReporter::clBlue ? " blue"
                                                                            : " black");
        }
        return out;
    }
};

// A script standing in for Fenlow: it records its argument in "fenlow.txt".
std::string FenlowStandIn(const std::string &version) {
    return "#!/bin/sh\necho \"$1\" >> \"$(dirname \"$0\")/fenlow.txt\"\nexit 0\nTW-FILEVERSION:" + version +
           std::string(1, '\0');
}

// A script standing in for Fenlow's skin job as it ends: it records its
// argument, takes a moment (gated: until the test puts "go" beside it, 30 s
// at most), removes the hand-over and then either puts the new skin
// (version 2) in place of the one moved aside, or gives the old one back and
// says it failed, as Fenlow does after a bad archive.
std::string SkinFenlowStandIn(bool installs, bool gated = false) {
    std::string script = "#!/bin/sh\n"
                         "cd \"$(dirname \"$0\")\" || exit 2\n"
                         "echo \"$1\" >> fenlow.txt\n" +
                         std::string(gated ? "i=0\n"
                                             "while [ ! -e go ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done\n"
                                           : "sleep 0.3\n") +
                         "skin=$(sed -n 's/^Skin=//p' skins.dat | tr -d '\\r')\n"
                         "zip=$(sed -n 's/^Path=//p' skins.dat | tr -d '\\r')\n"
                         "rm -f skins.dat \"$zip\"\n";
    if (installs)
        return script + "mkdir -p \"skins/$skin\"\n"
                        "printf '[About]\\r\\nVersion=2\\r\\n' > \"skins/$skin/$skin.skn\"\n"
                        "echo new > \"skins/$skin/back.bmp\"\n"
                        "rm -rf \"temp/oldskins/$skin\"\n"
                        "exit 0\n";
    return script + "rm -rf \"skins/$skin\"\nmv \"temp/oldskins/$skin\" \"skins/$skin\"\nexit 1\n";
}

class UpdateChecksTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        EnsureQApplication();
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void SetUp() override {
        PreviousTray = SetTrayBackend(&Tray);
        SetProgramFolder(Dir.Path());
        const TestPKI &pki = TestPKI::Get();
        SetHTTPGetCAFile(pki.CAFile);
        Server = std::make_unique<HttpTestServer>(Www.Path(), pki.ServerCert, pki.Key);
        ::setenv(UpdateUrlVariable, Server->Url("/tarnwick/").c_str(), 1);
        Put(FenlowExeName, FenlowStandIn("0.1.2.5"), 0755);
        // Messages that show their own numbers.
        std::string lang = "[Messages]\r\n";
        for (int n = 60; n <= 110; ++n) lang += std::to_string(n) + "=#" + std::to_string(n) + "\r\n";
        Put("Lang/numbers.lng", lang);
        Put("Tarnwick.ini", "[Options]\r\nLanguage=numbers.lng\r\n");
        // Start-up loads the language of the settings.
        Form = std::make_unique<TFrmMain>();
        Form->UpdatePauseMs = 0;
        // The tests ask for each check themselves.
        for (TTimer *t : {Form->Timer5, Form->Timer6, Form->Timer8}) t->SetEnabled(false);
        Form->Reporter.Log = &Log;
        Form->Reporter.LogReady = true;
        Form->Reporter.MessageText = [](int n) { return "#" + std::to_string(n); };
        Form->ImageList4->Add(QIcon());
        Form->ImageList4->Add(QIcon());
    }
    void TearDown() override {
        SetModalHook({});
        Form.reset();
        ::unsetenv(UpdateUrlVariable);
        SetHTTPGetCAFile("");
        Server.reset();
        SetProgramFolder("");
        SetLanguageFileName(DefaultLanguageFile);
        SetTrayBackend(PreviousTray);
        IniFileCacheClear();
    }

    std::string P(const std::string &rel) const { return Dir.File(rel); }
    std::string Site(const std::string &rel) const { return Www.File("tarnwick/" + rel); }
    bool Exists(const std::string &rel) const {
        struct stat st;
        return ::lstat(P(rel).c_str(), &st) == 0;
    }
    void Put(const std::string &rel, const std::string &bytes, unsigned mode = 0644) {
        WriteTestFile(P(rel), bytes);
        ::chmod(P(rel).c_str(), mode);
    }
    void SiteInfo(const std::string &version, const std::string &fenlowVersion = "0.1.2.5",
                  const std::string &name = "tarnwick.zip", const std::string &sha = "") {
        std::string text = "[File]\r\nVersion=" + version + "\r\nName=" + name + "\r\n";
        if (!sha.empty()) text += "SHA256=" + sha + "\r\n";
        WriteTestFile(Site("fenlow.dat"), text + "[FENLOW]\r\nVersion=" + fenlowVersion + "\r\n");
    }
    void SiteZip(const std::string &bytes = "PK-program-archive") { WriteTestFile(Site("zip/tarnwick.zip"), bytes); }
    std::string Fenlow() {
        WaitUntil([this] { return !ReadTestFile(P("fenlow.txt")).empty(); }, 10000);
        return ReadTestFile(P("fenlow.txt"));
    }
    // Runs Look once the stand-in Fenlow has started (it notes that first).
    void WhenFenlowStarts(std::function<void()> Look) {
        auto *t = new QTimer(Form.get());
        QObject::connect(t, &QTimer::timeout, Form.get(), [this, t, Look] {
            if (ReadTestFile(P("fenlow.txt")).empty()) return;
            t->stop();
            t->deleteLater();
            Look();
        });
        t->start(5);
    }
    std::string FenlowAfterAWhile() {
        ProcessEventsFor(300);
        return ReadTestFile(P("fenlow.txt"));
    }
    std::string Ini(const std::string &rel, const std::string &section, const std::string &key) {
        IniFileCacheClear();
        return IniReadString(P(rel), section, key, "(none)");
    }
    // An installed skin "Blue" of version 1 and a site that offers version 2.
    void BlueOnSiteAndInstalled() {
        Put("skins/Blue/Blue.skn", "[About]\r\nVersion=1\r\n");
        Put("skins/Blue/back.bmp", "old");
        WriteTestFile(Site("zip/skins/Blue.zip"), "PK-skin");
        WriteTestFile(Site("zip/skins/skins.dat"), "[Blue]\r\nVersion=2\r\nFile=Blue.zip\r\nSHA256=" +
                                                       FileSha256(Site("zip/skins/Blue.zip")) + "\r\n");
    }
    // What the user could see once Fenlow had started, before it ended.
    struct TWhileFenlowWorks {
        bool Seen = false, SkinParked = false;
        std::string Events;
        std::vector<std::string> Messages;
    };
    void WatchFenlow(TWhileFenlowWorks &w) {
        auto *t = new QTimer(Form.get());
        QObject::connect(t, &QTimer::timeout, Form.get(), [this, t, &w] {
            if (ReadTestFile(P("fenlow.txt")).empty()) return;
            t->stop();
            t->deleteLater();
            w.Seen = true;
            w.Events = Log.Events();
            w.Messages = Messages;
            w.SkinParked = !Exists("skins/Blue") && Exists("temp/oldskins/Blue/Blue.skn");
        });
        t->start(10);
    }
    // The line of the log that reports message Number.
    std::string LogLine(int Number) const {
        for (const auto &[text, colour] : Log.Lines)
            if (Contains(text, "#" + std::to_string(Number))) return text;
        return {};
    }

    // The user in front of the download windows: each is noted and steered
    // (by default: Yes when it waits for it), then its events run until it
    // closes (20 s at most).
    void Answer(std::function<void(TForm2 &)> steer = {}) {
        SetModalHook([this, steer](QDialog &d) {
            if (auto *m = dynamic_cast<TForm1 *>(&d)) {
                Messages.push_back(m->Label1->text().toStdString() + ": " + m->Label2->text().toStdString());
                return;
            }
            auto *f = dynamic_cast<TForm2 *>(&d);
            ASSERT_NE(f, nullptr);
            Windows.push_back(f->Label1->text().toStdString());
            CyclingDuring = Form->TrayIcon1->CycleIcons() && Form->TrayIcon1->IconList() == Form->ImageList4;
            if (steer) steer(*f);
            else if (f->BitBtn1->isVisible()) f->BitBtn1->click();
            EXPECT_TRUE(ProcessEventsUntil([f] { return !f->isVisible(); }, 20000));
        });
    }

    TempDir Dir, Www;
    TRecordingTrayBackend Tray;
    TTrayBackend *PreviousTray = nullptr;
    std::unique_ptr<HttpTestServer> Server;
    std::unique_ptr<TFrmMain> Form;
    TRecordedLog Log;
    std::vector<std::string> Windows, Messages;
    bool CyclingDuring = false;
};

}  // namespace

TEST_F(UpdateChecksTest, EqualOlderAndMalformedVersionsDownloadNothing) {
    SiteZip();
    for (const char *version : {TarnwickVersion, "0.8.2.4", "0.9.0.0-beta", "", "99999999999999999999"}) {
        SCOPED_TRACE(version);
        Log.Lines.clear();
        SiteInfo(version);
        Answer();
        EXPECT_FALSE(Form->CheckProgramUpdate());
        EXPECT_EQ(Log.Events(), "75 black, 76 black");
        EXPECT_TRUE(Windows.empty());
        EXPECT_FALSE(Exists("fenlow.dat"));
        EXPECT_FALSE(Exists("temp/tarnwick.zip"));
        EXPECT_TRUE(Form->State.CleanupAllowed);
    }
    EXPECT_TRUE(Form->UpdateInfoError.empty());
}

// A site that does not give the information has not said that nothing is
// newer: the log says what went wrong, not "no updates".
TEST_F(UpdateChecksTest, InformationThatCannotBeFetchedIsNoAnswer) {
    SiteZip();
    SiteInfo("0.9.0.0");
    struct Case {
        std::string Url, Why;
    };
    const std::string closed = "https://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/tarnwick/";
    for (const Case &c : {Case{Server->Url("/nowhere/"), "HTTP status 404"}, Case{closed, ""}}) {
        SCOPED_TRACE(c.Url);
        ::setenv(UpdateUrlVariable, c.Url.c_str(), 1);
        Log.Lines.clear();
        EXPECT_FALSE(Form->CheckProgramUpdate());
        EXPECT_EQ(Log.Events(), "75 black, 77 red");
        ASSERT_EQ(Log.Lines.size(), 2u);
        EXPECT_TRUE(Contains(Log.Lines[1].first, "#77 " + c.Url + "fenlow.dat: " + c.Why)) << Log.Lines[1].first;
        EXPECT_TRUE(StartsText(c.Url + "fenlow.dat: " + c.Why, Form->UpdateInfoError)) << Form->UpdateInfoError;
        EXPECT_FALSE(Exists("fenlow.dat"));
    }
    // An answer that is no update information (a page in its place).
    ::setenv(UpdateUrlVariable, Server->Url("/tarnwick/").c_str(), 1);
    WriteTestFile(Site("fenlow.dat"), "<html>Moved</html>\n");
    Log.Lines.clear();
    EXPECT_FALSE(Form->CheckProgramUpdate());
    EXPECT_EQ(Log.Events(), "75 black, 77 red");
    EXPECT_FALSE(Exists("fenlow.dat"));
    // The user who asked for a skin check is told the same.
    Answer();
    Put("skins/Blue/Blue.skn", "[About]\r\nVersion=1\r\n");
    ::setenv(UpdateUrlVariable, closed.c_str(), 1);
    Log.Lines.clear();
    EXPECT_FALSE(Form->CheckForSkinUpdate("Blue", true));
    EXPECT_EQ(Log.Events(), "77 red");
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_TRUE(StartsText("Warning: #77\r\n" + closed + "zip/skins/skins.dat: ", Messages[0])) << Messages[0];
    EXPECT_TRUE(Exists("skins/Blue/Blue.skn"));
    EXPECT_EQ(FenlowAfterAWhile(), "");
}

TEST_F(UpdateChecksTest, ANewerProgramIsFetchedAndHandedToFenlow) {
    SiteZip();
    SiteInfo("0.9.0.0", "0.1.2.5", "tarnwick.zip", FileSha256(Site("zip/tarnwick.zip")));
    Put("fenlow.dat", "[File]\r\nVersion=0.9.9.9\r\nPath=/somewhere/old.zip\r\n");  // from an earlier run
    Form->show();
    Answer();
    EXPECT_TRUE(Form->CheckProgramUpdate());
    EXPECT_EQ(Log.Events(), "75 black, 89 blue, 90 black, 91 blue, 92 black");
    ASSERT_EQ(Windows.size(), 1u);
    // The version the user has is the one this program carries.
    const std::string own = GetFileVersionText(ApplicationExeName());
    EXPECT_EQ(Windows[0], "#73 " + own + " #74\r\n#71 0.9.0.0 #72\r\n\r\n#70\r\n");
    EXPECT_TRUE(CyclingDuring);
    EXPECT_EQ(ReadTestFile(P("temp/tarnwick.zip")), "PK-program-archive");
    EXPECT_EQ(Ini("fenlow.dat", "File", "Path"), P("temp/tarnwick.zip"));
    EXPECT_EQ(Ini("fenlow.dat", "File", "Version"), "0.9.0.0");
    EXPECT_EQ(Fenlow(), "-fenlow\n");
    // The window goes, and "temp/" with the archive stays for Fenlow.
    EXPECT_FALSE(Form->State.CleanupAllowed);
    EXPECT_EQ(Form->Exit1->Tag, 1);
    EXPECT_FALSE(Form->isVisible());
    EXPECT_FALSE(Form->TrayIcon1->CycleIcons());
    EXPECT_EQ(Form->TrayIcon1->IconList(), Form->ImageList1);
}

TEST_F(UpdateChecksTest, AutoUpdateFetchesWithoutAsking) {
    SiteZip();
    SiteInfo("0.9.0.0");
    Put("Tarnwick.ini", "[Options]\r\nAutoUpdate=True\r\n", 0600);
    bool yesShown = true;
    Answer([&](TForm2 &f) { yesShown = f.BitBtn1->isVisible(); });
    EXPECT_TRUE(Form->CheckProgramUpdate());
    EXPECT_FALSE(yesShown);
    EXPECT_EQ(Fenlow(), "-fenlow\n");
}

// Beside the list of an update that could not be undone the start-up says
// so and hands Fenlow no update: Fenlow would fail to put the folder back
// again and start this program again, round and round. Asked for by the
// user, the update is still tried.
TEST_F(UpdateChecksTest, BesideAnUpdateNotUndoneTheStartUpSaysSoAndUpdatesNothing) {
    SiteZip();
    SiteInfo("0.9.0.0");
    Put("Tarnwick.ini", "[Options]\r\nLanguage=numbers.lng\r\nCheckUpdates=True\r\nAutoUpdate=True\r\n", 0600);
    Put("temp/oldprogram/restore.lst", "R 1 tarnwick\n", 0444);
    Answer();
    Form->Timer5Timer();
    EXPECT_EQ(Messages, std::vector<std::string>{"Warning: #105\r\n#106"});
    EXPECT_EQ(Log.Events(), "105 red") << "no update check";
    EXPECT_EQ(FenlowAfterAWhile(), "");
    EXPECT_TRUE(Form->State.CleanupAllowed);
    EXPECT_TRUE(Form->CheckProgramUpdate());
    EXPECT_EQ(Fenlow(), "-fenlow\n");
}

// A newer program that does not arrive is no "No updates found": the log
// and the window say what became of it.
TEST_F(UpdateChecksTest, AFailedProgramDownloadLeavesNoHandOverAndSaysWhy) {
    const std::string url = Server->Url("/tarnwick/zip/tarnwick.zip");
    struct Case {
        std::string what, name, sha;
        bool zipOnSite, cancel;
        int windows;
        std::string why;
    };
    const Case cases[] = {
        {"the user cancels", "tarnwick.zip", "", true, true, 1, "#94"},
        {"the archive is missing", "tarnwick.zip", "", false, false, 1, "#95 " + url + ": HTTP status 404"},
        {"the digest does not match", "tarnwick.zip", std::string(64, 'f'), true, false, 1, "#96"},
        {"the name is a path", "../../tarnwick.zip", "", true, false, 0, "#95 \"../../tarnwick.zip\" is not a file name"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Log.Lines.clear();
        Windows.clear();
        Messages.clear();
        DeleteFile(Site("zip/tarnwick.zip"));
        if (c.zipOnSite) SiteZip();
        SiteInfo("0.9.0.0", "0.1.2.5", c.name, c.sha);
        Answer([&c](TForm2 &f) {
            if (c.cancel) {
                f.BitBtn2->click();
                return;
            }
            f.BitBtn1->click();
            ProcessEventsUntil([&f] { return !f.HTTPGet->Running() && (f.Result || f.HTTPGet->LastStatusCode()); },
                               10000);
            if (f.isVisible()) f.BitBtn2->click();  // the user gives up after the error
        });
        EXPECT_FALSE(Form->CheckProgramUpdate());
        EXPECT_EQ(int(Windows.size()), c.windows);
        EXPECT_EQ(Log.Events(), "75 black, 89 blue, 90 black, 78 red");
        EXPECT_TRUE(EndsText(": " + c.why, LogLine(78))) << LogLine(78);
        EXPECT_EQ(Form->UpdateFailure, c.why);
        EXPECT_TRUE(Form->UpdateInfoError.empty());
        EXPECT_FALSE(Exists("fenlow.dat"));
        EXPECT_FALSE(Exists("temp/tarnwick.zip"));
        EXPECT_TRUE(Form->State.CleanupAllowed);
        EXPECT_EQ(Form->Exit1->Tag, 0);
        Form->ShowUpdateOutcome(100, 100);
        EXPECT_EQ(Messages, std::vector<std::string>{"Warning: #78:\r\n" + c.why});
    }
    EXPECT_EQ(FenlowAfterAWhile(), "");
}

TEST_F(UpdateChecksTest, ANewerUpdaterAloneIsReplaced) {
    SiteInfo(TarnwickVersion, "0.1.2.6");
    WriteTestFile(Site("zip/fenlow"), FenlowStandIn("0.1.2.6"));
    Answer();
    EXPECT_TRUE(Form->CheckProgramUpdate());
    EXPECT_EQ(Log.Events(), "75 black, 93 blue, 81 black, 80 blue");
    ASSERT_EQ(Windows.size(), 1u);
    EXPECT_EQ(Windows[0], "#79 0.1.2.5 #74\r\n#71 0.1.2.6 #72\r\n\r\n#70\r\n");
    EXPECT_EQ(GetFileVersionText(P(FenlowExeName)), "0.1.2.6");
    EXPECT_EQ(FileMode(P(FenlowExeName)), 0755u);
    EXPECT_FALSE(Exists("temp/fenlow.tmp"));
    EXPECT_EQ(Ini("Tarnwick.ini", "FENLOW", "Version"), "0.1.2.6");
    EXPECT_FALSE(Exists("fenlow.dat"));
    EXPECT_TRUE(Form->State.CleanupAllowed);
    EXPECT_EQ(FenlowAfterAWhile(), "");
    // The user who asked is told so.
    EXPECT_TRUE(Form->UpdaterReplaced);
    Form->ShowUpdateOutcome(100, 100);
    EXPECT_EQ(Messages, std::vector<std::string>{"Info: #80"});

    // Without a marker in the executable the settings file tells its version.
    Log.Lines.clear();
    Windows.clear();
    Put(FenlowExeName, "#!/bin/sh\n", 0755);
    EXPECT_FALSE(Form->CheckProgramUpdate());  // settings say 0.1.2.6 now
    EXPECT_TRUE(Windows.empty());
}

TEST_F(UpdateChecksTest, AnUpdaterThatIsNotTheAnnouncedOneIsRefused) {
    SiteInfo(TarnwickVersion, "0.1.2.6");
    WriteTestFile(Site("zip/fenlow"), "<html><body>Welcome to the hotel network</body></html>");
    Answer();
    EXPECT_FALSE(Form->CheckProgramUpdate());
    // A newer updater was found: not "No updates found", but why it is not in place.
    EXPECT_EQ(Log.Events(), "75 black, 93 blue, 81 black, 78 red");
    EXPECT_TRUE(EndsText(": #96", LogLine(78))) << LogLine(78);
    EXPECT_FALSE(Form->UpdaterReplaced);
    Form->ShowUpdateOutcome(100, 100);
    EXPECT_EQ(Messages, std::vector<std::string>{"Warning: #78:\r\n#96"});
    EXPECT_EQ(GetFileVersionText(P(FenlowExeName)), "0.1.2.5");
    EXPECT_FALSE(Exists("temp/fenlow.tmp"));
    EXPECT_EQ(Ini("Tarnwick.ini", "FENLOW", "Version"), "(none)");
}

TEST_F(UpdateChecksTest, ASkinUpdateMovesTheOldSkinAsideAndHandsOver) {
    BlueOnSiteAndInstalled();
    Put(FenlowExeName, SkinFenlowStandIn(true), 0755);
    // Fenlow finds what it needs when it starts.
    std::string handOver;
    WhenFenlowStarts([&] {
        handOver = Ini("skins.dat", "FENLOW_File", "Path") + " " + Ini("skins.dat", "FENLOW_File", "Skin") + " " +
                   ReadTestFile(P("temp/Blue.zip"));
    });
    Answer();
    EXPECT_TRUE(Form->CheckForSkinUpdate("Blue", false));
    EXPECT_EQ(handOver, P("temp/Blue.zip") + " Blue PK-skin");
    EXPECT_EQ(Log.Events(), "84 black, 83 blue");
    ASSERT_EQ(Windows.size(), 1u);
    EXPECT_EQ(Windows[0], "\"Blue\"  #82 1 #74\r\n#71 2 #72\r\n\r\n#70\r\n");
    EXPECT_TRUE(CyclingDuring);
    EXPECT_EQ(ReadTestFile(P("fenlow.txt")), "-skn\n");
    EXPECT_EQ(Ini("skins/Blue/Blue.skn", "About", "Version"), "2");
    EXPECT_FALSE(DirectoryExists(SkinBackupFolder(Dir.Path(), "Blue")));
    EXPECT_FALSE(Exists("skins.dat"));
    EXPECT_TRUE(Messages.empty());
}

// "Skin updated" is said once Fenlow has put the new skin in place, not when
// it starts; a Fenlow that gives the old skin back (a bad archive), or none
// at all, leaves the old skin in its place and the user told so.
TEST_F(UpdateChecksTest, ASkinIsUpdatedOnlyWhenFenlowPutItInPlace) {
    struct Case {
        std::string what;
        int fenlow;  // 1 installs, 0 fails, -1 missing
    };
    for (const Case &c : {Case{"Fenlow installs it", 1}, Case{"Fenlow fails", 0}, Case{"no Fenlow", -1}}) {
        SCOPED_TRACE(c.what);
        Log.Lines.clear();
        Messages.clear();
        DeleteFile(P("fenlow.txt"));
        RunTool("rm -rf " + ShellQuote(P("skins")) + " " + ShellQuote(P("temp")));
        BlueOnSiteAndInstalled();
        DeleteFile(P(FenlowExeName));
        if (c.fenlow >= 0) Put(FenlowExeName, SkinFenlowStandIn(c.fenlow == 1), 0755);
        TWhileFenlowWorks during;
        WatchFenlow(during);
        Answer();
        const bool updated = Form->CheckForSkinUpdate("Blue", true);
        if (c.fenlow >= 0) {
            // The window went on while Fenlow worked, and nothing was said yet.
            EXPECT_TRUE(during.Seen);
            EXPECT_EQ(during.Events, "84 black");
            EXPECT_TRUE(during.Messages.empty());
            EXPECT_TRUE(during.SkinParked);
        }
        EXPECT_FALSE(Exists("skins.dat"));
        EXPECT_FALSE(Exists("temp/Blue.zip"));
        EXPECT_FALSE(DirectoryExists(SkinBackupFolder(Dir.Path(), "Blue")));
        if (c.fenlow == 1) {
            EXPECT_TRUE(updated);
            EXPECT_EQ(Log.Events(), "84 black, 83 blue");
            EXPECT_EQ(Messages, std::vector<std::string>{"Info: #83"});
            EXPECT_EQ(Ini("skins/Blue/Blue.skn", "About", "Version"), "2");
            continue;
        }
        EXPECT_FALSE(updated);
        EXPECT_EQ(Log.Events(), "84 black, 78 red");
        EXPECT_TRUE(EndsText(": #99", LogLine(78))) << LogLine(78);
        EXPECT_EQ(Messages, std::vector<std::string>{"Warning: #78:\r\n#99"});
        EXPECT_EQ(Ini("skins/Blue/Blue.skn", "About", "Version"), "1");
        EXPECT_EQ(ReadTestFile(P("skins/Blue/back.bmp")), "old");
    }
}

// While Fenlow installs a skin, neither a program update (the user's "Check
// for updates...", the start-up's own) nor a second skin update starts
// beside it: each says that an update is running, and no second Fenlow runs.
TEST_F(UpdateChecksTest, NothingElseStartsWhileASkinJobRuns) {
    SiteZip();
    SiteInfo("0.9.0.0", "0.1.2.5", "tarnwick.zip", FileSha256(Site("zip/tarnwick.zip")));
    BlueOnSiteAndInstalled();
    Put(FenlowExeName, SkinFenlowStandIn(true, true) + "TW-FILEVERSION:0.1.2.5" + std::string(1, '\0'), 0755);
    bool running = false, programUpdated = true, skinUpdated = true;
    std::string events;
    std::vector<std::string> said;
    size_t windows = 0;
    WhenFenlowStarts([&] {
        running = Form->FenlowJobRunning();
        Log.Lines.clear();
        Messages.clear();
        windows = Windows.size();
        programUpdated = Form->CheckProgramUpdate();
        skinUpdated = Form->CheckForSkinUpdate("Blue", true);
        events = Log.Events();
        said = Messages;
        windows = Windows.size() - windows;
        Put("go", "");
    });
    Answer();
    EXPECT_TRUE(Form->CheckForSkinUpdate("Blue", true));
    EXPECT_TRUE(running);
    EXPECT_FALSE(programUpdated);
    EXPECT_FALSE(skinUpdated);
    EXPECT_EQ(events, "86 black, 86 black");
    EXPECT_EQ(said, std::vector<std::string>{"Warning: #86"});
    EXPECT_EQ(windows, 0u);
    // The first job ends as it would have alone.
    EXPECT_EQ(Messages, (std::vector<std::string>{"Warning: #86", "Info: #83"}));
    EXPECT_EQ(Ini("skins/Blue/Blue.skn", "About", "Version"), "2");
    EXPECT_FALSE(Form->FenlowJobRunning());
    EXPECT_EQ(Form->Exit1->Tag, 0);
    EXPECT_TRUE(Form->State.CleanupAllowed);
    EXPECT_FALSE(Exists("temp/tarnwick.zip"));
    EXPECT_EQ(FenlowAfterAWhile(), "-skn\n");
}

// The start-up's skin check waits for Fenlow a while, not for good: the
// steps after it go on, the job counts as running until Fenlow ends, and
// what it came to is logged then, the old skin given back when it failed.
TEST_F(UpdateChecksTest, TheStartUpGoesOnWhileFenlowIsStillAtWork) {
    SiteInfo(TarnwickVersion);
    Form->FenlowWaitLimitMs = 200;
    for (bool installs : {true, false}) {
        SCOPED_TRACE(installs ? "Fenlow installs it" : "Fenlow fails");
        RunTool("rm -rf " + ShellQuote(P("skins")) + " " + ShellQuote(P("temp")));
        DeleteFile(P("fenlow.txt"));
        DeleteFile(P("go"));
        Put("skins/blue/blue.skn", "[About]\r\nVersion=1\r\n");
        Put("skins/blue/back.bmp", "old");
        WriteTestFile(Site("zip/skins/blue.zip"), "PK-skin");
        WriteTestFile(Site("zip/skins/skins.dat"), "[blue]\r\nVersion=2\r\nFile=blue.zip\r\nSHA256=" +
                                                       FileSha256(Site("zip/skins/blue.zip")) + "\r\n");
        Put(FenlowExeName, SkinFenlowStandIn(installs, true) + "TW-FILEVERSION:0.1.2.5" + std::string(1, '\0'),
            0755);
        Put("Tarnwick.ini",
            "[Options]\r\nLanguage=numbers.lng\r\nCheckUpdates=True\r\nCheckSkinFenlow=True\r\nFenlowSkin=blue\r\n",
            0600);
        IniFileCacheClear();
        Log.Lines.clear();
        Windows.clear();
        Messages.clear();
        Answer();
        Form->Timer5Timer();
        // The usage counter came after the skin check, while Fenlow works on.
        EXPECT_TRUE(Form->FenlowJobRunning());
        EXPECT_EQ(Ini("Tarnwick.ini", "Options", "Calculated"), "True");
        EXPECT_EQ(Log.Events(), "75 black, 76 black, 84 black");
        EXPECT_TRUE(Exists("skins.dat"));
        EXPECT_EQ(ReadTestFile(P("fenlow.txt")), "-skn\n");
        Put("go", "");
        EXPECT_TRUE(WaitUntil([this] { return !Form->FenlowJobRunning(); }, 30000));
        EXPECT_FALSE(Exists("skins.dat"));
        EXPECT_FALSE(Exists("temp/blue.zip"));
        EXPECT_FALSE(DirectoryExists(SkinBackupFolder(Dir.Path(), "blue")));
        EXPECT_EQ(Log.Events(), installs ? "75 black, 76 black, 84 black, 83 blue"
                                         : "75 black, 76 black, 84 black, 78 red");
        EXPECT_EQ(Ini("skins/blue/blue.skn", "About", "Version"), installs ? "2" : "1");
        EXPECT_EQ(ReadTestFile(P("skins/blue/back.bmp")), installs ? "new\n" : "old");
        EXPECT_EQ(Windows.size(), 1u);  // the skin's download, started at once
        EXPECT_TRUE(Messages.empty());
    }
}

TEST_F(UpdateChecksTest, ASkinCheckAskedForByTheUserTellsTheOutcome) {
    Put("skins/Blue/Blue.skn", "[About]\r\nVersion=2\r\n");
    WriteTestFile(Site("zip/skins/skins.dat"), "[Blue]\r\nVersion=2\r\n");
    Answer();
    EXPECT_FALSE(Form->CheckForSkinUpdate("Blue", true));
    EXPECT_EQ(Messages, std::vector<std::string>{"Info: #85"});
    EXPECT_FALSE(Exists("skins.dat"));
    EXPECT_TRUE(Exists("skins/Blue/Blue.skn"));

    // Information that names other skins only: nothing newer for this one.
    WriteTestFile(Site("zip/skins/skins.dat"), "[Red]\r\nVersion=7\r\n");
    Messages.clear();
    EXPECT_FALSE(Form->CheckForSkinUpdate("Blue", true));
    EXPECT_EQ(Messages, std::vector<std::string>{"Info: #85"});

    // A newer one the user fetches: asked first, then told.
    WriteTestFile(Site("zip/skins/skins.dat"), "[Blue]\r\nVersion=3\r\n");
    WriteTestFile(Site("zip/skins/Blue.zip"), "PK-skin");
    Put("skins/Blue/back.bmp", "old");
    Put(FenlowExeName, SkinFenlowStandIn(true), 0755);
    Messages.clear();
    EXPECT_TRUE(Form->CheckForSkinUpdate("Blue", true));
    EXPECT_EQ(Messages, std::vector<std::string>{"Info: #83"});
    EXPECT_EQ(Fenlow(), "-skn\n");
}

// A page served in place of the skin information (a captive portal, a
// "moved" page) has not said that no skin is newer.
TEST_F(UpdateChecksTest, SkinInformationThatIsNoneCouldNotBeFetched) {
    Put("skins/Blue/Blue.skn", "[About]\r\nVersion=1\r\n");
    Answer();
    for (const char *page : {"<html><body>Sign in to the hotel network</body></html>\n",
                             "<html>\n[Moved]\n<a href=\"/elsewhere\">here</a>\n</html>\n", ""}) {
        SCOPED_TRACE(page);
        Log.Lines.clear();
        Messages.clear();
        WriteTestFile(Site("zip/skins/skins.dat"), page);
        EXPECT_FALSE(Form->CheckForSkinUpdate("Blue", true));
        const std::string why = Server->Url("/tarnwick/zip/skins/skins.dat") + ": no skin information in it";
        EXPECT_EQ(Log.Events(), "77 red");
        EXPECT_TRUE(EndsText("#77 " + why, LogLine(77))) << LogLine(77);
        EXPECT_EQ(Messages, std::vector<std::string>{"Warning: #77\r\n" + why});
        EXPECT_FALSE(Exists("skins.dat"));
        EXPECT_TRUE(Windows.empty());
    }
}

TEST_F(UpdateChecksTest, AFailedSkinDownloadKeepsTheInstalledSkin) {
    Put("skins/Blue/Blue.skn", "[About]\r\nVersion=1\r\n");
    WriteTestFile(Site("zip/skins/skins.dat"), "[Blue]\r\nVersion=2\r\nFile=../Blue.zip\r\n");
    Answer();
    EXPECT_FALSE(Form->CheckForSkinUpdate("Blue", false));
    EXPECT_EQ(Log.Events(), "84 black, 78 red");
    EXPECT_TRUE(Windows.empty());
    EXPECT_TRUE(Exists("skins/Blue/Blue.skn"));
    EXPECT_FALSE(Exists("skins.dat"));
    EXPECT_EQ(FenlowAfterAWhile(), "");
}

TEST_F(UpdateChecksTest, TheUsageCounterIsMarkedBeforeItIsAsked) {
    Put("Tarnwick.ini", "[Options]\r\nCheckUpdates=True\r\n", 0600);
    Form->CountUse();
    EXPECT_EQ(Ini("Tarnwick.ini", "Options", "Calculated"), "True");
    EXPECT_EQ(Ini("Tarnwick.ini", "Options", "CheckUpdates"), "True");
}

TEST_F(UpdateChecksTest, InformationThatArrivesTooSlowlyIsGivenUp) {
    SiteZip();
    SiteInfo("0.9.0.0");
    Put("skins/Blue/Blue.skn", "[About]\r\nVersion=1\r\n");
    WriteTestFile(Site("zip/skins/Blue.zip"), "PK-skin");
    WriteTestFile(Site("zip/skins/skins.dat"), "[Blue]\r\nVersion=2\r\n");
    // Every few bytes in time for the stall limit, the whole far too slow.
    TrickleProxy slow(Server->Port(), 4, 40);
    ::setenv(UpdateUrlVariable, ("https://127.0.0.1:" + std::to_string(slow.Port()) + "/tarnwick/").c_str(), 1);
    Form->InfoDownloadLimitMs = 300;
    Answer();
    EXPECT_FALSE(Form->CheckProgramUpdate());
    EXPECT_EQ(Log.Events(), "75 black, 77 red");
    EXPECT_FALSE(Exists("fenlow.dat"));
    EXPECT_FALSE(Form->CheckForSkinUpdate("Blue", false));
    EXPECT_TRUE(Exists("skins/Blue/Blue.skn"));
    EXPECT_FALSE(Exists("skins.dat"));
    EXPECT_TRUE(Windows.empty());
    EXPECT_EQ(FenlowAfterAWhile(), "");
}

// Whatever ends the program ends the wait for Fenlow, which then finishes
// its job by itself; and the user is not kept waiting for a Fenlow that runs
// far past its time (one sitting on its archive's question): told that it
// has not finished, and the log says what it came to when it ends.
TEST_F(UpdateChecksTest, TheWaitForFenlowEndsWithTheProgramAndInTime) {
    auto fresh = [this] {
        RunTool("rm -rf " + ShellQuote(P("skins")) + " " + ShellQuote(P("temp")));
        DeleteFile(P("fenlow.txt"));
        DeleteFile(P("go"));
        BlueOnSiteAndInstalled();
        Put(FenlowExeName, SkinFenlowStandIn(true, true), 0755);
        Log.Lines.clear();
        Messages.clear();
        Form->Exit1->Tag = 0;
        Answer();
    };
    auto fenlowEnds = [this] {
        Put("go", "");
        EXPECT_TRUE(WaitUntil([this] { return !Form->FenlowJobRunning(); }, 30000));
    };
    struct Case {
        const char *what;
        std::function<void()> end;
    };
    const Case ends[] = {
        // As the desktop's session manager ends the program.
        {"the session ends", [] {
             QEvent quit(QEvent::Quit);
             QCoreApplication::sendEvent(qApp, &quit);
         }},
        {"the application quits", [] { QCoreApplication::quit(); }},
    };
    for (const Case &c : ends) {
        SCOPED_TRACE(c.what);
        fresh();
        WhenFenlowStarts(c.end);
        bool updated = true;
        QElapsedTimer took;
        // Asked for from inside the program's own event loop, as a button is.
        QTimer::singleShot(0, Form.get(), [&] {
            took.start();
            updated = Form->CheckForSkinUpdate("Blue", true);
            QCoreApplication::quit();
        });
        QApplication::exec();
        EXPECT_LT(took.elapsed(), 10000);
        EXPECT_FALSE(updated);
        EXPECT_TRUE(Form->ExitRequested());
        EXPECT_EQ(Log.Events(), "84 black");
        EXPECT_TRUE(Messages.empty());
        fenlowEnds();
        EXPECT_EQ(Ini("skins/Blue/Blue.skn", "About", "Version"), "2");
    }

    SCOPED_TRACE("Fenlow does not end in time");
    fresh();
    Form->FenlowJobLimitMs = 300;
    EXPECT_FALSE(Form->CheckForSkinUpdate("Blue", true));
    EXPECT_TRUE(Form->FenlowJobRunning());
    EXPECT_EQ(Log.Events(), "84 black, 110 black");
    EXPECT_EQ(Messages, std::vector<std::string>{"Warning: #110"});
    fenlowEnds();
    EXPECT_EQ(Log.Events(), "84 black, 110 black, 83 blue");
    EXPECT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Ini("skins/Blue/Blue.skn", "About", "Version"), "2");
    EXPECT_FALSE(Exists("skins.dat"));
    EXPECT_FALSE(Exists("temp/Blue.zip"));
}
