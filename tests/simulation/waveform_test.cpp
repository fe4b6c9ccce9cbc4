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

// A triangle written with no width (PW 0, read as TSTOP) repeats its rise
// at every period start, as SPICE's points follow it; only a width given
// past the period holds V2.
TEST(Waveform, OnlyAGivenWidthPastThePeriodHoldsTheTop) {
    // v1 -1, v2 1, td 0, tr 0.5, tf 0.5, pw 10 (TSTOP), per 1, np 0, width given?
    for (const double given : {0.0, 1.0}) {
        const auto w = simtest::waveform(Waveform::Kind::Pulse, {-1, 1, 0, 0.5, 0.5, 10, 1, 0, given});
        EXPECT_DOUBLE_EQ(waveformValue(w, 0.25), 0.0) << given;
        EXPECT_DOUBLE_EQ(waveformValue(w, 3.25), given != 0.0 ? 1.0 : 0.0) << given;
    }
}

TEST(Waveform, PulseWithoutPeriodHappensOnce) {
    const auto w = simtest::waveform(Waveform::Kind::Pulse, {1, 2, 0, 1e-3, 1e-3, 1e-3});
    EXPECT_DOUBLE_EQ(waveformValue(w, 2e-3), 2.0);
    EXPECT_DOUBLE_EQ(waveformValue(w, 1.0), 1.0);
}

// ngspice's PULSE: past a whole period each period restarts with the rise
// from V1, unless TR + PW reaches past the period (then V2 is held from the
// first rise on); np ends the train at V1.
TEST(Waveform, PulseEdgeCasesAsNgspice) {
    struct Case {
        std::vector<double> args;
        std::vector<std::pair<double, double>> values;  // time, value
        std::vector<double> breakpoints;                // up to t = 10
    };
    const std::vector<Case> cases = {
        // pw > per: on from the first rise, held through every later period start
        {{0, 1, 1, 0.5, 0.5, 5, 2},
         {{1.0, 0.0}, {1.25, 0.5}, {2.9, 1.0}, {3.0, 1.0}, {3.25, 1.0}, {4.0, 1.0}, {9.1, 1.0}},
         {1, 1.5}},
        // tr + pw = per exactly, a train of 3: held, then V1 after the third period
        {{5, 0, 1, 1, 1, 1, 2, 3},
         {{1.5, 2.5}, {3.1, 0.0}, {6.9, 0.0}, {7.1, 5.0}},
         {1, 2, 7}},
        // tr + pw just short of per: the fall and the next rise still show
        {{0, 1, 0, 0.5, 0.5, 1.4, 2},
         {{1.9, 1.0}, {2.0, 0.8}, {2.25, 0.5}},
         {0, 0.5, 1.9, 2, 2.5, 3.9, 4, 4.5, 5.9, 6, 6.5, 7.9, 8, 8.5, 9.9, 10}},
        // tr + pw + tf > per: the fall is cut short by the next rise
        {{0, 2, 0, 1, 1, 1.5, 3},
         {{0.5, 1.0}, {2.5, 2.0}, {2.99, 1.02}, {3.0, 1.0}, {3.5, 1.0}, {6.0, 0.0}},
         {0, 1, 2.5, 3, 4, 5.5, 6, 7, 8.5, 9, 10}},
        // np = 2: two pulses, then V1 for good
        {{0, 1, 0, 0.1, 0.1, 0.5, 1, 2},
         {{0.3, 1.0}, {1.3, 1.0}, {2.3, 0.0}, {5.3, 0.0}},
         {0, 0.1, 0.6, 0.7, 1, 1.1, 1.6, 1.7, 2}},
    };
    for (const Case& c : cases) {
        const auto w = simtest::waveform(Waveform::Kind::Pulse, c.args);
        for (const auto& [t, v] : c.values) EXPECT_NEAR(waveformValue(w, t), v, 1e-12) << c.args[5] << " at " << t;
        std::vector<double> bps;
        appendBreakpoints(w, 10.0, bps);
        std::sort(bps.begin(), bps.end());
        ASSERT_EQ(bps.size(), c.breakpoints.size()) << c.args[5];
        for (size_t i = 0; i < bps.size(); ++i) EXPECT_NEAR(bps[i], c.breakpoints[i], 1e-12) << c.args[5];
    }
}

// Values checked against ngspice 39 runs of the same sources.
TEST(Waveform, SffmAndAmAsNgspice) {
    const auto fm = simtest::waveform(Waveform::Kind::Sffm, {0.1, 1, 1e3, 2, 300, 45, 90});
    EXPECT_NEAR(waveformValue(fm, 3.028e-4), -0.842265, 1e-6);
    EXPECT_NEAR(waveformValue(fm, 1.9328e-3), -0.883775, 1e-6);
    const auto am = simtest::waveform(Waveform::Kind::Am, {1.5, 0.5, 200, 2e3, 1e-4, 30, 60});
    EXPECT_EQ(waveformValue(am, 0.9e-4), 0.0);  // before its delay
    EXPECT_NEAR(waveformValue(am, 3.028e-4), -0.963282, 1e-6);
    EXPECT_NEAR(waveformValue(am, 1.9328e-3), -0.381748, 1e-6);
    std::vector<double> bps;
    appendBreakpoints(am, 1.0, bps);
    EXPECT_EQ(bps, (std::vector<double>{1e-4}));
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
