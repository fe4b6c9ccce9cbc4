#include "junction.h"

#include <algorithm>
#include <cmath>

namespace udmdiode {

namespace {

// exp() continued as a straight line beyond the exponent at which a junction
// with scale current `scale` carries kLargestCurrent (kept within [1, 80]),
// so that no iterate overflows and Newton's method comes back from a wild
// iterate in one step. The exponential is compared with the current's
// bound instead of the exponent with its logarithm: the same test but at
// its edge, without a logarithm at every evaluation.
double safeExp(double x, double scale, double* slope) {
    const double e = std::exp(x);
    if (x <= 1.0 || (x <= 80.0 && e * scale <= kLargestCurrent)) {
        *slope = e;
        return e;
    }
    const double kMax = std::clamp(std::log(kLargestCurrent / scale), 1.0, 80.0);
    const double edge = std::exp(kMax);
    *slope = edge;
    return edge * (1.0 + x - kMax);
}

struct Junction {
    double current, conductance;
};

Junction junction(const DiodeParameters& p, double vd) {
    const double is = p.saturationCurrent * p.area, nvt = p.emission * kThermalVoltage;
    double slope = 0.0;
    const double e = safeExp(vd / nvt, is, &slope);
    Junction j{is * (e - 1.0), is * slope / nvt};
    if (p.breakdownVoltage > 0.0 && vd < -p.breakdownVoltage + 50.0 * nvt) {
        const double ibv = p.breakdownCurrent * p.area;
        const double eb = safeExp(-(vd + p.breakdownVoltage) / nvt, ibv, &slope);
        j.current -= ibv * eb;
        j.conductance += ibv * slope / nvt;
    }
    return j;
}

// The junction's current with the current into its charge, and their
// conductance, at junction voltage vd.
struct Branch {
    double current, conductance, charge, chargeCurrent;
};

Branch branch(const DiodeParameters& p, double vd, const ChargeCompanion& companion) {
    const Junction j = junction(p, vd);
    if (p.junctionCapacitance == 0.0 && p.transitTime == 0.0)
        return {j.current, j.conductance, 0.0, 0.0};
    const double czero = p.junctionCapacitance * p.area;
    const ChargeAndCapacitance depletion =
        depletionCharge(czero, p.junctionPotential, p.grading, p.forwardCoefficient, vd);
    const ChargeAndCapacitance diffusion = diffusionCharge(p.transitTime, j.current, j.conductance);
    const double q = depletion.charge + diffusion.charge;
    const double flow = companion.rate * q + companion.history;
    return {j.current + flow, j.conductance + companion.rate * (depletion.capacitance + diffusion.capacitance), q,
            flow};
}

}  // namespace

ChargeAndCapacitance storedCharge(const DiodeParameters& p, double junctionVoltage) {
    const Junction j = junction(p, junctionVoltage);
    const ChargeAndCapacitance depletion = depletionCharge(p.junctionCapacitance * p.area, p.junctionPotential,
                                                           p.grading, p.forwardCoefficient, junctionVoltage);
    const ChargeAndCapacitance diffusion = diffusionCharge(p.transitTime, j.current, j.conductance);
    return {depletion.charge + diffusion.charge, depletion.capacitance + diffusion.capacitance};
}

double limitJunctionVoltage(double proposed, double previous, double thermal, double critical) {
    if (proposed > critical && std::abs(proposed - previous) > 2.0 * thermal) {
        // Up to the critical voltage the exponential is tame (a step that
        // ends there is never limited), so a junction below it goes there at
        // once rather than by logarithmic steps from where it was: one that
        // turns on from near zero into an inductor's current would otherwise
        // climb a tenth of a volt or so per iteration.
        if (previous > 0.0) {
            const double arg = 1.0 + (proposed - previous) / thermal;
            return arg > 0.0 ? std::max(previous + thermal * std::log(arg), critical) : critical;
        }
        return critical;
    }
    return proposed;
}

Linearised linearise(const DiodeParameters& p, double v, double previousJunctionVoltage,
                     const ChargeCompanion& companion, double limitFrom) {
    const double nvt = p.emission * kThermalVoltage;
    const double is = p.saturationCurrent * p.area;
    const double rs = p.seriesResistance / p.area;
    const auto critical = [&] { return nvt * std::log(nvt / (std::sqrt(2.0) * is)); };
    double vd = 0.0;
    if (rs <= 0.0) {
        vd = v;
    } else {
        const double vcrit = critical();
        // The junction voltage at which junction (with its charge) and
        // resistor carry the same current: vd + rs * i(vd) = v, increasing
        // in vd, solved by limited Newton steps from the previous junction
        // voltage.
        vd = std::min(previousJunctionVoltage, v);
        for (int step = 0; step < 200; ++step) {
            const Branch j = branch(p, vd, companion);
            const double residual = vd + rs * j.current - v;
            const double next = limitJunctionVoltage(vd - residual / (1.0 + rs * j.conductance), vd, nvt, vcrit);
            const bool done = std::abs(next - vd) < 1e-12 * (1.0 + std::abs(vd));
            vd = next;
            if (done) break;
        }
    }
    // The test of the limiting first: the critical voltage takes a logarithm.
    if (std::abs(vd - limitFrom) > 2.0 * nvt) vd = limitJunctionVoltage(vd, limitFrom, nvt, critical());
    const Branch j = branch(p, vd, companion);
    const double m = p.multiplier;
    const double g = (rs > 0.0 ? j.conductance / (1.0 + rs * j.conductance) : j.conductance) + kGmin;
    // The terminal voltage this junction voltage belongs to: with limiting
    // it differs from v, and the linear model passes through that point.
    const double terminal = vd + rs * j.current;
    const double current = m * (j.current + kGmin * terminal);
    return {vd, current, m * g, current - m * g * terminal, j.charge, j.chargeCurrent};
}

}  // namespace udmdiode
