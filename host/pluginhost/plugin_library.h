// A loaded plug-in of the model interface, any plug-in, with the platform's
// movable-memory services taken from the same library.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "udm_interface.h"

namespace udmhost {

struct CatalogueItem {
    std::string name;
    int32_t kind = 0;          // UDM_KIND_TERMINAL, _PARAMETER, _OUTPUT
    std::string description;   // as the plug-in delivers it (8-bit code page)
    std::string defaultText;   // parameters only
};

struct Registration {
    int version = 0;           // GetPlugIn's result
    int interfaceVersion = 0;  // GetVersionNumber's result
    RegistrationRecord record{};
};

class PluginLibrary {
public:
    // Loads the library; throws std::runtime_error with a clear message.
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const std::string& path() const { return path_; }

    // GetPlugIn, then UDMInit with the given callbacks.
    Registration registerWith(MessageCallback message, ExpressionCallback expression);
    // ListNodeInfo from 0 up to the first null (at most `limit` entries).
    std::vector<CatalogueItem> catalogue(uint32_t limit = 4096) const;

    int32_t call(int32_t mode, char* text, void* simulation, double* out, HGLOBAL instance,
                 HGLOBAL component) const {
        return main_(mode, text, simulation, out, instance, component);
    }

    void* symbol(const char* name) const;  // null when absent

    // Movable memory, from the plug-in's own dependency on Linux.
    decltype(&::GlobalAlloc) globalAlloc = nullptr;
    decltype(&::GlobalLock) globalLock = nullptr;
    decltype(&::GlobalUnlock) globalUnlock = nullptr;
    decltype(&::GlobalFree) globalFree = nullptr;
    decltype(&::GlobalFlags) globalFlags = nullptr;
    decltype(&::GlobalSize) globalSize = nullptr;

    GetPlugInFn getPlugin = nullptr;
    UDMInitFn init = nullptr;
    GetVersionNumberFn getVersionNumber = nullptr;
    ListNodeInfoFn listNodeInfo = nullptr;

private:
    std::string path_;
    void* handle_ = nullptr;
    UDMMainFn main_ = nullptr;
};

}  // namespace udmhost
