#include <gtest/gtest.h>

#include <QDialog>
#include <QPushButton>
#include <set>
#include <vector>

#include "dialogs/DialogSeam.h"
#include "IniFile.h"
#include "settings/ProgramPaths.h"
#include "QtTestApp.h"
#include "Shell.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "settings/unLanguage.h"
#include "dialogs/unMessYesNo.h"
#include "dialogs/unitMessages.h"

namespace {

// A program folder of its own with a language file, and no hooks left behind.
class LanguageTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        SetProgramFolder(Dir.Path());
        SetLanguageFileName("test.lng");
    }
    void TearDown() override {
        SetModalHook({});
        SetShellOpenHook({});
        SetProgramFolder("");
        SetLanguageFileName(DefaultLanguageFile);
    }
    void WriteLanguage(const std::string &text) { WriteTestFile(Dir.File("Lang/Test.LNG"), text); }
    TempDir Dir;
};

const int kMessageNumbers[] = {1,  2,  4,  5,  6,  8,  9,  10, 11, 12, 13, 20, 21, 31, 35, 36, 40, 41,
                               42, 43, 44, 45, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 61, 62, 63, 64,
                               70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85, 87, 88, 89,
                               90, 91, 92, 93};

}  // namespace

TEST_F(LanguageTest, LookupFallsBackToDesignText) {
    WriteLanguage("[Options]\r\nOk=Selvä\r\nEmpty=\r\n[Messages]\r\n6=Asetukset tallennettu\r\n");
    // The file is found whatever the letter case of its name and folder.
    EXPECT_EQ(LangText("Options", "Ok", "OK"), "Selvä");
    EXPECT_EQ(LangText("options", "OK", "OK"), "Selvä");
    EXPECT_EQ(LangText("Options", "Empty", "design"), "");
    EXPECT_EQ(LangText("Options", "Cancel", "Cancel"), "Cancel");
    EXPECT_EQ(LangMessage(6), "Asetukset tallennettu");
    EXPECT_EQ(LangMessage(7), "");
    // An old Windows-1252 language file shows its letters.
    WriteLanguage("[Options]\r\nCancel=Peruuta \xE4\x80\r\n");
    EXPECT_EQ(LangText("Options", "Cancel", ""), "Peruuta \xC3\xA4\xE2\x82\xAC");
    // Read at the moment of use: a changed file or name counts at once.
    WriteLanguage("[Options]\r\nOk=Okei\r\n");
    EXPECT_EQ(LangText("Options", "Ok", "OK"), "Okei");
    SetLanguageFileName("missing.lng");
    EXPECT_EQ(LangText("Options", "Ok", "OK"), "OK");
    // A language name never reaches outside "Lang/".
    WriteTestFile(Dir.File("evil.lng"), "[Options]\nOk=evil\n");
    SetLanguageFileName("../evil.lng");
    EXPECT_EQ(LangText("Options", "Ok", "OK"), "OK");
}

TEST_F(LanguageTest, MainFormTextsKeepDesignCaptions) {
    WriteLanguage("[MainForm]\r\nYouGot=Sinulle on\r\nFrom=Lähettäjä\r\n");
    TMainFormTexts t;
    t.Exit = "Exit";
    EXPECT_TRUE(LoadMainFormTexts("Lang/test.lng", t));
    EXPECT_EQ(t.YouGot, "Sinulle on");
    EXPECT_EQ(t.From, "Lähettäjä");
    EXPECT_EQ(t.Exit, "Exit");
    // A file that cannot be read is an error (event 9), not a crash.
    TMainFormTexts d;
    ForceDirectories(Dir.File("Lang/dir.lng"));
    TFileStream big(Dir.File("Lang/big.lng"), fmCreate);
    big.SetSize(MaxIniFileSize + 10);
    EXPECT_FALSE(LoadMainFormTexts("Lang/big.lng", d));
    EXPECT_TRUE(LoadMainFormTexts("Lang/dir.lng", d));
}

TEST(ShippedLanguages, BothFilesHoldTheSameKeysEveryMessageAndNoBlankTexts) {
    // A key one file lacks shows a design text, or a blank message, in that language.
    auto read = [](const char *file) {
        TIniFile ini(std::string(TW_SOURCE_DIR) + "/Lang/" + file);
        std::set<std::string> keys;
        TStringList sections, names;
        ini.ReadSections(sections);
        for (const std::string &section : sections) {
            ini.ReadSection(section, names);
            for (const std::string &key : names) {
                keys.insert(section + "/" + key);
                EXPECT_TRUE(key == "AuthorEmail" || !ini.ReadString(section, key, "").empty())
                    << file << " " << section << "/" << key;
            }
        }
        return keys;
    };
    std::set<std::string> finnish = read("finnish.lng");
    EXPECT_EQ(finnish, read("english.lng"));
    EXPECT_GT(finnish.size(), 200u);
    for (int n : kMessageNumbers) EXPECT_EQ(finnish.count("Messages/" + IntToStr(n)), 1u) << n;
}

TEST(ShippedLanguages, TheyReadCorrectlyAndSpeakOfTheDesktop) {
    // Texts the program was first written with, which a user must not meet:
    // misspellings, and the system this program does not run on.
    const char *wrong[] = {"Windows", "emil ", "addresess", "adress ", "Blanc", "blanc", "this words",
                           "has to be same", "WEB "};
    const std::string folder = std::string(TW_SOURCE_DIR) + "/Lang/";
    int files = 0;
    for (const std::string &name : ListDirectory(folder, true, false)) {
        if (!MatchesMask(name, "*.lng")) continue;
        ++files;
        TIniFile ini(folder + name);
        TStringList sections, keys;
        ini.ReadSections(sections);
        for (const std::string &section : sections) {
            ini.ReadSection(section, keys);
            for (const std::string &key : keys) {
                const std::string text = ini.ReadString(section, key, "");
                for (const char *w : wrong)
                    EXPECT_FALSE(Contains(text, w)) << name << " " << section << "/" << key << ": " << text;
            }
        }
    }
    EXPECT_GE(files, 2);
    TIniFile english(folder + "english.lng");
    EXPECT_EQ(english.ReadString("Options", "StartOnW", ""), "Start with the desktop");
    EXPECT_EQ(english.ReadString("Options", "RunEMClient", ""), "Run the default mail client");
    EXPECT_EQ(english.ReadString("Rule", "Box4", ""), "E-mail addresses / names under this rule:");
    EXPECT_EQ(english.ReadString("Rule", "SenRule1", ""), "The address or name is the same as in the list");
    EXPECT_EQ(english.ReadString("Rule", "WordRule5", ""), "Is blank");
}

TEST_F(LanguageTest, MessageWindowPlacementCaptionsAndLink) {
    WriteLanguage("[Options]\r\nOk=Selvä\r\n");
    std::vector<std::string> opened;
    SetShellOpenHook([&](const std::string &t) {
        opened.push_back(t);
        return true;
    });
    int seen = 0;
    SetModalHook([&](QDialog &d) {
        auto &f = dynamic_cast<TForm1 &>(d);
        ++seen;
        EXPECT_EQ(f.windowTitle().toStdString(), "Tarnwick / Info");
        // By the corner of its frame (with the title bar reckoned in until
        // the desktop has framed it).
        EXPECT_EQ(f.pos(), QPoint(1000 - f.width(), 700 - f.height() - kTitleBarAllowance));
        EXPECT_EQ(f.Label1->text().toStdString(), "Info");
        EXPECT_EQ(f.Label2->text().toStdString(), "<b>not markup</b>");
        EXPECT_EQ(f.Label2->textFormat(), Qt::PlainText);
        EXPECT_EQ(f.btOk->text().toStdString(), "Selvä");
        EXPECT_TRUE(f.Label3->isVisible());
        EXPECT_EQ(f.Label3->width(), f.width());
        EXPECT_EQ(f.Image1->pixmap().toImage(), f.Image3->pixmap().toImage());
        f.Label3Click();
        f.btOk->click();
    });
    ShowMessageWindow("Info", "<b>not markup</b>", "https://example.invalid/tarnwick", 1000, 700, 1);
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(opened, std::vector<std::string>{"https://example.invalid/tarnwick"});

    SetModalHook([&](QDialog &d) {
        auto &f = dynamic_cast<TForm1 &>(d);
        ++seen;
        EXPECT_FALSE(f.Label3->isVisible());
        EXPECT_EQ(f.Image1->pixmap().toImage(), f.Image2->pixmap().toImage());
    });
    ShowMessageWindow("Warning", "text", "", 800, 600, 0);
    EXPECT_EQ(seen, 2);
}

TEST_F(LanguageTest, YesNoAnswersAndCaptions) {
    WriteLanguage("[Options]\r\nYes=Kyllä\r\nNo=Ei\r\n");
    SetModalHook([](QDialog &d) {
        auto &f = dynamic_cast<TfrmMessYesNo &>(d);
        EXPECT_EQ(f.windowTitle().toStdString(), "Tarnwick / Question");
        EXPECT_EQ(f.pos(), QPoint(1000 - f.width() - 3, 700 - f.height() - 3));
        EXPECT_EQ(f.Label1->text().toStdString(), "Restore?");
        EXPECT_EQ(f.Label2->text().toStdString(), "note");
        EXPECT_EQ(f.BitBtn1->text().toStdString(), "Kyllä");
        EXPECT_EQ(f.BitBtn2->text().toStdString(), "Ei");
        f.BitBtn1->click();
    });
    EXPECT_EQ(AskYesNo("Question", "Restore?", "note", 1000, 700), 0);
    SetModalHook([](QDialog &d) { dynamic_cast<TfrmMessYesNo &>(d).BitBtn2->click(); });
    EXPECT_EQ(AskYesNo("Question", "Restore?", "note", 1000, 700), 1);
    SetModalHook([](QDialog &d) { d.close(); });  // the close box
    EXPECT_EQ(AskYesNo("Question", "Restore?", "", 1000, 700), 2);
}
