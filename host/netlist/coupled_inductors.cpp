// K lines: `Kname Lfirst Lsecond k`, the magnetic coupling of two inductors
// with the mutual inductance M = k sqrt(L1 L2). The inductors may be defined
// after the K line, so they are resolved once every element is read.
#include <cmath>

#include "netlist/netlist_context.h"

namespace udmhost::netlist {

void readCoupling(Context& context, const LogicalLine& line, Element& element) {
    LineCursor cursor(line);
    const Token& name = cursor.take();
    Context::PendingCoupling pending;
    pending.element = context.circuit.elements.size();
    pending.first = cursor.word("the first inductor " + name.text + " couples");
    pending.second = cursor.word("the second inductor " + name.text + " couples");
    pending.valueWhere = cursor.here();
    element.value = context.value(cursor, "the coupling factor of " + name.text);
    if (!cursor.atEnd()) cursor.expected("the end of the line");
    // As SPICE reads it: k = 1 is a transformer without leakage, which the
    // inductors' own branch equations keep solvable.
    if (!(std::abs(element.value) > 0.0 && std::abs(element.value) <= 1.0))
        throw NetlistError(pending.valueWhere, "the coupling factor of " + name.text + " is " +
                                                   numberText(element.value) + "; it must lie in 0 < |k| <= 1");
    context.pendingCouplings.push_back(std::move(pending));
}

void resolveCouplings(Context& context) {
    for (const Context::PendingCoupling& p : context.pendingCouplings) {
        Element& coupling = context.circuit.elements[p.element];
        auto inductor = [&](const Token& token) {
            const auto found = context.elementsByName.find(lowerCase(token.text));
            if (found == context.elementsByName.end() ||
                context.circuit.elements[static_cast<size_t>(found->second)].kind != Element::Kind::Inductor) {
                std::vector<std::string> inductors;
                for (const Element& e : context.circuit.elements)
                    if (e.kind == Element::Kind::Inductor) inductors.push_back(e.name);
                throw NetlistError(token.where, coupling.name + " couples " + token.text + ", which is not an inductor" +
                                                    didYouMean(token.text, inductors));
            }
            return found->second;
        };
        coupling.coupled = {inductor(p.first), inductor(p.second)};
        if (coupling.coupled[0] == coupling.coupled[1])
            throw NetlistError(p.second.where, coupling.name + " couples " + p.first.text + " with itself");
        coupling.nodes.clear();
        for (int l : coupling.coupled)
            for (int n : context.circuit.elements[static_cast<size_t>(l)].nodes) coupling.nodes.push_back(n);
    }
}

}  // namespace udmhost::netlist
