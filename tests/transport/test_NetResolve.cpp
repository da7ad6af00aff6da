// Name resolution on the GUI thread: a slow resolver must not freeze the event
// loop, and results and errors must not change with the way the call is run.
#include <gtest/gtest.h>
#include <netdb.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "NetStackWindows.h"
#include "TransportTestUtil.h"

namespace {
// An installed anti-freeze that runs Qt's event loop, and a resolver seam
// that the test fills in; both are taken away again at the end.
class ResolveOnGuiThread : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        TNetAntiFreeze::SetProcessMessagesHook([this](bool) {
            ++processed;
            if (throwFromHandler) throw ENetException("handler failed");
            QCoreApplication::processEvents();
        });
        af = NetCreateNoOwner<TNetAntiFreeze>();
        af->IdleTimeOut = 20;
    }
    void TearDown() override {
        TNetStackWindows::SetAddrInfoFunc(nullptr);
        af.reset();
        TNetAntiFreeze::SetProcessMessagesHook(nullptr);
    }

    // A seam that answers from the real resolver for "localhost" after a
    // delay, noting where and with what it was called.
    void SlowLocalhost(int delayMs) {
        TNetStackWindows::SetAddrInfoFunc(
            [this, delayMs](const char *node, const char *, const addrinfo *hints, addrinfo **res) {
                ++calls;
                seenNode = node;
                seenFamily = hints->ai_family;
                seamThread = std::this_thread::get_id();
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
                int r = ::getaddrinfo("localhost", nullptr, hints, res);
                seamFinished = true;
                return r;
            });
    }
    // A seam that fails with the given code, leaving errnoValue in errno.
    void Failing(int eai, int errnoValue) {
        TNetStackWindows::SetAddrInfoFunc([eai, errnoValue](const char *, const char *, const addrinfo *, addrinfo **) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            errno = errnoValue;
            return eai;
        });
    }

    StackRef ref;
    std::unique_ptr<TNetAntiFreeze> af;
    std::atomic<int> calls{0};
    std::atomic<bool> seamFinished{false};
    std::string seenNode;
    int seenFamily = 0;
    std::thread::id seamThread;
    int processed = 0;
    bool throwFromHandler = false;
};

// The socket error a resolution raises, as code and message.
std::pair<int, std::string> ResolutionError(const std::function<void()> &call) {
    try {
        call();
    } catch (const ENetSocketError &e) {
        return {e.LastError(), e.Message()};
    }
    return {0, "no error"};
}
}  // namespace

TEST_F(ResolveOnGuiThread, SlowResolverKeepsQtTimerFiring) {
    SlowLocalhost(1000);
    TickCounter tick;
    int threadsBefore = ThreadCount();
    EXPECT_EQ(GStack->ResolveHost("mail.example.test", Net_IPv4), "127.0.0.1");
    tick.Timer.stop();
    EXPECT_GE(tick.Ticks, 20);  // about 100; a frozen loop gives 0 or 1
    EXPECT_EQ(seenNode, "mail.example.test");
    EXPECT_EQ(seenFamily, AF_INET);
    EXPECT_NE(seamThread, std::this_thread::get_id());
    EXPECT_EQ(ThreadCount(), threadsBefore);  // the worker is gone
}

TEST_F(ResolveOnGuiThread, PlainPathWhereNoEventsMayRun) {
    SlowLocalhost(0);
    // Off the GUI thread the resolver runs in place, with or without anti-freeze.
    std::thread::id caller;
    std::string ip;
    std::thread([&] {
        caller = std::this_thread::get_id();
        ip = GStack->HostByName("off-thread.example.test", Net_IPv4);
    }).join();
    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_EQ(seamThread, caller);
    // An inactive anti-freeze blocks plainly, processing nothing.
    af->Active = false;
    EXPECT_EQ(GStack->HostByName("inactive.example.test", Net_IPv4), "127.0.0.1");
    EXPECT_EQ(seamThread, std::this_thread::get_id());
    EXPECT_EQ(processed, 0);
}

TEST_F(ResolveOnGuiThread, LiteralsNeverReachTheResolver) {
    SlowLocalhost(0);
    EXPECT_EQ(GStack->ResolveHost("127.0.0.1", Net_IPv4), "127.0.0.1");
    EXPECT_EQ(GStack->ResolveHost("LOCALHOST", Net_IPv4), "127.0.0.1");
    EXPECT_EQ(GStack->ResolveHost("::1", Net_IPv6), "0:0:0:0:0:0:0:1");
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(GStack->ResolveHost("10.0.0.256", Net_IPv4), "127.0.0.1");  // not an address: resolved
    EXPECT_EQ(calls, 1);
}

TEST_F(ResolveOnGuiThread, FailuresKeepTheirWinsockNumbers) {
    struct Case {
        int eai, err, code;
        const char *text;
    } cases[] = {
        {EAI_NONAME, 0, 11001, "Host not found."},
        {EAI_AGAIN, 0, 11002, ""},
        {EAI_FAIL, 0, 11003, ""},
        {EAI_SYSTEM, EMFILE, 10024, "Too many open files."},  // errno of the worker, not ours
        {EAI_SYSTEM, 0, 11003, ""},                           // never error 0
    };
    for (const Case &c : cases) {
        Failing(c.eai, c.err);
        errno = 0;
        auto [code, msg] = ResolutionError([] { GStack->ResolveHost("broken.example.test", Net_IPv4); });
        EXPECT_EQ(code, c.code) << c.eai;
        EXPECT_EQ(msg, "Socket Error # " + std::to_string(c.code) + "\r\n" + c.text);
    }
    EXPECT_GT(processed, 0);  // the failures came through the sliced wait
}

TEST_F(ResolveOnGuiThread, HandlerExceptionWaitsForTheResolver) {
    SlowLocalhost(300);
    throwFromHandler = true;
    int threadsBefore = ThreadCount();
    try {
        GStack->ResolveHost("given-up.example.test", Net_IPv4);
        FAIL() << "the handler's exception was lost";
    } catch (const ENetException &e) {
        EXPECT_EQ(e.Message(), "handler failed");
        // The caller got the exception only after the resolver call ended and
        // its thread was joined: nothing still writes into the caller's frame.
        EXPECT_TRUE(seamFinished);
        EXPECT_EQ(ThreadCount(), threadsBefore);
    }
}

TEST_F(ResolveOnGuiThread, RealResolverGivesTheSameAnswersAsThePlainPath) {
    EXPECT_EQ(GStack->HostByName("localhost", Net_IPv4), "127.0.0.1");
    std::string name = GStack->HostByAddress("127.0.0.1", Net_IPv4), plainName;
    std::thread([&] { plainName = GStack->HostByAddress("127.0.0.1", Net_IPv4); }).join();
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(name, plainName);
    auto fail = [] { GStack->ResolveHost("no-such-host.invalid", Net_IPv4); };
    auto sliced = ResolutionError(fail);
    std::pair<int, std::string> plain;
    std::thread([&] { plain = ResolutionError(fail); }).join();
    EXPECT_NE(sliced.first, 0);
    EXPECT_EQ(sliced, plain);
    EXPECT_TRUE(sliced.first == 11001 || sliced.first == 11002 || sliced.first == 11004) << sliced.first;
}
