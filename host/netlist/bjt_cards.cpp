// Q elements: Gummel-Poon bipolar transistors (.model NPN/PNP), with their
// series resistances as resistors to internal nodes.
#include <algorithm>

#include "netlist/netlist_context.h"
#include "netlist/spice_number.h"

namespace udmhost::netlist {

namespace {

// 1/x, or 0 (none) where x is not given or is 0.
double inverse(const ModelCard& card, const char* key) {
    const double x = modelValue(card, key, 0.0);
    return x == 0.0 ? 0.0 : 1.0 / x;
}

// `scale`: the area times the parallel count.
BjtParameters bipolar(const ModelCard& card, double scale) {
    BjtParameters p;
    p.polarity = card.type == "pnp" ? -1.0 : 1.0;
    p.is = modelValue(card, "is", 1e-16) * scale;
    p.bf = modelValue(card, "bf", 100.0);
    p.br = modelValue(card, "br", 1.0);
    p.nf = modelValue(card, "nf", 1.0);
    p.nr = modelValue(card, "nr", 1.0);
    // A leakage current above 1e-4 is SPICE2's multiple of IS.
    auto leakage = [&](const char* key) {
        const double x = modelValue(card, key, 0.0);
        return (x > 1e-4 ? x * modelValue(card, "is", 1e-16) : x) * scale;
    };
    p.ise = leakage("ise");
    p.isc = leakage("isc");
    p.ne = modelValue(card, "ne", 1.5);
    p.nc = modelValue(card, "nc", 2.0);
    p.invVaf = inverse(card, "vaf");
    p.invVar = inverse(card, "var");
    p.invIkf = inverse(card, "ikf") / scale;
    p.invIkr = inverse(card, "ikr") / scale;
    p.cje = modelValue(card, "cje", 0.0) * scale;
    p.vje = modelValue(card, "vje", 0.75);
    p.mje = modelValue(card, "mje", 0.33);
    p.cjc = modelValue(card, "cjc", 0.0) * scale;
    p.vjc = modelValue(card, "vjc", 0.75);
    p.mjc = modelValue(card, "mjc", 0.33);
    p.xcjc = modelValue(card, "xcjc", 1.0);
    p.fc = modelValue(card, "fc", 0.5);
    p.tf = modelValue(card, "tf", 0.0);
    p.xtf = modelValue(card, "xtf", 0.0);
    // SPICE's VBC dependence of TF: exp(vbc / (1.44 VTF)).
    p.invVtf = modelValue(card, "vtf", 0.0) == 0.0 ? 0.0 : 1.0 / (1.44 * modelValue(card, "vtf", 0.0));
    p.itf = modelValue(card, "itf", 0.0) * scale;
    p.tr = modelValue(card, "tr", 0.0);
    p.rb = modelValue(card, "rb", 0.0) / scale;
    p.rbm = modelValue(card, "rbm", modelValue(card, "rb", 0.0)) / scale;
    p.irb = modelValue(card, "irb", 0.0) * scale;
    p.modulatedBase = p.rbm < p.rb;
    p.cjs = modelValue(card, "cjs", 0.0) * scale;
    p.vjs = modelValue(card, "vjs", 0.75);
    p.mjs = modelValue(card, "mjs", 0.0);
    // SUBS: 1 vertical, -1 lateral; by default an NPN is vertical, a PNP lateral.
    const double subs = modelValue(card, "subs", 0.0);
    p.lateral = subs == -1.0 || (subs != 1.0 && card.type == "pnp");
    return p;
}

void check(const ModelCard& card, const char* key, bool ok, const std::string& what) {
    if (!ok) throw NetlistError(card.places.at(key), "model " + card.name + ": " + what);
}

}  // namespace

void readBipolar(Context& context, const LogicalLine& line, Element& element) {
    LineCursor cursor(line);
    const Token& name = cursor.take();
    // Nodes until a word that names a bipolar model.
    std::vector<const Token*> nodes;
    const ModelCard* card = nullptr;
    while (!cursor.atEnd() && card == nullptr) {
        const Token& t = cursor.word("a node or the model name");
        const ModelCard* found = nodes.size() >= 3 ? findModel(context, t.text) : nullptr;
        if (found != nullptr && found->type != "npn" && found->type != "pnp")
            throw NetlistError(t.where, "model " + t.text + " is of type " + found->type + ", expected NPN or PNP");
        if (found != nullptr) card = found;
        else nodes.push_back(&t);
    }
    if (card == nullptr) {
        if (nodes.size() >= 4) (void)modelOf(context, *nodes.back(), "npn");  // says which model is unknown
        cursor.expected("collector, base, emitter (and substrate) nodes and an NPN or PNP model name");
    }
    if (nodes.size() > 4)
        throw NetlistError(nodes[4]->where, name.text + ": a bipolar transistor has three or four nodes (collector base "
                                                       "emitter [substrate]), " + std::to_string(nodes.size()) + " given");

    double area = 1.0, m = 1.0;
    if (!cursor.atEnd() && cursor.peek().kind != Token::Kind::Braced && spiceNumber(cursor.peek().text)) {
        const SourceLocation at = cursor.here();
        area = context.value(cursor, "the area of " + name.text);
        if (!(area > 0.0)) throw NetlistError(at, "the area must be positive");
    }
    while (!cursor.atEnd()) {
        const Token& key = cursor.word("AREA=, M= or OFF");
        const std::string lower = lowerCase(key.text);
        if (lower == "off") {
            context.warnOnce("bjt off", key.where, name.text + ": OFF is not used (the operating point decides)");
            continue;
        }
        if (lower != "area" && lower != "m")
            throw NetlistError(key.where, name.text + " has no parameter " + key.text + " (AREA=, M= or OFF)");
        if (!cursor.takeIf(Token::Kind::Equals)) cursor.expected("'=' after " + key.text);
        const SourceLocation at = cursor.here();
        const double value = context.value(cursor, "a value for " + key.text);
        if (!(value > 0.0)) throw NetlistError(at, key.text + " must be positive");
        (lower == "area" ? area : m) = value;
    }
    check(*card, "bf", modelValue(*card, "bf", 100.0) > 0.0, "BF must be positive");
    check(*card, "br", modelValue(*card, "br", 1.0) > 0.0, "BR must be positive");
    for (const char* n : {"nf", "nr", "ne", "nc"}) check(*card, n, modelValue(*card, n, 1.0) > 0.0, "emission coefficients must be positive");
    check(*card, "fc", modelValue(*card, "fc", 0.5) < 1.0, "FC must be below 1");
    const double scale = area * m;
    const BjtParameters p = bipolar(*card, scale);
    auto resistance = [&](const char* key) { return modelValue(*card, key, 0.0) / scale; };
    const int collector = context.node(*nodes[0]), base = context.node(*nodes[1]), emitter = context.node(*nodes[2]);
    int innerBase = base;
    if (p.modulatedBase) {
        // The transistor stamps its base resistance itself, as it changes.
        Token inner = name;
        inner.text = name.text + "#base";
        innerBase = context.node(inner);
        context.internalNodes.insert(innerBase);
    } else {
        innerBase = behindResistance(context, name, "base", base, resistance("rb"));
    }
    element.nodes = {behindResistance(context, name, "collector", collector, resistance("rc")), innerBase,
                     behindResistance(context, name, "emitter", emitter, resistance("re")), base};
    // Its substrate (ground unless given) takes part only through CJS.
    if (p.cjs > 0.0) element.nodes.push_back(nodes.size() == 4 ? context.node(*nodes[3]) : 0);
    else if (nodes.size() == 4)
        context.warnOnce("bjt substrate", nodes[3]->where,
                         name.text + ": the substrate node is left unconnected (its model has no CJS)");
    element.bipolar = std::make_shared<const BjtParameters>(p);
}

}  // namespace udmhost::netlist
