// Case folding for the host's case-insensitive names.
#pragma once

#include <string>
#include <string_view>

namespace udmhost {

// Lower-case copy (ASCII; netlists and catalogues are case-insensitive).
std::string lowerCase(std::string_view text);

}  // namespace udmhost
