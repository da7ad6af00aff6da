#include "unRules.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CryptStr.h"
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

}  // namespace

std::string RuleEntryKey(const std::string &entry) { return Utf8LowerCase(Trim(TextValue(entry))); }

namespace {

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
    return ApplyRules(rulesFolder, ListDirectory(IncludeTrailingPathDelimiter(rulesFolder), true, false), m);
}

TRuleResult ApplyRules(const std::string &rulesFolder, const std::vector<std::string> &ruleFiles,
                       const TRuleMessage &m) {
    TRuleResult r;
    // No rules (the common case, asked for every message): not even the
    // folder's name is made.
    if (ruleFiles.empty()) return r;
    std::string folder = IncludeTrailingPathDelimiter(rulesFolder);
    for (const auto &name : ruleFiles) {
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

namespace {

// The stored form of a scrambled password: "0_" and then a multiple of three
// byte codes, each followed by "_".
bool IsScrambledForm(const std::string &s) {
    if (s.size() < 2 || s[0] != '0' || s[1] != '_') return false;
    int codes = 0;
    size_t i = 2;
    while (i < s.size()) {
        size_t j = i;
        int v = 0;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9' && j - i < 3) v = v * 10 + (s[j++] - '0');
        if (j == i || j >= s.size() || s[j] != '_' || v > 255) return false;
        ++codes;
        i = j + 1;
    }
    return codes >= 3 && codes % 3 == 0;
}

int NumberOr(const std::string &s, int def) {
    int v;
    return TryStrToInt(Trim(s), v) ? v : def;
}

void WriteNumbered(TIniFile &ini, const std::string &section, const TStringList &values) {
    ini.EraseSection(section);
    for (int i = 0; i < values.Count(); ++i) ini.WriteString(section, IntToStr(i), values[i]);
}

}  // namespace

TRuleDefinition ReadRuleDefinition(const std::string &ruleFile) {
    TRuleDefinition r;
    TMemIniFile ini(ruleFile);
    r.Job = NumberOr(ini.ReadString("Rule", "Rule1", "-1"), -1);
    r.Host = ini.ReadString("Options", "Host", r.Host);
    r.Port = ini.ReadString("Options", "Port", r.Port);
    r.User = ini.ReadString("Options", "User", r.User);
    std::string pass = ini.ReadString("Options", "Pass", "");
    if (IsScrambledForm(pass)) {
        try {
            pass = UnscrambleStr(pass);
        } catch (const Exception &) {
            // Not ours after all: keep it as it stands.
        }
    }
    r.Pass = pass;
    r.Path = ini.ReadString("Options", "Path", r.Path);
    r.AllAccounts = StrToBoolean(ini.ReadString("Rule", "AllAccounts", "True"));
    // Account names are compared as the settings file holds them (old
    // files hold Windows-1252 bytes), so they stay as they are.
    r.Accounts = SectionValues(ini, "Accounts");
    r.AllEMails = StrToBoolean(ini.ReadString("Rule", "AllEMails", "False"));
    r.EMailRule = NumberOr(ini.ReadString("Rule", "EMailRule", "0"), 0);
    r.EMails = TextValues(ini, "EMails");
    r.WordsRule = NumberOr(ini.ReadString("Rule", "WordsRule", "0"), 0);
    r.Words = TextValues(ini, "Words");
    return r;
}

void WriteRuleDefinition(const std::string &ruleFile, const TRuleDefinition &rule) {
    TMemIniFile ini(ruleFile, 0600);
    if (rule.Job >= 0) ini.WriteString("Rule", "Rule1", IntToStr(rule.Job));
    ini.WriteString("Options", "Host", rule.Host);
    ini.WriteString("Options", "Port", rule.Port);
    ini.WriteString("Options", "User", rule.User);
    ini.WriteString("Options", "Pass", ScrambleStr(rule.Pass));
    ini.WriteString("Options", "Path", rule.Path);
    ini.WriteString("Rule", "AllAccounts", BooleanToStr(rule.AllAccounts));
    ini.EraseSection("Accounts");
    for (int i = 0; i < rule.Accounts.Count(); ++i) {
        int key = size_t(i) < rule.AccountKeys.size() ? rule.AccountKeys[i] : i;
        ini.WriteString("Accounts", IntToStr(key), rule.Accounts[i]);
    }
    ini.WriteString("Rule", "EMailRule", IntToStr(rule.EMailRule));
    ini.WriteString("Rule", "AllEMails", BooleanToStr(rule.AllEMails));
    WriteNumbered(ini, "EMails", rule.EMails);
    ini.WriteString("Rule", "WordsRule", IntToStr(rule.WordsRule));
    WriteNumbered(ini, "Words", rule.Words);
    ini.UpdateFile();
}

std::string RuleFilePath(const std::string &rulesFolder, const std::string &ruleName) {
    return ResolvePathCI(IncludeTrailingPathDelimiter(rulesFolder) + ruleName + ".rul");
}

bool RuleExists(const std::string &rulesFolder, const std::string &ruleName) {
    struct stat st;
    return ::lstat(RuleFilePath(rulesFolder, ruleName).c_str(), &st) == 0;
}

TRuleRename RenameRule(const std::string &rulesFolder, const std::string &oldName,
                       const std::string &newName) {
    std::string from = RuleFilePath(rulesFolder, oldName);
    std::string to = RuleFilePath(rulesFolder, newName);
    struct stat a, b;
    if (::lstat(from.c_str(), &a) != 0) return TRuleRename::Failed;
    if (::lstat(to.c_str(), &b) == 0) {
        // Only the letter case changes: the name found is the file itself.
        if (a.st_dev != b.st_dev || a.st_ino != b.st_ino) return TRuleRename::Exists;
        to = IncludeTrailingPathDelimiter(ExtractFileDir(from)) + newName + ".rul";
        if (from == to) return TRuleRename::Renamed;
        return ::rename(from.c_str(), to.c_str()) == 0 ? TRuleRename::Renamed : TRuleRename::Failed;
    }
    // A rule that appears under the new name meanwhile is not replaced either.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return TRuleRename::Renamed;
    if (errno == EEXIST) return TRuleRename::Exists;
    if (errno != EINVAL && errno != ENOSYS) return TRuleRename::Failed;
    // A file system without the no-replace rename: a hard link cannot
    // replace either.
    if (::link(from.c_str(), to.c_str()) != 0) return errno == EEXIST ? TRuleRename::Exists : TRuleRename::Failed;
    ::unlink(from.c_str());
    return TRuleRename::Renamed;
}

bool RuleNameHasForbiddenChar(const std::string &name) {
    if (HasForbiddenFileNameChar(name)) return true;
    for (char c : name)
        if (static_cast<unsigned char>(c) < ' ' || c == '\x7f') return true;
    return false;
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
