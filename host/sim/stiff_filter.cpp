#include "sim/circuit_equations.h"

#include <algorithm>
#include <cmath>

// A backward Euler step far longer than a time constant of the circuit (a
// switch node charged through a switch's RON, 10 ps against steps of
// nanoseconds) damps that mode almost completely: what it leaves of it is
// the step's whole error there, about the mode's amplitude times the time
// constant over the step. The divided differences see the mode's jump as
// curvature and would hold the step to a fraction of the time constant.
// Passing the estimate through the step's own matrix, (G + C/h)^-1 C/h,
// leaves it unchanged where the circuit is slow against the step and
// divides it by the step over the time constant where it is fast (the
// filtered estimate of stiff solvers); twice, for the first step from a
// switching, whose mode starts at its full amplitude.

namespace udmhost::sim {

void CircuitEquations::spreadErrors(const double* errors, double* rhs) const {
    std::fill(rhs, rhs + size_ + 1, 0.0);
    auto r = [&](int u) -> double& { return rhs[u >= 0 ? u : size_]; };
    for (size_t k = 0; k < storage_.size(); ++k) {
        const Storage& s = storage_[k];
        // A capacitor's error is a current into its nodes; an inductor's a
        // voltage in its branch row, whose own entry is -L/h.
        if (s.inductor) rhs[s.branch] -= errors[k];
        else r(s.a) += errors[k], r(s.b) -= errors[k];
    }
    rhs[size_] = 0.0;
}

void CircuitEquations::gatherErrors(const double* solved, const Discretisation& d, double* errors) const {
    const double c = d.coefficients()[0];
    for (size_t k = 0; k < storage_.size(); ++k) errors[k] = c * stateOf(storage_[k], solved);
}

bool CircuitEquations::filterErrors(std::vector<double>& errors, const Discretisation& d, int times,
                                    const std::function<bool(double*)>& solve) const {
    std::vector<double> work(static_cast<size_t>(size_) + 1);
    for (int i = 0; i < times; ++i) {
        spreadErrors(errors.data(), work.data());
        if (!solve(work.data())) return false;
        for (double v : work)
            if (!std::isfinite(v)) return false;
        gatherErrors(work.data(), d, errors.data());
    }
    return true;
}

std::vector<double> CircuitEquations::stiffReduction(std::vector<double> errors, const Discretisation& d, int times,
                                                     const std::function<bool(double*)>& solve) const {
    std::vector<double> reduction(storage_.size(), 1.0);
    const std::vector<double> unfiltered = errors;
    if (!filterErrors(errors, d, times, solve)) return reduction;
    for (size_t k = 0; k < storage_.size(); ++k) {
        // Only ever a relief: where the coupling carries more of another
        // element's error onto this one, its own estimate stands.
        if (unfiltered[k] != 0.0) reduction[k] = std::min(1.0, std::abs(errors[k] / unfiltered[k]));
    }
    return reduction;
}

}  // namespace udmhost::sim
