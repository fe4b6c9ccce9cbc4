// Directives written for other simulators' analyses and scripts: read,
// and skipped with one warning each where they change nothing here.
#include "netlist/netlist_context.h"

namespace udmhost::netlist {

namespace {

// .ic and .nodeset: V(node)=value pairs.
void readNodeValues(Context& context, const LogicalLine& line, std::vector<std::pair<int, double>>& into) {
    LineCursor cursor(line);
    cursor.take();
    if (cursor.atEnd()) cursor.expected("V(node)=value");
    while (!cursor.atEnd()) {
        const Token& v = cursor.word("V(node)=value");
        if (lowerCase(v.text) != "v") throw NetlistError(v.where, "expected V(node)=value, found '" + v.text + "'");
        if (!cursor.takeIf(Token::Kind::Open)) cursor.expected("'(' after V");
        const Token& node = cursor.word("a node");
        const std::string name = lowerCase(node.text);
        if (name == "0" || name == "gnd") throw NetlistError(node.where, "ground is always at 0 V");
        const auto found = context.nodes.find(name);
        if (found == context.nodes.end())
            throw NetlistError(node.where, "unknown node " + node.text + didYouMean(name, context.circuit.nodeNames));
        const int number = found->second;
        if (!cursor.takeIf(Token::Kind::Close)) cursor.expected("')'");
        if (!cursor.takeIf(Token::Kind::Equals)) cursor.expected("'=' after V(" + node.text + ")");
        into.emplace_back(number, context.value(cursor, "a voltage"));
    }
}

}  // namespace

bool readMoreDirective(Context& context, const LogicalLine& line, const std::string& keyword) {
    const SourceLocation& where = line.where;
    if (keyword == ".model") {
        readModel(context, line);
    } else if (keyword == ".op") {
        context.circuit.printOperatingPoint = true;
    } else if (keyword == ".ic") {
        readNodeValues(context, line, context.circuit.initialVoltages);
    } else if (keyword == ".nodeset") {
        readNodeValues(context, line, context.circuit.nodesets);
    } else if (keyword == ".control") {
        context.warnOnce(keyword, where, ".control ... .endc skipped: udmhost runs the netlist's .tran and writes "
                                         "what .print names (-o, --raw, --plot choose the files)");
    } else if (keyword == ".csparam") {
        context.warnOnce(keyword, where, ".csparam ignored: it hands parameters to the .control block, which udmhost skips");
    } else if (keyword == ".save" || keyword == ".probe") {
        context.warnOnce(keyword, where, keyword + " ignored: udmhost writes what .print names, else every node");
    } else if (keyword == ".ac" || keyword == ".dc" || keyword == ".noise" || keyword == ".tf" ||
               keyword == ".four" || keyword == ".disto" || keyword == ".sens" || keyword == ".pz" || keyword == ".pss" ||
               keyword == ".sp") {
        context.warnOnce(keyword, where, keyword + " ignored: udmhost runs the transient analysis only");
    } else if (keyword == ".width" || keyword == ".global") {
        // .global: handled where subcircuits are expanded; .width: of a
        // printout udmhost does not make.
    } else if (keyword == ".temp") {
        context.warnOnce(keyword, where, ".temp ignored: no element here depends on temperature");
    } else if (keyword == ".title") {
        std::string title;
        for (size_t i = 1; i < line.tokens.size(); ++i) title += (i > 1 ? " " : "") + line.tokens[i].text;
        context.circuit.title = title;
    } else {
        return false;
    }
    return true;
}

}  // namespace udmhost::netlist
