// The blocking IMAP4 client: log in, select a mailbox, count, fetch headers,
// flags, sizes and whole messages into TNetMessage, flag messages deleted,
// expunge and log out. Messages are addressed by their sequence number in
// the selected mailbox, or by their UID where the routine's name says so.
//
//     TNetIMAP4 *imap = NetCreate<TNetIMAP4>(owner);
//     imap->SetHost("mail.example.org");           // Port 143
//     imap->Username = "me"; imap->Password = "...";
//     // implicit TLS: imap->SetIOHandler(ssl); imap->SetUseTLS(utUseImplicitTLS);  // Port 993
//     imap->Connect(true);                          // reads the greeting, logs in
//     imap->SelectMailBox("INBOX");
//     for (int n = 1; n <= imap->MailBox()->TotalMsgs; ++n) imap->RetrieveHeaders(n, msg);
//     imap->DeleteMessage({3}); imap->ExpungeMailBox();
//     imap->Disconnect();
//
// The client never sends STARTTLS. It is a message client (NetMessageClient):
// fetched headers and messages land in TNetMessage through the message
// model's own parsing, bounded by MaxHeaderSize and MaxMessageSize.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "NetMessageClient.h"
#include "NetReplyIMAP4.h"
#include "NetSASL.h"

class TNetMessage;
class TNetIMAP4;

NET_EXCEPTION_CLASS(ENetNumberInvalid, ENetException);
NET_EXCEPTION_CLASS(ENetDisconnectedProbablyIdledOut, ENetException);
// The server refused the log-in (or greeted with BYE); the message is the
// server's own text.
NET_EXCEPTION_CLASS(ENetIMAP4LoginRefused, ENetReplyIMAP4Error);
// A user name, password or mailbox name that cannot be sent (CR, LF, NUL).
NET_EXCEPTION_CLASS(ENetIMAP4InvalidText, ENetException);
// The server refused a SELECT or a header fetch, or answered the fetch
// without the header; the message holds the server's own words where it
// gave some. The session is still in step: the next command may follow.
NET_EXCEPTION_CLASS(ENetIMAP4CommandFailed, ENetReplyError);

extern const char *const RSIMAP4ConnectionStateError;  // "Unable to execute command, wrong connection state;..."
extern const char *const RSIMAP4NumberInvalid;
extern const char *const RSIMAP4DisconnectedProbablyIdledOut;

enum TNetRetrieveOnSelect { rsDisabled, rsHeaders, rsMessages };
// Scoped, so that a unit can use the POP3 client's own atUserPass and atSASL
// beside it (the main window drives both clients).
enum class TNetIMAP4AuthenticationType { atUserPass, atSASL };
// Session states; the value is also the index of the name in messages.
enum TNetIMAP4ConnectionState { csAny = 0, csNonAuthenticated = 1, csAuthenticated = 2, csSelected = 3,
                                csUnexpectedlyDisconnected = 4 };

using TNetAlertEvent = std::function<void(TNetIMAP4 *sender, const std::string &alertText)>;

// "Any", "Non Authenticated", "Authenticated", "Selected"; "" otherwise.
std::string IMAP4ConnectionStateName(int state);

class TNetIMAP4 : public TNetMessageClient {
public:
    ~TNetIMAP4() override;
    const char *ClassName() const override { return "TNetIMAP4"; }
    void InitComponent() override;
    void Notification(TNetInitializerComponent *comp, TOperation operation) override;

    // --- published -----------------------------------------------------------
    TNetAlertEvent OnAlert;
    TNetRetrieveOnSelect RetrieveOnSelect = rsDisabled;
    char MailBoxSeparator = '/';
    std::string GreetingBanner;
    TNetIMAP4AuthenticationType AuthType = TNetIMAP4AuthenticationType::atUserPass;
    TNetSASLEntries *SASLMechanisms() const { return FSASLMechanisms.get(); }
    void SetSASLMechanisms(const TNetSASLEntries &value) { FSASLMechanisms->Assign(value); }
    // Kept for stored settings. Stale input before a command is discarded
    // without waiting, so a check does not pay a wait per command.
    int MilliSecsToWaitToClearBuffer = 10;
    TWorkEvent OnWorkForPart;
    TWorkBeginEvent OnWorkBeginForPart;
    TWorkEndEvent OnWorkEndForPart;

    // Bounds on what a server can make us read for one response: a literal
    // of a header fetch (MaxHeaderSize) or of a whole message
    // (MaxMessageSize), both of the message client, and of anything else.
    int64_t MaxOtherLiteralSize = int64_t(1) << 20;
    // Lines one command's answer may bring before its tagged line, literal
    // continuations included, and the bytes of the lines a command keeps.
    int MaxResponseLines = 1000000;
    int64_t MaxResponseSize = int64_t(64) << 20;
    // Messages per range fetch (RetrieveHeadersRange) of the callers that
    // read headers a range at a time; 1 asks for one message per exchange.
    int HeaderRangeSize = 250;
    // The longest wait for the answer to LOGOUT (milliseconds).
    int LogoutTimeout = 10000;
    // How long one read waits for the server unless the owner sets another
    // read time-out.
    static constexpr int DefaultReadTimeout = 60000;

    // --- state -----------------------------------------------------------------
    int ConnectionState() const { return FConnectionState; }
    TNetMailBox *MailBox() const { return FMailBox; }
    TStringList *IMAPCapabilities() const { return FIMAPCapabilities.get(); }
    bool HasIMAPCapabilities() const { return FHasIMAPCapabilities; }
    TNetIMAPLineStruct *LineStruct() const { return FLineStruct.get(); }
    TNetReplyIMAP4 *LastReply() const;
    // The tag of the last command sent ("C3").
    std::string LastTag() const { return "C" + std::to_string(FTagCounter); }

    // --- operations ----------------------------------------------------------------
    // "C" + the next counter value.
    std::string NextTag();
    // Reads the greeting, and logs in when autoLogin. True.
    bool Connect(bool autoLogin);
    void Connect() override { Connect(true); }
    void Login();
    bool QueryCapabilities(TStringList *list = nullptr);
    // True when selected. A refused SELECT raises ENetIMAP4CommandFailed;
    // whatever way it fails, no mailbox stays selected and MailBox() holds
    // no count (TotalMsgs 0), so nothing of another mailbox is taken for
    // this one's.
    bool SelectMailBox(const std::string &name);
    // The header of message number into msg (cleared first). True when it
    // came; a fetch the server refuses (NO, BAD) or answers without the
    // header raises ENetIMAP4CommandFailed, so an empty message is never
    // mistaken for a real one. It never returns false.
    bool RetrieveHeaders(int number, TNetMessage &msg);
    // The same, asking for the message's flags in the same FETCH (one
    // exchange where a check needs both): flags gets them, or stays empty
    // when the server sent none.
    bool RetrieveHeaders(int number, TNetMessage &msg, TNetMessageFlags &flags);
    // The whole message into msg. It marks the message \Seen on the server,
    // unless peek: then (BODY.PEEK[]) its flags stay as they were. False
    // when the server refused the fetch or sent no message.
    bool RetrieveMessage(int number, TNetMessage &msg, bool peek = false);
    // One message of a range fetch: its number, header, flags (empty when
    // the server sent none), UID (empty when none) and size (-1 when not
    // asked for or not given). Failure says why its header was not taken
    // (one larger than MaxHeaderSize); the message is empty then. False
    // stops the handling: the rest of the answer is read past.
    struct TRangeItem {
        int Number = 0;
        TNetMessageFlags Flags;
        std::string UID;
        int64_t Size = -1;
        std::string Failure;
    };
    using THeaderSink = std::function<bool(const TRangeItem &item, TNetMessage &msg)>;
    // The flags, UID (and with withSize the size) and header of messages
    // first..last in one FETCH (BODY.PEEK[HEADER]: nothing is marked read).
    // Each message goes to
    // sink as soon as its response is whole, so one header at a time is
    // held. Numbers the server gave no header for never reach the sink; a
    // header larger than MaxHeaderSize is read past unkept (up to
    // MaxMessageSize) and its message reaches the sink with Failure set, so
    // one such message never ends the range or the session.
    // The tagged answer's code ("OK", "NO", "BAD"); its text is in
    // LastTaggedText. A broken exchange ends the session and raises.
    std::string RetrieveHeadersRange(int first, int last, const THeaderSink &sink, bool withSize = false);
    // The same in two halves, so the server works on the next range while
    // the caller handles this one: SendHeadersRange writes the FETCH without
    // reading anything, ReadHeadersRange reads the answer to the oldest
    // range sent. Any other command reads past the answers still due first.
    void SendHeadersRange(int first, int last, bool withSize = false);
    std::string ReadHeadersRange(const THeaderSink &sink);
    int PendingRanges() const { return int(FPendingRanges.size()); }
    // The text of the last tagged answer after its code.
    const std::string &LastTaggedText() const { return FLastTaggedText; }
    // Flags the messages of these UIDs in one UID STORE: each is the
    // message it was when its UID was learnt, wherever it stands now. False,
    // with nothing sent, when one is no UID; false when the server refused.
    // Messages another client expunged meanwhile, which the server may tell
    // of in the answer, leave MailBox() as ExpungeMailBox does.
    bool StoreFlagsByUID(const std::vector<std::string> &uids, TNetStoreFlagsMethod method,
                         const TNetMessageFlags &flags);
    bool DeleteMessagesByUID(const std::vector<std::string> &uids);
    // Where the message of this UID stands now; 0 when it is gone (or uid
    // is no UID). Expunges told in the same answer are followed.
    int NumberOfUID(const std::string &uid);
    // Those of these UIDs whose messages the mailbox still holds, in the
    // order given, by one UID SEARCH; none, with nothing sent, when one is
    // no UID, and none when the server refused. Expunges told in the same
    // answer are followed.
    std::vector<std::string> ExistingUIDs(const std::vector<std::string> &uids);
    int64_t GetMessageSize(int number);
    // True when the message carries \Seen.
    bool GetMessageFlags(int number);
    // The message's flags into flags; false when the server gave none.
    bool RetrieveFlags(int number, TNetMessageFlags &flags);
    // The unique identifier of a message; empty when the server gave none.
    std::string GetUID(int number);
    bool StoreFlags(const std::vector<int> &numbers, TNetStoreFlagsMethod method, const TNetMessageFlags &flags);
    bool DeleteMessage(const std::vector<int> &numbers);
    // Removes the messages flagged \Deleted. Where the server offers UIDPLUS
    // only the messages this session flagged go ("UID EXPUNGE", 500 UIDs a
    // command), never those another client merely flagged.
    bool ExpungeMailBox();
    // The UIDs this session flagged \Deleted (by UID, or by number where the
    // server offers UIDPLUS) that no expunge has removed yet: a chunk of
    // ExpungeMailBox leaves it once the server answered it OK, and taking
    // the flag off again does too.
    const std::vector<std::string> &OwnDeletedUIDs() const { return FOwnDeletedUIDs; }
    bool RetrieveAllHeaders(TNetMessageCollection &collection);
    bool RetrieveAllMessages(TNetMessageCollection &collection);
    // Sends LOGOUT and closes. Not connected: ENetClosedSocket when raise.
    void Logout(bool notifyPeer = true, bool raiseIfNotConnected = false);
    // Logs out when connected and closes (even when the goodbye fails);
    // without notifyPeer it closes without a LOGOUT.
    void Disconnect(bool notifyPeer = true) override;

    // Sends a command (tag added) and reads its response into the reply;
    // expected: the data words the command answers with. The reply's code.
    std::string SendCommand(const std::string &command, const std::vector<std::string> &expected = {});

    bool SupportsTLS() override { return false; }

protected:
    explicit TNetIMAP4(TNetInitializerComponent *owner) : TNetMessageClient(owner) {}
    TNetReplyClass GetReplyClass() override;

private:
    friend class TNetIMAP4SASLLink;
    struct Segment {
        std::string Text;
        bool Literal = false;
    };

    // One untagged response as it is read: its first line (start), then
    // the line after each literal; literal is the size of the literal the
    // piece ends with, -1 for none. True when the handler read the
    // literal's bytes itself; the reader skips the others.
    using TUntaggedHandler = std::function<bool(const std::string &piece, bool start, int64_t literal)>;

    void CheckConnectionState(std::initializer_list<int> states);
    static void CheckNumber(int number);
    static bool IsBye(std::string_view line);
    static bool IsStatusWord(std::string_view word);
    void DrainStaleInput();
    void WriteLine(const std::string &text, bool lineEnd = true);
    // Drops stale input, then sends text behind a new tag; the tag.
    std::string StartCommand(const std::string &text);
    // Reads one line of an answer, bounded; turns an over-long line, or
    // more lines or bytes than MaxResponseLines and MaxResponseSize since
    // the answer began, into ENetReplyIMAP4Error and closes the session.
    std::string ReadResponseLine();
    // Reads (and drops) a literal of an untagged response.
    void SkipLiteral(int64_t size);
    // Reads one answer: each untagged response goes to onUntagged, and the
    // line that ends the answer is returned: the tagged line of tag, a
    // status line without a tag, or, with no tag, the greeting's status
    // response. A continuation request ends it only when continuation is
    // given (then set). An unexpected "* BYE" ends the session.
    std::string ReadResponse(const std::string &tag, const TUntaggedHandler &onUntagged, bool byeExpected,
                             bool *continuation = nullptr);
    // Parses an answer's lines into reply (the last reply by default) and
    // keeps the tagged line's text; the code. A malformed answer ends the
    // session.
    std::string TakeReply(const TStringList &lines, TNetReplyIMAP4 *reply = nullptr);
    // Sends the segments (text and literals, the tag in front) and reads
    // the answer; the line that ends it.
    std::string Exchange(const std::vector<Segment> &segments, const TUntaggedHandler &onUntagged, bool byeExpected);
    std::string Command(const std::vector<Segment> &segments, const std::vector<std::string> &expected,
                        bool byeExpected = false);
    // An argument as a quoted string, or a literal for 8-bit text; CR, LF
    // and NUL refused.
    static Segment Argument(const std::string &value, const char *what);
    // Fetches one item of a message; sink receives a literal of the item.
    // withFlags asks for FLAGS beside the item.
    bool FetchItem(int number, const std::string &item,
                   const std::function<void(int64_t size)> &sink, int64_t maxLiteral, bool withFlags = false);
    bool FetchItemInner(int number, const std::string &item,
                        const std::function<void(int64_t size)> &sink, int64_t maxLiteral, bool withFlags);
    bool FetchHeaders(int number, TNetMessage &msg, bool withFlags);
    // Runs f; anything that breaks off an exchange inside it ends the
    // session.
    template <class F>
    auto Guarded(F &&f) -> decltype(f());
    [[noreturn]] void Desynchronised(const std::string &why);
    [[noreturn]] void UnexpectedBye(const std::string &line);
    void ClosePlain();
    bool HasCapability(const std::string &word) const;
    // Remembers (or forgets, for sfRemove) the UIDs this session flagged
    // \Deleted, for an expunge limited to them.
    void NoteOwnDeletions(const std::vector<std::string> &uids, TNetStoreFlagsMethod method,
                          const TNetMessageFlags &flags);
    // Reads past a literal without keeping it; one larger than
    // MaxMessageSize ends the session.
    void DiscardLiteral(int64_t size);
    bool RetrieveAll(TNetMessageCollection &collection, bool whole);

    int FConnectionState = csNonAuthenticated;
    int FTagCounter = 0;
    int FResponseLines = 0;
    int64_t FResponseBytes = 0;
    TNetMailBox *FMailBox = nullptr;
    std::unique_ptr<TNetSASLEntries> FSASLMechanisms;
    std::unique_ptr<TStringList> FIMAPCapabilities;
    bool FHasIMAPCapabilities = false;
    std::unique_ptr<TNetIMAPLineStruct> FLineStruct;
    // UIDs this session flagged \Deleted since the last SELECT or expunge.
    std::vector<std::string> FOwnDeletedUIDs;
    std::string FLastTaggedText;
    // Range FETCHes sent and not yet read, oldest first; and headers of a
    // later one that the server sent while an earlier one was read.
    struct TPendingRange {
        std::string Tag;
        int First = 0, Last = 0;
    };
    struct TEarlyHeader {
        TRangeItem Item;
        std::string Header;
    };
    std::deque<TPendingRange> FPendingRanges;
    std::deque<TEarlyHeader> FEarlyHeaders;
    void DiscardPendingRanges();
};
