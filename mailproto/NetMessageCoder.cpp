#include "NetMessageCoder.h"

#include <cstring>
#include <mutex>
#include <random>

#include "NetCoder.h"
#include "NetGlobalProtocols.h"
#include "NetHeaderCoder.h"
#include "NetMailExceptions.h"
#include "NetMessage.h"

namespace {

bool SameBoundaryLine(const std::string &line, const std::string &want) {
    // Trailing blanks after a delimiter are allowed (RFC 2046).
    size_t e = line.size();
    while (e > 0 && (line[e - 1] == ' ' || line[e - 1] == '\t')) --e;
    return e == want.size() && SameText(std::string_view(line).substr(0, e), want);
}

std::string Lower(const std::string &s) { return LowerCase(Trim(s)); }

// A part of a nested multipart whose own closing line is missing ends at
// a delimiter of an enclosing level, as RFC 2046 readers take it. Answers
// how many levels out that delimiter belongs (0: none) and whether it closes
// its level. Only the nearest levels are looked at, so hostile nesting
// costs nothing per line.
int EnclosingBoundaryLevel(const TNetMIMEBoundary &stack, const std::string &line, bool &closes) {
    if (line.size() < 3 || line[0] != '-' || line[1] != '-') return 0;
    const int levels = std::min(stack.Count(), 32);
    for (int k = 1; k < levels; ++k) {
        const std::string &b = stack.BoundaryAt(k);
        std::string_view rest = std::string_view(line).substr(2);
        if (rest.size() < b.size() || !SameText(rest.substr(0, b.size()), b)) continue;
        std::string delim = "--" + b;
        if (SameBoundaryLine(line, delim)) {
            closes = false;
            return k;
        }
        if (SameBoundaryLine(line, delim + "--")) {
            closes = true;
            return k;
        }
    }
    return 0;
}

// Collects small writes (one decoded line each) into large ones.
class TBufferedWriter : public TStream {
public:
    explicit TBufferedWriter(TStream &target) : FTarget(target) {}
    ~TBufferedWriter() override {
        try {
            Flush();
        } catch (...) {
        }
    }
    int64_t Read(void *, int64_t) override { return 0; }
    int64_t Write(const void *buffer, int64_t count) override {
        FBuf.append(static_cast<const char *>(buffer), size_t(count));
        if (FBuf.size() >= 262144) {
            // With HoldLineEnd the last two bytes wait, so a line end that
            // turns out to belong to a delimiter can still be taken back.
            size_t keep = HoldLineEnd ? 2 : 0;
            FTarget.WriteBuffer(FBuf.data(), int64_t(FBuf.size() - keep));
            FBuf.erase(0, FBuf.size() - keep);
        }
        return count;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
    void Flush() {
        if (!FBuf.empty()) FTarget.WriteBuffer(FBuf.data(), int64_t(FBuf.size()));
        FBuf.clear();
    }
    void DropTrailingLineEnd() {
        if (FBuf.size() >= 2 && FBuf.compare(FBuf.size() - 2, 2, "\r\n") == 0) FBuf.resize(FBuf.size() - 2);
    }
    bool HoldLineEnd = false;

private:
    TStream &FTarget;
    std::string FBuf;
};

bool OpensOrClosesAPart(const TNetMIMEBoundary &stack, const std::string &line) {
    if (stack.Count() == 0) return false;
    std::string delim = "--" + stack.Boundary();
    bool closes = false;
    return SameBoundaryLine(line, delim) || SameBoundaryLine(line, delim + "--") ||
           EnclosingBoundaryLevel(stack, line, closes) != 0;
}

}  // namespace

std::string TNetMessageDecoder::HeaderValue(std::string_view name) const {
    for (const auto &h : Headers) {
        size_t eq = h.find('=');
        if (eq != std::string::npos && SameText(std::string_view(h).substr(0, eq), name)) return h.substr(eq + 1);
    }
    return {};
}

std::string CleanAttachmentFileName(const std::string &name) {
    static const std::string allowed =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz1234567890^&'@{}[],$=!-#()%.+~_";
    std::string n = name;
    size_t cut = n.find_last_of("/\\");
    if (cut != std::string::npos) n = n.substr(cut + 1);
    for (char &c : n)
        if (allowed.find(c) == std::string::npos) c = '_';
    if (n.size() > 255) n.resize(255);
    if (n.empty() || n == "." || n == "..") n = "_";
    return n;
}

// ---------------------------------------------------------------------------

TNetMessageDecoderMIME::TNetMessageDecoderMIME(TNetMessage &message, TNetMessageSource &source, bool singlePart,
                                               std::string firstLine, bool hasFirstLine)
    : TNetMessageDecoder(message, source), FSinglePart(singlePart), FFirstLine(std::move(firstLine)),
      FHasFirstLine(hasFirstLine) {
    std::string cte = Lower(message.ContentTransferEncoding);
    if (!cte.empty() && cte != "8bit" && cte != "7bit" && cte != "binary" && message.BoundaryStack.Count() == 0)
        FSinglePart = true;
}

void TNetMessageDecoderMIME::SetupSinglePart(const std::string &contentType, const std::string &disposition) {
    FSinglePart = true;
    NameAndKind(contentType, FMessage.Headers.GetValue("Content-Type"), disposition);
}

void TNetMessageDecoderMIME::NameAndKind(const std::string &contentType, const std::string &contentTypeHeader,
                                         const std::string &disposition) {
    std::string fn = HeaderParameter(disposition, "filename");
    if (fn.empty()) fn = HeaderParameter(contentTypeHeader, "name");
    FileName = fn.empty() ? std::string() : CleanAttachmentFileName(DecodeHeaderWords(fn));
    std::string disp = Lower(disposition.substr(0, disposition.find(';')));
    std::string type = Lower(contentType);
    // A part that names no type is text, whatever type its place gives it.
    if (disp == "attachment" || !FileName.empty())
        PartKind = pkAttachment;
    else if (MediaType(contentTypeHeader).empty() || StartsText("text/", type) || StartsText("multipart/", type))
        PartKind = pkText;
    else
        PartKind = pkAttachment;
}

void TNetMessageDecoderMIME::ReadHeader() {
    if (FSinglePart) {
        SetupSinglePart(FMessage.ContentType, FMessage.ContentDisposition);
        return;
    }
    Headers.Clear();
    std::string line;
    for (;;) {
        if (!FSource.ReadLine(line)) {
            // The message ended inside the part headers.
            PartKind = pkUnknown;
            return;
        }
        if (line.empty()) break;
        if (line[0] == '-' && OpensOrClosesAPart(FMessage.BoundaryStack, line)) {
            // A part without a blank line after its headers: it has no body,
            // and the delimiter is read again as its body's first line.
            FFirstLine = line;
            FHasFirstLine = true;
            break;
        }
        if (TNetHeaderList::IsContinuation(line)) {
            if (!Headers.Empty()) {
                // Unfolding takes the line break only (the blanks stay).
                Headers[Headers.Count() - 1] += line;
                continue;
            }
            // Nothing to continue: blanks alone carry nothing, other text
            // belongs to the body.
            if (Trim(line).empty()) continue;
        }
        const size_t nameEnd = TNetHeaderList::FieldNameEnd(line);
        if (nameEnd == 0) {
            // A sender that left out the empty line: the header block ends
            // here and this line is the body's first.
            FFirstLine = line;
            FHasFirstLine = true;
            break;
        }
        Headers.Add(line.substr(0, nameEnd) + "=" + TrimLeft(std::string_view(line).substr(line.find(':') + 1)));
    }
    for (int i = 0; i < Headers.Count(); ++i) Headers[i] = TrimRight(Headers[i]);
    std::string ct = HeaderValue("Content-Type");
    // The type this part has in its place (a digest's parts are messages),
    // found before a multipart part pushes its own boundary.
    std::string type = TNetMessage::ResolveContentType(FMessage, ct, FMessage.BoundaryStack.ParentPart());
    if (StartsText("multipart/", type)) {
        std::string b = FindBoundary(ct);
        // The part about to be added by the caller has the next index.
        if (!b.empty()) FMessage.BoundaryStack.Push(b, FMessage.Parts.Count());
    }
    NameAndKind(type, ct, HeaderValue("Content-Disposition"));
}

std::unique_ptr<TNetMessageDecoder> TNetMessageDecoderMIME::ReadBody(TStream &target, bool &messageEnded) {
    TBufferedWriter destination(target);
    std::string cte = FSinglePart ? FMessage.ContentTransferEncoding : HeaderValue("Content-Transfer-Encoding");
    cte = Lower(cte);
    std::string ct = FSinglePart ? FMessage.ContentType : HeaderValue("Content-Type");
    if (cte.empty() && StartsText("application/mac-binhex40", Trim(ct))) cte = "binhex40";
    std::unique_ptr<TNetDecoder> decoder;
    bool binhex = false, binary = cte == "binary";
    if (cte == "base64") {
        decoder = std::make_unique<TNetDecoderMIMELineByLine>();
        Transfer = "base64";
    } else if (cte == "quoted-printable") {
        decoder = std::make_unique<TNetDecoderQuotedPrintable>();
        Transfer = "quoted-printable";
    } else if (cte == "binhex40") {
        binhex = true;
        Transfer = "binhex40";
    }
    if (decoder) decoder->DecodeBegin(destination);
    // The line end before a delimiter belongs to the delimiter (RFC 2046),
    // not to an attachment's data.
    destination.HoldLineEnd = !FSinglePart && PartKind == pkAttachment && !binhex && !binary &&
                              (!decoder || Transfer == "quoted-printable");
    bool byDelimiter = false;
    // The boundary in force now: a multipart part has pushed its own.
    std::string boundary = FSinglePart ? std::string() : FMessage.BoundaryStack.Boundary();
    std::string delim = boundary.empty() ? std::string() : "--" + boundary;
    std::string closeDelim = delim.empty() ? std::string() : delim + "--";
    std::string gathered;
    std::string out;
    std::unique_ptr<TNetMessageDecoder> next;
    bool firstWritten = false;
    std::string line;
    bool haveLine = false;
    if (FHasFirstLine) {
        line = FFirstLine;
        haveLine = true;
        FHasFirstLine = false;
    }
    for (;;) {
        if (!haveLine && !FSource.ReadLine(line)) {
            messageEnded = true;
            break;
        }
        haveLine = false;
        if (!delim.empty()) {
            byDelimiter = true;
            if (SameBoundaryLine(line, delim)) {
                next = std::make_unique<TNetMessageDecoderMIME>(FMessage, FSource);
                break;
            }
            if (SameBoundaryLine(line, closeDelim)) {
                FMessage.BoundaryStack.Pop();
                break;
            }
            bool closes = false;
            if (int level = EnclosingBoundaryLevel(FMessage.BoundaryStack, line, closes)) {
                for (int k = 0; k < level; ++k) FMessage.BoundaryStack.Pop();
                if (closes)
                    FMessage.BoundaryStack.Pop();
                else
                    next = std::make_unique<TNetMessageDecoderMIME>(FMessage, FSource);
                break;
            }
            byDelimiter = false;
        }
        if (decoder) {
            if (Transfer == "quoted-printable") {
                line += "\r\n";
                decoder->Decode(line);
            } else if (!line.empty()) {
                decoder->Decode(line);
            }
        } else if (binhex) {
            gathered += line;
        } else {
            // Leading dots were undoubled by the source, once.
            if (binary) {
                if (firstWritten) out += "\r\n";
                out += line;
            } else {
                out += line;
                out += "\r\n";
            }
            firstWritten = true;
            if (out.size() >= 65536) {
                destination.WriteBuffer(out.data(), int64_t(out.size()));
                out.clear();
            }
        }
    }
    if (!out.empty()) destination.WriteBuffer(out.data(), int64_t(out.size()));
    if (decoder) decoder->DecodeEnd();
    if (destination.HoldLineEnd && byDelimiter) destination.DropTrailingLineEnd();
    destination.Flush();
    if (binhex && !gathered.empty()) {
        try {
            TNetDecoderBinHex4 bh;
            bh.DecodeBegin(destination);
            bh.Decode(gathered, 1, -1);
        } catch (const ENetException &) {
            // A broken BinHex block leaves the attachment empty; the rest of
            // the message is still read.
        }
    }
    destination.Flush();
    return next;
}

// ---------------------------------------------------------------------------

TNetMessageDecoderUUE::TNetMessageDecoderUUE(TNetMessage &message, TNetMessageSource &source, std::string fileName)
    : TNetMessageDecoder(message, source) {
    FileName = CleanAttachmentFileName(fileName);
    PartKind = pkAttachment;
}

namespace {
// The first coded line tells the tables apart: "h" is a full XXE line. A
// shorter file's only line can start with a character both tables hold;
// a lower-case letter (never in UUE) or a line exactly as long as the XXE
// length claims, and not as the UUE one does, marks it as XXE.
bool LooksLikeXXE(const std::string &line) {
    const char *x = strchr(NetXXETable, line[0]);
    if (line[0] == '\0' || !x) return false;
    if (line[0] == 'h') return true;
    for (char c : line)
        if (c >= 'a' && c <= 'z') return true;
    auto codedLength = [](int bytes) { return size_t(1 + (bytes + 2) / 3 * 4); };
    int xxeBytes = int(x - NetXXETable), uueBytes = (uint8_t(line[0]) - 32) & 63;
    return line.size() == codedLength(xxeBytes) && line.size() != codedLength(uueBytes);
}
}  // namespace

std::unique_ptr<TNetMessageDecoder> TNetMessageDecoderUUE::ReadBody(TStream &target, bool &messageEnded) {
    TBufferedWriter destination(target);
    std::string line;
    std::unique_ptr<TNetDecoder> decoder;
    while (FSource.ReadLine(line)) {
        if (SameText(Trim(line), "end")) {
            destination.Flush();
            return nullptr;
        }
        if (!decoder) {
            if (line.empty()) continue;
            if (LooksLikeXXE(line)) {
                decoder = std::make_unique<TNetDecoderXXE>();
                Transfer = "XXE";
            } else if (uint8_t(line[0]) >= 32 && uint8_t(line[0]) - 32 < 54) {
                decoder = std::make_unique<TNetDecoderUUE>();
                Transfer = "UUE";
            } else {
                throw ENetException("Unrecognized UUE encoding scheme.");
            }
            decoder->DecodeBegin(destination);
        }
        decoder->Decode(line);
    }
    destination.Flush();
    messageEnded = true;
    return nullptr;
}

// ---------------------------------------------------------------------------

namespace {
struct DecoderInfo {
    std::string Name;
    TNetMessageDecoderList::CheckForStart Check;
};
std::mutex gRegistryMutex;
std::vector<DecoderInfo> &Registry() {
    static std::vector<DecoderInfo> list = [] {
        std::vector<DecoderInfo> l;
        l.push_back({"MIME", [](TNetMessage &m, TNetMessageSource &s,
                                const std::string &line) -> std::unique_ptr<TNetMessageDecoder> {
                         std::string b = m.BoundaryStack.Boundary();
                         if (!b.empty()) {
                             if (SameBoundaryLine(line, "--" + b)) return std::make_unique<TNetMessageDecoderMIME>(m, s);
                             return nullptr;
                         }
                         std::string cte = Lower(m.ContentTransferEncoding);
                         if (cte == "base64" || cte == "quoted-printable")
                             return std::make_unique<TNetMessageDecoderMIME>(m, s, true, line, true);
                         return nullptr;
                     }});
        l.push_back({"UUE", [](TNetMessage &m, TNetMessageSource &s,
                               const std::string &line) -> std::unique_ptr<TNetMessageDecoder> {
                         if (line.size() < 11 || !StartsText("begin ", line) || line[9] != ' ') return nullptr;
                         int mode = 0;
                         for (int i = 6; i < 9; ++i) {
                             if (line[size_t(i)] < '0' || line[size_t(i)] > '9') return nullptr;
                             mode = mode * 10 + (line[size_t(i)] - '0');
                         }
                         if (mode < 1) return nullptr;
                         return std::make_unique<TNetMessageDecoderUUE>(m, s, line.substr(10));
                     }});
        return l;
    }();
    return list;
}
}  // namespace

void TNetMessageDecoderList::Register(const std::string &name, CheckForStart check) {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    Registry().push_back({name, std::move(check)});
}

std::unique_ptr<TNetMessageDecoder> TNetMessageDecoderList::CheckForStartOf(TNetMessage &message,
                                                                          TNetMessageSource &source,
                                                                          const std::string &line) {
    for (auto &info : Registry())
        if (auto d = info.Check(message, source, line)) return d;
    return nullptr;
}

// ---------------------------------------------------------------------------

namespace {
std::string ReadRest(TStream &source) {
    int64_t left = source.Size() - source.Position();
    std::string data(size_t(std::max<int64_t>(left, 0)), '\0');
    if (!data.empty()) data.resize(size_t(std::max<int64_t>(0, source.Read(data.data(), int64_t(data.size())))));
    return data;
}
void Put(TStream &dest, const std::string &s) {
    if (!s.empty()) dest.WriteBuffer(s.data(), int64_t(s.size()));
}
}  // namespace

void TNetMessageEncoderMIME::Encode(TStream &source, TStream &destination) {
    std::string data = ReadRest(source);
    TNetEncoderMIME enc;
    std::string out;
    out.reserve(data.size() / 57 * 78 + 80);
    for (size_t i = 0; i < data.size(); i += 57) {
        out += enc.EncodeBuffer(reinterpret_cast<const uint8_t *>(data.data()) + i, std::min<size_t>(57, data.size() - i));
        out += "\r\n";
    }
    Put(destination, out);
}

void TNetMessageEncoderQuotedPrintable::Encode(TStream &source, TStream &destination) {
    std::string out = TNetEncoderQuotedPrintable().EncodeString(ReadRest(source));
    if (!out.empty() && (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0)) out += "\r\n";
    Put(destination, out);
}

void TNetMessageEncoderUUE::Encode(TStream &source, TStream &destination) {
    std::string data = ReadRest(source);
    std::unique_ptr<TNetEncoder00E> enc;
    if (XXE())
        enc = std::make_unique<TNetEncoderXXE>();
    else
        enc = std::make_unique<TNetEncoderUUE>();
    std::string out = "begin " + IntToStr(PermissionCode) + " " + FileName + "\r\n";
    if (!data.empty()) out += enc->EncodeString(data) + "\r\n";
    out.push_back(enc->TableChar(0));
    out += "\r\nend\r\n";
    Put(destination, out);
}

std::unique_ptr<TNetMessageEncoder> TNetMessageEncoderList::Create(const std::string &name) {
    if (SameText(name, "MIME")) return std::make_unique<TNetMessageEncoderMIME>();
    if (SameText(name, "QP")) return std::make_unique<TNetMessageEncoderQuotedPrintable>();
    if (SameText(name, "UUE")) return std::make_unique<TNetMessageEncoderUUE>();
    if (SameText(name, "XXE")) return std::make_unique<TNetMessageEncoderXXE>();
    throw ENetException("Message encoder not found");
}

bool TNetMessageEncoderList::Known(const std::string &name) {
    for (const char *n : {"MIME", "QP", "UUE", "XXE"})
        if (SameText(name, n)) return true;
    return false;
}

std::string TNetMIMEBoundaryStrings::GenerateBoundary() {
    static std::mutex m;
    static std::mt19937 rng(std::random_device{}() ^ uint32_t(time(nullptr)));
    std::lock_guard<std::mutex> lock(m);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    auto draw = [&](int count) { return int(u(rng) * count + 1.5); };
    std::string b;
    for (int i = 0; i < 34; ++i) {
        int n = draw(61);
        b.push_back(n <= 10 ? char('0' + n - 1) : n <= 36 ? char('A' + n - 11) : char('a' + n - 37));
    }
    int p = draw(32);  // 1..33
    b[size_t(p - 1)] = '=';
    b[size_t(p)] = '_';
    return b;
}

const std::string &TNetMIMEBoundaryStrings::Boundary() {
    static const std::string b = GenerateBoundary();
    return b;
}
