// M elements: level-1 MOSFETs (.model NMOS/PMOS) and VDMOS power MOSFETs,
// with their series resistances as resistors to internal nodes.
#include <algorithm>

#include "netlist/netlist_context.h"

namespace udmhost::netlist {

namespace {

double given(const ModelCard& card, const char* key, double fallback) {
    const auto found = card.values.find(key);
    return found == card.values.end() ? fallback : found->second;
}

bool has(const ModelCard& card, const char* key) { return card.values.contains(key); }

// A node inside the element behind a series resistance, with the resistor
// to it; `outer` when the resistance is zero or not given.
int behindResistance(Context& context, const Token& name, const std::string& part, int outer, double resistance) {
    if (!(resistance > 0.0)) return outer;
    Token inner = name;
    inner.text = name.text + "#" + part;
    const int node = context.node(inner);
    context.internalNodes.insert(node);
    Element r;
    r.kind = Element::Kind::Resistor;
    r.name = "R#" + name.text + "#" + part;
    r.where = name.where;
    r.nodes = {outer, node};
    r.value = resistance;
    context.circuit.elements.push_back(std::move(r));
    return node;
}

void positive(const SourceLocation& where, const std::string& what, double value) {
    if (!(value > 0.0)) throw NetlistError(where, what + " must be positive");
}

MosfetParameters level1(const ModelCard& card, const std::map<std::string, double>& size, double polarity) {
    auto sized = [&](const char* key, double fallback) {
        const auto found = size.find(key);
        return found == size.end() ? fallback : found->second;
    };
    MosfetParameters p;
    p.law = MosfetParameters::Law::Level1;
    p.polarity = polarity;
    const double l = sized("l", 100e-6), w = sized("w", 100e-6), m = sized("m", 1.0);
    const double ad = sized("ad", 0.0), as = sized("as", 0.0), pd = sized("pd", 0.0), ps = sized("ps", 0.0);
    const double length = l - 2.0 * given(card, "ld", 0.0);
    if (!(length > 0.0)) throw NetlistError(card.where, "model " + card.name + ": the effective channel length L-2*LD is not positive");
    const double tox = given(card, "tox", 0.0);
    const double oxide = tox > 0.0 ? 3.9 * 8.854214871e-12 / tox : 0.0;  // F/m^2
    const double kp = has(card, "kp") || oxide == 0.0 ? given(card, "kp", 2e-5) : given(card, "u0", 600.0) * oxide * 1e-4;
    p.vto = polarity * given(card, "vto", 0.0);
    p.beta = kp * m * w / length;
    p.lambda = given(card, "lambda", 0.0);
    p.gamma = given(card, "gamma", 0.0);
    p.phi = given(card, "phi", 0.6);
    if (!(p.phi > 0.0)) throw NetlistError(card.places.at("phi"), "PHI must be positive");
    p.cox = oxide * length * m * w;
    p.cgso = given(card, "cgso", 0.0) * m * w;
    p.cgdo = given(card, "cgdo", 0.0) * m * w;
    p.cgbo = given(card, "cgbo", 0.0) * m * length;
    const double js = given(card, "js", 0.0);
    const bool density = js != 0.0 && ad != 0.0 && as != 0.0;
    p.drainSatCur = density ? js * m * ad : m * given(card, "is", 1e-14);
    p.sourceSatCur = density ? js * m * as : m * given(card, "is", 1e-14);
    const double cj = given(card, "cj", 0.0), cjsw = given(card, "cjsw", 0.0);
    p.cbd = has(card, "cbd") ? given(card, "cbd", 0.0) * m : cj * m * ad;
    p.cbs = has(card, "cbs") ? given(card, "cbs", 0.0) * m : cj * m * as;
    p.cbdsw = cjsw * pd * m;
    p.cbssw = cjsw * ps * m;
    p.pb = given(card, "pb", 0.8);
    p.mj = given(card, "mj", 0.5);
    p.mjsw = given(card, "mjsw", 0.5);
    p.fc = given(card, "fc", 0.5);
    return p;
}

// M=m is m transistors in parallel, as ngspice takes it from version 46 on:
// KP, the gate capacitances, IS, CJO and IBV scale by m, and the series
// resistances divide by m (readMosfet). ngspice 39 to 45 leave CGS, CGDMIN
// and CGDMAX unscaled, and no version scales IBV (its breakdown knee moves
// by NBV*vt*ln m); here an M=2 part is two M=1 parts exactly.
MosfetParameters vdmos(const ModelCard& card, double m) {
    MosfetParameters p;
    p.law = MosfetParameters::Law::Vdmos;
    p.polarity = has(card, "pchan") ? -1.0 : 1.0;
    p.vto = p.polarity * given(card, "vto", 0.0);
    p.beta = given(card, "kp", 1.0) * m;
    p.lambda = given(card, "lambda", 0.0);
    p.theta = given(card, "theta", 0.0);
    p.mtriode = given(card, "mtriode", 1.0);
    p.ksubthres = given(card, "ksubthres", 0.1);
    p.subshift = given(card, "subshift", 0.0);
    p.cgdmin = given(card, "cgdmin", 0.0) * m;
    p.cgdmax = given(card, "cgdmax", 0.0) * m;
    p.a = given(card, "a", 1.0);
    p.cgs = given(card, "cgs", 0.0) * m;
    p.is = given(card, "is", 1e-14) * m;
    p.n = given(card, "n", 1.0);
    p.cjo = given(card, "cjo", given(card, "cj0", 0.0)) * m;
    p.vj = given(card, "vj", 0.8);
    p.m = given(card, "m", 0.5);
    p.diodeFc = std::min(given(card, "fc", 0.5), 0.95);
    p.tt = given(card, "tt", 0.0);
    p.hasBreakdown = has(card, "bv");
    p.bv = given(card, "bv", 1e30);
    p.ibv = given(card, "ibv", 1e-10) * m;
    p.nbv = given(card, "nbv", 1.0);
    return p;
}

}  // namespace

// Mname d g s b model [L=] [W=] [M=] [AD= AS= PD= PS=] (level 1), or
// Mname d g s model [M=] (VDMOS).
void readMosfet(Context& context, const LogicalLine& line, Element& element) {
    LineCursor cursor(line);
    const Token& name = cursor.take();
    std::vector<const Token*> words;
    while (!cursor.atEnd()) {
        const size_t at = cursor.position();
        const Token& t = cursor.take();
        if (t.kind != Token::Kind::Word) cursor.rewind(at), cursor.expected("a node or the model name");
        if (!cursor.atEnd() && cursor.peek().kind == Token::Kind::Equals) {
            cursor.rewind(at);
            break;
        }
        words.push_back(&t);
    }
    if (words.size() < 4) cursor.expected("drain, gate, source (and bulk) nodes and a model name");
    const Token& modelName = *words.back();
    const ModelCard* found = findModel(context, modelName.text);
    if (found == nullptr) (void)modelOf(context, modelName, "nmos");
    const ModelCard& card = *found;
    const bool power = card.type == "vdmos";
    if (!power && card.type != "nmos" && card.type != "pmos")
        throw NetlistError(modelName.where, "model " + modelName.text + " is of type " + card.type +
                                                ", expected NMOS, PMOS or VDMOS");
    const size_t nodes = words.size() - 1;
    // A VDMOS may name its thermal junction and case nodes after the source,
    // as ngspice reads it; without self-heating they connect to nothing.
    if (power ? nodes < 3u || nodes > 5u : nodes != 4u)
        throw NetlistError(words[0]->where, name.text + ": a " + std::string(power ? "VDMOS" : "MOSFET") + " has " +
                                                (power ? "three nodes (drain gate source, then optional junction and case)"
                                                       : "four nodes (drain gate source bulk)") +
                                                ", " + std::to_string(nodes) + " given");
    if (power && nodes > 3u)
        context.warnOnce("vdmos thermal nodes", words[3]->where,
                         name.text + ": the thermal nodes of a VDMOS are left unconnected (self-heating is not modelled)");
    if (!power && given(card, "level", 1.0) != 1.0)
        throw NetlistError(card.places.at("level"), "model " + card.name + ": only LEVEL=1 MOSFETs are simulated");
    std::map<std::string, double> size;
    const std::vector<std::string> keys = power ? std::vector<std::string>{"m"}
                                                : std::vector<std::string>{"l", "w", "m", "ad", "as", "pd", "ps"};
    while (!cursor.atEnd()) {
        const Token& key = cursor.word("NAME=value");
        const std::string lower = lowerCase(key.text);
        if (std::find(keys.begin(), keys.end(), lower) == keys.end())
            throw NetlistError(key.where, name.text + " has no parameter " + key.text + didYouMean(lower, keys));
        if (!cursor.takeIf(Token::Kind::Equals)) cursor.expected("'=' after " + key.text);
        const SourceLocation where = cursor.here();
        const double value = context.value(cursor, "a value for " + key.text);
        if (lower == "l" || lower == "w" || lower == "m") positive(where, key.text, value);
        size[lower] = value;
    }
    const int drain = context.node(*words[0]), gate = context.node(*words[1]), source = context.node(*words[2]);
    const double m = size.contains("m") ? size.at("m") : 1.0;
    auto resistance = [&](const char* key) { return given(card, key, 0.0) / m; };
    if (!power) {
        MosfetParameters p = level1(card, size, card.type == "pmos" ? -1.0 : 1.0);
        const int bulk = context.node(*words[3]);
        element.nodes = {behindResistance(context, name, "drain", drain, resistance("rd")), gate,
                         behindResistance(context, name, "source", source, resistance("rs")), bulk};
        element.mosfet = std::make_shared<const MosfetParameters>(p);
        return;
    }
    MosfetParameters p = vdmos(card, m);
    if (has(card, "rds") && given(card, "rds", 0.0) > 0.0) {
        Element r;
        r.kind = Element::Kind::Resistor;
        r.name = "R#" + name.text + "#ds";
        r.where = name.where;
        r.nodes = {drain, source};
        r.value = resistance("rds");
        context.circuit.elements.push_back(std::move(r));
    }
    element.nodes = {behindResistance(context, name, "drain", drain, resistance("rd")),
                     behindResistance(context, name, "gate", gate, resistance("rg")),
                     behindResistance(context, name, "source", source, resistance("rs")), drain,
                     behindResistance(context, name, "body", source, resistance("rb"))};
    element.mosfet = std::make_shared<const MosfetParameters>(p);
}

}  // namespace udmhost::netlist
