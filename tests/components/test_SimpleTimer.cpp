#include <gtest/gtest.h>

#include "EventLoopWait.h"
#include "SimpleTimer.h"

class SimpleTimerTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureQApplication(); }
};

TEST_F(SimpleTimerTest, ZeroIntervalNeverRunsAndZeroStopsARunningTimer) {
    int ticks = 0;
    TSimpleTimer t(0, [&](QObject *) { ++ticks; });
    int running = TSimpleTimer::RunningCount();
    t.SetEnabled(true);
    EXPECT_FALSE(t.Enabled());
    EXPECT_EQ(TSimpleTimer::RunningCount(), running);

    t.SetInterval(5);
    t.SetEnabled(true);
    EXPECT_EQ(TSimpleTimer::RunningCount(), running + 1);
    ASSERT_TRUE(WaitUntil([&] { return ticks >= 2; }));

    t.SetInterval(0);
    EXPECT_FALSE(t.Enabled());
    EXPECT_EQ(TSimpleTimer::RunningCount(), running);
    int seen = ticks;
    ProcessEventsFor(40);
    EXPECT_EQ(ticks, seen);
}

TEST_F(SimpleTimerTest, ClearingTheHandlerStopsAndCountsNeverGoNegative) {
    TSimpleTimer t(5, [](QObject *) {});
    int running = TSimpleTimer::RunningCount();
    t.SetEnabled(true);
    t.SetEnabled(true);  // restart, not a second running timer
    EXPECT_EQ(TSimpleTimer::RunningCount(), running + 1);
    t.SetOnTimer(nullptr);
    EXPECT_FALSE(t.Enabled());
    t.SetEnabled(false);
    EXPECT_EQ(TSimpleTimer::RunningCount(), running);
}

TEST_F(SimpleTimerTest, SenderIsTheTimerAndAHandlerMayFreeItsTimer) {
    int alive = TSimpleTimer::TimerCount();
    auto *t = new TSimpleTimer;
    EXPECT_EQ(TSimpleTimer::TimerCount(), alive + 1);
    QObject *sender = nullptr;
    bool fired = false;
    t->SetInterval(5);
    t->SetOnTimer([&](QObject *s) {
        sender = s;
        fired = true;
        delete t;
    });
    TSimpleTimer *expected = t;
    t->SetEnabled(true);
    ASSERT_TRUE(WaitUntil([&] { return fired; }));
    EXPECT_EQ(sender, expected);
    EXPECT_EQ(TSimpleTimer::TimerCount(), alive);
}

TEST_F(SimpleTimerTest, AThrowingHandlerDoesNotEscapeTheEventLoop) {
    int ticks = 0;
    TSimpleTimer t(5, [&](QObject *) {
        ++ticks;
        throw std::runtime_error("boom");
    });
    t.SetEnabled(true);
    EXPECT_TRUE(WaitUntil([&] { return ticks >= 2; }));
}
