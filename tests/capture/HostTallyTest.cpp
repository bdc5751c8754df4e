#include "capture/HostTally.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace lumeno {
namespace {

using Counted = std::vector<std::pair<std::string, std::uint64_t>>;

Counted Names(const std::vector<HostTally::Host>& hosts) {
    Counted out;
    for (const HostTally::Host& h : hosts) out.emplace_back(h.address, h.packets);
    return out;
}

// While no set overflows, every address keeps its own exact count: texts that differ only
// in their last character or in length are different hosts, an empty address is
// nobody, equal counts go in the order of the text, and only the first 48 characters of an
// over-long text are told apart (tallies added up: the headless run's figures over rounds).
TEST(HostTally, CountsEveryAddressExactlyWhileThereIsRoom) {
    const std::string long1 = std::string(48, 'a') + "1";
    const std::string long2 = std::string(48, 'a') + "2";
    struct Case {
        const char* what;
        Counted packets;  // address, how often, in this order
        std::size_t asked;
        Counted expected;
        std::uint64_t total;
    };
    const Case cases[] = {
        {"prefixes",
         {{"10.0.0.1", 3}, {"10.0.0.10", 2}, {"10.0.0.1", 1}, {"10.0.0.100", 5}, {"", 9}},
         5,
         {{"10.0.0.100", 5}, {"10.0.0.1", 4}, {"10.0.0.10", 2}},
         11},
        {"ties",
         {{"192.0.2.9", 2}, {"192.0.2.10", 2}, {"::1", 2}, {"192.0.2.1", 7}},
         3,
         {{"192.0.2.1", 7}, {"192.0.2.10", 2}, {"192.0.2.9", 2}},
         13},
        {"over-long", {{long1, 1}, {long2, 1}}, 5, {{std::string(48, 'a'), 2}}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HostTally tally;
        for (const auto& [address, n] : c.packets) {
            for (std::uint64_t i = 0; i < n; ++i) tally.Count(address);
        }
        const auto busiest = tally.Busiest(c.asked);
        EXPECT_EQ(Names(busiest), c.expected);
        for (const HostTally::Host& h : busiest) EXPECT_TRUE(h.exact) << h.address;
        EXPECT_EQ(tally.Total(), c.total);
    }
}

// A flood of addresses seen once each (a scan, or a busy link) must not push out the hosts
// that carry the traffic, whenever they turn up; a host that came in after the table
// filled counts only what it was seen with since, and says that its count is a lower bound.
TEST(HostTally, BusyHostsOutlastAFloodOfOneTimeAddresses) {
    const Counted heavy = {{"203.0.113.66", 5000},
                           {"198.51.100.20", 4000},
                           {"2001:db8::7", 3000},
                           {"192.0.2.44", 2000},
                           {"198.51.100.7", 1000}};
    constexpr int kFlood = 200000;
    for (const bool late : {false, true}) {
        SCOPED_TRACE(late ? "busy hosts start after the flood" : "busy hosts from the start");
        HostTally tally;
        int flood = 0;
        const auto floodSome = [&](int n) {
            for (int i = 0; i < n; ++i, ++flood) {
                tally.Count("10." + std::to_string(flood >> 16) + "." +
                            std::to_string((flood >> 8) & 255) + "." + std::to_string(flood & 255));
            }
        };
        if (late) floodSome(kFlood / 2);
        // Round robin: each busy host one packet per round while it has any left, with a
        // slice of the flood after every hundred rounds (from the start, the busy hosts are
        // a hundred packets ahead of any other, so no tie makes one of them give way).
        for (std::uint64_t round = 0; round < heavy.front().second; ++round) {
            for (const auto& [address, n] : heavy) {
                if (round < n) tally.Count(address);
            }
            if (round % 100 == 99) floodSome(late ? 50 : 100);
        }
        floodSome(kFlood - flood);
        const auto busiest = tally.Busiest(5);
        ASSERT_EQ(busiest.size(), heavy.size());
        for (std::size_t i = 0; i < heavy.size(); ++i) {
            const HostTally::Host& h = busiest[i];
            EXPECT_EQ(h.address, heavy[i].first);
            EXPECT_EQ(h.exact, !late) << h.address;
            // Never more than the truth; a late host may miss the packet it came in with.
            EXPECT_LE(h.packets, heavy[i].second) << h.address;
            EXPECT_GE(h.packets + (late ? 2 : 0), heavy[i].second) << h.address;
        }
        EXPECT_EQ(tally.Total(), kFlood + 15000u);
    }
}

}  // namespace
}  // namespace lumeno
