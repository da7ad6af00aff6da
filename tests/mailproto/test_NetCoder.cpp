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
    for (const char *s : {".leading dot\r\n.again", "ends with blank ", "ends with ="}) v.push_back(s);
    v.push_back(std::string(200, ' ') + "\r\n");
    return v;
}

// What we code, Python decodes back to the input; what Python codes, we
// decode back to the input too (given pyInputs instead: as Python does).
template <class Enc, class Dec>
void MatchesPython(const std::vector<std::string> &inputs, const std::string &pyDecode, const std::string &pyEncode,
                   const std::vector<std::string> &pyInputs = {}) {
    std::vector<std::string> ours;
    for (auto &s : inputs) ours.push_back(Enc().EncodeString(s));
    auto decoded = PythonMap(pyDecode, ours), theirs = PythonMap(pyEncode, pyInputs.empty() ? inputs : pyInputs);
    auto back = pyInputs.empty() ? inputs : PythonMap(pyDecode, theirs);
    for (size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_EQ(decoded[i], inputs[i]) << "case " << i << ": " << ours[i];
        EXPECT_EQ(Dec().DecodeString(theirs[i]), back[i]) << "case " << i << ": " << theirs[i];
    }
}

}  // namespace

TEST(Base64, MatchesPythonAndCoreutils) {
    if (PythonAvailable()) {
        // Python's form has a line end every 76 characters.
        MatchesPython<TNetEncoderMIME, TNetDecoderMIME>(EdgeInputs(), "import base64\ndef f(b): return base64.b64decode(b, validate=True)",
                                                        "import base64\ndef f(b): return base64.encodebytes(b)");
    }
    TempDir dir;
    std::mt19937 rng(7);
    std::string data = RandomBytes(rng, 100000);
    WriteTestFile(dir.File("in"), data);
    ASSERT_EQ(std::system(("base64 " + dir.File("in") + " >" + dir.File("out")).c_str()), 0);
    EXPECT_EQ(TNetDecoderMIME().DecodeString(ReadFileToString(dir.File("out"))), data);
}

TEST(Base64, PartialGroupsSplitsAndForeignCharacters) {
    EXPECT_EQ(TNetEncoderMIME().EncodeString("a"), "YQ==");
    EXPECT_EQ(TNetEncoderMIME().EncodeString("ab"), "YWI=");
    for (auto [in, out] : std::vector<std::pair<std::string, std::string>>{
             // Three characters left at the end decode to two bytes; two to one.
             {"YWI", "ab"}, {"YQ", "a"}, {"Y", ""},
             // Fill in mid-stream completes that group, the next group goes on.
             {"YQ==YWJj", "aabc"},
             // Spam carries 8-bit bytes and NULs inside base64 bodies.
             {std::string("YW\x80Jj\xFF\0ZGVm", 11), "abcdef"}, {"YW Jj\r\nZG*Vm", "abcdef"}})
        EXPECT_EQ(TNetDecoderMIME().DecodeString(in), out) << in;
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

TEST(QuotedPrintable, MatchesPythonBothWays) {
    if (!PythonAvailable()) GTEST_SKIP() << "python3 missing";
    // Python's encoder leaves a blank before CR LF unprotected, so its side
    // gets texts with LF line ends.
    auto inputs = EdgeInputs(), lfInputs = inputs;
    for (auto &s : lfInputs) s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
    MatchesPython<TNetEncoderQuotedPrintable, TNetDecoderQuotedPrintable>(
        inputs, "import binascii\ndef f(b): return binascii.a2b_qp(b)",
        "import binascii\ndef f(b): return binascii.b2a_qp(b)", lfInputs);
}

TEST(QuotedPrintable, EncoderKeepsLinesShortAndSafe) {
    std::mt19937 rng(3);
    for (int i = 0; i < 50; ++i) {
        std::string data = RandomBytes(rng, rng() % 400, "abc .=\t\xE4\r\n");
        std::string coded = TNetEncoderQuotedPrintable().EncodeString(data);
        for (size_t start = 0, e; start < coded.size(); start = e + 2) {
            e = std::min(coded.find("\r\n", start), coded.size());
            std::string line = coded.substr(start, e - start);
            EXPECT_LE(line.size(), 76u) << line;
            EXPECT_TRUE(line.empty() || (line[0] != '.' && line.back() != ' ' && line.back() != '\t')) << coded;
        }
        EXPECT_EQ(TNetDecoderQuotedPrintable().DecodeString(coded), data);
    }
}

TEST(QuotedPrintable, DecoderEdgeCases) {
    for (auto [in, out] : std::vector<std::pair<const char *, const char *>>{
             {"a=3Db=3d", "a=b="}, {"soft=\r\nbreak", "softbreak"},
             {"soft=  \r\nbreak", "softbreak"},  // blanks after "=" go first
             {"trail   \r\nx", "trail\r\nx"}, {"one digit =A", "one digit \x0A"}, {"end =", "end "},
             {"=Zx", "Zx"}, {"=", ""}})
        EXPECT_EQ(TNetDecoderQuotedPrintable().DecodeString(in), out) << in;
}

TEST(UUE, MatchesPythonBothWays) {
    if (!PythonAvailable()) GTEST_SKIP() << "python3 missing";
    std::vector<std::string> chunks;  // one coded line of up to 45 bytes each
    for (auto &s : EdgeInputs()) chunks.push_back(s.substr(0, 45));
    for (const char *backtick : {"False", "True"})
        MatchesPython<TNetEncoderUUE, TNetDecoderUUE>(
            chunks, "import binascii\ndef f(b): return binascii.a2b_uu(b)",
            std::string("import binascii\ndef f(b): return binascii.b2a_uu(b, backtick=") + backtick + ")");
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
    std::mt19937 rng(5);
    for (int i = 0; i < 30; ++i) {
        std::string data = RandomBytes(rng, rng() % 200);
        EXPECT_EQ(TNetDecoderXXE().DecodeString(TNetEncoderXXE().EncodeString(data)), data);
    }
}
