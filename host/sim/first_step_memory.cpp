#include "sim/first_step_memory.h"

#include <algorithm>

namespace udmhost::sim {

double FirstStepMemory::firstStep(const std::vector<SwitchEvent>& events, double fromPace, double floor) {
    restart_.clear();
    double step = fromPace;
    for (const SwitchEvent& e : events) {
        restart_.emplace_back(e.element, e.newState);
        const auto known = allowed_.find(restart_.back());
        if (known != allowed_.end()) step = std::min(step, known->second);
    }
    return std::min(fromPace, std::max(step, floor));
}

void FirstStepMemory::learn(double allowed) {
    for (const auto& key : restart_) allowed_[key] = allowed;
    restart_.clear();
}

}  // namespace udmhost::sim
