// INI files with the private-profile behaviour every settings, language,
// skin, rule and data file of the program was written for:
// - section and key names compare without regard to ASCII case;
// - names and values are trimmed; one pair of enclosing quotes ('' or "")
//   is stripped from a value;
// - "Key=" reads as an empty value (present), not as the default;
// - CRLF, LF and CR line ends are read; a UTF-8 byte-order mark is kept;
// - a "Unicode" file (UTF-16 LE with its mark) reads as UTF-8 and is
//   written back as UTF-16 LE;
// - the first of duplicate sections or keys is the one that counts;
// - a write keeps every other line, its order and its text, and replaces the
//   file atomically (a crash never leaves a half-written file);
// - lines starting with ";" are comments.
// Values have no length limit. A file above MaxIniFileSize, or of more than
// MaxIniLines lines, is refused with EIniFileError instead of being read.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Classes.h"
#include "SysUtils.h"

TW_EXCEPTION_CLASS(EIniFileError, Exception);

constexpr int64_t MaxIniFileSize = 16 * 1024 * 1024;
// A parse costs far more than its text for short lines (a line, a key and its
// index entry each take memory of their own), so the lines are bounded too:
// a file of more lines is refused like an oversized one, and no write makes one.
constexpr size_t MaxIniLines = 1 << 20;
// The most memory the cache of parsed files keeps (texts and parses).
constexpr size_t MaxIniCacheBytes = 8 * 1024 * 1024;

struct TIniData;

class TIniFile {
public:
    // Nothing is read from disk until the first call needs it; a missing file
    // reads as empty. Files the object creates get createMode (private by
    // default: settings and rule files hold scrambled passwords).
    explicit TIniFile(std::string fileName, unsigned createMode = 0600);
    virtual ~TIniFile();
    TIniFile(const TIniFile &) = delete;
    TIniFile &operator=(const TIniFile &) = delete;

    const std::string &FileName() const { return FFileName; }

    std::string ReadString(std::string_view section, std::string_view ident,
                           std::string_view def);
    // Values that are not integers give the default.
    int ReadInteger(std::string_view section, std::string_view ident, int def);
    // "1"/"0" as written by WriteBool, and "True"/"False" in any case; else def.
    bool ReadBool(std::string_view section, std::string_view ident, bool def);

    void WriteString(std::string_view section, std::string_view ident, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view ident, int value);
    void WriteBool(std::string_view section, std::string_view ident, bool value);

    bool SectionExists(std::string_view section);
    bool ValueExists(std::string_view section, std::string_view ident);
    // Clears the list, then fills it with section names in file order.
    void ReadSections(TStringList &strings);
    // Clears the list, then fills it with the key names of the section.
    void ReadSection(std::string_view section, TStringList &strings);
    // Clears the list, then fills it with "key=value" of every key.
    void ReadSectionValues(std::string_view section, TStringList &strings);
    // Clears the list, then fills it with the name of every section header
    // in file order: a name the file repeats (in any case) comes as often.
    void ReadEverySection(TStringList &strings);
    // Appends the value of every key line of the section in file order, a
    // repeated key with each of its values.
    void ReadEveryValue(std::string_view section, TStringList &strings);

    void DeleteKey(std::string_view section, std::string_view ident);
    void EraseSection(std::string_view section);

    // A plain TIniFile writes at every change. In batch mode (TMemIniFile)
    // changes collect in memory until UpdateFile writes them in one go.
    void UpdateFile();

protected:
    TIniFile(std::string fileName, unsigned createMode, bool batch);

private:
    void Load();
    void Changed(bool reindex = true);
    void Own();
    TIniData &Data();

    std::string FFileName;
    unsigned FCreateMode;
    bool FBatch = false;
    bool FDirty = false;
    bool FOwned = false;
    std::shared_ptr<TIniData> FData;
};

// Collects changes in memory; UpdateFile writes them (the destructor does not).
class TMemIniFile : public TIniFile {
public:
    explicit TMemIniFile(std::string fileName, unsigned createMode = 0600)
        : TIniFile(std::move(fileName), createMode, true) {}
};

// Sees every ReadString of every file, with the default the reader gave and
// the value it got: tests learn through it what the program reads where.
// An empty one sees nothing.
using TIniReadObserver = std::function<void(const std::string &File, std::string_view Section,
                                            std::string_view Key, std::string_view Default,
                                            const std::string &Value)>;
void SetIniReadObserver(TIniReadObserver Observer);

// Drops every cached parse (tests that rewrite files behind the program's back
// within one clock tick use it).
void IniFileCacheClear();

// What the cache of parsed files holds now: files and the bytes they take.
struct TIniCacheStats {
    size_t Files = 0;
    size_t Bytes = 0;
};
TIniCacheStats IniFileCacheStats();
bool IniFileIsCached(const std::string &fileName);
