// Checks that each run in a child process of their own, so that a crash in
// one (a double free, say) costs only that one.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "check/harness.h"

namespace udmhost {

struct IsolatedCheck {
    std::string name;
    // Fills the finding; returns a reason to skip the check, or "".
    std::function<std::string(PlugInUnderTest&, Finding&)> body;
};

std::vector<IsolatedCheck> sequenceChecks();     // call sequences and error paths
std::vector<IsolatedCheck> memoryChecks();       // ownership, offsets, selectors, identifiers
std::vector<IsolatedCheck> environmentChecks();  // locale, huge definitions
std::vector<IsolatedCheck> outputChecks();       // output names and parameter values

// Defines, prepares and once evaluates `inst` (after the start time);
// returns "" or why its sizes are not usable.
std::string readyInstance(TestInstance& inst, const std::string& definition);

// Definition texts on which the host's conduct is varied.
std::vector<std::string> variationDefinitions(const PlugInUnderTest& plugin);
// Sweeps each definition twice, the second time with `variant`; every
// difference is a fault.
void compareVariant(PlugInUnderTest& plugin, Finding& finding, const struct SweepOptions& variant,
                    const std::vector<std::string>& definitions);
// The body of a check that the plug-in behaves alike when the host varies
// its conduct as `vary` sets it, over the variation definitions; `seen`
// says what was tried.
std::function<std::string(PlugInUnderTest&, Finding&)> sameUnderVariant(
    std::function<void(const PlugInUnderTest&, struct SweepOptions&)> vary, std::string seen);

}  // namespace udmhost
