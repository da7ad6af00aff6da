// One QApplication for the whole test program (widgets need it); tests call
// EnsureQApplication() before they create any widget. Helpers to let the
// event loop run until something has happened.
#pragma once

#include <functional>

class QApplication;
QApplication &EnsureQApplication();

// Processes events until cond() holds or timeoutMs passes; answers cond().
bool ProcessEventsUntil(const std::function<bool()> &cond, int timeoutMs);
// Processes events for ms milliseconds.
void ProcessEventsFor(int ms);
