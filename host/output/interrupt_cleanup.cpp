#include "output/interrupt_cleanup.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace udmhost {

namespace {

// A handler may only read lock-free atomics and call async-signal-safe
// functions (unlink, write, _exit).
std::atomic<const char*> partialFiles[32];

extern "C" void removePartialFilesAndExit(int signal) {
    for (auto& slot : partialFiles)
        if (const char* path = slot.load()) ::unlink(path);
    static const char kMessage[] = "\nudmhost: interrupted; partial outputs removed\n";
    const ssize_t ignored = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    (void)ignored;
    _exit(128 + signal);
}

}  // namespace

void installInterruptCleanup() {
    struct sigaction action = {};
    action.sa_handler = removePartialFilesAndExit;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM}) sigaction(signal, &action, nullptr);
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
