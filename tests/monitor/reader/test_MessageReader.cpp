// The message reader against a real Dovecot, offscreen, checked against what
// Python's poplib, imaplib and email see on the same mailbox.
#include <gtest/gtest.h>

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimeZone>
#include <QToolButton>
#include <QTreeWidget>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <memory>

#include <unistd.h>

#include "Desktop.h"
#include "dialogs/DialogSeam.h"
#include "DovecotServer.h"
#include "mainwindow/FrmMain.h"
#include "IniFile.h"
#include "settings/Kel_Reg.h"
#include "NetMessage.h"
#include "NetPOP3.h"
#include "settings/ProgramPaths.h"
#include "PythonPeer.h"
#include "QtTestApp.h"
#include "SimpleTimer.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "TrayBackend.h"
#include "settings/unLanguage.h"
#include "reader/unShowBody.h"
#include "reader/unToBlackList.h"

namespace {

// What poplib or imaplib read of each message, in server order.
struct PeerMessage {
    int Size = 0;
    std::string Id, Subject, Address;
    bool Seen = false;
};

const char *const kPoplibList = R"PY(
import poplib, sys, json, email, email.policy
host, port, user, pw = sys.argv[1:5]
p = poplib.POP3(host, int(port), timeout=20)
p.user(user); p.pass_(pw)
out = []
for i in range(1, len(p.list()[1]) + 1):
    size = int(p.list(i).split()[2])
    m = email.message_from_bytes(b"\r\n".join(p.top(i, 0)[1]), policy=email.policy.default)
    frm = m["From"]
    out.append({"size": size, "id": str(m["Message-ID"] or ""), "subject": str(m["Subject"] or ""),
                "address": frm.addresses[0].addr_spec if frm else "", "seen": False})
p.quit()
print(json.dumps(out))
)PY";

const char *const kImaplibList = R"PY(
import imaplib, sys, json, re, email, email.policy
host, port, user, pw = sys.argv[1:5]
m = imaplib.IMAP4(host, int(port), timeout=20)
m.login(user, pw)
typ, data = m.select("INBOX", readonly=True)
out = []
for i in range(1, int(data[0]) + 1):
    typ, d = m.fetch(str(i), "(RFC822.SIZE FLAGS BODY.PEEK[HEADER])")
    meta = d[0][0].decode()
    msg = email.message_from_bytes(d[0][1], policy=email.policy.default)
    frm = msg["From"]
    out.append({"size": int(re.search(r"RFC822\.SIZE (\d+)", meta).group(1)),
                "id": str(msg["Message-ID"] or ""), "subject": str(msg["Subject"] or ""),
                "address": frm.addresses[0].addr_spec if frm else "",
                "seen": "\\Seen" in meta})
m.logout()
print(json.dumps(out))
)PY";

// sys.argv: host port user password then commands "dele N" / "seen N".
const char *const kPoplibDele = R"PY(
import poplib, sys
host, port, user, pw = sys.argv[1:5]
p = poplib.POP3(host, int(port), timeout=20)
p.user(user); p.pass_(pw)
for n in sys.argv[5:]:
    p.dele(int(n))
p.quit()
)PY";

const char *const kImaplibSeen = R"PY(
import imaplib, sys
host, port, user, pw = sys.argv[1:5]
m = imaplib.IMAP4(host, int(port), timeout=20)
m.login(user, pw)
m.select("INBOX")
for n in sys.argv[5:]:
    m.store(n, "+FLAGS", "\\Seen")
m.logout()
)PY";

std::vector<PeerMessage> ParsePeer(const std::string &json) {
    std::vector<PeerMessage> out;
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json));
    for (const QJsonValue &v : doc.array()) {
        QJsonObject o = v.toObject();
        out.push_back({o["size"].toInt(), o["id"].toString().toStdString(), o["subject"].toString().toStdString(),
                       o["address"].toString().toStdString(), o["seen"].toBool()});
    }
    return out;
}

class MessageReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why = DovecotServer::Unavailable();
        if (!why.empty()) GTEST_SKIP() << why;
        if (!PythonAvailable()) GTEST_SKIP() << "python3 missing";
        EnsureQApplication();
        FPreviousTray = SetTrayBackend(&Tray);
        FPreviousDesktop = SetDesktop(&Desk);
        SetProgramFolder(Dir.Path());
        SetLanguageFileName("english.lng");
        WriteTestFile(Dir.File("Lang/english.lng"), ReadTestFile(std::string(TW_SOURCE_DIR) + "/Lang/english.lng"));
        // A date the test can read back without the time letters.
        WriteTestFile(Dir.File("Tarnwick.ini"), "[Options]\nShowingTime=yyyy-mm-dd hh:nn\n");
        Dc = std::make_unique<DovecotServer>();
        StartMain();
    }
    void TearDown() override {
        SetModalHook({});
        Main.reset();
        Dc.reset();
        SetDesktop(FPreviousDesktop);
        SetTrayBackend(FPreviousTray);
        SetProgramFolder("");
        SetLanguageFileName(DefaultLanguageFile);
        IniFileCacheClear();
    }

    void StartMain() {
        Main = std::make_unique<TFrmMain>();
        // The tests drive everything themselves: no start-up work, no cycles.
        for (TTimer *t : {Main->Timer1, Main->Timer5, Main->Timer6, Main->Timer8}) t->SetEnabled(false);
    }
    void UseAccount(uint8_t kind, const std::string &host = "127.0.0.1") {
        Tiedot t;
        t.Name = kind == ckIMAP4 ? "Work IMAP" : "Home POP3";
        t.Host = host;
        t.Port = kind == ckIMAP4 ? Dc->ImapPort() : Dc->Pop3Port();
        t.UserName = Dc->UserName();
        t.Password = Dc->Password();
        t.Kind = kind;
        t.Inbox = "INBOX";
        Main->State.Accounts.Items = {};
        Main->State.Accounts.Items.push_back(std::move(t));
        Main->State.Accounts.LastIndex = 0;
        Main->State.Accounts.ShownIndex = 0;
    }
    std::vector<std::string> PeerArgs(int port) const {
        return {Dc->Host(), std::to_string(port), Dc->UserName(), Dc->Password()};
    }
    std::vector<PeerMessage> Poplib() { return ParsePeer(PythonRun(kPoplibList, PeerArgs(Dc->Pop3Port()))); }
    std::vector<PeerMessage> Imaplib() { return ParsePeer(PythonRun(kImaplibList, PeerArgs(Dc->ImapPort()))); }

    // Opens the reader, waits for the list, lets act work on it, closes.
    void RunReader(const std::function<void(TfrmMessBody &)> &act) {
        bool ran = false;
        SetModalHook([&](QDialog &d) {
            auto *f = dynamic_cast<TfrmMessBody *>(&d);
            if (!f) return;
            EXPECT_TRUE(MessageReaderOpen());
            ASSERT_TRUE(WaitLoaded(*f));
            ran = true;
            act(*f);
        });
        ShowMessageReader(1200, 900);
        SetModalHook({});
        EXPECT_TRUE(ran);
        EXPECT_FALSE(MessageReaderOpen());
        // Nothing is left connected that would keep a cycle away.
        EXPECT_FALSE(Main->NetPOP31->Connected());
    }
    static bool WaitLoaded(TfrmMessBody &f) {
        return WaitUntil([&] { return !f.Timer1->Enabled() && !f.Busy; }, 60000);
    }
    static std::string Cell(TfrmMessBody &f, int row, int col) {
        return f.MailList->topLevelItem(row)->text(col).toStdString();
    }
    static bool Bold(TfrmMessBody &f, int row) { return f.MailList->topLevelItem(row)->font(0).bold(); }
    static std::string ShownBody(TfrmMessBody &f) { return f.RichEdit1->toPlainText().toStdString(); }

    TempDir Dir;
    TRecordingTrayBackend Tray;
    TRecordingDesktop Desk;
    std::unique_ptr<DovecotServer> Dc;
    std::unique_ptr<TFrmMain> Main;

private:
    TTrayBackend *FPreviousTray = nullptr;
    TDesktop *FPreviousDesktop = nullptr;
};

}  // namespace

TEST_F(MessageReaderTest, Pop3ListIsWhatPoplibSeesNewestFirst) {
    Dc->FillMailbox(Dc->UserName(), 7);
    UseAccount(ckPOP3);
    std::vector<PeerMessage> peer = Poplib();
    ASSERT_EQ(peer.size(), 7u);
    RunReader([&](TfrmMessBody &f) {
        EXPECT_EQ(f.Label5->text().toStdString(), "Home POP3");
        ASSERT_EQ(f.MailList->topLevelItemCount(), 7);
        ASSERT_EQ(f.Entries.size(), 7u);
        for (int row = 0; row < 7; ++row) {
            // Row 0 is the last message on the server.
            const PeerMessage &p = peer[size_t(6 - row)];
            const TReaderEntry &e = f.Entries[size_t(f.EntryIndex(row))];
            EXPECT_EQ(e.Number, 7 - row);
            EXPECT_EQ(e.MessageId, p.Id);
            EXPECT_EQ(e.Address, p.Address);
            EXPECT_EQ(Cell(f, row, 1), p.Subject);
            EXPECT_EQ(Cell(f, row, 3), std::to_string(p.Size));
            EXPECT_TRUE(Bold(f, row)) << "POP3 knows nothing read";
        }
        // Message 7 was written at 08:07 +02:00 on 2024-03-01.
        QDateTime expected(QDate(2024, 3, 1), QTime(6, 7), QTimeZone::utc());
        EXPECT_EQ(Cell(f, 0, 2), expected.toLocalTime().toString("yyyy-MM-dd hh:mm").toStdString());
        // The first row is selected and shown.
        EXPECT_EQ(f.SelectedRow(), 0);
        EXPECT_EQ(f.Label4->text().toStdString(), peer[6].Subject);
        EXPECT_EQ(f.Status(), "");
    });
    // The window's layout went back into the settings.
    EXPECT_EQ(IniReadString(SettingsFilePath(), "MessReader", "0ColWidth", ""), "300");
    EXPECT_NE(IniReadString(SettingsFilePath(), "MessReader", "Splitt", ""), "");
}

TEST_F(MessageReaderTest, ImapListFollowsSeenSetBySecondSession) {
    Dc->FillMailbox(Dc->UserName(), 5);
    PythonRun(kImaplibSeen, [&] {
        auto a = PeerArgs(Dc->ImapPort());
        a.push_back("2");
        a.push_back("5");
        return a;
    }());
    UseAccount(ckIMAP4);
    std::vector<PeerMessage> peer = Imaplib();
    ASSERT_EQ(peer.size(), 5u);
    RunReader([&](TfrmMessBody &f) {
        ASSERT_EQ(f.MailList->topLevelItemCount(), 5);
        for (int row = 0; row < 5; ++row) {
            const PeerMessage &p = peer[size_t(4 - row)];
            const TReaderEntry &e = f.Entries[size_t(f.EntryIndex(row))];
            EXPECT_EQ(e.MessageId, p.Id);
            EXPECT_EQ(Cell(f, row, 1), p.Subject);
            EXPECT_EQ(Cell(f, row, 3), std::to_string(p.Size));
            EXPECT_FALSE(e.Uid.empty());
            // Read is \Seen and nothing else (\Recent does not count).
            EXPECT_EQ(e.Read == 1, p.Seen) << "row " << row;
            EXPECT_EQ(Bold(f, row), !p.Seen) << "row " << row;
        }
        EXPECT_TRUE(peer[1].Seen && peer[4].Seen && !peer[0].Seen);
    });
}

TEST_F(MessageReaderTest, Pop3DeleteRereadsAndDeletesOnlyTheSameMessage) {
    Dc->FillMailbox(Dc->UserName(), 3);
    UseAccount(ckPOP3);
    RunReader([&](TfrmMessBody &f) {
        ASSERT_EQ(f.MailList->topLevelItemCount(), 3);
        // The first row is message 3: deleting it removes exactly that one.
        f.SelectRow(0);
        f.ToolButton1Click(f.ToolButton4);
        EXPECT_FALSE(f.Busy);
        ASSERT_EQ(f.MailList->topLevelItemCount(), 2);
        EXPECT_EQ(f.Entries.size(), 2u);
        std::vector<PeerMessage> after = Poplib();
        ASSERT_EQ(after.size(), 2u);
        EXPECT_EQ(after[0].Id, "<msg1@tarnwick.test>");
        EXPECT_EQ(after[1].Id, "<msg2@tarnwick.test>");
        // The row in its place is selected and shown.
        EXPECT_EQ(f.SelectedRow(), 0);
        EXPECT_EQ(f.Label4->text().toStdString(), "Test message 2");

        // Another client deletes message 1 behind the reader's back: its
        // number 1 holds message 2 now. The delete key on its row must not
        // hit that one.
        auto args = PeerArgs(Dc->Pop3Port());
        args.push_back("1");
        PythonRun(kPoplibDele, args);
        f.SelectRow(1);  // message 1, gone
        QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
        QApplication::sendEvent(f.MailList, &del);
        EXPECT_EQ(f.Status(), "Cannot delete this message.");
        EXPECT_EQ(f.MailList->topLevelItemCount(), 2);
        after = Poplib();
        ASSERT_EQ(after.size(), 1u);
        EXPECT_EQ(after[0].Id, "<msg2@tarnwick.test>");
        f.SelectRow(0);  // message 2, now at number 1: its old number 2 is out of range
        f.ToolButton1Click(f.ToolButton4);
        EXPECT_EQ(Poplib().size(), 1u);
    });
}

TEST_F(MessageReaderTest, Pop3DeleteOfAMovedMessageDeletesNothing) {
    Dc->FillMailbox(Dc->UserName(), 3);
    UseAccount(ckPOP3);
    RunReader([&](TfrmMessBody &f) {
        ASSERT_EQ(f.MailList->topLevelItemCount(), 3);
        auto args = PeerArgs(Dc->Pop3Port());
        args.push_back("1");
        PythonRun(kPoplibDele, args);
        // Row 1 is message 2; number 2 now holds message 3.
        f.SelectRow(1);
        f.ToolButton1Click(f.ToolButton4);
        EXPECT_EQ(f.MailList->topLevelItemCount(), 3);
        std::vector<PeerMessage> after = Poplib();
        ASSERT_EQ(after.size(), 2u);
        EXPECT_EQ(after[0].Id, "<msg2@tarnwick.test>");
        EXPECT_EQ(after[1].Id, "<msg3@tarnwick.test>");
    });
}

// Two copies of one mail, byte for byte (Message-ID and size alike); another
// client deletes the first after the reader listed both. Dovecot offers
// UIDL, and the identifier it gives each copy tells them apart: the row of
// the deleted copy neither shows nor deletes the other.
TEST_F(MessageReaderTest, Pop3ReadAndDeleteGoByTheUniqueIdentifier) {
    const std::string copy = "From: Ann <ann@example.org>\r\nSubject: Twice\r\nMessage-ID: <twice@example.org>\r\n"
                             "\r\nThe same bytes.\r\n";
    Dc->AddMessage(Dc->UserName(), copy);
    Dc->AddMessage(Dc->UserName(), copy);
    UseAccount(ckPOP3);
    RunReader([&](TfrmMessBody &f) {
        ASSERT_EQ(f.MailList->topLevelItemCount(), 2);
        EXPECT_FALSE(f.Entries[0].Uid.empty());
        EXPECT_NE(f.Entries[0].Uid, f.Entries[1].Uid);
        auto args = PeerArgs(Dc->Pop3Port());
        args.push_back("1");
        PythonRun(kPoplibDele, args);
        f.SelectRow(1);  // message 1, gone; its number holds the other copy
        f.ToolButton6Click();
        EXPECT_EQ(f.Status(), "This message is no longer on the server.");
        f.ToolButton1Click(f.ToolButton4);
        EXPECT_EQ(f.Status(), "Cannot delete this message.");
        EXPECT_EQ(Poplib().size(), 1u);
    });
}

TEST_F(MessageReaderTest, ImapDeleteExpungesOnlyThatMessage) {
    Dc->FillMailbox(Dc->UserName(), 4);
    UseAccount(ckIMAP4);
    RunReader([&](TfrmMessBody &f) {
        ASSERT_EQ(f.MailList->topLevelItemCount(), 4);
        // The last row: message 1, the only row after which none follows.
        f.SelectRow(3);
        f.ToolButton1Click(f.ToolButton4);
        ASSERT_EQ(f.MailList->topLevelItemCount(), 3);
        EXPECT_EQ(f.SelectedRow(), 2);
        std::vector<PeerMessage> after = Imaplib();
        ASSERT_EQ(after.size(), 3u);
        EXPECT_EQ(after[0].Id, "<msg2@tarnwick.test>");
        // Message 2 is deleted elsewhere: the reader's UID check keeps its
        // delete of "message 2" away from what now stands there.
        PythonRun(R"PY(
import imaplib, sys
m = imaplib.IMAP4(sys.argv[1], int(sys.argv[2]), timeout=20)
m.login(sys.argv[3], sys.argv[4]); m.select("INBOX")
m.store("1", "+FLAGS", "\\Deleted"); m.expunge(); m.logout()
)PY",
                  PeerArgs(Dc->ImapPort()));
        f.SelectRow(2);  // message 2, gone; its number 2 holds message 4 now
        f.ToolButton1Click(f.ToolButton4);
        EXPECT_EQ(f.Status(), "Cannot delete this message.");
        after = Imaplib();
        ASSERT_EQ(after.size(), 2u);
        EXPECT_EQ(after[0].Id, "<msg3@tarnwick.test>");
        EXPECT_EQ(after[1].Id, "<msg4@tarnwick.test>");
    });
}

TEST_F(MessageReaderTest, MessagesWithoutIdentifierAreNeitherDeletedNorHidden) {
    Dc->AddMessage(Dc->UserName(), "From: a@example.org\r\nSubject: no id one\r\n\r\nbody\r\n");
    Dc->AddMessage(Dc->UserName(), "From: b@example.org\r\nSubject: no id two\r\n\r\nbody\r\n");
    UseAccount(ckPOP3);
    RunReader([&](TfrmMessBody &f) {
        ASSERT_EQ(f.MailList->topLevelItemCount(), 2);
        f.SelectRow(0);
        EXPECT_FALSE(f.ToolButton2->isEnabled());
        f.ToolButton7Click();
        EXPECT_FALSE(FileExists(HiddenMessagesFile()));
        f.ToolButton1Click(f.ToolButton4);
        EXPECT_EQ(f.Status(), "Cannot delete this message.");
        EXPECT_EQ(f.MailList->topLevelItemCount(), 2);
    });
    EXPECT_EQ(Poplib().size(), 2u);
}

TEST_F(MessageReaderTest, HiddenListSurvivesARestart) {
    Dc->FillMailbox(Dc->UserName(), 3);
    UseAccount(ckPOP3);
    RunReader([&](TfrmMessBody &f) {
        f.SelectRow(1);  // message 2
        EXPECT_EQ(f.ToolButton2Tag, 0);
        f.ToolButton7Click();
        EXPECT_EQ(f.ToolButton2Tag, 1);
        EXPECT_EQ(f.ToolButton2->toolTip().toStdString(), "Show message in Tarnwick");
        EXPECT_EQ(ReadTestFile(HiddenMessagesFile()), "<msg2@tarnwick.test>\n");
        f.SelectRow(0);
        f.ToolButton7Click();
    });
    // The main window goes and comes back: the list is still there.
    Main.reset();
    EXPECT_EQ(ReadTestFile(HiddenMessagesFile()), "<msg2@tarnwick.test>\n<msg3@tarnwick.test>\n");
    StartMain();
    UseAccount(ckPOP3);
    RunReader([&](TfrmMessBody &f) {
        EXPECT_TRUE(f.Hidden.count("<msg2@tarnwick.test>"));
        f.SelectRow(1);
        EXPECT_EQ(f.ToolButton2Tag, 1);
        // Un-hiding takes out that line only.
        f.ToolButton7Click();
        EXPECT_EQ(f.ToolButton2Tag, 0);
    });
    EXPECT_EQ(ReadTestFile(HiddenMessagesFile()), "<msg3@tarnwick.test>\n");
}

TEST_F(MessageReaderTest, AnUnreadableHiddenListEndsTheLoadButNotTheWindow) {
    Dc->FillMailbox(Dc->UserName(), 2);
    UseAccount(ckPOP3);
    // A file that is there but cannot be read (as a failing disk gives it).
    ASSERT_EQ(symlink("/proc/self/mem", HiddenMessagesFile().c_str()), 0);
    RunReader([&](TfrmMessBody &f) {
        EXPECT_FALSE(f.Busy);
        EXPECT_FALSE(f.ProgressBar1->isVisible());
        EXPECT_TRUE(Contains(f.Status(), "hiddedmessages.txt")) << f.Status();
        // Readable again: a reload in the same window lists the mail.
        DeleteFile(HiddenMessagesFile());
        WriteTestFile(HiddenMessagesFile(), "<msg1@tarnwick.test>\n");
        f.ToolButton1Click(f.ToolButton1);
        EXPECT_EQ(f.MailList->topLevelItemCount(), 2);
        EXPECT_TRUE(f.Hidden.count("<msg1@tarnwick.test>"));
        EXPECT_EQ(f.Status(), "");
    });
}

namespace {

// Each message as a sender's program wrote it, and how Python's email reads
// its text (HTML reduced to its words).
const char *const kBodies[] = {
    // UTF-8 in 8 bits, with quotes
    "From: u@example.org\r\nSubject: utf8\r\nMessage-ID: <b1@t>\r\nMIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
    "Gr\xC3\xBC\xC3\x9F" "e, J\xC3\xBCrgen \xE2\x80\x94 5 \xE2\x82\xAC\r\n> quoted line\r\n&gt; entity quote\r\nend\r\n",
    // KOI8-R, its name in mixed case
    "From: k@example.org\r\nSubject: koi\r\nMessage-ID: <b2@t>\r\nMIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=\"Koi8-R\"\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
    "\xF0\xD2\xC9\xD7\xC5\xD4, \xCD\xC9\xD2!\r\n",
    // quoted-printable with a soft break
    "From: q@example.org\r\nSubject: qp\r\nMessage-ID: <b3@t>\r\nMIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
    "Caf=C3=A9 cr=C3=A8me, soft=\r\nbreak =3D equal\r\n",
    // base64 in ISO-8859-1
    "From: b@example.org\r\nSubject: b64\r\nMessage-ID: <b4@t>\r\nMIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    "R3L832UgYXVzIEv2bG4hCnp3ZWl0ZSBaZWlsZQo=\r\n",
    // HTML only
    "From: h@example.org\r\nSubject: html\r\nMessage-ID: <b5@t>\r\nMIME-Version: 1.0\r\n"
    "Content-Type: text/html; charset=utf-8\r\n\r\n"
    "<html><head><title>T</title><style>p { color: red }</style></head><body>"
    "<p>Hello &amp; welcome, J&uuml;rgen</p><p>Second&nbsp;para <b>bold</b> &lt;tag&gt;</p>"
    "<script>var x = 1;</script></body></html>\r\n",
    // multipart/alternative: the plain part is the text
    "From: m@example.org\r\nSubject: alt\r\nMessage-ID: <b6@t>\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/alternative; boundary=\"XX\"\r\n\r\n"
    "--XX\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
    "Plain version =E2=9C=93\r\n--XX\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"
    "<p>HTML version</p>\r\n--XX--\r\n",
    // multipart/mixed whose only text is HTML, beside an attachment
    "From: r@example.org\r\nSubject: mixed\r\nMessage-ID: <b7@t>\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"YY\"\r\n\r\n"
    "--YY\r\nContent-Type: text/html; charset=windows-1252\r\n\r\n<div>Na\xEFve <i>caf\xE9</i></div>\r\n"
    "--YY\r\nContent-Type: application/octet-stream; name=\"a.bin\"\r\n"
    "Content-Disposition: attachment; filename=\"a.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    "AAECAw==\r\n--YY--\r\n",
};

const char *const kPythonText = R"PY(
import email, email.policy, re
from html.parser import HTMLParser
class Words(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.out, self.skip = [], 0
    def handle_starttag(self, tag, attrs):
        if tag in ("style", "script", "title"): self.skip += 1
    def handle_endtag(self, tag):
        if tag in ("style", "script", "title"): self.skip -= 1
    def handle_data(self, d):
        if not self.skip: self.out.append(d)
def f(b):
    m = email.message_from_bytes(b, policy=email.policy.default)
    part = m.get_body(preferencelist=("plain", "html"))
    text = part.get_content().replace("\r\n", "\n")
    if part.get_content_type() == "text/html":
        w = Words(); w.feed(text); text = " ".join(w.out)
        return ("H" + " ".join(text.replace("\xa0", " ").split())).encode()
    return ("P" + text.rstrip("\n")).encode()
)PY";

std::string Words(const std::string &s) {
    std::string out;
    bool space = false;
    for (char c : s) {
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
            space = !out.empty();
            continue;
        }
        if (space) out += ' ';
        space = false;
        out += c;
    }
    return out;
}

}  // namespace

TEST_F(MessageReaderTest, BodiesAreShownAsPythonEmailReadsThem) {
    std::vector<std::string> inputs;
    for (const char *m : kBodies) {
        Dc->AddMessage(Dc->UserName(), m);
        inputs.push_back(m);
    }
    std::vector<std::string> expected = PythonMap(kPythonText, inputs);
    UseAccount(ckIMAP4);
    RunReader([&](TfrmMessBody &f) {
        const int n = int(std::size(kBodies));
        ASSERT_EQ(f.MailList->topLevelItemCount(), n);
        for (int k = 0; k < n; ++k) {
            int row = f.RowOfEntry(k);
            f.SelectRow(row);
            EXPECT_TRUE(Bold(f, row));
            f.ToolButton6Click();
            EXPECT_FALSE(f.Busy);
            EXPECT_FALSE(Bold(f, row)) << "a fetched body is read";
            std::string shown = ShownBody(f);
            const std::string &want = expected[size_t(k)];
            if (want[0] == 'H') {
                EXPECT_EQ(Words(shown), want.substr(1)) << "message " << k + 1;
            } else {
                while (!shown.empty() && shown.back() == '\n') shown.pop_back();
                EXPECT_EQ(shown, want.substr(1)) << "message " << k + 1;
            }
        }
        // The quote lines of the first body carry the quote colour.
        f.SelectRow(f.RowOfEntry(0));
        QTextDocument *doc = f.RichEdit1->document();
        QColor quote(192, 192, 192);
        auto colourOf = [&](int block) {
            QTextBlock b = doc->findBlockByNumber(block);
            return b.begin().fragment().charFormat().foreground().color();
        };
        EXPECT_EQ(colourOf(1), quote);
        EXPECT_EQ(colourOf(2), quote);
        EXPECT_NE(colourOf(0), quote);
        EXPECT_NE(colourOf(3), quote);
    });
}

TEST_F(MessageReaderTest, BackgroundFetchReadsEveryBody) {
    Dc->FillMailbox(Dc->UserName(), 4);
    UseAccount(ckPOP3);
    WriteTestFile(Dir.File("Tarnwick.ini"), "[MessReader]\nGetBodys=True\n");
    IniFileCacheClear();
    RunReader([&](TfrmMessBody &f) {
        ASSERT_TRUE(f.Timer3->Enabled());
        // The timer's ticks, driven by hand.
        for (int i = 0; i < 5 && f.Timer3->Enabled(); ++i) f.Timer3Timer();
        EXPECT_EQ(f.Timer3->Tag, -1);
        for (int row = 0; row < 4; ++row) {
            EXPECT_FALSE(Bold(f, row));
            const TReaderEntry &e = f.Entries[size_t(f.EntryIndex(row))];
            EXPECT_EQ(e.Body[0], "Line 1 of message " + std::to_string(e.Number) + ".");
        }
        // The selected row shows its body.
        EXPECT_TRUE(Contains(ShownBody(f), "Line 1 of message 4."));
    });
}

TEST_F(MessageReaderTest, WaitsForACycleAndNeedsAHost) {
    Dc->FillMailbox(Dc->UserName(), 2);
    UseAccount(ckPOP3);
    RunReader([&](TfrmMessBody &f) {
        Main->State.CycleRunning = true;
        f.ToolButton1Click(f.ToolButton1);
        EXPECT_EQ(f.Status(), "Checking in progress...");
        EXPECT_TRUE(f.Timer1->Enabled());
        EXPECT_EQ(f.MailList->topLevelItemCount(), 2) << "nothing touched while the cycle works";
        f.SelectRow(0);
        f.ToolButton6Click();
        f.ToolButton1Click(f.ToolButton4);
        EXPECT_EQ(f.MailList->topLevelItemCount(), 2);
        Main->State.CycleRunning = false;
        ASSERT_TRUE(WaitLoaded(f));
        EXPECT_EQ(f.Status(), "");
        EXPECT_EQ(f.MailList->topLevelItemCount(), 2);
    });
    EXPECT_EQ(Poplib().size(), 2u);

    // An account without a host: an empty list, no server, not busy.
    UseAccount(ckPOP3, "");
    RunReader([&](TfrmMessBody &f) {
        EXPECT_EQ(f.MailList->topLevelItemCount(), 0);
        EXPECT_EQ(f.Label3->text().toStdString(), "");
        EXPECT_FALSE(f.ProgressBar1->isVisible());
    });
}

TEST_F(MessageReaderTest, FailuresAreReportedAndTheWindowStaysUsable) {
    Dc->FillMailbox(Dc->UserName(), 2);
    UseAccount(ckPOP3);
    Main->State.Accounts[0].Password = "wrong";
    RunReader([&](TfrmMessBody &f) {
        EXPECT_EQ(f.MailList->topLevelItemCount(), 0);
        EXPECT_NE(f.Status(), "");
        EXPECT_FALSE(f.Busy);
        // The right password: a reload works in the same window.
        Main->State.Accounts[0].Password = Dc->Password();
        f.ToolButton1Click(f.ToolButton1);
        EXPECT_EQ(f.MailList->topLevelItemCount(), 2);
        EXPECT_EQ(f.Status(), "");
    });
    // Web mail says so and lists nothing.
    UseAccount(ckHTTP);
    RunReader([&](TfrmMessBody &f) {
        EXPECT_EQ(f.MailList->topLevelItemCount(), 0);
        EXPECT_TRUE(Contains(f.Status(), "Web mail"));
    });
}

TEST_F(MessageReaderTest, ClosesItselfAfterTheQuietTimeAndOnEscape) {
    Dc->FillMailbox(Dc->UserName(), 1);
    UseAccount(ckPOP3);
    WriteTestFile(Dir.File("Tarnwick.ini"), "[MessReader]\nCloseTime=2\nHeight=400\nWidth=700\n");
    IniFileCacheClear();
    RunReader([&](TfrmMessBody &f) {
        EXPECT_TRUE(f.Timer2->Enabled());
        EXPECT_EQ(f.size(), QSize(700, 400));
        // Placed by its bottom-right corner.
        EXPECT_EQ(f.frameGeometry().bottomRight() + QPoint(1, 1), QPoint(1200, 900));
        // Two units of 0.0007 day ahead.
        EXPECT_NEAR(f.CloseTime - Now(), 2 * 0.0007, 0.0001);
        f.CloseTime = Now() + 1;
        f.Timer2Timer();
        EXPECT_TRUE(f.isVisible());
        // A key pushes the time forward again; then the time runs out.
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        f.CloseTime = 0;
        QApplication::sendEvent(f.MailList, &key);
        EXPECT_GT(f.CloseTime, Now());
        f.CloseTime = Now() - 1.0 / 86400;
        f.Timer2Timer();
        EXPECT_FALSE(f.isVisible());
        EXPECT_EQ(f.BitBtn1Tag, 1);
    });
    RunReader([&](TfrmMessBody &f) {
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(f.RichEdit1, &esc);
        EXPECT_FALSE(f.isVisible());
    });
    EXPECT_EQ(IniReadString(SettingsFilePath(), "MessReader", "Width", ""), "700");
}

TEST_F(MessageReaderTest, AddSenderOffersTheSelectedSender) {
    Dc->FillMailbox(Dc->UserName(), 2);
    UseAccount(ckPOP3);
    WriteTestFile(Dir.File("rules/Spam.rul"), "[EMails]\n");
    std::string offered;
    SetModalHook([&](QDialog &d) {
        if (auto *a = dynamic_cast<TfrmToBlackList *>(&d)) {
            offered = a->ComboBox1->currentText().toStdString();
            a->btOk->click();
            return;
        }
        auto *f = dynamic_cast<TfrmMessBody *>(&d);
        ASSERT_TRUE(f && WaitLoaded(*f));
        f->SelectRow(1);
        f->ToolButton8Click();
    });
    ShowMessageReader(1200, 900);
    SetModalHook({});
    EXPECT_EQ(offered, "sender1@example.org");
    EXPECT_EQ(IniReadString(Dir.File("rules/Spam.rul"), "EMails", "0", ""), "sender1@example.org");
}
