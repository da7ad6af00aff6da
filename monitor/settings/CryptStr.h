// Scrambling of stored passwords. The stored form must stay readable by
// every release, so it is exact to the byte: "0_" and then the decimal code
// of every enciphered byte, each followed by "_". Passwords are handled as
// the bytes they are (no code-page conversion). No GUI in here.
#pragma once

#include <cstdint>
#include <string>

// count characters of the filler alphabet (single bytes, some >= 0x80).
std::string RandomText(int count);
std::string EncipherText(const std::string &text, uint32_t startKey);
std::string DecipherText(const std::string &text, uint32_t startKey);
std::string ScrambleStr(const std::string &plain);
// Raises EConvertError when an item of the stored form is not a number.
std::string UnscrambleStr(const std::string &stored);
