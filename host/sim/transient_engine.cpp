#include "sim/transient_engine.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "sim/time_text.h"
#include "sim/finite_values.h"
#include "sim/waveform_eval.h"

namespace udmhost::sim {

namespace {

constexpr double kGmin = 1e-12;  // from every node to ground, operating point only
constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Of the interval an instant was located in: the error of the estimate is
// well below this.
constexpr double kLocateMargin = 1e-4;
constexpr double kMaxSteps = 1e9;

}  // namespace

TransientEngine::TransientEngine(const Circuit& circuit, std::ostream& messages, const ProgressFn& progress,
                                 double maxRows)
    : circuit_(circuit),
      messages_(messages),
      progress_(progress),
      expressions_(circuit.params),
      router_(messages, expressions_),
      plugins_(circuit, router_),
      equations_(circuit),
      newton_(circuit, equations_, plugins_, expressions_, output_.stats),
      switches_(plugins_, newton_, expressions_),
      maxRows_(maxRows) {}

void TransientEngine::setUpLimits() {
    const TranSpec& tran = circuit_.tran;
    const double gridStep = tran.step > 0.0 ? tran.step : span_ / 50.0;
    const double gridRows = RowSampler::gridRows(gridStep, tran.start, tran.stop);
    if (!(gridRows <= maxRows_))
        throw SimulationError(".tran: TSTEP " + timeText(tran.step) + " s over " + timeText(tran.stop - tran.start) +
                              " s gives " + timeText(gridRows) + " rows, more than " + timeText(maxRows_) +
                              "; choose a larger TSTEP");
    const double maxStep = tran.maxStep > 0.0 ? tran.maxStep : std::min(gridStep, span_ / 50.0);
    if (!(span_ / maxStep <= kMaxSteps))
        throw SimulationError(".tran: the largest time step " + timeText(maxStep) + " s would take more than " +
                              timeText(kMaxSteps) + " steps over " + timeText(span_) + " s; choose a larger TMAX");
    steps_.emplace(span_, maxStep, circuit_.options.eventTolerance * span_);
    rows_.emplace(gridStep, tran.start, tran.stop, circuit_.options.printAllPoints, output_.rows);
}

void TransientEngine::setUpColumns() {
    try {
        columns_.emplace(circuit_, static_cast<ColumnProbe&>(*this));
    } catch (const ColumnError& e) {
        throw SimulationError(e.what());
    }
    output_.columns = columns_->names();
}

int TransientEngine::nodeUnknown(int node) const { return CircuitEquations::nodeUnknown(node); }

int TransientEngine::branchUnknown(int element) const { return equations_.branchUnknown(element); }

double TransientEngine::unknownValue(int unknown) const {
    return newton_.x()[static_cast<size_t>(unknown)];
}

double TransientEngine::sourceValue(int element, double time) const { return equations_.sourceValue(element, time); }

int TransientEngine::pluginInstance(int element) const { return plugins_.instanceOfElement(element); }

int TransientEngine::resolveOutput(int instance, const std::string& output) {
    return plugins_.instances()[static_cast<size_t>(instance)]->resolveOutput(output);
}

double TransientEngine::pluginOutput(int instance, int outputIndex) {
    return plugins_.instances()[static_cast<size_t>(instance)]->output(outputIndex, newton_.simulationRecord());
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

bool TransientEngine::solvePoint(double time, const Discretisation& d) {
    const auto result = newton_.solve(time, d, 0.0, time);
    switches_.readStates();
    if (result != NewtonSolver::Result::Alternating || switches_.stateChanged())
        return result == NewtonSolver::Result::Converged || switches_.stateChanged();
    // A switch controlled by what it switches may have no consistent state
    // here: the iterates alternate. The one at which its state changed is
    // handed on, so that the switching is located as usual.
    newton_.takeIterateBefore(time, d);
    switches_.readStates();
    return switches_.stateChanged();
}

void TransientEngine::acceptPoint(double time, const Discretisation& d, bool smooth) {
    const bool operatingPoint = d.kind == Discretisation::Kind::OperatingPoint;
    newton_.accept(time, d, smooth);
    const size_t before = output_.events.size();
    const bool switched = switches_.accept(time, operatingPoint, *steps_, output_.events);
    output_.stats.events += static_cast<long>(output_.events.size() - before);
    try {
        rows_->add(columns_->row(time), switched);
    } catch (const ColumnError& e) {  // a plug-in output that is not a number
        throw SimulationError(e.what());
    }
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
        if (newton_.solve(startTime_, dc, kGmin, before) != NewtonSolver::Result::Converged)
            throw SimulationError("no DC operating point found; try UIC");
        for (const auto& instance : plugins_.instances()) instance->accept();
        std::copy(x.begin(), x.end(), xPrev.begin());
        if (newton_.solve(startTime_, dc, kGmin, startTime_) != NewtonSolver::Result::Converged)
            throw SimulationError("no DC operating point found at the start time; try UIC");
    }
    // The state each instance has at the start time is where it starts, not an event.
    switches_.readStates();
    switches_.adoptStates();
    acceptPoint(startTime_, dc);
    equations_.startFrom(x.data(), uic);
}

void TransientEngine::timeLoop() {
    const Options& o = circuit_.options;
    const double stop = circuit_.tran.stop;
    const StepController& steps = *steps_;
    const double minStep = steps.minStep(), eventTolerance = steps.eventTolerance();
    const auto secondOrder = o.method == Options::Method::Trapezoidal ? Discretisation::Kind::Trapezoidal
                             : o.method == Options::Method::Gear      ? Discretisation::Kind::Gear
                                                                      : Discretisation::Kind::BackwardEuler;

    double t = startTime_, bracket = kInfinity;
    double h = steps.afterSwitching(steps.maxStep());
    double lastFullStep = steps.maxStep();  // the last step not shortened to locate a switching
    int stepsSinceRestart = 0, locatesFromHere = 0;
    size_t nextBreakpoint = 0;
    double reported = -1.0;
    while (stop - t > minStep) {
        while (nextBreakpoint + 1 < breakpoints_.size() && breakpoints_[nextBreakpoint] <= t + minStep) ++nextBreakpoint;
        const double limit = std::min(breakpoints_[nextBreakpoint], bracket);
        double step = std::min({h, steps.maxStep(), limit - t});
        const bool onLimit = step >= limit - t - minStep;
        const double next = onLimit ? limit : t + step;
        step = next - t;
        if (!(step > 0.0)) throw SimulationError("time step too small at time " + timeText(t));
        // Backward Euler for the first two steps after a restart, which
        // leave the history the second-order methods need.
        const Discretisation d{stepsSinceRestart >= 2 ? secondOrder : Discretisation::Kind::BackwardEuler, step,
                               newton_.tPrev() - newton_.tOlder()};
        auto reject = [&](double newStep) {
            ++output_.stats.rejected;
            if (newStep < minStep) throw SimulationError("time step too small at time " + timeText(t));
            h = newStep;
        };
        const bool solved = solvePoint(next, d);
        if (!solved) {
            reject(step / 8.0);
            continue;
        }
        if (switches_.stateChanged()) {
            if (step > eventTolerance) {
                // Locate the instant on the trajectory of the accepted
                // stamps (a parabola through points much closer together
                // than the step would only extrapolate their rounding), then
                // step to just before it and across it.
                const bool parabola = stepsSinceRestart >= 1 && t - newton_.tOlder() >= 0.1 * step;
                const auto found = switches_.locate(t, step, eventTolerance, parabola);
                ++output_.stats.rejected;
                if (!found) {
                    bracket = next;
                    reject(step / 2.0);
                    continue;
                }
                // The second trial ends a little past the estimate, by more
                // than its own error, so that it brackets the instant tightly.
                const double past = kLocateMargin * found->first * step;
                bracket = t + found->second * step + (past > eventTolerance ? past : 0.0);
                // An estimate that keeps falling short is bisected instead.
                const double before = found->first * step * (++locatesFromHere > 2 ? 0.5 : 1.0);
                h = before > minStep ? before : bracket - t;
                if (h < minStep) throw SimulationError("time step too small at time " + timeText(t));
                continue;
            }
            acceptPoint(next, d);
            ++output_.stats.accepted;
            t = next;
            locatesFromHere = 0;
            bracket = kInfinity;
            stepsSinceRestart = 0;  // a fresh backward Euler step after the switching
            h = steps.afterSwitching(lastFullStep);
            continue;
        }
        double ratio = kInfinity;
        // Steps across a located instant are tiny by construction: their
        // divided differences are rounding noise.
        const bool tiny = step <= 16.0 * eventTolerance;
        if (stepsSinceRestart >= 1 && !tiny) {
            ratio = equations_.truncationRatio(newton_.x().data(), d, o);
            if (ratio < 0.9) {
                reject(steps.afterRejected(step, ratio));
                continue;
            }
        }
        acceptPoint(next, d, stepsSinceRestart >= 1);
        ++output_.stats.accepted;
        t = next;
        locatesFromHere = 0;
        ++stepsSinceRestart;
        if (!tiny && bracket == kInfinity) lastFullStep = step;
        // A step cut short by a limit says nothing about the step wanted.
        h = onLimit ? std::min(h, 0.9 * ratio * step)
                    : steps.afterAccepted(step, ratio, d.kind != Discretisation::Kind::BackwardEuler);
        if (next == breakpoints_[nextBreakpoint] && next < stop) {
            stepsSinceRestart = 0;
            h = std::min(steps.afterSwitching(lastFullStep), 0.1 * (breakpoints_[nextBreakpoint + 1] - next));
        }
        // The next trial ends at the bracket of a located switching (the
        // limit), unless the switching did not show there after all.
        if (bracket - t <= minStep) {
            if (onLimit) h = std::min(h, steps.afterMissedBracket(step));
            bracket = kInfinity;
        }
        if (progress_ && t - reported >= 0.01 * span_) {
            reported = t;
            progress_(t / stop);
        }
    }
    if (progress_) progress_(1.0);
}

SimulationOutput TransientEngine::run() {
    const TranSpec& tran = circuit_.tran;
    if (!tran.given || !(tran.stop > 0.0)) throw SimulationError("no transient analysis (.tran) with a stop time");
    span_ = tran.stop;
    startTime_ = 0.0;
    setUpLimits();
    plugins_.createInstances();
    switches_.setUp();
    newton_.setUp();
    newton_.setStartTime(startTime_);
    setUpColumns();
    setUpBreakpoints();
    initialPoint();
    timeLoop();
    plugins_.releaseAll();
    return std::move(output_);
}

}  // namespace udmhost::sim
