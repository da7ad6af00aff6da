// System wrappers of the suite: English date texts independent of the user's
// locale, the local offset from UTC, and thin wrappers over the runtime.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "NetGlobal.h"

// The fixed US-English format record used for every date text of the mail
// protocols.
struct TNetFormatSettings {
    int CurrencyFormat = 0;
    int NegCurrFormat = 0;
    char ThousandSeparator = ',';
    char DecimalSeparator = '.';
    int CurrencyDecimals = 2;
    char DateSeparator = '/';
    char TimeSeparator = ':';
    char ListSeparator = ',';
    std::string CurrencyString = "$";
    std::string ShortDateFormat = "M/d/yyyy";
    std::string LongDateFormat = "dddd, MMMM dd, yyyy";
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
    std::string ShortTimeFormat = "h:mm AMPM";
    std::string LongTimeFormat = "h:mm:ss AMPM";
    const char *ShortMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char *LongMonthNames[12] = {"January", "February", "March",     "April",
                                      "May",     "June",     "July",      "August",
                                      "September", "October", "November", "December"};
    const char *ShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const char *LongDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                   "Thursday", "Friday", "Saturday"};
};
extern const TNetFormatSettings GNetFormatSettingsUS;

// Mail-date names, Sunday and January first.
extern const char *const wdays[7];
extern const char *const monthnames[12];

class TNetSys {
public:
    // Formats with the runtime's tokens (yyyy mm dd hh nn ss ...) and English names.
    static std::string FormatDateTimeUS(std::string_view fmt, TDateTime dt);
    // "Tue, 2 Mar 2004 13:05:09 +0100"; "GMT" as the zone when the local offset
    // is 0 and gmtForZero is set.
    static std::string DateTimeToInternetText(TDateTime dt, bool gmtForZero = false);
    // The same with a given offset (fraction of a day, east positive).
    static std::string DateTimeToInternetText(TDateTime dt, double offset, bool gmtForZero);
    // "+0200", "-0530", or "GMT" for 0 with gmtForZero.
    static std::string OffsetToText(double offset, bool gmtForZero);

    static bool FileExists(const std::string &p) { return ::FileExists(p); }
    static bool DirectoryExists(const std::string &p) { return ::DirectoryExists(p); }
    static bool DeleteFile(const std::string &p) { return ::DeleteFile(p); }
    static std::string ExtractFileName(std::string_view p) { return ::ExtractFileName(p); }
    static std::string IncludeTrailingPathDelimiter(std::string_view p) { return ::IncludeTrailingPathDelimiter(p); }
    static std::string ExcludeTrailingPathDelimiter(std::string_view p) { return ::ExcludeTrailingPathDelimiter(p); }
    template <typename T>
    static void FreeAndNil(T *&p) {
        T *tmp = p;
        p = nullptr;
        delete tmp;
    }
    static std::string IntToStr(int64_t v) { return ::IntToStr(v); }
    static std::string IntToHex(uint64_t v, int digits) { return ::IntToHex(v, digits); }
    static std::string Int64ToStr(int64_t v) { return ::IntToStr(v); }
    static std::string Int64ToHex(uint64_t v, int digits) { return ::IntToHex(v, digits > 32 ? 32 : digits); }
    static int StrToInt(std::string_view s) { return ::StrToInt(::Trim(s)); }
    static int StrToIntDef(std::string_view s, int def) { return ::StrToIntDef(::Trim(s), def); }
    static int64_t StrToInt64(std::string_view s) { return ::StrToInt64(::Trim(s)); }
    static int64_t StrToInt64Def(std::string_view s, int64_t def) { return ::StrToInt64Def(::Trim(s), def); }
    static std::string StringReplace(std::string_view s, std::string_view from, std::string_view to) {
        return ::StringReplaceAll(s, from, to);
    }
    static std::string Trim(std::string_view s) { return ::Trim(s); }
    static std::string TrimLeft(std::string_view s) { return ::TrimLeft(s); }
    static std::string TrimRight(std::string_view s) { return ::TrimRight(s); }
    static std::string UpperCase(std::string_view s) { return ::UpperCase(s); }
    static std::string LowerCase(std::string_view s) { return ::LowerCase(s); }
    static TDateTime Now() { return ::Now(); }
    static TDateTime EncodeTime(int h, int m, int s, int ms) { return ::EncodeTime(h, m, s, ms); }
    static TDateTime EncodeDate(int y, int m, int d) { return ::EncodeDate(y, m, d); }
    static void DecodeDate(TDateTime d, int &y, int &m, int &day) { ::DecodeDate(d, y, m, day); }
    static void DecodeTime(TDateTime d, int &h, int &m, int &s, int &ms) { ::DecodeTime(d, h, m, s, ms); }
    static int DayOfWeek(TDateTime d) { return ::DayOfWeek(d); }
    static int LastDelimiter(std::string_view delims, std::string_view s);
};

class TNetSysWin32 {
public:
    // The local offset from UTC as a fraction of a day, east positive.
    static double OffsetFromUTC();
};
