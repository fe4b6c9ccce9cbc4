// .subckt definitions and X instances: every instance becomes the lines of
// its definition with names made unique (element R1 of instance X1 is
// R.X1.R1, its inner node n is X1.n), each line read in the scope of its
// instance's parameters.
#pragma once

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "netlist/netlist_context.h"

namespace udmhost::netlist {

struct SubcircuitDefinition {
    std::string name;
    std::vector<std::string> ports;                               // lower case
    std::vector<std::pair<std::string, std::string>> defaults;    // name, expression
    std::vector<const LogicalLine*> body;
    std::vector<const LogicalLine*> hoisted;  // its .model and .func lines, kept among the rest
    SourceLocation where;
};

// An element line and the parameter scope to read it in (-1: the netlist's).
struct ScopedLine {
    const LogicalLine* line;
    int scope;
};

class SubcircuitExpander {
public:
    // Takes the definitions out of `lines` (nested ones too) and returns
    // the rest; .model lines inside definitions are kept (see modelOwners).
    // A second definition of a name is ignored with a warning, as in SPICE.
    std::vector<const LogicalLine*> collect(Context& context, const std::vector<LogicalLine>& lines);
    // The .model lines collect found inside definitions, with the definition's lower-case name.
    const std::map<const LogicalLine*, std::string>& modelOwners() const { return modelOwners_; }

    // `line` itself, or for an X line the lines of its instance, recursively.
    void expand(Context& context, const LogicalLine& line, std::vector<ScopedLine>& out);

private:
    std::map<std::string, SubcircuitDefinition> definitions_;  // lower-case name
    std::deque<LogicalLine> made_;                             // the renamed lines
    std::set<std::string> globals_;                            // .global nodes, never renamed
    std::vector<std::string> expanding_;                       // the instances' definitions, outermost first
    std::map<const LogicalLine*, std::string> modelOwners_;

    void instantiate(Context& context, const LogicalLine& line, int parentScope, const std::string& parentPath,
                     int depth, std::vector<ScopedLine>& out);
};

}  // namespace udmhost::netlist
