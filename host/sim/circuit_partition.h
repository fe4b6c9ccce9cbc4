// Splits a circuit into blocks integrated each on its own time steps: the
// strongly connected parts of its dependency graph (the block triangular
// form of its matrix, with an edge from every node a plug-in reads to the
// nodes it drives). Nodes fixed by voltage sources to ground separate
// blocks; a block that reads another's node without driving it (a switch's
// control) is downstream of it and sees that node as a source following
// the upstream block's trajectory. Feedback keeps parts in one block.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "netlist/circuit.h"
#include "sim/element_roles.h"
#include "sim/node_trajectory.h"

namespace udmhost::sim {

struct CircuitBlock {
    Circuit circuit;          // the block's elements, the sources fixing its boundary and those following inputs
    std::vector<int> prints;  // for each of its print items, the index in the whole circuit's
    // Nodes of this block (its numbering) that downstream blocks read.
    std::vector<std::pair<int, std::shared_ptr<NodeTrajectory>>> exports;
    // Upstream nodes it reads: the element of the source that follows each.
    std::vector<std::pair<int, std::shared_ptr<NodeTrajectory>>> inputs;
    // A linear element reads an input: the block steps onto the input's
    // points and restarts at its corners (a plug-in only watches an input
    // for its switching instants, which are located on the trajectory).
    bool inputCornersMatter = false;
    // Blocks that loose resistors couple both ways form a group, contiguous
    // in the order (-1: none). Each reads its neighbours' nodes through
    // these sources, which carry the resistors' currents, a little ahead of
    // where the neighbours have got to; `couplingNodes`: those nodes in the
    // whole circuit.
    int group = -1;
    std::vector<std::pair<int, std::shared_ptr<NodeTrajectory>>> couplings;
    std::vector<int> couplingNodes;
};

// Blocks in an order in which every block comes after those it reads.
// Empty when the circuit is one block, or when a printed quantity needs more
// than one block (a difference across blocks, a current of a shared source).
std::vector<CircuitBlock> partitionCircuit(const Circuit& circuit, const std::vector<ElementRoles>& roles);

// The number of strongly connected parts of the nodes not fixed by sources.
int dependencyBlocks(const Circuit& circuit, const std::vector<ElementRoles>& roles);

// The roles to split by: plug-ins are defined to learn which terminals they
// drive only when that could split the circuit further.
std::vector<ElementRoles> splittingRoles(const Circuit& circuit);

}  // namespace udmhost::sim
