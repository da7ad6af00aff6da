// Reads a stream of text lines (200 MB by default) from a loopback socket
// through the socket IO handler's ReadLn, and measures the raw socket
// throughput of the same machine in the same run (a plain recv loop that
// discards the bytes, as cat or socat would move them) for comparison.
//
//     bench_readln [megabytes] [line-length]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "NetIOHandlerStack.h"

namespace {

struct Listener {
    int fd = -1;
    int port = 0;
    Listener() {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(fd, 1);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { ::close(fd); }
};

// Accepts one client and sends total bytes of lines of lineLen (CR LF ended).
std::thread StartSender(Listener &l, int64_t total, int lineLen) {
    return std::thread([&l, total, lineLen] {
        int c = ::accept(l.fd, nullptr, nullptr);
        std::string line(size_t(lineLen), 'x');
        line[size_t(lineLen) - 2] = '\r';
        line[size_t(lineLen) - 1] = '\n';
        std::string block;
        while (block.size() < 1 << 20) block += line;
        int64_t left = total;
        while (left > 0) {
            size_t n = size_t(std::min<int64_t>(left, int64_t(block.size())));
            size_t off = 0;
            while (off < n) {
                ssize_t w = ::send(c, block.data() + off, n - off, MSG_NOSIGNAL);
                if (w <= 0) {
                    ::close(c);
                    return;
                }
                off += size_t(w);
            }
            left -= int64_t(n);
        }
        ::close(c);
    });
}

double Seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char **argv) {
    int64_t megabytes = argc > 1 ? atoll(argv[1]) : 200;
    int lineLen = argc > 2 ? atoi(argv[2]) : 80;
    if (megabytes <= 0 || lineLen < 3) {
        fprintf(stderr, "usage: bench_readln [megabytes] [line-length >= 3]\n");
        return 2;
    }
    const int64_t total = megabytes * 1000 * 1000 / lineLen * lineLen;

    // Raw socket throughput.
    double rawMBs;
    {
        Listener l;
        std::thread sender = StartSender(l, total, lineLen);
        int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(l.port));
        auto t0 = std::chrono::steady_clock::now();
        ::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
        static char buf[1 << 16];
        int64_t got = 0;
        ssize_t n;
        while ((n = ::recv(s, buf, sizeof buf, 0)) > 0) got += n;
        double secs = Seconds(t0);
        ::close(s);
        sender.join();
        rawMBs = double(got) / 1e6 / secs;
        printf("raw recv loop : %8.1f MB/s  (%lld bytes in %.2f s)\n", rawMBs, static_cast<long long>(got), secs);
    }

    // Lines through the IO handler.
    {
        Listener l;
        std::thread sender = StartSender(l, total, lineLen);
        auto h = NetCreateNoOwner<TNetIOHandlerStack>();
        h->SetHost("127.0.0.1");
        h->SetPort(l.port);
        h->ReadTimeout = 30000;
        auto t0 = std::chrono::steady_clock::now();
        h->Open();
        int64_t lines = 0, bytes = 0;
        try {
            while (true) {
                std::string line = h->ReadLn();
                ++lines;
                bytes += int64_t(line.size()) + 2;
            }
        } catch (const ENetConnClosedGracefully &) {
        }
        double secs = Seconds(t0);
        sender.join();
        double mbs = double(bytes) / 1e6 / secs;
        printf("IO handler    : %8.1f MB/s  (%lld lines of %d bytes in %.2f s, %.0f%% of raw)\n", mbs,
               static_cast<long long>(lines), lineLen, secs, 100.0 * mbs / rawMBs);
        if (bytes != total) {
            fprintf(stderr, "line bytes %lld differ from the %lld sent\n", static_cast<long long>(bytes),
                    static_cast<long long>(total));
            return 1;
        }
    }
    return 0;
}
