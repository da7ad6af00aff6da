// The log file is read back at every start, and an account's colour text
// comes from the settings file: any bytes must read without a crash, what
// was read must write and read back the same, and a colour that reads must
// write and read back the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/ColorNames.h"
#include "options/RtfLog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string input(reinterpret_cast<const char *>(data), size);
    int colour = 0;
    if (TryStringToColor(input, colour)) {
        int back = -1;
        if (!TryStringToColor(ColorToString(colour), back) || back != colour) abort();
    }
    try {
        std::vector<TRtfLine> lines = RtfReadLog(input);
        for (const auto &line : lines)
            for (const auto &run : line.Runs) {
                if (run.Colour < -1 || run.Colour > 0xFFFFFF) abort();
            }
        if (RtfReadLog(RtfWriteLog(lines)) != lines) abort();
    } catch (const ERtfError &) {
    }
    return 0;
}
