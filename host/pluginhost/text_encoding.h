// Plug-in texts come in the platform's 8-bit Western European code page;
// terminals want UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace udmhost {

std::string codePageToUtf8(std::string_view text);

// Width on a terminal, counting each UTF-8 sequence as one column.
size_t displayWidth(std::string_view utf8);

}  // namespace udmhost
