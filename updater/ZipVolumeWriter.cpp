#include "ZipVolumeWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ZipExcept.h"

namespace {

// Small writes gather here, so a header costs no system call of its own.
constexpr size_t BufferSize = 1 << 20;
constexpr int64_t CopyBlock = 1000000;

}  // namespace

TZipVolumeWriter::TZipVolumeWriter(TStream &target, const TZipBaseArchiver *owner)
    : FTarget(&target), FOwner(owner) {
    FBuf.reserve(1 << 16);  // grows to BufferSize only for archives that need it
    try {
        FHeld = FTarget->Position();
    } catch (const EStreamError &) {
        Fail();
    }
}

TZipVolumeWriter::TZipVolumeWriter(TOpenVolume open, bool flushVolumes, const TZipBaseArchiver *owner)
    : FOpen(std::move(open)), FFlushVolumes(flushVolumes), FOwner(owner) {
    FBuf.reserve(1 << 16);  // grows to BufferSize only for archives that need it
    std::string name;
    int64_t capacity = 0;
    FOwned = FOpen(0, name, capacity);
    FTarget = FOwned.get();
    FNames.push_back(name);
    FCapacity = capacity;
}

TZipVolumeWriter::~TZipVolumeWriter() = default;

void TZipVolumeWriter::Fail() const { throw EZipException(46, FOwner); }

int TZipVolumeWriter::FileHandle() const {
    auto *file = dynamic_cast<TFileStream *>(FTarget);
    return file ? file->Handle() : -1;
}

void TZipVolumeWriter::RawWrite(const void *data, size_t count) {
    if (!FTarget) Fail();
    try {
        if (FTarget->Write(data, int64_t(count)) != int64_t(count)) Fail();
    } catch (const EStreamError &) {
        Fail();
    }
}

void TZipVolumeWriter::Flush() {
    if (FBuf.empty()) return;
    RawWrite(FBuf.data(), FBuf.size());
    FHeld += int64_t(FBuf.size());
    FBuf.clear();
}

int64_t TZipVolumeWriter::Room() const { return FCapacity - Position(); }

void TZipVolumeWriter::NextVolume() {
    Flush();
    if (FFlushVolumes && FileHandle() >= 0 && ::fsync(FileHandle()) != 0) Fail();
    FSizes.push_back(FHeld);
    FOwned.reset();
    FTarget = nullptr;
    FHeld = 0;
    ++FVolume;
    std::string name;
    int64_t capacity = 0;
    FOwned = FOpen(FVolume, name, capacity);
    FTarget = FOwned.get();
    FNames.push_back(name);
    // A volume that takes nothing would ask for volumes for ever.
    if (capacity <= 0) Fail();
    FCapacity = capacity;
}

void TZipVolumeWriter::Write(const void *data, size_t count) {
    auto *p = static_cast<const uint8_t *>(data);
    while (count > 0) {
        size_t n = count;
        if (FOpen) {
            int64_t room = Room();
            if (room <= 0) {
                NextVolume();
                continue;
            }
            n = size_t(std::min<int64_t>(int64_t(count), room));
        }
        count -= n;
        while (n > 0) {
            if (FBuf.empty() && n >= BufferSize) {
                RawWrite(p, n);
                FHeld += int64_t(n);
                p += n;
                break;
            }
            size_t k = std::min(n, BufferSize - FBuf.size());
            FBuf.insert(FBuf.end(), p, p + k);
            p += k;
            n -= k;
            if (FBuf.size() >= BufferSize) Flush();
        }
    }
}

void TZipVolumeWriter::KeepTogether(int64_t count) {
    if (!FOpen || count <= Room() || Position() == 0) return;
    NextVolume();
}

void TZipVolumeWriter::Patch(int volume, int64_t offset, const void *data, size_t count) {
    auto *p = static_cast<const uint8_t *>(data);
    while (count > 0) {
        if (volume >= FVolume) {
            // Still gathered here: a header of a small entry costs no seek.
            if (offset >= FHeld && offset + int64_t(count) <= Position()) {
                std::memcpy(FBuf.data() + (offset - FHeld), p, count);
                return;
            }
            Flush();
            try {
                FTarget->SetPosition(offset);
                bool ok = FTarget->Write(p, int64_t(count)) == int64_t(count);
                FTarget->SetPosition(FHeld);
                if (!ok) Fail();
            } catch (const EStreamError &) {
                Fail();
            }
            return;
        }
        int64_t size = FSizes[size_t(volume)];
        if (offset >= size) {
            offset -= size;
            ++volume;
            continue;
        }
        size_t n = size_t(std::min<int64_t>(int64_t(count), size - offset));
        // A later volume written under the same name has taken its place.
        if (std::find(FNames.begin() + volume + 1, FNames.end(), FNames[size_t(volume)]) != FNames.end()) Fail();
        try {
            TFileStream earlier(FNames[size_t(volume)], fmOpenReadWrite);
            earlier.SetPosition(offset);
            if (earlier.Write(p, int64_t(n)) != int64_t(n)) Fail();
        } catch (const EStreamError &) {
            Fail();
        }
        p += n;
        count -= n;
        ++volume;
        offset = 0;
    }
}

bool TZipVolumeWriter::CopyFrom(TStream &source, int64_t offset, int64_t count,
                                const std::function<bool(int64_t)> &progress) {
    int64_t done = 0;
    auto *file = dynamic_cast<TFileStream *>(&source);
    int out = FileHandle();
    if (!FOpen && file && out >= 0) {
        // File to file: the kernel moves the bytes without a trip through here.
        Flush();
        struct stat st;
        if (::fstat(file->Handle(), &st) != 0 || offset > st.st_size || count > st.st_size - offset)
            throw EZipException(35, FOwner);
        bool fallback = false, holes = false;
        while (done < count && !fallback) {
            // A hole in the source (a sparse stub) stays a hole: nothing to
            // read or write for it.
            off_t data = ::lseek(file->Handle(), offset + done, SEEK_DATA);
            if (data < 0 && errno == ENXIO) data = offset + count;
            if (data > offset + done) {
                int64_t hole = std::min<int64_t>(data, offset + count) - (offset + done);
                if (::lseek(out, hole, SEEK_CUR) < 0) Fail();
                holes = true;
                FHeld += hole;
                done += hole;
                if (!progress(hole)) return false;
                continue;
            }
            int64_t want = std::min(CopyBlock, count - done);
            int64_t got = 0;
            while (got < want) {
                loff_t from = offset + done + got;
                ssize_t r = ::copy_file_range(file->Handle(), &from, out, nullptr, size_t(want - got), 0);
                if (r < 0) {
                    if (errno == EINTR) continue;
                    if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                        errno == EBADF) {
                        fallback = true;
                        break;
                    }
                    Fail();
                }
                if (r == 0) throw EZipException(35, FOwner);
                got += r;
            }
            FHeld += got;
            done += got;
            if (got > 0 && !progress(got)) return false;
        }
        // A hole at the end: the file reaches its size only by being told.
        if (holes && ::fstat(out, &st) == 0 && st.st_size < FHeld && ::ftruncate(out, FHeld) != 0) Fail();
        if (done >= count) return true;
    }
    std::vector<uint8_t> buf(size_t(std::min(CopyBlock, std::max<int64_t>(count - done, 1))));
    while (done < count) {
        int64_t n = std::min(CopyBlock, count - done);
        try {
            source.SetPosition(offset + done);
            if (source.Read(buf.data(), n) != n) throw EZipException(35, FOwner);
        } catch (const EStreamError &) {
            throw EZipException(35, FOwner);
        }
        Write(buf.data(), size_t(n));
        done += n;
        if (!progress(n)) return false;
    }
    return true;
}

bool TZipVolumeWriter::Truncate(int volume, int64_t position) {
    if (volume != FVolume || position > Position()) return false;
    if (position >= FHeld) {
        FBuf.resize(size_t(position - FHeld));
        return true;
    }
    FBuf.clear();
    try {
        FTarget->SetSize(position);
        FTarget->SetPosition(position);
    } catch (const EStreamError &) {
        Fail();
    }
    FHeld = position;
    return true;
}

void TZipVolumeWriter::Close() {
    Flush();
    if (FOpen) {
        if (FFlushVolumes && FileHandle() >= 0 && ::fsync(FileHandle()) != 0) Fail();
        FSizes.push_back(FHeld);
        FOwned.reset();
        FTarget = nullptr;
    }
}
