// The solution of one time point: Newton iterations over the host devices'
// equations and the plug-ins' stamps, with the sparse factorisation reused
// while the matrix values stay the same. Also keeps the solution history the
// discretisation needs (the last two accepted points and the derivatives).
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "netlist/circuit.h"
#include "output/simulation_output.h"
#include "sim/behavioural_stamps.h"
#include "sim/circuit_equations.h"
#include "sim/evaluation_bypass.h"
#include "sim/expression_engine.h"
#include "sim/initial_voltage_rows.h"
#include "sim/simulator.h"
#include "sim/iterate_cycle.h"
#include "sim/linear_solver.h"
#include "sim/semiconductor_stamps.h"
#include "sim/plugin_charges.h"
#include "sim/plugin_set.h"

namespace udmhost::sim {

// The operating point's matrix has no independent equation for an unknown.
class SingularOperatingPoint : public SimulationError {
public:
    using SimulationError::SimulationError;
};

class NewtonSolver {
public:
    // Cycling: the iterates went round (a switch turned over and back while
    // a junction's limiting walked), unsolved; the latest iterate is kept.
    // SwitchedOnFirst: the step's first solution, on the accepted stamps,
    // switched what `stopIf` asks about; unsolved, that iterate is kept.
    enum class Result { Converged, Failed, Alternating, Cycling, SwitchedOnFirst };
    // Of the stamps at the step's first solution and those it was solved with.
    using FirstSolutionTest = std::function<bool(const std::vector<double>& stamp, const std::vector<double>& solvedWith)>;

    NewtonSolver(const Circuit& circuit, CircuitEquations& equations, PluginSet& plugins,
                 ExpressionEngine& expressions, RunStats& stats);

    // Builds the matrix pattern (host devices and plug-in entries) and sizes
    // every work array; throws SimulationError for an unknown solver.
    void setUp();
    void setStartTime(double t) { startTime_ = t; }

    // Solves the point at `time` (sources) with the plug-ins evaluated at
    // `pluginTime`. Alternating: the iterates alternate between two stamps
    // (a switch controlled by what it switches); the latest iterate is kept.
    // `stopIf`: asked at the first solution where the plug-ins' stamps are
    // the only linearised devices.
    Result solve(double time, const Discretisation& d, double gmin, double pluginTime,
                 const FirstSolutionTest* stopIf = nullptr);
    // Solves with the factorisation of the latest iteration's matrix, in
    // place (size + 1 entries, the last ground's); false when there is none.
    bool solveWithLatestFactor(double* rhs);
    // Back to the iterate before the latest, evaluated there.
    void takeIterateBefore(double pluginTime, const Discretisation& d);
    // `only`: just these instances (ascending), the others keeping their stamps.
    void evaluateInstances(const double* x, double time, const Discretisation& d,
                           const std::vector<size_t>* only = nullptr);

    // After an accepted point at `time`: the derivatives, the history and
    // the stamps a step's first iterate is solved with.
    // `smooth`: see CircuitEquations::accept.
    void accept(double time, const Discretisation& d, bool smooth);

    const BehaviouralStamps& behavioural() const { return behavioural_; }
    const SemiconductorStamps& semiconductors() const { return semiconductors_; }
    const PluginCharges& pluginCharges() const { return pluginCharges_; }
    // The plug-ins' own charges, read at the latest evaluation.
    const PluginCharges& readPluginCharges() {
        pluginCharges_.read(simulationRecord_.data());
        return pluginCharges_;
    }
    std::vector<double>& x() { return x_; }
    const std::vector<double>& x() const { return x_; }
    std::vector<double>& xPrev() { return xPrev_; }
    const std::vector<double>& xDotPrev() const { return xDotPrev_; }
    const std::vector<double>& xFirst() const { return xFirst_; }  // the first Newton solution of the step
    const std::vector<double>& xOlder() const { return xOlder_; }  // the accepted point before xPrev
    const std::vector<double>& xOldest() const { return xOldest_; }  // and the one before that
    double tPrev() const { return tPrev_; }
    double tOlder() const { return tOlder_; }
    double tOldest() const { return tOldest_; }
    const std::vector<double>& stamp() const { return stamp_; }
    // The stamps are equal to those of the last accepted point.
    bool stampIsAccepted() const;
    unsigned char* simulationRecord() { return simulationRecord_.data(); }
    // Why the latest solve failed when its matrix was singular, else empty.
    const std::string& singularReason() const { return singularReason_; }
    // Newton iterations an operating point's solve may take.
    void setOperatingPointIterations(int iterations) { operatingPointIterations_ = iterations; }
    // An operating point's solve starts the transistors' limiting at its
    // first iterate (a solution nearby) instead of their accepted voltages.
    void setStartFromIterate(bool fromIterate) { startFromIterate_ = fromIterate; }

private:
    // This iterate's stamps added to the base values and right-hand side.
    void addStamps();
    const Circuit& circuit_;
    CircuitEquations& equations_;
    PluginSet& plugins_;
    ExpressionEngine& expressions_;
    RunStats& stats_;
    BehaviouralStamps behavioural_;
    SemiconductorStamps semiconductors_;
    PluginCharges pluginCharges_;
    InitialVoltageRows initialVoltages_;  // .ic in the operating point
    std::unique_ptr<LinearSolver> solver_;
    SparsePattern pattern_;
    alignas(8) std::array<unsigned char, UDM_SIMULATION_RECORD_BYTES> simulationRecord_{};
    double solves_ = 0.0;  // Newton solves so far, which number the iterations' evaluations
    int operatingPointIterations_;
    bool startFromIterate_ = false;
    double startTime_ = 0.0, tPrev_ = 0.0, tOlder_ = 0.0, tOldest_ = 0.0;

    // Work arrays, sized once.
    std::vector<double> baseValues_, values_, factoredValues_, baseRhs_, rhs_;
    std::vector<double> x_, xBefore_, xPrev_, xDotPrev_, xFirst_, xOlder_, xOldest_;
    std::vector<double> stamp_, previousStamp_, olderStamp_;  // of this iterate and the two before
    std::vector<double> acceptedStamp_;
    // Where each stamp element goes: an entry (its place in the stamp) to
    // its matrix slot, a terminal current to its row of the right-hand side
    // (ground: the spare row).
    std::vector<int> entryFrom_, entryTo_, currentFrom_, currentTo_;
    std::vector<double> nodeValues_, nodeDerivatives_;  // of the instance being evaluated
    EvaluationBypass bypass_;
    IterateCycle iterates_;
    std::array<double, 3> bypassRates_{};  // the discretisation the kept stamps were evaluated on
    std::string singularReason_;                       // at the last accepted point
    bool haveAcceptedStamp_ = false;
    bool factored_ = false;
};

}  // namespace udmhost::sim
