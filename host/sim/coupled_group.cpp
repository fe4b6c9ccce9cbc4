#include "sim/coupled_group.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <map>
#include <queue>
#include <sstream>
#include <tuple>
#include <utility>

namespace udmhost::sim {

namespace {
// Of the largest step: the whole circuit's first step under UIC, which
// gives the values the blocks start from, and the trials it gets (each
// rejection shortens the next).
constexpr double kFirstStep = 1e-6;
constexpr int kFirstStepTrials = 64;
}  // namespace

CoupledGroup::CoupledGroup(std::vector<TransientEngine*> engines, const std::vector<CircuitBlock>& blocks,
                           size_t first, size_t last, double stop)
    : engines_(std::move(engines)), neighbours_(last - first), inputs_(last - first), stop_(stop) {
    std::map<const NodeTrajectory*, size_t> owner;
    for (size_t b = first; b < last; ++b)
        for (const auto& exported : blocks[b].exports) owner[exported.second.get()] = b - first;
    for (size_t b = first; b < last; ++b)
        for (const auto& coupling : blocks[b].couplings) {
            neighbours_[b - first].push_back(owner.at(coupling.second.get()));
            inputs_[b - first].push_back(coupling.second.get());
        }
}

double CoupledGroup::horizon(size_t i) const {
    TransientEngine& engine = *engines_[i];
    if (stop_ - engine.time() <= engine.minStep()) return std::numeric_limits<double>::infinity();
    return engine.horizon(stop_);
}

bool CoupledGroup::active(size_t i, double end) const {
    const TransientEngine& engine = *engines_[i];
    return engine.time() < end && stop_ - engine.time() > engine.minStep();
}

void CoupledGroup::advancePast(double end) {
    // Lowest horizon first, then shortest trial: a block whose next trial
    // may show a switching it did not foresee (its horizon is where it
    // stands) steps before its neighbours read past it.
    using Entry = std::tuple<double, double, size_t, long>;  // horizon, planned end, block, its step count
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> next;
    std::vector<long> steps(engines_.size(), 0);
    auto push = [&](size_t i) {
        if (active(i, end)) next.emplace(horizon(i), engines_[i]->plannedEnd(stop_), i, steps[i]);
    };
    for (size_t i = 0; i < engines_.size(); ++i) push(i);
    while (!next.empty()) {
        const auto [key, planned, i, stepsThen] = next.top();
        next.pop();
        if (stepsThen != steps[i]) continue;  // it has stepped since
        ++steps[i];
        TransientEngine& engine = *engines_[i];
        const double t = engine.time(), minStep = engine.minStep();
        // Up to the nearest neighbour's horizon; a neighbour that vouches
        // for nothing beyond this point either is read ahead by the block
        // that goes first.
        double limit = planned;
        for (size_t j : neighbours_[i])
            if (const double h = horizon(j); h - t > minStep) limit = std::min(limit, h);
        for (const NodeTrajectory* input : inputs_[i]) limit = std::min(limit, input->firstCornerAfter(t));
        if (limit < planned && limit - t > minStep) engine.stepToward(limit);
        else engine.stepToward(stop_);
        push(i);
    }
}

CouplingSeeds::CouplingSeeds(const Circuit& whole, const std::vector<CircuitBlock>& blocks) : blocks_(blocks) {
    bool any = false;
    for (const CircuitBlock& block : blocks) any = any || !block.couplings.empty();
    if (!any) return;
    // Its messages are the blocks' own, which they give as they start; like
    // them it starts at time 0.
    std::ostringstream quiet;
    const ProgressFn none;
    TransientEngine engine(whole, quiet, none);
    engine.start();
    for (const CircuitBlock& block : blocks)
        for (size_t k = 0; k < block.couplings.size(); ++k) {
            afterStart_.push_back(engine.nodeVoltage(block.couplingNodes[k]));
            block.couplings[k].second->seed(0.0, afterStart_.back());
        }
    // Under UIC the start solves only the sources, and the plug-ins take
    // their states there as in the whole circuit; the values just after it,
    // from a first step of the whole circuit a millionth of the largest,
    // stand for those at the start once the blocks step.
    // Where that step cannot be made, the blocks' own first steps start from
    // the start's values.
    const double first = kFirstStep * whole.tran.largestStep();
    try {
        for (int trial = 0; whole.tran.uic && engine.time() == 0.0 && trial < kFirstStepTrials; ++trial)
            engine.stepToward(first);
    } catch (const SimulationError&) {
    }
    if (engine.time() > 0.0) {
        afterStart_.clear();
        for (const CircuitBlock& block : blocks)
            for (int node : block.couplingNodes) afterStart_.push_back(engine.nodeVoltage(node));
    }
    engine.finish();
}

void CouplingSeeds::started() const {
    size_t k = 0;
    for (const CircuitBlock& block : blocks_)
        for (const auto& coupling : block.couplings) coupling.second->seed(0.0, afterStart_[k++]);
}

}  // namespace udmhost::sim
