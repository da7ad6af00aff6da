// The checking cycle: the scheduler, one cycle over every account, the check
// of one account with its rules, and the hidden-messages and deleted-messages
// files.
#include <sys/stat.h>

#include <memory>
#include <set>

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
    if (Now() < State.Options.NextCheck)
        return;
    int units = StrToIntDef(Trim(Option("CheckTime", "10")), 10);
    if (units < 1)
        units = 1;
    State.Options.CheckTime = units;
    State.Options.NextCheck = Now() + double(units * CheckUnit);
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
        bool &Flag;
        ~TActiveReset() { Flag = false; }
    } activeReset{State.CycleActive};
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

        bool deletedIMAP4 = false;
        for (int j = 1; j <= count && !ended; ++j) {
            ++counter;
            inMessage = true;
            if (ExitRequested()) {
                ended = true;
                break;
            }
            // The header only. A message the server cannot give (deleted by
            // another session since the count) is passed over: an empty
            // message is never mail.
            bool got = true;
            TNetMessageFlags flags;
            switch (Account.Kind) {
            case ckPOP3:
                got = NetPOP31->RetrieveHeaders(j, *message);
                break;
            case ckIMAP4:
                try {
                    // The flags come in the same exchange; they count below,
                    // after the hidden list.
                    got = NetIMAP41->RetrieveHeaders(j, *message, flags);
                } catch (const ENetIMAP4CommandFailed &e) {
                    ReportEvent(e.what(), 0, 6, TEventReporter::clRed);
                    got = false;
                }
                break;
            case ckHTTP:
                got = web.ReadListEntry(j, *message);
                break;
            }
            if (!got) {
                --counter;
                inMessage = false;
                message->Clear();
                continue;
            }

            if (!message->Subject.empty() && message->Subject[0] == '=')
                message->Subject = StripQPrefix(message->Subject);
            const TNetEMailAddressItem &from = message->From();
            const std::string senderName = OneLine(from.Name);
            const std::string senderText = OneLine(from.Text());
            const std::string address = OneLine(from.Address);
            const std::string subject = OneLine(message->Subject);
            const std::string id = OneLine(message->MessageId());
            const std::string shown = senderName + " - " + subject;

            auto next = [&] {
                --counter;
                inMessage = false;
                message->Clear();
                ProcessMessages();
            };
            if (IsHiddenMessage(id)) {
                ReportEvent(shown, 36, 4, TEventReporter::clBlue);
                next();
                continue;
            }
            if (Account.Kind == ckIMAP4 && flags.Has(mfSeen)) {
                next();
                continue;
            }

            TRuleMessage rm{Account.Name, Utf8LowerCase(senderName), Utf8LowerCase(address),
                            Utf8LowerCase(subject)};
            TRuleResult rule = ApplyRules(rulesFolder, rm);
            State.MatchedRule = rule.MatchedRule;
            for (const auto &p : rule.Problems)
                if (FCycleProblems.insert(p).second)
                    ReportEvent(p, 0, 5, TEventReporter::clRed);

            if (rule.Action == raDelete) {
                bool deleted = false;
                switch (Account.Kind) {
                case ckPOP3:
                    deleted = NetPOP31->DeleteMessage(j);
                    break;
                case ckIMAP4:
                    deleted = NetIMAP41->DeleteMessage({j});
                    deletedIMAP4 = deletedIMAP4 || deleted;
                    break;
                case ckHTTP:
                    deleted = web.DeleteMessage(message->MessageId());
                    break;
                }
                if (deleted) {
                    SaveDeletedMessage(Account.Name, senderText, subject);
                    ReportEvent(shown, 35, 4, TEventReporter::clBlue);
                    next();
                    continue;
                }
                // A refused deletion leaves the message: it is mail as any other.
            } else if (rule.Action == raHide) {
                ReportEvent(shown, 36, 4, TEventReporter::clBlue);
                next();
                continue;
            } else if (rule.Action == raSave) {
                SaveWholeMessage(*this, Account, j, senderText, subject, id, web);
            }

            // Record the message at its position among this check's mail.
            const int k = counter - 1;
            std::string sender = viewSendFrom ? senderText : StripAngleAddress(senderText);
            std::string date = OneLine(FormatDateTime(showingTime, message->Date));
            if (Account.Senders.Count() < counter) {
                Account.Senders.Add(sender);
                Account.Addresses.Add(address);
                Account.Subjects.Add(subject);
                Account.Dates.Add(date);
                Account.MessageIds.Add(id);
                Changed = true;
            } else {
                // The five lists grow together; a short one is filled up so
                // that position k exists in each.
                for (TStringList *l : {&Account.Addresses, &Account.Subjects, &Account.Dates, &Account.MessageIds})
                    while (l->Count() < counter)
                        l->Add("");
                Account.Senders[k] = sender;
                Account.Addresses[k] = address;
                Account.Subjects[k] = subject;
                Account.Dates[k] = date;
                Changed = Account.MessageIds[k] != id;
                Account.MessageIds[k] = id;
            }
            inMessage = false;
            message->Clear();
            // The window stays alive between messages; the sockets' own
            // waits pump it while the server answers.
            ProcessMessages();
        }
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
