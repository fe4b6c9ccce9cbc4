// B sources' discontinuities in the time loop: located like a switch's.
#include <limits>

#include "sim/transient_engine.h"

namespace udmhost::sim {

bool TransientEngine::behaviouralSwitching(double next, const Discretisation& d, double step) {
    const auto at = newton_.behavioural().crossing(newton_.x().data(), next);
    if (!at) return false;
    LoopState& s = loop_;
    if (step > steps_->eventTolerance()) {
        // Interpolated from the argument's values at both ends of the trial;
        // an estimate that keeps missing is bisected (retryShortOf).
        ++output_.stats.rejected;
        s.slowStretch = false;
        retryShortOf({*at, *at}, step);
        return true;
    }
    acceptPoint(next, d);
    ++output_.stats.accepted;
    s.t = next;
    s.locatesFromHere = 0;
    s.bracket = std::numeric_limits<double>::infinity();
    s.stepsSinceRestart = 0;  // a fresh backward Euler step after the switching
    s.restartedBySwitching = true;
    s.switchedOnOldStamps = false;
    s.slowStretch = false;
    s.h = steps_->afterSwitching(s.lastFullStep);
    return true;
}

}  // namespace udmhost::sim
