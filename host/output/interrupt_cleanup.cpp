#include "output/interrupt_cleanup.h"

#include <unistd.h>

#include <atomic>

namespace udmhost {

namespace {

// A handler may only read lock-free atomics and call async-signal-safe
// functions (unlink, write, _exit).
std::atomic<const char*> partialFiles[32];

}  // namespace

void removePartialFiles() {
    for (auto& slot : partialFiles)
        if (const char* path = slot.load()) ::unlink(path);
}

bool rememberPartialFile(const char* path) {
    for (auto& slot : partialFiles) {
        const char* empty = nullptr;
        if (slot.compare_exchange_strong(empty, path)) return true;
    }
    return false;
}

void forgetPartialFile(const char* path) {
    for (auto& slot : partialFiles) {
        const char* expected = path;
        if (slot.compare_exchange_strong(expected, nullptr)) return;
    }
}

}  // namespace udmhost
