// The engine as one block of a split circuit: the trajectories it records
// for the blocks downstream, the breakpoints it learns on the way, the rows
// it hands over stretch by stretch.
#include "sim/transient_engine.h"

#include <algorithm>
#include <utility>

namespace udmhost::sim {

void TransientEngine::recordNodes(std::vector<std::pair<int, std::shared_ptr<NodeTrajectory>>> nodes) {
    recorded_ = std::move(nodes);
}

std::vector<const TimeSignal*> TransientEngine::signalUnknowns() const {
    std::vector<const TimeSignal*> signals(static_cast<size_t>(equations_.size()) + 1, nullptr);
    for (const Element& el : circuit_.elements)
        if (el.kind == Element::Kind::VoltageSource && el.waveform.kind == Waveform::Kind::Signal &&
            el.nodes.at(0) > 0 && el.nodes.at(1) == 0)
            signals[static_cast<size_t>(CircuitEquations::nodeUnknown(el.nodes[0]))] = el.waveform.signal.get();
    return signals;
}

void TransientEngine::addBreakpoints(std::vector<double> times) {
    if (times.empty()) return;
    const double merge = span_ * 1e-12;
    times.insert(times.end(), breakpoints_.begin() + static_cast<std::ptrdiff_t>(loop_.nextBreakpoint),
                 breakpoints_.end());
    std::sort(times.begin(), times.end());
    breakpoints_.resize(loop_.nextBreakpoint);
    for (double b : times)
        if (b > loop_.t + merge && b <= circuit_.tran.stop &&
            (breakpoints_.size() == loop_.nextBreakpoint || b - breakpoints_.back() > merge))
            breakpoints_.push_back(b);
    if (breakpoints_.size() == loop_.nextBreakpoint || breakpoints_.back() < circuit_.tran.stop)
        breakpoints_.push_back(circuit_.tran.stop);
    breakpoints_.back() = circuit_.tran.stop;
}

double TransientEngine::plannedEnd(double until) {
    if (!planned_ || planned_->first != until) planned_.emplace(until, planTrial(until));
    return planned_->second.next;
}

double TransientEngine::nodeVoltage(int node) const {
    return node == 0 ? 0.0 : unknownValue(nodeUnknown(node));
}

double TransientEngine::horizon(double until) {
    const double end = plannedEnd(until);
    return planned_->second.foreseen ? end : loop_.t;
}

TransientEngine::Rows TransientEngine::takeRows() {
    Rows taken;
    taken.rows.reserve(output_.rows.size());
    for (const std::vector<double>& row : output_.rows) taken.rows.push_back(row);
    output_.rows.clear();
    taken.kinds = std::exchange(rowKinds_, {});
    return taken;
}

}  // namespace udmhost::sim
