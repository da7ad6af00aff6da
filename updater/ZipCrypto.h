// The traditional PKWARE encryption of zip entries: three 32-bit keys
// stirred with CRC-32 steps. Weak by today's measure, but it is what the
// archives use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TZipCryptKeys {
public:
    explicit TZipCryptKeys(const std::string &password);
    uint8_t DecodeByte(uint8_t c) {
        c ^= StreamByte();
        Update(c);
        return c;
    }
    uint8_t EncodeByte(uint8_t p) {
        uint8_t t = StreamByte();
        Update(p);
        return p ^ t;
    }
    void Decode(uint8_t *data, size_t count) {
        for (size_t i = 0; i < count; ++i) data[i] = DecodeByte(data[i]);
    }
    void Encode(uint8_t *data, size_t count) {
        for (size_t i = 0; i < count; ++i) data[i] = EncodeByte(data[i]);
    }

private:
    uint8_t StreamByte() const {
        uint32_t t = (FKeys[2] | 2) & 0xFFFF;
        return uint8_t((t * (t ^ 1)) >> 8);
    }
    void Update(uint8_t c);
    uint32_t FKeys[3];
};

// Bytes from the system's random source, for the encryption header of each
// entry: what an attacker could guess there weakens the cipher further.
void ZipRandomBytes(uint8_t *out, size_t count);

// One CRC-32 step over a byte (the register is not inverted).
uint32_t ZipCrc32Byte(uint32_t crc, uint8_t b);
