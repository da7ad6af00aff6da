// Fenlow's other jobs: one skin and all skins from "skins.dat", the TLS
// library and skin editor archives from "temp/".
#include "FenlowTestCommon.h"

namespace {

class FenlowSkinTest : public FenlowTest {
protected:
    // An installed skin "Blue" of version 1, moved aside as Tarnwick does
    // before it hands a skin update over.
    void InstallBlueAndMoveItAside() {
        Put("skins/Blue/Blue.skn", "[About]\r\nVersion=1\r\n");
        Put("skins/Blue/main.bmp", "old picture");
        ASSERT_TRUE(MoveSkinAside(Dir.Path(), "Blue"));
    }
    void WriteSkinsDat(const std::string &zip, const std::string &skin, const std::string &sha = "") {
        std::string text = "[Blue]\r\nVersion=2\r\nFile=Blue.zip\r\n";
        if (!sha.empty()) text += "SHA256=" + sha + "\r\n";
        text += "[FENLOW_File]\r\nPath=" + zip + "\r\n";
        if (!skin.empty()) text += "Skin=" + skin + "\r\n";
        Put("skins.dat", text);
    }
    void MakeBlueZip() {
        MakeZip(P("temp/Blue.zip"), {{"Blue/Blue.skn", "[About]\r\nVersion=2\r\n"}, {"Blue/main.bmp", "new picture"}});
    }
    void ExpectOldBlue() {
        EXPECT_EQ(Read("skins/Blue/Blue.skn"), "[About]\r\nVersion=1\r\n");
        EXPECT_EQ(Read("skins/Blue/main.bmp"), "old picture");
        EXPECT_FALSE(DirectoryExists(SkinBackupFolder(Dir.Path(), "Blue")));
    }
};

}  // namespace

TEST_F(FenlowSkinTest, ASkinUpdateInstallsTheNewSkinAndCleansUp) {
    InstallBlueAndMoveItAside();
    MakeBlueZip();
    WriteSkinsDat(P("temp/Blue.zip"), "Blue", FileSha256(P("temp/Blue.zip")));
    Run({"-skn"});
    EXPECT_EQ(Form->TickCount, 1);
    EXPECT_EQ(Form->ExitCode(), 0);
    EXPECT_EQ(Read("skins/Blue/Blue.skn"), "[About]\r\nVersion=2\r\n");
    EXPECT_EQ(Read("skins/Blue/main.bmp"), "new picture");
    EXPECT_FALSE(DirectoryExists(SkinBackupFolder(Dir.Path(), "Blue")));
    EXPECT_FALSE(Exists("skins.dat"));
    EXPECT_FALSE(Exists("temp/Blue.zip"));
}

TEST_F(FenlowSkinTest, ASkinThatDoesNotInstallGivesTheOldOneBack) {
    struct Case {
        std::string what;
        std::function<void()> make;
        std::string sha;
    };
    std::vector<Case> cases = {
        {"an error page", [this] { Put("temp/Blue.zip", "<html>Service Unavailable</html>"); }, ""},
        {"no archive at all", [] {}, ""},
        {"an archive of another skin", [this] { MakeZip(P("temp/Blue.zip"), {{"Red/Red.skn", "[About]\r\n"}}); }, ""},
        {"a digest that does not match", [this] { MakeBlueZip(); }, std::string(64, '0')},
        {"half a skin",
         [this] {
             MakeBlueZip();
             std::string bytes = ReadFileToString(P("temp/Blue.zip"));
             WriteTestFile(P("temp/Blue.zip"), bytes.substr(0, bytes.size() - 60));
         },
         ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RunTool("rm -rf " + ShellQuote(Dir.Path()) + "*");
        InstallBlueAndMoveItAside();
        c.make();
        WriteSkinsDat(P("temp/Blue.zip"), "Blue", c.sha);
        Run({"-skn"});
        // The Tarnwick that waits is told the skin did not install.
        EXPECT_EQ(Form->ExitCode(), 1);
        Finish();
        ExpectOldBlue();
        EXPECT_FALSE(Exists("skins.dat"));
        EXPECT_FALSE(Exists("temp/Blue.zip"));
    }
}

TEST_F(FenlowSkinTest, AllSkinsFromTheDefaultArchive) {
    MakeZip(P("allskins.zip"), {{"Blue/Blue.skn", "[About]\r\nVersion=2\r\n"}, {"Red/Red.skn", "[About]\r\n"}});
    Put("skins.dat", "[Blue]\r\nVersion=2\r\n");
    Run({"-all"});
    EXPECT_EQ(Form->ExitCode(), 0);
    EXPECT_TRUE(Exists("skins/Blue/Blue.skn"));
    EXPECT_TRUE(Exists("skins/Red/Red.skn"));
    EXPECT_FALSE(Exists("allskins.zip"));
    EXPECT_FALSE(Exists("skins.dat"));
}

TEST_F(FenlowSkinTest, WithoutSkinInformationTheJobWaitsOutItsTenTicks) {
    MakeBlueZip();
    Run({"-skn"});
    EXPECT_EQ(Form->TickCount, 10);
    EXPECT_EQ(Form->ExitCode(), 1);
    EXPECT_TRUE(Exists("temp/Blue.zip"));
    EXPECT_FALSE(Exists("skins"));
}

TEST_F(FenlowSkinTest, NamesFromSkinInformationStayInTheProgramFolder) {
    TempDir elsewhere;
    MakeZip(elsewhere.File("Blue.zip"), {{"Blue/Blue.skn", "[About]\r\n"}});
    Put("skins/Red/Red.skn", "[About]\r\n");
    // A skin name that climbs would have Fenlow delete or move outside "skins/".
    WriteSkinsDat(elsewhere.File("Blue.zip"), "../skins/Red");
    Run({"-skn"});
    EXPECT_TRUE(FileExists(elsewhere.File("Blue.zip")));
    EXPECT_FALSE(Exists("skins/Blue"));
    EXPECT_TRUE(Exists("skins/Red/Red.skn"));
    EXPECT_FALSE(Exists("skins.dat"));
}

TEST_F(FenlowTest, TheTlsAndEditorArchivesUnpackIntoTheProgramFolder) {
    const std::pair<const char *, const char *> jobs[] = {{"-ssl", "tls_openssl096.zip"}, {"-ske", "Brisvel.zip"}};
    for (const auto &[jobSwitch, archive] : jobs) {
        SCOPED_TRACE(jobSwitch);
        std::string zip = std::string("temp/") + archive;
        // None there: the job closes at once and deletes nothing.
        Put("temp/keep.txt", "keep");
        Run({jobSwitch});
        EXPECT_EQ(Form->TickCount, 1);
        EXPECT_TRUE(Exists("temp/keep.txt"));
        Finish();

        MakeZip(P(zip), {{std::string(archive) + ".txt", "payload"}});
        Run({jobSwitch});
        EXPECT_EQ(Read(std::string(archive) + ".txt"), "payload");
        EXPECT_FALSE(Exists(zip));
        Finish();

        // An archive that fails stays for another try.
        Put(zip, "not a zip");
        Run({jobSwitch});
        EXPECT_EQ(Read(zip), "not a zip");
        Finish();
    }
}
