#include "unShowBody.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <unordered_map>

#include "dialogs/DialogSeam.h"
#include "mainwindow/FrmMain.h"
#include "IniFile.h"
#include "settings/Kel_Reg.h"
#include "mailbox/MailboxSession.h"
#include "NetCharsets.h"
#include "NetMessage.h"
#include "settings/ProgramPaths.h"
#include "ReaderImages.h"
#include "SimpleTimer.h"
#include "settings/Tiedot.h"
#include "webmail/WebMailCalls.h"
#include "settings/unLanguage.h"
#include "unToBlackList.h"

namespace {

bool GReaderOpen = false;
// The account the reader was opened for: its password, when it has one,
// was asked for by whoever opened the reader.
int GOpenedAccount = -1;

// One check-time unit: 0.0007 day.
constexpr double kCheckUnit = 0.0007;

const char *const kChecking = "Checking in progress...";
const char *const kCannotDelete = "Cannot delete this message.";
const char *const kMessageGone = "This message is no longer on the server.";
const char *const kWebLoginFailed = "The web-mail site did not accept the log-in.";
const char *const kOtherProtected = "Another account is shown now, and it is protected.";

QString Q(const std::string &s) { return QString::fromStdString(s); }
std::string S(const QString &s) { return s.toStdString(); }

std::string ReaderSetting(const std::string &key, const std::string &def) {
    return IniReadString(SettingsFilePath(), "MessReader", key, def);
}

// Colours are stored blue-green-red.
QColor BgrColour(int c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

// A number of the settings within sane bounds; anything else is the default.
int BoundedSetting(const std::string &key, int def, int lo, int hi) {
    int v = StrToIntDef(Trim(ReaderSetting(key, IntToStr(def))), def);
    return v < lo || v > hi ? def : v;
}

QRect AvailableScreen() {
    QScreen *s = QGuiApplication::primaryScreen();
    return s ? s->availableGeometry() : QRect(0, 0, 1024, 768);
}

// The HTML importer may ask for style sheets and pictures the markup names
// (a local file, a device): a mail is never allowed to make us read one.
class TNoResourceDocument : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int, const QUrl &) override { return {}; }
};

bool IsQuoteLine(const QString &line) {
    return !line.isEmpty() && (line.startsWith(QLatin1Char('>')) || line.startsWith(QLatin1Char('&')));
}

void SplitLines(const std::string &text, TStringList &out) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        size_t stop = end;
        if (stop > start && text[stop - 1] == '\r') --stop;
        out.Add(text.substr(start, stop - start));
        start = end + 1;
    }
}

}  // namespace

// ---- files and bodies ------------------------------------------------------------

std::unordered_set<std::string> ReadHiddenMessages() {
    std::unordered_set<std::string> ids;
    std::string path = HiddenMessagesFile();
    if (!FileExists(path)) return ids;
    TStringList lines;
    SplitLines(ReadFileToString(path), lines);
    for (const std::string &l : lines)
        if (!l.empty()) ids.insert(l);
    return ids;
}

TStringList HtmlTextLines(const std::string &Html) {
    TNoResourceDocument doc;
    doc.setUndoRedoEnabled(false);
    doc.setHtml(QString::fromUtf8(Html.data(), qsizetype(Html.size())));
    QString text = doc.toPlainText();
    // Pictures and other objects leave a replacement character behind.
    text.remove(QChar(QChar::ObjectReplacementCharacter));
    TStringList lines;
    SplitLines(text.toStdString(), lines);
    // The importer keeps no trailing empty paragraph worth showing.
    while (lines.Count() > 0 && Trim(lines[lines.Count() - 1]).empty()) lines.Delete(lines.Count() - 1);
    return lines;
}

TStringList ReaderBodyLines(TNetMessage &Message, bool UseDecode, bool ClearHTML) {
    // The part to show: plain text first, as a text reader would, else the
    // first text part of any kind; attachments never.
    const TNetText *chosen = nullptr;
    const TNetText *firstText = nullptr;
    for (int i = 0; i < Message.Parts.Count(); ++i) {
        TNetMessagePart &part = Message.Parts[i];
        if (part.PartKind() != pkText) continue;
        if (SameText(Trim(part.ContentDisposition), "attachment")) continue;
        auto *text = static_cast<const TNetText *>(&part);
        if (!firstText) firstText = text;
        std::string type = LowerCase(Trim(text->ContentType()));
        if (type.empty() || type == "text/plain") {
            chosen = text;
            break;
        }
    }
    if (!chosen) chosen = firstText;

    std::string bytes, charset, type;
    if (chosen && !Trim(chosen->Body.Text()).empty()) {
        bytes = chosen->Body.Text();
        charset = chosen->CharSet.empty() ? Message.CharSet : chosen->CharSet;
        type = LowerCase(chosen->ContentType());
    } else {
        bytes = Message.Body.Text();
        charset = Message.CharSet;
        type = LowerCase(Message.ContentType);
    }
    // Character-set names are compared without regard to case; without
    // decoding the bytes are shown as they are (UTF-8 where they are valid
    // UTF-8, one Windows-1252 character a byte elsewhere).
    std::string text = CharsetToUTF8(bytes, UseDecode ? charset : std::string());

    TStringList lines;
    std::string messageType = LowerCase(Message.ContentType);
    bool html = Contains(type, "text/html") ||
                (!chosen && (Contains(messageType, "text/html") || Contains(messageType, "multipart/related")));
    if (ClearHTML && html) return HtmlTextLines(text);
    SplitLines(text, lines);
    return lines;
}

// ---- the window ---------------------------------------------------------------------

TfrmMessBody::TfrmMessBody(QWidget *owner) : QDialog(owner) {
    setObjectName("frmMessBody");
    setWindowTitle("Tarnwick - Message reader.");
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    resize(893, 637);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    Splitter1 = new QSplitter(Qt::Vertical, this);
    Splitter1->setObjectName("Splitter1");
    Splitter1->setChildrenCollapsible(false);
    outer->addWidget(Splitter1);

    // ---- Panel1: toolbar, account name, list
    Panel1 = new QWidget(Splitter1);
    Panel1->setObjectName("Panel1");
    auto *p1 = new QVBoxLayout(Panel1);
    p1->setContentsMargins(2, 2, 2, 0);
    p1->setSpacing(2);
    auto *top = new QHBoxLayout;
    top->setSpacing(6);
    ToolBar1 = new QToolBar(Panel1);
    ToolBar1->setObjectName("ToolBar1");
    ToolBar1->setIconSize(QSize(40, 40));
    ToolBar1->setFloatable(false);
    ToolBar1->setMovable(false);
    auto button = [this](const char *name, const char *hint, int image) {
        auto *b = new QToolButton(ToolBar1);
        b->setObjectName(name);
        b->setToolTip(hint);
        b->setIcon(ReaderToolImage(image));
        b->setIconSize(QSize(40, 40));
        b->setAutoRaise(true);
        ToolBar1->addWidget(b);
        return b;
    };
    ToolButton1 = button("ToolButton1", "Reload messages", 0);
    ToolBar1->addSeparator();
    ToolButton4 = button("ToolButton4", "Delete message", 1);
    ToolButton8 = button("ToolButton8", "Add to black list", 2);
    ToolButton2 = button("ToolButton2", "Hide message from Tarnwick", 5);
    ToolBar1->addSeparator();
    ToolButton5 = button("ToolButton5", "Get WEB message body", 3);
    top->addWidget(ToolBar1);
    Label5 = new QLabel(Panel1);
    Label5->setObjectName("Label5");
    Label5->setTextFormat(Qt::PlainText);
    Label5->setAlignment(Qt::AlignCenter);
    QFont f5 = Label5->font();
    f5.setBold(true);
    f5.setPixelSize(16);
    Label5->setFont(f5);
    top->addWidget(Label5, 1);
    p1->addLayout(top);

    MailList = new QTreeWidget(Panel1);
    MailList->setObjectName("MailList");
    MailList->setColumnCount(4);
    MailList->setHeaderLabels({"From", "Subject", "Date", "Size"});
    MailList->setRootIsDecorated(false);
    MailList->setUniformRowHeights(true);
    MailList->setSelectionMode(QAbstractItemView::SingleSelection);
    MailList->setSelectionBehavior(QAbstractItemView::SelectRows);
    MailList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    MailList->setIconSize(QSize(16, 16));
    MailList->setAllColumnsShowFocus(true);
    MailList->header()->setStretchLastSection(false);
    MailList->setColumnWidth(0, 300);
    MailList->setColumnWidth(1, 300);
    MailList->setColumnWidth(2, 80);
    MailList->setColumnWidth(3, 60);
    p1->addWidget(MailList, 1);

    // ---- Panel2: sender and subject, body, bottom bar
    Panel2 = new QWidget(Splitter1);
    Panel2->setObjectName("Panel2");
    auto *p2 = new QVBoxLayout(Panel2);
    p2->setContentsMargins(2, 0, 2, 2);
    p2->setSpacing(2);
    Panel3 = new QWidget(Panel2);
    Panel3->setObjectName("Panel3");
    auto *g = new QGridLayout(Panel3);
    g->setContentsMargins(6, 4, 6, 4);
    g->setHorizontalSpacing(8);
    g->setVerticalSpacing(2);
    auto caption = [this](const char *name, const char *text) {
        auto *l = new QLabel(text, Panel3);
        l->setObjectName(name);
        l->setTextFormat(Qt::PlainText);
        QFont f = l->font();
        f.setUnderline(true);
        l->setFont(f);
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, Qt::blue);
        l->setPalette(pal);
        return l;
    };
    auto value = [this](const char *name) {
        auto *l = new QLabel(Panel3);
        l->setObjectName(name);
        l->setTextFormat(Qt::PlainText);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
        l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        return l;
    };
    Label1 = caption("Label1", "From:");
    Label2 = caption("Label2", "Subject:");
    Label3 = value("Label3");
    Label4 = value("Label4");
    g->addWidget(Label1, 0, 0);
    g->addWidget(Label3, 0, 1);
    g->addWidget(Label2, 1, 0);
    g->addWidget(Label4, 1, 1);
    g->setColumnStretch(1, 1);
    p2->addWidget(Panel3);

    RichEdit1 = new QTextEdit(Panel2);
    RichEdit1->setObjectName("RichEdit1");
    RichEdit1->setReadOnly(true);
    RichEdit1->setAcceptRichText(false);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setUndoRedoEnabled(false);
    p2->addWidget(RichEdit1, 1);

    Panel4 = new QWidget(Panel2);
    Panel4->setObjectName("Panel4");
    auto *p4 = new QHBoxLayout(Panel4);
    p4->setContentsMargins(0, 2, 0, 0);
    p4->setSpacing(6);
    StatusBar1 = new QWidget(Panel4);
    StatusBar1->setObjectName("StatusBar1");
    auto *sb = new QHBoxLayout(StatusBar1);
    sb->setContentsMargins(0, 0, 0, 0);
    sb->setSpacing(2);
    for (int i = 0; i < 2; ++i) {
        StatusPanels[i] = new QLabel(StatusBar1);
        StatusPanels[i]->setObjectName(i == 0 ? "StatusPanel0" : "StatusPanel1");
        StatusPanels[i]->setTextFormat(Qt::PlainText);
        StatusPanels[i]->setFrameShape(QFrame::StyledPanel);
        StatusPanels[i]->setFrameShadow(QFrame::Sunken);
        StatusPanels[i]->setMinimumHeight(22);
    }
    StatusPanels[0]->setFixedWidth(200);
    StatusPanels[1]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    sb->addWidget(StatusPanels[0]);
    sb->addWidget(StatusPanels[1], 1);
    p4->addWidget(StatusBar1, 1);
    ProgressBar1 = new QProgressBar(Panel4);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setFixedWidth(150);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->hide();
    p4->addWidget(ProgressBar1);
    BitBtn1 = new QPushButton("Close", Panel4);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setMinimumWidth(90);
    BitBtn1->setAutoDefault(false);
    p4->addWidget(BitBtn1);
    p2->addWidget(Panel4);

    Splitter1->addWidget(Panel1);
    Splitter1->addWidget(Panel2);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);

    // ---- timers
    auto timer = [this](unsigned interval, bool enabled, void (TfrmMessBody::*handler)(), const char *name) {
        auto *t = new TTimer;
        t->setParent(this);
        t->SetInterval(interval);
        t->SetOnTimer([this, handler, name](QObject *) { Guarded(name, [this, handler] { (this->*handler)(); }); });
        t->SetEnabled(enabled);
        return t;
    };
    Timer1 = timer(200, true, &TfrmMessBody::Timer1Timer, "Timer1Timer");
    Timer2 = timer(1000, false, &TfrmMessBody::Timer2Timer, "Timer2Timer");
    Timer3 = timer(500, false, &TfrmMessBody::Timer3Timer, "Timer3Timer");
    Timer3->Tag = -1;

    // ---- handlers
    connect(ToolButton1, &QToolButton::clicked, this,
            [this] { Guarded("ToolButton1Click", [this] { ToolButton1Click(ToolButton1); }); });
    connect(ToolButton4, &QToolButton::clicked, this,
            [this] { Guarded("ToolButton1Click", [this] { ToolButton1Click(ToolButton4); }); });
    connect(ToolButton2, &QToolButton::clicked, this,
            [this] { Guarded("ToolButton7Click", [this] { ToolButton7Click(); }); });
    connect(ToolButton5, &QToolButton::clicked, this,
            [this] { Guarded("ToolButton6Click", [this] { ToolButton6Click(); }); });
    connect(ToolButton8, &QToolButton::clicked, this,
            [this] { Guarded("ToolButton8Click", [this] { ToolButton8Click(); }); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { Guarded("BitBtn1Click", [this] { BitBtn1Click(); }); });
    connect(MailList, &QTreeWidget::currentItemChanged, this,
            [this] { Guarded("MailListSelectItem", [this] { MailListSelectItem(); }); });
    connect(MailList, &QTreeWidget::itemDoubleClicked, this,
            [this] { Guarded("ToolButton6Click", [this] { ToolButton6Click(); }); });

    // Every control tells of the user's presence (auto-close) and hands the
    // window its keys.
    setMouseTracking(true);
    installEventFilter(this);
    for (QWidget *w : findChildren<QWidget *>()) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }

    Guarded("FormCreate", [this] { FormCreate(); });
}

TfrmMessBody::~TfrmMessBody() {
    for (TTimer *t : {Timer1, Timer2, Timer3}) t->SetEnabled(false);
    try {
        FormDestroy();
    } catch (...) {
    }
}

void TfrmMessBody::Guarded(const char *Where, const std::function<void()> &Work) {
    try {
        Work();
    } catch (const std::exception &e) {
        Report(e);
    } catch (...) {
        Report(Exception(std::string("Unexpected error in ") + Where));
    }
}

void TfrmMessBody::Report(const std::exception &e) {
    std::string text = e.what();
    std::string first = text.substr(0, text.find_first_of("\r\n"));
    try {
        SetStatus(first);
        if (FrmMain) FrmMain->ReportEvent(Account.Name.empty() ? first : Account.Name + ": " + first, 0, 5,
                                          TEventReporter::clRed);
    } catch (...) {
    }
}

void TfrmMessBody::FormCreate() {
    PushCloseTime(true);
    Timer2->SetEnabled(StrToBoolean(ReaderSetting("AutoClose", "True")));
    StrToFont(ReaderSetting("MessageFont", "MS Sans Serif,0,0,8,0"), MessageFont);
    StrToFont(ReaderSetting("QuotesFont", "MS Sans Serif,1,12632256,8,0"), QuotesFont);
    RichEdit1->setFont(FontToQFont(MessageFont));
    QPalette pal = RichEdit1->palette();
    pal.setColor(QPalette::Text, BgrColour(MessageFont.Color));
    RichEdit1->setPalette(pal);
}

void TfrmMessBody::FormShow() {
    int defaults[] = {300, 300, 80, 60};
    // Unless the user chose a width, the dates fit their column whatever
    // the font and the date format.
    QFont bold = MailList->font();
    bold.setBold(true);
    std::string sample = FormatDateTime(
        IniReadString(SettingsFilePath(), "Options", "ShowingTime", "tt    dd.mm.yyyy"), EncodeDate(2024, 12, 28) + 0.99);
    defaults[2] = std::max(defaults[2], QFontMetrics(bold).horizontalAdvance(Q(sample)) + 16);
    for (int c = 0; c < 4; ++c)
        MailList->setColumnWidth(c, BoundedSetting(IntToStr(c) + "ColWidth", defaults[c], 0, 4000));
    int split = BoundedSetting("Splitt", 150, 60, 4000);
    int total = std::max(Splitter1->height(), height());
    split = std::min(split, std::max(60, total - 120));
    Splitter1->setSizes({split, std::max(1, total - split)});
    ApplyLanguage();
}

void TfrmMessBody::ApplyLanguage() {
    auto lang = [](const char *section, const char *key, const QString &current) {
        return Q(LangText(section, key, S(current)));
    };
    QTreeWidgetItem *h = MailList->headerItem();
    Label1->setText(lang("MainForm", "From", Label1->text()));
    h->setText(0, lang("MainForm", "From", h->text(0)));
    Label2->setText(lang("MainForm", "Subject", Label2->text()));
    h->setText(1, lang("MainForm", "Subject", h->text(1)));
    BitBtn1->setText(lang("Options", "Close", BitBtn1->text()));
    h->setText(2, lang("MessReader", "2Col", h->text(2)));
    h->setText(3, lang("MessReader", "3Col", h->text(3)));
    ToolButton1->setToolTip(lang("MessReader", "RelMess", ToolButton1->toolTip()));
    ToolButton4->setToolTip(lang("MessReader", "DelMess", ToolButton4->toolTip()));
    ToolButton8->setToolTip(lang("MessReader", "AddToBL", ToolButton8->toolTip()));
    ToolButton5->setToolTip(lang("MessReader", "GetBody", ToolButton5->toolTip()));
    ToolButton2->setToolTip(lang("MessReader", "Hide", ToolButton2->toolTip()));
}

void TfrmMessBody::FormDestroy() {
    if (FDestroyed) return;
    FDestroyed = true;
    try {
        TMemIniFile ini(SettingsFilePath());
        ini.WriteString("MessReader", "Top", IntToStr(y()));
        ini.WriteString("MessReader", "Left", IntToStr(x()));
        ini.WriteString("MessReader", "Height", IntToStr(height()));
        ini.WriteString("MessReader", "Width", IntToStr(width()));
        for (int c = 0; c < 4; ++c)
            ini.WriteString("MessReader", IntToStr(c) + "ColWidth", IntToStr(MailList->columnWidth(c)));
        QList<int> sizes = Splitter1->sizes();
        ini.WriteString("MessReader", "Splitt", IntToStr(sizes.isEmpty() ? 150 : sizes[0]));
        ini.UpdateFile();
    } catch (const std::exception &e) {
        Report(e);
    }
    // The site's session ends with the window, unless a cycle works there now.
    try {
        LogoutWeb();
    } catch (const std::exception &e) {
        Report(e);
    }
    Entries.clear();
}

bool TfrmMessBody::eventFilter(QObject *watched, QEvent *event) {
    switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::Wheel:
        PushCloseTime();
        break;
    case QEvent::KeyPress: {
        PushCloseTime();
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape) {
            Guarded("BitBtn1Click", [this] { BitBtn1Click(); });
            return true;
        }
        if (watched == MailList || watched == MailList->viewport()) {
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                Guarded("ToolButton6Click", [this] { ToolButton6Click(); });
                return true;
            }
            if (key->key() == Qt::Key_Delete) {
                Guarded("ToolButton1Click", [this] { ToolButton1Click(ToolButton4); });
                return true;
            }
        }
        break;
    }
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmMessBody::done(int r) {
    // Whatever closes the window stops the long loops at their next test.
    BitBtn1Tag = 1;
    for (TTimer *t : {Timer1, Timer2, Timer3}) t->SetEnabled(false);
    QDialog::done(r);
}

void TfrmMessBody::PlaceCorner(int Right, int Bottom) {
    FCorner = QPoint(Right, Bottom);
    move(Right - width(), Bottom - height());
}

void TfrmMessBody::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    // The frame is known once the window is shown: the corner is the
    // frame's, not the client area's.
    // A move can change what the frame reports, so look again once.
    for (int i = 0; i < 2 && FCorner.x() >= 0; ++i) {
        QPoint off = FCorner - (frameGeometry().bottomRight() + QPoint(1, 1));
        if (off.isNull()) break;
        move(pos() + off);
    }
}

void TfrmMessBody::PushCloseTime(bool Fresh) {
    static TDateTime lastRead = 0;
    static int minutes = 3;
    TDateTime now = Now();
    // The setting is read again at most once a second, not at every move;
    // a new window reads it whatever the last one read.
    if (Fresh || now - lastRead > 1.0 / 86400 || now < lastRead) {
        lastRead = now;
        try {
            minutes = BoundedSetting("CloseTime", 3, 1, 100000);
        } catch (...) {
            minutes = 3;
        }
    }
    CloseTime = now + minutes * kCheckUnit;
}

void TfrmMessBody::Timer2Timer() {
    if (CloseTime <= Now()) close();
}

bool TfrmMessBody::Stopping() const { return BitBtn1Tag == 1 || !FrmMain || FrmMain->ExitRequested(); }

bool TfrmMessBody::CycleInProgress() const {
    return FrmMain && (FrmMain->State.CycleRunning || FrmMain->State.CycleActive);
}

void TfrmMessBody::SetStatus(const std::string &Text) { StatusPanels[1]->setText(Q(Text)); }
std::string TfrmMessBody::Status() const { return S(StatusPanels[1]->text()); }

void TfrmMessBody::SetBusy(bool Value) {
    Busy = Value;
    for (QWidget *w : std::initializer_list<QWidget *>{MailList, ToolBar1, RichEdit1, Panel3, Panel4, StatusBar1,
                                                       ProgressBar1}) {
        if (Value) w->setCursor(Qt::WaitCursor);
        else w->unsetCursor();
    }
    ProgressBar1->setVisible(Value);
}

void TfrmMessBody::ShowProgress(int Position, int Maximum) {
    ProgressBar1->setMaximum(std::max(1, Maximum));
    ProgressBar1->setValue(std::clamp(Position, 0, std::max(1, Maximum)));
}

// ---- rows and entries -------------------------------------------------------------------

int TfrmMessBody::EntryIndex(int Row) const {
    int rows = MailList->topLevelItemCount();
    if (Row < 0 || Row >= rows) return -1;
    int k = Account.Kind == ckHTTP ? Row : rows - 1 - Row;
    return k >= 0 && k < int(Entries.size()) ? k : -1;
}

int TfrmMessBody::RowOfEntry(int Index) const {
    int rows = MailList->topLevelItemCount();
    if (Index < 0 || Index >= rows) return -1;
    return Account.Kind == ckHTTP ? Index : rows - 1 - Index;
}

int TfrmMessBody::SelectedRow() const {
    QTreeWidgetItem *i = MailList->currentItem();
    return i ? MailList->indexOfTopLevelItem(i) : -1;
}

void TfrmMessBody::SelectRow(int Row) {
    QTreeWidgetItem *i = MailList->topLevelItem(Row);
    if (!i) return;
    MailList->setCurrentItem(i);
    MailList->scrollToItem(i);
}

void TfrmMessBody::StyleRow(QTreeWidgetItem &Item, const TReaderEntry &Entry) const {
    bool hidden = !Entry.MessageId.empty() && Hidden.count(Entry.MessageId) > 0;
    Item.setIcon(0, ReaderRowImage(hidden ? 1 : 0));
    QFont f = MailList->font();
    f.setBold(Entry.Read == 0);
    for (int c = 0; c < 4; ++c) Item.setFont(c, f);
}

void TfrmMessBody::UpdateRow(int Row) {
    QTreeWidgetItem *item = MailList->topLevelItem(Row);
    int k = EntryIndex(Row);
    if (!item || k < 0) return;
    StyleRow(*item, Entries[size_t(k)]);
}

void TfrmMessBody::FlushRows() {
    if (FPendingRows.empty()) return;
    QList<QTreeWidgetItem *> items;
    items.reserve(qsizetype(FPendingRows.size()));
    // Newest first at the top; web-mail rows keep the server's order.
    if (Account.Kind == ckHTTP) {
        for (QTreeWidgetItem *i : FPendingRows) items.append(i);
        MailList->addTopLevelItems(items);
    } else {
        for (auto i = FPendingRows.rbegin(); i != FPendingRows.rend(); ++i) items.append(*i);
        MailList->insertTopLevelItems(0, items);
    }
    FPendingRows.clear();
}

void TfrmMessBody::ClearBodyView() {
    RichEdit1->clear();
    Label3->clear();
    Label4->clear();
}

void TfrmMessBody::MailListSelectItem() {
    int row = SelectedRow();
    int k = EntryIndex(row);
    if (k < 0) return;
    const TReaderEntry &e = Entries[size_t(k)];
    ShowBody(k);
    Label3->setText(Q(e.Sender));
    Label4->setText(Q(e.Subject));
    bool hidden = !e.MessageId.empty() && Hidden.count(e.MessageId) > 0;
    ToolButton2Tag = hidden ? 1 : 0;
    ToolButton2->setIcon(ReaderToolImage(hidden ? 4 : 5));
    ToolButton2->setToolTip(Q(hidden ? LangText("MessReader", "UnHide", "Show message in Tarnwick")
                                     : LangText("MessReader", "Hide", "Hide message from Tarnwick")));
    // A message without an identifier cannot be told from another one.
    ToolButton2->setEnabled(!e.MessageId.empty());
}

void TfrmMessBody::ShowBody(int EntryIndex) {
    RichEdit1->clear();
    if (EntryIndex < 0 || EntryIndex >= int(Entries.size())) return;
    RichEdit1->setPlainText(Q(Entries[size_t(EntryIndex)].Body.Text()));
    ColourQuotes();
}

void TfrmMessBody::ColourQuotes() {
    QStringList lines = RichEdit1->toPlainText().split(QLatin1Char('\n'));
    // setPlainText of CR LF text leaves the CRs at the line ends.
    for (QString &l : lines)
        if (l.endsWith(QLatin1Char('\r'))) l.chop(1);
    while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    RichEdit1->clear();
    QTextCharFormat base;
    base.setFont(FontToQFont(MessageFont));
    base.setForeground(BgrColour(MessageFont.Color));
    QTextCharFormat quote = base;
    quote.setForeground(BgrColour(QuotesFont.Color));
    quote.setFontPointSize(QuotesFont.Size > 0 ? QuotesFont.Size : MessageFont.Size);
    QTextCursor c(RichEdit1->document());
    c.beginEditBlock();
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0) c.insertBlock();
        c.insertText(lines[i], IsQuoteLine(lines[i]) ? quote : base);
    }
    c.endEditBlock();
    RichEdit1->moveCursor(QTextCursor::Start);
}

// ---- server work ------------------------------------------------------------------------

TMailboxAccount TfrmMessBody::SessionAccount() const {
    TMailboxAccount a = Account;
    a.AllWebMessages = StrToBoolean(ReaderSetting("ShowReaded", "True"));
    // The site's log-in lasts until the window closes.
    a.KeepWebLogin = true;
    return a;
}

std::unique_ptr<TMailboxSession> TfrmMessBody::CreateSession() const {
    auto session = TMailboxSession::Create(FrmMain->MailboxClients(), SessionAccount());
    if (!session) throw Exception(WebMailUnavailableText);
    return session;
}

bool TfrmMessBody::CloseSession(TMailboxSession &Session, bool Undo, int ErrorNumber) {
    try {
        Session.Close(Undo);
        return true;
    } catch (const std::exception &) {
        if (ErrorNumber > 0 && FrmMain)
            FrmMain->ReportEvent("Error: #" + IntToStr(ErrorNumber), 0, 5, TEventReporter::clRed);
        return false;
    }
}

TMailboxItem TfrmMessBody::ListedItem(const TReaderEntry &Entry) const {
    TMailboxItem item;
    item.Number = Entry.Number;
    item.Uid = Entry.Uid;
    item.Size = Entry.Size;
    item.MessageId = Entry.MessageId;
    return item;
}

void TfrmMessBody::AddEntry(const TMailboxItem &Item, TNetMessage &Message,
                            std::unordered_map<std::string, TReaderEntry> &Before) {
    TReaderEntry e;
    e.Number = Item.Number;
    e.Sender = Message.From().Text();
    e.Address = Message.From().Address;
    e.Subject = Message.Subject;
    if (!e.Subject.empty() && e.Subject[0] == '=') e.Subject = StripQPrefix(e.Subject);
    e.MessageId = Message.MessageId();
    e.Uid = Item.Uid;
    e.Size = Item.Size;
    if (Account.Kind != ckPOP3) e.Read = Item.Seen ? 1 : 0;
    auto old = e.MessageId.empty() ? Before.end() : Before.find(e.MessageId);
    if (old != Before.end()) {
        if (Account.Kind == ckPOP3) e.Read = old->second.Read;
        e.Body = old->second.Body;
    }
    auto *item = new QTreeWidgetItem;
    item->setText(0, Q(e.Sender));
    item->setText(1, Q(e.Subject));
    item->setText(2, Message.Date == 0 ? QString() : Q(FormatDateTime(FDateFormat, Message.Date)));
    item->setText(3, Item.Size >= 0 ? Q(IntToStr(Item.Size)) : QString());
    item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
    StyleRow(*item, e);
    Entries.push_back(std::move(e));
    FPendingRows.push_back(item);
}

// A load takes whatever account the main window shows at that moment, and
// a cycle or the browsing may have moved it on since the reader opened: a
// protected account is listed only when the reader was opened for it.
bool TfrmMessBody::MayLoadShownAccount() {
    if (!FrmMain) return true;
    const TAccountArray &accounts = FrmMain->State.Accounts;
    int index = accounts.ShownIndex;
    if (index == GOpenedAccount || index < 0 || index >= accounts.Count() || !accounts[index].Protected)
        return true;
    Timer1->SetEnabled(false);
    SetStatus(kOtherProtected);
    return false;
}

void TfrmMessBody::Timer1Timer() {
    if (MayLoadShownAccount()) LoadList();
}

void TfrmMessBody::ToolButton1Click(QObject *Sender) {
    if (Sender == ToolButton4) DeleteSelected();
    else if (MayLoadShownAccount()) LoadList();
}

void TfrmMessBody::LoadList() {
    if (CycleInProgress()) {
        SetStatus(kChecking);
        Timer1->SetEnabled(true);
        return;
    }
    SetStatus("");
    Timer1->SetEnabled(false);
    if (Busy || !FrmMain) return;
    TAccountArray &accounts = FrmMain->State.Accounts;
    int index = accounts.ShownIndex;
    if (index < 0 || index >= accounts.Count()) return;
    SetBusy(true);
    // However the load ends, even before the server is reached (an
    // unreadable file), the window is usable again afterwards.
    struct TBusyEnd {
        TfrmMessBody *F;
        ~TBusyEnd() { F->SetBusy(false); }
    } busyEnd{this};
    const Tiedot &t = accounts[index];
    Account = TReaderAccount{MailboxAccountOf(t), index};
    Label5->setText(Q(Account.Name));
    if (Account.Host.empty()) return;
    Timer3->SetEnabled(false);
    Timer3->Tag = -1;

    // What this window learnt of a message before (its body, that it was
    // read) stays with the message, found again by its identifier.
    std::unordered_map<std::string, TReaderEntry> before;
    for (TReaderEntry &e : Entries)
        if (!e.MessageId.empty()) before.emplace(e.MessageId, std::move(e));
    Entries.clear();
    MailList->clear();
    ClearBodyView();
    Hidden = ReadHiddenMessages();
    ShowProgress(1, 30);

    // Every message with its header and size, as the cycle reads them; a
    // message whose header cannot be fetched is left out.
    FDateFormat = IniReadString(SettingsFilePath(), "Options", "ShowingTime", "tt    dd.mm.yyyy");
    std::exception_ptr failure;
    try {
        auto session = CreateSession();
        try {
            const int count = session->Open();
            ShowProgress(1, count);
            QElapsedTimer pump;
            pump.start();
            TMailboxWalk walk;
            walk.WithSizes = true;
            walk.WithUids = true;
            walk.Stopping = [this] { return Stopping(); };
            walk.Arrived = [&](TMailboxItem &item, TNetMessage &m) {
                AddEntry(item, m, before);
                // The window gets its events every few milliseconds, not
                // after every message (each visit lays the list out anew).
                if (pump.elapsed() >= 25 || item.Number == count) {
                    FlushRows();
                    ShowProgress(item.Number, count);
                    FrmMain->ProcessMessages();
                    pump.restart();
                }
                return mvKeep;
            };
            walk.Handle = [](TMailboxItem &) {};
            session->Walk(count, walk);
        } catch (const EMailboxLoginFailed &) {
            if (!Stopping()) SetStatus(kWebLoginFailed);
        } catch (...) {
            failure = std::current_exception();
        }
        CloseSession(*session, true, 6051);
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    FlushRows();
    if (MailList->topLevelItemCount() > 0) {
        SelectRow(0);
        MailList->setFocus();
    } else {
        ClearBodyView();
    }
    ShowProgress(10, 10);
    SetBusy(false);
    if (failure) std::rethrow_exception(failure);
    if (!Stopping() && StrToBoolean(ReaderSetting("GetBodys", "False"))) {
        Timer3->Tag = -1;
        Timer3->SetEnabled(true);
    }
}

bool TfrmMessBody::DeleteOnServer(int EntryIndex) {
    if (CycleInProgress()) {
        SetStatus(kChecking);
        return false;
    }
    if (EntryIndex < 0 || EntryIndex >= int(Entries.size())) return false;
    const TReaderEntry e = Entries[size_t(EntryIndex)];
    // Without an identifier the fresh look proves nothing: two messages
    // without one would compare equal.
    if (e.MessageId.empty()) {
        SetStatus(kCannotDelete);
        return false;
    }
    bool result = false;
    std::exception_ptr failure;
    auto session = CreateSession();
    const TMailboxItem item = ListedItem(e);
    try {
        session->Resume();
        if (!Stopping()) {
            result = session->DeleteMessage(item);
            if (!result && !Stopping()) SetStatus(kCannotDelete);
        }
    } catch (const EMailboxLoginFailed &) {
        if (!Stopping()) SetStatus(kWebLoginFailed);
    } catch (...) {
        failure = std::current_exception();
    }
    CloseSession(*session, false, 6054);
    // A POP3 deletion happens at QUIT: only a QUIT answered +OK made it.
    if (result && session->DeletionOutcome(item) != doFinal) {
        result = false;
        if (!failure) SetStatus(kCannotDelete);
    }
    if (failure) std::rethrow_exception(failure);
    return result;
}

void TfrmMessBody::DeleteSelected() {
    int row = SelectedRow();
    if (Busy || EntryIndex(row) < 0) return;
    bool next = false;
    {
        SetBusy(true);
        struct TBusyEnd {
            TfrmMessBody *F;
            ~TBusyEnd() {
                F->ShowProgress(5, 5);
                F->SetBusy(false);
            }
        } busyEnd{this};
        ShowProgress(1, 5);
        int k = EntryIndex(row);
        if (!DeleteOnServer(k)) return;
        ShowProgress(4, 5);
        try {
            const int number = Entries[size_t(k)].Number;
            Entries.erase(Entries.begin() + k);
            // The server numbers the later messages one lower now (POP3 after
            // its QUIT, IMAP4 after the expunge, a web-mail list at once).
            for (TReaderEntry &e : Entries)
                if (number > 0 && e.Number > number) --e.Number;
        } catch (...) {
            FrmMain->ReportEvent("Error: #6055", 0, 5, TEventReporter::clRed);
            return;
        }
        MailListTag = row;
        delete MailList->takeTopLevelItem(row);
        int rows = MailList->topLevelItemCount();
        if (rows == 0) {
            ClearBodyView();
            return;
        }
        int at = MailListTag < rows ? MailListTag : rows - 1;
        SelectRow(at < 0 ? 0 : at);
        MailListSelectItem();
        next = true;
    }
    // The row that took its place shows its body as the body button shows it.
    if (next) ToolButton6Click();
}

bool TfrmMessBody::HideMessage(const std::string &MessageId) {
    if (MessageId.empty()) return false;
    std::string path = HiddenMessagesFile();
    TStringList lines;
    if (FileExists(path)) SplitLines(ReadFileToString(path), lines);
    if (lines.IndexOf(MessageId) >= 0) return false;
    lines.Add(MessageId);
    std::string text;
    for (const std::string &l : lines) text += l + "\n";
    WriteFileAtomic(path, text);
    return true;
}

bool TfrmMessBody::UnhideMessage(const std::string &MessageId) {
    std::string path = HiddenMessagesFile();
    if (MessageId.empty() || !FileExists(path)) return false;
    TStringList lines;
    SplitLines(ReadFileToString(path), lines);
    int at = lines.IndexOf(MessageId);
    if (at < 0) return false;
    lines.Delete(at);
    std::string text;
    for (const std::string &l : lines) text += l + "\n";
    WriteFileAtomic(path, text);
    return true;
}

void TfrmMessBody::ToolButton7Click() {
    int row = SelectedRow();
    int k = EntryIndex(row);
    if (k < 0) return;
    std::string id = Entries[size_t(k)].MessageId;
    if (id.empty()) return;
    bool changed = ToolButton2Tag == 1 ? UnhideMessage(id) : HideMessage(id);
    Hidden = ReadHiddenMessages();
    (void)changed;
    // Every row of that identifier follows the file.
    for (int r = 0; r < MailList->topLevelItemCount(); ++r) {
        int e = EntryIndex(r);
        if (e >= 0 && Entries[size_t(e)].MessageId == id) UpdateRow(r);
    }
    MailListSelectItem();
}

void TfrmMessBody::ToolButton8Click() {
    if (Busy || AddSenderDialogOpen()) return;
    int k = EntryIndex(SelectedRow());
    std::string sender;
    if (k >= 0) sender = Entries[size_t(k)].Address.empty() ? Entries[size_t(k)].Sender : Entries[size_t(k)].Address;
    int right = FrmMain ? FrmMain->ScreenWidth() : AvailableScreen().right() + 1;
    int bottom = FrmMain && FrmMain->State.WorkAreaBottom > 0 ? FrmMain->State.WorkAreaBottom
                                                              : AvailableScreen().bottom() + 1;
    ShowAddSenderToRule(right, bottom, sender);
}

void TfrmMessBody::BitBtn1Click() {
    BitBtn1Tag = 1;
    close();
}

void TfrmMessBody::ToolButton6Click() {
    if (CycleInProgress()) {
        SetStatus(kChecking);
        return;
    }
    int row = SelectedRow();
    int k = EntryIndex(row);
    if (k < 0 || Busy) return;
    if (FetchBody(k) && SelectedRow() == row) ShowBody(k);
    MailList->setFocus();
}

bool TfrmMessBody::FetchBody(int EntryIndex) {
    if (Busy || EntryIndex < 0 || EntryIndex >= int(Entries.size())) return false;
    // The clients belong to a running cycle (a background fetch asks too).
    if (CycleInProgress()) {
        SetStatus(kChecking);
        return false;
    }
    SetBusy(true);
    ShowProgress(1, 3);
    bool ok = false;
    std::exception_ptr failure;
    try {
        auto session = CreateSession();
        try {
            session->Resume();
            ShowProgress(2, 3);
            const TReaderEntry e = Entries[size_t(EntryIndex)];
            auto msg = NetCreateNoOwner<TNetMessage>();
            if (Stopping()) {
                // closing: nothing is fetched
            } else if (session->ReadMessage(ListedItem(e), *msg) && EntryIndex < int(Entries.size()) &&
                       Entries[size_t(EntryIndex)].MessageId == e.MessageId) {
                ExtractBody(*msg, EntryIndex);
                Entries[size_t(EntryIndex)].Read = 1;
                ok = true;
            } else if (!Stopping()) {
                SetStatus(kMessageGone);
            }
        } catch (const EMailboxLoginFailed &) {
            if (!Stopping()) SetStatus(kWebLoginFailed);
        } catch (...) {
            failure = std::current_exception();
        }
        CloseSession(*session, false, 0);
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    ShowProgress(3, 3);
    SetBusy(false);
    if (ok) UpdateRow(RowOfEntry(EntryIndex));
    if (failure) std::rethrow_exception(failure);
    return ok;
}

void TfrmMessBody::ExtractBody(TNetMessage &Message, int EntryIndex) {
    if (EntryIndex < 0 || EntryIndex >= int(Entries.size())) return;
    // A web-mail page gives its body as lines of text already.
    if (Account.Kind == ckHTTP) {
        TStringList &body = Entries[size_t(EntryIndex)].Body;
        body.Clear();
        for (const std::string &line : Message.Body) body.Add(line);
        return;
    }
    Entries[size_t(EntryIndex)].Body =
        ReaderBodyLines(Message, StrToBoolean(ReaderSetting("UseDecode", "True")),
                        StrToBoolean(ReaderSetting("ClearHTML", "True")));
}

void TfrmMessBody::Timer3Timer() {
    Timer3->SetEnabled(false);
    if (Stopping()) return;
    Timer3->Tag = Timer3->Tag + 1;
    if (Timer3->Tag >= MailList->topLevelItemCount()) {
        Timer3->Tag = -1;
        return;
    }
    int row = Timer3->Tag;
    int k = EntryIndex(row);
    // A body already here needs no second trip.
    if (k >= 0 && Entries[size_t(k)].Body.Count() == 0) {
        bool ok = false;
        try {
            ok = FetchBody(k);
        } catch (...) {
            // A server that fails one fetch would fail them all: stop here.
            Timer3->Tag = -1;
            throw;
        }
        if (ok && SelectedRow() == row) ShowBody(k);
    }
    MailList->setFocus();
    if (!Stopping()) Timer3->SetEnabled(true);
}

void TfrmMessBody::LogoutWeb() {
    if (Account.Kind != ckHTTP || !WebMailAvailable() || CycleInProgress()) return;
    TWebRouteUse use;
    WebMailCalls().WebHostLogout();
}

// ---- opening ---------------------------------------------------------------------------------

bool MessageReaderOpen() { return GReaderOpen; }

void ShowMessageReader(int X, int Y) {
    if (GReaderOpen || !FrmMain) return;
    GReaderOpen = true;
    GOpenedAccount = FrmMain->State.Accounts.ShownIndex;
    struct TOpenReset {
        ~TOpenReset() {
            GReaderOpen = false;
            GOpenedAccount = -1;
        }
    } openReset;
    TfrmMessBody form(nullptr);
    QRect screen = AvailableScreen();
    int h = BoundedSetting("Height", 600, 200, std::max(200, screen.height()));
    int w = BoundedSetting("Width", 800, 300, std::max(300, screen.width()));
    form.resize(w, h);
    form.PlaceCorner(X, Y);
    form.FormShow();
    ShowModal(form);
    form.FormDestroy();
}
