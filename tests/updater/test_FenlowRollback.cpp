// A program update installs every file of its archive or none: whatever an
// update that fails replaced comes back, whatever it added goes, also when
// an earlier attempt was killed halfway.
#include "FenlowTestCommon.h"

#include <csignal>
#include <deque>
#include <dirent.h>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

#include "ChildProcess.h"
#include "ProgramBackup.h"
#include "ZipTestCommon.h"

namespace {

class FenlowRollbackTest : public FenlowTest {
protected:
    static constexpr char Module[] = "tarnwick-webmail.so";

    // A program folder as an earlier release left it, some names in another
    // letter case than the archive gives them.
    void InstallOldProgram() {
        InstallOldTarnwick();
        Put(Module, "old module", 0755);
        Put("Lang/English.lng", "[About]\r\nVersion=old\r\n");
        Put("docs/readme.txt", "old readme", 0444);
        Put("host_data.dat", "the user's own hosts");
        ForceDirectories(P("Sounds"));
        ASSERT_EQ(::symlink("Lang/English.lng", P("english.lnk").c_str()), 0);
    }
    // Info-ZIP's zip stores the names in the order given.
    void MakeOrderedZip(const std::string &archive, const std::vector<TEntry> &entries,
                        const std::string &flags = "-q -X") {
        std::string src = Src.Path() + "ordered" + std::to_string(++FOrdered) + "/";
        std::string names;
        for (const auto &e : entries) {
            WriteTestFile(src + e.Name, e.Bytes);
            ::chmod((src + e.Name).c_str(), e.Mode);
            names += " " + ShellQuote(e.Name);
        }
        ForceDirectories(ExtractFileDir(archive));
        DeleteFile(archive);
        ASSERT_EQ(RunTool("cd " + ShellQuote(src) + " && zip " + flags + " " + ShellQuote(archive) + names), 0);
    }
    // The new release: it replaces the executable, the module, a language
    // file, a read-only file and a link, and adds files in folders old and
    // new; "notes" comes last.
    std::vector<TEntry> NewRelease() const {
        return {{Module, "new module", 0755},
                {"lang/english.lng", "[About]\r\nVersion=new\r\n"},
                {"Lang/german.lng", "[About]\r\nVersion=neu\r\n"},
                {"sounds/new/chime.wav", "RIFF"},
                {"Plugins/extra/one.txt", "one"},
                {TarnwickExeName, TarnwickStandIn("new", "0.9.0.0"), 0755},
                {"docs/readme.txt", "new readme"},
                {"english.lnk", "no longer a link"},
                {"notes", "release notes"}};
    }

    // Everything in the program folder but "temp" and what Fenlow keeps for
    // itself (the lock, its version in the settings): each name with its
    // kind, mode, time and contents (a link's target).
    std::map<std::string, std::string> Snapshot() const {
        std::map<std::string, std::string> out;
        Walk("", out);
        return out;
    }
    void Walk(const std::string &rel, std::map<std::string, std::string> &out) const {
        DIR *d = ::opendir(P(rel).c_str());
        if (!d) return;
        while (dirent *e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            if (rel.empty() && (name == "temp" || name == "tarnwick.lock" || name == "Tarnwick.ini")) continue;
            std::string path = rel + name;
            struct stat st;
            if (::lstat(P(path).c_str(), &st) != 0) continue;
            std::string mode = std::to_string(st.st_mode) + " ";
            if (S_ISDIR(st.st_mode)) {
                out[path + "/"] = mode;
                Walk(path + "/", out);
            } else if (S_ISLNK(st.st_mode)) {
                char buf[4096];
                ssize_t n = ::readlink(P(path).c_str(), buf, sizeof buf);
                out[path] = mode + std::string(buf, size_t(std::max<ssize_t>(n, 0)));
            } else {
                // A program is named by its digest, so a failed check shows a
                // short difference.
                std::string bytes = st.st_size > 200 ? FileSha256(P(path)) : Read(path);
                out[path] = mode + std::to_string(st.st_mtime) + " " + bytes;
            }
        }
        ::closedir(d);
    }
    // The real Fenlow's program update, killed once it has written
    // Lang/german.lng (the archives put it half-way); false when it never did.
    bool KillFenlowHalfway() {
        int ignored = 0;
        pid_t fenlow = StartPeerProcess({"/bin/sh", "-c",
                                         "echo 'STARTED 1'; QT_QPA_PLATFORM=offscreen exec " +
                                             ShellQuote(P(FenlowExeName)) + " -fenlow >/dev/null 2>&1"},
                                        "STARTED ", ignored);
        const bool halfway = WaitUntil([this] { return Exists("Lang/german.lng"); }, 30000);
        StopPeerProcess(fenlow, SIGKILL);
        return halfway;
    }
    // Fenlow's program update with the zip component's failure questions
    // answered in turn (the component's default past them): how many it asked.
    size_t UpdateAnswering(std::deque<TZipFailureAction> Failures = {}) {
        ScriptedQuestions questions;
        questions.Failures = std::move(Failures);
        TZipQuestions *old = SetZipQuestions(&questions);
        Run({"-fenlow"});
        SetZipQuestions(old);
        Finish();
        return questions.Asked.size();
    }
    void ExpectPutBack(const std::map<std::string, std::string> &before) {
        EXPECT_EQ(Snapshot(), before);
        EXPECT_EQ(ListDirectory(P("temp")), std::vector<std::string>{"tarnwick.zip"});
        EXPECT_TRUE(Exists("fenlow.dat"));
        EXPECT_EQ(StartedAfterAWhile(), "");
    }

private:
    int FOrdered = 0;
};

}  // namespace

TEST_F(FenlowRollbackTest, AnEntryThatCannotBeWrittenPutsBackEveryFile) {
    // The answer to the component's question does not matter: ignoring the
    // entry leaves the release incomplete as surely as aborting.
    for (TZipFailureAction answer : {fxaIgnore, fxaAbort}) {
        SCOPED_TRACE(answer == fxaIgnore ? "Ignore" : "Abort");
        RunTool("rm -rf " + ShellQuote(Dir.Path()) + "* " + ShellQuote(Dir.Path()) + ".[!.]*");
        InstallOldProgram();
        // A folder stands where the last entry's file must go (root writes
        // anywhere, but no file replaces a folder).
        ForceDirectories(P("Notes"));
        MakeOrderedZip(P("temp/tarnwick.zip"), NewRelease());
        WriteFenlowDat(P("temp/tarnwick.zip"));
        auto before = Snapshot();
        EXPECT_EQ(UpdateAnswering({answer}), 1u);
        ExpectPutBack(before);
        EXPECT_EQ(Read(Module), "old module");
    }
}

TEST_F(FenlowRollbackTest, AnEntryIgnoredInTheMiddlePutsBackWhatCameAfterIt) {
    InstallOldProgram();
    // Stored, so the check of the middle entry can be spoiled in place.
    // The folder the failing entry made is the one the next entry finds,
    // whatever letter case it gives.
    std::vector<TEntry> entries = NewRelease();
    entries.insert(entries.begin() + 2, {{"New/readme.txt", "mail " + TextBytes(4000)}, {"NEW/README.TXT", "read me"}});
    MakeOrderedZip(P("temp/tarnwick.zip"), entries, "-q -X -0");
    std::string bytes = ReadFileToString(P("temp/tarnwick.zip"));
    PatchFile(P("temp/tarnwick.zip"), int64_t(bytes.find("mail ")), "MAIL");
    WriteFenlowDat(P("temp/tarnwick.zip"));
    auto before = Snapshot();
    EXPECT_EQ(UpdateAnswering({fxaIgnore}), 1u);
    ExpectPutBack(before);
}

// The backups are copies there, and come back as copies: the same bytes,
// modes and times, the link as a link.
TEST_F(FenlowRollbackTest, ATempFolderOnAnotherFileSystemStillPutsEveryFileBack) {
    if (!TempOnAnotherFileSystem()) GTEST_SKIP() << "no second file system at /dev/shm";
    InstallOldProgram();
    ForceDirectories(P("Notes"));
    MakeOrderedZip(P("temp/tarnwick.zip"), NewRelease());
    WriteFenlowDat(P("temp/tarnwick.zip"));
    auto before = Snapshot();
    EXPECT_EQ(UpdateAnswering(), 1u);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_FALSE(Exists("temp/oldprogram"));
    EXPECT_TRUE(Exists("temp/tarnwick.zip"));
    EXPECT_EQ(StartedAfterAWhile(), "");
}

TEST_F(FenlowRollbackTest, AReleaseThatArrivesWholeInstallsEveryFile) {
    InstallOldProgram();
    MakeOrderedZip(P("temp/tarnwick.zip"), NewRelease());
    WriteFenlowDat(P("temp/tarnwick.zip"), FileSha256(P("temp/tarnwick.zip")));
    Run({"-fenlow"});
    EXPECT_EQ(WaitStarted(), "new Version=0.1.2.5\n");
    Finish();
    // Names already there keep their spelling.
    for (const auto &[name, bytes] : std::map<std::string, std::string>{
             {Module, "new module"},
             {"Lang/English.lng", "[About]\r\nVersion=new\r\n"},
             {"Lang/german.lng", "[About]\r\nVersion=neu\r\n"},
             {"Sounds/new/chime.wav", "RIFF"},
             {"Plugins/extra/one.txt", "one"},
             {TarnwickExeName, TarnwickStandIn("new", "0.9.0.0")},
             {"docs/readme.txt", "new readme"},
             {"english.lnk", "no longer a link"},
             {"notes", "release notes"},
             {"host_data.dat", "the user's own hosts"}})
        EXPECT_EQ(Read(name), bytes) << name;
    EXPECT_EQ(FileMode(P("docs/readme.txt")), 0644u);
    EXPECT_FALSE(Exists("fenlow.dat"));
    // Nothing stays behind in "temp", no spare executable either.
    EXPECT_EQ(ListDirectory(P("temp")), std::vector<std::string>{});
}

// The real Fenlow killed while its question about the last-but-one entry
// is open: the module and the language files are new, the executable still
// old. Tarnwick runs before the next attempt: it keeps a file of its own in
// a folder the update made, and empties "temp" when it ends. The next
// attempt first puts back what the killed one had replaced, so when it
// fails too the folder is as it was before either, but for Tarnwick's file.
TEST_F(FenlowRollbackTest, AnUpdateKilledHalfwayIsPutBackByTheNextAttempt) {
    InstallOldProgram();
    ForceDirectories(P("Notes"));
    ASSERT_EQ(RunTool("cp " + ShellQuote(std::string(TW_BINARY_DIR) + "/updater/fenlow") + " " +
                      ShellQuote(P(FenlowExeName))),
              0);
    // The entry after "Lang/german.lng" fails before it writes anything, so
    // whenever the kill comes, nothing of it is half made.
    MakeOrderedZip(P("temp/tarnwick.zip"), {{Module, "new module", 0755},
                                            {"Lang/English.lng", "[About]\r\nVersion=new\r\n"},
                                            {"rules/Default.rul", "[Rule]\r\n"},
                                            {"Lang/german.lng", "[About]\r\nVersion=neu\r\n"},
                                            {"notes", "release notes"},
                                            {TarnwickExeName, TarnwickStandIn("new", "0.9.0.0"), 0755}});
    WriteFenlowDat(P("temp/tarnwick.zip"));
    auto before = Snapshot();
    ASSERT_TRUE(KillFenlowHalfway());
    ASSERT_EQ(Read(Module), "new module");
    ASSERT_EQ(Read(TarnwickExeName), TarnwickStandIn("old"));
    Put("rules/mine.rul", "[Rule]\r\nName=mine\r\n");
    auto now = Snapshot();
    for (const char *kept : {"rules/", "rules/mine.rul"}) before[kept] = now[kept];
    EXPECT_TRUE(EmptyTempFolder(Dir.Path()));

    UpdateAnswering({fxaIgnore});
    ExpectPutBack(before);
}

namespace {

// What a Fenlow cut short leaves when no new attempt follows: the backups
// and their list, and some of the archive's files written.
class FenlowPutBackTest : public FenlowRollbackTest {
protected:
    void CutShort(const std::vector<TEntry> &written) {
        MakeOrderedZip(Src.File("release.zip"), NewRelease());
        TZipArchiver zip;
        zip.FileName = Src.File("release.zip");
        zip.OpenZip();
        TProgramBackup backup(Dir.Path());
        ASSERT_TRUE(backup.Prepare(zip));
        zip.CloseZip();
        // As the extraction writes: beside, then renamed over the old file.
        for (const auto &e : written) {
            ForceDirectories(ExtractFileDir(P(e.Name)));
            WriteFileAtomic(P(e.Name), e.Bytes, e.Mode);
        }
        ASSERT_TRUE(Exists("temp/oldprogram/restore.lst"));
    }
    std::vector<TEntry> FirstHalf() const {
        return {{TarnwickExeName, TarnwickStandIn("new", "0.9.0.0"), 0755},
                {"Lang/English.lng", "[About]\r\nVersion=new\r\n"},
                {"Lang/german.lng", "[About]\r\nVersion=neu\r\n"},
                {"Plugins/extra/one.txt", "one"}};
    }
};

}  // namespace

// With no new archive to install, "-fenlow" puts the folder back and starts
// the old Tarnwick, once; what cannot come back leaves the list for another
// try, and Tarnwick is started beside it (it hands a list over only once),
// also where the update information would have Tarnwick started at once, or
// where Fenlow cannot write its version: once Tarnwick is started, the
// settings file is its own.
TEST_F(FenlowPutBackTest, AnUpdateCutShortIsPutBackBeforeTarnwickStarts) {
    InstallOldProgram();
    auto before = Snapshot();
    CutShort(FirstHalf());
    ASSERT_EQ(Read(TarnwickExeName), TarnwickStandIn("new", "0.9.0.0"));
    Run({"-fenlow"});
    EXPECT_EQ(Form->TickCount, 1);
    EXPECT_EQ(WaitStarted(), "old Version=0.1.2.5\n");
    Finish();
    auto after = Snapshot();
    after.erase("started.txt");
    EXPECT_EQ(after, before);
    EXPECT_FALSE(Exists("temp/oldprogram"));
    EXPECT_EQ(StartedAfterAWhile(), "old Version=0.1.2.5\n");

    for (const char *how : {"no update information", "an archive outside the folder", "no settings written"}) {
        SCOPED_TRACE(how);
        RunTool("rm -rf " + ShellQuote(Dir.Path()) + "* " + ShellQuote(Dir.Path()) + ".[!.]*");
        InstallOldProgram();
        CutShort(FirstHalf());
        TempDir elsewhere;
        const bool outsideArchive = how == std::string("an archive outside the folder");
        const bool noSettings = how == std::string("no settings written");
        if (outsideArchive) WriteFenlowDat(elsewhere.File("tarnwick.zip"));
        if (noSettings) ForceDirectories(P("Tarnwick.ini"));
        // A folder now stands where the old read-me must come back.
        DeleteFile(P("docs/readme.txt"));
        Put("docs/readme.txt/mine.txt", "the user's");
        Run({"-fenlow"});
        EXPECT_EQ(Form->TickCount, 1);
        // What could not come back stays; Tarnwick comes back beside it.
        EXPECT_EQ(WaitStarted(), noSettings ? "old \n" : "old Version=0.1.2.5\n");
        // The settings file could be written again by the time Fenlow ends.
        if (noSettings) ::rmdir(P("Tarnwick.ini").c_str());
        Finish();
        EXPECT_TRUE(Exists("temp/oldprogram/restore.lst"));
        EXPECT_EQ(Read("docs/readme.txt/mine.txt"), "the user's");
        if (noSettings) EXPECT_FALSE(Exists("Tarnwick.ini")) << "Fenlow took the folder after it started Tarnwick";
    }
}

// The real programs: Fenlow is killed after it wrote the new Tarnwick and
// before the web-mail module; the new Tarnwick, started next, hands the
// folder to Fenlow, which puts it back as it was and starts the old one.
TEST_F(FenlowRollbackTest, AnUpdateKilledHalfwayIsPutBackWhenTarnwickStarts) {
    InstallOldProgram();
    ForceDirectories(P("Notes"));
    ASSERT_EQ(RunTool("cp " + ShellQuote(std::string(TW_BINARY_DIR) + "/updater/fenlow") + " " +
                      ShellQuote(P(FenlowExeName))),
              0);
    const std::string tarnwick = ReadFileToString(std::string(TW_BINARY_DIR) + "/monitor/tarnwick");
    // "notes" fails before it writes anything (a folder stands there), and
    // Fenlow's question about it stays open until the kill.
    MakeOrderedZip(P("temp/tarnwick.zip"),
                   {{TarnwickExeName, tarnwick, 0755},
                    {"Lang/English.lng", "[About]\r\nVersion=new\r\n"},
                    {"Lang/german.lng", "[About]\r\nVersion=neu\r\n"},
                    {"notes", "release notes"},
                    {Module, "new module", 0755}},
                   "-q -X -0");
    WriteFenlowDat(P("temp/tarnwick.zip"));
    auto before = Snapshot();
    ASSERT_TRUE(KillFenlowHalfway());
    ASSERT_EQ(Read(Module), "old module");
    ASSERT_EQ(FileSha256(P(TarnwickExeName)), FileSha256(std::string(TW_BINARY_DIR) + "/monitor/tarnwick"));

    std::string out;
    EXPECT_EQ(RunProgram({P(TarnwickExeName)}, &out, nullptr, {"QT_QPA_PLATFORM=offscreen"}, "", 30), 0) << out;
    EXPECT_EQ(WaitStarted(), "old Version=0.1.2.5\n");
    auto after = Snapshot();
    after.erase("started.txt");
    // The cut-short update is given up; the next check offers it anew.
    before.erase("fenlow.dat");
    EXPECT_EQ(after, before);
    EXPECT_FALSE(Exists("temp/oldprogram"));
}

// A list Fenlow cannot read, whole or in part, still names backups: none of
// them goes, nothing that list would have put back is touched, and nothing
// is started; what can be read is put back all the same.
TEST_F(FenlowPutBackTest, WhatTheListCannotSayKeepsItsBackups) {
    for (const char *damage : {"a link in its place", "over its size limit", "a line that does not parse"}) {
        SCOPED_TRACE(damage);
        RunTool("rm -rf " + ShellQuote(Dir.Path()) + "* " + ShellQuote(Dir.Path()) + ".[!.]*");
        InstallOldProgram();
        auto before = Snapshot();
        CutShort(FirstHalf());
        const std::string list = P("temp/oldprogram/restore.lst");
        std::string text = Read("temp/oldprogram/restore.lst");
        const bool line = damage == std::string("a line that does not parse");
        if (damage == std::string("a link in its place")) {
            WriteTestFile(Src.File("restore.lst"), text);
            DeleteFile(list);
            ASSERT_EQ(::symlink(Src.File("restore.lst").c_str(), list.c_str()), 0);
        } else if (!line) {
            // A byte past the 64 MB a list may take (sparse: nothing is written).
            ASSERT_EQ(::truncate(list.c_str(), 64 << 20 | 1), 0);
        } else {
            // The language file's line names its backup by no number.
            size_t at = text.find(" Lang/English.lng\n");
            ASSERT_NE(at, std::string::npos);
            size_t start = text.rfind('\n', at) + 1;
            ASSERT_EQ(text.substr(start, 2), "R ");
            text.replace(start + 2, at - start - 2, "x");
            WriteTestFile(list, text);
        }
        auto cut = Snapshot();
        auto backups = ListDirectory(P("temp/oldprogram"));
        Run({"-fenlow"});
        Finish();
        if (line) backups = {"2", "restore.lst"};
        EXPECT_EQ(ListDirectory(P("temp/oldprogram")), backups);
        auto after = Snapshot();
        if (line) {
            EXPECT_EQ(Read("Lang/English.lng"), "[About]\r\nVersion=new\r\n");
            after["Lang/English.lng"] = before["Lang/English.lng"];
            EXPECT_EQ(after, before);
        } else {
            EXPECT_EQ(after, cut);
        }
        // Tarnwick comes back on what the folder holds, to say so.
        EXPECT_EQ(WaitStarted(), std::string(line ? "old" : "new") + " Version=0.1.2.5\n");
    }
}

// A folder on the way back that became a link out of the program folder
// since the update was cut short is not followed: what lies there stays,
// and the backup that would have gone there with it.
TEST_F(FenlowPutBackTest, PuttingBackFollowsNoLinkOutOfTheProgramFolder) {
    InstallOldProgram();
    CutShort(FirstHalf());
    TempDir outside;
    WriteTestFile(outside.File("lang/English.lng"), "someone else's");
    WriteTestFile(outside.File("lang/german.lng"), "someone else's too");
    WriteTestFile(outside.File("plugins/extra/one.txt"), "not Tarnwick's");
    RunTool("rm -rf " + ShellQuote(P("Lang")) + " " + ShellQuote(P("Plugins")));
    ASSERT_EQ(::symlink(outside.File("lang").c_str(), P("Lang").c_str()), 0);
    ASSERT_EQ(::symlink(outside.File("plugins").c_str(), P("Plugins").c_str()), 0);
    Run({"-fenlow"});
    Finish();
    EXPECT_EQ(ReadTestFile(outside.File("lang/English.lng")), "someone else's");
    EXPECT_EQ(ReadTestFile(outside.File("lang/german.lng")), "someone else's too");
    EXPECT_EQ(ReadTestFile(outside.File("plugins/extra/one.txt")), "not Tarnwick's");
    // The rest came back; the language file's backup waits with the list.
    EXPECT_EQ(Read(TarnwickExeName), TarnwickStandIn("old"));
    EXPECT_TRUE(Exists("temp/oldprogram/restore.lst"));
    EXPECT_EQ(WaitStarted(), "old Version=0.1.2.5\n");
}

// A Tarnwick that started just after the one that handed the folder over
// holds it to Fenlow's last tick: nothing was tried, so the list goes back
// to the next start of Tarnwick without the mark, and stays as it was; the
// Tarnwick that handed it over comes back on its profile, beside the other
// one (whose settings file Fenlow leaves alone).
TEST_F(FenlowPutBackTest, AListFenlowNeverHadTheFolderForGoesBackToTheNextStart) {
    InstallOldProgram();
    CutShort(FirstHalf());
    const std::string list = P("temp/oldprogram/restore.lst");
    ASSERT_TRUE(MarkHandedOver(list));
    auto cut = Snapshot();
    auto backups = ListDirectory(P("temp/oldprogram"));
    {
        TProgramLock other = AcquireProgramLock(Dir.Path(), 0, true);
        ASSERT_TRUE(other.Held());
        Run({"-fenlow", "-user", "_work"});
        EXPECT_EQ(Form->TickCount, 10);
        Finish();
        EXPECT_EQ(WaitStarted(), "new  -user _work\n");
    }
    auto after = Snapshot();
    after.erase("started.txt");
    EXPECT_EQ(after, cut);
    EXPECT_EQ(ListDirectory(P("temp/oldprogram")), backups);
    EXPECT_TRUE(MarkHandedOver(list)) << "the list is still marked as handed over";
}

// The real Tarnwick, on a profile, with a Fenlow that ends at once (as one
// missing a library does) and so never puts the folder back: the first start
// alone with the folder hands it over, the next one runs and says what
// became of it.
TEST_F(FenlowPutBackTest, TarnwickHandsAListOverOnceAndThenRunsAndSaysSo) {
    InstallOldProgram();
    CutShort(FirstHalf());
    ASSERT_EQ(RunTool("cp " + ShellQuote(std::string(TW_BINARY_DIR) + "/monitor/tarnwick") + " " +
                      ShellQuote(P(TarnwickExeName))),
              0);
    Put(FenlowExeName, "#!/bin/sh\necho \"$*\" >> fenlow.txt\nexit 127\n", 0755);
    Put("work.ini", "[Options]\r\nDelayTime=1\r\n", 0600);
    ForceDirectories(P("home"));
    const std::string run = "HOME=" + ShellQuote(P("home")) + " XDG_CONFIG_HOME=" + ShellQuote(P("home/.config")) +
                            " QT_QPA_PLATFORM=offscreen exec " + ShellQuote(P(TarnwickExeName)) + " -user _work";
    // A start that stays up, ended as the system ends it (with its message
    // still up: the log is saved); false when it ended by itself.
    auto staysUp = [&] {
        int ignored = 0;
        pid_t tarnwick = StartPeerProcess({"/bin/sh", "-c", "echo 'STARTED 1'; " + run + " >/dev/null 2>&1"},
                                          "STARTED ", ignored);
        ProcessEventsFor(4000);
        auto ended = [tarnwick] { return ::waitpid(tarnwick, nullptr, WNOHANG) == tarnwick; };
        if (ended()) return false;
        ::kill(tarnwick, SIGTERM);
        if (!WaitUntil(ended, 20000)) {
            ADD_FAILURE() << "Tarnwick did not end on SIGTERM";
            StopPeerProcess(tarnwick);
        }
        return true;
    };
    // Beside another Tarnwick of the folder the list is not handed over:
    // Fenlow could never take the folder, and the list would be spent.
    {
        TProgramLock other = AcquireProgramLock(Dir.Path(), 0, true);
        ASSERT_TRUE(other.Held());
        EXPECT_TRUE(staysUp()) << "the start beside another Tarnwick ended";
        EXPECT_FALSE(Exists("fenlow.txt"));
    }
    // Alone, it hands the folder over and ends; the next start runs.
    EXPECT_EQ(RunShell(run, 30), 0);
    EXPECT_TRUE(WaitUntil([this] { return Exists("fenlow.txt"); }, 10000));
    EXPECT_TRUE(staysUp()) << "the second start ended";
    EXPECT_TRUE(Contains(Read("work_log.rtf"), "An interrupted update could not be undone")) << Read("work_log.rtf");
    // Handed over once, on the profile.
    EXPECT_EQ(Read("fenlow.txt"), "-fenlow -user _work\n");
    EXPECT_TRUE(Exists("temp/oldprogram/restore.lst"));
}
