#include <gtest/gtest.h>

#include <QImage>
#include <unistd.h>

#include "settings/CryptStr.h"
#include "Desktop.h"
#include "updates/Kel_Files.h"
#include "settings/Kel_Reg.h"
#include "SysUtils.h"
#include "settings/TarnwickVersion.h"
#include "TestSupport.h"
#include "settings/VeskRutins.h"
#include "settings/unDecodes.h"

// ---- Kel_Reg -----------------------------------------------------------------

TEST(KelReg, OneCallRoutinesOnSettingsFile) {
    TempDir dir;
    std::string f = dir.File("Tarnwick.ini");
    EXPECT_EQ(IniReadString(f, "Accounts", "Num", "-1"), "-1");
    IniWriteString(f, "List", "0", "a");
    IniWriteString(f, "List", "1", "b");
    // Section values add to what the list holds; a missing section adds nothing.
    TStringList values{"kept"};
    IniReadSection(f, "list", values);
    IniReadSection(f, "Missing", values);
    EXPECT_EQ(values, (TStringList{"kept", "a", "b"}));
    IniDeleteKey(f, "List", "1");
    EXPECT_FALSE(IniValueExists(f, "list", "1"));
    IniEraseSection(f, "List");
    EXPECT_FALSE(IniValueExists(f, "List", "0"));
    EXPECT_THROW(IniWriteString(dir.File("no/such/folder.ini"), "S", "k", "v"), EIniFileError);
}

TEST(KelReg, EverySectionAndEveryKeyLineInFileOrder) {
    TempDir dir;
    std::string f = dir.File("words.rul");
    WriteTestFile(f, "[Words]\r\n0=alpha\r\n1=beta\r\n0=gamma\r\n0=delta\r\n; 0=comment\r\n"
                     "[Options]\r\nPath=x\r\n[words]\r\n2=late\r\n[Options]\r\n");
    TStringList sections{"dropped"};
    IniReadSections(f, sections);
    EXPECT_EQ(sections, (TStringList{"Words", "Options", "words", "Options"}));
    TStringList values;
    IniReadSection(f, "WORDS", values);
    EXPECT_EQ(values, (TStringList{"alpha", "beta", "gamma", "delta"}));
}

TEST(KelReg, NewFileUnderAFolderSpelledInAnotherCase) {
    TempDir dir;
    ForceDirectories(dir.File("Rules"));
    IniWriteString(dir.File("rules/New.rul"), "Rule", "Job", "0");
    EXPECT_EQ(ListDirectory(dir.File("Rules")), (std::vector<std::string>{"New.rul"}));
    EXPECT_EQ(IniReadString(dir.File("RULES/new.rul"), "Rule", "Job", ""), "0");
}

// ---- Kel_Files ---------------------------------------------------------------

TEST(KelFiles, DeleteFolderTakesSubFoldersAndNeverFollowsLinks) {
    TempDir dir;
    std::string outside = dir.File("outside/keep.txt");
    WriteTestFile(outside, "keep");
    std::string skin = dir.File("skins/Blue");
    WriteTestFile(skin + "/skin.ini", "[About]\n");
    WriteTestFile(skin + "/pics/a.jpg", "x");
    WriteTestFile(skin + "/noext", "x");
    ASSERT_EQ(::symlink(dir.File("outside").c_str(), (skin + "/link").c_str()), 0);
    EXPECT_TRUE(DeleteFolder(skin));
    EXPECT_FALSE(DirectoryExists(skin));
    EXPECT_TRUE(FileExists(outside));
    // A skin folder that is itself a link: the link goes, the target stays whole.
    ASSERT_EQ(::symlink(dir.File("outside").c_str(), skin.c_str()), 0);
    EXPECT_TRUE(DeleteFolder(skin + "/"));
    EXPECT_FALSE(FileExists(skin));
    EXPECT_TRUE(FileExists(outside));
    // An empty folder goes too; a missing one is a failure.
    ForceDirectories(dir.File("empty"));
    EXPECT_TRUE(DeleteFolder(dir.File("empty")));
    EXPECT_FALSE(DeleteFolder(dir.File("empty")));
}

TEST(KelFiles, DeleteFilesByMask) {
    TempDir dir;
    WriteTestFile(dir.File("temp/a.eml"), "1");
    WriteTestFile(dir.File("temp/B.EML"), "2");
    WriteTestFile(dir.File("temp/c.txt"), "3");
    EXPECT_TRUE(DeleteFiles(dir.File("temp/*.eml")));
    EXPECT_EQ(ListDirectory(dir.File("temp")), std::vector<std::string>{"c.txt"});
    EXPECT_TRUE(DeleteFiles(dir.File("temp/*.zip")));   // nothing to do
    EXPECT_FALSE(DeleteFiles(dir.File("temp/none.txt")));
    EXPECT_TRUE(DeleteFiles(dir.File("temp/c.txt")));
    EXPECT_FALSE(DeleteFiles(""));
}

TEST(KelFiles, VersionTextAndSubFolderTest) {
    // A program that shows Tarnwick's version carries it as its marker.
    EXPECT_EQ(GetFileVersionText(ApplicationExeName()), TarnwickVersion);
    TempDir dir;
    WriteTestFile(dir.File("plain.bin"), std::string("TW-FILEVERSION:x") + std::string(10, '\0'));
    EXPECT_EQ(GetFileVersionText(dir.File("plain.bin")), "");
    EXPECT_EQ(GetFileVersionText(dir.File("missing.exe")), "");
    // A marker that straddles the reader's chunks is still found.
    std::string big(1 << 20, 'z');
    big.replace((1 << 20) - 8, 8, "TW-FILEV");
    big += std::string("ERSION:0.1.2.5") + '\0';
    WriteTestFile(dir.File("big.bin"), big);
    EXPECT_EQ(GetFileVersionText(dir.File("big.bin")), "0.1.2.5");

    EXPECT_TRUE(IsSubFolder({"skins", faDirectory}));
    EXPECT_FALSE(IsSubFolder({"..", faDirectory}));
}

// ---- CryptStr ----------------------------------------------------------------

TEST(CryptStr, StoredFormIsExact) {
    // Filler "ABC" and "DEF" around "p", "\xE4", "d", start key 9.
    std::string filled = "ABCp\xE4" "dDEF";
    std::string c = EncipherText(filled, 9);
    std::string stored = "0_";
    for (char ch : c) stored += IntToStr(static_cast<unsigned char>(ch)) + "_";
    EXPECT_EQ(stored, "0_65_120_246_11_173_143_169_209_142_");
    EXPECT_EQ(UnscrambleStr(stored), "p\xE4" "d");
    EXPECT_EQ(DecipherText(c, 9), filled);
}

TEST(CryptStr, RoundTripAtEveryBoundaryLength) {
    for (int n : {0, 1, 2, 85, 86, 100, 171, 255, 300}) {
        std::string pw;
        for (int i = 0; i < n; ++i) pw += char(0x80 + (i * 37) % 128);  // bytes >= 0x80
        if (n > 2) pw[1] = 'a';
        SCOPED_TRACE(n);
        std::string s1 = ScrambleStr(pw), s2 = ScrambleStr(pw);
        EXPECT_EQ(UnscrambleStr(s1), pw);
        EXPECT_EQ(UnscrambleStr(s2), pw);
        EXPECT_TRUE(n < 3 || s1 != s2);  // random filler
        EXPECT_TRUE(n > 0 || s1.empty());
        // Only the first 3n mod 256 bytes of the filled text are enciphered;
        // from there on the stored codes are the plain bytes.
        std::vector<std::string> items;
        for (size_t p = 2, q; (q = s1.find('_', p)) != std::string::npos; p = q + 1)
            items.push_back(s1.substr(p, q - p));
        ASSERT_EQ(int(items.size()), 3 * n);
        for (int i = std::max((3 * n) % 256, n); i < 2 * n; ++i)
            EXPECT_EQ(StrToInt(items[size_t(i)]), static_cast<unsigned char>(pw[size_t(i - n)])) << i;
    }
}

TEST(CryptStr, DamagedStoredForms) {
    EXPECT_EQ(UnscrambleStr(""), "");
    EXPECT_EQ(UnscrambleStr("0_"), "");
    EXPECT_EQ(UnscrambleStr("0_12_"), "");
    EXPECT_THROW(UnscrambleStr("0_12_x4_99_"), EConvertError);
    // Blanks separate items, as they always did.
    std::string s = ScrambleStr("abc");
    EXPECT_EQ(UnscrambleStr(StringReplaceAll(s, "_", " _")), "abc");
}

// ---- VeskRutins ---------------------------------------------------------------

TEST(VeskRutins, SettingTextConversions) {
    // Settings booleans are the exact "True"; StrToBool is the runtime's.
    for (auto [text, boolean, runtime] : {std::tuple{"True", true, true}, {"true", false, true}, {"1", false, true},
                                          {"-1", false, true}, {"0", false, false}, {"FALSE", false, false}}) {
        EXPECT_EQ(StrToBoolean(text), boolean) << text;
        EXPECT_EQ(StrToBool(text), runtime) << text;
    }
    EXPECT_EQ(BooleanToStr(false), "False");
    EXPECT_THROW(StrToBool("yes"), EConvertError);
    EXPECT_TRUE(StrToBoolDef("", true));

    TFont f;
    StrToFont("Arial, ,255,12", f);  // no fourth comma: size and style kept
    EXPECT_EQ(FontToStr(f), "Arial,0,255,8,0");
    StrToFont("Tahoma,1,x,10, 3 ", f);  // a non-number keeps the field
    EXPECT_EQ(FontToStr(f), "Tahoma,1,255,10,3");
    TFont g;
    StrToFont("no commas", g);
    EXPECT_EQ(g, TFont());
    EXPECT_EQ(FontToStr(g), "MS Sans Serif,0,0,8,0");

    EXPECT_EQ(VersionToInt("0.7.7.1"), 771);
    EXPECT_EQ(VersionToInt(""), -1);
    EXPECT_THROW(VersionToInt("1.x"), EConvertError);
    EXPECT_EQ(StrToAlignment("taCenter"), taCenter);
    EXPECT_EQ(StrToAlignment("tacenter"), taLeftJustify);
}

TEST(VeskRutins, ListsAndNames) {
    TStringList l{"x"};
    SplitToList(l, " a ;; b;  ;c ");
    EXPECT_EQ(l, (TStringList{"x", "a", "b", "c"}));
    EXPECT_TRUE(ListContains(l, "b"));
    EXPECT_FALSE(ListContains(l, "B"));
    EXPECT_FALSE(ListContains(l, ""));
    EXPECT_EQ(CutExtension("english.lng"), "english");
    EXPECT_EQ(CutExtension(".lng"), "");
    EXPECT_EQ(TrimChar("\"\"name\"", '"'), "name");
    EXPECT_EQ(TrimLeftChar("<<a<", '<'), "a<");
    EXPECT_EQ(TrimRightChar("", 'x'), "");
    EXPECT_EQ(StripQPrefix("=?ISO-8859-1?Q?Hyv=E4?="), "Hyv=E4");
    EXPECT_EQ(StripQPrefix("Re: =?ISO-8859-1?Q?x?= y?="), "Re: =?ISO-8859-1?Q?x y?=");
    EXPECT_TRUE(HasForbiddenFileNameChar("a|b"));
    EXPECT_FALSE(HasForbiddenFileNameChar("a b.eml"));
    EXPECT_EQ(CleanFileName("Re: <what?> \"now\"/\\|*"), "Re what now");
}

TEST(VeskRutins, StripHtmlTags) {
    // A ">" before the first "<" is text, and the loop ends.
    for (auto [html, text] : {std::pair{"a<b>bold</b>c", "aboldc"}, {"x<BR>y<br/>z", "x\r\nyz"},
                              {"5 > 3 <i>yes</i>", "5 > 3 yes"}, {"a > b", "a > b"}, {"open <tag", "open <tag"},
                              {"<<b>>", ">"}})
        EXPECT_EQ(StripHtmlTags(html), text) << html;
    std::string big;
    for (int i = 0; i < 20000; ++i) big += "<td>" + IntToStr(i) + "</td>";
    EXPECT_EQ(StripHtmlTags(big).size(), 88890u);
}

TEST(VeskRutins, HtmlToLines) {
    TStringList l{"old"};
    HtmlToLines("a<br>b&lt;c</p>d", l);
    EXPECT_EQ(l, (TStringList{"a", "b<cd"}));
    HtmlToLines("<P class=x>&auml;&Ouml;&amp;\r\n<li>x&gt;<  br>end", l);
    EXPECT_EQ(l, (TStringList{"", "\xC3\xA4\xC3\x96&amp;", "x>", "end"}));
    HtmlToLines("trailing <b", l);
    EXPECT_EQ(l, (TStringList{"trailing "}));
    HtmlToLines("a&", l);
    EXPECT_EQ(l, (TStringList{"a&"}));
    // A body of a million "&" and no ";" is read in one pass.
    HtmlToLines(std::string(1000000, '&') + ";&lt;", l);
    ASSERT_EQ(l.Count(), 1);
    EXPECT_EQ(l[0].size(), 1000002u);
    EXPECT_EQ(l[0].substr(999998), "&&;<");
}

TEST(VeskRutins, DefaultRouteDecidesConnectedState) {
    std::string header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\n";
    std::string lan = header + "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\n";
    std::string onlyLo = header + "lo\t00000000\t00000000\t0001\t0\t0\t0\t00000000\n";
    std::string noDefault = header + "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\n";
    std::string v6 = std::string(32, '0') + " 00 " + std::string(32, '0') + " 00 " +
                     "fe800000000000000000000000000001 00000400 00000001 00000000 00000003 wlan0\n";
    EXPECT_TRUE(HasDefaultRoute(lan, ""));
    EXPECT_FALSE(HasDefaultRoute(onlyLo, ""));
    EXPECT_FALSE(HasDefaultRoute(noDefault, ""));
    EXPECT_TRUE(HasDefaultRoute(noDefault, v6));
    EXPECT_FALSE(HasDefaultRoute("", ""));
}

TEST(VeskRutins, ShortcutsAndFolders) {
    TempDir dir;
    std::string link = dir.File("Tarnwick bob.lnk");
    ASSERT_TRUE(CreateShortcut(link, "", "/opt/tw/tarnwick", "-user -bob", "/opt/tw/", "", 0, 0));
    EXPECT_EQ(ShortcutFileName(link), dir.File("Tarnwick bob.desktop"));
    std::string text = ReadFileToString(dir.File("Tarnwick bob.desktop"));
    EXPECT_TRUE(Contains(text, "\nExec=/opt/tw/tarnwick -user -bob\n"));
    EXPECT_TRUE(Contains(text, "\nPath=/opt/tw/\n"));
    EXPECT_FALSE(Contains(text, "Comment="));
    EXPECT_FALSE(CreateShortcut(dir.File("no/folder/x.lnk"), "", "/bin/true", "", "", "", 0, 0));

    EXPECT_TRUE(EndsText("/autostart", GetSpecialFolderPath(9)));
    EXPECT_EQ(GetSpecialFolderPath(-1), "");
}

TEST(VeskRutins, JpegToPicture) {
    TempDir dir;
    QImage red(40, 30, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(QString::fromStdString(dir.File("screenshot.jpg")), "JPG"));
    QImage img;
    JpegToPicture(dir.File("screenshot.jpg"), img);
    EXPECT_EQ(img.size(), QSize(40, 30));
    EXPECT_TRUE(qRed(img.pixel(5, 5)) > 200 && qGreen(img.pixel(5, 5)) < 50);
    std::string jpeg = ReadFileToString(dir.File("screenshot.jpg"));
    WriteTestFile(dir.File("cut.jpg"), jpeg.substr(0, 100));
    WriteTestFile(dir.File("junk.jpg"), "not a jpeg at all");
    EXPECT_THROW(JpegToPicture(dir.File("junk.jpg"), img), EInvalidGraphic);
    EXPECT_THROW(JpegToPicture(dir.File("missing.jpg"), img), EInvalidGraphic);
    try {
        JpegToPicture(dir.File("cut.jpg"), img);  // libjpeg pads a short file; either way no crash
    } catch (const EInvalidGraphic &) {
    }
}

TEST(VeskRutins, ProcessesAndScreenSaver) {
    std::string self = ExtractFileName(ApplicationExeName());
    EXPECT_TRUE(IsProcessRunning(self));
    EXPECT_TRUE(IsProcessRunning(self + ".exe"));
    EXPECT_FALSE(IsProcessRunning("no-such-program-here.exe"));
    EXPECT_FALSE(IsProcessRunning(""));
    // The desktop's screen saver, as the desktop back-end sees it.
    TRecordingDesktop desktop;
    TDesktop *previous = SetDesktop(&desktop);
    EXPECT_FALSE(IsScreenSaverRunning());
    desktop.SaverActiveAnswers = 1;
    EXPECT_TRUE(IsScreenSaverRunning());
    SetDesktop(previous);
}

// ---- unDecodes -----------------------------------------------------------------

TEST(unDecodes, CharsetConversions) {
    EXPECT_EQ(Koi8rToWide("\xF0\xD2\xC9\xD7\xC5\xD4, ok"), "Привет, ok");
    EXPECT_EQ(Koi8rToWide("\xA3\xB3\x9A"), "ёЁ\xC2\xA0");
    EXPECT_EQ(Koi8rToWide(""), "");
    // Utf8ToLatin1 keeps valid text and repairs the rest.
    EXPECT_EQ(Utf8ToLatin1("\xC3\xA4iti \xC3\xA9t\xC3\xA9 \xE2\x82\xAC"), "\xC3\xA4iti \xC3\xA9t\xC3\xA9 \xE2\x82\xAC");
    // Bytes that are not UTF-8 are Windows-1252 characters.
    EXPECT_EQ(Utf8ToLatin1("p\xE4iv\xE4 \x80"), "p\xC3\xA4iv\xC3\xA4 \xE2\x82\xAC");
    EXPECT_EQ(Utf8ToLatin1("end\xC3"), "end\xC3\x83");
    EXPECT_EQ(Utf8ToLatin1("\xE2\x82"), "\xC3\xA2\xE2\x80\x9A");
    EXPECT_TRUE(IsValidUtf8(Utf8ToLatin1(std::string("\xF5\xFF\xC0\xAF\xED\xA0\x80", 7))));
    // Utf8ToLatin1Bytes folds to single bytes. Only E2 82 AC is the euro
    // sign; other E2 sequences lose their lead byte.
    for (auto [utf8, bytes] : {std::pair{"\xC3\xA4", "\xE4"}, {"\xC3\xA9", "\xE9"}, {"\xC3\x80\xC3\xBF", "\xC0\xFF"},
                               {"\xC2\xA0\xC2\xBD", "\xA0\xBD"}, {"\xE2\x82\xAC!", "\x80!"},
                               {"\xE2\x80\x93", "\x80\x93"}, {"\xE2\x82", "\x82"}, {"x\xC3", "x"}, {"\xC3z", "z"}})
        EXPECT_EQ(Utf8ToLatin1Bytes(utf8), bytes) << utf8;
}
