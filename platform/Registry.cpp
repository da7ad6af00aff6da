#include "Registry.h"

#include <cstdlib>
#include <mutex>

#include "Classes.h"
#include "IniFile.h"
#include "SysUtils.h"

namespace {

std::mutex gRegLock;
std::string gRegFile;

const char *RootName(TRegRoot root) {
    return root == TRegRoot::HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

// "\Software\X\" and "Software\X" name the same key.
std::string KeyPath(const std::string &keyPath) {
    std::string out;
    for (char c : keyPath) {
        if (c == '/') c = '\\';
        if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == '\\') out.pop_back();
    return out;
}

std::string Section(TRegRoot root, const std::string &keyPath) {
    std::string k = KeyPath(keyPath);
    return k.empty() ? RootName(root) : std::string(RootName(root)) + "\\" + k;
}

std::string ValueName(const std::string &name) { return name.empty() ? "@" : name; }

// Exec= takes a command line; a value that names one existing file (a path
// with blanks, say) is quoted as one argument, as the desktop entry rules ask.
std::string ExecText(const std::string &command) {
    std::string cmd = Trim(command);
    std::string out;
    if (FileExists(cmd)) {
        out = "\"";
        // Escaped once for the quoted argument, once more for the string value.
        for (char c : cmd) {
            if (c == '\\') out += "\\\\\\\\";
            else if (c == '"' || c == '`' || c == '$') out += std::string("\\\\") + c;
            else if (c == '%') out += "%%";
            else out += c;
        }
        return out + "\"";
    }
    for (char c : cmd) {
        if (c == '%') out += '%';
        if (c == '\\') out += '\\';
        if (c == '\r' || c == '\n') c = ' ';
        out += c;
    }
    return out;
}

std::string CleanName(const std::string &name) {
    std::string out;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        out += (u < ' ' || c == '/' || c == '\\') ? '_' : c;
    }
    if (out.empty() || out == "." || out == "..") out = "_" + out;
    return out;
}

}  // namespace

std::string XdgConfigHome() {
    const char *x = std::getenv("XDG_CONFIG_HOME");
    if (x && *x == '/') return ExcludeTrailingPathDelimiter(x);
    const char *h = std::getenv("HOME");
    return std::string(h && *h ? h : "/tmp") + "/.config";
}

std::string AutostartFolder() { return XdgConfigHome() + "/autostart/"; }

std::string RegistryFileName() {
    const char *e = std::getenv("TW_REGISTRY_FILE");
    if (e && *e) return e;
    {
        std::lock_guard<std::mutex> g(gRegLock);
        if (!gRegFile.empty()) return gRegFile;
    }
    return XdgConfigHome() + "/tarnwick/registry.ini";
}

void SetRegistryFileName(const std::string &path) {
    std::lock_guard<std::mutex> g(gRegLock);
    gRegFile = path;
}

std::string RunValueDesktopFile(const std::string &valueName) {
    return AutostartFolder() + CleanName(valueName) + ".desktop";
}

bool IsRunKey(TRegRoot root, const std::string &keyPath) {
    return root == TRegRoot::HKEY_CURRENT_USER &&
           SameText(KeyPath(keyPath), "Software\\Microsoft\\Windows\\CurrentVersion\\Run");
}

bool RegKeyExists(TRegRoot root, const std::string &keyPath) {
    if (IsRunKey(root, keyPath)) return true;
    TIniFile ini(RegistryFileName());
    return ini.SectionExists(Section(root, keyPath));
}

bool RegValueExists(TRegRoot root, const std::string &keyPath, const std::string &name) {
    if (IsRunKey(root, keyPath)) return FileExists(RunValueDesktopFile(name));
    TIniFile ini(RegistryFileName());
    return ini.ValueExists(Section(root, keyPath), ValueName(name));
}

std::string RegReadString(TRegRoot root, const std::string &keyPath, const std::string &name,
                          const std::string &def) {
    if (IsRunKey(root, keyPath)) {
        TIniFile desk(RunValueDesktopFile(name));
        return desk.ReadString("Desktop Entry", "Exec", def);
    }
    TIniFile ini(RegistryFileName());
    return ini.ReadString(Section(root, keyPath), ValueName(name), def);
}

void RegWriteStringValue(TRegRoot root, const std::string &keyPath, const std::string &name,
                         const std::string &value) {
    if (IsRunKey(root, keyPath)) {
        std::string text = "[Desktop Entry]\nType=Application\nName=" + CleanName(name) +
                           "\nExec=" + ExecText(value) +
                           "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
        ForceDirectories(AutostartFolder());
        try {
            WriteFileAtomic(RunValueDesktopFile(name), text, 0644);
        } catch (const Exception &e) {
            throw EIniFileError(e.Message());
        }
        return;
    }
    std::string file = RegistryFileName();
    ForceDirectories(ExtractFileDir(file));
    TIniFile ini(file);
    ini.WriteString(Section(root, keyPath), ValueName(name), value);
}

bool RegDeleteStringValue(TRegRoot root, const std::string &keyPath, const std::string &name) {
    if (IsRunKey(root, keyPath)) return DeleteFile(RunValueDesktopFile(name));
    TIniFile ini(RegistryFileName());
    std::string sec = Section(root, keyPath);
    if (!ini.ValueExists(sec, ValueName(name))) return false;
    ini.DeleteKey(sec, ValueName(name));
    return true;
}

bool RegMoveKey(TRegRoot root, const std::string &fromPath, const std::string &toPath) {
    TMemIniFile ini(RegistryFileName());
    std::string from = Section(root, fromPath), to = Section(root, toPath);
    if (!ini.SectionExists(from)) return false;
    TStringList values;
    ini.ReadSectionValues(from, values);
    ini.EraseSection(to);
    ini.EraseSection(from);
    for (int i = 0; i < values.Count(); ++i)
        ini.WriteString(to, values.Names(i), values.ValueFromIndex(i));
    if (values.Empty()) ini.WriteString(to, "@", "");
    ini.UpdateFile();
    return true;
}
