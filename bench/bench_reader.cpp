// The message reader opened on a large POP3 account: how long until every
// row is listed, beside Python's poplib reading the same headers and sizes
// ("TOP n 0" and "LIST n" for each message) from the same private Dovecot,
// and how responsive the window stays meanwhile: the longest gap between
// two ticks of a 10 ms timer running on the window's event loop, over the
// whole load and once the log-in is done (during the connect and log-in the
// window is served by the anti-freeze, every IdleTimeOut of 250 ms).
// Usage: bench_reader [messages]  (5000 by default). Runs offscreen.
#include <QApplication>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "ChildProcess.h"
#include "Desktop.h"
#include "dialogs/DialogSeam.h"
#include "DovecotServer.h"
#include "mainwindow/FrmMain.h"
#include "settings/ProgramPaths.h"
#include "SimpleTimer.h"
#include "TestSupport.h"
#include "TrayBackend.h"
#include "reader/unShowBody.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

const char *kPoplib = R"PY(
import poplib, sys, time
host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
t = time.perf_counter()
p = poplib.POP3(host, port, timeout=30)
p.user(user)
p.pass_(password)
count, size = p.stat()
for n in range(1, count + 1):
    p.top(n, 0)
    p.list(n)
p.quit()
print(count, time.perf_counter() - t)
)PY";

}  // namespace

int main(int argc, char **argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const int messages = argc > 1 ? std::atoi(argv[1]) : 5000;
    QApplication app(argc, argv);
    std::string why = DovecotServer::Unavailable();
    if (!why.empty()) {
        std::fprintf(stderr, "bench_reader: no Dovecot here: %s\n", why.c_str());
        return 1;
    }
    DovecotServer dc;
    dc.FillMailbox(dc.UserName(), messages);
    TempDir dir;
    SetProgramFolder(dir.Path());
    TRecordingTrayBackend tray;
    TRecordingDesktop desk;
    SetTrayBackend(&tray);
    SetDesktop(&desk);

    int rows = 0;
    double ours = -1, longestGap = 0, gapAt = 0;
    int longGaps = 0;
    double listingGap = 0;
    bool listing = false;  // the last tick saw headers in
    TfrmMessBody *reader = nullptr;
    Clock::time_point startTime;
    {
        TFrmMain main;
        for (TTimer *t : {main.Timer1, main.Timer5, main.Timer6, main.Timer8}) t->SetEnabled(false);
        Tiedot t;
        t.Name = "bench";
        t.Host = dc.Host();
        t.Port = dc.Pop3Port();
        t.UserName = dc.UserName();
        t.Password = dc.Password();
        t.Kind = ckPOP3;
        main.State.Accounts.Items.push_back(std::move(t));
        main.State.Accounts.LastIndex = 0;

        Clock::time_point lastTick;
        QTimer pulse;
        pulse.setInterval(10);
        QObject::connect(&pulse, &QTimer::timeout, [&] {
            auto now = Clock::now();
            double gap = std::chrono::duration<double>(now - lastTick).count();
            if (gap > longestGap) {
                longestGap = gap;
                gapAt = std::chrono::duration<double>(lastTick - startTime).count();
            }
            if (gap > 0.05) ++longGaps;
            // Once the first header is in, the log-in is behind us.
            if (listing) listingGap = std::max(listingGap, gap);
            listing = reader && !reader->Entries.empty();
            lastTick = now;
        });
        SetModalHook([&](QDialog &d) {
            auto &f = dynamic_cast<TfrmMessBody &>(d);
            reader = &f;
            auto start = Clock::now();
            startTime = start;
            lastTick = start;
            pulse.start();
            // The load starts on the window's own timer, as it does for a user.
            while (f.Timer1->Enabled() || f.Busy) app.processEvents(QEventLoop::WaitForMoreEvents, 50);
            ours = Seconds(start);
            pulse.stop();
            rows = f.MailList->topLevelItemCount();
            reader = nullptr;
        });
        ShowMessageReader(800, 600);
        SetModalHook({});
    }

    std::string out, err;
    int rc = RunPython(kPoplib, {dc.Host(), std::to_string(dc.Pop3Port()), dc.UserName(), dc.Password()}, &out, &err);
    int count = 0;
    double poplib = -1;
    if (rc != 0 || std::sscanf(out.c_str(), "%d %lf", &count, &poplib) != 2) {
        std::fprintf(stderr, "poplib failed: %s\n", err.c_str());
        return 1;
    }
    std::printf("messages            %d\n", messages);
    std::printf("reader rows         %d%s\n", rows, rows == messages ? "" : "  (MISSING ROWS)");
    std::printf("reader list         %.3f s  (%.1f us per message)\n", ours, ours * 1e6 / messages);
    std::printf("poplib TOP+LIST     %.3f s  (%.1f us per message)\n", poplib, poplib * 1e6 / count);
    std::printf("ratio reader/poplib %.2f\n", poplib > 0 ? ours / poplib : 0.0);
    std::printf("longest 10 ms timer gap while listing: %.1f ms (from %.2f s on; gaps over 50 ms: %d)\n",
                longestGap * 1000, gapAt, longGaps);
    std::printf("longest gap once the first header was in: %.1f ms\n", listingGap * 1000);
    return rows == messages ? 0 : 1;
}
