// One e-mail message in memory: header fields as properties, the header
// lines it was read from, its body lines and its MIME parts (text parts,
// and attachments kept in private temporary files).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "NetComponent.h"
#include "NetEMailAddress.h"
#include "NetHeaderCoder.h"
#include "NetHeaderList.h"
#include "NetMailExceptions.h"
#include "NetMessageCoder.h"
#include "NetReplyIMAP4.h"

class TNetMessage;

enum TNetMessageEncoding { meDefault, meMIME, mePlainText };
enum TNetMessagePriority { mpHighest, mpHigh, mpNormal, mpLow, mpLowest };

class TNetMessagePart {
public:
    virtual ~TNetMessagePart() = default;
    TNetMessagePart(const TNetMessagePart &) = delete;
    TNetMessagePart &operator=(const TNetMessagePart &) = delete;

    TNetHeaderList ExtraHeaders;
    TNetHeaderList Headers;  // the part's own header lines
    std::string CharSet;
    int ParentPart = -1;
    std::string ContentTransfer;
    std::string ContentDisposition;

    virtual std::string ContentType() const;
    virtual void SetContentType(const std::string &value);
    std::string ContentID() const { return Headers.GetValue("Content-ID"); }
    void SetContentID(const std::string &v) { Headers.SetValue("Content-ID", v); }
    std::string ContentLocation() const { return Headers.GetValue("Content-Location"); }
    void SetContentLocation(const std::string &v) { Headers.SetValue("Content-Location", v); }
    std::string ContentDescription() const { return Headers.GetValue("Content-Description"); }
    void SetContentDescription(const std::string &v) { Headers.SetValue("Content-Description", v); }
    virtual TNetPartKind PartKind() const = 0;
    TNetMessage *Owner() const { return FOwner; }

protected:
    explicit TNetMessagePart(TNetMessage *owner) : FOwner(owner) {}
    TNetMessage *FOwner;
};

class TNetText : public TNetMessagePart {
public:
    explicit TNetText(TNetMessage *owner) : TNetMessagePart(owner) {}
    TStringList Body;
    void Assign(const TNetText &other);
    std::string ContentType() const override;
    // Writes "type; CHARSET="set"" (the set from CharSet).
    void SetContentType(const std::string &value) override;
    void SetCharSet(const std::string &value);
    TNetPartKind PartKind() const override { return pkText; }
    bool NeedsEncoding() const;
};

class TNetAttachment : public TNetMessagePart {
public:
    std::string FileName;  // without folders
    std::string ContentType() const override;
    // The "name=" parameter of the part's Content-Type.
    std::string ContentTypeName() const;
    TNetPartKind PartKind() const override { return pkAttachment; }

    virtual std::unique_ptr<TStream> OpenLoadStream() = 0;
    virtual TStream &PrepareTempStream() = 0;
    virtual void FinishTempStream() = 0;
    virtual void SaveToFile(const std::string &path);
    void SaveToStream(TStream &stream);

protected:
    explicit TNetAttachment(TNetMessage *owner) : TNetMessagePart(owner) {}
};

class TNetAttachmentFile : public TNetAttachment {
public:
    explicit TNetAttachmentFile(TNetMessage *owner, const std::string &path = {});
    ~TNetAttachmentFile() override;
    std::string StoredPath;
    bool IsTempFile = false;
    bool Blocked = false;

    std::unique_ptr<TStream> OpenLoadStream() override;
    TStream &PrepareTempStream() override;
    void FinishTempStream() override;
    // Copies the data; raises ENetException "Error saving attachment." when
    // the copy fails or the target exists.
    void SaveToFile(const std::string &path) override;

private:
    std::unique_ptr<TStream> FTemp;
};

class TNetMessageParts {
public:
    int Count() const { return int(FItems.size()); }
    TNetMessagePart &Items(int index) const { return *FItems.at(size_t(index)); }
    TNetMessagePart &operator[](int index) const { return Items(index); }
    template <class T>
    T &Add(std::unique_ptr<T> part) {
        T &ref = *part;
        FItems.push_back(std::move(part));
        return ref;
    }
    void Delete(int index) { FItems.erase(FItems.begin() + index); }
    void Clear() { FItems.clear(); }
    void CountParts();
    int AttachmentCount = 0;
    int TextPartCount = 0;
    int RelatedPartCount = 0;
    std::string AttachmentEncoding() const { return FAttachmentEncoding; }
    void SetAttachmentEncoding(const std::string &name);

private:
    std::vector<std::unique_ptr<TNetMessagePart>> FItems;
    std::string FAttachmentEncoding = "MIME";
};

// A stack of (boundary, parent part) pairs, newest first.
class TNetMIMEBoundary {
public:
    void Push(const std::string &boundary, int parentPart) { FItems.push_back({boundary, parentPart}); }
    void Pop() {
        if (!FItems.empty()) FItems.pop_back();
    }
    std::string Boundary() const { return FItems.empty() ? std::string() : FItems.back().first; }
    // The boundary depth levels under the newest (0: the newest); "" past the oldest.
    const std::string &BoundaryAt(int depth) const {
        static const std::string none;
        return depth < 0 || depth >= Count() ? none : FItems[FItems.size() - 1 - size_t(depth)].first;
    }
    int ParentPart() const { return FItems.empty() ? -1 : FItems.back().second; }
    int Count() const { return int(FItems.size()); }
    void Clear() { FItems.clear(); }

private:
    std::vector<std::pair<std::string, int>> FItems;
};

class TNetMessage : public TNetBaseComponent {
public:
    ~TNetMessage() override;
    const char *ClassName() const override { return "TNetMessage"; }
    void InitComponent() override;

    TStringList Body;
    TNetEMailAddressList BccList, CCList, FromList, Recipients, ReplyTo;
    std::string CharSet, ContentType, ContentTransferEncoding, ContentDisposition;
    TDateTime Date = 0;  // local time; 0 means not set
    // The message's state in its mailbox (a web-mail list marks a read
    // message seen); cleared with the header.
    TNetMessageFlags Flags;
    TNetHeaderList ExtraHeaders;
    TStringList NewsGroups;
    bool NoEncode = false;
    bool NoDecode = false;
    std::string Organization;
    TNetMessagePriority Priority = mpNormal;
    TNetEMailAddressItem ReceiptRecipient;
    std::string References;
    std::string Subject;
    TNetEMailAddressItem Sender;
    bool ConvertPreamble = true;
    bool ExceptionOnBlockedAttachments = false;
    std::function<void(TTransfer &, char &, std::string &)> OnInitializeISO;
    std::function<void(TNetMessage &, const TStringList &, TNetAttachment *&)> OnCreateAttachment;

    TNetHeaderList Headers;
    TNetMessageParts Parts;
    TNetMIMEBoundary BoundaryStack;
    bool SavingToFile = false;
    bool SinglePartMime = false;
    // More parts than this fail the message (its lines are still read).
    static constexpr int MaxParts = 10000;
    // What ParseHeaders could not read, one line per field, for the log.
    TStringList ParseErrors;

    TNetEMailAddressItem &From();
    TNetMessageEncoding Encoding() const { return FEncoding; }
    void SetEncoding(TNetMessageEncoding value);
    std::string AttachmentEncoding() const { return Parts.AttachmentEncoding(); }
    void SetAttachmentEncoding(const std::string &value) { Parts.SetAttachmentEncoding(value); }
    bool UseNowForDate() const { return Date == 0; }
    void SetUseNowForDate(bool value);
    std::string InReplyTo() const { return FInReplyTo; }
    void SetInReplyTo(const std::string &value) { FInReplyTo = Bracketed(value); }
    std::string MessageId() const { return FMessageId; }
    void SetMessageId(const std::string &value) { FMessageId = Bracketed(value); }
    const TNetHeaderList &LastGeneratedHeaders() const { return FLastGeneratedHeaders; }
    std::string AttachmentTempDirectory() const { return FAttachmentTempDirectory; }
    void SetAttachmentTempDirectory(const std::string &value) {
        FAttachmentTempDirectory = ExcludeTrailingPathDelimiter(value);
    }

    virtual void Clear();
    void ClearHeader();
    void ClearBody();
    // Fills the properties from Headers. Never raises on header content: a
    // field that cannot be read keeps its cleared value (noted in
    // ParseErrors) and the other fields are still read.
    void ParseHeaders();
    void BuildHeaders();
    void ChooseHeaderCharset(TTransfer &transfer, char &encoding, std::string &charset);
    TNetAttachment &NewAttachment(const TStringList &partHeaders);

    void SaveToFile(const std::string &path, bool headersOnly = false);
    void SaveToStream(TStream &stream, bool headersOnly = false);
    void LoadFromFile(const std::string &path, bool headersOnly = false);
    void LoadFromStream(TStream &stream, bool headersOnly = false);

    // Receiving from a line source. ReceiveHeader reads the header block:
    // with stopAtEmptyLine it stops at the empty line that starts the body
    // and returns true when a body follows; without it reads to the end of
    // the source (a header-only reply). ReceiveBody reads the rest.
    bool ReceiveHeader(TNetMessageSource &source, bool stopAtEmptyLine = true);
    // Takes a non-empty line of the header block into Headers. False (and
    // the line left as it is) when it is neither a header field nor the
    // continuation of one: a sender left out the empty line, and this line
    // is the body's first.
    bool AddHeaderBlockLine(std::string &line);
    void ReceiveBody(TNetMessageSource &source);
    // Writes the message as a saved file holds it: header lines, an empty
    // line, the body with doubled leading dots, and unless headersOnly a
    // last line ".".
    void WriteMessage(TStream &stream, bool headersOnly);

    static std::string Bracketed(const std::string &value);
    static std::string ResolveContentType(TNetMessage &message, const std::string &contentType, int parentPart);

protected:
    explicit TNetMessage(TNetInitializerComponent *owner) : TNetBaseComponent(owner) {}

private:
    void ReceiveBodyParts(TNetMessageSource &source);
    void SnapshotParsed();
    bool KeepOriginal(const char *name, const std::string &current) const;
    void ProcessTextPart(TNetMessageDecoder &decoder, TMemoryStream &data, bool singlePart);

    TNetMessageEncoding FEncoding = meDefault;
    std::string FInReplyTo, FMessageId;
    TNetHeaderList FLastGeneratedHeaders;
    std::string FAttachmentTempDirectory;
    std::vector<std::pair<std::string, std::string>> FParsed;  // header name, property text as parsed
    TDateTime FParsedDate = 0;                                 // Date as parsed
};
