// The checking cycle: the scheduler, one cycle over every account, the check
// of one account with its rules, and the hidden-messages and deleted-messages
// files.
#include <sys/stat.h>

#include <memory>
#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <deque>
#include <exception>
#include <set>
#include <vector>

#include "Desktop.h"
#include "FrmMain.h"
#include "Kel_Reg.h"
#include "NetIMAP4.h"
#include "NetMessage.h"
#include "NetPOP3.h"
#include "NetSSLOpenSSL.h"
#include "ProgramPaths.h"
#include "VeskRutins.h"
#include "WebMailCalls.h"
#include "WebPageText.h"
#include "asetukset.h"
#include "unDecodes.h"
#include "unRules.h"
#include "unScr.h"
#include "unShowBody.h"

namespace {

// One check unit of the interval setting: 0.0007 day (60.48 seconds).
constexpr long double CheckUnit = 0.0007L;

// Longest name of a saved message file, in bytes: below every file
// system's limit of 255, with room for the temporary suffix while writing.
constexpr size_t MaxEmlNameBytes = 240;
// Longest sender text and subject that go into such a name.
constexpr size_t MaxEmlSenderBytes = 80;
constexpr size_t MaxEmlSubjectBytes = 120;

std::string Option(const std::string &Key, const std::string &Default) {
    try {
        return IniReadString(SettingsFilePath(), "Options", Key, Default);
    } catch (const Exception &) {
        return Default;  // an unreadable settings file: the reader's default
    }
}

// The first bytes of UTF-8 text, never ending inside a character.
std::string CutUtf8(const std::string &s, size_t maxBytes) {
    if (s.size() <= maxBytes)
        return s;
    size_t n = maxBytes;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return s.substr(0, n);
}

// Text that goes into one line of a list, "mails.dat" or "deleted.txt": a
// header may decode to line breaks or NUL, which would split or cut the line.
std::string OneLine(const std::string &s) {
    std::string out = s;
    for (char &c : out)
        if (c == '\r' || c == '\n' || c == '\0' || c == '\t')
            c = ' ';
    return out;
}

// ---- web mail ---------------------------------------------------------------
// Accounts of kind HTTP are read through their web-mail site by the route the
// program installs (WebMailCalls.h). The check reads the new messages as the
// site lists them, one position after another. A site renumbers its list at
// once: a message deleted, or opened (which marks it read, so it leaves the
// list of new mail), moves every later one up a place. The route follows
// that, so no message is passed over or met twice.
class EWebLoginFailed : public Exception {
public:
    using Exception::Exception;
};

struct TWebMailRoute {
    const TWebMailCalls &Calls = WebMailCalls();
    // Messages of this check that left the list of new mail: the check's
    // message j stands at position j - Left.
    int Left = 0;
    int Position = 0;        // where the current message stands
    std::string Id;          // its identifier and subject as the site lists them
    std::string Subject;

    // Opens the site and logs in; the number of new messages it lists.
    int LoginAndCount(const Tiedot &Account) {
        if (!WebMailAvailable())
            throw Exception(WebMailUnavailableText);
        Host = Account.Host;
        UserName = Account.UserName;
        Password = Account.Password;
        Calls.CreateWebForm();
        if (!Calls.WebHostLogin(Host, UserName, Password)) {
            // The program is ending: the wait was abandoned, nothing refused.
            if (FrmMain && FrmMain->ExitRequested())
                return 0;
            throw EWebLoginFailed("The web-mail site of " + Account.Host + " did not accept the log-in of " +
                                  Account.UserName);
        }
        return Calls.WebHostNewMailCount(false);
    }
    // The list entry of the check's message j into Message.
    bool ReadListEntry(int j, TNetMessage &Message) {
        Position = j - Left;
        Id.clear();
        Subject.clear();
        if (Position < 1 || !Calls.WebHostReadList(Position, Message, false))
            return false;
        Id = Message.MessageId();
        Subject = Message.Subject;
        // Shown, matched by the rules and saved as it reads, not as the
        // page's HTML writes it ("&amp;"); the link is found by the raw one.
        Message.Subject = DecodeWebText(Message.Subject);
        Message.From().Name = DecodeWebText(Message.From().Name);
        return true;
    }
    // True only when the message is gone from the site's list afterwards: a
    // click the site did not carry out is no deletion, and one whose last
    // page did not come in time may still have been one.
    bool DeleteMessage(const std::string &MessageId) {
        Calls.WebHostDeleteMessage(MessageId);
        bool deleted = BackOnList() && Calls.WebHostLocateMessage(MessageId) == -1;
        FollowCurrent();
        return deleted;
    }
    // The whole message (the list entry and its page's body) for the save
    // rule; false when the page did not give this message.
    bool ReadBody(TNetMessage &Message) {
        bool got = !Id.empty() && Calls.WebHostReadBody(Position, Message, Subject, Id, false) &&
                   Message.MessageId() == Id;
        BackOnList();
        FollowCurrent();
        // A page gives no header lines: the saved file keeps the identifier
        // the list gave, as a message from a mail server would.
        if (got)
            Message.ExtraHeaders.SetValue("Message-ID", Id);
        return got;
    }
    void Logout() {
        if (Calls.WebHostLogout)
            Calls.WebHostLogout();
    }

private:
    std::string Host, UserName, Password;

    // The page lists the mail again. A site that left the browser elsewhere
    // (an error page, a confirmation that never came) is logged into anew,
    // so the rest of the check reads the list and not a page without mail.
    bool BackOnList() {
        if (Calls.WebHostNewMailCount(true) >= 1)
            return true;
        if (FrmMain && FrmMain->ExitRequested())
            return false;
        return Calls.WebHostLogin(Host, UserName, Password);
    }
    // The current message is still where it stood, or it left the list of
    // new mail and the later ones moved up.
    void FollowCurrent() {
        auto look = NetCreateNoOwner<TNetMessage>();
        if (!(Calls.WebHostReadList(Position, *look, false) && look->MessageId() == Id))
            ++Left;
    }
};

// How often the window gets its events while messages are handled.
constexpr int PumpEveryMs = 5;
// How often a check looks again at the hidden-messages file and the rules
// folder: a change made meanwhile counts from the next message after that.
constexpr long long HiddenLookEveryMs = 5;

// What one message's header told, kept from its arrival until its turn in
// the window: the hidden list, the seen flag and the rules are asked as it
// arrives; the server's deletion answer comes with the window's.
struct TFetchedMessage {
    int Number = 0;
    std::string Failure;  // the header could not be fetched: the event's text
    bool Missing = false; // passed over without a word
    bool Hidden = false;
    bool Seen = false;
    bool Deleted = false;
    bool Answered = false;  // the server answered its deletion
    TRuleResult Rule;
    std::string SenderName, SenderText, Address, Subject, RawId, Id, Date, Uid;
};

// Which step of a check raised: a refusal while logging in is a bad log-in
// whatever words the server chose for it.
enum class TCheckStep { Connecting, LoggingIn, Working };

bool IsLoginRefusal(const std::exception &e) {
    return dynamic_cast<const ENetReplyPOP3Error *>(&e) || dynamic_cast<const ENetPOP3SASLFailed *>(&e) ||
           dynamic_cast<const ENetPOP3UnsafeCredentials *>(&e) ||
           dynamic_cast<const ENetIMAP4LoginRefused *>(&e) || dynamic_cast<const ENetIMAP4InvalidText *>(&e) ||
           dynamic_cast<const EWebLoginFailed *>(&e);
}

// The accounts a cycle may write its results back to: a record the Options
// dialog replaced during the cycle is another account now.
bool SameAccount(const Tiedot &a, const Tiedot &b) {
    return a.Name == b.Name && a.Host == b.Host && a.Port == b.Port && a.UserName == b.UserName &&
           a.Kind == b.Kind && a.SSL == b.SSL && a.Inbox == b.Inbox && a.Enabled == b.Enabled;
}

// A client this check used: closed for good and off the shared TLS handler,
// so the other client (or the message reader) may take it.
void ReleaseClient(TFrmMain &Main, TNetExplicitTLSClient *Client) {
    try {
        if (Client->Connected())
            Client->Disconnect(false);
    } catch (const std::exception &) {
    }
    try {
        if (Client->IOHandler() == Main.NetSSLIOHandlerSocket1) {
            Client->SetIOHandler(nullptr);
            Client->SetUseTLS(utNoTLSSupport);
        }
    } catch (const std::exception &) {
    }
}

// The save rule: the whole message into a file of the rule's folder, unless
// that file exists. Nothing of this stops the check; the message stays mail.
void SaveWholeMessage(TFrmMain &Main, const Tiedot &Account, int Number, const std::string &SenderText,
                      const std::string &Subject, const std::string &MessageId, TWebMailRoute &Web) {
    std::string file, part;
    try {
        std::string folder =
            IniReadString(IncludeTrailingPathDelimiter(RulesFolder()) + Main.State.MatchedRule, "Options", "Path", "");
        if (Trim(folder).empty()) {
            Main.ReportEvent("Rule \"" + Main.State.MatchedRule + "\" names no folder to save messages in", 0, 6,
                        TEventReporter::clRed);
            return;
        }
        file = MakeEmlFileName(folder, CutUtf8(SenderText, MaxEmlSenderBytes) + " " +
                                           CutUtf8(Subject, MaxEmlSubjectBytes) + " " + MessageId + ".eml");
        if (FileExists(file))
            return;
        auto whole = NetCreateNoOwner<TNetMessage>();
        bool got = false;
        switch (Account.Kind) {
        case ckPOP3:
            got = Main.NetPOP31->RetrieveMessage(Number, *whole);
            break;
        case ckIMAP4:
            // Saving must not mark the message read on the server.
            got = Main.NetIMAP41->RetrieveMessage(Number, *whole, true);
            break;
        case ckHTTP:
            got = Web.ReadBody(*whole);
            break;
        }
        if (!got)
            return;
        // Written beside its name first: a file cut short would count as
        // saved and never be written again.
        part = file + ".part";
        whole->SaveToFile(part);
        if (!RenameFile(part, file))
            throw EWriteError("Cannot rename " + part);
        part.clear();
    } catch (const std::exception &e) {
        // A broken connection shows again at the next command and ends the
        // check there.
        if (!part.empty())
            DeleteFile(part);
        Main.ReportEvent("The message was not saved in \"" + file + "\": " + e.what(), 0, 6,
                         TEventReporter::clRed);
    }
}

}  // namespace

// ---- saved message names ---------------------------------------------------------

std::string MakeEmlFileName(const std::string &Folder, const std::string &Name) {
    std::string name;
    for (char c : Name) {
        unsigned char u = static_cast<unsigned char>(c);
        // Control characters would make a name no file manager shows whole.
        if (u < 0x20 || u == 0x7F)
            continue;
        name += c;
    }
    if (HasForbiddenFileNameChar(name))
        name = CleanFileName(name);
    if (name.size() > MaxEmlNameBytes) {
        std::string ext = ExtractFileExt(name);
        if (ext.size() > 16)
            ext.clear();
        name = CutUtf8(name.substr(0, name.size() - ext.size()), MaxEmlNameBytes - ext.size()) + ext;
    }
    // Names of the parent or the folder itself are no names for a file.
    if (name.empty() || name == "." || name == "..")
        name = "_" + name;
    std::string folder = StringReplaceAll(Folder, "\\", "/");
    if (!folder.empty() && folder[0] != '/')
        folder = ProgramFolder() + folder;
    if (!DirectoryExists(folder))
        ForceDirectories(folder);
    return IncludeTrailingPathDelimiter(folder) + name;
}

// ---- the scheduler and the cycle ---------------------------------------------------------

void TFrmMain::Timer6Timer() {
    if (!CheckIsDue())
        return;
    int units = StrToIntDef(Trim(Option("CheckTime", "10")), 10);
    if (units < 1)
        units = 1;
    State.Options.CheckTime = units;
    ScheduleNextCheck(double(units * CheckUnit));
    Timer1Timer();
}

std::string TFrmMain::CycleHint(int Total) const {
    const TMainFormTexts &t = State.Texts;
    std::string count = IntToStr(Total);
    if (State.User.empty())
        return t.YouGot + " " + t.AllInAll + " " + count + " " + t.NewMails;
    return State.User + " " + Utf8LowerCase(t.YouGot) + " " + t.AllInAll + " " + count + " " + t.NewMails;
}

void TFrmMain::Timer1Timer() {
    // One cycle at a time: a cycle started from inside another one's message
    // pumping (the Enter key, the tray menu) would share its connections.
    if (State.CycleActive)
        return;
    // A connection of the message reader is still open, or the reader works
    // on the web-mail page.
    if (NetPOP31->Connected() || NetIMAP41->Connected() || WebRouteInUse())
        return;
    if (StrToBoolean(Option("CheckConnect", "False")) && !IsInternetConnected()) {
        ReportEvent("", 12, 3, TEventReporter::clRed);
        return;
    }
    State.CycleActive = true;
    struct TActiveReset {
        TFrmMain &Form;
        ~TActiveReset() { Form.CycleEnded(); }
    } activeReset{*this};
    FCycleProblems.clear();

    if (State.Options.AnimGetMails) {
        TrayIcon1->SetIconList(ImageList1);
        TrayIcon1->SetCycleInterval(200);
        TrayIcon1->SetCycleIcons(true);
    }
    const bool browsing = Timer2->Enabled();
    Timer2->SetEnabled(false);
    if (Reporter.LogReady && FormAsetukset)
        FormAsetukset->CheckRequested = FormAsetukset->isVisible();

    int total = 0;
    bool anyChanged = false;
    for (int i = 0; i <= State.Accounts.LastIndex && i < State.Accounts.Count(); ++i) {
        // The check works on a copy: the Options dialog may replace or drop
        // records while the check pumps messages.
        Tiedot work = State.Accounts[i];
        bool changed = false;
        CheckAccount(work, changed);
        if (i < State.Accounts.Count() && SameAccount(State.Accounts[i], work)) {
            Tiedot &account = State.Accounts[i];
            account.Senders = std::move(work.Senders);
            account.Addresses = std::move(work.Addresses);
            account.Subjects = std::move(work.Subjects);
            account.Dates = std::move(work.Dates);
            account.MessageIds = std::move(work.MessageIds);
            account.NewCount = work.NewCount;
            total += account.NewCount;
            if (changed) {
                if (!anyChanged)
                    State.Accounts.ShownIndex = i;
                anyChanged = true;
            }
        }
        if (ExitRequested())
            return;
    }

    State.Accounts.TotalNew = total;
    Timer2->SetEnabled(browsing);
    if (!Reporter.ErrorFlag)
        ShowRestingIcon();
    TrayIcon1->SetHint(CycleHint(total));

    if (total < 1) {
        for (Tiedot &t : State.Accounts.Items)
            t.ClearMessages();
    } else {
        if (State.Options.AnimNewMails && !Reporter.ErrorFlag) {
            TrayIcon1->SetIconList(ImageList2);
            TrayIcon1->SetCycleInterval(200);
            TrayIcon1->SetCycleIcons(true);
        }
        if (anyChanged)
            RaiseNewMailAlerts();
    }
    if (StrToBoolean(Option("UseExeSkins", "False")))
        WriteMailsFile(anyChanged);
    if (StrToBoolean(Option("SafeMem", "True")))
        Desktop().TrimWorkingSet();
}

// ---- one account -------------------------------------------------------------------

bool TFrmMain::CheckAccount(Tiedot &Account, bool &Changed) {
    Account.NewCount = 0;
    Changed = false;
    int counter = 0;
    if (Account.Host.empty() || !Account.Enabled)
        return false;

    State.CycleRunning = true;
    const bool viewSendFrom = State.Options.ViewSendFrom;
    if (ScreenSaverShown())
        DrawSaverStatus(Account.Name, true);
    auto message = NetCreateNoOwner<TNetMessage>();
    ReportEvent(Account.Host, 10, 4, TEventReporter::clBlack);

    const std::string showingTime = Option("ShowingTime", "tt    dd.mm.yyyy");
    const std::string rulesFolder = RulesFolder();
    FCheckHiddenFile = HiddenMessagesFile();
    FHidden.Looked.clear();
    TWebMailRoute web;
    bool result = true;
    bool ended = false;        // the check ended early: no count is recorded
    bool openedPOP3 = false, openedIMAP4 = false, openedWeb = false;
    bool inMessage = false;    // the counter holds a message not yet recorded
    TCheckStep step = TCheckStep::Connecting;

    try {
        int count = 0;
        switch (Account.Kind) {
        case ckPOP3:
            // Another session (the message reader's) holds the client.
            if (NetPOP31->Connected()) {
                ended = true;
                break;
            }
            NetPOP31->SetHost(Account.Host);
            NetPOP31->Username = Account.UserName;
            NetPOP31->Password = Account.Password;
            if (Account.SSL) {
                NetPOP31->SetIOHandler(NetSSLIOHandlerSocket1);
                NetPOP31->SetUseTLS(utUseImplicitTLS);
            } else {
                NetPOP31->SetIOHandler(nullptr);
                NetPOP31->SetUseTLS(utNoTLSSupport);
            }
            NetPOP31->SetPort(Account.Port);
            openedPOP3 = true;
            {
                // The log-in on its own step, so that a refusal is known as
                // one; the message reader finds the client as it was.
                NetPOP31->AutoLogin = false;
                struct TAutoLoginBack {
                    TNetPOP3 *Client;
                    ~TAutoLoginBack() { Client->AutoLogin = true; }
                } back{NetPOP31};
                NetPOP31->Connect();
            }
            step = TCheckStep::LoggingIn;
            NetPOP31->Login();
            step = TCheckStep::Working;
            count = NetPOP31->GetMessageCount();
            break;
        case ckIMAP4:
            if (NetIMAP41->Connected()) {
                ended = true;
                break;
            }
            NetIMAP41->SetHost(Account.Host);
            NetIMAP41->Username = Account.UserName;
            NetIMAP41->Password = Account.Password;
            // The IMAP4 client speaks TLS from the start only: the SSL flag
            // of an IMAP4 account means implicit TLS.
            if (Account.SSL) {
                NetIMAP41->SetIOHandler(NetSSLIOHandlerSocket1);
                NetIMAP41->SetUseTLS(utUseImplicitTLS);
            } else {
                NetIMAP41->SetIOHandler(nullptr);
                NetIMAP41->SetUseTLS(utNoTLSSupport);
            }
            NetIMAP41->SetPort(Account.Port);
            openedIMAP4 = true;
            NetIMAP41->Connect(false);
            step = TCheckStep::LoggingIn;
            NetIMAP41->Login();
            step = TCheckStep::Working;
            NetIMAP41->SelectMailBox(Account.Inbox);
            count = NetIMAP41->MailBox()->TotalMsgs;
            break;
        case ckHTTP:
            openedWeb = true;
            step = TCheckStep::LoggingIn;
            count = web.LoginAndCount(Account);
            step = TCheckStep::Working;
            break;
        default:
            count = 0;
            break;
        }
        if (count < 0)
            count = 0;

        // The headers come a window at a time: POP3 commands sent ahead when
        // the server takes them, one IMAP4 FETCH per range. Each message is
        // weighed as its header arrives (hidden, seen, rules); the deletions
        // of the window then go to the server together, and only then is
        // the window handled in order, exactly as one message at a time
        // would be.
        bool deletedIMAP4 = false;
        std::vector<TFetchedMessage> window;
        std::vector<std::string> ruleFiles;
        QElapsedTimer ruleFilesAge;
        bool ruleFilesFresh = false;
        auto weigh = [&](TNetMessage &m, TFetchedMessage &r) {
            if (!m.Subject.empty() && m.Subject[0] == '=')
                m.Subject = StripQPrefix(m.Subject);
            const TNetEMailAddressItem &from = m.From();
            r.SenderName = OneLine(from.Name);
            r.SenderText = OneLine(from.Text());
            r.Address = OneLine(from.Address);
            r.Subject = OneLine(m.Subject);
            r.RawId = m.MessageId();
            r.Id = OneLine(r.RawId);
            r.Date = OneLine(FormatDateTime(showingTime, m.Date));
            if (IsHiddenMessage(r.Id)) {
                r.Hidden = true;
                return;
            }
            if (Account.Kind == ckIMAP4 && r.Seen)
                return;
            TRuleMessage rm{Account.Name, Utf8LowerCase(r.SenderName), Utf8LowerCase(r.Address),
                            Utf8LowerCase(r.Subject)};
            if (!ruleFilesFresh || ruleFilesAge.elapsed() >= HiddenLookEveryMs) {
                ruleFiles = ListDirectory(IncludeTrailingPathDelimiter(rulesFolder), true, false);
                ruleFilesAge.start();
                ruleFilesFresh = true;
            }
            r.Rule = ApplyRules(rulesFolder, ruleFiles, rm);
        };
        // The window gets its events every few milliseconds between
        // messages; the sockets' own waits pump it while the server answers.
        QElapsedTimer paced;
        paced.start();
        auto breathe = [&] {
            if (paced.elapsed() >= PumpEveryMs) {
                ProcessMessages();
                paced.restart();
            }
        };
        auto wantsDeletion = [&](const TFetchedMessage &r) {
            return r.Failure.empty() && !r.Missing && !r.Hidden && !(Account.Kind == ckIMAP4 && r.Seen) &&
                   r.Rule.Action == raDelete;
        };
        // One message whose turn has come, as the loop over the messages
        // always handled it.
        auto handle = [&](TFetchedMessage &r) {
            ++counter;
            inMessage = true;
            if (!r.Failure.empty())
                ReportEvent(r.Failure, 0, 6, TEventReporter::clRed);
            if (r.Missing || !r.Failure.empty()) {
                // A message the server cannot give (deleted by another
                // session since the count) is passed over: an empty message
                // is never mail.
                --counter;
                inMessage = false;
                return;
            }
            const std::string shown = r.SenderName + " - " + r.Subject;
            auto skip = [&] {
                --counter;
                inMessage = false;
                breathe();
            };
            if (r.Hidden) {
                ReportEvent(shown, 36, 4, TEventReporter::clBlue);
                skip();
                return;
            }
            if (Account.Kind == ckIMAP4 && r.Seen) {
                skip();
                return;
            }
            State.MatchedRule = r.Rule.MatchedRule;
            for (const auto &p : r.Rule.Problems)
                if (FCycleProblems.insert(p).second)
                    ReportEvent(p, 0, 5, TEventReporter::clRed);

            if (r.Rule.Action == raDelete) {
                const bool deleted = Account.Kind == ckHTTP ? web.DeleteMessage(r.RawId) : r.Deleted;
                if (deleted) {
                    SaveDeletedMessage(Account.Name, r.SenderText, r.Subject);
                    ReportEvent(shown, 35, 4, TEventReporter::clBlue);
                    skip();
                    return;
                }
                // A refused deletion leaves the message: it is mail as any other.
            } else if (r.Rule.Action == raHide) {
                ReportEvent(shown, 36, 4, TEventReporter::clBlue);
                skip();
                return;
            } else if (r.Rule.Action == raSave) {
                SaveWholeMessage(*this, Account, r.Number, r.SenderText, r.Subject, r.Id, web);
            }

            // Record the message at its position among this check's mail.
            const int k = counter - 1;
            std::string sender = viewSendFrom ? r.SenderText : StripAngleAddress(r.SenderText);
            if (Account.Senders.Count() < counter) {
                Account.Senders.Add(sender);
                Account.Addresses.Add(r.Address);
                Account.Subjects.Add(r.Subject);
                Account.Dates.Add(r.Date);
                Account.MessageIds.Add(r.Id);
                Changed = true;
            } else {
                // The five lists grow together; a short one is filled up so
                // that position k exists in each.
                for (TStringList *l : {&Account.Addresses, &Account.Subjects, &Account.Dates, &Account.MessageIds})
                    while (l->Count() < counter)
                        l->Add("");
                Account.Senders[k] = sender;
                Account.Addresses[k] = r.Address;
                Account.Subjects[k] = r.Subject;
                Account.Dates[k] = r.Date;
                Changed = Account.MessageIds[k] != r.Id;
                Account.MessageIds[k] = r.Id;
            }
            inMessage = false;
            breathe();
        };

        if (Account.Kind == ckPOP3) {
            // A sliding window of commands: TOPs go out while earlier answers
            // are still read, so the server never waits for us; a rule's DELE
            // joins the same stream. A message is handled once its answers
            // are in; a save needs the connection to itself, so the stream
            // is drained before it.
            struct TDue {
                bool Top;
                int Number;
            };
            std::deque<TDue> due;
            std::deque<TFetchedMessage> waiting;  // weighed, not yet handled
            std::vector<std::string> outbox;
            std::exception_ptr failure;
            bool broken = false;   // the connection is gone: nothing more is read
            bool stopping = false; // no more TOPs: a stop or a refused header
            int next = 1, topsInFlight = 0;
            // Without PIPELINING (or with a depth of one) one command per
            // answer, exactly as before.
            const bool lockStep = !NetPOP31->SupportsPipelining() || NetPOP31->PipelineDepth <= 1;
            auto ready = [&](const TFetchedMessage &r) {
                return !(wantsDeletion(r) && !r.Answered);
            };
            for (;;) {
                // Send what is due: DELEs first, then TOPs up to the window.
                if (!broken) {
                    const int window = lockStep ? 1 : NetPOP31->PipelineWindow();
                    const bool saving = !waiting.empty() && waiting.front().Rule.Action == raSave &&
                                        ready(waiting.front());
                    std::vector<std::string> send;
                    size_t taken = 0;
                    for (; taken < outbox.size(); ++taken) {
                        if (lockStep && (!due.empty() || !send.empty()))
                            break;
                        send.push_back(outbox[taken]);
                        due.push_back(TDue{false, StrToInt(Copy(outbox[taken], 6))});
                    }
                    outbox.erase(outbox.begin(), outbox.begin() + long(taken));
                    // Refilled in halves, so each write carries many commands.
                    const bool refill = lockStep ? due.empty() && send.empty()
                                                 : topsInFlight <= window / 2;
                    if (!stopping && !saving && refill && outbox.empty())
                        while (next <= count && topsInFlight < window && (!lockStep || send.empty())) {
                            send.push_back("TOP " + IntToStr(next) + " 0");
                            due.push_back(TDue{true, next});
                            ++next;
                            ++topsInFlight;
                        }
                    if (!send.empty()) {
                        try {
                            NetPOP31->SendAhead(send);
                        } catch (const std::exception &) {
                            if (!failure)
                                failure = std::current_exception();
                            broken = true;
                        }
                    }
                }
                // Handle what is complete, in order.
                while (!waiting.empty() && ready(waiting.front())) {
                    TFetchedMessage &r = waiting.front();
                    // The save's own RETR must not meet answers still due.
                    if (r.Rule.Action == raSave && !due.empty() && !broken)
                        break;
                    handle(r);
                    waiting.pop_front();
                }
                // Deletions whose answers never came end the check before
                // them, as their DELE would have ended it.
                if (broken)
                    break;
                if (due.empty()) {
                    if (!waiting.empty() || !outbox.empty())
                        continue;
                    if (stopping || next > count)
                        break;
                    continue;
                }
                // Read the oldest answer due.
                TDue d = due.front();
                due.pop_front();
                try {
                    if (d.Top) {
                        --topsInFlight;
                        if (!stopping && ExitRequested()) {
                            ended = true;
                            stopping = true;
                        }
                        if (stopping) {
                            // Fetched ahead of a stop or a refusal: read
                            // past, unused.
                            NetPOP31->DiscardReply();
                            continue;
                        }
                        TFetchedMessage r;
                        r.Number = d.Number;
                        NetPOP31->ReadHeadersReply(*message);
                        weigh(*message, r);
                        message->Clear();
                        if (wantsDeletion(r))
                            outbox.push_back("DELE " + IntToStr(r.Number));
                        waiting.push_back(std::move(r));
                        breathe();
                    } else {
                        bool ok = NetPOP31->ReadStatusReply() == "+OK";
                        for (TFetchedMessage &r : waiting)
                            if (r.Number == d.Number) {
                                r.Deleted = ok;
                                r.Answered = true;
                                break;
                            }
                    }
                } catch (const ENetReplyPOP3Error &) {
                    message->Clear();
                    if (!failure)
                        failure = std::current_exception();
                    stopping = true;
                    broken = !NetPOP31->Connected();
                } catch (const std::exception &) {
                    message->Clear();
                    if (!failure)
                        failure = std::current_exception();
                    broken = true;
                }
            }
            if (failure)
                std::rethrow_exception(failure);
        } else {
            int j = 1;
            while (j <= count && !ended) {
                if (ExitRequested()) {
                    ended = true;
                    break;
                }
                window.clear();
                std::exception_ptr failure;
                int fetched = 0;  // messages of the range whose turn has come
                if (Account.Kind == ckIMAP4) {
                    const int n = std::min(std::max(1, NetIMAP41->HeaderRangeSize), count - j + 1);
                    std::vector<TFetchedMessage> arrived(static_cast<size_t>(n));
                    std::vector<bool> delivered(static_cast<size_t>(n), false);
                    int stoppedAt = n;  // the first message not to be handled
                    std::string code;
                    try {
                        code = NetIMAP41->RetrieveHeadersRange(j, j + n - 1, [&](const TNetIMAP4::TRangeItem &it,
                                                                                 TNetMessage &m) {
                            const int k = it.Number - j;
                            if (ExitRequested()) {
                                ended = true;
                                stoppedAt = k;
                                return false;
                            }
                            TFetchedMessage &r = arrived[static_cast<size_t>(k)];
                            r.Number = it.Number;
                            r.Uid = it.UID;
                            r.Seen = it.Flags.Has(mfSeen);
                            weigh(m, r);
                            delivered[static_cast<size_t>(k)] = true;
                            breathe();
                            return true;
                        });
                    } catch (const std::exception &) {
                        failure = std::current_exception();
                    }
                    const std::string why =
                        code != "OK" && !code.empty()
                            ? (NetIMAP41->LastTaggedText().empty() ? code : NetIMAP41->LastTaggedText())
                            : std::string("the server sent no header.");
                    for (int k = 0; k < stoppedAt; ++k) {
                        TFetchedMessage &r = arrived[static_cast<size_t>(k)];
                        if (!delivered[static_cast<size_t>(k)]) {
                            // A broken exchange ends the account at the first
                            // message it did not bring.
                            if (failure)
                                break;
                            r.Number = j + k;
                            r.Failure = "The header of message " + std::to_string(j + k) +
                                        " could not be fetched: " + why;
                        }
                        window.push_back(std::move(r));
                    }
                    fetched = int(window.size());
                } else {
                    fetched = 1;
                    TFetchedMessage r;
                    r.Number = j;
                    try {
                        if (web.ReadListEntry(j, *message))
                            weigh(*message, r);
                        else
                            r.Missing = true;
                        window.push_back(std::move(r));
                    } catch (const std::exception &) {
                        failure = std::current_exception();
                    }
                    message->Clear();
                }

                // The rules' deletions of the range, in one STORE.
                size_t usable = window.size();
                std::vector<std::pair<int, std::string>> marked;
                for (const TFetchedMessage &r : window)
                    if (wantsDeletion(r))
                        marked.emplace_back(r.Number, r.Uid);
                if (!marked.empty() && Account.Kind == ckIMAP4) {
                    try {
                        const bool ok = NetIMAP41->DeleteMessagesWithUIDs(marked);
                        for (TFetchedMessage &r : window)
                            if (wantsDeletion(r))
                                r.Deleted = ok;
                        deletedIMAP4 = deletedIMAP4 || ok;
                    } catch (const std::exception &) {
                        if (!failure)
                            failure = std::current_exception();
                        // The check ends before the first deletion whose
                        // answer never came, as it would have ended there.
                        for (size_t k = 0; k < window.size(); ++k)
                            if (wantsDeletion(window[k])) {
                                usable = k;
                                break;
                            }
                    }
                }
                for (size_t k = 0; k < usable; ++k)
                    handle(window[k]);
                if (failure)
                    std::rethrow_exception(failure);
                if (fetched == 0)
                    break;  // nothing came and nothing failed: no endless loop
                j += fetched;
            }
        }
        window.clear();
        if (!ended && deletedIMAP4)
            NetIMAP41->ExpungeMailBox();
    } catch (const std::exception &e) {
        std::string text = e.what();
        if (step == TCheckStep::LoggingIn && IsLoginRefusal(e))
            text = " Bad login: " + OneLine(text);
        ReportEvent(text, 0, 1, TEventReporter::clRed);
        result = false;
    }
    if (inMessage)
        --counter;

    // Clean-up: only what this check opened is closed.
    State.CycleRunning = false;
    FCheckHiddenFile.clear();
    FHidden.Looked.clear();
    message.reset();
    if (openedWeb) {
        try {
            web.Logout();
        } catch (const std::exception &e) {
            ReportEvent("Error: #0051 " + std::string(e.what()), 0, 6, TEventReporter::clRed);
        }
    }
    if (openedPOP3) {
        try {
            if (NetPOP31->Connected())
                NetPOP31->Disconnect();
        } catch (const std::exception &e) {
            ReportEvent("Error: #0054 " + std::string(e.what()), 0, 6, TEventReporter::clRed);
        }
        ReleaseClient(*this, NetPOP31);
    }
    if (openedIMAP4) {
        try {
            if (NetIMAP41->Connected())
                NetIMAP41->Disconnect();
        } catch (const std::exception &e) {
            ReportEvent("Error: #0051 " + std::string(e.what()), 0, 6, TEventReporter::clRed);
        }
        ReleaseClient(*this, NetIMAP41);
    }
    if (ScreenSaverShown())
        DrawSaverStatus(Account.Name, false);

    if (ended)
        return result;
    Account.NewCount = counter;
    // After a failure the count line must not end the error signal that the
    // failure's own line started: same line, no clearing.
    ReportEvent(State.Texts.YouGot + " " + IntToStr(counter) + " " + State.Texts.NewMails, 11,
                result ? 2 : 4, counter > 0 ? TEventReporter::clBlue : TEventReporter::clBlack);
    return result;
}

std::string TFrmMain::StripAngleAddress(const std::string &Text) const {
    int open = Pos("<", Text);
    if (open == 0)
        return Text;
    std::string s = Text;
    if (open == 1) {
        Delete(s, 1, 1);
        int close = Pos(">", s);
        if (close > 0)
            Delete(s, close, 1);
        return s;
    }
    int close = Pos(">", s, open);
    Delete(s, open, close > 0 ? close - open + 1 : int(s.size()) - open + 1);
    return s;
}

bool TFrmMain::IsHiddenMessage(const std::string &MessageId) {
    if (MessageId.empty())
        return false;
    std::string path = FCheckHiddenFile.empty() ? HiddenMessagesFile() : FCheckHiddenFile;
    const long long nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count();
    if (!FCheckHiddenFile.empty() && path == FHidden.Looked && nowMs - FHidden.LookedAtMs < HiddenLookEveryMs)
        return !FHidden.Path.empty() && FHidden.Ids.count(MessageId) != 0;
    FHidden.Looked = path;
    FHidden.LookedAtMs = nowMs;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        FHidden.Ids.clear();
        FHidden.Path.clear();
        return false;
    }
    // The reader writes the file; it is read again only when it changed.
    if (path != FHidden.Path || st.st_size != FHidden.Size || st.st_mtim.tv_sec != FHidden.MTime ||
        st.st_mtim.tv_nsec != FHidden.MTimeNs) {
        FHidden.Ids.clear();
        FHidden.Path.clear();
        std::string text;
        try {
            text = ReadFileToString(path);
        } catch (const Exception &) {
            return false;
        }
        size_t start = 0, lines = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty())
                FHidden.Ids.insert(line);
            start = end + 1;
            if (++lines % 1000 == 0)
                ProcessMessages();
        }
        FHidden.Path = path;
        FHidden.Size = st.st_size;
        FHidden.MTime = st.st_mtim.tv_sec;
        FHidden.MTimeNs = st.st_mtim.tv_nsec;
    }
    return FHidden.Ids.count(MessageId) != 0;
}

void TFrmMain::SaveDeletedMessage(const std::string &AccountName, const std::string &Sender,
                                  const std::string &Subject) {
    if (!StrToBoolean(Option("SaveDeletedM", "True")))
        return;
    int keep = 30;
    std::string value = Trim(Option("DelMessVal", "30"));
    if (!TryStrToInt(value, keep))
        keep = 30;
    if (keep < 0)
        keep = 0;
    std::string path = ProgramFile("deleted.txt");
    TStringList lines;
    if (FileExists(path))
        lines.LoadFromFile(path);
    lines.Add(OneLine(Subject) + "   " + OneLine(Sender) + "   " + OneLine(AccountName) + "   " +
              OneLine(FormatDateTime(Option("ShowingTime", "tt    dd.mm.yyyy"), Now())));
    int extra = lines.Count() - keep;
    if (extra > 0)
        lines.Items().erase(lines.Items().begin(), lines.Items().begin() + extra);
    WriteFileAtomic(path, lines.Text());
}
