// The Qt application object tests with events, timers or widgets need, and a
// way to let the event loop run until something has happened.
#pragma once

#include <functional>

// Creates the process's QApplication on first use (offscreen in the tests).
void EnsureQtApplication();
// Processes events until cond() holds or timeoutMs passes; answers cond().
bool ProcessEventsUntil(const std::function<bool()> &cond, int timeoutMs);
// Processes events for ms milliseconds.
void ProcessEventsFor(int ms);
