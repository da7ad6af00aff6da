// The byte FIFO under every IO handler: received bytes wait here until they
// are taken as lines, blocks or streams. Extraction from the head is cheap;
// the consumed head is compacted once it passes a reserve and outweighs what
// is left, so reading a long stream line by line stays linear.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "NetGlobal.h"

class TNetBuffer {
public:
    static constexpr size_t GrowthReserve = 2048;
    // onBytesRemoved: told the count after every removal (the read-work step).
    explicit TNetBuffer(std::function<void(int)> onBytesRemoved = {});
    ~TNetBuffer();
    TNetBuffer(const TNetBuffer &) = delete;
    TNetBuffer &operator=(const TNetBuffer &) = delete;

    int Size() const { return int(FBytes.size() - FHead); }
    // report false: the bytes are thrown away unread, so no read-work step
    // is told.
    void Clear(bool report = true);
    // Appends; with index >= 0 stores at that offset from the head instead
    // (growing the buffer as needed).
    void WriteBytes(const TNetBytes &bytes, int index = -1);
    void WriteBytes(const uint8_t *data, size_t count);
    void WriteString(std::string_view text);
    // count -1 = all. With fromIndex < 0 the bytes are removed from the head;
    // with fromIndex >= 0 they are copied from there and stay.
    void ExtractToBytes(TNetBytes &bytes, int count = -1, bool append = true, int fromIndex = -1);
    std::string ExtractToString(int count = -1);
    void ExtractToStream(TStream &stream, int count = -1);
    // Offset from the head of the first occurrence at or after start; -1 when
    // absent or the buffer is empty.
    int IndexOf(std::string_view pattern, int start = 0);
    int IndexOf(const TNetBytes &pattern, int start = 0);
    uint8_t PeekByte(int index);
    // The unread bytes (valid until the next change).
    const uint8_t *Data() const { return FBytes.data() + FHead; }
    void CompactHead(bool shrink = false);

private:
    int CheckCount(int count);
    void Removed(size_t count);
    // Drops count bytes from the head (already copied out) and reports them.
    void Consume(size_t count);

    TNetBytes FBytes;
    size_t FHead = 0;
    std::function<void(int)> FOnBytesRemoved;
};
