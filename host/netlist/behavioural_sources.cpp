// B n+ n- V=expr | I=expr: the expression is kept as text with the places it
// was written, and compiled once every node and voltage source is known.
#include <optional>

#include "netlist/behavioural_expression.h"
#include "netlist/netlist_context.h"

namespace udmhost::netlist {

namespace {

// Marks a node name in a generated expression as already renamed for its
// subcircuit instance; no netlist token holds this character.
constexpr char kOuterNode = '\x01';

bool endsOperand(const std::string& t) {
    if (t.empty()) return false;
    const char c = t.back();
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == ')';
}
bool startsOperand(const std::string& t) {
    if (t.empty()) return false;
    const char c = t.front();
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
}

}  // namespace

namespace {

// The rest of the line as expression text, as SPICE reads it unbraced. The
// lexer took commas for blanks; between two operands there was one. A
// braced part (a parameter expression inside a behavioural resistor's
// value or a B source's) is a parenthesised one.
void appendRestOfLine(LineCursor& cursor, Context::PendingBehaviour& pending) {
    // What the previous token added: a braced part ends with its parenthesis.
    std::optional<std::string> previous;
    while (!cursor.atEnd()) {
        const Token& t = cursor.take();
        const bool braced = t.kind == Token::Kind::Braced;
        const std::string text = braced ? "(" + t.text + ")" : t.text;
        if (previous && t.spaceBefore)
            pending.text += endsOperand(*previous) && startsOperand(text) ? "," : " ";
        pending.places.emplace_back(pending.text.size(), t.where);
        pending.text += text;
        previous = text;
    }
}

void finishPending(Context& context, Context::PendingBehaviour& pending, const std::string& name) {
    if (!context.functions.empty()) {
        try {
            const std::string expanded = expandFunctions(pending.text, context.functions);
            if (expanded != pending.text) pending.places.resize(1);  // offsets no longer match the line
            pending.text = expanded;
        } catch (const std::runtime_error& e) {
            throw NetlistError(pending.places.front().second, name + ": " + e.what());
        }
    }
    // Inside a subcircuit the expression's nodes and sources are the
    // instance's, its parameters those the instance sees.
    pending.params = context.scopeParams();
    if (context.currentScope >= 0) pending.instance = &context.instanceNames[static_cast<size_t>(context.currentScope)];
    context.pendingBehaviours.push_back(std::move(pending));
}

}  // namespace

void readBehaviouralSource(Context& context, const LogicalLine& line, Element& element) {
    LineCursor cursor(line);
    const Token& name = cursor.take();
    element.nodes.push_back(context.node(cursor.word("the + node of " + name.text)));
    element.nodes.push_back(context.node(cursor.word("the - node of " + name.text)));
    const Token& which = cursor.word("V= or I= of " + name.text);
    const std::string w = lowerCase(which.text);
    if ((w != "v" && w != "i") || !cursor.takeIf(Token::Kind::Equals))
        throw NetlistError(which.where, "expected V=expression or I=expression for " + name.text);
    element.kind = w == "v" ? Element::Kind::BehaviouralVoltage : Element::Kind::BehaviouralCurrent;
    if (cursor.atEnd()) cursor.expected("the expression of " + name.text);
    Context::PendingBehaviour pending;
    pending.element = context.circuit.elements.size();
    const size_t start = cursor.position();
    const bool wholeBraced = cursor.peek().kind == Token::Kind::Braced && start + 1 == line.tokens.size();
    if (wholeBraced) {
        const Token& braced = line.tokens[start];
        pending.text = braced.text;
        SourceLocation inside = braced.where;
        ++inside.column;
        pending.places.emplace_back(0, inside);
    } else {
        // Unbraced, a braced part ((-1)*i(v1)*{N}) groups as parentheses.
        appendRestOfLine(cursor, pending);
    }
    finishPending(context, pending, name.text);
}

void readBehaviouralResistor(Context& context, const LogicalLine& line, Element& element, size_t valueAt) {
    // The current v(n+,n-)/R from n+ to n-, as ngspice turns such a resistor
    // into a B source.
    const Token& a = line.tokens[1];
    const Token& b = line.tokens[2];
    element.nodes.push_back(context.node(a));
    element.nodes.push_back(context.node(b));
    element.kind = Element::Kind::BehaviouralCurrent;
    Context::PendingBehaviour pending;
    pending.element = context.circuit.elements.size();
    LineCursor cursor(line);
    cursor.rewind(valueAt);
    if (cursor.atEnd()) cursor.expected("the expression of " + element.name);
    // Its nodes are already the instance's inside a subcircuit: marked so.
    pending.text = std::string("v(") + kOuterNode + a.text + "," + kOuterNode + b.text + ")/(";
    pending.places.emplace_back(0, cursor.here());
    appendRestOfLine(cursor, pending);
    pending.text += ")";
    finishPending(context, pending, element.name);
}

void resolveBehaviours(Context& context) {
    for (const Context::PendingBehaviour& p : context.pendingBehaviours) {
        Element& element = context.circuit.elements[p.element];
        BehaviouralExpression::Names names;
        names.node = [&](const std::string& node) -> std::optional<int> {
            const bool outer = node.starts_with(kOuterNode);
            const std::string key = outer ? lowerCase(node.substr(1))
                                          : lowerCase(p.instance ? p.instance->node(node) : node);
            if (key == "0" || key == "gnd") return 0;
            const auto found = context.nodes.find(key);
            if (found == context.nodes.end()) return std::nullopt;
            return found->second;
        };
        names.voltageSource = [&](const std::string& source) -> std::optional<int> {
            const auto found = context.elementsByName.find(lowerCase(p.instance ? p.instance->element(source) : source));
            if (found == context.elementsByName.end() ||
                context.circuit.elements[static_cast<size_t>(found->second)].kind != Element::Kind::VoltageSource)
                return std::nullopt;
            return found->second;
        };
        names.parameter = [&](const std::string& param) -> std::optional<double> {
            const auto found = p.params.find(param);
            if (found == p.params.end()) return std::nullopt;
            return found->second;
        };
        try {
            element.expression =
                std::make_shared<const BehaviouralExpression>(BehaviouralExpression::compile(p.text, names));
        } catch (const BehaviouralSyntaxError& e) {
            // The place of the offending character on the line.
            SourceLocation where = p.places.front().second;
            for (const auto& [offset, place] : p.places)
                if (offset <= e.offset) {
                    where = place;
                    where.column += static_cast<int>(e.offset - offset);
                }
            throw NetlistError(where, element.name + ": " + e.what());
        }
    }
}

}  // namespace udmhost::netlist
