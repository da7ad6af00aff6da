// Header reading speed of TNetPOP3 beside Python's poplib, against the same
// private Dovecot in the same run: log in to a mailbox of N messages (10000
// by default) and read every header with "TOP n 0".
// Usage: bench_pop3 [messages] [rounds]  (10000 and 3 by default).
// Prints the best time of each, per message, and their ratio; then the same
// for one whole message of 20 MB of text lines fetched with "RETR".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "DovecotServer.h"
#include "NetPOP3.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

std::unique_ptr<TNetPOP3> Client(const DovecotServer &dc) {
    auto pop = NetCreateNoOwner<TNetPOP3>();
    pop->SetHost(dc.Host());
    pop->SetPort(dc.Pop3Port());
    pop->Username = dc.UserName();
    pop->Password = dc.Password();
    pop->SetReadTimeout(30000);
    return pop;
}

// Seconds for log-in, STAT and every header; -1 when it fails.
double TimeOurs(const DovecotServer &dc, int expect, long long &headerBytes) {
    try {
        auto pop = Client(dc);
        auto msg = NetCreateNoOwner<TNetMessage>();
        auto t = Clock::now();
        pop->Connect();
        int count = pop->GetMessageCount();
        headerBytes = 0;
        for (int n = 1; n <= count; ++n) {
            pop->RetrieveHeaders(n, *msg);
            for (const auto &l : msg->Headers) headerBytes += int64_t(l.size()) + 2;
        }
        pop->Disconnect();
        double s = Seconds(t);
        if (count != expect) {
            std::fprintf(stderr, "TNetPOP3 counted %d messages, expected %d\n", count, expect);
            return -1;
        }
        return s;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "TNetPOP3 failed: %s\n", e.what());
        return -1;
    }
}

// poplib measures itself, so the interpreter's start is not counted.
const char *kPoplib = R"PY(
import poplib, sys, time
host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
t = time.perf_counter()
p = poplib.POP3(host, port, timeout=30)
p.user(user)
p.pass_(password)
count, size = p.stat()
total = 0
for n in range(1, count + 1):
    resp, lines, octets = p.top(n, 0)
    for l in lines:
        if l == b"":
            break
        total += len(l) + 2
p.quit()
print(count, total, time.perf_counter() - t)
)PY";

double TimePoplib(const DovecotServer &dc, int expect, long long &headerBytes) {
    std::string out, err;
    int rc = RunPython(kPoplib, {dc.Host(), std::to_string(dc.Pop3Port()), dc.UserName(), dc.Password()}, &out, &err);
    int count = 0;
    double s = -1;
    if (rc != 0 || std::sscanf(out.c_str(), "%d %lld %lf", &count, &headerBytes, &s) != 3 || count != expect) {
        std::fprintf(stderr, "poplib failed: %s%s\n", out.c_str(), err.c_str());
        return -1;
    }
    return s;
}

double TimeOursRetr(const DovecotServer &dc, int n, size_t &lines) {
    try {
        auto pop = Client(dc);
        auto msg = NetCreateNoOwner<TNetMessage>();
        pop->Connect();
        auto t = Clock::now();
        if (!pop->RetrieveMessage(n, *msg)) return -1;
        double s = Seconds(t);
        lines = size_t(msg->Body.Count());
        pop->Disconnect();
        return s;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "TNetPOP3 failed: %s\n", e.what());
        return -1;
    }
}

const char *kPoplibRetr = R"PY(
import poplib, sys, time
host, port, user, password, n = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], int(sys.argv[5])
p = poplib.POP3(host, port, timeout=30)
p.user(user)
p.pass_(password)
t = time.perf_counter()
resp, lines, octets = p.retr(n)
s = time.perf_counter() - t
p.quit()
print(len(lines), s)
)PY";

double TimePoplibRetr(const DovecotServer &dc, int n, size_t &lines) {
    std::string out, err;
    int rc = RunPython(kPoplibRetr,
                       {dc.Host(), std::to_string(dc.Pop3Port()), dc.UserName(), dc.Password(), std::to_string(n)},
                       &out, &err);
    double s = -1;
    if (rc != 0 || std::sscanf(out.c_str(), "%zu %lf", &lines, &s) != 2) {
        std::fprintf(stderr, "poplib failed: %s%s\n", out.c_str(), err.c_str());
        return -1;
    }
    return s;
}

}  // namespace

int main(int argc, char **argv) {
    int messages = argc > 1 ? std::atoi(argv[1]) : 10000;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (messages < 1 || rounds < 1) {
        std::fprintf(stderr, "usage: bench_pop3 [messages] [rounds]\n");
        return 2;
    }
    std::string why = DovecotServer::Unavailable();
    if (!why.empty()) {
        std::fprintf(stderr, "no Dovecot: %s\n", why.c_str());
        return 2;
    }
    DovecotServer dc;
    std::printf("filling a mailbox with %d messages...\n", messages);
    std::fflush(stdout);
    auto fill = Clock::now();
    dc.FillMailbox(dc.UserName(), messages);
    std::printf("filled in %.1f s\n", Seconds(fill));

    // The first pass lets Dovecot build its index, for both alike.
    long long oursBytes = 0, poplibBytes = 0;
    if (TimeOurs(dc, messages, oursBytes) < 0) return 1;
    double ours = -1, theirs = -1;
    for (int r = 0; r < rounds; ++r) {
        double a = TimeOurs(dc, messages, oursBytes);
        double b = TimePoplib(dc, messages, poplibBytes);
        if (a < 0 || b < 0) return 1;
        if (ours < 0 || a < ours) ours = a;
        if (theirs < 0 || b < theirs) theirs = b;
    }
    std::printf("TNetPOP3: %8.3f s  (%6.1f us per header, %lld header bytes)\n", ours, ours * 1e6 / messages,
                oursBytes);
    std::printf("poplib:   %8.3f s  (%6.1f us per header, %lld header bytes)\n", theirs, theirs * 1e6 / messages,
                poplibBytes);
    std::printf("ratio TNetPOP3/poplib: %.2f\n", ours / theirs);
    if (oursBytes != poplibBytes) {
        std::fprintf(stderr, "header bytes differ\n");
        return 1;
    }

    std::string big = "From: a@example.org\r\nTo: b@example.org\r\nSubject: big\r\n\r\n";
    const int kLines = 20 * 1024 * 1024 / 100;
    char row[128];
    for (int i = 0; i < kLines; ++i) {
        std::snprintf(row, sizeof row, "%09d %s\r\n", i, std::string(88, 'x').c_str());
        big += row;
    }
    dc.AddMessage(dc.UserName(), big);
    size_t ourLines = 0, theirLines = 0;
    double a = -1, b = -1;
    for (int r = 0; r < rounds; ++r) {
        double x = TimeOursRetr(dc, messages + 1, ourLines);
        double y = TimePoplibRetr(dc, messages + 1, theirLines);
        if (x < 0 || y < 0) return 1;
        if (a < 0 || x < a) a = x;
        if (b < 0 || y < b) b = y;
    }
    std::printf("RETR 20 MB: TNetPOP3 %.3f s (%zu body lines), poplib %.3f s (%zu lines), ratio %.2f\n", a,
                ourLines, b, theirLines, a / b);
    return 0;
}
