#include "netlist/user_functions.h"

#include <cctype>
#include <stdexcept>

#include "netlist/netlist_error.h"
#include "netlist/netlist_lexer.h"
#include "text/lower_case.h"

namespace udmhost::netlist {

namespace {

bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// Replaces whole-word `name` by `with`.
std::string substitute(const std::string& text, const std::string& name, const std::string& with) {
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        const bool starts = text.compare(at, name.size(), name) == 0 && (at == 0 || !isNameChar(text[at - 1])) &&
                            (at + name.size() >= text.size() || !isNameChar(text[at + name.size()]));
        if (starts) {
            out += with;
            at += name.size();
        } else {
            out += text[at++];
        }
    }
    return out;
}

}  // namespace

UserFunction readFunction(const LogicalLine& line) {
    // The text after .func, as written: NAME(A, B) {BODY} or NAME(A,B) = 'BODY'.
    UserFunction f;
    f.where = line.where;
    size_t i = 1;
    auto fail = [&](const std::string& what) {
        const SourceLocation at = i < line.tokens.size() ? line.tokens[i].where : line.tokens.back().where;
        throw NetlistError(at, "expected " + what + " (.func NAME(ARGS) {BODY})");
    };
    if (i >= line.tokens.size() || line.tokens[i].kind != Token::Kind::Word) fail("a function name");
    f.name = lowerCase(line.tokens[i++].text);
    if (i >= line.tokens.size() || line.tokens[i].kind != Token::Kind::Open) fail("'('");
    ++i;
    while (i < line.tokens.size() && line.tokens[i].kind == Token::Kind::Word)
        f.parameters.push_back(lowerCase(line.tokens[i++].text));
    if (i >= line.tokens.size() || line.tokens[i].kind != Token::Kind::Close) fail("a parameter name or ')'");
    ++i;
    if (i < line.tokens.size() && line.tokens[i].kind == Token::Kind::Equals) ++i;
    if (i >= line.tokens.size() || line.tokens[i].kind != Token::Kind::Braced) fail("the body in braces or quotes");
    f.body = line.tokens[i++].text;
    if (i < line.tokens.size()) fail("the end of the line");
    return f;
}

std::string expandFunctions(const std::string& expression, const std::vector<UserFunction>& functions) {
    std::string text = lowerCase(expression);
    for (int round = 0; round < 32; ++round) {
        bool changed = false;
        for (const UserFunction& f : functions) {
            size_t at = 0;
            while ((at = text.find(f.name, at)) != std::string::npos) {
                const size_t open = at + f.name.size();
                if ((at > 0 && isNameChar(text[at - 1])) || open >= text.size() || text[open] != '(') {
                    at = open;
                    continue;
                }
                // The arguments: split at the commas of this call's own level.
                std::vector<std::string> args(1);
                size_t close = open + 1;
                for (int depth = 0; close < text.size(); ++close) {
                    const char c = text[close];
                    if (c == ')' && depth == 0) break;
                    if (c == '(') ++depth;
                    if (c == ')') --depth;
                    if (c == ',' && depth == 0) args.emplace_back();
                    else args.back() += c;
                }
                if (close >= text.size()) throw std::runtime_error("unclosed call of " + f.name);
                if (args.size() == 1 && args[0].find_first_not_of(' ') == std::string::npos) args.clear();
                if (args.size() != f.parameters.size())
                    throw std::runtime_error(f.name + " takes " + std::to_string(f.parameters.size()) +
                                             " arguments, " + std::to_string(args.size()) + " given");
                // Parameters are put in through placeholders first, so that
                // an argument naming another parameter is not replaced again.
                std::string body = lowerCase(f.body);
                for (size_t k = 0; k < args.size(); ++k)
                    body = substitute(body, f.parameters[k], "\x01" + std::to_string(k) + "\x02");
                for (size_t k = 0; k < args.size(); ++k)
                    body = substitute(body, "\x01" + std::to_string(k) + "\x02", "(" + args[k] + ")");
                text = text.substr(0, at) + "(" + body + ")" + text.substr(close + 1);
                changed = true;
                at += body.size() + 2;
            }
        }
        if (!changed) return text;
    }
    throw std::runtime_error("a function calls itself");
}

}  // namespace udmhost::netlist
