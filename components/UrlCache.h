// The browser's cookies and visited pages as a list of cache entries, the
// way the web-mail form finds and deletes a site's log-in cookies.
//
// The engine's cookie store cannot be listed, so each profile gets a
// TCookieRecord that keeps its own list from the store's added and removed
// notices (after asking the store for every cookie it holds). A TUrlCache
// is a snapshot of the records: one entry per host and path, whose address
// reads "Cookie:user@host/path" (user: the login name of this session), and
// one "Visited: user@address" entry per page the browsers completed.
#pragma once

#include <QNetworkCookie>
#include <QObject>
#include <QPointer>
#include <QWebEngineProfile>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>


class TCookieRecord : public QObject {
public:
    // The record of a profile, made (as the profile's child) on first use;
    // null for a null profile.
    static TCookieRecord *ForProfile(QWebEngineProfile *profile);
    // Every record alive, oldest first.
    static std::vector<TCookieRecord *> All();
    ~TCookieRecord() override;

    const std::vector<QNetworkCookie> &Cookies() const { return FCookies; }
    const std::deque<std::string> &Visited() const { return FVisited; }
    void AddVisited(const std::string &url);
    void ForgetVisited(const std::string &url);
    // Asks the store to delete the cookies and waits, pumping the event loop
    // at most timeoutMs, until it has reported each gone. True when all went.
    bool DeleteCookies(const std::vector<QNetworkCookie> &cookies, int timeoutMs);

    // At most this many visited pages are kept, the oldest going first.
    static constexpr size_t MaxVisited = 1000;

private:
    explicit TCookieRecord(QWebEngineProfile *profile);
    void Added(const QNetworkCookie &cookie);
    void Removed(const QNetworkCookie &cookie);

    QPointer<QWebEngineProfile> FProfile;
    std::vector<QNetworkCookie> FCookies;
    std::deque<std::string> FVisited;
};

// The login name that entry addresses carry.
std::string UrlCacheUserName();

class TUrlCache {
public:
    // A snapshot of every record alive.
    TUrlCache();
    // A snapshot of one record.
    explicit TUrlCache(TCookieRecord &record);
    virtual ~TUrlCache() = default;

    int Count() const { return int(FEntries.size()); }
    const std::string &SourceUrl(int index) const { return FEntries.at(size_t(index)).SourceUrl; }

    // The first entry of the kind whose address contains Text (case-
    // sensitive), -1 when none: kind 1 addresses that begin neither with
    // "cookie:" nor "visited:", 2 those that begin with "cookie:", 3 those
    // with "visited:" (prefixes in any case), any other kind every entry.
    int FindEntry(uint8_t Kind, const std::string &Text) const;
    // Deletes the first such entry from the browser and, once the browser
    // has let it go, from the list. True when it went.
    bool DeleteEntry(uint8_t Kind, const std::string &Text);
    // Deletes every such entry; answers how many went.
    int DeleteEntries(uint8_t Kind, const std::string &Text);

    // How long a deletion waits for the browser to confirm it.
    int DeleteTimeoutMs = 5000;

private:
    struct TEntry {
        std::string SourceUrl;
        QPointer<TCookieRecord> Record;
        std::vector<QNetworkCookie> Cookies;  // empty for a visited page
        std::string VisitedUrl;
    };
    void Fill(TCookieRecord &record);
    bool Delete(size_t index);

    std::vector<TEntry> FEntries;
};
