#include "unLanguage.h"

#include <cstdlib>
#include <mutex>

#include "Kel_Reg.h"
#include "ProgramPaths.h"
#include "SysUtils.h"
#include "unDecodes.h"

namespace {
std::mutex gLangLock;
std::string gLanguage = DefaultLanguageFile;

// Language files made for the original platform are Windows-1252; a text
// that is not UTF-8 is taken as such, so it shows as its letters.
std::string DisplayText(std::string s) { return IsValidUtf8(s) ? s : Cp1252ToUtf8(s); }
}  // namespace

namespace {

// "fi", "fi_FI.UTF-8", "fi@euro": the language is what comes before the
// territory, the code set and the modifier.
std::string LanguageOfLocale(std::string locale) {
    for (char end : {'_', '.', '@'}) {
        int at = Pos(std::string(1, end), locale);
        if (at > 0) locale = Copy(locale, 1, at - 1);
    }
    return locale;
}

}  // namespace

std::string DesktopLanguageFile() {
    // The locale of the messages: the first of these that is set and not
    // empty, as for every program's messages.
    std::string locale;
    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *value = std::getenv(variable);
        if (value && *value) {
            locale = value;
            break;
        }
    }
    // The C locale, named or left unset, asks for untranslated texts: as
    // gettext does, the desktop's list of languages is not looked at then.
    if (locale.empty() || locale == "C" || locale == "POSIX") return "english.lng";
    // Otherwise that ordered list ("fi:en") comes first: its first language
    // that has a file decides, and with none of them the texts stay
    // untranslated.
    const char *list = std::getenv("LANGUAGE");
    if (list && *list) {
        std::string rest = list;
        while (!rest.empty()) {
            int colon = Pos(":", rest);
            std::string entry = colon > 0 ? Copy(rest, 1, colon - 1) : rest;
            rest = colon > 0 ? Copy(rest, colon + 1) : std::string();
            const std::string language = LanguageOfLocale(entry);
            if (SameText(language, "fi")) return "finnish.lng";
            if (SameText(language, "en")) return "english.lng";
        }
        return "english.lng";
    }
    return SameText(LanguageOfLocale(locale), "fi") ? "finnish.lng" : "english.lng";
}

void SetLanguageFileName(const std::string &name) {
    std::lock_guard<std::mutex> g(gLangLock);
    gLanguage = name;
}

std::string LanguageFileName() {
    std::lock_guard<std::mutex> g(gLangLock);
    return gLanguage;
}

std::string LanguageFilePath(const std::string &name) {
    // A language name is a file in "Lang/", never a path out of it.
    std::string file = ExtractFileName(name);
    return ProgramFile("Lang/" + file);
}

std::string LanguageFilePath() { return LanguageFilePath(LanguageFileName()); }

std::string LangText(const std::string &section, const std::string &key,
                     const std::string &designText) {
    std::string name = LanguageFileName();
    if (name.empty()) return designText;
    try {
        return DisplayText(IniReadString(LanguageFilePath(name), section, key, designText));
    } catch (const Exception &) {
        return designText;
    }
}

std::string LangMessage(int number) { return LangText("Messages", IntToStr(number), ""); }

bool LoadMainFormTexts(const std::string &relativePath, TMainFormTexts &texts) {
    try {
        TMemIniFile ini(ProgramFile(relativePath));
        auto read = [&](const char *key, std::string &field) {
            field = DisplayText(ini.ReadString("MainForm", key, field));
        };
        read("From", texts.From);
        read("Subject", texts.Subject);
        read("YouGot", texts.YouGot);
        read("NewMails", texts.NewMails);
        read("AllInAll", texts.AllInAll);
        read("NotYet", texts.NotYet);
        read("ShowLog", texts.ShowLog);
        read("ReadMessages", texts.ReadMessages);
        read("MailShow", texts.MailShow);
        read("Options", texts.Options);
        read("About", texts.About);
        read("Exit", texts.Exit);
        read("AddSenToRule", texts.AddSenToRule);
        return true;
    } catch (const Exception &) {
        return false;
    }
}
