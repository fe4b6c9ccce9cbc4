// State shared by the parts of the netlist reader while one netlist is read.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "netlist/circuit.h"
#include "netlist/netlist_error.h"
#include "netlist/netlist_lexer.h"
#include "netlist/netlist_reader.h"
#include "text/lower_case.h"
#include "text/name_hint.h"
#include "netlist/user_functions.h"

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

// A .model line: its type ("sw", "d") and its parameters by lower-case name.
struct ModelCard {
    std::string name;
    std::string type;
    std::map<std::string, double> values;
    std::map<std::string, SourceLocation> places;
    SourceLocation where;
};

// How a subcircuit instance renames what its lines name: an inner node
// becomes PATH.node unless it is a port, ground or global; an element Xn
// becomes X.PATH.Xn.
struct InstanceNames {
    std::string path;
    std::string definition;  // lower case: the subcircuit's, whose own .model cards its lines see first
    int parent = -1;         // the scope of the instance it sits in
    std::map<std::string, std::string> ports;  // lower-case inner name -> outer name
    std::set<std::string> globals;             // lower case
    std::string node(const std::string& inner) const {
        const std::string lower = lowerCase(inner);
        if (lower == "0" || lower == "gnd" || globals.contains(lower)) return inner;
        const auto port = ports.find(lower);
        return port != ports.end() ? port->second : path + "." + inner;
    }
    std::string element(const std::string& inner) const {
        return inner.empty() ? inner : inner.substr(0, 1) + "." + path + "." + inner;
    }
};

struct Context {
    Circuit circuit;
    std::string folder;
    const CatalogueLoader* catalogues = nullptr;
    const PluginPaths* pluginPaths = nullptr;
    std::map<std::string, int> nodes;              // lower-case name -> number
    std::map<std::string, int> elementsByName;     // lower-case name -> index
    std::map<std::string, PluginInfo> pluginsByName;  // lower-case name -> catalogue
    std::map<std::string, ModelCard> models;       // lower-case name (subcircuit/name#scope inside one) -> card
    // .model lines inside a .subckt (subcircuit/name): read for each instance
    // that uses them, in its scope, since they may use its parameters.
    std::map<std::string, const LogicalLine*> subcircuitModels;
    std::map<std::string, const LogicalLine*> modelLines;  // every card's first line, by the key above
    std::map<const LogicalLine*, std::string> modelOwners;  // .model line inside a .subckt -> its lower-case name
    std::set<std::string> warned;                  // topics warned about once
    std::set<int> internalNodes;                   // inside elements (behind a MOSFET's RD): not printed by default
    std::vector<UserFunction> functions;           // .func
    std::vector<std::pair<size_t, Token>> pendingControls;  // F, H: element, controlling source
    struct PendingCoupling {
        size_t element;
        Token first, second;  // the inductors' names as written
        SourceLocation valueWhere;
    };
    std::vector<PendingCoupling> pendingCouplings;  // K: resolved once every inductor is read
    struct PendingBehaviour {
        size_t element;
        std::string text;  // .func calls expanded
        std::vector<std::pair<size_t, SourceLocation>> places;  // offset in text -> where it was written
        std::map<std::string, double> params;
        const InstanceNames* instance = nullptr;  // inside a subcircuit: how its names are renamed
    };
    std::vector<PendingBehaviour> pendingBehaviours;  // B: compiled once every node and source is known
    std::vector<std::map<std::string, double>> scopes;  // parameters of subcircuit instances
    std::deque<InstanceNames> instanceNames;       // per scope: the instance's renaming
    int currentScope = -1;                         // -1: the netlist's .param values
    std::vector<std::string> unknownOptions;
    SourceLocation tranWhere;                      // of the .tran line in force
    SourceLocation firstUnknownOption;

    void warn(const SourceLocation& where, const std::string& text);
    // Warns the first time `topic` comes up only.
    void warnOnce(const std::string& topic, const SourceLocation& where, const std::string& text);

    int node(const Token& token);                  // adds unknown nodes
    // The parameters the line being read sees.
    const std::map<std::string, double>& scopeParams() const {
        return currentScope < 0 ? circuit.params : scopes[static_cast<size_t>(currentScope)];
    }
    // Evaluates an expression in the current scope, .func calls expanded.
    double evaluate(const std::string& expression) const;
    // A value: a SPICE number, a {constant expression} or a .param name.
    double value(LineCursor& cursor, const std::string& what);
};

void readElement(Context& context, const LogicalLine& line);
// Whether an E, G, F or H line is written as POLY(n) or TABLE.
bool writtenAsPolynomial(const LogicalLine& line);
// An E, G, F or H line written as POLY(n) or TABLE, as the B source it is.
std::optional<LogicalLine> polynomialSource(Context& context, const LogicalLine& line);
// Directives beyond .param/.plugin/.tran/.options/.print: false when unknown.
bool readMoreDirective(Context& context, const LogicalLine& line, const std::string& keyword);
// .options (.option, .opt), and the option lines of a .control block.
void readOptions(Context& context, const LogicalLine& line);
void readModel(Context& context, const LogicalLine& line);
// An S switch as an instance of the switch plug-in.
void readSwitch(Context& context, const LogicalLine& line, Element& element);
void readDiode(Context& context, const LogicalLine& line, Element& element);
void readMosfet(Context& context, const LogicalLine& line, Element& element);
// Q c b e [s] model [area] [AREA=] [M=] [OFF]: a Gummel-Poon transistor.
void readBipolar(Context& context, const LogicalLine& line, Element& element);
// A node inside the element `name` behind a series resistance, with the
// resistor to it; `outer` when the resistance is zero or not given.
int behindResistance(Context& context, const Token& name, const std::string& part, int outer, double resistance);
void readControlledSource(Context& context, const LogicalLine& line, Element& element);
// F and H name their controlling source anywhere in the netlist: resolved
// once every element is read.
void resolveControls(Context& context);
// K couples two inductors named anywhere in the netlist: resolved once
// every element is read.
void readCoupling(Context& context, const LogicalLine& line, Element& element);
void resolveCouplings(Context& context);
// B sources: `V=expr` or `I=expr`, compiled by resolveBehaviours once every
// element is read.
void readBehaviouralSource(Context& context, const LogicalLine& line, Element& element);
// Whether `word` after the two nodes of an E or G line makes it behavioural
// (`VALUE=`, E's `vol=`, G's `cur=`).
bool isBehaviouralControlKeyword(char letter, const std::string& word);
// `R n+ n- R=expr` whose expression reads time, v() or i(): a B source of
// the current v(n+,n-)/(expr); `valueAt` is the expression's first token.
void readBehaviouralResistor(Context& context, const LogicalLine& line, Element& element, size_t valueAt);
void resolveBehaviours(Context& context);
// The model `name` names, which must be of `type`.
const ModelCard& modelOf(Context& context, const Token& name, const std::string& type);
// An analysis udmhost skips, named after .print or .meas (lower case: "dc", "ac", ...).
bool isSkippedAnalysis(const std::string& name);
// The card `name` stands for where the line being read is: a subcircuit's
// own first (the instance's, then those it sits in), then the netlist's.
const ModelCard* findModel(Context& context, const std::string& name);
// A card's parameter by its lower-case name, or `fallback` where it is not given.
inline double modelValue(const ModelCard& card, const char* key, double fallback) {
    const auto found = card.values.find(key);
    return found == card.values.end() ? fallback : found->second;
}
// Index of the plug-in `key` ("vcswitch", "diode") that runs built-in
// element kinds: a .plugin line of that name, --plugin KEY=PATH, or the
// library beside udmhost. Loaded on first use.
int builtInPlugin(Context& context, const Token& at, const std::string& key, const std::string& purpose);
// Shortest plain text of a number that reads back exactly.
std::string numberText(double value);
// V and I source values: DC, AC (ignored) and a time function.
void readSourceValue(Context& context, LineCursor& cursor, Element& element);
void readPrint(Context& context, const LogicalLine& line);
// One V(node), V(a,b), I(Vname) or Yname:OUTPUT.
PrintItem readPrintItem(Context& context, LineCursor& cursor);
// .meas tran lines, read once the elements are known.
void readMeasurement(Context& context, const LogicalLine& line);
Waveform readWaveform(Context& context, LineCursor& cursor, const Token& name);
// A located warning when `source`'s waveform is faster than the time steps
// of the .tran line can follow.
void warnIfTooFast(Context& context, const std::string& source, const Waveform& waveform, const SourceLocation& where);

}  // namespace udmhost::netlist
