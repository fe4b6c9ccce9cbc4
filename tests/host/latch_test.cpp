// A latch of B sources at its thresholds: 555 timers built from comparators,
// an RC-delayed set/reset latch that holds its own output, and an S switch.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "deck_simulation.h"

using namespace udmhost;

namespace {

// The timer: set below a third of the supply, reset above the control
// node's two thirds, otherwise the output holds V(q) through its own RC.
const char* kTimer = R"(.subckt timer vcc trig out rst ctrl thresh disch gnd
Rc1 vcc ctrl 20k
Rc2 ctrl gnd 10k
Bset ns gnd V={v(trig,gnd) < v(vcc,gnd)/3 ? 5 : 0}
Brst nr gnd V={v(thresh,gnd) > v(ctrl,gnd) ? 5 : 0}
Rs ns s 1k
Cs s gnd 100n
Rr nr r 1k
Cr r gnd 100n
Bq nq gnd V={v(rst,gnd) < 1 ? 0 : v(r,gnd) > 2 ? 0 : v(s,gnd) > 2 ? 5 : v(q,gnd)}
Rq nq q 1k
Cq q gnd 100n
Eo out gnd q gnd 1
Bd nd gnd V={v(q,gnd) < 2 ? 5 : 0}
Sd disch gnd nd gnd sw555
.model sw555 SW(Vt=2 Vh=1 Ron=10 Roff=1G)
.ends
)";

std::vector<double> risingEdges(const SimulationOutput& out, size_t column) {
    std::vector<double> at;
    for (size_t k = 1; k < out.rows.size(); ++k)
        if (out.rows[k - 1][column] < 2.5 && out.rows[k][column] >= 2.5) at.push_back(out.rows[k][0]);
    return at;
}

}  // namespace

// An astable, a monostable and a diode-steered PWM timer side by side: at
// a switching of a comparator whose argument sits within rounding of its
// threshold the iterates alternate between its two outputs. That iterate
// on the far side is the switching's point, as for a switch; it used to be
// rejected again and again ("time step too small" at 55 ms, with the
// supplies, grounds and 0 V ties of each timer as published and RELTOL
// 1e-4, without which the argument does not graze the threshold). The astable's
// period against ngspice's at a step limit 100 times below its default:
// 446.42 us.
TEST(Latch, ComparatorsAtTheirThresholdsRunThroughAndKeepThePeriod) {
    const std::string text = std::string("timers\nVcc vcc 0 5\n") + kTimer + R"(
Xa vcc ta oa ra ca ha da ga timer
Va1 va 0 5
Ra1 va da 4.7k
Ra2 da ha 4.7k
Ca ha ga 100n
Cca ca ga 10n
Vta ta ha 0
Vra ra va 0
Vga ga 0 0
Rla oa ga 1k
Xm vm tm om rm cm hm dm gm timer
Vm1 vm 0 5
Rm vm dm 100k
Cm dm gm 100n
Ccm cm gm 10n
Vhm hm dm 0
Vtm tm gm PULSE(5 0 1m 1u 1u 100u 50m)
Vrm rm vm 0
Vgm gm 0 0
Rlm om gm 1k
Xp vp tp op rp cp hp dp gp timer
Vp1 vp 0 5
Rp1 vp np1 10k
Dp1 np1 hp dx
Rp2 hp np2 3.3k
Dp2 dp np2 dx
Cp hp gp 330n
Ccp cp gp 10n
Vtp tp hp 0
Vrp rp vp 0
Vgp gp 0 0
Rlp op gp 1k
.model dx D(IS=1e-14 RS=0.1 N=1.7)
.options reltol=1e-4
.tran 0.01m 100m uic
.print tran v(oa) v(om) v(op)
.end
)";
    const SimulationOutput out = simulateDeck(text, "timers.cir");
    ASSERT_FALSE(out.rows.empty());
    EXPECT_NEAR(out.rows.back()[0], 0.1, 1e-12);
    const std::vector<double> edges = risingEdges(out, 1);
    ASSERT_GT(edges.size(), 200u);
    const double period = (edges.back() - edges[1]) / static_cast<double>(edges.size() - 2);
    EXPECT_NEAR(period, 446.42e-6, 0.005 * 446.42e-6);
    // The monostable fires at each trigger pulse, at 1 ms and 51 ms.
    const std::vector<double> shots = risingEdges(out, 2);
    ASSERT_EQ(shots.size(), 2u);
    EXPECT_NEAR(shots[0], 1.12e-3, 0.02e-3);
    EXPECT_NEAR(shots[1], 51.1e-3, 0.02e-3);
}
