#include "sim/circuit_partition.h"

#include <map>
#include <numeric>

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

struct UnionFind {
    std::vector<int> parent;
    explicit UnionFind(size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
    int find(int x) {
        while (parent[static_cast<size_t>(x)] != x) x = parent[static_cast<size_t>(x)] = parent[static_cast<size_t>(parent[static_cast<size_t>(x)])];
        return x;
    }
    void join(int a, int b) { parent[static_cast<size_t>(find(a))] = find(b); }
};

}  // namespace

std::vector<CircuitBlock> partitionCircuit(const Circuit& c) {
    const std::vector<bool> fixed = fixedNodes(c);
    auto isDriver = [&](const Element& el) {
        return el.kind == Kind::VoltageSource && fixed[static_cast<size_t>(el.nodes.at(0))] &&
               fixed[static_cast<size_t>(el.nodes.at(1))];
    };
    UnionFind sets(c.nodeNames.size());
    for (const Element& el : c.elements) {
        if (isDriver(el)) continue;
        int first = -1;
        for (int n : el.nodes) {
            if (fixed[static_cast<size_t>(n)]) continue;
            if (first < 0) first = n;
            else sets.join(first, n);
        }
    }
    // Block of each element; elements between fixed nodes only go to block 0.
    std::map<int, int> blockOfRoot;
    std::vector<int> blockOf(c.elements.size(), -1);
    for (size_t e = 0; e < c.elements.size(); ++e) {
        const Element& el = c.elements[e];
        if (isDriver(el)) continue;
        for (int n : el.nodes) {
            if (fixed[static_cast<size_t>(n)]) continue;
            const auto found = blockOfRoot.emplace(sets.find(n), static_cast<int>(blockOfRoot.size()));
            blockOf[e] = found.first->second;
            break;
        }
    }
    const int blocks = static_cast<int>(blockOfRoot.size());
    if (blocks <= 1) return {};
    for (int& b : blockOf)
        if (b < 0) b = 0;  // between fixed nodes only; drivers are placed in every block below
    auto blockOfNode = [&](int n) { return fixed[static_cast<size_t>(n)] ? -1 : blockOfRoot.at(sets.find(n)); };

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
    for (size_t e = 0; e < c.elements.size(); ++e) {
        if (isDriver(c.elements[e]))
            for (size_t b = 0; b < out.size(); ++b) place(b, e);
        else place(static_cast<size_t>(blockOf[e]), e);
    }
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
            ok = need(blockOfNode(item.node1)) && need(blockOfNode(item.node2));
        else if (isDriver(c.elements.at(static_cast<size_t>(item.element))))
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

}  // namespace udmhost::sim
