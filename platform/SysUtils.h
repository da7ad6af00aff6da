// The runtime routines the program is written against: exceptions, 1-based
// text positions, conversions, paths, files and dates. Program strings are
// std::string holding UTF-8.
#pragma once

#include <cstdint>
#include <ctime>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Base of every exception the program raises itself. Message() is the text a
// user may see.
class Exception : public std::exception {
public:
    explicit Exception(std::string msg) : FMessage(std::move(msg)) {}
    const char *what() const noexcept override { return FMessage.c_str(); }
    const std::string &Message() const { return FMessage; }
    void SetMessage(std::string msg) { FMessage = std::move(msg); }
    // The class name as the program shows it in reports ("EConvertError").
    virtual const char *ClassName() const { return "Exception"; }

private:
    std::string FMessage;
};

#define TW_EXCEPTION_CLASS(Name, Base)                                  \
    class Name : public Base {                                          \
    public:                                                             \
        using Base::Base;                                               \
        const char *ClassName() const override { return #Name; }        \
    }

TW_EXCEPTION_CLASS(EConvertError, Exception);
TW_EXCEPTION_CLASS(EInOutError, Exception);
TW_EXCEPTION_CLASS(EStreamError, Exception);
TW_EXCEPTION_CLASS(EFOpenError, EStreamError);
TW_EXCEPTION_CLASS(EFCreateError, EStreamError);
TW_EXCEPTION_CLASS(EReadError, EStreamError);
TW_EXCEPTION_CLASS(EWriteError, EStreamError);
TW_EXCEPTION_CLASS(EListError, Exception);

// ---------------------------------------------------------------------------
// Positions. Every position in the program is 1-based, 0 meaning "not found".
// An empty needle is never found: std::string::find("") would report a match
// at every position and make every "contains" test true.

// First position of sub in s at or after start (start below 1 counts as 1).
int Pos(std::string_view sub, std::string_view s, int start = 1);
// Last position of sub in s, 0 when absent or sub is empty.
int LastPos(std::string_view sub, std::string_view s);
// True when s holds sub; never true for an empty sub.
bool Contains(std::string_view s, std::string_view sub);
// The same without regard to ASCII case.
int PosText(std::string_view sub, std::string_view s, int start = 1);
bool ContainsText(std::string_view s, std::string_view sub);

// Copy(s, index, count): count characters from the 1-based index, clamped.
std::string Copy(std::string_view s, int index, int count = INT32_MAX);
// Delete(s, index, count): removes count characters from the 1-based index.
void Delete(std::string &s, int index, int count);
// Insert(sub, s, index): inserts before the 1-based index (clamped).
void Insert(std::string_view sub, std::string &s, int index);

// ---------------------------------------------------------------------------
// Text.
std::string Trim(std::string_view s);       // drops bytes <= ' ' at both ends
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
std::string UpperCase(std::string_view s);  // ASCII only
std::string LowerCase(std::string_view s);  // ASCII only
bool SameText(std::string_view a, std::string_view b);
int CompareText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view s);
bool EndsText(std::string_view suffix, std::string_view s);
std::string StringReplaceAll(std::string_view s, std::string_view from, std::string_view to,
                             bool ignoreCase = false);

std::string IntToStr(int64_t v);
std::string IntToHex(uint64_t v, int digits);
// Trimmed decimal (or "$"/"0x" hexadecimal) integer; EConvertError
// "'text' is not a valid integer value" on anything else or on overflow.
int StrToInt(std::string_view s);
int64_t StrToInt64(std::string_view s);
int StrToIntDef(std::string_view s, int def);
int64_t StrToInt64Def(std::string_view s, int64_t def);
bool TryStrToInt(std::string_view s, int &out);
bool TryStrToInt64(std::string_view s, int64_t &out);

// printf-style formatting into a std::string.
std::string Format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// ---------------------------------------------------------------------------
// Paths. Built with "/"; PathDelim is the separator of this platform.
constexpr char PathDelim = '/';
std::string IncludeTrailingPathDelimiter(std::string_view p);
std::string ExcludeTrailingPathDelimiter(std::string_view p);
std::string ExtractFilePath(std::string_view p);   // with the trailing "/"
std::string ExtractFileDir(std::string_view p);    // without it
std::string ExtractFileName(std::string_view p);
std::string ExtractFileExt(std::string_view p);    // with the "."
std::string ChangeFileExt(std::string_view p, std::string_view ext);
// The folder of the running executable, with a trailing "/".
std::string ApplicationFolder();
std::string ApplicationExeName();

// ---------------------------------------------------------------------------
// Files.
// File attribute bits as the original platform kept them: directory scans
// report them, and zip archives made there carry them.
constexpr int faReadOnly = 0x01, faHidden = 0x02, faSysFile = 0x04, faVolumeID = 0x08, faDirectory = 0x10,
              faArchive = 0x20;
bool FileExists(const std::string &path);       // a regular file (or link to one)
bool DirectoryExists(const std::string &path);
bool ForceDirectories(const std::string &path);
bool DeleteFile(const std::string &path);
bool RenameFile(const std::string &from, const std::string &to);
bool RemoveDir(const std::string &path);
int64_t FileSize(const std::string &path);      // -1 when absent
// Whole-file helpers; ReadFileToString raises EFOpenError when it cannot open.
std::string ReadFileToString(const std::string &path);
// Appends the rest of an open descriptor to out; false (out then partly
// filled) as soon as it holds more than limit bytes. Raises EReadError naming
// path. The descriptor stays open.
bool ReadDescriptorToString(int fd, const std::string &path, std::string &out,
                            int64_t limit = INT64_MAX);

// Appends the UTF-8 bytes of one Unicode code point.
void AppendUtf8(std::string &out, uint32_t codePoint);
// Writes the file through a temporary beside it, flushed and renamed over the
// target, so a crash never leaves a truncated file. mode applies to a new file;
// an existing file keeps its mode, except that a private mode (no bits for
// group and others) takes those bits away from it.
void WriteFileAtomic(const std::string &path, std::string_view data, unsigned mode = 0644);

// Names of the directory's entries ("." and ".." excluded) sorted without
// regard to case, so every "directory order" in the program is deterministic.
std::vector<std::string> ListDirectory(const std::string &folder, bool files = true,
                                       bool folders = true);
// Matches a name against a mask of "*" and "?" without regard to case.
bool MatchesMask(std::string_view name, std::string_view mask);

// Files written on the original platform came in any letter case. Returns the
// path itself when it exists; otherwise the existing path whose components
// match it without regard to case; otherwise the path unchanged.
std::string ResolvePathCI(const std::string &path);

// ---------------------------------------------------------------------------
// Dates: TDateTime counts days since 30 December 1899, the fraction is the time.
using TDateTime = double;
TDateTime Now();
TDateTime EncodeDate(int year, int month, int day);  // EConvertError on a bad date
TDateTime EncodeTime(int hour, int min, int sec, int msec);
bool TryEncodeDate(int year, int month, int day, TDateTime &out);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime &out);
void DecodeDate(TDateTime d, int &year, int &month, int &day);
void DecodeTime(TDateTime d, int &hour, int &min, int &sec, int &msec);
int DayOfWeek(TDateTime d);  // 1 = Sunday .. 7 = Saturday
// Local offset from UTC in minutes, east positive, for the given moment (or now).
int LocalUtcOffsetMinutes();

// Milliseconds on one of the kernel's clocks: CLOCK_BOOTTIME runs on while the
// machine sleeps, CLOCK_MONOTONIC stops meanwhile, neither follows a change of
// the wall clock (CLOCK_REALTIME). A test puts in a reader of its own to play a
// sleep or a jump of the wall clock as the kernel shows them; an empty one
// gives the kernel's clocks back.
int64_t KernelClockMs(clockid_t Clock);
using TKernelClockReader = std::function<int64_t(clockid_t Clock)>;
void SetKernelClockReader(TKernelClockReader Reader);
// Formats a date-time with the class library's letters and English names:
// yyyy yy, mmmm mmm mm m (minutes right after an hour), dddddd (long date,
// "dddd d mmmm yyyy") ddddd (short date, "dd.mm.yyyy") dddd ddd dd d, hh h,
// nn n, ss s, zzz z, tt (long time, "hh:nn:ss") t (short time, "hh:nn"),
// c (short date and long time; no time at midnight), am/pm a/p ampm (with a
// 12-hour clock for the hours before them), and "..." or '...' literals.
// Every other character stands for itself. A date outside the years 1 to
// 9999 is shown as day 0 (30.12.1899).
std::string FormatDateTime(std::string_view fmt, TDateTime d);
// Unix time conversions.
TDateTime UnixToDateTime(int64_t t);
int64_t DateTimeToUnix(TDateTime d);
