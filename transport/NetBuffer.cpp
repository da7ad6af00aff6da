#include "NetBuffer.h"

#include <cstring>

#include "NetStack.h"

TNetBuffer::TNetBuffer(std::function<void(int)> onBytesRemoved) : FOnBytesRemoved(std::move(onBytesRemoved)) {
    TNetStack::IncUsage();
}

TNetBuffer::~TNetBuffer() { TNetStack::DecUsage(); }

void TNetBuffer::Clear(bool report) {
    size_t n = size_t(Size());
    FBytes.clear();
    FHead = 0;
    if (n && report) Removed(n);
}

void TNetBuffer::WriteBytes(const uint8_t *data, size_t count) {
    if (count == 0) return;
    if (count > size_t(NetMaxInt32) || size_t(Size()) + count > size_t(NetMaxInt32))
        ENetTooMuchDataInBuffer::Toss("Too much data in buffer.");
    if (FHead > GrowthReserve && FHead >= FBytes.size() - FHead) CompactHead();
    FBytes.insert(FBytes.end(), data, data + count);
}

void TNetBuffer::WriteBytes(const TNetBytes &bytes, int index) {
    if (index < 0) {
        WriteBytes(bytes.data(), bytes.size());
        return;
    }
    size_t end = size_t(index) + bytes.size();
    if (end > size_t(NetMaxInt32)) ENetTooMuchDataInBuffer::Toss("Too much data in buffer.");
    if (FHead + end > FBytes.size()) FBytes.resize(FHead + end);
    if (!bytes.empty()) std::memcpy(FBytes.data() + FHead + index, bytes.data(), bytes.size());
}

void TNetBuffer::WriteString(std::string_view text) {
    WriteBytes(reinterpret_cast<const uint8_t *>(text.data()), text.size());
}

int TNetBuffer::CheckCount(int count) {
    if (count < 0) return Size();
    if (count > Size())
        ENetNotEnoughDataInBuffer::Toss(Format("Not enough data in buffer. (%d/%d)", count, Size()));
    return count;
}

void TNetBuffer::Removed(size_t count) {
    if (FOnBytesRemoved) FOnBytesRemoved(int(count));
}

void TNetBuffer::Consume(size_t count) {
    FHead += count;
    if (FHead == FBytes.size()) {
        FBytes.clear();
        FHead = 0;
    }
    if (count) Removed(count);
}

void TNetBuffer::CompactHead(bool shrink) {
    if (FHead > 0) {
        FBytes.erase(FBytes.begin(), FBytes.begin() + std::ptrdiff_t(FHead));
        FHead = 0;
    }
    if (shrink && FBytes.capacity() > FBytes.size() + GrowthReserve) FBytes.shrink_to_fit();
}

void TNetBuffer::ExtractToBytes(TNetBytes &bytes, int count, bool append, int fromIndex) {
    if (fromIndex >= 0) {
        if (fromIndex > Size()) ENetRangeException::Toss("Index out of bounds.");
        int avail = Size() - fromIndex;
        if (count < 0) count = avail;
        if (count > avail)
            ENetNotEnoughDataInBuffer::Toss(Format("Not enough data in buffer. (%d/%d)", count, avail));
        const uint8_t *p = Data() + fromIndex;
        if (!append) bytes.clear();
        bytes.insert(bytes.end(), p, p + count);
        return;
    }
    count = CheckCount(count);
    const uint8_t *p = Data();
    if (!append) bytes.clear();
    bytes.insert(bytes.end(), p, p + count);
    Consume(size_t(count));
}

std::string TNetBuffer::ExtractToString(int count) {
    count = CheckCount(count);
    std::string s(reinterpret_cast<const char *>(Data()), size_t(count));
    Consume(size_t(count));
    return s;
}

void TNetBuffer::ExtractToStream(TStream &stream, int count) {
    count = CheckCount(count);
    if (count) stream.WriteBuffer(Data(), count);
    Consume(size_t(count));
}

int TNetBuffer::IndexOf(std::string_view pattern, int start) {
    if (pattern.empty()) ENetException::Toss("Buffer terminator must be specified.");
    int size = Size();
    if (size == 0) return -1;
    if (start < 0 || start >= size) ENetException::Toss("Buffer start position is invalid.");
    const char *base = reinterpret_cast<const char *>(Data());
    if (pattern.size() == 1) {
        const void *hit = std::memchr(base + start, pattern[0], size_t(size - start));
        return hit ? int(static_cast<const char *>(hit) - base) : -1;
    }
    const void *hit = memmem(base + start, size_t(size - start), pattern.data(), pattern.size());
    return hit ? int(static_cast<const char *>(hit) - base) : -1;
}

int TNetBuffer::IndexOf(const TNetBytes &pattern, int start) {
    return IndexOf(std::string_view(reinterpret_cast<const char *>(pattern.data()), pattern.size()), start);
}

uint8_t TNetBuffer::PeekByte(int index) {
    if (Size() == 0) ENetException::Toss("No bytes in buffer.");
    if (index < 0 || index >= Size()) ENetException::Toss("Index out of bounds.");
    return Data()[index];
}
