// Recursive descent over a B source's expression, emitting the postfix tape.
// Precedence, loosest first: ?:, ||, &&, comparisons, + -, * /, unary - + !,
// ^ and ** (right associative).
#include <algorithm>
#include <cctype>
#include <map>

#include "netlist/behavioural_expression.h"
#include "netlist/spice_number.h"
#include "text/lower_case.h"

namespace udmhost {

using Op = BehaviouralExpression::Op;

class BehaviouralParser {
public:
    BehaviouralParser(const std::string& text, const BehaviouralExpression::Names& names, BehaviouralExpression& out)
        : s_(text), names_(names), out_(out) {}

    void parse() {
        ternary();
        skip();
        if (at_ < s_.size()) fail("unexpected '" + std::string(1, s_[at_]) + "'");
        // Stack depth of the tape, for the evaluator's work arrays.
        size_t depth = 0, most = 0;
        for (const auto& in : out_.tape_) {
            depth = depth + (in.op == Op::Const || in.op == Op::Input ? 1 : 0) - popped(in);
            most = std::max(most, depth);
        }
        out_.maxDepth_ = most;
    }

private:
    static size_t popped(const BehaviouralExpression::Instruction& in) {
        switch (in.op) {
            case Op::Const:
            case Op::Input: return 0;
            case Op::Select:
            case Op::Limit: return 2;
            case Op::Pwl: return static_cast<size_t>(in.arg) - 1;
            default: return in.op >= Op::Add && in.op <= Op::Or ? 1 : in.op >= Op::Min ? 1 : 0;
        }
    }
    [[noreturn]] void fail(const std::string& what) const { throw BehaviouralSyntaxError(at_, what); }
    void skip() {
        while (at_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[at_]))) ++at_;
    }
    bool take(const char* token) {
        skip();
        const std::string t(token);
        if (s_.compare(at_, t.size(), t) != 0) return false;
        at_ += t.size();
        return true;
    }
    void expect(char c) {
        if (!take(std::string(1, c).c_str())) fail(std::string("expected '") + c + "'");
    }
    void emit(Op op, int arg = 0, double value = 0.0) {
        if (op >= Op::Lt && op <= Op::Select) ++out_.eventCount_;
        if (op == Op::U || op == Op::Floor || op == Op::Ceil || op == Op::Sgn || op == Op::Not) ++out_.eventCount_;
        out_.tape_.push_back({op, arg, value});
    }
    void input(BehaviouralInput in) {
        const auto found = std::find(out_.inputs_.begin(), out_.inputs_.end(), in);
        emit(Op::Input, static_cast<int>(found - out_.inputs_.begin()));
        if (found == out_.inputs_.end()) out_.inputs_.push_back(in);
    }

    void ternary() {
        logicalOr();
        if (!take("?")) return;
        ternary();
        expect(':');
        ternary();
        emit(Op::Select);
    }
    void logicalOr() {
        logicalAnd();
        while (take("||")) logicalAnd(), emit(Op::Or);
    }
    void logicalAnd() {
        comparison();
        while (take("&&")) comparison(), emit(Op::And);
    }
    void comparison() {
        sum();
        for (;;) {
            Op op;
            if (take("==")) op = Op::Eq;
            else if (take("!=")) op = Op::Ne;
            else if (take("<=")) op = Op::Le;
            else if (take(">=")) op = Op::Ge;
            else if (take("<")) op = Op::Lt;
            else if (take(">")) op = Op::Gt;
            else return;
            sum();
            emit(op);
        }
    }
    void sum() {
        product();
        for (;;) {
            if (take("+")) product(), emit(Op::Add);
            else if (take("-")) product(), emit(Op::Sub);
            else return;
        }
    }
    void product() {
        unary();
        for (;;) {
            skip();
            if (s_.compare(at_, 2, "**") == 0) return;
            if (take("*")) unary(), emit(Op::Mul);
            else if (take("/")) unary(), emit(Op::Div);
            else return;
        }
    }
    void unary() {
        if (take("-")) return unary(), emit(Op::Neg);
        if (take("+")) return unary();
        skip();
        if (s_.compare(at_, 2, "!=") != 0 && take("!")) return unary(), emit(Op::Not);
        power();
    }
    void power() {
        primary();
        if (take("^") || take("**")) unary(), emit(Op::Pow);
    }
    void primary() {
        skip();
        if (at_ >= s_.size()) fail("the expression ends early");
        const char c = s_[at_];
        if (take("(")) {
            ternary();
            expect(')');
            return;
        }
        // A braced part inside a quoted expression groups as parentheses.
        if (take("{")) {
            ternary();
            expect('}');
            return;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
            size_t used = 0;
            const auto v = parseSpiceNumber(std::string_view(s_).substr(at_), &used);
            if (!v || used == 0) fail("bad number");
            at_ += used;
            return emit(Op::Const, 0, *v);
        }
        if (!std::isalpha(static_cast<unsigned char>(c)) && c != '_') fail("unexpected '" + std::string(1, c) + "'");
        const size_t start = at_;
        while (at_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[at_])) || s_[at_] == '_' || s_[at_] == '.'))
            ++at_;
        const std::string name = lowerCase(s_.substr(start, at_ - start));
        if (take("(")) return call(name, start);
        if (name == "time") return input({BehaviouralInput::Kind::Time, 0});
        if (name == "pi") return emit(Op::Const, 0, 3.14159265358979323846);
        if (const auto p = names_.parameter(name)) return emit(Op::Const, 0, *p);
        at_ = start;
        fail("unknown name " + s_.substr(start, name.size()) + " (not a parameter, `time` or a function call)");
    }
    // The raw text of a node or source name inside v( ) or i( ).
    std::string rawName() {
        skip();
        const size_t start = at_;
        while (at_ < s_.size() && s_[at_] != ',' && s_[at_] != ')' && !std::isspace(static_cast<unsigned char>(s_[at_])))
            ++at_;
        if (at_ == start) fail("expected a name");
        return s_.substr(start, at_ - start);
    }
    void nodeVoltage() {
        const size_t start = (skip(), at_);
        const std::string name = rawName();
        const auto node = names_.node(name);
        if (!node) {
            at_ = start;
            fail("unknown node " + name);
        }
        if (*node == 0) emit(Op::Const, 0, 0.0);
        else input({BehaviouralInput::Kind::NodeVoltage, *node});
    }
    void call(const std::string& name, size_t start) {
        if (name == "v") {
            nodeVoltage();
            if (take(",")) nodeVoltage(), emit(Op::Sub);
            return expect(')');
        }
        if (name == "i") {
            const size_t from = (skip(), at_);
            const std::string source = rawName();
            const auto e = names_.voltageSource(source);
            if (!e) {
                at_ = from;
                fail(source + " is not a voltage source; i() senses the current of one");
            }
            input({BehaviouralInput::Kind::BranchCurrent, *e});
            return expect(')');
        }
        static const std::map<std::string, std::pair<Op, int>> functions = {
            {"abs", {Op::Abs, 1}},     {"sqrt", {Op::Sqrt, 1}},   {"exp", {Op::Exp, 1}},     {"ln", {Op::Ln, 1}},
            {"log", {Op::Ln, 1}},      {"log10", {Op::Log10, 1}}, {"sin", {Op::Sin, 1}},     {"cos", {Op::Cos, 1}},
            {"tan", {Op::Tan, 1}},     {"atan", {Op::Atan, 1}},   {"sinh", {Op::Sinh, 1}},   {"cosh", {Op::Cosh, 1}},
            {"tanh", {Op::Tanh, 1}},   {"u", {Op::U, 1}},         {"uramp", {Op::Uramp, 1}}, {"floor", {Op::Floor, 1}},
            {"ceil", {Op::Ceil, 1}},   {"sgn", {Op::Sgn, 1}},     {"min", {Op::Min, 2}},     {"max", {Op::Max, 2}},
            {"pow", {Op::Pow, 2}},     {"pwr", {Op::Pwr, 2}},     {"limit", {Op::Limit, 3}}, {"pwl", {Op::Pwl, -1}},
            {"if", {Op::Select, 3}}};  // if(c, a, b) is c ? a : b, as other simulators' decks write it
        const auto found = functions.find(name);
        if (found == functions.end()) {
            at_ = start;
            fail("unknown function " + name);
        }
        int count = 0;
        if (!take(")")) {
            do ternary(), ++count;
            while (take(","));
            expect(')');
        }
        const auto [op, wanted] = found->second;
        if (op == Op::Pwl) {
            if (count < 3 || count % 2 == 0) (at_ = start), fail("pwl takes x and pairs x1, y1, x2, y2, ...");
        } else if (count != wanted) {
            at_ = start;
            fail(name + " takes " + std::to_string(wanted) + " argument" + (wanted == 1 ? "" : "s"));
        }
        emit(op, count);
    }

    const std::string& s_;
    const BehaviouralExpression::Names& names_;
    BehaviouralExpression& out_;
    size_t at_ = 0;
};

BehaviouralExpression BehaviouralExpression::compile(const std::string& text, const Names& names) {
    BehaviouralExpression out;
    BehaviouralParser(text, names, out).parse();
    return out;
}

}  // namespace udmhost
