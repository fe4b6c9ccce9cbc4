// A deterministic drive of fresh instances: controls ramped across the
// thresholds both ways (once on alternate terminals, once with every terminal
// at a value of its own), rejected steps, every output after each step. Its
// lines are the plug-in's observable behaviour; variations of the host's
// conduct must not change them, and a fingerprint keeps them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "check/harness.h"

namespace udmhost {

struct SweepOptions {
    uint16_t regionStart = 16;      // where the regions start in both blocks
    bool garbagePrefill = false;    // stamp and right-hand side hold garbage before each evaluation
    bool scrubDefinition = false;   // the host overwrites its definition text after mode 1
    bool acceptWithoutBlocks = false;  // mode 4 sees null vector and matrix handles
    double idFraction = 0.0;        // fraction added to the expression identifiers handed out
    bool moveBlocks = false;        // all four blocks move to fresh memory before each call
    std::string neighbour;          // a second instance so defined is driven between the first's calls
    bool iterateFirst = false;      // each step is first evaluated with the control at the far end
    double rampStep = 0.25;
    std::vector<double> controls;   // instead of the ramps, these control values once each
};

// What the sweep noticed on its own.
struct SweepFindings {
    Finding* replay = nullptr;  // rejected step replayed differs from the first evaluation
    Finding* repeat = nullptr;  // same evaluation twice differs
    Finding* status = nullptr;  // any status other than 0
    Finding* balance = nullptr;  // a stamp or right-hand side that is not finite or whose currents do not balance
};

// Definition texts worth sweeping: the defaults, all numeric defaults as
// expressions, and each parameter over `grid`.
std::vector<std::string> sweepDefinitions(const PlugInUnderTest& plugin, const std::vector<std::string>& grid);
std::string allExpressionDefinition(const PlugInUnderTest& plugin);

// One case on a fresh instance; returns its lines.
std::vector<std::string> sweepCase(PlugInUnderTest& plugin, const std::string& definition, const SweepOptions& options,
                                   const SweepFindings& findings);

// Compares two sweeps line by line; each difference becomes a fault.
void compareSweeps(const std::vector<std::string>& expected, const std::vector<std::string>& actual, Finding& finding,
                   const std::string& where);

}  // namespace udmhost
