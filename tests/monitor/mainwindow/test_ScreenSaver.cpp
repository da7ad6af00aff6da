#include <QApplication>
#include <QKeyEvent>

#include "Graphics.h"
#include "DisplayFixture.h"
#include "MainWindowFixture.h"
#include "NetPOP3.h"
#include "SimpleTimer.h"
#include "mainwindow/unScr.h"
#include "settings/unLanguage.h"
#include "../../mailproto/dovecot_suite.h"

namespace {

using ScreenSaverTest = MainWindowTest;

// Shows the saver with Work standing in for the user; afterwards the saver
// is gone again.
void WithSaver(const std::function<void(TfrmMainScr &)> &Work) {
    SetModalHook([&](QDialog &d) {
        auto *s = dynamic_cast<TfrmMainScr *>(&d);
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(ScreenSaverForm(), s);
        Work(*s);
    });
    ShowScreenSaver();
    SetModalHook({});
    EXPECT_FALSE(ScreenSaverShown());
}

bool HasGreen(const QImage &img, QRect r) {
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            QColor c = img.pixelColor(x, y);
            if (c.green() > 60 && c.red() < 40 && c.blue() < 40)
                return true;
        }
    return false;
}

}  // namespace

TEST_F(ScreenSaverTest, JitterDoesNotEndItARealMovementDoes) {
    for (QPoint move : {QPoint(3, 0), QPoint(0, -3), QPoint(3, 3), QPoint(-40, 1)}) {
        bool stillAfterJitter = false, endedAfterMove = false;
        WithSaver([&](TfrmMainScr &s) {
            QPoint at = s.LastCursor;
            for (QPoint j : {QPoint(1, 1), QPoint(2, -2), QPoint(-2, 2), QPoint(0, 2), QPoint(-1, 0)})
                s.CursorMoved(at + j);
            stillAfterJitter = s.isVisible();
            s.CursorMoved(at + move);
            endedAfterMove = !s.isVisible();
        });
        EXPECT_TRUE(stillAfterJitter) << move.x() << "," << move.y();
        EXPECT_TRUE(endedAfterMove) << move.x() << "," << move.y();
    }
}

TEST_F(ScreenSaverTest, AKeyOrAClickEndsItAndLeavesTheStopMarkAlone) {
    bool markWhileEnding = true, shownAfter = true;
    WithSaver([&](TfrmMainScr &s) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
        QApplication::sendEvent(&s, &key);
        markWhileEnding = Form->Exit1->Tag != 0;
        shownAfter = ScreenSaverShown();
        EXPECT_FALSE(s.isVisible());
        // Its loop has not returned yet: no second saver meanwhile.
        int nested = 0;
        SetModalHook([&](QDialog &) { ++nested; });
        ShowScreenSaver();
        EXPECT_EQ(nested, 0);
    });
    EXPECT_FALSE(markWhileEnding);
    EXPECT_FALSE(shownAfter);
    EXPECT_EQ(Form->Exit1->Tag, 0);

    WithSaver([&](TfrmMainScr &s) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::RightButton, Qt::RightButton,
                          Qt::NoModifier);
        QApplication::sendEvent(&s, &press);
        EXPECT_FALSE(s.isVisible());
    });

    // An exit asked for while the saver showed is kept.
    WithSaver([&](TfrmMainScr &s) {
        Form->Exit1->Tag = 1;
        s.EndSaver();
    });
    EXPECT_EQ(Form->Exit1->Tag, 1);
    Form->Exit1->Tag = 0;
}

TEST_F(ScreenSaverTest, TheSystemSaverIsHeldOffWhileItShows) {
    WithSaver([&](TfrmMainScr &) {
        EXPECT_EQ(Desk.Count("InhibitScreenSaver"), 1);
        EXPECT_EQ(Desk.Count("UnInhibitScreenSaver"), 0);
    });
    EXPECT_EQ(Desk.Count("UnInhibitScreenSaver 7"), 1);
    // A system saver that started anyway is poked away at the next tick.
    WithSaver([&](TfrmMainScr &s) {
        Desk.SaverActiveAnswers = 1;
        s.Timer1Timer();
        EXPECT_EQ(Desk.Count("PokeScreenSaver"), 1);
    });
}

TEST_F(ScreenSaverTest, BannersOnlyForMailSizedToTheirContentAndApart) {
    AddAccount("Work", 3);
    AddAccount("Empty", 0);
    AddAccount("Home", 2);
    Tiedot &a = Form->State.Accounts[0], &c = Form->State.Accounts[2];
    a.OwnColor = "clRed";
    c.OwnColor = "$00FF00";
    WithSaver([&](TfrmMainScr &s) {
        ASSERT_EQ(s.Banners.size(), 2u);
        EXPECT_EQ(s.Banners[0].Account, 0);
        EXPECT_EQ(s.Banners[1].Account, 2);
        s.Timer1Timer();
        for (const TSaverBanner &b : s.Banners) {
            EXPECT_EQ(b.X, s.ScreenWidth);  // painted at the first tick, entering from the right
            EXPECT_GT(b.Width, 20);
            EXPECT_LE(b.Width, MaxBannerTextWidth + 20);
            EXPECT_LT(b.Height, s.ScreenHeight / 3);
            EXPECT_TRUE(b.Step == 1 || b.Step == 2);
        }
        const TSaverBanner &x = s.Banners[0], &y = s.Banners[1];
        EXPECT_TRUE(x.Y + x.Height <= y.Y || y.Y + y.Height <= x.Y) << x.Y << " " << y.Y;
        // The account's name is drawn in its colour.
        bool red = false;
        for (int py = 0; py < 20 && !red; ++py)
            for (int px = 0; px < x.Width && !red; ++px)
                red = x.Bitmap.pixelColor(px, py).red() > 200 && x.Bitmap.pixelColor(px, py).green() < 60 &&
                      x.Bitmap.pixelColor(px, py).blue() < 60;
        EXPECT_TRUE(red);
        // They drift by their step and are drawn on the black screen.
        int before = x.X;
        s.Timer1Timer();
        EXPECT_EQ(s.Banners[0].X, before - s.Banners[0].Step);
        s.Banners[0].X = 10;
        QImage shot = s.grab().toImage();
        EXPECT_EQ(shot.pixelColor(s.width() - 1, s.height() - 1), QColor(Qt::black));
        EXPECT_EQ(shot.pixelColor(10 + 3, s.Banners[0].Y + 3), x.Bitmap.pixelColor(3, 3));

        // Mail gone: the banner leaves when it has passed the left edge.
        a.NewCount = 0;
        s.Banners[0].X = -s.Banners[0].Width;
        s.Timer1Timer();
        ASSERT_EQ(s.Banners.size(), 1u);
        EXPECT_EQ(s.Banners[0].Account, 2);
        // New mail while it shows gets a banner of its own.
        Form->State.Accounts[1].NewCount = 0;
        a.NewCount = 1;
        s.Timer1Timer();
        EXPECT_EQ(s.Banners.size(), 2u);
    });
}

TEST_F(ScreenSaverTest, LongListsAndTextsAreCut) {
    QFont f("Liberation Sans");
    f.setPixelSize(13);
    QFontMetrics m(f);
    EXPECT_EQ(CutBannerText("short", m), "short");
    QString cut = CutBannerText("Minutes of the meeting of the board and the plan for the next quarter", m);
    EXPECT_TRUE(cut.endsWith("...")) << cut.toStdString();
    EXPECT_LE(m.horizontalAdvance(cut), MaxBannerTextWidth);
    EXPECT_TRUE(cut.startsWith("Minutes of the")) << cut.toStdString();
    EXPECT_FALSE(cut.contains("  "));
    // No blank to cut at: elided.
    QString one = CutBannerText(QString(300, 'W'), m);
    EXPECT_LE(m.horizontalAdvance(one), MaxBannerTextWidth);
    EXPECT_TRUE(one.endsWith(QChar(0x2026)));
    // A huge subject is no slower than a long one.
    QString huge;
    for (int i = 0; i < 50000; ++i)
        huge += "ab ";
    EXPECT_LE(m.horizontalAdvance(CutBannerText(huge, m)), MaxBannerTextWidth);

    Tiedot &t = AddAccount("Lots", 500);
    WithSaver([&](TfrmMainScr &s) {
        s.Timer1Timer();
        ASSERT_EQ(s.Banners.size(), 1u);
        EXPECT_LE(s.Banners[0].Height, s.ScreenHeight);
        EXPECT_GT(s.Banners[0].Height, s.ScreenHeight - 60);
    });
    (void)t;
}

TEST_F(ScreenSaverTest, ManyBannersArePlacedWithoutEndlessTries) {
    for (int i = 0; i < 40; ++i)
        AddAccount("acc" + std::to_string(i), 6);
    WithSaver([&](TfrmMainScr &s) {
        s.Timer1Timer();
        EXPECT_EQ(s.Banners.size(), 40u);
        for (const TSaverBanner &b : s.Banners) {
            EXPECT_GE(b.Y, 0);
            EXPECT_LE(b.Y + b.Height, std::max(s.ScreenHeight, b.Height));
        }
    });
}

TEST_F(ScreenSaverTest, TheProgressLineIsDrawnAndErased) {
    AddAccount("Work", 1);
    DrawSaverStatus("nobody", true);  // no saver: nothing happens
    WithSaver([&](TfrmMainScr &s) {
        QRect line(0, 0, 200, 16);
        EXPECT_FALSE(HasGreen(s.grab(line).toImage(), QRect(0, 0, 200, 16)));
        DrawSaverStatus("Work", true);
        EXPECT_EQ(s.StatusText, "Work checking messages...");
        EXPECT_TRUE(HasGreen(s.grab(line).toImage(), QRect(0, 0, 200, 16)));
        DrawSaverStatus("Work", false);
        EXPECT_FALSE(HasGreen(s.grab(line).toImage(), QRect(0, 0, 200, 16)));
    });
}

TEST_F(ScreenSaverTest, TheProgressLineSpeaksTheChosenLanguage) {
    for (const char *lang : {"english.lng", "finnish.lng"})
        WriteTestFile(Dir.File(std::string("Lang/") + lang),
                      ReadTestFile(std::string(TW_SOURCE_DIR) + "/Lang/" + lang));
    WriteTestFile(Dir.File("Lang/no-saver.lng"), "[MainForm]\r\nYouGot=Du hast\r\n");
    const std::string before = LanguageFileName();
    struct TLanguageBack {
        std::string Name;
        ~TLanguageBack() { SetLanguageFileName(Name); }
    } languageBack{before};
    AddAccount("Työ", 1);
    const std::pair<const char *, const char *> cases[] = {
        {"finnish.lng", "Työ – tarkistetaan viestejä..."},
        {"english.lng", "Työ checking messages..."},
        {"no-saver.lng", "Työ checking messages..."},  // a file without the text: the design text
    };
    for (const auto &[lang, expected] : cases) {
        SetLanguageFileName(lang);
        WithSaver([&](TfrmMainScr &s) {
            DrawSaverStatus("Työ", true);
            EXPECT_EQ(s.StatusText, expected) << lang;
        });
    }
}

TEST_F(ScreenSaverTest, TheTrayAnimationIsHandedBack) {
    TTrayIcon *tray = Form->TrayIcon1;
    // A check was animating; mail waits and its animation is on.
    AddAccount("Work", 1);
    tray->SetIconList(Form->ImageList1);
    tray->SetCycleIcons(true);
    WithSaver([&](TfrmMainScr &s) { s.EndSaver(); });
    EXPECT_EQ(tray->IconList(), Form->ImageList2);
    EXPECT_EQ(tray->CycleInterval(), 200u);
    EXPECT_TRUE(tray->CycleIcons());

    // No mail: the animation stops on the first checking picture.
    Form->State.Accounts.TotalNew = 0;
    tray->SetIconList(Form->ImageList1);
    tray->SetCycleIcons(true);
    WithSaver([&](TfrmMainScr &s) { s.EndSaver(); });
    EXPECT_FALSE(tray->CycleIcons());
    EXPECT_EQ(tray->IconList(), Form->ImageList1);
    EXPECT_EQ(tray->IconIndex(), 0);

    // Another animation is left alone.
    tray->SetIconList(Form->ImageList3);
    tray->SetCycleIcons(true);
    WithSaver([&](TfrmMainScr &s) { s.EndSaver(); });
    EXPECT_EQ(tray->IconList(), Form->ImageList3);
    EXPECT_TRUE(tray->CycleIcons());
    tray->SetCycleIcons(false);
}

TEST_F(ScreenSaverTest, OnlyOneSaverAtATime) {
    int nested = 0;
    WithSaver([&](TfrmMainScr &) {
        SetModalHook([&](QDialog &) { ++nested; });
        ShowScreenSaver();
    });
    EXPECT_EQ(nested, 0);
}

namespace {

// The own saver raised by a cycle that found mail, against a private Dovecot.
class SaverDuringChecks : public DovecotSuite<SaverDuringChecks> {
protected:
    static void SetUpTestSuite() {
        DovecotServer::Options o;
        o.Users.push_back({"night", "pw-night"});
        o.Users.push_back({"back", "pw-back"});
        if (!StartDovecot(o)) return;
        Server->FillMailbox("night", 2);
        Server->FillMailbox("back", 40);
    }
    void SetUp() override {
        DovecotSuite::SetUp();
        if (IsSkipped()) return;
        H = std::make_unique<MainWindowHarness>();
    }
    void TearDown() override {
        SetModalHook({});
        H.reset();
    }
    std::unique_ptr<MainWindowHarness> H;
};

}  // namespace

// The user comes back while a check runs beneath the saver: the saver goes
// at once, and the check goes on to its end and raises its alerts.
TEST_F(SaverDuringChecks, ComingBackEndsTheSaverNotTheCheckBeneathIt) {
    TTestAccount back;
    back.Name = "back-account";
    back.Port = Server->Pop3Port();
    back.User = "back";
    back.Password = "pw-back";
    H->WriteSettings({back}, {H->LongLog(), "PlaySound=True", "ShowBallTip=True", "DefBTip=True"});
    TFrmMain &m = H->Start();
    m.NetPOP31->SetReadTimeout(20000);
    m.NetPOP31->SetConnectTimeout(10000);
    // The evening's check found mail; the alerts are done with.
    m.Timer1Timer();
    ASSERT_EQ(m.State.Accounts.TotalNew, 40) << H->Log();
    H->Desk.Calls.clear();
    H->Desk.Playing = false;
    H->Tray.Calls.clear();
    m.Timer2->SetEnabled(false);

    bool movedWhileChecking = false, goneAtOnce = false, markTouched = false, desktopSaverBack = false;
    int foundBeneath = -1;
    SetModalHook([&](QDialog &d) {
        auto *s = dynamic_cast<TfrmMainScr *>(&d);
        ASSERT_NE(s, nullptr);
        // The mouse moves while the check reads the mailbox.
        TSimpleTimer user(1, [&](QObject *) {
            if (movedWhileChecking || !m.State.CycleRunning) return;
            const QPoint to = s->LastCursor + QPoint(40, 30);
            QMouseEvent move(QEvent::MouseMove, s->mapFromGlobal(to), to, Qt::NoButton, Qt::NoButton,
                             Qt::NoModifier);
            QApplication::sendEvent(s, &move);
            movedWhileChecking = true;
            goneAtOnce = !s->isVisible() && !ScreenSaverShown();
            markTouched = m.Exit1->Tag != 0;
            desktopSaverBack = H->Desk.Count("UnInhibitScreenSaver") == 1;
        });
        user.SetEnabled(true);
        Server->FillMailbox("back", 1, "INBOX", 41);
        m.State.Options.NextCheck = Now() - 0.001;
        m.Timer6Timer();
        user.SetEnabled(false);
        foundBeneath = m.State.Accounts[0].NewCount;
    });
    m.ShowOwnScreenSaver();
    SetModalHook({});

    ASSERT_TRUE(movedWhileChecking) << "the check never let the window move";
    EXPECT_TRUE(goneAtOnce);
    EXPECT_FALSE(markTouched);
    EXPECT_TRUE(desktopSaverBack);
    EXPECT_FALSE(ScreenSaverShown());
    EXPECT_EQ(m.Exit1->Tag, 0);
    // The check ran to its end: the count, the hint, browsing and the alerts.
    EXPECT_EQ(foundBeneath, 41) << H->Log();
    EXPECT_EQ(m.State.Accounts.TotalNew, 41);
    EXPECT_EQ(m.TrayIcon1->Hint(), "You got all in all 41 new mails");
    EXPECT_TRUE(m.Timer2->Enabled());
    EXPECT_EQ(H->Desk.Count("PlaySound"), 1);
    std::vector<std::string> balloons;
    for (const auto &c : H->Tray.Calls)
        if ((c.Data.uFlags & NIF_INFO) && !c.Data.szInfo.empty()) balloons.push_back(c.Data.szInfo);
    EXPECT_EQ(balloons, std::vector<std::string>{"back-account - You got 41 new mails\n"});
    EXPECT_FALSE(m.NetPOP31->Connected());
}

// Overnight the saver shows while the scheduler goes on checking: its
// progress line names the account being checked, and new mail is found.
TEST_F(SaverDuringChecks, ChecksGoOnBeneathTheSaverAndShowTheirProgress) {
    TTestAccount night;
    night.Name = "night-account";
    night.Port = Server->Pop3Port();
    night.User = "night";
    night.Password = "pw-night";
    H->WriteSettings({night}, {H->LongLog()});
    TFrmMain &m = H->Start();
    m.NetPOP31->SetReadTimeout(20000);
    m.NetPOP31->SetConnectTimeout(10000);
    // The desktop's own saver runs when the mail comes in.
    H->Desk.SaverActiveAnswers = 2;

    int shown = 0;
    bool inCycle = true;
    std::string lineBefore, lineAfter;
    int foundBeneath = -1;
    SetModalHook([&](QDialog &d) {
        auto *s = dynamic_cast<TfrmMainScr *>(&d);
        ASSERT_NE(s, nullptr);
        ++shown;
        inCycle = m.State.CycleActive;
        lineBefore = s->StatusText;
        // More mail arrives, and the scheduler's time comes while it shows.
        Server->FillMailbox("night", 1, "INBOX", 3);
        m.State.Options.NextCheck = Now() - 0.001;
        m.Timer6Timer();
        lineAfter = s->StatusText;
        foundBeneath = m.State.Accounts[0].NewCount;
    });
    m.Timer1Timer();
    EXPECT_EQ(m.State.Accounts[0].NewCount, 2);
    // Not from inside the cycle: from the event loop once it has ended.
    EXPECT_EQ(shown, 0);
    EXPECT_TRUE(ProcessEventsUntil([&] { return shown > 0; }, 5000));
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(inCycle);
    EXPECT_EQ(lineBefore, "");
    EXPECT_EQ(lineAfter, "night-account checking messages...");
    EXPECT_EQ(foundBeneath, 3);
    EXPECT_EQ(H->LogLinesWith("Checking 127.0.0.1"), 2) << H->Log();
    EXPECT_FALSE(ScreenSaverShown());
}
