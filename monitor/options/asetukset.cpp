#include "asetukset.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDrag>
#include <QDragEnterEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTreeWidget>
#include <cmath>
#include <cstdio>

#include "dialogs/DialogSeam.h"
#include "mainwindow/FrmMain.h"
#include "IniFile.h"
#include "settings/TarnwickVersion.h"
#include "settings/Kel_Reg.h"
#include "settings/ProgramPaths.h"
#include "SimpleTimer.h"
#include "settings/VeskRutins.h"
#include "settings/unDecodes.h"
#include "settings/unLanguage.h"
#include "dialogs/unitMessages.h"

TFormAsetukset *FormAsetukset = nullptr;

namespace {
QString ShownText(const std::string &raw) {
    return QString::fromStdString(IsValidUtf8(raw) ? raw : Cp1252ToUtf8(raw));
}
}  // namespace

// ---- the check list box --------------------------------------------------------------------

TCheckListBox::TCheckListBox(QWidget *parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void TCheckListBox::AddLine(const std::string &Text, bool Checked) {
    auto *item = new QListWidgetItem(ShownText(Text));
    item->setData(Qt::UserRole, QByteArray::fromStdString(Text));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Checked ? Qt::Checked : Qt::Unchecked);
    addItem(item);
}

std::string TCheckListBox::Line(int Index) const {
    QListWidgetItem *i = item(Index);
    return i ? i->data(Qt::UserRole).toByteArray().toStdString() : std::string();
}

void TCheckListBox::SetLine(int Index, const std::string &Text) {
    if (QListWidgetItem *i = item(Index)) {
        i->setData(Qt::UserRole, QByteArray::fromStdString(Text));
        i->setText(ShownText(Text));
    }
}

bool TCheckListBox::Checked(int Index) const {
    QListWidgetItem *i = item(Index);
    return i && i->checkState() == Qt::Checked;
}

void TCheckListBox::SetChecked(int Index, bool Value) {
    if (QListWidgetItem *i = item(Index)) i->setCheckState(Value ? Qt::Checked : Qt::Unchecked);
}

int TCheckListBox::LineAt(const QPoint &Point) const {
    QListWidgetItem *i = itemAt(Point);
    return i ? row(i) : -1;
}

void TCheckListBox::mousePressEvent(QMouseEvent *event) {
    if (OnMouseDown) OnMouseDown(LineAt(event->position().toPoint()));
    QListWidget::mousePressEvent(event);
}

void TCheckListBox::dragEnterEvent(QDragEnterEvent *event) {
    // Lines come only from this list itself.
    if (OnDragDrop && event->source() == this) event->acceptProposedAction();
    else event->ignore();
}

void TCheckListBox::dragMoveEvent(QDragMoveEvent *event) {
    if (OnDragDrop && event->source() == this) {
        QListWidget::dragMoveEvent(event);
        event->accept();
    } else {
        event->ignore();
    }
}

void TCheckListBox::dropEvent(QDropEvent *event) {
    if (!OnDragDrop || event->source() != this) {
        event->ignore();
        return;
    }
    int target = LineAt(event->position().toPoint());
    // The list moves its lines itself; a copy action keeps the view from
    // removing the dragged line on its own afterwards.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    OnDragDrop(target);
}

// ---- creation and destruction ------------------------------------------------------------

TFormAsetukset::TFormAsetukset(QWidget *owner) : QDialog(owner) {
    FormAsetukset = this;
    CreatePages();
    Timer1 = new TTimer;
    Timer1->setParent(this);
    Timer1->SetInterval(1000);
    Timer1->SetOnTimer([this](QObject *) { Safe("Timer1Timer", [this] { Timer1Timer(); }); });
    BindSettings();
    ConnectHandlers();

    // FormCreate: the log lives here from now on.
    Log = std::make_unique<TRichEditLog>(RichEdit1);
    Log->Clear();
    if (FrmMain) {
        FrmMain->Reporter.Log = Log.get();
        FrmMain->Reporter.LogReady = true;
        FrmMain->Reporter.OptionsShowing = [this] { return isVisible(); };
        FrmMain->Reporter.SelectLogPage = [this] {
            FQuiet = true;
            SelectLogPage();
            FQuiet = false;
        };
    }
    if (FrmMain) {
        connect(FrmMain, &TFrmMain::FenlowJobChanged, this,
                [this](bool running) { Safe("ShowFenlowJob", [this, running] { ShowFenlowJob(running); }); });
        ShowFenlowJob(FrmMain->FenlowJobRunning());
    }
    Safe("FormCreate", [this] { LoadLogFile(); });
    if (FrmMain) FrmMain->ReportEvent("", 20, 3, TEventReporter::clGreen);
    // A session that ends keeps its log, as the program's end does.
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::commitDataRequest, this,
                [this](QSessionManager &) { Safe("QueryEndSession", [this] { QueryEndSession(); }); });
}

TFormAsetukset::~TFormAsetukset() {
    Safe("FormDestroy", [this] { FormDestroy(); });
    if (FrmMain) {
        if (FrmMain->Reporter.Log == Log.get()) {
            FrmMain->Reporter.LogReady = false;
            FrmMain->Reporter.Log = nullptr;
        }
        FrmMain->Reporter.OptionsShowing = nullptr;
        FrmMain->Reporter.SelectLogPage = nullptr;
    }
    if (FormAsetukset == this) FormAsetukset = nullptr;
}

void TFormAsetukset::FormDestroy() {
    if (FrmMain) FrmMain->ReportEvent("", 21, 3, TEventReporter::clGreen);
    SaveLogFile();
}

void TFormAsetukset::QueryEndSession() { SaveLogFile(); }

void TFormAsetukset::Safe(const char *Where, const std::function<void()> &Work) {
    if (FrmMain) {
        FrmMain->Guard(Where, Work);
        return;
    }
    try {
        Work();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "Options: %s: %s\n", Where, e.what());
    } catch (...) {
        std::fprintf(stderr, "Options: %s failed\n", Where);
    }
}

void TFormAsetukset::ConnectHandlers() {
    auto on = [this](auto *sender, auto signal, const char *name, std::function<void()> work) {
        connect(sender, signal, this, [this, name, work] { Safe(name, work); });
    };
    // Frame.
    connect(TreeView1, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *node, QTreeWidgetItem *previous) {
                if (FBuilding) return;
                Safe("TreeView1Change", [this, node, previous] { TreeView1Change(node, previous); });
            });
    connect(PageControl1, &QStackedWidget::currentChanged, this, [this](int index) {
        Safe("PageControl1Change", [this] { PageControl1Change(); });
        if (index == pgLog && isVisible()) Safe("TabSheet6Show", [this] { TabSheet6Show(); });
    });
    on(btOk, &QPushButton::clicked, "btOkClick", [this] { btOkClick(); });
    on(btCancel, &QPushButton::clicked, "btCancelClick", [this] { btCancelClick(); });

    // Account list and account page.
    on(Button2, &QPushButton::clicked, "Button2Click", [this] { Button2Click(); });
    on(Button4, &QPushButton::clicked, "Button4Click", [this] { Button4Click(); });
    on(Button3, &QPushButton::clicked, "Button3Click", [this] { Button3Click(); });
    on(Label50, &TClickLabel::clicked, "Label50Click", [this] { Label50Click(true); });
    on(Label51, &TClickLabel::clicked, "Label50Click", [this] { Label50Click(false); });
    on(lbAccounts, &QListWidget::itemDoubleClicked, "lbAccountsDblClick", [this] { lbAccountsDblClick(); });
    lbAccounts->OnMouseDown = [this](int row) { Safe("lbAccountsMouseDown", [this, row] { lbAccountsMouseDown(row); }); };
    lbAccounts->OnDragDrop = [this](int target) { Safe("lbAccountsDragDrop", [this, target] { lbAccountsDragDrop(target); }); };
    on(ComboBox1, &QComboBox::activated, "ComboBox1Change", [this] { ComboBox1Change(); });
    on(ComboBox2, &QComboBox::activated, "ComboBox2Change", [this] { ComboBox2Change(); });
    connect(CheckBox2, &QCheckBox::toggled, this, [this](bool checked) {
        if (checked) Safe("CheckBox2Click", [this] { CheckBox2Click(); });
    });
    on(cbNotRead, &QCheckBox::toggled, "cbNotReadClick", [this] { cbNotReadClick(); });

    // Log.
    on(Button1, &QPushButton::clicked, "Button1Click", [this] { Button1Click(); });

    // Languages and skins.
    for (TCheckListBox *list : {CheckListBox1, CheckListBox2}) {
        connect(list, &QListWidget::itemClicked, this, [this, list](QListWidgetItem *item) {
            Safe("CheckListBox1Click", [this, list, item] { CheckListBox1Click(list, list->row(item)); });
        });
        connect(list, &QListWidget::itemChanged, this, [this, list](QListWidgetItem *item) {
            if (FBuilding || item->checkState() != Qt::Checked) return;
            Safe("CheckListBox1ClickCheck", [this, list, item] { CheckListBox1ClickCheck(list, list->row(item)); });
        });
    }
    on(Label9, &TClickLabel::clicked, "Label9Click", [this] { Label9Click(Label9); });
    on(Label13, &TClickLabel::clicked, "Label9Click", [this] { Label9Click(Label13); });
    on(BitBtn2, &QPushButton::clicked, "BitBtn2Click", [this] { BitBtn2Click(BitBtn2); });
    on(BitBtn3, &QPushButton::clicked, "BitBtn2Click", [this] { BitBtn2Click(BitBtn3); });
    on(BitBtn4, &QPushButton::clicked, "BitBtn4Click", [this] { BitBtn4Click(); });
    on(BitBtn6, &QPushButton::clicked, "BitBtn6Click", [this] { BitBtn6Click(); });

    // The other option pages and the rules page.
    for (QCheckBox *box : {cbShowTop, cbShowDown, cbShowMwssage, cbSatunSkinVaihto, cbPlaySound, cbRunProg,
                           CheckBox10, CheckBox12})
        on(box, &QCheckBox::clicked, "cbShowTopClick", [this, box] { cbShowTopClick(box); });
    on(imColor, &TClickLabel::clicked, "cbShowTopClick", [this] { cbShowTopClick(imColor); });
    on(btnVewDel, &QPushButton::clicked, "cbShowTopClick", [this] { cbShowTopClick(btnVewDel); });
    on(bbBrowse, &QPushButton::clicked, "bbBrowseClick", [this] { bbBrowseClick(bbBrowse); });
    on(bbBrowse2, &QPushButton::clicked, "bbBrowseClick", [this] { bbBrowseClick(bbBrowse2); });
    on(cbRunEmailCl, &QCheckBox::clicked, "cbRunEmailClClick", [this] { cbRunEmailClClick(); });
    on(CheckBox6, &QCheckBox::clicked, "CheckBox6Click", [this] { CheckBox6Click(); });
    on(CheckBox3, &QCheckBox::clicked, "CheckBox3Click", [this] { CheckBox3Click(); });
    on(Label38, &TClickLabel::clicked, "Label38Click", [this] { Label38Click(); });
    for (TClickLabel *sample : {Label40, Label41, Label42, Label43, Label44, Label45, Label46, Label47})
        on(sample, &TClickLabel::clicked, "Label40Click", [this, sample] { Label40Click(sample); });
    on(Label48, &TClickLabel::clicked, "Label48Click", [this] { Label48Click(); });
    on(Label2, &TClickLabel::clicked, "Label2Click", [this] { Label2Click(Label2); });
    on(LabelHome, &TClickLabel::clicked, "Label2Click", [this] { Label2Click(LabelHome); });
    on(BitBtn1, &QPushButton::clicked, "BitBtn1Click", [this] { BitBtn1Click(); });
    on(BitBtn5, &QPushButton::clicked, "BitBtn5Click", [this] { BitBtn5Click(); });
    on(BitBtn7, &QPushButton::clicked, "BitBtn7Click", [this] { BitBtn7Click(); });
    on(ListBox1, &QListWidget::itemDoubleClicked, "BitBtn7Click", [this] { BitBtn7Click(); });
    on(BitBtn8, &QPushButton::clicked, "BitBtn8Click", [this] { BitBtn8Click(); });
    on(bbDelBL, &QPushButton::clicked, "bbDelBLClick", [this] { bbDelBLClick(); });
}

// ---- the table of settings ---------------------------------------------------------------

void TFormAsetukset::BindSettings() {
    auto fixed = [](const char *def) { return [d = std::string(def)] { return d; }; };
    auto check = [this, fixed](const char *section, const char *key, const char *def, QCheckBox *box) {
        FSettings.push_back({section, key, fixed(def), [box](const std::string &v) { box->setChecked(StrToBoolean(v)); },
                             [box] { return BooleanToStr(box->isChecked()); }});
    };
    auto spin = [this, fixed](const char *section, const char *key, const char *def, QSpinBox *spin) {
        int d = StrToInt(def);
        FSettings.push_back({section, key, fixed(def),
                             [spin, d](const std::string &v) {
                                 int64_t n = StrToInt64Def(Trim(v), d);
                                 spin->setValue(int(std::clamp<int64_t>(n, spin->minimum(), spin->maximum())));
                             },
                             [spin] { return IntToStr(spin->value()); }});
    };
    auto edit = [this, fixed](const char *section, const char *key, const char *def, TRawEdit *edit) {
        FSettings.push_back({section, key, fixed(def), [edit](const std::string &v) { edit->SetRaw(v); },
                             [edit] { return edit->Raw(); }});
    };
    auto font = [this, fixed](const char *key, const char *def, TFont *font) {
        FSettings.push_back({"MessReader", key, fixed(def),
                             [this, font, def](const std::string &v) {
                                 *font = TFont();
                                 StrToFont(def, *font);
                                 StrToFont(v, *font);
                                 SetSampleFont();
                             },
                             [font] { return FontToStr(*font); }});
    };
    check("Options", "ShowMessage", "True", cbShowMwssage);
    spin("Options", "DelayTime", "3", SpinEdit3);
    // CheckTime: a value above 120 was stored by an old release in another
    // unit and is shown divided by 100000.
    FSettings.push_back({"Options", "CheckTime", fixed("10"),
                         [this](const std::string &v) {
                             const int n = CheckTimeUnits(StrToInt64Def(Trim(v), 10));
                             SpinEdit1->setValue(std::clamp(n, SpinEdit1->minimum(), SpinEdit1->maximum()));
                         },
                         [this] { return IntToStr(SpinEdit1->value()); }});
    check("Options", "CheckConnect", "False", cbCheckNet);
    check("Options", "SafeMem", "True", cbSafeMemory);
    check("Options", "CheckOnStart", "False", CheckBox1);
    // With nothing stored each box shows what the program does: the value
    // the code that acts on the key reads when the key is missing. Whether
    // the desktop starts the program is its autostart entry's say.
    FSettings.push_back({"Options", "StartOnW", [this] { return BooleanToStr(StartsWithDesktop()); },
                         [this](const std::string &v) { CheckBox6->setChecked(StrToBoolean(v)); },
                         [this] { return BooleanToStr(CheckBox6->isChecked()); }});
    check("Options", "ShowRandom", "False", cbSatunSkinVaihto);
    check("Options", "CheckSkinFenlow", "False", cbAUpdateSkin);
    check("Options", "CheckUpdates", "False", CheckBox8);
    check("Options", "AutoUpdate", "False", CheckBox10);
    // The alert takes any true value here ("true", "1"), and so does the box.
    FSettings.push_back({"Options", "PlaySound", fixed("False"),
                         [this](const std::string &v) { cbPlaySound->setChecked(StrToBoolDef(Trim(v), false)); },
                         [this] { return BooleanToStr(cbPlaySound->isChecked()); }});
    // The sound the alert plays when nothing was chosen: OK writes what the
    // box shows, so the box shows what would play.
    FSettings.push_back({"Options", "SoundFile", [] { return DefaultSoundFile(); },
                         [this](const std::string &v) { labSoundFile->SetRaw(SoundFileSetting(v)); },
                         [this] { return labSoundFile->Raw(); }});
    check("Options", "Beep", "False", cbBeep);
    check("Options", "Blink", "False", cbBlink);
    spin("Options", "BlinkTimes", "3", seBeepTime);
    check("Options", "RunProg", "False", cbRunProg);
    edit("Options", "ProgFile", "", labRunProg);
    labRunProg->setPlaceholderText("...");
    check("Options", "RunMailClient", "False", cbRunEmailCl);
    check("Options", "ShowBallTip", "False", cbShowBTip);
    check("Options", "DefBTip", "False", cbDefBTip);
    spin("Options", "BTipSTime", "10", ttshowtime);
    check("Options", "TurnMonOn", "True", cbTurnMonOn);
    check("Options", "DisScreen", "True", cbDisSccreen);
    check("Options", "UseScrSav", "True", cbEarScr);
    spin("Options", "LogValue", "30", SpinEdit2);
    check("Options", "LogToFile", "True", cbLogToFile);
    check("Options", "UseColors", "True", cbUseColors);
    check("Options", "SaveDeletedM", "True", CheckBox11);
    spin("Options", "DelMessVal", "30", SpinEdit4);
    edit("Options", "ShowingTime", "tt    dd.mm.yyyy", Edit1);
    check("MessReader", "AutoClose", "True", CheckBox12);
    spin("MessReader", "CloseTime", "3", SpinEdit5);
    font("QuotesFont", "MS Sans Serif,1,12632256,8,0", &QuotesFont);
    font("MessageFont", "MS Sans Serif,0,0,8,0", &MessageFont);
    check("MessReader", "ShowReaded", "True", cbShowReaded);
    check("MessReader", "GetBodys", "False", cbGetBodys);
}

std::vector<std::string> TFormAsetukset::SettingKeys() const {
    std::vector<std::string> keys;
    for (const auto &s : FSettings) keys.push_back(s.Section + "/" + s.Key);
    return keys;
}

std::vector<std::pair<std::string, std::string>> TFormAsetukset::ShownSettings() const {
    std::vector<std::pair<std::string, std::string>> shown;
    for (const auto &s : FSettings) shown.push_back({s.Section + "/" + s.Key, s.Save()});
    return shown;
}

std::vector<std::string> TFormAsetukset::CaptionKeys() const {
    std::vector<std::string> keys = {"Options/Message options", "Options/Other options", "Options/Options",
                                     "About/Language", "About/Version", "About/Author", "About/AuthorEmail"};
    for (const auto &c : FCaptions) keys.push_back(c.Section + "/" + c.Key);
    return keys;
}

void TFormAsetukset::LoadSettingControls() {
    const std::string file = SettingsFilePath();
    for (const auto &s : FSettings) {
        std::string v;
        try {
            v = IniReadString(file, s.Section, s.Key, s.Default());
        } catch (const Exception &) {
            v = s.Default();  // an unreadable file shows every default
        }
        s.Load(v);
    }
}

void TFormAsetukset::WriteSettingControls() {
    // One replacement of the file for all keys (every other line stays): a
    // crash leaves either all of them or none, and OK does not wait for
    // dozens of writes to reach the disk.
    TMemIniFile ini(SettingsFilePath(), 0600);
    for (const auto &s : FSettings) ini.WriteString(s.Section, s.Key, s.Save());
    ini.UpdateFile();
}

// ---- the tree --------------------------------------------------------------------------------

int TFormAsetukset::PageOfNode(int AbsoluteIndex, int N) {
    if (AbsoluteIndex <= 0) return pgAccountList;
    if (AbsoluteIndex <= N) return pgAccount;
    return AbsoluteIndex - N + 1;
}

QTreeWidgetItem *TFormAsetukset::NodeAt(int AbsoluteIndex) const {
    int k = 0;
    for (QTreeWidgetItemIterator it(TreeView1); *it; ++it, ++k)
        if (k == AbsoluteIndex) return *it;
    return nullptr;
}

int TFormAsetukset::AbsoluteIndex(QTreeWidgetItem *Node) const {
    int k = 0;
    for (QTreeWidgetItemIterator it(TreeView1); *it; ++it, ++k)
        if (*it == Node) return k;
    return -1;
}

void TFormAsetukset::SelectNode(QTreeWidgetItem *Node) {
    if (Node) TreeView1->setCurrentItem(Node);
}

void TFormAsetukset::SelectFirstPage() {
    FWantedPage = mpFirst;
    if (FShowing) SelectNode(FRoot);
}

void TFormAsetukset::SelectAboutPage() {
    FWantedPage = mpAbout;
    if (FShowing) SelectNode(FFixedNodes[5]);
}

void TFormAsetukset::SelectLogPage() {
    FWantedPage = mpLog;
    if (FShowing) SelectNode(FFixedNodes[6]);
}

void TFormAsetukset::ShowFromMenu(TMenuPage Page) {
    if (Page == mpAbout) SelectAboutPage();
    else if (Page == mpLog) SelectLogPage();
    else SelectFirstPage();
    if (!isVisible()) {
        QScreen *screen = QGuiApplication::primaryScreen();
        int right = FrmMain ? FrmMain->ScreenWidth() : (screen ? screen->geometry().width() : 1024);
        int bottom = FrmMain ? FrmMain->State.WorkAreaBottom : 0;
        if (bottom <= 0 && screen) bottom = screen->availableGeometry().bottom() + 1;
        // A low screen (a netbook's 600 lines) gets a lower dialog, so OK
        // and Cancel stay above the taskbar.
        if (screen) {
            QSize fit = FitWindowSize(size(), minimumSizeHint(), screen->availableGeometry());
            if (fit != size()) resize(fit);
        }
        auto place = [&](QSize size) {
            move(std::max(0, right - size.width() - 3), std::max(0, bottom - size.height() - 3));
        };
        place(ExpectedFrameSize(*this));
        show();
        // Showing fills the pages (a long account name widens the tree), and
        // the frame's size may be known only now.
        place(ExpectedFrameSize(*this));
    }
    raise();
    activateWindow();
}

void TFormAsetukset::TreeView1Change(QTreeWidgetItem *Node, QTreeWidgetItem *Previous) {
    if (!Node) return;
    // Edits of the account page are kept whatever node comes next.
    if (ShownAccount >= 0 && ShownAccount <= LastWorkingIndex() && !StoreAccount(ShownAccount)) {
        QSignalBlocker block(TreeView1);
        TreeView1->setCurrentItem(Previous);
        return;
    }
    int index = AbsoluteIndex(Node);
    if (Node->parent()) {
        ShownAccount = index - 1;
        if (ShownAccount >= 0 && ShownAccount <= LastWorkingIndex() &&
            cbNotRead->isChecked() != Work[size_t(ShownAccount)].Protected)
            cbNotReadTag = -1;
    } else {
        ShownAccount = -1;
    }
    Label23->setText("   " + Node->text(0));
    PageControl1->setCurrentIndex(PageOfNode(index, int(Work.size())));
    if (ShownAccount >= 0 && ShownAccount <= LastWorkingIndex()) ShowAccount(ShownAccount);
}

// ---- showing ---------------------------------------------------------------------------------

void TFormAsetukset::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (FShowing || event->spontaneous()) return;
    FShowing = true;
    Safe("FormShow", [this] { FormShow(); });
}

void TFormAsetukset::FormShow() {
    FBuilding = true;
    ShownAccount = -1;
    Work.clear();
    qDeleteAll(FRoot->takeChildren());
    lbAccounts->clear();
    if (FrmMain) {
        TAccountArray &main = FrmMain->State.Accounts;
        for (int i = 0; i < main.Count(); ++i) {
            try {
                NewWorkingAccount();
                Tiedot &w = Work.back();
                w = main[i];
                auto *node = new QTreeWidgetItem(FRoot, QStringList(ShownText(w.Name)));
                (void)node;
                lbAccounts->AddLine(w.Name, w.Enabled);
            } catch (const std::exception &e) {
                FrmMain->ReportEvent(std::string("Error: #1002 ") + e.what(), 0, 6, TEventReporter::clRed);
            }
        }
    }
    TreeView1->expandAll();
    FBuilding = false;

    LoadSettingControls();
    if (FrmMain) {
        const TMainOptions &o = FrmMain->State.Options;
        CheckBox3->setChecked(o.ViewSendFrom);
        CheckBox4->setChecked(o.AnimGetMails);
        CheckBox5->setChecked(o.AnimNewMails);
        CheckBox7->setChecked(o.AnimError);
        CheckBox9->setChecked(o.AnimUpdating);
        cbShowDown->setChecked(o.ShowOnDown);
    }
    for (QObject *box : {static_cast<QObject *>(cbShowMwssage), static_cast<QObject *>(cbSatunSkinVaihto),
                         static_cast<QObject *>(cbShowDown), static_cast<QObject *>(cbPlaySound),
                         static_cast<QObject *>(cbRunProg), static_cast<QObject *>(CheckBox12)})
        cbShowTopClick(box);
    CheckBox3Click();
    cbRunEmailClClick();
    ComboBox1->setEditText("");
    lbVersion->setText(QString("v. ") + TarnwickVersion);

    ListLanguageFiles();
    ListSkinFolders();
    ListRuleFiles();
    LoadHostPresets();
    ApplyOptionsLanguage(LanguageFilePath());
    std::string skin = FrmMain ? FrmMain->State.Options.Skin : std::string("Default");
    ShowSkinInfo(skin);
    RememberedSkin = skin;

    Timer1->SetEnabled(true);
    Timer1Timer();
    QTreeWidgetItem *node = FRoot;
    if (FWantedPage == mpAbout) node = FFixedNodes[5];
    else if (FWantedPage == mpLog) node = FFixedNodes[6];
    {
        QSignalBlocker block(TreeView1);
        TreeView1->setCurrentItem(node);
    }
    TreeView1Change(node, nullptr);
    if (PageControl1->currentIndex() == pgLog) TabSheet6Show();
}

void TFormAsetukset::Timer1Timer() {
    double left = FrmMain ? FrmMain->State.Options.NextCheck - Now() : 0;
    if (left <= 0) {
        Label25->setText("00:00:00");
        return;
    }
    int64_t seconds = int64_t(std::llround(left * 86400.0));
    Label25->setText(QString::fromStdString(Format("%02lld:%02lld:%02lld", (long long)(seconds / 3600),
                                                   (long long)(seconds / 60 % 60), (long long)(seconds % 60))));
}

// ---- OK, Cancel and closing -------------------------------------------------------------------

namespace {

// Step 10 of OK: the tray shows that new mail waits.
void ShowNewMailTray() {
    if (!FrmMain) return;
    TTrayIcon *tray = FrmMain->TrayIcon1;
    if (FrmMain->State.Options.AnimNewMails) {
        tray->SetIconList(FrmMain->ImageList2);
        tray->SetCycleInterval(200);
        tray->SetCycleIcons(true);
    } else {
        tray->SetCycleIcons(false);
        QIcon icon;
        if (FrmMain->ImageList1->GetIcon(0, icon)) tray->SetIcon(icon);
    }
}

void ShowStaticTray() {
    if (!FrmMain) return;
    TTrayIcon *tray = FrmMain->TrayIcon1;
    tray->SetCycleIcons(false);
    QIcon icon;
    if (FrmMain->ImageList1->GetIcon(0, icon)) tray->SetIcon(icon);
}

}  // namespace

void TFormAsetukset::btOkClick() {
    // A field that cannot be stored (a port that is not a number) keeps the
    // dialog open on its page, before anything is hidden or copied.
    if (ShownAccount >= 0 && ShownAccount <= LastWorkingIndex() && !StoreAccount(ShownAccount)) return;
    hide();
    {
        QTreeWidgetItem *previous = TreeView1->currentItem();
        QSignalBlocker block(TreeView1);
        TreeView1->setCurrentItem(FRoot);
        block.unblock();
        TreeView1Change(FRoot, previous);
    }
    if (!FrmMain) {
        close();
        return;
    }
    TMainState &state = FrmMain->State;
    TAccountArray &main = state.Accounts;

    int total = 0;
    for (int i = 0; i <= LastWorkingIndex(); ++i) {
        try {
            if (i > main.LastIndex || i >= main.Count()) FrmMain->AddAccount();
            Tiedot &m = main[i];
            const Tiedot &w = Work[size_t(i)];
            m.Name = w.Name;
            m.Enabled = lbAccounts->Checked(i);
            m.Port = w.Port;
            m.Host = w.Host;
            m.UserName = w.UserName;
            m.Password = w.Password;
            m.SSL = w.SSL;
            m.NewCount = w.NewCount;
            m.OwnSkin = w.OwnSkin;
            m.OwnColor = w.OwnColor;
            m.Protected = w.Protected;
            m.Kind = w.Kind;
            m.Inbox = w.Inbox;
            m.Senders = w.Senders;
            m.Addresses = w.Addresses;
            m.Subjects = w.Subjects;
            m.Dates = w.Dates;
            m.MessageIds = w.MessageIds;
            total += m.NewCount;
        } catch (const std::exception &e) {
            FrmMain->ReportEvent(std::string("Error: #1001 ") + e.what(), 0, 6, TEventReporter::clRed);
        }
    }
    main.TotalNew = total;
    FrmMain->TrayIcon1->SetHint(FrmMain->CycleHint(total));

    if (main.Count() > int(Work.size())) {
        // The kept accounts reach the file, in one replacement, before any
        // record is erased: a program that ends in between leaves only
        // sections past Num behind, which nothing reads, instead of a file
        // that still holds a deleted account and lacks a kept one.
        try {
            TAccountArray kept = main;
            kept.Items.resize(Work.size());
            kept.LastIndex = kept.Count() - 1;
            SaveSettings(kept, state.Options, SettingsFilePath());
        } catch (const Exception &e) {
            FrmMain->ReportEvent(e.Message(), 67, 4, TEventReporter::clRed);
        }
    }
    while (main.Count() > int(Work.size())) {
        try {
            FrmMain->RemoveLastAccount();
        } catch (const Exception &e) {
            // The settings file could not be written: the record stays, and
            // so does its section, rather than losing one of the two.
            FrmMain->ReportEvent(e.Message(), 67, 4, TEventReporter::clRed);
            break;
        }
    }

    FBuilding = true;
    while (!Work.empty()) {
        delete FRoot->takeChild(FRoot->childCount() - 1);
        delete lbAccounts->takeItem(lbAccounts->count() - 1);
        DropLastWorkingAccount();
    }
    FBuilding = false;

    CheckBox6Click();
    state.Options.ShowOnDown = cbShowDown->isChecked();

    bool languageChanged = false, skinChanged = false;
    std::string language = TickedLine(CheckListBox1);
    if (!language.empty() && language != state.Options.Language) {
        state.Options.Language = language;
        SetLanguageFileName(language);
        languageChanged = true;
    }
    std::string skin = TickedLine(CheckListBox2);
    if (!skin.empty() && skin != state.Options.Skin) {
        state.Options.Skin = skin;
        skinChanged = true;
    }
    state.Options.NextCheck = Now() + SpinEdit1->value() * 0.0007;

    try {
        WriteSettingControls();
    } catch (const Exception &e) {
        FrmMain->ReportEvent(e.Message(), 67, 4, TEventReporter::clRed);
    }
    // Each rule on its own: a rule file that cannot be written (or a
    // settings file that cannot) must not keep the others running as they
    // were, such as a deleting rule the user has just switched off.
    for (int i = 0; i < ListBox1->Count(); ++i) {
        try {
            IniWriteString(ResolvePathCI(RulesFolder() + ListBox1->Line(i) + ".rul"), "Rule", "Enabled",
                           BooleanToStr(ListBox1->Checked(i)));
        } catch (const Exception &e) {
            FrmMain->ReportEvent(e.Message(), 67, 4, TEventReporter::clRed);
        }
    }
    state.Options.ViewSendFrom = CheckBox3->isChecked();
    state.Options.AnimGetMails = CheckBox4->isChecked();
    state.Options.AnimNewMails = CheckBox5->isChecked();
    state.Options.AnimError = CheckBox7->isChecked();
    state.Options.AnimUpdating = CheckBox9->isChecked();

    if (!FrmMain->Reporter.ErrorFlag && total > 0) ShowNewMailTray();

    FrmMain->SaveSettings();

    if (languageChanged) FrmMain->LoadLanguage("Lang/" + state.Options.Language);
    if (cbSatunSkinVaihto->isChecked()) FrmMain->LoadSkin(FrmMain->RandomSkin(), false);
    else if (skinChanged) FrmMain->LoadSkin(state.Options.Skin, true);
    FrmMain->ApplySkinRegion();

    if (total > 0 && !state.WindowShown) {
        FrmMain->move(FrmMain->ScreenWidth(), FrmMain->ScreenHeight());
        FrmMain->Timer2Timer();
        ShowNewMailTray();
    } else if (total < 1) {
        FrmMain->Timer2->SetEnabled(false);
        FrmMain->Timer3->SetEnabled(false);
        FrmMain->Timer4->SetEnabled(true);
        ShowStaticTray();
    }

    Timer1->SetEnabled(false);
    close();
    if (CheckRequested) {
        CheckRequested = false;
        FrmMain->Timer1Timer();
    }
}

void TFormAsetukset::btCancelClick() {
    hide();
    ShownAccount = -1;
    FBuilding = true;
    while (!Work.empty()) {
        delete FRoot->takeChild(FRoot->childCount() - 1);
        delete lbAccounts->takeItem(lbAccounts->count() - 1);
        DropLastWorkingAccount();
    }
    FBuilding = false;
    if (FrmMain && !FrmMain->Reporter.ErrorFlag && FrmMain->TrayIcon1->IconList() != FrmMain->ImageList1 &&
        FrmMain->State.Accounts.TotalNew >= 1)
        ShowNewMailTray();
    close();
}

void TFormAsetukset::FormClose() {
    // Closed by its frame: the edits go, as with Cancel.
    if (!Work.empty()) btCancelClick();
    FBuilding = true;
    ShownAccount = -1;
    lbAccounts->clear();
    ComboBox1->clear();
    cbOwnSkins->clear();
    CheckListBox1->clear();
    CheckListBox2->clear();
    ListBox1->clear();
    FBuilding = false;
    imColor->setPixmap(QPixmap());
    Image1->setPixmap(QPixmap());
    // Nobody sees the countdown until the next show starts it again.
    Timer1->SetEnabled(false);
    FShowing = false;
}

void TFormAsetukset::closeEvent(QCloseEvent *event) {
    if (!FClosing) {
        FClosing = true;
        Safe("FormClose", [this] { FormClose(); });
        FClosing = false;
    }
    event->accept();
}

void TFormAsetukset::reject() { close(); }
