// The web-mail module as the program loads it: the real Tarnwick of the
// build in a program folder laid out as a delivered one, with the module
// beside it, without it, or with a damaged one; and the settings test that
// decides whether it comes before the application object.
#include <gtest/gtest.h>

#include <QJsonArray>

#include "ChildProcess.h"
#include "DovecotServer.h"
#include "settings/ProgramPaths.h"
#include "TarnwickProgramFixture.h"
#include "settings/Tiedot.h"
#include "WebMailSite.h"

namespace {

int Logins(const WebMailSite &site) { return int(site.State()["logins"].toArray().size()); }

}  // namespace

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
