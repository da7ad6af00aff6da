// Fetches the headers of every message of a 10,000-message mailbox from a
// private Dovecot, one FETCH per message as a mailbox check does, and prints
// the time beside Python's imaplib doing the same against the same server
// in the same run.  bench_imap [count]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#if __has_include("DovecotServer.h")
#include "DovecotServer.h"
#define HAVE_DOVECOT_FIXTURE 1
#endif
#include "NetIMAP4.h"
#include "NetMessage.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point a) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

const char *kImapLib = R"PY(
import imaplib, sys, time
host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
t = time.monotonic()
m = imaplib.IMAP4(host, port)
m.login(user, password)
typ, data = m.select("INBOX")
count = int(data[0])
total = 0
for n in range(1, count + 1):
    typ, data = m.fetch(str(n), "(RFC822.HEADER)")
    total += len(data[0][1])
m.logout()
print(count, total, time.monotonic() - t)
)PY";

}  // namespace

#ifndef HAVE_DOVECOT_FIXTURE
int main() {
    std::fprintf(stderr, "bench_imap: needs the test fixtures (configure with TW_BUILD_TESTS=ON)\n");
    return 1;
}
#else
int main(int argc, char **argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    std::string why = DovecotServer::Unavailable();
    if (!why.empty()) {
        std::fprintf(stderr, "bench_imap: %s\n", why.c_str());
        return 1;
    }
    DovecotServer server;
    auto t = std::chrono::steady_clock::now();
    server.FillMailbox(server.UserName(), count, "INBOX", 1, false, 20);
    std::printf("filled %d messages in %.1f s\n", count, Seconds(t));

    // A first pass lets Dovecot build its index, so neither side pays for it.
    std::string out, err;
    std::vector<std::string> args = {server.Host(), std::to_string(server.ImapPort()), server.UserName(),
                                     server.Password()};
    RunPython(kImapLib, args, &out, &err);

    auto client = NetCreateNoOwner<TNetIMAP4>();
    client->SetHost(server.Host());
    client->SetPort(server.ImapPort());
    client->Username = server.UserName();
    client->Password = server.Password();
    auto msg = NetCreateNoOwner<TNetMessage>();
    int64_t headerLines = 0;
    t = std::chrono::steady_clock::now();
    client->Connect(true);
    client->SelectMailBox("INBOX");
    const int total = client->MailBox()->TotalMsgs;
    for (int n = 1; n <= total; ++n) {
        if (!client->RetrieveHeaders(n, *msg)) {
            std::fprintf(stderr, "bench_imap: header %d failed\n", n);
            return 1;
        }
        headerLines += msg->Headers.Count();
    }
    client->Disconnect();
    double ours = Seconds(t);
    std::printf("TNetIMAP4: %d headers (%lld lines, parsed into TNetMessage) in %.2f s, %.0f headers/s\n", total,
                (long long)headerLines, ours, total / ours);

    // The checking cycle also asks for the flags of every message.
    t = std::chrono::steady_clock::now();
    client->Connect(true);
    client->SelectMailBox("INBOX");
    for (int n = 1; n <= total; ++n) {
        client->RetrieveHeaders(n, *msg);
        client->GetMessageFlags(n);
    }
    client->Disconnect();
    double cycle = Seconds(t);
    std::printf("TNetIMAP4: %d headers and flags (as a check does) in %.2f s\n", total, cycle);

    out.clear();
    t = std::chrono::steady_clock::now();
    int rc = RunPython(kImapLib, args, &out, &err);
    double pyTotal = Seconds(t);
    if (rc != 0) {
        std::fprintf(stderr, "bench_imap: imaplib failed: %s\n", err.c_str());
        return 1;
    }
    int pyCount = 0;
    long long pyBytes = 0;
    double pyTime = 0;
    std::sscanf(out.c_str(), "%d %lld %lf", &pyCount, &pyBytes, &pyTime);
    std::printf("imaplib:   %d headers (%lld bytes, not parsed) in %.2f s (%.2f s with interpreter start)\n",
                pyCount, pyBytes, pyTime, pyTotal);
    return 0;
}
#endif
