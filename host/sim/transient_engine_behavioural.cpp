// Switchings in the time loop: B sources' discontinuities, located like a
// switch's, and the restart from a switching point.
#include <algorithm>
#include <limits>

#include "sim/transient_engine.h"

namespace udmhost::sim {

namespace {

// Of a remembered follow-up's delay: how far short of it the first trial
// after its switching ends (as far as the delays of a chain may differ).
constexpr double kFollowUpMargin = SwitchingChains::kAgreement;

}  // namespace

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
    const size_t before = output_.events.size();
    acceptPoint(next, d);
    ++output_.stats.accepted;
    s.t = next;
    s.locatesFromHere = 0;
    s.extrapolated = false;
    s.bracket = std::numeric_limits<double>::infinity();
    s.h = s.restart.afterSwitching(*steps_, onOldStamps, next);
    // A follow-up remembered is approached, and the trial after that is
    // aimed just past it.
    s.followUpAt = std::numeric_limits<double>::infinity();
    if (const auto delay = chains_.switched(output_.events, before, next, s.h, steps_->eventTolerance())) {
        s.followUpAt = next + *delay;
        s.h = (1.0 - kFollowUpMargin) * *delay;
    }
}

}  // namespace udmhost::sim
