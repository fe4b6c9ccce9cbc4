// The modified nodal equations of the host's own devices (R, C, L, V, I):
// numbering of the unknowns, stamps with the companion models of the
// integration method, the history of the energy-storage elements and their
// local truncation error.
#pragma once

#include <array>
#include <functional>
#include <utility>
#include <vector>

#include "netlist/circuit.h"
#include "sim/pattern_builder.h"

namespace udmhost::sim {

// How the storage elements enter the equations of one solution.
struct Discretisation {
    enum class Kind { OperatingPoint, BackwardEuler, Trapezoidal, Gear };
    Kind kind = Kind::OperatingPoint;
    double step = 0.0;
    double previous = 0.0;  // the step before this one (Gear)

    // Coefficients of the new value, the last accepted one and the one
    // before in the discretised derivative (they sum to zero, so it is
    // formed from differences to the last value, without cancellation);
    // the trapezoidal rule also subtracts the last derivative.
    std::array<double, 3> coefficients() const {
        switch (kind) {
            case Kind::BackwardEuler: return {1.0 / step, -1.0 / step, 0.0};
            case Kind::Trapezoidal: return {2.0 / step, -2.0 / step, 0.0};
            case Kind::Gear: {
                const double w = step / previous;
                return {(1.0 + 2.0 * w) / ((1.0 + w) * step), -(1.0 + w) / step, w * w / ((1.0 + w) * step)};
            }
            default: return {0.0, 0.0, 0.0};
        }
    }
};

class CircuitEquations {
public:
    explicit CircuitEquations(const Circuit& circuit);

    int size() const { return size_; }
    // Unknown of a node's voltage; -1 for ground.
    static int nodeUnknown(int node) { return node - 1; }
    // Slot of the diagonal entry of unknown `u`, a node's voltage.
    int nodeDiagonalSlot(int u) const { return slots_[static_cast<size_t>(diagonalTickets_[static_cast<size_t>(u)])]; }
    int nodeCount() const { return static_cast<int>(diagonalTickets_.size()); }
    // Unknown of the branch current of element `e` (V and L), else -1.
    int branchUnknown(int e) const { return branch_[static_cast<size_t>(e)]; }

    void requestEntries(PatternBuilder& builder);
    void bindSlots(const PatternBuilder& builder, int nonZeros);

    // Writes the host devices' matrix values (plus `gmin` from every node to
    // ground) and right-hand side for a solution at time t. Both arrays are
    // overwritten; `values` has one spare element at the end for ground entries.
    void assemble(double* values, double* rhs, double t, const Discretisation& d, double gmin) const;

    // Per unknown: whether it is a storage element's own state (a capacitor
    // node whose other end is ground, an inductor current), whose
    // derivative at an accepted point is the circuit's, not a difference
    // quotient that may ring from step to step.
    std::vector<bool> stateUnknowns() const;

    // History of the storage elements.
    void startFrom(const double* x, bool useInitialConditions);
    // `smooth`: the two accepted points before this one lie on the same
    // stretch without a switching or a breakpoint, so a backward Euler
    // step's derivative is taken to second order from the three; the
    // trapezoidal rule that follows would carry the first-order one's error
    // on, alternating in sign from step to step.
    void accept(const double* x, const Discretisation& d, bool smooth);
    // The initial condition that UIC puts on the unknowns (capacitor
    // voltages where one side is ground, inductor currents).
    void applyInitialConditions(double* x) const;
    // The nodes that voltage sources and E sources tie to ground, directly
    // or through other sources, at their values at time t (an E source's
    // from control nodes that are set already or that no source drives).
    void applySourceValues(double* x, double t) const;

    // Largest step (relative to d.step) whose truncation error would have
    // met the tolerance: >= 1 means this step was good enough. Needs two
    // accepted points before this step for backward Euler, three for the
    // trapezoidal rule; infinity when there is no storage element.
    // `reduction`: per storage element, a factor on its estimate
    // (stiffReduction); `unreduced`, if given, gets the ratio without it.
    double truncationRatio(const double* x, const Discretisation& d, const Options& o,
                           const double* reduction = nullptr, double* unreduced = nullptr) const;
    // The signed estimates (currents) that truncationRatio judges a backward
    // Euler step by, and stepAfterFirst the first step after a switching.
    std::vector<double> backwardEulerErrors(const double* x, const Discretisation& d) const;
    std::vector<double> firstStepErrors(const double* x, const Discretisation& d, bool oldFlows) const;
    // Per storage element, the factor (at most 1) by which `errors` shrink
    // when passed `times` through the step's own matrix, whose factorisation
    // `solve` applies in place (right-hand side of size() + 1 entries, the
    // last ground's); all 1 when it cannot.
    std::vector<double> stiffReduction(std::vector<double> errors, const Discretisation& d, int times,
                                       const std::function<bool(double*)>& solve) const;
    // As truncationRatio, for a second-order backward difference step whose
    // start has only one point before it on the same stamps: from the flows
    // at both its ends instead of divided differences.
    double ratioFromEndFlows(const double* x, const Discretisation& d, const Options& o) const;

    // After the first backward Euler step from a switching: the longest
    // backward Euler step whose truncation error would meet the tolerance,
    // from the charges' second derivative between the flow at the switching
    // and this step's; infinity when nothing changes that fast.
    // `oldFlows`: the switching's point was solved on the stamps before it,
    // so its flows are the old circuit's.
    double stepAfterFirst(const double* x, const Discretisation& d, const Options& o, bool oldFlows,
                          const double* reduction = nullptr) const;

    // A resistance in series with every inductor in the operating point
    // only: a loop of inductors and voltage sources then has an equation
    // for its current (0 A when the loop's sources sum to zero).
    void setInductorDcResistance(double ohms) { inductorDcResistance_ = ohms; }
    // Every independent source at this share of its value (source stepping).
    void setSourceFactor(double factor) { sourceFactor_ = factor; }
    bool hasInductors() const;
    // The first inductor whose current drops more than `volts` across that
    // resistance (its loop's sources do not sum to zero), else null.
    const Element* inductorDrivenAcrossDcResistance(const double* x, double volts) const;

    // Current of a source's branch or the value of a current source.
    double sourceValue(int e, double t) const;

private:
    struct Storage {
        int element;
        bool inductor;
        int a, b, branch;      // unknowns; -1 ground / none
        double value;          // C or L
        double ic;             // initial condition (volts or amperes), UIC only
        bool icGiven = false;  // IC= on the element
        double q[3] = {0, 0, 0};  // charge or flux at the last accepted points, newest first
        double flow = 0.0;     // capacitor current or inductor voltage at the latest accepted point
        bool stray = false;    // the host's own, from node a to ground (no element)
        // Inductors coupled by K: the other winding's storage and the mutual
        // inductance; the flux of a winding is L i + sum M i_other.
        std::vector<std::pair<size_t, double>> mutual;
    };
    double across(const Storage& s, const double* x) const;
    double stateOf(const Storage& s, const double* x) const;  // charge or flux
    double flowOf(const Storage& s, const double* x, const Discretisation& d) const;
    // The truncation error (of the charge over the step: a current) a step
    // `h` to charge `q` and flow `flow` may make.
    double allowedError(const Storage& s, double q, double flow, double h, const Options& o) const;
    // Of the first step after a switching: the flow's change from the
    // switching's, less rounding (0 where the flow fell far).
    double jumpOfFlow(const Storage& s, const double* x, const Discretisation& d, bool oldFlows) const;
    void spreadErrors(const double* errors, double* rhs) const;
    void gatherErrors(const double* solved, const Discretisation& d, double* errors) const;
    bool filterErrors(std::vector<double>& errors, const Discretisation& d, int times,
                      const std::function<bool(double*)>& solve) const;
    // The part of the discretised flow that the accepted points give.
    double history(const Storage& s, const Discretisation& d) const;
public:
    // The derivative at the newest of three points h and h1 apart (second-order backward difference).
    static double secondOrderDerivative(double now, double before, double older, double h, double h1) {
        const double w = h / h1;
        return ((1.0 + 2.0 * w) / (1.0 + w) * now - (1.0 + w) * before + w * w / (1.0 + w) * older) / h;
    }

private:

    const Circuit& circuit_;
    int size_ = 0;
    std::vector<int> branch_;
    std::vector<Storage> storage_;
    std::vector<double> mutual_;  // per element: K's mutual inductance, else 0
    std::vector<int> tickets_;   // per element, its first ticket (contiguous)
    std::vector<int> slots_;     // by ticket
    std::vector<int> diagonalTickets_;
    size_t valueCount_ = 1;      // non-zeros plus the spare ground entry
    // The matrix values no step changes (conductances, the branches'
    // incidence), and the elements whose entries each assembly adds to them,
    // with their storage index (-1: none). Storage from firstStray_ on is
    // the nodes' own capacitance.
    struct Varying {
        size_t element;
        int storage;
    };
    std::vector<double> constantValues_;
    std::vector<Varying> varying_;
    size_t firstStray_ = 0;
    double steps_[2] = {0, 0};   // the last two accepted step sizes, newest first
    double inductorDcResistance_ = 0.0;
    double sourceFactor_ = 1.0;
};

}  // namespace udmhost::sim
