// .param definitions, collected while reading and evaluated once each in
// dependency order, so that a definition may use names defined further down.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "netlist/circuit.h"

namespace udmhost::netlist {

struct ParamDefinition {
    std::string name;        // lower case
    std::string expression;  // as written, without braces
    SourceLocation where;    // of the name
};

// Evaluates every definition into `params` (lower-case names), each after
// the definitions its expression names. A later definition of a name
// replaces an earlier one. Throws NetlistError for a cycle (at the first
// definition met on it, naming the whole chain) or an expression that does
// not evaluate.
void evaluateParams(const std::vector<ParamDefinition>& definitions, std::map<std::string, double>& params);

// Lower-case identifiers that `expression` names, numbers with suffixes
// ("1meg", "4.7k") left out.
std::vector<std::string> namesUsed(const std::string& expression);

}  // namespace udmhost::netlist
