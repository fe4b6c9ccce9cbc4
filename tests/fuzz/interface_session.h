// One fuzzed host session against the loaded plug-in: a block layout, a
// definition text and a sequence of entry-point calls with good, null, stale
// and unlockable handles, host-written node values and arbitrary callback
// answers. Every call is checked as it returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace udmfuzz {

struct SessionResult {
    std::string problem;  // the first broken rule; empty when all calls kept to the interface
    size_t calls = 0;     // UDMMain calls made
    size_t refused = 0;   // of these, calls answered with an error status
    size_t stamps = 0;    // successful evaluations
};

// Runs the session that data encodes.
SessionResult runInterfaceSession(const uint8_t* data, size_t size);

}  // namespace udmfuzz
