#include "NetStack.h"

#include <netdb.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "NetStackWindows.h"

TNetStack *GStack = nullptr;

namespace {
std::mutex GStackLock;
int GStackUsage = 0;
thread_local int GLastWsaError = 0;

struct ErrText {
    int code;
    const char *text;
};
const ErrText GErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Buffer fault."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block."},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
};

// Waits on the descriptors; retried on EINTR with the time that is left.
int PollRetry(pollfd *fds, nfds_t n, int timeout) {
    uint32_t start = TicksNow();
    while (true) {
        int t = timeout;
        if (timeout >= 0) {
            uint32_t spent = TicksDiff(start, TicksNow());
            t = spent >= uint32_t(timeout) ? 0 : timeout - int(spent);
        }
        int r = poll(fds, n, t);
        if (r >= 0 || errno != EINTR) return r;
    }
}
}  // namespace

int ErrnoToWinsockError(int err) {
    switch (err) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: case ENFILE: return 10024;
    case EAGAIN: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: case EPIPE: return 10054;
    case ENOBUFS: case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    default: return err;  // outside the table: the number itself, no text
    }
}

int AddrInfoErrorToWinsockError(int eaiCode, int savedErrno) {
    switch (eaiCode) {
    case 0: return 0;
    case EAI_AGAIN: return Net_WSATRY_AGAIN;
    case EAI_BADFLAGS: return 10022;
    case EAI_FAIL: return Net_WSANO_RECOVERY;
    case EAI_FAMILY: return 10047;
    case EAI_MEMORY: return 8;
    case EAI_NONAME: return Net_WSAHOST_NOT_FOUND;
#ifdef EAI_NODATA
    case EAI_NODATA: return Net_WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return Net_WSANO_DATA;
#endif
    case EAI_SERVICE: return 10109;
    case EAI_SOCKTYPE: return 10044;
    case EAI_SYSTEM: {
        int code = ErrnoToWinsockError(savedErrno);
        return code ? code : Net_WSANO_RECOVERY;
    }
    default: return Net_WSANO_RECOVERY;  // a failure is never "error 0"
    }
}

// ---------------------------------------------------------------------------
TNetSocketList::TNetSocketList(const TNetSocketList &other) {
    auto &o = const_cast<TNetSocketList &>(other);
    o.FLock.Enter();
    FSockets = o.FSockets;
    o.FLock.Leave();
}

void TNetSocketList::Add(TNetStackSocketHandle h) {
    std::lock_guard<TNetCriticalSection> g(FLock);
    if (FSockets.size() >= size_t(MaxSockets)) ENetStackSetSizeExceeded::Toss("Set Size Exceeded.");
    FSockets.push_back(h);
}

void TNetSocketList::Remove(TNetStackSocketHandle h) {
    std::lock_guard<TNetCriticalSection> g(FLock);
    auto it = std::find(FSockets.begin(), FSockets.end(), h);
    if (it == FSockets.end()) return;
    *it = FSockets.back();  // the last entry moves into the freed place
    FSockets.pop_back();
}

void TNetSocketList::Clear() {
    std::lock_guard<TNetCriticalSection> g(FLock);
    FSockets.clear();
}

int TNetSocketList::Count() {
    std::lock_guard<TNetCriticalSection> g(FLock);
    return int(FSockets.size());
}

TNetStackSocketHandle TNetSocketList::Item(int index) {
    std::lock_guard<TNetCriticalSection> g(FLock);
    if (index < 0 || size_t(index) >= FSockets.size()) ENetStackSetSizeExceeded::Toss("Set Size Exceeded.");
    return FSockets[size_t(index)];
}

bool TNetSocketList::Contains(TNetStackSocketHandle h) {
    std::lock_guard<TNetCriticalSection> g(FLock);
    return std::find(FSockets.begin(), FSockets.end(), h) != FSockets.end();
}

TNetSocketList TNetSocketList::Clone() { return TNetSocketList(*this); }

bool TNetSocketList::SelectRead(int timeout) {
    TNetSocketList ready;
    return SelectReadList(ready, timeout);
}

bool TNetSocketList::SelectReadList(TNetSocketList &ready, int timeout) {
    std::vector<pollfd> fds;
    {
        std::lock_guard<TNetCriticalSection> g(FLock);
        for (int h : FSockets) fds.push_back(pollfd{h, POLLIN, 0});
    }
    int r = PollRetry(fds.data(), fds.size(), timeout == -2 ? -1 : std::max(timeout, 0));
    if (r < 0) GBSDStack()->RaiseSocketError(ErrnoToWinsockError(errno));
    ready.Clear();
    for (const pollfd &p : fds)
        if (p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) ready.Add(p.fd);
    return r > 0;
}

bool TNetSocketList::Select(TNetSocketList *readList, TNetSocketList *writeList, TNetSocketList *exceptList,
                            int timeout) {
    std::vector<pollfd> fds;
    std::vector<int> kinds;
    auto addAll = [&](TNetSocketList *l, short events, int kind) {
        if (!l) return;
        std::lock_guard<TNetCriticalSection> g(l->FLock);
        for (int h : l->FSockets) {
            fds.push_back(pollfd{h, events, 0});
            kinds.push_back(kind);
        }
    };
    addAll(readList, POLLIN, 0);
    addAll(writeList, POLLOUT, 1);
    addAll(exceptList, POLLPRI, 2);
    int r = PollRetry(fds.data(), fds.size(), timeout == -2 ? -1 : std::max(timeout, 0));
    if (r < 0) GBSDStack()->RaiseSocketError(ErrnoToWinsockError(errno));
    // Each list keeps only its ready sockets.
    TNetSocketList *lists[3] = {readList, writeList, exceptList};
    for (auto *l : lists)
        if (l) l->Clear();
    for (size_t i = 0; i < fds.size(); ++i)
        if (fds[i].revents) lists[kinds[i]]->Add(fds[i].fd);
    return r > 0;
}

// ---------------------------------------------------------------------------
void TNetStack::IncUsage() {
    std::lock_guard<std::mutex> g(GStackLock);
    if (++GStackUsage == 1) {
        if (GStack) {
            --GStackUsage;
            ENetException::Toss("Stack already created.");
        }
        try {
            GStack = new TNetStackWindows();
        } catch (...) {
            --GStackUsage;
            throw;
        }
    }
}

void TNetStack::DecUsage() {
    std::lock_guard<std::mutex> g(GStackLock);
    if (GStackUsage > 0 && --GStackUsage == 0) {
        delete GStack;
        GStack = nullptr;
    }
}

int TNetStack::UsageCount() {
    std::lock_guard<std::mutex> g(GStackLock);
    return GStackUsage;
}

std::string TNetStack::ResolveHost(const std::string &host, TNetIPVersion ipVersion) {
    if (ipVersion == Net_IPv4) {
        if (TextIsSame(host, "LOCALHOST")) return "127.0.0.1";
        if (IsIP(host)) return host;
        return HostByName(host, ipVersion);
    }
    if (ipVersion == Net_IPv6) {
        std::string canon = CanonicalIPv6Text(host);
        if (!canon.empty()) return canon;
        return HostByName(host, ipVersion);
    }
    ENetIPVersionUnsupported::Toss("The requested IPVersion / Address family is not supported.");
}

bool TNetStack::IsIP(std::string_view text) {
    if (text.empty() || text.back() == '.') return false;
    std::string s(text);
    for (int i = 0; i < 4; ++i) {
        std::string part = Fetch(s, ".");
        int v;
        if (part.empty() || !TryStrToInt(part, v) || v < 0 || v > 255) return false;
        // Only plain decimal digits: "$10" or "0x1" are no address parts.
        for (char c : part)
            if (c < '0' || c > '9') return false;
    }
    return s.empty();
}

bool TNetStack::IsMulticast(const std::string &ip, TNetIPVersion ipVersion) {
    if (ipVersion == Net_IPv4) {
        if (!IsIP(ip)) return false;
        std::string s = ip;
        int first = StrToInt(Fetch(s, "."));
        return first >= 224 && first <= 239;
    }
    return StartsText("FF", CanonicalIPv6Text(ip));
}

uint16_t TNetStack::HostToNetwork(uint16_t v) { return __builtin_bswap16(v); }
uint32_t TNetStack::HostToNetwork(uint32_t v) { return __builtin_bswap32(v); }
uint64_t TNetStack::HostToNetwork(uint64_t v) { return __builtin_bswap64(v); }
uint16_t TNetStack::NetworkToHost(uint16_t v) { return __builtin_bswap16(v); }
uint32_t TNetStack::NetworkToHost(uint32_t v) { return __builtin_bswap32(v); }
uint64_t TNetStack::NetworkToHost(uint64_t v) { return __builtin_bswap64(v); }

// ---------------------------------------------------------------------------
int TNetStackBSDBase::WSGetLastError() { return GLastWsaError; }
void TNetStackBSDBase::WSSetLastError(int code) { GLastWsaError = code; }

int TNetStackBSDBase::CheckForSocketError(int result, const std::vector<int> &ignore) {
    if (result != Net_SOCKET_ERROR) return 0;
    int code = WSGetLastError();
    if (std::find(ignore.begin(), ignore.end(), code) != ignore.end()) return code;
    RaiseSocketError(code);
}

void TNetStackBSDBase::RaiseSocketError(int code) {
    if (code == Net_WSAENOTSOCK) throw ENetNotASocket(code, WSTranslateSocketErrorMsg(code));
    throw ENetSocketError(code, WSTranslateSocketErrorMsg(code));
}

std::string TNetStackBSDBase::ErrorText(int code) {
    for (const auto &e : GErrorTexts)
        if (e.code == code) return e.text;
    return {};
}

std::string TNetStackBSDBase::WSTranslateSocketErrorMsg(int code) {
    return Format("Socket Error # %d\r\n%s", code, ErrorText(code).c_str());
}

TNetStackBSDBase *GBSDStack() {
    if (!GStack) ENetException::Toss("Stack Class is undefined.");
    return static_cast<TNetStackBSDBase *>(GStack);
}
