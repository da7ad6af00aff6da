// The socket IO handler with real traffic: the only place where received
// bytes enter the input buffer and where bytes are sent, the disconnect check,
// and the connect with a time-out. It is the handler a TCP client makes when
// it has none.
//
// A handler that puts a layer over the socket (TLS) overrides the low-level
// steps below rather than the whole read and write loops:
//   ReadDataFromSource  - receive up to buffer.size() bytes (0: peer closed)
//   WriteDataToTarget   - send a range, returning the count sent (-1: no room yet)
//   SourceHasPendingData - bytes already held by the layer (no wait needed)
//   ConnectClient       - call the inherited one, then do the handshake
// It may also override ReadFromSource, WriteDirect, CheckForDataOnSource and
// Readable as a whole.
#pragma once

#include "NetIOHandlerSocket.h"

class TNetIOHandlerStack : public TNetIOHandlerSocket {
public:
    const char *ClassName() const override { return "TNetIOHandlerStack"; }

    int ReadFromSource(bool raiseExceptionIfDisconnected = true, int timeout = -1,
                       bool raiseExceptionOnTimeout = true) override;
    bool Connected() override;
    void CheckForDisconnect(bool raiseExceptionIfDisconnected = true, bool ignoreBuffer = false) override;
    void CheckForDataOnSource(int timeout = 0) override;
    void WriteDirect(TNetBytes &bytes) override;
    bool Readable(int milliseconds = -2) override;
    void ConnectClient() override;

protected:
    explicit TNetIOHandlerStack(TNetInitializerComponent *owner) : TNetIOHandlerSocket(owner) {}

    virtual int ReadDataFromSource(TNetBytes &buffer);
    virtual int WriteDataToTarget(const TNetBytes &buffer, size_t offset, int count);
    virtual bool SourceHasPendingData() { return false; }
    // Connects the binding within timeout ms (-1/-2: without limit), waiting
    // in short slices on the calling thread with the anti-freeze run between
    // them; ENetConnectTimeout "Connect timed out." after closing the handler.
    void TimedConnect(int timeout);
    // Passes the first count bytes of chunk through the intercept into the
    // input buffer.
    void TakeReceived(const TNetBytes &chunk, int count);

private:
    TNetBytes FRecvChunk;
};
