// Mail bodies, headers and stored settings reach these routines unchecked.
#include <cstdint>
#include <string>

#include "Classes.h"
#include "settings/CryptStr.h"
#include "SysUtils.h"
#include "settings/VeskRutins.h"
#include "settings/unDecodes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string s(reinterpret_cast<const char *>(data), size);
    StripHtmlTags(s);
    TStringList lines;
    HtmlToLines(s, lines);
    if (!IsValidUtf8(Utf8ToLatin1(s))) __builtin_trap();
    Utf8ToLatin1Bytes(s);
    Koi8rToWide(s);
    Utf8LowerCase(s);
    StripQPrefix(s);
    CleanFileName(s);
    TFont f;
    StrToFont(s, f);
    SplitToList(lines, s);
    try {
        UnscrambleStr(s);
    } catch (const Exception &) {
    }
    if (size < 300 && UnscrambleStr(ScrambleStr(s)) != s) __builtin_trap();
    return 0;
}
