// The time loop's trial step: where it ends, what a switching on it does,
// whether its error allows it, and the step after it.
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "sim/time_text.h"
#include "sim/transient_engine.h"

namespace udmhost::sim {

namespace {

// Trials between two reports of progress where time hardly advances.
constexpr int kTrialsPerReport = 1024;
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
// A step may grow fivefold, and the trial after it then reaches some 4.2
// times the span: a reach of 4 left every such trial unpredicted.
constexpr double kPredictReach = 6.0;
// Of the event tolerance: a relocated instant whose likely error is at most
// this is stepped onto directly, the trial ending this far past its estimate.
constexpr double kAimError = 0.45, kAimPast = 0.45;

// Of the longest first step after a switching its estimate allows: a
// longer one is taken again.
constexpr double kFirstStepSlack = 3.0;

// Of an instant extrapolated to a zero step: where the trial after it ends.
constexpr double kExtrapolatedShort = 0.9;

// Steps across a located instant are tiny by construction: their divided
// differences are rounding noise.
bool tinyStep(double step, double eventTolerance) { return step <= 16.0 * eventTolerance; }

// A trial far longer than the time constant a switching left reaches the end
// of that node's exponential at once, so the instant located on its chord
// falls late by a share of the trial that stays the same when it is retried
// shorter (a diode that turns off picoseconds after its switch closed,
// located at 8.6 % of every retry). The estimate then moves in proportion to
// the step: two estimates from one point, extrapolated to a zero step, say
// where it stops. None when they do not shrink towards a point ahead, or
// say it lies within the event tolerance of this one (estimates in
// proportion to the step: a switch that cannot hold a state).
std::optional<double> instantAtZeroStep(double longStep, double longAt, double step, double at, double eventTolerance) {
    if (!(longStep > step) || !(longAt > at)) return std::nullopt;
    const double zero = (at * longStep - longAt * step) / (longStep - step);
    if (!(zero > eventTolerance && zero < at)) return std::nullopt;
    return zero;
}

}  // namespace

void TransientEngine::step(double until) {
    LoopState& s = loop_;
    // A stretch where trial after trial is rejected advances no time, yet
    // whoever watches the run's progress (and may stop it) must hear of it.
    if (progress_ && ++s.trialsSinceReport >= kTrialsPerReport) {
        s.trialsSinceReport = 0;
        progress_(s.t / circuit_.tran.stop);
    }
    const Trial trial = planned_ && planned_->first == until ? planned_->second : planTrial(until);
    planned_.reset();
    // A trial aimed just past a switching, or within the event tolerance,
    // ends at the switching: where a flow jumps there (an inductor's voltage
    // once a diode stops its current), the trapezoidal rule's end value is
    // the mirror of its start, a spike no circuit makes. Backward Euler over
    // so short a step costs nothing in accuracy.
    const bool endsOnSwitching = trial.step <= steps_->eventTolerance();
    const Discretisation d{endsOnSwitching ? Discretisation::Kind::BackwardEuler : s.restart.method(secondOrder_),
                           trial.step, newton_.tPrev() - newton_.tOlder()};
    firstLimitOfTrial_.reset();
    if (!solvePoint(trial.next, d, !s.aimed && trial.step > steps_->eventTolerance())) {
        rejectTrial(trial.step / 8.0);
        return;
    }
    const bool aimed = std::exchange(s.aimed, false);
    if (!switches_.stateChanged() && behaviouralSwitching(trial.next, d, trial.step)) return;
    if (switches_.onlySmoothChanged()) {
        onSmoothSwitching(trial, d);
        return;
    }
    if (switches_.stateChanged()) {
        onSwitching(trial, d, aimed);
        return;
    }
    const auto ratio = truncationRatio(trial, d);
    if (!ratio) return;
    acceptTrial(trial, d, *ratio);
    followBracket(trial, d, aimed);
    if (progress_ && s.t - s.reported >= 0.01 * span_) {
        s.reported = s.t;
        progress_(s.t / circuit_.tran.stop);
    }
}

TransientEngine::Trial TransientEngine::planTrial(double until) {
    const StepController& steps = *steps_;
    const double minStep = steps.minStep(), eventTolerance = steps.eventTolerance();
    LoopState& s = loop_;
    while (s.nextBreakpoint + 1 < breakpoints_.size() && breakpoints_[s.nextBreakpoint] <= s.t + minStep)
        ++s.nextBreakpoint;
    const double limit = std::min({breakpoints_[s.nextBreakpoint], s.bracket, until});
    Trial trial;
    trial.step = std::min({s.h, steps.maxStep(), limit - s.t});
    trial.onLimit = trial.step >= limit - s.t - minStep;
    trial.next = trial.onLimit ? limit : s.t + trial.step;
    trial.foreseen = s.bracket != kInfinity;
    // A switching that the last three points show ahead is approached
    // without a trial across it, as one that a trial showed; not from three
    // points within a few event tolerances of each other, whose parabola is
    // rounding noise (one that keeps predicting a switching just ahead keeps
    // the step from growing).
    const double span = s.t - newton_.tOldest();
    if (s.bracket == kInfinity && s.predict && s.restart.historyFor(2) && trial.next - s.t > eventTolerance &&
        !tinyStep(span, eventTolerance) && trial.next - s.t <= kPredictReach * span) {
        trial.foreseen = true;
        if (const auto ahead = switches_.predict(trial.next, eventTolerance)) {
            const double at = ahead->first - s.t, past = kLocateMargin * at;
            const double before = std::max(at - kApproachMargin * (trial.next - s.t), 0.5 * at);
            const bool across = ahead->second - s.t <= 0.99 * eventTolerance;
            s.bracket = std::max(ahead->second + (past > eventTolerance ? past : 0.0), s.t + 0.99 * eventTolerance);
            trial.next = across ? s.bracket : s.t + before;
            trial.onLimit = true;
        }
    }
    trial.step = trial.next - s.t;
    if (!(trial.step > 0.0)) throw SimulationError("time step too small at time " + timeText(s.t));
    return trial;
}

void TransientEngine::rejectTrial(double newStep) {
    ++output_.stats.rejected;
    loop_.restart.rejected();
    loop_.followUpAt = kInfinity;
    if (newStep < steps_->minStep())
        throw SimulationError(newton_.singularReason().empty() ? "time step too small at time " + timeText(loop_.t)
                                                                : newton_.singularReason());
    loop_.h = newStep;
}

void TransientEngine::onSwitching(const Trial& trial, const Discretisation& d, bool aimed) {
    LoopState& s = loop_;
    const double eventTolerance = steps_->eventTolerance();
    if (trial.step > eventTolerance) {
        // Locate the instant on the trajectory of the accepted stamps (a
        // parabola through points much closer together than the step would
        // only extrapolate their rounding), then step to just before it and
        // across it, unless the trial was aimed just past it and shows it
        // within the event tolerance of its end. Its point is then the
        // switching's only if Newton solved it: the last iterate of one
        // that did not is no solution (a switch node's capacitor would take
        // a charge that nothing supplied).
        const bool parabola = s.restart.historyFor(1) && s.t - newton_.tOlder() >= 0.1 * trial.step;
        const auto found = switches_.locate(s.t, trial.step, eventTolerance, parabola);
        const bool nearEnd = found && (1.0 - found->first) * trial.step <= eventTolerance;
        // A trial that stopped at its first solution and shows the instant
        // that close to its end is solved through: its point is then the
        // switching's, as an aimed one's is.
        const bool stoppedOnFirst = lastResult_ == NewtonSolver::Result::SwitchedOnFirst;
        const bool atEnd = nearEnd && ((aimed && solved_) || (stoppedOnFirst && solvedThrough(trial, d)));
        if (!atEnd) {
            if (!found) {
                s.bracket = trial.next;
                rejectTrial(trial.step / 2.0);
            } else {
                if (aimed && lastResult_ == NewtonSolver::Result::Cycling) switches_.aimWentRound();
                ++output_.stats.rejected;
                s.restart.rejected();
                retryShortOf(*found, trial.step);
            }
            return;
        }
        // Locating evaluated the switching instances short of the point it
        // accepts; the others still hold its solution.
        newton_.evaluateInstances(newton_.x().data(), trial.next, d, &switches_.locatedInstances());
        switches_.readStates();
    } else if (!solved_) {
        rejectTrial(trial.step / 8.0);
        return;
    }
    acceptSwitchingPoint(trial.next, d, alternated_);
    switches_.forgetCrossing();
}

bool TransientEngine::solvedThrough(const Trial& trial, const Discretisation& d) {
    return solvePoint(trial.next, d) && solved_ && switches_.stateChanged() && !switches_.onlySmoothChanged();
}

void TransientEngine::onSmoothSwitching(const Trial& trial, const Discretisation& d) {
    // A smooth instance turned on the trial (a diode at the end of its
    // recovery, its junction falling from forward bias to reverse within
    // nanoseconds). Its charge bounds the step, so the instant needs no
    // location; but the trapezoidal rule across that fall rings on the
    // junction's capacitance. The trial is solved again by backward Euler,
    // which damps, and the integration restarts from its point.
    // Either solution's error must allow the step: else a shorter trial
    // comes closer to the instant. Neither is one unless Newton solved it.
    if (!solved_) {
        rejectTrial(trial.step / 8.0);
        return;
    }
    if (!truncationRatio(trial, d)) return;
    const Discretisation firstOrder{Discretisation::Kind::BackwardEuler, d.step, d.previous};
    if (d.kind != Discretisation::Kind::BackwardEuler) {
        if (!solvePoint(trial.next, firstOrder) || !solved_) {
            rejectTrial(trial.step / 8.0);
            return;
        }
        if (!truncationRatio(trial, firstOrder)) return;
    }
    acceptSwitchingPoint(trial.next, firstOrder, false);
    switches_.forgetCrossing();
}

std::optional<double> TransientEngine::truncationRatio(const Trial& trial, const Discretisation& d) {
    RestartPolicy& restart = loop_.restart;
    if (tinyStep(trial.step, steps_->eventTolerance())) return kInfinity;
    if (!restart.historyFor(1)) {
        // The first step after a switching is sized from the pace before
        // it; its own error shows once it is taken. One far longer than its
        // estimate allows (which takes a jump of the flow on the old stamps
        // as curvature, so it may be cautious) is taken again, once.
        if (restart.firstAfterSwitching() && !restart.firstRetried()) {
            const double limit = firstStepLimit(d);
            // Never shorter than the fraction of the last full step that it
            // was before the pace set it.
            const double floor = steps_->afterSwitching(restart.lastFullStep);
            if (trial.step > std::max(kFirstStepSlack * limit, floor)) {
                restart.retryFirst();
                rejectTrial(std::max(steps_->allowedBy(limit, 1.0), floor));
                return std::nullopt;
            }
        }
        return kInfinity;
    }
    // The second-order estimate needs three points after the switching;
    // until then the first-order one bounds a trapezoidal step's error from
    // above (by some six times the circuit's time constant over the step),
    // and a backward difference step's is estimated from the circuit's own
    // flows at both its ends.
    using Kind = Discretisation::Kind;
    const Options& o = circuit_.options;
    const Discretisation firstOrder{Kind::BackwardEuler, d.step, d.previous};
    const double* x = newton_.x().data();
    const bool second = restart.secondStep();
    // A backward Euler step's estimate is filtered: it damps what it steps over.
    const std::vector<double> reduction = d.kind == Kind::BackwardEuler
                                              ? stiffReduction(equations_.backwardEulerErrors(x, d), d, 1)
                                              : std::vector<double>{};
    const double* filtered = reduction.empty() ? nullptr : reduction.data();
    double unfiltered = kInfinity;
    double ratio = !second               ? equations_.truncationRatio(x, d, o, filtered, &unfiltered)
                   : d.kind == Kind::Gear ? equations_.ratioFromEndFlows(x, d, o)
                                          : equations_.truncationRatio(x, firstOrder, o, filtered, &unfiltered);
    // Backward Euler goes on while a step passes only for what it damps:
    // the trapezoidal rule would ring on what is left of the fast mode, and
    // its estimate would take the jump in the history for curvature.
    restart.noteStiffStep(filtered != nullptr && ratio >= 0.9 && unfiltered < 0.9);
    // Transistor charges are the engine's own, not the equations' storage.
    if (!newton_.semiconductors().empty())
        ratio = std::min(ratio, newton_.semiconductors().truncationRatio(d, o, second && d.kind != Kind::Gear));
    // Nor are the charges plug-ins integrate themselves.
    if (const PluginCharges& charges = newton_.readPluginCharges(); !charges.empty())
        ratio = std::min(ratio, charges.truncationRatio(d, o, second && d.kind != Kind::Gear));
    if (ratio >= 0.9) return ratio;
    // A backward difference's error coefficient grows as its step shrinks
    // against the one before: its error falls about as the step, not its square.
    rejectTrial(steps_->afterRejected(trial.step, d.kind == Kind::Gear && second ? ratio * ratio : ratio));
    return std::nullopt;
}

void TransientEngine::acceptTrial(const Trial& trial, const Discretisation& d, double ratio) {
    const StepController& steps = *steps_;
    LoopState& s = loop_;
    // The first step after a switching shows how fast the circuit now is.
    const double firstLimit = s.restart.firstAfterSwitching() ? firstStepLimit(d) : kInfinity;
    acceptPoint(trial.next, d, s.restart.smoothHistory());
    ++output_.stats.accepted;
    s.t = trial.next;
    s.locatesFromHere = 0;
    if (!tinyStep(trial.step, steps.eventTolerance())) s.restart.notePace(steps, trial.step, ratio, s.bracket != kInfinity);
    const double wanted = trial.onLimit ? std::min(s.h, 0.9 * ratio * trial.step)
                                        : steps.afterAccepted(trial.step, ratio, d.kind != Discretisation::Kind::BackwardEuler);
    s.h = s.restart.accepted(steps, secondOrder_, trial.step, ratio, trial.onLimit, firstLimit, wanted);
    if (trial.next == breakpoints_[s.nextBreakpoint] && trial.next < circuit_.tran.stop) {
        for (const auto& recorded : recorded_) recorded.second->markCorner();
        s.restart.atCorner();
        s.h = std::min(steps.afterSwitching(s.restart.lastFullStep),
                       0.1 * (breakpoints_[s.nextBreakpoint + 1] - trial.next));
    }
}

void TransientEngine::followBracket(const Trial& trial, const Discretisation& d, bool aimed) {
    const double minStep = steps_->minStep(), eventTolerance = steps_->eventTolerance();
    LoopState& s = loop_;
    // The next trial ends at the bracket of a located switching (the
    // limit), unless the switching did not show there after all.
    s.predict = true;
    if (const double at = std::exchange(s.followUpAt, kInfinity); at != kInfinity && at - s.t > minStep) {
        // Just short of a chain's follow-up: aimed just past where it came
        // last time after its switching.
        s.aimed = true;
        s.bracket = at + kAimPast * eventTolerance;
        s.h = s.bracket - s.t;
    } else if (aimed && s.bracket - s.t <= minStep) {
        // Aimed just past a switching that did not show: it lies a little
        // later, within reach of a step across.
        s.bracket = s.t + 0.99 * eventTolerance;
        s.h = s.bracket - s.t;
    } else if (s.bracket - s.t <= minStep) {
        if (trial.onLimit) s.h = std::min(s.h, steps_->afterMissedBracket(trial.step));
        // A switching that did not show where it was expected is not
        // predicted again at once: a parabola grazing a threshold would
        // keep predicting it.
        s.predict = !trial.onLimit;
        s.bracket = kInfinity;
        switches_.forgetCrossing();
    } else if (std::exchange(s.extrapolated, false) && s.bracket != kInfinity) {
        // Short of an instant extrapolated from its chords: a relocation on
        // the last of them would fall late again. The trial ends at the
        // bracket the extrapolation set.
        s.h = s.bracket - s.t;
    } else if (s.bracket != kInfinity) {
        // Just short of a located instant: it is found again from here on
        // the trial that showed it, which is far more exact this close.
        const auto again = switches_.relocate(eventTolerance, d.kind != Discretisation::Kind::BackwardEuler);
        if (!again) return;
        // The step across spans nearly the whole event tolerance and starts
        // a third of it short of the estimate, so that an estimate a little
        // off either way still shows the switching on it; within reach of
        // this point it starts here. A re-predicted instant whose likely
        // error is well above the event tolerance is approached by that
        // error (at most half way).
        const double error = switches_.relocationError();
        const double margin =
            error > 10.0 * eventTolerance ? std::min(error, 0.5 * (again->first - s.t)) : 0.3 * eventTolerance;
        const double before = again->first - margin - s.t, past = kLocateMargin * before;
        const bool across = before <= 0.1 * eventTolerance || again->second - s.t <= 0.99 * eventTolerance;
        // An instant known this well is stepped onto at once: the trial ends
        // just past it and shows it within the event tolerance of its end,
        // which makes its point the switching's.
        s.aimed = !across && error <= kAimError * eventTolerance && switches_.relocationReliable() &&
                  switches_.mayAim();
        const double from = across ? s.t : s.t + before;
        s.bracket = s.aimed ? again->second + kAimPast * eventTolerance
                            : std::max(again->second + (past > eventTolerance ? past : 0.0), from + 0.99 * eventTolerance);
        s.h = across || s.aimed ? s.bracket - s.t : before;
    }
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
    // estimate that keeps failing is bisected, unless the estimates so far
    // shrink with the step towards an instant ahead.
    const double at = found.first * step;
    const auto& instances = switches_.locatedInstances();
    const bool again = s.locatesFromHere++ > 0 && instances == s.lastLocatedInstances;
    const std::optional<double> zero =
        again ? instantAtZeroStep(s.lastLocatedStep, s.lastLocatedAt, step, at, eventTolerance) : std::nullopt;
    s.followUpAt = kInfinity;
    s.lastLocatedStep = step;
    s.lastLocatedAt = at;
    s.lastLocatedInstances = instances;
    // The extrapolated instant brackets it more tightly than the chord.
    if (zero) s.bracket = std::min(s.bracket, s.t + (2.0 - kExtrapolatedShort) * *zero);
    s.extrapolated = zero.has_value();
    const double before = zero                   ? kExtrapolatedShort * *zero
                          : s.locatesFromHere > 2 ? 0.5 * at
                                                 : std::max(found.first - kApproachMargin, 0.5 * found.first) * step;
    s.h = before > minStep ? before : s.bracket - s.t;
    if (s.h < minStep) throw SimulationError("time step too small at time " + timeText(s.t));
}

}  // namespace udmhost::sim
