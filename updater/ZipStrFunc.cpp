#include "ZipStrFunc.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

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

std::string ZipOemToAnsi(std::string_view s) {
    const TZipCompareTables &t = ZipCompareTables();
    std::string out(s);
    for (char &c : out) c = char(t.OemToAnsi[uint8_t(c)]);
    return out;
}

std::string ZipAnsiToOem(std::string_view s) {
    const TZipCompareTables &t = ZipCompareTables();
    std::string out(s);
    for (char &c : out) c = char(t.AnsiToOem[uint8_t(c)]);
    return out;
}
