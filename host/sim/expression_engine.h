// Parameter expressions that plug-ins hand to the host: compiled once
// against the circuit's .param values and the variable `time`, then
// evaluated by identifier as often as the plug-in asks.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace udmhost {

class ExpressionEngine {
public:
    // Parameter names in lower case, as Circuit::params holds them.
    explicit ExpressionEngine(const std::map<std::string, double>& params);
    ~ExpressionEngine();
    ExpressionEngine(const ExpressionEngine&) = delete;
    ExpressionEngine& operator=(const ExpressionEngine&) = delete;

    // Compiles `text` (case-insensitive; SPICE numbers such as 1meg or 4.7k
    // are literals). Returns the expression's index; throws
    // std::invalid_argument with the compiler's message when it does not compile.
    int compile(const std::string& text);

    // The identifier pair handed to a plug-in for expression `index`, and
    // back: the second number is a check value, so that a pair this engine
    // never issued is recognised. Returns -1 for such a pair.
    void identifiers(int index, double out[2]) const;
    int indexOf(double first, double second) const;

    void setTime(double t) { time_ = t; }
    // Evaluates at the current time; throws std::runtime_error on failure.
    double evaluate(int index) const;

    size_t size() const { return parsers_.size(); }

private:
    struct Compiled;
    std::map<std::string, double> params_;
    double time_ = 0.0;
    std::vector<std::unique_ptr<Compiled>> parsers_;
};

}  // namespace udmhost
