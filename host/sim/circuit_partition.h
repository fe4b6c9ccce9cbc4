// Splits a circuit into blocks that can be integrated independently: the
// node sets that only meet through nodes fixed by voltage sources to ground
// (a shared supply). Each block is simulated on its own time steps, so a
// switching in one costs the others nothing.
#pragma once

#include <vector>

#include "netlist/circuit.h"

namespace udmhost::sim {

struct CircuitBlock {
    Circuit circuit;        // the block's elements plus the sources that fix its boundary nodes
    std::vector<int> prints;  // for each of its print items, the index in the whole circuit's
};

// Empty when the circuit is one block, or when a printed quantity needs more
// than one block (a difference across blocks, a current of a shared source).
std::vector<CircuitBlock> partitionCircuit(const Circuit& circuit);

}  // namespace udmhost::sim
