#include "Classes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int TStringList::Add(std::string s) {
    FItems.push_back(std::move(s));
    return int(FItems.size()) - 1;
}

void TStringList::Insert(int index, std::string s) {
    if (index < 0 || size_t(index) > FItems.size())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    FItems.insert(FItems.begin() + index, std::move(s));
}

size_t TStringList::Checked(int i) const {
    if (i < 0 || size_t(i) >= FItems.size())
        throw EListError("List index out of bounds (" + std::to_string(i) + ")");
    return size_t(i);
}

void TStringList::Delete(int index) {
    if (index < 0 || size_t(index) >= FItems.size())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    FItems.erase(FItems.begin() + index);
}

void TStringList::AddStrings(const TStringList &other) {
    FItems.insert(FItems.end(), other.FItems.begin(), other.FItems.end());
}

int TStringList::IndexOf(std::string_view s) const {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i] == s) return int(i);
    return -1;
}

int TStringList::IndexOfText(std::string_view s) const {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (SameText(FItems[i], s)) return int(i);
    return -1;
}

void TStringList::Exchange(int a, int b) { std::swap(FItems[Checked(a)], FItems[Checked(b)]); }

void TStringList::Sort() {
    std::stable_sort(FItems.begin(), FItems.end(),
                     [](const std::string &a, const std::string &b) { return CompareText(a, b) < 0; });
}

std::string TStringList::Text() const {
    std::string out;
    for (const auto &s : FItems) {
        out += s;
        out += "\r\n";
    }
    return out;
}

void TStringList::SetText(std::string_view text) {
    FItems.clear();
    size_t i = 0;
    while (i < text.size()) {
        size_t j = i;
        while (j < text.size() && text[j] != '\r' && text[j] != '\n') ++j;
        FItems.emplace_back(text.substr(i, j - i));
        if (j < text.size() && text[j] == '\r') ++j;
        if (j < text.size() && text[j] == '\n') ++j;
        i = j;
    }
}

std::string TStringList::Names(int i) const {
    const std::string &s = FItems[Checked(i)];
    size_t eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int i) const {
    const std::string &s = FItems[Checked(i)];
    size_t eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(eq + 1);
}

int TStringList::IndexOfName(std::string_view name) const {
    for (size_t i = 0; i < FItems.size(); ++i) {
        size_t eq = FItems[i].find('=');
        if (eq != std::string::npos && SameText(std::string_view(FItems[i]).substr(0, eq), name))
            return int(i);
    }
    return -1;
}

std::string TStringList::Values(std::string_view name) const {
    int i = IndexOfName(name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::LoadFromFile(const std::string &path) { SetText(ReadFileToString(path)); }

void TStringList::SaveToFile(const std::string &path) const { WriteFileAtomic(path, Text()); }

// --------------------------------------------------------------------------
int64_t TStream::Size() {
    int64_t pos = Seek(0, TSeekOrigin::soCurrent);
    int64_t end = Seek(0, TSeekOrigin::soEnd);
    Seek(pos, TSeekOrigin::soBeginning);
    return end;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

void TStream::ReadBuffer(void *buffer, int64_t count) {
    if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void *buffer, int64_t count) {
    if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream &source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    int64_t total = 0;
    std::vector<uint8_t> buf(size_t(std::min<int64_t>(count, 1 << 20)) + 1);
    while (total < count) {
        int64_t n = std::min<int64_t>(count - total, int64_t(buf.size()));
        source.ReadBuffer(buf.data(), n);
        WriteBuffer(buf.data(), n);
        total += n;
    }
    return total;
}

int64_t TMemoryStream::Read(void *buffer, int64_t count) {
    if (count <= 0 || FPosition >= int64_t(FData.size())) return 0;
    int64_t n = std::min<int64_t>(count, int64_t(FData.size()) - FPosition);
    std::memcpy(buffer, FData.data() + FPosition, size_t(n));
    FPosition += n;
    return n;
}

int64_t TMemoryStream::Write(const void *buffer, int64_t count) {
    if (count <= 0) return 0;
    if (FPosition + count > int64_t(FData.size())) FData.resize(size_t(FPosition + count));
    std::memcpy(FData.data() + FPosition, buffer, size_t(count));
    FPosition += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = origin == TSeekOrigin::soBeginning ? 0
                   : origin == TSeekOrigin::soCurrent ? FPosition
                                                      : int64_t(FData.size());
    int64_t p = base + offset;
    if (p < 0) p = 0;
    FPosition = p;
    return FPosition;
}

void TMemoryStream::SetSize(int64_t size) {
    FData.resize(size_t(std::max<int64_t>(0, size)));
    if (FPosition > size) FPosition = size;
}

void TMemoryStream::Clear() {
    FData.clear();
    FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string &path) {
    std::string s = ReadFileToString(path);
    FData.assign(s.begin(), s.end());
    FPosition = 0;
}

void TMemoryStream::SaveToFile(const std::string &path) {
    WriteFileAtomic(path, std::string_view(reinterpret_cast<const char *>(FData.data()), FData.size()));
}

TStringStream::TStringStream(std::string_view s) { FData.assign(s.begin(), s.end()); }

// --------------------------------------------------------------------------
TFileStream::TFileStream(const std::string &path, unsigned mode, unsigned createPermissions)
    : FFileName(path) {
    if ((mode & 0xFF00) == fmCreate) {
        FFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, createPermissions);
        if (FFd < 0)
            throw EFCreateError("Cannot create file \"" + path + "\". " + std::strerror(errno));
        // Asked for as private, an existing file that others could read is
        // narrowed before the new content goes in (a saved message).
        struct stat st;
        if ((createPermissions & 077) == 0 && ::fstat(FFd, &st) == 0 && S_ISREG(st.st_mode) &&
            (st.st_mode & 077) != 0)
            ::fchmod(FFd, st.st_mode & 07700);
        return;
    }
    int flags = O_CLOEXEC;
    switch (mode & 3) {
        case fmOpenWrite: flags |= O_WRONLY; break;
        case fmOpenReadWrite: flags |= O_RDWR; break;
        default: flags |= O_RDONLY; break;
    }
    FFd = ::open(path.c_str(), flags);
    if (FFd < 0) throw EFOpenError("Cannot open file \"" + path + "\". " + std::strerror(errno));
    struct stat st;
    if (::fstat(FFd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(FFd);
        FFd = -1;
        throw EFOpenError("Cannot open file \"" + path + "\". Is a directory");
    }
}

TFileStream::~TFileStream() {
    if (FFd >= 0) ::close(FFd);
}

int64_t TFileStream::Read(void *buffer, int64_t count) {
    int64_t total = 0;
    auto *p = static_cast<char *>(buffer);
    while (total < count) {
        ssize_t n = ::read(FFd, p + total, size_t(count - total));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw EReadError("Cannot read file \"" + FFileName + "\". " + std::strerror(errno));
        }
        if (n == 0) break;
        total += n;
    }
    return total;
}

int64_t TFileStream::Write(const void *buffer, int64_t count) {
    int64_t total = 0;
    auto *p = static_cast<const char *>(buffer);
    while (total < count) {
        ssize_t n = ::write(FFd, p + total, size_t(count - total));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw EWriteError("Cannot write file \"" + FFileName + "\". " + std::strerror(errno));
        }
        total += n;
    }
    return total;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                 : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                    : SEEK_END;
    off_t r = ::lseek(FFd, off_t(offset), whence);
    if (r < 0) throw EStreamError("Cannot seek in file \"" + FFileName + "\"");
    return int64_t(r);
}

void TFileStream::SetSize(int64_t size) {
    if (::ftruncate(FFd, off_t(size)) != 0)
        throw EWriteError("Cannot resize file \"" + FFileName + "\". " + std::strerror(errno));
    if (Position() > size) SetPosition(size);
}
