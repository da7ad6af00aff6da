#include "Graphics.h"

#include <cmath>

#include "SysUtils.h"

namespace {

struct TColorName {
    const char *Name;
    TColor Colour;
};

const TColorName kColorNames[] = {
    {"clBlack", clBlack},
    {"clMaroon", clMaroon},
    {"clGreen", clGreen},
    {"clOlive", clOlive},
    {"clNavy", clNavy},
    {"clPurple", clPurple},
    {"clTeal", clTeal},
    {"clGray", clGray},
    {"clSilver", clSilver},
    {"clRed", clRed},
    {"clLime", clLime},
    {"clYellow", clYellow},
    {"clBlue", clBlue},
    {"clFuchsia", clFuchsia},
    {"clAqua", clAqua},
    {"clLtGray", clSilver},
    {"clDkGray", clGray},
    {"clWhite", clWhite},
    {"clMoneyGreen", clMoneyGreen},
    {"clSkyBlue", clSkyBlue},
    {"clCream", clCream},
    {"clMedGray", clMedGray},
    {"clNone", clNone},
    {"clDefault", clDefault},
    {"clScrollBar", clSystemColor | 0},
    {"clBackground", clSystemColor | 1},
    {"clActiveCaption", clSystemColor | 2},
    {"clInactiveCaption", clSystemColor | 3},
    {"clMenu", clSystemColor | 4},
    {"clWindow", clSystemColor | 5},
    {"clWindowFrame", clSystemColor | 6},
    {"clMenuText", clSystemColor | 7},
    {"clWindowText", clSystemColor | 8},
    {"clCaptionText", clSystemColor | 9},
    {"clActiveBorder", clSystemColor | 10},
    {"clInactiveBorder", clSystemColor | 11},
    {"clAppWorkSpace", clSystemColor | 12},
    {"clHighlight", clSystemColor | 13},
    {"clHighlightText", clSystemColor | 14},
    {"clBtnFace", clSystemColor | 15},
    {"clBtnShadow", clSystemColor | 16},
    {"clGrayText", clSystemColor | 17},
    {"clBtnText", clSystemColor | 18},
    {"clInactiveCaptionText", clSystemColor | 19},
    {"clBtnHighlight", clSystemColor | 20},
    {"cl3DDkShadow", clSystemColor | 21},
    {"cl3DLight", clSystemColor | 22},
    {"clInfoText", clSystemColor | 23},
    {"clInfoBk", clSystemColor | 24},
    {"clHotLight", clSystemColor | 26},
    {"clGradientActiveCaption", clSystemColor | 27},
    {"clGradientInactiveCaption", clSystemColor | 28},
    {"clMenuHighlight", clSystemColor | 29},
    {"clMenuBar", clSystemColor | 30},
};

// The classic desktop scheme, as red-green-blue, by system colour index.
const QRgb kSystemColours[] = {
    0xD4D0C8, 0x3A6EA5, 0x0A246A, 0x808080, 0xD4D0C8, 0xFFFFFF, 0x000000, 0x000000,
    0x000000, 0xFFFFFF, 0xD4D0C8, 0xD4D0C8, 0x808080, 0x0A246A, 0xFFFFFF, 0xD4D0C8,
    0x808080, 0x808080, 0x000000, 0xD4D0C8, 0xFFFFFF, 0x404040, 0xD4D0C8, 0x000000,
    0xFFFFE1, 0xB5B5B5, 0x000080, 0xA6CAF0, 0xC0C0C0, 0x316AC5, 0xECE9D8,
};

}  // namespace

bool IdentToColor(const std::string &ident, TColor &colour) {
    for (const TColorName &c : kColorNames) {
        if (SameText(ident, c.Name)) {
            colour = c.Colour;
            return true;
        }
    }
    return false;
}

bool ColorToIdent(TColor colour, std::string &ident) {
    for (const TColorName &c : kColorNames) {
        if (c.Colour == colour) {
            ident = c.Name;
            return true;
        }
    }
    return false;
}

TColor StringToColor(const std::string &text) {
    TColor c;
    if (IdentToColor(Trim(text), c))
        return c;
    int64_t n;
    if (!TryStrToInt64(text, n) || n < INT32_MIN || n > int64_t(UINT32_MAX))
        throw EConvertError("'" + text + "' is not a valid colour");
    return TColor(uint32_t(int64_t(n) & 0xFFFFFFFF));
}

TColor StringToColorDef(const std::string &text, TColor def) {
    try {
        return StringToColor(text);
    } catch (const EConvertError &) {
        return def;
    }
}

QColor ColorToQColor(TColor colour) {
    uint32_t c = uint32_t(colour);
    if ((c & 0xFF000000u) == 0xFF000000u) {
        uint32_t index = c & 0xFF;
        if (index < sizeof kSystemColours / sizeof kSystemColours[0])
            return QColor::fromRgb(kSystemColours[index]);
        return QColor(Qt::black);
    }
    if (colour == clNone || colour == clDefault)
        return QColor(Qt::black);
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

QString MapFontFamily(const std::string &name) {
    std::string n = Trim(name);
    if (SameText(n, "MS Sans Serif") || SameText(n, "Microsoft Sans Serif") ||
        SameText(n, "MS Shell Dlg") || SameText(n, "MS Shell Dlg 2") || SameText(n, "Tahoma") ||
        SameText(n, "Verdana") || SameText(n, "Arial") || SameText(n, "Helvetica") || n.empty())
        return QStringLiteral("Liberation Sans");
    if (SameText(n, "Times New Roman") || SameText(n, "MS Serif"))
        return QStringLiteral("Liberation Serif");
    if (SameText(n, "Courier New") || SameText(n, "Courier"))
        return QStringLiteral("Liberation Mono");
    return QString::fromStdString(n);
}

int PointsToPixels(int points) { return int(std::lround(points * 96.0 / 72.0)); }
