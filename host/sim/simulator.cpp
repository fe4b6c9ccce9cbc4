#include "sim/simulator.h"

#include <chrono>
#include <vector>

#include "sim/block_outputs.h"
#include "sim/circuit_partition.h"
#include "sim/transient_engine.h"

namespace udmhost {

SimulationOutput simulate(const Circuit& circuit, std::ostream& messages, const ProgressFn& progress) {
    const auto started = std::chrono::steady_clock::now();
    SimulationOutput output;
    const std::vector<sim::CircuitBlock> blocks = sim::partitionCircuit(circuit);
    if (blocks.empty()) {
        sim::TransientEngine engine(circuit, messages, progress);
        output = engine.run();
    } else {
        // Blocks that only share fixed voltages each run on their own steps.
        std::vector<SimulationOutput> outputs;
        for (size_t b = 0; b < blocks.size(); ++b) {
            ProgressFn part;
            if (progress)
                part = [&, b](double f) { progress((static_cast<double>(b) + f) / static_cast<double>(blocks.size())); };
            sim::TransientEngine engine(blocks[b].circuit, messages, part, sim::kMaxJoinedRows);
            outputs.push_back(engine.run());
        }
        output = sim::joinBlockOutputs(circuit, blocks, outputs);
    }
    output.stats.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return output;
}

}  // namespace udmhost
