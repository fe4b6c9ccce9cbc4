// Runs the blocks of a split circuit side by side, one stretch of time
// after another: each block, those upstream first, integrates on its own
// steps to the end of the stretch; then the stretch's rows are joined and
// what no block needs any more is forgotten, so memory does not grow with
// the length of the run.
#pragma once

#include <iosfwd>
#include <vector>

#include "sim/circuit_partition.h"
#include "sim/simulator.h"

namespace udmhost::sim {

SimulationOutput runBlocks(const Circuit& whole, const std::vector<CircuitBlock>& blocks, std::ostream& messages,
                           const ProgressFn& progress);

}  // namespace udmhost::sim
