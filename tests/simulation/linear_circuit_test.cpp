// The host's own devices in transient runs, against exact solutions.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <sstream>
#include <vector>

#include "circuit_builder.h"
#include "sim/simulator.h"

namespace {

using simtest::CircuitBuilder;
using udmhost::Waveform;

udmhost::SimulationOutput run(udmhost::Circuit& c) {
    std::ostringstream messages;
    return udmhost::simulate(c, messages);
}

TEST(LinearCircuit, RcStepFollowsTheExactExponential) {
    for (const char* solver : {"klu", "eigen"}) {
        CircuitBuilder b;
        b.voltage("V1", "in", "0", simtest::dc(1.0));
        b.resistor("R1", "in", "out", 1e3);
        b.capacitor("C1", "out", "0", 1e-6, 0.0);
        b.printVoltage("out");
        b.tran(10e-6, 5e-3, true);
        b.circuit().options.solver = solver;
        // Tighter than the default, and the accepted points rather than the
        // grid rows interpolated between them: the exact curve to 1e-6.
        b.circuit().options.reltol = 1e-9;
        b.circuit().options.printAllPoints = true;
        const auto out = run(b.circuit());
        ASSERT_GT(out.rows.size(), 50u);
        EXPECT_EQ(out.rows.front()[0], 0.0);
        EXPECT_EQ(out.rows.back()[0], 5e-3);
        double worst = 0.0;
        for (const auto& row : out.rows) worst = std::max(worst, std::abs(row[1] - (1.0 - std::exp(-row[0] / 1e-3))));
        EXPECT_LT(worst, 1e-6) << solver;
    }
}

// The stamp of a capacitor with a terminal at ground leaves that terminal's
// entries out; one with none keeps all four.
TEST(LinearCircuit, ACapacitorChargesAlikeWhicheverWayRoundAndAboveASource) {
    // From 0 V across it, through 1 kOhm from 1 V, its other side at `below` volts.
    auto charge = [](const char* a, const char* b, double below) {
        CircuitBuilder c;
        c.voltage("V1", "in", "0", simtest::dc(1.0));
        if (below != 0.0) c.voltage("V2", "mid", "0", simtest::dc(below));
        c.resistor("R1", "in", "out", 1e3);
        c.capacitor("C1", a, b, 1e-6, 0.0);
        c.printVoltage("out");
        c.tran(10e-6, 5e-3, true);
        c.circuit().options.reltol = 1e-9;
        std::vector<std::vector<double>> rows;
        for (const auto& row : run(c.circuit()).rows) rows.push_back(row);
        return rows;
    };
    const auto outToGround = charge("out", "0", 0.0), groundToOut = charge("0", "out", 0.0);
    EXPECT_EQ(outToGround, groundToOut);
    for (const double below : {0.0, 0.5}) {
        const auto rows = below == 0.0 ? outToGround : charge("out", "mid", below);
        ASSERT_GT(rows.size(), 400u);
        double worst = 0.0;
        // The row at 0 shows the nodes as UIC starts them, without .ic at 0 V.
        for (const auto& row : rows)
            if (row[0] > 0.0) worst = std::max(worst, std::abs(row[1] - (1.0 - (1.0 - below) * std::exp(-row[0] / 1e-3))));
        EXPECT_LT(worst, 1e-6) << below;
    }
}

// A floating capacitor (here one with its ESR) gets a stray capacitance to
// ground at each end; under UIC those start at the nodes' first row, not at
// the voltages the capacitor's IC= puts there. Integrated by the trapezoidal
// rule, what the first step pushed into them kept alternating, 0.35 mV on
// this output here, every step to the end.
TEST(LinearCircuit, AFloatingCapacitorsStrayCapacitanceRingsNotUnderUic) {
    CircuitBuilder c;
    c.current("I1", "0", "a", simtest::dc(1.0));
    c.resistor("RS", "a", "out", 0.01);
    c.capacitor("C1", "out", "esr", 1e-3, 5.0);
    c.resistor("RESR", "esr", "0", 0.01);
    c.resistor("RL", "out", "0", 0.5);
    c.printVoltage("out");
    c.tran(10e-9, 2e-6, true);
    const auto out = run(c.circuit());
    // The capacitor relaxes from 5 V towards I RL with tau = C (RL + ESR);
    // out = (v_C + ESR I) / (1 + ESR / RL).
    double worst = 0.0;
    for (const auto& row : out.rows)
        if (row[0] > 0.0)
            worst = std::max(worst, std::abs(row[1] - (0.5 + 4.5 * std::exp(-row[0] / 0.51e-3) + 0.01) / 1.02));
    EXPECT_LT(worst, 1e-6);
}

TEST(LinearCircuit, OperatingPointStartsInSteadyState) {
    CircuitBuilder b;
    b.voltage("V1", "in", "0", simtest::dc(2.0));
    b.resistor("R1", "in", "out", 1e3);
    b.resistor("R2", "out", "0", 3e3);
    b.capacitor("C1", "out", "0", 1e-6);
    const int v = 0;
    b.printVoltage("out");
    b.printCurrent(v);
    b.tran(1e-5, 1e-3, false);
    const auto out = run(b.circuit());
    for (const auto& row : out.rows) {
        EXPECT_NEAR(row[1], 1.5, 1e-8);  // the operating point has gmin to ground
        EXPECT_NEAR(row[2], -0.5e-3, 1e-11);  // flows out of the source's + terminal
    }
}

TEST(LinearCircuit, RlCurrentRisesWithItsTimeConstant) {
    CircuitBuilder b;
    const int v = b.voltage("V1", "in", "0", simtest::dc(1.0));
    b.resistor("R1", "in", "mid", 100.0);
    b.inductor("L1", "mid", "0", 1e-3);  // tau = 10 us
    b.printCurrent(v);
    b.tran(1e-6, 50e-6, true);
    b.circuit().options.reltol = 1e-9;
    b.circuit().options.printAllPoints = true;
    const auto out = run(b.circuit());
    for (const auto& row : out.rows) EXPECT_NEAR(-row[1], 1e-2 * (1 - std::exp(-row[0] / 1e-5)), 1e-8) << row[0];
}

TEST(LinearCircuit, SourcesDriveAResistorAtEveryTimePoint) {
    CircuitBuilder b;
    b.voltage("V1", "a", "0", simtest::waveform(Waveform::Kind::Sin, {0.5, 1.0, 1e3, 0.2e-3, 0}));
    b.resistor("R1", "a", "0", 1e3);
    b.current("I1", "0", "b", simtest::waveform(Waveform::Kind::Pwl, {0, 0, 1e-3, 2e-3, 2e-3, -1e-3}));
    b.resistor("R2", "b", "0", 500.0);
    b.voltage("V2", "c", "0", simtest::waveform(Waveform::Kind::Pulse, {0, 1, 0.3e-3, 0.1e-3, 0.1e-3, 0.5e-3, 1.2e-3}));
    b.resistor("R3", "c", "0", 1.0);
    b.printVoltage("a");
    b.printVoltage("b");
    b.printVoltage("c");
    b.tran(10e-6, 3e-3, false);
    b.circuit().options.printAllPoints = true;  // not the grid rows, which interpolate between them
    const auto out = run(b.circuit());
    bool sawCorner = false;
    for (const auto& row : out.rows) {
        const double t = row[0];
        const double sine = t <= 0.2e-3 ? 0.5 : 0.5 + std::sin(2 * std::numbers::pi * 1e3 * (t - 0.2e-3));
        EXPECT_NEAR(row[1], sine, 1e-9) << t;
        const double pwl = t <= 1e-3 ? 2.0 * t : 2e-3 - 3.0 * (t - 1e-3);  // milliamperes per millisecond
        EXPECT_NEAR(row[2], 500.0 * std::min(pwl, 2e-3) * (t <= 2e-3 ? 1.0 : 0.0) + (t > 2e-3 ? -0.5 : 0.0), 1e-9)
            << t;
        if (std::abs(t - 0.4e-3) < 1e-15 || std::abs(t - 1.5e-3) < 1e-15) sawCorner = true;
    }
    EXPECT_TRUE(sawCorner) << "the pulse corners are breakpoints";
}

TEST(LinearCircuit, FailuresAreSimulationErrors) {
    for (const char* solver : {"klu", "eigen"}) {
        CircuitBuilder loop;  // two sources fight over one node
        loop.voltage("V1", "a", "0", simtest::dc(1.0));
        loop.voltage("V2", "a", "0", simtest::dc(2.0));
        loop.tran(1e-6, 1e-5, true);
        loop.circuit().options.solver = solver;
        EXPECT_THROW(run(loop.circuit()), udmhost::SimulationError) << solver;
    }

    CircuitBuilder noTran;
    noTran.resistor("R1", "a", "0", 1.0);
    EXPECT_THROW(run(noTran.circuit()), udmhost::SimulationError);

    CircuitBuilder badSolver;
    badSolver.resistor("R1", "a", "0", 1.0);
    badSolver.tran(1e-6, 1e-5, false);
    badSolver.circuit().options.solver = "dense";
    EXPECT_THROW(run(badSolver.circuit()), udmhost::SimulationError);
}

}  // namespace
