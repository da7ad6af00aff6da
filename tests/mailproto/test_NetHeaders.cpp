#include <gtest/gtest.h>

#include "NetCharsets.h"
#include "NetEMailAddress.h"
#include "NetGlobalProtocols.h"
#include "NetHeaderCoder.h"
#include "NetHeaderList.h"
#include "NetMailExceptions.h"
#include <regex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include "PythonPeer.h"
#include "TestSupport.h"

// ---------------------------------------------------------------------------
// Header list

TEST(HeaderList, LookupUnfoldAndOddSpacing) {
    TNetHeaderList h;
    for (const char *l : {"SuBjEcT: a", "\tb", "  c  ", "X-Odd : after colon", "X-Tight:tight", "Received: one",
                          "Received: two"})
        h.Add(l);
    // Unfolding removes the line breaks only: the blanks that start and
    // end the continuation lines stay inside the value.
    EXPECT_EQ(h.GetValue("subject"), "a\tb  c");
    EXPECT_EQ(h.GetValue("X-Odd"), "after colon");
    EXPECT_EQ(h.GetValue("x-tight"), "tight");
    EXPECT_EQ(h.GetValue("Missing"), "");
    EXPECT_EQ(h.NameAt(0), "SUBJECT");
    EXPECT_EQ(h.ValueAt(99), "");
    h.SetValue("Received", "changed");
    EXPECT_EQ(h[5], "Received: changed");
    EXPECT_EQ(h[6], "Received: two");
}

TEST(HeaderList, FoldsLongValuesAndReplacesOrRemovesThemWhole) {
    TNetHeaderList h;
    h.Add("From: x");
    std::string longValue;
    for (int i = 0; i < 30; ++i) longValue += "word" + std::to_string(i) + ", ";
    h.SetValue("To", longValue);
    ASSERT_GT(h.Count(), 2);
    for (int i = 1; i < h.Count(); ++i) {
        EXPECT_LE(h[i].size(), 80u) << h[i];
        if (i > 1) {
            EXPECT_EQ(h[i][0], ' ');
        }
    }
    EXPECT_EQ(h.GetValue("To"), Trim(longValue));
    h.SetValue("To", "short");
    EXPECT_EQ(h.Text(), "From: x\r\nTo: short\r\n");
    h.SetValue("To", longValue);
    h.SetValue("To", "");
    h.SetValue("Absent", "");
    EXPECT_EQ(h.Count(), 1);
}

// ---------------------------------------------------------------------------
// Addresses

TEST(EMailAddress, ParsesTheCommonForms) {
    struct Case { const char *text, *name, *address; } cases[] = {
        {"john@example.com (John)", "", "john@example.com"},
        {"Jo\"hn\" <j@x.org>", "John", "j@x.org"},  // a quote in mid-word loses nothing
        {"plain@x.org", "", "plain@x.org"},
        {"\"John\" Smith <j@x.org>", "John Smith", "j@x.org"},  // the blank after a quoted word stays
        {"John (the first) Smith <j@x.org>", "John Smith", "j@x.org"},
        {"<j@x.org> ", "", "j@x.org"},
        {"\"John Smith\" john@x.org", "John Smith", "john@x.org"},
        {"John Smith john@x.org", "John Smith", "john@x.org"},
        {"info@x.org <info@x.org>", "info@x.org", "info@x.org"},
    };
    for (const Case &c : cases) {
        TNetEMailAddressItem a(c.text);
        EXPECT_EQ(a.Name, c.name) << c.text;
        EXPECT_EQ(a.Address, c.address) << c.text;
    }
    // An "@" outside the brackets raises; what was parsed stays.
    TNetEMailAddressItem a;
    try {
        a.SetText("<a@b.c> extra@d.e");
        ADD_FAILURE();
    } catch (const ENetEmailParseError &e) {
        EXPECT_EQ(e.Message(), "@ Outside address");
    }
    EXPECT_EQ(a.Address, "a@b.c");
}

TEST(EMailAddress, Rendering) {
    struct Case { const char *name, *address, *text; } cases[] = {
        {"", "a@b.c", "a@b.c"},
        {"Two Words", "a@b.c", "Two Words <a@b.c>"},
        {"Comma, Name", "a@b.c", "\"Comma, Name\" <a@b.c>"},
        {"Say \"hi\"", "a@b.c", "\"Say \\\"hi\\\"\" <a@b.c>"},
        {"B \"the\" one", "b@y.org", "\"B \\\"the\\\" one\" <b@y.org>"},
        {"Nobody", "", "Nobody <>"},
        {"", "odd local@x", "<\"odd local\"@x>"},
    };
    for (const Case &c : cases) {
        TNetEMailAddressItem a;
        a.Name = c.name;
        a.Address = c.address;
        EXPECT_EQ(a.Text(), c.text);
        // What is written reads back as it was.
        TNetEMailAddressItem back;
        back.SetText(c.text);
        EXPECT_EQ(back.Name, c.name) << c.text;
        EXPECT_EQ(back.Address, c.address) << c.text;
    }
    TNetEMailAddressItem u;
    u.Address = "a@b@c.d";
    EXPECT_EQ(u.User(), "a@b");
    EXPECT_EQ(u.Domain(), "c.d");
    u.SetDomain("e.f");
    EXPECT_EQ(u.Address, "a@e.f");
}

TEST(EMailAddress, EmptyEntriesAndEmptyGroups) {
    TNetEMailAddressList l;
    for (auto [text, count] : std::vector<std::pair<const char *, int>>{
             {"a@x.org,, b@y.org", 2}, {"<>", 0}, {"undisclosed-recipients:;", 0}}) {
        l.SetEMailAddresses(text);
        EXPECT_EQ(l.Count(), count) << text;
    }
}

TEST(EMailAddress, AgreesWithPythonOnRealWorldLists) {
    if (!PythonAvailable()) GTEST_SKIP();
    std::vector<std::string> cases = {
        "John Smith <john@example.com>, jane@example.org",
        "\"Doe, Jane\" <jane@example.org>, Bob <bob@b.example>",
        "alice@a.example (Alice Liddell)",
        "Group: one@x.example, Two <two@x.example>;, three@y.example",
        "<only@bracket.example>",
        "\"q\\\"x\" <q@x.example>",
        "Missing Bracket <m@x.example",
        "John \"Q\" Public <j@x.example>",
    };
    auto py = PythonMap(R"(
from email.utils import getaddresses
def f(b):
    return '\n'.join(n + '|' + a for n, a in getaddresses([b.decode()])).encode()
)", cases);
    for (size_t i = 0; i < cases.size(); ++i) {
        TNetEMailAddressList l;
        l.SetEMailAddresses(cases[i]);
        std::string ours;
        for (int k = 0; k < l.Count(); ++k) ours += (k ? "\n" : "") + (l[k].Name + "|" + l[k].Address);
        // Python takes a comment as the name; this parser drops comments.
        EXPECT_EQ(ours, i == 2 ? "|alice@a.example" : py[i]) << cases[i];
    }
}

// ---------------------------------------------------------------------------
// Encoded words

TEST(EncodedWords, DecodeWellFormedAndHostileWords) {
    const std::pair<std::string, std::string> cases[] = {
        {"=?ISO-8859-1?Q?caf=E9_au_lait?=", "caf\xC3\xA9 au lait"},
        {"=?windows-1252?B?SGVsbG8=?= =?windows-1252?B?V29ybGQ=?=", "HelloWorld"},
        {"=?ISO-8859-1?Q?a b?=", "=?ISO-8859-1?Q?a b?="},  // blank inside
        // Words are decoded in the order they stand, whatever their set.
        {"=?KOI8-R?B?8NLJ18XU?= and =?ISO-8859-1?Q?=E9?=",
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 and \xC3\xA9"},
        // A UTF-8 character split across two words survives.
        {"=?UTF-8?Q?=C3?= =?UTF-8?Q?=A9?=", "\xC3\xA9"},
        {"=?ISO-8859-1?Q?x=?=", "x="},
        {"=?ISO-8859-1?Q?=4?=", "=4"},
        {"=?ISO-8859-1?Q?=ZZ?=", "=ZZ"},
        {"=?UTF-8?B?w6\xFF\x80k=?=", "\xC3\xA9"},
        // Control characters never reach the caller.
        {"=?UTF-8?Q?a=0Db=00c=1B?=", "a b c "},
        {"=?", "=?"},
        {"=?x?X?abc?=", "=?x?X?abc?="},
    };
    for (auto &[in, out] : cases) EXPECT_EQ(DecodeHeaderWords(in), out) << in;
    // Raw 8-bit text outside words is read in the default set.
    EXPECT_EQ(DecodeHeaderWords("caf\xE9", "ISO-8859-1"), "caf\xC3\xA9");
    EXPECT_EQ(DecodeHeaderWords("\xF0\xD2\xC9", "KOI8-R"), "\xD0\x9F\xD1\x80\xD0\xB8");
}

TEST(EncodedWords, ManyWordStartsStayLinear) {
    std::string hostile;
    for (int i = 0; i < 200000; ++i) hostile += "=?a?Q?x";  // word starts, never a close
    EXPECT_TRUE(DecodeHeaderWords(hostile) == hostile);  // finishes at once
    EXPECT_TRUE(EncodeHeaderWords(hostile, "", 'Q', TTransfer::bit8, "UTF-8") == hostile);
}

TEST(EncodedWords, JisConversion) {
    // "\x1B$B" + JIS 0x3021 (kanji) + "\x1B(B" -> Shift_JIS 0x889F.
    EXPECT_EQ(JisToShiftJis("a\x1B$B\x30\x21\x1B(Bb"), "a\x88\x9F" "b");
    EXPECT_EQ(JisToShiftJis("\x1B$@\x30\x21\x1B(Jx"), "\x88\x9F" "x");
    EXPECT_EQ(JisToShiftJis("\x1B$B\x30"), "\x30");  // odd byte count: no read past the end
    EXPECT_EQ(ShiftJisToJis("a\x88\x9F" "b"), "a\x1B$B\x30\x21\x1B(Bb");
}

TEST(EncodedWords, EncodeOnlyWhatNeedsIt) {
    EXPECT_EQ(EncodeHeaderWords("plain subject", "", 'B', TTransfer::bit8, "ISO-8859-1"), "plain subject");
    EXPECT_EQ(EncodeHeaderWords("caf\xC3\xA9 time", "", 'Q', TTransfer::bit8, "ISO-8859-1"),
              "=?ISO-8859-1?Q?caf=E9?= time");
    EXPECT_EQ(EncodeHeaderWords("x \xC3\xA9", "", '8', TTransfer::bit8, "ISO-8859-1"), "x \xC3\xA9");
    // A character the set cannot hold goes out in UTF-8.
    EXPECT_EQ(EncodeHeaderWords("\xD0\x9F", "", 'B', TTransfer::bit8, "ISO-8859-1"), "=?UTF-8?B?0J8=?=");
}

TEST(EncodedWords, EncodedSubjectsDecodeBackInPython) {
    if (!PythonAvailable()) GTEST_SKIP();
    const std::string privet = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";
    std::vector<std::string> subjects = {
        "caf\xC3\xA9 au lait with some more words",
        privet + " \xD0\xBC\xD0\xB8\xD1\x80 and a very long subject line " + privet + privet + privet + privet,
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE4\xBB\xB6\xE5\x90\x8D",
        "question? equals= under_score \xC3\xA4",
    };
    static const std::regex word(R"(=\?[^?]*\?[BQ]\?[^?]*\?=)");
    struct Way { char letter; const char *set; };
    for (Way w : {Way{'B', "ISO-8859-1"}, Way{'Q', "ISO-8859-1"}, Way{'B', "KOI8-R"}, Way{'B', "ISO-2022-JP"},
                  Way{'Q', "UTF-8"}}) {
        std::vector<std::string> coded;
        for (auto &s : subjects) {
            const std::string &c = coded.emplace_back(EncodeHeaderWords(s, "", w.letter, TTransfer::bit8, w.set));
            // Every encoded word is at most 75 characters.
            for (std::sregex_iterator it(c.begin(), c.end(), word), end; it != end; ++it)
                EXPECT_LE(it->length(), 75) << c;
            EXPECT_EQ(DecodeHeaderWords(c), s) << c;
        }
        auto py = PythonMap(R"(
from email.header import decode_header, make_header
def f(b):
    return str(make_header(decode_header(b.decode().replace('\r\n', '')))).encode()
)", coded);
        for (size_t i = 0; i < subjects.size(); ++i) EXPECT_EQ(py[i], subjects[i]) << coded[i];
    }
}

TEST(EncodedWords, AddressesForHeaders) {
    TNetEMailAddressList l;
    l.Add().Address = "a@x.org";
    auto &b = l.Add();
    b.Address = "b@y.org";
    b.Name = "B \"the\" one";
    auto &c = l.Add();
    c.Address = "c@z.org";
    c.Name = "J\xC3\xBCrgen, M.";
    std::string s = FormatAddressListForHeader(l, 'Q', TTransfer::bit8, "ISO-8859-1", false);
    EXPECT_EQ(s, "a@x.org, \"B \\\"the\\\" one\" <b@y.org>, =?ISO-8859-1?Q?J=FCrgen=2C_M=2E?= <c@z.org>");
    FormatAddressListForHeader(l, 'Q', TTransfer::bit8, "ISO-8859-1", true);
    EXPECT_EQ(l[0].Name, "a@x.org");
}

// ---------------------------------------------------------------------------
// Dates

namespace {
TDateTime UTC(int y, int mo, int d, int h, int mi, int s) { return EncodeDate(y, mo, d) + EncodeTime(h, mi, s, 0); }
double LocalOffsetAt(TDateTime utc) {
    time_t t = time_t(DateTimeToUnix(utc));
    tm l{};
    localtime_r(&t, &l);
    return double(l.tm_gmtoff) / 86400.0;
}
void ExpectUTC(const std::string &text, TDateTime utc) {
    EXPECT_NEAR(GMTToLocalDateTime(text), utc + LocalOffsetAt(utc), 1e-6) << text;
}
}  // namespace

TEST(MailDates, TheFormsRealMailCarries) {
    ExpectUTC("Tue, 7 Dec 2004 10:20:30 +0200", UTC(2004, 12, 7, 8, 20, 30));
    ExpectUTC("7 Dec 04 10:20:30 +0200", UTC(2004, 12, 7, 8, 20, 30));
    ExpectUTC("Sun, 7 Dec 97 10:20 GMT", UTC(1997, 12, 7, 10, 20, 0));
    ExpectUTC("Tue, 07-Dec-2004 10:20:30 -0500 (EST)", UTC(2004, 12, 7, 15, 20, 30));
    ExpectUTC("Tue Dec  7 10:20:30 2004", UTC(2004, 12, 7, 10, 20, 30));
    ExpectUTC("Tue, 7 Dec 2004 10:20:30 EST", UTC(2004, 12, 7, 15, 20, 30));
    ExpectUTC("Tuesday, December 7, 2004 10:20:30 PM +0000", UTC(2004, 12, 7, 22, 20, 30));
    ExpectUTC("Tue, 7 Dec 2004 12:05:00 AM +0000", UTC(2004, 12, 7, 0, 5, 0));
    ExpectUTC("2004-12-07 10:20:30 +0100", UTC(2004, 12, 7, 9, 20, 30));
    ExpectUTC("Tue, 7 Dec 104 10:20:30 +0000", UTC(2004, 12, 7, 10, 20, 30));
    ExpectUTC("Tue Dec  7 10:20:30 EST 2004", UTC(2004, 12, 7, 15, 20, 30));
    ExpectUTC("Fri, 31 Dec 2004 23:59:60 +0000", UTC(2004, 12, 31, 23, 59, 59));
    ExpectUTC("tue,7 dec 2004 10:20:30+0200", UTC(2004, 12, 7, 8, 20, 30));
    // Comments and the obsolete blanks that RFC 5322 still allows.
    ExpectUTC("(Tuesday) 7 Dec 2004 10:20:30 +0200", UTC(2004, 12, 7, 8, 20, 30));
    ExpectUTC("Tue, 7 (the (seventh)) Dec 2004 10:20:30 +0200", UTC(2004, 12, 7, 8, 20, 30));
    ExpectUTC("Tue , 7 Dec 2004 10 : 20 : 30 +0200", UTC(2004, 12, 7, 8, 20, 30));
    ExpectUTC("Tue,\r\n 7 Dec 2004\r\n 10:20:30 +0200", UTC(2004, 12, 7, 8, 20, 30));
    ExpectUTC("Tue, 7 Dec 2004 10:20:30.25 +0200", UTC(2004, 12, 7, 8, 20, 30));
    ExpectUTC("Tuesday, 07-Dec-04 10:20:30 GMT", UTC(2004, 12, 7, 10, 20, 30));
    ExpectUTC("Tue, 7 Dec 2004 10:20:30 +0530", UTC(2004, 12, 7, 4, 50, 30));
}

TEST(MailDates, UnreadableOrImpossibleDatesAreNotSet) {
    for (const char *s : {"", "   ", "garbage", "Tue, 32 Dec 2004 10:20:30 +0000", "Tue, 7 Dec 2004 25:20:30 +0000",
                          "Tue, 30 Feb 2004 10:00:00 +0000", "7 Foo 2004 10:00", "\xFF\xFE", "Tue,",
                          "99999999999999999 Dec 2004", "(unclosed 7 Dec 2004 10:20", "Tue, 0 Dec 2004 10:00 +0000"})
        EXPECT_EQ(GMTToLocalDateTime(s), 0.0) << s;
    EXPECT_DOUBLE_EQ(TimeZoneToGmtOffset("+99"), 0);
    std::string rest = "Tue, 7 Dec 2004 10:20:30 +0200 (CEST)";
    RawStrInternetToDateTime(rest);
    EXPECT_EQ(rest, "+0200 (CEST)");
}

TEST(MailDates, AgreeWithPython) {
    if (!PythonAvailable()) GTEST_SKIP();
    std::vector<std::string> dates = {
        "Mon, 20 Nov 1995 19:12:08 -0500", "20 Nov 1995 19:12 +0130", "Fri, 1 Jan 2038 00:00:00 GMT",
        "Wed, 29 Feb 2012 23:59:59 +1400", "Thu, 01 Jan 1970 00:00:00 -1200", "Sat, 5 Jun 2021 7:08:09 +0000",
        "5 Jun 21 07:08:09 -0000"};
    auto py = PythonMap(R"(
from email.utils import parsedate_tz, mktime_tz
def f(b):
    return str(mktime_tz(parsedate_tz(b.decode()))).encode()
)", dates);
    for (size_t i = 0; i < dates.size(); ++i) ExpectUTC(dates[i], UnixToDateTime(std::stoll(py[i])));
}

// ---------------------------------------------------------------------------
// Support routines and character sets

TEST(ProtocolRoutines, ListsParametersAndFolding) {
    TStringList l;
    SplitTextToList(l, "\"Doe, Jane\" <j@x>, b@y ,, ");
    ASSERT_EQ(l.Count(), 2);
    EXPECT_EQ(l[0], "\"Doe, Jane\" <j@x>");
    EXPECT_EQ(RemoveHeaderParameter("text/plain; charset=\"a;b\"; format=flowed", "charset"),
              "text/plain; format=flowed");
    EXPECT_EQ(RemoveHeaderParameter("text/plain; charset=x", "charset"), "text/plain");
    EXPECT_EQ(HeaderParameter("attachment; filename=\"a b.txt\"", "filename"), "a b.txt");
    EXPECT_EQ(HeaderParameter("text/plain; name=x.txt; charset=koi8-r", "charset", true), "KOI8-R");
    EXPECT_EQ(HeaderParameter("attachment; filename=f.txt", "name"), "");
    EXPECT_EQ(HeaderParameterDecoded("attachment; filename*=UTF-8''caf%C3%A9.txt", "filename"), "caf\xC3\xA9.txt");
    EXPECT_EQ(HeaderParameterDecoded("attachment; filename*0*=iso-8859-1''a%E9; filename*1=\"b c.txt\"", "filename"),
              "a\xC3\xA9" "b c.txt");
    EXPECT_EQ(HeaderParameterDecoded("attachment; filename*=%", "filename"), "%");
    EXPECT_EQ(FindBoundary("multipart/mixed; boundary=\"a b;c\""), "a b;c");
    EXPECT_EQ(FindBoundary("multipart/mixed; boundary=abc; charset=x"), "abc");
    EXPECT_EQ(FindBoundary("multipart/mixed; BOUNDARY = abc def"), "abc");
    // Every RFC 2231 form: sections out of order, quoted sections, a section
    // written twice, sets; the set-less and plain forms; parameters that
    // only look alike.
    EXPECT_EQ(FindBoundary("multipart/mixed; boundary*=us-ascii''XYZ"), "XYZ");
    EXPECT_EQ(FindBoundary("multipart/mixed; x-boundary=no; boundary*1=\"b\"; boundary*0=a"), "ab");
    EXPECT_EQ(HeaderParameter("text/plain; charset*=us-ascii'en'utf-8", "charset", true), "UTF-8");
    EXPECT_EQ(HeaderParameter("a; name*1*=%20b; name*0*=utf-8''%C3%A9; name*1*=dup", "name"), "\xC3\xA9 b");
    EXPECT_EQ(HeaderParameter("a; name*=''%41%4", "name"), "A%4");
    EXPECT_EQ(HeaderParameter("a; filename=\"plain.txt\"; filename*=utf-8''ext.txt", "filename"), "plain.txt");
    EXPECT_EQ(HeaderParameter("a; filename*=utf-8''ext.txt", "filename"), "ext.txt");
    EXPECT_EQ(HeaderParameter("a; filename=\"C:\\dir\\x \\\"q\\\".txt\"", "filename"), "C:\\dir\\x \"q\".txt");
    EXPECT_EQ(HeaderParameter("a; title*=x; title*2x=y", "title"), "x");
    EXPECT_EQ(HeaderParameter("x=\"no type\"; y", "x"), "");
    EXPECT_EQ(MediaType(" Text/HTML ; charset=x"), "Text/HTML");
    EXPECT_EQ(MediaType("text; charset=us-ascii"), "text/plain");
    EXPECT_EQ(MediaType("a/b/c"), "text/plain");
    EXPECT_EQ(MediaType("  ; charset=x"), "");
    EXPECT_EQ(FoldTextLines("aaa bbb ccc", "\r\n ", " ", 5), "aaa \r\n bbb \r\n ccc");
    EXPECT_EQ(FoldTextLines("\"a b c d\" e", "\r\n ", " ", 3), "\"a b c d\" \r\n e");
}

TEST(ProtocolRoutines, TemporaryFilesArePrivateAndFresh) {
    TempDir dir;
    EXPECT_EQ(ExtractFilePath(MakeTempFilename(dir.Path())), dir.Path());
    // A folder that does not exist never sends the file to the current folder.
    EXPECT_EQ(ExtractFilePath(MakeTempFilename(dir.File("missing"))), NetTempFolder());
    std::string path;
    int fd = CreateTempFile(dir.Path(), path);
    ASSERT_GE(fd, 0);
    struct stat st{};
    fstat(fd, &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    close(fd);
    EXPECT_TRUE(CopyFileTo(path, dir.File("copy")));
    EXPECT_FALSE(CopyFileTo(path, dir.File("copy")));  // the target exists
    lstat(NetTempFolder().c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // Each new name is fresh at once: a message with thousands of
    // attachments must not walk past every file made before for each part.
    std::set<std::string> names;
    for (int i = 0; i < 200; ++i) names.insert(MakeTempFilename(dir.Path()));
    EXPECT_EQ(names.size(), 200u);
}

TEST(Charsets, LookupAndLocaleDefaults) {
    EXPECT_EQ(CharsetName(0), "");
    EXPECT_EQ(CharsetName(791), "");  // past the table
    EXPECT_EQ(CharsetIndexOf(""), 0);
    struct Case { const char *lang; const char *set; };
    const char *saved = getenv("LC_ALL");
    std::string keep = saved ? saved : "";
    for (Case c : {Case{"ru_RU.UTF-8", "KOI8-R"}, Case{"uk_UA", "windows-1251"}, Case{"ko_KR", "csEUCKR"},
                   Case{"zh_CN.GB2312", "GB2312"}, Case{"zh_TW", "Big5"}, Case{"ja_JP", "ISO-2022-JP"},
                   Case{"fi_FI", "ISO-8859-1"}}) {
        setenv("LC_ALL", c.lang, 1);
        EXPECT_EQ(CharsetName(DefaultCharsetForLocale()), c.set) << c.lang;
    }
    if (saved) setenv("LC_ALL", keep.c_str(), 1); else unsetenv("LC_ALL");
}

TEST(Charsets, ConversionNeverFails) {
    EXPECT_EQ(CharsetToUTF8("caf\xE9", "ISO-8859-1"), "caf\xC3\xA9");
    EXPECT_EQ(CharsetToUTF8("caf\xE9", "no-such-set"), "caf\xC3\xA9");
    EXPECT_EQ(CharsetToUTF8("caf\xE9", "UTF-8//IGNORE"), "caf\xC3\xA9");  // read as windows-1252
    EXPECT_EQ(CharsetToUTF8("\x80", "windows-1252"), "\xE2\x82\xAC");
    EXPECT_TRUE(IsValidUTF8(CharsetToUTF8("\xC3\x28 bad", "UTF-8")));
    bool ok = false;
    EXPECT_EQ(UTF8ToCharset("\xC3\xA9", "ISO-8859-1", ok), "\xE9");
    EXPECT_TRUE(ok);
    UTF8ToCharset("\xD0\x9F", "ISO-8859-1", ok);
    EXPECT_FALSE(ok);
}
