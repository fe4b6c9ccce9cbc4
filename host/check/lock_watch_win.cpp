// Windows has no symbol interposition between modules: the plug-in's
// import table entries for kernel32's GlobalLock and GlobalUnlock (and the
// C runtime's free) are pointed at the checker's for as long as a
// LockWatchBinding lives.
#include "check/lock_watch.h"

#include <windows.h>

#include <cstring>

#include "check/heap_usage.h"
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
    // A double release does not end a Windows process as it ends a glibc one:
    // the plug-in's frees are seen instead.
    freeSlot_ = importSlot(module, "msvcrt.dll", "free");
    if (freeSlot_ == nullptr) freeSlot_ = importSlot(module, "ucrtbase.dll", "free");
    if (freeSlot_ == nullptr) freeSlot_ = importSlot(module, "api-ms-win-crt-heap-l1-1-0.dll", "free");
    if (freeSlot_ != nullptr) {
        void* current = nullptr;
        std::memcpy(&current, freeSlot_, sizeof current);
        void* watched = reinterpret_cast<void*>(watchedFree(reinterpret_cast<FreeFunction>(current)));
        savedFree_ = exchangeSlot(freeSlot_, watched);
    }
}

LockWatchBinding::~LockWatchBinding() {
    if (lockSlot_ != nullptr) exchangeSlot(lockSlot_, savedLock_);
    if (unlockSlot_ != nullptr) exchangeSlot(unlockSlot_, savedUnlock_);
    if (freeSlot_ != nullptr) exchangeSlot(freeSlot_, savedFree_);
    if (lockSlot_ != nullptr || unlockSlot_ != nullptr) --bindings;
}

}  // namespace udmhost
