// The message reader on a web-mail account whose host script or site
// misbehaves: a bad number in the script, a delete answered with another
// page than the list. The web-mail test site runs in the real browser
// engine with the route installed as the program installs it.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QToolButton>
#include <QTreeWidget>

#include "mainwindow/MainWindowFixture.h"
#include "ReaderFixture.h"
#include "WebMailSite.h"
#include "webmail/WebMailCalls.h"
#include "webmail/WebMailModule.h"
#include "reader/unShowBody.h"

namespace {

// The route loaded as the program loads it, for one test.
struct TInstalledRoute {
    TInstalledRoute() { LoadWebMailModuleOnFirstUse(); }
    ~TInstalledRoute() {
        FreeWebMailForm();
        SetWebMailLoader(nullptr);
        SetWebMailCalls({});
    }
};

class WebMailReader : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PrepareBrowserTests(); }
    void TearDown() override { SetModalHook({}); }
    // The site's script with one key's line replaced.
    TTestAccount Web(const std::string &line, const std::string &replacement) {
        std::string section = HostSection("testmail", Site.Url("/login"));
        EXPECT_TRUE(Contains(section, line + "\n")) << section;
        WriteTestFile(H->Dir.File("host_data.dat"), StringReplaceAll(section, line + "\n", replacement + "\n"));
        return TestSiteWebAccount();
    }
    void RunReader(const std::function<void(TfrmMessBody &)> &act) {
        H->Start().State.Accounts.ShownIndex = 0;
        EXPECT_TRUE(RunLoadedReader(act)) << "the reader stays busy";
    }

    WebMailSite Site;
    std::unique_ptr<MainWindowHarness> H = std::make_unique<MainWindowHarness>();
    TInstalledRoute Route;
};

}  // namespace

TEST_F(WebMailReader, ABadNumberInTheScriptEndsTheLoadButNotTheWindow) {
    H->WriteSettings({Web("DelLn=2", "DelLn=two")}, {H->LongLog()});
    RunReader([&](TfrmMessBody &f) {
        EXPECT_EQ(f.MailList->topLevelItemCount(), 0);
        EXPECT_FALSE(f.Status().empty()) << "the failure is shown";
        // The window still works: a reload is carried out (and fails the
        // same way), not refused in silence.
        const std::string first = f.Status();
        f.ToolButton1->click();
        EXPECT_FALSE(f.Busy);
        EXPECT_EQ(f.Status(), first);
    });
}

TEST_F(WebMailReader, ADeleteAnsweredWithAnotherPageIsNoDeletion) {
    // Without the confirming link the site stays on its "Delete?" page.
    H->WriteSettings({Web("DelLink=Yes, delete", "DelLink=")}, {H->LongLog()});
    RunReader([&](TfrmMessBody &f) {
        ASSERT_EQ(f.MailList->topLevelItemCount(), 5) << f.Status();
        f.SelectRow(0);
        f.ToolButton1Click(f.ToolButton4);
        EXPECT_FALSE(f.Busy);
        EXPECT_EQ(f.Status(), "Cannot delete this message.");
        EXPECT_EQ(f.MailList->topLevelItemCount(), 5) << "the row stays";
        EXPECT_EQ(Site.State()["deleted"].toArray().size(), 0);
        EXPECT_EQ(Site.State()["delete_posts"].toArray().size(), 1) << "the site was asked once";
    });
}
