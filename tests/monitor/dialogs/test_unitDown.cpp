// The download window, driven offscreen against a loopback HTTP server.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <memory>
#include <string>

#include "dialogs/DialogSeam.h"
#include "HTTPGet.h"
#include "HttpTestServer.h"
#include "settings/ProgramPaths.h"
#include "QtTestApp.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "settings/unLanguage.h"
#include "dialogs/unitDown.h"

namespace {

// Runs action once cond() holds, checking every 10 ms while the window's
// modal loop runs.
void WhenTrue(QObject *ctx, std::function<bool()> cond, std::function<void()> action) {
    auto *t = new QTimer(ctx);
    QObject::connect(t, &QTimer::timeout, ctx, [t, cond, action] {
        if (!cond()) return;
        t->stop();
        t->deleteLater();
        action();
    });
    t->start(10);
}

// What the window looked like when it appeared.
struct Shown {
    std::string title, text, yes, cancel;
    QPoint pos;
    QSize client;
    bool yesVisible = false, timerActive = false;
};

class DownloadWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureQApplication(); }
    void SetUp() override {
        WriteTestFile(Www.File("skins.zip"), HttpPatternBytes(20000));
        Server = std::make_unique<HttpTestServer>(Www.Path());
        SetProgramFolder(Program.Path());
        SetLanguageFileName("english.lng");
    }
    void TearDown() override {
        SetModalHook({});
        SetProgramFolder("");
        SetLanguageFileName(DefaultLanguageFile);
        Server.reset();
    }

    // DownloadFile with steer run on the shown window, standing in for the
    // user while the window's events run; after 20 s the window is closed so
    // a broken window cannot hang the test program.
    bool Run(const std::string &url, bool autoStart, std::function<void(TForm2 &)> steer, int left = 120,
             int top = 340, std::string *why = nullptr) {
        SetModalHook([&, steer](QDialog &d) {
            auto *form = dynamic_cast<TForm2 *>(&d);
            ASSERT_NE(form, nullptr);
            TForm2 &f = *form;
            Seen = {f.windowTitle().toStdString(), f.Label1->text().toStdString(),
                    f.BitBtn1->text().toStdString(),   f.BitBtn2->text().toStdString(),
                    f.pos(), f.size(), f.BitBtn1->isVisible(), f.Timer1->isActive()};
            Clock.start();
            steer(f);
            WatchdogFired = !ProcessEventsUntil([&f] { return !f.isVisible(); }, 20000);
        });
        bool r = DownloadFile("Download...", "A new version is ready.", url, Target(), left, top, autoStart, why);
        EXPECT_FALSE(WatchdogFired);
        return r;
    }
    std::string Target() { return Out.File("skin.zip"); }

    TempDir Www, Out, Program;
    std::unique_ptr<HttpTestServer> Server;
    Shown Seen;
    bool WatchdogFired = false;
    QElapsedTimer Clock;  // started when the window appeared
};

TEST_F(DownloadWindowTest, YesDownloadsTheFileAndAnswersTrue) {
    bool disabledAfterClick = false;
    bool r = Run(Server->Url("/skins.zip"), false, [&](TForm2 &f) {
        f.BitBtn1->click();
        disabledAfterClick = !f.BitBtn1->isEnabled();
    });
    EXPECT_TRUE(r);
    EXPECT_TRUE(disabledAfterClick);
    EXPECT_EQ(ReadFileToString(Target()), HttpPatternBytes(20000));

    EXPECT_EQ(Seen.title, "Tarnwick - Download...");
    EXPECT_EQ(Seen.text, "A new version is ready.");
    EXPECT_EQ(Seen.yes, "Yes");
    EXPECT_EQ(Seen.cancel, "Cancel");
    EXPECT_EQ(Seen.pos, QPoint(120, 340));
    EXPECT_EQ(Seen.client, QSize(306, 157));
    EXPECT_TRUE(Seen.yesVisible);
    EXPECT_FALSE(Seen.timerActive);
}

TEST_F(DownloadWindowTest, AutoStartBeginsAboutASecondAfterShowing) {
    bool startedEarly = false;
    bool r = Run(Server->Url("/skins.zip"), true, [&](TForm2 &f) {
        QTimer::singleShot(700, &f, [&] { startedEarly = f.HTTPGet->Running() || f.Result; });
    });
    EXPECT_TRUE(r);
    EXPECT_GE(Clock.elapsed(), 900);
    EXPECT_FALSE(startedEarly);
    EXPECT_FALSE(Seen.yesVisible);
    EXPECT_TRUE(Seen.timerActive);
    EXPECT_EQ(FileSize(Target()), 20000);
}

TEST_F(DownloadWindowTest, AutoStartRetriesEverySecondUntilTheFileArrives) {
    // The file is not on the server at first: the window stays open and
    // tries again at the next ticks.
    bool openAfterFailure = false;
    bool r = Run(Server->Url("/late.zip"), true, [&](TForm2 &f) {
        QTimer::singleShot(2300, &f, [&] {
            openAfterFailure = f.isVisible() && !f.Result;
            WriteTestFile(Www.File("late.zip"), HttpPatternBytes(3000));
        });
    });
    EXPECT_TRUE(r);
    EXPECT_TRUE(openAfterFailure);
    EXPECT_EQ(ReadFileToString(Target()), HttpPatternBytes(3000));
}

TEST_F(DownloadWindowTest, FailureWithoutAutoStartWaitsForCancel) {
    WriteTestFile(Target(), "the copy we already have");
    bool openAfterFailure = false, yesDisabled = false;
    bool r = Run(Server->Url("/_status?code=404&size=20000"), false, [&](TForm2 &f) {
        f.BitBtn1->click();
        QTimer::singleShot(800, &f, [&] {
            openAfterFailure = f.isVisible() && !f.HTTPGet->Running();
            yesDisabled = !f.BitBtn1->isEnabled();
            f.BitBtn2->click();
        });
    });
    EXPECT_FALSE(r);
    EXPECT_TRUE(openAfterFailure);
    EXPECT_TRUE(yesDisabled);
    EXPECT_EQ(ReadFileToString(Target()), "the copy we already have");
    EXPECT_EQ(ListDirectory(Out.Path()), std::vector<std::string>{"skin.zip"});
}

TEST_F(DownloadWindowTest, CancelDuringAStalledBodyReturnsWithinASecond) {
    QElapsedTimer sinceCancel;
    bool r = Run(Server->Url("/_stall?announce=200000&send=5000&hold=30"), false, [&](TForm2 &f) {
        f.BitBtn1->click();
        WhenTrue(&f, [&f] { return f.ProgressBar1->value() > 0; }, [&] {
            EXPECT_EQ(f.ProgressBar1->maximum(), 200000);
            EXPECT_EQ(f.ProgressBar1->value(), 5000);
            sinceCancel.start();
            f.BitBtn2->click();
        });
    });
    ASSERT_TRUE(sinceCancel.isValid());
    EXPECT_LT(sinceCancel.elapsed(), 1000);
    EXPECT_FALSE(r);
    EXPECT_TRUE(ListDirectory(Out.Path()).empty());
}

// A download that did not arrive says why: the error of the attempt that
// failed, or nothing when the user cancelled (also in the middle of one).
TEST_F(DownloadWindowTest, AFalseAnswerTellsAFailureFromACancel) {
    std::string why = "(not set)";
    EXPECT_FALSE(Run(Server->Url("/skins.zip"), false, [](TForm2 &f) { f.BitBtn2->click(); }, 120, 340, &why));
    EXPECT_EQ(why, "");
    why = "(not set)";
    EXPECT_FALSE(Run(
        Server->Url("/_stall?announce=200000&send=5000&hold=30"), false,
        [](TForm2 &f) {
            f.BitBtn1->click();
            WhenTrue(&f, [&f] { return f.ProgressBar1->value() > 0; }, [&f] { f.BitBtn2->click(); });
        },
        120, 340, &why));
    EXPECT_EQ(why, "");
    EXPECT_FALSE(Run(
        Server->Url("/missing.zip"), false,
        [](TForm2 &f) {
            f.BitBtn1->click();
            WhenTrue(&f, [&f] { return !f.HTTPGet->Running() && f.HTTPGet->LastStatusCode() != 0; },
                     [&f] { f.BitBtn2->click(); });
        },
        120, 340, &why));
    EXPECT_EQ(why, "HTTP status 404");
    EXPECT_TRUE(Run(Server->Url("/skins.zip"), true, [](TForm2 &) {}, 120, 340, &why));
    EXPECT_EQ(why, "");
}

TEST_F(DownloadWindowTest, ClosingTheWindowAnswersFalseAndStopsTheDownload) {
    bool r = Run(Server->Url("/_stall?announce=200000&send=5000&hold=30"), true, [&](TForm2 &f) {
        WhenTrue(&f, [&f] { return f.ProgressBar1->value() > 0; }, [&f] { f.close(); });
    });
    EXPECT_FALSE(r);
    EXPECT_TRUE(ListDirectory(Out.Path()).empty());
}

TEST_F(DownloadWindowTest, CaptionsFromTheLanguageFileAndPlaceAboveTheTaskbar) {
    // Callers place it above the taskbar at the right; the work area's
    // bottom edge is the row below it, not its last row.
    QScreen *screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    QRect area = screen->availableGeometry();
    EXPECT_EQ(DownloadWindowLeft(), screen->geometry().width() - 372);
    EXPECT_EQ(DownloadWindowTop(), area.y() + area.height() - 216);
    // The shipped Finnish file, found whatever the letter case of its name.
    WriteTestFile(Program.File("lang/Finnish.LNG"),
                  ReadFileToString(std::string(TW_SOURCE_DIR) + "/Lang/finnish.lng"));
    SetLanguageFileName("finnish.lng");
    Run(Server->Url("/skins.zip"), false, [](TForm2 &f) { f.BitBtn2->click(); }, DownloadWindowLeft(),
        DownloadWindowTop());
    EXPECT_EQ(Seen.pos, QPoint(DownloadWindowLeft(), DownloadWindowTop()));
    EXPECT_EQ(Seen.yes, "Kyllä");
    EXPECT_EQ(Seen.cancel, "Peruuta");
}

TEST_F(DownloadWindowTest, CancelSurvivesTheWindowBeingFreedWhileItWaits) {
    // Cancel runs the event loop while the download winds down; whatever
    // happens there, it touches nothing of a window that is gone.
    auto *f = new TForm2;
    f->Url = Server->Url("/_stall?announce=200000&send=5000&hold=30");
    f->TargetFile = Target();
    f->BitBtn1Click();
    ASSERT_TRUE(ProcessEventsUntil([f] { return f->ProgressBar1->value() > 0; }, 10000));
    QTimer::singleShot(0, [f] { delete f; });
    f->BitBtn2Click();
    EXPECT_TRUE(ListDirectory(Out.Path()).empty());
}

TEST_F(DownloadWindowTest, ProgressStopsMovingOnceTheTargetIsCleared) {
    TForm2 f;
    f.HTTPGet->FileName = Target();
    f.HTTPGetProgress(f.HTTPGet, 1000, 400);
    EXPECT_EQ(f.ProgressBar1->maximum(), 1000);
    EXPECT_EQ(f.ProgressBar1->value(), 400);
    f.HTTPGet->FileName.clear();  // what Cancel does first
    f.HTTPGetProgress(f.HTTPGet, 1000, 900);
    EXPECT_EQ(f.ProgressBar1->value(), 400);

    // Sizes beyond the bar's int range keep their proportion.
    f.HTTPGet->FileName = Target();
    f.HTTPGetProgress(f.HTTPGet, int64_t(10) << 30, int64_t(5) << 30);
    ASSERT_GT(f.ProgressBar1->maximum(), 0);
    EXPECT_NEAR(double(f.ProgressBar1->value()) / f.ProgressBar1->maximum(), 0.5, 0.01);
}

}  // namespace
