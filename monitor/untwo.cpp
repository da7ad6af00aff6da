#include "untwo.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWebEngineProfile>
#include <vector>

#include "EmbeddedBrowser.h"
#include "HostData.h"
#include "NetMessage.h"
#include "ProgramPaths.h"
#include "SysUtils.h"
#include "UrlCache.h"
#include "WebPageText.h"

TfrmWeb *frmWeb = nullptr;
bool WebFormExists = false;
std::string CurrentWebHost;
uint8_t PageComplete = 0;
int MaxWebPageChars = 8 * 1024 * 1024;

namespace {

// Navigations begun when the page-complete flag was last cleared: only a page
// that completes a navigation begun after that may set it again, so the late
// end of an earlier page does not pass for the next one.
int GLoadMark = 0;
// The watchdog ended a wait of the running routine.
bool GTimedOut = false;

// The user exits: the running routine ends at once.
struct EWebAbandoned {};

enum TPageWait { pwDocumentComplete, pwReady, pwIdle };

void Report(const std::string &Text, int Number, int Kind, int Colour) {
    const TWebRouteHost &host = WebRouteHost();
    if (!host.ReportEvent) return;
    try {
        host.ReportEvent(Text, Number, Kind, Colour);
    } catch (...) {
    }
}

bool ExitRequested() {
    const TWebRouteHost &host = WebRouteHost();
    if (!host.ExitRequested) return false;
    try {
        return host.ExitRequested();
    } catch (...) {
        return false;
    }
}

TEmbeddedBrowser &Browser() {
    if (!frmWeb) throw EWebAbandoned();
    // A script's answer is awaited as long as a page.
    frmWeb->WebBrowser1->ScriptTimeoutMs = frmWeb->Timer1->interval();
    return *frmWeb->WebBrowser1;
}

void CheckExit() {
    if (!frmWeb || ExitRequested()) {
        if (frmWeb) frmWeb->Timer1->stop();
        throw EWebAbandoned();
    }
}

THostScript Script() { return ReadHostScript(HostDataFilePath(), CurrentWebHost); }

void ClearPageComplete() {
    PageComplete = 0;
    GLoadMark = Browser().NavigationsBegun();
}

void WaitPage(TPageWait kind) {
    TEmbeddedBrowser &b = Browser();
    frmWeb->Timer1->start();
    for (;;) {
        bool done = kind == pwReady ? b.ReadyState() == 4 : kind == pwIdle ? !b.Busy() : false;
        if (done || PageComplete) break;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
        CheckExit();
    }
    PageComplete = 1;
    frmWeb->Timer1->stop();
}

// The page's body HTML as lines; none when there is no page, it did not
// answer, or it is too large to read.
std::vector<std::string> PageLines() {
    std::string html;
    TBodyRead r = Browser().BodyOuterHTML(html, MaxWebPageChars);
    CheckExit();
    if (r == TBodyRead::TooLarge)
        Report(Format("Web mail: the page %s is larger than %d characters and was not read",
                      Browser().LocationURL().c_str(), MaxWebPageChars),
               0, 5, 255);
    return r == TBodyRead::Read ? SplitPageLines(html) : std::vector<std::string>();
}

std::vector<TBrowserElement> Elements(const TBrowserCollection &c) {
    std::vector<TBrowserElement> e = Browser().Elements(c);
    CheckExit();
    return e;
}

bool IsLoopbackHost(const QString &host) {
    if (host == "::1" || host.compare("localhost", Qt::CaseInsensitive) == 0) return true;
    const QStringList parts = host.split('.');
    if (parts.size() != 4 || parts[0] != "127") return false;
    for (const QString &p : parts) {
        bool ok = false;
        int v = p.toInt(&ok);
        if (!ok || v < 0 || v > 255) return false;
    }
    return true;
}

// A password may go to an address over https, or over http only to this
// computer.
bool SafeForPassword(const std::string &url) {
    QUrl u(QString::fromStdString(url));
    const QString scheme = u.scheme().toLower();
    return scheme == "https" || (scheme == "http" && IsLoopbackHost(u.host()));
}

// Texts as the page's HTML writes them, for comparing with the text a link
// shows.
std::string DecodeSerialisedText(const std::string &s) { return DecodeWebText(s); }

bool ClickLink(const std::string &Text, int N, bool Exact) {
    if (Text.empty() || N < 1) return false;
    const std::vector<TBrowserElement> links = Elements(TBrowserCollection{TBrowserCollection::Links, ""});
    int matches = 0;
    for (size_t i = 0; i < links.size(); ++i) {
        const std::string &text = links[i].OuterText;
        if (!(Exact ? text == Text : Contains(text, Text))) continue;
        if (++matches != N) continue;
        ClearPageComplete();
        bool clicked = Browser().ClickElement(TBrowserCollection{TBrowserCollection::Links, ""}, int(i));
        CheckExit();
        return clicked;
    }
    return false;
}

void ClickImages(const std::string &Text) {
    if (Text.empty()) return;
    const TBrowserCollection images{TBrowserCollection::Images, ""};
    const std::vector<TBrowserElement> list = Elements(images);
    for (size_t i = 0; i < list.size(); ++i)
        if (Contains(list[i].Href, Text)) {
            // An image in a link leaves the page like a link: the wait that
            // follows is for the page it brings, which the empty page of the
            // log-out would otherwise cut off.
            if (list[i].InLink) ClearPageComplete();
            Browser().ClickElement(images, int(i));
            CheckExit();
        }
}

bool LoginSteps(const std::string &Host, const std::string &UserName, const std::string &Password) {
    CurrentWebHost = Host;
    const THostScript s = Script();
    if (!HostHasScript(s)) return false;
    CreateWebForm();
    GTimedOut = false;
    SetNavigationSound(true);
    DeleteHostCookie(s.Cookie);
    ClearPageComplete();
    if (!Browser().Navigate(s.AHost, 2)) {
        Report("Web mail: the log-in address of " + Host + " (" + s.AHost + ") is not an http or https address",
               0, 5, 255);
        return false;
    }
    WaitPage(pwReady);
    WaitPage(pwIdle);

    const TBrowserCollection inputs = TBrowserCollection::Tagged("INPUT");
    const std::vector<TBrowserElement> elements = Elements(inputs);
    if (!elements.empty()) {
        // The button that will be clicked sends the form: the password may
        // only go where that form goes.
        int button = -1, count = 0;
        for (size_t i = 0; i < elements.size() && button < 0; ++i)
            if (!s.ButtName.empty() && elements[i].Name == s.ButtName && ++count == s.ButtRND) button = int(i);
        const std::string page = Browser().LocationURL();
        for (size_t i = 0; i < elements.size(); ++i) {
            if (s.PassName.empty() || elements[i].Name != s.PassName) continue;
            std::vector<std::string> destinations = {page, elements[i].FormAction};
            if (button >= 0) destinations.push_back(elements[size_t(button)].FormAction);
            for (const std::string &d : destinations)
                if (!d.empty() && !SafeForPassword(d)) {
                    Report("Web mail: the password of " + Host + " is sent only over https or to this computer; "
                           "the log-in page " + page + " would send it to " + d,
                           0, 5, 255);
                    return false;
                }
        }
        for (size_t i = 0; i < elements.size(); ++i) {
            if (!s.NameName.empty() && elements[i].Name == s.NameName)
                Browser().SetElementValue(inputs, int(i), UserName);
            else if (!s.PassName.empty() && elements[i].Name == s.PassName)
                Browser().SetElementValue(inputs, int(i), Password);
            CheckExit();
        }
        if (button >= 0) {
            ClearPageComplete();
            Browser().ClickElement(inputs, button);
            CheckExit();
        }
    }
    WaitPage(pwDocumentComplete);
    WaitPage(pwIdle);
    if (s.ClickIn1) {
        ClickLink(s.ClickLink1, s.R1, false);
        WaitPage(pwDocumentComplete);
        WaitPage(pwReady);
        WaitPage(pwIdle);
    }
    if (s.ClickIn2) {
        ClickLink(s.ClickLink2, s.R2, false);
        WaitPage(pwDocumentComplete);
        WaitPage(pwReady);
        WaitPage(pwIdle);
    }
    const std::string url = Browser().LocationURL();
    // A page that never came is no log-in, whatever address the browser
    // still shows.
    return !GTimedOut && !url.empty() && url != s.AHost;
}

bool ReadBodySteps(int Position, TNetMessage &Message, const std::string &Subject, const std::string &MessageId,
                   bool All) {
    const THostScript s = Script();
    const std::vector<std::string> lines = PageLines();
    // The rank of the wanted message among the messages of its subject.
    int rank = 0;
    const int count = CountWebMessages(lines, s.DelRealN);
    for (int m = 1; m <= count; ++m) {
        TWebListEntry e = ReadWebListEntry(lines, s, m, true);
        if (e.Subject == Subject) ++rank;
        if ("<" + e.Id + ">" == MessageId) break;
    }
    std::string linkText = Subject;
    TWebListEntry entry = ReadWebListEntry(lines, s, Position, All);
    if (entry.Found) {
        ApplyWebListEntry(entry, s, Message, Now());
        linkText = entry.Subject;
    }
    GTimedOut = false;
    // No link of that text: the list page is no message page, and is not read
    // as one.
    if (!ClickLink(DecodeSerialisedText(linkText), rank, true)) return false;
    WaitPage(pwDocumentComplete);
    WaitPage(pwReady);
    if (GTimedOut) return false;
    Message.Body.Clear();
    if (!ReadWebBody(PageLines(), s, Message.Body)) return false;
    // Back to the list, which the caller reads next.
    ClearPageComplete();
    if (Browser().GoBack()) WaitPage(pwDocumentComplete);
    return true;
}

bool DeleteSteps(const std::string &MessageId) {
    const THostScript s = Script();
    const std::vector<std::string> lines = PageLines();
    const int p = LocateWebMessage(lines, s, MessageId);
    if (p == -1) return false;
    const int messages = CountWebMessages(lines, s.DelRealN);
    const TBrowserCollection inputs = TBrowserCollection::Tagged("INPUT");
    const std::vector<TBrowserElement> elements = Elements(inputs);
    std::vector<int> boxes;
    int button = -1;
    for (size_t i = 0; i < elements.size(); ++i) {
        if (!s.DelCBName.empty() && elements[i].Name == s.DelCBName) boxes.push_back(int(i));
        if (button < 0 && !s.DelBtnName.empty() && elements[i].Name == s.DelBtnName) button = int(i);
    }
    // The p-th box must be the p-th message's: on a page of another shape
    // the tick could fall on a message nobody chose.
    if (int(boxes.size()) != messages) {
        Report(Format("Web mail: no message deleted on %s: the page shows %d messages but %d check boxes named "
                      "\"%s\"",
                      CurrentWebHost.c_str(), messages, int(boxes.size()), s.DelCBName.c_str()),
               0, 5, 255);
        return false;
    }
    // Exactly this message's box ticked, whatever the page had ticked before.
    for (size_t k = 0; k < boxes.size(); ++k) {
        bool wanted = int(k) == p - 1;
        if (elements[size_t(boxes[k])].Checked != wanted) Browser().ClickElement(inputs, boxes[k]);
        CheckExit();
    }
    GTimedOut = false;
    bool buttonClicked = false, linkClicked = false;
    if (button >= 0) {
        ClearPageComplete();
        buttonClicked = Browser().ClickElement(inputs, button);
        CheckExit();
        // A confirming link stands on the page the button brings.
        if (buttonClicked) WaitPage(pwDocumentComplete);
    }
    if (!s.DelLink.empty()) {
        linkClicked = ClickLink(s.DelLink, 1, false);
        if (linkClicked) WaitPage(pwDocumentComplete);
    }
    WaitPage(pwReady);
    WaitPage(pwIdle);
    if (GTimedOut) return false;
    if (!buttonClicked && !linkClicked) return false;
    return (buttonClicked || s.DelBtnName.empty()) && (linkClicked || s.DelLink.empty());
}

}  // namespace

// --- the form ------------------------------------------------------------------

TfrmWeb::TfrmWeb(QWidget *Owner) : QWidget(Owner) {
    setWindowTitle("Tarnwick - WEB Host - Connected...");
    resize(742, 513);
    Profile = new QWebEngineProfile(this);  // no storage name: off the record
    WebBrowser1 = new TEmbeddedBrowser(this, Profile);
    WebBrowser1->setGeometry(8, 8, 729, 497);
    WebBrowser1->EnableDDE = false;
    WebBrowser1->ReplaceCaption = false;
    WebBrowser1->fpExceptions = true;
    WebBrowser1->OnDocumentComplete = [this](QObject *s, const std::string &u) { WebBrowser1DocumentComplete(s, u); };
    WebBrowser1->OnNewWindow2 = [this](QObject *s, bool &c) { WebBrowser1NewWindow2(s, c); };
    WebBrowser1->OnBeforeNavigate2 = [this](QObject *s, const std::string &u, int &f, bool &c) {
        WebBrowser1BeforeNavigate2(s, u, f, c);
    };
    WebBrowser1->OnShowMessage = [this](QObject *s, const std::string &t, const std::string &c, unsigned ty,
                                        long &r) { return WebBrowser1ShowMessage(s, t, c, ty, r); };
    WebBrowser1->OnShowDialog = [this](QObject *s, const std::string &d) { WebBrowser1ShowDialog(s, d); };
    WebBrowser1->AbandonWait = [] { return ExitRequested(); };
    Timer1 = new QTimer(this);
    Timer1->setInterval(20000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    FormCreate();
}

TfrmWeb::~TfrmWeb() {
    FormDestroy();
    // The page goes before the profile it lives in.
    delete WebBrowser1;
    WebBrowser1 = nullptr;
    if (frmWeb == this) frmWeb = nullptr;
}

void TfrmWeb::FormCreate() {
    WebFormExists = true;
    // Everything may load, scripts included: web-mail sites need them.
    TDownloadControlOptions all;
    for (int i = 0; i < DownloadControlOptionCount; ++i) all.Include(TDownloadControlOption(i));
    all.Exclude(DLCTL_NO_SCRIPTS);
    all.Exclude(DLCTL_NO_JAVA);
    WebBrowser1->SetDownloadOptions(all);
    WebBrowser1->Loaded();
}

void TfrmWeb::FormDestroy() { WebFormExists = false; }

void TfrmWeb::Timer1Timer() {
    Timer1->stop();
    PageComplete = 1;
    GTimedOut = true;
    Report("Error: #2001", 0, 6, 255);
}

void TfrmWeb::WebBrowser1DocumentComplete(QObject *, const std::string &) {
    if (WebBrowser1->CompletedLoad() > GLoadMark) PageComplete = 1;
}

void TfrmWeb::WebBrowser1NewWindow2(QObject *, bool &Cancel) { Cancel = true; }

void TfrmWeb::WebBrowser1BeforeNavigate2(QObject *, const std::string &, int &Flags, bool &) { Flags = 2; }

long TfrmWeb::WebBrowser1ShowMessage(QObject *, const std::string &, const std::string &, unsigned, long &) {
    return 0;  // page message boxes never appear
}

void TfrmWeb::WebBrowser1ShowDialog(QObject *, const std::string &Dialog) {
    // The one refusal a user must hear of: the site's certificate.
    if (StartsText("certificate error", Dialog)) Report("Web mail: " + Dialog, 0, 5, 255);
}

void CreateWebForm() {
    if (frmWeb) return;
    frmWeb = new TfrmWeb(nullptr);
    // The form belongs to the application: it goes when the application
    // does, before the engine's own clean-up (routines added later run first).
    static bool postRoutine = false;
    if (!postRoutine) {
        qAddPostRoutine(FreeWebForm);
        postRoutine = true;
    }
}

void FreeWebForm() {
    delete frmWeb;
    frmWeb = nullptr;
}

// --- the routines ------------------------------------------------------------------

bool WebHostLogin(const std::string &Host, const std::string &UserName, const std::string &Password) {
    try {
        return LoginSteps(Host, UserName, Password);
    } catch (const EWebAbandoned &) {
        return false;
    }
}

void WebHostLogout() {
    if (!frmWeb) return;
    try {
        const THostScript s = Script();
        if (!s.ClickOut.empty()) {
            if (s.ImageLink)
                ClickImages(s.ClickOut);
            else
                ClickLink(s.ClickOut, 1, false);
            WaitPage(pwDocumentComplete);
            WaitPage(pwReady);
            WaitPage(pwIdle);
        }
        // The wait below is for the empty page, not for what came before.
        ClearPageComplete();
        Browser().Navigate("about:blank", 2);
        DeleteHostCookie(s.Cookie);
        WaitPage(pwReady);
        SetNavigationSound(false);
    } catch (const EWebAbandoned &) {
    } catch (...) {
        Report("Error: #2016", 0, 6, 255);
        if (frmWeb) frmWeb->Timer1->start();
    }
}

int WebHostNewMailCount(bool All) {
    if (!frmWeb) return 0;
    try {
        const THostScript s = Script();
        return CountWebMessages(PageLines(), All ? s.DelRealN : s.NewMail);
    } catch (const EWebAbandoned &) {
        return 0;
    }
}

bool WebHostReadList(int Position, TNetMessage &Message, bool All) {
    if (!frmWeb) return false;
    try {
        const THostScript s = Script();
        TWebListEntry e = ReadWebListEntry(PageLines(), s, Position, All);
        if (!e.Found) return false;
        ApplyWebListEntry(e, s, Message, Now());
        return true;
    } catch (const EWebAbandoned &) {
        return false;
    }
}

bool WebHostReadBody(int Position, TNetMessage &Message, const std::string &Subject, const std::string &MessageId,
                     bool All) {
    if (!frmWeb) return false;
    try {
        return ReadBodySteps(Position, Message, Subject, MessageId, All);
    } catch (const EWebAbandoned &) {
        return false;
    }
}

int WebHostLocateMessage(const std::string &MessageId) {
    if (!frmWeb) return -1;
    try {
        return LocateWebMessage(PageLines(), Script(), MessageId);
    } catch (const EWebAbandoned &) {
        return -1;
    }
}

bool WebHostDeleteMessage(const std::string &MessageId) {
    if (!frmWeb) return false;
    try {
        return DeleteSteps(MessageId);
    } catch (const EWebAbandoned &) {
        return false;
    }
}

bool ClickLinkContaining(const std::string &Text, int N) {
    try {
        return ClickLink(Text, N, false);
    } catch (const EWebAbandoned &) {
        return false;
    }
}

bool ClickLinkExact(const std::string &Text, int N) {
    try {
        return ClickLink(Text, N, true);
    } catch (const EWebAbandoned &) {
        return false;
    }
}

void ClickImage(const std::string &Text) {
    try {
        ClickImages(Text);
    } catch (const EWebAbandoned &) {
    }
}

void SetNavigationSound(bool) {}

void InstallWebMailCalls() {
    TWebMailCalls calls;
    calls.CreateWebForm = &CreateWebForm;
    calls.WebHostLogin = &WebHostLogin;
    calls.WebHostLogout = &WebHostLogout;
    calls.WebHostNewMailCount = &WebHostNewMailCount;
    calls.WebHostReadList = &WebHostReadList;
    calls.WebHostReadBody = &WebHostReadBody;
    calls.WebHostLocateMessage = &WebHostLocateMessage;
    calls.WebHostDeleteMessage = &WebHostDeleteMessage;
    SetWebMailCalls(calls);
}

void DeleteHostCookie(const std::string &Text) {
    if (Text.empty() || !frmWeb) return;
    TCookieRecord *record = TCookieRecord::ForProfile(frmWeb->Profile);
    if (!record) return;
    TUrlCache cache(*record);
    cache.DeleteEntries(2, Text);
}
