// A circuit split along its one-way couplings: a block that reads another's
// node without driving it runs downstream on its own steps, reading that
// node's trajectory.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "oscillator.h"
#include "sim/circuit_partition.h"
#include "sim/simulator.h"

namespace {

using simtest::CircuitBuilder;
using simtest::Oscillator;

constexpr const char* kSwitch = "1,1e9,2.5,0.5,0,-1";     // the oscillator's own: 2 V .. 3 V
constexpr const char* kWatcher = "1,1e9,2.5,0.25,0,-1";   // closes at 2.75 V, opens at 2.25 V
constexpr double kStop = 5e-3;

udmhost::SimulationOutput run(udmhost::Circuit& c) {
    std::ostringstream messages;
    return udmhost::simulate(c, messages);
}

std::vector<double> eventsOf(const udmhost::SimulationOutput& out, const std::string& element) {
    std::vector<double> times;
    for (const auto& e : out.events)
        if (e.element == element) times.push_back(e.time);
    return times;
}

// When the oscillator's capacitor crosses 2.75 V rising and 2.25 V falling.
std::vector<double> watcherInstants() {
    using O = Oscillator;
    const double vc = O::kSupply * O::kRoff / (O::kR + O::kRoff), tc = O::kR * O::kRoff / (O::kR + O::kRoff) * O::kC;
    const double vd = O::kSupply * O::kRon / (O::kR + O::kRon), td = O::kR * O::kRon / (O::kR + O::kRon) * O::kC;
    const std::vector<double> oscillator = O::instants(kStop);
    std::vector<double> out = {tc * std::log(vc / (vc - 2.75))};
    for (size_t k = 0; k < oscillator.size(); ++k) {
        const bool closed = k % 2 == 0;  // discharging from 3 V, else charging from 2 V
        const double t = closed ? oscillator[k] + td * std::log((3.0 - vd) / (2.25 - vd))
                                : oscillator[k] + tc * std::log((vc - 2.0) / (vc - 2.75));
        if (t <= kStop) out.push_back(t);
    }
    return out;
}

// An oscillator, and a second switch on its own load that watches the
// oscillator's capacitor.
CircuitBuilder watchedOscillator() {
    auto b = Oscillator::circuit(PROBE_PLUGIN_PATH, kSwitch, kStop);
    b.resistor("R2", "in", "out", 1e3);
    const int y = b.plugIn("Y2", PROBE_PLUGIN_PATH, {"out", "0", "cap", "0"}, kWatcher);
    b.printVoltage("out");
    b.printOutput(y, "STATE");
    return b;
}

TEST(Multirate, ASwitchWatchingAnOscillatorRunsDownstreamOfIt) {
    auto b = watchedOscillator();
    const auto blocks = udmhost::sim::partitionCircuit(b.circuit(), udmhost::sim::splittingRoles(b.circuit()));
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].exports.size(), 1u);  // the capacitor, upstream first
    EXPECT_EQ(blocks[1].inputs.size(), 1u);

    const auto out = run(b.circuit());
    EXPECT_EQ(out.stats.parts, 2);
    // Upstream runs exactly as alone; downstream finds every crossing on its trajectory.
    auto alone = Oscillator::circuit(PROBE_PLUGIN_PATH, kSwitch, kStop);
    const auto single = eventsOf(run(alone.circuit()), "Y1"), upstream = eventsOf(out, "Y1");
    ASSERT_EQ(upstream.size(), single.size());
    for (size_t k = 0; k < single.size(); ++k) EXPECT_EQ(upstream[k], single[k]) << k;
    const auto expected = watcherInstants(), watcher = eventsOf(out, "Y2");
    ASSERT_EQ(watcher.size(), expected.size());
    for (size_t k = 0; k < expected.size(); ++k) EXPECT_NEAR(watcher[k], expected[k], 1e-6) << k;
    // Located on the upstream trajectory itself, not on a parabola through
    // the downstream points, which cuts the corners of the discharge: few
    // trials show a switching that was not predicted (one per switching before).
    EXPECT_LT(2 * out.stats.rejected, out.stats.events);
    // The load follows the watcher's state: 5 V through 1 kOhm into 1 Ohm
    // when closed (with UIC the first row has only the sources solved).
    for (const auto& row : out.rows) {
        if (row[0] == 0.0) continue;
        EXPECT_NEAR(row[3], row[4] == 1.0 ? 5.0 / 1001.0 : 5.0 * 1e9 / (1e9 + 1e3), 1e-6) << "t=" << row[0];
    }
}

// A plug-in that drives a node it has no matrix entries for cannot be split
// from it: the run notices and simulates the circuit whole.
TEST(Multirate, APlugInDrivingItsControlNodeIsSimulatedWhole) {
    auto leaking = [] {
        auto b = watchedOscillator();
        b.circuit().elements.back().definitionText = "1,1e9,2.5,0.25,0,-2";
        return b;
    };
    auto split = leaking(), whole = leaking(), tight = watchedOscillator();
    whole.printVoltage("cap");
    udmhost::PrintItem across;  // a difference across the parts keeps the circuit whole
    across.kind = udmhost::PrintItem::Kind::NodeDifference;
    across.label = "V(cap,out)";
    across.node1 = whole.node("cap");
    across.node2 = whole.node("out");
    whole.circuit().prints.push_back(across);
    const auto tried = run(split.circuit());
    EXPECT_EQ(tried.stats.parts, 1);
    const auto expected = eventsOf(run(whole.circuit()), "Y2"), got = eventsOf(tried, "Y2");
    EXPECT_EQ(got, expected);
    EXPECT_NE(got, eventsOf(run(tight.circuit()), "Y2"));  // the leak does change the run
}

// A linear element reading an upstream node (E's control) follows its
// trajectory between rows, corners included.
TEST(Multirate, AControlledSourceFollowsTheUpstreamTrajectory) {
    auto b = Oscillator::circuit(PROBE_PLUGIN_PATH, kSwitch, kStop);
    const int e = b.add(udmhost::Element::Kind::VoltageControlledVoltage, "E1", "out", "0", 2.0);
    b.element(e).nodes.push_back(b.node("cap"));
    b.element(e).nodes.push_back(0);
    b.resistor("RL", "out", "0", 1e3);
    b.printVoltage("out");
    const auto blocks = udmhost::sim::partitionCircuit(b.circuit(), udmhost::sim::splittingRoles(b.circuit()));
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_TRUE(blocks[1].inputCornersMatter);
    const auto out = run(b.circuit());
    ASSERT_EQ(eventsOf(out, "Y1").size(), Oscillator::instants(kStop).size());
    // Each block's rows are interpolated between its own points, so the two
    // agree to that interpolation, far closer than a point missed (some
    // 0.1 of the value). A row inside the 0.4 us discharge lies between
    // points up to 0.2 us apart, over which a straight line is off the
    // exponential by up to some 15 mV (h^2 v''/8); the two blocks need not
    // step alike there.
    for (const auto& row : out.rows) {
        if (row[0] == 0.0) continue;  // with UIC only the sources are solved there
        EXPECT_NEAR(row[3], 2.0 * row[1], 4e-3 * row[3]) << "t=" << row[0];
    }
}

}  // namespace
