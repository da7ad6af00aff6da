// RFC 2047 encoded words in header values, both directions. Decoded text is
// UTF-8 (each word converted from its own character set); text to encode
// is UTF-8 and is converted into the chosen set.
#pragma once

#include <string>
#include <string_view>

#include "NetEMailAddress.h"

enum class TTransfer { bit7, bit8, iso2022jp };

// Replaces every encoded word by its text, in the order the words stand,
// whatever their character set; white space between two encoded words is
// dropped. Text outside encoded words that is not valid UTF-8 is read in
// defaultCharset (windows-1252 when that is empty or unknown). Bytes below
// 32 become spaces, so decoded text is safe for file names, logs and hints.
std::string DecodeHeaderWords(std::string_view text, std::string_view defaultCharset = {});

// Encodes the words of text that hold a byte below 32, from 127 up, or one
// of specials (and "=" when text already holds encoded words). Encoded words
// are at most 75 characters; a longer run continues in further words on
// continuation lines (CR LF and a space between them). A run the set cannot
// hold is written in UTF-8.
std::string EncodeHeaderWords(std::string_view text, std::string_view specials, char encoding,
                              TTransfer transfer, std::string_view charset);

std::string FormatAddressForHeader(TNetEMailAddressItem &item, char encoding, TTransfer transfer,
                                   std::string_view charset, bool addressAsName);
std::string FormatAddressListForHeader(TNetEMailAddressList &list, char encoding, TTransfer transfer,
                                       std::string_view charset, bool addressAsName);

// ISO-2022-JP to Shift_JIS and back by the standard arithmetic mapping.
std::string JisToShiftJis(std::string_view text);
std::string ShiftJisToJis(std::string_view text);
