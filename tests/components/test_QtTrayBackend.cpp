#include <gtest/gtest.h>

#include <QSystemTrayIcon>
#include <memory>

#include "EventLoopWait.h"
#include "TrayTestUtil.h"

// The desktop back-end under the headless platform: there is no tray to
// show anything in, but the Qt icons exist and their signals can be played.
class QtTrayBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        FPrevious = SetTrayBackend(&Desktop);
        Icon = std::make_unique<TTrayIcon>(nullptr);
        RecordMouseEvents(*Icon, Events);
        Icon->SetHint("Tarnwick / Mailbox not checked yet");
        Icon->SetIconVisible(true);
        Qt = Desktop.TrayIconOf(Icon->Id());
        ASSERT_NE(Qt, nullptr);
    }
    void TearDown() override {
        Icon.reset();
        SetTrayBackend(FPrevious);
    }

    TQtTrayBackend Desktop;
    std::unique_ptr<TTrayIcon> Icon;
    QSystemTrayIcon *Qt = nullptr;
    std::vector<std::string> Events;

private:
    TTrayBackend *FPrevious = nullptr;
};

TEST_F(QtTrayBackendTest, TipIconBalloonClickAndRemovalReachTheQtIcon) {
    EXPECT_EQ(Qt->toolTip(), QString("Tarnwick / Mailbox not checked yet"));
    Icon->SetHint(std::string(200, 'z'));
    EXPECT_EQ(Qt->toolTip().size(), 127);
    Icon->SetShowHint(false);
    EXPECT_TRUE(Qt->toolTip().isEmpty());
    QIcon pic = SolidIcon(0xff112233u);
    Icon->SetIcon(pic);
    EXPECT_EQ(Qt->icon().cacheKey(), pic.cacheKey());
    int clicked = 0;
    Icon->OnBalloonHintClick = [&](QObject *) { ++clicked; };
    emit Qt->messageClicked();
    EXPECT_EQ(clicked, 1);

    Icon->SetIconVisible(false);
    EXPECT_EQ(Desktop.TrayIconOf(Icon->Id()), nullptr);
    EXPECT_FALSE(Icon->ShowBalloonTip("t", "m", biInfo, 1));  // nothing to attach it to
}

TEST_F(QtTrayBackendTest, QtActivationsBecomeButtonTransitions) {
    emit Qt->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(Events, (std::vector<std::string>{"down-left", "click", "up-left"}));

    Events.clear();
    emit Qt->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_EQ(Events, (std::vector<std::string>{"down-middle", "up-middle"}));

    Events.clear();
    emit Qt->activated(QSystemTrayIcon::Context);
    EXPECT_EQ(Events, (std::vector<std::string>{"down-right", "up-right"}));

    // With a double-click handler, Qt's trigger then double click is one
    // double click and no click.
    int dbl = 0;
    Icon->OnDblClick = [&](QObject *) { ++dbl; };
    Events.clear();
    emit Qt->activated(QSystemTrayIcon::Trigger);
    emit Qt->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(dbl, 1);
    ProcessEventsFor(Desktop.DoubleClickTime() + 150);
    EXPECT_EQ(std::count(Events.begin(), Events.end(), "click"), 0);
}

TEST_F(QtTrayBackendTest, TwoQuickTriggersAreADoubleClick) {
    // A StatusNotifierItem host reports every click as a trigger and Qt
    // never says "double click" there: two triggers within the double-click
    // time are one double click, as the shell would report them.
    int dbl = 0;
    Icon->OnDblClick = [&](QObject *) { ++dbl; };
    emit Qt->activated(QSystemTrayIcon::Trigger);
    emit Qt->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(dbl, 1);
    ProcessEventsFor(Desktop.DoubleClickTime() + 150);
    EXPECT_EQ(std::count(Events.begin(), Events.end(), "click"), 0);

    // Two triggers further apart than the double-click time are two clicks,
    // and so are a trigger and one after another kind of activation.
    Events.clear();
    emit Qt->activated(QSystemTrayIcon::Trigger);
    ProcessEventsFor(Desktop.DoubleClickTime() + 150);
    emit Qt->activated(QSystemTrayIcon::Trigger);
    ProcessEventsFor(Desktop.DoubleClickTime() + 150);
    EXPECT_EQ(dbl, 1);
    EXPECT_EQ(std::count(Events.begin(), Events.end(), "click"), 2);

    Icon->OnDblClick = nullptr;
    Events.clear();
    emit Qt->activated(QSystemTrayIcon::Trigger);
    emit Qt->activated(QSystemTrayIcon::Context);
    emit Qt->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(dbl, 1);
    EXPECT_EQ(std::count(Events.begin(), Events.end(), "click"), 2);
}
