// One QApplication for the whole test program (widgets need it); tests call
// EnsureQApplication() before they create any widget.
#pragma once

#include <functional>

#include "EventLoopWait.h"

class QApplication;
// Makes the process's QApplication on first call (kept to the end of the
// process). Tests run headless under the offscreen platform.
QApplication &EnsureQApplication();

// Another spelling of WaitUntil, used by the download tests.
inline bool ProcessEventsUntil(const std::function<bool()> &cond, int timeoutMs) {
    return WaitUntil(cond, timeoutMs);
}
