// String lists and streams: the containers the program's units pass around.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "SysUtils.h"

// An ordered list of texts. Text joins with CR LF; SetText splits at CR LF,
// LF or CR.
class TStringList {
public:
    TStringList() = default;
    TStringList(std::initializer_list<std::string> items) : FItems(items) {}

    int Count() const { return int(FItems.size()); }
    bool Empty() const { return FItems.empty(); }
    // An index outside the list raises EListError, as Insert and Delete do.
    const std::string &operator[](int i) const { return FItems[Checked(i)]; }
    std::string &operator[](int i) { return FItems[Checked(i)]; }
    const std::string &Strings(int i) const { return FItems[Checked(i)]; }

    int Add(std::string s);
    void Insert(int index, std::string s);
    void Delete(int index);
    void Clear() { FItems.clear(); }
    void Assign(const TStringList &other) { FItems = other.FItems; }
    void AddStrings(const TStringList &other);
    // Exact (case-sensitive) match, -1 when absent.
    int IndexOf(std::string_view s) const;
    // Match without regard to ASCII case, -1 when absent.
    int IndexOfText(std::string_view s) const;
    void Exchange(int a, int b);
    void Sort();  // without regard to case

    std::string Text() const;
    void SetText(std::string_view text);
    // "name=value" access.
    std::string Names(int i) const;
    std::string ValueFromIndex(int i) const;
    int IndexOfName(std::string_view name) const;
    std::string Values(std::string_view name) const;

    void LoadFromFile(const std::string &path);
    void SaveToFile(const std::string &path) const;

    std::vector<std::string> &Items() { return FItems; }
    const std::vector<std::string> &Items() const { return FItems; }
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }
    bool operator==(const TStringList &o) const { return FItems == o.FItems; }

private:
    size_t Checked(int i) const;
    std::vector<std::string> FItems;
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// A byte stream with a position. Read/Write move at most count bytes and
// return how many moved; ReadBuffer/WriteBuffer raise when fewer do.
class TStream {
public:
    virtual ~TStream() = default;
    virtual int64_t Read(void *buffer, int64_t count) = 0;
    virtual int64_t Write(const void *buffer, int64_t count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual const char *ClassName() const { return "TStream"; }

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t p) { Seek(p, TSeekOrigin::soBeginning); }
    virtual int64_t Size();
    virtual void SetSize(int64_t size);

    void ReadBuffer(void *buffer, int64_t count);
    void WriteBuffer(const void *buffer, int64_t count);
    // Copies count bytes (all from the start when count is 0) from source.
    int64_t CopyFrom(TStream &source, int64_t count);
};

class TMemoryStream : public TStream {
public:
    int64_t Read(void *buffer, int64_t count) override;
    int64_t Write(const void *buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    const char *ClassName() const override { return "TMemoryStream"; }
    int64_t Size() override { return int64_t(FData.size()); }
    void SetSize(int64_t size) override;
    void Clear();
    void LoadFromFile(const std::string &path);
    void SaveToFile(const std::string &path);
    const uint8_t *Memory() const { return FData.data(); }
    std::string DataString() const { return std::string(FData.begin(), FData.end()); }

protected:
    std::vector<uint8_t> FData;
    int64_t FPosition = 0;
};

// A memory stream that starts with the bytes of a text.
class TStringStream : public TMemoryStream {
public:
    explicit TStringStream(std::string_view s = {});
    const char *ClassName() const override { return "TStringStream"; }
};

enum TFileMode : unsigned {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFF00,
};

class TFileStream : public TStream {
public:
    // EFOpenError or EFCreateError when the file cannot be opened or created.
    // fmCreate with private permissions also takes group and other bits away
    // from an existing file.
    TFileStream(const std::string &path, unsigned mode, unsigned createPermissions = 0644);
    ~TFileStream() override;
    TFileStream(const TFileStream &) = delete;
    TFileStream &operator=(const TFileStream &) = delete;
    int64_t Read(void *buffer, int64_t count) override;
    int64_t Write(const void *buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;
    const char *ClassName() const override { return "TFileStream"; }
    const std::string &FileName() const { return FFileName; }
    int Handle() const { return FFd; }

private:
    std::string FFileName;
    int FFd = -1;
};
