#include "NetIOHandlerStream.h"

#include <algorithm>

TNetIOHandlerStream::TNetIOHandlerStream(TNetInitializerComponent *owner, TStream *receiveStream,
                                         TStream *sendStream)
    : TNetIOHandler(owner), FReceiveStream(receiveStream), FSendStream(sendStream) {
    if (receiveStream && !sendStream)
        StreamType = stRead;
    else if (sendStream && !receiveStream)
        StreamType = stWrite;
}

TNetIOHandlerStream::~TNetIOHandlerStream() {
    if (FreeStreams) {
        if (FSendStream == FReceiveStream) FSendStream = nullptr;
        delete FReceiveStream;
        delete FSendStream;
    }
}

void TNetIOHandlerStream::Open() {
    TNetIOHandler::Open();
    if (OnGetStreams) OnGetStreams(this, FReceiveStream, FSendStream);
}

void TNetIOHandlerStream::Close() {
    TNetIOHandler::Close();
    if (FreeStreams) {
        if (FSendStream == FReceiveStream) FSendStream = nullptr;
        delete FReceiveStream;
        delete FSendStream;
        FReceiveStream = nullptr;
        FSendStream = nullptr;
    }
}

bool TNetIOHandlerStream::Connected() {
    switch (StreamType) {
    case stRead: return FReceiveStream != nullptr;
    case stWrite: return FSendStream != nullptr;
    default: return FReceiveStream != nullptr && FSendStream != nullptr;
    }
}

bool TNetIOHandlerStream::Readable(int) {
    return FReceiveStream && FReceiveStream->Position() < FReceiveStream->Size();
}

int TNetIOHandlerStream::ReadFromSource(bool, int, bool) {
    if (!FInputBuffer) ENetException::Toss("Not Connected");
    if (!FReceiveStream) {
        FInputBuffer->Clear();
        return 0;
    }
    int64_t left = FReceiveStream->Size() - FReceiveStream->Position();
    int n = int(std::min<int64_t>(std::max<int64_t>(left, 0), 32768));
    if (n == 0) return 0;
    TNetBytes bytes(static_cast<size_t>(n));
    int64_t got = FReceiveStream->Read(bytes.data(), n);
    if (got <= 0) return 0;
    bytes.resize(size_t(got));
    if (FIntercept) FIntercept->Receive(bytes);
    FInputBuffer->WriteBytes(bytes);
    return int(got);
}

void TNetIOHandlerStream::CheckForDisconnect(bool raiseExceptionIfDisconnected, bool) {
    if (!FReceiveStream && !FSendStream) {
        FClosedGracefully = true;
        if (raiseExceptionIfDisconnected) RaiseConnClosedGracefully();
    } else {
        FClosedGracefully = false;
    }
}

void TNetIOHandlerStream::WriteDirect(TNetBytes &bytes) {
    TNetIOHandler::WriteDirect(bytes);
    if (FSendStream && !bytes.empty()) FSendStream->WriteBuffer(bytes.data(), int64_t(bytes.size()));
}
