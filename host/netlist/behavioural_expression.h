// The expression of a B source, compiled to a flat postfix tape that is
// evaluated with forward-mode automatic differentiation: the value and its
// exact gradient with respect to the unknowns it reads, for the Newton
// Jacobian. Every discontinuous operation (comparisons, u, sgn, ?:, floor,
// ceil, && || !) records the branch it took and the argument whose sign
// change moves it to another, so that the simulator can locate the instant.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace udmhost {

// What an expression reads: a node voltage, the current through a voltage
// source (by element index) or the time.
struct BehaviouralInput {
    enum class Kind { NodeVoltage, BranchCurrent, Time };
    Kind kind = Kind::NodeVoltage;
    int index = 0;  // node number or element index
    bool operator==(const BehaviouralInput&) const = default;
};

// A compile error at `offset` characters into the expression text.
class BehaviouralSyntaxError : public std::runtime_error {
public:
    BehaviouralSyntaxError(size_t at, const std::string& what) : std::runtime_error(what), offset(at) {}
    size_t offset;
};

class BehaviouralExpression {
public:
    struct Names {
        std::function<std::optional<int>(const std::string&)> node;           // number of a known node
        std::function<std::optional<int>(const std::string&)> voltageSource;  // element index
        std::function<std::optional<double>(const std::string&)> parameter;   // .param value
    };
    // `text` has its .func calls already expanded. Throws BehaviouralSyntaxError.
    static BehaviouralExpression compile(const std::string& text, const Names& names);

    const std::vector<BehaviouralInput>& inputs() const { return inputs_; }
    size_t eventCount() const { return eventCount_; }

    // Branches taken by the discontinuous operations, and the arguments
    // whose zero crossing separates them (NaN where there is none to
    // interpolate, as for floor).
    struct Branches {
        std::vector<double> taken, argument;
    };
    // `in`: the value of each input; `gradient` (inputs().size()) receives
    // the derivatives. `domain` receives the name of a function called
    // outside its domain (sqrt or log of a negative number, division by
    // zero); the result is then NaN.
    double evaluate(const double* in, double* gradient, Branches* branches = nullptr,
                    const char** domain = nullptr) const;

    enum class Op : unsigned char {
        Const, Input, Neg, Not, Add, Sub, Mul, Div, Pow, Lt, Gt, Le, Ge, Eq, Ne, And, Or, Select,
        Abs, Sqrt, Exp, Ln, Log10, Sin, Cos, Tan, Atan, Sinh, Cosh, Tanh, U, Uramp, Floor, Ceil, Sgn,
        Min, Max, Pwr, Limit, Pwl
    };
    struct Instruction {
        Op op;
        int arg = 0;       // Input: input index; Pwl: argument count
        double value = 0;  // Const
    };

private:
    friend class BehaviouralParser;
    std::vector<Instruction> tape_;
    std::vector<BehaviouralInput> inputs_;
    size_t eventCount_ = 0;
    size_t maxDepth_ = 0;
};

}  // namespace udmhost
