// The cycle's POP3 pipeline against a small scripted POP3 server in Python
// that can announce PIPELINING or not, refuse one TOP or cut the connection
// at one, and writes down every command with whether more had already
// arrived before its answer went out (a command sent ahead).
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include "SimpleTimer.h"

#include "ChildProcess.h"
#include "mainwindow/MainWindowFixture.h"
#include "NetPOP3.h"
#include "PythonPeer.h"

namespace {

const char *const kServer = R"PY(
import socket, sys, time
log_path, count, pipelining, err_at, cut_at, slow_at = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "1", int(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6])
srv = socket.socket()
srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("127.0.0.1", 0))
srv.listen(4)
print(srv.getsockname()[1], flush=True)
log = open(log_path, "a", buffering=1)
def header(n):
    return ("From: Sender %d <sender%d@example.org>\r\nSubject: Message %d\r\n"
            "Message-ID: <m%d@scripted.test>\r\nDate: Fri, 01 Mar 2024 08:00:00 +0000\r\n\r\n" % (n, n, n, n))
while True:
    conn, _ = srv.accept()
    buf = b""
    conn.sendall(b"+OK ready\r\n")
    done = False
    while not done:
        while b"\n" not in buf:
            data = conn.recv(65536)
            if not data:
                done = True
                break
            buf += data
        if done:
            break
        line, buf = buf.split(b"\n", 1)
        cmd = line.strip().decode()
        # More bytes already here before this command was answered.
        conn.setblocking(False)
        try:
            more = conn.recv(65536)
            buf += more
        except BlockingIOError:
            pass
        conn.setblocking(True)
        log.write("%s%s\n" % (cmd, " ahead" if buf else ""))
        word = cmd.split(" ")[0].upper()
        if word == "CAPA":
            conn.sendall(b"+OK\r\nUSER\r\nTOP\r\n" + (b"PIPELINING\r\n" if pipelining else b"") + b".\r\n")
        elif word in ("USER", "PASS", "NOOP", "RSET"):
            conn.sendall(b"+OK\r\n")
        elif word == "STAT":
            conn.sendall(b"+OK %d %d\r\n" % (count, count * 100))
        elif word == "TOP":
            n = int(cmd.split(" ")[1])
            if n == slow_at:
                time.sleep(1.5)
            if n == cut_at:
                conn.close()
                done = True
            elif n == err_at:
                conn.sendall(b"-ERR no such message\r\n")
            else:
                conn.sendall(b"+OK\r\n" + header(n).encode() + b".\r\n")
        elif word == "DELE":
            conn.sendall(b"+OK\r\n")
        elif word == "QUIT":
            conn.sendall(b"+OK bye\r\n")
            conn.close()
            done = True
        else:
            conn.sendall(b"-ERR what\r\n")
)PY";

// The server above, for one test.
class TPop3Script {
public:
    TPop3Script(int count, bool pipelining, int errAt = 0, int cutAt = 0, int slowAt = 0) {
        FLog = FDir.File("commands.log");
        WriteTestFile(FDir.File("server.py"), kServer);
        FPid = StartPeerProcess({PythonProgram(), FDir.File("server.py"), FLog, std::to_string(count),
                                 pipelining ? "1" : "0", std::to_string(errAt), std::to_string(cutAt),
                                 std::to_string(slowAt)},
                                "", FPort);
    }
    ~TPop3Script() { StopPeerProcess(FPid, SIGKILL); }
    int Port() const { return FPort; }
    std::vector<std::string> Commands() const {
        std::vector<std::string> out;
        std::string text = FileExists(FLog) ? ReadTestFile(FLog) : std::string();
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            out.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return out;
    }
    int Count(const std::string &text) const {
        int n = 0;
        for (const std::string &c : Commands()) n += Contains(c, text);
        return n;
    }

private:
    TempDir FDir;
    std::string FLog;
    pid_t FPid = -1;
    int FPort = 0;
};

class CyclePipeline : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PythonAvailable()) GTEST_SKIP() << "python3 is needed";
    }
    static TTestAccount Account(const std::string &name, int port) {
        TTestAccount a;
        a.Name = name;
        a.Port = port;
        a.User = "user";
        a.Password = "secret";
        return a;
    }
    TFrmMain &Start(MainWindowHarness &h) {
        TFrmMain &m = h.Start();
        m.NetPOP31->SetReadTimeout(10000);
        m.NetPOP31->SetConnectTimeout(10000);
        return m;
    }
};

}  // namespace

TEST_F(CyclePipeline, WithoutPipeliningNoCommandIsSentAhead) {
    TPop3Script server(40, false);
    MainWindowHarness h;
    WriteTestFile(h.Dir.File("rules/delete.rul"),
                  "[Rule]\nRule1=1\nAllAccounts=True\nAllEMails=True\nWordsRule=0\n[Words]\n0=message 7\n");
    h.WriteSettings({Account("plain", server.Port())}, {MainWindowHarness::LongLog()});
    TFrmMain &m = Start(h);
    m.Timer1Timer();
    EXPECT_EQ(m.State.Accounts[0].NewCount, 39) << h.Log();
    EXPECT_EQ(server.Count("ahead"), 0) << h.Log();
    // One command per answer, each DELE right after its message's TOP.
    std::vector<std::string> c = server.Commands();
    ASSERT_GE(c.size(), 46u);
    EXPECT_EQ(c[4], "TOP 1 0");
    EXPECT_EQ(c[10], "TOP 7 0");
    EXPECT_EQ(c[11], "DELE 7");
    EXPECT_EQ(c[12], "TOP 8 0");
    EXPECT_EQ(c.back(), "QUIT");
}

TEST_F(CyclePipeline, WithPipeliningTheTopsGoAheadInOrder) {
    TPop3Script server(300, true);
    MainWindowHarness h;
    WriteTestFile(h.Dir.File("rules/delete.rul"),
                  "[Rule]\nRule1=1\nAllAccounts=True\nAllEMails=True\nWordsRule=0\n[Words]\n0=message 7\n");
    h.WriteSettings({Account("fast", server.Port())}, {MainWindowHarness::LongLog()});
    TFrmMain &m = Start(h);
    m.Timer1Timer();
    const Tiedot &t = m.State.Accounts[0];
    // 7 and 70 to 79 are deleted: 11 messages, in different windows.
    EXPECT_EQ(t.NewCount, 289) << h.Log();
    ASSERT_EQ(t.MessageIds.Count(), 289);
    EXPECT_EQ(t.MessageIds[5], "<m6@scripted.test>");
    EXPECT_EQ(t.MessageIds[6], "<m8@scripted.test>");
    EXPECT_EQ(h.LogLinesWith("Deleted by a rule"), 11);
    EXPECT_GT(server.Count("ahead"), 0);
    // Every TOP once and in order; every deletion asked for once.
    int expect = 1;
    for (const std::string &c : server.Commands())
        if (StartsText("TOP ", c)) EXPECT_TRUE(StartsText("TOP " + std::to_string(expect++) + " 0", c)) << c;
    EXPECT_EQ(expect, 301);
    EXPECT_EQ(server.Count("DELE "), 11);
    // Never more TOPs in flight than the window.
    EXPECT_LE(m.NetPOP31->PipelineWindow(), m.NetPOP31->PipelineDepth);
}

TEST_F(CyclePipeline, ARefusedTopEndsTheAccountInStep) {
    TPop3Script refusing(200, true, 90), next(5, true);
    MainWindowHarness h;
    h.WriteSettings({Account("refusing", refusing.Port()), Account("next", next.Port())},
                    {MainWindowHarness::LongLog()});
    TFrmMain &m = Start(h);
    m.Timer1Timer();
    // What came before the refusal counts, as a lock-step check would have
    // had it; the answers asked ahead are read past and the session ends
    // with its own QUIT.
    EXPECT_EQ(m.State.Accounts[0].NewCount, 89) << h.Log();
    EXPECT_EQ(m.State.Accounts[0].MessageIds.Count(), 89);
    EXPECT_EQ(h.LogLinesWith("no such message"), 1) << h.Log();
    EXPECT_EQ(refusing.Commands().back(), "QUIT");
    EXPECT_EQ(m.State.Accounts[1].NewCount, 5) << h.Log();
    EXPECT_FALSE(m.NetPOP31->Connected());
}

TEST_F(CyclePipeline, DeletionsOnTheirWayWhenATopIsRefusedAreEachRecorded) {
    // 8 and 80 to 89 are deleted; the DELEs of the last of them are still on
    // their way behind the TOPs when TOP 90 is refused.
    TPop3Script refusing(200, true, 90);
    MainWindowHarness h;
    WriteTestFile(h.Dir.File("rules/delete.rul"),
                  "[Rule]\nRule1=1\nAllAccounts=True\nAllEMails=True\nWordsRule=0\n[Words]\n0=message 8\n");
    h.WriteSettings({Account("refusing", refusing.Port())}, {MainWindowHarness::LongLog(), "DelMessVal=1000"});
    TFrmMain &m = Start(h);
    m.Timer1Timer();
    const std::vector<std::string> c = refusing.Commands();
    auto at = [&](const std::string &prefix) {
        return std::find_if(c.begin(), c.end(), [&](const std::string &l) { return StartsText(prefix, l); }) - c.begin();
    };
    ASSERT_GT(at("DELE 89"), at("TOP 90 0")) << "DELE 89 went out behind the refused TOP";
    EXPECT_EQ(m.State.Accounts[0].NewCount, 89 - 11) << h.Log();
    // Every DELE the server was sent is answered, recorded and then made
    // at QUIT.
    EXPECT_EQ(refusing.Count("DELE "), 11);
    EXPECT_EQ(h.LogLinesWith("Deleted by a rule"), 11) << h.Log();
    TStringList deleted;
    deleted.LoadFromFile(h.Dir.File("deleted.txt"));
    EXPECT_EQ(deleted.Count(), 11);
    EXPECT_EQ(refusing.Commands().back(), "QUIT");
}

TEST_F(CyclePipeline, ACutMidWindowEndsTheAccountAndTheNextIsChecked) {
    TPop3Script cutting(200, true, 0, 90), next(5, true);
    MainWindowHarness h;
    h.WriteSettings({Account("cutting", cutting.Port()), Account("next", next.Port())},
                    {MainWindowHarness::LongLog()});
    TFrmMain &m = Start(h);
    m.Timer1Timer();
    EXPECT_EQ(m.State.Accounts[0].NewCount, 89) << h.Log();
    EXPECT_EQ(h.LogLinesWith("Connection Closed Gracefully"), 1) << h.Log();
    EXPECT_EQ(m.State.Accounts[1].NewCount, 5) << h.Log();
    EXPECT_EQ(m.State.Accounts.TotalNew, 94);
    EXPECT_FALSE(m.NetPOP31->Connected());
}

TEST_F(CyclePipeline, ExitMidWindowDropsWhatWasFetchedAhead) {
    // The server thinks long over message 50; the program is closed meanwhile.
    TPop3Script server(200, true, 0, 0, 50);
    MainWindowHarness h;
    h.WriteSettings({Account("closing", server.Port())}, {MainWindowHarness::LongLog()});
    TFrmMain &m = Start(h);
    m.State.Accounts.TotalNew = 77;
    TSimpleTimer exitSoon(300, [&](QObject *) { m.Exit1->Tag = 1; });
    exitSoon.SetEnabled(true);
    m.Timer1Timer();
    exitSoon.SetEnabled(false);
    const Tiedot &t = m.State.Accounts[0];
    // The message being read when the stop came is the last one handled (as
    // one command at a time had it), the count is not recorded, and the
    // answers asked for ahead were read past before the goodbye.
    EXPECT_EQ(t.NewCount, 0);
    EXPECT_LE(t.MessageIds.Count(), 50);
    EXPECT_EQ(m.State.Accounts.TotalNew, 77);
    EXPECT_EQ(h.LogLinesWith("Done:"), 0) << h.Log();
    EXPECT_EQ(server.Commands().back(), "QUIT");
    EXPECT_FALSE(m.NetPOP31->Connected());
}
