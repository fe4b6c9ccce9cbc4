#include "sim/transient_engine.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "sim/operating_point_search.h"
#include "sim/time_text.h"
#include "sim/finite_values.h"
#include "sim/waveform_eval.h"

namespace udmhost::sim {

namespace {

constexpr double kGmin = 1e-12;  // from every node to ground, operating point only
constexpr double kInductorDcResistance = 1e-9;  // ohm, when the operating point needs it
constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Rows beyond a memory budget go to a temporary file, so the disk bounds
// them; a grid finer than this is a mistake, not a run to start.
constexpr double kMaxRows = 1e9, kMaxSteps = TranSpec::kMostSteps;
// A source following an upstream node carries at most this (amperes).
constexpr double kInputCurrentLimit = 1e-9;

// Operating-point solves that start from a solution nearby.
struct FromIterate {
    explicit FromIterate(NewtonSolver& n) : newton(n) { newton.setStartFromIterate(true); }
    ~FromIterate() { newton.setStartFromIterate(false); }
    NewtonSolver& newton;
};

}  // namespace

TransientEngine::TransientEngine(const Circuit& circuit, std::ostream& messages, const ProgressFn& progress)
    : circuit_(circuit),
      messages_(messages),
      progress_(progress),
      expressions_(circuit.params),
      router_(messages, expressions_),
      plugins_(circuit, router_),
      equations_(circuit),
      newton_(circuit, equations_, plugins_, expressions_, output_.stats),
      switches_(plugins_, newton_, expressions_) {}

void TransientEngine::setUpLimits() {
    const TranSpec& tran = circuit_.tran;
    const double gridStep = tran.step > 0.0 ? tran.step : span_ / 50.0;
    const double gridRows = RowSampler::gridRows(gridStep, tran.start, tran.stop);
    if (!(gridRows <= kMaxRows))
        throw SimulationError(".tran: TSTEP " + timeText(tran.step) + " s over " + timeText(tran.stop - tran.start) +
                              " s gives " + timeText(gridRows) + " rows, more than " + timeText(kMaxRows) +
                              "; choose a larger TSTEP");
    const double maxStep = tran.largestStep();
    if (!(span_ / maxStep <= kMaxSteps))
        throw SimulationError(".tran: the largest time step " + timeText(maxStep) + " s would take more than " +
                              timeText(kMaxSteps) + " steps over " + timeText(span_) + " s; choose a larger TMAX");
    steps_.emplace(span_, maxStep, circuit_.options.eventTolerance * span_);
    rows_.emplace(gridStep, tran.start, tran.stop, circuit_.options.printAllPoints, output_.rows);
    if (tagRows_) rows_->tagRows(&rowKinds_, !circuit_.prints.empty());
}

void TransientEngine::setUpColumns() {
    try {
        columns_.emplace(circuit_, static_cast<ColumnProbe&>(*this));
    } catch (const ColumnError& e) {
        throw SimulationError(e.what());
    }
    output_.columns = columns_->names();
}

void TransientEngine::setUpBreakpoints() {
    for (const Element& el : circuit_.elements)
        if (el.kind == Element::Kind::VoltageSource || el.kind == Element::Kind::CurrentSource)
            appendBreakpoints(el.waveform, circuit_.tran.stop, breakpoints_);
    breakpoints_.push_back(circuit_.tran.stop);
    std::sort(breakpoints_.begin(), breakpoints_.end());
    // Breakpoints closer than this are one: stepping between them gains nothing.
    const double merge = span_ * 1e-12;
    std::vector<double> kept;
    for (double b : breakpoints_)
        if (b > merge && (kept.empty() || b - kept.back() > merge)) kept.push_back(b);
    if (kept.empty() || kept.back() < circuit_.tran.stop) kept.push_back(circuit_.tran.stop);
    kept.back() = circuit_.tran.stop;
    breakpoints_ = std::move(kept);
}

bool TransientEngine::solvePoint(double time, const Discretisation& d, bool mayStop) {
    const auto result = newton_.solve(time, d, 0.0, time, mayStop ? &switchedOnFirst_ : nullptr);
    alternated_ = result == NewtonSolver::Result::Alternating;
    solved_ = result == NewtonSolver::Result::Converged || result == NewtonSolver::Result::Alternating;
    lastResult_ = result;
    switches_.readStates();
    const bool wentRound = result == NewtonSolver::Result::Alternating || result == NewtonSolver::Result::Cycling;
    if (!wentRound || switches_.stateChanged())
        return result == NewtonSolver::Result::Converged || switches_.stateChanged();
    // A switch controlled by what it switches may have no consistent state
    // here: the iterates alternate, or go round a longer cycle that turns it
    // over and back. The one at which its state changed is handed on, so
    // that the switching is located as usual.
    newton_.takeIterateBefore(time, d);
    switches_.readStates();
    if (switches_.stateChanged()) return true;
    if (result == NewtonSolver::Result::Cycling) return false;
    // So may a B source's comparison that its own output moves within
    // rounding (a latch at its threshold): the iterate on the far side of
    // its switching is handed on, and the switching located as usual.
    if (newton_.behavioural().crossing(newton_.x().data(), time)) return true;
    newton_.takeIterateBefore(time, d);
    switches_.readStates();
    return newton_.behavioural().crossing(newton_.x().data(), time).has_value();
}

void TransientEngine::acceptPoint(double time, const Discretisation& d, bool smooth) {
    const bool operatingPoint = d.kind == Discretisation::Kind::OperatingPoint;
    newton_.accept(time, d, smooth);
    const size_t before = output_.events.size();
    bool switched = switches_.accept(time, operatingPoint, *steps_, output_.events);
    // A B source's discontinuity that took another branch is a switching of its own.
    if (!operatingPoint)
        for (const BehaviouralStamps::Switching& b : newton_.behavioural().switched()) {
            output_.events.push_back({time, circuit_.elements[b.element].name, b.state});
            switched = true;
        }
    output_.stats.events += static_cast<long>(output_.events.size() - before);
    for (const auto& [node, trajectory] : recorded_)
        trajectory->record(time, newton_.x()[static_cast<size_t>(CircuitEquations::nodeUnknown(node))], switched);
    for (int source : inputSources_) {
        // Only a plug-in can put current into a node it reads without a
        // matrix entry there; the block upstream would not see it.
        const double current = newton_.x()[static_cast<size_t>(equations_.branchUnknown(source))];
        if (std::abs(current) > kInputCurrentLimit) throw InputDrivenError(circuit_.elements[static_cast<size_t>(source)].name);
    }
    try {
        rows_->add(columns_->row(time), switched);
    } catch (const ColumnError& e) {  // a plug-in output that is not a number
        throw SimulationError(e.what());
    }
}

// An inductor across a source (a transformer's primary on the mains) is a
// loop without an equation for its current at DC; SPICE's fallbacks find the
// current the source's value at the start gives. Solved again with a
// resistance in each inductor that only the operating point sees.
NewtonSolver::Result TransientEngine::solveOperatingPointWithGmin(double pluginTime) {
    const Discretisation dc{Discretisation::Kind::OperatingPoint, 0.0};
    NewtonSolver::Result result = NewtonSolver::Result::Failed;
    try {
        result = newton_.solve(startTime_, dc, kGmin, pluginTime);
    } catch (const SingularOperatingPoint&) {
        if (inductorDcResistance_ || !equations_.hasInductors()) throw;
        result = solveWithInductorDcResistance(pluginTime);
    }
    return result == NewtonSolver::Result::Converged ? result : stepToOperatingPoint(pluginTime);
}

NewtonSolver::Result TransientEngine::solveWithInductorDcResistance(double pluginTime) {
    const Discretisation dc{Discretisation::Kind::OperatingPoint, 0.0};
    inductorDcResistance_ = true;
    equations_.setInductorDcResistance(kInductorDcResistance);
    messages_ << "warning: the operating point's matrix is singular; solved again with " << kInductorDcResistance
              << " ohm in series with each inductor (a loop of inductors and voltage sources)\n";
    const NewtonSolver::Result result = newton_.solve(startTime_, dc, kGmin, pluginTime);
    if (result == NewtonSolver::Result::Converged)
        if (const Element* l = equations_.inductorDrivenAcrossDcResistance(newton_.x().data(), circuit_.options.vntol))
            throw SimulationError("no DC operating point: " + l->name +
                                  " is in a loop of inductors and voltage sources that do not sum to zero at the "
                                  "start, so its current has no DC value; try UIC");
    return result;
}

// Where Newton from the first guess does not converge (an amplifier's bias
// network, a latch), the ways SPICE takes: gmin stepping, then source
// stepping. Each step starts from the last one's solution; the guess and the
// limit on a solve's iterations are put back afterwards.
NewtonSolver::Result TransientEngine::stepToOperatingPoint(double pluginTime) {
    const Discretisation dc{Discretisation::Kind::OperatingPoint, 0.0};
    const Options& o = circuit_.options;
    const std::vector<double> guess = newton_.xPrev();
    const RunStats& stats = output_.stats;
    auto solve = [&](double gmin, double sourceFactor, int iterations, const OperatingPointSearch::Point& from)
        -> std::optional<OperatingPointSearch::Solution> {
        equations_.setSourceFactor(sourceFactor);
        newton_.setOperatingPointIterations(iterations);
        newton_.xPrev() = from;
        const long before = stats.newtonIterations;
        try {
            if (newton_.solve(startTime_, dc, gmin, pluginTime) != NewtonSolver::Result::Converged) return std::nullopt;
        } catch (const SingularOperatingPoint&) {  // a wild iterate's pivot: that step failed
            return std::nullopt;
        }
        return OperatingPointSearch::Solution{newton_.x(), static_cast<int>(stats.newtonIterations - before)};
    };
    std::optional<OperatingPointSearch::Found> found;
    {
        const FromIterate fromIterate(newton_);
        const struct Restore {
            TransientEngine& e;
            ~Restore() {
                e.equations_.setSourceFactor(1.0);
                e.newton_.setOperatingPointIterations(e.circuit_.options.operatingPointIterations);
            }
        } restore{*this};
        found = OperatingPointSearch(solve, kGmin, o.steppingIterations).run(guess);
    }
    newton_.xPrev() = guess;
    if (!found) return NewtonSolver::Result::Failed;
    // Said once for the run, though the point at the start time may need it too.
    if (!std::exchange(steppedToOperatingPoint_, true))
        messages_ << "note: the operating point was found by "
              << (found->way == OperatingPointSearch::Way::GminStepping ? "gmin" : "source") << " stepping\n";
    return NewtonSolver::Result::Converged;
}

// GMIN from every node to ground only helps the operating point to be
// found; as in SPICE, the point taken has none: a node that reaches ground
// only through junctions (a rectifier's floating neutral, a diode into an
// open node) sits where their own currents balance, not where a picosiemens
// to ground pulls it. Solved again without it from that solution; a circuit
// that needs it (a node held by capacitors alone) keeps the first.
NewtonSolver::Result TransientEngine::solveOperatingPoint(double pluginTime) {
    const NewtonSolver::Result first = solveOperatingPointWithGmin(pluginTime);
    if (first != NewtonSolver::Result::Converged) return first;
    const Discretisation dc{Discretisation::Kind::OperatingPoint, 0.0};
    auto& x = newton_.x();
    auto& xPrev = newton_.xPrev();
    const std::vector<double> start = xPrev, withGmin = x;
    xPrev = withGmin;
    NewtonSolver::Result result = NewtonSolver::Result::Failed;
    try {
        const FromIterate fromIterate(newton_);
        result = newton_.solve(startTime_, dc, 0.0, pluginTime);
    } catch (const SingularOperatingPoint&) {
    }
    if (result != NewtonSolver::Result::Converged) {
        // The instances' last evaluation must be at the point kept.
        result = newton_.solve(startTime_, dc, kGmin, pluginTime);
    }
    xPrev = start;
    return result;
}

void TransientEngine::initialPoint() {
    const Discretisation dc{Discretisation::Kind::OperatingPoint, 0.0};
    const bool uic = circuit_.tran.uic;
    // Every instance is evaluated and accepted once before the start time,
    // so that it starts in its initial state, then once at the start time.
    const double before = startTime_ - std::max(span_, 1e-9);
    auto& x = newton_.x();
    auto& xPrev = newton_.xPrev();
    std::fill(xPrev.begin(), xPrev.end(), 0.0);
    for (const auto& [node, v] : circuit_.nodesets) xPrev[static_cast<size_t>(node - 1)] = v;  // first guess
    if (uic) {
        equations_.applyInitialConditions(xPrev.data());
        equations_.applySourceValues(xPrev.data(), startTime_);
        std::copy(xPrev.begin(), xPrev.end(), x.begin());
        newton_.evaluateInstances(x.data(), before, dc);
        for (const auto& instance : plugins_.instances()) instance->accept();
        newton_.evaluateInstances(x.data(), startTime_, dc);
    } else {
        if (solveOperatingPoint(before) != NewtonSolver::Result::Converged)
            throw SimulationError("no DC operating point found; try UIC");
        for (const auto& instance : plugins_.instances()) instance->accept();
        std::copy(x.begin(), x.end(), xPrev.begin());
        if (solveOperatingPoint(startTime_) != NewtonSolver::Result::Converged)
            throw SimulationError("no DC operating point found at the start time; try UIC");
    }
    // The state each instance has at the start time is where it starts, not an event.
    switches_.readStates();
    switches_.adoptStates();
    acceptPoint(startTime_, dc);
    equations_.startFrom(x.data(), uic);
}

std::vector<double> TransientEngine::stiffReduction(std::vector<double> errors, const Discretisation& d, int times) {
    return equations_.stiffReduction(std::move(errors), d, times,
                                     [this](double* rhs) { return newton_.solveWithLatestFactor(rhs); });
}

double TransientEngine::firstStepLimit(const Discretisation& d) {
    // Asked when the trial is checked and again when it is accepted.
    if (firstLimitOfTrial_) return *firstLimitOfTrial_;
    // The stiff modes start at their full amplitude: filtered twice.
    const double* x = newton_.x().data();
    const bool oldFlows = loop_.restart.switchedOnOldStamps();
    const std::vector<double> reduction = stiffReduction(equations_.firstStepErrors(x, d, oldFlows), d, 2);
    firstLimitOfTrial_ = equations_.stepAfterFirst(x, d, circuit_.options, oldFlows, reduction.data());
    return *firstLimitOfTrial_;
}

void TransientEngine::advanceTo(double until) {
    const double minStep = steps_->minStep();
    until = std::min(until, circuit_.tran.stop);
    while (until - loop_.t > minStep) step(until);
}

void TransientEngine::advancePast(double until) {
    const double minStep = steps_->minStep(), stop = circuit_.tran.stop;
    while (loop_.t < until && stop - loop_.t > minStep) step(stop);
}

void TransientEngine::start() {
    const TranSpec& tran = circuit_.tran;
    if (!tran.given || !(tran.stop > 0.0)) throw SimulationError("no transient analysis (.tran) with a stop time");
    span_ = tran.stop;
    startTime_ = 0.0;
    setUpLimits();
    plugins_.createInstances();
    switches_.setUp();
    switches_.setStateUnknowns(equations_.stateUnknowns());
    switches_.setSignalUnknowns(signalUnknowns());
    newton_.setUp();
    newton_.setStartTime(startTime_);
    setUpColumns();
    setUpBreakpoints();
    initialPoint();
    const Options::Method method = circuit_.options.method;
    secondOrder_ = method == Options::Method::Trapezoidal ? Discretisation::Kind::Trapezoidal
                   : method == Options::Method::Gear      ? Discretisation::Kind::Gear
                                                          : Discretisation::Kind::BackwardEuler;
    const StepController& steps = *steps_;
    loop_ = LoopState{};
    loop_.t = startTime_;
    loop_.bracket = kInfinity;
    loop_.h = steps.afterSwitching(steps.maxStep());
    loop_.restart.pace = loop_.restart.lastFullStep = steps.maxStep();
}

SimulationOutput TransientEngine::finish() {
    if (progress_) progress_(1.0);
    plugins_.releaseAll();
    output_.stats.watchEvaluations = switches_.evaluations();
    return std::move(output_);
}

SimulationOutput TransientEngine::run() {
    start();
    advanceTo(circuit_.tran.stop);
    return finish();
}

}  // namespace udmhost::sim
