// One socket of the stack with its local and peer addresses: allocate, bind
// (a fixed port or the first free one of a range, tried from the top),
// connect, accept, send, receive, and readability waits that keep the GUI
// alive through the anti-freeze.
#pragma once

#include <memory>
#include <string>

#include "NetStack.h"

class TNetSocketHandle {
public:
    // defaultPort: the port of the collection the handle belongs to (0: none).
    explicit TNetSocketHandle(int defaultPort = 0);
    virtual ~TNetSocketHandle();
    TNetSocketHandle(const TNetSocketHandle &) = delete;
    TNetSocketHandle &operator=(const TNetSocketHandle &) = delete;

    int ClientPortMin = 0;
    int ClientPortMax = 0;
    std::string IP;
    int Port = 0;
    TNetIPVersion IPVersion() const { return FIPVersion; }
    // ENetCannotSetIPVersionWhenConnected when changed while a socket is held.
    void SetIPVersion(TNetIPVersion value);

    TNetStackSocketHandle Handle() const { return FHandle; }
    bool HandleAllocated() const { return FHandleAllocated; }
    const std::string &PeerIP() const { return FPeerIP; }
    int PeerPort() const { return FPeerPort; }

    // A socket it replaces is closed first.
    void AllocateSocket(int socketType = Net_SOCK_STREAM, int protocol = 0);
    void SetHandle(TNetStackSocketHandle handle);
    void Reset(bool resetLocal = true);
    virtual void CloseSocket();
    virtual void Connect();
    // A non-blocking connect the caller waits for with ConnectWait; ConnectDone
    // refreshes the addresses and makes the socket blocking again.
    bool ConnectStart();
    bool ConnectWait(int timeout);
    void ConnectDone();
    void SetPeer(const std::string &ip, int port, TNetIPVersion ipVersion);
    void SetBinding(const std::string &ip, int port, TNetIPVersion ipVersion);
    void Bind();
    bool TryBind();
    bool BindPortReserved();
    void Listen(int backlog = 5);
    bool Accept(TNetStackSocketHandle listener);
    int Receive(TNetBytes &buffer);
    int Send(const TNetBytes &buffer, size_t offset = 0, int count = -1);
    int RecvFrom(TNetBytes &buffer, std::string &ip, int &port, TNetIPVersion ipVersion);
    // Milliseconds; -2 waits without limit. On the GUI thread with an
    // anti-freeze every wait is cut into IdleTimeOut slices with the
    // application's events processed between them.
    bool Readable(int milliseconds);
    // The same wait for room to send (the peer reads what we sent).
    bool Writable(int milliseconds);
    bool Select(int milliseconds);
    void Assign(const TNetSocketHandle &source);
    TNetCriticalSection &Lock() { return FLock; }

private:
    void UpdateBindingLocal();
    void UpdateBindingPeer();

    TNetStackSocketHandle FHandle = Net_INVALID_SOCKET;
    bool FHandleAllocated = false;
    std::string FPeerIP;
    int FPeerPort = 0;
    TNetIPVersion FIPVersion = Net_IPv4;
    std::unique_ptr<TNetSocketList> FReadList;
    TNetCriticalSection FLock;
    bool FHasStackRef = false;
};
