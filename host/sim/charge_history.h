// A charge that a nonlinear device integrates by the engine's method: the
// charges at the last accepted points, the current into it at the latest,
// the companion current and conductance a step gives, and the truncation
// error estimate of the step controller, as the host's capacitors have.
#pragma once

#include "netlist/circuit.h"
#include "sim/circuit_equations.h"

namespace udmhost::sim {

struct ChargeHistory {
    double q[3] = {0, 0, 0};  // at the last accepted points, newest first
    double flow = 0.0;        // current at the newest
    // Of the latest evaluation, accepted with the point.
    double pending = 0.0;

    // The current into the charge `q` at the end of a step.
    double current(double qNow, const Discretisation& d) const {
        const auto k = d.coefficients();
        const double i = k[0] * (qNow - q[0]) + k[2] * (q[1] - q[0]);
        return d.kind == Discretisation::Kind::Trapezoidal ? i - flow : i;
    }
    void startFrom(double qNow) {
        q[0] = q[1] = q[2] = pending = qNow;
        flow = 0.0;
    }
    void accept(const Discretisation& d) {
        flow = current(pending, d);
        q[2] = q[1];
        q[1] = q[0];
        q[0] = pending;
    }
    // As CircuitEquations::truncationRatio for this charge at `pending`:
    // h1, h2 are the two accepted steps before this one.
    double ratio(const Discretisation& d, double h1, double h2, const Options& o) const;
};

}  // namespace udmhost::sim
