// MD4 (RFC 1320) and MD5 (RFC 1321) message digests, and HMAC-MD5
// (RFC 2104) for challenge-response log-ins. APOP digests the greeting's
// timestamp and the password with MD5; CRAM-MD5 keys HMAC-MD5 with the
// password.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "Classes.h"

// 16 digest bytes in the standard order.
using TNetHash128Value = std::array<uint8_t, 16>;

class TNetHash {
public:
    virtual ~TNetHash() = default;
    virtual const char *ClassName() const { return "TNetHash"; }
};

class TNetHash128 : public TNetHash {
public:
    const char *ClassName() const override { return "TNetHash128"; }
    // Two upper-case hexadecimal digits per byte, in byte order.
    static std::string AsHex(const TNetHash128Value &value);
};

class TNetHashMessageDigest : public TNetHash128 {
public:
    const char *ClassName() const override { return "TNetHashMessageDigest"; }
};

class TNetHashMessageDigest4 : public TNetHashMessageDigest {
public:
    const char *ClassName() const override { return "TNetHashMessageDigest4"; }
    // Digest of the bytes from the stream's position to its end.
    virtual TNetHash128Value HashValue(TStream &stream);
    // Digest of a text's bytes (through a rewound memory stream).
    TNetHash128Value HashValue(std::string_view text);
    // Digest of a buffer, without a stream in between.
    TNetHash128Value HashBuffer(const void *data, size_t len);

protected:
    // Runs the compression function over FBlock into FState.
    virtual void ProcessBlock();
    uint32_t FState[4] = {};
    uint8_t FBlock[64] = {};

private:
    void Start();
    void Feed(const uint8_t *data, size_t len);
    TNetHash128Value Finish();
    uint64_t FLength = 0;  // bytes fed so far
    size_t FFill = 0;      // bytes waiting in FBlock
};

class TNetHashMessageDigest5 : public TNetHashMessageDigest4 {
public:
    const char *ClassName() const override { return "TNetHashMessageDigest5"; }

protected:
    void ProcessBlock() override;
};

// Convenience forms used by the log-ins.
TNetHash128Value NetMD4(std::string_view data);
TNetHash128Value NetMD5(std::string_view data);
// HMAC-MD5 of data under key (keys longer than 64 bytes are digested first).
TNetHash128Value NetHMACMD5(std::string_view key, std::string_view data);
// Lower-case hexadecimal, as APOP and CRAM-MD5 send it.
std::string NetHashToLowerHex(const TNetHash128Value &value);
