#include "rc_script.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <utility>

namespace udm::rc {
namespace {

enum class Tok { Ident, Number, String, Punct, Begin, End, Eof };

struct Token {
    Tok kind = Tok::Eof;
    std::string text;  // identifier, punctuation or the decoded string
    uint32_t number = 0;
    int line = 0;
};

bool isIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_'; }
bool isIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// Splits the script into tokens, handling comments and the preprocessor
// directives on the way (macros are expanded when identifiers are read).
class Lexer {
public:
    explicit Lexer(std::string_view s) : s_(s) {}

    std::vector<Token> run() {
        std::vector<Token> tokens;
        for (;;) {
            skipSpaceAndComments();
            if (pos_ >= s_.size()) break;
            const char c = s_[pos_];
            if (c == '#') {
                directive();
            } else if (c == '"' || (c == 'L' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '"')) {
                if (c == 'L') ++pos_;
                tokens.push_back(stringLiteral());
            } else if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
                tokens.push_back(numberLiteral());
            } else if (isIdentStart(c)) {
                tokens.push_back(identifier());
            } else if (c == '{' || c == '}') {
                tokens.push_back({c == '{' ? Tok::Begin : Tok::End, std::string(1, c), 0, line_});
                ++pos_;
            } else if (c == ',' || c == '|' || c == '+' || c == '(' || c == ')') {
                tokens.push_back({Tok::Punct, std::string(1, c), 0, line_});
                ++pos_;
            } else {
                throw ScriptError(line_, std::string("unexpected character '") + c + "'");
            }
        }
        tokens.push_back({Tok::Eof, "", 0, line_});
        return tokens;
    }

private:
    void skipSpaceAndComments() {
        while (pos_ < s_.size()) {
            const char c = s_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
            } else if (std::isspace(static_cast<unsigned char>(c)) != 0) {
                ++pos_;
            } else if (s_.substr(pos_, 2) == "//") {
                while (pos_ < s_.size() && s_[pos_] != '\n') ++pos_;
            } else if (s_.substr(pos_, 2) == "/*") {
                const auto end = s_.find("*/", pos_ + 2);
                if (end == std::string_view::npos) throw ScriptError(line_, "unterminated comment");
                for (auto i = pos_; i < end; ++i) line_ += s_[i] == '\n' ? 1 : 0;
                pos_ = end + 2;
            } else {
                break;
            }
        }
    }

    std::string_view restOfLine() {
        const auto end = s_.find('\n', pos_);
        const auto stop = end == std::string_view::npos ? s_.size() : end;
        auto line = s_.substr(pos_, stop - pos_);
        pos_ = stop;
        if (const auto comment = line.find("//"); comment != std::string_view::npos) line = line.substr(0, comment);
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())) != 0) line.remove_suffix(1);
        return line;
    }

    static std::string_view trimmed(std::string_view v) {
        while (!v.empty() && std::isspace(static_cast<unsigned char>(v.front())) != 0) v.remove_prefix(1);
        while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back())) != 0) v.remove_suffix(1);
        return v;
    }

    void directive() {
        const int line = line_;
        ++pos_;
        const auto text = trimmed(restOfLine());
        auto word_end = std::size_t{0};
        while (word_end < text.size() && isIdentChar(text[word_end])) ++word_end;
        const auto word = text.substr(0, word_end);
        const auto rest = trimmed(text.substr(word_end));
        if (word == "define") {
            std::size_t name_end = 0;
            while (name_end < rest.size() && isIdentChar(rest[name_end])) ++name_end;
            const auto name = rest.substr(0, name_end);
            if (name.empty() || !isIdentStart(name[0])) throw ScriptError(line, "#define without a name");
            const auto value = trimmed(rest.substr(name_end));
            macros_[std::string(name)] = std::string(value);
        } else if (word == "pragma") {
            if (rest != "code_page(65001)") throw ScriptError(line, "only #pragma code_page(65001) is understood");
        } else {
            throw ScriptError(line, "unsupported directive #" + std::string(word));
        }
    }

    Token stringLiteral() {
        Token t{Tok::String, "", 0, line_};
        ++pos_;  // opening quote
        for (;;) {
            if (pos_ >= s_.size() || s_[pos_] == '\n') throw ScriptError(t.line, "unterminated string");
            const char c = s_[pos_++];
            if (c == '"') {
                if (pos_ < s_.size() && s_[pos_] == '"') {  // "" stands for one quote
                    t.text.push_back('"');
                    ++pos_;
                    continue;
                }
                return t;
            }
            if (c != '\\') {
                t.text.push_back(c);
                continue;
            }
            if (pos_ >= s_.size()) throw ScriptError(t.line, "unterminated string");
            const char e = s_[pos_++];
            switch (e) {
                case 'n': t.text.push_back('\n'); break;
                case 't': t.text.push_back('\t'); break;
                case 'r': t.text.push_back('\r'); break;
                case '\\': t.text.push_back('\\'); break;
                case '"': t.text.push_back('"'); break;
                default: throw ScriptError(t.line, std::string("unsupported escape \\") + e);
            }
        }
    }

    Token numberLiteral() {
        Token t{Tok::Number, "", 0, line_};
        const auto start = pos_;
        int base = 10;
        if (s_.substr(pos_, 2) == "0x" || s_.substr(pos_, 2) == "0X") {
            base = 16;
            pos_ += 2;
        }
        uint64_t value = 0;
        std::size_t digits = 0;
        while (pos_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[pos_])) != 0) {
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s_[pos_])));
            const int digit = std::isdigit(static_cast<unsigned char>(c)) != 0 ? c - '0' : c - 'a' + 10;
            if (digit >= base) break;
            value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
            if (value > 0xFFFFFFFFu) throw ScriptError(t.line, "number out of range");
            ++digits;
            ++pos_;
        }
        while (pos_ < s_.size() && (s_[pos_] == 'L' || s_[pos_] == 'l' || s_[pos_] == 'U' || s_[pos_] == 'u')) ++pos_;
        if (digits == 0 || (pos_ < s_.size() && isIdentChar(s_[pos_])))
            throw ScriptError(t.line, "malformed number " + std::string(s_.substr(start, pos_ - start + 1)));
        t.number = static_cast<uint32_t>(value);
        return t;
    }

    Token identifier() {
        const int line = line_;
        const auto start = pos_;
        while (pos_ < s_.size() && isIdentChar(s_[pos_])) ++pos_;
        std::string name(s_.substr(start, pos_ - start));
        if (name == "BEGIN") return {Tok::Begin, name, 0, line};
        if (name == "END") return {Tok::End, name, 0, line};
        std::set<std::string> seen;
        while (macros_.count(name) != 0) {  // a macro stands for a number or another macro
            if (!seen.insert(name).second) throw ScriptError(line, "recursive macro " + name);
            const std::string value = macros_.at(name);
            if (!value.empty() && std::isdigit(static_cast<unsigned char>(value[0])) != 0) {
                Lexer inner(value);
                inner.line_ = line;
                const auto tokens = inner.run();
                if (tokens.size() != 2 || tokens[0].kind != Tok::Number)
                    throw ScriptError(line, "macro " + name + " is not a plain number");
                return {Tok::Number, name, tokens[0].number, line};
            }
            if (value.empty() || !isIdentStart(value[0])) throw ScriptError(line, "macro " + name + " is not a number");
            name = value;
        }
        return {Tok::Ident, name, 0, line};
    }

    std::string_view s_;
    std::size_t pos_ = 0;
    int line_ = 1;
    std::map<std::string, std::string> macros_;  // name to its replacement text
};

uint16_t languageId(uint32_t primary, uint32_t sub, int line) {
    if (primary > 0x3FF || sub > 0x3F) throw ScriptError(line, "language out of range");
    return static_cast<uint16_t>((sub << 10) | primary);
}

class Parser {
public:
    explicit Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}

    ResourceScript run() {
        while (peek().kind != Tok::Eof) {
            const Token& head = peek();
            if (head.kind == Tok::Ident && head.text == "LANGUAGE") {
                next();
                language_ = languageStatement();
            } else if (head.kind == Tok::Ident && head.text == "STRINGTABLE") {
                next();
                stringTable();
            } else if ((head.kind == Tok::Number || head.kind == Tok::Ident) && peek(1).kind == Tok::Ident &&
                       peek(1).text == "VERSIONINFO") {
                next();
                next();
                versionInfo();
            } else {
                throw ScriptError(head.line, "unsupported statement at '" + head.text + "'");
            }
        }
        return std::move(script_);
    }

private:
    const Token& peek(std::size_t ahead = 0) const {
        return t_[std::min(i_ + ahead, t_.size() - 1)];
    }
    const Token& next() {
        const Token& t = peek();
        if (i_ < t_.size() - 1) ++i_;
        return t;
    }
    bool accept(std::string_view punct) {
        if (peek().kind == Tok::Punct && peek().text == punct) {
            next();
            return true;
        }
        return false;
    }
    void expect(Tok kind, std::string_view what) {
        if (peek().kind != kind) throw ScriptError(peek().line, "expected " + std::string(what));
        next();
    }

    // number, macro, parenthesised expression, joined by | or +
    uint32_t expression() {
        uint32_t value = term();
        for (;;) {
            if (accept("|")) value |= term();
            else if (accept("+")) value += term();
            else return value;
        }
    }
    uint32_t term() {
        if (accept("(")) {
            const uint32_t value = expression();
            if (!accept(")")) throw ScriptError(peek().line, "expected )");
            return value;
        }
        if (peek().kind != Tok::Number) throw ScriptError(peek().line, "expected a number at '" + peek().text + "'");
        return next().number;
    }
    uint16_t word(std::string_view what) {
        const int line = peek().line;
        const uint32_t value = expression();
        if (value > 0xFFFF) throw ScriptError(line, std::string(what) + " out of range");
        return static_cast<uint16_t>(value);
    }
    std::string strings() {  // adjacent literals are joined
        if (peek().kind != Tok::String) throw ScriptError(peek().line, "expected a string");
        std::string text;
        while (peek().kind == Tok::String) text += next().text;
        return text;
    }

    uint16_t languageStatement() {
        const int line = peek().line;
        const uint32_t primary = expression();
        if (!accept(",")) throw ScriptError(peek().line, "expected , in LANGUAGE");
        return languageId(primary, expression(), line);
    }

    void stringTable() {
        uint16_t language = language_;
        while (peek().kind != Tok::Begin) {  // options before the body
            const Token& option = peek();
            if (option.kind != Tok::Ident) throw ScriptError(option.line, "expected BEGIN");
            next();
            if (option.text == "LANGUAGE") language = languageStatement();
            else if (option.text == "VERSION" || option.text == "CHARACTERISTICS") expression();
        }
        next();
        while (peek().kind != Tok::End) {
            const Token& head = peek();
            if (head.kind == Tok::Eof) throw ScriptError(head.line, "STRINGTABLE without END");
            const uint16_t id = word("string id");
            accept(",");
            StringEntry entry{language, id, strings()};
            if (!ids_.insert({language, id}).second)
                throw ScriptError(head.line, "string " + std::to_string(id) + " defined twice");
            script_.strings.push_back(std::move(entry));
        }
        next();
    }

    void fourWords(std::array<uint16_t, 4>& out) {
        for (std::size_t k = 0; k < out.size(); ++k) {
            if (k > 0 && !accept(",")) throw ScriptError(peek().line, "expected four version numbers");
            out[k] = word("version number");
        }
    }

    void versionInfo() {
        if (script_.version) throw ScriptError(peek().line, "second VERSIONINFO");
        VersionRecord record;
        while (peek().kind != Tok::Begin) {
            const Token& key = peek();
            if (key.kind != Tok::Ident) throw ScriptError(key.line, "expected BEGIN");
            next();
            if (key.text == "FILEVERSION") fourWords(record.fileVersion);
            else if (key.text == "PRODUCTVERSION") fourWords(record.productVersion);
            else if (key.text == "FILEFLAGSMASK" || key.text == "FILEFLAGS" || key.text == "FILEOS" ||
                     key.text == "FILETYPE" || key.text == "FILESUBTYPE")
                expression();
            else throw ScriptError(key.line, "unknown VERSIONINFO statement " + key.text);
        }
        next();
        block(record, {});
        script_.version = std::move(record);
    }

    // The body of a BEGIN ... END block in VERSIONINFO; `path` names the
    // enclosing blocks, e.g. {"StringFileInfo", "040904E4"}.
    void block(VersionRecord& record, const std::vector<std::string>& path) {
        while (peek().kind != Tok::End) {
            const Token& head = peek();
            if (head.kind != Tok::Ident) throw ScriptError(head.line, "expected BLOCK, VALUE or END");
            next();
            if (head.text == "BLOCK") {
                auto inner = path;
                inner.push_back(strings());
                expect(Tok::Begin, "BEGIN");
                block(record, inner);
            } else if (head.text == "VALUE") {
                const std::string key = strings();
                std::vector<std::string> texts;
                while (accept(",")) {
                    if (peek().kind == Tok::String) texts.push_back(strings());
                    else expression();
                }
                if (path.size() == 2 && path[0] == "StringFileInfo" && key == "Comments") {
                    if (texts.size() != 1) throw ScriptError(head.line, "Comments takes one text");
                    record.comments.push_back({blockLanguage(path[1], head.line), texts[0]});
                }
            } else {
                throw ScriptError(head.line, "expected BLOCK, VALUE or END");
            }
        }
        next();
    }

    static uint16_t blockLanguage(const std::string& name, int line) {
        if (name.size() != 8) throw ScriptError(line, "string block name must be 8 hex digits");
        uint32_t value = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const auto c = static_cast<unsigned char>(name[k]);
            if (std::isxdigit(c) == 0) throw ScriptError(line, "string block name must be 8 hex digits");
            const int digit = std::isdigit(c) != 0 ? c - '0' : std::tolower(c) - 'a' + 10;
            value = value * 16 + static_cast<uint32_t>(digit);
        }
        return static_cast<uint16_t>(value);
    }

    std::vector<Token> t_;
    std::size_t i_ = 0;
    uint16_t language_ = 0;  // LANG_NEUTRAL until a LANGUAGE statement
    ResourceScript script_;
    std::set<std::pair<uint16_t, uint16_t>> ids_;
};

}  // namespace

ResourceScript parseResourceScript(std::string_view script) {
    return Parser(Lexer(script).run()).run();
}

}  // namespace udm::rc
