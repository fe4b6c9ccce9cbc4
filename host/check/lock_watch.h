// Sees every GlobalLock and GlobalUnlock a plug-in makes. The host
// executable defines both functions and exports them, so the plug-in binds
// to these, which log and pass the call on to the platform library.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "udm_interface.h"

namespace udmhost {

struct LockEvent {
    bool lock = false;      // false: unlock
    HGLOBAL handle = nullptr;
    bool succeeded = false;  // a lock that yielded an address
};

// Starts a fresh log; events are kept until the next start.
void startLockLog();
// Stops logging and returns the events since the start.
std::vector<LockEvent> stopLockLog();
// Whether the plug-in's calls reach the log at all (false when the
// executable does not export the functions).
bool lockLogWorks();

// Faults of one call's locks: every unlock undoes the latest lock still
// held, and of each pair the first is locked first.
std::vector<std::string> lockOrderFaults(const std::vector<LockEvent>& events, std::pair<HGLOBAL, HGLOBAL> outer,
                                         std::pair<HGLOBAL, HGLOBAL> inner,
                                         const std::function<std::string(HGLOBAL)>& name);

}  // namespace udmhost
