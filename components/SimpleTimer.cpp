#include "SimpleTimer.h"

#include <QTimerEvent>
#include <climits>
#include <cstdio>
#include <exception>

namespace {
int GTimerCount = 0;
int GRunningCount = 0;
}  // namespace

TSimpleTimer::TSimpleTimer() { ++GTimerCount; }

TSimpleTimer::TSimpleTimer(unsigned Interval, TNotifyEvent OnTimer)
    : FInterval(Interval), FOnTimer(std::move(OnTimer)) {
    ++GTimerCount;
}

TSimpleTimer::~TSimpleTimer() {
    Stop();
    --GTimerCount;
}

int TSimpleTimer::TimerCount() { return GTimerCount; }
int TSimpleTimer::RunningCount() { return GRunningCount; }

bool TSimpleTimer::Start() {
    if (FInterval == 0)
        return false;
    if (FQtTimer)
        Stop();
    // Qt keeps intervals in an int.
    int ms = FInterval > unsigned(INT_MAX) ? INT_MAX : int(FInterval);
    FQtTimer = startTimer(ms);
    if (!FQtTimer)
        return false;  // the platform refused: the timer stays off
    FEnabled = true;
    ++GRunningCount;
    return true;
}

void TSimpleTimer::Stop() {
    if (FQtTimer) {
        killTimer(FQtTimer);
        FQtTimer = 0;
        if (GRunningCount > 0)
            --GRunningCount;
    }
    FEnabled = false;
}

void TSimpleTimer::SetEnabled(bool Value) {
    if (Value)
        Start();
    else
        Stop();
}

void TSimpleTimer::SetInterval(unsigned Value) {
    if (Value == FInterval)
        return;
    FInterval = Value;
    if (FEnabled) {
        if (Value == 0)
            Stop();
        else
            Start();
    }
}

void TSimpleTimer::SetOnTimer(TNotifyEvent Value) {
    FOnTimer = std::move(Value);
    if (!FOnTimer)
        Stop();
}

void TSimpleTimer::timerEvent(QTimerEvent *event) {
    if (event->timerId() != FQtTimer) {
        QObject::timerEvent(event);
        return;
    }
    if (FStopAfterTick)
        Stop();
    if (!FOnTimer)
        return;
    // The handler may free this timer: nothing of it is touched afterwards.
    TNotifyEvent handler = FOnTimer;
    try {
        handler(this);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "timer handler failed: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "timer handler failed\n");
    }
}
