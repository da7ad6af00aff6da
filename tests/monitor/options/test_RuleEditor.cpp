// The rule editor driven as a user would: through its controls, with the
// questions and messages it raises answered through the dialog seam, and the
// file it writes read back by the rules engine.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <deque>
#include <functional>
#include <memory>

#include "settings/CryptStr.h"
#include "dialogs/DialogSeam.h"
#include "DovecotServer.h"
#include "IniFile.h"
#include "settings/Kel_Reg.h"
#include "NetMessage.h"
#include "NetPOP3.h"
#include "settings/ProgramPaths.h"
#include "QtTestApp.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "settings/unDecodes.h"
#include "settings/unLanguage.h"
#include "options/unBrowse.h"
#include "dialogs/unFrmGetText.h"
#include "dialogs/unMessYesNo.h"
#include "settings/unRules.h"
#include "options/unRulesForm.h"
#include "dialogs/unitMessages.h"

namespace {

class RuleEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        SetProgramFolder(Dir.Path());
        SetSettingsFileName("Tarnwick.ini");
        SetLanguageFileName("test.lng");
        WriteTestFile(Dir.File("Tarnwick.ini"),
                      "[Accounts]\r\nNum=1\r\n[0]\r\nName=Home\r\n[1]\r\nName=Work\r\n[2]\r\nName=Ghost\r\n");
        IniFileCacheClear();
    }
    void TearDown() override {
        SetModalHook({});
        SetProgramFolder("");
        SetLanguageFileName(DefaultLanguageFile);
    }
    std::string RuleFile(const std::string &name) { return Dir.File("rules/" + name + ".rul"); }
    void NewRule(const std::string &name) { WriteTestFile(RuleFile(name), "[Rule]\r\nRule1=-1\r\n"); }

    // Opens the editor on a rule, runs the script in it, then closes it as
    // by its close box. Questions take the next of Answers (0 Yes, 1 No, 2
    // close box); every question and message is recorded.
    void Edit(const std::string &name, const std::function<void(TfrmBlackList &)> &script) {
        SetModalHook([&](QDialog &d) {
            if (auto *f = qobject_cast<TfrmBlackList *>(&d)) {
                EXPECT_TRUE(RuleEditorOpen());
                script(*f);
            } else if (auto *q = qobject_cast<TfrmMessYesNo *>(&d)) {
                Questions.push_back(d.windowTitle().toStdString() + "|" + q->Label1->text().toStdString());
                int answer = Answers.empty() ? 2 : Answers.front();
                if (!Answers.empty()) Answers.pop_front();
                if (answer == 0) q->BitBtn1->click();
                if (answer == 1) q->BitBtn2->click();
            } else if (auto *m = qobject_cast<TForm1 *>(&d)) {
                Messages.push_back(m->Label2->text().toStdString());
            } else if (auto *t = qobject_cast<TfrmGetText *>(&d)) {
                Prompts.push_back(d.windowTitle().toStdString() + "|" + t->Label1->text().toStdString() + "|" +
                                  t->Edit1->text().toStdString());
                if (!Typed.empty()) {
                    t->Edit1->setText(QString::fromStdString(Typed.front()));
                    Typed.pop_front();
                    t->BitBtn1->click();
                }
            } else if (auto *b = qobject_cast<TfrmBrowse *>(&d)) {
                if (!Folder.empty()) {
                    b->SelectPath(Folder);
                    b->btOk->click();
                }
            }
        });
        ShowRuleEditor(name);
        EXPECT_FALSE(RuleEditorOpen());
        IniFileCacheClear();
    }
    static void Type(QComboBox *box, const std::string &text) { box->setEditText(QString::fromStdString(text)); }
    static std::vector<std::string> Lines(QListWidget *list) {
        std::vector<std::string> out;
        for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
        return out;
    }
    static void Tick(QListWidget *list, int row) { list->item(row)->setCheckState(Qt::Checked); }
    TStringList Section(const std::string &rule, const std::string &section) {
        TStringList values;
        IniReadSection(RuleFile(rule), section, values);
        return values;
    }
    std::string Key(const std::string &rule, const std::string &section, const std::string &key) {
        return IniReadString(RuleFile(rule), section, key, "(none)");
    }

    TempDir Dir;
    std::deque<int> Answers;
    std::deque<std::string> Typed;  // answers of the text input dialog
    std::string Folder;             // the folder browser's choice; empty: Cancel
    std::vector<std::string> Questions, Messages, Prompts;
};

}  // namespace

TEST_F(RuleEditorTest, NewRuleOpensOnTheDefaultsAndTheJobUnlocksTheGroups) {
    NewRule("Spam");
    Edit("Spam", [&](TfrmBlackList &f) {
        EXPECT_EQ(f.windowTitle().toStdString(), "Rule: Spam");
        EXPECT_EQ(f.width(), std::min(913, QGuiApplication::primaryScreen()->availableGeometry().width() - 8));
        EXPECT_EQ(f.CheckedJob(), -1);
        EXPECT_EQ(f.TxtPort->text().toStdString(), "25");
        EXPECT_TRUE(f.CheckBox2->isChecked());
        EXPECT_FALSE(f.CheckBox1->isChecked());
        EXPECT_EQ(Lines(f.CheckListBox1), (std::vector<std::string>{"Home", "Work"}));
        EXPECT_FALSE(f.GroupBox4->isEnabled());
        EXPECT_FALSE(f.GroupBox1->isEnabled());
        EXPECT_FALSE(f.GroupBox2->isEnabled());
        EXPECT_FALSE(f.BitBtn7->isEnabled());

        // Choosing a job: accounts and senders open; the account list only
        // without "all accounts"; the subject waits for a sender.
        f.CheckListBox2Click(TfrmBlackList::jobDelete);
        EXPECT_TRUE(f.BitBtn7->isEnabled());
        EXPECT_TRUE(f.GroupBox4->isEnabled());
        EXPECT_TRUE(f.GroupBox1->isEnabled());
        EXPECT_FALSE(f.CheckListBox1->isEnabled());
        EXPECT_TRUE(f.ListBox1->isEnabled());
        EXPECT_FALSE(f.GroupBox2->isEnabled());
        f.CheckBox2->setChecked(false);
        EXPECT_TRUE(f.CheckListBox1->isEnabled());
        f.CheckBox1->setChecked(true);
        EXPECT_FALSE(f.ListBox1->isEnabled());
        EXPECT_FALSE(f.ComboBox3->isEnabled());
        EXPECT_TRUE(f.GroupBox2->isEnabled());
        EXPECT_TRUE(f.ListBox2->isEnabled());
        for (int test : {TfrmBlackList::wrBlanc, TfrmBlackList::wrNotBlanc, TfrmBlackList::wrAll}) {
            f.ComboBox1->setCurrentIndex(test);
            EXPECT_FALSE(f.ListBox2->isEnabled());
            EXPECT_TRUE(f.ComboBox1->isEnabled());
        }
        f.ComboBox1->setCurrentIndex(TfrmBlackList::wrSame);
        EXPECT_TRUE(f.ComboBox4->isEnabled());

        // A click on the other job moves the tick; unticking the ticked one keeps it.
        f.CheckListBox2->item(TfrmBlackList::jobHide)->setCheckState(Qt::Checked);
        EXPECT_EQ(f.CheckedJob(), TfrmBlackList::jobHide);
        EXPECT_EQ(f.CheckListBox2->item(TfrmBlackList::jobDelete)->checkState(), Qt::Unchecked);
        f.CheckListBox2->item(TfrmBlackList::jobHide)->setCheckState(Qt::Unchecked);
        EXPECT_EQ(f.CheckedJob(), TfrmBlackList::jobHide);
        f.BitBtn7->click();
        EXPECT_FALSE(f.BitBtn7->isEnabled());
    });
    EXPECT_TRUE(Questions.empty());
    EXPECT_EQ(Key("Spam", "Rule", "Rule1"), "0");
    EXPECT_EQ(Key("Spam", "Rule", "AllAccounts"), "False");
    EXPECT_EQ(Key("Spam", "Rule", "AllEMails"), "True");
    EXPECT_EQ(Key("Spam", "Rule", "WordsRule"), "2");
    EXPECT_EQ(Key("Spam", "Rule", "Enabled"), "(none)");
}

TEST_F(RuleEditorTest, EntriesAreStoredAsTheRulesCompareThem) {
    NewRule("News");
    Edit("News", [&](TfrmBlackList &f) {
        f.CheckListBox2Click(TfrmBlackList::jobHide);
        Type(f.ComboBox2, "  Ann.Example@Mail.ORG ");
        f.BitBtn1->click();
        Type(f.ComboBox2, "  ann.example@mail.org ");
        f.BitBtn1->click();  // the same entry: refused
        Type(f.ComboBox2, "   ");
        f.BitBtn1->click();  // blank: nothing, no message
        EXPECT_EQ(Lines(f.ListBox1), (std::vector<std::string>{"ann.example@mail.org"}));
        EXPECT_TRUE(f.GroupBox2->isEnabled());
        Type(f.ComboBox4, "Weekly ÄÖ Letter");
        f.BitBtn4->click();
        Type(f.ComboBox4, " weekly äö letter");
        f.BitBtn4->click();
        EXPECT_EQ(Lines(f.ListBox2), (std::vector<std::string>{"weekly äö letter"}));
        f.BitBtn7->click();
    });
    EXPECT_EQ(Messages, (std::vector<std::string>{"This entry is already in the list.",
                                                 "This word is already in the list."}));
    EXPECT_EQ(Section("News", "EMails"), (TStringList{"ann.example@mail.org"}));
    EXPECT_EQ(Section("News", "Words"), (TStringList{"weekly äö letter"}));
    // What the cycle passes for a message the user meant.
    TRuleMessage m{"Home", Utf8LowerCase("Ann Example"), Utf8LowerCase("Ann.Example@MAIL.org"),
                   Utf8LowerCase("Re: WEEKLY ÄÖ LETTER #12")};
    EXPECT_EQ(ApplyRules(Dir.File("rules"), m).Action, raHide);
}

// Entries an older editor stored with capitals are the same entries to the
// rules: adding or renaming to one of them is refused as well.
TEST_F(RuleEditorTest, OlderMixedCaseEntriesAreDuplicatesToo) {
    WriteTestFile(RuleFile("Old"), "[Rule]\r\nRule1=0\r\n[EMails]\r\n0=Ann@X.FI\r\n1=bob@x.fi\r\n"
                                   "[Words]\r\n0=Big Sale\r\n");
    Edit("Old", [&](TfrmBlackList &f) {
        Type(f.ComboBox2, "ann@x.fi");
        f.BitBtn1->click();
        f.ListBox1->setCurrentRow(1);
        Typed = {"ANN@x.fi"};
        f.BitBtn3->click();
        Type(f.ComboBox4, "big sale");
        f.BitBtn4->click();
        EXPECT_FALSE(f.BitBtn7->isEnabled());
    });
    EXPECT_EQ(Messages, (std::vector<std::string>{"This entry is already in the list.", "This entry is already in the list.",
                                                 "This word is already in the list."}));
    EXPECT_TRUE(Questions.empty());
}

// Values an older Windows install wrote in Windows-1252 are shown by their
// letters, offer no Save while untouched, and are written back byte for
// byte beside a change elsewhere; a value the user changes is written as typed.
TEST_F(RuleEditorTest, ValuesThatAreNotUtf8ComeBackByteForByte) {
    const std::string host = "sm\xE9tp.example", port = "25\xB2", user = "J\xFCrgen", pass = "p\xE4ss",
                      path = "/home/m\xE4il";
    WriteTestFile(RuleFile("Old"), "[Rule]\r\nRule1=0\r\nAllEMails=False\r\n[Options]\r\nHost=" + host +
                                       "\r\nPort=" + port + "\r\nUser=" + user + "\r\nPass=" + pass +
                                       "\r\nPath=" + path + "\r\n");
    Edit("Old", [&](TfrmBlackList &f) {
        EXPECT_EQ(f.TxtHost->text().toStdString(), "sm\u00e9tp.example");
        EXPECT_EQ(f.TxtUser->text().toStdString(), "J\u00fcrgen");
        EXPECT_EQ(f.Edit1->text().toStdString(), "/home/m\u00e4il");
        EXPECT_FALSE(f.BitBtn7->isEnabled());
        // Choosing the job the rule has changes nothing either.
        f.CheckListBox2Click(TfrmBlackList::jobHide);
        EXPECT_FALSE(f.BitBtn7->isEnabled());
    });
    EXPECT_TRUE(Questions.empty());  // nothing to save on closing
    Edit("Old", [&](TfrmBlackList &f) {
        f.CheckBox1->setChecked(true);
        f.BitBtn7->click();
    });
    TRuleDefinition r = ReadRuleDefinition(RuleFile("Old"));
    EXPECT_TRUE(r.AllEMails);
    EXPECT_EQ(r.Host, host);
    EXPECT_EQ(r.Port, port);
    EXPECT_EQ(r.User, user);
    EXPECT_EQ(r.Pass, pass);
    EXPECT_EQ(r.Path, path);

    Edit("Old", [&](TfrmBlackList &f) {
        f.TxtUser->setText("J\u00fcrgen M");
        f.BitBtn7->click();
    });
    r = ReadRuleDefinition(RuleFile("Old"));
    EXPECT_EQ(r.User, "J\u00fcrgen M");
    EXPECT_EQ(r.Host, host);
}

TEST_F(RuleEditorTest, RenamedEntriesAreStoredAsTheRulesCompareThem) {
    WriteTestFile(RuleFile("Ren"), "[Rule]\r\nRule1=0\r\n[EMails]\r\n0=ann@x.fi\r\n1=bob@x.fi\r\n[Words]\r\n0=sale\r\n");
    Edit("Ren", [&](TfrmBlackList &f) {
        f.ListBox1->setCurrentRow(0);
        Typed = {"  Ann.New@X.FI "};
        f.BitBtn3->click();
        f.ListBox1->setCurrentRow(1);
        Typed = {"ANN.NEW@x.fi"};  // the same as the other entry: refused
        f.BitBtn3->click();
        f.ListBox2->setCurrentRow(0);
        Typed = {"Big SALE"};
        emit f.ListBox2->itemDoubleClicked(f.ListBox2->item(0));  // a double click renames too
        f.ListBox2->setCurrentRow(0);
        Typed = {"   "};  // nothing given: nothing changes
        f.BitBtn6->click();
        f.BitBtn7->click();
    });
    ASSERT_GE(Prompts.size(), 3u);
    EXPECT_EQ(Prompts[0], "Tarnwick / Rule|Sender address or name:|ann@x.fi");
    EXPECT_EQ(Prompts[2], "Tarnwick / Rule|Word:|sale");
    EXPECT_EQ(Messages, (std::vector<std::string>{"This entry is already in the list."}));
    EXPECT_EQ(Section("Ren", "EMails"), (TStringList{"ann.new@x.fi", "bob@x.fi"}));
    EXPECT_EQ(Section("Ren", "Words"), (TStringList{"big sale"}));
    TRuleMessage m{"Home", "", "ann.new@x.fi", Utf8LowerCase("BIG SALE today")};
    EXPECT_EQ(ApplyRules(Dir.File("rules"), m).Action, raHide);
}

TEST_F(RuleEditorTest, TheFolderBrowserFillsTheSavePath) {
    NewRule("Save");
    ForceDirectories(Dir.File("saved mail"));
    Edit("Save", [&](TfrmBlackList &f) {
        f.Edit1->setText("/old");
        Folder = ExcludeTrailingPathDelimiter(Dir.File("saved mail"));
        f.bbBrowse->click();
        EXPECT_EQ(f.Edit1->text().toStdString(), Folder);
        Folder.clear();  // Cancel keeps what stands
        f.bbBrowse->click();
        EXPECT_EQ(f.Edit1->text().toStdString(), ExcludeTrailingPathDelimiter(Dir.File("saved mail")));
        f.BitBtn7->click();
    });
    EXPECT_EQ(Key("Save", "Options", "Path"), ExcludeTrailingPathDelimiter(Dir.File("saved mail")));
}

TEST_F(RuleEditorTest, DeleteEverythingIsSavedOnlyOnAClearYes) {
    // job, all senders, words, subject test, all accounts, one account ticked -> warning key
    struct Case {
        int job;
        bool allSenders;
        bool words;
        int test;
        bool allAccounts, oneAccount;
        const char *warning;
    } cases[] = {
        {TfrmBlackList::jobDelete, true, false, TfrmBlackList::wrSame, true, false, "every account"},
        {TfrmBlackList::jobDelete, true, false, TfrmBlackList::wrAll, false, true, "the chosen accounts"},
        {TfrmBlackList::jobDelete, true, false, TfrmBlackList::wrInclude, false, true, "the chosen accounts"},
        {TfrmBlackList::jobDelete, true, false, TfrmBlackList::wrBlanc, true, false, nullptr},
        {TfrmBlackList::jobDelete, true, false, TfrmBlackList::wrAll, false, false, nullptr},
        {TfrmBlackList::jobDelete, true, true, TfrmBlackList::wrNotInclude, true, false, nullptr},
        // Words the subject test ignores (the list is disabled) narrow nothing.
        {TfrmBlackList::jobDelete, true, true, TfrmBlackList::wrAll, true, false, "every account"},
        {TfrmBlackList::jobDelete, true, true, TfrmBlackList::wrNotBlanc, false, true, "the chosen accounts"},
        {TfrmBlackList::jobDelete, true, true, TfrmBlackList::wrBlanc, true, false, nullptr},
        {TfrmBlackList::jobDelete, false, false, TfrmBlackList::wrAll, true, false, nullptr},
        {TfrmBlackList::jobHide, true, false, TfrmBlackList::wrAll, true, false, nullptr},
    };
    int n = 0;
    for (const Case &c : cases) {
        for (int answer : {0, 1, 2}) {
            std::string name = "R" + IntToStr(n++);
            SCOPED_TRACE(name);
            NewRule(name);
            Questions.clear();
            Answers = {answer};
            bool savedInside = false;
            Edit(name, [&](TfrmBlackList &f) {
                f.CheckListBox2Click(c.job);
                f.CheckBox2->setChecked(c.allAccounts);
                if (c.oneAccount) Tick(f.CheckListBox1, 1);
                if (c.allSenders) {
                    f.CheckBox1->setChecked(true);
                } else {
                    Type(f.ComboBox2, "bob@example.org");
                    f.BitBtn1->click();
                }
                if (c.words) {
                    Type(f.ComboBox4, "invoice");
                    f.BitBtn4->click();
                    EXPECT_EQ(f.ListBox2->count(), 1);
                }
                f.ComboBox1->setCurrentIndex(c.test);
                f.BitBtn7->click();
                savedInside = !f.BitBtn7->isEnabled();
                // Whatever happened, the close question is then left unanswered.
                Answers = {1};
            });
            bool saved = Key(name, "Rule", "Rule1") != "-1";
            if (c.warning) {
                ASSERT_GE(Questions.size(), 1u);
                EXPECT_NE(Questions[0].find(c.warning), std::string::npos) << Questions[0];
                EXPECT_NE(Questions[0].find("Warning: this rule deletes"), std::string::npos);
                EXPECT_EQ(saved, answer == 0);
                EXPECT_EQ(savedInside, answer == 0);
            } else {
                EXPECT_TRUE(saved);
                EXPECT_TRUE(Questions.empty());
            }
            if (!c.warning) break;
        }
    }
}

// The offscreen screen is narrower than the editor's design size: the window
// shrinks to it and keeps its frame, title bar and job list on it.
TEST_F(RuleEditorTest, TheEditorFitsAScreenSmallerThanItsDesign) {
    QScreen *screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect area = screen->availableGeometry();
    ASSERT_LT(area.width(), 913) << "the test needs a screen narrower than the editor";
    NewRule("Small");
    bool seen = false;
    Edit("Small", [&](TfrmBlackList &f) {
        seen = true;
        const QRect frame = f.frameGeometry();
        EXPECT_TRUE(area.contains(frame)) << frame.x() << "," << frame.y() << " " << frame.width() << "x"
                                          << frame.height();
        // The bottom-right corner stays where the design puts it.
        EXPECT_EQ(frame.bottomRight(), area.bottomRight());
        const QRect jobs(f.CheckListBox2->mapToGlobal(QPoint(0, 0)), f.CheckListBox2->size());
        EXPECT_TRUE(area.contains(jobs));
        f.BitBtn8->click();
    });
    EXPECT_TRUE(seen);
}

TEST_F(RuleEditorTest, ClosingWithChangesAsksToSave) {
    NewRule("Ask");
    // No: closes without writing.
    Answers = {1};
    Edit("Ask", [&](TfrmBlackList &f) { f.CheckListBox2Click(TfrmBlackList::jobHide); });
    ASSERT_EQ(Questions.size(), 1u);
    EXPECT_EQ(Questions[0], "Tarnwick / Save...|\r\n\r\n\r\nThe rule has been changed.\r\nDo you want to save it?");
    EXPECT_EQ(Key("Ask", "Rule", "Rule1"), "-1");
    // Yes: saves, then closes.
    Questions.clear();
    Answers = {0};
    Edit("Ask", [&](TfrmBlackList &f) {
        f.CheckListBox2Click(TfrmBlackList::jobHide);
        f.TxtHost->setText("smtp.example.org");
    });
    EXPECT_EQ(Questions.size(), 1u);
    EXPECT_EQ(Key("Ask", "Rule", "Rule1"), "0");
    EXPECT_EQ(Key("Ask", "Options", "Host"), "smtp.example.org");
    // Nothing changed, or a change undone: no question. A list edit counts
    // even when undone, as the lists are not compared with the file.
    Questions.clear();
    Edit("Ask", [&](TfrmBlackList &f) {
        EXPECT_FALSE(f.BitBtn7->isEnabled());
        f.CheckBox2->setChecked(false);
        f.CheckBox2->setChecked(true);
        EXPECT_TRUE(f.BitBtn7->isEnabled());  // the change itself enabled Save
    });
    EXPECT_EQ(Questions.size(), 1u);
}

TEST_F(RuleEditorTest, LoadShowsTheFileAndSaveKeepsWhatTheEditorDoesNotShow) {
    WriteTestFile(RuleFile("Keep"),
                  "[Rule]\r\nRule1=3\r\nEnabled=False\r\nAllAccounts=False\r\nEMailRule=7\r\nAllEMails=False\r\n"
                  "WordsRule=x\r\n[Accounts]\r\n5=Work\r\n[EMails]\r\n0=a@x.fi\r\n1=b@y.fi\r\n"
                  "[Words]\r\n0=hello\r\n[Options]\r\nPath=/tmp/saved\r\nPass=plain pw\r\nNote=mine\r\n");
    Edit("Keep", [&](TfrmBlackList &f) {
        EXPECT_EQ(f.CheckedJob(), -1);  // the save job has no line here
        EXPECT_FALSE(f.CheckBox2->isChecked());
        EXPECT_EQ(f.CheckListBox1->item(0)->checkState(), Qt::Unchecked);
        EXPECT_EQ(f.CheckListBox1->item(1)->checkState(), Qt::Checked);
        EXPECT_EQ(f.ComboBox3->currentIndex(), 0);
        EXPECT_EQ(f.ComboBox1->currentIndex(), 0);
        EXPECT_EQ(Lines(f.ListBox1), (std::vector<std::string>{"a@x.fi", "b@y.fi"}));
        EXPECT_EQ(f.Edit1->text().toStdString(), "/tmp/saved");
        EXPECT_EQ(f.TxtPassword->text().toStdString(), "plain pw");
        EXPECT_FALSE(f.BitBtn7->isEnabled());  // out-of-range tests read as the boxes show them
        f.TxtPassword->setText("sekret");
        f.BitBtn7->click();
    });
    EXPECT_EQ(Key("Keep", "Rule", "Rule1"), "3");
    EXPECT_EQ(Key("Keep", "Rule", "Enabled"), "False");
    EXPECT_EQ(Key("Keep", "Options", "Note"), "mine");
    EXPECT_EQ(Section("Keep", "Accounts"), (TStringList{"Work"}));
    EXPECT_EQ(Key("Keep", "Accounts", "1"), "Work");  // under the account's index
    // Scrambled like every stored password, and read back by the editor.
    std::string stored = Key("Keep", "Options", "Pass");
    EXPECT_EQ(stored.rfind("0_", 0), 0u);
    EXPECT_EQ(UnscrambleStr(stored), "sekret");
    EXPECT_EQ(ReadRuleDefinition(RuleFile("Keep")).Pass, "sekret");
    Edit("Keep", [&](TfrmBlackList &f) { EXPECT_EQ(f.TxtPassword->text().toStdString(), "sekret"); });
}

TEST_F(RuleEditorTest, RemovingAndDraggingEntries) {
    WriteTestFile(RuleFile("List"), "[Rule]\r\nRule1=0\r\n[EMails]\r\n0=a\r\n1=b\r\n2=c\r\n[Words]\r\n0=w\r\n");
    Edit("List", [&](TfrmBlackList &f) {
        // The entry under the mouse-down point goes where it is dropped.
        f.DragSource = 0;
        f.ListBoxDragDrop(f.ListBox1, 2);
        EXPECT_EQ(Lines(f.ListBox1), (std::vector<std::string>{"b", "c", "a"}));
        f.DragSource = 1;
        f.ListBoxDragDrop(f.ListBox1, -1);  // dropped below the entries: nothing
        EXPECT_EQ(Lines(f.ListBox1), (std::vector<std::string>{"b", "c", "a"}));
        f.ListBox1->setCurrentRow(2);
        f.BitBtn2->click();
        EXPECT_EQ(Lines(f.ListBox1), (std::vector<std::string>{"b", "c"}));
        EXPECT_EQ(f.ListBox1->currentRow(), 1);
        f.ListBox1->setCurrentRow(0);
        f.BitBtn2->click();
        EXPECT_EQ(f.ListBox1->currentRow(), 0);
        f.ListBox2->setCurrentRow(0);
        f.BitBtn5->click();
        EXPECT_EQ(f.ListBox2->count(), 0);
        EXPECT_EQ(f.ListBox2->currentRow(), -1);
        // The last sender gone: the subject group keeps its state only while
        // "all senders" is on.
        f.ListBox1->setCurrentRow(0);
        f.BitBtn2->click();
        EXPECT_FALSE(f.GroupBox2->isEnabled());
        f.BitBtn7->click();
    });
    EXPECT_TRUE(Section("List", "EMails").Empty());
    EXPECT_TRUE(Section("List", "Words").Empty());
}

TEST_F(RuleEditorTest, CaptionsComeFromTheLanguageFile) {
    WriteTestFile(Dir.File("Lang/test.lng"),
                  "[Rule]\r\nRule=Sääntö\r\nBox1=Työ:\r\nRule2=Poista\r\nAdd=<- Lisää\r\nWordRule7=Kaikki\r\n"
                  "Mess_1=Jo listalla\r\n[Options]\r\nHost=Palvelin\r\nClose=Sulje\r\n[Messages]\r\n54=Tarnwick!\r\n");
    NewRule("Kieli");
    Edit("Kieli", [&](TfrmBlackList &f) {
        EXPECT_EQ(f.windowTitle().toStdString(), "Sääntö: Kieli");
        EXPECT_EQ(f.GroupBox3->title().toStdString(), "Työ:");
        EXPECT_EQ(f.CheckListBox2->item(1)->text().toStdString(), "Poista");
        EXPECT_EQ(f.CheckListBox2->item(0)->text().toStdString(), "Do not show messages");
        EXPECT_EQ(f.BitBtn1->text().toStdString(), "<- Lisää");
        EXPECT_EQ(f.BitBtn4->text().toStdString(), "<- Lisää");
        EXPECT_EQ(f.ComboBox1->itemText(6).toStdString(), "Kaikki");
        EXPECT_EQ(f.LblHost->text().toStdString(), "Palvelin:");
        EXPECT_EQ(f.LblPort->text().toStdString(), "Port Number:");
        EXPECT_EQ(f.BitBtn8->text().toStdString(), "Sulje");
        f.CheckListBox2Click(0);
        Type(f.ComboBox2, "x");
        f.BitBtn1->click();
        f.BitBtn1->click();
        f.BitBtn7->click();
    });
    EXPECT_EQ(Messages, (std::vector<std::string>{"Jo listalla"}));
}

TEST_F(RuleEditorTest, ARuleThatCannotBeWrittenKeepsTheWindow) {
    NewRule("Stuck");
    Edit("Stuck", [&](TfrmBlackList &f) {
        f.TxtHost->setText("smtp.example.org");
        // Something else took the file's place meanwhile.
        DeleteFile(RuleFile("Stuck"));
        ForceDirectories(RuleFile("Stuck"));
        f.BitBtn7->click();
        ASSERT_EQ(Messages.size(), 1u);
        EXPECT_EQ(Messages[0].rfind("The rule could not be saved.", 0), 0u) << Messages[0];
        EXPECT_TRUE(f.BitBtn7->isEnabled());
        // Yes to saving at close fails the same way: the window stays.
        Answers = {0};
        f.close();
        EXPECT_TRUE(f.isVisible());
        EXPECT_EQ(Questions.size(), 1u);
        EXPECT_EQ(Messages.size(), 2u);
        // Once the place is free again the close question saves.
        RemoveDir(RuleFile("Stuck"));
        Answers = {0};
    });
    EXPECT_EQ(Key("Stuck", "Options", "Host"), "smtp.example.org");
}

// A rule made in the editor from what the user saw in a message, checked by
// the engine against the header a real server hands out.
TEST_F(RuleEditorTest, EditorRuleMatchesHeadersFromAServer) {
    std::string why = DovecotServer::Unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    DovecotServer dc;
    dc.AddMessage(dc.UserName(),
                  "From: \"Ann Example\" <Ann.Example@Mail.Example.ORG>\r\nTo: tester@localhost\r\n"
                  "Subject: =?UTF-8?Q?Weekly_=C3=84=C3=96_NEWS?=\r\nMessage-ID: <1@x>\r\n\r\nbody\r\n");
    dc.AddMessage(dc.UserName(),
                  "From: Bob <bob@other.example>\r\nTo: tester@localhost\r\nSubject: Weekly news\r\n"
                  "Message-ID: <2@x>\r\n\r\nbody\r\n");
    NewRule("Ann");
    Edit("Ann", [&](TfrmBlackList &f) {
        f.CheckListBox2Click(TfrmBlackList::jobDelete);
        Type(f.ComboBox2, "Ann.Example@Mail.Example.ORG");  // as the user copied it
        f.BitBtn1->click();
        Type(f.ComboBox4, "Weekly ÄÖ");
        f.BitBtn4->click();
        f.BitBtn7->click();
    });
    std::unique_ptr<TNetPOP3> pop(NetCreate<TNetPOP3>(nullptr));
    pop->SetHost(dc.Host());
    pop->SetPort(dc.Pop3Port());
    pop->Username = dc.UserName();
    pop->Password = dc.Password();
    pop->Connect();
    auto msg = NetCreateNoOwner<TNetMessage>();
    std::vector<uint8_t> actions;
    for (int n = 1; n <= 2; ++n) {
        msg->Clear();
        ASSERT_TRUE(pop->RetrieveHeaders(n, *msg));
        TNetEMailAddressItem &from = msg->From();
        TRuleMessage m{"Home", Utf8LowerCase(from.Name), Utf8LowerCase(from.Address), Utf8LowerCase(msg->Subject)};
        actions.push_back(ApplyRules(Dir.File("rules"), m).Action);
    }
    pop->Disconnect();
    EXPECT_EQ(actions, (std::vector<uint8_t>{raDelete, raNone}));
}
