#include "NetMessageSource.h"

#include <algorithm>

#include "NetIOHandler.h"
#include "NetMailExceptions.h"

bool TNetMessageSource::ReadLine(std::string &line) {
    if (FHasUnread) {
        FHasUnread = false;
        line = std::move(FUnread);
        FUnread.clear();
        return true;
    }
    if (FEnded) {
        line.clear();
        return false;
    }
    FContinuation = false;
    if (!RawLine(line)) {
        FEnded = true;
        line.clear();
        return false;
    }
    FBytes += std::max<int64_t>(int64_t(line.size()) + 2, NetMinLineCharge);
    if (MaxMessageSize > 0 && FBytes > MaxMessageSize)
        throw ENetMessageTooLarge(Format("Message larger than %lld bytes.", (long long)MaxMessageSize));
    if (FDotTerminated && !FContinuation && !line.empty() && line[0] == '.') {
        if (line.size() == 1) {
            FEnded = true;
            line.clear();
            return false;
        }
        line.erase(0, 1);
    }
    return true;
}

bool TNetStringMessageSource::RawLine(std::string &line) {
    if (FPos >= FText.size()) return false;
    size_t e = FText.find('\n', FPos);
    size_t next = e == std::string::npos ? FText.size() : e + 1;
    if (e == std::string::npos) e = FText.size();
    size_t end = e;
    if (end > FPos && FText[end - 1] == '\r') --end;
    line.assign(FText, FPos, end - FPos);
    FPos = next;
    return true;
}

bool TNetStreamMessageSource::Fill() {
    if (FEof) return false;
    if (FPos > 0) {
        FBuf.erase(0, FPos);
        FPos = 0;
    }
    size_t old = FBuf.size();
    FBuf.resize(old + 65536);
    int64_t got = FStream.Read(FBuf.data() + old, 65536);
    if (got <= 0) {
        FBuf.resize(old);
        FEof = true;
        return false;
    }
    FBuf.resize(old + size_t(got));
    return true;
}

bool TNetStreamMessageSource::RawLine(std::string &line) {
    size_t searchFrom = FPos;
    for (;;) {
        size_t e = FBuf.find('\n', searchFrom);
        if (e != std::string::npos) {
            size_t end = e;
            if (end > FPos && FBuf[end - 1] == '\r') --end;
            line.assign(FBuf, FPos, end - FPos);
            FPos = e + 1;
            return true;
        }
        searchFrom = FBuf.size() - FPos;
        // A line without an end is not gathered past the message cap.
        if (MaxMessageSize > 0 && int64_t(searchFrom) > MaxMessageSize)
            throw ENetMessageTooLarge(Format("Message larger than %lld bytes.", (long long)MaxMessageSize));
        if (!Fill()) break;
        searchFrom += FPos;
    }
    if (FPos >= FBuf.size()) return false;
    // The last line has no LF; a lone CR at its end is a line end too.
    size_t end = FBuf.size();
    if (FBuf[end - 1] == '\r') --end;
    line.assign(FBuf, FPos, end - FPos);
    FPos = FBuf.size();
    return true;
}

bool TNetIOHandlerMessageSource::RawLine(std::string &line) {
    // A connection lost before the message's end raises the transport's
    // exception: a cut message is never taken for a whole one.
    bool split = false;
    line = FHandler.ReadLnSplit(split);
    if (FHandler.ReadLnTimedOut()) ENetReadTimeout::Toss("Read Timeout");
    FContinuation = FPreviousSplit;
    FPreviousSplit = split;
    return true;
}
