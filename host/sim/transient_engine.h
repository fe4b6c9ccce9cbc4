// The transient analysis: set-up, the initial point, and the time loop that
// steps from one accepted point to the next (breakpoints of the sources,
// truncation error control, switching instants located and stepped onto,
// the restart after each).
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "output/column_reader.h"
#include "output/row_sampler.h"
#include "sim/callback_router.h"
#include "sim/circuit_equations.h"
#include "sim/expression_engine.h"
#include "sim/newton_solver.h"
#include "sim/plugin_set.h"
#include "sim/simulator.h"
#include "sim/step_controller.h"
#include "sim/switch_watch.h"

namespace udmhost::sim {

// The most rows a run may print. A run's own rows go to a temporary file
// beyond a memory budget (the disk bounds them); the blocks of a split
// circuit are joined in memory, so theirs stay fewer.
constexpr double kMaxStoredRows = 1e9, kMaxJoinedRows = 1e7;

class TransientEngine : ColumnProbe {
public:
    TransientEngine(const Circuit& circuit, std::ostream& messages, const ProgressFn& progress,
                    double maxRows = kMaxStoredRows);
    TransientEngine(const TransientEngine&) = delete;
    TransientEngine& operator=(const TransientEngine&) = delete;

    SimulationOutput run();

private:
    void setUpLimits();
    void setUpColumns();
    void setUpBreakpoints();
    // Solves a step's point; a switch alternating with its own control
    // hands back the iterate at which its state changed. False when Newton
    // found no solution and no switching.
    bool solvePoint(double time, const Discretisation& d);
    void acceptPoint(double time, const Discretisation& d, bool smooth = false);
    void initialPoint();
    void timeLoop();

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
    const ProgressFn& progress_;
    SimulationOutput output_;
    ExpressionEngine expressions_;
    CallbackRouter router_;
    PluginSet plugins_;
    CircuitEquations equations_;
    NewtonSolver newton_;
    SwitchWatch switches_;
    std::optional<StepController> steps_;
    std::optional<ColumnReader> columns_;
    std::optional<RowSampler> rows_;
    std::vector<double> breakpoints_;
    double maxRows_;
    double span_ = 0.0, startTime_ = 0.0;
};

}  // namespace udmhost::sim
