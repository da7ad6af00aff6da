#include <gtest/gtest.h>

#include <regex>

#include "ChildProcess.h"
#include "settings/ColorNames.h"
#include "options/RtfLog.h"
#include "SysUtils.h"
#include "TestSupport.h"

namespace {

TRtfLine L(std::initializer_list<TRtfRun> runs) { return TRtfLine{std::vector<TRtfRun>(runs)}; }

std::vector<std::string> Texts(const std::vector<TRtfLine> &lines) {
    std::vector<std::string> out;
    for (const auto &l : lines) out.push_back(l.Text());
    return out;
}

// A log as the program writes it: header, coloured report lines, and text
// from servers that holds RTF's own signs and letters of every kind.
std::vector<TRtfLine> SampleLog() {
    return {
        L({{"Tarnwick Log:", 0}}),
        L({{std::string(26, '-'), 0}}),
        L({{"12:00:01  Log started", 32768}}),
        L({{"12:00:02  Päivitys € – {braces} and \\backslash\\", 255}}),
        L({{"12:00:03  Server said: 日本語 😀\tand a tab", 16711680}}),
        L({}),
        L({{"black ", -1}, {"then red", 255}, {" then default", -1}}),
    };
}

}  // namespace

TEST(RtfLog, WrittenLogReadsBackWithItsColoursAndLetters) {
    std::vector<TRtfLine> log = SampleLog();
    std::string rtf = RtfWriteLog(log);
    EXPECT_EQ(rtf.rfind("{\\rtf1\\ansi\\ansicpg1252", 0), 0u);
    // Plain 7-bit text: every letter beyond ASCII is escaped.
    for (char c : rtf) EXPECT_LT(static_cast<unsigned char>(c), 0x80u);
    EXPECT_EQ(RtfReadLog(rtf), log);
    // An empty log is an empty document, and reads back as no lines.
    EXPECT_TRUE(RtfReadLog(RtfWriteLog({})).empty());
}

TEST(RtfLog, ReadsTheRichTextBoxFilesOfEarlierReleases) {
    // A rich-text box's own file, as the log of earlier releases was saved.
    std::string old =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1035{\\fonttbl{\\f0\\fnil\\fcharset0 MS Sans Serif;}}\r\n"
        "{\\colortbl ;\\red0\\green0\\blue0;\\red0\\green128\\blue0;\\red255\\green0\\blue0;}\r\n"
        "{\\*\\generator Msftedit 5.41.21.2510;}\\viewkind4\\uc1\\pard\\f0\\fs16 Tarnwick Log:\\par\r\n"
        "--------------------------\\par\r\n"
        "\\cf2 12:00:01  Log started\\par\r\n"
        "\\cf3 12:00:02  Yhteys katkesi: \\'e4\\'f6 \\'80\\par\r\n"
        "\\cf1 12:00:03  \\u1071\\'3f \\u-3913\\'3f\\par\r\n"
        "\\cf0\\par\r\n"
        "}\r\n";
    std::vector<TRtfLine> lines = RtfReadLog(old);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(Texts(lines)[0], "Tarnwick Log:");
    EXPECT_EQ(lines[2].Runs.at(0).Colour, 32768);
    EXPECT_EQ(lines[3].Text(), "12:00:02  Yhteys katkesi: äö €");
    EXPECT_EQ(lines[3].Runs.at(0).Colour, 255);
    // \uN with its one-character fallback; a negative N is above 0x7FFF.
    EXPECT_EQ(lines[4].Text(), "12:00:03  Я \uF0B7");
    EXPECT_EQ(lines[4].Runs.at(0).Colour, 0);
    EXPECT_EQ(lines[5].Text(), "");
}

TEST(RtfLog, SkipsWhatALogDoesNotShowAndRefusesWhatIsNotRichText) {
    std::string doc = "{\\rtf1{\\info{\\title secret}{\\author x}}{\\stylesheet{\\s0 Normal;}}"
                      "{\\*\\unknowndest hidden}{\\pict 89504e47}a\\~b\\line c\\tab d\\}\\{\\\\ e}";
    EXPECT_EQ(Texts(RtfReadLog(doc)), (std::vector<std::string>{"a\u00A0b", "c\td}{\\ e"}));
    for (const char *bad : {"", "plain text", "{\\rtfx", "<html>{\\rtf1}"})
        EXPECT_NE(Thrown<ERtfError>([&] { RtfReadLog(bad); }), "(no exception)") << bad;
    // Hostile input: deep nesting is refused; the rest is read as far as it goes.
    std::string deep = "{\\rtf1" + std::string(RtfMaxDepth + 5, '{') + "x";
    EXPECT_NE(Thrown<ERtfError>([&] { RtfReadLog(deep); }), "(no exception)");
    std::string ok = "{\\rtf1" + std::string(RtfMaxDepth - 1, '{') + "x";
    EXPECT_EQ(Texts(RtfReadLog(ok)), (std::vector<std::string>{"x"}));
    std::string table = "{\\rtf1{\\colortbl ;";
    for (int i = 0; i < 3 * RtfMaxColours; ++i) table += "\\red1;";
    table += "}\\cf99999999999 a\\cf2000 b\\cf-1 c\\u99999999 d\\u-99999 e\\'zz f\\";
    // Out-of-range numbers show nothing, and their fallback letters ("d",
    // "e") go as a \uN's always do.
    EXPECT_EQ(Texts(RtfReadLog(table)), (std::vector<std::string>{"abczz f"}));
    // A high surrogate without its pair is dropped, not glued to the next letter.
    EXPECT_EQ(Texts(RtfReadLog("{\\rtf1\\u-10179?x}")), (std::vector<std::string>{"x"}));
}

TEST(RtfLog, AWordProcessorOpensTheLogWithItsColoursAndLetters) {
    TempDir dir;
    const std::string rtf = dir.File("log.rtf");
    WriteTestFile(rtf, RtfWriteLog(SampleLog()));
    std::string output;
    int rc = RunProgram({"soffice", "-env:UserInstallation=file://" + dir.Path() + "profile", "--headless",
                         "--convert-to", "html", "--outdir", dir.Path(), rtf},
                        &output, nullptr, {"HOME=" + dir.Path()}, "", 180);
    ASSERT_EQ(rc, 0) << output;
    std::string html = ReadTestFile(dir.File("log.html"));
    ASSERT_FALSE(html.empty()) << output;
    // The text with its markup and line breaks taken out.
    std::string text = std::regex_replace(html, std::regex("<[^>]*>"), " ");
    text = std::regex_replace(text, std::regex("&amp;"), "&");
    // Runs of blanks come out as no-break and typographic spaces.
    text = std::regex_replace(text, std::regex("&nbsp;|\xC2\xA0|\xE2\x80[\x80-\x8A]"), " ");
    text = std::regex_replace(text, std::regex("\\s+"), " ");
    for (const char *expected : {"Tarnwick Log:", "12:00:01 Log started", "Päivitys € – {braces} and \\backslash\\",
                                 "Server said: 日本語 😀", "black then red then default"})
        EXPECT_TRUE(Contains(text, expected)) << expected << "\n" << text;
    std::string lower = LowerCase(html);
    EXPECT_TRUE(Contains(lower, "color=\"#008000\"")) << html;  // green
    EXPECT_TRUE(Contains(lower, "color=\"#ff0000\"")) << html;  // red
    EXPECT_TRUE(Contains(lower, "color=\"#0000ff\"")) << html;  // blue
}

TEST(ColorNames, NamedColoursByNameAndOthersAsHexReadBackEitherWay) {
    EXPECT_EQ(ColorToString(0x008000), "clGreen");
    EXPECT_EQ(ColorToString(0x0000FF), "clRed");
    EXPECT_EQ(ColorToString(0xF0CAA6), "clSkyBlue");
    EXPECT_EQ(ColorToString(0x123456), "$00123456");
    for (int c : {0, 0x008000, 0x123456, 0xFFFFFF, 0xA4A0A0, 0x00ABCD}) {
        int back = -1;
        ASSERT_TRUE(TryStringToColor(ColorToString(c), back)) << c;
        EXPECT_EQ(back, c);
    }
    int c = -1;
    EXPECT_TRUE(TryStringToColor("CLBLUE", c));
    EXPECT_EQ(c, 0xFF0000);
    EXPECT_TRUE(TryStringToColor("32768", c));
    EXPECT_EQ(c, 0x008000);
    for (const char *bad : {"", "clNoSuch", "$1FFFFFFF", "-5", "green", "$"}) {
        c = 7;
        EXPECT_FALSE(TryStringToColor(bad, c)) << bad;
        EXPECT_EQ(c, 7);
    }
}
