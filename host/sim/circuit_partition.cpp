#include "sim/circuit_partition.h"

#include <algorithm>
#include <map>
#include <set>

#include <btf.h>

#include "sim/loose_couplings.h"

namespace udmhost::sim {

namespace {

using Kind = Element::Kind;

// Nodes a chain of voltage sources ties to ground: their voltage is known
// at every instant without solving anything.
std::vector<bool> fixedNodes(const Circuit& c) {
    std::vector<bool> fixed(c.nodeNames.size(), false);
    fixed[0] = true;
    for (bool progress = true; progress;) {
        progress = false;
        for (const Element& el : c.elements) {
            if (el.kind != Kind::VoltageSource) continue;
            const auto a = static_cast<size_t>(el.nodes.at(0)), b = static_cast<size_t>(el.nodes.at(1));
            if (fixed[a] != fixed[b]) fixed[a] = fixed[b] = progress = true;
        }
    }
    return fixed;
}

// The block of every node that is not fixed (-1 for fixed ones), blocks
// numbered so that each depends only on blocks numbered lower: the strongly
// connected components of "the equation of node w depends on node r".
std::vector<int> nodeBlocks(const Circuit& c, const std::vector<ElementRoles>& roles, const std::vector<bool>& fixed,
                            const std::vector<bool>& driver, int& blocks) {
    std::vector<int> index(c.nodeNames.size(), -1), nodeOf;
    for (size_t node = 0; node < fixed.size(); ++node)
        if (!fixed[node]) {
            index[node] = static_cast<int>(nodeOf.size());
            nodeOf.push_back(static_cast<int>(node));
        }
    const int n = static_cast<int>(nodeOf.size());
    std::vector<std::pair<int, int>> entries;  // (column: read, row: driven)
    for (int i = 0; i < n; ++i) entries.emplace_back(i, i);
    for (size_t e = 0; e < c.elements.size(); ++e) {
        if (driver[e]) continue;
        for (int w : roles[e].drives)
            for (int r : roles[e].reads)
                if (index[static_cast<size_t>(w)] >= 0 && index[static_cast<size_t>(r)] >= 0)
                    entries.emplace_back(index[static_cast<size_t>(r)], index[static_cast<size_t>(w)]);
    }
    std::sort(entries.begin(), entries.end());
    entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
    std::vector<int> ap(static_cast<size_t>(n) + 1, 0), ai;
    for (const auto& [col, row] : entries) {
        ++ap[static_cast<size_t>(col) + 1];
        ai.push_back(row);
    }
    for (size_t j = 0; j < static_cast<size_t>(n); ++j) ap[j + 1] += ap[j];
    std::vector<int> p(static_cast<size_t>(n)), r(static_cast<size_t>(n) + 1), work(4 * static_cast<size_t>(n));
    blocks = n > 0 ? btf_strongcomp(n, ap.data(), ai.data(), nullptr, p.data(), r.data(), work.data()) : 0;
    // Upper block triangular: a block's rows reach only blocks after it, so
    // the last block depends on no other and comes first.
    std::vector<int> blockOf(c.nodeNames.size(), -1);
    for (int b = 0; b < blocks; ++b)
        for (int k = r[static_cast<size_t>(b)]; k < r[static_cast<size_t>(b) + 1]; ++k)
            blockOf[static_cast<size_t>(nodeOf[static_cast<size_t>(p[static_cast<size_t>(k)])])] = blocks - 1 - b;
    return blockOf;
}

// Voltage sources between fixed nodes: they drive every block.
std::vector<bool> driverSources(const Circuit& c, const std::vector<bool>& fixed) {
    std::vector<bool> driver(c.elements.size(), false);
    for (size_t e = 0; e < c.elements.size(); ++e) {
        const Element& el = c.elements[e];
        driver[e] = el.kind == Kind::VoltageSource && fixed[static_cast<size_t>(el.nodes.at(0))] &&
                    fixed[static_cast<size_t>(el.nodes.at(1))];
    }
    return driver;
}

// A K and its two inductors are one set of equations. The K reads and
// drives the inductors' nodes, so their unfixed nodes are in one block; an
// inductor between fixed nodes goes to its K's block. False when an
// inductor would have to be in two blocks.
bool keepCouplingsTogether(const Circuit& c, const std::vector<ElementRoles>& roles, const std::vector<bool>& fixed,
                           std::vector<int>& blockOf) {
    auto drivesUnfixed = [&](size_t e) {
        return std::any_of(roles[e].drives.begin(), roles[e].drives.end(),
                           [&](int n) { return !fixed[static_cast<size_t>(n)]; });
    };
    for (size_t e = 0; e < c.elements.size(); ++e) {
        const Element& el = c.elements[e];
        if (el.kind != Kind::MutualInductance) continue;
        for (int l : el.coupled) {
            const auto inductor = static_cast<size_t>(l);
            if (!drivesUnfixed(inductor)) blockOf[inductor] = blockOf[e];
        }
    }
    for (size_t e = 0; e < c.elements.size(); ++e) {
        const Element& el = c.elements[e];
        if (el.kind != Kind::MutualInductance) continue;
        for (int l : el.coupled)
            if (blockOf[static_cast<size_t>(l)] != blockOf[e]) return false;
    }
    return true;
}

}  // namespace

int dependencyBlocks(const Circuit& c, const std::vector<ElementRoles>& roles) {
    const std::vector<bool> fixed = fixedNodes(c);
    int blocks = 0;
    nodeBlocks(c, roles, fixed, driverSources(c, fixed), blocks);
    return blocks;
}

std::vector<ElementRoles> splittingRoles(const Circuit& c) {
    std::vector<ElementRoles> roles = elementRoles(c, PluginDrives::AllTerminals);
    // Fewer edges can only split the graph further.
    if (dependencyBlocks(c, elementRoles(c, PluginDrives::NoTerminal)) > dependencyBlocks(c, roles))
        roles = elementRoles(c, PluginDrives::MatrixRows);
    return roles;
}

namespace {

// The blocks, with the loose couplings among `loose` cut where that splits
// a block: each side of such a resistor keeps a copy of it, reading the
// other side's voltage through a source that follows it.
std::vector<CircuitBlock> split(const Circuit& c, const std::vector<ElementRoles>& roles, const std::vector<bool>& fixed,
                                std::vector<bool> loose) {
    auto isFixed = [&](int n) { return fixed[static_cast<size_t>(n)]; };
    const std::vector<bool> driver = driverSources(c, fixed);
    const bool tearing = std::find(loose.begin(), loose.end(), true) != loose.end();
    std::vector<ElementRoles> graph = roles;
    for (size_t e = 0; e < c.elements.size(); ++e)
        if (loose[e]) graph[e] = {};
    int blocks = 0;
    std::vector<int> blockOfNode = nodeBlocks(c, graph, fixed, driver, blocks);
    if (blocks <= 1) return {};
    std::vector<int> groupOf(static_cast<size_t>(blocks), -1);
    if (tearing && !groupLooselyCoupled(c, roles, driver, loose, blocks, blockOfNode, groupOf)) return {};
    // A node no element drives has no equation of its own: the whole
    // circuit reports that.
    std::vector<bool> driven(c.nodeNames.size(), false);
    for (size_t e = 0; e < c.elements.size(); ++e)
        for (int w : roles[e].drives) driven[static_cast<size_t>(w)] = true;
    for (size_t node = 0; node < fixed.size(); ++node)
        if (!fixed[node] && !driven[node]) return {};

    // An element goes with the nodes it drives; one that drives none goes
    // after everything it reads; one on fixed nodes only to the first block.
    std::vector<int> blockOf(c.elements.size(), -1);
    for (size_t e = 0; e < c.elements.size(); ++e) {
        if (driver[e]) continue;
        int b = -1;
        for (int w : roles[e].drives)
            if (!isFixed(w)) b = blockOfNode[static_cast<size_t>(w)];
        if (b < 0)
            for (int r : roles[e].reads)
                if (!isFixed(r)) b = std::max(b, blockOfNode[static_cast<size_t>(r)]);
        blockOf[e] = std::max(b, 0);
    }
    if (!keepCouplingsTogether(c, roles, fixed, blockOf)) return {};

    std::vector<CircuitBlock> out(static_cast<size_t>(blocks));
    std::vector<std::map<int, int>> nodeMaps(out.size());
    std::vector<std::vector<int>> elementMaps(out.size(), std::vector<int>(c.elements.size(), -1));
    for (CircuitBlock& b : out) {
        Circuit& sub = b.circuit;
        sub.title = c.title;
        sub.sourceFile = c.sourceFile;
        sub.nodeNames = {c.nodeNames[0]};
        sub.plugins = c.plugins;
        sub.params = c.params;
        sub.tran = c.tran;
        sub.options = c.options;
    }
    auto mapNode = [&](size_t b, int n) {
        if (n == 0) return 0;
        auto [it, added] = nodeMaps[b].emplace(n, static_cast<int>(out[b].circuit.nodeNames.size()));
        if (added) out[b].circuit.nodeNames.push_back(c.nodeNames[static_cast<size_t>(n)]);
        return it->second;
    };
    auto place = [&](size_t b, size_t e) {
        Element el = c.elements[e];
        for (int& n : el.nodes) n = mapNode(b, n);
        elementMaps[b][e] = static_cast<int>(out[b].circuit.elements.size());
        out[b].circuit.elements.push_back(std::move(el));
    };
    auto nodeBlock = [&](int node) { return static_cast<size_t>(blockOfNode[static_cast<size_t>(node)]); };
    for (size_t e = 0; e < c.elements.size(); ++e) {
        if (driver[e]) {
            for (size_t b = 0; b < out.size(); ++b) place(b, e);
        } else if (loose[e]) {
            place(nodeBlock(c.elements[e].nodes[0]), e);
            place(nodeBlock(c.elements[e].nodes[1]), e);
        } else {
            place(static_cast<size_t>(blockOf[e]), e);
        }
    }
    // K names its inductors by index: their indices in its block.
    for (CircuitBlock& b : out)
        for (Element& el : b.circuit.elements)
            if (el.kind == Kind::MutualInductance) {
                const auto block = static_cast<size_t>(&b - out.data());
                for (int& l : el.coupled) l = elementMaps[block][static_cast<size_t>(l)];
            }
    // Upstream nodes a block reads become sources that follow them.
    std::map<int, std::shared_ptr<NodeTrajectory>> trajectories;
    std::vector<std::map<int, bool>> inputs(out.size());  // node -> read by a linear element
    for (size_t e = 0; e < c.elements.size(); ++e) {
        if (driver[e] || loose[e]) continue;
        const auto b = static_cast<size_t>(blockOf[e]);
        for (int r : roles[e].reads)
            if (!isFixed(r) && blockOfNode[static_cast<size_t>(r)] != blockOf[e])
                inputs[b][r] = inputs[b][r] || c.elements[e].kind != Kind::Plugin;
    }
    auto follower = [&](size_t b, int node) {
        auto& trajectory = trajectories[node];
        if (!trajectory) {
            trajectory = std::make_shared<NodeTrajectory>();
            const size_t up = nodeBlock(node);
            out[up].exports.emplace_back(mapNode(up, node), trajectory);
        }
        Element source;
        source.kind = Kind::VoltageSource;
        source.name = "V(" + c.nodeNames[static_cast<size_t>(node)] + ")";
        source.nodes = {mapNode(b, node), 0};
        source.waveform.kind = Waveform::Kind::Signal;
        source.waveform.signal = trajectory;
        out[b].circuit.elements.push_back(std::move(source));
        return std::make_pair(static_cast<int>(out[b].circuit.elements.size()) - 1, trajectory);
    };
    for (size_t b = 0; b < out.size(); ++b) {
        for (const auto& [node, linear] : inputs[b]) {
            out[b].inputs.push_back(follower(b, node));
            out[b].inputCornersMatter = out[b].inputCornersMatter || linear;
        }
    }
    // Each side of a loose coupling reads the other's node.
    std::vector<std::set<int>> coupled(out.size());
    for (size_t e = 0; e < c.elements.size(); ++e) {
        if (!loose[e]) continue;
        const std::vector<int>& nodes = c.elements[e].nodes;
        for (int side = 0; side < 2; ++side) {
            const size_t b = nodeBlock(nodes[static_cast<size_t>(side)]);
            const int other = nodes[static_cast<size_t>(1 - side)];
            if (!coupled[b].insert(other).second) continue;
            out[b].couplings.push_back(follower(b, other));
            out[b].couplings.back().second->extrapolated();
            out[b].couplingNodes.push_back(other);
        }
    }
    for (size_t b = 0; b < out.size(); ++b) {
        out[b].group = groupOf[b];
        // A grouped block steps on its own pace, not onto an input's points.
        if (out[b].group >= 0 && out[b].inputCornersMatter) return {};
    }
    // .ic and .nodeset go with their node's block; on a fixed node they
    // would have to go to every block, so such a circuit is kept whole.
    auto placeNodeValues = [&](const std::vector<std::pair<int, double>>& values,
                               std::vector<std::pair<int, double>> Circuit::*field) {
        for (const auto& [node, v] : values) {
            const int b = blockOfNode[static_cast<size_t>(node)];
            if (b < 0) return false;
            (out[static_cast<size_t>(b)].circuit.*field).emplace_back(mapNode(static_cast<size_t>(b), node), v);
        }
        return true;
    };
    if (!placeNodeValues(c.initialVoltages, &Circuit::initialVoltages) ||
        !placeNodeValues(c.nodesets, &Circuit::nodesets))
        return {};
    for (size_t p = 0; p < c.prints.size(); ++p) {
        PrintItem item = c.prints[p];
        int block = -1;
        auto need = [&](int b) {
            if (b < 0) return true;
            if (block >= 0 && block != b) return false;
            block = b;
            return true;
        };
        bool ok = true;
        if (item.kind == PrintItem::Kind::NodeVoltage || item.kind == PrintItem::Kind::NodeDifference)
            ok = need(blockOfNode[static_cast<size_t>(item.node1)]) && need(blockOfNode[static_cast<size_t>(item.node2)]);
        else if (driver[static_cast<size_t>(item.element)])
            return {};  // a shared source's current sums over every block
        else ok = need(blockOf[static_cast<size_t>(item.element)]);
        if (!ok) return {};
        const auto b = static_cast<size_t>(std::max(block, 0));
        if (item.kind == PrintItem::Kind::NodeVoltage || item.kind == PrintItem::Kind::NodeDifference) {
            item.node1 = mapNode(b, item.node1);
            item.node2 = mapNode(b, item.node2);
        } else {
            item.element = elementMaps[b][static_cast<size_t>(item.element)];
        }
        out[b].circuit.prints.push_back(std::move(item));
        out[b].prints.push_back(static_cast<int>(p));
    }
    return out;
}

}  // namespace

std::vector<CircuitBlock> partitionCircuit(const Circuit& c, const std::vector<ElementRoles>& roles) {
    // F and H read another element's branch current, B sources may too,
    // and their expressions name the netlist's nodes: kept whole.
    for (const Element& el : c.elements)
        if (el.control >= 0 || el.expression) return {};
    const std::vector<bool> fixed = fixedNodes(c);
    const std::vector<bool> loose = looseCouplings(c, fixed);
    if (std::find(loose.begin(), loose.end(), true) != loose.end())
        if (std::vector<CircuitBlock> torn = split(c, roles, fixed, loose); !torn.empty()) return torn;
    return split(c, roles, fixed, std::vector<bool>(c.elements.size(), false));
}

}  // namespace udmhost::sim
