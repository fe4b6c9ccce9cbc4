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
// Of the step an instant was located on: how far short of the estimate the
// step to it ends. The estimates on long trapezoidal steps through an
// algebraic node fall late by up to a few 1e-4 of the step.
constexpr double kApproachMargin = 3e-4;
// A switching is predicted from the last three accepted points over a trial
// at most this many times their span: further on the parabola says little.
constexpr double kPredictReach = 4.0;
// Of the event tolerance: a relocated instant whose likely error is at most
// this is stepped onto directly, the trial ending this far past its estimate.
constexpr double kAimError = 0.45, kAimPast = 0.45;
// Rows beyond a memory budget go to a temporary file, so the disk bounds
// them; a grid finer than this is a mistake, not a run to start.
constexpr double kMaxRows = 1e9, kMaxSteps = 1e9;
// A source following an upstream node carries at most this (amperes).
constexpr double kInputCurrentLimit = 1e-9;

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
    const double maxStep = tran.maxStep > 0.0 ? tran.maxStep : std::min(gridStep, span_ / 50.0);
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

bool TransientEngine::solvePoint(double time, const Discretisation& d) {
    const auto result = newton_.solve(time, d, 0.0, time);
    alternated_ = result == NewtonSolver::Result::Alternating;
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

void TransientEngine::retryShortOf(const std::pair<double, double>& found, double step) {
    LoopState& s = loop_;
    const double minStep = steps_->minStep(), eventTolerance = steps_->eventTolerance();
    // The second trial ends a little past the estimate, by more than its own
    // error, so that it brackets the instant tightly.
    const double past = kLocateMargin * found.first * step;
    s.bracket = s.t + found.second * step + (past > eventTolerance ? past : 0.0);
    // The first trial ends short of the estimate, which may fall a little
    // late (its point is then located again from there without a solve); an
    // estimate that keeps failing is bisected.
    const double before = ++s.locatesFromHere > 2 ? 0.5 * found.first * step
                                                   : std::max(found.first - kApproachMargin, 0.5 * found.first) * step;
    s.h = before > minStep ? before : s.bracket - s.t;
    if (s.h < minStep) throw SimulationError("time step too small at time " + timeText(s.t));
}

void TransientEngine::step(double until) {
    const Options& o = circuit_.options;
    const double stop = circuit_.tran.stop;
    const StepController& steps = *steps_;
    const double minStep = steps.minStep(), eventTolerance = steps.eventTolerance();
    LoopState& s = loop_;
    while (s.nextBreakpoint + 1 < breakpoints_.size() && breakpoints_[s.nextBreakpoint] <= s.t + minStep)
        ++s.nextBreakpoint;
    const double limit = std::min({breakpoints_[s.nextBreakpoint], s.bracket, until});
    double step = std::min({s.h, steps.maxStep(), limit - s.t});
    bool onLimit = step >= limit - s.t - minStep;
    double next = onLimit ? limit : s.t + step;
    // A switching that the last three points show ahead is approached
    // without a trial across it, as one that a trial showed.
    if (s.bracket == kInfinity && s.predict && s.stepsSinceRestart >= 2 && next - s.t > eventTolerance &&
        next - s.t <= kPredictReach * (s.t - newton_.tOldest()))
        if (const auto ahead = switches_.predict(next, eventTolerance)) {
            const double at = ahead->first - s.t, past = kLocateMargin * at;
            const double before = std::max(at - kApproachMargin * (next - s.t), 0.5 * at);
            const bool across = ahead->second - s.t <= 0.99 * eventTolerance;
            s.bracket = std::max(ahead->second + (past > eventTolerance ? past : 0.0), s.t + 0.99 * eventTolerance);
            next = across ? s.bracket : s.t + before;
            onLimit = true;
        }
    step = next - s.t;
    if (!(step > 0.0)) throw SimulationError("time step too small at time " + timeText(s.t));
    // Backward Euler for the first two steps after a restart, which
    // leave the history the second-order methods need; the trapezoidal rule
    // needs only the last derivative, which a first step far shorter than
    // the circuit's time scale gives (see s.trapezoidalNext), and the
    // second-order backward difference only the charges (s.gearNext).
    using Kind = Discretisation::Kind;
    const bool secondStep = s.stepsSinceRestart == 1;
    const Kind kind = s.stepsSinceRestart >= 2              ? secondOrder_
                      : secondStep && s.trapezoidalNext ? secondOrder_
                      : secondStep && s.gearNext        ? Kind::Gear
                                                        : Kind::BackwardEuler;
    const Discretisation d{kind, step, newton_.tPrev() - newton_.tOlder()};
    auto reject = [&](double newStep) {
        ++output_.stats.rejected;
        s.slowStretch = false;
        if (newStep < minStep)
            throw SimulationError(newton_.singularReason().empty() ? "time step too small at time " + timeText(s.t)
                                                                    : newton_.singularReason());
        s.h = newStep;
    };
    const bool solved = solvePoint(next, d);
    if (!solved) {
        reject(step / 8.0);
        return;
    }
    const bool aimed = s.aimed;
    s.aimed = false;
    if (!switches_.stateChanged() && behaviouralSwitching(next, d, step)) return;
    if (switches_.stateChanged()) {
        if (step > eventTolerance) {
            // Locate the instant on the trajectory of the accepted stamps
            // (a parabola through points much closer together than the step
            // would only extrapolate their rounding), then step to just
            // before it and across it, unless the trial was aimed just past
            // it and shows it within the event tolerance of its end.
            const bool parabola = s.stepsSinceRestart >= 1 && s.t - newton_.tOlder() >= 0.1 * step;
            const auto found = switches_.locate(s.t, step, eventTolerance, parabola);
            const bool atEnd = aimed && found && (1.0 - found->first) * step <= eventTolerance;
            if (atEnd) {
                // Locating evaluated the switching instances short of the
                // point it accepts; the others still hold its solution.
                newton_.evaluateInstances(newton_.x().data(), next, d, &switches_.locatedInstances());
                switches_.readStates();
            } else {
                ++output_.stats.rejected;
                s.slowStretch = false;
                if (!found) {
                    s.bracket = next;
                    reject(step / 2.0);
                } else {
                    retryShortOf(*found, step);
                }
                return;
            }
        }
        acceptSwitchingPoint(next, d, alternated_);
        switches_.forgetCrossing();
        return;
    }
    double ratio = kInfinity;
    // Steps across a located instant are tiny by construction: their
    // divided differences are rounding noise.
    const bool tiny = step <= 16.0 * eventTolerance;
    if (s.stepsSinceRestart >= 1 && !tiny) {
        // The second-order estimate needs three points after the switching;
        // until then the first-order one bounds a trapezoidal step's error
        // from above (by some six times the circuit's time constant over the
        // step), and a backward difference step's is estimated from the
        // circuit's own flows at both its ends.
        const Discretisation firstOrder{Kind::BackwardEuler, d.step, d.previous};
        const double* x = newton_.x().data();
        ratio = !secondStep               ? equations_.truncationRatio(x, d, o)
                : d.kind == Kind::Gear ? equations_.ratioFromEndFlows(x, d, o)
                                          : equations_.truncationRatio(x, firstOrder, o);
        if (!newton_.mosfets().empty())
            ratio = std::min(ratio, newton_.mosfets().truncationRatio(d, o, secondStep && d.kind != Kind::Gear));
        if (ratio < 0.9) {
            // A backward difference's error coefficient grows as its step
            // shrinks against the one before: its error falls about as the
            // step, not its square.
            reject(steps.afterRejected(step, d.kind == Kind::Gear && secondStep ? ratio * ratio : ratio));
            return;
        }
    }
    // The first step after a switching shows how fast the circuit now is.
    const bool firstAfterSwitching = s.stepsSinceRestart == 0 && s.restartedBySwitching;
    const double firstLimit =
        firstAfterSwitching ? equations_.stepAfterFirst(newton_.x().data(), d, o, s.switchedOnOldStamps) : kInfinity;
    acceptPoint(next, d, s.stepsSinceRestart >= 1);
    ++output_.stats.accepted;
    s.t = next;
    s.locatesFromHere = 0;
    ++s.stepsSinceRestart;
    if (!tiny && s.bracket == kInfinity) s.lastFullStep = step;
    // A step cut short by a limit says nothing about the step wanted.
    s.h = onLimit ? std::min(s.h, 0.9 * ratio * step)
                  : steps.afterAccepted(step, ratio, d.kind != Discretisation::Kind::BackwardEuler);
    s.trapezoidalNext = s.gearNext = false;
    if (firstAfterSwitching) {
        // Into a slow stretch, the first step's flow is the circuit's at its
        // end to a share of the step over the time scale: the trapezoidal
        // rule may go on from it at once, with a long step.
        s.slowStretch = steps.intoSlowStretch(step, firstLimit);
        s.trapezoidalNext = s.slowStretch && secondOrder_ == Kind::Trapezoidal;
        // A switching point solved on the old stamps gives no flow to
        // estimate the step from (its jump is no curvature): the second step
        // is a backward difference, of second order from the charges alone,
        // at a ratio to the first at which it is stable.
        s.gearNext = !s.trapezoidalNext && s.switchedOnOldStamps && secondOrder_ == Kind::Trapezoidal;
        s.h = s.gearNext ? steps.backwardDifferenceAfter(step)
                         : steps.afterFirstStep(step, firstLimit, s.trapezoidalNext);
    } else if (s.slowStretch && !onLimit) {
        s.h = std::max(s.h, steps.inSlowStretch(step, ratio));
    } else if (s.restartedBySwitching && !onLimit && steps.intoSlowStretch(step, ratio * step)) {
        // The second step's estimate shows the slow stretch the first
        // one's may not (its flow at the switching may be the old one's).
        s.slowStretch = true;
        s.h = std::max(s.h, steps.inSlowStretch(step, ratio));
    }
    if (s.h >= steps.maxStep()) s.slowStretch = false;
    if (!firstAfterSwitching) s.restartedBySwitching = false;
    if (next == breakpoints_[s.nextBreakpoint] && next < stop) {
        for (const auto& recorded : recorded_) recorded.second->markCorner();
        s.stepsSinceRestart = 0;
        s.h = std::min(steps.afterSwitching(s.lastFullStep), 0.1 * (breakpoints_[s.nextBreakpoint + 1] - next));
    }
    // The next trial ends at the bracket of a located switching (the
    // limit), unless the switching did not show there after all.
    s.predict = true;
    if (aimed && s.bracket - s.t <= minStep) {
        // Aimed just past a switching that did not show: it lies a little
        // later, within reach of a step across.
        s.bracket = s.t + 0.99 * eventTolerance;
        s.h = s.bracket - s.t;
    } else if (s.bracket - s.t <= minStep) {
        if (onLimit) s.h = std::min(s.h, steps.afterMissedBracket(step));
        // A switching that did not show where it was expected is not
        // predicted again at once: a parabola grazing a threshold would
        // keep predicting it.
        s.predict = !onLimit;
        s.bracket = kInfinity;
        switches_.forgetCrossing();
    } else if (s.bracket != kInfinity) {
        // Just short of a located instant: it is found again from here
        // on the trial that showed it, which is far more exact this close.
        if (const auto again = switches_.relocate(eventTolerance, d.kind != Discretisation::Kind::BackwardEuler)) {
            // The step across spans nearly the whole event tolerance and
            // starts a third of it short of the estimate, so that an
            // estimate a little off either way still shows the switching
            // on it; within reach of this point it starts here.
            // A re-predicted instant whose likely error is well above the
            // event tolerance is approached by that error (at most half way).
            const double error = switches_.relocationError();
            const double margin = error > 10.0 * eventTolerance ? std::min(error, 0.5 * (again->first - s.t))
                                                                : 0.3 * eventTolerance;
            const double before = again->first - margin - s.t, past = kLocateMargin * before;
            const bool across = before <= 0.1 * eventTolerance || again->second - s.t <= 0.99 * eventTolerance;
            // An instant known this well is stepped onto at once: the trial
            // ends just past it and shows it within the event tolerance of
            // its end, which makes its point the switching's.
            s.aimed = !across && error <= kAimError * eventTolerance && switches_.relocationReliable();
            const double from = across ? s.t : s.t + before;
            s.bracket = s.aimed ? again->second + kAimPast * eventTolerance
                                : std::max(again->second + (past > eventTolerance ? past : 0.0),
                                           from + 0.99 * eventTolerance);
            s.h = across || s.aimed ? s.bracket - s.t : before;
        }
    }
    if (progress_ && s.t - s.reported >= 0.01 * span_) {
        s.reported = s.t;
        progress_(s.t / stop);
    }
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
    loop_.lastFullStep = steps.maxStep();
}

SimulationOutput TransientEngine::finish() {
    if (progress_) progress_(1.0);
    plugins_.releaseAll();
    return std::move(output_);
}

SimulationOutput TransientEngine::run() {
    start();
    advanceTo(circuit_.tran.stop);
    return finish();
}

}  // namespace udmhost::sim
