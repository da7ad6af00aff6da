#include "untwo.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWebEngineProfile>
#include <vector>

#include "EmbeddedBrowser.h"
#include "settings/HostData.h"
#include "NetMessage.h"
#include "settings/ProgramPaths.h"
#include "settings/unLanguage.h"
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
// While a log-in runs, the certificate errors it meets: told by what the
// log-in comes to rather than each on its own (null when none runs).
std::vector<std::string> *GLogInCertificates = nullptr;

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
    frmWeb->Timer1->start();
    for (;;) {
        // Asked anew each time: the events pumped below may have made the
        // browser anew.
        TEmbeddedBrowser &b = Browser();
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

void ReportLongElements() {
    Report(Format("Web mail: the elements of the page %s are longer than %d characters and were not read",
                  Browser().LocationURL().c_str(), MaxWebPageChars),
           0, 5, 255);
}

// The route's own scripts: each checks what it acts on in the same call that
// acts, so a page that changes between two calls cannot slip the password
// into another form, a tick onto another message or a click onto another
// link. They run in the browser's own world, whose globals the page can
// neither see nor change.
const char *const RoutePrelude =
    "function twNamed(n){var r=[];if(!n)return r;var c=document.getElementsByTagName('INPUT');"
    "for(var i=0;i<c.length;i++)if(c[i].getAttribute('name')===n)r.push(c[i]);return r;}"
    // Whether the page shows an INPUT named n that a user could type into. A
    // page may keep a form to sign in again out of sight (hidden, or in a
    // part it does not show) beside the mailbox.
    "function twShown(n){return twNamed(n).some(function(e){"
    "return e.type!=='hidden'&&e.getClientRects().length>0;});}"
    // Where a submission through the element goes: a submit button's own
    // formaction, else its form's action ('' outside a form). The getters
    // come from the prototypes, so a field named "action" hides nothing.
    "function twAction(e){try{"
    "var ty=String(e.type||'').toLowerCase();"
    "var P=e instanceof HTMLInputElement?HTMLInputElement.prototype:e instanceof HTMLButtonElement?"
    "HTMLButtonElement.prototype:null;"
    "if(P&&(ty==='submit'||ty==='image')&&e.hasAttribute('formaction'))"
    "return Object.getOwnPropertyDescriptor(P,'formAction').get.call(e);"
    "var f=e.form;if(!f)return '';"
    "return Object.getOwnPropertyDescriptor(HTMLFormElement.prototype,'action').get.call(f);"
    "}catch(x){return '?';}}"
    // A password may go over https, or over http only to this computer.
    "function twSafe(u){try{var x=new URL(u);if(x.protocol==='https:')return true;"
    "if(x.protocol!=='http:')return false;var h=x.hostname.toLowerCase();"
    "return h==='localhost'||h==='[::1]'||/^127[.][0-9]+[.][0-9]+[.][0-9]+$/.test(h);}catch(x){return false;}}"
    "function twType(e,v){e.value=v;e.dispatchEvent(new Event('input',{bubbles:true}));"
    "e.dispatchEvent(new Event('change',{bubbles:true}));}";

// Fills the log-in form and clicks its button: [0] no document, [1, clicked],
// [2, page, address] when the password could go to an address that is
// neither https nor this computer, or [3, page, keys] when the script's
// NameName, PassName or ButtName (the keys listed) names no element of the
// page: nothing is typed, or what was is taken out again, and nothing is
// sent. The destinations are checked before anything is typed, again after
// the user name (a page may rebuild its form as it is typed into) and after
// the password, and at the submission itself; a password already typed is
// taken out again.
const char *const LoginScript =
    "function(nn,pn,bn,br,u,p){if(!document.body)return [0];"
    "var typed=[];"
    "function button(){var b=twNamed(bn);return br>=1&&br<=b.length?b[br-1]:null;}"
    "function untype(){for(var i=0;i<typed.length;i++)typed[i].value='';}"
    "function absent(k){untype();return [3,location.href,k];}"
    "function unsafe(){var ps=twNamed(pn).concat(typed);if(ps.length===0)return '';"
    "var d=[location.href];for(var i=0;i<ps.length;i++)d.push(twAction(ps[i]));"
    "var b=button();if(b)d.push(twAction(b));"
    "for(var j=0;j<d.length;j++)if(d[j]!==''&&!twSafe(d[j]))return d[j];return '';}"
    "function refuse(d){untype();return [2,location.href,d];}"
    "var bad=unsafe();if(bad)return refuse(bad);"
    // An empty key names nothing and is not looked for.
    "var gone=[];if(nn&&twNamed(nn).length===0)gone.push('NameName');"
    "if(pn&&twNamed(pn).length===0)gone.push('PassName');if(bn&&!button())gone.push('ButtName');"
    "if(gone.length)return absent(gone);"
    "var ns=twNamed(nn);for(var i=0;i<ns.length;i++)twType(ns[i],u);"
    "bad=unsafe();if(bad)return refuse(bad);"
    "if(pn&&pn!==nn){var ps=twNamed(pn);for(var k=0;k<ps.length;k++){typed.push(ps[k]);twType(ps[k],p);}}"
    "bad=unsafe();if(bad)return refuse(bad);"
    "if(!bn)return [1,false];"
    "var b=button();if(!b)return absent(['ButtName']);"
    // The page's own submit handlers run inside the click and may still
    // point the form elsewhere: the submission itself is checked last.
    "var blocked='';"
    "function guard(ev){var s=ev.submitter;"
    "var d=s&&s.hasAttribute('formaction')?twAction(s):twAction({form:ev.target});"
    "if(typed.length&&d!==''&&!twSafe(d)){ev.preventDefault();blocked=d;}}"
    "window.addEventListener('submit',guard,false);"
    "try{b.click();}finally{window.removeEventListener('submit',guard,false);}"
    "if(blocked)return refuse(blocked);return [1,true];}";

// What a delete is decided on, read in one call: [0] no document, [2] over
// the size cap, or [1, body HTML, the values of the check boxes named cn].
// The boxes themselves stay in this world for the call that ticks.
const char *const DeleteViewScript =
    "function(cap,cn){var b=document.body;if(!b)return [0];var h=b.outerHTML;if(h.length>cap)return [2];"
    "var boxes=twNamed(cn);var v=[];var n=h.length;"
    "for(var i=0;i<boxes.length;i++){v.push(String(boxes[i].value));n+=v[i].length+1;if(n>cap)return [2];}"
    "window.twDeleteView={boxes:boxes,values:v};return [1,h,v];}";

// Ticks the box of the message mid alone and clicks the delete button: [1,
// clicked], or [2, why] when the page is no longer the one read (another
// document, other boxes or values), no longer lists mid exactly once with
// a box for each message, will not keep exactly that box ticked, or has its
// delete button in another form. A page may rewrite its rows beside boxes
// that stay (a new message polled in, boxes whose values are places): the
// message's place is found anew from the page's HTML by the host's tokens
// t (DelRealN, DelLn, MsReadLn, NewMail and the identifier's four), before
// the tick and again before the click, as WebPageText reads a list.
const char *const DeleteActScript =
    "function(mid,t,cap,cn,bn){var v=window.twDeleteView;window.twDeleteView=null;"
    "var changed='the page changed its check boxes after it was read';"
    "if(!v)return [2,changed];"
    "var now=twNamed(cn);if(now.length!==v.boxes.length)return [2,changed];"
    "for(var i=0;i<now.length;i++)if(now[i]!==v.boxes[i]||String(now[i].value)!==v.values[i])return [2,changed];"
    "function has(s,x){return x!==''&&s.indexOf(x)>=0;}"
    "function field(s,a,z){if(has(s,a))s=s.slice(s.indexOf(a)+a.length);if(has(s,z))s=s.slice(0,s.indexOf(z));"
    "return s;}"
    // The box of the message as the page stands now, or why there is none.
    "function box(){var b=document.body;if(!b)return 'the page is gone';var h=b.outerHTML;"
    "if(h.length>cap)return 'the page grew past its size cap';"
    "var L=h.split(/\\r\\n|\\r|\\n/);function at(x){return x>=0&&x<L.length?L[x]:'';}"
    "var n=0,hit=[];for(var j=0;j<L.length;j++){if(!has(L[j],t[0]))continue;"
    "var read=t[3]!==''&&!has(at(j+t[2]),t[3]);var line=at(j+t[1]);"
    "if('<'+(read?field(line,t[6],t[7]):field(line,t[4],t[5]))+'>'===mid)hit.push(n);n++;}"
    "if(hit.length===0)return 'the message '+mid+' no longer stands on the page';"
    "if(hit.length>1)return 'the identifier '+mid+' now stands on '+hit.length+' messages of the page';"
    "var c=twNamed(cn);if(c.length!==n)return 'the page now shows '+n+' messages but '+c.length+' check boxes';"
    "return c[hit[0]];}"
    "var tb=box();if(typeof tb==='string')return [2,tb];"
    "for(var k=0;k<now.length;k++)if(now[k]!==tb&&now[k].checked)now[k].click();"
    "if(!tb.checked)tb.click();"
    "var after=twNamed(cn);var alone=tb.isConnected&&tb.checked;"
    "for(var m=0;m<after.length;m++)if(after[m]!==tb&&after[m].checked)alone=false;"
    "if(!alone||box()!==tb){if(tb.checked)tb.click();return [2,'the page would not keep the message meant ticked alone'];}"
    "var btn=bn?twNamed(bn)[0]:null;if(!btn)return [1,false];"
    "if(btn.form!==tb.form){tb.click();return [2,'the delete button belongs to another form than the check box'];}"
    "btn.click();return [1,true];}";

// Whether the page shows an INPUT named pn: [1, shown].
const char *const ShownInputScript = "function(pn){return [1,twShown(pn)];}";

// Whether the page has an INPUT named bn, and shows one named pn: [1, bn,
// pn]. Asked of the delete button and of the log-in's password field.
const char *const NamedInputsScript = "function(bn,pn){return [1,twNamed(bn).length>0,twShown(pn)];}";

// Clicks the n-th link whose text holds (or, exact, is) t: [1, clicked], or
// [2] when the links' texts and addresses together pass cap characters.
// Matching and clicking are one call, so the link clicked is the one matched.
const char *const LinkClickScript =
    "function(t,n,exact,cap){var c=document.links;var texts=[];var size=0;"
    "for(var i=0;i<c.length;i++){var x=c[i].innerText;if(typeof x!=='string')x=c[i].textContent||'';"
    "texts.push(x);size+=x.length+String(c[i].href||'').length+2;if(size>cap)return [2];}"
    "var m=0;for(var j=0;j<c.length;j++){if(!(exact?texts[j]===t:texts[j].indexOf(t)>=0))continue;"
    "if(++m===n){c[j].click();return [1,true];}}return [1,false];}";

// Clicks every image whose address holds t: [1, an image in a link was
// clicked], or [2] as above.
const char *const ImageClickScript =
    "function(t,cap){var c=document.images;var hit=[];var size=0;"
    "for(var i=0;i<c.length;i++){var h=String(c[i].src||'');size+=h.length+1;if(size>cap)return [2];"
    "if(h.indexOf(t)>=0)hit.push(c[i]);}"
    "var left=false;for(var j=0;j<hit.length;j++){if(hit[j].closest('a[href],area[href]'))left=true;hit[j].click();}"
    "return [1,left];}";

// Runs one of the scripts above with its arguments; the answer as a list.
QVariantList RouteCall(const char *Function, const QJsonArray &Args) {
    const QString script = QString("(function(){%1 return (%2).apply(null,%3);})()")
                               .arg(QString::fromLatin1(RoutePrelude), QString::fromLatin1(Function),
                                    QString::fromUtf8(QJsonDocument(Args).toJson(QJsonDocument::Compact)));
    QVariantList answer = Browser().EvaluateScript(script).toList();
    CheckExit();
    return answer;
}

QString Q(const std::string &s) { return QString::fromStdString(s); }

// Texts as the page's HTML writes them, for comparing with the text a link
// shows.
std::string DecodeSerialisedText(const std::string &s) { return DecodeWebText(s); }

bool ClickLink(const std::string &Text, int N, bool Exact) {
    if (Text.empty() || N < 1) return false;
    // The flag is cleared before the call that clicks; without a click no
    // page is on its way and it stands as it stood.
    const uint8_t was = PageComplete;
    ClearPageComplete();
    const QVariantList r = RouteCall(LinkClickScript, {Q(Text), N, Exact, MaxWebPageChars});
    const bool clicked = r.size() >= 2 && r[0].toInt() == 1 && r[1].toBool();
    if (!clicked) PageComplete = was;
    if (!r.isEmpty() && r[0].toInt() == 2) ReportLongElements();
    return clicked;
}

void ClickImages(const std::string &Text) {
    if (Text.empty()) return;
    // An image in a link leaves the page like a link: the wait that follows
    // is for the page it brings, which the empty page of the log-out would
    // otherwise cut off.
    const uint8_t was = PageComplete;
    ClearPageComplete();
    const QVariantList r = RouteCall(ImageClickScript, {Q(Text), MaxWebPageChars});
    const bool leftPage = r.size() >= 2 && r[0].toInt() == 1 && r[1].toBool();
    if (!leftPage) PageComplete = was;
    if (!r.isEmpty() && r[0].toInt() == 2) ReportLongElements();
}

// A script key and the name it gives, as the user is told of it.
std::string ScriptKey(const std::string &Key, const std::string &Value) { return Key + " \"" + Value + "\""; }

// What the user is told of a log-in that could not be made: a text of the
// language file, then what it concerns.
std::string TroubleText(const char *Number, const char *Default, const std::string &What) {
    return LangText("Messages", Number, Default) + " " + What;
}

// The keys of the script that name no element of the log-in page.
std::string AbsentNames(const THostScript &s, const QVariantList &Keys) {
    std::string named;
    for (const QVariant &k : Keys) {
        const std::string key = k.toString().toStdString();
        std::string one = ScriptKey(key, key == "NameName" ? s.NameName : key == "PassName" ? s.PassName : s.ButtName);
        if (key == "ButtName" && s.ButtRND != 1) one += " (ButtRND " + IntToStr(s.ButtRND) + ")";
        named += (named.empty() ? "" : ", ") + one;
    }
    return named;
}

// Trouble is what the user is told when the log-in could not be made as the
// script says (nothing the site refused); it stays empty otherwise.
bool LoginSteps(const std::string &Host, const std::string &UserName, const std::string &Password,
                std::string &Trouble) {
    CurrentWebHost = Host;
    const THostScript s = Script();
    if (!HostHasScript(s)) {
        Trouble = TroubleText("108", "There is no web-mail script in host_data.dat for the host", Host);
        return false;
    }
    CreateWebForm();
    GTimedOut = false;
    SetNavigationSound(true);
    // Accounts of one provider follow each other in this browser: whatever
    // the last log-in left (a log-out that failed, an account that keeps
    // its log-in, a session a site keeps in local storage, IndexedDB or
    // cached pages rather than a cookie) would log this one into the same
    // mailbox. A profile and page of its own leave nothing of it.
    frmWeb->NewBrowser();
    ClearPageComplete();
    if (!Browser().Navigate(s.AHost, 2)) {
        Trouble = "Web mail: the log-in address of " + Host + " (" + s.AHost + ") is not an http or https address";
        return false;
    }
    // A page that never came is no log-in, and says nothing of the
    // password: the steps after it would act on a page half there.
    const auto ranOut = [&](const std::string &Text) {
        if (GTimedOut) Trouble = Text;
        return GTimedOut;
    };
    const auto ranOutOnLogInPage = [&] {
        return ranOut(TroubleText("102", "The web-mail log-in page did not finish loading:", s.AHost));
    };
    const auto ranOutAfterClick = [&](const std::string &What) {
        return ranOut(TroubleText("103", "The web-mail page did not finish loading after the click on", What));
    };
    // The engine's error page stands at the address of a page that could
    // not be loaded: it is neither a log-in nor a refusal.
    const auto notLoaded = [&] {
        const std::string why = Browser().LoadError();
        if (!why.empty())
            Trouble = TroubleText("111", "The web-mail page could not be loaded:",
                                  Browser().LocationURL() + " (" + why + ")");
        return !why.empty();
    };
    // The browser has left the log-in page, as a log-in that is made does.
    const auto leftLogInPage = [&] {
        const std::string url = Browser().LocationURL();
        return !url.empty() && url != s.AHost;
    };
    // A link the script clicks after the log-in that the page lacks: said,
    // and the log-in goes on (a site may show the page it leads past only
    // at times). Still on the log-in page, the site refused the log-in
    // there and has no such link to show.
    const auto followed = [&](const std::string &Key, const std::string &Text, const std::string &RKey, int R) {
        if (ClickLink(Text, R, false)) return true;
        if (leftLogInPage())
            Report(TroubleText("107", "The web-mail page has no link the host script names:",
                               ScriptKey(Key, Text) + (R != 1 ? " (" + RKey + " " + IntToStr(R) + ")" : "") + " - " +
                                   Browser().LocationURL()),
                   0, 5, 255);
        return false;
    };
    WaitPage(pwReady);
    WaitPage(pwIdle);
    if (ranOutOnLogInPage() || notLoaded()) return false;

    // The button (when there is one) is clicked inside the call.
    ClearPageComplete();
    const QVariantList r = RouteCall(
        LoginScript, {Q(s.NameName), Q(s.PassName), Q(s.ButtName), s.ButtRND, Q(UserName), Q(Password)});
    const int status = r.isEmpty() ? 0 : r[0].toInt();
    if (status == 2 && r.size() >= 3) {
        PageComplete = 1;
        Trouble = "Web mail: the password of " + Host + " is sent only over https or to this computer; "
                  "the log-in page " + r[1].toString().toStdString() + " would send it to " +
                  r[2].toString().toStdString();
        return false;
    }
    if (status == 3 && r.size() >= 3) {
        PageComplete = 1;
        Trouble = TroubleText("101", "The web-mail log-in page has no element the host script names:",
                              AbsentNames(s, r[2].toList()) + " - " + r[1].toString().toStdString());
        return false;
    }
    const bool clicked = status == 1 && r.size() >= 2 && r[1].toBool();
    // Nothing was clicked: no page is on its way.
    if (!clicked) PageComplete = 1;
    WaitPage(pwDocumentComplete);
    WaitPage(pwIdle);
    if (clicked ? ranOutAfterClick(ScriptKey("ButtName", s.ButtName)) : ranOutOnLogInPage()) return false;
    if (notLoaded()) return false;
    // The site answered with a log-in form again, wherever it put it: it
    // refused the log-in.
    if (clicked) {
        const QVariantList again = RouteCall(ShownInputScript, {Q(s.PassName)});
        if (again.size() >= 2 && again[1].toBool()) return false;
    }
    if (s.ClickIn1) {
        if (followed("ClickLink1", s.ClickLink1, "R1", s.R1)) {
            WaitPage(pwDocumentComplete);
            WaitPage(pwReady);
            WaitPage(pwIdle);
            if (ranOutAfterClick(ScriptKey("ClickLink1", s.ClickLink1)) || notLoaded()) return false;
        }
    }
    if (s.ClickIn2) {
        if (followed("ClickLink2", s.ClickLink2, "R2", s.R2)) {
            WaitPage(pwDocumentComplete);
            WaitPage(pwReady);
            WaitPage(pwIdle);
            if (ranOutAfterClick(ScriptKey("ClickLink2", s.ClickLink2)) || notLoaded()) return false;
        }
    }
    return leftLogInPage();
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

// Whether the page a delete brought is the list again: only there does the
// site show whether it carried the delete out. A page that lists messages
// is. One that lists none may be the log-in page of a session that expired,
// an error, or a page that asks to confirm, none of which deleted anything;
// it is the list only as the delete of its last message leaves it: the page
// the delete started from listed that message alone, the delete button
// stands on it still, and the password field of the log-in does not (a
// log-in page may name its button as the list does).
bool ListAfterDelete(const THostScript &s, int MessagesBefore) {
    if (CountWebMessages(PageLines(), s.DelRealN) >= 1) return true;
    if (MessagesBefore != 1) return false;
    const QVariantList r = RouteCall(NamedInputsScript, {Q(s.DelBtnName), Q(s.PassName)});
    return r.size() >= 3 && r[0].toInt() == 1 && r[1].toBool() && !r[2].toBool();
}

bool DeleteSteps(const std::string &MessageId) {
    const THostScript s = Script();
    const auto refuse = [](const std::string &why) {
        Report("Web mail: no message deleted on " + CurrentWebHost + ": " + why, 0, 5, 255);
        return false;
    };
    // The page and its check boxes in one view: the message's place and its
    // box come from the same page.
    const QVariantList view = RouteCall(DeleteViewScript, {MaxWebPageChars, Q(s.DelCBName)});
    const int status = view.isEmpty() ? 0 : view[0].toInt();
    if (status == 2) {
        Report(Format("Web mail: the page %s is larger than %d characters and was not read",
                      Browser().LocationURL().c_str(), MaxWebPageChars),
               0, 5, 255);
        return false;
    }
    if (status != 1 || view.size() < 3) return false;
    const std::vector<std::string> lines = SplitPageLines(view[1].toString().toStdString());
    if (LocateWebMessages(lines, s, MessageId).empty()) return false;
    // A tick by an empty or shared identifier may fall on a message nobody
    // chose.
    const std::string why = WebDeleteRefusal(lines, s, MessageId);
    if (!why.empty()) return refuse(why);
    const int messages = CountWebMessages(lines, s.DelRealN);
    const int boxes = int(view[2].toList().size());
    // A message's box is the one of its place: on a page of another shape
    // the tick could fall on a message nobody chose.
    if (boxes != messages)
        return refuse(Format("the page shows %d messages but %d check boxes named \"%s\"", messages, boxes,
                             s.DelCBName.c_str()));
    GTimedOut = false;
    ClearPageComplete();
    const QJsonArray tokens = {Q(s.DelRealN), s.DelLn,      s.MsReadLn,         Q(s.NewMail),
                               Q(s.Id.Start), Q(s.Id.End), Q(s.Id.ReadStart), Q(s.Id.ReadEnd)};
    const QVariantList act =
        RouteCall(DeleteActScript, {Q(MessageId), tokens, MaxWebPageChars, Q(s.DelCBName), Q(s.DelBtnName)});
    const bool acted = act.size() >= 2 && act[0].toInt() == 1;
    const bool buttonClicked = acted && act[1].toBool();
    // A confirming link stands on the page the button brings; without a
    // click no page is on its way.
    if (buttonClicked)
        WaitPage(pwDocumentComplete);
    else
        PageComplete = 1;
    if (!acted) return act.size() >= 2 ? refuse(act[1].toString().toStdString()) : false;
    bool linkClicked = false;
    if (!s.DelLink.empty()) {
        linkClicked = ClickLink(s.DelLink, 1, false);
        if (linkClicked) WaitPage(pwDocumentComplete);
    }
    WaitPage(pwReady);
    WaitPage(pwIdle);
    if (GTimedOut) return false;
    if (!buttonClicked && !linkClicked) return false;
    if (!((buttonClicked || s.DelBtnName.empty()) && (linkClicked || s.DelLink.empty()))) return false;
    return ListAfterDelete(s, messages);
}

}  // namespace

// --- the form ------------------------------------------------------------------

TfrmWeb::TfrmWeb(QWidget *Owner) : QWidget(Owner) {
    setWindowTitle("Tarnwick - WEB Host - Connected...");
    resize(742, 513);
    Timer1 = new QTimer(this);
    Timer1->setInterval(20000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    NewBrowser();
    FormCreate();
}

TfrmWeb::~TfrmWeb() {
    FormDestroy();
    // The page goes before the profile it lives in.
    delete WebBrowser1;
    WebBrowser1 = nullptr;
    if (frmWeb == this) frmWeb = nullptr;
}

void TfrmWeb::NewBrowser() {
    // The page goes before the profile it lives in, and the profile with
    // everything it kept in memory.
    delete WebBrowser1;
    WebBrowser1 = nullptr;
    delete Profile;
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
    // Everything may load, scripts included: web-mail sites need them.
    TDownloadControlOptions all;
    for (int i = 0; i < DownloadControlOptionCount; ++i) all.Include(TDownloadControlOption(i));
    all.Exclude(DLCTL_NO_SCRIPTS);
    all.Exclude(DLCTL_NO_JAVA);
    WebBrowser1->SetDownloadOptions(all);
    WebBrowser1->Loaded();
    if (isVisible()) WebBrowser1->show();
}

void TfrmWeb::FormCreate() { WebFormExists = true; }

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
    if (!StartsText("certificate error", Dialog)) return;
    if (GLogInCertificates)
        GLogInCertificates->push_back("Web mail: " + Dialog);
    else
        Report("Web mail: " + Dialog, 0, 5, 255);
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

bool WebHostLogin(const std::string &Host, const std::string &UserName, const std::string &Password,
                  std::string *Trouble) {
    std::string trouble;
    std::vector<std::string> certificates;
    bool done = false;
    GLogInCertificates = &certificates;
    try {
        done = LoginSteps(Host, UserName, Password, trouble);
    } catch (const EWebAbandoned &) {
        trouble.clear();
    } catch (...) {
        GLogInCertificates = nullptr;
        throw;
    }
    GLogInCertificates = nullptr;
    if (done) trouble.clear();
    // A page whose certificate was refused is the error page the log-in
    // stopped on: its trouble is the certificate. One refused for a part of
    // a page (a picture, a script) from another host takes nothing from the
    // log-in: it is told as it is outside one.
    const std::string page =
        trouble.empty() || !frmWeb ? "" : QUrl(Q(frmWeb->WebBrowser1->LocationURL())).host().toStdString();
    bool told = false;
    for (const std::string &c : certificates) {
        if (!told && !page.empty() && StartsText("Web mail: certificate error: " + page + ": ", c)) {
            trouble = c;
            told = true;
        } else {
            Report(c, 0, 5, 255);
        }
    }
    // Nobody asked for it: it is told here.
    if (!Trouble && !trouble.empty()) Report(trouble, 0, 5, 255);
    if (Trouble) *Trouble = trouble;
    return done;
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
