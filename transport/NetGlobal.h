// The suite's global layer: the byte array in which data moves between the
// layers, its conversions, text routines used by the protocol code, ticks that
// survive the counter wrapping, thread helpers, IPv6 address text, stream
// routines and a critical section.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Classes.h"
#include "NetException.h"

using TNetBytes = std::vector<uint8_t>;

enum TNetMaxLineAction { maException, maSplit };
enum TNetIPVersion { Net_IPv4, Net_IPv6 };

// Program texts are UTF-8 held byte for byte, so every encoding the suite uses
// moves a text's bytes unchanged; encNone stands for "no encoding given".
enum class TNetEncoding { encNone = 0, enc8Bit, encUTF8 };

constexpr int NetMaxInt32 = 2147483647;

// ---------------------------------------------------------------------------
// Byte arrays. Every routine copies; none shares storage. Readers and writers
// check their ranges and raise ENetRangeException "Index out of bounds.".
TNetBytes ToBytes(std::string_view text, TNetEncoding encoding = TNetEncoding::enc8Bit);
TNetBytes ToBytes(char c);
TNetBytes ToBytes(uint8_t b);
TNetBytes ToBytes(int16_t v);
TNetBytes ToBytes(uint16_t v);
TNetBytes ToBytes(int32_t v);
TNetBytes ToBytes(uint32_t v);
TNetBytes ToBytes(int64_t v);
TNetBytes ToBytes(uint64_t v);
TNetBytes RawToBytes(const void *p, size_t count);
TNetBytes ByteToBytes(uint8_t b);
void CopyBytes(const TNetBytes &src, size_t srcIndex, TNetBytes &dst, size_t dstIndex, size_t count);
void WriteLongWordToBytes(uint32_t v, TNetBytes &bytes, size_t index);
void WriteWordToBytes(uint16_t v, TNetBytes &bytes, size_t index);
uint8_t BytesToByte(const TNetBytes &bytes, size_t index = 0);
uint16_t BytesToUInt16(const TNetBytes &bytes, size_t index = 0);
uint32_t BytesToUInt32(const TNetBytes &bytes, size_t index = 0);
int64_t BytesToInt64(const TNetBytes &bytes, size_t index = 0);
void BytesToIPv6Words(const TNetBytes &bytes, uint16_t (&words)[8], size_t index = 0);
// Text of the bytes from start (0-based) for at most length bytes; length -1
// means all that remain.
std::string BytesToStringRange(const TNetBytes &bytes, int start = 0, int length = -1);
std::string BytesToString(const TNetBytes &bytes);
std::string BytesToHexText(const TNetBytes &bytes);
// 0-based index of the byte, -1 when absent.
int FindByte(const TNetBytes &bytes, uint8_t b);
bool ByteInSet(uint8_t b, const TNetBytes &set);
// Appends bytes (the buffer layer's growth step).
void AppendBytes(TNetBytes &dst, const TNetBytes &src);

// ---------------------------------------------------------------------------
// Text.
// The part before the first delimiter; with aDelete the text keeps only what
// follows the delimiter. An absent delimiter returns the whole text and, with
// aDelete, empties it.
std::string Fetch(std::string &text, std::string_view delim = " ", bool aDelete = true,
                  bool caseSensitive = true);
std::string FetchCaseInsensitive(std::string &text, std::string_view delim = " ",
                                 bool aDelete = true);
int PosInStrArray(std::string_view text, const std::vector<std::string> &items,
                  bool caseSensitive = true);
bool TextIsSame(std::string_view a, std::string_view b);
bool TextStartsWith(std::string_view text, std::string_view start);
// 1-based position of sub at or after start (0 counts as 1); 0 when absent or sub is empty.
int PosFrom(std::string_view sub, std::string_view text, int start);
bool CharIsInSet(std::string_view text, int charPos, std::string_view set);
bool CharIsInEOL(std::string_view text, int charPos);
bool IsNumeric(std::string_view text);
bool IsOctalText(std::string_view text);
bool IsHexText(std::string_view text);
bool IsOctalChar(char c);
bool IsHexChar(char c);
void NetDelete(std::string &text, int index, int count);
void NetSleep(uint32_t milliseconds);
inline int64_t MaxInt64(int64_t a, int64_t b) { return a > b ? a : b; }
inline int64_t MinInt64(int64_t a, int64_t b) { return a < b ? a : b; }

// ---------------------------------------------------------------------------
// Ticks and threads.
uint32_t TicksNow();
uint32_t TicksDiff(uint32_t oldTicks, uint32_t newTicks);
uint64_t CurrentThreadId();
// True on the thread that started the program (recorded at start-up).
bool InMainThread();
// Names the calling thread for debuggers (shown by gdb and in /proc).
void SetThreadName(const std::string &name);

// ---------------------------------------------------------------------------
// IPv6 text.
// The canonical form (upper-case groups without leading zeros, "::" expanded),
// or empty when the text is not an IPv6 address of exactly eight groups.
std::string CanonicalIPv6Text(std::string_view text);
// ENetInvalidIPv6Address "%s is not a valid IPv6 address" when not an address.
void ParseIPv6Words(std::string_view text, uint16_t (&words)[8]);
std::string IPv6WordsToText(const uint16_t (&words)[8]);

// ---------------------------------------------------------------------------
// Streams.
class TNetStreamHelper {
public:
    // Reads at most count bytes (-1: all that remain) into bytes from offset on,
    // lengthening bytes to offset + count read when shorter.
    static int64_t ReadBytes(TStream &stream, TNetBytes &bytes, int64_t count = -1, size_t offset = 0);
    static int64_t WriteBytes(TStream &stream, const TNetBytes &bytes, int64_t count = -1);
};
std::string ReadStringFromStream(TStream &stream, int64_t count = -1);
void WriteStringToStream(TStream &stream, std::string_view text);
int64_t ReadInt64FromStream(TStream &stream);
// One line from the position up to LF (CR before it dropped); a negative
// maxLength means no limit. At the end of the stream with raiseAtEnd set raises
// ENetEndOfStream; without it returns "" there.
std::string ReadLnFromStream(TStream &stream, int maxLength = -1, bool raiseAtEnd = true);

// A file opened for reading that no other writer may open meanwhile.
class TReadFileExclusiveStream : public TFileStream {
public:
    explicit TReadFileExclusiveStream(const std::string &fileName)
        : TFileStream(fileName, fmOpenRead | fmShareDenyWrite) {}
};
// A file stream that creates (or truncates) the file.
class TFileCreateStream : public TFileStream {
public:
    explicit TFileCreateStream(const std::string &fileName) : TFileStream(fileName, fmCreate) {}
};

// ---------------------------------------------------------------------------
// A lock the socket stack and socket lists share with their callers; a thread
// may enter it again while it holds it.
class TNetCriticalSection {
public:
    void Enter() { FMutex.lock(); }
    void Leave() { FMutex.unlock(); }
    bool TryEnter() { return FMutex.try_lock(); }
    // For std::lock_guard.
    void lock() { Enter(); }
    void unlock() { Leave(); }

private:
    std::recursive_mutex FMutex;
};
