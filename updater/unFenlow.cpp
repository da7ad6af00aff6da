#include "unFenlow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QProgressBar>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

#include "updates/Kel_Files.h"
#include "settings/Kel_Reg.h"
#include "ProgramBackup.h"
#include "SysUtils.h"
#include "updates/UpdateFiles.h"
#include "settings/unRules.h"
#include "unitFenlowDown.h"

namespace {

bool EntryExists(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The extracted executable: a plain file, made runnable whatever the
// archive's maker recorded.
bool ExecutableReady(const std::string &path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (::chmod(path.c_str(), 0755) != 0) return false;
    return ::access(path.c_str(), X_OK) == 0;
}

bool SameFile(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

TfrmFenlow::TfrmFenlow(const std::vector<std::string> &args, const std::string &programDir, int tickMs,
                       QWidget *parent)
    : QWidget(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle("Updating Tarnwick...");
    setFixedSize(346, 31);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setGeometry(8, 8, 329, 17);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    QTimer **timers[] = {&Timer1, &Timer2, &Timer3, &Timer4, &Timer5, &Timer6};
    for (int i = 0; i < 6; ++i) {
        *timers[i] = new QTimer(this);
        (*timers[i])->setObjectName(QString("Timer%1").arg(i + 1));
        (*timers[i])->setInterval(tickMs > 0 ? tickMs : 1000);
    }
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    connect(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });
    connect(Timer3, &QTimer::timeout, this, [this] { Timer3Timer(); });
    connect(Timer4, &QTimer::timeout, this, [this] { Timer4Timer(); });
    connect(Timer5, &QTimer::timeout, this, [this] { Timer5Timer(); });
    connect(Timer6, &QTimer::timeout, this, [this] { Timer6Timer(); });

    ZipArchiver1.Name = "ZipArchiver1";
    ZipArchiver1.ExtractCorruptedFiles = false;
    ZipArchiver1.SetCompressionLevel(clFastest);
    ZipArchiver1.SetCompressionMode(1);
    ZipArchiver1.SetSpanningMode(smNone);
    ZipArchiver1.SpanningOptions.AdvancedNaming = true;
    ZipArchiver1.SpanningOptions.VolumeSize = vsAutoDetect;
    ZipArchiver1.Options.FlushBuffers = true;
    ZipArchiver1.Options.OEMFileNames = true;
    ZipArchiver1.SetInMemory(false);
    ZipArchiver1.Zip64Mode = zmDisabled;
    ZipArchiver1.OnFileProgress = [this](TZipBaseArchiver *s, const std::string &f, double p,
                                         TZipProcessOperation o, TZipProgressPhase ph, bool &c) {
        ZipArchiver1FileProgress(s, f, p, o, ph, c);
    };

    ProgramDir = IncludeTrailingPathDelimiter(programDir);
    if (!args.empty()) {
        FFirstArg = args[0];
        FTarnwickArgs = ProfileArguments({args.begin() + 1, args.end()});
    }
    FormCreate();
}

TfrmFenlow::~TfrmFenlow() {
    for (QTimer *t : {Timer1, Timer2, Timer3, Timer4, Timer5, Timer6}) t->stop();
    FormDestroy();
}

void TfrmFenlow::FormCreate() {
    QScreen *screen = QGuiApplication::primaryScreen();
    QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    int screenWidth = screen ? screen->geometry().width() : area.width();
    WorkAreaBottom = area.y() + area.height();
    move(screenWidth - width() - 3, WorkAreaBottom - height() - 3);
    TickCount = 0;

    static const std::pair<const char *, QTimer *TfrmFenlow::*> jobs[] = {
        {"-fenlow", &TfrmFenlow::Timer1}, {"-skn", &TfrmFenlow::Timer2}, {"-all", &TfrmFenlow::Timer4},
        {"-ssl", &TfrmFenlow::Timer5},    {"-ske", &TfrmFenlow::Timer6}};
    QTimer *chosen = Timer3;
    for (const auto &[jobSwitch, timer] : jobs)
        if (FFirstArg == jobSwitch) {
            chosen = this->*timer;
            break;
        }
    for (QTimer *t : {Timer1, Timer2, Timer3, Timer4, Timer5, Timer6})
        if (t != chosen) t->stop();
    chosen->start();
}

void TfrmFenlow::FormDestroy() {
    // Once Tarnwick is started the folder is its own: a Tarnwick at its
    // start that finds the lock held alone ends at once.
    if (FVersionWritten || FTarnwickStarted) return;
    try {
        // Only while Tarnwick is not running: it may write its settings file
        // at any moment, and one of the two writes would be lost.
        TProgramLock lock = AcquireProgramLock(ProgramDir, 0);
        if (lock.Held()) WriteOwnVersion();
    } catch (...) {
    }
}

void TfrmFenlow::RequestClose() {
    FCloseRequested = true;
    if (FDepth == 0) close();
}

void TfrmFenlow::closeEvent(QCloseEvent *event) {
    // The close box during a job (inside one of its questions): the job
    // finishes first.
    if (FDepth > 0) {
        FCloseRequested = true;
        event->ignore();
        return;
    }
    for (QTimer *t : {Timer1, Timer2, Timer3, Timer4, Timer5, Timer6}) t->stop();
    FFinished = true;
    event->accept();
}

template <class F>
void TfrmFenlow::Tick(TJob job, F &&body) {
    if (FFinished || FBusy[job]) return;
    FBusy[job] = true;
    ++FDepth;
    try {
        body();
    } catch (...) {
        // Fenlow shows no errors of its own: a job that fails ends in a close.
        FCloseRequested = true;
    }
    --FDepth;
    FBusy[job] = false;
    if (FDepth == 0 && FCloseRequested && !FFinished) close();
}

bool TfrmFenlow::JobOpening(const char *jobSwitch) {
    if (FFirstArg != jobSwitch) {
        RequestClose();
        return false;
    }
    if (TickCount++ == 9) RequestClose();
    return true;
}

void TfrmFenlow::Timer1Timer() {
    Tick(jbUpdate, [this] {
        if (JobOpening("-fenlow")) ProgramUpdate();
    });
}

void TfrmFenlow::Timer2Timer() {
    Tick(jbSkin, [this] {
        if (JobOpening("-skn")) SkinJob("skin.zip");
    });
}

void TfrmFenlow::Timer3Timer() {
    Tick(jbClose, [this] { RequestClose(); });
}

void TfrmFenlow::Timer4Timer() {
    Tick(jbAllSkins, [this] {
        if (JobOpening("-all")) SkinJob(AllSkinsArchiveName);
    });
}

void TfrmFenlow::Timer5Timer() {
    Tick(jbTLS, [this] {
        if (JobOpening("-ssl")) ArchiveJob(TLSArchiveName);
    });
}

void TfrmFenlow::Timer6Timer() {
    Tick(jbEditor, [this] {
        if (JobOpening("-ske")) ArchiveJob(SkinEditorArchiveName);
    });
}

std::string TfrmFenlow::Resolve(const std::string &name) const { return ResolvePathCI(ProgramDir + name); }

std::string TfrmFenlow::InfoPath(const std::string &path) const {
    std::string full = PathInFolder(path, ProgramDir);
    return full.empty() ? full : ResolvePathCI(full);
}

void TfrmFenlow::DeleteOwnFile(const std::string &path) {
    if (path.empty() || PathInFolder(path, ProgramDir).empty()) return;
    DeleteFile(path);
}

void TfrmFenlow::ProgramUpdate() {
    TProgramLock lock;
    // An update that never finished goes back before anything else: before
    // Tarnwick is started from a folder that is part old, part new, and
    // before a new attempt, so that it does not keep half-installed files as
    // the old ones. What cannot come back stays as it is, and Tarnwick comes
    // back beside it: it hands a list over only once, and then runs and
    // tells the user.
    TProgramBackup undo(ProgramDir);
    bool putBack = false;
    if (EntryExists(ProgramRestoreList(ProgramDir))) {
        lock = AcquireProgramLock(ProgramDir, 0);
        if (!lock.Held()) {
            // A Tarnwick holds the folder to the last tick (one started
            // just after the one that handed it over): the list was never
            // tried, and goes back to the next start of Tarnwick. The one
            // that handed it over comes back all the same, on its profile:
            // beside the other one it cannot hand the folder over again, and
            // runs beside the list; one that finds the folder free by then
            // hands it to a Fenlow that can take it.
            if (FCloseRequested) {
                ClearHandedOverMark(ProgramRestoreList(ProgramDir));
                LaunchTarnwick();
            }
            return;
        }
        if (!undo.RecoverInterrupted()) {
            StartTarnwick(&lock, true);
            RequestClose();
            return;
        }
        putBack = true;
    }
    bool installed = false;
    std::string dat = Resolve("fenlow.dat");
    if (FileExists(dat)) {
        ZipPath = InfoPath(IniReadString(dat, "File", "Path", "tarnwick.zip"));
        if (ZipPath.empty()) {
            // An archive outside the program folder is none of Fenlow's
            // business: neither fetched into place nor deleted afterwards.
            RequestClose();
            StartTarnwick(&lock);
            return;
        }
        if (!FileExists(ZipPath)) {
            lock.Release();
            Timer1->stop();
            std::string name = ExtractFileName(ZipPath);
            bool ok = IsPlainFileName(name) && ForceDirectories(ExtractFileDir(ZipPath)) &&
                      unitFenlowDown::DownloadFile("Download...", "", UpdateZipUrl() + name, ZipPath, 0,
                                                   WorkAreaBottom, true);
            // The job goes on ticking: Tarnwick may still be on its way out.
            if (!FFinished) Timer1->start();
            if (!ok) {
                RequestClose();
                StartTarnwick();
                return;
            }
        }
        // While Tarnwick runs it holds the lock, and its executable must
        // stay; the next tick tries again.
        if (!lock.Held()) lock = AcquireProgramLock(ProgramDir, 0);
        if (!lock.Held()) return;

        std::string exe = ProgramDir + TarnwickExeName;
        struct stat before;
        bool hadExe = ::lstat(exe.c_str(), &before) == 0;
        // The name must lead to another file than before: an archive without
        // an executable leaves the old one standing there.
        auto replaced = [&] {
            struct stat now;
            return ::lstat(exe.c_str(), &now) == 0 && !(hadExe && SameFile(now, before));
        };
        bool ok = Sha256Matches(ZipPath, IniReadString(dat, "File", "SHA256", "")) &&
                  Extract(ProgramDir, [&] { return undo.Prepare(ZipArchiver1); }) && replaced() &&
                  ExecutableReady(exe);
        if (!ok) {
            // All or nothing, the executable included: a new module beside
            // the old executable (or the other way round) would leave web
            // mail unusable until a later update succeeds.
            undo.Restore();
            RequestClose();
            return;
        }
        undo.Commit();
        DeleteOwnFile(dat);
        DeleteOwnFile(ZipPath);
        installed = true;
    }
    // The blacklist goes before Tarnwick starts, so the new Tarnwick never
    // imports the same file at its own start-up.
    if (FileExists(Resolve("blacklist.dat"))) {
        if (!lock.Held()) lock = AcquireProgramLock(ProgramDir, 0);
        if (lock.Held()) BlackListToRules();
    }
    // A Tarnwick that found the folder half updated handed it over and
    // ended: it comes back once its files are.
    if (installed || putBack) {
        StartTarnwick(&lock);
        RequestClose();
    }
}

void TfrmFenlow::SkinJob(const char *defaultArchive) {
    std::string dat = Resolve("skins.dat");
    if (!FileExists(dat)) return;
    ZipPath = InfoPath(IniReadString(dat, "FENLOW_File", "Path", defaultArchive));
    // The skin a skin update moved aside (none for "-all").
    std::string skin = IniReadString(dat, "FENLOW_File", "Skin", "");
    if (!IsPlainFileName(skin)) skin.clear();
    std::string skins = Resolve("skins");
    bool ok = false;
    if (!ZipPath.empty() && FileExists(ZipPath)) {
        std::string sum = skin.empty() ? std::string() : IniReadString(dat, skin, "SHA256", "");
        ok = Sha256Matches(ZipPath, sum) && Extract(IncludeTrailingPathDelimiter(skins)) &&
             (skin.empty() || DirectoryExists(ResolvePathCI(skins + "/" + skin)));
    }
    if (!skin.empty()) {
        std::string backup = SkinBackupFolder(ProgramDir, skin);
        if (DirectoryExists(backup)) {
            if (ok) {
                DeleteFolder(backup);
            } else {
                std::string installed = ResolvePathCI(skins + "/" + skin);
                if (EntryExists(installed)) DeleteFiles(installed);
                ForceDirectories(skins);
                RenameFile(backup, skins + "/" + skin);
            }
        }
    }
    DeleteOwnFile(dat);
    DeleteOwnFile(ZipPath);
    FSkinsInstalled = ok;
    RequestClose();
}

int TfrmFenlow::ExitCode() const {
    if (FFirstArg != "-skn" && FFirstArg != "-all") return 0;
    return FSkinsInstalled ? 0 : 1;
}

void TfrmFenlow::ArchiveJob(const char *archive) {
    ZipPath = Resolve(std::string("temp/") + archive);
    if (!FileExists(ZipPath)) {
        RequestClose();
        return;
    }
    if (Extract(ProgramDir)) DeleteOwnFile(ZipPath);
    RequestClose();
}

bool TfrmFenlow::Extract(const std::string &folder, const std::function<bool()> &ready) {
    try {
        ZipArchiver1.FileName = ZipPath;
        ZipArchiver1.OpenZip();
        ZipArchiver1.BaseDir = folder;
        if (ready && !ready()) {
            ZipArchiver1.CloseZip();
            return false;
        }
        ZipArchiver1.ExtractMatching("*.*", 0x28BF, "");
        ZipArchiver1.CloseZip();
        // An entry that could not be written leaves the installation
        // incomplete, whatever the user answered the component's question:
        // Retry may still bring it in, but Ignore leaves a release with one
        // file missing or old, so it counts as a failure as Abort does (the
        // program update then puts every file back).
        const TZipOperationResult &r = ZipArchiver1.LastResult();
        return r.Ok() && r.Skipped.Empty();
    } catch (...) {
        try {
            ZipArchiver1.CloseZip();
        } catch (...) {
        }
        return false;
    }
}

void TfrmFenlow::ZipArchiver1FileProgress(TZipBaseArchiver *, const std::string &, double Progress,
                                          TZipProcessOperation, TZipProgressPhase, bool &) {
    if (!std::isfinite(Progress)) return;
    ProgressBar1->setValue(int(std::lround(std::clamp(Progress, 0.0, 100.0))));
    // Extraction gives the event loop no turn: paint now, without letting
    // other events in.
    if (ProgressBar1->isVisible()) ProgressBar1->repaint();
}

void TfrmFenlow::BlackListToRules() {
    TStringList problems;
    // A rule file that cannot be written keeps "blacklist.dat" for the next
    // run; Fenlow reports nothing.
    ImportBlacklistFile(ProgramDir, problems, [] {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    });
}

void TfrmFenlow::WriteOwnVersion() {
    IniWriteString(Resolve("Tarnwick.ini"), "FENLOW", "Version", FenlowVersion);
    FVersionWritten = true;
}

void TfrmFenlow::StartTarnwick(TProgramLock *held, bool besideList) {
    TProgramLock own;
    if (!held || !held->Held()) {
        own = AcquireProgramLock(ProgramDir, LockWaitMs);
        held = &own;
    }
    // Still running: there is nothing to start. Nor from a folder an update
    // left half done, unless putting it back was tried: that Tarnwick would
    // hand it straight back.
    if (!held->Held() || (!besideList && EntryExists(ProgramRestoreList(ProgramDir)))) return;
    try {
        WriteOwnVersion();
    } catch (...) {
    }
    held->Release();
    LaunchTarnwick();
}

void TfrmFenlow::LaunchTarnwick() {
    QStringList args;
    for (const std::string &a : FTarnwickArgs) args << QString::fromStdString(a);
    if (QProcess::startDetached(QString::fromStdString(ProgramDir + TarnwickExeName), args,
                                QString::fromStdString(ProgramDir)))
        FTarnwickStarted = true;
}
