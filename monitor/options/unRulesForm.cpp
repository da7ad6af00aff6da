#include "unRulesForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "dialogs/DialogSeam.h"
#include "mainwindow/FrmMain.h"
#include "settings/Kel_Reg.h"
#include "settings/ProgramPaths.h"
#include "SysUtils.h"
#include "settings/Tiedot.h"
#include "unBrowse.h"
#include "settings/unDecodes.h"
#include "dialogs/unFrmGetText.h"
#include "settings/unLanguage.h"
#include "dialogs/unMessYesNo.h"
#include "settings/unRules.h"
#include "dialogs/unitMessages.h"

namespace {

bool gEditorOpen = false;

QString Q(const std::string &s) { return QString::fromStdString(s); }
std::string S(const QString &s) { return s.toStdString(); }

std::string Rule(const char *key, const char *design) { return LangText("Rule", key, design); }

// The title of the editor's messages and questions.
std::string MessageTitle() { return LangText("Messages", "54", "Tarnwick"); }

void SetText(QAbstractButton *b, const std::string &section, const char *key) {
    b->setText(Q(LangText(section, key, S(b->text()))));
}
void SetTitle(QGroupBox *g, const std::string &section, const char *key) {
    g->setTitle(Q(LangText(section, key, S(g->title()))));
}

// Account names are shown as text but compared and written as stored: a
// name from an old settings file may be Windows-1252 bytes.
QString ShownName(const std::string &raw) { return Q(IsValidUtf8(raw) ? raw : Cp1252ToUtf8(raw)); }
constexpr int kRawRole = Qt::UserRole + 1;

// Item of a numbered test box, or 0 for a value it does not have.
int InRange(int value, int count) { return value >= 0 && value < count ? value : 0; }

TStringList ListLines(const QListWidget *list) {
    TStringList out;
    for (int i = 0; i < list->count(); ++i) out.Add(S(list->item(i)->text()));
    return out;
}

// The row holding the entry as the rules compare it (an older editor stored
// capitals and blanks as typed), -1 when none does.
int RowOfEntry(const QListWidget *list, const std::string &entry) {
    for (int i = 0; i < list->count(); ++i)
        if (RuleEntryKey(S(list->item(i)->text())) == RuleEntryKey(entry)) return i;
    return -1;
}

void FillList(QListWidget *list, const TStringList &lines) {
    list->clear();
    for (const auto &l : lines) list->addItem(Q(l));
}

// A drop-down whose list is wide enough for its longest item.
void FitPopup(QComboBox *box) {
    int w = 0;
    QFontMetrics fm(box->font());
    for (int i = 0; i < box->count(); ++i) w = std::max(w, fm.horizontalAdvance(box->itemText(i)));
    box->view()->setMinimumWidth(w + 32);
}

}  // namespace

bool RuleEditorOpen() { return gEditorOpen; }

// ---- the draggable lists --------------------------------------------------------

TDragListBox::TDragListBox(QWidget *parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    // The list moves the entry itself; a copy action keeps Qt from removing
    // the dragged row on its own as well.
    setDefaultDropAction(Qt::CopyAction);
}

int TDragListBox::RowAt(const QPoint &Point) const {
    QListWidgetItem *item = itemAt(Point);
    return item ? row(item) : -1;
}

void TDragListBox::mousePressEvent(QMouseEvent *event) {
    if (OnMouseDown) OnMouseDown(RowAt(event->position().toPoint()));
    QListWidget::mousePressEvent(event);
}

void TDragListBox::dragEnterEvent(QDragEnterEvent *event) {
    if (event->source() == this) event->acceptProposedAction();
    else event->ignore();
}

void TDragListBox::dragMoveEvent(QDragMoveEvent *event) {
    if (event->source() == this) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void TDragListBox::dropEvent(QDropEvent *event) {
    if (event->source() != this) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (OnDragDrop) OnDragDrop(RowAt(event->position().toPoint()));
}

// ---- the window -------------------------------------------------------------------

TfrmBlackList::TfrmBlackList(QWidget *owner) : QDialog(owner) {
    setObjectName("frmBlackList");
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(" Rule: ");

    auto button = [this](const char *name, const char *caption) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        return b;
    };
    auto label = [this](const char *name, const char *caption) {
        auto *l = new QLabel(caption, this);
        l->setObjectName(name);
        return l;
    };

    // Left column: job, accounts, extra settings.
    GroupBox3 = new QGroupBox("Rule job:", this);
    GroupBox3->setObjectName("GroupBox3");
    CheckListBox2 = new QListWidget(GroupBox3);
    CheckListBox2->setObjectName("CheckListBox2");
    for (const char *job : {"Do not show messages", "Delete messages from server"}) {
        auto *item = new QListWidgetItem(job, CheckListBox2);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    CheckListBox2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    CheckListBox2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    CheckListBox2->setFixedHeight(CheckListBox2->sizeHintForRow(0) * 2 + 2 * CheckListBox2->frameWidth() + 4);
    CheckListBox2->setMinimumWidth(CheckListBox2->sizeHintForColumn(0) + 2 * CheckListBox2->frameWidth() + 8);
    (new QVBoxLayout(GroupBox3))->addWidget(CheckListBox2);

    GroupBox4 = new QGroupBox("Do this rule to these accounts:", this);
    GroupBox4->setObjectName("GroupBox4");
    GroupBox4->setEnabled(false);
    CheckListBox1 = new QListWidget(GroupBox4);
    CheckListBox1->setObjectName("CheckListBox1");
    CheckBox2 = new QCheckBox("Do to all accounts", GroupBox4);
    CheckBox2->setObjectName("CheckBox2");
    CheckBox2->setChecked(true);
    auto *accounts = new QVBoxLayout(GroupBox4);
    accounts->addWidget(CheckListBox1);
    accounts->addWidget(CheckBox2);

    GroupBox5 = new QGroupBox("Asetukset:", this);
    GroupBox5->setObjectName("GroupBox5");
    LblSmtp = label("LblSmtp", "SMTP");
    QFont bold = LblSmtp->font();
    bold.setBold(true);
    LblSmtp->setFont(bold);
    LblHost = label("LblHost", "Host:");
    LblPort = label("LblPort", "Port Number:");
    LblUsername = label("LblUsername", "User name:");
    LblPassword = label("LblPassword", "Password:");
    auto edit = [this](const char *name, const char *text) {
        auto *e = new TRawEdit(text, this);
        e->setObjectName(name);
        return e;
    };
    TxtHost = edit("TxtHost", "");
    TxtPort = edit("TxtPort", "25");
    TxtUser = edit("TxtUser", "");
    TxtPassword = edit("TxtPassword", "");
    TxtPassword->setEchoMode(QLineEdit::Password);
    Edit1 = edit("Edit1", "");
    bbBrowse = button("bbBrowse", "...");
    bbBrowse->setFixedWidth(32);
    auto *extra = new QGridLayout(GroupBox5);
    extra->addWidget(LblSmtp, 0, 0, 1, 3);
    extra->addWidget(LblHost, 1, 0);
    extra->addWidget(TxtHost, 1, 1, 1, 2);
    extra->addWidget(LblPort, 2, 0);
    extra->addWidget(TxtPort, 2, 1, 1, 2);
    extra->addWidget(LblUsername, 3, 0);
    extra->addWidget(TxtUser, 3, 1, 1, 2);
    extra->addWidget(LblPassword, 4, 0);
    extra->addWidget(TxtPassword, 4, 1, 1, 2);
    extra->addWidget(Edit1, 5, 0, 1, 2);
    extra->addWidget(bbBrowse, 5, 2);
    extra->setColumnStretch(1, 1);

    // Middle: senders. Right: subject words. Each list has its box and
    // buttons beside it, the "<- Add" pointing into the list.
    auto wordGroup = [&](QGroupBox *&group, const char *groupName, const char *title, TDragListBox *&list,
                         const char *listName, QComboBox *&box, const char *boxName, QPushButton *&add,
                         const char *addName, QPushButton *&remove, const char *removeName,
                         QPushButton *&rename, const char *renameName) {
        group = new QGroupBox(title, this);
        group->setObjectName(groupName);
        group->setEnabled(false);
        list = new TDragListBox(group);
        list->setObjectName(listName);
        box = new QComboBox(group);
        box->setObjectName(boxName);
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setMinimumContentsLength(12);
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        add = button(addName, "<- Add");
        remove = button(removeName, "Remove ->");
        rename = button(renameName, "Rename");
    };
    wordGroup(GroupBox1, "GroupBox1", "EMail addresess / Names under this rule:", ListBox1, "ListBox1",
              ComboBox2, "ComboBox2", BitBtn1, "BitBtn1", BitBtn2, "BitBtn2", BitBtn3, "BitBtn3");
    wordGroup(GroupBox2, "GroupBox2", "Do this rule if message subject:", ListBox2, "ListBox2", ComboBox4,
              "ComboBox4", BitBtn4, "BitBtn4", BitBtn5, "BitBtn5", BitBtn6, "BitBtn6");

    CheckBox1 = new QCheckBox("Do to all senders", GroupBox1);
    CheckBox1->setObjectName("CheckBox1");
    ComboBox3 = new QComboBox(GroupBox1);
    ComboBox3->setObjectName("ComboBox3");
    ComboBox3->addItems({"Email adress / Name has to be same with list", "Server has to be same with list",
                         "It is enough if sender address or name include these words"});
    ComboBox1 = new QComboBox(GroupBox2);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->addItems({"Include this words / sentences", "Not include this words / sentences", "Same",
                         "Not same", "Blanc", "Not blanc", "Do to all messages"});
    for (QComboBox *test : {ComboBox3, ComboBox1}) {
        test->setMinimumContentsLength(20);
        test->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    }

    auto listBlock = [](QGroupBox *group, QWidget *top, QWidget *test, TDragListBox *list, QComboBox *box,
                        QPushButton *add, QPushButton *remove, QPushButton *rename) {
        auto *v = new QVBoxLayout(group);
        if (top) v->addWidget(top);
        v->addWidget(test);
        auto *h = new QHBoxLayout;
        h->addWidget(list, 3);
        auto *side = new QVBoxLayout;
        side->addWidget(box);
        side->addWidget(add);
        side->addWidget(remove);
        side->addSpacing(12);
        side->addWidget(rename);
        side->addStretch(1);
        h->addLayout(side, 2);
        v->addLayout(h, 1);
    };
    listBlock(GroupBox1, CheckBox1, ComboBox3, ListBox1, ComboBox2, BitBtn1, BitBtn2, BitBtn3);
    listBlock(GroupBox2, nullptr, ComboBox1, ListBox2, ComboBox4, BitBtn4, BitBtn5, BitBtn6);

    BitBtn7 = button("BitBtn7", "Save");
    BitBtn7->setEnabled(false);
    BitBtn8 = button("BitBtn8", "Close");
    for (QPushButton *b : {BitBtn7, BitBtn8}) b->setMinimumWidth(90);

    auto *left = new QVBoxLayout;
    left->addWidget(GroupBox3);
    left->addWidget(GroupBox4, 1);
    left->addWidget(GroupBox5);
    auto *columns = new QHBoxLayout;
    // Senders above subject words: both tests are read in full that way.
    auto *right = new QVBoxLayout;
    right->addWidget(GroupBox1, 1);
    right->addWidget(GroupBox2, 1);
    columns->addLayout(left, 0);
    columns->addLayout(right, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BitBtn7);
    buttons->addWidget(BitBtn8);
    auto *all = new QVBoxLayout(this);
    all->addLayout(columns, 1);
    all->addLayout(buttons);

    setFixedWidth(913);
    setFixedHeight(std::max(sizeHint().height(), 470));

    // Handlers.
    connect(CheckListBox2, &QListWidget::itemChanged, this, [this](QListWidgetItem *item) {
        if (FLoading) return;
        Safe("CheckListBox2Click", [&] { CheckListBox2Click(CheckListBox2->row(item)); });
    });
    connect(CheckListBox2, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        Safe("CheckListBox2Click", [&] { CheckListBox2Click(CheckListBox2->row(item)); });
    });
    connect(CheckListBox1, &QListWidget::itemChanged, this, [this] {
        if (!FLoading) Safe("CheckListBox1ClickCheck", [this] { Changed(); });
    });
    connect(ComboBox3, &QComboBox::currentIndexChanged, this, [this] {
        if (!FLoading) Safe("ComboBox3Change", [this] { Changed(); });
    });
    for (QLineEdit *e : {TxtHost, TxtPort, TxtUser, TxtPassword, Edit1})
        connect(e, &QLineEdit::textChanged, this, [this] {
            if (!FLoading) Safe("EditChange", [this] { Changed(); });
        });
    for (QCheckBox *c : {CheckBox1, CheckBox2})
        connect(c, &QCheckBox::toggled, this, [this] {
            if (!FLoading) Safe("CheckBoxClick", [this] { ChangedAndUpdate(); });
        });
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, [this] {
        if (!FLoading) Safe("ComboBox1Change", [this] { ChangedAndUpdate(); });
    });
    auto click = [this](QPushButton *b, const char *name, void (TfrmBlackList::*handler)()) {
        connect(b, &QPushButton::clicked, this, [this, name, handler] { Safe(name, [this, handler] { (this->*handler)(); }); });
    };
    click(BitBtn1, "BitBtn1Click", &TfrmBlackList::BitBtn1Click);
    click(BitBtn2, "BitBtn2Click", &TfrmBlackList::BitBtn2Click);
    click(BitBtn3, "BitBtn3Click", &TfrmBlackList::BitBtn3Click);
    click(BitBtn4, "BitBtn4Click", &TfrmBlackList::BitBtn4Click);
    click(BitBtn5, "BitBtn5Click", &TfrmBlackList::BitBtn5Click);
    click(BitBtn6, "BitBtn6Click", &TfrmBlackList::BitBtn6Click);
    click(BitBtn7, "BitBtn7Click", &TfrmBlackList::BitBtn7Click);
    click(BitBtn8, "BitBtn8Click", &TfrmBlackList::BitBtn8Click);
    click(bbBrowse, "bbBrowseClick", &TfrmBlackList::bbBrowseClick);
    connect(ListBox1, &QListWidget::itemDoubleClicked, this, [this] { Safe("ListBox1DblClick", [this] { BitBtn3Click(); }); });
    connect(ListBox2, &QListWidget::itemDoubleClicked, this, [this] { Safe("ListBox2DblClick", [this] { BitBtn6Click(); }); });
    for (TDragListBox *list : {ListBox1, ListBox2}) {
        list->OnMouseDown = [this](int row) { DragSource = row; };
        list->OnDragDrop = [this, list](int target) { Safe("ListBoxDragDrop", [&] { ListBoxDragDrop(list, target); }); };
    }
}

void TfrmBlackList::Safe(const char *Where, const std::function<void()> &Work) {
    try {
        Work();
    } catch (const std::exception &e) {
        try {
            if (FrmMain) FrmMain->ReportEvent(std::string("Error in ") + Where + ": " + e.what(), 0, 6, 255);
        } catch (...) {
        }
    } catch (...) {
    }
}

std::string TfrmBlackList::RuleFile() const { return RuleFilePath(RulesFolder(), RuleName); }

void TfrmBlackList::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    // The frame is known once the window is shown: the corner is the
    // frame's, and the frame's top-left (the title bar) stays on the screen.
    for (int i = 0; i < 2 && Corner.x() >= 0; ++i) {
        const QRect frame = frameGeometry();
        const QSize outer = ExpectedFrameSize(*this);
        QPoint at = Corner - QPoint(outer.width(), outer.height());
        if (!Area.isEmpty()) at = QPoint(std::max(at.x(), Area.left()), std::max(at.y(), Area.top()));
        if (at == frame.topLeft()) break;
        move(at);
    }
    if (!event->spontaneous()) Safe("FormShow", [this] { FormShow(); });
}

void TfrmBlackList::FormShow() {
    FLoading = true;
    // Accounts of the settings file, in index order.
    CheckListBox1->clear();
    const std::string settings = SettingsFilePath();
    int last = std::min(StrToIntDef(Trim(IniReadString(settings, "Accounts", "Num", "-1")), -1), MaxAccounts - 1);
    for (int i = 0; i <= last; ++i) {
        std::string name = IniReadString(settings, IntToStr(i), "Name", "");
        auto *item = new QListWidgetItem(ShownName(name), CheckListBox1);
        item->setData(kRawRole, QByteArray::fromStdString(name));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    // Suggestions from the mail now listed.
    TStringList senders, subjects;
    if (FrmMain) {
        FrmMain->CollectSenders(senders);
        FrmMain->CollectSubjects(subjects);
    }
    ComboBox2->clear();
    for (const auto &s : senders) ComboBox2->addItem(Q(s));
    ComboBox4->clear();
    for (const auto &s : subjects) ComboBox4->addItem(Q(s));
    ComboBox2->setCurrentIndex(ComboBox2->count() ? 0 : -1);
    ComboBox4->setCurrentIndex(ComboBox4->count() ? 0 : -1);
    FLoading = false;

    ApplyLanguage();
    FLoading = true;
    ComboBox3->setCurrentIndex(0);
    ComboBox1->setCurrentIndex(0);
    FLoading = false;
    LoadRule();
    UpdateControls();
    BitBtn7->setEnabled(false);
}

void TfrmBlackList::ApplyLanguage() {
    setWindowTitle(Q(Rule("Rule", "Rule") + ": " + RuleName));
    SetText(BitBtn7, "Rule", "Save");
    SetText(BitBtn8, "Options", "Close");
    SetTitle(GroupBox3, "Rule", "Box1");
    CheckListBox2->item(jobHide)->setText(Q(Rule("Rule1", S(CheckListBox2->item(jobHide)->text()).c_str())));
    CheckListBox2->item(jobDelete)->setText(Q(Rule("Rule2", S(CheckListBox2->item(jobDelete)->text()).c_str())));
    SetTitle(GroupBox5, "Options", "Options");
    // The captions carry their colon; the language gives the words.
    auto caption = [](QLabel *l, const char *key) {
        std::string shown = S(l->text());
        if (!shown.empty() && shown.back() == ':') shown.pop_back();
        l->setText(Q(LangText("Options", key, shown) + ":"));
    };
    caption(LblHost, "Host");
    caption(LblPort, "PortNumber");
    caption(LblUsername, "UserName");
    caption(LblPassword, "Password");
    SetTitle(GroupBox4, "Rule", "Box3");
    SetText(CheckBox2, "Rule", "AllAccounts");
    SetTitle(GroupBox1, "Rule", "Box4");
    SetText(CheckBox1, "Rule", "AllSenders");
    for (QPushButton *b : {BitBtn1, BitBtn4}) SetText(b, "Rule", "Add");
    for (QPushButton *b : {BitBtn2, BitBtn5}) SetText(b, "Rule", "Remove");
    for (QPushButton *b : {BitBtn3, BitBtn6}) SetText(b, "Rule", "Rename");
    bool loading = FLoading;
    FLoading = true;
    for (int i = 0; i < SenderTestCount; ++i)
        ComboBox3->setItemText(i, Q(LangText("Rule", "SenRule" + IntToStr(i + 1), S(ComboBox3->itemText(i)))));
    SetTitle(GroupBox2, "Rule", "Box5");
    for (int i = 0; i < WordTestCount; ++i)
        ComboBox1->setItemText(i, Q(LangText("Rule", "WordRule" + IntToStr(i + 1), S(ComboBox1->itemText(i)))));
    FLoading = loading;
    FitPopup(ComboBox3);
    FitPopup(ComboBox1);
}

void TfrmBlackList::LoadRule() {
    FLoading = true;
    TRuleDefinition r = ReadRuleDefinition(RuleFile());
    for (int i = 0; i < JobCount; ++i)
        CheckListBox2->item(i)->setCheckState(i == r.Job ? Qt::Checked : Qt::Unchecked);
    TxtHost->SetRaw(r.Host);
    TxtPort->SetRaw(r.Port);
    TxtUser->SetRaw(r.User);
    TxtPassword->SetRaw(r.Pass);
    Edit1->SetRaw(r.Path);
    CheckBox2->setChecked(r.AllAccounts);
    for (int i = 0; i < CheckListBox1->count(); ++i) {
        QListWidgetItem *item = CheckListBox1->item(i);
        bool listed = r.Accounts.IndexOf(item->data(kRawRole).toByteArray().toStdString()) >= 0;
        item->setCheckState(listed ? Qt::Checked : Qt::Unchecked);
    }
    CheckBox1->setChecked(r.AllEMails);
    ComboBox3->setCurrentIndex(InRange(r.EMailRule, SenderTestCount));
    FillList(ListBox1, r.EMails);
    ComboBox1->setCurrentIndex(InRange(r.WordsRule, WordTestCount));
    FillList(ListBox2, r.Words);
    FLoading = false;
}

int TfrmBlackList::CheckedJob() const {
    for (int i = 0; i < JobCount; ++i)
        if (CheckListBox2->item(i)->checkState() == Qt::Checked) return i;
    return -1;
}

TRuleDefinition TfrmBlackList::ControlsRule() const {
    TRuleDefinition r;
    r.Job = CheckedJob();
    r.Host = TxtHost->Raw();
    r.Port = TxtPort->Raw();
    r.User = TxtUser->Raw();
    r.Pass = TxtPassword->Raw();
    r.Path = Edit1->Raw();
    r.AllAccounts = CheckBox2->isChecked();
    for (int i = 0; i < CheckListBox1->count(); ++i) {
        QListWidgetItem *item = CheckListBox1->item(i);
        if (item->checkState() != Qt::Checked) continue;
        r.Accounts.Add(item->data(kRawRole).toByteArray().toStdString());
        r.AccountKeys.push_back(i);
    }
    r.EMailRule = ComboBox3->currentIndex();
    r.AllEMails = CheckBox1->isChecked();
    r.EMails = ListLines(ListBox1);
    r.WordsRule = ComboBox1->currentIndex();
    r.Words = ListLines(ListBox2);
    return r;
}

void TfrmBlackList::UpdateControls() {
    bool job = CheckedJob() >= 0;
    GroupBox4->setEnabled(job);
    GroupBox1->setEnabled(job);
    CheckListBox1->setEnabled(job && !CheckBox2->isChecked());
    bool senders = job && !CheckBox1->isChecked();
    for (QWidget *w : std::initializer_list<QWidget *>{ListBox1, ComboBox2, ComboBox3, BitBtn1, BitBtn2, BitBtn3})
        w->setEnabled(senders);
    if (job) GroupBox2->setEnabled(CheckBox1->isChecked() || ListBox1->count() > 0);
    bool group2 = GroupBox2->isEnabledTo(this);
    int test = ComboBox1->currentIndex();
    bool words = group2 && test != wrBlanc && test != wrNotBlanc && test != wrAll;
    for (QWidget *w : std::initializer_list<QWidget *>{ListBox2, ComboBox4, BitBtn4, BitBtn5, BitBtn6})
        w->setEnabled(words);

    // What differs from the file on disk makes the rule worth saving; the
    // lists are not compared (their edits enable Save themselves).
    TRuleDefinition disk = ReadRuleDefinition(RuleFile());
    int diskJob = disk.Job >= 0 && disk.Job < JobCount ? disk.Job : -1;
    TRuleDefinition shown = ControlsRule();
    if (shown.Job != diskJob || shown.Host != disk.Host || shown.Port != disk.Port ||
        shown.User != disk.User || shown.Pass != disk.Pass || shown.Path != disk.Path ||
        shown.AllAccounts != disk.AllAccounts || shown.AllEMails != disk.AllEMails ||
        shown.EMailRule != InRange(disk.EMailRule, SenderTestCount) ||
        shown.WordsRule != InRange(disk.WordsRule, WordTestCount))
        BitBtn7->setEnabled(true);
}

void TfrmBlackList::Changed() { BitBtn7->setEnabled(true); }

void TfrmBlackList::ChangedAndUpdate() {
    BitBtn7->setEnabled(true);
    UpdateControls();
}

void TfrmBlackList::CheckListBox2Click(int Row) {
    if (Row < 0 || Row >= JobCount) return;
    bool loading = FLoading;
    FLoading = true;
    for (int i = 0; i < JobCount; ++i)
        CheckListBox2->item(i)->setCheckState(i == Row ? Qt::Checked : Qt::Unchecked);
    FLoading = loading;
    UpdateControls();
}

// ---- the lists ------------------------------------------------------------------------

void TfrmBlackList::AddEntry(TDragListBox *List, QComboBox *Box, const char *DuplicateKey,
                             const char *DuplicateText) {
    // The rules compare with lower-cased message texts, so an entry with a
    // capital letter would never match; blanks around it would be kept in
    // the file and never match either.
    std::string entry = Utf8LowerCase(Trim(S(Box->currentText())));
    if (entry.empty()) return;
    if (RowOfEntry(List, entry) >= 0) {
        ShowMessageWindow(MessageTitle(), Rule(DuplicateKey, DuplicateText), "", DialogScreenRight(), DialogWorkAreaBottom(), 0);
        return;
    }
    List->addItem(Q(entry));
    BitBtn7->setEnabled(true);
}

void TfrmBlackList::BitBtn1Click() {
    AddEntry(ListBox1, ComboBox2, "Mess_1", "This entry is already in the list.");
    UpdateControls();
}

void TfrmBlackList::BitBtn4Click() {
    AddEntry(ListBox2, ComboBox4, "Mess_9", "This word is already in the list.");
}

void TfrmBlackList::RemoveEntry(TDragListBox *List) {
    int row = List->currentRow();
    if (row < 0 || row >= List->count()) return;
    delete List->takeItem(row);
    if (List->count() > 0) List->setCurrentRow(std::min(row, List->count() - 1));
    BitBtn7->setEnabled(true);
}

void TfrmBlackList::BitBtn2Click() {
    RemoveEntry(ListBox1);
    UpdateControls();
}

void TfrmBlackList::BitBtn5Click() { RemoveEntry(ListBox2); }

void TfrmBlackList::RenameEntry(TDragListBox *List, QPushButton *Button, const char *PromptKey,
                                const char *PromptText, const char *DuplicateKey,
                                const char *DuplicateText) {
    int row = List->currentRow();
    if (row < 0 || row >= List->count()) return;
    QPoint at = Button->mapToGlobal(QPoint(0, 0));
    std::string answer = ShowTextInputDialog(Rule("Rule", "Rule"), Rule(PromptKey, PromptText),
                                             S(List->item(row)->text()), at.x(), at.y(), false);
    std::string entry = Utf8LowerCase(Trim(answer));
    if (entry.empty()) return;
    int found = RowOfEntry(List, entry);
    if (found >= 0 && found != row) {
        ShowMessageWindow(MessageTitle(), Rule(DuplicateKey, DuplicateText), "", DialogScreenRight(), DialogWorkAreaBottom(), 0);
        return;
    }
    List->item(row)->setText(Q(entry));
    BitBtn7->setEnabled(true);
}

void TfrmBlackList::BitBtn3Click() {
    RenameEntry(ListBox1, BitBtn3, "Mess_7", "Sender address or name:", "Mess_1",
                "This entry is already in the list.");
}

void TfrmBlackList::BitBtn6Click() {
    RenameEntry(ListBox2, BitBtn6, "Mess_8", "Word:", "Mess_9", "This word is already in the list.");
}

void TfrmBlackList::ListBoxDragDrop(TDragListBox *List, int Target) {
    int from = DragSource;
    if (from < 0 || from >= List->count() || Target < 0 || Target >= List->count() || from == Target) return;
    QListWidgetItem *item = List->takeItem(from);
    List->insertItem(Target, item);
    List->setCurrentRow(Target);
    BitBtn7->setEnabled(true);
}

void TfrmBlackList::bbBrowseClick() {
    std::string path;
    ShowBrowseDialog(DialogScreenRight() - 285, DialogWorkAreaBottom() - 356, path);
    if (!path.empty()) Edit1->setText(Q(path));
}

// ---- saving and closing ---------------------------------------------------------------

bool TfrmBlackList::SaveRule() {
    FWriteFailed = false;
    std::string warning;
    // Words left in the list count for nothing under "Not blanc" and "Do to
    // all messages": such a rule deletes as much as one without words.
    const int test = ComboBox1->currentIndex();
    const bool wordsUsed = ListBox2->count() > 0 && test != wrNotBlanc && test != wrAll;
    if (CheckedJob() == jobDelete && CheckBox1->isChecked() && !wordsUsed && test != wrBlanc) {
        if (CheckBox2->isChecked()) {
            warning = Rule("Mess_12", "this rule deletes every message of every account from the server.");
        } else {
            for (int i = 0; i < CheckListBox1->count() && warning.empty(); ++i)
                if (CheckListBox1->item(i)->checkState() == Qt::Checked)
                    warning = Rule("Mess_11", "this rule deletes every message of the chosen accounts from the server.");
        }
    }
    if (!warning.empty()) {
        std::string question = "\r\n\r\n\r\n" + Rule("Mess_10", "Warning:") + " " + warning + "\r\n\r\n" +
                               Rule("Mess_13", "Do you want to save the rule?");
        // Deleting everything on the server is saved only on a clear Yes.
        if (AskYesNo(MessageTitle(), question, "", DialogScreenRight(), DialogWorkAreaBottom()) != 0) return false;
    }
    BitBtn7->setEnabled(false);
    try {
        ForceDirectories(ExtractFileDir(RuleFile()));
        WriteRuleDefinition(RuleFile(), ControlsRule());
    } catch (const Exception &e) {
        FWriteFailed = true;
        BitBtn7->setEnabled(true);
        ShowMessageWindow(LangText("Messages", "50", "Warning"),
                          Rule("Mess_14", "The rule could not be saved.") + "\r\n" + e.Message(), "",
                          DialogScreenRight(), DialogWorkAreaBottom(), 1);
        return false;
    }
    return true;
}

void TfrmBlackList::BitBtn7Click() { SaveRule(); }

void TfrmBlackList::BitBtn8Click() { close(); }

bool TfrmBlackList::FormClose() {
    if (!BitBtn7->isEnabled()) return true;
    std::string question = "\r\n\r\n\r\n" + Rule("Mess_5", "The rule has been changed.") + "\r\n" +
                           Rule("Mess_6", "Do you want to save it?");
    if (AskYesNo("Save...", question, "", DialogScreenRight(), DialogWorkAreaBottom()) != 0) return true;
    // A rule that could not be written keeps the window, so nothing is lost;
    // one the user withdrew at the warning closes unsaved.
    return SaveRule() || !FWriteFailed;
}

void TfrmBlackList::reject() { close(); }

void TfrmBlackList::closeEvent(QCloseEvent *event) {
    if (FClosed) {
        event->accept();
        return;
    }
    bool close = true;
    Safe("FormClose", [&] { close = FormClose(); });
    if (!close) {
        event->ignore();
        return;
    }
    FClosed = true;
    event->accept();
    done(QDialog::Rejected);
}

void FitRuleEditor(TfrmBlackList &Form) {
    // A screen narrower or lower than the design size (an 800 x 600 display,
    // a netbook's 1024 x 600) gets a smaller window with shorter and narrower
    // lists: placed by the corner alone, the job and account choices and the
    // title bar stood off the screen.
    QScreen *screen = QGuiApplication::primaryScreen();
    Form.Area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QSize fit = FitWindowSize(Form.size(), Form.minimumSizeHint(), Form.Area);
    if (fit.width() < Form.width()) Form.setFixedWidth(fit.width());
    if (fit.height() < Form.height()) Form.setFixedHeight(fit.height());
    Form.Corner = QPoint(DialogScreenRight(), DialogWorkAreaBottom());
    const QSize outer = ExpectedFrameSize(Form);
    Form.move(std::max(Form.Area.left(), Form.Corner.x() - outer.width()),
              std::max(Form.Area.top(), Form.Corner.y() - outer.height()));
}

void ShowRuleEditor(const std::string &Name) {
    TfrmBlackList form(QApplication::activeWindow());
    form.RuleName = Name;
    form.setWindowTitle(Q(" Rule: " + Name));
    FitRuleEditor(form);
    gEditorOpen = true;
    try {
        ShowModal(form);
    } catch (...) {
        gEditorOpen = false;
        throw;
    }
    gEditorOpen = false;
}
