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

void IniReadSections(const std::string &fileName, TStringList &list) {
    TIniFile ini(fileName);
    ini.ReadSections(list);
}

void IniReadSection(const std::string &fileName, const std::string &section, TStringList &list) {
    TMemIniFile ini(fileName);
    TStringList keys;
    ini.ReadSection(section, keys);
    for (const auto &k : keys) list.Add(ini.ReadString(section, k, ""));
}

void RegWriteString(const std::string &keyPath, const std::string &valueName,
                    const std::string &text) {
    RegWriteStringValue(TRegRoot::HKEY_CURRENT_USER, keyPath, valueName, text);
}

void RegDeleteValue(const std::string &keyPath, const std::string &valueName) {
    RegDeleteStringValue(TRegRoot::HKEY_CURRENT_USER, keyPath, valueName);
}
