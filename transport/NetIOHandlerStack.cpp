#include "NetIOHandlerStack.h"

#include "NetAntiFreeze.h"
#include "NetSocks.h"

int TNetIOHandlerStack::ReadDataFromSource(TNetBytes &buffer) { return FBinding->Receive(buffer); }

int TNetIOHandlerStack::WriteDataToTarget(const TNetBytes &buffer, size_t offset, int count) {
    return FBinding->Send(buffer, offset, count);
}

int TNetIOHandlerStack::ReadFromSource(bool raiseExceptionIfDisconnected, int timeout,
                                       bool raiseExceptionOnTimeout) {
    if (timeout == -1) timeout = (ReadTimeout == -1 || ReadTimeout == 0) ? -2 : ReadTimeout;
    CheckForDisconnect(raiseExceptionIfDisconnected, false);
    if (!BindingAllocated()) {
        if (raiseExceptionIfDisconnected) ENetException::Toss("Not Connected");
        return 0;
    }
    int count = 0;
    do {
        if (!SourceHasPendingData() && !FBinding->Readable(timeout)) {
            if (raiseExceptionOnTimeout) ENetReadTimeout::Toss("Read Timeout");
            return -1;
        }
        if (!FRecvBuffer || !FInputBuffer) {
            if (raiseExceptionIfDisconnected) ENetException::Toss("Not Connected");
            return 0;
        }
        if (!BindingAllocated()) ENetClosedSocket::Toss("Disconnected.");
        FRecvChunk.resize(size_t(RecvBufferSize > 0 ? RecvBufferSize : 32768));
        count = ReadDataFromSource(FRecvChunk);
        if (count > 0) TakeReceived(FRecvChunk, count);
        FClosedGracefully = count == 0;
        CheckForDisconnect(raiseExceptionIfDisconnected, false);
        if (count != 0) return count;
    } while (count == 0 && BindingAllocated());
    return 0;
}

void TNetIOHandlerStack::TakeReceived(const TNetBytes &chunk, int count) {
    if (FIntercept) {
        TNetBytes data(chunk.begin(), chunk.begin() + count);
        FIntercept->Receive(data);
        FInputBuffer->WriteBytes(data);
    } else {
        FInputBuffer->WriteBytes(chunk.data(), size_t(count));
    }
}

bool TNetIOHandlerStack::Connected() {
    if (BindingAllocated() && FOpened) {
        try {
            ReadFromSource(false, 0, false);
        } catch (const ENetSocketError &) {
            // A reset or aborted connection is gone: close it so that it no
            // longer counts as connected.
            FClosedGracefully = true;
            try {
                CloseKeepingInput();
            } catch (...) {
            }
        } catch (const ENetException &) {
        }
    }
    return TNetIOHandlerSocket::Connected();
}

void TNetIOHandlerStack::CheckForDisconnect(bool raiseExceptionIfDisconnected, bool ignoreBuffer) {
    bool disconnected;
    if (FClosedGracefully) {
        if (BindingAllocated()) {
            CloseKeepingInput();
            DoStatus(hsDisconnected);
        }
        disconnected = true;
    } else {
        disconnected = !BindingAllocated();
    }
    if (disconnected && FInputBuffer && (FInputBuffer->Size() == 0 || ignoreBuffer) && raiseExceptionIfDisconnected)
        RaiseConnClosedGracefully();
}

void TNetIOHandlerStack::CheckForDataOnSource(int timeout) {
    if (Connected()) ReadFromSource(false, timeout, false);
}

bool TNetIOHandlerStack::Readable(int milliseconds) {
    if (SourceHasPendingData()) return true;
    if (!BindingAllocated()) return false;
    return FBinding->Readable(milliseconds);
}

void TNetIOHandlerStack::WriteDirect(TNetBytes &bytes) {
    TNetIOHandlerSocket::WriteDirect(bytes);
    // A peer that stops reading what we send must not hold the program:
    // every wait for room in the socket's buffer is bounded (ReadTimeout, or
    // two minutes without one) and keeps the window alive.
    const int wait = ReadTimeout > 0 ? ReadTimeout : 120000;
    uint32_t lastProgress = TicksNow();
    size_t offset = 0;
    while (offset < bytes.size()) {
        if (!BindingAllocated()) RaiseConnClosedGracefully();
        const uint32_t spent = TicksDiff(lastProgress, TicksNow());
        const int left = spent >= uint32_t(wait) ? 0 : wait - int(spent);
        if (left == 0 || !FBinding->Writable(left)) {
            try {
                Close();
            } catch (...) {
            }
            GBSDStack()->RaiseSocketError(Net_WSAETIMEDOUT);
        }
        if (!BindingAllocated()) RaiseConnClosedGracefully();
        int sent = WriteDataToTarget(bytes, offset, int(bytes.size() - offset));
        if (sent < 0) continue;  // no room after all: wait again
        TNetAntiFreezeBase::DoProcess(false);
        FClosedGracefully = sent == 0;
        CheckForDisconnect(true, false);
        DoWork(wmWrite, sent);
        if (sent <= 0) RaiseConnClosedGracefully();
        offset += size_t(sent);
        lastProgress = TicksNow();
    }
}

void TNetIOHandlerStack::ConnectClient() {
    TNetIOHandlerSocket::ConnectClient();
    // Through a proxy the TCP connection goes to the proxy, which then
    // opens the tunnel to the server.
    const bool proxied = UsesTransparentProxy();
    const std::string host = proxied ? FTransparentProxy->Host : FHost;
    const int port = proxied ? FTransparentProxy->Port : FPort;
    const TNetIPVersion version = proxied ? FTransparentProxy->IPVersion : IPVersion;
    std::string ip;
    if (version == Net_IPv6) {
        ip = CanonicalIPv6Text(host);
        if (ip.empty()) {
            DoStatusText(hsResolving, host);
            ip = GStack->ResolveHost(host, version);
        }
    } else {
        if (TNetStack::IsIP(host)) {
            ip = host;
        } else {
            DoStatusText(hsResolving, host);
            ip = GStack->ResolveHost(host, version);
        }
    }
    FBinding->SetPeer(ip, port, version);
    DoStatusText(hsConnecting, FBinding->PeerIP());
    if (ConnectTimeout != 0)
        TimedConnect(ConnectTimeout);
    else if (TNetAntiFreezeBase::ShouldUse())
        TimedConnect(120000);
    else
        FBinding->Connect();
    if (proxied) FTransparentProxy->Connect(this, FHost, FPort, IPVersion);
}

void TNetIOHandlerStack::TimedConnect(int timeout) {
    int step = 125;
    if (TNetAntiFreezeBase::ShouldUse()) {
        int idle = NetAntiFreezeSlice();
        if (idle >= 1 && idle < step) step = idle;
    }
    const bool unlimited = timeout < 0;
    const uint32_t start = TicksNow();
    bool done = FBinding->ConnectStart();
    while (!done) {
        int left;
        if (unlimited) {
            left = step + 1;
        } else {
            uint32_t spent = TicksDiff(start, TicksNow());
            left = spent >= uint32_t(timeout) ? 0 : timeout - int(spent);
        }
        if (left <= 0) break;
        bool fullStep = step < left;
        done = FBinding->ConnectWait(fullStep ? step : left);
        if (done) break;
        if (!fullStep) break;
        TNetAntiFreezeBase::DoProcess(true);
        if (!BindingAllocated()) break;  // closed from an event handler meanwhile
    }
    if (!done) {
        Close();
        ENetConnectTimeout::Toss("Connect timed out.");
    }
    FBinding->ConnectDone();
}
