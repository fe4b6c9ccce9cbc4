// Time functions of independent sources: PULSE, SIN and PWL, with the
// arguments SPICE lets one leave out filled in.
#include "netlist/netlist_context.h"

namespace udmhost::netlist {

Waveform readWaveform(Context& context, LineCursor& cursor, const Token& name) {
    const std::string kind = lowerCase(name.text);
    Waveform waveform;
    waveform.kind = kind == "pulse" ? Waveform::Kind::Pulse : kind == "sin" ? Waveform::Kind::Sin : Waveform::Kind::Pwl;
    if (!cursor.takeIf(Token::Kind::Open)) cursor.expected("'(' after " + name.text);
    std::vector<SourceLocation> places;
    while (!cursor.atEnd() && cursor.peek().kind != Token::Kind::Close) {
        places.push_back(cursor.here());
        waveform.args.push_back(context.value(cursor, "a value or ')'"));
    }
    if (!cursor.takeIf(Token::Kind::Close)) cursor.expected("')'");
    const TranSpec& tran = context.circuit.tran;
    auto& a = waveform.args;
    switch (waveform.kind) {
        case Waveform::Kind::Pulse: {
            if (a.size() < 2 || a.size() > 7)
                throw NetlistError(name.where, "PULSE takes 2 to 7 values (v1 v2 td tr tf pw per), " +
                                                   std::to_string(a.size()) + " given");
            const double defaults[7] = {0.0, 0.0, 0.0, tran.step, tran.step, tran.stop, tran.stop};
            for (size_t i = a.size(); i < 7; ++i) a.push_back(defaults[i]);
            for (size_t i = 2; i < 7; ++i)
                if (a[i] < 0.0)
                    throw NetlistError(i < places.size() ? places[i] : name.where, "PULSE times must not be negative");
            // A zero edge would be a true jump; SPICE takes TSTEP instead.
            if (a[3] == 0.0) a[3] = tran.step;
            if (a[4] == 0.0) a[4] = tran.step;
            if (a[6] == 0.0) a[6] = tran.stop;
            break;
        }
        case Waveform::Kind::Sin: {
            if (a.size() < 2 || a.size() > 5)
                throw NetlistError(name.where, "SIN takes 2 to 5 values (vo va freq td theta), " +
                                                   std::to_string(a.size()) + " given");
            const double defaults[5] = {0.0, 0.0, 1.0 / tran.stop, 0.0, 0.0};
            for (size_t i = a.size(); i < 5; ++i) a.push_back(defaults[i]);
            if (a[2] == 0.0) a[2] = 1.0 / tran.stop;
            if (a[2] < 0.0) throw NetlistError(places[2], "SIN frequency must not be negative");
            break;
        }
        case Waveform::Kind::Pwl: {
            if (a.empty() || a.size() % 2 != 0)
                throw NetlistError(name.where, "PWL takes pairs of time and value, " + std::to_string(a.size()) +
                                                   " values given");
            for (size_t i = 2; i < a.size(); i += 2)
                if (a[i] < a[i - 2]) throw NetlistError(places[i], "PWL times must not decrease");
            break;
        }
        case Waveform::Kind::Dc: break;
    }
    return waveform;
}

}  // namespace udmhost::netlist
