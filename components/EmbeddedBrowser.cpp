#include "EmbeddedBrowser.h"

#include <QAuthenticator>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QMenu>
#include <QThread>
#include <QWebEngineCertificateError>
#include <QWebEngineClientCertificateSelection>
#include <QWebEngineDownloadRequest>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <memory>

#include "UrlCache.h"

const uint32_t DownloadControlValues[DownloadControlOptionCount] = {
    0x00000010, 0x00000020, 0x00000040, 0x00000080, 0x00000100, 0x00000200, 0x00000400,
    0x00000800, 0x00001000, 0x00002000, 0x00004000, 0x00008000, 0x00010000, 0x00020000,
    0x00040000, 0x10000000, 0x20000000, 0x40000000, 0x80000000,
};

const uint32_t UserInterfaceValues[UserInterfaceOptionCount] = {
    0x00000001, 0x00000002, 0x00000004, 0x00000008, 0x00000010, 0x00000020, 0x00000040,
    0x00000080, 0x00000100, 0x00000200, 0x00000400, 0x00000800, 0x00001000, 0x00002000,
    0x00004000, 0x00010000, 0x00020000, 0x00040000, 0x00080000, 0x00100000, 0x00200000,
};

uint32_t DownloadControlWord(const TDownloadControlOptions &options) {
    uint32_t word = 0;
    for (int i = 0; i < DownloadControlOptionCount; ++i)
        if (options.Has(TDownloadControlOption(i))) word += DownloadControlValues[i];
    return word;
}

uint32_t HostUIFlagWord(const TUserInterfaceOptions &options) {
    uint32_t word = 0;
    for (int i = 0; i < UserInterfaceOptionCount; ++i)
        if (options.Has(TUserInterfaceOption(i))) word += UserInterfaceValues[i];
    return word;
}

namespace {

std::string Utf8(const QString &s) { return s.toStdString(); }
QString QStr(const std::string &s) { return QString::fromStdString(s); }

// Host events run from the engine's and the window's events: a failing
// handler must not take the event loop with it.
template <class F>
void Guarded(F &&f) {
    try {
        f();
    } catch (...) {
    }
}

// Addresses the main frame may show: the web sites themselves and the empty
// page. Local files, data and the engine's own schemes are never followed.
bool MainFrameSchemeAllowed(const QUrl &url) {
    const QString scheme = url.scheme().toLower();
    if (scheme == "http" || scheme == "https") return !url.host().isEmpty();
    return url.toString() == "about:blank";
}

// Frames inside a page may also hold data and blob documents the page made.
bool SubFrameSchemeAllowed(const QUrl &url) {
    const QString scheme = url.scheme().toLower();
    return scheme == "http" || scheme == "https" || scheme == "about" || scheme == "data" ||
           scheme == "blob";
}

// The scripts below run in a world of their own: the page shares the
// document with them, not its script globals. Collections are numbered
// 0 tag, 1 links, 2 images.
const char *const CollectionPrelude =
    "function twCollection(k,t){return k===1?document.links:k===2?document.images:"
    "document.getElementsByTagName(t);}"
    // A form's real address even when one of its fields is named "action".
    "function twFormAction(e){try{"
    "var ty=String(e.type||'').toLowerCase();"
    "if((e instanceof HTMLInputElement||e instanceof HTMLButtonElement)&&(ty==='submit'||ty==='image'))"
    "return Object.getOwnPropertyDescriptor(e instanceof HTMLInputElement?HTMLInputElement.prototype:"
    "HTMLButtonElement.prototype,'formAction').get.call(e);"
    "if(!e.form)return '';"
    "return Object.getOwnPropertyDescriptor(HTMLFormElement.prototype,'action').get.call(e.form);"
    "}catch(x){return '';}}";

// The list answers [1, rows], or [2] once its texts pass cap characters:
// a page can make its element texts (absolute addresses, nested link texts)
// far longer than its HTML.
const char *const ListScript =
    "function(k,t,cap){var c=twCollection(k,t);var r=[];var n=0;for(var i=0;i<c.length;i++){var e=c[i];"
    "var x=e.innerText;if(typeof x!=='string')x=e.textContent||'';"
    "var h=k===2?e.src:(typeof e.href==='string'?e.href:e.src);if(typeof h!=='string')h='';"
    "var a=e.closest?e.closest('a[href],area[href]'):null;"
    "var row=[e.getAttribute('name')||'',String(e.type||''),typeof e.value==='string'?e.value:'',"
    "x,h,twFormAction(e),!!e.checked,!!a];"
    "for(var j=0;j<6;j++)n+=row[j].length+1;if(n>cap)return [2];"
    "r.push(row);}return [1,r];}";

const char *const ValueScript =
    "function(k,t,i,v){var e=twCollection(k,t)[i];if(!e)return false;e.value=v;"
    "e.dispatchEvent(new Event('input',{bubbles:true}));"
    "e.dispatchEvent(new Event('change',{bubbles:true}));return true;}";

const char *const ClickScript =
    "function(k,t,i){var e=twCollection(k,t)[i];if(!e)return false;e.click();return true;}";

const char *const BodyScript =
    "function(cap){var b=document.body;if(!b)return [0,''];var h=b.outerHTML;"
    "if(h.length>cap)return [2,''];return [1,h];}";

// Why a load failed, in the engine's words ("net::ERR_CONNECTION_REFUSED"),
// or the HTTP status of an answer that brought nothing to show: the
// engine's text for that is a piece of its error page.
std::string LoadFailure(const QWebEngineLoadingInfo &Info) {
    const int code = Info.errorCode();
    if (Info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) return "HTTP " + std::to_string(code);
    const std::string why = Utf8(Info.errorString());
    return why.empty() ? "error " + std::to_string(code) : why;
}

// The engine's agent with the token added inside its first parentheses,
// where platform tokens stand.
QString AgentWithToken(const QString &agent, const QString &token) {
    int close = agent.indexOf(')');
    if (agent.indexOf('(') >= 0 && close > 0) return agent.left(close) + "; " + token + agent.mid(close);
    return agent + " " + token;
}

}  // namespace

// The page overrides through which the engine asks its host.
class TBrowserPage : public QWebEnginePage {
public:
    TBrowserPage(QWebEngineProfile *profile, TEmbeddedBrowser *browser)
        : QWebEnginePage(profile, browser), FBrowser(browser) {}

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override {
        try {
            return FBrowser->AcceptNavigation(url, isMainFrame, type == NavigationTypeTyped);
        } catch (...) {
            return false;
        }
    }

    QWebEnginePage *createWindow(WebWindowType) override {
        try {
            bool cancel = false;
            if (FBrowser->OnNewWindow2) FBrowser->OnNewWindow2(FBrowser, cancel);
            // There is no second window to give a page: a new window is
            // refused whether or not the host cancelled it.
            FBrowser->DoShowDialog("new window");
        } catch (...) {
        }
        return nullptr;
    }

    void javaScriptAlert(const QUrl &origin, const QString &msg) override {
        long result = 0;
        if (Ask(msg, 0, result) != S_OK) QWebEnginePage::javaScriptAlert(origin, msg);
    }

    bool javaScriptConfirm(const QUrl &origin, const QString &msg) override {
        long result = 0;
        if (Ask(msg, 1, result) != S_OK) return QWebEnginePage::javaScriptConfirm(origin, msg);
        return result == 1;
    }

    bool javaScriptPrompt(const QUrl &origin, const QString &msg, const QString &defaultValue,
                          QString *answer) override {
        long result = 0;
        if (Ask(msg, 1, result) != S_OK)
            return QWebEnginePage::javaScriptPrompt(origin, msg, defaultValue, answer);
        return false;
    }

    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                  int lineNumber, const QString &sourceID) override {
        if (level != ErrorMessageLevel) return;
        try {
            TScriptErrorInfo info;
            info.ErrorLine = std::to_string(lineNumber);
            info.ErrorCharacter = "0";
            info.ErrorCode = "0";
            info.ErrorMessage = Utf8(message);
            info.ErrorUrl = Utf8(sourceID);
            FBrowser->DoScriptError(info);
        } catch (...) {
        }
    }

    QStringList chooseFiles(FileSelectionMode, const QStringList &, const QStringList &) override {
        FBrowser->DoShowDialog("file");
        return {};
    }

private:
    long Ask(const QString &msg, unsigned type, long &result) {
        try {
            return FBrowser->DoShowMessage(Utf8(msg), "Message from webpage", type, result);
        } catch (...) {
            return S_OK;  // a failing host shows nothing
        }
    }

    TEmbeddedBrowser *FBrowser;
};

TEmbeddedBrowser::TEmbeddedBrowser(QWidget *Owner, QWebEngineProfile *Profile)
    : QWidget(Owner), FProfile(Profile), FPrintOptions(std::make_unique<TPrintOptions>()) {
    if (!FProfile) {
        FProfile = new QWebEngineProfile(this);  // no storage name: off the record
        FOwnProfile = true;
    }
    TCookieRecord::ForProfile(FProfile);
    FPage = new TBrowserPage(FProfile, this);
    connect(FPage, &QWebEnginePage::loadingChanged, this, &TEmbeddedBrowser::LoadingChanged);
    connect(FPage, &QWebEnginePage::windowCloseRequested, this, &TEmbeddedBrowser::CloseRequested);
    connect(FPage, &QWebEnginePage::certificateError, this, [this](const QWebEngineCertificateError &error) {
        // Certificates are always verified: an error refuses the page.
        QWebEngineCertificateError copy(error);
        copy.rejectCertificate();
        DoShowDialog("certificate error: " + Utf8(error.url().host()) + ": " + Utf8(error.description()));
    });
    connect(FPage, &QWebEnginePage::authenticationRequired, this, [this](const QUrl &, QAuthenticator *auth) {
        *auth = QAuthenticator();  // left empty, the request is cancelled
        DoShowDialog("authentication");
    });
    connect(FPage, &QWebEnginePage::proxyAuthenticationRequired, this,
            [this](const QUrl &, QAuthenticator *auth, const QString &) {
                *auth = QAuthenticator();
                DoShowDialog("authentication");
            });
    connect(FPage, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl &origin, QWebEnginePage::Feature feature) {
                FPage->setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
                DoShowDialog("permission");
            });
    connect(FPage, &QWebEnginePage::selectClientCertificate, this,
            [this](QWebEngineClientCertificateSelection selection) {
                selection.selectNone();
                DoShowDialog("client certificate");
            });
    connect(FProfile, &QWebEngineProfile::downloadRequested, this, [this](QWebEngineDownloadRequest *request) {
        if (request->page() != FPage) return;
        request->cancel();
        DoShowDialog("download");
    });
    // Defaults as the control has always had them.
    FDownloadOptions = {DLCTL_DLIMAGES, DLCTL_VIDEOS, DLCTL_BGSOUNDS};
    FDownloadControl = DownloadControlWord(FDownloadOptions);
    FHostUIFlags = 0;
}

TEmbeddedBrowser::~TEmbeddedBrowser() {
    if (FAgentApplied && FProfile) FProfile->setHttpUserAgent(FBaseUserAgent);
    // The view and the page go before the profile they live in.
    delete FView;
    FView = nullptr;
    delete FPage;
    FPage = nullptr;
    if (FOwnProfile) delete FProfile.data();
}

void TEmbeddedBrowser::Loaded() {
    FLoaded = true;
    ApplySettings();
    SetUserAgent(FUserAgent);
}

void TEmbeddedBrowser::SetDownloadOptions(const TDownloadControlOptions &Value) {
    FDownloadOptions = Value;
    FDownloadControl = DownloadControlWord(Value);
    if (FLoaded) ApplySettings();
}

void TEmbeddedBrowser::SetUserInterfaceOptions(const TUserInterfaceOptions &Value) {
    FUserInterfaceOptions = Value;
    FHostUIFlags = HostUIFlagWord(Value);
    if (FLoaded) ApplySettings();
}

// The engine has settings for three of the download-control flags and one
// host-UI flag; the others are carried as the words the host asks for.
void TEmbeddedBrowser::ApplySettings() {
    QWebEngineSettings *s = FPage->settings();
    s->setAttribute(QWebEngineSettings::AutoLoadImages, FDownloadOptions.Has(DLCTL_DLIMAGES));
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, !FDownloadOptions.Has(DLCTL_NO_SCRIPTS));
    s->setAttribute(QWebEngineSettings::PluginsEnabled, !FDownloadOptions.Has(DLCTL_NO_RUNACTIVEXCTLS));
    TDocHostUIInfo info;
    DoGetHostInfo(info);
    s->setAttribute(QWebEngineSettings::ShowScrollBars, (info.Flags & UserInterfaceValues[SCROLL_NO]) == 0);
}

void TEmbeddedBrowser::SetUserAgent(const std::string &Value) {
    FUserAgent = Value;
    if (!FLoaded || !FProfile) return;
    if (FAgentApplied) {
        FProfile->setHttpUserAgent(FBaseUserAgent);
        FAgentApplied = false;
    }
    if (FUserAgent.empty()) return;
    FBaseUserAgent = FProfile->httpUserAgent();
    FProfile->setHttpUserAgent(AgentWithToken(FBaseUserAgent, QStr(FUserAgent)));
    FAgentApplied = true;
}

QWebEnginePage *TEmbeddedBrowser::Page() const { return FPage; }

bool TEmbeddedBrowser::Navigate(const std::string &URL, int Flags) {
    (void)Flags;
    if (!FLoaded) Loaded();
    QUrl url(QStr(URL));
    if (!url.isValid() || !MainFrameSchemeAllowed(url)) return false;
    ++FNavigations;
    FNavigatePending = true;
    FPage->load(url);
    return true;
}

void TEmbeddedBrowser::Stop() {
    FNavigatePending = false;
    FPage->triggerAction(QWebEnginePage::Stop);
}

bool TEmbeddedBrowser::GoBack() {
    // The page's own history: the engine's back action skips entries that
    // scripts made without a user's gesture, and every click here is one.
    if (!FPage->history()->canGoBack()) return false;
    FPage->runJavaScript("history.back()", QWebEngineScript::ApplicationWorld);
    return true;
}

void TEmbeddedBrowser::Refresh() {
    bool cancel = false;
    if (OnRefresh) OnRefresh(this, 2300, cancel);
    if (!cancel) FPage->triggerAction(QWebEnginePage::Reload);
}

std::string TEmbeddedBrowser::LocationURL() const { return Utf8(FPage->url().toString()); }

bool TEmbeddedBrowser::Busy() const { return FNavigatePending || FLoading; }

int TEmbeddedBrowser::ReadyState() const {
    if (Busy()) return 1;
    return FAnyLoad ? 4 : 0;
}

void TEmbeddedBrowser::LoadingChanged(const QWebEngineLoadingInfo &Info) {
    try {
        switch (Info.status()) {
        case QWebEngineLoadingInfo::LoadStartedStatus:
            ++FNavigations;
            FLoading = true;
            FNavigatePending = false;
            FAnyLoad = true;
            FLoadError.clear();
            return;
        case QWebEngineLoadingInfo::LoadStoppedStatus:
            // A load cut short completes no document. It may be an old one
            // ending after the next was asked for: that one stays pending.
            FLoading = false;
            return;
        case QWebEngineLoadingInfo::LoadSucceededStatus:
        case QWebEngineLoadingInfo::LoadFailedStatus:
            // The engine reports one start and one end for a run of
            // navigations that replace each other: the end is the last one's.
            FLoading = false;
            FNavigatePending = false;
            FCompletedLoad = FNavigations;
            // A site's own page of an HTTP error fails in the engine's eyes
            // too, but it is the site's answer: only the engine's error page
            // stands where nothing of the site came.
            FLoadError = Info.status() == QWebEngineLoadingInfo::LoadFailedStatus && Info.isErrorPage()
                             ? LoadFailure(Info)
                             : std::string();
            if (TCookieRecord *record = TCookieRecord::ForProfile(FProfile))
                record->AddVisited(Utf8(Info.url().toString()));
            if (OnDocumentComplete) OnDocumentComplete(this, Utf8(Info.url().toString()));
            return;
        }
    } catch (...) {
        // A host handler's failure ends here, not in the engine's event loop.
    }
}

bool TEmbeddedBrowser::AcceptNavigation(const QUrl &Url, bool MainFrame, bool Typed) {
    (void)Typed;
    if (!MainFrame) return SubFrameSchemeAllowed(Url);
    std::string url = Utf8(Url.toString());
    bool allowed = MainFrameSchemeAllowed(Url);
    if (allowed) {
        std::string translated;
        if (DoTranslateUrl(url, translated) == S_OK && !translated.empty() && translated != url) {
            // The host sends the page elsewhere: this navigation gives way to
            // the new one.
            FNavigatePending = false;
            QMetaObject::invokeMethod(this, [this, translated] { Navigate(translated); }, Qt::QueuedConnection);
            return false;
        }
        int flags = 0;
        bool cancel = false;
        if (OnBeforeNavigate2) OnBeforeNavigate2(this, url, flags, cancel);
        allowed = !cancel;
    }
    if (!allowed) {
        FNavigatePending = false;
        return false;
    }
    // A click's navigation counts from here: the engine may report no start
    // for it when it replaces a load still running.
    ++FNavigations;
    FNavigatePending = true;
    return true;
}

void TEmbeddedBrowser::CloseRequested() {
    try {
        if (!DoCloseQuery()) return;
        if (OnUnload) OnUnload(this);
        // A page that closes its window leaves the control empty.
        Navigate("about:blank");
    } catch (...) {
    }
}

// --- the document -------------------------------------------------------------

QVariant TEmbeddedBrowser::EvaluateScript(const QString &Script) {
    struct TAnswer {
        bool Done = false;
        QVariant Value;
    };
    auto answer = std::make_shared<TAnswer>();
    QPointer<TEmbeddedBrowser> self(this);
    FPage->runJavaScript(Script, QWebEngineScript::ApplicationWorld, [answer](const QVariant &v) {
        answer->Value = v;
        answer->Done = true;
    });
    QElapsedTimer clock;
    clock.start();
    while (!answer->Done && clock.elapsed() < ScriptTimeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!self) return {};
        if (answer->Done) break;
        if (AbandonWait && AbandonWait()) return {};
        QThread::msleep(1);
    }
    return answer->Done ? answer->Value : QVariant();
}

QVariant TEmbeddedBrowser::CollectionCall(const char *Function, const TBrowserCollection &Collection,
                                          const QVariantList &Args) {
    QJsonArray args;
    args.append(int(Collection.Kind));
    args.append(QStr(Collection.Tag));
    for (const QVariant &a : Args) args.append(QJsonValue::fromVariant(a));
    QString script = QString("(function(){%1 return (%2).apply(null,%3);})()")
                         .arg(QString::fromLatin1(CollectionPrelude), QString::fromLatin1(Function),
                              QString::fromUtf8(QJsonDocument(args).toJson(QJsonDocument::Compact)));
    return EvaluateScript(script);
}

TBodyRead TEmbeddedBrowser::Elements(const TBrowserCollection &Collection, std::vector<TBrowserElement> &Out,
                                     int MaxChars) {
    Out.clear();
    const QVariantList answer = CollectionCall(ListScript, Collection, {MaxChars}).toList();
    if (answer.isEmpty()) return TBodyRead::Failed;
    if (answer[0].toInt() == 2) return TBodyRead::TooLarge;
    if (answer[0].toInt() != 1 || answer.size() < 2) return TBodyRead::Failed;
    const QVariantList rows = answer[1].toList();
    std::vector<TBrowserElement> &out = Out;
    out.reserve(size_t(rows.size()));
    for (const QVariant &row : rows) {
        const QVariantList f = row.toList();
        if (f.size() < 8) continue;
        TBrowserElement e;
        e.Name = Utf8(f[0].toString());
        e.Type = Utf8(f[1].toString());
        e.Value = Utf8(f[2].toString());
        e.OuterText = Utf8(f[3].toString());
        e.Href = Utf8(f[4].toString());
        e.FormAction = Utf8(f[5].toString());
        e.Checked = f[6].toBool();
        e.InLink = f[7].toBool();
        out.push_back(std::move(e));
    }
    return TBodyRead::Read;
}

bool TEmbeddedBrowser::SetElementValue(const TBrowserCollection &Collection, int Index, const std::string &Value) {
    if (Index < 0) return false;
    return CollectionCall(ValueScript, Collection, {Index, QStr(Value)}).toBool();
}

bool TEmbeddedBrowser::ClickElement(const TBrowserCollection &Collection, int Index) {
    if (Index < 0) return false;
    return CollectionCall(ClickScript, Collection, {Index}).toBool();
}

TBodyRead TEmbeddedBrowser::BodyOuterHTML(std::string &Html, int MaxChars) {
    Html.clear();
    QString script = QString("(%1)(%2)").arg(QString::fromLatin1(BodyScript)).arg(MaxChars);
    QVariant v = EvaluateScript(script);
    const QVariantList r = v.toList();
    if (r.size() < 2) return TBodyRead::Failed;
    switch (r[0].toInt()) {
    case 0:
        return TBodyRead::NoDocument;
    case 2:
        return TBodyRead::TooLarge;
    default:
        Html = Utf8(r[1].toString());
        return TBodyRead::Read;
    }
}

QVariant TEmbeddedBrowser::AmbientProperty(int DispId) {
    if (DispId == DISPID_AMBIENT_DLCONTROL) return QVariant(qlonglong(FDownloadControl));
    QVariant result;
    if (OnInvoke) OnInvoke(this, DispId, result);
    return result;
}

// --- host callbacks with their defaults -------------------------------------------

long TEmbeddedBrowser::DoShowContextMenu(int X, int Y) {
    return OnShowContextMenu ? OnShowContextMenu(this, X, Y) : S_FALSE;
}

long TEmbeddedBrowser::DoGetHostInfo(TDocHostUIInfo &Info) {
    if (OnGetHostInfo) return OnGetHostInfo(this, Info);
    Info.Size = 20;
    Info.Flags = FHostUIFlags;
    Info.DoubleClick = 0;
    return S_OK;
}

long TEmbeddedBrowser::DoShowUI() { return OnShowUI ? OnShowUI(this) : S_FALSE; }
long TEmbeddedBrowser::DoHideUI() { return OnHideUI ? OnHideUI(this) : S_FALSE; }
long TEmbeddedBrowser::DoUpdateUI() { return OnUpdateUI ? OnUpdateUI(this) : S_FALSE; }
long TEmbeddedBrowser::DoEnableModeless(bool Enable) {
    return OnEnableModeless ? OnEnableModeless(this, Enable) : S_FALSE;
}
long TEmbeddedBrowser::DoDocWindowActivate(bool Activate) {
    return OnOnDocWindowActivate ? OnOnDocWindowActivate(this, Activate) : S_FALSE;
}
long TEmbeddedBrowser::DoFrameWindowActivate(bool Activate) {
    return OnOnFrameWindowActivate ? OnOnFrameWindowActivate(this, Activate) : S_FALSE;
}
long TEmbeddedBrowser::DoResizeBorder(const QRect &Border) {
    return OnResizeBorder ? OnResizeBorder(this, Border) : S_FALSE;
}
long TEmbeddedBrowser::DoTranslateAccelerator(int Key, unsigned Modifiers) {
    return OnTranslateAccelerator ? OnTranslateAccelerator(this, Key, Modifiers) : S_FALSE;
}
long TEmbeddedBrowser::DoGetOptionKeyPath(std::string &Path) {
    return OnGetOptionKeyPath ? OnGetOptionKeyPath(this, Path) : S_FALSE;
}
long TEmbeddedBrowser::DoGetOverrideKeyPath(std::string &Path) {
    return OnGetOverrideKeyPath ? OnGetOverrideKeyPath(this, Path) : S_OK;
}
long TEmbeddedBrowser::DoGetDropTarget() { return OnGetDropTarget ? OnGetDropTarget(this) : S_OK; }
long TEmbeddedBrowser::DoGetExternal() { return OnGetExternal ? OnGetExternal(this) : S_FALSE; }
long TEmbeddedBrowser::DoTranslateUrl(const std::string &URL, std::string &Translated) {
    return OnTranslateUrl ? OnTranslateUrl(this, URL, Translated) : S_FALSE;
}
long TEmbeddedBrowser::DoFilterDataObject() { return OnFilterDataObject ? OnFilterDataObject(this) : S_FALSE; }
long TEmbeddedBrowser::DoShowMessage(const std::string &Text, const std::string &Caption, unsigned Type,
                                     long &Result) {
    return OnShowMessage ? OnShowMessage(this, Text, Caption, Type, Result) : S_FALSE;
}
long TEmbeddedBrowser::DoShowHelp(unsigned Command) {
    if (OnShowHelp) return OnShowHelp(this, HelpFile, Command);
    // There is no HTML Help viewer to open a help file with.
    return S_FALSE;
}
long TEmbeddedBrowser::DoQueryService(const std::string &Service) {
    return OnQueryService ? OnQueryService(this, Service) : E_NOINTERFACE;
}
long TEmbeddedBrowser::DoGetTypeInfoCount(unsigned &Count) {
    if (OnGetTypeInfoCount) return OnGetTypeInfoCount(this, Count);
    Count = 0;
    return E_NOTIMPL;
}
long TEmbeddedBrowser::DoGetTypeInfo(unsigned Index) {
    return OnGetTypeInfo ? OnGetTypeInfo(this, Index) : E_NOTIMPL;
}
long TEmbeddedBrowser::DoGetIDsOfNames(const std::vector<std::string> &Names, std::vector<int> &Ids) {
    return OnGetIDsOfNames ? OnGetIDsOfNames(this, Names, Ids) : E_NOTIMPL;
}
void TEmbeddedBrowser::DoScriptError(const TScriptErrorInfo &Info) {
    if (OnScriptError) OnScriptError(this, Info);
}
bool TEmbeddedBrowser::DoCloseQuery() {
    bool canClose = true;
    if (OnCloseQuery) OnCloseQuery(this, canClose);
    return canClose;
}
void TEmbeddedBrowser::DoShowDialog(const std::string &Dialog) {
    try {
        if (OnShowDialog) OnShowDialog(this, Dialog);
    } catch (...) {
    }
}

// --- the window, made when a user asks to see the page ---------------------------

void TEmbeddedBrowser::showEvent(QShowEvent *Event) {
    QWidget::showEvent(Event);
    if (!FView) {
        FView = new QWebEngineView(this);
        FView->setPage(FPage);
        FView->setGeometry(rect());
        FView->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(FView, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
            try {
                if (DoShowContextMenu(pos.x(), pos.y()) != S_FALSE) return;
                QMenu *menu = FView->createStandardContextMenu();
                menu->setAttribute(Qt::WA_DeleteOnClose);
                menu->popup(FView->mapToGlobal(pos));
            } catch (...) {
            }
        });
        FView->installEventFilter(this);
        if (QWidget *proxy = FView->focusProxy()) proxy->installEventFilter(this);
        if (window() != this) window()->installEventFilter(this);
        connect(FPage, &QWebEnginePage::selectionChanged, this, [this] { Guarded([this] { DoUpdateUI(); }); });
        FView->show();
    }
    Guarded([this] { DoShowUI(); });
}

void TEmbeddedBrowser::hideEvent(QHideEvent *Event) {
    QWidget::hideEvent(Event);
    Guarded([this] { DoHideUI(); });
}

void TEmbeddedBrowser::resizeEvent(QResizeEvent *Event) {
    QWidget::resizeEvent(Event);
    if (FView) FView->setGeometry(rect());
    Guarded([this] { DoResizeBorder(rect()); });
}

bool TEmbeddedBrowser::eventFilter(QObject *Watched, QEvent *Event) {
    try {
        const bool inView = FView && (Watched == FView || Watched == FView->focusProxy());
        switch (Event->type()) {
        case QEvent::KeyPress: {
            if (!inView) break;
            auto *key = static_cast<QKeyEvent *>(Event);
            // The host may take a key before the page sees it.
            if (DoTranslateAccelerator(key->key(), unsigned(key->modifiers())) == S_OK) return true;
            if (key->key() == Qt::Key_F1 && DoShowHelp(0) == S_OK) return true;
            break;
        }
        case QEvent::WindowActivate:
        case QEvent::WindowDeactivate:
            if (Watched == window()) DoFrameWindowActivate(Event->type() == QEvent::WindowActivate);
            break;
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            if (inView) DoDocWindowActivate(Event->type() == QEvent::FocusIn);
            break;
        case QEvent::ChildAdded:
            // The view makes the widget that takes its keys after a page is set.
            if (FView && Watched == FView && FView->focusProxy()) FView->focusProxy()->installEventFilter(this);
            break;
        default:
            break;
        }
    } catch (...) {
    }
    return QWidget::eventFilter(Watched, Event);
}
