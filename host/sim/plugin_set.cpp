#include "sim/plugin_set.h"

#include <algorithm>
#include <stdexcept>

#include "sim/circuit_equations.h"
#include "sim/simulator.h"

namespace udmhost::sim {

PluginSet::PluginSet(const Circuit& circuit, CallbackRouter& router) : circuit_(circuit), router_(router) {}

PluginSet::~PluginSet() { releaseAll(); }

PluginSet::LoadedPlugin& PluginSet::plugin(int index) {
    if (index < 0 || static_cast<size_t>(index) >= circuit_.plugins.size())
        throw SimulationError("plug-in reference " + std::to_string(index) + " is not defined");
    if (plugins_.size() < circuit_.plugins.size()) plugins_.resize(circuit_.plugins.size());
    LoadedPlugin& p = plugins_[static_cast<size_t>(index)];
    if (p.library) return p;
    const PluginRef& ref = circuit_.plugins[static_cast<size_t>(index)];
    try {
        p.library = std::make_unique<PluginLibrary>(ref.path);
    } catch (const std::runtime_error& e) {
        throw SimulationError(ref.name + ": " + e.what());
    }
    p.registration = p.library->registerWith(CallbackRouter::messageCallback(), CallbackRouter::expressionCallback());
    const std::string problem = registrationProblem(p.registration);
    if (!problem.empty()) throw SimulationError(ref.name + ": " + ref.path + ": not a usable model plug-in: " + problem);
    p.catalogue = p.library->catalogue();
    for (const CatalogueItem& item : p.catalogue) {
        if (item.kind == UDM_KIND_TERMINAL) ++p.terminalCount;
        if (item.kind == UDM_KIND_PARAMETER) p.parameterNames.push_back(item.name);
        if (item.kind == UDM_KIND_OUTPUT && item.name == "STATE") p.hasStateOutput = true;
        if (item.kind == UDM_KIND_OUTPUT && item.name == "Q") p.hasChargeOutput = true;
    }
    return p;
}

void PluginSet::createInstances() {
    instanceOfElement_.assign(circuit_.elements.size(), -1);
    for (size_t e = 0; e < circuit_.elements.size(); ++e) {
        const Element& el = circuit_.elements[e];
        if (el.kind != Element::Kind::Plugin) continue;
        LoadedPlugin& p = plugin(el.plugin);
        if (el.nodes.size() != p.terminalCount)
            throw SimulationError(el.name + ": plug-in has " + std::to_string(p.terminalCount) + " terminals, " +
                                  std::to_string(el.nodes.size()) + " given");
        std::vector<int> terminals;
        for (int node : el.nodes) terminals.push_back(CircuitEquations::nodeUnknown(node));
        const size_t bytes = p.registration.record.instanceBytes;
        instances_.push_back(std::make_unique<PluginInstance>(*p.library, bytes, router_, el.name,
                                                              std::move(terminals), el.definitionText,
                                                              p.parameterNames));
        instanceOfElement_[e] = static_cast<int>(instances_.size() - 1);
        PluginInstance& instance = *instances_.back();
        instance.define();
        instance.prepare();
        stateOutputs_.push_back(p.hasStateOutput ? instance.resolveOutput("STATE") : 0);
        chargeOutputs_.push_back(p.hasChargeOutput ? instance.resolveOutput("Q") : 0);
    }
}

size_t PluginSet::stampSize() const {
    size_t size = 0;
    for (const auto& instance : instances_)
        size += static_cast<size_t>(instance->entryCount()) + instance->terminals().size();
    return size;
}

void PluginSet::requestEntries(PatternBuilder& builder) {
    tickets_.clear();
    for (const auto& instance : instances_)
        for (int k = 0; k < instance->entryCount(); ++k)
            tickets_.push_back(builder.request(instance->entryRow(k), instance->entryColumn(k)));
}

void PluginSet::bindSlots(const PatternBuilder& builder) {
    slots_.clear();
    for (int t : tickets_) slots_.push_back(builder.slotOf(t));
}

void PluginSet::releaseAll() noexcept {
    for (auto& instance : instances_) instance->release();
}

}  // namespace udmhost::sim
