// .func NAME(ARGS) {BODY}: functions of the netlist, expanded into the
// expressions that call them before those are evaluated.
#pragma once

#include <string>
#include <vector>

#include "netlist/circuit.h"

namespace udmhost {
struct LogicalLine;
}

namespace udmhost::netlist {

struct UserFunction {
    std::string name;                     // lower case
    std::vector<std::string> parameters;  // lower case
    std::string body;
    SourceLocation where;
};

UserFunction readFunction(const LogicalLine& line);

// `expression` with every call of a user function replaced by its body,
// the arguments in parentheses put in for the parameters. Throws
// std::runtime_error for a wrong argument count or a function that calls
// itself.
std::string expandFunctions(const std::string& expression, const std::vector<UserFunction>& functions);

}  // namespace udmhost::netlist
