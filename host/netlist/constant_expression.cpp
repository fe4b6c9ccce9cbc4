#include "netlist/constant_expression.h"

#include <muParser.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
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

namespace {

// Defines the names an expression uses as it is parsed, so that one
// evaluation costs what the expression names, not what the netlist defines.
struct NameSource {
    const std::map<std::string, double>* params;
    std::deque<double> values;  // addresses stay valid as it grows
};

double* defineOnUse(const char* name, void* data) {
    auto* source = static_cast<NameSource*>(data);
    const auto found = source->params->find(name);
    if (found == source->params->end()) throw mu::ParserError(std::string("unknown name ") + name);
    source->values.push_back(found->second);
    return &source->values.back();
}

// SPICE's functions that the parser does not have, as B sources compute them.
double spicePow(double x, double y) {
    return x < 0.0 && y == std::trunc(y) ? std::pow(x, y) : std::pow(std::abs(x), y);
}
double spicePwr(double x, double y) { return std::copysign(std::pow(std::abs(x), y), x); }
double spiceLimit(double x, double low, double high) { return std::min(std::max(x, low), high); }
double spiceSgn(double x) { return x > 0.0 ? 1.0 : x < 0.0 ? -1.0 : 0.0; }
double spiceStep(double x) { return x > 0.0 ? 1.0 : 0.0; }
double spiceRamp(double x) { return x > 0.0 ? x : 0.0; }
double spiceFloor(double x) { return std::floor(x); }
double spiceCeil(double x) { return std::ceil(x); }
double spiceInt(double x) { return std::trunc(x); }

void defineSpiceFunctions(mu::Parser& parser) {
    parser.DefineFun("pow", spicePow);
    parser.DefineFun("pwr", spicePwr);
    parser.DefineFun("limit", spiceLimit);
    parser.DefineFun("sgn", spiceSgn);
    parser.DefineFun("u", spiceStep);
    parser.DefineFun("uramp", spiceRamp);
    parser.DefineFun("floor", spiceFloor);
    parser.DefineFun("ceil", spiceCeil);
    parser.DefineFun("int", spiceInt);
}

}  // namespace

double evaluateConstant(std::string_view expression, const std::map<std::string, double>& params) {
    mu::Parser parser;
    NameSource names{&params, {}};
    try {
        defineSpiceFunctions(parser);
        parser.SetVarFactory(defineOnUse, &names);
        parser.SetExpr(rewriteSpiceNumbers(lowerCase(expression)));
        const double result = parser.Eval();
        if (!std::isfinite(result)) throw std::runtime_error("the value is not finite");
        return result;
    } catch (const mu::Parser::exception_type& error) {
        throw std::runtime_error(error.GetMsg());
    }
}

}  // namespace udmhost
