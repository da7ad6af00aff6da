// The private Dovecot that the POP3 and IMAP4 tests talk to: its TLS really
// checks against the test CA, several run side by side, and nothing is left
// running behind. (That it speaks POP3 and IMAP4, plain and over TLS, the
// client tests show.)

#include "DovecotServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// One line (up to LF) read from a fresh connection with plain sockets.
std::string Greeting(const std::string &host, int port) {
    std::string line;
    int fd = ConnectLoopback(host, port);
    if (fd < 0) return line;
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char c;
    while (line.size() < 4096 && ::recv(fd, &c, 1, 0) == 1) {
        line += c;
        if (c == '\n') break;
    }
    ::close(fd);
    return line;
}

void RequireDovecot() {
    std::string why = DovecotServer::Unavailable();
    if (!why.empty()) GTEST_FAIL() << why;
}

}  // namespace

TEST(DovecotFixture, Pop3sTrustsOnlyTheTestCa) {
    ASSERT_NO_FATAL_FAILURE(RequireDovecot());
    DovecotServer dc;
    dc.FillMailbox(dc.UserName(), 6);
    EXPECT_EQ(dc.StoredMessageCount(dc.UserName()), 6);
    const char *script = R"PY(
import poplib, ssl, sys
p = poplib.POP3_SSL("127.0.0.1", int(sys.argv[1]), context=ssl.create_default_context(), timeout=10)
p.user(sys.argv[2])
p.pass_(sys.argv[3])
print("STAT", p.stat()[0], p.sock.version())
p.quit()
)PY";
    const std::vector<std::string> args{std::to_string(dc.Pop3sPort()), dc.UserName(), dc.Password()};
    std::string out;
    ASSERT_EQ(RunPython(script, args, &out, nullptr, {"SSL_CERT_FILE=" + dc.CaFile()}), 0) << out << dc.LogText();
    EXPECT_NE(out.find("STAT 6 TLSv1."), std::string::npos) << out;
    // Without the test CA the same client refuses the server.
    EXPECT_NE(RunPython(script, args, &out, nullptr, {"SSL_CERT_FILE=/nonexistent"}), 0);
    EXPECT_NE(out.find("CERTIFICATE_VERIFY_FAILED"), std::string::npos) << out;
}

TEST(DovecotFixture, ServersRunSideBySideAndStopCompletely) {
    ASSERT_NO_FATAL_FAILURE(RequireDovecot());
    DovecotServer::Options opt;
    opt.ListenIPv6 = true;
    opt.Greeting = "Second one here.";
    opt.Users = {{"solo", "pw"}};
    int port1, port2;
    {
        DovecotServer a;
        DovecotServer b(opt);
        port1 = a.ImapPort();
        port2 = b.Pop3Port();
        pid_t pid1 = a.Pid();
        EXPECT_NE(a.Folder(), b.Folder());
        EXPECT_NE(a.Pop3Port(), b.Pop3Port());
        EXPECT_EQ(b.UserName(), "solo");
        EXPECT_EQ(Greeting("::1", b.Pop3Port()).rfind("+OK Second one here.", 0), 0u);
        EXPECT_EQ(Greeting("127.0.0.1", port1).rfind("* OK", 0), 0u);
        a.Stop();
        EXPECT_EQ(Greeting("127.0.0.1", port1), "");
        // Neither the master nor any process it started is left.
        EXPECT_EQ(LiveProcessesInGroup(pid1), 0);
        EXPECT_EQ(Greeting("127.0.0.1", port2).rfind("+OK", 0), 0u);
    }
    EXPECT_EQ(Greeting("127.0.0.1", port2), "");
}
