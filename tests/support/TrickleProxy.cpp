#include "TrickleProxy.h"

#include "TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool SendAll(int fd, const char *p, size_t n)
{
    while (n > 0) {
        ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

}  // namespace

TrickleProxy::TrickleProxy(int upstreamPort, int chunkBytes, int pauseMs)
    : FUpstreamPort(upstreamPort), FChunk(chunkBytes), FPauseMs(pauseMs)
{
    FListen = ListenLoopback(FPort, 4);
    if (pipe(FWake) != 0)
        throw std::runtime_error("pipe failed");
    FThread = std::thread([this] { Run(); });
}

TrickleProxy::~TrickleProxy()
{
    FStop = true;
    char c = 'x';
    (void)!write(FWake[1], &c, 1);
    FThread.join();
    close(FListen);
    close(FWake[0]);
    close(FWake[1]);
}

void TrickleProxy::Run()
{
    while (!FStop) {
        pollfd p[2] = {{FListen, POLLIN, 0}, {FWake[0], POLLIN, 0}};
        if (poll(p, 2, -1) < 0 && errno != EINTR)
            return;
        if (p[1].revents)
            return;
        if (!(p[0].revents & POLLIN))
            continue;
        int c = accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0)
            continue;
        Relay(c);
        close(c);
    }
}

void TrickleProxy::Relay(int client)
{
    int up = ConnectLoopback("127.0.0.1", FUpstreamPort);
    if (up < 0)
        return;
    std::string pending;  // the server's bytes not yet handed on
    bool upClosed = false;
    auto nextSend = std::chrono::steady_clock::now();
    for (;;) {
        if (upClosed && pending.empty())
            break;
        int wait = -1;
        if (!pending.empty()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            nextSend - std::chrono::steady_clock::now())
                            .count();
            wait = left > 0 ? int(left) : 0;
        }
        bool readUp = !upClosed && pending.size() < 65536;
        pollfd p[3] = {{client, POLLIN, 0}, {readUp ? up : -1, POLLIN, 0}, {FWake[0], POLLIN, 0}};
        int r = poll(p, 3, wait);
        if (r < 0 && errno != EINTR)
            break;
        if (p[2].revents)
            break;
        char buf[16384];
        if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = recv(client, buf, sizeof buf, 0);
            if (n <= 0 || !SendAll(up, buf, size_t(n)))
                break;
        }
        if (p[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = recv(up, buf, sizeof buf, 0);
            if (n > 0)
                pending.append(buf, size_t(n));
            else
                upClosed = true;
        }
        if (!pending.empty() && std::chrono::steady_clock::now() >= nextSend) {
            size_t n = std::min(pending.size(), size_t(FChunk));
            if (!SendAll(client, pending.data(), n))
                break;
            pending.erase(0, n);
            nextSend = std::chrono::steady_clock::now() + std::chrono::milliseconds(FPauseMs);
        }
    }
    close(up);
}
