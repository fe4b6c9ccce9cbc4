// M elements: level-1 and level-3 MOSFETs (.model NMOS/PMOS) and VDMOS power MOSFETs,
// with their series resistances as resistors to internal nodes.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "netlist/netlist_context.h"

namespace udmhost::netlist {

namespace {

bool has(const ModelCard& card, const char* key) { return card.values.contains(key); }

void positive(const SourceLocation& where, const std::string& what, double value) {
    if (!(value > 0.0)) throw NetlistError(where, what + " must be positive");
}

// Physical constants as SPICE's MOSFET models take them.
constexpr double kCharge = 1.6021766208e-19;               // C
constexpr double kSiliconPermittivity = 11.7 * 8.854214871e-12;  // F/m
constexpr double kOxidePermittivity = 3.9 * 8.854214871e-12;     // F/m
constexpr double kNominalKelvin = 300.15;
constexpr double kBoltzmannOverCharge = 1.38064852e-23 / kCharge;

// Level 3 from a substrate doping NSUB (per cm^3): PHI, GAMMA and VTO where
// the card leaves them out, and the depletion width that the short-channel
// factor and the pinched-off length scale with.
void fromDoping(const ModelCard& card, MosfetParameters& p, double oxide, double polarity) {
    if (!has(card, "nsub")) return;
    const double vt = kBoltzmannOverCharge * kNominalKelvin;
    const double gap = 1.16 - 7.02e-4 * kNominalKelvin * kNominalKelvin / (kNominalKelvin + 1108.0);
    const double intrinsic = 1.45e16 * std::pow(kNominalKelvin / 300.0, 1.5) *
                             std::exp(0.5 * gap * (1.0 / 300.0 - 1.0 / kNominalKelvin) / kBoltzmannOverCharge);
    const double doping = modelValue(card, "nsub", 0.0) * 1e6;  // per m^3
    if (!(doping > intrinsic))
        throw NetlistError(card.places.at("nsub"), "model " + card.name + ": NSUB must exceed the intrinsic density");
    if (!has(card, "phi")) p.phi = std::max(0.1, 2.0 * vt * std::log(doping / intrinsic));
    if (!has(card, "gamma")) p.gamma = std::sqrt(2.0 * kSiliconPermittivity * kCharge * doping) / oxide;
    if (!has(card, "vto")) {
        // The flat-band voltage from the work functions of the gate (TPG:
        // its type against the substrate's; 0 aluminium) and the surface
        // states NSS.
        const double gateType = modelValue(card, "tpg", 1.0);
        const double gateWork = gateType != 0.0 ? 3.25 + 0.5 * gap - polarity * gateType * 0.5 * gap : 3.2;
        const double difference = gateWork - (3.25 + 0.5 * gap + polarity * 0.5 * p.phi);
        const double flatBand = difference - modelValue(card, "nss", 0.0) * 1e4 * kCharge / oxide;
        p.vto = polarity * (flatBand + polarity * (p.gamma * std::sqrt(p.phi) + p.phi));
    }
    p.level3.alpha = 2.0 * kSiliconPermittivity / (kCharge * doping);
    p.level3.depletionWidth = std::sqrt(p.level3.alpha);
}

// Level 1 (Shichman-Hodges) or level 3 (semi-empirical) from the card and the element's size.
MosfetParameters lateral(const ModelCard& card, const std::map<std::string, double>& size, double polarity,
                         bool level3) {
    auto sized = [&](const char* key, double fallback) {
        const auto found = size.find(key);
        return found == size.end() ? fallback : found->second;
    };
    MosfetParameters p;
    p.law = level3 ? MosfetParameters::Law::Level3 : MosfetParameters::Law::Level1;
    p.polarity = polarity;
    // A card's L and W are its instances' defaults, as makers' subcircuits use them.
    const double l = sized("l", modelValue(card, "l", 100e-6)), w = sized("w", modelValue(card, "w", 100e-6));
    const double m = sized("m", 1.0);
    for (const char* key : {"l", "w"})
        if (has(card, key) && !(modelValue(card, key, 0.0) > 0.0))
            throw NetlistError(card.places.at(key), "model " + card.name + ": " + key + " must be positive");
    const double ad = sized("ad", 0.0), as = sized("as", 0.0), pd = sized("pd", 0.0), ps = sized("ps", 0.0);
    const double ld = modelValue(card, "ld", 0.0);
    const double length = l - 2.0 * ld + (level3 ? modelValue(card, "xl", 0.0) : 0.0);
    const double width = level3 ? w - 2.0 * modelValue(card, "wd", 0.0) + modelValue(card, "xw", 0.0) : w;
    if (!(length > 0.0)) throw NetlistError(card.where, "model " + card.name + ": the effective channel length L-2*LD is not positive");
    if (!(width > 0.0)) throw NetlistError(card.where, "model " + card.name + ": the effective channel width W-2*WD is not positive");
    // Level 3 takes an oxide of 100 nm when none is given; level 1 then has no gate capacitance.
    const double tox = modelValue(card, "tox", level3 ? 1e-7 : 0.0);
    if (level3 && !(tox > 0.0)) throw NetlistError(card.places.at("tox"), "TOX must be positive");
    const double oxide = tox > 0.0 ? kOxidePermittivity / tox : 0.0;  // F/m^2
    const double kp = has(card, "kp") || oxide == 0.0 ? modelValue(card, "kp", 2e-5) : modelValue(card, "u0", 600.0) * oxide * 1e-4;
    p.vto = polarity * modelValue(card, "vto", 0.0);
    p.beta = kp * m * width / length;
    p.lambda = modelValue(card, "lambda", 0.0);
    p.gamma = modelValue(card, "gamma", 0.0);
    p.phi = modelValue(card, "phi", 0.6);
    if (level3) fromDoping(card, p, oxide, polarity);
    if (!(p.phi > 0.0)) throw NetlistError(card.places.at("phi"), "PHI must be positive");
    p.cox = oxide * length * m * width;
    p.cgso = modelValue(card, "cgso", 0.0) * m * width;
    p.cgdo = modelValue(card, "cgdo", 0.0) * m * width;
    p.cgbo = modelValue(card, "cgbo", 0.0) * m * length;
    const double js = modelValue(card, "js", 0.0);
    const bool density = js != 0.0 && ad != 0.0 && as != 0.0;
    p.drainSatCur = density ? js * m * ad : m * modelValue(card, "is", 1e-14);
    p.sourceSatCur = density ? js * m * as : m * modelValue(card, "is", 1e-14);
    const double cj = modelValue(card, "cj", 0.0), cjsw = modelValue(card, "cjsw", 0.0);
    p.cbd = has(card, "cbd") ? modelValue(card, "cbd", 0.0) * m : cj * m * ad;
    p.cbs = has(card, "cbs") ? modelValue(card, "cbs", 0.0) * m : cj * m * as;
    p.cbdsw = cjsw * pd * m;
    p.cbssw = cjsw * ps * m;
    p.pb = modelValue(card, "pb", 0.8);
    p.mj = modelValue(card, "mj", 0.5);
    p.mjsw = modelValue(card, "mjsw", level3 ? 0.33 : 0.5);
    p.fc = modelValue(card, "fc", 0.5);
    if (level3) {
        MosfetParameters::Level3& q = p.level3;
        q.length = length;
        q.vbi = p.vto - p.gamma * std::sqrt(p.phi);
        q.eta = modelValue(card, "eta", 0.0) * 8.15e-22 / (oxide * length * length * length);
        q.kappa = modelValue(card, "kappa", 0.2);
        q.vmax = modelValue(card, "vmax", 0.0);
        q.u0 = modelValue(card, "u0", 600.0);
        q.fastStates = kCharge * modelValue(card, "nfs", 0.0) * 1e4 / oxide;
        q.junctionDepth = modelValue(card, "xj", 0.0);
        q.lateralDiffusion = ld;
        q.narrow = modelValue(card, "delta", 0.0) * 0.5 * std::numbers::pi * kSiliconPermittivity / oxide / width;
        p.theta = modelValue(card, "theta", 0.0);
    }
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
    p.vto = p.polarity * modelValue(card, "vto", 0.0);
    p.beta = modelValue(card, "kp", 1.0) * m;
    p.lambda = modelValue(card, "lambda", 0.0);
    p.theta = modelValue(card, "theta", 0.0);
    p.mtriode = modelValue(card, "mtriode", 1.0);
    p.ksubthres = modelValue(card, "ksubthres", 0.1);
    p.subshift = modelValue(card, "subshift", 0.0);
    p.cgdmin = modelValue(card, "cgdmin", 0.0) * m;
    p.cgdmax = modelValue(card, "cgdmax", 0.0) * m;
    p.a = modelValue(card, "a", 1.0);
    p.cgs = modelValue(card, "cgs", 0.0) * m;
    p.is = modelValue(card, "is", 1e-14) * m;
    p.n = modelValue(card, "n", 1.0);
    p.cjo = modelValue(card, "cjo", modelValue(card, "cj0", 0.0)) * m;
    p.vj = modelValue(card, "vj", 0.8);
    p.m = modelValue(card, "m", 0.5);
    p.diodeFc = std::min(modelValue(card, "fc", 0.5), 0.95);
    p.tt = modelValue(card, "tt", 0.0);
    p.hasBreakdown = has(card, "bv");
    p.bv = modelValue(card, "bv", 1e30);
    p.ibv = modelValue(card, "ibv", 1e-10) * m;
    p.nbv = modelValue(card, "nbv", 1.0);
    return p;
}

}  // namespace

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
    // "... tj tc MODEL thermal": ngspice's flag for a VDMOS's self-heating.
    const Token* thermalFlag = nullptr;
    if (words.size() >= 6 && lowerCase(words.back()->text) == "thermal") {
        const ModelCard* before = findModel(context, words[words.size() - 2]->text);
        if (before != nullptr && before->type == "vdmos") thermalFlag = words.back(), words.pop_back();
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
    if (power && (nodes > 3u || thermalFlag != nullptr))
        context.warnOnce("vdmos thermal nodes", thermalFlag != nullptr ? thermalFlag->where : words[3]->where,
                         name.text + ": the thermal nodes of a VDMOS are left unconnected (self-heating is not modelled)");
    const double level = modelValue(card, "level", 1.0);
    if (!power && level != 1.0 && level != 3.0)
        throw NetlistError(card.places.at("level"), "model " + card.name + ": only LEVEL=1 and LEVEL=3 MOSFETs are simulated");
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
    auto resistance = [&](const char* key) { return modelValue(card, key, 0.0) / m; };
    if (!power) {
        MosfetParameters p = lateral(card, size, card.type == "pmos" ? -1.0 : 1.0, level == 3.0);
        const int bulk = context.node(*words[3]);
        element.nodes = {behindResistance(context, name, "drain", drain, resistance("rd")), gate,
                         behindResistance(context, name, "source", source, resistance("rs")), bulk};
        element.mosfet = std::make_shared<const MosfetParameters>(p);
        return;
    }
    MosfetParameters p = vdmos(card, m);
    if (has(card, "rds") && modelValue(card, "rds", 0.0) > 0.0) {
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
