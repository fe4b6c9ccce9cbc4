// .model lines, and S switches run as instances of the switch plug-in.
#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <utility>

#include "netlist/netlist_context.h"
#include "netlist/switch_edges.h"

namespace udmhost::netlist {

namespace {

const std::vector<std::string> kLevel1 = {"level", "vto", "kp", "gamma", "phi", "lambda", "rd", "rs", "cbd", "cbs",
                                          "is", "pb", "cgso", "cgdo", "cgbo", "cj", "mj", "cjsw", "mjsw", "fc", "tox",
                                          "u0", "uo", "js", "ld", "theta", "eta", "kappa", "vmax", "nfs", "xj",
                                          "delta", "nsub", "nss", "tpg", "wd", "xl", "xw", "l", "w"};
// Gummel-Poon, by their names and SPICE2's aliases (aliases).
const std::vector<std::string> kBipolar = {"is", "bf", "nf", "vaf", "va", "ikf", "ik", "ise", "c2", "ne", "br", "nr",
                                           "var", "vb", "ikr", "isc", "c4", "nc", "rb", "re", "rc", "cje", "vje",
                                           "pe", "mje", "me", "tf", "xtf", "vtf", "itf", "cjc", "vjc", "pc", "mjc",
                                           "mc", "xcjc", "tr", "fc", "irb", "rbm", "cjs", "csub", "ccs", "vjs",
                                           "ps", "mjs", "ms", "subs"};
std::string canonical(const std::string& type, const std::string& key) {
    static const std::map<std::string, std::string> bipolar = {{"va", "vaf"}, {"ik", "ikf"}, {"c2", "ise"},
                                                               {"vb", "var"}, {"c4", "isc"}, {"pe", "vje"},
                                                               {"me", "mje"}, {"pc", "vjc"}, {"mc", "mjc"},
                                                               {"csub", "cjs"}, {"ccs", "cjs"}, {"ps", "vjs"},
                                                               {"ms", "mjs"}};
    if (key == "uo") return "u0";
    if (type != "npn" && type != "pnp") return key;
    const auto found = bipolar.find(key);
    return found == bipolar.end() ? key : found->second;
}
// Of those, the ones only level 3 uses.
const std::vector<std::string> kLevel3Only = {"theta", "eta", "kappa", "vmax", "nfs", "xj", "delta",
                                              "nsub", "nss", "tpg", "wd", "xl", "xw"};

// Parameters each model type knows; other types are kept unchecked and
// refused where an element uses them.
const std::map<std::string, std::vector<std::string>>& knownParameters() {
    static const std::map<std::string, std::vector<std::string>> known = {
        {"sw", {"vt", "vh", "ron", "roff"}},
        {"csw", {"it", "ih", "ron", "roff"}},
        {"d", {"is", "n", "rs", "cjo", "cj0", "cj", "vj", "pb", "m", "mj", "fc", "tt", "bv", "ibv", "area"}},
        {"nmos", kLevel1},
        {"pmos", kLevel1},
        {"npn", kBipolar},
        {"pnp", kBipolar},
        {"vdmos", {"vto", "kp", "lambda", "theta", "mtriode", "ksubthres", "subshift", "rd", "rs", "rg", "rds", "rb",
                   "cgdmax", "cgdmin", "a", "cgs", "is", "n", "cjo", "cj0", "vj", "m", "fc", "tt", "bv", "ibv",
                   "nbv", "pchan", "nchan"}},
    };
    return known;
}

// Published MOSFET cards carry data sheet figures (VDS, RON, QG) and the
// maker's name: read past without a warning, as they describe the part.
bool descriptive(const std::string& type, const std::string& key) {
    static const std::vector<std::string> keys = {"vds", "ron", "qg", "mfg"};
    // A bipolar card's temperature and noise parameters change nothing at
    // the nominal temperature and in a transient, and its data sheet figures
    // describe the part.
    static const std::vector<std::string> bipolar = {"xtb", "eg", "xti", "kf", "af", "tnom", "tref",
                                                     "vceo", "icrating", "mfg", "type"};
    if (type == "npn" || type == "pnp") return std::find(bipolar.begin(), bipolar.end(), key) != bipolar.end();
    return (type == "vdmos" || type == "nmos" || type == "pmos") &&
           std::find(keys.begin(), keys.end(), key) != keys.end();
}

}  // namespace

// Plain digits where they suffice, so that the plug-in reads the value as
// a number rather than handing it back as an expression.
std::string numberText(double value) {
    char buffer[400];
    auto written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (written.ec != std::errc() || written.ptr - buffer > 40)
        written = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, written.ptr);
}

namespace {

// The card of a .model line, its values in the current scope.
ModelCard readCard(Context& context, const LogicalLine& line) {
    LineCursor cursor(line);
    cursor.take();
    ModelCard card;
    const Token& name = cursor.word("a model name");
    card.name = name.text;
    card.where = name.where;
    const Token& type = cursor.word("a model type (SW, D, NMOS, PMOS, VDMOS, NPN, PNP)");
    card.type = lowerCase(type.text);
    const bool parenthesised = cursor.takeIf(Token::Kind::Open);
    const auto known = knownParameters().find(card.type);
    std::string ignored;
    auto readParameter = [&] {
        const Token& parameter = cursor.word("PARAMETER=value");
        const std::string key = lowerCase(parameter.text);
        const bool unknown = known != knownParameters().end() &&
                             std::find(known->second.begin(), known->second.end(), key) == known->second.end();
        // VDMOS's channel type is a flag without a value.
        if (card.type == "vdmos" && (key == "pchan" || key == "nchan")) {
            card.values[key] = 1.0;
            card.places[key] = parameter.where;
            return;
        }
        const bool skipped = descriptive(card.type, key);
        if ((unknown && (card.type == "d" || card.type == "nmos" || card.type == "pmos" || card.type == "vdmos" ||
                         card.type == "npn" || card.type == "pnp")) ||
            skipped) {
            // Published diode cards carry more (temperature, noise, vendor
            // data): skipped, listed in one warning.
            if (!skipped) ignored += (ignored.empty() ? "" : ", ") + parameter.text;
            cursor.takeIf(Token::Kind::Equals);
            if (cursor.atEnd() || cursor.peek().kind == Token::Kind::Close) cursor.expected("a value for " + parameter.text);
            cursor.take();
            while (!cursor.atEnd() && !cursor.peek().spaceBefore && cursor.peek().kind != Token::Kind::Close)
                cursor.take();
            return;
        }
        if (unknown) {
            const std::string hint = closestName(key, known->second);
            throw NetlistError(parameter.where, "a " + type.text + " model has no parameter " + parameter.text +
                                                    (hint.empty() ? "" : ", did you mean " + hint + "?"));
        }
        // "RON=1", "RON 1" and "RON = 1" are all read as SPICE reads them.
        cursor.takeIf(Token::Kind::Equals);
        card.places[key] = cursor.here();
        card.places[canonical(card.type, key)] = card.places[key];
        card.values[canonical(card.type, key)] = context.value(cursor, "a value for " + parameter.text);
    };
    while (!cursor.atEnd() && cursor.peek().kind != Token::Kind::Close) readParameter();
    if (parenthesised && !cursor.takeIf(Token::Kind::Close)) {
        // A library's last card without its ')': SPICE reads it all the same.
        if (!cursor.atEnd()) cursor.expected("')'");
        context.warn(cursor.here(), "model " + card.name + ": no ')' closes its parameters; read to the end of the line");
    }
    // Published cards go on after their ')' on '+' lines; SPICE reads those
    // parameters too.
    if (parenthesised)
        while (!cursor.atEnd() && cursor.peek().kind != Token::Kind::Close) readParameter();
    if (!cursor.atEnd()) cursor.expected("the end of the line");
    // A level-1 card may carry a level-3 card's parameters: not used there.
    const auto level = card.values.find("level");
    if ((card.type == "nmos" || card.type == "pmos") && (level == card.values.end() || level->second != 3.0))
        for (const std::string& key : kLevel3Only)
            if (card.values.erase(key) > 0) {
                card.places.erase(key);
                std::string shown = key;
                std::transform(shown.begin(), shown.end(), shown.begin(), [](unsigned char c) { return std::toupper(c); });
                ignored += (ignored.empty() ? "" : ", ") + shown;
            }
    // Said once for a card that each instance of its subcircuit reads.
    if (!ignored.empty())
        context.warnOnce("model-ignored@" + name.where.file + ":" + std::to_string(name.where.line), name.where,
                         "model " + card.name + ": parameters not used, ignored: " + ignored);
    return card;
}

}  // namespace

void readModel(Context& context, const LogicalLine& line) {
    LineCursor cursor(line);
    cursor.take();
    const Token& name = cursor.word("a model name");
    const auto owner = context.modelOwners.find(&line);
    const std::string key = (owner == context.modelOwners.end() ? "" : owner->second + "/") + lowerCase(name.text);
    // Makers' libraries repeat cards: SPICE keeps the first.
    if (const auto first = context.modelLines.find(key); first != context.modelLines.end()) {
        const std::vector<Token>& a = first->second->tokens;
        auto alike = [](const Token& x, const Token& y) {
            return x.kind == y.kind && lowerCase(x.text) == lowerCase(y.text);
        };
        const bool same = std::equal(a.begin(), a.end(), line.tokens.begin(), line.tokens.end(), alike);
        if (!same)
            context.warn(name.where, "model " + name.text + " is already defined at line " +
                                         std::to_string(first->second->where.line) +
                                         " with other parameters; this definition is ignored, as in SPICE");
        return;
    }
    context.modelLines.emplace(key, &line);
    if (owner != context.modelOwners.end()) {
        context.subcircuitModels.emplace(key, &line);
        return;
    }
    context.models.emplace(key, readCard(context, line));
}

const ModelCard* findModel(Context& context, const std::string& name) {
    const std::string key = lowerCase(name);
    for (int scope = context.currentScope; scope >= 0;) {
        const InstanceNames& instance = context.instanceNames[static_cast<size_t>(scope)];
        const std::string local = instance.definition + "/" + key;
        if (const auto line = context.subcircuitModels.find(local); line != context.subcircuitModels.end()) {
            const std::string own = local + "#" + std::to_string(scope);
            auto card = context.models.find(own);
            if (card == context.models.end()) {
                const int outer = std::exchange(context.currentScope, scope);
                const struct Back {
                    Context& c;
                    int scope;
                    ~Back() { c.currentScope = scope; }
                } back{context, outer};
                card = context.models.emplace(own, readCard(context, *line->second)).first;
            }
            return &card->second;
        }
        scope = instance.parent;
    }
    const auto found = context.models.find(key);
    return found == context.models.end() ? nullptr : &found->second;
}

const ModelCard& modelOf(Context& context, const Token& name, const std::string& type) {
    const ModelCard* found = findModel(context, name.text);
    if (found == nullptr) {
        std::vector<std::string> names;
        for (const auto& [key, card] : context.models)
            if (card.type == type) names.push_back(card.name);
        const std::string hint = closestName(name.text, names);
        throw NetlistError(name.where, "unknown model " + name.text + " (no .model line defines it)" +
                                           (hint.empty() ? "" : ", did you mean " + hint + "?"));
    }
    if (found->type != type)
        throw NetlistError(name.where, "model " + name.text + " is of type " + found->type + ", expected " + type);
    return *found;
}

void readSwitch(Context& context, const LogicalLine& line, Element& element) {
    // Sname n+ n- nc+ nc- model [ON|OFF], or Wname n+ n- Vsense model [ON|OFF]:
    // W is an S switch whose control voltage is its sensed current (1 V per
    // ampere) on a node of its own, made by a current-controlled source.
    LineCursor cursor(line);
    const Token& name = cursor.take();
    const bool byCurrent = lowerCase(name.text)[0] == 'w';
    element.nodes.push_back(context.node(cursor.word("node n+ of " + name.text)));
    element.nodes.push_back(context.node(cursor.word("node n- of " + name.text)));
    if (byCurrent) {
        const Token& sense = cursor.word("the voltage source whose current controls " + name.text);
        Token controlNode = name;
        controlNode.text = name.text + "#current";
        Element sensor;
        sensor.kind = Element::Kind::CurrentControlledVoltage;
        sensor.name = "H#" + name.text;
        sensor.where = name.where;
        const int control = context.node(controlNode);
        sensor.nodes = {control, 0};
        sensor.value = 1.0;
        context.pendingControls.emplace_back(context.circuit.elements.size(), sense);
        context.circuit.elements.push_back(std::move(sensor));
        element.nodes.push_back(control);
        element.nodes.push_back(0);
    } else {
        element.nodes.push_back(context.node(cursor.word("node nc+ of " + name.text)));
        element.nodes.push_back(context.node(cursor.word("node nc- of " + name.text)));
    }
    const ModelCard& model = modelOf(context, cursor.word("a switch model name"), byCurrent ? "csw" : "sw");
    double initial = 0.0;
    if (!cursor.atEnd()) {
        const Token& state = cursor.word("ON, OFF or the end of the line");
        const std::string word = lowerCase(state.text);
        if (word != "on" && word != "off") throw NetlistError(state.where, "expected ON or OFF, found '" + state.text + "'");
        initial = word == "on" ? 1.0 : 0.0;
    }
    if (!cursor.atEnd()) cursor.expected("the end of the line");

    element.plugin = builtInPlugin(context, name, "vcswitch", "S and W switches");
    auto given = [&](const char* key, double fallback) {
        const auto found = model.values.find(key);
        return found == model.values.end() ? fallback : found->second;
    };
    const char* hysteresisKey = byCurrent ? "ih" : "vh";
    double hysteresis = given(hysteresisKey, 0.0);
    if (hysteresis < 0.0) {
        context.warnOnce("sw-negative-vh", model.places.at(hysteresisKey),
                         "a negative hysteresis is taken as its magnitude, a sharp hysteresis; SPICE simulators "
                         "treat it differently");
        hysteresis = -hysteresis;
    }
    if (hysteresis == 0.0)
        context.warnOnce("sw-law", name.where,
                         "a switch without hysteresis (VH or IH 0) is open while its control rests exactly on VT (IT); "
                         "SPICE closes it there when the control came from below, or in the operating point");
    // SPICE's defaults, not the plug-in's; SPICE's strict comparisons.
    const PlugInEdges edges = plugInEdges(given(byCurrent ? "it" : "vt", 0.0), hysteresis);
    const std::map<std::string, double> values = {{"ron", given("ron", 1.0)},
                                                  {"roff", given("roff", 1e12)},
                                                  {"vthres", edges.threshold},
                                                  {"vhyst", edges.hysteresis},
                                                  {"ctrl0", initial}};
    const PluginRef& ref = context.circuit.plugins[static_cast<size_t>(element.plugin)];
    const auto& catalogue = context.pluginsByName.at(lowerCase(ref.name)).catalogue;
    const auto terminals = std::count_if(catalogue.begin(), catalogue.end(),
                                         [](const CatalogueItem& c) { return c.kind == UDM_KIND_TERMINAL; });
    if (terminals != 4)
        throw NetlistError(name.where, "plug-in " + ref.name + " has " + std::to_string(terminals) +
                                           " terminals, an S switch needs 4 (n+ n- nc+ nc-)");
    size_t found = 0;
    bool first = true;
    for (const CatalogueItem& item : catalogue) {
        if (item.kind != UDM_KIND_PARAMETER) continue;
        if (!first) element.definitionText += ',';
        first = false;
        const auto value = values.find(lowerCase(item.name));
        if (value == values.end()) {
            element.definitionText += item.defaultText;
            continue;
        }
        ++found;
        element.definitionText += numberText(value->second);
    }
    if (found != values.size())
        throw NetlistError(name.where, "plug-in " + ref.name + " is not a switch: it lacks RON, ROFF, VTHRES, "
                                       "VHYST or CTRL0");
}

}  // namespace udmhost::netlist
