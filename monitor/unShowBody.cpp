#include "unShowBody.h"

#include "FrmMain.h"
#include "unitMessages.h"

namespace {
bool GReaderOpen = false;
}

bool MessageReaderOpen() { return GReaderOpen; }

void ShowMessageReader(int X, int Y) {
    if (GReaderOpen)
        return;
    GReaderOpen = true;
    ShowMessageWindow("Tarnwick", "The message reader is not available in this build yet.", "", X, Y, 2);
    GReaderOpen = false;
}
