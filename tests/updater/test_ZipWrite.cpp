// Archives written by the component: every peer tests them and extracts
// them byte for byte, as does the component's own reader.
#include "ZipWriteCommon.h"

#include "ZipFormat.h"

#include <deque>
#include <sys/statvfs.h>

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
