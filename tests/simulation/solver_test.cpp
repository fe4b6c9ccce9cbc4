// The KLU solver against Eigen's SparseLU on the same systems, including
// a refactorisation after an entry changes by twelve decades and the
// refactorisations of a block triangular system on its first pivots.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "sim/linear_solver.h"
#include "sim/pattern_builder.h"

namespace {

using udmhost::sim::makeLinearSolver;
using udmhost::sim::PatternBuilder;

TEST(PatternBuilder, MergesDuplicatesAndSendsGroundToTheSpareSlot) {
    PatternBuilder b(3);
    const int a = b.request(0, 1), dup = b.request(0, 1), ground = b.request(-1, 2), c = b.request(2, 0);
    const auto p = b.build();
    EXPECT_EQ(p.nonZeros(), 5);  // three diagonals, (0,1), (2,0)
    EXPECT_EQ(b.slotOf(a), b.slotOf(dup));
    EXPECT_EQ(b.slotOf(ground), p.nonZeros());
    EXPECT_EQ(p.columnStarts, (std::vector<int>{0, 2, 4, 5}));
    EXPECT_EQ(p.rowIndices, (std::vector<int>{0, 2, 0, 1, 2}));
    EXPECT_EQ(b.slotOf(c), 1);
}

struct System {
    udmhost::sim::SparsePattern pattern;
    std::vector<double> values;
    std::vector<int> diagonal;  // slot of each diagonal entry
};

// A random sparse, diagonally dominant system.
System randomSystem(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pick(0, n - 1);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    PatternBuilder b(n);
    std::vector<std::pair<int, int>> entries;
    for (int k = 0; k < 4 * n; ++k) entries.emplace_back(pick(rng), pick(rng));
    std::vector<int> tickets;
    for (auto [r, c] : entries) tickets.push_back(b.request(r, c));
    std::vector<int> diagonalTickets;
    for (int i = 0; i < n; ++i) diagonalTickets.push_back(b.request(i, i));
    System s{b.build(), {}, {}};
    s.values.assign(static_cast<size_t>(s.pattern.nonZeros()) + 1, 0.0);
    for (int t : tickets) s.values[static_cast<size_t>(b.slotOf(t))] += value(rng);
    for (int t : diagonalTickets) {
        s.diagonal.push_back(b.slotOf(t));
        s.values[static_cast<size_t>(b.slotOf(t))] += 10.0;
    }
    return s;
}

std::vector<double> solveWith(const char* name, const System& s, const std::vector<double>& rhs) {
    auto solver = makeLinearSolver(name);
    solver->analyse(s.pattern);
    EXPECT_TRUE(solver->factorise(s.values.data()));
    auto x = rhs;
    solver->solve(x.data());
    return x;
}

TEST(LinearSolver, KluAndEigenAgreeOnRandomSystems) {
    for (unsigned seed = 1; seed <= 5; ++seed) {
        const System s = randomSystem(60, seed);
        std::vector<double> rhs(60);
        for (size_t i = 0; i < rhs.size(); ++i) rhs[i] = std::sin(static_cast<double>(i + seed));
        const auto klu = solveWith("klu", s, rhs), eigen = solveWith("eigen", s, rhs);
        for (size_t i = 0; i < rhs.size(); ++i) EXPECT_NEAR(klu[i], eigen[i], 1e-12) << "seed " << seed;
    }
}

// A closed switch (1 ohm) across a node that an open one (1e12 ohm) left
// nearly floating: the old pivot order must not spoil the result.
TEST(LinearSolver, RefactorisationSurvivesTwelveDecadeChanges) {
    System s = randomSystem(40, 9);
    std::vector<double> rhs(40, 1.0);
    auto klu = makeLinearSolver("klu");
    klu->analyse(s.pattern);
    const size_t d0 = static_cast<size_t>(s.diagonal[0]);
    for (double g : {1e-12, 1.0, 1e-12, 1e12, 1.0}) {
        s.values[d0] = g;
        ASSERT_TRUE(klu->factorise(s.values.data()));
        auto x = rhs;
        klu->solve(x.data());
        const auto eigen = solveWith("eigen", s, rhs);
        for (size_t i = 0; i < x.size(); ++i) EXPECT_NEAR(x[i], eigen[i], 1e-9 * (1 + std::abs(eigen[i]))) << g;
    }
    EXPECT_GE(klu->fullFactorisations(), 1);
}

// Blocks coupled one way only (a source's chain feeding the circuit it
// drives), their rows and columns shuffled: the factorisation finds the
// blocks, and the refactorisations that reuse its pivots must take the
// coupling into each block's right-hand side in the right order.
TEST(LinearSolver, RefactorisedBlockTriangularSystemsSolveExactly) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    const int n = 30;
    std::vector<int> shuffle(n), blockOf(n);
    for (int i = 0; i < n; ++i) {
        shuffle[static_cast<size_t>(i)] = i;
        blockOf[static_cast<size_t>(i)] = i / 5;
    }
    std::shuffle(shuffle.begin(), shuffle.end(), rng);
    PatternBuilder b(n);
    std::vector<int> tickets, diagonal;
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) {
            const int br = blockOf[static_cast<size_t>(r)], bc = blockOf[static_cast<size_t>(c)];
            // Dense within a block, sparse above the blocks, none below.
            if (r == c) diagonal.push_back(static_cast<int>(tickets.size()));
            if (br == bc || (br < bc && (r + 2 * c) % 7 == 0))
                tickets.push_back(b.request(shuffle[static_cast<size_t>(r)], shuffle[static_cast<size_t>(c)]));
        }
    System s{b.build(), {}, {}};
    auto klu = makeLinearSolver("klu");
    klu->analyse(s.pattern);
    std::vector<double> rhs(n);
    for (size_t i = 0; i < rhs.size(); ++i) rhs[i] = std::cos(static_cast<double>(i));
    for (int round = 0; round < 4; ++round) {
        s.values.assign(static_cast<size_t>(s.pattern.nonZeros()) + 1, 0.0);
        for (int t : tickets) s.values[static_cast<size_t>(b.slotOf(t))] = value(rng);
        for (int d : diagonal) s.values[static_cast<size_t>(b.slotOf(tickets[static_cast<size_t>(d)]))] += 6.0;
        ASSERT_TRUE(klu->factorise(s.values.data())) << round;
        auto x = rhs;
        klu->solve(x.data());
        const auto eigen = solveWith("eigen", s, rhs);
        for (size_t i = 0; i < x.size(); ++i) EXPECT_NEAR(x[i], eigen[i], 1e-12 * (1 + std::abs(eigen[i]))) << round;
    }
    EXPECT_EQ(klu->fullFactorisations(), 1);  // every later round reused the first pivots
}

// A nearly singular matrix gets a fresh factorisation with poor pivots; the
// healthy matrix after it must not be refactorised on those pivots just
// because their quality is compared with that poor factorisation's.
TEST(LinearSolver, PivotQualityRecoversAfterANearlySingularMatrix) {
    System s = randomSystem(40, 4);
    std::vector<double> rhs(40, 1.0);
    auto klu = makeLinearSolver("klu");
    klu->analyse(s.pattern);
    const auto healthy = s.values;
    for (const char* phase : {"healthy", "near-singular", "healthy again"}) {
        s.values = healthy;
        if (std::string(phase) == "near-singular")
            for (size_t k = 0; k < s.diagonal.size(); k += 2) s.values[static_cast<size_t>(s.diagonal[k])] *= 1e-13;
        ASSERT_TRUE(klu->factorise(s.values.data())) << phase;
        auto x = rhs;
        klu->solve(x.data());
        const auto eigen = solveWith("eigen", s, rhs);
        double worst = 0.0;
        for (size_t i = 0; i < x.size(); ++i) worst = std::max(worst, std::abs(x[i] - eigen[i]) / (1 + std::abs(eigen[i])));
        EXPECT_LT(worst, 1e-12) << phase;
    }
}

TEST(LinearSolver, ReportsSingularMatricesAndUnknownNames) {
    PatternBuilder b(2);
    b.request(0, 1);
    const auto p = b.build();
    std::vector<double> values(static_cast<size_t>(p.nonZeros()) + 1, 0.0);
    for (const char* name : {"klu", "eigen"}) {
        auto solver = makeLinearSolver(name);
        solver->analyse(p);
        EXPECT_FALSE(solver->factorise(values.data())) << name;
    }
    EXPECT_THROW(makeLinearSolver("umfpack"), std::invalid_argument);
}

}  // namespace
