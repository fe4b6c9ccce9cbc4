// Loads the built plug-in the way a host does: dlopen, then every entry
// point and the platform's memory services through dlsym on its handle.
#pragma once

#include <dlfcn.h>

#include <stdexcept>
#include <string>

#include "udm_interface.h"

namespace udmtest {

class PluginLibrary {
public:
    explicit PluginLibrary(const char* path = VCSWITCH_PLUGIN_PATH) {
        handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
        getPlugIn = symbol<GetPlugInFn>("GetPlugIn");
        init = symbol<UDMInitFn>("UDMInit");
        getVersionNumber = symbol<GetVersionNumberFn>("GetVersionNumber");
        listNodeInfo = symbol<ListNodeInfoFn>("ListNodeInfo");
        main = symbol<UDMMainFn>("UDMMain");
        globalAlloc = symbol<decltype(&::GlobalAlloc)>("GlobalAlloc");
        globalLock = symbol<decltype(&::GlobalLock)>("GlobalLock");
        globalUnlock = symbol<decltype(&::GlobalUnlock)>("GlobalUnlock");
        globalFree = symbol<decltype(&::GlobalFree)>("GlobalFree");
        globalFlags = symbol<decltype(&::GlobalFlags)>("GlobalFlags");
        globalSize = symbol<decltype(&::GlobalSize)>("GlobalSize");
    }
    ~PluginLibrary() {
        if (handle_ != nullptr) dlclose(handle_);
    }
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    template <class Fn>
    Fn symbol(const char* name) const {
        void* address = dlsym(handle_, name);
        if (address == nullptr) throw std::runtime_error(std::string("missing symbol ") + name);
        return reinterpret_cast<Fn>(address);
    }
    void* rawSymbol(const char* name) const { return dlsym(handle_, name); }

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
    void* handle_ = nullptr;
};

// One library for the whole test program, as a host keeps it loaded.
inline PluginLibrary& plugin() {
    static PluginLibrary library;
    return library;
}

inline unsigned lockCount(HGLOBAL h) { return plugin().globalFlags(h) & GMEM_LOCKCOUNT; }

}  // namespace udmtest
