// Code-page routines of the message reader. Program strings are UTF-8, so
// the "local code page" the reader once showed is UTF-8 here:
// - Koi8rToWide maps every KOI8-R byte to its character and returns UTF-8;
// - Utf8ToLatin1 returns text the reader can show: valid UTF-8 stays as it is
//   (the accented letters it once folded are already single characters), and
//   each byte that is not part of valid UTF-8 is taken as a Windows-1252
//   character (what such a body almost always is) and re-encoded;
// - Utf8ToLatin1Bytes is the real fold into single Windows-1252 bytes, for
//   the places that need bytes (C3 80-BF and C2 80-BF to their Latin-1 byte,
//   E2 82 AC to the euro sign 0x80).
#pragma once

#include <cstdint>
#include <string>

#include "SysUtils.h"  // AppendUtf8

std::string Koi8rToWide(const std::string &bytes);
std::string Utf8ToLatin1(const std::string &bytes);
std::string Utf8ToLatin1Bytes(const std::string &bytes);

// Windows-1252 text (one byte, one character) as UTF-8.
std::string Cp1252ToUtf8(const std::string &bytes);
std::string Cp1252CharToUtf8(unsigned char c);
// Length of the valid UTF-8 sequence at s[i] (1..4), or 0 when invalid.
int Utf8SequenceLength(const std::string &s, size_t i);
bool IsValidUtf8(const std::string &s);

// Lower case of UTF-8 text, letters beyond ASCII included ("ÄÖ" gives "äö");
// bytes that are not valid UTF-8 are lowered as ASCII only.
std::string Utf8LowerCase(const std::string &s);
