// The version record through the platform layer's UdmGetVersionInfo.
#include "pluginhost/version_record.h"

#include <dlfcn.h>

#include <cstring>

namespace udmhost {

namespace {

// The platform layer's record and lookup, as it exports them.
struct UdmVersionInfo {
    uint16_t fileVersion[4];
    uint16_t productVersion[4];
    char comments[128];
};
using GetVersionInfoFn = int (*)(HMODULE module, UINT language, UdmVersionInfo* info);

}  // namespace

std::optional<VersionRecord> readVersionRecord(const PluginLibrary& library) {
    const auto lookup = reinterpret_cast<GetVersionInfoFn>(library.symbol("UdmGetVersionInfo"));
    if (lookup == nullptr) return std::nullopt;
    // The module handle of a library is its load address.
    Dl_info where{};
    if (dladdr(reinterpret_cast<void*>(library.getPlugin), &where) == 0 || where.dli_fbase == nullptr)
        return std::nullopt;
    UdmVersionInfo info{};
    if (lookup(static_cast<HMODULE>(where.dli_fbase), 0, &info) == 0) return std::nullopt;
    VersionRecord record;
    std::memcpy(record.fileVersion, info.fileVersion, sizeof info.fileVersion);
    std::memcpy(record.productVersion, info.productVersion, sizeof info.productVersion);
    record.comments.assign(info.comments, strnlen(info.comments, sizeof info.comments));
    return record;
}

}  // namespace udmhost
