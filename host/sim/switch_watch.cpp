#include "sim/switch_watch.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "sim/finite_values.h"
#include "sim/newton_tolerance.h"
#include "sim/simulator.h"
#include "sim/time_text.h"

namespace udmhost::sim {

namespace {

// Thirty-two switchings in a row, each within a few points of the one before.
constexpr int kChatterStreak = 32;
// Of the event tolerance: the width to which an instant is located, and a
// relocated one, whose trial may be aimed just past it, more narrowly.
constexpr double kLocateWidth = 0.5, kRelocateWidth = 0.1;
// The first solution of a trial only tells where along it a switching
// happens; the trials that then approach the instant are solved in full.
// Elsewhere in a coupled part the others' stamps move a little with it (a
// conducting diode's by 0.14 % as another phase's switch node falls):
// solving on to the tolerances would cost some ten iterations and locate
// the same instant.
constexpr double kOthersSlack = 10.0;

int stateFromOutput(double value) {
    if (!std::isfinite(value) || std::abs(value) > 1e9) return -1;
    return static_cast<int>(std::lround(value));
}

}  // namespace

SwitchWatch::SwitchWatch(PluginSet& plugins, NewtonSolver& newton, ExpressionEngine& expressions)
    : plugins_(plugins), newton_(newton), expressions_(expressions) {}

void SwitchWatch::setUp() {
    const auto& instances = plugins_.instances();
    for (size_t i = 0; i < instances.size(); ++i) {
        Tracked t;
        t.stateOutput = plugins_.stateOutput(i);
        t.acceptedStamp.assign(static_cast<size_t>(instances[i]->entryCount()), 0.0);
        tracked_.push_back(std::move(t));
        allInstances_.push_back(i);
    }
    predictable_ = allInstances_;
    smoothSeen_ = 0;
}

int SwitchWatch::stateOf(size_t i, const double* stamp) {
    Tracked& t = tracked_[i];
    PluginInstance& instance = *plugins_.instances()[i];
    const auto entries = static_cast<size_t>(instance.entryCount());
    // A stamp that has not moved at all is the accepted state's: only an
    // instance whose stamp changed is asked for its state.
    if (std::equal(stamp, stamp + entries, t.acceptedStamp.begin())) return t.acceptedState;
    if (t.stateOutput > 0) return stateFromOutput(instance.output(t.stateOutput, newton_.simulationRecord()));
    // No state output: a jump of the stamp is a switching event.
    for (size_t k = 0; k < entries; ++k) {
        const double now = stamp[k], before = t.acceptedStamp[k];
        if (std::abs(now - before) > 0.5 * std::max(std::abs(now), std::abs(before))) return t.acceptedState + 1;
    }
    return t.acceptedState;
}

void SwitchWatch::readStates() {
    // Where no stamp moved, every state is the accepted one (one comparison
    // of the whole array instead of one per instance).
    if (newton_.stampIsAccepted()) {
        for (Tracked& t : tracked_) t.newState = t.acceptedState;
        return;
    }
    const auto& instances = plugins_.instances();
    size_t at = 0;
    for (size_t i = 0; i < instances.size(); ++i) {
        tracked_[i].newState = stateOf(i, newton_.stamp().data() + at);
        at += static_cast<size_t>(instances[i]->entryCount()) + instances[i]->terminals().size();
    }
}

bool SwitchWatch::stateChanged() const {
    return std::any_of(tracked_.begin(), tracked_.end(), [](const Tracked& t) { return t.newState != t.acceptedState; });
}

bool SwitchWatch::onlySwitchingMoved(const std::vector<double>& stamp, const std::vector<double>& solvedWith,
                                     double reltol, double abstol) {
    const auto& instances = plugins_.instances();
    const PluginCharges& charges = newton_.pluginCharges();
    bool any = false;
    size_t at = 0;
    for (size_t i = 0; i < instances.size(); ++i) {
        const size_t from = at;
        at += static_cast<size_t>(instances[i]->entryCount()) + instances[i]->terminals().size();
        if (stateOf(i, stamp.data() + from) != tracked_[i].acceptedState) {
            if (charges.smooth(i)) return false;  // its charge, not a location, bounds the step
            any = true;
            continue;
        }
        if (!allWithinTolerance(stamp.data() + from, solvedWith.data() + from, at - from, kOthersSlack * reltol,
                                kOthersSlack * abstol))
            return false;
    }
    return any;
}

void SwitchWatch::adoptStates() {
    for (Tracked& t : tracked_) t.acceptedState = t.newState;
}

std::optional<std::pair<double, double>> SwitchWatch::locate(double t, double step, double eventTolerance,
                                                             bool throughOlder) {
    std::vector<size_t> switching;
    for (size_t i = 0; i < tracked_.size(); ++i)
        if (tracked_[i].newState != tracked_[i].acceptedState) switching.push_back(i);
    const Trajectory path{newton_.tOlder(), t, t + step, newton_.xOlder(), newton_.xPrev(), newton_.xFirst(),
                          throughOlder};
    const auto found = changeAlong(switching, path, t, t + step, kLocateWidth * eventTolerance);
    if (!found) return std::nullopt;
    crossingEnd_ = t + step;
    crossingPredicted_ = false;
    reliable_ = true;
    predictionError_ = 0.0;
    crossingX_ = newton_.xFirst();
    crossingSwitching_ = std::move(switching);
    return found;
}

std::optional<std::pair<double, double>> SwitchWatch::predict(double end, double eventTolerance, bool slopeKnown) {
    return predictWithin(end, kLocateWidth * eventTolerance, slopeKnown);
}

bool SwitchWatch::onlySmoothChanged() const {
    if (newton_.pluginCharges().smoothCount() == 0) return false;  // asked at every trial
    bool any = false;
    for (size_t i = 0; i < tracked_.size(); ++i) {
        if (tracked_[i].newState == tracked_[i].acceptedState) continue;
        if (!newton_.pluginCharges().smooth(i)) return false;
        any = true;
    }
    return any;
}

const std::vector<size_t>& SwitchWatch::predictable() {
    const PluginCharges& charges = newton_.pluginCharges();
    if (charges.smoothCount() != smoothSeen_) {
        smoothSeen_ = charges.smoothCount();
        predictable_.clear();
        for (size_t i : allInstances_)
            if (!charges.smooth(i)) predictable_.push_back(i);
    }
    return predictable_;
}

std::optional<std::pair<double, double>> SwitchWatch::predictWithin(double end, double width, bool slopeKnown) {
    const double a = newton_.tOldest(), b = newton_.tOlder(), c = newton_.tPrev();
    const bool again = crossingPredicted_ && crossingEnd_ == end && predictedFrom_ < c && predictedAt_ > predictedFrom_;
    // Predicted again from close by: the next step's change is then mostly
    // its slope term, which the accepted derivative gives and a parabola
    // through points much further apart only roughly. Not after a step far
    // shorter than the one before: its derivative is then mostly rounding.
    const bool tangent = slopeKnown && again && c - b >= 1e-3 * (b - a);
    const Trajectory path{a, b, c, newton_.xOldest(), newton_.xOlder(), newton_.xPrev(), true,
                          tangent ? &newton_.xDotPrev() : nullptr, &stateUnknowns_};
    const auto found = changeAlong(changingAtEnd(path, end), path, c, end, width);
    if (!found) return std::nullopt;
    reliable_ = followsSlope(changedInstance_, path, tangent);
    const double instant = c + found->first * (end - c);
    // Predicted again from a nearer point: its error is about the shift from
    // the last prediction scaled by the ratio of the two distances (squared
    // along the slope, whose error grows with the square of the distance).
    const double scale = again ? (instant - c) / (predictedAt_ - predictedFrom_) : 0.0;
    predictionError_ = std::abs(instant - predictedAt_) * scale * (tangent ? scale : 1.0);
    predictedAt_ = instant;
    predictedFrom_ = c;
    crossingEnd_ = end;
    crossingPredicted_ = true;
    return std::pair{instant, c + found->second * (end - c)};
}

const std::vector<size_t>& SwitchWatch::changingAtEnd(const Trajectory& path, double end) {
    // Each instance is evaluated once at the end; the instant is then
    // searched for among those few alone, not among all at every bisection.
    setTime(end);
    const auto w = path.weights(end);
    candidates_.clear();
    // An instance that switched at the oldest point may have left it on an
    // edge a sliver of the step long (a switch node's, a junction's turn-on):
    // the parabola through that point and two beyond the edge brings its
    // terminals back. Its change is taken only where the chord through the
    // two newer points shows it too.
    for (size_t i : predictable()) {
        if (!changesAt(i, path, end, w)) continue;
        const Tracked& t = tracked_[i];
        if (t.pointsAtLastSwitching >= 0 && t.lastSwitching == path.a) {
            const Trajectory chord{path.a, path.b, path.c, path.xa, path.xb, path.xc, false};
            if (!changesAt(i, chord, end, chord.weights(end))) continue;
        }
        candidates_.push_back(i);
    }
    return candidates_;
}

std::optional<std::pair<double, double>> SwitchWatch::relocate(double eventTolerance, bool slopeKnown) {
    const double a = newton_.tOlder(), b = newton_.tPrev(), c = crossingEnd_;
    if (!(c > b)) return std::nullopt;
    // A predicted instant is predicted again from the newer points: the
    // trial's end was no solution either.
    if (crossingPredicted_) return predictWithin(c, kRelocateWidth * eventTolerance, slopeKnown);
    // Through the point before too unless it is far closer than the
    // trial's end: the parabola would then extrapolate its rounding.
    const Trajectory path{a, b, c, newton_.xOlder(), newton_.xPrev(), crossingX_, b - a >= 1e-3 * (c - b)};
    const auto found = changeAlong(crossingSwitching_, path, b, c, kRelocateWidth * eventTolerance);
    if (!found) return std::nullopt;
    return std::pair{b + found->first * (c - b), b + found->second * (c - b)};
}

bool SwitchWatch::followsSlope(size_t instance, const Trajectory& path, bool tangent) const {
    // Each terminal follows a signal, or a storage state its derivative, or
    // holds still; an algebraic node's parabola through points of a
    // second-order method may carry its ringing.
    for (int u : plugins_.instances()[instance]->terminals()) {
        if (u < 0 || signalOf(static_cast<size_t>(u))) continue;
        const auto k = static_cast<size_t>(u);
        const bool still = path.xa[k] == path.xb[k] && path.xb[k] == path.xc[k];
        if (!still && !(tangent && k < stateUnknowns_.size() && stateUnknowns_[k])) return false;
    }
    return true;
}

const TimeSignal* SwitchWatch::signalOf(size_t unknown) const {
    return unknown < signalUnknowns_.size() ? signalUnknowns_[unknown] : nullptr;
}

std::array<double, 3> SwitchWatch::Trajectory::weights(double time) const {
    // Through the point before the last one too: a parabola follows a
    // curved trajectory where a chord would find each instant a little
    // late, many times over.
    if (!throughOlder) return {0.0, 1.0 - (time - b) / (c - b), (time - b) / (c - b)};
    return {(time - b) * (time - c) / ((a - b) * (a - c)), (time - a) * (time - c) / ((b - a) * (b - c)),
            (time - a) * (time - b) / ((c - a) * (c - b))};
}

double SwitchWatch::Trajectory::alongSlope(size_t u, double time) const {
    // The cubic through a and b with value and slope at c: its curvature is
    // that at c to second order, where the parabola's is off by a share of
    // the step's length over the circuit's time constant.
    const double slope = (*slopeC)[u], da = a - c, db = b - c, dt = time - c;
    const double ra = (xa[u] - xc[u] - slope * da) / (da * da), rb = (xb[u] - xc[u] - slope * db) / (db * db);
    const double cubic = (ra - rb) / (da - db), curvature = rb - cubic * db;
    return xc[u] + dt * (slope + dt * (curvature + dt * cubic));
}

bool SwitchWatch::changesAt(size_t i, const Trajectory& path, double time, const std::array<double, 3>& w) {
    PluginInstance& instance = *plugins_.instances()[i];
    const auto& terminals = instance.terminals();
    for (size_t k = 0; k < terminals.size(); ++k) {
        if (terminals[k] < 0) {
            instance.setNode(k, 0.0, 0.0);
            continue;
        }
        const auto u = static_cast<size_t>(terminals[k]);
        const bool alongSlope = path.slopeC && u < path.states->size() && (*path.states)[u];
        const TimeSignal* signal = signalOf(u);
        const double value = signal       ? signal->at(time)
                             : alongSlope ? path.alongSlope(u, time)
                                          : w[1] * path.xb[u] + w[2] * path.xc[u] +
                                                (w[0] != 0.0 ? w[0] * path.xa[u] : 0.0);
        instance.setNode(k, value, (path.xc[u] - path.xb[u]) / (path.c - path.b));
    }
    instance.evaluate(newton_.simulationRecord());
    ++evaluations_;
    requireFiniteStamp(instance, time);
    std::vector<double>& stamp = stampBuffer_;
    stamp.resize(static_cast<size_t>(instance.entryCount()));
    for (int k = 0; k < instance.entryCount(); ++k) stamp[static_cast<size_t>(k)] = instance.matrixValue(k);
    return stateOf(i, stamp.data()) != tracked_[i].acceptedState;
}

void SwitchWatch::setTime(double time) {
    udm::SimulationRecordWriter(newton_.simulationRecord()).setTime(time);
    expressions_.setTime(time);
}

std::optional<std::pair<double, double>> SwitchWatch::changeAlong(const std::vector<size_t>& switching,
                                                                  const Trajectory& path, double from, double to,
                                                                  double width) {
    const double span = to - from;
    auto changedAt = [&](double theta) {
        const double time = theta >= 1.0 ? to : from + theta * span;
        setTime(time);
        const auto w = path.weights(time);
        for (size_t i : switching)
            if (changesAt(i, path, time, w)) {
                changedInstance_ = i;
                return true;
            }
        return false;
    };
    if (switching.empty() || !changedAt(1.0)) return std::nullopt;
    return bisectChange(changedAt, width / span);
}

bool SwitchWatch::accept(double time, bool operatingPoint, const StepController& steps,
                         std::vector<SwitchEvent>& events) {
    ++acceptedPoints_;
    const auto& instances = plugins_.instances();
    const auto& x = newton_.x();
    const auto& xDot = newton_.xDotPrev();
    size_t at = 0;
    bool switched = false;
    for (size_t i = 0; i < instances.size(); ++i) {
        PluginInstance& instance = *instances[i];
        instance.accept();
        Tracked& t = tracked_[i];
        if (t.newState != t.acceptedState && !operatingPoint) {
            events.push_back({time, instance.name(), t.newState});
            switched = true;
            if (t.pointsAtLastSwitching >= 0 &&
                steps.chattering(time - t.lastSwitching, acceptedPoints_ - t.pointsAtLastSwitching)) {
                if (++t.streak >= kChatterStreak)
                    throw SimulationError(instance.name() + " changes state at nearly every time step from " +
                                          timeText(t.streakStart) + " s to " + timeText(time) +
                                          " s: it has no state it can hold (a control at its threshold without "
                                          "hysteresis, or a switch driving its own control?)");
            } else {
                t.streak = 0;
                t.streakStart = time;
            }
            t.lastSwitching = time;
            t.pointsAtLastSwitching = acceptedPoints_;
        }
        t.acceptedState = t.newState;
        std::copy_n(newton_.stamp().begin() + static_cast<std::ptrdiff_t>(at), instance.entryCount(),
                    t.acceptedStamp.begin());
        at += static_cast<size_t>(instance.entryCount()) + instance.terminals().size();
        // Outputs read the node values of the accepted solution.
        const auto& terminals = instance.terminals();
        for (size_t k = 0; k < terminals.size(); ++k) {
            const int u = terminals[k];
            const auto v = static_cast<size_t>(std::max(u, 0));
            instance.setNode(k, u >= 0 ? x[v] : 0.0, u >= 0 ? xDot[v] : 0.0);
        }
    }
    return switched;
}

}  // namespace udmhost::sim
