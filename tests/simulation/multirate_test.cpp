// A circuit split along its one-way couplings: a block that reads another's
// node without driving it runs downstream on its own steps, reading that
// node's trajectory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "oscillator.h"
#include "sim/circuit_partition.h"
#include "sim/simulator.h"
#include "sim/transient_engine.h"

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

// The same circuit as one block, on one set of steps.
udmhost::SimulationOutput runWhole(udmhost::Circuit& c) {
    std::ostringstream messages;
    const udmhost::ProgressFn none;
    udmhost::sim::TransientEngine engine(c, messages, none);
    return engine.run();
}

double largestDifference(const std::vector<double>& a, const std::vector<double>& b) {
    EXPECT_EQ(a.size(), b.size());
    double worst = 0.0;
    for (size_t k = 0; k < std::min(a.size(), b.size()); ++k) worst = std::max(worst, std::abs(a[k] - b[k]));
    return worst;
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

// Two-way couplings through 20 kOhm into 1 uF (20 ms, 200 of the largest
// steps): the oscillator, a node beside it and a slow node beyond that each
// run on their own steps. The slow node takes the largest steps while the
// oscillator switches; the waveforms are those of one block.
TEST(Multirate, ASwitchingInOneCornerLeavesADistantSlowNodeOnItsOwnSteps) {
    auto b = Oscillator::circuit(PROBE_PLUGIN_PATH, kSwitch, kStop);
    b.resistor("RK1", "cap", "near", 20e3);
    b.capacitor("CN", "near", "0", 1e-6, 0.0);
    b.resistor("RK2", "near", "slow", 20e3);
    b.capacitor("CS", "slow", "0", 10e-6, 0.0);
    b.resistor("RS", "in", "slow", 10e3);
    b.printVoltage("slow");
    b.tran(100e-6, kStop, true);
    const auto out = run(b.circuit()), whole = runWhole(b.circuit());
    ASSERT_EQ(out.stats.parts, 3);
    const double floor = kStop / 100e-6;  // points the largest step takes anyway
    std::printf("[ figures  ] parts of %ld to %ld accepted points, %ld as one block\n", out.stats.fewestPartPoints,
                out.stats.mostPartPoints, whole.stats.accepted);
    EXPECT_LE(static_cast<double>(out.stats.fewestPartPoints), floor + 5.0);  // and a few to start
    EXPECT_GT(static_cast<double>(out.stats.mostPartPoints), 2.0 * floor);
    EXPECT_LT(largestDifference(eventsOf(out, "Y1"), eventsOf(whole, "Y1")), 1e-6);
    ASSERT_EQ(out.rows.size(), whole.rows.size());
    const size_t slow = out.rows.front().size() - 1;
    for (size_t r = 0; r < out.rows.size(); ++r) EXPECT_NEAR(out.rows[r][slow], whole.rows[r][slow], 1e-5) << r;
}

// Neighbours that switch within a microsecond of each other: each reads
// the other ahead only as far as the other has looked for a switching. Read
// a whole step ahead past a neighbour's unforeseen switching, the middle
// oscillator here drifted early by some 0.9 us a period.
TEST(Multirate, NeighboursSwitchingTogetherKeepTheirInstants) {
    udmhost::Circuit circuits[2];
    for (double reltol : {1e-3, 1e-7}) {
        CircuitBuilder b;
        b.voltage("V1", "in", "0", simtest::dc(5.0));
        for (int i = 0; i < 3; ++i) {
            const std::string n = std::to_string(i), cap = "c" + n;
            b.resistor("R" + n, "in", cap, 1e3 * (1.0 + 0.0016 * i));
            b.capacitor("C" + n, cap, "0", 1e-6, 0.0);
            b.plugIn("Y" + n, PROBE_PLUGIN_PATH, {cap, "0", cap, "0"}, kSwitch);
            b.resistor("RK" + n, cap, "c" + std::to_string((i + 1) % 3), 10e3);
        }
        b.printVoltage("c0");
        b.tran(20e-6, kStop, true);
        b.circuit().options.reltol = reltol;
        circuits[reltol > 1e-5 ? 0 : 1] = b.circuit();
    }
    const auto out = run(circuits[0]), tight = runWhole(circuits[1]);
    ASSERT_EQ(out.stats.parts, 3);
    for (const char* y : {"Y0", "Y1", "Y2"}) EXPECT_LT(largestDifference(eventsOf(out, y), eventsOf(tight, y)), 1e-6) << y;
}

// Each block starts from the whole circuit's operating point: a divider
// through the coupling holds still from its first row. Under UIC, from the
// values just after the start: two capacitors hung from the supply start
// their nodes at 5 V, where the start (only the sources solved) shows 0 V.
TEST(Multirate, LooselyCoupledBlocksStartFromTheWholeCircuitsOperatingPoint) {
    CircuitBuilder b;
    b.voltage("V1", "in", "0", simtest::dc(6.0));
    b.resistor("R1", "in", "a", 1e3);
    const int ca = b.capacitor("CA", "a", "0", 1e-6);
    b.resistor("RK", "a", "b", 10e3);
    const int cb = b.capacitor("CB", "b", "0", 1e-6);
    b.resistor("R2", "b", "0", 1e3);
    b.printVoltage("a");
    b.printVoltage("b");
    b.tran(1e-6, 1e-4, false);
    b.element(ca).hasInitialCondition = b.element(cb).hasInitialCondition = false;
    const auto out = run(b.circuit());
    ASSERT_EQ(out.stats.parts, 2);
    for (const auto& row : out.rows) {
        EXPECT_NEAR(row[1], 6.0 * 11.0 / 12.0, 1e-9) << "t=" << row[0];
        EXPECT_NEAR(row[2], 6.0 / 12.0, 1e-9) << "t=" << row[0];
    }

    CircuitBuilder hung;
    hung.voltage("V1", "in", "0", simtest::dc(5.0));
    hung.capacitor("CA", "a", "in", 1e-6);
    hung.resistor("RA", "a", "0", 1e3);
    hung.resistor("RK", "a", "b", 10e3);
    hung.capacitor("CB", "b", "in", 1e-6);
    hung.resistor("RB", "b", "0", 100e3);
    hung.printVoltage("b");
    hung.tran(1e-6, 1e-4, true);
    const auto split = run(hung.circuit()), whole = runWhole(hung.circuit());
    ASSERT_EQ(split.stats.parts, 2);
    ASSERT_EQ(split.rows.size(), whole.rows.size());
    for (size_t r = 1; r < split.rows.size(); ++r) EXPECT_NEAR(split.rows[r][1], whole.rows[r][1], 2e-6) << r;
}

}  // namespace
