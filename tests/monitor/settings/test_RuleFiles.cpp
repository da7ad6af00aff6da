// Rule files as the editor and the rules page handle them: reading and
// writing one rule, renaming, and the names a rule may have.

#include <gtest/gtest.h>

#include "settings/CryptStr.h"
#include "IniFile.h"
#include "settings/Kel_Reg.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "settings/unRules.h"

namespace {

class RuleFilesTest : public ::testing::Test {
protected:
    std::string Rules() { return Dir.Path() + "rules/"; }
    TempDir Dir;
};

}  // namespace

TEST_F(RuleFilesTest, DefinitionRoundTripAndPasswords) {
    // A missing file reads as the editor's defaults.
    TRuleDefinition d = ReadRuleDefinition(Rules() + "none.rul");
    EXPECT_EQ(d.Job, -1);
    EXPECT_TRUE(d.AllAccounts);
    EXPECT_EQ(d.Port, "25");
    EXPECT_TRUE(d.EMails.Empty());

    d.Job = 1;
    d.AllAccounts = false;
    d.Accounts = {"Work", "Home"};
    d.AccountKeys = {4, 7};
    d.EMailRule = 2;
    d.EMails = {"ann@x.fi", "news"};
    d.WordsRule = 5;
    d.Words = {"sale"};
    d.Host = "smtp.x.fi";
    d.Port = "587";
    d.User = "me";
    d.Pass = "pä ss_0";
    d.Path = "/home/me/saved";
    ForceDirectories(Rules());
    WriteRuleDefinition(Rules() + "r.rul", d);
    EXPECT_EQ(IniReadString(Rules() + "r.rul", "Accounts", "7", ""), "Home");
    std::string stored = IniReadString(Rules() + "r.rul", "Options", "Pass", "");
    EXPECT_NE(stored, d.Pass);
    EXPECT_EQ(UnscrambleStr(stored), d.Pass);
    TRuleDefinition back = ReadRuleDefinition(Rules() + "r.rul");
    EXPECT_EQ(back.Job, 1);
    EXPECT_FALSE(back.AllAccounts);
    EXPECT_EQ(back.Accounts, (TStringList{"Work", "Home"}));
    EXPECT_EQ(back.EMailRule, 2);
    EXPECT_EQ(back.EMails, d.EMails);
    EXPECT_EQ(back.WordsRule, 5);
    EXPECT_EQ(back.Words, d.Words);
    EXPECT_EQ(back.Host + back.Port + back.User + back.Pass + back.Path, d.Host + d.Port + d.User + d.Pass + d.Path);
    // The engine reads the same file.
    EXPECT_EQ(ApplyRules(Rules(), TRuleMessage{"Home", "x", "y@z", "big sale"}).Action, raNone);
    EXPECT_EQ(ApplyRules(Rules(), TRuleMessage{"Home", "daily news", "y@z", "big sale"}).Action, raDelete);

    // Passwords an older editor stored as typed read as they stand, also
    // ones that merely begin like the scrambled form; an empty one is empty.
    for (const char *plain : {"secret", "0_", "0_12_", "0_1_2_3", "0_300_1_2_", "0_1_2_3_4_", ""}) {
        SCOPED_TRACE(plain);
        WriteTestFile(Rules() + "p.rul", std::string("[Options]\r\nPass=") + plain + "\r\n");
        IniFileCacheClear();
        EXPECT_EQ(ReadRuleDefinition(Rules() + "p.rul").Pass, plain);
    }
    // Non-numbers in the tests read as the boxes' first items, not as errors.
    WriteTestFile(Rules() + "n.rul", "[Rule]\r\nRule1=one\r\nEMailRule=\r\nWordsRule=x\r\n");
    IniFileCacheClear();
    d = ReadRuleDefinition(Rules() + "n.rul");
    EXPECT_EQ(d.Job, -1);
    EXPECT_EQ(d.EMailRule, 0);
    EXPECT_EQ(d.WordsRule, 0);
}

TEST_F(RuleFilesTest, RenameNeverReplacesAnotherRule) {
    WriteTestFile(Rules() + "Spam.rul", "[Rule]\r\nRule1=1\r\n");
    WriteTestFile(Rules() + "News.rul", "[Rule]\r\nRule1=0\r\n");
    EXPECT_EQ(RenameRule(Rules(), "Spam", "News"), TRuleRename::Exists);
    EXPECT_EQ(RenameRule(Rules(), "Spam", "NEWS"), TRuleRename::Exists);
    EXPECT_EQ(ReadTestFile(Rules() + "News.rul"), "[Rule]\r\nRule1=0\r\n");
    EXPECT_EQ(RenameRule(Rules(), "missing", "Other"), TRuleRename::Failed);
    // Only the letter case changes: allowed, and the rule keeps its content.
    EXPECT_EQ(RenameRule(Rules(), "spam", "SPAM"), TRuleRename::Renamed);
    EXPECT_TRUE(FileExists(Rules() + "SPAM.rul"));
    EXPECT_FALSE(FileExists(Rules() + "Spam.rul"));
    EXPECT_EQ(RenameRule(Rules(), "SPAM", "Junk"), TRuleRename::Renamed);
    EXPECT_EQ(ReadTestFile(Rules() + "Junk.rul"), "[Rule]\r\nRule1=1\r\n");
    EXPECT_TRUE(RuleExists(Rules(), "junk"));
    EXPECT_FALSE(RuleExists(Rules(), "Spam"));
    // A folder in the way counts as taken too.
    ForceDirectories(Rules() + "Dir.rul");
    EXPECT_EQ(RenameRule(Rules(), "Junk", "dir"), TRuleRename::Exists);
    EXPECT_TRUE(FileExists(Rules() + "Junk.rul"));
}

TEST_F(RuleFilesTest, ForbiddenNameCharacters) {
    for (const char *bad : {"a\\b", "a/b", "a:b", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b", "a\tb", "a\nb", "a\x7f"})
        EXPECT_TRUE(RuleNameHasForbiddenChar(bad)) << bad;
    for (const char *good : {"Spam", "Äiti's mail", "x.y", "a b", "-1"})
        EXPECT_FALSE(RuleNameHasForbiddenChar(good)) << good;
}
