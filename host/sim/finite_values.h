// Values a run cannot go on with: NaN or infinity from a plug-in's stamp or
// output, and a matrix that cannot be factorised. The errors name the
// instance and the value, or the unknowns (nodes, branch currents) involved.
#pragma once

#include <string>

#include "netlist/circuit.h"
#include "sim/circuit_equations.h"
#include "sim/linear_solver.h"
#include "sim/plugin_instance.h"

namespace udmhost::sim {

// Throws SimulationError when a matrix value or right-hand side the
// instance has just written is not finite.
void requireFiniteStamp(const PluginInstance& instance, double time);

// "V(out)", "I(V1)": the name of unknown `u` as a user knows it.
std::string unknownName(const Circuit& circuit, const CircuitEquations& equations, int u);

// The reason a factorisation failed, naming the unknowns involved: those
// with non-finite entries, else the solver's singular column, else those
// whose row or column holds only zeros.
std::string singularMatrixReason(const Circuit& circuit, const CircuitEquations& equations,
                                 const SparsePattern& pattern, const double* values, int singularColumn);

}  // namespace udmhost::sim
