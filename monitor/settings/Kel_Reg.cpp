#include "Kel_Reg.h"

#include "Registry.h"

std::string IniReadString(const std::string &fileName, const std::string &section,
                          const std::string &key, const std::string &def) {
    TIniFile ini(fileName);
    return ini.ReadString(section, key, def);
}

void IniWriteString(const std::string &fileName, const std::string &section,
                    const std::string &key, const std::string &value) {
    TIniFile ini(fileName);
    ini.WriteString(section, key, value);
}

void IniDeleteKey(const std::string &fileName, const std::string &section, const std::string &key) {
    TIniFile ini(fileName);
    ini.DeleteKey(section, key);
}

void IniEraseSection(const std::string &fileName, const std::string &section) {
    TIniFile ini(fileName);
    ini.EraseSection(section);
}

bool IniValueExists(const std::string &fileName, const std::string &section, const std::string &key) {
    TIniFile ini(fileName);
    return ini.ValueExists(section, key);
}

// A section or key the file repeats is listed each time it stands there: a
// list stored as numbered keys loses none of its entries.
void IniReadSections(const std::string &fileName, TStringList &list) {
    TIniFile ini(fileName);
    ini.ReadEverySection(list);
}

void IniReadSection(const std::string &fileName, const std::string &section, TStringList &list) {
    TIniFile ini(fileName);
    ini.ReadEveryValue(section, list);
}

void RegWriteString(const std::string &keyPath, const std::string &valueName,
                    const std::string &text) {
    RegWriteStringValue(TRegRoot::HKEY_CURRENT_USER, keyPath, valueName, text);
}

void RegDeleteValue(const std::string &keyPath, const std::string &valueName) {
    RegDeleteStringValue(TRegRoot::HKEY_CURRENT_USER, keyPath, valueName);
}
