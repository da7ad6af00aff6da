// The embedded web browser the web-mail form drives: one page of Qt
// WebEngine that the host steers. What content it loads (the download-
// control flags), how its user interface behaves (the host-UI flags and the
// host callbacks), print settings and a user-agent token are properties; the
// document is reached through small synchronous calls (body HTML, element
// collections, values, clicks) that run scripts in a world of their own, so
// a page's scripts cannot change what they see.
//
// No window is made until the control is shown: the web-mail route works on
// the page alone. Pages are followed over http and https only, certificates
// are always verified, and every dialog a page asks for (new windows, file
// choosers, log-in boxes, permissions) is refused and told to OnShowDialog.
#pragma once

#include <QPointer>
#include <QRect>
#include <QUrl>
#include <QVariant>
#include <QWebEngineProfile>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"

class QWebEnginePage;
class QWebEngineView;
class QWebEngineLoadingInfo;
class TBrowserPage;

// Host-callback answers, as the browser-hosting protocol numbers them.
constexpr long S_OK = 0;
constexpr long S_FALSE = 1;
constexpr long E_NOTIMPL = long(0x80004001u);
constexpr long E_NOINTERFACE = long(0x80004002u);

// The ambient property that carries the download-control word.
constexpr int DISPID_AMBIENT_DLCONTROL = -5512;

// A set of up to 32 enumerators, one bit each.
template <class E>
class TOptionSet {
public:
    TOptionSet() = default;
    TOptionSet(std::initializer_list<E> items) {
        for (E e : items) Include(e);
    }
    bool Has(E e) const { return (FBits >> unsigned(e)) & 1u; }
    void Include(E e) { FBits |= 1u << unsigned(e); }
    void Exclude(E e) { FBits &= ~(1u << unsigned(e)); }
    bool Empty() const { return FBits == 0; }
    bool operator==(const TOptionSet &o) const { return FBits == o.FBits; }

private:
    uint32_t FBits = 0;
};

enum TDownloadControlOption {
    DLCTL_DLIMAGES, DLCTL_VIDEOS, DLCTL_BGSOUNDS, DLCTL_NO_SCRIPTS, DLCTL_NO_JAVA,
    DLCTL_NO_RUNACTIVEXCTLS, DLCTL_NO_DLACTIVEXCTLS, DLCTL_DOWNLOADONLY, DLCTL_NO_FRAMEDOWNLOAD,
    DLCTL_RESYNCHRONIZE, DLCTL_PRAGMA_NO_CACHE, DLCTL_NO_BEHAVIORS, DLCTL_NO_METACHARSET,
    DLCTL_URL_ENCODING_DISABLE_UTF8, DLCTL_URL_ENCODING_ENABLE_UTF8, DLCTL_FORCEOFFLINE,
    DLCTL_NO_CLIENTPULL, DLCTL_SILENT, DLCTL_OFFLINE
};
constexpr int DownloadControlOptionCount = 19;
using TDownloadControlOptions = TOptionSet<TDownloadControlOption>;
// The published value of each option; the download-control word is their sum.
extern const uint32_t DownloadControlValues[DownloadControlOptionCount];
uint32_t DownloadControlWord(const TDownloadControlOptions &options);

enum TUserInterfaceOption {
    DIALOG, DISABLE_HELP_MENU, NO3DBORDER, SCROLL_NO, DISABLE_SCRIPT_INACTIVE, OPENNEWWIN,
    DISABLE_OFFSCREEN, FLAT_SCROLLBAR, DIV_BLOCKDEFAULT, ACTIVATE_CLIENTHIT_ONLY,
    OVERRIDEBEHAVIORFACTORY, CODEPAGELINKEDFONTS, URL_ENCODING_DISABLE_UTF8,
    URL_ENCODING_ENABLE_UTF8, ENABLE_FORMS_AUTOCOMPLETE, ENABLE_INPLACE_NAVIGATION,
    IME_ENABLE_RECONVERSION, THEME, NOTHEME, NOPICS, NO3DOUTERBORDER
};
constexpr int UserInterfaceOptionCount = 21;
using TUserInterfaceOptions = TOptionSet<TUserInterfaceOption>;
// The host-UI flag value of each option; the host-UI word is their sum.
extern const uint32_t UserInterfaceValues[UserInterfaceOptionCount];
uint32_t HostUIFlagWord(const TUserInterfaceOptions &options);

class TMargins {
public:
    double Left = 0, Right = 0, Top = 0, Bottom = 0;
};

enum TPrintOrientationOption { poPortrait, poLandscape };

class TPrintOptions {
public:
    TPrintOptions() { FHTMLHeader.Add("<HTML></HTML>"); }
    TMargins &Margins() { return FMargins; }
    std::string Header, Footer;
    TPrintOrientationOption Orientation = poPortrait;
    const TStringList &HTMLHeader() const { return FHTMLHeader; }
    void SetHTMLHeader(const TStringList &lines) { FHTMLHeader.Assign(lines); }

private:
    TMargins FMargins;
    TStringList FHTMLHeader;
};

// What the get-host-info callback fills in.
struct TDocHostUIInfo {
    unsigned Size = 0;
    uint32_t Flags = 0;
    unsigned DoubleClick = 0;
};

// What a script error reports.
struct TScriptErrorInfo {
    std::string ErrorLine, ErrorCharacter, ErrorCode, ErrorMessage, ErrorUrl;
};

// One element of a document collection, as the page had it when asked.
struct TBrowserElement {
    std::string Name;        // its name attribute
    std::string Type;        // an input's type
    std::string Value;       // an input's value
    std::string OuterText;   // the text it shows
    std::string Href;        // a link's target or an image's address
    std::string FormAction;  // where an input's form is sent ("" outside a form)
    bool Checked = false;    // a check box's state
    bool InLink = false;     // it is (or stands in) a link with an address
};

// The collections of the document the route reads.
struct TBrowserCollection {
    enum TKind { ByTag, Links, Images } Kind = ByTag;
    std::string Tag;  // for ByTag
    static TBrowserCollection Tagged(const std::string &tag) { return {ByTag, tag}; }
};

// How a body read went.
enum class TBodyRead { Read, NoDocument, TooLarge, Failed };

class TEmbeddedBrowser : public QWidget {
    Q_OBJECT
public:
    // With a profile the page lives in it (the owner keeps the profile alive
    // longer than the control); without one the control makes its own
    // off-the-record profile.
    explicit TEmbeddedBrowser(QWidget *Owner = nullptr, QWebEngineProfile *Profile = nullptr);
    ~TEmbeddedBrowser() override;

    // Call once the owner has set the properties: applies both flag words and
    // adds the user-agent token. Navigate calls it when nobody has.
    void Loaded();

    // --- properties --------------------------------------------------------
    const TDownloadControlOptions &DownloadOptions() const { return FDownloadOptions; }
    void SetDownloadOptions(const TDownloadControlOptions &Value);
    const TUserInterfaceOptions &UserInterfaceOptions() const { return FUserInterfaceOptions; }
    void SetUserInterfaceOptions(const TUserInterfaceOptions &Value);
    uint32_t DownloadControl() const { return FDownloadControl; }
    uint32_t HostUIFlags() const { return FHostUIFlags; }
    TPrintOptions &PrintOptions() { return *FPrintOptions; }
    const std::string &UserAgent() const { return FUserAgent; }
    void SetUserAgent(const std::string &Value);
    // Kept for hosts that set them; nothing here answers to them (no DDE,
    // no HTML Help, no floating-point control word, no browser dialogs to
    // retitle).
    bool ReplaceCaption = true;
    bool EnableDDE = false;
    bool fpExceptions = true;
    std::string HelpFile;

    // --- the browser -------------------------------------------------------
    // Starts loading the address (http, https or about:blank); Flags are
    // accepted for the callers' sake. False when the address is refused.
    bool Navigate(const std::string &URL, int Flags = 0);
    void Stop();
    // One page back in the page's own history; false when there is none.
    bool GoBack();
    void Refresh();
    std::string LocationURL() const;
    // 0 before any page, 1 while a page loads, 4 when it is complete.
    int ReadyState() const;
    bool Busy() const;
    // Navigations begun (asked for, accepted or started); the route tells a
    // new page from an old one by it.
    int NavigationsBegun() const { return FNavigations; }
    // NavigationsBegun() when the last document completed (a stopped load
    // completes nothing).
    int CompletedLoad() const { return FCompletedLoad; }
    // Why the last load of the page could not be made (the engine's error
    // text, as "net::ERR_CONNECTION_REFUSED"): nothing of the site came, and
    // the engine shows its own error page at the address. Empty when it was
    // made, and while a load runs.
    const std::string &LoadError() const { return FLoadError; }
    QWebEnginePage *Page() const;
    QWebEngineProfile *Profile() const { return FProfile; }
    // The window that shows the page, made when the control is first shown.
    QWebEngineView *View() const { return FView; }

    // --- the document --------------------------------------------------------
    // Each call runs a script in the page and waits for its answer, pumping
    // the event loop, at most ScriptTimeoutMs; no answer counts as failure.
    int ScriptTimeoutMs = 20000;
    // Asked while a script's answer is awaited: true gives the wait up at once
    // (the program is closing).
    std::function<bool()> AbandonWait;
    // The body element's HTML as the engine writes it; a body longer than
    // maxChars characters is not fetched (TooLarge).
    TBodyRead BodyOuterHTML(std::string &Html, int MaxChars);
    // The elements of a collection in document order (none when there is no
    // document); when their texts together pass maxChars characters none
    // are fetched (TooLarge).
    TBodyRead Elements(const TBrowserCollection &Collection, std::vector<TBrowserElement> &Out, int MaxChars);
    // Set an element's value (with the input and change events a typing user
    // raises) or click it; the index is 0-based within the collection. False
    // when the element is not there.
    bool SetElementValue(const TBrowserCollection &Collection, int Index, const std::string &Value);
    bool ClickElement(const TBrowserCollection &Collection, int Index);
    // Runs a script in the control's own world; invalid when it did not answer.
    QVariant EvaluateScript(const QString &Script);

    // The ambient properties the page asks its host for: the download-control
    // word for DISPID_AMBIENT_DLCONTROL, else what OnInvoke answers.
    QVariant AmbientProperty(int DispId);

    // --- navigation events -----------------------------------------------------
    std::function<void(QObject *Sender, const std::string &URL, int &Flags, bool &Cancel)> OnBeforeNavigate2;
    std::function<void(QObject *Sender, bool &Cancel)> OnNewWindow2;
    std::function<void(QObject *Sender, const std::string &URL)> OnDocumentComplete;

    // --- host events ------------------------------------------------------------
    // Each is asked when assigned; otherwise the Do... routine answers its
    // default.
    std::function<long(QObject *, int X, int Y)> OnShowContextMenu;
    std::function<long(QObject *, TDocHostUIInfo &)> OnGetHostInfo;
    std::function<long(QObject *)> OnShowUI, OnHideUI, OnUpdateUI;
    std::function<long(QObject *, bool Enable)> OnEnableModeless;
    std::function<long(QObject *, bool Activate)> OnOnDocWindowActivate, OnOnFrameWindowActivate;
    std::function<long(QObject *, const QRect &Border)> OnResizeBorder;
    std::function<long(QObject *, int Key, unsigned Modifiers)> OnTranslateAccelerator;
    std::function<long(QObject *, std::string &Path)> OnGetOptionKeyPath, OnGetOverrideKeyPath;
    std::function<long(QObject *)> OnGetDropTarget, OnGetExternal, OnFilterDataObject;
    std::function<long(QObject *, const std::string &URL, std::string &Translated)> OnTranslateUrl;
    // Script alerts and confirmations. Type: 0 an alert, 1 a question with
    // OK and Cancel; Result 1 means OK. S_OK: the host has answered.
    std::function<long(QObject *, const std::string &Text, const std::string &Caption, unsigned Type,
                       long &Result)>
        OnShowMessage;
    std::function<long(QObject *, const std::string &HelpFile, unsigned Command)> OnShowHelp;
    std::function<long(QObject *, const std::string &Service)> OnQueryService;
    std::function<long(QObject *, unsigned &Count)> OnGetTypeInfoCount;
    std::function<long(QObject *, unsigned Index)> OnGetTypeInfo;
    std::function<long(QObject *, const std::vector<std::string> &Names, std::vector<int> &Ids)> OnGetIDsOfNames;
    std::function<long(QObject *, int DispId, QVariant &Result)> OnInvoke;
    std::function<void(QObject *, const TScriptErrorInfo &)> OnScriptError;
    std::function<void(QObject *, int Command, bool &Cancel)> OnRefresh;
    std::function<void(QObject *)> OnUnload;
    std::function<void(QObject *, bool &CanClose)> OnCloseQuery;
    // A dialog the page asked for, refused: its kind ("new window",
    // "authentication", "file", "permission", "client certificate",
    // "certificate error: HOST: why", HOST the refused address's host).
    std::function<void(QObject *, const std::string &Dialog)> OnShowDialog;

    long DoShowContextMenu(int X, int Y);
    long DoGetHostInfo(TDocHostUIInfo &Info);
    long DoShowUI();
    long DoHideUI();
    long DoUpdateUI();
    long DoEnableModeless(bool Enable);
    long DoDocWindowActivate(bool Activate);
    long DoFrameWindowActivate(bool Activate);
    long DoResizeBorder(const QRect &Border);
    long DoTranslateAccelerator(int Key, unsigned Modifiers);
    long DoGetOptionKeyPath(std::string &Path);
    long DoGetOverrideKeyPath(std::string &Path);
    long DoGetDropTarget();
    long DoGetExternal();
    long DoTranslateUrl(const std::string &URL, std::string &Translated);
    long DoFilterDataObject();
    long DoShowMessage(const std::string &Text, const std::string &Caption, unsigned Type, long &Result);
    long DoShowHelp(unsigned Command);
    long DoQueryService(const std::string &Service);
    long DoGetTypeInfoCount(unsigned &Count);
    long DoGetTypeInfo(unsigned Index);
    long DoGetIDsOfNames(const std::vector<std::string> &Names, std::vector<int> &Ids);
    void DoScriptError(const TScriptErrorInfo &Info);
    bool DoCloseQuery();
    void DoShowDialog(const std::string &Dialog);

protected:
    void showEvent(QShowEvent *Event) override;
    void hideEvent(QHideEvent *Event) override;
    void resizeEvent(QResizeEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    friend class TBrowserPage;
    void ApplySettings();
    void LoadingChanged(const QWebEngineLoadingInfo &Info);
    bool AcceptNavigation(const QUrl &Url, bool MainFrame, bool Typed);
    void CloseRequested();
    QVariant CollectionCall(const char *Function, const TBrowserCollection &Collection,
                            const QVariantList &Args);

    QPointer<QWebEngineProfile> FProfile;
    bool FOwnProfile = false;
    TBrowserPage *FPage = nullptr;
    QWebEngineView *FView = nullptr;
    bool FLoaded = false;
    TDownloadControlOptions FDownloadOptions;
    TUserInterfaceOptions FUserInterfaceOptions;
    uint32_t FDownloadControl = 0;
    uint32_t FHostUIFlags = 0;
    std::unique_ptr<TPrintOptions> FPrintOptions;
    std::string FUserAgent;
    QString FBaseUserAgent;  // the profile's agent before the token went in
    bool FAgentApplied = false;
    // The engine loads (between its start and end reports); a navigation
    // asked for or accepted is pending until the engine reports on it.
    bool FLoading = false;
    bool FNavigatePending = false;
    int FNavigations = 0;
    int FCompletedLoad = 0;
    std::string FLoadError;
    bool FAnyLoad = false;
};
