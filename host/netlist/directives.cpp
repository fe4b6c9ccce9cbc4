// Directives written for other simulators' analyses and scripts: read,
// and skipped with one warning each where they change nothing here.
#include "netlist_context.h"

namespace udmhost::netlist {

bool readMoreDirective(Context& context, const LogicalLine& line, const std::string& keyword) {
    const SourceLocation& where = line.where;
    if (keyword == ".model") {
        readModel(context, line);
    } else if (keyword == ".control") {
        context.warnOnce(keyword, where, ".control ... .endc skipped: udmhost runs the netlist's .tran and writes "
                                         "what .print names (-o, --raw, --plot choose the files)");
    } else if (keyword == ".save" || keyword == ".probe") {
        context.warnOnce(keyword, where, keyword + " ignored: udmhost writes what .print names, else every node");
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
