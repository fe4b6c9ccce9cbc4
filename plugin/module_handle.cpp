// Keeps this library's module handle from the moment it is loaded, for
// string-table lookups.
#include "registration.h"

#ifdef _WIN32

namespace {
HINSTANCE gModule = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) gModule = module;
    return TRUE;
}

#else

#include <dlfcn.h>

namespace {

HINSTANCE gModule = nullptr;

// The module handle is the load address of the library, as on Windows.
__attribute__((constructor)) void onLibraryLoad() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&onLibraryLoad), &info) != 0) gModule = info.dli_fbase;
}

}  // namespace

#endif

namespace vcswitch {

HINSTANCE moduleHandle() { return gModule; }

}  // namespace vcswitch
