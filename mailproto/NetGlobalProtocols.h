// Routines shared by the message model, the header list, the coders and the
// mail clients: mail dates, temporary files, list splitting, header
// parameters, the default character set and line folding.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>
#include <string_view>

#include "Classes.h"
#include "SysUtils.h"

// Mail dates. Every parser returns 0 ("not set") for a text it cannot read
// or a date that cannot exist; none of them raises.
TDateTime GMTToLocalDateTime(std::string_view text);
// Parses day, month, year and time; text is left holding what follows the
// time (the zone and any comment).
TDateTime RawStrInternetToDateTime(std::string &text);
// "+hhmm"/"-hhmm" (also "+hh:mm") and the RFC 5322 zone names; a fraction of
// a day, east positive; 0 for anything else.
TDateTime TimeZoneToGmtOffset(std::string_view zone);
int StrToDay(std::string_view s);    // 1..7 for "SUN".."SAT", 0 otherwise
int StrToMonth(std::string_view s);  // 1..12 for "JAN".."DEC", 0 otherwise

// The folder every temporary file of the program goes to. By default a
// private folder (mode 0700) for this user under the system temporary
// folder; the application may point it at its own "temp" folder.
std::string NetTempFolder();  // with a trailing "/"
void SetNetTempFolder(const std::string &folder);
// A name "Net" + 8 hexadecimal digits + ".tmp" in folder (the temporary
// folder when folder is empty or does not exist) that does not exist yet.
std::string MakeTempFilename(const std::string &folder = {});
// Creates a new temporary file (O_CREAT|O_EXCL|O_NOFOLLOW, mode 0600) in
// folder as MakeTempFilename names it; returns the open descriptor and sets
// path. Raises EFCreateError when no file can be made.
int CreateTempFile(const std::string &folder, std::string &path);
// Copies a file; false when the source cannot be read or the target exists.
bool CopyFileTo(const std::string &source, const std::string &target);

// Comma-separated parts, trimmed, empty ones dropped; a comma inside one
// double-quoted run does not cut.
void SplitTextToList(TStringList &list, std::string_view text);
// Every part between delimiters appended, empty ones too.
void SplitByDelimiter(std::string_view text, std::string_view delimiter, TStringList &list);
std::string RemoveHeaderParameter(std::string_view value, std::string_view parameter);
// The parameters of a structured header value ("type/sub; a=b; c="d;e"")
// in every form RFC 2045 and RFC 2231 give them: names in lower case,
// quoted values unquoted, and the extended forms ("name*=set'lang'%XX..."
// and the sections "name*0=", "name*1*=", ...) joined, percent-decoded and
// converted from their set into UTF-8. Plain parameters come first, then
// the extended ones, each in the order it first stands.
std::vector<std::pair<std::string, std::string>> HeaderParameters(std::string_view value);
// The first parameter of that name (any case), in any of its forms;
// upperCased: the value in upper case, as the header model keeps the
// character set.
std::string HeaderParameter(std::string_view value, std::string_view name, bool upperCased = false);
// The same as HeaderParameter.
std::string HeaderParameterDecoded(std::string_view value, std::string_view name);
// The boundary parameter of a Content-Type value ("" when none), in any
// form, without trailing blanks.
std::string FindBoundary(std::string_view contentType);
// The media type of a Content-Type value: the text before ";", trimmed; ""
// for none; "text/plain" for a value that is no type/subtype pair.
std::string MediaType(std::string_view value);

// Index into the character-set name table for the user's locale.
int DefaultCharsetForLocale();

// Folds text into lines no wider than width where a break character allows
// (never inside double quotes); the line-break text is put between lines.
std::string FoldTextLines(std::string_view text, std::string_view lineBreak, std::string_view breakChars,
                          int width);
std::string CharRange(char low, char high);
void CopyBytesRange(const std::string &source, size_t sourceIndex, std::string &target, size_t targetIndex,
                    size_t count);
std::string AppendHexByte(std::string_view prefix, uint8_t value);
// The value of a hexadecimal digit in either case; -1 for any other character.
int HexDigitValue(char c);
