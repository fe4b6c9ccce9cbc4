// The transient analysis: set-up, the initial point, and the time loop that
// steps from one accepted point to the next (breakpoints of the sources,
// truncation error control, switching instants located and stepped onto,
// the restart after each).
#pragma once

#include <iosfwd>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "output/column_reader.h"
#include "output/row_sampler.h"
#include "sim/callback_router.h"
#include "sim/circuit_equations.h"
#include "sim/expression_engine.h"
#include "sim/newton_solver.h"
#include "sim/node_trajectory.h"
#include "sim/plugin_set.h"
#include "sim/restart_policy.h"
#include "sim/simulator.h"
#include "sim/step_controller.h"
#include "sim/switch_watch.h"
#include "sim/switching_chains.h"

namespace udmhost::sim {

// A source following an upstream node carried current: some plug-in drives
// that node through a terminal without matrix entries, so the circuit must
// be simulated whole.
class InputDrivenError : public SimulationError {
public:
    explicit InputDrivenError(const std::string& source) : SimulationError(source + " carries current") {}
};

class TransientEngine final : ColumnProbe {
public:
    TransientEngine(const Circuit& circuit, std::ostream& messages, const ProgressFn& progress);
    TransientEngine(const TransientEngine&) = delete;
    TransientEngine& operator=(const TransientEngine&) = delete;

    SimulationOutput run();

    // The same run in pieces: start() sets up and solves the initial point,
    // advanceTo() integrates up to `until` (stepping onto it without a
    // restart), finish() releases the instances and hands over the output.
    void start();
    void advanceTo(double until);
    // Integrates on the steps it would take anyway until it reaches `until`.
    void advancePast(double until);
    SimulationOutput finish();
    double time() const { return loop_.t; }

    // As one block of a larger circuit: the trajectories of nodes that
    // other blocks read, recorded at every accepted point; the sources that
    // follow upstream nodes (which must carry no current: nothing here
    // drives those nodes); breakpoints learnt during the run; the rows
    // printed so far, handed over and forgotten.
    void recordNodes(std::vector<std::pair<int, std::shared_ptr<NodeTrajectory>>> nodes);
    void followInputs(std::vector<int> sourceElements) { inputSources_ = std::move(sourceElements); }
    void addBreakpoints(std::vector<double> times);
    // Before start(): rows are tagged, and (when the block prints anything)
    // every accepted point is added, for interpolating between them.
    void tagRows() { tagRows_ = true; }
    struct Rows {
        std::vector<std::vector<double>> rows;
        std::vector<RowSampler::RowKind> kinds;  // when tagged
    };
    Rows takeRows();
    // Coupled both ways with other blocks, each on its own steps: where the
    // next trial towards `until` ends (planned once, and taken by the step
    // that follows unless that step is given another `until`), one trial
    // step, and a node's voltage at the point last accepted.
    double plannedEnd(double until);
    // As far as the block vouches for its curve: the planned end where the
    // trial looked for a switching ahead, else where it stands.
    double horizon(double until);
    void stepToward(double until) { step(until); }
    double minStep() const { return steps_->minStep(); }
    double nodeVoltage(int node) const;

private:
    void setUpLimits();
    void setUpColumns();
    void setUpBreakpoints();
    // Solves a step's point; a switch alternating with its own control
    // hands back the iterate at which its state changed. False when Newton
    // found no solution and no switching.
    // `mayStop`: a switching ends the trial wherever it shows (not aimed at
    // one), so the solve may end at a first solution that shows one.
    bool solvePoint(double time, const Discretisation& d, bool mayStop = false);
    bool alternated_ = false;  // the last point solved is such an iterate, on the old stamps
    bool solved_ = false;      // ... is a solution or such an iterate, not a failed Newton's last
    NewtonSolver::Result lastResult_ = NewtonSolver::Result::Converged;  // of that solve
    void acceptPoint(double time, const Discretisation& d, bool smooth = false);
    void initialPoint();
    NewtonSolver::Result solveOperatingPoint(double pluginTime);
    NewtonSolver::Result solveOperatingPointWithGmin(double pluginTime);
    NewtonSolver::Result solveWithInductorDcResistance(double pluginTime);
    NewtonSolver::Result stepToOperatingPoint(double pluginTime);
    // One trial step of the time loop towards `until`.
    void step(double until);
    // Where a trial step ends: at the next limit (a breakpoint, the bracket
    // of a located switching, `until`), short of a predicted switching, or
    // after the step the error control wants.
    struct Trial {
        double next = 0.0, step = 0.0;
        bool onLimit = false;  // cut short by a limit: says nothing of the step wanted
        // A switching ahead was looked for (predicted or located), so the
        // trial is expected to end short of any.
        bool foreseen = false;
    };
    Trial planTrial(double until);
    std::optional<std::pair<double, Trial>> planned_;  // towards `first`, by plannedEnd()
    // A trial rejected: the next one takes `newStep`.
    void rejectTrial(double newStep);
    // A trial on which a switch changed state: its instant located and the
    // trial retried short of it, or its point accepted as the switching's.
    void onSwitching(const Trial& trial, const Discretisation& d, bool aimed);
    // A trial on which only smooth instances changed state: accepted, by
    // backward Euler, as the switching's point.
    void onSmoothSwitching(const Trial& trial, const Discretisation& d);
    // The truncation ratio of a solved trial (infinity: not estimated), or
    // none when the trial is rejected for its error.
    std::optional<double> truncationRatio(const Trial& trial, const Discretisation& d);
    // Per storage element, how far passing `errors` through the trial's own
    // matrix `times` shrinks them (CircuitEquations::stiffReduction).
    std::vector<double> stiffReduction(std::vector<double> errors, const Discretisation& d, int times);
    // The longest first step after a switching that its estimate allows.
    double firstStepLimit(const Discretisation& d);
    std::optional<double> firstLimitOfTrial_;  // of the trial being solved, once found
    // Accepts a solved trial and sets the next step.
    void acceptTrial(const Trial& trial, const Discretisation& d, double ratio);
    // After an accepted trial: a located switching's bracket reached, missed,
    // or the instant found again from closer by.
    void followBracket(const Trial& trial, const Discretisation& d, bool aimed);
    // After a trial on which a switching was located at {lo, hi}
    // (fractions of it): the trials short of it and across it.
    void retryShortOf(const std::pair<double, double>& found, double step);
    // The trial solved again without stopping at its first solution: true
    // when Newton converged with some instance switching that is not smooth.
    bool solvedThrough(const Trial& trial, const Discretisation& d);
    // After a solved trial of `step` to `next`: when a B source's
    // discontinuous operation takes another branch on it, the trial is
    // retried short of the instant, or accepted as a switching once the
    // step is within the event tolerance. False when none changed.
    bool behaviouralSwitching(double next, const Discretisation& d, double step);
    // Accepts the point of a switching and restarts the step control from it.
    void acceptSwitchingPoint(double next, const Discretisation& d, bool onOldStamps);
    // Per unknown: the signal a source holds it to (an upstream node), if any.
    std::vector<const TimeSignal*> signalUnknowns() const;

    // What the printed columns read.
    int nodeUnknown(int node) const override;
    int branchUnknown(int element) const override;
    double unknownValue(int unknown) const override;
    double sourceValue(int element, double time) const override;
    int pluginInstance(int element) const override;
    int resolveOutput(int instance, const std::string& output) override;
    double pluginOutput(int instance, int outputIndex) override;

    const Circuit& circuit_;
    std::ostream& messages_;
    bool inductorDcResistance_ = false;  // the operating point needed it
    bool steppedToOperatingPoint_ = false;  // ... or gmin or source stepping
    const ProgressFn& progress_;
    SimulationOutput output_;
    ExpressionEngine expressions_;
    CallbackRouter router_;
    PluginSet plugins_;
    CircuitEquations equations_;
    NewtonSolver newton_;
    SwitchWatch switches_;
    SwitchingChains chains_;
    const NewtonSolver::FirstSolutionTest switchedOnFirst_ = [this](const std::vector<double>& stamp,
                                                                    const std::vector<double>& solvedWith) {
        return switches_.onlySwitchingMoved(stamp, solvedWith, circuit_.options.reltol, circuit_.options.abstol);
    };
    std::optional<StepController> steps_;
    std::optional<ColumnReader> columns_;
    std::optional<RowSampler> rows_;
    std::vector<double> breakpoints_;
    std::vector<std::pair<int, std::shared_ptr<NodeTrajectory>>> recorded_;
    std::vector<int> inputSources_;
    bool tagRows_ = false;
    std::vector<RowSampler::RowKind> rowKinds_;
    double span_ = 0.0, startTime_ = 0.0;
    Discretisation::Kind secondOrder_ = Discretisation::Kind::Trapezoidal;
    // Where the time loop stands between trial steps.
    struct LoopState {
        double t = 0.0;
        double bracket = 0.0;       // a located switching lies before this; infinity: none
        double h = 0.0;             // the next trial step
        int locatesFromHere = 0;
        // The last instant located from this point: the trial's step and
        // the estimate's distance from here, and which instances switched.
        double lastLocatedStep = 0.0, lastLocatedAt = 0.0;
        std::vector<size_t> lastLocatedInstances;
        bool extrapolated = false;  // the trial ends short of an instant extrapolated to a zero step
        bool predict = true;        // a switching may be predicted from the last points
        bool aimed = false;         // the trial ends just past a relocated switching
        // Where the follow-up of a switching's chain is expected, while it is
        // approached; infinity: none.
        double followUpAt = std::numeric_limits<double>::infinity();
        RestartPolicy restart;
        size_t nextBreakpoint = 0;
        double reported = -1.0;
        int trialsSinceReport = 0;  // progress is told of a stretch that rejects trial after trial
    } loop_;
};

}  // namespace udmhost::sim
