// Fenlow's download window, and the program update that has to fetch its
// archive itself, against a loopback https server signed by the test CA.
#include "FenlowTestCommon.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cstdlib>

#include "dialogs/DialogSeam.h"
#include "HTTPGet.h"
#include "HttpTestServer.h"
#include "OpenSSLServer.h"
#include "unitFenlowDown.h"

namespace {

// What the window looked like when it appeared.
struct Seen {
    std::string title, yes, cancel;
    QRect frame;
    QRect bar, yesButton, cancelButton;
    bool labelVisible = true, yesVisible = true, retrying = false;
};

class FenlowDownTest : public FenlowTest {
protected:
    void SetUp() override {
        const TestPKI &pki = TestPKI::Get();
        SetHTTPGetCAFile(pki.CAFile);
        Server = std::make_unique<HttpTestServer>(Www.Path(), pki.ServerCert, pki.Key);
        ::setenv(UpdateUrlVariable, Server->Url("/tarnwick/").c_str(), 1);
    }
    void TearDown() override {
        SetModalHook({});
        ::unsetenv(UpdateUrlVariable);
        SetHTTPGetCAFile("");
        Server.reset();
        FenlowTest::TearDown();
    }
    // The hook stands in for the user: it notes the window, runs steer, and
    // lets the window's events run until it closes (20 s at most).
    void Hook(std::function<void(unitFenlowDown::TForm2 &)> steer = {}) {
        SetModalHook([this, steer](QDialog &d) {
            auto *f = dynamic_cast<unitFenlowDown::TForm2 *>(&d);
            ASSERT_NE(f, nullptr);
            Shown = {f->windowTitle().toStdString(), f->BitBtn1->text().toStdString(), f->BitBtn2->text().toStdString(),
                     QRect(f->pos(), f->size()), f->ProgressBar1->geometry(), f->BitBtn1->geometry(),
                     f->BitBtn2->geometry(), f->Label1->isVisible(), f->BitBtn1->isVisible(), f->Timer1->isActive()};
            ++Windows;
            if (steer) steer(*f);
            EXPECT_TRUE(ProcessEventsUntil([f] { return !f->isVisible(); }, 20000));
        });
    }
    TempDir Www;
    std::unique_ptr<HttpTestServer> Server;
    Seen Shown;
    int Windows = 0;
};

}  // namespace

TEST_F(FenlowDownTest, TheWindowIsSmallEnglishAndStandsOnTheBottomEdgeItIsGiven) {
    WriteTestFile(Www.File("tarnwick/zip/a.zip"), HttpPatternBytes(30000));
    Hook();
    QScreen *screen = QGuiApplication::primaryScreen();
    bool ok = unitFenlowDown::DownloadFile("Download...", "ignored text", Server->Url("/tarnwick/zip/a.zip"), P("a.zip"),
                                           17, 700, true);
    EXPECT_TRUE(ok);
    EXPECT_EQ(ReadFileToString(P("a.zip")), HttpPatternBytes(30000));
    EXPECT_EQ(Shown.title, "Tarnwick - Download...");
    EXPECT_EQ(Shown.yes, "Yes");
    EXPECT_EQ(Shown.cancel, "Cancel");
    EXPECT_EQ(Shown.frame, QRect(screen->geometry().width() - 306, 700 - 65, 306, 65));
    EXPECT_EQ(Shown.bar, QRect(8, 8, 289, 17));
    EXPECT_EQ(Shown.cancelButton.topLeft(), QPoint(192, 34));
    EXPECT_GE(Shown.yesButton.top(), 65);  // below the visible face
    EXPECT_FALSE(Shown.labelVisible);
    EXPECT_FALSE(Shown.yesVisible);
    EXPECT_TRUE(Shown.retrying);
}

TEST_F(FenlowDownTest, ServerErrorsAreRetriedUntilCancelAndNeverBecomeTheFile) {
    bool openAfterError = false;
    Hook([&](unitFenlowDown::TForm2 &f) {
        ProcessEventsUntil([&f] { return f.HTTPGet->LastStatusCode() == 404 && !f.HTTPGet->Running(); }, 10000);
        openAfterError = f.isVisible() && f.Timer1->isActive();
        f.BitBtn2->click();
    });
    EXPECT_FALSE(unitFenlowDown::DownloadFile("Download...", "", Server->Url("/tarnwick/zip/none.zip"), P("none.zip"),
                                              0, 700, true));
    EXPECT_TRUE(openAfterError);
    EXPECT_FALSE(Exists("none.zip"));
}

TEST_F(FenlowDownTest, FenlowFetchesAMissingProgramArchiveAndInstallsIt) {
    InstallOldTarnwick();
    MakeProgramZip(Www.File("tarnwick/zip/tarnwick.zip"));
    WriteFenlowDat(P("temp/tarnwick.zip"), FileSha256(Www.File("tarnwick/zip/tarnwick.zip")));
    Hook();
    Run({"-fenlow"});
    EXPECT_EQ(Windows, 1);
    EXPECT_EQ(WaitStarted(), "new Version=0.1.2.5\n");
    EXPECT_EQ(Read(TarnwickExeName), TarnwickStandIn("new", "0.9.0.0"));
    EXPECT_FALSE(Exists("temp/tarnwick.zip"));
    EXPECT_FALSE(Exists("fenlow.dat"));
}

TEST_F(FenlowDownTest, AfterItsOwnDownloadFenlowStillWaitsForTarnwick) {
    InstallOldTarnwick();
    MakeProgramZip(Www.File("tarnwick/zip/tarnwick.zip"));
    WriteFenlowDat(P("temp/tarnwick.zip"));
    TProgramLock tarnwick = AcquireProgramLock(Dir.Path());
    int ticksAfterDownload = -1;
    Hook([&](unitFenlowDown::TForm2 &f) {
        ProcessEventsUntil([&f] { return !f.isVisible(); }, 20000);
        ticksAfterDownload = Form->TickCount;
    });
    Start({"-fenlow"});
    // The job goes on ticking after the window; Tarnwick still runs.
    ASSERT_TRUE(WaitUntil([&] { return ticksAfterDownload >= 0 && Form->TickCount >= ticksAfterDownload + 2; }, 20000));
    EXPECT_EQ(Read(TarnwickExeName), TarnwickStandIn("old"));
    tarnwick.Release();
    ASSERT_TRUE(WaitClosed());
    EXPECT_EQ(WaitStarted(), "new Version=0.1.2.5\n");
}

TEST_F(FenlowDownTest, ACancelledDownloadStartsTheOldTarnwickAgain) {
    InstallOldTarnwick();
    WriteFenlowDat(P("temp/tarnwick.zip"));  // the site does not have it
    Hook([](unitFenlowDown::TForm2 &f) {
        ProcessEventsUntil([&f] { return f.HTTPGet->LastStatusCode() == 404 && !f.HTTPGet->Running(); }, 10000);
        f.BitBtn2->click();
    });
    Run({"-fenlow"});
    EXPECT_EQ(WaitStarted(), "old Version=0.1.2.5\n");
    EXPECT_EQ(Read(TarnwickExeName), TarnwickStandIn("old"));
    EXPECT_FALSE(Exists("temp/tarnwick.zip"));
    EXPECT_FALSE(Exists("temp/oldprogram"));
}

TEST_F(FenlowDownTest, ARemoteNameThatIsNoFileNameIsNotFetched) {
    InstallOldTarnwick();
    WriteFenlowDat(P("temp/x\\..\\tarnwick.zip"));
    Hook();
    Run({"-fenlow"});
    EXPECT_EQ(Windows, 0);
    EXPECT_EQ(WaitStarted(), "old Version=0.1.2.5\n");
}
