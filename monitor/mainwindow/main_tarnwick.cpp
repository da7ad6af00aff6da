// Tarnwick, the mail monitor.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include "FrmMain.h"
#include "updates/Kel_Files.h"
#include "updates/ProgramLock.h"
#include "settings/ProgramPaths.h"
#include "SysUtils.h"
#include "updates/UpdateFiles.h"
#include "options/asetukset.h"
#include "webmail/WebMailModule.h"

namespace {

// A signal only writes a byte here; the event loop does the rest.
int GSignalPipe[2] = {-1, -1};

void OnTerminateSignal(int) {
    const char byte = 1;
    ssize_t ignored = ::write(GSignalPipe[1], &byte, 1);
    (void)ignored;
}

void CatchTerminateSignals() {
    if (::pipe2(GSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction sa {};
    sa.sa_handler = OnTerminateSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}

// The system is ending the program: the settings are saved now, and every
// loop of a running check or start-up wait stops; the window's end follows
// when the event loop has returned.
void Terminate() {
    if (!FrmMain)
        return;
    FrmMain->Exit1->Tag = 1;
    FrmMain->QueryEndSession();
}

// Fenlow was cut short while it installed an update (the power failed, the
// session ended): the folder is part old, part new, and this executable may
// be either. Fenlow puts back what the update replaced and starts Tarnwick
// again, on this profile. The update is given up (the next check offers it
// anew), so that Tarnwick comes back whatever the archive would do to a
// second attempt. Once per list: a list still there at the next start could
// not be put back (or Fenlow never ran), and handing it over again would end
// every start of Tarnwick for good. Only by a Tarnwick alone with the
// folder: beside another one Fenlow could never take it, and the list would
// be spent for nothing. False when there is nothing to hand over, another
// Tarnwick holds the folder, the list was handed over before, or Fenlow
// cannot be started: this Tarnwick then goes on, and tells the user.
bool HandOverCutShortUpdate(const std::string &folder, const std::vector<std::string> &args) {
    struct stat st;
    const std::string list = ProgramRestoreList(folder);
    if (::lstat(list.c_str(), &st) != 0) return false;
    std::string fenlow = folder + FenlowExeName;
    if (::access(fenlow.c_str(), X_OK) != 0) return false;
    // Held until this program ends, right after Fenlow is started. A folder
    // that admits no lock file is none Fenlow could take either.
    TProgramLock alone = AcquireProgramLock(folder, 0);
    if (!alone.Held() || !MarkHandedOver(list)) return false;
    DeleteFile(ResolvePathCI(folder + "fenlow.dat"));
    std::vector<std::string> fenlowArgs{fenlow, "-fenlow"};
    for (const std::string &a : ProfileArguments(args)) fenlowArgs.push_back(a);
    std::vector<char *> argv;
    for (std::string &a : fenlowArgs) argv.push_back(a.data());
    argv.push_back(nullptr);
    // A program of its own, as the update's hand-over starts it.
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, fenlow.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0;
}

}  // namespace

int main(int argc, char **argv) {
    CatchTerminateSignals();
    std::vector<std::string> args(argv + 1, argv + argc);
    // Held until the program ends: Fenlow replaces the executable (and the
    // web-mail module) only once every Tarnwick of this folder has let go.
    // Fenlow holds it while it installs and starts Tarnwick itself when it
    // is done; a Tarnwick started meanwhile leaves that to it.
    if (HandOverCutShortUpdate(ProgramFolder(), args)) return 0;
    TProgramLock programLock;
    if (!TakeProgramLockAtStart(ProgramFolder(), programLock)) return 0;
    // The browser engine only for those who have web mail: with a web-mail
    // account in the settings it comes now, before the application object,
    // as the engine wants; otherwise when first wanted, if ever.
    PrepareWebMailModule(args);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tarnwick");
    // The program lives in the tray: closing its windows does not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    QSocketNotifier terminateNotifier(GSignalPipe[0], QSocketNotifier::Read);
    if (GSignalPipe[0] < 0)
        terminateNotifier.setEnabled(false);
    QObject::connect(&terminateNotifier, &QSocketNotifier::activated, &app, [] {
        char bytes[16];
        while (::read(GSignalPipe[0], bytes, sizeof bytes) > 0) {
        }
        Terminate();
        QCoreApplication::quit();
    });
    // The session is about to end (the user may still cancel it): the
    // settings are saved before the desktop goes away, and the program goes
    // on until the session really ends it.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &app, [](QSessionManager &) {
        if (FrmMain)
            FrmMain->QueryEndSession();
    });

    ApplyUpdateCAFile();
    auto *main = new TFrmMain(args);
    auto *options = new TFormAsetukset(nullptr);
    int rc = app.exec();
    // The browser goes while the window whose reporter it uses still stands.
    FreeWebMailForm();
    delete options;
    delete main;
    return rc;
}
