// The step size policy of the time loop: growth from the truncation error
// estimate, holding the step while it needs no large change (so that the
// factorisation can be reused), the restart after a switching, and the
// watch for a switch that changes state at every step.
#pragma once

#include <string>
#include <vector>

namespace udmhost::sim {

class StepController {
public:
    // `span`: the simulated interval; `eventTolerance`: absolute.
    StepController(double span, double maxStep, double eventTolerance);

    double minStep() const { return minStep_; }
    double maxStep() const { return maxStep_; }
    double eventTolerance() const { return eventTolerance_; }

    // The next step after a step accepted with this truncation ratio (the
    // factor by which it could have been longer; infinity: not estimated)
    // under a method of order 2 (`secondOrder`) or 1.
    double afterAccepted(double step, double ratio, bool secondOrder) const;
    // The limit on the next step after a step that ended at the bracket of
    // a located switching without showing it.
    double afterMissedBracket(double step) const;
    // The longest step a truncation ratio allows, with the safety margin.
    double allowedBy(double step, double ratio) const;
    // After a rejection for truncation error.
    double afterRejected(double step, double ratio) const;
    // The first step after a switching, from the pace before it (the step
    // the error control allowed there).
    double afterSwitching(double paceBefore) const;
    // The second step after a switching, from the first one and the longest
    // step its truncation estimate allows.
    // `trapezoidal`: that step is taken by the trapezoidal rule, whose error
    // into a slow stretch is far below the first-order one.
    double afterFirstStep(double step, double allowed, bool trapezoidal) const;
    // The second step after a switching when it is a second-order backward
    // difference, from the first one.
    double backwardDifferenceAfter(double step) const;
    // Whether that step allows so much that the switching led into a slow
    // stretch, and the steps there, up to the largest, after one accepted
    // with this truncation ratio.
    bool intoSlowStretch(double step, double allowed) const;
    double inSlowStretch(double step, double ratio) const;

    // Whether the time since `t` of `points` accepted points is that of a
    // switch changing state at nearly every step rather than a fast circuit.
    bool chattering(double sinceLast, long pointsSinceLast) const;

private:
    double span_, maxStep_, eventTolerance_, minStep_;
};

// Bisection of [0, 1] for the first point at which `changed` holds, given
// that it holds at 1 and not at 0, to within `width`. Returns {lo, hi}.
template <class Changed>
std::pair<double, double> bisectChange(Changed changed, double width) {
    double lo = 0.0, hi = 1.0;
    while (hi - lo > width) {
        const double mid = 0.5 * (lo + hi);
        if (mid <= lo || mid >= hi) break;
        (changed(mid) ? hi : lo) = mid;
    }
    return {lo, hi};
}

}  // namespace udmhost::sim
