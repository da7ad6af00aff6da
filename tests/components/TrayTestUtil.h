// Helpers of the tray icon tests.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <string>
#include <vector>

#include "TrayIcon.h"

inline QIcon SolidIcon(QRgb colour) {
    QImage img(16, 16, QImage::Format_ARGB32);
    img.fill(colour);
    return QIcon(QPixmap::fromImage(img));
}

// Logs the icon's clicks and button transitions as "click", "down-left", "up-right"...
inline void RecordMouseEvents(TTrayIcon &t, std::vector<std::string> &events) {
    auto name = [](TMouseButton b) { return b == mbLeft ? "left" : b == mbRight ? "right" : "middle"; };
    t.OnClick = [&events](QObject *) { events.push_back("click"); };
    t.OnMouseDown = [&events, name](QObject *, TMouseButton b, TShiftState, int, int) {
        events.push_back(std::string("down-") + name(b));
    };
    t.OnMouseUp = [&events, name](QObject *, TMouseButton b, TShiftState, int, int) {
        events.push_back(std::string("up-") + name(b));
    };
}
