// Archives written by the component: every peer tests them and extracts
// them byte for byte, as does the component's own reader.
#include "ZipWriteCommon.h"

#include "ZipFormat.h"

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
