#include "FrmMain.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <sys/stat.h>

#include "Desktop.h"
#include "updates/Kel_Files.h"
#include "settings/Kel_Reg.h"
#include "NetAntiFreeze.h"
#include "NetIMAP4.h"
#include "NetPOP3.h"
#include "NetSSLOpenSSL.h"
#include "settings/ProgramPaths.h"
#include "TrayImages.h"
#include "updates/UpdateFiles.h"
#include "settings/VeskRutins.h"
#include "webmail/WebRouteHost.h"
#include "options/asetukset.h"
#include "dialogs/unFrmGetText.h"
#include "unFrmHint.h"
#include "settings/unRules.h"
#include "unScr.h"
#include "reader/unShowBody.h"
#include "reader/unToBlackList.h"
#include "dialogs/unitMessages.h"

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
    SteadyClockMs = [] { return KernelClockMs(CLOCK_BOOTTIME); };
    setWindowTitle("Tarnwick");
    resize(273, 153);
    CreateComponents();
    CreateMenus();
    CreateDisplay();
    CreateImages();

    Reporter.TrayIcon = TrayIcon1;
    Reporter.ErrorImages = ImageList3;
    Reporter.MainOptions = &State.Options;
    Reporter.OptionsShowing = [] { return FormAsetukset && FormAsetukset->isVisible(); };
    Reporter.SelectLogPage = [] {
        if (FormAsetukset)
            FormAsetukset->SelectLogPage();
    };
    // What the desktop cannot do is said once, in the log.
    Desktop().OnLog = [](const std::string &Text) {
        if (FrmMain)
            FrmMain->ReportEvent(Text, 0, 5, TEventReporter::clRed);
    };

    // The web-mail route reports through this window and stops its page
    // waits when the program ends.
    SetWebRouteHost({[](const std::string &Text, int Number, int Kind, int Colour) {
                         if (FrmMain)
                             FrmMain->ReportEvent(Text, Number, Kind, Colour);
                     },
                     [] { return FrmMain && FrmMain->ExitRequested(); }});

    TrayIcon1->OnStartup = [this](QObject *Sender, bool &Show) { TrayIcon1Startup(Sender, Show); };
    TrayIcon1->OnClick = [this](QObject *) { Guard("TrayIcon1Click", [this] { TrayIcon1Click(); }); };
    TrayIcon1->OnDblClick = TrayIcon1->OnClick;
    TrayIcon1->Loaded();
}

TFrmMain::~TFrmMain() {
    FormDestroy();
    TNetAntiFreeze::SetProcessMessagesHook({});
    TNetAntiFreeze::SetLongestPause(0);
    if (FrmMain == this) {
        FrmMain = nullptr;
        SetWebRouteHost({});
    }
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
    // The idle time-out stays the component's 250 ms, but a wait for a slow
    // server answer (a STAT or SELECT of a large mailbox) must not hold the
    // window's animation and timers that long: the waits look up every 20 ms.
    TNetAntiFreeze::SetLongestPause(20);

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

void TFrmMain::CreateImages() {
    FillCheckingImages(*ImageList1);
    FillNewMailImages(*ImageList2);
    FillErrorImages(*ImageList3);
    FillUpdatingImages(*ImageList4);
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
    auto report = [&](const std::string &Text) {
        try {
            // Before the log exists (start-up) the terminal is told instead.
            if (!Reporter.LogReady)
                std::fprintf(stderr, "Tarnwick: %s\n", Text.c_str());
            ReportEvent(Text, 0, 6, TEventReporter::clRed);
        } catch (...) {
        }
    };
    try {
        Work();
    } catch (const std::exception &e) {
        report(std::string("Error in ") + Where + ": " + e.what());
    } catch (...) {
        report(std::string("Error in ") + Where);
    }
}

void TFrmMain::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

int TFrmMain::ScreenWidth() const {
    QScreen *s = QGuiApplication::primaryScreen();
    return s ? s->geometry().width() : 1024;
}

int DialogScreenRight() {
    if (FrmMain) return FrmMain->ScreenWidth();
    QScreen *s = QGuiApplication::primaryScreen();
    return s ? s->geometry().width() : 1024;
}

int DialogWorkAreaBottom() {
    if (FrmMain && FrmMain->State.WorkAreaBottom > 0) return FrmMain->State.WorkAreaBottom;
    QScreen *s = QGuiApplication::primaryScreen();
    return s ? s->availableGeometry().bottom() + 1 : 768;
}

int TFrmMain::ScreenHeight() const {
    QScreen *s = QGuiApplication::primaryScreen();
    return s ? s->geometry().height() : 768;
}

void TFrmMain::ReportEvent(const std::string &Text, int Number, int Kind, int Colour) {
    Reporter.ReportEvent(Text, Number, Kind, Colour);
}

// ---- start-up and window life --------------------------------------------------

void TFrmMain::TrayIcon1Startup(QObject *, bool &ShowMainForm) {
    ShowMainForm = false;
    State.Accounts.ShownIndex = 0;
    State.WindowShown = false;
    Reporter.ErrorFlag = false;
    Reporter.LastErrorKind = 0;
    State.CleanupAllowed = true;
    Exit1->Tag = 0;

    // "-user _work" runs on work.ini as the user "work".
    State.User = ProfileOfArgs(FArgs);
    SetSettingsFileName(SettingsFileNameOfArgs(FArgs));

    ShowRestingIcon();
    if (QScreen *screen = QGuiApplication::primaryScreen())
        State.WorkAreaBottom = screen->availableGeometry().bottom() + 1;
    Guard("LoadSettings", [this] { LoadSettings(); });
    Guard("LoadLanguage", [this] { LoadLanguage("Lang/" + State.Options.Language); });
    TrayIcon1->SetHint("Tarnwick / " + State.Texts.NotYet);
    Guard("LoadSkin", [this] {
        LoadSkin(State.Options.Skin, false);
        ApplySkinRegion();
    });
    TrayIcon1->SetIconVisible(true);
}

void TFrmMain::FormShow() {
    if (TrayIcon1)
        TrayIcon1->HideTaskbarButton();
    std::string skin = State.Options.Skin;
    const int shown = State.Accounts.ShownIndex;
    if (shown >= 0 && shown < State.Accounts.Count() && !State.Accounts[shown].OwnSkin.empty()) {
        if (SkinExists(State.Accounts[shown].OwnSkin))
            LoadSkin(State.Accounts[shown].OwnSkin, false);
    } else {
        if (StrToBoolean(ReadOption("ShowRandom", "False")))
            skin = RandomSkin();
        LoadSkin(skin, false);
    }
    ApplySkinRegion();
}

void TFrmMain::FormDestroy() {
    if (FDestroyed)
        return;
    FDestroyed = true;
    Reporter.LogReady = false;
    try {
        Player.Close();
    } catch (...) {
    }
    try {
        ::SaveSettings(State.Accounts, State.Options, SettingsFilePath());
    } catch (const std::exception &e) {
        // The log is gone by now; the terminal may still hear of it.
        std::fprintf(stderr, "Tarnwick: the settings were not saved: %s\n", e.what());
    }
    try {
        for (Tiedot &t : State.Accounts.Items)
            t.ClearMessages();
    } catch (...) {
    }
    // What Fenlow has yet to install stays, whichever profile ends here.
    if (State.CleanupAllowed)
        EmptyTempFolder(ProgramFolder());
}

void TFrmMain::Timer5Timer() {
    Timer5->SetEnabled(false);
    for (const std::string &p : FPendingProblems)
        ReportEvent(p, 0, 5, TEventReporter::clRed);
    FPendingProblems.clear();
    // This program runs beside the list of an update cut short only when
    // Fenlow could not put its files back (or could not be started): the
    // folder holds parts of two versions until an update installs whole.
    struct stat list;
    const bool cutShort = ::lstat(ProgramRestoreList(ProgramFolder()).c_str(), &list) == 0;
    if (cutShort) {
        const std::string what = LangText("Messages", "105",
                                          "An interrupted update could not be undone: the program folder holds "
                                          "parts of two versions.");
        const std::string means =
            LangText("Messages", "106", "Web mail may be refused until Tarnwick is installed anew.");
        ReportEvent(what + " " + means, 0, 5, TEventReporter::clRed);
        ShowMessageWindow(LangText("Messages", "50", "Warning"), what + "\r\n" + means, "", ScreenWidth(),
                          State.WorkAreaBottom, 1);
    }

    // Each step waits in its own message loop, where the user may ask to
    // exit: from then on nothing more starts.
    // Not beside such a list, though: Fenlow would try to put the folder
    // back first, fail again and start this program again, whose start would
    // hand it the update again, for ever. "Check for updates..." still tries.
    const bool updates = StrToBoolean(ReadOption("CheckUpdates", "False"));
    if (updates && !cutShort && !ExitRequested())
        Guard("CheckProgramUpdate", [this] { CheckProgramUpdate(); });
    // A program update hands over to the updater: nothing more starts.
    if (!State.CleanupAllowed || ExitRequested())
        return;
    if (StrToBoolean(ReadOption("CheckSkinFenlow", "False")))
        Guard("CheckForSkinUpdate", [this] {
            // The skins take turns, one per start.
            std::string next = NextSkinName(ReadOption("FenlowSkin", "Default"));
            IniWriteString(SettingsFilePath(), "Options", "FenlowSkin", next);
            CheckForSkinUpdate(ReadOption("FenlowSkin", "default"), false);
        });
    if (ExitRequested())
        return;
    if (StrToBoolean(ReadOption("CheckOnStart", "False")))
        Guard("Timer1Timer", [this] { Timer1Timer(); });
    if (ExitRequested())
        return;
    if (ReadOption("Calculated", "False") != "True" && updates)
        Guard("CountUse", [this] { CountUse(); });
    if (ExitRequested())
        return;
    if (FileExists(ProgramFile("blacklist.dat")))
        Guard("ImportBlacklistFile", [this] {
            TStringList problems;
            ImportBlacklistFile(ProgramFolder(), problems, [this] { ProcessMessages(); });
            for (const auto &p : problems)
                ReportEvent(p, 0, 5, TEventReporter::clRed);
        });
}

void TFrmMain::Timer8Timer() {
    Timer8->SetEnabled(false);
    try {
        if (RunRestoreOffer(State.Accounts, State.Options, SettingsFilePath(), HostDataFilePath(),
                            [this](const std::string &Name) { return SkinExists(Name); }, ScreenWidth(),
                            State.WorkAreaBottom)) {
            ApplyLoadedSettings(TLoadResult{});
            LoadLanguage("Lang/" + State.Options.Language);
        }
    } catch (const std::exception &e) {
        ReportEvent(std::string("The settings were not restored from the backup: ") + e.what(), 0, 5,
                    TEventReporter::clRed);
    }
}

void TFrmMain::Exit1Click() {
    Exit1->Tag = 1;
    close();
    QCoreApplication::quit();
}

void TFrmMain::Asetukset1Click() {
    if (FormAsetukset)
        FormAsetukset->ShowFromMenu(TFormAsetukset::mpFirst);
}

void TFrmMain::About1Click() {
    if (FormAsetukset)
        FormAsetukset->ShowFromMenu(TFormAsetukset::mpAbout);
}

void TFrmMain::NytLoki1Click() {
    if (FormAsetukset)
        FormAsetukset->ShowFromMenu(TFormAsetukset::mpLog);
}

void TFrmMain::NytPostin1Click() {
    Timer1Timer();
    ShowMessageStep(1);
}

void TFrmMain::Readmessges1Click() {
    if (MessageReaderOpen() || State.Accounts.LastIndex < 0 || State.Accounts.Count() == 0)
        return;
    const int shown = State.Accounts.ShownIndex;
    if (shown >= 0 && shown < State.Accounts.Count() && State.Accounts[shown].Protected) {
        if (TextInputDialogOpen())
            return;
        std::string answer =
            ShowTextInputDialog(LangText("Options", "Password", "Password"), LangMessage(58), "",
                                ScreenWidth() - 283, State.WorkAreaBottom - 171, true);
        // The question waited in its own message loop: a cycle or the
        // browsing may have moved the main window to another account, which
        // the reader would open instead of the one this password is for.
        if (answer.empty() || State.Accounts.ShownIndex != shown || shown >= State.Accounts.Count())
            return;
        if (!AccountPasswordMatches(answer, State.Accounts[shown].Password)) {
            ShowMessageWindow(LangMessage(50), LangMessage(59), "", ScreenWidth(), State.WorkAreaBottom, 1);
            return;
        }
    }
    ShowMessageReader(ScreenWidth(), State.WorkAreaBottom);
}

void TFrmMain::Lisuusiosoitemustallelistalle1Click() {
    if (!AddSenderDialogOpen())
        ShowAddSenderToRule(ScreenWidth(), State.WorkAreaBottom);
}

void TFrmMain::TrayIcon1Click() {
    if (Reporter.ErrorFlag) {
        Reporter.ErrorFlag = false;
        ShowRestingIcon();
        NytLoki1Click();
        return;
    }
    if (State.Accounts.TotalNew > 0) {
        if (!State.WindowShown) {
            ShowMessageStep(1);
        } else {
            raise();
            activateWindow();
        }
    }
}

void TFrmMain::PopupMenu1Popup() {
    if (MailHintShown())
        CloseMailHint();
}

void TFrmMain::LoadSettings() {
    TLoadResult r = ::LoadSettings(State.Accounts, State.Options, SettingsFilePath(), HostDataFilePath(),
                                   [this](const std::string &Name) { return SkinExists(Name); });
    ApplyLoadedSettings(r);
}

void TFrmMain::ApplyLoadedSettings(const TLoadResult &Result) {
    for (const auto &p : Result.Problems) {
        if (Reporter.LogReady)
            ReportEvent(p, 0, 5, TEventReporter::clRed);
        else
            FPendingProblems.push_back(p);
    }
    if (Result.OfferRestore) {
        Timer8->SetInterval(300);
        Timer8->SetEnabled(true);
    }
    const TMainOptions &o = State.Options;
    Timer1->SetEnabled(false);
    Timer3->SetInterval(unsigned(o.ShowMessSp));
    Timer4->SetInterval(unsigned(o.ShowMessSp));
    Timer2->SetInterval(unsigned(o.BrowseSpeed));
    if (LabelFrom)
        LabelFrom->setCursor(o.UseReplyTo ? Qt::PointingHandCursor : Qt::ArrowCursor);
    // No delay means at once, not never.
    Timer5->SetInterval(unsigned(o.DelayTime > 0 ? o.DelayTime * 1000 : 1));
    Timer7->SetInterval(unsigned(o.BlinkPeriod) * 2);
}

void TFrmMain::SaveSettings() {
    try {
        ::SaveSettings(State.Accounts, State.Options, SettingsFilePath());
    } catch (const std::exception &e) {
        ReportEvent(std::string("The settings were not saved: ") + e.what(), 0, 5, TEventReporter::clRed);
        return;
    }
    ReportEvent("", 6, 3, TEventReporter::clBlue);
}

void TFrmMain::AddAccount() { ::AddAccount(State.Accounts); }
void TFrmMain::RemoveLastAccount() { ::RemoveLastAccount(State.Accounts, SettingsFilePath()); }

bool TFrmMain::LoadLanguage(const std::string &RelativePath) {
    SetLanguageFileName(ExtractFileName(RelativePath));
    TMainFormTexts t = State.Texts;
    auto caption = [](QAction *a) { return a ? a->text().toStdString() : std::string(); };
    auto labelCaption = [](QLabel *l, const char *design) {
        std::string c = l ? l->text().toStdString() : std::string();
        if (!c.empty() && c.back() == ':')
            c.pop_back();
        return c.empty() ? std::string(design) : c;
    };
    t.From = labelCaption(LabelFr, "From");
    t.Subject = labelCaption(LabelSbj, "Subject");
    t.ShowLog = caption(NytLoki1);
    t.ReadMessages = caption(Readmessges1);
    t.MailShow = caption(NytPostin1);
    t.Options = caption(Asetukset1);
    t.About = caption(About1);
    t.Exit = caption(Exit1);
    t.AddSenToRule = caption(Lisuusiosoitemustallelistalle1);
    if (!LoadMainFormTexts(RelativePath, t)) {
        ReportEvent("", 9, 3, TEventReporter::clRed);
        return false;
    }
    State.Texts = t;
    auto set = [](QAction *a, const std::string &text) {
        if (a)
            a->setText(QString::fromStdString(text));
    };
    if (LabelFr)
        LabelFr->setText(QString::fromStdString(t.From + ":"));
    if (LabelSbj)
        LabelSbj->setText(QString::fromStdString(t.Subject + ":"));
    set(NytLoki1, t.ShowLog);
    set(Readmessges1, t.ReadMessages);
    set(ReadMess, t.ReadMessages);
    set(NytPostin1, t.MailShow);
    set(Asetukset1, t.Options);
    set(About1, t.About);
    set(Exit1, t.Exit);
    set(Lisuusiosoitemustallelistalle1, t.AddSenToRule);
    ReportEvent("", 8, 3, TEventReporter::clBlue);
    return true;
}

void TFrmMain::CollectSenders(TStringList &List) { ::CollectSenders(State.Accounts, List); }
void TFrmMain::CollectSubjects(TStringList &List) { ::CollectSubjects(State.Accounts, List); }

void TFrmMain::QueryEndSession() {
    if (!FDestroyed)
        SaveSettings();
}

bool TFrmMain::SystemScreenSave() {
    if (State.Accounts.TotalNew > 0 && StrToBoolean(ReadOption("UseScrSav", "True")) && !ScreenSaverShown()) {
        ShowOwnScreenSaver();
        return true;
    }
    return false;
}

void TFrmMain::ShowOwnScreenSaver() {
    if (ScreenSaverShown())
        return;
    if (State.CycleActive) {
        FSaverAfterCycle = true;
        return;
    }
    ShowScreenSaver();
}

void TFrmMain::CycleEnded() {
    State.CycleActive = false;
    if (!FSaverAfterCycle)
        return;
    FSaverAfterCycle = false;
    // Not from here: whatever started the cycle (a menu, the delayed
    // start-up) goes on first, and the saver's loop then runs from the
    // event loop, where the scheduler's checks go on beneath it.
    QTimer::singleShot(0, this, [this] {
        Guard("ShowScreenSaver", [this] {
            if (!ExitRequested())
                ShowOwnScreenSaver();
        });
    });
}

namespace {

constexpr double MsPerDay = 86400000.0;

// Days as milliseconds, held within a range no clock reaches.
int64_t DaysToMs(double Days) {
    double ms = Days * MsPerDay;
    if (!(ms > -1e15))
        ms = -1e15;
    if (ms > 1e15)
        ms = 1e15;
    return int64_t(ms);
}

}  // namespace

bool TFrmMain::CheckIsDue() {
    const TDateTime wall = WallClock();
    const int64_t steady = SteadyClockMs();
    if (State.Options.NextCheck != FScheduledCheck)
        FNextCheckSteady = steady + DaysToMs(State.Options.NextCheck - wall);
    const int64_t left = FNextCheckSteady - steady;
    State.Options.NextCheck = FScheduledCheck = wall + double(left) / MsPerDay;
    return left <= 0;
}

void TFrmMain::ScheduleNextCheck(double Days) {
    FNextCheckSteady = SteadyClockMs() + DaysToMs(Days);
    State.Options.NextCheck = FScheduledCheck = WallClock() + Days;
}

void TFrmMain::ShowRestingIcon() {
    TrayIcon1->SetCycleIcons(false);
    TrayIcon1->SetIconList(nullptr);
    QIcon icon;
    if (ImageList1->GetIcon(0, icon))
        TrayIcon1->SetIcon(icon);
}

// ---- events of the window ----------------------------------------------------------

void TFrmMain::showEvent(QShowEvent *) { Guard("FormShow", [this] { FormShow(); }); }
