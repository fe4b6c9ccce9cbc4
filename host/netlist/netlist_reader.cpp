#include "netlist/netlist_reader.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "netlist/constant_expression.h"
#include "netlist/netlist_context.h"
#include "netlist/spice_number.h"
#include "netlist/include_loader.h"
#include "netlist/param_order.h"
#include "netlist/subcircuit_expander.h"

namespace udmhost {

namespace netlist {

const Token& LineCursor::peek() const { return line_.tokens[next_]; }

const Token& LineCursor::take() { return line_.tokens[next_++]; }

bool LineCursor::takeIf(Token::Kind kind) {
    if (atEnd() || peek().kind != kind) return false;
    ++next_;
    return true;
}

SourceLocation LineCursor::here() const {
    if (!atEnd()) return peek().where;
    const Token& last = line_.tokens.back();
    SourceLocation where = last.where;
    where.column += static_cast<int>(last.text.size()) + (last.kind == Token::Kind::Braced ? 2 : 0);
    return where;
}

void LineCursor::expected(const std::string& what) const {
    if (atEnd()) throw NetlistError(here(), "expected " + what + " at the end of the line");
    throw NetlistError(here(), "expected " + what + ", found '" + peek().text + "'");
}

const Token& LineCursor::word(const std::string& what) {
    if (atEnd() || peek().kind != Token::Kind::Word) expected(what);
    return take();
}

int Context::node(const Token& token) {
    const std::string name = lowerCase(token.text);
    if (name == "0" || name == "gnd") return 0;
    const auto found = nodes.find(name);
    if (found != nodes.end()) return found->second;
    const int number = static_cast<int>(circuit.nodeNames.size());
    circuit.nodeNames.push_back(name);
    nodes.emplace(name, number);
    return number;
}

void Context::warn(const SourceLocation& where, const std::string& text) {
    circuit.notes.push_back(where.file + ":" + std::to_string(where.line) + ":" + std::to_string(where.column) +
                            ": warning: " + text);
}

void Context::warnOnce(const std::string& topic, const SourceLocation& where, const std::string& text) {
    if (warned.insert(topic).second) warn(where, text);
}

double Context::evaluate(const std::string& expression) const {
    return evaluateConstant(functions.empty() ? expression : expandFunctions(expression, functions), scopeParams());
}

double Context::value(LineCursor& cursor, const std::string& what) {
    if (cursor.atEnd()) cursor.expected(what);
    const Token& token = cursor.peek();
    if (token.kind == Token::Kind::Braced) {
        cursor.take();
        try {
            return evaluate(token.text);
        } catch (const std::runtime_error& error) {
            throw NetlistError(token.where, "cannot evaluate {" + token.text + "}: " + error.what());
        }
    }
    if (token.kind != Token::Kind::Word) cursor.expected(what);
    if (auto number = spiceNumber(token.text)) {
        cursor.take();
        return *number;
    }
    const auto param = scopeParams().find(lowerCase(token.text));
    if (param != scopeParams().end()) {
        cursor.take();
        return param->second;
    }
    cursor.expected(what + " (a number, a .param name or {expression})");
}

namespace {

// Rows over the span when a .tran line gives no TSTEP.
constexpr double kRowsWithoutTstep = 1000.0;

void readParam(const LogicalLine& line, std::vector<ParamDefinition>& definitions) {
    LineCursor cursor(line);
    cursor.take();
    if (cursor.atEnd()) cursor.expected("NAME=VALUE");
    while (!cursor.atEnd()) {
        const Token& name = cursor.word("a parameter name");
        if (!cursor.takeIf(Token::Kind::Equals)) cursor.expected("'=' after " + name.text);
        if (cursor.atEnd()) cursor.expected("a value for " + name.text);
        const Token& first = cursor.take();
        if (first.kind == Token::Kind::Equals) cursor.expected("a value for " + name.text);
        // Unbraced, the expression is the adjacent tokens as written.
        std::string text = first.text;
        if (first.kind != Token::Kind::Braced)
            while (!cursor.atEnd() && !cursor.peek().spaceBefore && cursor.peek().kind != Token::Kind::Equals)
                text += cursor.take().text;
        definitions.push_back({lowerCase(name.text), text, name.where});
    }
}

void readPlugin(Context& context, const LogicalLine& line) {
    LineCursor cursor(line);
    cursor.take();
    const Token& name = cursor.word("a plug-in name");
    if (cursor.atEnd()) cursor.expected("the path of the plug-in library");
    const SourceLocation pathWhere = cursor.here();
    std::string path = cursor.take().text;
    while (!cursor.atEnd() && !cursor.peek().spaceBefore) path += cursor.take().text;
    if (!cursor.atEnd()) cursor.expected("the end of the line");

    const std::string key = lowerCase(name.text);
    if (const auto earlier = context.pluginsByName.find(key); earlier != context.pluginsByName.end())
        throw NetlistError(name.where, "plug-in " + name.text + " is already defined at line " +
                                           std::to_string(earlier->second.where.line));
    // A path given on the command line is relative to the working folder.
    if (const auto replaced = context.pluginPaths->find(key); replaced != context.pluginPaths->end())
        path = std::filesystem::absolute(replaced->second).string();
    std::filesystem::path resolved(path);
    if (resolved.is_relative()) resolved = std::filesystem::path(context.folder) / resolved;
    PluginInfo info;
    info.where = name.where;
    try {
        info.catalogue = (*context.catalogues)(resolved.string());
    } catch (const std::runtime_error& error) {
        throw NetlistError(pathWhere, error.what());
    }
    context.circuit.plugins.push_back({name.text, resolved.string()});
    context.pluginsByName.emplace(key, std::move(info));
}

void readTran(Context& context, const LogicalLine& line) {
    LineCursor cursor(line);
    cursor.take();
    TranSpec& tran = context.circuit.tran;
    // Of several .tran lines the last is run, the one ngspice runs first.
    if (tran.given) {
        context.warn(context.tranWhere, "an earlier .tran line, replaced by the one at line " +
                                            std::to_string(line.where.line) + ": only the last .tran is run");
        tran = TranSpec{};
    }
    context.tranWhere = line.where;
    std::vector<double> values;
    std::vector<SourceLocation> places;
    while (!cursor.atEnd()) {
        if (cursor.peek().kind == Token::Kind::Word && lowerCase(cursor.peek().text) == "uic") {
            cursor.take();
            tran.uic = true;
            continue;
        }
        if (values.size() == 4) cursor.expected("UIC or the end of the line");
        places.push_back(cursor.here());
        values.push_back(context.value(cursor, values.empty() ? "TSTEP" : values.size() == 1 ? "TSTOP" : "a time"));
    }
    if (values.empty()) cursor.expected("TSTEP");
    // `.tran TSTOP` and a TSTEP of 0, as decks written for simulators that
    // choose the print step themselves have them.
    if (values.size() == 1) {
        values.insert(values.begin(), 0.0);
        places.insert(places.begin(), places.front());
    }
    tran.step = values[0];
    tran.stop = values[1];
    tran.start = values.size() > 2 ? values[2] : 0.0;
    tran.maxStep = values.size() > 3 ? values[3] : 0.0;
    if (!(tran.step >= 0.0)) throw NetlistError(places[0], "TSTEP must not be negative");
    if (!(tran.stop > 0.0)) throw NetlistError(places[1], "TSTOP must be positive");
    if (values.size() > 2 && !(tran.start >= 0.0 && tran.start < tran.stop))
        throw NetlistError(places[2], "TSTART must lie from 0 up to TSTOP");
    if (values.size() > 3 && !(tran.maxStep > 0.0)) throw NetlistError(places[3], "TMAX must be positive");
    if (tran.step == 0.0) {
        tran.step = (tran.stop - tran.start) / kRowsWithoutTstep;
        tran.stepGiven = false;
        context.warn(places[0], "no TSTEP: rows every " + numberText(tran.step) + " s ((TSTOP - TSTART) / " +
                                    std::to_string(static_cast<int>(kRowsWithoutTstep)) +
                                    "), which also bounds the step; a PULSE edge given as 0 takes " +
                                    numberText(tran.zeroEdge()) + " s");
    }
    tran.given = true;
}

// A deck whose only analysis is a `tran` command in its .control block (as
// ngspice's own examples often are) runs that one, with the `option` lines
// before it; the rest of the block stays skipped.
void runControlTran(Context& context, const std::vector<LogicalLine>& control) {
    const auto tran = std::find_if(control.begin(), control.end(),
                                   [](const LogicalLine& l) { return lowerCase(l.tokens.front().text) == "tran"; });
    if (tran == control.end()) return;
    for (auto line = control.begin(); line != tran; ++line) readOptions(context, *line);
    readTran(context, *tran);
    context.warn(tran->where, "no .tran line: the .control block's tran command is run as one");
}

void defaultPrints(Circuit& circuit, const std::set<int>& internal) {
    for (size_t node = 1; node < circuit.nodeNames.size(); ++node) {
        if (internal.contains(static_cast<int>(node))) continue;
        PrintItem item;
        item.kind = PrintItem::Kind::NodeVoltage;
        item.node1 = static_cast<int>(node);
        item.label = "V(" + circuit.nodeNames[node] + ")";
        circuit.prints.push_back(std::move(item));
    }
}

}  // namespace

}  // namespace netlist

std::vector<CatalogueItem> loadCatalogue(const std::string& path) {
    PluginLibrary library(path);
    const Registration registration = library.registerWith([](int, const char*) { return 0; },
                                                           [](int, const char*, double*, double* out) {
                                                               if (out != nullptr) out[0] = out[1] = 0.0;
                                                               return 0;
                                                           });
    requireUsableRegistration(registration, path);
    return library.catalogue();
}

Circuit readNetlist(std::string_view text, const std::string& file, const std::string& folder,
                    const CatalogueLoader& catalogues, const PluginPaths& pluginPaths) {
    using namespace netlist;
    const NetlistText lexed = lexNetlist(text, file);
    Context context;
    context.circuit.title = lexed.title;
    context.circuit.sourceFile = file;
    context.circuit.nodeNames = {"0"};
    context.folder = folder;
    context.catalogues = &catalogues;
    context.pluginPaths = &pluginPaths;

    // .param values first, so that every other line may use them; then the
    // other directives, so that elements may use models and plug-ins defined
    // further down; elements next, so that .print may name them.
    const std::vector<LogicalLine> lines = expandIncludes(lexed.lines, file, folder);
    context.circuit.inputFiles = {file};
    for (const LogicalLine& line : lines)
        if (std::find(context.circuit.inputFiles.begin(), context.circuit.inputFiles.end(), line.where.file) ==
            context.circuit.inputFiles.end())
            context.circuit.inputFiles.push_back(line.where.file);
    SubcircuitExpander subcircuits;
    std::vector<const LogicalLine*> directives, elements, prints;
    std::vector<ParamDefinition> params;
    const std::vector<const LogicalLine*> top = subcircuits.collect(context, lines);
    context.modelOwners = subcircuits.modelOwners();
    for (const LogicalLine* topLine : top) {
        const LogicalLine& line = *topLine;
        const Token& first = line.tokens.front();
        const std::string keyword = lowerCase(first.text);
        if (first.kind != Token::Kind::Word) throw NetlistError(first.where, "expected an element or a directive");
        if (keyword == ".end") break;
        if (keyword[0] != '.') elements.push_back(&line);
        else if (keyword == ".param") readParam(line, params);
        else if (keyword == ".func") {
            UserFunction f = readFunction(line);
            for (const UserFunction& earlier : context.functions)
                if (earlier.name == f.name && (earlier.body != f.body || earlier.parameters != f.parameters))
                    throw NetlistError(f.where, "function " + f.name + " is already defined at line " +
                                                    std::to_string(earlier.where.line) + " (functions of subcircuits "
                                                    "hold for the whole netlist)");
            context.functions.push_back(std::move(f));
        }
        else if (keyword == ".print" || keyword == ".plot" || keyword == ".meas" || keyword == ".measure" || keyword == ".ic" ||
                 keyword == ".nodeset")
            prints.push_back(&line);  // these name nodes and elements
        else directives.push_back(&line);
    }
    for (ParamDefinition& d : params) {
        if (context.functions.empty()) break;
        try {
            d.expression = expandFunctions(d.expression, context.functions);
        } catch (const std::runtime_error& error) {
            throw NetlistError(d.where, "cannot evaluate " + d.name + ": " + error.what());
        }
    }
    evaluateParams(params, context.circuit.params);
    for (const LogicalLine* line : directives) {
        const Token& first = line->tokens.front();
        const std::string keyword = lowerCase(first.text);
        if (keyword == ".plugin") readPlugin(context, *line);
        else if (keyword == ".tran") readTran(context, *line);
        else if (keyword == ".options" || keyword == ".option" || keyword == ".opt") readOptions(context, *line);
        else if (!readMoreDirective(context, *line, keyword)) {
            throw NetlistError(first.where, "unknown directive " + first.text +
                                                didYouMean(keyword, {".param", ".plugin", ".tran", ".options", ".print",
                                                                     ".model", ".control", ".save", ".probe", ".include",
                                                                     ".lib", ".subckt", ".meas", ".func", ".end"}));
        }
    }
    if (!context.unknownOptions.empty()) {
        std::string list;
        for (const std::string& name : context.unknownOptions) list += (list.empty() ? "" : ", ") + name;
        context.warn(context.firstUnknownOption, "options not used by udmhost, ignored: " + list);
    }
    if (!context.circuit.tran.given) runControlTran(context, lexed.control);
    if (!context.circuit.tran.given) {
        const SourceLocation end{file, lexed.lines.empty() ? 1 : lexed.lines.back().where.line, 1};
        throw NetlistError(end, "no .tran line: a transient analysis needs .tran TSTEP TSTOP");
    }
    std::vector<ScopedLine> expanded;
    for (const LogicalLine* line : elements) subcircuits.expand(context, *line, expanded);
    for (const ScopedLine& line : expanded) {
        context.currentScope = line.scope;
        readElement(context, *line.line);
    }
    context.currentScope = -1;
    resolveControls(context);
    resolveCouplings(context);
    resolveBehaviours(context);
    if (context.circuit.elements.empty())
        throw NetlistError({file, 1, 1}, "the netlist has no elements");
    for (const LogicalLine* line : prints) {
        const std::string keyword = lowerCase(line->tokens.front().text);
        if (keyword == ".print" || keyword == ".plot") readPrint(context, *line);
        else if (keyword == ".ic" || keyword == ".nodeset") readMoreDirective(context, *line, keyword);
        else readMeasurement(context, *line);
    }
    if (context.circuit.prints.empty()) defaultPrints(context.circuit, context.internalNodes);
    return std::move(context.circuit);
}

Circuit readNetlistFile(const std::string& path, const CatalogueLoader& catalogues, const PluginPaths& pluginPaths) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open netlist " + path);
    std::ostringstream text;
    text << in.rdbuf();
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return readNetlist(text.str(), path, folder.empty() ? "." : folder.string(), catalogues, pluginPaths);
}

}  // namespace udmhost
