#include "NetMessage.h"

#include <cerrno>
#include <fcntl.h>
#include <unordered_set>
#include <unistd.h>

#include "NetCharsets.h"
#include "NetCoder.h"
#include "NetGlobalProtocols.h"
#include "NetSys.h"

namespace {

// A stream over a descriptor this unit opened itself (temporary files are
// created with O_EXCL and O_NOFOLLOW, so they are never reopened by name).
class TFdStream : public TStream {
public:
    explicit TFdStream(int fd) : FFd(fd) {}
    ~TFdStream() override {
        if (FFd >= 0) ::close(FFd);
    }
    int64_t Read(void *buffer, int64_t count) override {
        ssize_t n;
        do n = ::read(FFd, buffer, size_t(count));
        while (n < 0 && errno == EINTR);
        return n < 0 ? 0 : n;
    }
    int64_t Write(const void *buffer, int64_t count) override {
        const char *p = static_cast<const char *>(buffer);
        int64_t done = 0;
        while (done < count) {
            ssize_t n = ::write(FFd, p + done, size_t(count - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += n;
        }
        return done;
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
        off_t r = ::lseek(FFd, offset, whence);
        return r < 0 ? 0 : r;
    }

private:
    int FFd;
};

std::string Lower(const std::string &s) { return LowerCase(Trim(s)); }

std::string CutAtSemicolon(const std::string &v) { return Trim(v.substr(0, v.find(';'))); }

// Header text for display: encoded words decoded, invalid bytes read in the
// message's set, control characters as spaces.
std::string DecodeField(const std::string &raw, const std::string &charset) { return DecodeHeaderWords(raw, charset); }

void DecodeNames(TNetEMailAddressList &list, const std::string &charset) {
    for (int i = 0; i < list.Count(); ++i) {
        list[i].Name = DecodeField(list[i].Name, charset);
        list[i].Address = DecodeField(list[i].Address, charset);
    }
}

void RemoveTrailingEmptyLine(TStringList &list) {
    if (!list.Empty() && list[list.Count() - 1].empty()) list.Delete(list.Count() - 1);
}

// The transfer encoding an attachment is written with. Its data is always
// coded, so a "7bit", "8bit" or "binary" label (true of the data as it
// came, not of the coded text) is written as the quoted-printable it gets.
std::string AttachmentTransfer(const TNetMessagePart &part) {
    std::string t = part.ContentTransfer.empty() ? std::string("base64") : part.ContentTransfer;
    std::string l = Lower(t);
    return l == "base64" || l == "quoted-printable" || l == "binhex40" ? t : std::string("quoted-printable");
}

bool BlankBody(const TStringList &body) {
    for (const auto &line : body)
        for (char c : line)
            if (c != '\r' && c != '\n' && c != '\t' && c != ' ') return false;
    return true;
}

class TLineWriter {
public:
    explicit TLineWriter(TStream &s) : FStream(s) {}
    ~TLineWriter() { Flush(); }
    void Raw(std::string_view s) {
        FBuf.append(s);
        if (FBuf.size() >= 65536) Flush();
    }
    // Every body line is written as a dot-terminated transcript holds it.
    void Line(std::string_view s) {
        if (!s.empty() && s[0] == '.') FBuf.push_back('.');
        FBuf.append(s);
        FBuf += "\r\n";
        if (FBuf.size() >= 65536) Flush();
    }
    void Lines(const TStringList &l) {
        for (const auto &s : l) Line(s);
    }
    // Text already made of CR LF lines (encoder output).
    void Text(std::string_view t) {
        size_t start = 0;
        while (start < t.size()) {
            size_t e = t.find("\r\n", start);
            if (e == std::string::npos) e = t.size();
            Line(t.substr(start, e - start));
            start = e + 2;
        }
    }
    void Flush() {
        if (!FBuf.empty()) FStream.WriteBuffer(FBuf.data(), int64_t(FBuf.size()));
        FBuf.clear();
    }

private:
    TStream &FStream;
    std::string FBuf;
};

}  // namespace

// ---------------------------------------------------------------------------
// Parts

std::string TNetMessagePart::ContentType() const { return MediaType(Headers.GetValue("Content-Type")); }
void TNetMessagePart::SetContentType(const std::string &value) { Headers.SetValue("Content-Type", value); }

std::string TNetText::ContentType() const { return MediaType(Headers.GetValue("Content-Type")); }

void TNetText::SetContentType(const std::string &value) {
    std::string v = CutAtSemicolon(value);
    Headers.SetValue("Content-Type", CharSet.empty() ? v : v + "; CHARSET=\"" + CharSet + "\"");
}

void TNetText::SetCharSet(const std::string &value) {
    CharSet = value;
    SetContentType(ContentType());
}

void TNetText::Assign(const TNetText &other) {
    Headers.Assign(other.Headers);
    ExtraHeaders.Assign(other.ExtraHeaders);
    Body.Assign(other.Body);
}

bool TNetText::NeedsEncoding() const {
    for (const auto &line : Body)
        for (unsigned char c : line)
            if (c > 127) return true;
    return false;
}

std::string TNetAttachment::ContentType() const { return MediaType(Headers.GetValue("Content-Type")); }
std::string TNetAttachment::ContentTypeName() const { return HeaderParameter(Headers.GetValue("Content-Type"), "name"); }

void TNetAttachment::SaveToFile(const std::string &path) {
    TFileStream out(path, fmCreate, 0600);
    SaveToStream(out);
}

void TNetAttachment::SaveToStream(TStream &stream) {
    auto in = OpenLoadStream();
    stream.CopyFrom(*in, 0);
}

TNetAttachmentFile::TNetAttachmentFile(TNetMessage *owner, const std::string &path) : TNetAttachment(owner) {
    if (!path.empty()) {
        FileName = ExtractFileName(path);
        StoredPath = path;
    }
}

TNetAttachmentFile::~TNetAttachmentFile() {
    FTemp.reset();
    if (IsTempFile && !StoredPath.empty()) DeleteFile(StoredPath);
}

std::unique_ptr<TStream> TNetAttachmentFile::OpenLoadStream() {
    return std::make_unique<TFileStream>(StoredPath, fmOpenRead | fmShareExclusive);
}

TStream &TNetAttachmentFile::PrepareTempStream() {
    std::string folder = FOwner ? FOwner->AttachmentTempDirectory() : std::string();
    std::string path;
    int fd = CreateTempFile(folder, path);
    StoredPath = path;
    IsTempFile = true;
    FTemp = std::make_unique<TFdStream>(fd);
    return *FTemp;
}

void TNetAttachmentFile::FinishTempStream() {
    FTemp.reset();
    Blocked = !FileExists(StoredPath);
    if (Blocked && FOwner && FOwner->ExceptionOnBlockedAttachments)
        throw ENetMessageCannotLoad(Format("Attachment %s is blocked.", StoredPath.c_str()));
}

void TNetAttachmentFile::SaveToFile(const std::string &path) {
    if (!CopyFileTo(StoredPath, path)) throw ENetException("Error saving attachment.");
}

void TNetMessageParts::CountParts() {
    AttachmentCount = TextPartCount = RelatedPartCount = 0;
    for (auto &p : FItems) {
        if (!p->ContentID().empty()) ++RelatedPartCount;
        if (p->PartKind() == pkText)
            ++TextPartCount;
        else
            ++AttachmentCount;
    }
}

void TNetMessageParts::SetAttachmentEncoding(const std::string &name) {
    TNetMessageEncoderList::Create(name);  // raises for an unknown name
    FAttachmentEncoding = name;
}

// ---------------------------------------------------------------------------
// The message

TNetMessage::~TNetMessage() = default;

void TNetMessage::InitComponent() {
    TNetBaseComponent::InitComponent();
    NoDecode = false;
    Clear();
    SetEncoding(meDefault);
}

std::string TNetMessage::Bracketed(const std::string &value) {
    if (value.empty()) return value;
    std::string v = value;
    if (v.front() != '<') v.insert(v.begin(), '<');
    if (v.back() != '>') v.push_back('>');
    return v;
}

TNetEMailAddressItem &TNetMessage::From() {
    if (FromList.Count() == 0) FromList.Add();
    return FromList[0];
}

void TNetMessage::SetEncoding(TNetMessageEncoding value) {
    FEncoding = value;
    Parts.SetAttachmentEncoding(value == meMIME ? "MIME" : "UUE");
}

void TNetMessage::SetUseNowForDate(bool value) {
    if (value == UseNowForDate()) return;
    Date = value ? 0 : Now();
}

void TNetMessage::Clear() {
    ClearHeader();
    ClearBody();
}

void TNetMessage::ClearHeader() {
    CCList.Clear();
    BccList.Clear();
    FromList.Clear();
    ReplyTo.Clear();
    Recipients.Clear();
    NewsGroups.Clear();
    Headers.Clear();
    ExtraHeaders.Clear();
    FLastGeneratedHeaders.Clear();
    BoundaryStack.Clear();
    Date = 0;
    Flags.Clear();
    Priority = mpNormal;
    FEncoding = meDefault;
    ConvertPreamble = true;
    SavingToFile = false;
    SinglePartMime = false;
    Organization.clear();
    References.clear();
    Subject.clear();
    CharSet.clear();
    ContentType.clear();
    ContentTransferEncoding.clear();
    ContentDisposition.clear();
    FMessageId.clear();
    FInReplyTo.clear();
    ReceiptRecipient = TNetEMailAddressItem();
    Sender = TNetEMailAddressItem();
    ParseErrors.Clear();
    FParsed.clear();
}

void TNetMessage::ClearBody() {
    Parts.Clear();
    Body.Clear();
}

void TNetMessage::ParseHeaders() {
    ParseErrors.Clear();
    auto step = [&](const char *field, auto &&fn) {
        try {
            fn();
        } catch (const std::exception &e) {
            ParseErrors.Add(std::string(field) + ": " + e.what());
        }
    };
    auto addresses = [&](const char *field, TNetEMailAddressList &list) {
        step(field, [&] {
            try {
                // A field the sender wrote twice counts with all its
                // addresses.
                list.SetEMailAddresses(Headers.GetValues(field, ", "));
            } catch (...) {
                list.Clear();
                throw;
            }
            DecodeNames(list, CharSet);
        });
    };
    std::string ct = Headers.GetValue("Content-Type");
    step("Content-Type", [&] {
        ContentType = MediaType(ct);
        if (ContentType.empty()) ContentType = "text/plain";
        for (char &c : ContentType)
            if (uint8_t(c) < 32) c = ' ';
        CharSet = HeaderParameter(ct, "charset", true);
    });
    ContentTransferEncoding = Headers.GetValue("Content-Transfer-Encoding");
    ContentDisposition = Headers.GetValue("Content-Disposition");
    step("Subject", [&] { Subject = DecodeField(Headers.GetValue("Subject"), CharSet); });
    addresses("From", FromList);
    SetMessageId(Headers.GetValue("Message-Id"));
    SplitTextToList(NewsGroups, Headers.GetValue("Newsgroups"));
    addresses("To", Recipients);
    addresses("Cc", CCList);
    addresses("Bcc", BccList);
    step("Organization", [&] { Organization = DecodeField(Headers.GetValue("Organization"), CharSet); });
    step("Disposition-Notification-To", [&] {
        try {
            ReceiptRecipient.SetText(Headers.GetValue("Disposition-Notification-To"));
            if (ReceiptRecipient.Text().empty()) ReceiptRecipient.SetText(Headers.GetValue("Return-Receipt-To"));
        } catch (...) {
            ReceiptRecipient = TNetEMailAddressItem();
            throw;
        }
    });
    References = Headers.GetValue("References");
    addresses("Reply-To", ReplyTo);
    Date = GMTToLocalDateTime(Headers.GetValue("Date"));
    step("Sender", [&] {
        try {
            Sender.SetText(Headers.GetValue("Sender"));
        } catch (...) {
            Sender = TNetEMailAddressItem();
            throw;
        }
    });
    {
        std::string p = Headers.GetValue("Priority");
        if (p.empty()) p = Headers.GetValue("X-Priority");
        std::string lp = LowerCase(p);
        if (Contains(lp, "non-urgent") || Contains(lp, "non-priority"))
            Priority = mpLow;
        else if (Contains(lp, "urgent"))
            Priority = mpHigh;
        else {
            std::string t = Trim(p);
            std::string word = t.substr(0, t.find_first_of(" \t("));
            int n = StrToIntDef(word, 3);
            Priority = (n >= 1 && n <= 5) ? TNetMessagePriority(n - 1) : mpNormal;
        }
    }
    // Only a multipart type has parts: a boundary on any other is no
    // reason to split the text.
    std::string boundary = StartsText("multipart/", ContentType) ? FindBoundary(ct) : std::string();
    if (!boundary.empty()) BoundaryStack.Push(boundary, -1);
    // Parts between boundaries are MIME whether or not the sender said so;
    // read as plain text they would be saved without their boundary.
    SetEncoding(Headers.GetValue("MIME-Version").empty() && boundary.empty() ? mePlainText : meMIME);
    SnapshotParsed();
}

void TNetMessage::SnapshotParsed() {
    // Each text made once and moved in: a list built from braces copies
    // every one of them again.
    FParsed.clear();
    FParsed.reserve(7);
    FParsed.emplace_back("Subject", Subject);
    FParsed.emplace_back("From", FromList.EMailAddresses());
    FParsed.emplace_back("To", Recipients.EMailAddresses());
    FParsed.emplace_back("Cc", CCList.EMailAddresses());
    FParsed.emplace_back("Organization", Organization);
    FParsed.emplace_back("Reply-To", ReplyTo.EMailAddresses());
    FParsed.emplace_back("Sender", Sender.Text());
    FParsedDate = Date;
}

bool TNetMessage::KeepOriginal(const char *name, const std::string &current) const {
    if (Headers.IndexOfName(name) < 0) return false;
    for (const auto &p : FParsed)
        if (p.first == name) return p.second == current;
    return false;
}

void TNetMessage::ChooseHeaderCharset(TTransfer &transfer, char &encoding, std::string &charset) {
    transfer = TTransfer::bit8;
    encoding = 'B';
    charset = CharsetName(DefaultCharsetForLocale());
    if (SameText(charset, "ISO-2022-JP")) transfer = TTransfer::iso2022jp;
    if (SameText(charset, "ISO-8859-1")) encoding = 'Q';
    if (SameText(charset, "UNICODE-1-1")) charset = "UTF-8";
    if (OnInitializeISO) OnInitializeISO(transfer, encoding, charset);
}

std::string TNetMessage::ResolveContentType(TNetMessage &message, const std::string &contentType, int parentPart) {
    std::string t = MediaType(contentType);
    if (!t.empty()) return t;
    // RFC 2046: a part of a digest is a message unless it says otherwise;
    // any other part is plain text, with or without MIME-Version.
    std::string parent = parentPart < 0                        ? message.ContentType
                         : parentPart < message.Parts.Count() ? message.Parts[parentPart].ContentType()
                                                               : std::string();
    return SameText(parent, "multipart/digest") ? "message/rfc822" : "text/plain";
}

void TNetMessage::BuildHeaders() {
    Parts.CountParts();
    if (FEncoding == meDefault) SetEncoding(Parts.Count() > 0 ? meMIME : mePlainText);
    const bool mime = FEncoding == meMIME;
    for (int i = 0; i < Parts.Count(); ++i) {
        std::string &t = Parts[i].ContentTransfer;
        if (t.empty()) continue;
        std::string l = Lower(t);
        if (mime) {
            if (l != "7bit" && l != "8bit" && l != "binary" && l != "base64" && l != "quoted-printable" && l != "binhex40")
                t = "base64";
        } else if (l != "uue" && l != "xxe") {
            t = "UUE";
        }
    }
    if (Parts.Count() > 0) {
        std::string l = Lower(ContentTransferEncoding);
        if (!l.empty() && l != "7bit" && l != "binary" && l != "8bit") ContentTransferEncoding.clear();
    }
    std::string boundary;
    if (mime) {
        boundary = TNetMIMEBoundaryStrings::Boundary();
        if (ContentType.empty()) {
            if (Parts.AttachmentCount > 0)
                ContentType = "multipart/mixed";
            else if (Parts.TextPartCount >= 2)
                ContentType = "multipart/alternative";
            else
                ContentType = "text/plain";
        }
    }
    TTransfer transfer;
    char enc;
    std::string charset;
    ChooseHeaderCharset(transfer, enc, charset);

    TNetHeaderList &h = FLastGeneratedHeaders;
    h.Clear();
    if (!Headers.Empty()) h.Assign(Headers);
    // A received header whose value was not changed keeps its own line, so
    // its set and its encoded words go out exactly as they came.
    auto setAddresses = [&](const char *name, TNetEMailAddressList &list, bool addressAsName) {
        if (KeepOriginal(name, list.EMailAddresses())) return;
        // The list holds the addresses of every field of the name.
        h.RemoveRepeats(name);
        h.SetValue(name, FormatAddressListForHeader(list, enc, transfer, charset, addressAsName));
    };
    setAddresses("From", FromList, true);
    if (!KeepOriginal("Subject", Subject)) h.SetValue("Subject", EncodeHeaderWords(Subject, "", enc, transfer, charset));
    setAddresses("To", Recipients, false);
    setAddresses("Cc", CCList, false);
    h.RemoveRepeats("Bcc");
    if (SavingToFile)
        h.SetValue("Bcc", FormatAddressListForHeader(BccList, enc, transfer, charset, false));
    else
        h.SetValue("Bcc", "");
    {
        std::string groups;
        for (const auto &g : NewsGroups) groups += (groups.empty() ? "" : ",") + g;
        h.SetValue("Newsgroups", groups);
    }
    SinglePartMime = false;
    if (!mime) {
        h.SetValue("Content-Transfer-Encoding", ContentTransferEncoding);
        h.SetValue("Content-Type", ContentType);
    } else if (Parts.Count() == 1 && BlankBody(Body)) {
        h.SetValue("MIME-Version", "1.0");
        if (Parts[0].PartKind() == pkAttachment) h.SetValue("Content-Transfer-Encoding", AttachmentTransfer(Parts[0]));
        SinglePartMime = true;
    } else {
        std::string v = ContentType;
        if (!CharSet.empty()) v += ";\r\n\tcharset=\"" + CharSet + "\"";
        if (Parts.Count() > 0) v += "; boundary=\"" + boundary + "\"";
        h.SetValue("Content-Type", v);
        h.SetValue("MIME-Version", "1.0");
        h.SetValue("Content-Transfer-Encoding", ContentTransferEncoding);
    }
    if (!KeepOriginal("Sender", Sender.Text())) h.SetValue("Sender", Sender.Text());
    setAddresses("Reply-To", ReplyTo, false);
    if (!KeepOriginal("Organization", Organization))
        h.SetValue("Organization", EncodeHeaderWords(Organization, "", enc, transfer, charset));
    h.SetValue("Disposition-Notification-To",
               ReceiptRecipient.Address.empty() ? std::string()
                                                : FormatAddressForHeader(ReceiptRecipient, enc, transfer, charset, false));
    h.SetValue("References", References);
    // The date as the number parsed: its text would cost a printf for every
    // header read.
    const bool dateAsParsed = !FParsed.empty() && Headers.IndexOfName("Date") >= 0 && Date == FParsedDate;
    if (!dateAsParsed)
        h.SetValue("Date", TNetSys::DateTimeToInternetText(UseNowForDate() ? Now() : Date));
    if (Priority != mpNormal)
        h.SetValue("X-Priority", IntToStr(int(Priority) + 1));
    else
        h.SetValue("X-Priority", "");
    h.AddStrings(ExtraHeaders);
    // Only a real reply identifier: the message's own identifier is never
    // written as the message it replies to.
    if (!FInReplyTo.empty()) h.SetValue("In-Reply-To", FInReplyTo);
}

TNetAttachment &TNetMessage::NewAttachment(const TStringList &partHeaders) {
    TNetAttachment *att = nullptr;
    if (OnCreateAttachment) OnCreateAttachment(*this, partHeaders, att);
    if (att) return Parts.Add(std::unique_ptr<TNetAttachment>(att));
    return Parts.Add(std::make_unique<TNetAttachmentFile>(this));
}

// ---------------------------------------------------------------------------
// Receiving

bool TNetMessage::AddHeaderBlockLine(std::string &line) {
    if (TNetHeaderList::IsContinuation(line)) {
        // Nothing to continue: blanks alone carry nothing, other text (a
        // message that has no header at all) is the body.
        if (Headers.Empty()) return Trim(line).empty();
    } else if (TNetHeaderList::FieldNameEnd(line) == 0) {
        // The envelope line a mailbox file puts first has always stood with
        // the headers (no field has its name).
        if (!(Headers.Empty() && Copy(line, 1, 5) == "From ")) return false;
    }
    Headers.Add(std::move(line));
    return true;
}

bool TNetMessage::ReceiveHeader(TNetMessageSource &source, bool stopAtEmptyLine) {
    std::string line;
    bool body = false;
    while (source.ReadLine(line)) {
        if (line.empty()) {
            if (stopAtEmptyLine) {
                body = true;
                break;
            }
            continue;
        }
        if (!AddHeaderBlockLine(line)) {
            if (stopAtEmptyLine) {
                source.UnreadLine(std::move(line));
                body = true;
            } else {
                // A header-only reply: what runs on is body, not header.
                while (source.ReadLine(line)) {
                }
            }
            break;
        }
    }
    ParseHeaders();
    return body;
}

namespace {
void CopyPartHeaders(TNetMessagePart &part, const TNetMessageDecoder &d) {
    // Names already in ExtraHeaders, kept in a set: a part with thousands
    // of header lines must not be searched once per line.
    std::unordered_set<std::string> extra;
    for (int i = 0; i < part.ExtraHeaders.Count(); ++i) extra.insert(UpperCase(part.ExtraHeaders.NameAt(i)));
    for (const auto &h : d.Headers) {
        size_t eq = h.find('=');
        std::string name = h.substr(0, eq), value = eq == std::string::npos ? std::string() : h.substr(eq + 1);
        if (SameText(name, "Content-Type") || SameText(name, "Content-ID") || SameText(name, "Content-Location") ||
            SameText(name, "Content-Description") || SameText(name, "Content-Disposition") ||
            SameText(name, "Content-Transfer-Encoding")) {
            if (part.Headers.IndexOfName(name) < 0) {
                part.Headers.FoldOnWrite = false;
                part.Headers.SetValue(name, value);
                part.Headers.FoldOnWrite = true;
            }
        } else if (extra.insert(UpperCase(name)).second) {
            part.ExtraHeaders.Add(name + ": " + value);
        }
    }
}
}  // namespace

void TNetMessage::ProcessTextPart(TNetMessageDecoder &decoder, TMemoryStream &data, bool singlePart) {
    if (singlePart) {
        Body.SetText(data.DataString());
        RemoveTrailingEmptyLine(Body);
        return;
    }
    auto part = std::make_unique<TNetText>(this);
    part->Body.SetText(data.DataString());
    RemoveTrailingEmptyLine(part->Body);
    CopyPartHeaders(*part, decoder);
    std::string ct = decoder.HeaderValue("Content-Type");
    part->CharSet = HeaderParameter(ct, "charset", true);
    part->ContentTransfer = decoder.HeaderValue("Content-Transfer-Encoding");
    part->ContentDisposition = CutAtSemicolon(decoder.HeaderValue("Content-Disposition"));
    Parts.Add(std::move(part));
}

void TNetMessage::ReceiveBody(TNetMessageSource &source) {
    try {
        ReceiveBodyParts(source);
    } catch (const ENetMessageTooLarge &) {
        throw;
    } catch (const ENetReadTimeout &) {
        throw;
    } catch (const ENetSilentException &) {
        throw;
    } catch (const Exception &) {
        // A part that cannot be decoded fails the message, but the rest of
        // it is still read, so the connection stays at the reply's end.
        std::string rest;
        try {
            while (source.ReadLine(rest)) {
            }
        } catch (const Exception &) {
        }
        throw;
    }
}

void TNetMessage::ReceiveBodyParts(TNetMessageSource &source) {
    std::string line;
    if (NoDecode) {
        while (source.ReadLine(line)) Body.Add(line);
        return;
    }
    const bool mime = FEncoding == meMIME;
    std::string cte = Lower(ContentTransferEncoding);
    // Single-part decoding only for a message without a boundary.
    const bool multipart = BoundaryStack.Count() > 0 || (!mime && cte != "base64" && cte != "quoted-printable");
    if (multipart) {
        bool partsStarted = false;
        while (source.ReadLine(line)) {
            auto decoder = TNetMessageDecoderList::CheckForStartOf(*this, source, line);
            if (!decoder) {
                // Lines after the parts of a MIME message are its epilogue;
                // the closing line of a level whose last part was itself a
                // multipart arrives here and closes that level.
                if (!(mime && partsStarted))
                    Body.Add(line);
                else if (BoundaryStack.Count() > 0 && SameText(TrimRight(line), "--" + BoundaryStack.Boundary() + "--"))
                    BoundaryStack.Pop();
                continue;
            }
            if (!partsStarted) RemoveTrailingEmptyLine(Body);
            partsStarted = true;
            bool ended = false;
            while (decoder && !ended) {
                // Each part costs an object and maybe a file: a message of
                // tiny parts must not turn a few megabytes into millions.
                if (Parts.Count() >= MaxParts)
                    throw ENetMessageException(Format("Message has more than %d parts.", MaxParts));
                int parent = BoundaryStack.ParentPart();
                decoder->ReadHeader();
                std::unique_ptr<TNetMessageDecoder> next;
                if (decoder->PartKind == pkText) {
                    TMemoryStream data;
                    next = decoder->ReadBody(data, ended);
                    ProcessTextPart(*decoder, data, false);
                    TNetMessagePart &text = Parts[Parts.Count() - 1];
                    text.ParentPart = parent;
                    // A part without a type has the one its place gives it.
                    if (text.Headers.IndexOfName("Content-Type") < 0) {
                        std::string t = ResolveContentType(*this, std::string(), parent);
                        if (!t.empty()) text.Headers.Add("Content-Type: " + t);
                    }
                } else if (decoder->PartKind == pkAttachment) {
                    TNetAttachment &att = NewAttachment(decoder->Headers);
                    TStream &s = att.PrepareTempStream();
                    try {
                        next = decoder->ReadBody(s, ended);
                    } catch (...) {
                        att.FinishTempStream();
                        throw;
                    }
                    CopyPartHeaders(att, *decoder);
                    std::string ct = decoder->HeaderValue("Content-Type");
                    att.CharSet = HeaderParameter(ct, "charset", true);
                    att.ContentTransfer = decoder->Transfer == "binhex40" || decoder->Transfer == "UUE" ||
                                                  decoder->Transfer == "XXE"
                                              ? decoder->Transfer
                                              : decoder->HeaderValue("Content-Transfer-Encoding");
                    att.ContentDisposition = CutAtSemicolon(decoder->HeaderValue("Content-Disposition"));
                    att.FileName = decoder->FileName;
                    att.ParentPart = parent;
                    att.FinishTempStream();
                } else {
                    // The message ended inside the part headers: a normal end.
                    ended = true;
                }
                decoder = std::move(next);
            }
            if (ended) break;
        }
        RemoveTrailingEmptyLine(Body);
        return;
    }
    SinglePartMime = true;
    TNetMessageDecoderMIME decoder(*this, source, true);
    decoder.SetupSinglePart(ContentType, ContentDisposition);
    bool ended = false;
    if (decoder.PartKind == pkAttachment) {
        TNetAttachment &att = NewAttachment(decoder.Headers);
        TStream &s = att.PrepareTempStream();
        try {
            decoder.ReadBody(s, ended);
        } catch (...) {
            att.FinishTempStream();
            throw;
        }
        att.SetContentType(Headers.GetValue("Content-Type"));
        att.CharSet = CharSet;
        att.ContentTransfer = decoder.Transfer == "binhex40" ? "binhex40" : ContentTransferEncoding;
        att.ContentDisposition = CutAtSemicolon(ContentDisposition);
        att.FileName = decoder.FileName;
        att.FinishTempStream();
    } else {
        TMemoryStream data;
        decoder.ReadBody(data, ended);
        ProcessTextPart(decoder, data, true);
    }
}

// ---------------------------------------------------------------------------
// Writing

void TNetMessage::WriteMessage(TStream &stream, bool headersOnly) {
    TLineWriter w(stream);
    if (NoEncode) {
        for (const auto &l : Headers) w.Raw(l + "\r\n");
        w.Raw("\r\n");
        if (!headersOnly) {
            w.Lines(Body);
            w.Raw(".\r\n");
        }
        return;
    }
    BuildHeaders();
    for (const auto &l : FLastGeneratedHeaders) w.Raw(l + "\r\n");
    w.Raw("\r\n");
    if (headersOnly) return;

    auto encodeData = [&](TNetMessagePart &part, const std::string &transfer) {
        TMemoryStream out;
        std::string l = Lower(transfer);
        if (auto *att = dynamic_cast<TNetAttachment *>(&part)) {
            auto in = att->OpenLoadStream();
            if (l == "binhex40") {
                TNetEncoderBinHex4().EncodeNamedStream(att->FileName, *in, out);
            } else {
                std::unique_ptr<TNetMessageEncoder> e;
                if (l == "base64") e = std::make_unique<TNetMessageEncoderMIME>();
                else if (l == "uue") e = std::make_unique<TNetMessageEncoderUUE>();
                else if (l == "xxe") e = std::make_unique<TNetMessageEncoderXXE>();
                if (e) {
                    e->FileName = att->FileName;
                    e->Encode(*in, out);
                } else {
                    // Data that ends with a line end keeps it: the line end
                    // before the next delimiter is the delimiter's own.
                    TMemoryStream raw;
                    raw.CopyFrom(*in, 0);
                    std::string q = TNetEncoderQuotedPrintable().EncodeString(raw.DataString());
                    w.Text(q);
                    if (!SinglePartMime && q.size() >= 2 && q.compare(q.size() - 2, 2, "\r\n") == 0) w.Line("");
                    return;
                }
            }
        } else if (auto *text = dynamic_cast<TNetText *>(&part)) {
            std::string data = text->Body.Text();
            if (l == "quoted-printable") {
                std::string q = TNetEncoderQuotedPrintable().EncodeString(data);
                out.WriteBuffer(q.data(), int64_t(q.size()));
            } else if (l == "base64") {
                TStringStream src(data);
                TNetMessageEncoderMIME().Encode(src, out);
            } else {
                w.Lines(text->Body);
                return;
            }
        }
        w.Text(out.DataString());
    };

    if (Parts.Count() == 0) {
        std::string l = Lower(ContentTransferEncoding);
        if (l == "base64" || l == "quoted-printable") {
            TMemoryStream out;
            std::string data = Body.Text();
            if (l == "base64") {
                TStringStream src(data);
                TNetMessageEncoderMIME().Encode(src, out);
            } else {
                std::string q = TNetEncoderQuotedPrintable().EncodeString(data);
                out.WriteBuffer(q.data(), int64_t(q.size()));
            }
            w.Text(out.DataString());
        } else {
            w.Lines(Body);
        }
    } else if (FEncoding != meMIME) {
        w.Lines(Body);
        for (int i = 0; i < Parts.Count(); ++i) {
            TNetMessagePart &p = Parts[i];
            if (auto *text = dynamic_cast<TNetText *>(&p)) {
                w.Line("------- Start of text attachment -------");
                w.Lines(text->Body);
                w.Line("------- End of text attachment -------");
            } else {
                encodeData(p, SameText(p.ContentTransfer, "XXE") ? "XXE" : "UUE");
            }
        }
    } else if (SinglePartMime) {
        TNetMessagePart &p = Parts[0];
        std::string t = p.PartKind() == pkAttachment     ? AttachmentTransfer(p)
                        : p.ContentTransfer.empty() ? std::string("base64")
                                                    : p.ContentTransfer;
        encodeData(p, t);
    } else {
        if (ConvertPreamble) {
            w.Line("This is a multi-part message in MIME format");
            w.Line("");
        } else {
            w.Lines(Body);
        }
        std::vector<std::pair<std::string, int>> levels{{TNetMIMEBoundaryStrings::Boundary(), -1}};
        for (int i = 0; i < Parts.Count(); ++i) {
            TNetMessagePart &p = Parts[i];
            while (levels.size() > 1 && p.ParentPart != levels.back().second) {
                w.Line("--" + levels.back().first + "--");
                w.Line("");
                levels.pop_back();
            }
            w.Line("--" + levels.back().first);
            if (auto *text = dynamic_cast<TNetText *>(&p)) {
                std::string type = text->ContentType();
                if (type.empty()) type = "text/plain";
                if (StartsText("multipart/", type)) {
                    // Every nested level gets a boundary of its own.
                    std::string nb = TNetMIMEBoundaryStrings::GenerateBoundary();
                    w.Line("Content-Type: " + type + ";");
                    w.Line("        boundary=\"" + nb + "\"");
                    for (const auto &x : text->ExtraHeaders) w.Line(x);
                    w.Line("");
                    w.Lines(text->Body);
                    levels.push_back({nb, i});
                    continue;
                }
                std::string ctLine = "Content-Type: " + RemoveHeaderParameter(type, "charset");
                if (!text->CharSet.empty()) ctLine += " ; charset=\"" + text->CharSet + "\"";
                w.Line(ctLine);
                std::string t = text->ContentTransfer;
                // An enclosed message is never quoted-printable (RFC 2046).
                if (t.empty()) t = StartsText("message/", type) ? "7bit" : "quoted-printable";
                std::string l = Lower(t);
                if (l != "quoted-printable" && l != "base64" && text->NeedsEncoding()) t = "8bit";
                w.Line("Content-Transfer-Encoding: " + t);
                if (!text->ContentID().empty()) w.Line("Content-ID: " + text->ContentID());
                for (const auto &x : text->ExtraHeaders) w.Line(x);
                w.Line("");
                encodeData(p, t);
            } else {
                auto &att = dynamic_cast<TNetAttachment &>(p);
                std::string t = AttachmentTransfer(att);
                std::string l = Lower(t);
                std::string type = att.ContentType();
                if (l == "binhex40")
                    type = "application/mac-binhex40";
                else if (type.empty())
                    type = l == "base64" ? "application/octet-stream" : "text/plain";
                std::string name;
                for (char c : att.FileName)
                    if (c != '"' && c != '\\' && uint8_t(c) >= 32) name.push_back(c);
                w.Line("Content-Type: " + type + ";" + (att.CharSet.empty() ? "" : " charset=\"" + att.CharSet + "\";"));
                w.Line("        name=\"" + name + "\"");
                w.Line("Content-Transfer-Encoding: " + t);
                std::string disp = att.ContentDisposition.empty() ? std::string("attachment") : att.ContentDisposition;
                w.Line("Content-Disposition: " + disp + ";");
                w.Line("        filename=\"" + name + "\"");
                if (!att.ContentID().empty()) w.Line("Content-ID: " + att.ContentID());
                for (const auto &x : att.ExtraHeaders) w.Line(x);
                w.Line("");
                encodeData(p, t);
            }
        }
        while (!levels.empty()) {
            w.Line("--" + levels.back().first + "--");
            levels.pop_back();
        }
    }
    w.Raw(".\r\n");
}

void TNetMessage::SaveToStream(TStream &stream, bool headersOnly) { WriteMessage(stream, headersOnly); }

void TNetMessage::SaveToFile(const std::string &path, bool headersOnly) {
    TFileStream f(path, fmCreate, 0600);
    SavingToFile = true;
    try {
        SaveToStream(f, headersOnly);
    } catch (...) {
        SavingToFile = false;
        throw;
    }
    SavingToFile = false;
}

void TNetMessage::LoadFromFile(const std::string &path, bool headersOnly) {
    if (!FileExists(path)) throw ENetMessageCannotLoad(Format("Cannot load message from file %s", path.c_str()));
    TFileStream f(path, fmOpenRead);
    LoadFromStream(f, headersOnly);
}

void TNetMessage::LoadFromStream(TStream &stream, bool headersOnly) {
    Clear();
    TNetStreamMessageSource source(stream, true);
    if (ReceiveHeader(source, true) && !headersOnly) ReceiveBody(source);
}
