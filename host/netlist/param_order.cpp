#include "netlist/param_order.h"

#include <cctype>
#include <stdexcept>

#include "netlist/constant_expression.h"
#include "netlist/netlist_error.h"
#include "netlist/netlist_lexer.h"
#include "text/lower_case.h"

namespace udmhost::netlist {

namespace {

bool isNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_'; }
bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '.'; }

enum class Mark { Unvisited, InProgress, Done };

struct Evaluator {
    std::map<std::string, const ParamDefinition*> byName;
    std::map<std::string, Mark> marks;
    std::map<std::string, double>& params;

    // Iterative on purpose: chains of thousands of definitions must not
    // exhaust the stack.
    void evaluate(const std::string& root) {
        struct Frame {
            const ParamDefinition* definition;
            std::vector<std::string> needs;
            size_t next = 0;
        };
        std::vector<Frame> stack;
        auto push = [&](const std::string& name) {
            const ParamDefinition* definition = byName.at(name);
            marks[name] = Mark::InProgress;
            stack.push_back({definition, namesUsed(definition->expression)});
        };
        push(root);
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next < frame.needs.size()) {
                const std::string& need = frame.needs[frame.next++];
                if (!byName.contains(need)) continue;  // a function or unknown: the evaluator says
                const Mark mark = marks[need];
                if (mark == Mark::Done) continue;
                if (mark == Mark::InProgress) cycle(stack, need);
                push(need);
                continue;
            }
            const ParamDefinition& d = *frame.definition;
            try {
                params[d.name] = evaluateConstant(d.expression, params);
            } catch (const std::runtime_error& error) {
                throw NetlistError(d.where, "cannot evaluate " + d.name + " = " + d.expression + ": " + error.what());
            }
            marks[d.name] = Mark::Done;
            stack.pop_back();
        }
    }

    template <class Stack>
    [[noreturn]] void cycle(const Stack& stack, const std::string& again) {
        size_t from = 0;
        while (stack[from].definition->name != again) ++from;
        std::string chain;
        for (size_t i = from; i < stack.size(); ++i) chain += stack[i].definition->name + " -> ";
        chain += again;
        throw NetlistError(stack[from].definition->where,
                           "parameter " + again + " depends on itself (" + chain + "); give one of them a value");
    }
};

}  // namespace

std::vector<std::string> namesUsed(const std::string& expression) {
    std::vector<std::string> names;
    const std::string text = lowerCase(expression);
    size_t at = 0;
    while (at < text.size()) {
        const char c = text[at];
        if (std::isdigit(static_cast<unsigned char>(c)) != 0 || c == '.') {
            // A number with its suffix or exponent: not a name.
            while (at < text.size() && (isNameChar(text[at]) ||
                                        ((text[at] == '+' || text[at] == '-') && at > 0 && text[at - 1] == 'e')))
                ++at;
            continue;
        }
        if (isNameStart(c)) {
            size_t end = at;
            while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) != 0 || text[end] == '_'))
                ++end;
            names.push_back(text.substr(at, end - at));
            at = end;
            continue;
        }
        ++at;
    }
    return names;
}

void evaluateParams(const std::vector<ParamDefinition>& definitions, std::map<std::string, double>& params) {
    Evaluator evaluator{{}, {}, params};
    for (const ParamDefinition& d : definitions) evaluator.byName[d.name] = &d;  // the last one counts
    for (const ParamDefinition& d : definitions)
        if (evaluator.byName.at(d.name) == &d && evaluator.marks[d.name] != Mark::Done) evaluator.evaluate(d.name);
}

}  // namespace udmhost::netlist
