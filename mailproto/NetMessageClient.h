// The base of the mail clients that fetch messages: reads a header block or
// a whole message from the connection into a TNetMessage, and writes one.
//
// Everything read here comes from a server and is bounded: a header block
// by MaxHeaderSize, a whole message by MaxMessageSize (a line longer than
// the IO handler's line limit is read in pieces and joined under the same
// cap). When reading fails inside a dot-terminated answer for any reason
// other than the connection itself, the rest of the answer is read and
// dropped first, so the next command gets its own reply; when the
// connection failed, or the rest is too large to drop, the connection is
// closed, never left out of step.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "NetExplicitTLSClient.h"
#include "NetIOHandlerStream.h"
#include "NetMessage.h"
#include "NetMessageSource.h"

// A stored message read as if a server sent it: at the end of the stream a
// terminating "." line is added once, so readers stop exactly as they do on
// a connection, whatever the stream's last line end.
class TNetIOHandlerStreamMsg : public TNetIOHandlerStream {
public:
    const char *ClassName() const override { return "TNetIOHandlerStreamMsg"; }
    bool Connected() override;
    int ReadFromSource(bool raiseExceptionIfDisconnected = true, int timeout = -1,
                       bool raiseExceptionOnTimeout = true) override;
    void CheckForDisconnect(bool raiseExceptionIfDisconnected = true, bool ignoreBuffer = false) override;
    bool TerminatorAdded() const { return FTerminatorAdded; }

protected:
    TNetIOHandlerStreamMsg(TNetInitializerComponent *owner, TStream *receiveStream = nullptr,
                           TStream *sendStream = nullptr);

private:
    bool FTerminatorAdded = false;
    uint8_t FLastByte = 0;
    bool FAnyByte = false;
};

class TNetTCPConnection;

// A stream over a connection: reads take exactly the bytes asked for from
// the IO handler, writes go to it; seeking always answers 0.
class TNetTCPStream : public TStream {
public:
    explicit TNetTCPStream(TNetTCPConnection &connection) : FConnection(connection) {}
    const char *ClassName() const override { return "TNetTCPStream"; }
    int64_t Read(void *buffer, int64_t count) override;
    int64_t Write(const void *buffer, int64_t count) override;
    int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
    int64_t Size() override { return 0; }
    void SetSize(int64_t) override {}

private:
    TNetTCPConnection &FConnection;
};

class TNetMessageClient : public TNetExplicitTLSClient {
public:
    const char *ClassName() const override { return "TNetMessageClient"; }
    void InitComponent() override;

    // Used by the writers.
    int LineLength = 79;
    std::string LineFold = "\t";

    // What a server may make us read for one message, and for one header
    // block (a server that ignores "TOP n 0" sends the body as well).
    static constexpr int64_t DefaultMaxMessageSize = TNetMessageSource::DefaultMaxMessageSize;
    static constexpr int64_t DefaultMaxHeaderSize = int64_t(1) << 20;
    int64_t MaxMessageSize = DefaultMaxMessageSize;
    int64_t MaxHeaderSize = DefaultMaxHeaderSize;

    // Reads header lines up to a line equal to delimiter, or with an empty
    // delimiter up to an empty line or a line holding only "."; returns that
    // last line. The header lines go to message.Headers (empty lines are
    // skipped) and the message parses them. With a non-empty delimiter the
    // lines after an empty line are body lines of a server that sent more
    // than the header: they are read and dropped.
    virtual std::string ReceiveHeader(TNetMessage &message, const std::string &delimiter = std::string());
    // Reads the body up to the line equal to delimiter ("." for a POP3
    // answer) and decodes it into the message's body and parts.
    virtual void ReceiveBody(TNetMessage &message, const std::string &delimiter = ".");
    virtual void SendHeader(TNetMessage &message);
    virtual void SendBody(TNetMessage &message);
    virtual void WriteBodyLines(TNetMessage &message);
    virtual void SendMsg(TNetMessage &message, bool headersOnly = false);

    // Loads a stored message (a saved ".eml" file) through the same readers,
    // with a stream IO handler in place of the connection's for the time.
    void ReadMessageFromStream(TNetMessage &message, TStream &stream, bool headersOnly);

protected:
    explicit TNetMessageClient(TNetInitializerComponent *owner) : TNetExplicitTLSClient(owner) {}

    // One line of a message answer, pieces of an over-long line joined.
    // Counts the bytes against budget (ENetMessageTooLarge "`what` larger
    // than `cap` bytes." when it runs out). A failing connection marks the
    // client out of step.
    std::string ReadAnswerLine(int64_t &budget, const char *what, int64_t cap);
    // Reads and drops the rest of a dot-terminated answer; closes the
    // connection when it fails or the rest is larger than MaxMessageSize.
    void DiscardRestOfAnswer(const std::string &delimiter);
    // After a failure that left the answer unread: the connection is
    // dropped when it failed itself, else the rest of the answer is.
    void RecoverAfterFailure(bool answerEnded, const std::string &delimiter);
    // Closes the connection without a goodbye, swallowing what that raises.
    void DropConnection();

    bool FLineFailed = false;
    // The body's first line when ReceiveHeader met it without the empty
    // line before it; ReceiveBody reads it first.
    bool FHasBodyFirstLine = false;
    std::string FBodyFirstLine;

    friend class TNetMessageClientSource;
};
