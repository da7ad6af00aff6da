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
#include <utility>
#include <vector>

#include "Desktop.h"
#include "FrmMain.h"
#include "settings/Kel_Reg.h"
#include "mailbox/MailboxSession.h"
#include "NetMessage.h"
#include "settings/ProgramPaths.h"
#include "settings/VeskRutins.h"
#include "options/asetukset.h"
#include "settings/unDecodes.h"
#include "settings/unLanguage.h"
#include "settings/unRules.h"
#include "unScr.h"

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
std::string OneLine(std::string out) {
    for (char &c : out)
        if (c == '\r' || c == '\n' || c == '\0' || c == '\t')
            c = ' ';
    return out;
}

// The record of the messages rules deleted, in the program folder.
std::string DeletedMessagesFile() { return ProgramFile("deleted.txt"); }

// The record with these lines, of which it keeps the last DelMessVal.
void WriteDeletedRecord(TStringList &Lines) {
    int keep = 30;
    if (!TryStrToInt(Trim(Option("DelMessVal", "30")), keep))
        keep = 30;
    if (keep < 0)
        keep = 0;
    const int extra = Lines.Count() - keep;
    if (extra > 0)
        Lines.Items().erase(Lines.Items().begin(), Lines.Items().begin() + extra);
    WriteFileAtomic(DeletedMessagesFile(), Lines.Text());
}

// Names of deletions in one line of the log: the first few, and how many
// more.
std::string DeletionNames(const std::vector<std::string> &Names) {
    constexpr size_t Shown = 10;
    std::string out;
    for (size_t i = 0; i < Names.size() && i < Shown; ++i)
        out += (i ? "; " : "") + Names[i];
    if (Names.size() > Shown)
        out += "; ... (" + IntToStr(int(Names.size() - Shown)) + " more)";
    return out;
}

// How often the window gets its events while messages are handled.
constexpr int PumpEveryMs = 5;
// How often a check looks again at the hidden-messages file and the rules
// folder: a change made meanwhile counts from the next message after that.
constexpr long long HiddenLookEveryMs = 5;

// The accounts a cycle may write its results back to: a record the Options
// dialog replaced during the cycle is another account now.
bool SameAccount(const Tiedot &a, const Tiedot &b) {
    return a.Name == b.Name && a.Host == b.Host && a.Port == b.Port && a.UserName == b.UserName &&
           a.Kind == b.Kind && a.SSL == b.SSL && a.Inbox == b.Inbox && a.Enabled == b.Enabled;
}

}  // namespace

// The messages' side of one account's check: each header is weighed as it
// arrives (hidden, seen, the rules), each message is then handled in its
// turn: deleted, hidden, saved, or recorded as new mail at its position.
class TAccountCheck {
public:
    TAccountCheck(TFrmMain &Main, Tiedot &Account, bool &Changed, TMailboxSession *Session)
        : M(Main), A(Account), FChanged(Changed), S(Session),
          FShowingTime(Option("ShowingTime", "tt    dd.mm.yyyy")), FRulesFolder(RulesFolder()),
          FViewSendFrom(Main.State.Options.ViewSendFrom) {
        FPaced.start();
        if (auto it = M.FUnconfirmedDeletions.find(A.Name); it != M.FUnconfirmedDeletions.end())
            FOnRecord = it->second;
    }
    TMailboxWalk Walk() {
        TMailboxWalk w;
        w.Stopping = [this] { return M.ExitRequested(); };
        w.Arrived = [this](TMailboxItem &Item, TNetMessage &Header) { return Weigh(Item, Header); };
        w.Handle = [this](TMailboxItem &Item) { Handle(Item); };
        return w;
    }
    // The messages recorded as new mail.
    int Counter() const { return FInMessage ? FCounter - 1 : FCounter; }

    // Once the session is closed, what became of each deletion. Carried out,
    // or perhaps (the server never said): its line stays and it is no mail;
    // those the server did not confirm are named once in the log. Certainly
    // not carried out: its line leaves "deleted.txt" again, the log says so
    // once, and the message, still on the server, is mail like any other,
    // after those recorded in their turn; the next check deletes it anew.
    // Walked: the walk met every message on the server.
    void Settle(const TMailboxSession *Session, bool Walked) {
        const std::vector<TDeletion> deleted = std::exchange(FDeleted, {});
        // An earlier deletion left unconfirmed that a whole walk no longer
        // meets was carried out after all.
        std::set<std::string> onRecord = Walked ? FMet : FOnRecord;
        std::vector<std::string> kept, unconfirmed;
        std::vector<const TWeighed *> undone;
        for (const TDeletion &d : deleted) {
            const TDeletionOutcome outcome = Session ? Session->DeletionOutcome(d.Item) : doFinal;
            if (outcome == doUndone) {
                undone.push_back(&d.R);
                continue;
            }
            if (!d.Line.empty())
                kept.push_back(d.Line);
            if (outcome == doFinal) {
                M.ReportEvent(d.R.SenderName + " - " + d.R.Subject, 35, 4, TEventReporter::clBlue);
                onRecord.erase(d.R.RecordKey());
            } else {
                unconfirmed.push_back(d.R.SenderName + " - " + d.R.Subject);
                onRecord.insert(d.R.RecordKey());
            }
        }
        if (onRecord.empty())
            M.FUnconfirmedDeletions.erase(A.Name);
        else
            M.FUnconfirmedDeletions[A.Name] = std::move(onRecord);
        if (!unconfirmed.empty())
            M.ReportEvent(LangText("Messages", "38", "Deletions the server did not confirm, kept on record:") + " " +
                              IntToStr(int(unconfirmed.size())) + " (" + A.Name + "): " + DeletionNames(unconfirmed),
                          0, 5, TEventReporter::clRed);
        if (undone.empty())
            return;
        TakeBackDeletedRecord(kept);
        M.ReportEvent(LangText("Messages", "37", "Deletions the server did not make, kept as new mail:") + " " +
                          IntToStr(int(undone.size())) + " (" + A.Name + ")",
                      0, 5, TEventReporter::clRed);
        if (FInMessage)
            Skip(false);
        for (const TWeighed *r : undone) {
            ++FCounter;
            Record(*r);
        }
    }

private:
    // What one message's header told, kept until its turn.
    struct TWeighed {
        bool Hidden = false;
        bool Seen = false;
        TRuleResult Rule;
        std::string SenderName, SenderText, Address, Subject, RawId, Id, Date;
        // What tells the message from others across checks: its Message-ID,
        // and without one what its line in "deleted.txt" shows.
        std::string RecordKey() const { return Id + '\n' + SenderText + '\n' + Subject; }
    };
    // A message the server accepted to delete, until its outcome is known.
    struct TDeletion {
        TWeighed R;
        TMailboxItem Item;
        std::string Line;  // what this check wrote to "deleted.txt" for it, if anything
    };

    TMailboxVerdict Weigh(const TMailboxItem &Item, TNetMessage &m) {
        TWeighed r;
        r.Seen = Item.Seen;
        if (!m.Subject.empty() && m.Subject[0] == '=')
            m.Subject = StripQPrefix(m.Subject);
        const TNetEMailAddressItem &from = m.From();
        r.SenderName = OneLine(from.Name);
        r.SenderText = OneLine(from.Text());
        r.Address = OneLine(from.Address);
        r.Subject = OneLine(m.Subject);
        r.RawId = m.MessageId();
        r.Id = OneLine(r.RawId);
        // A message without a date (none, or none that reads) has none
        // shown or stored, not the zero date.
        r.Date = m.Date == 0 ? std::string() : OneLine(FormatDateTime(FShowingTime, m.Date));
        r.Hidden = M.IsHiddenMessage(r.Id);
        if (!FOnRecord.empty() && FOnRecord.count(r.RecordKey()))
            FMet.insert(r.RecordKey());
        if (!r.Hidden && !(A.Kind == ckIMAP4 && r.Seen)) {
            if (!FRuleFilesFresh || FRuleFilesAge.elapsed() >= HiddenLookEveryMs) {
                FRuleFiles = ListDirectory(IncludeTrailingPathDelimiter(FRulesFolder), true, false);
                FRuleFilesAge.start();
                FRuleFilesFresh = true;
            }
            // The texts the rules compare are made only when there are rules.
            if (!FRuleFiles.empty()) {
                TRuleMessage rm{A.Name, Utf8LowerCase(r.SenderName), Utf8LowerCase(r.Address),
                                Utf8LowerCase(r.Subject)};
                r.Rule = ApplyRules(FRulesFolder, FRuleFiles, rm);
            }
        }
        const uint8_t action = r.Rule.Action;
        FWeighed.push_back(std::move(r));
        Breathe();
        return action == raDelete ? mvDelete : action == raSave ? mvRead : mvKeep;
    }

    // One message whose turn has come.
    void Handle(const TMailboxItem &Item) {
        ++FCounter;
        FInMessage = true;
        // A message passed over (its header refused or too large) is said in
        // the log at each check, whatever the error setting: it is mail
        // never shown.
        if (!Item.Failure.empty())
            M.ReportEvent(Item.Failure, 0, 5, TEventReporter::clRed);
        if (Item.Missing || !Item.Failure.empty()) {
            // A message the server cannot give (deleted by another session
            // since the count) is passed over: an empty message is never mail.
            Skip(false);
            return;
        }
        TWeighed r = std::move(FWeighed.front());
        FWeighed.pop_front();
        const auto shown = [&r] { return r.SenderName + " - " + r.Subject; };
        if (r.Hidden) {
            M.ReportEvent(shown(), 36, 4, TEventReporter::clBlue);
            Skip(true);
            return;
        }
        if (A.Kind == ckIMAP4 && r.Seen) {
            Skip(true);
            return;
        }
        M.State.MatchedRule = r.Rule.MatchedRule;
        for (const auto &p : r.Rule.Problems)
            if (M.FCycleProblems.insert(p).second)
                M.ReportEvent(p, 0, 5, TEventReporter::clRed);
        if (r.Rule.Action == raDelete) {
            if (Item.Deleted) {
                // Its line is written before the server makes the deletion
                // final, so that none is made unrecorded (a line that cannot
                // be written ends the walk before); Settle takes it back when
                // the server certainly did not make it. An earlier check's
                // deletion the server never confirmed has its line already.
                TDeletion d{r, Item, {}};
                if (FOnRecord.empty() || !FOnRecord.count(r.RecordKey())) {
                    KeepDeletedRecord();
                    d.Line = M.SaveDeletedMessage(A.Name, r.SenderText, r.Subject);
                    FRecordWritten = FRecordWritten || !d.Line.empty();
                }
                FDeleted.push_back(std::move(d));
                Skip(true);
                return;
            }
            // A refused deletion leaves the message: it is mail as any other.
        } else if (r.Rule.Action == raHide) {
            M.ReportEvent(shown(), 36, 4, TEventReporter::clBlue);
            Skip(true);
            return;
        } else if (r.Rule.Action == raSave) {
            SaveWholeMessage(Item, r);
        }
        Record(std::move(r));
        FInMessage = false;
        Breathe();
    }

    void Skip(bool breathe) {
        --FCounter;
        FInMessage = false;
        if (breathe)
            Breathe();
    }

    // The message at its position among this check's mail; its texts move
    // into the lists.
    void Record(TWeighed r) {
        const int k = FCounter - 1;
        std::string sender = FViewSendFrom ? std::move(r.SenderText) : M.StripAngleAddress(r.SenderText);
        if (A.Senders.Count() < FCounter) {
            A.Senders.Add(std::move(sender));
            A.Addresses.Add(std::move(r.Address));
            A.Subjects.Add(std::move(r.Subject));
            A.Dates.Add(std::move(r.Date));
            A.MessageIds.Add(std::move(r.Id));
            FChanged = true;
            return;
        }
        // The five lists grow together; a short one is filled up so that
        // position k exists in each.
        for (TStringList *l : {&A.Addresses, &A.Subjects, &A.Dates, &A.MessageIds})
            while (l->Count() < FCounter)
                l->Add("");
        A.Senders[k] = std::move(sender);
        A.Addresses[k] = std::move(r.Address);
        A.Subjects[k] = std::move(r.Subject);
        A.Dates[k] = std::move(r.Date);
        FChanged = A.MessageIds[k] != r.Id;
        A.MessageIds[k] = std::move(r.Id);
    }

    // The save rule: the whole message into a file of the rule's folder,
    // unless that file exists. Nothing of this stops the check; the message
    // stays mail.
    void SaveWholeMessage(const TMailboxItem &Item, const TWeighed &r) {
        std::string file, part;
        try {
            std::string folder =
                IniReadString(IncludeTrailingPathDelimiter(RulesFolder()) + M.State.MatchedRule, "Options", "Path", "");
            if (Trim(folder).empty()) {
                M.ReportEvent("Rule \"" + M.State.MatchedRule + "\" names no folder to save messages in", 0, 6,
                              TEventReporter::clRed);
                return;
            }
            file = MakeEmlFileName(folder, CutUtf8(r.SenderText, MaxEmlSenderBytes) + " " +
                                               CutUtf8(r.Subject, MaxEmlSubjectBytes) + " " + r.Id + ".eml");
            if (FileExists(file))
                return;
            auto whole = NetCreateNoOwner<TNetMessage>();
            if (!S || !S->ReadMessage(Item, *whole))
                return;
            // Written beside its name first: a file cut short would count as
            // saved and never be written again.
            part = file + ".part";
            whole->SaveToFile(part);
            if (!RenameFile(part, file))
                throw EWriteError("Cannot rename " + part);
            part.clear();
        } catch (const std::exception &e) {
            // A broken connection shows again at the next command and ends
            // the check there.
            if (!part.empty())
                DeleteFile(part);
            M.ReportEvent("The message was not saved in \"" + file + "\": " + e.what(), 0, 6,
                          TEventReporter::clRed);
        }
    }

    // "deleted.txt" as it was before the check's first deletion.
    void KeepDeletedRecord() {
        if (FRecordKept)
            return;
        const std::string path = DeletedMessagesFile();
        FHadRecord = FileExists(path);
        FRecordBefore = FHadRecord ? ReadFileToString(path) : std::string();
        FRecordKept = true;
    }
    // "deleted.txt" as if the check had written only the lines Kept.
    void TakeBackDeletedRecord(const std::vector<std::string> &Kept) {
        if (!FRecordWritten)
            return;
        const std::string path = DeletedMessagesFile();
        try {
            if (!Kept.empty()) {
                TStringList lines;
                lines.SetText(FRecordBefore);
                for (const std::string &l : Kept)
                    lines.Add(l);
                WriteDeletedRecord(lines);
            } else if (!FHadRecord) {
                DeleteFile(path);
            } else if (!FileExists(path) || ReadFileToString(path) != FRecordBefore) {
                WriteFileAtomic(path, FRecordBefore);
            }
        } catch (const std::exception &e) {
            M.ReportEvent("\"" + path + "\" could not be put back as it was: " + e.what(), 0, 5,
                          TEventReporter::clRed);
        }
    }

    // The window gets its events every few milliseconds between messages;
    // the sockets' own waits pump it while the server answers.
    void Breathe() {
        if (FPaced.elapsed() >= PumpEveryMs) {
            M.ProcessMessages();
            FPaced.restart();
        }
    }

    TFrmMain &M;
    Tiedot &A;
    bool &FChanged;
    TMailboxSession *S;  // none for an account of an unknown kind
    const std::string FShowingTime, FRulesFolder;
    const bool FViewSendFrom;
    std::deque<TWeighed> FWeighed;  // arrived, not yet handled, in order
    std::vector<TDeletion> FDeleted;  // deleted by a rule, not yet settled
    // This account's deletions of earlier checks that the server never
    // confirmed (by RecordKey), and those of them this check meets.
    std::set<std::string> FOnRecord, FMet;
    std::string FRecordBefore;       // "deleted.txt" before the check wrote to it
    bool FRecordKept = false, FHadRecord = false, FRecordWritten = false;
    std::vector<std::string> FRuleFiles;
    QElapsedTimer FRuleFilesAge, FPaced;
    bool FRuleFilesFresh = false;
    int FCounter = 0;
    bool FInMessage = false;  // the counter holds a message not yet recorded
};

namespace {
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
    const int units = CheckTimeUnits(StrToInt64Def(Trim(Option("CheckTime", "10")), 10));
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
    if (TMailboxSession::AnyInUse(MailboxClients()))
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

TMailboxClients TFrmMain::MailboxClients() {
    return TMailboxClients{NetPOP31, NetIMAP41, NetSSLIOHandlerSocket1, [this] { return ExitRequested(); }};
}

bool TFrmMain::CheckAccount(Tiedot &Account, bool &Changed) {
    Account.NewCount = 0;
    Changed = false;
    if (Account.Host.empty() || !Account.Enabled)
        return false;

    State.CycleRunning = true;
    if (ScreenSaverShown())
        DrawSaverStatus(Account.Name, true);
    ReportEvent(Account.Host, 10, 4, TEventReporter::clBlack);
    FCheckHiddenFile = HiddenMessagesFile();
    FHidden.Looked.clear();
    auto session = TMailboxSession::Create(MailboxClients(), MailboxAccountOf(Account));
    auto check = std::make_unique<TAccountCheck>(*this, Account, Changed, session.get());
    bool result = true;
    bool ended = false;   // the check ended early: no count is recorded
    bool walked = false;  // every message was met

    try {
        if (session && session->InUse()) {
            ended = true;  // another session (the message reader's) holds the client
        } else if (session) {
            const int count = session->Open();
            TMailboxWalk walk = check->Walk();
            session->Walk(count, walk);
            walked = !session->Ended();
            if (walked)
                session->Finish();
        }
    } catch (const std::exception &e) {
        std::string text = e.what();
        if (session && session->RefusedLogIn(e))
            text = " Bad login: " + OneLine(text);
        ReportEvent(text, 0, 1, TEventReporter::clRed);
        result = false;
    }
    ended = ended || (session && session->Ended());

    // Clean-up: only what this check opened is closed.
    State.CycleRunning = false;
    FCheckHiddenFile.clear();
    FHidden.Looked.clear();
    if (session) {
        try {
            session->Close();
        } catch (const std::exception &e) {
            ReportEvent((Account.Kind == ckPOP3 ? "Error: #0054 " : "Error: #0051 ") + std::string(e.what()), 0, 6,
                        TEventReporter::clRed);
        }
    }
    // The goodbye (POP3) or the expunge (IMAP4) made the deletions final,
    // or they were not made, or the server never said.
    try {
        check->Settle(session.get(), walked);
    } catch (const std::exception &e) {
        ReportEvent(e.what(), 0, 5, TEventReporter::clRed);
        result = false;
    }
    const int counter = check->Counter();
    check.reset();
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

std::string TFrmMain::SaveDeletedMessage(const std::string &AccountName, const std::string &Sender,
                                         const std::string &Subject) {
    if (!StrToBoolean(Option("SaveDeletedM", "True")))
        return std::string();
    const std::string path = DeletedMessagesFile();
    TStringList lines;
    if (FileExists(path))
        lines.LoadFromFile(path);
    const std::string line = OneLine(Subject) + "   " + OneLine(Sender) + "   " + OneLine(AccountName) + "   " +
                             OneLine(FormatDateTime(Option("ShowingTime", "tt    dd.mm.yyyy"), Now()));
    lines.Add(line);
    WriteDeletedRecord(lines);
    return line;
}
