// The relaxation oscillator: 5 V through 1 kOhm charging 1 uF from 0 V, the
// switch across the capacitor closing at 3 V and opening at 2 V, and its
// switching instants worked out exactly from the circuit values.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "circuit_builder.h"
#include "pluginhost/plugin_library.h"

namespace simtest {

// Whether the plug-in at `path` lists a catalogue yet; the tests that host
// it are skipped while it does not (it is built piece by piece).
inline bool hasCatalogue(const char* path) {
    udmhost::PluginLibrary library(path);
    return !library.catalogue().empty();
}

struct Oscillator {
    static constexpr double kSupply = 5.0, kR = 1e3, kC = 1e-6, kRon = 1.0, kRoff = 1e9;
    static constexpr double kClose = 3.0, kOpen = 2.0;  // VTHRES 2.5 +- VHYST 0.5

    // Instants at which the switch closes and opens, alternately, up to `stop`.
    static std::vector<double> instants(double stop) {
        const double vc = kSupply * kRoff / (kR + kRoff), tc = kR * kRoff / (kR + kRoff) * kC;
        const double vd = kSupply * kRon / (kR + kRon), td = kR * kRon / (kR + kRon) * kC;
        const double charge = tc * std::log((vc - kOpen) / (vc - kClose));
        const double discharge = td * std::log((kClose - vd) / (kOpen - vd));
        std::vector<double> out;
        double t = tc * std::log(vc / (vc - kClose));
        for (bool closing = true; t <= stop; closing = !closing) {
            out.push_back(t);
            t += closing ? discharge : charge;
        }
        return out;
    }

    // `parameters`: the definition text; `roff` replaces the ROFF field when given.
    static CircuitBuilder circuit(const std::string& plugin, const std::string& definition, double stop = 20e-3) {
        CircuitBuilder b;
        b.voltage("V1", "in", "0", dc(kSupply));
        b.resistor("R1", "in", "cap", kR);
        b.capacitor("C1", "cap", "0", kC, 0.0);
        const int y = b.plugIn("Y1", plugin, {"cap", "0", "cap", "0"}, definition);
        b.printVoltage("cap");
        b.printOutput(y, "STATE");
        b.tran(10e-6, stop, true);
        return b;
    }
};

}  // namespace simtest
