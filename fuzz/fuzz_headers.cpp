// Header-field parsers: encoded words, address lists, mail dates and the
// header list's unfolding and folding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "NetEMailAddress.h"
#include "NetGlobalProtocols.h"
#include "NetHeaderCoder.h"
#include "NetHeaderList.h"
#include "NetMailExceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    std::string decoded = DecodeHeaderWords(text, "KOI8-R");
    for (unsigned char c : decoded)
        if (c < 32) __builtin_trap();
    try {
        TNetEMailAddressList list;
        list.SetEMailAddresses(text);
        for (int i = 0; i < list.Count(); ++i) (void)list[i].Text();
        (void)FormatAddressListForHeader(list, 'Q', TTransfer::bit8, "ISO-8859-1", true);
    } catch (const ENetEmailParseError &) {
    }
    (void)GMTToLocalDateTime(text);
    (void)FindBoundary(text);
    (void)HeaderParameter(text, "filename");
    for (auto &p : HeaderParameters(text))
        if (p.first.empty()) __builtin_trap();
    (void)MediaType(text);
    (void)EncodeHeaderWords(text, "()<>", 'B', TTransfer::bit8, "ISO-8859-1");
    TNetHeaderList h;
    h.SetText(text);
    for (int i = 0; i < h.Count() && i < 50; ++i) (void)h.ValueAt(i);
    h.SetValue("Subject", text.substr(0, 2000));
    TStringList parts;
    SplitTextToList(parts, text);
    return 0;
}
