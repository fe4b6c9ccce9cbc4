// The blocks of one group, coupled both ways through loose resistors,
// integrated each on its own steps. A block reads a neighbour ahead of the
// neighbour's last point only as far as the neighbour vouches for its
// curve: to the end of its next trial where that trial looked for a
// switching ahead and ends short of any, else not at all. The block with
// the nearest such horizon steps next; a block also steps onto a
// neighbour's corners, where the neighbour's curve bends.
#pragma once

#include <vector>

#include "sim/circuit_partition.h"
#include "sim/transient_engine.h"

namespace udmhost::sim {

class CoupledGroup {
public:
    // The engines of blocks [first, last) of `blocks`, started.
    CoupledGroup(std::vector<TransientEngine*> engines, const std::vector<CircuitBlock>& blocks, size_t first,
                 size_t last, double stop);
    // Steps until every block has reached `end`.
    void advancePast(double end);

private:
    double horizon(size_t i) const;
    bool active(size_t i, double end) const;

    std::vector<TransientEngine*> engines_;
    std::vector<std::vector<size_t>> neighbours_;
    std::vector<std::vector<const NodeTrajectory*>> inputs_;
    double stop_;
};

// Sets every coupling's trajectory to its node's value at the whole
// circuit's initial point, so that each block's initial point sees its
// neighbours where the circuit puts them; started(), once every block has
// started, to the values the blocks' first steps start from (under UIC those
// just after the start).
class CouplingSeeds {
public:
    CouplingSeeds(const Circuit& whole, const std::vector<CircuitBlock>& blocks);
    void started() const;

private:
    const std::vector<CircuitBlock>& blocks_;
    std::vector<double> afterStart_;
};

}  // namespace udmhost::sim
