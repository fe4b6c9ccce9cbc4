// Splits netlist text into logical lines (continuations joined, comments
// dropped) and each line into tokens that remember their column.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "netlist/circuit.h"

namespace udmhost {

struct Token {
    enum class Kind { Word, Open, Close, Equals, Braced };
    Kind kind = Kind::Word;
    std::string text;        // Braced: the expression inside the braces
    SourceLocation where;
    bool spaceBefore = true; // false when glued to the previous token
};

struct LogicalLine {
    std::vector<Token> tokens;  // never empty
    SourceLocation where;       // of the first token
};

struct NetlistText {
    std::string title;
    std::vector<LogicalLine> lines;
    // The `tran` and `option` commands of .control blocks, in order: the
    // analysis of a deck that names it there only.
    std::vector<LogicalLine> control;
};

// The first physical line is the title. Lines starting with '*' are
// comments, so is everything after ';' or '$ '; a line starting with '+'
// continues the previous one, and so does a line starting with ')'. Commas separate like blanks outside braces.
// Throws NetlistError for an unclosed brace or a continuation with nothing
// to continue.
// An included file has no title line: `withTitle` false reads its first
// line as netlist.
NetlistText lexNetlist(std::string_view text, const std::string& file, bool withTitle = true);

}  // namespace udmhost
