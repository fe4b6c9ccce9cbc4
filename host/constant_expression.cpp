#include "constant_expression.h"

#include <muParser.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "netlist_lexer.h"
#include "spice_number.h"

namespace udmhost {

namespace {

// muparser asks this wherever a value may start. Signs stay operators, so
// that -2^2 keeps its usual meaning.
int spiceLiteral(const mu::char_type* text, int* position, mu::value_type* value) {
    const char* rest = text + *position;
    if (*rest == '+' || *rest == '-') return 0;
    size_t consumed = 0;
    const auto number = parseSpiceNumber(std::string_view(rest, std::strlen(rest)), &consumed);
    if (!number || consumed == 0) return 0;
    *position += static_cast<int>(consumed);
    *value = *number;
    return 1;
}

}  // namespace

void acceptSpiceNumbers(mu::Parser& parser) { parser.AddValIdent(spiceLiteral); }

double evaluateConstant(std::string_view expression, const std::map<std::string, double>& params) {
    mu::Parser parser;
    acceptSpiceNumbers(parser);
    // DefineVar wants addresses that live as long as the parser.
    std::map<std::string, double> values = params;
    try {
        for (auto& [name, value] : values) parser.DefineVar(name, &value);
        parser.SetExpr(lowerCase(expression));
        const double result = parser.Eval();
        if (!std::isfinite(result)) throw std::runtime_error("the value is not finite");
        return result;
    } catch (const mu::Parser::exception_type& error) {
        throw std::runtime_error(error.GetMsg());
    }
}

}  // namespace udmhost
