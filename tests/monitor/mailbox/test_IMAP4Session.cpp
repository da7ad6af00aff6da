// The IMAP4 mailbox session against a private Dovecot, through the
// checking cycle, the message reader and a walk of its own: a header too
// large to take in the middle of the mailbox, and messages that move while
// a session holds their numbers because another client expunged one
// before them. What is left on the server is read with Python's imaplib.
#include <gtest/gtest.h>

#include <QTextEdit>
#include <QToolButton>

#include "../../mailproto/dovecot_suite.h"
#include "NetIMAP4.h"
#include "NetMessage.h"
#include "PythonPeer.h"
#include "reader/ReaderFixture.h"
#include "mainwindow/MainWindowFixture.h"
#include "mailbox/MailboxSession.h"
#include "reader/unShowBody.h"

namespace {

// Message n of a test mailbox; the one at bigAt carries a header larger
// than the client takes (1 MiB).
std::string TestMessage(int n, int bigAt = 0) {
    std::string filler;
    if (n == bigAt)
        for (int i = 0; i < 1300; ++i) filler += "X-Filler: " + std::string(900, 'f') + "\r\n";
    return "From: Sender " + std::to_string(n) + " <sender" + std::to_string(n) + "@example.org>\r\nSubject: Message " +
           std::to_string(n) + "\r\nMessage-ID: <m" + std::to_string(n) + "@session.test>\r\n" + filler +
           "Date: Fri, 01 Mar 2024 08:00:00 +0000\r\n\r\nBody of message " + std::to_string(n) + ".\r\n";
}

std::string Id(int n) { return "<m" + std::to_string(n) + "@session.test>"; }

class IMAP4Session : public DovecotSuite<IMAP4Session> {
protected:
    static void SetUpTestSuite() {
        DovecotServer::Options o;
        for (const char *u : {"big", "moved", "walk"}) o.Users.push_back({u, std::string("pw-") + u});
        if (!StartDovecot(o)) return;
        for (int n = 1; n <= 5; ++n) Server->AddMessage("big", TestMessage(n, 3));
        for (int n = 1; n <= 4; ++n) Server->AddMessage("moved", TestMessage(n));
        for (int n = 1; n <= 8; ++n) Server->AddMessage("walk", TestMessage(n));
    }
    void SetUp() override {
        DovecotSuite::SetUp();
        if (IsSkipped()) return;
        if (!PythonAvailable()) GTEST_SKIP() << "python3 is needed";
    }
    void TearDown() override { SetModalHook({}); }

    static TTestAccount Imap(const std::string &user) {
        return TTestAccount{.Name = user + "-account",
                            .Kind = "IMAP4",
                            .Port = Server->ImapPort(),
                            .User = user,
                            .Password = "pw-" + user};
    }
    TFrmMain &Start(const std::string &user, const std::vector<std::string> &options = {}) {
        std::vector<std::string> all = {H.LongLog()};
        all.insert(all.end(), options.begin(), options.end());
        H.WriteSettings({Imap(user)}, all);
        TFrmMain &m = H.Start();
        m.Timer1->SetEnabled(false);
        m.NetIMAP41->SetReadTimeout(20000);
        m.NetIMAP41->SetConnectTimeout(10000);
        m.State.Accounts.ShownIndex = 0;
        return m;
    }

    // Another client expunges message n of the user's INBOX.
    static void ExpungeElsewhere(const std::string &user, int n) {
        PythonRun(R"PY(
import imaplib, sys
m = imaplib.IMAP4(sys.argv[1], int(sys.argv[2]), timeout=20)
m.login(sys.argv[3], sys.argv[4]); m.select("INBOX")
m.store(sys.argv[5], "+FLAGS", "\\Deleted"); m.expunge(); m.logout()
)PY",
                  {Server->Host(), std::to_string(Server->ImapPort()), user, "pw-" + user, std::to_string(n)});
    }
    // The Message-IDs left in the user's INBOX, in order, blank-separated.
    static std::string IdsOnServer(const std::string &user) { return Server->InboxMessageIds(user); }
    MainWindowHarness H;
};

}  // namespace

TEST_F(IMAP4Session, AHeaderTooLargeIsPassedOverAloneByTheCycleAndTheReader) {
    TFrmMain &m = Start("big", {"MyErrors=True"});
    m.Timer1Timer();
    const Tiedot &t = m.State.Accounts[0];
    // The messages after it are counted; the log says which one and why.
    EXPECT_EQ(t.NewCount, 4) << H.Log();
    EXPECT_EQ(t.MessageIds.Text(), TStringList({Id(1), Id(2), Id(4), Id(5)}).Text());
    EXPECT_EQ(H.LogLinesWith("The header of message 3 could not be fetched: Message header larger than 1048576 bytes."),
              1)
        << H.Log();
    EXPECT_EQ(H.LogLinesWith("Done: You got 4 new mails"), 1) << H.Log();

    EXPECT_TRUE(RunLoadedReader([&](TfrmMessBody &f) {
        EXPECT_EQ(Subjects(f), (std::vector<std::string>{"Message 5", "Message 4", "Message 2", "Message 1"}))
            << f.Status();
        EXPECT_EQ(f.Status(), "");
        // The session stayed in step: a delete after it is that message's.
        f.SelectRow(1);
        f.ToolButton1Click(f.ToolButton4);
        EXPECT_EQ(Subjects(f), (std::vector<std::string>{"Message 5", "Message 2", "Message 1"})) << f.Status();
    }));
    EXPECT_EQ(IdsOnServer("big"), Id(1) + " " + Id(2) + " " + Id(3) + " " + Id(5));
}

TEST_F(IMAP4Session, TheReaderReadsAndDeletesAMovedMessageAsItselfAlone) {
    Start("moved");
    EXPECT_TRUE(RunLoadedReader([&](TfrmMessBody &f) {
        ASSERT_EQ(Subjects(f), (std::vector<std::string>{"Message 4", "Message 3", "Message 2", "Message 1"}));
        // Message 1 goes elsewhere: message 3 stands at 2 now, and its old
        // number 3 holds message 4.
        ExpungeElsewhere("moved", 1);
        f.SelectRow(2);  // message 2, at 1 now
        f.ToolButton6Click();
        EXPECT_TRUE(Contains(f.RichEdit1->toPlainText().toStdString(), "Body of message 2.")) << f.Status();
        f.SelectRow(1);  // message 3
        f.ToolButton1Click(f.ToolButton4);
        EXPECT_NE(f.Status(), "Cannot delete this message.");
        EXPECT_EQ(Subjects(f), (std::vector<std::string>{"Message 4", "Message 2", "Message 1"}));
    }));
    EXPECT_EQ(IdsOnServer("moved"), Id(2) + " " + Id(4));
}

TEST_F(IMAP4Session, AWalkFollowsMessagesThatMoveWhileItRuns) {
    // A client of its own, no main window: the session takes what it is given.
    auto imap = NetCreateNoOwner<TNetIMAP4>();
    imap->SetReadTimeout(20000);
    imap->SetConnectTimeout(10000);
    // Ranges of two, so that ranges are fetched after the server told of
    // the expunge.
    imap->HeaderRangeSize = 2;
    const TMailboxClients clients{nullptr, imap.get(), nullptr, {}};
    TMailboxAccount account;
    account.Host = Server->Host();
    account.Port = Server->ImapPort();
    account.UserName = "walk";
    account.Password = "pw-walk";
    account.Kind = ckIMAP4;
    auto session = TMailboxSession::Create(clients, account);
    ASSERT_TRUE(session);
    std::vector<std::string> arrived, handled;
    TMailboxWalk walk;
    walk.Arrived = [&](TMailboxItem &, TNetMessage &header) {
        const std::string id = header.MessageId();
        arrived.push_back(id);
        // Another client expunges message 1 while messages 3 and on wait.
        if (id == Id(3)) ExpungeElsewhere("walk", 1);
        return id == Id(4) || id == Id(8) ? mvDelete : id == Id(7) ? mvRead : mvKeep;
    };
    walk.Handle = [&](TMailboxItem &item) {
        EXPECT_TRUE(TMailboxSession::AnyInUse(clients)) << "no other session may start meanwhile";
        std::string line = item.MessageId + item.Failure;
        if (item.Deleted) line += " deleted";
        if (item.MessageId == Id(7)) {
            auto whole = NetCreateNoOwner<TNetMessage>();
            if (session->ReadMessage(item, *whole)) line += " read: " + Trim(whole->Body.Text());
        }
        handled.push_back(line);
    };
    const int count = session->Open();
    ASSERT_EQ(count, 8);
    session->Walk(count, walk);
    session->Finish();
    session->Close();
    EXPECT_FALSE(TMailboxSession::AnyInUse(clients));
    std::vector<std::string> ids;
    for (int n = 1; n <= 8; ++n) ids.push_back(Id(n));
    EXPECT_EQ(arrived, ids);
    EXPECT_EQ(handled, (std::vector<std::string>{Id(1), Id(2), Id(3), Id(4) + " deleted", Id(5), Id(6),
                                                 Id(7) + " read: Body of message 7.", Id(8) + " deleted"}));
    EXPECT_EQ(IdsOnServer("walk"), Id(2) + " " + Id(3) + " " + Id(5) + " " + Id(6) + " " + Id(7));
}
