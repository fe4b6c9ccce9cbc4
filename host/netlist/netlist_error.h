// A netlist that cannot be read: the message names the place and says what
// was expected.
#pragma once

#include <stdexcept>
#include <string>

#include "netlist/circuit.h"

namespace udmhost {

class NetlistError : public std::runtime_error {
public:
    NetlistError(const SourceLocation& where, const std::string& message)
        : std::runtime_error(where.file + ":" + std::to_string(where.line) + ":" +
                             std::to_string(where.column) + ": " + message),
          where_(where),
          detail_(message) {}

    const SourceLocation& where() const { return where_; }
    const std::string& detail() const { return detail_; }

private:
    SourceLocation where_;
    std::string detail_;
};

}  // namespace udmhost
