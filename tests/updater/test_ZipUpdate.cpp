// Changing archives made by Info-ZIP: entries deleted, renamed, refreshed and
// added, comments and attributes changed; and a failed or cancelled change
// that must leave the archive as it was.
#include "ZipWriteCommon.h"

#include <algorithm>
#include <csignal>
#include <sys/resource.h>
#include <utime.h>

namespace {

void SetMTime(const std::string &path, time_t t) {
    struct utimbuf times{t, t};
    ::utime(path.c_str(), &times);
}

}  // namespace

class ZipUpdateTest : public ZipWriteTest {
protected:
    void SetUp() override {
        MakeTree();
        // Two hours old, so that a file written now is newer than its entry.
        RunTool("find " + ShellQuote(Src()) + " -exec touch -m -d @" + std::to_string(::time(nullptr) - 7200) + " {} +");
        // Info-ZIP's timestamps and Unix ids ride along in extra fields.
        InSrc("zip -q -r " + ShellQuote(Zip("iz.zip")) + " .");
    }
    // The temporary folder of updates, so that a test sees what is left there.
    std::string Temp() {
        std::string t = Tmp.Path() + "temp/";
        ForceDirectories(t);
        return t;
    }
    void OpenUpdate(TZipArchiver &zip) {
        zip.TempDir = Temp();
        Open(zip, Zip("iz.zip"));
        zip.BaseDir = Src();
    }
};

TEST_F(ZipUpdateTest, DeleteRenameRefreshAndAddOnAnInfoZipArchive) {
    time_t past = ::time(nullptr) - 3 * 3600;
    TZipArchiver zip;
    OpenUpdate(zip);
    zip.DeleteFiles("random.bin");
    EXPECT_TRUE(zip.RenameFile("with space.txt", "renamed with space.txt"));
    EXPECT_TRUE(zip.RenameFile("deep", "sh\xC3\xA4llow"));  // a folder and what it holds
    EXPECT_FALSE(zip.RenameFile("text.txt", "TOOL.SH"));    // a name another entry has
    EXPECT_EQ(NativeErrorOf([&] { zip.RenameFile("nothing.txt", "x"); }), 42);
    // Only the file on disk that is newer than its entry goes in again.
    Put("text.txt", TextBytes(123456, 77));
    Put("empty.txt", "not newer");
    SetMTime(Src() + "empty.txt", past);
    zip.Options.OverwriteMode = omIfNewer;
    zip.UpdateFiles("*.txt");
    EXPECT_EQ(zip.LastResult().Processed, 1);
    Put("added/new.txt", "a new file\n");
    zip.AddFiles("added/new.txt");
    zip.ChangeFilesComment("added/new.txt", "the comment of an entry");
    zip.SetComment("the comment of the archive");
    zip.CloseZip();

    // The tree the archive now holds.
    Put("empty.txt", "");
    RunTool("cd " + ShellQuote(Src()) + " && rm random.bin && mv 'with space.txt' 'renamed with space.txt' && "
            "mv deep sh\xC3\xA4llow");
    ExpectPeersAccept(Zip("iz.zip"));
    ExpectUnzipGivesSource(Zip("iz.zip"));
    ExpectReaderGivesSource(Zip("iz.zip"));

    std::string out;
    RunProgram({"unzip", "-z", Zip("iz.zip")}, &out);
    EXPECT_TRUE(Contains(out, "the comment of the archive")) << out;
    out.clear();
    RunProgram({"zipinfo", "-v", Zip("iz.zip"), "added/new.txt"}, &out);
    EXPECT_TRUE(Contains(out, "the comment of an entry")) << out;
    TZipArchiver again;
    Open(again, Zip("iz.zip"));
    EXPECT_EQ(again.Comment(), "the comment of the archive");
    EXPECT_LT(again.IndexOf("random.bin"), 0);
    // Entries copied as they were keep Info-ZIP's extra fields; a refreshed
    // one loses the timestamp that described its old data.
    auto hasTimestamp = [&](const std::string &name) {
        const TZipDirItem &it = again.Files(again.IndexOf(name));
        return std::any_of(it.Extra.begin(), it.Extra.end(), [](const TZipExtraBlock &b) { return b.HeaderID == 0x5455; });
    };
    EXPECT_TRUE(hasTimestamp("renamed with space.txt"));
    EXPECT_TRUE(hasTimestamp("empty.txt"));
    EXPECT_FALSE(hasTimestamp("text.txt"));
    EXPECT_EQ(LeftoverTemporaries(Temp()) + int(ListDirectory(Temp()).size()), 0);
}

TEST_F(ZipUpdateTest, ChangesGatheredInOneUpdateAreWrittenOnce) {
    std::string before = Bytes(Zip("iz.zip"));
    TZipArchiver zip;
    OpenUpdate(zip);
    int copies = 0;
    zip.OnCopyTempFileProgress = [&](TZipBaseArchiver *, double, TZipProgressPhase phase, bool &) {
        copies += phase == ppStart;
    };
    zip.BeginUpdate();
    zip.DeleteFiles("*.bin");
    zip.ChangeFilesAttr("tool.sh", faArchive | faReadOnly);
    Put("later.txt", "later");
    zip.AddFiles("later.txt");
    EXPECT_EQ(Bytes(Zip("iz.zip")), before);
    EXPECT_EQ(NativeErrorOf([&] { zip.ExtractMatching(); }), 26);  // not while changes wait
    zip.EndUpdate();
    EXPECT_EQ(copies, 1);
    EXPECT_EQ(NativeErrorOf([&] { zip.EndUpdate(); }), 22);
    zip.CloseZip();
    ExpectPeersAccept(Zip("iz.zip"));
    std::string dir = Tmp.Path() + "unzipped/";
    ASSERT_EQ(RunProgram({"unzip", "-q", Zip("iz.zip"), "-d", dir}), 0);
    EXPECT_FALSE(FileExists(dir + "random.bin"));
    EXPECT_EQ(ReadFileToString(dir + "later.txt"), "later");
    EXPECT_EQ(FileMode(dir + "tool.sh") & 0777, 0555u);
}

TEST_F(ZipUpdateTest, CancelledUpdatesLeaveTheArchiveUntouched) {
    std::string before = Bytes(Zip("iz.zip"));
    Put("big.bin", RandomBytes(3000000, 5));
    struct Case {
        const char *what;
        std::function<void(TZipArchiver &)> arm;
        std::function<void(TZipArchiver &)> change;
    } cases[] = {
        {"file progress",
         [](TZipArchiver &z) {
             z.OnFileProgress = [](TZipBaseArchiver *, const std::string &, double p, TZipProcessOperation,
                                   TZipProgressPhase ph, bool &cancel) { cancel = ph == ppProcess && p > 10; };
         },
         [](TZipArchiver &z) { z.AddFiles("big.bin"); }},
        {"overall progress at the start",
         [](TZipArchiver &z) {
             z.OnOverallProgress = [](TZipBaseArchiver *, double, TZipProcessOperation, TZipProgressPhase ph,
                                      bool &cancel) { cancel = ph == ppStart; };
         },
         [](TZipArchiver &z) { z.DeleteFiles("text.txt"); }},
        {"the start of the copy",
         [](TZipArchiver &z) {
             z.OnCopyTempFileProgress = [](TZipBaseArchiver *, double, TZipProgressPhase ph, bool &cancel) {
                 cancel = ph == ppStart;
             };
         },
         [](TZipArchiver &z) { EXPECT_TRUE(z.RenameFile("text.txt", "t.txt")); }},
        {"the middle of the copy",
         [](TZipArchiver &z) {
             z.OnCopyTempFileProgress = [](TZipBaseArchiver *, double, TZipProgressPhase ph, bool &cancel) {
                 cancel = ph == ppProcess;
             };
         },
         [](TZipArchiver &z) { z.ChangeFilesComment("*.txt", "comment"); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TZipArchiver zip;
        OpenUpdate(zip);
        int count = zip.FileCount();
        c.arm(zip);
        c.change(zip);
        EXPECT_TRUE(zip.LastResult().Cancelled);
        EXPECT_EQ(zip.FileCount(), count);
        EXPECT_GE(zip.IndexOf("text.txt"), 0);
        zip.CloseZip();
        EXPECT_TRUE(Bytes(Zip("iz.zip")) == before);
        EXPECT_TRUE(ListDirectory(Temp()).empty());
    }
}

TEST_F(ZipUpdateTest, FailedUpdatesLeaveTheArchiveUntouched) {
    std::string before = Bytes(Zip("iz.zip"));
    Put("a.txt", "a");
    Put("b.txt", "b");
    {
        // A source that goes away before it is read: abort drops the update.
        TZipArchiver zip;
        OpenUpdate(zip);
        std::vector<int> natives;
        zip.OnProcessFileFailure = [&](TZipBaseArchiver *, const std::string &, TZipProcessOperation, int native,
                                       int, const std::string &, TZipFailureAction &action) {
            natives.push_back(native);
            action = fxaAbort;
        };
        zip.BeginUpdate();
        zip.AddFiles("?.txt");
        DeleteFile(Src() + "b.txt");
        zip.EndUpdate();
        EXPECT_EQ(natives, std::vector<int>{33});
        EXPECT_TRUE(zip.LastResult().Aborted);
        EXPECT_LT(zip.IndexOf("a.txt"), 0);
        zip.CloseZip();
        EXPECT_TRUE(Bytes(Zip("iz.zip")) == before);
    }
    {
        // The drive fills up half-way (a file size limit here).
        Put("big.bin", RandomBytes(3000000, 6));
        TZipArchiver zip;
        OpenUpdate(zip);
        struct rlimit old;
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = old;
        small.rlim_cur = 2000000;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        int native = NativeErrorOf([&] { zip.AddFiles("big.bin"); });
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_EQ(native, 46);
        EXPECT_LT(zip.IndexOf("big.bin"), 0);
        zip.CloseZip();
        EXPECT_TRUE(Bytes(Zip("iz.zip")) == before);
    }
    {
        // No temporary file can be made.
        TZipArchiver zip;
        OpenUpdate(zip);
        zip.TempDir = Tmp.Path() + "missing/";
        EXPECT_EQ(NativeErrorOf([&] { zip.DeleteFiles("*.txt"); }), 36);
        zip.CloseZip();
        EXPECT_TRUE(Bytes(Zip("iz.zip")) == before);
    }
    EXPECT_TRUE(ListDirectory(Temp()).empty());
    // Ignoring the failure writes the rest.
    TZipArchiver zip;
    OpenUpdate(zip);
    zip.OnProcessFileFailure = [&](TZipBaseArchiver *, const std::string &, TZipProcessOperation, int, int,
                                   const std::string &, TZipFailureAction &action) { action = fxaIgnore; };
    Put("b.txt", "b");
    zip.BeginUpdate();
    zip.AddFiles("?.txt");
    DeleteFile(Src() + "b.txt");
    zip.EndUpdate();
    EXPECT_GE(zip.IndexOf("a.txt"), 0);
    EXPECT_LT(zip.IndexOf("b.txt"), 0);
    EXPECT_EQ(zip.LastResult().Failed.Count(), 1);
    zip.CloseZip();
    ExpectPeersAccept(Zip("iz.zip"));
}

TEST_F(ZipUpdateTest, RefreshingAsksBeforeItReplacesAnEntry) {
    Put("text.txt", "newer text");
    Put("with space.txt", "newer too");
    ::chmod((Src() + "with space.txt").c_str(), 0444);
    TZipArchiver zip;
    OpenUpdate(zip);
    zip.Options.OverwriteMode = omPrompt;
    std::vector<std::string> asked;
    zip.OnConfirmOverwrite = [&](TZipBaseArchiver *, const std::string &source, std::string &dest, bool &confirm) {
        asked.push_back(dest + " < " + ExtractFileName(source));
        confirm = dest == "text.txt";
    };
    zip.UpdateFiles("*.txt");
    std::sort(asked.begin(), asked.end());
    // Every file entry of the mask is asked about, whether newer or not.
    EXPECT_EQ(asked, (std::vector<std::string>{"empty.txt < empty.txt", "gr\xC3\xBC\xC3\x9F" "e\\na\xC3\xAFve.txt < na\xC3\xAFve.txt",
                                               "text.txt < text.txt", "with space.txt < with space.txt"}));
    EXPECT_EQ(ToMemory(zip, zip.IndexOf("text.txt")), "newer text");
    EXPECT_EQ(ToMemory(zip, zip.IndexOf("with space.txt")), "spaces in the name\n");
    zip.CloseZip();

    // Without a handler, the question; No to all stops the asking.
    ScriptedQuestions q;
    q.Overwrites = {TZipQuestions::oaNoToAll};
    TZipArchiver asking;
    asking.Questions = &q;
    OpenUpdate(asking);
    asking.Options.OverwriteMode = omPrompt;
    asking.UpdateFiles("with space.txt");
    ASSERT_EQ(q.Asked.size(), 1u);
    EXPECT_EQ(q.Asked[0], "Overwrite file \"with space.txt\" with \"" + Src() + "with space.txt\"");
    EXPECT_EQ(asking.Options.OverwriteMode, omNever);
    // A read-only entry stays unless ReplaceReadOnly.
    asking.ChangeFilesAttr("with space.txt", faReadOnly);
    asking.Options.OverwriteMode = omAlways;
    asking.Options.ReplaceReadOnly = false;
    asking.UpdateFiles("with space.txt");
    EXPECT_EQ(asking.LastResult().Skipped.IndexOf("with space.txt"), 0);
    asking.Options.ReplaceReadOnly = true;
    asking.UpdateFiles("with space.txt");
    EXPECT_EQ(ToMemory(asking, asking.IndexOf("with space.txt")), "newer too");
    asking.CloseZip();
    ExpectPeersAccept(Zip("iz.zip"));
}
