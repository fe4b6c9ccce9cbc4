#include "sim/restart_policy.h"

#include <algorithm>
#include <cmath>

namespace udmhost::sim {

double RestartPolicy::afterSwitching(const StepController& steps, bool onOldStamps, double at) {
    // A switching that another one set off (a diode turned off by the
    // switch that closed a picosecond before) comes within the first step
    // after that one, while the steps are still short from locating it: the
    // circuit's pace is the one before the first.
    if (lastSwitching_ >= 0.0 && at - lastSwitching_ < firstStep_) pace = std::max(pace, chainPace_);
    else chainPace_ = pace;
    lastSwitching_ = at;
    stepsSinceRestart_ = 0;  // a fresh backward Euler step after the switching
    stiffStep_ = steppedOverStiff_ = afterStiff_ = false;
    restartedBySwitching_ = true;
    firstRetried_ = false;
    switchedOnOldStamps_ = onOldStamps;
    slowStretch_ = false;
    firstStep_ = steps.afterSwitching(pace);
    return firstStep_;
}

void RestartPolicy::notePace(const StepController& steps, double step, double ratio, bool cut) {
    // Without an estimate only a step that nothing cut short shows the pace.
    if (!cut) lastFullStep = step;
    // At least the step just taken, at most the longest step. A step may end
    // a rounding past the longest (the time rounded to its point): then the
    // longest bounds the pace unless the estimate asks for less than the step.
    if (std::isfinite(ratio)) {
        const double allowed = steps.allowedBy(step, ratio);
        pace = allowed < step ? step : std::min(allowed, steps.maxStep());
    } else if (!cut) {
        pace = step;
    }
}

RestartPolicy::Kind RestartPolicy::method(Kind secondOrder) const {
    // Backward Euler for the first two steps after a restart, which leave
    // the history the second-order methods need; the trapezoidal rule needs
    // only the last derivative, which a first step far shorter than the
    // circuit's time scale gives (trapezoidalNext_), and the second-order
    // backward difference only the charges (gearNext_).
    if (stiffStep_) return Kind::BackwardEuler;
    if (stepsSinceRestart_ >= 2) return secondOrder;
    if (secondStep() && trapezoidalNext_) return secondOrder;
    if (secondStep() && gearNext_) return Kind::Gear;
    return Kind::BackwardEuler;
}

double RestartPolicy::accepted(const StepController& steps, Kind secondOrder, double step, double ratio, bool onLimit,
                               double firstLimit, double h) {
    const bool first = firstAfterSwitching();
    ++stepsSinceRestart_;
    trapezoidalNext_ = gearNext_ = false;
    if (first) {
        // Into a slow stretch, the first step's flow is the circuit's at its
        // end to a share of the step over the time scale: the trapezoidal
        // rule may go on from it at once, with a long step.
        slowStretch_ = steps.intoSlowStretch(step, firstLimit);
        trapezoidalNext_ = slowStretch_ && secondOrder == Kind::Trapezoidal;
        // A switching point solved on the old stamps gives no flow to
        // estimate the step from (its jump is no curvature): the second step
        // is a backward difference, of second order from the charges alone,
        // at a ratio to the first at which it is stable.
        gearNext_ = !trapezoidalNext_ && switchedOnOldStamps_ && secondOrder == Kind::Trapezoidal;
        h = gearNext_ ? steps.backwardDifferenceAfter(step) : steps.afterFirstStep(step, firstLimit, trapezoidalNext_);
    } else if (slowStretch_ && !onLimit) {
        h = std::max(h, steps.inSlowStretch(step, ratio));
    } else if (restartedBySwitching_ && !onLimit && steps.intoSlowStretch(step, ratio * step)) {
        // The second step's estimate shows the slow stretch the first
        // one's may not (its flow at the switching may be the old one's).
        slowStretch_ = true;
        h = std::max(h, steps.inSlowStretch(step, ratio));
    }
    if (h >= steps.maxStep()) slowStretch_ = false;
    if (!first) restartedBySwitching_ = false;
    return h;
}

}  // namespace udmhost::sim
