// The program folder's lock. Tarnwick holds it for its whole life, shared,
// so that several Tarnwicks (profiles of "-user") can run from one folder;
// Fenlow takes it alone before it replaces Tarnwick's executable or writes
// Tarnwick's files, so it never works on the folder while a Tarnwick runs. A running
// executable can be renamed and unlinked here, so the existence of the file
// says nothing about whether Tarnwick still runs: the lock does.
//
// It is an flock on "tarnwick.lock" in the program folder. The kernel lets go
// of it when the holder exits, however it exits; the descriptor is never
// inherited by the programs the holder starts.
#pragma once

#include <string>

class TProgramLock {
public:
    TProgramLock() = default;
    ~TProgramLock() { Release(); }
    TProgramLock(TProgramLock &&other) noexcept : FFd(other.FFd) { other.FFd = -1; }
    TProgramLock &operator=(TProgramLock &&other) noexcept;
    TProgramLock(const TProgramLock &) = delete;
    TProgramLock &operator=(const TProgramLock &) = delete;

    bool Held() const { return FFd >= 0; }
    void Release();

private:
    friend TProgramLock AcquireProgramLock(const std::string &, int, bool);
    int FFd = -1;
};

// Takes the lock of the folder, waiting up to waitMs milliseconds while
// another process (or another object of this one) holds it in a way that
// excludes this one: any holder excludes a sole lock, a sole holder excludes
// a shared one. Held() is false when it could not be had, or when the folder
// admits no lock file.
TProgramLock AcquireProgramLock(const std::string &programFolder, int waitMs = 0, bool shared = false);
// How a Tarnwick takes the folder at its start: shared, at once. False
// while Fenlow holds it alone: it is installing an update and starts
// Tarnwick itself once that is done, so one that waited would end up beside
// it. A folder that admits no lock file gives true, with lock not held.
bool TakeProgramLockAtStart(const std::string &programFolder, TProgramLock &lock);
// True while someone holds the folder's lock in any way. A probe only: the
// answer may be stale at once; whoever must act on it takes the lock instead.
bool ProgramLockHeld(const std::string &programFolder);
// The lock file's path.
std::string ProgramLockFile(const std::string &programFolder);
