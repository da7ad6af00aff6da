#include "NetMessageClient.h"

#include <algorithm>

#include "NetMailExceptions.h"
#include "NetTCPConnection.h"

// ---------------------------------------------------------------------------
// Stored messages through an IO handler

TNetIOHandlerStreamMsg::TNetIOHandlerStreamMsg(TNetInitializerComponent *owner, TStream *receiveStream,
                                               TStream *sendStream)
    : TNetIOHandlerStream(owner, receiveStream, sendStream) {}

bool TNetIOHandlerStreamMsg::Connected() { return FReceiveStream != nullptr && !FTerminatorAdded; }

void TNetIOHandlerStreamMsg::CheckForDisconnect(bool raiseExceptionIfDisconnected, bool ignoreBuffer) {
    // Until the terminator is out, the stream's end is no disconnection.
    if (!FTerminatorAdded && FReceiveStream) {
        FClosedGracefully = false;
        return;
    }
    TNetIOHandlerStream::CheckForDisconnect(raiseExceptionIfDisconnected && InputBufferIsEmpty(), ignoreBuffer);
}

int TNetIOHandlerStreamMsg::ReadFromSource(bool raiseExceptionIfDisconnected, int timeout,
                                           bool raiseExceptionOnTimeout) {
    if (!FInputBuffer) ENetException::Toss("Not Connected");
    int before = FInputBuffer->Size();
    int got = FTerminatorAdded ? 0
                               : TNetIOHandlerStream::ReadFromSource(raiseExceptionIfDisconnected, timeout,
                                                                      raiseExceptionOnTimeout);
    if (got > 0) {
        FLastByte = FInputBuffer->PeekByte(before + got - 1);
        FAnyByte = true;
        return got;
    }
    if (FTerminatorAdded || !FReceiveStream) return 0;
    FTerminatorAdded = true;
    const char *term = !FAnyByte ? "\r\n.\r\n" : FLastByte == '\n' ? ".\r\n" : FLastByte == '\r' ? "\n.\r\n"
                                                                                                   : "\r\n.\r\n";
    FInputBuffer->WriteString(term);
    return FInputBuffer->Size() - before;
}

// ---------------------------------------------------------------------------

int64_t TNetTCPStream::Read(void *buffer, int64_t count) {
    if (count <= 0) return 0;
    FConnection.CheckConnected();
    TNetBytes bytes;
    FConnection.IOHandler()->ReadBytes(bytes, int(count), false);
    std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t *>(buffer));
    return int64_t(bytes.size());
}

int64_t TNetTCPStream::Write(const void *buffer, int64_t count) {
    if (count <= 0) return 0;
    FConnection.CheckConnected();
    const uint8_t *p = static_cast<const uint8_t *>(buffer);
    FConnection.IOHandler()->Write(TNetBytes(p, p + count));
    return count;
}

// ---------------------------------------------------------------------------
// The lines of one answer as a message source.

class TNetMessageClientSource : public TNetMessageSource {
public:
    TNetMessageClientSource(TNetMessageClient &client, const std::string &delimiter)
        : TNetMessageSource(delimiter == "."), FClient(client), FDelimiter(delimiter),
          FBudget(client.MaxMessageSize) {
        // The client counts the bytes itself, pieces of long lines included.
        MaxMessageSize = 0;
    }

protected:
    bool RawLine(std::string &line) override {
        line = FClient.ReadAnswerLine(FBudget, "Message", FClient.MaxMessageSize);
        return FDelimiter == "." || line != FDelimiter;
    }

private:
    TNetMessageClient &FClient;
    std::string FDelimiter;
    int64_t FBudget;
};

namespace {
struct WorkBracket {
    TNetComponent &C;
    TWorkMode Mode;
    WorkBracket(TNetComponent &c, TWorkMode mode) : C(c), Mode(mode) { C.BeginWork(mode); }
    ~WorkBracket() {
        try {
            C.EndWork(Mode);
        } catch (...) {
        }
    }
};

[[noreturn]] void RaiseTooLarge(const char *what, int64_t cap) {
    throw ENetMessageTooLarge(Format("%s larger than %lld bytes.", what, (long long)cap));
}
}  // namespace

void TNetMessageClient::InitComponent() {
    TNetExplicitTLSClient::InitComponent();
    LineLength = 79;
    LineFold.assign(1, '\t');
}

std::string TNetMessageClient::ReadAnswerLine(int64_t &budget, const char *what, int64_t cap) {
    TNetIOHandler *h = FIOHandler;
    if (!h) ENetNotConnected::Toss("Not connected.");
    // Without a line limit of its own the handler would gather a line of
    // any length: pieces are always taken.
    const int piece = h->MaxLineLength > 0 ? h->MaxLineLength : 16384;
    try {
        bool split = false;
        std::string line = h->ReadLnSplit(split, "\n", -1, piece);
        if (h->ReadLnTimedOut()) ENetReadTimeout::Toss("Read Timeout");
        // A line costs at least NetMinLineCharge: a budget counted in bytes
        // alone would let a flood of empty lines take many times as much memory.
        int64_t used = std::max<int64_t>(int64_t(line.size()) + 2, NetMinLineCharge);
        while (split) {
            if (used > budget) RaiseTooLarge(what, cap);
            std::string more = h->ReadLnSplit(split, "\n", -1, piece);
            if (h->ReadLnTimedOut()) ENetReadTimeout::Toss("Read Timeout");
            line += more;
            used += int64_t(more.size());
        }
        if (used > budget) RaiseTooLarge(what, cap);
        budget -= used;
        return line;
    } catch (const ENetMessageTooLarge &) {
        throw;
    } catch (...) {
        FLineFailed = true;
        throw;
    }
}

void TNetMessageClient::DropConnection() {
    try {
        Disconnect(false);
    } catch (...) {
    }
}

void TNetMessageClient::DiscardRestOfAnswer(const std::string &delimiter) {
    int64_t budget = MaxMessageSize;
    try {
        for (;;)
            if (ReadAnswerLine(budget, "Message", MaxMessageSize) == delimiter) return;
    } catch (...) {
        // The caller raises its own failure; all that matters here is that
        // no later command reads this answer as its reply.
        DropConnection();
    }
}

void TNetMessageClient::RecoverAfterFailure(bool answerEnded, const std::string &delimiter) {
    if (FLineFailed) {
        DropConnection();
        return;
    }
    if (!answerEnded && Connected()) DiscardRestOfAnswer(delimiter);
}

std::string TNetMessageClient::ReceiveHeader(TNetMessage &message, const std::string &delimiter) {
    WorkBracket work(*this, wmRead);
    FLineFailed = false;
    FHasBodyFirstLine = false;
    FBodyFirstLine.clear();
    // Empty and "." delimiters read a dot-terminated answer.
    const bool dotted = delimiter.empty() || delimiter == ".";
    const std::string endLine = delimiter.empty() ? std::string(".") : delimiter;
    int64_t headerBudget = MaxHeaderSize;
    int64_t bodyBudget = MaxMessageSize;
    bool inBody = false;
    bool ended = false;
    std::string last;
    try {
        for (;;) {
            std::string line = inBody ? ReadAnswerLine(bodyBudget, "Message", MaxMessageSize)
                                      : ReadAnswerLine(headerBudget, "Message header", MaxHeaderSize);
            if (delimiter.empty()) {
                if (line.empty() || line == ".") {
                    ended = line == ".";
                    last = line;
                    break;
                }
            } else if (line == delimiter) {
                ended = true;
                last = line;
                break;
            }
            if (line.empty()) {
                inBody = true;
                continue;
            }
            if (inBody) continue;
            if (dotted && line.size() > 1 && line[0] == '.') line.erase(0, 1);
            if (message.AddHeaderBlockLine(line)) continue;
            // The header block ran into the body without its empty line.
            if (delimiter.empty()) {
                FBodyFirstLine = std::move(line);
                FHasBodyFirstLine = true;
                last.clear();
                break;
            }
            inBody = true;
        }
    } catch (...) {
        RecoverAfterFailure(ended, endLine);
        throw;
    }
    message.ParseHeaders();
    return last;
}

void TNetMessageClient::ReceiveBody(TNetMessage &message, const std::string &delimiter) {
    WorkBracket work(*this, wmRead);
    FLineFailed = false;
    TNetMessageClientSource source(*this, delimiter);
    if (FHasBodyFirstLine) {
        FHasBodyFirstLine = false;
        source.UnreadLine(std::move(FBodyFirstLine));
        FBodyFirstLine.clear();
    }
    try {
        std::string line;
        if (message.NoDecode) {
            while (source.ReadLine(line)) message.Body.Add(line);
        } else {
            message.ReceiveBody(source);
            // Whatever the decoders left of the answer is still this answer.
            while (source.ReadLine(line)) {
            }
        }
    } catch (...) {
        RecoverAfterFailure(source.Ended(), delimiter);
        throw;
    }
}

void TNetMessageClient::SendHeader(TNetMessage &message) {
    if (!FIOHandler) ENetException::Toss("Assertion failure");
    message.BuildHeaders();
    FIOHandler->Write(static_cast<const TStringList &>(message.LastGeneratedHeaders()));
}

void TNetMessageClient::SendBody(TNetMessage &message) {
    if (!FIOHandler) ENetException::Toss("Assertion failure");
    WorkBracket work(*this, wmWrite);
    // The message writer renders the whole message; the body is what follows
    // the header block, from the empty line that ends it, without the
    // terminating "." of a stored message.
    TMemoryStream all;
    message.WriteMessage(all, false);
    std::string text = all.DataString();
    size_t start = text.find("\r\n\r\n");
    start = start == std::string::npos ? 0 : start + 2;
    size_t end = text.size();
    if (end >= start + 3 && text.compare(end - 3, 3, ".\r\n") == 0 &&
        (end == start + 3 || text[end - 4] == '\n'))
        end -= 3;
    FIOHandler->Write(text.substr(start, end - start));
}

void TNetMessageClient::WriteBodyLines(TNetMessage &message) {
    if (!FIOHandler) ENetException::Toss("Assertion failure");
    for (const std::string &l : message.Body) {
        if (!l.empty() && l[0] == '.')
            FIOHandler->WriteLn("." + l);
        else
            FIOHandler->WriteLn(l);
    }
}

void TNetMessageClient::SendMsg(TNetMessage &message, bool headersOnly) {
    if (!FIOHandler) ENetException::Toss("Assertion failure");
    if (message.NoEncode) {
        WorkBracket work(*this, wmWrite);
        FIOHandler->Write(static_cast<const TStringList &>(message.Headers));
        FIOHandler->WriteLn();
        if (!headersOnly) WriteBodyLines(message);
        return;
    }
    SendHeader(message);
    if (!headersOnly) SendBody(message);
}

void TNetMessageClient::ReadMessageFromStream(TNetMessage &message, TStream &stream, bool headersOnly) {
    // The handler of a connection is set aside untouched (never freed) and
    // put back afterwards.
    TNetIOHandler *old = FIOHandler;
    bool oldManaged = FManagedIOHandler;
    FManagedIOHandler = false;
    std::unique_ptr<TNetIOHandlerStreamMsg> handler(NetCreate<TNetIOHandlerStreamMsg>(nullptr, &stream));
    handler->FreeStreams = false;
    TNetTCPConnection::SetIOHandler(handler.get());
    auto restore = [&] {
        TNetTCPConnection::SetIOHandler(old);
        FManagedIOHandler = oldManaged;
        // A body left unread was the stream's, not the connection's.
        FHasBodyFirstLine = false;
    };
    try {
        handler->Open();
        if (ReceiveHeader(message, std::string()).empty() && !headersOnly) ReceiveBody(message, ".");
    } catch (...) {
        restore();
        throw;
    }
    restore();
}
