#include "pluginhost/version_record.h"

namespace udmhost {

std::string versionText(const uint16_t (&parts)[4]) {
    return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
           std::to_string(parts[3]);
}

}  // namespace udmhost
