#include "UrlCache.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <algorithm>
#include <pwd.h>
#include <unistd.h>

#include "SysUtils.h"

namespace {

std::vector<TCookieRecord *> &Records() {
    static std::vector<TCookieRecord *> records;
    return records;
}

bool SameCookie(const QNetworkCookie &a, const QNetworkCookie &b) { return a.hasSameIdentifier(b); }

std::string CookieHost(const QNetworkCookie &c) {
    std::string host = c.domain().toStdString();
    if (!host.empty() && host[0] == '.') host.erase(0, 1);
    return host;
}

std::string CookiePath(const QNetworkCookie &c) {
    std::string path = c.path().toStdString();
    return path.empty() ? "/" : path;
}

bool Matches(const std::string &url, uint8_t kind, const std::string &text) {
    bool cookie = StartsText("cookie:", url), visited = StartsText("visited:", url);
    bool kindMatches = kind == 1 ? !cookie && !visited : kind == 2 ? cookie : kind == 3 ? visited : true;
    return kindMatches && Contains(url, text);
}

}  // namespace

std::string UrlCacheUserName() {
    if (const passwd *pw = getpwuid(geteuid()); pw && pw->pw_name && *pw->pw_name) return pw->pw_name;
    if (const char *user = getenv("USER"); user && *user) return user;
    return "user";
}

// --- the record of one profile ----------------------------------------------------

TCookieRecord::TCookieRecord(QWebEngineProfile *profile) : QObject(profile), FProfile(profile) {
    Records().push_back(this);
    QWebEngineCookieStore *store = profile->cookieStore();
    connect(store, &QWebEngineCookieStore::cookieAdded, this, &TCookieRecord::Added);
    connect(store, &QWebEngineCookieStore::cookieRemoved, this, &TCookieRecord::Removed);
    // Cookies the store held before the record listened arrive as added.
    store->loadAllCookies();
}

TCookieRecord::~TCookieRecord() {
    auto &records = Records();
    records.erase(std::remove(records.begin(), records.end(), this), records.end());
}

TCookieRecord *TCookieRecord::ForProfile(QWebEngineProfile *profile) {
    if (!profile) return nullptr;
    for (TCookieRecord *r : Records())
        if (r->FProfile == profile) return r;
    return new TCookieRecord(profile);
}

std::vector<TCookieRecord *> TCookieRecord::All() { return Records(); }

void TCookieRecord::Added(const QNetworkCookie &cookie) {
    for (QNetworkCookie &c : FCookies)
        if (SameCookie(c, cookie)) {
            c = cookie;
            return;
        }
    FCookies.push_back(cookie);
}

void TCookieRecord::Removed(const QNetworkCookie &cookie) {
    FCookies.erase(std::remove_if(FCookies.begin(), FCookies.end(),
                                  [&](const QNetworkCookie &c) { return SameCookie(c, cookie); }),
                   FCookies.end());
}

void TCookieRecord::AddVisited(const std::string &url) {
    if (url.empty()) return;
    ForgetVisited(url);
    FVisited.push_back(url);
    while (FVisited.size() > MaxVisited) FVisited.pop_front();
}

void TCookieRecord::ForgetVisited(const std::string &url) {
    FVisited.erase(std::remove(FVisited.begin(), FVisited.end(), url), FVisited.end());
}

bool TCookieRecord::DeleteCookies(const std::vector<QNetworkCookie> &cookies, int timeoutMs) {
    if (!FProfile) return false;
    QPointer<TCookieRecord> self(this);
    for (const QNetworkCookie &c : cookies) FProfile->cookieStore()->deleteCookie(c);
    // The store deletes on its own thread and says so later.
    auto remaining = [&] {
        for (const QNetworkCookie &c : cookies)
            for (const QNetworkCookie &have : FCookies)
                if (SameCookie(c, have)) return true;
        return false;
    };
    QElapsedTimer clock;
    clock.start();
    while (remaining()) {
        if (clock.elapsed() >= timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!self) return false;
        QThread::msleep(1);
    }
    return true;
}

// --- the snapshot -------------------------------------------------------------------

TUrlCache::TUrlCache() {
    for (TCookieRecord *r : TCookieRecord::All()) Fill(*r);
}

TUrlCache::TUrlCache(TCookieRecord &record) { Fill(record); }

void TUrlCache::Fill(TCookieRecord &record) {
    const std::string user = UrlCacheUserName();
    for (const QNetworkCookie &c : record.Cookies()) {
        std::string url = "Cookie:" + user + "@" + CookieHost(c) + CookiePath(c);
        auto same = std::find_if(FEntries.begin(), FEntries.end(), [&](const TEntry &e) {
            return e.Record == &record && !e.Cookies.empty() && e.SourceUrl == url;
        });
        if (same != FEntries.end()) {
            same->Cookies.push_back(c);
            continue;
        }
        FEntries.push_back({url, &record, {c}, ""});
    }
    for (const std::string &v : record.Visited())
        FEntries.push_back({"Visited: " + user + "@" + v, &record, {}, v});
}

int TUrlCache::FindEntry(uint8_t Kind, const std::string &Text) const {
    for (size_t i = 0; i < FEntries.size(); ++i) {
        if (Matches(FEntries[i].SourceUrl, Kind, Text)) return int(i);
    }
    return -1;
}

bool TUrlCache::Delete(size_t index) {
    TEntry &e = FEntries[index];
    if (!e.Record) return false;
    if (e.Cookies.empty()) {
        e.Record->ForgetVisited(e.VisitedUrl);
    } else if (!e.Record->DeleteCookies(e.Cookies, DeleteTimeoutMs)) {
        return false;
    }
    FEntries.erase(FEntries.begin() + std::ptrdiff_t(index));
    return true;
}

bool TUrlCache::DeleteEntry(uint8_t Kind, const std::string &Text) {
    int i = FindEntry(Kind, Text);
    return i >= 0 && Delete(size_t(i));
}

int TUrlCache::DeleteEntries(uint8_t Kind, const std::string &Text) {
    int deleted = 0;
    // An entry the browser would not let go stays and is passed over.
    for (size_t i = 0; i < FEntries.size();) {
        if (Matches(FEntries[i].SourceUrl, Kind, Text) && Delete(i)) {
            ++deleted;
            continue;
        }
        ++i;
    }
    return deleted;
}
