// Bipolar transistors: the Gummel-Poon currents and charges against central
// differences in every region, and a deck's currents against ngspice's.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <tuple>

#include "netlist/netlist_reader.h"
#include "sim/bjt_law.h"
#include "sim/simulator.h"

using namespace udmhost;

namespace {

double slope(const std::function<double(double)>& f, double x, double h = 1e-7) {
    return (f(x + h) - f(x - h)) / (2.0 * h);
}

}  // namespace

TEST(Bipolar, CurrentsAndChargesMatchDifferencesInEveryRegion) {
    BjtParameters p;
    p.is = 1e-14, p.bf = 200.0, p.br = 4.0, p.nf = 1.01, p.nr = 1.02, p.ise = 1e-13, p.isc = 2e-13;
    p.invVaf = 1.0 / 80.0, p.invVar = 1.0 / 20.0, p.invIkf = 1.0 / 0.3, p.invIkr = 1.0 / 0.05;
    p.cje = 20e-12, p.cjc = 8e-12, p.tf = 0.5e-9, p.tr = 50e-9, p.xtf = 3.0, p.invVtf = 1.0 / 2.88, p.itf = 0.4;
    // forward active, saturated, reverse active, high injection, cut off (below the cubic tail's corner)
    const double points[][2] = {{0.65, -4.0}, {0.75, 0.6}, {-1.0, 0.62}, {0.9, -2.0}, {-0.2, -5.0}};
    for (const auto& v : points) {
        SCOPED_TRACE(testing::Message() << "vbe " << v[0] << " vbc " << v[1]);
        const sim::BjtState s = sim::gummelPoon(p, v[0], v[1]);
        auto near = [](double exact, double numeric, const char* what) {
            EXPECT_NEAR(exact, numeric, 1e-5 * std::abs(numeric) + 1e-15) << what;
        };
        near(s.itBe, slope([&](double x) { return sim::gummelPoon(p, x, v[1]).it; }, v[0]), "transport by vbe");
        near(s.itBc, slope([&](double x) { return sim::gummelPoon(p, v[0], x).it; }, v[1]), "transport by vbc");
        near(s.ibeBe, slope([&](double x) { return sim::gummelPoon(p, x, v[1]).ibe; }, v[0]), "base-emitter");
        near(s.ibcBc, slope([&](double x) { return sim::gummelPoon(p, v[0], x).ibc; }, v[1]), "base-collector");
        near(s.cbe, slope([&](double x) { return sim::gummelPoon(p, x, v[1]).qbe; }, v[0]), "emitter charge");
        near(s.cbc, slope([&](double x) { return sim::gummelPoon(p, v[0], x).qbc; }, v[1]), "collector charge");
    }
}

// NPN and PNP, forward, saturated and reverse, with series resistances,
// leakage, Early voltages, high injection and M=: ngspice 39's operating point.
TEST(Bipolar, CurrentsAreSpicesInEveryRegion) {
    const Circuit c = readNetlist(R"(bipolar
VB1 b1 0 0.7
VC1 c1 0 5
VB2 b2 0 0.85
VC2 c2 0 0.2
VB3 b3 0 0.6
VC3 c3 0 -3
VB4 b4 0 -0.75
VC4 c4 0 -6
VB5 b5 0 1.1
VC5 c5 0 10
Q1 c1 b1 0 gp
Q2 c2 b2 0 gp
Q3 c3 b3 0 gp
Q4 c4 b4 0 pp
Q5 c5 b5 0 gp m=3
.model gp NPN (IS=1e-14 BF=200 NF=1.01 VAF=80 IKF=0.3 ISE=1e-13 NE=1.6 BR=4 NR=1.02 VAR=20 IKR=0.05 ISC=2e-13
+ NC=1.9 RB=10 RC=0.5 RE=0.2 CJE=20p CJC=8p TF=0.5n TR=50n XTF=3 VTF=2 ITF=0.4)
.model pp PNP (IS=2e-14 BF=150 VA=50 IK=0.2 RB=5 RE=0.1 RC=0.3 CJE=30p CJC=10p TF=1n)
.tran 1n 2n
.print tran I(VC1) I(VB1) I(VC2) I(VB2) I(VC3) I(VB3) I(VC4) I(VB4) I(VC5) I(VB5)
)", "bipolar.cir", ".", loadCatalogue, {});
    std::ostringstream messages;
    const SimulationOutput out = simulate(c, messages);
    ASSERT_FALSE(out.rows.empty());
    const double spice[] = {-4.18412e-03, -2.29776e-05, -1.36240e-01, -1.93890e-03, 4.688033e-01,
                            -2.51498e-01, 5.274115e-02, 3.942519e-04, -2.04519e+00, -3.03983e-02};
    for (size_t k = 0; k < 10; ++k) EXPECT_NEAR(out.rows[0][k + 1], spice[k], 1e-5 * std::abs(spice[k])) << k;
}

// A base resistance that falls from RB towards RBM with the current (IRB the
// current half way there, else as 1/qb), and the substrate junction's charge:
// at the collector of a vertical NPN, at the base of a lateral PNP.
TEST(Bipolar, BaseResistanceFallsWithTheCurrentAndTheSubstrateHoldsCharge) {
    auto simulateText = [](const std::string& text) {
        const Circuit c = readNetlist(text, "bipolar.cir", ".", loadCatalogue, {});
        std::ostringstream messages;
        return simulate(c, messages);
    };
    const std::string amplifier = R"(bc546
VIN in 0 5
RB in b 4.7k
Q1 c b 0 QB
RC vcc c 1k
VCC vcc 0 12
.tran 1u 2u
.print tran V(b) V(c)
.model QB npn(IS=7.59E-15 BF=480 IKF=0.0962 RB=100 RBM=10 RE=0.5)";
    // ngspice 39's operating points.
    for (const auto& [irb, vb, vc] : {std::tuple{" IRB=0.0001", 0.7665045, 0.08087537},
                                      std::tuple{"", 0.8185257, 0.08115511}}) {
        SCOPED_TRACE(irb);
        const SimulationOutput out = simulateText(amplifier + irb + ")\n");
        ASSERT_FALSE(out.rows.empty());
        EXPECT_NEAR(out.rows[0][1], vb, 1e-4 * vb);
        EXPECT_NEAR(out.rows[0][2], vc, 1e-4 * vc);
    }
    // Both transistors off; each substrate junction (MJS 0: linear) charges
    // through 10k with 100 ns.
    const SimulationOutput out = simulateText(R"(substrate
V1 s 0 PWL(0 0 1n 5)
R1 s c 10k
Q1 c 0 0 0 qn
R2 s b 10k
Q2 0 b 0 qp
.model qn NPN(CJS=10p)
.model qp PNP(CCS=10p)
.tran 1n 200n
.print tran V(c) V(b)
)");
    ASSERT_FALSE(out.rows.empty());
    bool checked = false;
    for (const auto& row : out.rows)
        if (std::abs(row[0] - 100e-9) < 1e-15) {
            const double expected = 5.0 * (1.0 - std::exp(-(100e-9 - 0.5e-9) / 100e-9));
            EXPECT_NEAR(row[1], expected, 0.01 * expected);
            EXPECT_NEAR(row[2], expected, 0.01 * expected);
            checked = true;
        }
    EXPECT_TRUE(checked);
}
