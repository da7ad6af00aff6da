#include "NetReplyIMAP4.h"

#include <algorithm>
#include <cstring>

#include "NetMessage.h"
#include "SysUtils.h"

const char *const IMAP4Commands[25] = {
    "CAPABILITY", "NOOP", "LOGOUT", "AUTHENTICATE", "LOGIN", "SELECT", "EXAMINE", "CREATE", "DELETE",
    "RENAME", "SUBSCRIBE", "UNSUBSCRIBE", "LIST", "LSUB", "STATUS", "APPEND", "CHECK", "CLOSE",
    "EXPUNGE", "SEARCH", "FETCH", "STORE", "COPY", "UID", "X"};

const char *const IMAP4FetchDataItem[16] = {
    "ALL", "BODY", "BODY[%s]<%s>", "BODY.PEEK[]", "BODYSTRUCTURE", "ENVELOPE", "FAST", "FLAGS", "FULL",
    "INTERNALDATE", "RFC822", "RFC822.HEADER", "RFC822.SIZE", "RFC822.TEXT", "HEADER", "UID"};

const char *const IMAP4SearchKeys[35] = {
    "ALL", "ANSWERED", "BCC", "BEFORE", "BODY", "CC", "DELETED", "DRAFT", "FLAGGED", "FROM", "HEADER",
    "KEYWORD", "LARGER", "NEW", "NOT", "OLD", "ON", "OR", "RECENT", "SEEN", "SENTBEFORE", "SENTON",
    "SENTSINCE", "SINCE", "SMALLER", "SUBJECT", "TEXT", "TO", "UID", "UNANSWERED", "UNDELETED",
    "UNDRAFT", "UNFLAGGED", "UNKEYWORD", "UNSEEN"};

const char *const IMAP4StoreDataItem[6] = {"FLAGS", "FLAGS.SILENT", "+FLAGS",
                                           "+FLAGS.SILENT", "-FLAGS", "-FLAGS.SILENT"};

const char *const IMAP4StatusDataItem[5] = {"MESSAGES", "RECENT", "UIDNEXT", "UIDVALIDITY", "UNSEEN"};

const char *const MessageFlagNames[6] = {"\\Answered", "\\Flagged", "\\Deleted",
                                         "\\Draft", "\\Seen", "\\Recent"};

const char *const MailBoxAttributeNames[4] = {"\\Noinferiors", "\\Noselect", "\\Marked", "\\Unmarked"};

namespace {

const char *const ValidCodes[6] = {"OK", "NO", "BAD", "PREAUTH", "BYE", "+"};

bool IsValidCodeExact(std::string_view w) {
    for (const char *c : ValidCodes)
        if (w == c) return true;
    return false;
}

// Splits off the first word at the first blank; both parts trimmed.
void SplitFirst(std::string_view line, std::string &first, std::string &rest) {
    size_t sp = line.find(' ');
    if (sp == std::string_view::npos) {
        first = Trim(line);
        rest.clear();
    } else {
        first = Trim(line.substr(0, sp));
        rest = Trim(line.substr(sp + 1));
    }
}

[[noreturn]] void Fail(const std::string &msg, std::string_view line) {
    ENetReplyIMAP4Error::Toss(msg + ", offending line: " + std::string(line));
}

[[noreturn]] void Fail(const std::string &msg) { ENetReplyIMAP4Error::Toss(msg); }

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

std::vector<std::string> Words(std::string_view s) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
        size_t j = i;
        while (j < s.size() && s[j] != ' ' && s[j] != '\t') ++j;
        if (j > i) out.emplace_back(s.substr(i, j - i));
        i = j;
    }
    return out;
}

// The text between the first "(" at or after from and its ")".
std::string ParenText(std::string_view s, size_t from = 0) {
    size_t a = s.find('(', from);
    if (a == std::string_view::npos) return std::string();
    size_t b = s.find(')', a + 1);
    if (b == std::string_view::npos) return std::string(s.substr(a + 1));
    return std::string(s.substr(a + 1, b - a - 1));
}

// A reader of the items of a FETCH response.
struct Scanner {
    std::string_view S;
    size_t P = 0;

    bool End() const { return P >= S.size(); }
    char Peek() const { return End() ? '\0' : S[P]; }
    void Blanks() {
        while (!End() && S[P] == ' ') ++P;
    }
    // An atom or number, with bracketed sections ("BODY[HEADER.FIELDS (A B)]")
    // and a partial suffix ("<0>") kept in it.
    std::string Atom() {
        size_t start = P;
        while (!End()) {
            char c = S[P];
            if (c == '[') {
                size_t close = S.find(']', P + 1);
                if (close == std::string_view::npos) Fail("Unexpected: unterminated [ in FETCH item", S);
                P = close + 1;
                continue;
            }
            if (c == ' ' || c == '(' || c == ')' || c == '{' || c == '"' || c < ' ' || c == 0x7F) break;
            ++P;
        }
        return std::string(S.substr(start, P - start));
    }
    std::string Quoted() {
        ++P;  // opening quote
        std::string out;
        while (!End()) {
            char c = S[P++];
            if (c == '"') return out;
            if (c == '\\' && !End()) c = S[P++];
            out += c;
        }
        Fail("Unexpected: unterminated quoted string in FETCH response", S);
    }
    // A balanced parenthesised list; returns its inner text.
    std::string List() {
        size_t start = ++P;
        int depth = 1;
        while (!End()) {
            char c = S[P];
            if (c == '"') {
                Quoted();
                continue;
            }
            ++P;
            if (c == '(') {
                if (++depth > 64) Fail("Unexpected: FETCH response nested too deeply", S);
            } else if (c == ')') {
                if (--depth == 0) return std::string(S.substr(start, P - 1 - start));
            }
        }
        Fail("Unexpected: unterminated list in FETCH response", S);
    }
};

int64_t ParseLiteralSize(std::string_view digits, std::string_view line) {
    if (!AllDigits(digits)) return -1;
    // No message comes near 10^15 bytes; more digits than that is an attack
    // on the arithmetic, not a size.
    if (digits.size() > 15) Fail("Unexpected: literal size out of range", line);
    int64_t v = 0;
    for (char c : digits) v = v * 10 + (c - '0');
    return v;
}

// --- UTF-8 and UTF-16 for mailbox names ------------------------------------

// The next character of a UTF-8 text; a byte that does not start valid
// UTF-8 is taken as the character of the same value.
uint32_t NextChar(std::string_view s, size_t &i) {
    auto b = [&](size_t k) { return uint8_t(s[k]); };
    uint8_t c = b(i);
    if (c < 0x80) {
        ++i;
        return c;
    }
    int len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? (c <= 0xEF ? 3 : 0) : c >= 0xC2 ? 2 : 0;
    if (len && i + size_t(len) <= s.size()) {
        uint32_t cp = c & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
        bool ok = true;
        for (int k = 1; k < len; ++k) {
            uint8_t t = b(i + size_t(k));
            if ((t & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (t & 0x3F);
        }
        if (ok && ((len == 3 && cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) ||
                   (len == 4 && cp >= 0x10000 && cp <= 0x10FFFF) || len == 2)) {
            i += size_t(len);
            return cp;
        }
    }
    ++i;
    return c;
}

const char B64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

int B64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == ',') return 63;
    return -1;
}

void EncodeRun(std::string &out, const std::vector<uint16_t> &units) {
    out += '&';
    uint32_t acc = 0;
    int bits = 0;
    for (uint16_t u : units) {
        for (int half = 1; half >= 0; --half) {
            acc = (acc << 8) | ((u >> (8 * half)) & 0xFF);
            bits += 8;
            while (bits >= 6) {
                bits -= 6;
                out += B64[(acc >> bits) & 0x3F];
            }
        }
    }
    if (bits > 0) out += B64[(acc << (6 - bits)) & 0x3F];
    out += '-';
}

bool DecodeMUTF7(std::string_view s, std::string &out) {
    out.clear();
    size_t i = 0;
    while (i < s.size()) {
        char c = s[i];
        if (uint8_t(c) < 0x20 || uint8_t(c) > 0x7E) return false;
        if (c != '&') {
            out += c;
            ++i;
            continue;
        }
        size_t end = s.find('-', i + 1);
        if (end == std::string_view::npos) return false;
        if (end == i + 1) {
            out += '&';
            i = end + 1;
            continue;
        }
        uint32_t acc = 0;
        int bits = 0;
        std::vector<uint16_t> units;
        for (size_t k = i + 1; k < end; ++k) {
            int v = B64Value(s[k]);
            if (v < 0) return false;
            acc = (acc << 6) | uint32_t(v);
            bits += 6;
            if (bits >= 16) {
                bits -= 16;
                units.push_back(uint16_t(acc >> bits));
                acc &= (1u << bits) - 1;
            }
        }
        // Left-over bits must be zero padding shorter than one unit.
        if (bits >= 6 || acc != 0 || units.empty()) return false;
        for (size_t k = 0; k < units.size(); ++k) {
            uint32_t u = units[k];
            if (u >= 0xD800 && u <= 0xDBFF) {
                if (k + 1 >= units.size() || units[k + 1] < 0xDC00 || units[k + 1] > 0xDFFF) return false;
                u = 0x10000 + ((u - 0xD800) << 10) + (units[k + 1] - 0xDC00);
                ++k;
            } else if (u >= 0xDC00 && u <= 0xDFFF) {
                return false;
            } else if (u >= 0x20 && u <= 0x7E) {
                return false;  // printable ASCII must stand as itself
            }
            AppendUtf8(out, u);
        }
        i = end + 1;
    }
    return true;
}

}  // namespace

// --- flags ----------------------------------------------------------------------

TNetMessageFlags StrToMessageFlags(std::string_view text) {
    TNetMessageFlags flags;
    for (const std::string &w : Words(text))
        for (int f = 0; f < 6; ++f)
            if (SameText(w, MessageFlagNames[f])) flags.Include(TNetMessageFlag(f));
    return flags;
}

std::string MessageFlagsToStr(const TNetMessageFlags &flags) {
    std::string out;
    for (int f = 0; f < 6; ++f)
        if (flags.Has(TNetMessageFlag(f))) {
            if (!out.empty()) out += ' ';
            out += MessageFlagNames[f];
        }
    return out;
}

// --- reply ------------------------------------------------------------------------

TNetReplyIMAP4::TNetReplyIMAP4(TNetReplies *collection, TNetReplies *replyTexts)
    : TNetReply(collection, replyTexts) {
    Clear();
}

bool TNetReplyIMAP4::CheckIfCodeIsValid(const std::string &code) {
    std::string t = Trim(code);
    if (t.empty()) return true;
    for (const char *c : ValidCodes)
        if (SameText(t, c)) return true;
    return false;
}

TStringList TNetReplyIMAP4::GetFormattedReply() { return TStringList(); }

void TNetReplyIMAP4::Clear() {
    TNetReply::Clear();
    Tag.clear();
    Extra.Clear();
}

void TNetReplyIMAP4::RaiseReplyError() { ENetReplyIMAP4Error::Toss("Default RaiseReply error"); }

bool TNetReplyIMAP4::IsTag(std::string_view word) {
    return word.size() >= 2 && word[0] == 'C' && AllDigits(word.substr(1));
}

void TNetReplyIMAP4::SetFormattedReply(const TStringList &lines) {
    Clear();
    if (lines.Count() == 0) Fail("Unexpected: Logic error, SetFormattedReply called with an empty list of parameters");
    std::string first, rest;
    for (int i = 0; i + 1 < lines.Count(); ++i) {
        const std::string &line = lines[i];
        if (line.empty()) continue;
        SplitFirst(line, first, rest);
        if (rest.empty())
            Fail("Unexpected: Non-last response line (i.e. a data line) only contained one word, instead of a * "
                 "followed by one or more words",
                 line);
        if (first != "*") Fail("Unexpected: Non-last response line (i.e. a data line) did not start with a *", line);
        Text.Add(rest);
    }
    const std::string &last = lines[lines.Count() - 1];
    if (last.empty())
        Fail("Unexpected: Response (last) line was empty instead of containing a line with a response code like OK, "
             "NO, BAD, etc");
    SplitFirst(last, first, rest);
    if (IsValidCodeExact(first)) {
        FCode = first;
        if (!rest.empty()) Text.Add(rest);
    } else if (first == "*") {
        if (rest.empty()) Fail("Unexpected: Response (last) line contained only a *", last);
        Tag = "*";
        std::string word, more;
        SplitFirst(rest, word, more);
        if (word.empty()) Fail("Unexpected: Response (last) line contained only a * (type 2)", last);
        if (!IsValidCodeExact(word))
            Fail("Unexpected: Response (last) line started with a * but next word was not a valid response like OK, "
                 "BAD, etc",
                 last);
        FCode = word;
        if (!more.empty()) Text.Add(more);
    } else if (IsTag(first)) {
        if (rest.empty())
            Fail("Unexpected: Response (last) line started with a command reference (like C41) but nothing else",
                 last);
        Tag = first;
        std::string word, more;
        SplitFirst(rest, word, more);
        if (word.empty())
            Fail("Unexpected: Logic error, line starts with a command reference (like C41) but nothing else, why was "
                 "an exception not thrown earlier?",
                 last);
        if (!IsValidCodeExact(word))
            Fail("Unexpected: Line starts with a command reference (like C41) but next word was not a valid response "
                 "like OK, BAD, etc",
                 last);
        FCode = word;
        Extra.Add(more);
    } else {
        Fail("Unexpected: Line does not start with a command reference (like C41), a *, or a valid response like OK, "
             "BAD, etc",
             last);
    }
}

void TNetReplyIMAP4::SortByExpected(const std::vector<std::string> &expected) {
    auto &items = Text.Items();
    std::vector<std::string> kept;
    for (std::string &line : items) {
        if (line.empty()) continue;
        std::string first, rest, word;
        SplitFirst(line, first, rest);
        word = first;
        if (AllDigits(first)) SplitFirst(rest, word, rest);
        if (std::find(expected.begin(), expected.end(), word) != expected.end())
            kept.push_back(std::move(line));
        else
            Extra.Add(std::move(line));
    }
    items = std::move(kept);
}

// --- collection ----------------------------------------------------------------------

TNetMessageItem::TNetMessageItem() : FMsg(NetCreate<TNetMessage>(nullptr)) {}
TNetMessageItem::~TNetMessageItem() { delete FMsg; }

TNetMessageItem &TNetMessageCollection::Items(int index) {
    if (index < 0 || index >= Count())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return *FItems[size_t(index)];
}

TNetMessageItem &TNetMessageCollection::Add() {
    FItems.push_back(std::make_unique<TNetMessageItem>());
    return *FItems.back();
}

// --- mailbox -------------------------------------------------------------------------

void TNetMailBox::InitComponent() {
    TNetInitializerComponent::InitComponent();
    Clear();
}

void TNetMailBox::Clear() {
    TotalMsgs = RecentMsgs = FirstUnseenMsg = 0;
    Flags.Clear();
    ChangeableFlags.Clear();
    Name.clear();
    UIDValidity.clear();
    UIDNext.clear();
    ReadWrite = true;
    State = 1;
    DeletedMsgs.clear();
    SearchResult.clear();
    Messages.Clear();
}

void ParseSelectResponse(TNetMailBox &mailbox, const TStringList &lines,
                         const std::function<void(const std::string &)> &onAlert) {
    mailbox.Clear();
    for (const std::string &line : lines) {
        std::vector<std::string> w = Words(line);
        if (w.empty()) continue;
        if (w.size() >= 2 && AllDigits(w[0])) {
            if (SameText(w[1], "EXISTS"))
                mailbox.TotalMsgs = StrToInt(w[0]);
            else if (SameText(w[1], "RECENT"))
                mailbox.RecentMsgs = StrToInt(w[0]);
            continue;
        }
        if (SameText(w[0], "FLAGS")) {
            mailbox.Flags = StrToMessageFlags(ParenText(line));
            continue;
        }
        // A response code in brackets, after a status word or (the text of
        // the tagged line) at the start.
        size_t codeStart;
        if (line[0] == '[')
            codeStart = 0;
        else if ((SameText(w[0], "OK") || SameText(w[0], "NO") || SameText(w[0], "BAD")) && w.size() >= 2 &&
                 w[1][0] == '[')
            codeStart = line.find('[');
        else
            continue;
        size_t codeEnd = line.find(']', codeStart);
        std::string code = line.substr(codeStart + 1, codeEnd == std::string::npos ? std::string::npos
                                                                                   : codeEnd - codeStart - 1);
        std::string name, arg;
        SplitFirst(code, name, arg);
        name = UpperCase(name);
        if (name == "UIDVALIDITY")
            mailbox.UIDValidity = arg;
        else if (name == "UIDNEXT")
            mailbox.UIDNext = arg;
        else if (name == "UNSEEN")
            mailbox.FirstUnseenMsg = StrToInt(arg);
        else if (name == "PERMANENTFLAGS")
            mailbox.ChangeableFlags = StrToMessageFlags(ParenText(code));
        else if (name == "READ-WRITE")
            mailbox.ReadWrite = true;
        else if (name == "READ-ONLY")
            mailbox.ReadWrite = false;
        else if (name == "ALERT" && onAlert)
            onAlert(line);
    }
}

void ParseExpungeResponse(TNetMailBox &mailbox, const TStringList &lines) {
    for (const std::string &line : lines) {
        std::vector<std::string> w = Words(line);
        if (w.size() < 2 || !AllDigits(w[0])) continue;
        int n = StrToIntDef(w[0], 0);
        if (SameText(w[1], "EXPUNGE") && n > 0) {
            mailbox.DeletedMsgs.push_back(n);
            if (mailbox.TotalMsgs > 0) --mailbox.TotalMsgs;
        } else if (SameText(w[1], "EXISTS")) {
            mailbox.TotalMsgs = n;
        }
    }
}

// --- FETCH line ---------------------------------------------------------------------

void TNetIMAPLineStruct::Clear() { *this = TNetIMAPLineStruct(); }

bool TNetIMAPLineStruct::ParseFetchLine(std::string_view text, std::string_view askedItem) {
    Clear();
    FAsked = UpperCase(askedItem);
    // The answer to BODY.PEEK[...] names the item without ".PEEK".
    if (StartsText("BODY.PEEK[", FAsked)) FAsked = "BODY" + FAsked.substr(9);
    IMAPFunction = FAsked;
    Scanner sc{text};
    std::string num = sc.Atom();
    if (!AllDigits(num) || num.size() > 9) return false;
    sc.Blanks();
    std::string word = sc.Atom();
    if (!SameText(word, "FETCH")) return false;
    MessageNumber = std::stoi(num);
    sc.Blanks();
    if (sc.Peek() != '(') Fail("Unexpected: FETCH response without its item list", text);
    ParseItems(text, sc.P + 1);
    return true;
}

void TNetIMAPLineStruct::ParseClosingLine(std::string_view text) { ParseItems(text, 0); }

void TNetIMAPLineStruct::ParseItems(std::string_view text, size_t pos) {
    Scanner sc{text, pos};
    ByteCount = 0;
    LiteralItem.clear();
    Complete = false;
    while (true) {
        sc.Blanks();
        if (sc.End()) Fail("Unexpected: FETCH response ended without its closing parenthesis", text);
        if (sc.Peek() == ')') {
            ++sc.P;
            Complete = true;
            return;
        }
        std::string name = UpperCase(sc.Atom());
        if (name.empty()) Fail("Unexpected: FETCH response holds no item name where one belongs", text);
        sc.Blanks();
        std::string value;
        char c = sc.Peek();
        if (c == '(') {
            value = sc.List();
            if (name == "FLAGS") {
                Flags = StrToMessageFlags(value);
                FlagsSeen = true;
            }
        } else if (c == '"') {
            value = sc.Quoted();
        } else if (c == '{') {
            size_t close = text.find('}', sc.P);
            if (close == std::string_view::npos || close + 1 != text.size())
                Fail("Unexpected: literal size not at the end of a FETCH response line", text);
            std::string_view digits = text.substr(sc.P + 1, close - sc.P - 1);
            if (!digits.empty() && digits.back() == '+') digits.remove_suffix(1);
            int64_t n = ParseLiteralSize(digits, text);
            if (n < 0) Fail("Unexpected: malformed literal size in FETCH response", text);
            ByteCount = n;
            LiteralItem = name;
            return;
        } else if (c == ')' || sc.End()) {
            Fail("Unexpected: FETCH item without a value", text);
        } else {
            value = sc.Atom();
            if (value.empty()) Fail("Unexpected: FETCH item value is malformed", text);
            if (SameText(value, "NIL")) value.clear();
            if (name == "UID") UID = value;
            if (name == "RFC822.SIZE") {
                int64_t size;
                Size = TryStrToInt64(value, size) && size >= 0 ? size : -1;
            }
        }
        if (!FAsked.empty() && name == FAsked) {
            IMAPValue = value;
            IMAPValueFound = true;
        }
    }
}

int64_t TrailingLiteralSize(std::string_view line) {
    if (line.empty() || line.back() != '}') return -1;
    size_t open = line.rfind('{');
    if (open == std::string_view::npos) return -1;
    std::string_view digits = line.substr(open + 1, line.size() - open - 2);
    if (!digits.empty() && digits.back() == '+') digits.remove_suffix(1);
    return ParseLiteralSize(digits, line);
}

void ParseParenthesisedList(std::string_view text, TStringList &words) {
    Scanner sc{text};
    while (true) {
        sc.Blanks();
        if (sc.End()) return;
        const size_t start = sc.P;
        const char c = sc.Peek();
        try {
            if (c == '"') {
                words.Add(sc.Quoted());
            } else if (c == '(') {
                words.Add("(" + sc.List() + ")");
            } else {
                std::string a = sc.Atom();
                if (a.empty()) a = std::string(1, text[sc.P++]);
                words.Add(a);
            }
        } catch (const ENetReplyIMAP4Error &) {
            // An unterminated run takes the rest of the text.
            words.Add(std::string(text.substr(c == '"' || c == '(' ? start + 1 : start)));
            return;
        }
    }
}

std::string MessageNumbersToStr(const std::vector<int> &numbers) {
    std::string out;
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (i) out += ',';
        out += IntToStr(numbers[i]);
    }
    return out;
}

// --- names ------------------------------------------------------------------------------

std::string TNetMUTF7::Encode(std::string_view name) {
    std::string out;
    std::vector<uint16_t> run;
    size_t i = 0;
    while (i < name.size()) {
        uint32_t cp = NextChar(name, i);
        if (cp >= 0x20 && cp <= 0x7E) {
            if (!run.empty()) {
                EncodeRun(out, run);
                run.clear();
            }
            out += char(cp);
            if (cp == '&') out += '-';
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            run.push_back(uint16_t(0xD800 + (cp >> 10)));
            run.push_back(uint16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            run.push_back(uint16_t(cp));
        }
    }
    if (!run.empty()) EncodeRun(out, run);
    return out;
}

std::string TNetMUTF7::Decode(std::string_view text) {
    std::string out;
    if (!DecodeMUTF7(text, out)) ENetReplyIMAP4Error::Toss("Unexpected: mailbox name is not modified UTF-7: " +
                                                           std::string(text));
    return out;
}

bool TNetMUTF7::Valid(std::string_view text) {
    std::string out;
    return DecodeMUTF7(text, out);
}

std::string IMAPQuoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}
