#include "NetGlobalProtocols.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <atomic>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "NetCharsets.h"

namespace {

// Views, not C strings: every date read is compared with them, and each
// comparison would measure the name first.
constexpr std::string_view DayNames[7] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
constexpr std::string_view MonthNames[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                             "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!IsDigit(c)) return false;
    return true;
}

// A cursor over the date text: words are cut at blanks, commas and (in the
// date part) dashes and slashes.
struct DateCursor {
    std::string_view s;
    size_t pos = 0;
    void SkipSeparators(bool dashes) {
        while (pos < s.size()) {
            char c = s[pos];
            if (c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n' || (dashes && (c == '-' || c == '/' || c == '.')))
                ++pos;
            else if (c == '(')
                SkipComment();
            else
                break;
        }
    }
    // A comment may stand wherever a blank may; comments nest.
    void SkipComment() {
        int depth = 0;
        for (; pos < s.size(); ++pos) {
            char c = s[pos];
            if (c == '\\' && pos + 1 < s.size())
                ++pos;
            else if (c == '(')
                ++depth;
            else if (c == ')' && --depth == 0) {
                ++pos;
                return;
            }
        }
    }
    std::string_view Word(bool dashes) {
        SkipSeparators(dashes);
        size_t start = pos;
        while (pos < s.size()) {
            char c = s[pos];
            if (c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n' || c == '(' || (dashes && (c == '-' || c == '/')))
                break;
            ++pos;
        }
        return s.substr(start, pos - start);
    }
};

bool ParseNumber(std::string_view w, int &out, int maxDigits = 4) {
    if (!AllDigits(w) || int(w.size()) > maxDigits) return false;
    out = 0;
    for (char c : w) out = out * 10 + (c - '0');
    return true;
}

// "hh:mm" or "hh:mm:ss" (a trailing fraction of seconds is ignored).
bool ParseTime(std::string_view w, int &h, int &m, int &sec) {
    size_t c1 = w.find(':');
    if (c1 == std::string_view::npos) return false;
    size_t c2 = w.find(':', c1 + 1);
    std::string_view sh = w.substr(0, c1);
    std::string_view sm = w.substr(c1 + 1, c2 == std::string_view::npos ? std::string_view::npos : c2 - c1 - 1);
    sec = 0;
    if (!ParseNumber(sh, h, 2) || !ParseNumber(sm, m, 2)) return false;
    if (c2 != std::string_view::npos) {
        std::string_view ss = w.substr(c2 + 1);
        size_t dot = ss.find('.');
        if (dot != std::string_view::npos) ss = ss.substr(0, dot);
        if (!ParseNumber(ss, sec, 2)) return false;
    }
    return true;
}

std::string gTempFolder;
std::mutex gTempMutex;

uint32_t TickSeed() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000);
}

// The next candidate number for a temporary name. Seeded from the tick count
// once, then it only moves on, so a message with thousands of attachments
// does not try every name taken before it again for each new file.
uint32_t NextTempCounter() {
    static std::atomic<uint32_t> counter{TickSeed()};
    return counter.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

int StrToDay(std::string_view s) {
    for (int i = 0; i < 7; ++i)
        if (SameText(s, DayNames[i])) return i + 1;
    return 0;
}

int StrToMonth(std::string_view s) {
    for (int i = 0; i < 12; ++i)
        if (SameText(s, MonthNames[i])) return i + 1;
    return 0;
}

// Month names longer than three letters ("December", "Sept") count by their
// first three letters.
static int MonthWord(std::string_view w) {
    if (w.size() < 3) return 0;
    for (char c : w)
        if (!IsAlpha(c)) return 0;
    return StrToMonth(w.substr(0, 3));
}

TDateTime RawStrInternetToDateTime(std::string &text) {
    std::string src;
    {
        // The obsolete syntax allows blanks around the colons of the time.
        std::string t = Trim(text);
        src.reserve(t.size());
        for (size_t i = 0; i < t.size(); ++i) {
            char c = t[i];
            if (c == ':') {
                while (!src.empty() && (src.back() == ' ' || src.back() == '\t')) src.pop_back();
                src.push_back(c);
                while (i + 1 < t.size() && (t[i + 1] == ' ' || t[i + 1] == '\t')) ++i;
            } else {
                src.push_back(c);
            }
        }
    }
    DateCursor cur{src};
    int day = 0, month = 0, year = 0;
    int hour = 0, minute = 0, second = 0;
    bool haveTime = false;
    std::string asctimeZone;

    // A leading day name, with or without a comma.
    {
        size_t save = cur.pos;
        std::string_view w = cur.Word(false);
        if (w.size() >= 3 && IsAlpha(w[0]) && StrToDay(w.substr(0, 3)) != 0 && MonthWord(w) == 0) {
            // skipped
        } else {
            cur.pos = save;
        }
    }
    // Day and month in either order, then the year (asctime puts the time
    // before the year).
    std::string_view w1 = cur.Word(true);
    if (int m = MonthWord(w1)) {
        month = m;
        std::string_view w2 = cur.Word(true);
        if (!ParseNumber(w2, day, 2)) return text = "", 0;
    } else {
        std::string_view w2 = cur.Word(true);
        if (ParseNumber(w1, day, 2) && (month = MonthWord(w2)) != 0) {
        } else if (ParseNumber(w1, year, 4) && w1.size() == 4) {
            // Numeric "yyyy-mm-dd".
            if (!ParseNumber(w2, month, 2)) return text = "", 0;
            std::string_view w3 = cur.Word(true);
            if (!ParseNumber(w3, day, 2)) return text = "", 0;
            year = -year;  // marks the year as read
        } else {
            text.clear();
            return 0;
        }
    }
    if (year < 0) {
        year = -year;
    } else {
        size_t save = cur.pos;
        std::string_view wy = cur.Word(true);
        if (ParseNumber(wy, year, 4)) {
        } else if (ParseTime(wy, hour, minute, second)) {
            haveTime = true;
            std::string_view w = cur.Word(false);
            if (!ParseNumber(w, year, 4)) {
                // asctime with a zone before the year: "10:20:30 EST 2004".
                std::string_view y = cur.Word(false);
                if (!ParseNumber(y, year, 4)) return text = "", 0;
                asctimeZone = std::string(w);
            }
        } else {
            cur.pos = save;
            year = 1900;
        }
    }
    if (year < 80)
        year += 2000;
    else if (year < 1000)
        year += 1900;  // two digits from 80 on, and three-digit years of old clients

    if (!haveTime) {
        size_t save = cur.pos;
        std::string_view wt = cur.Word(false);
        // "T" between an ISO date and its time.
        if (!wt.empty() && (wt[0] == 'T' || wt[0] == 't') && wt.size() > 1 && IsDigit(wt[1])) wt.remove_prefix(1);
        // A zone written against the time: "10:20:30+0200".
        size_t sign = wt.find_first_of("+-");
        if (sign != std::string_view::npos && sign > 0) {
            cur.pos -= wt.size() - sign;
            wt = wt.substr(0, sign);
        }
        if (ParseTime(wt, hour, minute, second))
            haveTime = true;
        else
            cur.pos = save;
    }
    if (haveTime) {
        size_t save = cur.pos;
        std::string_view ap = cur.Word(false);
        if (SameText(ap, "PM")) {
            if (hour < 12) hour += 12;
        } else if (SameText(ap, "AM")) {
            if (hour == 12) hour = 0;
        } else {
            cur.pos = save;
        }
    }
    if (second == 60) second = 59;  // a leap second
    TDateTime d = 0, t = 0;
    if (!TryEncodeDate(year, month, day, d) || !TryEncodeTime(hour, minute, second, 0, t)) {
        text.clear();
        return 0;
    }
    text = Trim(std::string_view(src).substr(std::min(cur.pos, src.size())));
    if (!asctimeZone.empty()) text = asctimeZone + (text.empty() ? "" : " " + text);
    return d + t;
}

TDateTime TimeZoneToGmtOffset(std::string_view zone) {
    std::string z = Trim(zone);
    if (z.empty()) return 0;
    if (z[0] == '+' || z[0] == '-') {
        std::string digits;
        for (size_t i = 1; i < z.size() && digits.size() < 4; ++i) {
            if (IsDigit(z[i]))
                digits.push_back(z[i]);
            else if (z[i] != ':' || digits.size() != 2)
                break;
        }
        if (digits.size() != 4) return 0;
        int h = (digits[0] - '0') * 10 + (digits[1] - '0');
        int m = (digits[2] - '0') * 10 + (digits[3] - '0');
        if (h > 23 || m > 59) return 0;
        TDateTime off = (h * 60 + m) / 1440.0;
        return z[0] == '-' ? -off : off;
    }
    // The zone names of RFC 5322 (military letters count as unknown, 0).
    std::string name;
    for (char c : z) {
        if (!IsAlpha(c)) break;
        name.push_back(c);
    }
    static const struct { const char *n; int h; } names[] = {
        {"UT", 0},   {"UTC", 0},  {"GMT", 0},  {"Z", 0},    {"EST", -5}, {"EDT", -4},
        {"CST", -6}, {"CDT", -5}, {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
    for (auto &e : names)
        if (SameText(name, e.n)) return e.h / 24.0;
    return 0;
}

TDateTime GMTToLocalDateTime(std::string_view text) {
    std::string s(text);
    if (Trim(s).empty()) return 0;
    TDateTime d = RawStrInternetToDateTime(s);
    if (d == 0) return 0;
    TDateTime utc = d - TimeZoneToGmtOffset(s);
    // The local offset at that moment, daylight saving included.
    time_t t = time_t(DateTimeToUnix(utc));
    tm local{};
    if (!localtime_r(&t, &local)) return utc;
    return utc + double(local.tm_gmtoff) / 86400.0;
}

// ---------------------------------------------------------------------------

std::string NetTempFolder() {
    std::lock_guard<std::mutex> lock(gTempMutex);
    if (!gTempFolder.empty() && DirectoryExists(gTempFolder)) return gTempFolder;
    const char *base = getenv("TMPDIR");
    std::string root = (base && *base) ? base : "/tmp";
    std::string dir = IncludeTrailingPathDelimiter(root) + "tarnwick-" + IntToStr(int64_t(getuid()));
    // A folder of our own: created private, and refused when it is a link
    // or belongs to someone else.
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) throw EFCreateError("Cannot create folder " + dir);
    struct stat st{};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
        throw EFCreateError("Unsafe temporary folder " + dir);
    if ((st.st_mode & 077) != 0) chmod(dir.c_str(), 0700);
    gTempFolder = IncludeTrailingPathDelimiter(dir);
    return gTempFolder;
}

void SetNetTempFolder(const std::string &folder) {
    std::lock_guard<std::mutex> lock(gTempMutex);
    gTempFolder = folder.empty() ? std::string() : IncludeTrailingPathDelimiter(folder);
    if (!gTempFolder.empty()) ForceDirectories(ExcludeTrailingPathDelimiter(gTempFolder));
}

static std::string TempBase(const std::string &folder) {
    if (!folder.empty() && DirectoryExists(folder)) return IncludeTrailingPathDelimiter(folder);
    return NetTempFolder();
}

std::string MakeTempFilename(const std::string &folder) {
    std::string base = TempBase(folder);
    for (;;) {
        std::string name = base + "Net" + IntToHex(NextTempCounter(), 8) + ".tmp";
        struct stat st{};
        if (lstat(name.c_str(), &st) != 0) return name;
    }
}

int CreateTempFile(const std::string &folder, std::string &path) {
    std::string base = TempBase(folder);
    for (int tries = 0; tries < 100000; ++tries) {
        std::string name = base + "Net" + IntToHex(NextTempCounter(), 8) + ".tmp";
        int fd = open(name.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0) {
            path = name;
            return fd;
        }
        if (errno != EEXIST) break;
    }
    throw EFCreateError("Cannot create a temporary file in " + base);
}

bool CopyFileTo(const std::string &source, const std::string &target) {
    int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    int out = open(target.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        close(in);
        return false;
    }
    bool ok = true;
    char buf[65536];
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        for (ssize_t off = 0; off < n;) {
            ssize_t w = write(out, buf + off, size_t(n - off));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            off += w;
        }
        if (!ok) break;
    }
    close(in);
    if (close(out) != 0) ok = false;
    if (!ok) unlink(target.c_str());
    return ok;
}

// ---------------------------------------------------------------------------

void SplitTextToList(TStringList &list, std::string_view text) {
    list.Clear();
    std::string part;
    int quotes = 0;
    for (char c : text) {
        if (c == '"') ++quotes;
        if (c == ',' && quotes != 1) {
            std::string t = Trim(part);
            if (!t.empty()) list.Add(t);
            part.clear();
            quotes = 0;
            continue;
        }
        part.push_back(c);
    }
    std::string t = Trim(part);
    if (!t.empty()) list.Add(t);
}

void SplitByDelimiter(std::string_view text, std::string_view delimiter, TStringList &list) {
    if (delimiter.empty()) {
        list.Add(std::string(text));
        return;
    }
    size_t start = 0;
    for (;;) {
        size_t p = text.find(delimiter, start);
        if (p == std::string_view::npos) break;
        list.Add(std::string(text.substr(start, p - start)));
        start = p + delimiter.size();
    }
    list.Add(std::string(text.substr(start)));
}

std::string RemoveHeaderParameter(std::string_view value, std::string_view parameter) {
    int p = PosText(parameter, value);
    if (p == 0) return std::string(value);
    std::string before(value.substr(0, size_t(p - 1)));
    // The parameter's value ends at the next ";" outside double quotes.
    bool quoted = false;
    for (size_t i = size_t(p - 1) + parameter.size(); i < value.size(); ++i) {
        char c = value[i];
        if (c == '"') quoted = !quoted;
        else if (c == ';' && !quoted) return before + TrimLeft(value.substr(i + 1));
    }
    std::string r = Trim(before);
    if (!r.empty() && r.back() == ';') r.pop_back();
    return r;
}

namespace {

bool ParamBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

struct TRawParameter {
    std::string Name, Value;
};

// The parameters after the value's first ";" (outside quotes), names as
// written and values unquoted. Text between a
// value and the next ";" is not part of it; a name without "=" is no
// parameter.
std::vector<TRawParameter> RawParameters(std::string_view v) {
    std::vector<TRawParameter> out;
    const size_t n = v.size();
    size_t i = 0;
    auto skipQuoted = [&] {
        for (++i; i < n && v[i] != '"'; ++i)
            if (v[i] == '\\' && i + 1 < n) ++i;
        if (i < n) ++i;
    };
    auto skipToSemicolon = [&] {
        while (i < n && v[i] != ';') {
            if (v[i] == '"')
                skipQuoted();
            else
                ++i;
        }
    };
    skipToSemicolon();
    while (i < n) {
        ++i;  // the ";"
        while (i < n && ParamBlank(v[i])) ++i;
        const size_t start = i;
        while (i < n && v[i] != '=' && v[i] != ';' && !ParamBlank(v[i])) ++i;
        std::string name(v.substr(start, i - start));
        while (i < n && ParamBlank(v[i])) ++i;
        if (name.empty() || i >= n || v[i] != '=') {
            skipToSemicolon();
            continue;
        }
        ++i;
        while (i < n && ParamBlank(v[i])) ++i;
        std::string value;
        if (i < n && v[i] == '"') {
            // Only \\ and \" are escapes: a Windows path some mailers put
            // in a name keeps its backslashes, as other readers keep them.
            for (++i; i < n && v[i] != '"'; ++i) {
                if (v[i] == '\\' && i + 1 < n && (v[i + 1] == '\\' || v[i + 1] == '"')) ++i;
                value.push_back(v[i]);
            }
            if (i < n) ++i;
        } else {
            const size_t vs = i;
            while (i < n && v[i] != ';' && !ParamBlank(v[i])) ++i;
            value.assign(v.substr(vs, i - vs));
        }
        out.push_back({std::move(name), std::move(value)});
        skipToSemicolon();
    }
    return out;
}

std::string Unpercent(std::string_view v) {
    std::string out;
    out.reserve(v.size());
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '%' && i + 2 < v.size() && HexDigitValue(v[i + 1]) >= 0 && HexDigitValue(v[i + 2]) >= 0) {
            out.push_back(char(HexDigitValue(v[i + 1]) << 4 | HexDigitValue(v[i + 2])));
            i += 2;
        } else {
            out.push_back(v[i]);
        }
    }
    return out;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> HeaderParameters(std::string_view value) {
    struct Section {
        int Number;  // -1: "name*" without a number
        bool Coded;
        std::string Text;
    };
    std::vector<std::pair<std::string, std::string>> result;
    std::vector<std::pair<std::string, std::vector<Section>>> extended;
    std::unordered_map<std::string, size_t> index;
    for (TRawParameter &p : RawParameters(value)) {
        std::string name = LowerCase(p.Name);
        const size_t star = name.find('*');
        if (star == std::string::npos || star == 0) {
            result.emplace_back(std::move(name), std::move(p.Value));
            continue;
        }
        std::string rest = name.substr(star + 1);
        Section sec{-1, true, std::move(p.Value)};
        if (!rest.empty()) {
            sec.Coded = rest.back() == '*';
            if (sec.Coded) rest.pop_back();
            bool digits = !rest.empty() && rest.size() <= 6;
            for (char c : rest) digits = digits && c >= '0' && c <= '9';
            if (!digits) {
                // Not a form RFC 2231 knows: an odd name of its own.
                result.emplace_back(std::move(name), std::move(sec.Text));
                continue;
            }
            sec.Number = std::stoi(rest);
        }
        std::string base = name.substr(0, star);
        auto [it, added] = index.emplace(base, extended.size());
        if (added) extended.emplace_back(base, std::vector<Section>());
        extended[it->second].second.push_back(std::move(sec));
    }
    // The extended forms follow the plain ones, so where a sender wrote both
    // ("filename=" for old readers beside "filename*="), the plain one is
    // found first, as other mail readers find it.
    for (auto &[base, sections] : extended) {
        std::stable_sort(sections.begin(), sections.end(),
                         [](const Section &a, const Section &b) { return a.Number < b.Number; });
        std::string charset, bytes;
        for (size_t k = 0; k < sections.size(); ++k) {
            const Section &s = sections[k];
            if (k > 0 && s.Number == sections[k - 1].Number) continue;  // a section written twice
            std::string_view text = s.Text;
            // Only the first section names the set: "utf-8'en'caf%C3%A9".
            if (s.Coded && k == 0) {
                size_t q1 = text.find('\''), q2 = q1 == std::string_view::npos ? q1 : text.find('\'', q1 + 1);
                if (q2 != std::string_view::npos) {
                    charset.assign(text.substr(0, q1));
                    text.remove_prefix(q2 + 1);
                }
            }
            bytes += s.Coded ? Unpercent(text) : std::string(text);
        }
        result.emplace_back(base, CharsetToUTF8(bytes, charset.empty() ? std::string_view("us-ascii")
                                                                        : std::string_view(charset)));
    }
    return result;
}

std::string HeaderParameter(std::string_view value, std::string_view name, bool upperCased) {
    const std::string want = LowerCase(name);
    for (auto &p : HeaderParameters(value))
        if (p.first == want) return upperCased ? UpperCase(p.second) : p.second;
    return {};
}

std::string HeaderParameterDecoded(std::string_view value, std::string_view name) {
    return HeaderParameter(value, name);
}

std::string FindBoundary(std::string_view contentType) {
    // A delimiter line may carry blanks after the boundary, so none of its
    // own can end it.
    return TrimRight(HeaderParameter(contentType, "boundary"));
}

std::string MediaType(std::string_view value) {
    std::string t = Trim(value.substr(0, std::min(value.find(';'), value.size())));
    if (t.empty()) return t;
    // "text; charset=us-ascii" names no subtype: not a type at all, which
    // RFC 2045 reads as plain text.
    return std::count(t.begin(), t.end(), '/') == 1 ? t : std::string("text/plain");
}

int DefaultCharsetForLocale() {
    const char *vars[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    std::string loc;
    for (const char *v : vars) {
        const char *s = getenv(v);
        if (s && *s) {
            loc = s;
            break;
        }
    }
    std::string lang = LowerCase(loc.substr(0, loc.find_first_of("_.@")));
    if (lang == "ru") return csNetKOI8_R;
    if (lang == "uk") return csNetWindows1251;
    if (lang == "ko") return csNetEUCKR;
    if (lang == "zh") {
        std::string region = UpperCase(loc.size() > 3 ? loc.substr(3, 2) : "");
        return (region == "CN" || region == "SG") ? csNetGB2312 : csNetBig5;
    }
    if (lang == "ja") return csNetISO_2022_JP;
    return csNetISO_8859_1;
}

std::string FoldTextLines(std::string_view text, std::string_view lineBreak, std::string_view breakChars,
                          int width) {
    std::string out;
    out.reserve(text.size() + text.size() / 32 + 8);
    // Columns a new line starts with: what the break text puts after its
    // last line end.
    size_t lastEol = lineBreak.find_last_of("\r\n");
    int startCol = lastEol == std::string_view::npos ? 0 : int(lineBreak.size() - lastEol - 1);
    size_t lineStart = 0, candidate = std::string_view::npos, i = 0;
    int col = 0;
    bool quoted = false;
    auto isBreak = [&](char c) { return breakChars.find(c) != std::string_view::npos; };
    while (i < text.size()) {
        if (!lineBreak.empty() && text.compare(i, lineBreak.size(), lineBreak) == 0) {
            i += lineBreak.size();
            col = startCol;
            candidate = std::string_view::npos;
            continue;
        }
        char c = text[i];
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && isBreak(c))
            candidate = i + 1;
        ++col;
        ++i;
        if (col > width && candidate != std::string_view::npos && candidate > lineStart) {
            out.append(text.substr(lineStart, candidate - lineStart));
            out.append(lineBreak.empty() ? std::string_view("\r\n") : lineBreak);
            size_t j = candidate;
            while (j < text.size() && (text[j] == '\r' || text[j] == '\n' || isBreak(text[j]))) ++j;
            lineStart = j;
            i = j;
            col = startCol;
            candidate = std::string_view::npos;
            quoted = false;
        }
    }
    out.append(text.substr(std::min(lineStart, text.size())));
    return out;
}

std::string CharRange(char low, char high) {
    std::string s;
    for (int c = uint8_t(low); c <= uint8_t(high); ++c) s.push_back(char(c));
    return s;
}

void CopyBytesRange(const std::string &source, size_t sourceIndex, std::string &target, size_t targetIndex,
                    size_t count) {
    if (sourceIndex >= source.size()) return;
    count = std::min(count, source.size() - sourceIndex);
    if (target.size() < targetIndex + count) target.resize(targetIndex + count);
    target.replace(targetIndex, count, source, sourceIndex, count);
}

std::string AppendHexByte(std::string_view prefix, uint8_t value) {
    static const char hex[] = "0123456789ABCDEF";
    std::string s(prefix);
    s.push_back(hex[value >> 4]);
    s.push_back(hex[value & 15]);
    return s;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
