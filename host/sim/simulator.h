// Transient simulation of a circuit, plug-in instances included.
#pragma once

#include <functional>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

#include "netlist/circuit.h"
#include "output/simulation_output.h"

namespace udmhost {

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
