// POP3 replies as the client parses and formats them: codes, where a
// reply's lines end, response codes in brackets, and what a line without
// any valid code turns into.

#include "NetPOP3.h"

#include <gtest/gtest.h>

namespace {

TStringList Lines(std::initializer_list<std::string> l) { return TStringList(l); }

TEST(POP3Reply, CodesAndTextOfOneLine) {
    TNetReplyPOP3 r;
    EXPECT_EQ(r.Code(), "+OK");  // a new reply

    r.SetFormattedReply(Lines({"+OK 3 1200"}));
    EXPECT_EQ(r.Code(), "+OK");
    ASSERT_EQ(r.Text.Count(), 1);
    EXPECT_EQ(r.Text[0], "3 1200");
    EXPECT_FALSE(r.ProtocolError());

    r.SetFormattedReply(Lines({"+ PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2U+"}));
    EXPECT_EQ(r.Code(), "+");
    EXPECT_EQ(r.Text[0], "PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2U+");

    // Codes are recognised without regard to case and stored as listed.
    r.SetFormattedReply(Lines({"-err no such message"}));
    EXPECT_EQ(r.Code(), "-ERR");
    EXPECT_EQ(r.Text[0], "no such message");

    r.SetFormattedReply(Lines({"+OK"}));
    EXPECT_EQ(r.Code(), "+OK");
    EXPECT_EQ(r.Text[0], "");

    r.SetFormattedReply(Lines({"-ERR"}));
    EXPECT_EQ(r.Code(), "-ERR");
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
    EXPECT_TRUE(r.IsLastLine("+OK"));
    EXPECT_TRUE(r.IsLastLine("+OK 2 messages"));
    EXPECT_TRUE(r.IsLastLine("-ERR [IN-USE] mailbox locked"));
    EXPECT_TRUE(r.IsLastLine("+ challenge"));
    EXPECT_TRUE(r.IsLastLine("-ERR"));
    EXPECT_FALSE(r.IsLastLine("+OK-first of two"));
    EXPECT_FALSE(r.IsLastLine("-ERR-[AUTH] first"));
    EXPECT_EQ(TNetReplyPOP3::CodeEnd("-ERR x-y"), 5);
    EXPECT_EQ(TNetReplyPOP3::CodeEnd("+OK-x y"), 4);
    EXPECT_EQ(TNetReplyPOP3::CodeEnd("+OK"), 4);
    EXPECT_EQ(TNetReplyPOP3::CodeEnd(""), 1);
}

TEST(POP3Reply, EnhancedCodes) {
    TNetReplyPOP3 r;
    r.SetFormattedReply(Lines({"-ERR [IN-USE] mailbox locked"}));
    EXPECT_EQ(r.Code(), "-ERR");
    EXPECT_EQ(r.EnhancedCode(), "[IN-USE]");
    ASSERT_EQ(r.Text.Count(), 1);
    EXPECT_EQ(r.Text[0], "mailbox locked");

    // Parsing accepts a known word as a prefix; the setter wants it exactly.
    r.SetFormattedReply(Lines({"-ERR [in-use-now] x"}));
    EXPECT_EQ(r.EnhancedCode(), "[IN-USE-NOW]");
    EXPECT_EQ(r.Text[0], "x");
    try {
        r.SetEnhancedCode("in-use-now");
        FAIL();
    } catch (const ENetPOP3ReplyInvalidEnhancedCode &e) {
        EXPECT_STREQ(e.what(), "Invalid Enhanced Code: in-use-now");
    }
    r.SetEnhancedCode("sys/temp");
    EXPECT_EQ(r.EnhancedCode(), "[SYS/TEMP]");
    r.SetEnhancedCode("[login-delay]");
    EXPECT_EQ(r.EnhancedCode(), "[LOGIN-DELAY]");
    r.SetEnhancedCode("");
    EXPECT_EQ(r.EnhancedCode(), "");
    EXPECT_THROW(r.SetEnhancedCode("[]"), ENetPOP3ReplyInvalidEnhancedCode);

    // Only "-ERR" replies carry one; an unknown word stays text.
    r.SetFormattedReply(Lines({"+OK [AUTH] fine"}));
    EXPECT_EQ(r.EnhancedCode(), "");
    EXPECT_EQ(r.Text[0], "[AUTH] fine");
    r.SetFormattedReply(Lines({"-ERR [FOO] bar"}));
    EXPECT_EQ(r.EnhancedCode(), "");
    EXPECT_EQ(r.Text[0], "[FOO] bar");

    EXPECT_TRUE(TNetReplyPOP3::IsValidEnhancedCode("  ", true));
    EXPECT_FALSE(TNetReplyPOP3::IsValidEnhancedCode("AUTH", false));
    EXPECT_FALSE(TNetReplyPOP3::IsValidEnhancedCode("[AUTH", false));
}

TEST(POP3Reply, FormattingAndCopying) {
    TNetReplyPOP3 r;
    r.SetCode("-ERR");
    r.SetEnhancedCode("AUTH");
    r.Text.Add("first");
    r.Text.Add("second");
    EXPECT_EQ(r.GetFormattedReply(), Lines({"-ERR-[AUTH] first", "-ERR [AUTH] second"}));

    TNetReplyPOP3 copy;
    r.AssignTo(copy);
    EXPECT_EQ(copy.Code(), "-ERR");
    EXPECT_EQ(copy.EnhancedCode(), "[AUTH]");
    EXPECT_EQ(copy.Text, r.Text);

    // What is formatted parses back to the same reply.
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

    EXPECT_THROW(ok.SetCode("250"), ENetException);
    ok.SetCode("+ok");
    EXPECT_EQ(ok.Code(), "+ok");
}

TEST(POP3Reply, RaisedErrorCarriesCodeAndText) {
    TNetReplyPOP3 r;
    r.SetFormattedReply(Lines({"-ERR [AUTH] Authentication failed."}));
    try {
        r.RaiseReplyError();
    } catch (const ENetReplyPOP3Error &e) {
        EXPECT_EQ(e.ReplyCode(), "-ERR");
        EXPECT_STREQ(e.what(), "Authentication failed.\r\n");
        EXPECT_STREQ(e.ClassName(), "ENetReplyPOP3Error");
    }
}

}  // namespace
