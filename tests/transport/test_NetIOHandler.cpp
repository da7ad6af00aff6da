// The IO handlers against a scripted peer on loopback and over streams.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "NetIOHandlerStack.h"
#include "NetIntercept.h"
#include "NetIOHandlerStream.h"
#include "ScriptedPeer.h"
#include "TransportTestUtil.h"

namespace {
using Steps = std::vector<std::string>;
std::string S(const std::string &b) { return ScriptedPeer::Send(b); }

// The bytes sent times times, 50 ms apart.
Steps Trickle(const std::string &bytes, int times) {
    Steps steps;
    for (int i = 0; i < times; ++i) {
        steps.push_back(S(bytes));
        steps.push_back("sleep:50");
    }
    return steps;
}

std::unique_ptr<TNetIOHandlerStack> OpenTo(int port, int readTimeout = 3000) {
    auto h = NetCreateNoOwner<TNetIOHandlerStack>();
    h->SetHost("127.0.0.1");
    h->SetPort(port);
    h->ReadTimeout = readTimeout;
    h->Open();
    return h;
}
}  // namespace

TEST(NetBuffer, ChecksAndExtraction) {
    int removed = 0;
    TNetBuffer b([&](int n) { removed += n; });
    EXPECT_EQ(b.IndexOf("x"), -1);  // empty buffer
    b.WriteString("hello world");
    EXPECT_EQ(b.IndexOf("o", 5), 7);
    EXPECT_EQ(Thrown<ENetException>([&] { b.IndexOf(""); }), "Buffer terminator must be specified.");
    EXPECT_EQ(Thrown<ENetException>([&] { b.IndexOf("o", 11); }), "Buffer start position is invalid.");
    EXPECT_EQ(Thrown<ENetNotEnoughDataInBuffer>([&] { b.ExtractToString(12); }), "Not enough data in buffer. (12/11)");
    EXPECT_EQ(b.PeekByte(0), 'h');
    EXPECT_THROW(b.PeekByte(11), ENetException);
    EXPECT_EQ(b.ExtractToString(6), "hello ");
    EXPECT_EQ(removed, 6);
    TNetBytes copy;
    b.ExtractToBytes(copy, 3, true, 1);  // copy, not removed
    EXPECT_EQ(BytesToString(copy), "orl");
    EXPECT_EQ(b.Size(), 5);
    b.Clear();
    EXPECT_THROW(b.PeekByte(0), ENetException);
    // Long runs of small extractions stay consistent across compactions.
    std::string all;
    for (int i = 0; i < 5000; ++i) b.WriteString(std::to_string(i) + "\n");
    for (int i = 0; i < 5000; ++i) {
        int p = b.IndexOf("\n");
        ASSERT_EQ(b.ExtractToString(p), std::to_string(i));
        b.ExtractToString(1);
        if (i % 7 == 0) b.WriteString("");
    }
    EXPECT_EQ(b.Size(), 0);
}

TEST(NetIOHandler, LineEndingsAndSplitsAcrossReceives) {
    ScriptedPeer peer({S("abc\r\nabc\nabc\r\r\n"), S("ab\r"), "sleep:60", S("\nxy"), "sleep:60", S("\n"),
                       S("12E"), "sleep:60", S("ND34EN"), "sleep:60", S("D"), S("tail\r"), "sleep:60",
                       S("\r\n"), "close"});
    auto h = OpenTo(peer.Port());
    EXPECT_EQ(h->ReadLn(), "abc");
    EXPECT_EQ(h->ReadLn(), "abc");
    EXPECT_EQ(h->ReadLn(), "abc\r");
    EXPECT_EQ(h->ReadLn(), "ab");  // CR and LF in different receives
    EXPECT_EQ(h->ReadLn(), "xy");
    EXPECT_EQ(h->ReadLn("END"), "12");  // terminator cut across receives
    EXPECT_EQ(h->ReadLn("END"), "34");
    EXPECT_EQ(h->ReadLn(), "tail\r");
    EXPECT_THROW(h->ReadLn(), ENetConnClosedGracefully);
}

TEST(NetIOHandler, MaxLineLengthBoundary) {
    std::string ok(16384, 'a'), over(16385, 'b');
    ScriptedPeer peer({S(ok + "\r\n" + over + "\r\n" + over + "\r\n"), "wait_close"});
    auto h = OpenTo(peer.Port());
    EXPECT_EQ(h->ReadLn(), ok);
    EXPECT_THROW(h->ReadLn(), ENetReadLnMaxLineLengthExceeded);
    // The line that raised is still buffered; a split read takes it in two.
    bool split = false;
    EXPECT_EQ(h->ReadLnSplit(split), std::string(16384, 'b'));
    EXPECT_TRUE(split);
    EXPECT_EQ(h->MaxLineAction, maException);  // restored after the one call
    EXPECT_EQ(h->ReadLn(), "b");
    h->MaxLineAction = maSplit;
    EXPECT_EQ(h->ReadLn(), std::string(16384, 'b'));
    EXPECT_TRUE(h->ReadLnSplit());
    EXPECT_EQ(h->ReadLn(), "b");
    EXPECT_FALSE(h->ReadLnSplit());
}

TEST(NetIOHandler, OverlongLineIsSeenWithoutWaitingForMore) {
    // One byte past the maximum is enough to know the line is too long; a CR
    // or the start of a longer terminator there is not.
    ScriptedPeer peer({S(std::string(8, 'a') + "\r"), "sleep:400", S("\n" + std::string(9, 'b')), "sleep:400",
                       S("\n" + std::string(8, 'c') + "EN"), "sleep:400", S("D" + std::string(8, 'd') + "EX"),
                       "wait_close"});
    auto h = OpenTo(peer.Port(), 3000);
    h->MaxLineLength = 8;
    h->MaxLineAction = maSplit;
    EXPECT_EQ(h->ReadLn(), std::string(8, 'a'));  // waited for the LF after the CR
    EXPECT_FALSE(h->ReadLnSplit());
    uint32_t t0 = TicksNow();
    EXPECT_EQ(h->ReadLn(), std::string(8, 'b'));  // the peer is silent: no waiting
    EXPECT_TRUE(h->ReadLnSplit());
    EXPECT_LT(TicksDiff(t0, TicksNow()), 250u);
    EXPECT_EQ(h->ReadLn(), "b");
    EXPECT_EQ(h->ReadLn("END"), std::string(8, 'c'));
    EXPECT_FALSE(h->ReadLnSplit());
    h->MaxLineAction = maException;
    EXPECT_THROW(h->ReadLn("END"), ENetReadLnMaxLineLengthExceeded);
}

TEST(NetIOHandler, SilentPeerTimesOut) {
    ScriptedPeer peer({S("partial"), "sleep:3000"});
    auto h = OpenTo(peer.Port(), 300);
    uint32_t t0 = TicksNow();
    EXPECT_EQ(h->ReadLn(), "");
    EXPECT_TRUE(h->ReadLnTimedOut());
    EXPECT_LT(TicksDiff(t0, TicksNow()), 1500u);
    EXPECT_EQ(h->InputBuffer()->Size(), 7);  // kept for a later read
    // Where a blank line would be taken as an answer, silence is an error.
    EXPECT_THROW(h->ReadLnWait(), ENetReadTimeout);
    TStringList lines;
    EXPECT_THROW(h->Capture(lines), ENetReadTimeout);
    TNetBytes b;
    EXPECT_EQ(Thrown<ENetReadTimeout>([&] { h->ReadBytes(b, 100); }), "Read Timeout");
    // An explicit time-out bounds a single line too.
    t0 = TicksNow();
    EXPECT_EQ(h->ReadLn("\n", 100), "");
    EXPECT_LT(TicksDiff(t0, TicksNow()), 1000u);
}

TEST(NetIOHandler, TimeOutValues) {
    // 0: one look, no wait; -2: no limit whatever ReadTimeout says; a
    // ReadTimeout of 0: no limit either.
    ScriptedPeer peer({"readline", S("x"), "sleep:600", S("y\n"), "readline", "sleep:600", S("z\n"), "wait_close"});
    auto h = OpenTo(peer.Port(), 200);
    uint32_t t0 = TicksNow();
    EXPECT_EQ(h->ReadLn("\n", 0), "");
    EXPECT_TRUE(h->ReadLnTimedOut());
    EXPECT_LT(TicksDiff(t0, TicksNow()), 100u);
    h->WriteLn("go");
    EXPECT_EQ(h->ReadLn("\n", -2), "xy");
    EXPECT_FALSE(h->ReadLnTimedOut());
    EXPECT_GE(TicksDiff(t0, TicksNow()), 500u);
    h->ReadTimeout = 0;
    h->WriteLn("go");
    EXPECT_EQ(h->ReadLn(), "z");
}

TEST(NetIOHandler, TricklingPeersCannotHoldAReadOpen) {
    // A line that never ends, and a wait for a reply that only ever gets
    // blank lines: both end at ReadTimeout although bytes keep coming.
    {
        ScriptedPeer peer(Trickle("x", 40));
        auto h = OpenTo(peer.Port(), 400);
        uint32_t t0 = TicksNow();
        EXPECT_EQ(h->ReadLn(), "");
        EXPECT_TRUE(h->ReadLnTimedOut());
        EXPECT_LT(TicksDiff(t0, TicksNow()), 1200u);
    }
    {
        ScriptedPeer peer(Trickle("\r\n", 60));
        auto h = OpenTo(peer.Port(), 400);
        uint32_t t0 = TicksNow();
        EXPECT_THROW(h->ReadLnWait(), ENetReadTimeout);
        EXPECT_LT(TicksDiff(t0, TicksNow()), 1200u);
    }
}

TEST(NetIOHandler, TricklingPeersCannotHoldAnAnswerOpen) {
    // Bytes of a fixed count, or short lines that each end in time: the
    // answer as a whole ends at ReadTimeout (and another per 16 KB it
    // brought), not after every byte or line has had a ReadTimeout of its own.
    {
        ScriptedPeer peer(Trickle("x", 100));
        auto h = OpenTo(peer.Port(), 400);
        uint32_t t0 = TicksNow();
        TNetBytes b;
        EXPECT_THROW(h->ReadBytes(b, 100), ENetReadTimeout);
        EXPECT_LT(TicksDiff(t0, TicksNow()), 1200u);
    }
    {
        Steps steps = Trickle("x\r\n", 60);
        steps.push_back(S(".\r\n"));
        ScriptedPeer peer(steps);
        auto h = OpenTo(peer.Port(), 400);
        uint32_t t0 = TicksNow();
        TStringList lines;
        EXPECT_THROW(h->Capture(lines), ENetReadTimeout);
        EXPECT_LT(TicksDiff(t0, TicksNow()), 1200u);
    }
    {
        Steps steps = Trickle("x", 60);
        steps.push_back("close");
        ScriptedPeer peer(steps);
        auto h = OpenTo(peer.Port(), 400);
        uint32_t t0 = TicksNow();
        EXPECT_THROW(h->AllData(), ENetReadTimeout);
        EXPECT_LT(TicksDiff(t0, TicksNow()), 1200u);
    }
    {
        // A command written starts a new answer with a time of its own.
        ScriptedPeer peer({S("a\r\n"), "readline", "sleep:600", S("b\r\n"), "readline", "sleep:600", S("c\r\n"),
                           "wait_close"});
        auto h = OpenTo(peer.Port(), 1000);
        EXPECT_EQ(h->ReadLn(), "a");
        h->WriteLn("next");
        EXPECT_EQ(h->ReadLn(), "b");
        h->WriteLn("next");
        EXPECT_EQ(h->ReadLn(), "c");
    }
}

TEST(NetIOHandler, SlowButRealTransfersAndThePumpDoNotCountAgainstTheAnswer) {
    // 96 KB in 16 KB pieces, one piece a little faster than ReadTimeout:
    // every piece earns the answer more time.
    {
        Steps steps;
        for (int i = 0; i < 6; ++i) {
            steps.push_back(ScriptedPeer::SendRepeated(16384, "y"));
            steps.push_back("sleep:150");
        }
        ScriptedPeer peer(steps);
        auto h = OpenTo(peer.Port(), 400);
        TNetBytes b;
        h->ReadBytes(b, 6 * 16384);
        EXPECT_EQ(b.size(), size_t(6 * 16384));
    }
    {
        // The user held a menu open (the pump ran 1.5 s) while the answer
        // began: that time is not the peer's.
        TNetAntiFreeze::SetProcessMessagesHook([](bool) {});
        auto af = NetCreateNoOwner<TNetAntiFreeze>();
        af->IdleTimeOut = 20;
        bool held = false;
        TNetAntiFreeze::SetProcessMessagesHook([&](bool) {
            if (!held) {
                held = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            }
        });
        ScriptedPeer peer({"sleep:100", S("a\r\n"), "sleep:1700", S("b\r\n"), "wait_close"});
        auto h = OpenTo(peer.Port(), 1000);
        EXPECT_EQ(h->ReadLn(), "a");
        EXPECT_EQ(h->ReadLn(), "b");
        EXPECT_FALSE(h->ReadLnTimedOut());
        af.reset();
        TNetAntiFreeze::SetProcessMessagesHook(nullptr);
    }
}

TEST(NetIOHandler, PeerThatStopsReadingEndsTheWrite) {
    // A server that never reads what we send fills the socket's buffers: the
    // write then ends at ReadTimeout, with the window kept alive meanwhile,
    // instead of blocking the program. The server is a listening socket that
    // never accepts, with a small receive buffer, so the kernel cannot go on
    // taking data little by little (a peer that merely sleeps lets it trickle
    // in for seconds on a loaded machine).
    int srv = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(srv, 0);
    int small = 4096;
    setsockopt(srv, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(srv, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(listen(srv, 1), 0);
    socklen_t len = sizeof a;
    ASSERT_EQ(getsockname(srv, reinterpret_cast<sockaddr *>(&a), &len), 0);

    TNetAntiFreeze::SetProcessMessagesHook([](bool) {});
    auto af = NetCreateNoOwner<TNetAntiFreeze>();
    af->IdleTimeOut = 20;
    int pumped = 0;
    TNetAntiFreeze::SetProcessMessagesHook([&](bool) { ++pumped; });
    auto h = OpenTo(ntohs(a.sin_port), 400);
    uint32_t t0 = TicksNow();
    try {
        h->Write(std::string(size_t(64) << 20, 'x'));
        ADD_FAILURE() << "the write to a server that never reads succeeded";
    } catch (const ENetSocketError &e) {
        EXPECT_EQ(e.LastError(), Net_WSAETIMEDOUT);
    }
    EXPECT_LT(TicksDiff(t0, TicksNow()), 20000u);
    EXPECT_GT(pumped, 5);
    EXPECT_FALSE(h->Connected());
    af.reset();
    TNetAntiFreeze::SetProcessMessagesHook(nullptr);
    close(srv);
}

// Closing is the owner's word: whatever the peer sent and nobody read
// belongs to a conversation that is over, open socket or not.
TEST(NetIOHandler, CloseLeavesItNotConnectedWhateverIsBuffered) {
    {
        ScriptedPeer peer({S("one\r\ntwo\r\n"), "sleep:2000"});
        auto h = OpenTo(peer.Port());
        EXPECT_EQ(h->ReadLn(), "one");
        EXPECT_TRUE(h->Connected());
        h->Close();
        EXPECT_FALSE(h->Connected());
        EXPECT_TRUE(h->InputBufferIsEmpty());
        EXPECT_THROW(h->ReadLn(), ENetConnClosedGracefully);
    }
    {
        // The peer went first: its last line stays readable until the owner
        // closes, and the intercept hears of the close once.
        ScriptedPeer peer({S("one\r\ntwo\r\n"), "close"});
        auto h = OpenTo(peer.Port());
        auto icpt = NetCreateNoOwner<TNetConnectionIntercept>();
        int closings = 0;
        icpt->OnDisconnect = [&](TNetConnectionIntercept *) { ++closings; };
        h->SetIntercept(icpt.get());
        EXPECT_EQ(h->ReadLn(), "one");
        NetSleep(100);
        EXPECT_TRUE(h->Connected());
        EXPECT_FALSE(h->Opened());
        EXPECT_EQ(closings, 1);
        h->Close();
        EXPECT_FALSE(h->Connected());
        EXPECT_EQ(closings, 1);
        h->SetIntercept(nullptr);
    }
    {
        // Read to the end instead: connected until the last line is taken.
        ScriptedPeer peer({S("one\r\ntwo\r\n"), "close"});
        auto h = OpenTo(peer.Port());
        EXPECT_EQ(h->ReadLn(), "one");
        NetSleep(100);
        EXPECT_TRUE(h->Connected());
        EXPECT_EQ(h->ReadLn(), "two");
        EXPECT_FALSE(h->Connected());
        EXPECT_EQ(Thrown<ENetConnClosedGracefully>([&] { h->ReadLn(); }), "Connection Closed Gracefully.");
    }
}

TEST(NetIOHandler, ResetPeerIsNotConnected) {
    ScriptedPeer peer({"readline", "reset"});
    auto h = OpenTo(peer.Port());
    h->WriteLn("hi");
    NetSleep(200);
    EXPECT_FALSE(h->Connected());
    EXPECT_FALSE(h->BindingAllocated());
}

TEST(NetIOHandler, CaptureAndReadLnWait) {
    ScriptedPeer peer({S("\r\n  \r\n+OK ready\r\na\r\n..b\r\n .\r\n.\r\nafter\r\n"), S("1\r\n2\r\n3\r\n.\r\n"),
                       "wait_close"});
    auto h = OpenTo(peer.Port());
    EXPECT_EQ(h->ReadLnWait(), "+OK ready");
    TStringList lines;
    int count = 0;
    h->Capture(lines, count);
    EXPECT_EQ(lines, (TStringList{"a", ".b", " ."}));
    EXPECT_EQ(count, 3);
    EXPECT_EQ(h->ReadLn(), "after");
    h->MaxCapturedLines = 2;
    TStringList more;
    EXPECT_EQ(Thrown<ENetMaxCaptureLineExceeded>([&] { h->Capture(more); }), "Maximum number of line allowed exceeded");
    EXPECT_EQ(more.Count(), 2);  // exactly the maximum was stored
}

TEST(NetIOHandler, BytesIntegersStreamsAndAllData) {
    std::string prefix("\x00\x00\x00\x05", 4);
    ScriptedPeer peer({S(std::string("\x01\x02\x03\x04", 4) + "abcdefgh" + prefix + "HELLO" + "rest"),
                       "sleep:50", S("-and-final-partial"), "close"});
    auto h = OpenTo(peer.Port());
    EXPECT_EQ(h->ReadInteger(), 0x01020304);
    TNetBytes b;
    h->ReadBytes(b, 3);
    h->ReadBytes(b, 5);  // appended
    EXPECT_EQ(BytesToString(b), "abcdefgh");
    TMemoryStream s;
    h->ReadStream(s);  // size prefix in network order
    EXPECT_EQ(s.DataString(), "HELLO");
    TMemoryStream rest;
    h->ReadStream(rest, -1, true);  // until the peer closes, last chunk kept
    EXPECT_EQ(rest.DataString(), "rest-and-final-partial");
}

TEST(NetIOHandler, StreamCountLongerThanData) {
    // A peer announcing far more than it sends: no huge pre-grown stream, a
    // clean error when it closes.
    ScriptedPeer peer({S(std::string("\x7f\xff\xff\xff", 4) + "tiny"), "close"});
    auto h = OpenTo(peer.Port());
    TMemoryStream s;
    EXPECT_THROW(h->ReadStream(s), ENetConnClosedGracefully);
    EXPECT_EQ(s.Size(), 4);
}

TEST(NetIOHandler, WritesAndWriteBuffering) {
    ScriptedPeer peer({"wait_close"});
    auto h = OpenTo(peer.Port());
    h->Write(std::string());
    h->WriteLn();
    h->WriteLn("USER me");
    h->Write(int32_t(0x41424344));
    h->WriteBufferOpen(0);
    h->Write("held");
    NetSleep(50);
    h->WriteBufferFlush();
    h->WriteBufferOpen(4);
    h->Write("abcdef");  // the threshold's worth goes out at once
    h->WriteBufferCancel();  // "ef" is dropped
    TStringList l{"x", "y"};
    h->Write(l, true);
    TStringStream st("streamdata");
    h->Write(st, 0, true);
    // A list written inside the caller's buffering leaves it open.
    h->WriteBufferOpen(-1);
    h->Write("pre:");
    h->Write(TStringList{"a", "b"});
    EXPECT_TRUE(h->WriteBufferingActive());
    h->Write("post");
    h->WriteBufferClose();
    h->Close();
    std::string want = std::string("\r\nUSER me\r\nABCDheldabcd") + std::string("\x00\x00\x00\x02", 4) +
                       "x\r\ny\r\n" + std::string("\x00\x00\x00\x0a", 4) + "streamdata" + "pre:a\r\nb\r\npost";
    EXPECT_EQ(peer.Received(), want);
}

TEST(NetIOHandler, DestinationTexts) {
    auto h = NetCreateNoOwner<TNetIOHandlerStack>();
    h->DefaultPort = 110;
    struct Case {
        const char *dest, *host;
        int port;
        const char *back;
    } cases[] = {{"host:8110", "host", 8110, "host:8110"},
                 {"other:", "other", 110, "other"},
                 {"[::1]:25", "[::1]", 25, "[::1]:25"},
                 {"nocolon", "[::1]", 25, "[::1]:25"}};  // ignored
    for (const Case &c : cases) {
        SCOPED_TRACE(c.dest);
        h->SetDestination(c.dest);
        EXPECT_EQ(h->Host(), c.host);
        EXPECT_EQ(h->Port(), c.port);
        EXPECT_EQ(h->GetDestination(), c.back);
    }
}

TEST(NetTimedConnect, FailedOpensCloseTheHandlerAndLeakNoDescriptor) {
    auto h = NetCreateNoOwner<TNetIOHandlerStack>();
    h->SetHost("127.0.0.1");
    h->SetPort(RefusingPort());
    h->ConnectTimeout = 5000;
    int before = OpenDescriptorCount();
    uint32_t t0 = TicksNow();
    ExpectSocketError([&] { h->Open(); }, 10061, "Connection refused.");
    EXPECT_LT(TicksDiff(t0, TicksNow()), 1000u);
    EXPECT_FALSE(h->Opened());
    EXPECT_FALSE(h->BindingAllocated());
    for (int i = 0; i < 200; ++i) EXPECT_THROW(h->Open(), ENetSocketError);
    // A local port that is taken fails at the bind, after the socket is made.
    LoopbackListener taken;
    h->BoundIP = "127.0.0.1";
    h->BoundPort = taken.port;
    for (int i = 0; i < 20; ++i) EXPECT_THROW(h->Open(), ENetCouldNotBindSocket);
    h->BoundIP.clear();
    h->BoundPort = 0;
    h->SetHost("no-such-host.invalid");
    for (int i = 0; i < 3; ++i) EXPECT_THROW(h->Open(), ENetSocketError);
    EXPECT_FALSE(h->BindingAllocated());
    EXPECT_EQ(OpenDescriptorCount(), before + 1);  // the listener only
}

TEST(NetTimedConnect, NeverAcceptingPortTimesOutWhileQtRuns) {
    // A listener whose backlog is full drops further SYNs: the connect hangs.
    LoopbackListener l(false, 0);
    std::vector<int> fillers;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(l.port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(fillers.back(), reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    NetSleep(100);
    GuiAntiFreeze gui;
    TickCounter tick;
    auto h = NetCreateNoOwner<TNetIOHandlerStack>();
    h->SetHost("127.0.0.1");
    h->SetPort(l.port);
    h->ConnectTimeout = 1000;
    uint32_t t0 = TicksNow();
    EXPECT_EQ(Thrown<ENetConnectTimeout>([&] { h->Open(); }), "Connect timed out.");
    EXPECT_GE(TicksDiff(t0, TicksNow()), 990u);
    EXPECT_LE(TicksDiff(t0, TicksNow()), 1250u);
    EXPECT_GE(tick.Ticks, 15);  // about 50; a frozen loop gives 0 or 1
    EXPECT_FALSE(h->BindingAllocated());
    for (int fd : fillers) ::close(fd);
}

TEST(NetIOHandlerStream, LinesFromStreamsAndOwnership) {
    auto *in = new TStringStream("a\r\nb\nlast");
    auto *out = new TMemoryStream();
    auto h = NetCreateNoOwner<TNetIOHandlerStream>(in, out);
    h->FreeStreams = false;
    h->Open();
    EXPECT_TRUE(h->Readable());
    EXPECT_EQ(h->ReadLn(), "a");
    EXPECT_EQ(h->ReadLn(), "b");
    EXPECT_EQ(h->ReadLn(), "last");  // no final LF: the rest, no waiting
    EXPECT_THROW(h->ReadLn(), ENetConnClosedGracefully);
    int before = h->InputBuffer()->Size();
    EXPECT_EQ(h->ReadFromSource(), 0);
    EXPECT_EQ(h->InputBuffer()->Size(), before);
    h->WriteLn("saved");
    h->Close();
    EXPECT_EQ(out->DataString(), "saved\r\n");  // still usable by the caller
    delete in;
    delete out;

    auto readOnly = NetCreateNoOwner<TNetIOHandlerStream>(new TStringStream("a\r\n..b\r\n.\r\n"));
    readOnly->Open();
    readOnly->MaxCapturedLines = 2;
    TStringList captured;
    readOnly->CaptureDotList(captured);  // exactly the maximum is allowed
    EXPECT_EQ(captured, (TStringList{"a", ".b"}));
    readOnly->Close();  // frees the stream (checked by the sanitizers)
    EXPECT_EQ(readOnly->ReceiveStream(), nullptr);
    EXPECT_THROW(readOnly->CheckForDisconnect(true), ENetConnClosedGracefully);
}

TEST(NetIOHandler, WaitsHandTheApplicationItsEventsEvenWhileDataKeepsComing) {
    TNetAntiFreeze::SetProcessMessagesHook([](bool) {});
    auto af = NetCreateNoOwner<TNetAntiFreeze>();
    ASSERT_EQ(af->IdleTimeOut, 250);
    int pumps = 0;
    TNetAntiFreeze::SetProcessMessagesHook([&](bool) { ++pumps; });
    TNetAntiFreeze::SetLongestPause(20);
    {
        // A line every 10 ms: every wait ends with data, none is idle, yet
        // the application gets its events about every 20 ms.
        Steps steps;
        for (int i = 0; i < 40; ++i) {
            steps.push_back(S("x\r\n"));
            steps.push_back("sleep:10");
        }
        steps.push_back("wait_close");
        ScriptedPeer peer(steps);
        auto h = OpenTo(peer.Port(), 3000);
        pumps = 0;
        for (int i = 0; i < 40; ++i) ASSERT_EQ(h->ReadLn(), "x");
        EXPECT_GE(pumps, 5);
    }
    {
        // A server that thinks for 300 ms: with the longest pause shorter
        // than the idle time-out the wait looks up in its slices.
        ScriptedPeer peer({"sleep:300", S("late\r\n"), "wait_close"});
        auto h = OpenTo(peer.Port(), 3000);
        pumps = 0;
        EXPECT_EQ(h->ReadLn(), "late");
        EXPECT_GE(pumps, 4);
    }
    TNetAntiFreeze::SetLongestPause(0);
    EXPECT_EQ(TNetAntiFreeze::LongestPause(), 0);
    af.reset();
    TNetAntiFreeze::SetProcessMessagesHook(nullptr);
}
