// Checks of the library's surface: exports, registration, catalogue and
// the language and encoding of its descriptions.
#pragma once

#include <string>
#include <vector>

#include "check/isolation.h"

namespace udmhost {

std::vector<std::string> interfaceCheckNames();
void runInterfaceChecks(const std::string& path, CheckChannel& channel);

}  // namespace udmhost
