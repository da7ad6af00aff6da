// The header lines of a message or a MIME part: "Name: value" lines with
// folded continuation lines (lines that begin with a blank).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "Classes.h"

class TNetHeaderList : public TStringList {
public:
    TNetHeaderList() = default;

    std::string Separator = ": ";
    bool CaseSensitive = false;
    bool UnfoldOnRead = true;
    bool FoldOnWrite = true;
    int FoldLength = 78;

    // The name of the line (before its first ":", trailing blanks removed;
    // upper-cased unless CaseSensitive); "" for a line without a colon.
    std::string NameAt(int index) const;
    // The value after the first ":", trimmed, with its continuation lines
    // appended as they stand when UnfoldOnRead (unfolding removes the line
    // break only, RFC 5322 2.2.3); "" outside the list.
    std::string ValueAt(int index) const;
    int IndexOfName(std::string_view name, int from = 0) const;
    std::string GetValue(std::string_view name) const { return ValueAt(IndexOfName(name)); }
    // The values of every header of that name in order, the non-empty ones
    // joined by joiner.
    std::string GetValues(std::string_view name, std::string_view joiner) const;
    // Removes every header of that name after the first.
    void RemoveRepeats(std::string_view name);
    // Replaces the first header of that name (folded), adds it, or removes
    // it when value is empty.
    void SetValue(std::string_view name, std::string_view value);
    void RemoveContinuationLines(int index);
    std::unique_ptr<TStringList> SplitForFolding(std::string_view line) const;
    void ReplaceWithFolded(std::string_view line, int index);

    static bool IsContinuation(std::string_view line) {
        return !line.empty() && (line[0] == ' ' || line[0] == '\t');
    }
    // Where the field name of a header line ends (before the blanks that
    // may stand before its colon, the old "Name : value"); 0 when the line
    // is no header field: no colon, an empty name, or a name with anything
    // but printable characters. Such a line ends a header block.
    static size_t FieldNameEnd(std::string_view line);
};
