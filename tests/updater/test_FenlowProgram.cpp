// The real Fenlow program against what scripts/publish-update.sh makes of a
// build, served by a loopback https server signed by the test CA; at the
// end the whole update, from Tarnwick's check to the restarted Tarnwick.
#include "FenlowTestCommon.h"

#include <QDialog>
#include <QPushButton>

#include <algorithm>
#include <csignal>
#include <sstream>

#include "ChildProcess.h"
#include "dialogs/DialogSeam.h"
#include "mainwindow/FrmMain.h"
#include "HTTPGet.h"
#include "HttpTestServer.h"
#include "updates/Kel_Files.h"
#include "OpenSSLServer.h"
#include "settings/ProgramPaths.h"
#include "TrayBackend.h"
#include "dialogs/unitMessages.h"

namespace {

class FenlowProgramTest : public FenlowTest {
protected:
    void SetUp() override {
        // A build whose Tarnwick is a newer stand-in; its Fenlow is the real one.
        WriteTestFile(Build.File("monitor/tarnwick"), TarnwickStandIn("published", "0.9.0.0"));
        ::chmod(Build.File("monitor/tarnwick").c_str(), 0755);
        WriteTestFile(Build.File("monitor/tarnwick-webmail.so"), "web-mail module");
        WriteTestFile(Build.File("monitor/Lang/english.lng"), "[About]\r\nVersion=published\r\n");
        ForceDirectories(Build.File("updater"));
        ASSERT_EQ(RunTool("cp " + ShellQuote(FenlowBinary()) + " " + ShellQuote(Build.File("updater/fenlow"))), 0);
        WriteTestFile(Skins.File("Blue/Blue.skn"), "[About]\r\nVersion=4\r\n");
        WriteTestFile(Skins.File("Blue/main.bmp"), "blue");
    }
    static std::string FenlowBinary() { return std::string(TW_BINARY_DIR) + "/updater/fenlow"; }
    int Publish() {
        return RunProgram({"bash", std::string(TW_SOURCE_DIR) + "/scripts/publish-update.sh", Build.Path(),
                           Www.File("tarnwick"), Skins.Path()});
    }
    // A program folder as a release leaves it: the old Tarnwick and Fenlow.
    void InstallProgram() {
        InstallOldTarnwick();
        ASSERT_EQ(RunTool("cp " + ShellQuote(FenlowBinary()) + " " + ShellQuote(P(FenlowExeName))), 0);
    }
    int RunFenlow(const std::string &arg, const HttpTestServer &server) {
        std::string out;
        int rc = RunProgram({P(FenlowExeName), arg}, &out, nullptr,
                            {"QT_QPA_PLATFORM=offscreen", std::string(UpdateUrlVariable) + "=" + server.Url("/tarnwick/"),
                             std::string(UpdateCAVariable) + "=" + TestPKI::Get().CAFile},
                            "", 60);
        return rc;
    }
    // The real Fenlow in the middle of a program update, holding the folder
    // alone: an entry that fails its check stands before the executable,
    // and Fenlow's question about it stays open (nobody answers it here).
    pid_t StartFenlowInAQuestion() {
        WriteTestFile(Src.File("a/readme.txt"), "mail " + std::string(4000, 'x'));
        WriteTestFile(Src.File("a/" + std::string(TarnwickExeName)), TarnwickStandIn("new", "0.9.0.0"));
        ::chmod(Src.File("a/" + std::string(TarnwickExeName)).c_str(), 0755);
        ForceDirectories(P("temp"));
        EXPECT_EQ(RunTool("cd " + ShellQuote(Src.File("a")) + " && zip -q -X -0 " +
                          ShellQuote(P("temp/tarnwick.zip")) + " readme.txt " + TarnwickExeName),
                  0);
        std::string bytes = ReadFileToString(P("temp/tarnwick.zip"));
        size_t at = bytes.find("mail ");
        EXPECT_NE(at, std::string::npos);
        if (at != std::string::npos) bytes.replace(at, 4, "MAIL");
        WriteTestFile(P("temp/tarnwick.zip"), bytes);
        WriteFenlowDat(P("temp/tarnwick.zip"));
        int ignored = 0;
        pid_t fenlow = StartPeerProcess({"/bin/sh", "-c",
                                         "echo 'STARTED 1'; QT_QPA_PLATFORM=offscreen exec " +
                                             ShellQuote(P(FenlowExeName)) + " -fenlow >/dev/null 2>&1"},
                                        "STARTED ", ignored);
        // The backups and their list are made before the first entry is written.
        EXPECT_TRUE(WaitUntil([this] { return Exists("temp/oldprogram/restore.lst"); }, 20000));
        return fenlow;
    }
    TempDir Build, Www, Skins;
};

}  // namespace

TEST_F(FenlowProgramTest, ThePublishedSiteDescribesItsArchives) {
    ASSERT_EQ(Publish(), 0);
    std::string site = Www.File("tarnwick/");
    EXPECT_EQ(IniReadString(site + "fenlow.dat", "File", "Version", ""), "0.9.0.0");
    EXPECT_EQ(IniReadString(site + "fenlow.dat", "File", "Name", ""), "tarnwick.zip");
    EXPECT_EQ(IniReadString(site + "fenlow.dat", "File", "SHA256", ""), FileSha256(site + "zip/tarnwick.zip"));
    EXPECT_EQ(IniReadString(site + "fenlow.dat", "FENLOW", "Version", ""), FenlowVersion);
    EXPECT_EQ(GetFileVersionText(site + "zip/fenlow"), FenlowVersion);
    EXPECT_EQ(FileMode(site + "zip/fenlow"), 0755u);
    EXPECT_EQ(IniReadString(site + "zip/skins/skins.dat", "Blue", "Version", ""), "4");
    EXPECT_EQ(IniReadString(site + "zip/skins/skins.dat", "Blue", "File", ""), "Blue.zip");
    EXPECT_EQ(IniReadString(site + "zip/skins/skins.dat", "Blue", "SHA256", ""), FileSha256(site + "zip/skins/Blue.zip"));
    // What Info-ZIP's own reader finds in the program archive.
    std::string listing;
    ASSERT_EQ(RunProgram({"unzip", "-Z1", site + "zip/tarnwick.zip"}, &listing), 0);
    std::vector<std::string> entries;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) entries.push_back(line);
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"Lang/", "Lang/english.lng", "tarnwick", "tarnwick-webmail.so"}))
        << listing;
    ASSERT_EQ(RunProgram({"unzip", "-Z1", site + "zip/skins/Blue.zip"}, &listing), 0);
    EXPECT_EQ(listing, "Blue/\nBlue/Blue.skn\nBlue/main.bmp\n");
    // A build without its executables publishes nothing.
    DeleteFile(Build.File("updater/fenlow"));
    EXPECT_NE(Publish(), 0);
}

TEST_F(FenlowProgramTest, FenlowFetchesReplacesAndRestartsTarnwick) {
    ASSERT_EQ(Publish(), 0);
    HttpTestServer server(Www.Path(), TestPKI::Get().ServerCert, TestPKI::Get().Key);
    InstallProgram();
    // What Tarnwick leaves: the site's information with the archive's place
    // in "temp/", where nothing is yet.
    std::string dat = ReadFileToString(Www.File("tarnwick/fenlow.dat"));
    Put("fenlow.dat", dat + "[File]\r\n");
    IniWriteString(P("fenlow.dat"), "File", "Path", P("temp/tarnwick.zip"));
    ASSERT_EQ(RunFenlow("-fenlow", server), 0);
    EXPECT_EQ(WaitStarted(), "published Version=0.1.2.5\n");
    EXPECT_EQ(GetFileVersionText(P(TarnwickExeName)), "0.9.0.0");
    EXPECT_EQ(Read("Lang/english.lng"), "[About]\r\nVersion=published\r\n");
    EXPECT_FALSE(Exists("fenlow.dat"));
    EXPECT_FALSE(Exists("temp/tarnwick.zip"));
    EXPECT_FALSE(Exists("temp/oldprogram"));
}

TEST_F(FenlowProgramTest, FenlowWaitsForTarnwickToLetGoOfTheFolder) {
    ASSERT_EQ(Publish(), 0);
    HttpTestServer server(Www.Path(), TestPKI::Get().ServerCert, TestPKI::Get().Key);
    InstallProgram();
    ASSERT_EQ(RunTool("mkdir -p " + ShellQuote(P("temp")) + " && cp " + ShellQuote(Www.File("tarnwick/zip/tarnwick.zip")) +
                      " " + ShellQuote(P("temp/tarnwick.zip"))),
              0);
    WriteFenlowDat(P("temp/tarnwick.zip"));
    // A Tarnwick on its way out: it holds the folder for two more seconds.
    int ignored = 0;
    pid_t tarnwick = StartPeerProcess({PythonProgram(), "-c",
                                       "import fcntl, os, sys, time\n"
                                       "fd = os.open(sys.argv[1], os.O_RDWR | os.O_CREAT)\n"
                                       "fcntl.flock(fd, fcntl.LOCK_EX)\n"
                                       "print('HELD 1', flush=True)\n"
                                       "time.sleep(2)\n",
                                       ProgramLockFile(Dir.Path())},
                                      "HELD ", ignored);
    ASSERT_EQ(RunFenlow("-fenlow", server), 0);
    StopPeerProcess(tarnwick);
    EXPECT_EQ(WaitStarted(), "published Version=0.1.2.5\n");
    EXPECT_EQ(GetFileVersionText(P(TarnwickExeName)), "0.9.0.0");
}

TEST_F(FenlowProgramTest, ASkinFromThePublishedSiteInstalls) {
    ASSERT_EQ(Publish(), 0);
    HttpTestServer server(Www.Path(), TestPKI::Get().ServerCert, TestPKI::Get().Key);
    InstallProgram();
    Put("skins/Blue/Blue.skn", "[About]\r\nVersion=1\r\n");
    ASSERT_TRUE(MoveSkinAside(Dir.Path(), "Blue"));
    ASSERT_EQ(RunTool("mkdir -p " + ShellQuote(P("temp")) + " && cp " +
                      ShellQuote(Www.File("tarnwick/zip/skins/Blue.zip")) + " " + ShellQuote(P("temp/Blue.zip"))),
              0);
    Put("skins.dat", ReadFileToString(Www.File("tarnwick/zip/skins/skins.dat")));
    IniWriteString(P("skins.dat"), "FENLOW_File", "Path", P("temp/Blue.zip"));
    IniWriteString(P("skins.dat"), "FENLOW_File", "Skin", "Blue");
    ASSERT_EQ(RunFenlow("-skn", server), 0);
    EXPECT_EQ(Read("skins/Blue/Blue.skn"), "[About]\r\nVersion=4\r\n");
    EXPECT_FALSE(Exists("skins.dat"));
    EXPECT_FALSE(DirectoryExists(SkinBackupFolder(Dir.Path(), "Blue")));
}

// The Tarnwick that waits for a skin job learns from Fenlow's exit status
// whether the skin went in.
TEST_F(FenlowProgramTest, ASkinThatDoesNotInstallEndsFenlowWithFailure) {
    HttpTestServer server(Www.Path(), TestPKI::Get().ServerCert, TestPKI::Get().Key);
    InstallProgram();
    Put("skins/Blue/Blue.skn", "[About]\r\nVersion=1\r\n");
    ASSERT_TRUE(MoveSkinAside(Dir.Path(), "Blue"));
    Put("temp/Blue.zip", "<html><body>Service Unavailable</body></html>\n");
    Put("skins.dat", "[Blue]\r\nVersion=4\r\n[FENLOW_File]\r\nPath=" + P("temp/Blue.zip") + "\r\nSkin=Blue\r\n");
    EXPECT_EQ(RunFenlow("-skn", server), 1);
    EXPECT_EQ(Read("skins/Blue/Blue.skn"), "[About]\r\nVersion=1\r\n");
    EXPECT_FALSE(Exists("skins.dat"));
    // All skins from an archive that is none.
    Put("temp/allskins.zip", "<html><body>Service Unavailable</body></html>\n");
    Put("skins.dat", "[FENLOW_File]\r\nPath=" + P("temp/allskins.zip") + "\r\n");
    EXPECT_EQ(RunFenlow("-all", server), 1);
    // Jobs that are not skin jobs answer as before.
    EXPECT_EQ(RunFenlow("-none", server), 0);
}

TEST_F(FenlowProgramTest, AFenlowKilledInTheMiddleLeavesARunnableTarnwick) {
    InstallProgram();
    pid_t fenlow = StartFenlowInAQuestion();
    StopPeerProcess(fenlow, SIGKILL);
    // Whatever the moment, the folder still holds a Tarnwick that runs.
    ASSERT_TRUE(Exists(TarnwickExeName));
    EXPECT_EQ(RunProgram({P(TarnwickExeName)}), 0);
    EXPECT_EQ(Read("started.txt"), "old \n");
}

TEST_F(FenlowProgramTest, ATarnwickStartedWhileFenlowInstallsLeavesTheStartToFenlow) {
    InstallProgram();
    // The program folder's executable is the real Tarnwick here.
    ASSERT_EQ(RunTool("cp " + ShellQuote(std::string(TW_BINARY_DIR) + "/monitor/tarnwick") + " " +
                      ShellQuote(P(TarnwickExeName))),
              0);
    pid_t fenlow = StartFenlowInAQuestion();
    // Started by the user meanwhile: it must neither run beside Fenlow's
    // work nor beside the Tarnwick Fenlow starts once it is done.
    std::string out;
    int rc = RunProgram({P(TarnwickExeName)}, &out, nullptr, {"QT_QPA_PLATFORM=offscreen"}, "", 60);
    StopPeerProcess(fenlow, SIGKILL);
    EXPECT_EQ(rc, 0) << out;
}

namespace {

// Tarnwick's half in this process (its main window, holding the folder lock
// as the program does for its life), Fenlow's half the real program it
// starts.
class UpdateEndToEndTest : public FenlowProgramTest {
protected:
    void SetUp() override {
        FenlowProgramTest::SetUp();
        PreviousTray = SetTrayBackend(&Tray);
        SetProgramFolder(Dir.Path());
        SetHTTPGetCAFile(TestPKI::Get().CAFile);
        ::setenv(UpdateCAVariable, TestPKI::Get().CAFile.c_str(), 1);
    }
    void TearDown() override {
        Tarnwick.reset();
        Lock.Release();
        SetSettingsFileName("");
        ::unsetenv(UpdateUrlVariable);
        ::unsetenv(UpdateCAVariable);
        SetHTTPGetCAFile("");
        SetProgramFolder("");
        SetTrayBackend(PreviousTray);
        FenlowTest::TearDown();
    }
    // args: Tarnwick's command line; a profile's settings are the same.
    void StartTarnwick(const HttpTestServer &server, const std::vector<std::string> &args = {}) {
        ::setenv(UpdateUrlVariable, server.Url("/tarnwick/").c_str(), 1);
        Put("Tarnwick.ini", "[Options]\r\nCheckUpdates=True\r\nAutoUpdate=True\r\n", 0600);
        Put(SettingsFileNameOfArgs(args), Read("Tarnwick.ini"), 0600);
        Lock = AcquireProgramLock(Dir.Path(), 0, true);
        ASSERT_TRUE(Lock.Held());
        Tarnwick = std::make_unique<TFrmMain>(args);
        Tarnwick->UpdatePauseMs = 0;
        // The test asks for the update itself: the delayed start-up (which
        // checks for updates too) and the other timers stay out of it.
        for (TTimer *t : {Tarnwick->Timer5, Tarnwick->Timer6, Tarnwick->Timer8}) t->SetEnabled(false);
    }
    // Tarnwick's process ends: its window goes and the kernel drops its lock.
    void TarnwickExits() {
        Tarnwick.reset();
        Lock.Release();
    }
    // Fenlow writes its version on the way out.
    bool WaitForFenlowToEnd() {
        return WaitUntil([this] { return FenlowVersionInSettings() == FenlowVersion; }, 30000);
    }
    TRecordingTrayBackend Tray;
    TTrayBackend *PreviousTray = nullptr;
    TProgramLock Lock;
    std::unique_ptr<TFrmMain> Tarnwick;
};

}  // namespace

// On the profile it ran on.
TEST_F(UpdateEndToEndTest, TarnwickHandsOverAndFenlowRestartsTheNewTarnwick) {
    ASSERT_EQ(Publish(), 0);
    HttpTestServer server(Www.Path(), TestPKI::Get().ServerCert, TestPKI::Get().Key);
    InstallProgram();
    StartTarnwick(server, {"-user", "_work"});
    SetModalHook([](QDialog &d) { ProcessEventsUntil([&d] { return !d.isVisible(); }, 20000); });
    EXPECT_TRUE(Tarnwick->CheckProgramUpdate());
    SetModalHook({});
    EXPECT_TRUE(Exists("temp/tarnwick.zip"));
    // Fenlow runs, but must not touch the running Tarnwick.
    ProcessEventsFor(1500);
    EXPECT_EQ(GetFileVersionText(P(TarnwickExeName)), TarnwickVersion);
    EXPECT_EQ(Read("started.txt"), "");
    TarnwickExits();
    EXPECT_EQ(WaitStarted(), "published Version=0.1.2.5 -user _work\n");
    EXPECT_EQ(GetFileVersionText(P(TarnwickExeName)), "0.9.0.0");
    EXPECT_TRUE(WaitForFenlowToEnd());
    EXPECT_FALSE(Exists("fenlow.dat"));
    EXPECT_FALSE(Exists("temp/tarnwick.zip"));
    IniFileCacheClear();
    EXPECT_EQ(IniReadString(P("Tarnwick.ini"), "Options", "AutoUpdate", ""), "True");
}

TEST_F(UpdateEndToEndTest, AnErrorPageServedAsTheArchiveRestoresTheOldTarnwick) {
    ASSERT_EQ(Publish(), 0);
    // An old site without digests whose archive is a page of the server's.
    WriteTestFile(Www.File("tarnwick/zip/tarnwick.zip"), "<html><body>Maintenance</body></html>\n");
    IniDeleteKey(Www.File("tarnwick/fenlow.dat"), "File", "SHA256");
    HttpTestServer server(Www.Path(), TestPKI::Get().ServerCert, TestPKI::Get().Key);
    InstallProgram();
    StartTarnwick(server);
    SetModalHook([](QDialog &d) { ProcessEventsUntil([&d] { return !d.isVisible(); }, 20000); });
    EXPECT_TRUE(Tarnwick->CheckProgramUpdate());
    SetModalHook({});
    TarnwickExits();
    EXPECT_TRUE(WaitForFenlowToEnd());
    EXPECT_EQ(Read(TarnwickExeName), TarnwickStandIn("old"));
    EXPECT_TRUE(Exists("fenlow.dat"));
    EXPECT_TRUE(Exists("temp/tarnwick.zip"));
    EXPECT_EQ(StartedAfterAWhile(), "");
}

// The skin check as the Skins page runs it, with the real Fenlow: the skin is
// said to be updated only once Fenlow has put it in place; when Fenlow gives
// the old one back, the check says it failed.
TEST_F(UpdateEndToEndTest, ASkinUpdateCountsOnlyOnceFenlowInstalledIt) {
    WriteTestFile(Skins.File("Blue/back.bmp"), "blue back");
    ASSERT_EQ(Publish(), 0);
    HttpTestServer server(Www.Path(), TestPKI::Get().ServerCert, TestPKI::Get().Key);
    InstallProgram();
    StartTarnwick(server);
    std::vector<std::string> told;
    SetModalHook([&told](QDialog &d) {
        if (auto *m = dynamic_cast<TForm1 *>(&d)) {
            told.push_back(m->Label1->text().toStdString());
            return;
        }
        d.findChild<QPushButton *>("BitBtn1")->click();
        ProcessEventsUntil([&d] { return !d.isVisible(); }, 20000);
    });
    auto installOld = [this] {
        RunTool("rm -rf " + ShellQuote(P("skins")));
        Put("skins/Blue/Blue.skn", "[About]\r\nVersion=1\r\n");
        Put("skins/Blue/back.bmp", "old back");
    };
    // An old site without digests whose archive is a page of the server's.
    const std::string archive = ReadFileToString(Www.File("tarnwick/zip/skins/Blue.zip"));
    WriteTestFile(Www.File("tarnwick/zip/skins/Blue.zip"), "<html><body>Maintenance</body></html>\n");
    IniDeleteKey(Www.File("tarnwick/zip/skins/skins.dat"), "Blue", "SHA256");
    installOld();
    EXPECT_FALSE(Tarnwick->CheckForSkinUpdate("Blue", true));
    EXPECT_EQ(told, std::vector<std::string>{"Warning"});
    EXPECT_EQ(Read("skins/Blue/Blue.skn"), "[About]\r\nVersion=1\r\n");
    EXPECT_EQ(Read("skins/Blue/back.bmp"), "old back");
    EXPECT_FALSE(DirectoryExists(SkinBackupFolder(Dir.Path(), "Blue")));
    EXPECT_FALSE(Exists("skins.dat"));
    EXPECT_FALSE(Exists("temp/Blue.zip"));

    // The archive itself.
    WriteTestFile(Www.File("tarnwick/zip/skins/Blue.zip"), archive);
    installOld();
    told.clear();
    EXPECT_TRUE(Tarnwick->CheckForSkinUpdate("Blue", true));
    EXPECT_EQ(told, std::vector<std::string>{"Info"});
    EXPECT_EQ(Read("skins/Blue/Blue.skn"), "[About]\r\nVersion=4\r\n");
    EXPECT_EQ(Read("skins/Blue/back.bmp"), "blue back");
    EXPECT_FALSE(DirectoryExists(SkinBackupFolder(Dir.Path(), "Blue")));
    SetModalHook({});
}
