// Loads the built plug-in the way a host does and finds every entry point by
// name. The memory services are the platform's: on Windows the system's own
// Global* functions; elsewhere the stand-ins, taken through dlsym on the
// plug-in's handle (the plug-in brings them in).
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <stdexcept>
#include <string>

#include "udm_interface.h"

namespace udmtest {

class PluginLibrary {
public:
    explicit PluginLibrary(const char* path = VCSWITCH_PLUGIN_PATH) {
#ifdef _WIN32
        handle_ = LoadLibraryA(path);
        if (handle_ == nullptr)
            throw std::runtime_error(std::string("LoadLibraryA ") + path + ": error " +
                                     std::to_string(GetLastError()));
#else
        handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
#endif
        getPlugIn = symbol<GetPlugInFn>("GetPlugIn");
        init = symbol<UDMInitFn>("UDMInit");
        getVersionNumber = symbol<GetVersionNumberFn>("GetVersionNumber");
        listNodeInfo = symbol<ListNodeInfoFn>("ListNodeInfo");
        main = symbol<UDMMainFn>("UDMMain");
#ifdef _WIN32
        globalAlloc = &::GlobalAlloc;
        globalLock = &::GlobalLock;
        globalUnlock = &::GlobalUnlock;
        globalFree = &::GlobalFree;
        globalFlags = &::GlobalFlags;
        globalSize = &::GlobalSize;
#else
        globalAlloc = symbol<decltype(&::GlobalAlloc)>("GlobalAlloc");
        globalLock = symbol<decltype(&::GlobalLock)>("GlobalLock");
        globalUnlock = symbol<decltype(&::GlobalUnlock)>("GlobalUnlock");
        globalFree = symbol<decltype(&::GlobalFree)>("GlobalFree");
        globalFlags = symbol<decltype(&::GlobalFlags)>("GlobalFlags");
        globalSize = symbol<decltype(&::GlobalSize)>("GlobalSize");
#endif
    }
    ~PluginLibrary() {
#ifdef _WIN32
        if (handle_ != nullptr) FreeLibrary(handle_);
#else
        if (handle_ != nullptr) dlclose(handle_);
#endif
    }
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    template <class Fn>
    Fn symbol(const char* name) const {
        void* address = rawSymbol(name);
        if (address == nullptr) throw std::runtime_error(std::string("missing symbol ") + name);
        return reinterpret_cast<Fn>(address);
    }
    void* rawSymbol(const char* name) const {
#ifdef _WIN32
        // A FARPROC is a function pointer; callers cast it to the real type.
        return reinterpret_cast<void*>(GetProcAddress(handle_, name));
#else
        return dlsym(handle_, name);
#endif
    }

#ifdef _WIN32
    HMODULE module() const { return handle_; }
#endif

    GetPlugInFn getPlugIn;
    UDMInitFn init;
    GetVersionNumberFn getVersionNumber;
    ListNodeInfoFn listNodeInfo;
    UDMMainFn main;
    decltype(&::GlobalAlloc) globalAlloc;
    decltype(&::GlobalLock) globalLock;
    decltype(&::GlobalUnlock) globalUnlock;
    decltype(&::GlobalFree) globalFree;
    decltype(&::GlobalFlags) globalFlags;
    decltype(&::GlobalSize) globalSize;

private:
#ifdef _WIN32
    HMODULE handle_ = nullptr;
#else
    void* handle_ = nullptr;
#endif
};

// One library for the whole test program, as a host keeps it loaded.
inline PluginLibrary& plugin() {
    static PluginLibrary library;
    return library;
}

inline unsigned lockCount(HGLOBAL h) { return plugin().globalFlags(h) & GMEM_LOCKCOUNT; }

}  // namespace udmtest
