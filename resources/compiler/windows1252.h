// UTF-8 to Windows-1252, the 8-bit code page the descriptions are delivered in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace udm::rc {

// The text in Windows-1252, or nothing when it is not valid UTF-8 or holds a
// character the code page lacks.
std::optional<std::string> toWindows1252(std::string_view utf8);

}  // namespace udm::rc
