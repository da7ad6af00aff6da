// One QApplication for the whole test program (widgets need it); tests call
// EnsureQApplication() before they create any widget.
#pragma once

class QApplication;
QApplication &EnsureQApplication();
