// The web-mail route: accounts of kind HTTP are read through their web-mail
// site, driven in a hidden browser by the host's script in "host_data.dat"
// (the account's Host names the section). The route opens the log-in page,
// fills the user name and password, clicks the log-in button and optional
// links, reads the message count, the list fields and bodies as text between
// tokens in the page's HTML, and deletes a message by ticking its check box
// and clicking the delete button (and a confirming link).
//
// One web form per process: CreateWebForm makes it (hidden; the page works
// without a window) and it lives until FreeWebForm or the program's end.
// The routines below take no form: they all work on that one form, on the
// page it shows now and on the section of the last log-in (CurrentWebHost),
// so callers log in first. They pump the event loop while pages load; each
// wait ends when the page is there, after the watchdog's time (Timer1, 20
// seconds: "Error: #2001"), or at once when the main window asks the program
// to exit, which abandons the whole routine (it then answers false, 0 or -1).
//
// Where the route is stricter than the script asks:
//  - the password goes only to a page (and a form address) over https or on
//    this computer (a loopback address); otherwise the log-in stops. The
//    fields are found by name and the addresses checked in the same script
//    call that types and clicks, so a page that changes in between cannot
//    take the password elsewhere;
//  - a deletion ticks exactly one check box and clicks one delete button,
//    in one call that first checks the page still has the boxes it was read
//    with and finds the message's place on the page anew by its identifier,
//    so that a page that rewrote its rows since gets the box of the message
//    meant. It is refused (and logged) when the page's check boxes do not
//    pair off one to one with its messages, or when the message's identifier
//    is empty, stands on more than one message of the page or on none;
//  - a deletion is done only when the page the clicks bring is the list
//    again (ListAfterDelete in untwo.cpp): a log-in page after an expired
//    session, an error or a page that asks to confirm deleted nothing;
//  - each log-in starts in a browser profile and page of its own, so that no
//    cookie, local storage, IndexedDB or cached page of an earlier log-in
//    (another account of the provider) reaches it; the host's cookie entries
//    go after log-out;
//  - a page whose HTML is over 8 MB (MaxWebPageChars) is not read, nor a list
//    of its elements whose texts come to more.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "WebPageText.h"   // FormatWebSender and the page-text rules
#include "WebMailCalls.h"  // how the cycle and the reader reach the routines below
#include "WebRouteHost.h"  // TWebRouteHost and SetWebRouteHost, set by the main window

class QTimer;
class QWebEngineProfile;
class TEmbeddedBrowser;
class TNetMessage;

class TfrmWeb : public QWidget {
public:
    explicit TfrmWeb(QWidget *Owner = nullptr);
    ~TfrmWeb() override;

    // The browser of the last log-in and its own off-the-record profile:
    // what sites keep in it lives in memory until the next log-in.
    QWebEngineProfile *Profile = nullptr;
    TEmbeddedBrowser *WebBrowser1 = nullptr;
    // The page-wait watchdog: 20000 milliseconds, enabled only while a wait runs.
    QTimer *Timer1 = nullptr;

    // Replaces the browser and its profile by new ones, with nothing kept.
    void NewBrowser();
    void FormCreate();
    void FormDestroy();
    void Timer1Timer();
    void WebBrowser1DocumentComplete(QObject *Sender, const std::string &URL);
    void WebBrowser1NewWindow2(QObject *Sender, bool &Cancel);
    void WebBrowser1BeforeNavigate2(QObject *Sender, const std::string &URL, int &Flags, bool &Cancel);
    long WebBrowser1ShowMessage(QObject *Sender, const std::string &Text, const std::string &Caption,
                                unsigned Type, long &Result);
    void WebBrowser1ShowDialog(QObject *Sender, const std::string &Dialog);
};

// The form, while it exists.
extern TfrmWeb *frmWeb;
extern bool WebFormExists;
// The section of the last log-in; later routines read their keys from it.
extern std::string CurrentWebHost;
// Set when a page completes (and by the watchdog); the waits watch it.
extern uint8_t PageComplete;
// A page whose body HTML is longer (in characters; 8 MB) is not read.
extern int MaxWebPageChars;

// Hands the routines below to the checking cycle and the message reader;
// the module's entry does so when the program loads it (WebMailModule.h).
void InstallWebMailCalls();

void CreateWebForm();
// Frees the form (the main window does so before the application ends).
void FreeWebForm();

// True when, after the script, the browser shows an address that is
// neither empty nor the log-in page (AHost), the page the log-in button
// brought shows no password field named PassName (the site's answer to a
// refused log-in, wherever it puts it), and no wait ran out. When the
// log-in could not be made as the script says (no script for the host, a
// log-in address that is not http or https, a password it withheld, a
// name of it that finds nothing, a page whose certificate was refused,
// that could not be loaded or that did not finish loading), *Trouble says
// so for the user, or, when Trouble is null, the route reports it itself;
// it is empty when the site refused the log-in or it is not known. A link
// text of the script that finds no link is reported, and the log-in goes
// on.
bool WebHostLogin(const std::string &Host, const std::string &UserName, const std::string &Password,
                  std::string *Trouble = nullptr);
// Clicks the log-out link or image, leaves the site for an empty page and
// deletes the host's cookies; failures are reported as "Error: #2016".
void WebHostLogout();
// The number of lines of the page that hold NewMail (All false) or
// DelRealN (All true).
int WebHostNewMailCount(bool All);
// Fills the message's identifier, date, sender, subject and flags from the
// Position-th message (1-based) of the page; false when there is none.
bool WebHostReadList(int Position, TNetMessage &Message, bool All);
// Opens the message's page through its subject link (the N-th link of that
// text when several messages share the subject), copies the body lines into
// Message's body and goes back to the list. False when no body was found.
bool WebHostReadBody(int Position, TNetMessage &Message, const std::string &Subject,
                     const std::string &MessageId, bool All);
// The message's 1-based place on the page (the last, should two messages
// share its identifier), or -1.
int WebHostLocateMessage(const std::string &MessageId);
// True when the message's delete button (and confirming link) was clicked
// and what they brought is the list: a page that lists messages, or an
// empty one with the delete button and no password field, after the
// delete of the only message listed.
bool WebHostDeleteMessage(const std::string &MessageId);

// Click the N-th link (counted from 1 among matches) whose text contains,
// or equals, Text; the page-complete flag is cleared just before the click.
// True when a link was clicked. An empty Text matches no link.
bool ClickLinkContaining(const std::string &Text, int N);
bool ClickLinkExact(const std::string &Text, int N);
// Clicks every image whose address contains Text.
void ClickImage(const std::string &Text);
// The browser here makes no sound when it navigates: nothing to silence.
void SetNavigationSound(bool Off);
// Deletes every cookie entry whose address contains Text.
void DeleteHostCookie(const std::string &Text);
