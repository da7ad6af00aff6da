// The stack on the system's POSIX sockets. The name is the one the program's
// units have always used for the concrete stack.
#pragma once

#include <functional>

#include "NetStack.h"

struct addrinfo;

// The resolver call behind HostByName, with getaddrinfo's arguments and
// result; what it returns is freed with freeaddrinfo.
using TNetAddrInfoFunc =
    std::function<int(const char *node, const char *service, const addrinfo *hints, addrinfo **result)>;

class TNetStackWindows : public TNetStackBSDBase {
public:
    TNetStackWindows();

    TNetStackSocketHandle NewSocketHandle(int socketType, int protocol, TNetIPVersion ipVersion,
                                          bool overlapped = false) override;
    void Bind(TNetStackSocketHandle h, const std::string &ip, int port, TNetIPVersion ipVersion) override;
    void Connect(TNetStackSocketHandle h, const std::string &ip, int port, TNetIPVersion ipVersion) override;
    bool ConnectStart(TNetStackSocketHandle h, const std::string &ip, int port, TNetIPVersion ipVersion) override;
    bool ConnectWait(TNetStackSocketHandle h, int timeout) override;
    void Listen(TNetStackSocketHandle h, int backlog) override;
    TNetStackSocketHandle Accept(TNetStackSocketHandle h, std::string &ip, int &port,
                                 TNetIPVersion &ipVersion) override;
    void Disconnect(TNetStackSocketHandle h) override;
    void GetSocketName(TNetStackSocketHandle h, std::string &ip, int &port) override;
    void GetPeerName(TNetStackSocketHandle h, std::string &ip, int &port) override;
    int Receive(TNetStackSocketHandle h, TNetBytes &buffer) override;
    int Send(TNetStackSocketHandle h, const TNetBytes &buffer, size_t offset = 0, int count = -1) override;
    int ReceiveFrom(TNetStackSocketHandle h, TNetBytes &buffer, std::string &ip, int &port,
                    TNetIPVersion ipVersion) override;
    void SetSocketOption(TNetStackSocketHandle h, int level, int option, int value) override;
    int GetSocketOption(TNetStackSocketHandle h, int level, int option) override;
    void SetBlocking(TNetStackSocketHandle h, bool blocking) override;
    bool WouldBlock(int result) override;
    std::string HostByName(const std::string &host, TNetIPVersion ipVersion) override;
    std::string HostByAddress(const std::string &address, TNetIPVersion ipVersion) override;

    // IPv4: four decimals joined by "."; IPv6: eight words in hexadecimal
    // without leading zeros joined by ":".
    static std::string TranslateTInAddrToString(const void *addr, TNetIPVersion ipVersion);
    // false for a text that is no address of the version.
    static bool TranslateStringToTInAddr(const std::string &text, void *addr, TNetIPVersion ipVersion);
    std::string ErrorText(int code) override;

    // Puts another resolver call in place of getaddrinfo (a resolver that
    // answers slowly, in tests); an empty function puts getaddrinfo back.
    static void SetAddrInfoFunc(TNetAddrInfoFunc func);
};

// Runs a blocking resolver call. On the GUI thread with an anti-freeze in use
// the call runs on a worker thread, awaited in slices of IdleTimeOut with the
// anti-freeze processing events between them, so a slow name server does not
// freeze the window; elsewhere it runs in place. Either way it has finished
// when this returns or raises. savedErrno is the errno the call left.
int NetRunResolverCall(const std::function<int()> &call, int &savedErrno);
