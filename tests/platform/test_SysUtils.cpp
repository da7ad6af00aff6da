#include <gtest/gtest.h>

#include <sys/stat.h>

#include "Classes.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "ZipTools.h"

TEST(Positions, EmptyNeedleIsNeverFound) {
    EXPECT_EQ(Pos("", "abc"), 0);
    EXPECT_FALSE(Contains("abc", ""));
    EXPECT_FALSE(ContainsText("abc", ""));
    EXPECT_EQ(Pos("b", "abcb", 3), 4);
    EXPECT_EQ(Pos("b", "abcb", 5), 0);
    EXPECT_EQ(PosText("BC", "abc"), 2);
    EXPECT_EQ(LastPos("b", "abcb"), 4);
}

TEST(Positions, CopyDeleteInsertClampLikeOneBasedRuntime) {
    EXPECT_EQ(Copy("hello", 2, 3), "ell");
    EXPECT_EQ(Copy("hello", 4, 100), "lo");
    EXPECT_EQ(Copy("hello", 6, 1), "");
    EXPECT_EQ(Copy("hello", 0, 2), "he");
    std::string s = "hello";
    Delete(s, 2, 2);
    EXPECT_EQ(s, "hlo");
    Delete(s, 9, 1);
    EXPECT_EQ(s, "hlo");
    Insert("XY", s, 2);
    EXPECT_EQ(s, "hXYlo");
    Insert("!", s, 99);
    EXPECT_EQ(s, "hXYlo!");
}

TEST(Conversions, IntegersRejectJunkAndOverflow) {
    EXPECT_EQ(StrToInt(" 42 "), 42);
    EXPECT_EQ(StrToInt("$1F"), 31);
    EXPECT_THROW(StrToInt("4x"), EConvertError);
    EXPECT_THROW(StrToInt(""), EConvertError);
    EXPECT_THROW(StrToInt("99999999999"), EConvertError);
    EXPECT_EQ(StrToIntDef("abc", 110), 110);
    EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(StrToInt64Def("9223372036854775808", 5), 5);
}

TEST(Dates, EncodeDecodeRoundTripAndWeekday) {
    TDateTime d = EncodeDate(2004, 3, 2) + EncodeTime(13, 5, 9, 0);
    int y, m, dd, h, mi, s, ms;
    DecodeDate(d, y, m, dd);
    DecodeTime(d, h, mi, s, ms);
    EXPECT_EQ((std::vector<int>{y, m, dd, h, mi, s}), (std::vector<int>{2004, 3, 2, 13, 5, 9}));
    EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(FormatDateTime("ddd, d mmm yyyy hh:nn:ss", d), "Tue, 2 Mar 2004 13:05:09");
    EXPECT_THROW(EncodeDate(2003, 2, 29), EConvertError);
    EXPECT_EQ(DateTimeToUnix(UnixToDateTime(1078232709)), 1078232709);
}

TEST(Dates, FormatLettersOfTheClassLibrary) {
    TDateTime d = EncodeDate(2026, 12, 8) + EncodeTime(14, 3, 22, 45);
    // The default message-date format shows the time, not a literal "tt".
    EXPECT_EQ(FormatDateTime("tt    dd.mm.yyyy", d), "14:03:22    08.12.2026");
    EXPECT_EQ(FormatDateTime("t", d), "14:03");
    EXPECT_EQ(FormatDateTime("ddddd", d), "08.12.2026");
    EXPECT_EQ(FormatDateTime("dddddd", d), "Tuesday 8 December 2026");
    EXPECT_EQ(FormatDateTime("c", d), "08.12.2026 14:03:22");
    EXPECT_EQ(FormatDateTime("c", EncodeDate(2026, 12, 8)), "08.12.2026");
    // "m" right after an hour is minutes, literals between or not.
    EXPECT_EQ(FormatDateTime("h:mm d.m.", d), "14:03 8.12.");
    EXPECT_EQ(FormatDateTime("hh'h'mm", d), "14h03");
    EXPECT_EQ(FormatDateTime("mm/dd", d), "12/08");
    EXPECT_EQ(FormatDateTime("ss.zzz", d), "22.045");
    // A 12-hour clock before an am/pm marker, the marker as written.
    EXPECT_EQ(FormatDateTime("h:nn am/pm", d), "2:03 pm");
    EXPECT_EQ(FormatDateTime("hh:nn AM/PM", EncodeTime(0, 5, 0, 0)), "12:05 AM");
    EXPECT_EQ(FormatDateTime("h a/p", EncodeTime(9, 0, 0, 0)), "9 a");
    EXPECT_EQ(FormatDateTime("h ampm", EncodeTime(23, 0, 0, 0)), "11 PM");
    EXPECT_EQ(FormatDateTime("hh \"at\" t", d), "14 at 14:03");
    // A date no calendar holds (a damaged header) is day 0, never a crash.
    EXPECT_EQ(FormatDateTime("ddd d mmm yyyy", -700000.5), "Sat 30 Dec 1899");
    EXPECT_EQ(FormatDateTime("dd.mm.yyyy", 1e300), "30.12.1899");
}

TEST(Files, ResolvePathIgnoresLetterCaseOnlyWhenNeeded) {
    TempDir t;
    WriteTestFile(t.File("Lang/English.LNG"), "x");
    EXPECT_EQ(ResolvePathCI(t.File("lang/english.lng")), t.File("Lang/English.LNG"));
    // A name not there yet keeps its spelling, in the folders that are.
    EXPECT_EQ(ResolvePathCI(t.File("lang/missing.lng")), t.File("Lang/missing.lng"));
    EXPECT_EQ(ResolvePathCI(t.File("LANG/New/deeper/x.lng")), t.File("Lang/New/deeper/x.lng"));
    EXPECT_EQ(ResolvePathCI(t.File("nothere/x")), t.File("nothere/x"));
    // So a new file under a folder spelled in another case can be written.
    WriteFileAtomic(ResolvePathCI(t.File("lang/New.lng")), "y");
    EXPECT_EQ(ListDirectory(t.File("Lang")), (std::vector<std::string>{"English.LNG", "New.lng"}));
}

TEST(Files, DirectoryOrderIsCaseInsensitiveAndStable) {
    TempDir t;
    for (auto n : {"b.rul", "A.rul", "c.rul", "a2.rul"}) WriteTestFile(t.File("rules/") + n, "");
    EXPECT_EQ(ListDirectory(t.File("rules")), (std::vector<std::string>{"A.rul", "a2.rul", "b.rul", "c.rul"}));
    EXPECT_TRUE(MatchesMask("A.RUL", "*.rul"));
    EXPECT_TRUE(MatchesMask("README", "*.*"));
}

TEST(Files, AtomicWriteReplacesWholeFileAndKeepsMode) {
    TempDir t;
    std::string p = t.File("settings.ini");
    WriteFileAtomic(p, "first", 0600);
    WriteFileAtomic(p, "second");
    EXPECT_EQ(ReadFileToString(p), "second");
    EXPECT_EQ(FileMode(p), 0600u);
    EXPECT_EQ(ListDirectory(t.Path()), std::vector<std::string>{"settings.ini"});
}

TEST(Streams, MemoryAndFileStreamsAgree) {
    TempDir t;
    {
        TFileStream f(t.File("s.bin"), fmCreate);
        f.WriteBuffer("abcdef", 6);
        f.SetPosition(2);
        char b[3];
        f.ReadBuffer(b, 3);
        EXPECT_EQ(std::string(b, 3), "cde");
        EXPECT_EQ(f.Size(), 6);
        EXPECT_THROW(f.ReadBuffer(b, 3), EReadError);
    }
    TMemoryStream m;
    m.LoadFromFile(t.File("s.bin"));
    EXPECT_EQ(m.DataString(), "abcdef");
    EXPECT_THROW(TFileStream(t.File("none"), fmOpenRead), EFOpenError);

    // A private create over a file others could read leaves it private.
    ::chmod(t.File("s.bin").c_str(), 0644);
    TFileStream(t.File("s.bin"), fmCreate, 0600).WriteBuffer("mail", 4);
    EXPECT_EQ(FileMode(t.File("s.bin")), 0600u);
    EXPECT_EQ(ReadFileToString(t.File("s.bin")), "mail");
}

TEST(StringLists, TextSplitsEveryLineBreakKind) {
    TStringList l;
    l.SetText("a\r\nb\nc\rd");
    EXPECT_EQ(l.Count(), 4);
    EXPECT_EQ(l.Text(), "a\r\nb\r\nc\r\nd\r\n");
    l.SetText("k=v\r\nName=x=y");
    EXPECT_EQ(l.Values("name"), "x=y");
    // Every index outside the list is the program's own error, which the
    // handlers' catch of Exception reports.
    EXPECT_THROW(l.Delete(5), EListError);
    EXPECT_THROW(l[-1], EListError);
    EXPECT_THROW(l.Strings(9), EListError);
    EXPECT_THROW(l.Names(2), EListError);
    EXPECT_THROW(l.Exchange(0, 2), EListError);
}
