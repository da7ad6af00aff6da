#include <gtest/gtest.h>

#include <climits>
#include <tuple>

#include "settings/HostData.h"
#include "settings/Kel_Reg.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "settings/unDecodes.h"
#include "settings/unRules.h"

namespace {

class RulesTest : public ::testing::Test {
protected:
    std::string Rules() { return Dir.Path() + "rules/"; }
    void Rule(const std::string &name, const std::string &text) { WriteTestFile(Rules() + name, text); }
    TRuleMessage Msg(std::string account, std::string name, std::string addr, std::string subject) {
        return TRuleMessage{account, Utf8LowerCase(name), Utf8LowerCase(addr), Utf8LowerCase(subject)};
    }
    TempDir Dir;
};

const char *kAnySender = "AllAccounts=True\r\nAllEMails=True\r\nWordsRule=6\r\n";

}  // namespace

TEST_F(RulesTest, LastMatchInNameOrderDecides) {
    auto m = Msg("Home", "Ann", "ann@x.fi", "Hello");
    EXPECT_EQ(ApplyRules(Rules(), m).Action, raNone);  // no folder
    Rule("a_delete.rul", std::string("[Rule]\r\nRule1=1\r\n") + kAnySender);
    Rule("B_hide.rul", std::string("[Rule]\r\nRule1=0\r\n") + kAnySender);
    Rule("c_off.rul", std::string("[Rule]\r\nRule1=3\r\nEnabled=False\r\n") + kAnySender);
    Rule("d_nothing.rul", std::string("[Rule]\r\nRule1=-1\r\n") + kAnySender);
    Rule("notes.txt", std::string("[Rule]\r\nRule1=1\r\n") + kAnySender);
    TRuleResult r = ApplyRules(Rules(), m);
    EXPECT_EQ(r.Action, raHide);
    EXPECT_EQ(r.MatchedRule, "B_hide.rul");
    // A damaged rule is skipped and named; the others still decide.
    Rule("e_broken.rul", std::string("[Rule]\r\nRule1=zero\r\n") + kAnySender);
    Rule("f_bad_test.rul", "[Rule]\r\nRule1=1\r\nAllAccounts=True\r\nAllEMails=True\r\nWordsRule=x\r\n");
    r = ApplyRules(Rules(), m);
    EXPECT_EQ(r.Action, raHide);
    EXPECT_EQ(r.Problems.Count(), 2);
    // Job 2 is recorded as new mail by the cycle.
    Rule("z_two.rul", std::string("[Rule]\r\nRule1=2\r\n") + kAnySender);
    EXPECT_EQ(ApplyRules(Rules(), m).Action, 4);
}

TEST_F(RulesTest, EngineDefaultsDifferFromTheEditors) {
    // The engine reads AllAccounts and AllEMails as "False" (the editor shows
    // "True" for a missing AllAccounts), Enabled as "True" and WordsRule as 0;
    // only the exact "True" counts.
    auto m = Msg("Home", "Ann", "ann@x.fi", "hi");
    for (auto [keys, action] : {std::pair{"", int(raNone)},
                                {"AllAccounts=True\r\n", raNone},
                                {"AllAccounts=True\r\nAllEMails=True\r\n", raHide},
                                {"AllAccounts=true\r\nAllEMails=True\r\n", raNone},
                                {"Enabled=true\r\nAllAccounts=True\r\nAllEMails=True\r\n", raNone}}) {
        SCOPED_TRACE(keys);
        Rule("r.rul", std::string("[Rule]\r\nRule1=0\r\n") + keys);
        EXPECT_EQ(ApplyRules(Rules(), m).Action, action);
    }
}

TEST_F(RulesTest, AccountAndSenderTests) {
    std::string f = Rules() + "r.rul";
    Rule("r.rul", "[Rule]\r\nRule1=0\r\n[Accounts]\r\n0=Home\r\n[EMails]\r\n");
    EXPECT_TRUE(RuleMatchesAccount(f, Msg("Home", "", "", "")));
    EXPECT_FALSE(RuleMatchesAccount(f, Msg("home", "", "", "")));
    const char *exact = "EMailRule=0\r\n[EMails]\r\n0=ann@x.fi\r\n1=bob\r\n",
               *domain = "EMailRule=1\r\n[EMails]\r\n0=x.fi\r\n1=someone@y.fi\r\n",
               *words = "EMailRule=2\r\n[EMails]\r\n0=news\r\n1=\r\n";
    struct Case {
        const char *rule, *name, *addr;
        bool match;
    } cases[] = {
        {"Rule1=0\r\n[EMails]\r\n", "ann", "ann@x.fi", false},  // no entries, not every sender: never
        {exact, "Someone", "Ann@X.fi", true}, {exact, "Bob", "b@y.fi", true}, {exact, "bobby", "b@y.fi", false},
        {domain, "", "ann@x.fi", true}, {domain, "", "other@y.fi", true}, {domain, "", "ann@sub.x.fi", false},
        {domain, "x.fi", "x.fi", false},  // no "@": never
        // A blank entry never matches, not even a sender without a display
        // name or an address without a domain.
        {"EMailRule=0\r\n[EMails]\r\n0=\r\n", "", "ann@x.fi", false},
        {"EMailRule=1\r\n[EMails]\r\n0=\r\n1=b@\r\n", "", "ann@", false},
        {words, "Daily News", "", true}, {words, "Ann", "", false},
        {"EMailRule=7\r\n[EMails]\r\n0=ann\r\n", "ann", "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.rule) + " / " + c.name + " / " + c.addr);
        Rule("r.rul", std::string("[Rule]\r\n") + c.rule);
        EXPECT_EQ(RuleMatchesSender(f, Msg("Home", c.name, c.addr, "")), c.match);
    }
}

TEST_F(RulesTest, SubjectTests) {
    // An empty word never matches, nor equals anything, not even an empty subject.
    const char *viagra = "0=viagra\r\n", *hello = "0=hello\r\n", *blank = "0=\r\n";
    struct Case {
        int rule;
        std::string words, subject;
        bool match;
    } cases[] = {
        {0, "", "anything", true}, {1, "", "anything", false}, {0, viagra + std::string(blank), "Cheap VIAGRA now", true},
        {0, viagra + std::string(blank), "Hello", false}, {1, viagra, "cheap viagra", false}, {1, viagra, "hello", true},
        {2, "", "", true}, {2, "", "x", false}, {2, hello, "Hello", true}, {2, hello, "hello there", false},
        {3, "", "", false}, {3, "", "x", true}, {3, hello, "hello", false}, {2, blank, "", false}, {3, blank, "", true},
        {4, "", "   ", true}, {4, "", " a ", false}, {5, "", " a ", true}, {6, "", "", true}, {9, "", "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(IntToStr(c.rule) + " " + c.words + " / " + c.subject);
        Rule("s.rul", "[Rule]\r\nWordsRule=" + IntToStr(c.rule) + "\r\n[Words]\r\n" + c.words);
        EXPECT_EQ(RuleMatchesSubject(Rules() + "s.rul", Msg("", "", "", c.subject)), c.match);
    }
    // Letters beyond ASCII compare lower-cased on both sides.
    TStringList words{"ÄLÄ Osta"};
    WriteRuleFile(Rules(), "Spam", 0, true, true, "", words);
    EXPECT_EQ(IniReadString(Rules() + "Spam.rul", "Words", "0", ""), "älä osta");
    EXPECT_EQ(ApplyRules(Rules(), Msg("Any", "x", "x@y", "ÄLÄ OSTA TÄTÄ")).Action, raHide);
}

TEST_F(RulesTest, BlacklistImport) {
    WriteTestFile(Dir.File("blacklist.dat"),
                  "[Spam@Example.com]\r\nHide=True\r\n"
                  "[junk@x.fi]\r\nHide=True\r\n"
                  "[?]\r\nDel=True\r\nBLJobSubs=True\r\nSubjects= Win ; ; Cheap \r\n"
                  "[quiet@x.fi]\r\nBLJobSubs=True\r\n");
    TStringList problems;
    int idles = 0;
    EXPECT_TRUE(ImportBlacklistFile(Dir.Path(), problems, [&] { ++idles; }));
    EXPECT_EQ(idles, 4);
    EXPECT_TRUE(problems.Empty()) << problems.Text();
    EXPECT_FALSE(FileExists(Dir.File("blacklist.dat")));
    EXPECT_EQ(ListDirectory(Rules()), (std::vector<std::string>{"All.rul", "Hide.rul", "Nothing.rul"}));
    // The keys the rule editor reads back.
    for (auto [file, key, value] : {std::tuple{"Hide.rul", "Rule1", "0"}, {"Hide.rul", "AllEMails", "False"},
                                    {"Hide.rul", "WordsRule", "6"}, {"All.rul", "Rule1", "1"},
                                    {"All.rul", "AllEMails", "True"}, {"All.rul", "WordsRule", "0"}})
        EXPECT_EQ(IniReadString(Rules() + file, "Rule", key, ""), value) << file << " " << key;
    TStringList senders, words;
    IniReadSection(Rules() + "Hide.rul", "EMails", senders);
    EXPECT_EQ(senders, (TStringList{"spam@example.com", "junk@x.fi"}));
    IniReadSection(Rules() + "All.rul", "Words", words);
    EXPECT_EQ(words, (TStringList{"win", "cheap"}));
    // The imported rules work.
    EXPECT_EQ(ApplyRules(Rules(), Msg("A", "x", "junk@x.fi", "hi")).Action, raHide);
    EXPECT_EQ(ApplyRules(Rules(), Msg("A", "x", "a@b.c", "you win")).Action, raDelete);
}

TEST_F(RulesTest, WindowsCodePageFilesMatchUtf8Messages) {
    // "\xE4" is a-umlaut in the files of the original platform.
    Rule("old.rul", "[Rule]\r\nRule1=1\r\nAllAccounts=True\r\nEMailRule=2\r\nWordsRule=0\r\n"
                    "[EMails]\r\n0=p\xE4ivi\r\n[Words]\r\n0=\xE4l\xE4\r\n");
    EXPECT_EQ(ApplyRules(Rules(), Msg("A", "P\xC3\xA4ivi K", "p@x.fi", "\xC3\x84L\xC3\x84 osta")).Action, raDelete);
    EXPECT_EQ(ApplyRules(Rules(), Msg("A", "Paivi", "p@x.fi", "\xC3\xA4l\xC3\xA4")).Action, raNone);

    WriteTestFile(Dir.File("blacklist.dat"),
                  "[P\xE4ivi@x.fi]\r\nHide=True\r\nBLJobSubs=True\r\nSubjects=\xC4l\xE4;tarjous\r\n");
    TStringList problems;
    ASSERT_TRUE(ImportBlacklistFile(Dir.Path(), problems));
    EXPECT_EQ(IniReadString(Rules() + "Hide_If.rul", "EMails", "0", ""), "p\xC3\xA4ivi@x.fi");
    EXPECT_EQ(IniReadString(Rules() + "Hide_If.rul", "Words", "0", ""), "\xC3\xA4l\xC3\xA4");
}

TEST_F(RulesTest, BlacklistStaysWhenARuleCannotBeWritten) {
    WriteTestFile(Dir.File("blacklist.dat"), "[a@b.c]\r\nHide=True\r\n[d@e.f]\r\nDel=True\r\n");
    ForceDirectories(Rules() + "Hide.rul");  // a folder where the rule file should go
    TStringList problems;
    EXPECT_FALSE(ImportBlacklistFile(Dir.Path(), problems));
    EXPECT_EQ(problems.Count(), 1);
    EXPECT_TRUE(FileExists(Dir.File("blacklist.dat")));
    EXPECT_TRUE(FileExists(Rules() + "Del.rul"));
}

// ---- host data ------------------------------------------------------------------

TEST(HostData, PresetsScriptsAndFieldExtraction) {
    TempDir dir;
    std::string f = dir.File("host_data.dat");
    WriteTestFile(f,
                  "[Gmail]\r\nHost=pop.gmail.com\r\nPort=995\r\nSSL=True\r\n"
                  "[webby]\r\nWeb=True\r\nConnection=HTTP\r\nAHost=http://127.0.0.1/login\r\nButtRND=2\r\n"
                  "NewMail=class=\"unread\"\r\nDelRealN=<tr \r\nDelLn=1\r\nL1=2\r\nL5=3\r\n5=<b>\r\n6=</b>\r\n"
                  "[broken]\r\nAHost=x\r\nR1=first\r\n");
    TStringList names;
    ReadPresetNames(f, names);
    EXPECT_EQ(names, (TStringList{"Gmail", "webby", "broken"}));
    THostPreset p = ReadHostPreset(f, "gmail");  // section names match without regard to case
    EXPECT_EQ(p.Host, "pop.gmail.com");
    EXPECT_EQ(p.Connection, "POP3");
    EXPECT_TRUE(HostIsWeb(f, "webby"));
    EXPECT_FALSE(HostIsWeb(f, "Gmail"));

    THostScript none = ReadHostScript(f, "missing");
    EXPECT_FALSE(HostHasScript(none));
    THostScript s = ReadHostScript(f, "webby");
    EXPECT_TRUE(HostHasScript(s));
    EXPECT_EQ(s.Sender.Start, "<b>");
    EXPECT_THROW(ReadHostScript(f, "broken"), EConvertError);

    EXPECT_EQ(ExtractHostField("<td><b>Ann</b></td>", "<b>", "</b>"), "Ann");
    EXPECT_EQ(ExtractHostField("Ann</b>", "<b>", "</b>"), "Ann");
    EXPECT_EQ(ExtractHostField("<b>Ann", "", ""), "<b>Ann");
    std::vector<std::string> lines{"<tr class=\"unread\">", "x", "<tr >", "<tr class=\"unread\">"};
    EXPECT_EQ(FindTokenLines(lines, s.NewMail), (std::vector<int>{0, 3}));
    EXPECT_TRUE(FindTokenLines(lines, "").empty());
    EXPECT_EQ(HostFieldLine(s, 3, s.Sender.Line, false), 6);
    EXPECT_EQ(HostFieldLine(s, 3, s.Sender.Line, true), 3 + 3 + (1 - 2));
    // Absurd offsets from the file neither overflow nor wrap into the page.
    s.DelLn = INT_MAX;
    s.Id.Line = INT_MIN;
    EXPECT_EQ(HostFieldLine(s, 3, INT_MAX, true), INT_MAX);
    s.DelLn = INT_MIN;
    s.Id.Line = INT_MAX;
    EXPECT_EQ(HostFieldLine(s, 3, INT_MIN, true), INT_MIN);
    EXPECT_EQ(HostFieldLine(s, INT_MAX, INT_MAX, false), INT_MAX);
}
