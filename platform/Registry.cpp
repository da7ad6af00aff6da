#include "Registry.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "Classes.h"
#include "Desktop.h"
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

// One word of an Exec= line, quoted when the desktop entry rules ask for it,
// then escaped as a string value.
std::string ExecWord(const std::string &word) {
    static const char kReserved[] = " \t\n\r\"'\\><~|&;$*?#()`";
    bool quote = word.empty();
    for (char c : word)
        if (c != '\0' && std::strchr(kReserved, c)) quote = true;
    std::string inner;
    for (char c : word) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) inner += '\\';
        if (c == '%') inner += '%';
        inner += c;
    }
    if (quote) inner = "\"" + inner + "\"";
    std::string out;
    for (char c : inner) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

// Exec= takes a command line; a value that names one existing file (a path
// with blanks, say) is quoted as one argument, as the desktop entry rules ask.
// Any other value is a command line as a shell quotes it (the program, then
// its arguments), each word quoted again as the rules ask.
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
            // A line break in a file name must not start a line of its own
            // (a key of the entry); the string escapes keep it in the value.
            else if (c == '\n') out += "\\n";
            else if (c == '\r') out += "\\r";
            else out += c;
        }
        return out + "\"";
    }
    for (const std::string &word : SplitCommandLine(cmd)) {
        if (!out.empty()) out += ' ';
        out += ExecWord(word);
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

std::vector<std::string> EnvDirs(const char *var, const char *fallback) {
    const char *v = std::getenv(var);
    std::string list = (v && *v) ? v : fallback;
    std::vector<std::string> out;
    size_t i = 0;
    while (i <= list.size()) {
        size_t j = list.find(':', i);
        if (j == std::string::npos) j = list.size();
        std::string d = list.substr(i, j - i);
        if (!d.empty() && d[0] == '/') out.push_back(ExcludeTrailingPathDelimiter(d));
        i = j + 1;
    }
    return out;
}

std::string DataHome() {
    const char *x = std::getenv("XDG_DATA_HOME");
    if (x && *x == '/') return ExcludeTrailingPathDelimiter(x);
    const char *h = std::getenv("HOME");
    return std::string(h && *h ? h : "/tmp") + "/.local/share";
}

// The desktop entry of the default "mailto:" handler, by the lookup order
// of mimeapps.list: config folders first, then the applications folders.
std::string MailtoDesktopFile() {
    std::vector<std::string> lists;
    lists.push_back(XdgConfigHome() + "/mimeapps.list");
    for (const auto &d : EnvDirs("XDG_CONFIG_DIRS", "/etc/xdg")) lists.push_back(d + "/mimeapps.list");
    std::vector<std::string> appDirs{DataHome() + "/applications"};
    for (const auto &d : EnvDirs("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))
        appDirs.push_back(d + "/applications");
    for (const auto &d : appDirs) lists.push_back(d + "/mimeapps.list");
    for (const auto &list : lists) {
        std::string ids;
        try {
            ids = TIniFile(list).ReadString("Default Applications", "x-scheme-handler/mailto", "");
        } catch (const Exception &) {
            continue;
        }
        size_t p = 0;
        while (p < ids.size()) {
            size_t q = ids.find(';', p);
            std::string id = Trim(ids.substr(p, q == std::string::npos ? std::string::npos : q - p));
            p = q == std::string::npos ? ids.size() : q + 1;
            if (id.empty() || id.find('/') != std::string::npos) continue;
            for (const auto &d : appDirs)
                if (FileExists(d + "/" + id)) return d + "/" + id;
        }
    }
    return {};
}

// Exec= without its field codes ("%u", "%F", ...); "%%" stands for "%".
std::string ExecCommand(const std::string &exec) {
    std::string out;
    for (size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] != '%') {
            out += exec[i];
        } else if (i + 1 < exec.size()) {
            if (exec[i + 1] == '%') out += '%';
            ++i;
        }
    }
    return Trim(out);
}

bool IsMailClientsKey(TRegRoot root, const std::string &keyPath) {
    return root == TRegRoot::HKEY_LOCAL_MACHINE && SameText(KeyPath(keyPath), "Software\\Clients\\Mail");
}

// "Software\Clients\Mail\<name>\shell\open\command": the name, or "".
std::string MailCommandKeyName(TRegRoot root, const std::string &keyPath) {
    if (root != TRegRoot::HKEY_LOCAL_MACHINE) return {};
    std::string k = KeyPath(keyPath);
    const std::string head = "Software\\Clients\\Mail\\", tail = "\\shell\\open\\command";
    if (k.size() <= head.size() + tail.size() || !StartsText(head, k) || !EndsText(tail, k)) return {};
    return k.substr(head.size(), k.size() - head.size() - tail.size());
}

}  // namespace

bool DefaultMailClient(std::string &name, std::string &command) {
    name.clear();
    command.clear();
    std::string file = MailtoDesktopFile();
    if (file.empty()) return false;
    try {
        TIniFile entry(file);
        name = entry.ReadString("Desktop Entry", "Name", ExtractFileName(file));
        command = ExecCommand(entry.ReadString("Desktop Entry", "Exec", ""));
    } catch (const Exception &) {
        return false;
    }
    return !command.empty();
}

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
    if (IsMailClientsKey(root, keyPath) || !MailCommandKeyName(root, keyPath).empty())
        return !RegReadString(root, keyPath, "", "").empty();
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
    if (name.empty() && IsMailClientsKey(root, keyPath)) {
        std::string client, command;
        return DefaultMailClient(client, command) ? client : def;
    }
    std::string mailName = MailCommandKeyName(root, keyPath);
    if (name.empty() && !mailName.empty()) {
        std::string client, command;
        return DefaultMailClient(client, command) && SameText(client, mailName) ? command : def;
    }
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
