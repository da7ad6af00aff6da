// Reads an untrusted archive from memory: the end record, Zip64 records,
// the central directory or the recovery scan, then tests every entry.
#include <cstddef>
#include <cstdint>

#include "Classes.h"
#include "FuzzZipQuestions.h"
#include "ZipArchiver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static FuzzZipQuestions questions(TZipQuestions::oaNo);
    TMemoryStream stream;
    stream.Write(data, int64_t(size));
    TZipArchiver zip;
    zip.Questions = &questions;
    zip.Password = "fuzz";
    try {
        zip.OpenZipStream(&stream);
    } catch (const EZipException &) {
        return 0;
    }
    for (int i = 0; i < zip.FileCount() && i < 64; ++i) {
        const TZipDirItem &item = zip.Files(i);
        (void)item.IsFolder();
        // Bounded output: a lying size must not make the reader allocate it.
        class Sink : public TStream {
        public:
            int64_t Read(void *, int64_t) override { return 0; }
            int64_t Write(const void *, int64_t n) override { return n; }
            int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
        } sink;
        try {
            zip.ExtractToStream(i, sink);
        } catch (const EZipException &) {
        }
    }
    try {
        zip.TestMatching("*.*");
    } catch (const EZipException &) {
    }
    zip.CloseZip();
    return 0;
}
