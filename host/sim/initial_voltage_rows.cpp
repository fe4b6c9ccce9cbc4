#include "sim/initial_voltage_rows.h"

namespace udmhost::sim {

namespace {
// SPICE's weight of the held voltage beside the branch currents it keeps.
constexpr double kHoldWeight = 1e10;
}  // namespace

void InitialVoltageRows::bind(const SparsePattern& pattern, int nodeUnknowns,
                              const std::vector<std::pair<int, double>>& values) {
    rows_.clear();
    for (const auto& [node, volts] : values) {
        if (node <= 0) continue;
        Row row;
        row.unknown = node - 1;
        row.volts = volts;
        for (int col = 0; col < pattern.size; ++col)
            for (int k = pattern.columnStarts[static_cast<size_t>(col)];
                 k < pattern.columnStarts[static_cast<size_t>(col) + 1]; ++k) {
                if (pattern.rowIndices[static_cast<size_t>(k)] != row.unknown) continue;
                if (col == row.unknown) row.diagonal = k;
                else if (col < nodeUnknowns) row.nodeEntries.push_back(k);
                else row.branches = true;
            }
        if (row.diagonal >= 0) rows_.push_back(std::move(row));
    }
}

// The row keeps its branch currents, which then carry no current from the
// rest of the node (an inductor to ground starts at 0 A), and the node's
// own conductances are dropped: what flows in through them is not balanced.
void InitialVoltageRows::impose(double* values, double* rhs) const {
    for (const Row& row : rows_) {
        for (int k : row.nodeEntries) values[k] = 0.0;
        const double weight = row.branches ? kHoldWeight : 1.0;
        values[row.diagonal] = weight;
        rhs[row.unknown] = weight * row.volts;
    }
}

}  // namespace udmhost::sim
