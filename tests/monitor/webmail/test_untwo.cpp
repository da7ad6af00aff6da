// The web-mail route against the test site, in the real browser engine.

#include <QJsonArray>
#include <QTimer>
#include <QWebEnginePage>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <utility>

#include "EmbeddedBrowser.h"
#include "EventLoopWait.h"
#include "NetMessage.h"
#include "OpenSSLServer.h"
#include "settings/ProgramPaths.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "UrlCache.h"
#include "WebMailSite.h"
#include "webmail/untwo.h"

namespace {

struct TReport {
    std::string Text;
    int Number, Kind, Colour;
};

std::vector<std::string> Strings(const QJsonValue &v) {
    std::vector<std::string> out;
    for (const QJsonValue &x : v.toArray()) out.push_back(x.toString().toStdString());
    return out;
}

class WebRoute : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareBrowserTests();
        FOldFolder = ProgramFolder();
        SetProgramFolder(FDir.Path());
        SetWebRouteHost({[this](const std::string &t, int n, int k, int c) { Reports.push_back({t, n, k, c}); },
                         [this] {
                             // The route asks after each script call: what a test slips in here
                             // happens to the page between two of them.
                             if (auto between = std::exchange(Between, nullptr)) between();
                             return Exit;
                         }});
    }
    void TearDown() override {
        FreeWebForm();
        SetWebRouteHost({});
        SetProgramFolder(FOldFolder);
    }
    void WriteHostData(const std::string &text) { WriteTestFile(FDir.File("host_data.dat"), text); }
    void UseSite(const WebMailSite &site, const std::string &loginPath = "/login") {
        WriteHostData(HostSection("testmail", site.Url(loginPath)));
    }
    // A script that knows no link to confirm a delete with: the delete
    // button does it all. Its delete button is named button.
    void UseSiteWithoutDelLink(const WebMailSite &site, const std::string &button = "del") {
        WriteHostData(StringReplaceAll(StringReplaceAll(HostSection("testmail", site.Url("/login")),
                                                        "DelLink=Yes, delete\n", "DelLink=\n"),
                                       "DelBtnName=del\n", "DelBtnName=" + button + "\n"));
    }
    bool Reported(const std::string &part) const {
        for (const TReport &r : Reports)
            if (Contains(r.Text, part)) return true;
        return false;
    }
    void SecondAccountGetsItsOwnMailbox(const std::string &keptIn) {
        WebMailSite::TOptions o;
        o.KeepSession = keptIn;
        WebMailSite site(o);
        UseSite(site);
        ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
        ASSERT_TRUE(WebHostLogin("testmail", "ann", "pw-ann"));
        QJsonObject state = site.State();
        EXPECT_EQ(Strings(state["resumed"]), std::vector<std::string>{});
        QJsonArray logins = state["logins"].toArray();
        EXPECT_EQ(logins.size(), 2);
        EXPECT_EQ(logins.last().toObject()["user"].toString().toStdString(), "ann");
        EXPECT_TRUE(logins.last().toObject()["ok"].toBool());
        EXPECT_EQ(Strings(state["inbox_users"]), (std::vector<std::string>{"bob", "ann"}));
    }
    int CookieEntries() {
        TUrlCache cache(*TCookieRecord::ForProfile(frmWeb->Profile));
        int n = 0;
        for (int i = 0; i < cache.Count(); ++i)
            if (StartsText("cookie:", cache.SourceUrl(i)) && Contains(cache.SourceUrl(i), "@127.0.0.1/")) ++n;
        return n;
    }

    TempDir FDir;
    std::string FOldFolder;
    std::vector<TReport> Reports;
    bool Exit = false;
    std::function<void()> Between;
    // A page of five rows that it rewrites beside boxes that stay when new
    // mail is polled in.
    static WebMailSite::TOptions RewritingFivePerPage() {
        WebMailSite::TOptions o;
        o.PageSize = 5;
        o.Rerender = true;
        return o;
    }
    // New mail arrives once the delete has read the page, before it ticks.
    void PollMailBetweenReadAndTick() {
        Between = [] { frmWeb->WebBrowser1->Page()->runJavaScript("pollMail()"); };
    }
};

TEST_F(WebRoute, LogsInThroughTheSecondButtonAndTheSecondMatchingLink) {
    WebMailSite site;
    UseSite(site);
    ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
    EXPECT_TRUE(WebFormExists);
    EXPECT_EQ(CurrentWebHost, "testmail");
    EXPECT_TRUE(EndsText("/inbox", frmWeb->WebBrowser1->LocationURL()));
    QJsonObject state = site.State();
    ASSERT_EQ(state["logins"].toArray().size(), 1);
    QJsonObject login = state["logins"].toArray()[0].toObject();
    EXPECT_TRUE(login["ok"].toBool());
    EXPECT_EQ(Strings(login["button"]), std::vector<std::string>{"Standard"});
    EXPECT_TRUE(login["token_ok"].toBool()) << "the hidden field went with the form";
    EXPECT_EQ(login["pre_cookie"].toString(), "1") << "the pre-log-in cookie went back";
    std::vector<std::string> visits = Strings(state["visits"]);
    EXPECT_NE(std::find(visits.begin(), visits.end(), "/inbox"), visits.end());
    EXPECT_EQ(std::find(visits.begin(), visits.end(), "/archive"), visits.end());
}

TEST_F(WebRoute, WrongPasswordOrMissingScriptIsNoLogIn) {
    WebMailSite site;
    UseSite(site);
    EXPECT_FALSE(WebHostLogin("testmail", "bob", "wrong"));
    EXPECT_FALSE(site.State()["logins"].toArray()[0].toObject()["ok"].toBool());
    EXPECT_FALSE(WebHostLogin("nosuchhost", "bob", "s3cret"));
    EXPECT_EQ(WebHostNewMailCount(true), 0);
}

TEST_F(WebRoute, CountsAndListFieldsInBothModes) {
    WebMailSite site;
    UseSite(site);
    ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
    EXPECT_EQ(WebHostNewMailCount(false), 3);
    EXPECT_EQ(WebHostNewMailCount(true), 5);

    auto m = NetCreateNoOwner<TNetMessage>();
    ASSERT_TRUE(WebHostReadList(1, *m, false));
    EXPECT_EQ(m->MessageId(), "<a1001>");
    EXPECT_EQ(m->Subject, "Lunch on Friday");
    EXPECT_EQ(m->From().Address, "alice@example.org");
    EXPECT_EQ(m->From().Name, "Alice Example");
    EXPECT_TRUE(m->Flags.Empty());
    int y, mo, d;
    DecodeDate(Now(), y, mo, d);
    EXPECT_DOUBLE_EQ(m->Date, EncodeDate(y, mo, d) + EncodeTime(9, 41, 0, 0)) << "a time is of today";

    // New-mail mode counts only unread messages: the second is a1003.
    ASSERT_TRUE(WebHostReadList(2, *m, false));
    EXPECT_EQ(m->MessageId(), "<a1003>");
    EXPECT_FALSE(WebHostReadList(4, *m, false));

    // All messages: a1002 is read, with its own tokens and a date.
    ASSERT_TRUE(WebHostReadList(2, *m, true));
    EXPECT_EQ(m->MessageId(), "<a1002>");
    EXPECT_TRUE(m->Flags.Has(mfSeen));
    EXPECT_EQ(m->Subject, "Weekly report");
    EXPECT_EQ(m->From().Name, "Weekly Bot");
    EXPECT_EQ(m->Date, EncodeDate(2024, 3, 11));
    ASSERT_TRUE(WebHostReadList(4, *m, true));
    EXPECT_EQ(m->From().Address, "dave@example.com") << "both brackets arrive as entities";
    ASSERT_TRUE(WebHostReadList(3, *m, true));
    EXPECT_TRUE(m->Flags.Empty());
    EXPECT_FALSE(WebHostReadList(6, *m, true));
    EXPECT_EQ(WebHostLocateMessage("<a1004>"), 4) << "a read message is found with its own tokens";
    EXPECT_EQ(WebHostLocateMessage("<nope>"), -1);
}

TEST_F(WebRoute, BodyOfTheRightMessageAmongThoseSharingASubject) {
    WebMailSite site;
    UseSite(site);
    ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
    auto m = NetCreateNoOwner<TNetMessage>();
    // a1003 is the second "Weekly report" of the page, the second new message.
    ASSERT_TRUE(WebHostReadBody(2, *m, "Weekly report", "<a1003>", false));
    EXPECT_EQ(Strings(site.State()["viewed"]), std::vector<std::string>{"a1003"});
    ASSERT_EQ(m->Body.Count(), 3);
    EXPECT_EQ(m->Body[0], "Week 11 report from Carol.");
    EXPECT_EQ(m->Body[1], "&gt; quoted from week 10") << "a quote keeps its entity, as the reader expects";
    EXPECT_EQ(m->Body[2], "Numbers are up.");
    // Back on the list for the next call.
    EXPECT_TRUE(EndsText("/inbox", frmWeb->WebBrowser1->LocationURL()));
    EXPECT_EQ(WebHostNewMailCount(true), 5);

    ASSERT_TRUE(WebHostReadBody(5, *m, "Weekly report", "<a1005>", true));
    EXPECT_EQ(Strings(site.State()["viewed"]), (std::vector<std::string>{"a1003", "a1005"}));
    EXPECT_EQ(m->Body[0], "Week 12 report from Erin.");
    // A subject with "&" is written "&amp;" in the page's HTML.
    ASSERT_TRUE(WebHostReadBody(4, *m, "Invoice &amp; receipt", "<a1004>", true));
    EXPECT_EQ(m->Body[0], "Your invoice is attached.");
}

TEST_F(WebRoute, DeleteRemovesExactlyTheTickedMessageThroughOneButtonAndTheConfirmLink) {
    WebMailSite site;
    UseSite(site);
    ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
    ASSERT_TRUE(WebHostDeleteMessage("<a1003>"));
    QJsonObject state = site.State();
    ASSERT_EQ(state["delete_posts"].toArray().size(), 1);
    QJsonObject post = state["delete_posts"].toArray()[0].toObject();
    EXPECT_EQ(Strings(post["selected"]), std::vector<std::string>{"a1003"});
    EXPECT_EQ(post["buttons"].toInt(), 1);
    EXPECT_EQ(Strings(state["deleted"]), std::vector<std::string>{"a1003"});
    EXPECT_EQ(WebHostNewMailCount(true), 4);
    EXPECT_EQ(WebHostLocateMessage("<a1003>"), -1);
    EXPECT_FALSE(WebHostDeleteMessage("<a1003>")) << "no longer on the page";
    // The next one is found at its new place.
    ASSERT_TRUE(WebHostDeleteMessage("<a1005>"));
    EXPECT_EQ(Strings(site.State()["deleted"]), (std::vector<std::string>{"a1003", "a1005"}));
}

TEST_F(WebRoute, DeleteIsRefusedWhenCheckBoxesAndMessagesDoNotPairOff) {
    WebMailSite::TOptions o;
    o.ExtraCheckbox = true;
    WebMailSite site(o);
    UseSite(site);
    ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
    EXPECT_FALSE(WebHostDeleteMessage("<a1001>"));
    EXPECT_TRUE(site.State()["delete_posts"].toArray().isEmpty());
    EXPECT_TRUE(site.State()["deleted"].toArray().isEmpty());
    EXPECT_TRUE(Reported("6 check boxes"));
}

TEST_F(WebRoute, DeleteIsRefusedForAnIdentifierTwoMessagesShareOrAnEmptyOne) {
    // a1005 is listed as "a1003" too, and a1002 with an empty identifier.
    WebMailSite::TOptions o;
    o.ShowIds = {"a1005=a1003", "a1002="};
    WebMailSite site(o);
    UseSite(site);
    ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
    auto m = NetCreateNoOwner<TNetMessage>();
    ASSERT_TRUE(WebHostReadList(2, *m, true));
    EXPECT_EQ(m->MessageId(), "<>") << "what the list gives for an empty field";
    EXPECT_FALSE(WebHostDeleteMessage("<a1003>"));
    EXPECT_FALSE(WebHostDeleteMessage("<>"));
    EXPECT_TRUE(site.State()["delete_posts"].toArray().isEmpty());
    EXPECT_TRUE(Reported("no message deleted on testmail: the identifier <a1003> stands on 2 messages of the page"));
    EXPECT_TRUE(Reported("no message deleted on testmail: the message has no identifier on the page"));
    // A message of its own identifier still goes.
    ASSERT_TRUE(WebHostDeleteMessage("<a1004>"));
    EXPECT_EQ(Strings(site.State()["deleted"]), std::vector<std::string>{"a1004"});
}

TEST_F(WebRoute, DeleteTicksTheMessageMeantOnAPageThatMovesItsRowsAsTheyAreTicked) {
    // a1001 comes ticked; unticking it moves its row to the end, and with it
    // every box after it one place up.
    WebMailSite::TOptions o;
    o.ShiftyList = true;
    WebMailSite site(o);
    UseSite(site);
    ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
    ASSERT_TRUE(WebHostDeleteMessage("<a1003>"));
    QJsonArray posts = site.State()["delete_posts"].toArray();
    ASSERT_EQ(posts.size(), 1);
    EXPECT_EQ(Strings(posts[0].toObject()["selected"]), std::vector<std::string>{"a1003"});
    EXPECT_EQ(Strings(site.State()["deleted"]), std::vector<std::string>{"a1003"});
}

TEST_F(WebRoute, DeleteTicksTheMessageMeantWhenThePageRewritesItsRowsAfterReadingThem) {
    // The boxes say a place, not a message. Once the route has read the
    // page, a new message is polled in: each row is written one place down
    // beside the box that stays, so the box that stood beside a1003 now
    // stands beside a1002.
    WebMailSite site(RewritingFivePerPage());
    UseSite(site);
    ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
    PollMailBetweenReadAndTick();
    ASSERT_TRUE(WebHostDeleteMessage("<a1003>"));
    QJsonObject state = site.State();
    ASSERT_EQ(state["arrivals"].toInt(), 1) << "the rows were rewritten";
    QJsonArray posts = state["delete_posts"].toArray();
    ASSERT_EQ(posts.size(), 1);
    EXPECT_EQ(Strings(posts[0].toObject()["selected"]), std::vector<std::string>{"a1003"});
    EXPECT_EQ(Strings(state["deleted"]), std::vector<std::string>{"a1003"});
    EXPECT_EQ(WebHostLocateMessage("<a1003>"), -1);
    EXPECT_EQ(WebHostLocateMessage("<a1002>"), 3);
}

TEST_F(WebRoute, DeleteTicksNothingWhenThePageNoLongerListsTheMessageItRead) {
    // The new message pushes a1005 off the page between the read and the tick.
    WebMailSite site(RewritingFivePerPage());
    UseSite(site);
    ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
    PollMailBetweenReadAndTick();
    EXPECT_FALSE(WebHostDeleteMessage("<a1005>"));
    EXPECT_EQ(site.State()["arrivals"].toInt(), 1);
    EXPECT_TRUE(site.State()["delete_posts"].toArray().isEmpty());
    EXPECT_TRUE(Reported("no message deleted on testmail: the message <a1005> no longer stands on the page"));
}

TEST_F(WebRoute, ADeleteThatEndsOnTheLogInPageIsNotDone) {
    // The session has expired: the site deletes nothing and shows its log-in
    // page, whether or not the script has a link to confirm with.
    WebMailSite::TOptions o;
    o.DeleteExpires = true;
    WebMailSite site(o);
    for (bool confirming : {true, false}) {
        SCOPED_TRACE(confirming ? "with DelLink" : "without DelLink");
        if (confirming)
            UseSite(site);
        else
            UseSiteWithoutDelLink(site);
        ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
        EXPECT_FALSE(WebHostDeleteMessage("<a1003>"));
        EXPECT_TRUE(EndsText("/login", frmWeb->WebBrowser1->LocationURL()));
    }
    EXPECT_EQ(site.State()["expired"].toInt(), 2);
    EXPECT_TRUE(site.State()["deleted"].toArray().isEmpty());
}

TEST_F(WebRoute, DeletingTheOnlyMessageIsDoneOnTheEmptyListItLeaves) {
    for (int way = 0; way < 3; ++way) {
        const bool confirming = way == 0;
        SCOPED_TRACE(way == 0 ? "confirmed through DelLink" : way == 1 ? "deleted at once" : "beside a log-in form not shown");
        WebMailSite::TOptions o;
        o.Messages = 1;
        o.NoConfirm = !confirming;
        o.HiddenRelogin = way == 2;
        WebMailSite site(o);
        if (confirming)
            UseSite(site);
        else
            UseSiteWithoutDelLink(site);
        ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
        ASSERT_EQ(WebHostNewMailCount(true), 1);
        EXPECT_TRUE(WebHostDeleteMessage("<a1001>"));
        EXPECT_EQ(Strings(site.State()["deleted"]), std::vector<std::string>{"a1001"});
        EXPECT_TRUE(EndsText("/inbox", frmWeb->WebBrowser1->LocationURL()));
        EXPECT_EQ(WebHostNewMailCount(true), 0);
    }
}

TEST_F(WebRoute, APageWithoutMessagesAfterADeleteIsTheListOnlyInTheShapeTheLastDeleteLeaves) {
    // The script knows no link to confirm with, but the site asks for one:
    // the delete ends on the page that asks, which lists no message.
    {
        SCOPED_TRACE("the page that asks, after the only message");
        WebMailSite::TOptions o;
        o.Messages = 1;
        WebMailSite site(o);
        UseSiteWithoutDelLink(site);
        ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
        EXPECT_FALSE(WebHostDeleteMessage("<a1001>"));
        EXPECT_EQ(site.State()["delete_posts"].toArray().size(), 1);
        EXPECT_TRUE(site.State()["deleted"].toArray().isEmpty());
    }
    {
        // The page that asks carries a button named as the delete button; the
        // list held more than the message deleted, so an empty page is not
        // what the delete leaves.
        SCOPED_TRACE("the page that asks with a delete button, after one of five");
        WebMailSite::TOptions o;
        o.ConfirmButton = true;
        WebMailSite site(o);
        UseSiteWithoutDelLink(site);
        ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
        EXPECT_FALSE(WebHostDeleteMessage("<a1003>"));
        EXPECT_EQ(site.State()["delete_posts"].toArray().size(), 1);
        EXPECT_TRUE(site.State()["deleted"].toArray().isEmpty());
    }
    {
        // The log-in page's buttons share the delete button's name.
        SCOPED_TRACE("the log-in page, after the only message");
        WebMailSite::TOptions o;
        o.Messages = 1;
        o.DeleteExpires = true;
        o.DeleteButton = "go";
        WebMailSite site(o);
        UseSiteWithoutDelLink(site, "go");
        ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
        EXPECT_FALSE(WebHostDeleteMessage("<a1001>"));
        EXPECT_EQ(site.State()["expired"].toInt(), 1);
        EXPECT_TRUE(site.State()["deleted"].toArray().isEmpty());
    }
}

TEST_F(WebRoute, LogInFindsItsFieldsByNameWhenThePageAddsOneAsItIsTyped) {
    // Typing the user name adds a field of a form that posts off this
    // computer where the password field stood in the list of inputs.
    WebMailSite::TOptions o;
    o.LoginTrick = "note";
    WebMailSite site(o);
    UseSite(site);
    CreateWebForm();
    frmWeb->Timer1->setInterval(5000);
    EXPECT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
    ProcessEventsFor(300);  // a report the page sent would have arrived
    QJsonObject state = site.State();
    EXPECT_EQ(Strings(state["leaks"]), std::vector<std::string>{}) << "nothing was typed into the other form";
    ASSERT_EQ(state["logins"].toArray().size(), 1);
    QJsonObject login = state["logins"].toArray()[0].toObject();
    EXPECT_TRUE(login["ok"].toBool());
    EXPECT_EQ(login["user"].toString(), "bob");
    EXPECT_EQ(Strings(login["button"]), std::vector<std::string>{"Standard"});
}

TEST_F(WebRoute, LogInStopsWhenThePagePointsItsFormOffThisComputerAsItIsTyped) {
    WebMailSite::TOptions o;
    o.LoginTrick = "action";
    WebMailSite site(o);
    UseSite(site);
    CreateWebForm();
    frmWeb->Timer1->setInterval(5000);
    EXPECT_FALSE(WebHostLogin("testmail", "bob", "s3cret"));
    EXPECT_TRUE(Reported("only over https or to this computer"));
    EXPECT_TRUE(Reported("would send it to http://192.0.2.1/collect"));
    ProcessEventsFor(300);  // a report the page sent would have arrived
    QJsonObject state = site.State();
    EXPECT_TRUE(state["leaks"].toArray().isEmpty());
    EXPECT_TRUE(state["logins"].toArray().isEmpty());
}

TEST_F(WebRoute, EachLogInStartsWithoutTheSessionOfTheLastAccount) {
    // The site keeps its session on "localhost", not on the 127.0.0.1 the
    // script's Cookie names, and the log-out link is not found.
    WebMailSite::TOptions o;
    o.SessionHost = "localhost";
    WebMailSite site(o);
    WriteHostData(StringReplaceAll(HostSection("testmail", site.Url("/login")), "ClickOut=Sign out",
                                   "ClickOut=Sign off"));
    ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
    WebHostLogout();
    EXPECT_EQ(site.State()["logouts"].toInt(), 0);
    // The next account of the provider gets its own mailbox, or none.
    WebHostLogin("testmail", "ann", "wrong");
    EXPECT_EQ(Strings(site.State()["inbox_users"]), std::vector<std::string>{"bob"});
    ASSERT_TRUE(WebHostLogin("testmail", "ann", "pw-ann"));
    QJsonObject state = site.State();
    QJsonArray logins = state["logins"].toArray();
    ASSERT_EQ(logins.size(), 3);
    EXPECT_EQ(logins[2].toObject()["user"].toString(), "ann");
    EXPECT_EQ(Strings(state["inbox_users"]), (std::vector<std::string>{"bob", "ann"}));
}

// The site keeps bob's session where a cookie is not: in local storage or
// IndexedDB, which its log-in form resumes from, or in pages the browser may
// keep. bob does not log out (his account keeps its log-in); ann logs in next.
TEST_F(WebRoute, EachLogInStartsWithoutTheLocalStorageOfTheLastAccount) { SecondAccountGetsItsOwnMailbox("local"); }

TEST_F(WebRoute, EachLogInStartsWithoutTheIndexedDBOfTheLastAccount) { SecondAccountGetsItsOwnMailbox("idb"); }

TEST_F(WebRoute, EachLogInStartsWithoutThePagesTheBrowserKeptForTheLastAccount) {
    SecondAccountGetsItsOwnMailbox("cache");
}

TEST_F(WebRoute, WatchdogEndsAPageThatNeverAnswersAndTheNextLogInStillWorks) {
    WebMailSite site;
    WriteHostData(HostSection("stuck", site.Url("/stall")) + HostSection("testmail", site.Url("/login")));
    CreateWebForm();
    frmWeb->Timer1->setInterval(300);
    EXPECT_FALSE(WebHostLogin("stuck", "bob", "s3cret"));
    ASSERT_FALSE(Reports.empty());
    EXPECT_EQ(Reports[0].Text, "Error: #2001");
    EXPECT_EQ(Reports[0].Kind, 6);
    EXPECT_EQ(Reports[0].Colour, 255);
    EXPECT_FALSE(frmWeb->Timer1->isActive());
    // The stalled load ends late; its end must not pass for the log-in page's.
    frmWeb->Timer1->setInterval(20000);
    EXPECT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
    EXPECT_EQ(WebHostNewMailCount(false), 3);
}

TEST_F(WebRoute, ExitAbandonsAWaitAtOnce) {
    WebMailSite site;
    WriteHostData(HostSection("stuck", site.Url("/stall")));
    CreateWebForm();
    QTimer::singleShot(200, [this] { Exit = true; });
    EXPECT_FALSE(WebHostLogin("stuck", "bob", "s3cret"));
    EXPECT_FALSE(Reported("#2001")) << "the 20-second watchdog was not waited for";
    EXPECT_FALSE(frmWeb->Timer1->isActive());
}

TEST_F(WebRoute, LogOutDeletesEveryCookieOfTheHost) {
    WebMailSite site;
    UseSite(site);
    ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
    EXPECT_GE(CookieEntries(), 1);
    WebHostLogout();
    EXPECT_EQ(site.State()["logouts"].toInt(), 1);
    EXPECT_EQ(CookieEntries(), 0);
    EXPECT_EQ(frmWeb->WebBrowser1->LocationURL(), "about:blank");
    // The site sees no cookie of the old session.
    frmWeb->WebBrowser1->Navigate(site.Url("/home"));
    ASSERT_TRUE(WaitUntil([&] { return frmWeb->WebBrowser1->ReadyState() == 4; }, 15000));
    QJsonArray requests = site.State()["requests"].toArray();
    QJsonObject home = requests[requests.size() - 2].toObject();  // /home, then its redirect
    EXPECT_EQ(home["path"].toString().toStdString(), "/home");
    EXPECT_EQ(home["cookie"].toString().toStdString(), "");
}

TEST_F(WebRoute, LogOutThroughAnImageLinkAndBodiesOnlyThroughTheirOwnLinks) {
    WebMailSite site;
    WriteHostData(StringReplaceAll(HostSection("testmail", site.Url("/login")), "ClickOut=Sign out",
                                   "ClickOut=signout.png\nImageLink=True"));
    ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
    auto m = NetCreateNoOwner<TNetMessage>();
    // No link has that subject: the list page is not read as a body.
    EXPECT_FALSE(WebHostReadBody(1, *m, "No such subject", "<zz>", true));
    EXPECT_TRUE(site.State()["viewed"].toArray().isEmpty());
    EXPECT_EQ(m->Body.Count(), 0);
    WebHostLogout();
    EXPECT_EQ(site.State()["logouts"].toInt(), 1);
    EXPECT_EQ(CookieEntries(), 0);
}

TEST_F(WebRoute, PasswordGoesOnlyOverHttpsOrToThisComputer) {
    WebMailSite::TOptions o;
    o.LoginAction = "http://192.0.2.1/login";  // never contacted
    WebMailSite site(o);
    UseSite(site);
    // Said as the log-in's trouble, not as a line of its own beside a
    // refused log-in.
    std::string trouble;
    EXPECT_FALSE(WebHostLogin("testmail", "bob", "s3cret", &trouble));
    EXPECT_TRUE(Contains(trouble, "only over https")) << trouble;
    EXPECT_TRUE(Reports.empty());
    EXPECT_TRUE(site.State()["logins"].toArray().isEmpty());
}

TEST_F(WebRoute, LogsInOverHttpsWithAVerifiedCertificate) {
    std::string why;
    if (!BrowserTrustsTestCA(&why)) GTEST_SKIP() << why;
    WebMailSite::TOptions o;
    o.Tls = true;
    WebMailSite site(o);
    UseSite(site);
    ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
    EXPECT_EQ(WebHostNewMailCount(true), 5);
}

TEST_F(WebRoute, ACertificateForAnotherHostIsRefusedAndReported) {
    WebMailSite::TOptions o;
    o.Tls = true;
    o.Cert = TestPKI::Get().WrongHostCert;
    WebMailSite site(o);
    UseSite(site);
    EXPECT_FALSE(WebHostLogin("testmail", "bob", "s3cret"));
    EXPECT_TRUE(Reported("certificate error"));
    EXPECT_TRUE(site.State()["logins"].toArray().isEmpty());
    // Asked for, the refused certificate is the log-in's trouble, said once:
    // not the names the error page lacks.
    Reports.clear();
    std::string trouble;
    EXPECT_FALSE(WebHostLogin("testmail", "bob", "s3cret", &trouble));
    EXPECT_TRUE(StartsText("Web mail: certificate error: 127.0.0.1", trouble)) << trouble;
    EXPECT_TRUE(Reports.empty());
    // A picture of the log-in page from another host whose certificate is
    // refused takes nothing from what the log-in came to: it is said on its
    // own.
    WebMailSite::TOptions p;
    p.Picture = "https://localhost:" + std::to_string(site.Port()) + "/signout.png";
    WebMailSite pictured(p);
    WriteHostData(
        StringReplaceAll(HostSection("testmail", pictured.Url("/login")), "ButtName=go\n", "ButtName=submit\n"));
    EXPECT_FALSE(WebHostLogin("testmail", "bob", "s3cret", &trouble));
    EXPECT_TRUE(StartsText("The web-mail log-in page has no element the host script names: ButtName", trouble))
        << trouble;
    EXPECT_TRUE(Reported("Web mail: certificate error: localhost: "));
}

TEST_F(WebRoute, APageOverTheSizeCapIsNotRead) {
    WebMailSite::TOptions o;
    o.BigKb = 300;
    WebMailSite site(o);
    const int cap = MaxWebPageChars;
    MaxWebPageChars = 200 * 1024;
    UseSite(site);
    ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
    ASSERT_TRUE(frmWeb->WebBrowser1->Navigate(site.Url("/big")));
    ASSERT_TRUE(WaitUntil([&] { return frmWeb->WebBrowser1->ReadyState() == 4; }, 30000));
    EXPECT_EQ(WebHostNewMailCount(true), 0);
    EXPECT_TRUE(Reported("larger than 204800 characters"));
    MaxWebPageChars = cap;
}

TEST_F(WebRoute, AListOfLinksOverTheSizeCapIsNotRead) {
    // 5000 short links: the HTML stays under the cap, their full addresses
    // do not.
    WebMailSite::TOptions o;
    o.BigKb = 100;
    WebMailSite site(o);
    const int cap = MaxWebPageChars;
    MaxWebPageChars = 150 * 1024;
    UseSite(site);
    ASSERT_TRUE(WebHostLogin("testmail", "bob", "s3cret"));
    const std::vector<std::string> before = Strings(site.State()["visits"]);
    const auto inboxVisits = std::count(before.begin(), before.end(), "/inbox");
    ASSERT_TRUE(frmWeb->WebBrowser1->Navigate(site.Url("/manylinks")));
    ASSERT_TRUE(WaitUntil([&] { return frmWeb->WebBrowser1->ReadyState() == 4; }, 30000));
    std::string html;
    ASSERT_EQ(frmWeb->WebBrowser1->BodyOuterHTML(html, MaxWebPageChars), TBodyRead::Read);
    EXPECT_FALSE(ClickLinkContaining("Mailbox", 1));
    EXPECT_TRUE(Reported("are longer than 153600 characters and were not read"));
    ProcessEventsFor(300);
    const std::vector<std::string> visits = Strings(site.State()["visits"]);
    EXPECT_EQ(std::count(visits.begin(), visits.end(), "/inbox"), inboxVisits);
    MaxWebPageChars = cap;
}

}  // namespace
