// optionsdemo: Tarnwick's Options dialog on a program folder of sample data
// (three accounts, two skins, two rules, provider presets and a coloured
// log), opened the way the tray menu opens it. scripts/optionsdemo.sh runs
// it on a virtual display.
//
//   optionsdemo FOLDER [--screenshots PREFIX] [--language english.lng]
//               [--shot-after SECONDS FILE]
//
// FOLDER becomes the program folder (sample files are written into it).
// With --screenshots it shows every page in turn, saves the whole screen as
// PREFIX-NN-page.png for each, and ends; without it the dialog stays open,
// and with --shot-after it saves the screen to FILE after that many seconds
// (someone else moved the mouse meanwhile) and ends.
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mainwindow/FrmMain.h"
#include "updates/Kel_Files.h"
#include "settings/ProgramPaths.h"
#include "SysUtils.h"
#include "settings/Tiedot.h"
#include "options/asetukset.h"
#include "settings/unLanguage.h"

namespace {

void Write(const std::string &path, const std::string &text) {
    ForceDirectories(ExtractFileDir(path));
    WriteFileAtomic(path, text);
}

void SampleSkin(const std::string &folder, const std::string &name, QColor colour, const std::string &author) {
    Write(folder + "skins/" + name + "/" + name + ".skn",
          "[About]\r\nVersion=1.2\r\nAuthor=" + author + "\r\nAuthorEmail=skins@tarnwick.example.org\r\n"
          "Other=A sample skin for the demo.\r\n");
    QImage shot(273, 153, QImage::Format_RGB32);
    shot.fill(colour);
    QPainter p(&shot);
    p.setPen(Qt::white);
    p.drawRect(4, 4, 264, 144);
    p.drawText(QRect(0, 0, 273, 153), Qt::AlignCenter, QString::fromStdString("Tarnwick - " + name));
    p.end();
    shot.save(QString::fromStdString(folder + "skins/" + name + "/screenshot.bmp"), "BMP");
    QImage back(273, 153, QImage::Format_RGB32);
    back.fill(colour);
    back.save(QString::fromStdString(folder + "skins/" + name + "/back.bmp"), "BMP");
}

void SampleFolder(const std::string &folder) {
    const std::string lang = ApplicationFolder() + "Lang/";
    for (const auto &f : ListDirectory(lang, true, false))
        Write(folder + "Lang/" + f, ReadFileToString(lang + f));
    if (!FileExists(folder + "Tarnwick.ini"))
        Write(folder + "Tarnwick.ini",
              "[Accounts]\r\nNum=2\r\n"
              "[0]\r\nName=Home\r\nHost=pop.example.net\r\nPort=110\r\nUserName=anna\r\nEnabled=True\r\n"
              "Connection=POP3\r\nOwnColor=clBlue\r\n"
              "[1]\r\nName=Work\r\nHost=imap.example.com\r\nPort=143\r\nUserName=anna.k\r\nEnabled=True\r\n"
              "Connection=IMAP4\r\nInbox=INBOX\r\nOwnSkin=blue\r\n"
              "[2]\r\nName=Web mail\r\nHost=webmail\r\nPort=0\r\nEnabled=False\r\nConnection=HTTP\r\n"
              "[Options]\r\nLanguage=english.lng\r\nSkin=Default\r\nCheckTime=10\r\n");
    SampleSkin(folder, "Default", QColor(40, 90, 160), "Tarnwick team");
    SampleSkin(folder, "blue", QColor(20, 40, 200), "A. Painter");
    ForceDirectories(folder + "skins/broken");
    Write(folder + "rules/Spam.rul", "[Rule]\r\nRule1=0\r\nEnabled=True\r\n");
    Write(folder + "rules/Newsletters.rul", "[Rule]\r\nRule1=1\r\nEnabled=False\r\n");
    Write(folder + "host_data.dat",
          "[Example POP3]\r\nHost=pop.example.net\r\nPort=110\r\n"
          "[Example IMAP4]\r\nHost=imap.example.net\r\nPort=143\r\nConnection=IMAP4\r\n"
          "[Example secure]\r\nHost=pop.example.net\r\nPort=995\r\nSSL=True\r\n");
}

void Shot(const std::string &prefix, int n, const char *name) {
    QApplication::processEvents();
    QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    std::string file = prefix + Format("-%02d-", n) + name + ".png";
    screen.save(QString::fromStdString(file));
    std::printf("optionsdemo: %s\n", file.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tarnwick");
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc < 2) {
        std::fprintf(stderr, "usage: optionsdemo FOLDER [--screenshots PREFIX] [--language FILE]\n");
        return 2;
    }
    std::string folder = IncludeTrailingPathDelimiter(argv[1]), shots, language, lateShot;
    int lateSeconds = 0;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--screenshots" && i + 1 < argc) shots = argv[++i];
        else if (a == "--language" && i + 1 < argc) language = argv[++i];
        else if (a == "--shot-after" && i + 2 < argc) {
            lateSeconds = std::atoi(argv[++i]);
            lateShot = argv[++i];
        }
    }
    ForceDirectories(folder);
    SetProgramFolder(folder);
    SampleFolder(folder);

    auto *main = new TFrmMain();
    LoadSettings(main->State.Accounts, main->State.Options, SettingsFilePath(), HostDataFilePath(),
                 [](const std::string &s) { return DirectoryExists(ProgramFile("skins/" + s)); });
    if (!language.empty()) {
        main->State.Options.Language = language;
        SetLanguageFileName(language);
    }
    main->State.Options.NextCheck = Now() + 7 * 0.0007;
    auto *options = new TFormAsetukset(nullptr);
    main->ReportEvent("pop.example.net", 10, 4, TEventReporter::clBlack);
    main->ReportEvent("You got 2 new mails", 11, 2, TEventReporter::clBlue);
    main->ReportEvent("imap.example.com", 10, 4, TEventReporter::clBlack);
    main->ReportEvent("Socket Error # 111 Connection refused.", 0, 1, TEventReporter::clRed);
    main->ReportEvent("Päivitys – ääkköset ja € toimivat", 0, 5, TEventReporter::clGreen);

    // The tray menu's "Options" item.
    main->Asetukset1->trigger();
    if (!lateShot.empty()) {
        // Where the first and the third account lines are, for a drag.
        QTimer::singleShot(200, [&] {
            TCheckListBox *list = options->lbAccounts;
            if (list->count() < 3) return;
            QPoint a = list->viewport()->mapToGlobal(list->visualItemRect(list->item(0)).center());
            QPoint b = list->viewport()->mapToGlobal(list->visualItemRect(list->item(2)).center());
            std::printf("optionsdemo: lines %d %d %d %d\n", a.x(), a.y(), b.x(), b.y());
            std::fflush(stdout);
        });
        QTimer::singleShot(lateSeconds * 1000, [&] {
            QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromStdString(lateShot));
            std::printf("optionsdemo: %s\n", lateShot.c_str());
            std::fflush(stdout);
            options->close();
            QApplication::quit();
        });
    }
    if (shots.empty()) {
        int rc = app.exec();
        delete options;
        delete main;
        return rc;
    }

    QTimer::singleShot(300, [&] {
        const char *names[] = {"accounts", "account-home", "account-work", "account-web", "message",
                               "message-other", "other", "languages", "skins", "about", "log",
                               "log-options", "new", "reader", "rules"};
        for (int k = 0; k < 15; ++k) {
            QTreeWidgetItem *node = options->NodeAt(k);
            if (!node) break;
            options->TreeView1->setCurrentItem(node);
            Shot(shots, k, names[k]);
        }
        options->CheckListBox1->setCurrentRow(1);
        options->CheckListBox1Click(options->CheckListBox1, 1);
        options->TreeView1->setCurrentItem(options->NodeAt(2));
        Shot(shots, 15, "account-home-other-language");
        options->TreeView1->setCurrentItem(options->NodeAt(5));
        Shot(shots, 16, "message-other-language");
        options->close();
        QApplication::quit();
    });
    int rc = app.exec();
    delete options;
    delete main;
    return rc;
}
