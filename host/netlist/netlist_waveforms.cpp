// Time functions of independent sources: PULSE, SIN, PWL, EXP, SFFM and AM, with or
// without parentheses, with the arguments SPICE lets one leave out filled in.
#include "netlist/netlist_context.h"
#include "netlist/spice_number.h"

namespace udmhost::netlist {

namespace {

bool isValueToken(const Context& context, const Token& token) {
    if (token.kind == Token::Kind::Braced) return true;
    if (token.kind != Token::Kind::Word) return false;
    return spiceNumber(token.text).has_value() || context.scopeParams().contains(lowerCase(token.text));
}

// PWL's r= (repeat from that time on) and td= (delay), applied by
// writing out the points up to the end of the run.
void applyPwlOptions(std::vector<double>& a, std::optional<double> repeat, double delay, const SourceLocation& where,
                     double stop) {
    if (repeat) {
        size_t from = 0;
        while (from < a.size() && a[from] != *repeat) from += 2;
        if (from >= a.size())
            throw NetlistError(where, "r= must be one of the PWL times, from which the rest repeats");
        const double period = a[a.size() - 2] - a[from];
        if (period > 0.0) {
            const std::vector<double> cycle(a.begin() + static_cast<std::ptrdiff_t>(from), a.end());
            for (double shift = period; a[a.size() - 2] + delay < stop; shift += period) {
                if (a.size() > 2'000'000) throw NetlistError(where, "the repeated PWL needs too many points");
                for (size_t i = 0; i < cycle.size(); i += 2) {
                    a.push_back(cycle[i] + shift);
                    a.push_back(cycle[i + 1]);
                }
            }
        }
    }
    for (size_t i = 0; i < a.size(); i += 2) a[i] += delay;
}

}  // namespace

Waveform readWaveform(Context& context, LineCursor& cursor, const Token& name) {
    const std::string kind = lowerCase(name.text);
    Waveform waveform;
    waveform.kind = kind == "pulse" ? Waveform::Kind::Pulse
                    : kind == "sin" || kind == "sine" ? Waveform::Kind::Sin
                    : kind == "exp" ? Waveform::Kind::Exp
                    : kind == "sffm" ? Waveform::Kind::Sffm
                    : kind == "am"  ? Waveform::Kind::Am
                                    : Waveform::Kind::Pwl;
    const bool parenthesised = cursor.takeIf(Token::Kind::Open);
    std::vector<SourceLocation> places;
    std::optional<double> repeat;
    double delay = 0.0;
    auto pwlOptions = [&] {
        while (waveform.kind == Waveform::Kind::Pwl && !cursor.atEnd() && cursor.peek().kind == Token::Kind::Word) {
            const std::string key = lowerCase(cursor.peek().text);
            if (key != "r" && key != "td") return;
            cursor.take();
            if (!cursor.takeIf(Token::Kind::Equals)) cursor.expected("'=' after " + key);
            (key == "r" ? repeat.emplace() : delay) = context.value(cursor, "a time for " + key + "=");
        }
    };
    while (!cursor.atEnd() && isValueToken(context, cursor.peek())) {
        places.push_back(cursor.here());
        waveform.args.push_back(context.value(cursor, "a value"));
    }
    pwlOptions();
    if (parenthesised && !cursor.takeIf(Token::Kind::Close)) cursor.expected("a value or ')'");
    pwlOptions();
    const TranSpec& tran = context.circuit.tran;
    auto& a = waveform.args;
    switch (waveform.kind) {
        case Waveform::Kind::Pulse: {
            if (a.size() < 2 || a.size() > 8)
                throw NetlistError(name.where, "PULSE takes 2 to 8 values (v1 v2 td tr tf pw per np), " +
                                                   std::to_string(a.size()) + " given");
            const bool widthGiven = a.size() > 5 && a[5] > 0.0;
            const double defaults[8] = {0.0, 0.0, 0.0, tran.zeroEdge(), tran.zeroEdge(), tran.stop, tran.stop, 0.0};
            for (size_t i = a.size(); i < 8; ++i) a.push_back(defaults[i]);
            for (size_t i = 2; i < 8; ++i)
                if (a[i] < 0.0)
                    throw NetlistError(i < places.size() ? places[i] : name.where, "PULSE times must not be negative");
            // A zero edge would be a true jump; SPICE takes TSTEP instead.
            // A zero width or period means "not given", as in ngspice.
            if (a[3] == 0.0) a[3] = tran.zeroEdge();
            if (a[4] == 0.0) a[4] = tran.zeroEdge();
            if (a[5] == 0.0) a[5] = tran.stop;
            if (a[6] == 0.0) a[6] = tran.stop;
            a.push_back(widthGiven ? 1.0 : 0.0);
            break;
        }
        case Waveform::Kind::Sin: {
            if (a.size() < 2 || a.size() > 6)
                throw NetlistError(name.where, "SIN takes 2 to 6 values (vo va freq td theta phase), " +
                                                   std::to_string(a.size()) + " given");
            const double defaults[6] = {0.0, 0.0, 1.0 / tran.stop, 0.0, 0.0, 0.0};
            for (size_t i = a.size(); i < 6; ++i) a.push_back(defaults[i]);
            if (a[2] == 0.0) a[2] = 1.0 / tran.stop;
            if (a[2] < 0.0) throw NetlistError(places[2], "SIN frequency must not be negative");
            break;
        }
        case Waveform::Kind::Exp: {
            if (a.size() < 2 || a.size() > 6)
                throw NetlistError(name.where, "EXP takes 2 to 6 values (v1 v2 td1 tau1 td2 tau2), " +
                                                   std::to_string(a.size()) + " given");
            a.resize(6, 0.0);
            if (a[3] == 0.0) a[3] = tran.step;
            if (a[4] == 0.0) a[4] = a[2] + tran.step;
            if (a[5] == 0.0) a[5] = tran.step;
            for (size_t i = 2; i < 6; ++i)
                if (a[i] < 0.0) throw NetlistError(i < places.size() ? places[i] : name.where, "EXP times must not be negative");
            break;
        }
        case Waveform::Kind::Sffm:
        case Waveform::Kind::Am: {
            const bool fm = waveform.kind == Waveform::Kind::Sffm;
            if (a.size() < 2 || a.size() > 7)
                throw NetlistError(name.where, std::string(fm ? "SFFM takes 2 to 7 values (vo va fc mdi fs phasec phases), "
                                                              : "AM takes 2 to 7 values (va vo mf fc td phasec phases), ") +
                                                   std::to_string(a.size()) + " given");
            a.resize(7, 0.0);
            // ngspice's defaults: a zero frequency is one period per run
            // (SFFM's fc and fs, AM's mf; AM's carrier fc stays 0).
            for (size_t i : fm ? std::vector<size_t>{2, 4} : std::vector<size_t>{2})
                if (a[i] == 0.0) a[i] = 1.0 / tran.stop;
            if (!fm && a[4] < 0.0) throw NetlistError(places[4], "AM delay must not be negative");
            break;
        }
        case Waveform::Kind::Pwl: {
            if (a.empty() || a.size() % 2 != 0)
                throw NetlistError(name.where, "PWL takes pairs of time and value, " + std::to_string(a.size()) +
                                                   " values given");
            for (size_t i = 2; i < a.size(); i += 2)
                if (a[i] < a[i - 2]) throw NetlistError(places[i], "PWL times must not decrease");
            applyPwlOptions(a, repeat, delay, name.where, tran.stop);
            break;
        }
        case Waveform::Kind::Dc:
        case Waveform::Kind::Signal: break;  // never read from a netlist
    }
    return waveform;
}

}  // namespace udmhost::netlist
