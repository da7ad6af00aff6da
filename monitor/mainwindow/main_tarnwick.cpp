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

// Marks the list of an update cut short as handed to Fenlow, once: it is
// made read-only (Fenlow writes every list anew, writable), so the mark goes
// with the list and a new list starts without it. False when it was marked
// before, or cannot be: a list that is no plain file, or one on a file system
// that keeps no mode.
bool MarkHandedOver(const std::string &list) {
    int fd = ::open(list.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool marked = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) != 0 &&
                  ::fchmod(fd, st.st_mode & 07555) == 0 && ::fstat(fd, &st) == 0 && (st.st_mode & 0222) == 0;
    ::close(fd);
    return marked;
}

// Fenlow was cut short while it installed an update (the power failed, the
// session ended): the folder is part old, part new, and this executable may
// be either. Fenlow puts back what the update replaced and starts Tarnwick
// again, on this profile. The update is given up (the next check offers it
// anew), so that Tarnwick comes back whatever the archive would do to a
// second attempt. Once per list: a list still there at the next start could
// not be put back (or Fenlow never ran), and handing it over again would end
// every start of Tarnwick for good. False when there is nothing to hand
// over, it was handed over before, or Fenlow cannot be started: this
// Tarnwick then goes on, and tells the user.
bool HandOverCutShortUpdate(const std::string &folder, const std::vector<std::string> &args) {
    struct stat st;
    const std::string list = ProgramRestoreList(folder);
    if (::lstat(list.c_str(), &st) != 0) return false;
    std::string fenlow = folder + FenlowExeName;
    if (::access(fenlow.c_str(), X_OK) != 0 || !MarkHandedOver(list)) return false;
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
    TProgramLock programLock;
    if (!TakeProgramLockAtStart(ProgramFolder(), programLock)) return 0;
    // Only where Fenlow can take the folder once this one has let go.
    if (programLock.Held() && HandOverCutShortUpdate(ProgramFolder(), args)) return 0;
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
