#include "sim/element_roles.h"

#include <algorithm>
#include <sstream>

#include "netlist/behavioural_expression.h"
#include "sim/callback_router.h"
#include "sim/circuit_equations.h"
#include "sim/expression_engine.h"
#include "sim/plugin_set.h"
#include "sim/simulator.h"

namespace udmhost::sim {

namespace {

using Kind = Element::Kind;

// The rows of each plug-in element's matrix entries, as nodes; empty when
// the plug-ins cannot be defined here.
std::vector<std::vector<int>> pluginRows(const Circuit& circuit) {
    std::vector<std::vector<int>> rows(circuit.elements.size());
    std::ostringstream quiet;  // the run proper reports what the plug-ins say
    ExpressionEngine expressions(circuit.params);
    CallbackRouter router(quiet, expressions);
    try {
        PluginSet plugins(circuit, router);
        plugins.createInstances();
        for (size_t e = 0; e < circuit.elements.size(); ++e) {
            const int i = plugins.instanceOfElement(static_cast<int>(e));
            if (i < 0) continue;
            const PluginInstance& instance = *plugins.instances()[static_cast<size_t>(i)];
            for (int k = 0; k < instance.entryCount(); ++k)
                if (instance.entryRow(k) >= 0) rows[e].push_back(instance.entryRow(k) + 1);
        }
    } catch (const SimulationError&) {
        return {};
    }
    return rows;
}

}  // namespace

std::vector<ElementRoles> elementRoles(const Circuit& circuit, PluginDrives pluginDrives) {
    const bool anyPlugin = std::any_of(circuit.elements.begin(), circuit.elements.end(),
                                       [](const Element& el) { return el.kind == Kind::Plugin; });
    const std::vector<std::vector<int>> rows = anyPlugin && pluginDrives == PluginDrives::MatrixRows
                                                   ? pluginRows(circuit)
                                                   : std::vector<std::vector<int>>{};
    std::vector<ElementRoles> roles(circuit.elements.size());
    for (size_t e = 0; e < circuit.elements.size(); ++e) {
        const Element& el = circuit.elements[e];
        ElementRoles& r = roles[e];
        r.reads = el.nodes;
        switch (el.kind) {
            case Kind::VoltageControlledVoltage:
            case Kind::VoltageControlledCurrent:
                r.drives.assign(el.nodes.begin(), el.nodes.begin() + 2);  // the output; the control is read
                break;
            case Kind::BehaviouralVoltage:
            case Kind::BehaviouralCurrent:
                // The output; the expression's nodes and the nodes of the
                // sources whose currents it reads are read.
                r.drives.assign(el.nodes.begin(), el.nodes.begin() + 2);
                for (const BehaviouralInput& in : el.expression->inputs()) {
                    if (in.kind == BehaviouralInput::Kind::NodeVoltage) r.reads.push_back(in.index);
                    if (in.kind == BehaviouralInput::Kind::BranchCurrent)
                        for (int n : circuit.elements[static_cast<size_t>(in.index)].nodes) r.reads.push_back(n);
                }
                break;
            case Kind::Plugin:
                if (pluginDrives == PluginDrives::NoTerminal) break;
                if (rows.empty()) r.drives = el.nodes;
                else r.drives = rows[e];
                break;
            default: r.drives = el.nodes;
        }
        for (auto* nodes : {&r.drives, &r.reads}) {
            std::sort(nodes->begin(), nodes->end());
            nodes->erase(std::unique(nodes->begin(), nodes->end()), nodes->end());
        }
    }
    return roles;
}

}  // namespace udmhost::sim
