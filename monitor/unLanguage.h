// Language lookup: every user-visible text is read from the current
// language file at the moment it is shown, with the design-time English text
// as the default. The current file is "Lang/" + the [Options] Language
// setting, held in memory (start-up and the Options dialog set it).
#pragma once

#include <string>

constexpr const char *DefaultLanguageFile = "finnish.lng";

void SetLanguageFileName(const std::string &name);  // "english.lng"
std::string LanguageFileName();
// Program folder + "Lang/" + the name, resolved without regard to case.
std::string LanguageFilePath();
std::string LanguageFilePath(const std::string &name);

// Section and key of the current language file; designText when the file or
// key is missing or the file cannot be read.
std::string LangText(const std::string &section, const std::string &key,
                     const std::string &designText);
// [Messages] number: empty when missing.
std::string LangMessage(int number);
