// Colours and font names as the program's files store them. Colours are
// numbers in blue-green-red order; negative numbers (the top byte 0xFF) name
// one of the classic desktop's system colours by its index; settings may also
// spell a colour by name ("clGreen"). Font names are the original desktop's
// ("MS Sans Serif", "Arial") and are mapped here, once, to fonts a Debian
// system has.
#pragma once

#include <QColor>
#include <QString>
#include <cstdint>
#include <string>

using TColor = int32_t;

constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080,
                 clNavy = 0x800000, clPurple = 0x800080, clTeal = 0x808000, clGray = 0x808080,
                 clSilver = 0xC0C0C0, clRed = 0x0000FF, clLime = 0x00FF00, clYellow = 0x00FFFF,
                 clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00, clWhite = 0xFFFFFF,
                 clMoneyGreen = 0xC0DCC0, clSkyBlue = 0xF0CAA6, clCream = 0xF0FBFF,
                 clMedGray = 0xA4A0A0;
// System colours: this bit pattern or'ed with the colour's index.
constexpr TColor clSystemColor = TColor(0xFF000000u);
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clNone = 0x1FFFFFFF, clDefault = 0x20000000;

// "clGreen" and the other colour names, system colours included ("clWindowText").
bool IdentToColor(const std::string &ident, TColor &colour);
// The name of a colour that has one ("clSilver", not its alias "clLtGray").
bool ColorToIdent(TColor colour, std::string &ident);
// A colour name or a number ("$00FF00" and "0x..." are hexadecimal);
// EConvertError for anything else.
TColor StringToColor(const std::string &text);
TColor StringToColorDef(const std::string &text, TColor def);
// The red-green-blue value shown for a colour: system colours take the
// classic desktop scheme a skin or a log was designed against, and
// clNone/clDefault show as black.
QColor ColorToQColor(TColor colour);

// The installed font family that stands for a font name of the original
// desktop. "Arial" and "MS Sans Serif" (and its kin: "Microsoft Sans Serif",
// "MS Shell Dlg", "Tahoma") are Liberation Sans, whose letters are as wide as
// Arial's, so texts fill the boxes skins and dialogs were drawn for; "Times
// New Roman" is Liberation Serif, "Courier New" Liberation Mono. Other names
// pass unchanged for the font system to match (DejaVu Sans when nothing does).
QString MapFontFamily(const std::string &name);
// Point sizes of the original desktop at its 96 dots per inch, in pixels, so
// texts fill a skin's boxes the same on every screen.
int PointsToPixels(int points);
