// Helpers of the transport tests: a plain loopback listener, descriptor and
// thread counting, and a running Qt event loop for the anti-freeze tests.
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cstdlib>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "NetAntiFreeze.h"
#include "NetStack.h"
#include "QtTestApp.h"
#include "TestSupport.h"

// Holds a stack reference for the duration of a test.
struct StackRef {
    StackRef() { TNetStack::IncUsage(); }
    ~StackRef() { TNetStack::DecUsage(); }
};

// An installed anti-freeze that runs Qt's event loop in 20 ms steps.
struct GuiAntiFreeze {
    GuiAntiFreeze() {
        EnsureQApplication();
        TNetAntiFreeze::SetProcessMessagesHook([](bool) { QCoreApplication::processEvents(); });
        AntiFreeze = NetCreateNoOwner<TNetAntiFreeze>();
        AntiFreeze->IdleTimeOut = 20;
    }
    ~GuiAntiFreeze() {
        AntiFreeze.reset();
        TNetAntiFreeze::SetProcessMessagesHook(nullptr);
    }
    std::unique_ptr<TNetAntiFreeze> AntiFreeze;
};

// A Qt timer ticking every 10 ms: about 100 ticks a second while the event
// loop runs, 0 or 1 when it is frozen.
struct TickCounter {
    TickCounter() {
        QObject::connect(&Timer, &QTimer::timeout, [this] { ++Ticks; });
        Timer.start(10);
    }
    QTimer Timer;
    int Ticks = 0;
};

// A listening socket on 127.0.0.1 (or ::1) and an ephemeral port; port 0
// when it cannot listen.
class LoopbackListener {
public:
    explicit LoopbackListener(bool ipv6 = false, int backlog = 16) {
        fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 a6{};
        sockaddr_in a4{};
        a6.sin6_family = AF_INET6;
        a6.sin6_addr = in6addr_loopback;
        a4.sin_family = AF_INET;
        a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        auto *a = ipv6 ? reinterpret_cast<sockaddr *>(&a6) : reinterpret_cast<sockaddr *>(&a4);
        socklen_t len = ipv6 ? sizeof a6 : sizeof a4;
        if (::bind(fd, a, len) == 0 && ::listen(fd, backlog) == 0 && ::getsockname(fd, a, &len) == 0)
            port = ntohs(ipv6 ? a6.sin6_port : a4.sin_port);
    }
    ~LoopbackListener() {
        if (fd >= 0) ::close(fd);
    }
    int Accept() { return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC); }
    int fd = -1;
    int port = 0;
};

// A port nothing listens on, below the ephemeral range: a connect to an
// ephemeral port can pick that very port as its source and connect to itself.
inline int RefusingPort() {
    static unsigned seed = unsigned(::getpid());
    for (int attempt = 0; attempt < 1000; ++attempt) {
        int port = 20000 + int(rand_r(&seed) % 12000);
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(port));
        bool free = ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        ::close(fd);
        if (free) return port;
    }
    return 1;  // reserved for tcpmux, never served here
}

inline int EntryCount(const char *dir) {
    int n = 0;
    if (DIR *d = ::opendir(dir)) {
        while (dirent *e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
    }
    return n;
}
inline int OpenDescriptorCount() { return EntryCount("/proc/self/fd") - 1; }  // less the listing's own
inline int ThreadCount() { return EntryCount("/proc/self/task"); }

inline void WriteAll(int fd, const std::string &s) {
    size_t off = 0;
    while (off < s.size()) {
        ssize_t n = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return;
        off += size_t(n);
    }
}

// call must raise the socket error code with the usual "Socket Error # "
// text and text after the line break.
inline void ExpectSocketError(const std::function<void()> &call, int code, const std::string &text) {
    try {
        call();
        ADD_FAILURE() << "no error for " << code;
    } catch (const ENetSocketError &e) {
        EXPECT_EQ(e.LastError(), code);
        EXPECT_EQ(e.Message(), "Socket Error # " + std::to_string(code) + "\r\n" + text);
    }
}
