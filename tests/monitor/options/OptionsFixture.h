// The Options dialog's tests: a program folder of their own with the two
// shipped languages, the main window and the dialog made as the program
// makes them, the tray, desktop and shell recorded, and every modal window
// noted ("title | text" for messages) and answered by the next of Answers.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "Desktop.h"
#include "dialogs/DialogSeam.h"
#include "mainwindow/FrmMain.h"
#include "IniFile.h"
#include "settings/Kel_Reg.h"
#include "settings/ProgramPaths.h"
#include "QtTestApp.h"
#include "Shell.h"
#include "TestSupport.h"
#include "TrayBackend.h"
#include "options/asetukset.h"
#include "settings/unLanguage.h"
#include "dialogs/unitMessages.h"

class OptionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        SetProgramFolder(Dir.Path());
        SetSettingsFileName("Tarnwick.ini");
        for (const char *lang : {"english.lng", "finnish.lng"})
            WriteTestFile(Dir.File(std::string("Lang/") + lang),
                          ReadTestFile(std::string(TW_SOURCE_DIR) + "/Lang/" + lang));
        SetLanguageFileName("english.lng");
        OldTray = SetTrayBackend(&Tray);
        OldDesktop = SetDesktop(&Desk);
        SetShellOpenHook([this](const std::string &t) {
            Opened.push_back(t);
            return true;
        });
        SetModalHook([this](QDialog &d) {
            std::string seen = d.windowTitle().toStdString();
            if (auto *m = qobject_cast<TForm1 *>(&d)) seen += " | " + m->Label2->text().toStdString();
            Asked.push_back(seen);
            if (Answers.empty()) return;
            auto answer = Answers.front();
            Answers.pop_front();
            answer(d);
        });
    }
    void TearDown() override {
        delete Options;
        delete Main;
        SetModalHook({});
        SetShellOpenHook({});
        SetTrayBackend(OldTray);
        SetDesktop(OldDesktop);
        SetProgramFolder("");
        SetLanguageFileName(DefaultLanguageFile);
        IniFileCacheClear();
    }

    std::string Read(const std::string &section, const std::string &key, const std::string &def = "(none)") {
        IniFileCacheClear();
        return IniReadString(Dir.File("Tarnwick.ini"), section, key, def);
    }
    // Answers for the text input dialog.
    static std::function<void(QDialog &)> Type(const std::string &text) {
        return [text](QDialog &d) {
            d.findChild<QLineEdit *>("Edit1")->setText(QString::fromStdString(text));
            d.findChild<QPushButton *>("BitBtn1")->click();
        };
    }

    TempDir Dir;
    TRecordingTrayBackend Tray;
    TRecordingDesktop Desk;
    TTrayBackend *OldTray = nullptr;
    TDesktop *OldDesktop = nullptr;
    TFrmMain *Main = nullptr;
    TFormAsetukset *Options = nullptr;
    std::deque<std::function<void(QDialog &)>> Answers;
    std::vector<std::string> Asked;
    std::vector<std::string> Opened;
};
