// The diode plug-in's junction law and a converter whose freewheeling diode
// must converge at every switching.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "junction.h"
#include "netlist/netlist_reader.h"
#include "sim/simulator.h"

using namespace udmhost;

TEST(Diode, JunctionLawWithSeriesResistanceLimitingAndBreakdown) {
    udmdiode::DiodeParameters p;
    p.saturationCurrent = 1e-9;
    p.emission = 1.5;
    p.seriesResistance = 0.5;
    const double nvt = 1.5 * udmdiode::kThermalVoltage;
    // Converged (repeated at the same voltage), the current satisfies the
    // implicit law i = IS (exp((v - i RS) / N Vt) - 1).
    double vd = 0.0;
    udmdiode::Linearised l{};
    for (int i = 0; i < 50; ++i) vd = (l = udmdiode::linearise(p, 1.2, vd)).junctionVoltage;
    EXPECT_NEAR(l.current, 1e-9 * std::expm1((1.2 - l.current * 0.5) / nvt) + udmdiode::kGmin * 1.2, 1e-9);
    EXPECT_NEAR(l.offset + l.conductance * 1.2, l.current, 1e-12);
    EXPECT_GT(l.current, 0.3);  // about (1.2 - 0.8) / 0.5
    // A wild iterate of 50 V: no overflow, and the exponential goes on
    // straight beyond the largest current, so that the model's line
    // leads back to where the exponential ends in one Newton step.
    p.seriesResistance = 0.0;
    const udmdiode::Linearised jump = udmdiode::linearise(p, 50.0, 0.0);
    EXPECT_TRUE(std::isfinite(jump.current));
    const double end = nvt * std::log(udmdiode::kLargestCurrent / 1e-9);
    EXPECT_NEAR(jump.offset + jump.conductance * end, udmdiode::kLargestCurrent, 1e-6 * udmdiode::kLargestCurrent);
    // Reverse: -IS until the breakdown, then IBV at BV.
    EXPECT_NEAR(udmdiode::linearise(p, -5.0, -5.0).current, -1e-9 - udmdiode::kGmin * 5.0, 1e-15);
    p.breakdownVoltage = 10.0;
    p.breakdownCurrent = 1e-3;
    EXPECT_NEAR(udmdiode::linearise(p, -10.0, -10.0).current, -1e-3, 1e-5);
    p.multiplier = 3.0;
    EXPECT_NEAR(udmdiode::linearise(p, -10.0, -10.0).current, -3e-3, 3e-5);
}

// A buck converter from 12 V at 42 % duty into 5 ohms: the diode carries
// the inductor current while the switch is open. Without series resistance
// every converged point must still meet the diode's law: a linear model
// taken at a held-back junction voltage would let the switch node swing
// far below ground at a turn-on.
TEST(Diode, FreewheelingDiodeConvergesInABuckConverter) {
    for (const char* rs : {"20m", "0"}) {
        SCOPED_TRACE(std::string("rs=") + rs);
        const std::string text = std::string(R"(buck
Vin in 0 12
Vg gate 0 PULSE(0 5 0 10n 10n 4.2u 10u)
S1 in sw gate 0 swmod
D1 0 sw dfree
L1 sw out 47u
C1 out 0 22u
Rload out 0 5
.model swmod sw(vt=2.5 vh=0.1 ron=50m roff=1meg)
.model dfree D(is=1e-9 n=1.5 rs=)") + rs + R"()
.tran 0.1u 400u
.print tran V(out) V(sw)
)";
        const Circuit c = readNetlist(text, "buck.cir", ".", loadCatalogue,
                                      {{"vcswitch", VCSWITCH_PLUGIN}, {"diode", DIODE_PLUGIN}});
        std::ostringstream messages;
        const SimulationOutput out = simulate(c, messages);
        // Over the last period: the output is near D * Vin less the diode's drop
        // over the off time, and the switch node sits one diode drop below
        // ground while the switch is open.
        double sum = 0.0, lowest = 0.0, lowestEver = 0.0;
        size_t count = 0;
        for (const auto& row : out.rows) {
            lowestEver = std::min(lowestEver, row[2]);
            if (row[0] >= 390e-6) {
                sum += row[1];
                lowest = std::min(lowest, row[2]);
                ++count;
            }
        }
        ASSERT_GT(count, 10u);
        const double average = sum / static_cast<double>(count);
        EXPECT_GT(average, 0.42 * 12.0 - 0.58 * 0.9 - 0.3);
        EXPECT_LT(average, 0.42 * 12.0);
        EXPECT_LT(lowest, -0.6);
        EXPECT_GT(lowest, -1.0);
        EXPECT_GT(lowestEver, -1.5);
        EXPECT_GE(out.events.size(), 70u);  // both edges of each of the 40 periods
    }
}
