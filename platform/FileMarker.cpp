#include "FileMarker.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

std::string FindMarkedText(const std::string &path, std::string_view marker, size_t reach,
                           const TMarkedTextTaker &take) {
    // The files searched are some megabytes (some tens with the sanitizers);
    // one far beyond that is not searched to its end.
    constexpr int64_t kMaxScan = 512LL * 1024 * 1024;
    if (marker.empty()) return {};
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {};
    }
    // Chunks overlap by a marker and its reach, so one that straddles two
    // is seen whole.
    const size_t kChunk = 1 << 20, kKeep = marker.size() + reach;
    std::vector<char> buf(kChunk + kKeep);
    size_t have = 0;
    int64_t scanned = 0;
    std::string result;
    bool found = false;
    while (!found && scanned < kMaxScan) {
        ssize_t n = ::read(fd, buf.data() + have, kChunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        have += size_t(n);
        scanned += n;
        const bool last = scanned >= st.st_size;
        const char *b = buf.data(), *e = b + have;
        for (const char *p = b;
             (p = static_cast<const char *>(memmem(p, size_t(e - p), marker.data(), marker.size())));
             p += marker.size()) {
            // One too near the end waits for the next chunk.
            if (size_t(e - p) < kKeep && !last) break;
            const char *text = p + marker.size();
            if (take(std::string_view(text, size_t(e - text)), result)) {
                found = true;
                break;
            }
        }
        const size_t keep = std::min(have, kKeep);
        std::memmove(buf.data(), buf.data() + have - keep, keep);
        have = keep;
    }
    ::close(fd);
    return found ? result : std::string();
}
