#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

#include "DisplayFixture.h"
#include "mainwindow/unScr.h"

namespace {

class DisplayTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        TTestSkin plain;
        plain.Size = QSize(200, 100);
        MakeSkin("Plain", plain);
        // The user's skin: showing the window loads it again.
        Form->State.Options.Skin = "Plain";
        Form->LoadSkin("Plain", false);
        Form->ApplySkinRegion();
    }
    std::string Labels() const {
        return Form->LabelAccount->text().toStdString() + "|" + Form->LabelFrom->text().toStdString() + "|" +
               Form->LabelSubject->text().toStdString() + "|" + Form->LabelDate->text().toStdString() + "|" +
               Form->LabelPosti->text().toStdString() + "|" + Form->LabelNumero->text().toStdString();
    }
    int ScreenHeight() const { return QGuiApplication::primaryScreen()->geometry().height(); }
    int ScreenWidth() const { return QGuiApplication::primaryScreen()->geometry().width(); }
    // Runs a slide timer's ticks by hand until it stops (bounded).
    int Run(TTimer *timer, void (TFrmMain::*tick)()) {
        int n = 0;
        while (timer->Enabled() && n < 10000) {
            (Form.get()->*tick)();
            ++n;
        }
        return n;
    }
    void Send(QObject *to, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
        auto *w = static_cast<QWidget *>(to);
        QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)),
                      type == QEvent::MouseMove ? Qt::NoButton : button,
                      type == QEvent::MouseButtonRelease || type == QEvent::MouseMove ? Qt::NoButton : button,
                      Qt::NoModifier);
        QApplication::sendEvent(to, &e);
    }
};

}  // namespace

TEST_F(DisplayTest, BrowsingWrapsBothWays) {
    AddAccount("work", 3);
    Form->ShowMessageStep(2);
    EXPECT_EQ(Labels(), "work|work sender 1|work subject 1|date 1|You got 3 new mails|1 / 3");
    Form->ShowMessageStep(1);
    Form->ShowMessageStep(1);
    EXPECT_EQ(Form->LabelNumero->text(), "3 / 3");
    Form->ShowMessageStep(1);  // forward on the last shows the first
    EXPECT_EQ(Labels(), "work|work sender 1|work subject 1|date 1|You got 3 new mails|1 / 3");
    Form->ShowMessageStep(0);  // back on the first shows the last
    EXPECT_EQ(Form->LabelNumero->text(), "3 / 3");
    EXPECT_EQ(Form->LabelFrom->text(), "work sender 3");
    // Mode 2 keeps the position inside the count.
    Form->State.Accounts[0].Shown = 9;
    Form->ShowMessageStep(2);
    EXPECT_EQ(Form->LabelNumero->text(), "3 / 3");
    // An account without a name shows its host.
    Form->State.Accounts[0].Name.clear();
    Form->State.Accounts[0].Host = "pop.example.org";
    Form->ShowMessageStep(2);
    EXPECT_EQ(Form->LabelAccount->text(), "pop.example.org");
}

TEST_F(DisplayTest, AccountsWhoseMailVanishedAreSkipped) {
    AddAccount("a", 2);
    AddAccount("b", 0);
    AddAccount("c", 1);
    auto &acc = Form->State.Accounts;
    EXPECT_EQ(Form->NextAccountWithMail(0), 2);
    EXPECT_EQ(Form->NextAccountWithMail(2), 0);  // wraps
    EXPECT_EQ(Form->PrevAccountWithMail(2), 0);
    EXPECT_EQ(Form->PrevAccountWithMail(0), 2);  // wraps
    EXPECT_EQ(Form->NextAccountWithMail(1), 2);

    acc.ShownIndex = 1;  // b has nothing: the step moves on to c
    Form->ShowMessageStep(1);
    EXPECT_EQ(acc.ShownIndex, 2);
    EXPECT_EQ(Form->LabelAccount->text(), "c");

    // The mail of c vanished in the last check.
    acc[2].NewCount = 0;
    acc.TotalNew = 2;
    Form->ShowMessageStep(1);
    EXPECT_EQ(acc.ShownIndex, 0);
    EXPECT_EQ(Form->LabelAccount->text(), "a");

    // Only the account itself has mail; none at all gives 0.
    EXPECT_EQ(Form->NextAccountWithMail(0), 0);
    acc[0].NewCount = 0;
    EXPECT_EQ(Form->NextAccountWithMail(2), 0);
    EXPECT_EQ(Form->PrevAccountWithMail(2), 0);
}

TEST_F(DisplayTest, ListsShorterThanTheCountShowDots) {
    Tiedot &t = AddAccount("a", 2);
    t.NewCount = 5;
    Form->State.Accounts.TotalNew = 5;
    t.Shown = 4;
    Form->ShowMessageStep(2);
    EXPECT_EQ(Labels(), "...|...|...|...|...|...");
    // Shown index outside the array: nothing happens.
    Form->State.Accounts.ShownIndex = 7;
    Form->ShowMessageStep(1);
    EXPECT_EQ(Form->LabelFrom->text(), "...");
}

TEST_F(DisplayTest, SlidesInAndOutAtTheBottom) {
    AddAccount("a", 1);
    Form->ShowMessageStep(2);
    EXPECT_TRUE(Form->State.WindowShown);
    EXPECT_TRUE(Form->Timer2->Enabled());
    EXPECT_TRUE(Form->Timer3->Enabled());
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(Form->y(), ScreenHeight());
    int bottom = Form->State.WorkAreaBottom;
    int ticks = Run(Form->Timer3, &TFrmMain::Timer3Timer);
    EXPECT_GT(ticks, 10);
    // It stops as soon as its top is above work-area bottom - height - 3.
    EXPECT_LT(Form->y(), bottom - Form->height() - 3);
    EXPECT_GE(Form->y(), bottom - Form->height() - 3 - 5);
    EXPECT_EQ(Form->x(), ScreenWidth() - Form->width() - 3);

    // A second step while shown does not slide again.
    Form->ShowMessageStep(1);
    EXPECT_FALSE(Form->Timer3->Enabled());

    Form->NappiClick(Form->Nappi);
    EXPECT_FALSE(Form->Timer2->Enabled());
    EXPECT_TRUE(Form->Timer4->Enabled());
    Run(Form->Timer4, &TFrmMain::Timer4Timer);
    EXPECT_GT(Form->y(), ScreenHeight());
    EXPECT_FALSE(Form->isVisible());
    EXPECT_FALSE(Form->State.WindowShown);
}

TEST_F(DisplayTest, SlidesInAndOutAtTheTop) {
    AddAccount("a", 1);
    Form->State.Options.ShowOnDown = false;
    Form->ShowMessageStep(2);
    EXPECT_EQ(Form->y(), -5 - Form->height());
    Run(Form->Timer3, &TFrmMain::Timer3Timer);
    EXPECT_GT(Form->y(), 3);
    EXPECT_LE(Form->y(), 8);
    Form->NappiClick(Form->Nappi);
    Run(Form->Timer4, &TFrmMain::Timer4Timer);
    EXPECT_LT(Form->y(), -5 - Form->height());
    EXPECT_FALSE(Form->State.WindowShown);
}

TEST_F(DisplayTest, EachSlideTimerGivesWayToTheOther) {
    AddAccount("a", 1);
    Form->ShowMessageStep(2);
    int y = Form->y();
    Form->Timer4->SetEnabled(true);
    Form->Timer3Timer();
    EXPECT_FALSE(Form->Timer3->Enabled());
    EXPECT_EQ(Form->y(), y - 5);  // this tick still moves
    Form->Timer3->SetEnabled(true);
    Form->Timer4Timer();
    EXPECT_FALSE(Form->Timer4->Enabled());
}

TEST_F(DisplayTest, NoMailLeftSlidesOutAndRunsTheProgramOnce) {
    Option("ProgFile2", "notify-send done");
    AddAccount("a", 1);
    Form->ShowMessageStep(2);
    Form->State.Accounts[0].NewCount = 0;
    Form->State.Accounts.TotalNew = 0;
    Form->ShowMessageStep(1);
    EXPECT_TRUE(Form->Timer4->Enabled());
    EXPECT_FALSE(Form->Timer2->Enabled());
    EXPECT_FALSE(Form->Timer3->Enabled());
    EXPECT_FALSE(Form->State.WindowShown);
    Form->ShowMessageStep(1);
    EXPECT_EQ(Desk.Count("StartProgram notify-send done"), 1);
}

TEST_F(DisplayTest, UpAndDownMoveTheDockButNotWhileSlidingOut) {
    AddAccount("a", 1);
    Form->ShowMessageStep(2);
    Run(Form->Timer3, &TFrmMain::Timer3Timer);
    int bottom = Form->State.WorkAreaBottom;

    Form->FormKeyDown(Qt::Key_Up, Qt::NoModifier);
    EXPECT_FALSE(Form->State.Options.ShowOnDown);
    EXPECT_EQ(Form->y(), 5);
    Form->FormKeyDown(Qt::Key_Down, Qt::NoModifier);
    EXPECT_TRUE(Form->State.Options.ShowOnDown);
    EXPECT_EQ(Form->y(), bottom - Form->height() - 5);

    // Down at the bottom closes.
    Form->FormKeyDown(Qt::Key_Down, Qt::NoModifier);
    EXPECT_TRUE(Form->Timer4->Enabled());
    EXPECT_EQ(Form->Nappi->Tag, 1);
    int y = Form->y();
    Form->FormKeyDown(Qt::Key_Up, Qt::NoModifier);
    Form->FormKeyDown(Qt::Key_Down, Qt::NoModifier);
    EXPECT_EQ(Form->y(), y);
    EXPECT_TRUE(Form->State.Options.ShowOnDown);

    // Up at the top closes.
    Form->Timer4->SetEnabled(false);
    Form->State.Options.ShowOnDown = false;
    Form->FormKeyDown(Qt::Key_Up, Qt::NoModifier);
    EXPECT_TRUE(Form->Timer4->Enabled());
}

TEST_F(DisplayTest, KeysStepTheMessagesAndAccounts) {
    AddAccount("a", 2);
    AddAccount("b", 3);
    Form->ShowMessageStep(2);
    Form->FormKeyDown(Qt::Key_Right, Qt::NoModifier);
    EXPECT_EQ(Form->LabelNumero->text(), "2 / 2");
    EXPECT_EQ(Form->NappiForward->Tag, 1);
    Form->FormKeyDown(Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(Form->LabelAccount->text(), "b");
    EXPECT_EQ(Form->LabelNumero->text(), "1 / 3");
    Form->FormKeyDown(Qt::Key_Left, Qt::NoModifier);
    EXPECT_EQ(Form->LabelNumero->text(), "3 / 3");
    Form->FormKeyDown(Qt::Key_Left, Qt::ControlModifier);
    EXPECT_EQ(Form->LabelAccount->text(), "a");
    // The browsing timer comes back as it was.
    EXPECT_TRUE(Form->Timer2->Enabled());

    Desk.Playing = true;
    Form->FormKeyDown(Qt::Key_Space, Qt::NoModifier);
    EXPECT_EQ(Desk.Count("StopSound"), 1);

    Form->FormKeyDown(Qt::Key_B, Qt::NoModifier);
    ASSERT_TRUE(MailHintShown());
    EXPECT_EQ(MailHintForm()->Label3->text(), "tESt");
    EXPECT_EQ(MailHintForm()->Timer1->Interval(), 10000u);

    bool saw = false;
    SetModalHook([&](QDialog &d) {
        saw = ScreenSaverShown() && d.windowTitle() == "Tarnwick Screensaver";
    });
    Form->FormKeyDown(Qt::Key_S, Qt::NoModifier);
    EXPECT_TRUE(saw);
    EXPECT_FALSE(ScreenSaverShown());

    Form->FormKeyDown(Qt::Key_Escape, Qt::NoModifier);
    EXPECT_TRUE(Form->Timer4->Enabled());
}

TEST_F(DisplayTest, CtrlUReloadsTheSkinAndPlacesTheWindow) {
    AddAccount("a", 1);
    Form->ShowMessageStep(2);
    Run(Form->Timer3, &TFrmMain::Timer3Timer);
    TTestSkin bigger;
    bigger.Size = QSize(240, 110);
    MakeSkin("Plain", bigger);
    Form->FormKeyDown(Qt::Key_U, Qt::NoModifier);  // U alone does nothing
    EXPECT_EQ(Form->size(), QSize(200, 100));
    Form->FormKeyDown(Qt::Key_U, Qt::ControlModifier);
    EXPECT_EQ(Form->size(), QSize(240, 110));
    EXPECT_EQ(Form->x(), ScreenWidth() - 240 - 3);
    EXPECT_EQ(Form->y(), Form->State.WorkAreaBottom - 110 - 5);
}

TEST_F(DisplayTest, RedMaskPixelsDragTheWindow) {
    QImage mask(200, 100, QImage::Format_RGB32);
    mask.fill(QColor(150, 150, 150));
    mask.setPixelColor(10, 10, QColor(200, 100, 100));
    Form->ImageBack = mask;
    EXPECT_EQ(Form->HitTest(10, 10), TFrmMain::HTCAPTION);
    EXPECT_EQ(Form->HitTest(11, 10), TFrmMain::HTCLIENT);
    mask.fill(QColor(255, 0, 0));
    Form->ImageBack = mask;
    EXPECT_EQ(Form->HitTest(199, 99), TFrmMain::HTCAPTION);
    EXPECT_EQ(Form->HitTest(200, 50), TFrmMain::HTCLIENT);
    EXPECT_EQ(Form->HitTest(50, 100), TFrmMain::HTCLIENT);

    // Where no window manager moves it, the window follows the cursor.
    AddAccount("a", 1);
    Form->ShowMessageStep(2);
    Form->Timer3->SetEnabled(false);
    Form->move(100, 100);
    QPoint start = Form->pos();
    Send(Form.get(), QEvent::MouseButtonPress, QPoint(20, 5));
    QMouseEvent move(QEvent::MouseMove, QPointF(50, 25), QPointF(Form->mapToGlobal(QPoint(50, 25))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Form.get(), &move);
    Send(Form.get(), QEvent::MouseButtonRelease, QPoint(50, 25));
    EXPECT_EQ(Form->pos(), start + QPoint(30, 20));
}

TEST_F(DisplayTest, ButtonsShowTheirStatesAndClick) {
    AddAccount("a", 3);
    Form->ShowMessageStep(2);
    TSkinButton *fwd = Form->NappiForward;
    Send(Form->NappiBack, QEvent::MouseMove, QPoint(2, 2));
    EXPECT_EQ(Form->NappiBack->Tag, 2);
    Send(fwd, QEvent::MouseMove, QPoint(2, 2));
    EXPECT_EQ(fwd->Tag, 2);
    EXPECT_EQ(Form->NappiBack->Tag, 1);
    Send(fwd, QEvent::MouseButtonPress, QPoint(2, 2));
    EXPECT_EQ(fwd->Tag, 3);
    EXPECT_TRUE(fwd->pixmap().toImage() == fwd->Pictures[2].toImage());
    Send(fwd, QEvent::MouseMove, QPoint(3, 2));
    EXPECT_EQ(fwd->Tag, 3);  // held down, it stays pressed
    Send(fwd, QEvent::MouseButtonRelease, QPoint(3, 2));
    EXPECT_EQ(fwd->Tag, 1);
    EXPECT_EQ(Form->LabelNumero->text(), "2 / 3");
    // Released outside the button: no click.
    Send(fwd, QEvent::MouseButtonPress, QPoint(2, 2));
    Send(fwd, QEvent::MouseButtonRelease, QPoint(500, 2));
    EXPECT_EQ(Form->LabelNumero->text(), "2 / 3");
    // Moving over the background puts every button back.
    Send(fwd, QEvent::MouseMove, QPoint(2, 2));
    Send(Form.get(), QEvent::MouseMove, QPoint(100, 60));
    EXPECT_EQ(fwd->Tag, 1);
}

TEST_F(DisplayTest, TheSenderLinkWritesToTheEncodedAddress) {
    Tiedot &t = AddAccount("a", 2);
    t.Senders[0] = "Anna";
    t.Addresses[0] = "an na&x?@example.org";
    t.Senders[1] = "Bob <bob@example.org>";
    t.Addresses[1] = "";
    Form->ShowMessageStep(2);
    Form->LabelFromClick();
    EXPECT_TRUE(Opened.empty());  // UseReplyTo is off by default

    Option("UseReplyTo", "True");
    Send(Form->LabelFrom, QEvent::MouseMove, QPoint(3, 3));
    EXPECT_TRUE(Form->LabelFrom->font().underline());
    Send(Form->LabelFrom, QEvent::MouseButtonPress, QPoint(3, 3));
    Send(Form->LabelFrom, QEvent::MouseButtonRelease, QPoint(3, 3));
    ASSERT_EQ(Opened.size(), 1u);
    EXPECT_EQ(Opened[0], "mailto:an%20na%26x%3F@example.org");
    // Moving off gives the label its skin font back, not the form's.
    QFont skinFont = Form->LabelFrom->font();
    skinFont.setUnderline(false);
    Send(Form.get(), QEvent::MouseMove, QPoint(150, 90));
    EXPECT_EQ(Form->LabelFrom->font(), skinFont);

    // Without a stored address the one in angle brackets is used.
    Form->ShowMessageStep(1);
    Form->LabelFromClick();
    ASSERT_EQ(Opened.size(), 2u);
    EXPECT_EQ(Opened[1], "mailto:bob@example.org");
    // A bare name is no address.
    t.Addresses[1] = "";
    t.Senders[1] = "Just A Name";
    Form->ShowMessageStep(2);
    Form->LabelFromClick();
    EXPECT_EQ(Opened.size(), 2u);
}

TEST_F(DisplayTest, TheBrowsingTimerReadsItsSettings) {
    AddAccount("a", 3);
    Form->ShowMessageStep(2);
    Form->Timer2Timer();
    EXPECT_EQ(Form->LabelNumero->text(), "2 / 3");
    Option("BrOldToNew", "False");
    Form->Timer2Timer();
    EXPECT_EQ(Form->LabelNumero->text(), "1 / 3");
    Option("ShowMessage", "False");
    Form->Timer2Timer();
    EXPECT_EQ(Form->LabelNumero->text(), "1 / 3");
    // The new-mail sound ends at the first browsing tick.
    Desk.Playing = true;
    Form->Timer2Timer();
    EXPECT_EQ(Desk.Count("StopSound"), 1);
}

TEST_F(DisplayTest, MailTextsAreNeverMarkup) {
    Tiedot &t = AddAccount("a", 1);
    t.Subjects[0] = "<img src=x><b>bold</b>";
    Form->ShowMessageStep(2);
    EXPECT_EQ(Form->LabelSubject->textFormat(), Qt::PlainText);
    EXPECT_EQ(Form->LabelSubject->text(), "<img src=x><b>bold</b>");
}

TEST_F(DisplayTest, TheWindowPaintsItsSkinAndTexts) {
    CopyShippedSkins();
    Form->State.Options.Skin = "Default";
    Form->LoadSkin("Default", false);
    Form->ApplySkinRegion();
    Tiedot &t = AddAccount("a", 1);
    t.Senders[0] = "WWWWWWWWWW";
    Form->ShowMessageStep(2);
    QImage shot = Form->grab().toImage();
    // The sender is drawn in the skin's dark ink on the light paper.
    QRect r = Form->LabelFrom->geometry();
    int dark = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x < r.left() + 60; ++x)
            if (qGray(shot.pixel(x, y)) < 80)
                ++dark;
    EXPECT_GT(dark, 20);
    // The close button's normal picture; hovering shows its second one.
    QPoint c = Form->Nappi->geometry().center();
    EXPECT_EQ(shot.pixel(c), Form->Nappi->Pictures[0].toImage().pixel(c - Form->Nappi->pos()));
    Form->NappiMouseMove(Form->Nappi);
    shot = Form->grab().toImage();
    EXPECT_EQ(shot.pixel(c), Form->Nappi->Pictures[1].toImage().pixel(c - Form->Nappi->pos()));
}
