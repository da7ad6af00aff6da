// IMAP4 responses without a server: the reply parser, the SELECT and
// EXPUNGE parsers, FETCH response records and modified UTF-7 names.
#include "NetReplyIMAP4.h"

#include <gtest/gtest.h>

namespace {

std::string ParseError(const TStringList &lines) {
    TNetReplyIMAP4 r;
    try {
        r.SetFormattedReply(lines);
    } catch (const ENetReplyIMAP4Error &e) {
        return e.Message();
    }
    return "(no error)";
}

TEST(IMAPReply, TaggedUntaggedAndBareFinalLines) {
    TNetReplyIMAP4 r;
    r.SetFormattedReply({"* FLAGS (\\Seen \\Deleted)", "* 3 EXISTS", "* 1 RECENT", "* OK [UIDVALIDITY 42] ok",
                         "C5 OK [READ-WRITE] done"});
    EXPECT_EQ(r.Code(), "OK");
    EXPECT_EQ(r.Tag, "C5");
    ASSERT_EQ(r.Text.Count(), 4);
    EXPECT_EQ(r.Text[1], "3 EXISTS");
    EXPECT_EQ(r.Extra.Text(), TStringList{"[READ-WRITE] done"}.Text());
    r.SetFormattedReply({"* OK [CAPABILITY IMAP4rev1] Dovecot ready."});
    EXPECT_EQ(r.Code(), "OK");
    EXPECT_EQ(r.Tag, "*");
    EXPECT_EQ(r.Text.Text(), TStringList{"[CAPABILITY IMAP4rev1] Dovecot ready."}.Text());
    r.SetFormattedReply({"+ go ahead"});
    EXPECT_EQ(r.Code(), "+");
    EXPECT_EQ(r.Tag, "");
}

TEST(IMAPReply, MalformedResponsesNameTheLine) {
    const std::pair<TStringList, std::string> cases[] = {
        {{"3 EXISTS", "C1 OK done"},
         "Unexpected: Non-last response line (i.e. a data line) did not start with a *, offending line: 3 EXISTS"},
        {{"*", "C1 OK done"}, "Unexpected: Non-last response line (i.e. a data line) only contained one word"},
        {{"C7"}, "Unexpected: Response (last) line started with a command reference (like C41) but nothing else, "
                 "offending line: C7"},
        {{"c12 OK"}, "Unexpected: Line does not start with a command reference"},
        {{"C3 WHAT now"},
         "Unexpected: Line starts with a command reference (like C41) but next word was not a valid response"},
        {{"*"}, "Unexpected: Response (last) line contained only a *, offending line: *"},
        {{"* HELLO there"}, "Unexpected: Response (last) line started with a * but"},
        {{""}, "Unexpected: Response (last) line was empty"},
        {{}, "Unexpected: Logic error, SetFormattedReply called with an empty list of parameters"},
    };
    for (auto &[lines, want] : cases) EXPECT_EQ(ParseError(lines).substr(0, want.size()), want);
    TNetReplyIMAP4 r;
    EXPECT_TRUE(r.CheckIfCodeIsValid("preauth"));
    EXPECT_FALSE(r.CheckIfCodeIsValid("OKAY"));
    EXPECT_THROW(r.RaiseReplyError(), ENetReplyIMAP4Error);
    EXPECT_TRUE(TNetReplyIMAP4::IsTag("C41"));
    for (const char *notTag : {"C", "C4a", "c4"}) EXPECT_FALSE(TNetReplyIMAP4::IsTag(notTag)) << notTag;
}

TEST(IMAPReply, SortingKeepsOnlyExpectedWords) {
    TNetReplyIMAP4 r;
    r.SetFormattedReply({"* CAPABILITY IMAP4rev1 UIDPLUS", "* 4 EXISTS", "* 2 FETCH (FLAGS (\\Seen))",
                         "C2 OK done"});
    r.SortByExpected({"CAPABILITY"});
    ASSERT_EQ(r.Text.Count(), 1);
    EXPECT_EQ(r.Text[0], "CAPABILITY IMAP4rev1 UIDPLUS");
    EXPECT_EQ(r.Extra.Count(), 3);  // the tagged text and the two moved lines
    r.SetFormattedReply({"* 4 EXISTS", "* 2 EXPUNGE", "C3 OK"});
    r.SortByExpected({"EXISTS"});
    ASSERT_EQ(r.Text.Count(), 1);
    EXPECT_EQ(r.Text[0], "4 EXISTS");
    r.SetFormattedReply({"* 2 EXPUNGE", "C3 OK"});
    r.SortByExpected({});
    EXPECT_EQ(r.Text.Count(), 0);
}

TEST(IMAPMailBox, KeywordsCountAsWordsAndCodesOnly) {
    // Dovecot's real SELECT answer: "FLAGS" inside PERMANENTFLAGS and
    // "RECENT" inside \Recent must not be taken for the FLAGS and RECENT
    // responses, and the flags of PERMANENTFLAGS are not the mailbox flags.
    auto box = NetCreateNoOwner<TNetMailBox>();
    ParseSelectResponse(*box, {"FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)",
                               "OK [PERMANENTFLAGS (\\Answered \\Recent \\*)] Flags permitted.",
                               "12 EXISTS", "0 RECENT", "OK [UNSEEN 7] First unseen.",
                               "OK [UIDVALIDITY 1733000000] UIDs valid", "OK [UIDNEXT 13] Predicted next UID",
                               "OK [HIGHESTMODSEQ 4] Highest", "[READ-ONLY] Select completed (0.001 secs)."});
    EXPECT_EQ(box->TotalMsgs, 12);
    EXPECT_EQ(box->RecentMsgs, 0);
    EXPECT_EQ(box->FirstUnseenMsg, 7);
    EXPECT_EQ(box->UIDValidity, "1733000000");
    EXPECT_EQ(box->UIDNext, "13");
    EXPECT_TRUE(box->Flags == (TNetMessageFlags{mfAnswered, mfFlagged, mfDeleted, mfSeen, mfDraft}));
    EXPECT_TRUE(box->ChangeableFlags == (TNetMessageFlags{mfAnswered, mfRecent}));
    EXPECT_FALSE(box->ReadWrite);

    // A text that merely mentions the words changes nothing.
    ParseSelectResponse(*box, {"OK [ALERT] EXISTS RECENT FLAGS (\\Seen) UNSEEN", "5 EXISTS"});
    EXPECT_EQ(box->TotalMsgs, 5);
    EXPECT_EQ(box->RecentMsgs, 0);
    EXPECT_TRUE(box->Flags.Empty());
    EXPECT_EQ(box->FirstUnseenMsg, 0);

    EXPECT_THROW(ParseSelectResponse(*box, {"OK [UNSEEN seven]"}), EConvertError);
}

TEST(IMAPMailBox, ExpungeLinesAreRecorded) {
    auto box = NetCreateNoOwner<TNetMailBox>();
    box->TotalMsgs = 10;
    ParseExpungeResponse(*box, {"3 EXPUNGE", "3 EXPUNGE", "junk", "7 FETCH (FLAGS ())"});
    EXPECT_EQ(box->DeletedMsgs, (std::vector<int>{3, 3}));
    EXPECT_EQ(box->TotalMsgs, 8);
    box->Messages.Add();
    EXPECT_THROW(box->Messages.Items(1), EListError);
    EXPECT_THROW(box->Messages.Items(-1), EListError);
}

TEST(IMAPFlags, NamesBothWays) {
    TNetMessageFlags f = StrToMessageFlags("\\seen $Forwarded \\DELETED \\Recentish \\Answered");
    EXPECT_TRUE(f == (TNetMessageFlags{mfSeen, mfDeleted, mfAnswered}));
    EXPECT_EQ(MessageFlagsToStr(f), "\\Answered \\Deleted \\Seen");
    EXPECT_EQ(MessageFlagsToStr({}), "");
    EXPECT_EQ(MessageNumbersToStr({3, 5, 10}), "3,5,10");
}

TEST(IMAPFetchLine, SizeLiteralUidAndFlags) {
    TNetIMAPLineStruct s;
    ASSERT_TRUE(s.ParseFetchLine("1 FETCH (RFC822.SIZE 1234)", "RFC822.SIZE"));
    EXPECT_EQ(s.MessageNumber, 1);
    EXPECT_EQ(s.IMAPValue, "1234");
    EXPECT_EQ(s.ByteCount, 0);
    EXPECT_TRUE(s.Complete);

    ASSERT_TRUE(s.ParseFetchLine("7 FETCH (UID 99 FLAGS (\\Seen \\Flagged $Junk) RFC822.HEADER {2048}",
                                 "RFC822.HEADER"));
    EXPECT_EQ(s.MessageNumber, 7);
    EXPECT_EQ(s.ByteCount, 2048);
    EXPECT_FALSE(s.Complete);
    EXPECT_EQ(s.LiteralItem, "RFC822.HEADER");
    EXPECT_EQ(s.UID, "99");
    EXPECT_TRUE(s.Flags == (TNetMessageFlags{mfSeen, mfFlagged}));

    // What follows the literal may carry more items.
    s.ParseClosingLine(" UID 100 FLAGS (\\Seen))");
    EXPECT_TRUE(s.Complete);
    EXPECT_EQ(s.UID, "100");
    EXPECT_EQ(s.ByteCount, 0);
    s.ParseClosingLine(")");
    EXPECT_TRUE(s.Complete);

    // Items the parser does not know, nested lists, quoted strings and NIL.
    ASSERT_TRUE(s.ParseFetchLine("3 FETCH (ENVELOPE (\"Mon, 1 Jan\" \"a (b) \\\"c\\\"\" NIL ((NIL NIL \"x\" \"y\"))) "
                                 "BODY[HEADER.FIELDS (FROM TO)] \"q\" RFC822.SIZE NIL)",
                                 "RFC822.SIZE"));
    EXPECT_TRUE(s.IMAPValueFound);
    EXPECT_EQ(s.IMAPValue, "");
    // BODY.PEEK[] is answered as BODY[].
    ASSERT_TRUE(s.ParseFetchLine("3 FETCH (BODY[] {5}", "BODY.PEEK[]"));
    EXPECT_EQ(s.LiteralItem, s.IMAPFunction);

    EXPECT_FALSE(s.ParseFetchLine("3 EXISTS", "FLAGS"));
    EXPECT_FALSE(s.ParseFetchLine("OK [ALERT] hi", "FLAGS"));
    for (auto [line, item] : std::vector<std::pair<const char *, const char *>>{
             {"3 FETCH FLAGS", "FLAGS"}, {"3 FETCH (FLAGS (\\Seen)", "FLAGS"},
             {"3 FETCH (RFC822 {12} trailing", "RFC822"}, {"3 FETCH (RFC822 {99999999999999999999}", "RFC822"},
             {"3 FETCH (FLAGS (((", "FLAGS"}, {"3 FETCH (X \"open", "FLAGS"}})
        EXPECT_THROW(s.ParseFetchLine(line, item), ENetReplyIMAP4Error) << line;
}

TEST(IMAPFetchLine, TrailingLiterals) {
    for (auto [line, size] : std::vector<std::pair<const char *, int64_t>>{
             {"* LIST () \"/\" {12}", 12}, {"x {7+}", 7}, {"text with {braces}", -1}, {"no literal", -1}, {"", -1}})
        EXPECT_EQ(TrailingLiteralSize(line), size) << line;
    EXPECT_THROW(TrailingLiteralSize("{1234567890123456}"), ENetReplyIMAP4Error);
}

TEST(IMAPLists, ParenthesisedSplitter) {
    TStringList w;
    ParseParenthesisedList("A \"b c\" (d (e f)) g", w);
    EXPECT_EQ(w, (TStringList{"A", "b c", "(d (e f))", "g"}));
}

TEST(IMAPNames, ModifiedUTF7) {
    // A Latin-1 byte on its own is taken as that character.
    EXPECT_EQ(TNetMUTF7::Encode("Entw\xFCrfe"), "Entw&APw-rfe");
    EXPECT_EQ(TNetMUTF7::Encode("Entwürfe"), "Entw&APw-rfe");
    EXPECT_EQ(TNetMUTF7::Encode("A&B"), "A&-B");
    // RFC 3501's own example, and a character outside the BMP as a pair.
    EXPECT_EQ(TNetMUTF7::Encode("~peter/mail/台北/日本語"), "~peter/mail/&U,BTFw-/&ZeVnLIqe-");
    EXPECT_EQ(TNetMUTF7::Encode("😀"), "&2D3eAA-");
    EXPECT_EQ(TNetMUTF7::Encode("a\tb"), "a&AAk-b");
    for (std::string name : {"Entwürfe", "A&B", "~peter/mail/台北/日本語", "x😀y&z ü", "&", "ÄÖÜ/äöü"})
        EXPECT_EQ(TNetMUTF7::Decode(TNetMUTF7::Encode(name)), name) << name;
    for (const char *bad : {"&", "&Jjo", "&AGE-", "&2D3-", "&3gA-", "&U,BTF-", "a\x80", "&!!-"})
        EXPECT_FALSE(TNetMUTF7::Valid(bad)) << bad;
    EXPECT_THROW(TNetMUTF7::Decode("&Jjo"), ENetReplyIMAP4Error);
    EXPECT_EQ(IMAPQuoted("a\"b\\c"), "\"a\\\"b\\\\c\"");
}

}  // namespace
