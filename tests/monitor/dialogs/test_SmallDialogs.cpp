// The text input, add-sender and folder dialogs, answered through the modal
// seam as a user would: typed text, buttons, Enter and Escape.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileSystemModel>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>

#include "dialogs/DialogSeam.h"
#include "IniFile.h"
#include "settings/ProgramPaths.h"
#include "QtTestApp.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "options/unBrowse.h"
#include "dialogs/unFrmGetText.h"
#include "settings/unLanguage.h"
#include "reader/unToBlackList.h"
#include "dialogs/unitMessages.h"

namespace {

class SmallDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        SetProgramFolder(Dir.Path());
        SetLanguageFileName("english.lng");
        WriteTestFile(Dir.File("Lang/english.lng"), ReadTestFile(std::string(TW_SOURCE_DIR) + "/Lang/english.lng"));
    }
    void TearDown() override {
        SetModalHook({});
        SetProgramFolder("");
        SetLanguageFileName(DefaultLanguageFile);
        IniFileCacheClear();
    }
    static void Key(QWidget *w, int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(w, &press);
    }
    TempDir Dir;
};

}  // namespace

TEST_F(SmallDialogs, TextInputAnswersWhatWasTyped) {
    std::string title, prompt, initial;
    QPoint place;
    bool masked = false, openInside = false;
    SetModalHook([&](QDialog &d) {
        auto &f = dynamic_cast<TfrmGetText &>(d);
        title = f.windowTitle().toStdString();
        prompt = f.Label1->text().toStdString();
        initial = f.Edit1->text().toStdString();
        place = f.pos();
        masked = f.Edit1->echoMode() == QLineEdit::Password;
        openInside = TextInputDialogOpen();
        // OK on an empty line keeps the dialog open.
        f.Edit1->clear();
        f.BitBtn1->click();
        EXPECT_TRUE(f.isVisible());
        f.Edit1->setText("  secret word ");
        f.BitBtn1->click();
        EXPECT_FALSE(f.isVisible());
    });
    EXPECT_EQ(ShowTextInputDialog("Password", "Type the password", "old", 700, 500, true), "  secret word ");
    EXPECT_EQ(title, "Tarnwick / Password");
    EXPECT_EQ(prompt, "Type the password");
    EXPECT_EQ(initial, "old");
    EXPECT_EQ(place, QPoint(700, 500));
    EXPECT_TRUE(masked);
    EXPECT_TRUE(openInside);
    EXPECT_FALSE(TextInputDialogOpen());

    // Without the password switch the line is shown as typed; Enter is OK.
    SetModalHook([&](QDialog &d) {
        auto &f = dynamic_cast<TfrmGetText &>(d);
        masked = f.Edit1->echoMode() == QLineEdit::Password;
        f.Edit1->setText("Name");
        Key(f.Edit1, Qt::Key_Return);
    });
    EXPECT_EQ(ShowTextInputDialog("Rule", "Rule name:", "", 10, 10, false), "Name");
    EXPECT_FALSE(masked);

    // Escape and Cancel answer nothing, whatever was typed.
    SetModalHook([&](QDialog &d) {
        auto &f = dynamic_cast<TfrmGetText &>(d);
        f.Edit1->setText("typed");
        Key(f.Edit1, Qt::Key_Escape);
        EXPECT_FALSE(f.isVisible());
    });
    EXPECT_EQ(ShowTextInputDialog("Rule", "Rule name:", "", 10, 10, false), "");
    SetModalHook([&](QDialog &d) {
        auto &f = dynamic_cast<TfrmGetText &>(d);
        f.Edit1->setText("typed");
        f.BitBtn2->click();
    });
    EXPECT_EQ(ShowTextInputDialog("Rule", "Rule name:", "", 10, 10, false), "");
}

TEST_F(SmallDialogs, TextInputButtonsFollowTheLanguage) {
    WriteTestFile(Dir.File("Lang/english.lng"), "[Options]\nOk=Selvä\nCancel=Peruuta\n");
    std::string ok, cancel;
    SetModalHook([&](QDialog &d) {
        auto &f = dynamic_cast<TfrmGetText &>(d);
        ok = f.BitBtn1->text().toStdString();
        cancel = f.BitBtn2->text().toStdString();
    });
    ShowTextInputDialog("T", "P", "", 0, 0, false);
    EXPECT_EQ(ok, "Selvä");
    EXPECT_EQ(cancel, "Peruuta");
}

namespace {

// The add-sender dialog with the message windows it may raise recorded.
struct AddSenderRun {
    std::vector<std::string> Messages;  // text of each message window
    QPoint Place;
    QStringList Rules, Senders;
    std::string Label1;
};

AddSenderRun RunAddSender(const std::function<void(TfrmToBlackList &)> &act, const std::string &sender = {}) {
    AddSenderRun run;
    SetModalHook([&](QDialog &d) {
        if (auto *m = dynamic_cast<TForm1 *>(&d)) {
            run.Messages.push_back(m->Label2->text().toStdString());
            return;
        }
        auto &f = dynamic_cast<TfrmToBlackList &>(d);
        EXPECT_TRUE(AddSenderDialogOpen());
        run.Place = f.frameGeometry().bottomRight() + QPoint(1, 1);
        run.Label1 = f.Label1->text().toStdString();
        for (int i = 0; i < f.ComboBox2->count(); ++i) run.Rules << f.ComboBox2->itemText(i);
        for (int i = 0; i < f.ComboBox1->count(); ++i) run.Senders << f.ComboBox1->itemText(i);
        act(f);
    });
    ShowAddSenderToRule(900, 650, sender);
    SetModalHook({});
    EXPECT_FALSE(AddSenderDialogOpen());
    return run;
}

}  // namespace

TEST_F(SmallDialogs, AddSenderStoresTheEntryLowerCasedAsTheNextKey) {
    WriteTestFile(Dir.File("rules/Spam.rul"), "[Rule]\nJob=0\n[EMails]\n0=first@example.org\n7=other@example.org\n");
    WriteTestFile(Dir.File("rules/ads.RUL"), "[Rule]\nJob=0\n");
    WriteTestFile(Dir.File("rules/notes.txt"), "x");
    AddSenderRun run = RunAddSender([](TfrmToBlackList &f) {
        f.ComboBox1->setEditText("  Jürgen.ÜBEL@Example.ORG ");
        f.ComboBox2->setCurrentIndex(f.ComboBox2->findText("Spam"));
        f.btOk->click();
        EXPECT_FALSE(f.isVisible());
    });
    EXPECT_TRUE(run.Messages.empty());
    // Rule files in directory order, shown without their extension.
    EXPECT_EQ(run.Rules, QStringList({"ads", "Spam"}));
    EXPECT_EQ(run.Place, QPoint(900, 650));
    EXPECT_EQ(run.Label1, "E-Mail or Name:");
    TMemIniFile ini(Dir.File("rules/Spam.rul"));
    TStringList keys;
    ini.ReadSection("EMails", keys);
    EXPECT_EQ(keys, TStringList({"0", "1", "2"}));
    EXPECT_EQ(ini.ReadString("EMails", "1", ""), "other@example.org");
    EXPECT_EQ(ini.ReadString("EMails", "2", ""), "jürgen.übel@example.org");
    // The other rule, with its own letter case, was not touched or copied.
    EXPECT_EQ(ReadTestFile(Dir.File("rules/ads.RUL")), "[Rule]\nJob=0\n");
}

TEST_F(SmallDialogs, AddSenderRefusesDuplicatesBlanksAndNoRule) {
    WriteTestFile(Dir.File("rules/Spam.rul"), "[EMails]\n0=known@example.org\n");
    std::string before = ReadTestFile(Dir.File("rules/Spam.rul"));
    AddSenderRun run = RunAddSender([](TfrmToBlackList &f) {
        f.ComboBox1->setEditText("   ");
        f.btOk->click();
        EXPECT_TRUE(f.isVisible());
        f.ComboBox1->setEditText("KNOWN@example.org");
        f.ComboBox2->setCurrentIndex(0);
        f.btOk->click();
        EXPECT_TRUE(f.isVisible());
        f.btCancel->click();
    });
    ASSERT_EQ(run.Messages.size(), 2u);
    EXPECT_EQ(run.Messages[0], "Type a sender address or name first.");
    EXPECT_EQ(run.Messages[1], "This entry is already in the list.");
    EXPECT_EQ(ReadTestFile(Dir.File("rules/Spam.rul")), before);

    // No rule to choose: refused, and no "rules/.rul" appears.
    DeleteFile(Dir.File("rules/Spam.rul"));
    run = RunAddSender([](TfrmToBlackList &f) {
        EXPECT_FALSE(f.ComboBox2->isEditable());
        f.ComboBox1->setEditText("a@b.c");
        f.btOk->click();
        EXPECT_TRUE(f.isVisible());
    });
    ASSERT_EQ(run.Messages.size(), 1u);
    EXPECT_EQ(run.Messages[0], "Choose a rule first.");
    EXPECT_TRUE(ListDirectory(Dir.File("rules")).empty());
}

// A rule file named in Windows-1252 by an older install: shown by its
// letters, written under its own name; an entry an older editor stored with
// capitals is the same sender; a rule gone since the listing is not made anew.
TEST_F(SmallDialogs, AddSenderWritesTheRuleFileItListed) {
    const std::string name = "Kev\xE4t", file = Dir.File("rules/" + name + ".rul");
    WriteTestFile(file, "[Rule]\r\nRule1=0\r\n[EMails]\r\n0=Known@Example.ORG\r\n");
    AddSenderRun run = RunAddSender([](TfrmToBlackList &f) {
        f.ComboBox1->setEditText("New@example.org");
        f.ComboBox2->setCurrentIndex(0);
        f.btOk->click();
        EXPECT_FALSE(f.isVisible());
    });
    EXPECT_TRUE(run.Messages.empty());
    EXPECT_EQ(run.Rules, QStringList({"Kevät"}));
    EXPECT_EQ(ListDirectory(Dir.File("rules")), std::vector<std::string>({name + ".rul"}));
    {
        TMemIniFile ini(file);
        EXPECT_EQ(ini.ReadString("Rule", "Rule1", ""), "0");
        EXPECT_EQ(ini.ReadString("EMails", "0", ""), "Known@Example.ORG");
        EXPECT_EQ(ini.ReadString("EMails", "1", ""), "new@example.org");
    }

    const std::string before = ReadTestFile(file);
    run = RunAddSender([&](TfrmToBlackList &f) {
        f.ComboBox1->setEditText(" known@example.org");
        f.ComboBox2->setCurrentIndex(0);
        f.btOk->click();
        EXPECT_TRUE(f.isVisible());
        EXPECT_EQ(ReadTestFile(file), before);
        // Gone while the dialog was open.
        DeleteFile(file);
        f.ComboBox1->setEditText("other@example.org");
        f.btOk->click();
        EXPECT_TRUE(f.isVisible());
        f.btCancel->click();
    });
    EXPECT_EQ(run.Messages, std::vector<std::string>({"This entry is already in the list.", "The rule could not be saved."}));
    EXPECT_TRUE(ListDirectory(Dir.File("rules")).empty());
}

TEST_F(SmallDialogs, AddSenderOffersTheSenderItWasGiven) {
    WriteTestFile(Dir.File("rules/Spam.rul"), "[EMails]\n");
    AddSenderRun run = RunAddSender(
        [](TfrmToBlackList &f) {
            EXPECT_EQ(f.ComboBox1->currentText().toStdString(), "someone@example.org");
            f.btOk->click();
        },
        "someone@example.org");
    EXPECT_TRUE(run.Senders.contains("someone@example.org"));
    TMemIniFile ini(Dir.File("rules/Spam.rul"));
    EXPECT_EQ(ini.ReadString("EMails", "0", ""), "someone@example.org");
}

TEST_F(SmallDialogs, BrowseAnswersTheChosenFolderOrNothing) {
    ForceDirectories(Dir.File("mail/saved"));
    WriteTestFile(Dir.File("mail/file.txt"), "x");
    std::string path = "unchanged";
    QPoint place;
    bool filesShown = true;
    SetModalHook([&](QDialog &d) {
        auto &f = dynamic_cast<TfrmBrowse &>(d);
        place = f.pos();
        f.SelectPath(ExcludeTrailingPathDelimiter(Dir.File("mail/saved")));
        // Folders only: the file has no row.
        filesShown = (f.Model->filter() & QDir::Files) != 0;
        EXPECT_EQ(f.windowTitle().toStdString(), "Tarnwick / Browse...");
        f.btOk->click();
    });
    ShowBrowseDialog(40, 60, path);
    EXPECT_EQ(path, ExcludeTrailingPathDelimiter(Dir.File("mail/saved")));
    EXPECT_EQ(place, QPoint(40, 60));
    EXPECT_FALSE(filesShown);

    // Cancel after an earlier OK answers nothing; so does the close box.
    SetModalHook([&](QDialog &d) {
        auto &f = dynamic_cast<TfrmBrowse &>(d);
        f.SelectPath(QDir::homePath().toStdString());
        f.BitBtn2->click();
    });
    ShowBrowseDialog(0, 0, path);
    EXPECT_EQ(path, "");
    path = "x";
    SetModalHook([&](QDialog &d) { d.close(); });
    ShowBrowseDialog(0, 0, path);
    EXPECT_EQ(path, "");
}
