// What a SOCKS proxy costs a check: TNetPOP3 reads every header of a mailbox
// of N messages (1000 by default) with "TOP n 0" from a private Dovecot,
// straight and through SOCKS 5 proxies on loopback (microsocks and dante,
// each where installed), in the same run; beside it Python's poplib over the
// same routes (its socket opened through SOCKS 5 by a few lines of the
// script), so that what a proxy itself adds to every round trip shows apart
// from what our client adds. The proxy should cost us only its connect.
// Usage: bench_socks [messages] [rounds]  (1000 and 5 by default).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "ChildProcess.h"
#include "DovecotServer.h"
#include "NetPOP3.h"
#include "NetSocks.h"
#include "SocksServers.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

struct Timing {
    double Connect = -1;  // to the greeting and the log-in
    double Total = -1;    // connect, count, every header, quit
};

// proxyPort 0: straight to the server.
bool TimeOnce(const DovecotServer &dc, int proxyPort, int expect, Timing &t) {
    try {
        auto pop = NetCreateNoOwner<TNetPOP3>();
        auto *io = NetCreate<TNetIOHandlerStack>(pop.get());
        pop->SetIOHandler(io);
        if (proxyPort) {
            auto socks = NetCreateNoOwner<TNetSocksInfo>();
            socks->Host = "127.0.0.1";
            socks->Port = proxyPort;
            socks->Version = svSocks5;
            io->SetTransparentProxy(socks.get());
        }
        pop->SetHost(dc.Host());
        pop->SetPort(dc.Pop3Port());
        pop->Username = dc.UserName();
        pop->Password = dc.Password();
        pop->SetReadTimeout(30000);
        auto msg = NetCreateNoOwner<TNetMessage>();
        auto start = Clock::now();
        pop->Connect();
        t.Connect = Seconds(start);
        int count = pop->GetMessageCount();
        for (int n = 1; n <= count; ++n) pop->RetrieveHeaders(n, *msg);
        pop->Disconnect();
        t.Total = Seconds(start);
        if (count != expect) {
            std::fprintf(stderr, "counted %d messages, expected %d\n", count, expect);
            return false;
        }
        return true;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "TNetPOP3 failed: %s\n", e.what());
        return false;
    }
}

// poplib measures itself, so the interpreter's start is not counted.
const char *kPoplib = R"PY(
import poplib, socket, struct, sys, time
host, port, user, password, proxy = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], int(sys.argv[5])

class Proxied(poplib.POP3):
    def _create_socket(self, timeout):
        if not proxy:
            return super()._create_socket(timeout)
        s = socket.create_connection(("127.0.0.1", proxy), timeout)
        s.sendall(b"\x05\x01\x00")
        assert s.recv(2) == b"\x05\x00"
        s.sendall(b"\x05\x01\x00\x01" + socket.inet_aton(host) + struct.pack(">H", port))
        reply = b""
        while len(reply) < 10:
            reply += s.recv(10 - len(reply))
        assert reply[1] == 0
        return s

t = time.perf_counter()
p = Proxied(host, port, timeout=30)
p.user(user)
p.pass_(password)
count, size = p.stat()
for n in range(1, count + 1):
    p.top(n, 0)
p.quit()
print(count, time.perf_counter() - t)
)PY";

double TimePoplib(const DovecotServer &dc, int proxyPort, int expect) {
    std::string out, err;
    int rc = RunPython(kPoplib, {dc.Host(), std::to_string(dc.Pop3Port()), dc.UserName(), dc.Password(),
                                 std::to_string(proxyPort)},
                       &out, &err);
    int count = 0;
    double s = -1;
    if (rc != 0 || std::sscanf(out.c_str(), "%d %lf", &count, &s) != 2 || count != expect) {
        std::fprintf(stderr, "poplib failed: %s%s\n", out.c_str(), err.c_str());
        return -1;
    }
    return s;
}

}  // namespace

int main(int argc, char **argv) {
    int messages = argc > 1 ? std::atoi(argv[1]) : 1000;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    if (messages < 1 || rounds < 1) {
        std::fprintf(stderr, "usage: bench_socks [messages] [rounds]\n");
        return 2;
    }
    std::string why = DovecotServer::Unavailable();
    if (!why.empty()) {
        std::fprintf(stderr, "no Dovecot: %s\n", why.c_str());
        return 2;
    }
    DovecotServer dc;
    dc.FillMailbox(dc.UserName(), messages);

    struct Route {
        std::string Name;
        int Port = 0;
        Timing Best;
        double Poplib = -1;
    };
    std::vector<Route> routes{{"straight", 0, {}}};
    std::unique_ptr<MicrosocksServer> micro;
    std::unique_ptr<DanteServer> dante;
    if (MicrosocksServer::Unavailable().empty()) {
        micro = std::make_unique<MicrosocksServer>();
        routes.push_back({"microsocks", micro->Port(), {}});
    }
    if (DanteServer::Unavailable().empty()) {
        dante = std::make_unique<DanteServer>();
        routes.push_back({"dante", dante->Port(), {}});
    }
    if (routes.size() == 1) {
        std::fprintf(stderr, "no SOCKS server installed (scripts/setup.sh)\n");
        return 2;
    }

    // The first pass lets Dovecot build its index, for every route alike.
    Timing warm;
    if (!TimeOnce(dc, 0, messages, warm)) return 1;
    for (int r = 0; r < rounds; ++r) {
        for (auto &route : routes) {
            Timing t;
            if (!TimeOnce(dc, route.Port, messages, t)) return 1;
            if (route.Best.Total < 0 || t.Total < route.Best.Total) route.Best.Total = t.Total;
            if (route.Best.Connect < 0 || t.Connect < route.Best.Connect) route.Best.Connect = t.Connect;
            double p = TimePoplib(dc, route.Port, messages);
            if (p < 0) return 1;
            if (route.Poplib < 0 || p < route.Poplib) route.Poplib = p;
        }
    }
    std::printf("%d header fetches (TOP n 0), best of %d rounds:\n", messages, rounds);
    const Route &base = routes[0];
    for (const auto &route : routes) {
        std::printf("  %-11s TNetPOP3 %7.3f s (%6.1f us per header; connect and log-in %6.2f ms)   poplib %7.3f s",
                    route.Name.c_str(), route.Best.Total, route.Best.Total * 1e6 / messages,
                    route.Best.Connect * 1e3, route.Poplib);
        if (route.Port)
            std::printf("\n  %-11s proxy adds: TNetPOP3 %+.3f s (%+.3f s past the connect), poplib %+.3f s", "",
                        route.Best.Total - base.Best.Total,
                        (route.Best.Total - route.Best.Connect) - (base.Best.Total - base.Best.Connect),
                        route.Poplib - base.Poplib);
        std::printf("\n");
    }
    return 0;
}
