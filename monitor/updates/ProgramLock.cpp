#include "ProgramLock.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

#include "SysUtils.h"

namespace {

int OpenLockFile(const std::string &path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    // A folder the user may read but not write: an existing lock file still
    // serves (flock needs no write access).
    if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    return fd;
}

bool TryFlock(int fd, bool shared = false) {
    for (;;) {
        if (::flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0) return true;
        if (errno != EINTR) return false;
    }
}

}  // namespace

TProgramLock &TProgramLock::operator=(TProgramLock &&other) noexcept {
    if (this != &other) {
        Release();
        FFd = other.FFd;
        other.FFd = -1;
    }
    return *this;
}

void TProgramLock::Release() {
    if (FFd < 0) return;
    ::flock(FFd, LOCK_UN);
    ::close(FFd);
    FFd = -1;
}

std::string ProgramLockFile(const std::string &programFolder) {
    return IncludeTrailingPathDelimiter(programFolder) + "tarnwick.lock";
}

TProgramLock AcquireProgramLock(const std::string &programFolder, int waitMs, bool shared) {
    TProgramLock lock;
    int fd = OpenLockFile(ProgramLockFile(programFolder));
    if (fd < 0) return lock;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs < 0 ? 0 : waitMs);
    for (;;) {
        if (TryFlock(fd, shared)) {
            lock.FFd = fd;
            return lock;
        }
        if (std::chrono::steady_clock::now() >= until) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::close(fd);
    return lock;
}

bool TakeProgramLockAtStart(const std::string &programFolder, TProgramLock &lock) {
    lock = AcquireProgramLock(programFolder, 0, true);
    if (lock.Held()) return true;
    if (ProgramLockHeld(programFolder)) return false;
    // Let go of just now, or no lock file to be had.
    lock = AcquireProgramLock(programFolder, 0, true);
    return true;
}

bool ProgramLockHeld(const std::string &programFolder) {
    int fd = ::open(ProgramLockFile(programFolder).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;  // nobody ever took it here
    bool free = TryFlock(fd);
    if (free) ::flock(fd, LOCK_UN);
    ::close(fd);
    return !free;
}
