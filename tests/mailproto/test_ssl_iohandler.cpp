// The TLS IO handler against real servers on loopback: implicit TLS, TLS
// started on a plain connection, refused servers, broken peers, time-outs.
#include "NetAntiFreeze.h"
#include "NetSSLOpenSSL.h"
#include "OpenSSLServer.h"
#include "explicit_tls_test_client.h"
#include "TestSupport.h"
#include "EventLoopWait.h"

#include <algorithm>
#include <atomic>
#include <dlfcn.h>
#include <sys/socket.h>
#include <thread>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <unistd.h>
#include <utility>

namespace {

using Handler = TNetSSLIOHandlerSocketOpenSSL;

int CipherReports(const std::vector<std::string> &status)
{
    return int(std::count_if(status.begin(), status.end(),
                             [](const std::string &m) { return m.rfind("Cipher: name = ", 0) == 0; }));
}

long long MsSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
}

// Stands in for the window's message loop, which a waiting handler pumps
// every idleMs.
class Pump {
public:
    Pump(std::function<void()> onPump, int idleMs)
    {
        TNetAntiFreeze::SetProcessMessagesHook([f = std::move(onPump)](bool) { f(); });
        FAntiFreeze->IdleTimeOut = idleMs;
    }
    ~Pump()
    {
        FAntiFreeze.reset();
        TNetAntiFreeze::SetProcessMessagesHook(nullptr);
    }

private:
    std::unique_ptr<TNetAntiFreeze> FAntiFreeze = NetCreateNoOwner<TNetAntiFreeze>();
};

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

    // Opens to a server that has stopped reading.
    void OpenStalled(Handler &h)
    {
        h.Open();
        EXPECT_EQ(h.ReadLn(), "+OK test server ready");
        h.WriteLn("STALL");
        EXPECT_EQ(h.ReadLn(), "+OK stalling");
    }

    const TestPKI &Pki = TestPKI::Get();
    std::vector<std::string> Status;
};

TEST_F(SSLIOHandler, ImplicitTLSSessionCarriesTenMegabytes)
{
    StartTLSServer server(StartTLSServer::Implicit, Pki.ServerCert, Pki.Key);
    auto h = Make(server.Port());
    std::vector<std::string> verified;
    h->OnVerifyPeer = [&](TNetX509 *cert, bool ok) {
        verified.push_back(cert->Subject()->OneLine() + (ok ? " ok" : " bad"));
        return ok;
    };
    h->Open();
    EXPECT_EQ(CipherReports(Status), 1);
    EXPECT_EQ(verified, (std::vector<std::string>{"/CN=Tarnwick Test CA ok", "/CN=localhost ok"}));
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
    h->WriteLn("BIG 10485760");
    EXPECT_EQ(h->ReadLn(), "+OK here it comes");
    TStringList lines;
    h->CaptureDotList(lines);
    ASSERT_EQ(lines.Count(), 104858);
    for (int i = 0; i < lines.Count(); ++i) {
        ASSERT_EQ(lines[i].size(), 98u) << "line " << i;
        ASSERT_EQ(std::stoi(lines[i].substr(0, 9)), i);
    }
    // The server leaves without close_notify: a graceful close, once the
    // last reply is read.
    h->WriteLn("QUIT");
    EXPECT_EQ(h->ReadLn(), "+OK bye");
    EXPECT_THROW(h->ReadLn(), ENetConnClosedGracefully);
    EXPECT_FALSE(h->Connected());
    EXPECT_EQ(h->SSLSocket(), nullptr);
}

TEST_F(SSLIOHandler, WritesGoThroughTheSession)
{
    OpenSSLServer server(Pki.ServerCert, Pki.Key, {"-rev"});
    auto h = Make(server.Port());
    h->Open();
    TStringList out;
    for (int i = 0; i < 200; ++i)
        out.Add(IntToStr(1000 + i) + std::string(1000, 'q'));
    h->Write(out);  // one buffered write of 200 KB
    for (int i = 0; i < 200; ++i) {
        std::string want = out[i];
        std::reverse(want.begin(), want.end());
        ASSERT_EQ(h->ReadLn(), want) << "line " << i;
    }
}

TEST_F(SSLIOHandler, StartTLSOnAPlainConnection)
{
    StartTLSServer server(StartTLSServer::Explicit, Pki.ServerCert, Pki.Key);
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
    EXPECT_EQ(CipherReports(Status), 0);
    h->SetPassThrough(false);
    EXPECT_EQ(CipherReports(Status), 1);
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
    StartTLSServer server(StartTLSServer::InjectAfterSTLS, Pki.ServerCert, Pki.Key);
    auto h = Make(server.Port());
    h->SetPassThrough(true);
    h->Open();
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
    h->WriteLn("STLS");
    EXPECT_EQ(h->ReadLn(), "+OK Begin TLS negotiation");
    std::string msg = Thrown<ENetOSSLConnectError>([&] { h->SetPassThrough(false); });
    EXPECT_EQ(msg.rfind("Error connecting with SSL. ", 0), 0u) << msg;
    EXPECT_FALSE(h->BindingAllocated());
    EXPECT_EQ(h->SSLSocket(), nullptr);
    EXPECT_TRUE(h->InputBufferIsEmpty());
    EXPECT_FALSE(h->Connected());
}

TEST_F(SSLIOHandler, RefusedServersEndTheConnection)
{
    const std::string failed = "Error connecting with SSL. Certificate verification failed: ";
    struct {
        std::string cert, key;
        std::vector<std::string> args;
        std::string want;
    } rows[] = {
        {Pki.WrongHostCert, Pki.Key, {}, failed + "hostname mismatch"},
        {Pki.ExpiredCert, Pki.Key, {}, failed + "certificate has expired"},
        {Pki.SelfSignedCert, Pki.SelfSignedKey, {}, failed + "self-signed certificate"},
        // TLS 1.0 is below the floor.
        {Pki.ServerCert, Pki.Key, {"-tls1", "-cipher", "DEFAULT@SECLEVEL=0"}, "protocol"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.want);
        OpenSSLServer server(r.cert, r.key, r.args);
        auto h = Make(server.Port());
        std::string msg = OpenRefused(*h);
        EXPECT_EQ(msg.rfind("Error connecting with SSL. ", 0), 0u) << msg;
        EXPECT_TRUE(r.want == "protocol" ? ContainsText(msg, r.want) : msg == r.want) << msg;
    }
    EXPECT_EQ(CipherReports(Status), 0);
}

TEST_F(SSLIOHandler, BrokenPeersFailWithinTheTimeout)
{
    for (auto mode : {BrokenTLSPeer::DropAfterHello, BrokenTLSPeer::SendGarbage, BrokenTLSPeer::Stall}) {
        BrokenTLSPeer peer(mode);
        auto h = Make(peer.Port());
        h->ConnectTimeout = 800;
        auto t0 = std::chrono::steady_clock::now();
        std::string msg = OpenRefused(*h);
        EXPECT_EQ(msg.rfind("Error connecting with SSL. ", 0), 0u) << msg;
        if (mode == BrokenTLSPeer::DropAfterHello) {
            EXPECT_EQ(msg, "Error connecting with SSL. The connection was closed during the handshake.");
        }
        EXPECT_LT(MsSince(t0), 3000) << msg;
        if (mode == BrokenTLSPeer::Stall) {
            EXPECT_EQ(msg, "Error connecting with SSL. The handshake timed out.");
        }
    }
}

TEST_F(SSLIOHandler, SilentServerTimesOutReads)
{
    OpenSSLServer server(Pki.ServerCert, Pki.Key);  // says nothing
    auto h = Make(server.Port());
    h->ReadTimeout = 300;
    h->Open();
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(h->ReadLn(), "");
    EXPECT_TRUE(h->ReadLnTimedOut());
    TNetBytes b;
    EXPECT_THROW(h->ReadBytes(b, 10, false), ENetReadTimeout);
    EXPECT_LT(MsSince(t0), 2000);
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
    OpenSSLServer server(Pki.ServerCert, Pki.Key);
    auto h = Make(server.Port());
    h->ReadTimeout = 300;
    h->Open();
    bool menuShown = false;
    Pump pump([&] {
        if (std::exchange(menuShown, true))
            return;
        server.Send("arrived meanwhile\n");
        usleep(700000);
    }, 20);
    EXPECT_EQ(h->ReadLn(), "arrived meanwhile");
    EXPECT_FALSE(h->ReadLnTimedOut());
    EXPECT_TRUE(menuShown);
}

TEST_F(SSLIOHandler, PeerThatFloodsKeyUpdatesStillTimesOut)
{
    // TLS 1.3 lets a server send key updates at any time; they carry no
    // data. A server that sends them without pause keeps the socket
    // readable at every look, and must not hold a read past its time-out.
    TNetSSLOptions opts;
    opts.CertFile = Pki.ServerCert;
    opts.KeyFile = Pki.Key;
    auto serverCtx = std::make_unique<TNetSSLContext>();
    serverCtx->CopyOptions(opts);
    serverCtx->InitContext(true);
    void *lib = dlopen("libssl.so.3", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(lib, nullptr);
    auto keyUpdate = reinterpret_cast<int (*)(SSL *, int)>(dlsym(lib, "SSL_key_update"));
    auto doHandshake = reinterpret_cast<int (*)(SSL *)>(dlsym(lib, "SSL_do_handshake"));
    ASSERT_TRUE(keyUpdate && doHandshake);
    int port = 0;
    int lfd = ListenLoopback(port);
    ASSERT_GE(lfd, 0);
    std::atomic<bool> stop{false};
    std::atomic<int> cfd{-1};
    std::thread server([&] {
        int fd = accept(lfd, nullptr, nullptr);
        cfd = fd;
        SSL *s = OSSL.SSL_new(serverCtx->Handle());
        OSSL.SSL_set_fd(s, fd);
        if (OSSL.SSL_accept(s) == 1 && OSSL.SSL_write(s, "+OK hi\r\n", 8) == 8) {
            // Bounded, so a client that never gives up ends the test too.
            auto until = std::chrono::steady_clock::now() + std::chrono::seconds(6);
            while (!stop && std::chrono::steady_clock::now() < until)
                if (keyUpdate(s, 0) != 1 || doHandshake(s) != 1)
                    break;
        }
        OSSL.SSL_free(s);
    });
    auto h = Make(port);
    h->ReadTimeout = 300;
    h->Open();
    EXPECT_EQ(h->ReadLn(), "+OK hi");
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(h->ReadLn(), "");
    long long spent = MsSince(t0);
    EXPECT_TRUE(h->ReadLnTimedOut());
    stop = true;
    shutdown(cfd, SHUT_RDWR);
    server.join();
    close(cfd);
    close(lfd);
    EXPECT_LT(spent, 3000);
}

TEST_F(SSLIOHandler, AnswerCutWithoutCloseNotifyIsNotComplete)
{
    // Whoever sits between may cut the connection after any record. A cut
    // behind a lone "." must not end a dot-terminated answer, nor a cut
    // behind part of a line give a last line; a cut between whole lines
    // ends the connection as it always did.
    for (std::string tail : {std::string("."), std::string("line2"), std::string()}) {
        auto server = std::make_unique<OpenSSLServer>(Pki.ServerCert, Pki.Key);
        auto h = Make(server->Port());
        h->Open();
        server->Send("+OK\r\nline1\r\n" + tail);
        EXPECT_EQ(h->ReadLn(), "+OK");
        server.reset();  // killed: no close_notify
        TStringList lines;
        try {
            h->CaptureDotList(lines);
            ADD_FAILURE() << "truncated answer taken as complete: \"" << tail << "\"";
        } catch (const ENetConnClosedGracefully &) {
            EXPECT_EQ(tail, "");
        } catch (const ENetOpenSSLError &e) {
            EXPECT_NE(tail, "");
            EXPECT_EQ(e.Message(), "TLS read failed: the connection was cut off in the middle of an answer.");
        }
        EXPECT_EQ(lines.Text(), "line1\r\n") << tail;
        EXPECT_FALSE(h->Connected());
        EXPECT_EQ(h->SSLSocket(), nullptr);
    }
}

TEST_F(SSLIOHandler, ServerThatRenegotiatesMidSession)
{
    // TLS 1.2 lets the server start a new handshake inside the session; the
    // read it lands in carries on with the data that follows.
    OpenSSLServer server(Pki.ServerCert, Pki.Key, {"-tls1_2"});
    auto h = Make(server.Port());
    h->Open();
    server.Send("before\n");
    EXPECT_EQ(h->ReadLn(), "before");
    // The server's new handshake waits for the client's read; "after" goes
    // in a console read of its own once that handshake is done.
    auto line = std::async(std::launch::async, [&] { return h->ReadLn(); });
    server.Send("r\n");
    EXPECT_TRUE(WaitUntil([&] { return Contains(server.Output(), "SSL_do_handshake -> 1"); }));
    server.Send("after\n");
    EXPECT_EQ(line.get(), "after");
    h->WriteLn("from the client");
    EXPECT_TRUE(WaitUntil([&] { return Contains(server.Output(), "from the client"); }));
}

TEST_F(SSLIOHandler, PeerThatStopsReadingEndsTheWrite)
{
    StartTLSServer server(StartTLSServer::Implicit, Pki.ServerCert, Pki.Key);
    auto h = Make(server.Port());
    h->ReadTimeout = 700;
    OpenStalled(*h);
    int pumped = 0;
    Pump pump([&] { ++pumped; }, 50);
    auto t0 = std::chrono::steady_clock::now();
    TNetBytes chunk(1 << 20, 'z');
    try {
        for (int i = 0; i < 256; ++i)  // far more than any socket buffer
            h->Write(chunk);
        ADD_FAILURE() << "the writes never stopped";
    } catch (const ENetSocketError &e) {
        EXPECT_EQ(e.LastError(), 10060);
    }
    EXPECT_LT(MsSince(t0), 10000);
    EXPECT_GE(pumped, 5);  // the window lived while the write waited
    EXPECT_FALSE(h->Connected());
}

TEST_F(SSLIOHandler, ClosedFromThePumpWhileWaiting)
{
    // A window event that disconnects while a read, a write or a handshake
    // waits: the wait ends with the connection closed, and nothing touches
    // the session that the close freed.
    Handler *target = nullptr;
    int pumped = 0;
    Pump pump([&] {
        if (target && ++pumped == 3)
            target->Close();
    }, 20);
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
        OpenSSLServer server(Pki.ServerCert, Pki.Key);  // says nothing
        auto h = Make(server.Port());
        h->Open();
        expectClosedDuring(*h, [&] { h->ReadLn(); });
    }
    {
        StartTLSServer server(StartTLSServer::Implicit, Pki.ServerCert, Pki.Key);
        auto h = Make(server.Port());
        OpenStalled(*h);
        TNetBytes chunk(1 << 20, 'z');
        expectClosedDuring(*h, [&] {
            for (int i = 0; i < 256; ++i)
                h->Write(chunk);
        });
    }
    BrokenTLSPeer peer(BrokenTLSPeer::Stall);
    auto h = Make(peer.Port());
    expectClosedDuring(*h, [&] { h->Open(); });
}

TEST_F(SSLIOHandler, StatusEventMayRunAnotherSessionInside)
{
    // An event handler that pumps the window can start another connection
    // while OpenSSL is still inside the first one's callback.
    StartTLSServer server(StartTLSServer::Implicit, Pki.ServerCert, Pki.Key);
    auto outer = Make(server.Port());
    auto inner = Make(server.Port());
    std::string innerGreeting;
    outer->OnStatusInfo = [&](const std::string &) {
        if (!innerGreeting.empty())
            return;
        inner->Open();
        innerGreeting = inner->ReadLn();
    };
    auto finished = std::async(std::launch::async, [&] { outer->Open(); });
    if (finished.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "the nested session never finished its handshake";
        std::fflush(nullptr);
        std::_Exit(1);  // the thread is stuck for good
    }
    finished.get();
    EXPECT_EQ(innerGreeting, "+OK test server ready");
    EXPECT_EQ(outer->ReadLn(), "+OK test server ready");
}

TEST_F(SSLIOHandler, NoEventsWhileTheHandlerGoes)
{
    // The events usually point into the form that owns the handler, and a
    // form frees its own fields before the components it owns.
    StartTLSServer server(StartTLSServer::Implicit, Pki.ServerCert, Pki.Key);
    auto h = Make(server.Port());
    auto log = std::make_unique<std::vector<std::string>>();
    h->OnStatusInfo = [&log](const std::string &m) { log->push_back(m); };
    h->Open();
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
    size_t seen = log->size();
    EXPECT_GT(seen, 0u);
    h->Close();
    EXPECT_EQ(log->size(), seen);
    h->Open();
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
    log.reset();  // the form's fields are gone; the handler is freed after
    h.reset();
}

TEST_F(SSLIOHandler, DecryptedBytesCountAsReadable)
{
    OpenSSLServer server(Pki.ServerCert, Pki.Key);
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

TEST_F(SSLIOHandler, ReconnectMakesAFreshContext)
{
    StartTLSServer server(StartTLSServer::Implicit, Pki.ServerCert, Pki.Key);
    auto h = Make(server.Port());
    h->Open();
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
    int contexts = TNetSSLContext::ContextCount();
    h->Close();
    EXPECT_EQ(h->SSLContext(), nullptr);
    // A changed option reaches the next connection's context.
    h->SSLOptions()->CipherList = "NO-SUCH-SUITE";
    EXPECT_THROW(h->Open(), ENetOSSLSettingCipherError);
    EXPECT_FALSE(h->BindingAllocated());
    h->SSLOptions()->CipherList = "";
    h->Open();
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
    EXPECT_EQ(TNetSSLContext::ContextCount(), contexts + 2);
}

TEST_F(SSLIOHandler, MissingLibraryFailsWithoutFallingBackToPlain)
{
    StartTLSServer server(StartTLSServer::Implicit, Pki.ServerCert, Pki.Key);
    UnloadOpenSSLLibrary();
    SetOpenSSLLibraryNames("libssl-gone.so.3", "libcrypto-gone.so.3");
    auto h = Make(server.Port());
    std::string msg = Thrown<ENetOSSLCouldNotLoadSSLLibrary>([&] { h->Open(); });
    EXPECT_EQ(msg.rfind("Could not load SSL library.", 0), 0u) << msg;
    EXPECT_FALSE(h->BindingAllocated());

    // A plain session works without the libraries; starting TLS on it then
    // reports them missing and leaves the handler in pass-through.
    StartTLSServer plain(StartTLSServer::Explicit, Pki.ServerCert, Pki.Key);
    h->SetPort(plain.Port());
    h->SetPassThrough(true);
    h->Open();
    EXPECT_EQ(h->SSLContext(), nullptr);
    EXPECT_EQ(h->ReadLn(), "+OK test server ready");
    h->WriteLn("NOOP");
    EXPECT_EQ(h->ReadLn(), "+OK plain");
    EXPECT_EQ(Thrown<ENetOSSLCouldNotLoadSSLLibrary>([&] { h->SetPassThrough(false); }),
              "Could not load SSL library. libcrypto-gone.so.3: cannot open shared object file: No such file or "
              "directory");
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

TEST_F(SSLIOHandler, ServerSideServesOpenSSLClient)
{
    auto server = NetCreateNoOwner<TNetServerIOHandlerSSLOpenSSL>();
    server->SSLOptions()->CertFile = Pki.ServerCert;
    server->SSLOptions()->KeyFile = Pki.Key;
    server->OnStatusInfo = [&](const std::string &m) { Status.push_back(m); };
    server->Init();
    EXPECT_EQ(server->SSLContext()->Mode, sslmServer);

    int port = 0;
    int listener = ListenLoopback(port);
    OpenSSLClient client(port, {"-servername", "localhost"});
    std::unique_ptr<TNetIOHandler> accepted(server->Accept(listener));
    auto *peer = dynamic_cast<Handler *>(accepted.get());
    ASSERT_NE(peer, nullptr);
    EXPECT_TRUE(peer->IsPeer());
    EXPECT_TRUE(peer->PassThrough());
    EXPECT_EQ(peer->SSLContext(), server->SSLContext());

    peer->SetPassThrough(false);  // the server handshake
    EXPECT_EQ(CipherReports(Status), 1);
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
