#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

#include "DisplayFixture.h"
#include "settings/unLanguage.h"

namespace {

using MailHintTest = MainWindowTest;

void Click(QWidget *w, QPoint at) {
    QMouseEvent e(QEvent::MouseButtonPress, QPointF(at), QPointF(w->mapToGlobal(at)), Qt::LeftButton,
                  Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

QRect ScreenRect() { return QGuiApplication::primaryScreen()->geometry(); }
int WorkBottom() {
    QRect a = QGuiApplication::primaryScreen()->availableGeometry();
    return a.y() + a.height();
}

}  // namespace

TEST_F(MailHintTest, ASecondCallReplacesTheTextAndStartsTheTimeAgain) {
    ShowMailHint("first\r", 5000);
    TfrmHint *form = MailHintForm();
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->Label3->text(), "first");
    EXPECT_TRUE(form->Timer1->Enabled());
    EXPECT_EQ(form->Timer1->Interval(), 5000u);
    EXPECT_TRUE(form->Timer2->Enabled());
    ShowMailHint("a - You got 1 new mails\rb - You got 2 new mails\r", 8000);
    EXPECT_EQ(MailHintForm(), form);
    EXPECT_EQ(form->Label3->text(), "a - You got 1 new mails\nb - You got 2 new mails");
    EXPECT_EQ(form->Timer1->Interval(), 8000u);
    EXPECT_TRUE(form->Timer1->Enabled());
    int windows = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (dynamic_cast<TfrmHint *>(w) && w->isVisible())
            ++windows;
    EXPECT_EQ(windows, 1);
    // The display time ends it.
    form->Timer1->SetInterval(5);
    EXPECT_TRUE(WaitUntil([] { return !MailHintShown(); }, 2000));
}

TEST_F(MailHintTest, LayoutFollowsTheTextsSize) {
    ShowMailHint("short", 10000);
    TfrmHint *f = MailHintForm();
    ASSERT_NE(f, nullptr);
    int labelHeight = f->Label3->height();
    EXPECT_EQ(f->Shape1, QRect(0, 0, 217, labelHeight + 100));
    EXPECT_EQ(f->width(), 218);
    EXPECT_EQ(f->height(), labelHeight + 100 + 45);
    EXPECT_EQ(f->Bevel1.top(), labelHeight + 100 - 53);
    EXPECT_EQ(f->Label5->y(), f->Bevel1.top() + 16);
    EXPECT_EQ(f->Label4->y(), f->Label5->y() + 16);
    EXPECT_EQ(f->Shape3.topLeft(), QPoint(217 - 57, labelHeight + 110));
    EXPECT_EQ(f->Shape4.topLeft(), QPoint(217 - 57, labelHeight + 130));
    EXPECT_EQ(f->x(), ScreenRect().width() - 217 - 1);
    int taskbar = ScreenRect().height() - WorkBottom();
    EXPECT_EQ(f->y(), ScreenRect().height() - taskbar - f->height() + 5);

    // A long line widens the bubble by the text's width.
    ShowMailHint(std::string(60, 'W'), 10000);
    int w = f->Label3->width();
    ASSERT_GT(w, 193);
    EXPECT_EQ(f->Shape1.width(), w + 21);
    EXPECT_EQ(f->width(), w + 22);
    EXPECT_EQ(f->Bevel1.width(), w + 21 - 18);
    EXPECT_EQ(f->Shape3.left(), w + 21 - 57);
    EXPECT_EQ(f->x(), ScreenRect().width() - (w + 21) - 1);
    // ... and a short one after it has the design width again.
    ShowMailHint("x", 10000);
    EXPECT_EQ(f->Shape1.width(), 217);

    // No text pushes the bubble off the screen.
    ShowMailHint(std::string(5000, 'W'), 10000);
    EXPECT_LE(f->width(), ScreenRect().width());
    std::string many;
    for (int i = 0; i < 500; ++i)
        many += "line\r";
    ShowMailHint(many, 10000);
    EXPECT_LE(f->height(), ScreenRect().height());
}

TEST_F(MailHintTest, TheWindowIsTheBubbleAndItsTail) {
    ShowMailHint("text", 10000);
    TfrmHint *f = MailHintForm();
    ASSERT_NE(f, nullptr);
    QRegion shape = f->mask();
    EXPECT_TRUE(shape.contains(f->Shape1.center()));
    EXPECT_TRUE(shape.contains(f->Shape3.center()));
    EXPECT_TRUE(shape.contains(f->Shape4.center()));
    EXPECT_FALSE(shape.contains(QPoint(5, f->Shape1.bottom() + 20)));
    EXPECT_FALSE(shape.contains(QPoint(0, 0)));  // a rounded corner
    QImage shot = f->grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(100, f->Shape1.bottom() - 6)), QColor(255, 255, 225));
    // The links read the language file.
    EXPECT_EQ(f->Label4->text(), QString::fromStdString(LangText("Options", "RunEMClient", "Run default emil client")));
}

TEST_F(MailHintTest, AClickAnywhereClosesIt) {
    ShowMailHint("text", 10000);
    TfrmHint *f = MailHintForm();
    ASSERT_NE(f, nullptr);
    Click(f->Label3, QPoint(2, 2));
    EXPECT_FALSE(f->Timer2->Enabled());
    EXPECT_EQ(f->Timer1->Interval(), 10u);
    EXPECT_TRUE(WaitUntil([] { return !MailHintShown(); }, 2000));

    ShowMailHint("again", 10000);
    f = MailHintForm();
    ASSERT_NE(f, nullptr);
    Click(f, QPoint(100, 30));
    EXPECT_TRUE(WaitUntil([] { return !MailHintShown(); }, 2000));
}

TEST_F(MailHintTest, TheMailClientLinkStartsTheClientAndCloses) {
    Option("EMailClPath", "thunderbird -compose");
    ShowMailHint("text", 10000);
    TfrmHint *f = MailHintForm();
    ASSERT_NE(f, nullptr);
    Click(f->Label4, QPoint(2, 2));
    EXPECT_EQ(Desk.Count("StartProgram thunderbird -compose"), 1);
    EXPECT_FALSE(f->isVisible());
    EXPECT_TRUE(WaitUntil([] { return !MailHintShown(); }, 2000));

    // The reader link pauses the time while the reader is open.
    ShowMailHint("text", 10000);
    f = MailHintForm();
    Click(f->Label5, QPoint(2, 2));
    EXPECT_EQ(f->Timer1->Interval(), 10u);
    EXPECT_TRUE(WaitUntil([] { return !MailHintShown(); }, 2000));
}

TEST_F(MailHintTest, CloseMailHintEndsItAtOnce) {
    ShowMailHint("text", 10000);
    EXPECT_TRUE(MailHintShown());
    CloseMailHint();
    EXPECT_FALSE(MailHintShown());
    EXPECT_EQ(MailHintForm(), nullptr);
    CloseMailHint();  // nothing to close
}
