#include "sim/finite_values.h"

#include <cmath>
#include <cstdio>
#include <set>

#include "sim/simulator.h"

namespace udmhost::sim {

namespace {

std::string numberText(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "infinity" : "-infinity";
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

std::string nameList(const Circuit& circuit, const CircuitEquations& equations, const std::set<int>& unknowns) {
    std::string text;
    size_t listed = 0;
    for (int u : unknowns) {
        if (listed == 8) return text + " and " + std::to_string(unknowns.size() - listed) + " more";
        text += (listed++ == 0 ? "" : ", ") + unknownName(circuit, equations, u);
    }
    return text;
}

}  // namespace

void requireFiniteStamp(const PluginInstance& instance, double time) {
    for (int k = 0; k < instance.entryCount(); ++k) {
        const double value = instance.matrixValue(k);
        if (!std::isfinite(value))
            throw SimulationError(instance.name() + ": the plug-in returned " + numberText(value) +
                                  " as matrix entry " + std::to_string(k + 1) + " at time " + numberText(time));
    }
    for (size_t i = 0; i < instance.terminals().size(); ++i) {
        const double value = instance.rhs(i);
        if (!std::isfinite(value))
            throw SimulationError(instance.name() + ": the plug-in returned " + numberText(value) +
                                  " as the current of terminal " + std::to_string(i + 1) + " at time " +
                                  numberText(time));
    }
}

std::string unknownName(const Circuit& circuit, const CircuitEquations& equations, int u) {
    const auto node = static_cast<size_t>(u) + 1;
    if (u >= 0 && node < circuit.nodeNames.size()) return "V(" + circuit.nodeNames[node] + ")";
    for (size_t e = 0; e < circuit.elements.size(); ++e)
        if (equations.branchUnknown(static_cast<int>(e)) == u) return "I(" + circuit.elements[e].name + ")";
    return "unknown " + std::to_string(u);
}

std::string singularMatrixReason(const Circuit& circuit, const CircuitEquations& equations,
                                 const SparsePattern& pattern, const double* values, int singularColumn) {
    std::set<int> nonFinite;
    std::vector<bool> rowUsed(static_cast<size_t>(pattern.size), false), columnUsed(rowUsed);
    for (int column = 0; column < pattern.size; ++column)
        for (int k = pattern.columnStarts[static_cast<size_t>(column)]; k < pattern.columnStarts[static_cast<size_t>(column) + 1]; ++k) {
            const int row = pattern.rowIndices[static_cast<size_t>(k)];
            const double value = values[k];
            if (!std::isfinite(value)) {
                nonFinite.insert(row);
                nonFinite.insert(column);
            } else if (value != 0.0) {
                rowUsed[static_cast<size_t>(row)] = columnUsed[static_cast<size_t>(column)] = true;
            }
        }
    if (!nonFinite.empty())
        return "the equations of " + nameList(circuit, equations, nonFinite) +
               " hold values beyond the range of numbers (an element value too large or too small?)";
    std::set<int> involved;
    if (singularColumn >= 0 && singularColumn < pattern.size) involved.insert(singularColumn);
    else
        for (int u = 0; u < pattern.size; ++u)
            if (!rowUsed[static_cast<size_t>(u)] || !columnUsed[static_cast<size_t>(u)]) involved.insert(u);
    const std::string hint = "(a node without a path to ground, or a loop of voltage sources?)";
    if (involved.empty()) return "singular matrix " + hint;
    return "singular matrix: no independent equation for " + nameList(circuit, equations, involved) + " " + hint;
}

}  // namespace udmhost::sim
