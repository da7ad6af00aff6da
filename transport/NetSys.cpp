#include "NetSys.h"

#include <cmath>

const TNetFormatSettings GNetFormatSettingsUS{};

const char *const wdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char *const monthnames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string TNetSys::FormatDateTimeUS(std::string_view fmt, TDateTime dt) {
    return ::FormatDateTime(fmt, dt);
}

std::string TNetSys::OffsetToText(double offset, bool gmtForZero) {
    // Whole minutes first, so that west of UTC and half-hour zones come out
    // right ("-0530", never "--05-30" or "+0059").
    long minutes = std::lround(offset * 1440.0);
    if (minutes == 0 && gmtForZero) return "GMT";
    long a = minutes < 0 ? -minutes : minutes;
    return Format("%c%.2ld%.2ld", minutes < 0 ? '-' : '+', a / 60, a % 60);
}

std::string TNetSys::DateTimeToInternetText(TDateTime dt, double offset, bool gmtForZero) {
    int y, m, d, hh, nn, ss, ms;
    ::DecodeDate(dt, y, m, d);
    ::DecodeTime(dt, hh, nn, ss, ms);
    return Format("%s, %d %s %d %s %s", wdays[::DayOfWeek(dt) - 1], d, monthnames[m - 1], y,
                  Format("%.2d:%.2d:%.2d", hh, nn, ss).c_str(), OffsetToText(offset, gmtForZero).c_str());
}

std::string TNetSys::DateTimeToInternetText(TDateTime dt, bool gmtForZero) {
    return DateTimeToInternetText(dt, TNetSysWin32::OffsetFromUTC(), gmtForZero);
}

int TNetSys::LastDelimiter(std::string_view delims, std::string_view s) {
    for (size_t i = s.size(); i > 0; --i)
        if (delims.find(s[i - 1]) != std::string_view::npos) return int(i);
    return 0;
}

double TNetSysWin32::OffsetFromUTC() { return double(LocalUtcOffsetMinutes()) / 1440.0; }
