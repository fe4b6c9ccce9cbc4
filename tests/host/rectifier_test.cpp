// Rectifiers whose filter capacitor floats between the bridge's diode nodes,
// and the state S switches start from in the operating point.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>
#include <string>

#include "deck_simulation.h"

using namespace udmhost;

// A 10 V, 50 Hz bridge into 100 uF between top and bot, the load across it:
// while all four diodes are off, the pair's common voltage hangs on junction
// leakage alone, and short steps at the diodes' turn-on must not lose it in
// the pivot. The output peaks two diode drops below the source's peak and
// falls by the load current times the time between charging peaks over C.
TEST(Rectifier, FloatingFilterCapacitorConvergesToTheHandEstimate) {
    struct Case {
        const char* load;
        const char* model;
        double ripple;  // I / C * (the 10 ms half period less the ~2 ms conduction)
    };
    // With and without series resistance, at a load of a few microamperes
    // (the common voltage then set by leakage almost all the time) and of mA.
    for (const Case& k : {Case{"1Meg", "IS=1e-14 N=1 RS=0.1", 0.0}, Case{"1k", "IS=1e-14 N=1 RS=0.1", 0.66},
                          Case{"1Meg", "", 0.0}, Case{"1k", "", 0.66}}) {
        SCOPED_TRACE(std::string(k.load) + " " + k.model);
        const SimulationOutput out = simulateDeck(std::string(R"(bridge
V1 in 0 SIN(0 10 50)
D1 in top DX
D2 bot in DX
D3 0 top DX
D4 bot 0 DX
C1 top bot 100u
Rl top bot )") + k.load + "\n.model DX D(" + k.model + R"()
.tran 10u 40m
.print tran V(top) V(bot)
)");
        ASSERT_FALSE(out.rows.empty());
        EXPECT_NEAR(out.rows.back()[0], 40e-3, 1e-12);
        // No collapse of the step: about the 4000 points of TMAX 10 us.
        EXPECT_LT(out.stats.accepted, 8000);
        double high = -1e9, low = 1e9;
        for (const auto& row : out.rows)
            if (row[0] >= 20e-3) {
                high = std::max(high, row[1] - row[2]);
                low = std::min(low, row[1] - row[2]);
            }
        EXPECT_GT(high, 10.0 - 2 * 0.8);
        EXPECT_LT(high, 10.0 - 2 * 0.6);
        EXPECT_NEAR(high - low, k.ripple, 0.1 + 0.1 * k.ripple);
    }
}

// SPICE's rule for an S switch without UIC: the operating point's first
// iterations hold every switch in its ON/OFF state (off when neither is
// given); then the control decides with hysteresis from that state, and the
// transient goes on from the state the operating point ends in. The tank
// node is held at 3 V by .ic; through the closed switch (10 ohm) the
// inductor starts with 0.3 A, through the open one (1 Meg) with 3 uA.
TEST(SwitchOperatingPoint, OnOffStateThenTheControlWithHysteresis) {
    struct Case {
        const char* control;
        const char* initial;
        double current;
    };
    // VT 0.5, VH 0.1: the window is 0.4 to 0.6.
    for (const Case& k : {Case{"1", "", 0.3}, Case{"1", "OFF", 0.3}, Case{"0.55", "", 3e-6}, Case{"0.55", "ON", 0.3},
                          Case{"0.2", "ON", 3e-6}}) {
        SCOPED_TRACE(std::string(k.control) + " " + k.initial);
        const SimulationOutput out = simulateDeck(std::string(R"(tank
V1 in 0 DC 5
R1 in tank 100
C1 tank 0 1u
L1 tank x 1m
Vsense x y 0
S1 y 0 ctl 0 SWTANK )") + k.initial + "\nVctl ctl 0 DC " + k.control + R"(
.model SWTANK SW(VT=0.5 VH=0.1 RON=10 ROFF=1Meg)
.ic V(tank)=3
.tran 1u 20u
.print tran V(tank) I(Vsense)
)");
        ASSERT_FALSE(out.rows.empty());
        EXPECT_NEAR(out.rows.front()[1], 3.0, 1e-6);
        EXPECT_NEAR(out.rows.front()[2], k.current, 1e-3 * k.current);
        EXPECT_TRUE(out.events.empty());  // the starting state is no switching
    }
}

// SPICE's switch changes state only once its control has passed an edge:
// with VH a control resting on VT+VH or VT-VH holds the state; without, a
// control falling back exactly onto VT (a comparator's 0 with VT = 0) opens
// the switch once and keeps it open, with no chattering.
TEST(SwitchThresholds, AControlRestingOnAnEdgeChangesTheStateAtMostOnce) {
    struct Case {
        const char* model;
        const char* control;  // PWL resting on an edge (or below VT) from 1u to 5u, on one from 11u to 15u
        double resting[2];    // V(o) there: 1 closed, 0 open
    };
    // Edges that every number reader takes exactly (ngspice's agrees here).
    for (const Case& k : {Case{"VT=2 VH=1", "0 0 1u 3 5u 3 6u 4 10u 4 11u 1 15u 1 16u 0", {0.0, 1.0}},
                          Case{"VT=0 VH=0", "0 -1 1u -1 5u -1 6u 1 10u 1 11u 0 15u 0 16u -1", {0.0, 0.0}}}) {
        SCOPED_TRACE(k.model);
        const SimulationOutput out = simulateDeck(std::string(R"(edges
V1 a 0 1
S1 a o c 0 SWE
R1 o 0 1k
Vc c 0 PWL()") + k.control + ")\n.model SWE SW(" + k.model + R"( RON=1 ROFF=1G)
.tran 0.5u 18u
.print tran V(o)
)");
        ASSERT_FALSE(out.rows.empty());
        auto at = [&](double t) {
            for (const auto& row : out.rows)
                if (row[0] >= t) return row[1];
            return -1.0;
        };
        EXPECT_NEAR(at(4e-6), k.resting[0], 1e-2);
        EXPECT_NEAR(at(8e-6), 1.0, 1e-2);
        EXPECT_NEAR(at(14e-6), k.resting[1], 1e-2);
        EXPECT_NEAR(at(17e-6), 0.0, 1e-2);
        EXPECT_EQ(out.events.size(), 2u);  // closes past 3 (0), opens past 1 (at 0)
    }
}

// A switch opening on a diode that carried a large current (the operating
// point shorts the inductor: 12 V through RON 1 mOhm, about 11 kA) leaves
// that diode far forward in series with ROFF on the first short steps; the
// pair is well-posed, and the inductor's current goes on into C1 through D1.
TEST(SwitchOpening, ALargeCurrentFreewheelsIntoTheCapacitor) {
    const SimulationOutput out = simulateDeck(R"(freewheel
V1 in 0 DC 12
Vc ctl 0 PWL(0 1 37.5u 1 37.6u 0)
S1 in ndb ctl 0 SWB
Dblock ndb lin DS
Dbody lin in DS
L1 0 lin 100m
D1 rin lin DS
C1 rin 0 100u
R1 rin 0 100
.model SWB SW(RON=1m)
.model DS D
.tran 0.1u 60u
.print tran V(rin) I(L1)
)");
    ASSERT_FALSE(out.rows.empty());
    const double i0 = out.rows.front()[2];
    EXPECT_LT(i0, -1e4);  // from lin to ground through L1
    double at = 0.0, v = 0.0, i = 0.0;
    for (const auto& row : out.rows)
        if (row[0] <= 57.6e-6) at = row[0], v = row[1], i = row[2];
    ASSERT_GT(at, 57.5e-6);
    EXPECT_NEAR(i, i0, 1e-3 * std::abs(i0));
    EXPECT_NEAR(v, i0 * (at - 37.6e-6) / 100e-6, 0.01 * std::abs(v));  // C1 charged by the inductor's current
}

// .ic without UIC replaces the node's current balance by V = value, as SPICE
// does: an inductor from that node to ground starts at 0 A (not the 50 mA
// the closed switch feeds), so the source charges the capacitor at first.
TEST(InitialVoltage, ReplacesTheNodesBalanceInTheOperatingPoint) {
    const SimulationOutput out = simulateDeck(R"(tank
V1 in 0 DC 5
R1 in sw 100
S1 sw tank ctl 0 SWT
Vctl ctl 0 DC 5
.model SWT SW(VT=2.5 VH=0.1 RON=0.1 ROFF=1e12)
L1 tank 0 500m
C1 tank 0 10u
.ic V(tank)=0
.tran 10u 100u
.print tran V(tank) I(L1)
)");
    ASSERT_FALSE(out.rows.empty());
    EXPECT_NEAR(out.rows.front()[1], 0.0, 1e-9);
    EXPECT_NEAR(out.rows.front()[2], 0.0, 1e-9);
    // 100 us into the 1 ms charge: 5 V (1 - e^-0.1), less a little that L1 takes.
    EXPECT_NEAR(out.rows.back()[1], 5.0 * (1.0 - std::exp(-0.1)), 0.01);
}

// A transformer's primary across the mains: the source and the winding form
// a loop without a DC equation for its current. At a start where the source
// is 0 V it is 0 A, and L di/dt = sin then gives 2 / (w L) half a period
// on; a loop whose source is not 0 V at the start has no operating point.
TEST(InductorLoop, AcrossASourceStartsAtTheCurrentItsValueGives) {
    const std::string loop = "primary\nR1 a 0 1k\nL1 a 0 1\nL2 b 0 0.01\nK1 L1 L2 0.999\nR2 b 0 100\n"
                             ".tran 100u 10m\n.print tran I(L1)\n";
    const SimulationOutput out = simulateDeck(loop + "V1 a 0 SIN(0 1 50)\n");
    ASSERT_FALSE(out.rows.empty());
    EXPECT_NEAR(out.rows.front()[1], 0.0, 1e-12);
    const double w = 2 * std::numbers::pi * 50;
    // The secondary's load takes some of the primary's current: within 5 %.
    EXPECT_NEAR(out.rows.back()[1], 2.0 / w, 0.05 * 2.0 / w);
    try {
        (void)simulateDeck(loop + "V1 a 0 DC 1\n");
        ADD_FAILURE() << "a 1 V source across an inductor has no DC current";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("L1"), std::string::npos) << e.what();
    }
}

// With UIC the first row is not solved: E sources (a chain of two here) take
// their outputs from the capacitor's IC, not 0 V.
TEST(InitialVoltage, UicStartGivesESourcesTheirControlledValues) {
    const SimulationOutput out = simulateDeck(R"(uic
V1 a 0 DC 2
R1 a c 1k
C1 c 0 1n IC=1.5
E1 o 0 c 0 2
E2 p 0 o 0 3
R2 o 0 1k
R3 p 0 1k
.tran 1u 10u UIC
.print tran V(o) V(p)
)");
    ASSERT_FALSE(out.rows.empty());
    EXPECT_NEAR(out.rows.front()[1], 3.0, 1e-12);
    EXPECT_NEAR(out.rows.front()[2], 9.0, 1e-12);
}

// With UIC a capacitor without IC= starts at the voltage .ic gives its node
// (it then charges towards 1 V with 1 us), one with IC= at its own.
TEST(InitialVoltage, UicCapacitorWithoutIcTakesTheNodesIc) {
    for (const auto& [ic, start] : {std::pair{"", 0.5}, std::pair{" IC=0.2", 0.2}}) {
        const SimulationOutput out = simulateDeck(std::string("uic\nV1 a 0 1\nR1 a b 1k\nC1 b 0 1n") + ic +
                                         "\n.ic V(b)=0.5\n.tran 1n 10n UIC\n.print tran V(b)\n");
        ASSERT_GE(out.rows.size(), 2u);
        EXPECT_NEAR(out.rows[1][1], start + (1.0 - start) * 1e-3, 1e-4) << ic;
    }
}

// ... and uncharged where .ic names neither node: not at what a source or a
// grounded capacitor's IC= puts on a node it shares (its far node then
// jumps with that node, as in SPICE).
TEST(InitialVoltage, UicCapacitorWithoutIcStartsUnchargedBesideSourcesAndIcs) {
    const SimulationOutput out = simulateDeck(R"(uic
V1 vcc 0 12
C1 vcc out 1u
R1 out 0 1k
R2 vcc c 1
C2 c 0 1n IC=0.1
C3 c o2 10n
R3 o2 0 50k
.tran 10u 100u UIC
.print tran V(out) V(o2)
)");
    ASSERT_GE(out.rows.size(), 2u);
    EXPECT_NEAR(out.rows[1][0], 10e-6, 1e-15);
    EXPECT_NEAR(out.rows[1][1], 12.0 * std::exp(-0.01), 1e-3);
    EXPECT_NEAR(out.rows[1][2], 12.0 * std::exp(-0.02), 1e-3);
}
