#include "sim/block_outputs.h"

#include <algorithm>

namespace udmhost::sim {

BlockJoiner::BlockJoiner(const Circuit& whole, const std::vector<CircuitBlock>& blocks)
    : whole_(whole), blocks_(blocks), last_(blocks.size()), pending_(blocks.size()) {}

std::vector<std::string> BlockJoiner::columns() const {
    std::vector<std::string> names = {"time"};
    for (const PrintItem& item : whole_.prints) names.push_back(item.label);
    return names;
}

void BlockJoiner::join(std::vector<TransientEngine::Rows>& blockRows, double upTo, RowStore& out) {
    using Kind = RowSampler::RowKind;
    std::vector<double> times;
    for (size_t b = 0; b < blocks_.size(); ++b) {
        auto& pending = pending_[b];
        for (auto& row : blockRows[b].rows) pending.rows.push_back(std::move(row));
        pending.kinds.insert(pending.kinds.end(), blockRows[b].kinds.begin(), blockRows[b].kinds.end());
        blockRows[b] = {};
        // Every block prints the same grid: the first one's stands for all;
        // the others add their switchings.
        const bool grid = b == 0 || !blocks_[b].prints.empty();
        for (size_t k = 0; k < pending.rows.size(); ++k)
            if (pending.rows[k].front() <= upTo &&
                (pending.kinds[k] == Kind::Switching || (grid && pending.kinds[k] == Kind::Printed)))
                times.push_back(pending.rows[k].front());
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    const size_t width = whole_.prints.size() + 1;
    std::vector<std::vector<double>> stretch(times.size(), std::vector<double>(width, 0.0));
    for (size_t r = 0; r < times.size(); ++r) stretch[r][0] = times[r];

    for (size_t b = 0; b < blocks_.size(); ++b) {
        // The block's rows not yet joined, after the last one that was.
        auto& pending = pending_[b];
        const size_t carried = last_[b].empty() ? 0 : 1;
        // A block that prints nothing only adds times.
        const size_t count = blocks_[b].prints.empty() ? 0 : carried + pending.rows.size();
        auto rowAt = [&](size_t k) -> const std::vector<double>& {
            return k < carried ? last_[b] : pending.rows[k - carried];
        };
        size_t at = 0;
        for (size_t r = 0; r < times.size() && count > 0; ++r) {
            const double t = times[r];
            while (at + 1 < count && rowAt(at + 1).front() <= t) ++at;
            const auto& before = rowAt(at);
            // Up to a switching the values are those before its jump.
            const bool between = before.front() < t && at + 1 < count &&
                                 pending.kinds[at + 1 - carried] != Kind::Switching;
            const double w = between ? (t - before.front()) / (rowAt(at + 1).front() - before.front()) : 0.0;
            for (size_t k = 0; k < blocks_[b].prints.size(); ++k) {
                const auto column = static_cast<size_t>(blocks_[b].prints[k]) + 1;
                const PrintItem& item = whole_.prints[column - 1];
                // A plug-in's outputs (a state above all) hold between its
                // rows; voltages and currents are interpolated.
                const double held = before[k + 1];
                stretch[r][column] = item.kind == PrintItem::Kind::PluginOutput || !between
                                         ? held
                                         : held + w * (rowAt(at + 1)[k + 1] - held);
            }
        }
        size_t joined = 0;
        while (joined < pending.rows.size() && pending.rows[joined].front() <= upTo) ++joined;
        if (joined > 0) last_[b] = std::move(pending.rows[joined - 1]);
        pending.rows.erase(pending.rows.begin(), pending.rows.begin() + static_cast<std::ptrdiff_t>(joined));
        pending.kinds.erase(pending.kinds.begin(), pending.kinds.begin() + static_cast<std::ptrdiff_t>(joined));
    }
    for (const std::vector<double>& row : stretch) out.append(row);
}

}  // namespace udmhost::sim
