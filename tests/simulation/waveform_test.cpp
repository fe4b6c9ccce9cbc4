#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "circuit_builder.h"
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
