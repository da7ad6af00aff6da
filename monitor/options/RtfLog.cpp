#include "RtfLog.h"

#include <array>
#include <cstdint>
#include <map>

#include "settings/unDecodes.h"

std::string TRtfLine::Text() const {
    std::string s;
    for (const auto &r : Runs) s += r.Text;
    return s;
}

namespace {

// The code point of the UTF-8 sequence at s[i] and its length; a byte that
// does not start valid UTF-8 is taken as a Windows-1252 letter.
uint32_t DecodeAt(const std::string &s, size_t i, int &len) {
    len = Utf8SequenceLength(s, i);
    auto b = [&](size_t k) { return uint32_t(static_cast<unsigned char>(s[k])); };
    switch (len) {
    case 1: return b(i);
    case 2: return ((b(i) & 0x1F) << 6) | (b(i + 1) & 0x3F);
    case 3: return ((b(i) & 0x0F) << 12) | ((b(i + 1) & 0x3F) << 6) | (b(i + 2) & 0x3F);
    case 4:
        return ((b(i) & 0x07) << 18) | ((b(i + 1) & 0x3F) << 12) | ((b(i + 2) & 0x3F) << 6) |
               (b(i + 3) & 0x3F);
    default: {
        len = 1;
        std::string one = Cp1252CharToUtf8(static_cast<unsigned char>(s[i]));
        int l2 = 0;
        return DecodeAt(one, 0, l2);
    }
    }
}

// Code point -> Windows-1252 byte, for the letters of the page above 0x7F.
const std::map<uint32_t, unsigned char> &Cp1252Bytes() {
    static const std::map<uint32_t, unsigned char> table = [] {
        std::map<uint32_t, unsigned char> t;
        for (int c = 0x80; c <= 0xFF; ++c) {
            std::string u = Cp1252CharToUtf8(static_cast<unsigned char>(c));
            int len = 0;
            uint32_t cp = DecodeAt(u, 0, len);
            // Bytes the page leaves undefined map to C1 controls: not letters.
            if (cp >= 0xA0 || (cp >= 0x80 && cp != uint32_t(c))) t.emplace(cp, static_cast<unsigned char>(c));
        }
        return t;
    }();
    return table;
}

void AppendEscapedText(std::string &out, const std::string &text) {
    static const char *hex = "0123456789abcdef";
    for (size_t i = 0; i < text.size();) {
        int len = 0;
        uint32_t cp = DecodeAt(text, i, len);
        i += size_t(len);
        if (cp == '\\' || cp == '{' || cp == '}') {
            out += '\\';
            out += char(cp);
        } else if (cp == '\t') {
            out += "\\tab ";
        } else if (cp < 0x20 || cp == 0x7F) {
            // Line breaks never stand inside a log line; other controls are not text.
        } else if (cp < 0x80) {
            out += char(cp);
        } else {
            auto it = Cp1252Bytes().find(cp);
            if (it != Cp1252Bytes().end()) {
                out += "\\'";
                out += hex[it->second >> 4];
                out += hex[it->second & 15];
            } else if (cp <= 0xFFFF) {
                out += "\\u" + IntToStr(int16_t(uint16_t(cp))) + "?";
            } else {
                uint32_t v = cp - 0x10000;
                uint16_t hi = uint16_t(0xD800 + (v >> 10)), lo = uint16_t(0xDC00 + (v & 0x3FF));
                out += "\\u" + IntToStr(int16_t(hi)) + "?\\u" + IntToStr(int16_t(lo)) + "?";
            }
        }
    }
}

int NormalColour(int c) { return c < 0 ? -1 : (c & 0xFFFFFF); }

}  // namespace

std::string RtfWriteLog(const std::vector<TRtfLine> &lines) {
    // The colour table: entry 0 is the reader's default, then every colour used.
    std::vector<int> colours;
    auto index = [&](int c) -> int {
        if (c < 0) return 0;
        for (size_t k = 0; k < colours.size(); ++k)
            if (colours[k] == c) return int(k) + 1;
        colours.push_back(c);
        return int(colours.size());
    };
    std::string body;
    int current = 0;
    for (const auto &line : lines) {
        for (const auto &run : line.Runs) {
            int cf = index(NormalColour(run.Colour));
            if (cf != current) {
                body += "\\cf" + IntToStr(cf) + " ";
                current = cf;
            }
            AppendEscapedText(body, run.Text);
        }
        body += "\\par\r\n";
    }
    std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033"
                      "{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}\r\n{\\colortbl ;";
    for (int c : colours)
        out += "\\red" + IntToStr(c & 0xFF) + "\\green" + IntToStr((c >> 8) & 0xFF) + "\\blue" +
               IntToStr((c >> 16) & 0xFF) + ";";
    out += "}\r\n\\viewkind4\\uc1\\pard\\f0\\fs18 ";
    out += body;
    out += "}\r\n";
    return out;
}

// ---- reading ------------------------------------------------------------------

namespace {

// Destinations whose text is never part of the document.
bool IsSkippedDestination(std::string_view w) {
    static const char *names[] = {
        "fonttbl",   "stylesheet", "info",      "pict",       "object",     "header",
        "headerl",   "headerr",    "headerf",   "footer",     "footerl",    "footerr",
        "footerf",   "footnote",   "fldinst",   "listtable",  "listoverridetable",
        "revtbl",    "rsidtbl",    "generator", "xmlnstbl",   "themedata",  "colorschememapping",
        "latentstyles", "datastore", "filetbl", "pgdsctbl",   "author",     "operator",
        "title",     "subject",    "comment",   "keywords",   "doccomm",    "nonshppict",
        "bkmkstart", "bkmkend",    "annotation", "atnid",     "atnauthor",  "private"};
    for (const char *n : names)
        if (w == n) return true;
    return false;
}

struct TGroupState {
    int Colour = 0;   // \cf index
    int Uc = 1;       // characters after \uN that stand in for it
    bool Skip = false;
    bool ColourTable = false;
};

class TRtfReader {
public:
    explicit TRtfReader(std::string_view data) : D(data) {}
    std::vector<TRtfLine> Read();

private:
    std::string_view D;
    size_t P = 0;
    std::vector<TGroupState> Stack;
    TGroupState S;
    std::vector<int> Colours;  // -1 = default
    bool EntryHasColour = false;
    int Red = 0, Green = 0, Blue = 0;
    std::vector<TRtfLine> Lines{TRtfLine{}};
    int PendingSkip = 0;  // fallback characters of a \uN still to drop
    uint32_t HighSurrogate = 0;

    void AddCodePoint(uint32_t cp);
    void AddByte(unsigned char c) {
        std::string u = Cp1252CharToUtf8(c);
        int len = 0;
        AddCodePoint(DecodeAt(u, 0, len));
    }
    void NewLine() {
        HighSurrogate = 0;
        Lines.emplace_back();
    }
    // A character that a \uN's fallback count may eat; true when eaten.
    bool EatFallback() {
        if (PendingSkip <= 0) return false;
        --PendingSkip;
        return true;
    }
    void ControlWord(std::string_view word, bool hasParam, int64_t param);
};

void TRtfReader::AddCodePoint(uint32_t cp) {
    if (S.Skip || S.ColourTable) return;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
        HighSurrogate = cp;
        return;
    }
    if (cp >= 0xDC00 && cp <= 0xDFFF) {
        if (!HighSurrogate) return;
        cp = 0x10000 + ((HighSurrogate - 0xD800) << 10) + (cp - 0xDC00);
    }
    HighSurrogate = 0;
    // Control characters are not text of a log line; a tab is.
    if ((cp < 0x20 && cp != '\t') || cp == 0x7F || cp > 0x10FFFF) return;
    // \cfN names entry N of the colour table; entry 0 is usually the empty
    // "default" one.
    int colour = -1;
    if (S.Colour >= 0 && S.Colour < int(Colours.size())) colour = Colours[size_t(S.Colour)];
    auto &runs = Lines.back().Runs;
    if (runs.empty() || runs.back().Colour != colour) runs.push_back(TRtfRun{{}, colour});
    AppendUtf8(runs.back().Text, cp);
}

void TRtfReader::ControlWord(std::string_view w, bool hasParam, int64_t param) {
    if (S.ColourTable) {
        int v = int(param < 0 ? 0 : (param > 255 ? 255 : param));
        if (w == "red") Red = v, EntryHasColour = true;
        else if (w == "green") Green = v, EntryHasColour = true;
        else if (w == "blue") Blue = v, EntryHasColour = true;
        return;
    }
    if (w == "colortbl") {
        S.ColourTable = true;
        return;
    }
    if (IsSkippedDestination(w)) {
        S.Skip = true;
        return;
    }
    if (S.Skip) return;
    if (w == "par" || w == "line" || w == "sect" || w == "page") {
        if (!EatFallback()) NewLine();
    } else if (w == "tab") {
        if (!EatFallback()) AddCodePoint('\t');
    } else if (w == "cf") {
        S.Colour = hasParam && param >= 0 && param <= RtfMaxColours ? int(param) : 0;
    } else if (w == "plain") {
        S.Colour = 0;
    } else if (w == "uc") {
        S.Uc = hasParam && param >= 0 && param <= 16 ? int(param) : 1;
    } else if (w == "u" && hasParam) {
        int64_t v = param < 0 ? param + 65536 : param;
        if (v >= 0 && v <= 0xFFFF) AddCodePoint(uint32_t(v));
        PendingSkip = S.Uc;
        return;  // the fallback starts after this word
    } else if (w == "emdash") {
        if (!EatFallback()) AddCodePoint(0x2014);
    } else if (w == "endash") {
        if (!EatFallback()) AddCodePoint(0x2013);
    } else if (w == "bullet") {
        if (!EatFallback()) AddCodePoint(0x2022);
    } else if (w == "lquote") {
        if (!EatFallback()) AddCodePoint(0x2018);
    } else if (w == "rquote") {
        if (!EatFallback()) AddCodePoint(0x2019);
    } else if (w == "ldblquote") {
        if (!EatFallback()) AddCodePoint(0x201C);
    } else if (w == "rdblquote") {
        if (!EatFallback()) AddCodePoint(0x201D);
    } else {
        EatFallback();  // any other word counts as one fallback character
    }
}

std::vector<TRtfLine> TRtfReader::Read() {
    // Leading blanks and a UTF-8 mark are tolerated; then it must be RTF.
    while (P < D.size() && (D[P] == ' ' || D[P] == '\r' || D[P] == '\n' || D[P] == '\t')) ++P;
    if (D.substr(P, 3) == "\xEF\xBB\xBF") P += 3;
    if (D.substr(P, 5) != "{\\rtf" || P + 5 >= D.size() || D[P + 5] < '0' || D[P + 5] > '9')
        throw ERtfError("The file is not rich text (RTF).");
    bool started = false;
    while (P < D.size()) {
        char c = D[P];
        if (c == '{') {
            ++P;
            if (started) {
                if (int(Stack.size()) >= RtfMaxDepth) throw ERtfError("The rich text nests groups too deeply.");
                Stack.push_back(S);
            }
            started = true;
            PendingSkip = 0;
        } else if (c == '}') {
            ++P;
            PendingSkip = 0;
            if (Stack.empty()) break;  // the document's own group is closed
            S = Stack.back();
            Stack.pop_back();
        } else if (c == '\\') {
            ++P;
            if (P >= D.size()) break;
            char n = D[P];
            if ((n >= 'a' && n <= 'z') || (n >= 'A' && n <= 'Z')) {
                size_t start = P;
                while (P < D.size() && P - start < 32 && ((D[P] >= 'a' && D[P] <= 'z') || (D[P] >= 'A' && D[P] <= 'Z'))) ++P;
                std::string_view word = D.substr(start, P - start);
                bool neg = false, hasParam = false;
                int64_t param = 0;
                if (P < D.size() && D[P] == '-' && P + 1 < D.size() && D[P + 1] >= '0' && D[P + 1] <= '9') {
                    neg = true;
                    ++P;
                }
                int digits = 0;
                while (P < D.size() && D[P] >= '0' && D[P] <= '9') {
                    if (digits < 10) param = param * 10 + (D[P] - '0');
                    ++digits;
                    ++P;
                }
                hasParam = digits > 0;
                if (neg) param = -param;
                if (P < D.size() && D[P] == ' ') ++P;  // the delimiter belongs to the word
                ControlWord(word, hasParam, param);
            } else if (n == '\'') {
                ++P;
                auto hexv = [](char h) -> int {
                    if (h >= '0' && h <= '9') return h - '0';
                    if (h >= 'a' && h <= 'f') return h - 'a' + 10;
                    if (h >= 'A' && h <= 'F') return h - 'A' + 10;
                    return -1;
                };
                int h1 = P < D.size() ? hexv(D[P]) : -1;
                int h2 = P + 1 < D.size() ? hexv(D[P + 1]) : -1;
                if (h1 >= 0 && h2 >= 0) {
                    P += 2;
                    if (!EatFallback()) AddByte(static_cast<unsigned char>(h1 * 16 + h2));
                }
            } else {
                ++P;
                if (n == '*') {
                    // An optional destination: nothing here shows it.
                    S.Skip = true;
                } else if (n == '\\' || n == '{' || n == '}') {
                    if (!EatFallback()) AddCodePoint(uint32_t(static_cast<unsigned char>(n)));
                } else if (n == '~') {
                    if (!EatFallback()) AddCodePoint(0xA0);
                } else if (n == '_') {
                    if (!EatFallback()) AddCodePoint(0x2011);
                } else if (n == '\r' || n == '\n') {
                    if (!EatFallback()) NewLine();
                } else {
                    EatFallback();
                }
            }
        } else if (c == '\r' || c == '\n') {
            ++P;
        } else {
            ++P;
            if (S.ColourTable) {
                if (c == ';') {
                    if (int(Colours.size()) < RtfMaxColours)
                        Colours.push_back(EntryHasColour ? (Red | (Green << 8) | (Blue << 16)) : -1);
                    EntryHasColour = false;
                    Red = Green = Blue = 0;
                }
                continue;
            }
            if (EatFallback()) continue;
            AddByte(static_cast<unsigned char>(c));
        }
    }
    if (Lines.size() > 1 && Lines.back().Runs.empty()) Lines.pop_back();
    else if (Lines.size() == 1 && Lines.back().Runs.empty()) Lines.clear();
    return Lines;
}

}  // namespace

std::vector<TRtfLine> RtfReadLog(std::string_view data) {
    TRtfReader r(data);
    return r.Read();
}
