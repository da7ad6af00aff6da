// The X11 side of the desktop back-end: the monitor's power through DPMS and
// the keyboard lights through the X keyboard extension. Kept apart from the
// Qt side because X11's headers define names (Bool, Status, None, ...) that
// Qt's headers use for their own.
#include "DesktopX11.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>

#include <mutex>

namespace {

std::mutex gLock;
Display *gDisplay = nullptr;
bool gTried = false;

// The program's own connection to the X server of $DISPLAY, opened once.
Display *OpenDisplay() {
    if (!gTried) {
        gTried = true;
        gDisplay = XOpenDisplay(nullptr);
    }
    return gDisplay;
}

}  // namespace

bool X11MonitorOn(std::string &why) {
    std::lock_guard<std::mutex> g(gLock);
    Display *dpy = OpenDisplay();
    if (!dpy) {
        why = "no X display";
        return false;
    }
    int event = 0, error = 0;
    if (!DPMSQueryExtension(dpy, &event, &error) || !DPMSCapable(dpy)) {
        why = "the X server has no display power management (DPMS)";
        return false;
    }
    DPMSForceLevel(dpy, DPMSModeOn);
    XFlush(dpy);
    return true;
}

int X11ToggleKeyboardLeds(std::string &why) {
    std::lock_guard<std::mutex> g(gLock);
    Display *dpy = OpenDisplay();
    if (!dpy) {
        why = "no X display";
        return -1;
    }
    int major = XkbMajorVersion, minor = XkbMinorVersion;
    if (!XkbLibraryVersion(&major, &minor) ||
        !XkbQueryExtension(dpy, nullptr, nullptr, nullptr, &major, &minor)) {
        why = "the X server has no keyboard extension (XKB)";
        return -1;
    }
    int toggled = 0;
    for (const char *name : {"Num Lock", "Caps Lock", "Scroll Lock"}) {
        Atom atom = XInternAtom(dpy, name, True);
        if (atom == None)
            continue;
        int index = 0;
        Bool state = False, real = False;
        XkbIndicatorMapRec map{};
        if (!XkbGetNamedIndicator(dpy, atom, &index, &state, &map, &real) || !real)
            continue;
        // A light that drives its lock would change the lock itself; a light
        // the keymap keeps to itself does not change on request.
        if (map.flags & (XkbIM_LEDDrivesKB | XkbIM_NoExplicit))
            continue;
        if (XkbSetNamedIndicator(dpy, atom, True, state ? False : True, False, nullptr))
            ++toggled;
    }
    XFlush(dpy);
    if (toggled == 0)
        why = "the keyboard map lets no keyboard light be switched on its own";
    return toggled;
}
