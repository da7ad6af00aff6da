// The rules engine: one INI rule file per rule in "rules/", matched against
// each message the checking cycle finds, and the import of the old
// "blacklist.dat". Shared with Fenlow: no GUI in here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Classes.h"

// Actions of the cycle.
constexpr uint8_t raNone = 0, raUnknown = 1, raDelete = 2, raHide = 3, raJob2 = 4, raSave = 5,
                  raJob4 = 6;
// -1 -> 0, 0 -> 3 (hide), 1 -> 2 (delete), 2 -> 4, 3 -> 5 (save), 4 -> 6, else 1.
uint8_t RuleActionFromJob(int job);

// The message as the rules see it; sender name, address and subject come
// lower-cased (Utf8LowerCase) from the caller.
struct TRuleMessage {
    std::string AccountName;
    std::string SenderName;
    std::string SenderAddress;
    std::string Subject;
};

// A sender entry or subject word as the rules compare it: UTF-8 (an older
// file's Windows-1252 bytes taken as such), lower-cased, without blanks
// around it. Entries of one key are the same entry.
std::string RuleEntryKey(const std::string &entry);

// Each raises EConvertError for a non-numeric test number, EIniFileError for
// an unreadable file.
bool RuleMatchesAccount(const std::string &ruleFile, const TRuleMessage &m);
bool RuleMatchesSender(const std::string &ruleFile, const TRuleMessage &m);
bool RuleMatchesSubject(const std::string &ruleFile, const TRuleMessage &m);

struct TRuleResult {
    uint8_t Action = raNone;
    std::string MatchedRule;  // file name with ".rul" of the deciding rule
    TStringList Problems;     // rule files skipped as damaged
};
// Every enabled "*.rul" file of the folder in name order (without regard to
// case); the last matching rule decides. A damaged rule file is skipped and
// named in Problems; the others still count.
TRuleResult ApplyRules(const std::string &rulesFolder, const TRuleMessage &m);
// The same over a listing of the folder the caller made (ListDirectory's
// names), so that a long run of messages lists the folder now and then.
TRuleResult ApplyRules(const std::string &rulesFolder, const std::vector<std::string> &ruleFiles,
                       const TRuleMessage &m);

// One rule as the rule editor shows and writes it. Defaults are the
// editor's: a missing AllAccounts reads as every account (the engine itself
// takes it as "False"), a missing Port as "25".
struct TRuleDefinition {
    int Job = -1;  // [Rule] Rule1; a value that is not a number reads as -1
    bool AllAccounts = true;
    TStringList Accounts;          // values of [Accounts], in file order
    std::vector<int> AccountKeys;  // the key each account is written under; empty: 0..n-1
    bool AllEMails = false;
    int EMailRule = 0;
    TStringList EMails;
    int WordsRule = 0;
    TStringList Words;
    // [Options]: the save job's folder, and the mail server the editor keeps.
    std::string Host, Port = "25", User, Pass, Path;
};
// A missing file reads as the defaults. The password is stored scrambled;
// one stored in plain text by an older editor reads as it stands.
TRuleDefinition ReadRuleDefinition(const std::string &ruleFile);
// Rewrites the rule's keys in one replacement of the file; Rule1 only when
// Job is 0 or more, and never Enabled (the rule list owns it). Raises
// EIniFileError when the file cannot be written.
void WriteRuleDefinition(const std::string &ruleFile, const TRuleDefinition &rule);

// "rules/<name>.rul" of the folder, found without regard to letter case.
std::string RuleFilePath(const std::string &rulesFolder, const std::string &ruleName);
// True when a rule of that name exists (in any letter case).
bool RuleExists(const std::string &rulesFolder, const std::string &ruleName);
enum class TRuleRename { Renamed, Exists, Failed };
// Renames a rule file. Another rule of the new name (in any letter case) is
// never replaced; changing only the letter case of a name is allowed.
TRuleRename RenameRule(const std::string &rulesFolder, const std::string &oldName,
                       const std::string &newName);
// True when the name holds a character a rule file name cannot have: one of
// \ / : * ? " < > | (as on the desktop the rules were first made on) or a
// control character.
bool RuleNameHasForbiddenChar(const std::string &name);

// Writes or extends one rule file for the import (see ImportBlacklistFile).
void WriteRuleFile(const std::string &rulesFolder, const std::string &ruleName, int job,
                   bool allSenders, bool subjectFlag, const std::string &senderEntry,
                   const TStringList &words);
// Converts "blacklist.dat" of the program folder into rule files and deletes
// it, but only when every rule file was written. idle runs after each entry
// (the main window processes its messages there). True when the file is gone.
bool ImportBlacklistFile(const std::string &programFolder, TStringList &problems,
                         const std::function<void()> &idle = {});
