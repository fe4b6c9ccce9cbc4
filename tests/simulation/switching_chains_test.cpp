// A switching's follow-up is approached only once it came twice alike: a
// coincidence (another phase switching soon after, once) must not shorten
// the first step after the switching's next occurrence.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "sim/switching_chains.h"

namespace {

using udmhost::SwitchEvent;
using udmhost::sim::SwitchingChains;

constexpr double kFirstStep = 1e-8, kTolerance = 1e-15;

// Switching points of a period: each a list of (element, state) at a time.
struct Point {
    double time;
    std::vector<SwitchEvent> events;
};

// The delay the chains give at each point, fed one after the other.
std::vector<std::optional<double>> feed(const std::vector<Point>& points, double tolerance = kTolerance) {
    SwitchingChains chains;
    std::vector<SwitchEvent> all;
    std::vector<std::optional<double>> got;
    for (const Point& p : points) {
        const size_t from = all.size();
        for (SwitchEvent e : p.events) {
            e.time = p.time;
            all.push_back(e);
        }
        got.push_back(chains.switched(all, from, p.time, kFirstStep, tolerance));
    }
    return got;
}

SwitchEvent event(const char* element, int state) { return {0.0, element, state}; }

TEST(SwitchingChains, AFollowUpSeenTwiceAlikeIsApproachedAndNothingElse) {
    const double d = 7e-13;
    // S1 closing, D1 off d later, S1 opening 1 us after: three periods.
    std::vector<Point> chain;
    for (int k = 0; k < 3; ++k) {
        const double t = 2e-6 * k;
        chain.push_back({t, {event("S1", 1)}});
        chain.push_back({t + d, {event("D1", 0)}});
        chain.push_back({t + 1e-6, {event("S1", 0)}});
    }
    auto got = feed(chain);
    EXPECT_FALSE(got[0] || got[3]);  // seen once, then once more
    ASSERT_TRUE(got[6].has_value());
    EXPECT_NEAR(*got[6], d, 1e-20);  // the times round to a part in 1e16 of 4 us
    for (size_t k : {1u, 2u, 4u, 5u, 7u, 8u}) EXPECT_FALSE(got[k]) << k;  // nothing follows those within reach

    // The same periods with another follow-up the second time, or a delay
    // 2 % longer: no chain.
    auto other = chain;
    other[4].events = {event("D2", 0)};
    EXPECT_FALSE(feed(other)[6]);
    auto later = chain;
    later[4].time = later[3].time + 1.02 * d;
    EXPECT_FALSE(feed(later)[6]);
    // Located to within 1e-14 s, each instant: two delays of one chain may
    // differ by twice that, whatever their share of the delay.
    auto located = chain;
    located[4].time = located[3].time + d + 1.5e-14;
    EXPECT_TRUE(feed(located, 1e-14)[6]);
    located[4].time = located[3].time + d + 2.5e-14;
    EXPECT_FALSE(feed(located, 1e-14)[6]);
}

}  // namespace
