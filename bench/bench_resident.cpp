// What Tarnwick holds while it waits in the tray: the real program of the
// build, on a virtual X display (Xvfb, when installed; else offscreen), in
// program folders laid out as delivered ones, after its first check of a
// POP3 account on a private Dovecot, beside the same after a check of that
// account and a web-mail account on the test site, in the same run. Each
// runs twice more with the browser engine loaded into the process from its
// start (LD_PRELOAD of Qt WebEngine), as the program did while it linked the
// engine. Prints the resident size (VmRSS), the threads (and how many are
// Mesa's llvmpipe render threads), whether the engine and a GL driver are
// mapped, the engine's own processes, and the time from start to the end of
// the first check (which begins one second after start).
//   bench_resident [rounds]   (2 by default; the smallest time is shown)
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#if __has_include("DovecotServer.h") && __has_include("webmail/TarnwickProgramFixture.h")
#include "ChildProcess.h"
#include "DovecotServer.h"
#include "webmail/TarnwickProgramFixture.h"
#include "settings/TarnwickVersion.h"
#include "WebMailSite.h"
#define HAVE_FIXTURES 1
#endif

#ifndef HAVE_FIXTURES
int main() {
    std::fprintf(stderr, "bench_resident: needs the test fixtures (configure with TW_BUILD_TESTS=ON)\n");
    return 1;
}
#else
namespace {

struct TFigures {
    double RssMb = 0, ChildrenMb = 0, Seconds = 1e9;
    long Threads = 0;
    int Llvmpipe = 0, Children = 0;
    bool Engine = false, Gl = false, Checked = false;
};

// The processes below pid (the engine's zygote, renderer and GPU processes).
void Descendants(pid_t pid, std::vector<pid_t> &out) {
    DIR *d = opendir("/proc");
    if (!d) return;
    std::vector<pid_t> direct;
    while (dirent *e = readdir(d)) {
        const pid_t p = std::atoi(e->d_name);
        if (p <= 0) continue;
        const std::string stat = ReadTestFile("/proc/" + std::to_string(p) + "/stat");
        const size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        int ppid = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %*c %d", &ppid) == 1 && ppid == pid) direct.push_back(p);
    }
    closedir(d);
    for (pid_t p : direct) {
        out.push_back(p);
        Descendants(p, out);
    }
}

long RssKb(pid_t pid) {
    const std::string status = ReadTestFile("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("VmRSS:");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
}

struct TScenario {
    const char *Name;
    bool Web;
    bool Preload;
};

TFigures Run(const TScenario &s, const DovecotServer &dovecot, const WebMailSite &site) {
    TarnwickProgram p;
    TTestAccount pop;
    pop.Name = "Mail";
    pop.Port = dovecot.Pop3Port();
    pop.User = dovecot.UserName();
    pop.Password = dovecot.Password();
    std::vector<TTestAccount> accounts = {pop};
    if (s.Web) accounts.push_back(TestSiteWebAccount("Web"));
    p.WriteHostData(HostSection("testmail", site.Url("/login")));
    p.WriteSettings(accounts, TarnwickProgram::QuickCheck());
    const int logouts = site.State()["logouts"].toInt();
    if (s.Preload) setenv("LD_PRELOAD", "libQt6WebEngineWidgets.so.6", 1);
    p.Start();
    unsetenv("LD_PRELOAD");
    TFigures f;
    f.Checked = p.WaitFirstCheck(120000);
    if (!f.Checked) {
        std::fprintf(stderr, "%s: no check\n%s\n", s.Name, p.Stderr().c_str());
        return f;
    }
    f.Seconds = p.SecondsToFirstCheck();
    // The web-mail account logs out at the end of the check; then the
    // program rests.
    for (int i = 0; s.Web && i < 500 && site.State()["logouts"].toInt() == logouts; ++i) usleep(20000);
    usleep(2000000);
    f.RssMb = p.Status("VmRSS") / 1024.0;
    f.Threads = p.Status("Threads");
    f.Llvmpipe = p.ThreadsNamed("llvmpipe");
    f.Engine = p.Maps("libQt6WebEngineCore");
    f.Gl = p.Maps("libGLX_mesa") || p.Maps("libLLVM") || p.Maps("dri/swrast");
    std::vector<pid_t> children;
    Descendants(p.Pid(), children);
    for (pid_t c : children) f.ChildrenMb += RssKb(c) / 1024.0;
    f.Children = int(children.size());
    return f;
}

// A virtual X display of our own, when Xvfb is there.
pid_t StartXvfb(std::string &display) {
    int pipefd[2];
    if (pipe(pipefd) != 0) return -1;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipefd[0]);
        const std::string fd = std::to_string(pipefd[1]);
        freopen("/dev/null", "w", stderr);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
               static_cast<char *>(nullptr));
        _exit(127);
    }
    close(pipefd[1]);
    char buf[32] = {};
    const ssize_t n = read(pipefd[0], buf, sizeof buf - 1);
    close(pipefd[0]);
    if (pid < 0 || n <= 0) {
        if (pid > 0) waitpid(pid, nullptr, 0);
        return -1;
    }
    display = ":" + std::string(buf, size_t(n - (buf[n - 1] == '\n')));
    return pid;
}

}  // namespace

int main(int argc, char **argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    const std::string why = DovecotServer::Unavailable();
    if (!why.empty()) {
        std::fprintf(stderr, "bench_resident: %s\n", why.c_str());
        return 1;
    }
    std::string display;
    const pid_t xvfb = StartXvfb(display);
    if (xvfb > 0) {
        setenv("DISPLAY", display.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    } else {
        unsetenv("DISPLAY");
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    {
        DovecotServer dovecot;
        dovecot.FillMailbox(dovecot.UserName(), 3);
        WebMailSite site;
        const TScenario scenarios[] = {
            {"POP3 account", false, false},
            {"POP3 + web-mail account", true, false},
            {"POP3 account, engine preloaded", false, true},
            {"POP3 + web-mail, engine preloaded", true, true},
        };
        std::printf("bench_resident: Tarnwick %s on %s, after its first check (best of %d rounds for the time)\n",
                    TarnwickVersion, xvfb > 0 ? ("Xvfb " + display).c_str() : "the offscreen platform",
                    rounds);
        std::printf("%-36s %9s %8s %9s %7s %4s %15s %11s\n", "settings", "VmRSS MB", "threads", "llvmpipe",
                    "engine", "GL", "engine procs MB", "1st check s");
        for (const TScenario &s : scenarios) {
            TFigures best;
            for (int r = 0; r < rounds; ++r) {
                TFigures f = Run(s, dovecot, site);
                const double fastest = std::min(best.Seconds, f.Seconds);
                if (r == 0 || f.RssMb > best.RssMb) best = f;  // the larger resident size counts
                best.Seconds = fastest;
            }
            if (!best.Checked) {
                std::printf("%-36s no check\n", s.Name);
                continue;
            }
            std::printf("%-36s %9.1f %8ld %9d %7s %4s %9.1f (%2d) %11.2f\n", s.Name, best.RssMb, best.Threads,
                        best.Llvmpipe, best.Engine ? "yes" : "no", best.Gl ? "yes" : "no", best.ChildrenMb,
                        best.Children, best.Seconds);
            std::fflush(stdout);
        }
    }
    if (xvfb > 0) {
        kill(xvfb, SIGTERM);
        waitpid(xvfb, nullptr, 0);
    }
    return 0;
}
#endif
