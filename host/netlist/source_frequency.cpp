// A periodic source faster than the time steps can follow: SIN, SFFM and AM
// are sampled only at the steps (at most TMAX apart), PULSE at its corners,
// which become time points as long as they can. Beyond that the run shows an
// alias of the waveform, so the reader says so and what to set.
#include <cmath>
#include <cstdio>

#include "netlist/netlist_context.h"

namespace udmhost::netlist {

namespace {

// Steps a smooth waveform needs per period to be recognisable.
constexpr double kStepsPerPeriod = 10.0;
// Corners per PULSE period, and how many corners the engine keeps as time points.
constexpr double kCornersPerPeriod = 4.0, kMaxCorners = 1e7;
constexpr double kMaxSteps = TranSpec::kMostSteps;

std::string text(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
    return buffer;
}

// The highest frequency of a smooth waveform, or 0.
double highestFrequency(const Waveform& w) {
    const auto arg = [&](size_t i) { return i < w.args.size() ? w.args[i] : 0.0; };
    switch (w.kind) {
        case Waveform::Kind::Sin: return arg(2);
        case Waveform::Kind::Sffm: return std::fabs(arg(2)) + std::fabs(arg(3) * arg(4));  // fc + mdi * fs
        case Waveform::Kind::Am: return std::fabs(arg(3)) + std::fabs(arg(2));             // fc + mf
        default: return 0.0;
    }
}

const char* kindName(Waveform::Kind kind) {
    switch (kind) {
        case Waveform::Kind::Sin: return "SIN";
        case Waveform::Kind::Sffm: return "SFFM";
        case Waveform::Kind::Am: return "AM";
        default: return "PULSE";
    }
}

}  // namespace

void warnIfTooFast(Context& context, const std::string& source, const Waveform& w, const SourceLocation& where) {
    const TranSpec& tran = context.circuit.tran;
    const double step = tran.largestStep();
    const std::string stepText = text(step) + " s" + (tran.maxStep > 0.0 ? " (TMAX)" : " (TMAX not given: the smaller of TSTEP and TSTOP/50)");
    if (w.kind == Waveform::Kind::Pulse) {
        const double period = w.args.size() > 6 ? w.args[6] : 0.0;
        const double delay = w.args.size() > 2 ? w.args[2] : 0.0;
        const double pulses = w.args.size() > 7 && w.args[7] > 0.0 ? w.args[7] : INFINITY;
        const double shortest = tran.stop * 1e-14;  // the engine's smallest step
        const double corners = kCornersPerPeriod * std::min(pulses, (tran.stop - delay) / period);
        if (!(period > 0.0) || (period >= shortest && !(corners > kMaxCorners))) return;
        const double longest = std::max(shortest, kCornersPerPeriod * (tran.stop - delay) / kMaxCorners);
        context.warn(where, source + ": PULSE repeats every " + text(period) + " s, more often than its corners can be "
                            "time points up to TSTOP " + text(tran.stop) + " s; the rest of the run samples it and shows "
                            "an alias: set PER to " + text(longest) + " s or more, or shorten TSTOP");
        return;
    }
    const double frequency = highestFrequency(w);
    if (!(frequency > 0.0) || frequency * step * kStepsPerPeriod <= 1.0) return;
    const double period = 1.0 / frequency;
    const double wanted = period / kStepsPerPeriod;
    const std::string advice = tran.stop / wanted <= kMaxSteps
                                   ? "set TMAX (the fourth value of .tran) to " + text(wanted) + " s or less"
                                   : "no TMAX can follow it within " + text(kMaxSteps) + " steps: lower the frequency or shorten TSTOP";
    context.warn(where, source + ": " + kindName(w.kind) + " reaches " + text(frequency) + " Hz, too fast for the largest time step " +
                            stepText + ": fewer than " + text(kStepsPerPeriod) + " steps per period of " + text(period) +
                            " s, so the run shows an alias of it; " + advice);
}

}  // namespace udmhost::netlist
