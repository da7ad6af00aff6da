#include "CryptStr.h"

#include <random>

#include "Classes.h"
#include "SysUtils.h"

namespace {

const unsigned char kFiller[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    "\xC5\xC4\xD6"
    "1234567890"
    "qwertyuiop"
    "\xE5"
    "asdfghjkl"
    "\xF6\xE4"
    "zxcvbnm";
static_assert(sizeof kFiller - 1 == 68, "filler alphabet has 68 characters");

constexpr uint32_t kMult = 8627, kAdd = 31847;

std::string Cipher(const std::string &text, uint32_t startKey, bool encipher) {
    std::string out = text;
    uint16_t key = uint16_t(startKey & 0xFFFF);
    // An 8-bit count: only the first length mod 256 characters are processed.
    size_t count = text.size() % 256;
    for (size_t i = 0; i < count; ++i) {
        unsigned char in = static_cast<unsigned char>(text[i]);
        unsigned char o = static_cast<unsigned char>(in ^ (key >> 8));
        out[i] = char(o);
        unsigned char c = encipher ? o : in;
        key = uint16_t(((uint32_t(key) + c) * kMult + kAdd) & 0xFFFF);
    }
    return out;
}

// Items of a delimited text: "_" separates, and so does every character from
// 1 to space; a "_" at the very end gives a last empty item.
TStringList SplitStored(const std::string &s) {
    TStringList items;
    auto blank = [](char c) { return c != '\0' && static_cast<unsigned char>(c) <= ' '; };
    size_t p = 0, n = s.size();
    while (p < n && blank(s[p])) ++p;
    while (p < n) {
        size_t q = p;
        while (q < n && s[q] != '_' && !blank(s[q])) ++q;
        items.Add(s.substr(p, q - p));
        p = q;
        while (p < n && blank(s[p])) ++p;
        if (p < n && s[p] == '_') {
            if (p + 1 == n) items.Add("");
            do ++p;
            while (p < n && blank(s[p]));
        }
    }
    return items;
}

}  // namespace

std::string RandomText(int count) {
    thread_local std::mt19937 gen{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, 67);
    std::string out;
    for (int i = 0; i < count; ++i) out += char(kFiller[pick(gen)]);
    return out;
}

std::string EncipherText(const std::string &text, uint32_t startKey) {
    return Cipher(text, startKey, true);
}

std::string DecipherText(const std::string &text, uint32_t startKey) {
    return Cipher(text, startKey, false);
}

std::string ScrambleStr(const std::string &plain) {
    if (plain.empty()) return {};
    int n = int(plain.size());
    std::string filled = RandomText(n) + plain + RandomText(n);
    std::string c = EncipherText(filled, uint32_t(3 * n));
    std::string out = "0_";
    out.reserve(2 + c.size() * 4);
    for (char ch : c) {
        out += IntToStr(static_cast<unsigned char>(ch));
        out += '_';
    }
    return out;
}

std::string UnscrambleStr(const std::string &stored) {
    if (stored.empty()) return {};
    TStringList items = SplitStored(stored);
    std::string joined;
    for (int i = 1; i < items.Count() - 1; ++i) joined += char(StrToInt(items[i]) & 0xFF);
    std::string d = DecipherText(joined, uint32_t(joined.size()));
    size_t k = d.size() / 3;
    return d.substr(k, k);
}
