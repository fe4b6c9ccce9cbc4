// Transient simulation of a circuit, plug-in instances included.
#pragma once

#include <functional>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

#include "netlist/circuit.h"

namespace udmhost {

struct RunStats {
    long accepted = 0;          // time points accepted
    long rejected = 0;          // steps rejected (truncation error, Newton failure, event location)
    long newtonIterations = 0;
    long events = 0;            // switching events located
    double wallSeconds = 0.0;
};

// A plug-in instance changed its state between two accepted time points.
struct SwitchEvent {
    double time = 0.0;
    std::string element;
    int newState = 0;
};

struct SimulationOutput {
    std::vector<std::string> columns;         // "time" first, then one per PrintItem
    std::vector<std::vector<double>> rows;    // one per accepted time point >= TSTART
    std::vector<SwitchEvent> events;
    RunStats stats;
};

// A run that cannot go on: bad circuit, singular matrix, time step too small,
// an expression that does not compile, a plug-in failure (severity 3).
class SimulationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Progress of a run, from 0 to 1.
using ProgressFn = std::function<void(double fraction)>;

// Runs the transient analysis of `circuit`. Messages that plug-ins report
// are written to `messages` with the instance name and severity.
SimulationOutput simulate(const Circuit& circuit, std::ostream& messages, const ProgressFn& progress = {});

}  // namespace udmhost
