// Reads the parts of a resource script that this project uses: #define,
// #pragma code_page(65001), LANGUAGE, STRINGTABLE and VERSIONINFO. Anything
// else is refused, so that a script the Windows resource compiler would read
// differently never builds silently.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace udm::rc {

struct StringEntry {
    uint16_t language = 0;  // Windows language identifier, e.g. 1033
    uint16_t id = 0;
    std::string text;  // UTF-8, as written in the script
};

struct VersionComment {
    uint16_t language = 0;  // from the StringFileInfo block name, e.g. "040904E4"
    std::string text;       // UTF-8
};

struct VersionRecord {
    std::array<uint16_t, 4> fileVersion{};
    std::array<uint16_t, 4> productVersion{};
    std::vector<VersionComment> comments;
};

struct ResourceScript {
    std::vector<StringEntry> strings;
    std::optional<VersionRecord> version;
};

class ScriptError : public std::runtime_error {
public:
    ScriptError(int line, const std::string& what)
        : std::runtime_error("line " + std::to_string(line) + ": " + what), line_(line) {}
    int line() const { return line_; }

private:
    int line_;
};

// Throws ScriptError, with the line, on anything it does not understand.
ResourceScript parseResourceScript(std::string_view script);

}  // namespace udm::rc
