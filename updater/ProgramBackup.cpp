#include "ProgramBackup.h"

#include <cerrno>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "SysUtils.h"
#include "ZipArchiver.h"
#include "ZipFormat.h"
#include "updates/UpdateFiles.h"

namespace {

// The list is Fenlow's own, but a damaged one must not make it read for ever.
constexpr size_t MaxListBytes = 64u << 20;

// Names from an archive may hold any byte but NUL; the list keeps one name
// a line.
std::string Escape(const std::string &s) {
    std::string out;
    for (char c : s) {
        if (c == '%') out += "%25";
        else if (c == '\n') out += "%0A";
        else if (c == '\r') out += "%0D";
        else out += c;
    }
    return out;
}

std::string Unescape(const std::string &s) {
    auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) && hex(s[i + 2])) {
            out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::string> Components(const std::string &rel) {
    std::vector<std::string> out;
    for (size_t start = 0; start <= rel.size();) {
        size_t end = rel.find('/', start);
        if (end == std::string::npos) end = rel.size();
        std::string comp = rel.substr(start, end - start);
        if (!comp.empty() && comp != ".") out.push_back(comp);
        start = end + 1;
    }
    return out;
}

// A name of the list that stays below the program folder.
bool SafeRelative(const std::string &rel) {
    if (rel.empty() || rel[0] == '/' || rel.find('\0') != std::string::npos) return false;
    for (const std::string &c : Components(rel))
        if (c == "..") return false;
    return !Components(rel).empty();
}

std::string RealPath(const std::string &path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool IsFolder(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A link to a folder that lies inside the program folder (whose real path is
// baseReal, found on first use).
bool LinkStaysInside(const std::string &link, const std::string &programDir, std::string &baseReal) {
    struct stat target;
    if (::stat(link.c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) return false;
    if (baseReal.empty()) baseReal = RealPath(programDir);
    std::string real = RealPath(link);
    return !baseReal.empty() && !real.empty() &&
           (real == baseReal || baseReal == "/" || real.compare(0, baseReal.size() + 1, baseReal + "/") == 0);
}

// Removes a file, a link (never what it points at) or a folder with all
// that is in it. Names are taken as they are: no wildcards.
void RemoveTree(const std::string &path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        for (const std::string &n : ListDirectory(path)) RemoveTree(path + "/" + n);
        ::rmdir(path.c_str());
    } else {
        ::unlink(path.c_str());
    }
}

// A copy where no second name can be made: a link as a link, a file with
// its mode and times.
bool Duplicate(const std::string &from, const std::string &to) {
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0) return false;
    ::unlink(to.c_str());
    if (S_ISLNK(st.st_mode)) {
        std::string target(size_t(st.st_size) + 1, '\0');
        ssize_t n = ::readlink(from.c_str(), target.data(), target.size());
        if (n < 0 || size_t(n) >= target.size()) return false;
        target.resize(size_t(n));
        return ::symlink(target.c_str(), to.c_str()) == 0;
    }
    if (!S_ISREG(st.st_mode)) return false;
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) return false;
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    bool ok = out >= 0;
    char buf[65536];
    while (ok) {
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            ssize_t w = ::write(out, buf + done, size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            ok = w > 0;
            if (ok) done += w;
        }
    }
    ::close(in);
    if (out >= 0) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        ok = ok && ::fchmod(out, st.st_mode & 07777) == 0 && ::futimens(out, times) == 0 && ::fsync(out) == 0;
        ok = ::close(out) == 0 && ok;
        if (!ok) ::unlink(to.c_str());
    }
    return ok;
}

}  // namespace

TProgramBackup::TProgramBackup(const std::string &programDir)
    : FProgramDir(IncludeTrailingPathDelimiter(programDir)), FFolder(ProgramBackupFolder(programDir)) {}

bool TProgramBackup::RecoverInterrupted() {
    struct stat st;
    if (::lstat(FFolder.c_str(), &st) != 0) return true;
    const std::string list = ProgramRestoreList(FProgramDir);
    if (::lstat(list.c_str(), &st) != 0) {
        // Without a list nothing had been written yet (or the update was
        // whole): the backups are spare.
        if (errno != ENOENT) return false;
        Clear();
        return true;
    }
    // A list that cannot be read names backups all the same: they stay with
    // it, and so does the folder as it is, for Tarnwick to tell.
    if (ReadList()) Restore();
    return ::lstat(list.c_str(), &st) != 0;
}

bool TProgramBackup::Prepare(const TZipBaseArchiver &zip) {
    FReplaced.clear();
    FAdded.clear();
    FUnread = 0;
    Clear();
    if (!ForceDirectories(FFolder)) return false;
    std::string baseReal;  // only needed when a link turns up

    // Each folder's names by lower case, as the extraction matches them
    // (the first spelling of the sorted listing wins), and the names the
    // archive adds there as it goes.
    struct TName {
        std::string Spelling;
        bool Added;
    };
    std::map<std::string, std::map<std::string, TName>> folders;
    std::set<std::string> replaced;
    for (int i = 0; i < zip.FileCount(); ++i) {
        const TZipDirItem &item = zip.Files(i);
        if (item.IsSymlink()) continue;  // never made
        std::string rel = ZipSlashes(ZipSlashes(item.Name, '/', '\\'), '\\', '/');
        bool folderEntry = item.IsFolder() || (!rel.empty() && rel.back() == '/');
        std::vector<std::string> comps = Components(rel);
        // Names the extraction refuses write nothing.
        if (comps.empty() || rel[0] == '/' || Contains(rel, ":") || rel.find('\0') != std::string::npos) continue;
        bool climbs = false;
        for (const std::string &c : comps) climbs = climbs || c == "..";
        if (climbs) continue;

        std::string cur = FProgramDir;
        size_t kept = 0;  // leading folders that were there before
        for (size_t k = 0; k < comps.size(); ++k) {
            bool leaf = k + 1 == comps.size() && !folderEntry;
            auto at = folders.find(cur);
            if (at == folders.end()) {
                std::map<std::string, TName> names;
                for (const std::string &n : ListDirectory(cur)) names.emplace(LowerCase(n), TName{n, false});
                at = folders.emplace(cur, std::move(names)).first;
            }
            auto hit = at->second.find(LowerCase(comps[k]));
            if (hit == at->second.end()) {
                hit = at->second.emplace(LowerCase(comps[k]), TName{comps[k], true}).first;
                FAdded.push_back({(cur + comps[k]).substr(FProgramDir.size()), kept, !leaf});
            }
            std::string path = cur + hit->second.Spelling;
            if (InOwnFolder(path)) return false;
            if (hit->second.Added) {
                cur = path + "/";
                continue;
            }
            struct stat st;
            if (::lstat(path.c_str(), &st) != 0) break;
            if (leaf) {
                // No file takes a folder's place: that entry fails.
                if (S_ISDIR(st.st_mode) || !replaced.insert(path).second) break;
                std::string name = std::to_string(FReplaced.size() + 1);
                std::string to = FFolder + "/" + name;
                // A second name keeps the old file whole when the new one is
                // renamed over it; flags 0: a link is kept as the link.
                if (::linkat(AT_FDCWD, path.c_str(), AT_FDCWD, to.c_str(), 0) != 0 && !Duplicate(path, to))
                    return false;
                FReplaced.push_back({name, path.substr(FProgramDir.size())});
                break;
            }
            if (!OnTheWay(path, baseReal)) break;
            cur = path + "/";
            ++kept;
        }
    }
    return WriteList();
}

void TProgramBackup::Commit() { Clear(); }

void TProgramBackup::Restore() {
    // Only files the archive named go, and folders it made only when empty:
    // a list left by a killed Fenlow may be played back after Tarnwick ran
    // and kept files of its own there. Every name is reached again as the
    // extraction reached it: the folders on its way may have become links
    // since.
    for (const TAdded &a : FAdded)
        if (!a.Folder)
            for (const std::string &path : Matches(a))
                if (!IsFolder(path)) ::unlink(path.c_str());
    for (auto a = FAdded.rbegin(); a != FAdded.rend(); ++a)
        if (a->Folder)
            for (const std::string &path : Matches(*a))
                if (IsFolder(path)) ::rmdir(path.c_str());
    bool whole = true;
    for (const TReplaced &r : FReplaced) {
        std::string from = FFolder + "/" + r.Backup, to = FProgramDir + r.Target;
        struct stat st;
        if (::lstat(from.c_str(), &st) != 0) continue;  // put back before
        if (!Reachable(r.Target, Components(r.Target).size() - 1) || InOwnFolder(to)) {
            whole = false;
            continue;
        }
        bool back = ::rename(from.c_str(), to.c_str()) == 0;
        // A copy from another file system comes in beside and then in one
        // rename, so the name never holds half a file.
        std::string beside = ExtractFilePath(to) + "." + ExtractFileName(to).substr(0, 64) + ".restore";
        if (!back && errno == EXDEV) back = Duplicate(from, beside) && ::rename(beside.c_str(), to.c_str()) == 0;
        if (back) {
            // Its file is back: what is left of the backup (the copy, or a
            // second name of a file the update never replaced) goes.
            ::unlink(from.c_str());
            continue;
        }
        ::unlink(beside.c_str());
        whole = false;
    }
    // What could not come back keeps its backup and the list, and so do the
    // lines that could not be read: the next update tries again before it
    // starts.
    if (whole && FUnread == 0) Clear();
}

bool TProgramBackup::InOwnFolder(const std::string &path) const {
    const std::string own = LowerCase(FFolder + "/");
    return LowerCase(path + "/").compare(0, own.size(), own) == 0;
}

bool TProgramBackup::OnTheWay(const std::string &path, std::string &baseReal) const {
    struct stat st;
    if (InOwnFolder(path) || ::lstat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) || (S_ISLNK(st.st_mode) && LinkStaysInside(path, FProgramDir, baseReal));
}

bool TProgramBackup::Reachable(const std::string &relative, size_t folders) const {
    std::vector<std::string> comps = Components(relative);
    std::string baseReal, path = FProgramDir;
    for (size_t k = 0; k < folders && k < comps.size(); ++k) {
        path += comps[k];
        if (!OnTheWay(path, baseReal)) return false;
        path += "/";
    }
    return true;
}

std::vector<std::string> TProgramBackup::Matches(const TAdded &added) const {
    std::vector<std::string> comps = Components(added.Path);
    std::string folder = FProgramDir;
    for (size_t k = 0; k < added.Kept && k < comps.size(); ++k) folder += comps[k] + "/";
    if (!Reachable(added.Path, added.Kept)) return {};
    // The new part in any letter case: nothing there matched it before the
    // update, and where an entry failed before its file was made, the next
    // entry of that name may have made it in its own spelling.
    std::vector<std::string> found;
    std::vector<std::string> level{folder};
    std::string baseReal;
    for (size_t k = added.Kept; k < comps.size(); ++k) {
        const bool leaf = k + 1 == comps.size();
        std::vector<std::string> next;
        for (const std::string &f : level)
            for (const std::string &n : ListDirectory(f))
                if (LowerCase(n) == LowerCase(comps[k]) && (leaf || OnTheWay(f + n, baseReal)))
                    next.push_back(f + n + (leaf ? "" : "/"));
        level = std::move(next);
    }
    for (const std::string &path : level)
        if (path != folder) found.push_back(path);
    return found;
}

bool TProgramBackup::WriteList() const {
    std::string text;
    for (const TReplaced &r : FReplaced) text += "R " + r.Backup + " " + Escape(r.Target) + "\n";
    for (const TAdded &a : FAdded)
        text += std::string(a.Folder ? "D " : "F ") + std::to_string(a.Kept) + " " + Escape(a.Path) + "\n";
    try {
        WriteFileAtomic(ProgramRestoreList(FProgramDir), text, 0600);
        return true;
    } catch (...) {
        return false;
    }
}

bool TProgramBackup::ReadList() {
    FReplaced.clear();
    FAdded.clear();
    FUnread = 0;
    std::string list = ProgramRestoreList(FProgramDir);
    struct stat st;
    if (::lstat(list.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || size_t(st.st_size) > MaxListBytes) return false;
    std::string text;
    try {
        text = ReadFileToString(list);
    } catch (...) {
        return false;
    }
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        // "R backup name", "F kept name" (a file) or "D kept name" (a folder).
        char kind = line.size() > 2 && line[1] == ' ' ? line[0] : 0;
        size_t space = line.find(' ', 2);
        if (!kind || space == std::string::npos) {
            ++FUnread;
            continue;
        }
        std::string number = line.substr(2, space - 2);
        std::string path = Unescape(line.substr(space + 1));
        bool digits = !number.empty() && number.size() <= 9 &&
                      number.find_first_not_of("0123456789") == std::string::npos;
        if (!digits || !SafeRelative(path) || (kind != 'R' && kind != 'F' && kind != 'D')) {
            ++FUnread;
            continue;
        }
        if (kind == 'R') FReplaced.push_back({number, path});
        else FAdded.push_back({path, size_t(std::stoul(number)), kind == 'D'});
    }
    return true;
}

void TProgramBackup::Clear() {
    // The list goes first: a Fenlow killed while the backups go must not
    // find a list that puts half of them over a whole update.
    ::unlink(ProgramRestoreList(FProgramDir).c_str());
    RemoveTree(FFolder);
}
