#include "sim/loose_couplings.h"

#include <algorithm>
#include <numeric>
#include <set>

namespace udmhost::sim {

namespace {
// The coupling's time constant over the largest step. At 100 a neighbour's
// voltage read dV off moves a node by at most dV / 100 within a step.
constexpr double kStepsPerTimeConstant = 100.0;
}  // namespace

std::vector<bool> looseCouplings(const Circuit& c, const std::vector<bool>& fixed) {
    using Kind = Element::Kind;
    std::vector<bool> loose(c.elements.size(), false);
    // Per node, the capacitance to nodes that do not move with it.
    std::vector<double> grounded(c.nodeNames.size(), 0.0);
    for (const Element& el : c.elements) {
        if (el.kind != Kind::Capacitor || !(el.value > 0.0)) continue;
        const auto a = static_cast<size_t>(el.nodes.at(0)), b = static_cast<size_t>(el.nodes.at(1));
        if (fixed[a] != fixed[b]) grounded[fixed[a] ? b : a] += el.value;
    }
    const double largestStep = c.tran.largestStep();
    for (size_t e = 0; e < c.elements.size(); ++e) {
        const Element& el = c.elements[e];
        if (el.kind != Kind::Resistor || !(el.value > 0.0)) continue;
        const auto a = static_cast<size_t>(el.nodes.at(0)), b = static_cast<size_t>(el.nodes.at(1));
        if (a == b || fixed[a] || fixed[b]) continue;
        loose[e] = el.value * std::min(grounded[a], grounded[b]) >= kStepsPerTimeConstant * largestStep;
    }
    return loose;
}

bool groupLooselyCoupled(const Circuit& c, const std::vector<ElementRoles>& roles, const std::vector<bool>& skipped,
                         std::vector<bool>& loose, int blocks, std::vector<int>& blockOfNode,
                         std::vector<int>& groupOf) {
    const auto count = static_cast<size_t>(blocks);
    auto blockOf = [&](int node) { return blockOfNode[static_cast<size_t>(node)]; };
    // Groups: the blocks that loose couplings join, by union-find.
    std::vector<int> root(count);
    std::iota(root.begin(), root.end(), 0);
    auto find = [&](int b) {
        while (root[static_cast<size_t>(b)] != b) b = root[static_cast<size_t>(b)] = root[static_cast<size_t>(root[static_cast<size_t>(b)])];
        return b;
    };
    std::vector<bool> grouped(count, false);
    for (size_t e = 0; e < c.elements.size(); ++e) {
        if (!loose[e]) continue;
        const int a = blockOf(c.elements[e].nodes[0]), b = blockOf(c.elements[e].nodes[1]);
        if (a == b) {
            loose[e] = false;
            continue;
        }
        root[static_cast<size_t>(find(a))] = find(b);
        grouped[static_cast<size_t>(a)] = grouped[static_cast<size_t>(b)] = true;
    }
    // The order of the groups and the blocks outside them: every element's
    // reads before its drives.
    std::vector<std::set<int>> after(count);  // unit -> units reading it
    for (size_t e = 0; e < c.elements.size(); ++e) {
        if (skipped[e] || loose[e]) continue;
        std::set<int> read, driven;
        for (int r : roles[e].reads)
            if (blockOf(r) >= 0) read.insert(blockOf(r));
        for (int w : roles[e].drives)
            if (blockOf(w) >= 0) driven.insert(blockOf(w));
        if (driven.empty()) {
            const bool anyGrouped = std::any_of(read.begin(), read.end(), [&](int b) { return grouped[static_cast<size_t>(b)]; });
            if (read.size() > 1 && anyGrouped) return false;
            continue;
        }
        for (int w : driven)
            for (int r : read) {
                if (r == w) continue;
                if (find(r) == find(w)) return false;  // grouped blocks that also read each other
                after[static_cast<size_t>(find(r))].insert(find(w));
            }
    }
    std::vector<int> waiting(count, 0);
    for (size_t u = 0; u < count; ++u)
        for (int v : after[u]) ++waiting[static_cast<size_t>(v)];
    // Kahn's order, lowest block first among the ready, so that blocks
    // keep their order where nothing forces another.
    std::set<int> ready;
    for (int b = 0; b < blocks; ++b)
        if (find(b) == b && waiting[static_cast<size_t>(b)] == 0) ready.insert(b);
    std::vector<int> renumbered(count, -1);
    groupOf.assign(count, -1);
    int next = 0, groups = 0;
    while (!ready.empty()) {
        const int unit = *ready.begin();
        ready.erase(ready.begin());
        const int group = grouped[static_cast<size_t>(unit)] ? groups++ : -1;
        for (int b = 0; b < blocks; ++b)
            if (find(b) == unit) {
                groupOf[static_cast<size_t>(next)] = group;
                renumbered[static_cast<size_t>(b)] = next++;
            }
        for (int v : after[static_cast<size_t>(unit)])
            if (--waiting[static_cast<size_t>(v)] == 0) ready.insert(v);
    }
    if (next != blocks) return false;  // the groups close a loop
    for (int& b : blockOfNode)
        if (b >= 0) b = renumbered[static_cast<size_t>(b)];
    return groups > 0;
}

}  // namespace udmhost::sim
