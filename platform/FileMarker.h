// Texts that files carry behind a marker of their own: an executable's
// version after "TW-FILEVERSION:", a build's token after "TW-BUILD:".
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Decides whether the bytes after one marker are its text; when they are,
// sets out and returns true. text runs to the end of what has been read
// (at least the search's reach, unless the file ends sooner).
using TMarkedTextTaker = std::function<bool(std::string_view text, std::string &out)>;

// The text after the first marker in the file that take accepts, or empty:
// the file is missing or not a regular file (a FIFO or a device is neither
// waited on nor read), or none is found in its first 512 MiB. reach is how
// many bytes after the marker take needs to decide, so a marker nearer than
// that to the end of one chunk is looked at again with the next. An empty
// marker finds nothing.
std::string FindMarkedText(const std::string &path, std::string_view marker, size_t reach,
                           const TMarkedTextTaker &take);
