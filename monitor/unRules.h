// The rules engine: one INI rule file per rule in "rules/", matched against
// each message the checking cycle finds, and the import of the old
// "blacklist.dat". Shared with Fenlow: no GUI in here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

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

// Writes or extends one rule file for the import (see ImportBlacklistFile).
void WriteRuleFile(const std::string &rulesFolder, const std::string &ruleName, int job,
                   bool allSenders, bool subjectFlag, const std::string &senderEntry,
                   const TStringList &words);
// Converts "blacklist.dat" of the program folder into rule files and deletes
// it, but only when every rule file was written. idle runs after each entry
// (the main window processes its messages there). True when the file is gone.
bool ImportBlacklistFile(const std::string &programFolder, TStringList &problems,
                         const std::function<void()> &idle = {});
