// The operating point where Newton from the first guess does not converge:
// gmin stepping and source stepping reach the point a direct solve with
// enough iterations finds, and a circuit without one still says so.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "netlist/netlist_reader.h"
#include "sim/operating_point_search.h"
#include "sim/simulator.h"

using namespace udmhost;

namespace {

// A differential pair, a voltage amplifier and resistive feedback: Newton
// from zero takes some 15 iterations.
const std::string kAmplifier = R"(feedback amplifier
V1 vp 0 15
V2 0 vn 15
Q7 c7 0 e pnp1
Q8 c8 fb e pnp1
R1 vp t 10k
Q9 e t vp pnp1
R2 t 0 30k
Q5 out c7 ev npn1
R13 c7 vn 3.9k
R14 c8 vn 3.9k
R9 ev vn 100
R6 vp out 5k
R19 out fb 27k
R20 fb 0 1k
.model npn1 NPN(Is=1e-13 BF=170 VAF=30)
.model pnp1 PNP(Is=6e-15 BF=150 VAF=25)
.tran 1u 2u
.print tran V(out) V(fb) V(e) V(c7)
)";

struct OperatingRun {
    SimulationOutput out;
    std::string messages;
};

OperatingRun run(const std::string& options, const std::string& deck = kAmplifier) {
    const size_t body = deck.find('\n') + 1;  // after the title line
    const std::string text = deck.substr(0, body) + ".options " + options + "\n" + deck.substr(body);
    const Circuit c = readNetlist(text, "op.cir", ".", loadCatalogue, {});
    std::ostringstream messages;
    SimulationOutput out = simulate(c, messages);
    return {std::move(out), messages.str()};
}

}  // namespace

TEST(OperatingPoint, SteppingReachesThePointOfADirectSolve) {
    const OperatingRun direct = run("itl1=100");
    ASSERT_FALSE(direct.out.rows.empty());
    EXPECT_EQ(direct.messages.find("stepping"), std::string::npos) << direct.messages;
    const struct {
        const char* options;
        const char* way;
    } cases[] = {{"itl1=5", "gmin stepping"}, {"itl1=1 itl2=8", "source stepping"}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.options);
        const OperatingRun stepped = run(k.options);
        ASSERT_FALSE(stepped.out.rows.empty());
        EXPECT_NE(stepped.messages.find(std::string("found by ") + k.way), std::string::npos) << stepped.messages;
        for (size_t col = 1; col < direct.out.rows[0].size(); ++col)
            EXPECT_NEAR(stepped.out.rows[0][col], direct.out.rows[0][col], 1e-6) << col;
    }
}

TEST(OperatingPoint, NoneFoundIsAnError) {
    // Too few iterations for any of the ways: the failure is reported, not a point.
    EXPECT_THROW(run("itl1=1 itl2=1"), SimulationError);
}

// Where both ways fail at the steps' iteration limit, both are tried once
// more with four times as many: a latch whose solutions fold over crosses
// to its other branch only with more.
TEST(OperatingPoint, BothWaysAgainWithMoreIterations) {
    std::vector<int> limits;
    const sim::OperatingPointSearch::Solve solve = [&](double, double, int iterations, const std::vector<double>& from)
        -> std::optional<sim::OperatingPointSearch::Solution> {
        limits.push_back(iterations);
        if (iterations < 100) return std::nullopt;
        return sim::OperatingPointSearch::Solution{from, 3};
    };
    sim::OperatingPointSearch search(solve, 1e-12, 50);
    const auto found = search.run({0.0});
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->way, sim::OperatingPointSearch::Way::GminStepping);
    EXPECT_EQ(limits.front(), 50);
    EXPECT_EQ(limits.back(), 200);
}
