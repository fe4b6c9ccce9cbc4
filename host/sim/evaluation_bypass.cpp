#include "sim/evaluation_bypass.h"

#include <algorithm>
#include <cmath>

#include "sim/newton_tolerance.h"

namespace udmhost::sim {

void EvaluationBypass::setUp(const std::vector<std::unique_ptr<PluginInstance>>& instances) {
    entries_.assign(instances.size(), Entry{});
    for (size_t n = 0; n < instances.size(); ++n) {
        const size_t terminals = instances[n]->terminals().size();
        entries_[n].values.assign(terminals, 0.0);
        entries_[n].derivatives.assign(terminals, 0.0);
        entries_[n].stamp.assign(static_cast<size_t>(instances[n]->entryCount()) + terminals, 0.0);
    }
}

bool EvaluationBypass::keeps(size_t n, const PluginInstance& instance, const double* values,
                             const double* derivatives, bool started, double time, double derivativeScale,
                             const Options& o) const {
    const Entry& e = entries_[n];
    if (!e.valid || e.blockChanges != instance.blockChanges() || e.started != started) return false;
    if (e.usedExpressions && e.time != time) return false;
    const size_t terminals = e.values.size();
    for (size_t i = 0; i < terminals; ++i) {
        if (!instance.loadsTerminal(i)) {
            if (values[i] != e.values[i] || derivatives[i] != e.derivatives[i]) return false;
            continue;
        }
        if (!withinTolerance(values[i], e.values[i], o.reltol, o.vntol) ||
            !withinTolerance(derivatives[i], e.derivatives[i], o.reltol, o.vntol * std::abs(derivativeScale)))
            return false;
    }
    // The current into each terminal the kept stamp predicts, against the
    // one it gave: their difference is the stamp's conductances times the move.
    const int entries = instance.entryCount();
    for (size_t row = 0; row < terminals; ++row) {
        if (!instance.loadsTerminal(row)) continue;
        double then = -e.stamp[static_cast<size_t>(entries) + row], change = 0.0;
        for (int k = 0; k < entries; ++k) {
            if (instance.entryTerminalRow(k) != row) continue;
            const size_t col = instance.entryTerminalColumn(k);
            const double g = e.stamp[static_cast<size_t>(k)];
            then += g * e.values[col];
            change += g * (values[col] - e.values[col]);
        }
        if (!withinTolerance(then + change, then, o.reltol, o.abstol)) return false;
    }
    return true;
}

void EvaluationBypass::record(size_t n, const PluginInstance& instance, const double* values,
                              const double* derivatives, bool started, double time, long changesBefore,
                              const double* stamp) {
    Entry& e = entries_[n];
    // An evaluation that moved the plug-in's own state may decide otherwise
    // the next time from the same inputs.
    e.valid = instance.blockChanges() == changesBefore;
    e.blockChanges = instance.blockChanges();
    e.started = started;
    e.time = time;
    e.usedExpressions = instance.latestEvaluationUsedExpressions();
    std::copy_n(values, e.values.size(), e.values.begin());
    std::copy_n(derivatives, e.derivatives.size(), e.derivatives.begin());
    std::copy_n(stamp, e.stamp.size(), e.stamp.begin());
}

}  // namespace udmhost::sim
