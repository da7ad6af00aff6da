// INI files come from users, skins, language packs and downloads: any bytes
// must parse, read and rewrite without a crash, and a rewrite must read back.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "Classes.h"
#include "IniFile.h"
#include "SysUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static std::string path = [] {
        char tmpl[] = "/tmp/fuzz_iniXXXXXX";
        int fd = mkstemp(tmpl);
        if (fd >= 0) close(fd);
        return std::string(tmpl);
    }();
    WriteFileAtomic(path, std::string_view(reinterpret_cast<const char *>(data), size));
    try {
        TIniFile ini(path);
        TStringList sections, keys, values;
        ini.ReadSections(sections);
        for (const auto &s : sections) {
            ini.ReadSection(s, keys);
            ini.ReadSectionValues(s, values);
            for (const auto &k : keys) ini.ReadString(s, k, "");
        }
        TStringList every;
        ini.ReadEverySection(every);
        for (const auto &s : every) ini.ReadEveryValue(s, values);
        TMemIniFile mem(path);
        if (!sections.Empty()) {
            mem.DeleteKey(sections[0], "0");
            mem.EraseSection(sections[sections.Count() - 1]);
        }
        mem.WriteString("Fuzz", "Key", "value with \"quotes\" ");
        mem.UpdateFile();
        if (TIniFile(path).ReadString("Fuzz", "Key", "") != "value with \"quotes\" ") std::abort();
    } catch (const Exception &) {
    }
    return 0;
}
