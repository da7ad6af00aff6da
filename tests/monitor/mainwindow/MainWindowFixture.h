// The main window on a program folder of its own: settings written by the
// test, the English language file, a recording tray and desktop, and the
// Options dialog made after it so that its reports reach the log.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "settings/CryptStr.h"
#include "Desktop.h"
#include "mainwindow/FrmMain.h"
#include "settings/ProgramPaths.h"
#include "QtTestApp.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "TrayBackend.h"
#include "options/asetukset.h"
#include "settings/unLanguage.h"

struct TTestAccount {
    std::string Name;
    std::string Kind = "POP3";  // "POP3", "IMAP4", "HTTP"
    std::string Host = "127.0.0.1";
    int Port = 0;
    std::string User;
    std::string Password;
    bool SSL = false;
    bool Enabled = true;
    std::string Inbox = "INBOX";
};

// The web-mail test site's user as an account of the settings: its host
// "testmail" is the site's section of host_data.dat (HostSection).
inline TTestAccount TestSiteWebAccount(const std::string &Name = "Web account",
                                       const std::string &Password = "s3cret") {
    return TTestAccount{
        .Name = Name, .Kind = "HTTP", .Host = "testmail", .Port = 80, .User = "bob", .Password = Password};
}

// A settings file with these accounts and [Options] lines ("Key=Value").
inline std::string TestSettingsText(const std::vector<TTestAccount> &accounts,
                                    const std::vector<std::string> &options = {}) {
    std::string ini = "[Accounts]\nNum=" + std::to_string(int(accounts.size()) - 1) + "\n";
    for (size_t i = 0; i < accounts.size(); ++i) {
        const TTestAccount &a = accounts[i];
        ini += "[" + std::to_string(i) + "]\nName=" + a.Name + "\nHost=" + a.Host +
               "\nPort=" + std::to_string(a.Port) + "\nUserName=" + a.User + "\nPW=" + ScrambleStr(a.Password) +
               "\nSSL=" + (a.SSL ? "True" : "False") + "\nConnection=" + a.Kind +
               "\nEnabled=" + (a.Enabled ? "True" : "False") + "\nInbox=" + a.Inbox + "\n";
    }
    ini += "[Options]\nLanguage=english.lng\n";
    for (const auto &o : options) ini += o + "\n";
    return ini;
}

class MainWindowHarness {
public:
    MainWindowHarness() {
        EnsureQApplication();
        FPreviousTray = SetTrayBackend(&Tray);
        FPreviousDesktop = SetDesktop(&Desk);
        SetProgramFolder(Dir.Path());
        WriteTestFile(Dir.File("Lang/english.lng"),
                      ReadTestFile(std::string(TW_SOURCE_DIR) + "/Lang/english.lng"));
    }
    ~MainWindowHarness() {
        Stop();
        SetDesktop(FPreviousDesktop);
        SetTrayBackend(FPreviousTray);
        SetProgramFolder("");
        SetSettingsFileName("");
        SetLanguageFileName(DefaultLanguageFile);
    }

    // The settings file with these accounts and [Options] lines ("Key=Value").
    void WriteSettings(const std::vector<TTestAccount> &accounts, const std::vector<std::string> &options = {},
                       const std::string &file = "Tarnwick.ini") {
        WriteTestFile(Dir.File(file), TestSettingsText(accounts, options));
    }

    // Makes the main window (which loads the settings) and the Options dialog.
    TFrmMain &Start(const std::vector<std::string> &args = {}) {
        Main = std::make_unique<TFrmMain>(args);
        Options = std::make_unique<TFormAsetukset>(nullptr);
        // The tests drive every timer themselves.
        for (TTimer *t : {Main->Timer5, Main->Timer6, Main->Timer8}) t->SetEnabled(false);
        return *Main;
    }
    void Stop() {
        Options.reset();
        Main.reset();
    }

    // Every log line after the two header lines.
    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        if (!Options || !Options->Log) return lines;
        for (int i = 2; i < Options->Log->LineCount(); ++i) lines.push_back(Options->Log->Line(i));
        return lines;
    }
    int LogLinesWith(const std::string &text) const {
        int n = 0;
        for (const auto &l : LogLines()) n += Contains(l, text);
        return n;
    }
    std::string Log() const {
        std::string all;
        for (const auto &l : LogLines()) all += l + "\n";
        return all;
    }
    // [Options] lines of more than the default 30 stay in the log.
    static std::string LongLog() { return "LogValue=100000"; }

    TempDir Dir;
    TRecordingTrayBackend Tray;
    TRecordingDesktop Desk;
    std::unique_ptr<TFrmMain> Main;
    std::unique_ptr<TFormAsetukset> Options;

private:
    TTrayBackend *FPreviousTray = nullptr;
    TDesktop *FPreviousDesktop = nullptr;
};
