// One whole checking cycle of the main window over a POP3 account and an
// IMAP4 account of 10,000 messages each, on a private Dovecot, beside what
// Python's poplib (STAT and "TOP n 0" of every message) and imaplib (a
// header FETCH per message) take for the same mailboxes in the same run.
// Also prints the longest gap between the ticks of a 10 ms timer while the
// cycle runs (the window must stay alive) and the peak resident size.
//   bench_cycle [messages] [rounds]   (10000 and 3 by default)
#include <sys/resource.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#if __has_include("DovecotServer.h")
#include "ChildProcess.h"
#include "DovecotServer.h"
#define HAVE_DOVECOT_FIXTURE 1
#endif
#include "CryptStr.h"
#include "Desktop.h"
#include "FrmMain.h"
#include "ProgramPaths.h"
#include "SimpleTimer.h"
#include "SysUtils.h"
#include "TrayBackend.h"
#include "asetukset.h"

#ifndef HAVE_DOVECOT_FIXTURE
int main() {
    std::fprintf(stderr, "bench_cycle: needs the test fixtures (configure with TW_BUILD_TESTS=ON)\n");
    return 1;
}
#else
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

const char *kPoplib = R"PY(
import poplib, sys, time
host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
t = time.perf_counter()
p = poplib.POP3(host, port, timeout=60)
p.user(user)
p.pass_(password)
count, size = p.stat()
for n in range(1, count + 1):
    p.top(n, 0)
p.quit()
print(count, time.perf_counter() - t)
)PY";

const char *kImaplib = R"PY(
import imaplib, sys, time
host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
t = time.perf_counter()
m = imaplib.IMAP4(host, port)
m.login(user, password)
typ, data = m.select("INBOX")
count = int(data[0])
for n in range(1, count + 1):
    m.fetch(str(n), "(RFC822.HEADER)")
m.logout()
print(count, time.perf_counter() - t)
)PY";

double TimePython(const char *script, int port, const std::string &user, int expect) {
    std::string out, err;
    int rc = RunPython(script, {"127.0.0.1", std::to_string(port), user, "pw-" + user}, &out, &err);
    int count = 0;
    double s = -1;
    if (rc != 0 || std::sscanf(out.c_str(), "%d %lf", &count, &s) != 2 || count != expect) {
        std::fprintf(stderr, "python failed: %s%s\n", out.c_str(), err.c_str());
        return -1;
    }
    return s;
}

struct TCycleRun {
    double Seconds = -1;
    double LongestGapMs = 0;
    int LongGaps = 0;  // over 50 ms
    int Counted = 0;
};

// A program folder with the accounts, the main window on it, one cycle.
TCycleRun RunCycle(const DovecotServer &dc, const std::string &folder, bool pop, bool imap) {
    std::string ini = "[Accounts]\nNum=" + std::to_string(int(pop) + int(imap) - 1) + "\n";
    int index = 0;
    auto account = [&](const std::string &user, const char *kind, int port) {
        ini += "[" + std::to_string(index++) + "]\nName=" + user + "\nHost=127.0.0.1\nPort=" + std::to_string(port) +
               "\nUserName=" + user + "\nPW=" + ScrambleStr("pw-" + user) + "\nConnection=" + kind + "\n";
    };
    if (pop)
        account("popper", "POP3", dc.Pop3Port());
    if (imap)
        account("imapper", "IMAP4", dc.ImapPort());
    ini += "[Options]\nLanguage=english.lng\n";
    WriteFileAtomic(folder + "Tarnwick.ini", ini);

    TCycleRun run;
    auto main = std::make_unique<TFrmMain>();
    auto options = std::make_unique<TFormAsetukset>(nullptr);
    for (TTimer *t : {main->Timer5, main->Timer6, main->Timer8})
        t->SetEnabled(false);
    auto last = Clock::now();
    TSimpleTimer ticker(10, [&](QObject *) {
        auto now = Clock::now();
        double gap = std::chrono::duration<double, std::milli>(now - last).count();
        if (gap > run.LongestGapMs)
            run.LongestGapMs = gap;
        run.LongGaps += gap > 50;
        last = now;
    });
    auto t = Clock::now();
    last = t;
    ticker.SetEnabled(true);
    main->Timer1Timer();
    run.Seconds = Seconds(t);
    // The gap that ends with the cycle counts too.
    double tail = std::chrono::duration<double, std::milli>(Clock::now() - last).count();
    if (tail > run.LongestGapMs)
        run.LongestGapMs = tail;
    ticker.SetEnabled(false);
    run.Counted = main->State.Accounts.TotalNew;
    options.reset();
    main.reset();
    return run;
}

}  // namespace

int main(int argc, char **argv) {
    const int messages = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (messages < 1 || rounds < 1) {
        std::fprintf(stderr, "usage: bench_cycle [messages] [rounds]\n");
        return 2;
    }
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    std::string why = DovecotServer::Unavailable();
    if (!why.empty()) {
        std::fprintf(stderr, "bench_cycle: %s\n", why.c_str());
        return 1;
    }
    DovecotServer::Options o;
    o.Users = {{"popper", "pw-popper"}, {"imapper", "pw-imapper"}};
    DovecotServer dc(o);
    auto fill = Clock::now();
    dc.FillMailbox("popper", messages);
    dc.FillMailbox("imapper", messages);
    std::printf("filled two mailboxes of %d messages in %.1f s\n", messages, Seconds(fill));

    // The window talks to a recording tray and desktop: no alert leaves the bench.
    TRecordingTrayBackend tray;
    TRecordingDesktop desktop;
    SetTrayBackend(&tray);
    SetDesktop(&desktop);
    char tmpl[] = "/tmp/twbench.XXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    std::string folder = std::string(tmpl) + "/";
    SetProgramFolder(folder);

    // A first pass lets Dovecot build its indexes, for every reader alike.
    if (RunCycle(dc, folder, true, true).Counted != 2 * messages) {
        std::fprintf(stderr, "the cycle did not count every message\n");
        return 1;
    }
    TCycleRun best{1e9, 0, 0, 0}, bestPop{1e9, 0, 0, 0}, bestImap{1e9, 0, 0, 0};
    double poplib = 1e9, imaplib = 1e9, longestGap = 0;
    int longGaps = 0, cycles = 0;
    for (int r = 0; r < rounds; ++r) {
        TCycleRun both = RunCycle(dc, folder, true, true);
        TCycleRun p = RunCycle(dc, folder, true, false);
        TCycleRun i = RunCycle(dc, folder, false, true);
        double a = TimePython(kPoplib, dc.Pop3Port(), "popper", messages);
        double b = TimePython(kImaplib, dc.ImapPort(), "imapper", messages);
        if (both.Counted != 2 * messages || p.Counted != messages || i.Counted != messages || a < 0 || b < 0)
            return 1;
        for (const TCycleRun *c : {&both, &p, &i}) {
            if (c->LongestGapMs > longestGap)
                longestGap = c->LongestGapMs;
            longGaps += c->LongGaps;
            ++cycles;
        }
        if (both.Seconds < best.Seconds)
            best = both;
        if (p.Seconds < bestPop.Seconds)
            bestPop = p;
        if (i.Seconds < bestImap.Seconds)
            bestImap = i;
        if (a < poplib)
            poplib = a;
        if (b < imaplib)
            imaplib = b;
    }
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);

    std::printf("best of %d rounds, %d messages per mailbox:\n", rounds, messages);
    std::printf("  cycle, POP3 + IMAP4 accounts: %8.3f s\n", best.Seconds);
    std::printf("  poplib + imaplib:             %8.3f s   ratio %.2f\n", poplib + imaplib,
                best.Seconds / (poplib + imaplib));
    std::printf("  cycle, POP3 account alone:    %8.3f s   poplib  %8.3f s   ratio %.2f\n", bestPop.Seconds, poplib,
                bestPop.Seconds / poplib);
    std::printf("  cycle, IMAP4 account alone:   %8.3f s   imaplib %8.3f s   ratio %.2f\n", bestImap.Seconds,
                imaplib, bestImap.Seconds / imaplib);
    // While the server takes longer to answer (a STAT or SELECT of a large
    // mailbox), the window gets its events once per idle time-out of the
    // anti-freeze (250 ms); between messages it gets them after each one.
    std::printf("  longest gap between 10 ms timer ticks during the cycles: %.1f ms (%d gaps over 50 ms in %d cycles)\n",
                longestGap, longGaps, cycles);
    std::printf("  peak resident size: %.1f MB\n", ru.ru_maxrss / 1024.0);

    SetProgramFolder("");
    std::string rm = "rm -rf " + folder;
    (void)std::system(rm.c_str());
    SetDesktop(nullptr);
    SetTrayBackend(nullptr);
    return 0;
}
#endif
