// What `run` prints beside the waveforms: the operating point (.op) and the
// results of .meas lines.
#pragma once

#include <ostream>

#include "netlist/circuit.h"
#include "sim/simulator.h"

namespace udmhost {

// `circuit` with the signals its measurements use appended to its prints,
// so that one run records them.
Circuit withMeasuredSignals(const Circuit& circuit);

// Evaluates the measurements on `output`, prints them, then drops the
// columns that only they needed (`printed`: the circuit's own prints).
void reportMeasurements(std::ostream& out, const Circuit& circuit, SimulationOutput& output);

// Every node voltage and voltage-source current at the operating point the
// transient starts from.
void reportOperatingPoint(std::ostream& out, const Circuit& circuit, std::ostream& messages);

}  // namespace udmhost
