// Values of `.param` lines and `{expression}` element values: constant
// expressions over the .param names, evaluated once while reading.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace mu {
class Parser;
}

namespace udmhost {

// Lets `parser` read SPICE numbers ("1meg", "4.7k", "10uF") as literals.
void acceptSpiceNumbers(mu::Parser& parser);

// Evaluates `expression` (case-insensitive) with the given parameters, names
// in lower case. Throws std::runtime_error with the evaluator's explanation.
double evaluateConstant(std::string_view expression, const std::map<std::string, double>& params);

}  // namespace udmhost
