#include "snmp/request_deadlines.h"

#include <gtest/gtest.h>
#include <set>
#include <vector>

using snmp_detail::RequestDeadlines;
using std::chrono::milliseconds;

TEST(RequestDeadlines, EarliestLiveAttemptAcrossTimeoutsAndInSendingOrder) {
    RequestDeadlines deadlines;
    const auto t0 = RequestDeadlines::Clock::time_point{} + std::chrono::hours(1);
    deadlines.add(t0, 8'000'000, 1, 1);                   // due t0 + 8 s
    deadlines.add(t0 + milliseconds(1), 8'000'000, 2, 2); // due t0 + 8.001 s
    deadlines.add(t0 + milliseconds(2), 100'000, 3, 3);   // due t0 + 0.102 s
    deadlines.add(t0 + milliseconds(3), 8'000'000, 1, 4); // request 1 sent again
    std::set<std::pair<long, std::uint64_t>> outstanding{{1, 4}, {2, 2}, {3, 3}};
    const auto live = [&](const RequestDeadlines::Entry& e) {
        return outstanding.count({e.requestId, e.attempt}) != 0;
    };

    EXPECT_EQ(deadlines.earliest(live), t0 + milliseconds(102));
    outstanding.erase({3, 3}); // answered
    // Request 1's first attempt is stale: its second one is what waits.
    EXPECT_EQ(deadlines.earliest(live), t0 + milliseconds(8001));

    std::vector<std::pair<long, std::uint64_t>> taken;
    deadlines.takeDue(t0 + milliseconds(8002),
                      [&](const RequestDeadlines::Entry& e) { taken.emplace_back(e.requestId, e.attempt); });
    EXPECT_EQ(taken, (std::vector<std::pair<long, std::uint64_t>>{{2, 2}}));
    outstanding.erase({2, 2});
    EXPECT_EQ(deadlines.earliest(live), t0 + milliseconds(8003));
    outstanding.clear();
    EXPECT_FALSE(deadlines.earliest(live).has_value());
}
