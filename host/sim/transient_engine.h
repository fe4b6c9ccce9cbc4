// The transient analysis: set-up of the plug-in instances and the matrix
// pattern, the initial point, and the time loop with Newton iterations,
// truncation error control, source breakpoints and event location.
#pragma once

#include <array>
#include <iosfwd>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "callback_router.h"
#include "circuit_equations.h"
#include "expression_engine.h"
#include "linear_solver.h"
#include "plugin_instance.h"
#include "plugin_library.h"
#include "row_sampler.h"
#include "simulator.h"
#include "step_controller.h"

namespace udmhost::sim {

class TransientEngine {
public:
    TransientEngine(const Circuit& circuit, std::ostream& messages, const ProgressFn& progress);
    ~TransientEngine();  // every instance gets its release call, also after a failure
    TransientEngine(const TransientEngine&) = delete;
    TransientEngine& operator=(const TransientEngine&) = delete;

    SimulationOutput run();

private:
    struct LoadedPlugIn {
        std::unique_ptr<PlugInLibrary> library;
        Registration registration;
        std::vector<CatalogueItem> catalogue;
        std::vector<std::string> parameterNames;
        size_t terminalCount = 0;
        bool hasStateOutput = false;
    };
    struct Tracked {  // event bookkeeping of one instance
        int stateOutput = 0;          // mode 6 index of "STATE", 0: watch the stamp instead
        int acceptedState = 0;
        int newState = 0;
        std::vector<double> acceptedStamp;
        // Switchings in quick succession, to tell a switch with no state it can hold.
        double lastSwitching = 0.0, streakStart = 0.0;
        long pointsAtLastSwitching = -1;
        int streak = 0;
    };
    struct Column {
        const PrintItem* item;
        int unknown1 = -1, unknown2 = -1;  // voltages and branch currents
        PlugInInstance* instance = nullptr;
        int outputIndex = 0;
    };

    LoadedPlugIn& plugIn(int index);
    void setUpInstances();
    void setUpMatrix();
    void setUpColumns();
    void setUpBreakpoints();

    void evaluateInstances(const double* x, double time, const Discretisation& d);
    // Solves the point at `time` (sources) with the plug-ins evaluated at
    // `plugInTime`; false when Newton does not converge.
    bool newton(double time, const Discretisation& d, double gmin, double plugInTime);
    // The iterates alternate between two stamps: keeps the one whose state
    // differs from the accepted one; false when neither does.
    bool settleAlternation(double plugInTime, const Discretisation& d);
    void readStates();
    int stateOf(size_t instance, const double* stamp);
    bool stateChanged() const;
    // The instant at which a switching instance changes state along the
    // straight line from the last accepted point to the first Newton
    // solution of the step (solved with the accepted stamps), to within the
    // event tolerance: {lo, hi} as fractions of the step; none when the
    // change does not show on that line.
    // `throughOlder`: the point before the last accepted one has the same
    // stamps, so the trajectory is a parabola through the three.
    std::optional<std::pair<double, double>> locateSwitching(double t, double step, double eventTolerance,
                                                             bool throughOlder);
    void watchChatter(Tracked& t, const PlugInInstance& instance, double time);
    void acceptPoint(double time, const Discretisation& d, bool smooth = false);
    void recordRow(double time, bool switched);
    void initialPoint();
    void timeLoop();

    const Circuit& circuit_;
    std::ostream& messages_;
    const ProgressFn& progress_;
    ExpressionEngine expressions_;
    CallbackRouter router_;
    std::vector<LoadedPlugIn> plugIns_;  // by Circuit::plugins index; loaded on first use
    std::vector<std::unique_ptr<PlugInInstance>> instances_;
    std::vector<int> instanceOfElement_;
    std::vector<Tracked> tracked_;
    CircuitEquations equations_;
    std::unique_ptr<LinearSolver> solver_;
    SparsePattern pattern_;
    std::vector<int> plugInSlots_;  // per instance entry, in instance order
    std::vector<Column> columns_;
    std::vector<double> breakpoints_;
    alignas(8) std::array<unsigned char, UDM_SIMULATION_RECORD_BYTES> simulationRecord_{};

    // Work arrays, sized once.
    std::vector<double> baseValues_, values_, factoredValues_, baseRhs_, rhs_;
    std::vector<double> x_, xBefore_, xPrev_, xDotPrev_;  // iterate, the one before, last accepted point
    std::vector<double> xFirst_;                          // the first Newton solution of a step
    std::vector<double> xOlder_;                          // the accepted point before xPrev_
    double tPrev_ = 0.0, tOlder_ = 0.0;
    std::vector<double> stamp_, previousStamp_, olderStamp_;  // of this iterate and the two before
    std::vector<double> acceptedFullStamp_;  // at the last accepted point: a step's first iterate
    bool haveAcceptedStamp_ = false;
    bool factored_ = false;
    long acceptedPoints_ = 0;
    std::unique_ptr<RowSampler> rows_;
    std::unique_ptr<StepController> steps_;
    std::vector<double> row_;
    double span_ = 0.0, startTime_ = 0.0;

    SimulationOutput output_;
};

}  // namespace udmhost::sim
