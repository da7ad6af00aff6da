#include "NetPOP3.h"

#include <algorithm>

#include "NetHashMessageDigest.h"

const char *const RSPOP3InvalidEnhancedCode = "Invalid Enhanced Code: ";
const char *const RSPOP3ServerDoNotSupportAPOP = "Server do not support APOP (no timestamp)";
const char *const RSPOP3UnsafeCredentials = "User name or password holds a line break or NUL character.";
const char *const RSPOP3SASLFailed = "No SASL mechanism could log in.";
const char *const RSPOP3AnswersDue = "Answers to commands sent ahead are still due.";
const char *const RSPOP3DeletionsUnanswered =
    "The answer to a deletion was never read: the connection was closed without QUIT, so nothing was deleted.";

// ---------------------------------------------------------------------------
// Replies

TNetReplyPOP3::TNetReplyPOP3(TNetReplies *collection, TNetReplies *replyTexts)
    : TNetReply(collection, replyTexts) {
    FCode = "+OK";
}

const std::vector<std::string> &TNetReplyPOP3::ValidCodes() {
    static const std::vector<std::string> codes{"+OK", "-ERR", "+"};
    return codes;
}

const std::vector<std::string> &TNetReplyPOP3::EnhancedCodeWords() {
    static const std::vector<std::string> words{"IN-USE", "LOGIN-DELAY", "SYS/PERM", "SYS/TEMP", "AUTH"};
    return words;
}

int TNetReplyPOP3::CodeEnd(const std::string &line) {
    // "-ERR" starts with the character that otherwise marks a continued
    // line, so a leading "-" is left out of the search.
    std::string_view s(line);
    const bool dropped = !s.empty() && s[0] == '-';
    if (dropped) s.remove_prefix(1);
    size_t blank = s.find(' ');
    size_t dash = s.find('-');
    int end;
    if (blank != std::string_view::npos)
        end = int(dash != std::string_view::npos && dash < blank ? dash : blank) + 1;
    else if (dash != std::string_view::npos)
        end = int(dash) + 1;
    else
        end = int(s.size()) + 1;
    return dropped ? end + 1 : end;
}

int TNetReplyPOP3::CodeIndex(const std::string &line) {
    std::string code = Copy(line, 1, CodeEnd(line) - 1);
    const auto &codes = ValidCodes();
    for (size_t i = 0; i < codes.size(); ++i)
        if (SameText(code, codes[i])) return int(i);
    return -1;
}

bool TNetReplyPOP3::IsValidEnhancedCode(const std::string &value, bool strict) {
    if (Trim(value).empty()) return true;
    if (value.size() < 2 || value.front() != '[' || value.back() != ']') return false;
    std::string inner = value.substr(1, value.find(']') - 1);
    for (const auto &w : EnhancedCodeWords()) {
        if (strict ? SameText(inner, w) : (inner.size() >= w.size() && SameText(inner.substr(0, w.size()), w)))
            return true;
    }
    return false;
}

void TNetReplyPOP3::SetEnhancedCode(const std::string &value) {
    if (value.empty()) {
        FEnhancedCode.clear();
        return;
    }
    std::string v = UpperCase(value);
    if (v.front() != '[') v.insert(0, "[");
    if (v.back() != ']') v += "]";
    if (!IsValidEnhancedCode(v, true)) ENetPOP3ReplyInvalidEnhancedCode::Toss(RSPOP3InvalidEnhancedCode + value);
    FEnhancedCode = v;
}

void TNetReplyPOP3::Clear() {
    TNetReply::Clear();
    FEnhancedCode.clear();
    FProtocolError = false;
}

void TNetReplyPOP3::AssignTo(TNetReply &dest) const {
    if (auto *d = dynamic_cast<TNetReplyPOP3 *>(&dest)) {
        d->SetCode(FCode);
        d->FEnhancedCode = FEnhancedCode;
        d->FProtocolError = FProtocolError;
        d->Text.Assign(Text);
        return;
    }
    TNetReply::AssignTo(dest);
}

bool TNetReplyPOP3::CheckIfCodeIsValid(const std::string &code) {
    if (Trim(code).empty()) return true;
    for (const auto &c : ValidCodes())
        if (SameText(code, c)) return true;
    return false;
}

TStringList TNetReplyPOP3::GetFormattedReply() {
    TStringList out;
    if (FCode.empty()) {
        out.Assign(Text);
        return out;
    }
    if (Text.Count() == 0) {
        out.Add(FCode);
        return out;
    }
    const std::string enhanced =
        FCode == "-ERR" && !FEnhancedCode.empty() ? FEnhancedCode + " " : std::string();
    for (int i = 0; i < Text.Count(); ++i)
        out.Add(FCode + (i + 1 < Text.Count() ? "-" : " ") + enhanced + Text[i]);
    return out;
}

void TNetReplyPOP3::SetFormattedReply(const TStringList &lines) {
    Clear();
    if (lines.Count() == 0) return;
    const auto &codes = ValidCodes();
    int index = CodeIndex(lines[0]);
    if (index >= 0) FCode = codes[size_t(index)];
    bool found = index >= 0;
    for (const std::string &line : lines) {
        if (!found) {
            index = CodeIndex(line);
            if (index >= 0) {
                FCode = codes[size_t(index)];
                found = true;
            }
        }
        std::string text = Copy(line, CodeEnd(line) + 1);
        if (FCode == "-ERR") {
            std::string rest = text;
            std::string word = Fetch(rest, " ");
            if (!word.empty() && IsValidEnhancedCode(word, false)) {
                FEnhancedCode = UpperCase(word);
                text = rest;
            }
        }
        Text.Add(std::move(text));
    }
    if (!found) {
        FCode = "-ERR";
        FProtocolError = true;
    }
}

bool TNetReplyPOP3::IsLastLine(const std::string &line) {
    int p = CodeEnd(line);
    if (p < 1) return false;
    if (p > int(line.size())) return true;
    return line[size_t(p) - 1] != '-';
}

void TNetReplyPOP3::RaiseReplyError() { throw ENetReplyPOP3Error(FCode, Text.Text()); }

// ---------------------------------------------------------------------------
// Client

TNetPOP3::~TNetPOP3() { FSASLMechanisms.reset(); }

void TNetPOP3::InitComponent() {
    TNetMessageClient::InitComponent();
    AutoLogin = true;
    FSASLMechanisms = std::make_unique<TNetSASLEntries>(this);
    FRegularProtPort = 110;
    FImplicitTLSProtPort = 995;
    SetPort(110);
    AuthType = atUserPass;
    // Without a limit a server that accepts and then says nothing would hold
    // the check (and every later one) for ever.
    SetReadTimeout(DefaultReadTimeout);
}

void TNetPOP3::Notification(TNetInitializerComponent *comp, TOperation operation) {
    if (operation == opRemove && FSASLMechanisms) FSASLMechanisms->RemoveByComp(comp);
    TNetMessageClient::Notification(comp, operation);
}

TNetReplyClass TNetPOP3::GetReplyClass() {
    return [] { return std::unique_ptr<TNetReply>(new TNetReplyPOP3()); };
}

void TNetPOP3::PrepareCmd(std::string &) {
    if (!FPending.empty()) ENetPOP3Exception::Toss(RSPOP3AnswersDue);
}

void TNetPOP3::GetInternalResponse() {
    CheckConnected();
    TStringList lines;
    try {
        // Blank lines before a reply are skipped, but not without end: what
        // is left then is no reply at all.
        lines.Add(FIOHandler->ReadLnWait(MaxReplyLines));
        int64_t budget = MaxHeaderSize;
        while (!Reply()->IsLastLine(lines[lines.Count() - 1])) {
            // POP3 has no multi-line status replies of its own: a server
            // that keeps continuing one is cut off.
            if (lines.Count() >= MaxReplyLines)
                ENetMaxCaptureLineExceeded::Toss("Maximum number of line allowed exceeded");
            lines.Add(ReadAnswerLine(budget, "Reply", MaxHeaderSize));
        }
    } catch (...) {
        // The rest of this reply (or a reply still on its way) would be
        // read as the answer to the next command: the session is over.
        DropConnection();
        throw;
    }
    FLastCmdResult->SetFormattedReply(lines);
    // A line with no status at all may be the first of an answer nobody
    // asked for: its other lines could pass as the replies to the next
    // commands ("+OK" to a DELE that never happened).
    if (Reply()->ProtocolError()) DropConnection();
}

bool TNetPOP3::SupportsTLS() { return Capabilities()->IndexOfText("STLS") >= 0; }

void TNetPOP3::CheckCredentials() const {
    // Sent as they are, a line break would end the command and start
    // another one of the user's (or an attacker's) choosing.
    auto unsafe = [](const std::string &s) { return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; };
    if (unsafe(Username) || unsafe(Password)) ENetPOP3UnsafeCredentials::Toss(RSPOP3UnsafeCredentials);
}

void TNetPOP3::CloseAfterFailedLogin(std::exception_ptr failure) {
    bool inStep = false;
    try {
        std::rethrow_exception(failure);
    } catch (const ENetReplyPOP3Error &) {
        inStep = !Reply()->ProtocolError();
    } catch (const ENetPOP3Exception &) {
        inStep = true;
    } catch (const ENetSASLException &) {
        inStep = true;
    } catch (...) {
    }
    try {
        Disconnect(inStep);
    } catch (...) {
        DropConnection();
    }
}

void TNetPOP3::Connect() {
    FPending.clear();
    FQuitSent = false;
    FLargestHeader = 0;
    FAPOPTimestamp.clear();
    FHasCapabilities = false;
    Capabilities()->Clear();
    if (AutoLogin && AuthType != atSASL) CheckCredentials();
    TNetMessageClient::Connect();
    try {
        GetResponse("+OK");
        // The timestamp is "<" through the first ">" after it.
        std::string line = Reply()->Text.Count() > 0 ? Reply()->Text[0] : std::string();
        int lt = Pos("<", line);
        if (lt > 0) {
            line = Copy(line, lt);
            int gt = Pos(">", line);
            FAPOPTimestamp = gt > 0 ? Copy(line, 1, gt) : std::string();
        }
        QueryCapabilities();
    } catch (...) {
        // A greeting refused or garbled: the session never started.
        DropConnection();
        throw;
    }
    if (AutoLogin) Login();
}

void TNetPOP3::Login() {
    try {
        DoLogin();
    } catch (...) {
        CloseAfterFailedLogin(std::current_exception());
        throw;
    }
}

void TNetPOP3::DoLogin() {
    if (AuthType != atSASL) CheckCredentials();
    if (FUseTLS == utUseRequireTLS || FUseTLS == utUseExplicitTLS) {
        if (!SupportsTLS()) {
            ProcessTLSNotAvail();
        } else if (SendCmdExpectText("STLS", "") == "+OK") {
            // Bytes that arrived in plain text after the "+OK" were never
            // protected: they must not be read as if they came through TLS.
            if (FIOHandler && FIOHandler->InputBuffer()) FIOHandler->InputBuffer()->Clear();
            TLSHandshake();
            // What the server offered before TLS may have been changed on
            // the way (RFC 2595): ask again.
            QueryCapabilities();
        } else {
            ProcessTLSNegCmdFailed();
        }
    }
    switch (AuthType) {
    case atUserPass:
        SendCmdExpectText("USER " + Username, "+OK");
        SendCmdExpectText("PASS " + Password, "+OK");
        break;
    case atAPOP: {
        if (!HasAPOPTimestamp()) ENetDoesNotSupportAPOP::Toss(RSPOP3ServerDoNotSupportAPOP);
        TNetHashMessageDigest5 md5;
        std::string digest = NetHashToLowerHex(md5.HashValue(FAPOPTimestamp + Password));
        SendCmdExpectText("APOP " + Username + " " + digest, "+OK");
        break;
    }
    case atSASL:
        if (FSASLMechanisms->Count() == 0) ENetSASLMechNeeded::Toss(RSSASLRequired);
        if (!FSASLMechanisms->LoginWithSASL("AUTH", {"+OK"}, {"+"}, this, Capabilities(), "SASL")) {
            // Going on would leave a session that refuses every command.
            if (Reply()->Code() == "-ERR") Reply()->RaiseReplyError();
            ENetPOP3SASLFailed::Toss(RSPOP3SASLFailed);
        }
        break;
    }
}

bool TNetPOP3::QueryCapabilities() {
    Capabilities()->Clear();
    FHasCapabilities = false;
    bool ok = SendCmdExpectText("CAPA", "") == "+OK";
    if (ok) {
        int64_t budget = MaxHeaderSize;
        try {
            for (;;) {
                std::string line = ReadAnswerLine(budget, "Capability list", MaxHeaderSize);
                if (line == ".") break;
                if (Capabilities()->Count() >= MaxCapabilityLines)
                    ENetMaxCaptureLineExceeded::Toss("Maximum number of line allowed exceeded");
                if (line.size() > 1 && line[0] == '.') line.erase(0, 1);
                Capabilities()->Add(std::move(line));
            }
        } catch (...) {
            // The rest of the list would be read as the next replies.
            Capabilities()->Clear();
            DropConnection();
            throw;
        }
    }
    FHasCapabilities = Capabilities()->Count() > 0;
    return ok;
}

int TNetPOP3::GetMessageCount() {
    SendCmdExpectText("STAT", "+OK");
    std::string line = Reply()->Text.Count() > 0 ? Trim(Reply()->Text[0]) : std::string();
    if (line.empty()) return 0;
    int blank = Pos(" ", line);
    return StrToInt(Trim(blank > 0 ? Copy(line, 1, blank - 1) : std::string()));
}

int TNetPOP3::GetMessageSize(int msgNum) {
    SendCmdExpectText("LIST " + IntToStr(msgNum), "+OK");
    std::string line = Reply()->Text.Count() > 0 ? Reply()->Text[0] : std::string();
    Fetch(line, " ");
    std::string size = Fetch(line, " ");
    return StrToIntDef(size, -1);
}

bool TNetPOP3::RetrieveHeaders(int msgNum, TNetMessage &msg) {
    msg.Clear();
    SendCmdExpectText("TOP " + IntToStr(msgNum) + " 0", "+OK");
    ReceiveHeader(msg, ".");
    return true;
}

bool TNetPOP3::RetrieveMessage(int msgNum, TNetMessage &msg) {
    bool ok = SendCmdExpectText("RETR " + IntToStr(msgNum), "") == "+OK";
    if (ok) {
        msg.Clear();
        if (ReceiveHeader(msg, std::string()).empty()) ReceiveBody(msg, ".");
    }
    return ok;
}

bool TNetPOP3::DeleteMessage(int msgNum) {
    // A refusal ("-ERR message 3 already deleted") leaves the session in
    // step; only an answer that was no reply at all ends it (and raises).
    SendCmdExpectText("DELE " + IntToStr(msgNum), "");
    if (Reply()->ProtocolError()) Reply()->RaiseReplyError();
    return Reply()->Code() == "+OK";
}

bool TNetPOP3::ResetDeletions() { return SendCmdExpectText("RSET", "") == "+OK"; }

void TNetPOP3::DisconnectNotifyPeer() {
    TNetMessageClient::DisconnectNotifyPeer();
    if (PendingDeletions() > 0) {
        FPending.clear();
        ENetPOP3Exception::Toss(RSPOP3DeletionsUnanswered);
    }
    if (!FPending.empty()) {
        DiscardPendingReplies();
        CheckConnected();
    }
    // A write that fails has not handed the whole command over: the server
    // never saw a QUIT.
    FIOHandler->WriteLn("QUIT");
    FQuitSent = true;
    GetResponse("+OK");
}

// ---------------------------------------------------------------------------
// Lasting identifiers

bool TNetPOP3::SupportsUIDL() { return Capabilities()->IndexOfText("UIDL") >= 0; }

bool TNetPOP3::IsValidUID(const std::string &uid) {
    if (uid.empty() || uid.size() > 70) return false;
    for (unsigned char c : uid)
        if (c < 0x21 || c > 0x7E) return false;
    return true;
}

namespace {
// "n uid" of a UIDL answer: the identifier when the line is one for n (any
// number with n = 0), else empty.
std::string UIDOfLine(std::string line, int &n) {
    const int want = n;
    n = StrToIntDef(Trim(Fetch(line, " ")), 0);
    std::string uid = Trim(line);
    if (n < 1 || (want > 0 && n != want) || !TNetPOP3::IsValidUID(uid)) return std::string();
    return uid;
}
}  // namespace

std::string TNetPOP3::GetUID(int msgNum) {
    SendCmdExpectText("UIDL " + IntToStr(msgNum), "");
    if (Reply()->ProtocolError()) Reply()->RaiseReplyError();
    if (Reply()->Code() != "+OK" || Reply()->Text.Count() == 0) return std::string();
    int n = msgNum;
    return UIDOfLine(Reply()->Text[0], n);
}

bool TNetPOP3::GetUIDs(std::map<int, std::string> &uids) {
    uids.clear();
    if (SendCmdExpectText("UIDL", "") != "+OK") {
        if (Reply()->ProtocolError()) Reply()->RaiseReplyError();
        return false;
    }
    std::map<int, std::string> found;
    std::map<std::string, int> owner;  // which number gave each identifier
    int64_t budget = MaxMessageSize;
    try {
        for (;;) {
            std::string line = ReadAnswerLine(budget, "Unique-identifier list", MaxMessageSize);
            if (line == ".") break;
            if (line.size() > 1 && line[0] == '.') line.erase(0, 1);
            int n = 0;
            std::string uid = UIDOfLine(line, n);
            if (uid.empty() || found.count(n)) continue;
            // An identifier two messages share tells neither apart.
            auto [at, fresh] = owner.emplace(uid, n);
            if (!fresh) {
                found[at->second].clear();
                continue;
            }
            found.emplace(n, std::move(uid));
        }
    } catch (...) {
        // The rest of the list would be read as the next replies.
        DropConnection();
        throw;
    }
    for (auto &[n, uid] : found)
        if (!uid.empty()) uids.emplace(n, std::move(uid));
    return true;
}

// ---------------------------------------------------------------------------
// Commands sent ahead

bool TNetPOP3::SupportsPipelining() { return Capabilities()->IndexOfText("PIPELINING") >= 0; }

int TNetPOP3::PipelineWindow() {
    if (!SupportsPipelining() || PipelineDepth <= 1) return 1;
    // Until a header has been seen, guess a small one.
    const int64_t perHeader = std::max<int64_t>(FLargestHeader, 4096);
    const int64_t byBytes = PipelineBytes / perHeader;
    return int(std::max<int64_t>(1, std::min<int64_t>(PipelineDepth, byBytes)));
}

void TNetPOP3::SendAhead(const std::vector<std::string> &commands) {
    CheckConnected();
    if (commands.empty()) return;
    std::string text;
    for (const std::string &c : commands) {
        // A line break inside would add a command whose answer nobody reads.
        if (c.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            ENetPOP3Exception::Toss("A command must not hold CR, LF or NUL characters.");
        text += c;
        text += "\r\n";
    }
    for (const std::string &c : commands)
        FPending.push_back(StartsText("TOP ", c) || StartsText("RETR ", c) ? paListed
                           : StartsText("DELE ", c)                        ? paDeletion
                                                                           : paStatus);
    try {
        FIOHandler->Write(text);
    } catch (...) {
        FPending.clear();
        DropConnection();
        throw;
    }
}

void TNetPOP3::ReadHeadersReply(TNetMessage &msg) {
    CheckConnected();
    if (FPending.empty() || FPending.front() != paListed) ENetPOP3Exception::Toss("No header answer is due.");
    FPending.pop_front();
    msg.Clear();
    try {
        GetInternalResponse();
    } catch (...) {
        FPending.clear();  // the connection is gone
        throw;
    }
    if (Reply()->Code() != "+OK") {
        if (Reply()->ProtocolError()) FPending.clear();
        Reply()->RaiseReplyError();
    }
    try {
        ReceiveHeader(msg, ".");
    } catch (...) {
        if (!Connected()) FPending.clear();
        throw;
    }
    int64_t size = 0;
    for (const std::string &line : msg.Headers.Items()) size += int64_t(line.size()) + 2;
    FLargestHeader = std::max(FLargestHeader, size);
}

std::string TNetPOP3::ReadStatusReply() {
    CheckConnected();
    if (FPending.empty() || FPending.front() == paListed) ENetPOP3Exception::Toss("No status answer is due.");
    FPending.pop_front();
    try {
        GetInternalResponse();
    } catch (...) {
        FPending.clear();
        throw;
    }
    if (Reply()->ProtocolError()) {
        FPending.clear();
        Reply()->RaiseReplyError();
    }
    return Reply()->Code();
}

int64_t TNetPOP3::ReadListReply() {
    if (ReadStatusReply() != "+OK") return -1;
    std::string line = Reply()->Text.Count() > 0 ? Reply()->Text[0] : std::string();
    Fetch(line, " ");
    int64_t size;
    return TryStrToInt64(Trim(Fetch(line, " ")), size) && size >= 0 ? size : -1;
}

void TNetPOP3::DiscardReply() {
    if (FPending.empty()) return;
    try {
        if (!Connected()) {
            FPending.clear();
            return;
        }
        const bool listed = FPending.front() == paListed;
        FPending.pop_front();
        GetInternalResponse();
        if (Reply()->ProtocolError()) ENetPOP3Exception::Toss("The server broke the protocol.");
        if (listed && Reply()->Code() == "+OK") DiscardRestOfAnswer(".");
    } catch (...) {
        FPending.clear();
        DropConnection();
        throw;
    }
}

int TNetPOP3::PendingDeletions() const {
    return int(std::count(FPending.begin(), FPending.end(), paDeletion));
}

void TNetPOP3::DiscardPendingReplies() {
    try {
        while (!FPending.empty()) DiscardReply();
    } catch (...) {
        // DiscardReply has dropped the connection and what was pending.
    }
}
