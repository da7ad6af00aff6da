// Exceptions, byte arrays, text routines, IPv6 text and date texts.
#include <gtest/gtest.h>

#include <thread>

#include "NetException.h"
#include "NetGlobal.h"
#include "NetSys.h"
#include "TransportTestUtil.h"

TEST(NetException, GracefulCloseIsSilentAndStubErrorsNameTheCause) {
    // Callers that catch either base must see a graceful close.
    EXPECT_THROW(ENetConnClosedGracefully::Toss("x"), ENetSilentException);
    EXPECT_THROW(ENetConnClosedGracefully::Toss("x"), Exception);
    // Raise routines raise the class they are called on.
    try {
        ENetReadTimeout::IfTrue(true, "Read timed out.");
        FAIL();
    } catch (const ENetException &e) {
        EXPECT_STREQ(e.ClassName(), "ENetReadTimeout");
    }
    EXPECT_EQ(ENetWinsockStubError(0, "title").Message(), "title");
    EXPECT_EQ(ENetWinsockStubError(2, "title").Message(), "No such file or directory: title");
}

TEST(NetBytes, ConversionsAndRanges) {
    EXPECT_THROW(ToBytes("ab", TNetEncoding::encNone), ENetException);
    EXPECT_EQ(ToBytes(uint16_t(0x0102)), (TNetBytes{2, 1}));
    TNetBytes b = ToBytes(uint32_t(0xAABBCCDD));
    EXPECT_EQ(BytesToUInt16(b, 2), 0xAABBu);
    // Reads and writes past the end, or offsets that wrap, are range errors.
    EXPECT_THROW(BytesToUInt16(b, 3), ENetRangeException);
    EXPECT_THROW(BytesToUInt32(b, 1), ENetRangeException);
    EXPECT_THROW(BytesToInt64(b), ENetRangeException);
    EXPECT_THROW(WriteLongWordToBytes(1, b, 1), ENetRangeException);
    TNetBytes dst(3, 0);
    CopyBytes(b, 1, dst, 0, 3);
    EXPECT_EQ(dst[0], b[1]);
    EXPECT_THROW(CopyBytes(b, 2, dst, 0, 3), ENetRangeException);
    EXPECT_THROW(CopyBytes(b, 0, dst, 1, 3), ENetRangeException);
    EXPECT_THROW(CopyBytes(b, SIZE_MAX, dst, 0, 2), ENetRangeException);

    TNetBytes t = ToBytes(std::string_view("hello"));
    EXPECT_EQ(BytesToStringRange(t, 1, 3), "ell");
    EXPECT_EQ(BytesToStringRange(t, 3, 100), "lo");
    EXPECT_EQ(BytesToStringRange(TNetBytes(), 0, 4), "");
    EXPECT_THROW(BytesToStringRange(t, 5, 1), ENetRangeException);
    EXPECT_THROW(BytesToStringRange(t, -1, 1), ENetRangeException);
    EXPECT_THROW(BytesToStringRange(TNetBytes(), 1, 1), ENetRangeException);
    EXPECT_EQ(Thrown<ENetRangeException>([&] { BytesToStringRange(t, 9, 1); }), "Index out of bounds.");
    EXPECT_EQ(BytesToHexText(TNetBytes{0x0A, 0xFF}), "0AFF");
}

TEST(NetText, FetchAndFriends) {
    struct Case {
        const char *in, *delim;
        bool remove, caseSensitive;
        const char *got, *left;
    } cases[] = {
        {"a b c", " ", true, true, "a", "b c"},
        {"abc", " ", true, true, "abc", ""},
        {"keyXYvalue", "xy", true, false, "key", "value"},
        {"keyXYvalue", "xy", true, true, "keyXYvalue", ""},
        {"a:b", ":", false, true, "a", "a:b"},
        {"abc", "", true, true, "abc", ""},  // an empty delimiter is never found
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.in) + " / " + c.delim);
        std::string s = c.in;
        EXPECT_EQ(Fetch(s, c.delim, c.remove, c.caseSensitive), c.got);
        EXPECT_EQ(s, c.left);
    }
    EXPECT_EQ(PosInStrArray("B", {"a", "b"}, false), 1);
    EXPECT_EQ(PosInStrArray("B", {"a", "b"}, true), -1);
    EXPECT_FALSE(TextStartsWith("Con", "CONTENT"));
    EXPECT_EQ(PosFrom("b", "abab", 3), 4);
    EXPECT_EQ(PosFrom("", "abab", 1), 0);
    EXPECT_FALSE(CharIsInSet("a;b", 4, ";,"));
    EXPECT_THROW(CharIsInSet("a", 0, ";"), ENetException);
    EXPECT_EQ(Thrown<ENetException>([&] { CharIsInEOL("a", 0); }), "Invalid ACharPos in CharIsInEOF.");
    EXPECT_FALSE(IsNumeric("4x"));
    EXPECT_TRUE(IsOctalText(""));
}

TEST(NetTicks, WrapAndThreads) {
    EXPECT_EQ(TicksDiff(4294967290u, 5), 10u);
    uint32_t t0 = TicksNow();
    NetSleep(20);
    EXPECT_GE(TicksDiff(t0, TicksNow()), 19u);
    EXPECT_TRUE(InMainThread());
    bool other = true;
    std::thread([&] { other = InMainThread(); }).join();
    EXPECT_FALSE(other);
}

TEST(NetIPv6, CanonicalTextTable) {
    struct Case {
        const char *in, *out;
    } cases[] = {
        {"::1", "0:0:0:0:0:0:0:1"},
        {"fe80::0202:b3ff:fe1e:8329", "FE80:0:0:0:202:B3FF:FE1E:8329"},
        {"::", "0:0:0:0:0:0:0:0"},
        {"::2:3:4:5:6:7:8", "0:2:3:4:5:6:7:8"},
        {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},
        {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8"},
        {"::ffff:1.2.3.4", "0:0:0:0:0:FFFF:0102:0304"},
        {"1::2::3", ""}, {"", ""}, {"1:2:3", ""}, {"1:2:3:4:5:6:7:8:9", ""}, {"1:2:3:4::5:6:7:8", ""},
        {"12345::1", ""}, {"g::1", ""}, {":::1", ""}, {"::ffff:1.2.3.256", ""}, {"1.2.3.4::", ""},
        {"::1.2.3", ""}, {"127.0.0.1", ""}, {"localhost", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(CanonicalIPv6Text(c.in), c.out) << c.in;
    uint16_t w[8];
    ParseIPv6Words("fe80::1", w);
    EXPECT_EQ(IPv6WordsToText(w), "FE80:0000:0000:0000:0000:0000:0000:0001");
    EXPECT_EQ(Thrown<ENetInvalidIPv6Address>([&] { ParseIPv6Words("1:2:3", w); }), "1:2:3 is not a valid IPv6 address");
}

TEST(NetSys, InternetDateAndZoneTable) {
    TDateTime dt = EncodeDate(2004, 3, 2) + EncodeTime(13, 5, 9, 0);
    EXPECT_EQ(TNetSys::DateTimeToInternetText(dt, 1.0 / 24, false), "Tue, 2 Mar 2004 13:05:09 +0100");
    EXPECT_EQ(TNetSys::DateTimeToInternetText(dt, 0.0, true), "Tue, 2 Mar 2004 13:05:09 GMT");
    EXPECT_EQ(TNetSys::DateTimeToInternetText(dt, 0.0, false), "Tue, 2 Mar 2004 13:05:09 +0000");
    struct Zone {
        int minutes;
        const char *text;
    } zones[] = {{120, "+0200"}, {-300, "-0500"}, {-330, "-0530"}, {330, "+0530"},
                 {345, "+0545"}, {-60, "-0100"}, {-570, "-0930"}, {840, "+1400"}};
    for (const auto &z : zones) EXPECT_EQ(TNetSys::OffsetToText(z.minutes / 1440.0, true), z.text) << z.minutes;
    EXPECT_DOUBLE_EQ(TNetSysWin32::OffsetFromUTC() * 1440.0, double(LocalUtcOffsetMinutes()));
}

TEST(NetStreams, ReadLnAndBytes) {
    TStringStream s("one\r\ntwo\nthree\r");
    EXPECT_EQ(ReadLnFromStream(s), "one");
    EXPECT_EQ(s.Position(), 5);
    EXPECT_EQ(ReadLnFromStream(s), "two");
    EXPECT_EQ(ReadLnFromStream(s), "three");
    EXPECT_EQ(ReadLnFromStream(s, -1, false), "");
    EXPECT_EQ(Thrown<ENetEndOfStream>([&] { ReadLnFromStream(s); }), "End of stream: Class TStringStream at 15");
    // A line longer than one 2048-byte block, and a length limit.
    std::string longLine(5000, 'x');
    TStringStream l(longLine + "\nabcdef\n");
    EXPECT_EQ(ReadLnFromStream(l), longLine);
    EXPECT_EQ(ReadLnFromStream(l, 4), "abcd");
    EXPECT_EQ(ReadLnFromStream(l, 4), "ef");

    TStringStream b("0123456789");
    b.SetPosition(4);
    TNetBytes out;
    EXPECT_EQ(TNetStreamHelper::ReadBytes(b, out, 3), 3);
    EXPECT_EQ(BytesToString(out), "456");
    EXPECT_EQ(TNetStreamHelper::ReadBytes(b, out, -1), 3);
    EXPECT_EQ(BytesToString(out), "789");
    EXPECT_EQ(TNetStreamHelper::ReadBytes(b, out, 5), 0);
    TMemoryStream w;
    TNetStreamHelper::WriteBytes(w, ToBytes(std::string_view("abc")), 2);
    EXPECT_EQ(w.DataString(), "ab");
}
