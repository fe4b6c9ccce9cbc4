#include "check/library_probe.h"

#include <windows.h>

#include "check/import_table.h"

namespace udmhost {

std::unique_ptr<LibraryProbe> LibraryProbe::open(const std::string& path, std::string* error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        *error = "LoadLibraryA failed with error " + std::to_string(GetLastError());
        return nullptr;
    }
    return std::unique_ptr<LibraryProbe>(new LibraryProbe(module));
}

LibraryProbe::~LibraryProbe() { FreeLibrary(static_cast<HMODULE>(handle_)); }

void* LibraryProbe::symbol(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

// The host allocates and frees; the plug-in itself only locks and unlocks,
// through its imports, which the checker watches.
std::vector<std::string> LibraryProbe::missingMemoryFunctions() const {
    std::vector<std::string> missing;
    for (const char* name : {"GlobalLock", "GlobalUnlock"})
        if (importSlot(static_cast<HMODULE>(handle_), "kernel32.dll", name) == nullptr)
            missing.push_back(std::string(name) + " (not imported from kernel32.dll)");
    return missing;
}

}  // namespace udmhost
