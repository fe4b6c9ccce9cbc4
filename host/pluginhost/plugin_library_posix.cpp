// Plug-ins loaded by the dynamic loader, their platform services taken from
// the plug-in's own dependency.
#include "pluginhost/plugin_library.h"

#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace udmhost {

namespace {

template <class Fn>
Fn required(void* handle, const std::string& path, const char* name) {
    void* address = dlsym(handle, name);
    if (address == nullptr)
        throw std::runtime_error(path + ": not a model plug-in: no exported function " + name);
    return reinterpret_cast<Fn>(address);
}

}  // namespace

std::string loadablePath(const std::string& path) {
    std::error_code error;
    if (path.find('/') == std::string::npos && std::filesystem::is_regular_file(path, error)) return "./" + path;
    return path;
}

// The sanitizer runtimes intercept allocation and refuse libraries bound
// deep; there every plug-in takes the watched, slower binding.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define UDM_SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define UDM_SANITIZED_BUILD 1
#endif
#endif

int openFlags(LockBinding binding) {
#ifdef UDM_SANITIZED_BUILD
    binding = LockBinding::Watched;
#endif
    return RTLD_NOW | RTLD_LOCAL | (binding == LockBinding::Direct ? RTLD_DEEPBIND : 0);
}

PluginLibrary::PluginLibrary(const std::string& path, LockBinding binding) : path_(path) {
    handle_ = dlopen(loadablePath(path).c_str(), openFlags(binding));
    if (handle_ == nullptr) throw std::runtime_error(std::string("cannot load plug-in: ") + dlerror());
    try {
        getPlugin = required<GetPlugInFn>(handle_, path, "GetPlugIn");
        init = required<UDMInitFn>(handle_, path, "UDMInit");
        getVersionNumber = required<GetVersionNumberFn>(handle_, path, "GetVersionNumber");
        listNodeInfo = required<ListNodeInfoFn>(handle_, path, "ListNodeInfo");
        main_ = required<UDMMainFn>(handle_, path, "UDMMain");
        globalAlloc = required<decltype(&::GlobalAlloc)>(handle_, path, "GlobalAlloc");
        globalLock = required<decltype(&::GlobalLock)>(handle_, path, "GlobalLock");
        globalUnlock = required<decltype(&::GlobalUnlock)>(handle_, path, "GlobalUnlock");
        globalFree = required<decltype(&::GlobalFree)>(handle_, path, "GlobalFree");
        globalFlags = required<decltype(&::GlobalFlags)>(handle_, path, "GlobalFlags");
        globalSize = required<decltype(&::GlobalSize)>(handle_, path, "GlobalSize");
    } catch (...) {
        dlclose(handle_);
        throw;
    }
}

PluginLibrary::~PluginLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

void* PluginLibrary::symbol(const char* name) const { return dlsym(handle_, name); }

}  // namespace udmhost
