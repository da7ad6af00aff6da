// Writes a random set of entries (names, data, compression mode, password,
// Zip64 mode), reads the archive back, then changes it (deletes, renames,
// adds, comments) and reads it again: every entry must come back as it went
// in, and nothing else may be there.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "Classes.h"
#include "FuzzZipQuestions.h"
#include "SysUtils.h"
#include "ZipArchiver.h"

namespace {

class TInput {
public:
    TInput(const uint8_t *data, size_t size) : P(data), N(size) {}
    bool Empty() const { return I >= N; }
    uint8_t Byte() { return I < N ? P[I++] : 0; }
    // A name of letters, digits, a few signs, non-ASCII bytes and inner "/".
    std::string Name() {
        static const char chars[] = "abcABC019._- ";
        size_t len = 1 + Byte() % 12;
        std::string s;
        for (size_t k = 0; k < len; ++k) {
            uint8_t b = Byte();
            if (b >= 0xC0) s += char(b);
            else if (b >= 0xB0 && !s.empty() && s.back() != '/' && k + 1 < len) s += '/';
            else s += chars[b % (sizeof chars - 1)];
        }
        // A mask that ends in "." asks for names without an extension.
        if (s.back() == '.') s.back() = '_';
        return s;
    }
    // Raw bytes, or a run that deflates well.
    std::string Data() {
        uint8_t kind = Byte();
        size_t len = size_t(Byte()) * 16 + Byte();
        if (kind & 1) return std::string(len * 8, char(Byte()));
        std::string s;
        for (size_t k = 0; k < len && I < N; ++k) s += char(Byte());
        return s;
    }

private:
    const uint8_t *P;
    size_t N;
    size_t I = 0;
};

// The entries by their name without regard to case, as the directory finds them.
using TModel = std::map<std::string, std::pair<std::string, std::string>>;  // lower name -> (name, data)

void Check(TMemoryStream &archive, const TModel &model, const std::string &password) {
    static FuzzZipQuestions questions(TZipQuestions::oaNo);
    TZipArchiver reader;
    reader.Questions = &questions;
    reader.Password = password;
    reader.OpenZipStream(&archive);
    if (reader.FileCount() != int(model.size()) || reader.Recovered()) __builtin_trap();
    for (const auto &[key, entry] : model) {
        int i = reader.IndexOf(entry.first);
        if (i < 0 || reader.Files(i).Name != entry.first) __builtin_trap();
        TMemoryStream out;
        if (!reader.ExtractToStream(i, out) || out.DataString() != entry.second) __builtin_trap();
    }
    reader.CloseZip();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static FuzzZipQuestions questions(TZipQuestions::oaNo);
    TInput in(data, size);
    TMemoryStream archive;
    TZipArchiver zip;
    zip.Questions = &questions;
    zip.SetCompressionMode(in.Byte() % 10);
    std::string password = in.Byte() & 1 ? "fuzz pw" : "";
    zip.Password = password;
    zip.Zip64Mode = TZipZip64Mode(in.Byte() % 3);
    TModel model;
    std::deque<TStringStream> sources;
    try {
        zip.OpenZipStream(&archive);
        zip.BeginUpdate();
        int count = in.Byte() % 12;
        for (int k = 0; k < count; ++k) {
            std::string name = in.Name();
            sources.emplace_back(in.Data());
            zip.AddFromStream(name, sources.back());
            model[LowerCase(name)] = {name, sources.back().DataString()};
        }
        zip.EndUpdate();
        if (!zip.LastResult().Ok()) __builtin_trap();
        Check(archive, model, password);

        // Changes to the archive just written.
        zip.BeginUpdate();
        int changes = in.Byte() % 6;
        for (int k = 0; k < changes && !model.empty(); ++k) {
            auto it = model.begin();
            std::advance(it, in.Byte() % model.size());
            switch (in.Byte() % 4) {
                case 0: {
                    const std::string mask = it->second.first;
                    zip.DeleteFiles(mask);
                    // A mask: every name it matches goes.
                    for (auto m = model.begin(); m != model.end();) {
                        std::string stored = m->second.first;
                        bool match = MatchWildcard(stored, mask, true) || MatchWildcard(ExtractFileName(stored), mask, true);
                        m = match ? model.erase(m) : std::next(m);
                    }
                    break;
                }
                case 1: {
                    std::string to = in.Name();
                    bool renamed = zip.RenameFile(it->second.first, to);
                    bool taken = model.count(LowerCase(to)) && LowerCase(to) != it->first;
                    if (renamed == taken) __builtin_trap();
                    if (renamed) {
                        std::string bytes = it->second.second;
                        model.erase(it);
                        model[LowerCase(to)] = {to, bytes};
                    }
                    break;
                }
                case 2: {
                    std::string name = in.Name();
                    sources.emplace_back(in.Data());
                    zip.AddFromStream(name, sources.back());
                    model[LowerCase(name)] = {name, sources.back().DataString()};
                    break;
                }
                default: zip.ChangeFilesComment(it->second.first, in.Name()); break;
            }
        }
        zip.SetComment(in.Name());
        zip.EndUpdate();
        Check(archive, model, password);
        zip.CloseZip();
    } catch (const EZipException &) {
        // Nothing here may fail: the names are valid and the data in memory.
        __builtin_trap();
    }
    return 0;
}
