// Reading the directory of an archive: the end record, the Zip64 records,
// the central directory, a prefix before the archive, the recovery scan of
// damaged archives, and the volumes of multi-volume archives.
#include "ZipArchiver.h"

#include <algorithm>

#include "ZipFormat.h"

namespace {

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

}  // namespace

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
