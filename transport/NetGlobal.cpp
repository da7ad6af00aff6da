#include "NetGlobal.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

[[noreturn]] void RaiseRange() { ENetRangeException::Toss("Index out of bounds."); }

void CheckRange(size_t have, size_t index, size_t count) {
    if (index > have || count > have - index) RaiseRange();
}

template <typename T>
TNetBytes ValueBytes(T v) {
    TNetBytes b(sizeof(T));
    std::memcpy(b.data(), &v, sizeof(T));  // machine (little-endian) order
    return b;
}

template <typename T>
T ReadValue(const TNetBytes &bytes, size_t index) {
    CheckRange(bytes.size(), index, sizeof(T));
    T v;
    std::memcpy(&v, bytes.data() + index, sizeof(T));
    return v;
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The thread that runs static initialisation is the one that started the
// program; record it before main() runs.
const pthread_t GMainThread = pthread_self();

}  // namespace

// ---------------------------------------------------------------------------
TNetBytes ToBytes(std::string_view text, TNetEncoding encoding) {
    if (encoding == TNetEncoding::encNone) ENetException::Toss("No encoding specified.");
    return TNetBytes(text.begin(), text.end());
}
TNetBytes ToBytes(char c) { return TNetBytes{uint8_t(c)}; }
TNetBytes ToBytes(uint8_t b) { return TNetBytes{b}; }
TNetBytes ToBytes(int16_t v) { return ValueBytes(v); }
TNetBytes ToBytes(uint16_t v) { return ValueBytes(v); }
TNetBytes ToBytes(int32_t v) { return ValueBytes(v); }
TNetBytes ToBytes(uint32_t v) { return ValueBytes(v); }
TNetBytes ToBytes(int64_t v) { return ValueBytes(v); }
TNetBytes ToBytes(uint64_t v) { return ValueBytes(v); }

TNetBytes RawToBytes(const void *p, size_t count) {
    if (count == 0) return {};
    const auto *b = static_cast<const uint8_t *>(p);
    return TNetBytes(b, b + count);
}

TNetBytes ByteToBytes(uint8_t b) { return TNetBytes{b}; }

void CopyBytes(const TNetBytes &src, size_t srcIndex, TNetBytes &dst, size_t dstIndex, size_t count) {
    if (count == 0) return;
    CheckRange(src.size(), srcIndex, count);
    CheckRange(dst.size(), dstIndex, count);
    std::memmove(dst.data() + dstIndex, src.data() + srcIndex, count);
}

void WriteLongWordToBytes(uint32_t v, TNetBytes &bytes, size_t index) {
    CheckRange(bytes.size(), index, 4);
    std::memcpy(bytes.data() + index, &v, 4);
}

void WriteWordToBytes(uint16_t v, TNetBytes &bytes, size_t index) {
    CheckRange(bytes.size(), index, 2);
    std::memcpy(bytes.data() + index, &v, 2);
}

uint8_t BytesToByte(const TNetBytes &bytes, size_t index) { return ReadValue<uint8_t>(bytes, index); }
uint16_t BytesToUInt16(const TNetBytes &bytes, size_t index) { return ReadValue<uint16_t>(bytes, index); }
uint32_t BytesToUInt32(const TNetBytes &bytes, size_t index) { return ReadValue<uint32_t>(bytes, index); }
int64_t BytesToInt64(const TNetBytes &bytes, size_t index) { return ReadValue<int64_t>(bytes, index); }

void BytesToIPv6Words(const TNetBytes &bytes, uint16_t (&words)[8], size_t index) {
    CheckRange(bytes.size(), index, 16);
    std::memcpy(words, bytes.data() + index, 16);
}

std::string BytesToStringRange(const TNetBytes &bytes, int start, int length) {
    if (bytes.empty()) {
        if (start != 0) RaiseRange();
        return {};
    }
    if (start < 0 || size_t(start) >= bytes.size()) RaiseRange();
    size_t avail = bytes.size() - size_t(start);
    size_t n = (length < 0 || size_t(length) > avail) ? avail : size_t(length);
    return std::string(reinterpret_cast<const char *>(bytes.data()) + start, n);
}

std::string BytesToString(const TNetBytes &bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string BytesToHexText(const TNetBytes &bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

int FindByte(const TNetBytes &bytes, uint8_t b) {
    auto it = std::find(bytes.begin(), bytes.end(), b);
    return it == bytes.end() ? -1 : int(it - bytes.begin());
}

bool ByteInSet(uint8_t b, const TNetBytes &set) { return FindByte(set, b) >= 0; }

void AppendBytes(TNetBytes &dst, const TNetBytes &src) { dst.insert(dst.end(), src.begin(), src.end()); }

// ---------------------------------------------------------------------------
std::string Fetch(std::string &text, std::string_view delim, bool aDelete, bool caseSensitive) {
    int p = caseSensitive ? Pos(delim, text) : PosText(delim, text);
    if (p == 0) {
        std::string result = text;
        if (aDelete) text.clear();
        return result;
    }
    std::string result = text.substr(0, size_t(p - 1));
    if (aDelete) text.erase(0, size_t(p - 1) + delim.size());
    return result;
}

std::string FetchCaseInsensitive(std::string &text, std::string_view delim, bool aDelete) {
    return Fetch(text, delim, aDelete, false);
}

int PosInStrArray(std::string_view text, const std::vector<std::string> &items, bool caseSensitive) {
    for (size_t i = 0; i < items.size(); ++i) {
        if (caseSensitive ? items[i] == text : TextIsSame(items[i], text)) return int(i);
    }
    return -1;
}

bool TextIsSame(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
    return true;
}

bool TextStartsWith(std::string_view text, std::string_view start) {
    return text.size() >= start.size() && TextIsSame(text.substr(0, start.size()), start);
}

int PosFrom(std::string_view sub, std::string_view text, int start) {
    return Pos(sub, text, start < 1 ? 1 : start);
}

bool CharIsInSet(std::string_view text, int charPos, std::string_view set) {
    if (charPos < 1) ENetException::Toss("Invalid ACharPos in CharIsInSet.");
    if (size_t(charPos) > text.size()) return false;
    return set.find(text[size_t(charPos - 1)]) != std::string_view::npos;
}

bool CharIsInEOL(std::string_view text, int charPos) {
    if (charPos < 1) ENetException::Toss("Invalid ACharPos in CharIsInEOF.");
    if (size_t(charPos) > text.size()) return false;
    char c = text[size_t(charPos - 1)];
    return c == '\r' || c == '\n';
}

bool IsNumeric(std::string_view text) {
    int v;
    return TryStrToInt(text, v);
}

bool IsOctalChar(char c) { return c >= '0' && c <= '7'; }
bool IsHexChar(char c) { return HexValue(c) >= 0; }

bool IsOctalText(std::string_view text) {
    return std::all_of(text.begin(), text.end(), IsOctalChar);
}

bool IsHexText(std::string_view text) {
    return std::all_of(text.begin(), text.end(), IsHexChar);
}

void NetDelete(std::string &text, int index, int count) { Delete(text, index, count); }

void NetSleep(uint32_t milliseconds) {
    timespec ts{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// ---------------------------------------------------------------------------
uint32_t TicksNow() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
    return uint32_t(ms);  // kept to 32 bits; TicksDiff copes with the wrap
}

uint32_t TicksDiff(uint32_t oldTicks, uint32_t newTicks) {
    if (newTicks >= oldTicks) return newTicks - oldTicks;
    return newTicks + (4294967295u - oldTicks);
}

uint64_t CurrentThreadId() { return uint64_t(syscall(SYS_gettid)); }

bool InMainThread() { return pthread_equal(pthread_self(), GMainThread) != 0; }

void SetThreadName(const std::string &name) {
    // The kernel keeps at most 15 characters.
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

// ---------------------------------------------------------------------------
namespace {

// One group of 1 to 4 hexadecimal digits.
bool ParseHexGroup(std::string_view g, uint16_t &out) {
    if (g.empty() || g.size() > 4) return false;
    unsigned v = 0;
    for (char c : g) {
        int h = HexValue(c);
        if (h < 0) return false;
        v = v * 16 + unsigned(h);
    }
    out = uint16_t(v);
    return true;
}

// Four decimal numbers 0..255 joined by "." as two groups.
bool ParseIPv4Tail(std::string_view t, uint16_t &hi, uint16_t &lo) {
    unsigned n[4];
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        size_t end = (i < 3) ? t.find('.', start) : t.size();
        if (end == std::string_view::npos) return false;
        std::string_view part = t.substr(start, end - start);
        if (part.empty() || part.size() > 3) return false;
        unsigned v = 0;
        for (char c : part) {
            if (c < '0' || c > '9') return false;
            v = v * 10 + unsigned(c - '0');
        }
        if (v > 255) return false;
        n[i] = v;
        start = end + 1;
    }
    hi = uint16_t(n[0] << 8 | n[1]);
    lo = uint16_t(n[2] << 8 | n[3]);
    return true;
}

// Groups of a colon-separated run (no "::" inside); the last one may be an
// IPv4 tail when allowTail is set.
bool ParseGroups(std::string_view s, bool allowTail, std::vector<uint16_t> &out, bool &hadTail) {
    if (s.empty()) return true;
    size_t start = 0;
    while (true) {
        size_t end = s.find(':', start);
        std::string_view g = s.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        bool last = end == std::string_view::npos;
        if (g.find('.') != std::string_view::npos) {
            uint16_t hi, lo;
            if (!last || !allowTail || !ParseIPv4Tail(g, hi, lo)) return false;
            out.push_back(hi);
            out.push_back(lo);
            hadTail = true;
        } else {
            uint16_t v;
            if (!ParseHexGroup(g, v)) return false;
            out.push_back(v);
        }
        if (last) return true;
        start = end + 1;
    }
}

bool ParseIPv6(std::string_view text, uint16_t (&words)[8], bool &hadTail) {
    hadTail = false;
    if (text.empty() || text.size() > 45) return false;
    for (char c : text)
        if (!(IsHexChar(c) || c == ':' || c == '.')) return false;
    std::string s(text);
    // A lone leading or trailing colon stands for a zero group.
    if (s.size() >= 2 && s[0] == ':' && s[1] != ':') s.insert(s.begin(), '0');
    if (s.size() >= 2 && s.back() == ':' && s[s.size() - 2] != ':') s += '0';
    if (s == ":") return false;

    size_t dbl = s.find("::");
    std::vector<uint16_t> head, tail;
    if (dbl == std::string::npos) {
        if (!ParseGroups(s, true, head, hadTail)) return false;
        if (head.size() != 8) return false;
    } else {
        if (s.find("::", dbl + 1) != std::string::npos) return false;  // second "::" (or ":::")
        std::string_view h = std::string_view(s).substr(0, dbl);
        std::string_view t = std::string_view(s).substr(dbl + 2);
        if (!ParseGroups(h, false, head, hadTail)) return false;
        if (!ParseGroups(t, true, tail, hadTail)) return false;
        // "::" stands for at least one zero group.
        if (head.size() + tail.size() > 7) return false;
        head.resize(8 - tail.size(), 0);
        head.insert(head.end(), tail.begin(), tail.end());
    }
    std::copy(head.begin(), head.end(), words);
    return true;
}

}  // namespace

std::string CanonicalIPv6Text(std::string_view text) {
    uint16_t w[8];
    bool hadTail;
    if (!ParseIPv6(text, w, hadTail)) return {};
    std::string result;
    for (int i = 0; i < 8; ++i) {
        if (i) result += ':';
        // The two groups of an IPv4 tail keep two digits per number.
        if (hadTail && i >= 6)
            result += Format("%.2X%.2X", unsigned(w[i] >> 8), unsigned(w[i] & 0xFF));
        else
            result += Format("%X", unsigned(w[i]));
    }
    return result;
}

void ParseIPv6Words(std::string_view text, uint16_t (&words)[8]) {
    bool hadTail;
    if (!ParseIPv6(text, words, hadTail))
        ENetInvalidIPv6Address::Toss(Format("%s is not a valid IPv6 address", std::string(text).c_str()));
}

std::string IPv6WordsToText(const uint16_t (&words)[8]) {
    std::string result;
    for (int i = 0; i < 8; ++i) {
        if (i) result += ':';
        result += Format("%.4X", unsigned(words[i]));
    }
    return result;
}

// ---------------------------------------------------------------------------
int64_t TNetStreamHelper::ReadBytes(TStream &stream, TNetBytes &bytes, int64_t count, size_t offset) {
    int64_t remain = stream.Size() - stream.Position();
    if (remain < 0) remain = 0;
    if (count < 0 || count > remain) count = remain;
    if (count == 0) return 0;
    if (bytes.size() < offset + size_t(count)) bytes.resize(offset + size_t(count));
    int64_t got = stream.Read(bytes.data() + offset, count);
    if (got < count) bytes.resize(offset + size_t(got < 0 ? 0 : got));
    return got;
}

int64_t TNetStreamHelper::WriteBytes(TStream &stream, const TNetBytes &bytes, int64_t count) {
    if (count < 0 || size_t(count) > bytes.size()) count = int64_t(bytes.size());
    if (count == 0) return 0;
    return stream.Write(bytes.data(), count);
}

std::string ReadStringFromStream(TStream &stream, int64_t count) {
    TNetBytes b;
    TNetStreamHelper::ReadBytes(stream, b, count);
    return BytesToString(b);
}

void WriteStringToStream(TStream &stream, std::string_view text) {
    if (text.empty()) return;
    stream.WriteBuffer(text.data(), int64_t(text.size()));
}

int64_t ReadInt64FromStream(TStream &stream) {
    int64_t v = 0;
    stream.ReadBuffer(&v, sizeof v);
    return v;
}

std::string ReadLnFromStream(TStream &stream, int maxLength, bool raiseAtEnd) {
    size_t maxLen = maxLength < 0 ? size_t(NetMaxInt32) : size_t(maxLength);
    int64_t start = stream.Position();
    int64_t size = stream.Size();
    if (start >= size) {
        if (raiseAtEnd)
            ENetEndOfStream::Toss(Format("End of stream: Class %s at %lld", stream.ClassName(),
                                         static_cast<long long>(start)));
        return {};
    }
    std::string line;
    char buf[2048];
    int64_t pos = start;
    while (pos < size) {
        int64_t n = stream.Read(buf, std::min<int64_t>(sizeof buf, size - pos));
        if (n <= 0) break;
        for (int64_t i = 0; i < n; ++i) {
            char c = buf[i];
            if (c == '\n') {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                stream.SetPosition(pos + i + 1);
                return line;
            }
            if (line.size() >= maxLen) {
                stream.SetPosition(pos + i);
                return line;
            }
            line += c;
        }
        pos += n;
    }
    // The data ended without LF: the rest is the last line.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    stream.SetPosition(pos);
    return line;
}
