#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "NetCoder.h"
#include "PythonPeer.h"
#include "TestSupport.h"

namespace {

std::string RandomBytes(std::mt19937 &rng, size_t n, const std::string &alphabet = {}) {
    std::string s(n, '\0');
    for (auto &c : s)
        c = alphabet.empty() ? char(rng() & 0xFF) : alphabet[rng() % alphabet.size()];
    return s;
}

// Inputs that exercise group and line limits: every length near a multiple
// of 3, 45, 57 and 76, plus random texts heavy in blanks, line ends and "=".
std::vector<std::string> EdgeInputs() {
    std::mt19937 rng(20261208);
    std::vector<std::string> v;
    for (size_t n : {0, 1, 2, 3, 4, 5, 44, 45, 46, 56, 57, 58, 73, 74, 75, 76, 77, 151, 1000})
        v.push_back(RandomBytes(rng, n));
    const std::string textish = "ab =.\t \r\n\r\nxyz\xE9\xFF";
    for (int i = 0; i < 60; ++i) v.push_back(RandomBytes(rng, rng() % 300, textish));
    v.push_back(std::string(200, ' ') + "\r\n");
    v.push_back(".leading dot\r\n.again");
    v.push_back("ends with blank ");
    v.push_back("ends with =");
    return v;
}

}  // namespace

TEST(Base64, MatchesPythonBothWays) {
    if (!PythonAvailable()) GTEST_SKIP() << "python3 missing";
    auto inputs = EdgeInputs();
    std::vector<std::string> ours;
    for (auto &s : inputs) ours.push_back(TNetEncoderMIME().EncodeString(s));
    auto pyDecoded = PythonMap("import base64\ndef f(b): return base64.b64decode(b, validate=True)", ours);
    auto pyEncoded = PythonMap("import base64\ndef f(b): return base64.encodebytes(b)", inputs);
    for (size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_EQ(pyDecoded[i], inputs[i]) << "case " << i;
        // Python's form has a line end every 76 characters.
        EXPECT_EQ(TNetDecoderMIME().DecodeString(pyEncoded[i]), inputs[i]) << "case " << i;
    }
}

TEST(Base64, CoreutilsOutputDecodes) {
    TempDir dir;
    std::mt19937 rng(7);
    std::string data = RandomBytes(rng, 100000);
    WriteTestFile(dir.File("in"), data);
    ASSERT_EQ(std::system(("base64 " + dir.File("in") + " >" + dir.File("out")).c_str()), 0);
    EXPECT_EQ(TNetDecoderMIME().DecodeString(ReadFileToString(dir.File("out"))), data);
}

TEST(Base64, PaddingAndPartialGroups) {
    EXPECT_EQ(TNetEncoderMIME().EncodeString("a"), "YQ==");
    EXPECT_EQ(TNetEncoderMIME().EncodeString("ab"), "YWI=");
    EXPECT_EQ(TNetEncoderMIME().EncodeString("abc"), "YWJj");
    // Three characters left at the end decode to two bytes; two to one.
    EXPECT_EQ(TNetDecoderMIME().DecodeString("YWI"), "ab");
    EXPECT_EQ(TNetDecoderMIME().DecodeString("YQ"), "a");
    EXPECT_EQ(TNetDecoderMIME().DecodeString("Y"), "");
    // Fill in mid-stream completes that group, the next group goes on.
    EXPECT_EQ(TNetDecoderMIME().DecodeString("YQ==YWJj"), "aabc");
}

TEST(Base64, SplitAtAnyPointDecodesTheSame) {
    std::mt19937 rng(11);
    std::string data = RandomBytes(rng, 301);
    std::string coded = TNetEncoderMIME().EncodeString(data);
    for (size_t cut1 = 0; cut1 < coded.size(); cut1 += 7) {
        size_t cut2 = std::min(coded.size(), cut1 + 1 + rng() % 50);
        TMemoryStream out;
        TNetDecoderMIMELineByLine d;
        d.DecodeBegin(out);
        d.Decode(coded.substr(0, cut1));
        d.Decode(coded.substr(cut1, cut2 - cut1));
        d.Decode(coded.substr(cut2));
        d.DecodeEnd();
        ASSERT_EQ(out.DataString(), data) << cut1 << " " << cut2;
    }
}

TEST(Base64, EightBitAndForeignCharactersAreSkipped) {
    // Spam carries 8-bit bytes and NULs inside base64 bodies.
    std::string coded("YW\x80Jj\xFF\0ZGVm", 11);
    EXPECT_EQ(TNetDecoderMIME().DecodeString(coded), "abcdef");
    EXPECT_EQ(TNetDecoderMIME().DecodeString("YW Jj\r\nZG*Vm"), "abcdef");
}

TEST(QuotedPrintable, MatchesPythonBothWays) {
    if (!PythonAvailable()) GTEST_SKIP() << "python3 missing";
    auto inputs = EdgeInputs();
    std::vector<std::string> ours;
    for (auto &s : inputs) ours.push_back(TNetEncoderQuotedPrintable().EncodeString(s));
    auto pyDecoded = PythonMap("import binascii\ndef f(b): return binascii.a2b_qp(b)", ours);
    // Python's encoder leaves a blank before CR LF unprotected, so its side
    // gets texts with LF line ends.
    std::vector<std::string> lfInputs;
    for (auto s : inputs) {
        s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
        lfInputs.push_back(s);
    }
    auto pyEncoded = PythonMap("import binascii\ndef f(b): return binascii.b2a_qp(b)", lfInputs);
    auto pyRoundTrip = PythonMap("import binascii\ndef f(b): return binascii.a2b_qp(b)", pyEncoded);
    for (size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_EQ(pyDecoded[i], inputs[i]) << "case " << i << ": " << ours[i];
        EXPECT_EQ(TNetDecoderQuotedPrintable().DecodeString(pyEncoded[i]), pyRoundTrip[i]) << "case " << i;
    }
}

TEST(QuotedPrintable, EncoderKeepsLinesShortAndSafe) {
    std::mt19937 rng(3);
    for (int i = 0; i < 50; ++i) {
        std::string data = RandomBytes(rng, rng() % 400, "abc .=\t\xE4\r\n");
        std::string coded = TNetEncoderQuotedPrintable().EncodeString(data);
        size_t start = 0;
        while (start < coded.size()) {
            size_t e = coded.find("\r\n", start);
            if (e == std::string::npos) e = coded.size();
            std::string line = coded.substr(start, e - start);
            EXPECT_LE(line.size(), 76u) << line;
            if (!line.empty()) {
                EXPECT_NE(line[0], '.') << coded;
                EXPECT_NE(line.back(), ' ');
                EXPECT_NE(line.back(), '\t');
            }
            start = e + 2;
        }
        EXPECT_EQ(TNetDecoderQuotedPrintable().DecodeString(coded), data);
    }
}

TEST(QuotedPrintable, DecoderEdgeCases) {
    TNetDecoderQuotedPrintable d;
    EXPECT_EQ(d.DecodeString("a=3Db=3d"), "a=b=");
    EXPECT_EQ(d.DecodeString("soft=\r\nbreak"), "softbreak");
    EXPECT_EQ(d.DecodeString("soft=  \r\nbreak"), "softbreak");    // blanks after "=" go first
    EXPECT_EQ(d.DecodeString("trail   \r\nx"), "trail\r\nx");
    EXPECT_EQ(d.DecodeString("one digit =A"), "one digit \x0A");
    EXPECT_EQ(d.DecodeString("end ="), "end ");
    EXPECT_EQ(d.DecodeString("=Zx"), "Zx");
    EXPECT_EQ(d.DecodeString("="), "");
}

TEST(UUE, MatchesPythonBothWays) {
    if (!PythonAvailable()) GTEST_SKIP() << "python3 missing";
    auto inputs = EdgeInputs();
    std::vector<std::string> lines;  // one coded line of up to 45 bytes each
    std::vector<std::string> chunks;
    for (auto &s : inputs) {
        std::string chunk = s.substr(0, 45);
        chunks.push_back(chunk);
        lines.push_back(TNetEncoderUUE().EncodeString(chunk));
    }
    auto pyDecoded = PythonMap("import binascii\ndef f(b): return binascii.a2b_uu(b)", lines);
    auto pySpaces = PythonMap("import binascii\ndef f(b): return binascii.b2a_uu(b)", chunks);
    auto pyBackticks = PythonMap("import binascii\ndef f(b): return binascii.b2a_uu(b, backtick=True)", chunks);
    for (size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(pyDecoded[i], chunks[i]) << lines[i];
        EXPECT_EQ(TNetDecoderUUE().DecodeString(pySpaces[i]), chunks[i]);
        EXPECT_EQ(TNetDecoderUUE().DecodeString(pyBackticks[i]), chunks[i]);
    }
}

TEST(UUE, ShortLinesNeverReadPastTheInput) {
    // "M" claims 45 bytes; the line holds four characters.
    std::string out = TNetDecoderUUE().DecodeString("M86)C");
    EXPECT_EQ(out.size(), 45u);
    EXPECT_EQ(out.substr(0, 3), "abc");
    EXPECT_EQ(TNetDecoderUUE().DecodeString("#"), std::string(3, '\0'));
    EXPECT_EQ(TNetEncoderUUE().EncodeString(""), "`");
}

TEST(XXE, KnownLineAndRoundTrip) {
    EXPECT_EQ(TNetEncoderXXE().EncodeString("Cat"), "1Eq3o");
    EXPECT_EQ(TNetDecoderXXE().DecodeString("1Eq3o"), "Cat");
    std::mt19937 rng(5);
    for (int i = 0; i < 30; ++i) {
        std::string data = RandomBytes(rng, rng() % 200);
        EXPECT_EQ(TNetDecoderXXE().DecodeString(TNetEncoderXXE().EncodeString(data)), data);
    }
}
