// A sine-controlled switch connecting a 10 ohm load (with and without a
// capacitor across it) to a 12 V rail: the run gets through every switching,
// at the instants where the sine crosses the thresholds, and every printed
// row is one consistent solution.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <sstream>

#include "oscillator.h"
#include "sim/simulator.h"

namespace {

constexpr double kRail = 12.0, kLoad = 10.0, kRoff = 1e8, kFrequency = 1e3;
constexpr double kClose = 1.5, kOpen = 0.5;  // VTHRES 1 +- VHYST 0.5; the sine is 1 + 2 sin

struct LoadCase {
    const char* name;
    double ron;
    double loadCapacitance;  // 0: none
};

class SwitchedLoad : public ::testing::TestWithParam<LoadCase> {
protected:
    void SetUp() override {
        if (!simtest::hasCatalogue(VCSWITCH_PLUGIN_PATH)) GTEST_SKIP() << "the plug-in lists no catalogue yet";
    }

    udmhost::SimulationOutput run() {
        simtest::CircuitBuilder b;
        const int rail = b.voltage("Vrail", "rail", "0", simtest::dc(kRail));
        b.voltage("Vsine", "ctrl", "0", simtest::waveform(udmhost::Waveform::Kind::Sin, {1.0, 2.0, kFrequency}));
        b.resistor("Rin", "ctrl", "0", 10e3);
        std::ostringstream definition;
        definition.precision(17);
        definition << GetParam().ron << ',' << kRoff << ",1,0.5,0";
        const int sw = b.plugIn("Ysw", VCSWITCH_PLUGIN_PATH, {"rail", "load", "ctrl", "0"}, definition.str());
        b.resistor("Rload", "load", "0", kLoad);
        if (GetParam().loadCapacitance > 0.0) b.capacitor("Cload", "load", "0", GetParam().loadCapacitance);
        b.printVoltage("load");
        b.printCurrent(rail);
        b.printOutput(sw, "STATE");
        b.printOutput(sw, "V");
        b.printOutput(sw, "I");
        b.tran(1e-6, 3e-3, false);
        std::ostringstream messages;
        auto out = udmhost::simulate(b.circuit(), messages);
        EXPECT_EQ(messages.str(), "");
        return out;
    }
};

TEST_P(SwitchedLoad, SwitchesWhereTheSineCrossesTheThresholds) {
    udmhost::SimulationOutput out;
    ASSERT_NO_THROW(out = run());
    // Closing where 1 + 2 sin(wt) rises through 1.5, opening where it falls through 0.5.
    const double w = 2.0 * std::numbers::pi * kFrequency;
    const double closeAt = std::asin((kClose - 1.0) / 2.0) / w;
    const double openAt = (std::numbers::pi - std::asin((kOpen - 1.0) / 2.0)) / w;
    ASSERT_EQ(out.events.size(), 6u);
    for (size_t i = 0; i < out.events.size(); ++i) {
        const double exact = static_cast<double>(i / 2) / kFrequency + (i % 2 == 0 ? closeAt : openAt);
        EXPECT_EQ(out.events[i].newState, i % 2 == 0 ? 1 : 0) << "event " << i;
        EXPECT_NEAR(out.events[i].time, exact, 1e-6 * exact) << "event " << i;
    }
    // Settled at the end (open since 2.54 ms): only ROFF feeds the load.
    EXPECT_NEAR(out.rows.back()[1], kRail * kLoad / (kLoad + kRoff), 1e-9);
}

// The rail feeds nothing but the switch, so its current is the switch's;
// and the switch's current is its voltage times the conductance of the state
// it reports, in every row, the switching instants included.
TEST_P(SwitchedLoad, EveryPrintedRowIsOneConsistentSolution) {
    udmhost::SimulationOutput out;
    ASSERT_NO_THROW(out = run());
    ASSERT_EQ(out.columns,
              (std::vector<std::string>{"time", "V(load)", "I(Vrail)", "Ysw:STATE", "Ysw:V", "Ysw:I"}));
    int inconsistent = 0;
    for (const auto& row : out.rows) {
        const double railCurrent = row[2], state = row[3], voltage = row[4], current = row[5];
        ASSERT_TRUE(state == 0.0 || state == 1.0) << "t=" << row[0];
        const double conductance = state == 1.0 ? 1.0 / GetParam().ron : 1.0 / kRoff;
        const double scale = 1e-9 * std::abs(current) + 1e-12;
        EXPECT_NEAR(voltage, kRail - row[1], 1e-12 * kRail) << "t=" << row[0];
        EXPECT_NEAR(current, voltage * conductance, scale) << "t=" << row[0];
        if (std::abs(current + railCurrent) > 1e-9 * std::abs(current) + 1e-9) {
            ++inconsistent;
            ADD_FAILURE() << "t=" << row[0] << ": the switch carries " << current << " A, the rail supplies "
                          << -railCurrent << " A";
            if (inconsistent > 3) break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Loads, SwitchedLoad,
                         ::testing::Values(LoadCase{"resistive", 10e-3, 0.0}, LoadCase{"capacitive", 10e-3, 100e-9},
                                           LoadCase{"capacitiveRon1", 1.0, 100e-9}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
