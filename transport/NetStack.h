// The socket stack: the only layer that talks to the system's sockets. One
// process-wide, reference-counted stack object performs every socket call,
// name resolution and error text. Errors carry the Winsock numbers and texts
// users and logs have always seen, mapped from errno and getaddrinfo's codes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "NetGlobal.h"

using TNetStackSocketHandle = int;
constexpr TNetStackSocketHandle Net_INVALID_SOCKET = -1;
constexpr int Net_SOCKET_ERROR = -1;

// Address family numbers as the program knows them; mapped to the kernel's
// AF_INET and AF_INET6 at every call, never passed through.
constexpr int Net_PF_INET4 = 2;
constexpr int Net_PF_INET6 = 23;
constexpr int Net_SOCK_STREAM = 1;
constexpr int Net_SOCK_DGRAM = 2;

// Winsock error numbers used by the transport.
constexpr int Net_WSAEINTR = 10004;
constexpr int Net_WSAEWOULDBLOCK = 10035;
constexpr int Net_WSAEINPROGRESS = 10036;
constexpr int Net_WSAEALREADY = 10037;
constexpr int Net_WSAENOTSOCK = 10038;
constexpr int Net_WSAECONNABORTED = 10053;
constexpr int Net_WSAECONNRESET = 10054;
constexpr int Net_WSAESHUTDOWN = 10058;
constexpr int Net_WSAETIMEDOUT = 10060;
constexpr int Net_WSAECONNREFUSED = 10061;
constexpr int Net_WSAHOST_NOT_FOUND = 11001;
constexpr int Net_WSATRY_AGAIN = 11002;
constexpr int Net_WSANO_RECOVERY = 11003;
constexpr int Net_WSANO_DATA = 11004;

// errno and getaddrinfo codes as Winsock numbers.
int ErrnoToWinsockError(int err);
int AddrInfoErrorToWinsockError(int eaiCode, int savedErrno);

// A set of sockets with its own lock (at most 64, the set size the program
// has always had). Waits use poll, so descriptors of any number work.
class TNetSocketList {
public:
    static constexpr int MaxSockets = 64;
    void Add(TNetStackSocketHandle h);
    void Remove(TNetStackSocketHandle h);
    void Clear();
    int Count();
    TNetStackSocketHandle Item(int index);
    bool Contains(TNetStackSocketHandle h);
    TNetSocketList Clone();
    // Timeouts in milliseconds; -2 waits without limit.
    bool SelectRead(int timeout);
    bool SelectReadList(TNetSocketList &ready, int timeout);
    static bool Select(TNetSocketList *readList, TNetSocketList *writeList, TNetSocketList *exceptList,
                       int timeout);

    TNetSocketList() = default;
    TNetSocketList(const TNetSocketList &other);

private:
    TNetCriticalSection FLock;
    std::vector<TNetStackSocketHandle> FSockets;
};

class TNetStack {
public:
    virtual ~TNetStack() = default;

    // The process-wide stack, made at the first reference and freed with the last.
    static void IncUsage();
    static void DecUsage();
    static int UsageCount();

    const std::string &HostName() const { return FHostName; }

    virtual TNetStackSocketHandle NewSocketHandle(int socketType, int protocol, TNetIPVersion ipVersion,
                                                  bool overlapped = false) = 0;
    virtual void Bind(TNetStackSocketHandle h, const std::string &ip, int port, TNetIPVersion ipVersion) = 0;
    virtual void Connect(TNetStackSocketHandle h, const std::string &ip, int port, TNetIPVersion ipVersion) = 0;
    // Starts a connect on a non-blocking socket: true when it completed at once.
    virtual bool ConnectStart(TNetStackSocketHandle h, const std::string &ip, int port,
                              TNetIPVersion ipVersion) = 0;
    // Waits up to timeout ms for a started connect: true when it completed;
    // raises its socket error when it failed.
    virtual bool ConnectWait(TNetStackSocketHandle h, int timeout) = 0;
    virtual void Listen(TNetStackSocketHandle h, int backlog) = 0;
    virtual TNetStackSocketHandle Accept(TNetStackSocketHandle h, std::string &ip, int &port,
                                         TNetIPVersion &ipVersion) = 0;
    // Shuts the sending side down, then closes.
    virtual void Disconnect(TNetStackSocketHandle h) = 0;
    virtual void GetSocketName(TNetStackSocketHandle h, std::string &ip, int &port) = 0;
    virtual void GetPeerName(TNetStackSocketHandle h, std::string &ip, int &port) = 0;
    // Up to buffer.size() bytes; 0 when the peer closed.
    virtual int Receive(TNetStackSocketHandle h, TNetBytes &buffer) = 0;
    // Never waits for room in the socket's buffer: -1 when there is none
    // (nothing sent), so that the caller can wait for it without blocking.
    virtual int Send(TNetStackSocketHandle h, const TNetBytes &buffer, size_t offset = 0, int count = -1) = 0;
    virtual int ReceiveFrom(TNetStackSocketHandle h, TNetBytes &buffer, std::string &ip, int &port,
                            TNetIPVersion ipVersion) = 0;
    virtual void SetSocketOption(TNetStackSocketHandle h, int level, int option, int value) = 0;
    virtual int GetSocketOption(TNetStackSocketHandle h, int level, int option) = 0;
    virtual void SetBlocking(TNetStackSocketHandle h, bool blocking) = 0;
    virtual bool WouldBlock(int result) = 0;

    virtual std::string HostByName(const std::string &host, TNetIPVersion ipVersion) = 0;
    virtual std::string HostByAddress(const std::string &address, TNetIPVersion ipVersion) = 0;
    std::string ResolveHost(const std::string &host, TNetIPVersion ipVersion = Net_IPv4);
    static bool IsIP(std::string_view text);
    bool IsMulticast(const std::string &ip, TNetIPVersion ipVersion);

    static uint16_t HostToNetwork(uint16_t v);
    static uint32_t HostToNetwork(uint32_t v);
    static uint64_t HostToNetwork(uint64_t v);
    static uint16_t NetworkToHost(uint16_t v);
    static uint32_t NetworkToHost(uint32_t v);
    static uint64_t NetworkToHost(uint64_t v);

protected:
    TNetStack() = default;
    std::string FHostName;
};

class TNetStackBSDBase : public TNetStack {
public:
    // 0 when result is not -1; else the last error, returned when it is in
    // ignore, raised otherwise.
    int CheckForSocketError(int result, const std::vector<int> &ignore = {});
    [[noreturn]] void RaiseSocketError(int code);
    [[noreturn]] void RaiseLastSocketError() { RaiseSocketError(WSGetLastError()); }
    // "Socket Error # %d\r\n%s".
    std::string WSTranslateSocketErrorMsg(int code);
    virtual int WSGetLastError();
    virtual void WSSetLastError(int code);
    virtual std::string ErrorText(int code);
};

extern TNetStack *GStack;
// The stack as the BSD-style base, for error checks.
TNetStackBSDBase *GBSDStack();
