#include "sim/step_controller.h"

#include <algorithm>
#include <cmath>

namespace udmhost::sim {

namespace {
constexpr double kSafety = 0.9;     // of the step the error estimate allows
constexpr double kMaxGrowth = 5.0;  // per step: the estimate is of the step just taken
// Unless a second-order estimate allows a step this many times longer (the
// error is under 1e-10 of its allowance), as after a switching into a slow
// stretch. First-order estimates, and smaller ratios, of the short steps
// there are mostly rounding: growth decided on them would depend on the
// rounding of the linear solver.
constexpr double kFastGrowthRatio = 1e5, kFastGrowth = 20.0;
// After a bracket that held no switching: it lies just beyond, and a trial
// this many times the last step finds it on a short step, not on a long one
// whose estimate falls late.
constexpr double kAfterMissedBracket = 64.0;
// A step that should change by less than this stays as it is: the matrix,
// and so its factorisation, stays the same.
constexpr double kHoldBand = 1.5;
// The first step after a switching, relative to the pace before it: the
// circuit after a switching may be far faster than before.
constexpr double kRestartFraction = 1e-2;
// The second step after a switching may grow this much when the first one
// allows a step this many times longer: the switching led into a slow
// stretch. Else by kMaxGrowth: the circuit after it is about as fast as the
// first step, and the trapezoidal steps that follow carry on the error of
// long backward Euler steps.
constexpr double kSlowAfterSwitching = 1e4, kSlowGrowth = 100.0;
// As far when that step is trapezoidal: its error there is far below the
// first-order estimate that checks it.
constexpr double kSlowTrapezoidalGrowth = kSlowAfterSwitching;
// A variable-step second-order backward difference is stable for a step up
// to 1 + sqrt(2) times the one before.
constexpr double kBackwardDifferenceRatio = 2.0;
// A switch whose state changes within this many accepted points, this many
// times in a row, has no state it can hold.
constexpr long kChatterPoints = 4;
}  // namespace

StepController::StepController(double span, double maxStep, double eventTolerance)
    : span_(span), maxStep_(maxStep), eventTolerance_(eventTolerance) {
    minStep_ = std::min(span_ * 1e-14, eventTolerance_ * 1e-2);
}

double StepController::afterAccepted(double step, double ratio, bool secondOrder) const {
    const bool fast = secondOrder && std::isfinite(ratio) && ratio > kFastGrowthRatio;
    const double growth = fast ? kFastGrowth : kMaxGrowth;
    const double wanted = std::min(growth, kSafety * ratio) * step;
    if (wanted >= step && wanted < kHoldBand * step) return step;
    return std::min(wanted, maxStep_);
}

double StepController::afterMissedBracket(double step) const { return kAfterMissedBracket * step; }

double StepController::allowedBy(double step, double ratio) const { return kSafety * ratio * step; }

double StepController::afterRejected(double step, double ratio) const {
    return step * std::max(kSafety * ratio, 0.1);
}

double StepController::afterSwitching(double paceBefore) const {
    return std::min(std::max(kRestartFraction * paceBefore, 4.0 * minStep_), maxStep_);
}

double StepController::afterFirstStep(double step, double allowed, bool trapezoidal) const {
    const double slow = trapezoidal ? kSlowTrapezoidalGrowth : kSlowGrowth;
    const double growth = intoSlowStretch(step, allowed) ? slow : kMaxGrowth;
    return std::min({kSafety * allowed, growth * step, maxStep_});
}

double StepController::backwardDifferenceAfter(double step) const {
    return std::min(kBackwardDifferenceRatio * step, maxStep_);
}

bool StepController::intoSlowStretch(double step, double allowed) const {
    return allowed > kSlowAfterSwitching * step;
}

double StepController::inSlowStretch(double step, double ratio) const {
    return std::min(std::min(kSlowGrowth, kSafety * ratio) * step, maxStep_);
}

bool StepController::chattering(double sinceLast, long pointsSinceLast) const {
    return pointsSinceLast <= kChatterPoints && sinceLast <= 1e-3 * span_;
}

}  // namespace udmhost::sim
