// Tarnwick's main window: a small frameless skinned panel that lives in the
// tray, runs the checking cycle, raises the alerts and slides in to show the
// new mail. One class, its methods split by role over a few files:
//
//   FrmMain.cpp         components, start-up, destruction, menus, tray click
//   FrmMainCycle.cpp    scheduler, cycle, account check, hidden and deleted files
//   FrmMainAlerts.cpp   balloon or popup, sound, pulse, lights, saver, "mails.dat"
//   FrmMainDisplay.cpp  labels, buttons, browsing, slide timers, hit test, keys
//   FrmMainSkins.cpp    skin loading, window shape, random and next skin
//   FrmMainUpdates.cpp  program, updater and skin update checks
//
// Other windows reach the main window through FrmMain (the one instance).
#pragma once

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QRegion>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <sys/types.h>
#include <unordered_set>
#include <vector>

#include "EventReporter.h"
#include "ImgList.h"
#include "Menus.h"
#include "SimpleTimer.h"
#include "settings/Tiedot.h"
#include "TrayIcon.h"
#include "settings/unLanguage.h"
#include "settings/VeskRutins.h"

class TNetPOP3;
class TNetIMAP4;
class TNetSSLIOHandlerSocketOpenSSL;
struct TMailboxClients;
class TNetAntiFreeze;
class TNetMessage;
class QPainter;
class QTimer;

// The new-mail sound player. Closing it stops the sound.
class TMediaPlayer {
public:
    std::string FileName;
    void Open() {}
    void Play();
    void Close();
    bool Playing() const;
};

// One of the window's three-picture buttons (1 normal, 2 hover, 3 pressed);
// Tag holds the picture shown.
class TSkinButton : public QLabel {
public:
    using QLabel::QLabel;
    QPixmap Pictures[3];
    int Tag = 1;
    bool Transparent = true;
    void ShowPicture(int index);  // 1..3
};

// Where the program and its files are, who it runs for, and what it holds in
// memory between cycles.
struct TMainState {
    std::string User;             // profile name of "-user", empty without one
    TAccountArray Accounts;       // the account array, last index, shown account, total new
    TMainOptions Options;         // Language, Skin, ShowOnDown, CheckTime, ... and the next check time
    TMainFormTexts Texts;         // YouGot, NewMails, AllInAll, NotYet and the menu captions
    int WorkAreaBottom = 0;       // bottom of the desktop's work area, pixels
    bool WindowShown = false;     // the panel is on screen
    bool CleanupAllowed = true;   // empty "temp" when the window is destroyed
    bool CycleRunning = false;    // one account is being examined (the reader waits)
    bool CycleActive = false;     // a whole cycle is running (no second one starts)
    std::string MatchedRule;      // rule file of the last matching rule
};

class TFrmMain : public QWidget {
    Q_OBJECT
public:
    // Args are the program's arguments after its name ("-user", "_work").
    explicit TFrmMain(const std::vector<std::string> &Args = {}, QWidget *parent = nullptr);
    ~TFrmMain() override;

    TMainState State;

    // ---- components ---------------------------------------------------------
    TTrayIcon *TrayIcon1 = nullptr;
    TNetPOP3 *NetPOP31 = nullptr;
    TNetIMAP4 *NetIMAP41 = nullptr;
    TNetSSLIOHandlerSocketOpenSSL *NetSSLIOHandlerSocket1 = nullptr;
    TNetAntiFreeze *NetAntiFreeze1 = nullptr;
    TMediaPlayer Player;
    TImageList *ImageList1 = nullptr;  // checking
    TImageList *ImageList2 = nullptr;  // new mail
    TImageList *ImageList3 = nullptr;  // error
    TImageList *ImageList4 = nullptr;  // updating
    TPopupMenu *PopupMenu1 = nullptr;  // the tray's menu
    TPopupMenu *PopupMenu2 = nullptr;  // the window's menu
    TMenuItem *NytPostin1 = nullptr, *Readmessges1 = nullptr, *ReadMess = nullptr,
              *Asetukset1 = nullptr, *NytLoki1 = nullptr, *About1 = nullptr,
              *Lisuusiosoitemustallelistalle1 = nullptr, *Exit1 = nullptr;
    TTimer *Timer1 = nullptr, *Timer2 = nullptr, *Timer3 = nullptr, *Timer4 = nullptr,
           *Timer5 = nullptr, *Timer6 = nullptr, *Timer7 = nullptr, *Timer8 = nullptr;

    // ---- display: the skin's pictures, labels and buttons -----------------------
    QImage Image1;     // background
    QImage ImageBack;  // mask
    QLabel *LabelAccount = nullptr, *LabelDate = nullptr, *LabelFr = nullptr, *LabelFrom = nullptr,
           *LabelSbj = nullptr, *LabelSubject = nullptr, *LabelPosti = nullptr,
           *LabelNumero = nullptr;
    TSkinButton *Nappi = nullptr, *NappiBack = nullptr, *NappiForward = nullptr,
                *accont_back = nullptr, *accont_forward = nullptr;

    // ---- the event reporter -------------------------------------------------------
    TEventReporter Reporter;
    void ReportEvent(const std::string &Text, int Number, int Kind, int Colour);

    // ---- start-up and window life (FrmMain.cpp) --------------------------------------
    void TrayIcon1Startup(QObject *Sender, bool &ShowMainForm);
    void FormShow();
    void FormDestroy();  // runs its work once, however often it is reached
    void Timer5Timer();  // delayed start-up
    void Timer8Timer();  // restore offer
    void Exit1Click();
    void Asetukset1Click();
    void About1Click();
    void NytLoki1Click();
    void NytPostin1Click();
    void Readmessges1Click();
    void Lisuusiosoitemustallelistalle1Click();
    void TrayIcon1Click();
    void PopupMenu1Popup();
    void LoadSettings();
    // Sets the timers and flags that follow the settings just loaded, and
    // reports what the load found wrong (kept for later before the log exists).
    void ApplyLoadedSettings(const TLoadResult &Result);
    void SaveSettings();
    void AddAccount();
    void RemoveLastAccount();
    bool LoadLanguage(const std::string &RelativePath);
    // The senders and subjects of the mail now listed (add-sender dialog, rule editor).
    void CollectSenders(TStringList &List);
    void CollectSubjects(TStringList &List);
    // The tray hint after a cycle (also the Options dialog's OK).
    std::string CycleHint(int Total) const;
    // The session is about to end: what must survive is saved now. The
    // session may still go on (a log-out the user cancels, a checkpoint), so
    // the window stays whole; FormDestroy comes at the real end.
    void QueryEndSession();
    // The system asks for its screen saver; true when the own one took over.
    bool SystemScreenSave();
    // The own screen saver, at once, or once the running cycle has ended:
    // its modal loop must never hold a cycle open, or every later check
    // would wait for the user to come back.
    void ShowOwnScreenSaver();

    // ---- checking cycle (FrmMainCycle.cpp) ---------------------------------------------
    void Timer6Timer();  // scheduler
    void Timer1Timer();  // one whole cycle
    // The end of a cycle, however it ended: the next one may start, and a
    // saver asked for meanwhile comes up from the event loop.
    void CycleEnded();
    // The scheduler's clocks. The interval is timed on the steady one, so a
    // wall clock that jumps (daylight saving, a manual change, NTP) neither
    // pauses the checks nor hurries them; it counts the time the machine
    // slept, so the first check after a night's suspend is not put off by
    // what was left of the interval. The wall clock gives the next check
    // time that is shown (State.Options.NextCheck). Tests put others in.
    std::function<TDateTime()> WallClock = [] { return Now(); };
    std::function<int64_t()> SteadyClockMs;
    // True when the next check is due; brings State.Options.NextCheck in
    // line with the wall clock. A NextCheck that someone else set (the
    // settings load, the Options dialog) counts from now.
    bool CheckIsDue();
    // The next check Days from now.
    void ScheduleNextCheck(double Days);
    bool CheckAccount(Tiedot &Account, bool &Changed);
    // The clients and TLS handler every mailbox session (the cycle's and the
    // reader's) goes through, and the exit request.
    TMailboxClients MailboxClients();
    std::string StripAngleAddress(const std::string &Text) const;
    bool IsHiddenMessage(const std::string &MessageId);
    // Appends the deletion's line to "deleted.txt": the line, or nothing
    // when SaveDeletedM is off.
    std::string SaveDeletedMessage(const std::string &AccountName, const std::string &Sender,
                                   const std::string &Subject);

    // ---- alerts (FrmMainAlerts.cpp) -----------------------------------------------------
    void ShowBalloon();
    void PlayNewMailSound();
    void BlinkKeyboardLeds();
    void Timer7Timer();
    void StopScreenSaver();
    void WriteMailsFile(bool Changed);
    // Step 9b of a cycle that found an account changed: browsing, balloon,
    // sound, programs, monitor, pulse and the screen saver.
    void RaiseNewMailAlerts();

    // ---- display, browsing and keys (FrmMainDisplay.cpp) --------------------------------
    void ShowMessageStep(int Mode);  // 0 previous, 1 next, 2 current of a new account
    int NextAccountWithMail(int From);
    int PrevAccountWithMail(int From);
    void Timer2Timer();
    void Timer3Timer();
    void Timer4Timer();
    void NappiClick(TSkinButton *Sender);
    void NappiMouseDown(TSkinButton *Sender);
    void NappiMouseUp(TSkinButton *Sender);
    void NappiMouseMove(TSkinButton *Sender);
    // The cursor over the background, a label or the form itself.
    void Image1MouseMove(QObject *Sender);
    void CMMouseLeave();
    void LabelFromClick();
    void FormPaint(QPainter &Canvas);
    void FormHide();
    void FormKeyDown(int Key, Qt::KeyboardModifiers Shift);
    // What the system's hit test answers for a window point: HTCAPTION on a
    // red mask pixel (the user drags the window there), else HTCLIENT.
    static constexpr int HTCLIENT = 1, HTCAPTION = 2;
    int HitTest(int X, int Y) const;
    // A key presses a button: its pressed picture, the click, its normal picture.
    void PressButton(TSkinButton *Button);
    // The bottom of the screen's work area (above its panels), read afresh
    // into State.WorkAreaBottom.
    int UpdateWorkAreaBottom();

    // ---- skins (FrmMainSkins.cpp) -----------------------------------------------------------
    bool SkinExists(const std::string &Name);
    void LoadSkin(const std::string &Name, bool Report);
    void ApplySkinRegion();
    std::string RandomSkin();
    std::string NextSkinName(const std::string &Name);
    // The valid skins in folder order, in lower case.
    std::vector<std::string> ValidSkins();
    std::string LoadedSkin;  // the skin on the window now (Ctrl+U reloads it)
    QRegion SkinRegion;      // the region the mask gave, before it went to the window
    std::vector<TSkinButton *> SkinButtons() const;  // close, back, forward, account back, forward
    std::vector<QLabel *> SkinLabels() const;        // in the order of the skin's sections

    // ---- updates (FrmMainUpdates.cpp) --------------------------------------------------------
    bool CheckProgramUpdate();
    // Why the last program update check could not read the update
    // information; empty when it was read.
    std::string UpdateInfoError;
    // What kept the last check from installing a newer program or updater
    // it found, one line each in the user's language (the download was
    // cancelled, failed and why, or brought another file than announced);
    // empty when nothing did.
    std::string UpdateFailure;
    // Whether the last check replaced the updater.
    bool UpdaterReplaced = false;
    // Tells the user that the update information could not be fetched, and why.
    static void ShowUpdateInfoError(const std::string &Why, int Right, int Bottom);
    // Tells the user what the last program update check came to, unless it
    // handed over to the updater (the program is then on its way out).
    void ShowUpdateOutcome(int Right, int Bottom);
    bool UpdateUpdater();
    // True only when the new skin is in place: Fenlow has installed it.
    // The wait for Fenlow is bounded by FenlowJobLimitMs with Report (the
    // user is then told that it has not finished), by FenlowWaitLimitMs
    // without (the start-up's check); a job still running then is
    // finished, and its outcome logged, when it ends.
    bool CheckForSkinUpdate(const std::string &SkinName, bool Report);
    // How a job of RunFenlowJob came out.
    enum class TFenlowJobEnd { Done, Failed, Running, NotStarted };
    // Runs Fenlow with Switch from the program folder and waits for its end
    // while the window goes on with its events, at most LimitMs. Done when
    // Fenlow said its job was done; NotStarted when it could not be started;
    // Failed when it said it failed, another job runs, or the program was
    // asked to end before it ended (it goes on by itself then, and
    // ExitRequested() holds from there on, also when the application was
    // told to quit without Exit); Running when
    // LimitMs passed first: the job still counts as running, and Ended runs
    // once it ends.
    TFenlowJobEnd RunFenlowJob(const std::string &Switch, int LimitMs, std::function<void(bool Done)> Ended);
    // A Fenlow job of RunFenlowJob is under way: no other starts meanwhile,
    // and nothing that would collide with it (FenlowJobChanged tells when
    // that changes).
    bool FenlowJobRunning() const { return FFenlowJob != nullptr; }
    // True while a Fenlow job runs, once it has said so: in the log, and in
    // a message window at Right, Bottom when Show is set.
    bool RefusedForFenlowJob(bool Show, int Right, int Bottom);
    // The same while a checking cycle runs: a skin job started from inside
    // its message pumping would hold the check until Fenlow ends.
    bool RefusedForCheck(bool Show, int Right, int Bottom);
    // Says that a job the user waited for has not finished in time (and
    // that the log will tell what it came to).
    void ReportFenlowNotFinished(bool Show, int Right, int Bottom);
    // Logs what kept an update from being installed and, with Show (and
    // unless the program is ending), tells the user at Right, Bottom.
    void TellUpdateFailure(const std::string &What, bool Show, int Right, int Bottom);
    // What an update says when Fenlow could not be started at all.
    static std::string UpdaterNotStarted();
    // The longest the start-up's skin check waits for Fenlow before the
    // start-up goes on (milliseconds). Fenlow closes at its tenth one-second
    // tick unless a tick itself hangs (a large archive, a question of its
    // archive component left unanswered).
    int FenlowWaitLimitMs = 15000;
    // The longest a job the user asked for is waited for: far past Fenlow's
    // own ten ticks, so only a job stuck on such a question takes it.
    int FenlowJobLimitMs = 60000;
    void CountUse();
    // The pauses the checks make before reading what they fetched
    // (milliseconds; tests shorten them).
    int UpdatePauseMs = 1000;
    // The longest an information file or the usage counter may take to
    // arrive (milliseconds).
    int InfoDownloadLimitMs = 120000;

    // ---- helpers shared by the roles ---------------------------------------------------------
    // Runs a handler so that nothing it throws crosses the event loop: an
    // exception is reported in the log (kind 6) and swallowed.
    void Guard(const char *Where, const std::function<void()> &Work);
    // Processes pending window messages (the long loops call it between items).
    void ProcessMessages();
    bool ExitRequested() const { return Exit1 && Exit1->Tag == 1; }
    // No cycling, no icon list: icon 0 of ImageList1 in the tray.
    void ShowRestingIcon();
    // Bottom-right corner of the work area (dialogs are placed by it).
    int ScreenWidth() const;
    int ScreenHeight() const;

signals:
    // A Fenlow job of RunFenlowJob started (Running) or ended.
    void FenlowJobChanged(bool Running);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // One account's check works on the cycle's state (FrmMainCycle.cpp).
    friend class TAccountCheck;
    void CreateComponents();
    void CreateMenus();
    void CreateDisplay();
    void CreateImages();
    // Logs what kept an update that was found from being installed.
    void ReportUpdateFailure(const std::string &What);
    // Logs Text and, with Show, puts it in a warning window at Right, Bottom.
    void SayNote(const std::string &Text, bool Show, int Right, int Bottom);
    bool FDestroyed = false;
    // The Fenlow job under way, and what is done when one that a wait gave
    // up on ends.
    struct TFenlowJob {
        pid_t Pid = 0;
        bool Ended = false, Done = false;
        std::function<void(bool Done)> Later;
    };
    std::shared_ptr<TFenlowJob> FFenlowJob;
    QTimer *FFenlowWatch = nullptr;
    // Reads whether the job has ended; when it has, the job is over here.
    void PollFenlowJob();
    // The end of a skin update, however far it came: Failure (empty when the
    // new skin is in place) is told, and the hand-over's files go (File is
    // the skin's archive in "temp/").
    bool EndSkinUpdate(const std::string &File, const std::string &Failure, bool Report);
    // Why the skin is not in place after Fenlow's job (empty when it is);
    // gives the old skin back when nothing took its place.
    std::string SkinNotInPlace(const std::string &SkinName, bool Done);
    bool FSaverAfterCycle = false;      // the own saver waits for the cycle's end
    int64_t FNextCheckSteady = 0;       // the next check on the steady clock
    TDateTime FScheduledCheck = -1;     // State.Options.NextCheck as the scheduler set it
    // What the settings load found wrong before the log existed.
    std::vector<std::string> FPendingProblems;
    // Damaged rule files already named in this cycle's log.
    std::set<std::string> FCycleProblems;
    // Deletions of earlier checks that the server never confirmed, whose
    // lines stay in "deleted.txt", by account name: each message's
    // Message-ID with its sender and subject. A later check that deletes
    // such a message again writes no second line.
    std::map<std::string, std::set<std::string>> FUnconfirmedDeletions;
    // The hidden-messages file as last read, and when it was written. While
    // an account is checked its path (and the rules folder) is found once:
    // finding a file without regard to case reads folders.
    std::string FCheckHiddenFile;
    struct {
        std::string Path;
        long long Size = -1, MTime = 0, MTimeNs = 0;
        std::unordered_set<std::string> Ids;
        // During a check the file is looked at again after a few
        // milliseconds, not for every message of a large mailbox.
        std::string Looked;
        long long LookedAtMs = 0;
    } FHidden;
    std::vector<std::string> FArgs;
    // The suite components have no widget owner; the window frees them.
    std::unique_ptr<TNetAntiFreeze> FAntiFreeze;
    std::unique_ptr<TNetPOP3> FPOP3;
    std::unique_ptr<TNetIMAP4> FIMAP4;
    std::unique_ptr<TNetSSLIOHandlerSocketOpenSSL> FSSL;
    // ---- display -------------------------------------------------------------
    void SetUpDisplay();
    void ApplySkinFont(QLabel *Label, const TFont &Font);
    QImage FButtonImages[5][3];   // the buttons' pictures as read, before transparency
    QFont FLabelFromFont;         // the sender label's skin font, without the link's underline
    bool FLabelFromUnderlined = false;
    bool FDragging = false;       // the user drags the window by a red mask pixel
    QPoint FDragOffset;
    TSkinButton *FPressedButton = nullptr;
    bool FLinkPressed = false;    // a press on the sender label that may become its click
};

// The one main window (null before it is made and after it is gone).
extern TFrmMain *FrmMain;

// Where the small windows opened from the dialogs stand: the right edge of the
// screen and the bottom of the work area the main window knows (the screen's
// own when there is no main window).
int DialogScreenRight();
int DialogWorkAreaBottom();

// Folder + "/" + name of a message file the save rule writes: characters no
// file name may hold, and control characters, are dropped, the name is cut
// to a length every file system takes, and the folder (relative ones lie in
// the program folder) is created when missing.
std::string MakeEmlFileName(const std::string &Folder, const std::string &Name);
