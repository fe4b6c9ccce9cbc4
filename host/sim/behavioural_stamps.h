// B sources in the Newton iteration: each is linearised at the iterate from
// its expression's exact gradient, and its discontinuous operations are
// watched between accepted points, so that a step that changes one of them
// is a switching to be located rather than stepped over.
#pragma once

#include <optional>
#include <vector>

#include "netlist/behavioural_expression.h"
#include "netlist/circuit.h"
#include "sim/circuit_equations.h"
#include "sim/pattern_builder.h"

namespace udmhost::sim {

class BehaviouralStamps {
public:
    BehaviouralStamps(const Circuit& circuit, const CircuitEquations& equations);

    bool empty() const { return sources_.empty(); }
    void requestEntries(PatternBuilder& builder);
    void bindSlots(const PatternBuilder& builder);
    // Adds every B source's linearised stamp at x (time t) to the matrix
    // values and the right-hand side (rhs[size] is ground's). Throws
    // SimulationError for an expression evaluated outside its domain.
    void stamp(const double* x, double t, double* values, double* rhs);
    // Whether every discontinuous operation takes at x the branch it took
    // at the iterate stamped last: else a small Newton update solved
    // equations that no longer hold there.
    bool sameBranches(const double* x, double t) const;

    // The branches taken at an accepted point.
    void accept(const double* x, double t);
    // The sources whose discontinuous operations took other branches at the
    // point accepted last than at the one before: the source and the branch
    // its first changed operation took (1 for a comparison that came true).
    struct Switching {
        size_t element;
        int state;
    };
    const std::vector<Switching>& switched() const { return switched_; }
    // For a solution at time t after the accepted point: when some
    // discontinuous operation takes another branch there, the fraction of
    // the step where it does, interpolated from its argument (one half
    // where it cannot be).
    std::optional<double> crossing(const double* x, double t) const;

private:
    struct Source {
        size_t element;
        const BehaviouralExpression* expression;
        bool voltage;
        int a, b, branch;         // unknowns; -1 ground / none
        std::vector<int> unknowns;  // per input; -1: time or ground
        int firstTicket = -1;
        BehaviouralExpression::Branches accepted, stamped;
    };
    void inputs(const Source& s, const double* x, double t, std::vector<double>& in) const;

    const Circuit& circuit_;
    const CircuitEquations& equations_;
    std::vector<Source> sources_;
    std::vector<int> slots_;  // by ticket
    int size_ = 0;
    std::vector<Switching> switched_;
};

}  // namespace udmhost::sim
