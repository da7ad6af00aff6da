#include "NetEMailAddress.h"

#include <algorithm>

#include "NetMailExceptions.h"
#include "SysUtils.h"

const char NetAtomChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890!#$%&'*+-/=?_`{}|~";
const char NetNameChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890!#$%&'*+-/=?_`{}|~ ";
const char NetEscapeChars[] = "\\\"";

int FindFirstOf(std::string_view set, std::string_view text) {
    size_t p = text.find_first_of(set);
    return p == std::string_view::npos ? 0 : int(p) + 1;
}

int FindFirstNotOf(std::string_view set, std::string_view text) {
    if (set.empty()) return text.empty() ? 0 : 1;
    size_t p = text.find_first_not_of(set);
    return p == std::string_view::npos ? 0 : int(p) + 1;
}

std::string TrimAllOf(std::string_view set, std::string_view text) {
    size_t b = text.find_first_not_of(set);
    if (b == std::string_view::npos) return {};
    size_t e = text.find_last_not_of(set);
    return std::string(text.substr(b, e - b + 1));
}

namespace {
// A set of characters, each looked up in one step: find_first_of and
// find_first_not_of call memchr on their set for every character of the
// text, and the addresses of every header read are parsed and shown.
class TCharSet {
public:
    constexpr explicit TCharSet(std::string_view chars) {
        for (char c : chars) FIn[uint8_t(c)] = true;
    }
    // Where the first character of the set stands in s from pos; npos
    // when none does.
    size_t FindIn(std::string_view s, size_t pos = 0) const {
        for (; pos < s.size(); ++pos)
            if (FIn[uint8_t(s[pos])]) return pos;
        return std::string_view::npos;
    }
    // As FindFirstNotOf: 1-based, 0 when every character is in the set.
    int FirstNotIn(std::string_view s) const {
        for (size_t p = 0; p < s.size(); ++p)
            if (!FIn[uint8_t(s[p])]) return int(p) + 1;
        return 0;
    }

private:
    bool FIn[256] = {};
};

const TCharSet &AtomChars() {
    static const TCharSet set(NetAtomChars);
    return set;
}
const TCharSet &NameChars() {
    static const TCharSet set(NetNameChars);
    return set;
}

// Upper is Text upper-cased (ASCII letters only), as UpperCase would give,
// without making that copy for every address shown.
bool IsUpperCaseOf(std::string_view Upper, std::string_view Text) {
    return Upper.size() == Text.size() && std::equal(Upper.begin(), Upper.end(), Text.begin(), [](char u, char t) {
               return u == ((t >= 'a' && t <= 'z') ? char(t - 32) : t);
           });
}

std::string Escaped(std::string_view s) {
    std::string r;
    for (char c : s) {
        if (c == '\\' || c == '"') r.push_back('\\');
        r.push_back(c);
    }
    return r;
}
}  // namespace

// ---------------------------------------------------------------------------

void TNetEMailAddressItem::AppendAddressPart(std::string &out) const {
    if (Address.empty()) {
        if (!Name.empty()) out += "<>";
        return;
    }
    const size_t at = Address.rfind('@');
    const std::string_view local = std::string_view(Address).substr(0, at);
    const std::string_view domain = at == std::string::npos ? std::string_view() : std::string_view(Address).substr(at);
    const int bad = AtomChars().FirstNotIn(local);
    if (bad != 0 && local[size_t(bad - 1)] != '.') {
        out += "<\"";
        out += Escaped(local);
        out += '"';
        out += domain;
        out += '>';
    } else if (Name.empty()) {
        out += Address;
    } else {
        out += '<';
        out += Address;
        out += '>';
    }
}

std::string TNetEMailAddressItem::Text() const {
    // Made in one string: the text of an address is made several times for
    // every header read.
    std::string out;
    out.reserve(Name.size() + Address.size() + 8);
    if (!Name.empty() && !IsUpperCaseOf(Name, Address)) {
        if (NameChars().FirstNotIn(Name) == 0) {
            out += Name;
        } else {
            out += '"';
            out += Escaped(Name);
            out += '"';
        }
        out += ' ';
    }
    AppendAddressPart(out);
    return out;
}

std::string TNetEMailAddressItem::User() const {
    size_t at = Address.rfind('@');
    return at == std::string::npos ? std::string() : Address.substr(0, at);
}

std::string TNetEMailAddressItem::Domain() const {
    size_t at = Address.rfind('@');
    return at == std::string::npos ? std::string() : Address.substr(at + 1);
}

void TNetEMailAddressItem::SetUser(std::string_view value) {
    size_t at = Address.find('@');
    std::string domain = at == std::string::npos ? Address : Address.substr(at + 1);
    Address = std::string(value) + "@" + domain;
}

void TNetEMailAddressItem::SetDomain(std::string_view value) {
    size_t at = Address.find('@');
    std::string user = at == std::string::npos ? Address : Address.substr(0, at);
    Address = user + "@" + std::string(value);
}

void TNetEMailAddressItem::SetText(std::string_view text) {
    Address.clear();
    Name.clear();
    std::string s = Trim(text);
    if (s.empty()) return;
    // What ends a run of the text, by where the run stands.
    static constexpr TCharSet commentStops("()\\"), quotedStops("\"\\"), bracketStops(".>("), afterAtStops(".( <"),
        addressStops("\"(@>"), nameStops("(\"< @\t");
    if (nameStops.FindIn(s) == std::string::npos) {
        Address = s;
        return;
    }
    bool quoted = false, atSeen = false, brackets = false, inAddress = false;
    int depth = 0;
    size_t quoteMark = 0;  // length of the target when the quoted run began
    size_t pos = 0;  // the handled front of s is cut by moving pos
    for (;;) {
        const TCharSet &stops = depth >= 1  ? commentStops
                              : quoted     ? quotedStops
                              : atSeen     ? (brackets ? bracketStops : afterAtStops)
                              : inAddress  ? addressStops
                                           : nameStops;
        size_t p = stops.FindIn(s, pos);
        if (p == std::string::npos) {
            // An address whose ">" is missing still keeps its last part.
            if (inAddress) Address += Trim(std::string_view(s).substr(pos));
            break;
        }
        std::string_view before = std::string_view(s).substr(pos, p - pos);
        char c = s[p];
        switch (c) {
        case '(':
            ++depth;
            if (!before.empty()) {
                if (inAddress)
                    Address += Trim(before);
                else if (depth == 1)
                    Name += before;
            }
            pos = p + 1;
            break;
        case ')':
            if (depth > 0) --depth;
            pos = p + 1;
            break;
        case '"':
            if (!quoted) {
                // Text before a quote in mid-word stays where it belongs.
                if (!before.empty()) {
                    if (inAddress)
                        Address += before;
                    else
                        Name += before;
                }
                quoted = true;
                quoteMark = inAddress ? Address.size() : Name.size();
            } else {
                // Blanks at the run's edges go; the blank after an escaped
                // quote inside it is part of the name ("B \"the\" one").
                std::string &target = inAddress ? Address : Name;
                target += target.size() > quoteMark ? TrimRight(before) : Trim(before);
                quoted = false;
            }
            pos = p + 1;
            break;
        case ' ':
        case '\t':
            if (p == pos) {
                // The blank after a quoted word still parts it from the
                // next word of the name.
                if (!brackets && !inAddress && !atSeen && !Name.empty() && Name.back() != ' ' && Name.back() != '\t')
                    Name.push_back(' ');
                pos = p + 1;
            } else if (atSeen) {
                Address += Trim(before);
                pos = p + 1;
            } else {
                Name.append(before) += c;
                pos = p + 1;
            }
            break;
        case '<':
            if (!brackets && inAddress) {
                // "a@b.c <a@b.c>": what looked like the address was the name.
                Name += Address;
                Address.clear();
                atSeen = false;
            }
            Name += before;
            Name = Trim(Name);
            brackets = inAddress = true;
            pos = p + 1;
            break;
        case '>':
            inAddress = atSeen = false;
            Address += Trim(before);
            pos = p + 1;
            break;
        case '@':
            atSeen = true;
            if (inAddress) {
                Address.append(before) += '@';
            } else if (!brackets) {
                inAddress = true;
                Address.append(before) += '@';
            } else {
                throw ENetEmailParseError("@ Outside address");
            }
            pos = p + 1;
            break;
        case '.':
            if (!brackets) {
                Address.append(before) += '.';
                pos = p + 1;
            } else {
                Address += Trim(before) + ".";
                pos = p + 1;
                while (pos < s.size() && uint8_t(s[pos]) <= ' ') ++pos;
            }
            break;
        case '\\': {
            std::string escaped = p + 1 < s.size() ? std::string(1, s[p + 1]) : std::string();
            if (quoted) {
                if (inAddress)
                    Address.append(before) += escaped;
                else
                    Name.append(before) += escaped;
            }
            pos = std::min(s.size(), p + 2);
            break;
        }
        }
    }
    // A name before a bare address keeps no blank at its end.
    Name = Trim(Name);
}

// ---------------------------------------------------------------------------

TNetEMailAddressItem &TNetEMailAddressList::Add() {
    FItems.push_back(std::make_unique<TNetEMailAddressItem>());
    return *FItems.back();
}

void TNetEMailAddressList::Assign(const TNetEMailAddressList &other) {
    if (&other == this) return;
    Clear();
    for (auto &i : other.FItems) Add().Assign(*i);
}

std::string TNetEMailAddressList::EMailAddresses() const {
    std::string r;
    for (auto &i : FItems) {
        if (!r.empty()) r += ", ";
        r += i->Text();
    }
    return r;
}

void TNetEMailAddressList::SetEMailAddresses(std::string_view value) {
    Clear();
    std::string s = Trim(value);
    if (s.empty()) return;
    auto addItem = [&](const std::string &text) {
        TNetEMailAddressItem &item = Add();
        item.SetText(text);  // which trims it
        // Its text would be empty (never "<>": a name or an address shows):
        // no entry.
        if (item.Name.empty() && item.Address.empty()) FItems.pop_back();
    };
    // What ends a run of the list, by where the run stands.
    static constexpr TCharSet commentStops("(\\)"), quotedStops("\"\\"), entryStops(":;(\",");
    // Blanks part nothing at this level (they go with the address they
    // stand in), so an address without these marks is one entry.
    if (entryStops.FindIn(s) == std::string::npos) {
        addItem(s);
        return;
    }
    std::string acc;
    int depth = 0;
    bool quoted = false;
    size_t pos = 0;
    for (;;) {
        const TCharSet &stops = depth > 0 ? commentStops : quoted ? quotedStops : entryStops;
        size_t p = stops.FindIn(s, pos);
        if (p == std::string::npos) break;
        std::string_view before = std::string_view(s).substr(pos, p - pos);
        char c = s[p];
        switch (c) {
        case ',':
            acc += before;
            addItem(acc);
            acc.clear();
            pos = p + 1;
            break;
        case ':':
            acc.clear();
            pos = p + 1;
            break;
        case ';':
            acc += before;
            if (!Trim(acc).empty()) {
                addItem(acc);
                acc.clear();
            }
            pos = p + 1;
            break;
        case '\\':
            acc += before;
            acc.push_back('\\');
            if (p + 1 < s.size()) acc.push_back(s[p + 1]);
            pos = std::min(s.size(), p + 2);
            break;
        case '(':
        case ')':
            depth += c == '(' ? 1 : (depth > 0 ? -1 : 0);
            acc.append(before) += c;
            pos = p + 1;
            break;
        case '"':
            acc.append(before) += c;
            quoted = !quoted;
            pos = p + 1;
            break;
        }
    }
    std::string rest = s.substr(std::min(pos, s.size()));
    if (Trim(acc).empty() && Trim(rest).empty()) return;
    acc += rest;
    addItem(acc);
}
