// Where the lines of a message come from. A dot-terminated source (a POP3
// reply, a saved ".eml" file) ends at a line holding only "." and removes
// the doubled leading dot of every other line, exactly once, here; a
// literal source (an IMAP literal, a plain buffer) takes every line as data.
// Every source counts what it delivers and refuses a message past its cap.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Classes.h"

class TNetIOHandler;

// What one line of a message costs at least against a size cap, however
// short it is: every line kept is a string of its own, so without this a
// message of empty lines would take many times its cap in memory.
constexpr int64_t NetMinLineCharge = 32;

class TNetMessageSource {
public:
    // Messages larger than this raise ENetMessageTooLarge while loading.
    static constexpr int64_t DefaultMaxMessageSize = int64_t(256) << 20;

    virtual ~TNetMessageSource() = default;
    // The next line without its line end (LF, or CR LF); false at the end of
    // the message.
    bool ReadLine(std::string &line);
    // Gives back a line ReadLine delivered (a header block that ends without
    // its empty line hands its body's first line on): the next ReadLine
    // returns it as it stands, neither counted nor unstuffed again.
    void UnreadLine(std::string line) {
        FUnread = std::move(line);
        FHasUnread = true;
    }
    bool Ended() const { return FEnded; }
    int64_t MaxMessageSize = DefaultMaxMessageSize;
    // What the cap has counted so far (short lines at NetMinLineCharge).
    int64_t BytesRead() const { return FBytes; }

protected:
    TNetMessageSource(bool dotTerminated) : FDotTerminated(dotTerminated) {}
    // The next raw line (line end removed); false when the data is exhausted.
    virtual bool RawLine(std::string &line) = 0;
    // Set by RawLine when the line is the rest of an over-long line that was
    // cut: it starts no line, so no dot rule applies to it.
    bool FContinuation = false;

private:
    bool FDotTerminated;
    bool FEnded = false;
    bool FHasUnread = false;
    std::string FUnread;
    int64_t FBytes = 0;
};

// Lines of a text held in memory.
class TNetStringMessageSource : public TNetMessageSource {
public:
    TNetStringMessageSource(std::string text, bool dotTerminated)
        : TNetMessageSource(dotTerminated), FText(std::move(text)) {}

protected:
    bool RawLine(std::string &line) override;

private:
    std::string FText;
    size_t FPos = 0;
};

// Lines read from a stream in blocks; the stream's end also ends the message,
// whatever its last line end (CR LF, LF, CR or none).
class TNetStreamMessageSource : public TNetMessageSource {
public:
    TNetStreamMessageSource(TStream &stream, bool dotTerminated)
        : TNetMessageSource(dotTerminated), FStream(stream) {}

protected:
    bool RawLine(std::string &line) override;

private:
    bool Fill();
    TStream &FStream;
    std::string FBuf;
    size_t FPos = 0;
    bool FEof = false;
};

// Lines read through an IO handler (a POP3 or IMAP connection). A read that
// times out raises ENetReadTimeout; a lost connection raises the handler's
// exception. A line longer than the handler's MaxLineLength is taken in
// pieces rather than failing the message.
class TNetIOHandlerMessageSource : public TNetMessageSource {
public:
    TNetIOHandlerMessageSource(TNetIOHandler &handler, bool dotTerminated)
        : TNetMessageSource(dotTerminated), FHandler(handler) {}

protected:
    bool RawLine(std::string &line) override;

private:
    TNetIOHandler &FHandler;
    bool FPreviousSplit = false;
};
