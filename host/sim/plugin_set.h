// The plug-in side of one run: the libraries of the circuit's .plugin lines,
// loaded and registered on first use; one instance per plug-in element,
// defined and prepared; and where each instance's matrix entries land in the
// circuit's sparse pattern.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "netlist/circuit.h"
#include "pluginhost/plugin_library.h"
#include "sim/callback_router.h"
#include "sim/pattern_builder.h"
#include "sim/plugin_instance.h"

namespace udmhost::sim {

class PluginSet {
public:
    PluginSet(const Circuit& circuit, CallbackRouter& router);
    ~PluginSet();  // every instance gets its release call, also after a failure
    PluginSet(const PluginSet&) = delete;
    PluginSet& operator=(const PluginSet&) = delete;

    // One instance per plug-in element, in element order: created, defined,
    // prepared and its STATE and Q outputs resolved. Throws SimulationError.
    void createInstances();
    const std::vector<std::unique_ptr<PluginInstance>>& instances() const { return instances_; }
    // Mode 6 index of the instance's STATE output, 0 when its plug-in has none.
    int stateOutput(size_t instance) const { return stateOutputs_[instance]; }
    // Mode 6 index of the instance's Q output (the charge it stores and
    // integrates itself), 0 when its plug-in has none.
    int chargeOutput(size_t instance) const { return chargeOutputs_[instance]; }
    // Index in instances() of circuit element `element`, -1 for other elements.
    int instanceOfElement(int element) const { return instanceOfElement_.at(static_cast<size_t>(element)); }

    // The stamp of all instances in instance order: each instance's matrix
    // entries, then one right-hand side per terminal.
    size_t stampSize() const;
    // Requests every matrix entry from `builder`; once the pattern is built,
    // bindSlots() records where each one landed.
    void requestEntries(PatternBuilder& builder);
    void bindSlots(const PatternBuilder& builder);
    // Value slot of matrix entry `entry`, counted over all instances in order.
    int slot(size_t entry) const { return slots_[entry]; }

    void releaseAll() noexcept;  // mode 7 for every instance not yet released

private:
    struct LoadedPlugin {
        std::unique_ptr<PluginLibrary> library;
        Registration registration;
        std::vector<CatalogueItem> catalogue;
        std::vector<std::string> parameterNames;
        size_t terminalCount = 0;
        bool hasStateOutput = false, hasChargeOutput = false;
    };
    LoadedPlugin& plugin(int index);

    const Circuit& circuit_;
    CallbackRouter& router_;
    std::vector<LoadedPlugin> plugins_;  // by Circuit::plugins index; loaded on first use
    std::vector<std::unique_ptr<PluginInstance>> instances_;  // released and destroyed before the libraries
    std::vector<int> stateOutputs_, chargeOutputs_;
    std::vector<int> instanceOfElement_;
    std::vector<int> tickets_, slots_;
};

}  // namespace udmhost::sim
