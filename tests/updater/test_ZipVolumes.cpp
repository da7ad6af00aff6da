// Archives written over several volumes: split files beside each other that
// Info-ZIP joins back, spanned disks asked for through the volume events,
// and a self-extracting stub in front of an archive.
#include "ZipWriteCommon.h"

#include "ZipFormat.h"

#include <numeric>

class ZipVolumeTest : public ZipWriteTest {
protected:
    void SetUp() override {
        MakeTree();
        Put("big.bin", RandomBytes(300000, 21));
    }
    // Writes the source tree as a new multi-volume archive.
    void MakeVolumes(TZipArchiver &zip, const std::string &archive, TZipSpanningMode mode, bool advanced,
                     int64_t volumeSize = 65536) {
        zip.SetSpanningMode(mode);
        zip.SpanningOptions.AdvancedNaming = advanced;
        zip.SpanningOptions.VolumeSize = vsCustom;
        zip.SpanningOptions.CustomVolumeSize = volumeSize;
        zip.FileName = archive;
        zip.OpenZip();
        zip.BaseDir = Src();
        zip.AddFiles("*.*");
    }
    // 7-Zip tests and extracts split volumes as they lie.
    void ExpectSevenZipGivesSource(const std::string &archive, const std::string &password = "") {
        SCOPED_TRACE(archive);
        if (!HaveTool("7z")) return;
        std::string dir = Tmp.Path() + "seven/";
        RunTool("rm -rf " + ShellQuote(dir));
        std::string out;
        std::string pw = "-p" + password;
        EXPECT_EQ(RunProgram({"7z", "t", "-bd", pw, archive}, &out, nullptr, Env()), 0) << out;
        out.clear();
        ASSERT_EQ(RunProgram({"7z", "x", "-bd", "-y", pw, "-o" + dir, archive}, &out, nullptr, Env()), 0) << out;
        out.clear();
        EXPECT_EQ(RunProgram({"diff", "-r", Src(), dir}, &out), 0) << out;
    }
    // Info-ZIP joins split volumes into one archive, which every peer takes.
    // (Its zip 3.0 loses data of an entry that spans three volumes or more,
    // also in split archives of its own making: the entries to join must
    // each fit two.)
    void ExpectInfoZipJoins(const std::string &archive) {
        std::string joined = Zip("joined.zip");
        DeleteFile(joined);
        std::string out;
        ASSERT_EQ(RunProgram({"zip", "-s", "0", archive, "--out", joined}, &out, nullptr, Env()), 0) << out;
        ExpectPeersAccept(joined);
        ExpectUnzipGivesSource(joined);
    }
};

TEST_F(ZipVolumeTest, SplitVolumesOfEntriesThatSpanMany) {
    TZipArchiver zip;
    MakeVolumes(zip, Zip("split.zip"), smSplitting, false);
    ASSERT_TRUE(zip.LastResult().Ok());
    int volumes = zip.VolumeCount();
    EXPECT_GE(volumes, 8);
    zip.CloseZip();
    for (int n = 1; n < volumes; ++n) {
        std::string part = Zip("split.z" + Format("%.2d", n));
        ASSERT_TRUE(FileExists(part)) << part;
        EXPECT_LE(FileSize(part), 65536) << part;
    }
    EXPECT_FALSE(FileExists(Zip("split.z" + Format("%.2d", volumes))));
    EXPECT_EQ(Bytes(Zip("split.z01")).substr(0, 4), std::string("PK\x07\x08", 4));
    ExpectSevenZipGivesSource(Zip("split.zip"));
    ExpectReaderGivesSource(Zip("split.zip"));

    // A larger first volume, and volume names with numbers.
    TZipArchiver numbered;
    numbered.SpanningOptions.FirstVolumeSize = 200000;
    MakeVolumes(numbered, Zip("num.zip"), smSplitting, true);
    ASSERT_TRUE(numbered.LastResult().Ok());
    numbered.CloseZip();
    EXPECT_GT(FileSize(Zip("num_001.zip")), 65536);
    EXPECT_LE(FileSize(Zip("num_001.zip")), 200000);
    ASSERT_TRUE(FileExists(Zip("num_002.zip")));
    ExpectReaderGivesSource(Zip("num.zip"));

    // What fits one volume is an ordinary archive.
    TZipArchiver one;
    MakeVolumes(one, Zip("one.zip"), smSplitting, false, 100000000);
    EXPECT_EQ(one.VolumeCount(), 1);
    one.CloseZip();
    EXPECT_FALSE(FileExists(Zip("one.z01")));
    ExpectPeersAccept(Zip("one.zip"));
    ExpectUnzipGivesSource(Zip("one.zip"));
    ExpectReaderGivesSource(Zip("one.zip"));

    // A written multi-volume archive is not changed afterwards.
    TZipArchiver again;
    Open(again, Zip("split.zip"));
    EXPECT_EQ(NativeErrorOf([&] { again.DeleteFiles("*.txt"); }), 52);
}

TEST_F(ZipVolumeTest, SplitVolumesThatInfoZipJoins) {
    RunTool("rm -rf " + ShellQuote(Src()));
    for (int i = 0; i < 12; ++i) Put("part" + std::to_string(i) + ".bin", RandomBytes(25000, unsigned(i + 30)));
    Put("notes/readme.txt", TextBytes(40000, 2));
    Put("tool.sh", "#!/bin/sh\n");
    ::chmod((Src() + "tool.sh").c_str(), 0755);
    TZipArchiver zip;
    MakeVolumes(zip, Zip("split.zip"), smSplitting, false);
    ASSERT_TRUE(zip.LastResult().Ok());
    EXPECT_GE(zip.VolumeCount(), 5);
    zip.CloseZip();
    ExpectInfoZipJoins(Zip("split.zip"));
    ExpectSevenZipGivesSource(Zip("split.zip"));
    ExpectReaderGivesSource(Zip("split.zip"));
}

TEST_F(ZipVolumeTest, SpannedDisksComeThroughTheVolumeEvents) {
    // Every disk is a folder of its own, holding the archive under its name.
    auto disk = [&](int n) { return Tmp.Path() + "disk" + std::to_string(n) + "/"; };
    std::vector<int> asked;
    TZipArchiver zip;
    zip.OnRequestBlankVolume = [&](TZipBaseArchiver *, int number, std::string &name, bool &) {
        asked.push_back(number);
        ForceDirectories(disk(number));
        name = disk(number) + ExtractFileName(name);
    };
    // Encrypted too: the check byte of an entry whose sizes follow its data
    // is the top of its time.
    zip.Password = "span pw";
    MakeVolumes(zip, Zip("span.zip"), smSpanning, false);
    ASSERT_TRUE(zip.LastResult().Ok());
    int volumes = zip.VolumeCount();
    ASSERT_GE(volumes, 8);
    std::vector<int> want(static_cast<size_t>(volumes));
    std::iota(want.begin(), want.end(), 1);
    EXPECT_EQ(asked, want);
    zip.CloseZip();
    EXPECT_FALSE(FileExists(Zip("span.zip")));  // nothing where no disk went

    // The component reads them back, asking for each disk.
    ClearOut();
    TZipArchiver reader;
    reader.Password = "span pw";
    reader.FileName = disk(volumes) + "span.zip";
    reader.OnRequestFirstVolume = [&](TZipBaseArchiver *, std::string &name, bool &) { name = disk(1) + "span.zip"; };
    reader.OnRequestMiddleVolume = [&](TZipBaseArchiver *, int n, std::string &name, bool &) {
        name = disk(n) + "span.zip";
    };
    reader.OnRequestLastVolume = [&](TZipBaseArchiver *, std::string &name, bool &) {
        name = disk(volumes) + "span.zip";
    };
    reader.OpenZip();
    EXPECT_EQ(reader.SpanningMode(), smSpanning);
    reader.BaseDir = Out();
    reader.ExtractMatching();
    EXPECT_TRUE(reader.LastResult().Ok()) << reader.LastResult().Failed.Text();
    std::string out;
    EXPECT_EQ(RunProgram({"diff", "-r", Src(), Out()}, &out), 0) << out;

    // Laid side by side under the split names, 7-Zip reads them.
    for (int n = 1; n < volumes; ++n) RenameFile(disk(n) + "span.zip", Zip("laid.z" + Format("%.2d", n)));
    RenameFile(disk(volumes) + "span.zip", Zip("laid.zip"));
    ExpectSevenZipGivesSource(Zip("laid.zip"), "span pw");
}

TEST_F(ZipVolumeTest, VolumeRequestsThatAreCancelledOrFindNoRoom) {
    // The default questions of a spanned archive, answered Cancel.
    ScriptedQuestions q;
    TZipArchiver zip;
    zip.Questions = &q;
    EXPECT_EQ(NativeErrorOf([&] { MakeVolumes(zip, Zip("q.zip"), smSpanning, false); }), 45);
    ASSERT_EQ(q.Asked.size(), 1u);
    EXPECT_EQ(q.Asked[0], "Please insert a blank disk #1");
    zip.CloseZip();

    // A disk without room: the disk-full question with what it would need.
    ScriptedQuestions full;
    TZipArchiver nowhere;
    nowhere.Questions = &full;
    nowhere.OnRequestBlankVolume = [&](TZipBaseArchiver *, int, std::string &name, bool &) {
        name = Tmp.Path() + "no such drive/x.zip";
    };
    EXPECT_EQ(NativeErrorOf([&] { MakeVolumes(nowhere, Zip("full.zip"), smSpanning, false); }), 45);
    ASSERT_EQ(full.Asked.size(), 1u);
    EXPECT_EQ(full.Asked[0],
              "Disk is full. Required free space: 65536 bytes, but available only: 0 bytes. Clean the disk or find "
              "another blank disk");
    nowhere.CloseZip();

    // Cancelled at the third split volume: the volumes written go again.
    TZipArchiver cancelled;
    cancelled.OnRequestBlankVolume = [&](TZipBaseArchiver *, int number, std::string &, bool &cancel) {
        cancel = number == 3;
    };
    EXPECT_EQ(NativeErrorOf([&] { MakeVolumes(cancelled, Zip("c.zip"), smSplitting, false); }), 45);
    EXPECT_FALSE(FileExists(Zip("c.z01")));
    EXPECT_FALSE(FileExists(Zip("c.z02")));
    EXPECT_EQ(cancelled.FileCount(), 0);
}

TEST_F(ZipVolumeTest, SelfExtractingStubInFront) {
    std::string stub = Zip("stub.bin");
    WriteTestFile(stub, "#!/bin/sh\n# a self-extracting stub\n" + RandomBytes(4000, 3));
    TZipArchiver zip;
    zip.SFXStub = stub;
    zip.FileName = Zip("sfx.zip");
    zip.OpenZip();
    zip.BaseDir = Src();
    zip.AddFiles("*.*");
    EXPECT_EQ(zip.PrefixSize(), FileSize(stub));
    zip.CloseZip();
    EXPECT_EQ(Bytes(Zip("sfx.zip")).substr(0, size_t(FileSize(stub))), Bytes(stub));
    ExpectPeersAccept(Zip("sfx.zip"));
    ExpectUnzipGivesSource(Zip("sfx.zip"));
    ExpectReaderGivesSource(Zip("sfx.zip"));

    // MakeSFX puts the stub in front of an archive that has none.
    TZipArchiver later;
    later.FileName = Zip("later.zip");
    later.OpenZip();
    later.BaseDir = Src();
    later.AddFiles("*.*");
    EXPECT_EQ(NativeErrorOf([&] { later.MakeSFX(); }), 17);
    later.SFXStub = stub;
    later.MakeSFX();
    EXPECT_EQ(later.PrefixSize(), FileSize(stub));
    EXPECT_EQ(NativeErrorOf([&] { later.MakeSFX(); }), 50);
    later.CloseZip();
    ExpectPeersAccept(Zip("later.zip"));
    ExpectReaderGivesSource(Zip("later.zip"));
    TZipArchiver reopened;
    reopened.SFXStub = stub;
    Open(reopened, Zip("later.zip"));
    EXPECT_EQ(NativeErrorOf([&] { reopened.MakeSFX(); }), 50);

    // A stub larger than the first volume may hold.
    TZipArchiver small;
    small.SFXStub = stub;
    small.SpanningOptions.FirstVolumeSize = 1000;
    EXPECT_EQ(NativeErrorOf([&] { MakeVolumes(small, Zip("small.zip"), smSplitting, false); }), 47);
}
