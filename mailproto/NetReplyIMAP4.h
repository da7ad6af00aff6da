// IMAP4 responses and mailbox state: the reply object built from a
// command's response lines, the selected mailbox, the record of one FETCH
// response, message flags, modified UTF-7 mailbox names, the collection of
// fetched messages and the client's keyword tables.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Classes.h"
#include "NetComponent.h"
#include "NetException.h"
#include "NetReply.h"

class TNetMessage;

NET_EXCEPTION_CLASS(ENetReplyIMAP4Error, ENetReplyError);

// --- keyword tables -------------------------------------------------------

enum TNetIMAP4Commands {
    cmdCAPABILITY, cmdNOOP, cmdLOGOUT, cmdAUTHENTICATE, cmdLOGIN, cmdSELECT, cmdEXAMINE, cmdCREATE,
    cmdDELETE, cmdRENAME, cmdSUBSCRIBE, cmdUNSUBSCRIBE, cmdLIST, cmdLSUB, cmdSTATUS, cmdAPPEND,
    cmdCHECK, cmdCLOSE, cmdEXPUNGE, cmdSEARCH, cmdFETCH, cmdSTORE, cmdCOPY, cmdUID, cmdXCmd
};
extern const char *const IMAP4Commands[25];

enum TNetIMAP4FetchDataItem {
    fdAll, fdBody, fdBodyExtensible, fdBodyPeek, fdBodyStructure, fdEnvelope, fdFast, fdFlags, fdFull,
    fdInternalDate, fdRFC822, fdRFC822Header, fdRFC822Size, fdRFC822Text, fdHeader, fdUID
};
extern const char *const IMAP4FetchDataItem[16];
extern const char *const IMAP4SearchKeys[35];

enum TNetIMAP4StoreDataItem {
    sdReplace, sdReplaceSilent, sdAdd, sdAddSilent, sdRemove, sdRemoveSilent
};
extern const char *const IMAP4StoreDataItem[6];
extern const char *const IMAP4StatusDataItem[5];

// How StoreFlags changes a message's flags.
enum TNetStoreFlagsMethod { sfReplace, sfAdd, sfRemove };

// --- message flags ----------------------------------------------------------

enum TNetMessageFlag { mfAnswered, mfFlagged, mfDeleted, mfDraft, mfSeen, mfRecent };
extern const char *const MessageFlagNames[6];  // "\Answered" .. "\Recent"

// A set of TNetMessageFlag.
class TNetMessageFlags {
public:
    TNetMessageFlags() = default;
    TNetMessageFlags(std::initializer_list<TNetMessageFlag> flags) {
        for (TNetMessageFlag f : flags) Include(f);
    }
    bool Has(TNetMessageFlag f) const { return (FBits >> unsigned(f)) & 1u; }
    void Include(TNetMessageFlag f) { FBits = uint8_t(FBits | (1u << unsigned(f))); }
    void Exclude(TNetMessageFlag f) { FBits = uint8_t(FBits & ~(1u << unsigned(f))); }
    bool Empty() const { return FBits == 0; }
    void Clear() { FBits = 0; }
    bool operator==(const TNetMessageFlags &o) const { return FBits == o.FBits; }

private:
    uint8_t FBits = 0;
};

// The words of a text that name one of the six flags (any case); others are
// ignored.
TNetMessageFlags StrToMessageFlags(std::string_view text);
// The names of the set flags in table order, joined by single blanks.
std::string MessageFlagsToStr(const TNetMessageFlags &flags);

// --- the reply ----------------------------------------------------------------

class TNetReplyIMAP4 : public TNetReply {
public:
    explicit TNetReplyIMAP4(TNetReplies *collection = nullptr, TNetReplies *replyTexts = nullptr);
    const char *ClassName() const override { return "TNetReplyIMAP4"; }

    // "*", "C" + digits, or empty.
    std::string Tag;
    // Lines moved out of Text: the text of a tagged final line, and data
    // lines that the command did not expect.
    TStringList Extra;

    // One of "OK", "NO", "BAD", "PREAUTH", "BYE", "+" (any case), or blank.
    bool CheckIfCodeIsValid(const std::string &code) override;
    TStringList GetFormattedReply() override;  // always empty
    // Parses the lines of one response; the last line gives the code.
    // Raises ENetReplyIMAP4Error for anything malformed.
    void SetFormattedReply(const TStringList &lines) override;
    void Clear() override;
    [[noreturn]] void RaiseReplyError() override;

    // Keeps in Text only the lines whose response word is one of expected
    // (exact case); the others go to Extra, empty ones are dropped. The
    // response word is the first word, or the second after a number.
    void SortByExpected(const std::vector<std::string> &expected);

    // A word is a tag: "C" and at least one digit, nothing else.
    static bool IsTag(std::string_view word);
};

// --- the message collection ---------------------------------------------------

class TNetMessageItem {
public:
    TNetMessageItem();
    ~TNetMessageItem();
    TNetMessageItem(const TNetMessageItem &) = delete;
    TNetMessageItem &operator=(const TNetMessageItem &) = delete;
    TNetMessage &Msg() { return *FMsg; }

private:
    TNetMessage *FMsg;
};

class TNetMessageCollection {
public:
    int Count() const { return int(FItems.size()); }
    // An index outside the collection raises EListError.
    TNetMessageItem &Items(int index);
    TNetMessageItem &Add();
    void Clear() { FItems.clear(); }

private:
    std::vector<std::unique_ptr<TNetMessageItem>> FItems;
};

// --- the mailbox ------------------------------------------------------------------

class TNetMailBox : public TNetInitializerComponent {
public:
    const char *ClassName() const override { return "TNetMailBox"; }
    void InitComponent() override;

    std::string Name;
    int TotalMsgs = 0;
    int RecentMsgs = 0;
    int FirstUnseenMsg = 0;
    std::string UIDValidity;
    std::string UIDNext;
    TNetMessageFlags Flags;
    TNetMessageFlags ChangeableFlags;  // PERMANENTFLAGS
    bool ReadWrite = true;
    uint8_t State = 1;
    std::vector<int> DeletedMsgs;   // numbers the server reported expunged
    std::vector<int> SearchResult;  // kept for callers; nothing fills it
    TNetMessageCollection Messages;

    void Clear();

protected:
    explicit TNetMailBox(TNetInitializerComponent *owner) : TNetInitializerComponent(owner) {}
};

extern const char *const MailBoxAttributeNames[4];  // "\Noinferiors" .. "\Unmarked"

// Fills a cleared mailbox from the lines of a SELECT response (data lines
// without their "*", and the text of the tagged line). Keywords count only
// as words and response codes: "FLAGS" inside "[PERMANENTFLAGS" or "RECENT"
// inside "\Recent" do not. An "[ALERT]" line is passed to onAlert.
void ParseSelectResponse(TNetMailBox &mailbox, const TStringList &lines,
                         const std::function<void(const std::string &)> &onAlert = {});

// Records the "n EXPUNGE" lines of a response in the mailbox (each one
// lowers the message count); "n EXISTS" lines set the count.
void ParseExpungeResponse(TNetMailBox &mailbox, const TStringList &lines);

// --- one FETCH response -----------------------------------------------------------

class TNetIMAPLineStruct {
public:
    int MessageNumber = 0;
    std::string UID;
    TNetMessageFlags Flags;
    bool FlagsSeen = false;     // a FLAGS item was in the response
    bool Complete = true;       // the closing parenthesis was reached
    int64_t ByteCount = -1;     // trailing literal: -1 before parsing, 0 none
    std::string LiteralItem;    // the item the trailing literal belongs to
    std::string IMAPFunction;   // the item asked for, upper case
    std::string IMAPValue;      // its value (NIL gives empty)
    bool IMAPValueFound = false;
    int64_t Size = -1;          // RFC822.SIZE when the response gave it

    void Clear();
    // Parses "n FETCH (items..." (the line without its "* "). askedItem is
    // the item whose value is wanted ("RFC822.SIZE"); empty for none. False
    // when the line is no FETCH response; ENetReplyIMAP4Error when it is
    // one but malformed.
    bool ParseFetchLine(std::string_view text, std::string_view askedItem);
    // Parses what follows a literal (" UID 4 FLAGS (\Seen))", ")"), which
    // may end with another literal.
    void ParseClosingLine(std::string_view text);

private:
    void ParseItems(std::string_view text, size_t pos);
    std::string FAsked;
};

// The size of the literal a response line ends with ("{123}" or "{123+}"),
// or -1 when it ends with none. ENetReplyIMAP4Error for a size with more
// digits than any real literal has.
int64_t TrailingLiteralSize(std::string_view line);

// Splits a text into words at blanks; a double-quoted run (quotes removed,
// escapes undone) and a parenthesised run stay one word each; an
// unterminated run is the rest of the text.
void ParseParenthesisedList(std::string_view text, TStringList &words);

// The numbers joined by "," (no blanks).
std::string MessageNumbersToStr(const std::vector<int> &numbers);

// --- mailbox names ------------------------------------------------------------------

// Modified UTF-7 of RFC 3501 (5.1.3). Names are UTF-8; a byte that is not
// part of valid UTF-8 is taken as the character of the same value, so
// Latin-1 names still encode.
class TNetMUTF7 {
public:
    static std::string Encode(std::string_view name);
    // Back to UTF-8; ENetReplyIMAP4Error for text that is not modified UTF-7.
    static std::string Decode(std::string_view text);
    // Whether text is modified UTF-7 as a server may send it.
    static bool Valid(std::string_view text);
};

// Quotes a text as an IMAP quoted string ("a\"b"). Only for 7-bit text
// without CR, LF or NUL.
std::string IMAPQuoted(std::string_view text);
