// "fenlow.dat" and "skins.dat" come from the update site: whatever they hold,
// the names, paths and versions read from them must pass the checks or be
// refused, and what passes must keep to the program folder.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "Classes.h"
#include "IniFile.h"
#include "SysUtils.h"
#include "updates/UpdateFiles.h"

namespace {

void CheckPath(const std::string &path) {
    static const std::string folder = "/opt/tarnwick/";
    std::string inside = PathInFolder(path, folder);
    if (inside.empty()) return;
    if (inside.compare(0, folder.size(), folder) != 0 || inside.size() <= folder.size()) std::abort();
    if (Contains(inside, "/../") || Contains(inside, "/./") || Contains(inside, "//") || EndsText("/..", inside))
        std::abort();
}

void CheckName(const std::string &name) {
    if (!IsPlainFileName(name)) return;
    if (Contains(name, "/") || Contains(name, "\\") || Contains(name, "..") || name.find('\0') != std::string::npos)
        std::abort();
    CheckPath(name);
}

void CheckVersion(const std::string &v) {
    int64_t n = -1;
    if (VersionNumber(v, n) && n < 0) std::abort();
    if (VersionIsNewer(v, v)) std::abort();
    if (VersionIsNewer(v, "0.8.2.5") && !VersionNumber(v, n)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static std::string path = [] {
        char tmpl[] = "/tmp/fuzz_updateinfoXXXXXX";
        int fd = mkstemp(tmpl);
        if (fd >= 0) close(fd);
        return std::string(tmpl);
    }();
    std::string bytes(reinterpret_cast<const char *>(data), size);
    // A plain write (no flush to disk: thousands of inputs a second), and
    // no parse of an earlier input taken for this one.
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(bytes.data(), std::streamsize(bytes.size()));
    }
    IniFileCacheClear();
    CheckName(bytes);
    CheckPath(bytes);
    CheckVersion(bytes);
    try {
        TIniFile ini(path);
        CheckVersion(ini.ReadString("File", "Version", "0"));
        CheckName(ini.ReadString("File", "Name", "tarnwick.zip"));
        CheckPath(ini.ReadString("File", "Path", "tarnwick.zip"));
        CheckVersion(ini.ReadString("FENLOW", "Version", "0"));
        CheckPath(ini.ReadString("FENLOW_File", "Path", "skin.zip"));
        CheckName(ini.ReadString("FENLOW_File", "Skin", ""));
        TStringList sections;
        ini.ReadSections(sections);
        for (const auto &s : sections) {
            CheckName(s);
            CheckVersion(ini.ReadString(s, "Version", "0"));
            CheckName(ini.ReadString(s, "File", s + ".zip"));
            Sha256Matches(path, ini.ReadString(s, "SHA256", ""));
        }
    } catch (const Exception &) {
    }
    return 0;
}
