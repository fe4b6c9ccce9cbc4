#include "netlist/subcircuit_expander.h"

#include <algorithm>

#include "netlist/constant_expression.h"
#include "netlist/spice_number.h"

namespace udmhost::netlist {

namespace {

constexpr size_t kMaxExpandedElements = 200'000;
// Deep enough for any hierarchy drawn by hand; the expansion recurses once a level.
constexpr int kMaxNestingDepth = 64;

std::string keyword(const LogicalLine& line) { return lowerCase(line.tokens.front().text); }

bool isParamsWord(const Token& token) { return token.kind == Token::Kind::Word && lowerCase(token.text) == "params:"; }

// Index of the first NAME of NAME=VALUE pairs (or of "params:"), else the
// token count.
size_t firstAssignment(const LogicalLine& line) {
    for (size_t i = 1; i < line.tokens.size(); ++i)
        if (isParamsWord(line.tokens[i]) ||
            (i + 1 < line.tokens.size() && line.tokens[i + 1].kind == Token::Kind::Equals))
            return i;
    return line.tokens.size();
}

// NAME=VALUE pairs from `from` on, values as expression texts.
std::vector<std::pair<std::string, std::string>> assignments(const LogicalLine& line, size_t from) {
    std::vector<std::pair<std::string, std::string>> pairs;
    LineCursor cursor(line);
    cursor.rewind(from);
    while (!cursor.atEnd()) {
        if (isParamsWord(cursor.peek())) {
            cursor.take();
            continue;
        }
        const Token& name = cursor.word("NAME=VALUE");
        if (!cursor.takeIf(Token::Kind::Equals)) cursor.expected("'=' after " + name.text);
        if (cursor.atEnd()) cursor.expected("a value for " + name.text);
        const Token& first = cursor.take();
        std::string text = first.text;
        if (first.kind != Token::Kind::Braced)
            while (!cursor.atEnd() && !cursor.peek().spaceBefore && cursor.peek().kind != Token::Kind::Equals)
                text += cursor.take().text;
        pairs.emplace_back(lowerCase(name.text), text);
    }
    return pairs;
}

// How many node tokens follow the name of an element line.
size_t nodeCount(const LogicalLine& line) {
    switch (keyword(line)[0]) {
        case 'r': case 'c': case 'l': case 'v': case 'i': case 'd': case 'f': case 'h': case 'w': case 'b': return 2;
        case 'e': case 'g':
            // VALUE=, POLY(n) and TABLE name their controls in what follows.
            return line.tokens.size() > 3 && line.tokens[3].kind == Token::Kind::Word &&
                           (isBehaviouralControlKeyword(keyword(line)[0], line.tokens[3].text) ||
                            writtenAsPolynomial(line))
                       ? 2
                       : 4;
        case 'q': {
            // Three or four nodes, the model, then perhaps the area and OFF.
            size_t end = firstAssignment(line);
            while (end > 1 && line.tokens[end - 1].kind == Token::Kind::Word &&
                   (lowerCase(line.tokens[end - 1].text) == "off" || spiceNumber(line.tokens[end - 1].text)))
                --end;
            return end >= 2 ? std::min<size_t>(end - 2, 4) : 0;
        }
        case 's': return 4;
        case 'm': {
            // Three nodes (VDMOS) or four before the model name and NAME=value pairs.
            const size_t end = firstAssignment(line);
            return end >= 2 ? std::min<size_t>(end - 2, 4) : 0;
        }
        case 'x': case 'y': {
            // The nodes come before the subcircuit or plug-in name, which is
            // the last word before the parameters.
            const size_t end = firstAssignment(line);
            return end >= 2 ? end - 2 : 0;
        }
        default: return 0;
    }
}

}  // namespace

std::vector<const LogicalLine*> SubcircuitExpander::collect(Context& context, const std::vector<LogicalLine>& lines) {
    std::vector<const LogicalLine*> rest;
    std::vector<SubcircuitDefinition> open;  // innermost last
    for (const LogicalLine& line : lines) {
        const std::string key = keyword(line);
        if (key == ".subckt") {
            LineCursor cursor(line);
            cursor.take();
            SubcircuitDefinition d;
            const Token& name = cursor.word("a subcircuit name");
            d.name = name.text;
            d.where = name.where;
            const size_t end = firstAssignment(line);
            for (size_t i = 2; i < end; ++i) {
                if (line.tokens[i].kind != Token::Kind::Word) {
                    cursor.rewind(i);
                    cursor.expected("a port node");
                }
                d.ports.push_back(lowerCase(line.tokens[i].text));
            }
            d.defaults = assignments(line, end);
            open.push_back(std::move(d));
        } else if (key == ".ends") {
            if (open.empty()) throw NetlistError(line.where, ".ends without .subckt");
            SubcircuitDefinition d = std::move(open.back());
            open.pop_back();
            const std::string name = lowerCase(d.name);
            if (const auto earlier = definitions_.find(name); earlier != definitions_.end()) {
                const SourceLocation& first = earlier->second.where;
                context.warn(d.where, "subcircuit " + d.name + " is already defined at " +
                                          (first.file == d.where.file ? "" : first.file + ":") + "line " +
                                          std::to_string(first.line) + "; this definition is ignored");
                for (const LogicalLine* hoisted : d.hoisted) {
                    modelOwners_.erase(hoisted);
                    rest.erase(std::find(rest.begin(), rest.end(), hoisted));
                }
                continue;
            }
            definitions_.emplace(name, std::move(d));
        } else if (key == ".global") {
            for (size_t i = 1; i < line.tokens.size(); ++i) globals_.insert(lowerCase(line.tokens[i].text));
            rest.push_back(&line);
        } else if (open.empty() || key == ".model" || key == ".func") {
            // Functions hold for the whole netlist (a function's parameters
            // inside a subcircuit are the instance's, since it is expanded
            // where it is called); a model card inside one is its own, as in
            // SPICE: vendor files give each part's subcircuit the same names.
            if (!open.empty()) {
                if (key == ".model") modelOwners_[&line] = lowerCase(open.back().name);
                open.back().hoisted.push_back(&line);
            }
            rest.push_back(&line);
        } else {
            open.back().body.push_back(&line);
        }
    }
    if (!open.empty()) throw NetlistError(open.back().where, ".subckt " + open.back().name + " has no .ends");
    return rest;
}

void SubcircuitExpander::expand(Context& context, const LogicalLine& line, std::vector<ScopedLine>& out) {
    if (keyword(line)[0] == 'x') instantiate(context, line, -1, "", 0, out);
    else out.push_back({&line, -1});
}

void SubcircuitExpander::instantiate(Context& context, const LogicalLine& line, int parentScope,
                                     const std::string& parentPath, int depth, std::vector<ScopedLine>& out) {
    const size_t end = firstAssignment(line);
    if (end < 3) {
        LineCursor cursor(line);
        cursor.rewind(end);
        cursor.expected("nodes and a subcircuit name");
    }
    const Token& subName = line.tokens[end - 1];
    const auto found = definitions_.find(lowerCase(subName.text));
    if (found == definitions_.end()) {
        std::vector<std::string> names;
        for (const auto& [key, d] : definitions_) names.push_back(d.name);
        const std::string hint = closestName(subName.text, names);
        throw NetlistError(subName.where, "unknown subcircuit " + subName.text + " (no .subckt defines it)" +
                                              (hint.empty() ? "" : ", did you mean " + hint + "?"));
    }
    const SubcircuitDefinition& d = found->second;
    if (end - 2 != d.ports.size())
        throw NetlistError(line.tokens[0].where, "subcircuit " + d.name + " has " + std::to_string(d.ports.size()) +
                                                     " ports, " + std::to_string(end - 2) + " given");
    const std::string definitionKey = lowerCase(d.name);
    if (std::find(expanding_.begin(), expanding_.end(), definitionKey) != expanding_.end())
        throw NetlistError(line.tokens[0].where, "subcircuit " + d.name + " contains itself");
    if (depth >= kMaxNestingDepth)
        throw NetlistError(line.tokens[0].where, "subcircuits nested more than " + std::to_string(kMaxNestingDepth) +
                                                     " deep (at an instance of " + d.name + ")");

    // Parameters: the instance's values, evaluated where the instance is,
    // over the definition's defaults, evaluated inside.
    auto evaluate = [&](const std::string& text, const std::map<std::string, double>& scope, const SourceLocation& at) {
        try {
            return evaluateConstant(context.functions.empty() ? text : expandFunctions(text, context.functions), scope);
        } catch (const std::runtime_error& error) {
            throw NetlistError(at, "cannot evaluate " + text + ": " + error.what());
        }
    };
    const std::map<std::string, double> parent = parentScope < 0 ? context.circuit.params
                                                                  : context.scopes[static_cast<size_t>(parentScope)];
    std::map<std::string, double> scope = parent;
    const auto given = assignments(line, end);
    for (const auto& [name, text] : given) scope[name] = evaluate(text, parent, line.tokens[0].where);
    for (const auto& [name, text] : d.defaults) {
        bool overridden = false;
        for (const auto& g : given) overridden = overridden || g.first == name;
        if (!overridden) scope[name] = evaluate(text, scope, d.where);
    }
    const std::string path = parentPath.empty() ? line.tokens[0].text : parentPath + "." + line.tokens[0].text;
    InstanceNames names;
    names.path = path;
    names.definition = definitionKey;
    names.parent = parentScope;
    names.globals = globals_;
    for (size_t i = 0; i < d.ports.size(); ++i) names.ports[d.ports[i]] = line.tokens[i + 1].text;
    context.scopes.push_back(std::move(scope));
    context.instanceNames.push_back(std::move(names));
    const InstanceNames& renaming = context.instanceNames.back();
    const int scopeIndex = static_cast<int>(context.scopes.size()) - 1;

    expanding_.push_back(definitionKey);
    for (const LogicalLine* inner : d.body) {
        const std::string key = keyword(*inner);
        if (key == ".param") {
            auto& local = context.scopes[static_cast<size_t>(scopeIndex)];
            for (const auto& [name, text] : assignments(*inner, 1)) local[name] = evaluate(text, local, inner->where);
            continue;
        }
        if (key[0] == '.')
            throw NetlistError(inner->where, key + " inside .subckt " + d.name + " is not supported; move it out");
        LogicalLine renamed = *inner;
        const size_t count = std::min(nodeCount(renamed), renamed.tokens.size() - 1);
        for (size_t i = 1; i <= count; ++i) renamed.tokens[i].text = renaming.node(renamed.tokens[i].text);
        if (key[0] == 'x') {
            made_.push_back(std::move(renamed));
            instantiate(context, made_.back(), scopeIndex, path, depth + 1, out);
            continue;
        }
        renamed.tokens[0].text = renaming.element(renamed.tokens[0].text);
        // F, H and W name the voltage source they sense: the instance's own
        // (a polynomial's are named in its expression).
        if ((key[0] == 'f' || key[0] == 'h' || key[0] == 'w') && renamed.tokens.size() > 3 &&
            renamed.tokens[3].kind == Token::Kind::Word && !writtenAsPolynomial(renamed))
            renamed.tokens[3].text = renaming.element(renamed.tokens[3].text);
        // K couples two of the instance's own inductors.
        if (key[0] == 'k')
            for (size_t i = 1; i <= 2 && i < renamed.tokens.size(); ++i)
                if (renamed.tokens[i].kind == Token::Kind::Word) renamed.tokens[i].text = renaming.element(renamed.tokens[i].text);
        // Instances of instances multiply: a netlist of a few lines may ask
        // for more elements than memory holds.
        if (out.size() >= kMaxExpandedElements)
            throw NetlistError(line.tokens[0].where, "the subcircuits expand to more than " +
                                                         std::to_string(kMaxExpandedElements) + " elements");
        made_.push_back(std::move(renamed));
        out.push_back({&made_.back(), scopeIndex});
    }
    expanding_.pop_back();
}

}  // namespace udmhost::netlist
