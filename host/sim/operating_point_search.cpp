#include "sim/operating_point_search.h"

#include <algorithm>
#include <cmath>

namespace udmhost::sim {

namespace {

// The gmin stepping starts here and lowers gmin by at most this factor a step.
constexpr double kFirstGmin = 1e-3;
constexpr double kGminFactor = 10.0;
// A step whose factor has shrunk below this cannot get closer: the way failed.
constexpr double kSmallestGminFactor = 1.00005;
// The source stepping starts at zero; its first raise, the largest after a
// failed one, and the smallest worth trying.
constexpr double kFirstRaise = 1e-3, kLargestRaiseAfterFailure = 1e-2, kSmallestRaise = 1e-7;
// At zero sources: a gmin this many times the kept one, lowered tenfold a step.
constexpr int kZeroSourceGminDecades = 10;
// Solves per way, however small the steps get.
constexpr int kMostSolves = 2000;
// The second round's iterations per step, in multiples of the first's.
constexpr int kMoreIterations = 4;

}  // namespace

std::optional<OperatingPointSearch::Found> OperatingPointSearch::run(const Point& guess) {
    // Both ways once more with steps allowed more iterations: a latch whose
    // solutions fold over (a 555's flip-flop of 30 transistors) needs more
    // than 50 to cross from one branch to the other.
    const int iterations = stepIterations_;
    std::optional<Found> found;
    for (const int allowed : {iterations, kMoreIterations * iterations}) {
        stepIterations_ = allowed;
        if (auto stepped = gminStepping(guess)) found = Found{std::move(*stepped), Way::GminStepping};
        else if (auto sourced = sourceStepping(guess)) found = Found{std::move(*sourced), Way::SourceStepping};
        if (found) break;
    }
    stepIterations_ = iterations;
    return found;
}

std::optional<OperatingPointSearch::Point> OperatingPointSearch::gminStepping(const Point& guess) {
    // An easy step lets the next one go further, a hard one holds it back;
    // a failed one is retried from the last solution, a smaller step down.
    double factor = kGminFactor, lastGmin = kFirstGmin * kGminFactor, gmin = std::max(kFirstGmin, gmin_);
    Point from = guess;
    for (int solves = 0; solves < kMostSolves; ++solves) {
        if (auto solved = solve_(gmin, 1.0, stepIterations_, from)) {
            from = std::move(solved->point);
            if (gmin <= gmin_) return from;
            if (solved->iterations <= stepIterations_ / 4) factor = std::min(factor * std::sqrt(factor), kGminFactor);
            if (solved->iterations > 3 * stepIterations_ / 4) factor = std::max(std::sqrt(factor), kSmallestGminFactor);
            lastGmin = gmin;
            if (gmin < factor * gmin_) {
                gmin = gmin_;
            } else {
                gmin /= factor;
            }
        } else {
            if (factor < kSmallestGminFactor) return std::nullopt;
            factor = std::sqrt(std::sqrt(factor));
            gmin = lastGmin / factor;
        }
    }
    return std::nullopt;
}

std::optional<OperatingPointSearch::Point> OperatingPointSearch::sourceStepping(const Point& guess) {
    // With every source at zero the circuit usually rests at zero; where it
    // does not, gmin stepping finds that point first.
    std::optional<Solution> rest = solve_(gmin_, 0.0, stepIterations_, guess);
    if (!rest) {
        Point from = guess;
        double gmin = gmin_ * std::pow(10.0, kZeroSourceGminDecades);
        for (int decade = 0; decade <= kZeroSourceGminDecades; ++decade, gmin /= 10.0) {
            rest = solve_(std::max(gmin, gmin_), 0.0, stepIterations_, from);
            if (!rest) return std::nullopt;
            from = rest->point;
        }
    }
    Point from = std::move(rest->point);
    double reached = 0.0, raise = kFirstRaise, factor = kFirstRaise;
    for (int solves = 0; solves < kMostSolves && raise >= kSmallestRaise && reached < 1.0; ++solves) {
        if (auto solved = solve_(gmin_, factor, stepIterations_, from)) {
            reached = factor;
            from = std::move(solved->point);
            if (solved->iterations <= stepIterations_ / 4) raise *= 1.5;
            if (solved->iterations > 3 * stepIterations_ / 4) raise *= 0.5;
            factor = reached + raise;
        } else {
            raise = std::min(raise / 10.0, kLargestRaiseAfterFailure);
            factor = reached + raise;
        }
        factor = std::min(factor, 1.0);
    }
    if (reached < 1.0) return std::nullopt;
    return from;
}

}  // namespace udmhost::sim
