// The private Dovecot that the POP3 and IMAP4 tests talk to: it must come up
// on its own ports, speak both protocols plain and over TLS with the test CA,
// hold the messages the tests put in, and leave nothing running behind.

#include "DovecotServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// One line (up to LF) read from a fresh connection with plain sockets.
// With `send`, that text goes first.
std::string Greeting(const std::string &host, int port, const std::string &send = "") {
    std::string line;
    int fd = ConnectLoopback(host, port);
    if (fd < 0) return line;
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (!send.empty()) ::send(fd, send.data(), send.size(), MSG_NOSIGNAL);
    char c;
    while (line.size() < 4096 && ::recv(fd, &c, 1, 0) == 1) {
        line += c;
        if (c == '\n') break;
    }
    ::close(fd);
    return line;
}

#define REQUIRE_DOVECOT()                                              \
    do {                                                               \
        std::string why = DovecotServer::Unavailable();                \
        if (!why.empty()) GTEST_FAIL() << why;                         \
    } while (0)

const char *kPop3sScript = R"PY(
import poplib, ssl, sys
host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
ctx = ssl.create_default_context()          # trusts SSL_CERT_FILE only
p = poplib.POP3_SSL(host, port, context=ctx, timeout=10)
print("GREETING", p.getwelcome().decode())
print("CAPA", " ".join(sorted(p.capa().keys())))
print("SASL", " ".join(p.capa().get("SASL", [])))
p.user(user)
p.pass_(password)
count, size = p.stat()
print("STAT", count, size)
for n in (1, 3, 4, 5):
    resp, lines, octets = p.top(n, 0)
    print("TOP", n, " | ".join(l.decode() for l in lines if l[:8].lower() in (b"subject:", b"from: =?", b"content-")))
print("VERSION", p.sock.version())
p.quit()
)PY";

}  // namespace

TEST(DovecotFixture, GreetsOnPlainPortsAndOffersTheTestMechanisms) {
    REQUIRE_DOVECOT();
    DovecotServer dc;
    std::string pop = Greeting(dc.Host(), dc.Pop3Port());
    EXPECT_EQ(pop.rfind("+OK Dovecot ready.", 0), 0u) << pop;
    // APOP is enabled: the greeting carries the timestamp to digest.
    EXPECT_NE(pop.find(" <"), std::string::npos) << pop;
    EXPECT_EQ(pop.substr(pop.size() - 3), ">\r\n") << pop;

    std::string imap = Greeting(dc.Host(), dc.ImapPort());
    EXPECT_EQ(imap.rfind("* OK ", 0), 0u) << imap;
    // STARTTLS on the plain port, for the clients' explicit TLS.
    for (const char *cap : {"IMAP4rev1", "STARTTLS", "AUTH=PLAIN", "AUTH=LOGIN", "AUTH=CRAM-MD5"})
        EXPECT_NE(imap.find(cap), std::string::npos) << cap << " missing in " << imap;
    // Nothing in the clear on the TLS ports: a plain command gets a TLS
    // alert or a closed connection.
    for (int port : {dc.Pop3sPort(), dc.ImapsPort()}) {
        std::string answer = Greeting(dc.Host(), port, "CAPA\r\n");
        EXPECT_EQ(answer.find("OK"), std::string::npos) << answer;
    }
}

TEST(DovecotFixture, Pop3sWithTheTestCaServesTheGeneratedMessages) {
    REQUIRE_DOVECOT();
    DovecotServer dc;
    dc.FillMailbox(dc.UserName(), 6);
    EXPECT_EQ(dc.StoredMessageCount(dc.UserName()), 6);
    std::string out;
    int rc = RunPython(kPop3sScript, {"127.0.0.1", std::to_string(dc.Pop3sPort()), dc.UserName(), dc.Password()},
                       &out, nullptr, {"SSL_CERT_FILE=" + dc.CaFile()});
    ASSERT_EQ(rc, 0) << out << dc.LogText();
    EXPECT_NE(out.find("GREETING +OK Dovecot ready."), std::string::npos) << out;
    EXPECT_NE(out.find("SASL PLAIN LOGIN CRAM-MD5"), std::string::npos) << out;
    EXPECT_NE(out.find("STAT 6 "), std::string::npos) << out;
    EXPECT_NE(out.find("TOP 1 Subject: Test message 1"), std::string::npos) << out;
    // Message 3 has a non-ASCII sender, 4 a non-ASCII subject, 5 an attachment:
    // the email package writes them as encoded words and MIME.
    EXPECT_NE(out.find("TOP 3 From: =?utf-8?"), std::string::npos) << out;
    EXPECT_NE(out.find("TOP 4 Subject: =?utf-8?"), std::string::npos) << out;
    EXPECT_NE(out.find("TOP 5 Subject: Test message 5 | Content-Type: multipart/mixed"), std::string::npos) << out;
    EXPECT_NE(out.find("VERSION TLSv1."), std::string::npos) << out;

    // The certificate really is checked: without the test CA the same
    // client refuses the server.
    rc = RunPython(kPop3sScript, {"127.0.0.1", std::to_string(dc.Pop3sPort()), dc.UserName(), dc.Password()},
                   &out, nullptr, {"SSL_CERT_FILE=/nonexistent"});
    EXPECT_NE(rc, 0);
    EXPECT_NE(out.find("CERTIFICATE_VERIFY_FAILED"), std::string::npos) << out;
}

TEST(DovecotFixture, StlsAndStarttlsOnThePlainPorts) {
    REQUIRE_DOVECOT();
    DovecotServer dc;
    dc.FillMailbox(dc.UserName(), 2);
    const char *script = R"PY(
import imaplib, poplib, ssl, sys
ctx = ssl.create_default_context()
p = poplib.POP3("localhost", int(sys.argv[1]), timeout=10)
print("POP3 STLS offered", "STLS" in p.capa())
p.stls(context=ctx)
p.user(sys.argv[3]); p.pass_(sys.argv[4])
print("POP3", p.stat()[0], p.sock.version())
p.quit()
m = imaplib.IMAP4("localhost", int(sys.argv[2]), timeout=10)
m.starttls(ssl_context=ctx)
m.login(sys.argv[3], sys.argv[4])
print("IMAP", m.select("INBOX")[1][0].decode(), m.sock.version())
m.logout()
)PY";
    std::string out;
    int rc = RunPython(script, {std::to_string(dc.Pop3Port()), std::to_string(dc.ImapPort()), dc.UserName(),
                                dc.Password()},
                       &out, nullptr, {"SSL_CERT_FILE=" + dc.CaFile()});
    ASSERT_EQ(rc, 0) << out << dc.LogText();
    EXPECT_NE(out.find("POP3 STLS offered True\nPOP3 2 TLSv1."), std::string::npos) << out;
    EXPECT_NE(out.find("IMAP 2 TLSv1."), std::string::npos) << out;
}

TEST(DovecotFixture, UsersAreSeparateAndWrongPasswordsAreRefused) {
    REQUIRE_DOVECOT();
    DovecotServer dc;
    dc.FillMailbox(dc.UserName(0), 3);
    dc.FillMailbox(dc.UserName(1), 2, "INBOX", 1, /*seen=*/true);
    const char *script = R"PY(
import poplib, sys
p = poplib.POP3(sys.argv[1], int(sys.argv[2]), timeout=10)
p.user(sys.argv[3])
try:
    p.pass_(sys.argv[4])
    print("COUNT", p.stat()[0])
    p.quit()
except poplib.error_proto as e:
    print("REFUSED", e)
)PY";
    auto run = [&](const std::string &user, const std::string &pw) {
        std::string out;
        EXPECT_EQ(RunPython(script, {dc.Host(), std::to_string(dc.Pop3Port()), user, pw}, &out), 0) << out;
        return out;
    };
    EXPECT_EQ(run(dc.UserName(0), dc.Password(0)), "COUNT 3\n");
    EXPECT_EQ(run(dc.UserName(1), dc.Password(1)), "COUNT 2\n");
    EXPECT_NE(run(dc.UserName(0), dc.Password(1)).find("REFUSED b'-ERR [AUTH] Authentication failed."),
              std::string::npos);
    EXPECT_NE(run("nobody", "x").find("REFUSED"), std::string::npos);
}

TEST(DovecotFixture, MailboxWithNonAsciiNameOverImaps) {
    REQUIRE_DOVECOT();
    DovecotServer dc;
    dc.FillMailbox(dc.UserName(), 2);
    dc.FillMailbox(dc.UserName(), 3, "Entwürfe/Größe");
    dc.AddMessage(dc.UserName(), "From: a@b\r\nSubject: raw\r\n\r\nbody\r\n", "Entwürfe/Größe", true);
    const char *script = R"PY(
import imaplib, ssl, sys
ctx = ssl.create_default_context()
m = imaplib.IMAP4_SSL("localhost", int(sys.argv[1]), ssl_context=ctx, timeout=10)
m.login(sys.argv[2], sys.argv[3])
typ, boxes = m.list()
print("LIST", sorted(b.decode().split(' "/" ')[1] for b in boxes))
typ, data = m.select('"Entw&APw-rfe/Gr&APYA3w-e"', readonly=True)
print("EXISTS", data[0].decode())
typ, data = m.fetch("4", "(FLAGS BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
print("LAST", data[0][0].decode(), data[0][1].decode().strip())
m.logout()
)PY";
    std::string out;
    int rc = RunPython(script, {std::to_string(dc.ImapsPort()), dc.UserName(), dc.Password()}, &out, nullptr,
                       {"SSL_CERT_FILE=" + dc.CaFile()});
    ASSERT_EQ(rc, 0) << out << dc.LogText();
    EXPECT_NE(out.find("'Entw&APw-rfe/Gr&APYA3w-e'"), std::string::npos) << out;
    EXPECT_NE(out.find("'INBOX'"), std::string::npos) << out;
    EXPECT_NE(out.find("EXISTS 4\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\\Seen"), std::string::npos) << out;
    EXPECT_NE(out.find("Subject: raw"), std::string::npos) << out;
}

TEST(DovecotFixture, ServersRunSideBySideAndStopCompletely) {
    REQUIRE_DOVECOT();
    DovecotServer::Options opt;
    opt.ListenIPv6 = true;
    opt.Greeting = "Second one here.";
    opt.Users = {{"solo", "pw"}};
    int port1, port2;
    pid_t pid1;
    {
        DovecotServer a;
        DovecotServer b(opt);
        port1 = a.ImapPort();
        port2 = b.Pop3Port();
        pid1 = a.Pid();
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
