#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "circuit_builder.h"
#include "sim/node_trajectory.h"
#include "sim/waveform_eval.h"

namespace {

using udmhost::Waveform;
using udmhost::sim::appendBreakpoints;
using udmhost::sim::waveformValue;

TEST(Waveform, DcIsConstant) {
    const auto w = simtest::dc(3.3);
    EXPECT_EQ(waveformValue(w, 0.0), 3.3);
    EXPECT_EQ(waveformValue(w, 1.0), 3.3);
    std::vector<double> bps;
    appendBreakpoints(w, 1.0, bps);
    EXPECT_TRUE(bps.empty());
}

TEST(Waveform, PulseRisesHoldsFallsAndRepeats) {
    // v1 0, v2 5, td 1, tr 1, tf 2, pw 3, per 10
    const auto w = simtest::waveform(Waveform::Kind::Pulse, {0, 5, 1, 1, 2, 3, 10});
    EXPECT_EQ(waveformValue(w, 0.5), 0.0);
    EXPECT_DOUBLE_EQ(waveformValue(w, 1.5), 2.5);   // half way up
    EXPECT_DOUBLE_EQ(waveformValue(w, 3.0), 5.0);   // on the top
    EXPECT_DOUBLE_EQ(waveformValue(w, 6.0), 2.5);   // half way down
    EXPECT_DOUBLE_EQ(waveformValue(w, 8.0), 0.0);
    EXPECT_DOUBLE_EQ(waveformValue(w, 11.5), 2.5);  // next period
    std::vector<double> bps;
    appendBreakpoints(w, 12.0, bps);
    EXPECT_EQ(bps, (std::vector<double>{1, 2, 5, 7, 11, 12}));
}

TEST(Waveform, PulseWithoutPeriodHappensOnce) {
    const auto w = simtest::waveform(Waveform::Kind::Pulse, {1, 2, 0, 1e-3, 1e-3, 1e-3});
    EXPECT_DOUBLE_EQ(waveformValue(w, 2e-3), 2.0);
    EXPECT_DOUBLE_EQ(waveformValue(w, 1.0), 1.0);
}

TEST(Waveform, SinStartsAfterItsDelayAndDecays) {
    // vo 1, va 2, 50 Hz, td 0.01, theta 10
    const auto w = simtest::waveform(Waveform::Kind::Sin, {1, 2, 50, 0.01, 10});
    EXPECT_EQ(waveformValue(w, 0.005), 1.0);
    const double t = 0.015;
    EXPECT_NEAR(waveformValue(w, t), 1 + 2 * std::exp(-0.005 * 10) * std::sin(2 * std::numbers::pi * 50 * 0.005),
                1e-12);
    std::vector<double> bps;
    appendBreakpoints(w, 1.0, bps);
    EXPECT_EQ(bps, (std::vector<double>{0.01}));
}

TEST(Waveform, PwlInterpolatesAndHoldsItsEnds) {
    const auto w = simtest::waveform(Waveform::Kind::Pwl, {1, 0, 2, 4, 4, -4});
    EXPECT_EQ(waveformValue(w, 0.0), 0.0);
    EXPECT_DOUBLE_EQ(waveformValue(w, 1.5), 2.0);
    EXPECT_DOUBLE_EQ(waveformValue(w, 3.0), 0.0);
    EXPECT_EQ(waveformValue(w, 9.0), -4.0);
    std::vector<double> bps;
    appendBreakpoints(w, 3.0, bps);
    EXPECT_EQ(bps, (std::vector<double>{1, 2}));
}

}  // namespace

// Another block's node as a source: exact on a parabola between uneven
// points, and a corner (a switching) is never smoothed over.
TEST(NodeTrajectory, ParabolasBetweenPointsAndCornersKept) {
    udmhost::sim::NodeTrajectory parabola;
    auto p = [](double t) { return 3.0 * t * t - 2.0 * t + 1.0; };
    for (double t : {0.0, 0.1, 0.35, 0.4, 1.0}) parabola.record(t, p(t), false);
    for (double t : {0.05, 0.2, 0.37, 0.7}) EXPECT_NEAR(parabola.at(t), p(t), 1e-14) << t;
    EXPECT_EQ(parabola.at(2.0), p(1.0));  // held beyond the last point

    udmhost::sim::NodeTrajectory corner;  // |t - 1| sampled on both sides of its corner
    for (double t : {0.0, 0.5, 1.0, 1.2, 2.0}) corner.record(t, std::abs(t - 1.0), t == 1.0);
    for (double t : {0.25, 0.75, 0.9, 1.1, 1.6}) EXPECT_NEAR(corner.at(t), std::abs(t - 1.0), 1e-14) << t;
    corner.forgetBefore(1.5);  // keeps what an interpolation after 1.5 needs
    EXPECT_NEAR(corner.at(1.6), 0.6, 1e-14);
    std::vector<double> corners;
    corner.appendCorners(0.0, 2.0, corners);
    EXPECT_EQ(corners, std::vector<double>{1.0});
}
