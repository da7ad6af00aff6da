#include "NetException.h"

#include <cstring>

ENetWinsockStubError::ENetWinsockStubError(int code, std::string title)
    : ENetException(), FWin32Error(code), FTitle(std::move(title)) {
    if (code != 0) {
        char buf[256];
        // The GNU strerror_r returns the text, possibly not in buf.
        FWin32ErrorMessage = strerror_r(code, buf, sizeof buf);
        SetMessage(FWin32ErrorMessage + ": " + FTitle);
    } else {
        SetMessage(FTitle);
    }
}
