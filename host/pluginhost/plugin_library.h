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
    int initResult = 0;        // UDMInit's result
    int interfaceVersion = 0;  // GetVersionNumber's result
    RegistrationRecord record{0xFFFF, 0xFFFF, 0xFFFF};  // a field UDMInit leaves unset stays 0xFFFF
};

// What makes a registration unusable (an instance block of 0 bytes, a
// record left unfilled, an interface this host does not speak), or empty
// when it is usable. Every command that goes on to use the plug-in checks it.
std::string registrationProblem(const Registration& registration);

// Throws std::runtime_error naming the library and the problem.
void requireUsableRegistration(const Registration& registration, const std::string& path);

// The file the dynamic loader is given for a plug-in path: a bare name that
// exists in the working folder is that file (the loader would search its
// library path instead); anything else is left as it is.
std::string loadablePath(const std::string& path);

// Which GlobalLock and GlobalUnlock the plug-in binds to. Direct: its own
// platform library, one call per lock (simulation). Watched: the first in the
// process, which is the checker's logging pair when the executable exports it.
enum class LockBinding { Direct, Watched };

class PluginLibrary {
public:
    // Loads the library; throws std::runtime_error with a clear message.
    explicit PluginLibrary(const std::string& path, LockBinding binding = LockBinding::Direct);
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
    void* nativeHandle() const { return handle_; }  // dlopen's handle, or the HMODULE on Windows

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
