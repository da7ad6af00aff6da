// POP3 replies as the client parses and formats them: codes, where a
// reply's lines end, response codes in brackets, and what a line without
// any valid code turns into.

#include "NetPOP3.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

TStringList Lines(std::initializer_list<std::string> l) { return TStringList(l); }

TEST(POP3Reply, CodeEnhancedCodeAndText) {
    struct {
        std::string line, code, enhanced, text;
    } rows[] = {
        {"+OK 3 1200", "+OK", "", "3 1200"},
        {"+ PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2U+", "+", "", "PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2U+"},
        // Codes are recognised without regard to case and stored as listed.
        {"-err no such message", "-ERR", "", "no such message"},
        {"-ERR x-y", "-ERR", "", "x-y"},  // a hyphen in the text is no continuation
        {"+OK", "+OK", "", ""},
        {"-ERR", "-ERR", "", ""},
        {"-ERR [IN-USE] mailbox locked", "-ERR", "[IN-USE]", "mailbox locked"},
        // Parsing accepts a known word as a prefix.
        {"-ERR [in-use-now] x", "-ERR", "[IN-USE-NOW]", "x"},
        // Only "-ERR" replies carry one; an unknown word stays text.
        {"+OK [AUTH] fine", "+OK", "", "[AUTH] fine"},
        {"-ERR [FOO] bar", "-ERR", "", "[FOO] bar"},
    };
    TNetReplyPOP3 r;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.line);
        r.SetFormattedReply(Lines({row.line}));
        EXPECT_EQ(r.Code(), row.code);
        EXPECT_EQ(r.EnhancedCode(), row.enhanced);
        EXPECT_EQ(r.Text, Lines({row.text}));
        EXPECT_FALSE(r.ProtocolError());
    }
}

TEST(POP3Reply, LinesWithoutAValidCodeAreAnError) {
    TNetReplyPOP3 r;
    r.SetFormattedReply(TStringList());
    EXPECT_EQ(r.Code(), "");
    EXPECT_EQ(r.Text.Count(), 0);
    EXPECT_FALSE(r.ProtocolError());

    for (const char *garbage : {"HELLO there", "", "OK fine", "+OKAY", "220 smtp.example ESMTP", "-", "--"}) {
        SCOPED_TRACE(garbage);
        r.SetFormattedReply(Lines({garbage}));
        EXPECT_EQ(r.Code(), "-ERR");
        EXPECT_TRUE(r.ProtocolError());
        EXPECT_THROW(r.RaiseReplyError(), ENetReplyPOP3Error);
    }
    // A later line may still carry the code.
    r.SetFormattedReply(Lines({"noise", "+OK here"}));
    EXPECT_EQ(r.Code(), "+OK");
    EXPECT_FALSE(r.ProtocolError());
}

TEST(POP3Reply, WhereAReplyEnds) {
    TNetReplyPOP3 r;
    for (const char *last : {"+OK", "+OK 2 messages", "-ERR [IN-USE] mailbox locked", "+ challenge", "-ERR"})
        EXPECT_TRUE(r.IsLastLine(last)) << last;
    EXPECT_FALSE(r.IsLastLine("+OK-first of two"));
    EXPECT_FALSE(r.IsLastLine("-ERR-[AUTH] first"));
}

TEST(POP3Reply, SettingCodes) {
    TNetReplyPOP3 r;
    // The setter wants a known word exactly.
    EXPECT_THAT([&] { r.SetEnhancedCode("in-use-now"); },
                testing::ThrowsMessage<ENetPOP3ReplyInvalidEnhancedCode>(
                    testing::StrEq("Invalid Enhanced Code: in-use-now")));
    EXPECT_THROW(r.SetEnhancedCode("[]"), ENetPOP3ReplyInvalidEnhancedCode);
    r.SetEnhancedCode("sys/temp");
    EXPECT_EQ(r.EnhancedCode(), "[SYS/TEMP]");
    r.SetEnhancedCode("[login-delay]");
    EXPECT_EQ(r.EnhancedCode(), "[LOGIN-DELAY]");
    r.SetEnhancedCode("");
    EXPECT_EQ(r.EnhancedCode(), "");
    EXPECT_THROW(r.SetCode("250"), ENetException);
    r.SetCode("+ok");
    EXPECT_EQ(r.Code(), "+ok");
}

TEST(POP3Reply, FormattedRepliesParseBack) {
    TNetReplyPOP3 r;
    r.SetCode("-ERR");
    r.SetEnhancedCode("AUTH");
    r.Text.Add("first");
    r.Text.Add("second");
    EXPECT_EQ(r.GetFormattedReply(), Lines({"-ERR-[AUTH] first", "-ERR [AUTH] second"}));
    TNetReplyPOP3 back;
    back.SetFormattedReply(r.GetFormattedReply());
    EXPECT_EQ(back.Code(), "-ERR");
    EXPECT_EQ(back.EnhancedCode(), "[AUTH]");
    EXPECT_EQ(back.Text, r.Text);

    TNetReplyPOP3 ok;
    ok.Text.Clear();
    EXPECT_EQ(ok.GetFormattedReply(), Lines({"+OK"}));
    ok.SetCode("");
    ok.Text.Add("bare");
    EXPECT_EQ(ok.GetFormattedReply(), Lines({"bare"}));
}

}  // namespace
