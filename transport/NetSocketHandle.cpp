#include "NetSocketHandle.h"

#include <mutex>

#include <poll.h>
#include <cerrno>
#include <algorithm>

#include "NetAntiFreeze.h"

TNetSocketHandle::TNetSocketHandle(int defaultPort) {
    TNetStack::IncUsage();
    FHasStackRef = true;
    Reset(true);
    Port = defaultPort;
}

TNetSocketHandle::~TNetSocketHandle() {
    try {
        CloseSocket();
    } catch (...) {
    }
    FReadList.reset();
    if (FHasStackRef) TNetStack::DecUsage();
}

void TNetSocketHandle::SetIPVersion(TNetIPVersion value) {
    if (value == FIPVersion) return;
    if (FHandleAllocated)
        ENetCannotSetIPVersionWhenConnected::Toss("Cannot change IPVersion when connected");
    FIPVersion = value;
}

void TNetSocketHandle::AllocateSocket(int socketType, int protocol) {
    TNetIPVersion version = FIPVersion;
    // Never drop a held descriptor on the floor.
    if (FHandleAllocated) {
        CloseSocket();
        Reset(true);
    }
    FIPVersion = version;
    SetHandle(GStack->NewSocketHandle(socketType, protocol, FIPVersion));
}

void TNetSocketHandle::SetHandle(TNetStackSocketHandle handle) {
    FHandle = handle;
    FHandleAllocated = handle != Net_INVALID_SOCKET;
    FReadList.reset();
    if (FHandleAllocated) {
        FReadList = std::make_unique<TNetSocketList>();
        FReadList->Add(handle);
    }
}

void TNetSocketHandle::Reset(bool resetLocal) {
    SetHandle(Net_INVALID_SOCKET);
    if (resetLocal) {
        IP.clear();
        Port = 0;
    }
    FPeerIP.clear();
    FPeerPort = 0;
    FIPVersion = Net_IPv4;
}

void TNetSocketHandle::CloseSocket() {
    if (!FHandleAllocated) return;
    std::lock_guard<TNetCriticalSection> g(FLock);
    FHandleAllocated = false;
    TNetStackSocketHandle h = FHandle;
    FHandle = Net_INVALID_SOCKET;
    FReadList.reset();
    GStack->Disconnect(h);
}

void TNetSocketHandle::UpdateBindingLocal() { GStack->GetSocketName(FHandle, IP, Port); }
void TNetSocketHandle::UpdateBindingPeer() { GStack->GetPeerName(FHandle, FPeerIP, FPeerPort); }

void TNetSocketHandle::Connect() {
    GStack->Connect(FHandle, FPeerIP, FPeerPort, FIPVersion);
    std::lock_guard<TNetCriticalSection> g(FLock);
    if (FHandleAllocated) {
        UpdateBindingLocal();
        UpdateBindingPeer();
    }
}

bool TNetSocketHandle::ConnectStart() {
    GStack->SetBlocking(FHandle, false);
    return GStack->ConnectStart(FHandle, FPeerIP, FPeerPort, FIPVersion);
}

bool TNetSocketHandle::ConnectWait(int timeout) {
    if (!FHandleAllocated) ENetConnClosedGracefully::Toss("Connection Closed Gracefully.");
    return GStack->ConnectWait(FHandle, timeout);
}

void TNetSocketHandle::ConnectDone() {
    std::lock_guard<TNetCriticalSection> g(FLock);
    if (!FHandleAllocated) return;
    GStack->SetBlocking(FHandle, true);
    UpdateBindingLocal();
    UpdateBindingPeer();
}

void TNetSocketHandle::SetPeer(const std::string &ip, int port, TNetIPVersion ipVersion) {
    FPeerIP = ip;
    FPeerPort = port;
    FIPVersion = ipVersion;
}

void TNetSocketHandle::SetBinding(const std::string &ip, int port, TNetIPVersion ipVersion) {
    IP = ip;
    Port = port;
    FIPVersion = ipVersion;
}

bool TNetSocketHandle::TryBind() {
    try {
        GStack->Bind(FHandle, IP, Port, FIPVersion);
        UpdateBindingLocal();
        return true;
    } catch (const ENetException &) {
        return false;
    }
}

bool TNetSocketHandle::BindPortReserved() {
    for (int p = ClientPortMax; p >= ClientPortMin; --p) {
        Port = p;
        if (TryBind()) return true;
    }
    return false;
}

void TNetSocketHandle::Bind() {
    if (Port == 0 && ClientPortMin != 0 && ClientPortMax != 0) {
        if (ClientPortMin > ClientPortMax)
            ENetInvalidPortRange::Toss(Format("Invalid Port Range (%d - %d)", ClientPortMin, ClientPortMax));
        if (!BindPortReserved())
            ENetCanNotBindPortInRange::Toss(
                Format("Can not bind in port range (%d - %d)", ClientPortMin, ClientPortMax));
    } else if (!TryBind()) {
        ENetCouldNotBindSocket::Toss("Could not bind socket. Address and port are already in use.");
    }
}

void TNetSocketHandle::Listen(int backlog) { GStack->Listen(FHandle, backlog); }

bool TNetSocketHandle::Accept(TNetStackSocketHandle listener) {
    if (FHandleAllocated) CloseSocket();
    Reset(true);
    std::string ip;
    int port = 0;
    TNetIPVersion version = Net_IPv4;
    TNetStackSocketHandle h = GStack->Accept(listener, ip, port, version);
    if (h == Net_INVALID_SOCKET) return false;
    SetHandle(h);
    FIPVersion = version;
    UpdateBindingLocal();
    UpdateBindingPeer();
    return true;
}

int TNetSocketHandle::Receive(TNetBytes &buffer) { return GStack->Receive(FHandle, buffer); }

int TNetSocketHandle::Send(const TNetBytes &buffer, size_t offset, int count) {
    return GStack->Send(FHandle, buffer, offset, count);
}

int TNetSocketHandle::RecvFrom(TNetBytes &buffer, std::string &ip, int &port, TNetIPVersion ipVersion) {
    return GStack->ReceiveFrom(FHandle, buffer, ip, port, ipVersion);
}

bool TNetSocketHandle::Select(int milliseconds) {
    if (!FHandleAllocated || !FReadList) ENetConnClosedGracefully::Toss("Connection Closed Gracefully.");
    bool ready = FReadList->SelectRead(milliseconds);
    TNetAntiFreezeBase::DoProcess(!ready, TNetAntiFreezeBase::Starved());
    return ready;
}

bool TNetSocketHandle::Readable(int milliseconds) {
    int slice = NetAntiFreezeSlice();
    if (slice < 0) return Select(milliseconds);
    if (milliseconds == -2) {
        while (true)
            if (Select(slice)) return true;
    }
    if (milliseconds < 0) milliseconds = 0;
    uint32_t start = TicksNow();
    while (true) {
        uint32_t spent = TicksDiff(start, TicksNow());
        int left = spent >= uint32_t(milliseconds) ? 0 : milliseconds - int(spent);
        if (Select(left < slice ? left : slice)) return true;
        if (left <= slice) return false;
    }
}

bool TNetSocketHandle::Writable(int milliseconds) {
    if (!FHandleAllocated) ENetConnClosedGracefully::Toss("Connection Closed Gracefully.");
    const int slice = NetAntiFreezeSlice();
    const uint32_t start = TicksNow();
    while (true) {
        int left = -1;
        if (milliseconds >= 0) {
            uint32_t spent = TicksDiff(start, TicksNow());
            left = spent >= uint32_t(milliseconds) ? 0 : milliseconds - int(spent);
        }
        int wait = slice < 0 ? left : left < 0 ? slice : std::min(left, slice);
        pollfd p{FHandle, POLLOUT, 0};
        int r;
        do {
            r = poll(&p, 1, wait);
        } while (r < 0 && errno == EINTR);
        // An error or hang-up shows itself at the send that follows.
        bool ready = r != 0;
        TNetAntiFreezeBase::DoProcess(!ready, TNetAntiFreezeBase::Starved());
        if (ready) return true;
        if (!FHandleAllocated) ENetConnClosedGracefully::Toss("Connection Closed Gracefully.");
        if (left >= 0 && left <= wait) return false;
    }
}

void TNetSocketHandle::Assign(const TNetSocketHandle &source) {
    IP = source.IP;
    Port = source.Port;
    FPeerIP = source.FPeerIP;
    FPeerPort = source.FPeerPort;
    FIPVersion = source.FIPVersion;
}
