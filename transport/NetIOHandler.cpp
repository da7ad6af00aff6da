#include "NetIOHandler.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "NetAntiFreeze.h"
#include "NetIOHandlerStack.h"
#include "NetStack.h"

namespace {
TNetIOHandlerFactory &DefaultFactory() {
    static TNetIOHandlerFactory factory;
    return factory;
}

std::mutex GRegisteredLock;
std::vector<std::string> &Registered() {
    static std::vector<std::string> names;
    return names;
}

// Time left of a limit (-2: none) since start.
int TimeLeft(int limit, uint32_t start) {
    if (limit < 0) return -2;
    uint32_t spent = TicksDiff(start, TicksNow());
    return spent >= uint32_t(limit) ? 0 : limit - int(spent);
}

// The shorter of two waits, -2 standing for no limit.
int ShorterWait(int a, int b) {
    if (a < 0) return b;
    if (b < 0) return a;
    return std::min(a, b);
}
}  // namespace

TNetIOHandler::~TNetIOHandler() {
    try {
        if (FOpened) TNetIOHandler::Close();
    } catch (...) {
    }
}

void TNetIOHandler::InitComponent() {
    TNetComponent::InitComponent();
    RecvBufferSize = 32768;
    SendBufferSize = 32768;
    MaxLineLength = 16384;
    MaxCapturedLines = -1;
    LargeStream = false;
    ReadTimeout = -1;
}

void TNetIOHandler::Notification(TNetInitializerComponent *comp, TOperation operation) {
    TNetComponent::Notification(comp, operation);
    if (operation == opRemove && comp == FIntercept) FIntercept = nullptr;
}

void TNetIOHandler::SetIntercept(TNetConnectionIntercept *value) {
    if (value == FIntercept) return;
    if (FIntercept) RemoveFreeNotification(FIntercept);
    FIntercept = value;
    if (FIntercept) FreeNotification(FIntercept);
}

std::string TNetIOHandler::InputBufferAsString() {
    return FInputBuffer ? FInputBuffer->ExtractToString() : std::string();
}

void TNetIOHandler::Open() {
    FOpened = false;
    FClosedGracefully = false;
    FRecvBuffer = std::make_unique<TNetBuffer>();
    FInputBuffer = std::make_unique<TNetBuffer>([this](int n) {
        FAnswerBytes += n;
        DoWork(wmRead, n);
    });
    FAnswerClockArmed = true;
    FOpened = true;
}

void TNetIOHandler::StartAnswerClock() {
    if (!FAnswerClockArmed) return;
    FAnswerClockArmed = false;
    FAnswerStart = TicksNow();
    FAnswerPumpedAtStart = TNetAntiFreezeBase::PumpedMilliseconds();
    // Bytes already here were counted by the answer they came with.
    FAnswerBytes = FInputBuffer ? -int64_t(FInputBuffer->Size()) : 0;
}

int TNetIOHandler::AnswerTimeLeft() {
    if (ReadTimeout <= 0) return -2;
    int64_t spent = int64_t(TicksDiff(FAnswerStart, TicksNow())) -
                    int64_t(TNetAntiFreezeBase::PumpedMilliseconds() - FAnswerPumpedAtStart);
    int64_t got = FAnswerBytes + (FInputBuffer ? FInputBuffer->Size() : 0);
    if (got < 0) got = 0;
    int64_t allowed = int64_t(ReadTimeout) * (1 + got / NetAnswerPaceBytes);
    int64_t left = allowed - std::max<int64_t>(spent, 0);
    return int(std::clamp<int64_t>(left, 0, NetMaxInt32));
}

int TNetIOHandler::AnswerReadWait() {
    int left = AnswerTimeLeft();
    return left < 0 ? -1 : std::min(left, ReadTimeout);
}

void TNetIOHandler::Close() {
    // A handler the peer has closed already told its intercept then.
    if (FIntercept && FOpened) FIntercept->Disconnect();
    FOpened = false;
    if (!FKeepInputOnClose && FInputBuffer) FInputBuffer->Clear(false);
}

void TNetIOHandler::CloseKeepingInput() {
    FKeepInputOnClose = true;
    try {
        Close();
    } catch (...) {
        FKeepInputOnClose = false;
        throw;
    }
    FKeepInputOnClose = false;
}

bool TNetIOHandler::Connected() {
    CheckForDisconnect(false);
    return FOpened && FInputBuffer && (!FClosedGracefully || FInputBuffer->Size() > 0);
}

void TNetIOHandler::RaiseConnClosedGracefully() {
    ENetConnClosedGracefully::Toss("Connection Closed Gracefully.");
}

bool TNetIOHandler::Readable(int) { return false; }

void TNetIOHandler::WriteDirect(TNetBytes &bytes) {
    CheckForDisconnect(true, true);
    if (FIntercept) FIntercept->Send(bytes);
}

// ---------------------------------------------------------------------------
std::string TNetIOHandler::ReadLn(const std::string &aTerminator, int timeout, int maxLineLength) {
    const std::string term = aTerminator.empty() ? std::string("\n") : aTerminator;
    const bool lfTerm = term == "\n";
    if (maxLineLength < 0) maxLineLength = MaxLineLength;
    FReadLnSplit = false;
    FReadLnTimedOut = false;
    if (!FInputBuffer) ENetException::Toss("Not Connected");

    // The time-out bounds the whole line, not each receive, so a peer that
    // trickles bytes cannot hold the line open for ever.
    int limit = timeout;
    if (timeout == -1) limit = ReadTimeout > 0 ? ReadTimeout : -2;
    const uint32_t start = TicksNow();
    StartAnswerClock();
    // An explicit "no limit" is the caller's word; otherwise the answer's
    // pace bounds the line too.
    const bool paced = timeout != -2;

    // A multi-byte terminator may be split across receives: searches resume a
    // terminator's length before the end of what was searched.
    const int overlap = int(term.size()) - 1;
    // What may still follow a line of the full length: the terminator, and
    // with LF a CR before it.
    const std::string ending = lfTerm ? std::string("\r\n") : term;
    // The bytes from position at on are the start of that ending (so the
    // line may still turn out to fit).
    auto endingBegins = [&](int at) {
        size_t n = size_t(FInputBuffer->Size() - at);
        return n < ending.size() && std::memcmp(FInputBuffer->Data() + at, ending.data(), n) == 0;
    };
    int searchPos = 0;
    int lastSize = 0;
    int found = -1;
    bool readOnce = false;
    while (true) {
        int size = FInputBuffer->Size();
        if (size > 0 && size > lastSize) {
            found = FInputBuffer->IndexOf(term, std::min(searchPos, size - 1));
            searchPos = std::max(0, size - overlap);
            lastSize = size;
        }
        if (maxLineLength > 0) {
            int lineLen = found;
            if (found > 0 && lfTerm && FInputBuffer->PeekByte(found - 1) == '\r') --lineLen;
            bool tooLong = found >= 0 ? lineLen > maxLineLength
                                      : size > maxLineLength && !endingBegins(maxLineLength);
            if (tooLong) {
                if (MaxLineAction == maException)
                    ENetReadLnMaxLineLengthExceeded::Toss("Max line length exceeded.");
                FReadLnSplit = true;
                return FInputBuffer->ExtractToString(maxLineLength);
            }
        }
        if (found >= 0) break;
        const int wait = ShorterWait(TimeLeft(limit, start), paced ? AnswerTimeLeft() : -2);
        if (readOnce && wait == 0) {
            FReadLnTimedOut = true;
            return std::string();
        }

        CheckForDisconnect(true, true);
        int r = ReadFromSource(true, wait, false);
        readOnce = true;
        if (r == -1) {
            FReadLnTimedOut = true;
            return std::string();
        }
        if (r == 0) {
            // The source ended: what is left is the last line; nothing left
            // is the end of the connection. Never wait for bytes that cannot come.
            if (FInputBuffer->Size() == 0) RaiseConnClosedGracefully();
            std::string rest = FInputBuffer->ExtractToString();
            if (lfTerm && !rest.empty() && rest.back() == '\r') rest.pop_back();
            return rest;
        }
    }
    std::string line = FInputBuffer->ExtractToString(found);
    FInputBuffer->ExtractToString(int(term.size()));
    if (lfTerm && !line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::string TNetIOHandler::ReadLnSplit(bool &wasSplit, const std::string &terminator, int timeout,
                                       int maxLineLength) {
    TNetMaxLineAction old = MaxLineAction;
    MaxLineAction = maSplit;
    std::string line;
    try {
        line = ReadLn(terminator, timeout, maxLineLength);
    } catch (...) {
        MaxLineAction = old;
        throw;
    }
    MaxLineAction = old;
    wasSplit = FReadLnSplit;
    return line;
}

std::string TNetIOHandler::ReadLnOrRaise() {
    std::string line = ReadLn();
    if (FReadLnTimedOut) ENetReadTimeout::Toss("Read Timeout");
    return line;
}

std::string TNetIOHandler::ReadLnWait(int failCount) {
    // ReadTimeout bounds the whole wait, so a peer that sends nothing but
    // blank lines cannot hold it for ever either.
    const int limit = ReadTimeout > 0 ? ReadTimeout : -2;
    const uint32_t start = TicksNow();
    std::string line;
    int fails = 0;
    while (fails < failCount) {
        line = Trim(ReadLn("\n", TimeLeft(limit, start)));
        if (FReadLnTimedOut) ENetReadTimeout::Toss("Read Timeout");
        if (!line.empty()) return line;
        ++fails;
    }
    return line;
}

void TNetIOHandler::ReadBytes(TNetBytes &buffer, int count, bool append) {
    if (!FInputBuffer) ENetException::Toss("Not Connected");
    if (count > 0) {
        StartAnswerClock();
        while (FInputBuffer->Size() < count) {
            int r = ReadFromSource(false, AnswerReadWait(), true);
            CheckForDisconnect(true, true);
            if (r == 0 && FInputBuffer->Size() < count) RaiseConnClosedGracefully();
        }
        FInputBuffer->ExtractToBytes(buffer, count, append);
    } else if (count == -1) {
        ReadFromSource(false, -1, false);
        FInputBuffer->ExtractToBytes(buffer, -1, append);
    }
}

uint8_t TNetIOHandler::ReadByte() {
    TNetBytes b;
    ReadBytes(b, 1, false);
    return b[0];
}

int32_t TNetIOHandler::ReadInteger(bool convert) {
    TNetBytes b;
    ReadBytes(b, 4, false);
    uint32_t v = BytesToUInt32(b);
    if (convert) v = TNetStack::NetworkToHost(v);
    return int32_t(v);
}

int64_t TNetIOHandler::ReadInt64(bool convert) {
    TNetBytes b;
    ReadBytes(b, 8, false);
    uint64_t v = uint64_t(BytesToInt64(b));
    if (convert) v = TNetStack::NetworkToHost(v);
    return int64_t(v);
}

void TNetIOHandler::ReadStream(TStream &stream, int64_t count, bool readUntilDisconnect) {
    if (!FInputBuffer) ENetException::Toss("Not Connected");
    StartAnswerClock();
    if (count == -1 && !readUntilDisconnect) {
        count = LargeStream ? ReadInt64() : int64_t(ReadInteger());
        if (count < 0) ENetException::Toss("Invalid stream size.");
    }
    // The stream is never grown in advance to a size the peer announced: it
    // grows by what actually arrives.
    if (readUntilDisconnect) count = INT64_MAX;
    BeginWork(wmRead, readUntilDisconnect ? 0 : count);
    try {
        int64_t remaining = count;
        while (remaining > 0) {
            if (FInputBuffer->Size() > 0) {
                int n = int(std::min<int64_t>(remaining, FInputBuffer->Size()));
                FInputBuffer->ExtractToStream(stream, n);
                remaining -= n;
                continue;
            }
            int r;
            try {
                r = ReadFromSource(!readUntilDisconnect, AnswerReadWait(), true);
            } catch (const ENetConnClosedGracefully &) {
                if (!readUntilDisconnect) throw;
                r = 0;
            }
            if (r <= 0 && FInputBuffer->Size() == 0) {
                // The peer closed: the end for a read until disconnect, a
                // short stream otherwise.
                if (readUntilDisconnect) break;
                RaiseConnClosedGracefully();
            }
        }
    } catch (...) {
        EndWork(wmRead);
        throw;
    }
    EndWork(wmRead);
}

std::string TNetIOHandler::AllData() {
    if (!FInputBuffer) ENetException::Toss("Not Connected");
    BeginWork(wmRead, 0);
    try {
        // Bounded: a silent or trickling peer raises after ReadTimeout (when
        // set), an endless one after NetMaxAllDataBytes.
        uint32_t lastData = TicksNow();
        StartAnswerClock();
        while (Connected()) {
            // A peer that trickles bytes never falls silent: the pace ends it.
            if (AnswerTimeLeft() == 0) ENetReadTimeout::Toss("Read Timeout");
            int r = ReadFromSource(false, 250, false);
            if (r == 0) break;
            if (r > 0) lastData = TicksNow();
            if (FInputBuffer->Size() > NetMaxAllDataBytes) ENetTooMuchDataInBuffer::Toss("Too much data in buffer.");
            if (r < 0 && ReadTimeout > 0 && TicksDiff(lastData, TicksNow()) >= uint32_t(ReadTimeout))
                ENetReadTimeout::Toss("Read Timeout");
        }
    } catch (...) {
        EndWork(wmRead);
        throw;
    }
    std::string s = FInputBuffer->ExtractToString();
    EndWork(wmRead);
    return s;
}

std::string TNetIOHandler::InputLn(const std::string &mask, bool echo, int tabWidth, int maxLineLength) {
    if (maxLineLength < 0) maxLineLength = MaxLineLength;
    std::string line;
    while (true) {
        uint8_t c = ReadByte();
        if (c == '\n') break;
        if (c == 8) {
            if (!line.empty()) {
                line.pop_back();
                if (echo) Write(char(8));
            }
            continue;
        }
        if (c == '\r' || c == 27) continue;
        if (int(line.size()) > maxLineLength) continue;
        if (c == 9) {
            if (tabWidth < 1) {
                line += '\t';
            } else {
                size_t n = size_t(tabWidth) - line.size() % size_t(tabWidth);
                line.append(n, ' ');
            }
            if (echo) Write(mask.empty() ? std::string(1, char(c)) : mask);
            continue;
        }
        line += char(c);
        if (echo) Write(mask.empty() ? std::string(1, char(c)) : mask);
    }
    if (echo) WriteLn();
    return line;
}

void TNetIOHandler::CaptureLoop(const std::function<void(std::string &)> &store, int &lineCount,
                                const std::string &delim, bool usesDotTransparency) {
    lineCount = 0;
    int64_t bytes = 0;
    BeginWork(wmRead, 0);
    try {
        while (true) {
            std::string line = ReadLnOrRaise();
            if (line == delim) break;
            // The maximum is the number of lines that may be stored, no more.
            if ((MaxCapturedLines > 0 && lineCount >= MaxCapturedLines) || lineCount >= NetMaxCapturedLinesCap ||
                bytes > NetMaxCapturedBytesCap)
                ENetMaxCaptureLineExceeded::Toss("Maximum number of line allowed exceeded");
            if (usesDotTransparency && line.size() >= 2 && line[0] == '.' && line[1] == '.') line.erase(0, 1);
            bytes += int64_t(line.size()) + 2;
            ++lineCount;
            store(line);
        }
    } catch (...) {
        EndWork(wmRead);
        throw;
    }
    EndWork(wmRead);
}

void TNetIOHandler::Capture(TStringList &dest, int &lineCount, const std::string &delim, bool usesDotTransparency) {
    CaptureLoop([&](std::string &line) { dest.Add(std::move(line)); }, lineCount, delim, usesDotTransparency);
}

void TNetIOHandler::Capture(TStream &dest, int &lineCount, const std::string &delim, bool usesDotTransparency) {
    CaptureLoop(
        [&](std::string &line) {
            line += "\r\n";
            dest.WriteBuffer(line.data(), int64_t(line.size()));
        },
        lineCount, delim, usesDotTransparency);
}

void TNetIOHandler::Capture(TStringList &dest, const std::string &delim, bool usesDotTransparency) {
    int n;
    Capture(dest, n, delim, usesDotTransparency);
}

int TNetIOHandler::CaptureLines(TStringList &dest, const std::string &delim, bool usesDotTransparency) {
    int n;
    Capture(dest, n, delim, usesDotTransparency);
    return n;
}

// ---------------------------------------------------------------------------
void TNetIOHandler::Write(const TNetBytes &bytes) {
    if (bytes.empty()) return;
    if (FWriteBuffer) {
        FWriteBuffer->WriteBytes(bytes);
        if (FWriteBufferThreshold >= 1 && FWriteBuffer->Size() >= FWriteBufferThreshold)
            WriteBufferFlush(FWriteBufferThreshold);
    } else {
        TNetBytes copy = bytes;
        WriteDirect(copy);
    }
    // What is read from now on is the answer to this.
    FAnswerClockArmed = true;
}

void TNetIOHandler::Write(const std::string &text) {
    if (text.empty()) return;
    Write(ToBytes(std::string_view(text)));
}

void TNetIOHandler::Write(char c) { Write(ToBytes(c)); }
void TNetIOHandler::Write(uint8_t b) { Write(ToBytes(b)); }

void TNetIOHandler::Write(int32_t value, bool convert) {
    uint32_t v = uint32_t(value);
    if (convert) v = TNetStack::HostToNetwork(v);
    Write(ToBytes(v));
}

void TNetIOHandler::Write(int64_t value, bool convert) {
    uint64_t v = uint64_t(value);
    if (convert) v = TNetStack::HostToNetwork(v);
    Write(ToBytes(v));
}

void TNetIOHandler::WriteLn(const std::string &text) { Write(text + "\r\n"); }

void TNetIOHandler::Write(const TStringList &lines, bool writeLinesCount) {
    // Buffering the caller already opened is joined, never restarted: opening
    // it again would drop what the caller has buffered so far.
    bool opened = !WriteBufferingActive();
    if (opened) WriteBufferOpen(-1);
    try {
        if (writeLinesCount) Write(int32_t(lines.Count()), true);
        for (const std::string &l : lines) WriteLn(l);
    } catch (...) {
        if (opened) WriteBufferCancel();
        throw;
    }
    if (opened) WriteBufferClose();
}

void TNetIOHandler::Write(TStream &stream, int64_t size, bool writeByteCount) {
    if (size < 0) {
        size = stream.Size() - stream.Position();
    } else if (size == 0) {
        stream.SetPosition(0);
        size = stream.Size();
    }
    if (size > NetMaxInt32 && !LargeStream) ENetIoHandlerRequiresLargeStream::Toss("");
    bool opened = !WriteBufferingActive();
    if (opened) WriteBufferOpen(-1);
    try {
        if (writeByteCount) {
            if (LargeStream)
                Write(int64_t(size), true);
            else
                Write(int32_t(size), true);
        }
        BeginWork(wmWrite, size);
        try {
            TNetBytes chunk;
            int64_t left = size;
            while (left > 0) {
                int n = int(std::min<int64_t>(left, SendBufferSize > 0 ? SendBufferSize : 32768));
                chunk.resize(size_t(n));
                int64_t got = stream.Read(chunk.data(), n);
                if (got <= 0) ENetNoDataToRead::Toss("No data to read.");
                chunk.resize(size_t(got));
                Write(chunk);
                left -= got;
            }
        } catch (...) {
            EndWork(wmWrite);
            throw;
        }
        EndWork(wmWrite);
    } catch (...) {
        if (opened) WriteBufferCancel();
        throw;
    }
    if (opened) WriteBufferClose();
}

int64_t TNetIOHandler::WriteFile(const std::string &fileName, bool) {
    if (!::FileExists(fileName)) ENetFileNotFound::Toss(Format("File \"%s\" not found", fileName.c_str()));
    TReadFileExclusiveStream file(fileName);
    int64_t size = file.Size();
    Write(file, 0, false);
    return size;
}

void TNetIOHandler::WriteBufferOpen(int threshold) {
    if (FWriteBuffer)
        FWriteBuffer->Clear();
    else
        FWriteBuffer = std::make_unique<TNetBuffer>();
    FWriteBufferThreshold = threshold;
}

void TNetIOHandler::WriteBufferFlush(int count) {
    if (!FWriteBuffer || FWriteBuffer->Size() == 0) return;
    TNetBytes bytes;
    FWriteBuffer->ExtractToBytes(bytes, count < 0 ? -1 : std::min(count, FWriteBuffer->Size()));
    WriteDirect(bytes);
    FAnswerClockArmed = true;
}

void TNetIOHandler::WriteBufferClose() {
    try {
        WriteBufferFlush(-1);
    } catch (...) {
        FWriteBuffer.reset();
        throw;
    }
    FWriteBuffer.reset();
}

void TNetIOHandler::WriteBufferClear() {
    if (FWriteBuffer) FWriteBuffer->Clear();
}

void TNetIOHandler::WriteBufferCancel() {
    WriteBufferClear();
    FWriteBuffer.reset();
}

void TNetIOHandler::SetDefaultClass(const std::string &className, TNetIOHandlerFactory factory) {
    DefaultFactory() = std::move(factory);
    RegisterIOHandler(className);
}

void TNetIOHandler::RegisterIOHandler(const std::string &className) {
    std::lock_guard<std::mutex> g(GRegisteredLock);
    auto &names = Registered();
    if (std::find(names.begin(), names.end(), className) == names.end()) names.push_back(className);
}

std::vector<std::string> TNetIOHandler::RegisteredIOHandlers() {
    std::lock_guard<std::mutex> g(GRegisteredLock);
    return Registered();
}

TNetIOHandler *TNetIOHandler::MakeDefaultIOHandler(TNetInitializerComponent *owner) {
    if (DefaultFactory()) return DefaultFactory()(owner);
    return NetCreate<TNetIOHandlerStack>(owner);
}
