// The directory of an open zip archive: one item per entry with its central
// header fields, name, comment, Zip64 values and extra-field blocks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SysUtils.h"  // the attribute bits kept in the external attributes' low byte
#include "ZipHashedStringList.h"

class TStream;

enum TZipProcessOperation {
    poAdd, poMove, poDelete, poUpdate, poExtract, poTest, poRename, poChangeAttr,
    poChangeComment, poMakeSFX
};

struct TZipExtraBlock {
    uint16_t HeaderID = 0;
    std::string Data;  // Size() is the block size
};

struct TZipDirItem {
    uint16_t VersionMadeBy = 0;
    uint16_t VersionNeeded = 0;
    uint16_t Flags = 0;
    uint16_t Method = 0;
    uint16_t ModTime = 0;
    uint16_t ModDate = 0;
    uint32_t Crc32 = 0;
    // The sizes, offset and start volume as the header fields hold them, and
    // the effective values with the Zip64 field applied.
    uint32_t PackedSize32 = 0, UnpackedSize32 = 0, Offset32 = 0;
    uint16_t DiskStart16 = 0;
    uint64_t CompressedSize = 0;
    uint64_t UncompressedSize = 0;
    uint64_t LocalHeaderOffset = 0;
    uint32_t DiskStart = 0;
    uint16_t InternalAttr = 0;
    uint32_t ExternalAttr = 0;
    std::string Name;     // stored name, "/" separators
    // The name's bytes as the archive holds them (before any code-page
    // conversion); a rewrite stores them again unless the entry was renamed.
    std::string RawName;
    std::string Comment;
    std::vector<TZipExtraBlock> Extra;
    bool Selected = false;
    // Its data runs into another entry's local header, or shares one: never
    // extracted, since such entries multiply the same bytes.
    bool Overlaps = false;
    TZipProcessOperation Operation = poExtract;

    // The writing side. Which entry of the archive this was when the update
    // began (-1 for a new one), and, for an entry to be compressed anew,
    // where its data comes from: a file on disk, or the caller's stream from
    // the position it had.
    int OrigIndex = -1;
    bool ToProcess = false;
    std::string SrcFileName;
    TStream *SrcStream = nullptr;
    int64_t SrcStreamPos = 0;
    bool NoCompression = false;  // matched NoCompressionMasks
    bool DeleteSource = false;   // moved: the file goes once the archive holds it

    bool Encrypted() const { return Flags & 1; }
    bool HasDataDescriptor() const { return Flags & 8; }
    int HostSystem() const { return VersionMadeBy >> 8; }
    // Unix mode bits, when the entry was made on Unix (host 3).
    bool HasUnixMode() const { return HostSystem() == 3 && (ExternalAttr >> 16) != 0; }
    unsigned UnixMode() const { return ExternalAttr >> 16; }
    bool IsFolder() const;
    bool IsSymlink() const;
};

// The growable array of directory items with a lower-case name index.
class TZipDirArray {
public:
    TZipDirArray() = default;
    int Count() const { return int(FItems.size()); }
    TZipDirItem &operator[](int i) { return FItems.at(size_t(i)); }
    const TZipDirItem &operator[](int i) const { return FItems.at(size_t(i)); }

    int Add(TZipDirItem item);
    void Delete(int index);
    // Setting the count to 0 frees every item; a larger count adds empty items.
    void SetCount(int count);
    int Capacity() const { return int(FItems.capacity()); }
    // Index of the entry with this stored name (any letter case), -1 if none.
    int IndexOf(const std::string &name);
    // Refused (false) when another item already has the new name.
    bool Rename(int index, const std::string &newName);
    void Assign(const TZipDirArray &other);
    // Keeps the items whose flag is set, in order (one pass, however many go).
    void KeepOnly(const std::vector<bool> &keep);

private:
    void Grow();

    std::vector<TZipDirItem> FItems;
    int FGrowStep = 500;
    TZipHashedStringList FNames{true};
};

// Names a volume of a multi-volume archive.
struct TZipVolumeNumberInfo {
    enum TKind { vnFirst, vnLast, vnNumber, vnUnknown };
    TKind Kind = vnUnknown;
    int VolumeNumber = -1;
    int LastVolumeNumber = -1;
    bool IsFirst() const { return VolumeNumber == 0; }
    bool IsLast() const {
        if (LastVolumeNumber >= 0) return VolumeNumber == LastVolumeNumber;
        return Kind == vnLast;
    }
};

// The directory of the open archive, and the copy an update works against.
class TZipDirManager {
public:
    TZipDirArray Dir;
    TZipDirArray SavedDir;
    void Clear() {
        Dir.SetCount(0);
        SavedDir.SetCount(0);
    }
};
