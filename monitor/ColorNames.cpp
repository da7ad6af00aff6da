#include "ColorNames.h"

#include "SysUtils.h"

namespace {

struct TColourName {
    const char *Name;
    int Colour;
};

const TColourName kNames[] = {
    {"clBlack", 0x000000},  {"clMaroon", 0x000080},     {"clGreen", 0x008000},   {"clOlive", 0x008080},
    {"clNavy", 0x800000},   {"clPurple", 0x800080},     {"clTeal", 0x808000},    {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0}, {"clRed", 0x0000FF},        {"clLime", 0x00FF00},    {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},   {"clFuchsia", 0xFF00FF},    {"clAqua", 0xFFFF00},    {"clWhite", 0xFFFFFF},
    {"clMoneyGreen", 0xC0DCC0}, {"clSkyBlue", 0xF0CAA6}, {"clCream", 0xF0FBFF}, {"clMedGray", 0xA4A0A0},
};

}  // namespace

std::string ColorToString(int Colour) {
    Colour &= 0xFFFFFF;
    for (const auto &n : kNames)
        if (n.Colour == Colour) return n.Name;
    return "$" + IntToHex(uint64_t(Colour), 8);
}

bool TryStringToColor(const std::string &Text, int &Colour) {
    std::string t = Trim(Text);
    for (const auto &n : kNames)
        if (SameText(t, n.Name)) {
            Colour = n.Colour;
            return true;
        }
    int64_t v = 0;
    if (!TryStrToInt64(t, v) || v < 0 || v > 0xFFFFFF) return false;
    Colour = int(v);
    return true;
}
