// Linear controlled sources: E and G (voltage-controlled) with four nodes
// and a gain, F and H (current-controlled) naming the voltage source whose
// current controls them.
#include "netlist/netlist_context.h"

namespace udmhost::netlist {

void readControlledSource(Context& context, const LogicalLine& line, Element& element) {
    LineCursor cursor(line);
    const Token& name = cursor.take();
    const char letter = lowerCase(name.text)[0];
    const bool byVoltage = letter == 'e' || letter == 'g';
    element.kind = letter == 'e'   ? Element::Kind::VoltageControlledVoltage
                   : letter == 'g' ? Element::Kind::VoltageControlledCurrent
                   : letter == 'f' ? Element::Kind::CurrentControlledCurrent
                                   : Element::Kind::CurrentControlledVoltage;
    element.nodes.push_back(context.node(cursor.word("the + node of " + name.text)));
    element.nodes.push_back(context.node(cursor.word("the - node of " + name.text)));
    if (byVoltage) {
        element.nodes.push_back(context.node(cursor.word("the controlling + node of " + name.text)));
        element.nodes.push_back(context.node(cursor.word("the controlling - node of " + name.text)));
    } else {
        context.pendingControls.emplace_back(context.circuit.elements.size(),
                                             cursor.word("the voltage source whose current controls " + name.text));
    }
    if (!cursor.atEnd() && cursor.peek().kind == Token::Kind::Word) {
        const std::string word = lowerCase(cursor.peek().text);
        if (word == "value" || word == "laplace" || (word == "table" && !byVoltage))
            throw NetlistError(cursor.peek().where, word + " sources are not supported; give a constant gain");
    }
    element.value = context.value(cursor, std::string("the ") + (letter == 'e' || letter == 'f' ? "gain" : letter == 'g' ? "transconductance" : "transresistance") +
                                              " of " + name.text);
    if (!cursor.atEnd()) cursor.expected("the end of the line");
}

void resolveControls(Context& context) {
    for (const auto& [element, token] : context.pendingControls) {
        const auto found = context.elementsByName.find(lowerCase(token.text));
        if (found == context.elementsByName.end() ||
            context.circuit.elements[static_cast<size_t>(found->second)].kind != Element::Kind::VoltageSource)
            throw NetlistError(token.where, token.text + " is not a voltage source; F and H sense the current of one "
                                            "(add a 0 V source in series where the current flows)");
        context.circuit.elements[element].control = found->second;
    }
}

}  // namespace udmhost::netlist
