// A plug-in's behaviour as readable text: registration, catalogue in two
// languages and a deterministic sweep of every parameter over a grid. Kept
// under version control, it shows any change of behaviour of a later build.
#pragma once

#include <string>
#include <vector>

#include "check/harness.h"

namespace udmhost {

// Runs in the process that loaded the plug-in (a child of the checker).
std::string fingerprintOf(PlugInUnderTest& plugin);

// The first differences between a recorded fingerprint and a fresh one, each
// naming the line and the case it belongs to; at most `limit`.
std::vector<std::string> fingerprintDifferences(const std::string& recorded, const std::string& fresh, size_t limit,
                                                size_t* total);

}  // namespace udmhost
