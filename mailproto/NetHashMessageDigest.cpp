#include "NetHashMessageDigest.h"

#include <cstring>
#include <vector>

#include "SysUtils.h"

namespace {

inline uint32_t Rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline void LoadWords(const uint8_t *block, uint32_t (&x)[16]) {
    for (int i = 0; i < 16; ++i)
        x[i] = uint32_t(block[4 * i]) | uint32_t(block[4 * i + 1]) << 8 | uint32_t(block[4 * i + 2]) << 16 |
               uint32_t(block[4 * i + 3]) << 24;
}

// MD5's additive constants: the integer part of 2^32 * |sin(i + 1)|.
constexpr uint32_t kMD5T[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kMD5S[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

constexpr int kMD4Order2[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
constexpr int kMD4Order3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
constexpr int kMD4S[3][4] = {{3, 7, 11, 19}, {3, 5, 9, 13}, {3, 9, 11, 15}};

}  // namespace

std::string TNetHash128::AsHex(const TNetHash128Value &value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(32);
    for (uint8_t b : value) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

void TNetHashMessageDigest4::Start() {
    FState[0] = 0x67452301;
    FState[1] = 0xefcdab89;
    FState[2] = 0x98badcfe;
    FState[3] = 0x10325476;
    FLength = 0;
    FFill = 0;
}

void TNetHashMessageDigest4::Feed(const uint8_t *data, size_t len) {
    FLength += len;
    while (len > 0) {
        size_t take = std::min(len, sizeof FBlock - FFill);
        std::memcpy(FBlock + FFill, data, take);
        FFill += take;
        data += take;
        len -= take;
        if (FFill == sizeof FBlock) {
            ProcessBlock();
            FFill = 0;
        }
    }
}

TNetHash128Value TNetHashMessageDigest4::Finish() {
    // A single 1 bit, zeros up to 56 bytes into a block, then the message
    // length in bits as a little-endian 64-bit number.
    uint64_t bits = FLength * 8;
    uint8_t pad[72] = {0x80};
    size_t padLen = (FFill < 56 ? 56 - FFill : 120 - FFill);
    for (int i = 0; i < 8; ++i) pad[padLen + size_t(i)] = uint8_t(bits >> (8 * i));
    uint64_t keep = FLength;
    Feed(pad, padLen + 8);
    FLength = keep;
    TNetHash128Value out;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out[size_t(4 * i + j)] = uint8_t(FState[i] >> (8 * j));
    return out;
}

TNetHash128Value TNetHashMessageDigest4::HashValue(TStream &stream) {
    Start();
    std::vector<uint8_t> buf(size_t(64) * 1024);
    for (;;) {
        int64_t got = stream.Read(buf.data(), int64_t(buf.size()));
        if (got <= 0) break;
        Feed(buf.data(), size_t(got));
    }
    return Finish();
}

TNetHash128Value TNetHashMessageDigest4::HashValue(std::string_view text) {
    TMemoryStream stream;
    if (!text.empty()) stream.Write(text.data(), int64_t(text.size()));
    stream.SetPosition(0);
    return HashValue(stream);
}

TNetHash128Value TNetHashMessageDigest4::HashBuffer(const void *data, size_t len) {
    Start();
    Feed(static_cast<const uint8_t *>(data), len);
    return Finish();
}

void TNetHashMessageDigest4::ProcessBlock() {
    uint32_t x[16];
    LoadWords(FBlock, x);
    uint32_t r[4] = {FState[0], FState[1], FState[2], FState[3]};
    // Each step updates one register and the roles rotate (abcd, dabc, cdab,
    // bcda); r[(16 - i) % 4] is the register step i writes.
    for (int i = 0; i < 16; ++i) {
        uint32_t &a = r[(16 - i) % 4];
        uint32_t b = r[(17 - i) % 4], c = r[(18 - i) % 4], d = r[(19 - i) % 4];
        a = Rotl(a + ((b & c) | (~b & d)) + x[i], kMD4S[0][i % 4]);
    }
    for (int i = 0; i < 16; ++i) {
        uint32_t &a = r[(16 - i) % 4];
        uint32_t b = r[(17 - i) % 4], c = r[(18 - i) % 4], d = r[(19 - i) % 4];
        a = Rotl(a + ((b & c) | (b & d) | (c & d)) + x[kMD4Order2[i]] + 0x5a827999u, kMD4S[1][i % 4]);
    }
    for (int i = 0; i < 16; ++i) {
        uint32_t &a = r[(16 - i) % 4];
        uint32_t b = r[(17 - i) % 4], c = r[(18 - i) % 4], d = r[(19 - i) % 4];
        a = Rotl(a + (b ^ c ^ d) + x[kMD4Order3[i]] + 0x6ed9eba1u, kMD4S[2][i % 4]);
    }
    for (int i = 0; i < 4; ++i) FState[i] += r[i];
}

void TNetHashMessageDigest5::ProcessBlock() {
    uint32_t x[16];
    LoadWords(FBlock, x);
    uint32_t a = FState[0], b = FState[1], c = FState[2], d = FState[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int k;
        switch (i / 16) {
        case 0:
            f = (b & c) | (~b & d);
            k = i;
            break;
        case 1:
            f = (b & d) | (c & ~d);
            k = (5 * i + 1) % 16;
            break;
        case 2:
            f = b ^ c ^ d;
            k = (3 * i + 5) % 16;
            break;
        default:
            f = c ^ (b | ~d);
            k = (7 * i) % 16;
            break;
        }
        uint32_t next = b + Rotl(a + f + x[k] + kMD5T[i], kMD5S[i / 16][i % 4]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    FState[0] += a;
    FState[1] += b;
    FState[2] += c;
    FState[3] += d;
}

TNetHash128Value NetMD4(std::string_view data) {
    TNetHashMessageDigest4 h;
    return h.HashBuffer(data.data(), data.size());
}

TNetHash128Value NetMD5(std::string_view data) {
    TNetHashMessageDigest5 h;
    return h.HashBuffer(data.data(), data.size());
}

TNetHash128Value NetHMACMD5(std::string_view key, std::string_view data) {
    uint8_t k[64] = {};
    if (key.size() > sizeof k) {
        TNetHash128Value kd = NetMD5(key);
        std::memcpy(k, kd.data(), kd.size());
    } else if (!key.empty()) {
        std::memcpy(k, key.data(), key.size());
    }
    std::string inner(64, '\0'), outer(64, '\0');
    for (int i = 0; i < 64; ++i) {
        inner[size_t(i)] = char(k[i] ^ 0x36);
        outer[size_t(i)] = char(k[i] ^ 0x5c);
    }
    inner.append(data);
    TNetHash128Value innerDigest = NetMD5(inner);
    outer.append(reinterpret_cast<const char *>(innerDigest.data()), innerDigest.size());
    TNetHash128Value result = NetMD5(outer);
    // The padded key copies hold the password of a CRAM-MD5 log-in.
    explicit_bzero(inner.data(), 64);
    explicit_bzero(outer.data(), 64);
    explicit_bzero(k, sizeof k);
    return result;
}

std::string NetHashToLowerHex(const TNetHash128Value &value) { return LowerCase(TNetHash128::AsHex(value)); }
