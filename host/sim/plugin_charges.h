// The charges plug-in instances store and integrate themselves (their Q
// output), kept at the accepted points as the host's own charges are, so
// that their truncation error bounds the step: a diode's recovery charge is
// then stepped through as closely as a capacitor's, not across.
#pragma once

#include <vector>

#include "netlist/circuit.h"
#include "sim/charge_history.h"
#include "sim/circuit_equations.h"
#include "sim/plugin_set.h"

namespace udmhost::sim {

class PluginCharges {
public:
    // After the instances are created.
    void setUp(PluginSet& plugins);
    bool empty() const { return charges_.empty(); }
    // The charges of the latest evaluations, read through mode 6.
    void read(void* simulationRecord);
    // The operating point's charges start the history.
    void startFrom(void* simulationRecord);
    // The charges read last become the accepted ones, after a step `d`.
    void accept(const Discretisation& d);
    // As CircuitEquations::truncationRatio over the charges read last;
    // `firstOrder`: the estimate of a backward Euler step.
    double truncationRatio(const Discretisation& d, const Options& o, bool firstOrder) const;
    // Instance `instance` has held a charge at an accepted point: the step
    // control follows it through that charge, so it is smooth, and a change
    // of its state needs no location, only a restart that does not ring. One
    // whose charge is always zero (a diode without capacitance) turns within
    // a step, which is located.
    bool smooth(size_t instance) const { return instance < smooth_.size() && smooth_[instance]; }
    size_t smoothCount() const { return smoothInstances_.size(); }
    // The smooth instances, in increasing order. Only their stamps carry a
    // charge's history, which changes with every accepted point: the
    // others' charges have been zero at every accepted point (a diode
    // without capacitance), so their companions hold nothing of the points
    // before.
    const std::vector<size_t>& smoothInstances() const { return smoothInstances_; }

private:
    struct Charge {
        size_t instance;
        int output;
        ChargeHistory history;
    };
    PluginSet* plugins_ = nullptr;
    std::vector<Charge> charges_;
    std::vector<bool> smooth_;  // per instance
    std::vector<size_t> smoothInstances_;
    void noteStored();
    double steps_[2] = {0, 0};  // the last two accepted steps, newest first
};

}  // namespace udmhost::sim
