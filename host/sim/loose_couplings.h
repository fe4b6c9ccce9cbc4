// Resistors that couple two nodes so loosely that each side can be
// integrated on its own steps, reading the other's voltage as a waveform
// known a step ahead: both nodes hold a capacitance to fixed nodes whose
// time constant through the resistor spans many of the largest steps, so a
// voltage read slightly off moves the node by a small fraction of that
// error within a step.
#pragma once

#include <vector>

#include "netlist/circuit.h"
#include "sim/element_roles.h"

namespace udmhost::sim {

// One flag per element; `fixed`: the nodes sources tie to ground.
std::vector<bool> looseCouplings(const Circuit& circuit, const std::vector<bool>& fixed);

// After the blocks were found with the loose couplings left out: those
// whose nodes still fell into one block stay whole (`loose` cleared), the
// blocks they join both ways form groups, and the blocks are renumbered so
// that every group is contiguous and every block still comes after those
// it reads. False where no such order exists, where a group's blocks also
// read each other otherwise, or where an element that drives no node reads
// more than one block, one of them grouped.
// `blockOfNode`: per node, its block (-1 for fixed nodes); `groupOf`: per
// block, its group or -1.
bool groupLooselyCoupled(const Circuit& circuit, const std::vector<ElementRoles>& roles,
                         const std::vector<bool>& skipped, std::vector<bool>& loose, int blocks,
                         std::vector<int>& blockOfNode, std::vector<int>& groupOf);

}  // namespace udmhost::sim
