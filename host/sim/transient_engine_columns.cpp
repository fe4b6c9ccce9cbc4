// What the printed columns of a run read from the engine.
#include "sim/transient_engine.h"

namespace udmhost::sim {

int TransientEngine::nodeUnknown(int node) const { return CircuitEquations::nodeUnknown(node); }

int TransientEngine::branchUnknown(int element) const { return equations_.branchUnknown(element); }

double TransientEngine::unknownValue(int unknown) const {
    return newton_.x()[static_cast<size_t>(unknown)];
}

double TransientEngine::sourceValue(int element, double time) const { return equations_.sourceValue(element, time); }

int TransientEngine::pluginInstance(int element) const { return plugins_.instanceOfElement(element); }

int TransientEngine::resolveOutput(int instance, const std::string& output) {
    return plugins_.instances()[static_cast<size_t>(instance)]->resolveOutput(output);
}

double TransientEngine::pluginOutput(int instance, int outputIndex) {
    return plugins_.instances()[static_cast<size_t>(instance)]->output(outputIndex, newton_.simulationRecord());
}

}  // namespace udmhost::sim
