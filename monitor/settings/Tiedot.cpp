#include "Tiedot.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <sys/stat.h>
#include <unordered_set>

#include "CryptStr.h"
#include "HostData.h"
#include "IniFile.h"
#include "TarnwickVersion.h"
#include "VeskRutins.h"
#include "unDecodes.h"
#include "unLanguage.h"
#include "dialogs/unMessYesNo.h"
#include "dialogs/unitMessages.h"

std::string ConnectionKindName(uint8_t kind) {
    switch (kind) {
    case ckPOP3: return "POP3";
    case ckIMAP4: return "IMAP4";
    case ckHTTP: return "HTTP";
    default: return "";
    }
}

uint8_t ConnectionKindFromName(const std::string &name) {
    if (name == "POP3") return ckPOP3;
    if (name == "IMAP4") return ckIMAP4;
    if (name == "HTTP") return ckHTTP;
    return ckUnknown;
}

Tiedot &TAccountArray::operator[](int i) {
    if (i < 0 || i >= Count()) throw EListError("Account index out of bounds (" + IntToStr(i) + ")");
    return Items[size_t(i)];
}

const Tiedot &TAccountArray::operator[](int i) const {
    if (i < 0 || i >= Count()) throw EListError("Account index out of bounds (" + IntToStr(i) + ")");
    return Items[size_t(i)];
}

void Tiedot::ClearMessages() {
    Senders.Clear();
    Addresses.Clear();
    Subjects.Clear();
    Dates.Clear();
    MessageIds.Clear();
}

void TAccountArray::Clear() {
    Items.clear();
    LastIndex = -1;
}

void AddAccount(TAccountArray &accounts) {
    Tiedot t;
    t.Enabled = true;
    t.NewCount = 0;
    t.Shown = 0;
    accounts.Items.push_back(std::move(t));
    ++accounts.LastIndex;
}

void RemoveLastAccount(TAccountArray &accounts, const std::string &settingsFile) {
    if (accounts.Items.empty()) return;
    // The file first: when it cannot be written the array stays as it was,
    // instead of losing a record while the last index still counts it.
    TIniFile ini(settingsFile);
    ini.EraseSection(IntToStr(accounts.Count() - 1));
    accounts.Items.pop_back();
    accounts.LastIndex = accounts.Count() - 1;
    if (accounts.ShownIndex > accounts.LastIndex) accounts.ShownIndex = accounts.LastIndex;
}

namespace {

std::string BadValue(const std::string &section, const std::string &key, const std::string &value,
                     const std::string &used) {
    return "Settings: [" + section + "] " + key + " \"" + value + "\" is not valid; using \"" + used + "\"";
}

// An integer setting within its sensible range, else the default (reported).
int ReadIntSetting(TIniFile &ini, const std::string &section, const std::string &key, int def,
                   int lo, int hi, TStringList &problems) {
    std::string text = ini.ReadString(section, key, IntToStr(def));
    int v;
    if (TryStrToInt(text, v) && v >= lo && v <= hi) return v;
    problems.Add(BadValue(section, key, text, IntToStr(def)));
    return def;
}

// The number of the last account: a damaged or absurd value falls back to
// the highest account section the file really holds.
int ReadLastIndex(TIniFile &ini, TStringList &problems) {
    std::string text = ini.ReadString("Accounts", "Num", "-1");
    int num;
    if (TryStrToInt(text, num) && num >= -1 && num < MaxAccounts) return num;
    if (TryStrToInt(text, num) && num < -1) return -1;
    TStringList sections;
    ini.ReadSections(sections);
    int highest = -1;
    for (const auto &s : sections) {
        int i;
        if (TryStrToInt(s, i) && i >= 0 && i < MaxAccounts && IntToStr(i) == s && i > highest) highest = i;
    }
    problems.Add(BadValue("Accounts", "Num", text, IntToStr(highest)));
    return highest;
}

// The backup is read by the same rule as the settings file: a damaged Num
// neither hides the accounts it holds nor lists a thousand empty ones.
int BackupLastIndex(const std::string &backupFile) {
    try {
        TMemIniFile ini(backupFile);
        TStringList ignored;
        return ReadLastIndex(ini, ignored);
    } catch (const Exception &) {
        return -1;
    }
}

// Settings and their backup hold scrambled passwords: for the user's eyes
// only, also when an older copy was readable by all.
void CopyFileAtomic(const std::string &from, const std::string &to) {
    WriteFileAtomic(to, ReadFileToString(from), 0600);
    ::chmod(to.c_str(), 0600);
}

}  // namespace

TLoadResult LoadSettings(TAccountArray &accounts, TMainOptions &options,
                         const std::string &settingsFile, const std::string &hostDataFile,
                         const std::function<bool(const std::string &)> &skinExists) {
    TLoadResult r;
    accounts.Clear();
    auto file = std::make_unique<TMemIniFile>(settingsFile);
    // The file as found on disk, whatever the letter case of its name.
    const std::string found = file->FileName();
    int num;
    try {
        num = ReadLastIndex(*file, r.Problems);
    } catch (const Exception &e) {
        // An unreadable file loads as no accounts and every default (the
        // backup may offer the accounts); it is not written here.
        r.Problems.Add("Settings: " + e.Message());
        num = -1;
        file = std::make_unique<TMemIniFile>(std::string());
    }
    TMemIniFile &ini = *file;

    std::string backup = found + ".bak";
    if (num < 0) {
        // Never overwrite the backup while the settings hold no accounts.
        if (BackupLastIndex(backup) > num) r.OfferRestore = true;
    } else if (FileExists(found)) {
        try {
            CopyFileAtomic(found, backup);
        } catch (const Exception &e) {
            r.Problems.Add("Settings: backup not written: " + e.Message());
        }
    }

    int version = 0;
    try {
        version = VersionToInt(ini.ReadString("Options", "TWVerini", "0"));
    } catch (const Exception &) {
        r.Problems.Add(BadValue("Options", "TWVerini", ini.ReadString("Options", "TWVerini", "0"), "0"));
    }

    for (int i = 0; i <= num; ++i) {
        AddAccount(accounts);
        Tiedot &t = accounts[i];
        std::string sec = IntToStr(i);
        t.Name = ini.ReadString(sec, "Name", "");
        t.Enabled = StrToBoolean(ini.ReadString(sec, "Enabled", "True"));
        t.Host = ini.ReadString(sec, "Host", "");
        t.Port = ReadIntSetting(ini, sec, "Port", 110, 0, 65535, r.Problems);
        t.UserName = ini.ReadString(sec, "UserName", "");
        try {
            t.Password = UnscrambleStr(ini.ReadString(sec, "PW", ""));
        } catch (const Exception &) {
            r.Problems.Add("Settings: [" + sec + "] PW is damaged; the password is empty");
            t.Password.clear();
        }
        t.SSL = StrToBoolean(ini.ReadString(sec, "SSL", "False"));
        t.OwnSkin = ini.ReadString(sec, "OwnSkin", "");
        t.OwnColor = ini.ReadString(sec, "OwnColor", "clGreen");
        t.Protected = StrToBoolean(ini.ReadString(sec, "Protected", "False"));
        t.Inbox = ini.ReadString(sec, "Inbox", "INBOX");
        t.Kind = ConnectionKindFromName(ini.ReadString(sec, "Connection", ""));
        if (t.Kind == ckUnknown) {
            // Files from before kinds were stored: web mail by the host's preset.
            bool web = false;
            try {
                web = HostIsWeb(hostDataFile, t.Host);
            } catch (const Exception &e) {
                r.Problems.Add("Host data: " + e.Message());
            }
            t.Kind = web ? ckHTTP : ckPOP3;
            ini.DeleteKey(sec, "UseOwnSkin");
            ini.DeleteKey(sec, "UseIMAP4");
            ini.DeleteKey(sec, "IMAP4Port");
        }
        if (version >= 771) {
            // A protection flag edited by hand does not lift the protection.
            std::string pp;
            try {
                pp = UnscrambleStr(ini.ReadString(sec, "ProtPass", ""));
            } catch (const Exception &) {
                r.Problems.Add("Settings: [" + sec + "] ProtPass is damaged");
            }
            if (!(Contains(pp, BooleanToStr(t.Protected)) && Contains(pp, t.Password))) t.Protected = true;
        }
    }

    // A stored choice stays as it is; a new profile speaks the desktop's language.
    options.Language = ini.ReadString("Options", "Language", "");
    if (options.Language.empty()) options.Language = DesktopLanguageFile();
    options.Skin = ini.ReadString("Options", "Skin", "Default");
    SetLanguageFileName(options.Language);
    if (!skinExists || !skinExists(options.Skin)) options.Skin = "Default";
    options.ShowOnDown = StrToBoolean(ini.ReadString("Options", "ShowOnDown", "True"));
    {
        const std::string text = ini.ReadString("Options", "CheckTime", "10");
        int64_t stored = 10;
        if (!TryStrToInt64(Trim(text), stored) || stored < 1) {
            r.Problems.Add(BadValue("Options", "CheckTime", text, "10"));
            stored = 10;
        }
        options.CheckTime = CheckTimeUnits(stored);
    }
    options.NextCheck = Now() + options.CheckTime * 0.0007;
    options.ViewSendFrom = StrToBoolean(ini.ReadString("Options", "ViewSendFrom", "True"));
    options.AnimGetMails = StrToBoolean(ini.ReadString("Options", "AnimGetMails", "True"));
    options.AnimNewMails = StrToBoolean(ini.ReadString("Options", "AnimNewMails", "True"));
    options.AnimError = StrToBoolean(ini.ReadString("Options", "AnimError", "True"));
    options.AnimUpdating = StrToBoolean(ini.ReadString("Options", "AnimUpdating", "True"));
    options.ShowMessSp = ReadIntSetting(ini, "Options", "ShowMessSp", 100, 1, 3600000, r.Problems);
    options.BrowseSpeed = ReadIntSetting(ini, "Options", "BrowseSpeed", 10000, 1, 86400000, r.Problems);
    options.UseReplyTo = StrToBoolean(ini.ReadString("Options", "UseReplyTo", "False"));
    options.DelayTime = ReadIntSetting(ini, "Options", "DelayTime", 3, 0, 86400, r.Problems);
    options.BlinkPeriod = ReadIntSetting(ini, "Options", "BlinkPeriod", 200, 1, 3600000, r.Problems);

    // Only the migrations above change the file.
    try {
        ini.UpdateFile();
    } catch (const Exception &e) {
        r.Problems.Add("Settings: " + e.Message());
    }
    return r;
}

bool SettingsHoldWebMail(const std::string &settingsFile, const std::string &hostDataFile) {
    try {
        TMemIniFile ini(settingsFile);
        TStringList ignored;
        const int num = ReadLastIndex(ini, ignored);
        for (int i = 0; i <= num; ++i) {
            const std::string sec = IntToStr(i);
            if (!StrToBoolean(ini.ReadString(sec, "Enabled", "True"))) continue;
            const uint8_t kind = ConnectionKindFromName(ini.ReadString(sec, "Connection", ""));
            if (kind == ckHTTP) return true;
            if (kind != ckUnknown) continue;
            try {
                if (HostIsWeb(hostDataFile, ini.ReadString(sec, "Host", ""))) return true;
            } catch (const Exception &) {
            }
        }
    } catch (const Exception &) {
    }
    return false;
}

void SaveSettings(const TAccountArray &accounts, const TMainOptions &options,
                  const std::string &settingsFile) {
    TMemIniFile ini(settingsFile, 0600);
    ini.WriteString("Accounts", "Num", IntToStr(accounts.LastIndex));
    for (int i = 0; i < accounts.Count() && i <= accounts.LastIndex; ++i) {
        const Tiedot &t = accounts[i];
        std::string sec = IntToStr(i);
        ini.WriteString(sec, "Name", t.Name);
        ini.WriteString(sec, "Host", t.Host);
        ini.WriteString(sec, "Port", IntToStr(t.Port));
        ini.WriteString(sec, "UserName", t.UserName);
        ini.WriteString(sec, "Enabled", BooleanToStr(t.Enabled));
        ini.WriteString(sec, "PW", ScrambleStr(t.Password));
        ini.WriteString(sec, "SSL", BooleanToStr(t.SSL));
        ini.WriteString(sec, "OwnSkin", t.OwnSkin);
        ini.WriteString(sec, "OwnColor", t.OwnColor);
        ini.WriteString(sec, "Protected", BooleanToStr(t.Protected));
        ini.WriteString(sec, "Inbox", t.Inbox);
        ini.WriteString(sec, "Connection", ConnectionKindName(t.Kind));
        ini.WriteString(sec, "ProtPass", ScrambleStr(t.Password + BooleanToStr(t.Protected)));
    }
    ini.WriteString("Options", "Language", options.Language);
    ini.WriteString("Options", "Skin", options.Skin);
    ini.WriteString("Options", "TWVerini", TarnwickVersion);
    ini.WriteString("Options", "ViewSendFrom", BooleanToStr(options.ViewSendFrom));
    ini.WriteString("Options", "AnimGetMails", BooleanToStr(options.AnimGetMails));
    ini.WriteString("Options", "AnimNewMails", BooleanToStr(options.AnimNewMails));
    ini.WriteString("Options", "AnimError", BooleanToStr(options.AnimError));
    ini.WriteString("Options", "AnimUpdating", BooleanToStr(options.AnimUpdating));
    ini.WriteString("Options", "ShowOnDown", BooleanToStr(options.ShowOnDown));
    ini.UpdateFile();
    // The file holds scrambled passwords: for the user's eyes only.
    ::chmod(ini.FileName().c_str(), 0600);
}

TStringList BackupAccountLines(const std::string &backupFile) {
    TStringList lines;
    TMemIniFile ini(backupFile);
    int num = BackupLastIndex(backupFile);
    for (int i = 0; i <= num; ++i) {
        std::string sec = IntToStr(i);
        lines.Add(ini.ReadString(sec, "Name", "") + " - " + ini.ReadString(sec, "Host", "") + " - " +
                  ini.ReadString(sec, "UserName", ""));
    }
    return lines;
}

bool RunRestoreOffer(TAccountArray &accounts, TMainOptions &options, const std::string &settingsFile,
                     const std::string &hostDataFile,
                     const std::function<bool(const std::string &)> &skinExists, int right,
                     int bottom) {
    std::string backup = settingsFile + ".bak";
    TStringList lines;
    try {
        lines = BackupAccountLines(backup);
    } catch (const Exception &) {
        return false;
    }
    std::string question = LangMessage(43) + "\r\n" + LangMessage(40) + " " + LangMessage(41) + " " +
                           LangMessage(42) + "\r\n\r\n";
    for (const auto &l : lines) question += l + "\r\n";
    question += "\r\n" + LangMessage(45);
    if (AskYesNo(LangMessage(54), question, "", right, bottom) != 0) return false;
    CopyFileAtomic(backup, settingsFile);
    LoadSettings(accounts, options, settingsFile, hostDataFile, skinExists);
    ShowMessageWindow("Info", LangMessage(44), "", right, bottom, 2);
    return true;
}

void CollectSenders(const TAccountArray &accounts, TStringList &list) {
    // A mailbox of many thousands of messages: the look-up for duplicates
    // must not scan the whole list for each sender.
    std::unordered_set<std::string> seen(list.begin(), list.end());
    auto add = [&](const std::string &s) {
        if (seen.insert(s).second) list.Add(s);
    };
    for (const auto &t : accounts.Items) {
        for (int k = 0; k < t.Senders.Count(); ++k) {
            std::string sender = TrimChar(t.Senders[k], '"');
            std::string address = k < t.Addresses.Count() ? t.Addresses[k] : std::string();
            bool real = !address.empty() && address != "<>" && address != "< >" && address != "<...>" &&
                        address != "...";
            add(sender);
            if (real) add(address);
        }
    }
}

void CollectSubjects(const TAccountArray &accounts, TStringList &list) {
    for (const auto &t : accounts.Items)
        for (const auto &s : t.Subjects)
            if (!s.empty()) list.Add(s);
}

bool AccountPasswordMatches(const std::string &typed, const std::string &password) {
    if (typed == password) return true;
    return !IsValidUtf8(password) && typed == Cp1252ToUtf8(password);
}

int CheckTimeUnits(int64_t Stored) {
    if (Stored > 120) Stored /= 100000;
    return int(std::clamp<int64_t>(Stored, 1, 100000));
}
