#include "pluginhost/plugin_library.h"

#include <stdexcept>

#include "host_records.h"

namespace udmhost {

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
