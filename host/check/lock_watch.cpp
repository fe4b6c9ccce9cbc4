#include "check/lock_watch.h"

#include <algorithm>

namespace udmhost {

namespace {

bool logging = false;
std::vector<LockEvent>* events() {
    static std::vector<LockEvent> log;
    return &log;
}

}  // namespace

void logLockEvent(const LockEvent& event) {
    if (logging) events()->push_back(event);
}

void startLockLog() {
    events()->clear();
    logging = true;
}

std::vector<LockEvent> stopLockLog() {
    logging = false;
    return *events();
}

std::vector<std::string> lockOrderFaults(const std::vector<LockEvent>& events, std::pair<HGLOBAL, HGLOBAL> outer,
                                         std::pair<HGLOBAL, HGLOBAL> inner,
                                         const std::function<std::string(HGLOBAL)>& name) {
    std::vector<std::string> faults;
    std::vector<HGLOBAL> held, firstLocks;
    for (const LockEvent& e : events) {
        if (e.lock) {
            if (!e.succeeded) continue;
            held.push_back(e.handle);
            if (std::find(firstLocks.begin(), firstLocks.end(), e.handle) == firstLocks.end()) firstLocks.push_back(e.handle);
            continue;
        }
        const auto at = std::find(held.rbegin(), held.rend(), e.handle);
        if (at == held.rend()) {
            faults.push_back("unlocked " + name(e.handle) + ", which it had not locked");
            continue;
        }
        if (at != held.rbegin())
            faults.push_back("unlocked " + name(e.handle) + " before " + name(held.back()) + ", which it locked later");
        held.erase(std::next(at).base());
    }
    for (const auto& [first, second] : {outer, inner}) {
        const auto a = std::find(firstLocks.begin(), firstLocks.end(), first);
        const auto b = std::find(firstLocks.begin(), firstLocks.end(), second);
        if (a != firstLocks.end() && b != firstLocks.end() && b < a)
            faults.push_back("locked " + name(second) + " before " + name(first));
    }
    return faults;
}

}  // namespace udmhost

