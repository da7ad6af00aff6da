// SASL log-in for the mail clients: the abstract mechanism component, the
// ordered mechanism list each client owns, and the exchange that POP3 runs
// with "AUTH" and IMAP4 with "AUTHENTICATE" (RFC 5034, RFC 3501).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "NetComponent.h"
#include "NetException.h"

NET_EXCEPTION_CLASS(ENetSASLException, ENetException);
NET_EXCEPTION_CLASS(ENetSASLMechNeeded, ENetSASLException);

// A SASL log-in asked for with no mechanism in the client's list.
extern const char *const RSSASLRequired;  // "Need SASL mechanisms to login with it!!"

// One mechanism. Every instance stands in one process-wide list from its
// set-up until it is destroyed.
class TNetSASL : public TNetInitializerComponent {
public:
    ~TNetSASL() override;
    const char *ClassName() const override { return "TNetSASL"; }
    // Enters the instance in the process-wide list.
    void InitComponent() override;

    // The first response, to the server's first (decoded) challenge.
    virtual std::string StartAuthenticate(const std::string &challenge) = 0;
    // Every further response; the base answers with an empty response.
    virtual std::string ContinueAuthenticate(const std::string &challenge);
    // Runs when the exchange has ended, well or not.
    virtual void FinishAuthenticate() {}
    // True when the server's mechanism names hold this one's service name.
    virtual bool IsAuthProtocolAvailable(const TStringList &names) const;
    // The mechanism's name as sent after the command ("PLAIN").
    virtual std::string ServiceName() const { return std::string(); }

protected:
    explicit TNetSASL(TNetInitializerComponent *owner) : TNetInitializerComponent(owner) {}
};

// The mechanism instances alive now, in the order they were set up.
std::vector<TNetSASL *> NetSASLInstances();

// What the exchange needs of a client connection: send one line and read
// the reply to it, whatever its code. POP3 and IMAP4 clients provide it.
class TNetSASLConnection {
public:
    virtual ~TNetSASLConnection() = default;
    virtual void SASLSendCmd(const std::string &line) = 0;
    // Code and text of the reply just read ("+", "PDE4OTYu...").
    virtual std::string SASLReplyCode() = 0;
    virtual std::string SASLReplyText() = 0;
};

class TNetTCPConnection;

// The connection side of a client for the exchange: each line goes through
// SendCmdExpectText accepting any code; the challenge is the reply's text.
class TNetSASLClientConnection : public TNetSASLConnection {
public:
    explicit TNetSASLClientConnection(TNetTCPConnection &client) : FClient(client) {}
    void SASLSendCmd(const std::string &line) override;
    std::string SASLReplyCode() override;
    std::string SASLReplyText() override;

private:
    TNetTCPConnection &FClient;
};

class TNetSASLEntries;

class TNetSASLListEntry {
public:
    explicit TNetSASLListEntry(TNetSASLEntries *collection) : FCollection(collection) {}
    const char *ClassName() const { return "TNetSASLListEntry"; }
    TNetSASL *SASL() const { return FSASL; }
    // Also asks the list's owner to be told when the mechanism is freed.
    void SetSASL(TNetSASL *value);
    void Assign(const TNetSASLListEntry &source) { SetSASL(source.FSASL); }
    // The mechanism's service name, or the entry's class name without one.
    std::string DisplayName() const;

private:
    TNetSASLEntries *FCollection;
    TNetSASL *FSASL = nullptr;
};

// The ordered mechanisms of one client, owned by it.
class TNetSASLEntries {
public:
    explicit TNetSASLEntries(TNetInitializerComponent *owner) : FOwner(owner) {}
    TNetSASLEntries(const TNetSASLEntries &) = delete;
    TNetSASLEntries &operator=(const TNetSASLEntries &) = delete;

    TNetInitializerComponent *Owner() const { return FOwner; }
    int Count() const { return int(FItems.size()); }
    TNetSASLListEntry *Items(int index) const { return FItems.at(size_t(index)).get(); }
    TNetSASLListEntry *Add();
    // Adds an entry for a mechanism.
    TNetSASLListEntry *Add(TNetSASL *sasl);
    void Delete(int index);
    void Clear() { FItems.clear(); }
    // Copies the entries (the mechanisms are shared, not copied).
    void Assign(const TNetSASLEntries &source);
    // Deletes every entry that refers to the component; clients call it from
    // their free-notification handler.
    void RemoveByComp(const TNetInitializerComponent *comp);

    // Logs in with the first mechanism that succeeds, trying the entries
    // from the last to the first. `capabilities` null: the server's names are
    // unknown and every mechanism is tried.
    bool LoginWithSASL(const std::string &command, const std::vector<std::string> &okCodes,
                       const std::vector<std::string> &continueCodes, TNetSASLConnection &client,
                       const TStringList *capabilities, const std::string &capaKeyword);
    // The same over a client connection (POP3 "AUTH", IMAP4 "AUTHENTICATE").
    bool LoginWithSASL(const std::string &command, const std::vector<std::string> &okCodes,
                       const std::vector<std::string> &continueCodes, TNetTCPConnection *client,
                       const TStringList *capabilities, const std::string &capaKeyword);

    // The mechanism names a server offers in its capability lines under a
    // keyword ("SASL" for POP3, "AUTH" for IMAP4), upper case, each once.
    static TStringList ParseCapaSASL(const TStringList &capabilities, const std::string &keyword);

    // A server that keeps asking is cancelled after this many challenges.
    static constexpr int MaxChallenges = 16;

private:
    TNetInitializerComponent *FOwner;
    std::vector<std::unique_ptr<TNetSASLListEntry>> FItems;
};
