// The executable exports GlobalLock and GlobalUnlock (host/CMakeLists.txt),
// so a plug-in loaded without deep binding binds to these, which log and
// pass the call on to the platform library.
#include "check/lock_watch.h"

#include <dlfcn.h>
#include <link.h>

namespace udmhost {

namespace {

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

bool lockLogWorks() {
    // The platform library resolves its own calls internally; a lookup in
    // the global scope finds the first definition, ours when it is exported.
    void* self = dlopen(nullptr, RTLD_NOW);
    void* found = self != nullptr ? dlsym(self, "GlobalLock") : nullptr;
    if (self != nullptr) dlclose(self);
    return found == reinterpret_cast<void*>(&::GlobalLock);
}

LockWatchBinding::LockWatchBinding(const PluginLibrary&) {}

LockWatchBinding::~LockWatchBinding() = default;

}  // namespace udmhost

extern "C" {

__attribute__((visibility("default"))) void* GlobalLock(HGLOBAL h) {
    static void* (*real)(HGLOBAL) = nullptr;
    void* address = udmhost::platform(real, "GlobalLock", &GlobalLock)(h);
    udmhost::logLockEvent({true, h, address != nullptr});
    return address;
}

__attribute__((visibility("default"))) int GlobalUnlock(HGLOBAL h) {
    static int (*real)(HGLOBAL) = nullptr;
    udmhost::logLockEvent({false, h, true});
    return udmhost::platform(real, "GlobalUnlock", &GlobalUnlock)(h);
}

}  // extern "C"
