// The socket stack, socket handle, component base, anti-freeze and intercept
// against real loopback sockets.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>

#include <functional>
#include <thread>
#include <vector>

#include "NetComponent.h"
#include "NetIntercept.h"
#include "NetSocketHandle.h"
#include "NetStack.h"
#include "TransportTestUtil.h"

namespace {
class TPlainComponent : public TNetComponent {
protected:
    using TNetComponent::TNetComponent;
};
}  // namespace

TEST(NetStack, UnknownCodesAndIgnoredErrors) {
    // The mapped codes are checked where real calls fail (below and in the
    // resolver tests); a code without a text still names its number.
    StackRef ref;
    EXPECT_EQ(GBSDStack()->WSTranslateSocketErrorMsg(12345), "Socket Error # 12345\r\n");
    GBSDStack()->WSSetLastError(10035);
    EXPECT_EQ(GBSDStack()->CheckForSocketError(-1, {10035}), 10035);
    EXPECT_THROW(GBSDStack()->CheckForSocketError(-1), ENetSocketError);
}

TEST(NetStack, RealFailuresCarryWinsockNumbersAndTexts) {
    StackRef ref;
    LoopbackListener taken;
    int s = GStack->NewSocketHandle(Net_SOCK_STREAM, 0, Net_IPv4);
    ExpectSocketError([&] { GStack->Bind(s, "127.0.0.1", taken.port, Net_IPv4); }, 10048, "Address already in use.");
    ExpectSocketError([&] { GStack->Connect(s, "127.0.0.1", 70000, Net_IPv4); }, 10022, "Invalid argument.");
    ::close(s);

    int file = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    EXPECT_THROW(GStack->Connect(file, "127.0.0.1", taken.port, Net_IPv4), ENetNotASocket);
    ExpectSocketError([&] { GStack->Connect(file, "127.0.0.1", taken.port, Net_IPv4); }, 10038,
                      "Socket operation on non-socket.");
    ::close(file);

    // A peer that aborts the connection.
    int c = GStack->NewSocketHandle(Net_SOCK_STREAM, 0, Net_IPv4);
    GStack->Connect(c, "127.0.0.1", taken.port, Net_IPv4);
    int peer = taken.Accept();
    linger lg{1, 0};
    ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    ::close(peer);
    NetSleep(50);
    TNetBytes buf(16);
    ExpectSocketError([&] { GStack->Receive(c, buf); }, 10054, "Connection reset by peer.");
    ::close(c);

    // Out of descriptors.
    rlimit rl{};
    getrlimit(RLIMIT_NOFILE, &rl);
    rlimit low = rl;
    low.rlim_cur = rlim_t(::dup(0));  // the number the next socket would get
    ::close(int(low.rlim_cur));
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    ExpectSocketError([&] { GStack->NewSocketHandle(Net_SOCK_STREAM, 0, Net_IPv4); }, 10024, "Too many open files.");
    setrlimit(RLIMIT_NOFILE, &rl);
}

TEST(NetStack, AddressTexts) {
    StackRef ref;
    EXPECT_TRUE(TNetStack::IsIP("0.0.0.0"));
    for (const char *no : {"10.0.0.256", "1.2.3", "1.2.3.4.5", "1.2.3.4.", "$1.2.3.4"})
        EXPECT_FALSE(TNetStack::IsIP(no)) << no;
    EXPECT_TRUE(GStack->IsMulticast("224.0.0.1", Net_IPv4));
    EXPECT_FALSE(GStack->IsMulticast("240.0.0.1", Net_IPv4));
    EXPECT_TRUE(GStack->IsMulticast("ff02::1", Net_IPv6));
}

TEST(NetStack, SocketListAndSingleton) {
    TNetSocketList list;
    for (int i = 0; i < 64; ++i) list.Add(1000 + i);
    EXPECT_EQ(Thrown<ENetStackSetSizeExceeded>([&] { list.Add(5000); }), "Set Size Exceeded.");
    EXPECT_THROW(list.Item(64), ENetStackSetSizeExceeded);
    list.Remove(1000);
    EXPECT_EQ(list.Item(0), 1063);  // the last entry fills the gap
    EXPECT_FALSE(list.Contains(1000));

    ASSERT_EQ(TNetStack::UsageCount(), 0);
    TPlainComponent *c = NetCreate<TPlainComponent>(nullptr);
    EXPECT_NE(GStack, nullptr);
    delete c;
    EXPECT_EQ(GStack, nullptr);
    std::unique_ptr<TPlainComponent> again = NetCreateNoOwner<TPlainComponent>();
    EXPECT_NE(GStack, nullptr);
}

TEST(NetSocketHandle, FailedConnectsLeakNoDescriptor) {
    StackRef ref;
    int port = RefusingPort();
    int before = OpenDescriptorCount();
    TNetSocketHandle h;
    for (int i = 0; i < 200; ++i) {
        h.AllocateSocket();  // replaces (and closes) the previous socket
        h.SetPeer("127.0.0.1", port, Net_IPv4);
        ExpectSocketError([&] { h.Connect(); }, 10061, "Connection refused.");
    }
    h.CloseSocket();
    EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST(NetSocketHandle, WorksAboveDescriptor1024) {
    StackRef ref;
    rlimit rl{};
    getrlimit(RLIMIT_NOFILE, &rl);
    if (rl.rlim_max < 1300) GTEST_SKIP() << "descriptor limit too low";
    rlimit raised = rl;
    raised.rlim_cur = std::max<rlim_t>(rl.rlim_cur, 1300);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
    std::vector<int> held;
    for (int i = 0; i < 1100; ++i) held.push_back(::dup(0));
    {
        LoopbackListener l;
        TNetSocketHandle h;
        h.AllocateSocket();
        EXPECT_GT(h.Handle(), 1024);
        h.SetPeer("127.0.0.1", l.port, Net_IPv4);
        h.Connect();
        int peer = l.Accept();
        EXPECT_FALSE(h.Readable(0));
        WriteAll(peer, "x");
        EXPECT_TRUE(h.Readable(1000));
        TNetBytes buf(16);
        EXPECT_EQ(h.Receive(buf), 1);
        ::close(peer);
    }
    for (int fd : held) ::close(fd);
    setrlimit(RLIMIT_NOFILE, &rl);
}

TEST(NetSocketHandle, BindingRangesAndAddresses) {
    StackRef ref;
    // A loopback address of this test's own, so that ports next to the taken
    // one are not held by other tests running at the same time.
    const std::string addr = "127.91." + std::to_string(getpid() % 250 + 1) + ".7";
    TNetSocketHandle taken;  // occupies the top port of the range
    taken.AllocateSocket();
    taken.IP = addr;
    taken.Port = 0;
    taken.Bind();
    int top = taken.Port;
    TNetSocketHandle h;
    h.AllocateSocket();
    h.IP = addr;
    h.ClientPortMin = top - 2;
    h.ClientPortMax = top;
    // The free port right under the taken one binds (unless a wildcard
    // listener elsewhere happens to hold it, then one lower).
    h.Bind();
    EXPECT_LT(h.Port, top);
    EXPECT_GE(h.Port, top - 2);

    TNetSocketHandle bad;
    bad.AllocateSocket();
    bad.ClientPortMin = 6000;
    bad.ClientPortMax = 5000;
    EXPECT_EQ(Thrown<ENetInvalidPortRange>([&] { bad.Bind(); }), "Invalid Port Range (6000 - 5000)");
    TNetSocketHandle busy;
    busy.AllocateSocket();
    busy.IP = addr;
    busy.Port = top;
    busy.ClientPortMin = top - 2;
    busy.ClientPortMax = top;  // a set port binds that port only
    EXPECT_EQ(Thrown<ENetCouldNotBindSocket>([&] { busy.Bind(); }), "Could not bind socket. Address and port are already in use.");
    EXPECT_THROW(busy.SetIPVersion(Net_IPv6), ENetCannotSetIPVersionWhenConnected);

    // A connect fills in both ends.
    LoopbackListener l;
    TNetSocketHandle c;
    c.AllocateSocket();
    c.SetPeer("127.0.0.1", l.port, Net_IPv4);
    c.Connect();
    EXPECT_EQ(c.IP, "127.0.0.1");
    EXPECT_GT(c.Port, 0);
    EXPECT_EQ(c.PeerPort(), l.port);
    uint32_t t0 = TicksNow();
    EXPECT_FALSE(c.Readable(0));  // one look, no wait
    EXPECT_LT(TicksDiff(t0, TicksNow()), 50u);
    c.CloseSocket();
    EXPECT_THROW(c.Readable(0), ENetConnClosedGracefully);
}

TEST(NetSocketHandle, IPv6Loopback) {
    StackRef ref;
    LoopbackListener l(true);
    if (l.port == 0) GTEST_SKIP() << "no IPv6 loopback";
    TNetSocketHandle h;
    h.SetIPVersion(Net_IPv6);
    h.AllocateSocket();
    h.SetPeer(GStack->ResolveHost("::1", Net_IPv6), l.port, Net_IPv6);
    h.Connect();
    EXPECT_EQ(h.PeerIP(), "0:0:0:0:0:0:0:1");
}

TEST(NetComponent, WorkEventsNestAndForward) {
    auto c = NetCreateNoOwner<TPlainComponent>();
    std::vector<std::string> log;
    c->OnWorkBegin = [&](TNetComponent *, TWorkMode, int n) { log.push_back("begin " + std::to_string(n)); };
    c->OnWork = [&](TNetComponent *, TWorkMode, int n) { log.push_back("work " + std::to_string(n)); };
    c->OnWorkEnd = [&](TNetComponent *, TWorkMode) { log.push_back("end"); };
    c->DoWork(wmRead, 3);  // without a begin: nothing
    c->BeginWork(wmRead, 100);
    c->BeginWork(wmRead, 7);
    c->DoWork(wmRead, 10);
    c->EndWork(wmRead);
    c->DoWork(wmRead, 5);
    c->EndWork(wmRead);
    EXPECT_EQ(log, (std::vector<std::string>{"begin 100", "work 10", "work 15", "end"}));

    auto h = NetCreateNoOwner<TPlainComponent>();
    h->SetWorkTarget(c.get());
    log.clear();
    h->BeginWork(wmWrite, 2);
    h->DoWork(wmWrite, 2);
    h->EndWork(wmWrite);
    EXPECT_EQ(log, (std::vector<std::string>{"begin 2", "work 2", "end"}));
}

TEST(NetComponent, OwnershipAndFreeNotification) {
    struct Watcher : TPlainComponent {
        using TPlainComponent::TPlainComponent;
        TNetInitializerComponent *gone = nullptr;
        void Notification(TNetInitializerComponent *c, TOperation op) override {
            if (op == opRemove) gone = c;
        }
    };
    auto owner = NetCreateNoOwner<TPlainComponent>();
    auto *child = NetCreate<TPlainComponent>(owner.get());
    auto watcher = NetCreateNoOwner<Watcher>();
    watcher->FreeNotification(child);
    delete child;
    EXPECT_EQ(watcher->gone, child);
    EXPECT_EQ(owner->ComponentCount(), 0);
    NetCreate<TPlainComponent>(owner.get());
    owner.reset();  // frees the owned one as well (checked by the sanitizers)
}

TEST(NetIntercept, ChainOrderAndCircularLinks) {
    auto a = NetCreateNoOwner<TNetConnectionIntercept>();
    auto b = NetCreateNoOwner<TNetConnectionIntercept>();
    std::string order;
    a->OnSend = [&](TNetConnectionIntercept *, TNetBytes &) { order += "A"; };
    b->OnSend = [&](TNetConnectionIntercept *, TNetBytes &bytes) {
        order += "B";
        bytes.push_back('!');
    };
    a->OnReceive = [&](TNetConnectionIntercept *, TNetBytes &) { order += "a"; };
    b->OnReceive = [&](TNetConnectionIntercept *, TNetBytes &) { order += "b"; };
    a->SetIntercept(b.get());
    TNetBytes data{'x'};
    a->Send(data);
    a->Receive(data);
    EXPECT_EQ(order, "ABba");
    EXPECT_EQ(data.size(), 2u);
    EXPECT_THROW(a->SetIntercept(a.get()), ENetInterceptCircularLink);
    EXPECT_EQ(Thrown<ENetInterceptCircularLink>([&] { b->SetIntercept(a.get()); }), "TNetConnectionIntercept: Circular links are not allowed");
    b.reset();  // freeing the chained one unlinks it
    EXPECT_EQ(a->Intercept(), nullptr);
}

TEST(NetAntiFreeze, SingleInstanceAndIdleRule) {
    int processed = 0;
    TNetAntiFreeze::SetProcessMessagesHook([&](bool) { ++processed; });
    auto af = NetCreateNoOwner<TNetAntiFreeze>();
    EXPECT_EQ(Thrown<ENetException>([&] { NetCreateNoOwner<TNetAntiFreeze>(); }), "Only one TNetAntiFreeze can exist per application.");
    EXPECT_EQ(TNetAntiFreezeBase::Installed(), af.get());
    TNetAntiFreezeBase::DoProcess(false);  // a send step is not idle
    TNetAntiFreezeBase::DoProcess(true);
    EXPECT_EQ(processed, 1);
    af->OnlyWhenIdle = false;
    TNetAntiFreezeBase::DoProcess(false);
    EXPECT_EQ(processed, 2);
    std::thread([] { TNetAntiFreezeBase::DoProcess(true, true); }).join();
    EXPECT_EQ(processed, 2);  // never off the main thread
    af->Active = false;
    TNetAntiFreezeBase::DoProcess(true);
    EXPECT_EQ(processed, 2);
    af.reset();
    EXPECT_EQ(TNetAntiFreezeBase::Installed(), nullptr);
    TNetAntiFreeze::SetProcessMessagesHook(nullptr);
}

TEST(NetAntiFreeze, QtTimerKeepsFiringDuringSocketWait) {
    StackRef ref;
    GuiAntiFreeze gui;
    TickCounter tick;
    LoopbackListener l;
    TNetSocketHandle h;
    h.AllocateSocket();
    h.SetPeer("127.0.0.1", l.port, Net_IPv4);
    h.Connect();
    uint32_t t0 = TicksNow();
    EXPECT_FALSE(h.Readable(1000));
    EXPECT_GE(TicksDiff(t0, TicksNow()), 990u);
    EXPECT_LT(TicksDiff(t0, TicksNow()), 1500u);
    EXPECT_GE(tick.Ticks, 20);
}
