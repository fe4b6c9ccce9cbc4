#include "sim/plugin_charges.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace udmhost::sim {

void PluginCharges::setUp(PluginSet& plugins) {
    plugins_ = &plugins;
    charges_.clear();
    smooth_.assign(plugins.instances().size(), false);
    smoothInstances_.clear();
    for (size_t i = 0; i < plugins.instances().size(); ++i)
        if (const int output = plugins.chargeOutput(i); output > 0) charges_.push_back({i, output, {}});
}

void PluginCharges::read(void* simulationRecord) {
    for (Charge& c : charges_) {
        const double q = plugins_->instances()[c.instance]->output(c.output, simulationRecord);
        // A charge that is not a number says nothing of the step.
        c.history.pending = std::isfinite(q) ? q : c.history.q[0];
    }
}

void PluginCharges::startFrom(void* simulationRecord) {
    read(simulationRecord);
    for (Charge& c : charges_) c.history.startFrom(c.history.pending);
    steps_[0] = steps_[1] = 0.0;
    noteStored();
}

void PluginCharges::noteStored() {
    bool added = false;
    for (const Charge& c : charges_)
        if (c.history.q[0] != 0.0 && !smooth_[c.instance]) {
            smooth_[c.instance] = true;
            smoothInstances_.push_back(c.instance);
            added = true;
        }
    if (added) std::sort(smoothInstances_.begin(), smoothInstances_.end());
}

void PluginCharges::accept(const Discretisation& d) {
    for (Charge& c : charges_) c.history.accept(d);
    steps_[1] = steps_[0];
    steps_[0] = d.step;
    noteStored();
}

double PluginCharges::truncationRatio(const Discretisation& d, const Options& o, bool firstOrder) const {
    Discretisation used = d;
    if (firstOrder) used.kind = Discretisation::Kind::BackwardEuler;
    double ratio = std::numeric_limits<double>::infinity();
    for (const Charge& c : charges_) ratio = std::min(ratio, c.history.ratio(used, steps_[0], steps_[1], o));
    return ratio;
}

}  // namespace udmhost::sim
