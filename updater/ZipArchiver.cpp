#include "ZipArchiver.h"

#include "ZipFormat.h"

#include <algorithm>
#include <sys/statvfs.h>

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
    else if (mode <= 3) FCompressionLevel = clFastest;
    else if (mode <= 6) FCompressionLevel = clNormal;
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
    // Reopening the archive the other way cannot wait for a running
    // operation (a handler or a timer inside a question asked for it), and
    // would lose changes not written yet.
    if (FBusy) throw EZipException(37, this);
    if (FUpdatePending) throw EZipException(26, this);
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

void TZipBaseArchiver::AskForVolume(const std::string &question, const std::string &volumeFileName,
                                     bool untilFound, bool &cancel) {
    // Split volumes lie beside the archive: nobody is asked, the file is there or not.
    if (FSpanningMode != smSpanning) {
        if (!FileExists(volumeFileName)) cancel = true;
        return;
    }
    if (!Ask().AskOkCancel(question)) {
        cancel = true;
        return;
    }
    while (untilFound && !FileExists(volumeFileName)) {
        if (!Ask().AskOkCancel(Format(SZipFileNotFoundOnDisk, volumeFileName.c_str()))) {
            cancel = true;
            return;
        }
    }
}

void TZipBaseArchiver::DoRequestFirstVolume(std::string &volumeFileName, bool &cancel) {
    if (OnRequestFirstVolume) OnRequestFirstVolume(this, volumeFileName, cancel);
    else AskForVolume(SZipInsertFirstDisk, volumeFileName, false, cancel);
}

void TZipBaseArchiver::DoRequestLastVolume(std::string &volumeFileName, bool &cancel) {
    if (OnRequestLastVolume) OnRequestLastVolume(this, volumeFileName, cancel);
    else AskForVolume(SZipInsertLastDisk, volumeFileName, true, cancel);
}

void TZipBaseArchiver::DoRequestMiddleVolume(int volumeNumber, std::string &volumeFileName, bool &cancel) {
    if (OnRequestMiddleVolume) OnRequestMiddleVolume(this, volumeNumber, volumeFileName, cancel);
    else AskForVolume(Format(SZipInsertDisk, volumeNumber), volumeFileName, false, cancel);
}

void TZipBaseArchiver::DoDiskFull(int volumeNumber, const std::string &volumeFileName, bool &cancel) {
    if (OnDiskFull) {
        OnDiskFull(this, volumeNumber, volumeFileName, cancel);
        return;
    }
    if (FSpanningMode != smSpanning) {
        cancel = true;
        return;
    }
    // A volume needs its size limit, and without one at least 64 KiB.
    int64_t required = std::max<int64_t>(VolumeSizeLimit(volumeNumber), 65536);
    std::string text =
        ZipFillPlaceholders(SZipDiskFull, {std::to_string(required), std::to_string(FreeDiskSpace(volumeFileName))});
    if (!Ask().AskOkCancel(text)) cancel = true;
}

int64_t TZipBaseArchiver::VolumeSizeLimit(int volumeNumber) const {
    if (volumeNumber == 1 && SpanningOptions.FirstVolumeSize > 0) return SpanningOptions.FirstVolumeSize;
    switch (SpanningOptions.VolumeSize) {
        case vsAutoDetect: return 0;
        case vsCustom: return std::max<int64_t>(SpanningOptions.CustomVolumeSize, 65536);
        case vs1_44MB: return 1457664;
        case vs100MB: return 104857600;
        case vs200MB: return 209715200;
        case vs250MB: return 262144000;
        case vs600MB: return 629145600;
        case vs650MB: return 681574400;
        case vs700MB: return 734003200;
        case vs4700MB: return 4928307200LL;
    }
    return 0;
}

int64_t TZipBaseArchiver::FreeDiskSpace(const std::string &fileName) {
    std::string folder = ExtractFilePath(fileName);
    struct statvfs fs;
    if (::statvfs(folder.empty() ? "." : folder.c_str(), &fs) != 0) return 0;
    return int64_t(fs.f_bavail) * int64_t(fs.f_frsize);
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
    if (stream->Size() == 0) {
        // Nothing in it yet: a new archive is written into it.
        FNewArchive = true;
        FActive = true;
        if (AfterOpen) AfterOpen(this);
        return;
    }
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
    // A new multi-volume archive makes its files when its volumes are
    // written (the first may go to another disk than FileName names).
    if (FInMemory || FSpanningMode != smNone) {
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
    FNewArchive = true;
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
    FNewArchive = false;
    FExeNaming = false;
    FReadOnly = mode == zomOpenRead && !FInMemory;
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
    if (FUpdatePending) {
        // Changes gathered and not written yet are written now.
        try {
            FUpdateDepth = 1;
            EndUpdate();
        } catch (...) {
        }
        FUpdatePending = false;
        FUpdateDepth = 0;
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
    // The mode of the archive that closes goes with it; one chosen for the
    // next archive (a new multi-volume one) stays.
    if (FActive) FSpanningMode = smNone;
    FActive = false;
    FUpdatePending = false;
    FDir.Clear();
    FComment.clear();
    FLastVolume = 0;
    FCurrentVolume = 0;
    FReadOnly = false;
    FNewArchive = false;
    FExeNaming = false;
}

void TZipBaseArchiver::CheckOpen() const {
    if (!FActive) throw EZipException(13, this);
    if (FUpdatePending) throw EZipException(26, this);
}
