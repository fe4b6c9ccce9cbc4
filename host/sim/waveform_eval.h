// Values and breakpoints of the independent sources' time functions.
#pragma once

#include <vector>

#include "netlist/circuit.h"

namespace udmhost::sim {

// The source's value at time t (t >= 0; before 0 the value at 0).
double waveformValue(const Waveform& w, double t);

// The times in [0, stop] at which the waveform or its slope jumps; the
// integrator steps onto each of them and restarts there.
void appendBreakpoints(const Waveform& w, double stop, std::vector<double>& out);

}  // namespace udmhost::sim
