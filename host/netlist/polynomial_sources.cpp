// E, G, F and H sources written as SPICE2 polynomials (POLY(n)) or tables
// (TABLE), as makers' models use them: each becomes the B source whose
// expression is that polynomial or that table's piecewise-linear curve.
#include <charconv>
#include <limits>
#include <optional>

#include "netlist/netlist_context.h"

namespace udmhost::netlist {

namespace {

// Full precision, so that the expression gives the coefficient itself.
std::string exactText(double value) {
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    return "(" + std::string(buffer, written.ptr) + ")";
}

// The exponents of the polynomial's terms after the constant, in SPICE2's
// order: by degree, and within a degree with the first variable's exponent
// highest first (for two variables a, b, a^2, ab, b^2, a^3, ...).
std::vector<std::vector<int>> termExponents(size_t variables, size_t terms) {
    std::vector<std::vector<int>> out;
    std::vector<int> exponents(variables, 0);
    // Every split of `left` over the variables from `at` on, first variable highest.
    auto split = [&](auto&& self, size_t at, int left) -> void {
        if (out.size() >= terms) return;
        if (at + 1 == variables) {
            exponents[at] = left;
            out.push_back(exponents);
            return;
        }
        for (int e = left; e >= 0; --e) {
            exponents[at] = e;
            self(self, at + 1, left - e);
        }
        exponents[at] = 0;
    };
    for (int degree = 1; out.size() < terms; ++degree) split(split, 0, degree);
    return out;
}

LogicalLine behaviouralLine(const LogicalLine& line, char letter, const Token& at, std::string expression) {
    LogicalLine b;
    b.where = line.where;
    b.tokens.assign(line.tokens.begin(), line.tokens.begin() + 3);
    Token which = at;
    which.kind = Token::Kind::Word;
    which.text = letter == 'e' || letter == 'h' ? "V" : "I";
    b.tokens.push_back(which);
    Token equals = which;
    equals.kind = Token::Kind::Equals;
    equals.text = "=";
    b.tokens.push_back(equals);
    Token braced = which;
    braced.kind = Token::Kind::Braced;
    braced.text = std::move(expression);
    b.tokens.push_back(braced);
    return b;
}

// POLY(n) then n controls (node pairs for E and G, voltage sources for F
// and H), then the coefficients p0 p1 ...
std::string polynomial(Context& context, LineCursor& cursor, char letter, const std::string& name) {
    if (!cursor.takeIf(Token::Kind::Open)) cursor.expected("'(' after POLY");
    const SourceLocation countAt = cursor.here();
    const double count = context.value(cursor, "the number of controls of POLY");
    if (!cursor.takeIf(Token::Kind::Close)) cursor.expected("')' after the number of controls");
    if (!(count >= 1.0 && count <= 16.0) || count != static_cast<double>(static_cast<int>(count)))
        throw NetlistError(countAt, name + ": POLY takes 1 to 16 controls");
    const auto controls = static_cast<size_t>(count);
    const bool byVoltage = letter == 'e' || letter == 'g';
    std::vector<std::string> variables;
    for (size_t k = 0; k < controls; ++k) {
        // Node pairs may be written (a,b).
        const bool grouped = cursor.takeIf(Token::Kind::Open);
        if (byVoltage) {
            const std::string plus = cursor.word("controlling node " + std::to_string(k + 1) + " of " + name).text;
            const std::string minus = cursor.word("its - node").text;
            variables.push_back("v(" + plus + "," + minus + ")");
        } else {
            variables.push_back("i(" + cursor.word("the voltage source of control " + std::to_string(k + 1)).text + ")");
        }
        if (grouped && !cursor.takeIf(Token::Kind::Close)) cursor.expected("')'");
    }
    std::vector<double> coefficients;
    while (!cursor.atEnd()) coefficients.push_back(context.value(cursor, "a coefficient of " + name));
    if (coefficients.empty()) cursor.expected("the coefficients of " + name);
    std::string text = exactText(coefficients[0]);
    const auto exponents = termExponents(controls, coefficients.size() - 1);
    for (size_t t = 0; t + 1 < coefficients.size(); ++t) {
        if (coefficients[t + 1] == 0.0) continue;
        text += "+" + exactText(coefficients[t + 1]);
        for (size_t v = 0; v < controls; ++v)
            for (int e = 0; e < exponents[t][v]; ++e) text += "*" + variables[v];
    }
    return text;
}

// TABLE {expr} [=] (x1, y1) (x2, y2) ...: y between the points linearly,
// held beyond them. Parentheses only group, as SPICE reads them: optional,
// the list in one more pair too, and a stray one in a maker's file passes.
std::string table(Context& context, LineCursor& cursor, const std::string& name) {
    if (cursor.atEnd() || cursor.peek().kind != Token::Kind::Braced) cursor.expected("{expression} after TABLE");
    std::string text = "pwl((" + cursor.take().text + ")";
    cursor.takeIf(Token::Kind::Equals);
    auto skipParentheses = [&] {
        while (cursor.takeIf(Token::Kind::Open) || cursor.takeIf(Token::Kind::Close)) {
        }
    };
    double previous = -std::numeric_limits<double>::infinity();
    size_t points = 0;
    for (skipParentheses(); !cursor.atEnd(); skipParentheses()) {
        const SourceLocation xAt = cursor.here();
        const double x = context.value(cursor, "the input of a point of " + name);
        skipParentheses();
        const double y = context.value(cursor, "the output of a point of " + name);
        if (!(x > previous)) throw NetlistError(xAt, name + ": the inputs of TABLE must increase");
        previous = x;
        text += "," + exactText(x) + "," + exactText(y);
        ++points;
    }
    if (points == 0) cursor.expected("the points of " + name);
    return text + ")";
}

}  // namespace

bool writtenAsPolynomial(const LogicalLine& line) {
    if (line.tokens.size() < 4 || line.tokens[3].kind != Token::Kind::Word) return false;
    const std::string word = lowerCase(line.tokens[3].text);
    const char letter = lowerCase(line.tokens[0].text)[0];
    return word == "poly" || (word == "table" && (letter == 'e' || letter == 'g'));
}

std::optional<LogicalLine> polynomialSource(Context& context, const LogicalLine& line) {
    if (!writtenAsPolynomial(line)) return std::nullopt;
    const Token& keyword = line.tokens[3];
    const char letter = lowerCase(line.tokens[0].text)[0];
    const bool isTable = lowerCase(keyword.text) == "table";
    LineCursor cursor(line);
    cursor.rewind(4);
    const std::string& name = line.tokens[0].text;
    std::string expression = isTable ? table(context, cursor, name) : polynomial(context, cursor, letter, name);
    return behaviouralLine(line, letter, keyword, std::move(expression));
}

}  // namespace udmhost::netlist
