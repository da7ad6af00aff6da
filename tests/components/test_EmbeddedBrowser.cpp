// The browser wrapper in the real engine, on pages a local HTTP server gives.

#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <gtest/gtest.h>
#include <memory>

#include "EmbeddedBrowser.h"
#include "EventLoopWait.h"
#include "HttpTestServer.h"
#include "OpenSSLServer.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "WebMailSite.h"

namespace {

class Browser : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareBrowserTests();
        B = std::make_unique<TEmbeddedBrowser>();
        B->OnDocumentComplete = [this](QObject *, const std::string &url) { Completed.push_back(url); };
    }
    void Page(const std::string &name, const std::string &html) { WriteTestFile(Dir.File(name), html); }
    // Loads and waits for the document; false when it did not complete.
    bool Load(const std::string &url) {
        size_t before = Completed.size();
        if (!B->Navigate(url)) return false;
        return WaitUntil([&] { return Completed.size() > before && !B->Busy(); }, 15000);
    }
    std::string Eval(const std::string &js) { return B->EvaluateScript(QString::fromStdString(js)).toString().toStdString(); }

    TempDir Dir;
    std::unique_ptr<TEmbeddedBrowser> B;
    std::vector<std::string> Completed;
};

TEST(BrowserFlags, WordsAreTheSumsOfThePublishedValues) {
    EXPECT_EQ(DownloadControlWord({}), 0u);
    EXPECT_EQ(DownloadControlWord({DLCTL_SILENT}), 0x40000000u);
    EXPECT_EQ(DownloadControlWord({DLCTL_DLIMAGES, DLCTL_VIDEOS, DLCTL_BGSOUNDS}), 0x70u);
    EXPECT_EQ(DownloadControlWord({DLCTL_OFFLINE, DLCTL_NO_SCRIPTS}), 0x80000080u);
    EXPECT_EQ(HostUIFlagWord({}), 0u);
    EXPECT_EQ(HostUIFlagWord({SCROLL_NO, NO3DOUTERBORDER, ENABLE_INPLACE_NAVIGATION}), 0x210008u);
    TPrintOptions p;
    ASSERT_EQ(p.HTMLHeader().Count(), 1);
    EXPECT_EQ(p.HTMLHeader()[0], "<HTML></HTML>");
}

TEST_F(Browser, DefaultsAndTheAmbientDownloadWordFollowTheOptions) {
    EXPECT_EQ(B->DownloadControl(), 0x70u);
    EXPECT_EQ(B->AmbientProperty(DISPID_AMBIENT_DLCONTROL).toLongLong(), 0x70);
    B->SetDownloadOptions({});
    EXPECT_EQ(B->AmbientProperty(DISPID_AMBIENT_DLCONTROL).toLongLong(), 0);
    B->SetDownloadOptions({DLCTL_SILENT});
    EXPECT_EQ(B->AmbientProperty(DISPID_AMBIENT_DLCONTROL).toLongLong(), 0x40000000);
    // Other ambient properties are the host's.
    EXPECT_FALSE(B->AmbientProperty(-5501).isValid());
    B->OnInvoke = [](QObject *, int id, QVariant &r) { r = id * 2; return S_OK; };
    EXPECT_EQ(B->AmbientProperty(-5501).toInt(), -11002);

    // Host callbacks answer their defaults while unassigned.
    TDocHostUIInfo info;
    B->SetUserInterfaceOptions({SCROLL_NO, DIALOG});
    EXPECT_EQ(B->DoGetHostInfo(info), S_OK);
    EXPECT_EQ(info.Size, 20u);
    EXPECT_EQ(info.Flags, 9u);
    EXPECT_EQ(B->DoShowContextMenu(1, 2), S_FALSE);
    EXPECT_EQ(B->DoShowUI(), S_FALSE);
    EXPECT_EQ(B->DoTranslateAccelerator(0, 0), S_FALSE);
    std::string path = "x";
    EXPECT_EQ(B->DoGetOverrideKeyPath(path), S_OK);
    EXPECT_EQ(B->DoGetDropTarget(), S_OK);
    EXPECT_EQ(B->DoQueryService("x"), E_NOINTERFACE);
    unsigned count = 7;
    EXPECT_EQ(B->DoGetTypeInfoCount(count), E_NOTIMPL);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(B->DoShowHelp(0), S_FALSE);
    EXPECT_TRUE(B->DoCloseQuery());

    // The engine's settings follow the flags it has settings for.
    B->SetDownloadOptions({DLCTL_NO_SCRIPTS, DLCTL_NO_RUNACTIVEXCTLS});
    B->Loaded();
    QWebEngineSettings *s = B->Page()->settings();
    EXPECT_FALSE(s->testAttribute(QWebEngineSettings::JavascriptEnabled));
    EXPECT_FALSE(s->testAttribute(QWebEngineSettings::AutoLoadImages));
    EXPECT_FALSE(s->testAttribute(QWebEngineSettings::PluginsEnabled));
    EXPECT_FALSE(s->testAttribute(QWebEngineSettings::ShowScrollBars));
    B->SetDownloadOptions({DLCTL_DLIMAGES});
    EXPECT_TRUE(s->testAttribute(QWebEngineSettings::JavascriptEnabled));
    EXPECT_TRUE(s->testAttribute(QWebEngineSettings::AutoLoadImages));
}

TEST_F(Browser, UserAgentTokenGoesOutWhileTheControlLives) {
    HttpTestServer http(Dir.Path());
    Page("ua.html", "<html><body>agent</body></html>");
    QWebEngineProfile profile;
    const QString plain = profile.httpUserAgent();
    {
        TEmbeddedBrowser b(nullptr, &profile);
        b.SetUserAgent("Tarnwick-Web");
        b.Loaded();
        std::vector<std::string> done, dialogs;
        b.OnDocumentComplete = [&](QObject *, const std::string &u) { done.push_back(u); };
        b.OnShowDialog = [&](QObject *, const std::string &d) { dialogs.push_back(d); };
        ASSERT_TRUE(b.Navigate(http.Url("/ua.html")));
        ASSERT_TRUE(WaitUntil([&] { return !done.empty() && !b.Busy(); }, 15000));
        std::string agent = b.EvaluateScript("navigator.userAgent").toString().toStdString();
        EXPECT_TRUE(Contains(agent, "; Tarnwick-Web)")) << agent;
        // What the site would have the browser save is refused.
        ASSERT_TRUE(b.Navigate(http.Url("/_big?size=100")));
        ASSERT_TRUE(WaitUntil([&] { return !dialogs.empty() && !b.Busy(); }, 15000));
        EXPECT_EQ(dialogs[0], "download");
    }
    EXPECT_EQ(profile.httpUserAgent(), plain);
}

TEST_F(Browser, StatesAndElementsOfAPage) {
    HttpTestServer http(Dir.Path());
    Page("form.html",
         "<html><body>\n<form method=\"get\" action=\"/done.html\">\n"
         "<input type=\"text\" name=\"q\" value=\"old\">\n"
         "<input type=\"checkbox\" name=\"c\" checked>\n"
         "<input type=\"submit\" name=\"go\" value=\"Go\">\n</form>\n"
         "<a href=\"/done.html\">Next page</a>\n<img src=\"/pic.png\">\n</body></html>\n");
    Page("done.html", "<html><body>done</body></html>");
    EXPECT_EQ(B->ReadyState(), 0);
    ASSERT_TRUE(B->Navigate(http.Url("/form.html")));
    EXPECT_EQ(B->ReadyState(), 1) << "loading from the moment it is asked";
    EXPECT_TRUE(B->Busy());
    ASSERT_TRUE(WaitUntil([&] { return B->ReadyState() == 4; }, 15000));
    EXPECT_EQ(B->LocationURL(), http.Url("/form.html"));

    const auto list = [&](const TBrowserCollection &c) {
        std::vector<TBrowserElement> out;
        EXPECT_EQ(B->Elements(c, out, 1 << 20), TBodyRead::Read);
        return out;
    };
    std::vector<TBrowserElement> inputs = list(TBrowserCollection::Tagged("INPUT"));
    ASSERT_EQ(inputs.size(), 3u);
    EXPECT_EQ(inputs[0].Name, "q");
    EXPECT_EQ(inputs[0].Value, "old");
    EXPECT_EQ(inputs[0].FormAction, http.Url("/done.html"));
    EXPECT_TRUE(inputs[1].Checked);
    EXPECT_EQ(inputs[2].Type, "submit");
    std::vector<TBrowserElement> links = list({TBrowserCollection::Links, ""});
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].OuterText, "Next page");
    EXPECT_EQ(links[0].Href, http.Url("/done.html"));
    std::vector<TBrowserElement> images = list({TBrowserCollection::Images, ""});
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].Href, http.Url("/pic.png"));
    EXPECT_FALSE(images[0].InLink);
    EXPECT_TRUE(links[0].InLink);

    ASSERT_TRUE(B->SetElementValue(TBrowserCollection::Tagged("INPUT"), 0, "new \"text\""));
    EXPECT_EQ(list(TBrowserCollection::Tagged("INPUT"))[0].Value, "new \"text\"");
    // The link's address alone is longer than 20 characters: nothing comes.
    EXPECT_EQ(B->Elements({TBrowserCollection::Links, ""}, links, 20), TBodyRead::TooLarge);
    EXPECT_TRUE(links.empty());
    EXPECT_FALSE(B->SetElementValue(TBrowserCollection::Tagged("INPUT"), 9, "x"));

    std::string html;
    ASSERT_EQ(B->BodyOuterHTML(html, 1 << 20), TBodyRead::Read);
    EXPECT_TRUE(StartsText("<body>", html));
    EXPECT_EQ(B->BodyOuterHTML(html, 10), TBodyRead::TooLarge);

    size_t before = Completed.size();
    ASSERT_TRUE(B->ClickElement(TBrowserCollection::Tagged("INPUT"), 2));
    ASSERT_TRUE(WaitUntil([&] { return Completed.size() > before && !B->Busy(); }, 15000));
    EXPECT_TRUE(StartsText(http.Url("/done.html?q=new"), B->LocationURL()));
    EXPECT_EQ(B->CompletedLoad(), B->NavigationsBegun());

    // Back to the form through the page's history, after a script's click.
    before = Completed.size();
    ASSERT_TRUE(B->GoBack());
    ASSERT_TRUE(WaitUntil([&] { return Completed.size() > before && !B->Busy(); }, 15000));
    EXPECT_EQ(B->LocationURL(), http.Url("/form.html"));
}

TEST_F(Browser, OnlyHttpAndHttpsAreFollowed) {
    HttpTestServer http(Dir.Path());
    Page("local.html", "<html><body><a href=\"file:///etc/passwd\">x</a></body></html>");
    EXPECT_FALSE(B->Navigate("file:///etc/passwd"));
    EXPECT_FALSE(B->Navigate("data:text/html,hello"));
    EXPECT_FALSE(B->Navigate("not a url"));
    EXPECT_EQ(B->ReadyState(), 0);
    ASSERT_TRUE(Load(http.Url("/local.html")));
    ASSERT_TRUE(B->ClickElement({TBrowserCollection::Links, ""}, 0));
    ProcessEventsFor(300);
    EXPECT_EQ(B->LocationURL(), http.Url("/local.html"));
    EXPECT_FALSE(B->Busy());
}

TEST_F(Browser, ScriptMessagesWindowsAndErrorsGoToTheHost) {
    HttpTestServer http(Dir.Path());
    Page("talk.html",
         "<html><body><script>\n"
         "alert('hello');\n"
         "document.title = confirm('sure?') ? 'yes' : 'no';\n"
         "window.open('/talk.html');\n"
         "undefinedFunction();\n"
         "</script></body></html>");
    std::vector<std::pair<std::string, unsigned>> messages;
    B->OnShowMessage = [&](QObject *, const std::string &text, const std::string &, unsigned type, long &result) {
        messages.push_back({text, type});
        result = 1;
        return S_OK;
    };
    int newWindows = 0;
    B->OnNewWindow2 = [&](QObject *, bool &) { ++newWindows; };
    std::vector<std::string> dialogs;
    B->OnShowDialog = [&](QObject *, const std::string &d) { dialogs.push_back(d); };
    std::vector<TScriptErrorInfo> errors;
    B->OnScriptError = [&](QObject *, const TScriptErrorInfo &e) { errors.push_back(e); };
    ASSERT_TRUE(Load(http.Url("/talk.html")));
    ASSERT_TRUE(WaitUntil([&] { return !errors.empty(); }, 5000));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], (std::pair<std::string, unsigned>{"hello", 0}));
    EXPECT_EQ(messages[1], (std::pair<std::string, unsigned>{"sure?", 1}));
    EXPECT_EQ(Eval("document.title"), "yes");
    EXPECT_EQ(newWindows, 1);
    EXPECT_NE(std::find(dialogs.begin(), dialogs.end(), "new window"), dialogs.end());
    EXPECT_TRUE(Contains(errors[0].ErrorMessage, "undefinedFunction"));
    EXPECT_EQ(errors[0].ErrorLine, "5");
    EXPECT_EQ(errors[0].ErrorUrl, http.Url("/talk.html"));
}

TEST_F(Browser, AStoppedLoadCompletesNothingAndTheNextPageCounts) {
    HttpTestServer http(Dir.Path());
    Page("after.html", "<html><body>after</body></html>");
    ASSERT_TRUE(B->Navigate(http.Url("/_silent?hold=30")));
    ProcessEventsFor(300);
    EXPECT_EQ(B->ReadyState(), 1);
    B->Stop();
    int mark = B->NavigationsBegun();
    ASSERT_TRUE(B->Navigate(http.Url("/after.html")));
    ASSERT_TRUE(WaitUntil([&] { return !Completed.empty() && !B->Busy(); }, 15000));
    ProcessEventsFor(200);
    ASSERT_EQ(Completed.size(), 1u) << "only the page that came completes";
    EXPECT_EQ(Completed[0], http.Url("/after.html"));
    EXPECT_GT(B->CompletedLoad(), mark);
    EXPECT_EQ(B->ReadyState(), 4);
}

TEST_F(Browser, AnUntrustedCertificateRefusesThePage) {
    HttpTestServer https(Dir.Path(), TestPKI::Get().SelfSignedCert, TestPKI::Get().SelfSignedKey);
    Page("secret.html", "<html><body>Only for the trusted</body></html>");
    std::vector<std::string> dialogs;
    B->OnShowDialog = [&](QObject *, const std::string &d) { dialogs.push_back(d); };
    ASSERT_TRUE(Load(https.Url("/secret.html")));
    ASSERT_FALSE(dialogs.empty());
    EXPECT_TRUE(StartsText("certificate error: 127.0.0.1", dialogs[0])) << dialogs[0];
    EXPECT_FALSE(Contains(Eval("document.body.innerText"), "Only for the trusted"));
}

TEST_F(Browser, AWindowIsMadeOnlyWhenTheControlIsShown) {
    int shown = 0, hidden = 0, resized = 0;
    B->OnShowUI = [&](QObject *) { ++shown; return S_OK; };
    B->OnHideUI = [&](QObject *) { ++hidden; return S_OK; };
    B->OnResizeBorder = [&](QObject *, const QRect &) { ++resized; return S_OK; };
    ASSERT_TRUE(Load("about:blank"));
    EXPECT_EQ(B->View(), nullptr) << "the route works on the page alone";
    B->resize(300, 200);
    B->show();
    ASSERT_NE(B->View(), nullptr);
    EXPECT_EQ(B->View()->page(), B->Page());
    EXPECT_EQ(shown, 1);
    B->resize(320, 240);
    EXPECT_EQ(B->View()->size(), QSize(320, 240));
    EXPECT_GE(resized, 1);
    B->hide();
    EXPECT_EQ(hidden, 1);
}

}  // namespace
