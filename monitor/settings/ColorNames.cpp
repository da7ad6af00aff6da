#include "ColorNames.h"

#include "Graphics.h"
#include "SysUtils.h"

// The names are the desktop's one table; an account colour is a plain
// blue-green-red value, so system colours and clNone never come out or in.
std::string ColorToString(int Colour) {
    Colour &= 0xFFFFFF;
    std::string name;
    if (ColorToIdent(Colour, name)) return name;
    return "$" + IntToHex(uint64_t(Colour), 8);
}

bool TryStringToColor(const std::string &Text, int &Colour) {
    std::string t = Trim(Text);
    TColor named = 0;
    if (IdentToColor(t, named)) {
        if (named < 0 || named > 0xFFFFFF) return false;
        Colour = named;
        return true;
    }
    int64_t v = 0;
    if (!TryStrToInt64(t, v) || v < 0 || v > 0xFFFFFF) return false;
    Colour = int(v);
    return true;
}
