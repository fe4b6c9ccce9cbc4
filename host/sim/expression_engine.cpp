#include "sim/expression_engine.h"

#include <muParser.h>

#include <cctype>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "netlist/spice_number.h"
#include "text/lower_case.h"

namespace udmhost {

namespace {

constexpr double kCheckBase = 7919.0;  // the second identifier is index + this

// muparser's hook for literals: a SPICE number with its scale suffix.
int readSpiceLiteral(const mu::char_type* text, int* position, mu::value_type* value) {
    const char first = text[0];
    if (!(std::isdigit(static_cast<unsigned char>(first)) || first == '.')) return 0;
    size_t consumed = 0;
    const auto number = parseSpiceNumber(text, &consumed);
    if (!number || consumed == 0 || consumed > static_cast<size_t>(std::numeric_limits<int>::max())) return 0;
    *position += static_cast<int>(consumed);
    *value = *number;
    return 1;
}

}  // namespace

struct ExpressionEngine::Compiled {
    mu::Parser parser;
};

ExpressionEngine::ExpressionEngine(const std::map<std::string, double>& params) : params_(params) {}

ExpressionEngine::~ExpressionEngine() = default;

int ExpressionEngine::compile(const std::string& text) {
    auto compiled = std::make_unique<Compiled>();
    mu::Parser& p = compiled->parser;
    try {
        p.AddValIdent(readSpiceLiteral);
        for (const auto& [name, value] : params_) p.DefineConst(name, value);
        p.DefineVar("time", &time_);
        p.SetExpr(lowerCase(text));
        p.Eval();  // compiles now, so that errors show at set-up
    } catch (const mu::Parser::exception_type& e) {
        throw std::invalid_argument(e.GetMsg());
    }
    parsers_.push_back(std::move(compiled));
    return static_cast<int>(parsers_.size() - 1);
}

void ExpressionEngine::identifiers(int index, double out[2]) const {
    out[0] = index;
    out[1] = index + kCheckBase;
}

int ExpressionEngine::indexOf(double first, double second) const {
    if (!(first >= 0.0 && first < static_cast<double>(parsers_.size()))) return -1;
    const auto index = static_cast<int>(first);
    if (static_cast<double>(index) != first || second != index + kCheckBase) return -1;
    return index;
}

double ExpressionEngine::evaluate(int index) const {
    try {
        return parsers_[static_cast<size_t>(index)]->parser.Eval();
    } catch (const mu::Parser::exception_type& e) {
        throw std::runtime_error(e.GetMsg());
    }
}

}  // namespace udmhost
