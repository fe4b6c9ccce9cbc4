// Values of `.param` lines and `{expression}` element values: constant
// expressions over the .param names, evaluated once while reading.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace udmhost {

// The expression with every SPICE number ("1meg", "4.7k", "10uF") written
// as a plain decimal number, which the expression evaluator reads. Names
// that contain digits ("r1", "x_2k") are left alone.
std::string rewriteSpiceNumbers(std::string_view expression);

// Evaluates `expression` (case-insensitive) with the given parameters, names
// in lower case. Throws std::runtime_error with the evaluator's explanation.
double evaluateConstant(std::string_view expression, const std::map<std::string, double>& params);

}  // namespace udmhost
