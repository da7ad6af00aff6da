#include "UpdateFiles.h"

#include <QCryptographicHash>
#include <QFile>

#include <algorithm>
#include <fcntl.h>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "HTTPGet.h"
#include "Kel_Files.h"
#include "settings/Kel_Reg.h"
#include "settings/ProgramPaths.h"
#include "SysUtils.h"

#ifndef TW_UPDATE_BASE_URL
#define TW_UPDATE_BASE_URL "https://tarnwick.invalid/tarnwick/"
#endif

namespace {

bool IsHttps(const std::string &url) { return StartsText("https://", url) && url.size() > 8; }

std::string WithSlash(std::string url) {
    if (url.empty() || url.back() != '/') url += '/';
    return url;
}

// "/" + the components of an absolute path, "." and ".." folded away.
std::string FoldPath(const std::string &absolute) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= absolute.size()) {
        size_t j = absolute.find('/', i);
        if (j == std::string::npos) j = absolute.size();
        std::string part = absolute.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out;
    for (const auto &p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
}

std::string CurrentFolder() {
    char *cwd = ::getcwd(nullptr, 0);
    std::string s = cwd ? cwd : "/";
    std::free(cwd);
    return s;
}

}  // namespace

std::string UpdateBaseUrl() {
    const char *env = std::getenv(UpdateUrlVariable);
    if (env && IsHttps(Trim(env))) return WithSlash(Trim(env));
    return WithSlash(TW_UPDATE_BASE_URL);
}

std::string UpdateZipUrl() { return UpdateBaseUrl() + "zip/"; }

std::string ApplyUpdateCAFile() {
    const char *env = std::getenv(UpdateCAVariable);
    std::string file = env ? env : "";
    if (!file.empty()) SetHTTPGetCAFile(file);
    return file;
}

bool IsPlainFileName(const std::string &name) {
    if (name.empty() || name == "." || name == ".." || Contains(name, "..")) return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == '*' || c == '?') return false;
    return true;
}

std::string PathInFolder(const std::string &path, const std::string &folder) {
    if (path.empty() || folder.empty() || path.find('\0') != std::string::npos) return {};
    std::string base = folder[0] == '/' ? folder : CurrentFolder() + "/" + folder;
    base = FoldPath(base);
    std::string full = FoldPath(path[0] == '/' ? path : base + "/" + path);
    std::string prefix = base == "/" ? base : base + "/";
    if (full.size() <= prefix.size() || full.compare(0, prefix.size(), prefix) != 0) return {};
    return full;
}

std::string FileSha256(const std::string &path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&f)) return {};
    return hash.result().toHex().toStdString();
}

bool Sha256Matches(const std::string &path, const std::string &expected) {
    std::string want = LowerCase(Trim(expected));
    if (want.empty()) return true;
    std::string have = FileSha256(path);
    return !have.empty() && have == want;
}

bool VersionNumber(const std::string &version, int64_t &out) {
    std::string digits;
    for (char c : version) {
        if (c == '.') continue;
        if (c < '0' || c > '9') return false;
        digits += c;
    }
    if (digits.empty()) return false;
    size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) {
        out = 0;
        return true;
    }
    if (digits.size() - first > 18) return false;  // past what 64 bits surely hold
    out = std::stoll(digits.substr(first));
    return true;
}

bool VersionIsNewer(const std::string &candidate, const std::string &current) {
    int64_t c = 0, cur = -1;
    if (!VersionNumber(candidate, c)) return false;
    if (!VersionNumber(current, cur)) cur = -1;
    return c > cur;
}

std::string SkinBackupFolder(const std::string &programFolder, const std::string &skin) {
    return IncludeTrailingPathDelimiter(programFolder) + "temp/oldskins/" + skin;
}

std::string ProgramBackupFolder(const std::string &programFolder) {
    return IncludeTrailingPathDelimiter(programFolder) + "temp/oldprogram";
}

std::string ProgramRestoreList(const std::string &programFolder) {
    return ProgramBackupFolder(programFolder) + "/restore.lst";
}

bool MarkHandedOver(const std::string &list) {
    int fd = ::open(list.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool marked = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) != 0 &&
                  ::fchmod(fd, st.st_mode & 07555) == 0 && ::fstat(fd, &st) == 0 && (st.st_mode & 0222) == 0;
    ::close(fd);
    return marked;
}

void ClearHandedOverMark(const std::string &list) {
    int fd = ::open(list.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0)
        (void)::fchmod(fd, (st.st_mode & 07777) | 0200);
    ::close(fd);
}

std::vector<std::string> ProfileArguments(const std::vector<std::string> &args) {
    const std::string profile = ProfileOfArgs(args);
    if (profile.empty() || profile.size() > MaxProfileBytes || !IsPlainFileName(profile + ".ini")) return {};
    return {"-user", "_" + profile};
}

bool MoveSkinAside(const std::string &programFolder, const std::string &skin) {
    if (!IsPlainFileName(skin)) return false;
    std::string folder = IncludeTrailingPathDelimiter(programFolder);
    std::string installed = ResolvePathCI(folder + "skins/" + skin);
    if (!DirectoryExists(installed)) return true;
    std::string backup = SkinBackupFolder(folder, skin);
    DeleteFolder(backup);
    if (!ForceDirectories(ExtractFileDir(backup))) return false;
    return RenameFile(installed, backup);
}

namespace {

bool EntryExists(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The path lies inside the folder (not the folder itself).
bool Leads(const std::string &folder, const std::string &path) {
    const std::string prefix = folder + "/";
    return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
}

bool EmptyFolderExcept(const std::string &folder, const std::vector<std::string> &keep) {
    bool ok = true;
    for (const std::string &name : ListDirectory(folder)) {
        const std::string path = folder + "/" + name;
        if (std::find(keep.begin(), keep.end(), path) != keep.end()) continue;
        const bool leads = std::any_of(keep.begin(), keep.end(), [&](const std::string &k) { return Leads(path, k); });
        // A link is never followed: whatever it points at stays.
        ok = (leads && IsFolder(path) ? EmptyFolderExcept(path, keep) : DeleteFiles(path)) && ok;
    }
    return ok;
}

}  // namespace

std::vector<std::string> UpdaterHandOverFiles(const std::string &programFolder) {
    std::vector<std::string> found;
    const std::string temp = PathInFolder("temp", programFolder);
    if (temp.empty()) return found;
    // Fenlow reads the paths of the information files relative to the
    // program folder, without regard to letter case.
    auto keep = [&](const std::string &path) {
        std::string full = PathInFolder(path, programFolder);
        if (full.empty() || !Leads(temp, full)) return;
        full = ResolvePathCI(full);
        if (Leads(temp, full) && EntryExists(full) && std::find(found.begin(), found.end(), full) == found.end())
            found.push_back(full);
    };
    auto named = [&](const char *info, const char *section) {
        const std::string dat = ResolvePathCI(IncludeTrailingPathDelimiter(programFolder) + info);
        if (!FileExists(dat)) return;
        try {
            keep(IniReadString(dat, section, "Path", ""));
        } catch (const Exception &) {
            // An information file that cannot be read hands nothing over.
        }
    };
    named("fenlow.dat", "File");
    named("skins.dat", "FENLOW_File");
    for (const char *archive : {AllSkinsArchiveName, TLSArchiveName, SkinEditorArchiveName})
        keep(std::string("temp/") + archive);
    keep("temp/oldskins");
    keep("temp/oldprogram");
    return found;
}

bool EmptyTempFolder(const std::string &programFolder) {
    try {
        const std::string temp = PathInFolder("temp", programFolder);
        if (temp.empty() || !IsFolder(temp)) return true;
        return EmptyFolderExcept(temp, UpdaterHandOverFiles(programFolder));
    } catch (...) {
        // The program is ending: a folder that cannot be read stays as it is.
        return false;
    }
}
