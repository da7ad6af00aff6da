// The Options dialog on a program folder of its own, with the main window
// beside it, the tray and desktop recorded, and every modal question
// answered through the dialog seam.
#include <gtest/gtest.h>

#include <QScreen>

#include <QGuiApplication>

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTreeWidget>
#include <deque>
#include <functional>

#include "settings/CryptStr.h"
#include "OptionsFixture.h"
#include "Desktop.h"
#include "dialogs/DialogSeam.h"
#include "mainwindow/FrmMain.h"
#include "HttpTestServer.h"
#include "updates/Kel_Files.h"
#include "updates/ProductWeb.h"
#include "IniFile.h"
#include "settings/Kel_Reg.h"
#include "NetSSLOpenSSLHeaders.h"
#include "settings/ProgramPaths.h"
#include "QtTestApp.h"
#include "options/RtfLog.h"
#include "Shell.h"
#include "SimpleTimer.h"
#include "TestSupport.h"
#include "TrayBackend.h"
#include "options/asetukset.h"
#include "dialogs/unFrmGetText.h"
#include "settings/unLanguage.h"
#include "dialogs/unitDown.h"
#include "dialogs/unitMessages.h"

namespace {

// Settings of n accounts "A0".."An-1" on hosts "host0".., password "pw<k>".
std::string Accounts(int n, const std::string &extra = "") {
    std::string s = "[Accounts]\r\nNum=" + IntToStr(n - 1) + "\r\n";
    for (int k = 0; k < n; ++k) {
        s += "[" + IntToStr(k) + "]\r\nName=A" + IntToStr(k) + "\r\nHost=host" + IntToStr(k) +
             "\r\nPort=110\r\nUserName=user" + IntToStr(k) + "\r\nPW=" + ScrambleStr("pw" + IntToStr(k)) +
             "\r\nEnabled=True\r\nConnection=POP3\r\n";
    }
    return s + "[Options]\r\nLanguage=english.lng\r\nSkin=Default\r\n" + extra;
}

class OptionsTest : public OptionsDialogTest {
protected:
    // The main window on these settings, then the dialog, as the program
    // makes them at start.
    void Start(const std::string &settings, const std::string &user = "") {
        delete Options;
        delete Main;
        Options = nullptr;
        if (!settings.empty()) WriteTestFile(Dir.File("Tarnwick.ini"), settings);
        IniFileCacheClear();
        Main = new TFrmMain();
        Main->State.User = user;
        LoadSettings(Main->State.Accounts, Main->State.Options, SettingsFilePath(), HostDataFilePath(),
                     [](const std::string &) { return true; });
        Options = new TFormAsetukset();
    }
    void Show(TFormAsetukset::TMenuPage page = TFormAsetukset::mpFirst) {
        Options->ShowFromMenu(page);
        ASSERT_TRUE(Options->isVisible());
    }
    void Select(int absoluteIndex) {
        QTreeWidgetItem *node = Options->NodeAt(absoluteIndex);
        ASSERT_NE(node, nullptr) << absoluteIndex;
        Options->TreeView1->setCurrentItem(node);
    }
    int Page() const { return Options->PageControl1->currentIndex(); }
    std::string Settings() {
        IniFileCacheClear();
        return ReadTestFile(Dir.File("Tarnwick.ini"));
    }
    std::vector<std::string> ListLines(TCheckListBox *list) {
        std::vector<std::string> v;
        for (int i = 0; i < list->Count(); ++i) v.push_back(list->Line(i));
        return v;
    }
    std::vector<std::string> TreeAccounts() {
        std::vector<std::string> v;
        for (int i = 0; i < Options->RootNode()->childCount(); ++i)
            v.push_back(Options->RootNode()->child(i)->text(0).toStdString());
        return v;
    }
    std::vector<std::string> MainNames() {
        std::vector<std::string> v;
        for (const auto &t : Main->State.Accounts.Items) v.push_back(t.Name);
        return v;
    }
    static std::function<void(QDialog &)> Dismiss() {
        return [](QDialog &d) { d.reject(); };
    }

};

const std::pair<const char *, const char *> kDefaults[] = {
    {"Options/ShowMessage", "True"},   {"Options/DelayTime", "3"},        {"Options/CheckTime", "10"},
    {"Options/CheckConnect", "False"}, {"Options/SafeMem", "True"},       {"Options/CheckOnStart", "False"},
    {"Options/StartOnW", "False"},     {"Options/ShowRandom", "False"},   {"Options/CheckSkinFenlow", "False"},
    {"Options/CheckUpdates", "False"}, {"Options/AutoUpdate", "False"},   {"Options/PlaySound", "False"},
    {"Options/SoundFile", "<program folder>newmail.wav"},
    {"Options/Beep", "False"},         {"Options/Blink", "False"},        {"Options/BlinkTimes", "3"},
    {"Options/RunProg", "False"},      {"Options/ProgFile", ""},          {"Options/RunMailClient", "False"},
    {"Options/ShowBallTip", "False"},  {"Options/DefBTip", "False"},      {"Options/BTipSTime", "10"},
    {"Options/TurnMonOn", "True"},     {"Options/DisScreen", "True"},     {"Options/UseScrSav", "True"},
    {"Options/LogValue", "30"},        {"Options/LogToFile", "True"},     {"Options/UseColors", "True"},
    {"Options/SaveDeletedM", "True"},  {"Options/DelMessVal", "30"},      {"Options/ShowingTime", "tt    dd.mm.yyyy"},
    {"MessReader/AutoClose", "True"},  {"MessReader/CloseTime", "3"},
    {"MessReader/QuotesFont", "MS Sans Serif,1,12632256,8,0"},
    {"MessReader/MessageFont", "MS Sans Serif,0,0,8,0"},
    {"MessReader/ShowReaded", "True"}, {"MessReader/GetBodys", "False"},
};

}  // namespace

TEST_F(OptionsTest, EachNodeShowsItsPageWhateverTheNumberOfAccounts) {
    for (int n : {0, 1, 5}) {
        Start(n ? Accounts(n) : std::string("[Accounts]\r\nNum=-1\r\n[Options]\r\nLanguage=english.lng\r\n"));
        Show();
        EXPECT_EQ(Options->RootNode()->childCount(), n);
        EXPECT_EQ(Page(), TFormAsetukset::pgAccountList);
        const int nodes = n + 12;
        ASSERT_EQ(Options->NodeAt(nodes - 1)->text(0).toStdString(), "Black List") << n;
        EXPECT_EQ(Options->NodeAt(nodes), nullptr);
        for (int k = nodes - 1; k >= 0; --k) {
            Select(k);
            int expected = k == 0 ? 0 : (k <= n ? 1 : k - n + 1);
            EXPECT_EQ(Page(), expected) << "n=" << n << " node " << k;
            EXPECT_EQ(TFormAsetukset::PageOfNode(k, n), expected);
            EXPECT_EQ(Options->Label23->text(), "   " + Options->NodeAt(k)->text(0));
            if (k >= 1 && k <= n) EXPECT_EQ(Options->TxtHost->text().toStdString(), "host" + IntToStr(k - 1));
        }
        Options->btCancel->click();
        EXPECT_FALSE(Options->isVisible());
        // The menu's about and log entries open their pages, whatever n is.
        Show(TFormAsetukset::mpAbout);
        EXPECT_EQ(Page(), TFormAsetukset::pgAbout);
        Options->SelectLogPage();
        EXPECT_EQ(Page(), TFormAsetukset::pgLog);
        Options->close();
        Show(TFormAsetukset::mpLog);
        EXPECT_EQ(Page(), TFormAsetukset::pgLog);
        Options->close();
    }
}

TEST_F(OptionsTest, OkWritesEveryKeyOfTheTableAndTheMainWindowFlags) {
    Start(Accounts(1, "CheckTime=1000000\r\n"));
    Show();
    // A check time from an old release is shown divided by 100000.
    EXPECT_EQ(Options->SpinEdit1->value(), 10);
    EXPECT_TRUE(Options->Timer1->Enabled());
    Options->btOk->click();
    EXPECT_FALSE(Options->isVisible());
    EXPECT_FALSE(Options->Timer1->Enabled());
    std::vector<std::string> keys = Options->SettingKeys();
    ASSERT_EQ(keys.size(), std::size(kDefaults));
    for (const auto &[key, value] : kDefaults) {
        std::string section = Copy(key, 1, Pos("/", key) - 1), name = Copy(key, Pos("/", key) + 1);
        EXPECT_EQ(Read(section, name), StringReplaceAll(value, "<program folder>", Dir.Path())) << key;
    }

    // Changed controls are written as they stand, the flags go to the main window.
    Show();
    Options->SpinEdit1->setValue(25);
    Options->cbBeep->click();
    Options->Edit1->setText("hh:nn");
    Options->SpinEdit2->setValue(999);  // beyond its range: the range's end
    Options->CheckBox5->click();        // no new-mail animation
    Options->cbShowTop->click();        // docks at the top
    EXPECT_FALSE(Options->cbShowDown->isChecked());
    TDateTime before = Now();
    Options->btOk->click();
    EXPECT_EQ(Read("Options", "CheckTime"), "25");
    EXPECT_EQ(Read("Options", "Beep"), "True");
    EXPECT_EQ(Read("Options", "ShowingTime"), "hh:nn");
    EXPECT_EQ(Read("Options", "LogValue"), "150");
    EXPECT_FALSE(Main->State.Options.AnimNewMails);
    EXPECT_FALSE(Main->State.Options.ShowOnDown);
    EXPECT_NEAR(Main->State.Options.NextCheck, before + 25 * 0.0007, 0.0001);
    // A stored value that is not a number shows the default.
    WriteTestFile(Dir.File("Tarnwick.ini"), Accounts(1, "CheckTime=soon\r\nDelayTime=\r\n"));
    IniFileCacheClear();
    Show();
    EXPECT_EQ(Options->SpinEdit1->value(), 10);
    EXPECT_EQ(Options->SpinEdit3->value(), 3);
}

// A check time an old release stored counts as the dialog shows it: at
// start-up and at every scheduled check, not as a wait of many days.
TEST_F(OptionsTest, AnOldCheckTimeIsTheIntervalTheDialogShows) {
    for (const auto &[stored, shown] : {std::pair{"1000000", 10}, std::pair{"300000", 3}, std::pair{"100000", 1}}) {
        SCOPED_TRACE(stored);
        Start(Accounts(1, std::string("CheckTime=") + stored + "\r\n"));
        Show();
        EXPECT_EQ(Options->SpinEdit1->value(), shown);
        Options->btCancel->click();
        EXPECT_EQ(Main->State.Options.CheckTime, shown);
        Main->State.Options.NextCheck = Now() - 0.0001;
        const TDateTime before = Now();
        Main->Timer6Timer();
        EXPECT_EQ(Main->State.Options.CheckTime, shown);
        EXPECT_NEAR(Main->State.Options.NextCheck, before + shown * 0.0007, 0.0001);
    }
}

TEST_F(OptionsTest, OkWithoutAChosenSoundKeepsTheSoundTheAlertPlays) {
    WriteTestFile(Dir.File("newmail.wav"), "RIFF");
    // Nothing chosen: the box shows the sound beside the program, OK writes
    // it, and the alert plays it.
    Start(Accounts(1, "PlaySound=True\r\n"));
    Show();
    EXPECT_TRUE(Options->cbPlaySound->isChecked());
    EXPECT_EQ(Options->labSoundFile->Raw(), Dir.File("newmail.wav"));
    Options->btOk->click();
    EXPECT_EQ(Read("Options", "SoundFile"), Dir.File("newmail.wav"));
    Main->PlayNewMailSound();
    EXPECT_EQ(Desk.Calls, std::vector<std::string>{"PlaySound " + Dir.File("newmail.wav")});
    // A profile an earlier release saved with the Windows default plays the
    // same sound, and the next OK mends the file.
    Start(Accounts(1, "PlaySound=True\r\nSoundFile=C:\\Windows\\Media\\Windows XP huomautus.wav\r\n"));
    Desk.Calls.clear();
    Main->PlayNewMailSound();
    EXPECT_EQ(Desk.Calls, std::vector<std::string>{"PlaySound " + Dir.File("newmail.wav")});
    Show();
    EXPECT_EQ(Options->labSoundFile->Raw(), Dir.File("newmail.wav"));
    Options->btOk->click();
    EXPECT_EQ(Read("Options", "SoundFile"), Dir.File("newmail.wav"));
    // A sound the user chose, or none, stays as it is.
    Start(Accounts(1, "PlaySound=True\r\nSoundFile=/sounds/ding.wav\r\n"));
    Show();
    EXPECT_EQ(Options->labSoundFile->Raw(), "/sounds/ding.wav");
    Options->btOk->click();
    EXPECT_EQ(Read("Options", "SoundFile"), "/sounds/ding.wav");
    Start(Accounts(1, "PlaySound=True\r\nSoundFile=\r\n"));
    Show();
    EXPECT_EQ(Options->labSoundFile->Raw(), "");
    Options->btOk->click();
    EXPECT_EQ(Read("Options", "SoundFile"), "");
}

// Every version the program shows or writes is the one its executable
// carries, and that is the version the build was made as. Versions are
// compared with the marker read from the executable, never with the value
// the sources hold, and the About page shows that one version once.
TEST_F(OptionsTest, AboutPageAndSettingsCarryTheVersionOfTheRunningExecutable) {
    // The version marker of this very program, as Fenlow and the update site read it.
    const std::string marker = GetFileVersionText(ApplicationExeName());
    ASSERT_FALSE(marker.empty());
    EXPECT_EQ(marker, TW_BUILD_VERSION);
    // The program built beside this test carries the same marker.
    EXPECT_EQ(GetFileVersionText(std::string(TW_BINARY_DIR) + "/monitor/tarnwick"), marker);
    // Every dotted version any label of the About page shows (its links
    // are addresses).
    auto shown = [this] {
        static const QRegularExpression version("[0-9]+(\\.[0-9]+)+");
        std::vector<std::string> found;
        for (QLabel *label : Options->TabSheet4->findChildren<QLabel *>())
            if (!qobject_cast<TClickLabel *>(label))
                for (auto it = version.globalMatch(label->text()); it.hasNext();)
                    found.push_back(it.next().captured().toStdString());
        return found;
    };
    Start(Accounts(1));
    EXPECT_EQ(shown(), std::vector<std::string>{marker});
    Show(TFormAsetukset::mpAbout);
    EXPECT_EQ(Page(), TFormAsetukset::pgAbout);
    EXPECT_EQ(Options->lbVersion->text().toStdString(), "v. " + marker);
    EXPECT_EQ(shown(), std::vector<std::string>{marker});
    Options->btOk->click();
    EXPECT_EQ(Read("Options", "TWVerini"), marker);
    // And on the way out.
    IniWriteString(Dir.File("Tarnwick.ini"), "Options", "TWVerini", "0");
    Main->FormDestroy();
    EXPECT_EQ(Read("Options", "TWVerini"), marker);
}

TEST_F(OptionsTest, CancelAndTheCloseBoxLeaveTheSettingsFileByteIdentical) {
    Start(Accounts(2));
    const std::string before = Settings();
    for (int way = 0; way < 3; ++way) {
        Show();
        Answers.push_back(Type("Third"));
        Options->Button2->click();
        ASSERT_EQ(TreeAccounts().size(), 3u);
        Select(1);
        Options->TxtHost->setText("changed.example");
        Options->cbBeep->click();
        Options->CheckListBox1Click(Options->CheckListBox1, 1);  // finnish, at once
        EXPECT_EQ(Options->btCancel->text().toStdString(), "Peruuta");
        if (way == 0) Options->btCancel->click();
        else if (way == 1) Options->close();  // the frame's close box
        else {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(Options, &escape);
        }
        EXPECT_FALSE(Options->isVisible());
        EXPECT_EQ(Settings(), before) << way;
        EXPECT_EQ(MainNames(), (std::vector<std::string>{"A0", "A1"}));
        EXPECT_EQ(Main->State.Accounts[0].Host, "host0");
        EXPECT_EQ(Main->State.Options.Language, "english.lng");
        EXPECT_TRUE(Options->Work.empty());
        EXPECT_EQ(Options->lbAccounts->Count(), 0);
        EXPECT_EQ(Options->CheckListBox1->Count(), 0);
        EXPECT_EQ(Options->CheckListBox2->Count(), 0);
        EXPECT_EQ(Options->ComboBox1->count(), 0);
        EXPECT_FALSE(Options->Timer1->Enabled());
        // Back to English for the next round.
        SetLanguageFileName("english.lng");
        Options->ApplyOptionsLanguage(LanguageFilePath());
    }
}

TEST_F(OptionsTest, ConnectionKindsSetThePortAndTheControlsTheyUse) {
    Start(Accounts(1));
    Show();
    Select(1);
    auto choose = [&](int index) {
        Options->ComboBox2->setCurrentIndex(index);
        emit Options->ComboBox2->activated(index);
    };
    choose(2);  // HTTP
    EXPECT_EQ(Options->TxtPort->text().toStdString(), "0");
    EXPECT_FALSE(Options->TxtHost->isEnabled());
    EXPECT_FALSE(Options->TxtPort->isEnabled());
    EXPECT_FALSE(Options->CheckBox2->isEnabled());
    EXPECT_EQ(Options->TxtHost->text().toStdString(), "host0");  // the host stays
    EXPECT_TRUE(Options->txtInbox->isHidden());
    choose(1);  // IMAP4
    EXPECT_EQ(Options->TxtPort->text().toStdString(), "143");
    EXPECT_TRUE(Options->TxtHost->isEnabled());
    EXPECT_FALSE(Options->CheckBox2->isEnabled());
    EXPECT_FALSE(Options->txtInbox->isHidden());
    choose(2);
    Options->btOk->click();
    EXPECT_EQ(Main->State.Accounts[0].Kind, ckHTTP);
    EXPECT_EQ(Main->State.Accounts[0].Port, 0);
    EXPECT_EQ(Main->State.Accounts[0].Host, "host0");
}

TEST_F(OptionsTest, DraggingTheFirstAccountOntoTheThirdMovesListTreeAndCopyTogether) {
    Start(Accounts(3));
    Main->State.Accounts[1].Enabled = false;
    Show();
    // The mouse goes down on the first line; the line is dropped on the third.
    QWidget *view = Options->lbAccounts->viewport();
    QPoint at = Options->lbAccounts->visualItemRect(Options->lbAccounts->item(0)).center();
    QMouseEvent press(QEvent::MouseButtonPress, at, view->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(view, &press);
    EXPECT_EQ(Options->DragSource, 0);
    Options->lbAccounts->OnDragDrop(2);
    EXPECT_EQ(ListLines(Options->lbAccounts), (std::vector<std::string>{"A1", "A2", "A0"}));
    EXPECT_EQ(TreeAccounts(), (std::vector<std::string>{"A1", "A2", "A0"}));
    std::vector<std::string> work;
    for (const auto &t : Options->Work) work.push_back(t.Name + "@" + t.Host);
    EXPECT_EQ(work, (std::vector<std::string>{"A1@host1", "A2@host2", "A0@host0"}));
    EXPECT_FALSE(Options->lbAccounts->Checked(0));  // the tick went with its line
    // A drop outside the lines, or from nowhere, moves nothing.
    Options->lbAccounts->OnDragDrop(-1);
    Options->DragSource = -1;
    Options->lbAccounts->OnDragDrop(1);
    EXPECT_EQ(ListLines(Options->lbAccounts), (std::vector<std::string>{"A1", "A2", "A0"}));
    Options->btOk->click();
    EXPECT_EQ(MainNames(), (std::vector<std::string>{"A1", "A2", "A0"}));
    EXPECT_FALSE(Main->State.Accounts[0].Enabled);
    EXPECT_TRUE(Main->State.Accounts[2].Enabled);
    EXPECT_EQ(Main->State.Accounts[2].Password, "pw0");
}

TEST_F(OptionsTest, UntickingProtectionAsksForThePasswordAndAPageSwitchNever) {
    Start(Accounts(3));
    Main->State.Accounts[0].Protected = true;
    Main->State.Accounts[2].Protected = true;
    Main->State.Accounts[2].Password.clear();
    Show();
    Select(1);
    EXPECT_TRUE(Options->cbNotRead->isChecked());
    EXPECT_TRUE(Asked.empty());
    Answers.push_back(Type("wrong"));
    Options->cbNotRead->click();
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_TRUE(Options->cbNotRead->isChecked());  // ticked again
    Answers.push_back(Dismiss());
    Options->cbNotRead->click();
    EXPECT_TRUE(Options->cbNotRead->isChecked());
    Answers.push_back(Type("pw0"));
    Options->cbNotRead->click();
    EXPECT_FALSE(Options->cbNotRead->isChecked());
    EXPECT_EQ(Asked.size(), 3u);
    // Moving between accounts whose flags differ from the box asks nothing.
    Select(2);
    EXPECT_FALSE(Options->cbNotRead->isChecked());
    Select(3);
    EXPECT_TRUE(Options->cbNotRead->isChecked());
    Select(1);
    EXPECT_FALSE(Options->cbNotRead->isChecked());
    EXPECT_EQ(Asked.size(), 3u);
    // Without a password there is nothing to ask.
    Select(3);
    Options->cbNotRead->click();
    EXPECT_FALSE(Options->cbNotRead->isChecked());
    EXPECT_EQ(Asked.size(), 3u);
    Options->btOk->click();
    EXPECT_FALSE(Main->State.Accounts[0].Protected);
    EXPECT_FALSE(Main->State.Accounts[1].Protected);
    EXPECT_FALSE(Main->State.Accounts[2].Protected);
}

// A netbook's 1024 x 600 screen less a panel leaves 560 lines: the dialog
// and the rule editor come out lower, their buttons above the panel.
TEST_F(OptionsTest, WindowsFitALowScreen) {
    const QRect netbook(0, 0, 1024, 560);
    EXPECT_EQ(FitWindowSize(QSize(913, 608), QSize(540, 469), netbook), QSize(913, 560 - kTitleBarAllowance));
    EXPECT_EQ(FitWindowSize(QSize(913, 608), QSize(540, 469), QRect(0, 0, 800, 600)),
              QSize(800 - kWindowFrameAllowance, 600 - kTitleBarAllowance));
    EXPECT_EQ(FitWindowSize(QSize(913, 608), QSize(540, 469), QRect(0, 0, 1920, 1040)), QSize(913, 608));
    // Never below what the window needs.
    EXPECT_EQ(FitWindowSize(QSize(913, 608), QSize(540, 469), QRect(0, 0, 320, 240)), QSize(540, 469));

    // Before the desktop has framed a window its title bar is reckoned in;
    // afterwards the frame counts as it is.
    QWidget probe;
    probe.resize(300, 200);
    EXPECT_EQ(ExpectedFrameSize(probe), QSize(300, 200 + kTitleBarAllowance));
    probe.show();
    if (probe.frameGeometry().size() != probe.size())
        EXPECT_EQ(ExpectedFrameSize(probe), probe.frameGeometry().size());

    Start(Accounts(3));
    const QSize least = Options->minimumSizeHint();
    EXPECT_LE(least.height(), 560 - kTitleBarAllowance) << least.width() << "x" << least.height();
    EXPECT_LE(least.width(), 1024 - kWindowFrameAllowance);
    // The offscreen screen's area is narrower than the dialog with its frame.
    Show();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(area.contains(Options->frameGeometry()));
    EXPECT_LE(Options->width(), area.width() - kWindowFrameAllowance);
}

// The password question runs its own message loop; an error that a cycle
// reports meanwhile moves the dialog to the log page, which stores the
// unticked box. A wrong answer must still leave the account protected.
TEST_F(OptionsTest, AWrongPasswordKeepsTheProtectionWhenThePageMovedMeanwhile) {
    Start(Accounts(2));
    Main->State.Accounts[0].Protected = true;
    Show();
    Select(1);
    ASSERT_TRUE(Options->cbNotRead->isChecked());
    Answers.push_back([this](QDialog &d) {
        ASSERT_TRUE(Main->Reporter.SelectLogPage);
        Main->Reporter.SelectLogPage();
        EXPECT_EQ(Page(), TFormAsetukset::pgLog);
        Type("wrong")(d);
    });
    Options->cbNotRead->click();
    ASSERT_EQ(Asked.size(), 1u);
    Options->btOk->click();
    EXPECT_TRUE(Main->State.Accounts[0].Protected);
    EXPECT_EQ(Read("0", "Protected"), "True");

    // The right answer on the same road lifts it.
    Show();
    Select(1);
    ASSERT_TRUE(Options->cbNotRead->isChecked());
    Answers.push_back([this](QDialog &d) {
        Main->Reporter.SelectLogPage();
        Type("pw0")(d);
    });
    Options->cbNotRead->click();
    Options->btOk->click();
    EXPECT_FALSE(Main->State.Accounts[0].Protected);
}

TEST_F(OptionsTest, DeletedAccountsLeaveTheMainArrayAndTheirSectionsAtOk) {
    Start(Accounts(5));
    Show();
    for (int line : {3, 1}) {
        Options->lbAccounts->SetItemIndex(line);
        Options->Button3->click();
    }
    EXPECT_EQ(ListLines(Options->lbAccounts), (std::vector<std::string>{"A0", "A2", "A4"}));
    EXPECT_EQ(TreeAccounts(), (std::vector<std::string>{"A0", "A2", "A4"}));
    Options->btOk->click();
    EXPECT_EQ(MainNames(), (std::vector<std::string>{"A0", "A2", "A4"}));
    EXPECT_EQ(Main->State.Accounts.LastIndex, 2);
    EXPECT_EQ(Main->State.Accounts[1].Host, "host2");
    TStringList sections;
    IniFileCacheClear();
    IniReadSections(Dir.File("Tarnwick.ini"), sections);
    EXPECT_EQ(sections.IndexOf("3"), -1);
    EXPECT_EQ(sections.IndexOf("4"), -1);
    EXPECT_NE(sections.IndexOf("2"), -1);
    // The file holds the kept accounts at once, not only when the program
    // ends: the deleted ones never come back after a crash.
    EXPECT_EQ(IniReadString(Dir.File("Tarnwick.ini"), "Accounts", "Num", ""), "2");
    EXPECT_EQ(IniReadString(Dir.File("Tarnwick.ini"), "1", "Name", ""), "A2");
    EXPECT_EQ(IniReadString(Dir.File("Tarnwick.ini"), "2", "Host", ""), "host4");

    // The last account deleted: the list is empty, and OK empties the array.
    Start(Accounts(1));
    Show();
    Options->lbAccounts->SetItemIndex(0);
    Options->Button3->click();
    EXPECT_EQ(Options->lbAccounts->Count(), 0);
    EXPECT_EQ(Options->RootNode()->childCount(), 0);
    Options->lbAccounts->SetItemIndex(-1);
    Options->Button3->click();  // nothing selected: nothing happens
    Options->btOk->click();
    EXPECT_EQ(Main->State.Accounts.Count(), 0);
    EXPECT_EQ(Main->State.Accounts.LastIndex, -1);
    IniFileCacheClear();
    IniReadSections(Dir.File("Tarnwick.ini"), sections);
    EXPECT_EQ(sections.IndexOf("0"), -1);
}

TEST_F(OptionsTest, AccountEditsAreKeptWhateverNodeComesNextAndABadPortIsRefused) {
    Start(Accounts(2));
    Show();
    Select(1);
    Options->TxtHost->setText("pop.changed.example");
    Select(6);  // "Languages": not an account, the edit is kept all the same
    Select(2);
    Options->TxtUser->setText("someone");
    Options->btOk->click();  // straight from the account page
    EXPECT_EQ(Main->State.Accounts[0].Host, "pop.changed.example");
    EXPECT_EQ(Main->State.Accounts[1].UserName, "someone");

    Show();
    Select(2);
    Options->TxtPort->setText("11O");
    Select(4);
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_TRUE(Contains(Asked[0], "The port must be a number from 0 to 65535.")) << Asked[0];
    EXPECT_EQ(Options->TreeView1->currentItem(), Options->NodeAt(2));
    EXPECT_EQ(Page(), TFormAsetukset::pgAccount);
    Options->btOk->click();  // refused again; the dialog stays
    EXPECT_EQ(Asked.size(), 2u);
    EXPECT_TRUE(Options->isVisible());
    EXPECT_EQ(Options->Work.size(), 2u);
    Options->TxtPort->setText("70000");
    Options->btOk->click();
    EXPECT_EQ(Asked.size(), 3u);
    // An error report during a check does not pull the page away then, nor ask.
    Main->Reporter.ErrorImages = Main->ImageList3;
    Main->ReportEvent("Socket Error # 10061", 0, 1, 0);
    EXPECT_EQ(Asked.size(), 3u);
    EXPECT_EQ(Page(), TFormAsetukset::pgAccount);
    Options->TxtPort->setText(" 995 ");
    Options->btOk->click();
    EXPECT_FALSE(Options->isVisible());
    EXPECT_EQ(Main->State.Accounts[1].Port, 995);
}

TEST_F(OptionsTest, NamesAndPasswordsFromOldWindowsFilesKeepTheirBytes) {
    Start("[Accounts]\r\nNum=0\r\n[0]\r\nName=Caf\xE9\r\nHost=h\r\nPort=110\r\nUserName=J\xF6rg\r\nPW=" +
          ScrambleStr("p\xE4ss") + "\r\nEnabled=True\r\nConnection=POP3\r\n[Options]\r\nLanguage=english.lng\r\n");
    ASSERT_EQ(Main->State.Accounts[0].Password, "p\xE4ss");
    Main->State.Accounts[0].Protected = true;
    Show();
    EXPECT_EQ(Options->lbAccounts->item(0)->text().toStdString(), "Café");
    Select(1);
    EXPECT_EQ(Options->TxtUser->text().toStdString(), "Jörg");
    Options->TxtPort->setText("111");
    // What the user types is UTF-8; the stored password is the same letters.
    Answers.push_back(Type("päss"));
    Options->cbNotRead->click();
    EXPECT_FALSE(Options->cbNotRead->isChecked());
    Options->btOk->click();
    const Tiedot &t = Main->State.Accounts[0];
    EXPECT_EQ(t.Name, "Caf\xE9");
    EXPECT_EQ(t.UserName, "J\xF6rg");
    EXPECT_EQ(t.Password, "p\xE4ss");
    EXPECT_EQ(t.Port, 111);
    // A password the user types replaces the bytes.
    Show();
    Select(1);
    Options->TxtPassword->setText("new");
    Options->btOk->click();
    EXPECT_EQ(Main->State.Accounts[0].Password, "new");
}

TEST_F(OptionsTest, AddRenameAndAPresetMakeANewAccount) {
    WriteTestFile(Dir.File("host_data.dat"),
                  "[Example POP3]\r\nHost=pop.example.net\r\n[Example IMAP4]\r\nHost=imap.example.net\r\n"
                  "Port=993\r\nSSL=True\r\nConnection=IMAP4\r\n[webmail]\r\nScriptOnly=1\r\n");
    Start(Accounts(1));
    Show();
    ASSERT_EQ(Options->ComboBox1->count(), 3);
    Answers.push_back(Dismiss());
    Options->Button2->click();  // cancelled: nothing
    Answers.push_back(Type("   "));
    Options->Button2->click();  // blank: nothing
    EXPECT_EQ(Options->lbAccounts->Count(), 1);
    Answers.push_back(Type("  New one  "));
    Options->Button2->click();
    EXPECT_EQ(ListLines(Options->lbAccounts), (std::vector<std::string>{"A0", "New one"}));
    EXPECT_TRUE(Options->lbAccounts->Checked(1));
    EXPECT_EQ(Page(), TFormAsetukset::pgAccount);
    EXPECT_EQ(Options->Label23->text().toStdString(), "   New one");
    EXPECT_EQ(Options->TxtPort->text().toStdString(), "110");
    Options->ComboBox1->setCurrentIndex(1);
    emit Options->ComboBox1->activated(1);
    EXPECT_EQ(Options->TxtHost->text().toStdString(), "imap.example.net");
    EXPECT_EQ(Options->TxtPort->text().toStdString(), "993");
    EXPECT_EQ(Options->ComboBox2->currentText().toStdString(), "IMAP4");
    EXPECT_TRUE(Options->CheckBox2->isChecked());
    Options->ComboBox1->setCurrentIndex(2);  // a section without preset keys: the defaults
    emit Options->ComboBox1->activated(2);
    EXPECT_EQ(Options->TxtPort->text().toStdString(), "110");
    EXPECT_EQ(Options->ComboBox2->currentText().toStdString(), "POP3");
    Options->ComboBox1->setCurrentIndex(1);
    emit Options->ComboBox1->activated(1);

    Select(0);
    Options->lbAccounts->SetItemIndex(1);
    Answers.push_back(Type("Renamed"));
    Options->Button4->click();
    EXPECT_EQ(TreeAccounts(), (std::vector<std::string>{"A0", "Renamed"}));
    Options->btOk->click();
    ASSERT_EQ(Main->State.Accounts.Count(), 2);
    const Tiedot &t = Main->State.Accounts[1];
    EXPECT_EQ(t.Name, "Renamed");
    EXPECT_TRUE(t.Enabled);
    EXPECT_EQ(t.Host, "imap.example.net");
    EXPECT_EQ(t.Port, 993);
    EXPECT_EQ(t.Kind, ckIMAP4);
    EXPECT_TRUE(t.SSL);
    EXPECT_EQ(t.OwnColor, "clGreen");
    EXPECT_EQ(t.Inbox, "INBOX");
    EXPECT_EQ(Main->State.Accounts.LastIndex, 1);
}

TEST_F(OptionsTest, TheColourDialogStoresANameOrAHexTextThatReadsBack) {
    Start(Accounts(1));
    Show();
    Select(1);
    auto pick = [](QColor c) {
        return [c](QDialog &d) {
            auto *cd = qobject_cast<QColorDialog *>(&d);
            ASSERT_NE(cd, nullptr);
            cd->setCurrentColor(c);
            cd->accept();
        };
    };
    Answers.push_back(pick(QColor(0x56, 0x34, 0x12)));
    emit Options->imColor->clicked();
    Options->btOk->click();
    EXPECT_EQ(Main->State.Accounts[0].OwnColor, "$00123456");
    Show();
    Select(1);
    EXPECT_EQ(Options->imColor->pixmap().toImage().pixelColor(5, 5), QColor(0x56, 0x34, 0x12));
    Answers.push_back(Dismiss());  // cancelled: the colour stays
    emit Options->imColor->clicked();
    Options->btOk->click();
    EXPECT_EQ(Main->State.Accounts[0].OwnColor, "$00123456");
    Show();
    Select(1);
    Answers.push_back(pick(QColor(255, 0, 0)));
    emit Options->imColor->clicked();
    Options->btOk->click();
    EXPECT_EQ(Main->State.Accounts[0].OwnColor, "clRed");
}

TEST_F(OptionsTest, TickingSslWithoutTheLibraryNamesThePackageAndDownloadsNothing) {
    Start(Accounts(1));
    Show();
    Select(1);
    UnloadOpenSSLLibrary();
    SetOpenSSLLibraryNames("libssl-not-here.so.3", "libcrypto-not-here.so.3");
    Options->CheckBox2->click();
    SetOpenSSLLibraryNames("libssl.so.3", "libcrypto.so.3");
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_TRUE(Contains(Asked[0], "libssl3")) << Asked[0];
    EXPECT_TRUE(Options->CheckBox2->isChecked());
    EXPECT_TRUE(Desk.Calls.empty());  // nothing started
    Options->CheckBox2->click();
    Options->CheckBox2->click();  // the library is there now: no question
    EXPECT_EQ(Asked.size(), 1u);
    Options->btOk->click();
    EXPECT_TRUE(Main->State.Accounts[0].SSL);
}

TEST_F(OptionsTest, LanguagesAreListedFromTheFolderAndAppliedToTheDialogAtOnce) {
    WriteTestFile(Dir.File("Lang/Extra.LNG"), "[About]\r\nLanguage=Extra\r\n[Options]\r\nCancel=Nope\r\n");
    WriteTestFile(Dir.File("Lang/readme.txt"), "not a language");
    Start(Accounts(1));
    Show();
    EXPECT_EQ(ListLines(Options->CheckListBox1),
              (std::vector<std::string>{"english.lng", "extra.lng", "finnish.lng"}));
    EXPECT_TRUE(Options->CheckListBox1->Checked(0));
    EXPECT_EQ(Options->Label3->text().toStdString(), "English");
    Options->CheckListBox1Click(Options->CheckListBox1, 2);
    EXPECT_EQ(Options->btCancel->text().toStdString(), "Peruuta");
    EXPECT_EQ(Options->Label3->text().toStdString(), "Suomi");
    EXPECT_EQ(Options->NodeAt(Options->RootNode()->childCount() + 2)->text(0).toStdString(), "Viestiasetukset / Muut asetukset");
    EXPECT_FALSE(Options->CheckListBox1->Checked(0));
    // A file that lacks keys keeps the captions shown before.
    Options->CheckListBox1Click(Options->CheckListBox1, 1);
    EXPECT_EQ(Options->btCancel->text().toStdString(), "Nope");
    EXPECT_EQ(Options->btOk->text().toStdString(), "OK");
    EXPECT_EQ(Options->Button2->text().toStdString(), "Lisää tili...");
    Options->CheckListBox1Click(Options->CheckListBox1, 2);
    Options->btOk->click();
    EXPECT_EQ(Main->State.Options.Language, "finnish.lng");
    EXPECT_EQ(LanguageFileName(), "finnish.lng");
    EXPECT_EQ(LangText("Options", "Cancel", ""), "Peruuta");
}

TEST_F(OptionsTest, SkinsShowTheirInformationAndOnlyARealSkinOtherThanDefaultIsDeleted) {
    auto skin = [&](const std::string &name, const std::string &version, const char *shot) {
        WriteTestFile(Dir.File("skins/" + name + "/" + name + ".skn"),
                      "[About]\r\nVersion=" + version + "\r\nAuthor=Painter\r\nAuthorEmail=p@example.org\r\n");
        if (shot) {
            QImage image(120, 60, QImage::Format_RGB32);
            image.fill(Qt::darkCyan);
            ASSERT_TRUE(image.save(QString::fromStdString(Dir.File("skins/" + name + "/" + shot))));
        }
    };
    skin("Default", "1.0", "screenshot.bmp");
    skin("Blue", "2.5", "Screenshot.JPG");
    ForceDirectories(Dir.File("skins/broken"));
    Start(Accounts(1));
    Show();
    EXPECT_EQ(ListLines(Options->CheckListBox2), (std::vector<std::string>{"blue", "broken", "default"}));
    EXPECT_TRUE(Options->CheckListBox2->Checked(2));
    EXPECT_EQ(Options->cbOwnSkins->count(), 4);  // none, and the three
    EXPECT_EQ(Options->Label15->text().toStdString(), "1.0");
    EXPECT_TRUE(Options->Label18->text().isEmpty());
    EXPECT_FALSE(Options->Image1->pixmap().isNull());
    Options->ShowSkinInfo("blue");
    EXPECT_EQ(Options->Label15->text().toStdString(), "2.5");
    EXPECT_FALSE(Options->Image1->pixmap().isNull());
    Options->ShowSkinInfo("broken");
    EXPECT_EQ(Options->Label15->text().toStdString(), ".....");
    EXPECT_EQ(Options->Label18->text().toStdString(), "review is not available");
    EXPECT_TRUE(Options->Image1->pixmap().isNull());

    // A folder that is no skin cannot be chosen: a warning, and the tick returns.
    if (!Main->SkinExists("broken")) {
        Options->CheckListBox1Click(Options->CheckListBox2, 1);
        ASSERT_EQ(Asked.size(), 1u);
        EXPECT_TRUE(Contains(Asked[0], "Wrong Skin")) << Asked[0];
        EXPECT_TRUE(Options->CheckListBox2->Checked(2));
        EXPECT_FALSE(Options->CheckListBox2->Checked(1));
    }
    Asked.clear();

    // "Default" in any case is refused; no ticked line deletes nothing.
    Options->CheckListBox2->SetChecked(2, true);
    Options->BitBtn3->click();
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_TRUE(Contains(Asked[0], "The default skin can not be deleted.")) << Asked[0];
    EXPECT_TRUE(DirectoryExists(Dir.File("skins/Default")));
    for (int i = 0; i < Options->CheckListBox2->Count(); ++i) Options->CheckListBox2->SetChecked(i, false);
    Options->BitBtn3->click();
    EXPECT_TRUE(DirectoryExists(Dir.File("skins/Blue")));
    EXPECT_TRUE(DirectoryExists(Dir.File("skins/broken")));

    Main->State.Options.Skin = "Blue";
    Options->CheckListBox2->SetChecked(0, true);
    Options->BitBtn3->click();
    EXPECT_FALSE(DirectoryExists(Dir.File("skins/Blue")));
    EXPECT_EQ(Main->State.Options.Skin, "Default");
    EXPECT_EQ(ListLines(Options->CheckListBox2), (std::vector<std::string>{"broken", "default"}));
    EXPECT_TRUE(Options->CheckListBox2->Checked(1));
    EXPECT_EQ(Options->Label15->text().toStdString(), "1.0");
    const int last = Options->Log->LineCount() - 1;
    EXPECT_TRUE(Contains(Options->Log->Line(last), "Skin deleted")) << Options->Log->Line(last);
    EXPECT_EQ(Options->Log->LineColour(last), 16711680);
}

TEST_F(OptionsTest, TheLogFileIsRichTextNamedForTheUserAndKeepsLogValueLines) {
    std::vector<TRtfLine> old = {TRtfLine{{{"Tarnwick Log:", 0}}}, TRtfLine{{{std::string(26, '-'), 0}}}};
    for (int k = 0; k < 40; ++k) old.push_back(TRtfLine{{{"entry " + IntToStr(k), k % 2 ? 255 : 32768}}});
    WriteTestFile(Dir.File("work_log.rtf"), RtfWriteLog(old));
    WriteTestFile(Dir.File("log.rtf"), "not this one");
    Start(Accounts(1, "LogValue=5\r\n"), "work");
    // Header, the last entries of the file, and this start's own line.
    ASSERT_EQ(Options->Log->LineCount(), 7);
    EXPECT_EQ(Options->Log->Line(0), "Tarnwick Log:");
    EXPECT_EQ(Options->Log->Line(2), "entry 36");
    EXPECT_EQ(Options->Log->LineColour(2), 32768);
    EXPECT_EQ(Options->Log->LineColour(3), 255);
    EXPECT_TRUE(Contains(Options->Log->Line(6), "Log started"));
    Main->ReportEvent("größer 😀 {x}", 0, 5, 16711680);
    delete Options;
    Options = nullptr;
    std::vector<TRtfLine> saved = RtfReadLog(ReadTestFile(Dir.File("work_log.rtf")));
    ASSERT_GE(saved.size(), 3u);
    EXPECT_TRUE(Contains(saved.back().Text(), "Log closed"));
    EXPECT_TRUE(Contains(saved[saved.size() - 2].Text(), "größer 😀 {x}"));
    EXPECT_EQ(saved[saved.size() - 2].Runs.at(0).Colour, 16711680);
    EXPECT_EQ(ReadTestFile(Dir.File("log.rtf")), "not this one");

    // Without LogToFile the file goes at the end, and the next start begins anew.
    WriteTestFile(Dir.File("Tarnwick.ini"), Accounts(1, "LogToFile=False\r\n"));
    IniFileCacheClear();
    Options = new TFormAsetukset();
    delete Options;
    Options = nullptr;
    EXPECT_FALSE(FileExists(Dir.File("work_log.rtf")));
    Options = new TFormAsetukset();
    EXPECT_EQ(Options->Log->LineCount(), 3);
    EXPECT_EQ(Options->Log->Line(1), std::string(26, '-'));
    // A damaged log file is not a crash: the log starts anew.
    Main->State.User.clear();
    WriteTestFile(Dir.File("log.rtf"), "{\\rtf1" + std::string(1000, '{'));
    delete Options;
    Options = new TFormAsetukset();
    EXPECT_EQ(Options->Log->Line(0), "Tarnwick Log:");
}

TEST_F(OptionsTest, ClearingTheLogAndOpeningItAfterAnErrorRestoreTheTray) {
    Start(Accounts(1));
    QIcon normal(QPixmap(16, 16));
    Main->ImageList1->Add(normal);
    Main->Reporter.TrayIcon = Main->TrayIcon1;
    Main->Reporter.ErrorImages = Main->ImageList3;
    Main->ReportEvent("Socket Error # 10061", 0, 1, 0);
    ASSERT_TRUE(Main->Reporter.ErrorFlag);
    ASSERT_TRUE(Main->TrayIcon1->CycleIcons());
    Show();
    EXPECT_TRUE(Main->Reporter.ErrorFlag);  // the account list does not touch it
    Select(Options->RootNode()->childCount() + 7);  // "Log"
    EXPECT_EQ(Page(), TFormAsetukset::pgLog);
    EXPECT_FALSE(Main->Reporter.ErrorFlag);
    EXPECT_FALSE(Main->TrayIcon1->CycleIcons());
    EXPECT_EQ(Main->TrayIcon1->IconList(), nullptr);
    // The reporter selects the log page itself while the dialog shows.
    Select(0);
    Main->ReportEvent(" Bad login", 0, 1, 0);
    EXPECT_EQ(Page(), TFormAsetukset::pgLog);

    EXPECT_GT(Options->Log->LineCount(), 2);
    Options->Button1->click();
    ASSERT_EQ(Options->Log->LineCount(), 2);
    EXPECT_EQ(Options->Log->Line(0), "Tarnwick Log:");
    EXPECT_EQ(Options->Log->LineColour(1), 0);

    // The deleted messages open from the program folder, when there are any.
    Select(Options->RootNode()->childCount() + 8);
    Options->btnVewDel->click();
    EXPECT_TRUE(Opened.empty());
    WriteTestFile(Dir.File("deleted.txt"), "A0 - someone - spam\r\n");
    Options->btnVewDel->click();
    EXPECT_EQ(Opened, (std::vector<std::string>{Dir.File("deleted.txt")}));
}

TEST_F(OptionsTest, TheCountdownShowsTheTimeToTheNextCheck) {
    Start(Accounts(1));
    Main->State.Options.NextCheck = Now() + (3600 + 2 * 60 + 3.4) / 86400.0;
    Show();
    EXPECT_EQ(Options->Label25->text().toStdString(), "01:02:03");
    Main->State.Options.NextCheck = Now() - 0.01;
    Options->Timer1Timer();
    EXPECT_EQ(Options->Label25->text().toStdString(), "00:00:00");
}

TEST_F(OptionsTest, OkHandsTheNewMailStateToTheTray) {
    // No host: the check that OK runs below finds no mail without reaching
    // out to any server.
    Start(StringReplaceAll(StringReplaceAll(Accounts(2), "Host=host0", "Host="), "Host=host1", "Host="));
    QIcon normal(QPixmap(16, 16));
    Main->ImageList1->Add(normal);
    Main->State.Accounts[1].NewCount = 2;
    Main->State.Accounts[1].Senders.Add("someone");
    Show();
    Options->btOk->click();
    EXPECT_EQ(Main->State.Accounts.TotalNew, 2);
    EXPECT_EQ(Main->State.Accounts[1].Senders.Count(), 1);
    EXPECT_EQ(Main->TrayIcon1->IconList(), Main->ImageList2);
    EXPECT_TRUE(Main->TrayIcon1->CycleIcons());
    EXPECT_EQ(Main->TrayIcon1->CycleInterval(), 200u);
    // No mail: the still icon, and the window slides out.
    Main->State.Accounts[1].NewCount = 0;
    Show();
    Options->CheckRequested = true;
    Options->btOk->click();
    EXPECT_FALSE(Options->CheckRequested);
    EXPECT_FALSE(Main->TrayIcon1->CycleIcons());
    EXPECT_TRUE(Main->Timer4->Enabled());
    EXPECT_FALSE(Main->Timer2->Enabled());
}

namespace {

// Stands in for the user of a download window: it waits until the window
// has closed by itself (an automatic start), after clicking Yes when asked.
std::function<void(QDialog &)> Download(bool clickYes) {
    return [clickYes](QDialog &d) {
        if (clickYes) d.findChild<QPushButton *>("BitBtn1")->click();
        EXPECT_TRUE(ProcessEventsUntil([&d] { return !d.isVisible(); }, 20000));
    };
}

}  // namespace

TEST_F(OptionsTest, DownloadingAllSkinsAndTheEditorHandsTheArchivesToTheUpdater) {
    TempDir www;
    WriteTestFile(www.File("zip/skins/allskins.zip"), HttpPatternBytes(5000));
    WriteTestFile(www.File("zip/Brisvel.zip"), HttpPatternBytes(3000, 7));
    HttpTestServer server(www.Path());
    SetProductWebLocation(server.Url("/"));
    Start(Accounts(1));
    Show();
    // Fenlow, standing in: it notes how it was started and what it was
    // handed, and says whether the skins went in.
    auto fenlow = [this](int status) {
        WriteTestFile(Dir.File("fenlow"), "#!/bin/sh\ncd \"$(dirname \"$0\")\" || exit 2\n"
                                          "echo \"$1 $(grep -c '^Path=' skins.dat)\" >> fenlow.txt\n"
                                          "sleep 0.2\nexit " + std::to_string(status) + "\n");
        ::chmod(Dir.File("fenlow").c_str(), 0755);
    };
    fenlow(0);
    Answers.push_back(Download(false));
    Answers.push_back([](QDialog &d) { d.accept(); });  // the "installed" note
    Options->BitBtn4->click();
    ASSERT_EQ(Asked.size(), 2u);
    EXPECT_EQ(Asked[0], "Tarnwick - Download...");
    EXPECT_EQ(Asked[1], "Tarnwick / Info | All skins were installed.");
    const std::string zip = Dir.File("temp/allskins.zip");
    EXPECT_EQ(ReadTestFile(zip), HttpPatternBytes(5000));
    IniFileCacheClear();
    EXPECT_EQ(IniReadString(Dir.File("skins.dat"), "FENLOW_File", "Path", ""), zip);
    EXPECT_EQ(ReadTestFile(Dir.File("fenlow.txt")), "-all 1\n");
    EXPECT_TRUE(Desk.Calls.empty());
    // A Fenlow that could not install them: the user is told, not "installed".
    fenlow(1);
    Asked.clear();
    Answers.push_back(Download(false));
    Options->BitBtn4->click();
    ASSERT_EQ(Asked.size(), 2u);
    EXPECT_EQ(Asked[1], "Tarnwick / Warning | The skins could not be installed.");
    EXPECT_TRUE(Contains(Options->RichEdit1->toPlainText().toStdString(), "The skins could not be installed."));
    EXPECT_EQ(ReadTestFile(Dir.File("fenlow.txt")), "-all 1\n-all 1\n");
    // One that cannot be started at all is said so.
    ::chmod(Dir.File("fenlow").c_str(), 0644);
    Asked.clear();
    Answers.push_back(Download(false));
    Options->BitBtn4->click();
    ASSERT_EQ(Asked.size(), 2u);
    EXPECT_EQ(Asked[1], "Tarnwick / Warning | Update failed:\r\nThe updater could not be started.");
    EXPECT_TRUE(Contains(Options->RichEdit1->toPlainText().toStdString(),
                         "Update failed: The updater could not be started."));
    ::chmod(Dir.File("fenlow").c_str(), 0755);
    // A download that does not arrive, cancelled or failed, is said with
    // why, and hands nothing over.
    Asked.clear();
    Answers.push_back(Dismiss());
    Options->BitBtn4->click();
    DeleteFile(www.File("zip/skins/allskins.zip"));
    Answers.push_back([](QDialog &d) {
        auto &download = dynamic_cast<TForm2 &>(d);
        EXPECT_TRUE(ProcessEventsUntil([&download] { return !download.LastError.empty(); }, 20000));
        download.BitBtn2->click();
    });
    Options->BitBtn4->click();
    const std::string failed = "The download failed: " + server.Url("/zip/skins/allskins.zip") + ": HTTP status 404";
    EXPECT_EQ(Asked, (std::vector<std::string>{
                         "Tarnwick - Download...", "Tarnwick / Warning | Update failed:\r\nThe download was cancelled.",
                         "Tarnwick - Download...", "Tarnwick / Warning | Update failed:\r\n" + failed}));
    const std::string log = Options->RichEdit1->toPlainText().toStdString();
    EXPECT_TRUE(Contains(log, "Update failed: The download was cancelled.")) << log;
    EXPECT_TRUE(Contains(log, "Update failed: " + failed)) << log;
    EXPECT_EQ(ReadTestFile(Dir.File("fenlow.txt")), "-all 1\n-all 1\n");
    Asked.clear();

    // No editor yet: a cancelled download starts nothing; a finished one
    // hands the editor's archive to the updater.
    Answers.push_back(Dismiss());
    Options->BitBtn6->click();
    EXPECT_EQ(Desk.Calls.size(), 0u);
    Answers.push_back(Download(true));
    Options->BitBtn6->click();
    EXPECT_EQ(ReadTestFile(Dir.File("temp/Brisvel.zip")), HttpPatternBytes(3000, 7));
    ASSERT_EQ(Desk.Calls.size(), 1u);
    EXPECT_EQ(SplitCommandLine(Desk.Calls[0].substr(std::string("StartProgram ").size())),
              (std::vector<std::string>{Dir.File("fenlow"), "-ske"}));
    // With the editor in the folder it starts on the ticked skin.
    WriteTestFile(Dir.File("Brisvel"), "#!/bin/sh\n");
    ForceDirectories(Dir.File("skins/My Skin"));
    Main->State.Options.Skin = "my skin";
    Options->ListSkinFolders();
    Options->BitBtn6->click();
    ASSERT_EQ(Desk.Calls.size(), 2u);
    EXPECT_EQ(SplitCommandLine(Desk.Calls[1].substr(std::string("StartProgram ").size())),
              (std::vector<std::string>{Dir.File("Brisvel"), "my skin"}));
    // The authors' addresses open as mail links.
    Options->ShowSkinInfo("Default");
    emit Options->Label9->clicked();
    EXPECT_TRUE(Opened.empty());  // the English file names no address
    WriteTestFile(Dir.File("skins/Default/Default.skn"), "[About]\r\nAuthorEmail=painter@example.org\r\n");
    Options->ShowSkinInfo("Default");
    emit Options->Label13->clicked();
    EXPECT_EQ(Opened, (std::vector<std::string>{"mailto:painter@example.org"}));
    SetProductWebLocation("");
}

TEST_F(OptionsTest, TheTextInputDialogGivesBackExactlyWhatWasTyped) {
    Start(Accounts(1));
    auto ask = [](bool password) {
        return ShowTextInputDialog("New account", "Account", "initial", 40, 50, password);
    };
    QString title, ok, cancel, prompt;
    QPoint pos;
    bool openWhileShown = false, passwordMode = false;
    Answers.push_back([&](QDialog &d) {
        title = d.windowTitle();
        pos = d.pos();
        openWhileShown = TextInputDialogOpen();
        prompt = d.findChild<QLabel *>("Label1")->text();
        ok = d.findChild<QPushButton *>("BitBtn1")->text();
        cancel = d.findChild<QPushButton *>("BitBtn2")->text();
        passwordMode = d.findChild<QLineEdit *>("Edit1")->echoMode() == QLineEdit::Password;
        EXPECT_EQ(d.findChild<QLineEdit *>("Edit1")->text().toStdString(), "initial");
        // OK on an empty field keeps the dialog open.
        d.findChild<QLineEdit *>("Edit1")->clear();
        d.findChild<QPushButton *>("BitBtn1")->click();
        EXPECT_TRUE(d.isVisible());
        d.findChild<QLineEdit *>("Edit1")->setText("  spaced out  ");
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(&d, &enter);
    });
    EXPECT_EQ(ask(true), "  spaced out  ");
    EXPECT_EQ(title.toStdString(), "Tarnwick / New account");
    EXPECT_EQ(prompt.toStdString(), "Account");
    EXPECT_EQ(pos, QPoint(40, 50));
    EXPECT_TRUE(openWhileShown);
    EXPECT_TRUE(passwordMode);
    EXPECT_FALSE(TextInputDialogOpen());
    EXPECT_EQ(ok.toStdString(), "OK");
    EXPECT_EQ(cancel.toStdString(), "Cancel");
    // Escape and Cancel answer nothing, whatever was typed.
    Answers.push_back([](QDialog &d) {
        d.findChild<QLineEdit *>("Edit1")->setText("typed");
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(&d, &escape);
    });
    EXPECT_EQ(ask(false), "");
    SetLanguageFileName("finnish.lng");
    Answers.push_back([&](QDialog &d) {
        cancel = d.findChild<QPushButton *>("BitBtn2")->text();
        passwordMode = d.findChild<QLineEdit *>("Edit1")->echoMode() == QLineEdit::Password;
        d.findChild<QPushButton *>("BitBtn2")->click();
    });
    EXPECT_EQ(ask(false), "");
    EXPECT_EQ(cancel.toStdString(), "Peruuta");
    EXPECT_FALSE(passwordMode);
}

TEST_F(OptionsTest, BothShippedLanguagesCarryEveryTextTheDialogShows) {
    Start(Accounts(1));
    std::vector<std::string> keys = Options->CaptionKeys();
    // The texts its pages read when they speak: titles, questions, reports.
    for (int n : {20, 21, 50, 51, 52, 53, 55, 56, 57, 58, 61, 63, 64, 65, 66, 67, 86, 87, 88})
        keys.push_back("Messages/" + IntToStr(n));
    for (const char *k : {"Options/Ok", "Options/Cancel", "Options/Password", "Options/Account"}) keys.push_back(k);
    EXPECT_GT(keys.size(), 100u);
    for (const char *lang : {"english.lng", "finnish.lng"}) {
        const std::string file = std::string(TW_SOURCE_DIR) + "/Lang/" + lang;
        for (const auto &key : keys) {
            std::string section = Copy(key, 1, Pos("/", key) - 1), name = Copy(key, Pos("/", key) + 1);
            EXPECT_TRUE(IniValueExists(file, section, name)) << lang << " " << key;
            if (section != "About") EXPECT_NE(IniReadString(file, section, name, ""), "") << lang << " " << key;
        }
    }
}
