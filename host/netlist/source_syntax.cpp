// The value part of V and I lines as SPICE writes it:
//   [[DC[=]] value] [AC[=] mag [phase]] [PULSE|SIN|PWL|EXP|SFFM|AM (args) | args]
// in any order. The AC field belongs to small-signal analyses and is ignored.
#include "netlist/netlist_context.h"
#include "netlist/spice_number.h"

namespace udmhost::netlist {

namespace {

bool isWaveformName(const std::string& word) {
    return word == "pulse" || word == "sin" || word == "sine" || word == "pwl" || word == "exp" || word == "sffm" ||
           word == "am";
}

bool startsValue(const LineCursor& cursor) {
    if (cursor.atEnd()) return false;
    const Token& token = cursor.peek();
    return token.kind == Token::Kind::Braced || (token.kind == Token::Kind::Word && spiceNumber(token.text).has_value());
}

// "DC=5", "AC=1": the keyword's value may follow an '=' as well.
void skipEquals(LineCursor& cursor) {
    if (!cursor.atEnd() && cursor.peek().kind == Token::Kind::Equals) cursor.take();
}

}  // namespace

void readSourceValue(Context& context, LineCursor& cursor, Element& element) {
    bool haveDc = false, haveWaveform = false;
    while (!cursor.atEnd()) {
        const Token& token = cursor.peek();
        const std::string word = token.kind == Token::Kind::Word ? lowerCase(token.text) : std::string();
        if (word == "dc") {
            cursor.take();
            skipEquals(cursor);
            // "DC PWL(...)": a DC keyword with no value, which is 0.
            const bool valued = startsValue(cursor) ||
                                (!cursor.atEnd() && cursor.peek().kind == Token::Kind::Word &&
                                 context.scopeParams().contains(lowerCase(cursor.peek().text)));
            element.waveform.dc = valued ? context.value(cursor, "the DC value of " + element.name) : 0.0;
            haveDc = true;
        } else if (word == "ac") {
            cursor.take();
            skipEquals(cursor);
            context.warnOnce("ac", token.where, "AC values are for small-signal analyses; ignored");
            for (int field = 0; field < 2 && startsValue(cursor); ++field) context.value(cursor, "an AC value");
        } else if (isWaveformName(word)) {
            if (haveWaveform) throw NetlistError(token.where, element.name + " has a second time function");
            const double dc = element.waveform.dc;
            element.waveform = readWaveform(context, cursor, cursor.take());
            element.waveform.dc = dc;
            warnIfTooFast(context, element.name, element.waveform, token.where);
            haveWaveform = true;
        } else if (!haveDc && (startsValue(cursor) || context.scopeParams().contains(word))) {
            element.waveform.dc = context.value(cursor, "the value of " + element.name);
            haveDc = true;
        } else if (word == "trnoise" || word == "trrandom") {
            throw NetlistError(token.where, element.name + ": " + token.text +
                                                " sources (random) are not supported; use PULSE, SIN, PWL, EXP, "
                                                "SFFM or AM");
        } else {
            cursor.expected(haveDc ? "AC or PULSE, SIN, PWL, EXP, SFFM, AM"
                                  : "a value, DC, AC or PULSE, SIN, PWL, EXP, SFFM, AM");
        }
    }
    // A source given no value at all is 0, as SPICE takes it (an ammeter).
    if (!haveDc && !haveWaveform) {
        context.warn(cursor.here(), element.name + " has no value: 0, as in SPICE");
        element.waveform.dc = 0.0;
    }
    element.value = element.waveform.dc;
}

}  // namespace udmhost::netlist
