#include "ZipFormat.h"

#include <algorithm>

std::string ZipSlashes(std::string s, char from, char to) {
    std::replace(s.begin(), s.end(), from, to);
    return s;
}

time_t DosDateTimeToUnix(uint16_t date, uint16_t time) {
    struct tm tm {};
    tm.tm_year = ((date >> 9) & 0x7F) + 80;
    tm.tm_mon = std::max(((date >> 5) & 0x0F) - 1, 0);
    tm.tm_mday = std::max(date & 0x1F, 1);
    tm.tm_hour = (time >> 11) & 0x1F;
    tm.tm_min = (time >> 5) & 0x3F;
    tm.tm_sec = (time & 0x1F) * 2;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

std::recursive_mutex &ZipOperationLock() {
    static std::recursive_mutex lock;
    return lock;
}
