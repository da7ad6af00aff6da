#include "unRules.h"

#include "IniFile.h"
#include "SysUtils.h"
#include "VeskRutins.h"
#include "unDecodes.h"

uint8_t RuleActionFromJob(int job) {
    switch (job) {
    case -1: return raNone;
    case 0: return raHide;
    case 1: return raDelete;
    case 2: return raJob2;
    case 3: return raSave;
    case 4: return raJob4;
    default: return raUnknown;
    }
}

namespace {

// Values of a numbered-key section ("0", "1", ...), in file order.
TStringList SectionValues(TIniFile &ini, const std::string &section) {
    TStringList keys, values;
    ini.ReadSection(section, keys);
    for (const auto &k : keys) values.Add(ini.ReadString(section, k, ""));
    return values;
}

// Sender entries and words as message texts are compared: UTF-8. Rule and
// blacklist files written on the original platform hold Windows-1252 bytes;
// such a value is taken as that, as language files are.
std::string TextValue(const std::string &s) { return IsValidUtf8(s) ? s : Cp1252ToUtf8(s); }

TStringList TextValues(TIniFile &ini, const std::string &section) {
    TStringList values = SectionValues(ini, section);
    for (int i = 0; i < values.Count(); ++i) values[i] = TextValue(values[i]);
    return values;
}

// The part after the first "@", or "" when there is no "@".
bool DomainOf(const std::string &s, std::string &domain) {
    int p = Pos("@", s);
    if (p == 0) return false;
    domain = Copy(s, p + 1);
    return true;
}

bool MatchesAccount(TIniFile &ini, const TRuleMessage &m) {
    if (StrToBoolean(ini.ReadString("Rule", "AllAccounts", "False"))) return true;
    return SectionValues(ini, "Accounts").IndexOf(m.AccountName) >= 0;
}

bool MatchesSender(TIniFile &ini, const TRuleMessage &m) {
    if (StrToBoolean(ini.ReadString("Rule", "AllEMails", "False"))) return true;
    TStringList entries = TextValues(ini, "EMails");
    if (entries.Empty()) return false;
    switch (StrToInt(ini.ReadString("Rule", "EMailRule", "0"))) {
    case 0:
        // An empty entry (a blank line the editor let through) must not
        // catch every sender that came without a display name.
        for (const auto &e : entries)
            if (!e.empty() && (e == m.SenderName || e == m.SenderAddress)) return true;
        return false;
    case 1: {
        std::string domain;
        if (!DomainOf(m.SenderAddress, domain) || domain.empty()) return false;
        for (const auto &e : entries) {
            std::string entryDomain;
            if (DomainOf(e, entryDomain) ? entryDomain == domain : e == domain) return true;
        }
        return false;
    }
    case 2:
        for (const auto &e : entries)
            if (Contains(m.SenderName, e)) return true;
        return false;
    default: return false;
    }
}

bool MatchesSubject(TIniFile &ini, const TRuleMessage &m) {
    TStringList words = TextValues(ini, "Words");
    int rule = StrToInt(ini.ReadString("Rule", "WordsRule", "0"));
    auto anyInside = [&] {
        for (const auto &w : words)
            if (Contains(m.Subject, w)) return true;
        return false;
    };
    // Empty words never match, not even an empty subject: "no words" is
    // the only way to ask for that.
    auto anyEqual = [&] { return !m.Subject.empty() && words.IndexOf(m.Subject) >= 0; };
    switch (rule) {
    case 0: return words.Empty() || anyInside();
    case 1: return !words.Empty() && !anyInside();
    case 2: return (words.Empty() && m.Subject.empty()) || anyEqual();
    case 3: return !(words.Empty() && m.Subject.empty()) && !anyEqual();
    case 4: return Trim(m.Subject).empty();
    case 5: return !Trim(m.Subject).empty();
    case 6: return true;
    default: return false;
    }
}

}  // namespace

bool RuleMatchesAccount(const std::string &ruleFile, const TRuleMessage &m) {
    TMemIniFile ini(ruleFile);
    return MatchesAccount(ini, m);
}

bool RuleMatchesSender(const std::string &ruleFile, const TRuleMessage &m) {
    TMemIniFile ini(ruleFile);
    return MatchesSender(ini, m);
}

bool RuleMatchesSubject(const std::string &ruleFile, const TRuleMessage &m) {
    TMemIniFile ini(ruleFile);
    return MatchesSubject(ini, m);
}

TRuleResult ApplyRules(const std::string &rulesFolder, const TRuleMessage &m) {
    TRuleResult r;
    std::string folder = IncludeTrailingPathDelimiter(rulesFolder);
    for (const auto &name : ListDirectory(folder, true, false)) {
        if (!MatchesMask(name, "*.rul")) continue;
        try {
            TMemIniFile ini(folder + name);
            if (!StrToBoolean(ini.ReadString("Rule", "Enabled", "True"))) continue;
            int job = StrToInt(ini.ReadString("Rule", "Rule1", "-1"));
            if (job == -1) continue;
            if (MatchesAccount(ini, m) && MatchesSender(ini, m) && MatchesSubject(ini, m)) {
                r.Action = RuleActionFromJob(job);
                r.MatchedRule = name;
            }
        } catch (const Exception &e) {
            r.Problems.Add("Rule \"" + name + "\" skipped: " + e.Message());
        }
    }
    return r;
}

void WriteRuleFile(const std::string &rulesFolder, const std::string &ruleName, int job,
                   bool allSenders, bool subjectFlag, const std::string &senderEntry,
                   const TStringList &words) {
    TMemIniFile ini(IncludeTrailingPathDelimiter(rulesFolder) + ruleName + ".rul", 0600);
    ini.WriteString("Rule", "Rule1", IntToStr(job));
    ini.WriteString("Rule", "AllAccounts", "True");
    ini.WriteString("Rule", "EMailRule", "0");
    ini.WriteString("Rule", "AllEMails", BooleanToStr(allSenders));
    if (!allSenders) {
        TStringList entries = TextValues(ini, "EMails");
        entries.Add(TextValue(senderEntry));
        ini.EraseSection("EMails");
        for (int i = 0; i < entries.Count(); ++i)
            ini.WriteString("EMails", IntToStr(i), Utf8LowerCase(entries[i]));
    }
    ini.WriteString("Rule", "WordsRule", "6");
    if (subjectFlag) {
        ini.WriteString("Rule", "WordsRule", "0");
        ini.EraseSection("Words");
        for (int i = 0; i < words.Count(); ++i)
            ini.WriteString("Words", IntToStr(i), Utf8LowerCase(TextValue(words[i])));
    }
    ini.UpdateFile();
}

bool ImportBlacklistFile(const std::string &programFolder, TStringList &problems,
                         const std::function<void()> &idle) {
    std::string folder = IncludeTrailingPathDelimiter(programFolder);
    std::string file = ResolvePathCI(folder + "blacklist.dat");
    if (!FileExists(file)) return true;
    bool allWritten = true;
    try {
        TMemIniFile ini(file);
        TStringList sections;
        ini.ReadSections(sections);
        std::string rules = ResolvePathCI(folder + "rules");
        if (!DirectoryExists(rules)) ForceDirectories(rules);
        for (const auto &sec : sections) {
            int job = -1;
            if (StrToBoolean(ini.ReadString(sec, "Hide", "False"))) job = 0;
            else if (StrToBoolean(ini.ReadString(sec, "Del", "False"))) job = 1;
            std::string subjects = ini.ReadString(sec, "Subjects", "");
            bool subjectFlag = StrToBoolean(ini.ReadString(sec, "BLJobSubs", "False")) && !subjects.empty();
            TStringList words;
            if (subjectFlag) SplitToList(words, subjects);
            std::string name;
            if (job == 0) name = subjectFlag ? "Hide_If" : "Hide";
            else if (job == 1) name = subjectFlag ? "Del_If" : "Del";
            else name = "Nothing";
            bool all = sec == "?";
            if (all) name = "All";
            try {
                WriteRuleFile(rules, name, job, all, subjectFlag, sec, words);
            } catch (const Exception &e) {
                allWritten = false;
                problems.Add("Blacklist entry \"" + sec + "\" not converted: " + e.Message());
            }
            if (idle) idle();
        }
    } catch (const Exception &e) {
        problems.Add("Blacklist not converted: " + e.Message());
        return false;
    }
    if (!allWritten) return false;
    return DeleteFile(file);
}
