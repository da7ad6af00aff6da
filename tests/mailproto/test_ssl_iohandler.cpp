// The TLS IO handler against real servers on loopback: implicit TLS, TLS
// started on a plain connection, refused servers, broken peers, time-outs.
#include "NetAntiFreeze.h"
#include "NetSSLOpenSSL.h"
#include "OpenSSLServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Handler = TNetSSLIOHandlerSocketOpenSSL;

class SSLIOHandler : public ::testing::Test {
protected:
    static void SetUpTestSuite() { TestPKI::TrustTestCA(); }

    std::unique_ptr<Handler> Make(int port, const std::string &host = "localhost")
    {
        auto h = NetCreateNoOwner<Handler>();
        h->SetHost(host);
        h->SetPort(port);
        h->ConnectTimeout = 3000;
        h->ReadTimeout = 5000;
        h->OnStatusInfo = [this](const std::string &m) { Status.push_back(m); };
        return h;
    }

    int CipherReports() const
    {
        int n = 0;
        for (const auto &m : Status)
            if (m.rfind("Cipher: name = ", 0) == 0)
                ++n;
        return n;
    }

    // Opens and expects a refused handshake; returns its message and
    // checks that nothing is left open.
    std::string OpenRefused(Handler &h)
    {
        std::string msg = "(no exception)";
        try {
            h.Open();
        } catch (const ENetOSSLConnectError &e) {
            msg = e.Message();
        }
        EXPECT_FALSE(h.BindingAllocated());
        EXPECT_FALSE(h.Connected());
        EXPECT_EQ(h.SSLSocket(), nullptr);
        return msg;
    }

    std::vector<std::string> Status;
};

TEST_F(SSLIOHandler, ImplicitTLSSessionCarriesTenMegabytes)
{
    const TestPKI &pki = TestPKI::Get();
    StartTLSServer server(StartTLSServer::Implicit, pki.ServerCert, pki.Key);
    auto h = Make(server.Port());
    h->Open();
    EXPECT_EQ(CipherReports(), 1);
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
    h->WriteLn("NOOP");
    EXPECT_EQ(h->ReadLn(), "+OK tls");

    h->WriteLn("BIG 10485760");
    EXPECT_EQ(h->ReadLn(), "+OK here it comes");
    TStringList lines;
    h->CaptureDotList(lines);
    ASSERT_EQ(lines.Count(), 104858);
    for (int i = 0; i < lines.Count(); ++i) {
        const std::string &l = lines[i];
        ASSERT_EQ(l.size(), 98u) << "line " << i;
        ASSERT_EQ(std::stoi(l.substr(0, 9)), i);
    }

    // The server leaves without close_notify: a graceful close, once the
    // last reply is read.
    h->WriteLn("QUIT");
    EXPECT_EQ(h->ReadLn(), "+OK bye");
    EXPECT_THROW(h->ReadLn(), ENetConnClosedGracefully);
    EXPECT_FALSE(h->Connected());
}

TEST_F(SSLIOHandler, WritesGoThroughTheSession)
{
    const TestPKI &pki = TestPKI::Get();
    OpenSSLServer server(pki.ServerCert, pki.Key, {"-rev"});
    auto h = Make(server.Port());
    h->Open();
    TStringList out;
    for (int i = 0; i < 200; ++i)
        out.Add(IntToStr(1000 + i) + std::string(1000, 'q'));
    h->Write(out);  // one buffered write of 200 KB
    for (int i = 0; i < 200; ++i) {
        std::string want = IntToStr(1000 + i) + std::string(1000, 'q');
        std::reverse(want.begin(), want.end());
        ASSERT_EQ(h->ReadLn(), want) << "line " << i;
    }
}

TEST_F(SSLIOHandler, StartTLSOnAPlainConnection)
{
    const TestPKI &pki = TestPKI::Get();
    StartTLSServer server(StartTLSServer::Explicit, pki.ServerCert, pki.Key);
    auto h = Make(server.Port());
    h->SetPassThrough(true);
    h->Open();
    EXPECT_NE(h->SSLContext(), nullptr);  // made at connect, for later
    EXPECT_EQ(h->SSLSocket(), nullptr);
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
    h->WriteLn("NOOP");
    EXPECT_EQ(h->ReadLn(), "+OK plain");
    h->WriteLn("STLS");
    EXPECT_EQ(h->ReadLn(), "+OK Begin TLS negotiation");
    EXPECT_EQ(CipherReports(), 0);
    h->SetPassThrough(false);
    EXPECT_FALSE(h->PassThrough());
    EXPECT_EQ(CipherReports(), 1);
    h->WriteLn("NOOP");
    EXPECT_EQ(h->ReadLn(), "+OK tls");
    // Asking for plain text again does not tear TLS down under the peer.
    h->SetPassThrough(true);
    h->WriteLn("NOOP");
    EXPECT_EQ(h->ReadLn(), "+OK tls");
}

TEST_F(SSLIOHandler, PlainTextBehindTheStartAnswerIsRefused)
{
    // Whoever sits between client and server can put a line behind the
    // server's "go ahead"; read after the handshake it would pass for an
    // answer that came over TLS.
    const TestPKI &pki = TestPKI::Get();
    StartTLSServer server(StartTLSServer::InjectAfterSTLS, pki.ServerCert, pki.Key);
    auto h = Make(server.Port());
    h->SetPassThrough(true);
    h->Open();
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
    h->WriteLn("STLS");
    EXPECT_EQ(h->ReadLn(), "+OK Begin TLS negotiation");
    try {
        h->SetPassThrough(false);
        ADD_FAILURE() << "no exception";
    } catch (const ENetOSSLConnectError &e) {
        EXPECT_EQ(e.Message().rfind("Error connecting with SSL. ", 0), 0u) << e.Message();
    }
    EXPECT_FALSE(h->BindingAllocated());
    EXPECT_EQ(h->SSLSocket(), nullptr);
    EXPECT_TRUE(h->InputBufferIsEmpty());
    EXPECT_FALSE(h->Connected());
}

TEST_F(SSLIOHandler, RefusedServersEndTheConnection)
{
    const TestPKI &pki = TestPKI::Get();
    {
        OpenSSLServer server(pki.WrongHostCert, pki.Key);
        auto h = Make(server.Port());
        EXPECT_EQ(OpenRefused(*h),
                  "Error connecting with SSL. Certificate verification failed: hostname mismatch");
    }
    {
        OpenSSLServer server(pki.ExpiredCert, pki.Key);
        auto h = Make(server.Port());
        EXPECT_EQ(OpenRefused(*h),
                  "Error connecting with SSL. Certificate verification failed: certificate has expired");
    }
    {
        OpenSSLServer server(pki.SelfSignedCert, pki.SelfSignedKey);
        auto h = Make(server.Port());
        EXPECT_EQ(OpenRefused(*h),
                  "Error connecting with SSL. Certificate verification failed: self-signed certificate");
    }
    {
        OpenSSLServer server(pki.ServerCert, pki.Key, {"-tls1", "-cipher", "DEFAULT@SECLEVEL=0"});
        auto h = Make(server.Port());
        std::string msg = OpenRefused(*h);
        EXPECT_EQ(msg.rfind("Error connecting with SSL. ", 0), 0u) << msg;
        EXPECT_TRUE(ContainsText(msg, "protocol")) << msg;
    }
    EXPECT_EQ(CipherReports(), 0);
}

TEST_F(SSLIOHandler, BrokenPeersFailWithinTheTimeout)
{
    for (auto mode : {BrokenTLSPeer::DropAfterHello, BrokenTLSPeer::SendGarbage, BrokenTLSPeer::Stall}) {
        BrokenTLSPeer peer(mode);
        auto h = Make(peer.Port());
        h->ConnectTimeout = 800;
        auto t0 = std::chrono::steady_clock::now();
        std::string msg = OpenRefused(*h);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - t0)
                      .count();
        EXPECT_EQ(msg.rfind("Error connecting with SSL. ", 0), 0u) << msg;
        EXPECT_LT(ms, 3000) << msg;
        if (mode == BrokenTLSPeer::Stall) {
            EXPECT_EQ(msg, "Error connecting with SSL. The handshake timed out.");
        }
    }
}

TEST_F(SSLIOHandler, SilentServerTimesOutReads)
{
    const TestPKI &pki = TestPKI::Get();
    OpenSSLServer server(pki.ServerCert, pki.Key);  // says nothing
    auto h = Make(server.Port());
    h->ReadTimeout = 300;
    h->Open();
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(h->ReadLn(), "");
    EXPECT_TRUE(h->ReadLnTimedOut());
    TNetBytes b;
    EXPECT_THROW(h->ReadBytes(b, 10, false), ENetReadTimeout);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
                  .count();
    EXPECT_LT(ms, 2000);
    EXPECT_TRUE(h->Connected());
    // Data that arrives later is read normally.
    server.Send("late line\n");
    h->ReadTimeout = 3000;
    EXPECT_EQ(h->ReadLn(), "late line");
}

TEST_F(SSLIOHandler, DataThatCameDuringALongPumpIsNotATimeout)
{
    // A menu opened during a check runs its own loop inside the pump for
    // as long as the user likes; what arrived meanwhile is read, not taken
    // for a time-out.
    const TestPKI &pki = TestPKI::Get();
    OpenSSLServer server(pki.ServerCert, pki.Key);
    auto h = Make(server.Port());
    h->ReadTimeout = 300;
    h->Open();
    bool menuShown = false;
    TNetAntiFreeze::SetProcessMessagesHook([&](bool) {
        if (menuShown)
            return;
        menuShown = true;
        server.Send("arrived meanwhile\n");
        usleep(700000);
    });
    auto af = NetCreateNoOwner<TNetAntiFreeze>();
    af->IdleTimeOut = 20;
    std::string line = h->ReadLn();
    bool timedOut = h->ReadLnTimedOut();
    af.reset();
    TNetAntiFreeze::SetProcessMessagesHook(nullptr);
    EXPECT_TRUE(menuShown);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(line, "arrived meanwhile");
}

TEST_F(SSLIOHandler, PeerThatStopsReadingEndsTheWrite)
{
    const TestPKI &pki = TestPKI::Get();
    StartTLSServer server(StartTLSServer::Implicit, pki.ServerCert, pki.Key);
    auto h = Make(server.Port());
    h->ReadTimeout = 700;
    h->Open();
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
    h->WriteLn("STALL");
    EXPECT_EQ(h->ReadLn(), "+OK stalling");
    int pumped = 0;
    TNetAntiFreeze::SetProcessMessagesHook([&](bool) { ++pumped; });
    auto af = NetCreateNoOwner<TNetAntiFreeze>();
    af->IdleTimeOut = 50;
    auto t0 = std::chrono::steady_clock::now();
    TNetBytes chunk(1 << 20, 'z');
    try {
        for (int i = 0; i < 256; ++i)  // far more than any socket buffer
            h->Write(chunk);
        ADD_FAILURE() << "the writes never stopped";
    } catch (const ENetSocketError &e) {
        EXPECT_EQ(e.LastError(), 10060);
    }
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
                  .count();
    af.reset();
    TNetAntiFreeze::SetProcessMessagesHook(nullptr);
    EXPECT_LT(ms, 10000);
    EXPECT_GE(pumped, 5);  // the window lived while the write waited
    EXPECT_FALSE(h->Connected());
}

TEST_F(SSLIOHandler, ClosedFromThePumpWhileWaiting)
{
    // A window event that disconnects while a read, a write or a handshake
    // waits: the wait ends with the connection closed, and nothing touches
    // the session that the close freed.
    const TestPKI &pki = TestPKI::Get();
    Handler *target = nullptr;
    int pumped = 0;
    TNetAntiFreeze::SetProcessMessagesHook([&](bool) {
        if (target && ++pumped == 3)
            target->Close();
    });
    auto af = NetCreateNoOwner<TNetAntiFreeze>();
    af->IdleTimeOut = 20;
    auto expectClosedDuring = [&](Handler &h, const std::function<void()> &wait) {
        target = &h;
        pumped = 0;
        try {
            wait();
            ADD_FAILURE() << "the wait did not end";
        } catch (const ENetConnClosedGracefully &) {
        } catch (const ENetOSSLConnectError &) {
        }
        target = nullptr;
        EXPECT_EQ(pumped, 3);
        EXPECT_FALSE(h.BindingAllocated());
        EXPECT_EQ(h.SSLSocket(), nullptr);
        EXPECT_FALSE(h.Connected());
    };
    {
        OpenSSLServer server(pki.ServerCert, pki.Key);  // says nothing
        auto h = Make(server.Port());
        h->Open();
        expectClosedDuring(*h, [&] { h->ReadLn(); });
    }
    {
        StartTLSServer server(StartTLSServer::Implicit, pki.ServerCert, pki.Key);
        auto h = Make(server.Port());
        h->Open();
        EXPECT_EQ(h->ReadLn(), "+OK test server ready");
        h->WriteLn("STALL");
        EXPECT_EQ(h->ReadLn(), "+OK stalling");
        TNetBytes chunk(1 << 20, 'z');
        expectClosedDuring(*h, [&] {
            for (int i = 0; i < 256; ++i)
                h->Write(chunk);
        });
    }
    {
        BrokenTLSPeer peer(BrokenTLSPeer::Stall);
        auto h = Make(peer.Port());
        expectClosedDuring(*h, [&] { h->Open(); });
    }
    af.reset();
    TNetAntiFreeze::SetProcessMessagesHook(nullptr);
}

TEST_F(SSLIOHandler, StatusEventMayRunAnotherSessionInside)
{
    // An event handler that pumps the window can start another connection
    // while OpenSSL is still inside the first one's callback.
    const TestPKI &pki = TestPKI::Get();
    StartTLSServer server(StartTLSServer::Implicit, pki.ServerCert, pki.Key);
    auto outer = Make(server.Port());
    auto inner = Make(server.Port());
    bool nested = false;
    std::string innerGreeting;
    outer->OnStatusInfo = [&](const std::string &) {
        if (nested)
            return;
        nested = true;
        inner->Open();
        innerGreeting = inner->ReadLn();
    };
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread t([&] {
        try {
            outer->Open();
        } catch (...) {
        }
        done.set_value();
    });
    if (finished.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "the nested session never finished its handshake";
        std::fflush(nullptr);
        std::_Exit(1);  // the thread is stuck for good
    }
    t.join();
    EXPECT_EQ(innerGreeting, "+OK test server ready");
    EXPECT_EQ(outer->ReadLn(), "+OK test server ready");
}

TEST_F(SSLIOHandler, NoEventsWhileTheHandlerGoes)
{
    // The events usually point into the form that owns the handler, and a
    // form frees its own fields before the components it owns.
    const TestPKI &pki = TestPKI::Get();
    StartTLSServer server(StartTLSServer::Implicit, pki.ServerCert, pki.Key);
    auto h = Make(server.Port());
    auto log = std::make_unique<std::vector<std::string>>();
    h->OnStatusInfo = [&log](const std::string &m) { log->push_back(m); };
    h->Open();
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
    EXPECT_FALSE(log->empty());
    size_t seen = log->size();
    h->Close();
    EXPECT_EQ(log->size(), seen);
    h->Open();
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
    log.reset();  // the form's fields are gone; the handler is freed after
    h.reset();
}

TEST_F(SSLIOHandler, DecryptedBytesCountAsReadable)
{
    const TestPKI &pki = TestPKI::Get();
    OpenSSLServer server(pki.ServerCert, pki.Key);
    auto h = Make(server.Port());
    h->RecvBufferSize = 4;  // less than one record
    h->Open();
    server.Send("hello world\n");
    EXPECT_EQ(h->ReadFromSource(true, 3000, true), 4);
    // The rest of the record waits inside the session, not on the socket.
    EXPECT_TRUE(h->Readable(0));
    h->ReadTimeout = 200;
    EXPECT_EQ(h->ReadLn(), "hello world");
    EXPECT_FALSE(h->Readable(0));
}

TEST_F(SSLIOHandler, PeerDroppingMidSessionIsAGracefulClose)
{
    const TestPKI &pki = TestPKI::Get();
    StartTLSServer server(StartTLSServer::Implicit, pki.ServerCert, pki.Key);
    auto h = Make(server.Port());
    h->Open();
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
    h->WriteLn("DROP");
    EXPECT_THROW(h->ReadLn(), ENetConnClosedGracefully);
    EXPECT_FALSE(h->Connected());
    EXPECT_EQ(h->SSLSocket(), nullptr);
}

TEST_F(SSLIOHandler, ReconnectMakesAFreshContext)
{
    const TestPKI &pki = TestPKI::Get();
    StartTLSServer server(StartTLSServer::Implicit, pki.ServerCert, pki.Key);
    auto h = Make(server.Port());
    h->Open();
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
    int contexts = TNetSSLContext::ContextCount();
    h->Close();
    EXPECT_EQ(h->SSLContext(), nullptr);
    EXPECT_FALSE(h->Connected());
    // A changed option reaches the next connection's context.
    h->SSLOptions()->CipherList = "NO-SUCH-SUITE";
    EXPECT_THROW(h->Open(), ENetOSSLSettingCipherError);
    EXPECT_FALSE(h->BindingAllocated());
    h->SSLOptions()->CipherList = "";
    h->Open();
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
    EXPECT_EQ(TNetSSLContext::ContextCount(), contexts + 2);
}

TEST_F(SSLIOHandler, VerifyEventSeesTheChain)
{
    const TestPKI &pki = TestPKI::Get();
    StartTLSServer server(StartTLSServer::Implicit, pki.ServerCert, pki.Key);
    auto h = Make(server.Port(), "127.0.0.1");
    std::vector<std::string> seen;
    h->OnVerifyPeer = [&](TNetX509 *cert, bool ok) {
        seen.push_back(cert->Subject()->OneLine() + (ok ? " ok" : " bad"));
        return ok;
    };
    h->Open();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "/CN=Tarnwick Test CA ok");
    EXPECT_EQ(seen[1], "/CN=localhost ok");
    ASSERT_NE(h->SSLSocket()->PeerCert(), nullptr);
    EXPECT_EQ(h->SSLSocket()->PeerCert()->Subject()->OneLine(), "/CN=localhost");

    // The peer-name setting overrides the host for the check.
    h->Close();
    h->SetPeerName("mail.example.org");
    EXPECT_EQ(OpenRefused(*h),
              "Error connecting with SSL. Certificate verification failed: hostname mismatch");
}

TEST_F(SSLIOHandler, MissingLibraryFailsWithoutFallingBackToPlain)
{
    const TestPKI &pki = TestPKI::Get();
    StartTLSServer server(StartTLSServer::Implicit, pki.ServerCert, pki.Key);
    UnloadOpenSSLLibrary();
    SetOpenSSLLibraryNames("libssl-gone.so.3", "libcrypto-gone.so.3");
    auto h = Make(server.Port());
    try {
        h->Open();
        ADD_FAILURE() << "no exception";
    } catch (const ENetOSSLCouldNotLoadSSLLibrary &e) {
        EXPECT_EQ(e.Message().rfind("Could not load SSL library.", 0), 0u);
    }
    EXPECT_FALSE(h->BindingAllocated());

    // A plain session works without the libraries; starting TLS on it then
    // reports them missing and leaves the handler in pass-through.
    StartTLSServer plain(StartTLSServer::Explicit, pki.ServerCert, pki.Key);
    h->SetPort(plain.Port());
    h->SetPassThrough(true);
    h->Open();
    EXPECT_EQ(h->SSLContext(), nullptr);
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
    h->WriteLn("NOOP");
    EXPECT_EQ(h->ReadLn(), "+OK plain");
    try {
        h->SetPassThrough(false);
        ADD_FAILURE() << "no exception";
    } catch (const ENetOSSLCouldNotLoadSSLLibrary &e) {
        EXPECT_EQ(e.Message(), "Could not load SSL library.");
    }
    EXPECT_TRUE(h->PassThrough());
    // TLS was asked for and cannot be had: the plain session ends with it.
    EXPECT_FALSE(h->BindingAllocated());
    EXPECT_FALSE(h->Connected());

    SetOpenSSLLibraryNames("libssl.so.3", "libcrypto.so.3");
    h->SetPort(server.Port());
    h->SetPassThrough(false);
    h->Open();
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
}

TEST_F(SSLIOHandler, CloneCopiesOptionsAndEvents)
{
    auto h = Make(1);
    h->SSLOptions()->CipherList = "HIGH";
    h->SSLOptions()->VerifyDepth = 3;
    bool asked = false;
    h->OnGetPassword = [&](std::string &) { asked = true; };
    std::unique_ptr<TNetSSLIOHandlerSocketBase> c(h->Clone(nullptr));
    auto *copy = dynamic_cast<Handler *>(c.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->SSLOptions()->CipherList, "HIGH");
    EXPECT_EQ(copy->SSLOptions()->VerifyDepth, 3);
    EXPECT_NE(copy->SSLOptions(), h->SSLOptions());
    std::string pw;
    copy->DoGetPassword(pw);
    EXPECT_TRUE(asked);
}

}  // namespace

namespace {

int ListenLoopback(int &port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

TEST_F(SSLIOHandler, ServerSideServesOpenSSLClient)
{
    const TestPKI &pki = TestPKI::Get();
    auto server = NetCreateNoOwner<TNetServerIOHandlerSSLOpenSSL>();
    server->SSLOptions()->CertFile = pki.ServerCert;
    server->SSLOptions()->KeyFile = pki.Key;
    std::vector<std::string> status;
    server->OnStatusInfo = [&](const std::string &m) { status.push_back(m); };
    server->Init();
    EXPECT_EQ(server->SSLContext()->Mode, sslmServer);

    int port = 0;
    int listener = ListenLoopback(port);
    ASSERT_GE(listener, 0);
    OpenSSLClient client(port, {"-servername", "localhost"});
    std::unique_ptr<TNetIOHandler> accepted(server->Accept(listener));
    ASSERT_NE(accepted, nullptr);
    auto *peer = dynamic_cast<TNetSSLIOHandlerSocketOpenSSL *>(accepted.get());
    ASSERT_NE(peer, nullptr);
    EXPECT_TRUE(peer->IsPeer());
    EXPECT_TRUE(peer->PassThrough());
    EXPECT_EQ(peer->SSLContext(), server->SSLContext());

    peer->SetPassThrough(false);  // the server handshake
    int cipher = 0;
    for (const auto &m : status)
        if (m.rfind("Cipher: name = ", 0) == 0)
            ++cipher;
    EXPECT_EQ(cipher, 1);
    peer->WriteLn("hello from the server");
    EXPECT_TRUE(client.WaitForOutput("hello from the server")) << client.Output();
    EXPECT_TRUE(client.WaitForOutput("Verification: OK")) << client.Output();
    client.Send("hello from the client\n");
    EXPECT_EQ(peer->ReadLn(), "hello from the client");

    // The shared context outlives the peer's close.
    peer->Close();
    EXPECT_NE(server->SSLContext(), nullptr);
    accepted.reset();
    close(listener);
}

}  // namespace
