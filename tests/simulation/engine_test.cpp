// The time loop's own behaviour: what each switching costs, where the
// located instants put the circuit, the initial point with UIC, the
// derivatives a plug-in is handed, rejected steps, and a switch that cannot
// hold any state.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <tuple>

#include "oscillator.h"
#include "sim/simulator.h"

namespace {

using simtest::CircuitBuilder;
using simtest::Oscillator;
using udmhost::Waveform;

constexpr const char* kSwitch = "1,1e9,2.5,0.5,0,-1";  // RON ROFF VTHRES VHYST CTRL0 FAILAT

udmhost::SimulationOutput run(udmhost::Circuit& c) {
    std::ostringstream messages;
    return udmhost::simulate(c, messages);
}

// Each switching lands the capacitor on the threshold that caused it: a
// location that overshoots, or a restart that integrates the first steps
// after it badly, leaves it off by far more than a millivolt.
TEST(Engine, EveryRowAtASwitchingHasTheCapacitorOnItsThreshold) {
    auto b = Oscillator::circuit(PROBE_PLUGIN_PATH, kSwitch, 5e-3);
    b.circuit().options.printAllPoints = true;
    const auto out = run(b.circuit());
    ASSERT_EQ(out.events.size(), Oscillator::instants(5e-3).size());
    double state = out.rows.front()[2];
    int switchings = 0;
    for (const auto& row : out.rows) {
        if (row[2] == state) continue;
        state = row[2];
        ++switchings;
        EXPECT_NEAR(row[1], state == 1.0 ? Oscillator::kClose : Oscillator::kOpen, 1e-3) << "t=" << row[0];
    }
    EXPECT_EQ(switchings, static_cast<int>(out.events.size()));
}

// After a closing the second step is a backward difference checked by the
// flows at its ends: with a tighter tolerance its error, against the exact
// discharge from the point before it, shrinks with it (an estimate that let
// the first guess through would leave some 3 mV).
TEST(Engine, TheBackwardDifferenceAfterAClosingKeepsItsTolerance) {
    auto b = Oscillator::circuit(PROBE_PLUGIN_PATH, kSwitch, 2e-3);
    b.circuit().options.printAllPoints = true;
    b.circuit().options.reltol = 1e-4;
    const auto out = run(b.circuit());
    using O = Oscillator;
    const double vd = O::kSupply * O::kRon / (O::kR + O::kRon), td = O::kR * O::kRon / (O::kR + O::kRon) * O::kC;
    int closings = 0;
    for (size_t k = 1; k + 2 < out.rows.size(); ++k) {
        if (out.rows[k][2] != 1.0 || out.rows[k - 1][2] != 0.0) continue;
        ++closings;
        const auto &first = out.rows[k + 1], &second = out.rows[k + 2];
        const double exact = vd + (first[1] - vd) * std::exp(-(second[0] - first[0]) / td);
        EXPECT_NEAR(second[1], exact, 5e-4) << "t=" << second[0];
    }
    EXPECT_EQ(closings, 3);
}

// Oscillators on one supply but otherwise independent are integrated each on
// its own steps: they switch at the very instants each has alone (a shared
// time grid would move them by its different steps), and each switching
// costs a bounded number of points.
TEST(Engine, AnOscillatorBankSwitchesAsEachOscillatorAlone) {
    const double resistances[] = {1000.0, 1130.0, 1270.0};
    const double stop = 5e-3;
    auto single = [&](double r) {
        auto b = Oscillator::circuit(PROBE_PLUGIN_PATH, kSwitch, stop);
        b.circuit().elements[1].value = r;
        return run(b.circuit()).events;
    };
    CircuitBuilder bank;
    bank.voltage("V1", "in", "0", simtest::dc(Oscillator::kSupply));
    for (int i = 0; i < 3; ++i) {
        const std::string k = std::to_string(i), cap = "cap" + k;
        bank.resistor("R" + k, "in", cap, resistances[i]);
        bank.capacitor("C" + k, cap, "0", Oscillator::kC, 0.0);
        bank.plugIn("Y" + k, PROBE_PLUGIN_PATH, {cap, "0", cap, "0"}, kSwitch);
    }
    bank.printVoltage("cap0");
    bank.tran(10e-6, stop, true);
    const auto out = run(bank.circuit());
    size_t total = 0;
    for (int i = 0; i < 3; ++i) {
        const auto alone = single(resistances[i]);
        std::vector<double> inBank;
        for (const auto& e : out.events)
            if (e.element == "Y" + std::to_string(i)) inBank.push_back(e.time);
        ASSERT_EQ(inBank.size(), alone.size()) << "oscillator " << i;
        for (size_t k = 0; k < alone.size(); ++k) EXPECT_NEAR(inBank[k], alone[k].time, 1e-12) << i << ":" << k;
        total += alone.size();
    }
    ASSERT_EQ(out.events.size(), total);
    const double stepLimited = stop / 10e-6;
    EXPECT_LT(static_cast<double>(out.stats.accepted), 3.0 * stepLimited + 12.0 * static_cast<double>(total));
    ASSERT_EQ(out.columns, (std::vector<std::string>{"time", "V(cap0)"}));
    EXPECT_EQ(out.rows.back()[0], stop);
}

// A switch whose control is another block's node: the load switches where
// the oscillator's capacitor crosses the load switch's threshold, in every
// cycle, whatever the blocks are integrated as.
TEST(Engine, ASwitchControlledFromAnotherBlockFollowsIt) {
    auto b = Oscillator::circuit(PROBE_PLUGIN_PATH, kSwitch, 3e-3);
    b.resistor("Rload", "in", "load", 100.0);
    b.plugIn("Yload", PROBE_PLUGIN_PATH, {"load", "0", "cap", "0"}, "1,1e9,2.5,0,0,-1");
    const auto out = run(b.circuit());
    std::vector<double> oscillator, load;
    for (const auto& e : out.events) (e.element == "Y1" ? oscillator : load).push_back(e.time);
    ASSERT_EQ(oscillator.size(), Oscillator::instants(3e-3).size());
    // The capacitor rises through 2.5 V before each closing and falls
    // through it in the discharge after: two load switchings per cycle.
    ASSERT_EQ(load.size(), oscillator.size());
    const double vc = Oscillator::kSupply * Oscillator::kRoff / (Oscillator::kR + Oscillator::kRoff);
    const double tc = Oscillator::kR * Oscillator::kRoff / (Oscillator::kR + Oscillator::kRoff) * Oscillator::kC;
    EXPECT_NEAR(load.front(), tc * std::log(vc / (vc - 2.5)), 1e-6);
    for (size_t k = 0; k < load.size(); ++k) {
        if (k % 2 == 0) EXPECT_LT(load[k], oscillator[k]) << k;     // rises through 2.5 V, then closes at 3 V
        else EXPECT_GT(load[k], oscillator[k - 1]) << k;            // falls through 2.5 V after the closing
    }
}

// A switch across its own control node has no consistent state: the run
// stops early with the instance's name instead of switching forever.
TEST(Engine, ASwitchThatCannotHoldAStateStopsTheRun) {
    CircuitBuilder b;
    b.voltage("V1", "in", "0", simtest::dc(5.0));
    b.resistor("R1", "in", "a", 1e3);
    b.plugIn("Yself", PROBE_PLUGIN_PATH, {"a", "0", "a", "0"}, kSwitch);
    b.printVoltage("a");
    b.tran(1e-6, 1e-3, true);
    try {
        run(b.circuit());
        FAIL() << "the run went on";
    } catch (const udmhost::SimulationError& e) {
        EXPECT_NE(std::string(e.what()).find("Yself changes state at nearly every time step"), std::string::npos)
            << e.what();
    }
}

// A grid or a largest step that would take astronomically many rows or
// steps is refused before the run, not after hours or an allocation failure.
TEST(Engine, AbsurdStepCountsAreRefusedAtOnce) {
    for (const auto& [step, maxStep, what] : {std::tuple{1e-15, 0.0, "TSTEP"}, std::tuple{1e-300, 0.0, "TSTEP"},
                                             std::tuple{1e-3, 1e-15, "TMAX"}}) {
        CircuitBuilder b;
        b.voltage("V1", "in", "0", simtest::dc(1.0));
        b.resistor("R1", "in", "0", 1e3);
        b.tran(step, 1.0, false);
        b.circuit().tran.maxStep = maxStep;
        try {
            run(b.circuit());
            ADD_FAILURE() << what << " accepted";
        } catch (const udmhost::SimulationError& e) {
            EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
        }
    }
}

// With UIC, sources have their values from the first row on: a switch
// controlled by a DC source starts in the state that value gives, and never
// "switches" as the source would rise from 0 V.
TEST(Engine, UicFirstRowHasTheSourcesAndNoSpuriousSwitching) {
    CircuitBuilder b;
    b.voltage("Vctl", "ctl", "0", simtest::dc(4.0));
    b.voltage("V1", "in", "0", simtest::dc(5.0));
    b.resistor("R1", "in", "out", 1e3);
    const int y = b.plugIn("Y1", PROBE_PLUGIN_PATH, {"out", "0", "ctl", "0"}, kSwitch);
    b.printVoltage("ctl");
    b.printVoltage("in");
    b.printOutput(y, "STATE");
    b.tran(1e-6, 1e-4, true);
    const auto out = run(b.circuit());
    EXPECT_EQ(out.rows.front()[0], 0.0);
    EXPECT_EQ(out.rows.front()[1], 4.0);
    EXPECT_EQ(out.rows.front()[2], 5.0);
    EXPECT_EQ(out.rows.front()[3], 1.0);
    EXPECT_TRUE(out.events.empty()) << out.events.front().time;
}

// A plug-in reads node derivatives; under the trapezoidal rule they are
// 2/h (x - x_prev) - x'_prev, and a wrong coefficient or a missing history
// term shows at once against the exact derivative of an RC charge.
TEST(Engine, APluginIsHandedTheExactDerivativeUnderTheTrapezoidalRule) {
    CircuitBuilder b;
    b.voltage("V1", "in", "0", simtest::dc(1.0));
    b.resistor("R1", "in", "cap", 1e3);
    b.capacitor("C1", "cap", "0", 1e-6, 0.0);
    const int y = b.plugIn("Yp", PROBE_PLUGIN_PATH, {"cap", "0", "cap", "0"}, "1,1e12,100,0,0,-1");
    b.printOutput(y, "DN1");
    b.tran(10e-6, 5e-3, true);
    b.circuit().options.reltol = 1e-6;
    b.circuit().options.printAllPoints = true;
    const auto out = run(b.circuit());
    ASSERT_GT(out.rows.size(), 20u);
    for (size_t i = 3; i < out.rows.size(); ++i) {  // after the backward Euler steps of the start
        const double t = out.rows[i][0], exact = std::exp(-t / 1e-3) / 1e-3;
        EXPECT_NEAR(out.rows[i][1], exact, 1e-3 * 1e3) << "t=" << t;
    }
}

// After each switching the trapezoidal rule starts from the derivative the
// backward Euler steps of the restart leave; a first-order one makes the
// following steps ring around the true derivative with alternating sign,
// unseen by the truncation estimate, and in a hysteretic buck converter
// (an LC filter switched every few microseconds) that moves every later
// instant. With the default tolerances they stay close to a tight run's.
TEST(Engine, AHystereticBuckSwitchesAsWithTightTolerances) {
    auto buck = [](double reltol) {
        CircuitBuilder b;
        b.voltage("VIN", "vin", "0", simtest::dc(12.0));
        b.voltage("VREF", "ref", "0", simtest::dc(5.0));
        b.plugIn("YHI", PROBE_PLUGIN_PATH, {"vin", "sw", "ref", "out"}, "0.01,1e9,0,0.02,1,-1");
        b.plugIn("YLO", PROBE_PLUGIN_PATH, {"sw", "0", "out", "ref"}, "0.01,1e9,0,0.02,0,-1");
        b.inductor("L1", "sw", "out", 22e-6);
        b.capacitor("C1", "out", "esr", 47e-6, 0.0);
        b.resistor("RESR", "esr", "0", 0.02);
        b.resistor("RLOAD", "out", "0", 2.5);
        b.printVoltage("out");
        b.tran(1e-6, 2e-3, true);
        b.circuit().options.reltol = reltol;
        std::vector<double> instants;
        for (const auto& e : run(b.circuit()).events)
            if (e.element == "YHI") instants.push_back(e.time);
        return instants;
    };
    const auto ours = buck(1e-3), tight = buck(1e-8);
    ASSERT_GT(tight.size(), 200u);
    ASSERT_EQ(ours.size(), tight.size());
    double worst = 0.0;
    for (size_t k = 0; k < ours.size(); ++k) worst = std::max(worst, std::abs(ours[k] - tight[k]));
    EXPECT_LT(worst, 4e-7);
    std::printf("[ figures  ] buck: %zu switchings, largest instant difference %.3g s\n", ours.size(), worst);
}

// The second-order backward difference (method gear): the RC charge and the
// derivative a plug-in is handed follow the exact ones; a wrong coefficient
// of the variable-step formula shows as soon as the step changes.
TEST(Engine, GearFollowsAnRcChargeAndHandsItsDerivative) {
    CircuitBuilder b;
    b.voltage("V1", "in", "0", simtest::dc(1.0));
    b.resistor("R1", "in", "cap", 1e3);
    b.capacitor("C1", "cap", "0", 1e-6, 0.0);
    const int y = b.plugIn("Yp", PROBE_PLUGIN_PATH, {"cap", "0", "cap", "0"}, "1,1e12,100,0,0,-1");
    b.printVoltage("cap");
    b.printOutput(y, "DN1");
    b.tran(10e-6, 5e-3, true);
    b.circuit().options.method = udmhost::Options::Method::Gear;
    b.circuit().options.reltol = 1e-6;
    b.circuit().options.printAllPoints = true;
    const auto out = run(b.circuit());
    ASSERT_GT(out.rows.size(), 20u);
    for (size_t i = 3; i < out.rows.size(); ++i) {
        const double t = out.rows[i][0], decay = std::exp(-t / 1e-3);
        EXPECT_NEAR(out.rows[i][1], 1.0 - decay, 3e-5) << "t=" << t;  // second order at the 10 us largest step
        EXPECT_NEAR(out.rows[i][2], decay / 1e-3, 1e-3 * 1e3) << "t=" << t;
    }
}

// Steps the truncation error rejects leave nothing behind: a fast sine
// through an RC forces rejections, and the accepted points still follow the
// exact response as closely as the tolerance asks.
TEST(Engine, StepsRejectedForTruncationErrorLeaveNoTrace) {
    CircuitBuilder b;
    b.voltage("V1", "in", "0", simtest::waveform(Waveform::Kind::Sin, {0.0, 1.0, 10e3, 0.0, 0.0}));
    b.resistor("R1", "in", "out", 1e3);
    b.capacitor("C1", "out", "0", 1e-6, 0.0);
    b.printVoltage("out");
    b.tran(20e-6, 1e-3, true);
    b.circuit().options.reltol = 1e-6;
    b.circuit().options.printAllPoints = true;
    const auto out = run(b.circuit());
    EXPECT_GT(out.stats.rejected, 0);
    // v' = (sin(wt) - v)/tau from v(0) = 0.
    const double w = 2.0 * std::acos(-1.0) * 10e3, tau = 1e-3, k = w * tau;
    for (const auto& row : out.rows) {
        const double t = row[0];
        const double exact = (std::sin(w * t) - k * std::cos(w * t) + k * std::exp(-t / tau)) / (1.0 + k * k);
        EXPECT_NEAR(row[1], exact, 1e-5) << "t=" << t;  // of an amplitude of 0.03
    }
}

}  // namespace
