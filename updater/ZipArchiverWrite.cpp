// Writing an updated archive: a new archive is built in a temporary file (or
// memory, or a set of new volumes) from the entries that stay, copied as they
// are, and the entries to compress anew; only a complete archive takes the
// place of the old one.
#include "ZipArchiver.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "ZipCrypto.h"
#include "ZipFormat.h"
#include "ZipVolumeWriter.h"

namespace {

constexpr uint32_t All32 = 0xFFFFFFFF;
constexpr uint16_t MadeByUnix = 3 << 8;
// The marker before the first entry of a split archive, and the one that
// says the archive came to one volume after all.
constexpr uint32_t SigSpanning = 0x08074B50;
constexpr uint32_t SigSingleSegment = 0x30304B50;

bool IsAscii(const std::string &s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return uint8_t(c) < 0x80; });
}

// The name's bytes as they go into the archive.
const std::string &NameBytes(const TZipDirItem &item) { return item.RawName.empty() ? item.Name : item.RawName; }

struct TDeflateGuard {
    z_stream S{};
    bool Open = false;
    ~TDeflateGuard() {
        if (Open) deflateEnd(&S);
    }
};

// A source file or the caller's stream, read from the entry's start.
class TSource {
public:
    TSource() = default;
    TSource(const TSource &) = delete;
    TSource &operator=(const TSource &) = delete;
    ~TSource() {
        if (Fd >= 0) ::close(Fd);
        if (Stream) {
            // The caller's stream goes back to where it was.
            try {
                Stream->SetPosition(Start);
            } catch (...) {
            }
        }
    }
    int Fd = -1;
    TStream *Stream = nullptr;
    int64_t Start = 0;
    int64_t Size = 0;

    void Rewind() {
        if (Fd >= 0) {
            ::lseek(Fd, 0, SEEK_SET);
        } else if (Stream) {
            Stream->SetPosition(Start);
        }
    }
    // Up to count bytes; fewer only at the end (or on a read error).
    int64_t Read(uint8_t *buf, int64_t count) {
        int64_t total = 0;
        while (total < count) {
            if (Fd >= 0) {
                ssize_t r = ::read(Fd, buf + total, size_t(count - total));
                if (r < 0 && errno == EINTR) continue;
                if (r <= 0) break;
                total += r;
            } else {
                int64_t r;
                try {
                    r = Stream->Read(buf + total, count - total);
                } catch (const EStreamError &) {
                    break;
                }
                if (r <= 0) break;
                total += r;
            }
        }
        return total;
    }
};

}  // namespace

struct TZipBaseArchiver::TRewrite {
    std::unique_ptr<TZipVolumeWriter> W;
    std::unique_ptr<TStream> Target;  // the new archive, when not written to volumes
    std::string TempName;             // its file, removed unless it took the old one's place
    bool Volumes = false;
    bool Cancelled = false;
    bool Aborted = false;
    std::vector<bool> Keep;
    // The copies of unchanged data, reported as one job.
    int64_t CopyTotal = 0, CopyDone = 0;
    bool CopyStarted = false;
    int64_t CdStart = 0;
    int CdVolume = 0;
    int64_t FirstEntry = -1;  // where the first local header went (single file)
    std::vector<uint8_t> In, Out;
    TDeflateGuard Z;
    int ZLevel = -1;

    ~TRewrite() {
        W.reset();
        Target.reset();
        if (!TempName.empty()) ::unlink(TempName.c_str());
    }
};

// ---------------------------------------------------------------------------
// Volumes of a new multi-volume archive.

std::unique_ptr<TStream> TZipBaseArchiver::OpenWriteVolume(int number, std::string &name, int64_t &capacity) {
    for (;;) {
        name = ZipVolumeFileName(FileName, number, false, FSpanningMode, SpanningOptions.AdvancedNaming,
                                 FExeNaming);
        bool cancel = false;
        // Volume numbers in the events count from 1.
        DoRequestBlankVolume(number + 1, name, cancel);
        if (cancel) throw EZipException(45, this);
        int64_t limit = VolumeSizeLimit(number + 1);
        int64_t free = FreeDiskSpace(name);
        // A blank disk must take a whole volume; split volumes on a fixed
        // drive only need room for what still comes, which the writer cuts
        // to the free space anyway.
        bool enough = free > 65536 && (FSpanningMode != smSpanning || limit == 0 || free >= limit);
        if (!enough) {
            cancel = false;
            DoDiskFull(number + 1, name, cancel);
            if (cancel) throw EZipException(45, this);
            continue;
        }
        std::unique_ptr<TStream> stream;
        try {
            stream = std::make_unique<TFileStream>(name, fmCreate);
        } catch (const EStreamError &) {
            throw EZipException(36, {name}, this);
        }
        FWrittenVolumes.push_back(name);
        capacity = limit > 0 ? std::min(limit, free) : free;
        return stream;
    }
}

// ---------------------------------------------------------------------------
// The update.

bool TZipBaseArchiver::CopyProgress(TRewrite &rw, int64_t bytes) {
    bool cancel = false;
    if (!rw.CopyStarted) {
        rw.CopyStarted = true;
        DoCopyTempFileProgress(0, ppStart, cancel);
        if (cancel) {
            rw.Cancelled = true;
            return false;
        }
    }
    if (bytes <= 0) return true;
    rw.CopyDone += bytes;
    double progress = rw.CopyTotal > 0 ? std::min(100.0, double(rw.CopyDone) / double(rw.CopyTotal) * 100.0) : 100.0;
    DoCopyTempFileProgress(progress, ppProcess, cancel);
    if (cancel) rw.Cancelled = true;
    return !cancel;
}

bool TZipBaseArchiver::WriteUpdatedArchive() {
    TRewrite rw;
    TZipProcessOperation op = FBatchOp;
    rw.Volumes = FSpanningMode != smNone;
    FWrittenVolumes.clear();
    bool stub = FStubPending || (FNewArchive && !SFXStub.empty());
    try {
        if (rw.Volumes && (FInMemory || FCustomStream)) throw EZipException(51, this);
        if (rw.Volumes) {
            FExeNaming = stub || SameText(ExtractFileExt(FileName), ".exe");
            if (stub) {
                int64_t stubSize = FileSize(SFXStub);
                int64_t first = VolumeSizeLimit(1);
                if (stubSize < 0) throw EZipException(33, {SFXStub}, this);
                if (first > 0 && stubSize > first) throw EZipException(47, this);
            }
            rw.W = std::make_unique<TZipVolumeWriter>(
                [this](int number, std::string &name, int64_t &capacity) {
                    return OpenWriteVolume(number, name, capacity);
                },
                FSpanningMode == smSpanning, this);
        } else if (FInMemory || (FCustomStream && dynamic_cast<TMemoryStream *>(FStream))) {
            rw.Target = std::make_unique<TMemoryStream>();
            rw.W = std::make_unique<TZipVolumeWriter>(*rw.Target, this);
        } else {
            // Beside the archive unless TempDir says otherwise, so that the
            // finished archive takes the old one's place by a rename.
            std::string real = FCustomStream ? std::string() : FileName;
            char resolved[PATH_MAX];
            if (!real.empty() && ::realpath(real.c_str(), resolved)) real = resolved;
            std::string folder = !TempDir.empty() ? IncludeTrailingPathDelimiter(TempDir)
                                 : !real.empty()  ? ExtractFilePath(real)
                                                  : std::string("/tmp/");
            if (TempDir.empty() && real.empty()) {
                const char *env = ::getenv("TMPDIR");
                if (env && *env) folder = IncludeTrailingPathDelimiter(env);
            }
            std::string tmpl = folder + "FCXXXXXX";
            std::vector<char> name(tmpl.begin(), tmpl.end());
            name.push_back('\0');
            int fd = ::mkostemp(name.data(), O_CLOEXEC);
            if (fd < 0) throw EZipException(36, {tmpl}, this);
            ::close(fd);
            rw.TempName = name.data();
            try {
                rw.Target = std::make_unique<TFileStream>(rw.TempName, fmOpenReadWrite);
            } catch (const EStreamError &) {
                throw EZipException(36, {rw.TempName}, this);
            }
            rw.W = std::make_unique<TZipVolumeWriter>(*rw.Target, this);
        }

        int total = 0;
        for (int i = 0; i < FDir.Dir.Count(); ++i) total += FDir.Dir[i].ToProcess;
        FEntriesTotal = total;
        FEntriesDone = 0;
        FCancel = false;
        FCurrentOp = op;
        bool cancel = false;
        DoOverallProgress(0, op, ppStart, cancel);
        if (cancel) rw.Cancelled = true;
        if (!rw.Cancelled) WriteEntries(rw);
        if (!rw.Cancelled && !rw.Aborted) {
            FDir.Dir.KeepOnly(rw.Keep);
            WriteCentralDirectory(rw);
        }
        if (!rw.Cancelled && !rw.Aborted) CommitRewrite(rw);
    } catch (...) {
        rw.W.reset();
        if (rw.Volumes && !FCommitted)
            for (const std::string &v : FWrittenVolumes) ::unlink(v.c_str());
        throw;
    }
    if (rw.Cancelled || rw.Aborted) {
        rw.W.reset();
        if (rw.Volumes)
            for (const std::string &v : FWrittenVolumes) ::unlink(v.c_str());
    }
    FResult.Cancelled = rw.Cancelled;
    FResult.Aborted = rw.Aborted;
    bool cancel = false;
    DoOverallProgress(100, op, ppEnd, cancel);
    return FCommitted;
}

void TZipBaseArchiver::WriteEntries(TRewrite &rw) {
    TZipDirArray &dir = FDir.Dir;
    const TZipDirArray &saved = FDir.SavedDir;
    const int count = dir.Count();
    rw.Keep.assign(size_t(count), true);
    bool stub = FStubPending || (FNewArchive && !SFXStub.empty());

    // The entries before the first change keep their place: the archive up
    // to that change is copied in one piece. That needs them in the order of
    // their offsets, as every writer lays them out.
    int start = 0;
    int64_t headEnd = 0;
    int64_t oldSize = !rw.Volumes && FStream ? FStream->Size() : 0;
    if (!rw.Volumes && FStream && !stub && !FNewArchive) {
        int limit = std::min(count, saved.Count());
        if (!FRecovered)
            while (start < limit && dir[start].OrigIndex == start && !dir[start].ToProcess &&
                   dir[start].Name == saved[start].Name)
                ++start;
        for (int i = 1; i <= start && i < saved.Count(); ++i)
            if (saved[i].LocalHeaderOffset <= saved[i - 1].LocalHeaderOffset) start = 0;
        if (start > 0) {
            headEnd = start < saved.Count() ? int64_t(saved[start].LocalHeaderOffset) : FDirOffset;
        } else {
            // What stood before the entries (a self-extracting stub) stays.
            headEnd = FDirOffset;
            for (int i = 0; i < saved.Count(); ++i)
                headEnd = std::min<int64_t>(headEnd, int64_t(std::min<uint64_t>(saved[i].LocalHeaderOffset, INT64_MAX)));
        }
        headEnd = std::clamp<int64_t>(headEnd, 0, oldSize);
    }
    rw.CopyTotal = headEnd;
    for (int i = start; i < count; ++i)
        if (!dir[i].ToProcess && dir[i].OrigIndex >= 0)
            rw.CopyTotal += int64_t(std::min<uint64_t>(saved[dir[i].OrigIndex].CompressedSize, uint64_t(oldSize))) + 30 +
                            int64_t(NameBytes(dir[i]).size());
    auto progress = [&](int64_t n) { return CopyProgress(rw, n); };

    if (stub) {
        std::unique_ptr<TFileStream> in;
        try {
            in = std::make_unique<TFileStream>(SFXStub, fmOpenRead);
        } catch (const EStreamError &) {
            throw EZipException(FStubPending ? 56 : 33, {SFXStub}, this);
        }
        if (!CopyProgress(rw, 0) || !rw.W->CopyFrom(*in, 0, in->Size(), progress)) return;
    } else if (rw.Volumes) {
        // Split volumes lie side by side: their marker says "one volume" until
        // a second is needed. A spanned first disk is gone by then, so it
        // says "spanned" from the start.
        uint8_t marker[4];
        Put32(marker, FSpanningMode == smSpanning ? SigSpanning : SigSingleSegment);
        rw.W->Write(marker, 4);
    } else if (headEnd > 0) {
        if (!CopyProgress(rw, 0) || !rw.W->CopyFrom(*FStream, 0, headEnd, progress)) return;
    }

    for (int i = start; i < count && !rw.Cancelled && !rw.Aborted; ++i) {
        std::string eventName = ZipSlashes(dir[i].Name, '/', '\\');
        TZipProcessOperation op = dir[i].Operation;
        for (;;) {
            int volume = rw.W->Volume();
            int64_t position = rw.W->Position();
            try {
                if (dir[i].ToProcess) {
                    TEntryOutcome outcome = CompressEntry(rw, i);
                    if (outcome == eoCancelled) rw.Cancelled = true;
                } else {
                    CopyEntry(rw, i);
                }
                break;
            } catch (const EZipException &e) {
                // The archive itself cannot be written: nothing to go on with.
                if (e.NativeError == 45 || e.NativeError == 46 || e.NativeError == 47) throw;
                if (!rw.W->Truncate(volume, position)) throw;
                TZipFailureAction action = fxaIgnore;
                DoProcessFileFailure(eventName, op, e.NativeError, e.ErrorCode, e.Message(), action);
                if (action == fxaRetry && FActive) continue;
                FResult.Failed.Add(dir[i].Name);
                if (action == fxaAbort) {
                    rw.Aborted = true;
                    break;
                }
                // Ignored: an entry that stood in the archive before keeps its
                // old data; a new one is left out.
                if (dir[i].ToProcess && dir[i].OrigIndex >= 0) {
                    int orig = dir[i].OrigIndex;
                    dir[i] = saved[orig];
                    dir[i].OrigIndex = orig;
                    try {
                        CopyEntry(rw, i);
                        break;
                    } catch (const EZipException &again) {
                        if (again.NativeError == 45 || again.NativeError == 46) throw;
                        if (!rw.W->Truncate(volume, position)) throw;
                    }
                }
                rw.Keep[size_t(i)] = false;
                break;
            }
        }
    }
    if (rw.CopyStarted && !rw.Cancelled && !rw.Aborted) {
        bool cancel = false;
        DoCopyTempFileProgress(100, ppEnd, cancel);
        if (cancel) rw.Cancelled = true;
    }
}

TZipBaseArchiver::TEntryOutcome TZipBaseArchiver::CompressEntry(TRewrite &rw, int index) {
    // Handlers cannot change the directory while it is written (the
    // operation is busy), so the entry stays where it is.
    TZipDirItem &it = FDir.Dir[index];
    const std::string eventName = ZipSlashes(it.Name, '/', '\\');
    const TZipProcessOperation op = it.Operation;
    const bool folder = it.IsFolder();
    bool cancel = false;
    DoFileProgress(eventName, 0, op, ppStart, cancel);
    if (cancel) return eoCancelled;
    const std::string display = it.SrcFileName.empty() ? it.Name : it.SrcFileName;

    TSource src;
    if (!folder) {
        if (it.SrcStream) {
            src.Stream = it.SrcStream;
            src.Start = it.SrcStreamPos;
            try {
                src.Size = std::max<int64_t>(0, it.SrcStream->Size() - it.SrcStreamPos);
                it.SrcStream->SetPosition(it.SrcStreamPos);
            } catch (const EStreamError &) {
                throw EZipException(33, {display}, this);
            }
        } else {
            src.Fd = ::open(it.SrcFileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            struct stat st;
            if (src.Fd < 0 || ::fstat(src.Fd, &st) != 0 || !S_ISREG(st.st_mode))
                throw EZipException(33, {display}, this);
            ::fcntl(src.Fd, F_SETFL, ::fcntl(src.Fd, F_GETFL) & ~O_NONBLOCK);
            src.Size = st.st_size;
            // The file as it is now, which may be later than when it was chosen.
            UnixToDosDateTime(st.st_mtime, it.ModDate, it.ModTime);
            ::posix_fadvise(src.Fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        }
    }
    const uint64_t size = uint64_t(src.Size);
    const bool encrypted = !folder && !Password.empty();
    const uint16_t method = (folder || size == 0 || CompressionMode() == 0 || it.NoCompression) ? 0 : 8;
    if (size >= All32 && Zip64Mode == zmDisabled) throw EZipException(41, {display}, this);
    // The local header is written before the sizes are known: an entry that
    // may reach 4 GiB reserves its Zip64 field there (deflate may grow data
    // a little; the margin covers that and the encryption header).
    const bool local64 = Zip64Mode == zmAlways || (Zip64Mode != zmDisabled && size + size / 1024 + 65536 >= All32);

    uint32_t crc = 0;
    const size_t block = size_t(std::min<uint64_t>(ZipCompressionBufferSize(CompressionMode()), std::max<uint64_t>(size, 1)));
    if (rw.In.size() < block) rw.In.resize(block);
    if (encrypted && size > 0) {
        // The header's check byte is the CRC: a pass over the source first.
        uint64_t done = 0;
        while (done < size) {
            int64_t got = src.Read(rw.In.data(), int64_t(std::min<uint64_t>(block, size - done)));
            if (got <= 0) break;
            crc = uint32_t(crc32(crc, rw.In.data(), uInt(got)));
            done += uint64_t(got);
        }
        if (done != size) throw EZipException(34, {std::to_string(size), std::to_string(done)}, this);
        src.Rewind();
    }

    int64_t offset = rw.W->Position();
    const std::string name = NameBytes(it);
    // A spanned volume cannot be gone back to once the next disk is in: the
    // CRC and sizes follow the data in a descriptor instead.
    const bool descriptor = !folder && rw.Volumes && FSpanningMode == smSpanning;
    const uint16_t flags = uint16_t((folder ? 2 : 0) | (encrypted ? 1 : 0) | (descriptor ? 8 : 0) |
                                    (IsAscii(name) ? 0 : 0x800));
    const uint16_t version = local64 ? 45 : 20;
    std::string header(30 + name.size() + (local64 ? 20 : 0), '\0');
    auto *h = reinterpret_cast<uint8_t *>(header.data());
    Put32(h, SigLocal);
    Put16(h + 4, version);
    Put16(h + 6, flags);
    Put16(h + 8, method);
    Put16(h + 10, it.ModTime);
    Put16(h + 12, it.ModDate);
    Put32(h + 14, descriptor ? 0 : crc);
    Put32(h + 18, local64 ? All32 : 0);
    Put32(h + 22, local64 ? All32 : 0);
    Put16(h + 26, uint16_t(name.size()));
    Put16(h + 28, local64 ? 20 : 0);
    std::memcpy(h + 30, name.data(), name.size());
    if (local64) {
        Put16(h + 30 + name.size(), 1);
        Put16(h + 32 + name.size(), 16);
    }
    rw.W->KeepTogether(int64_t(header.size()));
    offset = rw.W->Position();
    const int volume = rw.W->Volume();
    if (uint64_t(offset) >= All32 && Zip64Mode == zmDisabled) throw EZipException(43, {display}, this);
    rw.W->Write(header.data(), header.size());

    std::unique_ptr<TZipCryptKeys> keys;
    uint64_t compressed = 0;
    if (encrypted) {
        keys = std::make_unique<TZipCryptKeys>(Password);
        uint8_t eh[12];
        ZipRandomBytes(eh, 10);
        // The check bytes: the CRC's top, or with a descriptor the time's.
        uint32_t check = descriptor ? uint32_t(it.ModTime) << 16 : crc;
        eh[10] = uint8_t(check >> 16);
        eh[11] = uint8_t(check >> 24);
        keys->Encode(eh, 12);
        rw.W->Write(eh, 12);
        compressed = 12;
    }

    // One deflate stream per entry; its buffers serve every entry of the
    // update (reset, not made again), which is what many small files cost.
    TDeflateGuard &z = rw.Z;
    size_t outSize = 0;
    if (method == 8) {
        if (z.Open && rw.ZLevel != CompressionMode()) {
            deflateEnd(&z.S);
            z.Open = false;
        }
        if (z.Open) {
            if (deflateReset(&z.S) != Z_OK) throw EZipException(46, this);
        } else {
            z.S = z_stream{};
            if (deflateInit2(&z.S, CompressionMode(), Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
                throw EZipException(46, this);
            z.Open = true;
            rw.ZLevel = CompressionMode();
        }
        outSize = (block + block / 10 + 12 + 255) / 256 * 256;
        if (rw.Out.size() < outSize) rw.Out.resize(outSize);
    }
    uint64_t processed = 0;
    while (processed < size) {
        double fraction = double(processed) / double(size);
        cancel = false;
        DoFileProgress(eventName, fraction * 100.0, op, ppProcess, cancel);
        if (!cancel && FEntriesTotal > 0)
            DoOverallProgress((fraction + FEntriesDone) / FEntriesTotal * 100.0, op, ppProcess, cancel);
        if (cancel) return eoCancelled;
        int64_t want = int64_t(std::min<uint64_t>(block, size - processed));
        int64_t got = src.Read(rw.In.data(), want);
        if (got <= 0) break;
        if (!encrypted) crc = uint32_t(crc32(crc, rw.In.data(), uInt(got)));
        processed += uint64_t(got);
        if (method == 0) {
            if (keys) keys->Encode(rw.In.data(), size_t(got));
            rw.W->Write(rw.In.data(), size_t(got));
            compressed += uint64_t(got);
        } else {
            bool last = processed >= size || got < want;
            z.S.next_in = rw.In.data();
            z.S.avail_in = uInt(got);
            int ret;
            do {
                z.S.next_out = rw.Out.data();
                z.S.avail_out = uInt(outSize);
                ret = deflate(&z.S, last ? Z_FINISH : Z_NO_FLUSH);
                if (ret == Z_STREAM_ERROR) throw EZipException(46, this);
                size_t have = outSize - z.S.avail_out;
                if (have) {
                    if (keys) keys->Encode(rw.Out.data(), have);
                    rw.W->Write(rw.Out.data(), have);
                    compressed += have;
                }
            } while (z.S.avail_out == 0 || (last && ret != Z_STREAM_END));
        }
        if (got < want) break;
    }
    if (processed != size)
        throw EZipException(34, {std::to_string(size), std::to_string(processed)}, this);

    const bool zip64 = local64 || compressed >= All32 || size >= All32;
    if (zip64 && !local64) throw EZipException(41, {display}, this);
    if (descriptor) {
        uint8_t d[24];
        Put32(d, SigDescriptor);
        Put32(d + 4, crc);
        if (local64) {
            Put64(d + 8, compressed);
            Put64(d + 16, size);
        } else {
            Put32(d + 8, uint32_t(compressed));
            Put32(d + 12, uint32_t(size));
        }
        rw.W->Write(d, local64 ? 24 : 16);
    } else {
        // The sizes and CRC go into the header written before the data.
        uint8_t fix[12];
        Put32(fix, crc);
        Put32(fix + 4, zip64 ? All32 : uint32_t(compressed));
        Put32(fix + 8, zip64 ? All32 : uint32_t(size));
        rw.W->Patch(volume, offset + 14, fix, 12);
    }
    if (local64 && !descriptor) {
        uint8_t sizes[16];
        Put64(sizes, size);
        Put64(sizes + 8, compressed);
        rw.W->Patch(volume, offset + 30 + int64_t(name.size()) + 4, sizes, 16);
    }

    TZipDirItem &done = it;
    done.VersionMadeBy = uint16_t(MadeByUnix | version);
    done.VersionNeeded = version;
    done.Flags = flags;
    done.Method = method;
    done.Crc32 = crc;
    done.CompressedSize = compressed;
    done.UncompressedSize = size;
    done.PackedSize32 = zip64 ? All32 : uint32_t(compressed);
    done.UnpackedSize32 = zip64 ? All32 : uint32_t(size);
    done.LocalHeaderOffset = uint64_t(offset);
    done.DiskStart = uint32_t(volume);
    done.InternalAttr = 0;
    // Old extra fields (Info-ZIP's timestamps among them) would describe
    // the data that was replaced.
    done.Extra.clear();
    if (done.DeleteSource && !done.SrcFileName.empty()) FMovedSources.push_back(done.SrcFileName);
    ++FEntriesDone;
    ++FResult.Processed;
    cancel = false;
    DoFileProgress(eventName, 100, op, ppEnd, cancel);
    return cancel ? eoCancelled : eoDone;
}

void TZipBaseArchiver::CopyEntry(TRewrite &rw, int index) {
    TZipDirItem &item = FDir.Dir[index];
    if (item.OrigIndex < 0 || item.OrigIndex >= FDir.SavedDir.Count()) throw EZipException(7, this);
    const TZipDirItem &old = FDir.SavedDir[item.OrigIndex];
    TStream &src = *FStream;
    int64_t size = src.Size();
    if (old.LocalHeaderOffset > uint64_t(size)) throw EZipException(35, this);
    int64_t at = int64_t(old.LocalHeaderOffset);
    uint8_t h[30];
    try {
        src.SetPosition(at);
        if (src.Read(h, 30) != 30 || Get32(h) != SigLocal) throw EZipException(35, this);
    } catch (const EStreamError &) {
        throw EZipException(35, this);
    }
    int64_t nameLen = Get16(h + 26), extraLen = Get16(h + 28);
    int64_t dataStart = at + 30 + nameLen + extraLen;
    if (old.CompressedSize > uint64_t(size) || dataStart > size - int64_t(old.CompressedSize))
        throw EZipException(35, this);
    int64_t dataEnd = dataStart + int64_t(old.CompressedSize);
    // A data descriptor behind the data goes along with it.
    if (old.Flags & 8) {
        uint8_t d[24] = {};
        int64_t avail = std::min<int64_t>(24, size - dataEnd);
        src.SetPosition(dataEnd);
        if (avail > 0 && src.Read(d, avail) == avail) {
            int64_t skip = Get32(d) == SigDescriptor ? 4 : 0;
            auto narrow = [&] {
                return avail >= skip + 12 && Get32(d + skip) == old.Crc32 &&
                       Get32(d + skip + 4) == uint32_t(old.CompressedSize) &&
                       Get32(d + skip + 8) == uint32_t(old.UncompressedSize);
            };
            auto wide = [&] {
                return avail >= skip + 20 && Get32(d + skip) == old.Crc32 && Get64(d + skip + 4) == old.CompressedSize &&
                       Get64(d + skip + 12) == old.UncompressedSize;
            };
            if (narrow()) dataEnd += skip + 12;
            else if (wide()) dataEnd += skip + 20;
        }
    }

    const std::string name = NameBytes(item);
    bool renamed = item.Name != old.Name;
    int64_t headerSize = renamed ? 30 + int64_t(name.size()) + extraLen : 30 + nameLen + extraLen;
    rw.W->KeepTogether(headerSize);
    int64_t offset = rw.W->Position();
    int volume = rw.W->Volume();
    if (uint64_t(offset) >= All32 && Zip64Mode == zmDisabled) throw EZipException(43, {item.Name}, this);
    auto progress = [&](int64_t n) { return CopyProgress(rw, n); };
    if (!CopyProgress(rw, 0)) return;
    bool whole;
    if (!renamed) {
        whole = rw.W->CopyFrom(src, at, dataEnd - at, progress);
    } else {
        // The local header with the new name, then the old extra field and data.
        std::string extra(size_t(extraLen), '\0');
        src.SetPosition(at + 30 + nameLen);
        if (src.Read(extra.data(), extraLen) != extraLen) throw EZipException(35, this);
        Put16(h + 6, uint16_t((Get16(h + 6) & ~0x800) | (item.Flags & 0x800)));
        Put16(h + 26, uint16_t(name.size()));
        rw.W->Write(h, 30);
        rw.W->Write(name.data(), name.size());
        rw.W->Write(extra.data(), extra.size());
        whole = rw.W->CopyFrom(src, dataStart, dataEnd - dataStart, progress);
    }
    if (!whole) return;  // cancelled
    item.LocalHeaderOffset = uint64_t(offset);
    item.DiskStart = uint32_t(volume);
}

void TZipBaseArchiver::WriteCentralDirectory(TRewrite &rw) {
    TZipVolumeWriter &w = *rw.W;
    const int count = FDir.Dir.Count();
    int64_t cdSize = 0;
    uint64_t onThisVolume = 0;
    int lastVolume = -1;
    bool first = true;
    std::string rec;
    for (int i = 0; i < count; ++i) {
        TZipDirItem &item = FDir.Dir[i];
        bool written = item.ToProcess;  // compressed in this update
        bool always = Zip64Mode == zmAlways;
        uint32_t u32 = (item.UncompressedSize >= All32 || item.UnpackedSize32 == All32 || (always && written))
                           ? All32 : uint32_t(item.UncompressedSize);
        uint32_t c32 = (item.CompressedSize >= All32 || item.PackedSize32 == All32 || (always && written))
                           ? All32 : uint32_t(item.CompressedSize);
        uint32_t o32 = (item.LocalHeaderOffset >= All32 || always) ? All32 : uint32_t(item.LocalHeaderOffset);
        uint16_t d16 = item.DiskStart >= 0xFFFF ? 0xFFFF : uint16_t(item.DiskStart);
        if (Zip64Mode == zmDisabled) {
            if (o32 == All32) throw EZipException(43, {item.Name}, this);
            if ((u32 == All32 || c32 == All32) && written) throw EZipException(41, {item.Name}, this);
        }
        std::string z64;
        auto put64 = [&](uint64_t v) {
            uint8_t b[8];
            Put64(b, v);
            z64.append(reinterpret_cast<char *>(b), 8);
        };
        if (u32 == All32) put64(item.UncompressedSize);
        if (c32 == All32) put64(item.CompressedSize);
        if (o32 == All32) put64(item.LocalHeaderOffset);
        if (d16 == 0xFFFF) {
            uint8_t b[4];
            Put32(b, item.DiskStart);
            z64.append(reinterpret_cast<char *>(b), 4);
        }
        std::string extra;
        if (!z64.empty()) {
            uint8_t b[4];
            Put16(b, 1);
            Put16(b + 2, uint16_t(z64.size()));
            extra.append(reinterpret_cast<char *>(b), 4);
            extra += z64;
        }
        // A Zip64 field read with the entry gives way to the new one.
        for (const TZipExtraBlock &block : item.Extra) {
            if (block.HeaderID == 1) continue;
            if (extra.size() + 4 + block.Data.size() > 0xFFFF) break;
            uint8_t b[4];
            Put16(b, block.HeaderID);
            Put16(b + 2, uint16_t(block.Data.size()));
            extra.append(reinterpret_cast<char *>(b), 4);
            extra += block.Data;
        }
        uint16_t needed = item.VersionNeeded, madeBy = item.VersionMadeBy;
        if (!z64.empty()) {
            needed = std::max<uint16_t>(needed, 45);
            if ((madeBy & 0xFF) < 45) madeBy = uint16_t((madeBy & 0xFF00) | 45);
        }
        const std::string &name = NameBytes(item);
        const std::string comment = item.Comment.substr(0, 0xFFFF);
        rec.assign(46, '\0');
        auto *h = reinterpret_cast<uint8_t *>(rec.data());
        Put32(h, SigCentral);
        Put16(h + 4, madeBy);
        Put16(h + 6, needed);
        Put16(h + 8, item.Flags);
        Put16(h + 10, item.Method);
        Put16(h + 12, item.ModTime);
        Put16(h + 14, item.ModDate);
        Put32(h + 16, item.Crc32);
        Put32(h + 20, c32);
        Put32(h + 24, u32);
        Put16(h + 28, uint16_t(name.size()));
        Put16(h + 30, uint16_t(extra.size()));
        Put16(h + 32, uint16_t(comment.size()));
        Put16(h + 34, d16);
        Put16(h + 36, item.InternalAttr);
        Put32(h + 38, item.ExternalAttr);
        Put32(h + 42, o32);
        rec += name;
        rec += extra;
        rec += comment;
        w.KeepTogether(int64_t(rec.size()));
        if (first) {
            rw.CdVolume = w.Volume();
            rw.CdStart = w.Position();
            first = false;
        }
        if (w.Volume() != lastVolume) {
            lastVolume = w.Volume();
            onThisVolume = 0;
        }
        w.Write(rec.data(), rec.size());
        ++onThisVolume;
        cdSize += int64_t(rec.size());
        item.VersionNeeded = needed;
        item.VersionMadeBy = madeBy;
        item.PackedSize32 = c32;
        item.UnpackedSize32 = u32;
        item.Offset32 = o32;
        item.DiskStart16 = d16;
        item.Extra.erase(std::remove_if(item.Extra.begin(), item.Extra.end(),
                                        [](const TZipExtraBlock &block) { return block.HeaderID == 1; }),
                         item.Extra.end());
        if (!z64.empty()) item.Extra.insert(item.Extra.begin(), TZipExtraBlock{1, z64});
    }
    std::string comment = FComment.substr(0, 0xFFFF);
    uint64_t entries = uint64_t(count);
    if (first) {
        rw.CdVolume = w.Volume();
        rw.CdStart = w.Position();
    }
    bool zip64End = uint64_t(rw.CdStart) >= All32 || entries >= 0xFFFF || uint64_t(cdSize) >= All32 ||
                    w.Volume() >= 0xFFFF || rw.CdVolume >= 0xFFFF;
    // The end records stay together on the last volume.
    w.KeepTogether(22 + int64_t(comment.size()) + (zip64End ? 56 + 20 : 0));
    if (first) {
        rw.CdVolume = w.Volume();
        rw.CdStart = w.Position();
    }
    if (w.Volume() != lastVolume) onThisVolume = 0;
    uint8_t b[56 + 20 + 22];
    size_t n = 0;
    if (zip64End) {
        int64_t at = w.Position();
        uint8_t *r = b;
        Put32(r, SigZip64End);
        Put64(r + 4, 44);
        Put16(r + 12, 45);
        Put16(r + 14, 45);
        Put32(r + 16, uint32_t(w.Volume()));
        Put32(r + 20, uint32_t(rw.CdVolume));
        Put64(r + 24, onThisVolume);
        Put64(r + 32, entries);
        Put64(r + 40, uint64_t(cdSize));
        Put64(r + 48, uint64_t(rw.CdStart));
        uint8_t *l = b + 56;
        Put32(l, SigZip64Locator);
        Put32(l + 4, uint32_t(w.Volume()));
        Put64(l + 8, uint64_t(at));
        Put32(l + 16, uint32_t(w.Volume() + 1));
        n = 76;
    }
    uint8_t *e = b + n;
    Put32(e, SigEnd);
    Put16(e + 4, uint16_t(std::min(w.Volume(), 0xFFFF)));
    Put16(e + 6, uint16_t(std::min(rw.CdVolume, 0xFFFF)));
    Put16(e + 8, uint16_t(onThisVolume <= 0xFFFE ? onThisVolume : 0xFFFF));
    Put16(e + 10, uint16_t(entries <= 0xFFFE ? entries : 0xFFFF));
    Put32(e + 12, uint64_t(cdSize) >= All32 ? All32 : uint32_t(cdSize));
    Put32(e + 16, uint64_t(rw.CdStart) >= All32 ? All32 : uint32_t(rw.CdStart));
    Put16(e + 20, uint16_t(comment.size()));
    n += 22;
    w.Write(b, n);
    w.Write(comment.data(), comment.size());
}

void TZipBaseArchiver::CommitRewrite(TRewrite &rw) {
    TZipVolumeWriter &w = *rw.W;
    int lastVolume = w.Volume();
    if (rw.Volumes) {
        bool stub = FStubPending || (FNewArchive && !SFXStub.empty());
        if (lastVolume > 0 && !stub && FSpanningMode == smSplitting) {
            uint8_t marker[4];
            Put32(marker, SigSpanning);
            w.Patch(0, 0, marker, 4);
        }
        w.Close();
        std::vector<std::string> names = w.VolumeNames();
        if (FSpanningMode == smSplitting) {
            std::string final = ZipVolumeFileName(FileName, lastVolume, true, smSplitting,
                                                  SpanningOptions.AdvancedNaming, FExeNaming);
            if (names.back() != final && ::rename(names.back().c_str(), final.c_str()) != 0)
                throw EZipException(36, {final}, this);
            names.back() = final;
        }
        FCommitted = true;
        rw.W.reset();
        FOwnStream.reset();
        FStream = nullptr;
        try {
            FOwnStream = std::make_unique<TFileStream>(names.back(), fmOpenRead);
        } catch (const EStreamError &) {
            throw EZipException(33, {names.back()}, this);
        }
        FStream = FOwnStream.get();
        FLastVolume = lastVolume;
        FCurrentVolume = lastVolume;
        FReadOnly = false;
    } else if (FInMemory) {
        w.Flush();
        rw.W.reset();
        FCommitted = true;
        FOwnStream = std::move(rw.Target);
        FStream = FOwnStream.get();
    } else if (FCustomStream) {
        // The caller's stream takes the new archive.
        w.Flush();
        rw.W.reset();
        try {
            int64_t n = rw.Target->Size();
            FStream->SetPosition(0);
            rw.Target->SetPosition(0);
            FStream->CopyFrom(*rw.Target, n);
            if (FStream->Size() > n) FStream->SetSize(n);
        } catch (const EStreamError &) {
            throw EZipException(46, this);
        }
        FCommitted = true;
    } else {
        w.Flush();
        rw.W.reset();
        auto *file = static_cast<TFileStream *>(rw.Target.get());
        std::string real = FileName;
        char resolved[PATH_MAX];
        if (::realpath(FileName.c_str(), resolved)) real = resolved;
        struct stat st;
        if (::stat(real.c_str(), &st) == 0) {
            ::fchmod(file->Handle(), st.st_mode & 07777);
            if (::geteuid() == 0) (void)!::fchown(file->Handle(), st.st_uid, st.st_gid);
        } else {
            mode_t mask = ::umask(0);
            ::umask(mask);
            ::fchmod(file->Handle(), 0666 & ~mask);
        }
        // An archive that held entries is on disk for good before its
        // replacement takes its name.
        if (FDir.SavedDir.Count() > 0 && ::fsync(file->Handle()) != 0) throw EZipException(46, this);
        rw.Target.reset();
        if (::rename(rw.TempName.c_str(), real.c_str()) != 0) {
            if (errno != EXDEV) throw EZipException(36, {FileName}, this);
            // TempDir lies on another drive: a copy beside the archive first.
            std::string tmpl = ExtractFilePath(real) + "FCXXXXXX";
            std::vector<char> name(tmpl.begin(), tmpl.end());
            name.push_back('\0');
            int fd = ::mkostemp(name.data(), O_CLOEXEC);
            if (fd < 0) throw EZipException(36, {FileName}, this);
            ::close(fd);
            struct TRemove {
                std::string Path;
                ~TRemove() {
                    if (!Path.empty()) ::unlink(Path.c_str());
                }
            } second{name.data()};
            try {
                TFileStream from(rw.TempName, fmOpenRead);
                TFileStream to(second.Path, fmOpenReadWrite);
                to.CopyFrom(from, 0);
                if (::stat(real.c_str(), &st) == 0) ::fchmod(to.Handle(), st.st_mode & 07777);
                if (::fsync(to.Handle()) != 0) throw EZipException(46, this);
            } catch (const EStreamError &) {
                throw EZipException(46, this);
            }
            if (::rename(second.Path.c_str(), real.c_str()) != 0) throw EZipException(36, {FileName}, this);
            second.Path.clear();
        } else {
            rw.TempName.clear();
        }
        FCommitted = true;
        FOwnStream.reset();
        FStream = nullptr;
        try {
            FOwnStream = std::make_unique<TFileStream>(FileName, fmOpenReadWrite);
        } catch (const EStreamError &) {
            FActive = false;
            throw EZipException(33, {FileName}, this);
        }
        FStream = FOwnStream.get();
    }

    // The directory now describes the new archive.
    FDirOffset = rw.CdStart;
    int64_t prefix = rw.CdStart;
    for (int i = 0; i < FDir.Dir.Count(); ++i) {
        TZipDirItem &item = FDir.Dir[i];
        if (item.DiskStart == 0) prefix = std::min<int64_t>(prefix, int64_t(item.LocalHeaderOffset));
        item.RawName = NameBytes(item);
        item.OrigIndex = -1;
        item.ToProcess = false;
        item.SrcFileName.clear();
        item.SrcStream = nullptr;
        item.DeleteSource = false;
        item.NoCompression = false;
        item.Overlaps = false;
    }
    // The marker of a multi-volume archive is no prefix.
    bool stub = FStubPending || (FNewArchive && !SFXStub.empty());
    FPrefixSize = rw.Volumes && !stub ? 0 : prefix;
    FRecovered = false;
    FNewArchive = false;
    FStubPending = false;
    if (!rw.Volumes) {
        FLastVolume = 0;
        FCurrentVolume = 0;
    }
}
