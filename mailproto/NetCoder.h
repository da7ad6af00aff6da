// Byte coders: base64, quoted-printable, UUE, XXE and BinHex 4.0. Encoders
// turn bytes into text; decoders turn text back into bytes written to a
// destination stream (or collected into a text). Decoding is table-driven
// and appends to one buffer per call, so large bodies decode without
// per-byte allocation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Classes.h"
#include "NetMailExceptions.h"

class TNetEncoder {
public:
    virtual ~TNetEncoder() = default;
    // Encodes count bytes (-1: all that remain) from the stream's position.
    std::string Encode(TStream &source, int64_t count = -1);
    std::string EncodeString(std::string_view text) {
        return EncodeBuffer(reinterpret_cast<const uint8_t *>(text.data()), text.size());
    }
    std::string EncodeBytes(const TNetBytes &bytes) { return EncodeBuffer(bytes.data(), bytes.size()); }
    virtual std::string EncodeBuffer(const uint8_t *data, size_t len) = 0;
};

class TNetDecoder {
public:
    virtual ~TNetDecoder() = default;
    // Decoded bytes go to the stream from here until DecodeEnd.
    virtual void DecodeBegin(TStream &destination);
    virtual void DecodeEnd();
    // Decodes a piece of coded text; pieces may be fed one after another.
    virtual void Decode(std::string_view text) = 0;
    std::string DecodeString(std::string_view text);
    TNetBytes DecodeToBytes(std::string_view text);

protected:
    // Hands decoded bytes to the destination (stream or collecting text).
    void Emit(const char *data, size_t len);
    void Emit(const std::string &s) { Emit(s.data(), s.size()); }
    virtual void Reset() {}

private:
    TStream *FStream = nullptr;
    std::string *FCollect = nullptr;
};

// ---------------------------------------------------------------------------
// Three bytes to four characters.

class TNetEncoder3to4 : public TNetEncoder {
public:
    std::string EncodeBuffer(const uint8_t *data, size_t len) override;

protected:
    TNetEncoder3to4(const char *table, char fill) : FTable(table), FFill(fill) {}
    const char *FTable;  // 64 characters
    char FFill;          // 0: no fill characters are written
};

class TNetDecoder4to3 : public TNetDecoder {
public:
    void Decode(std::string_view text) override;
    void DecodeEnd() override;

protected:
    // reverse: 256 entries, the table position of a character or 0xFF.
    TNetDecoder4to3(const uint8_t *reverse, char fill) : FReverse(reverse), FFill(fill) {}
    void Reset() override { FBits = 0; FCount = 0; }
    void FlushPartial(std::string &out);
    std::string FOut;  // reused between calls
    const uint8_t *FReverse;
    char FFill;
    uint32_t FBits = 0;
    int FCount = 0;
};

class TNetEncoderMIME : public TNetEncoder3to4 {
public:
    TNetEncoderMIME();
};

// Characters outside the base64 alphabet (line ends, blanks, 8-bit bytes that
// spam puts inside base64) are skipped. A fill character completes the group
// in progress; a group cut short by the end of the data is completed as if
// it were filled.
class TNetDecoderMIME : public TNetDecoder4to3 {
public:
    TNetDecoderMIME();
};

// Fed line by line: the characters that do not complete a group are kept
// for the next line; DecodeEnd decodes what is left as if filled.
class TNetDecoderMIMELineByLine : public TNetDecoderMIME {};

// ---------------------------------------------------------------------------
// Length-prefixed lines (UUE, XXE).

class TNetEncoder00E : public TNetEncoder {
public:
    // Lines of at most 45 bytes, each with its length character, joined by
    // CR LF (no line end after the last).
    std::string EncodeBuffer(const uint8_t *data, size_t len) override;
    char TableChar(int value) const { return FTable[value & 63]; }

protected:
    explicit TNetEncoder00E(const char *table) : FTable(table) {}
    const char *FTable;
};

class TNetDecoder00E : public TNetDecoder {
public:
    // Decodes one or more coded lines. A length character that claims more
    // bytes than its line holds is taken as if the missing characters were
    // zero (mail transports strip trailing blanks).
    void Decode(std::string_view text) override;

protected:
    explicit TNetDecoder00E(const uint8_t *reverse) : FReverse(reverse) {}
    void DecodeLine(std::string_view line, std::string &out);
    const uint8_t *FReverse;
};

class TNetEncoderUUE : public TNetEncoder00E {
public:
    TNetEncoderUUE();
};
class TNetDecoderUUE : public TNetDecoder00E {
public:
    TNetDecoderUUE();
};
class TNetEncoderXXE : public TNetEncoder00E {
public:
    TNetEncoderXXE();
};
class TNetDecoderXXE : public TNetDecoder00E {
public:
    TNetDecoderXXE();
};

extern const char NetUUETable[];  // 64 characters, value 0 written as "`"
extern const char NetXXETable[];

// ---------------------------------------------------------------------------
// Quoted-printable.

class TNetEncoderQuotedPrintable : public TNetEncoder {
public:
    // CR LF in the data is a hard line break; every other byte outside the
    // printable range, "=", a blank before a line end and a "." starting a
    // line are written as "=XX"; lines are broken softly before they pass
    // 74 characters.
    std::string EncodeBuffer(const uint8_t *data, size_t len) override;
};

class TNetDecoderQuotedPrintable : public TNetDecoder {
public:
    void Decode(std::string_view text) override;
};

// ---------------------------------------------------------------------------
// BinHex 4.0.

extern const char NetBinHexTable[];
extern const char NetBinHexHeaderLine[];

// The XMODEM CRC-16 that BinHex uses for its header and forks.
uint16_t BinHexCRC(const uint8_t *data, size_t len, uint16_t crc = 0);

class TNetEncoderBinHex4 : public TNetEncoder3to4 {
public:
    TNetEncoderBinHex4();
    // Writes the source as one BinHex 4.0 file (header line, framed text in
    // lines of 64 characters).
    void EncodeNamedStream(const std::string &fileName, TStream &source, TStream &destination);
};

class TNetDecoderBinHex4 : public TNetDecoder4to3 {
public:
    TNetDecoderBinHex4();
    // Decodes the first colon-framed block of the text and writes one fork
    // (the data fork, or the resource fork when the data fork is empty).
    void Decode(std::string_view text) override { Decode(text, 1, -1); }
    void Decode(std::string_view text, int startPos, int64_t count);
    void DecodeEnd() override {}
    // Run-length expansion is refused past this many bytes.
    static constexpr size_t MaxExpanded = size_t(512) << 20;
};
