#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <sys/stat.h>

#include "settings/CryptStr.h"
#include "dialogs/DialogSeam.h"
#include "IniFile.h"
#include "settings/Kel_Reg.h"
#include "settings/ProgramPaths.h"
#include "QtTestApp.h"
#include "SysUtils.h"
#include "settings/TarnwickVersion.h"
#include "TestSupport.h"
#include "settings/Tiedot.h"
#include "settings/unLanguage.h"
#include "dialogs/unMessYesNo.h"
#include "dialogs/unitMessages.h"
#include "ZipTools.h"

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolder(Dir.Path());
        Settings = Dir.File("Tarnwick.ini");
        HostData = Dir.File("host_data.dat");
    }
    void TearDown() override {
        SetModalHook({});
        SetProgramFolder("");
        SetLanguageFileName(DefaultLanguageFile);
    }
    TLoadResult Load() {
        return LoadSettings(Accounts, Options, Settings, HostData,
                            [](const std::string &s) { return s == "Blue" || s == "Default"; });
    }
    TempDir Dir;
    std::string Settings, HostData;
    TAccountArray Accounts;
    TMainOptions Options;
};

}  // namespace

TEST_F(SettingsTest, MissingFileGivesNoAccountsAndEveryDefault) {
    TLoadResult r = Load();
    EXPECT_EQ(Accounts.LastIndex, -1);
    EXPECT_EQ(Accounts.Count(), 0);
    EXPECT_FALSE(r.OfferRestore);
    EXPECT_TRUE(r.Problems.Empty());
    EXPECT_EQ(LanguageFileName(), DesktopLanguageFile());
    EXPECT_NEAR(Options.NextCheck, Now() + 0.007, 0.0001);
    EXPECT_FALSE(FileExists(Settings + ".bak"));
}

TEST_F(SettingsTest, ANewProfileSpeaksTheDesktopsLanguageAndAStoredChoiceStays) {
    struct Case {
        const char *Language, *All, *Messages, *Lang;  // nullptr: not set
        const char *Expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, "en_GB.UTF-8", "english.lng"},
        {nullptr, nullptr, nullptr, "fi_FI.UTF-8", "finnish.lng"},
        {nullptr, nullptr, nullptr, "fi", "finnish.lng"},
        {nullptr, nullptr, nullptr, "FI_fi@euro", "finnish.lng"},
        {nullptr, nullptr, "fi_FI.UTF-8", "en_US.UTF-8", "finnish.lng"},  // messages before LANG
        {nullptr, "C.UTF-8", "fi_FI.UTF-8", "fi_FI.UTF-8", "english.lng"},  // LC_ALL before both
        {nullptr, "", "", "fi_FI", "finnish.lng"},                          // empty ones do not count
        {nullptr, nullptr, nullptr, "fil_PH.UTF-8", "english.lng"},         // Filipino is not Finnish
        {nullptr, nullptr, nullptr, nullptr, "english.lng"},
        // The desktop's ordered list comes before all three; its first
        // language that has a file decides.
        {"fi:en", nullptr, nullptr, "en_US.UTF-8", "finnish.lng"},
        {"en:fi", "fi_FI.UTF-8", "fi_FI.UTF-8", "fi_FI.UTF-8", "english.lng"},
        {"sv_SE:fi_FI.UTF-8:en", nullptr, nullptr, "en_GB.UTF-8", "finnish.lng"},
        {"::fi", nullptr, nullptr, "en_GB.UTF-8", "finnish.lng"},
        {"fi", nullptr, nullptr, "C.UTF-8", "finnish.lng"},
        // No language of the list has a file: the texts stay untranslated.
        {"de:sv", nullptr, nullptr, "fi_FI.UTF-8", "english.lng"},
        {"", nullptr, nullptr, "fi_FI.UTF-8", "finnish.lng"},  // an empty list does not count
        // The C locale, named or left unset, asks for the untranslated texts
        // whatever the list says.
        {"fi", nullptr, nullptr, "C", "english.lng"},
        {"fi:en", "POSIX", nullptr, "fi_FI.UTF-8", "english.lng"},
        {"fi", nullptr, nullptr, nullptr, "english.lng"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.Language ? c.Language : "-") + " " + (c.All ? c.All : "-") + " " +
                     (c.Messages ? c.Messages : "-") + " " + (c.Lang ? c.Lang : "-"));
        TEnvVar language("LANGUAGE", c.Language ? c.Language : "", !c.Language);
        TEnvVar all("LC_ALL", c.All ? c.All : "", !c.All);
        TEnvVar messages("LC_MESSAGES", c.Messages ? c.Messages : "", !c.Messages);
        TEnvVar lang("LANG", c.Lang ? c.Lang : "", !c.Lang);
        // A new profile: no settings file, or one that names no language.
        for (const char *settings : {"", "[Options]\r\nSkin=Default\r\n", "[Options]\r\nLanguage=\r\n"}) {
            DeleteFile(Settings);
            if (*settings) WriteTestFile(Settings, settings);
            IniFileCacheClear();
            Accounts.Clear();
            Load();
            EXPECT_EQ(Options.Language, c.Expected);
            EXPECT_EQ(LanguageFileName(), c.Expected);
        }
        // What a saved profile chose stays, whatever the desktop says.
        SaveSettings(Accounts, Options, Settings);
        IniFileCacheClear();
        EXPECT_EQ(IniReadString(Settings, "Options", "Language", ""), c.Expected);
        for (const char *stored : {"english.lng", "finnish.lng", "klingon.lng"}) {
            IniWriteString(Settings, "Options", "Language", stored);
            IniFileCacheClear();
            Accounts.Clear();
            Load();
            EXPECT_EQ(Options.Language, stored);
        }
    }
}

TEST_F(SettingsTest, AccountDefaultsKindsAndMigrations) {
    WriteTestFile(HostData, "[webby]\r\nWeb=True\r\nAHost=http://127.0.0.1/\r\n");
    WriteTestFile(Settings,
                  "[Accounts]\r\nNum=2\r\n"
                  "[0]\r\nName=Home\r\nHost=pop.example\r\nUseIMAP4=False\r\nIMAP4Port=143\r\nUseOwnSkin=x\r\n"
                  "[1]\r\nName=Web\r\nHost=webby\r\nEnabled=false\r\n"
                  "[2]\r\nName=Work\r\nConnection=IMAP4\r\nPort=993\r\nSSL=True\r\nInbox=Work\r\n"
                  "[Options]\r\nSkin=Missing\r\nShowOnDown=False\r\nCheckTime=3\r\nUseReplyTo=True\r\n");
    std::string before = ReadFileToString(Settings);
    Load();
    ASSERT_EQ(Accounts.Count(), 3);
    const Tiedot &home = Accounts[0];
    EXPECT_TRUE(home.Enabled);
    EXPECT_EQ(home.Port, 110);
    EXPECT_EQ(home.Kind, ckPOP3);  // no Connection, host not in the presets
    EXPECT_FALSE(IniValueExists(Settings, "0", "UseIMAP4"));
    EXPECT_FALSE(IniValueExists(Settings, "0", "IMAP4Port"));
    EXPECT_FALSE(IniValueExists(Settings, "0", "UseOwnSkin"));
    EXPECT_EQ(Accounts[1].Kind, ckHTTP);
    EXPECT_FALSE(Accounts[1].Enabled);  // only the exact "True" is true
    EXPECT_EQ(Accounts[2].Kind, ckIMAP4);
    EXPECT_EQ(Accounts[2].Inbox, "Work");
    EXPECT_EQ(Options.Skin, "Default");
    EXPECT_FALSE(Options.ShowOnDown);
    EXPECT_TRUE(Options.UseReplyTo);
    EXPECT_NEAR(Options.NextCheck, Now() + 3 * 0.0007, 0.0001);
    // With accounts the file, as it was found, is copied over the backup.
    EXPECT_EQ(ReadFileToString(Settings + ".bak"), before);
}

TEST_F(SettingsTest, UnreadableFileLoadsAsNoAccountsAndStaysAsItWas) {
    std::string huge = "[Accounts]\r\nNum=0\r\n[0]\r\nName=A\r\n;" + std::string(size_t(MaxIniFileSize), 'x');
    WriteTestFile(Settings, huge);
    WriteTestFile(Settings + ".bak", "[Accounts]\r\nNum=0\r\n[0]\r\nName=A\r\n");
    TLoadResult r;
    ASSERT_NO_THROW(r = Load());
    EXPECT_EQ(Accounts.Count(), 0);
    EXPECT_TRUE(r.OfferRestore);
    EXPECT_FALSE(r.Problems.Empty());
    EXPECT_EQ(FileSize(Settings), int64_t(huge.size()));
    // Saving over it is refused rather than dropping what it holds.
    EXPECT_THROW(SaveSettings(Accounts, Options, Settings), EIniFileError);
    EXPECT_EQ(FileSize(Settings), int64_t(huge.size()));
}

TEST_F(SettingsTest, FileInAnotherLetterCaseIsLoadedAndBackedUp) {
    WriteTestFile(Dir.File("tarnwick.ini"), "[Accounts]\r\nNum=0\r\n[0]\r\nName=Old\r\n");
    Load();
    ASSERT_EQ(Accounts.Count(), 1);
    EXPECT_EQ(Accounts[0].Name, "Old");
    EXPECT_EQ(IniReadString(Dir.File("tarnwick.ini.bak"), "0", "Name", ""), "Old");
    // A backup left readable by all becomes private when it is renewed.
    ::chmod(Dir.File("tarnwick.ini.bak").c_str(), 0644);
    Load();
    EXPECT_EQ(FileMode(Dir.File("tarnwick.ini.bak")), 0600u);
}

TEST_F(SettingsTest, BadValuesTakeDefaultsAndAreReported) {
    WriteTestFile(Settings,
                  "[Accounts]\r\nNum=lots\r\n[0]\r\nName=A\r\nPort=pop\r\nPW=0_x_\r\n[1]\r\nName=B\r\n"
                  "[Options]\r\nCheckTime=-5\r\nBlinkPeriod=99999999999\r\nDelayTime=soon\r\n");
    TLoadResult r = Load();
    ASSERT_EQ(Accounts.Count(), 2);  // the sections the file really holds
    EXPECT_EQ(Accounts[1].Name, "B");
    EXPECT_EQ(Accounts[0].Port, 110);
    EXPECT_EQ(Accounts[0].Password, "");
    EXPECT_EQ(Options.CheckTime, 10);
    EXPECT_EQ(Options.BlinkPeriod, 200);
    EXPECT_EQ(Options.DelayTime, 3);
    EXPECT_EQ(r.Problems.Count(), 6) << r.Problems.Text();

    WriteTestFile(Settings, "[Accounts]\r\nNum=2000000000\r\n[0]\r\nName=A\r\n");
    r = Load();
    EXPECT_EQ(Accounts.Count(), 1);
    EXPECT_EQ(r.Problems.Count(), 1);
    // A repeated load starts from an empty array.
    Load();
    EXPECT_EQ(Accounts.Count(), 1);
    EXPECT_EQ(Accounts.LastIndex, 0);
}

TEST_F(SettingsTest, ProtectionSurvivesHandEditing) {
    std::string pp = ScrambleStr("secretFalse");
    WriteTestFile(Settings,
                  "[Accounts]\r\nNum=3\r\n"
                  "[0]\r\nName=ok\r\nPW=" + ScrambleStr("secret") + "\r\nProtected=False\r\nProtPass=" + pp + "\r\n"
                  "[1]\r\nName=edited\r\nPW=" + ScrambleStr("secret") + "\r\nProtected=False\r\n"
                  "[2]\r\nName=nopw\r\nProtected=False\r\nProtPass=" + ScrambleStr("False") + "\r\n"
                  "[3]\r\nName=damaged\r\nPW=" + ScrambleStr("secret") + "\r\nProtPass=0_1_x_\r\n"
                  "[Options]\r\nTWVerini=0.7.7.1\r\n");
    Load();
    EXPECT_EQ(Accounts[0].Password, "secret");
    EXPECT_FALSE(Accounts[0].Protected);
    EXPECT_TRUE(Accounts[1].Protected);
    EXPECT_TRUE(Accounts[2].Protected);  // an empty password is never found
    EXPECT_TRUE(Accounts[3].Protected);
    // Files from before 0.7.7.1 keep the flag as read.
    IniWriteString(Settings, "Options", "TWVerini", "0.7.7.0");
    Load();
    EXPECT_FALSE(Accounts[1].Protected);
}

TEST_F(SettingsTest, SaveAndLoadRoundTripKeepsUnknownKeys) {
    WriteTestFile(Settings,
                  "; written by hand\r\n[Accounts]\r\nNum=0\r\n[0]\r\nName=Old\r\nCustom=keep\r\n"
                  "[Options]\r\nLanguage=english.lng\r\nFooBar=1\r\nPlaySound=True\r\n"
                  "[MessReader]\r\nWidth=640\r\n");
    Load();
    Tiedot &a = Accounts[0];
    a.Name = "Mail";
    a.UserName = "bob";
    a.Password = "p\xC3\xA4ss w=rd";
    a.Port = 995;
    a.SSL = a.Protected = true;
    AddAccount(Accounts);
    Accounts[1].Kind = ckIMAP4;
    Options.Skin = "Blue";
    SaveSettings(Accounts, Options, Settings);

    std::string text = ReadFileToString(Settings);
    EXPECT_TRUE(Contains(text, "; written by hand\r\n"));
    EXPECT_EQ(IniReadString(Settings, "0", "Custom", ""), "keep");
    EXPECT_EQ(IniReadString(Settings, "Options", "FooBar", ""), "1");
    EXPECT_EQ(IniReadString(Settings, "MessReader", "Width", ""), "640");
    EXPECT_EQ(IniReadString(Settings, "Options", "TWVerini", ""), TarnwickVersion);
    EXPECT_EQ(IniReadString(Settings, "1", "Connection", ""), "IMAP4");
    EXPECT_FALSE(Contains(text, "bob\r\nPW=p"));
    EXPECT_TRUE(StartsText("0_", IniReadString(Settings, "0", "PW", "")));
    EXPECT_EQ(FileMode(Settings), 0600u);

    TAccountArray again;
    TMainOptions opts;
    LoadSettings(again, opts, Settings, HostData, [](const std::string &) { return true; });
    ASSERT_EQ(again.Count(), 2);
    EXPECT_EQ(again[0].Name, "Mail");
    EXPECT_EQ(again[0].Password, "p\xC3\xA4ss w=rd");
    EXPECT_EQ(again[0].Port, 995);
    EXPECT_TRUE(again[0].SSL && again[0].Protected);
    EXPECT_EQ(again[1].Kind, ckIMAP4);
    EXPECT_EQ(opts.Skin, "Blue");
    EXPECT_EQ(opts.Language, "english.lng");

    // A file written on the original platform in another letter case, and
    // readable by all, is the one saved, and it becomes private.
    std::string lower = Dir.File("old/tarnwick.ini");
    WriteTestFile(lower, "[Accounts]\r\nNum=-1\r\n");
    ::chmod(lower.c_str(), 0644);
    SaveSettings(Accounts, Options, Dir.File("old/Tarnwick.ini"));
    EXPECT_EQ(FileMode(lower), 0600u);
    EXPECT_EQ(IniReadString(lower, "Accounts", "Num", ""), "1");

    EXPECT_THROW(SaveSettings(Accounts, Options, Dir.File("Tarnwick.ini/inside.ini")), EIniFileError);
    EXPECT_EQ(ReadFileToString(Settings), text);
}

// The settings file and its backup hold scrambled passwords: a link planted
// at the backup's name is replaced, never written through, and a copy that
// others could read becomes private at the first write of any key.
TEST_F(SettingsTest, BackupLinkIsReplacedAndWidelyReadableFileBecomesPrivate) {
    WriteTestFile(Settings, "[Accounts]\r\nNum=0\r\n[0]\r\nName=A\r\nPW=" + ScrambleStr("secret") +
                                "\r\nConnection=POP3\r\n");
    ::chmod(Settings.c_str(), 0644);
    std::string victim = Dir.File("victim.txt");
    WriteTestFile(victim, "precious");
    ASSERT_EQ(::symlink(victim.c_str(), (Settings + ".bak").c_str()), 0);
    Load();
    ASSERT_EQ(Accounts[0].Password, "secret");
    EXPECT_EQ(ReadFileToString(victim), "precious");
    struct stat st;
    ASSERT_EQ(::lstat((Settings + ".bak").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // An option written on its own, as the Options dialog does.
    IniWriteString(Settings, "Options", "LogValue", "50");
    EXPECT_EQ(FileMode(Settings), 0600u);
}

TEST_F(SettingsTest, RemoveLastAccountDropsSectionAndMovesShownIndex) {
    WriteTestFile(Settings, "[Accounts]\r\nNum=1\r\n[0]\r\nName=a\r\n[1]\r\nName=b\r\nHost=h\r\n");
    Load();
    Accounts.ShownIndex = 1;
    RemoveLastAccount(Accounts, Settings);
    EXPECT_EQ(Accounts.Count(), 1);
    EXPECT_EQ(Accounts.LastIndex, 0);
    EXPECT_EQ(Accounts.ShownIndex, 0);
    TStringList sections;
    IniReadSections(Settings, sections);
    EXPECT_EQ(sections, (TStringList{"Accounts", "0"}));
    // A bad index is the program's own error, which handlers catch and report.
    EXPECT_THROW(Accounts[1], EListError);

    // A settings file that cannot be rewritten leaves the array whole.
    AddAccount(Accounts);
    std::string huge = "[Accounts]\r\nNum=1\r\n[1]\r\nName=b\r\n;" + std::string(size_t(MaxIniFileSize), 'x');
    WriteTestFile(Settings, huge);
    EXPECT_THROW(RemoveLastAccount(Accounts, Settings), EIniFileError);
    EXPECT_EQ(Accounts.Count(), 2);
    EXPECT_EQ(Accounts.LastIndex, 1);
}

TEST_F(SettingsTest, RestoreOfferAfterLostAccounts) {
    EnsureQApplication();
    // A profile with no settings speaks the desktop's language.
    WriteTestFile(Dir.File("Lang/" + DesktopLanguageFile()),
                  "[Messages]\r\n40=Backup found.\r\n41=It holds\r\n42=these accounts:\r\n43=No accounts.\r\n"
                  "44=Restored.\r\n45=Restore?\r\n54=Tarnwick\r\n");
    const std::string backup = "[Accounts]\r\nNum=1\r\n[0]\r\nName=Home\r\nHost=pop.h\r\nUserName=me\r\n"
                               "[1]\r\nName=Work\r\nHost=imap.w\r\nUserName=you\r\nConnection=IMAP4\r\n";
    WriteTestFile(Settings + ".bak", backup);
    WriteTestFile(Settings, "");  // emptied by a crash
    TLoadResult r = Load();
    EXPECT_TRUE(r.OfferRestore);
    EXPECT_EQ(ReadFileToString(Settings + ".bak"), backup);  // never overwritten now
    EXPECT_EQ(BackupAccountLines(Settings + ".bak"), (TStringList{"Home - pop.h - me", "Work - imap.w - you"}));

    // No: nothing changes.
    SetModalHook([](QDialog &d) { dynamic_cast<TfrmMessYesNo &>(d).BitBtn2->click(); });
    auto skins = [](const std::string &) { return true; };
    EXPECT_FALSE(RunRestoreOffer(Accounts, Options, Settings, HostData, skins, 1000, 700));
    EXPECT_EQ(Accounts.Count(), 0);
    EXPECT_EQ(ReadFileToString(Settings), "");

    // Yes: the backup comes back and is loaded; the user is told.
    std::string question, told;
    SetModalHook([&](QDialog &d) {
        if (auto *q = dynamic_cast<TfrmMessYesNo *>(&d)) {
            question = q->Label1->text().toStdString();
            EXPECT_EQ(q->windowTitle().toStdString(), "Tarnwick / Tarnwick");
            q->BitBtn1->click();
        } else if (auto *m = dynamic_cast<TForm1 *>(&d)) {
            told = m->Label2->text().toStdString();
        }
    });
    EXPECT_TRUE(RunRestoreOffer(Accounts, Options, Settings, HostData, skins, 1000, 700));
    EXPECT_TRUE(Contains(question, "No accounts."));
    EXPECT_TRUE(Contains(question, "Home - pop.h - me\r\nWork - imap.w - you"));
    EXPECT_TRUE(Contains(question, "Restore?"));
    EXPECT_EQ(told, "Restored.");
    ASSERT_EQ(Accounts.Count(), 2);
    EXPECT_EQ(Accounts[1].Kind, ckIMAP4);
    EXPECT_EQ(IniReadString(Settings, "Accounts", "Num", ""), "1");
}

TEST_F(SettingsTest, DamagedBackupNumIsReadLikeTheSettingsFile) {
    WriteTestFile(Settings, "[Accounts]\r\nNum=-1\r\n");
    // A huge Num lists only the accounts the backup really holds.
    WriteTestFile(Settings + ".bak", "[Accounts]\r\nNum=2000000000\r\n[0]\r\nName=A\r\nHost=h\r\nUserName=u\r\n");
    EXPECT_TRUE(Load().OfferRestore);
    EXPECT_EQ(BackupAccountLines(Settings + ".bak"), (TStringList{"A - h - u"}));
    // A Num that is no number still offers the accounts behind it.
    WriteTestFile(Settings + ".bak", "[Accounts]\r\nNum=x\r\n[0]\r\nName=A\r\n[1]\r\nName=B\r\n");
    EXPECT_TRUE(Load().OfferRestore);
    EXPECT_EQ(BackupAccountLines(Settings + ".bak").Count(), 2);
    // A backup without accounts offers nothing.
    WriteTestFile(Settings + ".bak", "[Accounts]\r\nNum=-7\r\n[0]\r\nName=A\r\n");
    EXPECT_FALSE(Load().OfferRestore);
}

TEST_F(SettingsTest, CollectSendersAndSubjects) {
    AddAccount(Accounts);
    AddAccount(Accounts);
    Accounts[0].Senders = {"\"Ann\"", "Bob", "Ann"};
    Accounts[0].Addresses = {"ann@x.fi", "<>", "ann@x.fi"};
    Accounts[0].Subjects = {"hi", "", "hi"};
    Accounts[1].Senders = {"Carl"};
    Accounts[1].Addresses = {"..."};
    Accounts[1].Subjects = {"x"};
    TStringList senders{"Bob"};
    CollectSenders(Accounts, senders);
    EXPECT_EQ(senders, (TStringList{"Bob", "Ann", "ann@x.fi", "Carl"}));
    TStringList subjects;
    CollectSubjects(Accounts, subjects);
    EXPECT_EQ(subjects, (TStringList{"hi", "hi", "x"}));

    // A large mailbox whose senders differ only at their ends: the time goes
    // with the number of messages, not its square.
    Tiedot &big = Accounts[1];
    for (int i = 0; i < 200000; ++i) {
        std::string n = std::string(150, 's') + IntToStr(i);
        big.Senders.Add(n);
        big.Addresses.Add(n + "@x.fi");
    }
    TStringList many;
    CollectSenders(Accounts, many);
    EXPECT_EQ(many.Count(), 3 + 1 + 400000);
    EXPECT_EQ(many[many.Count() - 1], std::string(150, 's') + "199999@x.fi");
}
