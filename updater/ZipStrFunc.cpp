#include "ZipStrFunc.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "SysUtils.h"

namespace {

// Single-character comparison under the program's collation. Names are
// UTF-8, so single bytes compare by value (the C collation); the tables are
// still derived from a pairwise comparison so a different collation only
// needs a different comparator.
int CollateByte(uint8_t a, uint8_t b) { return int(a) - int(b); }

TZipCompareTables BuildTables() {
    TZipCompareTables t{};
    for (int a = 0; a < 256; ++a) {
        int before = 0;
        for (int b = 0; b < 256; ++b)
            if (b != a && CollateByte(uint8_t(b), uint8_t(a)) < 0) ++before;
        t.Rank[a] = uint8_t(before > 255 ? 255 : before);
    }
    bool seen[256] = {};
    t.RankIsPermutation = true;
    for (int a = 0; a < 256; ++a) {
        if (seen[t.Rank[a]]) t.RankIsPermutation = false;
        seen[t.Rank[a]] = true;
    }
    for (int a = 0; a < 256; ++a) {
        t.OemToAnsi[a] = uint8_t(a);
        t.AnsiToOem[a] = uint8_t(a);
    }
    if (t.RankIsPermutation) {
        for (int a = 0; a < 256; ++a) t.InvRank[t.Rank[a]] = uint8_t(a);
        for (int r = 0; r < 256; ++r) {
            uint8_t c = t.InvRank[r];
            uint8_t up = c < 0x80 ? uint8_t(std::toupper(c)) : c;
            uint8_t lo = c < 0x80 ? uint8_t(std::tolower(c)) : c;
            t.UpperRank[r] = t.Rank[up];
            t.LowerRank[r] = t.Rank[lo];
        }
    } else {
        for (int a = 0; a < 256; ++a) {
            t.InvRank[a] = t.UpperRank[a] = t.LowerRank[a] = uint8_t(a);
        }
    }
    return t;
}

inline uint8_t FoldByte(uint8_t c) {
    const TZipCompareTables &t = ZipCompareTables();
    if (t.RankIsPermutation) return t.UpperRank[t.Rank[c]];
    return c < 0x80 ? uint8_t(std::toupper(c)) : c;
}

inline bool SameChar(char a, char b, bool ignoreCase) {
    if (a == b) return true;
    return ignoreCase && FoldByte(uint8_t(a)) == FoldByte(uint8_t(b));
}

class Matcher {
public:
    Matcher(std::string_view n, std::string_view m, bool ic) : N(n), M(m), IC(ic) {
        // Remember failed (name, mask) positions so that masks with many stars
        // stay polynomial on long names.
        size_t cells = (N.size() + 1) * (M.size() + 1);
        if (cells <= (1u << 22)) Failed.assign(cells, 0);
    }
    bool Run(size_t ni, size_t mi) {
        size_t key = ni * (M.size() + 1) + mi;
        if (!Failed.empty() && Failed[key]) return false;
        bool ok = Step(ni, mi);
        if (!ok && !Failed.empty()) Failed[key] = 1;
        return ok;
    }

private:
    bool Step(size_t ni, size_t mi) {
        for (;;) {
            if (M.substr(mi) == "*") return true;
            if (ni >= N.size()) return mi >= M.size();
            if (mi >= M.size()) return false;
            char mc = M[mi];
            if (mc == '*') {
                for (size_t p = ni; p < N.size(); ++p)
                    if (Run(p, mi + 1)) return true;
                return false;
            }
            if (mc != '?' && !SameChar(N[ni], mc, IC)) return false;
            ++ni;
            ++mi;
        }
    }
    std::string_view N, M;
    bool IC;
    std::vector<uint8_t> Failed;
};

int CompareLimited(std::string_view a, std::string_view b, size_t maxLen, bool ignoreCase) {
    const TZipCompareTables &t = ZipCompareTables();
    size_t n = std::min({a.size(), b.size(), maxLen});
    for (size_t i = 0; i < n; ++i) {
        uint8_t x = uint8_t(a[i]), y = uint8_t(b[i]);
        int rx, ry;
        if (t.RankIsPermutation) {
            rx = ignoreCase ? t.UpperRank[t.Rank[x]] : t.Rank[x];
            ry = ignoreCase ? t.UpperRank[t.Rank[y]] : t.Rank[y];
        } else {
            rx = ignoreCase ? FoldByte(x) : x;
            ry = ignoreCase ? FoldByte(y) : y;
        }
        if (rx != ry) return rx - ry;
    }
    size_t la = std::min(a.size(), maxLen), lb = std::min(b.size(), maxLen);
    return la < lb ? -1 : (la > lb ? 1 : 0);
}

}  // namespace

const TZipCompareTables &ZipCompareTables() {
    static const TZipCompareTables tables = BuildTables();
    return tables;
}

bool MatchWildcard(std::string_view name, std::string_view mask, bool ignoreCase) {
    if (mask == "*.*") return true;
    Matcher m(name, mask, ignoreCase);
    return m.Run(0, 0);
}

int ZipStrLComp(std::string_view a, std::string_view b, size_t maxLen) {
    return CompareLimited(a, b, maxLen, false);
}

int ZipStrLIComp(std::string_view a, std::string_view b, size_t maxLen) {
    return CompareLimited(a, b, maxLen, true);
}

namespace {

// The upper half of the OEM code page 437, the one DOS and Windows zip
// writers use for names without the UTF-8 flag.
const uint16_t Cp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

}  // namespace

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        uint8_t c = uint8_t(s[i]);
        size_t n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
        if (n == 9 || (n && c < 0xC2) || i + n >= s.size()) return false;
        for (size_t k = 1; k <= n; ++k)
            if ((uint8_t(s[i + k]) >> 6) != 2) return false;
        i += n + 1;
    }
    return true;
}

std::string ZipOemToAnsi(std::string_view s) {
    if (IsValidUtf8(s)) return std::string(s);
    std::string out;
    out.reserve(s.size() * 2);
    for (char ch : s) {
        uint8_t c = uint8_t(ch);
        if (c < 0x80) out += ch;
        else AppendUtf8(out, Cp437High[c - 0x80]);
    }
    return out;
}

std::string ZipAnsiToOem(std::string_view s) {
    std::string out;
    size_t i = 0;
    while (i < s.size()) {
        uint8_t c = uint8_t(s[i]);
        uint32_t cp = c;
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        if (n > 1 && i + n <= s.size()) {
            cp = c & (0x7F >> n);
            for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (uint8_t(s[i + k]) & 0x3F);
        }
        i += n;
        if (cp < 0x80) {
            out += char(cp);
            continue;
        }
        char mapped = '_';
        for (int k = 0; k < 128; ++k)
            if (Cp437High[k] == cp) mapped = char(0x80 + k);
        out += mapped;
    }
    return out;
}
