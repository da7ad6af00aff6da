// Failures of the zip archive component. Every one is an EZipException made
// from a native code; the code maps to a fixed message of the table.
#pragma once

#include <string>

#include "SysUtils.h"

class TZipBaseArchiver;

class EZipException : public Exception {
public:
    // The message of the native code, prefixed with the archiver's name when it
    // has one, and followed by " - Native error: 000nn".
    EZipException(int nativeError, const TZipBaseArchiver *archiver = nullptr);
    // The same with the message's %s/%d placeholders filled from args (all
    // passed as texts; a %d placeholder takes its text as is).
    EZipException(int nativeError, std::initializer_list<std::string> args,
                  const TZipBaseArchiver *archiver = nullptr);
    const char *ClassName() const override { return "EZipException"; }

    int ErrorCode = 0;    // index into the message table
    int NativeError = 0;  // the code given at raise
};

// A damaged deflate stream. It is an entry failure like a bad check sum, so it
// goes through the same per-entry failure handling instead of ending the run.
class EDecompressionError : public EZipException {
public:
    explicit EDecompressionError(const std::string &fileName, const TZipBaseArchiver *archiver = nullptr);
    const char *ClassName() const override { return "EDecompressionError"; }
};

// The text with its %s and %d placeholders filled in order from args (a %d
// takes its text as is); "%%" stays "%".
std::string ZipFillPlaceholders(const std::string &fmt, const std::initializer_list<std::string> &args);
// Message of a table index ("Unknown error" outside the table).
const char *ZipErrorMessage(int index);
// Index of the message for a native code (0 for a code the map does not list).
int ZipNativeToErrorCode(int nativeError);

// Default questions of the component.
extern const char *const SZipPasswordTitle;         // "Password for "%s""
extern const char *const SZipPasswordPrompt;        // "Enter password: "
extern const char *const SZipOverwriteQuestion;     // target, entry
extern const char *const SZipProcessFileFailure;    // exception text
extern const char *const SZipInsertBlankDisk;       // %d
extern const char *const SZipInsertFirstDisk;
extern const char *const SZipInsertLastDisk;
extern const char *const SZipInsertDisk;            // %d
extern const char *const SZipDiskFull;              // %d required, %d available
extern const char *const SZipFileNotFoundOnDisk;    // %s
