// What the Newton loop may skip: the evaluation of an instance whose inputs
// did not move (bypass), and the factorisation of a matrix whose values did
// not change. Neither may change what the run computes.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "oscillator.h"
#include "sim/simulator.h"

namespace {

using simtest::CircuitBuilder;
using simtest::Oscillator;

constexpr const char* kSwitch = "1,1e9,2.5,0.5,0,-1";  // RON ROFF VTHRES VHYST CTRL0 FAILAT

udmhost::SimulationOutput run(udmhost::Circuit& c) {
    std::ostringstream messages;
    return udmhost::simulate(c, messages);
}

// The oscillator beside a second switch that loads a divider on its supply
// and whose control is a slow ramp: its loaded terminals hold still
// (bypassed) while its control creeps through the thresholds.
// A bypass that kept a stamp across the jump, across an acceptance that
// moved a switch's state, or for a control within the tolerance of its
// threshold would move or lose a switching of one of the two.
CircuitBuilder oscillatorWithGatedLoad(bool bypass) {
    auto b = Oscillator::circuit(PROBE_PLUGIN_PATH, kSwitch, 4e-3);
    // Up through the closing threshold (3 V) and down through the opening
    // one (2 V) slowly: a few millivolts per step, within a loose tolerance.
    udmhost::Waveform gate;
    gate.kind = udmhost::Waveform::Kind::Pwl;
    gate.args = {0.0, 0.0, 0.5e-3, 2.9, 1.5e-3, 3.1, 2.5e-3, 3.1, 3.5e-3, 1.9, 4e-3, 1.9};
    b.voltage("VG", "gate", "0", gate);
    b.resistor("RL", "in", "load", 2e3);
    b.printVoltage("load");
    b.plugIn("YL", PROBE_PLUGIN_PATH, {"load", "0", "gate", "0"}, "1,1e9,2.5,0.5,0,-1");
    b.circuit().options.bypass = bypass;
    return b;
}

TEST(Bypass, BypassedInstancesGiveTheWaveformOfEvaluatedOnes) {
    auto on = oscillatorWithGatedLoad(true);
    auto off = oscillatorWithGatedLoad(false);
    const auto bypassed = run(on.circuit()), evaluated = run(off.circuit());
    EXPECT_GT(bypassed.stats.bypassed * 20, bypassed.stats.evaluations);
    EXPECT_EQ(evaluated.stats.bypassed, 0);
    // The load's switch closes and opens with the gate, once each.
    int gateEvents = 0;
    for (const auto& e : bypassed.events) gateEvents += e.element == "YL";
    EXPECT_EQ(gateEvents, 2);
    ASSERT_EQ(bypassed.events.size(), evaluated.events.size());
    for (size_t k = 0; k < bypassed.events.size(); ++k) {
        EXPECT_EQ(bypassed.events[k].element, evaluated.events[k].element) << k;
        EXPECT_NEAR(bypassed.events[k].time, evaluated.events[k].time, 1e-8) << k;
    }
    // Rows on the same grid: the capacitor within the Newton tolerances of
    // the run that evaluated every instance (reltol of 3 V, a few vntol).
    ASSERT_FALSE(bypassed.rows.empty());
    const auto& a = bypassed.rows.back();
    const auto& b = evaluated.rows.back();
    EXPECT_EQ(a[0], b[0]);
    for (size_t i = 1; i < b.size(); ++i) EXPECT_NEAR(a[i], b[i], 1e-3 * std::abs(b[i]) + 1e-5) << i;
}

// RC charge from a constant supply at the largest step: the matrix is the
// same at every point of equal step, so most iterations reuse the factor,
// and the trapezoidal solution stays on the exponential.
TEST(FactorReuse, AReusedFactorGivesTheSameSolution) {
    CircuitBuilder b;
    b.voltage("V1", "in", "0", simtest::dc(5.0));
    b.resistor("R1", "in", "cap", 1e3);
    b.capacitor("C1", "cap", "0", 1e-6, 0.0);
    b.printVoltage("cap");
    b.tran(10e-6, 5e-3, true);
    b.circuit().options.printAllPoints = true;
    const auto out = run(b.circuit());
    EXPECT_LT(out.stats.factorisations * 4, out.stats.newtonIterations);
    double worst = 0.0;
    for (const auto& row : out.rows) worst = std::max(worst, std::abs(row[1] - 5.0 * (1.0 - std::exp(-row[0] / 1e-3))));
    EXPECT_LT(worst, 5e-3);
}

}  // namespace
