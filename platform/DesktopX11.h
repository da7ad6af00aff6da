// X11 requests of the desktop back-end (DesktopX11.cpp), with no X11 type in
// sight so that Qt code may include this.
#pragma once

#include <string>

// Forces the monitor on (DPMS). False, with why, when the X server cannot.
bool X11MonitorOn(std::string &why);
// Toggles each of the Num Lock, Caps Lock and Scroll Lock lights that can be
// switched without touching its lock. The number toggled; -1 (with why)
// without an X server or its keyboard extension, 0 (with why) when the
// keymap lets no light be switched.
int X11ToggleKeyboardLeds(std::string &why);
