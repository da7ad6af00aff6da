// The small support classes: the thread counter and the IP address object.
#include "NetIPAddress.h"
#include "NetThreadSafe.h"

TNetThreadSafeInteger &GNetThreadCount() {
    static TNetThreadSafeInteger counter;
    return counter;
}

namespace {
// One IPv4 part: decimal, octal ("0" first) or hexadecimal ("0x" first).
bool ParseIPv4Part(const std::string &p, uint64_t &out) {
    if (p.empty() || p.size() > 12) return false;
    uint64_t v = 0;
    if (p.size() > 2 && (p[1] == 'x' || p[1] == 'X') && p[0] == '0') {
        for (size_t i = 2; i < p.size(); ++i) {
            char c = p[i];
            int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                    : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
            if (d < 0) return false;
            v = v * 16 + uint64_t(d);
        }
    } else if (p.size() > 1 && p[0] == '0') {
        for (char c : p) {
            if (c < '0' || c > '7') return false;
            v = v * 8 + uint64_t(c - '0');
        }
    } else {
        for (char c : p) {
            if (c < '0' || c > '9') return false;
            v = v * 10 + uint64_t(c - '0');
        }
    }
    out = v;
    return true;
}

bool ParseIPv4(const std::string &text, uint32_t &out) {
    std::vector<uint64_t> parts;
    std::string s = text;
    if (s.empty() || s.back() == '.') return false;
    while (!s.empty()) {
        if (parts.size() == 4) return false;
        uint64_t v;
        if (!ParseIPv4Part(Fetch(s, "."), v)) return false;
        parts.push_back(v);
    }
    if (parts.empty()) return false;
    uint32_t r = 0;
    size_t n = parts.size();
    for (size_t i = 0; i + 1 < n; ++i) r |= uint32_t(parts[i] & 0xFF) << (24 - 8 * i);
    // The last part fills the bytes that remain, masked to them.
    int restBits = 8 * int(5 - n);
    uint64_t mask = restBits >= 32 ? 0xFFFFFFFFull : ((1ull << restBits) - 1);
    r |= uint32_t(parts[n - 1] & mask);
    out = r;
    return true;
}
}  // namespace

std::unique_ptr<TNetIPAddress> TNetIPAddress::MakeAddressObject(const std::string &text) {
    if (Pos(":", text) > 0) return MakeAddressObject(text, Net_IPv6);
    return MakeAddressObject(text, Net_IPv4);
}

std::unique_ptr<TNetIPAddress> TNetIPAddress::MakeAddressObject(const std::string &text, TNetIPVersion version) {
    auto a = std::make_unique<TNetIPAddress>();
    a->AddrType = version;
    if (version == Net_IPv6) {
        if (CanonicalIPv6Text(text).empty()) return nullptr;
        ParseIPv6Words(text, a->IPv6);
        return a;
    }
    if (!ParseIPv4(text, a->IPv4)) return nullptr;
    return a;
}

std::string TNetIPAddress::IPv4AsString() const {
    return Format("%u.%u.%u.%u", IPv4 >> 24, (IPv4 >> 16) & 0xFF, (IPv4 >> 8) & 0xFF, IPv4 & 0xFF);
}

std::string TNetIPAddress::IPv6AsString() const { return IPv6WordsToText(IPv6); }
