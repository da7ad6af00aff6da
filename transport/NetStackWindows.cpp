#include "NetStackWindows.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "NetAntiFreeze.h"

namespace {

int KernelFamily(TNetIPVersion v) { return v == Net_IPv6 ? AF_INET6 : AF_INET; }

// The level and option numbers the program passes are the Winsock ones; the
// few that differ on this system are mapped here.
void MapOption(int &level, int &option) {
    if (level == 0xFFFF) {  // SOL_SOCKET
        level = SOL_SOCKET;
        switch (option) {
        case 0x0004: option = SO_REUSEADDR; break;
        case 0x0008: option = SO_KEEPALIVE; break;
        case 0x0020: option = SO_BROADCAST; break;
        case 0x1001: option = SO_SNDBUF; break;
        case 0x1002: option = SO_RCVBUF; break;
        case 0x1007: option = SO_ERROR; break;
        default: break;
        }
    } else if (level == 6 && option == 1) {
        level = IPPROTO_TCP;
        option = TCP_NODELAY;
    }
}

std::mutex GAddrInfoLock;
TNetAddrInfoFunc GAddrInfo;

TNetAddrInfoFunc CurrentAddrInfoFunc() {
    std::lock_guard<std::mutex> g(GAddrInfoLock);
    if (GAddrInfo) return GAddrInfo;
    return [](const char *node, const char *service, const addrinfo *hints, addrinfo **result) {
        return ::getaddrinfo(node, service, hints, result);
    };
}

struct SockAddr {
    sockaddr_storage storage{};
    socklen_t len = 0;
};

}  // namespace

TNetStackWindows::TNetStackWindows() {
    // A peer that goes away while we write must give an error, not kill the
    // program; the TLS library writes to the descriptor too, so the signal is
    // ignored process-wide.
    static bool sigpipeIgnored = [] {
        signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)sigpipeIgnored;
    char name[251] = {0};
    if (gethostname(name, 250) == 0) FHostName = name;
}

static void SetLastFromErrno(TNetStackBSDBase *s) { s->WSSetLastError(ErrnoToWinsockError(errno)); }

// A system call's result: a negative one records errno as the Winsock error
// and raises it.
static void CheckSysResult(TNetStackBSDBase *s, long r) {
    if (r >= 0) return;
    SetLastFromErrno(s);
    s->CheckForSocketError(Net_SOCKET_ERROR);
}

static SockAddr MakeAddr(TNetStackBSDBase *s, const std::string &ip, int port, TNetIPVersion v) {
    if (port < 0 || port > 65535) s->RaiseSocketError(10022);
    SockAddr a;
    if (v == Net_IPv4) {
        auto *in = reinterpret_cast<sockaddr_in *>(&a.storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(uint16_t(port));
        if (ip.empty())
            in->sin_addr.s_addr = htonl(INADDR_ANY);
        else if (!TNetStackWindows::TranslateStringToTInAddr(ip, &in->sin_addr, v))
            s->RaiseSocketError(10022);
        a.len = sizeof(sockaddr_in);
    } else if (v == Net_IPv6) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&a.storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(uint16_t(port));
        if (ip.empty())
            in6->sin6_addr = in6addr_any;
        else if (!TNetStackWindows::TranslateStringToTInAddr(ip, &in6->sin6_addr, v))
            s->RaiseSocketError(10022);
        a.len = sizeof(sockaddr_in6);
    } else {
        ENetIPVersionUnsupported::Toss("The requested IPVersion / Address family is not supported.");
    }
    return a;
}

static void SplitAddr(const sockaddr_storage &ss, std::string &ip, int &port, TNetIPVersion *version = nullptr) {
    if (ss.ss_family == AF_INET6) {
        auto *in6 = reinterpret_cast<const sockaddr_in6 *>(&ss);
        ip = TNetStackWindows::TranslateTInAddrToString(&in6->sin6_addr, Net_IPv6);
        port = ntohs(in6->sin6_port);
        if (version) *version = Net_IPv6;
    } else {
        auto *in = reinterpret_cast<const sockaddr_in *>(&ss);
        ip = TNetStackWindows::TranslateTInAddrToString(&in->sin_addr, Net_IPv4);
        port = ntohs(in->sin_port);
        if (version) *version = Net_IPv4;
    }
}

TNetStackSocketHandle TNetStackWindows::NewSocketHandle(int socketType, int protocol, TNetIPVersion ipVersion,
                                                        bool) {
    int type = socketType == Net_SOCK_DGRAM ? SOCK_DGRAM : SOCK_STREAM;
    int fd = ::socket(KernelFamily(ipVersion), type | SOCK_CLOEXEC, protocol);
    CheckSysResult(this, fd);
    return fd;
}

void TNetStackWindows::Bind(TNetStackSocketHandle h, const std::string &ip, int port, TNetIPVersion v) {
    SockAddr a = MakeAddr(this, ip, port, v);
    int r = ::bind(h, reinterpret_cast<sockaddr *>(&a.storage), a.len);
    CheckSysResult(this, r);
}

void TNetStackWindows::Connect(TNetStackSocketHandle h, const std::string &ip, int port, TNetIPVersion v) {
    SockAddr a = MakeAddr(this, ip, port, v);
    int r = ::connect(h, reinterpret_cast<sockaddr *>(&a.storage), a.len);
    if (r < 0 && errno == EINTR) {
        // The connect goes on in the background; wait for its outcome.
        while (!ConnectWait(h, -2)) {
        }
        return;
    }
    CheckSysResult(this, r);
}

bool TNetStackWindows::ConnectStart(TNetStackSocketHandle h, const std::string &ip, int port, TNetIPVersion v) {
    SockAddr a = MakeAddr(this, ip, port, v);
    int r = ::connect(h, reinterpret_cast<sockaddr *>(&a.storage), a.len);
    if (r == 0) return true;
    if (errno == EINPROGRESS || errno == EINTR || errno == EAGAIN) return false;
    SetLastFromErrno(this);
    CheckForSocketError(r);
    return true;
}

bool TNetStackWindows::ConnectWait(TNetStackSocketHandle h, int timeout) {
    pollfd p{h, POLLOUT, 0};
    uint32_t start = TicksNow();
    int r;
    while (true) {
        int t = -1;
        if (timeout >= 0) {
            uint32_t spent = TicksDiff(start, TicksNow());
            t = spent >= uint32_t(timeout) ? 0 : timeout - int(spent);
        }
        r = ::poll(&p, 1, t);
        if (r >= 0 || errno != EINTR) break;
    }
    if (r < 0) {
        SetLastFromErrno(this);
        RaiseLastSocketError();
    }
    if (r == 0) return false;
    if (p.revents & POLLNVAL) RaiseSocketError(Net_WSAENOTSOCK);
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(h, SOL_SOCKET, SO_ERROR, &err, &len) < 0) err = errno;
    if (err != 0) RaiseSocketError(ErrnoToWinsockError(err));
    return true;
}

void TNetStackWindows::Listen(TNetStackSocketHandle h, int backlog) {
    int r = ::listen(h, backlog);
    CheckSysResult(this, r);
}

TNetStackSocketHandle TNetStackWindows::Accept(TNetStackSocketHandle h, std::string &ip, int &port,
                                               TNetIPVersion &ipVersion) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    int fd;
    do {
        fd = ::accept4(h, reinterpret_cast<sockaddr *>(&ss), &len, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Net_INVALID_SOCKET;
    SplitAddr(ss, ip, port, &ipVersion);
    return fd;
}

void TNetStackWindows::Disconnect(TNetStackSocketHandle h) {
    ::shutdown(h, SHUT_WR);  // the peer may be gone already; closing matters
    ::close(h);
}

// getsockname or getpeername as address text and port.
static void AddressOf(TNetStackBSDBase *s, TNetStackSocketHandle h, std::string &ip, int &port,
                      int (*call)(int, sockaddr *, socklen_t *)) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    CheckSysResult(s, call(h, reinterpret_cast<sockaddr *>(&ss), &len));
    SplitAddr(ss, ip, port);
}

void TNetStackWindows::GetSocketName(TNetStackSocketHandle h, std::string &ip, int &port) {
    AddressOf(this, h, ip, port, ::getsockname);
}

void TNetStackWindows::GetPeerName(TNetStackSocketHandle h, std::string &ip, int &port) {
    AddressOf(this, h, ip, port, ::getpeername);
}

int TNetStackWindows::Receive(TNetStackSocketHandle h, TNetBytes &buffer) {
    ssize_t r;
    do {
        r = ::recv(h, buffer.data(), buffer.size(), 0);
    } while (r < 0 && errno == EINTR);
    CheckSysResult(this, long(r));
    return int(r);
}

int TNetStackWindows::Send(TNetStackSocketHandle h, const TNetBytes &buffer, size_t offset, int count) {
    if (offset > buffer.size()) ENetRangeException::Toss("Index out of bounds.");
    size_t n = count < 0 ? buffer.size() - offset : std::min(size_t(count), buffer.size() - offset);
    ssize_t r;
    do {
        r = ::send(h, buffer.data() + offset, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (r < 0 && errno == EINTR);
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return -1;
    CheckSysResult(this, long(r));
    return int(r);
}

int TNetStackWindows::ReceiveFrom(TNetStackSocketHandle h, TNetBytes &buffer, std::string &ip, int &port,
                                  TNetIPVersion) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    ssize_t r;
    do {
        r = ::recvfrom(h, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr *>(&ss), &len);
    } while (r < 0 && errno == EINTR);
    CheckSysResult(this, long(r));
    SplitAddr(ss, ip, port);
    return int(r);
}

void TNetStackWindows::SetSocketOption(TNetStackSocketHandle h, int level, int option, int value) {
    MapOption(level, option);
    int r = ::setsockopt(h, level, option, &value, sizeof value);
    CheckSysResult(this, r);
}

int TNetStackWindows::GetSocketOption(TNetStackSocketHandle h, int level, int option) {
    MapOption(level, option);
    int value = 0;
    socklen_t len = sizeof value;
    int r = ::getsockopt(h, level, option, &value, &len);
    CheckSysResult(this, r);
    return value;
}

void TNetStackWindows::SetBlocking(TNetStackSocketHandle h, bool blocking) {
    int flags = ::fcntl(h, F_GETFL);
    int r = flags < 0 ? -1 : ::fcntl(h, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
    CheckSysResult(this, r);
}

bool TNetStackWindows::WouldBlock(int result) {
    return result == Net_SOCKET_ERROR && WSGetLastError() == Net_WSAEWOULDBLOCK;
}

std::string TNetStackWindows::HostByName(const std::string &host, TNetIPVersion ipVersion) {
    if (ipVersion != Net_IPv4 && ipVersion != Net_IPv6)
        ENetIPVersionUnsupported::Toss("The requested IPVersion / Address family is not supported.");
    addrinfo hints{};
    hints.ai_family = KernelFamily(ipVersion);
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *res = nullptr;
    // Freed on every way out, also when an event handler raises while the
    // answer is awaited.
    struct Owner {
        addrinfo *&list;
        ~Owner() {
            if (list) ::freeaddrinfo(list);
        }
    } owner{res};
    TNetAddrInfoFunc resolve = CurrentAddrInfoFunc();
    int savedErrno = 0;
    int r = NetRunResolverCall([&] { return resolve(host.c_str(), nullptr, &hints, &res); }, savedErrno);
    if (r != 0) RaiseSocketError(AddrInfoErrorToWinsockError(r, savedErrno));
    std::string result;
    for (addrinfo *ai = res; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ipVersion == Net_IPv4) {
            result = TranslateTInAddrToString(&reinterpret_cast<sockaddr_in *>(ai->ai_addr)->sin_addr, Net_IPv4);
            break;
        }
        if (ai->ai_family == AF_INET6 && ipVersion == Net_IPv6) {
            result = TranslateTInAddrToString(&reinterpret_cast<sockaddr_in6 *>(ai->ai_addr)->sin6_addr, Net_IPv6);
            break;
        }
    }
    if (result.empty()) RaiseSocketError(Net_WSAHOST_NOT_FOUND);
    return result;
}

std::string TNetStackWindows::HostByAddress(const std::string &address, TNetIPVersion ipVersion) {
    SockAddr a = MakeAddr(this, address, 0, ipVersion);
    char host[NI_MAXHOST];
    int savedErrno = 0;
    int r = NetRunResolverCall(
        [&] {
            return ::getnameinfo(reinterpret_cast<sockaddr *>(&a.storage), a.len, host, sizeof host, nullptr, 0,
                                 NI_NAMEREQD);
        },
        savedErrno);
    if (r != 0) RaiseSocketError(AddrInfoErrorToWinsockError(r, savedErrno));
    return host;
}

std::string TNetStackWindows::TranslateTInAddrToString(const void *addr, TNetIPVersion ipVersion) {
    const auto *b = static_cast<const uint8_t *>(addr);
    if (ipVersion == Net_IPv4) return Format("%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    std::string s;
    for (int i = 0; i < 8; ++i) {
        if (i) s += ':';
        s += Format("%X", unsigned(b[2 * i] << 8 | b[2 * i + 1]));
    }
    return s;
}

bool TNetStackWindows::TranslateStringToTInAddr(const std::string &text, void *addr, TNetIPVersion ipVersion) {
    auto *b = static_cast<uint8_t *>(addr);
    if (ipVersion == Net_IPv4) {
        if (!IsIP(text)) return false;
        std::string s = text;
        for (int i = 0; i < 4; ++i) b[i] = uint8_t(StrToInt(Fetch(s, ".")));
        return true;
    }
    uint16_t w[8];
    try {
        ParseIPv6Words(text, w);
    } catch (const ENetInvalidIPv6Address &) {
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        b[2 * i] = uint8_t(w[i] >> 8);
        b[2 * i + 1] = uint8_t(w[i] & 0xFF);
    }
    return true;
}

std::string TNetStackWindows::ErrorText(int code) {
    if (code == Net_WSAHOST_NOT_FOUND) return "Host not found.";
    return TNetStackBSDBase::ErrorText(code);
}

void TNetStackWindows::SetAddrInfoFunc(TNetAddrInfoFunc func) {
    std::lock_guard<std::mutex> g(GAddrInfoLock);
    GAddrInfo = std::move(func);
}

namespace {
struct ResolverJob {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    int result = 0;
    int savedErrno = 0;
};

int RunInPlace(const std::function<int()> &call, int &savedErrno) {
    errno = 0;
    int r = call();
    savedErrno = errno;
    return r;
}
}  // namespace

int NetRunResolverCall(const std::function<int()> &call, int &savedErrno) {
    int slice = NetAntiFreezeSlice();
    if (slice < 0) return RunInPlace(call, savedErrno);
    ResolverJob job;
    std::jthread worker;
    try {
        worker = std::jthread([&job, &call] {
            errno = 0;
            int r = call();
            int e = errno;
            std::lock_guard<std::mutex> g(job.lock);
            job.result = r;
            job.savedErrno = e;
            job.done = true;
            job.finished.notify_all();
        });
    } catch (const std::system_error &) {
        return RunInPlace(call, savedErrno);  // no thread to spare: block as before
    }
    // An exception from an event handler leaves through here; the worker is
    // then joined by its destructor before job and call go out of scope, so
    // no resolver call outlives the caller.
    std::unique_lock<std::mutex> lk(job.lock);
    while (!job.done) {
        if (slice < 0) {
            // The anti-freeze went away or was switched off meanwhile.
            job.finished.wait(lk, [&] { return job.done; });
            break;
        }
        if (job.finished.wait_for(lk, std::chrono::milliseconds(slice), [&] { return job.done; })) break;
        lk.unlock();
        TNetAntiFreezeBase::DoProcess(true);
        slice = NetAntiFreezeSlice();
        lk.lock();
    }
    savedErrno = job.savedErrno;
    return job.result;
}
