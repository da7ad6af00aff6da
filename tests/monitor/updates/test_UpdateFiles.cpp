// What Tarnwick and Fenlow share about updates: the folder lock (against
// holders in other processes), the web location, and the checks on names,
// paths, versions and digests from the update site.
#include <gtest/gtest.h>

#include <cstdlib>
#include <csignal>

#include "ChildProcess.h"
#include "updates/ProgramLock.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "updates/UpdateFiles.h"
#include "ZipTools.h"

namespace {

// Another process holding the folder's lock with flock(2) until it has
// slept `seconds` or is stopped: one process, so stopping it ends the hold.
pid_t HoldLockElsewhere(const std::string &folder, double seconds = 60) {
    int ignored = 0;
    return StartPeerProcess({PythonProgram(), "-c",
                             "import fcntl, os, sys, time\n"
                             "fd = os.open(sys.argv[1], os.O_RDWR | os.O_CREAT)\n"
                             "fcntl.flock(fd, fcntl.LOCK_EX)\n"
                             "print('HELD 1', flush=True)\n"
                             "time.sleep(float(sys.argv[2]))\n",
                             ProgramLockFile(folder), std::to_string(seconds)},
                            "HELD ", ignored);
}

class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : FName(name) {
        if (const char *old = std::getenv(name)) FOld = old, FHad = true;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (FHad) ::setenv(FName.c_str(), FOld.c_str(), 1);
        else ::unsetenv(FName.c_str());
    }

private:
    std::string FName, FOld;
    bool FHad = false;
};

}  // namespace

TEST(ProgramLockTest, OneHolderAtATimeAcrossProcesses) {
    TempDir dir;
    EXPECT_FALSE(ProgramLockHeld(dir.Path()));
    {
        TProgramLock lock = AcquireProgramLock(dir.Path());
        ASSERT_TRUE(lock.Held());
        EXPECT_TRUE(ProgramLockHeld(dir.Path()));
        EXPECT_FALSE(AcquireProgramLock(dir.Path(), 50).Held());
        // Another process sees it too.
        EXPECT_EQ(RunProgram({"flock", "-n", ProgramLockFile(dir.Path()), "true"}), 1);
        TProgramLock moved = std::move(lock);
        EXPECT_FALSE(lock.Held());
        EXPECT_TRUE(ProgramLockHeld(dir.Path()));
    }
    EXPECT_FALSE(ProgramLockHeld(dir.Path()));

    pid_t holder = HoldLockElsewhere(dir.Path());
    EXPECT_TRUE(ProgramLockHeld(dir.Path()));
    EXPECT_FALSE(AcquireProgramLock(dir.Path(), 100).Held());
    // The kernel lets go when the holder dies, however it ends.
    StopPeerProcess(holder, SIGKILL);
    EXPECT_FALSE(ProgramLockHeld(dir.Path()));
    EXPECT_TRUE(AcquireProgramLock(dir.Path()).Held());
}

TEST(ProgramLockTest, WaitsForAHolderThatLetsGoAndIsNotInheritedByChildren) {
    TempDir dir;
    // A holder that lets go after a moment: the wait outlasts it.
    pid_t quick = HoldLockElsewhere(dir.Path(), 0.3);
    EXPECT_TRUE(AcquireProgramLock(dir.Path(), 20000).Held());
    StopPeerProcess(quick);

    // A program started while the lock is held does not keep it once the
    // starter lets go (Tarnwick starts Fenlow, which must get it).
    TProgramLock lock = AcquireProgramLock(dir.Path());
    ASSERT_TRUE(lock.Held());
    int ignored = 0;
    pid_t child = StartPeerProcess({"sh", "-c", "echo UP 1; exec sleep 60"}, "UP ", ignored);
    lock.Release();
    EXPECT_FALSE(ProgramLockHeld(dir.Path()));
    StopPeerProcess(child);
}

TEST(ProgramLockTest, TarnwicksShareTheFolderAndFenlowWaitsForAllOfThem) {
    TempDir dir;
    TProgramLock first = AcquireProgramLock(dir.Path(), 0, true);
    TProgramLock second = AcquireProgramLock(dir.Path(), 0, true);
    ASSERT_TRUE(first.Held());
    ASSERT_TRUE(second.Held());
    EXPECT_TRUE(ProgramLockHeld(dir.Path()));
    EXPECT_FALSE(AcquireProgramLock(dir.Path(), 50).Held());
    first.Release();
    EXPECT_FALSE(AcquireProgramLock(dir.Path(), 50).Held());  // one still runs
    second.Release();
    TProgramLock fenlow = AcquireProgramLock(dir.Path());
    ASSERT_TRUE(fenlow.Held());
    // A Tarnwick started while Fenlow works waits for it.
    EXPECT_FALSE(AcquireProgramLock(dir.Path(), 50, true).Held());
}

TEST(ProgramLockTest, AFolderWithoutALockFileOrRoomForOne) {
    TempDir dir;
    EXPECT_FALSE(ProgramLockHeld(dir.File("missing/")));
    EXPECT_FALSE(AcquireProgramLock(dir.File("missing/")).Held());
    // A planted link is not followed into somebody else's file.
    WriteTestFile(dir.File("elsewhere"), "keep");
    ASSERT_EQ(::symlink(dir.File("elsewhere").c_str(), ProgramLockFile(dir.Path()).c_str()), 0);
    EXPECT_FALSE(AcquireProgramLock(dir.Path()).Held());
    EXPECT_EQ(ReadFileToString(dir.File("elsewhere")), "keep");
}

TEST(ProgramLockTest, ATarnwickStartsBesideTarnwicksButNotBesideFenlow) {
    TempDir dir;
    TProgramLock other = AcquireProgramLock(dir.Path(), 0, true);
    TProgramLock mine;
    EXPECT_TRUE(TakeProgramLockAtStart(dir.Path(), mine));
    EXPECT_TRUE(mine.Held());
    mine.Release();
    other.Release();
    pid_t fenlow = HoldLockElsewhere(dir.Path());
    EXPECT_FALSE(TakeProgramLockAtStart(dir.Path(), mine));
    EXPECT_FALSE(mine.Held());
    StopPeerProcess(fenlow, SIGKILL);
    // A folder that takes no lock file still runs its Tarnwick.
    EXPECT_TRUE(TakeProgramLockAtStart(dir.File("missing/"), mine));
    EXPECT_FALSE(mine.Held());
}

TEST(UpdateFilesTest, WebLocationComesFromTheBuildOrAnHttpsOverride) {
    {
        ScopedEnv env(UpdateUrlVariable, nullptr);
        EXPECT_TRUE(StartsText("https://", UpdateBaseUrl()));
        EXPECT_EQ(UpdateBaseUrl().back(), '/');
    }
    {
        ScopedEnv env(UpdateUrlVariable, "https://127.0.0.1:8443/mirror/tarnwick");
        EXPECT_EQ(UpdateBaseUrl(), "https://127.0.0.1:8443/mirror/tarnwick/");
        EXPECT_EQ(UpdateZipUrl(), "https://127.0.0.1:8443/mirror/tarnwick/zip/");
    }
    std::string built;
    {
        ScopedEnv env(UpdateUrlVariable, nullptr);
        built = UpdateBaseUrl();
    }
    // Updates never travel in clear text.
    for (const char *bad : {"http://127.0.0.1/tarnwick/", "ftp://x/", "", "https://"}) {
        ScopedEnv env(UpdateUrlVariable, bad);
        EXPECT_EQ(UpdateBaseUrl(), built) << bad;
    }
}

TEST(UpdateFilesTest, NamesAndPathsFromTheSiteStayInTheirFolder) {
    for (const char *ok : {"tarnwick.zip", "Blue Skin.zip", "a.b.c", "skin-2"})
        EXPECT_TRUE(IsPlainFileName(ok)) << ok;
    for (const char *bad : {"", ".", "..", "../x.zip", "a/b.zip", "a\\b.zip", "x..zip", "/etc/passwd", "a\nb", "*", "*.*", "Blue?"})
        EXPECT_FALSE(IsPlainFileName(bad)) << bad;
    EXPECT_FALSE(IsPlainFileName(std::string("a\0b", 3)));

    std::string p = "/opt/tw/";
    EXPECT_EQ(PathInFolder("temp/tarnwick.zip", p), "/opt/tw/temp/tarnwick.zip");
    EXPECT_EQ(PathInFolder("/opt/tw/temp/../tarnwick.zip", p), "/opt/tw/tarnwick.zip");
    EXPECT_EQ(PathInFolder("./a//b", "/opt/tw"), "/opt/tw/a/b");
    EXPECT_EQ(PathInFolder("/opt/tw/", p), "");
    EXPECT_EQ(PathInFolder("/opt/tw", p), "");
    EXPECT_EQ(PathInFolder("../tw2/x", p), "");
    EXPECT_EQ(PathInFolder("/opt/tw2/x", p), "");
    EXPECT_EQ(PathInFolder("temp/../../etc/passwd", p), "");
    EXPECT_EQ(PathInFolder("/home/user/.bashrc", p), "");
    EXPECT_EQ(PathInFolder("", p), "");
}

TEST(UpdateFilesTest, VersionsCompareAsWholeNumbers) {
    EXPECT_FALSE(VersionIsNewer("0.8.2.5", "0.8.2.5"));
    EXPECT_FALSE(VersionIsNewer("0.8.2.4", "0.8.2.5"));
    EXPECT_TRUE(VersionIsNewer("0.8.2.6", "0.8.2.5"));
    EXPECT_TRUE(VersionIsNewer("0.8.10.0", "0.8.2.5"));  // 8100 against 825
    EXPECT_FALSE(VersionIsNewer("1", "0.8.2.5"));  // 1 against 825
    EXPECT_FALSE(VersionIsNewer("0.0.1", "0.8.2.5"));
    // Nothing but digits and dots counts, and it must fit in 64 bits.
    for (const char *bad : {"", ".", "0.9.0.0b", "-1", "9.9.9.9 ", "1e9", "99999999999999999999"})
        EXPECT_FALSE(VersionIsNewer(bad, "0")) << bad;
    EXPECT_TRUE(VersionIsNewer("999999999999999999", "0.8.2.5"));
    // A current version that is no version is below every real one.
    EXPECT_TRUE(VersionIsNewer("0", ""));
    EXPECT_TRUE(VersionIsNewer("0.1", "garbage"));
    int64_t n = 0;
    EXPECT_TRUE(VersionNumber("0.8.2.5", n));
    EXPECT_EQ(n, 825);
    EXPECT_TRUE(VersionNumber("000", n));
    EXPECT_EQ(n, 0);
}

TEST(UpdateFilesTest, DigestsMatchSha256sum) {
    TempDir dir;
    WriteTestFile(dir.File("a.zip"), RandomBytes(300000, 7));
    std::string out;
    ASSERT_EQ(RunProgram({"sha256sum", dir.File("a.zip")}, &out), 0);
    std::string want = out.substr(0, 64);
    EXPECT_EQ(FileSha256(dir.File("a.zip")), want);
    EXPECT_TRUE(Sha256Matches(dir.File("a.zip"), want));
    EXPECT_TRUE(Sha256Matches(dir.File("a.zip"), " " + UpperCase(want) + "\r"));
    EXPECT_TRUE(Sha256Matches(dir.File("a.zip"), ""));  // older files name none
    std::string wrong = want;
    wrong[10] = wrong[10] == '0' ? '1' : '0';
    EXPECT_FALSE(Sha256Matches(dir.File("a.zip"), wrong));
    EXPECT_FALSE(Sha256Matches(dir.File("a.zip"), want.substr(0, 63)));
    EXPECT_FALSE(Sha256Matches(dir.File("none.zip"), want));
    EXPECT_EQ(FileSha256(dir.File("none.zip")), "");
}

TEST(UpdateFilesTest, ASkinMovedAsideReplacesAStaleBackup) {
    TempDir dir;
    WriteTestFile(dir.File("skins/Blue/Blue.skn"), "[About]\r\nVersion=1\r\n");
    WriteTestFile(SkinBackupFolder(dir.Path(), "Blue") + "/old.bmp", "stale");
    EXPECT_TRUE(MoveSkinAside(dir.Path(), "Blue"));
    EXPECT_FALSE(DirectoryExists(dir.File("skins/Blue")));
    EXPECT_EQ(ReadFileToString(SkinBackupFolder(dir.Path(), "Blue") + "/Blue.skn"), "[About]\r\nVersion=1\r\n");
    EXPECT_FALSE(FileExists(SkinBackupFolder(dir.Path(), "Blue") + "/old.bmp"));
    EXPECT_TRUE(MoveSkinAside(dir.Path(), "Green"));  // nothing installed: nothing to move
    EXPECT_FALSE(MoveSkinAside(dir.Path(), "../skins"));
}
