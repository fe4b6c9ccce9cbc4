#include "pluginhost/plugin_library.h"

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>

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

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
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
    entry(message, expression, &reg.record);
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
