#include "Kel_Files.h"

#include <sys/stat.h>
#include <unistd.h>

#include "FileMarker.h"
#include "SysUtils.h"

namespace {

// Removes one entry; a folder goes with its contents. Links are not followed.
bool RemoveEntry(const std::string &path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) return ::unlink(path.c_str()) == 0;
    bool ok = true;
    for (const auto &name : ListDirectory(path)) ok = RemoveEntry(path + "/" + name) && ok;
    return ::rmdir(path.c_str()) == 0 && ok;
}

bool HasWildcards(const std::string &s) { return s.find_first_of("*?") != std::string::npos; }

}  // namespace

bool DeleteFiles(const std::string &pathOrMask) {
    try {
        if (pathOrMask.empty()) return false;
        std::string name = ExtractFileName(pathOrMask);
        if (!HasWildcards(name)) return RemoveEntry(ExcludeTrailingPathDelimiter(pathOrMask));
        std::string folder = ExtractFilePath(pathOrMask);
        if (HasWildcards(folder)) return false;
        struct stat st;
        if (::stat(folder.empty() ? "." : folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return false;
        bool ok = true;
        for (const auto &e : ListDirectory(folder.empty() ? "." : folder))
            if (MatchesMask(e, name)) ok = RemoveEntry(folder + e) && ok;
        return ok;
    } catch (...) {
        return false;
    }
}

bool DeleteFolder(const std::string &folder) {
    if (folder.empty()) return false;
    std::string f = ExcludeTrailingPathDelimiter(folder);
    // A folder that is a link to another one: the link goes, what it points
    // at stays (emptying the target would delete files outside the folder).
    struct stat st;
    if (::lstat(f.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return ::unlink(f.c_str()) == 0;
    if (!DeleteFiles(f + "/*.*")) return false;
    return ::rmdir(f.c_str()) == 0;
}

namespace {

bool ParseVersionAt(const char *p, const char *end, std::string &out) {
    unsigned parts[4];
    for (int i = 0; i < 4; ++i) {
        if (p >= end || *p < '0' || *p > '9') return false;
        unsigned v = 0;
        while (p < end && *p >= '0' && *p <= '9') {
            v = v * 10 + unsigned(*p - '0');
            if (v > 65535) return false;
            ++p;
        }
        parts[i] = v;
        if (i < 3) {
            if (p >= end || *p != '.') return false;
            ++p;
        }
    }
    if (p < end && *p != '\0') return false;
    out = Format("%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
    return true;
}

}  // namespace

std::string GetFileVersionText(const std::string &fileName) {
    // The longest version, "65535.65535.65535.65535", and the NUL after it.
    return FindMarkedText(fileName, "TW-FILEVERSION:", 24, [](std::string_view text, std::string &out) {
        return ParseVersionAt(text.data(), text.data() + text.size(), out);
    });
}

bool IsSubFolder(const TSearchRec &rec) {
    return (rec.Attr & faDirectory) != 0 && rec.Name != "." && rec.Name != "..";
}
