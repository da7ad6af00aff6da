// A main window made offscreen on a program folder of its own, with the
// desktop, the shell and the modal dialogs answered by the test.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <memory>
#include <string>
#include <vector>

#include "Desktop.h"
#include "dialogs/DialogSeam.h"
#include "mainwindow/FrmMain.h"
#include "settings/Kel_Reg.h"
#include "settings/ProgramPaths.h"
#include "QtTestApp.h"
#include "Shell.h"
#include "TestSupport.h"
#include "mainwindow/unFrmHint.h"

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        SetProgramFolder(Dir.Path());
        FOldDesktop = SetDesktop(&Desk);
        SetShellOpenHook([this](const std::string &target) {
            Opened.push_back(target);
            return true;
        });
        Form = std::make_unique<TFrmMain>();
        // No start-up work or scheduled checks: the tests drive the window.
        for (TTimer *t : {Form->Timer5, Form->Timer6, Form->Timer8}) t->SetEnabled(false);
        Form->State.Accounts.Clear();
        Form->State.Accounts.ShownIndex = 0;
        Form->State.Accounts.TotalNew = 0;
    }
    void TearDown() override {
        CloseMailHint();
        Form.reset();
        SetModalHook({});
        SetShellOpenHook({});
        SetDesktop(FOldDesktop);
        SetProgramFolder("");
    }

    // An account with Count messages "sender k", "subject k", "date k".
    Tiedot &AddAccount(const std::string &name, int count) {
        Form->AddAccount();
        Tiedot &t = Form->State.Accounts[Form->State.Accounts.Count() - 1];
        t.Name = name;
        for (int k = 1; k <= count; ++k) {
            t.Senders.Add(name + " sender " + std::to_string(k));
            t.Addresses.Add("s" + std::to_string(k) + "@" + name + ".example");
            t.Subjects.Add(name + " subject " + std::to_string(k));
            t.Dates.Add("date " + std::to_string(k));
        }
        t.NewCount = count;
        Form->State.Accounts.TotalNew += count;
        return t;
    }

    void Option(const std::string &key, const std::string &value) {
        IniWriteString(SettingsFilePath(), "Options", key, value);
    }

    // A skin folder: a background of one colour, a mask (white, with a red
    // band of DragRows at the top unless given), the three pictures of each
    // button as BMPs of the given colour, and the ".skn" text.
    struct TTestSkin {
        QSize Size{120, 60};
        QColor Background{10, 120, 200};
        int DragRows = 8;
        std::string Skn;
        bool Buttons = true;
        const char *BackExt = "bmp";
        QImage Mask;  // used instead of the drawn one when set
    };
    std::string MakeSkin(const std::string &name, const TTestSkin &skin) {
        std::string dir = Dir.File("skins/" + name + "/");
        ForceDirectories(dir);
        QImage back(skin.Size, QImage::Format_RGB32);
        back.fill(skin.Background);
        back.save(QString::fromStdString(dir + "back." + skin.BackExt), nullptr, 100);
        QImage mask = skin.Mask;
        if (mask.isNull()) {
            mask = QImage(skin.Size, QImage::Format_RGB32);
            mask.fill(Qt::white);
            for (int y = 0; y < skin.DragRows && y < skin.Size.height(); ++y)
                for (int x = 0; x < skin.Size.width(); ++x)
                    mask.setPixelColor(x, y, QColor(255, 0, 0));
        }
        mask.save(QString::fromStdString(dir + "back_mask.bmp"));
        if (skin.Buttons)
            for (const char *base : {"exit", "back", "forward", "acc_b", "acc_f"})
                for (int k = 1; k <= 3; ++k) {
                    QImage b(10, 8, QImage::Format_RGB32);
                    b.fill(QColor(40 * k, 200, 30));
                    b.save(QString::fromStdString(dir + base + std::to_string(k) + ".bmp"));
                }
        WriteTestFile(dir + name + ".skn", skin.Skn);
        return dir;
    }

    // The shipped skins, copied into the program folder.
    void CopyShippedSkins() {
        for (const std::string &skin : {std::string("Default"), std::string("Nightfall")}) {
            std::string from = std::string(TW_SOURCE_DIR) + "/skins/" + skin + "/";
            for (const std::string &f : ListDirectory(from, true, false))
                WriteTestFile(Dir.File("skins/" + skin + "/" + f), ReadTestFile(from + f));
        }
    }

    TempDir Dir;
    TRecordingDesktop Desk;
    std::vector<std::string> Opened;
    std::unique_ptr<TFrmMain> Form;

private:
    TDesktop *FOldDesktop = nullptr;
};
