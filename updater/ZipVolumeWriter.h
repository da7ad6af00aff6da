// Every byte the zip component writes to an archive goes through here: one
// buffered stream, or a set of volumes cut at their size limits, opened one
// after another as the data needs them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"

class TZipBaseArchiver;

class TZipVolumeWriter {
public:
    // Opens volume number (counted from 0); tells its file name and how many
    // bytes it can take (its size limit and the free space of its drive).
    using TOpenVolume = std::function<std::unique_ptr<TStream>(int number, std::string &name, int64_t &capacity)>;

    // One stream without limit (the caller's; not freed here).
    TZipVolumeWriter(TStream &target, const TZipBaseArchiver *owner);
    // Volumes; with flushVolumes each finished volume is flushed to disk
    // before the next is asked for.
    TZipVolumeWriter(TOpenVolume open, bool flushVolumes, const TZipBaseArchiver *owner);
    ~TZipVolumeWriter();
    TZipVolumeWriter(const TZipVolumeWriter &) = delete;
    TZipVolumeWriter &operator=(const TZipVolumeWriter &) = delete;

    // Raises native 46 when the bytes cannot be written, 45 when a volume
    // request is cancelled.
    void Write(const void *data, size_t count);
    // The next count bytes go on one volume: when the current one has no room
    // for them but a fresh one would, the next volume starts here.
    void KeepTogether(int64_t count);
    int Volume() const { return FVolume; }
    // Where the next byte goes on the current volume.
    int64_t Position() const { return FHeld + int64_t(FBuf.size()); }
    bool MultiVolume() const { return bool(FOpen); }
    // Overwrites bytes written before, at an offset of a volume (and on into
    // the next volumes when they run past its end).
    void Patch(int volume, int64_t offset, const void *data, size_t count);
    // Copies count bytes of source from offset, in blocks of 1,000,000 bytes,
    // calling progress with each block's size; progress returning false stops
    // the copy (the result is then false). Raises native 35 when the source
    // ends early.
    bool CopyFrom(TStream &source, int64_t offset, int64_t count, const std::function<bool(int64_t)> &progress);
    // Goes back to an earlier position of the current volume and drops what
    // followed; false when the data has gone on to another volume since.
    bool Truncate(int volume, int64_t position);
    void Flush();
    // The volume files written so far, and their sizes; the last is open.
    const std::vector<std::string> &VolumeNames() const { return FNames; }
    // Flushes and closes the last volume.
    void Close();

private:
    void Fail() const;
    void RawWrite(const void *data, size_t count);
    void NextVolume();
    int64_t Room() const;
    int FileHandle() const;

    TStream *FTarget = nullptr;
    std::unique_ptr<TStream> FOwned;
    TOpenVolume FOpen;
    bool FFlushVolumes = false;
    const TZipBaseArchiver *FOwner;
    std::vector<uint8_t> FBuf;
    int64_t FHeld = 0;  // bytes of the current volume already in its stream
    int FVolume = 0;
    int64_t FCapacity = INT64_MAX;
    std::vector<std::string> FNames;
    std::vector<int64_t> FSizes;  // of the finished volumes
};
