// The main window's update checks: a newer Tarnwick, a newer Fenlow and a
// newer skin on the update site, fetched into "temp/" and handed to Fenlow.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "FrmMain.h"
#include "HTTPGet.h"
#include "IniFile.h"
#include "updates/Kel_Files.h"
#include "settings/Kel_Reg.h"
#include "settings/ProgramPaths.h"
#include "SysUtils.h"
#include "settings/TarnwickVersion.h"
#include "updates/UpdateFiles.h"
#include "settings/VeskRutins.h"
#include "dialogs/unitDown.h"
#include "settings/unLanguage.h"
#include "dialogs/unitMessages.h"

extern char **environ;

namespace {

// Information files are a few lines; anything near this is not one.
constexpr int64_t MaxInfoFileSize = 1 << 20;

// The icons of ImageList4 cycle while a check runs, unless the icon is
// cycling for something else already; afterwards icon 0 of ImageList1.
class TUpdatingIcons {
public:
    explicit TUpdatingIcons(TFrmMain &form) : FForm(form) {
        if (!form.State.Options.AnimUpdating || !form.TrayIcon1 || form.TrayIcon1->CycleIcons()) return;
        FStarted = true;
        form.TrayIcon1->SetIconList(form.ImageList4);
        form.TrayIcon1->SetCycleInterval(200);
        form.TrayIcon1->SetCycleIcons(true);
    }
    ~TUpdatingIcons() {
        if (!FStarted || !FForm.TrayIcon1) return;
        FForm.TrayIcon1->SetCycleIcons(false);
        FForm.TrayIcon1->SetIconList(FForm.ImageList1);
        FForm.TrayIcon1->SetIconIndex(0);
    }

private:
    TFrmMain &FForm;
    bool FStarted = false;
};

// The user asked to exit: no check waits any longer for anything.
bool Exiting() { return FrmMain && FrmMain->ExitRequested(); }

// Waits while the window goes on with its events.
void Pause(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms && !Exiting()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
}

// Waits for a download without a window while the window's events go on.
// A server that hands out a few hundred bytes one at a time, each well
// within the stall limit, must not hold the check (and what waits behind
// it) without end: after limitMs it is given up, and at once when the user
// asks to exit.
void WaitForDownload(THTTPGet &get, int limitMs) {
    QElapsedTimer t;
    t.start();
    while (get.Running()) {
        if (t.elapsed() >= limitMs || Exiting()) get.AbortDownload();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (get.Running()) QThread::msleep(5);
    }
}

// Fetches a URL without a window. The file arrives whole or not at all (an
// existing one stays only on failure, which Why then explains).
bool UrlDownloadToFile(const std::string &url, const std::string &file, int limitMs, std::string &Why) {
    THTTPGet get;
    get.URL = url;
    get.FileName = file;
    get.MaxFileSize = MaxInfoFileSize;
    get.StartFileDownload();
    WaitForDownload(get, limitMs);
    Why = get.LastResult() ? std::string() : url + ": " + get.LastErrorText();
    return get.LastResult();
}

// Fetches an information file of the site and checks that it is one: it
// names the version of what it offers under Section. False with the reason
// when it could not be fetched or is not such a file (which is then gone).
bool FetchUpdateInfo(const std::string &url, const std::string &file, const std::string &Section, int limitMs,
                     std::string &Why) {
    if (!UrlDownloadToFile(url, file, limitMs, Why)) return false;
    bool named = false;
    try {
        named = IniValueExists(file, Section, "Version");
    } catch (const Exception &e) {
        Why = url + ": " + e.Message();
        DeleteFile(file);
        return false;
    }
    if (!named) {
        Why = url + ": no [" + Section + "] Version in it";
        DeleteFile(file);
    }
    return named;
}

// Skin information names at least one skin with a version; anything else
// (a captive portal's page, a "moved" page) is no answer about skins.
bool IsSkinInformation(const std::string &file) {
    try {
        TIniFile ini(file);
        TStringList sections;
        ini.ReadSections(sections);
        for (const std::string &section : sections) {
            int64_t n = 0;
            if (VersionNumber(ini.ReadString(section, "Version", ""), n)) return true;
        }
    } catch (const Exception &) {
        // Not readable as information at all.
    }
    return false;
}

// The texts of what became of an update, from the language file.
std::string Said(int number, const char *english) {
    return LangText("Messages", std::to_string(number), english);
}

// What the site named in place of a file name.
std::string NoFileName(const std::string &name) {
    return Said(95, "The download failed:") + " \"" + name + "\" is not a file name";
}

std::string UpdateRunning() { return Said(86, "An update is already running."); }

std::string NotTheAnnouncedFile() {
    return Said(96, "The downloaded file is not the one the update information announced.");
}

// One request whose answer nobody reads.
void UrlRequest(const std::string &url, int limitMs) {
    THTTPGet get;
    get.URL = url;
    get.MaxStringSize = MaxInfoFileSize;
    get.StartStringDownload();
    WaitForDownload(get, limitMs);
}

bool StartProgram(const std::string &exe, const std::vector<std::string> &arguments) {
    QStringList args;
    for (const std::string &a : arguments) args << QString::fromStdString(a);
    return QProcess::startDetached(QString::fromStdString(exe), args, QString::fromStdString(ProgramFolder()));
}

// "A newer version is ready" as the messages of the language file word it.
std::string UpdateText(int firstMessage, const std::string &current, const std::string &newer) {
    return LangMessage(firstMessage) + " " + current + " " + LangMessage(74) + "\r\n" + LangMessage(71) + " " +
           newer + " " + LangMessage(72) + "\r\n\r\n" + LangMessage(70) + "\r\n";
}

bool AutoUpdate() { return StrToBoolean(IniReadString(SettingsFilePath(), "Options", "AutoUpdate", "False")); }

int WorkAreaBottomNow() { return DownloadWindowTop() + 216; }

bool SameVersion(const std::string &a, const std::string &b) {
    int64_t x = 0, y = 0;
    return VersionNumber(a, x) && VersionNumber(b, y) && x == y;
}

}  // namespace

bool TFrmMain::CheckProgramUpdate() {
    // A program update would start a second Fenlow beside the skin job and
    // end this program while it waits for that job: the check waits for
    // another time and leaves the last one's outcome as it was.
    if (RefusedForFenlowJob(false, 0, 0)) return false;
    TUpdatingIcons icons(*this);
    UpdateFailure.clear();
    UpdaterReplaced = false;
    ReportEvent("", 75, 3, TEventReporter::clBlack);
    std::string folder = ProgramFolder();
    // A copy from an earlier check must not stand in for the site's.
    DeleteFile(ProgramFile("fenlow.dat"));
    ProcessMessages();
    QThread::msleep(1);
    // A site that cannot be reached has not said that nothing is newer.
    if (!FetchUpdateInfo(UpdateBaseUrl() + "fenlow.dat", folder + "fenlow.dat", "File", InfoDownloadLimitMs,
                         UpdateInfoError)) {
        // A download that Exit cut short is no fault of the site's.
        if (!ExitRequested()) ReportEvent(UpdateInfoError, 77, 4, TEventReporter::clRed);
        return false;
    }
    std::string dat = ProgramFile("fenlow.dat");

    if (ExitRequested()) {
        DeleteFile(dat);
        return false;
    }
    bool updaterReplaced = UpdaterReplaced = UpdateUpdater();
    Pause(UpdatePauseMs);
    std::string version = IniReadString(dat, "File", "Version", "0");
    if (ExitRequested()) {
        DeleteFile(dat);
        return updaterReplaced;
    }
    if (!VersionIsNewer(version, TarnwickVersion)) {
        // A newer updater that did not arrive was found all the same.
        if (!updaterReplaced && UpdateFailure.empty()) ReportEvent("", 76, 3, TEventReporter::clBlack);
        DeleteFile(dat);
        return updaterReplaced;
    }

    std::string name = IniReadString(dat, "File", "Name", "tarnwick.zip");
    std::string temp = folder + "temp";
    ForceDirectories(temp);
    ReportEvent("", 89, 3, TEventReporter::clBlue);
    ReportEvent("", 90, 3, TEventReporter::clBlack);
    std::string zip = temp + "/" + name;
    std::string why, failure;
    // The site names a file, never a path: nothing of it lands outside "temp/".
    if (!IsPlainFileName(name)) {
        failure = NoFileName(name);
    } else if (!DownloadFile("Download...", UpdateText(73, TarnwickVersion, version), UpdateZipUrl() + name, zip,
                             DownloadWindowLeft(), DownloadWindowTop(), AutoUpdate(), &why)) {
        failure = DownloadFailureText(UpdateZipUrl() + name, why);
    } else if (!Sha256Matches(zip, IniReadString(dat, "File", "SHA256", ""))) {
        DeleteFile(zip);
        failure = NotTheAnnouncedFile();
    }
    if (failure.empty()) {
        ReportEvent("", 91, 3, TEventReporter::clBlue);
        ReportEvent("", 92, 3, TEventReporter::clBlack);
        IniWriteString(dat, "File", "Path", zip);
        // Fenlow starts this program again on its profile.
        std::vector<std::string> fenlowArgs{"-fenlow"};
        for (const std::string &a : ProfileArguments(FArgs)) fenlowArgs.push_back(a);
        // A skin job may have started while the download window was up.
        if (FenlowJobRunning())
            failure = UpdateRunning();
        else if (!StartProgram(folder + FenlowExeName, fenlowArgs))
            failure = UpdaterNotStarted();
    }
    if (!failure.empty()) {
        ReportUpdateFailure(failure);
        UpdateFailure += (UpdateFailure.empty() ? "" : "\r\n") + failure;
        DeleteFile(dat);
        return updaterReplaced;
    }
    // The archive waits in "temp/" for Fenlow, which needs this program gone
    // (and its lock released) before it can replace it.
    State.CleanupAllowed = false;
    Exit1->Tag = 1;
    close();
    if (QThread::currentThread()->loopLevel() > 0) QCoreApplication::quit();
    return true;
}

bool TFrmMain::UpdateUpdater() {
    std::string newer = IniReadString(ProgramFile("fenlow.dat"), "FENLOW", "Version", "0");
    std::string exe = ProgramFile(FenlowExeName);
    std::string current = FileExists(exe) ? GetFileVersionText(exe) : "0";
    if (current.empty()) current = IniReadString(SettingsFilePath(), "FENLOW", "Version", "0");
    if (!VersionIsNewer(newer, current)) return false;

    ReportEvent("", 93, 3, TEventReporter::clBlue);
    ReportEvent("", 81, 3, TEventReporter::clBlack);
    std::string temp = ProgramFolder() + "temp";
    ForceDirectories(temp);
    std::string tmp = temp + "/fenlow.tmp";
    std::string why, failure;
    // What arrived must be the announced updater, not a page that stood in
    // for it; it replaces the old one in one step.
    if (!DownloadFile("Download...", UpdateText(79, current, newer), UpdateZipUrl() + FenlowExeName, tmp,
                      DownloadWindowLeft(), DownloadWindowTop(), AutoUpdate(), &why)) {
        failure = DownloadFailureText(UpdateZipUrl() + FenlowExeName, why);
    } else if (!SameVersion(GetFileVersionText(tmp), newer)) {
        failure = NotTheAnnouncedFile();
    } else if (::chmod(tmp.c_str(), 0755) != 0 || !RenameFile(tmp, ProgramFolder() + FenlowExeName)) {
        failure = Said(98, "The new updater could not be put in place.");
    }
    if (!failure.empty()) {
        DeleteFile(tmp);
        ReportUpdateFailure(failure);
        UpdateFailure += (UpdateFailure.empty() ? "" : "\r\n") + failure;
        return false;
    }
    IniWriteString(SettingsFilePath(), "FENLOW", "Version", newer);
    ReportEvent("", 80, 3, TEventReporter::clBlue);
    return true;
}

bool TFrmMain::CheckForSkinUpdate(const std::string &SkinName, bool Report) {
    // One Fenlow job at a time: they share the skin information file. Nor
    // one beside a check, whose pumping the wait would hold until Fenlow ends:
    // the user who asked hears so, the start-up's check waits for its next
    // turn.
    if (!Report && State.CycleActive) return false;
    if (RefusedForFenlowJob(Report, ScreenWidth(), WorkAreaBottomNow()) ||
        RefusedForCheck(Report, ScreenWidth(), WorkAreaBottomNow()))
        return false;
    TUpdatingIcons icons(*this);
    Pause(UpdatePauseMs);
    std::string folder = ProgramFolder();
    DeleteFile(ProgramFile("skins.dat"));
    std::string url = UpdateZipUrl() + "skins/skins.dat", why;
    bool fetched = UrlDownloadToFile(url, folder + "skins.dat", InfoDownloadLimitMs, why);
    std::string dat = ProgramFile("skins.dat");
    // A page served in its place has not said that nothing is newer.
    if (fetched && !IsSkinInformation(dat)) {
        DeleteFile(dat);
        fetched = false;
        why = url + ": no skin information in it";
    }
    if (!fetched) {
        if (ExitRequested()) return false;
        ReportEvent(why, 77, 4, TEventReporter::clRed);
        if (Report) ShowUpdateInfoError(why, ScreenWidth(), WorkAreaBottomNow());
        return false;
    }
    if (ExitRequested()) {
        DeleteFile(dat);
        return false;
    }

    std::string remote = IniReadString(dat, SkinName, "Version", "0");
    std::string local =
        IniReadString(ProgramFile("skins/" + SkinName + "/" + SkinName + ".skn"), "About", "Version", "0");
    if (!IsPlainFileName(SkinName) || !VersionIsNewer(remote, local)) {
        if (Report) ShowMessageWindow("Info", LangMessage(85), "", ScreenWidth(), WorkAreaBottomNow(), 2);
        DeleteFile(dat);
        return false;
    }

    std::string file = IniReadString(dat, SkinName, "File", SkinName + ".zip");
    ReportEvent("", 84, 3, TEventReporter::clBlack);
    std::string temp = folder + "temp";
    ForceDirectories(temp);
    std::string zip = temp + "/" + file;
    std::string text = "\"" + SkinName + "\"  " + UpdateText(82, local, remote);
    std::string failure;
    if (!IsPlainFileName(file)) {
        failure = NoFileName(file);
    } else if (!DownloadFile("Download...", text, UpdateZipUrl() + "skins/" + file, zip, DownloadWindowLeft(),
                             DownloadWindowTop(), !Report, &why)) {
        failure = DownloadFailureText(UpdateZipUrl() + "skins/" + file, why);
    } else if (!Sha256Matches(zip, IniReadString(dat, SkinName, "SHA256", ""))) {
        failure = NotTheAnnouncedFile();
    } else if (FenlowJobRunning()) {
        // Another job started while the download window was up.
        failure = UpdateRunning();
    } else if (ExitRequested() || !MoveSkinAside(folder, SkinName)) {
        // The installed skin is moved aside, not deleted: Fenlow puts it
        // back when the new one does not install. Once Tarnwick is on its
        // way out no Fenlow would, so it stays.
        failure = Said(99, "The skin was not updated.");
    } else {
        IniWriteString(dat, "FENLOW_File", "Path", zip);
        IniWriteString(dat, "FENLOW_File", "Skin", SkinName);
        // The user who asked waits for the outcome, the start-up for a
        // while; either hears of it in the log when Fenlow ends later.
        const TFenlowJobEnd end =
            RunFenlowJob("-skn", Report ? FenlowJobLimitMs : FenlowWaitLimitMs, [this, SkinName, file](bool done) {
                EndSkinUpdate(file, SkinNotInPlace(SkinName, done), false);
            });
        // Fenlow goes on by itself: after an exit what it comes to is not
        // known here; a job the wait gave up on is finished when it ends.
        if (ExitRequested()) return false;
        if (end == TFenlowJobEnd::Running) {
            if (Report) ReportFenlowNotFinished(true, ScreenWidth(), WorkAreaBottomNow());
            return false;
        }
        failure = SkinNotInPlace(SkinName, end == TFenlowJobEnd::Done);
    }
    return EndSkinUpdate(file, failure, Report);
}

std::string TFrmMain::SkinNotInPlace(const std::string &SkinName, bool Done) {
    const std::string folder = ProgramFolder();
    std::string backup = SkinBackupFolder(folder, SkinName);
    if (Done && SkinExists(SkinName) && !DirectoryExists(backup)) return {};
    // Fenlow gives the old skin back itself; one that could not start, or
    // ended before it could, leaves that to us. Whatever such a Fenlow left
    // in its place stays, and so does the backup.
    std::string installed = ResolvePathCI(folder + "skins/" + SkinName);
    struct stat st;
    if (DirectoryExists(backup) && ::lstat(installed.c_str(), &st) != 0)
        RenameFile(backup, folder + "skins/" + SkinName);
    return Said(99, "The skin was not updated.");
}

bool TFrmMain::EndSkinUpdate(const std::string &File, const std::string &Failure, bool Report) {
    // A job that started meanwhile works on the same files; "temp/" is
    // emptied at the end all the same.
    if (!FenlowJobRunning()) {
        DeleteFile(ProgramFile("skins.dat"));
        if (IsPlainFileName(File)) DeleteFile(ProgramFolder() + "temp/" + File);
    }
    if (!Failure.empty()) {
        TellUpdateFailure(Failure, Report, ScreenWidth(), WorkAreaBottomNow());
        return false;
    }
    ReportEvent("", 83, 3, TEventReporter::clBlue);
    if (Report) ShowMessageWindow("Info", LangMessage(83), "", ScreenWidth(), WorkAreaBottomNow(), 2);
    return true;
}

TFrmMain::TFenlowJobEnd TFrmMain::RunFenlowJob(const std::string &Switch, int LimitMs,
                                               std::function<void(bool Done)> Ended) {
    // Nothing starts beside a running job, nor once Tarnwick is on its way
    // out (a program update may be handing over to Fenlow).
    if (FenlowJobRunning() || ExitRequested()) return TFenlowJobEnd::Failed;
    const std::string folder = ProgramFolder();
    const std::string exe = folder + FenlowExeName;
    // Started as a program of its own (a session of its own, default
    // signals) that outlives this one when the user exits meanwhile; the
    // process is this program's child only so that its end can be read.
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string arg0 = exe, arg1 = Switch;
    char *argv[] = {arg0.data(), arg1.data(), nullptr};
    pid_t pid = 0;
    int rc = posix_spawn(&pid, exe.c_str(), &actions, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return TFenlowJobEnd::NotStarted;

    auto job = std::make_shared<TFenlowJob>();
    job->Pid = pid;
    FFenlowJob = job;
    // The job is watched from the event loop too: a wait that gave up, or
    // that the user's exit ended, no longer reads it.
    if (!FFenlowWatch) {
        FFenlowWatch = new QTimer(this);
        FFenlowWatch->setInterval(20);
        connect(FFenlowWatch, &QTimer::timeout, this, [this] { Guard("PollFenlowJob", [this] { PollFenlowJob(); }); });
    }
    FFenlowWatch->start();
    emit FenlowJobChanged(true);

    // The wait is an event loop of its own: whatever ends the program (Exit,
    // SIGTERM, the end of the desktop session) tells the application to
    // quit, which ends every event loop under way, this one too.
    QEventLoop wait;
    bool ownEnd = false;
    QElapsedTimer t;
    t.start();
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, &wait, [&] {
        Guard("PollFenlowJob", [this] { PollFenlowJob(); });
        if (job->Ended || ExitRequested() || t.elapsed() >= LimitMs) {
            ownEnd = true;
            wait.quit();
        }
    });
    poll.start();
    wait.exec();
    poll.stop();
    if (job->Ended) return job->Done ? TFenlowJobEnd::Done : TFenlowJobEnd::Failed;
    // The application is on its way out: so is every step after this wait.
    if (!ownEnd) Exit1->Tag = 1;
    if (ExitRequested()) return TFenlowJobEnd::Failed;
    job->Later = std::move(Ended);
    return TFenlowJobEnd::Running;
}

void TFrmMain::PollFenlowJob() {
    std::shared_ptr<TFenlowJob> job = FFenlowJob;
    if (!job) return;
    int status = 0;
    pid_t r = ::waitpid(job->Pid, &status, WNOHANG);
    if (r == 0 || (r < 0 && errno == EINTR)) return;
    // Ended, or no longer this program's to read (then it did not say done).
    job->Ended = true;
    job->Done = r == job->Pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    FFenlowJob.reset();
    if (FFenlowWatch) FFenlowWatch->stop();
    if (job->Later) {
        auto later = std::move(job->Later);
        Guard("FenlowJobEnded", [&later, job] { later(job->Done); });
    }
    emit FenlowJobChanged(false);
}

void TFrmMain::SayNote(const std::string &Text, bool Show, int Right, int Bottom) {
    ReportEvent(Text, 0, 5, TEventReporter::clBlack);
    if (Show) ShowMessageWindow(Said(50, "Warning"), Text, "", Right, Bottom, 1);
}

bool TFrmMain::RefusedForFenlowJob(bool Show, int Right, int Bottom) {
    if (!FenlowJobRunning()) return false;
    SayNote(UpdateRunning(), Show, Right, Bottom);
    return true;
}

bool TFrmMain::RefusedForCheck(bool Show, int Right, int Bottom) {
    if (!State.CycleActive) return false;
    SayNote(Said(109, "Mail is being checked. Try again when the check has ended."), Show, Right, Bottom);
    return true;
}

void TFrmMain::ReportFenlowNotFinished(bool Show, int Right, int Bottom) {
    SayNote(Said(110, "The updater has not finished its work yet. The log will say what it came to."), Show, Right,
            Bottom);
}

void TFrmMain::ReportUpdateFailure(const std::string &What) {
    ReportEvent(Said(78, "Update failed") + ": " + What, 0, 5, TEventReporter::clRed);
}

std::string TFrmMain::UpdaterNotStarted() { return Said(97, "The updater could not be started."); }

void TFrmMain::TellUpdateFailure(const std::string &What, bool Show, int Right, int Bottom) {
    ReportUpdateFailure(What);
    if (Show && !ExitRequested())
        ShowMessageWindow(Said(50, "Warning"), Said(78, "Update failed") + ":\r\n" + What, "", Right, Bottom, 1);
}

void TFrmMain::ShowUpdateOutcome(int Right, int Bottom) {
    // Handed over to the updater, or the user asked to exit meanwhile.
    if (ExitRequested()) return;
    if (!UpdateInfoError.empty()) {
        ShowUpdateInfoError(UpdateInfoError, Right, Bottom);
        return;
    }
    std::string replaced = UpdaterReplaced ? Said(80, "Updater updated") : std::string();
    if (!UpdateFailure.empty()) {
        std::string text = Said(78, "Update failed") + ":\r\n" + UpdateFailure;
        if (!replaced.empty()) text = replaced + "\r\n\r\n" + text;
        ShowMessageWindow(Said(50, "Warning"), text, "", Right, Bottom, 1);
        return;
    }
    ShowMessageWindow("Info", replaced.empty() ? Said(76, "No updates found") : replaced, "", Right, Bottom, 2);
}

void TFrmMain::CountUse() {
    IniWriteString(SettingsFilePath(), "Options", "Calculated", "True");
    UrlRequest(UpdateZipUrl() + "laskuri.php", InfoDownloadLimitMs);
}

void TFrmMain::ShowUpdateInfoError(const std::string &Why, int Right, int Bottom) {
    std::string title = LangMessage(50), text = LangMessage(77);
    if (title.empty()) title = "Warning";
    if (text.empty()) text = "The update information could not be fetched:";
    ShowMessageWindow(title, text + "\r\n" + Why, "", Right, Bottom, 1);
}
