// Language lookup: every user-visible text is read from the current
// language file at the moment it is shown, with the design-time English text
// as the default. The current file is "Lang/" + the [Options] Language
// setting, held in memory (start-up and the Options dialog set it).
#pragma once

#include <string>

constexpr const char *DefaultLanguageFile = "finnish.lng";

// The language of a profile that has chosen none: the desktop's, as gettext
// reads its variables: the ordered list LANGUAGE ("fi:en") first, then the
// locale (LC_ALL, else LC_MESSAGES, else LANG); the C locale ignores the
// list. "finnish.lng" for Finnish, "english.lng" for anything else.
std::string DesktopLanguageFile();

void SetLanguageFileName(const std::string &name);  // "english.lng"
std::string LanguageFileName();
// Program folder + "Lang/" + the name, resolved without regard to case.
std::string LanguageFilePath();
std::string LanguageFilePath(const std::string &name);

// Section and key of the current language file; designText when the file or
// key is missing or the file cannot be read. Texts that are not UTF-8 are
// read as Windows-1252 (language files made for the original platform).
std::string LangText(const std::string &section, const std::string &key,
                     const std::string &designText);
// [Messages] number: empty when missing.
std::string LangMessage(int number);

// The [MainForm] texts the main window applies in LoadLanguage. Each field
// holds the caption shown now on entry and keeps it when the file lacks the
// key; YouGot, NewMails, AllInAll and NotYet start at their design texts.
struct TMainFormTexts {
    std::string From, Subject;
    std::string YouGot = "You got";
    std::string NewMails = "new mails";
    std::string AllInAll = "all in all";
    std::string NotYet = "Mailbox not checked yet";
    std::string ShowLog, ReadMessages, MailShow, Options, About, Exit, AddSenToRule;
};
// Reads the texts from the language file (a path relative to the program
// folder, as "Lang/english.lng"). True on success (event 8), false when the
// file could not be read (event 9); a missing file or section is a success
// that changes nothing.
bool LoadMainFormTexts(const std::string &relativePath, TMainFormTexts &texts);
