#include "NetCoder.h"

#include <array>
#include <cstring>

#include "NetGlobalProtocols.h"

namespace {

const char MIMETable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

using ReverseTable = std::array<uint8_t, 256>;

ReverseTable MakeReverse(const char *table) {
    ReverseTable r;
    r.fill(0xFF);
    for (int i = 0; i < 64; ++i) r[uint8_t(table[i])] = uint8_t(i);
    return r;
}

const ReverseTable &MIMEReverse() {
    static const ReverseTable r = MakeReverse(MIMETable);
    return r;
}
const ReverseTable &BinHexReverse() {
    static const ReverseTable r = MakeReverse(NetBinHexTable);
    return r;
}
// UUE: every character from blank to "_" by its code, "`" as 0; characters
// outside that range count as 0 rather than failing a whole attachment.
const ReverseTable &UUEReverse() {
    static const ReverseTable r = [] {
        ReverseTable t;
        t.fill(0);
        for (int c = 32; c < 96; ++c) t[c] = uint8_t(c - 32);
        t['`'] = 0;
        return t;
    }();
    return r;
}
const ReverseTable &XXEReverse() {
    static const ReverseTable r = [] {
        ReverseTable t = MakeReverse(NetXXETable);
        for (auto &v : t)
            if (v == 0xFF) v = 0;
        return t;
    }();
    return r;
}

const char HexDigits[] = "0123456789ABCDEF";

}  // namespace

const char NetUUETable[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
const char NetXXETable[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
const char NetBinHexTable[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
const char NetBinHexHeaderLine[] = "(This file must be converted with BinHex 4.0)";

// ---------------------------------------------------------------------------

std::string TNetEncoder::Encode(TStream &source, int64_t count) {
    int64_t remain = source.Size() - source.Position();
    if (count < 0 || count > remain) count = remain;
    if (count <= 0) return {};
    std::string buf(size_t(count), '\0');
    int64_t got = source.Read(buf.data(), count);
    buf.resize(size_t(got < 0 ? 0 : got));
    return EncodeBuffer(reinterpret_cast<const uint8_t *>(buf.data()), buf.size());
}

void TNetDecoder::DecodeBegin(TStream &destination) {
    FStream = &destination;
    FCollect = nullptr;
    Reset();
}

void TNetDecoder::DecodeEnd() {}

void TNetDecoder::Emit(const char *data, size_t len) {
    if (len == 0) return;
    if (FCollect)
        FCollect->append(data, len);
    else if (FStream)
        FStream->WriteBuffer(data, int64_t(len));
}

std::string TNetDecoder::DecodeString(std::string_view text) {
    std::string out;
    TStream *saved = FStream;
    FStream = nullptr;
    FCollect = &out;
    Reset();
    try {
        Decode(text);
        DecodeEnd();
    } catch (...) {
        FCollect = nullptr;
        FStream = saved;
        throw;
    }
    FCollect = nullptr;
    FStream = saved;
    return out;
}

TNetBytes TNetDecoder::DecodeToBytes(std::string_view text) {
    std::string s = DecodeString(text);
    return TNetBytes(s.begin(), s.end());
}

// ---------------------------------------------------------------------------

std::string TNetEncoder3to4::EncodeBuffer(const uint8_t *data, size_t len) {
    const size_t expected = (len + 2) / 3 * 4;
    std::string out(expected, '\0');
    char *o = out.data();
    size_t i = 0;
    for (; i + 3 <= len; i += 3) {
        uint32_t v = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2];
        *o++ = FTable[v >> 18];
        *o++ = FTable[(v >> 12) & 63];
        *o++ = FTable[(v >> 6) & 63];
        *o++ = FTable[v & 63];
    }
    size_t rest = len - i;
    if (rest) {
        uint32_t v = uint32_t(data[i]) << 16 | (rest > 1 ? uint32_t(data[i + 1]) << 8 : 0);
        *o++ = FTable[v >> 18];
        *o++ = FTable[(v >> 12) & 63];
        if (FFill) {
            *o++ = rest > 1 ? FTable[(v >> 6) & 63] : FFill;
            *o++ = FFill;
        } else {
            *o++ = FTable[(v >> 6) & 63];
            *o++ = FTable[v & 63];
        }
    }
    if (size_t(o - out.data()) != expected)
        throw ENetException("TNetEncoder3to4.Encode: Calculated length exceeded (expected " +
                            IntToStr(int64_t(expected)) + ")");
    return out;
}

void TNetDecoder4to3::FlushPartial(std::string &out) {
    if (FCount == 2) {
        out.push_back(char(FBits >> 4));
    } else if (FCount == 3) {
        out.push_back(char(FBits >> 10));
        out.push_back(char(FBits >> 2));
    }
    FBits = 0;
    FCount = 0;
}

void TNetDecoder4to3::Decode(std::string_view text) {
    std::string &out = FOut;
    out.resize(text.size() / 4 * 3 + 3);
    char *o = out.data();
    const uint8_t *rev = FReverse;
    uint32_t bits = FBits;
    int count = FCount;
    const char fill = FFill;
    for (unsigned char c : text) {
        uint8_t v = rev[c];
        if (v < 64) {
            bits = bits << 6 | v;
            if (++count == 4) {
                *o++ = char(bits >> 16);
                *o++ = char(bits >> 8);
                *o++ = char(bits);
                bits = 0;
                count = 0;
            }
        } else if (fill && c == uint8_t(fill) && count) {
            if (count == 2) {
                *o++ = char(bits >> 4);
            } else if (count == 3) {
                *o++ = char(bits >> 10);
                *o++ = char(bits >> 2);
            }
            bits = 0;
            count = 0;
        }
    }
    FBits = bits;
    FCount = count;
    out.resize(size_t(o - out.data()));
    Emit(out);
}

void TNetDecoder4to3::DecodeEnd() {
    std::string out;
    FlushPartial(out);
    Emit(out);
}

TNetEncoderMIME::TNetEncoderMIME() : TNetEncoder3to4(MIMETable, '=') {}
TNetDecoderMIME::TNetDecoderMIME() : TNetDecoder4to3(MIMEReverse().data(), '=') {}

// ---------------------------------------------------------------------------

std::string TNetEncoder00E::EncodeBuffer(const uint8_t *data, size_t len) {
    std::string out;
    out.reserve(len / 45 * 64 + 64);
    size_t pos = 0;
    do {
        size_t n = std::min<size_t>(45, len - pos);
        if (!out.empty()) out += "\r\n";
        out.push_back(FTable[n]);
        for (size_t i = 0; i < n; i += 3) {
            uint32_t v = uint32_t(data[pos + i]) << 16;
            if (i + 1 < n) v |= uint32_t(data[pos + i + 1]) << 8;
            if (i + 2 < n) v |= data[pos + i + 2];
            out.push_back(FTable[v >> 18]);
            out.push_back(FTable[(v >> 12) & 63]);
            out.push_back(FTable[(v >> 6) & 63]);
            out.push_back(FTable[v & 63]);
        }
        pos += n;
    } while (pos < len);
    return out;
}

void TNetDecoder00E::DecodeLine(std::string_view line, std::string &out) {
    if (line.empty()) return;
    const uint8_t *rev = FReverse;
    int n = rev[uint8_t(line[0])] & 63;
    size_t avail = line.size() - 1;
    auto at = [&](size_t i) -> uint32_t { return i < avail ? (rev[uint8_t(line[1 + i])] & 63) : 0; };
    for (int done = 0, g = 0; done < n; done += 3, g += 4) {
        uint32_t v = at(g) << 18 | at(g + 1) << 12 | at(g + 2) << 6 | at(g + 3);
        out.push_back(char(v >> 16));
        if (done + 1 < n) out.push_back(char(v >> 8));
        if (done + 2 < n) out.push_back(char(v));
    }
}

void TNetDecoder00E::Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 3 / 4 + 3);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        DecodeLine(text.substr(start, end - start), out);
        start = end + 1;
    }
    Emit(out);
}

TNetEncoderUUE::TNetEncoderUUE() : TNetEncoder00E(NetUUETable) {}
TNetDecoderUUE::TNetDecoderUUE() : TNetDecoder00E(UUEReverse().data()) {}
TNetEncoderXXE::TNetEncoderXXE() : TNetEncoder00E(NetXXETable) {}
TNetDecoderXXE::TNetDecoderXXE() : TNetDecoder00E(XXEReverse().data()) {}

// ---------------------------------------------------------------------------

std::string TNetEncoderQuotedPrintable::EncodeBuffer(const uint8_t *data, size_t len) {
    std::string out;
    out.reserve(len + len / 8 + 16);
    size_t lineLen = 0;
    auto put = [&](const char *tok, size_t n) {
        if (lineLen + n > 74) {
            out += "=\r\n";
            lineLen = 0;
        }
        out.append(tok, n);
        lineLen += n;
    };
    for (size_t i = 0; i < len; ++i) {
        uint8_t c = data[i];
        if (c == '\r' && i + 1 < len && data[i + 1] == '\n') {
            out += "\r\n";
            lineLen = 0;
            ++i;
            continue;
        }
        bool atLineEnd = i + 1 == len || (data[i + 1] == '\r' && i + 2 < len && data[i + 2] == '\n');
        bool literal;
        if (c == ' ' || c == '\t')
            literal = !atLineEnd;
        else if (c == '.')
            literal = lineLen != 0 && lineLen + 1 <= 74;
        else
            literal = c >= 33 && c <= 126 && c != '=';
        if (literal) {
            char ch = char(c);
            put(&ch, 1);
        } else {
            // A "." that a soft break would move to the start of a line is
            // coded too, so no output line ever begins with a bare ".".
            char tok[3] = {'=', HexDigits[c >> 4], HexDigits[c & 15]};
            put(tok, 3);
        }
    }
    return out;
}

void TNetDecoderQuotedPrintable::Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    const size_t len = text.size();
    while (pos < len) {
        // One input line: its content, then its line end (LF or CR LF; a
        // lone CR is data).
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = len;
        size_t contentEnd = eol;
        if (contentEnd > pos && eol < len && text[contentEnd - 1] == '\r') --contentEnd;
        size_t lineEndStart = contentEnd;
        while (contentEnd > pos && (text[contentEnd - 1] == ' ' || text[contentEnd - 1] == '\t')) --contentEnd;
        size_t i = pos;
        bool soft = false;
        while (i < contentEnd) {
            char c = text[i];
            if (c != '=') {
                size_t next = text.find('=', i);
                if (next == std::string_view::npos || next > contentEnd) next = contentEnd;
                out.append(text.data() + i, next - i);
                i = next;
                continue;
            }
            ++i;
            int h1 = i < contentEnd ? HexDigitValue(text[i]) : -1;
            if (h1 < 0) {
                // A soft line break: the "=" and the line end right after it go.
                if (i >= contentEnd) soft = true;
                continue;
            }
            ++i;
            int h2 = i < contentEnd ? HexDigitValue(text[i]) : -1;
            if (h2 >= 0) {
                ++i;
                out.push_back(char(h1 << 4 | h2));
            } else {
                out.push_back(char(h1));
            }
        }
        // Copy (or, after a soft break, drop) the line end.
        size_t next = eol < len ? eol + 1 : len;
        if (!soft) out.append(text.data() + lineEndStart, next - lineEndStart);
        pos = next;
    }
    Emit(out);
}

// ---------------------------------------------------------------------------

uint16_t BinHexCRC(const uint8_t *data, size_t len, uint16_t crc) {
    static const auto table = [] {
        std::array<uint16_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            uint16_t r = uint16_t(i << 8);
            for (int b = 0; b < 8; ++b) r = (r & 0x8000) ? uint16_t(r << 1 ^ 0x1021) : uint16_t(r << 1);
            t[i] = r;
        }
        return t;
    }();
    for (size_t i = 0; i < len; ++i) crc = uint16_t(crc << 8 ^ table[(crc >> 8 ^ data[i]) & 0xFF]);
    return crc;
}

TNetEncoderBinHex4::TNetEncoderBinHex4() : TNetEncoder3to4(NetBinHexTable, 0) {}

void TNetEncoderBinHex4::EncodeNamedStream(const std::string &fileName, TStream &source,
                                           TStream &destination) {
    int64_t size = source.Size() - source.Position();
    if (size < 0) size = 0;
    if (size > INT32_MAX) throw ENetRangeException("Range check error");
    std::string data(size_t(size), '\0');
    if (size) data.resize(size_t(std::max<int64_t>(0, source.Read(data.data(), size))));

    std::string name = fileName.substr(0, 255);
    std::string raw;
    raw.reserve(name.size() + data.size() + 32);
    raw.push_back(char(name.size()));
    raw += name;
    raw.push_back('\0');                // version
    raw.append(8, ' ');                 // type and creator
    raw.append(2, '\0');                // flags
    auto put32 = [&](uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) raw.push_back(char(v >> s));
    };
    auto put16 = [&](uint16_t v) {
        raw.push_back(char(v >> 8));
        raw.push_back(char(v));
    };
    put32(uint32_t(data.size()));
    put32(0);
    put16(BinHexCRC(reinterpret_cast<const uint8_t *>(raw.data()), raw.size()));
    raw += data;
    put16(BinHexCRC(reinterpret_cast<const uint8_t *>(data.data()), data.size()));
    put16(0);

    std::string stuffed;
    stuffed.reserve(raw.size() + raw.size() / 64 + 3);
    for (char c : raw) {
        stuffed.push_back(c);
        if (uint8_t(c) == 0x90) stuffed.push_back('\0');
    }
    while (stuffed.size() % 3) stuffed.push_back('\0');
    std::string framed = ":" +
        EncodeBuffer(reinterpret_cast<const uint8_t *>(stuffed.data()), stuffed.size()) + ":";

    std::string out = std::string(NetBinHexHeaderLine) + "\r\n";
    out.reserve(out.size() + framed.size() + framed.size() / 32 + 2);
    for (size_t i = 0; i < framed.size(); i += 64) {
        out.append(framed, i, 64);
        out += "\r\n";
    }
    destination.WriteBuffer(out.data(), int64_t(out.size()));
}

TNetDecoderBinHex4::TNetDecoderBinHex4() : TNetDecoder4to3(BinHexReverse().data(), 0) {}

void TNetDecoderBinHex4::Decode(std::string_view text, int startPos, int64_t count) {
    if (startPos < 1) startPos = 1;
    if (size_t(startPos - 1) >= text.size()) return;
    text.remove_prefix(size_t(startPos - 1));
    if (count >= 0 && uint64_t(count) < text.size()) text = text.substr(0, size_t(count));
    if (text.empty()) return;

    size_t open = text.find(':');
    if (open == std::string_view::npos)
        throw ENetMissingColon("Block passed to TNetDecoderBinHex4.Decode is missing a starting colon :");
    size_t close = text.find(':', open + 1);
    if (close == std::string_view::npos)
        throw ENetMissingColon(
            "Block passed to TNetDecoderBinHex4.Decode is missing a terminating colon :");

    // Whole groups of four table characters; anything else (line ends,
    // blanks, stray bytes) is passed over, and a short group at the end goes.
    std::string bytes;
    bytes.reserve((close - open) / 4 * 3 + 3);
    const uint8_t *rev = FReverse;
    uint32_t bits = 0;
    int n = 0;
    for (size_t i = open + 1; i < close; ++i) {
        uint8_t v = rev[uint8_t(text[i])];
        if (v >= 64) continue;
        bits = bits << 6 | v;
        if (++n == 4) {
            bytes.push_back(char(bits >> 16));
            bytes.push_back(char(bits >> 8));
            bytes.push_back(char(bits));
            bits = 0;
            n = 0;
        }
    }
    if (bytes.empty()) return;

    // Run-length expansion into a new buffer, so copies are never rescanned
    // and a hostile run cannot make the work quadratic.
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        uint8_t c = uint8_t(bytes[i]);
        if (c != 0x90) {
            out.push_back(char(c));
            continue;
        }
        if (i + 1 >= bytes.size()) throw ENetRangeException("Range check error");
        uint8_t cnt = uint8_t(bytes[++i]);
        if (cnt == 0) {
            out.push_back(char(0x90));
            continue;
        }
        if (out.empty()) throw ENetRangeException("Range check error");
        if (out.size() + cnt > MaxExpanded) throw ENetRangeException("Range check error");
        out.append(size_t(cnt - 1), out.back());
    }

    auto be32 = [&](uint64_t off) -> uint64_t {
        if (off + 4 > out.size()) throw ENetRangeException("Range check error");
        const uint8_t *p = reinterpret_cast<const uint8_t *>(out.data()) + off;
        return uint64_t(p[0]) << 24 | uint64_t(p[1]) << 16 | uint64_t(p[2]) << 8 | p[3];
    };
    uint64_t nameLen = uint8_t(out[0]);
    uint64_t len = be32(nameLen + 12);
    uint64_t start = nameLen + 22;
    if (len == 0) {
        len = be32(nameLen + 16);
        start = nameLen + 24;
    }
    if (start + len > out.size()) throw ENetRangeException("Range check error");
    Emit(out.data() + start, size_t(len));
}
