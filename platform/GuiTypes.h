// Small types shared by the program's windows and components: event
// signatures, mouse buttons and the modifier set that mouse events carry.
#pragma once

#include <functional>

class QObject;

// An event that only tells who raised it.
using TNotifyEvent = std::function<void(QObject *Sender)>;

enum TMouseButton { mbLeft, mbRight, mbMiddle };

// Modifier keys and mouse buttons held during a mouse event, as bits.
enum TShiftStateBit : unsigned {
    ssShift = 1u << 0,
    ssAlt = 1u << 1,
    ssCtrl = 1u << 2,
    ssLeft = 1u << 3,
    ssRight = 1u << 4,
    ssMiddle = 1u << 5,
};
using TShiftState = unsigned;
