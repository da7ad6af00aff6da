// The private Dovecot that the POP3 and IMAP4 tests talk to: several run
// side by side, and nothing is left running behind. (That it speaks POP3
// and IMAP4, plain and over TLS with the test CA, the client tests show.)

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

}  // namespace

TEST(DovecotFixture, ServersRunSideBySideAndStopCompletely) {
    std::string why = DovecotServer::Unavailable();
    if (!why.empty()) GTEST_FAIL() << why;
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
