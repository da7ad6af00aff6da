#include <gtest/gtest.h>

#include <QAction>
#include <QWidget>
#include <memory>

#include "EventLoopWait.h"
#include "TrayTestUtil.h"

namespace {

// A tray icon on a recording notification area, with every event logged.
class TrayIconTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        FPrevious = SetTrayBackend(&Shell);
    }
    void TearDown() override {
        Icon.reset();
        SetTrayBackend(FPrevious);
    }
    TTrayIcon &Make(QObject *owner = nullptr) {
        Icon = std::make_unique<TTrayIcon>(owner);
        RecordMouseEvents(*Icon, Events);
        return *Icon;
    }
    void Send(unsigned n) { Shell.Send(Icon->Id(), n); }
    // Fills list with n icons of different colours and answers them.
    static std::vector<QIcon> Fill(TImageList &list, int n) {
        std::vector<QIcon> icons;
        for (int i = 0; i < n; ++i) list.Add(icons.emplace_back(SolidIcon(0xff000000u | QRgb(0x3f5a7 * (i + 1)))));
        return icons;
    }
    int Count(const std::string &e) const { return int(std::count(Events.begin(), Events.end(), e)); }

    TRecordingTrayBackend Shell;
    std::unique_ptr<TTrayIcon> Icon;
    std::vector<std::string> Events;

private:
    TTrayBackend *FPrevious = nullptr;
};

}  // namespace

TEST_F(TrayIconTest, TipHoldsAtMost127CharactersAndIsEmptyWithoutShowHint) {
    auto &t = Make();
    t.SetIconVisible(true);
    t.SetHint(std::string(200, 'h'));
    EXPECT_EQ(Shell.Current(t.Id()).szTip, std::string(127, 'h'));

    // Characters, not bytes: a two-byte letter is never cut in half.
    std::string umlauts;
    for (int i = 0; i < 130; ++i) umlauts += "\xC3\xA4";
    t.SetHint(umlauts);
    EXPECT_EQ(Shell.Current(t.Id()).szTip, umlauts.substr(0, 254));
    t.SetShowHint(false);
    EXPECT_EQ(Shell.Current(t.Id()).szTip, "");
    t.SetShowHint(true);
    t.SetHint("Tarnwick / You got 3 new mails");
    EXPECT_EQ(Shell.Last().Message, NIM_MODIFY);
    EXPECT_EQ(Shell.Current(t.Id()).szTip, "Tarnwick / You got 3 new mails");
}

TEST_F(TrayIconTest, BalloonIsCutToItsLimitsAndHidesTheOldOneFirst) {
    auto &t = Make();
    EXPECT_FALSE(t.ShowBalloonTip("t", "m", biInfo, 5));  // no icon shown to carry it
    t.SetIconVisible(true);
    size_t before = Shell.Calls.size();
    EXPECT_TRUE(t.ShowBalloonTip(std::string(100, 'T'), std::string(300, 'x'), biWarning, 10));
    ASSERT_EQ(Shell.Calls.size(), before + 2);
    const auto &hide = Shell.Calls[before].Data;
    EXPECT_TRUE(hide.uFlags & NIF_INFO);
    EXPECT_EQ(hide.szInfo, "");
    const auto &show = Shell.Calls[before + 1].Data;
    EXPECT_TRUE(show.uFlags & NIF_INFO);
    EXPECT_EQ(show.szInfo, std::string(255, 'x'));
    EXPECT_EQ(show.szInfoTitle, std::string(63, 'T'));
    EXPECT_EQ(show.uTimeout, 10000u);
    EXPECT_EQ(show.dwInfoFlags, unsigned(NIIF_WARNING));
    // After the balloon the icon's ordinary updates no longer carry it.
    t.SetHint("x");
    EXPECT_FALSE(Shell.Last().Data.uFlags & NIF_INFO);
    t.ShowBalloonTip("t", "m", 9, 1);  // no such picture: plain balloon
    EXPECT_EQ(Shell.Last().Data.dwInfoFlags, unsigned(NIIF_NONE));
}

TEST_F(TrayIconTest, IconIndexIsClampedAndAnEmptyOrVanishedListIsHarmless) {
    auto &t = Make();
    TImageList list;
    std::vector<QIcon> icons = Fill(list, 4);
    t.SetIconList(&list);
    t.SetIconIndex(99);
    EXPECT_EQ(t.IconIndex(), 3);
    EXPECT_EQ(t.Icon().cacheKey(), icons[3].cacheKey());
    t.SetIconIndex(-5);
    EXPECT_EQ(t.IconIndex(), 0);
    TImageList empty;
    t.SetIconList(&empty);
    t.SetIconIndex(2);
    EXPECT_EQ(t.IconIndex(), 0);
    EXPECT_EQ(t.Icon().cacheKey(), icons[0].cacheKey());  // kept

    // A list freed while the icon cycles through it.
    auto *doomed = new TImageList;
    Fill(*doomed, 2);
    t.SetIconList(doomed);
    t.SetIconIndex(1);
    t.SetCycleInterval(5);
    t.SetCycleIcons(true);
    delete doomed;
    EXPECT_EQ(t.IconList(), nullptr);
    EXPECT_EQ(t.IconIndex(), 0);
    ProcessEventsFor(30);
    t.SetIconIndex(1);
    EXPECT_EQ(t.IconIndex(), 0);
}

TEST_F(TrayIconTest, CyclingShowsEachImageInTurnAndReportsTheNextIndex) {
    auto &t = Make();
    TImageList list;
    std::vector<QIcon> icons = Fill(list, 3);
    t.SetIconVisible(true);
    t.SetIconList(&list);
    t.SetIconIndex(2);
    std::vector<int> reported, shown;
    t.OnCycle = [&](QObject *sender, int next) {
        EXPECT_EQ(sender, &t);
        reported.push_back(next);
        for (int i = 0; i < 3; ++i)
            if (Shell.Current(t.Id()).hIcon.cacheKey() == icons[size_t(i)].cacheKey())
                shown.push_back(i);
    };
    int running = TSimpleTimer::RunningCount();
    t.SetCycleInterval(5);
    t.SetCycleIcons(true);  // starts again from the first image
    EXPECT_EQ(t.IconIndex(), 0);
    ASSERT_TRUE(WaitUntil([&] { return reported.size() >= 4; }));
    EXPECT_EQ(std::vector<int>(reported.begin(), reported.begin() + 4), (std::vector<int>{1, 2, 0, 1}));
    EXPECT_EQ(std::vector<int>(shown.begin(), shown.begin() + 4), (std::vector<int>{0, 1, 2, 0}));

    // Interval 0 is "stopped", never a spinning timer.
    t.SetCycleInterval(0);
    EXPECT_EQ(TSimpleTimer::RunningCount(), running);
    size_t seen = reported.size();
    ProcessEventsFor(40);
    EXPECT_EQ(reported.size(), seen);
    EXPECT_TRUE(t.CycleIcons());

    t.SetCycleIcons(false);
    EXPECT_EQ(TSimpleTimer::RunningCount(), running);
}

TEST_F(TrayIconTest, AClickWaitsForTheDoubleClickTimeOnlyWithADoubleClickHandler) {
    auto &t = Make();
    Send(tnLButtonDown);
    Send(tnLButtonUp);
    EXPECT_EQ(Events, (std::vector<std::string>{"down-left", "click", "up-left"}));

    Events.clear();
    int dbl = 0;
    t.OnDblClick = [&](QObject *) { ++dbl; };
    Shell.DblClickTime = 40;
    Send(tnLButtonDown);
    Send(tnLButtonUp);
    EXPECT_EQ(Events, (std::vector<std::string>{"down-left", "up-left"}));
    ASSERT_TRUE(WaitUntil([&] { return Count("click") == 1; }));
    ProcessEventsFor(100);
    EXPECT_EQ(Count("click"), 1);
    EXPECT_EQ(dbl, 0);

    // A double click: the shell's order is down, up, double-click, up.
    Events.clear();
    Send(tnLButtonDown);
    Send(tnLButtonUp);
    Send(tnLButtonDblClk);
    Send(tnLButtonUp);
    EXPECT_EQ(dbl, 1);
    ProcessEventsFor(150);
    EXPECT_EQ(Count("click"), 0);
    // The next single click is a click again.
    Send(tnLButtonDown);
    Send(tnLButtonUp);
    ASSERT_TRUE(WaitUntil([&] { return Count("click") == 1; }));
}

TEST_F(TrayIconTest, DisabledIconFiresNoMouseEventsButBalloonEvents) {
    auto &t = Make();
    int balloon = 0;
    t.OnBalloonHintShow = t.OnBalloonHintHide = t.OnBalloonHintTimeout = t.OnBalloonHintClick =
        [&](QObject *) { ++balloon; };
    t.SetEnabled(false);
    for (unsigned n : {tnMouseMove, tnLButtonDown, tnLButtonUp, tnLButtonDblClk, tnRButtonDown,
                       tnRButtonUp, tnMButtonDown, tnMButtonUp})
        Send(n);
    EXPECT_TRUE(Events.empty());
    for (unsigned n : {tnBalloonShow, tnBalloonHide, tnBalloonTimeout, tnBalloonUserClick})
        Send(n);
    EXPECT_EQ(balloon, 4);
}

TEST_F(TrayIconTest, MenuOpensAtTheCursorOnRightButtonAndDefaultItemRunsOnDoubleClick) {
    auto &t = Make();
    TPopupMenu menu;
    QAction *first = menu.addAction("Check now");
    QAction *open = menu.addAction("Options");
    menu.setDefaultAction(open);
    int opened = 0, checked = 0;
    QObject::connect(open, &QAction::triggered, [&] { ++opened; });
    QObject::connect(first, &QAction::triggered, [&] { ++checked; });
    t.SetPopupMenu(&menu);
    Shell.Cursor = QPoint(640, 470);
    Shell.Shift = ssCtrl;
    TShiftState shift = 0;
    t.OnMouseDown = [&](QObject *, TMouseButton, TShiftState s, int, int) { shift = s; };

    Send(tnRButtonDown);
    ASSERT_EQ(Shell.Popups.size(), 1u);
    EXPECT_EQ(Shell.Popups[0].At, QPoint(640, 470));
    EXPECT_EQ(menu.PopupComponent(), &t);
    EXPECT_EQ(shift, TShiftState(ssCtrl | ssRight));

    Send(tnLButtonDown);  // left opens nothing unless LeftPopup
    EXPECT_EQ(Shell.Popups.size(), 1u);
    t.SetLeftPopup(true);
    Send(tnLButtonDown);
    EXPECT_EQ(Shell.Popups.size(), 2u);

    Send(tnLButtonDblClk);  // LeftPopup on: no default item
    EXPECT_EQ(opened, 0);
    t.SetLeftPopup(false);
    Send(tnLButtonDblClk);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(checked, 0);

    menu.SetAutoPopup(false);
    Send(tnRButtonDown);
    Send(tnLButtonDblClk);
    EXPECT_EQ(Shell.Popups.size(), 2u);
    EXPECT_EQ(opened, 1);

    // A menu freed before the icon is forgotten, not used.
    auto *gone = new TPopupMenu;
    t.SetPopupMenu(gone);
    delete gone;
    Send(tnRButtonDown);
    EXPECT_EQ(t.PopupMenu(), nullptr);
    EXPECT_EQ(Shell.Popups.size(), 2u);
}

TEST_F(TrayIconTest, RightButtonReleaseDependsOnTheNotificationVersion) {
    auto &t = Make();
    t.SetIconVisible(true);
    Send(tnRButtonUp);
    Send(tnContextMenu);
    EXPECT_EQ(Count("up-right"), 1);
    t.SetNotifyVersion(true);
    EXPECT_EQ(Shell.Last().Message, NIM_SETVERSION);
    Events.clear();
    Send(tnRButtonUp);
    Send(tnContextMenu);
    Send(tnSelect);
    Send(tnKeySelect);
    EXPECT_EQ(Count("up-right"), 3);
}

TEST_F(TrayIconTest, EnterFiresOnceAndExitWhenTheCursorLeaves) {
    auto &t = Make();
    int enter = 0, exit = 0, moves = 0;
    t.OnMouseEnter = [&](QObject *) { ++enter; };
    t.OnMouseExit = [&](QObject *) { ++exit; };
    t.OnMouseMove = [&](QObject *, TShiftState, int x, int y) {
        ++moves;
        EXPECT_EQ(QPoint(x, y), Shell.Cursor);
    };
    Shell.Cursor = QPoint(10, 10);
    Send(tnMouseMove);  // without the poll, no enter
    EXPECT_EQ(enter, 0);
    t.SetWantEnterExitEvents(true);
    Send(tnMouseMove);
    Shell.Cursor = QPoint(11, 10);
    Send(tnMouseMove);
    EXPECT_EQ(enter, 1);
    EXPECT_EQ(moves, 3);
    ProcessEventsFor(60);
    EXPECT_EQ(exit, 0);  // still where it was last seen
    Shell.Cursor = QPoint(300, 300);
    ASSERT_TRUE(WaitUntil([&] { return exit == 1; }));
    ProcessEventsFor(60);
    EXPECT_EQ(exit, 1);
    Shell.Cursor = QPoint(11, 10);
    Send(tnMouseMove);
    EXPECT_EQ(enter, 2);
}

TEST_F(TrayIconTest, IconComesBackAfterAShellRestartOnlyWhenItWasUp) {
    auto &t = Make();
    TTrayIcon hidden(nullptr);
    t.SetIconVisible(true);
    Shell.RestartShell();
    EXPECT_TRUE(Shell.Shown(t.Id()));
    EXPECT_FALSE(Shell.Shown(hidden.Id()));

    // A refused add still counts, so the restart retries it.
    t.SetIconVisible(false);
    Shell.Refuse = true;
    t.SetIconVisible(true);
    EXPECT_TRUE(t.IconVisible());
    EXPECT_FALSE(Shell.Shown(t.Id()));
    Shell.Refuse = false;
    Shell.RestartShell();
    EXPECT_TRUE(Shell.Shown(t.Id()));

    uintptr_t id = t.Id();
    Icon.reset();
    EXPECT_FALSE(Shell.Shown(id));
    Shell.Send(id, tnLButtonDown);  // for an icon that is gone: dropped
    EXPECT_TRUE(Events.empty());
}

TEST_F(TrayIconTest, StartupCanKeepTheMainFormHiddenAndLoadedPutsTheIconUp) {
    QWidget form;
    auto &t = Make(&form);
    Icon.release();  // owned by the form from here
    bool asked = false;
    t.OnStartup = [&](QObject *, bool &show) {
        asked = true;
        EXPECT_TRUE(show);
        show = false;
    };
    t.SetHint("Tarnwick");
    t.SetIconVisible(true);
    form.show();
    t.Loaded();
    EXPECT_TRUE(asked);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(Shell.Shown(t.Id()));
    EXPECT_EQ(Shell.Current(t.Id()).szTip, "Tarnwick");

    t.ShowMainForm();
    EXPECT_TRUE(form.isVisible());
}

TEST_F(TrayIconTest, MinimisingTheOwnerHidesItToTheTray) {
    QWidget form;
    auto &t = Make(&form);
    Icon.release();
    int minimised = 0;
    t.OnMinimizeToTray = [&](QObject *) { ++minimised; };
    form.show();
    form.showMinimized();
    ProcessEventsFor(20);
    EXPECT_EQ(minimised, 0);  // MinimizeToTray is off
    EXPECT_FALSE(Shell.Shown(t.Id()));

    form.showNormal();
    t.SetMinimizeToTray(true);
    form.showMinimized();
    ASSERT_TRUE(WaitUntil([&] { return minimised == 1; }));
    ProcessEventsFor(20);
    EXPECT_EQ(minimised, 1);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(Shell.Shown(t.Id()));

    t.ShowMainForm();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isMinimized());
}

TEST_F(TrayIconTest, AThrowingHandlerStaysInsideTheComponent) {
    auto &t = Make();
    t.OnClick = [](QObject *) { throw std::runtime_error("handler failed"); };
    Send(tnLButtonDown);
    EXPECT_NO_THROW(Send(tnLButtonUp));
    EXPECT_EQ(Count("up-left"), 0);  // the rest of that notification is skipped
    Send(tnLButtonDown);
    EXPECT_EQ(Count("down-left"), 2);
}

TEST_F(TrayIconTest, AHandlerMayFreeTheIcon) {
    // Closing the owning form from a click frees the icon mid-notification.
    auto &t = Make();
    t.OnClick = [this](QObject *) { Icon.reset(); };
    uintptr_t id = t.Id();
    Shell.Send(id, tnLButtonDown);
    Shell.Send(id, tnLButtonUp);
    EXPECT_FALSE(Shell.Shown(id));

    TImageList list;
    Fill(list, 2);
    auto &c = Make();
    c.SetIconList(&list);
    c.OnCycle = [this](QObject *, int) { Icon.reset(); };
    c.SetCycleInterval(5);
    c.SetCycleIcons(true);
    EXPECT_TRUE(WaitUntil([&] { return Icon == nullptr; }));
    ProcessEventsFor(20);
}
