// Sees every GlobalLock and GlobalUnlock a plug-in makes: the plug-in's
// calls reach the checker's pair, which logs and passes them on. POSIX
// systems bind them through the executable's exports; on Windows the
// plug-in's import table is patched for as long as a LockWatchBinding lives.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "pluginhost/plugin_library.h"
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

// Records one call while a log is running (the checker's lock pair).
void logLockEvent(const LockEvent& event);

// Binds the library's lock calls to the checker's pair while it lives and
// restores them when it ends; on Windows its frees too (check/heap_usage.h).
// Nothing to do on POSIX systems.
class LockWatchBinding {
public:
    explicit LockWatchBinding(const PluginLibrary& library);
    ~LockWatchBinding();
    LockWatchBinding(const LockWatchBinding&) = delete;
    LockWatchBinding& operator=(const LockWatchBinding&) = delete;

private:
    void* lockSlot_ = nullptr;  // the import table's entries, when patched
    void* unlockSlot_ = nullptr;
    void* savedLock_ = nullptr;
    void* savedUnlock_ = nullptr;
    void* freeSlot_ = nullptr;
    void* savedFree_ = nullptr;
};

// Faults of one call's locks: every unlock undoes the latest lock still
// held, and of each pair the first is locked first.
std::vector<std::string> lockOrderFaults(const std::vector<LockEvent>& events, std::pair<HGLOBAL, HGLOBAL> outer,
                                         std::pair<HGLOBAL, HGLOBAL> inner,
                                         const std::function<std::string(HGLOBAL)>& name);

}  // namespace udmhost
