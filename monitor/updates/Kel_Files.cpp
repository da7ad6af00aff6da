#include "Kel_Files.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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
    static const char kMarker[] = "TW-FILEVERSION:";
    const size_t mlen = sizeof kMarker - 1;
    constexpr int64_t kMaxScan = 512LL * 1024 * 1024;
    int fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {};
    }
    // Chunks overlap by enough to hold a marker with its longest version.
    const size_t kChunk = 1 << 20, kKeep = mlen + 24;
    std::vector<char> buf(kChunk + kKeep);
    size_t have = 0;
    int64_t scanned = 0;
    std::string result;
    for (;;) {
        ssize_t n = ::read(fd, buf.data() + have, kChunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        have += size_t(n);
        scanned += n;
        const char *b = buf.data(), *e = b + have;
        const char *p = b;
        bool found = false;
        while ((p = static_cast<const char *>(memmem(p, size_t(e - p), kMarker, mlen))) != nullptr) {
            // A marker too near the end waits for the next chunk.
            if (size_t(e - p) < kKeep && scanned < st.st_size) break;
            if (ParseVersionAt(p + mlen, e, result)) {
                found = true;
                break;
            }
            p += mlen;
        }
        if (found || scanned >= kMaxScan) break;
        size_t keep = std::min(have, kKeep);
        std::memmove(buf.data(), buf.data() + have - keep, keep);
        have = keep;
    }
    ::close(fd);
    return result;
}

bool IsSubFolder(const TSearchRec &rec) {
    return (rec.Attr & faDirectory) != 0 && rec.Name != "." && rec.Name != "..";
}
