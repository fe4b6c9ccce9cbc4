#include "sim/block_outputs.h"

#include <algorithm>

namespace udmhost::sim {

SimulationOutput joinBlockOutputs(const Circuit& whole, const std::vector<CircuitBlock>& blocks,
                                  std::vector<SimulationOutput>& outputs) {
    SimulationOutput joined;
    joined.columns = {"time"};
    for (const PrintItem& item : whole.prints) joined.columns.push_back(item.label);
    std::vector<double> times;
    for (SimulationOutput& o : outputs) {
        for (const auto& row : o.rows) times.push_back(row.front());
        joined.events.insert(joined.events.end(), o.events.begin(), o.events.end());
        joined.stats.accepted += o.stats.accepted;
        joined.stats.rejected += o.stats.rejected;
        joined.stats.newtonIterations += o.stats.newtonIterations;
        joined.stats.events += o.stats.events;
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    std::stable_sort(joined.events.begin(), joined.events.end(),
                     [](const SwitchEvent& a, const SwitchEvent& b) { return a.time < b.time; });

    std::vector<std::vector<double>> table(times.size(), std::vector<double>(joined.columns.size(), 0.0));
    for (size_t r = 0; r < times.size(); ++r) table[r][0] = times[r];
    for (size_t b = 0; b < blocks.size(); ++b) {
        std::vector<std::vector<double>> rows;
        for (const auto& row : outputs[b].rows) rows.push_back(row);
        if (rows.empty()) continue;
        size_t at = 0;
        for (size_t r = 0; r < times.size(); ++r) {
            const double t = times[r];
            while (at + 1 < rows.size() && rows[at + 1].front() <= t) ++at;
            const auto& before = rows[at];
            const bool between = before.front() < t && at + 1 < rows.size();
            const double w = between ? (t - before.front()) / (rows[at + 1].front() - before.front()) : 0.0;
            for (size_t k = 0; k < blocks[b].prints.size(); ++k) {
                const auto column = static_cast<size_t>(blocks[b].prints[k]) + 1;
                const PrintItem& item = whole.prints[column - 1];
                // A plug-in's outputs (a state above all) hold between its
                // rows; voltages and currents are interpolated.
                const double held = before[k + 1];
                table[r][column] = item.kind == PrintItem::Kind::PluginOutput || !between
                                       ? held
                                       : held + w * (rows[at + 1][k + 1] - held);
            }
        }
        outputs[b].rows = RowStore();
    }
    joined.rows = RowStore(table);
    return joined;
}

}  // namespace udmhost::sim
