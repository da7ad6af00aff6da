// The accounts and the settings file: the account record Tiedot, the account
// array owned by the main window, loading and saving with the ".bak" backup
// and its restore offer, and the migrations of older files. No GUI here
// except the restore offer, which asks its question through the dialogs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Classes.h"
#include "SysUtils.h"

// Connection kinds; 3 while loading means "not given".
constexpr uint8_t ckPOP3 = 0, ckIMAP4 = 1, ckHTTP = 2, ckUnknown = 3;
std::string ConnectionKindName(uint8_t kind);            // "POP3", "IMAP4", "HTTP"; else ""
uint8_t ConnectionKindFromName(const std::string &name);  // exact; anything else 3

// One mail account. The five lists are parallel; only the first NewCount
// entries are current.
struct Tiedot {
    std::string Name;
    bool Enabled = true;
    int32_t Port = 0;
    std::string Host;
    std::string UserName;
    std::string Password;  // plain in memory, scrambled in the file
    bool SSL = false;
    TStringList Senders;
    TStringList Addresses;
    TStringList Subjects;
    TStringList Dates;
    TStringList MessageIds;
    int32_t NewCount = 0;
    int32_t Shown = 0;
    std::string OwnSkin;
    std::string OwnColor;
    bool Protected = false;
    uint8_t Kind = ckPOP3;
    std::string Inbox;

    // Empties the five message lists.
    void ClearMessages();
};

// The account array and the indexes the main window keeps beside it.
struct TAccountArray {
    std::vector<Tiedot> Items;
    int LastIndex = -1;   // index of the last account, -1 when none
    int ShownIndex = 0;   // account shown in the main window
    int TotalNew = 0;     // new messages of the last cycle

    int Count() const { return int(Items.size()); }
    // An index outside the array (a shown index of -1, say) raises
    // EListError, which every handler's catch of Exception reports.
    Tiedot &operator[](int i);
    const Tiedot &operator[](int i) const;
    void Clear();
};

// The [Options] values the main window holds in memory, and the ones that
// set its timers at load.
struct TMainOptions {
    std::string Language = "finnish.lng";
    std::string Skin = "Default";
    bool ShowOnDown = true;
    int CheckTime = 10;  // units of 0.0007 day
    TDateTime NextCheck = 0;
    bool ViewSendFrom = true;
    bool AnimGetMails = true;
    bool AnimNewMails = true;
    bool AnimError = true;
    bool AnimUpdating = true;
    int ShowMessSp = 100;     // Timer3 and Timer4, milliseconds
    int BrowseSpeed = 10000;  // Timer2
    bool UseReplyTo = false;  // hand cursor on the sender label
    int DelayTime = 3;        // Timer5 = DelayTime * 1000
    int BlinkPeriod = 200;    // Timer7 = BlinkPeriod * 2
};

// No settings file holds more accounts than this; a larger Num is damage.
constexpr int MaxAccounts = 1000;

// What a load found that the main window must act on or report.
struct TLoadResult {
    bool OfferRestore = false;  // enable the restore-offer timer (Timer8)
    TStringList Problems;       // bad values that took their defaults
};

// The check interval a stored CheckTime means, in units of 0.0007 day: a
// value above 120 was written by an old release in units 100000 times
// smaller, and the Options dialog shows it so; every reader takes it alike.
int CheckTimeUnits(int64_t Stored);

void AddAccount(TAccountArray &accounts);
// Drops the last record and its section in the settings file.
void RemoveLastAccount(TAccountArray &accounts, const std::string &settingsFile);

// skinExists answers whether a skin folder of that name exists; the host
// data file decides the kind of accounts written before kinds were stored.
TLoadResult LoadSettings(TAccountArray &accounts, TMainOptions &options,
                         const std::string &settingsFile, const std::string &hostDataFile,
                         const std::function<bool(const std::string &)> &skinExists);
// Writes the accounts and the main window's [Options] keys in one atomic
// replacement of the file; every other line stays. Raises EIniFileError
// when the file cannot be written (the previous file is then untouched).
void SaveSettings(const TAccountArray &accounts, const TMainOptions &options,
                  const std::string &settingsFile);

// Whether the settings file holds an enabled web-mail account (kind HTTP;
// in a file from before kinds were stored, a host the host data calls web
// mail). Read only, before anything else is set up; an unreadable file
// holds none.
bool SettingsHoldWebMail(const std::string &settingsFile, const std::string &hostDataFile);

// The account lines of the backup ("name - host - user") for the restore offer.
TStringList BackupAccountLines(const std::string &backupFile);
// The restore offer: asks whether to restore the backup; on Yes copies it
// over the settings file, loads it again and says so. True when restored.
bool RunRestoreOffer(TAccountArray &accounts, TMainOptions &options, const std::string &settingsFile,
                     const std::string &hostDataFile,
                     const std::function<bool(const std::string &)> &skinExists, int right,
                     int bottom);

// The senders and subjects the cycle recorded, for the rule editor and the
// add-sender dialog.
void CollectSenders(const TAccountArray &accounts, TStringList &list);
void CollectSubjects(const TAccountArray &accounts, TStringList &list);
// Whether what the user typed (UTF-8) is the account's password; one kept
// from an older file in Windows-1252 bytes is the same letters.
bool AccountPasswordMatches(const std::string &typed, const std::string &password);
