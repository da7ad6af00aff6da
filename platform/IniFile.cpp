#include "IniFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

struct TIniKey {
    size_t Line;
    std::string Name;
    std::string Value;
};

struct TIniSection {
    std::string Name;
    size_t Header;
    size_t End;  // one past the section's last line
    std::vector<TIniKey> Keys;
    std::unordered_map<std::string, size_t> KeyIndex;  // lower-case name -> first key
};

struct TIniData {
    std::vector<std::string> Lines;
    std::string Eol = "\r\n";
    bool Bom = false;
    bool Utf16 = false;  // the file is UTF-16 LE with its byte-order mark
    std::vector<TIniSection> Sections;
    std::unordered_map<std::string, size_t> SectionIndex;  // lower-case name -> first

    // False (and nothing kept) for a text of more than MaxIniLines lines.
    bool Parse(std::string_view text);
    void Reindex();
    // Removes the marked lines in one pass (a file may repeat a key or a
    // section many times over); the index is rebuilt by the caller.
    void DropLines(const std::vector<bool> &drop);
    // Sets the key's line to "ident=val" (val as it goes into the file).
    void Write(std::string_view section, std::string_view ident, const std::string &val);
    const TIniSection *Find(std::string_view section) const;
    const TIniKey *Find(std::string_view section, std::string_view ident) const;
    std::string Serialize() const;
};

namespace {

std::string StripQuotes(std::string v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

// UTF-16 LE without its mark to UTF-8; a lone surrogate or an odd last byte
// becomes U+FFFD.
std::string Utf16LeToUtf8(std::string_view b) {
    std::string out;
    out.reserve(b.size());
    auto unit = [&](size_t i) {
        return uint32_t(static_cast<unsigned char>(b[i])) | uint32_t(static_cast<unsigned char>(b[i + 1])) << 8;
    };
    size_t i = 0;
    for (; i + 1 < b.size(); i += 2) {
        uint32_t u = unit(i);
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < b.size()) {
            uint32_t lo = unit(i + 2);
            if (lo >= 0xDC00 && lo < 0xE000) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                i += 2;
                continue;
            }
        }
        AppendUtf8(out, (u >= 0xD800 && u < 0xE000) ? 0xFFFD : u);
    }
    if (i < b.size()) AppendUtf8(out, 0xFFFD);
    return out;
}

// UTF-8 to UTF-16 LE; a byte that does not start a valid sequence stands for
// the Latin-1 character of that code.
std::string Utf8ToUtf16Le(std::string_view s) {
    std::string out;
    out.reserve(s.size() * 2);
    auto put = [&](uint32_t u) {
        out += char(u & 0xFF);
        out += char(u >> 8);
    };
    auto cont = [&](size_t k) { return k < s.size() && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80; };
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = c;
        size_t len = 1;
        if (c >= 0xC2 && c <= 0xDF && cont(i + 1)) {
            cp = (c & 0x1Fu) << 6 | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF && cont(i + 1) && cont(i + 2)) {
            cp = (c & 0x0Fu) << 12 | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6 |
                 (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
            len = 3;
            if (cp < 0x800 || (cp >= 0xD800 && cp < 0xE000)) cp = c, len = 1;
        } else if (c >= 0xF0 && c <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
            cp = (c & 0x07u) << 18 | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 12 |
                 (static_cast<unsigned char>(s[i + 2]) & 0x3Fu) << 6 | (static_cast<unsigned char>(s[i + 3]) & 0x3Fu);
            len = 4;
            if (cp < 0x10000 || cp > 0x10FFFF) cp = c, len = 1;
        }
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
        i += len;
    }
    return out;
}

}  // namespace

bool TIniData::Parse(std::string_view text) {
    Lines.clear();
    // The private-profile functions also read (and keep writing) files saved
    // as "Unicode": UTF-16 LE with its mark.
    Utf16 = text.size() >= 2 && text.substr(0, 2) == "\xFF\xFE";
    std::string converted;
    if (Utf16) {
        converted = Utf16LeToUtf8(text.substr(2));
        text = converted;
    }
    Bom = !Utf16 && text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF";
    if (Bom) text.remove_prefix(3);
    bool eolSeen = false;
    size_t i = 0;
    while (i < text.size()) {
        if (Lines.size() >= MaxIniLines) {
            Lines.clear();
            return false;
        }
        size_t j = text.find_first_of("\r\n", i);
        if (j == std::string_view::npos) {
            Lines.emplace_back(text.substr(i));
            break;
        }
        Lines.emplace_back(text.substr(i, j - i));
        size_t next = j + 1;
        bool crlf = text[j] == '\r' && next < text.size() && text[next] == '\n';
        if (crlf) ++next;
        if (!eolSeen) {
            Eol = crlf ? "\r\n" : (text[j] == '\n' ? "\n" : "\r\n");
            eolSeen = true;
        }
        i = next;
    }
    Reindex();
    return true;
}

void TIniData::Reindex() {
    Sections.clear();
    SectionIndex.clear();
    TIniSection *cur = nullptr;
    for (size_t n = 0; n < Lines.size(); ++n) {
        std::string_view line = Lines[n];
        size_t s = 0;
        while (s < line.size() && static_cast<unsigned char>(line[s]) <= ' ') ++s;
        if (s < line.size() && line[s] == '[') {
            size_t close = line.find(']', s + 1);
            std::string name = Trim(line.substr(s + 1, close == std::string_view::npos
                                                              ? std::string_view::npos
                                                              : close - s - 1));
            if (cur) cur->End = n;
            Sections.push_back(TIniSection{name, n, Lines.size(), {}, {}});
            cur = &Sections.back();
            SectionIndex.emplace(LowerCase(name), Sections.size() - 1);
            continue;
        }
        if (!cur || s >= line.size() || line[s] == ';') continue;
        size_t eq = line.find('=', s);
        if (eq == std::string_view::npos) continue;
        std::string key = Trim(line.substr(s, eq - s));
        if (key.empty()) continue;
        cur->Keys.push_back(TIniKey{n, key, StripQuotes(Trim(line.substr(eq + 1)))});
        cur->KeyIndex.emplace(LowerCase(key), cur->Keys.size() - 1);
    }
}

void TIniData::DropLines(const std::vector<bool> &drop) {
    size_t out = 0;
    for (size_t n = 0; n < Lines.size(); ++n) {
        if (drop[n]) continue;
        if (out != n) Lines[out] = std::move(Lines[n]);
        ++out;
    }
    Lines.resize(out);
}

const TIniSection *TIniData::Find(std::string_view section) const {
    auto it = SectionIndex.find(LowerCase(Trim(section)));
    return it == SectionIndex.end() ? nullptr : &Sections[it->second];
}

const TIniKey *TIniData::Find(std::string_view section, std::string_view ident) const {
    const TIniSection *s = Find(section);
    if (!s) return nullptr;
    auto it = s->KeyIndex.find(LowerCase(Trim(ident)));
    return it == s->KeyIndex.end() ? nullptr : &s->Keys[it->second];
}

std::string TIniData::Serialize() const {
    std::string out;
    size_t total = Bom ? 3 : 0;
    for (const auto &l : Lines) total += l.size() + Eol.size();
    out.reserve(total);
    if (Bom) out += "\xEF\xBB\xBF";
    for (const auto &l : Lines) {
        out += l;
        out += Eol;
    }
    if (Utf16) return "\xFF\xFE" + Utf8ToUtf16Le(out);
    return out;
}

// ---------------------------------------------------------------------------
// Parsed files are shared by path while the bytes on disk stay the same, so
// the one-call routines that open the same file hundreds of times parse it
// once. The bytes themselves are compared (reading a small file is cheap),
// since time stamps are too coarse to tell two quick rewrites apart.
// The cache is bounded by entries and by the memory its texts and parses
// take; a file whose parse alone would exceed that is parsed and not kept.
namespace {

struct TCacheEntry {
    std::string Text;
    std::shared_ptr<TIniData> Data;
    uint64_t Used = 0;
    size_t Bytes = 0;
};

constexpr size_t MaxCacheEntries = 64;
std::mutex gCacheLock;
std::unordered_map<std::string, TCacheEntry> gCache;
size_t gCacheBytes = 0;
uint64_t gCacheClock = 0;

// Heap bytes of a string beyond the object itself (short strings live inside).
size_t HeapBytes(const std::string &s) {
    return s.capacity() > 15 ? s.capacity() + 1 : 0;
}

template <class Map>
size_t IndexBytes(const Map &m) {
    // A node holds the key, the value, the next link and the cached hash.
    size_t n = m.bucket_count() * sizeof(void *) +
               m.size() * (sizeof(typename Map::value_type) + 2 * sizeof(void *));
    for (const auto &kv : m) n += HeapBytes(kv.first);
    return n;
}

// What an entry keeps alive: the file's text and an estimate of its parse
// (every line, name and value is a string of its own, which for a file of
// short lines weighs many times the file).
size_t EntryBytes(const std::string &text, const TIniData &d) {
    size_t n = sizeof(TCacheEntry) + HeapBytes(text) + sizeof(TIniData) +
               d.Lines.capacity() * sizeof(std::string) + d.Sections.capacity() * sizeof(TIniSection) +
               IndexBytes(d.SectionIndex);
    for (const auto &l : d.Lines) n += HeapBytes(l);
    for (const auto &s : d.Sections) {
        n += HeapBytes(s.Name) + s.Keys.capacity() * sizeof(TIniKey) + IndexBytes(s.KeyIndex);
        for (const auto &k : s.Keys) n += HeapBytes(k.Name) + HeapBytes(k.Value);
    }
    return n;
}

void CacheErase(std::unordered_map<std::string, TCacheEntry>::iterator it) {
    gCacheBytes -= it->second.Bytes;
    gCache.erase(it);
}

void CachePut(const std::string &path, std::string text, std::shared_ptr<TIniData> data) {
    const size_t bytes = EntryBytes(text, *data);
    std::lock_guard<std::mutex> g(gCacheLock);
    // Whatever was kept for this path describes other bytes now.
    if (auto it = gCache.find(path); it != gCache.end()) CacheErase(it);
    if (bytes > MaxIniCacheBytes) return;
    while (!gCache.empty() && (gCache.size() >= MaxCacheEntries || gCacheBytes + bytes > MaxIniCacheBytes)) {
        auto oldest = gCache.begin();
        for (auto it = gCache.begin(); it != gCache.end(); ++it)
            if (it->second.Used < oldest->second.Used) oldest = it;
        CacheErase(oldest);
    }
    gCache.emplace(path, TCacheEntry{std::move(text), std::move(data), ++gCacheClock, bytes});
    gCacheBytes += bytes;
}

[[noreturn]] void TooManyLines(const std::string &path) {
    throw EIniFileError("INI file \"" + path + "\" has more than " + IntToStr(int64_t(MaxIniLines)) +
                        " lines and is not read.");
}

[[noreturn]] void TooLarge(const std::string &path) {
    throw EIniFileError("INI file \"" + path + "\" is larger than " +
                        IntToStr(MaxIniFileSize / (1024 * 1024)) + " MiB and is not read.");
}

// The current parse of the file: shared and read-only. A missing file, or
// anything that is not a regular file (a FIFO would block), reads as empty.
std::shared_ptr<TIniData> LoadShared(const std::string &path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR || errno == ENXIO) return std::make_shared<TIniData>();
        throw EIniFileError("Cannot open INI file \"" + path + "\". " + std::strerror(errno));
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::make_shared<TIniData>();
    }
    if (st.st_size > MaxIniFileSize) {
        ::close(fd);
        TooLarge(path);
    }
    std::string text;
    text.reserve(size_t(st.st_size));
    bool whole;
    try {
        whole = ReadDescriptorToString(fd, path, text, MaxIniFileSize);
    } catch (const Exception &e) {
        ::close(fd);
        throw EIniFileError(e.Message());
    }
    ::close(fd);
    // The file may have grown since it was measured.
    if (!whole) TooLarge(path);
    {
        std::lock_guard<std::mutex> g(gCacheLock);
        auto it = gCache.find(path);
        if (it != gCache.end() && it->second.Text == text) {
            it->second.Used = ++gCacheClock;
            return it->second.Data;
        }
    }
    auto data = std::make_shared<TIniData>();
    if (!data->Parse(text)) TooManyLines(path);
    CachePut(path, std::move(text), data);
    return data;
}

void CheckSection(std::string_view section) {
    if (section.find_first_of("]\r\n") != std::string_view::npos)
        throw EIniFileError("Invalid INI section name \"" + std::string(section) + "\".");
}

void CheckIdent(std::string_view ident) {
    std::string t = Trim(ident);
    if (t.empty() || t[0] == '[' || t[0] == ';' ||
        ident.find_first_of("=\r\n") != std::string_view::npos)
        throw EIniFileError("Invalid INI key name \"" + std::string(ident) + "\".");
}

// A value is one line: a line break inside it would smuggle further keys or
// sections into the file. Values that would lose blanks or quotes to the
// reader's trimming are quoted, so what is written reads back the same.
std::string ValueText(std::string_view value) {
    std::string v(value);
    for (char &c : v)
        if (c == '\r' || c == '\n') c = ' ';
    bool edgeBlank = !v.empty() && (static_cast<unsigned char>(v.front()) <= ' ' ||
                                    static_cast<unsigned char>(v.back()) <= ' ');
    bool quoted = v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
    if (edgeBlank || quoted) return "\"" + v + "\"";
    return v;
}

}  // namespace

void IniFileCacheClear() {
    std::lock_guard<std::mutex> g(gCacheLock);
    gCache.clear();
    gCacheBytes = 0;
}

TIniCacheStats IniFileCacheStats() {
    std::lock_guard<std::mutex> g(gCacheLock);
    return TIniCacheStats{gCache.size(), gCacheBytes};
}

bool IniFileIsCached(const std::string &fileName) {
    std::lock_guard<std::mutex> g(gCacheLock);
    return gCache.count(ResolvePathCI(fileName)) > 0;
}

// ---------------------------------------------------------------------------

// Files written on the original platform come in any letter case: an
// existing file whose name differs only in case is the one meant.
TIniFile::TIniFile(std::string fileName, unsigned createMode)
    : FFileName(ResolvePathCI(fileName)), FCreateMode(createMode) {}

TIniFile::TIniFile(std::string fileName, unsigned createMode, bool batch)
    : FFileName(ResolvePathCI(fileName)), FCreateMode(createMode), FBatch(batch) {}

TIniFile::~TIniFile() = default;

void TIniFile::Load() {
    FData = LoadShared(FFileName);
    FOwned = false;
}

TIniData &TIniFile::Data() {
    // A plain object sees the file as it is now at every call; a batch object
    // keeps its own copy once loaded.
    if (!FBatch || !FData) Load();
    return *FData;
}

void TIniFile::Changed(bool reindex) {
    if (reindex) FData->Reindex();
    FDirty = true;
    if (!FBatch) UpdateFile();
}

void TIniFile::UpdateFile() {
    if (!FData || !FDirty) return;
    if (FFileName.empty()) throw EIniFileError("INI file name is empty.");
    std::string text = FData->Serialize();
    if (int64_t(text.size()) > MaxIniFileSize) TooLarge(FFileName);
    // Nothing is written that could not be read back.
    if (FData->Lines.size() > MaxIniLines) TooManyLines(FFileName);
    try {
        WriteFileAtomic(FFileName, text, FCreateMode);
    } catch (const Exception &e) {
        FDirty = false;
        FData.reset();
        throw EIniFileError(e.Message());
    }
    FDirty = false;
    CachePut(FFileName, std::move(text), FData);
    FOwned = false;
    if (!FBatch) FData.reset();
}

namespace {
TIniReadObserver gReadObserver;
}  // namespace

void SetIniReadObserver(TIniReadObserver Observer) { gReadObserver = std::move(Observer); }

std::string TIniFile::ReadString(std::string_view section, std::string_view ident,
                                 std::string_view def) {
    const TIniKey *k = Data().Find(section, ident);
    std::string value = k ? k->Value : std::string(def);
    if (gReadObserver) gReadObserver(FFileName, section, ident, def, value);
    return value;
}

int TIniFile::ReadInteger(std::string_view section, std::string_view ident, int def) {
    const TIniKey *k = Data().Find(section, ident);
    return k ? StrToIntDef(k->Value, def) : def;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view ident, bool def) {
    const TIniKey *k = Data().Find(section, ident);
    if (!k) return def;
    int v;
    if (TryStrToInt(k->Value, v)) return v != 0;
    if (SameText(k->Value, "True")) return true;
    if (SameText(k->Value, "False")) return false;
    return def;
}

bool TIniFile::SectionExists(std::string_view section) { return Data().Find(section) != nullptr; }

bool TIniFile::ValueExists(std::string_view section, std::string_view ident) {
    return Data().Find(section, ident) != nullptr;
}

void TIniFile::ReadSections(TStringList &strings) {
    strings.Clear();
    TIniData &d = Data();
    for (size_t i = 0; i < d.Sections.size(); ++i) {
        // Only the first of sections with the same name counts.
        auto it = d.SectionIndex.find(LowerCase(d.Sections[i].Name));
        if (it != d.SectionIndex.end() && it->second == i) strings.Add(d.Sections[i].Name);
    }
}

void TIniFile::ReadSection(std::string_view section, TStringList &strings) {
    strings.Clear();
    const TIniSection *s = Data().Find(section);
    if (!s) return;
    for (size_t i = 0; i < s->Keys.size(); ++i) {
        auto it = s->KeyIndex.find(LowerCase(s->Keys[i].Name));
        if (it != s->KeyIndex.end() && it->second == i) strings.Add(s->Keys[i].Name);
    }
}

void TIniFile::ReadSectionValues(std::string_view section, TStringList &strings) {
    strings.Clear();
    const TIniSection *s = Data().Find(section);
    if (!s) return;
    for (size_t i = 0; i < s->Keys.size(); ++i) {
        auto it = s->KeyIndex.find(LowerCase(s->Keys[i].Name));
        if (it != s->KeyIndex.end() && it->second == i)
            strings.Add(s->Keys[i].Name + "=" + s->Keys[i].Value);
    }
}

void TIniFile::ReadEverySection(TStringList &strings) {
    strings.Clear();
    for (const TIniSection &s : Data().Sections) strings.Add(s.Name);
}

void TIniFile::ReadEveryValue(std::string_view section, TStringList &strings) {
    const TIniSection *s = Data().Find(section);
    if (!s) return;
    for (const TIniKey &k : s->Keys) strings.Add(k.Value);
}

// Copy-on-write: a loaded parse is shared with the cache and other objects.
void TIniFile::Own() {
    if (FOwned) return;
    FData = std::make_shared<TIniData>(*FData);
    FOwned = true;
}

void TIniFile::WriteString(std::string_view section, std::string_view ident,
                           std::string_view value) {
    CheckSection(section);
    CheckIdent(ident);
    Data();
    Own();
    FData->Write(section, ident, ValueText(value));
    Changed(false);
}

// The index is kept up to date here instead of parsing every line again: a
// batch of writes into a file of many lines must not take time of the file's
// size for each write. What is stored is what Reindex would find.
void TIniData::Write(std::string_view section, std::string_view ident, const std::string &val) {
    const std::string secName = Trim(section), name = Trim(ident);
    const std::string value = StripQuotes(Trim(val));
    auto sit = SectionIndex.find(LowerCase(secName));
    if (sit == SectionIndex.end()) {
        size_t header = Lines.size();
        Lines.push_back("[" + secName + "]");
        Lines.push_back(name + "=" + val);
        Sections.push_back(TIniSection{secName, header, Lines.size(), {}, {}});
        SectionIndex.emplace(LowerCase(secName), Sections.size() - 1);
        TIniSection &s = Sections.back();
        s.Keys.push_back(TIniKey{header + 1, name, value});
        s.KeyIndex.emplace(LowerCase(name), 0);
        return;
    }
    const size_t si = sit->second;
    TIniSection &s = Sections[si];
    if (auto kit = s.KeyIndex.find(LowerCase(name)); kit != s.KeyIndex.end()) {
        TIniKey &k = s.Keys[kit->second];
        Lines[k.Line] = k.Name + "=" + val;
        k.Value = value;
        return;
    }
    // After the section's last non-blank line, so blank separators stay
    // between sections. Every key of the section lies before that line.
    size_t at = s.End;
    while (at > s.Header + 1 && Trim(Lines[at - 1]).empty()) --at;
    Lines.insert(Lines.begin() + ptrdiff_t(at), name + "=" + val);
    ++s.End;
    s.Keys.push_back(TIniKey{at, name, value});
    s.KeyIndex.emplace(LowerCase(name), s.Keys.size() - 1);
    for (size_t j = si + 1; j < Sections.size(); ++j) {
        TIniSection &later = Sections[j];
        ++later.Header;
        ++later.End;
        for (auto &k : later.Keys) ++k.Line;
    }
}

void TIniFile::WriteInteger(std::string_view section, std::string_view ident, int value) {
    WriteString(section, ident, IntToStr(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view ident, bool value) {
    WriteString(section, ident, value ? "1" : "0");
}

void TIniFile::DeleteKey(std::string_view section, std::string_view ident) {
    if (!Data().Find(section, ident)) return;
    Own();
    TIniData &d = *FData;
    const TIniSection *s = d.Find(section);
    std::string lower = LowerCase(Trim(ident));
    std::vector<bool> drop(d.Lines.size());
    for (const auto &k : s->Keys)
        if (LowerCase(k.Name) == lower) drop[k.Line] = true;
    d.DropLines(drop);
    Changed();
}

void TIniFile::EraseSection(std::string_view section) {
    if (!Data().Find(section)) return;
    Own();
    TIniData &d = *FData;
    // Every section of that name goes, or a later duplicate would reappear.
    std::string lower = LowerCase(Trim(section));
    std::vector<bool> drop(d.Lines.size());
    for (const TIniSection &s : d.Sections)
        if (LowerCase(s.Name) == lower)
            for (size_t n = s.Header; n < s.End; ++n) drop[n] = true;
    d.DropLines(drop);
    Changed();
}
