// Keeps the user interface alive while socket calls block the GUI thread.
// The transport knows no GUI library: the application installs a hook that
// processes its waiting events (Tarnwick's calls QCoreApplication's
// processEvents), and the blocking waits call DoProcess between slices of
// IdleTimeOut milliseconds.
#pragma once

#include <cstdint>
#include <functional>

#include "NetComponent.h"

class TNetAntiFreezeBase : public TNetBaseComponent {
public:
    ~TNetAntiFreezeBase() override;
    const char *ClassName() const override { return "TNetAntiFreezeBase"; }
    void InitComponent() override;

    bool Active = true;
    bool ApplicationHasPriority = true;
    int IdleTimeOut = 250;
    bool OnlyWhenIdle = true;

    virtual void Process() = 0;
    // An anti-freeze is installed and active, and the caller is the main thread.
    static bool ShouldUse();
    static void DoProcess(bool idle = true, bool override = false);
    // The application's events have waited longer than a slice
    // (NetAntiFreezeSlice) since the anti-freeze last ran them: a run of
    // short waits that each end with data would otherwise never count as
    // idle. The waits pass it as the override flag.
    static bool Starved();
    // Milliseconds spent so far, process-wide, inside the message pump (a
    // menu or dialog the user holds open runs its own loop in there).
    static uint64_t PumpedMilliseconds();
    // The installed object, or nothing.
    static TNetAntiFreezeBase *Installed();

protected:
    explicit TNetAntiFreezeBase(TNetInitializerComponent *owner) : TNetBaseComponent(owner) {}

private:
    bool FInstalled = false;
};

// Processing of the application's events: processAll asks for every waiting
// event; otherwise for at most one, and only when one is waiting. The hook
// must not let an exception cross the GUI library's event loop.
using TNetProcessMessagesHook = std::function<void(bool processAll)>;

class TNetAntiFreeze : public TNetAntiFreezeBase {
public:
    const char *ClassName() const override { return "TNetAntiFreeze"; }
    void Process() override;
    static void SetProcessMessagesHook(TNetProcessMessagesHook hook);
    static bool HasProcessMessagesHook();
    // The longest a wait may keep the application from its events, in
    // milliseconds, where that is shorter than IdleTimeOut: a window whose
    // timers tick faster than the idle time-out sets it beside its hook.
    // 0 (the default) leaves the slices to IdleTimeOut alone.
    static void SetLongestPause(int milliseconds);
    static int LongestPause();

protected:
    explicit TNetAntiFreeze(TNetInitializerComponent *owner) : TNetAntiFreezeBase(owner) {}
};

// The slice a blocking wait on the GUI thread may last before it lets the
// anti-freeze run: IdleTimeOut (or the longest pause, when shorter) when one
// is in use, else the whole wait.
int NetAntiFreezeSlice();
