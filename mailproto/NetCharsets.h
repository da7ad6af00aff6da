// Character-set names of the IANA registry, as the message model names a
// message's character set, and conversions between sets through iconv.
#pragma once

#include <string>
#include <string_view>

constexpr int NetCharsetCount = 791;
// Fixed indexes that other units rely on.
enum : int {
    csNetUS_ASCII = 1,
    csNetEUCKR = 61,  // "csEUCKR"
    csNetISO_2022_JP = 64,
    csNetISO_8859_1 = 223,
    csNetKOI8_R = 628,
    csNetGB2312 = 777,
    csNetBig5 = 779,
    csNetWindows1251 = 781,
    csNetHZ_GB_2312 = 790,
};

// Entry index of the name table (0 is empty); "" outside 0..790.
const std::string &CharsetName(int index);
// The same entry in lower case.
const std::string &CharsetNameLower(int index);
// Index of a name, found without regard to case; 0 when unknown or empty.
int CharsetIndexOf(std::string_view name);

bool IsValidUTF8(std::string_view s);

// Converts bytes of the named set into UTF-8. An unknown set, or bytes the
// set does not allow, never fail: text that is already valid UTF-8 stays as
// it is, and other bytes are read as windows-1252.
std::string CharsetToUTF8(std::string_view bytes, std::string_view charset);
// Converts UTF-8 into the named set; ok is false (and the result empty) when
// the set is unknown or cannot hold every character of the text.
std::string UTF8ToCharset(std::string_view text, std::string_view charset, bool &ok);
