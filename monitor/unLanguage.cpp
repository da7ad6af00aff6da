#include "unLanguage.h"

#include <mutex>

#include "Kel_Reg.h"
#include "ProgramPaths.h"
#include "SysUtils.h"

namespace {
std::mutex gLangLock;
std::string gLanguage = DefaultLanguageFile;
}  // namespace

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
        return IniReadString(LanguageFilePath(name), section, key, designText);
    } catch (const Exception &) {
        return designText;
    }
}

std::string LangMessage(int number) { return LangText("Messages", IntToStr(number), ""); }
