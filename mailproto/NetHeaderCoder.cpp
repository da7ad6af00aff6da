#include "NetHeaderCoder.h"

#include "NetCharsets.h"
#include "NetCoder.h"
#include "NetGlobalProtocols.h"
#include "SysUtils.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

struct EncodedWord {
    size_t end = 0;  // one past the closing "?="
    std::string charset;
    char encoding = 0;
    std::string_view data;
};

// Finds encoded words in one text. The positions of the next "?=" and the
// next blank only move forward, so a hostile text full of word starts is
// still read in linear time.
class TWordScanner {
public:
    explicit TWordScanner(std::string_view s) : FText(s) {}

    // An encoded word starting at s[start] ("=?"): charset, "?", letter,
    // "?", data, "?=", with no blank anywhere inside.
    bool Parse(size_t start, EncodedWord &w) {
        const std::string_view s = FText;
        size_t q1 = s.find('?', start + 2);
        if (q1 == std::string_view::npos || q1 == start + 2) return false;
        if (q1 + 2 >= s.size() || s[q1 + 2] != '?') return false;
        size_t close = NextClose(q1 + 3);
        if (close == std::string_view::npos) return false;
        if (NextBlank(start) < close) return false;
        w.charset = std::string(s.substr(start + 2, q1 - start - 2));
        // RFC 2231 language suffix: "charset*lang".
        size_t star = w.charset.find('*');
        if (star != std::string::npos) w.charset.resize(star);
        w.encoding = char(toupper(uint8_t(s[q1 + 1])));
        w.data = s.substr(q1 + 3, close - q1 - 3);
        w.end = close + 2;
        return w.encoding == 'Q' || w.encoding == 'B';
    }

private:
    size_t NextClose(size_t from) {
        if (FCloseValid && (FClose == std::string_view::npos || FClose >= from) && FCloseFrom <= from) return FClose;
        FClose = FText.find("?=", from);
        FCloseFrom = from;
        FCloseValid = true;
        return FClose;
    }
    size_t NextBlank(size_t from) {
        if (FBlankValid && (FBlank == std::string_view::npos || FBlank >= from) && FBlankFrom <= from) return FBlank;
        FBlank = FText.find_first_of(" \t\r\n", from);
        FBlankFrom = from;
        FBlankValid = true;
        return FBlank;
    }
    std::string_view FText;
    size_t FClose = 0, FCloseFrom = 0, FBlank = 0, FBlankFrom = 0;
    bool FCloseValid = false, FBlankValid = false;
};

std::string DecodeQ(std::string_view d) {
    std::string out;
    out.reserve(d.size());
    for (size_t i = 0; i < d.size(); ++i) {
        char c = d[i];
        if (c == '_') {
            out.push_back(' ');
        } else if (c == '=' && i + 2 < d.size() + 0 && HexDigitValue(d[i + 1]) >= 0 && HexDigitValue(d[i + 2]) >= 0) {
            out.push_back(char(HexDigitValue(d[i + 1]) << 4 | HexDigitValue(d[i + 2])));
            i += 2;
        } else {
            out.push_back(c);  // a bad escape, or "=" at the end, stays as it is
        }
    }
    return out;
}

std::string ConvertOutside(std::string_view seg, std::string_view defaultCharset) {
    if (IsValidUTF8(seg)) return std::string(seg);
    return CharsetToUTF8(seg, defaultCharset);
}

}  // namespace

std::string DecodeHeaderWords(std::string_view text, std::string_view defaultCharset) {
    const auto noControls = [](std::string &t) {
        for (char &c : t)
            if (uint8_t(c) < 32) c = ' ';
    };
    // Most texts hold no encoded word: they are converted as they stand, in
    // one copy.
    if (text.find("=?") == std::string_view::npos) {
        std::string plain = ConvertOutside(text, defaultCharset);
        noControls(plain);
        return plain;
    }
    std::string out;
    out.reserve(text.size());
    // Bytes of adjacent words in one set are joined before conversion, so a
    // character split across two words survives.
    std::string pendingBytes, pendingCharset;
    auto flush = [&] {
        if (pendingCharset.empty() && pendingBytes.empty()) return;
        out += CharsetToUTF8(pendingBytes, pendingCharset);
        pendingBytes.clear();
        pendingCharset.clear();
    };
    TWordScanner scanner(text);
    size_t pos = 0, lastWordEnd = std::string_view::npos;
    while (pos < text.size()) {
        size_t start = text.find("=?", pos);
        if (start == std::string_view::npos) break;
        EncodedWord w;
        if (!scanner.Parse(start, w)) {
            // Not a word: the text up to and including "=?" stays.
            flush();
            out += ConvertOutside(text.substr(pos, start + 2 - pos), defaultCharset);
            pos = start + 2;
            lastWordEnd = std::string_view::npos;
            continue;
        }
        std::string_view gap = text.substr(pos, start - pos);
        bool onlyBlanks = true;
        for (char c : gap)
            if (!IsBlank(c)) onlyBlanks = false;
        bool adjacent = lastWordEnd == pos && onlyBlanks;
        if (!adjacent) {
            flush();
            out += ConvertOutside(gap, defaultCharset);
        }
        std::string bytes = w.encoding == 'Q' ? DecodeQ(w.data) : TNetDecoderMIME().DecodeString(w.data);
        if (!SameText(w.charset, pendingCharset)) flush();
        pendingCharset = w.charset.empty() ? std::string("us-ascii") : w.charset;
        pendingBytes += bytes;
        pos = w.end;
        lastWordEnd = pos;
    }
    flush();
    out += ConvertOutside(text.substr(std::min(pos, text.size())), defaultCharset);
    noControls(out);
    return out;
}

// ---------------------------------------------------------------------------

namespace {

size_t UTF8CharLen(std::string_view s, size_t i) {
    unsigned char c = uint8_t(s[i]);
    size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    return std::min(n, s.size() - i);
}

bool ContainsEncodedWords(std::string_view text) {
    TWordScanner scanner(text);
    size_t p = 0;
    while ((p = text.find("=?", p)) != std::string_view::npos) {
        EncodedWord w;
        if (scanner.Parse(p, w)) return true;
        p += 2;
    }
    return false;
}

// One run of text (UTF-8) as encoded words of at most 75 characters each.
std::string EncodeRun(std::string_view run, char letter, std::string_view charset, std::string_view qSet) {
    std::string setName(charset);
    bool ok = true;
    UTF8ToCharset(run, setName, ok);
    if (!ok) setName = "UTF-8";
    bool utf8 = SameText(setName, "UTF-8");
    const std::string prefix = "=?" + setName + "?" + std::string(1, letter) + "?";
    static const char hex[] = "0123456789ABCDEF";

    auto codeChunk = [&](std::string_view chunk) {
        bool good = true;
        std::string bytes = utf8 ? std::string(chunk) : UTF8ToCharset(chunk, setName, good);
        if (letter == 'B') return TNetEncoderMIME().EncodeString(bytes);
        std::string q;
        for (unsigned char c : bytes) {
            if (c == ' ')
                q.push_back('_');
            else if (c < 32 || c >= 127 || qSet.find(char(c)) != std::string_view::npos) {
                q.push_back('=');
                q.push_back(hex[c >> 4]);
                q.push_back(hex[c & 15]);
            } else
                q.push_back(char(c));
        }
        return q;
    };

    std::string out;
    size_t i = 0;
    const size_t limit = 75 - prefix.size() - 2;
    while (i < run.size()) {
        // Grow the chunk a character at a time while its coded form fits.
        size_t end = i + UTF8CharLen(run, i);
        std::string coded = codeChunk(run.substr(i, end - i));
        while (end < run.size()) {
            size_t next = end + UTF8CharLen(run, end);
            std::string longer = codeChunk(run.substr(i, next - i));
            if (longer.size() > limit) break;
            coded = std::move(longer);
            end = next;
        }
        if (!out.empty()) out += "\r\n ";
        out += prefix + coded + "?=";
        i = end;
    }
    return out;
}

}  // namespace

std::string EncodeHeaderWords(std::string_view text, std::string_view specials, char encoding,
                              TTransfer transfer, std::string_view charset) {
    (void)transfer;  // ISO-2022-JP runs are converted by the set itself
    if (encoding == '8') return std::string(text);
    char letter = (encoding == 'Q' || encoding == 'q') ? 'Q' : 'B';
    std::string forcing(specials);
    if (ContainsEncodedWords(text)) forcing.push_back('=');
    std::string qSet = forcing + "?=_";
    auto forces = [&](std::string_view word) {
        for (unsigned char c : word)
            if (c < 32 || c >= 127 || forcing.find(char(c)) != std::string::npos) return true;
        return false;
    };
    std::string out;
    size_t i = 0, runStart = std::string::npos, runEnd = 0;
    auto closeRun = [&] {
        if (runStart == std::string::npos) return;
        out += EncodeRun(text.substr(runStart, runEnd - runStart), letter, charset, qSet);
        runStart = std::string::npos;
    };
    while (i < text.size()) {
        size_t sepEnd = i;
        while (sepEnd < text.size() && IsBlank(text[sepEnd])) ++sepEnd;
        size_t wordEnd = sepEnd;
        while (wordEnd < text.size() && !IsBlank(text[wordEnd])) ++wordEnd;
        std::string_view sep = text.substr(i, sepEnd - i);
        std::string_view word = text.substr(sepEnd, wordEnd - sepEnd);
        if (!word.empty() && forces(word)) {
            if (runStart == std::string::npos) {
                out += sep;
                runStart = sepEnd;
            }
            runEnd = wordEnd;  // separators inside a run are encoded with it
        } else {
            closeRun();
            out += sep;
            out += word;
        }
        i = wordEnd;
    }
    closeRun();
    return out;
}

std::string FormatAddressForHeader(TNetEMailAddressItem &item, char encoding, TTransfer transfer,
                                   std::string_view charset, bool addressAsName) {
    if (addressAsName && item.Name.empty()) item.Name = item.Address;
    if (item.Name.empty()) return item.Address;
    std::string name;
    bool needs = false;
    for (unsigned char c : item.Name)
        if (c < 32 || c >= 127) needs = true;
    if (needs) {
        name = EncodeHeaderWords(item.Name, "()[]<>:;.,@\\\"", encoding, transfer, charset);
    } else {
        name = "\"";
        for (char c : item.Name) {
            if (c == '"' || c == '\\') name.push_back('\\');
            name.push_back(c);
        }
        name += "\"";
    }
    return name + " <" + item.Address + ">";
}

std::string FormatAddressListForHeader(TNetEMailAddressList &list, char encoding, TTransfer transfer,
                                       std::string_view charset, bool addressAsName) {
    std::string r;
    for (int i = 0; i < list.Count(); ++i) {
        if (i) r += ", ";
        r += FormatAddressForHeader(list[i], encoding, transfer, charset, addressAsName);
    }
    return r;
}

// ---------------------------------------------------------------------------

std::string JisToShiftJis(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool twoByte = false;
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = uint8_t(text[i]);
        if (c == 0x1B) {
            std::string_view esc = text.substr(i + 1, 2);
            if (esc == "$B" || esc == "$@")
                twoByte = true;
            else if (esc == "(B" || esc == "(J")
                twoByte = false;
            i += 1 + esc.size();
            continue;
        }
        if (twoByte && c != '\r' && c != '\n') {
            if (i + 1 >= text.size()) {
                out.push_back(char(c));  // an odd byte at the end stays as it is
                break;
            }
            unsigned j1 = c, j2 = uint8_t(text[i + 1]);
            unsigned s1 = ((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0);
            unsigned s2 = j2 + ((j1 & 1) ? (j2 > 0x5F ? 0x20 : 0x1F) : 0x7E);
            out.push_back(char(s1));
            out.push_back(char(s2));
            i += 2;
            continue;
        }
        out.push_back(char(c));
        ++i;
    }
    return out;
}

std::string ShiftJisToJis(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    bool twoByte = false;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned s1 = uint8_t(text[i]);
        bool lead = (s1 >= 0x81 && s1 <= 0x9F) || (s1 >= 0xE0 && s1 <= 0xEF);
        if (lead && i + 1 < text.size()) {
            unsigned s2 = uint8_t(text[i + 1]);
            if (!twoByte) {
                out += "\x1B$B";
                twoByte = true;
            }
            bool adjust = s2 < 0x9F;
            unsigned rowOffset = s1 < 0xA0 ? 0x70 : 0xB0;
            unsigned cellOffset = adjust ? (s2 > 0x7F ? 0x20 : 0x1F) : 0x7E;
            unsigned j1 = ((s1 - rowOffset) << 1) - (adjust ? 1 : 0);
            unsigned j2 = s2 - cellOffset;
            out.push_back(char(j1));
            out.push_back(char(j2));
            ++i;
            continue;
        }
        if (twoByte) {
            out += "\x1B(B";
            twoByte = false;
        }
        out.push_back(char(s1));
    }
    if (twoByte) out += "\x1B(B";
    return out;
}
