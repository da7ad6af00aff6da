#include "NetCharsets.h"

#include <cerrno>
#include <iconv.h>

#include <array>
#include <vector>

#include "SysUtils.h"

namespace {

const char *const NameTable[NetCharsetCount] = {
#include "NetCharsetsTable.inc"
};

struct Tables {
    std::vector<std::string> names, lower;
    Tables() {
        names.reserve(NetCharsetCount);
        lower.reserve(NetCharsetCount);
        for (const char *n : NameTable) {
            names.emplace_back(n);
            lower.push_back(LowerCase(n));
        }
    }
};

const Tables &T() {
    static const Tables t;
    return t;
}

const std::string Empty;

// Names that iconv does not know under their registry spelling. A name from
// a message reaches iconv only when it looks like a character-set name (no
// "//" conversion suffixes, no paths).
std::string IconvName(std::string_view charset) {
    std::string n = LowerCase(Trim(charset));
    if (n.size() > 40) return {};
    for (char c : n)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':'))
            return {};
    if (n == "cseuckr" || n == "ks_c_5601-1987" || n == "ks_c_5601" || n == "ksc_5601") return "CP949";
    if (n == "csgb2312" || n == "gb2312") return "GBK";  // GBK is a superset real mail relies on
    if (n == "csbig5") return "BIG5";
    if (n == "cskoi8r") return "KOI8-R";
    if (n == "cshalfwidthkatakana") return "JIS_X0201";
    if (n == "unicode-1-1") return "UTF-16BE";
    if (n == "iso-8859-8-i" || n == "iso_8859-8-i") return "ISO-8859-8";
    if (n == "us-ascii" || n == "ascii") return "ASCII";
    return std::string(Trim(charset));
}

// windows-1252 bytes 0x80..0x9F as code points (0 where the set has none).
const uint16_t Win1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

void AppendUTF8(std::string &out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | cp >> 6));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xE0 | cp >> 12));
        out.push_back(char(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

std::string Win1252ToUTF8(std::string_view s) {
    std::string out;
    out.reserve(s.size() * 2);
    for (unsigned char c : s) {
        uint32_t cp = c;
        if (c >= 0x80 && c < 0xA0) cp = Win1252High[c - 0x80] ? Win1252High[c - 0x80] : 0xFFFD;
        AppendUTF8(out, cp);
    }
    return out;
}

// Runs iconv over the whole text; false on an unknown set or, when strict,
// on any byte the set rejects (otherwise such a byte becomes U+FFFD).
bool RunIconv(std::string_view in, const std::string &from, const std::string &to, bool strict,
              std::string &out) {
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == iconv_t(-1)) return false;
    out.clear();
    out.reserve(in.size() * 2 + 16);
    std::vector<char> buf(in.size() * 4 + 64);
    char *src = const_cast<char *>(in.data());
    size_t srcLeft = in.size();
    bool ok = true;
    for (;;) {
        char *dst = buf.data();
        size_t dstLeft = buf.size();
        size_t r = srcLeft ? iconv(cd, &src, &srcLeft, &dst, &dstLeft) : iconv(cd, nullptr, nullptr, &dst, &dstLeft);
        out.append(buf.data(), size_t(dst - buf.data()));
        if (r != size_t(-1)) {
            if (srcLeft == 0) {
                // Flush the shift state of stateful sets.
                dst = buf.data();
                dstLeft = buf.size();
                iconv(cd, nullptr, nullptr, &dst, &dstLeft);
                out.append(buf.data(), size_t(dst - buf.data()));
                break;
            }
            continue;
        }
        if (errno == E2BIG) continue;
        if (strict) {
            ok = false;
            break;
        }
        // EILSEQ or a truncated sequence at the end: one replacement
        // character for the byte, then go on behind it.
        out += "\xEF\xBF\xBD";
        ++src;
        --srcLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (srcLeft == 0) break;
    }
    iconv_close(cd);
    return ok;
}

}  // namespace

const std::string &CharsetName(int index) {
    if (index < 0 || index >= NetCharsetCount) return Empty;
    return T().names[size_t(index)];
}

const std::string &CharsetNameLower(int index) {
    if (index < 0 || index >= NetCharsetCount) return Empty;
    return T().lower[size_t(index)];
}

int CharsetIndexOf(std::string_view name) {
    if (name.empty()) return 0;
    std::string l = LowerCase(name);
    const auto &lower = T().lower;
    for (int i = 1; i < NetCharsetCount; ++i)
        if (lower[size_t(i)] == l) return i;
    return 0;
}

bool IsValidUTF8(std::string_view s) {
    size_t i = 0, n = s.size();
    while (i < n) {
        unsigned char c = uint8_t(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + size_t(len) > n) return false;
        for (int k = 1; k < len; ++k) {
            unsigned char d = uint8_t(s[i + size_t(k)]);
            if ((d & 0xC0) != 0x80) return false;
            cp = cp << 6 | (d & 0x3F);
        }
        if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += size_t(len);
    }
    return true;
}

std::string CharsetToUTF8(std::string_view bytes, std::string_view charset) {
    bool ascii = true;
    for (unsigned char c : bytes)
        if (c >= 0x80 || c == 0x1B) {
            ascii = false;
            break;
        }
    std::string lset = LowerCase(Trim(charset));
    bool sevenBitSet = StartsText("utf-7", lset) || StartsText("hz", lset) || StartsText("unicode-1-1-utf-7", lset);
    if (ascii && !sevenBitSet) return std::string(bytes);
    std::string name = IconvName(charset);
    std::string lname = LowerCase(name);
    if (lname == "utf-8" || lname == "utf8") {
        if (IsValidUTF8(bytes)) return std::string(bytes);
    } else if (!name.empty() && lname != "ascii") {
        std::string out;
        if (RunIconv(bytes, name, "UTF-8", false, out)) return out;
    }
    if (IsValidUTF8(bytes)) return std::string(bytes);
    return Win1252ToUTF8(bytes);
}

std::string UTF8ToCharset(std::string_view text, std::string_view charset, bool &ok) {
    std::string name = IconvName(charset);
    std::string out;
    ok = !name.empty() && RunIconv(text, "UTF-8", name, true, out);
    if (!ok) out.clear();
    return out;
}
