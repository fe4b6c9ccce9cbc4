// The version record a plug-in library carries, read through the platform
// layer's UdmGetVersionInfo when the library's dependencies provide it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "pluginhost/plugin_library.h"

namespace udmhost {

struct VersionRecord {
    uint16_t fileVersion[4] = {};
    uint16_t productVersion[4] = {};
    std::string comments;  // 8-bit code page, user's language
};

// Nothing when the platform layer has no UdmGetVersionInfo or the library
// carries no record.
std::optional<VersionRecord> readVersionRecord(const PluginLibrary& library);

std::string versionText(const uint16_t (&parts)[4]);  // "6.0.0.3"

}  // namespace udmhost
