#include "sim/switching_chains.h"

#include <algorithm>
#include <cmath>

namespace udmhost::sim {

namespace {

// Of the first step: a follow-up later than this is not a chain's, and the
// first trial is left as the restart sizes it.
constexpr double kChainReach = 0.5;

}  // namespace

std::optional<double> SwitchingChains::switched(const std::vector<SwitchEvent>& events, size_t from, double time,
                                                double firstStep, double tolerance) {
    std::string key;
    for (size_t k = from; k < events.size(); ++k)
        key.append(events[k].element).append(1, '\0').append(std::to_string(events[k].newState)).append(1, '\0');
    if (key.empty()) return std::nullopt;
    // This point follows the one before: a chain of that one's when it came
    // within its first step, none otherwise.
    if (!lastKey_.empty()) {
        const double delay = time - lastTime_;
        if (delay <= kChainReach * lastFirstStep_) {
            Chain& c = chains_[lastKey_];
            // Each instant is located to within the tolerance, so the same
            // delay measured twice may differ by twice that.
            const double agreement = std::max(kAgreement * c.delay, 2.0 * tolerance);
            c.seenTwice = c.followUp == key && std::abs(delay - c.delay) <= agreement;
            c.followUp = key;
            c.delay = delay;
        } else {
            chains_.erase(lastKey_);
        }
    }
    lastKey_ = std::move(key);
    lastTime_ = time;
    lastFirstStep_ = firstStep;
    const auto known = chains_.find(lastKey_);
    if (known == chains_.end() || !known->second.seenTwice) return std::nullopt;
    const double delay = known->second.delay;
    if (!(delay > tolerance) || delay > kChainReach * firstStep) return std::nullopt;
    return delay;
}

}  // namespace udmhost::sim
