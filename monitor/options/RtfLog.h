// The log file's format: rich text (RTF) as word processors read it. The
// log is a list of lines, each made of runs of one colour; that is all the
// file carries (one font, one size).
//
// Writing gives RTF 1 with a Windows-1252 code page: letters of that page as
// \'hh, every other character as \uN with "?" for readers without Unicode.
// Reading takes what this writer wrote and what the log of earlier releases
// (a rich-text box's own file) holds: groups, the colour table, \cf, \par
// and \line, \tab, \'hh, \uN with \ucN, and skips the destinations it does
// not show (fonts, styles, pictures, document information, "\*" groups).
// A file is untrusted: nesting, the colour table and the input are bounded,
// and anything that is not RTF raises ERtfError.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "SysUtils.h"

TW_EXCEPTION_CLASS(ERtfError, Exception);

// A stretch of one colour; Colour is a blue-green-red number, or -1 for the
// reader's default (black).
struct TRtfRun {
    std::string Text;  // UTF-8
    int Colour = -1;
    bool operator==(const TRtfRun &o) const = default;
};

struct TRtfLine {
    std::vector<TRtfRun> Runs;
    std::string Text() const;  // the runs' texts joined
    bool operator==(const TRtfLine &o) const = default;
};

// Deepest nesting of groups a file may have.
constexpr int RtfMaxDepth = 256;
// Most colour-table entries kept; later ones read as the default colour.
constexpr int RtfMaxColours = 1024;

std::string RtfWriteLog(const std::vector<TRtfLine> &lines);
// Lines of the file: one per \par (or \line); a last empty line after the
// final \par is not one. Adjacent runs of one colour are joined.
std::vector<TRtfLine> RtfReadLog(std::string_view data);
