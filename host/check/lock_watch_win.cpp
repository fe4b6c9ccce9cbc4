// Windows has no symbol interposition between modules: the plug-in's
// import table entries for kernel32's GlobalLock and GlobalUnlock are
// pointed at the checker's pair for as long as a LockWatchBinding lives.
#include "check/lock_watch.h"

#include <windows.h>

#include <cstring>

#include "check/import_table.h"

namespace udmhost {

namespace {

void* WINAPI watchedLock(HGLOBAL h) {
    void* address = ::GlobalLock(h);
    logLockEvent({true, h, address != nullptr});
    return address;
}

BOOL WINAPI watchedUnlock(HGLOBAL h) {
    logLockEvent({false, h, true});
    return ::GlobalUnlock(h);
}

int bindings = 0;

}  // namespace

bool lockLogWorks() { return bindings > 0; }

LockWatchBinding::LockWatchBinding(const PluginLibrary& library) {
    const auto module = static_cast<HMODULE>(library.nativeHandle());
    lockSlot_ = importSlot(module, "kernel32.dll", "GlobalLock");
    unlockSlot_ = importSlot(module, "kernel32.dll", "GlobalUnlock");
    // A plug-in that imports neither (it may bring its own) is not watched:
    // the lock checks then see no calls and say so.
    if (lockSlot_ != nullptr) savedLock_ = exchangeSlot(lockSlot_, reinterpret_cast<void*>(&watchedLock));
    if (unlockSlot_ != nullptr) savedUnlock_ = exchangeSlot(unlockSlot_, reinterpret_cast<void*>(&watchedUnlock));
    if (lockSlot_ != nullptr || unlockSlot_ != nullptr) ++bindings;
}

LockWatchBinding::~LockWatchBinding() {
    if (lockSlot_ != nullptr) exchangeSlot(lockSlot_, savedLock_);
    if (unlockSlot_ != nullptr) exchangeSlot(unlockSlot_, savedUnlock_);
    if (lockSlot_ != nullptr || unlockSlot_ != nullptr) --bindings;
}

}  // namespace udmhost
