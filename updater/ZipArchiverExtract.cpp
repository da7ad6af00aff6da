// Selecting entries and extracting or testing them: the per-entry loop with
// its events, safe target names, temporary outputs, and the data itself
// (stored, deflated, traditionally encrypted).
#include "ZipArchiver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <climits>
#include <mutex>
#include <random>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "ZipCrypto.h"
#include "ZipFormat.h"

namespace {

class TCountingSink : public TZipDataSink {
public:
    bool Write(const uint8_t *, size_t) override { return true; }
};

class TStreamSink : public TZipDataSink {
public:
    explicit TStreamSink(TStream &s) : S(s) {}
    bool Write(const uint8_t *data, size_t count) override { return S.Write(data, int64_t(count)) == int64_t(count); }
    TStream &S;
};

class TFdSink : public TZipDataSink {
public:
    explicit TFdSink(int fd) : Fd(fd) {}
    bool Write(const uint8_t *data, size_t count) override {
        while (count > 0) {
            ssize_t w = ::write(Fd, data, count);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            data += w;
            count -= size_t(w);
        }
        return true;
    }
    int Fd;
};

// An open folder, closed when it goes.
struct TFolderFd {
    int Fd = -1;
    TFolderFd() = default;
    TFolderFd(const TFolderFd &) = delete;
    TFolderFd &operator=(const TFolderFd &) = delete;
    ~TFolderFd() { Reset(-1); }
    void Reset(int fd) {
        if (Fd >= 0) ::close(Fd);
        Fd = fd;
    }
};

// The real path of an open folder ("" when unknown).
std::string RealPathOf(int fd) {
    char buf[PATH_MAX];
    std::string link = "/proc/self/fd/" + std::to_string(fd);
    return ::realpath(link.c_str(), buf) ? std::string(buf) : std::string();
}

enum TFolderWalk { fwOk, fwOutside, fwCannotMake };

// Opens the folder rel (levels separated by "/") below the open folder base,
// making missing levels when make is set. A level that is a link is
// followed only while it stays below base: a link planted in the program
// folder must not carry the files of an archive anywhere else.
TFolderWalk OpenBelow(int baseFd, const std::string &rel, bool make, TFolderFd &out) {
    std::string baseReal;  // only needed when a link turns up
    TFolderFd cur;         // not open while the walk is still at the base
    auto at = [&] { return cur.Fd >= 0 ? cur.Fd : baseFd; };
    for (size_t start = 0; start < rel.size();) {
        size_t end = rel.find('/', start);
        if (end == std::string::npos) end = rel.size();
        std::string comp = rel.substr(start, end - start);
        start = end + 1;
        if (comp.empty() || comp == ".") continue;
        int fd = ::openat(at(), comp.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT && make) {
            if (::mkdirat(at(), comp.c_str(), 0777) != 0 && errno != EEXIST) return fwCannotMake;
            fd = ::openat(at(), comp.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (fd < 0) {
            struct stat st;
            if (::fstatat(at(), comp.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode))
                return fwCannotMake;
            if (baseReal.empty()) baseReal = RealPathOf(baseFd);
            fd = ::openat(at(), comp.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0 || baseReal.empty()) {
                if (fd >= 0) ::close(fd);
                return fwOutside;
            }
            std::string real = RealPathOf(fd);
            bool inside = !real.empty() && (real == baseReal || baseReal == "/" ||
                                            real.compare(0, baseReal.size() + 1, baseReal + "/") == 0);
            if (!inside) {
                ::close(fd);
                return fwOutside;
            }
        }
        cur.Reset(fd);
    }
    if (cur.Fd < 0) {
        out.Reset(::fcntl(baseFd, F_DUPFD_CLOEXEC, 0));
        return out.Fd >= 0 ? fwOk : fwCannotMake;
    }
    out.Reset(cur.Fd);
    cur.Fd = -1;
    return fwOk;
}

// A temporary output file beside the target, in the open folder that holds
// it; removed unless committed, so a failed entry never leaves a truncated
// file or destroys the older one. Committing replaces a link under the
// target's name instead of writing through it.
class TTempOutput {
public:
    TTempOutput(int folderFd, const std::string &name) : Folder(folderFd) {
        static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        // Short enough for any file-name limit, whatever the target's length.
        std::string stem = "." + name.substr(0, 64) + ".";
        for (int attempt = 0; attempt < 100 && Fd < 0; ++attempt) {
            std::string candidate = stem;
            for (int i = 0; i < 6; ++i) candidate += letters[NextRandom() % (sizeof letters - 1)];
            Fd = ::openat(Folder, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (Fd >= 0) Name = candidate;
            else if (errno != EEXIST) break;
        }
    }
    ~TTempOutput() {
        if (Fd >= 0) ::close(Fd);
        if (!Name.empty()) ::unlinkat(Folder, Name.c_str(), 0);
    }
    bool Ok() const { return Fd >= 0; }
    bool Commit(const std::string &target) {
        if (::close(Fd) != 0) {
            Fd = -1;
            return false;
        }
        Fd = -1;
        if (::renameat(Folder, Name.c_str(), Folder, target.c_str()) != 0) return false;
        Name.clear();
        return true;
    }
    int Folder;
    std::string Name;
    int Fd = -1;

private:
    static uint64_t NextRandom() {
        static std::mt19937_64 gen{std::random_device{}()};
        static std::mutex lock;
        std::lock_guard<std::mutex> guard(lock);
        return gen();
    }
};

// Chunk size for reading entry data: 1 MiB, halved while one chunk's buffers
// would take more than a twentieth of the free physical memory.
size_t ChunkSize() {
    size_t chunk = 0x100000;
    long pages = sysconf(_SC_AVPHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) {
        uint64_t avail = uint64_t(pages) * uint64_t(pageSize);
        while (chunk > 512 && uint64_t(chunk) * 3 > avail / 20) chunk /= 2;
    }
    return chunk;
}

struct TInflateGuard {
    z_stream S{};
    bool Open = false;
    ~TInflateGuard() {
        if (Open) inflateEnd(&S);
    }
};

}  // namespace

struct TZipBaseArchiver::TOpenFolder {
    std::string Base, Rel;
    bool Made = false;  // opened with CreateDirs
    int Fd = -1;
    ~TOpenFolder() {
        if (Fd >= 0) ::close(Fd);
    }
};

// ---------------------------------------------------------------------------
// Selecting and processing entries.

void TZipBaseArchiver::SelectMatching(const std::string &fileMask, int searchAttr,
                                      const std::string &exclusionMask) {
    std::string mask = fileMask;
    if (Options.StorePath != spFullPathWithDrive && mask.size() >= 2 && mask[1] == ':') mask.erase(0, 2);
    mask = ZipSlashes(mask, '\\', '/');
    int star = Pos("*.*", mask);
    if (star > 0) mask = Copy(mask, 1, star - 1) + "*" + Copy(mask, star + 3);
    bool noExtension = !mask.empty() && mask.back() == '.';
    if (noExtension) mask.pop_back();
    std::string maskDir = LowerCase(ExtractFilePath(mask));
    for (int i = 0; i < FDir.Dir.Count(); ++i) {
        TZipDirItem &item = FDir.Dir[i];
        std::string name = item.Name;
        while (!name.empty() && name.back() == '/') name.pop_back();
        std::string bare = ExtractFileName(name);
        bool sel = true;
        if (!Options.Recurse && LowerCase(ExtractFilePath(name)) != maskDir) sel = false;
        if (sel) sel = MatchWildcard(name, mask, true) || MatchWildcard(bare, mask, true);
        if (sel && noExtension && Contains(bare, ".")) sel = false;
        uint32_t attr = item.ExternalAttr & 0xFF;
        if (item.IsFolder()) attr |= faDirectory;
        if (sel && (attr & 0x1E & ~uint32_t(searchAttr))) sel = false;
        // The caller's exclusion mask, when given, takes entries out again.
        if (sel && !exclusionMask.empty()) {
            std::string ex = ZipSlashes(exclusionMask, '\\', '/');
            sel = !(MatchWildcard(name, ex, true) || MatchWildcard(bare, ex, true));
        }
        item.Selected = sel;
    }
}

void TZipBaseArchiver::ExtractMatching(const std::string &FileMask, int SearchAttr,
                                       const std::string &ExclusionMask) {
    CheckOpen();
    SelectMatching(FileMask, SearchAttr, ExclusionMask);
    ProcessSelected(poExtract);
}

void TZipBaseArchiver::TestMatching(const std::string &FileMask, int SearchAttr,
                                    const std::string &ExclusionMask) {
    CheckOpen();
    SelectMatching(FileMask, SearchAttr, ExclusionMask);
    ProcessSelected(poTest);
}

void TZipBaseArchiver::ProcessSelected(TZipProcessOperation op) {
    std::lock_guard<std::recursive_mutex> guard(ZipOperationLock());
    // A nested operation (from a timer inside a question) gets its own state
    // and gives the outer one back when it ends.
    ++FBusy;
    struct TRestore {
        TZipBaseArchiver *A;
        int Total, Done;
        bool Cancel;
        TZipProcessOperation Op;
        ~TRestore() {
            A->FEntriesTotal = Total;
            A->FEntriesDone = Done;
            A->FCancel = Cancel;
            A->FCurrentOp = Op;
            A->FLastFolder.reset();
            A->LeaveOperation();
        }
    } restore{this, FEntriesTotal, FEntriesDone, FCancel, FCurrentOp};

    std::vector<int> selected;
    for (int i = 0; i < FDir.Dir.Count(); ++i)
        if (FDir.Dir[i].Selected) selected.push_back(i);
    TZipOperationResult result;
    result.Selected = int(selected.size());
    result.Damaged = FRecovered;
    FEntriesTotal = int(selected.size());
    FEntriesDone = 0;
    FCancel = false;
    FCurrentOp = op;
    FNameCache.clear();
    FLastFolder.reset();

    bool cancel = false;
    DoOverallProgress(0, op, ppStart, cancel);
    if (cancel) FCancel = true;
    for (int index : selected) {
        if (FCancel || FCloseRequested || !FActive) break;
        if (index >= FDir.Dir.Count()) break;
        std::string stored = FDir.Dir[index].Name;
        std::string name = ZipSlashes(stored, '/', '\\');
        bool confirm = true;
        DoConfirmProcessFile(name, op, confirm);
        if (!confirm) {
            result.Skipped.Add(stored);
            continue;
        }
        cancel = false;
        DoFileProgress(name, 0, op, ppStart, cancel);
        if (cancel) {
            FCancel = true;
            break;
        }
        TEntryOutcome outcome = eoDone;
        bool failed = false;
        for (;;) {
            try {
                outcome = ExtractEntry(index, op);
                break;
            } catch (const EZipException &e) {
                TZipFailureAction action = fxaIgnore;
                DoProcessFileFailure(name, op, e.NativeError, e.ErrorCode, e.Message(), action);
                if (action == fxaRetry && !FCloseRequested && FActive) continue;
                failed = true;
                if (action == fxaAbort) result.Aborted = true;
                break;
            }
        }
        if (failed) {
            result.Failed.Add(stored);
            if (result.Aborted) break;
            continue;
        }
        if (outcome == eoCancelled) {
            FCancel = true;
            break;
        }
        if (outcome == eoSkipped) result.Skipped.Add(stored);
        cancel = false;
        DoFileProgress(name, 100, op, ppEnd, cancel);
        if (cancel) FCancel = true;
        ++FEntriesDone;
        ++result.Processed;
    }
    result.Cancelled = FCancel;
    cancel = false;
    DoOverallProgress(100, op, ppEnd, cancel);
    FResult = std::move(result);
}

std::string TZipBaseArchiver::ResolveTarget(const std::string &base, const std::string &rel) {
    std::string cur = base;
    bool trailing = !rel.empty() && rel.back() == '/';
    size_t start = 0;
    bool resolving = true;
    while (start < rel.size()) {
        size_t end = rel.find('/', start);
        if (end == std::string::npos) end = rel.size();
        std::string comp = rel.substr(start, end - start);
        start = end + 1;
        if (comp.empty() || comp == ".") continue;
        if (!cur.empty() && cur.back() != '/') cur += '/';
        if (resolving) {
            auto found = FNameCache.find(cur);
            if (found == FNameCache.end()) {
                std::map<std::string, std::string> names;
                if (DirectoryExists(cur.empty() ? "." : cur))
                    for (const std::string &n : ListDirectory(cur.empty() ? "." : cur)) names.emplace(LowerCase(n), n);
                found = FNameCache.emplace(cur, std::move(names)).first;
            }
            auto hit = found->second.find(LowerCase(comp));
            if (hit != found->second.end()) {
                comp = hit->second;
            } else {
                // About to be created under this spelling; later entries
                // find it here.
                found->second.emplace(LowerCase(comp), comp);
                resolving = false;
            }
        }
        cur += comp;
    }
    if (trailing && (cur.empty() || cur.back() != '/')) cur += '/';
    return cur;
}

TZipBaseArchiver::TEntryOutcome TZipBaseArchiver::ExtractEntry(int index, TZipProcessOperation op) {
    if (op == poTest) {
        TCountingSink sink;
        bool checksOk = false;
        TEntryOutcome outcome = WriteEntryData(index, sink, checksOk);
        if (outcome == eoDone && !checksOk && !ExtractCorruptedFiles) throw EZipException(8, this);
        return outcome;
    }
    const TZipDirItem item = FDir.Dir[index];
    std::string original = ZipSlashes(item.Name, '/', '\\');
    std::string eventName = original;
    int attr = int(item.ExternalAttr);
    DoExtractFile(eventName, attr, item.Comment);
    bool renamedByCaller = eventName != original;
    std::string rel = ZipSlashes(eventName, '\\', '/');

    // A link entry is never followed or made: its target could point anywhere.
    if (item.IsSymlink()) return eoSkipped;

    bool absolute = (!rel.empty() && rel[0] == '/') || Contains(rel, ":");
    bool climbs = false, tooLong = rel.size() >= PATH_MAX;
    for (size_t start = 0; start <= rel.size() && !tooLong;) {
        size_t end = rel.find('/', start);
        if (end == std::string::npos) end = rel.size();
        if (rel.compare(start, end - start, "..") == 0) climbs = true;
        // No file system here takes it, and making its folders level by
        // level would cost far more than the name is worth.
        if (end - start > NAME_MAX) tooLong = true;
        start = end + 1;
    }
    // Names from the archive stay inside the target folder; only a name the
    // caller's own handler chose may point elsewhere.
    if (climbs || tooLong || (absolute && !renamedByCaller) || rel.empty() || rel.find('\0') != std::string::npos)
        throw EZipException(19, {item.Name}, this);

    std::string base = BaseDir.empty() ? std::string("./") : IncludeTrailingPathDelimiter(BaseDir);
    std::string target = absolute ? rel : ResolveTarget(base, rel);
    if (target.size() >= PATH_MAX) throw EZipException(19, {item.Name}, this);
    bool folder = item.IsFolder() || (!rel.empty() && rel.back() == '/');
    if (!Options.CreateDirs) {
        if (folder) return eoDone;
        target = absolute ? rel : ResolveTarget(base, ExtractFileName(rel));
    }
    std::string dir = folder ? target : ExtractFilePath(target);
    // The folder that receives the file, held open so that nothing swapped
    // in on the way redirects the write.
    TFolderFd ownFolder;
    std::shared_ptr<TOpenFolder> sharedFolder;
    int dirFd = -1;
    auto openFolder = [&](const std::string &path) {
        if (Options.CreateDirs && !path.empty() && !DirectoryExists(path) && !ForceDirectories(path))
            throw EZipException(20, {path}, this);
        ownFolder.Reset(::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        // Without folders of its own to make, a missing folder means the
        // file cannot be made.
        if (ownFolder.Fd < 0) throw Options.CreateDirs ? EZipException(20, {path}, this) : EZipException(19, {target}, this);
        dirFd = ownFolder.Fd;
    };
    if (absolute) {
        openFolder(dir);  // the caller's handler chose it
    } else {
        std::string relDir = dir.substr(std::min(base.size(), dir.size()));
        sharedFolder = FLastFolder;
        if (!sharedFolder || sharedFolder->Base != base || sharedFolder->Rel != relDir ||
            sharedFolder->Made != Options.CreateDirs) {
            TFolderFd baseFd;
            std::string baseDir = ExcludeTrailingPathDelimiter(base);
            if (Options.CreateDirs && !baseDir.empty() && !DirectoryExists(baseDir) && !ForceDirectories(baseDir))
                throw EZipException(20, {baseDir}, this);
            baseFd.Reset(::open(baseDir.empty() ? "/" : baseDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (baseFd.Fd < 0)
                throw Options.CreateDirs ? EZipException(20, {baseDir}, this) : EZipException(19, {target}, this);
            TFolderFd walked;
            switch (OpenBelow(baseFd.Fd, relDir, Options.CreateDirs, walked)) {
                case fwOk: break;
                case fwOutside: throw EZipException(19, {item.Name}, this);
                case fwCannotMake: throw EZipException(20, {dir}, this);
            }
            sharedFolder = std::make_shared<TOpenFolder>();
            sharedFolder->Base = base;
            sharedFolder->Rel = relDir;
            sharedFolder->Made = Options.CreateDirs;
            sharedFolder->Fd = walked.Fd;
            walked.Fd = -1;
            FLastFolder = sharedFolder;
        }
        dirFd = sharedFolder->Fd;
    }
    if (folder) return eoDone;
    std::string leaf = ExtractFileName(target);
    // A name that names the folder itself ("." or "a/..") is no file.
    if (leaf.empty() || leaf == "." || leaf == "..") throw EZipException(19, {target}, this);

    time_t entryTime = DosDateTimeToUnix(item.ModDate, item.ModTime);
    struct stat st;
    if (::fstatat(dirFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode)) throw EZipException(19, {target}, this);
        bool readOnly = S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR);
        if (readOnly && !Options.ReplaceReadOnly) return eoSkipped;
        switch (Options.OverwriteMode) {
            case omPrompt: {
                std::string dest = ZipSlashes(target, '/', '\\');
                bool confirm = false;
                DoConfirmOverwrite(original, dest, confirm);
                if (!confirm) return eoSkipped;
                std::string chosen = ZipSlashes(dest, '\\', '/');
                if (chosen != target) {
                    // Another name the caller chose: its folder is theirs too.
                    target = chosen;
                    leaf = ExtractFileName(target);
                    if (leaf.empty()) throw EZipException(19, {target}, this);
                    openFolder(ExtractFilePath(target));
                }
                break;
            }
            case omNever: return eoSkipped;
            case omIfNewer:
                if (st.st_mtime >= entryTime) return eoSkipped;
                break;
            case omIfOlder:
                if (entryTime >= st.st_mtime) return eoSkipped;
                break;
            case omAlways: break;
        }
    }

    TTempOutput out(dirFd, leaf);
    if (!out.Ok()) throw EZipException(19, {target}, this);
    TFdSink sink(out.Fd);
    bool checksOk = false;
    TEntryOutcome outcome = WriteEntryData(index, sink, checksOk);
    if (outcome != eoDone) return outcome;  // the temporary goes, the old file stays
    if (!checksOk && !ExtractCorruptedFiles) throw EZipException(8, this);

    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = entryTime;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    ::futimens(out.Fd, times);
    unsigned mode = 0644;
    if (Options.SetAttributes) {
        if (item.HasUnixMode() && S_ISREG(item.UnixMode())) mode = item.UnixMode() & 0777;
        if (uint32_t(attr) & faReadOnly) mode &= ~0222u;
    }
    ::fchmod(out.Fd, mode);
    if (!out.Commit(leaf)) throw EZipException(19, {target}, this);
    return eoDone;
}

void TZipBaseArchiver::LeaveOperation() {
    // A close asked for during the operation happens now.
    if (--FBusy == 0 && FCloseRequested) {
        FCloseRequested = false;
        CloseZip();
    }
}

// Handlers may pump messages, and a timer may then run another operation on
// this archive; reading goes on where it was.
void TZipBaseArchiver::KeepReadPosition(const std::function<void()> &fire) {
    int volume = FCurrentVolume;
    int64_t at = FStream->Position();
    fire();
    if (FCurrentVolume != volume) SelectVolume(volume);
    FStream->SetPosition(at);
}

bool TZipBaseArchiver::ExtractToStream(int index, TStream &dest) {
    if (!FActive) throw EZipException(13, this);
    std::lock_guard<std::recursive_mutex> guard(ZipOperationLock());
    TStreamSink sink(dest);
    bool checksOk = false;
    ++FBusy;
    struct TDone {
        TZipBaseArchiver *A;
        ~TDone() { A->LeaveOperation(); }
    } done{this};
    return WriteEntryData(index, sink, checksOk) == eoDone && checksOk;
}

TZipBaseArchiver::TEntryOutcome TZipBaseArchiver::WriteEntryData(int index, TZipDataSink &sink, bool &checksOk) {
    checksOk = false;
    if (index < 0 || index >= FDir.Dir.Count()) throw EZipException(16, this);
    const TZipDirItem item = FDir.Dir[index];
    std::string eventName = ZipSlashes(item.Name, '/', '\\');
    TZipProcessOperation op = FCurrentOp;

    if (FLastVolume > 0) SelectVolume(int(std::min<uint32_t>(item.DiskStart, uint32_t(FLastVolume))));
    if (item.LocalHeaderOffset > uint64_t(INT64_MAX)) throw EZipException(35, this);
    FStream->SetPosition(int64_t(item.LocalHeaderOffset));
    uint8_t h[30];
    if (ReadSpan(h, 30) != 30 || Get32(h) != SigLocal) throw EZipException(35, this);
    int64_t skip = int64_t(Get16(h + 26)) + Get16(h + 28);
    if (FLastVolume == 0) {
        FStream->Seek(skip, TSeekOrigin::soCurrent);
    } else {
        std::vector<uint8_t> scratch(static_cast<size_t>(skip));
        if (ReadSpan(scratch.data(), skip) != skip) throw EZipException(35, this);
    }

    uint64_t compressed = item.CompressedSize;
    if (FLastVolume == 0) {
        // Entry data never runs into the directory (or past the end).
        int64_t dataStart = FStream->Position();
        int64_t limit = std::min<int64_t>(FDirOffset, FStream->Size());
        compressed = dataStart >= limit ? 0 : std::min<uint64_t>(compressed, uint64_t(limit - dataStart));
    }
    if (item.Overlaps) throw EZipException(8, this);
    if (item.Method == 9) throw EZipException(55, this);
    if (item.Method != 0 && item.Method != 8) throw EZipException(8, this);

    std::unique_ptr<TZipCryptKeys> keys;
    if (item.Encrypted()) {
        if (compressed < 12) throw EZipException(8, this);
        uint8_t header[12];
        if (ReadSpan(header, 12) != 12) throw EZipException(8, this);
        compressed -= 12;
        uint8_t check = (item.Flags & 8) ? uint8_t(item.ModTime >> 8) : uint8_t(item.Crc32 >> 24);
        // One wrong password in 256 passes the one-byte check; with no
        // password given at all, ask before trying the empty one.
        for (bool first = true;; first = false) {
            keys = std::make_unique<TZipCryptKeys>(Password);
            uint8_t plain[12];
            std::memcpy(plain, header, 12);
            keys->Decode(plain, 12);
            if (plain[11] == check && !(first && Password.empty())) break;
            std::string newPassword = Password;
            bool skipFile = false;
            KeepReadPosition([&] { DoPassword(eventName, newPassword, skipFile); });
            if (skipFile) return eoSkipped;
            Password = newPassword;
        }
    }

    // Buffers no larger than the entry needs, so small entries stay cheap.
    size_t chunk = size_t(std::min<uint64_t>(ChunkSize(), std::max<uint64_t>(compressed, 1)));
    size_t outSize = size_t(std::clamp<uint64_t>(item.UncompressedSize + 1, 4096, std::max<size_t>(ChunkSize(), 65536)));
    std::vector<uint8_t> in(chunk);
    std::vector<uint8_t> outBuf(item.Method == 8 ? outSize : 0);
    TInflateGuard z;
    if (item.Method == 8) {
        if (inflateInit2(&z.S, -MAX_WBITS) != Z_OK) throw EDecompressionError(item.Name, this);
        z.Open = true;
    }
    uint64_t processed = 0, written = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    bool streamEnd = false;
    const uint64_t declared = item.UncompressedSize;
    while (processed < compressed && !streamEnd) {
        bool cancel = false;
        double fraction = double(processed) / double(compressed);
        KeepReadPosition([&] {
            DoFileProgress(eventName, fraction * 100.0, op, ppProcess, cancel);
            if (!cancel && FEntriesTotal > 0)
                DoOverallProgress((fraction + FEntriesDone) / FEntriesTotal * 100.0, op, ppProcess, cancel);
        });
        if (cancel) {
            FCancel = true;
            return eoCancelled;
        }
        int64_t want = int64_t(std::min<uint64_t>(chunk, compressed - processed));
        int64_t got = ReadSpan(in.data(), want);
        if (got <= 0) break;
        processed += uint64_t(got);
        if (keys) keys->Decode(in.data(), size_t(got));
        if (item.Method == 0) {
            if (written + uint64_t(got) > declared) throw EZipException(8, this);
            crc = crc32(crc, in.data(), uInt(got));
            if (!sink.Write(in.data(), size_t(got))) throw EZipException(46, this);
            written += uint64_t(got);
        } else {
            z.S.next_in = in.data();
            z.S.avail_in = uInt(got);
            do {
                z.S.next_out = outBuf.data();
                z.S.avail_out = uInt(outBuf.size());
                int ret = inflate(&z.S, Z_NO_FLUSH);
                if (ret == Z_NEED_DICT || (ret < 0 && ret != Z_BUF_ERROR)) throw EDecompressionError(item.Name, this);
                size_t have = outBuf.size() - z.S.avail_out;
                // A stream that yields more than it declared is cut off at
                // once, so no archive can fill the disk.
                if (written + have > declared) throw EZipException(8, this);
                if (have) {
                    crc = crc32(crc, outBuf.data(), uInt(have));
                    if (!sink.Write(outBuf.data(), have)) throw EZipException(46, this);
                    written += have;
                }
                if (ret == Z_STREAM_END) {
                    streamEnd = true;
                    break;
                }
                if (ret == Z_BUF_ERROR) break;
            } while (z.S.avail_in > 0 || z.S.avail_out == 0);
        }
        if (got < want) break;
    }
    if (item.Method == 8 && !streamEnd && declared > 0) {
        checksOk = false;
        return eoDone;
    }
    checksOk = written == declared && uint32_t(crc) == item.Crc32;
    return eoDone;
}
