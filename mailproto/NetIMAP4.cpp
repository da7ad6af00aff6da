#include "NetIMAP4.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <set>

#include "NetGlobalProtocols.h"
#include "NetMessage.h"
#include "NetMessageSource.h"
#include "SysUtils.h"

const char *const RSIMAP4ConnectionStateError =
    "Unable to execute command, wrong connection state;Current connection state: %s.";
const char *const RSIMAP4NumberInvalid =
    "Number parameter (relative message number or UID) is invalid; Must be 1 or greater.";
const char *const RSIMAP4DisconnectedProbablyIdledOut =
    "Server has gracefully disconnected you, possibly because the connection was idle for too long.";

std::string IMAP4ConnectionStateName(int state) {
    switch (state) {
        case csAny: return "Any";
        case csNonAuthenticated: return "Non Authenticated";
        case csAuthenticated: return "Authenticated";
        case csSelected: return "Selected";
        default: return std::string();
    }
}

namespace {

// A message being fetched goes to a file that never has a name others could
// find: an unnamed file where the system offers one, else a random name
// removed at once. Either way nothing is left behind, whatever happens.
class TPrivateTempStream : public TStream {
public:
    TPrivateTempStream() {
        std::string folder = NetTempFolder();
#ifdef O_TMPFILE
        FFd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
        for (int tries = 0; FFd < 0 && tries < 100; ++tries) {
            uint8_t rnd[12];
            if (getrandom(rnd, sizeof rnd, 0) != ssize_t(sizeof rnd)) break;
            std::string name = folder + "Net";
            for (uint8_t b : rnd) name += IntToHex(b, 2);
            name += ".tmp";
            FFd = open(name.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, 0600);
            if (FFd >= 0) unlink(name.c_str());
            else if (errno != EEXIST) break;
        }
        if (FFd < 0) throw EFCreateError("Cannot create a temporary file in " + folder);
    }
    ~TPrivateTempStream() override { close(FFd); }
    int64_t Read(void *buffer, int64_t count) override {
        for (;;) {
            ssize_t n = read(FFd, buffer, size_t(count));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw EReadError("Cannot read the temporary file");
            return n;
        }
    }
    int64_t Write(const void *buffer, int64_t count) override {
        int64_t done = 0;
        while (done < count) {
            ssize_t n = write(FFd, static_cast<const char *>(buffer) + done, size_t(count - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw EWriteError("Cannot write the temporary file");
            done += n;
        }
        return done;
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                                                                      : SEEK_END;
        return lseek(FFd, offset, whence);
    }

private:
    int FFd = -1;
};

bool HasBadChar(const std::string &s) {
    for (char c : s)
        if (c == '\r' || c == '\n' || c == '\0') return true;
    return false;
}

bool Is8Bit(const std::string &s) {
    for (char c : s)
        if (uint8_t(c) >= 0x80) return true;
    return false;
}

// The blank-separated words of a text, appended to list.
void AddWords(const std::string &text, TStringList &list) {
    size_t i = 0;
    while (i < text.size()) {
        size_t j = text.find(' ', i);
        if (j == std::string::npos) j = text.size();
        if (j > i) list.Add(text.substr(i, j - i));
        i = j + 1;
    }
}

// A UID as a server gives it: digits that fit 32 bits, never a set such as
// "1:*" that would name other messages too.
bool IsUIDText(const std::string &uid) {
    if (uid.empty() || uid.size() > 10) return false;
    for (char ch : uid)
        if (ch < '0' || ch > '9') return false;
    return true;
}

// The UIDs as one set ("4,9,12"); false when one is no UID.
bool UIDSetText(const std::vector<std::string> &uids, std::string &set) {
    for (const std::string &uid : uids) {
        if (!IsUIDText(uid)) return false;
        if (!set.empty()) set += ',';
        set += uid;
    }
    return true;
}

std::string FirstWord(const std::string &line) {
    size_t sp = line.find(' ');
    return sp == std::string::npos ? line : line.substr(0, sp);
}

const char *const StoreItemNames[] = {"FLAGS.SILENT", "+FLAGS.SILENT", "-FLAGS.SILENT"};

// Swaps the handler's work events for the client's per-part events while a
// literal is copied.
class TWorkEventSwap {
public:
    TWorkEventSwap(TNetComponent *h, const TWorkEvent &w, const TWorkBeginEvent &b, const TWorkEndEvent &e)
        : FH(Target(h)), FW(FH->OnWork), FB(FH->OnWorkBegin), FE(FH->OnWorkEnd) {
        h = FH;
        h->OnWork = w;
        h->OnWorkBegin = b;
        h->OnWorkEnd = e;
    }
    ~TWorkEventSwap() {
        FH->OnWork = FW;
        FH->OnWorkBegin = FB;
        FH->OnWorkEnd = FE;
    }

private:
    // The handler reports its work through the connection it serves.
    static TNetComponent *Target(TNetComponent *h) {
        for (int i = 0; i < 8 && h->WorkTarget(); ++i) h = h->WorkTarget();
        return h;
    }
    TNetComponent *FH;
    TWorkEvent FW;
    TWorkBeginEvent FB;
    TWorkEndEvent FE;
};

}  // namespace

// The SASL exchange over IMAP: the first line goes with a tag, later lines
// are bare continuation answers; "+" asks for more, the tagged line ends it.
class TNetIMAP4SASLLink : public TNetSASLConnection {
public:
    explicit TNetIMAP4SASLLink(TNetIMAP4 &client) : FClient(client) {}
    void SASLSendCmd(const std::string &line) override {
        if (HasBadChar(line)) ENetIMAP4InvalidText::Toss("SASL response holds a line break");
        if (FTag.empty())
            FTag = FClient.StartCommand(line);
        else
            FClient.WriteLine(line);
        bool more = false;
        std::string end = FClient.ReadResponse(FTag, nullptr, false, &more);
        if (more) {
            FCode = "+";
            FText = end.size() > 2 ? end.substr(2) : std::string();
            return;
        }
        FCode = FClient.TakeReply(TStringList{end});
        FText = FClient.FLastTaggedText;
        FTag.clear();
    }
    std::string SASLReplyCode() override { return FCode; }
    std::string SASLReplyText() override { return FText; }

private:
    TNetIMAP4 &FClient;
    std::string FTag, FCode, FText;
};

// ---------------------------------------------------------------------------

TNetIMAP4::~TNetIMAP4() {
    try {
        if (FIOHandler && Connected()) Disconnect(true);
    } catch (...) {
    }
}

void TNetIMAP4::InitComponent() {
    TNetMessageClient::InitComponent();
    FMailBox = NetCreate<TNetMailBox>(this);
    FSASLMechanisms = std::make_unique<TNetSASLEntries>(this);
    SetPort(143);
    FLineStruct = std::make_unique<TNetIMAPLineStruct>();
    FIMAPCapabilities = std::make_unique<TStringList>();
    FImplicitTLSProtPort = 993;
    FRegularProtPort = 143;
    OnWorkForPart = nullptr;
    OnWorkBeginForPart = nullptr;
    OnWorkEndForPart = nullptr;
    MilliSecsToWaitToClearBuffer = 10;
    FTagCounter = 0;
    FConnectionState = csNonAuthenticated;
    RetrieveOnSelect = rsDisabled;
    MailBoxSeparator = '/';
    // Without a limit a server that accepts and then says nothing would hold
    // the check (and every later one) for ever.
    SetReadTimeout(DefaultReadTimeout);
}

void TNetIMAP4::Notification(TNetInitializerComponent *comp, TOperation operation) {
    TNetMessageClient::Notification(comp, operation);
    if (operation == opRemove && FSASLMechanisms) FSASLMechanisms->RemoveByComp(comp);
}

TNetReplyClass TNetIMAP4::GetReplyClass() {
    return [] { return std::unique_ptr<TNetReply>(new TNetReplyIMAP4()); };
}

TNetReplyIMAP4 *TNetIMAP4::LastReply() const { return static_cast<TNetReplyIMAP4 *>(FLastCmdResult.get()); }

std::string TNetIMAP4::NextTag() { return "C" + std::to_string(++FTagCounter); }

void TNetIMAP4::CheckConnectionState(std::initializer_list<int> states) {
    for (int s : states)
        if (s == FConnectionState) return;
    ENetConnectionStateError::Toss(
        Format(RSIMAP4ConnectionStateError, IMAP4ConnectionStateName(FConnectionState).c_str()));
}

void TNetIMAP4::CheckNumber(int number) {
    if (number < 1) ENetNumberInvalid::Toss(RSIMAP4NumberInvalid);
}

bool TNetIMAP4::HasCapability(const std::string &word) const { return FIMAPCapabilities->IndexOfText(word) >= 0; }

void TNetIMAP4::ClosePlain() {
    FPendingRanges.clear();
    FEarlyHeaders.clear();
    try {
        TNetMessageClient::Disconnect(false);
    } catch (...) {
    }
    // Bytes still buffered belong to the session that ended.
    if (FIOHandler && FIOHandler->InputBuffer()) FIOHandler->InputBuffer()->Clear();
}

void TNetIMAP4::Desynchronised(const std::string &why) {
    // What follows on the connection can no longer be matched to our
    // commands: end the session rather than misread it.
    FConnectionState = csUnexpectedlyDisconnected;
    ClosePlain();
    ENetReplyIMAP4Error::Toss(why);
}

void TNetIMAP4::UnexpectedBye(const std::string &) {
    FConnectionState = csUnexpectedlyDisconnected;
    ClosePlain();
    ENetDisconnectedProbablyIdledOut::Toss(RSIMAP4DisconnectedProbablyIdledOut);
}

bool TNetIMAP4::IsBye(std::string_view line) { return StartsText("* BYE", line); }

bool TNetIMAP4::IsStatusWord(std::string_view word) {
    return word == "OK" || word == "NO" || word == "BAD" || word == "PREAUTH" || word == "BYE";
}

void TNetIMAP4::DrainStaleInput() {
    if (!FIOHandler || !FIOHandler->InputBuffer()) return;
    // Only what is already here: never a wait per command.
    std::string stale = FIOHandler->InputBufferAsString();
    try {
        for (int rounds = 0; rounds < 64 && FIOHandler->Readable(0); ++rounds) {
            if (FIOHandler->ReadFromSource(false, 0, false) <= 0) break;
            stale += FIOHandler->InputBufferAsString();
            if (stale.size() > 65536) stale.erase(0, stale.size() - 65536);
        }
    } catch (const ENetException &) {
        // A connection that broke shows itself at the write that follows.
    }
    for (size_t pos = 0; pos < stale.size();) {
        if (IsBye(std::string_view(stale).substr(pos))) UnexpectedBye(stale.substr(pos));
        size_t nl = stale.find('\n', pos);
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
}

void TNetIMAP4::WriteLine(const std::string &text, bool lineEnd) {
    CheckConnected();
    try {
        if (lineEnd)
            FIOHandler->WriteLn(text);
        else
            FIOHandler->Write(text);
    } catch (...) {
        FConnectionState = csUnexpectedlyDisconnected;
        throw;
    }
}

std::string TNetIMAP4::StartCommand(const std::string &text) {
    // Answers due to ranges sent ahead come before this command's.
    if (!FPendingRanges.empty()) DiscardPendingRanges();
    FLastTaggedText.clear();
    DrainStaleInput();
    std::string tag = NextTag();
    WriteLine(tag + " " + text);
    return tag;
}

std::string TNetIMAP4::ReadResponseLine() {
    CheckConnected();
    // Every answer is read through here, so these counts end a server that
    // never finishes one, whatever shape its lines take.
    if (++FResponseLines > MaxResponseLines) Desynchronised("Unexpected: too many response lines");
    std::string line;
    try {
        line = FIOHandler->ReadLn("\n", -1, -1);
    } catch (const ENetReadLnMaxLineLengthExceeded &) {
        Desynchronised("Unexpected: response line longer than " + std::to_string(FIOHandler->MaxLineLength) +
                       " bytes");
    }
    if (FIOHandler->ReadLnTimedOut()) {
        FConnectionState = csUnexpectedlyDisconnected;
        ClosePlain();
        ENetReadTimeout::Toss("Read Timeout");
    }
    if ((FResponseBytes += int64_t(line.size())) > MaxResponseSize)
        Desynchronised("Unexpected: response larger than " + std::to_string(MaxResponseSize) + " bytes");
    return line;
}

void TNetIMAP4::DiscardLiteral(int64_t size) {
    if (size > MaxMessageSize)
        Desynchronised("Unexpected: literal of " + std::to_string(size) + " bytes is larger than " +
                       std::to_string(MaxMessageSize));
    // A piece at a time: what is read past is never held whole.
    constexpr int64_t piece = 65536;
    TNetBytes discard;
    for (; size > 0; size -= piece) FIOHandler->ReadBytes(discard, int(std::min(size, piece)), false);
}

void TNetIMAP4::SkipLiteral(int64_t size) {
    // Whatever the setting, a literal read into memory stays within what
    // one read of the handler can count.
    if (size > std::min<int64_t>(MaxOtherLiteralSize, INT32_MAX))
        Desynchronised("Unexpected: literal of " + std::to_string(size) + " bytes in a response");
    TNetBytes discard;
    if (size > 0) FIOHandler->ReadBytes(discard, int(size), false);
}

std::string TNetIMAP4::ReadResponse(const std::string &tag, const TUntaggedHandler &onUntagged, bool byeExpected,
                                    bool *continuation) {
    FResponseLines = 0;
    FResponseBytes = 0;
    for (;;) {
        std::string line = ReadResponseLine();
        if (!tag.empty() && (line == tag || StartsText(tag + " ", line))) return line;
        const std::string first = FirstWord(line);
        if (first == "*") {
            // The greeting is the first status response.
            if (tag.empty() && line.size() > 2 && IsStatusWord(FirstWord(line.substr(2)))) return line;
            if (!byeExpected && IsBye(line)) UnexpectedBye(line);
            std::string piece = std::move(line);
            for (bool start = true;; start = false) {
                const int64_t literal = TrailingLiteralSize(piece);
                const bool taken = onUntagged && onUntagged(piece, start, literal);
                if (literal < 0) break;
                if (!taken) SkipLiteral(literal);
                piece = ReadResponseLine();
                // A server going down where the rest of the response belongs.
                if (IsBye(piece)) UnexpectedBye(piece);
            }
            continue;
        }
        if (first == "+") {
            if (!continuation) Desynchronised("Unexpected: continuation request, offending line: " + line);
            *continuation = true;
            return line;
        }
        // An answer left over from an earlier command.
        if (TNetReplyIMAP4::IsTag(first)) continue;
        // A status without a tag ends the answer as the tagged one would.
        if (IsStatusWord(first)) return line;
        Desynchronised(
            "Unexpected: Line does not start with a command reference (like C41), a *, or a valid response like OK, "
            "BAD, etc, offending line: " +
            line);
    }
}

std::string TNetIMAP4::TakeReply(const TStringList &lines, TNetReplyIMAP4 *reply) {
    if (!reply) reply = LastReply();
    try {
        reply->SetFormattedReply(lines);
    } catch (const ENetReplyIMAP4Error &e) {
        Desynchronised(e.Message());
    }
    FLastTaggedText =
        TNetReplyIMAP4::IsTag(reply->Tag) && reply->Extra.Count() > 0 ? reply->Extra[0] : std::string();
    return reply->Code();
}

TNetIMAP4::Segment TNetIMAP4::Argument(const std::string &value, const char *what) {
    if (HasBadChar(value))
        ENetIMAP4InvalidText::Toss(std::string(what) + " must not hold CR, LF or NUL characters.");
    if (Is8Bit(value)) return Segment{value, true};
    return Segment{IMAPQuoted(value), false};
}

std::string TNetIMAP4::Exchange(const std::vector<Segment> &segments, const TUntaggedHandler &onUntagged,
                                bool byeExpected) {
    std::string tag, pending;
    for (const Segment &seg : segments) {
        if (!seg.Literal) {
            pending += seg.Text;
            continue;
        }
        pending += "{" + std::to_string(seg.Text.size()) + "}";
        if (tag.empty())
            tag = StartCommand(pending);
        else
            WriteLine(pending);
        pending.clear();
        // The server asks for the literal with "+"; a tagged answer instead
        // refuses the command.
        bool more = false;
        std::string end = ReadResponse(tag, onUntagged, byeExpected, &more);
        if (!more) return end;
        WriteLine(seg.Text, false);
    }
    if (tag.empty())
        tag = StartCommand(pending);
    else
        WriteLine(pending);
    return ReadResponse(tag, onUntagged, byeExpected);
}

std::string TNetIMAP4::Command(const std::vector<Segment> &segments, const std::vector<std::string> &expected,
                               bool byeExpected) {
    TStringList lines;
    std::string current;
    // One line per untagged response; the bytes of its literals are not kept.
    auto collect = [&](const std::string &piece, bool start, int64_t literal) {
        current = start ? piece : current + piece;
        if (literal >= 0)
            current.erase(current.rfind('{'));
        else
            lines.Add(std::move(current));
        return false;
    };
    std::string last = Guarded([&] { return Exchange(segments, collect, byeExpected); });
    lines.Add(std::move(last));
    std::string code = TakeReply(lines);
    LastReply()->SortByExpected(expected);
    return code;
}

std::string TNetIMAP4::SendCommand(const std::string &command, const std::vector<std::string> &expected) {
    if (HasBadChar(command)) ENetIMAP4InvalidText::Toss("A command must not hold CR, LF or NUL characters.");
    bool bye = false;
    for (const std::string &e : expected)
        if (e == "BYE") bye = true;
    return Command({Segment{command, false}}, expected, bye);
}

// --- session ------------------------------------------------------------------

bool TNetIMAP4::Connect(bool autoLogin) {
    FConnectionState = csNonAuthenticated;
    FIMAPCapabilities->Clear();
    FHasIMAPCapabilities = false;
    TNetMessageClient::Connect();
    TStringList lines;
    auto collect = [&](const std::string &piece, bool start, int64_t) {
        if (start && lines.Add(piece) >= 100) Desynchronised("Unexpected: no greeting from the server");
        return false;
    };
    std::string last = Guarded([&] { return ReadResponse(std::string(), collect, true); });
    lines.Add(std::move(last));
    TNetReplyIMAP4 *greeting = static_cast<TNetReplyIMAP4 *>(FGreeting.get());
    TakeReply(lines, greeting);
    GreetingBanner = greeting->Text.Count() > 0 ? greeting->Text[0] : std::string();
    FTagCounter = 0;
    // A greeting may announce the capabilities ("[CAPABILITY IMAP4rev1 ...]").
    const std::string &banner = GreetingBanner;
    if (StartsText("[CAPABILITY ", banner)) {
        size_t end = banner.find(']');
        FIMAPCapabilities->Clear();
        AddWords(banner.substr(12, end == std::string::npos ? std::string::npos : end - 12), *FIMAPCapabilities);
    }
    if (greeting->Code() == "BYE") {
        std::string text = GreetingBanner.empty() ? std::string("The server refused the connection.") : GreetingBanner;
        ClosePlain();
        FConnectionState = csNonAuthenticated;
        ENetIMAP4LoginRefused::Toss(text);
    }
    if (autoLogin) Login();
    return true;
}

void TNetIMAP4::Login() {
    const std::string code = FGreeting ? FGreeting->Code() : std::string();
    const bool sasl = AuthType == TNetIMAP4AuthenticationType::atSASL;
    if (sasl && code == "OK" && FSASLMechanisms->Count() == 0) ENetSASLMechNeeded::Toss(RSSASLRequired);
    if (FUseTLS == utUseRequireTLS || FUseTLS == utUseExplicitTLS) {
        // This client never starts TLS on a plain connection.
        if (SupportsTLS()) ProcessTLSNegCmdFailed();
        else ProcessTLSNotAvail();
    }
    if (code == "PREAUTH") {
        FConnectionState = csAuthenticated;
        FTagCounter = 0;
    } else if (code == "OK") {
        FConnectionState = csNonAuthenticated;
        FTagCounter = 0;
        if (sasl) {
            // Without the server's list no mechanism can be chosen.
            if (!QueryCapabilities())
                ENetIMAP4LoginRefused::Toss(FLastTaggedText.empty() ? std::string("The server did not list its "
                                                                                  "capabilities; SASL log-in not tried.")
                                                                    : FLastTaggedText);
            TNetIMAP4SASLLink link(*this);
            if (!FSASLMechanisms->LoginWithSASL("AUTHENTICATE", {"OK"}, {"+"}, link, FIMAPCapabilities.get(),
                                                "AUTH")) {
                // The server's own words when it refused, as for LOGIN.
                std::string text = link.SASLReplyText();
                ENetIMAP4LoginRefused::Toss(text.empty() ? std::string("SASL log-in failed.") : text);
            }
            FConnectionState = csAuthenticated;
        } else {
            if (HasCapability("LOGINDISABLED"))
                ENetIMAP4LoginRefused::Toss("The server does not accept LOGIN on this connection (LOGINDISABLED).");
            std::vector<Segment> cmd{{"LOGIN ", false}, Argument(Username, "The user name"), {" ", false},
                                     Argument(Password, "The password")};
            std::string r = Command(cmd, {});
            if (r != "OK") {
                std::string text = FLastTaggedText;
                if (text.empty()) text = "LOGIN " + r;
                ENetIMAP4LoginRefused::Toss(text);
            }
            FConnectionState = csAuthenticated;
        }
    } else {
        ENetIMAP4LoginRefused::Toss(GreetingBanner.empty() ? "The server refused the session." : GreetingBanner);
    }
    QueryCapabilities();
}

bool TNetIMAP4::QueryCapabilities(TStringList *list) {
    if (!list) list = FIMAPCapabilities.get();
    list->Clear();
    std::string code = Command({Segment{"CAPABILITY", false}}, {"CAPABILITY"});
    TNetReplyIMAP4 *reply = LastReply();
    if (code == "OK" && reply->Text.Count() > 0) {
        AddWords(reply->Text[0], *list);
        if (list->Count() > 0) list->Delete(0);
    }
    FHasIMAPCapabilities = code == "OK";
    return FHasIMAPCapabilities;
}

bool TNetIMAP4::SelectMailBox(const std::string &name) {
    CheckConnectionState({csAuthenticated, csSelected});
    if (HasBadChar(name)) ENetIMAP4InvalidText::Toss("A mailbox name must not hold CR, LF or NUL characters.");
    // Modified UTF-7 is printable ASCII, so a quoted string always carries it.
    // The server deselects the old mailbox whatever the answer: its count
    // must not pass for the new one's.
    FMailBox->Clear();
    FOwnDeletedUIDs.clear();
    if (FConnectionState == csSelected) FConnectionState = csAuthenticated;
    std::string code = Command({Segment{"SELECT " + IMAPQuoted(TNetMUTF7::Encode(name)), false}},
                               {"FLAGS", "OK", "EXISTS", "RECENT", "[READ-WRITE]", "[ALERT]"});
    if (code != "OK")
        ENetIMAP4CommandFailed::Toss("Mailbox \"" + name + "\" could not be selected: " +
                                     (FLastTaggedText.empty() ? code : FLastTaggedText));
    TStringList lines = LastReply()->Text;
    lines.Add(FLastTaggedText);
    ParseSelectResponse(*FMailBox, lines, [this](const std::string &text) {
        if (OnAlert) OnAlert(this, text);
    });
    FMailBox->Name = name;
    FConnectionState = csSelected;
    if (RetrieveOnSelect == rsHeaders)
        RetrieveAllHeaders(FMailBox->Messages);
    else if (RetrieveOnSelect == rsMessages)
        RetrieveAllMessages(FMailBox->Messages);
    return true;
}

// --- fetching ------------------------------------------------------------------------

template <class F>
auto TNetIMAP4::Guarded(F &&f) -> decltype(f()) {
    try {
        return f();
    } catch (...) {
        // Whatever broke off the exchange (the connection, a time-out, a
        // full disk under a message, a handler that gave up), the rest of
        // the answer is still on its way and would be read as the answer
        // to the next command.
        FConnectionState = csUnexpectedlyDisconnected;
        ClosePlain();
        throw;
    }
}

bool TNetIMAP4::FetchItem(int number, const std::string &item, const std::function<void(int64_t)> &sink,
                          int64_t maxLiteral, bool withFlags) {
    CheckNumber(number);
    CheckConnectionState({csSelected});
    return Guarded([&] { return FetchItemInner(number, item, sink, maxLiteral, withFlags); });
}

bool TNetIMAP4::FetchItemInner(int number, const std::string &item, const std::function<void(int64_t)> &sink,
                               int64_t maxLiteral, bool withFlags) {
    FLineStruct->Clear();
    TNetIMAPLineStruct rec;
    bool found = false, isFetch = false, gotLiteral = false;
    auto onUntagged = [&](const std::string &piece, bool start, int64_t literal) {
        if (start) {
            gotLiteral = false;
            isFetch = rec.ParseFetchLine(piece.size() > 2 ? std::string_view(piece).substr(2) : "", item);
        } else if (isFetch) {
            rec.ParseClosingLine(piece);
        }
        if (!isFetch) return false;  // another response: its literals are read past
        if (rec.Complete != (literal < 0))
            Desynchronised("Unexpected: FETCH response does not end where its literal stands, offending line: " +
                           piece);
        // Only the answer for this message counts: a server tells of flags
        // that another client changed with FETCH lines of its own.
        const bool mine = rec.MessageNumber == number;
        if (literal >= 0) {
            if (!mine || !sink || rec.LiteralItem != rec.IMAPFunction) return false;
            if (literal > maxLiteral)
                Desynchronised("Unexpected: literal of " + std::to_string(literal) + " bytes is larger than " +
                               std::to_string(maxLiteral));
            sink(literal);
            gotLiteral = true;
            return true;
        }
        if (!mine) return false;
        if (rec.IMAPValueFound || gotLiteral) {
            TNetMessageFlags flags = FLineStruct->Flags;
            bool flagsSeen = FLineStruct->FlagsSeen;
            *FLineStruct = rec;
            if (!rec.FlagsSeen && flagsSeen) {
                FLineStruct->Flags = flags;
                FLineStruct->FlagsSeen = true;
            }
            found = true;
        } else if (rec.FlagsSeen) {
            FLineStruct->Flags = rec.Flags;
            FLineStruct->FlagsSeen = true;
            if (FLineStruct->UID.empty()) FLineStruct->UID = rec.UID;
        }
        return false;
    };
    const std::string tag =
        StartCommand("FETCH " + std::to_string(number) + " (" + (withFlags ? "FLAGS " : "") + item + ")");
    std::string end = ReadResponse(tag, onUntagged, false);
    return TakeReply(TStringList{end}) == "OK" && found;
}

bool TNetIMAP4::RetrieveHeaders(int number, TNetMessage &msg) { return FetchHeaders(number, msg, false); }

bool TNetIMAP4::RetrieveHeaders(int number, TNetMessage &msg, TNetMessageFlags &flags) {
    flags.Clear();
    FetchHeaders(number, msg, true);
    if (FLineStruct->FlagsSeen) flags = FLineStruct->Flags;
    return true;
}

bool TNetIMAP4::FetchHeaders(int number, TNetMessage &msg, bool withFlags) {
    CheckNumber(number);
    CheckConnectionState({csSelected});
    msg.Clear();
    // The literal is taken by its byte count and parsed afterwards, not read
    // line by line from the connection: a header without its closing empty
    // line must not carry the reader into the next response.
    std::string header;
    bool got = false;
    bool ok = FetchItem(
        number, "RFC822.HEADER",
        [&](int64_t size) {
            TNetBytes bytes;
            if (size > 0) FIOHandler->ReadBytes(bytes, int(size), false);
            header.assign(bytes.begin(), bytes.end());
            got = true;
        },
        std::min<int64_t>(MaxHeaderSize, INT32_MAX), withFlags);
    if (!ok || !got) {
        const std::string code = LastReply()->Code();
        std::string why = code != "OK" ? (FLastTaggedText.empty() ? code : FLastTaggedText)
                                       : std::string("the server sent no header.");
        ENetIMAP4CommandFailed::Toss("The header of message " + std::to_string(number) +
                                     " could not be fetched: " + why);
    }
    TNetStringMessageSource source(std::move(header), false);
    msg.ReceiveHeader(source, true);
    return true;
}

std::string TNetIMAP4::RetrieveHeadersRange(int first, int last, const THeaderSink &sink, bool withSize) {
    SendHeadersRange(first, last, withSize);
    return ReadHeadersRange(sink);
}

void TNetIMAP4::SendHeadersRange(int first, int last, bool withSize) {
    CheckNumber(first);
    CheckNumber(last);
    if (last < first) ENetNumberInvalid::Toss(RSIMAP4NumberInvalid);
    CheckConnectionState({csSelected});
    const std::string range =
        first == last ? std::to_string(first) : std::to_string(first) + ":" + std::to_string(last);
    const std::string text = "FETCH " + range + " (UID FLAGS " + (withSize ? "RFC822.SIZE " : "") + "BODY.PEEK[HEADER])";
    // With an answer still on its way nothing may be drained as stale.
    std::string tag;
    if (FPendingRanges.empty()) {
        tag = StartCommand(text);
    } else {
        tag = NextTag();
        WriteLine(tag + " " + text);
    }
    FPendingRanges.push_back(TPendingRange{tag, first, last});
}

std::string TNetIMAP4::ReadHeadersRange(const THeaderSink &sink) {
    if (FPendingRanges.empty()) ENetIMAP4CommandFailed::Toss("No range answer is due.");
    CheckConnectionState({csSelected});
    const TPendingRange range = FPendingRanges.front();
    const int first = range.First, last = range.Last;
    const int64_t maxLiteral = std::min<int64_t>(MaxHeaderSize, INT32_MAX);
    static const std::string item = "BODY.PEEK[HEADER]";
    auto msg = NetCreateNoOwner<TNetMessage>();
    TNetIMAPLineStruct rec;
    bool isFetch = false, gotHeader = false, tooLarge = false, handling = true;
    std::string header;
    int lastDelivered = first - 1;
    auto deliver = [&](const TRangeItem &it, std::string &&text) {
        lastDelivered = it.Number;
        if (!handling) return;
        msg->Clear();
        if (it.Failure.empty()) {
            TNetStringMessageSource source(std::move(text), false);
            msg->ReceiveHeader(source, true);
        }
        handling = sink(it, *msg);
        msg->Clear();
    };
    // A range sent later may already have been answered in part.
    while (!FEarlyHeaders.empty() && FEarlyHeaders.front().Item.Number <= last) {
        TEarlyHeader early = std::move(FEarlyHeaders.front());
        FEarlyHeaders.pop_front();
        if (early.Item.Number > lastDelivered) deliver(early.Item, std::move(early.Header));
    }
    const int laterLast = FPendingRanges.back().Last;
    auto onUntagged = [&](const std::string &piece, bool start, int64_t literal) {
        if (start) {
            gotHeader = tooLarge = false;
            header.clear();
            isFetch = rec.ParseFetchLine(piece.size() > 2 ? std::string_view(piece).substr(2) : "", item);
        } else if (isFetch) {
            rec.ParseClosingLine(piece);
        }
        if (!isFetch) return false;
        if (rec.Complete != (literal < 0))
            Desynchronised("Unexpected: FETCH response does not end where its literal stands, offending line: " +
                           piece);
        // Another client's flag change comes as a FETCH of its own; only
        // numbers of this range, each once and in order, are ours, and
        // those of a range sent after it are kept for that one.
        const bool mine = rec.MessageNumber > lastDelivered && rec.MessageNumber <= last;
        const bool later = rec.MessageNumber > last && rec.MessageNumber <= laterLast &&
                           (FEarlyHeaders.empty() || rec.MessageNumber > FEarlyHeaders.back().Item.Number);
        if (literal >= 0) {
            if (!(mine || later) || rec.LiteralItem != rec.IMAPFunction) return false;
            if (literal > maxLiteral) {
                // One header too large to take: read past it, and only its
                // message goes without.
                DiscardLiteral(literal);
                tooLarge = true;
                return true;
            }
            TNetBytes bytes;
            if (literal > 0) FIOHandler->ReadBytes(bytes, int(literal), false);
            header.assign(bytes.begin(), bytes.end());
            gotHeader = true;
            return true;
        }
        if (!(mine || later) || !(gotHeader || tooLarge)) return false;
        TRangeItem it;
        it.Number = rec.MessageNumber;
        if (rec.FlagsSeen) it.Flags = rec.Flags;
        it.UID = rec.UID;
        it.Size = rec.Size;
        if (tooLarge) it.Failure = "Message header larger than " + std::to_string(maxLiteral) + " bytes.";
        if (later)
            FEarlyHeaders.push_back(TEarlyHeader{it, std::move(header)});
        else
            deliver(it, std::move(header));
        header.clear();
        return false;
    };
    return Guarded([&] {
        FLastTaggedText.clear();
        std::string end = ReadResponse(range.Tag, onUntagged, false);
        FPendingRanges.pop_front();
        return TakeReply(TStringList{end});
    });
}

void TNetIMAP4::DiscardPendingRanges() {
    while (!FPendingRanges.empty()) ReadHeadersRange([](const TRangeItem &, TNetMessage &) { return false; });
    FEarlyHeaders.clear();
}

bool TNetIMAP4::RetrieveMessage(int number, TNetMessage &msg, bool peek) {
    CheckNumber(number);
    CheckConnectionState({csSelected});
    msg.Clear();
    std::unique_ptr<TPrivateTempStream> file;
    bool ok = FetchItem(
        number, peek ? "BODY.PEEK[]" : "RFC822",
        [&](int64_t size) {
            file = std::make_unique<TPrivateTempStream>();
            TWorkEventSwap swap(FIOHandler, OnWorkForPart, OnWorkBeginForPart, OnWorkEndForPart);
            if (size > 0) FIOHandler->ReadStream(*file, size, false);
        },
        MaxMessageSize);
    if (!ok || !file) return false;
    // The literal is the message as stored: no dot stuffing to undo.
    file->SetPosition(0);
    TNetStreamMessageSource source(*file, false);
    source.MaxMessageSize = MaxMessageSize;
    if (msg.ReceiveHeader(source, true)) msg.ReceiveBody(source);
    return true;
}

int64_t TNetIMAP4::GetMessageSize(int number) {
    if (!FetchItem(number, "RFC822.SIZE", nullptr, 0) || !FLineStruct->IMAPValueFound) return -1;
    int64_t size;
    return TryStrToInt64(FLineStruct->IMAPValue, size) && size >= 0 ? size : -1;
}

bool TNetIMAP4::RetrieveFlags(int number, TNetMessageFlags &flags) {
    flags.Clear();
    if (!FetchItem(number, "FLAGS", nullptr, 0) || !FLineStruct->FlagsSeen) return false;
    flags = FLineStruct->Flags;
    return true;
}

bool TNetIMAP4::GetMessageFlags(int number) {
    TNetMessageFlags flags;
    return RetrieveFlags(number, flags) && flags.Has(mfSeen);
}

std::string TNetIMAP4::GetUID(int number) {
    if (!FetchItem(number, "UID", nullptr, 0)) return std::string();
    return FLineStruct->UID;
}

bool TNetIMAP4::StoreFlags(const std::vector<int> &numbers, TNetStoreFlagsMethod method,
                           const TNetMessageFlags &flags) {
    if (numbers.empty()) return false;
    for (int n : numbers) CheckNumber(n);
    CheckConnectionState({csSelected});
    // Remember which messages this session flags \Deleted, by UID, so that
    // an expunge can be limited to them.
    std::vector<std::string> uids;
    if (flags.Has(mfDeleted) && HasCapability("UIDPLUS"))
        for (int n : numbers) {
            std::string uid = GetUID(n);
            if (IsUIDText(uid))
                uids.push_back(std::move(uid));
            else if (method != sfRemove)
                // A message our expunge cannot name would stay flagged for
                // good.
                return false;
        }
    std::string cmd = "STORE " + MessageNumbersToStr(numbers) + " " + StoreItemNames[method] + " (" +
                      Trim(MessageFlagsToStr(flags)) + ")";
    if (Command({Segment{cmd, false}}, {}) != "OK") return false;
    NoteOwnDeletions(uids, method, flags);
    return true;
}

bool TNetIMAP4::StoreFlagsByUID(const std::vector<std::string> &uids, TNetStoreFlagsMethod method,
                                const TNetMessageFlags &flags) {
    if (uids.empty()) return false;
    CheckConnectionState({csSelected});
    std::string set;
    if (!UIDSetText(uids, set)) return false;
    std::string cmd = "UID STORE " + set + " " + StoreItemNames[method] + " (" + Trim(MessageFlagsToStr(flags)) + ")";
    // The answer to a UID command may tell of messages another client
    // expunged: the numbers after them move up.
    const std::string code = Command({Segment{cmd, false}}, {"EXPUNGE", "EXISTS"});
    ParseExpungeResponse(*FMailBox, LastReply()->Text);
    if (code != "OK") return false;
    NoteOwnDeletions(uids, method, flags);
    return true;
}

bool TNetIMAP4::DeleteMessagesByUID(const std::vector<std::string> &uids) {
    return StoreFlagsByUID(uids, sfAdd, {mfDeleted});
}

int TNetIMAP4::NumberOfUID(const std::string &uid) {
    CheckConnectionState({csSelected});
    if (!IsUIDText(uid)) return 0;
    const std::string code = Command({Segment{"UID FETCH " + uid + " (UID)", false}}, {"FETCH", "EXPUNGE", "EXISTS"});
    ParseExpungeResponse(*FMailBox, LastReply()->Text);
    if (code != "OK") return 0;
    // The lines in the order they came: an expunge told after the message's
    // own line moves it.
    int number = 0;
    for (const std::string &line : LastReply()->Text) {
        TNetIMAPLineStruct rec;
        try {
            if (rec.ParseFetchLine(line, "UID")) {
                if (rec.UID == uid) number = rec.MessageNumber;
                continue;
            }
        } catch (const ENetReplyIMAP4Error &) {
            continue;  // another message's line we need not understand
        }
        // "n EXPUNGE"
        const size_t blank = line.find(' ');
        int gone = 0;
        if (number < 1 || blank == std::string::npos || !SameText(Trim(line.substr(blank + 1)), "EXPUNGE") ||
            !TryStrToInt(line.substr(0, blank), gone))
            continue;
        if (gone == number)
            number = 0;
        else if (gone > 0 && gone < number)
            --number;
    }
    return number;
}

std::vector<std::string> TNetIMAP4::ExistingUIDs(const std::vector<std::string> &uids) {
    if (uids.empty()) return {};
    CheckConnectionState({csSelected});
    std::string set;
    if (!UIDSetText(uids, set)) return {};
    const std::string code = Command({Segment{"UID SEARCH UID " + set, false}}, {"SEARCH", "EXPUNGE", "EXISTS"});
    ParseExpungeResponse(*FMailBox, LastReply()->Text);
    if (code != "OK") return {};
    std::set<std::string> listed;
    for (const std::string &line : LastReply()->Text) {
        TStringList words;
        AddWords(line, words);
        if (words.Count() > 0 && SameText(words[0], "SEARCH"))
            listed.insert(words.Items().begin() + 1, words.Items().end());
    }
    // Only what was asked: a server's answer names nothing else.
    std::vector<std::string> found;
    for (const std::string &uid : uids)
        if (listed.count(uid)) found.push_back(uid);
    return found;
}

void TNetIMAP4::NoteOwnDeletions(const std::vector<std::string> &uids, TNetStoreFlagsMethod method,
                                 const TNetMessageFlags &flags) {
    if (!flags.Has(mfDeleted)) return;
    for (const std::string &uid : uids) {
        auto it = std::find(FOwnDeletedUIDs.begin(), FOwnDeletedUIDs.end(), uid);
        if (method == sfRemove) {
            if (it != FOwnDeletedUIDs.end()) FOwnDeletedUIDs.erase(it);
        } else if (it == FOwnDeletedUIDs.end()) {
            FOwnDeletedUIDs.push_back(uid);
        }
    }
}

bool TNetIMAP4::DeleteMessage(const std::vector<int> &numbers) { return StoreFlags(numbers, sfAdd, {mfDeleted}); }

bool TNetIMAP4::ExpungeMailBox() {
    CheckConnectionState({csSelected});
    if (HasCapability("UIDPLUS")) {
        // Nothing of ours to remove; what others flagged stays. A chunk the
        // server carried out is done with at once, whatever becomes of the
        // next.
        const size_t chunk = 500;
        while (!FOwnDeletedUIDs.empty()) {
            const size_t n = std::min(FOwnDeletedUIDs.size(), chunk);
            std::string set;
            for (size_t k = 0; k < n; ++k) {
                if (!set.empty()) set += ',';
                set += FOwnDeletedUIDs[k];
            }
            if (Command({Segment{"UID EXPUNGE " + set, false}}, {"EXPUNGE"}) != "OK") return false;
            FOwnDeletedUIDs.erase(FOwnDeletedUIDs.begin(), FOwnDeletedUIDs.begin() + std::ptrdiff_t(n));
            ParseExpungeResponse(*FMailBox, LastReply()->Text);
        }
        return true;
    }
    if (Command({Segment{"EXPUNGE", false}}, {"EXPUNGE"}) != "OK") return false;
    ParseExpungeResponse(*FMailBox, LastReply()->Text);
    FOwnDeletedUIDs.clear();
    return true;
}

bool TNetIMAP4::RetrieveAll(TNetMessageCollection &collection, bool whole) {
    CheckConnectionState({csSelected});
    for (int i = 1; i <= FMailBox->TotalMsgs; ++i) {
        TNetMessageItem &item = collection.Add();
        try {
            if (!(whole ? RetrieveMessage(i, item.Msg()) : RetrieveHeaders(i, item.Msg()))) return false;
        } catch (const ENetIMAP4CommandFailed &) {
            return false;
        }
    }
    return true;
}

bool TNetIMAP4::RetrieveAllHeaders(TNetMessageCollection &collection) { return RetrieveAll(collection, false); }
bool TNetIMAP4::RetrieveAllMessages(TNetMessageCollection &collection) { return RetrieveAll(collection, true); }

// --- leaving -----------------------------------------------------------------------

void TNetIMAP4::Logout(bool notifyPeer, bool raiseIfNotConnected) {
    (void)notifyPeer;  // LOGOUT is the goodbye; there is no other to send
    if (FIOHandler && Connected()) {
        std::exception_ptr failure;
        if (FConnectionState != csUnexpectedlyDisconnected) {
            // A server that never answers the goodbye must not hold us.
            const int oldTimeout = FIOHandler->ReadTimeout;
            if (oldTimeout <= 0 || oldTimeout > LogoutTimeout) FIOHandler->ReadTimeout = LogoutTimeout;
            try {
                Command({Segment{"LOGOUT", false}}, {"BYE"}, true);
            } catch (const ENetConnClosedGracefully &) {
                // The server may close right after its BYE.
            } catch (...) {
                failure = std::current_exception();
            }
            if (FIOHandler) FIOHandler->ReadTimeout = oldTimeout;
        }
        ClosePlain();
        FConnectionState = csNonAuthenticated;
        FIMAPCapabilities->Clear();
        FHasIMAPCapabilities = false;
        if (failure) std::rethrow_exception(failure);
        return;
    }
    if (FIOHandler && FIOHandler->Opened()) ClosePlain();
    if (raiseIfNotConnected) ENetClosedSocket::Toss("Disconnected.");
}

void TNetIMAP4::Disconnect(bool notifyPeer) {
    if (!notifyPeer) {
        ClosePlain();
        FConnectionState = csNonAuthenticated;
        FIMAPCapabilities->Clear();
        FHasIMAPCapabilities = false;
        return;
    }
    try {
        Logout(notifyPeer, false);
    } catch (...) {
        // The session is closed either way; a failed goodbye changes nothing.
    }
}
