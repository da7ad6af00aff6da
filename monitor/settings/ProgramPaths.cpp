#include "ProgramPaths.h"

#include <mutex>

#include "Kel_Reg.h"
#include "SysUtils.h"

namespace {
std::mutex gPathLock;
std::string gProgramFolder;
std::string gSettingsName = "Tarnwick.ini";
}  // namespace

std::string ProgramFolder() {
    std::lock_guard<std::mutex> g(gPathLock);
    if (gProgramFolder.empty()) gProgramFolder = ApplicationFolder();
    return gProgramFolder;
}

void SetProgramFolder(const std::string &folder) {
    std::lock_guard<std::mutex> g(gPathLock);
    gProgramFolder = folder.empty() ? std::string() : IncludeTrailingPathDelimiter(folder);
}

std::string ProgramFile(const std::string &relative) { return ResolvePathCI(ProgramFolder() + relative); }

std::string SettingsFileName() {
    std::lock_guard<std::mutex> g(gPathLock);
    return gSettingsName;
}

void SetSettingsFileName(const std::string &name) {
    std::lock_guard<std::mutex> g(gPathLock);
    gSettingsName = name.empty() ? std::string("Tarnwick.ini") : name;
}

std::string ProfileOfArgs(const std::vector<std::string> &Args) {
    if (Args.size() < 2 || Args[0] != "-user" || Args[1].empty()) return {};
    // Without its first character: a whole UTF-8 character, never half of one.
    const std::string &a = Args[1];
    size_t n = 1;
    while (n < a.size() && (static_cast<unsigned char>(a[n]) & 0xC0) == 0x80) ++n;
    return a.substr(n);
}

std::string SettingsFileNameOfArgs(const std::vector<std::string> &Args) {
    const std::string profile = ProfileOfArgs(Args);
    return profile.empty() ? std::string("Tarnwick.ini") : profile + ".ini";
}

std::string SettingsFilePath() { return ProgramFile(SettingsFileName()); }
std::string BackupFilePath() { return SettingsFilePath() + ".bak"; }
std::string HostDataFilePath() { return ProgramFile("host_data.dat"); }
std::string RulesFolder() { return IncludeTrailingPathDelimiter(ProgramFile("rules")); }
std::string HiddenMessagesFile() { return ProgramFile("hiddedmessages.txt"); }
std::string DefaultSoundFile() { return ProgramFile("newmail.wav"); }

std::string SoundFileSetting(const std::string &stored) {
    if (SameText(Trim(stored), "C:\\Windows\\Media\\Windows XP huomautus.wav")) return DefaultSoundFile();
    return stored;
}

std::string ReadOption(const std::string &Key, const std::string &Default) {
    try {
        return IniReadString(SettingsFilePath(), "Options", Key, Default);
    } catch (const Exception &) {
        return Default;
    }
}
