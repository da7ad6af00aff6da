// The cookie list over the engine's cookie store.

#include <QJsonArray>
#include <QNetworkCookie>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <gtest/gtest.h>

#include "EmbeddedBrowser.h"
#include "EventLoopWait.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "UrlCache.h"
#include "WebMailSite.h"

namespace {

class UrlCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareBrowserTests();
        B = std::make_unique<TEmbeddedBrowser>();
        Record = TCookieRecord::ForProfile(B->Profile());
        B->OnDocumentComplete = [this](QObject *, const std::string &) { ++Completed; };
    }
    bool Load(const std::string &url) {
        int before = Completed;
        return B->Navigate(url) && WaitUntil([&] { return Completed > before && !B->Busy(); }, 15000);
    }
    void SetCookie(const char *name, const char *path) {
        QNetworkCookie c(name, "v");
        c.setDomain("127.0.0.1");
        c.setPath(path);
        B->Profile()->cookieStore()->setCookie(c, QUrl("http://127.0.0.1/"));
    }

    std::unique_ptr<TEmbeddedBrowser> B;
    TCookieRecord *Record = nullptr;
    int Completed = 0;
    const std::string User = UrlCacheUserName();
};

TEST_F(UrlCacheTest, CookiesAndVisitedPagesAreEntriesOfTheirKind) {
    WebMailSite site;
    ASSERT_TRUE(Load(site.Url("/login")));
    ASSERT_TRUE(WaitUntil([&] { return !Record->Cookies().empty(); }, 5000));
    TUrlCache cache(*Record);
    int cookie = cache.FindEntry(2, "@127.0.0.1/");
    ASSERT_GE(cookie, 0);
    EXPECT_EQ(cache.SourceUrl(cookie), "Cookie:" + User + "@127.0.0.1/");
    int visited = cache.FindEntry(3, "127.0.0.1");
    ASSERT_GE(visited, 0);
    EXPECT_EQ(cache.SourceUrl(visited), "Visited: " + User + "@" + site.Url("/login"));
    EXPECT_EQ(cache.FindEntry(1, "127.0.0.1"), -1) << "kind 1 never matches a cookie or a visited page";
    EXPECT_EQ(cache.FindEntry(9, "127.0.0.1"), 0);
    EXPECT_EQ(cache.FindEntry(2, ""), -1);
    EXPECT_EQ(cache.FindEntry(2, "@127.0.0.2/"), -1);
    EXPECT_EQ(cache.FindEntry(2, "COOKIE:"), -1) << "the text is searched with its case";

    // Deleting the host's cookie leaves its visited page, and the site gets
    // no cookie after it.
    ASSERT_TRUE(cache.DeleteEntry(2, "@127.0.0.1/"));
    EXPECT_EQ(cache.FindEntry(2, "@127.0.0.1/"), -1);
    EXPECT_GE(cache.FindEntry(3, "127.0.0.1"), 0);
    EXPECT_TRUE(Record->Cookies().empty());
    EXPECT_EQ(TUrlCache(*Record).FindEntry(2, "127.0.0.1"), -1);
    ASSERT_TRUE(Load(site.Url("/archive")));
    QJsonArray requests = site.State()["requests"].toArray();
    QJsonObject archive = requests[requests.size() - 2].toObject();  // then its redirect to /login
    EXPECT_EQ(archive["path"].toString().toStdString(), "/archive");
    EXPECT_EQ(archive["cookie"].toString().toStdString(), "");
    EXPECT_FALSE(cache.DeleteEntry(2, "@127.0.0.1/")) << "nothing left to delete";
}

TEST_F(UrlCacheTest, OnlyTheFirstMatchGoesUnlessEveryOneIsAskedFor) {
    // The store takes cookies once the engine runs.
    ASSERT_TRUE(Load("about:blank"));
    SetCookie("a", "/one");
    SetCookie("b", "/two");
    SetCookie("c", "/two");
    ASSERT_TRUE(WaitUntil([&] { return Record->Cookies().size() == 3; }, 5000));
    TUrlCache cache;
    EXPECT_EQ(cache.Count(), 3) << "one entry per host and path, and the empty page visited";
    ASSERT_TRUE(cache.DeleteEntry(2, "127.0.0.1"));
    EXPECT_EQ(cache.Count(), 2);
    ASSERT_EQ(Record->Cookies().size(), 2u);
    EXPECT_EQ(cache.SourceUrl(0), "Cookie:" + User + "@127.0.0.1/two");

    SetCookie("d", "/three");
    ASSERT_TRUE(WaitUntil([&] { return Record->Cookies().size() == 3; }, 5000));
    TUrlCache all(*Record);
    EXPECT_EQ(all.DeleteEntries(2, "@127.0.0.1/"), 2);
    EXPECT_TRUE(Record->Cookies().empty());
    EXPECT_EQ(all.Count(), 1);
    EXPECT_TRUE(StartsText("Visited: ", all.SourceUrl(0)));
}

TEST_F(UrlCacheTest, AnEmptyStoreHasNoEntries) {
    TUrlCache cache(*Record);
    EXPECT_EQ(cache.Count(), 0);
    EXPECT_EQ(cache.FindEntry(2, "x"), -1);
    EXPECT_FALSE(cache.DeleteEntry(0, "x"));
}

}  // namespace
