// .ic without UIC as SPICE puts it on the operating point: the named node's
// current balance gives way to V = value.
#pragma once

#include <utility>
#include <vector>

#include "sim/linear_solver.h"

namespace udmhost::sim {

class InitialVoltageRows {
public:
    // `nodeUnknowns`: the unknowns below it are node voltages, the others
    // branch currents; `values`: (node, volts), node 0 being ground.
    void bind(const SparsePattern& pattern, int nodeUnknowns, const std::vector<std::pair<int, double>>& values);
    bool empty() const { return rows_.empty(); }
    // Overwrites the rows of the held nodes in an assembled matrix.
    void impose(double* values, double* rhs) const;

private:
    struct Row {
        int unknown = -1;
        double volts = 0.0;
        int diagonal = -1;
        bool branches = false;         // a source or an inductor ends at the node
        std::vector<int> nodeEntries;  // value positions of the row's node columns
    };
    std::vector<Row> rows_;
};

}  // namespace udmhost::sim
