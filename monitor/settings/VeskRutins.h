// Stateless routines used across the monitor: setting-text conversions,
// lists, file names, plain text from HTML, and the desktop and system
// queries (special folders, shortcuts, connection state, processes).
#pragma once

#include <string>

#include "Classes.h"

class QImage;
class QFont;

// ---- setting texts --------------------------------------------------------
bool StrToBoolean(const std::string &s);  // true only for exactly "True"
std::string BooleanToStr(bool b);
// The general conversion a few readers use: "True"/"False" in any case, or a
// number (true unless zero); EConvertError for anything else.
bool StrToBool(const std::string &s);
bool StrToBoolDef(const std::string &s, bool def);

// Font styles as stored: bold 1, italic 2, underline 4, strike-out 8.
constexpr int fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8;
// A font as the settings files describe it: name, charset, colour (blue-
// green-red number), size in points, style set.
struct TFont {
    std::string Name = "MS Sans Serif";
    int Charset = 0;
    int Color = 0;
    int Size = 8;
    int Style = 0;
    bool operator==(const TFont &o) const = default;
};
void StrToFont(const std::string &text, TFont &font);
std::string FontToStr(const TFont &font);
// The Qt font for a stored font (colour and charset are not font properties there).
QFont FontToQFont(const TFont &font);

// Dots removed, the rest as an integer ("0.8.2.5" gives 825); -1 for an empty
// text; EConvertError when the rest is not a number.
int VersionToInt(const std::string &version);

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
TAlignment StrToAlignment(const std::string &s);

// ---- lists and texts -------------------------------------------------------
// True when a line equals the text exactly.
bool ListContains(const TStringList &list, const std::string &text);
// Appends the ";"-separated parts, trimmed, skipping empty ones.
void SplitToList(TStringList &list, const std::string &text);
std::string CutExtension(const std::string &fileName);  // drops the last four characters
std::string TrimLeftChar(const std::string &s, char c);
std::string TrimRightChar(const std::string &s, char c);
std::string TrimChar(const std::string &s, char c);
// Without a leading "=?ISO-8859-1?Q?" and without the first "?=".
std::string StripQPrefix(const std::string &s);
bool HasForbiddenFileNameChar(const std::string &name);  // one of \ / : * ? " < > |
std::string CleanFileName(const std::string &name);

// ---- HTML -------------------------------------------------------------------
// Removes every "<...>" tag; a "<br>" (any case) becomes CR LF. A ">" before
// the first "<" and a "<" without a ">" after it stay as text.
std::string StripHtmlTags(const std::string &html);
// The HTML as plain lines: "br", "li" and "p" start a new line, a few
// entities become their characters, CR and LF are dropped.
void HtmlToLines(const std::string &html, TStringList &lines);

// ---- desktop and system -----------------------------------------------------
// Shortcuts are XDG desktop entries: a ".lnk" name is stored as ".desktop"
// beside it (ShortcutFileName gives the name actually written).
std::string ShortcutFileName(const std::string &linkFile);
bool CreateShortcut(const std::string &linkFile, const std::string &description,
                    const std::string &target, const std::string &arguments,
                    const std::string &workingFolder, const std::string &iconFile,
                    int iconIndex, int showCommand);
// Index 0..10 as the program has always used them, mapped to XDG folders;
// empty for folders without a counterpart (2 My Computer, 6 Favorites) and
// for an index outside 0..10. No trailing "/".
std::string GetSpecialFolderPath(int index);
// True when a default route (IPv4 or IPv6) leads out through an interface
// other than the loopback one.
bool IsInternetConnected();
// The same test on the given contents of /proc/net/route and ipv6_route.
bool HasDefaultRoute(const std::string &route, const std::string &ipv6Route);
// Decodes a JPEG file into the picture; EInvalidGraphic when it cannot.
void JpegToPicture(const std::string &fileName, QImage &picture);
// The desktop's screen saver runs (asked over the session bus; false where
// the desktop offers no such service).
bool IsScreenSaverRunning();
// True when a running process's executable name equals the name in lower case.
bool IsProcessRunning(const std::string &exeName);

TW_EXCEPTION_CLASS(EInvalidGraphic, Exception);
