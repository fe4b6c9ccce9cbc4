// K coupled inductors: transformers against their closed forms under each
// integration method, initial currents through the coupling, and located
// refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>

#include "fake_catalogue.h"
#include "netlist/netlist_error.h"
#include "netlist/netlist_reader.h"
#include "sim/simulator.h"

using namespace udmhost;

namespace {

// The largest deviation of printed column `column` from `exact` after t = 0
// (a UIC start prints the initial values, not a solution).
double worstError(const std::string& text, const std::string& method, size_t column,
                  const std::function<double(double)>& exact) {
    const std::string withMethod = text + ".options points=all method=" + method + "\n.end\n";
    Circuit c = readNetlist(withMethod, "k.cir", ".", hosttest::FakeLoader{});
    std::ostringstream messages;
    const auto out = simulate(c, messages);
    EXPECT_GT(out.rows.size(), 100u);
    double worst = 0.0;
    for (const auto& row : out.rows)
        if (row[0] > 0.0) worst = std::max(worst, std::abs(row[column] - exact(row[0])));
    return worst;
}

}  // namespace

// A 1 V step into L1 = 1 mH, L2 = 4 mH loaded by R = 100: the secondary's
// voltage rises as (M/L1)(1 - exp(-t/tau)) with tau = (L2 - n M^2/L1)/R for n
// equal windings coupled to L1. With k = 1 there is no leakage: tau = 0.
TEST(CoupledInductors, TransformerStepFollowsTheClosedForm) {
    // One coupling, inside a subcircuit (its K names its own inductors); an
    // RC beside it makes the circuit two parts, and L1, on fixed nodes only,
    // must go with its K.
    const std::string one =
        "t\nV1 in 0 DC 1\nR9 in c 1k\nC9 c 0 1n\nX1 in s xfmr\nR1 s 0 100\n.subckt xfmr p q\nL1 p 0 1m\nL2 q 0 4m\nK1 L1 L2 0.9\n.ends\n"
        ".tran 0.1u 40u uic\n.print tran v(s)\n";
    // L1 in two couplings, one written before the inductors it names.
    const std::string two =
        "t\nK2 L3 L1 0.6\nV1 in 0 DC 1\nL1 in 0 1m\nL2 s 0 4m\nL3 s3 0 4m\nK1 L1 L2 0.6\nR1 s 0 100\nR3 s3 0 100\n"
        ".tran 0.1u 60u uic\n.print tran v(s) v(s3)\n";
    const std::string tight = "t\nV1 in 0 DC 1\nL1 in 0 1m\nL2 s 0 4m\nK1 L1 L2 1\nR1 s 0 100\n.tran 0.1u 40u uic\n"
                              ".print tran v(s)\n";
    const double tauOne = 4e-3 * (1.0 - 0.81) / 100.0, tauTwo = (4e-3 - 2.0 * 1.2e-3 * 1.2e-3 / 1e-3) / 100.0;
    auto rise = [](double amplitude, double tau) {
        return [=](double t) { return amplitude * (1.0 - std::exp(-t / tau)); };
    };
    // Backward Euler is first order: its error stays near reltol of the swing.
    for (const auto& [method, tolerance] : {std::pair{"trap", 5e-5}, {"gear", 1e-4}, {"euler", 1e-2}}) {
        EXPECT_LT(worstError(one, method, 1, rise(1.8, tauOne)), tolerance) << method;
        EXPECT_LT(worstError(two, method, 1, rise(1.2, tauTwo)), tolerance) << method;
        EXPECT_LT(worstError(two, method, 2, rise(1.2, tauTwo)), tolerance) << method;
        EXPECT_LT(worstError(tight, method, 1, [](double) { return 2.0; }), 1e-9) << method;
    }
}

// IC= on the secondary with UIC: the primary, shorted by a 0 V source, starts
// with the secondary's flux M I0 linked and no current, so as i2 decays the
// primary takes i1 = M (I0 - i2)/L1.
TEST(CoupledInductors, InitialCurrentLinksItsFluxThroughTheCoupling) {
    const std::string text = "t\nV1 in 0 0\nL1 in 0 1m\nL2 s 0 4m IC=10m\nK1 L1 L2 0.9\nR1 s 0 100\n.tran 0.1u 40u uic\n"
                             ".print tran v(s) i(V1)\n";
    const double tau = 4e-3 * (1.0 - 0.81) / 100.0, m = 0.9 * 2e-3;
    auto i2 = [=](double t) { return 10e-3 * std::exp(-t / tau); };
    EXPECT_LT(worstError(text, "trap", 1, [&](double t) { return -100.0 * i2(t); }), 1e-5);
    EXPECT_LT(worstError(text, "trap", 2, [&](double t) { return -m * (10e-3 - i2(t)) / 1e-3; }), 1e-7);
}

TEST(CoupledInductors, RefusalsNameThePlace) {
    const std::pair<const char*, const char*> cases[] = {
        {"K1 L1 L2 1.5\n", "net.cir:6:10: the coupling factor of K1 is 1.5; it must lie in 0 < |k| <= 1"},
        {"K1 L1 L2 0\n", "net.cir:6:10: the coupling factor of K1 is 0; it must lie in 0 < |k| <= 1"},
        {"K1 L1 L2 {-2}\n", "net.cir:6:10: the coupling factor of K1 is -2; it must lie in 0 < |k| <= 1"},
        {"K1 L1 Lx 0.5\n", "net.cir:6:7: K1 couples Lx, which is not an inductor, did you mean L1?"},
        {"K1 R1 L2 0.5\n", "net.cir:6:4: K1 couples R1, which is not an inductor, did you mean L1?"},
        {"K1 L1 l1 0.5\n", "net.cir:6:7: K1 couples L1 with itself"},
        {"K1 L1 L2\n", "net.cir:6:9: expected the coupling factor of K1 at the end of the line"},
    };
    for (const auto& [line, message] : cases) {
        std::string got = "(no error)";
        try {
            readNetlist(std::string("t\n.tran 1u 1m\nL1 a 0 1m\nL2 b 0 1m\nR1 a 0 1\n") + line, "net.cir", ".",
                        hosttest::FakeLoader{});
        } catch (const NetlistError& e) {
            got = e.what();
        }
        EXPECT_EQ(got, message);
    }
}
