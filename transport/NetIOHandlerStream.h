// The IO handler over streams: reads come from a receive stream and writes go
// to a send stream, so messages load from and save to files with the same
// line code as the network.
#pragma once

#include <functional>

#include "NetIOHandler.h"

enum TNetIOHandlerStreamType { stRead, stWrite, stReadWrite };

class TNetIOHandlerStream : public TNetIOHandler {
public:
    ~TNetIOHandlerStream() override;
    const char *ClassName() const override { return "TNetIOHandlerStream"; }

    bool FreeStreams = true;
    TNetIOHandlerStreamType StreamType = stReadWrite;
    std::function<void(TNetIOHandlerStream *sender, TStream *&receiveStream, TStream *&sendStream)> OnGetStreams;

    TStream *ReceiveStream() const { return FReceiveStream; }
    TStream *SendStream() const { return FSendStream; }

    void Open() override;
    void Close() override;
    bool Connected() override;
    bool Readable(int milliseconds = -2) override;
    int ReadFromSource(bool raiseExceptionIfDisconnected = true, int timeout = -1,
                       bool raiseExceptionOnTimeout = true) override;
    void CheckForDisconnect(bool raiseExceptionIfDisconnected = true, bool ignoreBuffer = false) override;
    void CheckForDataOnSource(int) override {}
    void WriteDirect(TNetBytes &bytes) override;

protected:
    // A handler with only a receive stream reads (stRead), one with only a
    // send stream writes (stWrite). With FreeStreams the handler frees them.
    TNetIOHandlerStream(TNetInitializerComponent *owner, TStream *receiveStream = nullptr,
                        TStream *sendStream = nullptr);

    TStream *FReceiveStream = nullptr;
    TStream *FSendStream = nullptr;
};
