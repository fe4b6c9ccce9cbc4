#include "netlist/netlist_lexer.h"

#include <cctype>

#include "netlist/netlist_error.h"

namespace udmhost {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v' || c == ','; }

bool isWordChar(char c) { return !isBlank(c) && c != '(' && c != ')' && c != '=' && c != '{' && c != '}'; }

// Tokens of one physical line, appended to `out`.
void lexPhysicalLine(std::string_view line, const std::string& file, int lineNumber, size_t from,
                     std::vector<Token>& out) {
    size_t at = from;
    bool space = true;
    while (at < line.size()) {
        const char c = line[at];
        if (c == ';' || (c == '$' && (at + 1 == line.size() || isBlank(line[at + 1]))))
            break;  // trailing comment
        if (isBlank(c)) {
            space = true;
            ++at;
            continue;
        }
        Token token;
        token.where = {file, lineNumber, static_cast<int>(at) + 1};
        token.spaceBefore = space;
        space = false;
        if (c == '{') {
            size_t depth = 1, end = at + 1;
            for (; end < line.size() && depth > 0; ++end) {
                if (line[end] == '{') ++depth;
                if (line[end] == '}') --depth;
            }
            if (depth != 0) throw NetlistError(token.where, "'{' without a closing '}'");
            token.kind = Token::Kind::Braced;
            token.text = std::string(line.substr(at + 1, end - at - 2));
            at = end;
        } else if (c == '}') {
            throw NetlistError(token.where, "'}' without an opening '{'");
        } else if (c == '(' || c == ')' || c == '=') {
            token.kind = c == '(' ? Token::Kind::Open : c == ')' ? Token::Kind::Close : Token::Kind::Equals;
            token.text = std::string(1, c);
            ++at;
        } else {
            size_t end = at;
            while (end < line.size() && isWordChar(line[end])) ++end;
            token.text = std::string(line.substr(at, end - at));
            at = end;
        }
        out.push_back(std::move(token));
    }
}

}  // namespace

NetlistText lexNetlist(std::string_view text, const std::string& file) {
    NetlistText result;
    int lineNumber = 0;
    size_t start = 0;
    bool haveTitle = false;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++lineNumber;
        const bool last = end == text.size();
        start = end + 1;

        if (!haveTitle) {
            result.title = std::string(line);
            haveTitle = true;
        } else {
            size_t first = 0;
            while (first < line.size() && isBlank(line[first])) ++first;
            if (first < line.size() && line[first] != '*') {
                if (line[first] == '+') {
                    if (result.lines.empty())
                        throw NetlistError({file, lineNumber, static_cast<int>(first) + 1},
                                           "continuation line '+' with no line to continue");
                    lexPhysicalLine(line, file, lineNumber, first + 1, result.lines.back().tokens);
                } else {
                    LogicalLine logical;
                    lexPhysicalLine(line, file, lineNumber, first, logical.tokens);
                    if (!logical.tokens.empty()) {
                        logical.where = logical.tokens.front().where;
                        result.lines.push_back(std::move(logical));
                    }
                }
            }
        }
        if (last) break;
    }
    return result;
}

}  // namespace udmhost
