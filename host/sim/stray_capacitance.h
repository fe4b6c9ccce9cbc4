// The stray capacitance the host puts from each end of a floating capacitor
// to ground: a pair of nodes tied together by a large capacitor and to the
// rest only by junctions in reverse keeps its common voltage on conductances
// of picosiemens, which a short step's C/h would wipe out in the pivot.
#pragma once

#include <utility>
#include <vector>

#include "netlist/circuit.h"

namespace udmhost::sim {

// Of the largest floating capacitance at a node: far below any capacitance
// a circuit states, far above what the pivot needs (a common-mode pivot a
// billionth of the differential one keeps seven digits).
constexpr double kStrayShare = 1e-9;

// Per node unknown (node - 1) touched by a capacitor whose other end is not
// ground: {unknown, stray capacitance}, ascending by unknown.
std::vector<std::pair<int, double>> strayCapacitances(const Circuit& circuit);

}  // namespace udmhost::sim
