// Joins the outputs of separately simulated blocks into the whole
// circuit's: the events in time order, and one row at every time any block
// printed, the other blocks' values there taken from their own rows.
#pragma once

#include <vector>

#include "sim/circuit_partition.h"
#include "sim/simulator.h"

namespace udmhost::sim {

SimulationOutput joinBlockOutputs(const Circuit& whole, const std::vector<CircuitBlock>& blocks,
                                  std::vector<SimulationOutput>& outputs);

}  // namespace udmhost::sim
