#include "netlist/netlist_lexer.h"

#include <cctype>
#include <cstdio>

#include "netlist/netlist_error.h"
#include "text/lower_case.h"

namespace udmhost {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v' || c == ','; }

// A ';' ends a word too: the comment it starts may follow a value unspaced.
bool isWordChar(char c) {
    return !isBlank(c) && c != '(' && c != ')' && c != '=' && c != '{' && c != '}' && c != '\'' && c != '"' &&
           c != ';';
}

// The text between `quote` at `at` and its partner, or throws.
std::string quoted(std::string_view line, size_t at, char quote, const SourceLocation& where, size_t& end) {
    end = line.find(quote, at + 1);
    if (end == std::string_view::npos)
        throw NetlistError(where, std::string(quote == '"' ? "a quoted text" : "a quoted expression") +
                                      " without its closing quote");
    std::string text(line.substr(at + 1, end - at - 1));
    ++end;
    return text;
}

// A NUL or another control character inside a name would be cut short or
// garble the outputs that print it (CSV headers, raw files, plots).
void refuseControlCharacters(std::string_view text, const std::string& file, int lineNumber, size_t offset) {
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02x", byte);
            throw NetlistError({file, lineNumber, static_cast<int>(offset + i) + 1},
                               std::string("control character ") + code + " in the netlist; names and values are printable text");
        }
    }
}

// Tokens of one physical line, appended to `out`.
void lexPhysicalLine(std::string_view line, const std::string& file, int lineNumber, size_t from,
                     std::vector<Token>& out) {
    size_t at = from;
    bool space = true;
    while (at < line.size()) {
        const char c = line[at];
        if (c == ';' || (c == '$' && (at + 1 == line.size() || isBlank(line[at + 1]))) ||
            (c == '/' && at + 1 < line.size() && line[at + 1] == '/' && space))
            break;  // trailing comment
        if (isBlank(c)) {
            space = true;
            ++at;
            continue;
        }
        const size_t tokenAt = at;
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
        } else if (c == '\'' || c == '"') {
            // 'expression' as {expression}; "text" (a path) as one word.
            size_t end = at;
            token.text = quoted(line, at, c, token.where, end);
            token.kind = c == '\'' ? Token::Kind::Braced : Token::Kind::Word;
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
        refuseControlCharacters(line.substr(tokenAt, at - tokenAt), file, lineNumber, tokenAt);
        out.push_back(std::move(token));
    }
}

// How many '{' the line leaves open (before a ';' comment).
int openBraces(std::string_view line) {
    int depth = 0;
    for (char c : line) {
        if (c == ';') break;
        depth += c == '{' ? 1 : c == '}' ? -1 : 0;
    }
    return depth;
}

// The line up to a ';' comment: joined lines must not carry one inside.
std::string_view beforeComment(std::string_view line) { return line.substr(0, line.find(';')); }

// Editors of old wrote a Ctrl-Z (0x1a) at the end of a file: where nothing
// but blank space follows it, the text ends there.
std::string_view beforeEndOfFileMark(std::string_view text) {
    const size_t mark = text.find('\x1a');
    if (mark == std::string_view::npos) return text;
    const size_t after = text.find_first_not_of(" \t\r\n\x1a", mark);
    return after == std::string_view::npos ? text.substr(0, mark) : text;
}

}  // namespace

NetlistText lexNetlist(std::string_view whole, const std::string& file, bool withTitle) {
    const std::string_view text = beforeEndOfFileMark(whole);
    NetlistText result;
    bool haveTitle = !withTitle;
    bool inControl = false;  // between .control and .endc: a script for another program
    auto lexLine = [&](std::string_view line, int lineNumber) {
        if (!haveTitle) {
            result.title = std::string(line);
            haveTitle = true;
            return;
        }
        size_t first = 0;
        while (first < line.size() && isBlank(line[first])) ++first;
        const std::string head = lowerCase(line.substr(first, 6));
        const bool endc = head.starts_with(".endc") && (head.size() == 5 || isBlank(head[5]));
        if (inControl) {
            if (endc) inControl = false;
            const std::string word = lowerCase(line.substr(first, line.find_first_of(" \t", first) - first));
            if (word == "tran" || word == "option" || word == "options") {
                LogicalLine logical;
                lexPhysicalLine(line, file, lineNumber, first, logical.tokens);
                if (!logical.tokens.empty()) {
                    logical.where = logical.tokens.front().where;
                    result.control.push_back(std::move(logical));
                }
            }
        } else if (first < line.size() && line[first] != '*') {
            if (head == ".contr" && lowerCase(line.substr(first, 8)) == ".control") inControl = true;
            if (line[first] == ')' && !result.lines.empty()) {
                // A bare ')' closing a multi-line .model without '+'.
                lexPhysicalLine(line, file, lineNumber, first, result.lines.back().tokens);
            } else if (line[first] == '+') {
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
    };
    // A '{' left open goes on over the '+' lines that follow, as ngspice
    // joins them before it reads the expression: the joined text is lexed
    // as its first line (its tokens are located there).
    std::string joined;
    int joinedLine = 0, joinedDepth = 0;  // depth counted piece by piece: no rescan of what grows
    auto flush = [&] {
        if (joined.empty()) return;
        std::string held;
        held.swap(joined);
        lexLine(held, joinedLine);
    };
    int lineNumber = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++lineNumber;
        const bool last = end == text.size();
        start = end + 1;
        size_t first = 0;
        while (first < line.size() && isBlank(line[first])) ++first;
        const bool code = haveTitle && !inControl && first < line.size() && line[first] != '*';
        if (!joined.empty() && code && line[first] == '+') {
            const std::string_view piece = beforeComment(line.substr(first + 1));
            joined += ' ';
            joined += piece;
            joinedDepth += openBraces(piece);
            if (joinedDepth <= 0) flush();
        } else {
            flush();  // an open '{' that no '+' line continues fails on its own line
            if (code && line[first] != '+' && openBraces(line) > 0) {
                joined = std::string(beforeComment(line));
                joinedLine = lineNumber;
                joinedDepth = openBraces(line);
            } else {
                lexLine(line, lineNumber);
            }
        }
        if (last) break;
    }
    flush();
    return result;
}

}  // namespace udmhost
