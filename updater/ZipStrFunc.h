// Name matching and comparisons of the zip component.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Wildcard match of a name against a mask of "*" and "?". "*.*" matches every
// name; a "*" tries the rest of the mask at each remaining position of the name.
bool MatchWildcard(std::string_view name, std::string_view mask, bool ignoreCase);

// Length-limited comparisons (at most maxLen bytes): <0, 0 or >0.
int ZipStrLComp(std::string_view a, std::string_view b, size_t maxLen);
int ZipStrLIComp(std::string_view a, std::string_view b, size_t maxLen);

// The comparison tables, built once. Ranks say how many byte values sort
// before each byte; the case tables work in rank space.
struct TZipCompareTables {
    uint8_t Rank[256];
    uint8_t InvRank[256];
    uint8_t UpperRank[256];
    uint8_t LowerRank[256];
    uint8_t OemToAnsi[256];
    uint8_t AnsiToOem[256];
    bool RankIsPermutation = false;
};
const TZipCompareTables &ZipCompareTables();

// Names without the UTF-8 flag: writers on DOS and Windows store them in the
// OEM code page 437, Info-ZIP on Linux in UTF-8 without the flag. A name that
// is valid UTF-8 is kept; any other is read as code page 437.
bool IsValidUtf8(std::string_view s);
std::string ZipOemToAnsi(std::string_view s);
// UTF-8 to code page 437 for writing; characters it lacks become "_".
std::string ZipAnsiToOem(std::string_view s);
