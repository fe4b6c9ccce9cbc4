#include "pluginhost/plugin_library.h"

#include <dlfcn.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "host_records.h"

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

std::string registrationProblem(const Registration& reg) {
    const RegistrationRecord& r = reg.record;
    if (reg.initResult != 0) return "UDMInit returned " + std::to_string(reg.initResult);
    if (r.interfaceCode == 0xFFFF && r.instanceBytes == 0xFFFF && r.reserved == 0xFFFF)
        return "UDMInit left the registration record unfilled";
    if (r.interfaceCode != UDM_REG_INTERFACE)
        return "registration record has interface code " + std::to_string(r.interfaceCode) + ", expected " +
               std::to_string(UDM_REG_INTERFACE);
    if (r.instanceBytes == 0 || r.instanceBytes == 0xFFFF)
        return "registration record announces an instance block of " + std::to_string(r.instanceBytes) + " bytes";
    if (r.reserved != UDM_REG_RESERVED)
        return "registration record has " + std::to_string(r.reserved) + " in its reserved field, expected 0";
    return {};
}

void requireUsableRegistration(const Registration& registration, const std::string& path) {
    const std::string problem = registrationProblem(registration);
    if (!problem.empty()) throw std::runtime_error(path + ": not a usable model plug-in: " + problem);
}

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

Registration PluginLibrary::registerWith(MessageCallback message, ExpressionCallback expression) {
    Registration reg;
    UDMInitFn slot = nullptr;
    reg.version = getPlugin(&slot);
    UDMInitFn entry = slot != nullptr ? slot : init;
    reg.initResult = entry(message, expression, &reg.record);
    reg.interfaceVersion = getVersionNumber();
    return reg;
}

std::vector<CatalogueItem> PluginLibrary::catalogue(uint32_t limit) const {
    std::vector<CatalogueItem> items;
    for (uint32_t index = 0; index < limit; ++index) {
        const void* record = listNodeInfo(index);
        if (record == nullptr) break;
        const udm::CatalogueEntryView entry(record);
        CatalogueItem item;
        item.name = entry.name();
        item.kind = entry.kind();
        item.description = entry.description();
        if (item.kind == UDM_KIND_PARAMETER) item.defaultText = entry.defaultText();
        items.push_back(std::move(item));
    }
    return items;
}

}  // namespace udmhost
