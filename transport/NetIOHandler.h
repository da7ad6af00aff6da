// The transport-independent reading and writing layer under every connection:
// an input buffer turned into lines, blocks, integers, streams and captured
// lists, and writers for text, bytes, lists and streams with optional write
// buffering. Concrete handlers supply the source: ReadFromSource,
// CheckForDisconnect, CheckForDataOnSource and WriteDirect.
//
// Time-outs are milliseconds: -1 means the handler's ReadTimeout, -2 no limit;
// a ReadTimeout of -1 or 0 waits without limit.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Classes.h"
#include "NetBuffer.h"
#include "NetComponent.h"
#include "NetIntercept.h"

// Bounds on what a peer can make us hold, whatever the handler's settings.
constexpr int NetMaxCapturedLinesCap = 2000000;
constexpr int64_t NetMaxCapturedBytesCap = int64_t(256) * 1024 * 1024;
constexpr int64_t NetMaxAllDataBytes = int64_t(256) * 1024 * 1024;
// With a ReadTimeout set, one answer (everything read after the handler
// opened or last wrote) may take ReadTimeout, and another ReadTimeout for
// every this many bytes it brought: a peer that trickles bytes, or short
// lines, cannot hold it open for ever, while a slow but real transfer goes on.
constexpr int NetAnswerPaceBytes = 16384;

class TNetIOHandler;
using TNetIOHandlerFactory = std::function<TNetIOHandler *(TNetInitializerComponent *owner)>;

class TNetIOHandler : public TNetComponent {
public:
    ~TNetIOHandler() override;
    const char *ClassName() const override { return "TNetIOHandler"; }
    void InitComponent() override;
    void Notification(TNetInitializerComponent *comp, TOperation operation) override;

    // --- settings ---------------------------------------------------------
    virtual std::string GetDestination() const { return FDestination; }
    virtual void SetDestination(const std::string &value) { FDestination = value; }
    const std::string &Host() const { return FHost; }
    virtual void SetHost(const std::string &value) { FHost = value; }
    int Port() const { return FPort; }
    virtual void SetPort(int value) { FPort = value; }
    TNetConnectionIntercept *Intercept() const { return FIntercept; }
    virtual void SetIntercept(TNetConnectionIntercept *value);

    int MaxLineLength = 16384;
    TNetMaxLineAction MaxLineAction = maException;
    int RecvBufferSize = 32768;
    int SendBufferSize = 32768;
    int ReadTimeout = -1;
    int ConnectTimeout = 0;
    int MaxCapturedLines = -1;
    bool LargeStream = false;

    // --- state ------------------------------------------------------------
    bool Opened() const { return FOpened; }
    bool ClosedGracefully() const { return FClosedGracefully; }
    bool ReadLnSplit() const { return FReadLnSplit; }
    bool ReadLnTimedOut() const { return FReadLnTimedOut; }
    TNetBuffer *InputBuffer() const { return FInputBuffer.get(); }
    bool InputBufferIsEmpty() const { return !FInputBuffer || FInputBuffer->Size() == 0; }
    std::string InputBufferAsString();

    virtual void Open();
    // Drops whatever is still unread: after the owner closes, the handler
    // is not connected, even when the peer's last bytes were never read.
    virtual void Close();
    virtual bool Connected();
    virtual void CloseGracefully() { FClosedGracefully = true; }
    [[noreturn]] void RaiseConnClosedGracefully();
    virtual void AfterAccept() {}
    // Opens the connection of a client handler (resolve, bind, connect).
    virtual void ConnectClient() {}

    // --- the source, supplied by the concrete handlers ---------------------
    // Waits up to timeout for bytes and appends them to the input buffer:
    // the count added, 0 when the source ended (peer closed), -1 on time-out.
    virtual int ReadFromSource(bool raiseExceptionIfDisconnected = true, int timeout = -1,
                               bool raiseExceptionOnTimeout = true) = 0;
    virtual void CheckForDisconnect(bool raiseExceptionIfDisconnected = true, bool ignoreBuffer = false) = 0;
    virtual void CheckForDataOnSource(int timeout = 0) = 0;
    virtual bool Readable(int milliseconds = -2);
    // Sends bytes past the write buffer. The base checks the connection and
    // runs the intercept (which may change the bytes).
    virtual void WriteDirect(TNetBytes &bytes);

    // --- reading ------------------------------------------------------------
    // A line up to the terminator (LF by default; a CR before LF is dropped).
    // On time-out: "" with ReadLnTimedOut set and the buffered bytes kept.
    virtual std::string ReadLn(const std::string &terminator = "\n", int timeout = -1, int maxLineLength = -1);
    std::string ReadLnDefault() { return ReadLn(); }
    std::string ReadLnSplit(bool &wasSplit, const std::string &terminator = "\n", int timeout = -1,
                            int maxLineLength = -1);
    // The first line that is not blank after trimming, skipping at most
    // failCount blank ones; ENetReadTimeout "Read Timeout" when the peer goes
    // silent.
    virtual std::string ReadLnWait(int failCount = NetMaxInt32);
    virtual void ReadBytes(TNetBytes &buffer, int count, bool append = true);
    uint8_t ReadByte();
    int32_t ReadInteger(bool convert = true);
    int64_t ReadInt64(bool convert = true);
    virtual void ReadStream(TStream &stream, int64_t count = -1, bool readUntilDisconnect = false);
    // Everything until the peer closes.
    virtual std::string AllData();
    virtual std::string InputLn(const std::string &mask = std::string(), bool echo = true, int tabWidth = 8,
                                int maxLineLength = -1);
    // Lines up to a line equal to the delimiter (consumed, not stored); with
    // undoubling a leading ".." loses one dot.
    virtual void Capture(TStringList &dest, int &lineCount, const std::string &delim = ".",
                         bool usesDotTransparency = true);
    virtual void Capture(TStream &dest, int &lineCount, const std::string &delim = ".",
                         bool usesDotTransparency = true);
    void Capture(TStringList &dest, const std::string &delim = ".", bool usesDotTransparency = true);
    int CaptureLines(TStringList &dest, const std::string &delim = ".", bool usesDotTransparency = true);
    void CaptureDotList(TStringList &dest) { Capture(dest, ".", true); }

    // --- writing ------------------------------------------------------------
    virtual void Write(const TNetBytes &bytes);
    void Write(const std::string &text);
    void Write(const char *text) { Write(std::string(text ? text : "")); }
    void Write(char c);
    void Write(uint8_t b);
    void Write(int32_t value, bool convert = true);
    void Write(int64_t value, bool convert = true);
    virtual void WriteLn(const std::string &text = std::string());
    virtual void Write(const TStringList &lines, bool writeLinesCount = false);
    virtual void Write(TStream &stream, int64_t size = 0, bool writeByteCount = false);
    virtual int64_t WriteFile(const std::string &fileName, bool enableTransferFile = false);

    virtual void WriteBufferOpen(int threshold = -1);
    virtual void WriteBufferFlush(int count = -1);
    virtual void WriteBufferClose();
    virtual void WriteBufferClear();
    virtual void WriteBufferCancel();
    bool WriteBufferingActive() const { return FWriteBuffer != nullptr; }

    // --- default handler class ----------------------------------------------
    // The class clients make when they have none (the stack handler unless set).
    static void SetDefaultClass(const std::string &className, TNetIOHandlerFactory factory);
    static TNetIOHandler *MakeDefaultIOHandler(TNetInitializerComponent *owner);
    // The process-wide list of handler classes (each name once).
    static void RegisterIOHandler(const std::string &className);
    static std::vector<std::string> RegisteredIOHandlers();

protected:
    explicit TNetIOHandler(TNetInitializerComponent *owner) : TNetComponent(owner) {}
    // ReadLn that turns a time-out into ENetReadTimeout.
    std::string ReadLnOrRaise();
    void CaptureLoop(const std::function<void(std::string &)> &store, int &lineCount, const std::string &delim,
                     bool usesDotTransparency);
    // Close as the handler's own answer to a lost peer: what arrived before
    // the loss stays readable (and keeps the handler connected) until it is
    // read, the handler is opened again, or the owner closes it.
    void CloseKeepingInput();
    // The answer clock: armed by Open and by every write, started by the
    // first read after that. AnswerTimeLeft is what is left of the answer's
    // time (-2: no limit); time spent in the message pump does not count.
    void StartAnswerClock();
    int AnswerTimeLeft();
    // The wait for one read of a fixed count: ReadTimeout, or less when the
    // answer's time is nearly up (-1: the handler's default).
    int AnswerReadWait();

    std::string FDestination;
    std::string FHost;
    int FPort = 0;
    TNetConnectionIntercept *FIntercept = nullptr;
    bool FOpened = false;
    bool FClosedGracefully = false;
    bool FKeepInputOnClose = false;
    bool FReadLnSplit = false;
    bool FReadLnTimedOut = false;
    std::unique_ptr<TNetBuffer> FInputBuffer;
    std::unique_ptr<TNetBuffer> FRecvBuffer;
    std::unique_ptr<TNetBuffer> FWriteBuffer;
    int FWriteBufferThreshold = 0;
    bool FAnswerClockArmed = true;
    uint32_t FAnswerStart = 0;
    uint64_t FAnswerPumpedAtStart = 0;
    int64_t FAnswerBytes = 0;
};
