#include "sim/waveform_eval.h"

#include <cmath>
#include <numbers>

namespace udmhost::sim {

namespace {

double arg(const Waveform& w, size_t i, double fallback = 0.0) { return i < w.args.size() ? w.args[i] : fallback; }

struct Pulse {
    double v1, v2, td, tr, tf, pw, per, np;
    bool widthGiven;
};

// The reader fills in SPICE's defaults (TSTEP edges, TSTOP width and
// period); these guards only keep hand-built waveforms finite.
Pulse pulseOf(const Waveform& w) {
    Pulse p{arg(w, 0), arg(w, 1), arg(w, 2), arg(w, 3), arg(w, 4), arg(w, 5), arg(w, 6), arg(w, 7), arg(w, 8, 1.0) != 0.0};
    if (p.tr <= 0.0) p.tr = 1e-12;
    if (p.tf <= 0.0) p.tf = 1e-12;
    if (p.pw < 0.0) p.pw = 0.0;
    if (p.per <= 0.0) p.per = INFINITY;
    if (!(p.np > 0.0)) p.np = INFINITY;
    return p;
}

// A width given longer than the period (TR + PW >= PER) never ends: SPICE
// steps from the rise straight to the width's end, which lies beyond every
// following period start, so the return to V1 for a rise time at those
// starts falls between its time points. Such a pulse rises once and holds V2.
// A width not given (0: TSTOP) is the triangle and sawtooth idiom, whose
// long rise SPICE's points do follow: the formula then holds as it stands.
bool holdsAfterFirstRise(const Pulse& p) { return p.widthGiven && p.tr + p.pw >= p.per; }

// ngspice's formula: the time within the period is taken only past a whole
// period; after np pulses the source stays at V1.
double pulseValue(const Pulse& p, double t) {
    double local = t - p.td;
    if (std::isfinite(p.np) && local > p.np * p.per) return p.v1;
    if (holdsAfterFirstRise(p)) {
        if (local <= 0.0) return p.v1;
        return local < p.tr ? p.v1 + (p.v2 - p.v1) * local / p.tr : p.v2;
    }
    if (local > p.per) local -= p.per * std::floor(local / p.per);
    if (local <= 0.0 || local >= p.tr + p.pw + p.tf) return p.v1;
    if (local >= p.tr && local <= p.tr + p.pw) return p.v2;
    if (local < p.tr) return p.v1 + (p.v2 - p.v1) * local / p.tr;
    return p.v2 + (p.v1 - p.v2) * (local - p.tr - p.pw) / p.tf;
}

double sffmValue(const Waveform& w, double t) {
    const double vo = arg(w, 0), va = arg(w, 1), fc = arg(w, 2), mdi = arg(w, 3), fs = arg(w, 4);
    const double phasec = arg(w, 5) * std::numbers::pi / 180.0, phases = arg(w, 6) * std::numbers::pi / 180.0;
    const double twoPi = 2.0 * std::numbers::pi;
    return vo + va * std::sin(twoPi * fc * t + phasec + mdi * std::sin(twoPi * fs * t + phases));
}

// As ngspice computes it, the carrier too takes the modulation's phase.
double amValue(const Waveform& w, double t) {
    const double va = arg(w, 0), vo = arg(w, 1), mf = arg(w, 2), fc = arg(w, 3), td = arg(w, 4);
    const double phases = arg(w, 6) * std::numbers::pi / 180.0;
    const double local = t - td, twoPi = 2.0 * std::numbers::pi;
    if (local <= 0.0) return 0.0;
    return va * (vo + std::sin(twoPi * mf * local + phases)) * std::sin(twoPi * fc * local + phases);
}

double sinValue(const Waveform& w, double t) {
    const double vo = arg(w, 0), va = arg(w, 1), freq = arg(w, 2), td = arg(w, 3), theta = arg(w, 4);
    const double phase = arg(w, 5) * std::numbers::pi / 180.0;
    if (t <= td) return vo + va * std::sin(phase);
    const double local = t - td;
    return vo + va * std::exp(-local * theta) * std::sin(2.0 * std::numbers::pi * freq * local + phase);
}

// v1 until td1, then an exponential towards v2 (tau1), from td2 on back
// towards v1 (tau2).
double expValue(const Waveform& w, double t) {
    const double v1 = arg(w, 0), v2 = arg(w, 1), td1 = arg(w, 2), tau1 = arg(w, 3), td2 = arg(w, 4), tau2 = arg(w, 5);
    double v = v1;
    if (t > td1 && tau1 > 0.0) v += (v2 - v1) * (1.0 - std::exp(-(t - td1) / tau1));
    if (t > td2 && tau2 > 0.0) v += (v1 - v2) * (1.0 - std::exp(-(t - td2) / tau2));
    return v;
}

double pwlValue(const Waveform& w, double t) {
    const size_t points = w.args.size() / 2;
    if (points == 0) return 0.0;
    if (t <= w.args[0]) return w.args[1];
    for (size_t i = 1; i < points; ++i) {
        const double t1 = w.args[2 * i];
        if (t <= t1) {
            const double t0 = w.args[2 * i - 2], v0 = w.args[2 * i - 1], v1 = w.args[2 * i + 1];
            return t1 > t0 ? v0 + (v1 - v0) * (t - t0) / (t1 - t0) : v1;
        }
    }
    return w.args[2 * points - 1];
}

}  // namespace

double waveformValue(const Waveform& w, double t) {
    if (t < 0.0) t = 0.0;
    switch (w.kind) {
        case Waveform::Kind::Dc: return w.dc;
        case Waveform::Kind::Pulse: return pulseValue(pulseOf(w), t);
        case Waveform::Kind::Sin: return sinValue(w, t);
        case Waveform::Kind::Pwl: return pwlValue(w, t);
        case Waveform::Kind::Exp: return expValue(w, t);
        case Waveform::Kind::Sffm: return sffmValue(w, t);
        case Waveform::Kind::Am: return amValue(w, t);
        case Waveform::Kind::Signal: return w.signal->at(t);
    }
    return 0.0;
}

void appendBreakpoints(const Waveform& w, double stop, std::vector<double>& out) {
    switch (w.kind) {
        case Waveform::Kind::Dc:
        case Waveform::Kind::Signal: return;  // its corners are added as they become known
        case Waveform::Kind::Sin: {
            const double td = arg(w, 3);
            if (td > 0.0 && td <= stop) out.push_back(td);
            return;
        }
        case Waveform::Kind::Exp:
            for (size_t i : {size_t{2}, size_t{4}})
                if (arg(w, i) > 0.0 && arg(w, i) <= stop) out.push_back(arg(w, i));
            return;
        case Waveform::Kind::Pwl:
            for (size_t i = 0; i + 1 < w.args.size(); i += 2)
                if (w.args[i] >= 0.0 && w.args[i] <= stop) out.push_back(w.args[i]);
            return;
        case Waveform::Kind::Sffm: return;  // smooth from t = 0
        case Waveform::Kind::Am:
            if (arg(w, 4) > 0.0 && arg(w, 4) <= stop) out.push_back(arg(w, 4));
            return;
        case Waveform::Kind::Pulse: {
            // Each period starts with a jump back to V1 (unless it is there
            // already); the corners past a period's end are never reached.
            const Pulse p = pulseOf(w);
            const double corners[3] = {p.tr, p.tr + p.pw, p.tr + p.pw + p.tf};
            double k = 0.0;
            if (holdsAfterFirstRise(p)) {
                for (double c : {p.td, p.td + p.tr})
                    if (c >= 0.0 && c <= stop) out.push_back(c);
                k = p.np;  // only the end of a counted train follows
            }
            for (; k < p.np; k += 1.0) {
                const double start = k == 0.0 ? p.td : p.td + k * p.per;
                if (start > stop) return;
                if (start >= 0.0) out.push_back(start);
                for (double c : corners)
                    if (c < p.per && start + c >= 0.0 && start + c <= stop) out.push_back(start + c);
                if (!std::isfinite(p.per) || out.size() > 10'000'000) return;
            }
            const double end = p.td + p.np * p.per;  // after the last pulse
            if (end >= 0.0 && end <= stop) out.push_back(end);
            return;
        }
    }
}

}  // namespace udmhost::sim
