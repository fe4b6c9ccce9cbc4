// The switching state of every plug-in instance: the state each one reports
// (its STATE output, or a jump of its stamp), the events between accepted
// points, the location of a switching instant along the step's trajectory,
// and the watch for a switch that has no state it can hold.
#pragma once

#include <algorithm>
#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "output/simulation_output.h"
#include "sim/expression_engine.h"
#include "sim/newton_solver.h"
#include "sim/plugin_set.h"
#include "sim/step_controller.h"

namespace udmhost::sim {

class SwitchWatch {
public:
    SwitchWatch(PluginSet& plugins, NewtonSolver& newton, ExpressionEngine& expressions);

    void setUp();  // after the instances are created
    // The unknowns whose accepted derivatives a re-prediction may follow.
    void setStateUnknowns(std::vector<bool> states) { stateUnknowns_ = std::move(states); }
    // The unknowns a source holds to a signal known at every time (a node
    // another part of the circuit computes): along a trajectory they take
    // its values, not the parabola's through their points.
    void setSignalUnknowns(std::vector<const TimeSignal*> signals) { signalUnknowns_ = std::move(signals); }
    // The state of every instance at the latest evaluation (stamp: the solver's).
    void readStates();
    bool stateChanged() const;
    // Some instance that is not smooth changes state with `stamp` (the
    // solver's layout), and every other one kept, within ten times the
    // tolerances, the stamp `solvedWith`.
    bool onlySwitchingMoved(const std::vector<double>& stamp, const std::vector<double>& solvedWith, double reltol,
                            double abstol);
    // Some instance changed state, and each one that did is smooth (the
    // step control follows it through its charge): its instant is not
    // located, and it is never predicted.
    bool onlySmoothChanged() const;
    // The states read now are where the run starts, not switchings.
    void adoptStates();

    // The instant at which a switching instance changes state along the
    // trajectory from the last accepted point (time t) to the step's first
    // Newton solution, solved with the accepted stamps, re-evaluating only
    // those instances: {lo, hi} as fractions of the step, hi - lo within the
    // event tolerance; none when the change does not show on it.
    // `throughOlder`: the point before the last one has the same stamps, so
    // the trajectory is a parabola through the three.
    std::optional<std::pair<double, double>> locate(double t, double step, double eventTolerance, bool throughOlder);
    // Before a trial step to `end`: the instant at which some instance
    // would change state on the parabola through the last three accepted
    // points carried on to `end` (all on the present stamps), as {lo, hi}
    // times; none when none would.
    // `slopeKnown`: the last point's derivatives are those of its
    // second-order step; a re-prediction from close by then follows them.
    std::optional<std::pair<double, double>> predict(double end, double eventTolerance, bool slopeKnown = false);
    // After a point is accepted short of the instant last located: the
    // instant again, along the parabola through the last two accepted points
    // and the end of the trial that showed the switching (no full solve),
    // as {lo, hi} times within a tenth of the event tolerance; none when it
    // does not show there or there is no such trial.
    std::optional<std::pair<double, double>> relocate(double eventTolerance, bool slopeKnown);
    // Evaluations along trajectories (predicting, locating) so far.
    long evaluations() const { return evaluations_; }
    // The instances that switched on the trial last located on (ascending).
    const std::vector<size_t>& locatedInstances() const { return crossingSwitching_; }
    // The located switching has been stepped onto, or the trial is stale.
    void forgetCrossing() {
        crossingEnd_ = -1.0;
        crossingPredicted_ = false;
    }
    // The likely error of the last relocated instant (0: none known), and
    // whether that error can be trusted: the instant was located on a trial,
    // or predicted along the signal or the derivatives of every terminal
    // that moves.
    double relocationError() const { return predictionError_; }
    bool relocationReliable() const { return reliable_; }
    // A trial aimed just past the located instant went round a cycle: the
    // switching instance's new state, held over the whole trial, moves its
    // own control back (a switch in series with an inductor it senses).
    // Its instants are approached from then on, not aimed at.
    void aimWentRound() {
        for (size_t i : crossingSwitching_) tracked_[i].notAimedAt = true;
    }
    bool mayAim() const {
        return std::none_of(crossingSwitching_.begin(), crossingSwitching_.end(),
                            [this](size_t i) { return tracked_[i].notAimedAt; });
    }

    // Bookkeeping of an accepted point: events (none at an operating point)
    // appended to `events`; true when some instance switched. Throws
    // SimulationError when an instance keeps switching at nearly every point.
    bool accept(double time, bool operatingPoint, const StepController& steps, std::vector<SwitchEvent>& events);

private:
    struct Tracked {
        int stateOutput = 0;  // mode 6 index of "STATE", 0: watch the stamp instead
        int acceptedState = 0, newState = 0;
        std::vector<double> acceptedStamp;
        // Switchings in quick succession, to tell a switch with no state it can hold.
        double lastSwitching = 0.0, streakStart = 0.0;
        long pointsAtLastSwitching = -1;
        int streak = 0;
        bool notAimedAt = false;  // see aimWentRound
    };
    int stateOf(size_t instance, const double* stamp);
    // As predict, to within `width` (time).
    std::optional<std::pair<double, double>> predictWithin(double end, double width, bool slopeKnown);
    // A trajectory through three points (a, xa), (b, xb), (c, xc): the
    // parabola through them, or the chord from b to c.
    struct Trajectory {
        double a, b, c;
        const std::vector<double>&xa, &xb, &xc;
        bool throughOlder;
        // When set: the derivatives at c, and the trajectory of the state
        // unknowns is the cubic through a and b with that value and slope at c.
        const std::vector<double>* slopeC = nullptr;
        const std::vector<bool>* states = nullptr;
        // Of xa, xb and xc at `time`.
        std::array<double, 3> weights(double time) const;
        double alongSlope(size_t unknown, double time) const;
    };
    bool followsSlope(size_t instance, const Trajectory& path, bool tangent) const;
    const TimeSignal* signalOf(size_t unknown) const;
    // {lo, hi} as fractions of [from, to]: the first change of state of
    // `switching` along `path` over it, hi - lo within `width` (time).
    // Instance i evaluated at `time` on `path` (weights w): true when its state changes.
    bool changesAt(size_t i, const Trajectory& path, double time, const std::array<double, 3>& w);
    void setTime(double time);  // of the plug-ins' evaluations and the expressions
    // The instances whose state changes at the end of `path`.
    const std::vector<size_t>& changingAtEnd(const Trajectory& path, double end);
    std::optional<std::pair<double, double>> changeAlong(const std::vector<size_t>& switching, const Trajectory& path,
                                                         double from, double to, double width);

    PluginSet& plugins_;
    NewtonSolver& newton_;
    ExpressionEngine& expressions_;
    std::vector<Tracked> tracked_;
    long acceptedPoints_ = 0, evaluations_ = 0;
    // The end of the last trial that showed a switching: its time (negative:
    // none), its first solution and the instances that switched on it.
    double crossingEnd_ = -1.0;
    bool crossingPredicted_ = false;  // from the accepted points alone, no trial
    double predictedAt_ = 0.0, predictedFrom_ = 0.0, predictionError_ = 0.0;
    bool reliable_ = false;
    size_t changedInstance_ = 0;  // the one whose change changeAlong found last
    std::vector<double> crossingX_;
    std::vector<size_t> crossingSwitching_;
    std::vector<size_t> allInstances_, candidates_;
    // The instances that are not smooth, which predictions follow.
    const std::vector<size_t>& predictable();
    std::vector<size_t> predictable_;
    size_t smoothSeen_ = 0;
    std::vector<bool> stateUnknowns_;
    std::vector<const TimeSignal*> signalUnknowns_;
    std::vector<double> stampBuffer_;
};

}  // namespace udmhost::sim
