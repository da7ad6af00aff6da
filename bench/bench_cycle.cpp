// One whole checking cycle of the main window over a POP3 account and an
// IMAP4 account of 10,000 messages each, on a private Dovecot, beside what
// Python's poplib (STAT and "TOP n 0" of every message, one at a time) and
// imaplib (a header FETCH per message) take for the same mailboxes in the
// same run, and beside the fastest readers of the same headers: a raw
// Python client that sends its TOP commands ahead in a sliding window, and
// imaplib's one FETCH for the whole range. The cycle also runs once in
// lock-step (one command per answer, one FETCH per message) for its peak
// resident size. Also prints the longest gap between the ticks of a 10 ms
// timer while the cycle runs (the window must stay alive).
//   bench_cycle [messages] [rounds]   (10000 and 3 by default)
#include <sys/resource.h>

#include <algorithm>

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
#include "settings/CryptStr.h"
#include "Desktop.h"
#include "mainwindow/FrmMain.h"
#include "NetIMAP4.h"
#include "NetPOP3.h"
#include "settings/ProgramPaths.h"
#include "SimpleTimer.h"
#include "SysUtils.h"
#include "TrayBackend.h"
#include "options/asetukset.h"

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

// What a client that never waits between commands needs: TOPs sent ahead
// in a sliding window of 64, the answers read in order.
const char *kRawPipelined = R"PY(
import socket, sys, time
host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
t = time.perf_counter()
s = socket.create_connection((host, port), timeout=60)
f = s.makefile("rb")
def status():
    line = f.readline()
    if not line.startswith(b"+OK"):
        raise SystemExit("bad answer: %r" % line)
    return line
status()
s.sendall(b"USER %s\r\n" % user.encode()); status()
s.sendall(b"PASS %s\r\n" % password.encode()); status()
s.sendall(b"STAT\r\n")
count = int(status().split()[1])
window, sent, got = 64, 0, 0
while got < count:
    if sent < count and sent - got <= window // 2:
        upto = min(count, got + window)
        s.sendall(b"".join(b"TOP %d 0\r\n" % n for n in range(sent + 1, upto + 1)))
        sent = upto
    status()
    while f.readline() not in (b".\r\n", b""):
        pass
    got += 1
s.sendall(b"QUIT\r\n"); status()
print(count, time.perf_counter() - t)
)PY";

const char *kImaplibRange = R"PY(
import imaplib, sys, time
host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
t = time.perf_counter()
m = imaplib.IMAP4(host, port)
m.login(user, password)
typ, data = m.select("INBOX")
count = int(data[0])
typ, got = m.fetch("1:%d" % count, "(FLAGS BODY.PEEK[HEADER])")
if typ != "OK" or sum(1 for g in got if isinstance(g, tuple)) != count:
    raise SystemExit("range fetch failed")
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
    double PeakMB = 0;  // the peak resident size while the cycle ran
};

// Peak resident size since the last reset, in MB (Linux keeps it in
// VmHWM; writing 5 to clear_refs starts it again from the current size).
void ResetPeak() {
    if (FILE *f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}
double PeakMB() {
    double kb = 0;
    if (FILE *f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "VmHWM: %lf kB", &kb) == 1)
                break;
        std::fclose(f);
    }
    return kb / 1024.0;
}

// A program folder with the accounts, the main window on it, one cycle.
TCycleRun RunCycle(const DovecotServer &dc, const std::string &folder, bool pop, bool imap, bool lockStep = false) {
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
    if (lockStep) {
        main->NetPOP31->PipelineDepth = 1;
        main->NetIMAP41->HeaderRangeSize = 1;
    }
    ResetPeak();
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
    run.PeakMB = PeakMB();
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
    double poplib = 1e9, imaplib = 1e9, raw = 1e9, range = 1e9, longestGap = 0, peak = 0;
    int longGaps = 0, cycles = 0;
    for (int r = 0; r < rounds; ++r) {
        TCycleRun both = RunCycle(dc, folder, true, true);
        TCycleRun p = RunCycle(dc, folder, true, false);
        TCycleRun i = RunCycle(dc, folder, false, true);
        double a = TimePython(kPoplib, dc.Pop3Port(), "popper", messages);
        double b = TimePython(kImaplib, dc.ImapPort(), "imapper", messages);
        double c = TimePython(kRawPipelined, dc.Pop3Port(), "popper", messages);
        double d = TimePython(kImaplibRange, dc.ImapPort(), "imapper", messages);
        if (both.Counted != 2 * messages || p.Counted != messages || i.Counted != messages || a < 0 || b < 0 ||
            c < 0 || d < 0)
            return 1;
        for (const TCycleRun *x : {&both, &p, &i}) {
            if (x->LongestGapMs > longestGap)
                longestGap = x->LongestGapMs;
            longGaps += x->LongGaps;
            peak = std::max(peak, x->PeakMB);
            ++cycles;
        }
        if (both.Seconds < best.Seconds)
            best = both;
        if (p.Seconds < bestPop.Seconds)
            bestPop = p;
        if (i.Seconds < bestImap.Seconds)
            bestImap = i;
        poplib = std::min(poplib, a);
        imaplib = std::min(imaplib, b);
        raw = std::min(raw, c);
        range = std::min(range, d);
    }
    // The same cycle one command per answer and one FETCH per message.
    TCycleRun lockStep = RunCycle(dc, folder, true, true, true);
    if (lockStep.Counted != 2 * messages)
        return 1;

    std::printf("best of %d rounds, %d messages per mailbox:\n", rounds, messages);
    std::printf("  cycle, POP3 + IMAP4 accounts: %8.3f s\n", best.Seconds);
    std::printf("  poplib + imaplib:             %8.3f s   %.1fx the cycle's time\n", poplib + imaplib,
                (poplib + imaplib) / best.Seconds);
    std::printf("  cycle, POP3 account alone:    %8.3f s\n", bestPop.Seconds);
    std::printf("    poplib, lock-step TOPs:     %8.3f s   %.1fx the cycle's time (5x wanted)\n", poplib,
                poplib / bestPop.Seconds);
    std::printf("    raw pipelined client:       %8.3f s   the cycle takes %.2fx its time (1.5x at most)\n", raw,
                bestPop.Seconds / raw);
    std::printf("  cycle, IMAP4 account alone:   %8.3f s\n", bestImap.Seconds);
    std::printf("    imaplib, FETCH per message: %8.3f s   %.1fx the cycle's time (5x wanted)\n", imaplib,
                imaplib / bestImap.Seconds);
    std::printf("    imaplib, one range FETCH:   %8.3f s   the cycle takes %.2fx its time (1.5x at most)\n", range,
                bestImap.Seconds / range);
    std::printf("  lock-step cycle, both:        %8.3f s\n", lockStep.Seconds);
    std::printf("  longest gap between 10 ms timer ticks during the cycles: %.1f ms (%d gaps over 50 ms in %d cycles)\n",
                longestGap, longGaps, cycles);
    std::printf("  peak resident size during a cycle: %.1f MB (lock-step cycle: %.1f MB)\n", peak, lockStep.PeakMB);

    SetProgramFolder("");
    std::string rm = "rm -rf " + folder;
    (void)std::system(rm.c_str());
    SetDesktop(nullptr);
    SetTrayBackend(nullptr);
    return 0;
}
#endif
