#include "sim/stray_capacitance.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace udmhost::sim {

std::vector<std::pair<int, double>> strayCapacitances(const Circuit& circuit) {
    std::map<int, double> largest;
    for (const Element& el : circuit.elements) {
        if (el.kind != Element::Kind::Capacitor) continue;
        const int a = el.nodes.at(0), b = el.nodes.at(1);
        if (a == 0 || b == 0 || a == b || !(std::abs(el.value) > 0.0)) continue;
        for (int node : {a, b}) largest[node - 1] = std::max(largest[node - 1], std::abs(el.value));
    }
    std::vector<std::pair<int, double>> strays;
    for (const auto& [unknown, c] : largest) strays.emplace_back(unknown, kStrayShare * c);
    return strays;
}

}  // namespace udmhost::sim
