// Joins the rows of separately simulated blocks into the whole circuit's,
// one stretch of time after another: a row at every time any block printed,
// the other blocks' values there taken from their own rows.
#pragma once

#include <string>
#include <vector>

#include "sim/circuit_partition.h"
#include "sim/transient_engine.h"

namespace udmhost::sim {

class BlockJoiner {
public:
    BlockJoiner(const Circuit& whole, const std::vector<CircuitBlock>& blocks);

    std::vector<std::string> columns() const;
    // Takes each block's (tagged) rows since the last call (every block has
    // gone at or past `upTo`) and appends the joined rows up to `upTo` to
    // `out`; later rows wait for the next call.
    void join(std::vector<TransientEngine::Rows>& blockRows, double upTo, RowStore& out);

private:
    const Circuit& whole_;
    const std::vector<CircuitBlock>& blocks_;
    std::vector<std::vector<double>> last_;  // each block's latest row already joined (empty: none)
    std::vector<TransientEngine::Rows> pending_;  // each block's rows after it
};

}  // namespace udmhost::sim
