// The Options dialog's controls: the frame, the thirteen pages and the
// language keys of their captions. Texts here are the design-time English
// ones; ApplyOptionsLanguage replaces them from the language file.
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "updates/ProductWeb.h"
#include "settings/TarnwickVersion.h"
#include "asetukset.h"
#include "dialogs/unitMessages.h"

namespace {

const char *kVersionHistory =
    "Tarnwick 0.8.2.5\n"
    "- Runs on Linux desktops (Qt 6): the tray icon, the skinned window and\n"
    "  every dialog.\n"
    "- Secure connections use the system's OpenSSL library; nothing is\n"
    "  downloaded for them.\n"
    "- The log file is rich text (RTF) that any word processor opens.\n"
    "- Settings, language files, skins and rules of earlier releases are read\n"
    "  as they are; names and passwords keep their bytes.\n";

QLabel *NewLabel(QWidget *parent, const char *name, const char *text) {
    auto *l = new QLabel(QString::fromUtf8(text), parent);
    l->setObjectName(name);
    l->setTextFormat(Qt::PlainText);
    return l;
}

TClickLabel *NewLink(QWidget *parent, const char *name, const char *text) {
    auto *l = new TClickLabel(QString::fromUtf8(text), parent);
    l->setObjectName(name);
    l->setTextFormat(Qt::PlainText);
    l->setStyleSheet("color: blue; text-decoration: underline;");
    l->setCursor(Qt::PointingHandCursor);
    return l;
}

QCheckBox *NewCheck(QWidget *parent, const char *name, const char *text) {
    auto *c = new QCheckBox(QString::fromUtf8(text), parent);
    c->setObjectName(name);
    return c;
}

QPushButton *NewButton(QWidget *parent, const char *name, const char *text) {
    auto *b = new QPushButton(QString::fromUtf8(text), parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

QSpinBox *NewSpin(QWidget *parent, const char *name, int lo, int hi) {
    auto *s = new QSpinBox(parent);
    s->setObjectName(name);
    s->setRange(lo, hi);
    s->setMinimumWidth(64);
    return s;
}

TRawEdit *NewEdit(QWidget *parent, const char *name) {
    auto *e = new TRawEdit(parent);
    e->setObjectName(name);
    return e;
}

QGroupBox *NewGroup(QWidget *parent, const char *name, const char *title) {
    auto *g = new QGroupBox(QString::fromUtf8(title), parent);
    g->setObjectName(name);
    return g;
}

// A row of widgets, left to right, with the rest of the line empty.
QHBoxLayout *Row(std::initializer_list<QWidget *> widgets) {
    auto *h = new QHBoxLayout;
    for (QWidget *w : widgets) h->addWidget(w);
    h->addStretch(1);
    return h;
}

}  // namespace

QWidget *TFormAsetukset::NewPage(int Index, const char *Name) {
    auto *page = new QWidget;
    page->setObjectName(Name);
    Pages[Index] = page;
    PageControl1->addWidget(page);
    return page;
}

void TFormAsetukset::Caption(QLabel *Label, const char *Key) {
    FCaptions.push_back({"Options", Key, [Label] { return Label->text().toStdString(); },
                         [Label](const std::string &t) { Label->setText(QString::fromStdString(t)); }});
}

void TFormAsetukset::Caption(QAbstractButton *Button, const char *Key) {
    FCaptions.push_back({"Options", Key, [Button] { return Button->text().toStdString(); },
                         [Button](const std::string &t) { Button->setText(QString::fromStdString(t)); }});
}

void TFormAsetukset::Caption(QGroupBox *Group, const char *Key) {
    FCaptions.push_back({"Options", Key, [Group] { return Group->title().toStdString(); },
                         [Group](const std::string &t) { Group->setTitle(QString::fromStdString(t)); }});
}

void TFormAsetukset::Caption(QTreeWidgetItem *Node, const char *Key) {
    FCaptions.push_back({"Options", Key, [Node] { return Node->text(0).toStdString(); },
                         [Node](const std::string &t) { Node->setText(0, QString::fromStdString(t)); }});
}

void TFormAsetukset::CreatePages() {
    setObjectName("FormAsetukset");
    setWindowTitle("Tarnwick / Options");
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);

    // ---- the frame ------------------------------------------------------------------
    TreeView1 = new QTreeWidget(this);
    TreeView1->setObjectName("TreeView1");
    TreeView1->setHeaderHidden(true);
    TreeView1->setColumnCount(1);
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    TreeView1->setFixedWidth(200);
    TreeView1->setRootIsDecorated(true);

    FRoot = new QTreeWidgetItem(TreeView1, QStringList("Account(s)"));
    Caption(FRoot, "Account(s)");
    auto top = [this](const char *text, const char *key) {
        auto *n = new QTreeWidgetItem(TreeView1, QStringList(QString::fromUtf8(text)));
        if (key) Caption(n, key);
        FFixedNodes.push_back(n);
        return n;
    };
    auto child = [this](QTreeWidgetItem *parent, const char *text, const char *key) {
        auto *n = new QTreeWidgetItem(parent, QStringList(QString::fromUtf8(text)));
        if (key) Caption(n, key);
        FFixedNodes.push_back(n);
        return n;
    };
    QTreeWidgetItem *messOpt = top("Message Options", "Message options");
    child(messOpt, "Message / Other Options", nullptr);  // both texts, set by ApplyOptionsLanguage
    top("Other Options", "OtherOptions");
    top("Languages", "Languages");
    top("Skins", "Skins");
    top("About", "About");
    QTreeWidgetItem *log = top("Log", "Log");
    child(log, "Options", "Options");
    top("New", "WhatsNew");
    top("Message Reader", "MessReader");
    top("Black List", "Rules");
    TreeView1->expandAll();

    Label23 = NewLabel(this, "Label23", "   Account(s)");
    QFont bold = Label23->font();
    bold.setBold(true);
    Label23->setFont(bold);
    Label23->setFrameShape(QFrame::StyledPanel);
    Label23->setMinimumHeight(26);

    PageControl1 = new QStackedWidget(this);
    PageControl1->setObjectName("PageControl1");

    btOk = NewButton(this, "btOk", "OK");
    Caption(btOk, "Ok");
    btOk->setMinimumWidth(90);
    btCancel = NewButton(this, "btCancel", "Cancel");
    Caption(btCancel, "Cancel");
    btCancel->setMinimumWidth(90);

    auto *right = new QVBoxLayout;
    right->addWidget(Label23);
    right->addWidget(PageControl1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btOk);
    buttons->addWidget(btCancel);
    right->addLayout(buttons);
    auto *frame = new QHBoxLayout(this);
    frame->addWidget(TreeView1);
    frame->addLayout(right, 1);

    // ---- 0: account list -------------------------------------------------------------
    {
        QWidget *p = TabSheet7 = NewPage(pgAccountList, "TabSheet7");
        LabelAccounts = NewLabel(p, "LabelAccounts", "Account(s)");
        Caption(LabelAccounts, "Account(s)");
        lbAccounts = new TCheckListBox(p);
        lbAccounts->setObjectName("lbAccounts");
        lbAccounts->setDragEnabled(true);
        lbAccounts->setAcceptDrops(true);
        lbAccounts->setDropIndicatorShown(true);
        lbAccounts->setDragDropMode(QAbstractItemView::DragDrop);
        lbAccounts->setDefaultDropAction(Qt::MoveAction);
        Button2 = NewButton(p, "Button2", "Add account...");
        Caption(Button2, "AddAccount");
        Button4 = NewButton(p, "Button4", "Rename account");
        Caption(Button4, "RenameAccount");
        Button3 = NewButton(p, "Button3", "Delete account");
        Caption(Button3, "DeleteAccount");
        Label50 = NewLink(p, "Label50", "Check All");
        Caption(Label50, "CheckAll");
        Label51 = NewLink(p, "Label51", "Uncheck All");
        Caption(Label51, "UncheckAll");
        auto *side = new QVBoxLayout;
        side->addWidget(Button2);
        side->addWidget(Button4);
        side->addWidget(Button3);
        side->addSpacing(12);
        side->addWidget(Label50);
        side->addWidget(Label51);
        side->addStretch(1);
        auto *h = new QHBoxLayout;
        h->addWidget(lbAccounts, 1);
        h->addLayout(side);
        auto *v = new QVBoxLayout(p);
        v->addWidget(LabelAccounts);
        v->addLayout(h, 1);
    }

    // ---- 1: account --------------------------------------------------------------------
    {
        QWidget *p = TabSheet1 = NewPage(pgAccount, "TabSheet1");
        GroupAccount = NewGroup(p, "GroupAccount", "Account");
        Caption(GroupAccount, "Account");
        LabelPresets = NewLabel(GroupAccount, "LabelPresets", "Provider presets");
        Caption(LabelPresets, "SelectOpt");
        ComboBox1 = new QComboBox(GroupAccount);
        ComboBox1->setObjectName("ComboBox1");
        ComboBox1->setEditable(true);
        ComboBox1->setInsertPolicy(QComboBox::NoInsert);
        LabelKind = NewLabel(GroupAccount, "LabelKind", "Connection");
        Caption(LabelKind, "ConnKind");
        ComboBox2 = new QComboBox(GroupAccount);
        ComboBox2->setObjectName("ComboBox2");
        ComboBox2->addItems({"POP3", "IMAP4", "HTTP"});
        LabelHost = NewLabel(GroupAccount, "LabelHost", "Host");
        Caption(LabelHost, "Host");
        TxtHost = NewEdit(GroupAccount, "TxtHost");
        LabelPort = NewLabel(GroupAccount, "LabelPort", "Port Number");
        Caption(LabelPort, "PortNumber");
        TxtPort = NewEdit(GroupAccount, "TxtPort");
        TxtPort->setText("110");
        TxtPort->setMaximumWidth(90);
        LabelUser = NewLabel(GroupAccount, "LabelUser", "User name");
        Caption(LabelUser, "UserName");
        TxtUser = NewEdit(GroupAccount, "TxtUser");
        LabelPassword = NewLabel(GroupAccount, "LabelPassword", "Password");
        Caption(LabelPassword, "Password");
        TxtPassword = NewEdit(GroupAccount, "TxtPassword");
        TxtPassword->setEchoMode(QLineEdit::Password);
        CheckBox2 = NewCheck(GroupAccount, "CheckBox2", "Secure Connection (SSL)");
        Caption(CheckBox2, "SSL");
        LabelInbox = NewLabel(GroupAccount, "LabelInbox", "Mailbox");
        Caption(LabelInbox, "Inbox");
        txtInbox = NewEdit(GroupAccount, "txtInbox");
        auto *form = FAccountForm = new QFormLayout(GroupAccount);
        form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
        form->addRow(LabelPresets, ComboBox1);
        form->addRow(LabelKind, ComboBox2);
        form->addRow(LabelHost, TxtHost);
        form->addRow(LabelPort, TxtPort);
        form->addRow(LabelUser, TxtUser);
        form->addRow(LabelPassword, TxtPassword);
        form->addRow(nullptr, CheckBox2);
        form->addRow(LabelInbox, txtInbox);

        GroupPersonal = NewGroup(p, "GroupPersonal", "Personal options");
        Caption(GroupPersonal, "PersOptions");
        LabelOwnSkin = NewLabel(GroupPersonal, "LabelOwnSkin", "Skin");
        Caption(LabelOwnSkin, "Skin");
        cbOwnSkins = new QComboBox(GroupPersonal);
        cbOwnSkins->setObjectName("cbOwnSkins");
        cbOwnSkins->setEditable(true);
        cbOwnSkins->setInsertPolicy(QComboBox::NoInsert);
        LabelColor = NewLabel(GroupPersonal, "LabelColor", "Color");
        Caption(LabelColor, "Color");
        imColor = new TClickLabel(GroupPersonal);
        imColor->setObjectName("imColor");
        imColor->setFixedSize(48, 20);
        imColor->setFrameShape(QFrame::Box);
        imColor->setCursor(Qt::PointingHandCursor);
        cbNotRead = NewCheck(GroupPersonal, "cbNotRead", "Protect messages with password");
        Caption(cbNotRead, "MessProtect");
        auto *pf = new QFormLayout(GroupPersonal);
        pf->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
        pf->addRow(LabelOwnSkin, cbOwnSkins);
        pf->addRow(LabelColor, imColor);
        pf->addRow(nullptr, cbNotRead);

        auto *v = new QVBoxLayout(p);
        v->addWidget(GroupAccount);
        v->addWidget(GroupPersonal);
        v->addStretch(1);
    }

    // ---- 2: message options ---------------------------------------------------------
    {
        QWidget *p = tabMessage = NewPage(pgMessage, "tabMessage");
        GroupMessage = NewGroup(p, "GroupMessage", "Message");
        Caption(GroupMessage, "Message");
        cbShowMwssage = NewCheck(GroupMessage, "cbShowMwssage", "Show message window");
        Caption(cbShowMwssage, "ShowMessage");
        cbShowTop = NewCheck(GroupMessage, "cbShowTop", "Show at the top");
        Caption(cbShowTop, "ShowToTop");
        cbShowDown = NewCheck(GroupMessage, "cbShowDown", "Show at the bottom");
        Caption(cbShowDown, "ShowToDown");
        CheckBox3 = NewCheck(GroupMessage, "CheckBox3", "View sender address");
        Caption(CheckBox3, "ViewSender");
        Label16 = NewLabel(GroupMessage, "Label16", "Tarnwick Team <team@tarnwick.example.org>");
        Label16->setStyleSheet("color: #505050;");
        LabelDateFormat = NewLabel(GroupMessage, "LabelDateFormat", "Date and time format");
        Caption(LabelDateFormat, "DateAndTime");
        Edit1 = NewEdit(GroupMessage, "Edit1");
        Edit1->setMaximumWidth(160);
        Label38 = NewLink(GroupMessage, "Label38", "Some values");
        Caption(Label38, "SomeValues");
        auto *g = new QGridLayout(GroupMessage);
        g->addWidget(cbShowMwssage, 0, 0);
        g->addWidget(cbShowTop, 0, 1);
        g->addWidget(CheckBox3, 1, 0);
        g->addWidget(cbShowDown, 1, 1);
        g->addWidget(Label16, 2, 0, 1, 2);
        g->addLayout(Row({LabelDateFormat, Edit1, Label38}), 3, 0, 1, 2);

        GroupNewMessage = NewGroup(p, "GroupNewMessage", "New message");
        Caption(GroupNewMessage, "NewMesssage");
        cbPlaySound = NewCheck(GroupNewMessage, "cbPlaySound", "Play sound");
        Caption(cbPlaySound, "PlaySound");
        labSoundFile = NewEdit(GroupNewMessage, "labSoundFile");
        bbBrowse = NewButton(GroupNewMessage, "bbBrowse", "...");
        bbBrowse->setFixedWidth(32);
        cbBeep = NewCheck(GroupNewMessage, "cbBeep", "Beep");
        Caption(cbBeep, "Beep");
        cbBlink = NewCheck(GroupNewMessage, "cbBlink", "Blink keyboard lights");
        Caption(cbBlink, "BlinkLeds");
        seBeepTime = NewSpin(GroupNewMessage, "seBeepTime", 1, 10);
        LabelTimes = NewLabel(GroupNewMessage, "LabelTimes", "times");
        Caption(LabelTimes, "Time");
        cbRunProg = NewCheck(GroupNewMessage, "cbRunProg", "Run program");
        Caption(cbRunProg, "RunProg");
        labRunProg = NewEdit(GroupNewMessage, "labRunProg");
        bbBrowse2 = NewButton(GroupNewMessage, "bbBrowse2", "...");
        bbBrowse2->setFixedWidth(32);
        cbRunEmailCl = NewCheck(GroupNewMessage, "cbRunEmailCl", "Run default email client");
        Caption(cbRunEmailCl, "RunEMClient");
        Label27 = NewLabel(GroupNewMessage, "Label27", "");
        auto *n = new QGridLayout(GroupNewMessage);
        n->addWidget(cbPlaySound, 0, 0);
        n->addWidget(labSoundFile, 0, 1);
        n->addWidget(bbBrowse, 0, 2);
        n->addWidget(cbRunProg, 1, 0);
        n->addWidget(labRunProg, 1, 1);
        n->addWidget(bbBrowse2, 1, 2);
        n->addWidget(cbRunEmailCl, 2, 0);
        n->addWidget(Label27, 2, 1, 1, 2);
        n->addWidget(cbBeep, 3, 0);
        n->addLayout(Row({cbBlink, seBeepTime, LabelTimes}), 4, 0, 1, 3);
        n->setColumnStretch(1, 1);

        auto *v = new QVBoxLayout(p);
        v->addWidget(GroupMessage);
        v->addWidget(GroupNewMessage);
        v->addStretch(1);
    }

    // ---- 3: message / other options ----------------------------------------------------
    {
        QWidget *p = TabSheet9 = NewPage(pgMessageOther, "TabSheet9");
        GroupBTip = NewGroup(p, "GroupBTip", "Balloon tip");
        Caption(GroupBTip, "BTip");
        cbShowBTip = NewCheck(GroupBTip, "cbShowBTip", "Show balloon tip when new mail arrives");
        Caption(cbShowBTip, "ShowBTip");
        cbDefBTip = NewCheck(GroupBTip, "cbDefBTip", "Use the tray balloon");
        Caption(cbDefBTip, "DefBTip");
        LabelBTipTime = NewLabel(GroupBTip, "LabelBTipTime", "Show time");
        Caption(LabelBTipTime, "BTipSTime");
        ttshowtime = NewSpin(GroupBTip, "ttshowtime", 2, 240);
        LabelBTipSeconds = NewLabel(GroupBTip, "LabelBTipSeconds", "seconds");
        Caption(LabelBTipSeconds, "Seconds");
        auto *b = new QVBoxLayout(GroupBTip);
        b->addWidget(cbShowBTip);
        b->addWidget(cbDefBTip);
        b->addLayout(Row({LabelBTipTime, ttshowtime, LabelBTipSeconds}));

        GroupScreen = NewGroup(p, "GroupScreen", "Screen");
        Caption(GroupScreen, "ScreenOpt");
        cbTurnMonOn = NewCheck(GroupScreen, "cbTurnMonOn", "Turn monitor on when new mail arrives");
        Caption(cbTurnMonOn, "TurnMonOn");
        cbDisSccreen = NewCheck(GroupScreen, "cbDisSccreen", "Stop the screen saver when new mail arrives");
        Caption(cbDisSccreen, "DisScreenS");
        cbEarScr = NewCheck(GroupScreen, "cbEarScr", "Use own screen saver while new mail waits");
        Caption(cbEarScr, "ReplScreenS");
        auto *s = new QVBoxLayout(GroupScreen);
        s->addWidget(cbTurnMonOn);
        s->addWidget(cbDisSccreen);
        s->addWidget(cbEarScr);

        GroupAnim = NewGroup(p, "GroupAnim", "Icon animations");
        Caption(GroupAnim, "IconAnim");
        CheckBox4 = NewCheck(GroupAnim, "CheckBox4", "Animate while checking mail");
        Caption(CheckBox4, "AnGetMails");
        CheckBox5 = NewCheck(GroupAnim, "CheckBox5", "Animate when new mail waits");
        Caption(CheckBox5, "AnNewMails");
        CheckBox7 = NewCheck(GroupAnim, "CheckBox7", "Animate on errors");
        Caption(CheckBox7, "AnErrWarn");
        CheckBox9 = NewCheck(GroupAnim, "CheckBox9", "Animate while updating");
        Caption(CheckBox9, "AnUpd");
        auto *a = new QGridLayout(GroupAnim);
        a->addWidget(CheckBox4, 0, 0);
        a->addWidget(CheckBox5, 0, 1);
        a->addWidget(CheckBox7, 1, 0);
        a->addWidget(CheckBox9, 1, 1);

        auto *v = new QVBoxLayout(p);
        v->addWidget(GroupBTip);
        v->addWidget(GroupScreen);
        v->addWidget(GroupAnim);
        v->addStretch(1);
    }

    // ---- 4: other options -----------------------------------------------------------------
    {
        QWidget *p = TabSheet3 = NewPage(pgOther, "TabSheet3");
        LabelCheckEvery = NewLabel(p, "LabelCheckEvery", "Check every");
        Caption(LabelCheckEvery, "PerChecking");
        SpinEdit1 = NewSpin(p, "SpinEdit1", 1, 60);
        LabelMinutes = NewLabel(p, "LabelMinutes", "minutes");
        Caption(LabelMinutes, "Minutes");
        LabelNextConn = NewLabel(p, "LabelNextConn", "Next check in");
        Caption(LabelNextConn, "NextConn");
        Label25 = NewLabel(p, "Label25", "00:00:00");
        QFont mono = Label25->font();
        mono.setBold(true);
        Label25->setFont(mono);
        LabelDelay = NewLabel(p, "LabelDelay", "Delay at start");
        Caption(LabelDelay, "Delay");
        SpinEdit3 = NewSpin(p, "SpinEdit3", 1, 60);
        LabelSeconds = NewLabel(p, "LabelSeconds", "seconds");
        Caption(LabelSeconds, "Seconds");
        cbCheckNet = NewCheck(p, "cbCheckNet", "Check internet connection first");
        Caption(cbCheckNet, "CheckNet");
        CheckBox1 = NewCheck(p, "CheckBox1", "Check mail at start");
        Caption(CheckBox1, "CheckAtStart");
        cbSafeMemory = NewCheck(p, "cbSafeMemory", "Save memory");
        Caption(cbSafeMemory, "SafeMem");
        CheckBox6 = NewCheck(p, "CheckBox6", "Start with the desktop");
        Caption(CheckBox6, "StartOnW");
        CheckBox8 = NewCheck(p, "CheckBox8", "Check for updates at start");
        Caption(CheckBox8, "CheckUpdates");
        CheckBox10 = NewCheck(p, "CheckBox10", "Update automatically");
        Caption(CheckBox10, "AutoUpdate");
        BitBtn1 = NewButton(p, "BitBtn1", "Check for updates...");
        Caption(BitBtn1, "CheckUpdNow");

        auto *g = new QGridLayout;
        g->addWidget(LabelCheckEvery, 0, 0);
        g->addLayout(Row({SpinEdit1, LabelMinutes}), 0, 1);
        g->addWidget(LabelNextConn, 1, 0);
        g->addWidget(Label25, 1, 1);
        g->addWidget(LabelDelay, 2, 0);
        g->addLayout(Row({SpinEdit3, LabelSeconds}), 2, 1);
        g->setColumnStretch(1, 1);
        auto *v = new QVBoxLayout(p);
        v->addLayout(g);
        v->addSpacing(8);
        v->addWidget(cbCheckNet);
        v->addWidget(CheckBox1);
        v->addWidget(cbSafeMemory);
        v->addWidget(CheckBox6);
        v->addSpacing(8);
        v->addWidget(CheckBox8);
        v->addWidget(CheckBox10);
        v->addLayout(Row({BitBtn1}));
        v->addStretch(1);
    }

    // ---- 5: languages --------------------------------------------------------------------
    {
        QWidget *p = TabSheet2 = NewPage(pgLanguages, "TabSheet2");
        CheckListBox1 = new TCheckListBox(p);
        CheckListBox1->setObjectName("CheckListBox1");
        CheckListBox1->setFixedWidth(180);
        GroupLanguage = NewGroup(p, "GroupLanguage", "Language information");
        Caption(GroupLanguage, "LngRev");
        LabelLangName = NewLabel(GroupLanguage, "LabelLangName", "Language");
        Caption(LabelLangName, "Language");
        LabelLangVersion = NewLabel(GroupLanguage, "LabelLangVersion", "Version");
        Caption(LabelLangVersion, "Version");
        LabelLangAuthor = NewLabel(GroupLanguage, "LabelLangAuthor", "Author");
        Caption(LabelLangAuthor, "Author");
        LabelLangEmail = NewLabel(GroupLanguage, "LabelLangEmail", "E-mail");
        Caption(LabelLangEmail, "EMail");
        Label3 = NewLabel(GroupLanguage, "Label3", "");
        Label4 = NewLabel(GroupLanguage, "Label4", "");
        Label5 = NewLabel(GroupLanguage, "Label5", "");
        Label9 = NewLink(GroupLanguage, "Label9", "");
        auto *f = new QFormLayout(GroupLanguage);
        f->addRow(LabelLangName, Label3);
        f->addRow(LabelLangVersion, Label4);
        f->addRow(LabelLangAuthor, Label5);
        f->addRow(LabelLangEmail, Label9);
        auto *side = new QVBoxLayout;
        side->addWidget(GroupLanguage);
        side->addStretch(1);
        auto *h = new QHBoxLayout(p);
        h->addWidget(CheckListBox1);
        h->addLayout(side, 1);
    }

    // ---- 6: skins ----------------------------------------------------------------------------
    {
        QWidget *p = TabSheet5 = NewPage(pgSkins, "TabSheet5");
        CheckListBox2 = new TCheckListBox(p);
        CheckListBox2->setObjectName("CheckListBox2");
        CheckListBox2->setFixedWidth(180);
        GroupSkin = NewGroup(p, "GroupSkin", "Skin information");
        Caption(GroupSkin, "SknRev");
        LabelSkinVersion = NewLabel(GroupSkin, "LabelSkinVersion", "Version");
        Caption(LabelSkinVersion, "Version");
        LabelSkinAuthor = NewLabel(GroupSkin, "LabelSkinAuthor", "Author");
        Caption(LabelSkinAuthor, "Author");
        LabelSkinEmail = NewLabel(GroupSkin, "LabelSkinEmail", "E-mail");
        Caption(LabelSkinEmail, "EMail");
        Label15 = NewLabel(GroupSkin, "Label15", ".....");
        Label12 = NewLabel(GroupSkin, "Label12", ".....");
        Label13 = NewLink(GroupSkin, "Label13", ".....");
        Label32 = NewLabel(GroupSkin, "Label32", "Other:");
        Caption(Label32, "Other");
        Label26 = NewLabel(GroupSkin, "Label26", "");
        Label26->setWordWrap(true);
        auto *f = new QFormLayout(GroupSkin);
        f->addRow(LabelSkinVersion, Label15);
        f->addRow(LabelSkinAuthor, Label12);
        f->addRow(LabelSkinEmail, Label13);
        f->addRow(Label32, Label26);

        Image1 = NewLabel(p, "Image1", "");
        Image1->setFixedSize(274, 154);
        Image1->setAlignment(Qt::AlignCenter);
        Image1->setFrameShape(QFrame::StyledPanel);
        Label18 = NewLabel(Image1, "Label18", "review is not available");
        Label18->setAlignment(Qt::AlignCenter);
        Label18->setGeometry(0, 0, 274, 154);

        BitBtn2 = NewButton(p, "BitBtn2", "Update this skin...");
        Caption(BitBtn2, "UpdateSkin");
        BitBtn3 = NewButton(p, "BitBtn3", "Delete this skin...");
        Caption(BitBtn3, "DeleteSkin");
        BitBtn4 = NewButton(p, "BitBtn4", "Download all skins...");
        Caption(BitBtn4, "DownAllSkins");
        BitBtn6 = NewButton(p, "BitBtn6", "Edit this skin...");
        Caption(BitBtn6, "EditSkin");
        cbSatunSkinVaihto = NewCheck(p, "cbSatunSkinVaihto", "Change skin randomly");
        Caption(cbSatunSkinVaihto, "ChSkinRand");
        cbAUpdateSkin = NewCheck(p, "cbAUpdateSkin", "Check for skin updates at start");
        Caption(cbAUpdateSkin, "FenlowSkin");

        auto *btns = new QGridLayout;
        btns->addWidget(BitBtn2, 0, 0);
        btns->addWidget(BitBtn3, 0, 1);
        btns->addWidget(BitBtn6, 1, 0);
        btns->addWidget(BitBtn4, 1, 1);
        auto *side = new QVBoxLayout;
        side->addWidget(GroupSkin);
        side->addWidget(Image1, 0, Qt::AlignHCenter);
        side->addLayout(btns);
        side->addStretch(1);
        auto *left = new QVBoxLayout;
        left->addWidget(CheckListBox2, 1);
        auto *h = new QHBoxLayout;
        h->addLayout(left);
        h->addLayout(side, 1);
        auto *v = new QVBoxLayout(p);
        v->addLayout(h, 1);
        v->addWidget(cbSatunSkinVaihto);
        v->addWidget(cbAUpdateSkin);
    }

    // ---- 7: about --------------------------------------------------------------------------
    {
        QWidget *p = TabSheet4 = NewPage(pgAbout, "TabSheet4");
        LabelProduct = NewLabel(p, "LabelProduct", "Tarnwick");
        QFont big = LabelProduct->font();
        big.setBold(true);
        big.setPointSize(big.pointSize() + 8);
        LabelProduct->setFont(big);
        LabelProduct->setAlignment(Qt::AlignCenter);
        lbVersion = NewLabel(p, "lbVersion", (std::string("v. ") + TarnwickVersion).c_str());
        lbVersion->setAlignment(Qt::AlignCenter);
        LabelAboutText = NewLabel(p, "LabelAboutText",
                                  "A mail monitor: it watches POP3, IMAP4 and web-mail accounts "
                                  "and tells you what is new without downloading the mail.");
        LabelAboutText->setAlignment(Qt::AlignCenter);
        LabelAboutText->setWordWrap(true);
        Caption(LabelAboutText, "AboutText");
        Label2 = NewLink(p, "Label2", "team@tarnwick.example.org");
        Label2->setAlignment(Qt::AlignCenter);
        LabelHome = NewLink(p, "LabelHome", ProductWebLocation().c_str());
        LabelHome->setAlignment(Qt::AlignCenter);
        auto *v = new QVBoxLayout(p);
        v->addStretch(1);
        v->addWidget(LabelProduct);
        v->addWidget(lbVersion);
        v->addSpacing(16);
        v->addWidget(LabelAboutText);
        v->addSpacing(16);
        v->addWidget(Label2);
        v->addWidget(LabelHome);
        v->addStretch(2);
    }

    // ---- 8: log ------------------------------------------------------------------------------
    {
        QWidget *p = TabSheet6 = NewPage(pgLog, "TabSheet6");
        RichEdit1 = new QTextEdit(p);
        RichEdit1->setObjectName("RichEdit1");
        RichEdit1->setReadOnly(true);
        RichEdit1->setAcceptRichText(false);
        RichEdit1->setLineWrapMode(QTextEdit::NoWrap);
        Button1 = NewButton(p, "Button1", "Clear log");
        Caption(Button1, "ClLog");
        auto *v = new QVBoxLayout(p);
        v->addWidget(RichEdit1, 1);
        v->addLayout(Row({Button1}));
    }

    // ---- 9: log options ----------------------------------------------------------------------
    {
        QWidget *p = LogOptions = NewPage(pgLogOptions, "LogOptions");
        cbLogToFile = NewCheck(p, "cbLogToFile", "Save log to file");
        Caption(cbLogToFile, "LogToFile");
        LabelLogMax = NewLabel(p, "LabelLogMax", "Maximum");
        Caption(LabelLogMax, "Maximum");
        SpinEdit2 = NewSpin(p, "SpinEdit2", 5, 150);
        LabelLogLines = NewLabel(p, "LabelLogLines", "lines");
        Caption(LabelLogLines, "Lines");
        cbUseColors = NewCheck(p, "cbUseColors", "Use colors in log");
        Caption(cbUseColors, "UseColors");
        CheckBox11 = NewCheck(p, "CheckBox11", "Save deleted messages");
        Caption(CheckBox11, "SaveDel");
        LabelDelMax = NewLabel(p, "LabelDelMax", "Maximum");
        Caption(LabelDelMax, "MaxSize");
        SpinEdit4 = NewSpin(p, "SpinEdit4", 5, 150);
        LabelDelUnit = NewLabel(p, "LabelDelUnit", "messages");
        Caption(LabelDelUnit, "Messages");
        btnVewDel = NewButton(p, "btnVewDel", "View deleted messages");
        Caption(btnVewDel, "ViewDel");
        auto *v = new QVBoxLayout(p);
        v->addWidget(cbLogToFile);
        v->addLayout(Row({LabelLogMax, SpinEdit2, LabelLogLines}));
        v->addWidget(cbUseColors);
        v->addSpacing(12);
        v->addWidget(CheckBox11);
        v->addLayout(Row({LabelDelMax, SpinEdit4, LabelDelUnit}));
        v->addLayout(Row({btnVewDel}));
        v->addStretch(1);
    }

    // ---- 10: version history -----------------------------------------------------------------
    {
        QWidget *p = tabKeys = NewPage(pgVersionHistory, "tabKeys");
        Memo1 = new QPlainTextEdit(p);
        Memo1->setObjectName("Memo1");
        Memo1->setReadOnly(true);
        Memo1->setPlainText(QString::fromUtf8(kVersionHistory));
        auto *v = new QVBoxLayout(p);
        v->addWidget(Memo1);
        p->setEnabled(false);
    }

    // ---- 11: message reader ------------------------------------------------------------------
    {
        QWidget *p = TabSheet10 = NewPage(pgMessageReader, "TabSheet10");
        CheckBox12 = NewCheck(p, "CheckBox12", "Close the reader automatically after");
        Caption(CheckBox12, "AutoClose");
        SpinEdit5 = NewSpin(p, "SpinEdit5", 1, 15);
        LabelCloseMinutes = NewLabel(p, "LabelCloseMinutes", "minutes");
        Caption(LabelCloseMinutes, "Minutes");
        cbShowReaded = NewCheck(p, "cbShowReaded", "Show read messages too");
        Caption(cbShowReaded, "ShowReaded");
        cbGetBodys = NewCheck(p, "cbGetBodys", "Get message bodies in the background");
        Caption(cbGetBodys, "GetBodys");
        // The samples stand on the reader's white page, as the text will.
        auto *paper = new QFrame(p);
        paper->setObjectName("SamplePaper");
        paper->setFrameShape(QFrame::StyledPanel);
        paper->setAutoFillBackground(true);
        QPalette white = paper->palette();
        white.setColor(QPalette::Window, Qt::white);
        paper->setPalette(white);
        LabelMessageFont = NewLabel(paper, "LabelMessageFont", "Message");
        Caption(LabelMessageFont, "Message");
        Label40 = new TClickLabel("Dear friend, this is how a message reads.", paper);
        Label40->setObjectName("Label40");
        Label40->setCursor(Qt::PointingHandCursor);
        Caption(Label40, "SampleMessage");
        Label41 = new TClickLabel("", paper);
        Label41->setObjectName("Label41");
        LabelQuotesFont = NewLabel(paper, "LabelQuotesFont", "Quotes");
        Caption(LabelQuotesFont, "Quotes");
        TClickLabel **quotes[] = {&Label42, &Label43, &Label44, &Label45, &Label46, &Label47};
        const char *names[] = {"Label42", "Label43", "Label44", "Label45", "Label46", "Label47"};
        auto *q = new QGridLayout(paper);
        q->setVerticalSpacing(1);
        q->setHorizontalSpacing(16);
        q->addWidget(LabelMessageFont, 0, 0, Qt::AlignTop);
        q->addWidget(Label40, 0, 1);
        q->addWidget(Label41, 1, 1);
        q->setRowMinimumHeight(2, 8);
        q->addWidget(LabelQuotesFont, 3, 0, Qt::AlignTop);
        for (int i = 0; i < 6; ++i) {
            QString text = QString(i + 1, QChar('>')) + " A quoted line";
            *quotes[i] = new TClickLabel(text, paper);
            (*quotes[i])->setObjectName(names[i]);
            (*quotes[i])->setCursor(Qt::PointingHandCursor);
            q->addWidget(*quotes[i], 3 + i, 1);
            // The language gives the words; the level marks stay.
            TClickLabel *quote = *quotes[i];
            const QString marks = QString(i + 1, QChar('>')) + " ";
            FCaptions.push_back({"Options", "SampleQuote",
                                 [quote, marks] { return quote->text().mid(marks.size()).toStdString(); },
                                 [quote, marks](const std::string &t) {
                                     quote->setText(marks + QString::fromStdString(t));
                                 }});
        }
        q->setColumnStretch(1, 1);
        Label48 = new TClickLabel("Click a sample to choose its font.", p);
        Label48->setObjectName("Label48");
        Caption(Label48, "FontHint");
        Label48->setStyleSheet("color: #505050;");
        auto *v = new QVBoxLayout(p);
        v->addLayout(Row({CheckBox12, SpinEdit5, LabelCloseMinutes}));
        v->addWidget(cbShowReaded);
        v->addWidget(cbGetBodys);
        v->addSpacing(12);
        v->addWidget(paper);
        v->addWidget(Label48);
        v->addStretch(1);
    }

    // ---- 12: rules ---------------------------------------------------------------------------
    {
        QWidget *p = TabSheet8 = NewPage(pgRules, "TabSheet8");
        ListBox1 = new TCheckListBox(p);
        ListBox1->setObjectName("ListBox1");
        BitBtn5 = NewButton(p, "BitBtn5", "Add rule...");
        Caption(BitBtn5, "AddRule");
        BitBtn7 = NewButton(p, "BitBtn7", "Edit rule...");
        Caption(BitBtn7, "EditRule");
        BitBtn8 = NewButton(p, "BitBtn8", "Rename rule...");
        Caption(BitBtn8, "RenameRule");
        bbDelBL = NewButton(p, "bbDelBL", "Remove rule");
        Caption(bbDelBL, "RemoveRule");
        auto *side = new QVBoxLayout;
        side->addWidget(BitBtn5);
        side->addWidget(BitBtn7);
        side->addWidget(BitBtn8);
        side->addWidget(bbDelBL);
        side->addStretch(1);
        auto *h = new QHBoxLayout(p);
        h->addWidget(ListBox1, 1);
        h->addLayout(side);
    }

    resize(800, 560);
}

void TFormAsetukset::FitTreeWidth() {
    int widest = 0;
    const QFontMetrics metrics(TreeView1->font());
    for (QTreeWidgetItemIterator it(TreeView1); *it; ++it) {
        int depth = 0;
        for (QTreeWidgetItem *up = (*it)->parent(); up; up = up->parent()) ++depth;
        widest = std::max(widest, metrics.horizontalAdvance((*it)->text(0)) + (depth + 1) * TreeView1->indentation());
    }
    TreeView1->setFixedWidth(std::clamp(widest + 24, 200, 260));
}
