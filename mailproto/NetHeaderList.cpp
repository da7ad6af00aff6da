#include "NetHeaderList.h"

#include "NetGlobalProtocols.h"

#include <algorithm>

namespace {
// Blanks and control characters at both ends.
std::string_view TrimView(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && uint8_t(s[b]) <= ' ') ++b;
    while (e > b && uint8_t(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}
}  // namespace

std::string TNetHeaderList::NameAt(int index) const {
    if (index < 0 || index >= Count()) return {};
    const std::string &line = Strings(index);
    size_t colon = line.find(':');
    if (colon == std::string::npos) return {};
    std::string name = TrimRight(std::string_view(line).substr(0, colon));
    return CaseSensitive ? name : UpperCase(name);
}

std::string TNetHeaderList::ValueAt(int index) const {
    if (index < 0 || index >= Count()) return {};
    const std::string &line = Strings(index);
    size_t colon = line.find(':');
    if (colon == std::string::npos) return {};
    // The value starts right after the colon, whatever stands before it
    // ("Name : x" too).
    std::string_view value = std::string_view(line).substr(colon + 1);
    // A value on one line is copied once.
    const bool folded = index + 1 < Count() && IsContinuation(Strings(index + 1));
    if (!UnfoldOnRead || !folded) return std::string(TrimView(value));
    // Only the line breaks go: the blank that starts a continuation line is
    // part of the value (a tab stays a tab), as are blanks before the break.
    std::string result(value);
    for (int i = index + 1; i < Count() && IsContinuation(Strings(i)); ++i) result.append(Strings(i));
    return std::string(TrimView(result));
}

size_t TNetHeaderList::FieldNameEnd(std::string_view line) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return 0;
    size_t end = colon;
    while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
    for (size_t k = 0; k < end; ++k)
        if (uint8_t(line[k]) <= ' ' || uint8_t(line[k]) >= 0x7F) return 0;
    return end;
}

int TNetHeaderList::IndexOfName(std::string_view name, int from) const {
    std::string_view want = TrimView(name);
    // A name stands before the line's first colon, so it holds none.
    if (want.empty() || want.find(':') != std::string_view::npos) return -1;
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; };
    const char first = CaseSensitive ? want[0] : upper(want[0]);
    const std::vector<std::string> &lines = Items();
    for (int i = std::max(from, 0); i < Count(); ++i) {
        const std::string &line = lines[size_t(i)];
        if (line.size() <= want.size() || IsContinuation(line)) continue;
        // The line starts with the name, and only blanks stand between it
        // and the colon: most lines are passed over at their first letter.
        if ((CaseSensitive ? line[0] : upper(line[0])) != first) continue;
        std::string_view head = std::string_view(line).substr(0, want.size());
        if (CaseSensitive ? head != want : !SameText(head, want)) continue;
        size_t k = want.size();
        while (k < line.size() && (line[k] == ' ' || line[k] == '\t')) ++k;
        if (k < line.size() && line[k] == ':') return i;
    }
    return -1;
}

void TNetHeaderList::RemoveContinuationLines(int index) {
    while (index + 1 < Count() && IsContinuation(Strings(index + 1))) Delete(index + 1);
}

std::unique_ptr<TStringList> TNetHeaderList::SplitForFolding(std::string_view line) const {
    auto list = std::make_unique<TStringList>();
    std::string folded = FoldTextLines(line, "\r\n ", "\t ,", FoldLength);
    size_t start = 0;
    for (;;) {
        size_t p = folded.find("\r\n", start);
        std::string piece = TrimRight(std::string_view(folded).substr(start, p == std::string::npos ? std::string::npos : p - start));
        // A piece is never left empty: an empty line would end the header block.
        if (!piece.empty() || list->Empty()) list->Add(piece);
        if (p == std::string::npos) break;
        start = p + 2;
    }
    return list;
}

void TNetHeaderList::ReplaceWithFolded(std::string_view line, int index) {
    auto pieces = SplitForFolding(line);
    if (index < 0 || index >= Count()) return;
    (*this)[index] = (*pieces)[0];
    for (int i = 1; i < pieces->Count(); ++i) Insert(index + i, (*pieces)[i]);
}

void TNetHeaderList::SetValue(std::string_view name, std::string_view value) {
    int index = IndexOfName(name);
    if (!value.empty()) {
        if (index < 0) index = Add(std::string());
        std::string line = std::string(name) + Separator + std::string(value);
        if (FoldOnWrite) {
            RemoveContinuationLines(index);
            ReplaceWithFolded(line, index);
        } else {
            (*this)[index] = line;
        }
    } else if (index >= 0) {
        if (FoldOnWrite) RemoveContinuationLines(index);
        Delete(index);
    }
}

std::string TNetHeaderList::GetValues(std::string_view name, std::string_view joiner) const {
    std::string out;
    for (int i = IndexOfName(name); i >= 0; i = IndexOfName(name, i + 1)) {
        std::string v = ValueAt(i);
        if (v.empty()) continue;
        if (!out.empty()) out += joiner;
        out += v;
    }
    return out;
}

void TNetHeaderList::RemoveRepeats(std::string_view name) {
    int first = IndexOfName(name);
    if (first < 0) return;
    for (int i = IndexOfName(name, first + 1); i >= 0; i = IndexOfName(name, i)) {
        RemoveContinuationLines(i);
        Delete(i);
    }
}
