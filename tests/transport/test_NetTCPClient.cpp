// The TCP client and its replies against scripted peers on loopback. Real
// servers talk to it in the mail protocol tests.
#include <gtest/gtest.h>

#include "NetIOHandlerStack.h"
#include "NetTCPClient.h"
#include "ScriptedPeer.h"
#include "TransportTestUtil.h"

namespace {
std::string S(const std::string &b) { return ScriptedPeer::Send(b); }

class TTestClient : public TNetTCPClient {
public:
    std::vector<std::string> events;
    bool sayGoodbye = false;
    void DisconnectNotifyPeer() override {
        if (sayGoodbye) SendCmd("QUIT", {221});
    }

protected:
    using TNetTCPClient::TNetTCPClient;
};

std::unique_ptr<TTestClient> ClientTo(int port) {
    auto c = NetCreateNoOwner<TTestClient>();
    c->SetHost("127.0.0.1");
    c->SetPort(port);
    c->SetReadTimeout(3000);
    auto *raw = c.get();
    c->OnStatus = [raw](TNetComponent *, TNetStatus, const std::string &t) { raw->events.push_back(t); };
    c->OnConnected = [raw](TNetTCPClientCustom *) { raw->events.push_back("OnConnected"); };
    c->OnDisconnected = [raw](TNetTCPConnection *) { raw->events.push_back("OnDisconnected"); };
    return c;
}
}  // namespace

TEST(NetReplyRFC, FormatsAndCodes) {
    TNetReplyRFC r;
    r.SetFormattedReply(TStringList{"250-first", "250-second", "250 last"});
    EXPECT_EQ(r.Code(), "250");
    EXPECT_EQ(r.Text, (TStringList{"first", "second", "last"}));
    EXPECT_EQ(r.GetFormattedReply(), (TStringList{"250-first", "250-second", "250 last"}));
    r.SetFormattedReply(TStringList{"250"});
    EXPECT_EQ(r.Text, (TStringList{""}));
    EXPECT_TRUE(r.IsLastLine("250"));
    EXPECT_FALSE(r.IsLastLine("250+x"));
    EXPECT_EQ(Thrown<ENetException>([&] { r.SetCode("99"); }), "Reply Code is not valid: 99");
    EXPECT_THROW(r.SetCode("1000"), ENetException);
    EXPECT_THROW(r.SetFormattedReply(TStringList{"+OK ready"}), ENetException);
    r.SetCode(" ");  // blank codes are allowed
    r.SetReply(550, "no such\r\nthing");
    EXPECT_EQ(r.GetFormattedReply(), (TStringList{"550-no such", "550 thing"}));
    TNetReplyRFC codeless;
    codeless.Text.Add("x");
    EXPECT_EQ(codeless.GetFormattedReply(), (TStringList{"x"}));

    // Copies carry the code and the lines; an empty reply copies as empty.
    TNetReplyRFC copy;
    r.AssignTo(copy);
    EXPECT_EQ(copy.NumericCode(), 550);
    EXPECT_EQ(copy.Text, r.Text);
    TNetReplyRFC empty;
    EXPECT_NO_THROW(empty.AssignTo(copy));
    EXPECT_EQ(copy.Code(), "");
    EXPECT_EQ(copy.Text.Count(), 0);

    TNetReplies set;
    TNetReplyRFC a(&set), b(&set);
    a.SetCode("200");
    EXPECT_EQ(Thrown<ENetException>([&] { b.SetCode("200"); }), "Reply already exists for 200");
}

TEST(NetTCPClient, CommandsRepliesAndStatus) {
    ScriptedPeer peer({S("\r\n220 hello\r\n"), "readline", S("250-first\r\n250-second\r\n250 last\r\n"),
                       "readline", S("250-x\r\n251 y\r\n"), "readline", S("550 nope\r\n"), "readline",
                       S("+ok fine\r\n"), "readline", S("221 bye\r\n"), "wait_close"});
    auto c = ClientTo(peer.Port());
    c->Connect();
    EXPECT_EQ(c->events, (std::vector<std::string>{"Connecting to 127.0.0.1.", "Connected.", "OnConnected"}));
    EXPECT_EQ(Thrown<ENetAlreadyConnected>([&] { c->Connect(); }), "Already connected.");
    EXPECT_TRUE(c->Connected());
    EXPECT_EQ(c->GetResponse({220}), 220);  // the blank line first is skipped
    EXPECT_EQ(c->SendCmd("EHLO me", {250}), 250);
    EXPECT_EQ(c->LastCmdResult()->Text, (TStringList{"first", "second", "last"}));
    EXPECT_EQ(c->SendCmdOneCode("X"), 250);  // ends at "251 y", code of the first line
    EXPECT_EQ(c->LastCmdResult()->Text, (TStringList{"x", "y"}));
    try {
        c->SendCmdOneCode("DELE 1", 250);
        FAIL();
    } catch (const ENetReplyRFCError &e) {
        EXPECT_EQ(e.ErrorCode(), 550);
        EXPECT_EQ(e.Message(), "nope");
    }
    // An accepted text compares without regard to case; the reply class
    // here is a plain one so that "+ok" is a valid code.
    c->LastCmdResult()->Clear();
    c->IOHandler()->WriteLn("NOOP");
    EXPECT_EQ(c->IOHandler()->ReadLn(), "+ok fine");
    EXPECT_EQ(c->CheckResponse(std::string("+ok"), std::string("+OK")), "+ok");
    c->sayGoodbye = true;
    c->events.clear();
    c->DisconnectAndNotify();
    EXPECT_EQ(c->events, (std::vector<std::string>{"Disconnecting.", "OnDisconnected", "Disconnected."}));
    EXPECT_FALSE(c->Connected());
    std::string got = peer.Received();
    EXPECT_NE(got.find("EHLO me\r\nX\r\nDELE 1\r\nNOOP\r\nQUIT\r\n"), std::string::npos) << got;
}

TEST(NetTCPClient, ConnectPreconditionsAndNeverOpened) {
    auto c = NetCreateNoOwner<TTestClient>();
    EXPECT_THROW(c->Connect(), ENetHostRequired);
    c->SetHost("127.0.0.1");
    EXPECT_THROW(c->Connect(), ENetPortRequired);
    EXPECT_EQ(Thrown<ENetNotConnected>([&] { c->SendCmd("NOOP"); }), "Not connected.");
    int fired = 0;
    c->OnStatus = [&](TNetComponent *, TNetStatus, const std::string &) { ++fired; };
    c->OnDisconnected = [&](TNetTCPConnection *) { ++fired; };
    c->Disconnect();
    EXPECT_EQ(fired, 0);

    // A refused connect raises the socket error and leaves the client reusable.
    c->SetPort(RefusingPort());
    c->SetConnectTimeout(2000);
    ExpectSocketError([&] { c->Connect(); }, 10061, "Connection refused.");
    EXPECT_FALSE(c->Connected());
    ASSERT_NE(c->IOHandler(), nullptr);
    EXPECT_EQ(c->IOHandler()->ConnectTimeout, 2000);
}

TEST(NetTCPClient, PeerFallsSilentOrClosesMidReply) {
    ScriptedPeer silent({S("250-first part\r\n"), "sleep:3000"});
    auto c = ClientTo(silent.Port());
    c->SetReadTimeout(300);
    c->Connect();
    uint32_t t0 = TicksNow();
    EXPECT_EQ(Thrown<ENetReadTimeout>([&] { c->GetResponse({250}); }), "Read Timeout");
    EXPECT_LT(TicksDiff(t0, TicksNow()), 1500u);
    c->Disconnect(false);

    ScriptedPeer closing({S("250-first\r\n"), "close"});
    c->SetPort(closing.Port());
    c->Connect();
    EXPECT_THROW(c->GetResponse({250}), ENetConnClosedGracefully);
    EXPECT_FALSE(c->Connected());
}

// A client that reads only part of what came must still be disconnected
// after Disconnect, or whoever asks Connected() next waits for ever.
TEST(NetTCPClient, DisconnectWithUnreadReplies) {
    // Whether the peer is still there or has closed already (then nothing
    // is left to close), the unread reply must not keep the client looking
    // connected.
    const std::vector<std::string> open = {"Disconnecting.", "OnDisconnected", "Disconnected."};
    for (const auto &[last, events] : {std::pair{std::string("sleep:2000"), open},
                                       std::pair{std::string("close"), std::vector<std::string>{}}}) {
        SCOPED_TRACE(last);
        ScriptedPeer peer({S("220 hi\r\n250 more\r\n"), last});
        auto c = ClientTo(peer.Port());
        c->Connect();
        EXPECT_EQ(c->GetResponse({220}), 220);
        NetSleep(100);
        EXPECT_TRUE(c->Connected());
        c->events.clear();
        c->Disconnect();
        EXPECT_EQ(c->events, events);
        EXPECT_FALSE(c->Connected());
        // The next session starts clean.
        ScriptedPeer again({S("220 again\r\n"), "sleep:500"});
        c->SetPort(again.Port());
        c->Connect();
        EXPECT_EQ(c->GetResponse({220}), 220);
        EXPECT_EQ(c->LastCmdResult()->Text, (TStringList{"again"}));
        c->Disconnect();
    }
}

TEST(NetTCPClient, HandlerOwnershipAndWorkForwarding) {
    // All data up to the peer's close, line breaks and pauses included.
    ScriptedPeer peer({S("hel"), "sleep:300", S("lo\r\nx"), "close"});
    auto c = ClientTo(peer.Port());
    int64_t readTotal = 0;
    c->OnWork = [&](TNetComponent *, TWorkMode m, int n) {
        if (m == wmRead) readTotal = n;
    };
    EXPECT_EQ(c->ConnectAndGetAll(), "hello\r\nx");
    EXPECT_EQ(readTotal, 8);  // the handler's counts reach the client
    // A handler of our own replaces the managed one (which is freed) and is
    // forgotten when it goes.
    auto *own = NetCreate<TNetIOHandlerStack>(nullptr);
    c->SetIOHandler(own);
    EXPECT_FALSE(c->ManagedIOHandler());
    EXPECT_EQ(c->Socket(), own);
    c->SetReadTimeout(1234);
    EXPECT_EQ(own->ReadTimeout, 1234);
    delete own;
    EXPECT_EQ(c->IOHandler(), nullptr);
    EXPECT_EQ(c->ReadTimeout(), 1234);
}

namespace {
// A layer over the socket, as the TLS handler is: every byte on the wire is
// XORed with 0x5A. It overrides only the low-level receive and send steps and
// the connect, and keeps the stack handler's loops.
class TXorIOHandler : public TNetIOHandlerStack {
public:
    bool handshook = false;

protected:
    using TNetIOHandlerStack::TNetIOHandlerStack;
    int ReadDataFromSource(TNetBytes &buffer) override {
        int n = TNetIOHandlerStack::ReadDataFromSource(buffer);
        for (int i = 0; i < n; ++i) buffer[size_t(i)] ^= 0x5A;
        return n;
    }
    int WriteDataToTarget(const TNetBytes &buffer, size_t offset, int count) override {
        TNetBytes x(buffer.begin() + std::ptrdiff_t(offset), buffer.begin() + std::ptrdiff_t(offset) + count);
        for (auto &b : x) b ^= 0x5A;
        return TNetIOHandlerStack::WriteDataToTarget(x, 0, count);
    }
    void ConnectClient() override {
        TNetIOHandlerStack::ConnectClient();
        handshook = true;
    }
};

std::string Xor(std::string s) {
    for (auto &c : s) c = char(c ^ 0x5A);
    return s;
}
}  // namespace

TEST(NetTCPClient, LayeredHandlerThroughTheOverridePoints) {
    ScriptedPeer peer({S(Xor("220-wel\r\n220 come\r\n")), "read:6", S(Xor("250 ok\r\n")), "wait_close"});
    auto c = ClientTo(peer.Port());
    TNetIOHandler::SetDefaultClass("TXorIOHandler",
                                   [](TNetInitializerComponent *o) { return NetCreate<TXorIOHandler>(o); });
    c->Connect();
    TNetIOHandler::SetDefaultClass("TNetIOHandlerStack", nullptr);
    auto *x = dynamic_cast<TXorIOHandler *>(c->IOHandler());
    ASSERT_NE(x, nullptr);
    EXPECT_TRUE(x->handshook);
    EXPECT_EQ(c->GetResponse({220}), 220);
    EXPECT_EQ(c->LastCmdResult()->Text, (TStringList{"wel", "come"}));
    EXPECT_EQ(c->SendCmd("HELO", {250}), 250);
    c->Disconnect(false);
    EXPECT_EQ(Xor(peer.Received()), "HELO\r\n");
    auto names = TNetIOHandler::RegisteredIOHandlers();
    EXPECT_NE(std::find(names.begin(), names.end(), "TXorIOHandler"), names.end());
}
