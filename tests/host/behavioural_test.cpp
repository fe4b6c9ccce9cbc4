// B sources: the expression tape's values and exact gradients, SPICE's edge
// rules, a comparator's switching located in time, and located errors.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "fake_catalogue.h"
#include "netlist/behavioural_expression.h"
#include "netlist/netlist_error.h"
#include "netlist/netlist_reader.h"
#include "sim/simulator.h"

using namespace udmhost;

namespace {

// Nodes a, b, c are 1, 2, 3; source Vx is element 7; parameter p is 2.
BehaviouralExpression compile(const std::string& text) {
    BehaviouralExpression::Names names;
    names.node = [](const std::string& n) -> std::optional<int> {
        if (n == "0") return 0;
        if (n.size() == 1 && n[0] >= 'a' && n[0] <= 'c') return n[0] - 'a' + 1;
        return std::nullopt;
    };
    names.voltageSource = [](const std::string& n) -> std::optional<int> {
        return n == "Vx" ? std::optional<int>(7) : std::nullopt;
    };
    names.parameter = [](const std::string& n) -> std::optional<double> {
        return n == "p" ? std::optional<double>(2.0) : std::nullopt;
    };
    return BehaviouralExpression::compile(text, names);
}

double valueAt(const BehaviouralExpression& e, const std::vector<double>& in) {
    std::vector<double> g(in.size());
    return e.evaluate(in.data(), g.data());
}

// With v(a), v(b), v(c) given by node.
double valueAtNodes(const BehaviouralExpression& e, const std::vector<double>& nodes) {
    std::vector<double> in;
    for (const BehaviouralInput& input : e.inputs()) in.push_back(nodes[static_cast<size_t>(input.index - 1)]);
    return valueAt(e, in);
}

}  // namespace

TEST(BehaviouralExpression, GradientsMatchCentralDifferences) {
    // Every operator and function, at points away from their kinks.
    const char* expressions[] = {
        "v(a)+v(b)*v(c)-v(a)/v(b)", "-v(a)^3 + v(b)**p", "v(a,b)*i(Vx)", "abs(v(a)) + sqrt(v(b)) + exp(v(c))",
        "ln(v(b)) + log(v(c)) + log10(v(b)*v(c))", "sin(v(a))*cos(v(b)) + tan(v(c)/4)", "atan(v(a)*v(b))",
        "sinh(v(a)) + cosh(v(b)) - tanh(v(c))", "min(v(a), v(b)) + max(v(b), v(c))", "pow(v(b), v(c)) + pwr(v(a), 1.5)",
        "pow(-v(b), 3)", "uramp(v(b) - v(a)) + u(v(b))*v(c)", "limit(v(a)*5, -1, v(c))",
        "pwl(v(b), 0, 0, 1, 2*v(c), 3, 1)", "v(a) < v(b) ? v(c)^2 : v(a)", "(v(a) > 0 && v(b) >= 1 || !(v(c) == 2)) * v(a)",
        "(v(a) <= v(b)) + (v(a) != v(b)) + sgn(v(a)) + floor(v(b)) + ceil(v(c)) + time*v(a)"};
    const std::vector<std::vector<double>> points = {{-0.7, 1.3, 2.1, 0.4, 1e-3}, {0.3, 0.8, 1.7, -2.0, 2e-3}};
    for (const char* text : expressions) {
        const BehaviouralExpression e = compile(text);
        for (const auto& point : points) {
            std::vector<double> in(e.inputs().size()), g(in.size());
            for (size_t k = 0; k < in.size(); ++k) {
                const BehaviouralInput& input = e.inputs()[k];
                in[k] = input.kind == BehaviouralInput::Kind::NodeVoltage     ? point[static_cast<size_t>(input.index - 1)]
                        : input.kind == BehaviouralInput::Kind::BranchCurrent ? point[3]
                                                                              : point[4];
            }
            const double f = e.evaluate(in.data(), g.data());
            ASSERT_TRUE(std::isfinite(f)) << text;
            for (size_t k = 0; k < in.size(); ++k) {
                const double h = 1e-6;
                std::vector<double> up = in, down = in;
                up[k] += h, down[k] -= h;
                const double numeric = (valueAt(e, up) - valueAt(e, down)) / (2 * h);
                EXPECT_NEAR(g[k], numeric, 1e-6 * (1.0 + std::abs(numeric))) << text << " input " << k;
            }
        }
    }
    // Values, not only slopes: the precedence and the functions' tables.
    const std::vector<double> at = {-0.7, 1.3, 2.1};
    EXPECT_DOUBLE_EQ(valueAtNodes(compile("-v(a)^2 + 2*3^2^0.5"), at), -0.49 + 2 * std::pow(3.0, std::sqrt(2.0)));
    EXPECT_DOUBLE_EQ(valueAtNodes(compile("v(a) < 0 ? 1 : v(b) > 1 ? 2 : 3"), at), 1.0);
    EXPECT_DOUBLE_EQ(valueAtNodes(compile("1 + 2 > 2 && 0 || 1 == 1"), at), 1.0);
    EXPECT_DOUBLE_EQ(valueAtNodes(compile("pwl(v(b), 0, 0, 1, 10, 2, 30)"), at), 16.0);
    EXPECT_DOUBLE_EQ(valueAtNodes(compile("pwl(v(c), 0, 0, 1, 10, 2, 30) + pwl(v(a), 0, 5, 1, 10)"), at), 35.0);
    EXPECT_DOUBLE_EQ(valueAtNodes(compile("limit(v(c), 0, 1) + limit(v(a), 0, 1)"), at), 1.0);
    EXPECT_DOUBLE_EQ(valueAtNodes(compile("min(v(a), v(b)) + max(v(a), v(b)) + 1k*0 + 2m"), at), 0.6 + 2e-3);
}

TEST(BehaviouralExpression, EdgeRulesAsSpice) {
    const std::vector<double> none;
    EXPECT_DOUBLE_EQ(valueAt(compile("(-2)^3"), none), -8.0);       // integral exponent keeps the sign
    EXPECT_DOUBLE_EQ(valueAt(compile("(-4)^0.5"), none), 2.0);      // else the magnitude
    EXPECT_DOUBLE_EQ(valueAt(compile("pwr(-2, 2)"), none), -4.0);   // sign(x) |x|^y
    EXPECT_DOUBLE_EQ(valueAt(compile("u(0) + u(-1) + u(3)"), none), 1.5);
    EXPECT_DOUBLE_EQ(valueAt(compile("log(exp(2)) + sgn(-3)"), none), 1.0);  // log is natural
    for (const char* bad : {"sqrt(-1)", "ln(0)", "log10(-2)", "1/(2-2)"}) {
        const char* domain = nullptr;
        const double f = compile(bad).evaluate(nullptr, nullptr, nullptr, &domain);
        EXPECT_TRUE(std::isnan(f)) << bad;
        EXPECT_NE(domain, nullptr) << bad;
    }
    // The branches recorded for locating: a comparison's argument is a-b.
    const BehaviouralExpression e = compile("v(a) > v(b) ? 1 : 0");
    EXPECT_EQ(e.eventCount(), 2u);
    const double in[] = {1.0, 3.0};
    double g[2];
    BehaviouralExpression::Branches branches;
    e.evaluate(in, g, &branches);
    EXPECT_EQ(branches.taken[0], 0.0);
    EXPECT_DOUBLE_EQ(branches.argument[0], -2.0);
    // if(c, a, b) is the same selection, its change located the same way.
    const BehaviouralExpression f = compile("if(v(a) > v(b), 1, 2*v(b))");
    EXPECT_EQ(f.eventCount(), 2u);
    EXPECT_DOUBLE_EQ(f.evaluate(in, g), 6.0);
    EXPECT_DOUBLE_EQ(g[1], 2.0);
}

TEST(BehaviouralSource, ComparatorSwitchingIsLocated) {
    // The comparator flips where sin(2 pi 1k t) reaches 0.5, at 1/12 ms,
    // then charges the RC; with and without braces, voltage and current out.
    for (const char* b : {"B1 out 0 V={v(s) > v(r) ? 5 : 0}", "B1 0 out I=v(s)>v(r) ? 5m*1k : 0*i(Vr)"}) {
        const bool current = std::string(b).find("I=") != std::string::npos;
        std::string text = std::string("comparator\nV1 s 0 SIN(0 1 1k)\nVr r 0 0.5\n") + b +
                           (current ? "\nRl out 0 1\n" : "\n") +
                           "R1 out c 1k\nC1 c 0 10n\n.options points=all\n.tran 1u 0.2m\n.print tran v(out) v(c)\n.end\n";
        Circuit c = readNetlist(text, "cmp.cir", ".", hosttest::FakeLoader{});
        std::ostringstream messages;
        const auto out = simulate(c, messages);
        const double instant = 1.0 / 12e3, tau = 1e-5;
        const double tolerance = 4.0 * c.options.eventTolerance * 0.2e-3;
        double lastLow = 0.0, firstHigh = 1.0, worst = 0.0;
        for (const auto& row : out.rows) {
            if (row[1] < 2.5 && row[0] < 0.15e-3) lastLow = std::max(lastLow, row[0]);
            if (row[1] > 2.5) firstHigh = std::min(firstHigh, row[0]);
            if (row[0] > instant && row[0] < 0.15e-3 && !current)
                worst = std::max(worst, std::abs(row[2] - 5.0 * (1.0 - std::exp(-(row[0] - instant) / tau))));
        }
        EXPECT_NEAR(lastLow, instant, tolerance) << b;
        EXPECT_NEAR(firstHigh, instant, tolerance) << b;
        EXPECT_NEAR(out.rows.back()[1], 5.0, 1e-6) << b;  // the capacitor charged: no current in R1
        EXPECT_LT(worst, 5e-3) << b;
    }
}

TEST(BehaviouralSource, ErrorsNameThePlace) {
    const std::pair<const char*, const char*> cases[] = {
        {"B1 a 0 V={v(b) + foo(1)}\n", "net.cir:4:18: B1: unknown function foo"},
        {"B1 a 0 V={v(nowhere)}\n", "net.cir:4:13: B1: unknown node nowhere"},
        {"B1 a 0 I=2*v(a) + q\n", "net.cir:4:19: B1: unknown name q (not a parameter, `time` or a function call)"},
        {"B1 a 0 V={i(R1)}\nR1 a 0 1\n", "net.cir:4:13: B1: R1 is not a voltage source; i() senses the current of one"},
        {"B1 a 0 X=1\n", "net.cir:4:8: expected V=expression or I=expression for B1"},
        {"B1 a 0 V={min(1)}\n", "net.cir:4:11: B1: min takes 2 arguments"},
        // Empty words and braces between the parts of a resistance's expression.
        {"R2 a 0 R={v(b)} \"\" 2\n", "net.cir:4:20: R2: expected ')'"},
        {"R2 a 0 R={v(b)} {} {1}\n", "net.cir:4:17: R2: expected ')'"},
    };
    for (const auto& [lines, message] : cases) {
        std::string got = "(no error)";
        try {
            readNetlist(std::string("t\n.tran 1u 1m\nR9 b 0 1\n") + lines, "net.cir", ".", hosttest::FakeLoader{});
        } catch (const NetlistError& e) {
            got = e.what();
        }
        EXPECT_EQ(got, message);
    }
}

TEST(BehaviouralSource, ComparatorFlipsAreCountedAsEvents) {
    // Over 2 ms the sine passes 0.5 four times: at 1/12, 5/12, 13/12 and
    // 17/12 ms, each a B1 event with the comparison's new value. At this span
    // a trial once ended within rounding of the first instant.
    const std::string text = "comparator\nV1 s 0 SIN(0 1 1k)\nVr r 0 0.5\nB1 out 0 V={v(s) > v(r) ? 5 : 0}\n"
                             "R1 out c 1k\nC1 c 0 10n\n.tran 1u 2m\n.print tran v(out)\n.end\n";
    Circuit c = readNetlist(text, "cmp.cir", ".", hosttest::FakeLoader{});
    std::ostringstream messages;
    const auto out = simulate(c, messages);
    const double instants[] = {1.0 / 12e3, 5.0 / 12e3, 13.0 / 12e3, 17.0 / 12e3};
    ASSERT_EQ(out.events.size(), 4u);
    EXPECT_EQ(out.stats.events, 4);
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(out.events[k].element, "B1");
        EXPECT_EQ(out.events[k].newState, k % 2 == 0 ? 1 : 0);
        EXPECT_NEAR(out.events[k].time, instants[k], 1e-12);
    }
}

TEST(BehaviouralSource, InsideASubcircuitNamesTheInstancesOwn) {
    // Each instance's B reads its own inner node, its own sensing source and
    // its own parameter: 3 * 1 V + 1k * 1 mA and 2 * 2 V + 1k * 2 mA.
    const std::string text =
        "sub\nV1 a 0 1\nV2 b 0 2\nX1 a o1 amp gain=3\nX2 b o2 amp\nRl1 o1 0 1k\nRl2 o2 0 1k\n"
        ".subckt amp in out gain=2\nVs in mid 0\nRm mid 0 1k\nBo out 0 V={gain*v(mid) + 1k*i(Vs)}\n.ends\n"
        ".tran 1u 10u\n.print tran v(o1) v(o2)\n.end\n";
    Circuit c = readNetlist(text, "sub.cir", ".", hosttest::FakeLoader{});
    std::ostringstream messages;
    const auto out = simulate(c, messages);
    ASSERT_FALSE(out.rows.empty());
    EXPECT_NEAR(out.rows.back()[1], 4.0, 1e-9);
    EXPECT_NEAR(out.rows.back()[2], 6.0, 1e-9);
    // Unbraced, with the parameter braced inside (as published decks write it): the same.
    std::string unbraced = text;
    unbraced.replace(unbraced.find("V={gain*v(mid) + 1k*i(Vs)}"), 26, "V=v(mid)*{gain} + 1k*i(Vs)");
    Circuit u = readNetlist(unbraced, "sub.cir", ".", hosttest::FakeLoader{});
    const auto again = simulate(u, messages);
    ASSERT_FALSE(again.rows.empty());
    EXPECT_NEAR(again.rows.back()[1], 4.0, 1e-9);
    EXPECT_NEAR(again.rows.back()[2], 6.0, 1e-9);
}

// POLY(n) and TABLE sources are their polynomials (SPICE2's order of terms:
// by degree, the first control's power highest first) and their
// piecewise-linear curves held beyond the ends, at every accepted point;
// the current-controlled ones sense their source's current, and G and F
// drive theirs from + to - through the source.
TEST(BehaviouralSource, PolynomialAndTableSourcesAreTheirCurves) {
    Circuit c = readNetlist(R"(poly and table
V1 a 0 SIN(0.5 1.5 1k)
V2 b 0 SIN(0 1 300)
VS s 0 0
R1 a s 1k
E1 e1 0 POLY(2) (a,0) (b,0) 0.1 1 -1 0.2 0.5 -0.25 0.05
G2 0 g2 POLY(1) a b 0 1m 0 2m
R2 g2 0 1k
F3 0 f3 POLY(1) VS 0 100 2e4
R3 f3 0 1k
H4 h4 0 POLY(2) VS V1 0 1k 0 1e5 10 1
E5 e5 0 TABLE {V(a)*2} = (-1,-2) (0,0) (1,3) (2,3.5)
.options points=all
.tran 10u 5m
.print tran V(e1) V(g2) V(f3) V(h4) V(e5)
)", "poly.cir", ".", hosttest::FakeLoader{});
    std::ostringstream messages;
    const auto out = simulate(c, messages);
    ASSERT_GT(out.rows.size(), 400u);
    auto table = [](double x) {
        if (x <= -1.0) return -2.0;
        if (x >= 2.0) return 3.5;
        return x < 0.0 ? 2.0 * x : x < 1.0 ? 3.0 * x : 3.0 + 0.5 * (x - 1.0);
    };
    const double pi = std::acos(-1.0);
    for (const auto& row : out.rows) {
        const double t = row[0], a = 0.5 + 1.5 * std::sin(2e3 * pi * t), b = std::sin(600.0 * pi * t);
        const double is = a / 1e3, iv1 = -is;  // the sensing sources' currents, from + through them
        const double ab = a - b;
        SCOPED_TRACE(t);
        EXPECT_NEAR(row[1], 0.1 + a - b + 0.2 * a * a + 0.5 * a * b - 0.25 * b * b + 0.05 * a * a * a, 1e-12);
        EXPECT_NEAR(row[2], 1e3 * (1e-3 * ab + 2e-3 * ab * ab * ab), 1e-12);
        EXPECT_NEAR(row[3], 1e3 * (100.0 * is + 2e4 * is * is), 1e-9);
        EXPECT_NEAR(row[4], 1e3 * is + 1e5 * is * is + 10.0 * is * iv1 + iv1 * iv1, 1e-9);
        EXPECT_NEAR(row[5], table(2.0 * a), 1e-12);
    }
}
