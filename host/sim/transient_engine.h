// The transient analysis: set-up of the plug-in instances and the matrix
// pattern, the initial point, and the time loop with Newton iterations,
// truncation error control, source breakpoints and event location.
#pragma once

#include <array>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "output/column_reader.h"
#include "sim/callback_router.h"
#include "sim/circuit_equations.h"
#include "sim/expression_engine.h"
#include "sim/linear_solver.h"
#include "sim/plugin_instance.h"
#include "sim/plugin_set.h"
#include "sim/simulator.h"

namespace udmhost::sim {

class TransientEngine : ColumnProbe {
public:
    TransientEngine(const Circuit& circuit, std::ostream& messages, const ProgressFn& progress);
    TransientEngine(const TransientEngine&) = delete;
    TransientEngine& operator=(const TransientEngine&) = delete;

    SimulationOutput run();

private:
    struct Tracked {  // event bookkeeping of one instance
        int stateOutput = 0;          // mode 6 index of "STATE", 0: watch the stamp instead
        int acceptedState = 0;
        int newState = 0;
        std::vector<double> acceptedStamp;
    };
    void setUpInstances();
    void setUpMatrix();
    void setUpColumns();
    void setUpBreakpoints();

    void evaluateInstances(const double* x, double time, const Discretisation& d);
    // Solves the point at `time` (sources) with the plug-ins evaluated at
    // `pluginTime`; false when Newton does not converge.
    bool newton(double time, const Discretisation& d, double gmin, double pluginTime);
    // The iterates alternate between two stamps: keeps the one whose state
    // differs from the accepted one; false when neither does.
    bool settleAlternation(double pluginTime, const Discretisation& d);
    void readStates();
    bool stateChanged() const;
    void acceptPoint(double time, const Discretisation& d);
    void recordRow(double time);

    // What the printed columns read.
    int nodeUnknown(int node) const override;
    int branchUnknown(int element) const override;
    double unknownValue(int unknown) const override;
    double sourceValue(int element, double time) const override;
    int pluginInstance(int element) const override;
    int resolveOutput(int instance, const std::string& output) override;
    double pluginOutput(int instance, int outputIndex) override;
    void initialPoint();
    void timeLoop();

    const Circuit& circuit_;
    std::ostream& messages_;
    const ProgressFn& progress_;
    ExpressionEngine expressions_;
    CallbackRouter router_;
    PluginSet plugins_;
    const std::vector<std::unique_ptr<PluginInstance>>& instances_;  // plugins_'s, in element order
    std::vector<Tracked> tracked_;
    CircuitEquations equations_;
    std::unique_ptr<LinearSolver> solver_;
    SparsePattern pattern_;
    std::optional<ColumnReader> columns_;
    std::vector<double> breakpoints_;
    alignas(8) std::array<unsigned char, UDM_SIMULATION_RECORD_BYTES> simulationRecord_{};

    // Work arrays, sized once.
    std::vector<double> baseValues_, values_, factoredValues_, baseRhs_, rhs_;
    std::vector<double> x_, xBefore_, xPrev_, xDotPrev_;  // iterate, the one before, last accepted point
    std::vector<double> stamp_, previousStamp_, olderStamp_;  // of this iterate and the two before
    bool factored_ = false;
    double span_ = 0.0, startTime_ = 0.0;

    SimulationOutput output_;
};

}  // namespace udmhost::sim
