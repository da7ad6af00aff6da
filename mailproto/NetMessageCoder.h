// Message coders: decoders that recognise the start of a part in the line
// stream of a message, read its headers and decode its body; encoders that
// write a part's data with a byte coder. Both are found through registries.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "NetMessageSource.h"

class TNetMessage;

enum TNetPartKind { pkUnknown = 0, pkText = 1, pkAttachment = 2 };

class TNetMessageDecoder {
public:
    virtual ~TNetMessageDecoder() = default;
    // The part's header lines, each as the name, "=" and the value.
    TStringList Headers;
    TNetPartKind PartKind = pkUnknown;
    std::string FileName;  // cleaned, safe to use inside a folder
    // The byte coder used for the body ("base64", "quoted-printable",
    // "binhex40", "UUE", "XXE" or "" for none), known after ReadBody.
    std::string Transfer;

    virtual void ReadHeader() = 0;
    // Decodes the body into destination; returns the decoder of the next part
    // or none; sets messageEnded when the message's last line was read.
    virtual std::unique_ptr<TNetMessageDecoder> ReadBody(TStream &destination, bool &messageEnded) = 0;
    // A header of the part, found by name without regard to case.
    std::string HeaderValue(std::string_view name) const;

protected:
    TNetMessageDecoder(TNetMessage &message, TNetMessageSource &source) : FMessage(message), FSource(source) {}
    TNetMessage &FMessage;
    TNetMessageSource &FSource;
};

class TNetMessageDecoderMIME : public TNetMessageDecoder {
public:
    // firstLine: a body line already read (single-part starts), if any.
    TNetMessageDecoderMIME(TNetMessage &message, TNetMessageSource &source, bool singlePart = false,
                           std::string firstLine = {}, bool hasFirstLine = false);
    void ReadHeader() override;
    std::unique_ptr<TNetMessageDecoder> ReadBody(TStream &destination, bool &messageEnded) override;
    bool SinglePart() const { return FSinglePart; }
    // Single-part mode: the kind comes from the message's own headers.
    void SetupSinglePart(const std::string &contentType, const std::string &disposition);

private:
    // The cleaned file name (Content-Disposition's, else Content-Type's) and
    // the kind of part they and the content type make.
    void NameAndKind(const std::string &contentType, const std::string &contentTypeHeader,
                     const std::string &disposition);
    bool FSinglePart;
    std::string FFirstLine;
    bool FHasFirstLine;
};

class TNetMessageDecoderUUE : public TNetMessageDecoder {
public:
    TNetMessageDecoderUUE(TNetMessage &message, TNetMessageSource &source, std::string fileName);
    void ReadHeader() override {}
    std::unique_ptr<TNetMessageDecoder> ReadBody(TStream &destination, bool &messageEnded) override;
};

// The registry of message decoders, asked in registration order.
class TNetMessageDecoderList {
public:
    using CheckForStart = std::function<std::unique_ptr<TNetMessageDecoder>(TNetMessage &, TNetMessageSource &,
                                                                           const std::string &line)>;
    static void Register(const std::string &name, CheckForStart check);
    static std::unique_ptr<TNetMessageDecoder> CheckForStartOf(TNetMessage &message, TNetMessageSource &source,
                                                               const std::string &line);
};

// ---------------------------------------------------------------------------

class TNetMessageEncoder {
public:
    virtual ~TNetMessageEncoder() = default;
    std::string FileName;
    int PermissionCode = 660;
    // Encodes the source from its position to its end, with CR LF line ends.
    virtual void Encode(TStream &source, TStream &destination) = 0;
};

class TNetMessageEncoderMIME : public TNetMessageEncoder {
public:
    void Encode(TStream &source, TStream &destination) override;
};
class TNetMessageEncoderQuotedPrintable : public TNetMessageEncoder {
public:
    void Encode(TStream &source, TStream &destination) override;
};
class TNetMessageEncoderUUE : public TNetMessageEncoder {
public:
    void Encode(TStream &source, TStream &destination) override;

protected:
    virtual bool XXE() const { return false; }
};
class TNetMessageEncoderXXE : public TNetMessageEncoderUUE {
protected:
    bool XXE() const override { return true; }
};

// Encoders by name ("MIME", "QP", "UUE", "XXE"); an unknown name raises
// ENetException "Message encoder not found".
class TNetMessageEncoderList {
public:
    static std::unique_ptr<TNetMessageEncoder> Create(const std::string &name);
    static bool Known(const std::string &name);
};

// The MIME boundary of this run, made once on first use.
class TNetMIMEBoundaryStrings {
public:
    static const std::string &Boundary();
    // A fresh boundary (34 characters with "=_" at a random place), for a
    // nested level that must differ from the levels around it.
    static std::string GenerateBoundary();
};

// Cleans a file name taken from a message so it can only name a file inside
// the folder it is put in: the text after the last "/" or "\", every
// character outside the allowed set as "_", "", "." and ".." as "_", at most
// 255 bytes.
std::string CleanAttachmentFileName(const std::string &name);
