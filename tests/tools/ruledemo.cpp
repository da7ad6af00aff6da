// ruledemo: the Options dialog's rules page and the rule editor, and the
// small windows of the message, reader and other pages, on a program folder
// of sample data (three accounts, two rules, recent mail to suggest senders
// and subjects). scripts/ruledemo.sh runs it on a virtual display.
//
//   ruledemo FOLDER [--screenshots PREFIX] [--language english.lng]
//
// FOLDER becomes the program folder (sample files are written into it).
// With --screenshots it walks through the windows a user opens there, saves
// the screen at each as PREFIX-NN-what.png, and ends; without it the Options
// dialog stays open on the rules page for a person to try.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "mainwindow/FrmMain.h"
#include "settings/ProgramPaths.h"
#include "SysUtils.h"
#include "settings/Tiedot.h"
#include "options/asetukset.h"
#include "dialogs/unFrmGetText.h"
#include "settings/unLanguage.h"
#include "dialogs/unMessYesNo.h"
#include "options/unRulesForm.h"
#include "reader/unToBlackList.h"
#include "dialogs/unitMessages.h"

namespace {

void Write(const std::string &path, const std::string &text) {
    ForceDirectories(ExtractFileDir(path));
    WriteFileAtomic(path, text);
}

void SampleFolder(const std::string &folder, const std::string &language) {
    const std::string lang = ApplicationFolder() + "Lang/";
    for (const auto &f : ListDirectory(lang, true, false)) Write(folder + "Lang/" + f, ReadFileToString(lang + f));
    Write(folder + "Tarnwick.ini",
          "[Accounts]\r\nNum=2\r\n"
          "[0]\r\nName=Home\r\nHost=pop.example.net\r\nPort=110\r\nUserName=anna\r\nEnabled=True\r\nConnection=POP3\r\n"
          "[1]\r\nName=Work\r\nHost=imap.example.com\r\nPort=143\r\nUserName=anna.k\r\nEnabled=True\r\n"
          "Connection=IMAP4\r\n"
          "[2]\r\nName=Web mail\r\nHost=webmail\r\nPort=0\r\nEnabled=False\r\nConnection=HTTP\r\n"
          "[Options]\r\nLanguage=" + language + "\r\nSkin=Default\r\nSoundFile=" + folder + "sounds/ding.wav\r\n");
    Write(folder + "sounds/ding.wav", "RIFF");
    Write(folder + "sounds/chime.mp3", "ID3");
    Write(folder + "rules/Newsletters.rul",
          "[Rule]\r\nRule1=0\r\nEnabled=True\r\nAllAccounts=False\r\nEMailRule=2\r\nAllEMails=False\r\n"
          "WordsRule=0\r\n[Accounts]\r\n0=Home\r\n2=Web mail\r\n"
          "[EMails]\r\n0=news@shop.example.com\r\n1=weekly digest\r\n2=offers\r\n"
          "[Words]\r\n0=unsubscribe\r\n1=special offer\r\n");
    Write(folder + "rules/Spam.rul", "[Rule]\r\nRule1=1\r\nEnabled=False\r\nAllAccounts=True\r\nAllEMails=True\r\n");
    // A rule an older Windows install wrote: its name and settings are
    // Windows-1252 bytes.
    Write(folder + "rules/Kev\xE4t.rul",
          "[Rule]\r\nRule1=0\r\nEnabled=True\r\nAllAccounts=True\r\nAllEMails=False\r\n"
          "[EMails]\r\n0=J\xFCrgen@example.org\r\n"
          "[Options]\r\nHost=sm\xE9tp.example.net\r\nPort=25\r\nUser=J\xFCrgen\r\nPass=s\xE4l\r\n"
          "Path=/home/anna/Sp\xE4m\r\n");
}

// Mail the last check found, offered as senders and subjects in the editor.
void SampleMail(TFrmMain &main) {
    if (main.State.Accounts.Count() < 2) return;
    Tiedot &home = main.State.Accounts[0];
    home.Senders = {"Shop Example", "Ann Example"};
    home.Addresses = {"news@shop.example.com", "ann@example.org"};
    home.Subjects = {"Special offer for you", "Lunch on Friday?"};
    home.Dates = {"", ""};
    home.MessageIds = {"<1@x>", "<2@x>"};
    home.NewCount = 2;
    Tiedot &work = main.State.Accounts[1];
    work.Senders = {"\"Daily Digest\""};
    work.Addresses = {"digest@lists.example.com"};
    work.Subjects = {"Your daily digest"};
    work.Dates = {""};
    work.MessageIds = {"<3@x>"};
    work.NewCount = 1;
}

int gShot = 0;
std::string gPrefix;

void Shot(const char *what) {
    QApplication::processEvents();
    std::string file = gPrefix + Format("-%02d-", ++gShot) + what + ".png";
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen || !screen->grabWindow(0).save(QString::fromStdString(file)))
        std::fprintf(stderr, "ruledemo: could not save %s\n", file.c_str());
    else
        std::printf("ruledemo: %s\n", file.c_str());
    std::fflush(stdout);
}

template <class T> T *Modal() { return qobject_cast<T *>(QApplication::activeModalWidget()); }

// Runs a step that opens a modal window after the current one returns.
void Later(const std::function<void()> &work) { QTimer::singleShot(0, work); }

// Runs the steps one after another, each a moment after the last, so that
// the windows they open are drawn before the next looks at the screen.
void Steps(std::vector<std::function<void()>> steps, size_t i = 0) {
    if (i >= steps.size()) return;
    QTimer::singleShot(600, [steps, i] {
        steps[i]();
        Steps(steps, i + 1);
    });
}

// The tree node that shows a page (the nodes after the accounts map one to
// one to the pages from the message options on).
void SelectPage(TFormAsetukset *options, int page) {
    if (QTreeWidgetItem *node = options->NodeAt(page + int(options->Work.size()) - 1))
        options->TreeView1->setCurrentItem(node);
}

void SelectRule(TFormAsetukset *options, const std::string &name) {
    for (int i = 0; i < options->ListBox1->Count(); ++i)
        if (options->ListBox1->Line(i) == name) options->ListBox1->SetItemIndex(i);
}

void TypeAnswer(const std::string &text) {
    if (auto *d = Modal<TfrmGetText>()) {
        d->Edit1->setText(QString::fromStdString(text));
        d->BitBtn1->click();
    }
}

void AnswerNo() {
    if (auto *q = Modal<TfrmMessYesNo>()) q->BitBtn2->click();
}

void CloseModal() {
    if (QWidget *w = QApplication::activeModalWidget()) w->close();
}

}  // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tarnwick");
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc < 2) {
        std::fprintf(stderr, "usage: ruledemo FOLDER [--screenshots PREFIX] [--language FILE]\n");
        return 2;
    }
    std::string folder = IncludeTrailingPathDelimiter(argv[1]), language = "english.lng";
    for (int i = 2; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--screenshots") gPrefix = argv[i + 1];
        else if (a == "--language") language = argv[i + 1];
    }
    ForceDirectories(folder);
    SetProgramFolder(folder);
    SampleFolder(folder, language);
    SetLanguageFileName(language);

    auto *main = new TFrmMain();
    LoadSettings(main->State.Accounts, main->State.Options, SettingsFilePath(), HostDataFilePath(),
                 [](const std::string &) { return true; });
    main->State.Options.Language = language;
    SampleMail(*main);
    auto *options = new TFormAsetukset(nullptr);
    main->Asetukset1->trigger();

    if (gPrefix.empty()) {
        SelectPage(options, TFormAsetukset::pgRules);
        int rc = app.exec();
        delete options;
        delete main;
        return rc;
    }

    Steps({
        [&] {
            SelectPage(options, TFormAsetukset::pgRules);
            Shot("rules-page");
            Later([&] { options->BitBtn5->click(); });
        },
        [] { Shot("new-rule-name"); },
        [] { TypeAnswer("Offers"); },
        [] { Shot("editor-new-rule"); },
        // A rule that would delete every message of every account.
        [] {
            auto *f = Modal<TfrmBlackList>();
            if (!f) return;
            f->CheckListBox2Click(TfrmBlackList::jobDelete);
            f->CheckBox1->setChecked(true);
            f->ComboBox1->setCurrentIndex(TfrmBlackList::wrAll);
            Later([f] { f->BitBtn7->click(); });
        },
        [] { Shot("delete-all-warning"); },
        [] { AnswerNo(); },
        [] { Later(CloseModal); },
        [] { Shot("save-question"); },
        [] { AnswerNo(); },
        [&] {
            SelectRule(options, "Newsletters");
            Later([&] { options->BitBtn7->click(); });
        },
        [] { Shot("editor-existing-rule"); },
        [] {
            if (auto *f = Modal<TfrmBlackList>()) Later([f] { f->bbBrowse->click(); });
        },
        [] { Shot("folder-browser"); },
        [] { CloseModal(); },
        [] { Later(CloseModal); },
        [&] {
            SelectRule(options, "Spam");
            Later([&] { options->BitBtn8->click(); });
        },
        [] { Shot("rename-rule"); },
        [] { TypeAnswer("newsletters"); },
        [] { Shot("rename-refused"); },
        [] { CloseModal(); },
        [&] {
            SelectRule(options, "Kev\xE4t");
            Later([&] { options->BitBtn7->click(); });
        },
        [] { Shot("editor-windows-1252-values"); },
        [] { Later(CloseModal); },
        [] { Later([] { ShowAddSenderToRule(DialogScreenRight(), DialogWorkAreaBottom(), "someone@example.org"); }); },
        [] {
            if (auto *d = Modal<TfrmToBlackList>()) d->ComboBox2->setCurrentIndex(d->ComboBox2->findText("Kev\u00e4t"));
            Shot("add-sender-windows-1252-rule");
        },
        [] { CloseModal(); },
        [&] {
            SelectPage(options, TFormAsetukset::pgMessage);
            Later([&] { options->Label38Click(); });
        },
        [] { Shot("date-format-help"); },
        [] { CloseModal(); },
        [&] { Later([&] { options->bbBrowse->click(); }); },
        [] { Shot("sound-file-chooser"); },
        [] {
            if (auto *d = Modal<QFileDialog>()) d->reject();
        },
        [&] {
            options->cbRunProg->setChecked(true);
            options->cbShowTopClick(options->cbRunProg);
            Later([&] { options->bbBrowse2->click(); });
        },
        [] { Shot("program-chooser"); },
        [] {
            if (auto *d = Modal<QFileDialog>()) d->reject();
        },
        [&] {
            SelectPage(options, TFormAsetukset::pgMessageReader);
            Later([&] { options->Label42->clicked(); });
        },
        [] { Shot("quote-font"); },
        [] {
            if (auto *d = Modal<QFontDialog>()) d->reject();
        },
        [&] {
            SelectPage(options, TFormAsetukset::pgOther);
            Later([&] { options->BitBtn1->click(); });
        },
        [] { Shot("no-updates"); },
        [] { CloseModal(); },
        [&] {
            options->btCancel->click();
            QApplication::quit();
        },
    });
    int rc = app.exec();
    delete options;
    delete main;
    return rc;
}
