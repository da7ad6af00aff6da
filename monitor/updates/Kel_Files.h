// File routines of the monitor: deletion by mask, deletion of a folder, the
// version text of an executable, and the sub-folder test of a directory scan.
#pragma once

#include <cstdint>
#include <string>

#include "SysUtils.h"

// One entry of a directory scan.
struct TSearchRec {
    std::string Name;
    int Attr = 0;
    int64_t Size = 0;
};

// Deletes what the path names: one file or folder (a folder with everything
// in it), or, with "*"/"?" in the last component, every matching entry of
// that folder ("*.*" matches names without a dot too). Symbolic links are
// removed, never followed. True when everything named is gone; a mask that
// matches nothing counts as done, a plain path that does not exist does not.
// Never raises.
bool DeleteFiles(const std::string &pathOrMask);
// DeleteFiles(folder + "/*.*"), then the folder itself; true when both worked.
// A folder that is a symbolic link loses the link only.
bool DeleteFolder(const std::string &folder);

// Executables here carry their version as the text
// "TW-FILEVERSION:" major.minor.release.build, which this macro embeds:
//   TW_FILE_VERSION_RESOURCE("0.8.2.5")
// The result is "%d.%d.%d.%d" of the first such text in the file, or empty
// when the file is missing or has none.
#define TW_FILE_VERSION_RESOURCE(v) \
    extern "C" __attribute__((used)) const char TwFileVersionResource[] = "TW-FILEVERSION:" v
std::string GetFileVersionText(const std::string &fileName);

bool IsSubFolder(const TSearchRec &rec);
