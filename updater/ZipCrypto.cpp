#include "ZipCrypto.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>
#include <zlib.h>

#include "SysUtils.h"

void ZipRandomBytes(uint8_t *out, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t r = ::getrandom(out + done, count - done, 0);
        if (r > 0) {
            done += size_t(r);
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        break;
    }
    if (done == count) return;
    // A kernel without getrandom still has the device.
    int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    while (fd >= 0 && done < count) {
        ssize_t r = ::read(fd, out + done, count - done);
        if (r > 0) done += size_t(r);
        else if (!(r < 0 && errno == EINTR)) break;
    }
    if (fd >= 0) ::close(fd);
    if (done != count) throw Exception("The system's random source cannot be read");
}

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
