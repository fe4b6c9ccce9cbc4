// .options: the tolerances, limits and choices udmhost uses, with the names
// and meanings SPICE users know; other simulators' options are accepted and
// listed in one warning.
#include <algorithm>

#include "netlist/netlist_context.h"

namespace udmhost::netlist {

void readOptions(Context& context, const LogicalLine& line) {
    static const std::vector<std::string> names = {"reltol",   "abstol", "vntol",  "chgtol", "trtol",
                                                   "eventtol", "itl1",   "itl2",   "itl4",   "method",
                                                   "solver",   "points", "bypass"};
    LineCursor cursor(line);
    cursor.take();
    Options& options = context.circuit.options;
    while (!cursor.atEnd()) {
        const Token& name = cursor.word("an option name");
        const std::string key = lowerCase(name.text);
        if (std::find(names.begin(), names.end(), key) == names.end()) {
            // Options of other simulators: accepted, listed in one warning.
            if (context.unknownOptions.empty()) context.firstUnknownOption = name.where;
            const std::string hint = closestName(key, names);
            context.unknownOptions.push_back(name.text + (hint.empty() ? "" : " (did you mean " + hint + "?)"));
            if (cursor.takeIf(Token::Kind::Equals) && !cursor.atEnd()) cursor.take();
            continue;
        }
        if (!cursor.takeIf(Token::Kind::Equals)) cursor.expected("'=' after " + name.text);
        const SourceLocation where = cursor.here();
        if (key == "method" || key == "solver" || key == "points") {
            const std::string choice = lowerCase(cursor.word("a name for " + key).text);
            if (key == "method" && (choice == "trap" || choice == "trapezoidal"))
                options.method = Options::Method::Trapezoidal;
            else if (key == "method" && (choice == "euler" || choice == "be"))
                options.method = Options::Method::BackwardEuler;
            else if (key == "method" && choice == "gear")
                options.method = Options::Method::Gear;
            else if (key == "solver" && (choice == "klu" || choice == "eigen"))
                options.solver = choice;
            else if (key == "points" && (choice == "grid" || choice == "all"))
                options.printAllPoints = choice == "all";
            else
                throw NetlistError(where, key == "method"   ? "method must be trap, euler or gear"
                                          : key == "solver" ? "solver must be klu or eigen"
                                                            : "points must be grid or all");
            continue;
        }
        const double value = context.value(cursor, "a value for " + key);
        if (key == "bypass") {
            if (value != 0.0 && value != 1.0) throw NetlistError(where, "bypass must be 0 or 1");
            options.bypass = value == 1.0;
            continue;
        }
        if (!(value > 0.0)) throw NetlistError(where, key + " must be positive");
        if (key == "reltol") options.reltol = value;
        else if (key == "abstol") options.abstol = value;
        else if (key == "vntol") options.vntol = value;
        else if (key == "chgtol") options.chgtol = value;
        else if (key == "trtol") options.trtol = value;
        else if (key == "eventtol") options.eventTolerance = value;
        else {
            if (value > 10000.0 || value != static_cast<double>(static_cast<int>(value)))
                throw NetlistError(where, key + " must be a whole number up to 10000");
            const int iterations = static_cast<int>(value);
            if (key == "itl1") options.operatingPointIterations = iterations;
            else if (key == "itl2") options.steppingIterations = iterations;
            else options.maxNewtonIterations = iterations;
        }
    }
}

}  // namespace udmhost::netlist
