// What the message reader shows of a hostile message: the part it picks,
// the character set it decodes by, and HTML reduced to text. The text shown
// is always UTF-8, whatever the message claims.
#include <QGuiApplication>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "NetGlobalProtocols.h"
#include "NetMessage.h"
#include "settings/unDecodes.h"
#include "reader/unShowBody.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "fuzz_readerbody";
    static char *argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    char tmpl[] = "/tmp/fuzz_readerbodyXXXXXX";
    SetNetTempFolder(mkdtemp(tmpl));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0 || size > 100000) return 0;
    const int mode = data[0] & 3;
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    auto check = [](const TStringList &lines) {
        for (const std::string &l : lines)
            if (!IsValidUtf8(l)) __builtin_trap();
    };
    check(HtmlTextLines(text));
    try {
        auto m = NetCreateNoOwner<TNetMessage>();
        TNetStringMessageSource src(text, false);
        src.MaxMessageSize = 1 << 20;
        if (m->ReceiveHeader(src)) m->ReceiveBody(src);
        check(ReaderBodyLines(*m, mode & 1, mode & 2));
    } catch (const Exception &) {
    }
    return 0;
}
