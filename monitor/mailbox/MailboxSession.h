// One road to a mailbox: the checking cycle and the message reader open,
// list, read and delete through the same session, one implementation per
// account kind (POP3, IMAP4, web mail).
//
//     auto s = TMailboxSession::Create(FrmMain->MailboxClients(), Account);
//     int count = s->Open();               // connected, logged in, selected
//     s->Walk(count, walk);                // every header, in order
//     s->ReadMessage(item, message);       // whole, not marked read
//     s->DeleteMessage(item);              // only when it is still that one
//     s->Close();                          // what this session opened
//     s->DeletionOutcome(item);            // whether the server carried it out
//
// POP3 and IMAP4 go through the clients and TLS handler it is given (the
// main window's own), so only one session of those kinds is open at a
// time; web mail goes through the route the program installed
// (WebMailCalls.h), and while a web-mail session is open no checking cycle
// starts.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "SysUtils.h"

class TNetIMAP4;
class TNetMessage;
class TNetPOP3;
class TNetSSLIOHandlerSocketOpenSSL;
struct Tiedot;

// What a session works with: one client per protocol, shared by every
// session, the TLS handler they take turns on, and whether the program is
// ending (a web-mail wait is then abandoned, nothing refused).
struct TMailboxClients {
    TNetPOP3 *POP3 = nullptr;
    TNetIMAP4 *IMAP4 = nullptr;
    TNetSSLIOHandlerSocketOpenSSL *TLS = nullptr;
    std::function<bool()> Exiting;
};

// What a session needs of an account.
struct TMailboxAccount {
    std::string Name;
    std::string Host;
    int Port = 0;
    std::string UserName;
    std::string Password;
    uint8_t Kind = 0;  // 0 POP3, 1 IMAP4, 2 HTTP
    bool SSL = false;
    std::string Inbox;
    // Web mail: every message the site lists (true) or the new ones only.
    bool AllWebMessages = false;
    // Web mail: the site keeps its log-in when the session closes (the
    // reader logs out when its window closes).
    bool KeepWebLogin = false;
};

// The account record's part a session needs.
TMailboxAccount MailboxAccountOf(const Tiedot &Account);

// One message as the session listed it.
struct TMailboxItem {
    int Number = 0;         // where it stood on the server (web mail: in the list)
    std::string Uid;        // IMAP4 UID; POP3 UIDL, asked for with WithUids
    int64_t Size = -1;      // asked for with WithSizes; -1 when none came
    bool Seen = false;      // IMAP4 \Seen, a web-mail message listed as read
    std::string MessageId;  // as the header gave it
    std::string Failure;    // its header could not be fetched: why
    bool Missing = false;   // the list has no message there
    bool Deleted = false;   // the server accepted its deletion (or may have: see DeletionOutcome)
};

// What became of a deletion the server accepted (a message said Deleted).
enum TDeletionOutcome {
    doFinal,    // carried out
    doUndone,   // certainly not: the message is still there, unmarked
    doUnknown,  // the server may have carried it out or not
};

// What the walk's caller wants done with a message whose header arrived.
enum TMailboxVerdict {
    mvKeep,    // nothing on the server
    mvDelete,  // delete it; Handle learns whether that was done
    mvRead,    // Handle reads the whole message through the session
};

// A walk over the messages: each header as it arrives to Arrived, then each
// message in order to Handle once what the server was asked for it is
// answered. Arrived and Handle are called once per message, in the same
// order; a message without a header (Failure or Missing: the server
// refused it, it is too large, the answer left it out) goes to Handle
// without passing Arrived, and the walk goes on.
struct TMailboxWalk {
    bool WithSizes = false;
    // Each message's lasting identifier where the server has one (POP3
    // UIDL), for a read or a delete in a later session.
    bool WithUids = false;
    std::function<bool()> Stopping;
    std::function<TMailboxVerdict(TMailboxItem &Item, TNetMessage &Header)> Arrived;
    std::function<void(TMailboxItem &Item)> Handle;
};

// The web-mail site did not accept the log-in.
class EMailboxLoginFailed : public Exception {
public:
    using Exception::Exception;
};

class TMailboxSession {
public:
    // Null for an account of no known kind.
    static std::unique_ptr<TMailboxSession> Create(const TMailboxClients &Clients, const TMailboxAccount &Account);
    // A session (the cycle's or the reader's) holds one of the clients, or
    // the reader works on the web-mail route: no other may start.
    static bool AnyInUse(const TMailboxClients &Clients);
    virtual ~TMailboxSession() = default;
    TMailboxSession(const TMailboxSession &) = delete;
    TMailboxSession &operator=(const TMailboxSession &) = delete;

    // Another session (the cycle's or the reader's) holds the client.
    virtual bool InUse() const { return false; }
    // Connects and logs in with the account's TLS choice and selects the
    // mailbox: the number of messages.
    virtual int Open() = 0;
    // The same for one more operation of a window that opened the mailbox
    // before: web mail logs in again only when the page lists no new mail.
    virtual int Resume() { return Open(); }
    // True while Open logs in: a refusal then is a bad log-in.
    bool LoggingIn() const { return FLoggingIn; }
    // What Open raised is the server's (or the site's) refusal of the
    // log-in, whatever words it chose for it.
    bool RefusedLogIn(const std::exception &e) const;
    // The messages 1..Count. A broken exchange raises once what was
    // complete before it is handled.
    virtual void Walk(int Count, TMailboxWalk &Walk) = 0;
    // The walk stopped because Stopping said so.
    bool Ended() const { return FEnded; }
    // The whole message, read without marking it read; false when the
    // server gives no message there or another one.
    virtual bool ReadMessage(const TMailboxItem &Item, TNetMessage &Message) = 0;
    // Deletes the message only when the server still has that very one
    // (POP3: at its number, with its UIDL, or without one its Message-ID
    // and size; IMAP4: the message of its UID, wherever it stands now, with
    // its Message-ID); true when it is gone.
    virtual bool DeleteMessage(const TMailboxItem &Item) = 0;
    // What the walk deleted becomes final (IMAP4 expunge).
    virtual void Finish() {}
    // Closes what this session opened. Raises when the goodbye failed;
    // closed either way. IMAP4 deletions not carried out by then are given
    // up first (their flags taken off). Undo: POP3 RSET first.
    virtual void Close(bool Undo = false) = 0;
    // Once the session is closed, what became of the deletion of a message
    // said Deleted. POP3: carried out when QUIT was answered +OK, undone
    // when the session ended before QUIT went out, not known otherwise (a
    // QUIT answered -ERR, late or cut). IMAP4: carried out once the expunge
    // that named it succeeded, undone once its \Deleted flag came off again
    // (a deletion given up while the connection lasts), not known otherwise.
    // Web mail: at once.
    virtual TDeletionOutcome DeletionOutcome(const TMailboxItem &) const { return doFinal; }

protected:
    TMailboxSession(const TMailboxClients &Clients, const TMailboxAccount &Account)
        : FClients(Clients), FAccount(Account) {}
    bool Exiting() const { return FClients.Exiting && FClients.Exiting(); }
    TMailboxClients FClients;
    TMailboxAccount FAccount;
    bool FLoggingIn = false;
    bool FEnded = false;
};
