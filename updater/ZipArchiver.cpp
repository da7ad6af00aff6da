#include "ZipArchiver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "ZipCrypto.h"

namespace {

constexpr uint32_t SigLocal = 0x04034B50;
constexpr uint32_t SigCentral = 0x02014B50;
constexpr uint32_t SigEnd = 0x06054B50;
constexpr uint32_t SigZip64End = 0x06064B50;
constexpr uint32_t SigZip64Locator = 0x07064B50;
constexpr uint32_t SigDescriptor = 0x08074B50;
constexpr int64_t EndSearchWindow = 65600;

// Only one archiver in the process processes entries at a time. Recursive,
// because the default questions are modal and timers that fire inside them
// may run another operation on the same thread.
std::recursive_mutex &OperationLock() {
    static std::recursive_mutex lock;
    return lock;
}

inline uint16_t Get16(const uint8_t *p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const uint8_t *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t *p) { return uint64_t(Get32(p)) | (uint64_t(Get32(p + 4)) << 32); }

std::string Slashes(std::string s, char from, char to) {
    std::replace(s.begin(), s.end(), from, to);
    return s;
}

time_t DosDateTimeToUnix(uint16_t date, uint16_t time) {
    struct tm tm {};
    tm.tm_year = ((date >> 9) & 0x7F) + 80;
    tm.tm_mon = std::max(((date >> 5) & 0x0F) - 1, 0);
    tm.tm_mday = std::max(date & 0x1F, 1);
    tm.tm_hour = (time >> 11) & 0x1F;
    tm.tm_min = (time >> 5) & 0x3F;
    tm.tm_sec = (time & 0x1F) * 2;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

std::vector<TZipExtraBlock> ParseExtra(const std::string &extra) {
    std::vector<TZipExtraBlock> blocks;
    size_t p = 0;
    while (p + 4 <= extra.size()) {
        auto *b = reinterpret_cast<const uint8_t *>(extra.data() + p);
        uint16_t id = Get16(b), size = Get16(b + 2);
        if (p + 4 + size > extra.size()) break;  // a damaged tail is dropped
        blocks.push_back({id, extra.substr(p + 4, size)});
        p += 4 + size;
    }
    return blocks;
}

// Applies the Zip64 extended information to the fields that hold all ones.
// False when the block is too short for the fields it must hold.
bool ApplyZip64(TZipDirItem &item, bool central) {
    bool needU = item.UnpackedSize32 == 0xFFFFFFFF, needC = item.PackedSize32 == 0xFFFFFFFF;
    bool needO = central && item.Offset32 == 0xFFFFFFFF, needD = central && item.DiskStart16 == 0xFFFF;
    if (!needU && !needC && !needO && !needD) return true;
    for (const TZipExtraBlock &b : item.Extra) {
        if (b.HeaderID != 1) continue;
        auto *d = reinterpret_cast<const uint8_t *>(b.Data.data());
        size_t p = 0, n = b.Data.size();
        if (needU) {
            if (p + 8 > n) return false;
            item.UncompressedSize = Get64(d + p);
            p += 8;
        }
        if (needC) {
            if (p + 8 > n) return false;
            item.CompressedSize = Get64(d + p);
            p += 8;
        }
        if (needO) {
            if (p + 8 > n) return false;
            item.LocalHeaderOffset = Get64(d + p);
            p += 8;
        }
        if (needD) {
            if (p + 4 > n) return false;
            item.DiskStart = Get32(d + p);
        }
        return true;
    }
    return false;
}

class TCountingSink : public TZipDataSink {
public:
    bool Write(const uint8_t *, size_t) override { return true; }
};

class TStreamSink : public TZipDataSink {
public:
    explicit TStreamSink(TStream &s) : S(s) {}
    bool Write(const uint8_t *data, size_t count) override { return S.Write(data, int64_t(count)) == int64_t(count); }
    TStream &S;
};

class TFdSink : public TZipDataSink {
public:
    explicit TFdSink(int fd) : Fd(fd) {}
    bool Write(const uint8_t *data, size_t count) override {
        while (count > 0) {
            ssize_t w = ::write(Fd, data, count);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            data += w;
            count -= size_t(w);
        }
        return true;
    }
    int Fd;
};

// A temporary output file beside the target; removed unless committed, so a
// failed entry never leaves a truncated file or destroys the older one.
class TTempOutput {
public:
    explicit TTempOutput(const std::string &target) {
        std::string folder = ExtractFilePath(target);
        // Short enough for any file-name limit, whatever the target's length.
        Path = folder + "." + ExtractFileName(target).substr(0, 64) + ".XXXXXX";
        Fd = ::mkstemp(Path.data());
        if (Fd < 0) Path.clear();
    }
    ~TTempOutput() {
        if (Fd >= 0) ::close(Fd);
        if (!Path.empty()) ::unlink(Path.c_str());
    }
    bool Ok() const { return Fd >= 0; }
    bool Commit(const std::string &target) {
        if (::close(Fd) != 0) {
            Fd = -1;
            return false;
        }
        Fd = -1;
        if (::rename(Path.c_str(), target.c_str()) != 0) return false;
        Path.clear();
        return true;
    }
    std::string Path;
    int Fd = -1;
};

// Chunk size for reading entry data: 1 MiB, halved while one chunk's buffers
// would take more than a twentieth of the free physical memory.
size_t ChunkSize() {
    size_t chunk = 0x100000;
    long pages = sysconf(_SC_AVPHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) {
        uint64_t avail = uint64_t(pages) * uint64_t(pageSize);
        while (chunk > 512 && uint64_t(chunk) * 3 > avail / 20) chunk /= 2;
    }
    return chunk;
}

struct TInflateGuard {
    z_stream S{};
    bool Open = false;
    ~TInflateGuard() {
        if (Open) inflateEnd(&S);
    }
};

}  // namespace

struct TZipBaseArchiver::TEndRecord {
    int64_t Position = -1;
    uint32_t ThisDisk = 0;
    uint32_t CdDisk = 0;
    uint64_t EntriesThisDisk = 0;
    uint64_t TotalEntries = 0;
    uint64_t CdSize = 0;
    uint64_t CdOffset = 0;
};

TZipBaseArchiver::TZipBaseArchiver() = default;

TZipBaseArchiver::~TZipBaseArchiver() {
    try {
        FCloseRequested = false;
        FBusy = 0;
        CloseZip();
    } catch (...) {
    }
}

void TZipBaseArchiver::SetCompressionLevel(TZipCompressionLevel level) {
    FCompressionLevel = level;
    static const int modes[] = {0, 1, 6, 9};
    FCompressionMode = modes[level];
}

void TZipBaseArchiver::SetCompressionMode(int mode) {
    if (mode < 0 || mode > 9) throw EZipException(5, this);
    FCompressionMode = mode;
    if (mode == 0) FCompressionLevel = clNone;
    else if (mode <= 2) FCompressionLevel = clFastest;
    else if (mode <= 7) FCompressionLevel = clNormal;
    else FCompressionLevel = clMax;
}

void TZipBaseArchiver::SetSpanningMode(TZipSpanningMode mode) {
    if (mode == FSpanningMode) return;
    if (FActive) throw Exception("Cannot set spanning mode on open archive");
    FSpanningMode = mode;
}

void TZipBaseArchiver::SetInMemory(bool value) {
    if (value == FInMemory) return;
    if (!FActive) {
        FInMemory = value;
        return;
    }
    if (FInMemory) {
        // Leaving memory: the archive goes to FileName and is reopened there.
        if (ExtractFileName(FileName).empty()) throw EZipException(29, this);
        auto *mem = dynamic_cast<TMemoryStream *>(FStream);
        if (mem) {
            if (mem->Size() == 0) {
                CloseZip();
                FInMemory = false;
                OpenZipMode(zomCreate);
                return;
            }
            mem->SaveToFile(FileName);
        }
        CloseZip();
        FInMemory = false;
        OpenZipMode(zomOpenRead);
    } else {
        // Entering memory: the file's bytes are taken into a memory stream.
        auto mem = std::make_unique<TMemoryStream>();
        FStream->SetPosition(0);
        mem->CopyFrom(*FStream, FStream->Size());
        CloseZip();
        FInMemory = true;
        OpenZipStream(mem.get());
        FCustomStream = false;
        FOwnStream = std::move(mem);
    }
}

// ---------------------------------------------------------------------------
// Event slots.

void TZipBaseArchiver::DoOverallProgress(double progress, TZipProcessOperation op, TZipProgressPhase phase,
                                         bool &cancel) {
    if (OnOverallProgress) OnOverallProgress(this, progress, op, phase, cancel);
}

void TZipBaseArchiver::DoFileProgress(const std::string &fileName, double progress, TZipProcessOperation op,
                                      TZipProgressPhase phase, bool &cancel) {
    if (OnFileProgress) OnFileProgress(this, fileName, progress, op, phase, cancel);
}

void TZipBaseArchiver::DoCopyTempFileProgress(double progress, TZipProgressPhase phase, bool &cancel) {
    if (OnCopyTempFileProgress) OnCopyTempFileProgress(this, progress, phase, cancel);
}

void TZipBaseArchiver::DoConfirmOverwrite(const std::string &source, std::string &dest, bool &confirm) {
    if (OnConfirmOverwrite) {
        OnConfirmOverwrite(this, source, dest, confirm);
        return;
    }
    switch (Ask().AskOverwrite(Format(SZipOverwriteQuestion, dest.c_str(), source.c_str()))) {
        case TZipQuestions::oaYes: confirm = true; break;
        case TZipQuestions::oaNo: confirm = false; break;
        case TZipQuestions::oaYesToAll:
            confirm = true;
            Options.OverwriteMode = omAlways;
            break;
        case TZipQuestions::oaNoToAll:
            confirm = false;
            Options.OverwriteMode = omNever;
            break;
    }
}

void TZipBaseArchiver::DoConfirmProcessFile(const std::string &fileName, TZipProcessOperation op, bool &confirm) {
    if (OnConfirmProcessFile) OnConfirmProcessFile(this, fileName, op, confirm);
}

void TZipBaseArchiver::DoPassword(const std::string &fileName, std::string &newPassword, bool &skipFile) {
    if (OnPassword) {
        OnPassword(this, fileName, newPassword, skipFile);
        return;
    }
    std::string pw;
    if (Ask().InputPassword(Format(SZipPasswordTitle, fileName.c_str()), SZipPasswordPrompt, pw))
        newPassword = pw;
    else
        skipFile = true;
}

void TZipBaseArchiver::DoProcessFileFailure(const std::string &fileName, TZipProcessOperation op, int nativeError,
                                            int errorCode, const std::string &message,
                                            TZipFailureAction &action) {
    if (OnProcessFileFailure) {
        OnProcessFileFailure(this, fileName, op, nativeError, errorCode, message, action);
        return;
    }
    if (nativeError == 45) {
        action = fxaAbort;
        return;
    }
    action = Ask().AskFailure(Format(SZipProcessFileFailure, message.c_str()));
}

void TZipBaseArchiver::DoRequestBlankVolume(int volumeNumber, std::string &volumeFileName, bool &cancel) {
    if (OnRequestBlankVolume) {
        OnRequestBlankVolume(this, volumeNumber, volumeFileName, cancel);
        return;
    }
    if (FSpanningMode == smSpanning && !Ask().AskOkCancel(Format(SZipInsertBlankDisk, volumeNumber)))
        cancel = true;
}

void TZipBaseArchiver::DoRequestFirstVolume(std::string &volumeFileName, bool &cancel) {
    if (OnRequestFirstVolume) {
        OnRequestFirstVolume(this, volumeFileName, cancel);
        return;
    }
    if (FSpanningMode == smSpanning) {
        if (!Ask().AskOkCancel(SZipInsertFirstDisk)) cancel = true;
    } else if (!FileExists(volumeFileName)) {
        cancel = true;
    }
}

void TZipBaseArchiver::DoRequestLastVolume(std::string &volumeFileName, bool &cancel) {
    if (OnRequestLastVolume) {
        OnRequestLastVolume(this, volumeFileName, cancel);
        return;
    }
    if (FSpanningMode == smSpanning) {
        if (!Ask().AskOkCancel(SZipInsertLastDisk)) {
            cancel = true;
            return;
        }
        while (!FileExists(volumeFileName)) {
            if (!Ask().AskOkCancel(Format(SZipFileNotFoundOnDisk, volumeFileName.c_str()))) {
                cancel = true;
                return;
            }
        }
    } else if (!FileExists(volumeFileName)) {
        cancel = true;
    }
}

void TZipBaseArchiver::DoRequestMiddleVolume(int volumeNumber, std::string &volumeFileName, bool &cancel) {
    if (OnRequestMiddleVolume) {
        OnRequestMiddleVolume(this, volumeNumber, volumeFileName, cancel);
        return;
    }
    if (FSpanningMode == smSpanning) {
        if (!Ask().AskOkCancel(Format(SZipInsertDisk, volumeNumber))) cancel = true;
    } else if (!FileExists(volumeFileName)) {
        cancel = true;
    }
}

void TZipBaseArchiver::DoDiskFull(int volumeNumber, const std::string &volumeFileName, bool &cancel) {
    if (OnDiskFull) {
        OnDiskFull(this, volumeNumber, volumeFileName, cancel);
        return;
    }
    cancel = true;
}

void TZipBaseArchiver::DoVolumeFailure(int, const std::string &) {}

void TZipBaseArchiver::DoStoreFile(std::string &fileName, int &fileAttr, std::string &comment,
                                   const std::string &originalFileName) {
    if (OnStoreFile) OnStoreFile(this, fileName, fileAttr, comment, originalFileName);
}

void TZipBaseArchiver::DoExtractFile(std::string &fileName, int &fileAttr, const std::string &comment) {
    if (OnExtractFile) OnExtractFile(this, fileName, fileAttr, comment);
}

// ---------------------------------------------------------------------------
// Opening and closing.

void TZipBaseArchiver::OpenZip() {
    if (ExtractFileName(FileName).empty()) throw EZipException(9, this);
    TZipOpenMode mode = zomCreate;
    if (!FInMemory && FileExists(FileName)) {
        try {
            TFileStream probe(FileName, fmOpenReadWrite | fmShareDenyWrite);
            mode = zomOpenReadWrite;
        } catch (const EStreamError &) {
            mode = zomOpenRead;
        }
    }
    OpenZipMode(mode);
}

void TZipBaseArchiver::OpenZipMode(TZipOpenMode mode) {
    if (ExtractFileName(FileName).empty()) throw EZipException(10, this);
    if (mode != zomCreate && FSpanningMode != smSpanning && !FileExists(FileName))
        throw EZipException(12, {FileName}, this);
    if (FInMemory && mode != zomCreate) throw EZipException(28, this);
    if (FBusy) throw EZipException(37, this);
    CloseZip();
    OpenArchiveStream(mode);
    FActive = true;
    if (AfterOpen) AfterOpen(this);
}

void TZipBaseArchiver::OpenZipStream(TStream *stream) {
    if (!stream) throw EZipException(6, this);
    if (FBusy) throw EZipException(37, this);
    CloseZip();
    FStream = stream;
    FCustomStream = true;
    FSpanningMode = smNone;
    try {
        TEndRecord end;
        bool found = FindEndRecord(end);
        if (!found && !OpenCorruptedArchives) throw EZipException(48, this);
        ReadDirectory(found ? end : TEndRecord{});
    } catch (...) {
        FStream = nullptr;
        FCustomStream = false;
        FDir.Clear();
        throw;
    }
    FActive = true;
    if (AfterOpen) AfterOpen(this);
}

void TZipBaseArchiver::CreateNewArchive() {
    if (FInMemory) {
        FOwnStream = std::make_unique<TMemoryStream>();
    } else {
        try {
            FOwnStream = std::make_unique<TFileStream>(FileName, fmCreate);
        } catch (const EStreamError &) {
            throw EZipException(19, {FileName}, this);
        }
    }
    FStream = FOwnStream.get();
    FDir.Clear();
}

void TZipBaseArchiver::OpenArchiveStream(TZipOpenMode mode) {
    FDir.Clear();
    FComment.clear();
    FPrefixSize = 0;
    FDirOffset = 0;
    FCurrentVolume = 0;
    FLastVolume = 0;
    FRecovered = false;
    FCustomStream = false;
    if (mode == zomCreate || FInMemory) {
        CreateNewArchive();
        return;
    }
    FSpanningMode = smNone;
    try {
        FOwnStream = std::make_unique<TFileStream>(FileName, mode == zomOpenReadWrite ? fmOpenReadWrite
                                                                                     : fmOpenRead);
    } catch (const EStreamError &) {
        throw EZipException(33, {FileName}, this);
    }
    FStream = FOwnStream.get();
    try {
        TEndRecord end;
        bool found = FindEndRecord(end);
        if (!found && !OpenCorruptedArchives) throw EZipException(48, this);
        ReadDirectory(found ? end : TEndRecord{});
    } catch (...) {
        FOwnStream.reset();
        FStream = nullptr;
        FDir.Clear();
        FSpanningMode = smNone;
        throw;
    }
}

void TZipBaseArchiver::CloseZip() {
    if (FBusy) {
        // Asked from inside an operation (a timer during a question): the
        // operation stops after the current entry and closes then.
        FCloseRequested = true;
        return;
    }
    try {
        if (FActive && FStream && !FCustomStream && FStream->Size() == 0) {
            // An archive with nothing in it is still a valid empty archive.
            uint8_t end[22] = {0x50, 0x4B, 0x05, 0x06};
            FStream->SetPosition(0);
            FStream->Write(end, sizeof end);
        }
    } catch (...) {
    }
    FOwnStream.reset();
    FStream = nullptr;
    FCustomStream = false;
    FActive = false;
    FUpdatePending = false;
    FDir.Clear();
    FComment.clear();
    FSpanningMode = smNone;
    FLastVolume = 0;
    FCurrentVolume = 0;
}

void TZipBaseArchiver::CheckOpen() const {
    if (!FActive) throw EZipException(13, this);
    if (FUpdatePending) throw EZipException(26, this);
}

// ---------------------------------------------------------------------------
// The directory.

bool TZipBaseArchiver::FindEndRecord(TEndRecord &end) {
    int64_t size = FStream->Size();
    int64_t n = std::min(size, EndSearchWindow);
    if (n < 22) return false;
    std::vector<uint8_t> tail(size_t(n), 0);
    FStream->SetPosition(size - n);
    if (FStream->Read(tail.data(), n) != n) return false;
    for (int64_t i = n - 22; i >= 0; --i) {
        const uint8_t *p = tail.data() + i;
        if (Get32(p) != SigEnd) continue;
        // The record and its comment must end the file exactly, which also
        // rejects signature-like bytes inside a comment.
        if (int64_t(Get16(p + 20)) != n - i - 22) continue;
        end.Position = size - n + i;
        end.ThisDisk = Get16(p + 4);
        end.CdDisk = Get16(p + 6);
        end.EntriesThisDisk = Get16(p + 8);
        end.TotalEntries = Get16(p + 10);
        end.CdSize = Get32(p + 12);
        end.CdOffset = Get32(p + 16);
        FComment.assign(reinterpret_cast<const char *>(p + 22), size_t(Get16(p + 20)));
        return true;
    }
    return false;
}

void TZipBaseArchiver::ReadDirectory(const TEndRecord &end) {
    if (end.Position < 0) {
        RecoverDirectory();
        return;
    }
    try {
        ReadCentralDirectory(end);
    } catch (const EZipException &) {
        // A directory that cannot be read is rebuilt from the local headers
        // (single-file archives; a volume set cannot be scanned that way).
        if (!OpenCorruptedArchives || FLastVolume > 0) throw;
        FDir.Dir.SetCount(0);
        RecoverDirectory();
    }
}

void TZipBaseArchiver::ReadSpanExact(void *buffer, int64_t count) {
    if (ReadSpan(buffer, count) != count) throw EZipException(35, this);
}

int64_t TZipBaseArchiver::ReadSpan(void *buffer, int64_t count) {
    auto *p = static_cast<uint8_t *>(buffer);
    int64_t total = 0;
    while (total < count) {
        int64_t r = FStream->Read(p + total, count - total);
        if (r > 0) {
            total += r;
            continue;
        }
        if (FLastVolume > 0 && FCurrentVolume < FLastVolume) {
            SelectVolume(FCurrentVolume + 1);
            FStream->SetPosition(0);
            continue;
        }
        break;
    }
    return total;
}

void TZipBaseArchiver::ReadCentralDirectory(const TEndRecord &endIn) {
    TEndRecord end = endIn;
    int64_t endBase = end.Position;
    if (end.Position >= 20) {
        uint8_t loc[20];
        FStream->SetPosition(end.Position - 20);
        if (FStream->Read(loc, 20) == 20 && Get32(loc) == SigZip64Locator) {
            uint64_t z64off = Get64(loc + 8);
            uint8_t rec[56];
            auto readRecord = [&](int64_t at) {
                if (at < 0 || at + 56 > end.Position - 20) return false;
                FStream->SetPosition(at);
                return FStream->Read(rec, 56) == 56 && Get32(rec) == SigZip64End;
            };
            int64_t at = -1;
            // The recorded offset leaves out any prefix; the record then lies
            // right before its locator.
            if (z64off <= uint64_t(INT64_MAX) && readRecord(int64_t(z64off))) at = int64_t(z64off);
            else if (readRecord(end.Position - 20 - 56)) at = end.Position - 20 - 56;
            if (at < 0) throw EZipException(40, this);
            endBase = at;
            end.ThisDisk = Get32(rec + 16);
            end.CdDisk = Get32(rec + 20);
            end.EntriesThisDisk = Get64(rec + 24);
            end.TotalEntries = Get64(rec + 32);
            end.CdSize = Get64(rec + 40);
            end.CdOffset = Get64(rec + 48);
        }
    }
    if (end.ThisDisk > 0) ApplyVolumeLayout(end);

    int64_t bound = INT64_MAX;
    int64_t cdStart;
    if (FLastVolume == 0) {
        if (end.CdSize > uint64_t(endBase)) throw EZipException(35, this);
        cdStart = endBase - int64_t(end.CdSize);
        bound = endBase;
        FStream->SetPosition(cdStart);
    } else {
        if (end.CdDisk > uint32_t(FLastVolume)) throw EZipException(35, this);
        SelectVolume(int(end.CdDisk));
        if (end.CdOffset > uint64_t(FStream->Size())) throw EZipException(35, this);
        cdStart = int64_t(end.CdOffset);
        FStream->SetPosition(cdStart);
    }
    FDirOffset = cdStart;

    int64_t pos = cdStart;
    uint64_t fileSize = uint64_t(FStream->Size());
    uint64_t sumCompressed = 0;
    for (uint64_t i = 0; i < end.TotalEntries; ++i) {
        uint8_t h[46];
        if (pos + 46 > bound) throw EZipException(35, this);
        ReadSpanExact(h, 46);
        if (Get32(h) != SigCentral) throw EZipException(35, this);
        TZipDirItem item;
        item.VersionMadeBy = Get16(h + 4);
        item.VersionNeeded = Get16(h + 6);
        item.Flags = Get16(h + 8);
        item.Method = Get16(h + 10);
        item.ModTime = Get16(h + 12);
        item.ModDate = Get16(h + 14);
        item.Crc32 = Get32(h + 16);
        item.PackedSize32 = Get32(h + 20);
        item.UnpackedSize32 = Get32(h + 24);
        uint16_t nameLen = Get16(h + 28), extraLen = Get16(h + 30), commentLen = Get16(h + 32);
        item.DiskStart16 = Get16(h + 34);
        item.InternalAttr = Get16(h + 36);
        item.ExternalAttr = Get32(h + 38);
        item.Offset32 = Get32(h + 42);
        item.CompressedSize = item.PackedSize32;
        item.UncompressedSize = item.UnpackedSize32;
        item.LocalHeaderOffset = item.Offset32;
        item.DiskStart = item.DiskStart16;
        int64_t varLen = int64_t(nameLen) + extraLen + commentLen;
        if (pos + 46 + varLen > bound) throw EZipException(35, this);
        std::string var(size_t(varLen), '\0');
        ReadSpanExact(var.data(), varLen);
        pos += 46 + varLen;
        item.Name = var.substr(0, nameLen);
        std::string extra = var.substr(nameLen, extraLen);
        item.Comment = var.substr(size_t(nameLen) + extraLen);
        item.Extra = ParseExtra(extra);
        if (!ApplyZip64(item, true)) throw EZipException(35, this);
        if (Options.OEMFileNames && !(item.Flags & 0x800)) item.Name = ZipOemToAnsi(item.Name);
        sumCompressed += item.CompressedSize;
        FDir.Dir.Add(std::move(item));
    }
    if (FLastVolume == 0) {
        if (!OpenCorruptedArchives && sumCompressed > fileSize) throw EZipException(57, this);
        FPrefixSize = cdStart - int64_t(end.CdOffset);
        DetectPrefix();
    }
}

// An executable or other prefix before the archive: the directory sits
// FPrefixSize bytes later than recorded, and so (unless the writer already
// counted the prefix) does every local header.
void TZipBaseArchiver::DetectPrefix() {
    if (FPrefixSize <= 0 || FDir.Dir.Count() == 0) {
        if (FPrefixSize < 0) FPrefixSize = 0;
        return;
    }
    auto localAt = [&](uint64_t off) {
        uint8_t sig[4];
        if (off > uint64_t(INT64_MAX) - 4) return false;
        FStream->SetPosition(int64_t(off));
        return FStream->Read(sig, 4) == 4 && Get32(sig) == SigLocal;
    };
    const TZipDirItem &first = FDir.Dir[0];
    if (localAt(first.LocalHeaderOffset + uint64_t(FPrefixSize)) || !localAt(first.LocalHeaderOffset)) {
        for (int i = 0; i < FDir.Dir.Count(); ++i) FDir.Dir[i].LocalHeaderOffset += uint64_t(FPrefixSize);
    }
}

void TZipBaseArchiver::RecoverDirectory() {
    FDir.Dir.SetCount(0);
    int64_t size = FStream->Size();
    const int64_t block = 65536;
    std::vector<uint8_t> buf(size_t(block) + 3);
    // Next position at or after from where the signature starts, -1 if none.
    auto findSig = [&](uint32_t sig, int64_t from) -> int64_t {
        while (from + 4 <= size) {
            int64_t n = std::min<int64_t>(block + 3, size - from);
            FStream->SetPosition(from);
            if (FStream->Read(buf.data(), n) != n) return -1;
            for (int64_t i = 0; i + 4 <= n; ++i)
                if (buf[size_t(i)] == 0x50 && Get32(buf.data() + i) == sig) return from + i;
            from += block;
        }
        return -1;
    };
    int64_t pos = 0;
    while (pos + 30 <= size) {
        int64_t at = findSig(SigLocal, pos);
        if (at < 0 || at + 30 > size) break;
        uint8_t h[30];
        FStream->SetPosition(at);
        if (FStream->Read(h, 30) != 30) break;
        TZipDirItem item;
        item.VersionNeeded = Get16(h + 4);
        item.VersionMadeBy = item.VersionNeeded & 0xFF;
        item.Flags = Get16(h + 6);
        item.Method = Get16(h + 8);
        item.ModTime = Get16(h + 10);
        item.ModDate = Get16(h + 12);
        item.Crc32 = Get32(h + 14);
        item.PackedSize32 = Get32(h + 18);
        item.UnpackedSize32 = Get32(h + 22);
        uint16_t nameLen = Get16(h + 26), extraLen = Get16(h + 28);
        int64_t dataStart = at + 30 + nameLen + extraLen;
        if (dataStart > size) break;
        std::string var(size_t(nameLen) + extraLen, '\0');
        if (FStream->Read(var.data(), int64_t(var.size())) != int64_t(var.size())) break;
        item.Name = var.substr(0, nameLen);
        item.Extra = ParseExtra(var.substr(nameLen));
        item.CompressedSize = item.PackedSize32;
        item.UncompressedSize = item.UnpackedSize32;
        ApplyZip64(item, false);
        item.LocalHeaderOffset = uint64_t(at);
        item.ExternalAttr = (!item.Name.empty() && item.Name.back() == '/') ? faDirectory : faArchive;
        if (Options.OEMFileNames && !(item.Flags & 0x800)) item.Name = ZipOemToAnsi(item.Name);
        int64_t next = dataStart;
        if (item.Flags & 8) {
            int64_t d = findSig(SigDescriptor, dataStart);
            if (d >= 0 && d + 16 <= size) {
                uint8_t dd[16];
                FStream->SetPosition(d);
                if (FStream->Read(dd, 16) == 16) {
                    item.Crc32 = Get32(dd + 4);
                    item.CompressedSize = Get32(dd + 8);
                    item.UncompressedSize = Get32(dd + 12);
                }
                next = d + 16;
            }
        } else if (item.CompressedSize <= uint64_t(size - dataStart)) {
            next = dataStart + int64_t(item.CompressedSize);
        }
        FDir.Dir.Add(std::move(item));
        pos = std::max(next, at + 4);
    }
    if (FDir.Dir.Count() == 0) throw EZipException(FSpanningMode == smSpanning ? 44 : 35, this);
    FDirOffset = size;
    FRecovered = true;
}

std::string TZipBaseArchiver::VolumeFileName(int number, bool advanced) const {
    if (number >= FLastVolume) return FileName;
    std::string dir = ExtractFilePath(FileName);
    std::string ext = ExtractFileExt(FileName);
    std::string base = ExtractFileName(FileName);
    base = base.substr(0, base.size() - ext.size());
    std::string name = advanced ? dir + base + "_" + Format("%.3u", unsigned(number + 1)) + ext
                                : dir + base + ".z" + Format("%.2d", number + 1);
    // Info-ZIP writes ".z01", other writers ".Z01".
    return ResolvePathCI(name);
}

void TZipBaseArchiver::ApplyVolumeLayout(const TEndRecord &end) {
    if (FCustomStream) throw EZipException(51, this);
    if (end.ThisDisk > 0xFFFF) throw EZipException(35, this);
    FLastVolume = int(end.ThisDisk);
    FCurrentVolume = FLastVolume;
    bool advanced = SpanningOptions.AdvancedNaming;
    if (FileExists(VolumeFileName(0, advanced))) {
        FSpanningMode = smSplitting;
    } else if (FileExists(VolumeFileName(0, !advanced))) {
        SpanningOptions.AdvancedNaming = !advanced;
        FSpanningMode = smSplitting;
    } else {
        // A self-extracting first part never lies on removable media.
        FSpanningMode = ContainsText(ExtractFileName(FileName), ".exe") ? smSplitting : smSpanning;
    }
}

void TZipBaseArchiver::SelectVolume(int number) {
    if (FLastVolume == 0 || number == FCurrentVolume) return;
    if (number < 0 || number > FLastVolume) throw EZipException(45, this);
    std::string name =
        FSpanningMode == smSpanning ? FileName : VolumeFileName(number, SpanningOptions.AdvancedNaming);
    bool cancel = false;
    // Volume numbers in the events count from 1.
    if (number == 0) DoRequestFirstVolume(name, cancel);
    else if (number == FLastVolume) DoRequestLastVolume(name, cancel);
    else DoRequestMiddleVolume(number + 1, name, cancel);
    if (cancel || !FileExists(name)) {
        DoVolumeFailure(number + 1, name);
        throw EZipException(45, this);
    }
    FOwnStream.reset();
    FStream = nullptr;
    try {
        FOwnStream = std::make_unique<TFileStream>(name, fmOpenRead);
    } catch (const EStreamError &) {
        throw EZipException(45, this);
    }
    FStream = FOwnStream.get();
    FCurrentVolume = number;
}

// ---------------------------------------------------------------------------
// Selecting and processing entries.

void TZipBaseArchiver::SelectMatching(const std::string &fileMask, int searchAttr,
                                      const std::string &exclusionMask) {
    std::string mask = fileMask;
    if (Options.StorePath != spFullPathWithDrive && mask.size() >= 2 && mask[1] == ':') mask.erase(0, 2);
    mask = Slashes(mask, '\\', '/');
    int star = Pos("*.*", mask);
    if (star > 0) mask = Copy(mask, 1, star - 1) + "*" + Copy(mask, star + 3);
    bool noExtension = !mask.empty() && mask.back() == '.';
    if (noExtension) mask.pop_back();
    std::string maskDir = LowerCase(ExtractFilePath(mask));
    for (int i = 0; i < FDir.Dir.Count(); ++i) {
        TZipDirItem &item = FDir.Dir[i];
        std::string name = item.Name;
        while (!name.empty() && name.back() == '/') name.pop_back();
        std::string bare = ExtractFileName(name);
        bool sel = true;
        if (!Options.Recurse && LowerCase(ExtractFilePath(name)) != maskDir) sel = false;
        if (sel) sel = MatchWildcard(name, mask, true) || MatchWildcard(bare, mask, true);
        if (sel && noExtension && Contains(bare, ".")) sel = false;
        uint32_t attr = item.ExternalAttr & 0xFF;
        if (item.IsFolder()) attr |= faDirectory;
        if (sel && (attr & 0x1E & ~uint32_t(searchAttr))) sel = false;
        // The caller's exclusion mask, when given, takes entries out again.
        if (sel && !exclusionMask.empty()) {
            std::string ex = Slashes(exclusionMask, '\\', '/');
            sel = !(MatchWildcard(name, ex, true) || MatchWildcard(bare, ex, true));
        }
        item.Selected = sel;
    }
}

void TZipBaseArchiver::ExtractMatching(const std::string &FileMask, int SearchAttr,
                                       const std::string &ExclusionMask) {
    CheckOpen();
    SelectMatching(FileMask, SearchAttr, ExclusionMask);
    ProcessSelected(poExtract);
}

void TZipBaseArchiver::TestMatching(const std::string &FileMask, int SearchAttr,
                                    const std::string &ExclusionMask) {
    CheckOpen();
    SelectMatching(FileMask, SearchAttr, ExclusionMask);
    ProcessSelected(poTest);
}

void TZipBaseArchiver::ProcessSelected(TZipProcessOperation op) {
    std::lock_guard<std::recursive_mutex> guard(OperationLock());
    // A nested operation (from a timer inside a question) gets its own state
    // and gives the outer one back when it ends.
    ++FBusy;
    struct TRestore {
        TZipBaseArchiver *A;
        int Total, Done;
        bool Cancel;
        TZipProcessOperation Op;
        ~TRestore() {
            A->FEntriesTotal = Total;
            A->FEntriesDone = Done;
            A->FCancel = Cancel;
            A->FCurrentOp = Op;
            if (--A->FBusy == 0 && A->FCloseRequested) {
                A->FCloseRequested = false;
                A->CloseZip();
            }
        }
    } restore{this, FEntriesTotal, FEntriesDone, FCancel, FCurrentOp};

    std::vector<int> selected;
    for (int i = 0; i < FDir.Dir.Count(); ++i)
        if (FDir.Dir[i].Selected) selected.push_back(i);
    TZipOperationResult result;
    result.Selected = int(selected.size());
    FEntriesTotal = int(selected.size());
    FEntriesDone = 0;
    FCancel = false;
    FCurrentOp = op;
    FNameCache.clear();

    bool cancel = false;
    DoOverallProgress(0, op, ppStart, cancel);
    if (cancel) FCancel = true;
    for (int index : selected) {
        if (FCancel || FCloseRequested || !FActive) break;
        if (index >= FDir.Dir.Count()) break;
        std::string stored = FDir.Dir[index].Name;
        std::string name = Slashes(stored, '/', '\\');
        bool confirm = true;
        DoConfirmProcessFile(name, op, confirm);
        if (!confirm) {
            result.Skipped.Add(stored);
            continue;
        }
        cancel = false;
        DoFileProgress(name, 0, op, ppStart, cancel);
        if (cancel) {
            FCancel = true;
            break;
        }
        TEntryOutcome outcome = eoDone;
        bool failed = false;
        for (;;) {
            try {
                outcome = ExtractEntry(index, op);
                break;
            } catch (const EZipException &e) {
                TZipFailureAction action = fxaIgnore;
                DoProcessFileFailure(name, op, e.NativeError, e.ErrorCode, e.Message(), action);
                if (action == fxaRetry && !FCloseRequested && FActive) continue;
                failed = true;
                if (action == fxaAbort) result.Aborted = true;
                break;
            }
        }
        if (failed) {
            result.Failed.Add(stored);
            if (result.Aborted) break;
            continue;
        }
        if (outcome == eoCancelled) {
            FCancel = true;
            break;
        }
        if (outcome == eoSkipped) result.Skipped.Add(stored);
        cancel = false;
        DoFileProgress(name, 100, op, ppEnd, cancel);
        if (cancel) FCancel = true;
        ++FEntriesDone;
        ++result.Processed;
    }
    result.Cancelled = FCancel;
    cancel = false;
    DoOverallProgress(100, op, ppEnd, cancel);
    FResult = std::move(result);
}

std::string TZipBaseArchiver::ResolveTarget(const std::string &base, const std::string &rel) {
    std::string cur = base;
    bool trailing = !rel.empty() && rel.back() == '/';
    size_t start = 0;
    bool resolving = true;
    while (start < rel.size()) {
        size_t end = rel.find('/', start);
        if (end == std::string::npos) end = rel.size();
        std::string comp = rel.substr(start, end - start);
        start = end + 1;
        if (comp.empty() || comp == ".") continue;
        if (!cur.empty() && cur.back() != '/') cur += '/';
        if (resolving) {
            auto found = FNameCache.find(cur);
            if (found == FNameCache.end()) {
                std::map<std::string, std::string> names;
                if (DirectoryExists(cur.empty() ? "." : cur))
                    for (const std::string &n : ListDirectory(cur.empty() ? "." : cur)) names.emplace(LowerCase(n), n);
                found = FNameCache.emplace(cur, std::move(names)).first;
            }
            auto hit = found->second.find(LowerCase(comp));
            if (hit != found->second.end()) {
                comp = hit->second;
            } else {
                // About to be created under this spelling; later entries
                // find it here.
                found->second.emplace(LowerCase(comp), comp);
                resolving = false;
            }
        }
        cur += comp;
    }
    if (trailing && (cur.empty() || cur.back() != '/')) cur += '/';
    return cur;
}

TZipBaseArchiver::TEntryOutcome TZipBaseArchiver::ExtractEntry(int index, TZipProcessOperation op) {
    if (op == poTest) {
        TCountingSink sink;
        bool checksOk = false;
        TEntryOutcome outcome = WriteEntryData(index, sink, checksOk);
        if (outcome == eoDone && !checksOk && !ExtractCorruptedFiles) throw EZipException(8, this);
        return outcome;
    }
    const TZipDirItem item = FDir.Dir[index];
    std::string original = Slashes(item.Name, '/', '\\');
    std::string eventName = original;
    int attr = int(item.ExternalAttr);
    DoExtractFile(eventName, attr, item.Comment);
    bool renamedByCaller = eventName != original;
    std::string rel = Slashes(eventName, '\\', '/');

    // A link entry is never followed or made: its target could point anywhere.
    if (item.IsSymlink()) return eoSkipped;

    bool absolute = (!rel.empty() && rel[0] == '/') || Contains(rel, ":");
    bool climbs = false;
    {
        size_t start = 0;
        while (start <= rel.size()) {
            size_t end = rel.find('/', start);
            if (end == std::string::npos) end = rel.size();
            if (rel.compare(start, end - start, "..") == 0) climbs = true;
            start = end + 1;
        }
    }
    // Names from the archive stay inside the target folder; only a name the
    // caller's own handler chose may point elsewhere.
    if (climbs || (absolute && !renamedByCaller) || rel.empty() || rel.find('\0') != std::string::npos)
        throw EZipException(19, {item.Name}, this);

    std::string base = BaseDir.empty() ? std::string("./") : IncludeTrailingPathDelimiter(BaseDir);
    std::string target = absolute ? rel : ResolveTarget(base, rel);
    bool folder = item.IsFolder() || (!rel.empty() && rel.back() == '/');
    if (Options.CreateDirs) {
        std::string dir = folder ? target : ExtractFilePath(target);
        if (!dir.empty() && !DirectoryExists(dir) && !ForceDirectories(dir))
            throw EZipException(20, {dir}, this);
    } else {
        if (folder) return eoDone;
        target = absolute ? rel : ResolveTarget(base, ExtractFileName(rel));
    }
    if (folder) return eoDone;

    time_t entryTime = DosDateTimeToUnix(item.ModDate, item.ModTime);
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) throw EZipException(19, {target}, this);
        bool readOnly = S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR);
        if (readOnly && !Options.ReplaceReadOnly) return eoSkipped;
        switch (Options.OverwriteMode) {
            case omPrompt: {
                std::string dest = Slashes(target, '/', '\\');
                bool confirm = false;
                DoConfirmOverwrite(original, dest, confirm);
                if (!confirm) return eoSkipped;
                target = Slashes(dest, '\\', '/');
                break;
            }
            case omNever: return eoSkipped;
            case omIfNewer:
                if (st.st_mtime >= entryTime) return eoSkipped;
                break;
            case omIfOlder:
                if (entryTime >= st.st_mtime) return eoSkipped;
                break;
            case omAlways: break;
        }
    }

    TTempOutput out(target);
    if (!out.Ok()) throw EZipException(19, {target}, this);
    TFdSink sink(out.Fd);
    bool checksOk = false;
    TEntryOutcome outcome = WriteEntryData(index, sink, checksOk);
    if (outcome != eoDone) return outcome;  // the temporary goes, the old file stays
    if (!checksOk && !ExtractCorruptedFiles) throw EZipException(8, this);

    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = entryTime;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    ::futimens(out.Fd, times);
    unsigned mode = 0644;
    if (Options.SetAttributes) {
        if (item.HasUnixMode() && S_ISREG(item.UnixMode())) mode = item.UnixMode() & 0777;
        if (uint32_t(attr) & faReadOnly) mode &= ~0222u;
    }
    ::fchmod(out.Fd, mode);
    if (!out.Commit(target)) throw EZipException(19, {target}, this);
    return eoDone;
}

// Handlers may pump messages, and a timer may then run another operation on
// this archive; reading goes on where it was.
void TZipBaseArchiver::KeepReadPosition(const std::function<void()> &fire) {
    int volume = FCurrentVolume;
    int64_t at = FStream->Position();
    fire();
    if (FCurrentVolume != volume) SelectVolume(volume);
    FStream->SetPosition(at);
}

bool TZipBaseArchiver::ExtractToStream(int index, TStream &dest) {
    if (!FActive) throw EZipException(13, this);
    std::lock_guard<std::recursive_mutex> guard(OperationLock());
    TStreamSink sink(dest);
    bool checksOk = false;
    ++FBusy;
    struct TDone {
        TZipBaseArchiver *A;
        ~TDone() {
            if (--A->FBusy == 0 && A->FCloseRequested) {
                A->FCloseRequested = false;
                A->CloseZip();
            }
        }
    } done{this};
    return WriteEntryData(index, sink, checksOk) == eoDone && checksOk;
}

TZipBaseArchiver::TEntryOutcome TZipBaseArchiver::WriteEntryData(int index, TZipDataSink &sink, bool &checksOk) {
    checksOk = false;
    if (index < 0 || index >= FDir.Dir.Count()) throw EZipException(16, this);
    const TZipDirItem item = FDir.Dir[index];
    std::string eventName = Slashes(item.Name, '/', '\\');
    TZipProcessOperation op = FCurrentOp;

    if (FLastVolume > 0) SelectVolume(int(std::min<uint32_t>(item.DiskStart, uint32_t(FLastVolume))));
    if (item.LocalHeaderOffset > uint64_t(INT64_MAX)) throw EZipException(35, this);
    FStream->SetPosition(int64_t(item.LocalHeaderOffset));
    uint8_t h[30];
    if (ReadSpan(h, 30) != 30 || Get32(h) != SigLocal) throw EZipException(35, this);
    int64_t skip = int64_t(Get16(h + 26)) + Get16(h + 28);
    if (FLastVolume == 0) {
        FStream->Seek(skip, TSeekOrigin::soCurrent);
    } else {
        std::vector<uint8_t> scratch(static_cast<size_t>(skip));
        if (ReadSpan(scratch.data(), skip) != skip) throw EZipException(35, this);
    }

    uint64_t compressed = item.CompressedSize;
    if (FLastVolume == 0) {
        // Entry data never runs into the directory (or past the end).
        int64_t dataStart = FStream->Position();
        int64_t limit = std::min<int64_t>(FDirOffset, FStream->Size());
        compressed = dataStart >= limit ? 0 : std::min<uint64_t>(compressed, uint64_t(limit - dataStart));
    }
    if (item.Method == 9) throw EZipException(55, this);
    if (item.Method != 0 && item.Method != 8) throw EZipException(8, this);

    std::unique_ptr<TZipCryptKeys> keys;
    if (item.Encrypted()) {
        if (compressed < 12) throw EZipException(8, this);
        uint8_t header[12];
        if (ReadSpan(header, 12) != 12) throw EZipException(8, this);
        compressed -= 12;
        uint8_t check = (item.Flags & 8) ? uint8_t(item.ModTime >> 8) : uint8_t(item.Crc32 >> 24);
        for (;;) {
            keys = std::make_unique<TZipCryptKeys>(Password);
            uint8_t plain[12];
            std::memcpy(plain, header, 12);
            keys->Decode(plain, 12);
            if (plain[11] == check) break;
            std::string newPassword = Password;
            bool skipFile = false;
            KeepReadPosition([&] { DoPassword(eventName, newPassword, skipFile); });
            if (skipFile) return eoSkipped;
            Password = newPassword;
        }
    }

    // Buffers no larger than the entry needs, so small entries stay cheap.
    size_t chunk = size_t(std::min<uint64_t>(ChunkSize(), std::max<uint64_t>(compressed, 1)));
    size_t outSize = size_t(std::clamp<uint64_t>(item.UncompressedSize + 1, 4096, std::max<size_t>(ChunkSize(), 65536)));
    std::vector<uint8_t> in(chunk);
    std::vector<uint8_t> outBuf(item.Method == 8 ? outSize : 0);
    TInflateGuard z;
    if (item.Method == 8) {
        if (inflateInit2(&z.S, -MAX_WBITS) != Z_OK) throw EDecompressionError(item.Name, this);
        z.Open = true;
    }
    uint64_t processed = 0, written = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    bool streamEnd = false;
    const uint64_t declared = item.UncompressedSize;
    while (processed < compressed && !streamEnd) {
        bool cancel = false;
        double fraction = double(processed) / double(compressed);
        KeepReadPosition([&] {
            DoFileProgress(eventName, fraction * 100.0, op, ppProcess, cancel);
            if (!cancel && FEntriesTotal > 0)
                DoOverallProgress((fraction + FEntriesDone) / FEntriesTotal * 100.0, op, ppProcess, cancel);
        });
        if (cancel) {
            FCancel = true;
            return eoCancelled;
        }
        int64_t want = int64_t(std::min<uint64_t>(chunk, compressed - processed));
        int64_t got = ReadSpan(in.data(), want);
        if (got <= 0) break;
        processed += uint64_t(got);
        if (keys) keys->Decode(in.data(), size_t(got));
        if (item.Method == 0) {
            if (written + uint64_t(got) > declared) throw EZipException(8, this);
            crc = crc32(crc, in.data(), uInt(got));
            if (!sink.Write(in.data(), size_t(got))) throw EZipException(46, this);
            written += uint64_t(got);
        } else {
            z.S.next_in = in.data();
            z.S.avail_in = uInt(got);
            do {
                z.S.next_out = outBuf.data();
                z.S.avail_out = uInt(outBuf.size());
                int ret = inflate(&z.S, Z_NO_FLUSH);
                if (ret == Z_NEED_DICT || (ret < 0 && ret != Z_BUF_ERROR)) throw EDecompressionError(item.Name, this);
                size_t have = outBuf.size() - z.S.avail_out;
                // A stream that yields more than it declared is cut off at
                // once, so no archive can fill the disk.
                if (written + have > declared) throw EZipException(8, this);
                if (have) {
                    crc = crc32(crc, outBuf.data(), uInt(have));
                    if (!sink.Write(outBuf.data(), have)) throw EZipException(46, this);
                    written += have;
                }
                if (ret == Z_STREAM_END) {
                    streamEnd = true;
                    break;
                }
                if (ret == Z_BUF_ERROR) break;
            } while (z.S.avail_in > 0 || z.S.avail_out == 0);
        }
        if (got < want) break;
    }
    if (item.Method == 8 && !streamEnd && declared > 0) {
        checksOk = false;
        return eoDone;
    }
    checksOk = written == declared && uint32_t(crc) == item.Crc32;
    return eoDone;
}
