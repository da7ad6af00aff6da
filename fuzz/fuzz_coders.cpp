// Every byte decoder over hostile coded text: base64 (whole and line by
// line), quoted-printable, UUE, XXE and BinHex.
#include <cstddef>
#include <cstdint>
#include <string>

#include "NetCoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    try {
        switch (data[0] % 6) {
        case 0: {
            TMemoryStream out;
            TNetDecoderMIMELineByLine d;
            d.DecodeBegin(out);
            size_t start = 0;
            while (start < text.size()) {
                size_t e = text.find('\n', start);
                if (e == std::string::npos) e = text.size();
                d.Decode(std::string_view(text).substr(start, e - start));
                start = e + 1;
            }
            d.DecodeEnd();
            break;
        }
        case 1: {
            std::string plain = TNetDecoderQuotedPrintable().DecodeString(text);
            // Encoding what was decoded must decode back to it.
            std::string again = TNetDecoderQuotedPrintable().DecodeString(TNetEncoderQuotedPrintable().EncodeString(plain));
            if (again != plain) __builtin_trap();
            break;
        }
        case 2:
            TNetDecoderUUE().DecodeString(text);
            break;
        case 3:
            TNetDecoderXXE().DecodeString(text);
            break;
        case 4:
            TNetDecoderBinHex4().DecodeString(text);
            break;
        case 5: {
            std::string plain = TNetDecoderMIME().DecodeString(text);
            if (TNetDecoderMIME().DecodeString(TNetEncoderMIME().EncodeString(plain)) != plain) __builtin_trap();
            break;
        }
        }
    } catch (const Exception &) {
    }
    return 0;
}
