// Output names and values as a host relies on them: each name of the
// catalogue resolves to an index of its own and no other name resolves; a
// parameter read as an output gives the value it was defined with.
#include <map>

#include "check/isolated_check.h"

namespace udmhost {

namespace {

double resolve(TestInstance& inst, const std::string& name, Finding& f) {
    std::vector<char> text(name.begin(), name.end());
    text.push_back('\0');
    double index = -1.0;
    const int32_t status = inst.call(UDM_MODE_OUTPUT_INDEX, text.data(), nullptr, &index);
    if (status != 0) f.fault("mode 5 with \"" + name + "\" returned " + statusName(status));
    return index;
}

std::string distinctNames(PlugInUnderTest& plugin, Finding& f) {
    TestInstance inst(plugin, 1);
    inst.watchLocks(&f);
    std::string sizeFault;
    inst.define(plugin.defaultDefinition(), &sizeFault);
    if (!sizeFault.empty()) return "needs usable sizes: " + sizeFault;
    std::map<double, std::string> owners;
    auto own = [&](const std::string& name, double index) {
        const auto [at, fresh] = owners.emplace(index, name);
        if (!fresh) f.fault("\"" + name + "\" resolves to " + number(index) + " as \"" + at->second + "\" does");
    };
    for (const std::string& name : plugin.outputs) {
        const double index = resolve(inst, name, f);
        if (index == 0.0) f.fault("output \"" + name + "\" of the catalogue resolves to 0");
        else own(name, index);
    }
    for (const CatalogueItem& p : plugin.parameters)
        if (const double index = resolve(inst, p.name, f); index != 0.0) own(p.name, index);
    // Names a host may meet that match no catalogue name in full.
    std::vector<std::string> strangers = {"", "#", "no such output"};
    for (const std::string& name : plugin.outputs) {
        strangers.push_back(name + "#");
        if (name.size() > 1) strangers.push_back(name.substr(0, name.size() - 1));
    }
    for (const std::string& name : strangers) {
        const double index = resolve(inst, name, f);
        if (index == 0.0) continue;
        const auto owner = owners.find(index);
        f.fault("\"" + name + "\", no name of the catalogue, resolves to " + number(index) +
                (owner != owners.end() ? " as \"" + owner->second + "\" does" : ""));
    }
    inst.call(UDM_MODE_RELEASE, nullptr, nullptr, nullptr);
    f.see(std::to_string(plugin.outputs.size()) + " outputs on indices of their own, " +
          std::to_string(strangers.size()) + " other names (empty, suffixed, shortened) on 0");
    return "";
}

// Parameter p defined as p + 2, once as numbers and once as expressions.
std::string parameterOutputs(PlugInUnderTest& plugin, Finding& f) {
    size_t readable = 0;
    for (const bool asExpressions : {false, true}) {
        std::string definition;
        for (size_t p = 0; p < plugin.parameters.size(); ++p) {
            const std::string value = std::to_string(p + 2);
            definition += (p > 0 ? "," : "") + (asExpressions ? "(" + value + ")" : value);
        }
        TestInstance inst(plugin, 1);
        inst.watchLocks(&f);
        Recorder& r = recorder();
        r.messagesAllowed = true;
        if (std::string why = readyInstance(inst, definition); !why.empty()) return "needs usable sizes: " + why;
        SimulationBlock simulation;
        readable = 0;
        for (size_t p = 0; p < plugin.parameters.size(); ++p) {
            const double index = resolve(inst, plugin.parameters[p].name, f);
            if (index == 0.0) continue;
            ++readable;
            simulation.set(index, 1e-6, 0.0);
            double value = -12345.0;
            inst.call(UDM_MODE_OUTPUT_VALUE, nullptr, simulation.bytes, &value);
            if (value != static_cast<double>(p + 2))
                f.fault(plugin.parameters[p].name + " defined as " + (asExpressions ? "an expression of " : "") +
                        std::to_string(p + 2) + " reads " + number(value) + " as output " + number(index));
        }
        inst.call(UDM_MODE_RELEASE, nullptr, nullptr, nullptr);
        r.messagesAllowed = false;
        r.messages.clear();
    }
    if (readable == 0) return "no parameter is readable as an output";
    f.see(std::to_string(readable) + " parameters read back as outputs, as numbers and as expressions");
    return "";
}

}  // namespace

std::vector<IsolatedCheck> outputChecks() {
    return {
        {"each output name resolves to an index of its own, and no other name resolves", distinctNames},
        {"a parameter read as an output gives the value it was defined with", parameterOutputs},
    };
}

}  // namespace udmhost
