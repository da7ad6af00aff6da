// ruledemo: the rule editor on a program folder of sample data (two
// accounts, a few rules, recent mail to suggest senders and subjects),
// opened as the Options dialog opens it. scripts/ruledemo.sh runs it on a
// virtual display.
//
//   ruledemo FOLDER [--screenshots PREFIX] [--language english.lng] [--rule NAME]
//
// FOLDER becomes the program folder (sample files are written into it).
// With --screenshots the editor is shown, then its delete-all warning, then
// its save question, each saved as PREFIX-NN-what.png, and the demo ends;
// without it the editor stays open for a person to try.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <string>

#include "ProgramPaths.h"
#include "SysUtils.h"
#include "unLanguage.h"
#include "unMessYesNo.h"
#include "unRulesForm.h"

namespace {

void Write(const std::string &path, const std::string &text) {
    ForceDirectories(ExtractFileDir(path));
    WriteFileAtomic(path, text);
}

void SampleFolder(const std::string &folder) {
    const std::string lang = ApplicationFolder() + "Lang/";
    for (const auto &f : ListDirectory(lang, true, false)) Write(folder + "Lang/" + f, ReadFileToString(lang + f));
    if (!FileExists(folder + "Tarnwick.ini"))
        Write(folder + "Tarnwick.ini",
              "[Accounts]\r\nNum=2\r\n[0]\r\nName=Home\r\n[1]\r\nName=Work\r\n[2]\r\nName=Web mail\r\n"
              "[Options]\r\nLanguage=english.lng\r\n");
    if (!FileExists(folder + "rules/Newsletters.rul"))
        Write(folder + "rules/Newsletters.rul",
              "[Rule]\r\nRule1=0\r\nEnabled=True\r\nAllAccounts=False\r\nEMailRule=2\r\nAllEMails=False\r\n"
              "WordsRule=0\r\n[Accounts]\r\n0=Home\r\n2=Web mail\r\n"
              "[EMails]\r\n0=news@shop.example.com\r\n1=weekly digest\r\n2=offers\r\n"
              "[Words]\r\n0=unsubscribe\r\n1=special offer\r\n"
              "[Options]\r\nHost=\r\nPort=25\r\nUser=\r\nPass=\r\nPath=\r\n");
}

void Shot(const std::string &file) {
    QApplication::processEvents();
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen || !screen->grabWindow(0).save(QString::fromStdString(file)))
        std::fprintf(stderr, "ruledemo: could not save %s\n", file.c_str());
    else
        std::printf("ruledemo: %s\n", file.c_str());
}

template <class T> T *Modal() { return qobject_cast<T *>(QApplication::activeModalWidget()); }

// Runs the steps one after another, each a moment after the last, so that
// the windows they open are drawn before the next looks at the screen.
void Steps(std::vector<std::function<void()>> steps, size_t i = 0) {
    if (i >= steps.size()) return;
    QTimer::singleShot(700, [steps, i] {
        steps[i]();
        Steps(steps, i + 1);
    });
}

}  // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: ruledemo FOLDER [--screenshots PREFIX] [--language FILE] [--rule NAME]\n");
        return 2;
    }
    std::string folder = IncludeTrailingPathDelimiter(argv[1]);
    std::string prefix, language = "english.lng", rule = "Newsletters";
    for (int i = 2; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--screenshots") prefix = argv[i + 1];
        else if (a == "--language") language = argv[i + 1];
        else if (a == "--rule") rule = argv[i + 1];
    }
    SampleFolder(folder);
    SetProgramFolder(folder);
    SetLanguageFileName(language);

    if (!prefix.empty()) {
        Steps({
            [&] { Shot(prefix + "-01-editor.png"); },
            // A rule that would delete every message of every account.
            [&] {
                auto *f = Modal<TfrmBlackList>();
                if (!f) return;
                f->CheckListBox2Click(TfrmBlackList::jobDelete);
                f->CheckBox2->setChecked(true);
                f->CheckBox1->setChecked(true);
                while (f->ListBox2->count() > 0) {
                    f->ListBox2->setCurrentRow(0);
                    f->BitBtn5Click();
                }
                f->ComboBox1->setCurrentIndex(TfrmBlackList::wrAll);
                QTimer::singleShot(0, f, [f] { f->BitBtn7Click(); });
            },
            [&] { Shot(prefix + "-02-warning.png"); },
            [&] {
                if (auto *q = Modal<TfrmMessYesNo>()) q->BitBtn2->click();
            },
            [&] {
                if (auto *f = Modal<TfrmBlackList>()) QTimer::singleShot(0, f, [f] { f->close(); });
            },
            [&] { Shot(prefix + "-03-save-question.png"); },
            [&] {
                if (auto *q = Modal<TfrmMessYesNo>()) q->BitBtn2->click();
            },
        });
    }
    ShowRuleEditor(rule);
    return 0;
}
