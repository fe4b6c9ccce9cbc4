#include "check/lock_watch.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>

namespace udmhost {

namespace {

bool logging = false;
std::vector<LockEvent>* events() {
    static std::vector<LockEvent> log;
    return &log;
}

// The platform's own function: the next definition after the executable,
// or else the first loaded library that defines it (the executable need not
// link the platform library; the plug-in brings it).
void* platformSymbol(const char* name, void* ours) {
    if (void* next = dlsym(RTLD_NEXT, name); next != nullptr && next != ours) return next;
    struct Search {
        const char* name;
        void* ours;
        void* found;
    } search{name, ours, nullptr};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            if (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0') return 0;
            void* library = dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD);
            if (library == nullptr) return 0;
            void* symbol = dlsym(library, s->name);
            dlclose(library);
            if (symbol == nullptr || symbol == s->ours) return 0;
            s->found = symbol;
            return 1;
        },
        &search);
    return search.found;
}

template <class Fn>
Fn platform(Fn& cache, const char* name, Fn ours) {
    if (cache == nullptr) cache = reinterpret_cast<Fn>(platformSymbol(name, reinterpret_cast<void*>(ours)));
    return cache;
}

}  // namespace

void startLockLog() {
    events()->clear();
    logging = true;
}

std::vector<LockEvent> stopLockLog() {
    logging = false;
    return *events();
}

bool lockLogWorks() {
    // The platform library resolves its own calls internally; a lookup in
    // the global scope finds the first definition, ours when it is exported.
    void* self = dlopen(nullptr, RTLD_NOW);
    void* found = self != nullptr ? dlsym(self, "GlobalLock") : nullptr;
    if (self != nullptr) dlclose(self);
    return found == reinterpret_cast<void*>(&::GlobalLock);
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

extern "C" {

__attribute__((visibility("default"))) void* GlobalLock(HGLOBAL h) {
    static void* (*real)(HGLOBAL) = nullptr;
    void* address = udmhost::platform(real, "GlobalLock", &GlobalLock)(h);
    if (udmhost::logging) udmhost::events()->push_back({true, h, address != nullptr});
    return address;
}

__attribute__((visibility("default"))) int GlobalUnlock(HGLOBAL h) {
    static int (*real)(HGLOBAL) = nullptr;
    if (udmhost::logging) udmhost::events()->push_back({false, h, true});
    return udmhost::platform(real, "GlobalUnlock", &GlobalUnlock)(h);
}

}  // extern "C"
