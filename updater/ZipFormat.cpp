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

void UnixToDosDateTime(time_t t, uint16_t &date, uint16_t &time) {
    struct tm tm {};
    if (!localtime_r(&t, &tm) || tm.tm_year < 80) {
        date = uint16_t((1 << 5) | 1);  // 1 January 1980
        time = 0;
        return;
    }
    if (tm.tm_year > 207) {
        date = uint16_t((127 << 9) | (12 << 5) | 31);
        time = uint16_t((23 << 11) | (59 << 5) | 29);
        return;
    }
    date = uint16_t(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    time = uint16_t((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

std::recursive_mutex &ZipOperationLock() {
    static std::recursive_mutex lock;
    return lock;
}
