#include "FrmMain.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QThread>

#include "Desktop.h"
#include "NetAntiFreeze.h"
#include "NetIMAP4.h"
#include "NetPOP3.h"
#include "NetSSLOpenSSL.h"
#include "ProgramPaths.h"
#include "asetukset.h"

TFrmMain *FrmMain = nullptr;

// ---- the sound player and the skin buttons ------------------------------------

void TMediaPlayer::Play() {
    if (!FileName.empty())
        Desktop().PlaySound(FileName);
}
void TMediaPlayer::Close() {
    if (Desktop().SoundPlaying())
        Desktop().StopSound();
}
bool TMediaPlayer::Playing() const { return Desktop().SoundPlaying(); }

void TSkinButton::ShowPicture(int index) {
    if (index < 1 || index > 3)
        return;
    Tag = index;
    if (!Pictures[index - 1].isNull())
        setPixmap(Pictures[index - 1]);
}

// ---- construction -------------------------------------------------------------

TFrmMain::TFrmMain(const std::vector<std::string> &Args, QWidget *parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::Tool | Qt::WindowStaysOnTopHint), FArgs(Args) {
    FrmMain = this;
    setWindowTitle("Tarnwick");
    resize(273, 153);
    CreateComponents();
    CreateMenus();
    CreateDisplay();
    TrayIcon1->OnStartup = [this](QObject *Sender, bool &Show) { TrayIcon1Startup(Sender, Show); };
    TrayIcon1->OnClick = [this](QObject *) { Guard("TrayIcon1Click", [this] { TrayIcon1Click(); }); };
    TrayIcon1->OnDblClick = TrayIcon1->OnClick;
    TrayIcon1->Loaded();
}

TFrmMain::~TFrmMain() {
    FormDestroy();
    TNetAntiFreeze::SetProcessMessagesHook({});
    if (FrmMain == this)
        FrmMain = nullptr;
}

void TFrmMain::CreateComponents() {
    TrayIcon1 = new TTrayIcon(this);
    ImageList1 = new TImageList(this);
    ImageList2 = new TImageList(this);
    ImageList3 = new TImageList(this);
    ImageList4 = new TImageList(this);

    FAntiFreeze = NetCreateNoOwner<TNetAntiFreeze>();
    NetAntiFreeze1 = FAntiFreeze.get();
    NetAntiFreeze1->IdleTimeOut = 250;
    FPOP3 = NetCreateNoOwner<TNetPOP3>();
    NetPOP31 = FPOP3.get();
    FIMAP4 = NetCreateNoOwner<TNetIMAP4>();
    NetIMAP41 = FIMAP4.get();
    FSSL = NetCreateNoOwner<TNetSSLIOHandlerSocketOpenSSL>();
    NetSSLIOHandlerSocket1 = FSSL.get();
    // Socket waits on this thread hand the window its events in slices.
    TNetAntiFreeze::SetProcessMessagesHook([](bool processAll) {
        try {
            if (processAll)
                QCoreApplication::processEvents(QEventLoop::AllEvents);
            else
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        } catch (...) {
        }
    });

    auto timer = [this](unsigned interval, bool enabled, void (TFrmMain::*handler)(), const char *name) {
        auto *t = new TTimer;
        t->setParent(this);
        t->SetInterval(interval);
        t->SetOnTimer([this, handler, name](QObject *) { Guard(name, [this, handler] { (this->*handler)(); }); });
        t->SetEnabled(enabled);
        return t;
    };
    Timer1 = timer(1000000, false, &TFrmMain::Timer1Timer, "Timer1Timer");
    Timer2 = timer(10000, false, &TFrmMain::Timer2Timer, "Timer2Timer");
    Timer3 = timer(100, false, &TFrmMain::Timer3Timer, "Timer3Timer");
    Timer4 = timer(100, false, &TFrmMain::Timer4Timer, "Timer4Timer");
    Timer5 = timer(3000, true, &TFrmMain::Timer5Timer, "Timer5Timer");
    Timer6 = timer(10000, true, &TFrmMain::Timer6Timer, "Timer6Timer");
    Timer7 = timer(400, false, &TFrmMain::Timer7Timer, "Timer7Timer");
    Timer8 = timer(300, false, &TFrmMain::Timer8Timer, "Timer8Timer");
}

void TFrmMain::CreateMenus() {
    PopupMenu1 = new TPopupMenu(this);
    PopupMenu2 = new TPopupMenu(this);
    auto item = [this](TPopupMenu *menu, const char *caption, void (TFrmMain::*handler)(), const char *name) {
        auto *a = new TMenuItem(QString::fromUtf8(caption), menu);
        menu->addAction(a);
        connect(a, &QAction::triggered, this, [this, handler, name] { Guard(name, [this, handler] { (this->*handler)(); }); });
        return a;
    };
    NytPostin1 = item(PopupMenu1, "Check now", &TFrmMain::NytPostin1Click, "NytPostin1Click");
    Readmessges1 = item(PopupMenu1, "Read messages", &TFrmMain::Readmessges1Click, "Readmessges1Click");
    Lisuusiosoitemustallelistalle1 = item(PopupMenu1, "Add sender to rule",
                                          &TFrmMain::Lisuusiosoitemustallelistalle1Click,
                                          "Lisuusiosoitemustallelistalle1Click");
    PopupMenu1->addSeparator();
    Asetukset1 = item(PopupMenu1, "Options", &TFrmMain::Asetukset1Click, "Asetukset1Click");
    NytLoki1 = item(PopupMenu1, "Show log", &TFrmMain::NytLoki1Click, "NytLoki1Click");
    About1 = item(PopupMenu1, "About", &TFrmMain::About1Click, "About1Click");
    PopupMenu1->addSeparator();
    Exit1 = item(PopupMenu1, "Exit", &TFrmMain::Exit1Click, "Exit1Click");
    ReadMess = item(PopupMenu2, "Read messages", &TFrmMain::Readmessges1Click, "Readmessges1Click");
    connect(PopupMenu1, &QMenu::aboutToShow, this, [this] { Guard("PopupMenu1Popup", [this] { PopupMenu1Popup(); }); });
    connect(PopupMenu2, &QMenu::aboutToShow, this, [this] { Guard("PopupMenu1Popup", [this] { PopupMenu1Popup(); }); });
    TrayIcon1->SetPopupMenu(PopupMenu1);
}

void TFrmMain::CreateDisplay() {
    auto label = [this] {
        auto *l = new QLabel(this);
        l->setAttribute(Qt::WA_TransparentForMouseEvents, false);
        return l;
    };
    LabelAccount = label();
    LabelDate = label();
    LabelFr = label();
    LabelFrom = label();
    LabelSbj = label();
    LabelSubject = label();
    LabelPosti = label();
    LabelNumero = label();
    Nappi = new TSkinButton(this);
    NappiBack = new TSkinButton(this);
    NappiForward = new TSkinButton(this);
    accont_back = new TSkinButton(this);
    accont_forward = new TSkinButton(this);
    SetUpDisplay();
}

// ---- shared helpers -------------------------------------------------------------

void TFrmMain::Guard(const char *Where, const std::function<void()> &Work) {
    try {
        Work();
    } catch (const std::exception &e) {
        try {
            ReportEvent(std::string("Error in ") + Where + ": " + e.what(), 0, 6, TEventReporter::clRed);
        } catch (...) {
        }
    } catch (...) {
        try {
            ReportEvent(std::string("Error in ") + Where, 0, 6, TEventReporter::clRed);
        } catch (...) {
        }
    }
}

void TFrmMain::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

int TFrmMain::ScreenWidth() const {
    QScreen *s = QGuiApplication::primaryScreen();
    return s ? s->geometry().width() : 1024;
}

int TFrmMain::ScreenHeight() const {
    QScreen *s = QGuiApplication::primaryScreen();
    return s ? s->geometry().height() : 768;
}

void TFrmMain::ReportEvent(const std::string &Text, int Number, int Kind, int Colour) {
    Reporter.ReportEvent(Text, Number, Kind, Colour);
}

// ---- start-up and window life --------------------------------------------------

void TFrmMain::TrayIcon1Startup(QObject *, bool &ShowMainForm) { ShowMainForm = false; }
void TFrmMain::FormShow() {}
void TFrmMain::FormDestroy() {
    if (FDestroyed)
        return;
    FDestroyed = true;
}
void TFrmMain::Timer5Timer() { Timer5->SetEnabled(false); }
void TFrmMain::Timer8Timer() { Timer8->SetEnabled(false); }
void TFrmMain::Exit1Click() {
    Exit1->Tag = 1;
    close();
}
void TFrmMain::Asetukset1Click() {
    if (FormAsetukset) FormAsetukset->ShowFromMenu(TFormAsetukset::mpFirst);
}
void TFrmMain::About1Click() {
    if (FormAsetukset) FormAsetukset->ShowFromMenu(TFormAsetukset::mpAbout);
}
void TFrmMain::NytLoki1Click() {
    if (FormAsetukset) FormAsetukset->ShowFromMenu(TFormAsetukset::mpLog);
}
void TFrmMain::NytPostin1Click() {}
void TFrmMain::Readmessges1Click() {}
void TFrmMain::Lisuusiosoitemustallelistalle1Click() {}
void TFrmMain::TrayIcon1Click() {}
void TFrmMain::PopupMenu1Popup() {}
void TFrmMain::LoadSettings() {}
void TFrmMain::SaveSettings() {}
void TFrmMain::AddAccount() { ::AddAccount(State.Accounts); }
void TFrmMain::RemoveLastAccount() { ::RemoveLastAccount(State.Accounts, SettingsFilePath()); }
bool TFrmMain::LoadLanguage(const std::string &) { return false; }
void TFrmMain::CollectSenders(TStringList &List) { ::CollectSenders(State.Accounts, List); }
void TFrmMain::CollectSubjects(TStringList &List) { ::CollectSubjects(State.Accounts, List); }
std::string TFrmMain::CycleHint(int) const { return {}; }
void TFrmMain::QueryEndSession() { FormDestroy(); }
bool TFrmMain::SystemScreenSave() { return false; }

// ---- events of the window ----------------------------------------------------------

void TFrmMain::showEvent(QShowEvent *) { Guard("FormShow", [this] { FormShow(); }); }
