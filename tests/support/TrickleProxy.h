// A TCP relay on 127.0.0.1 that passes what the client sends at once but
// hands the server's answer back in small pieces with pauses between them,
// so TLS records and handshake flights arrive split across many reads.
#pragma once

#include <atomic>
#include <thread>

class TrickleProxy {
public:
    // Relays to 127.0.0.1:upstreamPort; the server's bytes go out at most
    // chunkBytes at a time, pauseMs apart. One connection at a time.
    TrickleProxy(int upstreamPort, int chunkBytes, int pauseMs);
    ~TrickleProxy();
    TrickleProxy(const TrickleProxy &) = delete;
    TrickleProxy &operator=(const TrickleProxy &) = delete;
    int Port() const { return FPort; }

private:
    void Run();
    void Relay(int client);
    int FUpstreamPort;
    int FChunk;
    int FPauseMs;
    int FListen = -1;
    int FPort = 0;
    int FWake[2] = {-1, -1};
    std::atomic<bool> FStop{false};
    std::thread FThread;
};
