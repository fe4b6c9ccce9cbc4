// Collects the matrix entries that the devices stamp into and builds the
// fixed compressed-column pattern, telling each device where its entries
// lie in the value array.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/linear_solver.h"

namespace udmhost::sim {

class PatternBuilder {
public:
    explicit PatternBuilder(int size) : size_(size) {}

    // Reserves entry (row, col); a negative index (ground) yields an entry
    // that is never part of the matrix. Returns a ticket for slotOf().
    int request(int row, int col);

    // Builds the pattern; afterwards slotOf() maps tickets to positions in
    // the value array. Ground entries all map to position nonZeros(), one
    // spare value at the end that the solver never reads.
    SparsePattern build();
    int slotOf(int ticket) const { return slots_[static_cast<size_t>(ticket)]; }

private:
    int size_;
    std::vector<int64_t> keys_;  // col * size + row, or -1
    std::vector<int> slots_;
};

}  // namespace udmhost::sim
