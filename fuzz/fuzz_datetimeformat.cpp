// The date format of message dates comes from the settings file (ShowingTime)
// unchecked; every text must format without a crash or an endless loop.
#include <cstdint>
#include <cstring>
#include <string>

#include "SysUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string fmt(reinterpret_cast<const char *>(data), size);
    for (TDateTime d : {0.0, 46364.58567, -700000.25, 2958465.99999}) {
        std::string out = FormatDateTime(fmt, d);
        // Each letter gives at most a long day or month name, a named format
        // at most a long date and time: the result stays in proportion.
        if (out.size() > 64 * (size + 1)) __builtin_trap();
    }
    return 0;
}
