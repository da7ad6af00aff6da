// MD4, MD5 and HMAC-MD5 against the published test vectors and against two
// independent implementations: Python's hashlib/hmac and the openssl command.

#include "DovecotServer.h"
#include "NetHashMessageDigest.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

namespace {

std::string Lower(const TNetHash128Value &v) { return NetHashToLowerHex(v); }

std::string TestBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto &c : s) c = char(gen() & 0xff);
    return s;
}

// Lengths around the 56-byte padding limit and the 64-byte block, and one
// past the 64 KiB read buffer of the stream digest.
const size_t kLengths[] = {0, 1, 3, 55, 56, 57, 63, 64, 65, 119, 120, 128, 1000, 65535, 65536, 65537, 300000};

}  // namespace

TEST(SaslDigests, PublishedTestSuites) {
    struct Case {
        const char *text, *md4, *md5;
    } cases[] = {
        {"", "31d6cfe0d16ae931b73c59d7e0c089c0", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "bde52cb31de33e46245e05fbdbd6fb24", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "a448017aaf21d8525fc10ae87aa6729d", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "d9130a8164549fe818874806e1c7014b", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "043f8582f241db351ce627e153e7f0e4",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "e33b4ddc9c38f2199c3e7b164fcc0536", "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &c : cases) {
        TNetHashMessageDigest4 md4;
        TNetHashMessageDigest5 md5;
        EXPECT_EQ(Lower(md4.HashValue(std::string_view(c.text))), c.md4) << c.text;
        EXPECT_EQ(Lower(md5.HashValue(std::string_view(c.text))), c.md5) << c.text;
        EXPECT_EQ(Lower(NetMD4(c.text)), c.md4);
        EXPECT_EQ(Lower(NetMD5(c.text)), c.md5);
    }
    // The hexadecimal form is upper case, two digits per byte in order.
    EXPECT_EQ(TNetHash128::AsHex(NetMD5("")), "D41D8CD98F00B204E9800998ECF8427E");
}

TEST(SaslDigests, StreamsAreDigestedFromTheirPositionToTheEnd) {
    std::string data = TestBytes(200000, 7);
    TMemoryStream stream;
    stream.Write("skipped prefix", 14);
    stream.Write(data.data(), int64_t(data.size()));
    stream.SetPosition(14);
    TNetHashMessageDigest5 md5;
    EXPECT_EQ(md5.HashValue(stream), NetMD5(data));
    // The same object digests again from a fresh state.
    stream.SetPosition(14 + 100);
    EXPECT_EQ(md5.HashValue(stream), NetMD5(data.substr(100)));
    TNetHashMessageDigest4 md4;
    stream.SetPosition(stream.Size());
    EXPECT_EQ(Lower(md4.HashValue(stream)), "31d6cfe0d16ae931b73c59d7e0c089c0");
}

TEST(SaslDigests, AgreeWithPythonHashlibAndOpenssl) {
    TempDir dir;
    std::vector<std::string> files;
    for (size_t n : kLengths) {
        files.push_back(dir.File("d" + std::to_string(n)));
        WriteTestFile(files.back(), TestBytes(n, unsigned(n)));
    }
    std::string md5s, md4s;
    ASSERT_EQ(RunPython("import hashlib, sys\n"
                        "for path in sys.argv[1:]: print(hashlib.md5(open(path, 'rb').read()).hexdigest())\n",
                        files, &md5s),
              0)
        << md5s;
    // Python's hashlib has no MD4 on OpenSSL 3; its legacy provider does.
    std::vector<std::string> argv{"openssl", "dgst", "-provider", "legacy", "-provider", "default", "-md4", "-r"};
    argv.insert(argv.end(), files.begin(), files.end());
    ASSERT_EQ(RunProgram(argv, &md4s), 0) << md4s;
    std::istringstream md5Lines(md5s), md4Lines(md4s);
    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(std::to_string(kLengths[i]) + " bytes");
        std::string md5, md4;
        std::getline(md5Lines, md5);
        std::getline(md4Lines, md4);
        TFileStream f(files[i], fmOpenRead);
        TNetHashMessageDigest5 md5Digest;
        EXPECT_EQ(Lower(md5Digest.HashValue(f)), md5);
        f.SetPosition(0);
        TNetHashMessageDigest4 md4Digest;
        EXPECT_EQ(Lower(md4Digest.HashValue(f)), md4.substr(0, 32));
    }
}

TEST(SaslDigests, HmacMd5AgreesWithTheRfcsAndPythonHmac) {
    // RFC 2202 test cases 1, 2 and 6 (key longer than a block), and the
    // CRAM-MD5 example of RFC 2195.
    EXPECT_EQ(Lower(NetHMACMD5(std::string(16, '\x0b'), "Hi There")), "9294727a3638bb1c13f48ef8158bfc9d");
    EXPECT_EQ(Lower(NetHMACMD5("Jefe", "what do ya want for nothing?")), "750c783e6ab0b503eaa86e310a5db738");
    EXPECT_EQ(Lower(NetHMACMD5(std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First")),
              "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
    EXPECT_EQ(Lower(NetHMACMD5("tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>")),
              "b913a602c7eda7a495b4e6e7334d3890");

    std::string script = R"PY(
import hmac, sys
for lengths in sys.argv[1:]:
    klen, dlen = map(int, lengths.split(","))
    key = bytes((i * 7 + 3) & 255 for i in range(klen))
    data = bytes((i * 13 + 1) & 255 for i in range(dlen))
    print(hmac.new(key, data, "md5").hexdigest())
)PY";
    std::vector<std::pair<int, int>> lengths = {{0, 0}, {1, 10}, {63, 64}, {64, 64}, {65, 1}, {200, 1000}, {16, 70000}};
    std::vector<std::string> args;
    for (auto [k, d] : lengths) args.push_back(std::to_string(k) + "," + std::to_string(d));
    std::string out;
    ASSERT_EQ(RunPython(script, args, &out), 0) << out;
    std::istringstream lines(out);
    for (auto [klen, dlen] : lengths) {
        std::string key, data, expected;
        for (int i = 0; i < klen; ++i) key += char((i * 7 + 3) & 255);
        for (int i = 0; i < dlen; ++i) data += char((i * 13 + 1) & 255);
        std::getline(lines, expected);
        EXPECT_EQ(Lower(NetHMACMD5(key, data)), expected) << klen << "," << dlen;
    }
}
