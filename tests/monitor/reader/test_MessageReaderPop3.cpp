// The message reader against a small scripted POP3 server in Python that
// offers PIPELINING or not, can serve one header larger than the client
// takes, deletes at QUIT as a real server does, and writes down every
// command with whether more had already arrived before its answer went out
// (a command sent ahead).
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>

#include "ChildProcess.h"
#include "mainwindow/MainWindowFixture.h"
#include "NetPOP3.h"
#include "PythonPeer.h"
#include "ReaderFixture.h"
#include "ScriptedPop3Server.h"
#include "SimpleTimer.h"
#include "reader/unShowBody.h"

namespace {

const char *const kServer = R"PY(
import socket, sys
log_path, count, pipelining, big_at = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "1", int(sys.argv[4])

def header(n):
    filler = ("X-Filler: " + "f" * 900 + "\r\n") * 1300 if n == big_at else ""
    return ("From: Sender %d <sender%d@example.org>\r\nSubject: Message %d\r\n" % (n, n, n) + filler +
            "Message-ID: <m%d@scripted.test>\r\nDate: Fri, 01 Mar 2024 08:00:00 +0000\r\n\r\n" % n)

def whole(n):
    return header(n) + "Body of message %d.\r\n" % n

def commands(conn):
    """Each command, and whether more had arrived before it was answered."""
    pending = b""
    while True:
        while b"\n" not in pending:
            chunk = conn.recv(65536)
            if not chunk:
                return
            pending += chunk
        line, pending = pending.split(b"\n", 1)
        if not pending:
            conn.settimeout(0.0)
            try:
                pending = conn.recv(65536)
            except OSError:
                pass
            conn.settimeout(None)
        yield line.decode().strip(), bool(pending)

mailbox = list(range(1, count + 1))  # the messages' own names, in server order

def serve(conn, log):
    global mailbox
    marked = set()
    conn.sendall(b"+OK ready\r\n")
    for cmd, ahead in commands(conn):
        log.write(cmd + (" ahead" if ahead else "") + "\n")
        verb, _, arg = cmd.partition(" ")
        verb = verb.upper()
        n = int(arg.split(" ")[0]) if arg.split(" ")[0].isdigit() else 0
        m = mailbox[n - 1] if 1 <= n <= len(mailbox) and n not in marked else None
        if verb == "CAPA":
            answer = "+OK\r\nUSER\r\nTOP\r\n" + ("PIPELINING\r\n" if pipelining else "") + ".\r\n"
        elif verb in ("USER", "PASS", "NOOP"):
            answer = "+OK\r\n"
        elif verb == "RSET":
            marked.clear()
            answer = "+OK\r\n"
        elif verb == "STAT":
            answer = "+OK %d %d\r\n" % (len(mailbox), 100 * len(mailbox))
        elif verb == "QUIT":
            mailbox = [x for i, x in enumerate(mailbox, 1) if i not in marked]
            conn.sendall(b"+OK bye\r\n")
            return
        elif m is None:
            answer = "-ERR no such message\r\n"
        elif verb == "LIST":
            answer = "+OK %d %d\r\n" % (n, len(whole(m)))
        elif verb == "TOP":
            answer = "+OK\r\n" + header(m) + ".\r\n"
        elif verb == "RETR":
            answer = "+OK\r\n" + whole(m) + ".\r\n"
        elif verb == "DELE":
            marked.add(n)
            answer = "+OK\r\n"
        else:
            answer = "-ERR unknown command\r\n"
        conn.sendall(answer.encode())

listener = socket.create_server(("127.0.0.1", 0))
print(listener.getsockname()[1], flush=True)
with open(log_path, "a", buffering=1) as log:
    while True:
        conn, _ = listener.accept()
        with conn:
            serve(conn, log)
)PY";

// The server above for one test, and the commands it was sent.
struct TReaderPop3Script {
    TReaderPop3Script(int count, bool pipelining, int bigAt = 0) {
        WriteTestFile(Dir.File("server.py"), kServer);
        Pid = StartPeerProcess({PythonProgram(), Dir.File("server.py"), Dir.File("commands.log"),
                                std::to_string(count), pipelining ? "1" : "0", std::to_string(bigAt)},
                               "", Port);
    }
    ~TReaderPop3Script() { StopPeerProcess(Pid, SIGKILL); }
    // The logged commands that hold text.
    int Count(const std::string &text) const {
        TStringList lines;
        if (FileExists(Dir.File("commands.log"))) lines.LoadFromFile(Dir.File("commands.log"));
        return int(std::count_if(lines.begin(), lines.end(), [&](const std::string &l) { return Contains(l, text); }));
    }
    TempDir Dir;
    pid_t Pid = -1;
    int Port = 0;
};

class MessageReaderPop3 : public ::testing::Test {
protected:
    void TearDown() override { SetModalHook({}); }
    void SetUp() override {
        if (!PythonAvailable()) GTEST_SKIP() << "python3 is needed";
    }
    // The reader on the one account of the scripted server; act works on
    // the loaded list.
    void RunReader(int port, const std::function<void(TfrmMessBody &)> &act) {
        H.WriteSettings({TTestAccount{.Name = "Scripted", .Port = port, .User = "user", .Password = "secret"}},
                        {H.LongLog()});
        TFrmMain &m = H.Start();
        m.Timer1->SetEnabled(false);
        m.NetPOP31->SetReadTimeout(10000);
        m.NetPOP31->SetConnectTimeout(10000);
        m.State.Accounts.ShownIndex = 0;
        EXPECT_TRUE(RunLoadedReader(act, 30000)) << "the reader stays busy";
    }
    MainWindowHarness H;
};

}  // namespace

TEST_F(MessageReaderPop3, WithoutPipeliningEveryCommandWaitsForTheAnswerBefore) {
    TReaderPop3Script server(5, false);
    RunReader(server.Port, [&](TfrmMessBody &f) {
        EXPECT_EQ(Subjects(f), (std::vector<std::string>{"Message 5", "Message 4", "Message 3", "Message 2",
                                                          "Message 1"}));
        EXPECT_EQ(f.MailList->topLevelItem(4)->text(3).toStdString(), "151") << "the LIST size of message 1";
    });
    EXPECT_EQ(server.Count("TOP "), 5);
    EXPECT_EQ(server.Count("LIST "), 5);
    EXPECT_EQ(server.Count(" ahead"), 0) << "a server without PIPELINING is sent one command per answer";
}

TEST_F(MessageReaderPop3, AHeaderTooLargeLeavesOutThatMessageAlone) {
    // Once with one command per answer, once with the commands sent ahead.
    for (bool pipelining : {false, true}) {
        SCOPED_TRACE(pipelining ? "pipelining" : "lock-step");
        TReaderPop3Script server(4, pipelining, 2);
        RunReader(server.Port, [&](TfrmMessBody &f) {
            EXPECT_EQ(Subjects(f), (std::vector<std::string>{"Message 4", "Message 3", "Message 1"})) << f.Status();
            // Message 3 is still deleted as the one it is: the numbers of
            // the others were kept.
            f.SelectRow(1);
            f.ToolButton1Click(f.ToolButton4);
            EXPECT_EQ(Subjects(f), (std::vector<std::string>{"Message 4", "Message 1"})) << f.Status();
        });
        EXPECT_EQ(server.Count("DELE 3"), 1);
        H.Stop();
    }
}

TEST_F(MessageReaderPop3, AfterADeleteTheNextRowsBodyIsFetchedAndShown) {
    TReaderPop3Script server(3, true);
    RunReader(server.Port, [&](TfrmMessBody &f) {
        f.SelectRow(0);  // message 3
        f.ToolButton1Click(f.ToolButton4);
        ASSERT_EQ(Subjects(f), (std::vector<std::string>{"Message 2", "Message 1"})) << f.Status();
        EXPECT_EQ(f.SelectedRow(), 0);
        EXPECT_TRUE(Contains(f.RichEdit1->toPlainText().toStdString(), "Body of message 2."))
            << "shown: " << f.RichEdit1->toPlainText().toStdString();
        EXPECT_FALSE(f.MailList->topLevelItem(0)->font(0).bold()) << "its body was read";
    });
    EXPECT_EQ(server.Count("DELE 3"), 1);
    EXPECT_EQ(server.Count("RETR 2"), 1);
}

// A list copy and a Cc copy of one mail share its Message-ID (their sizes
// differ by the list's header). Another client deletes the list copy after
// the reader listed both: the number the reader knows it by now holds the
// Cc copy, which must be neither shown nor deleted in its place. With UIDL
// the identifier tells them apart, without it the size.
TEST_F(MessageReaderPop3, AReadOrDeleteGoesOnlyToTheMessageListed) {
    const std::string head = "From: Ann <ann@example.org>\r\nSubject: Meeting\r\nMessage-ID: <meeting@example.org>\r\n";
    for (bool uidl : {true, false}) {
        SCOPED_TRACE(uidl ? "UIDL" : "no UIDL");
        ScriptedPop3Server server({{"list-copy", head + "List-Id: <team.example.org>\r\n\r\nSent to the list.\r\n"},
                                   {"cc-copy", head + "\r\nSent to you.\r\n"},
                                   {"other", "From: Bo <bo@example.org>\r\nSubject: Other\r\n\r\nElse.\r\n"}},
                                  ScriptedPop3Server::Options{.Pipelining = true, .Uidl = uidl});
        RunReader(server.Port(), [&](TfrmMessBody &f) {
            ASSERT_EQ(Subjects(f), (std::vector<std::string>{"Other", "Meeting", "Meeting"})) << f.Status();
            server.Remove("list-copy");
            f.SelectRow(2);  // the list copy, message 1 when listed
            f.ToolButton6Click();
            EXPECT_EQ(f.Status(), "This message is no longer on the server.");
            EXPECT_FALSE(Contains(f.RichEdit1->toPlainText().toStdString(), "Sent to you."));
            f.ToolButton1Click(f.ToolButton4);
            EXPECT_EQ(f.Status(), "Cannot delete this message.");
            EXPECT_EQ(Subjects(f).size(), 3u);
        });
        EXPECT_EQ(server.Uids(), (std::vector<std::string>{"cc-copy", "other"}));
        EXPECT_EQ(server.Count("DELE"), 0);
        H.Stop();
    }
}
