// displaydemo: the main window, the new-mail popup and the own screen saver
// on a real display, driven by hand-filled accounts instead of a mail check.
// scripts/displaydemo.sh runs it on a virtual display with a panel.
//
//   displaydemo --program-folder DIR [--skin NAME] [--top] [--shots PREFIX]
//
// DIR must hold "skins" (and may hold "Lang"). With --shots it photographs
// the screen at each stage (PREFIX-slide.png, -next.png, -popup.png,
// -saver.png, -top.png) and ends; without, it leaves the window up until the
// tray menu's Exit.
#include <QApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Desktop.h"
#include "mainwindow/FrmMain.h"
#include "IniFile.h"
#include "settings/ProgramPaths.h"
#include "SysUtils.h"
#include "mainwindow/unFrmHint.h"
#include "settings/unLanguage.h"
#include "mainwindow/unScr.h"

namespace {

void Say(const std::string &what) {
    std::printf("displaydemo: %s\n", what.c_str());
    std::fflush(stdout);
}

void Shot(const std::string &prefix, const std::string &name) {
    if (prefix.empty())
        return;
    QScreen *s = QGuiApplication::primaryScreen();
    std::string file = prefix + "-" + name + ".png";
    if (s && s->grabWindow(0).save(QString::fromStdString(file)))
        Say("saved " + file);
    else
        Say("could not save " + file);
}

void Fill(TFrmMain &form) {
    struct TMail {
        const char *Sender, *Address, *Subject, *Date;
    };
    const std::vector<std::pair<std::string, std::vector<TMail>>> accounts = {
        {"Work mail",
         {{"Anna Virtanen <anna@example.org>", "anna@example.org",
           "Minutes of Tuesday's meeting and the plan for next week", "09:12    09.12.2025"},
          {"Build robot <ci@example.org>", "ci@example.org", "Nightly build 1432 passed", "06:00    09.12.2025"},
          {"Jussi Mäkelä <jussi@example.org>", "jussi@example.org", "Lunch on Friday?", "11:47    09.12.2025"}}},
        {"Home",
         {{"Library <noreply@library.example>", "noreply@library.example",
           "Your reservation \"The Long Winter\" is ready to be picked up", "16:20    08.12.2025"},
          {"Mum <mum@example.net>", "mum@example.net", "Photos from the weekend", "21:03    08.12.2025"}}},
    };
    int total = 0;
    for (const auto &[name, mails] : accounts) {
        form.AddAccount();
        Tiedot &t = form.State.Accounts[form.State.Accounts.Count() - 1];
        t.Name = name;
        t.Host = "mail.example.org";
        t.OwnColor = name == "Home" ? "clFuchsia" : "clLime";
        for (const TMail &m : mails) {
            t.Senders.Add(m.Sender);
            t.Addresses.Add(m.Address);
            t.Subjects.Add(m.Subject);
            t.Dates.Add(m.Date);
        }
        t.NewCount = int(mails.size());
        total += t.NewCount;
    }
    form.State.Accounts.TotalNew = total;
    form.State.Accounts.ShownIndex = 0;
    form.LabelFr->setText("From");
    form.LabelSbj->setText("Subject");
}

// Runs the steps one after another, each after its pause.
struct TScript {
    std::vector<std::pair<int, std::function<void()>>> Steps;
    size_t Next = 0;
    void Add(int ms, std::function<void()> step) { Steps.emplace_back(ms, std::move(step)); }
    void Run() {
        if (Next >= Steps.size())
            return;
        auto &[ms, step] = Steps[Next++];
        QTimer::singleShot(ms, [this, &step] {
            step();
            Run();
        });
    }
};

}  // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    std::string folder, skin = "Default", shots;
    bool top = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--program-folder" && i + 1 < argc)
            folder = argv[++i];
        else if (a == "--skin" && i + 1 < argc)
            skin = argv[++i];
        else if (a == "--shots" && i + 1 < argc)
            shots = argv[++i];
        else if (a == "--top")
            top = true;
    }
    if (folder.empty()) {
        Say("usage: displaydemo --program-folder DIR [--skin NAME] [--top] [--shots PREFIX]");
        return 2;
    }
    SetProgramFolder(folder);
    SetLanguageFileName("english.lng");
    {
        TIniFile ini(SettingsFilePath());
        ini.WriteString("Options", "UseReplyTo", "True");
        ini.WriteString("Options", "Skin", skin);
        ini.WriteString("Options", "Language", "english.lng");
    }
    TRecordingDesktop desktop;
    SetDesktop(&desktop);

    TFrmMain form;
    Fill(form);
    form.Timer2->SetInterval(4000);
    form.Timer3->SetInterval(40);
    form.Timer4->SetInterval(40);
    form.State.Options.ShowOnDown = !top;
    form.LoadSkin(skin, false);
    form.ApplySkinRegion();
    Say("skin " + skin + ", window " + IntToStr(form.width()) + " x " + IntToStr(form.height()) +
        ", work area bottom " + IntToStr(form.UpdateWorkAreaBottom()));
    form.ShowMessageStep(2);

    TScript script;
    if (!shots.empty()) {
        script.Add(3000, [&] {
            Say("window at " + IntToStr(form.x()) + "," + IntToStr(form.y()));
            Shot(shots, top ? "top" : "slide");
        });
        script.Add(100, [&] { form.FormKeyDown(Qt::Key_Right, Qt::ControlModifier); });
        script.Add(600, [&] { Shot(shots, "next"); });
        script.Add(100, [&] {
            ShowMailHint("Work mail - You got 3 new mails\rHome - You got 2 new mails\r", 10000);
        });
        script.Add(800, [&] { Shot(shots, "popup"); });
        script.Add(100, [&] {
            CloseMailHint();
            // The saver is modal: what happens on it is queued before it opens.
            QTimer::singleShot(1500, [] { DrawSaverStatus("Work mail", true); });
            QTimer::singleShot(4000, [&] {
                Shot(shots, "saver");
                if (TfrmMainScr *s = ScreenSaverForm()) {
                    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
                    QApplication::sendEvent(s, &key);
                }
            });
            form.FormKeyDown(Qt::Key_S, Qt::NoModifier);
            Say("saver ended");
        });
        script.Add(300, [&] { form.FormKeyDown(Qt::Key_Escape, Qt::NoModifier); });
        script.Add(3000, [&] {
            Say(std::string("window ") + (form.isVisible() ? "still shown" : "slid out"));
            QApplication::quit();
        });
        script.Run();
    }
    int rc = app.exec();
    SetDesktop(nullptr);
    return rc;
}
