// Waiting on the test program's event loop, for timers and queued calls.
#pragma once

#include <functional>

class QApplication;
QApplication &EnsureQApplication();

// Runs the event loop until cond holds or timeoutMs passes; answers cond.
bool WaitUntil(const std::function<bool()> &cond, int timeoutMs = 5000);
// Runs the event loop for ms milliseconds.
void ProcessEventsFor(int ms);
