// Fenlow's form and its program update: switches, ticks, the replacement of
// Tarnwick's executable under the program lock, and every way it can fail.
#include "FenlowTestCommon.h"

#include <QProgressBar>
#include <QScreen>
#include <QTimer>

#include "updates/ProgramLock.h"
#include "ZipTestCommon.h"
#include "settings/unDecodes.h"
#include "settings/unRules.h"

namespace {

struct SwitchCase {
    std::vector<std::string> args;
    int timer;  // 1..6
};

QTimer *TimerOf(TfrmFenlow &f, int n) {
    QTimer *t[] = {f.Timer1, f.Timer2, f.Timer3, f.Timer4, f.Timer5, f.Timer6};
    return t[n - 1];
}

}  // namespace

TEST_F(FenlowTest, EachSwitchRunsItsOwnTimerAndAnythingElseCloses) {
    const SwitchCase cases[] = {{{"-fenlow"}, 1}, {{"-skn"}, 2},     {{"-all"}, 4},   {{"-ssl"}, 5},
                                {{"-ske"}, 6},    {{}, 3},           {{"-FENLOW"}, 3}, {{"fenlow"}, 3},
                                {{"-fenlow "}, 3}, {{"-x", "-fenlow"}, 3}, {{"-ske", "-fenlow"}, 6}};
    for (const auto &c : cases) {
        TfrmFenlow form(c.args, Dir.Path(), 60000);
        for (int n = 1; n <= 6; ++n)
            EXPECT_EQ(TimerOf(form, n)->isActive(), n == c.timer) << (c.args.empty() ? "(none)" : c.args[0]) << " Timer" << n;
        form.FormDestroy();
    }
}

TEST_F(FenlowTest, TheFormStandsAboveTheWorkAreaAndShowsExtractionProgress) {
    TfrmFenlow form({}, Dir.Path(), 60000);
    EXPECT_EQ(form.windowTitle().toStdString(), "Updating Tarnwick...");
    EXPECT_EQ(form.size(), QSize(346, 31));
    EXPECT_EQ(form.ProgressBar1->geometry(), QRect(8, 8, 329, 17));
    EXPECT_EQ(form.ProgressBar1->maximum(), 100);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    QScreen *screen = QGuiApplication::primaryScreen();
    QRect area = screen->availableGeometry();
    EXPECT_EQ(form.WorkAreaBottom, area.y() + area.height());
    EXPECT_EQ(form.pos(), QPoint(screen->geometry().width() - 346 - 3, form.WorkAreaBottom - 31 - 3));
    bool cancel = false;
    form.ZipArchiver1FileProgress(&form.ZipArchiver1, "x", 41.6, poExtract, ppProcess, cancel);
    EXPECT_EQ(form.ProgressBar1->value(), 42);
    form.ZipArchiver1FileProgress(&form.ZipArchiver1, "x", 250, poExtract, ppProcess, cancel);
    EXPECT_EQ(form.ProgressBar1->value(), 100);
    EXPECT_FALSE(cancel);
    form.FormDestroy();
}

TEST_F(FenlowTest, WithoutAJobOnlyTheVersionIsWritten) {
    InstallOldTarnwick();
    Run({"-FENLOW"});
    EXPECT_EQ(Form->TickCount, 0);  // the close job counts no ticks
    EXPECT_EQ(FenlowVersionInSettings(), "");
    Finish();
    EXPECT_EQ(FenlowVersionInSettings(), "0.1.2.5");
    EXPECT_EQ(FileMode(P("Tarnwick.ini")), 0600u);
    EXPECT_EQ(StartedAfterAWhile(), "");
}

TEST_F(FenlowTest, ProgramUpdateWithoutInformationClosesAtTheTenthTick) {
    InstallOldTarnwick();
    Run({"-fenlow"});
    EXPECT_EQ(Form->TickCount, 10);
    Finish();
    EXPECT_EQ(Read(TarnwickExeName), TarnwickStandIn("old"));
    EXPECT_FALSE(Exists("temp"));
    EXPECT_EQ(FenlowVersionInSettings(), "0.1.2.5");
    EXPECT_EQ(StartedAfterAWhile(), "");
}

TEST_F(FenlowTest, ProgramUpdateReplacesTarnwickAndStartsTheNewOne) {
    InstallOldTarnwick();
    Put("Tarnwick.ini", "[Options]\r\nCheckUpdates=True\r\n[FENLOW]\r\nVersion=0.0.0.1\r\n", 0600);
    MakeProgramZip(P("temp/tarnwick.zip"));
    WriteFenlowDat(P("temp/tarnwick.zip"), FileSha256(P("temp/tarnwick.zip")));
    Run({"-fenlow"});
    EXPECT_LE(Form->TickCount, 2);
    // Fenlow's version was in the settings file before Tarnwick started.
    EXPECT_EQ(WaitStarted(), "new Version=0.1.2.5\n");
    EXPECT_EQ(Read(TarnwickExeName), TarnwickStandIn("new", "0.9.0.0"));
    EXPECT_EQ(FileMode(P(TarnwickExeName)), 0755u);
    EXPECT_EQ(Read("Lang/english.lng"), "[About]\r\nVersion=new\r\n");
    EXPECT_FALSE(Exists("fenlow.dat"));
    // Nothing of the update stays behind, no spare executable either.
    EXPECT_EQ(ListDirectory(P("temp")), std::vector<std::string>{});
    IniFileCacheClear();
    EXPECT_EQ(IniReadString(P("Tarnwick.ini"), "Options", "CheckUpdates", ""), "True");
    Finish();
    EXPECT_EQ(FenlowVersionInSettings(), "0.1.2.5");
    EXPECT_EQ(Read("started.txt"), "new Version=0.1.2.5\n");  // started once
}

// The Tarnwick that handed the update over comes back on its profile; what
// comes as one is passed on only when it is a plain name.
TEST_F(FenlowTest, TarnwickComesBackOnItsProfile) {
    struct Case {
        std::string Profile, Started;
    };
    for (const Case &c : {Case{"_work", " -user _work"}, Case{"-work", " -user _work"}, Case{"_", ""},
                          Case{"_../work", ""}, Case{"_/etc/work", ""}, Case{"_work\n-user", ""},
                          Case{"_" + std::string(MaxProfileBytes + 1, 'w'), ""}}) {
        SCOPED_TRACE(c.Profile);
        RunTool("rm -rf " + ShellQuote(Dir.Path()) + "*");
        InstallOldTarnwick();
        MakeProgramZip(P("temp/tarnwick.zip"));
        WriteFenlowDat(P("temp/tarnwick.zip"));
        Run({"-fenlow", "-user", c.Profile});
        EXPECT_EQ(WaitStarted(), "new Version=0.1.2.5" + c.Started + "\n");
        Finish();
    }
}

TEST_F(FenlowTest, AnArchiveFromWindowsStillGivesARunnableTarnwick) {
    InstallOldTarnwick();
    // Made on the original platform: no Unix modes in the archive.
    WriteTestFile(Src.File("script"), TarnwickStandIn("windows"));
    ForceDirectories(P("temp"));
    ASSERT_EQ(RunPython("import zipfile\n"
                        "with zipfile.ZipFile('" + P("temp/tarnwick.zip") + "', 'w') as z:\n"
                        "    i = zipfile.ZipInfo('tarnwick')\n"
                        "    i.create_system = 0\n"
                        "    i.external_attr = 0x20\n"
                        "    z.writestr(i, open('" + Src.File("script") + "').read())\n"),
              0);
    WriteFenlowDat(P("temp/tarnwick.zip"));
    Run({"-fenlow"});
    EXPECT_EQ(WaitStarted(), "windows Version=0.1.2.5\n");
    EXPECT_EQ(FileMode(P(TarnwickExeName)), 0755u);
}

TEST_F(FenlowTest, ATempFolderOnAnotherFileSystemStillTakesTheBackup) {
    if (!TempOnAnotherFileSystem()) GTEST_SKIP() << "no second file system at /dev/shm";
    InstallOldTarnwick();
    MakeProgramZip(P("temp/tarnwick.zip"));
    WriteFenlowDat(P("temp/tarnwick.zip"));
    Run({"-fenlow"});
    EXPECT_EQ(Form->TickCount, 1);
    EXPECT_EQ(WaitStarted(), "new Version=0.1.2.5\n");
    EXPECT_EQ(Read(TarnwickExeName), TarnwickStandIn("new", "0.9.0.0"));
    EXPECT_EQ(ListDirectory(P("temp")), std::vector<std::string>{});
}

TEST_F(FenlowTest, ProgramUpdateWaitsWhileTarnwickHoldsTheFolder) {
    InstallOldTarnwick();
    MakeProgramZip(P("temp/tarnwick.zip"));
    WriteFenlowDat(P("temp/tarnwick.zip"));
    TProgramLock tarnwick = AcquireProgramLock(Dir.Path());
    ASSERT_TRUE(tarnwick.Held());
    Start({"-fenlow"});
    ASSERT_TRUE(WaitUntil([this] { return Form->TickCount >= 3; }, 10000));
    // Running: its executable stays and no backup is made.
    EXPECT_EQ(Read(TarnwickExeName), TarnwickStandIn("old"));
    EXPECT_FALSE(Exists("temp/oldprogram"));
    EXPECT_FALSE(Form->Finished());
    tarnwick.Release();  // Tarnwick has exited
    ASSERT_TRUE(WaitClosed());
    EXPECT_LT(Form->TickCount, 10);
    EXPECT_EQ(WaitStarted(), "new Version=0.1.2.5\n");
    EXPECT_EQ(Read(TarnwickExeName), TarnwickStandIn("new", "0.9.0.0"));
}

TEST_F(FenlowTest, ATarnwickThatOutlivesTenTicksLeavesEverythingAsItWas) {
    InstallOldTarnwick();
    std::string settings = "[Options]\r\nLanguage=english.lng\r\n";
    Put("Tarnwick.ini", settings, 0600);
    MakeProgramZip(P("temp/tarnwick.zip"));
    WriteFenlowDat(P("temp/tarnwick.zip"));
    std::string dat = Read("fenlow.dat"), zip = Read("temp/tarnwick.zip");
    Put("blacklist.dat", "[ann@example.com]\r\nHide=True\r\n");
    TProgramLock tarnwick = AcquireProgramLock(Dir.Path());
    Run({"-fenlow"});
    EXPECT_EQ(Form->TickCount, 10);
    Finish();
    EXPECT_EQ(Read(TarnwickExeName), TarnwickStandIn("old"));
    EXPECT_FALSE(Exists("temp/oldprogram"));
    EXPECT_EQ(Read("fenlow.dat"), dat);
    EXPECT_EQ(Read("temp/tarnwick.zip"), zip);
    EXPECT_FALSE(Exists("Lang"));
    // Tarnwick's files are Tarnwick's while it runs: no version, no rules.
    EXPECT_EQ(Read("Tarnwick.ini"), settings);
    EXPECT_TRUE(Exists("blacklist.dat"));
    EXPECT_FALSE(Exists("rules"));
    EXPECT_EQ(StartedAfterAWhile(), "");
}

TEST_F(FenlowTest, AnErrorPageAsTheArchiveRestoresTheOldTarnwick) {
    InstallOldTarnwick();
    Put("temp/tarnwick.zip", "<html><head><title>404 Not Found</title></head><body>Not Found</body></html>\n");
    WriteFenlowDat(P("temp/tarnwick.zip"));
    Run({"-fenlow"});
    EXPECT_EQ(Form->TickCount, 1);
    EXPECT_EQ(Read(TarnwickExeName), TarnwickStandIn("old"));
    EXPECT_EQ(FileMode(P(TarnwickExeName)), 0755u);
    EXPECT_FALSE(Exists("temp/oldprogram"));
    // Kept for the next attempt; nothing started.
    EXPECT_TRUE(Exists("fenlow.dat"));
    EXPECT_TRUE(Exists("temp/tarnwick.zip"));
    EXPECT_EQ(StartedAfterAWhile(), "");
}

TEST_F(FenlowTest, AnUpdateCountsOnlyWhenEveryEntryAndTheExecutableArrived) {
    struct Case {
        std::string what;
        std::function<void()> make;
        std::string sha;
    };
    std::vector<Case> cases = {
        {"no executable in the archive",
         [this] { MakeZip(P("temp/tarnwick.zip"), {{"Lang/english.lng", "x"}}); }, ""},
        {"the executable is a folder",
         [this] { MakeZip(P("temp/tarnwick.zip"), {{"tarnwick/inside", "x"}}); }, ""},
        {"a digest that does not match",
         [this] { MakeProgramZip(P("temp/tarnwick.zip")); }, std::string(64, 'a')},
        {"an entry that fails its check, ignored by the user",
         [this] {
             MakeZip(P("temp/tarnwick.zip"),
                       {{TarnwickExeName, TarnwickStandIn("new"), 0755}, {"readme.txt", TextBytes(4000)}}, "-q -X -r -0");
             std::string bytes = ReadFileToString(P("temp/tarnwick.zip"));
             size_t at = bytes.find("mail");
             ASSERT_NE(at, std::string::npos);
             PatchFile(P("temp/tarnwick.zip"), int64_t(at), "MAIL");
         },
         ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RunTool("rm -rf " + ShellQuote(Dir.Path()) + "* " + ShellQuote(Dir.Path()) + ".[!.]*");
        InstallOldTarnwick();
        c.make();
        WriteFenlowDat(P("temp/tarnwick.zip"), c.sha);
        ScriptedQuestions questions;
        questions.Failures = {fxaIgnore};
        // The question lets ticks through; none may start the job again.
        bool reentered = false;
        questions.DuringFailure = [&] {
            int before = Form->TickCount;
            ProcessEventsFor(100);
            reentered = reentered || Form->TickCount != before;
        };
        TZipQuestions *old = SetZipQuestions(&questions);
        Run({"-fenlow"});
        SetZipQuestions(old);
        EXPECT_FALSE(reentered);
        Finish();
        EXPECT_EQ(Read(TarnwickExeName), TarnwickStandIn("old"));
        EXPECT_TRUE(Exists("fenlow.dat"));
        EXPECT_TRUE(Exists("temp/tarnwick.zip"));
        EXPECT_EQ(StartedAfterAWhile(), "");
    }
}

TEST_F(FenlowTest, AnArchiveOutsideTheProgramFolderIsNeitherUsedNorDeleted) {
    InstallOldTarnwick();
    TempDir elsewhere;
    MakeProgramZip(elsewhere.File("tarnwick.zip"), "outsider");
    WriteFenlowDat(elsewhere.File("tarnwick.zip"));
    Run({"-fenlow"});
    EXPECT_EQ(WaitStarted(), "old Version=0.1.2.5\n");
    EXPECT_EQ(Read(TarnwickExeName), TarnwickStandIn("old"));
    EXPECT_TRUE(FileExists(elsewhere.File("tarnwick.zip")));
    EXPECT_TRUE(Exists("fenlow.dat"));
}

TEST_F(FenlowTest, ABareArchiveNameLivesInTheProgramFolder) {
    InstallOldTarnwick();
    MakeProgramZip(P("tarnwick.zip"));
    Put("fenlow.dat", "[File]\r\nVersion=0.9.0.0\r\n");  // no Path: "tarnwick.zip"
    Run({"-fenlow"});
    EXPECT_EQ(WaitStarted(), "new Version=0.1.2.5\n");
    EXPECT_FALSE(Exists("tarnwick.zip"));
}

TEST_F(FenlowTest, ABlacklistBecomesRulesTheEngineMatchesBeforeTarnwickStarts) {
    InstallOldTarnwick();
    MakeProgramZip(P("temp/tarnwick.zip"));
    WriteFenlowDat(P("temp/tarnwick.zip"));
    Put("blacklist.dat",
        "[Ann.Smith@Example.COM]\r\nHide=True\r\n"
        "[Spam King]\r\nDel=True\r\nBLJobSubs=True\r\nSubjects= Cheap WATCHES ;;Viagra \r\n"
        "[?]\r\nHide=False\r\nDel=False\r\n");
    Run({"-fenlow"});
    // Migrated by the time Tarnwick started: it finds no blacklist to import.
    EXPECT_EQ(WaitStarted(), "new Version=0.1.2.5\n");
    EXPECT_FALSE(Exists("blacklist.dat"));
    auto lower = [](std::string name, std::string addr, std::string subject) {
        return TRuleMessage{"Home", Utf8LowerCase(name), Utf8LowerCase(addr), Utf8LowerCase(subject)};
    };
    TRuleResult r = ApplyRules(P("rules"), lower("Ann Smith", "ann.smith@example.com", "Hello"));
    EXPECT_EQ(r.Action, raHide);
    EXPECT_EQ(r.MatchedRule, "Hide.rul");
    r = ApplyRules(P("rules"), lower("Spam King", "king@spam.example", "Buy cheap watches now"));
    EXPECT_EQ(r.Action, raDelete);
    EXPECT_EQ(r.MatchedRule, "Del_If.rul");
    EXPECT_EQ(ApplyRules(P("rules"), lower("Spam King", "king@spam.example", "Lunch?")).Action, raNone);
    EXPECT_EQ(ApplyRules(P("rules"), lower("Bob", "bob@example.com", "viagra")).Action, raNone);
    IniFileCacheClear();
    EXPECT_EQ(IniReadString(P("rules/All.rul"), "Rule", "Rule1", ""), "-1");
}

TEST_F(FenlowTest, TicksDuringTheMigrationDoNotRunItAgain) {
    // Long enough that many ticks fall inside it while it lets events through.
    std::string text;
    for (int i = 0; i < 300; ++i) text += "[Sender" + std::to_string(i) + "@Example.com]\r\nHide=True\r\n";
    Put("blacklist.dat", text);
    Start({"-fenlow"}, 2);
    // Samples the tick count while the migration runs (it lets this timer
    // through as it lets the job's own through).
    int ticksDuring = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (Exists("blacklist.dat")) ticksDuring = std::max(ticksDuring, Form->TickCount);
    });
    sampler.start(1);
    ASSERT_TRUE(WaitClosed());
    EXPECT_EQ(ticksDuring, 1);
    EXPECT_EQ(Form->TickCount, 10);
    EXPECT_FALSE(Exists("blacklist.dat"));
    IniFileCacheClear();
    TStringList senders;
    IniReadSection(P("rules/Hide.rul"), "EMails", senders);
    ASSERT_EQ(senders.Count(), 300);
    for (int i = 0; i < 300; ++i) EXPECT_EQ(senders[i], "sender" + std::to_string(i) + "@example.com");
}

TEST_F(FenlowTest, AnUnwritableRuleKeepsTheBlacklistForLater) {
    Put("blacklist.dat", "[ann@example.com]\r\nHide=True\r\n");
    ForceDirectories(P("rules/Hide.rul"));  // a folder where the rule file must go
    Run({"-fenlow"});
    EXPECT_TRUE(Exists("blacklist.dat"));
}

TEST_F(FenlowTest, TheCloseBoxDuringAJobWaitsUntilTheJobIsDone) {
    InstallOldTarnwick();
    MakeZip(P("temp/tarnwick.zip"), {{TarnwickExeName, TarnwickStandIn("new"), 0755}, {"readme.txt", TextBytes(4000)}},
            "-q -X -r -0");
    std::string bytes = ReadFileToString(P("temp/tarnwick.zip"));
    PatchFile(P("temp/tarnwick.zip"), int64_t(bytes.find("mail")), "MAIL");
    WriteFenlowDat(P("temp/tarnwick.zip"));
    ScriptedQuestions questions;
    questions.Failures = {fxaIgnore};
    bool finishedInside = true;
    questions.DuringFailure = [&] {
        Form->close();
        finishedInside = Form->Finished();
    };
    TZipQuestions *old = SetZipQuestions(&questions);
    Run({"-fenlow"});
    SetZipQuestions(old);
    EXPECT_FALSE(finishedInside);
    // The job ran to its end: the old executable is back.
    EXPECT_EQ(Read(TarnwickExeName), TarnwickStandIn("old"));
    EXPECT_EQ(questions.Asked.size(), 1u);
}
