#include "ZipCrypto.h"

#include <zlib.h>

uint32_t ZipCrc32Byte(uint32_t crc, uint8_t b) {
    static const z_crc_t *table = get_crc_table();
    return uint32_t(table[(crc ^ b) & 0xFF]) ^ (crc >> 8);
}

TZipCryptKeys::TZipCryptKeys(const std::string &password) {
    FKeys[0] = 0x12345678;
    FKeys[1] = 0x23456789;
    FKeys[2] = 0x34567890;
    for (unsigned char c : password) Update(c);
}

void TZipCryptKeys::Update(uint8_t c) {
    FKeys[0] = ZipCrc32Byte(FKeys[0], c);
    FKeys[1] = (FKeys[1] + (FKeys[0] & 0xFF)) * 134775813u + 1;
    FKeys[2] = ZipCrc32Byte(FKeys[2], uint8_t(FKeys[1] >> 24));
}
