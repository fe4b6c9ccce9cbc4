#include "sim/initial_voltage_rows.h"

namespace udmhost::sim {

namespace {
// SPICE's weight of the held voltage beside the branch currents it keeps.
constexpr double kHoldWeight = 1e10;
constexpr double kHoldConductance = 1e9;  // siemens
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

// A row with branch currents keeps only those, which then carry no current
// from the rest of the node (an inductor to ground starts at 0 A), beside
// the held voltage; the node's own conductances are dropped, what flows in
// through them is not balanced. Without branch currents that is what a
// conductance outweighing the rest does too, up to volts of current / 1e9,
// and it keeps the row's conductances, which the node's neighbours need
// against rounding (a gate resistor's other end is only its own).
void InitialVoltageRows::impose(double* values, double* rhs) const {
    for (const Row& row : rows_) {
        if (!row.branches) {
            values[row.diagonal] += kHoldConductance;
            rhs[row.unknown] += kHoldConductance * row.volts;
            continue;
        }
        for (int k : row.nodeEntries) values[k] = 0.0;
        values[row.diagonal] = kHoldWeight;
        rhs[row.unknown] = kHoldWeight * row.volts;
    }
}

}  // namespace udmhost::sim
