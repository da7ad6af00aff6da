// The zip archive component: opens an archive, reads its central directory,
// selects entries by wildcard masks and extracts or tests them with progress,
// confirmation and failure events. The writing side shares these classes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "ZipDirManager.h"
#include "ZipExcept.h"
#include "ZipHashedStringList.h"
#include "ZipQuestions.h"
#include "ZipStrFunc.h"

enum TZipCompressionLevel { clNone, clFastest, clNormal, clMax };
enum TZipSpanningMode { smNone, smSpanning, smSplitting };
enum TZipZip64Mode { zmDisabled, zmAuto, zmAlways };
enum TZipProgressPhase { ppStart, ppProcess, ppEnd };
enum TZipStorePath { spNoPath, spRelativePath, spFullPath, spFullPathWithDrive };
enum TZipShareMode { smShareCompat, smShareExclusive, smShareDenyWrite, smShareDenyRead, smShareDenyNone };
enum TZipOverwriteMode { omPrompt, omAlways, omNever, omIfNewer, omIfOlder };
enum TZipOpenMode { zomCreate, zomOpenReadWrite, zomOpenRead };
enum TZipVolumeSize { vsAutoDetect, vsCustom, vs1_44MB, vs100MB, vs200MB, vs250MB, vs600MB, vs650MB,
                      vs700MB, vs4700MB };

struct TZipOptions {
    bool Recurse = true;
    TZipStorePath StorePath = spRelativePath;
    TZipShareMode ShareMode = smShareDenyNone;
    TZipOverwriteMode OverwriteMode = omAlways;
    bool CreateDirs = true;
    bool ReplaceReadOnly = true;
    bool SetAttributes = true;
    int SearchAttr = 0x28BF;
    bool FlushBuffers = true;
    bool OEMFileNames = true;
};

struct TZipSpanningOptions {
    bool AdvancedNaming = true;
    int64_t FirstVolumeSize = 0;
    TZipVolumeSize VolumeSize = vsAutoDetect;
    int64_t CustomVolumeSize = 65536;
};

class TZipBaseArchiver;
class TZipVolumeWriter;

// The stored name of a file path: resolved against the base folder (the
// current folder when it is empty), its trailing separator and "." dropped,
// cut to what storePath keeps, without a drive, server or root, with "/"
// separators. Empty when nothing of the path is left.
std::string ZipStoredName(const std::string &path, const std::string &baseDir, TZipStorePath storePath);
// The bytes read and compressed at a time for a compression mode (0-9).
size_t ZipCompressionBufferSize(int mode);
// The file of volume number (counted from 0) of a multi-volume archive;
// last names the last volume. exe: the archive has a prefix or stub, or an
// ".exe" name. Split volumes before the last are named base.z01, base.z02
// (as Info-ZIP does, in lower case) or, with advanced naming, base_001.zip.
std::string ZipVolumeFileName(const std::string &archive, int number, bool last, TZipSpanningMode mode,
                              bool advanced, bool exe);

using TZipProgressEvent = std::function<void(TZipBaseArchiver *Sender, const std::string &FileName,
                                             double Progress, TZipProcessOperation Operation,
                                             TZipProgressPhase ProgressPhase, bool &Cancel)>;
using TZipOverallProgressEvent = std::function<void(TZipBaseArchiver *Sender, double Progress,
                                                    TZipProcessOperation Operation,
                                                    TZipProgressPhase ProgressPhase, bool &Cancel)>;
using TZipCopyTempFileProgressEvent = std::function<void(TZipBaseArchiver *Sender, double Progress,
                                                         TZipProgressPhase ProgressPhase, bool &Cancel)>;
using TZipConfirmOverwriteEvent = std::function<void(TZipBaseArchiver *Sender, const std::string &SourceFileName,
                                                     std::string &DestFileName, bool &Confirm)>;
using TZipConfirmProcessFileEvent = std::function<void(TZipBaseArchiver *Sender, const std::string &FileName,
                                                       TZipProcessOperation Operation, bool &Confirm)>;
using TZipNotifyEvent = std::function<void(TZipBaseArchiver *Sender)>;
using TZipPasswordEvent = std::function<void(TZipBaseArchiver *Sender, const std::string &FileName,
                                             std::string &NewPassword, bool &SkipFile)>;
using TZipProcessFileFailureEvent = std::function<void(
    TZipBaseArchiver *Sender, const std::string &FileName, TZipProcessOperation Operation, int NativeError,
    int ErrorCode, const std::string &ErrorMessage, TZipFailureAction &Action)>;
using TZipRequestNumberedVolumeEvent = std::function<void(TZipBaseArchiver *Sender, int VolumeNumber,
                                                          std::string &VolumeFileName, bool &Cancel)>;
using TZipRequestVolumeEvent = std::function<void(TZipBaseArchiver *Sender, std::string &VolumeFileName,
                                                  bool &Cancel)>;
using TZipDiskFullEvent = std::function<void(TZipBaseArchiver *Sender, int VolumeNumber,
                                             const std::string &VolumeFileName, bool &Cancel)>;
using TZipStoreFileEvent = std::function<void(TZipBaseArchiver *Sender, std::string &FileName, int &FileAttr,
                                              std::string &Comment, const std::string &OriginalFileName)>;
using TZipExtractFileEvent = std::function<void(TZipBaseArchiver *Sender, std::string &FileName, int &FileAttr,
                                                const std::string &Comment)>;

// Where the data of an entry goes.
class TZipDataSink {
public:
    virtual ~TZipDataSink() = default;
    // False when fewer bytes could be written.
    virtual bool Write(const uint8_t *data, size_t count) = 0;
};

// What the last operation over the selected entries did, so that a caller
// never takes a partly failed archive for a success. Names use "/".
struct TZipOperationResult {
    int Selected = 0;
    int Processed = 0;
    TStringList Failed;   // entries that failed and were ignored or aborted on
    TStringList Skipped;  // not confirmed, read-only or not overwritten, password skipped, links
    bool Aborted = false;    // fxaAbort answered
    bool Cancelled = false;  // a progress event cancelled
    // The directory was rebuilt from the local headers of a damaged archive:
    // entries behind the damage are missing without being named above.
    bool Damaged = false;
    bool Ok() const { return Failed.Empty() && !Aborted && !Cancelled && !Damaged; }
};

class TZipBaseArchiver {
public:
    TZipBaseArchiver();
    virtual ~TZipBaseArchiver();
    TZipBaseArchiver(const TZipBaseArchiver &) = delete;
    TZipBaseArchiver &operator=(const TZipBaseArchiver &) = delete;

    // The component name that prefixes exception texts ("ZipArchiver1").
    std::string Name;

    // Published properties.
    bool ExtractCorruptedFiles = false;
    TZipCompressionLevel CompressionLevel() const { return FCompressionLevel; }
    void SetCompressionLevel(TZipCompressionLevel level);
    int CompressionMode() const { return FCompressionMode; }
    void SetCompressionMode(int mode);  // native 5 outside 0..9
    std::string CurrentVersion() const { return "2.68 "; }
    std::string Password;
    std::string FileName;
    std::string BaseDir;
    std::string TempDir;
    TZipSpanningMode SpanningMode() const { return FSpanningMode; }
    void SetSpanningMode(TZipSpanningMode mode);
    TZipSpanningOptions SpanningOptions;
    std::string SFXStub;
    TZipOptions Options;
    TStringList FileMasks;
    TStringList ExclusionMasks;
    TStringList NoCompressionMasks;
    bool InMemory() const { return FInMemory; }
    void SetInMemory(bool value);
    TZipZip64Mode Zip64Mode = zmAuto;

    // Events.
    TZipProgressEvent OnFileProgress;
    TZipOverallProgressEvent OnOverallProgress;
    TZipCopyTempFileProgressEvent OnCopyTempFileProgress;
    TZipConfirmOverwriteEvent OnConfirmOverwrite;
    TZipConfirmProcessFileEvent OnConfirmProcessFile;
    TZipNotifyEvent AfterOpen;
    TZipPasswordEvent OnPassword;
    TZipProcessFileFailureEvent OnProcessFileFailure;
    TZipRequestNumberedVolumeEvent OnRequestBlankVolume;
    TZipRequestVolumeEvent OnRequestFirstVolume;
    TZipRequestVolumeEvent OnRequestLastVolume;
    TZipRequestNumberedVolumeEvent OnRequestMiddleVolume;
    TZipDiskFullEvent OnDiskFull;
    TZipStoreFileEvent OnStoreFile;
    TZipExtractFileEvent OnExtractFile;

    // The questions used for events without a handler; nullptr means the
    // process-wide ones (ZipQuestions()).
    TZipQuestions *Questions = nullptr;

    // Opening and closing.
    void OpenZip();
    void OpenZipMode(TZipOpenMode mode);
    // Opens an archive held in the caller's stream (read side; the stream
    // stays the caller's).
    void OpenZipStream(TStream *stream);
    void CloseZip();
    bool Active() const { return FActive; }

    // Extracts every entry that matches the mask (and not the exclusion mask,
    // when one is given) into BaseDir.
    void ExtractMatching(const std::string &FileMask = "*.*", int SearchAttr = 0x28BF,
                         const std::string &ExclusionMask = "");
    // Runs the checks of extraction (size and CRC) without writing files.
    void TestMatching(const std::string &FileMask = "*.*", int SearchAttr = 0x28BF,
                      const std::string &ExclusionMask = "");
    // Writes the data of one entry to a stream; false when the entry's size
    // or CRC do not check (or it was skipped by the password event).
    bool ExtractToStream(int index, TStream &dest);
    const TZipOperationResult &LastResult() const { return FResult; }

    // Writing. Every change below runs as one update: inside BeginUpdate and
    // EndUpdate the changes gather and are written together at EndUpdate;
    // outside, each call is its own update. The archive is rewritten into a
    // temporary file that replaces it only when complete, so a failed or
    // cancelled update leaves it as it was.
    //
    // Adds the files that match the mask (a bare mask searches BaseDir; a
    // folder part is taken below BaseDir unless it is a full path), with
    // Options.Recurse in the folders below, and the folders themselves when
    // SearchAttr allows faDirectory. An entry of the same name is replaced.
    void AddFiles(const std::string &FileMask = "*.*", int SearchAttr = 0x28BF,
                  const std::string &ExclusionMask = "");
    // The same, deleting each source once the archive holding it is written.
    void MoveFiles(const std::string &FileMask = "*.*", int SearchAttr = 0x28BF,
                   const std::string &ExclusionMask = "");
    // Compresses the matching entries again from their files below BaseDir,
    // as Options.OverwriteMode and ReplaceReadOnly allow; folders stay.
    void UpdateFiles(const std::string &FileMask = "*.*", int SearchAttr = 0x28BF,
                     const std::string &ExclusionMask = "");
    void DeleteFiles(const std::string &FileMask, int SearchAttr = 0x28BF, const std::string &ExclusionMask = "");
    // Adds the rest of the caller's stream as the entry FileName. The stream
    // stays the caller's, must live until the update is written, and is set
    // back to its position afterwards.
    void AddFromStream(const std::string &FileName, TStream &Stream, int FileAttr = faArchive);
    // Renames an entry (a folder entry with the entries below it). False when
    // another entry already has the new name; native 42 when there is no
    // entry of the old name.
    bool RenameFile(const std::string &OldName, const std::string &NewName);
    // Sets the attribute bits (the low word of the external attributes) of the
    // matching entries; the Unix mode of an entry follows its read-only bit.
    void ChangeFilesAttr(const std::string &FileMask, int NewAttr);
    void ChangeFilesComment(const std::string &FileMask, const std::string &NewComment);
    void SetComment(const std::string &NewComment);
    // Puts SFXStub in front of an archive that has no prefix yet.
    void MakeSFX();
    void BeginUpdate();
    void EndUpdate();
    // Drops the changes gathered since BeginUpdate.
    void CancelUpdate();
    bool UpdatePending() const { return FUpdatePending; }

    // The directory.
    int FileCount() const { return FDir.Dir.Count(); }
    const TZipDirItem &Files(int i) const { return FDir.Dir[i]; }
    int IndexOf(const std::string &storedName) { return FDir.Dir.IndexOf(storedName); }
    std::string Comment() const { return FComment; }
    int64_t PrefixSize() const { return FPrefixSize; }
    int VolumeCount() const { return FLastVolume + 1; }
    // True when the directory was rebuilt from the local headers.
    bool Recovered() const { return FRecovered; }

    // Whether a damaged archive is opened by rebuilding its directory from
    // the local headers (on by default).
    bool OpenCorruptedArchives = true;

protected:
    // Event slots, in the engine's order; each runs the handler or the default.
    virtual void DoOverallProgress(double progress, TZipProcessOperation op, TZipProgressPhase phase,
                                   bool &cancel);
    virtual void DoFileProgress(const std::string &fileName, double progress, TZipProcessOperation op,
                                TZipProgressPhase phase, bool &cancel);
    virtual void DoCopyTempFileProgress(double progress, TZipProgressPhase phase, bool &cancel);
    virtual void DoConfirmOverwrite(const std::string &source, std::string &dest, bool &confirm);
    virtual void DoConfirmProcessFile(const std::string &fileName, TZipProcessOperation op, bool &confirm);
    virtual void DoPassword(const std::string &fileName, std::string &newPassword, bool &skipFile);
    virtual void DoProcessFileFailure(const std::string &fileName, TZipProcessOperation op, int nativeError,
                                      int errorCode, const std::string &message, TZipFailureAction &action);
    virtual void DoRequestBlankVolume(int volumeNumber, std::string &volumeFileName, bool &cancel);
    virtual void DoRequestFirstVolume(std::string &volumeFileName, bool &cancel);
    virtual void DoRequestLastVolume(std::string &volumeFileName, bool &cancel);
    virtual void DoRequestMiddleVolume(int volumeNumber, std::string &volumeFileName, bool &cancel);
    virtual void DoDiskFull(int volumeNumber, const std::string &volumeFileName, bool &cancel);
    virtual void DoVolumeFailure(int volumeNumber, const std::string &volumeFileName);
    virtual void DoStoreFile(std::string &fileName, int &fileAttr, std::string &comment,
                             const std::string &originalFileName);
    virtual void DoExtractFile(std::string &fileName, int &fileAttr, const std::string &comment);

    // Bytes a volume may hold (volume numbers from 1); 0 when only the free
    // space of its drive limits it.
    int64_t VolumeSizeLimit(int volumeNumber) const;
    // Free bytes on the drive that holds the file (0 when unknown).
    static int64_t FreeDiskSpace(const std::string &fileName);

    // Starts an empty archive (create mode, in-memory). The writing side
    // builds on this.
    virtual void CreateNewArchive();
    // Opens volume number (from 0) of a new multi-volume archive for
    // writing: asks for it through the volume events, checks the free space
    // of its drive and creates it.
    // capacity: the bytes it can take (its size limit, at most the free space).
    virtual std::unique_ptr<TStream> OpenWriteVolume(int number, std::string &name, int64_t &capacity);
    TZipQuestions &Ask() { return Questions ? *Questions : ZipQuestions(); }

    // Archive state shared with the writing side.
    TZipDirManager FDir;
    TStream *FStream = nullptr;           // the current volume
    std::unique_ptr<TStream> FOwnStream;  // when the component owns it
    bool FActive = false;
    bool FUpdatePending = false;
    std::string FComment;
    int64_t FPrefixSize = 0;
    int64_t FDirOffset = 0;  // start of the central directory (bound of entry data)
    int FCurrentVolume = 0;
    int FLastVolume = 0;     // number of the last volume (0: single file)
    bool FCustomStream = false;
    bool FRecovered = false;
    bool FReadOnly = false;     // opened without write access
    bool FNewArchive = false;   // created here and not written yet
    bool FExeNaming = false;    // volumes named as a self-extracting archive

private:
    struct TEndRecord {
        int64_t Position = -1;  // of the end record; -1 when there is none
        uint32_t ThisDisk = 0;
        uint32_t CdDisk = 0;
        uint64_t EntriesThisDisk = 0;
        uint64_t TotalEntries = 0;
        uint64_t CdSize = 0;
        uint64_t CdOffset = 0;
    };

    void OpenArchiveStream(TZipOpenMode mode);
    bool FindEndRecord(TEndRecord &end);
    void ReadDirectory(const TEndRecord &end);
    void ReadCentralDirectory(const TEndRecord &end);
    void RecoverDirectory();
    void MarkOverlaps();
    void DetectPrefix();
    void ApplyVolumeLayout(const TEndRecord &end);
    std::string VolumeFileName(int number, bool advanced) const;
    void SelectVolume(int number);
    // The default volume request: the question on a spanned archive (then,
    // with untilFound, the missing-file question until the file is there),
    // on a split one only whether the file exists.
    void AskForVolume(const std::string &question, const std::string &volumeFileName, bool untilFound,
                      bool &cancel);
    // Reads count bytes, going on to the next volume when one ends; returns
    // how many were read.
    int64_t ReadSpan(void *buffer, int64_t count);
    void ReadSpanExact(void *buffer, int64_t count);

    void SelectMatching(const std::string &mask, int searchAttr, const std::string &exclusionMask);

    void ProcessSelected(TZipProcessOperation op);
    enum TEntryOutcome { eoDone, eoSkipped, eoCancelled };
    TEntryOutcome ExtractEntry(int index, TZipProcessOperation op);
    // Streams an entry's data into the sink, checking size and CRC.
    TEntryOutcome WriteEntryData(int index, TZipDataSink &sink, bool &checksOk);
    void CheckOpen() const;
    // Ends one (possibly nested) operation begun with ++FBusy.
    void LeaveOperation();
    // The writing side.
    class TUpdateScope;
    struct TBusy;
    struct TRewrite;
    void CheckWritable();
    void QueueFiles(const std::string &mask, int searchAttr, const std::string &exclusionMask,
                    TZipProcessOperation op);
    std::vector<std::string> FindSources(const std::string &mask, int searchAttr, const std::string &exclusionMask);
    void QueueSource(const std::string &path, TZipProcessOperation op);
    // Puts a new entry in the directory, in place of one of the same name.
    void QueueItem(TZipDirItem item);
    bool ConfirmChange(const std::string &storedName, TZipProcessOperation op);
    void RestoreSavedDirectory();
    bool WriteUpdatedArchive();
    void WriteEntries(TRewrite &rw);
    TEntryOutcome CompressEntry(TRewrite &rw, int index);
    void CopyEntry(TRewrite &rw, int index);
    void WriteCentralDirectory(TRewrite &rw);
    bool CopyProgress(TRewrite &rw, int64_t bytes);
    void CommitRewrite(TRewrite &rw);
    void DeleteMovedSources();
    bool FCommitted = false;  // the rewritten archive has replaced the old one
    int FUpdateDepth = 0;
    bool FModified = false;
    std::string FSavedComment;
    bool FStubPending = false;  // MakeSFX: SFXStub goes in front
    TZipProcessOperation FBatchOp = poAdd;
    std::vector<std::string> FMovedSources;
    std::vector<std::string> FWrittenVolumes;  // files of the volumes being written
    void KeepReadPosition(const std::function<void()> &fire);
    // The target path below base, with existing folders and files matched
    // without regard to case (archives made on Windows name them freely).
    std::string ResolveTarget(const std::string &base, const std::string &rel);
    std::map<std::string, std::map<std::string, std::string>> FNameCache;
    // The folder the last entry went to, held open for the next entries of
    // the same operation; shared, so that a nested operation that drops it
    // does not close it under the entry that is using it.
    struct TOpenFolder;
    std::shared_ptr<TOpenFolder> FLastFolder;

    TZipCompressionLevel FCompressionLevel = clFastest;
    int FCompressionMode = 1;
    TZipSpanningMode FSpanningMode = smNone;
    bool FInMemory = false;
    int FBusy = 0;
    bool FCloseRequested = false;
    // In-progress state of the running operation.
    int FEntriesTotal = 0;
    int FEntriesDone = 0;
    bool FCancel = false;
    TZipProcessOperation FCurrentOp = poExtract;
    TZipOperationResult FResult;
};

class TZipArchiver : public TZipBaseArchiver {
public:
    TZipArchiver() { Zip64Mode = zmDisabled; }
};
