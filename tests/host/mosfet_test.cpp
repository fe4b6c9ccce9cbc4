// MOSFETs: the drain current laws and junction charges against central
// differences in every region, P devices as mirrored N devices, the gate
// charge over a cycle, and the step control across a smooth switching edge.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>

#include "netlist/netlist_reader.h"
#include "sim/mosfet_level1.h"
#include "sim/mosfet_level3.h"
#include "sim/simulator.h"
#include "sim/vdmos_law.h"

using namespace udmhost;

namespace {

// d f / d x at x by central differences.
double slope(const std::function<double(double)>& f, double x, double h = 1e-6) {
    return (f(x + h) - f(x - h)) / (2.0 * h);
}

void expectDerivative(double exact, double numeric, const char* what) {
    EXPECT_NEAR(exact, numeric, 1e-5 * std::abs(numeric) + 1e-9) << what;
}

SimulationOutput run(const std::string& text) {
    const Circuit c = readNetlist(text, "mosfet.cir", ".", loadCatalogue, {});
    std::ostringstream messages;
    return simulate(c, messages);
}

}  // namespace

TEST(Mosfet, DrainCurrentDerivativesMatchDifferencesInEveryRegion) {
    MosfetParameters level1;
    level1.vto = 0.8, level1.beta = 2e-3, level1.gamma = 0.5, level1.phi = 0.7, level1.lambda = 0.05;
    // Level 3 with every effect on: short and narrow channel, feedback,
    // mobility, velocity saturation, the pinched-off length, weak inversion.
    MosfetParameters level3 = level1;
    level3.law = MosfetParameters::Law::Level3;
    level3.theta = 0.08;
    level3.level3 = {.vbi = 0.4, .eta = 0.05, .kappa = 0.5, .vmax = 1e5, .u0 = 500.0, .fastStates = 0.3,
                     .junctionDepth = 0.2e-6, .lateralDiffusion = 0.05e-6, .depletionWidth = 3e-7,
                     .alpha = 9e-14, .narrow = 0.05, .length = 1e-6};
    MosfetParameters vdmos;
    vdmos.law = MosfetParameters::Law::Vdmos;
    vdmos.vto = 2.3, vdmos.beta = 50.0, vdmos.lambda = 0.07, vdmos.theta = 0.1, vdmos.mtriode = 2.0;
    // cut-off, weak inversion, triode, saturation, reversed triode, reversed saturation, forward body bias,
    // level 3 just below its threshold
    const double points[][3] = {{0.3, 2.0, -1.0}, {2.3, 1.0, -0.5}, {3.0, 0.5, -0.5}, {2.0, 4.0, -1.0},
                                {3.0, -0.6, -0.3}, {1.5, -3.0, -2.0}, {3.0, 1.0, 0.2}, {0.85, 1.0, -0.5}};
    for (const auto& v : points) {
        SCOPED_TRACE(testing::Message() << "vgs " << v[0] << " vds " << v[1] << " vbs " << v[2]);
        const auto l = sim::level1Current(level1, v[0], v[1], v[2]);
        expectDerivative(l.dVgs, slope([&](double x) { return sim::level1Current(level1, x, v[1], v[2]).id; }, v[0]), "gm");
        expectDerivative(l.dVds, slope([&](double x) { return sim::level1Current(level1, v[0], x, v[2]).id; }, v[1]), "gds");
        expectDerivative(l.dVbs, slope([&](double x) { return sim::level1Current(level1, v[0], v[1], x).id; }, v[2]), "gmbs");
        const auto m3 = sim::level3Current(level3, v[0], v[1], v[2]);
        expectDerivative(m3.dVgs, slope([&](double x) { return sim::level3Current(level3, x, v[1], v[2]).id; }, v[0]), "level 3 gm");
        expectDerivative(m3.dVds, slope([&](double x) { return sim::level3Current(level3, v[0], x, v[2]).id; }, v[1]), "level 3 gds");
        expectDerivative(m3.dVbs, slope([&](double x) { return sim::level3Current(level3, v[0], v[1], x).id; }, v[2]), "level 3 gmbs");
        const auto p = sim::vdmosCurrent(vdmos, v[0] + 1.5, v[1]);
        expectDerivative(p.dVgs, slope([&](double x) { return sim::vdmosCurrent(vdmos, x, v[1]).id; }, v[0] + 1.5), "vdmos gm");
        expectDerivative(p.dVds, slope([&](double x) { return sim::vdmosCurrent(vdmos, v[0] + 1.5, x).id; }, v[1]), "vdmos gds");
    }
    // Off below threshold, on above; the reversed device conducts from source to drain.
    EXPECT_EQ(sim::level1Current(level1, 0.3, 2.0, 0.0).id, 0.0);
    EXPECT_LT(sim::level1Current(level1, 3.0, -0.6, 0.0).id, 0.0);
    EXPECT_LT(sim::vdmosCurrent(vdmos, 1.0, 5.0).id, 1e-6);
}

// Meyer's halves move fast with the bias near saturation; their slopes
// (through the threshold and the saturation voltage of either law) enter the
// charges' linearisation, so each must be the halves' own derivative.
TEST(Mosfet, MeyerHalvesSlopesMatchDifferences) {
    MosfetParameters level1;
    level1.vto = 0.8, level1.beta = 2e-3, level1.gamma = 0.5, level1.phi = 0.7, level1.cox = 1.0;
    MosfetParameters level3 = level1;
    level3.law = MosfetParameters::Law::Level3;
    level3.level3 = {.vbi = 0.4, .eta = 0.05, .kappa = 0.5, .vmax = 1e5, .u0 = 500.0, .fastStates = 0.0,
                     .junctionDepth = 0.2e-6, .lateralDiffusion = 0.05e-6, .depletionWidth = 3e-7,
                     .alpha = 9e-14, .narrow = 0.05, .length = 1e-6};
    auto halves = [](const MosfetParameters& p, double vg, double vd, double vb) {
        const auto ch = p.law == MosfetParameters::Law::Level3 ? sim::level3Current(p, vg, vd, vb)
                                                               : sim::level1Current(p, vg, vd, vb);
        const sim::Dual gate{vg, 1.0, 0.0, 0.0}, drain{vd, 0.0, 1.0, 0.0};
        return sim::meyerHalves(gate, gate - drain, ch.actingVon, ch.actingVdsat, p.phi, p.cox);
    };
    // triode far from and near saturation, below threshold, saturation
    const double points[][3] = {{3.0, 0.5, -0.5}, {1.6, 0.55, -0.2}, {0.7, 0.2, -0.1}, {2.0, 4.0, -1.0}};
    for (const MosfetParameters* p : {&level1, &level3})
        for (const auto& v : points) {
            SCOPED_TRACE(testing::Message() << "level " << (p == &level1 ? 1 : 3) << " vgs " << v[0] << " vds " << v[1]);
            const auto h = halves(*p, v[0], v[1], v[2]);
            for (auto half : {&sim::MeyerHalves::gs, &sim::MeyerHalves::gd, &sim::MeyerHalves::gb}) {
                const auto at = [&](double g, double d, double b) { return (halves(*p, g, d, b).*half).v; };
                expectDerivative((h.*half).g, slope([&](double x) { return at(x, v[1], v[2]); }, v[0]), "by vgs");
                expectDerivative((h.*half).d, slope([&](double x) { return at(v[0], x, v[2]); }, v[1]), "by vds");
                expectDerivative((h.*half).b, slope([&](double x) { return at(v[0], v[1], x); }, v[2]), "by vbs");
            }
        }
}

// A source follower into a capacitor whose channel runs at the edge of
// saturation while the gate rises: without the halves' slopes in the gate
// charges, Newton's iterates went round between the two regions at every
// step length down to 1e-20 s.
TEST(Mosfet, FollowerAtTheEdgeOfSaturationConverges) {
    SimulationOutput out;
    ASSERT_NO_THROW(out = run(R"(follower
Vdd dd 0 10
R1 dd s 100
Vg g 0 PULSE(0 10 1u 20n 20n 4u 10u)
M2 4 g s 0 MOST2
C1 4 0 27.4p
.MODEL MOST2 NMOS (LEVEL=3 W=0.1 L=0.3u VTO=-5.69 KP=3.15u RS=1000)
.tran 5n 3u 0 5n
.print tran V(4)
)"));
    ASSERT_FALSE(out.rows.empty());
    // The capacitor follows the gate 5.69 V above it up to the supply.
    EXPECT_NEAR(out.rows.back()[1], 10.0, 1e-3);
}

// Level-3 cards as published: the threshold from NSUB, the short-channel
// and weak-inversion terms, velocity saturation, reversed devices, a P
// channel. The currents are ngspice 39's operating point of the same deck.
TEST(Mosfet, Level3CurrentsAreSpicesInEveryRegion) {
    const SimulationOutput out = run(R"(level 3
VG g 0 3
VGW gw 0 1.1
VB b 0 -1
VD1 d1 0 0.3
VD2 d2 0 5
VD3 d3 0 -0.8
VD4 d4 0 2
VD5 d5 0 5
VD6 d6 0 1.5
VG6 g6 0 -3
VB6 b6 0 5
M1 d1 g 0 b na L=2u W=50u
M2 d2 g 0 b na L=2u W=50u
M3 d3 g 0 b na L=2u W=50u
M4 d4 gw 0 b na L=2u W=50u
M5 d5 g 0 b nv L=1u W=10u
M6 d6 g6 0 b6 pn L=3u W=20u
.model na NMOS (LEVEL=3 VTO=1.2 KP=50u GAMMA=0.5 PHI=0.7 THETA=0.05 ETA=0.02 KAPPA=0.3 XJ=0.3u LD=0.1u NSUB=1e16
+ TOX=40n NFS=5e11 DELTA=0.5)
.model nv NMOS (LEVEL=3 VTO=0.8 TOX=30n NSUB=2e16 XJ=0.2u LD=0.05u VMAX=1e5 ETA=0.1 THETA=0.08 KAPPA=0.5 DELTA=1)
.model pn PMOS (LEVEL=3 TOX=50n NSUB=5e15 U0=250 KAPPA=0.2)
.tran 1n 2n
.print tran I(VD1) I(VD2) I(VD3) I(VD4) I(VD5) I(VD6)
)");
    ASSERT_FALSE(out.rows.empty());
    // linear, saturated, reversed, weak inversion, velocity-saturated, P channel reversed
    const double spice[] = {-5.78949e-04, -2.11777e-03, 2.123514e-03, -1.22231e-08, -1.24186e-03, -4.70755e-04};
    for (size_t k = 0; k < 6; ++k) EXPECT_NEAR(out.rows[0][k + 1], spice[k], 1e-5 * std::abs(spice[k])) << "M" << k + 1;
}

// Makers' subcircuits give the channel's W and L on the card, a resistor's
// model before its value (a RES card), TC=a,b, and POLY sources inside
// them: ngspice's current.
TEST(Mosfet, MakersSubcircuitFormsReadAsSpiceReadsThem) {
    const SimulationOutput out = run(R"(maker forms
VD d 0 5
VG g 0 4
X1 d g 0 FET
.subckt FET 1 2 3
M1 5 2 3 3 CH
Rd 5 1 RT 2
Rx 5 1 1e9 TC=1m,2u
E1 7 0 POLY(1) 2 3 0 1
Rp 7 0 1k
.model CH NMOS (LEVEL=3 W=0.05 L=0.5u VTO=2 KP=4e-7 U0=600 XJ=0.4u KAPPA=0.1 ETA=1e-5 NFS=3e12 DELTA=0.1)
.model RT RES (TC1=4e-3)
.ends
.tran 1n 2n
.print tran I(VD)
)");
    ASSERT_FALSE(out.rows.empty());
    EXPECT_NEAR(out.rows[0][1], -8.00730e-02, 1e-6);
}

TEST(Mosfet, JunctionConductancesAndCapacitancesMatchDifferences) {
    MosfetParameters p;
    p.law = MosfetParameters::Law::Vdmos;
    p.is = 1e-12, p.n = 1.2, p.cjo = 1e-9, p.vj = 0.8, p.m = 0.4, p.tt = 50e-9;
    p.hasBreakdown = true, p.bv = 30.0;
    // forward, reverse, beyond FC*VJ, in breakdown
    for (double v : {0.6, -5.0, 0.5, -30.2}) {
        SCOPED_TRACE(v);
        const auto d = sim::bodyDiode(p, v);
        expectDerivative(d.g, slope([&](double x) { return sim::bodyDiode(p, x).i; }, v), "g");
        expectDerivative(d.c, slope([&](double x) { return sim::bodyDiode(p, x).q; }, v), "c");
    }
    MosfetParameters bulk;
    bulk.cbd = 20e-15, bulk.cbdsw = 5e-15, bulk.mjsw = 0.33;
    for (double v : {-3.0, 0.2, 0.6}) {
        SCOPED_TRACE(v);
        const auto q = sim::bulkDepletion(bulk, bulk.cbd, bulk.cbdsw, v);
        expectDerivative(q.c, slope([&](double x) { return sim::bulkDepletion(bulk, bulk.cbd, bulk.cbdsw, x).q; }, v), "c");
    }
}

// A P device with every voltage negated is the N device mirrored: the same
// waveforms negated, through the limits, the charges and the step control.
TEST(Mosfet, PChannelCircuitsMirrorTheirNChannelTwins) {
    const std::string level1 = "LEVEL=1 VTO={s*0.8} KP=50u GAMMA=0.5 PHI=0.7 LAMBDA=0.02 CGSO=0.3n CGDO=0.3n "
                               "CBD=20f CBS=20f TOX=20n";
    const std::string vdmos = "{flag} Vto={s*2.3} Kp=50 Lambda=0.07 Rd=10m Rs=5m Rg=1 Rb=5m Cgdmax=1n Cgdmin=70p "
                              "A=0.6 Cgs=2.7n Cjo=3n M=0.75 Is=30p VJ=2.5 N=1.1 TT=3n";
    for (const bool power : {false, true}) {
        SCOPED_TRACE(power ? "VDMOS" : "level 1");
        auto deck = [&](double s) {
            std::string model = power ? vdmos : level1;
            const std::string flag = s > 0 ? "" : "pchan";
            model.replace(model.find("{flag}") == std::string::npos ? 0 : model.find("{flag}"),
                          model.find("{flag}") == std::string::npos ? 0 : 6, flag);
            const std::string type = power ? "VDMOS" : (s > 0 ? "NMOS" : "PMOS");
            return "mirror\n.param s=" + std::to_string(s) + "\nVDD vdd 0 {s*12}\nVG drv 0 PULSE(0 {s*10} 10n 5n 5n 100n 250n)\n"
                   "RG drv g 10\nRL vdd d 20\nM1 d g 0 " + std::string(power ? "" : "0 ") + "mm" +
                   (power ? "" : " L=2u W=2000u") + "\n.model mm " + type + " (" + model + ")\n.tran 1n 500n\n"
                   ".print tran V(d) V(g)\n";
        };
        const SimulationOutput n = run(deck(1.0)), p = run(deck(-1.0));
        ASSERT_EQ(n.rows.size(), p.rows.size());
        double swing = 0.0;
        for (size_t k = 0; k < n.rows.size(); ++k) {
            ASSERT_EQ(n.rows[k][0], p.rows[k][0]);
            EXPECT_NEAR(n.rows[k][1], -p.rows[k][1], 1e-6) << "at " << n.rows[k][0];
            EXPECT_NEAR(n.rows[k][2], -p.rows[k][2], 1e-6) << "at " << n.rows[k][0];
            swing = std::max(swing, 12.0 - n.rows[k][1]);
        }
        EXPECT_GT(swing, 10.0);  // the transistor did switch the load
    }
}

// Driven through a resistor from a periodic source, a gate takes back over
// a period the charge it gave: the gate charges are charges, not currents
// that drift; and the smooth edges take a few dozen points each.
TEST(Mosfet, GateChargeReturnsOverACycleAndEdgesTakeFewPoints) {
    const SimulationOutput out = run(R"(gate cycle
VDD vdd 0 12
VG drv 0 PULSE(0 10 1u 20n 20n 10u 20u)
RG drv g 10
RL vdd d 2
M1 d g 0 BSC0901NS
.model BSC0901NS VDMOS(Rg=0.8 Vto=2.3 Rd=720u Rs=365u Rb=945u Kp=579.7 Lambda=0.07 Cgdmin=72p Cgdmax=1.26n A=0.6
+ Cgs=2.71n Cjo=3.1n M=0.75 Is=30.7p VJ=2.5 N=1.12 TT=3n)
.options points=all
.tran 2u 100u
.print tran I(VG)
)");
    // Over the cycles from 40 us to 80 us (the source's current flows out of its + node).
    double net = 0.0, moved = 0.0;
    for (size_t k = 1; k < out.rows.size(); ++k) {
        const double t0 = out.rows[k - 1][0], t1 = out.rows[k][0];
        if (t0 < 40e-6 || t1 > 80e-6) continue;
        const double q = 0.5 * (out.rows[k - 1][1] + out.rows[k][1]) * (t1 - t0);
        net += q;
        moved += std::abs(q);
    }
    EXPECT_GT(moved, 40e-9);  // some 20 nC each way per cycle, four edges
    // The gate-drain charge is accumulated from its capacitance at both ends
    // of each step (as SPICE does), so it returns only to the accuracy of
    // that quadrature over the steps the edges take: ngspice's own run of
    // this deck is off by 0.7 %; a charge accumulated at the capacitance of
    // one end of each step is off by some 5 %.
    EXPECT_LT(std::abs(net), 5e-3 * moved);
    // Ten edges over 100 us with a 2 us step limit: some 50 points each on top of the 50 steps.
    EXPECT_LT(out.stats.accepted, 1000);
}

TEST(Mosfet, ElementsAndCardsRefusedWhereTheyAreWrong) {
    const struct {
        const char* deck;
        const char* message;
        const char* where;  // the element, or the card's LEVEL
    } cases[] = {
        {"M1 d g s tj tc x mm\n.model mm VDMOS (Vto=2)\n", "three nodes", "bad.cir:3:"},
        {"M1 d g s mm\n.model mm NMOS (Vto=2)\n", "four nodes", "bad.cir:3:"},
        {"M1 d g s b mm\n.model mm NMOS (LEVEL=2 Vto=2)\n", "only LEVEL=1 and LEVEL=3", "bad.cir:4:"},
        {"M1 d g s b mm\n.model mm NMOS (LEVEL=3 NSUB=1e5)\n", "NSUB must exceed", "bad.cir:4:"},
        {"M1 d g s b mm Q=2\n.model mm NMOS (Vto=2)\n", "no parameter Q", "bad.cir:3:"},
    };
    for (const auto& c : cases) {
        const std::string text = std::string("refused\nV1 d 0 1\n") + c.deck + ".tran 1n 10n\n";
        try {
            (void)readNetlist(text, "bad.cir", ".", loadCatalogue, {});
            ADD_FAILURE() << "accepted: " << c.deck;
        } catch (const std::exception& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.where), std::string::npos) << e.what();
        }
    }
}

// ngspice reads a VDMOS's fourth and fifth nodes as its thermal junction and
// case, and a last word THERMAL as its flag for self-heating; without
// self-heating they stay out of the circuit (a node of its own there would
// float).
TEST(Mosfet, VdmosThermalNodesAreLeftOut) {
    for (const char* nodes : {"d g 0 tj mm", "d g 0 tj tc mm", "d g 0 d mm", "d g 0 tj tc mm thermal"}) {
        const Circuit c = readNetlist(std::string("vdmos\nV1 d 0 1\nV2 g 0 5\nM1 ") + nodes +
                                          "\n.model mm VDMOS (Vto=2)\n.tran 1n 10n\n",
                                      "t.cir", ".", loadCatalogue, {});
        for (const std::string& n : c.nodeNames) EXPECT_TRUE(n != "tj" && n != "tc") << nodes << ": " << n;
    }
}

// M=m is m transistors in parallel: currents, gate and body-diode charges
// and conductances scale by m, series resistances divide by m. (ngspice up
// to version 45 left the VDMOS gate capacitances unscaled: an M=2 gate
// charged as fast as an M=1 gate.) The drain is pulled below the source so
// that the body diode conducts and recovers too. The tolerances are some
// three times the two runs' differences in time steps; IS or RB left
// unscaled moves V(d) by 19 mV and 29 mV, CJO or the gate capacitances by volts.
TEST(Mosfet, VdmosMultiplierIsThatManyTransistorsInParallel) {
    auto deck = [](const std::string& transistors) {
        return "parallel\nVD vd 0 PULSE(12 -2 250n 20n 20n 200n 600n)\nVG drv 0 PULSE(0 10 20n 20n 20n 150n 600n)\n"
               "RG drv g 5\nRL vd d 5\n" + transistors +
               ".model mm VDMOS (Vto=2.3 Kp=5 Lambda=0.07 Rd=0.2 Rs=0.1 Rg=3 Rb=0.05 Cgdmax=1n Cgdmin=70p A=0.6 "
               "Cgs=2.7n Cjo=3n M=0.75 Is=30p VJ=2.5 N=1.1 TT=20n)\n.tran 1n 600n\n.print tran V(d) V(g) I(VG) I(VD)\n";
    };
    const SimulationOutput one = run(deck("M1 d g 0 mm M=2\n")), two = run(deck("M1 d g 0 mm\nM2 d g 0 mm\n"));
    ASSERT_EQ(one.rows.size(), two.rows.size());
    double gateCharge = 0.0, forward = 0.0, reverse = 0.0;
    for (size_t k = 0; k < one.rows.size(); ++k) {
        SCOPED_TRACE(testing::Message() << "at " << one.rows[k][0]);
        EXPECT_NEAR(one.rows[k][1], two.rows[k][1], 8e-3);  // V(d)
        EXPECT_NEAR(one.rows[k][2], two.rows[k][2], 1.5e-3);  // V(g)
        EXPECT_NEAR(one.rows[k][3], two.rows[k][3], 3e-4);  // the gate's current
        EXPECT_NEAR(one.rows[k][4], two.rows[k][4], 1.5e-3);  // the drain's
        if (k > 0 && one.rows[k][0] <= 200e-9)
            gateCharge += 0.5 * (one.rows[k][3] + one.rows[k - 1][3]) * (one.rows[k][0] - one.rows[k - 1][0]);
        forward = std::min(forward, one.rows[k][4]);
        reverse = std::max(reverse, one.rows[k][4]);
    }
    // Both gates took their charge on the first edge (some 72 nC; half with
    // the gate capacitances of one), the channels carried the 2.4 A load,
    // and the body diodes some 0.4 A the other way (the source's current flows
    // out of its + node).
    EXPECT_LT(gateCharge, -50e-9);
    EXPECT_LT(forward, -2.0);
    EXPECT_GT(reverse, 0.3);
}

// With every source constant the operating point is the transient's too. A
// body diode's CJO behind a large RB (10 ms) keeps for each point the
// charge of its latest linearisation: were that of the iterate before the
// solution (the previous point's, on a quiet stretch), the node would walk
// off by tens of millivolts within a millisecond.
TEST(Mosfet, QuietChargesStayAtTheOperatingPoint) {
    const SimulationOutput out = run(R"(quiet
VS s 0 5
VG g 0 5
VD d 0 2.5
M1 d g s pp M=2
.model pp VDMOS (pchan Vto=-1 Kp=1e-5 Cgdmin=0.05p Cgdmax=0.2p A=1.2 Cgs=0.15p Rg=10 Rb=1e7 Cjo=1n Ksubthres=0.2)
.tran 1u 1m
.print tran V(M1#body)
)");
    ASSERT_GT(out.rows.size(), 1000u);
    double worst = 0.0;
    for (const auto& row : out.rows) worst = std::max(worst, std::abs(row[1] - out.rows[0][1]));
    EXPECT_LT(worst, 1e-4);  // some 10 uV: the operating point's GMIN to ground, gone in the transient
}
