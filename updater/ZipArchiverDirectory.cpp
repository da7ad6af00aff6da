// Reading the directory of an archive: the end record, the Zip64 records,
// the central directory, a prefix before the archive, the recovery scan of
// damaged archives, and the volumes of multi-volume archives.
#include "ZipArchiver.h"

#include <algorithm>
#include <cstring>

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
        // Takes the next field when its header field holds all ones.
        auto take = [&](bool need, auto &field, size_t width) {
            if (!need) return true;
            if (p + width > n) return false;
            field = width == 8 ? Get64(d + p) : Get32(d + p);
            p += width;
            return true;
        };
        return take(needU, item.UncompressedSize, 8) && take(needC, item.CompressedSize, 8) &&
               take(needO, item.LocalHeaderOffset, 8) && take(needD, item.DiskStart, 4);
    }
    return false;
}

// Reads a stream forward through one window, so that scanning a damaged
// archive for signatures reads each byte about once.
class TScanner {
public:
    TScanner(TStream &s, int64_t size) : S(s), Size(size), Buf(65536 + 64) {}
    // The next position at or after from where one of the signatures
    // starts; -1 when there is none. Takes the bytes looked at off *budget.
    int64_t Find(int64_t from, std::initializer_list<uint32_t> sigs, uint32_t *which = nullptr,
                 int64_t *budget = nullptr) {
        while (from + 4 <= Size) {
            if (from < Start || from + 4 > Start + Len) Fill(from);
            if (Len < 4) return -1;
            int64_t last = Start + Len - 4;
            for (int64_t p = from; p <= last; ++p) {
                const uint8_t *b = Buf.data() + (p - Start);
                if (b[0] != 0x50 || b[1] != 0x4B) continue;
                uint32_t sig = Get32(b);
                for (uint32_t want : sigs) {
                    if (sig != want) continue;
                    if (which) *which = sig;
                    if (budget) *budget -= p - from + 1;
                    return p;
                }
            }
            if (budget) *budget -= last + 1 - from;
            from = last + 1;
        }
        return -1;
    }
    // count bytes at pos; false when they run past the end.
    bool Read(int64_t pos, void *out, size_t count) {
        if (pos < 0 || pos > Size || int64_t(count) > Size - pos) return false;
        if (pos >= Start && pos + int64_t(count) <= Start + Len) {
            std::memcpy(out, Buf.data() + (pos - Start), count);
            return true;
        }
        S.SetPosition(pos);
        return S.Read(out, int64_t(count)) == int64_t(count);
    }

private:
    void Fill(int64_t from) {
        Start = from;
        Len = 0;
        S.SetPosition(from);
        int64_t r = S.Read(Buf.data(), std::min<int64_t>(int64_t(Buf.size()), Size - from));
        Len = r > 0 ? r : 0;
    }
    TStream &S;
    int64_t Size;
    std::vector<uint8_t> Buf;
    int64_t Start = 0, Len = 0;
};

// The fields that local and central headers share, from "version needed"
// on (local header offset 4, central header offset 6).
void ReadHeaderFields(TZipDirItem &item, const uint8_t *p, uint16_t &nameLen, uint16_t &extraLen) {
    item.VersionNeeded = Get16(p);
    item.Flags = Get16(p + 2);
    item.Method = Get16(p + 4);
    item.ModTime = Get16(p + 6);
    item.ModDate = Get16(p + 8);
    item.Crc32 = Get32(p + 10);
    item.PackedSize32 = Get32(p + 14);
    item.UnpackedSize32 = Get32(p + 18);
    item.CompressedSize = item.PackedSize32;
    item.UncompressedSize = item.UnpackedSize32;
    nameLen = Get16(p + 22);
    extraLen = Get16(p + 24);
}

// The data descriptor behind a streamed entry whose data starts at
// dataStart: with its signature, or without it right before the next record
// (or the end of a cut file); with 8-byte sizes when the local header has a
// Zip64 field, else 4-byte ones. A real one holds the distance from the data
// start as its compressed size, which tells it from the same bytes inside
// the data. Takes CRC and sizes from it and sets next behind it; false when
// there is none.
bool FindDescriptor(TScanner &scan, int64_t size, int64_t dataStart, int64_t &budget, TZipDirItem &item,
                    int64_t &next) {
    bool zip64 = std::any_of(item.Extra.begin(), item.Extra.end(),
                             [](const TZipExtraBlock &b) { return b.HeaderID == 1; });
    // The descriptor's fields (CRC, then the sizes) at fields, behind a
    // signature or not.
    auto fits = [&](int64_t fields, bool wide, bool signature) {
        uint8_t d[20];
        int64_t length = fields - dataStart - (signature ? 4 : 0);
        if (length < 0 || !scan.Read(fields, d, wide ? 20 : 12)) return false;
        if ((wide ? Get64(d + 4) : Get32(d + 4)) != uint64_t(length)) return false;
        item.Crc32 = Get32(d);
        item.CompressedSize = uint64_t(length);
        item.UncompressedSize = wide ? Get64(d + 12) : Get32(d + 8);
        next = fields + (wide ? 20 : 12);
        return true;
    };
    // Behind a signature at "at", or without one ending at "at".
    auto descriptorAt = [&](int64_t at, bool signature) {
        auto narrow = [&] { return fits(signature ? at + 4 : at - 12, false, signature); };
        auto wide = [&] { return fits(signature ? at + 4 : at - 20, true, signature); };
        return zip64 ? wide() || narrow() : narrow() || wide();
    };
    int64_t from = dataStart;
    while (budget > 0) {
        uint32_t sig = 0;
        int64_t at = scan.Find(from, {SigDescriptor, SigLocal, SigCentral, SigEnd, SigZip64End}, &sig, &budget);
        if (at < 0) return descriptorAt(size, false);
        if (descriptorAt(at, sig == SigDescriptor)) return true;
        from = at + 1;
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
    } else {
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
    if (FLastVolume == 0) MarkOverlaps();
}

// Entries whose data runs into another entry's local header, or that share
// one, multiply the same compressed bytes: a small archive could so write
// far more than it holds. Real writers never lay entries out that way.
void TZipBaseArchiver::MarkOverlaps() {
    std::vector<std::pair<uint64_t, int>> order;
    order.reserve(size_t(FDir.Dir.Count()));
    for (int i = 0; i < FDir.Dir.Count(); ++i) order.emplace_back(FDir.Dir[i].LocalHeaderOffset, i);
    std::sort(order.begin(), order.end());
    for (size_t k = 0; k + 1 < order.size(); ++k) {
        TZipDirItem &item = FDir.Dir[order[k].second];
        uint64_t next = order[k + 1].first;
        // The local header's name and extra field only make the entry longer.
        uint64_t room = next - order[k].first;
        if (room < 30 || item.CompressedSize > room - 30) {
            item.Overlaps = true;
            if (next == order[k].first) FDir.Dir[order[k + 1].second].Overlaps = true;
        }
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
        uint16_t nameLen = 0, extraLen = 0, commentLen = Get16(h + 32);
        ReadHeaderFields(item, h + 6, nameLen, extraLen);
        item.DiskStart16 = Get16(h + 34);
        item.InternalAttr = Get16(h + 36);
        item.ExternalAttr = Get32(h + 38);
        item.Offset32 = Get32(h + 42);
        item.LocalHeaderOffset = item.Offset32;
        item.DiskStart = item.DiskStart16;
        int64_t varLen = int64_t(nameLen) + extraLen + commentLen;
        if (pos + 46 + varLen > bound) throw EZipException(35, this);
        std::string var(size_t(varLen), '\0');
        ReadSpanExact(var.data(), varLen);
        pos += 46 + varLen;
        item.Name = var.substr(0, nameLen);
        item.RawName = item.Name;
        std::string extra = var.substr(nameLen, extraLen);
        item.Comment = var.substr(size_t(nameLen) + extraLen);
        item.Extra = ParseExtra(extra);
        if (!ApplyZip64(item, true)) throw EZipException(35, this);
        if (Options.OEMFileNames && !(item.Flags & 0x800)) item.Name = ZipOemToAnsi(item.Name);
        sumCompressed += item.CompressedSize;
        FDir.Dir.Add(std::move(item));
    }
    if (FLastVolume == 0) {
        // Fewer entries than the directory holds: its count is damaged, and
        // the entries behind it would go unseen.
        if (pos != bound) throw EZipException(35, this);
        if (!OpenCorruptedArchives && sumCompressed > fileSize) throw EZipException(57, this);
        // A recorded offset past the directory's real place (a damaged or
        // hostile record) means no prefix, not a negative one.
        FPrefixSize = end.CdOffset <= uint64_t(cdStart) ? cdStart - int64_t(end.CdOffset) : 0;
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
    TScanner scan(*FStream, size);
    // Descriptor searches may each run far ahead; together they read no
    // more than a few times the file, whatever a damaged file holds.
    int64_t budget = 4 * size + (int64_t(1) << 24);
    int64_t pos = 0;
    while (pos + 30 <= size) {
        int64_t at = scan.Find(pos, {SigLocal});
        uint8_t h[30];
        if (at < 0 || !scan.Read(at, h, 30)) break;
        TZipDirItem item;
        uint16_t nameLen = 0, extraLen = 0;
        ReadHeaderFields(item, h + 4, nameLen, extraLen);
        item.VersionMadeBy = item.VersionNeeded & 0xFF;
        int64_t dataStart = at + 30 + nameLen + extraLen;
        std::string var(size_t(nameLen) + extraLen, '\0');
        if (dataStart > size || !scan.Read(at + 30, var.data(), var.size())) break;
        item.Name = var.substr(0, nameLen);
        item.RawName = item.Name;
        item.Extra = ParseExtra(var.substr(nameLen));
        ApplyZip64(item, false);
        item.LocalHeaderOffset = uint64_t(at);
        item.ExternalAttr = (!item.Name.empty() && item.Name.back() == '/') ? faDirectory : faArchive;
        if (Options.OEMFileNames && !(item.Flags & 0x800)) item.Name = ZipOemToAnsi(item.Name);
        int64_t next = dataStart;
        if (item.Flags & 8) {
            // Without a descriptor the data runs to the end of the file and
            // the sizes stay unknown, so the entry fails its checks instead
            // of passing as an empty file.
            if (!FindDescriptor(scan, size, dataStart, budget, item, next)) item.CompressedSize = uint64_t(size - dataStart);
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
    if (number >= FLastVolume && !FExeNaming) return FileName;
    // Info-ZIP writes ".z01", writers on other systems ".Z01".
    return ResolvePathCI(ZipVolumeFileName(FileName, number, number >= FLastVolume, smSplitting, advanced, FExeNaming));
}

void TZipBaseArchiver::ApplyVolumeLayout(const TEndRecord &end) {
    if (FCustomStream) throw EZipException(51, this);
    if (end.ThisDisk > 0xFFFF) throw EZipException(35, this);
    FLastVolume = int(end.ThisDisk);
    FCurrentVolume = FLastVolume;
    bool advanced = SpanningOptions.AdvancedNaming;
    // Split volumes beside the archive by either naming scheme, also as the
    // parts of a self-extracting archive (its first part an ".exe").
    for (bool exe : {false, true}) {
        FExeNaming = exe;
        for (bool adv : {advanced, !advanced}) {
            // The first part of a self-extracting archive has one name for
            // both schemes; the second tells them apart.
            int probe = exe && FLastVolume > 1 ? 1 : 0;
            if (FileExists(VolumeFileName(0, adv)) && FileExists(VolumeFileName(probe, adv))) {
                SpanningOptions.AdvancedNaming = adv;
                FSpanningMode = smSplitting;
                return;
            }
        }
    }
    FExeNaming = false;
    // A self-extracting first part never lies on removable media.
    FSpanningMode = ContainsText(ExtractFileName(FileName), ".exe") ? smSplitting : smSpanning;
}

void TZipBaseArchiver::SelectVolume(int number) {
    if (FLastVolume == 0 || number == FCurrentVolume) return;
    if (number < 0 || number > FLastVolume) throw EZipException(45, this);
    std::string name;
    if (FSpanningMode == smSpanning) {
        // Each disk holds its volume under the one name or, with advanced
        // naming, a numbered one; the other scheme is tried when the file is
        // not there, and the first kept when neither is.
        bool adv = SpanningOptions.AdvancedNaming;
        name = ZipVolumeFileName(FileName, number, number == FLastVolume, smSpanning, adv, FExeNaming);
        std::string other = ZipVolumeFileName(FileName, number, number == FLastVolume, smSpanning, !adv, FExeNaming);
        if (!FileExists(name) && FileExists(other)) name = other;
    } else {
        name = VolumeFileName(number, SpanningOptions.AdvancedNaming);
    }
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
