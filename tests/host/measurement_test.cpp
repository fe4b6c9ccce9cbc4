// .meas tran results against values worked out by hand on a triangle wave.
#include <gtest/gtest.h>

#include <cmath>

#include "fake_catalogue.h"
#include "netlist/netlist_error.h"
#include "netlist/netlist_reader.h"
#include "output/measurement_results.h"

using namespace udmhost;

namespace {

// V(x): 0 at t=0, 2 at t=1, 0 at t=2, 2 at t=3, 0 at t=4.
const std::vector<std::string> kColumns = {"time", "V(x)"};
const std::vector<std::vector<double>> kRows = {{0, 0}, {1, 2}, {2, 0}, {3, 2}, {4, 0}};

Circuit circuitOf(const std::string& lines) {
    return readNetlist("t\nR1 x 0 1\n.tran 1 4\n" + lines, "m.cir", ".", hosttest::FakeLoader{});
}

std::vector<Measurement> fromNetlist(const std::string& lines) { return circuitOf(lines).measurements; }

double valueOf(const std::string& line) {
    const auto results = evaluateMeasurements(fromNetlist(line), kColumns, RowStore(kRows));
    EXPECT_EQ(results.size(), 1u);
    EXPECT_TRUE(results.front().value.has_value()) << line << ": " << results.front().failure;
    return results.front().value.value_or(NAN);
}

}  // namespace

TEST(Measurements, AgreeWithHandComputedValues) {
    EXPECT_NEAR(valueOf(".meas tran a AVG V(x)\n"), 1.0, 1e-12);
    EXPECT_NEAR(valueOf(".meas tran a AVG V(x) FROM=0.5 TO=1\n"), 1.5, 1e-12);
    EXPECT_NEAR(valueOf(".meas tran a RMS V(x)\n"), std::sqrt(4.0 / 3.0), 1e-12);  // of a triangle: peak/sqrt(3)
    EXPECT_NEAR(valueOf(".meas tran a INTEG V(x) TO=2\n"), 2.0, 1e-12);
    EXPECT_NEAR(valueOf(".meas tran a MAX V(x) FROM=1.5 TO=2.5\n"), 1.0, 1e-12);  // at the window's ends
    EXPECT_NEAR(valueOf(".meas tran a MIN V(x) FROM=0.5\n"), 0.0, 1e-12);
    EXPECT_NEAR(valueOf(".meas tran a PP V(x) TO=0.5\n"), 1.0, 1e-12);
    EXPECT_NEAR(valueOf(".meas tran a TRIG V(x) VAL=1 RISE=1 TARG V(x) VAL=1 FALL=2\n"), 3.0, 1e-12);
    EXPECT_NEAR(valueOf(".meas tran a TRIG AT=1 TARG V(x) VAL=0.5 CROSS=LAST\n"), 2.75, 1e-12);
    EXPECT_NEAR(valueOf(".meas tran a WHEN V(x)=1 RISE=2\n"), 2.5, 1e-12);
    EXPECT_NEAR(valueOf(".meas tran a WHEN V(x)=1 CROSS=1 TD=1\n"), 1.5, 1e-12);
    EXPECT_NEAR(valueOf(".measure tran a FIND V(x) WHEN V(x)=1.5 FALL=1\n"), 1.5, 1e-12);
    EXPECT_NEAR(valueOf(".meas tran a FIND V(x) AT=2.25\n"), 0.5, 1e-12);

    const auto never = evaluateMeasurements(fromNetlist(".meas tran a WHEN V(x)=3\n"), kColumns, RowStore(kRows));
    EXPECT_FALSE(never.front().value.has_value());
    EXPECT_EQ(never.front().failure, "WHEN never occurred");
    // Without TRAN the name comes first; the window may be given as instants.
    EXPECT_NEAR(valueOf(".meas a AVG V(x) TRIG time=0.5 TARG time=1\n"), 1.5, 1e-12);
    // A line that cannot be read is skipped with a warning; the run goes on.
    auto skipped = [](const std::string& line) {
        const Circuit c = circuitOf(line);
        return c.measurements.empty() && !c.notes.empty() ? c.notes.back() : std::string("(read)");
    };
    EXPECT_EQ(skipped(".meas foo a MAX V(x)\n"),
              "m.cir:4:11: warning: unknown measurement a: expected TRIG, AVG, MAX, MIN, PP, RMS, INTEG, FIND or WHEN; "
              ".meas skipped");
    EXPECT_EQ(skipped(".meas ac a FIND vdb(x) AT=1k\n"), "m.cir:4:7: warning: .meas ac skipped: udmhost runs the transient analysis only");
    EXPECT_EQ(skipped(".meas tran a MAX V(y)\n"), "m.cir:4:20: warning: unknown node y; .meas skipped");
    EXPECT_EQ(skipped(".meas tran a WHEN V(x)=1 RISE=0\n"),
              "m.cir:4:31: warning: the count must be a whole number from 1, or LAST; .meas skipped");
    EXPECT_EQ(skipped(".meas a MAX V(x)-V(x) FROM=1\n"), "m.cir:4:17: warning: expected the end of the line, found '-V'; .meas skipped");
}
