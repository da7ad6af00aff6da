// A rule the user makes in the rule editor, typed as mail programs show
// addresses (mixed case), deletes exactly the matching mail on the server at
// the main window's next check, over POP3 and IMAP4.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>

#include "dialogs/DialogSeam.h"
#include "IniFile.h"
#include "mainwindow/MainWindowFixture.h"
#include "NetIMAP4.h"
#include "NetPOP3.h"
#include "PythonPeer.h"
#include "dialogs/unMessYesNo.h"
#include "options/unRulesForm.h"
#include "../../mailproto/dovecot_suite.h"

namespace {

const char *const kOffer =
    "From: \"Bargain Offers\" <Deals@Bargain.Example>\r\nTo: tester@localhost\r\n"
    "Subject: Only today\r\nMessage-ID: <offer%d@x>\r\n\r\nbuy\r\n";
const char *const kFriend =
    "From: Ann <ann@friends.example>\r\nTo: tester@localhost\r\n"
    "Subject: Deals@Bargain.Example spammed me again\r\nMessage-ID: <friend%d@x>\r\n\r\nhi\r\n";

std::string Message(const char *format, int n) {
    char buf[512];
    std::snprintf(buf, sizeof buf, format, n);
    return buf;
}

class RuleEditorCycle : public DovecotSuite<RuleEditorCycle> {
protected:
    static void SetUpTestSuite() {
        DovecotServer::Options o;
        o.Users = {{"edpop", "pw-edpop"}, {"edimap", "pw-edimap"}};
        if (!StartDovecot(o)) return;
        for (const char *user : {"edpop", "edimap"}) {
            // An offer between two friends' messages, and one at the end.
            Server->AddMessage(user, Message(kFriend, 1));
            Server->AddMessage(user, Message(kOffer, 1));
            Server->AddMessage(user, Message(kFriend, 2));
            Server->AddMessage(user, Message(kOffer, 2));
        }
    }
    void SetUp() override {
        DovecotSuite::SetUp();
        if (IsSkipped()) return;
        H = std::make_unique<MainWindowHarness>();
    }
    void TearDown() override {
        SetModalHook({});
        H.reset();
    }
    static TTestAccount Account(const std::string &user, const std::string &kind) {
        TTestAccount a;
        a.Name = user;
        a.Kind = kind;
        a.Port = kind == "POP3" ? Server->Pop3Port() : Server->ImapPort();
        a.User = user;
        a.Password = "pw-" + user;
        return a;
    }
    // Message-IDs left in the INBOX, as Python's clients read them.
    static std::string LeftOnServer(const std::string &user, bool imap) {
        std::string out, err;
        int rc = RunPython(R"PY(
import email, imaplib, poplib, sys
host, port, user, pw, imap = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5] == "1"
ids = []
if imap:
    m = imaplib.IMAP4(host, port); m.login(user, pw)
    typ, data = m.select("INBOX", readonly=True)
    for n in range(1, int(data[0]) + 1):
        typ, d = m.fetch(str(n), "(BODY.PEEK[HEADER])")
        ids.append(email.message_from_bytes(d[0][1])["Message-ID"])
    m.logout()
else:
    p = poplib.POP3(host, port, timeout=20); p.user(user); p.pass_(pw)
    for n in range(1, p.stat()[0] + 1):
        ids.append(email.message_from_bytes(b"\r\n".join(p.top(n, 0)[1]))["Message-ID"])
    p.quit()
print(" ".join(ids))
)PY",
                           {Server->Host(), std::to_string(imap ? Server->ImapPort() : Server->Pop3Port()), user,
                            "pw-" + user, imap ? "1" : "0"},
                           &out, &err);
        EXPECT_EQ(rc, 0) << err;
        return Trim(out);
    }
    std::unique_ptr<MainWindowHarness> H;
};

}  // namespace

TEST_F(RuleEditorCycle, ARuleMadeInTheEditorDeletesTheMatchingMailAtTheNextCheck) {
    H->WriteSettings({Account("edpop", "POP3"), Account("edimap", "IMAP4")}, {H->LongLog()});
    TFrmMain &m = H->Start();
    m.NetPOP31->SetReadTimeout(20000);
    m.NetIMAP41->SetReadTimeout(20000);

    // The user makes the rule: delete, on every account (the editor's
    // default), mail whose sender is the address as a mail program shows it.
    WriteTestFile(H->Dir.File("rules/Offers.rul"), "[Rule]\r\nRule1=-1\r\n");
    SetModalHook([](QDialog &d) {
        if (auto *f = qobject_cast<TfrmBlackList *>(&d)) {
            f->CheckListBox2Click(TfrmBlackList::jobDelete);
            f->ComboBox3->setCurrentIndex(TfrmBlackList::srEqual);
            f->ComboBox2->setEditText("Deals@Bargain.Example");
            f->BitBtn1->click();
            f->ComboBox1->setCurrentIndex(TfrmBlackList::wrAll);  // whatever the subject
            f->BitBtn7->click();  // Save
        } else if (auto *q = qobject_cast<TfrmMessYesNo *>(&d)) {
            q->BitBtn1->click();
        }
    });
    ShowRuleEditor("Offers");
    SetModalHook({});
    IniFileCacheClear();

    m.Timer1Timer();
    for (int i = 0; i < 2; ++i) {
        const Tiedot &t = m.State.Accounts[i];
        EXPECT_EQ(t.NewCount, 2) << H->Log();
        ASSERT_EQ(t.MessageIds.Count(), 2) << H->Log();
        // A friend who names the address in a subject keeps her mail.
        EXPECT_EQ(t.MessageIds[0], "<friend1@x>");
        EXPECT_EQ(t.MessageIds[1], "<friend2@x>");
    }
    EXPECT_EQ(H->LogLinesWith("Deleted by a rule"), 4) << H->Log();
    EXPECT_EQ(LeftOnServer("edpop", false), "<friend1@x> <friend2@x>");
    EXPECT_EQ(LeftOnServer("edimap", true), "<friend1@x> <friend2@x>");
}
