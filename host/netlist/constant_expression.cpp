#include "netlist/constant_expression.h"

#include <muParser.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "netlist/spice_number.h"
#include "text/lower_case.h"

namespace udmhost {

namespace {

bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

}  // namespace

std::string rewriteSpiceNumbers(std::string_view expression) {
    std::string result;
    result.reserve(expression.size());
    size_t at = 0;
    while (at < expression.size()) {
        const char c = expression[at];
        const bool startsNumber =
            (std::isdigit(static_cast<unsigned char>(c)) != 0 ||
             (c == '.' && at + 1 < expression.size() && std::isdigit(static_cast<unsigned char>(expression[at + 1])) != 0)) &&
            (at == 0 || !isNameChar(expression[at - 1]));
        size_t consumed = 0;
        const auto number = startsNumber ? parseSpiceNumber(expression.substr(at), &consumed) : std::nullopt;
        if (!number || consumed == 0) {
            result += c;
            ++at;
            continue;
        }
        char buffer[32];
        const auto written = std::to_chars(buffer, buffer + sizeof buffer, *number);
        result.append(buffer, written.ptr);
        at += consumed;
    }
    return result;
}

double evaluateConstant(std::string_view expression, const std::map<std::string, double>& params) {
    mu::Parser parser;
    // DefineVar wants addresses that live as long as the parser.
    std::map<std::string, double> values = params;
    try {
        for (auto& [name, value] : values) parser.DefineVar(name, &value);
        parser.SetExpr(rewriteSpiceNumbers(lowerCase(expression)));
        const double result = parser.Eval();
        if (!std::isfinite(result)) throw std::runtime_error("the value is not finite");
        return result;
    } catch (const mu::Parser::exception_type& error) {
        throw std::runtime_error(error.GetMsg());
    }
}

}  // namespace udmhost
