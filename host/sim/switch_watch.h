// The switching state of every plug-in instance: the state each one reports
// (its STATE output, or a jump of its stamp), the events between accepted
// points, the location of a switching instant along the step's trajectory,
// and the watch for a switch that has no state it can hold.
#pragma once

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
    // The state of every instance at the latest evaluation (stamp: the solver's).
    void readStates();
    bool stateChanged() const;
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
    };
    int stateOf(size_t instance, const double* stamp);

    PluginSet& plugins_;
    NewtonSolver& newton_;
    ExpressionEngine& expressions_;
    std::vector<Tracked> tracked_;
    long acceptedPoints_ = 0;
};

}  // namespace udmhost::sim
