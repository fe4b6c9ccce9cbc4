// Switchings in the time loop: B sources' discontinuities, located like a
// switch's, and the restart from a switching point.
#include <algorithm>
#include <limits>

#include "sim/transient_engine.h"

namespace udmhost::sim {

bool TransientEngine::behaviouralSwitching(double next, const Discretisation& d, double step) {
    const auto at = newton_.behavioural().crossing(newton_.x().data(), next);
    if (!at) return false;
    LoopState& s = loop_;
    if (step > steps_->eventTolerance()) {
        // Interpolated from the argument's values at both ends of the trial;
        // an estimate that keeps missing is bisected (retryShortOf). An
        // accepted point within rounding of the threshold puts the estimate
        // at the start: the next trial then spans half the tolerance, which
        // locates it.
        ++output_.stats.rejected;
        s.restart.rejected();
        const double fraction = std::max(*at, 0.5 * steps_->eventTolerance() / step);
        retryShortOf({fraction, fraction}, step);
        return true;
    }
    acceptSwitchingPoint(next, d, false);
    return true;
}

void TransientEngine::acceptSwitchingPoint(double next, const Discretisation& d, bool onOldStamps) {
    LoopState& s = loop_;
    acceptPoint(next, d);
    ++output_.stats.accepted;
    s.t = next;
    s.locatesFromHere = 0;
    s.extrapolated = false;
    s.bracket = std::numeric_limits<double>::infinity();
    s.h = s.restart.afterSwitching(*steps_, onOldStamps, next);
}

}  // namespace udmhost::sim
