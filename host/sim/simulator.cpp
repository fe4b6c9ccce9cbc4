#include "sim/simulator.h"

#include <chrono>
#include <vector>

#include "sim/block_runner.h"
#include "sim/circuit_partition.h"
#include "sim/element_roles.h"
#include "sim/transient_engine.h"

namespace udmhost {

SimulationOutput simulate(const Circuit& circuit, std::ostream& messages, const ProgressFn& progress) {
    const auto started = std::chrono::steady_clock::now();
    SimulationOutput output;
    const std::vector<sim::CircuitBlock> blocks = sim::partitionCircuit(circuit, sim::splittingRoles(circuit));
    bool whole = blocks.empty();
    if (!whole) {
        try {
            output = sim::runBlocks(circuit, blocks, messages, progress);
        } catch (const sim::InputDrivenError&) {
            whole = true;  // a plug-in drives a node it was thought only to read
        }
    }
    if (whole) {
        sim::TransientEngine engine(circuit, messages, progress);
        output = engine.run();
    }
    output.stats.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return output;
}

}  // namespace udmhost
