// Archives written by the component: every peer tests them and extracts
// them byte for byte, as does the component's own reader.
#include "ZipWriteCommon.h"

#include "ZipFormat.h"

#include <deque>
#include <sys/statvfs.h>
#include <unistd.h>

TEST_F(ZipWriteTest, StoredAndDeflatedAtSeveralLevelsPassEveryPeer) {
    MakeTree();
    for (int mode : {0, 1, 6, 9}) {
        SCOPED_TRACE(mode);
        std::string archive = Zip("mode" + std::to_string(mode) + ".zip");
        MakeArchive(archive, mode);
        ExpectPeersAccept(archive);
        ExpectUnzipGivesSource(archive);
        ExpectReaderGivesSource(archive);
        TZipArchiver zip;
        Open(zip, archive);
        int deflated = 0;
        for (int i = 0; i < zip.FileCount(); ++i) {
            const TZipDirItem &it = zip.Files(i);
            deflated += it.Method == 8;
            EXPECT_EQ(it.HostSystem(), 3) << it.Name;
            if (it.Name == "empty.txt" || it.IsFolder()) {
                EXPECT_EQ(it.Method, 0) << it.Name;
            }
        }
        EXPECT_EQ(deflated, mode == 0 ? 0 : 6);
        EXPECT_GE(zip.IndexOf("emptydir/"), 0);
        EXPECT_TRUE(zip.Files(zip.IndexOf("emptydir/")).IsFolder());
    }
    // Higher levels make smaller archives of the text.
    EXPECT_GT(FileSize(Zip("mode1.zip")), FileSize(Zip("mode9.zip")));
    EXPECT_GT(FileSize(Zip("mode0.zip")), FileSize(Zip("mode1.zip")));
}

TEST_F(ZipWriteTest, EncryptedEntriesOpenWithThePasswordAndHeadersNeverRepeat) {
    MakeTree();
    for (int mode : {0, 6}) {
        SCOPED_TRACE(mode);
        std::string archive = Zip("enc" + std::to_string(mode) + ".zip");
        MakeArchive(archive, mode, "s3cret pw");
        ExpectPeersAccept(archive, "s3cret pw");
        ExpectUnzipGivesSource(archive, "s3cret pw");
        ExpectReaderGivesSource(archive, "s3cret pw");
        EXPECT_NE(RunProgram({"unzip", "-t", "-q", "-P", "wrong", archive}), 0);
        TZipArchiver zip;
        Open(zip, archive);
        for (int i = 0; i < zip.FileCount(); ++i)
            EXPECT_EQ(zip.Files(i).Encrypted(), !zip.Files(i).IsFolder()) << zip.Files(i).Name;
    }
    // The same files twice: the random part of each encryption header differs.
    MakeArchive(Zip("again.zip"), 6, "s3cret pw");
    TZipArchiver one, two;
    Open(one, Zip("enc6.zip"));
    Open(two, Zip("again.zip"));
    std::string a = Bytes(Zip("enc6.zip")), b = Bytes(Zip("again.zip"));
    int same = 0;
    for (int i = 0; i < one.FileCount(); ++i) {
        if (!one.Files(i).Encrypted()) continue;
        same += a.substr(DataOffset(a, one.Files(i)), 10) == b.substr(DataOffset(b, two.Files(two.IndexOf(one.Files(i).Name))), 10);
    }
    EXPECT_EQ(same, 0);
}

TEST_F(ZipWriteTest, Zip64ByEntryCount) {
    // More entries than the 16-bit counts hold, added from streams in one update.
    const int count = 70000;
    std::deque<TStringStream> data;
    TZipArchiver zip;
    zip.FileName = Zip("many.zip");
    zip.OpenZip();
    zip.BeginUpdate();
    for (int i = 0; i < count; ++i) {
        data.emplace_back("entry " + std::to_string(i) + "\n");
        zip.AddFromStream("d" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".txt", data.back());
    }
    EXPECT_EQ(Bytes(Zip("many.zip")), "");  // nothing written before EndUpdate
    zip.EndUpdate();
    EXPECT_EQ(zip.LastResult().Processed, count);
    zip.CloseZip();

    std::string bytes = Bytes(Zip("many.zip"));
    ASSERT_GT(bytes.size(), 22u);
    const auto *end = reinterpret_cast<const uint8_t *>(bytes.data() + bytes.size() - 22);
    EXPECT_EQ(Get32(end), SigEnd);
    EXPECT_EQ(Get16(end + 8), 0xFFFF);
    EXPECT_EQ(Get16(end + 10), 0xFFFF);
    EXPECT_EQ(Get32(end - 20), SigZip64Locator);
    const auto *z64 = reinterpret_cast<const uint8_t *>(bytes.data() + Get64(end - 20 + 8));
    EXPECT_EQ(Get32(z64), SigZip64End);
    EXPECT_EQ(Get64(z64 + 32), uint64_t(count));
    ExpectPeersAccept(Zip("many.zip"));

    TZipArchiver reader;
    Open(reader, Zip("many.zip"));
    ASSERT_EQ(reader.FileCount(), count);
    EXPECT_EQ(ToMemory(reader, reader.IndexOf("d6/f69999.txt")), "entry 69999\n");
}

TEST_F(ZipWriteTest, Zip64FieldsOnEveryEntryWhenAlways) {
    MakeTree();
    MakeArchive(Zip("always.zip"), 6, "", zmAlways);
    ExpectPeersAccept(Zip("always.zip"));
    ExpectUnzipGivesSource(Zip("always.zip"));
    ExpectReaderGivesSource(Zip("always.zip"));
    TZipArchiver zip;
    Open(zip, Zip("always.zip"));
    for (int i = 0; i < zip.FileCount(); ++i) {
        const TZipDirItem &it = zip.Files(i);
        EXPECT_EQ(it.VersionNeeded, 45) << it.Name;
        EXPECT_EQ(it.PackedSize32, 0xFFFFFFFFu) << it.Name;
        EXPECT_EQ(it.Offset32, 0xFFFFFFFFu) << it.Name;
        ASSERT_FALSE(it.Extra.empty()) << it.Name;
        EXPECT_EQ(it.Extra[0].HeaderID, 1) << it.Name;
    }
}

// An entry of 4 GiB and more: its size needs Zip64, which TZipArchiver leaves
// off unless asked. The file is sparse, so it costs no disk.
TEST_F(ZipWriteTest, Zip64BySizeOnASparseFile) {
    const int64_t big = (int64_t(1) << 32) + 123457;
    std::string path = Src() + "sparse.bin";
    WriteTestFile(path, "");
    ASSERT_EQ(::truncate(path.c_str(), big), 0);
    Put("after.txt", "behind the big one\n");
    struct statvfs fs;
    ASSERT_EQ(::statvfs(Tmp.Path().c_str(), &fs), 0);

    TZipArchiver off;  // Zip64 disabled: the big file fails, the other goes in
    off.FileName = Zip("off.zip");
    off.OpenZip();
    off.BaseDir = Src();
    RecordNatives(off);
    off.AddFiles("*.*");
    EXPECT_EQ(Natives, std::vector<int>{41});
    EXPECT_EQ(off.FileCount(), 1);
    ASSERT_EQ(off.LastResult().Failed.Count(), 1);
    EXPECT_EQ(off.LastResult().Failed[0], "sparse.bin");
    off.CloseZip();
    ExpectPeersAccept(Zip("off.zip"));

    TZipArchiver zip;
    zip.Zip64Mode = zmAuto;
    zip.FileName = Zip("big.zip");
    zip.SetCompressionMode(2);  // the fastest of zlib's levels on zeros
    zip.OpenZip();
    zip.BaseDir = Src();
    zip.AddFiles("*.*");
    ASSERT_TRUE(zip.LastResult().Ok());
    const TZipDirItem &it = zip.Files(zip.IndexOf("sparse.bin"));
    EXPECT_EQ(it.UncompressedSize, uint64_t(big));
    EXPECT_EQ(it.UnpackedSize32, 0xFFFFFFFFu);
    EXPECT_EQ(it.VersionNeeded, 45);
    zip.CloseZip();
    ExpectPeersAccept(Zip("big.zip"), "", true);
}

TEST(ZipStoredName, ByStorePathWithoutDriveOrRoot) {
    struct Case {
        const char *path;
        TZipStorePath how;
        const char *want;
    } cases[] = {
        {"/base/dir/a/b.txt", spRelativePath, "a/b.txt"},
        {"a/b.txt", spRelativePath, "a/b.txt"},
        {"/base/dir/a/../c.txt", spRelativePath, "c.txt"},
        {"/base/dir/sub/", spRelativePath, "sub"},
        {"/base/dir/sub/.", spRelativePath, "sub"},
        {"/base/dir", spRelativePath, ""},
        // Outside the base folder the path would climb: the full path stays.
        {"../up.txt", spRelativePath, "base/up.txt"},
        {"/elsewhere/x.txt", spRelativePath, "elsewhere/x.txt"},
        {"/base/dir/a/b.txt", spNoPath, "b.txt"},
        {"/base/dir/a/b.txt", spFullPath, "base/dir/a/b.txt"},
        {"/base/dir/a/b.txt", spFullPathWithDrive, "base/dir/a/b.txt"},
        {"C:\\dir\\file.txt", spRelativePath, "dir/file.txt"},
        {"C:\\dir\\file.txt", spFullPath, "dir/file.txt"},
        {"C:\\dir\\file.txt", spFullPathWithDrive, "C:/dir/file.txt"},
        {"\\\\server\\share\\x.txt", spFullPath, "share/x.txt"},
        {"\\\\server", spFullPath, ""},
        {"C:\\dir\\sub\\", spFullPath, "dir/sub"},
    };
    for (const Case &c : cases) EXPECT_EQ(ZipStoredName(c.path, "/base/dir/", c.how), c.want) << c.path << " " << c.how;
    char cwd[4096];
    ASSERT_TRUE(::getcwd(cwd, sizeof cwd));
    EXPECT_EQ(ZipStoredName(std::string(cwd) + "/x.txt", "", spRelativePath), "x.txt");
    EXPECT_EQ(ZipStoredName("/base/dir/x", "/base/./dir//", spRelativePath), "x");
}

TEST(ZipWriteSettings, CompressionModesAndVolumeNames) {
    EXPECT_EQ(ZipCompressionBufferSize(0), 0x100000u);
    EXPECT_EQ(ZipCompressionBufferSize(2), 0x80000u);
    EXPECT_EQ(ZipCompressionBufferSize(5), 0x100000u);
    EXPECT_EQ(ZipCompressionBufferSize(8), 0x180000u);
    TZipArchiver zip;
    EXPECT_EQ(zip.CompressionMode(), 1);
    zip.SetCompressionLevel(clMax);
    EXPECT_EQ(zip.CompressionMode(), 9);
    zip.SetCompressionLevel(clNormal);
    EXPECT_EQ(zip.CompressionMode(), 6);
    EXPECT_EQ(NativeErrorOf([&] { zip.SetCompressionMode(10); }), 5);

    const std::string a = "/d/arc.zip";
    EXPECT_EQ(ZipVolumeFileName(a, 0, false, smSplitting, false, false), "/d/arc.z01");
    EXPECT_EQ(ZipVolumeFileName(a, 11, false, smSplitting, false, false), "/d/arc.z12");
    EXPECT_EQ(ZipVolumeFileName(a, 3, true, smSplitting, false, false), a);
    EXPECT_EQ(ZipVolumeFileName(a, 1, false, smSplitting, true, false), "/d/arc_002.zip");
    EXPECT_EQ(ZipVolumeFileName(a, 0, false, smSplitting, true, true), "/d/arc.exe");
    EXPECT_EQ(ZipVolumeFileName(a, 1, false, smSplitting, true, true), "/d/arc_002.exe");
    EXPECT_EQ(ZipVolumeFileName("/d/arc.exe", 2, true, smSplitting, false, true), "/d/arc.zip");
    EXPECT_EQ(ZipVolumeFileName(a, 4, false, smSpanning, false, false), a);
    EXPECT_EQ(ZipVolumeFileName(a, 4, true, smSpanning, true, false), "/d/arc_005.zip");
}

TEST_F(ZipWriteTest, EventsOfAddingFiles) {
    Put("a.txt", "a");
    Put("b.txt", "b");
    Put("dir/c.txt", "c");
    TZipArchiver zip;
    zip.FileName = Zip("events.zip");
    zip.OpenZip();
    zip.BaseDir = Src();
    std::vector<std::string> log;
    zip.OnOverallProgress = [&](TZipBaseArchiver *, double p, TZipProcessOperation op, TZipProgressPhase ph, bool &) {
        if (ph != ppProcess) log.push_back("overall " + std::to_string(int(p)) + " " + std::to_string(op));
    };
    zip.OnFileProgress = [&](TZipBaseArchiver *, const std::string &f, double p, TZipProcessOperation op,
                             TZipProgressPhase ph, bool &) {
        if (ph != ppProcess) log.push_back("file " + f + " " + std::to_string(int(p)) + " " + std::to_string(op));
    };
    zip.OnStoreFile = [&](TZipBaseArchiver *, std::string &f, int &attr, std::string &comment, const std::string &orig) {
        log.push_back("store " + f + " " + ExtractFileName(orig));
        if (f == "a.txt") {
            f = "renamed\\a.txt";
            comment = "from a";
        }
        if (f == "b.txt") attr |= faReadOnly;
    };
    zip.OnConfirmProcessFile = [&](TZipBaseArchiver *, const std::string &f, TZipProcessOperation op, bool &ok) {
        log.push_back("confirm " + f + " " + std::to_string(op));
        ok = f != "dir\\c.txt";
    };
    zip.AddFiles("*.*");
    std::vector<std::string> want = {
        "store a.txt a.txt",   "confirm renamed\\a.txt 0", "store b.txt b.txt", "confirm b.txt 0",
        "store dir\\ dir",     "confirm dir\\ 0",          "store dir\\c.txt c.txt", "confirm dir\\c.txt 0",
        "overall 0 0",         "file renamed\\a.txt 0 0",  "file renamed\\a.txt 100 0", "file b.txt 0 0",
        "file b.txt 100 0",    "file dir\\ 0 0",           "file dir\\ 100 0",   "overall 100 0"};
    EXPECT_EQ(log, want);
    EXPECT_EQ(zip.LastResult().Skipped.IndexOf("dir/c.txt"), 0);
    ASSERT_GE(zip.IndexOf("renamed/a.txt"), 0);
    EXPECT_EQ(zip.Files(zip.IndexOf("renamed/a.txt")).Comment, "from a");
    EXPECT_EQ(zip.Files(zip.IndexOf("b.txt")).UnixMode() & 0222, 0u);
    zip.CloseZip();
    ExpectPeersAccept(Zip("events.zip"));

    // A failure is put to the failure event, which may have it tried again.
    TZipArchiver retry;
    retry.FileName = Zip("retry.zip");
    retry.OpenZip();
    retry.BaseDir = Src();
    std::vector<std::string> failures;
    retry.OnProcessFileFailure = [&](TZipBaseArchiver *, const std::string &f, TZipProcessOperation op, int native,
                                     int code, const std::string &text, TZipFailureAction &action) {
        failures.push_back(f + " " + std::to_string(op) + " " + std::to_string(native) + " " + std::to_string(code) +
                           " " + text);
        Put("late.txt", "here now");
        action = fxaRetry;
    };
    retry.BeginUpdate();
    Put("late.txt", "x");
    retry.AddFiles("late.txt");
    DeleteFile(Src() + "late.txt");
    retry.EndUpdate();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0], "late.txt 0 33 12 Cannot open file \"" + Src() + "late.txt\" - Native error: 00033");
    EXPECT_EQ(ToMemory(retry, retry.IndexOf("late.txt")), "here now");

    // Without a handler the failure question is asked.
    ScriptedQuestions q;
    q.Failures = {fxaAbort};
    TZipArchiver asked;
    asked.Questions = &q;
    asked.FileName = Zip("retry.zip");
    asked.OpenZip();
    asked.BaseDir = Src();
    asked.BeginUpdate();
    asked.AddFiles("a.txt");
    DeleteFile(Src() + "a.txt");
    asked.EndUpdate();
    ASSERT_EQ(q.Asked.size(), 1u);
    EXPECT_EQ(q.Asked[0], "Cannot open file \"" + Src() + "a.txt\" - Native error: 00033. File processing error, possibly disk is full");
    EXPECT_TRUE(asked.LastResult().Aborted);
}

TEST_F(ZipWriteTest, MovedFilesGoOnceTheArchiveHoldsThem) {
    Put("keep.dat", "stays");
    Put("m1.txt", "one");
    Put("sub/m2.txt", "two");
    TZipArchiver cancelled;
    cancelled.FileName = Zip("move.zip");
    cancelled.OpenZip();
    cancelled.BaseDir = Src();
    cancelled.OnOverallProgress = [](TZipBaseArchiver *, double, TZipProcessOperation, TZipProgressPhase ph,
                                     bool &cancel) { cancel = ph == ppStart; };
    cancelled.MoveFiles("*.txt");
    EXPECT_TRUE(FileExists(Src() + "m1.txt"));
    EXPECT_EQ(cancelled.FileCount(), 0);
    cancelled.CloseZip();

    TZipArchiver zip;
    zip.FileName = Zip("move.zip");
    zip.OpenZip();
    zip.BaseDir = Src();
    zip.MoveFiles("*.txt");
    EXPECT_FALSE(FileExists(Src() + "m1.txt"));
    EXPECT_FALSE(FileExists(Src() + "sub/m2.txt"));
    EXPECT_TRUE(FileExists(Src() + "keep.dat"));
    EXPECT_EQ(ToMemory(zip, zip.IndexOf("sub/m2.txt")), "two");
    zip.CloseZip();
    ExpectPeersAccept(Zip("move.zip"));
}

TEST_F(ZipWriteTest, StreamsMemoryAndReadOnlyArchives) {
    // The caller's stream is read from where it stands, and stays there.
    TStringStream source("skip this|the entry's data");
    source.SetPosition(10);
    TMemoryStream archive;
    TZipArchiver zip;
    zip.OpenZipStream(&archive);
    zip.AddFromStream("from\\stream.txt", source);
    EXPECT_EQ(source.Position(), 10);
    EXPECT_EQ(NativeErrorOf([&] { zip.AddFromStream("", source); }), 9);
    zip.SetComment("in memory");
    zip.CloseZip();
    archive.SaveToFile(Zip("stream.zip"));
    ExpectPeersAccept(Zip("stream.zip"));
    TZipArchiver reader;
    Open(reader, Zip("stream.zip"));
    EXPECT_EQ(ToMemory(reader, reader.IndexOf("from/stream.txt")), "the entry's data");
    EXPECT_EQ(reader.Comment(), "in memory");
    reader.CloseZip();

    // An archive in memory goes to its file when it leaves memory.
    TZipArchiver mem;
    mem.SetInMemory(true);
    mem.FileName = Zip("memory.zip");
    mem.OpenZip();
    TStringStream data(TextBytes(100000, 4));
    mem.AddFromStream("data.txt", data);
    EXPECT_FALSE(FileExists(Zip("memory.zip")));
    // Changes not written yet keep it in memory rather than go lost.
    mem.BeginUpdate();
    mem.SetComment("pending");
    EXPECT_EQ(NativeErrorOf([&] { mem.SetInMemory(false); }), 26);
    mem.EndUpdate();
    mem.SetInMemory(false);
    EXPECT_EQ(ToMemory(mem, 0), TextBytes(100000, 4));
    EXPECT_EQ(mem.Comment(), "pending");
    mem.CloseZip();
    ExpectPeersAccept(Zip("memory.zip"));

    // Opened read-only, an archive is not changed.
    TZipArchiver ro;
    ro.FileName = Zip("memory.zip");
    ro.OpenZipMode(zomOpenRead);
    EXPECT_EQ(NativeErrorOf([&] { ro.DeleteFiles("*.*"); }), 32);
    TZipArchiver closed;
    EXPECT_EQ(NativeErrorOf([&] { closed.AddFiles("*.*"); }), 13);
}

// Links to files are followed, links to folders are not (a link up the tree
// would never end), and pipes, which hold no data and would block a read,
// are left out.
TEST_F(ZipWriteTest, LinksAndSpecialFilesInTheSourceTree) {
    Put("real.txt", "real data");
    ForceDirectories(Src() + "dir");
    ASSERT_EQ(::symlink("../real.txt", (Src() + "dir/link.txt").c_str()), 0);
    ASSERT_EQ(::symlink("..", (Src() + "dir/up").c_str()), 0);
    ASSERT_EQ(::symlink("missing", (Src() + "dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo((Src() + "pipe").c_str(), 0644), 0);
    TZipArchiver zip;
    zip.FileName = Zip("links.zip");
    zip.OpenZip();
    zip.BaseDir = Src();
    zip.AddFiles("*.*");
    std::vector<std::string> names;
    for (int i = 0; i < zip.FileCount(); ++i) names.push_back(zip.Files(i).Name);
    EXPECT_EQ(names, (std::vector<std::string>{"dir/", "dir/link.txt", "real.txt"}));
    EXPECT_EQ(ToMemory(zip, zip.IndexOf("dir/link.txt")), "real data");
    // The archive in the folder it takes its files from stays out of itself.
    TZipArchiver inside;
    inside.FileName = Src() + "inside.zip";
    inside.OpenZip();
    inside.BaseDir = Src();
    inside.AddFiles("*.zip");
    inside.AddFiles("*.*");
    EXPECT_LT(inside.IndexOf("inside.zip"), 0);
    EXPECT_EQ(inside.FileCount(), 3);
}

// Names that another system stored in its code page keep their bytes when
// the archive is written again; a renamed entry gets its name in UTF-8.
TEST_F(ZipWriteTest, NamesOfOtherSystemsKeepTheirBytes) {
    // Python writes UTF-8 names; the code page 437 bytes go in afterwards.
    Py("import zipfile\n"
       "with zipfile.ZipFile('" + Zip("cp437.zip") + "', 'w') as zf:\n"
       "    zf.writestr('naXve.txt', b'cp437 name')\n"
       "    zf.writestr('gone.txt', b'x')\n"
       "    zf.writestr('cafX.txt', b'renamed')\n"
       "d = open('" + Zip("cp437.zip") + "', 'rb').read()\n"
       "d = d.replace(b'naXve', b'na\\x8bve').replace(b'cafX', b'caf\\x82')\n"
       "open('" + Zip("cp437.zip") + "', 'wb').write(d)\n");
    std::string before = Bytes(Zip("cp437.zip"));
    ASSERT_TRUE(Contains(before, "na\x8Bve.txt"));  // code page 437, no UTF-8 flag
    TZipArchiver zip;
    Open(zip, Zip("cp437.zip"));
    ASSERT_GE(zip.IndexOf("na\xC3\xAFve.txt"), 0);
    zip.DeleteFiles("gone.txt");
    EXPECT_TRUE(zip.RenameFile("caf\xC3\xA9.txt", "th\xC3\xA9.txt"));
    zip.CloseZip();
    std::string after = Bytes(Zip("cp437.zip"));
    EXPECT_TRUE(Contains(after, "na\x8Bve.txt"));
    EXPECT_FALSE(Contains(after, "gone.txt"));
    ExpectPeersAccept(Zip("cp437.zip"));
    std::string out;
    ASSERT_EQ(RunPython("import sys, zipfile\n"
                        "z = zipfile.ZipFile(sys.argv[1])\n"
                        "print(sorted((n.encode().hex(), z.read(n).decode()) for n in z.namelist()))\n",
                        {Zip("cp437.zip")}, &out),
              0);
    EXPECT_EQ(Trim(out), "[('6e61c3af76652e747874', 'cp437 name'), ('7468c3a92e747874', 'renamed')]");
}

// A self-extracting stub of more than 4 GiB (sparse: mostly a hole, which
// stays a hole in the archive) puts every local header and the directory
// past 4 GiB: their offsets go into Zip64 fields. Changing the archive copies
// the stub again, the hole as a hole.
TEST_F(ZipWriteTest, Zip64ByOffsetBeyond4GiB) {
    MakeTree();
    std::string stub = Zip("stub.sh");
    WriteTestFile(stub, "#!/bin/sh\n# a stub with a hole\n");
    ASSERT_EQ(::truncate(stub.c_str(), (int64_t(1) << 32) + 1000), 0);
    struct stat st;
    ASSERT_EQ(::stat(stub.c_str(), &st), 0);
    if (int64_t(st.st_blocks) * 512 > (int64_t(1) << 30)) GTEST_SKIP() << "no sparse files here";
    TZipArchiver zip;
    zip.Zip64Mode = zmAuto;
    zip.SFXStub = stub;
    zip.FileName = Zip("offset.zip");
    zip.OpenZip();
    zip.BaseDir = Src();
    zip.AddFiles("*.*");
    ASSERT_TRUE(zip.LastResult().Ok());
    EXPECT_TRUE(zip.RenameFile("text.txt", "text2.txt"));
    const TZipDirItem &it = zip.Files(zip.IndexOf("text2.txt"));
    EXPECT_GT(it.LocalHeaderOffset, 0xFFFFFFFFull);
    EXPECT_EQ(it.Offset32, 0xFFFFFFFFu);
    EXPECT_EQ(it.VersionNeeded, 45);
    zip.CloseZip();
    ASSERT_EQ(::stat(Zip("offset.zip").c_str(), &st), 0);
    EXPECT_LT(int64_t(st.st_blocks) * 512, int64_t(1) << 30);  // the hole stayed one
    std::string tail(22 + 20, '\0');
    {
        TFileStream f(Zip("offset.zip"), fmOpenRead);
        f.Seek(-int64_t(tail.size()), TSeekOrigin::soEnd);
        f.ReadBuffer(tail.data(), int64_t(tail.size()));
    }
    const auto *t = reinterpret_cast<const uint8_t *>(tail.data());
    EXPECT_EQ(Get32(t), SigZip64Locator);
    EXPECT_EQ(Get32(t + 20), SigEnd);
    EXPECT_EQ(Get32(t + 20 + 16), 0xFFFFFFFFu);  // the directory's offset
    RenameFile(Src() + "text.txt", Src() + "text2.txt");
    SevenZipTakesIt = false;
    ExpectPeersAccept(Zip("offset.zip"));
    ExpectUnzipGivesSource(Zip("offset.zip"));
    ExpectReaderGivesSource(Zip("offset.zip"));
}
