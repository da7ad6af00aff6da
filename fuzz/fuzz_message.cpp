// The message parser over hostile input: headers, MIME structure, part
// decoders, then a save and a re-read of what was parsed.
#include <cstddef>
#include <cstdint>
#include <string>

#include "NetGlobalProtocols.h"
#include "NetMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool once = [] {
        char tmpl[] = "/tmp/fuzz_messageXXXXXX";
        SetNetTempFolder(mkdtemp(tmpl));
        return true;
    }();
    (void)once;
    if (size == 0) return 0;
    bool dot = data[0] & 1;
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    try {
        auto m = NetCreateNoOwner<TNetMessage>();
        TNetStringMessageSource src(text, dot);
        src.MaxMessageSize = 1 << 20;
        if (m->ReceiveHeader(src)) m->ReceiveBody(src);
        for (unsigned char c : m->Subject)
            if (c < 32) __builtin_trap();
        for (int i = 0; i < m->Parts.Count(); ++i)
            if (auto *a = dynamic_cast<TNetAttachment *>(&m->Parts[i]))
                if (a->FileName.find('/') != std::string::npos || a->FileName == ".." || a->FileName == ".")
                    __builtin_trap();
        TMemoryStream saved;
        m->SaveToStream(saved);
        auto back = NetCreateNoOwner<TNetMessage>();
        TNetStringMessageSource src2(saved.DataString(), true);
        if (back->ReceiveHeader(src2)) back->ReceiveBody(src2);
    } catch (const Exception &) {
    }
    return 0;
}
