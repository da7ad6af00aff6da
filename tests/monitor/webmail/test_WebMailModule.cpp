// The web-mail module as the program loads it: the build's token it must
// carry, the real Tarnwick of the build in a program folder laid out as a
// delivered one, with the module beside it, without it, with a damaged one
// or one of another build, a web-mail account added while it runs; and the
// settings test that decides whether it comes before the application object.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <set>
#include <sstream>

#include "ChildProcess.h"
#include "DovecotServer.h"
#include "settings/Kel_Reg.h"
#include "settings/ProgramPaths.h"
#include "TarnwickProgramFixture.h"
#include "settings/Tiedot.h"
#include "WebMailSite.h"

namespace {

int Logins(const WebMailSite &site) { return int(site.State()["logins"].toArray().size()); }

std::string Marker(const std::string &token) { return "TW-BUILD:" + token + std::string(1, '\0'); }

}  // namespace

TEST(WebMailModuleBuild, TheTokenIsReadFromTheFileAlone) {
    const std::string ours = ProgramBuildToken();
    ASSERT_EQ(ours.size(), 64u);
    EXPECT_EQ(ours.find_first_not_of("0123456789abcdef"), std::string::npos) << ours;
    EXPECT_EQ(BuildTokenOfFile(TW_WEBMAIL_MODULE), ours);

    TempDir dir;
    const std::string theirs(64, 'e');
    auto tokenOf = [&](const std::string &bytes) {
        WriteTestFile(dir.File("f.bin"), bytes);
        return BuildTokenOfFile(dir.File("f.bin"));
    };
    // Across the reader's chunks of a megabyte.
    for (size_t before : {(1u << 20) - 40, (1u << 20) - 9, (1u << 20) - 5, (1u << 20) + 3})
        EXPECT_EQ(tokenOf(std::string(before, 'x') + Marker(theirs) + "tail"), theirs) << before;
    // What is not a marker is passed over.
    EXPECT_EQ(tokenOf("TW-BUILD:" + std::string(64, 'E') + '\0' + "TW-BUILD:" + std::string(63, 'a') + '\0' +
                      "TW-BUILD:" + std::string(65, 'a') + '\0' + Marker(theirs) + Marker(ours)),
              theirs);
    EXPECT_EQ(tokenOf("TW-BUILD:" + theirs), "");
    EXPECT_EQ(tokenOf("TW-FILEVERSION:0.8.2.5"), "");
    EXPECT_EQ(tokenOf(""), "");
    EXPECT_EQ(BuildTokenOfFile(dir.File("none.bin")), "");
    EXPECT_EQ(BuildTokenOfFile(dir.Path()), "");
}

// A module of another build (the same version, another commit) could lay out
// what it shares with the program otherwise: it is refused from its file.
TEST(WebMailModuleBuild, OnlyTheModuleOfThisBuildMayBeLoaded) {
    TempDir dir;
    const std::string module = TW_WEBMAIL_MODULE, other = dir.File(WebMailModuleFileName);
    EXPECT_EQ(WebMailModuleRefusal(module), "");
    WriteTestFile(other, TarnwickProgram::OtherBuild(ReadTestFile(module)));
    EXPECT_EQ(WebMailModuleRefusal(other), other + " belongs to another build of Tarnwick");
    WriteTestFile(other, "not a shared library\n");
    EXPECT_EQ(WebMailModuleRefusal(other), other + " is not Tarnwick's web-mail module (it carries no build marker)");
    EXPECT_EQ(WebMailModuleRefusal(dir.File("none.so")), dir.File("none.so") + " is missing");
}

// Without the program's own folder the module would be a bare name, which
// dlopen looks for along the library path: it is not looked for at all.
TEST(WebMailModuleBuild, WithoutTheProgramsOwnPathNoModuleIsLookedFor) {
    struct TRestore {
        ~TRestore() {
            SetWebMailExeNameSource(nullptr);
            SetWebMailModulePath(TW_WEBMAIL_MODULE);
        }
    } restore;
    SetWebMailModulePath("");
    SetWebMailExeNameSource([] { return std::string(); });
    EXPECT_EQ(WebMailModulePath(), "");
    EXPECT_EQ(WebMailModuleRefusal(WebMailModulePath()),
              "tarnwick-webmail.so is not looked for: the program's own path cannot be read");
    SetWebMailExeNameSource([] { return std::string("tarnwick"); });
    EXPECT_EQ(WebMailModulePath(), "");
    EXPECT_EQ(WebMailModuleRefusal(WebMailModuleFileName),
              "tarnwick-webmail.so is not looked for: the path is not a full one");
    SetWebMailExeNameSource([] { return std::string("/opt/tarnwick/tarnwick"); });
    EXPECT_EQ(WebMailModulePath(), "/opt/tarnwick/tarnwick-webmail.so");
    SetWebMailExeNameSource(nullptr);
    EXPECT_EQ(WebMailModulePath(), ApplicationFolder() + WebMailModuleFileName);
}

TEST(WebMailModuleSettings, OnlyAnEnabledWebMailAccountBringsTheEngineAtStart) {
    TempDir dir;
    const std::string hosts = dir.File("host_data.dat");
    WriteTestFile(hosts, "[oldweb]\nWeb=True\n[plain]\nWeb=False\n");
    int files = 0;
    // Each case in a file of its own: the settings cache knows a file by its time.
    auto holds = [&](const std::string &text, const std::string &hostData) {
        const std::string ini = dir.File(std::to_string(++files) + ".ini");
        WriteTestFile(ini, text);
        return SettingsHoldWebMail(ini, hostData);
    };
    TTestAccount pop;
    pop.Name = "Mail";
    TTestAccount off = TestSiteWebAccount();
    off.Enabled = false;

    EXPECT_FALSE(holds(TestSettingsText({pop, off}), hosts));
    EXPECT_TRUE(holds(TestSettingsText({pop, TestSiteWebAccount()}), hosts));
    // Beyond Num: not an account.
    std::string beyond = TestSettingsText({pop, TestSiteWebAccount()});
    beyond.replace(beyond.find("Num=1"), 5, "Num=0");
    EXPECT_FALSE(holds(beyond, hosts));
    // Written before kinds were stored: the host data says which host is web mail.
    EXPECT_TRUE(holds("[Accounts]\nNum=1\n[0]\nHost=plain\n[1]\nHost=oldweb\n", hosts));
    EXPECT_FALSE(holds("[Accounts]\nNum=0\n[0]\nHost=oldweb\n", dir.File("no_host_data.dat")));
    // Missing or refused files hold none.
    EXPECT_FALSE(SettingsHoldWebMail(dir.File("none.ini"), hosts));
    EXPECT_FALSE(holds(std::string(17 * 1024 * 1024, '['), hosts));

    EXPECT_EQ(SettingsFileNameOfArgs({}), "Tarnwick.ini");
    EXPECT_EQ(SettingsFileNameOfArgs({"-user", "_work"}), "work.ini");
    EXPECT_EQ(SettingsFileNameOfArgs({"-user", "\xc3\xa4\xc3\xb6"}), "\xc3\xb6.ini");
    EXPECT_EQ(SettingsFileNameOfArgs({"-user", "_"}), "Tarnwick.ini");
    EXPECT_EQ(ProfileOfArgs({"-user", "_work"}), "work");
    EXPECT_EQ(ProfileOfArgs({"-other", "_work"}), "");
}

TEST(WebMailModuleProgram, ProgramsLinkNoBrowserEngine) {
    for (const char *program : {"monitor/tarnwick", "updater/fenlow"}) {
        std::string out;
        ASSERT_EQ(RunProgram({"readelf", "-d", std::string(TW_BINARY_DIR) + "/" + program}, &out), 0) << out;
        EXPECT_TRUE(Contains(out, "libQt6Widgets")) << program << "\n" << out;
        EXPECT_FALSE(Contains(out, "WebEngine")) << program << "\n" << out;
    }
}

// The module takes the program's routines and data from the executable;
// everything else of the program's layers stays its own.
TEST(WebMailModuleProgram, ProgramExportsWhatItsModuleUsesAndLittleElse) {
    const std::string program = std::string(TW_BINARY_DIR) + "/monitor/tarnwick";
    auto names = [](const std::vector<std::string> &nm) {
        std::string out;
        EXPECT_EQ(RunProgram(nm, &out), 0) << out;
        std::set<std::string> set;
        std::istringstream lines(out);
        // "name type [value size]", the name without its "@VERSION".
        for (std::string line; std::getline(lines, line);)
            if (!line.empty()) set.insert(line.substr(0, line.find_first_of(" @")));
        return set;
    };
    const auto exported = names({"nm", "-D", "-P", "--defined-only", program});
    const auto defined = names({"nm", "-P", "--defined-only", program});
    const auto moduleNames = names({"nm", "-D", "-P", TW_WEBMAIL_MODULE});
    const auto moduleTakes = names({"nm", "-D", "-P", "--undefined-only", TW_WEBMAIL_MODULE});
    ASSERT_FALSE(exported.empty());
    ASSERT_FALSE(moduleTakes.empty());
    for (const std::string &name : moduleTakes) {
        if (defined.count(name)) {
            EXPECT_TRUE(exported.count(name)) << name;
        }
    }
    EXPECT_TRUE(exported.count("_Z15SetWebMailCallsRK13TWebMailCalls"));
    // Names only the program itself calls.
    for (const char *own : {"_ZN8TFrmMain11Timer1TimerEv", "_Z17LoadWebMailModulev",
                            "_Z13IniReadStringRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEES6_S6_S6_"})
        EXPECT_FALSE(exported.count(own)) << own;
    // Beyond the module's names only a few, which the system's libraries take.
    int beyond = 0;
    for (const std::string &name : exported) beyond += moduleNames.count(name) ? 0 : 1;
    EXPECT_LT(beyond, 100) << "of " << exported.size();
}

TEST(WebMailModuleProgram, WithoutWebMailTheEngineIsNeverLoaded) {
    const std::string why = DovecotServer::Unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    DovecotServer dovecot;
    dovecot.FillMailbox(dovecot.UserName(), 3);
    TarnwickProgram p;
    TTestAccount pop;
    pop.Name = "Mail";
    pop.Port = dovecot.Pop3Port();
    pop.User = dovecot.UserName();
    pop.Password = dovecot.Password();
    p.WriteSettings({pop}, TarnwickProgram::QuickCheck());
    p.Start();
    ASSERT_TRUE(p.WaitFirstCheck()) << p.Stderr();
    EXPECT_FALSE(p.Maps("libQt6WebEngine"));
    EXPECT_FALSE(p.Maps(WebMailModuleFileName));
    EXPECT_EQ(p.ThreadsNamed("llvmpipe"), 0);
    p.Stop();
    EXPECT_TRUE(Contains(p.Log(), "You got 3 new mails")) << p.Log();
}

TEST(WebMailModuleProgram, WebMailAccountInTheSettingsLoadsTheModuleBeforeTheApplication) {
    PrepareBrowserTests();
    WebMailSite site;
    TarnwickProgram p;
    p.WriteHostData(HostSection("testmail", site.Url("/login")));
    p.WriteSettings({TestSiteWebAccount()}, TarnwickProgram::QuickCheck());
    p.Start();
    ASSERT_TRUE(p.WaitFirstCheck()) << p.Stderr();
    EXPECT_TRUE(p.Maps(WebMailModuleFileName));
    p.Stop();
    ASSERT_EQ(Logins(site), 1) << p.Log();
    EXPECT_TRUE(site.State()["logins"].toArray()[0].toObject()["ok"].toBool());
    EXPECT_FALSE(Contains(p.Log(), "not available")) << p.Log();
    // Loaded in time: the engine did not find the application made already.
    EXPECT_FALSE(Contains(p.Stderr(), "initialized from a plugin")) << p.Stderr();
}

// Not installed, or not loadable: web mail says what it said without an
// engine, and the program goes on.
TEST(WebMailModuleProgram, MissingOrDamagedModuleGivesTheClearMessage) {
    PrepareBrowserTests();
    WebMailSite site;
    for (auto module : {TarnwickProgram::mdMissing, TarnwickProgram::mdDamaged}) {
        TarnwickProgram p(module);
        p.WriteHostData(HostSection("testmail", site.Url("/login")));
        p.WriteSettings({TestSiteWebAccount()}, TarnwickProgram::QuickCheck());
        p.Start();
        ASSERT_TRUE(p.WaitFirstCheck()) << p.Stderr();
        EXPECT_FALSE(p.Maps("libQt6WebEngine"));
        p.Stop();
        EXPECT_TRUE(Contains(p.Log(), "Web mail is not available in this build of Tarnwick.")) << p.Log();
        EXPECT_TRUE(Contains(p.Stderr(), WebMailModuleFileName)) << p.Stderr();
    }
    EXPECT_EQ(Logins(site), 0);
}

// Refused from its file: the module is never mapped, so neither its code nor
// the engine's start-up ran in the program.
TEST(WebMailModuleProgram, ModuleOfAnotherBuildIsRefusedBeforeItIsLoaded) {
    PrepareBrowserTests();
    WebMailSite site;
    TarnwickProgram p(TarnwickProgram::mdOtherBuild);
    p.WriteHostData(HostSection("testmail", site.Url("/login")));
    p.WriteSettings({TestSiteWebAccount()}, TarnwickProgram::QuickCheck());
    p.Start();
    ASSERT_TRUE(p.WaitFirstCheck()) << p.Stderr();
    EXPECT_FALSE(p.Maps(WebMailModuleFileName));
    EXPECT_FALSE(p.Maps("libQt6WebEngine"));
    p.Stop();
    EXPECT_TRUE(Contains(p.Log(), "Web mail is not available in this build of Tarnwick.")) << p.Log();
    EXPECT_TRUE(Contains(p.Stderr(), p.Dir.File(WebMailModuleFileName) + " belongs to another build of Tarnwick"))
        << p.Stderr();
    EXPECT_EQ(Logins(site), 0);
}

// Tarnwick starts without web mail; the user adds a web-mail account in the
// Options dialog (tests/plugins/tarnwickdriver.cpp acts for the user), and
// the next check loads the module, long after the application was made, and
// counts the account's mail.
TEST(WebMailModuleProgram, WebMailAccountAddedWhileRunningLoadsTheModuleAtTheNextCheck) {
    const std::string why = DovecotServer::Unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    PrepareBrowserTests();
    DovecotServer dovecot;
    dovecot.FillMailbox(dovecot.UserName(), 2);
    WebMailSite site;
    TarnwickProgram p;
    // A preset puts its own host into the account.
    p.WriteHostData(
        StringReplaceAll(HostSection("testmail", site.Url("/login")), "\nHost=webmail.demo\n", "\nHost=testmail\n"));
    TTestAccount pop;
    pop.Name = "Mail";
    pop.Port = dovecot.Pop3Port();
    pop.User = dovecot.UserName();
    pop.Password = dovecot.Password();
    p.WriteSettings({pop}, TarnwickProgram::QuickCheck());
    p.SetEnvironment("QT_PLUGIN_PATH", std::string(TW_BINARY_DIR) + "/tests/plugins");
    p.SetEnvironment("QT_QPA_GENERIC_PLUGINS", "tarnwickdriver:" + p.Dir.Path());
    p.Start();
    ASSERT_TRUE(p.WaitFirstCheck()) << p.Stderr();
    EXPECT_FALSE(p.Maps(WebMailModuleFileName));
    EXPECT_FALSE(p.Maps("libQt6WebEngine"));

    p.ForgetCheck();
    // Renamed into place: the driver never reads half a request.
    WriteTestFile(p.Dir.File("request.tmp"),
                  "AddAccount=Web account\nPreset=testmail\nUser=bob\nPassword=s3cret\nThen=Show mail\n");
    ASSERT_EQ(::rename(p.Dir.File("request.tmp").c_str(), p.Dir.File("driver-request").c_str()), 0);
    ASSERT_TRUE(p.WaitFirstCheck()) << p.Stderr() << ReadTestFile(p.Dir.File("driver-failed"));
    EXPECT_TRUE(FileExists(p.Dir.File("driver-done"))) << ReadTestFile(p.Dir.File("driver-failed"));
    EXPECT_TRUE(p.Maps(WebMailModuleFileName));
    p.Stop();
    EXPECT_EQ(IniReadString(p.Dir.File("Tarnwick.ini"), "1", "Connection", ""), "HTTP");
    ASSERT_EQ(Logins(site), 1) << p.Log();
    EXPECT_TRUE(site.State()["logins"].toArray()[0].toObject()["ok"].toBool());
    const std::string log = p.Log();
    EXPECT_FALSE(Contains(log, "not available")) << log;
    // The site lists three new messages.
    const int web = Pos("Checking testmail", log);
    ASSERT_GT(web, 0) << log;
    EXPECT_GT(Pos("Done: You got 3 new mails", log, web), 0) << log;
}
