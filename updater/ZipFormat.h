// Record layouts of the zip format shared by the reading and writing sides:
// signatures, little-endian fields, DOS dates, and the process-wide lock
// under which archivers process entries.
#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

constexpr uint32_t SigLocal = 0x04034B50;
constexpr uint32_t SigCentral = 0x02014B50;
constexpr uint32_t SigEnd = 0x06054B50;
constexpr uint32_t SigZip64End = 0x06064B50;
constexpr uint32_t SigZip64Locator = 0x07064B50;
constexpr uint32_t SigDescriptor = 0x08074B50;
// The end record and the longest comment fit in this window at the file end.
constexpr int64_t EndSearchWindow = 65600;

inline uint16_t Get16(const uint8_t *p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const uint8_t *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t *p) { return uint64_t(Get32(p)) | (uint64_t(Get32(p + 4)) << 32); }
inline void Put16(uint8_t *p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void Put32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void Put64(uint8_t *p, uint64_t v) {
    Put32(p, uint32_t(v));
    Put32(p + 4, uint32_t(v >> 32));
}

// The text with every "from" separator turned into "to".
std::string ZipSlashes(std::string s, char from, char to);
// A DOS date and time (local time) as a Unix time.
time_t DosDateTimeToUnix(uint16_t date, uint16_t time);
// A Unix time as a DOS date and time (local time, two-second steps); times
// outside 1980-2107 are held at the nearest end of that range.
void UnixToDosDateTime(time_t t, uint16_t &date, uint16_t &time);

// Only one archiver in the process processes entries at a time. Recursive,
// because the default questions are modal and timers that fire inside them
// may run another operation on the same thread.
std::recursive_mutex &ZipOperationLock();
