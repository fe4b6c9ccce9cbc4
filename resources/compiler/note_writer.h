// Turns a parsed resource script into the resource notes of a module and
// into the C++ source that places them in the module's note section.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "rc_script.h"

namespace udm::rc {

// The note section's bytes: a string-table note (when there are strings) and
// a version note (when there is a version record), texts in Windows-1252.
// Throws std::runtime_error for a text the code page cannot hold or one
// longer than 65535 bytes.
std::vector<uint8_t> buildResourceNotes(const ResourceScript& script);

// A translation unit defining `bytes` in the note section.
std::string noteSource(const std::vector<uint8_t>& bytes, std::string_view origin);

}  // namespace udm::rc
