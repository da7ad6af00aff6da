// The Skins page while Fenlow installs skins: what would collide with the
// job is not offered, and reached all the same it says that an update is
// running instead of doing nothing or doing harm.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeWidget>
#include <memory>
#include <sys/stat.h>

#include "HTTPGet.h"
#include "HttpTestServer.h"
#include "OpenSSLServer.h"
#include "OptionsFixture.h"
#include "NetPOP3.h"
#include "ScriptedPeer.h"
#include "SimpleTimer.h"
#include "updates/Kel_Files.h"
#include "updates/ProductWeb.h"
#include "updates/UpdateFiles.h"
#include "dialogs/unitDown.h"

namespace {

class SkinJobTest : public OptionsDialogTest {
protected:
    void SetUp() override {
        OptionsDialogTest::SetUp();
        // Every address the page's buttons reach is this loopback site.
        const TestPKI &pki = TestPKI::Get();
        SetHTTPGetCAFile(pki.CAFile);
        WriteTestFile(Www.File("zip/skins/allskins.zip"), "PK-all-skins");
        Server = std::make_unique<HttpTestServer>(Www.Path(), pki.ServerCert, pki.Key);
        ::setenv(UpdateUrlVariable, Server->Url("/").c_str(), 1);
        SetProductWebLocation(Server->Url("/"));
        for (const char *skin : {"Default", "blue"}) {
            WriteTestFile(Dir.File(std::string("skins/") + skin + "/" + skin + ".skn"), "[About]\r\nVersion=1\r\n");
            WriteTestFile(Dir.File(std::string("skins/") + skin + "/back.bmp"), "old");
        }
        WriteTestFile(Dir.File("Tarnwick.ini"), "[Options]\r\nLanguage=english.lng\r\nSkin=Default\r\n");
        Main = new TFrmMain();
        for (TTimer *t : {Main->Timer5, Main->Timer6, Main->Timer8}) t->SetEnabled(false);
        Options = new TFormAsetukset();
        Options->ShowFromMenu(TFormAsetukset::mpFirst);
        const auto nodes = Options->TreeView1->findItems("Skins", Qt::MatchExactly | Qt::MatchRecursive);
        ASSERT_EQ(nodes.size(), 1);
        Options->TreeView1->setCurrentItem(nodes[0]);
        ASSERT_EQ(Options->PageControl1->currentIndex(), TFormAsetukset::pgSkins);
    }
    void TearDown() override {
        SetProductWebLocation("");
        ::unsetenv(UpdateUrlVariable);
        SetHTTPGetCAFile("");
        OptionsDialogTest::TearDown();
        Server.reset();
    }

    // Fenlow standing in: it notes its switch, works until the test puts
    // "go" beside it (30 s at most) and ends with Status.
    void Fenlow(int Status) {
        WriteTestFile(Dir.File("fenlow"), "#!/bin/sh\ncd \"$(dirname \"$0\")\" || exit 2\n"
                                          "echo \"$1\" >> fenlow.txt\n"
                                          "i=0\nwhile [ ! -e go ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done\n"
                                          "exit " + std::to_string(Status) + "\n");
        ::chmod(Dir.File("fenlow").c_str(), 0755);
    }
    // Runs Look once the stand-in has started, then lets it end.
    void WhileFenlowWorks(std::function<void()> Look) {
        auto *t = new QTimer(Options);
        QObject::connect(t, &QTimer::timeout, Options, [this, t, Look] {
            if (ReadTestFile(Dir.File("fenlow.txt")).empty()) return;
            t->stop();
            t->deleteLater();
            Look();
            WriteTestFile(Dir.File("go"), "");
        });
        t->start(5);
    }
    std::vector<QPushButton *> Buttons() const {
        return {Options->BitBtn1, Options->BitBtn2, Options->BitBtn3, Options->BitBtn4, Options->BitBtn6};
    }
    std::vector<bool> Offered() const {
        std::vector<bool> v;
        for (QPushButton *b : Buttons()) v.push_back(b->isEnabled());
        return v;
    }

    TempDir Www;
    std::unique_ptr<HttpTestServer> Server;
};

// The user of a download window that starts by itself: it waits until the
// window has closed.
void WaitForDownload(QDialog &d) { EXPECT_TRUE(ProcessEventsUntil([&d] { return !d.isVisible(); }, 20000)); }

}  // namespace

TEST_F(SkinJobTest, WhileFenlowInstallsSkinsNothingCollidesWithIt) {
    const std::vector<bool> all(5, true), none(5, false);
    const std::string running = "Tarnwick / Warning | An update is already running.";
    for (int status : {0, 1}) {
        SCOPED_TRACE(status);
        DeleteFile(Dir.File("fenlow.txt"));
        DeleteFile(Dir.File("go"));
        Fenlow(status);
        Asked.clear();
        EXPECT_EQ(Offered(), all);
        std::vector<bool> during;
        std::vector<std::string> said;
        WhileFenlowWorks([&] {
            during = Offered();
            Asked.clear();
            // Reached all the same (a shortcut, a call): each says so.
            Options->CheckListBox2->SetChecked(0, true);
            Options->BitBtn2Click(Options->BitBtn3);  // delete "blue"
            Options->BitBtn2Click(Options->BitBtn2);  // update "blue"
            Options->BitBtn4Click();
            Options->BitBtn6Click();
            Options->BitBtn1Click();
            said = Asked;
        });
        Answers.push_back(WaitForDownload);
        Options->BitBtn4->click();
        EXPECT_EQ(during, none);
        EXPECT_EQ(said, std::vector<std::string>(5, running));
        // Nothing of it happened: the skin is there, one Fenlow ran.
        EXPECT_TRUE(DirectoryExists(Dir.File("skins/blue")));
        EXPECT_EQ(ReadTestFile(Dir.File("fenlow.txt")), "-all\n");
        EXPECT_TRUE(Desk.Calls.empty());
        // However the job ended, the page offers everything again.
        EXPECT_EQ(Offered(), all);
        ASSERT_FALSE(Asked.empty());
        EXPECT_EQ(Asked.back(), status == 0 ? "Tarnwick / Info | All skins were installed."
                                            : "Tarnwick / Warning | The skins could not be installed.");
    }
}

// A skin job started from inside a check's pumping would hold the check
// until Fenlow ends: none starts then, the user is told, and the check goes
// on. While a job runs, OK keeps the window's skin rather than reading the
// folders Fenlow writes; the next show brings the skin chosen.
TEST_F(SkinJobTest, NoSkinJobStartsDuringACheckAndOkLoadsNoSkinDuringAJob) {
    WriteTestFile(Www.File("zip/skins/blue.zip"), "PK-skin");
    WriteTestFile(Www.File("zip/skins/skins.dat"), "[blue]\r\nVersion=2\r\nFile=blue.zip\r\n");
    Fenlow(0);
    // A server that takes the connection and says nothing for a while.
    ScriptedPeer silent({"sleep:3000"});
    Main->AddAccount();
    Tiedot &slow = Main->State.Accounts[0];
    slow.Name = "slow";
    slow.Host = "127.0.0.1";
    slow.Port = silent.Port();
    Main->NetPOP31->SetReadTimeout(1000);
    // Were a skin update's download offered, the user would take it.
    Answers.push_back([](QDialog &d) {
        auto *download = qobject_cast<TForm2 *>(&d);
        if (!download) return;
        download->BitBtn1->click();
        WaitForDownload(d);
    });
    TSimpleTimer user(20, [&](QObject *) {
        if (!Main->State.CycleActive) return;
        user.SetEnabled(false);
        Options->CheckListBox2->SetChecked(0, true);  // "blue"
        Options->BitBtn2->click();
        Options->BitBtn4->click();
        // The start-up's own check waits for its next turn, saying nothing.
        EXPECT_FALSE(Main->CheckForSkinUpdate("blue", false));
    });
    user.SetEnabled(true);
    QElapsedTimer took;
    took.start();
    Main->Timer1Timer();
    EXPECT_LT(took.elapsed(), 10000);
    const std::string checking = "Tarnwick / Warning | Mail is being checked. Try again when the check has ended.";
    EXPECT_EQ(Asked, std::vector<std::string>(2, checking));
    // Told twice, once for each button.
    const QString told = Options->RichEdit1->toPlainText();
    EXPECT_EQ(told.count("Mail is being checked."), 2) << told.toStdString();
    EXPECT_EQ(ReadTestFile(Dir.File("fenlow.txt")), "");
    EXPECT_EQ(ReadTestFile(Dir.File("skins/blue/back.bmp")), "old");
    Answers.clear();
    Asked.clear();

    ASSERT_EQ(Main->LoadedSkin, "Default");
    std::string loaded, log;
    WhileFenlowWorks([&] {
        Options->CheckListBox2->SetChecked(0, true);
        Options->CheckListBox2->SetChecked(1, false);
        Options->btOk->click();
        loaded = Main->LoadedSkin;
        log = Options->RichEdit1->toPlainText().toStdString();
    });
    Answers.push_back(WaitForDownload);
    Options->BitBtn4->click();
    EXPECT_EQ(loaded, "Default");
    // Not in silence: the log says why.
    EXPECT_TRUE(Contains(log, "An update is already running.")) << log;
    EXPECT_EQ(Main->State.Options.Skin, "blue");
    EXPECT_EQ(Read("Options", "Skin"), "blue");
    Main->FormShow();
    EXPECT_EQ(Main->LoadedSkin, "blue");
}
