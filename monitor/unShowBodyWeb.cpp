// The message reader on a web-mail account: the list, bodies and deletion go
// through the web-mail route the program installed (WebMailCalls.h), on the
// one page of its browser. While the reader works there no checking cycle
// starts; a cycle that ran meanwhile leaves the site logged out, so each
// operation logs in again when the page lists no new mail.
#include <QApplication>
#include <QTreeWidget>
#include <algorithm>

#include "FrmMain.h"
#include "Kel_Reg.h"
#include "NetMessage.h"
#include "ProgramPaths.h"
#include "Tiedot.h"
#include "VeskRutins.h"
#include "WebMailCalls.h"
#include "WebPageText.h"
#include "unShowBody.h"

namespace {

const char *const kCannotDelete = "Cannot delete this message.";
const char *const kMessageGone = "This message is no longer on the server.";
const char *const kWebLoginFailed = "The web-mail site did not accept the log-in.";

bool ShowReaded() {
    return StrToBoolean(IniReadString(SettingsFilePath(), "MessReader", "ShowReaded", "True"));
}

}  // namespace

bool TfrmMessBody::WebLoggedIn() {
    const TWebMailCalls &web = WebMailCalls();
    web.CreateWebForm();
    if (web.WebHostNewMailCount(false) >= 1) return true;
    if (web.WebHostLogin(Account.Host, Account.UserName, Account.Password)) return true;
    if (!Stopping()) SetStatus(kWebLoginFailed);
    return false;
}

void TfrmMessBody::LoadWebList(std::unordered_map<std::string, TReaderEntry> &Before) {
    if (!WebMailAvailable()) {
        SetStatus(WebMailUnavailableText);
        SetBusy(false);
        return;
    }
    const TWebMailCalls &web = WebMailCalls();
    TWebRouteUse use;
    const bool all = ShowReaded();
    const std::string dateFormat = IniReadString(SettingsFilePath(), "Options", "ShowingTime", "tt    dd.mm.yyyy");
    auto msg = NetCreateNoOwner<TNetMessage>();
    web.CreateWebForm();
    if (!web.WebHostLogin(Account.Host, Account.UserName, Account.Password)) {
        if (!Stopping()) SetStatus(kWebLoginFailed);
    } else {
        const int count = std::max(0, web.WebHostNewMailCount(all));
        ShowProgress(1, count);
        for (int i = 1; i <= count && !Stopping(); ++i) {
            msg->Clear();
            if (web.WebHostReadList(i, *msg, all)) {
                TReaderEntry e;
                e.Number = i;
                // Shown as it reads, not as the page's HTML writes it.
                msg->From().Name = DecodeWebText(msg->From().Name);
                e.Sender = msg->From().Text();
                e.Address = msg->From().Address;
                e.Subject = DecodeWebText(msg->Subject);
                if (!e.Subject.empty() && e.Subject[0] == '=') e.Subject = StripQPrefix(e.Subject);
                e.MessageId = msg->MessageId();
                e.Read = msg->Flags.Has(mfSeen) ? 1 : 0;
                auto old = e.MessageId.empty() ? Before.end() : Before.find(e.MessageId);
                if (old != Before.end()) e.Body = old->second.Body;
                auto *item = new QTreeWidgetItem;
                item->setText(0, QString::fromStdString(e.Sender));
                item->setText(1, QString::fromStdString(e.Subject));
                if (msg->Date != 0) item->setText(2, QString::fromStdString(FormatDateTime(dateFormat, msg->Date)));
                StyleRow(*item, e);
                Entries.push_back(std::move(e));
                FPendingRows.push_back(item);
            }
            FlushRows();
            ShowProgress(i, count);
            FrmMain->ProcessMessages();
        }
    }
    FlushRows();
    msg.reset();
    if (MailList->topLevelItemCount() > 0) {
        SelectRow(0);
        MailList->setFocus();
    } else {
        ClearBodyView();
    }
    ShowProgress(10, 10);
    SetBusy(false);
    if (!Stopping() && StrToBoolean(IniReadString(SettingsFilePath(), "MessReader", "GetBodys", "False"))) {
        Timer3->Tag = -1;
        Timer3->SetEnabled(true);
    }
}

int TfrmMessBody::LocateWebEntry(const TReaderEntry &Entry, TNetMessage &Message, bool All) {
    const TWebMailCalls &web = WebMailCalls();
    if (Entry.MessageId.empty()) return -1;
    // Where it was listed first; a site renumbers its list when a message
    // goes, or (listing new mail only) when one was opened and so read.
    Message.Clear();
    if (Entry.Number >= 1 && web.WebHostReadList(Entry.Number, Message, All) && Message.MessageId() == Entry.MessageId)
        return Entry.Number;
    const int count = web.WebHostNewMailCount(All);
    for (int p = 1; p <= count && !Stopping(); ++p) {
        Message.Clear();
        if (p != Entry.Number && web.WebHostReadList(p, Message, All) && Message.MessageId() == Entry.MessageId)
            return p;
    }
    return -1;
}

bool TfrmMessBody::DeleteOnWeb(const TReaderEntry &Entry) {
    if (!WebMailAvailable()) {
        SetStatus(WebMailUnavailableText);
        return false;
    }
    const TWebMailCalls &web = WebMailCalls();
    TWebRouteUse use;
    if (!WebLoggedIn() || Stopping()) return false;
    // A fresh look at the message before anything is ticked: the page must
    // list this very message.
    auto msg = NetCreateNoOwner<TNetMessage>();
    if (LocateWebEntry(Entry, *msg, true) < 1) {
        SetStatus(kCannotDelete);
        return false;
    }
    if (Stopping()) return false;
    // Clicked is not deleted: the message must be gone from the list.
    if (!web.WebHostDeleteMessage(Entry.MessageId) || web.WebHostLocateMessage(Entry.MessageId) != -1) {
        if (!Stopping()) SetStatus(kCannotDelete);
        return false;
    }
    return true;
}

bool TfrmMessBody::FetchWebBody(int EntryIndex) {
    if (!WebMailAvailable()) {
        SetStatus(WebMailUnavailableText);
        return false;
    }
    const TWebMailCalls &web = WebMailCalls();
    SetBusy(true);
    ShowProgress(1, 3);
    bool ok = false;
    {
        TWebRouteUse use;
        const bool all = ShowReaded();
        auto msg = NetCreateNoOwner<TNetMessage>();
        if (WebLoggedIn() && !Stopping()) {
            ShowProgress(2, 3);
            const TReaderEntry e = Entries[size_t(EntryIndex)];
            const int p = LocateWebEntry(e, *msg, all);
            // The link is found by the subject as the site lists it.
            const std::string subject = msg->Subject;
            if (p < 1) {
                if (!Stopping()) SetStatus(kMessageGone);
            } else if (!Stopping()) {
                msg->Clear();
                if (web.WebHostReadBody(p, *msg, subject, e.MessageId, all) && msg->MessageId() == e.MessageId &&
                    EntryIndex < int(Entries.size()) && Entries[size_t(EntryIndex)].MessageId == e.MessageId) {
                    TReaderEntry &entry = Entries[size_t(EntryIndex)];
                    entry.Body.Clear();
                    for (const std::string &line : msg->Body) entry.Body.Add(line);
                    entry.Read = 1;
                    ok = true;
                }
            }
        }
    }
    ShowProgress(3, 3);
    SetBusy(false);
    if (ok) UpdateRow(RowOfEntry(EntryIndex));
    return ok;
}

void TfrmMessBody::LogoutWeb() {
    if (Account.Kind != ckHTTP || !WebMailAvailable() || CycleInProgress()) return;
    TWebRouteUse use;
    WebMailCalls().WebHostLogout();
}
