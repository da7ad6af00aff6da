// Web-mail accounts in the running program: the main window's checking cycle
// and the message reader against the web-mail test site, in the real browser
// engine, with the route loaded as the program loads it. What the site
// was asked to do is read back from its own record.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "dialogs/DialogSeam.h"
#include "EventLoopWait.h"
#include "mainwindow/MainWindowFixture.h"
#include "NetMessage.h"
#include "WebMailSite.h"
#include "reader/unShowBody.h"
#include "webmail/WebMailModule.h"
#include "webmail/untwo.h"

namespace {

std::vector<std::string> Strings(const QJsonValue &v) {
    std::vector<std::string> out;
    for (const QJsonValue &x : v.toArray()) out.push_back(x.toString().toStdString());
    return out;
}

class WebMailWired : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareBrowserTests();
        H = std::make_unique<MainWindowHarness>();
        LoadWebMailModuleOnFirstUse();
    }
    void TearDown() override {
        SetModalHook({});
        FreeWebMailForm();
        SetWebMailLoader(nullptr);
        SetWebMailCalls({});
        H.reset();
    }
    TTestAccount Web(const std::string &password = "s3cret", const WebMailSite *site = nullptr) {
        WriteTestFile(H->Dir.File("host_data.dat"), HostSection("testmail", (site ? *site : Site).Url("/login")));
        return TestSiteWebAccount("Web account", password);
    }
    // The account on a script that knows no link to confirm a delete with.
    TTestAccount WebWithoutDelLink(const WebMailSite &site) {
        WriteTestFile(H->Dir.File("host_data.dat"),
                      StringReplaceAll(HostSection("testmail", site.Url("/login")), "DelLink=Yes, delete\n",
                                       "DelLink=\n"));
        return TestSiteWebAccount();
    }
    void DeleteRule(const std::string &address) {
        WriteRule("delete", "[Rule]\nRule1=1\nAllAccounts=True\nEMailRule=0\nAllEMails=False\nWordsRule=6\n"
                            "[EMails]\n0=" + address + "\n");
    }
    // The delete finds the session expired: nothing is deleted and the
    // browser is on the log-in page. Back on the list through a new log-in,
    // a new message has pushed a1003 onto the next page of three.
    void DeleteOnAnExpiredSessionStaysMail(bool confirming) {
        WebMailSite::TOptions o;
        o.PageSize = 3;
        o.DeleteExpires = true;
        o.NewMailAtLogIn = 2;
        WebMailSite paged(o);
        DeleteRule("carol@example.net");
        H->WriteSettings({confirming ? Web("s3cret", &paged) : WebWithoutDelLink(paged)}, {H->LongLog()});
        TFrmMain &m = H->Start();
        m.Timer1Timer();

        QJsonObject state = paged.State();
        ASSERT_EQ(state["expired"].toInt(), 1) << H->Log();
        EXPECT_EQ(state["logins"].toArray().size(), 2) << "back on the list through a new log-in";
        EXPECT_TRUE(state["deleted"].toArray().isEmpty());
        EXPECT_EQ(H->LogLinesWith("Deleted by a rule"), 0) << H->Log();
        EXPECT_FALSE(FileExists(H->Dir.File("deleted.txt")));
        const Tiedot &t = m.State.Accounts[0];
        EXPECT_EQ(t.NewCount, 2) << H->Log();
        ASSERT_EQ(t.MessageIds.Count(), 2) << H->Log();
        EXPECT_EQ(t.MessageIds[0], "<a1001>");
        EXPECT_EQ(t.MessageIds[1], "<a1003>");
    }
    // The list holds a1001 alone; the delete leaves it empty.
    void DeletingTheOnlyMessageCounts(bool confirming) {
        WebMailSite::TOptions o;
        o.Messages = 1;
        o.NoConfirm = !confirming;
        WebMailSite one(o);
        DeleteRule("alice@example.org");
        H->WriteSettings({confirming ? Web("s3cret", &one) : WebWithoutDelLink(one)}, {H->LongLog()});
        TFrmMain &m = H->Start();
        m.Timer1Timer();

        QJsonObject state = one.State();
        EXPECT_EQ(Strings(state["deleted"]), std::vector<std::string>{"a1001"}) << H->Log();
        EXPECT_EQ(H->LogLinesWith("Deleted by a rule: Alice Example - Lunch on Friday"), 1) << H->Log();
        TStringList deleted;
        deleted.LoadFromFile(H->Dir.File("deleted.txt"));
        EXPECT_EQ(deleted.Count(), 1);
        EXPECT_EQ(m.State.Accounts[0].NewCount, 0) << H->Log();
        EXPECT_EQ(H->LogLinesWith("Done: You got 0 new mails"), 1) << H->Log();
        // The empty list is the list: no new log-in to find it.
        EXPECT_EQ(state["logins"].toArray().size(), 1);
    }
    std::string SavedFolder() const { return H->Dir.File("saved"); }
    void WriteRule(const std::string &name, const std::string &text) {
        WriteTestFile(H->Dir.File("rules/" + name + ".rul"), text);
    }

    WebMailSite Site;
    std::unique_ptr<MainWindowHarness> H;
};

}  // namespace

TEST_F(WebMailWired, CycleDeletesTwoAdjacentMessagesAndRecordsTheRest) {
    // a1001 and a1003 are the first two new messages of the list: after the
    // first goes, the second stands where it stood.
    WriteRule("delete", "[Rule]\nRule1=1\nAllAccounts=True\nEMailRule=0\nAllEMails=False\nWordsRule=6\n"
                        "[EMails]\n0=alice@example.org\n1=carol@example.net\n");
    H->WriteSettings({Web()}, {H->LongLog()});
    TFrmMain &m = H->Start();
    m.Timer1Timer();

    const Tiedot &t = m.State.Accounts[0];
    EXPECT_EQ(t.NewCount, 1) << H->Log();
    ASSERT_EQ(t.MessageIds.Count(), 1) << H->Log();
    EXPECT_EQ(t.MessageIds[0], "<a1005>");
    EXPECT_EQ(t.Senders[0], "Erin <...>");
    EXPECT_EQ(t.Subjects[0], "Weekly report");
    EXPECT_EQ(m.State.Accounts.TotalNew, 1);
    EXPECT_EQ(m.TrayIcon1->Hint(), "You got all in all 1 new mails");
    EXPECT_FALSE(m.Reporter.ErrorFlag) << H->Log();

    EXPECT_EQ(H->LogLinesWith("Checking testmail"), 1) << H->Log();
    EXPECT_EQ(H->LogLinesWith("Deleted by a rule: Alice Example - Lunch on Friday"), 1) << H->Log();
    EXPECT_EQ(H->LogLinesWith("Deleted by a rule:  - Weekly report"), 1) << H->Log();
    EXPECT_EQ(H->LogLinesWith("Done: You got 1 new mails"), 1) << H->Log();

    // On the site: one log-in, each message deleted once and alone, the
    // read ones and Erin's left, and the session ended.
    QJsonObject state = Site.State();
    EXPECT_EQ(state["logins"].toArray().size(), 1);
    EXPECT_EQ(Strings(state["deleted"]), (std::vector<std::string>{"a1001", "a1003"}));
    QJsonArray posts = state["delete_posts"].toArray();
    ASSERT_EQ(posts.size(), 2);
    EXPECT_EQ(Strings(posts[0].toObject()["selected"]), std::vector<std::string>{"a1001"});
    EXPECT_EQ(Strings(posts[1].toObject()["selected"]), std::vector<std::string>{"a1003"});
    EXPECT_EQ(state["logouts"].toInt(), 1);

    TStringList deleted;
    deleted.LoadFromFile(H->Dir.File("deleted.txt"));
    ASSERT_EQ(deleted.Count(), 2);
    EXPECT_EQ(deleted[0].rfind("Lunch on Friday   Alice Example <alice@example.org>   Web account   ", 0), 0u)
        << deleted[0];

    // The next cycle finds the same message at the same place: no alert.
    m.Timer7->SetEnabled(false);
    m.Timer1Timer();
    EXPECT_EQ(m.State.Accounts[0].NewCount, 1) << H->Log();
    EXPECT_FALSE(m.Timer7->Enabled());
    EXPECT_EQ(Site.State()["deleted"].toArray().size(), 2);
}

TEST_F(WebMailWired, SaveRuleOpensEachMessageOnceThoughOpeningMovesTheList) {
    // Opening a message marks it read, so it leaves the list of new mail and
    // the next one moves up; both "Weekly report" messages must be saved.
    WriteRule("keep", "[Rule]\nRule1=3\nAllAccounts=True\nAllEMails=True\nWordsRule=0\n[Words]\n0=weekly report\n"
                      "[Options]\nPath=" + SavedFolder() + "\n");
    H->WriteSettings({Web()}, {H->LongLog()});
    TFrmMain &m = H->Start();
    m.Timer1Timer();

    const Tiedot &t = m.State.Accounts[0];
    EXPECT_EQ(t.NewCount, 3) << H->Log();
    ASSERT_EQ(t.MessageIds.Count(), 3);
    EXPECT_EQ(t.MessageIds[0], "<a1001>");
    EXPECT_EQ(t.MessageIds[1], "<a1003>");
    EXPECT_EQ(t.MessageIds[2], "<a1005>");
    EXPECT_EQ(Strings(Site.State()["viewed"]), (std::vector<std::string>{"a1003", "a1005"}));

    std::vector<std::string> files = ListDirectory(SavedFolder());
    ASSERT_EQ(files.size(), 2u) << H->Log();
    std::string carol, erin;
    for (const std::string &f : files) {
        std::string text = ReadTestFile(SavedFolder() + "/" + f);
        if (Contains(text, "Message-ID: <a1003>")) carol = text;
        if (Contains(text, "Message-ID: <a1005>")) erin = text;
    }
    // The list's fields as header, the page's text as body.
    EXPECT_TRUE(Contains(carol, "From: \"carol@example.net\" <carol@example.net>")) << carol;
    EXPECT_TRUE(Contains(carol, "Week 11 report from Carol.")) << carol;
    EXPECT_TRUE(Contains(carol, "Subject: Weekly report")) << carol;
    EXPECT_TRUE(Contains(erin, "Week 12 report from Erin.")) << erin;
}

TEST_F(WebMailWired, ARefusedDeletionLeavesTheMessageAsNewMail) {
    // A page whose check boxes do not pair off with its messages: nothing is
    // ticked, the message stays, and the rest of the list is still read.
    WebMailSite::TOptions o;
    o.ExtraCheckbox = true;
    WebMailSite odd(o);
    WriteRule("delete", "[Rule]\nRule1=1\nAllAccounts=True\nEMailRule=0\nAllEMails=False\nWordsRule=6\n"
                        "[EMails]\n0=alice@example.org\n");
    H->WriteSettings({Web("s3cret", &odd)}, {H->LongLog()});
    TFrmMain &m = H->Start();
    m.Timer1Timer();
    const Tiedot &t = m.State.Accounts[0];
    EXPECT_EQ(t.NewCount, 3) << H->Log();
    ASSERT_EQ(t.MessageIds.Count(), 3);
    EXPECT_EQ(t.MessageIds[0], "<a1001>");
    EXPECT_EQ(t.MessageIds[2], "<a1005>");
    EXPECT_EQ(H->LogLinesWith("Deleted by a rule"), 0) << H->Log();
    EXPECT_TRUE(odd.State()["deleted"].toArray().isEmpty());
    EXPECT_FALSE(FileExists(H->Dir.File("deleted.txt")));
}

TEST_F(WebMailWired, ADeleteTheSiteDidNotCarryOutStaysMailThoughTheListAfterANewLogInLacksIt) {
    DeleteOnAnExpiredSessionStaysMail(true);
}

TEST_F(WebMailWired, ADeleteTheSiteDidNotCarryOutStaysMailWithoutALinkToConfirmWithToo) {
    // The page the button brings is the log-in page, and no link is looked
    // for on it.
    DeleteOnAnExpiredSessionStaysMail(false);
}

TEST_F(WebMailWired, DeletingTheOnlyMessageOfTheListCounts) { DeletingTheOnlyMessageCounts(true); }

TEST_F(WebMailWired, DeletingTheOnlyMessageOfTheListCountsWithoutALinkToConfirmWith) {
    DeletingTheOnlyMessageCounts(false);
}

TEST_F(WebMailWired, RefusedLogInIsABadLogInAndCountsNothing) {
    H->WriteSettings({Web("wrong")}, {H->LongLog()});
    TFrmMain &m = H->Start();
    m.Timer1Timer();
    EXPECT_EQ(m.State.Accounts[0].NewCount, 0);
    EXPECT_TRUE(m.Reporter.ErrorFlag) << H->Log();
    EXPECT_EQ(H->LogLinesWith("Done: You got 0 new mails"), 1) << H->Log();
    EXPECT_FALSE(Site.State()["logins"].toArray()[0].toObject()["ok"].toBool());
}

TEST_F(WebMailWired, TheLogSaysWhatALogInCameTo) {
    // A site that answers a wrong password with its log-in form at another
    // address; one whose log-in buttons have no name; a script whose field
    // names the page does not have; a link that changes the page by its
    // script alone, loading nothing; a host without a script; a log-in
    // address that is no web address; a link text no link of the mailbox has;
    // a mailbox that keeps a form to sign in again out of sight; a log-in
    // page nobody answers for, a log-in form that posts where nobody
    // answers, and a site that cuts the log-in off.
    WebMailSite::TOptions refusedAt, unnamed, scripted, relogin, offAction, cut;
    refusedAt.RefusedAt = "/?_task=login";
    unnamed.UnnamedButtons = true;
    scripted.ScriptLink = true;
    relogin.HiddenRelogin = true;
    const std::string nobody = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/login";
    offAction.LoginAction = nobody;
    cut.CutLogIn = true;
    WebMailSite refusing(refusedAt), buttonless(unnamed), scripting(scripted), plain, hiding(relogin),
        postingOff(offAction), cutting(cut);
    WriteTestFile(H->Dir.File("host_data.dat"),
                  HostSection("refused", refusing.Url("/login")) + HostSection("unnamed", buttonless.Url("/login")) +
                      StringReplaceAll(StringReplaceAll(HostSection("misnamed", Site.Url("/login")),
                                                        "NameName=user\n", "NameName=login\n"),
                                       "PassName=pass\n", "PassName=pwd\n") +
                      HostSection("scripted", scripting.Url("/login")) +
                      HostSection("ftp", "ftp://127.0.0.1/login") +
                      StringReplaceAll(HostSection("nolink", plain.Url("/login")), "R1=2\n",
                                       "R1=2\nClickIn2=True\nClickLink2=Continue\n") +
                      HostSection("relogin", hiding.Url("/login")) + HostSection("nopage", nobody) +
                      HostSection("offaction", postingOff.Url("/login")) + HostSection("cut", cutting.Url("/login")));
    auto account = [](const std::string &host, const std::string &password) {
        return TTestAccount{
            .Name = host, .Kind = "HTTP", .Host = host, .Port = 80, .User = "bob", .Password = password};
    };
    // The refused one last: the error flag tells of the cycle's last error.
    H->WriteSettings({account("unnamed", "s3cret"), account("misnamed", "s3cret"), account("scripted", "s3cret"),
                      account("noscript", "s3cret"), account("ftp", "s3cret"), account("nolink", "s3cret"),
                      account("relogin", "s3cret"), account("nopage", "s3cret"), account("offaction", "s3cret"),
                      account("cut", "s3cret"), account("refused", "wrong")},
                     {H->LongLog()});
    TFrmMain &m = H->Start();
    ASSERT_TRUE(WebMailAvailable());
    WebMailCalls().CreateWebForm();
    frmWeb->Timer1->setInterval(5000);
    m.Timer1Timer();

    // What the log says of one account between its "Checking" line and its
    // count, without the times.
    auto told = [&](const std::string &host) {
        std::vector<std::string> out;
        bool in = false;
        for (const std::string &l : H->LogLines()) {
            if (Contains(l, "Checking " + host))
                in = true;
            else if (in && Contains(l, "Done: "))
                break;
            else if (in)
                out.push_back(l.substr(l.find("  ") + 2));
        }
        return out;
    };
    using Lines = std::vector<std::string>;
    // Refused, though at another address: a bad log-in, as a mail server's.
    EXPECT_EQ(told("refused"), Lines{"Login failed: wrong user name or password"}) << H->Log();
    EXPECT_TRUE(m.Reporter.ErrorFlag);
    ASSERT_EQ(refusing.State()["logins"].toArray().size(), 1);
    EXPECT_FALSE(refusing.State()["logins"].toArray()[0].toObject()["ok"].toBool());
    // Nothing was sent where the script names what the page lacks.
    EXPECT_EQ(told("unnamed"), Lines{"The web-mail log-in page has no element the host script names: ButtName "
                                     "\"go\" (ButtRND 2) - " + buttonless.Url("/login")})
        << H->Log();
    EXPECT_TRUE(buttonless.State()["logins"].toArray().isEmpty());
    EXPECT_EQ(told("misnamed"), Lines{"The web-mail log-in page has no element the host script names: NameName "
                                      "\"login\", PassName \"pwd\" - " + Site.Url("/login")})
        << H->Log();
    EXPECT_TRUE(Site.State()["logins"].toArray().isEmpty());
    // Logged in, then the page the link was to bring never came.
    EXPECT_EQ(told("scripted"),
              Lines{"The web-mail page did not finish loading after the click on ClickLink1 \"Mailbox\""})
        << H->Log();
    EXPECT_TRUE(scripting.State()["logins"].toArray()[0].toObject()["ok"].toBool());
    // Nothing the site refused, and each said once.
    EXPECT_EQ(told("noscript"), Lines{"There is no web-mail script in host_data.dat for the host noscript"})
        << H->Log();
    EXPECT_EQ(told("ftp"),
              Lines{"Web mail: the log-in address of ftp (ftp://127.0.0.1/login) is not an http or https address"})
        << H->Log();
    // Logged in, and the mailbox lacks the link the script clicks next:
    // said, and the check goes on there (a site may show the page such a
    // link leads past only at times).
    EXPECT_EQ(told("nolink"), Lines{"The web-mail page has no link the host script names: ClickLink2 "
                                    "\"Continue\" - " + plain.Url("/inbox")})
        << H->Log();
    // A form the mailbox does not show is no refusal.
    EXPECT_EQ(told("relogin"), Lines{}) << H->Log();
    // The engine's error page of a page that could not be loaded is neither
    // a log-in nor a refusal, nor a page without the script's names.
    const auto notLoaded = [&](const std::string &host, const std::string &url) {
        const Lines l = told(host);
        return l.size() == 1 && StartsText("The web-mail page could not be loaded: " + url + " (net::ERR_", l[0]);
    };
    EXPECT_TRUE(notLoaded("nopage", nobody)) << H->Log();
    EXPECT_TRUE(notLoaded("offaction", nobody)) << H->Log();
    EXPECT_TRUE(notLoaded("cut", cutting.Url("/login"))) << H->Log();
    EXPECT_FALSE(cutting.State()["logins"].toArray().isEmpty());
    for (const Tiedot &a : m.State.Accounts.Items)
        EXPECT_EQ(a.NewCount > 0, a.Name == "nolink" || a.Name == "relogin") << a.Name << "\n" << H->Log();
}

TEST_F(WebMailWired, WithoutTheRouteAnHttpAccountSaysSo) {
    SetWebMailLoader(nullptr);
    SetWebMailCalls({});
    H->WriteSettings({Web()}, {H->LongLog()});
    TFrmMain &m = H->Start();
    m.Timer1Timer();
    EXPECT_EQ(m.State.Accounts[0].NewCount, 0);
    EXPECT_EQ(H->LogLinesWith("Web mail is not available in this build of Tarnwick."), 1) << H->Log();
    EXPECT_TRUE(Site.State()["logins"].toArray().isEmpty());
}

TEST_F(WebMailWired, ReaderListsOpensDeletesAndHides) {
    H->WriteSettings({Web()}, {H->LongLog(), "ShowingTime=yyyy-mm-dd"});
    TFrmMain &m = H->Start();
    m.State.Accounts.ShownIndex = 0;
    auto cell = [](TfrmMessBody &f, int row, int col) {
        return f.MailList->topLevelItem(row)->text(col).toStdString();
    };
    auto bold = [](TfrmMessBody &f, int row) { return f.MailList->topLevelItem(row)->font(0).bold(); };
    bool ran = false;
    SetModalHook([&](QDialog &d) {
        auto *f = dynamic_cast<TfrmMessBody *>(&d);
        if (!f) return;
        ASSERT_TRUE(WaitUntil([&] { return !f->Timer1->Enabled() && !f->Busy; }, 60000));
        ran = true;
        // Every message, read ones too, in the site's order.
        ASSERT_EQ(f->MailList->topLevelItemCount(), 5) << f->Status();
        const char *ids[] = {"<a1001>", "<a1002>", "<a1003>", "<a1004>", "<a1005>"};
        for (int row = 0; row < 5; ++row) {
            EXPECT_EQ(f->Entries[size_t(f->EntryIndex(row))].MessageId, ids[row]);
            EXPECT_EQ(cell(*f, row, 3), "") << "web-mail rows have no size";
        }
        EXPECT_EQ(cell(*f, 0, 1), "Lunch on Friday");
        EXPECT_EQ(cell(*f, 3, 1), "Invoice & receipt") << "as it reads, not as the HTML writes it";
        EXPECT_EQ(cell(*f, 1, 2), "2024-03-11");
        EXPECT_TRUE(bold(*f, 0));
        EXPECT_FALSE(bold(*f, 1)) << "a1002 is read";
        EXPECT_FALSE(bold(*f, 3)) << "a1004 is read";

        // Carol's body, then the row is read.
        f->SelectRow(2);
        f->ToolButton6Click();
        EXPECT_TRUE(Contains(f->RichEdit1->toPlainText().toStdString(), "Week 11 report from Carol."))
            << f->Status();
        EXPECT_FALSE(bold(*f, 2));
        EXPECT_EQ(Strings(Site.State()["viewed"]), std::vector<std::string>{"a1003"});

        // Deleting the first row deletes a1001 alone; the row after it is
        // selected and the later messages are found at their new places.
        f->SelectRow(0);
        f->ToolButton1Click(f->ToolButton4);
        EXPECT_FALSE(f->Busy);
        EXPECT_EQ(Strings(Site.State()["deleted"]), std::vector<std::string>{"a1001"});
        ASSERT_EQ(f->MailList->topLevelItemCount(), 4);
        EXPECT_EQ(f->SelectedRow(), 0);
        EXPECT_EQ(f->Label4->text().toStdString(), "Weekly report");
        f->SelectRow(3);
        f->ToolButton6Click();
        EXPECT_TRUE(Contains(f->RichEdit1->toPlainText().toStdString(), "Week 12 report from Erin."))
            << f->Status();
        f->SelectRow(2);
        f->ToolButton6Click();
        EXPECT_TRUE(Contains(f->RichEdit1->toPlainText().toStdString(), "Your invoice is attached."))
            << f->Status();

        // A message deleted behind the reader's back is not deleted again,
        // nor is another taken in its place.
        f->SelectRow(0);  // a1002
        std::string gone = f->Entries[size_t(f->EntryIndex(0))].MessageId;
        EXPECT_EQ(gone, "<a1002>");
        f->Entries[size_t(f->EntryIndex(0))].MessageId = "<a1001>";
        f->ToolButton1Click(f->ToolButton4);
        EXPECT_EQ(f->Status(), "Cannot delete this message.");
        EXPECT_EQ(f->MailList->topLevelItemCount(), 4);
        EXPECT_EQ(Site.State()["deleted"].toArray().size(), 1);
        f->Entries[size_t(f->EntryIndex(0))].MessageId = gone;
    });
    ShowMessageReader(1200, 900);
    SetModalHook({});
    EXPECT_TRUE(ran);
    // Closing outside a cycle ends the site's session.
    EXPECT_EQ(Site.State()["logouts"].toInt(), 1);
}

TEST_F(WebMailWired, ReaderOfNewMailOnlyFindsMessagesThatMovedUp) {
    // Listing new mail only, opening a message makes it read: it leaves the
    // list and the later ones move up a place.
    H->WriteSettings({Web()}, {H->LongLog()});
    WriteTestFile(H->Dir.File("Tarnwick.ini"),
                  ReadTestFile(H->Dir.File("Tarnwick.ini")) + "[MessReader]\nShowReaded=False\n");
    TFrmMain &m = H->Start();
    m.State.Accounts.ShownIndex = 0;
    bool ran = false;
    SetModalHook([&](QDialog &d) {
        auto *f = dynamic_cast<TfrmMessBody *>(&d);
        if (!f) return;
        ASSERT_TRUE(WaitUntil([&] { return !f->Timer1->Enabled() && !f->Busy; }, 60000));
        ran = true;
        ASSERT_EQ(f->MailList->topLevelItemCount(), 3) << f->Status();
        EXPECT_EQ(f->Entries[2].MessageId, "<a1005>");
        f->SelectRow(0);
        f->ToolButton6Click();
        EXPECT_TRUE(Contains(f->RichEdit1->toPlainText().toStdString(), "Shall we meet at noon?"));
        f->SelectRow(2);
        f->ToolButton6Click();
        EXPECT_TRUE(Contains(f->RichEdit1->toPlainText().toStdString(), "Week 12 report from Erin."))
            << f->Status();
        EXPECT_EQ(Strings(Site.State()["viewed"]), (std::vector<std::string>{"a1001", "a1005"}));

        // Hidden from the program: the next cycle passes it over.
        f->SelectRow(1);  // a1003, the one left unread
        f->ToolButton7Click();
        EXPECT_EQ(ReadTestFile(HiddenMessagesFile()), "<a1003>\n");
        EXPECT_EQ(f->ToolButton2Tag, 1) << "the button un-hides now";

        // No cycle starts while the reader works on the site's page.
        {
            TWebRouteUse busy;
            m.Timer1Timer();
        }
        EXPECT_EQ(H->LogLinesWith("Checking testmail"), 0) << H->Log();
    });
    ShowMessageReader(1200, 900);
    SetModalHook({});
    EXPECT_TRUE(ran);

    m.Timer1Timer();
    EXPECT_EQ(m.State.Accounts[0].NewCount, 0) << H->Log();
    EXPECT_EQ(H->LogLinesWith("Hidden:  - Weekly report"), 1) << H->Log();
}
