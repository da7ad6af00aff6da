#include "MailboxSession.h"

#include <algorithm>
#include <deque>
#include <exception>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "NetIMAP4.h"
#include "NetIOHandler.h"
#include "NetMailExceptions.h"
#include "NetMessage.h"
#include "NetPOP3.h"
#include "NetSSLOpenSSL.h"
#include "settings/Tiedot.h"
#include "webmail/WebMailCalls.h"
#include "webmail/WebPageText.h"

namespace {

// A message between its header's arrival and its turn.
struct TWaiting {
    TMailboxItem Item;
    TMailboxVerdict Verdict = mvKeep;
    bool Answered = false;  // the server answered its deletion
};

bool Stop(const TMailboxWalk &W) { return W.Stopping && W.Stopping(); }

// The shared client set up for the account: host, port, the user's name and
// password, and the TLS handler from the start with the SSL flag (neither
// client speaks TLS after a plain greeting for these accounts).
void Configure(TNetSSLIOHandlerSocketOpenSSL *TLS, TNetExplicitTLSClient &Client, const TMailboxAccount &Account) {
    Client.SetHost(Account.Host);
    Client.Username = Account.UserName;
    Client.Password = Account.Password;
    if (Account.SSL) {
        Client.SetIOHandler(TLS);
        Client.SetUseTLS(utUseImplicitTLS);
    } else {
        Client.SetIOHandler(nullptr);
        Client.SetUseTLS(utNoTLSSupport);
    }
    Client.SetPort(Account.Port);
}

// Closed for good and off the shared TLS handler, so the other client (or
// the other session) may take it.
void Release(TNetSSLIOHandlerSocketOpenSSL *TLS, TNetExplicitTLSClient &Client) {
    try {
        if (Client.Connected()) Client.Disconnect(false);
    } catch (const std::exception &) {
    }
    try {
        if (TLS && Client.IOHandler() == TLS) {
            Client.SetIOHandler(nullptr);
            Client.SetUseTLS(utNoTLSSupport);
        }
    } catch (const std::exception &) {
    }
}

// A refusal while logging in is a bad log-in whatever words the server
// chose for it.
bool IsLoginRefusal(const std::exception &e) {
    return dynamic_cast<const ENetReplyPOP3Error *>(&e) || dynamic_cast<const ENetPOP3SASLFailed *>(&e) ||
           dynamic_cast<const ENetPOP3UnsafeCredentials *>(&e) || dynamic_cast<const ENetIMAP4LoginRefused *>(&e) ||
           dynamic_cast<const ENetIMAP4InvalidText *>(&e) || dynamic_cast<const EMailboxLoginFailed *>(&e);
}

// ---- the shared clients ------------------------------------------------------------

// A session on one of the shared clients: what it opened it closes, however
// it ends, and leaves the client off the shared TLS handler.
class TClientSession : public TMailboxSession {
public:
    ~TClientSession() override {
        try {
            Close(false);
        } catch (...) {
        }
    }
    bool InUse() const override { return FClient.Connected(); }
    void Close(bool Undo) override {
        if (!FOpened) return;
        FOpened = false;
        std::exception_ptr failure;
        bool answered = false;
        try {
            if (FClient.Connected()) {
                BeforeGoodbye(Undo);
                FClient.Disconnect();
                answered = !Undo;
            }
        } catch (const std::exception &) {
            failure = std::current_exception();
        }
        Release(FClients.TLS, FClient);
        Closed(answered);
        if (failure) std::rethrow_exception(failure);
    }

protected:
    TClientSession(const TMailboxClients &Clients, const TMailboxAccount &Account, TNetExplicitTLSClient &Client)
        : TMailboxSession(Clients, Account), FClient(Client) {}
    // Before the goodbye, on a connection still there; with Undo the
    // session must leave the mailbox as it was.
    virtual void BeforeGoodbye(bool /*Undo*/) {}
    // Closed for good; Answered when the server answered the goodbye as it
    // should.
    virtual void Closed(bool /*Answered*/) {}
    // Host, port, user, password and TLS from the account; Close will close.
    void Prepare() {
        Configure(FClients.TLS, FClient, FAccount);
        FOpened = true;
    }
    TNetExplicitTLSClient &FClient;
    int FCount = 0;

private:
    bool FOpened = false;
};

// ---- POP3 ------------------------------------------------------------------------

// One walk over a POP3 mailbox, as a pipeline of three named steps taken in
// turn: SendDue (the DELEs the walk asked for, then LIST and TOP as far as
// the window lets), ReadNext (the oldest answer due), HandleComplete (each
// message whose answers are in, in order). With PIPELINING the TOPs go
// ahead in a sliding window refilled in halves, so each write carries many
// commands and the server never waits for us; without it one command waits
// for its answer before the next goes out.
//
// Nothing is sent while the answers due could be taken for its own: a
// message to be read whole waits at the head of the line until the stream
// is drained. A failure never leaves the server with a deletion the walk
// has no record of: the answers due are read (each deletion recorded as
// its message is handled), or the connection ends without QUIT. A round
// of the three steps that sends, reads and handles nothing would come to
// the same again: the walk ends there as broken, without QUIT.
class TPOP3Walk {
public:
    // Stopped is set when the walk stops because Stopping says so.
    TPOP3Walk(TNetPOP3 &Client, int Count, TMailboxWalk &Walk, std::map<int, std::string> Uids, bool &Stopped)
        : C(Client), FCount(Count), W(Walk), FUids(std::move(Uids)), FStopped(Stopped),
          FLockStep(!Client.SupportsPipelining() || Client.PipelineDepth <= 1),
          FOffersTop(Client.Capabilities()->IndexOfText("TOP") >= 0) {}

    void Run() {
        try {
            for (;;) {
                const int64_t steps = FSteps;
                SendDue();
                HandleComplete();
                if (Finished()) break;
                if (!FDue.empty()) ReadNext();
                if (FSteps == steps) {
                    Stuck();
                    break;
                }
            }
        } catch (...) {
            // A handler failed: nothing more is handled.
            if (!FFailure) FFailure = std::current_exception();
        }
        SettleDeletions();
        if (FFailure) std::rethrow_exception(FFailure);
    }

private:
    enum class TStage {
        Asking,    // headers are asked for as the window lets
        Draining,  // no more headers (a stop or a failure): what is due is read, what is complete handled
        Broken,    // the connection is gone: nothing more is sent or read
    };
    enum TAsk { akList, akTop, akDele };
    struct TDue {
        TAsk Kind;
        int Number;
    };

    bool Finished() const {
        if (FStage == TStage::Broken) return true;
        return FDue.empty() && FWaiting.empty() && FOutbox.empty() && (FStage != TStage::Asking || FNext > FCount);
    }

    // ---- send what is due ----
    void SendDue() {
        if (FStage == TStage::Broken) return;
        std::vector<std::string> send;
        // Deletions first; in lock-step each after the last answer.
        while (!FOutbox.empty() && (!FLockStep || (FDue.empty() && send.empty()))) {
            const int n = FOutbox.front();
            FOutbox.pop_front();
            send.push_back("DELE " + IntToStr(n));
            FDue.push_back(TDue{akDele, n});
            ++FDeletesOpen;
        }
        if (FStage == TStage::Asking && FOutbox.empty() && !ReadWaits()) AskHeaders(send);
        if (send.empty()) return;
        ++FSteps;
        try {
            C.SendAhead(send);
        } catch (const std::exception &) {
            Fail();
        }
    }
    // A message to be read whole is next in turn: it needs the connection
    // to itself, so no more is asked until what is due has come.
    bool ReadWaits() const { return !FWaiting.empty() && FWaiting.front().Verdict == mvRead; }
    void AskHeaders(std::vector<std::string> &Send) {
        const int window = FLockStep ? 1 : C.PipelineWindow();
        // Refilled in halves, so each write carries many commands.
        if (FLockStep ? !(FDue.empty() && Send.empty()) : FTopsInFlight > window / 2) return;
        while (FNext <= FCount && FTopsInFlight < window && !(FLockStep && !Send.empty())) {
            if (W.WithSizes && !FListedNext) {
                Send.push_back("LIST " + IntToStr(FNext));
                FDue.push_back(TDue{akList, FNext});
                FListedNext = true;
                if (FLockStep) break;
            }
            Send.push_back("TOP " + IntToStr(FNext) + " 0");
            FDue.push_back(TDue{akTop, FNext});
            FListedNext = false;
            ++FNext;
            ++FTopsInFlight;
        }
    }

    // ---- read the next answer ----
    void ReadNext() {
        const TDue d = FDue.front();
        FDue.pop_front();
        ++FSteps;
        try {
            switch (d.Kind) {
            case akList: ReadSize(); break;
            case akTop: ReadHeader(d.Number); break;
            case akDele: ReadDeletion(d.Number); break;
            }
        } catch (const std::exception &) {
            FHeader->Clear();
            FSize = -1;
            Fail();
        }
    }
    void ReadSize() {
        if (FStage == TStage::Asking)
            FSize = C.ReadListReply();
        else
            C.DiscardReply();
    }
    void ReadHeader(int Number) {
        --FTopsInFlight;
        if (FStage == TStage::Asking && Stop(W)) {
            FStopped = true;
            FStage = TStage::Draining;
        }
        if (FStage != TStage::Asking) {
            // Fetched ahead of a stop or a failure: read past, unused.
            C.DiscardReply();
            return;
        }
        TWaiting w;
        w.Item.Number = Number;
        w.Item.Size = std::exchange(FSize, -1);
        if (auto uid = FUids.find(Number); uid != FUids.end()) w.Item.Uid = uid->second;
        try {
            C.ReadHeadersReply(*FHeader);
        } catch (const std::exception &e) {
            FHeader->Clear();
            // A header the server refused (a message file it cannot read) or
            // that is too large is the message's own and stays so: with the
            // session still in step, that message alone is passed over, so
            // it never ends a walk. The client drops a session it lost step
            // with.
            if (!C.Connected() || C.PendingReplies() != int(FDue.size())) throw;
            // A server that does not say it offers TOP (it is optional) and
            // refuses the first headers of all, none given, is one that
            // gives none: one error for the account, not a line for every
            // message. One that offers it refuses a message at a time.
            if (!FOffersTop && FHeadersRead == 0 && !dynamic_cast<const ENetMessageTooLarge *>(&e) &&
                ++FRefusedFirst >= 3)
                throw;
            w.Item.Failure = "The header of message " + IntToStr(Number) + " could not be fetched: " + Trim(e.what());
            FWaiting.push_back(std::move(w));
            return;
        }
        ++FHeadersRead;
        w.Item.MessageId = FHeader->MessageId();
        w.Verdict = W.Arrived(w.Item, *FHeader);
        FHeader->Clear();
        if (w.Verdict == mvDelete) FOutbox.push_back(Number);
        FWaiting.push_back(std::move(w));
    }
    void ReadDeletion(int Number) {
        const bool ok = C.ReadStatusReply() == "+OK";
        if (!ok) --FDeletesOpen;  // refused: nothing to carry out at QUIT
        for (TWaiting &w : FWaiting)
            if (w.Item.Number == Number) {
                w.Item.Deleted = ok;
                w.Answered = true;
                break;
            }
    }
    // The first failure is the walk's. A session still in step reads what
    // is due; one that is not ends here.
    void Fail() {
        if (!FFailure) FFailure = std::current_exception();
        if (C.Connected() && C.PendingReplies() != int(FDue.size())) Drop();
        if (C.Connected()) {
            FStage = TStage::Draining;
            return;
        }
        FStage = TStage::Broken;
        FDue.clear();
        FOutbox.clear();
    }

    // ---- handle what is complete ----
    void HandleComplete() {
        while (!FWaiting.empty()) {
            TWaiting &w = FWaiting.front();
            // Its deletion's answer has not come: a broken connection never
            // brings it, and the server deletes nothing without QUIT.
            if (w.Verdict == mvDelete && !w.Answered) return;
            if (w.Verdict == mvRead && !FDue.empty()) return;
            TWaiting done = std::move(w);
            FWaiting.pop_front();
            ++FSteps;
            W.Handle(done.Item);
            if (done.Item.Deleted) --FDeletesOpen;
        }
    }
    // A deletion the server would carry out at QUIT that no handler has
    // recorded: the connection ends without QUIT, so none is.
    void SettleDeletions() {
        if (FDeletesOpen > 0) Drop();
    }
    // Nothing left to send or read, and a message waits for what never
    // comes: what the server was asked cannot be told any more.
    void Stuck() {
        if (!FFailure)
            FFailure = std::make_exception_ptr(
                ENetPOP3Exception("The check of the mailbox stalled; the connection was closed without QUIT."));
        Drop();
        FStage = TStage::Broken;
    }
    void Drop() {
        try {
            C.Disconnect(false);
        } catch (const std::exception &) {
        }
    }

    TNetPOP3 &C;
    const int FCount;
    TMailboxWalk &W;
    const std::map<int, std::string> FUids;
    bool &FStopped;
    const bool FLockStep;
    const bool FOffersTop;          // its CAPA lists TOP
    TStage FStage = TStage::Asking;
    std::deque<TDue> FDue;          // sent, answer not yet read, in order
    std::deque<TWaiting> FWaiting;  // weighed (or failed), not yet handled, in order
    std::deque<int> FOutbox;        // deletions asked for, not yet sent
    int FNext = 1;                  // the next message to ask for
    bool FListedNext = false;       // its LIST is out, its TOP not
    int FTopsInFlight = 0;
    int64_t FSize = -1;             // the size of the message whose TOP answer comes next
    int FDeletesOpen = 0;           // DELEs sent whose outcome no handler has taken yet
    int64_t FSteps = 0;             // commands sent, answers read, messages handled
    int FHeadersRead = 0;           // headers the server gave
    int FRefusedFirst = 0;          // headers it refused before it gave any
    std::exception_ptr FFailure;
    std::unique_ptr<TNetMessage> FHeader = NetCreateNoOwner<TNetMessage>();
};

class TPOP3Session : public TClientSession {
public:
    TPOP3Session(const TMailboxClients &Clients, const TMailboxAccount &Account)
        : TClientSession(Clients, Account, *Clients.POP3), C(*Clients.POP3) {}

    int Open() override {
        Prepare();
        {
            // The log-in on its own step, so that a refusal is known as one;
            // whoever comes next finds the client as it was.
            C.AutoLogin = false;
            struct TAutoLoginBack {
                TNetPOP3 &Client;
                ~TAutoLoginBack() { Client.AutoLogin = true; }
            } back{C};
            C.Connect();
        }
        FLoggingIn = true;
        C.Login();
        FLoggingIn = false;
        FCount = std::max(0, C.GetMessageCount());
        return FCount;
    }

    void Walk(int Count, TMailboxWalk &W) override {
        std::map<int, std::string> uids;
        if (W.WithUids && Count > 0 && C.SupportsUIDL()) C.GetUIDs(uids);
        TPOP3Walk(C, Count, W, std::move(uids), FEnded).Run();
    }

    bool ReadMessage(const TMailboxItem &Item, TNetMessage &Message) override {
        if (!StillThere(Item)) return false;
        return C.RetrieveMessage(Item.Number, Message) && Message.MessageId() == Item.MessageId;
    }

    bool DeleteMessage(const TMailboxItem &Item) override {
        if (!StillThere(Item)) return false;
        if (!Lasting(Item)) {
            auto header = NetCreateNoOwner<TNetMessage>();
            if (!Granted([&] { C.RetrieveHeaders(Item.Number, *header); }) || header->MessageId() != Item.MessageId)
                return false;
        }
        return C.DeleteMessage(Item.Number);
    }

    // The server carries out the deletions it accepted at QUIT, and not
    // before: all of them share one outcome.
    TDeletionOutcome DeletionOutcome(const TMailboxItem &) const override { return FOutcome; }

protected:
    // A reader's list leaves nothing marked for deletion.
    void BeforeGoodbye(bool Undo) override {
        if (!Undo) return;
        try {
            C.ResetDeletions();
        } catch (const std::exception &) {
        }
    }
    // QUIT answered +OK: every deletion is carried out. Never sent: none
    // is. Sent, and answered -ERR ("some deleted messages not removed"),
    // late or not at all: the server may have carried out any of them.
    void Closed(bool Answered) override {
        FOutcome = !C.QuitSent() ? doUndone : Answered ? doFinal : doUnknown;
    }

private:
    // The message was listed with the identifier the server still offers.
    bool Lasting(const TMailboxItem &Item) { return !Item.Uid.empty() && C.SupportsUIDL(); }
    // The number still holds the message listed there: the same lasting
    // identifier, or else (with its Message-ID, which the caller compares)
    // the same size. A list copy and a Cc copy share a Message-ID.
    bool StillThere(const TMailboxItem &Item) {
        if (Item.Number < 1 || Item.Number > FCount) return false;
        if (Lasting(Item)) return C.GetUID(Item.Number) == Item.Uid;
        if (Item.Size < 0) return true;
        int size = -1;
        return Granted([&] { size = C.GetMessageSize(Item.Number); }) && size == Item.Size;
    }
    // False when the server refused the call (no such message), the
    // session still in step; whatever else it raises goes on.
    bool Granted(const std::function<void()> &Call) {
        try {
            Call();
            return true;
        } catch (const ENetReplyPOP3Error &) {
            if (!C.Connected()) throw;
            return false;
        }
    }

    TNetPOP3 &C;
    TDeletionOutcome FOutcome = doUnknown;  // until the session is closed
};

// ---- IMAP4 ------------------------------------------------------------------------

class TIMAP4Session : public TClientSession {
public:
    TIMAP4Session(const TMailboxClients &Clients, const TMailboxAccount &Account)
        : TClientSession(Clients, Account, *Clients.IMAP4), C(*Clients.IMAP4) {}
    // Closed here, so that what was flagged and not expunged is given up.
    ~TIMAP4Session() override {
        try {
            Close(false);
        } catch (...) {
        }
    }

    int Open() override {
        // The IMAP4 client speaks TLS from the start only: the SSL flag of
        // an IMAP4 account means implicit TLS.
        Prepare();
        C.Connect(false);
        FLoggingIn = true;
        C.Login();
        FLoggingIn = false;
        C.SelectMailBox(FAccount.Inbox.empty() ? std::string("INBOX") : FAccount.Inbox);
        FCount = std::max(0, C.MailBox()->TotalMsgs);
        return FCount;
    }

    // One FETCH per range, and up to four ranges on their way: while one
    // answer is read and handled the server works on the next ones, and a
    // moment in which either side is slow does not hold the other. A range with
    // deletions or reads needs the connection to itself for its STORE or
    // FETCH, so what is on its way is read first and nothing more is sent
    // until it is handled.
    void Walk(int Count, TMailboxWalk &W) override {
        constexpr size_t RangesAhead = 4;
        FExpungesSeen = C.MailBox()->DeletedMsgs.size();
        const int rangeSize = std::max(1, C.HeaderRangeSize);
        std::deque<std::pair<int, int>> inFlight;  // first and size of each range sent
        std::deque<std::vector<TWaiting>> read;    // ranges read and weighed, not yet handled
        std::exception_ptr failure;
        bool blocked = false;
        int next = 1;
        while (!failure && !FEnded && (next <= Count || !inFlight.empty())) {
            if (inFlight.empty() && Stop(W)) {
                FEnded = true;
                break;
            }
            while (!blocked && inFlight.size() < RangesAhead && next <= Count) {
                const int n = std::min(rangeSize, Count - next + 1);
                try {
                    C.SendHeadersRange(next, next + n - 1, W.WithSizes);
                } catch (const std::exception &) {
                    failure = std::current_exception();
                    break;
                }
                inFlight.emplace_back(next, n);
                next += n;
            }
            if (inFlight.empty()) break;
            const auto [first, n] = inFlight.front();
            inFlight.pop_front();
            read.push_back(ReadRange(first, n, W, failure));
            const bool nothing = read.back().empty();
            for (const TWaiting &w : read.back()) blocked = blocked || w.Verdict != mvKeep;
            if (!blocked || inFlight.empty() || failure || FEnded) {
                blocked = false;
                const bool handled = HandleRanges(read, W, failure);
                FollowExpunges(next, Count);
                if (!handled || nothing) break;
            }
        }
        if (!read.empty()) HandleRanges(read, W, failure);
        if (failure) std::rethrow_exception(failure);
    }

    bool ReadMessage(const TMailboxItem &Item, TNetMessage &Message) override {
        const int n = Where(Item);
        // Reading must not mark the message read on the server.
        return n >= 1 && C.RetrieveMessage(n, Message, true) && Message.MessageId() == Item.MessageId;
    }

    bool DeleteMessage(const TMailboxItem &Item) override {
        const int n = Where(Item);
        if (n < 1) return false;
        auto header = NetCreateNoOwner<TNetMessage>();
        if (!C.RetrieveHeaders(n, *header) || header->MessageId() != Item.MessageId) return false;
        if (!C.DeleteMessagesByUID({Item.Uid})) return false;
        FOpen.push_back(Item.Uid);
        // A refused expunge leaves the flag to Close, which takes it off.
        Finish();
        return FFinal.count(Item.Uid) != 0;
    }

    // Each chunk of the expunge the server carried out is final, whatever
    // becomes of the next.
    void Finish() override {
        if (FOpen.empty()) return;
        const std::set<std::string> flagged(C.OwnDeletedUIDs().begin(), C.OwnDeletedUIDs().end());
        std::exception_ptr failure;
        try {
            C.ExpungeMailBox();
        } catch (const std::exception &) {
            failure = std::current_exception();
        }
        const std::set<std::string> left(C.OwnDeletedUIDs().begin(), C.OwnDeletedUIDs().end());
        std::vector<std::string> open;
        for (std::string &uid : FOpen)
            if (flagged.count(uid) && !left.count(uid))
                FFinal.insert(std::move(uid));
            else
                open.push_back(std::move(uid));
        FOpen = std::move(open);
        if (failure) std::rethrow_exception(failure);
    }

    TDeletionOutcome DeletionOutcome(const TMailboxItem &Item) const override {
        return FFinal.count(Item.Uid) ? doFinal : FUndone.count(Item.Uid) ? doUndone : doUnknown;
    }

protected:
    // Deletions given up (the walk failed or was stopped, the expunge was
    // refused) with the connection still there: our own flags come off
    // again, so no later expunge, ours or another client's, removes those
    // messages with no record. A flag that cannot be taken off leaves its
    // deletion not known, and so does a message the server no longer shows
    // once it is off: another client's expunge may have removed it while
    // our flag was on, and a STORE on a message gone is answered OK all the
    // same. One still there without our flag no plain expunge removes.
    void BeforeGoodbye(bool) override {
        // Part of the goodbye: a server gone silent (with the answers of a
        // stopped walk still due) holds the program no longer than its
        // LOGOUT would.
        TNetIOHandler *io = C.IOHandler();
        const int oldTimeout = io ? io->ReadTimeout : -1;
        if (io && (oldTimeout <= 0 || oldTimeout > C.LogoutTimeout)) io->ReadTimeout = C.LogoutTimeout;
        const size_t chunk = 500;
        for (size_t i = 0; i < FOpen.size() && C.Connected(); i += chunk) {
            const std::vector<std::string> uids(FOpen.begin() + std::ptrdiff_t(i),
                                                FOpen.begin() + std::ptrdiff_t(std::min(FOpen.size(), i + chunk)));
            try {
                if (C.StoreFlagsByUID(uids, sfRemove, {mfDeleted}))
                    for (std::string &uid : C.ExistingUIDs(uids)) FUndone.insert(std::move(uid));
            } catch (const std::exception &) {
                break;
            }
        }
        FOpen.clear();
        if (C.IOHandler() == io && io) io->ReadTimeout = oldTimeout;
    }

private:
    // The answer to the oldest range sent, each message weighed as it
    // arrives; a message the server gave no header for carries why. A
    // broken exchange sets Failure and ends the range at the first message
    // it did not bring.
    std::vector<TWaiting> ReadRange(int First, int N, TMailboxWalk &W, std::exception_ptr &Failure) {
        std::vector<TWaiting> arrived(static_cast<size_t>(N));
        std::vector<bool> delivered(static_cast<size_t>(N), false);
        int stoppedAt = N;  // the first message not to be handled
        std::string code;
        try {
            code = C.ReadHeadersRange([&](const TNetIMAP4::TRangeItem &it, TNetMessage &m) {
                const int k = it.Number - First;
                if (Stop(W)) {
                    FEnded = true;
                    stoppedAt = k;
                    return false;
                }
                TWaiting &w = arrived[static_cast<size_t>(k)];
                w.Item.Number = it.Number;
                w.Item.Uid = it.UID;
                w.Item.Size = it.Size;
                w.Item.Seen = it.Flags.Has(mfSeen);
                delivered[static_cast<size_t>(k)] = true;
                if (!it.Failure.empty()) {
                    // Its header was read past: only this message goes without.
                    w.Item.Failure = "The header of message " + std::to_string(it.Number) +
                                     " could not be fetched: " + it.Failure;
                    return true;
                }
                w.Item.MessageId = m.MessageId();
                w.Verdict = W.Arrived(w.Item, m);
                return true;
            });
        } catch (const std::exception &) {
            if (!Failure) Failure = std::current_exception();
        }
        const std::string why = code != "OK" && !code.empty()
                                    ? (C.LastTaggedText().empty() ? code : C.LastTaggedText())
                                    : std::string("the server sent no header.");
        std::vector<TWaiting> window;
        for (int k = 0; k < stoppedAt; ++k) {
            TWaiting &w = arrived[static_cast<size_t>(k)];
            if (!delivered[static_cast<size_t>(k)]) {
                if (Failure) break;
                w.Item.Number = First + k;
                w.Item.Failure = "The header of message " + std::to_string(First + k) + " could not be fetched: " + why;
            }
            window.push_back(std::move(w));
        }
        return window;
    }
    // The ranges in order: each one's deletions in one STORE, then its
    // messages. False when a STORE broke off (Failure is set): its range
    // is the walk's last, and its deletions count as accepted, their
    // outcome not known: the server may have set the flags that any
    // client's expunge acts on.
    bool HandleRanges(std::deque<std::vector<TWaiting>> &Ranges, TMailboxWalk &W, std::exception_ptr &Failure) {
        for (std::vector<TWaiting> &window : Ranges) {
            bool broken = false;
            std::vector<std::string> marked;
            for (const TWaiting &w : window)
                if (w.Verdict == mvDelete) marked.push_back(w.Item.Uid);
            if (!marked.empty()) {
                bool ok = true;
                try {
                    // By UID: a number may have moved since the range was
                    // read, the UID never does.
                    ok = C.DeleteMessagesByUID(marked);
                } catch (const std::exception &) {
                    if (!Failure) Failure = std::current_exception();
                    broken = true;
                }
                for (TWaiting &w : window)
                    if (w.Verdict == mvDelete) w.Item.Deleted = ok;
                if (ok) FOpen.insert(FOpen.end(), marked.begin(), marked.end());
            }
            for (TWaiting &w : window) W.Handle(w.Item);
            if (broken) {
                Ranges.clear();
                return false;
            }
        }
        Ranges.clear();
        return true;
    }

    // Where the message listed stands now, found by its UID: another
    // client's expunge moves it, and whatever took its old number is
    // another message. 0 when it is gone.
    int Where(const TMailboxItem &Item) { return Item.Uid.empty() ? 0 : C.NumberOfUID(Item.Uid); }

    // The answer to a UID command (a deletion, a message found by its UID)
    // may tell of messages another client expunged: the messages after
    // each moved up one place, so the walk's next range starts one lower
    // and the mailbox holds one less.
    void FollowExpunges(int &Next, int &Count) {
        const std::vector<int> &gone = C.MailBox()->DeletedMsgs;
        for (; FExpungesSeen < gone.size(); ++FExpungesSeen) {
            const int n = gone[FExpungesSeen];
            if (n < Next) --Next;
            if (n <= Count) --Count;
        }
    }

    TNetIMAP4 &C;
    size_t FExpungesSeen = 0;    // of the expunges the server told of
    // UIDs this session flagged \Deleted: open until an expunge removed them
    // (final) or their flag came off again (undone); whatever is open when
    // the session ends is not known.
    std::vector<std::string> FOpen;
    std::set<std::string> FFinal, FUndone;
};

// ---- web mail ----------------------------------------------------------------------
// Read through the web-mail site by the route the program installs. The
// walk reads the messages as the site lists them, one position after
// another. A site renumbers its list at once: a message deleted, or opened
// (which marks it read, so it leaves the list of new mail), moves every
// later one up a place. The session follows that, so no message is passed
// over or met twice.
class TWebMailSession : public TMailboxSession {
public:
    TWebMailSession(const TMailboxClients &Clients, const TMailboxAccount &Account)
        : TMailboxSession(Clients, Account) {}
    ~TWebMailSession() override {
        try {
            Close(false);
        } catch (...) {
        }
    }

    int Open() override {
        Begin();
        FLoggingIn = true;
        std::string trouble;
        if (!Calls.WebHostLogin(FAccount.Host, FAccount.UserName, FAccount.Password, &trouble)) {
            // The program is ending: the wait was abandoned, nothing refused.
            if (Exiting()) return 0;
            // The script could not be carried out on the site's pages: the
            // site refused nothing, and the password is not to blame.
            if (!trouble.empty()) throw Exception(trouble);
            throw EMailboxLoginFailed("The web-mail site of " + FAccount.Host + " did not accept the log-in of " +
                                      FAccount.UserName);
        }
        const int count = Calls.WebHostNewMailCount(FAccount.AllWebMessages);
        FLoggingIn = false;
        return std::max(0, count);
    }

    // The site keeps its log-in between the reader's operations: a page
    // that lists new mail needs none.
    int Resume() override {
        Begin();
        if (Calls.WebHostNewMailCount(false) >= 1) return std::max(0, Calls.WebHostNewMailCount(FAccount.AllWebMessages));
        return Open();
    }

    void Walk(int Count, TMailboxWalk &W) override {
        auto message = NetCreateNoOwner<TNetMessage>();
        FLeft = 0;
        for (int j = 1; j <= Count && !FEnded; ++j) {
            if (Stop(W)) {
                FEnded = true;
                break;
            }
            TWaiting w;
            w.Item.Number = j;
            std::exception_ptr failure;
            try {
                if (ReadListEntry(j, *message)) {
                    w.Item.MessageId = FId;
                    w.Item.Seen = message->Flags.Has(mfSeen);
                    w.Verdict = W.Arrived(w.Item, *message);
                } else {
                    w.Item.Missing = true;
                }
            } catch (const std::exception &) {
                failure = std::current_exception();
            }
            message->Clear();
            if (failure) std::rethrow_exception(failure);
            FCurrent = j;
            if (w.Verdict == mvDelete) {
                w.Item.Deleted = DeleteListed(FId);
                FollowCurrent();
            }
            W.Handle(w.Item);
            FCurrent = 0;
        }
    }

    // The list entry and its page's body.
    bool ReadMessage(const TMailboxItem &Item, TNetMessage &Message) override {
        const bool walking = FCurrent > 0 && Item.Number == FCurrent;
        bool got = false;
        if (walking) {
            got = !FId.empty() && Calls.WebHostReadBody(FPosition, Message, FSubject, FId, FAccount.AllWebMessages);
        } else {
            // The link is found by the subject as the site lists it.
            const int p = Locate(Item, Message);
            const std::string subject = Message.Subject;
            Message.Clear();
            got = p >= 1 && !Item.MessageId.empty() && Calls.WebHostReadBody(p, Message, subject, Item.MessageId, FAccount.AllWebMessages);
        }
        got = got && Message.MessageId() == Item.MessageId;
        BackOnList();
        if (walking) FollowCurrent();
        // A page gives no header lines: the message keeps the identifier the
        // list gave, as a message from a mail server would.
        if (got) Message.ExtraHeaders.SetValue("Message-ID", Item.MessageId);
        return got;
    }

    bool DeleteMessage(const TMailboxItem &Item) override {
        // A fresh look before anything is ticked: the page lists this very one.
        auto look = NetCreateNoOwner<TNetMessage>();
        if (Item.MessageId.empty() || Locate(Item, *look, true) < 1) return false;
        if (Exiting()) return false;
        return DeleteListed(Item.MessageId);
    }

    void Close(bool) override {
        if (!FUse) return;
        FUse.reset();
        if (!FAccount.KeepWebLogin && Calls.WebHostLogout) Calls.WebHostLogout();
    }

private:
    void Begin() {
        if (!WebMailAvailable()) throw Exception(WebMailUnavailableText);
        if (!FUse) FUse = std::make_unique<TWebRouteUse>();
        Calls.CreateWebForm();
    }
    // The entry of the walk's message j.
    bool ReadListEntry(int j, TNetMessage &Message) {
        FPosition = j - FLeft;
        FId.clear();
        FSubject.clear();
        if (FPosition < 1 || !Calls.WebHostReadList(FPosition, Message, FAccount.AllWebMessages)) return false;
        FId = Message.MessageId();
        FSubject = Message.Subject;
        // Shown, matched by the rules and saved as it reads, not as the
        // page's HTML writes it ("&amp;"); the link is found by the raw one.
        Message.Subject = DecodeWebText(Message.Subject);
        Message.From().Name = DecodeWebText(Message.From().Name);
        return true;
    }
    // Where the message is listed now: where it was first, or, since a site
    // renumbers its list, anywhere else; its entry in Message. -1 when not.
    int Locate(const TMailboxItem &Item, TNetMessage &Message, bool All) {
        if (Item.MessageId.empty()) return -1;
        Message.Clear();
        if (Item.Number >= 1 && Calls.WebHostReadList(Item.Number, Message, All) &&
            Message.MessageId() == Item.MessageId)
            return Item.Number;
        const int count = Calls.WebHostNewMailCount(All);
        for (int p = 1; p <= count && !Exiting(); ++p) {
            Message.Clear();
            if (p != Item.Number && Calls.WebHostReadList(p, Message, All) && Message.MessageId() == Item.MessageId)
                return p;
        }
        return -1;
    }
    int Locate(const TMailboxItem &Item, TNetMessage &Message) { return Locate(Item, Message, FAccount.AllWebMessages); }
    // True only when the site carried the deletion out and the message is
    // gone from the list the delete itself came back to (the route answers
    // true only there). A list reached through a new log-in says nothing of
    // it: it may be paged or sorted anew and lack a message the site still
    // holds. Such a delete does not count and the message stays mail; one
    // the site did delete is simply gone at the next check. Back on the list
    // either way, so the walk goes on.
    bool DeleteListed(const std::string &MessageId) {
        const bool gone = Calls.WebHostDeleteMessage(MessageId) && Calls.WebHostLocateMessage(MessageId) == -1;
        // The list the delete left, emptied by it or not, needs no new log-in.
        if (!gone) BackOnList();
        return gone;
    }
    // The page lists the mail again. A site that left the browser elsewhere
    // (an error page, a confirmation that never came) is logged into anew,
    // so what follows reads the list and not a page without mail.
    bool BackOnList() {
        if (Calls.WebHostNewMailCount(true) >= 1) return true;
        if (Exiting()) return false;
        return Calls.WebHostLogin(FAccount.Host, FAccount.UserName, FAccount.Password, nullptr);
    }
    // The current message is still where it stood, or it left the list and
    // the later ones moved up.
    void FollowCurrent() {
        auto look = NetCreateNoOwner<TNetMessage>();
        if (!(Calls.WebHostReadList(FPosition, *look, FAccount.AllWebMessages) && look->MessageId() == FId)) ++FLeft;
    }

    const TWebMailCalls &Calls = WebMailCalls();
    std::unique_ptr<TWebRouteUse> FUse;
    // Messages of this walk that left the list: its message j stands at
    // position j - FLeft.
    int FLeft = 0;
    int FCurrent = 0;   // the walk's message being handled
    int FPosition = 0;  // where it stands
    std::string FId;    // its identifier and subject as the site lists them
    std::string FSubject;
};

}  // namespace

TMailboxAccount MailboxAccountOf(const Tiedot &t) {
    TMailboxAccount a;
    a.Name = t.Name;
    a.Host = t.Host;
    a.Port = t.Port;
    a.UserName = t.UserName;
    a.Password = t.Password;
    a.Kind = t.Kind;
    a.SSL = t.SSL;
    a.Inbox = t.Inbox;
    return a;
}

std::unique_ptr<TMailboxSession> TMailboxSession::Create(const TMailboxClients &Clients,
                                                         const TMailboxAccount &Account) {
    switch (Account.Kind) {
    case ckPOP3:
        return std::make_unique<TPOP3Session>(Clients, Account);
    case ckIMAP4:
        return std::make_unique<TIMAP4Session>(Clients, Account);
    case ckHTTP:
        return std::make_unique<TWebMailSession>(Clients, Account);
    default:
        return nullptr;
    }
}

bool TMailboxSession::AnyInUse(const TMailboxClients &Clients) {
    return (Clients.POP3 && Clients.POP3->Connected()) || (Clients.IMAP4 && Clients.IMAP4->Connected()) ||
           WebRouteInUse();
}

bool TMailboxSession::RefusedLogIn(const std::exception &e) const { return FLoggingIn && IsLoginRefusal(e); }
