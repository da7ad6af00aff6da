#include "SysUtils.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

inline char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
inline char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

int findFrom(std::string_view sub, std::string_view s, int start, bool ignoreCase) {
    if (sub.empty() || s.empty()) return 0;
    if (start < 1) start = 1;
    if (size_t(start) > s.size()) return 0;
    if (!ignoreCase) {
        size_t p = s.find(sub, size_t(start - 1));
        return p == std::string_view::npos ? 0 : int(p) + 1;
    }
    auto it = std::search(s.begin() + (start - 1), s.end(), sub.begin(), sub.end(),
                          [](char a, char b) { return upperAscii(a) == upperAscii(b); });
    return it == s.end() ? 0 : int(it - s.begin()) + 1;
}

}  // namespace

int Pos(std::string_view sub, std::string_view s, int start) { return findFrom(sub, s, start, false); }

int LastPos(std::string_view sub, std::string_view s) {
    if (sub.empty() || s.size() < sub.size()) return 0;
    size_t p = s.rfind(sub);
    return p == std::string_view::npos ? 0 : int(p) + 1;
}

bool Contains(std::string_view s, std::string_view sub) { return Pos(sub, s) > 0; }
int PosText(std::string_view sub, std::string_view s, int start) { return findFrom(sub, s, start, true); }
bool ContainsText(std::string_view s, std::string_view sub) { return PosText(sub, s) > 0; }

std::string Copy(std::string_view s, int index, int count) {
    if (index < 1) index = 1;
    if (count <= 0 || size_t(index) > s.size()) return {};
    size_t from = size_t(index - 1);
    size_t n = std::min<size_t>(size_t(count), s.size() - from);
    return std::string(s.substr(from, n));
}

void Delete(std::string &s, int index, int count) {
    if (index < 1 || count <= 0 || size_t(index) > s.size()) return;
    s.erase(size_t(index - 1), std::min<size_t>(size_t(count), s.size() - size_t(index - 1)));
}

void Insert(std::string_view sub, std::string &s, int index) {
    if (index < 1) index = 1;
    if (size_t(index) > s.size() + 1) index = int(s.size()) + 1;
    s.insert(size_t(index - 1), sub);
}

std::string TrimLeft(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
    return std::string(s.substr(i));
}

std::string TrimRight(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && static_cast<unsigned char>(s[n - 1]) <= ' ') --n;
    return std::string(s.substr(0, n));
}

std::string Trim(std::string_view s) {
    // One copy, not two: headers and addresses are trimmed piece by piece.
    size_t i = 0, n = s.size();
    while (i < n && static_cast<unsigned char>(s[i]) <= ' ') ++i;
    while (n > i && static_cast<unsigned char>(s[n - 1]) <= ' ') --n;
    return std::string(s.substr(i, n - i));
}

std::string UpperCase(std::string_view s) {
    std::string r(s);
    for (auto &c : r) c = upperAscii(c);
    return r;
}

std::string LowerCase(std::string_view s) {
    std::string r(s);
    for (auto &c : r) c = lowerAscii(c);
    return r;
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upperAscii(a[i]) != upperAscii(b[i])) return false;
    return true;
}

int CompareText(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(upperAscii(a[i]));
        unsigned char y = static_cast<unsigned char>(upperAscii(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool StartsText(std::string_view prefix, std::string_view s) {
    return s.size() >= prefix.size() && SameText(prefix, s.substr(0, prefix.size()));
}

bool EndsText(std::string_view suffix, std::string_view s) {
    return s.size() >= suffix.size() && SameText(suffix, s.substr(s.size() - suffix.size()));
}

std::string StringReplaceAll(std::string_view s, std::string_view from, std::string_view to,
                             bool ignoreCase) {
    if (from.empty()) return std::string(s);
    std::string out;
    out.reserve(s.size());
    int pos = 1;
    for (;;) {
        int p = ignoreCase ? PosText(from, s, pos) : Pos(from, s, pos);
        if (p == 0) break;
        out.append(s.substr(size_t(pos - 1), size_t(p - pos)));
        out.append(to);
        pos = p + int(from.size());
    }
    if (size_t(pos - 1) <= s.size()) out.append(s.substr(size_t(pos - 1)));
    return out;
}

std::string IntToStr(int64_t v) { return std::to_string(v); }

std::string IntToHex(uint64_t v, int digits) {
    char buf[40];
    if (digits < 0) digits = 0;
    if (digits > 32) digits = 32;
    std::snprintf(buf, sizeof buf, "%0*llX", digits, static_cast<unsigned long long>(v));
    return buf;
}

bool TryStrToInt64(std::string_view text, int64_t &out) {
    std::string s = Trim(text);
    if (s.empty()) return false;
    size_t i = 0;
    bool neg = false;
    if (s[i] == '+' || s[i] == '-') {
        neg = s[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size()) return false;
    unsigned __int128 acc = 0;
    for (; i < s.size(); ++i) {
        char c = s[i];
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return false;
        acc = acc * unsigned(base) + unsigned(d);
        if (acc > (unsigned __int128)INT64_MAX + 1) return false;
    }
    if (!neg && acc > (unsigned __int128)INT64_MAX) return false;
    out = neg ? int64_t(-(__int128)acc) : int64_t(acc);
    return true;
}

bool TryStrToInt(std::string_view s, int &out) {
    int64_t v;
    if (!TryStrToInt64(s, v) || v < INT32_MIN || v > INT32_MAX) return false;
    out = int(v);
    return true;
}

int StrToInt(std::string_view s) {
    int v;
    if (!TryStrToInt(s, v)) throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
    return v;
}

int64_t StrToInt64(std::string_view s) {
    int64_t v;
    if (!TryStrToInt64(s, v)) throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
    return v;
}

int StrToIntDef(std::string_view s, int def) {
    int v;
    return TryStrToInt(s, v) ? v : def;
}

int64_t StrToInt64Def(std::string_view s, int64_t def) {
    int64_t v;
    return TryStrToInt64(s, v) ? v : def;
}

std::string Format(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string out;
    if (n > 0) {
        out.resize(size_t(n) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, ap2);
        out.resize(size_t(n));
    }
    va_end(ap2);
    return out;
}

// --------------------------------------------------------------------------
std::string IncludeTrailingPathDelimiter(std::string_view p) {
    std::string r(p);
    if (r.empty() || r.back() != PathDelim) r += PathDelim;
    return r;
}

std::string ExcludeTrailingPathDelimiter(std::string_view p) {
    std::string r(p);
    while (r.size() > 1 && r.back() == PathDelim) r.pop_back();
    return r;
}

std::string ExtractFilePath(std::string_view p) {
    size_t i = p.rfind(PathDelim);
    return i == std::string_view::npos ? std::string() : std::string(p.substr(0, i + 1));
}

std::string ExtractFileDir(std::string_view p) {
    size_t i = p.rfind(PathDelim);
    if (i == std::string_view::npos) return {};
    if (i == 0) return "/";
    return std::string(p.substr(0, i));
}

std::string ExtractFileName(std::string_view p) {
    size_t i = p.rfind(PathDelim);
    return std::string(i == std::string_view::npos ? p : p.substr(i + 1));
}

std::string ExtractFileExt(std::string_view p) {
    std::string name = ExtractFileName(p);
    size_t i = name.rfind('.');
    return i == std::string::npos ? std::string() : name.substr(i);
}

std::string ChangeFileExt(std::string_view p, std::string_view ext) {
    std::string s(p);
    size_t slash = s.rfind(PathDelim);
    size_t dot = s.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) s.erase(dot);
    return s + std::string(ext);
}

std::string ApplicationExeName() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, size_t(n));
}

std::string ApplicationFolder() { return ExtractFilePath(ApplicationExeName()); }

// --------------------------------------------------------------------------
bool FileExists(const std::string &path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string &path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string &path) {
    std::string p = ExcludeTrailingPathDelimiter(path);
    if (p.empty()) return false;
    if (DirectoryExists(p)) return true;
    std::string parent = ExtractFileDir(p);
    if (!parent.empty() && parent != p && !ForceDirectories(parent)) return false;
    return ::mkdir(p.c_str(), 0755) == 0 || errno == EEXIST;
}

bool DeleteFile(const std::string &path) { return ::unlink(path.c_str()) == 0; }
bool RenameFile(const std::string &from, const std::string &to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}
bool RemoveDir(const std::string &path) { return ::rmdir(path.c_str()) == 0; }

int64_t FileSize(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return -1;
    return int64_t(st.st_size);
}

std::string ReadFileToString(const std::string &path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw EFOpenError("Cannot open file \"" + path + "\". " + std::strerror(errno));
    std::string out;
    try {
        ReadDescriptorToString(fd, path, out);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    return out;
}

void AppendUtf8(std::string &out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

bool ReadDescriptorToString(int fd, const std::string &path, std::string &out, int64_t limit) {
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw EReadError("Cannot read file \"" + path + "\". " + std::strerror(errno));
        }
        if (n == 0) return true;
        out.append(buf, size_t(n));
        if (int64_t(out.size()) > limit) return false;
    }
}

void WriteFileAtomic(const std::string &path, std::string_view data, unsigned mode) {
    std::string tmpl = path + ".tmpXXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) throw EFCreateError("Cannot create file \"" + path + "\". " + std::strerror(errno));
    struct stat st;
    unsigned m = mode;
    if (::stat(path.c_str(), &st) == 0) {
        m = st.st_mode & 07777;
        // A file asked for as private stays private: an older copy that others
        // could read must not pass that on to the new text (passwords).
        if ((mode & 077) == 0) m &= ~077u;
    }
    // Before the first byte is written, so no reader ever sees it wider.
    ::fchmod(fd, m);
    const char *p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            int e = errno;
            ::close(fd);
            ::unlink(name.data());
            throw EWriteError("Cannot write file \"" + path + "\". " + std::strerror(e));
        }
        p += n;
        left -= size_t(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        int e = errno;
        ::unlink(name.data());
        throw EWriteError("Cannot write file \"" + path + "\". " + std::strerror(e));
    }
    if (::rename(name.data(), path.c_str()) != 0) {
        int e = errno;
        ::unlink(name.data());
        throw EWriteError("Cannot replace file \"" + path + "\". " + std::strerror(e));
    }
}

std::vector<std::string> ListDirectory(const std::string &folder, bool files, bool folders) {
    std::vector<std::string> out;
    DIR *d = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return out;
    std::string base = IncludeTrailingPathDelimiter(folder);
    while (dirent *e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        bool isDir = DirectoryExists(base + n);
        if ((isDir && folders) || (!isDir && files)) out.push_back(n);
    }
    ::closedir(d);
    std::sort(out.begin(), out.end(), [](const std::string &a, const std::string &b) {
        int c = CompareText(a, b);
        return c != 0 ? c < 0 : a < b;
    });
    return out;
}

bool MatchesMask(std::string_view name, std::string_view mask) {
    std::string n(name), m(mask);
    // "*.*" on the original platform also matches names without a dot.
    if (m == "*.*") m = "*";
    return ::fnmatch(m.c_str(), n.c_str(), FNM_CASEFOLD) == 0;
}

std::string ResolvePathCI(const std::string &path) {
    if (path.empty()) return path;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) return path;
    // Walk from the root, fixing each component that does not exist as given.
    std::string out = path[0] == PathDelim ? "/" : "";
    size_t i = path[0] == PathDelim ? 1 : 0;
    while (i <= path.size()) {
        size_t j = path.find(PathDelim, i);
        if (j == std::string::npos) j = path.size();
        std::string comp = path.substr(i, j - i);
        if (!comp.empty()) {
            std::string cand = out + comp;
            if (::lstat(cand.c_str(), &st) != 0) {
                std::string found;
                for (const auto &e : ListDirectory(out.empty() ? "." : out)) {
                    if (SameText(e, comp)) {
                        found = e;
                        break;
                    }
                }
                // Only what does not exist yet keeps its spelling: a new
                // file goes into the folder that is there.
                if (found.empty()) return out + path.substr(i);
                cand = out + found;
            }
            out = cand;
            if (j < path.size()) out += PathDelim;
        }
        i = j + 1;
    }
    return out;
}

// --------------------------------------------------------------------------
namespace {
constexpr int64_t kUnixEpochDays = 25569;  // 1970-01-01 as TDateTime

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int daysInMonth(int y, int m) {
    static const int d[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : d[m - 1];
}
// Days from 0001-01-01 (as day 1) the way Delphi's EncodeDate counts.
}  // namespace

bool TryEncodeDate(int y, int m, int d, TDateTime &out) {
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > daysInMonth(y, m)) return false;
    int64_t days = d;
    for (int i = 1; i < m; ++i) days += daysInMonth(y, i);
    int64_t yy = y - 1;
    days += yy * 365 + yy / 4 - yy / 100 + yy / 400;
    out = double(days - 693594);  // 693594 = days from 0001-01-01 to 1899-12-30
    return true;
}

TDateTime EncodeDate(int y, int m, int d) {
    TDateTime r;
    if (!TryEncodeDate(y, m, d, r)) throw EConvertError("Invalid argument to date encode");
    return r;
}

bool TryEncodeTime(int h, int mi, int s, int ms, TDateTime &out) {
    if (h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59 || ms < 0 || ms > 999) return false;
    out = (h * 3600000.0 + mi * 60000.0 + s * 1000.0 + ms) / 86400000.0;
    return true;
}

TDateTime EncodeTime(int h, int mi, int s, int ms) {
    TDateTime r;
    if (!TryEncodeTime(h, mi, s, ms, r)) throw EConvertError("Invalid argument to time encode");
    return r;
}

void DecodeDate(TDateTime dt, int &year, int &month, int &day) {
    int64_t t = int64_t(std::floor(dt)) + 693594;  // days since 0001-01-01 (day 1)
    if (t <= 0) {
        year = month = day = 0;
        return;
    }
    --t;
    int64_t y = 1;
    int64_t n400 = t / 146097; t %= 146097;
    int64_t n100 = t / 36524; t %= 36524;
    if (n100 == 4) { n100 = 3; t += 36524; }
    int64_t n4 = t / 1461; t %= 1461;
    int64_t n1 = t / 365; t %= 365;
    if (n1 == 4) { n1 = 3; t += 365; }
    y += n400 * 400 + n100 * 100 + n4 * 4 + n1;
    int m = 1;
    while (t >= daysInMonth(int(y), m)) {
        t -= daysInMonth(int(y), m);
        ++m;
    }
    year = int(y);
    month = m;
    day = int(t) + 1;
}

void DecodeTime(TDateTime dt, int &hour, int &min, int &sec, int &msec) {
    double frac = dt - std::floor(dt);
    int64_t ms = int64_t(std::llround(frac * 86400000.0));
    if (ms >= 86400000) ms = 86399999;
    hour = int(ms / 3600000);
    min = int(ms / 60000 % 60);
    sec = int(ms / 1000 % 60);
    msec = int(ms % 1000);
}

int DayOfWeek(TDateTime d) {
    int64_t days = int64_t(std::floor(d));
    // 1899-12-30 was a Saturday (7).
    int64_t r = ((days % 7) + 7 + 6) % 7;  // 0 = Sunday
    return int(r) + 1;
}

TDateTime UnixToDateTime(int64_t t) { return double(kUnixEpochDays) + double(t) / 86400.0; }

int64_t DateTimeToUnix(TDateTime d) {
    return int64_t(std::llround((d - double(kUnixEpochDays)) * 86400.0));
}

int LocalUtcOffsetMinutes() {
    time_t now = ::time(nullptr);
    struct tm lt;
    ::localtime_r(&now, &lt);
    return int(lt.tm_gmtoff / 60);
}

namespace {
TKernelClockReader gKernelClockReader;
}  // namespace

int64_t KernelClockMs(clockid_t Clock) {
    if (gKernelClockReader) return gKernelClockReader(Clock);
    struct timespec ts {};
    ::clock_gettime(Clock, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SetKernelClockReader(TKernelClockReader Reader) { gKernelClockReader = std::move(Reader); }

TDateTime Now() {
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    struct tm lt;
    ::localtime_r(&ts.tv_sec, &lt);
    double secs = double(ts.tv_sec + lt.tm_gmtoff) + ts.tv_nsec / 1e9;
    return double(kUnixEpochDays) + secs / 86400.0;
}

namespace {

// The formats the "t", "tt", "ddddd", "dddddd" and "c" letters stand for.
constexpr std::string_view kShortTimeFormat = "hh:nn";
constexpr std::string_view kLongTimeFormat = "hh:nn:ss";
constexpr std::string_view kShortDateFormat = "dd.mm.yyyy";
constexpr std::string_view kLongDateFormat = "dddd d mmmm yyyy";

// The am/pm marker that starts at fmt[i], or 0: 5 for "am/pm", 3 for "a/p",
// 4 for "ampm" (letters in any case).
size_t AmPmLength(std::string_view fmt, size_t i) {
    auto is = [&](std::string_view word) {
        return fmt.size() - i >= word.size() && SameText(fmt.substr(i, word.size()), word);
    };
    if (is("am/pm")) return 5;
    if (is("a/p")) return 3;
    if (is("ampm")) return 4;
    return 0;
}

// True when an am/pm marker follows later in the format: hours before it
// are counted on a 12-hour clock.
bool TwelveHourClockAhead(std::string_view fmt, size_t i) {
    for (; i < fmt.size(); ++i) {
        char c = fmt[i];
        if (c == '"' || c == '\'') {
            size_t j = fmt.find(c, i + 1);
            if (j == std::string_view::npos) return false;
            i = j;
            continue;
        }
        if (AmPmLength(fmt, i)) return true;
    }
    return false;
}

// A number of the date or time with at least Width digits, as "%0*d" would
// write it: a printf for every field made a list of dates slow.
void AppendDigits(std::string &out, int value, int width) {
    if (value < 0) {
        out += Format("%0*d", width, value);
        return;
    }
    char digits[12];
    int n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value > 0);
    for (int k = n; k < width; ++k) out += '0';
    while (n > 0) out += digits[--n];
}

void FormatDateTimeInto(std::string &out, std::string_view fmt, TDateTime d, int depth) {
    static const char *shortMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static const char *longMonths[] = {"January", "February", "March",     "April",
                                       "May",     "June",     "July",      "August",
                                       "September", "October", "November", "December"};
    static const char *shortDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *longDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};
    // Outside the years 1 to 9999 there is no calendar date to show.
    if (!std::isfinite(d) || d < -693593.0 || d >= 2958466.0) d = 0;
    int y, mo, da, h, mi, s, ms;
    DecodeDate(d, y, mo, da);
    DecodeTime(d, h, mi, s, ms);
    int dow = DayOfWeek(d) - 1;
    size_t i = 0;
    auto run = [&](char c) {
        size_t n = 0;
        while (i + n < fmt.size() && (fmt[i + n] | 0x20) == c) ++n;
        return n;
    };
    // A named format inside a format ("c" holds "ddddd" and "tt"); the
    // named formats never nest deeper than this.
    auto nested = [&](std::string_view f) {
        if (depth < 2) FormatDateTimeInto(out, f, d, depth + 1);
    };
    // "m" right after an hour (literals between do not count) is minutes.
    bool lastWasHour = false;
    while (i < fmt.size()) {
        char c = fmt[i];
        char lc = char(c | 0x20);
        if (c == '"' || c == '\'') {
            size_t j = fmt.find(c, i + 1);
            if (j == std::string_view::npos) j = fmt.size();
            out.append(fmt.substr(i + 1, j - i - 1));
            i = j + 1;
            continue;
        }
        if (lc == 'a') {
            if (size_t len = AmPmLength(fmt, i)) {
                bool pm = h >= 12;
                if (len == 4) {
                    out += pm ? "PM" : "AM";
                } else {
                    // As written: "am/pm" gives "am", "AM/PM" gives "AM".
                    size_t at = pm ? (len == 5 ? 3 : 2) : 0;
                    out.append(fmt.substr(i + at, len == 5 ? 2 : 1));
                }
                i += len;
                lastWasHour = false;
                continue;
            }
        }
        size_t n;
        if (lc == 'y') {
            n = run('y');
            AppendDigits(out, n <= 2 ? y % 100 : y, n <= 2 ? 2 : 4);
        } else if (lc == 'm') {
            n = run('m');
            if (lastWasHour) AppendDigits(out, mi, n == 1 ? 1 : 2);
            else if (n <= 2) AppendDigits(out, mo, int(n));
            else if (n == 3) out += shortMonths[mo - 1];
            else out += longMonths[mo - 1];
        } else if (lc == 'd') {
            n = run('d');
            if (n <= 2) AppendDigits(out, da, int(n));
            else if (n == 3) out += shortDays[dow];
            else if (n == 4) out += longDays[dow];
            else if (n == 5) nested(kShortDateFormat);
            else nested(kLongDateFormat);
        } else if (lc == 'h') {
            n = run('h');
            int hour = h;
            if (TwelveHourClockAhead(fmt, i + n)) {
                hour = h % 12;
                if (hour == 0) hour = 12;
            }
            AppendDigits(out, hour, n == 1 ? 1 : 2);
            lastWasHour = true;
            i += n;
            continue;
        } else if (lc == 'n') {
            n = run('n');
            AppendDigits(out, mi, n == 1 ? 1 : 2);
        } else if (lc == 's') {
            n = run('s');
            AppendDigits(out, s, n == 1 ? 1 : 2);
        } else if (lc == 'z') {
            n = run('z');
            AppendDigits(out, ms, n >= 2 ? 3 : 1);
        } else if (lc == 't') {
            n = run('t');
            nested(n == 1 ? kShortTimeFormat : kLongTimeFormat);
        } else if (lc == 'c') {
            n = run('c');
            nested(kShortDateFormat);
            // Midnight exactly has no time to show.
            if (h != 0 || mi != 0 || s != 0 || ms != 0) {
                out += ' ';
                nested(kLongTimeFormat);
            }
        } else {
            out += c;
            i += 1;
            continue;
        }
        lastWasHour = false;
        i += n;
    }
}

}  // namespace

std::string FormatDateTime(std::string_view fmt, TDateTime d) {
    std::string out;
    FormatDateTimeInto(out, fmt, d, 0);
    return out;
}
