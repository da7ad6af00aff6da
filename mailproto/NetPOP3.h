// The POP3 client (RFC 1939, with CAPA and SASL of RFC 2449 and RFC 5034,
// and STLS of RFC 2595): log-in by USER/PASS, APOP or SASL, plain, implicit
// TLS or STLS; message count and sizes, header and whole-message fetches,
// deletions. Messages are addressed by their number in the session; where
// the server offers UIDL, a message's lasting identifier says which one it is.
//
//     TNetPOP3 *pop = NetCreate<TNetPOP3>(owner);
//     pop->SetHost(host); pop->SetPort(port);
//     pop->Username = user; pop->Password = password;
//     pop->Connect();                          // greeting, CAPA, log-in
//     int n = pop->GetMessageCount();
//     pop->RetrieveHeaders(1, msg);            // TOP 1 0
//     pop->Disconnect();                       // QUIT
//
// A refused command raises ENetReplyPOP3Error with the server's text. A
// log-in that fails in any way closes the connection before the exception
// leaves, so the client never stays "connected" without a session; so does
// a reply that cannot be read whole (too long, endless, or not in time).
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "NetMessageClient.h"
#include "NetReply.h"
#include "NetSASL.h"

enum TNetPOP3AuthenticationType { atUserPass, atAPOP, atSASL };

extern const char *const RSPOP3InvalidEnhancedCode;        // "Invalid Enhanced Code: "
extern const char *const RSPOP3ServerDoNotSupportAPOP;     // "Server do not support APOP (no timestamp)"
extern const char *const RSPOP3UnsafeCredentials;
extern const char *const RSPOP3SASLFailed;
extern const char *const RSPOP3AnswersDue;
extern const char *const RSPOP3DeletionsUnanswered;

// A reply with a code the caller did not accept; the message is the
// reply's text lines, each ended by CR LF.
class ENetReplyPOP3Error : public ENetReplyError {
public:
    explicit ENetReplyPOP3Error(std::string msg = std::string()) : ENetReplyError(std::move(msg)) {}
    ENetReplyPOP3Error(std::string code, std::string msg)
        : ENetReplyError(std::move(msg)), FReplyCode(std::move(code)) {}
    const char *ClassName() const override { return "ENetReplyPOP3Error"; }
    const std::string &ReplyCode() const { return FReplyCode; }

private:
    std::string FReplyCode;
};

NET_EXCEPTION_CLASS(ENetPOP3ReplyException, ENetException);
NET_EXCEPTION_CLASS(ENetPOP3ReplyInvalidEnhancedCode, ENetPOP3ReplyException);
NET_EXCEPTION_CLASS(ENetPOP3Exception, ENetException);
NET_EXCEPTION_CLASS(ENetDoesNotSupportAPOP, ENetPOP3Exception);
// A user name or password that would break the command line it is sent in
// (CR, LF or NUL), refused before anything is sent.
NET_EXCEPTION_CLASS(ENetPOP3UnsafeCredentials, ENetPOP3Exception);
// No SASL mechanism the server offers could log in.
NET_EXCEPTION_CLASS(ENetPOP3SASLFailed, ENetPOP3Exception);

// One server reply: "+OK", "-ERR" or "+" (a SASL challenge) and its text
// lines; a "-ERR" reply may carry a response code of RFC 2449 ("[IN-USE]").
class TNetReplyPOP3 : public TNetReply {
public:
    explicit TNetReplyPOP3(TNetReplies *collection = nullptr, TNetReplies *replyTexts = nullptr);
    const char *ClassName() const override { return "TNetReplyPOP3"; }

    static const std::vector<std::string> &ValidCodes();        // "+OK", "-ERR", "+"
    static const std::vector<std::string> &EnhancedCodeWords();  // "IN-USE", ...

    const std::string &EnhancedCode() const { return FEnhancedCode; }
    // Upper-cases and brackets the value; ENetPOP3ReplyInvalidEnhancedCode
    // unless it is one of the known words exactly. Empty clears it.
    void SetEnhancedCode(const std::string &value);
    // True when none of the lines read carried a valid code (the reply was
    // then taken as "-ERR"): the server broke the protocol.
    bool ProtocolError() const { return FProtocolError; }

    // 1-based position just past the code of a line (the separator's).
    static int CodeEnd(const std::string &line);
    // Index of the line's code in ValidCodes, -1 when it has none.
    static int CodeIndex(const std::string &line);
    // strict: one of the words exactly; loose: starts with one.
    static bool IsValidEnhancedCode(const std::string &value, bool strict);

    void AssignTo(TNetReply &dest) const override;
    bool CheckIfCodeIsValid(const std::string &code) override;
    TStringList GetFormattedReply() override;
    void SetFormattedReply(const TStringList &lines) override;
    bool IsLastLine(const std::string &line) override;
    [[noreturn]] void RaiseReplyError() override;
    void Clear() override;

private:
    std::string FEnhancedCode;
    bool FProtocolError = false;
};

class TNetPOP3 : public TNetMessageClient {
public:
    ~TNetPOP3() override;
    const char *ClassName() const override { return "TNetPOP3"; }
    void InitComponent() override;
    void Notification(TNetInitializerComponent *comp, TOperation operation) override;

    TNetPOP3AuthenticationType AuthType = atUserPass;
    // Connect ends with Login.
    bool AutoLogin = true;
    // Tried from the last entry to the first; the client owns the list.
    TNetSASLEntries *SASLMechanisms() const { return FSASLMechanisms.get(); }
    // Copies the entries (the mechanisms themselves are shared).
    void SetSASLMechanisms(const TNetSASLEntries &value) { FSASLMechanisms->Assign(value); }

    // From "<" through the first ">" of the last greeting, or empty.
    const std::string &APOPTimestamp() const { return FAPOPTimestamp; }
    bool HasAPOPTimestamp() const { return !FAPOPTimestamp.empty(); }
    bool HasCapabilities() const { return FHasCapabilities; }
    // How long one read waits for the server unless the owner sets another
    // read time-out.
    static constexpr int DefaultReadTimeout = 60000;
    // Lines a "CAPA" answer may have before it is refused.
    int MaxCapabilityLines = 1000;
    // Lines one status reply ("+OK-..." continued) may have.
    int MaxReplyLines = 100;

    // Opens the connection (TLS first for implicit TLS), reads the greeting,
    // asks for the capabilities and, with AutoLogin, logs in.
    void Connect() override;
    // STLS when the TLS mode asks for it, then the log-in of AuthType.
    virtual void Login();
    // "CAPA": true when the server answered "+OK".
    bool QueryCapabilities();
    // "STAT": the number of messages.
    int GetMessageCount();
    // "LIST n": the size in bytes, -1 when the server gives none.
    int GetMessageSize(int msgNum);
    // "TOP n 0": the header lines into msg (cleared first).
    bool RetrieveHeaders(int msgNum, TNetMessage &msg);
    // "RETR n": header and body into msg; false (msg untouched) on "-ERR".
    bool RetrieveMessage(int msgNum, TNetMessage &msg);
    // "DELE n": takes effect at "QUIT". False when the server refuses it
    // ("-ERR"); the session goes on. A broken connection or an answer that
    // is no reply raises.
    bool DeleteMessage(int msgNum);
    // "RSET": undoes the deletions of this session.
    bool ResetDeletions();
    // "QUIT"; Disconnect closes the connection even when this fails.
    // Replies still due to commands sent ahead are read (or the connection
    // dropped) first, so the goodbye gets its own. A DELE sent ahead whose
    // answer nobody read has no record with the caller: then no QUIT goes
    // out (ENetPOP3Exception), so the server deletes nothing.
    void DisconnectNotifyPeer() override;
    // QUIT went out on this connection: from then on the server may have
    // carried out the deletions, whether or not its answer arrives.
    bool QuitSent() const { return FQuitSent; }

    // --- lasting identifiers (UIDL, RFC 1939) ------------------------------
    // The capabilities hold "UIDL".
    bool SupportsUIDL();
    // "UIDL n": the message's identifier; empty when the server refuses
    // (no such message) or gives none that is valid.
    std::string GetUID(int msgNum);
    // "UIDL": every message's identifier by its number; false when the
    // server refuses. Invalid identifiers, and any two messages share, are
    // left out: those messages have no lasting identity.
    bool GetUIDs(std::map<int, std::string> &uids);
    // 1 to 70 characters from "!" to "~".
    static bool IsValidUID(const std::string &uid);

    // --- commands sent ahead (RFC 2449 PIPELINING) -------------------------
    // The capabilities hold "PIPELINING".
    bool SupportsPipelining();
    // The most commands sent ahead at once, and the bytes their answers may
    // bring at most (estimated by the largest header read so far): a server
    // that answers fast never makes us hold more than this in its socket.
    int PipelineDepth = 64;
    int64_t PipelineBytes = int64_t(256) << 10;
    // How many commands may be sent ahead now: 1 without PIPELINING, so a
    // server that does not offer it gets one command at a time.
    int PipelineWindow();
    // Writes the commands in one go without reading an answer. Each must be
    // answered in order by ReadHeadersReply ("TOP n 0"), ReadStatusReply
    // (DELE and other one-line answers) or DiscardPendingReplies. No other
    // command goes out while answers are due (ENetPOP3Exception): it would
    // read one of them as its own.
    void SendAhead(const std::vector<std::string> &commands);
    // The answer to the oldest "TOP n 0" sent ahead, into msg (cleared
    // first). A "-ERR" raises ENetReplyPOP3Error; the session stays in step.
    void ReadHeadersReply(TNetMessage &msg);
    // The answer to the oldest one-line command sent ahead; its code ("+OK"
    // or "-ERR"). An answer that is no reply at all raises.
    std::string ReadStatusReply();
    // The answer to the oldest "LIST n" sent ahead: the size in bytes, -1
    // when the server refused or gave none.
    int64_t ReadListReply();
    // Reads and drops the oldest answer due, whatever it says; closes the
    // connection when that fails.
    void DiscardReply();
    // Answers still due to commands sent ahead, and those of them to DELEs.
    int PendingReplies() const { return int(FPending.size()); }
    int PendingDeletions() const;
    // Reads and drops every answer still due; closes the connection when
    // that fails, so nothing is left out of step.
    void DiscardPendingReplies();
    // The capabilities hold "STLS".
    bool SupportsTLS() override;

protected:
    explicit TNetPOP3(TNetInitializerComponent *owner) : TNetMessageClient(owner) {}
    TNetReplyClass GetReplyClass() override;
    // Refuses an ordinary command while answers to commands sent ahead are due.
    void PrepareCmd(std::string &cmd) override;
    // Reads one status reply, bounded in lines and bytes.
    void GetInternalResponse() override;
    TNetReplyPOP3 *Reply() const { return static_cast<TNetReplyPOP3 *>(FLastCmdResult.get()); }
    void CheckCredentials() const;
    // After a failed log-in: says goodbye when the session is still in step
    // (the server refused in good form), then closes in any case.
    void CloseAfterFailedLogin(std::exception_ptr failure);
    void DoLogin();

private:
    std::unique_ptr<TNetSASLEntries> FSASLMechanisms;
    // One entry per command sent ahead, by the kind of its answer.
    enum TPendingAnswer {
        paStatus,    // one status line
        paListed,    // a status line, then a dot-terminated list ("TOP", "RETR")
        paDeletion,  // the status line of a "DELE"
    };
    std::deque<TPendingAnswer> FPending;
    int64_t FLargestHeader = 0;
    std::string FAPOPTimestamp;
    bool FHasCapabilities = false;
    bool FQuitSent = false;
};
