#include "sim/circuit_equations.h"

#include <algorithm>
#include <cmath>
#include <limits>

// The local truncation error of the stored charges and fluxes: the step
// control's measure of how far a step may go.

namespace udmhost::sim {

namespace {

// Relative resolution of a stored charge or flux: the rounding of the
// solution it comes from, a few units in the last place.
constexpr double kChargeResolution = 16.0 * std::numeric_limits<double>::epsilon();
// Of the old circuit's flow at a switching: a flow after it below this has
// fallen far, as when a switch opens the path that discharged a capacitor.
constexpr double kFallenFlow = 1e-2;

}  // namespace

double CircuitEquations::allowedError(const Storage& s, double q, double flow, double h, const Options& o) const {
    // As SPICE: the larger of a current tolerance and a charge tolerance
    // over the step, times the overestimate factor. The divided differences
    // come from charges known only to a few units in their last place, so
    // the allowance has a floor at that resolution over the step: below it
    // a smaller step only makes the estimate noisier.
    const double qMax = std::max({std::abs(q), std::abs(s.q[0]), std::abs(s.q[1])});
    const double currentTolerance = o.reltol * std::max(std::abs(flow), std::abs(s.flow)) + o.abstol;
    const double chargeTolerance = o.reltol * std::max(qMax, o.chgtol) / h;
    return o.trtol * std::max(currentTolerance, chargeTolerance) + kChargeResolution * qMax / h;
}

std::vector<double> CircuitEquations::backwardEulerErrors(const double* x, const Discretisation& d) const {
    const double h = d.step, h1 = steps_[0];
    std::vector<double> errors(storage_.size(), 0.0);
    for (size_t k = 0; k < storage_.size(); ++k) {
        const Storage& s = storage_[k];
        if (s.stray) continue;
        const double q = stateOf(s, x);
        const double d1a = (q - s.q[0]) / h, d1b = (s.q[0] - s.q[1]) / h1;
        errors[k] = h * (d1a - d1b) / (h + h1);  // h^2 q''/2 over h
    }
    return errors;
}

double CircuitEquations::truncationRatio(const double* x, const Discretisation& d, const Options& o,
                                         const double* reduction, double* unreduced) const {
    const bool secondOrder = d.kind != Discretisation::Kind::BackwardEuler;
    const bool gear = d.kind == Discretisation::Kind::Gear;
    const double h = d.step, h1 = steps_[0], h2 = steps_[1];
    double ratio = std::numeric_limits<double>::infinity();
    for (size_t k = 0; k < storage_.size(); ++k) {
        const Storage& s = storage_[k];
        if (s.stray) continue;  // a pivot's aid, not the circuit's: its error is no measure
        const double q = stateOf(s, x);
        const double d1a = (q - s.q[0]) / h, d1b = (s.q[0] - s.q[1]) / h1;
        const double d2a = (d1a - d1b) / (h + h1);
        double error = 0.0;  // truncation error of the charge, divided by h: a current
        if (secondOrder) {
            const double d1c = (s.q[1] - s.q[2]) / h2;
            const double d2b = (d1b - d1c) / (h1 + h2);
            const double d3 = (d2a - d2b) / (h + h1 + h2);
            // h^3 q'''/12 (trapezoidal) or 2 h^3 q'''/9 (Gear), q''' = 6 d3
            error = std::abs(h * h * d3 * (gear ? 4.0 / 3.0 : 0.5));
        } else {
            error = std::abs(h * d2a);  // h^2 q''/2, q'' = 2 d2a
        }
        if (error <= 0.0) continue;
        const double allowed = allowedError(s, q, flowOf(s, x, d), h, o);
        auto ratioOf = [&](double e) { return secondOrder ? std::sqrt(allowed / e) : allowed / e; };
        if (unreduced) *unreduced = std::min(*unreduced, ratioOf(error));
        if (reduction) error *= reduction[k];
        if (error > 0.0) ratio = std::min(ratio, ratioOf(error));
    }
    return ratio;
}

double CircuitEquations::ratioFromEndFlows(const double* x, const Discretisation& d, const Options& o) const {
    const double h = d.step, w = h / d.previous;
    // Of h^3 q''' in the local error of a second-order backward difference
    // at the step ratio w (2/9 at w = 1).
    const double coefficient = (1.0 + w) * (1.0 + w) / (6.0 * w * (1.0 + 2.0 * w));
    double ratio = std::numeric_limits<double>::infinity();
    for (const Storage& s : storage_) {
        if (s.stray) continue;
        const double q = stateOf(s, x), flow = flowOf(s, x, d);
        // The flows at both ends are the circuit's own there: their
        // trapezoidal defect over the step is h^3 q'''/12.
        const double third = 12.0 * ((s.flow + flow) * 0.5 * h - (q - s.q[0])) / (h * h * h);
        const double error = std::abs(coefficient * h * h * third);  // divided by h: a current
        if (error <= 0.0) continue;
        ratio = std::min(ratio, std::sqrt(allowedError(s, q, flow, h, o) / error));
    }
    return ratio;
}

std::vector<double> CircuitEquations::firstStepErrors(const double* x, const Discretisation& d, bool oldFlows) const {
    std::vector<double> errors(storage_.size(), 0.0);
    for (size_t k = 0; k < storage_.size(); ++k) {
        const Storage& s = storage_[k];
        if (s.stray) continue;
        const double jump = jumpOfFlow(s, x, d, oldFlows);
        errors[k] = jump / 2.0;  // h^2 q''/2 over h, q'' = 2 jump / h
    }
    return errors;
}

double CircuitEquations::jumpOfFlow(const Storage& s, const double* x, const Discretisation& d, bool oldFlows) const {
    const double h = d.step;
    const double q = stateOf(s, x), flow = (q - s.q[0]) / h;
    // A flow that fell far at the switching shows the new circuit slower,
    // not its curvature; else the jump is taken as curvature, cautiously.
    if (oldFlows && std::abs(flow) < kFallenFlow * std::abs(s.flow)) return 0.0;
    const double qMax = std::max(std::abs(q), std::abs(s.q[0]));
    // The flow at the switching comes from the tiny step across it (the
    // old circuit's when that point was solved on the old stamps, as when
    // the switch's control sits on its threshold: the estimate is then
    // of the jump over this step, a cautious one); its rounding, and this
    // step's, is no curvature.
    const double rounding = kChargeResolution * qMax * ((steps_[0] > 0.0 ? 2.0 / steps_[0] : 0.0) + 1.0 / h);
    const double jump = flow - s.flow;
    return std::copysign(std::max(std::abs(jump) - rounding, 0.0), jump);
}

double CircuitEquations::stepAfterFirst(const double* x, const Discretisation& d, const Options& o, bool oldFlows,
                                        const double* reduction) const {
    const double h = d.step;
    double limit = std::numeric_limits<double>::infinity();
    for (size_t k = 0; k < storage_.size(); ++k) {
        const Storage& s = storage_[k];
        if (s.stray) continue;
        const double q = stateOf(s, x), flow = (q - s.q[0]) / h;
        double second = std::abs(jumpOfFlow(s, x, d, oldFlows)) * 2.0 / h;
        // What a stiff mode leaves after the step is all its error there;
        // a longer step leaves less, so the reduction found at this one
        // holds at least as well at the longer steps the limit allows.
        if (reduction) second *= reduction[k];
        if (!(second > 0.0)) continue;
        const double qMax = std::max(std::abs(q), std::abs(s.q[0]));
        // The error of a step h is h^2 q''/2; as in truncationRatio, against
        // the current tolerance and the charge tolerance over the step.
        const double current = o.trtol * (o.reltol * std::max(std::abs(flow), std::abs(s.flow)) + o.abstol);
        const double charge = o.trtol * o.reltol * std::max(qMax, o.chgtol) + kChargeResolution * qMax;
        limit = std::min(limit, std::max(2.0 * current / second, std::sqrt(2.0 * charge / second)));
    }
    return limit;
}

}  // namespace udmhost::sim
