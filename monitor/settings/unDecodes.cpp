#include "unDecodes.h"

namespace {

const uint16_t kKoi8r[128] = {
    0x2500, 0x2502, 0x250C, 0x2510, 0x2514, 0x2518, 0x251C, 0x2524,
    0x252C, 0x2534, 0x253C, 0x2580, 0x2584, 0x2588, 0x258C, 0x2590,
    0x2591, 0x2592, 0x2593, 0x2320, 0x25A0, 0x2219, 0x221A, 0x2248,
    0x2264, 0x2265, 0x00A0, 0x2321, 0x00B0, 0x00B2, 0x00B7, 0x00F7,
    0x2550, 0x2551, 0x2552, 0x0451, 0x2553, 0x2554, 0x2555, 0x2556,
    0x2557, 0x2558, 0x2559, 0x255A, 0x255B, 0x255C, 0x255D, 0x255E,
    0x255F, 0x2560, 0x2561, 0x0401, 0x2562, 0x2563, 0x2564, 0x2565,
    0x2566, 0x2567, 0x2568, 0x2569, 0x256A, 0x256B, 0x256C, 0x00A9,
    0x044E, 0x0430, 0x0431, 0x0446, 0x0434, 0x0435, 0x0444, 0x0433,
    0x0445, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E,
    0x043F, 0x044F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0436, 0x0432,
    0x044C, 0x044B, 0x0437, 0x0448, 0x044D, 0x0449, 0x0447, 0x044A,
    0x042E, 0x0410, 0x0411, 0x0426, 0x0414, 0x0415, 0x0424, 0x0413,
    0x0425, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E,
    0x041F, 0x042F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0416, 0x0412,
    0x042C, 0x042B, 0x0417, 0x0428, 0x042D, 0x0429, 0x0427, 0x042A,
};

// 0x80..0x9F of Windows-1252; the five unassigned bytes keep their C1 code.
const uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

inline bool Cont(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

std::string Cp1252CharToUtf8(unsigned char c) {
    std::string out;
    if (c >= 0x80 && c < 0xA0) AppendUtf8(out, kCp1252High[c - 0x80]);
    else AppendUtf8(out, c);
    return out;
}

std::string Cp1252ToUtf8(const std::string &bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (char ch : bytes) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x80) out += ch;
        else if (c < 0xA0) AppendUtf8(out, kCp1252High[c - 0x80]);
        else AppendUtf8(out, c);
    }
    return out;
}

int Utf8SequenceLength(const std::string &s, size_t i) {
    size_t n = s.size();
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    if (c >= 0xC2 && c <= 0xDF) return (i + 1 < n && Cont(at(i + 1))) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (i + 2 >= n || !Cont(at(i + 1)) || !Cont(at(i + 2))) return 0;
        if (c == 0xE0 && at(i + 1) < 0xA0) return 0;   // overlong
        if (c == 0xED && at(i + 1) >= 0xA0) return 0;  // surrogates
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (i + 3 >= n || !Cont(at(i + 1)) || !Cont(at(i + 2)) || !Cont(at(i + 3))) return 0;
        if (c == 0xF0 && at(i + 1) < 0x90) return 0;
        if (c == 0xF4 && at(i + 1) >= 0x90) return 0;
        return 4;
    }
    return 0;
}

bool IsValidUtf8(const std::string &s) {
    for (size_t i = 0; i < s.size();) {
        int len = Utf8SequenceLength(s, i);
        if (len == 0) return false;
        i += size_t(len);
    }
    return true;
}

std::string Koi8rToWide(const std::string &bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char ch : bytes) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x80) out += ch;
        else AppendUtf8(out, kKoi8r[c - 0x80]);
    }
    return out;
}

std::string Utf8ToLatin1(const std::string &bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        int len = Utf8SequenceLength(bytes, i);
        if (len > 0) {
            out.append(bytes, i, size_t(len));
            i += size_t(len);
        } else {
            out += Cp1252CharToUtf8(static_cast<unsigned char>(bytes[i]));
            ++i;
        }
    }
    return out;
}

std::string Utf8ToLatin1Bytes(const std::string &bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        unsigned char next = i + 1 < n ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        if (c == 0xC3) {
            // A lone lead byte is dropped; the byte after it stands on its own.
            if (Cont(next)) {
                out += char(0xC0 + (next - 0x80));
                i += 2;
            } else {
                ++i;
            }
        } else if (c == 0xC2 && Cont(next)) {
            out += char(next);
            i += 2;
        } else if (c == 0xE2) {
            if (next == 0x82 && i + 2 < n && static_cast<unsigned char>(bytes[i + 2]) == 0xAC) {
                out += char(0x80);
                i += 3;
            } else {
                ++i;
            }
        } else {
            out += char(c);
            ++i;
        }
    }
    return out;
}

#include <QString>

std::string Utf8LowerCase(const std::string &s) {
    bool ascii = true;
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii || !IsValidUtf8(s)) {
        std::string out = s;
        for (char &c : out)
            if (c >= 'A' && c <= 'Z') c = char(c + 32);
        return out;
    }
    return QString::fromUtf8(s.data(), qsizetype(s.size())).toLower().toStdString();
}
