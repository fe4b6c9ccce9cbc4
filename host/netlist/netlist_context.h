// State shared by the parts of the netlist reader while one netlist is read.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "netlist/circuit.h"
#include "netlist/netlist_error.h"
#include "netlist/netlist_lexer.h"
#include "netlist/netlist_reader.h"
#include "text/lower_case.h"
#include "text/name_hint.h"

namespace udmhost::netlist {

// Cursor over the tokens of one logical line.
class LineCursor {
public:
    explicit LineCursor(const LogicalLine& line) : line_(line) {}

    bool atEnd() const { return next_ >= line_.tokens.size(); }
    const Token& peek() const;            // requires !atEnd()
    const Token& take();                  // requires !atEnd()
    bool takeIf(Token::Kind kind);        // takes the next token when it is of `kind`
    size_t position() const { return next_; }
    void rewind(size_t position) { next_ = position; }
    // Where the next token is, or just behind the last one.
    SourceLocation here() const;
    // Throws "expected WHAT" at the next token (or the end of the line).
    [[noreturn]] void expected(const std::string& what) const;
    const Token& word(const std::string& what);  // the next token, which must be a word

private:
    const LogicalLine& line_;
    size_t next_ = 0;
};

struct PluginInfo {
    std::vector<CatalogueItem> catalogue;
    SourceLocation where;
};

struct Context {
    Circuit circuit;
    std::string folder;
    const CatalogueLoader* catalogues = nullptr;
    const PluginPaths* pluginPaths = nullptr;
    std::map<std::string, int> nodes;              // lower-case name -> number
    std::map<std::string, int> elementsByName;     // lower-case name -> index
    std::map<std::string, PluginInfo> pluginsByName;  // lower-case name -> catalogue

    int node(const Token& token);                  // adds unknown nodes
    // A value: a SPICE number, a {constant expression} or a .param name.
    double value(LineCursor& cursor, const std::string& what);
};

void readElement(Context& context, const LogicalLine& line);
void readPrint(Context& context, const LogicalLine& line);
Waveform readWaveform(Context& context, LineCursor& cursor, const Token& name);

}  // namespace udmhost::netlist
