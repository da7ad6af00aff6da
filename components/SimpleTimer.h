// A light timer object on the GUI thread's event loop, for components that
// need a few timers without being widgets themselves.
#pragma once

#include <QObject>
#include <cstdint>

#include "GuiTypes.h"

class TSimpleTimer : public QObject {
public:
    TSimpleTimer();  // 1000 milliseconds, stopped
    TSimpleTimer(unsigned Interval, TNotifyEvent OnTimer);
    ~TSimpleTimer() override;

    // Unique among live timers: the object's own address.
    uintptr_t Id() const { return reinterpret_cast<uintptr_t>(this); }

    bool Enabled() const { return FEnabled; }
    // True starts it (nothing happens with interval 0, a running timer is
    // restarted); False stops it.
    void SetEnabled(bool Value);
    unsigned Interval() const { return FInterval; }
    // A new interval restarts a running timer; 0 stops it.
    void SetInterval(unsigned Value);
    const TNotifyEvent &OnTimer() const { return FOnTimer; }
    // Clearing the handler stops a running timer.
    void SetOnTimer(TNotifyEvent Value);

    // Timer objects alive and timers running in this process.
    static int TimerCount();
    static int RunningCount();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    bool Start();
    void Stop();

    bool FEnabled = false;
    unsigned FInterval = 1000;
    TNotifyEvent FOnTimer;
    // Stop before the first tick's event; no caller asks for it yet.
    bool FStopAfterTick = false;
    int FQtTimer = 0;
};

// A form's timer: the light timer with a number of the form's own beside it
// (the alert pulse keeps its count of steps there).
class TTimer : public TSimpleTimer {
public:
    using TSimpleTimer::TSimpleTimer;
    int Tag = 0;
};
