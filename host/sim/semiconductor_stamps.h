// Transistors in the Newton iteration: MOSFETs (level 1, level 3 and VDMOS)
// and bipolar transistors (Gummel-Poon). Each is linearised at the iterate
// from its exact derivatives, with SPICE's voltage limits, and its charges
// are integrated by the engine's method, their truncation error bounding the
// step as a capacitor's does. A transistor switches smoothly: a stiff
// stretch for the step control, not an event.
#pragma once

#include <array>
#include <vector>

#include "netlist/bjt_parameters.h"
#include "netlist/circuit.h"
#include "sim/charge_history.h"
#include "sim/circuit_equations.h"
#include "sim/dual_number.h"
#include "sim/pattern_builder.h"

namespace udmhost::sim {

class SemiconductorStamps {
public:
    explicit SemiconductorStamps(const Circuit& circuit);

    bool empty() const { return devices_.empty(); }
    void requestEntries(PatternBuilder& builder);
    void bindSlots(const PatternBuilder& builder);
    // A new point's iteration limits its first update from the last accepted one's voltages.
    void beginPoint();
    // ... or from the voltages at x (a solve that starts from a solution).
    void beginPointAt(const double* x);
    // Linearises every MOSFET at x, its charges and limits included. False
    // when a voltage was limited: the iterate is then no solution yet.
    bool evaluate(const double* x, const Discretisation& d);
    // Whether each device's linearisation at the latest iterate is, within
    // the tolerances, the one the iterate was solved with: only then are the
    // charges and voltages the point keeps those of its solution.
    bool sameAsSolved(double reltol, double abstol) const;
    // Adds the latest linearisations (rhs[size] is ground's); the iterate
    // solved next is solved with them.
    void stamp(double* values, double* rhs);
    // The operating point at x (or the initial conditions) starts the charges' history.
    void startFrom(const double* x);
    // The charges of the latest evaluation become the accepted ones.
    void accept(const Discretisation& d);
    // As CircuitEquations::truncationRatio, over the charges of the latest
    // evaluation; `firstOrder`: the estimate of a backward Euler step.
    double truncationRatio(const Discretisation& d, const Options& o, bool firstOrder) const;

private:
    // A charge between two of the device's terminals, with the voltage and
    // half-capacitance at the accepted point for the gate charges, which
    // SPICE accumulates from capacitances rather than from a charge law.
    struct Charge {
        int plus = 0, minus = 0;  // terminal indices
        ChargeHistory history;
        double v0 = 0.0, half0 = 0.0, pendingV = 0.0, pendingHalf = 0.0;
        bool meyer = false;
        bool idle = false;  // no capacitance at the latest evaluation: no current, as SPICE
        double overlap = 0.0;
        // Of the latest evaluation: companion current and capacitance.
        double cap = 0.0;
    };
    // Accumulates one device's linearised currents out of each terminal.
    struct Linear {
        std::array<std::array<double, 5>, 5> g{};
        std::array<double, 5> i{};
        // A current `value` from terminal `from` to `to`, depending on the
        // branch voltage (a - b) with conductance dg, linearised at v0.
        void branch(int from, int to, int a, int b, double value, double dg, double v0);
    };
    struct Device {
        size_t element;
        bool bipolar = false;
        MosfetParameters p;  // with the breakdown knee matched
        BjtParameters q;     // of a bipolar transistor
        std::vector<int> unknowns;  // per terminal, -1 for ground
        int firstTicket = -1;
        std::vector<Charge> charges;
        // Limited voltages of the latest evaluation, and of the accepted point.
        // (A bipolar transistor's vbe and vbc are kept as vgs and vds.)
        double vgs = 0, vds = 0, vbs = 0, vd = 0, von = 0;
        double acceptedVgs = 0, acceptedVds = 0, acceptedVbs = 0, acceptedVd = 0, acceptedVon = 0;
        double vcritSource = 0, vcritDrain = 0, vcritDiode = 0;  // a bipolar's junctions': vcritSource
        Linear latest, solved;  // at the latest iterate; the one last solved with
        Linear capacitanceSlopes;  // of the gate charges at the latest iterate, stamped beside it
    };
    bool evaluate(Device& dev, const double* x, const Discretisation& d, bool limit, Linear& out);
    // Level 1 or 3: drain, gate, source and bulk, with level 1's charges.
    bool evaluateFourTerminal(Device& dev, const double* x, const Discretisation& d, bool limit, Linear& out);
    bool evaluateVdmos(Device& dev, const double* x, const Discretisation& d, bool limit, Linear& out);
    bool evaluateBipolar(Device& dev, const double* x, const Discretisation& d, bool limit, Linear& out);
    // Integrates charge `c` at branch voltage v (N-channel sense) with the
    // charge law's value q and capacitance cap and adds it to `out`.
    void integrate(double polarity, Charge& c, double v, double q, double cap, const Discretisation& d,
                   Linear& out);
    // Meyer's accumulation: the charge from the accepted point over v - v0
    // at the mean of both points' capacitances plus the overlap.
    void integrateMeyer(Device& dev, Charge& c, double v, const Dual& half, const Discretisation& d,
                        const double (&bias)[3], Linear& out);

    std::vector<Device> devices_;
    std::vector<int> slots_;
    double steps_[2] = {0, 0};  // the last two accepted steps, newest first
    bool transient_ = false;
};

}  // namespace udmhost::sim
