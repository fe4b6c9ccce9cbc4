#include "check/library_probe.h"

#include <dlfcn.h>

namespace udmhost {

std::unique_ptr<LibraryProbe> LibraryProbe::open(const std::string& path, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        *error = dlerror();
        return nullptr;
    }
    return std::unique_ptr<LibraryProbe>(new LibraryProbe(handle));
}

LibraryProbe::~LibraryProbe() { dlclose(handle_); }

void* LibraryProbe::symbol(const char* name) const { return dlsym(handle_, name); }

std::vector<std::string> LibraryProbe::missingMemoryFunctions() const {
    std::vector<std::string> missing;
    for (const char* name : {"GlobalAlloc", "GlobalLock", "GlobalUnlock", "GlobalFree", "GlobalFlags", "GlobalSize"})
        if (dlsym(handle_, name) == nullptr) missing.push_back(name);
    return missing;
}

}  // namespace udmhost
