// The Options dialog's message, other, reader, about and rules pages: the
// dependent controls, start with the desktop as XDG autostart entries, the
// default mail client beside xdg-mime, the file and font choosers, the
// date-format help and the rule files, each driven through the controls
// with the dialogs answered through the dialog seam.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFontDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <cstdlib>
#include <deque>
#include <functional>

#include "ChildProcess.h"
#include "Desktop.h"
#include "dialogs/DialogSeam.h"
#include "mainwindow/FrmMain.h"
#include "HTTPGet.h"
#include "HttpTestServer.h"
#include "IniFile.h"
#include "updates/Kel_Files.h"
#include "settings/Kel_Reg.h"
#include "OpenSSLServer.h"
#include "OptionsFixture.h"
#include "settings/ProgramPaths.h"
#include "QtTestApp.h"
#include "Registry.h"
#include "Shell.h"
#include "settings/TarnwickVersion.h"
#include "TestSupport.h"
#include "TrayBackend.h"
#include "updates/UpdateFiles.h"
#include "options/asetukset.h"
#include "settings/unLanguage.h"
#include "options/unRulesForm.h"
#include "dialogs/unitMessages.h"

namespace {

class OptionPagesTest : public OptionsDialogTest {
protected:
    void SetUp() override {
        OptionsDialogTest::SetUp();
        WriteTestFile(Dir.File("Tarnwick.ini"),
                      "[Accounts]\r\nNum=0\r\n[0]\r\nName=Home\r\nHost=h\r\nPort=110\r\nEnabled=True\r\n"
                      "Connection=POP3\r\n[Options]\r\nLanguage=english.lng\r\nSkin=Default\r\n");
    }
    void Start(const std::string &user = "") {
        IniFileCacheClear();
        Main = new TFrmMain();
        Main->State.User = user;
        LoadSettings(Main->State.Accounts, Main->State.Options, SettingsFilePath(), HostDataFilePath(),
                     [](const std::string &) { return true; });
        Options = new TFormAsetukset();
        Options->ShowFromMenu(TFormAsetukset::mpFirst);
        ASSERT_TRUE(Options->isVisible());
    }
    std::vector<std::string> Rules() {
        std::vector<std::string> v;
        for (int i = 0; i < Options->ListBox1->Count(); ++i)
            v.push_back(Options->ListBox1->Line(i) + (Options->ListBox1->Checked(i) ? "+" : "-"));
        return v;
    }
    static std::function<void(QDialog &)> Leave() {
        return [](QDialog &) {};
    }

    TempDir Home;
};

}  // namespace

TEST_F(OptionPagesTest, TopAndBottomExcludeEachOtherAndFollowTheMessageWindow) {
    Start();
    Options->cbShowMwssage->setChecked(true);
    Options->cbShowMwssage->click();  // unticked: the place does not matter
    EXPECT_FALSE(Options->cbShowTop->isEnabled());
    EXPECT_FALSE(Options->cbShowDown->isEnabled());
    Options->cbShowMwssage->click();
    ASSERT_TRUE(Options->cbShowTop->isEnabled());
    bool top = Options->cbShowTop->isChecked();
    Options->cbShowTop->click();
    EXPECT_EQ(Options->cbShowTop->isChecked(), !top);
    EXPECT_EQ(Options->cbShowDown->isChecked(), top);
    Options->cbShowDown->click();
    EXPECT_EQ(Options->cbShowTop->isChecked(), top);
    EXPECT_EQ(Options->cbShowDown->isChecked(), !top);
    // The sound and program boxes follow their ticks; AutoUpdate is written at once.
    Options->cbPlaySound->setChecked(true);
    Options->cbPlaySound->click();
    EXPECT_FALSE(Options->labSoundFile->isEnabled());
    EXPECT_FALSE(Options->bbBrowse->isEnabled());
    Options->CheckBox10->setChecked(true);
    Options->CheckBox10->click();
    EXPECT_EQ(Read("Options", "AutoUpdate"), "False");
}

TEST_F(OptionPagesTest, StartWithTheDesktopIsAnAutostartEntryOfEachProfile) {
    TEnvVar config("XDG_CONFIG_HOME", Home.File("config"));
    const std::string autostart = Home.File("config/autostart/");
    const std::string plain = autostart + "Tarnwick.desktop", anna = autostart + "Tarnwick anna.desktop";
    const std::string blank = autostart + "Tarnwick an na.desktop";
    auto exec = [](const std::string &file) {
        IniFileCacheClear();
        TIniFile entry(file);
        return SplitCommandLine(entry.ReadString("Desktop Entry", "Exec", ""));
    };
    const std::string program = Dir.Path() + "tarnwick";
    using Words = std::vector<std::string>;
    // The profile's dialog, shown again after an OK.
    auto open = [this](const std::string &user) {
        delete Options;
        delete Main;
        Options = nullptr;
        Main = nullptr;
        Start(user);
    };
    auto ok = [this](bool ticked) {
        if (!Options->isVisible()) Options->ShowFromMenu(TFormAsetukset::mpFirst);
        Options->CheckBox6->setChecked(ticked);
        Options->btOk->click();
    };
    // The plain profile's entry, as an older release made it (its Run value).
    WriteTestFile(plain, "[Desktop Entry]\nType=Application\nExec=" + program + "\n");

    for (const char *road : {"False", "True"}) {  // shortcut, then Run value
        SCOPED_TRACE(std::string("RegStartUp=") + road);
        IniWriteString(SettingsFilePath(), "Options", "RegStartUp", road);
        // Another profile's box and OK make and remove its own entry, which
        // starts it with its switch, and leave the plain profile's alone.
        open("anna");
        Options->CheckBox6->setChecked(false);
        Options->CheckBox6->click();
        ASSERT_TRUE(FileExists(anna));
        EXPECT_EQ(exec(anna), (Words{program, "-user", "-anna"}));
        Options->CheckBox6->click();  // unticked
        EXPECT_FALSE(FileExists(anna));
        ok(false);
        ok(true);
        EXPECT_EQ(exec(anna), (Words{program, "-user", "-anna"}));
        EXPECT_EQ(Read("Options", "StartOnW"), "True");
        ASSERT_TRUE(FileExists(plain));
        EXPECT_EQ(exec(plain), Words{program});
        // A profile name with a blank is one argument.
        open("an na");
        ok(true);
        EXPECT_EQ(exec(blank), (Words{program, "-user", "-an na"}));
        ok(false);
        EXPECT_FALSE(FileExists(blank));
        EXPECT_TRUE(FileExists(anna));
        // The plain profile keeps its entry, older or new, and removes only it.
        open("");
        ok(true);
        ASSERT_TRUE(FileExists(plain));
        EXPECT_EQ(exec(plain), Words{program});
        ok(false);
        EXPECT_FALSE(FileExists(plain));
        EXPECT_TRUE(FileExists(anna));
        ok(true);
        open("anna");
        ok(false);
        EXPECT_FALSE(FileExists(anna));
        EXPECT_TRUE(FileExists(plain));
    }
    // The shortcut starts in the program folder.
    IniWriteString(SettingsFilePath(), "Options", "RegStartUp", "False");
    ok(true);
    IniFileCacheClear();
    EXPECT_EQ(TIniFile(anna).ReadString("Desktop Entry", "Path", ""), Dir.Path());
}

TEST_F(OptionPagesTest, DefaultMailClientIsTheDesktopsMailtoHandler) {
    TEnvVar config("XDG_CONFIG_HOME", Home.File("config"));
    TEnvVar configDirs("XDG_CONFIG_DIRS", Home.File("etc"));
    TEnvVar data("XDG_DATA_HOME", Home.File("data"));
    TEnvVar dataDirs("XDG_DATA_DIRS", Home.File("share"));
    TEnvVar desktop("XDG_CURRENT_DESKTOP", "");
    WriteTestFile(Home.File("config/mimeapps.list"),
                  "[Default Applications]\nx-scheme-handler/mailto=mymail.desktop;other.desktop\n");
    // xdg-mime answers only for a client whose program is there.
    const std::string program = Home.File("bin/mymail");
    WriteTestFile(program, "#!/bin/sh\n");
    chmod(program.c_str(), 0755);
    WriteTestFile(Home.File("data/applications/mymail.desktop"),
                  "[Desktop Entry]\nType=Application\nName=My Mail\nExec=" + program + " -compose %u\n");
    std::string name, command;
    GetDefaultMailClient(name, command);
    EXPECT_EQ(name, "My Mail");
    EXPECT_EQ(command, program + " -compose");
    // The desktop's own tool names the same entry.
    std::string out;
    ASSERT_EQ(RunProgram({"xdg-mime", "query", "default", "x-scheme-handler/mailto"}, &out), 0);
    EXPECT_EQ(Trim(out), "mymail.desktop");

    // A client in a folder with blanks, quoted as desktop entries quote.
    WriteTestFile(Home.File("data/applications/mymail.desktop"),
                  "[Desktop Entry]\nType=Application\nName=My Mail\nExec=\"/opt/My Mail/mymail\" -compose %u\n");
    IniFileCacheClear();
    Start();
    EXPECT_EQ(Options->Label27->text().toStdString(), "My Mail");
    Options->cbRunEmailCl->setChecked(false);
    Options->cbRunEmailCl->click();
    EXPECT_TRUE(Options->Label27->isEnabled());
    std::string stored = Read("Options", "EMailClPath");
    EXPECT_EQ(stored, "/opt/My\\ Mail/mymail -compose");
    // What the mail client alert will start.
    EXPECT_EQ(SplitCommandLine(stored), (std::vector<std::string>{"/opt/My Mail/mymail", "-compose"}));
    Options->cbRunEmailCl->click();
    EXPECT_FALSE(Options->Label27->isEnabled());

    // Without a handler: nothing named, nothing to run.
    DeleteFile(Home.File("config/mimeapps.list"));
    GetDefaultMailClient(name, command);
    EXPECT_EQ(name, "");
    EXPECT_EQ(command, "");
}

TEST_F(OptionPagesTest, CommandCleanUp) {
    const std::string programs = GetSpecialFolderPath(10);
    EXPECT_EQ(CleanCommandPath("\"%ProgramFiles%/Mail/mail\" -x \"a b\""), programs + "/Mail/mail -x a\\ b");
    EXPECT_EQ(SplitCommandLine(CleanCommandPath("\"%ProgramFiles%/My Mail/mail\" -x")),
              (std::vector<std::string>{programs + "/My Mail/mail", "-x"}));
    EXPECT_EQ(CleanCommandPath("mail \"\" a\"b\"c"), "mail abc");
    EXPECT_EQ(CleanCommandPath(""), "");
    for (const char *command : {"\"/opt/x y/m\" 'it''s' %ProgramFiles%", "a\\\"b \"c\\\"d\""}) {
        std::string clean = CleanCommandPath(command);
        EXPECT_EQ(clean.find('"'), std::string::npos) << clean;
        EXPECT_EQ(clean.find("%ProgramFiles%"), std::string::npos) << clean;
    }
}

TEST_F(OptionPagesTest, DateFormatHelpShowsTheLettersForNow) {
    TDateTime when = EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 0);
    EXPECT_EQ(DateFormatHelpText(when),
              "t = 14:07\r\ntt = 14:07:09\r\ndd.mm.yy = 05.03.24\r\nddd d mmm yyyy = Tue 5 Mar 2024");
    // The letters the help teaches, on dates that tell them apart.
    struct Case {
        const char *format;
        TDateTime when;
        const char *shown;
    } cases[] = {
        {"d", EncodeDate(2023, 12, 9), "9"},          {"dd", EncodeDate(2023, 12, 9), "09"},
        {"ddd", EncodeDate(2023, 12, 10), "Sun"},     {"dddd", EncodeDate(2023, 12, 9), "Saturday"},
        {"m", EncodeDate(2023, 2, 9), "2"},           {"mm", EncodeDate(2023, 2, 9), "02"},
        {"mmm", EncodeDate(2023, 9, 1), "Sep"},       {"mmmm", EncodeDate(2023, 9, 1), "September"},
        {"yy", EncodeDate(2009, 1, 1), "09"},         {"yyyy", EncodeDate(987, 1, 1), "0987"},
        {"h:n:s", EncodeTime(7, 5, 3, 0), "7:5:3"},   {"hh:nn:ss", EncodeTime(7, 5, 3, 0), "07:05:03"},
        {"hh:mm", EncodeTime(23, 59, 0, 0), "23:59"}, {"zzz", EncodeTime(0, 0, 0, 42), "042"},
        {"t", EncodeTime(9, 3, 59, 0), "09:03"},      {"tt", EncodeTime(9, 3, 59, 0), "09:03:59"},
        {"h:nn am/pm", EncodeTime(0, 30, 0, 0), "12:30 am"}, {"hh AMPM", EncodeTime(13, 0, 0, 0), "01 PM"},
        {"ddddd", EncodeDate(2024, 3, 5), "05.03.2024"},     {"c", EncodeDate(2024, 3, 5), "05.03.2024"},
        {"c", EncodeDate(2024, 3, 5) + EncodeTime(1, 2, 3, 0), "05.03.2024 01:02:03"},
        {"tt    dd.mm.yyyy", EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 0), "14:07:09    05.03.2024"},
    };
    for (const Case &c : cases) EXPECT_EQ(FormatDateTime(c.format, c.when), c.shown) << c.format;

    Start();
    Options->Label38->clicked();
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_EQ(Asked[0].rfind("Tarnwick / Some values | t = ", 0), 0u) << Asked[0];
    EXPECT_NE(Asked[0].find("ddd d mmm yyyy = "), std::string::npos);
}

TEST_F(OptionPagesTest, FileChoosersStartAtTheBoxAndCancelChangesNothing) {
    WriteTestFile(Dir.File("sounds/ding.wav"), "RIFF");
    WriteTestFile(Dir.File("bin/notify"), "#!/bin/sh\n");
    chmod(Dir.File("bin/notify").c_str(), 0755);
    Start();
    Options->labSoundFile->SetRaw(Dir.File("sounds/old.wav"));
    std::string startFolder;
    Answers.push_back([&](QDialog &d) {
        auto &f = dynamic_cast<QFileDialog &>(d);
        startFolder = f.directory().absolutePath().toStdString();
        EXPECT_EQ(f.nameFilters().first().toStdString(), "*.mp3;*.wav;*.mid (*.mp3 *.wav *.mid)");
        f.selectFile(QString::fromStdString(Dir.File("sounds/ding.wav")));
        static_cast<QDialog &>(f).accept();
    });
    Options->bbBrowseClick(Options->bbBrowse);
    EXPECT_EQ(startFolder + "/", Dir.File("sounds/"));
    EXPECT_EQ(Options->labSoundFile->Raw(), Dir.File("sounds/ding.wav"));
    Answers.push_back([](QDialog &d) { d.reject(); });
    Options->bbBrowseClick(Options->bbBrowse);
    EXPECT_EQ(Options->labSoundFile->Raw(), Dir.File("sounds/ding.wav"));
    // A program is any file the user may run.
    Answers.push_back([&](QDialog &d) {
        auto &f = dynamic_cast<QFileDialog &>(d);
        EXPECT_TRUE(f.filter() & QDir::Executable);
        f.selectFile(QString::fromStdString(Dir.File("bin/notify")));
        static_cast<QDialog &>(f).accept();
    });
    Options->bbBrowseClick(Options->bbBrowse2);
    EXPECT_EQ(Options->labRunProg->Raw(), Dir.File("bin/notify"));
}

TEST_F(OptionPagesTest, FontSamplesTakeTheChosenFontAndOkStoresIt) {
    Start();
    QFont chosen("DejaVu Serif", 14);
    chosen.setBold(true);
    chosen.setItalic(true);
    Answers.push_back([&](QDialog &d) {
        dynamic_cast<QFontDialog &>(d).setCurrentFont(chosen);
        d.accept();
    });
    Options->Label44->clicked();
    for (QLabel *quote : {Options->Label42, Options->Label43, Options->Label44, Options->Label45, Options->Label46,
                          Options->Label47})
        EXPECT_EQ(quote->font().family().toStdString(), "DejaVu Serif");
    EXPECT_NE(Options->Label40->font().family().toStdString(), "DejaVu Serif");
    // The message sample, also through the hint; Cancel keeps it.
    Answers.push_back([](QDialog &d) {
        dynamic_cast<QFontDialog &>(d).setCurrentFont(QFont("DejaVu Sans Mono", 10));
        d.accept();
    });
    Options->Label48->clicked();
    Answers.push_back([](QDialog &d) {
        dynamic_cast<QFontDialog &>(d).setCurrentFont(QFont("DejaVu Sans", 20));
        d.reject();
    });
    Options->Label40->clicked();
    Options->btOk->click();
    EXPECT_EQ(Read("MessReader", "QuotesFont"), "DejaVu Serif,1,12632256,14,3");
    EXPECT_EQ(Read("MessReader", "MessageFont").rfind("DejaVu Sans Mono,0,0,10,", 0), 0u);
}

// A rule file that cannot be read or written (here one of more lines than
// any INI file may have) stands first in the list; switching off the rule
// after it must still reach that rule's file.
TEST_F(OptionPagesTest, OkSwitchesEveryRuleOffPastOneThatCannotBeWritten) {
    WriteTestFile(Dir.File("rules/a_damaged.rul"), std::string(MaxIniLines + 10, '\n'));
    WriteTestFile(Dir.File("rules/b_delete.rul"), "[Rule]\r\nRule1=1\r\nAllAccounts=True\r\nAllEMails=True\r\n");
    Start();
    ASSERT_EQ(Rules(), (std::vector<std::string>{"a_damaged+", "b_delete+"}));
    Options->ListBox1->SetChecked(1, false);
    Options->btOk->click();
    IniFileCacheClear();
    EXPECT_EQ(IniReadString(Dir.File("rules/b_delete.rul"), "Rule", "Enabled", ""), "False");
    EXPECT_EQ(ReadTestFile(Dir.File("rules/a_damaged.rul")).size(), MaxIniLines + 10);
}

TEST_F(OptionPagesTest, CheckForUpdatesSaysNoneOnlyWhenTheSiteSaidSo) {
    const TestPKI &pki = TestPKI::Get();
    SetHTTPGetCAFile(pki.CAFile);
    struct TCAReset {
        ~TCAReset() { SetHTTPGetCAFile(""); }
    } caReset;
    // A site on loopback where nobody answers: the user and the log are told
    // that the information could not be fetched, and why.
    const std::string nowhere = "https://127.0.0.1:" + IntToStr(FreeLoopbackPort()) + "/tarnwick/";
    TEnvVar url(UpdateUrlVariable, nowhere);
    Start();
    Main->UpdatePauseMs = 0;
    Options->BitBtn1->click();
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_TRUE(StartsText("Tarnwick / Warning | The update information could not be fetched:\r\n" + nowhere +
                              "fenlow.dat: ",
                          Asked[0]))
        << Asked[0];
    EXPECT_FALSE(Contains(Asked[0], "No updates found"));
    const std::string log = Options->RichEdit1->toPlainText().toStdString();
    EXPECT_TRUE(Contains(log, "The update information could not be fetched: " + nowhere + "fenlow.dat: ")) << log;
    EXPECT_FALSE(Contains(log, "No updates found")) << log;
    EXPECT_FALSE(FileExists(Dir.File("fenlow.dat")));

    // A site that answers with a page that is no update information.
    TempDir www;
    HttpTestServer site(www.Path(), pki.ServerCert, pki.Key);
    TEnvVar siteUrl(UpdateUrlVariable, site.Url("/tarnwick/"));
    WriteTestFile(www.File("tarnwick/fenlow.dat"), "<html><body>Moved</body></html>\n");
    Asked.clear();
    Options->BitBtn1->click();
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_TRUE(StartsText("Tarnwick / Warning | The update information could not be fetched:", Asked[0])) << Asked[0];
    EXPECT_FALSE(FileExists(Dir.File("fenlow.dat")));

    // Information that was read, with nothing newer in it.
    WriteTestFile(www.File("tarnwick/fenlow.dat"),
                  "[File]\r\nVersion=" + std::string(TarnwickVersion) + "\r\nName=tarnwick.zip\r\n");
    Asked.clear();
    Options->BitBtn1->click();
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_EQ(Asked[0], "Tarnwick / Info | No updates found");
    EXPECT_TRUE(Main->UpdateInfoError.empty());
}

// A newer program or updater that was found is never "No updates found":
// the window says what became of it.
TEST_F(OptionPagesTest, CheckForUpdatesSaysWhatBecameOfAnUpdateItFound) {
    const TestPKI &pki = TestPKI::Get();
    SetHTTPGetCAFile(pki.CAFile);
    struct TCAReset {
        ~TCAReset() { SetHTTPGetCAFile(""); }
    } caReset;
    TempDir www;
    HttpTestServer site(www.Path(), pki.ServerCert, pki.Key);
    TEnvVar siteUrl(UpdateUrlVariable, site.Url("/tarnwick/"));
    WriteTestFile(www.File("tarnwick/fenlow.dat"), "[File]\r\nVersion=99.0.0.0\r\nName=tarnwick.zip\r\n");
    WriteTestFile(www.File("tarnwick/zip/tarnwick.zip"), "PK-program-archive");
    Start();
    Main->UpdatePauseMs = 0;
    // The user cancels the download of the newer program.
    Answers.push_back([](QDialog &d) { d.findChild<QPushButton *>("BitBtn2")->click(); });
    Options->BitBtn1->click();
    ASSERT_EQ(Asked.size(), 2u);
    EXPECT_EQ(Asked[0], "Tarnwick - Download...");
    EXPECT_EQ(Asked[1], "Tarnwick / Warning | Update failed:\r\nThe download was cancelled.");
    const std::string log = Options->RichEdit1->toPlainText().toStdString();
    EXPECT_TRUE(Contains(log, "Update failed: The download was cancelled.")) << log;
    EXPECT_FALSE(Contains(log, "No updates found")) << log;
    EXPECT_FALSE(FileExists(Dir.File("fenlow.dat")));
    EXPECT_FALSE(FileExists(Dir.File("temp/tarnwick.zip")));
    EXPECT_FALSE(Main->ExitRequested());

    // Only the updater is newer, and it arrives.
    WriteTestFile(www.File("tarnwick/fenlow.dat"), "[File]\r\nVersion=" + std::string(TarnwickVersion) +
                                                       "\r\n[FENLOW]\r\nVersion=9.9.9.9\r\n");
    WriteTestFile(www.File("tarnwick/zip/fenlow"), "#!/bin/sh\nexit 0\nTW-FILEVERSION:9.9.9.9" + std::string(1, '\0'));
    Asked.clear();
    Answers.push_back([](QDialog &d) {
        d.findChild<QPushButton *>("BitBtn1")->click();
        EXPECT_TRUE(ProcessEventsUntil([&d] { return !d.isVisible(); }, 20000));
    });
    Options->BitBtn1->click();
    ASSERT_EQ(Asked.size(), 2u);
    EXPECT_EQ(Asked[1], "Tarnwick / Info | Updater updated");
    EXPECT_EQ(GetFileVersionText(Dir.File("fenlow")), "9.9.9.9");
}

TEST_F(OptionPagesTest, RulesPageAddsEditsRenamesAndRemovesRuleFiles) {
    WriteTestFile(Dir.File("rules/b_on.rul"), "[Rule]\r\nRule1=0\r\n");
    WriteTestFile(Dir.File("rules/A_off.rul"), "[Rule]\r\nRule1=1\r\nEnabled=False\r\n");
    WriteTestFile(Dir.File("rules/notes.txt"), "");
    Start();
    EXPECT_EQ(Rules(), (std::vector<std::string>{"A_off-", "b_on+"}));

    // A new rule: only Rule1=-1, listed ticked and selected, and the editor opens on it.
    std::string edited;
    Answers = {Type("Spam"), [&](QDialog &d) {
                   if (auto *f = qobject_cast<TfrmBlackList *>(&d)) edited = f->RuleName;
               }};
    Options->BitBtn5->click();
    EXPECT_EQ(edited, "Spam");
    EXPECT_EQ(ReadTestFile(Dir.File("rules/Spam.rul")), "[Rule]\r\nRule1=-1\r\n");
    EXPECT_EQ(Rules(), (std::vector<std::string>{"A_off-", "b_on+", "Spam+"}));
    EXPECT_EQ(Options->ListBox1->ItemIndex(), 2);

    // A name that is taken (in any case), or one a file cannot have.
    Asked.clear();
    Answers = {Type("SPAM"), Leave(), Type("a/b"), Leave(), Type("   "), Leave()};
    Options->BitBtn5->click();
    Options->BitBtn5->click();
    Options->BitBtn5->click();
    ASSERT_EQ(Asked.size(), 5u);
    EXPECT_EQ(Asked[1], "Tarnwick / Warning | A rule with this name already exists.");
    EXPECT_EQ(Asked[3], "Tarnwick / Info | The name holds characters that a file name can not have.\r\n"
                        "\\  /  :  *  ?  \"  <  >  |");
    EXPECT_EQ(Options->ListBox1->Count(), 3);

    // Renaming onto another rule never replaces it.
    Asked.clear();
    Options->ListBox1->SetItemIndex(2);
    Answers = {Type("b_ON"), Leave()};
    Options->BitBtn8->click();
    EXPECT_EQ(Asked.back(), "Tarnwick / Warning | A rule with this name already exists.");
    EXPECT_EQ(ReadTestFile(Dir.File("rules/b_on.rul")), "[Rule]\r\nRule1=0\r\n");
    EXPECT_TRUE(FileExists(Dir.File("rules/Spam.rul")));
    Answers = {Type("Junk")};
    Options->BitBtn8->click();
    EXPECT_EQ(Rules(), (std::vector<std::string>{"A_off-", "b_on+", "Junk+"}));
    EXPECT_TRUE(FileExists(Dir.File("rules/Junk.rul")));
    EXPECT_FALSE(FileExists(Dir.File("rules/Spam.rul")));

    // Edit opens the editor on the selected rule.
    Options->ListBox1->SetItemIndex(0);
    Answers = {[&](QDialog &d) {
        if (auto *f = qobject_cast<TfrmBlackList *>(&d)) edited = f->RuleName;
    }};
    Options->BitBtn7->click();
    EXPECT_EQ(edited, "A_off");

    // Removing the last line selects the new last one.
    Options->ListBox1->SetItemIndex(2);
    Options->bbDelBL->click();
    EXPECT_FALSE(FileExists(Dir.File("rules/Junk.rul")));
    EXPECT_EQ(Options->ListBox1->Count(), 2);
    EXPECT_EQ(Options->ListBox1->ItemIndex(), 1);

    // OK writes the ticks as each rule's Enabled.
    Options->ListBox1->SetChecked(0, true);
    Options->ListBox1->SetChecked(1, false);
    Options->btOk->click();
    IniFileCacheClear();
    EXPECT_EQ(IniReadString(Dir.File("rules/A_off.rul"), "Rule", "Enabled", ""), "True");
    EXPECT_EQ(IniReadString(Dir.File("rules/b_on.rul"), "Rule", "Enabled", ""), "False");
}
