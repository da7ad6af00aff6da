#include "VeskRutins.h"

#include "Desktop.h"

#include <QCoreApplication>
#include <QFont>
#include <QImage>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <jpeglib.h>
}

#include "Graphics.h"
#include "Registry.h"
#include "SysUtils.h"
#include "unDecodes.h"

namespace {

// Long loops keep the window alive, as every long loop of the program does.
void PumpMessages() {
    if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

std::string HomeFolder() {
    const char *h = std::getenv("HOME");
    return (h && *h) ? ExcludeTrailingPathDelimiter(h) : std::string("/tmp");
}

std::string XdgDataHome() {
    const char *x = std::getenv("XDG_DATA_HOME");
    if (x && *x == '/') return ExcludeTrailingPathDelimiter(x);
    return HomeFolder() + "/.local/share";
}

// A folder from user-dirs.dirs (XDG_DESKTOP_DIR="$HOME/Desktop"), or the fallback.
std::string XdgUserDir(const std::string &name, const std::string &fallback) {
    std::string path = XdgConfigHome() + "/user-dirs.dirs";
    if (FileSize(path) > 0 && FileSize(path) < 65536) {
        try {
            TStringList lines;
            lines.LoadFromFile(path);
            for (const auto &l : lines) {
                std::string t = Trim(l);
                if (!StartsText(name + "=", t)) continue;
                std::string v = Trim(t.substr(name.size() + 1));
                if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
                if (StartsText("$HOME", v)) v = HomeFolder() + v.substr(5);
                if (!v.empty() && v[0] == '/') return ExcludeTrailingPathDelimiter(v);
            }
        } catch (const Exception &) {
        }
    }
    return HomeFolder() + "/" + fallback;
}

// Desktop entry string values escape "\" and line breaks.
std::string DesktopValue(const std::string &s) {
    std::string out;
    for (char c : s) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

// One Exec= argument, quoted when it needs to be.
std::string ExecArg(const std::string &arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"'\\><~|&;$*?#()`%=") == std::string::npos) return arg;
    std::string out = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        if (c == '%') out += '%';
        out += c;
    }
    return out + "\"";
}

// Arguments as the shell's link object takes them: blank-separated, with
// double quotes grouping.
std::vector<std::string> SplitArgs(const std::string &s) {
    std::vector<std::string> out;
    std::string cur;
    bool inQuote = false, have = false;
    for (char c : s) {
        if (c == '"') {
            inQuote = !inQuote;
            have = true;
        } else if (!inQuote && (c == ' ' || c == '\t')) {
            if (have) out.push_back(cur);
            cur.clear();
            have = false;
        } else {
            cur += c;
            have = true;
        }
    }
    if (have) out.push_back(cur);
    return out;
}

struct TJpegError {
    jpeg_error_mgr Mgr;
    jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
    auto *err = reinterpret_cast<TJpegError *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->Message);
    longjmp(err->Jump, 1);
}

void JpegSilence(j_common_ptr, int) {}

}  // namespace

// ---------------------------------------------------------------------------

bool StrToBoolean(const std::string &s) { return s == "True"; }
std::string BooleanToStr(bool b) { return b ? "True" : "False"; }

bool StrToBoolDef(const std::string &s, bool def) {
    std::string t = Trim(s);
    if (SameText(t, "True")) return true;
    if (SameText(t, "False")) return false;
    int64_t n;
    if (TryStrToInt64(t, n)) return n != 0;
    return def;
}

bool StrToBool(const std::string &s) {
    std::string t = Trim(s);
    int64_t n;
    if (!SameText(t, "True") && !SameText(t, "False") && !TryStrToInt64(t, n))
        throw EConvertError("'" + s + "' is not a valid boolean value");
    return StrToBoolDef(s, false);
}

void StrToFont(const std::string &text, TFont &font) {
    std::string s = text;
    int *numbers[] = {&font.Charset, &font.Color, &font.Size};
    for (int field = 0; field < 4; ++field) {
        int p = Pos(",", s);
        if (p == 0) return;
        std::string part = Trim(Copy(s, 1, p - 1));
        Delete(s, 1, p);
        if (part.empty()) continue;
        if (field == 0) font.Name = part;
        else *numbers[field - 1] = StrToIntDef(part, *numbers[field - 1]);
    }
    std::string rest = Trim(s);
    if (!rest.empty()) font.Style = StrToIntDef(rest, font.Style);
}

std::string FontToStr(const TFont &font) {
    return font.Name + "," + IntToStr(font.Charset) + "," + IntToStr(font.Color) + "," +
           IntToStr(font.Size) + "," + IntToStr(font.Style);
}

QFont FontToQFont(const TFont &font) {
    QFont f(MapFontFamily(font.Name));
    if (font.Size > 0) f.setPointSize(font.Size);
    f.setBold(font.Style & fsBold);
    f.setItalic(font.Style & fsItalic);
    f.setUnderline(font.Style & fsUnderline);
    f.setStrikeOut(font.Style & fsStrikeOut);
    return f;
}

int VersionToInt(const std::string &version) {
    if (version.empty()) return -1;
    return StrToInt(StringReplaceAll(version, ".", ""));
}

TAlignment StrToAlignment(const std::string &s) {
    if (s == "taRightJustify") return taRightJustify;
    if (s == "taCenter") return taCenter;
    return taLeftJustify;
}

bool ListContains(const TStringList &list, const std::string &text) {
    for (const auto &line : list) {
        if (line == text) return true;
        PumpMessages();
    }
    return false;
}

void SplitToList(TStringList &list, const std::string &text) {
    size_t i = 0;
    for (;;) {
        size_t j = text.find(';', i);
        std::string part = Trim(text.substr(i, j == std::string::npos ? std::string::npos : j - i));
        if (!part.empty()) list.Add(part);
        if (j == std::string::npos) break;
        i = j + 1;
    }
}

std::string CutExtension(const std::string &fileName) {
    return fileName.size() <= 4 ? std::string() : fileName.substr(0, fileName.size() - 4);
}

std::string TrimLeftChar(const std::string &s, char c) {
    size_t i = 0;
    while (i < s.size() && s[i] == c) ++i;
    return s.substr(i);
}

std::string TrimRightChar(const std::string &s, char c) {
    size_t n = s.size();
    while (n > 0 && s[n - 1] == c) --n;
    return s.substr(0, n);
}

std::string TrimChar(const std::string &s, char c) { return TrimRightChar(TrimLeftChar(s, c), c); }

std::string StripQPrefix(const std::string &s) {
    std::string out = s;
    static const std::string kPrefix = "=?ISO-8859-1?Q?";
    if (Pos(kPrefix, out) == 1) Delete(out, 1, int(kPrefix.size()));
    int p = Pos("?=", out);
    if (p > 0) Delete(out, p, 2);
    return out;
}

bool HasForbiddenFileNameChar(const std::string &name) {
    return name.find_first_of("\\/:*?\"<>|") != std::string::npos;
}

std::string CleanFileName(const std::string &name) {
    std::string out;
    for (char c : name)
        if (std::string_view("\\/:*?\"<>|").find(c) == std::string_view::npos) out += c;
    return out;
}

std::string StripHtmlTags(const std::string &html) {
    // One pass: removing the first tag again and again from the front (each
    // time the first "<" up to the first ">" after it) gives the same text.
    std::string out;
    out.reserve(html.size());
    size_t i = 0, tags = 0;
    while (i < html.size()) {
        size_t lt = html.find('<', i);
        size_t gt = lt == std::string::npos ? std::string::npos : html.find('>', lt + 1);
        if (gt == std::string::npos) {
            out.append(html, i, std::string::npos);
            break;
        }
        out.append(html, i, lt - i);
        if (gt - lt + 1 == 4 && SameText(std::string_view(html).substr(lt, 4), "<br>")) out += "\r\n";
        i = gt + 1;
        if (++tags % 256 == 0) PumpMessages();
    }
    return out;
}

void HtmlToLines(const std::string &html, TStringList &lines) {
    struct TEntity {
        const char *Name;
        unsigned char Char;
    };
    static const TEntity kEntities[] = {
        {"&auml;", 228}, {"&Auml;", 196}, {"&ouml;", 246}, {"&Ouml;", 214}, {"&aring;", 229},
        {"&Aring;", 197}, {"&Uuml;", 220}, {"&uuml;", 252}, {"&lt;", '<'},  {"&gt;", '>'},
    };
    lines.Clear();
    lines.Add("");
    int cur = 0;
    size_t n = html.size(), i = 0;
    while (i < n) {
        char c = html[i];
        if (c == '<') {
            size_t j = i + 1;
            while (j < n && (html[j] == ' ' || html[j] == '\t')) ++j;
            size_t nameStart = j;
            while (j < n && html[j] != ' ' && html[j] != '\t' && html[j] != '>' && html[j] != '<') ++j;
            std::string name = LowerCase(std::string_view(html).substr(nameStart, j - nameStart));
            while (j < n && html[j] != '>' && html[j] != '<') ++j;
            if (name == "br" || name == "li" || name == "p") {
                lines.Add("");
                cur = lines.Count() - 1;
            }
            // A second "<" ends the tag and starts the next one.
            i = (j < n && html[j] == '>') ? j + 1 : j;
            continue;
        }
        if (c == '&') {
            // Only the seven characters from the "&" are looked at: a body
            // full of "&" without ";" must not be scanned to its end each time.
            size_t semi = std::string_view(html).substr(i, 7).find(';');
            if (semi != std::string::npos) semi += i;
            if (semi != std::string::npos) {
                std::string_view ent = std::string_view(html).substr(i, semi - i + 1);
                bool found = false;
                for (const auto &e : kEntities) {
                    if (ent == e.Name) {
                        lines[cur] += Cp1252CharToUtf8(e.Char);
                        i = semi + 1;
                        found = true;
                        break;
                    }
                }
                if (found) continue;
            }
        }
        if (c != '\r' && c != '\n') lines[cur] += c;
        ++i;
    }
}

// ---------------------------------------------------------------------------

std::string ShortcutFileName(const std::string &linkFile) {
    if (SameText(ExtractFileExt(linkFile), ".lnk")) return ChangeFileExt(linkFile, ".desktop");
    return linkFile;
}

bool CreateShortcut(const std::string &linkFile, const std::string &description,
                    const std::string &target, const std::string &arguments,
                    const std::string &workingFolder, const std::string &iconFile,
                    int /*iconIndex*/, int /*showCommand*/) {
    if (linkFile.empty() || target.empty()) return false;
    std::string exec = ExecArg(target);
    for (const auto &a : SplitArgs(arguments)) exec += " " + ExecArg(a);
    std::string name = ExtractFileName(linkFile);
    name = name.substr(0, name.size() - ExtractFileExt(name).size());
    std::string text = "[Desktop Entry]\nType=Application\nName=" + DesktopValue(name) +
                       "\nExec=" + DesktopValue(exec) + "\n";
    if (!workingFolder.empty()) text += "Path=" + DesktopValue(workingFolder) + "\n";
    if (!iconFile.empty()) text += "Icon=" + DesktopValue(iconFile) + "\n";
    if (!description.empty()) text += "Comment=" + DesktopValue(description) + "\n";
    text += "Terminal=false\n";
    try {
        WriteFileAtomic(ShortcutFileName(linkFile), text, 0644);
        return true;
    } catch (const Exception &) {
        return false;
    }
}

std::string GetSpecialFolderPath(int index) {
    switch (index) {
    case 0:
    case 1: return XdgDataHome() + "/applications";
    case 3:
    case 8: return XdgUserDir("XDG_DESKTOP_DIR", "Desktop");
    case 4: return XdgUserDir("XDG_DOCUMENTS_DIR", "Documents");
    case 5: return XdgConfigHome();
    case 7: return XdgUserDir("XDG_TEMPLATES_DIR", "Templates");
    case 9: return ExcludeTrailingPathDelimiter(AutostartFolder());
    case 10: return "/opt";
    default: return {};
    }
}

bool HasDefaultRoute(const std::string &route, const std::string &ipv6Route) {
    TStringList lines;
    lines.SetText(route);
    for (int i = 1; i < lines.Count(); ++i) {
        // Iface Destination Gateway Flags ...; flag 1 means the route is up.
        std::vector<std::string> f;
        for (const auto &t : SplitArgs(lines[i])) f.push_back(t);
        if (f.size() < 4 || f[0] == "lo") continue;
        unsigned long flags = std::strtoul(f[3].c_str(), nullptr, 16);
        if (f[1] == "00000000" && (flags & 1)) return true;
    }
    lines.SetText(ipv6Route);
    for (const auto &l : lines) {
        // dest destlen src srclen nexthop metric refcnt use flags iface
        std::vector<std::string> f = SplitArgs(l);
        if (f.size() < 10 || f[9] == "lo") continue;
        unsigned long flags = std::strtoul(f[8].c_str(), nullptr, 16);
        if (f[0] == std::string(32, '0') && f[1] == "00" && (flags & 1) && !(flags & 0x200))
            return true;
    }
    return false;
}

bool IsInternetConnected() {
    auto readSmall = [](const char *path) {
        std::string out;
        int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return out;
        char buf[8192];
        ssize_t n;
        while (out.size() < (1u << 20) && (n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, size_t(n));
        ::close(fd);
        return out;
    };
    return HasDefaultRoute(readSmall("/proc/net/route"), readSmall("/proc/net/ipv6_route"));
}

void JpegToPicture(const std::string &fileName, QImage &picture) {
    FILE *f = std::fopen(fileName.c_str(), "rb");
    if (!f) throw EInvalidGraphic("Cannot open JPEG file \"" + fileName + "\".");
    jpeg_decompress_struct cinfo;
    TJpegError err;
    cinfo.err = jpeg_std_error(&err.Mgr);
    err.Mgr.error_exit = JpegErrorExit;
    err.Mgr.emit_message = JpegSilence;
    // Set up before setjmp: nothing with a destructor lives across a longjmp.
    QImage *volatile image = new QImage();
    if (setjmp(err.Jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::fclose(f);
        delete image;
        throw EInvalidGraphic("JPEG image \"" + fileName + "\" is corrupt: " + err.Message);
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    // A skin picture is small; a header claiming a giant image is refused.
    if (cinfo.output_width == 0 || cinfo.output_height == 0 || cinfo.output_width > 16384 ||
        cinfo.output_height > 16384 ||
        uint64_t(cinfo.output_width) * cinfo.output_height > 64ULL * 1024 * 1024 ||
        cinfo.output_components != 3) {
        std::snprintf(err.Message, sizeof err.Message, "unsupported size or colour layout");
        longjmp(err.Jump, 1);
    }
    *image = QImage(int(cinfo.output_width), int(cinfo.output_height), QImage::Format_RGB888);
    if (image->isNull()) {
        std::snprintf(err.Message, sizeof err.Message, "out of memory");
        longjmp(err.Jump, 1);
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image->scanLine(int(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    picture = *image;
    delete image;
}

bool IsScreenSaverRunning() { return Desktop().ScreenSaverActive(); }

bool IsProcessRunning(const std::string &exeName) {
    std::string want = LowerCase(exeName);
    if (want.empty()) return false;
    DIR *d = ::opendir("/proc");
    if (!d) return false;
    bool found = false;
    while (dirent *e = ::readdir(d)) {
        const char *n = e->d_name;
        if (*n < '0' || *n > '9') continue;
        std::string base = std::string("/proc/") + n;
        std::string names[2];
        char buf[4096];
        ssize_t len = ::readlink((base + "/exe").c_str(), buf, sizeof buf - 1);
        if (len > 0) names[0] = ExtractFileName(std::string(buf, size_t(len)));
        int fd = ::open((base + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ssize_t r = ::read(fd, buf, sizeof buf - 1);
            ::close(fd);
            if (r > 0) names[1] = ExtractFileName(std::string(buf, strnlen(buf, size_t(r))));
        }
        // Executables here have no ".exe"; a name asked with it still matches.
        for (const auto &name : names) {
            if (!name.empty() && (name == want || name + ".exe" == want)) found = true;
        }
        if (found) break;
    }
    ::closedir(d);
    return found;
}
