// The page-text rules of the web-mail route, on plain lines.

#include <gtest/gtest.h>

#include "NetMessage.h"
#include "TestSupport.h"
#include "webmail/WebPageText.h"

namespace {

THostScript ListScript() {
    THostScript s;
    s.NewMail = "new";
    s.DelRealN = "row";
    s.DelLn = 1;
    s.MsReadLn = 0;
    s.Id = {1, "id=", "|", "rid=", "|"};
    s.Time = {2, "t=", "|", "rt=", "|"};
    s.Sender = {3, "f=", "|", "rf=", "|"};
    s.Subject = {4, "s=", "|", "rs=", "|"};
    s.GetTime = true;
    return s;
}

// Two messages: an unread one and a read one with its own tokens.
const std::vector<std::string> kList = {
    "head",
    "row new", "id=m1|", "t=9:05|", "f=Ann &lt;ann@x.org|", "s=Hello|",
    "row", "rid=m2|", "rt=2024-02-29|", "rf=Bob|", "rs=Old notes|",
};

TEST(WebPageText, LinesSplitAtEveryLineEnd) {
    EXPECT_EQ(SplitPageLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitPageLines("a\n\nb\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(SplitPageLines("").empty());
}

TEST(WebPageText, EntriesInBothModesWithTheirReadState) {
    THostScript s = ListScript();
    EXPECT_EQ(CountWebMessages(kList, "new"), 1);
    EXPECT_EQ(CountWebMessages(kList, "row"), 2);
    EXPECT_EQ(CountWebMessages(kList, ""), 0);

    TWebListEntry e = ReadWebListEntry(kList, s, 1, false);
    ASSERT_TRUE(e.Found);
    EXPECT_FALSE(e.Read);
    EXPECT_EQ(e.Id, "m1");
    e = ReadWebListEntry(kList, s, 1, true);
    EXPECT_EQ(e.Id, "m1");
    EXPECT_EQ(e.Time, "9:05");
    EXPECT_EQ(e.Sender, "Ann &lt;ann@x.org");
    e = ReadWebListEntry(kList, s, 2, true);
    ASSERT_TRUE(e.Found);
    EXPECT_TRUE(e.Read);
    EXPECT_EQ(e.Id, "m2");
    EXPECT_EQ(e.Subject, "Old notes");
    EXPECT_FALSE(ReadWebListEntry(kList, s, 3, true).Found);
    EXPECT_FALSE(ReadWebListEntry(kList, s, 0, true).Found);

    // DelLn moves every field with field 1, in "all messages" mode only.
    THostScript shifted = s;
    shifted.DelLn = 2;
    EXPECT_EQ(ReadWebListEntry(kList, shifted, 1, true).Id, "t=9:05");
    EXPECT_EQ(ReadWebListEntry(kList, shifted, 1, false).Id, "m1");
    // Offsets that leave the page read empty lines.
    THostScript far = s;
    far.Subject.Line = 1000000;
    far.Sender.Line = -1000000;
    e = ReadWebListEntry(kList, far, 2, true);
    EXPECT_EQ(e.Subject, "");
    EXPECT_EQ(e.Sender, "");
    far.MsReadLn = INT32_MAX;
    EXPECT_TRUE(ReadWebListEntry(kList, far, 1, true).Read) << "no NewMail on a line beyond the page";

    // Without NewMail every message counts as unread.
    THostScript noNew = s;
    noNew.NewMail.clear();
    EXPECT_FALSE(ReadWebListEntry(kList, noNew, 2, true).Read);
}

TEST(WebPageText, SenderTexts) {
    EXPECT_EQ(FormatWebSender("Ann &lt;ann@x.org"), "Ann <ann@x.org>");
    EXPECT_EQ(FormatWebSender("Ann &lt;ann@x.org&gt;"), "Ann <ann@x.org>");
    EXPECT_EQ(FormatWebSender("Bob"), "Bob <...>");
    EXPECT_EQ(FormatWebSender("bob@x.org"), "bob@x.org");
    EXPECT_EQ(FormatWebSender("bob@localhost"), "bob@localhost <...>");
    EXPECT_EQ(FormatWebSender("Cy <cy@x.org"), "Cy <cy@x.org>");
    EXPECT_EQ(FormatWebSender("Cy <cy@x.org>"), "Cy <cy@x.org>");
    EXPECT_EQ(FormatWebSender(""), " <...>");
}

TEST(WebPageText, DatesOfTheList) {
    const TDateTime now = EncodeDate(2024, 5, 6) + EncodeTime(15, 30, 0, 0);
    const TDateTime today = EncodeDate(2024, 5, 6);
    EXPECT_EQ(WebFieldDate("9:05", false, now), today);
    EXPECT_DOUBLE_EQ(WebFieldDate("9:05", true, now), today + EncodeTime(9, 5, 0, 0));
    EXPECT_DOUBLE_EQ(WebFieldDate("21:07:33", true, now), today + EncodeTime(21, 7, 33, 0));
    EXPECT_DOUBLE_EQ(WebFieldDate("9:05 PM", true, now), today + EncodeTime(21, 5, 0, 0));
    EXPECT_DOUBLE_EQ(WebFieldDate("12:10 AM", true, now), today + EncodeTime(0, 10, 0, 0));
    EXPECT_EQ(WebFieldDate("2024-02-29", true, now), EncodeDate(2024, 2, 29));
    EXPECT_EQ(WebFieldDate("29.2.2024", true, now), EncodeDate(2024, 2, 29));
    EXPECT_EQ(WebFieldDate("2/29/2024", true, now), EncodeDate(2024, 2, 29));
    EXPECT_DOUBLE_EQ(WebFieldDate("2024-02-29 08:15", true, now), EncodeDate(2024, 2, 29) + EncodeTime(8, 15, 0, 0));
    // What cannot be read is today at midnight, never an error.
    EXPECT_EQ(WebFieldDate("25:99", true, now), today);
    EXPECT_EQ(WebFieldDate("-9:07", true, now), today);
    EXPECT_EQ(WebFieldDate("2024-02-29 9:-5", true, now), today);
    EXPECT_EQ(WebFieldDate("yesterday", true, now), today);
    EXPECT_EQ(WebFieldDate("2024-02-30", true, now), today);
    EXPECT_EQ(WebFieldDate("", true, now), today);
}

TEST(WebPageText, EntryFillsTheMessage) {
    THostScript s = ListScript();
    s.Id.Line = 1;
    auto m = NetCreateNoOwner<TNetMessage>();
    const TDateTime now = EncodeDate(2024, 5, 6);
    ApplyWebListEntry(ReadWebListEntry(kList, s, 1, true), s, *m, now);
    EXPECT_EQ(m->MessageId(), "<m1>");
    EXPECT_EQ(m->From().Address, "ann@x.org");
    EXPECT_EQ(m->Subject, "Hello");
    EXPECT_TRUE(m->Flags.Empty());
    ApplyWebListEntry(ReadWebListEntry(kList, s, 2, true), s, *m, now);
    EXPECT_EQ(m->MessageId(), "<m2>");
    EXPECT_TRUE(m->Flags.Has(mfSeen));
    EXPECT_EQ(m->Date, EncodeDate(2024, 2, 29));
    // A sender the address parser refuses stays as a name.
    TWebListEntry odd;
    odd.Found = true;
    odd.Sender = "<a@b> c@d";
    EXPECT_NO_THROW(ApplyWebListEntry(odd, s, *m, now));
}

TEST(WebPageText, BodyRunsFromTheTokenToTheEndToken) {
    THostScript s;
    s.Body = "<div b>";
    s.BodyLn = 1;
    s.BodyEnd = "</div>";
    std::vector<std::string> page = {"x", "<div b>", "one <b>two</b>", "&gt; quoted", "</div>", "after"};
    TStringList body;
    ASSERT_TRUE(ReadWebBody(page, s, body));
    EXPECT_EQ(body.Items(), (std::vector<std::string>{"one two", "&gt; quoted"}));
    // BodyLn 0 takes the token line itself; an end never met runs to the page end once.
    s.BodyLn = 0;
    s.BodyEnd = "nowhere";
    page.push_back("<div b>");
    body.Clear();
    ASSERT_TRUE(ReadWebBody(page, s, body));
    EXPECT_EQ(body.Count(), 6);
    s.BodyLn = -5;
    body.Clear();
    EXPECT_TRUE(ReadWebBody(page, s, body));
    s.Body.clear();
    EXPECT_FALSE(ReadWebBody(page, s, body));
    s.Body = "missing";
    EXPECT_FALSE(ReadWebBody(page, s, body));
}

TEST(WebPageText, LocateUsesEachMessagesOwnTokens) {
    THostScript s = ListScript();
    s.Id.Line = 1;
    EXPECT_EQ(LocateWebMessage(kList, s, "<m1>"), 1);
    EXPECT_EQ(LocateWebMessage(kList, s, "<m2>"), 2);
    EXPECT_EQ(LocateWebMessage(kList, s, "<m3>"), -1);
    EXPECT_EQ(LocateWebMessage(kList, s, ""), -1);
    // The same identifier twice: both places, the last one for a plain look.
    std::vector<std::string> twice = kList;
    twice.insert(twice.end(), {"row new", "id=m1|"});
    EXPECT_EQ(LocateWebMessages(twice, s, "<m1>"), (std::vector<int>{1, 3}));
    EXPECT_EQ(LocateWebMessage(twice, s, "<m1>"), 3);
}

TEST(WebPageText, DeleteOnlyAMessageItsIdentifierNamesAlone) {
    THostScript s = ListScript();
    s.Id.Line = 1;
    EXPECT_EQ(WebDeleteRefusal(kList, s, "<m2>"), "");
    EXPECT_EQ(WebDeleteRefusal(kList, s, "<m3>"), "the message <m3> is not on the page");
    // A second message sharing m1's identifier: neither may be deleted by it.
    std::vector<std::string> page = kList;
    page.insert(page.end(), {"row new", "id=m1|", "row", "rid=|", "row", "rid= |"});
    EXPECT_EQ(WebDeleteRefusal(page, s, "<m1>"), "the identifier <m1> stands on 2 messages of the page");
    EXPECT_EQ(WebDeleteRefusal(page, s, "<m2>"), "");
    // An empty or blank field reads as "<>" or "< >", which names no message,
    // even where only one row has it.
    EXPECT_EQ(LocateWebMessages(page, s, "<>"), std::vector<int>{4});
    EXPECT_EQ(WebDeleteRefusal(page, s, "<>"), "the message has no identifier on the page");
    EXPECT_EQ(WebDeleteRefusal(page, s, "< >"), "the message has no identifier on the page");
    EXPECT_EQ(WebDeleteRefusal(page, s, ""), "the message has no identifier on the page");
}

}  // namespace
