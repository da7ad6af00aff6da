// Archives made by Info-ZIP zip, 7z and Python's zipfile, extracted by the
// component and compared byte for byte with their sources.
#include "ZipTestCommon.h"

#include <sys/stat.h>
#include <zlib.h>

class ZipRoundTrip : public ZipTest {
protected:
    const std::vector<std::string> Tree = {"empty.txt", "text.txt", "random.bin", "with space.txt",
                                           "gr\xC3\xBC\xC3\x9F" "e/na\xC3\xAFve.txt", "deep/er/still/file.dat", "tool.sh"};
    void SetUp() override {
        const std::string bytes[] = {"", TextBytes(300000, 3), RandomBytes(200000, 4), "spaces in the name\n",
                                     "non-ascii names\n", TextBytes(5000, 9), "#!/bin/sh\necho hi\n"};
        for (size_t i = 0; i < Tree.size(); ++i) Put(Tree[i], bytes[i]);
        ForceDirectories(Src() + "emptydir");
        ::chmod((Src() + "tool.sh").c_str(), 0755);
    }
    // Extracts everything into a cleared Out() and compares; returns how many
    // entries the archive held deflated, so a test knows what it exercised.
    int ExtractAndCompare(const std::string &archive) {
        ClearOut();
        TZipArchiver zip;
        Open(zip, archive);
        zip.ExtractMatching("*.*", 0x28BF, "");
        EXPECT_TRUE(zip.LastResult().Ok()) << zip.LastResult().Failed.Text();
        for (const std::string &f : Tree) ExpectSameFile(f);
        EXPECT_EQ(FileMode(Out() + "tool.sh") & 0777, 0755u);
        EXPECT_TRUE(DirectoryExists(Out() + "emptydir"));
        EXPECT_EQ(LeftoverTemporaries(Out()), 0);
        int deflated = 0;
        for (int i = 0; i < zip.FileCount(); ++i) deflated += zip.Files(i).Method == 8;
        return deflated;
    }
};

TEST_F(ZipRoundTrip, InfoZipStoredAndDeflated) {
    InSrc("zip -q -r -0 " + ShellQuote(Zip("stored.zip")) + " .");
    InSrc("zip -q -r -9 " + ShellQuote(Zip("deflated.zip")) + " .");
    EXPECT_EQ(ExtractAndCompare(Zip("stored.zip")), 0);
    EXPECT_GT(ExtractAndCompare(Zip("deflated.zip")), 2);
}

TEST_F(ZipRoundTrip, SevenZipAndPythonArchives) {
    if (HaveTool("7z")) {
        InSrc("7z a -tzip -mx=9 " + ShellQuote(Zip("seven.zip")) + " . >/dev/null");
        ExtractAndCompare(Zip("seven.zip"));
    }
    // Python writing to a pipe-like stream: data descriptors after each
    // entry and zero sizes in the local headers; plus the longest comment,
    // with end-record signatures inside it.
    Py(PyUnseekable + std::string(R"(
import os, zipfile
src = ')") + Src() + R"('
c = (b'PK\x05\x06' + b'\0' * 18) * 10
with open(')" + Zip("py.zip") + R"(', 'wb') as raw:
    with zipfile.ZipFile(Unseekable(raw), 'w', zipfile.ZIP_DEFLATED) as zf:
        zf.comment = c + b'z' * (65535 - len(c))
        for root, dirs, files in os.walk(src):
            for d in dirs:
                p = os.path.join(root, d)
                if not os.listdir(p): zf.write(p, os.path.relpath(p, src))
            for f in files:
                p = os.path.join(root, f)
                zf.write(p, os.path.relpath(p, src))
)");
    TZipArchiver zip;
    Open(zip, Zip("py.zip"));
    EXPECT_EQ(zip.Comment().size(), 65535u);
    EXPECT_EQ(zip.Comment().substr(0, 4), std::string("PK\x05\x06", 4));
    EXPECT_FALSE(zip.Recovered());
    int described = 0;
    for (int i = 0; i < zip.FileCount(); ++i) described += zip.Files(i).HasDataDescriptor();
    EXPECT_GT(described, 5);
    zip.CloseZip();
    ExtractAndCompare(Zip("py.zip"));
}

TEST_F(ZipRoundTrip, InfoZipStreamedWithDataDescriptorsAndSelfExtractingPrefix) {
    // zip reading from stdin and writing to stdout streams the entry: data
    // descriptor with signature, zero sizes in the local header.
    InSrc("cat text.txt | zip -q - - | cat > " + ShellQuote(Zip("streamed.zip")));
    std::string stub = "#!/bin/sh\n# a self-extracting stub\n" + RandomBytes(5000, 11);
    WriteTestFile(Zip("sfx.zip"), stub + ReadFileToString(Zip("streamed.zip")));
    TZipArchiver zip;
    Open(zip, Zip("sfx.zip"));
    ASSERT_EQ(zip.FileCount(), 1);
    EXPECT_EQ(zip.PrefixSize(), int64_t(stub.size()));
    EXPECT_TRUE(zip.Files(0).HasDataDescriptor());
    EXPECT_TRUE(ToMemory(zip, 0) == ReadFileToString(Src() + "text.txt"));
    zip.CloseZip();

    // The same prefix with offsets that already count it (zip -A), and without.
    InSrc("zip -q -r -9 " + ShellQuote(Zip("plain.zip")) + " .");
    WriteTestFile(Zip("sfx2.zip"), stub + ReadFileToString(Zip("plain.zip")));
    ASSERT_EQ(RunTool("zip -A " + ShellQuote(Zip("sfx2.zip"))), 0);
    ExtractAndCompare(Zip("sfx2.zip"));
    WriteTestFile(Zip("sfx3.zip"), stub + ReadFileToString(Zip("plain.zip")));
    ExtractAndCompare(Zip("sfx3.zip"));
}

TEST_F(ZipRoundTrip, InfoZipSplitVolumes) {
    Put("big.bin", RandomBytes(300000, 21));
    InSrc("zip -q -r -s 64k " + ShellQuote(Zip("split.zip")) + " .");
    ASSERT_TRUE(FileExists(Zip("split.z04")));
    TZipArchiver zip;
    Open(zip, Zip("split.zip"));
    EXPECT_EQ(zip.SpanningMode(), smSplitting);
    EXPECT_GE(zip.VolumeCount(), 5);
    // Its second volume: the entry spans it whichever volume it starts on.
    std::string middle = Zip("split.z" + Format("%.2d", int(zip.Files(zip.IndexOf("big.bin")).DiskStart) + 2));
    ASSERT_TRUE(FileExists(middle));
    zip.CloseZip();
    ExtractAndCompare(Zip("split.zip"));
    ExpectSameFile("big.bin");

    // A missing middle volume fails the entries stored on it, not the run.
    ClearOut();
    ASSERT_TRUE(RenameFile(middle, Zip("elsewhere.bin")));
    TZipArchiver broken;
    Open(broken, Zip("split.zip"));
    RecordNatives(broken);
    broken.ExtractMatching();
    EXPECT_FALSE(broken.LastResult().Ok());
    ASSERT_FALSE(Natives.empty());
    EXPECT_EQ(Natives[0], 45);
    EXPECT_FALSE(FileExists(Out() + "big.bin"));
    ExpectSameFile("with space.txt");
}

TEST_F(ZipTest, Zip64RecordsFromPython) {
    Put("a.txt", TextBytes(70000, 5));
    Put("b.bin", RandomBytes(1000, 6));
    // Lowering the module's limits makes zipfile write the Zip64 extra field
    // with all-ones sizes, and the Zip64 end record and locator. The last
    // archive has a Zip64 record whose directory offset lies beyond any file.
    Py("import struct, zipfile\n"
       "zipfile.ZIP64_LIMIT = 0\n"
       "zipfile.ZIP_FILECOUNT_LIMIT = 0\n"
       "with zipfile.ZipFile('" + Zip("z64.zip") + "', 'w', zipfile.ZIP_DEFLATED) as zf:\n"
       "    zf.write('" + Src() + "a.txt', 'a.txt')\n"
       "    zf.write('" + Src() + "b.bin', 'b.bin')\n"
       "with zipfile.ZipFile('" + Zip("force.zip") + "', 'w') as zf:\n"
       "    with zf.open('f.txt', 'w', force_zip64=True) as f:\n"
       "        f.write(open('" + Src() + "a.txt', 'rb').read())\n"
       "d = bytearray(open('" + Zip("z64.zip") + "', 'rb').read())\n"
       "struct.pack_into('<Q', d, d.rfind(b'PK\\x06\\x06') + 48, 0x8000000000000042)\n"
       "open('" + Zip("z64far.zip") + "', 'wb').write(d)\n");
    ASSERT_TRUE(Contains(ReadFileToString(Zip("z64.zip")), std::string("PK\x06\x06", 4)));
    // With a self-extracting stub in front, the Zip64 record's recorded offset
    // leaves the stub out; with the far offset, the directory is still found
    // where its size puts it, with no prefix.
    WriteTestFile(Zip("z64sfx.zip"), RandomBytes(3000, 9) + ReadFileToString(Zip("z64.zip")));
    for (auto [name, prefix] : {std::pair{"z64.zip", 0}, {"z64sfx.zip", 3000}, {"z64far.zip", 0}}) {
        SCOPED_TRACE(name);
        ClearOut();
        TZipArchiver zip;
        Open(zip, Zip(name));
        ASSERT_EQ(zip.FileCount(), 2);
        EXPECT_FALSE(zip.Recovered());
        EXPECT_EQ(zip.PrefixSize(), prefix);
        EXPECT_EQ(zip.Files(0).UnpackedSize32, 0xFFFFFFFFu);
        EXPECT_EQ(zip.Files(0).UncompressedSize, 70000u);
        zip.ExtractMatching();
        EXPECT_TRUE(zip.LastResult().Ok());
        ExpectSameFile("a.txt");
        ExpectSameFile("b.bin");
    }

    TZipArchiver forced;
    Open(forced, Zip("force.zip"));
    ASSERT_EQ(forced.FileCount(), 1);
    EXPECT_TRUE(ToMemory(forced, 0) == ReadFileToString(Src() + "a.txt"));
}

TEST_F(ZipTest, TraditionalEncryptionAndThePasswordEvent) {
    Put("secret.txt", TextBytes(50000, 7));
    Put("small.txt", "tiny");
    InSrc("zip -q -P right " + ShellQuote(Zip("enc.zip")) + " secret.txt small.txt");

    TZipArchiver zip;
    Open(zip, Zip("enc.zip"));
    EXPECT_TRUE(zip.Files(0).Encrypted());
    zip.Password = WrongPassword(zip, {0});
    std::vector<std::string> answers = {zip.Password, "right"};
    std::vector<std::string> askedFor;
    zip.OnPassword = [&](TZipBaseArchiver *, const std::string &file, std::string &pw, bool &skip) {
        skip = askedFor.size() >= answers.size();
        if (!skip) pw = answers[askedFor.size()];
        askedFor.push_back(file);
    };
    zip.ExtractMatching();
    // The second entry reuses the password that worked.
    EXPECT_EQ(askedFor, (std::vector<std::string>{"secret.txt", "secret.txt"}));
    EXPECT_TRUE(zip.LastResult().Ok());
    ExpectSameFile("secret.txt");
    ExpectSameFile("small.txt");
    zip.CloseZip();

    // Without a handler the default question is asked; Cancel skips the
    // entry, deletes its output and keeps the older file.
    ClearOut();
    WriteTestFile(Out() + "secret.txt", "older good file");
    ScriptedQuestions q;
    TZipArchiver zip2;
    zip2.Questions = &q;
    Open(zip2, Zip("enc.zip"));
    zip2.Password = WrongPassword(zip2, {0});
    q.Passwords = {zip2.Password, ""};
    zip2.ExtractMatching("secret.txt");
    ASSERT_EQ(q.Asked.size(), 2u);
    EXPECT_EQ(q.Asked[0], "Password for \"secret.txt\"|Enter password: ");
    EXPECT_EQ(zip2.LastResult().Skipped.Count(), 1);
    EXPECT_EQ(ReadFileToString(Out() + "secret.txt"), "older good file");
    EXPECT_EQ(LeftoverTemporaries(Out()), 0);
}

TEST_F(ZipTest, AttributesOfUnixAndDosEntries) {
    Py("import zipfile\n"
       "with zipfile.ZipFile('" + Zip("attr.zip") + "', 'w') as zf:\n"
       "    for name, attr, data, system in (('exec', 0o100755 << 16, b'x', 3), ('setuid', 0o104755 << 16, b'x', 3),\n"
       "            ('ro', (0o100644 << 16) | 1, b'x', 3), ('dosro', 0x21, b'x', 0),\n"
       "            ('link', 0o120777 << 16, b'/etc/passwd', 3)):\n"
       "        zi = zipfile.ZipInfo(name)\n"
       "        zi.create_system, zi.external_attr = system, attr\n"
       "        zf.writestr(zi, data)\n");
    TZipArchiver zip;
    Open(zip, Zip("attr.zip"));
    zip.ExtractMatching();
    EXPECT_EQ(FileMode(Out() + "exec"), 0755u);
    EXPECT_EQ(FileMode(Out() + "setuid"), 0755u);
    EXPECT_EQ(FileMode(Out() + "ro"), 0444u);
    EXPECT_EQ(FileMode(Out() + "dosro"), 0444u);
    struct stat st;
    EXPECT_NE(::lstat((Out() + "link").c_str(), &st), 0);  // a link entry makes nothing
    EXPECT_EQ(zip.LastResult().Skipped.IndexOf("link"), 0);
}

TEST_F(ZipTest, MasksRecursionAndSearchAttributes) {
    const std::vector<std::string> all = {"a.txt", "b.dat", "noext", "sub/c.txt", "sub/d.dat"};
    for (const std::string &f : all) Put(f, f);
    InSrc("zip -q -r " + ShellQuote(Zip("m.zip")) + " .");
    using V = std::vector<std::string>;
    struct Case {
        const char *mask;
        bool recurse;
        const char *exclude;
        V want;
    } cases[] = {
        {"*.txt", true, "", {"a.txt", "sub/c.txt"}},         {"*.TXT", false, "", {"a.txt"}},
        {"sub\\*", false, "", {"sub/c.txt", "sub/d.dat"}},   {"*.", true, "", {"noext"}},
        {"C:*.dat", true, "", {"b.dat", "sub/d.dat"}},       {"*.*", true, "", all},
        {"*.*", true, "sub\\*", {"a.txt", "b.dat", "noext"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.mask) + " excluding " + c.exclude);
        ClearOut();
        TZipArchiver zip;
        Open(zip, Zip("m.zip"));
        zip.Options.Recurse = c.recurse;
        zip.ExtractMatching(c.mask, 0x28BF, c.exclude);
        V got;
        for (const std::string &f : all)
            if (FileExists(Out() + f)) got.push_back(f);
        EXPECT_EQ(got, c.want);
    }
}

TEST_F(ZipTest, EventsInOrderWithBackslashNames) {
    Put("one.txt", TextBytes(3000000, 1));
    Put("dir/two.txt", "two");
    Put("skip.txt", "skip");
    InSrc("zip -q -r " + ShellQuote(Zip("e.zip")) + " one.txt dir skip.txt");
    TZipArchiver zip;
    Open(zip, Zip("e.zip"));
    std::vector<std::string> log;
    zip.OnOverallProgress = [&](TZipBaseArchiver *, double p, TZipProcessOperation op, TZipProgressPhase ph,
                                bool &) {
        if (ph != ppProcess) log.push_back("overall " + std::to_string(int(p)) + " " + std::to_string(op));
    };
    double lastProgress = -1;
    bool monotonic = true;
    zip.OnFileProgress = [&](TZipBaseArchiver *, const std::string &f, double p, TZipProcessOperation,
                             TZipProgressPhase ph, bool &) {
        if (ph == ppProcess) {
            monotonic = monotonic && p >= lastProgress;
            lastProgress = p;
            return;
        }
        lastProgress = -1;
        log.push_back("file " + f + " " + std::to_string(int(p)));
    };
    zip.OnConfirmProcessFile = [&](TZipBaseArchiver *, const std::string &f, TZipProcessOperation, bool &ok) {
        ok = f != "skip.txt";
    };
    zip.OnExtractFile = [&](TZipBaseArchiver *, std::string &f, int &, const std::string &) {
        log.push_back("extract " + f);
        if (f == "dir\\two.txt") f = "dir\\renamed.txt";
    };
    zip.ExtractMatching();
    std::vector<std::string> want = {
        "overall 0 4",        "file one.txt 0",         "extract one.txt",  "file one.txt 100",
        "file dir\\ 0",       "extract dir\\",          "file dir\\ 100",   "file dir\\two.txt 0",
        "extract dir\\two.txt", "file dir\\two.txt 100", "overall 100 4"};
    EXPECT_EQ(log, want);
    EXPECT_TRUE(monotonic);
    EXPECT_TRUE(FileExists(Out() + "dir/renamed.txt"));
    EXPECT_FALSE(FileExists(Out() + "skip.txt"));
    EXPECT_EQ(zip.LastResult().Skipped.IndexOf("skip.txt"), 0);
}

TEST_F(ZipTest, OverwriteModesAndReadOnlyTargets) {
    Put("f.txt", "new");
    Put("g.txt", "new g");
    InSrc("zip -q " + ShellQuote(Zip("o.zip")) + " f.txt g.txt");
    ScriptedQuestions q;
    q.Overwrites = {TZipQuestions::oaYesToAll};
    // Extracts over older copies of both files; f.txt read-only if asked.
    auto run = [&](TZipArchiver &zip, TZipOverwriteMode mode, bool readOnlyF) {
        ClearOut();
        WriteTestFile(Out() + "f.txt", "old");
        WriteTestFile(Out() + "g.txt", "old g");
        if (readOnlyF) ::chmod((Out() + "f.txt").c_str(), 0444);
        zip.Questions = &q;
        Open(zip, Zip("o.zip"));
        zip.Options.OverwriteMode = mode;
        zip.Options.ReplaceReadOnly = false;
        zip.ExtractMatching();
        EXPECT_EQ(zip.LastResult().Processed, 2);
        return ReadFileToString(Out() + "f.txt") + "|" + ReadFileToString(Out() + "g.txt");
    };
    TZipArchiver never, prompt, readOnly;
    EXPECT_EQ(run(never, omNever, false), "old|old g");
    EXPECT_EQ(run(prompt, omPrompt, false), "new|new g");
    ASSERT_EQ(q.Asked.size(), 1u);  // Yes to all
    EXPECT_EQ(q.Asked[0], "Overwrite file \"" + StringReplaceAll(Out(), "/", "\\") + "f.txt\" with \"f.txt\"");
    EXPECT_EQ(prompt.Options.OverwriteMode, omAlways);
    EXPECT_EQ(run(readOnly, omAlways, true), "old|new g");
    readOnly.Options.ReplaceReadOnly = true;
    readOnly.ExtractMatching();
    EXPECT_EQ(ReadFileToString(Out() + "f.txt"), "new");
}

TEST_F(ZipTest, OpeningErrors) {
    TZipArchiver zip;
    zip.FileName = Tmp.Path();
    EXPECT_EQ(NativeErrorOf([&] { zip.OpenZip(); }), 9);
    zip.FileName = Zip("missing.zip");
    EXPECT_EQ(NativeErrorOf([&] { zip.OpenZipMode(zomOpenRead); }), 12);
    EXPECT_EQ(NativeErrorOf([&] { zip.ExtractMatching(); }), 13);
    WriteTestFile(Zip("text.zip"), "<html>this is an error page, not an archive</html>\n");
    zip.FileName = Zip("text.zip");
    EXPECT_EQ(NativeErrorOf([&] { zip.OpenZip(); }), 35);
    EXPECT_FALSE(zip.Active());
    zip.OpenCorruptedArchives = false;
    EXPECT_EQ(NativeErrorOf([&] { zip.OpenZip(); }), 48);
    EXPECT_THROW(zip.SetCompressionMode(10), EZipException);
    // A missing file is started as a new, empty archive, valid once closed.
    zip.FileName = Zip("new.zip");
    zip.OpenZip();
    EXPECT_EQ(zip.FileCount(), 0);
    EXPECT_THROW(zip.SetSpanningMode(smSplitting), Exception);
    zip.CloseZip();
    EXPECT_EQ(ReadFileToString(Zip("new.zip")).size(), 22u);
    zip.OpenZip();
    EXPECT_FALSE(zip.Recovered());
    EXPECT_EQ(zip.FileCount(), 0);
}

TEST_F(ZipTest, WindowsNamesMeetExistingFilesWithoutRegardToCase) {
    // A name in code page 437 without the UTF-8 flag, as DOS and Windows
    // writers store it, and names in another letter case than the files
    // already installed.
    Py("import zipfile\n"
       "with zipfile.ZipFile('" + Zip("w.zip") + "', 'w') as zf:\n"
       "    zf.writestr('cafX.txt', b'oem name')\n"
       "    zf.writestr('Skins/Blue/BLUE.SKN', b'new skin')\n"
       "    zf.writestr('Skins/Blue/extra.bmp', b'bmp')\n"
       "    zf.writestr('TARNWICK.EXE', b'new program')\n"
       "data = open('" + Zip("w.zip") + "', 'rb').read().replace(b'cafX', b'caf\\x82')\n"
       "open('" + Zip("w.zip") + "', 'wb').write(data)\n");
    WriteTestFile(Out() + "skins/blue/blue.skn", "old skin");
    WriteTestFile(Out() + "tarnwick.exe", "old program");
    TZipArchiver zip;
    Open(zip, Zip("w.zip"));
    EXPECT_EQ(zip.Files(0).Name, "caf\xC3\xA9.txt");
    zip.ExtractMatching();
    EXPECT_TRUE(zip.LastResult().Ok());
    EXPECT_EQ(ReadFileToString(Out() + "caf\xC3\xA9.txt"), "oem name");
    EXPECT_EQ(ReadFileToString(Out() + "skins/blue/blue.skn"), "new skin");
    EXPECT_EQ(ReadFileToString(Out() + "skins/blue/extra.bmp"), "bmp");
    EXPECT_EQ(ReadFileToString(Out() + "tarnwick.exe"), "new program");
    EXPECT_EQ(ListDirectory(Out()), (std::vector<std::string>{"caf\xC3\xA9.txt", "skins", "tarnwick.exe"}));
}

TEST_F(ZipTest, SpannedVolumesComeThroughTheVolumeEvents) {
    Put("big.bin", RandomBytes(200000, 31));
    InSrc("zip -q -s 64k " + ShellQuote(Zip("span.zip")) + " big.bin");
    // Volumes on "disks": the numbered files are gone from beside the archive.
    auto disk = [&](int n) { return Zip("disk" + std::to_string(n) + ".bin"); };
    int volumes = 0;
    for (; FileExists(Zip("span.z" + Format("%.2d", volumes + 1))); ++volumes)
        ASSERT_TRUE(RenameFile(Zip("span.z" + Format("%.2d", volumes + 1)), disk(volumes + 1)));
    ASSERT_GE(volumes, 3);
    std::vector<std::string> requests;
    TZipArchiver zip;
    zip.OnRequestFirstVolume = [&](TZipBaseArchiver *, std::string &name, bool &) {
        requests.push_back("first");
        name = disk(1);
    };
    zip.OnRequestMiddleVolume = [&](TZipBaseArchiver *, int number, std::string &name, bool &) {
        requests.push_back("middle " + std::to_string(number));
        name = disk(number);
    };
    zip.OnRequestLastVolume = [&](TZipBaseArchiver *, std::string &name, bool &) { name = Zip("span.zip"); };
    Open(zip, Zip("span.zip"));
    EXPECT_EQ(zip.SpanningMode(), smSpanning);
    zip.ExtractMatching();
    EXPECT_TRUE(zip.LastResult().Ok());
    ExpectSameFile("big.bin");
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0], "first");
    EXPECT_EQ(requests[1], "middle 2");

    // Without handlers the disk questions are asked; Cancel ends the entry
    // with native 45, which aborts without a question of its own.
    ScriptedQuestions q;
    TZipArchiver plain;
    plain.Questions = &q;
    Open(plain, Zip("span.zip"));
    plain.ExtractMatching();
    ASSERT_FALSE(q.Asked.empty());
    EXPECT_EQ(q.Asked[0], "Please insert the first disk");
    EXPECT_TRUE(plain.LastResult().Aborted);
    EXPECT_EQ(plain.LastResult().Failed.Count(), 1);
}

TEST_F(ZipTest, DatesAndTheNewerOlderModes) {
    Put("dated.txt", "from the archive");
    ASSERT_EQ(RunTool("touch -d '2021-06-15 10:20:30' " + ShellQuote(Src() + "dated.txt")), 0);
    InSrc("zip -q " + ShellQuote(Zip("d.zip")) + " dated.txt");
    auto mtime = [](const std::string &p) {
        struct stat st {};
        ::stat(p.c_str(), &st);
        return st.st_mtime;
    };
    auto runWith = [&](TZipOverwriteMode mode, const char *existingDate) {
        WriteTestFile(Out() + "dated.txt", "existing");
        RunTool("touch -d '" + std::string(existingDate) + "' " + ShellQuote(Out() + "dated.txt"));
        TZipArchiver zip;
        Open(zip, Zip("d.zip"));
        zip.Options.OverwriteMode = mode;
        zip.ExtractMatching();
        return ReadFileToString(Out() + "dated.txt");
    };
    EXPECT_EQ(runWith(omAlways, "2020-01-01"), "from the archive");
    EXPECT_EQ(mtime(Out() + "dated.txt"), mtime(Src() + "dated.txt"));  // even seconds survive the DOS time
    EXPECT_EQ(runWith(omIfNewer, "2020-01-01"), "from the archive");
    EXPECT_EQ(runWith(omIfNewer, "2022-01-01"), "existing");
    EXPECT_EQ(runWith(omIfOlder, "2022-01-01"), "from the archive");
    EXPECT_EQ(runWith(omIfOlder, "2020-01-01"), "existing");
}

TEST_F(ZipTest, StreamedEncryptedEntriesCheckThePasswordAgainstTheTime) {
    Put("s.txt", TextBytes(40000, 14));
    // Streamed through pipes: flag bit 3, so the check byte is the time's.
    InSrc("cat s.txt | zip -q -P pw - - | cat > " + ShellQuote(Zip("se.zip")));
    TZipArchiver zip;
    zip.Password = "pw";
    Open(zip, Zip("se.zip"));
    ASSERT_TRUE(zip.Files(0).Encrypted() && zip.Files(0).HasDataDescriptor());
    int asked = 0;
    zip.OnPassword = [&](TZipBaseArchiver *, const std::string &, std::string &, bool &skip) {
        ++asked;
        skip = true;
    };
    EXPECT_TRUE(ToMemory(zip, 0) == ReadFileToString(Src() + "s.txt"));
    EXPECT_EQ(asked, 0);
    zip.Password = WrongPassword(zip, {0});
    EXPECT_EQ(ToMemory(zip, 0), "(failed) ");
    EXPECT_EQ(asked, 1);
}

TEST_F(ZipTest, InMemoryArchiveGoesToItsFileAndBack) {
    Put("m.txt", "memory");
    InSrc("zip -q " + ShellQuote(Zip("m.zip")) + " m.txt");
    TZipArchiver zip;
    Open(zip, Zip("m.zip"));
    zip.SetInMemory(true);
    ASSERT_TRUE(zip.Active());
    ASSERT_TRUE(DeleteFile(Zip("m.zip")));  // the archive now lives in memory only
    zip.ExtractMatching();
    EXPECT_EQ(ReadFileToString(Out() + "m.txt"), "memory");
    zip.FileName = Zip("copy.zip");
    zip.SetInMemory(false);
    EXPECT_TRUE(zip.Active());
    EXPECT_EQ(RunTool("unzip -tq " + ShellQuote(Zip("copy.zip"))), 0);
    // Not from inside an operation: the archive stays as it is.
    bool threw = false;
    zip.OnFileProgress = [&](TZipBaseArchiver *, const std::string &, double, TZipProcessOperation,
                             TZipProgressPhase ph, bool &) {
        if (ph == ppStart) threw = NativeErrorOf([&] { zip.SetInMemory(true); }) == 37;
    };
    ClearOut();
    zip.ExtractMatching();
    EXPECT_TRUE(threw);
    EXPECT_FALSE(zip.InMemory());
    EXPECT_EQ(ReadFileToString(Out() + "m.txt"), "memory");
    zip.OnFileProgress = nullptr;
    zip.CloseZip();
    zip.SetInMemory(true);
    EXPECT_EQ(NativeErrorOf([&] { zip.OpenZipMode(zomOpenRead); }), 28);
}

namespace {

// The default questions behind the volume events, reached directly.
class VolumeQuestionArchiver : public TZipArchiver {
public:
    using TZipBaseArchiver::DoDiskFull;
    using TZipBaseArchiver::DoRequestBlankVolume;
};

}  // namespace

TEST_F(ZipTest, DiskFullAndBlankDiskQuestionsOfSpannedArchives) {
    ScriptedQuestions q;
    VolumeQuestionArchiver zip;
    zip.Questions = &q;
    bool cancel = false;
    // Split archives are never asked about: a full disk cancels.
    zip.DoDiskFull(2, Zip("a.zip"), cancel);
    EXPECT_TRUE(cancel);
    EXPECT_TRUE(q.Asked.empty());

    zip.SetSpanningMode(smSpanning);
    zip.SpanningOptions.VolumeSize = vs1_44MB;
    cancel = false;
    zip.DoDiskFull(2, Zip("a.zip"), cancel);
    EXPECT_TRUE(cancel);  // the scripted answer is Cancel
    ASSERT_EQ(q.Asked.size(), 1u);
    EXPECT_TRUE(StartsText("Disk is full. Required free space: 1457664 bytes, but available only: ", q.Asked[0]) &&
                EndsText(" bytes. Clean the disk or find another blank disk", q.Asked[0]) && !Contains(q.Asked[0], "%"))
        << q.Asked[0];

    zip.SpanningOptions.FirstVolumeSize = 100000;
    zip.DoDiskFull(1, Zip("a.zip"), cancel);
    EXPECT_TRUE(StartsText("Disk is full. Required free space: 100000 bytes", q.Asked.back()));

    std::string name = Zip("a.zip");
    zip.DoRequestBlankVolume(3, name, cancel);
    EXPECT_EQ(q.Asked.back(), "Please insert a blank disk #3");
}

TEST_F(ZipTest, WithoutAPasswordTheEventIsAskedBeforeAnyTry) {
    // An entry whose 12-byte header happens to pass the one-byte check for
    // the empty password (one archive in 256): the component must still ask
    // for the password rather than extract garbage.
    const std::string data = "the secret skin";
    const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef *>(data.data()), uInt(data.size())));
    std::string enc;
    for (int seed = 0; enc.empty(); ++seed) {
        std::string e(12, '\0');
        for (int i = 0; i < 11; ++i) e[size_t(i)] = char(seed * 31 + i * 7 + (seed >> 8));
        e[11] = char(crc >> 24);
        e += data;
        TZipCryptKeys("right").Encode(reinterpret_cast<uint8_t *>(e.data()), e.size());
        std::string probe = e.substr(0, 12);
        TZipCryptKeys("").Decode(reinterpret_cast<uint8_t *>(probe.data()), 12);
        if (uint8_t(probe[11]) == uint8_t(crc >> 24)) enc = e;
    }
    auto le = [](uint64_t v, int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += char(v >> (8 * i));
        return s;
    };
    const std::string name = "s.txt";
    std::string common = le(20, 2) + le(1, 2) + le(0, 2) + le(0, 2) + le(0x21, 2) + le(crc, 4) + le(enc.size(), 4) +
                         le(data.size(), 4) + le(name.size(), 2) + le(0, 2);
    std::string local = le(0x04034B50, 4) + common + name + enc;
    std::string central = le(0x02014B50, 4) + le(20, 2) + common + le(0, 6) + le(0x20, 4) + le(0, 4) + name;
    std::string end = le(0x06054B50, 4) + le(0, 4) + le(1, 2) + le(1, 2) + le(central.size(), 4) +
                      le(local.size(), 4) + le(0, 2);
    WriteTestFile(Zip("lucky.zip"), local + central + end);

    TZipArchiver zip;
    Open(zip, Zip("lucky.zip"));
    int asked = 0;
    zip.OnPassword = [&](TZipBaseArchiver *, const std::string &, std::string &pw, bool &) {
        ++asked;
        pw = "right";
    };
    zip.ExtractMatching();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(zip.LastResult().Ok()) << zip.LastResult().Failed.Text();
    EXPECT_EQ(ReadFileToString(Out() + "s.txt"), data);
}
