// The Qt application object GUI tests need, and waiting on its event loop.
#pragma once

#include <functional>

class QApplication;

// Makes the process's QApplication on first call (kept to the end of the
// process). Tests run headless under the offscreen platform.
QApplication &EnsureQApplication();
// Runs the event loop until cond holds or timeoutMs passes; answers cond.
bool WaitUntil(const std::function<bool()> &cond, int timeoutMs = 5000);
// Runs the event loop for ms milliseconds.
void ProcessEventsFor(int ms);

// Older spellings of the two above, still used by some tests.
inline void EnsureQtApplication() { EnsureQApplication(); }
inline bool ProcessEventsUntil(const std::function<bool()> &cond, int timeoutMs) {
    return WaitUntil(cond, timeoutMs);
}
