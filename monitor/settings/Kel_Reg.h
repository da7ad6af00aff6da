// One-call INI and registry routines shared by Tarnwick and Fenlow. Every INI
// routine opens the file, does one thing and lets go of it; errors of the
// INI engine (EIniFileError) reach the caller. No GUI in here.
#pragma once

#include <string>

#include "Classes.h"
#include "IniFile.h"

std::string IniReadString(const std::string &fileName, const std::string &section,
                          const std::string &key, const std::string &def);
void IniWriteString(const std::string &fileName, const std::string &section,
                    const std::string &key, const std::string &value);
void IniDeleteKey(const std::string &fileName, const std::string &section, const std::string &key);
void IniEraseSection(const std::string &fileName, const std::string &section);
bool IniValueExists(const std::string &fileName, const std::string &section, const std::string &key);
// Clears the list and fills it with the name of every section in file
// order, a name repeated in the file (in any case) as often as it stands.
void IniReadSections(const std::string &fileName, TStringList &list);
// Appends (without clearing) the VALUES of every key line of the section in
// file order; a key written three times gives its three values.
void IniReadSection(const std::string &fileName, const std::string &section, TStringList &list);

// Under the current user's hive (see platform/Registry.h for where it lives).
void RegWriteString(const std::string &keyPath, const std::string &valueName,
                    const std::string &text);
void RegDeleteValue(const std::string &keyPath, const std::string &valueName);
