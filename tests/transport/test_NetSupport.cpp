// The IP address object and the thread-safe counter.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "NetIPAddress.h"
#include "NetThreadSafe.h"

TEST(NetIPAddress, TextForms) {
    struct Case {
        const char *in, *out;
    } cases[] = {
        {"192.168.1.2", "192.168.1.2"}, {"0300.0250.01.02", "192.168.1.2"}, {"0xC0.0xA8.1.2", "192.168.1.2"},
        {"10.1", "10.0.0.1"},           {"10.1.258", "10.1.1.2"},           {"3232235778", "192.168.1.2"},
    };
    for (const auto &c : cases) {
        auto a = TNetIPAddress::MakeAddressObject(c.in);
        ASSERT_TRUE(a) << c.in;
        EXPECT_EQ(a->IPAsString(), c.out) << c.in;
    }
    for (const char *bad : {"", "1.2.3.4.5", "1..2", "09.1.1.1", "0xG.1.1.1", "1.2.3.", "a.b.c.d"})
        EXPECT_FALSE(TNetIPAddress::MakeAddressObject(bad)) << bad;
    auto v6 = TNetIPAddress::MakeAddressObject("fe80::1");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->AddrType, Net_IPv6);
    EXPECT_EQ(v6->IPAsString(), "FE80:0000:0000:0000:0000:0000:0000:0001");
    EXPECT_FALSE(TNetIPAddress::MakeAddressObject("1:2:3"));
}

TEST(NetThreadSafe, CounterUnderContention) {
    TNetThreadSafeInteger n;
    std::vector<std::thread> ts;
    for (int t = 0; t < 4; ++t)
        ts.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) n.Increment();
        });
    for (auto &t : ts) t.join();
    EXPECT_EQ(n.Value(), 40000);
}
