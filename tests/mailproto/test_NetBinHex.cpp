#include <gtest/gtest.h>

#include "NetCoder.h"
#include "PythonPeer.h"

namespace {

std::string BE32(uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
std::string CRC(const std::string &s) {
    uint16_t c = BinHexCRC(reinterpret_cast<const uint8_t *>(s.data()), s.size());
    return {char(c >> 8), char(c)};
}

// The 8-bit stream of one file; dataRaw/resRaw go in as they stand (they may
// hold run codes), the lengths are the expanded ones.
std::string Stream(const std::string &name, const std::string &dataRaw, uint32_t dataLen,
                   const std::string &resRaw, uint32_t resLen) {
    std::string h = std::string(1, char(name.size())) + name + std::string(1, '\0') + std::string(8, ' ') +
                    std::string(2, '\0') + BE32(dataLen) + BE32(resLen);
    return h + CRC(h) + dataRaw + std::string("\0\0", 2) + resRaw + std::string("\0\0", 2);
}

std::string Frame(std::string raw) {
    while (raw.size() % 3) raw.push_back('\0');
    return ":" + TNetEncoderBinHex4().EncodeString(raw) + ":";
}

// The coded text cut into lines of 64 characters.
std::string Lines64(const std::string &framed) {
    std::string out;
    for (size_t i = 0; i < framed.size(); i += 64) out += framed.substr(i, 64) + "\r\n";
    return out;
}

std::string Decode(const std::string &text) {
    return TNetDecoderBinHex4().DecodeString(text);
}

}  // namespace

TEST(BinHex, RunLengthCodesAndForkChoice) {
    for (auto [stream, out] : std::vector<std::pair<std::string, std::string>>{
             {Stream("f", "A\x90\x04", 4, "", 0), "AAAA"},
             {Stream("f", "A\x90\x01", 1, "", 0), "A"},
             {Stream("f", std::string("\x90\x00", 2), 1, "", 0), "\x90"},
             {Stream("f", std::string("\x90\x00\x90\x03", 4), 3, "", 0), "\x90\x90\x90"},
             {Stream("r", "", 0, "xyz", 3), "xyz"},         // empty data fork: the resource fork
             {Stream("b", "data", 4, "res", 3), "data"}})  // both filled: the data fork alone
        EXPECT_EQ(Decode(Frame(stream)), out);
}

TEST(BinHex, FramingVariants) {
    std::string framed = Frame(Stream("name.txt", "hello world", 11, "", 0));
    std::string withLines = Lines64(framed);
    EXPECT_EQ(Decode(framed), "hello world");
    EXPECT_EQ(Decode(std::string(NetBinHexHeaderLine) + "\r\n" + withLines), "hello world");
    EXPECT_EQ(Decode("junk before " + withLines), "hello world");
    // Two blocks: only the first counts.
    EXPECT_EQ(Decode(framed + "\r\n" + Frame(Stream("x", "other", 5, "", 0))), "hello world");
    EXPECT_EQ(Decode(""), "");
    EXPECT_EQ(Decode("::"), "");
}

TEST(BinHex, MissingColons) {
    for (auto [text, where] : {std::pair{"no colon at all", "starting"}, std::pair{"(header)\r\n:abc", "terminating"}}) {
        try {
            Decode(text);
            ADD_FAILURE() << text;
        } catch (const ENetMissingColon &e) {
            EXPECT_EQ(e.Message(), std::string("Block passed to TNetDecoderBinHex4.Decode is missing a ") + where +
                                       " colon :");
        }
    }
}

TEST(BinHex, HostileStreamsFailCleanly) {
    // Fork length far beyond the data, in 32-bit terms wrapping past the end.
    EXPECT_THROW(Decode(Frame(Stream("f", "abc", 0xFFFFFFF0u, "", 0))), ENetRangeException);
    // A run code with nothing before it, and one with no count behind it.
    EXPECT_THROW(Decode(Frame(std::string("\x90\x05", 2))), ENetRangeException);
    EXPECT_THROW(Decode(":" + TNetEncoderBinHex4().EncodeString("ab\x90") + ":"), ENetRangeException);
    // Too short for a header.
    EXPECT_THROW(Decode(Frame("\x05" "ab")), ENetRangeException);
    // Runs of runs expand linearly; a stream that expands past the cap is refused.
    std::string runs = "A";
    for (int i = 0; i < 200000; ++i) runs += "\x90\xFF";
    EXPECT_THROW(Decode(Frame(runs)), ENetRangeException);  // expands, then the header's length is too big
}

TEST(BinHex, EncoderMatchesTheFormatByteForByte) {
    // A 300-character name is cut to 255 characters with the length byte 255.
    std::string data = std::string("ab\x90") + "c";
    TStringStream src(data);
    TMemoryStream out;
    TNetEncoderBinHex4().EncodeNamedStream(std::string(300, 'n'), src, out);
    std::string raw = Stream(std::string(255, 'n'), data, uint32_t(data.size()), "", 0);
    uint16_t dataCrc = BinHexCRC(reinterpret_cast<const uint8_t *>(data.data()), data.size());
    raw.replace(raw.size() - 4, 2, std::string{char(dataCrc >> 8), char(dataCrc)});
    std::string stuffed;
    for (char c : raw) {
        stuffed.push_back(c);
        if (uint8_t(c) == 0x90) stuffed.push_back('\0');
    }
    EXPECT_EQ(out.DataString(), std::string(NetBinHexHeaderLine) + "\r\n" + Lines64(Frame(stuffed)));
    EXPECT_EQ(uint8_t(raw[0]), 255);
    EXPECT_EQ(Decode(out.DataString()), data);
    // A longer file with runs reads back whole.
    data.clear();
    for (int i = 0; i < 1000; ++i) data.push_back(char(i * 7));
    data += std::string(5, char(0x90));
    TStringStream longSrc(data);
    TMemoryStream longOut;
    TNetEncoderBinHex4().EncodeNamedStream("file.bin", longSrc, longOut);
    EXPECT_EQ(Decode(longOut.DataString()), data);
}

TEST(BinHex, CRCMatchesPython) {
    if (!PythonAvailable()) GTEST_SKIP();
    std::vector<std::string> in = {"", "123456789", std::string(1000, '\x90'), "hello\x00world"};
    auto py = PythonMap("import binascii,struct\ndef f(b): return struct.pack('>H', binascii.crc_hqx(b, 0))", in);
    for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(CRC(in[i]), py[i]);
}
