// Changing an archive: what the writing operations gather in the directory
// until the update is written, the stored names of files on disk, and the
// names of the volumes of a multi-volume archive.
#include "ZipArchiver.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

#include "ZipFormat.h"

namespace {

constexpr size_t MaxField = 0xFFFF;  // names, comments and extra fields have 16-bit lengths

std::string CurrentFolder() {
    char buf[PATH_MAX];
    return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string("/");
}

// A full path with "." and ".." resolved and repeated separators joined, as
// the platform expands a path; without a trailing separator.
std::string NormalizePath(const std::string &full) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= full.size()) {
        size_t end = full.find('/', i);
        if (end == std::string::npos) end = full.size();
        std::string comp = full.substr(i, end - i);
        i = end + 1;
        if (comp.empty() || comp == ".") continue;
        if (comp == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(std::move(comp));
    }
    std::string out;
    for (const std::string &p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
}

bool HasDrive(const std::string &p) { return p.size() >= 2 && p[1] == ':' && std::isalpha(uint8_t(p[0])); }

// The base folder as a full path with a trailing "/".
std::string AbsoluteBase(const std::string &baseDir) {
    std::string b = ZipSlashes(baseDir, '\\', '/');
    if (b.empty()) b = CurrentFolder();
    else if (b[0] != '/') b = CurrentFolder() + "/" + b;
    b = NormalizePath(b);
    return b == "/" ? b : b + "/";
}

bool IsAscii(const std::string &s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return uint8_t(c) < 0x80; });
}

// The attribute bits of a file (folder, read-only, archive) with its Unix
// mode in the high word, as Info-ZIP stores them.
uint32_t ExternalAttrOf(const struct stat &st) {
    uint32_t attr = S_ISDIR(st.st_mode) ? uint32_t(faDirectory) : uint32_t(faArchive);
    if (!(st.st_mode & S_IWUSR)) attr |= faReadOnly;
    return (uint32_t(st.st_mode & 0xFFFF) << 16) | attr;
}

// Attributes a handler chose: a read-only bit takes the write bits of the
// Unix mode away, so that every extractor sees the same.
uint32_t SettleAttr(uint32_t attr) {
    if ((attr & faReadOnly) && (attr >> 16) != 0) attr &= ~(uint32_t(0222) << 16);
    return attr;
}

bool Climbs(const std::string &name) {
    if (name.empty() || name[0] == '/' || HasDrive(name)) return true;
    for (size_t start = 0; start <= name.size();) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

std::string ZipStoredName(const std::string &path, const std::string &baseDir, TZipStorePath storePath) {
    std::string base = AbsoluteBase(baseDir);
    std::string p = ZipSlashes(path, '\\', '/');
    bool drive = HasDrive(p);
    bool server = p.size() >= 2 && p[0] == '/' && p[1] == '/';
    std::string full;
    if (drive || server) {
        // Another system's path: taken as it stands.
        full = p;
        if (!full.empty() && full.back() == '/') full.pop_back();
        if (!full.empty() && full.back() == '.' && (full.size() == 1 || full[full.size() - 2] == '/'))
            full.pop_back();
    } else {
        full = NormalizePath(!p.empty() && p[0] == '/' ? p : base + p);
    }
    std::string name;
    switch (storePath) {
        case spNoPath: name = ExtractFileName(full); break;
        case spRelativePath:
            // Outside the base folder the relative path would climb; the full path stays.
            if (!drive && !server && full.size() >= base.size() && full.compare(0, base.size(), base) == 0)
                name = full.substr(base.size());
            else if (!drive && !server && full + "/" == base)
                name.clear();  // the base folder itself
            else
                name = full;
            break;
        case spFullPath:
        case spFullPathWithDrive: name = full; break;
    }
    bool keepDrive = storePath == spFullPathWithDrive;
    if (HasDrive(name)) {
        if (!keepDrive) {
            name.erase(0, name.find(':') + 1);
            if (!name.empty() && name[0] == '/') name.erase(0, 1);
        }
    } else if (name.size() >= 2 && name[0] == '/' && name[1] == '/') {
        if (!keepDrive) {
            size_t next = name.find('/', 2);
            name = next == std::string::npos ? std::string() : name.substr(next + 1);
        }
    } else if (!name.empty() && name[0] == '/') {
        // This platform has no drives: the root is never stored, since an
        // extractor would write such a name anywhere.
        name.erase(0, 1);
    }
    return name;
}

size_t ZipCompressionBufferSize(int mode) {
    if (mode >= 1 && mode <= 3) return 0x80000;
    if (mode >= 7) return 0x180000;
    return 0x100000;
}

std::string ZipVolumeFileName(const std::string &archive, int number, bool last, TZipSpanningMode mode,
                              bool advanced, bool exe) {
    std::string dir = ExtractFilePath(archive);
    std::string ext = ExtractFileExt(archive);
    std::string base = ExtractFileName(archive);
    base = base.substr(0, base.size() - ext.size());
    std::string useExt = exe ? std::string(".exe") : ext;
    std::string numbered = dir + base + "_" + Format("%.3u", unsigned(number + 1)) + useExt;
    if (mode == smSpanning) return advanced ? numbered : dir + base + useExt;
    if (last) {
        if (!exe || SameText(ext, ".zip")) return archive;
        return dir + base + ".zip";
    }
    if (number == 0 && exe) return dir + base + ".exe";
    return advanced ? numbered : dir + base + ".z" + Format("%.2d", number + 1);
}

// ---------------------------------------------------------------------------
// Updates.

// One change outside BeginUpdate and EndUpdate is an update of its own: it
// is written when the change is complete, and dropped when it fails.
class TZipBaseArchiver::TUpdateScope {
public:
    explicit TUpdateScope(TZipBaseArchiver &a) : A(a), Own(!a.FUpdatePending) {
        if (Own) A.BeginUpdate();
    }
    ~TUpdateScope() {
        if (!Own) return;
        try {
            A.CancelUpdate();
        } catch (...) {
        }
    }
    void Commit() {
        if (!Own) return;
        Own = false;
        A.EndUpdate();
    }

private:
    TZipBaseArchiver &A;
    bool Own;
};

// While the changes are gathered, the handlers that are asked may not change
// the directory themselves.
struct TZipBaseArchiver::TBusy {
    explicit TBusy(TZipBaseArchiver &a) : A(a) { ++A.FBusy; }
    ~TBusy() { --A.FBusy; }
    TZipBaseArchiver &A;
};

void TZipBaseArchiver::CheckWritable() {
    if (!FActive) throw EZipException(13, this);
    // A handler of a running operation must not change the directory under it.
    if (FBusy) throw EZipException(37, this);
    if (FReadOnly) throw EZipException(32, this);
    if (FLastVolume > 0 || (FSpanningMode != smNone && !FNewArchive)) throw EZipException(52, this);
}

void TZipBaseArchiver::BeginUpdate() {
    CheckWritable();
    if (FUpdatePending) {
        ++FUpdateDepth;
        return;
    }
    for (int i = 0; i < FDir.Dir.Count(); ++i) {
        TZipDirItem &item = FDir.Dir[i];
        item.OrigIndex = i;
        item.ToProcess = false;
        item.SrcFileName.clear();
        item.SrcStream = nullptr;
        item.DeleteSource = false;
    }
    FDir.SavedDir.Assign(FDir.Dir);
    FSavedComment = FComment;
    FModified = false;
    FStubPending = false;
    FCommitted = false;
    FMovedSources.clear();
    FResult = TZipOperationResult();
    FUpdatePending = true;
    FUpdateDepth = 1;
}

void TZipBaseArchiver::RestoreSavedDirectory() {
    FDir.Dir.Assign(FDir.SavedDir);
    for (int i = 0; i < FDir.Dir.Count(); ++i) FDir.Dir[i].OrigIndex = -1;
    FComment = FSavedComment;
    FStubPending = false;
}

void TZipBaseArchiver::CancelUpdate() {
    if (!FUpdatePending) return;
    if (FBusy) throw EZipException(37, this);
    RestoreSavedDirectory();
    FDir.SavedDir.SetCount(0);
    FUpdatePending = false;
    FUpdateDepth = 0;
    FMovedSources.clear();
}

void TZipBaseArchiver::EndUpdate() {
    if (!FUpdatePending) throw EZipException(22, this);
    if (FBusy) throw EZipException(37, this);
    if (--FUpdateDepth > 0) return;
    std::lock_guard<std::recursive_mutex> guard(ZipOperationLock());
    ++FBusy;
    struct TLeave {
        TZipBaseArchiver *A;
        ~TLeave() { A->LeaveOperation(); }
    } leave{this};
    bool written = false;
    FCommitted = false;
    try {
        written = !FModified || WriteUpdatedArchive();
    } catch (...) {
        if (!FCommitted) RestoreSavedDirectory();
        FDir.SavedDir.SetCount(0);
        FUpdatePending = false;
        FUpdateDepth = 0;
        FMovedSources.clear();
        throw;
    }
    if (!written) RestoreSavedDirectory();
    FDir.SavedDir.SetCount(0);
    FUpdatePending = false;
    FUpdateDepth = 0;
    if (written) DeleteMovedSources();
    FMovedSources.clear();
}

void TZipBaseArchiver::DeleteMovedSources() {
    // Files first, then their folders, deepest first, when they are empty.
    std::vector<std::string> folders;
    for (const std::string &path : FMovedSources) {
        if (!path.empty() && path.back() == '/') folders.push_back(ExcludeTrailingPathDelimiter(path));
        else DeleteFile(path);
    }
    std::sort(folders.begin(), folders.end(), [](const std::string &a, const std::string &b) {
        return a.size() > b.size();
    });
    for (const std::string &f : folders) RemoveDir(f);
}

bool TZipBaseArchiver::ConfirmChange(const std::string &storedName, TZipProcessOperation op) {
    bool confirm = true;
    DoConfirmProcessFile(ZipSlashes(storedName, '/', '\\'), op, confirm);
    return confirm;
}

void TZipBaseArchiver::QueueItem(TZipDirItem item) {
    int existing = FDir.Dir.IndexOf(item.Name);
    if (existing >= 0) {
        // Replaces the entry of that name; if the new data cannot be had, the
        // old entry is what stays.
        item.OrigIndex = FDir.Dir[existing].OrigIndex;
        if (!FDir.Dir.Rename(existing, item.Name)) throw EZipException(7, this);
        FDir.Dir[existing] = std::move(item);
    } else {
        FDir.Dir.Add(std::move(item));
    }
}

// ---------------------------------------------------------------------------
// Adding files.

std::vector<std::string> TZipBaseArchiver::FindSources(const std::string &fileMask, int searchAttr,
                                                        const std::string &exclusionMask) {
    std::vector<std::string> found;
    std::string mask = ZipSlashes(fileMask, '\\', '/');
    if (HasDrive(mask)) mask.erase(0, 2);
    if (mask.empty()) return found;
    std::string base = AbsoluteBase(BaseDir);
    std::string full = mask[0] == '/' ? mask : base + mask;
    std::string exclusion = ZipSlashes(exclusionMask, '\\', '/');
    bool folders = searchAttr & faDirectory;

    // The archive itself (and its volumes) never goes into itself.
    struct stat self {};
    bool haveSelf = !FInMemory && !FCustomStream && ::stat(FileName.c_str(), &self) == 0;
    auto isSelf = [&](const struct stat &st) { return haveSelf && st.st_dev == self.st_dev && st.st_ino == self.st_ino; };
    auto excluded = [&](const std::string &path) {
        if (exclusion.empty()) return false;
        std::string rel = path.compare(0, base.size(), base) == 0 ? path.substr(base.size()) : path;
        if (!rel.empty() && rel.back() == '/') rel.pop_back();
        return MatchWildcard(rel, exclusion, true) || MatchWildcard(ExtractFileName(rel), exclusion, true);
    };

    std::string folder = ExtractFilePath(full);
    std::string nameMask = ExtractFileName(full);
    bool recurse = Options.Recurse;
    // A mask that names a folder takes the folder with what it holds.
    bool wild = nameMask.find_first_of("*?") != std::string::npos;
    std::string trimmed = full;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    if (!wild && DirectoryExists(trimmed)) {
        if (folders && !excluded(trimmed + "/")) found.push_back(NormalizePath(trimmed) + "/");
        folder = NormalizePath(trimmed) + "/";
        if (folder == "//") folder = "/";
        nameMask = "*";
    }
    if (nameMask == "*.*") nameMask = "*";

    // Links to folders are not followed: a link back up would never end.
    std::function<void(const std::string &, int)> walk = [&](const std::string &dir, int depth) {
        if (depth > 256) return;
        std::vector<std::string> names;
        try {
            names = ListDirectory(dir.empty() ? "." : dir);
        } catch (const Exception &) {
            return;
        }
        for (const std::string &name : names) {
            std::string path = dir + name;
            struct stat st;
            if (::lstat(path.c_str(), &st) != 0) continue;
            if (S_ISLNK(st.st_mode)) {
                if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            }
            if (S_ISDIR(st.st_mode)) {
                if (!recurse) continue;
                if (folders && MatchWildcard(name, nameMask, true) && !excluded(path + "/"))
                    found.push_back(path + "/");
                walk(path + "/", depth + 1);
            } else if (S_ISREG(st.st_mode)) {
                // Pipes, devices and sockets have no data to keep, and reading
                // a pipe could wait for ever.
                if (isSelf(st) || !MatchWildcard(name, nameMask, true) || excluded(path)) continue;
                found.push_back(path);
            }
        }
    };
    if (DirectoryExists(folder.empty() ? "." : folder)) walk(folder, 0);
    return found;
}

void TZipBaseArchiver::QueueSource(const std::string &path, TZipProcessOperation op) {
    bool folder = !path.empty() && path.back() == '/';
    std::string original = folder ? ExcludeTrailingPathDelimiter(path) : path;
    struct stat st;
    if (::stat(original.c_str(), &st) != 0) {
        FResult.Skipped.Add(original);
        return;
    }
    TZipDirItem item;
    item.Name = ZipStoredName(original, BaseDir, Options.StorePath);
    if (item.Name.empty()) return;  // the base folder itself
    if (folder) item.Name += "/";
    uint32_t attr = ExternalAttrOf(st);
    UnixToDosDateTime(st.st_mtime, item.ModDate, item.ModTime);
    std::string eventName = ZipSlashes(item.Name, '/', '\\');
    int eventAttr = int(attr);
    std::string comment;
    DoStoreFile(eventName, eventAttr, comment, original);
    item.Name = ZipSlashes(eventName, '\\', '/');
    ++FResult.Selected;
    if (item.Name.empty() || item.Name.size() > MaxField || comment.size() > MaxField) {
        FResult.Failed.Add(original);
        return;
    }
    item.ExternalAttr = SettleAttr(uint32_t(eventAttr));
    item.Comment = comment;
    if (!ConfirmChange(item.Name, op)) {
        FResult.Skipped.Add(item.Name);
        return;
    }
    item.SrcFileName = folder ? original + "/" : original;
    item.ToProcess = true;
    item.Operation = op;
    item.DeleteSource = op == poMove;
    for (const std::string &m : NoCompressionMasks)
        if (MatchWildcard(ExtractFileName(item.Name), m, true)) item.NoCompression = true;
    if (!FModified) FBatchOp = op;
    FModified = true;
    QueueItem(std::move(item));
}

void TZipBaseArchiver::QueueFiles(const std::string &mask, int searchAttr, const std::string &exclusionMask,
                                  TZipProcessOperation op) {
    CheckWritable();
    TUpdateScope scope(*this);
    {
        TBusy busy(*this);
        for (const std::string &path : FindSources(mask, searchAttr, exclusionMask)) QueueSource(path, op);
    }
    scope.Commit();
}

void TZipBaseArchiver::AddFiles(const std::string &FileMask, int SearchAttr, const std::string &ExclusionMask) {
    QueueFiles(FileMask, SearchAttr, ExclusionMask, poAdd);
}

void TZipBaseArchiver::MoveFiles(const std::string &FileMask, int SearchAttr, const std::string &ExclusionMask) {
    QueueFiles(FileMask, SearchAttr, ExclusionMask, poMove);
}

void TZipBaseArchiver::AddFromStream(const std::string &FileName, TStream &Stream, int FileAttr) {
    CheckWritable();
    TUpdateScope scope(*this);
    std::string name = ZipSlashes(FileName, '\\', '/');
    if (HasDrive(name)) name.erase(0, 2);
    while (!name.empty() && name[0] == '/') name.erase(0, 1);
    // A name that ends in a separator names a folder, which holds no data.
    if (name.empty() || name.back() == '/') throw EZipException(9, this);
    TZipDirItem item;
    UnixToDosDateTime(::time(nullptr), item.ModDate, item.ModTime);
    std::string eventName = ZipSlashes(name, '/', '\\');
    int attr = int((uint32_t(S_IFREG | 0644) << 16) | uint32_t(FileAttr & 0xFFFF));
    std::string comment;
    bool confirmed;
    {
        TBusy busy(*this);
        DoStoreFile(eventName, attr, comment, FileName);
        confirmed = ConfirmChange(ZipSlashes(eventName, '\\', '/'), poAdd);
    }
    item.Name = ZipSlashes(eventName, '\\', '/');
    if (item.Name.empty() || item.Name.back() == '/') throw EZipException(9, this);
    if (item.Name.size() > MaxField || comment.size() > MaxField) throw EZipException(12, {FileName}, this);
    item.ExternalAttr = SettleAttr(uint32_t(attr));
    item.Comment = comment;
    ++FResult.Selected;
    if (!confirmed) {
        FResult.Skipped.Add(item.Name);
        scope.Commit();
        return;
    }
    item.SrcStream = &Stream;
    item.SrcStreamPos = Stream.Position();
    item.ToProcess = true;
    item.Operation = poAdd;
    for (const std::string &m : NoCompressionMasks)
        if (MatchWildcard(ExtractFileName(item.Name), m, true)) item.NoCompression = true;
    if (!FModified) FBatchOp = poAdd;
    FModified = true;
    QueueItem(std::move(item));
    scope.Commit();
}

// ---------------------------------------------------------------------------
// Changing entries.

void TZipBaseArchiver::UpdateFiles(const std::string &FileMask, int SearchAttr, const std::string &ExclusionMask) {
    CheckWritable();
    TUpdateScope scope(*this);
    {
        TBusy busy(*this);
        SelectMatching(FileMask, SearchAttr, ExclusionMask);
        std::string base = AbsoluteBase(BaseDir);
        for (int i = 0; i < FDir.Dir.Count(); ++i) {
            TZipDirItem &item = FDir.Dir[i];
            if (!item.Selected || item.IsFolder()) continue;
            ++FResult.Selected;
            std::string stored = item.Name;
            // Only names that stay below the base folder are looked for there.
            std::string path = base + stored;
            struct stat st;
            bool present = !Climbs(stored) && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
            if (!present || ((item.ExternalAttr & faReadOnly) && !Options.ReplaceReadOnly)) {
                FResult.Skipped.Add(stored);
                continue;
            }
            uint16_t date = 0, time = 0;
            UnixToDosDateTime(st.st_mtime, date, time);
            uint32_t onDisk = (uint32_t(date) << 16) | time, inArchive = (uint32_t(item.ModDate) << 16) | item.ModTime;
            bool refresh = true;
            switch (Options.OverwriteMode) {
                case omPrompt: {
                    std::string dest = ZipSlashes(stored, '/', '\\');
                    bool confirm = false;
                    DoConfirmOverwrite(path, dest, confirm);
                    refresh = confirm;
                    break;
                }
                case omNever: refresh = false; break;
                case omIfNewer: refresh = onDisk > inArchive; break;
                case omIfOlder: refresh = onDisk < inArchive; break;
                case omAlways: break;
            }
            if (!refresh || !ConfirmChange(stored, poUpdate)) {
                FResult.Skipped.Add(stored);
                continue;
            }
            TZipDirItem &again = FDir.Dir[i];  // handlers may not change the directory, but stay safe
            again.ToProcess = true;
            again.SrcFileName = path;
            again.SrcStream = nullptr;
            again.Operation = poUpdate;
            again.ModDate = date;
            again.ModTime = time;
            again.ExternalAttr = ExternalAttrOf(st);
            if (!FModified) FBatchOp = poUpdate;
            FModified = true;
        }
    }
    scope.Commit();
}

void TZipBaseArchiver::DeleteFiles(const std::string &FileMask, int SearchAttr, const std::string &ExclusionMask) {
    CheckWritable();
    TUpdateScope scope(*this);
    {
        TBusy busy(*this);
        SelectMatching(FileMask, SearchAttr, ExclusionMask);
        std::vector<bool> keep(size_t(FDir.Dir.Count()), true);
        bool any = false;
        for (int i = 0; i < FDir.Dir.Count(); ++i) {
            if (!FDir.Dir[i].Selected) continue;
            ++FResult.Selected;
            if (!ConfirmChange(FDir.Dir[i].Name, poDelete)) {
                FResult.Skipped.Add(FDir.Dir[i].Name);
                continue;
            }
            keep[size_t(i)] = false;
            ++FResult.Processed;
            any = true;
        }
        if (any) {
            FDir.Dir.KeepOnly(keep);
            if (!FModified) FBatchOp = poDelete;
            FModified = true;
        }
    }
    scope.Commit();
}

bool TZipBaseArchiver::RenameFile(const std::string &OldName, const std::string &NewName) {
    CheckWritable();
    std::string from = ZipSlashes(OldName, '\\', '/');
    std::string to = ZipSlashes(NewName, '\\', '/');
    int index = FDir.Dir.IndexOf(from);
    if (index < 0 && !from.empty() && from.back() != '/') index = FDir.Dir.IndexOf(from + "/");
    if (index < 0) throw EZipException(42, {OldName}, this);
    bool folder = FDir.Dir[index].IsFolder();
    if (folder && !to.empty() && to.back() != '/') to += '/';
    while (!to.empty() && to[0] == '/') to.erase(0, 1);
    if (to.empty()) throw EZipException(9, this);
    // A folder takes the entries below it along.
    std::vector<std::pair<int, std::string>> renames{{index, to}};
    std::string oldPrefix = LowerCase(FDir.Dir[index].Name);
    if (folder)
        for (int i = 0; i < FDir.Dir.Count(); ++i) {
            const std::string &n = FDir.Dir[i].Name;
            if (i != index && n.size() > oldPrefix.size() && LowerCase(n.substr(0, oldPrefix.size())) == oldPrefix)
                renames.emplace_back(i, to + n.substr(oldPrefix.size()));
        }
    for (const auto &[i, name] : renames) {
        if (name.size() > MaxField) throw EZipException(12, {NewName}, this);
        int other = FDir.Dir.IndexOf(name);
        if (other >= 0 && other != i) return false;
    }
    TUpdateScope scope(*this);
    bool confirmed;
    {
        TBusy busy(*this);
        ++FResult.Selected;
        confirmed = ConfirmChange(FDir.Dir[index].Name, poRename);
        if (!confirmed) FResult.Skipped.Add(FDir.Dir[index].Name);
    }
    if (confirmed) {
        for (const auto &[i, name] : renames) {
            FDir.Dir.Rename(i, name);
            TZipDirItem &renamed = FDir.Dir[i];
            renamed.RawName.clear();
            renamed.Flags = uint16_t(IsAscii(name) ? renamed.Flags & ~0x800 : renamed.Flags | 0x800);
            renamed.Operation = poRename;
        }
        ++FResult.Processed;
        if (!FModified) FBatchOp = poRename;
        FModified = true;
    }
    scope.Commit();
    return confirmed;
}

void TZipBaseArchiver::ChangeFilesAttr(const std::string &FileMask, int NewAttr) {
    CheckWritable();
    TUpdateScope scope(*this);
    {
        TBusy busy(*this);
        SelectMatching(FileMask, 0xFF, "");
        for (int i = 0; i < FDir.Dir.Count(); ++i) {
            TZipDirItem &item = FDir.Dir[i];
            if (!item.Selected) continue;
            ++FResult.Selected;
            if (!ConfirmChange(item.Name, poChangeAttr)) {
                FResult.Skipped.Add(item.Name);
                continue;
            }
            uint32_t attr = (item.ExternalAttr & 0xFFFF0000u) | (uint32_t(NewAttr) & 0xFFFF);
            if ((attr >> 16) != 0 && !(attr & faReadOnly)) attr |= uint32_t(0200) << 16;
            TZipDirItem &again = FDir.Dir[i];
            again.ExternalAttr = SettleAttr(attr);
            again.Operation = poChangeAttr;
            ++FResult.Processed;
            if (!FModified) FBatchOp = poChangeAttr;
            FModified = true;
        }
    }
    scope.Commit();
}

void TZipBaseArchiver::ChangeFilesComment(const std::string &FileMask, const std::string &NewComment) {
    CheckWritable();
    if (NewComment.size() > MaxField) throw Exception("A comment holds at most 65535 bytes");
    TUpdateScope scope(*this);
    {
        TBusy busy(*this);
        SelectMatching(FileMask, 0xFF, "");
        for (int i = 0; i < FDir.Dir.Count(); ++i) {
            if (!FDir.Dir[i].Selected) continue;
            ++FResult.Selected;
            if (!ConfirmChange(FDir.Dir[i].Name, poChangeComment)) {
                FResult.Skipped.Add(FDir.Dir[i].Name);
                continue;
            }
            FDir.Dir[i].Comment = NewComment;
            FDir.Dir[i].Operation = poChangeComment;
            ++FResult.Processed;
            if (!FModified) FBatchOp = poChangeComment;
            FModified = true;
        }
    }
    scope.Commit();
}

void TZipBaseArchiver::SetComment(const std::string &NewComment) {
    CheckWritable();
    if (NewComment.size() > MaxField) throw Exception("A comment holds at most 65535 bytes");
    TUpdateScope scope(*this);
    if (NewComment != FComment) {
        FComment = NewComment;
        if (!FModified) FBatchOp = poChangeComment;
        FModified = true;
    }
    scope.Commit();
}

void TZipBaseArchiver::MakeSFX() {
    if (!FActive) throw EZipException(13, this);
    if (SFXStub.empty()) throw EZipException(17, this);
    if (FLastVolume > 0 || FSpanningMode != smNone) throw EZipException(49, this);
    // A stub shows as bytes before the first entry, whether or not the
    // offsets of the entries count them.
    int64_t first = FDirOffset;
    for (int i = 0; i < FDir.Dir.Count(); ++i)
        first = std::min<int64_t>(first, int64_t(std::min<uint64_t>(FDir.Dir[i].LocalHeaderOffset, INT64_MAX)));
    if (FPrefixSize > 0 || first > 0) throw EZipException(50, this);
    CheckWritable();
    if (!FileExists(SFXStub)) throw EZipException(56, this);
    TUpdateScope scope(*this);
    FStubPending = true;
    if (!FModified) FBatchOp = poMakeSFX;
    FModified = true;
    scope.Commit();
}
