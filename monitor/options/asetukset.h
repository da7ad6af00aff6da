// The Options dialog: the page tree, the working copy of the accounts, OK
// and Cancel, and the log view that every report of the program goes to.
// Made once at start-up right after the main window; lives until the end.
//
// One class, its methods split by page over a few files:
//
//   asetukset.cpp            frame: showing, the tree, OK, Cancel, closing,
//                            the table of settings and the countdown
//   asetuksetPages.cpp       the controls of the thirteen pages and their captions
//   asetuksetAccounts.cpp    account list and account page
//   asetuksetLog.cpp         log view, log file, log options
//   asetuksetSkins.cpp       languages and skins pages, applying a language
//   asetuksetOptionPages.cpp the other option pages and the rules page
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QTextEdit>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mainwindow/EventReporter.h"
#include "RawEdit.h"
#include "settings/Tiedot.h"
#include "settings/VeskRutins.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QFormLayout;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;
class TClickLabel;
class TTimer;

// A list whose lines each carry a tick. Lines can be dragged within the
// list (nowhere else) when OnDragDrop is set.
class TCheckListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TCheckListBox(QWidget *parent = nullptr);
    int Count() const { return count(); }
    void AddLine(const std::string &Text, bool Checked);
    std::string Line(int Index) const;
    void SetLine(int Index, const std::string &Text);
    bool Checked(int Index) const;
    void SetChecked(int Index, bool Value);
    int ItemIndex() const { return currentRow(); }
    void SetItemIndex(int Index) { setCurrentRow(Index); }
    // The line under a point of the list's viewport, -1 when none.
    int LineAt(const QPoint &Point) const;

    // Source line (under the mouse-down point) and target line of a drop.
    std::function<void(int Row)> OnMouseDown;
    std::function<void(int Target)> OnDragDrop;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
};

class TFormAsetukset : public QDialog {
    Q_OBJECT
public:
    explicit TFormAsetukset(QWidget *owner = nullptr);
    ~TFormAsetukset() override;

    // Pages, in the order of the page control.
    enum TPage {
        pgAccountList = 0, pgAccount, pgMessage, pgMessageOther, pgOther, pgLanguages, pgSkins,
        pgAbout, pgLog, pgLogOptions, pgVersionHistory, pgMessageReader, pgRules, PageCount
    };
    // What the main window's menu opens: places the dialog by its bottom-right
    // corner 3 pixels inside the work area, selects the page, shows it.
    enum TMenuPage { mpFirst, mpAbout, mpLog };
    void ShowFromMenu(TMenuPage Page);
    // Escape and the like: the same as the close box.
    void reject() override;
    // Which page the main window's menu opens on (also while showing).
    void SelectFirstPage();
    void SelectAboutPage();
    void SelectLogPage();
    // The event reporter calls this after each log line.
    void LogLineAdded() {}

    // A check was started while the dialog was showing; OK runs one more.
    bool CheckRequested = false;

    // ---- frame ------------------------------------------------------------------
    QTreeWidget *TreeView1 = nullptr;
    QStackedWidget *PageControl1 = nullptr;
    QWidget *Pages[PageCount] = {};
    QWidget *TabSheet7 = nullptr, *TabSheet1 = nullptr, *tabMessage = nullptr, *TabSheet9 = nullptr,
            *TabSheet3 = nullptr, *TabSheet2 = nullptr, *TabSheet5 = nullptr, *TabSheet4 = nullptr,
            *TabSheet6 = nullptr, *LogOptions = nullptr, *tabKeys = nullptr, *TabSheet10 = nullptr,
            *TabSheet8 = nullptr;
    QLabel *Label23 = nullptr;  // the selected node's text above the pages
    QPushButton *btOk = nullptr, *btCancel = nullptr;
    TTimer *Timer1 = nullptr;   // the countdown to the next check

    // ---- account list (TabSheet7) ---------------------------------------------------
    TCheckListBox *lbAccounts = nullptr;
    QPushButton *Button2 = nullptr, *Button4 = nullptr, *Button3 = nullptr;  // add, rename, delete
    TClickLabel *Label50 = nullptr, *Label51 = nullptr;                     // check all, uncheck all
    QLabel *LabelAccounts = nullptr;

    // ---- account (TabSheet1) --------------------------------------------------------
    QGroupBox *GroupAccount = nullptr, *GroupPersonal = nullptr;
    QComboBox *ComboBox1 = nullptr;  // provider presets
    QComboBox *ComboBox2 = nullptr;  // connection kind
    TRawEdit *TxtHost = nullptr, *TxtPort = nullptr, *TxtUser = nullptr, *TxtPassword = nullptr,
             *txtInbox = nullptr;
    QCheckBox *CheckBox2 = nullptr;  // SSL
    QComboBox *cbOwnSkins = nullptr;
    TClickLabel *imColor = nullptr;
    QCheckBox *cbNotRead = nullptr;  // protect messages with password
    int cbNotReadTag = 0;            // -1: the next change comes from a page switch
    QLabel *LabelPresets = nullptr, *LabelKind = nullptr, *LabelHost = nullptr, *LabelPort = nullptr,
           *LabelUser = nullptr, *LabelPassword = nullptr, *LabelInbox = nullptr, *LabelOwnSkin = nullptr,
           *LabelColor = nullptr;

    // ---- message options (tabMessage) -----------------------------------------------
    QGroupBox *GroupMessage = nullptr, *GroupNewMessage = nullptr;
    QCheckBox *cbShowMwssage = nullptr, *cbShowTop = nullptr, *cbShowDown = nullptr, *CheckBox3 = nullptr;
    QLabel *Label16 = nullptr;  // sample sender
    QLabel *LabelDateFormat = nullptr;
    TRawEdit *Edit1 = nullptr;  // ShowingTime
    TClickLabel *Label38 = nullptr;  // date format help
    QCheckBox *cbPlaySound = nullptr, *cbBeep = nullptr, *cbBlink = nullptr, *cbRunProg = nullptr,
              *cbRunEmailCl = nullptr;
    TRawEdit *labSoundFile = nullptr, *labRunProg = nullptr;
    QPushButton *bbBrowse = nullptr, *bbBrowse2 = nullptr;
    QSpinBox *seBeepTime = nullptr;
    QLabel *LabelTimes = nullptr;
    QLabel *Label27 = nullptr;  // the default mail client

    // ---- message / other options (TabSheet9) ------------------------------------------
    QGroupBox *GroupBTip = nullptr, *GroupScreen = nullptr, *GroupAnim = nullptr;
    QCheckBox *cbShowBTip = nullptr, *cbDefBTip = nullptr, *cbTurnMonOn = nullptr, *cbDisSccreen = nullptr,
              *cbEarScr = nullptr, *CheckBox4 = nullptr, *CheckBox5 = nullptr, *CheckBox7 = nullptr,
              *CheckBox9 = nullptr;
    QSpinBox *ttshowtime = nullptr;
    QLabel *LabelBTipTime = nullptr, *LabelBTipSeconds = nullptr;

    // ---- other options (TabSheet3) ----------------------------------------------------
    QSpinBox *SpinEdit1 = nullptr, *SpinEdit3 = nullptr;  // CheckTime, DelayTime
    QLabel *LabelCheckEvery = nullptr, *LabelMinutes = nullptr, *LabelNextConn = nullptr,
           *Label25 = nullptr, *LabelDelay = nullptr, *LabelSeconds = nullptr;
    QCheckBox *cbCheckNet = nullptr, *CheckBox1 = nullptr, *cbSafeMemory = nullptr, *CheckBox6 = nullptr,
              *CheckBox8 = nullptr, *CheckBox10 = nullptr;
    QPushButton *BitBtn1 = nullptr;  // check for updates now

    // ---- languages (TabSheet2) -----------------------------------------------------------
    TCheckListBox *CheckListBox1 = nullptr;
    QGroupBox *GroupLanguage = nullptr;
    QLabel *LabelLangName = nullptr, *LabelLangVersion = nullptr, *LabelLangAuthor = nullptr,
           *LabelLangEmail = nullptr;
    QLabel *Label3 = nullptr, *Label4 = nullptr, *Label5 = nullptr;  // language, version, author
    TClickLabel *Label9 = nullptr;                                   // author's address

    // ---- skins (TabSheet5) ---------------------------------------------------------------
    TCheckListBox *CheckListBox2 = nullptr;
    QGroupBox *GroupSkin = nullptr;
    QLabel *LabelSkinVersion = nullptr, *LabelSkinAuthor = nullptr, *LabelSkinEmail = nullptr;
    QLabel *Label15 = nullptr, *Label12 = nullptr;  // version, author
    TClickLabel *Label13 = nullptr;                 // author's address
    QLabel *Label32 = nullptr, *Label26 = nullptr;  // "Other:" and its text
    QLabel *Image1 = nullptr;                       // preview
    QLabel *Label18 = nullptr;                      // "review is not available"
    QPushButton *BitBtn2 = nullptr, *BitBtn3 = nullptr, *BitBtn4 = nullptr, *BitBtn6 = nullptr;
    QCheckBox *cbSatunSkinVaihto = nullptr, *cbAUpdateSkin = nullptr;

    // ---- about (TabSheet4) ---------------------------------------------------------------
    QLabel *LabelProduct = nullptr, *lbVersion = nullptr, *LabelAboutText = nullptr;
    TClickLabel *Label2 = nullptr, *LabelHome = nullptr;  // address, home page

    // ---- log (TabSheet6) and log options (LogOptions) ----------------------------------
    QTextEdit *RichEdit1 = nullptr;  // the log
    std::unique_ptr<TRichEditLog> Log;
    QPushButton *Button1 = nullptr;  // clear log
    QCheckBox *cbLogToFile = nullptr, *cbUseColors = nullptr, *CheckBox11 = nullptr;
    QSpinBox *SpinEdit2 = nullptr, *SpinEdit4 = nullptr;  // LogValue, DelMessVal
    QLabel *LabelLogMax = nullptr, *LabelLogLines = nullptr, *LabelDelMax = nullptr,
           *LabelDelUnit = nullptr;
    QPushButton *btnVewDel = nullptr;

    // ---- version history (tabKeys) --------------------------------------------------------
    QPlainTextEdit *Memo1 = nullptr;

    // ---- message reader (TabSheet10) -------------------------------------------------------
    QCheckBox *CheckBox12 = nullptr, *cbShowReaded = nullptr, *cbGetBodys = nullptr;
    QSpinBox *SpinEdit5 = nullptr;  // CloseTime
    QLabel *LabelCloseMinutes = nullptr, *LabelMessageFont = nullptr, *LabelQuotesFont = nullptr;
    TClickLabel *Label40 = nullptr, *Label41 = nullptr, *Label48 = nullptr;  // message sample, its hint
    TClickLabel *Label42 = nullptr, *Label43 = nullptr, *Label44 = nullptr, *Label45 = nullptr,
                *Label46 = nullptr, *Label47 = nullptr;  // quote samples
    TFont QuotesFont, MessageFont;

    // ---- rules (TabSheet8) ---------------------------------------------------------------
    TCheckListBox *ListBox1 = nullptr;
    QPushButton *BitBtn5 = nullptr, *BitBtn7 = nullptr, *BitBtn8 = nullptr, *bbDelBL = nullptr;

    // ---- the working copy of the accounts --------------------------------------------------
    std::vector<Tiedot> Work;
    int LastWorkingIndex() const { return int(Work.size()) - 1; }
    int ShownAccount = -1;     // account whose fields stand in the account page
    std::string RememberedSkin;  // the skin when the dialog was shown
    int SwatchColour = 0x008000;  // the colour dialog's colour (blue-green-red)
    std::string SwatchColourText = "clGreen";  // and its text, stored as OwnColor
    int DragSource = -1;          // the account line under the last mouse-down

    // ---- frame (asetukset.cpp) ----------------------------------------------------------
    void FormShow();
    void FormClose();
    void FormDestroy();
    void btOkClick();
    void btCancelClick();
    void TreeView1Change(QTreeWidgetItem *Node, QTreeWidgetItem *Previous);
    void PageControl1Change() {}
    void FormClick() {}
    void Timer1Timer();
    void QueryEndSession();
    // The tree's node at an absolute (pre-order) index, and the reverse.
    QTreeWidgetItem *NodeAt(int AbsoluteIndex) const;
    int AbsoluteIndex(QTreeWidgetItem *Node) const;
    // The page a node shows with N working accounts.
    static int PageOfNode(int AbsoluteIndex, int N);
    QTreeWidgetItem *RootNode() const { return FRoot; }
    void SelectNode(QTreeWidgetItem *Node);
    // Reads every control of the table from the settings file, and writes it.
    void LoadSettingControls();
    void WriteSettingControls();
    // Every [Options] and [MessReader] key the dialog reads and writes.
    std::vector<std::string> SettingKeys() const;
    // Each of those keys ("section/key") with the value OK would write now.
    std::vector<std::pair<std::string, std::string>> ShownSettings() const;
    // Every "section/key" of the language file the dialog's captions use.
    std::vector<std::string> CaptionKeys() const;

    // ---- accounts (asetuksetAccounts.cpp) -----------------------------------------------
    void Button2Click();
    void Button4Click();
    void Button3Click();
    void Label50Click(bool Check);
    void lbAccountsDblClick();
    void lbAccountsMouseDown(int Row);
    void lbAccountsDragDrop(int Target);
    void ComboBox1Change();
    void ComboBox2Change();
    void CheckBox2Click();
    void cbNotReadClick();
    void imColorClick();
    void NewWorkingAccount();
    void DropLastWorkingAccount();
    void DeleteWorkingAccount(int Index);
    void MoveWorkingAccount(int From, int To);
    void CopyWorkingAccount(int To, int From);
    void ApplyConnectionKind();
    void DrawColorSwatch();
    void LoadHostPresets();
    void ShowAccount(int Index);
    // False (and a message to the user) when a field cannot be stored.
    bool StoreAccount(int Index);
    // The port text as a number, or false when it is not a port.
    static bool ParsePort(const std::string &Text, int &Port);

    // ---- log (asetuksetLog.cpp) ------------------------------------------------------------
    std::string LogFileName() const;
    void LoadLogFile();
    void SaveLogFile();
    void Button1Click();
    void TabSheet6Show();
    void btnVewDelClick();

    // ---- languages and skins (asetuksetSkins.cpp) --------------------------------------------
    void ListLanguageFiles();
    void ListSkinFolders();
    void ShowSkinInfo(const std::string &Name);
    void ApplyOptionsLanguage(const std::string &LanguageFile);
    void CheckListBox1ClickCheck(TCheckListBox *List, int Row);
    void CheckListBox1Click(TCheckListBox *List, int Row);
    void Label9Click(QLabel *Sender);
    void BitBtn2Click(QObject *Sender);  // update (BitBtn2) or delete (BitBtn3) this skin
    void BitBtn4Click();
    // What the all-skins job came to: logged, and with Show told the user.
    void AllSkinsJobEnded(bool Done, bool Show);
    void BitBtn6Click();
    std::string TickedLine(TCheckListBox *List) const;
    // Offers or withholds what would collide with a running Fenlow job.
    void ShowFenlowJob(bool Running);
    // True while a Fenlow job runs, once the user has been told so.
    bool RefusedForFenlowJob();

    // ---- other option pages (asetuksetOptionPages.cpp) and rules (asetuksetRules.cpp) -----------
    void cbShowTopClick(QObject *Sender);
    void bbBrowseClick(QObject *Sender);
    void CheckBox6Click();
    // The desktop starts this profile at log-in: its autostart entry exists.
    bool StartsWithDesktop() const;
    void cbRunEmailClClick();
    void CheckBox3Click();
    void Label38Click();
    void Label40Click(QObject *Sender);
    void Label48Click();
    void Label2Click(QObject *Sender);
    void BitBtn1Click();
    void BitBtn5Click();
    void BitBtn7Click();
    void BitBtn8Click();
    void bbDelBLClick();
    void ListRuleFiles();
    void SetSampleFont();
    // Where the small windows these pages open stand: by their bottom-right
    // corner at the dialog's.
    QPoint MessageCorner() const;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void CreatePages();
    QWidget *NewPage(int Index, const char *Name);
    void ConnectHandlers();
    void BindSettings();
    // Runs a handler so that nothing it throws crosses the event loop.
    void Safe(const char *Where, const std::function<void()> &Work);

    // Captions the language file gives: section, key and how to read and set.
    struct TCaption {
        std::string Section, Key;
        std::function<std::string()> Get;
        std::function<void(const std::string &)> Set;
    };
    std::vector<TCaption> FCaptions;
    void Caption(QLabel *Label, const char *Key);
    void Caption(QAbstractButton *Button, const char *Key);
    void Caption(QGroupBox *Group, const char *Key);
    void Caption(QTreeWidgetItem *Node, const char *Key);

    // The table of settings: key, default at show, and the control's side.
    struct TSetting {
        std::string Section, Key;
        // Taken when the dialog is shown: some defaults depend on the program folder.
        std::function<std::string()> Default;
        std::function<void(const std::string &)> Load;
        std::function<std::string()> Save;
    };
    std::vector<TSetting> FSettings;

    // Widens the tree to its longest node text.
    void FitTreeWidth();
    QFormLayout *FAccountForm = nullptr;
    QTreeWidgetItem *FRoot = nullptr;
    // The nodes after the accounts, in tree order (11 of them).
    std::vector<QTreeWidgetItem *> FFixedNodes;
    TMenuPage FWantedPage = mpFirst;
    bool FShowing = false;   // FormShow has run and the dialog is up
    bool FBuilding = false;  // the tree is being rebuilt: no page switches
    bool FClosing = false;
    // A page switch the program asks for (an error report) shows no
    // message about a field that cannot be stored; it just does not happen.
    bool FQuiet = false;
};

// The one Options dialog (null before it is made and after it is gone).
extern TFormAsetukset *FormAsetukset;

// The desktop's default mail client: its name and command (empty when there
// is none).
void GetDefaultMailClient(std::string &Name, std::string &Command);
// The command as the mail client alert starts it: no double quotes left (a
// word they held together keeps its blanks escaped) and "%ProgramFiles%"
// replaced by the programs folder.
std::string CleanCommandPath(const std::string &Command);
// What the date-format help shows for the moment Now.
std::string DateFormatHelpText(TDateTime Now);
// Where the date-format help's link leads.
std::string DateFormatHelpLink();
