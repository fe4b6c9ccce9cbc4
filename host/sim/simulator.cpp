#include "sim/simulator.h"

#include <chrono>

#include "sim/transient_engine.h"

namespace udmhost {

SimulationOutput simulate(const Circuit& circuit, std::ostream& messages, const ProgressFn& progress) {
    const auto started = std::chrono::steady_clock::now();
    SimulationOutput output;
    {
        sim::TransientEngine engine(circuit, messages, progress);
        output = engine.run();
    }
    output.stats.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return output;
}

}  // namespace udmhost
