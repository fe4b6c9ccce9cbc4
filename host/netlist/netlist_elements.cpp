// Element lines: R, C, L, V, I and plug-in instances (Y).
#include <algorithm>
#include <cctype>
#include <optional>
#include <regex>

#include "netlist/netlist_context.h"
#include "netlist/spice_number.h"

namespace udmhost::netlist {

namespace {

const char* kindName(Element::Kind kind) {
    switch (kind) {
        case Element::Kind::Resistor: return "a resistor";
        case Element::Kind::Capacitor: return "a capacitor";
        case Element::Kind::Inductor: return "an inductor";
        case Element::Kind::VoltageSource: return "a voltage source";
        case Element::Kind::CurrentSource: return "a current source";
        case Element::Kind::Plugin: return "a plug-in instance";
        case Element::Kind::VoltageControlledVoltage:
        case Element::Kind::CurrentControlledCurrent:
        case Element::Kind::VoltageControlledCurrent:
        case Element::Kind::CurrentControlledVoltage: return "a controlled source";
        case Element::Kind::BehaviouralVoltage:
        case Element::Kind::BehaviouralCurrent: return "a behavioural source";
        case Element::Kind::MutualInductance: return "a coupling of inductors";
        case Element::Kind::Mosfet: return "a MOSFET";
        case Element::Kind::Bipolar: return "a bipolar transistor";
    }
    return "an element";
}

void twoNodes(Context& context, LineCursor& cursor, Element& element) {
    element.nodes.push_back(context.node(cursor.word("the first node of " + element.name)));
    element.nodes.push_back(context.node(cursor.word("the second node of " + element.name)));
}

// `R=value` (`resistance=`), `C=` (`capacitance=`), `L=` (`inductance=`)
// after the nodes, as ngspice reads them: the position of the value, else 0.
size_t namedValueAt(const LogicalLine& line, Element::Kind kind) {
    if (line.tokens.size() < 6 || line.tokens[3].kind != Token::Kind::Word || line.tokens[4].kind != Token::Kind::Equals)
        return 0;
    const std::string key = lowerCase(line.tokens[3].text);
    const bool named = kind == Element::Kind::Resistor    ? key == "r" || key == "resistance"
                       : kind == Element::Kind::Capacitor ? key == "c" || key == "capacitance"
                                                          : key == "l" || key == "inductance";
    return named ? 5 : 0;
}

// Whether the expression from `from` on reads `time`, v(...) or i(...).
bool readsCircuitState(const LogicalLine& line, size_t from) {
    std::string text;
    for (size_t k = from; k < line.tokens.size(); ++k) text += " " + lowerCase(line.tokens[k].text);
    static const std::regex state(R"((^|[^a-z0-9_])(time([^a-z0-9_]|$)|[vi]\s*\())");
    return std::regex_search(text, state);
}

// The temperature coefficients of a resistor change nothing at the nominal
// temperature, where udmhost runs every circuit.
void warnTemperatureCoefficients(Context& context, const SourceLocation& where, const std::string& what) {
    context.warnOnce("resistor tc", where, what + ": temperature coefficients not used (every circuit runs at "
                                               "its nominal temperature)");
}

// `.model NAME R (...)`, or `RES` as some makers write it.
bool resistorCard(const ModelCard& card) { return card.type == "r" || card.type == "res"; }

// `R n+ n- value MODEL` with `.model MODEL R (TC1=...)`; makers' subcircuits
// also write `R n+ n- MODEL value`.
void resistorModel(Context& context, LineCursor& cursor, Element& element) {
    if (cursor.atEnd() || cursor.peek().kind != Token::Kind::Word) return;
    const size_t at = cursor.position();
    const Token& name = cursor.take();
    if (cursor.takeIf(Token::Kind::Equals) || lowerCase(name.text) == "m" || spiceNumber(name.text)) {
        cursor.rewind(at);
        return;
    }
    const ModelCard* card = findModel(context, name.text);
    if (card == nullptr || !resistorCard(*card))
        throw NetlistError(name.where, "unknown resistor model " + name.text + " for " + element.name +
                                           " (a .model NAME R card)");
    // A temperature of the resistor's own (T_ABS, as makers' noiseless
    // resistors set 0 K) changes nothing without coefficients.
    const bool coefficients = modelValue(*card, "tc1", 0.0) != 0.0 || modelValue(*card, "tc2", 0.0) != 0.0 ||
                              modelValue(*card, "tce", 0.0) != 0.0;
    for (const auto& [key, value] : card->values)
        if (key != "tc1" && key != "tc2" && key != "tce" && key != "tnom" && (key != "t_abs" || coefficients))
            throw NetlistError(card->places.at(key), "resistor model " + card->name + ": " + key +
                                                                " is not supported (only TC1, TC2, TCE" +
                                                                (key == "t_abs" ? ", and T_ABS without them)" : ")"));
    if (coefficients) warnTemperatureCoefficients(context, card->where, "model " + card->name);
}

// `TC1=`, `TC2=` on a resistor line, or both as `TC=a[,b]` or `TC=a b`:
// taken and warned about.
bool temperatureCoefficient(Context& context, LineCursor& cursor, Element& element) {
    const size_t at = cursor.position();
    const Token& key = cursor.take();
    const std::string lower = lowerCase(key.text);
    if ((lower != "tc1" && lower != "tc2" && lower != "tc") || !cursor.takeIf(Token::Kind::Equals)) {
        cursor.rewind(at);
        return false;
    }
    context.value(cursor, "a value for " + key.text);
    if (lower == "tc" && !cursor.atEnd() && cursor.peek().kind == Token::Kind::Word &&
        spiceNumber(cursor.peek().text))
        context.value(cursor, "the second coefficient of TC");
    warnTemperatureCoefficients(context, key.where, element.name);
    return true;
}

void passive(Context& context, LineCursor& cursor, Element& element, size_t namedAt) {
    twoNodes(context, cursor, element);
    if (namedAt) cursor.rewind(namedAt);
    bool modelFirst = false;
    if (element.kind == Element::Kind::Resistor && !namedAt && !cursor.atEnd() &&
        cursor.peek().kind == Token::Kind::Word && !spiceNumber(cursor.peek().text)) {
        const ModelCard* card = findModel(context, cursor.peek().text);
        modelFirst = card != nullptr && resistorCard(*card);
        if (modelFirst) resistorModel(context, cursor, element);
    }
    const SourceLocation where = cursor.here();
    element.value = context.value(cursor, "the value of " + element.name);
    if (element.kind == Element::Kind::Resistor && element.value == 0.0)
        throw NetlistError(where, "a resistance of zero; use a voltage source of 0 V for a short");
    if (element.kind != Element::Kind::Resistor && element.value < 0.0)
        throw NetlistError(where, "a negative " + std::string(element.kind == Element::Kind::Capacitor ? "capacitance" : "inductance"));
    if (element.kind == Element::Kind::Resistor && !modelFirst) resistorModel(context, cursor, element);
    // IC= (C and L) and the multiplier m= (parallel copies).
    while (!cursor.atEnd()) {
        const bool storage = element.kind != Element::Kind::Resistor;
        if (!storage && temperatureCoefficient(context, cursor, element)) continue;
        const Token& key = cursor.word(storage ? "IC=value or m=value" : "m=value");
        const std::string lower = lowerCase(key.text);
        if (lower != "m" && (lower != "ic" || !storage))
            throw NetlistError(key.where, "expected " + std::string(storage ? "IC=value or " : "") + "m=value, found '" +
                                              key.text + "'");
        if (!cursor.takeIf(Token::Kind::Equals)) cursor.expected("'=' after " + key.text);
        const SourceLocation at = cursor.here();
        const double given = context.value(cursor, "a value for " + key.text);
        if (lower == "ic") {
            element.initialCondition = given;
            element.hasInitialCondition = true;
            continue;
        }
        if (!(given > 0.0)) throw NetlistError(at, "m must be positive");
        element.value = element.kind == Element::Kind::Capacitor ? element.value * given : element.value / given;
    }
}

void source(Context& context, LineCursor& cursor, Element& element) {
    twoNodes(context, cursor, element);
    readSourceValue(context, cursor, element);
}

// The plug-in whose catalogue the instance uses: the last word before the
// first NAME=VALUE pair; the words before it are the nodes.
void pluginInstance(Context& context, const LogicalLine& line, Element& element) {
    size_t firstParam = line.tokens.size();
    for (size_t i = 1; i + 1 < line.tokens.size(); ++i)
        if (line.tokens[i + 1].kind == Token::Kind::Equals) {
            firstParam = i;
            break;
        }
    if (firstParam < 3) {
        LineCursor at(line);
        at.rewind(firstParam < line.tokens.size() ? firstParam : line.tokens.size());
        at.expected("nodes and a plug-in name before the parameters");
    }
    LineCursor cursor(line);
    cursor.rewind(firstParam - 1);
    const Token& pluginName = cursor.word("a plug-in name");
    const auto plugin = context.pluginsByName.find(lowerCase(pluginName.text));
    if (plugin == context.pluginsByName.end())
        throw NetlistError(pluginName.where, "unknown plug-in " + pluginName.text + " (no .plugin line defines it)");
    const std::vector<CatalogueItem>& catalogue = plugin->second.catalogue;
    element.plugin = static_cast<int>(std::distance(
        context.circuit.plugins.begin(),
        std::find_if(context.circuit.plugins.begin(), context.circuit.plugins.end(),
                     [&](const PluginRef& ref) { return lowerCase(ref.name) == plugin->first; })));

    const auto terminals = static_cast<size_t>(
        std::count_if(catalogue.begin(), catalogue.end(), [](const CatalogueItem& c) { return c.kind == UDM_KIND_TERMINAL; }));
    const size_t given = firstParam - 2;
    if (given != terminals)
        throw NetlistError(line.tokens[1].where, "plug-in " + pluginName.text + " has " + std::to_string(terminals) +
                                                     " terminals, " + std::to_string(given) + " given");
    for (size_t i = 1; i < firstParam - 1; ++i) {
        if (line.tokens[i].kind != Token::Kind::Word) {
            LineCursor at(line);
            at.rewind(i);
            at.expected("a node");
        }
        element.nodes.push_back(context.node(line.tokens[i]));
    }

    std::vector<std::string> names;
    for (const CatalogueItem& item : catalogue)
        if (item.kind == UDM_KIND_PARAMETER) names.push_back(item.name);
    std::vector<std::string> texts(names.size());
    std::vector<bool> given_(names.size(), false);
    cursor.rewind(firstParam);
    while (!cursor.atEnd()) {
        const Token& name = cursor.word("PARAMETER=value");
        const auto match = std::find_if(names.begin(), names.end(),
                                        [&](const std::string& n) { return lowerCase(n) == lowerCase(name.text); });
        if (match == names.end()) {
            throw NetlistError(name.where, "unknown parameter " + name.text + didYouMean(name.text, names));
        }
        const auto index = static_cast<size_t>(match - names.begin());
        if (given_[index]) throw NetlistError(name.where, "parameter " + *match + " is given twice");
        if (!cursor.takeIf(Token::Kind::Equals)) cursor.expected("'=' after " + name.text);
        if (cursor.atEnd()) cursor.expected("a value for " + *match);
        const Token& first = cursor.take();
        std::string text = first.text;
        if (first.kind != Token::Kind::Braced)
            while (!cursor.atEnd() && !cursor.peek().spaceBefore) text += cursor.take().text;
        if (text.find(',') != std::string::npos)
            throw NetlistError(first.where, "the value of " + *match +
                                                " contains a comma, which cannot be passed to the plug-in");
        if (text.empty()) throw NetlistError(first.where, "an empty value for " + *match);
        texts[index] = text;
        given_[index] = true;
    }
    for (size_t i = 0; i < names.size(); ++i) {
        if (!given_[i]) {
            const auto item = std::find_if(catalogue.begin(), catalogue.end(),
                                           [&](const CatalogueItem& c) { return c.name == names[i] && c.kind == UDM_KIND_PARAMETER; });
            texts[i] = item->defaultText;
        }
        if (i > 0) element.definitionText += ',';
        element.definitionText += texts[i];
    }
}

// `E n+ n- VALUE={expr}` (or `vol=`), `G n+ n- VALUE={expr}` (or `cur=`),
// as ngspice reads them: the B source `V=expr`, `I=expr` on the same nodes.
std::optional<LogicalLine> behaviouralControlledSource(const LogicalLine& line) {
    if (line.tokens.size() < 5 || line.tokens[3].kind != Token::Kind::Word) return std::nullopt;
    const char letter = lowerCase(line.tokens[0].text)[0];
    if (!isBehaviouralControlKeyword(letter, line.tokens[3].text)) return std::nullopt;
    LogicalLine b;
    b.where = line.where;
    b.tokens.assign(line.tokens.begin(), line.tokens.begin() + 3);
    Token which = line.tokens[3];
    which.text = letter == 'e' ? "V" : "I";
    b.tokens.push_back(which);
    Token equals = which;
    equals.kind = Token::Kind::Equals;
    equals.text = "=";
    b.tokens.push_back(equals);
    const size_t from = line.tokens[4].kind == Token::Kind::Equals ? 5 : 4;
    b.tokens.insert(b.tokens.end(), line.tokens.begin() + static_cast<std::ptrdiff_t>(from), line.tokens.end());
    return b;
}

}  // namespace

bool isBehaviouralControlKeyword(char letter, const std::string& word) {
    const std::string w = lowerCase(word);
    return (letter == 'e' || letter == 'g') && (w == "value" || (letter == 'e' && w == "vol") || (letter == 'g' && w == "cur"));
}

void readElement(Context& context, const LogicalLine& line) {
    LineCursor cursor(line);
    const Token& name = cursor.take();
    Element element;
    element.name = name.text;
    element.where = name.where;
    switch (lowerCase(name.text)[0]) {
        case 'r': element.kind = Element::Kind::Resistor; break;
        case 'c': element.kind = Element::Kind::Capacitor; break;
        case 'l': element.kind = Element::Kind::Inductor; break;
        case 'v': element.kind = Element::Kind::VoltageSource; break;
        case 'i': element.kind = Element::Kind::CurrentSource; break;
        case 'y': element.kind = Element::Kind::Plugin; break;
        case 's': element.kind = Element::Kind::Plugin; break;
        case 'd': element.kind = Element::Kind::Plugin; break;
        case 'e':
        case 'f':
        case 'g':
        case 'h': element.kind = Element::Kind::VoltageControlledVoltage; break;
        case 'w': element.kind = Element::Kind::Plugin; break;
        case 'b': element.kind = Element::Kind::BehaviouralVoltage; break;
        case 'k': element.kind = Element::Kind::MutualInductance; break;
        case 'm': element.kind = Element::Kind::Mosfet; break;
        case 'q': element.kind = Element::Kind::Bipolar; break;
        default: {
            // Kinds SPICE has and udmhost does not: said by name.
            const char first = static_cast<char>(std::tolower(static_cast<unsigned char>(name.text[0])));
            const std::string kind = first == 'j'   ? "JFETs are not supported; "
                                     : first == 'a' ? "XSPICE code models are not supported; "
                                     : first == 'z' ? "MESFETs are not supported; "
                                     : first == 't' || first == 'o' || first == 'u'
                                         ? "transmission lines are not supported; "
                                         : "";
            throw NetlistError(name.where, "unknown element " + name.text + ": " + kind +
                                               "expected R, C, L, K, V, I, B, D, E, F, G, H, M, Q, S, W, X or Y "
                                               "(plug-in instance)");
        }
    }
    const std::string key = lowerCase(name.text);
    if (const auto earlier = context.elementsByName.find(key); earlier != context.elementsByName.end())
        throw NetlistError(name.where, "element " + name.text + " is already defined at line " +
                                           std::to_string(context.circuit.elements[static_cast<size_t>(earlier->second)].where.line));
    switch (element.kind) {
        case Element::Kind::Resistor:
        case Element::Kind::Capacitor:
        case Element::Kind::Inductor: {
            const size_t named = namedValueAt(line, element.kind);
            if (named && readsCircuitState(line, named)) {
                if (element.kind != Element::Kind::Resistor)
                    throw NetlistError(line.tokens[named].where,
                                       std::string(element.kind == Element::Kind::Capacitor ? "a capacitance" : "an inductance") +
                                           " that depends on time, node voltages or currents is not supported "
                                           "(a resistance is)");
                readBehaviouralResistor(context, line, element, named);
            } else {
                passive(context, cursor, element, named);
            }
            break;
        }
        case Element::Kind::VoltageSource:
        case Element::Kind::CurrentSource: source(context, cursor, element); break;
        case Element::Kind::VoltageControlledVoltage:
        case Element::Kind::CurrentControlledCurrent:
        case Element::Kind::VoltageControlledCurrent:
        case Element::Kind::CurrentControlledVoltage:
            if (const auto poly = polynomialSource(context, line)) readBehaviouralSource(context, *poly, element);
            else if (const auto behavioural = behaviouralControlledSource(line)) readBehaviouralSource(context, *behavioural, element);
            else readControlledSource(context, line, element);
            break;
        case Element::Kind::BehaviouralVoltage:
        case Element::Kind::BehaviouralCurrent: readBehaviouralSource(context, line, element); break;
        case Element::Kind::MutualInductance: readCoupling(context, line, element); break;
        case Element::Kind::Mosfet: readMosfet(context, line, element); break;
        case Element::Kind::Bipolar: readBipolar(context, line, element); break;
        case Element::Kind::Plugin:
            if (key[0] == 's' || key[0] == 'w') readSwitch(context, line, element);
            else if (key[0] == 'd') readDiode(context, line, element);
            else pluginInstance(context, line, element);
            break;
    }
    context.elementsByName.emplace(key, static_cast<int>(context.circuit.elements.size()));
    context.circuit.elements.push_back(std::move(element));
}

PrintItem readPrintItem(Context& context, LineCursor& cursor) {
    auto knownNode = [&](const Token& token) {
        const std::string node = lowerCase(token.text);
        if (node == "0" || node == "gnd") return 0;
        const auto found = context.nodes.find(node);
        if (found == context.nodes.end()) {
            throw NetlistError(token.where, "unknown node " + token.text + didYouMean(node, context.circuit.nodeNames));
        }
        return found->second;
    };
    auto element = [&](const Token& token) -> int {
        const auto found = context.elementsByName.find(lowerCase(token.text));
        if (found == context.elementsByName.end()) {
            std::vector<std::string> names;
            for (const Element& e : context.circuit.elements) names.push_back(e.name);
            throw NetlistError(token.where, "unknown element " + token.text + didYouMean(token.text, names));
        }
        return found->second;
    };
    {
        const Token& head = cursor.word("V(node), I(Vname) or Yname:OUTPUT");
        const std::string lower = lowerCase(head.text);
        PrintItem item;
        if ((lower == "v" || lower == "i") && !cursor.atEnd() && cursor.peek().kind == Token::Kind::Open) {
            cursor.take();
            const Token& first = cursor.word(lower == "v" ? "a node" : "a voltage source");
            if (lower == "v") {
                item.node1 = knownNode(first);
                item.label = "V(" + context.circuit.nodeNames[static_cast<size_t>(item.node1)];
                item.kind = PrintItem::Kind::NodeVoltage;
                if (!cursor.atEnd() && cursor.peek().kind == Token::Kind::Word) {
                    item.node2 = knownNode(cursor.take());
                    item.kind = PrintItem::Kind::NodeDifference;
                    item.label += "," + context.circuit.nodeNames[static_cast<size_t>(item.node2)];
                }
                item.label += ")";
            } else {
                item.element = element(first);
                const Element& source = context.circuit.elements[static_cast<size_t>(item.element)];
                if (source.kind != Element::Kind::VoltageSource && source.kind != Element::Kind::Inductor)
                    throw NetlistError(first.where, "I() needs a voltage source or an inductor, " + source.name + " is " +
                                                        kindName(source.kind));
                item.kind = PrintItem::Kind::SourceCurrent;
                item.label = "I(" + source.name + ")";
            }
            if (!cursor.takeIf(Token::Kind::Close)) cursor.expected("')'");
        } else {
            const size_t colon = head.text.find(':');
            if (colon == std::string::npos)
                throw NetlistError(head.where, "expected V(node), I(Vname) or Yname:OUTPUT, found '" + head.text + "'");
            Token elementToken = head;
            elementToken.text = head.text.substr(0, colon);
            item.element = element(elementToken);
            const Element& instance = context.circuit.elements[static_cast<size_t>(item.element)];
            if (instance.kind != Element::Kind::Plugin)
                throw NetlistError(head.where, instance.name + " is " + kindName(instance.kind) + ", not a plug-in instance");
            const std::string output = head.text.substr(colon + 1);
            const PluginRef& ref = context.circuit.plugins[static_cast<size_t>(instance.plugin)];
            const auto& catalogue = context.pluginsByName.at(lowerCase(ref.name)).catalogue;
            std::vector<std::string> outputs;
            for (const CatalogueItem& c : catalogue)
                if (c.kind == UDM_KIND_OUTPUT || c.kind == UDM_KIND_PARAMETER) outputs.push_back(c.name);
            // Exact spelling first: outputs may differ only in case ("dV", "V").
            auto match = std::find(outputs.begin(), outputs.end(), output);
            if (match == outputs.end())
                match = std::find_if(outputs.begin(), outputs.end(),
                                     [&](const std::string& n) { return lowerCase(n) == lowerCase(output); });
            if (match == outputs.end()) {
                SourceLocation where = head.where;
                where.column += static_cast<int>(colon) + 1;
                throw NetlistError(where, "plug-in " + ref.name + " has no output " + output + didYouMean(output, outputs));
            }
            item.kind = PrintItem::Kind::PluginOutput;
            item.output = *match;
            item.label = instance.name + ":" + *match;
        }
        return item;
    }
}

bool isSkippedAnalysis(const std::string& name) {
    return name == "dc" || name == "ac" || name == "op" || name == "noise" || name == "tf" || name == "sp" ||
           name == "pss";
}

void readPrint(Context& context, const LogicalLine& line) {
    LineCursor cursor(line);
    cursor.take();
    const std::string analysis =
        !cursor.atEnd() && cursor.peek().kind == Token::Kind::Word ? lowerCase(cursor.peek().text) : std::string();
    if (analysis == "tran") cursor.take();
    if (isSkippedAnalysis(analysis)) {
        // Of an analysis udmhost skips, as it skips the analysis itself.
        context.warnOnce(".print " + analysis, cursor.here(),
                         line.tokens.front().text + " " + analysis + " skipped: udmhost runs the transient analysis only");
        return;
    }
    if (cursor.atEnd()) cursor.expected("V(node), I(Vname) or Yname:OUTPUT");
    while (!cursor.atEnd()) {
        // An expression ({V(2)+0.2}) is left out, as ngspice leaves it out.
        if (cursor.peek().kind == Token::Kind::Braced) {
            const Token& expression = cursor.take();
            context.warn(expression.where, "{" + expression.text + "}: expressions are not printed; left out");
            continue;
        }
        context.circuit.prints.push_back(readPrintItem(context, cursor));
    }
}

}  // namespace udmhost::netlist
