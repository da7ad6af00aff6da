#include "ZipExcept.h"

#include "ZipArchiver.h"

namespace {

const char *const Messages[] = {
    "Unknown error",
    "Index out of bounds",
    "Invalid compression mode. Mode must be in [0-9] range",
    "Unexpected nil pointer",
    "Invalid size or check sum of file or unsupported compression format",
    "File name is blank. Specify appropriate file name",
    "File \"%s\" not found",
    "Archive is not open",
    "SFXStub property is not specified",
    "Cannot create file \"%s\"",
    "Cannot create directory \"%s\"",
    "Internal error. Update is not started",
    "Cannot open file \"%s\"",
    "Cannot proceed when update is not ended. Preceding EndUpdate call is required.",
    "Cannot delete file \"%s\"",
    "In-memory archive can be created only",
    "File is open in read-only mode",
    "Invalid compressed size, rfs.size = %d, count = %d",
    "Invalid archive file.",
    "Cannot create output file. Probably file is locked by another process. FileName = '%s'.",
    "Archive is open. You should close it beore performing this operation.",
    "Unable to create directory",
    "Cannot find Zip64 directory end record",
    "Cannot compress file '%s'. Zip64 mode is not enabled",
    "Cannot open archive file. Opening aborted or invalid file",
    "Write to stream error",
    "Cannot place SFX stub on volume. Volume size limit is too small",
    "Archive is damaged. Open failed",
    "MakeSFX is not allowed for splitted or spanned archives. Set SFXStub before archive creation instead",
    "Archive already has SFX stub",
    "Multi-volume archive is not allowed for custom stream",
    "Multi-spanned archive is not allowed for modification. Use BeginUpdate/EndUpdate methods to add file",
    "Deflate64 compression method is not supported",
    "MakeSFX error",
    "Hashed list of file names is invalid",
};
constexpr int MessageCount = int(sizeof(Messages) / sizeof(Messages[0]));

// Index of the message for native codes 0..59.
const int NativeMap[60] = {
    0, 1, 1, 1, 1, 2, 3, 1, 4, 5,        // 0-9
    5, 6, 6, 7, 7, 6, 1, 8, 6, 9,        // 10-19
    10, 1, 11, 9, 1, 11, 13, 14, 15, 5,  // 20-29
    6, 6, 16, 12, 17, 18, 19, 20, 6, 21, // 30-39
    22, 23, 6, 23, 24, 24, 25, 26, 27, 28, // 40-49
    29, 30, 31, 6, 6, 32, 33, 27, 33, 33,  // 50-59
};


std::string Decorate(std::string text, int native, const TZipBaseArchiver *archiver) {
    if (archiver && !archiver->Name.empty()) text = archiver->Name + ": " + text;
    std::string code = Format("%5d", native);
    for (char &c : code)
        if (c == ' ') c = '0';
    return text + " - Native error: " + code;
}

}  // namespace

std::string ZipFillPlaceholders(const std::string &fmt, const std::initializer_list<std::string> &args) {
    std::string out;
    auto it = args.begin();
    for (size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] == '%' && i + 1 < fmt.size()) {
            char c = fmt[i + 1];
            if (c == '%') { out += '%'; ++i; continue; }
            if (c == 's' || c == 'd') {
                if (it != args.end()) out += *it++;
                ++i;
                continue;
            }
        }
        out += fmt[i];
    }
    return out;
}

const char *ZipErrorMessage(int index) {
    if (index < 0 || index >= MessageCount) return Messages[0];
    return Messages[index];
}

int ZipNativeToErrorCode(int nativeError) {
    if (nativeError < 0 || nativeError >= 60) return 0;
    return NativeMap[nativeError];
}

EZipException::EZipException(int nativeError, const TZipBaseArchiver *archiver)
    : EZipException(nativeError, {}, archiver) {}

EZipException::EZipException(int nativeError, std::initializer_list<std::string> args,
                             const TZipBaseArchiver *archiver)
    : Exception("") {
    NativeError = nativeError;
    ErrorCode = ZipNativeToErrorCode(nativeError);
    std::string text = ZipErrorMessage(ErrorCode);
    if (args.size()) text = ZipFillPlaceholders(text, args);
    SetMessage(Decorate(text, nativeError, archiver));
}

EDecompressionError::EDecompressionError(const std::string &fileName, const TZipBaseArchiver *archiver)
    : EZipException(8, archiver) {
    (void)fileName;
}

const char *const SZipPasswordTitle = "Password for \"%s\"";
const char *const SZipPasswordPrompt = "Enter password: ";
const char *const SZipOverwriteQuestion = "Overwrite file \"%s\" with \"%s\"";
const char *const SZipProcessFileFailure = "%s. File processing error, possibly disk is full";
const char *const SZipInsertBlankDisk = "Please insert a blank disk #%d";
const char *const SZipInsertFirstDisk = "Please insert the first disk";
const char *const SZipInsertLastDisk = "Please insert the last disk";
const char *const SZipInsertDisk = "Please insert disk #%d";
const char *const SZipDiskFull =
    "Disk is full. Required free space: %d bytes, but available only: %d bytes. Clean the disk or find another blank disk";
const char *const SZipFileNotFoundOnDisk =
    "File '%s' not found on inserted disk. Please insert last disk with required file";
