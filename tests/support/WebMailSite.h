// The web-mail test site (tests/support/webmail_site.py) on 127.0.0.1, and
// what a test process needs before it starts the browser engine.
#pragma once

#include <QJsonObject>
#include <string>
#include <vector>
#include <sys/types.h>

#include "TestSupport.h"

// Call before the first browser of a test: the engine's sandbox cannot run
// for root (and is turned off only then), and the engine trusts the test
// authority of TestPKI through a private certificate database in a home
// folder of this process. Makes the QApplication. Idempotent.
void PrepareBrowserTests();
// False (with the reason) when the private certificate database could not
// be made; https tests skip then.
bool BrowserTrustsTestCA(std::string *why = nullptr);

// The demo section of the shipped host_data.dat under another name, pointed
// at a test site's log-in page.
std::string HostSection(const std::string &name, const std::string &loginUrl);

class WebMailSite {
public:
    struct TOptions {
        bool Tls = false;            // https with TestPKI's server certificate
        std::string Cert;            // another certificate for TestPKI's key
        bool ExtraCheckbox = false;  // one more check box than messages
        std::string LoginAction;     // where the log-in form posts ("" its own page)
        int BigKb = 0;               // size of the filler of /big (and /manylinks)
        std::string LoginTrick;      // "note" or "action": the log-in form changes as it is typed into
        bool ShiftyList = false;     // a1001 ticked; an unticked message moves to the list's end
        std::vector<std::string> ShowIds;  // "ID=SHOWN": the identifier the list shows for ID
        std::string SessionHost;     // the host name the site lives on ("" any)
        int PageSize = 0;            // the list shows this many messages (0 all)
        int NewMailAtLogIn = 0;      // from this good log-in on, a1000 tops the list (0 never)
        bool Rerender = false;       // boxes by place; pollMail() rewrites the rows, keeping them
        bool DeleteExpires = false;  // a delete finds its session expired and deletes nothing
        std::string KeepSession;     // "local", "idb" or "cache": the session is kept there too
        bool NoConfirm = false;      // a delete is carried out at once, back to the list
        int Messages = 0;            // the mailbox holds its first N messages (0 all five)
        std::string DeleteButton;    // the name of the list's delete buttons ("" "del")
        bool ConfirmButton = false;  // the page that asks to confirm has a button of that name
        std::string RefusedAt;       // where a refused log-in is sent, to the log-in form again ("" none)
        bool UnnamedButtons = false; // the log-in form's buttons have no name
        bool ScriptLink = false;     // /home's "Mailbox" link changes the page by script, loading nothing
        bool HiddenRelogin = false;  // /home and /inbox hold a log-in form with a password field they do not show
        bool CutLogIn = false;       // a log-in is answered by closing the connection
        std::string Picture;         // the log-in page shows a picture from this address ("" none)
    };
    WebMailSite();
    explicit WebMailSite(const TOptions &options);
    ~WebMailSite();
    WebMailSite(const WebMailSite &) = delete;
    WebMailSite &operator=(const WebMailSite &) = delete;

    int Port() const { return FPort; }
    // "http://127.0.0.1:<port>" + path (https:// for the TLS twin).
    std::string Url(const std::string &path) const;
    // The site's own record (see the script's header).
    QJsonObject State() const;

private:
    TempDir FDir;
    pid_t FPid = -1;
    int FPort = 0;
    bool FTls = false;
};
