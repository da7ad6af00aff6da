// Hostile and damaged archives: names that climb out of the target, sizes
// that lie, corrupt data, cancelled and failed entries, re-entry from
// questions.
#include "ZipTestCommon.h"

#include "QtTestApp.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <set>
#include <unistd.h>
#include <csignal>
#include <sys/resource.h>

TEST_F(ZipTest, NamesThatClimbOutAreRefusedAndTheRestGoesOn) {
    std::string outside = "/tmp/twzip-slip-" + std::to_string(::getpid());
    Py("import zipfile\n"
       "names = ['../x', '" + outside + "', 'a/../../x', 'C:\\\\x', '..\\\\x',\n"
       "         'ok/../fine.txt', 'good.txt', 'a/b/../../../y', 'n' * 250 + '.txt', '.', 'sub/.']\n"
       "with zipfile.ZipFile('" + Zip("slip.zip") + "', 'w') as zf:\n"
       "    for n in names:\n"
       "        zi = zipfile.ZipInfo(n)\n"
       "        zf.writestr(zi, b'payload ' + n.encode())\n");
    std::string target = Tmp.Path() + "deep/er/target/";
    ForceDirectories(target);
    TZipArchiver zip;
    Open(zip, Zip("slip.zip"));
    zip.BaseDir = target;
    RecordNatives(zip);
    zip.ExtractMatching();
    EXPECT_EQ(ReadFileToString(target + "good.txt"), "payload good.txt");
    EXPECT_TRUE(FileExists(target + std::string(250, 'n') + ".txt"));  // long names still extract
    EXPECT_FALSE(FileExists(outside));
    EXPECT_FALSE(FileExists(Tmp.Path() + "x"));
    // Everything written under "deep/" stayed below the target.
    EXPECT_EQ(RunTool("test -z \"$(find " + ShellQuote(Tmp.Path() + "deep") + " -type f -not -path " +
                      ShellQuote(target + "*") + ")\""),
              0);
    std::set<std::string> failed(zip.LastResult().Failed.begin(), zip.LastResult().Failed.end());
    std::set<std::string> want = {"../x", outside, "a/../../x", "C:\\x", "..\\x", "ok/../fine.txt", "a/b/../../../y", "."};
    EXPECT_EQ(failed, want);
    EXPECT_EQ(Natives, std::vector<int>(want.size(), 19));
}

TEST_F(ZipTest, DeclaredSizesThatLieNeverFillTheDisk) {
    // 20 MB of zeros deflate to about 20 KB; the headers then claim 100 bytes.
    Py("import zipfile\n"
       "with zipfile.ZipFile('" + Zip("bomb.zip") + "', 'w', zipfile.ZIP_DEFLATED) as zf:\n"
       "    zf.writestr('bomb.bin', b'\\0' * 20000000)\n"
       "    zf.writestr('fine.txt', b'fine')\n"
       "data = bytearray(open('" + Zip("bomb.zip") + "', 'rb').read())\n"
       "import struct\n"
       "struct.pack_into('<I', data, 22, 100)\n"  // local uncompressed size
       "cd = data.rfind(b'PK\\x01\\x02', 0, data.rfind(b'PK\\x01\\x02'))\n"
       "struct.pack_into('<I', data, cd + 24, 100)\n"
       "open('" + Zip("bomb.zip") + "', 'wb').write(data)\n");
    TZipArchiver zip;
    Open(zip, Zip("bomb.zip"));
    zip.ExtractCorruptedFiles = true;  // even then a stream is cut at its declared size
    RecordNatives(zip);
    zip.ExtractMatching();
    ASSERT_EQ(Natives, std::vector<int>{8});
    EXPECT_FALSE(FileExists(Out() + "bomb.bin"));
    EXPECT_EQ(ReadFileToString(Out() + "fine.txt"), "fine");
    EXPECT_EQ(LeftoverTemporaries(Out()), 0);
}

TEST_F(ZipTest, CorruptEntriesAgreeWithUnzipTest) {
    for (int i = 0; i < 6; ++i) Put("f" + std::to_string(i) + ".txt", TextBytes(20000, unsigned(i)));
    InSrc("zip -q -9 " + ShellQuote(Zip("c.zip")) + " f0.txt f1.txt f2.txt f3.txt f4.txt f5.txt");
    TZipArchiver probe;
    probe.FileName = Zip("c.zip");
    probe.OpenZip();
    // Damage the middle of f1 (deflate data) and f4.
    std::string original = ReadFileToString(Zip("c.zip"));
    for (const char *n : {"f1.txt", "f4.txt"}) {
        const TZipDirItem &it = probe.Files(probe.IndexOf(n));
        int64_t middle = int64_t(DataOffset(original, it) + it.CompressedSize / 2);
        PatchFile(Zip("c.zip"), middle, "\xFF\x00\xFF\x00\x13\x37");
    }
    probe.CloseZip();
    ASSERT_NE(RunTool("unzip -tq " + ShellQuote(Zip("c.zip"))), 0);
    std::set<std::string> unzipBad;
    for (int i = 0; i < 6; ++i) {
        std::string n = "f" + std::to_string(i) + ".txt";
        if (RunTool("unzip -tq " + ShellQuote(Zip("c.zip")) + " " + n) != 0) unzipBad.insert(n);
    }
    EXPECT_EQ(unzipBad, (std::set<std::string>{"f1.txt", "f4.txt"}));

    TZipArchiver zip;
    Open(zip, Zip("c.zip"));
    zip.OnProcessFileFailure = [&](TZipBaseArchiver *, const std::string &, TZipProcessOperation op, int, int,
                                   const std::string &, TZipFailureAction &) { EXPECT_EQ(op, poTest); };
    zip.TestMatching();
    std::set<std::string> ours(zip.LastResult().Failed.begin(), zip.LastResult().Failed.end());
    EXPECT_EQ(ours, unzipBad);
    EXPECT_TRUE(ListDirectory(Out()).empty());  // testing writes nothing

    // Extraction: good entries land, bad ones leave the older files alone.
    WriteTestFile(Out() + "f1.txt", "older f1");
    zip.OnProcessFileFailure = nullptr;
    ScriptedQuestions q;
    q.Failures = {fxaRetry, fxaIgnore, fxaIgnore};
    zip.Questions = &q;
    zip.ExtractMatching();
    ASSERT_EQ(q.Asked.size(), 3u);  // f1 twice (retry), f4 once
    EXPECT_TRUE(EndsText(". File processing error, possibly disk is full", q.Asked[0]));
    EXPECT_EQ(ReadFileToString(Out() + "f1.txt"), "older f1");
    EXPECT_FALSE(FileExists(Out() + "f4.txt"));
    ExpectSameFile("f5.txt");
    EXPECT_EQ(LeftoverTemporaries(Out()), 0);
    std::set<std::string> failed(zip.LastResult().Failed.begin(), zip.LastResult().Failed.end());
    EXPECT_EQ(failed, unzipBad);

    // Abort stops the run at the first bad entry and returns normally.
    ClearOut();
    ForceDirectories(Out());
    q.Asked.clear();
    q.Failures = {fxaAbort};
    zip.ExtractMatching();
    EXPECT_TRUE(zip.LastResult().Aborted);
    EXPECT_TRUE(FileExists(Out() + "f0.txt"));
    EXPECT_FALSE(FileExists(Out() + "f2.txt"));
}

namespace {

// Three stored entries, the middle one with a wrong CRC.
class SpoiledZipTest : public ZipTest {
protected:
    void SetUp() override {
        Put("a.txt", "aaaa");
        Put("b.txt", TextBytes(5000, 1));
        Put("c.txt", "cccc");
        InSrc("zip -q -0 " + ShellQuote(Zip("r.zip")) + " a.txt b.txt c.txt");
        SpoilStoredText(Zip("r.zip"));
    }
};

}  // namespace

TEST_F(SpoiledZipTest, StoredEntryWithWrongCrc) {
    TZipArchiver zip;
    Open(zip, Zip("r.zip"));
    // No handlers, no Questions: the dialogs, which cannot be shown here, so
    // nobody is asked and the run aborts.
    zip.ExtractMatching();
    EXPECT_TRUE(zip.LastResult().Aborted);
    EXPECT_EQ(zip.LastResult().Failed.Count(), 1);
    EXPECT_FALSE(FileExists(Out() + "c.txt"));
    RecordNatives(zip);
    zip.ExtractMatching();
    EXPECT_EQ(Natives, std::vector<int>{8});
    EXPECT_FALSE(FileExists(Out() + "b.txt"));
    // With ExtractCorruptedFiles the data is kept as it is.
    zip.ExtractCorruptedFiles = true;
    Natives.clear();
    zip.ExtractMatching();
    EXPECT_TRUE(Natives.empty());
    EXPECT_EQ(FileSize(Out() + "b.txt"), 5000);
}

TEST_F(ZipTest, TruncatedArchiveOpensThroughTheRecoveryScan) {
    for (int i = 0; i < 4; ++i) Put("t" + std::to_string(i) + ".bin", RandomBytes(10000, unsigned(i)));
    InSrc("zip -q " + ShellQuote(Zip("t.zip")) + " t0.bin t1.bin t2.bin t3.bin");
    std::string bytes = ReadFileToString(Zip("t.zip"));
    // Cut in the middle of the third entry's data.
    size_t third = bytes.find("t2.bin");
    WriteTestFile(Zip("cut.zip"), bytes.substr(0, third + 5000));
    TZipArchiver zip;
    Open(zip, Zip("cut.zip"));
    EXPECT_TRUE(zip.Recovered());
    ASSERT_EQ(zip.FileCount(), 3);
    EXPECT_EQ(zip.Files(2).Name, "t2.bin");
    zip.ExtractMatching();
    ExpectSameFile("t0.bin");
    ExpectSameFile("t1.bin");
    EXPECT_FALSE(FileExists(Out() + "t2.bin"));
    EXPECT_EQ(zip.LastResult().Failed.Count(), 1);

    // A directory that points outside the file, and an entry count that
    // cannot fit, are read through the same scan.
    // A directory that points outside the file, an entry count that cannot
    // fit, and too few entries counted are all read through the same scan.
    size_t end = bytes.rfind(std::string("PK\x05\x06", 4));
    struct Case {
        size_t at;
        std::string patch;
    } cases[] = {{12, "\xF0\xFF\xFF\x7F"},  // directory size
                 {8, std::string("\xFF\xFF\xFF\xFF", 4)},  // entry counts
                 {8, std::string("\0\0\0\0", 4)}, {8, std::string("\2\0\2\0", 4)}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.at);
        std::string patched = bytes;
        WriteTestFile(Zip("patched.zip"), patched.replace(end + c.at, 4, c.patch));
        TZipArchiver z;
        Open(z, Zip("patched.zip"));
        EXPECT_TRUE(z.Recovered());
        EXPECT_EQ(z.FileCount(), 4);
        z.ExtractMatching();
        EXPECT_TRUE(z.LastResult().Failed.Empty());
        EXPECT_TRUE(z.LastResult().Damaged);
    }

    // Cut right where the directory began: every entry that is there
    // extracts, yet the run does not pass for a whole archive.
    size_t directory = bytes.find(std::string("PK\x01\x02", 4));
    WriteTestFile(Zip("nodir.zip"), bytes.substr(0, directory));
    ClearOut();
    TZipArchiver z4;
    Open(z4, Zip("nodir.zip"));
    ASSERT_EQ(z4.FileCount(), 4);
    z4.ExtractMatching();
    EXPECT_TRUE(z4.LastResult().Failed.Empty());
    ExpectSameFile("t3.bin");
    EXPECT_TRUE(z4.LastResult().Damaged);
    EXPECT_FALSE(z4.LastResult().Ok());
}

TEST_F(ZipTest, CancelKeepsTheOlderFileAndStopsTheRun) {
    Put("big.txt", RandomBytes(3000000, 8));
    Put("later.txt", "later");
    InSrc("zip -q -0 " + ShellQuote(Zip("k.zip")) + " big.txt later.txt");
    WriteTestFile(Out() + "big.txt", "older");
    TZipArchiver zip;
    Open(zip, Zip("k.zip"));
    zip.OnFileProgress = [&](TZipBaseArchiver *, const std::string &, double p, TZipProcessOperation,
                             TZipProgressPhase ph, bool &cancel) {
        if (ph == ppProcess && p > 0) cancel = true;
    };
    zip.ExtractMatching();
    EXPECT_TRUE(zip.LastResult().Cancelled);
    EXPECT_FALSE(zip.LastResult().Ok());
    EXPECT_TRUE(ReadFileToString(Out() + "big.txt") == "older");
    EXPECT_FALSE(FileExists(Out() + "later.txt"));
    EXPECT_EQ(LeftoverTemporaries(Out()), 0);
}

TEST_F(SpoiledZipTest, QuestionsMayReenterTheComponent) {
    TZipArchiver zip;
    ScriptedQuestions q;
    zip.Questions = &q;
    Open(zip, Zip("r.zip"));
    int nested = 0;
    // A timer firing inside the modal question runs another extraction on
    // the same component, then closes it: no deadlock, no use of a freed
    // stream, and the outer run stops cleanly.
    q.DuringFailure = [&]() {
        if (nested++ > 0) return;
        zip.ExtractMatching("a.txt");
        EXPECT_TRUE(zip.LastResult().Ok());
        zip.CloseZip();
    };
    q.Failures = {fxaIgnore, fxaIgnore};
    zip.ExtractMatching();
    EXPECT_EQ(nested, 1);
    EXPECT_FALSE(zip.Active());
    EXPECT_TRUE(FileExists(Out() + "a.txt"));
    EXPECT_FALSE(FileExists(Out() + "c.txt"));
    EXPECT_FALSE(zip.LastResult().Ok());
}

TEST_F(ZipTest, UnsupportedMethods) {
    if (!HaveTool("7z")) GTEST_SKIP();
    Put("d.txt", TextBytes(100000, 4));
    InSrc("7z a -tzip -mm=Deflate64 " + ShellQuote(Zip("d64.zip")) + " d.txt >/dev/null");
    TZipArchiver zip;
    Open(zip, Zip("d64.zip"));
    ASSERT_EQ(zip.Files(0).Method, 9);
    RecordNatives(zip);
    zip.ExtractMatching();
    EXPECT_EQ(Natives, std::vector<int>{55});
    EXPECT_FALSE(FileExists(Out() + "d.txt"));
}

TEST_F(ZipTest, HandlersThatReenterDoNotDisturbTheEntryBeingRead) {
    Put("first.txt", TextBytes(3000000, 12));
    Put("second.txt", RandomBytes(2500000, 13));
    InSrc("zip -q -P pw " + ShellQuote(Zip("p.zip")) + " first.txt second.txt");
    TZipArchiver zip;
    Open(zip, Zip("p.zip"));
    zip.Password = WrongPassword(zip, {0, 1});
    int passwordAsks = 0, progressNested = 0;
    // Both the password question and a progress tick run another extraction
    // on the same archive before the current entry reads on.
    zip.OnPassword = [&](TZipBaseArchiver *, const std::string &, std::string &pw, bool &) {
        ++passwordAsks;
        pw = "pw";
    };
    zip.OnFileProgress = [&](TZipBaseArchiver *, const std::string &f, double p, TZipProcessOperation,
                             TZipProgressPhase ph, bool &) {
        if (ph == ppProcess && p > 0 && f == "second.txt" && progressNested++ == 0) {
            TMemoryStream mem;
            EXPECT_TRUE(zip.ExtractToStream(zip.IndexOf("first.txt"), mem));
        }
    };
    zip.ExtractMatching();
    EXPECT_EQ(passwordAsks, 1);
    EXPECT_EQ(progressNested > 0, true);
    EXPECT_TRUE(zip.LastResult().Ok());
    ExpectSameFile("first.txt");
    ExpectSameFile("second.txt");
}

TEST_F(ZipTest, RecoveryScanReadsEveryKindOfDataDescriptor) {
    // Streamed archives (zero sizes in the local headers, a data descriptor
    // after each entry) whose directory is lost. The descriptors come with
    // and without their signature and with 4- or 8-byte sizes; one stored
    // entry carries descriptor-like bytes in its data.
    Put("a.txt", TextBytes(60000, 3));
    Put("trap.bin", std::string("PK\x07\x08", 4) + RandomBytes(12, 5) + "PK\x07\x08" + RandomBytes(3000, 6));
    Put("c.bin", RandomBytes(5000, 7));
    Py(PyUnseekable + std::string(R"(
import struct, zipfile
src = ')") + Src() + R"('
def make(path, zip64, unsigned):
    buf = io.BytesIO()
    with zipfile.ZipFile(Unseekable(buf), 'w') as zf:
        for name, method in (('a.txt', zipfile.ZIP_DEFLATED), ('trap.bin', zipfile.ZIP_STORED),
                             ('c.bin', zipfile.ZIP_DEFLATED)):
            zi = zipfile.ZipInfo(name)
            zi.compress_type = method
            with zf.open(zi, 'w', force_zip64=zip64) as f:
                f.write(open(src + name, 'rb').read())
    data = bytearray(buf.getvalue())
    infos = zipfile.ZipFile(io.BytesIO(bytes(data))).infolist()
    cut = zipfile.ZipFile(io.BytesIO(bytes(data))).start_dir
    if unsigned:
        for info in reversed(infos):
            n, e = struct.unpack_from('<HH', data, info.header_offset + 26)
            d = info.header_offset + 30 + n + e + info.compress_size
            assert data[d:d + 4] == b'PK\x07\x08'
            del data[d:d + 4]
            cut -= 4
    open(path, 'wb').write(bytes(data[:cut]))
make(')" + Zip("d16.zip") + R"(', False, False)
make(')" + Zip("d24.zip") + R"(', True, False)
make(')" + Zip("d12.zip") + R"(', False, True)
make(')" + Zip("d20.zip") + R"(', True, True)
)");
    for (const char *archive : {"d16.zip", "d24.zip", "d12.zip", "d20.zip"}) {
        SCOPED_TRACE(archive);
        ClearOut();
        TZipArchiver zip;
        Open(zip, Zip(archive));
        EXPECT_TRUE(zip.Recovered());
        ASSERT_EQ(zip.FileCount(), 3);
        zip.ExtractMatching();
        EXPECT_TRUE(zip.LastResult().Failed.Empty()) << zip.LastResult().Failed.Text();
        ExpectSameFile("a.txt");
        ExpectSameFile("trap.bin");
        ExpectSameFile("c.bin");
    }
}

TEST_F(ZipTest, RecoveryScanOfManySignaturesStaysLinear) {
    // A damaged file packed with local-header and descriptor signatures, each
    // header claiming a data descriptor: the scan must not read the rest of
    // the file again for every one of them.
    std::string header = std::string("PK\x03\x04", 4) + std::string("\x14\x00\x08\x00\x00\x00", 6) +
                         std::string(20, '\0');
    std::string bytes;
    while (bytes.size() < 4000000) bytes += header + std::string("PK\x07\x08", 4);
    WriteTestFile(Zip("packed.zip"), bytes);
    TZipArchiver zip;
    zip.FileName = Zip("packed.zip");
    auto started = std::chrono::steady_clock::now();
    zip.OpenZip();
    EXPECT_TRUE(zip.Recovered());
    EXPECT_GT(zip.FileCount(), 1000);
    // Generous: linear work takes well under a second even under sanitizers.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

TEST_F(SpoiledZipTest, TimerInsideTheFailureDialogMayRunAnotherExtraction) {
    // The real dialog: a timer firing inside its modal loop runs a second
    // extraction on the same component (the lock must let the same thread
    // in again), then answers Ignore. In a child process, so the
    // application it makes does not reach the tests that need none.
    ForceDirectories(Out());
    EXPECT_EXIT(
        {
            EnsureQApplication();
            TZipArchiver zip;  // no handlers, no Questions: the dialogs
            zip.FileName = Zip("r.zip");
            zip.OpenZip();
            zip.BaseDir = Out();
            int nested = 0;
            std::string asked;
            QTimer timer;
            QObject::connect(&timer, &QTimer::timeout, [&] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                if (!box) return;
                asked = box->text().toStdString();
                if (nested++ == 0) zip.ExtractMatching("a.txt");
                box->button(QMessageBox::Ignore)->click();
            });
            timer.start(20);
            zip.ExtractMatching();
            bool ok = nested == 1 && EndsText(". File processing error, possibly disk is full", asked) &&
                      zip.LastResult().Failed.Count() == 1 && zip.LastResult().Failed[0] == "b.txt" &&
                      !zip.LastResult().Aborted && FileExists(Out() + "a.txt") && FileExists(Out() + "c.txt");
            std::fprintf(stderr, "%s", ok ? "dialog answered" : ("unexpected: " + asked).c_str());
            std::_Exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "dialog answered");
}

TEST_F(ZipTest, NamesLongerThanAnyPathFailWithoutMakingFolders) {
    // 30000 folder levels in one name: no path on the system can be that
    // long, and making its folders one level at a time must not be tried.
    std::string deep;
    for (int i = 0; i < 30000; ++i) deep += "a/";
    Py("import zipfile\n"
       "with zipfile.ZipFile('" + Zip("deep.zip") + "', 'w') as zf:\n"
       "    zf.writestr('" + deep + "x', b'deep')\n"
       "    zf.writestr('" + std::string(300, 'n') + "', b'long')\n"
       "    zf.writestr('fine.txt', b'fine')\n");
    TZipArchiver zip;
    Open(zip, Zip("deep.zip"));
    RecordNatives(zip);
    zip.ExtractMatching();
    EXPECT_EQ(Natives, (std::vector<int>{19, 19}));
    EXPECT_EQ(ReadFileToString(Out() + "fine.txt"), "fine");
    EXPECT_FALSE(DirectoryExists(Out() + "a"));
    EXPECT_EQ(LeftoverTemporaries(Out()), 0);
}

TEST_F(ZipTest, EntriesThatShareTheirDataAreRefused) {
    // Overlapping entries multiply one compressed stream, as zip bombs with
    // honest sizes do: "outer" is stored and holds the local header and data
    // of "kernel"; "copy1" and "copy2" point at kernel's header too.
    Py(R"(
import struct, zlib
def local(name, method, crc, csize, usize):
    return struct.pack('<IHHHHHIIIHH', 0x04034B50, 20, 0, method, 0, 0x21, crc, csize, usize, len(name), 0) + name
def central(name, method, crc, csize, usize, offset):
    return struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 20, 20, 0, method, 0, 0x21, crc, csize, usize,
                       len(name), 0, 0, 0, 0, 0x20, offset) + name
plain = b'\0' * 1000000
co = zlib.compressobj(9, zlib.DEFLATED, -15)
packed = co.compress(plain) + co.flush()
crc = zlib.crc32(plain)
kernel = local(b'kernel', 8, crc, len(packed), len(plain)) + packed
outer = local(b'outer', 0, zlib.crc32(kernel), len(kernel), len(kernel)) + kernel
at = 30 + len(b'outer')
cd = central(b'outer', 0, zlib.crc32(kernel), len(kernel), len(kernel), 0)
for name in (b'kernel', b'copy1', b'copy2'):
    cd += central(name, 8, crc, len(packed), len(plain), at)
end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 4, 4, len(cd), len(outer), 0)
open(')" + Zip("overlap.zip") + R"(', 'wb').write(outer + cd + end)
)");
    TZipArchiver zip;
    Open(zip, Zip("overlap.zip"));
    ASSERT_EQ(zip.FileCount(), 4);
    EXPECT_FALSE(zip.Recovered());
    RecordNatives(zip);
    zip.ExtractMatching();
    EXPECT_EQ(Natives, (std::vector<int>{8, 8, 8, 8}));
    std::set<std::string> failed(zip.LastResult().Failed.begin(), zip.LastResult().Failed.end());
    EXPECT_EQ(failed, (std::set<std::string>{"outer", "kernel", "copy1", "copy2"}));
    EXPECT_TRUE(ListDirectory(Out()).empty());
    // Info-ZIP's unzip refuses the archive too.
    EXPECT_NE(RunTool("unzip -tq " + ShellQuote(Zip("overlap.zip"))), 0);
}

TEST_F(ZipTest, PlantedLinksInTheTargetAreNeverFollowedOut) {
    std::string elsewhere = Tmp.Path() + "elsewhere/";
    ForceDirectories(elsewhere);
    WriteTestFile(elsewhere + "secret.txt", "keep");
    Py("import zipfile\n"
       "with zipfile.ZipFile('" + Zip("links.zip") + "', 'w') as zf:\n"
       "    zf.writestr('Lang/x.txt', b'through the folder link')\n"
       "    zf.writestr('lang/new/y.txt', b'through the folder link, made folder')\n"
       "    zf.writestr('name.txt', b'replaces the file link')\n"
       "    zf.writestr('Inner/z.txt', b'a link that stays inside')\n"
       "    zf.writestr('good.txt', b'good')\n");
    ForceDirectories(Out() + "Real");
    ASSERT_EQ(::symlink(elsewhere.c_str(), (Out() + "Lang").c_str()), 0);
    ASSERT_EQ(::symlink((elsewhere + "secret.txt").c_str(), (Out() + "name.txt").c_str()), 0);
    ASSERT_EQ(::symlink("Real", (Out() + "Inner").c_str()), 0);
    TZipArchiver zip;
    Open(zip, Zip("links.zip"));
    RecordNatives(zip);
    zip.ExtractMatching();
    // Nothing was written or made outside the target.
    EXPECT_EQ(ListDirectory(elsewhere, true, true), std::vector<std::string>{"secret.txt"});
    EXPECT_EQ(ReadFileToString(elsewhere + "secret.txt"), "keep");
    // A link to a file is replaced, not written through.
    struct stat st;
    ASSERT_EQ(::lstat((Out() + "name.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadFileToString(Out() + "name.txt"), "replaces the file link");
    // A folder link that stays below the target is used.
    EXPECT_EQ(ReadFileToString(Out() + "Real/z.txt"), "a link that stays inside");
    EXPECT_EQ(ReadFileToString(Out() + "good.txt"), "good");
    std::set<std::string> failed(zip.LastResult().Failed.begin(), zip.LastResult().Failed.end());
    EXPECT_EQ(failed, (std::set<std::string>{"Lang/x.txt", "lang/new/y.txt"}));
    EXPECT_EQ(LeftoverTemporaries(Out()), 0);
}

TEST_F(ZipTest, WithoutCreateDirsOnlyBareNamesLandInTheExistingTarget) {
    Py("import zipfile\n"
       "with zipfile.ZipFile('" + Zip("flat.zip") + "', 'w') as zf:\n"
       "    zf.writestr('deep/er/a.txt', b'a')\n"
       "    zf.writestr('folder/', b'')\n");
    TZipArchiver zip;
    Open(zip, Zip("flat.zip"));
    zip.Options.CreateDirs = false;
    zip.ExtractMatching();
    EXPECT_TRUE(zip.LastResult().Ok());
    EXPECT_EQ(ListDirectory(Out(), true, true), std::vector<std::string>{"a.txt"});
    // A target folder that is not there is not made either.
    zip.BaseDir = Tmp.Path() + "missing";
    RecordNatives(zip);
    zip.ExtractMatching();
    EXPECT_EQ(Natives, std::vector<int>{19});
    EXPECT_FALSE(DirectoryExists(Tmp.Path() + "missing"));
}

// A drive that fills up half-way through an entry (here: a file size
// limit) fails that entry alone and keeps the file it was to replace.
TEST_F(ZipTest, AWriteThatFailsHalfWayKeepsTheOlderFile) {
    Py("import zipfile\n"
       "with zipfile.ZipFile('" + Zip("big.zip") + "', 'w', zipfile.ZIP_DEFLATED) as zf:\n"
       "    zf.writestr('big.bin', b'x' * 3000000)\n"
       "    zf.writestr('small.txt', b'small')\n");
    ForceDirectories(Out());
    WriteTestFile(Out() + "big.bin", "older");
    TZipArchiver zip;
    Open(zip, Zip("big.zip"));
    RecordNatives(zip);
    struct rlimit old;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 1000000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    zip.ExtractMatching();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(Natives, std::vector<int>{46});
    EXPECT_EQ(ReadFileToString(Out() + "big.bin"), "older");
    EXPECT_EQ(ReadFileToString(Out() + "small.txt"), "small");
    EXPECT_FALSE(zip.LastResult().Ok());
    EXPECT_EQ(LeftoverTemporaries(Out()), 0);
}
