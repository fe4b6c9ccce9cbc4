#include "sim/transient_engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "sim/waveform_eval.h"

namespace udmhost::sim {

namespace {

constexpr double kGmin = 1e-12;  // from every node to ground, operating point only
constexpr double kInfinity = std::numeric_limits<double>::infinity();

std::string timeText(double t) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", t);
    return text;
}

int stateFromOutput(double value) {
    if (!std::isfinite(value) || std::abs(value) > 1e9) return -1;
    return static_cast<int>(std::lround(value));
}

// Stamps (conductances and currents) equal within the Newton tolerances.
bool sameStamp(const std::vector<double>& a, const std::vector<double>& b, double reltol, double abstol) {
    for (size_t k = 0; k < a.size(); ++k)
        if (std::abs(a[k] - b[k]) > reltol * std::max(std::abs(a[k]), std::abs(b[k])) + abstol) return false;
    return true;
}

}  // namespace

TransientEngine::TransientEngine(const Circuit& circuit, std::ostream& messages, const ProgressFn& progress)
    : circuit_(circuit),
      messages_(messages),
      progress_(progress),
      expressions_(circuit.params),
      router_(messages, expressions_),
      plugins_(circuit, router_),
      instances_(plugins_.instances()),
      equations_(circuit) {}

void TransientEngine::setUpInstances() {
    plugins_.createInstances();
    for (size_t i = 0; i < instances_.size(); ++i) {
        Tracked t;
        t.stateOutput = plugins_.stateOutput(i);
        t.acceptedStamp.assign(static_cast<size_t>(instances_[i]->entryCount()), 0.0);
        tracked_.push_back(std::move(t));
    }
}

void TransientEngine::setUpMatrix() {
    const int n = equations_.size();
    if (n == 0) throw SimulationError("the circuit has no unknowns");
    PatternBuilder builder(n);
    equations_.requestEntries(builder);
    plugins_.requestEntries(builder);
    pattern_ = builder.build();
    equations_.bindSlots(builder, pattern_.nonZeros());
    plugins_.bindSlots(builder);
    const size_t stampSize = plugins_.stampSize();

    try {
        solver_ = makeLinearSolver(circuit_.options.solver);
    } catch (const std::invalid_argument& e) {
        throw SimulationError(e.what());
    }
    solver_->analyse(pattern_);

    const auto values = static_cast<size_t>(pattern_.nonZeros()) + 1;
    const auto unknowns = static_cast<size_t>(n) + 1;
    for (auto* v : {&baseValues_, &values_, &factoredValues_}) v->assign(values, 0.0);
    for (auto* v : {&baseRhs_, &rhs_, &x_, &xBefore_, &xPrev_, &xDotPrev_}) v->assign(unknowns, 0.0);
    stamp_.assign(stampSize, 0.0);
    previousStamp_.assign(stampSize, 0.0);
    olderStamp_.assign(stampSize, 0.0);
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

double TransientEngine::unknownValue(int unknown) const { return x_[static_cast<size_t>(unknown)]; }

double TransientEngine::sourceValue(int element, double time) const { return equations_.sourceValue(element, time); }

int TransientEngine::pluginInstance(int element) const { return plugins_.instanceOfElement(element); }

int TransientEngine::resolveOutput(int instance, const std::string& output) {
    return instances_[static_cast<size_t>(instance)]->resolveOutput(output);
}

double TransientEngine::pluginOutput(int instance, int outputIndex) {
    return instances_[static_cast<size_t>(instance)]->output(outputIndex, simulationRecord_.data());
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

void TransientEngine::evaluateInstances(const double* x, double time, const Discretisation& d) {
    udm::SimulationRecordWriter record(simulationRecord_.data());
    record.setTime(time);
    expressions_.setTime(time);  // parameter expressions may use `time`
    record.setStartTime(startTime_);
    const bool trap = d.kind == Discretisation::Kind::Trapezoidal;
    const double c = d.kind == Discretisation::Kind::OperatingPoint ? 0.0 : (trap ? 2.0 : 1.0) / d.step;
    size_t at = 0;
    for (auto& instance : instances_) {
        const auto& terminals = instance->terminals();
        for (size_t i = 0; i < terminals.size(); ++i) {
            const int u = terminals[i];
            if (u < 0) {
                instance->setNode(i, 0.0, 0.0);
                continue;
            }
            const double derivative = c * (x[u] - xPrev_[static_cast<size_t>(u)]) - (trap ? xDotPrev_[static_cast<size_t>(u)] : 0.0);
            instance->setNode(i, x[u], derivative);
        }
        instance->evaluate(simulationRecord_.data());
        for (int k = 0; k < instance->entryCount(); ++k) stamp_[at++] = instance->matrixValue(k);
        for (size_t i = 0; i < terminals.size(); ++i) stamp_[at++] = instance->rhs(i);
    }
}

bool TransientEngine::newton(double time, const Discretisation& d, double gmin, double pluginTime) {
    const size_t n = static_cast<size_t>(equations_.size());
    equations_.assemble(baseValues_.data(), baseRhs_.data(), time, d, gmin);
    std::copy(xPrev_.begin(), xPrev_.end(), x_.begin());
    const Options& o = circuit_.options;
    bool small = false;
    for (int iteration = 0; iteration <= o.maxNewtonIterations; ++iteration) {
        evaluateInstances(x_.data(), pluginTime, d);
        // Converged only when the plug-ins' stamp at this iterate is the one
        // it was solved with: a small update under a stamp that has just
        // jumped (a switch flipping) solves the old equations, not these.
        if (iteration > 0 && (instances_.empty() || stamp_ == previousStamp_ ||
                              (small && sameStamp(stamp_, previousStamp_, o.reltol, o.abstol))))
            return true;
        // A switch controlled by what it switches (its own capacitor) may
        // have no consistent state at this point: the iterates alternate
        // between two stamps. Hand back the iterate at which the state
        // changed, evaluated there, so that the event is located as usual.
        if (iteration >= 2 && stamp_ != previousStamp_ && stamp_ == olderStamp_) return settleAlternation(pluginTime, d);
        if (iteration == o.maxNewtonIterations) break;
        std::swap(olderStamp_, previousStamp_);
        std::copy(stamp_.begin(), stamp_.end(), previousStamp_.begin());

        std::copy(baseValues_.begin(), baseValues_.end(), values_.begin());
        std::copy(baseRhs_.begin(), baseRhs_.end(), rhs_.begin());
        size_t at = 0, entry = 0;
        for (auto& instance : instances_) {
            for (int k = 0; k < instance->entryCount(); ++k) values_[static_cast<size_t>(plugins_.slot(entry++))] += stamp_[at++];
            for (int u : instance->terminals()) rhs_[u >= 0 ? static_cast<size_t>(u) : n] += stamp_[at++];
        }
        values_.back() = 0.0;
        if (!factored_ || values_ != factoredValues_) {
            if (!solver_->factorise(values_.data()))
                throw SimulationError("singular matrix at time " + timeText(time) +
                                      " (a node without a path to ground, or a loop of voltage sources?)");
            std::copy(values_.begin(), values_.end(), factoredValues_.begin());
            factored_ = true;
        }
        solver_->solve(rhs_.data());
        rhs_[n] = 0.0;
        ++output_.stats.newtonIterations;

        small = true;
        for (size_t u = 0; u < n; ++u) {
            const double next = rhs_[u], now = x_[u];
            if (!std::isfinite(next)) return false;
            const double tolerance = o.reltol * std::max(std::abs(next), std::abs(now)) + o.vntol;
            if (std::abs(next - now) > tolerance) small = false;
        }
        std::swap(xBefore_, rhs_);
        std::swap(x_, xBefore_);
    }
    return false;
}

bool TransientEngine::settleAlternation(double pluginTime, const Discretisation& d) {
    readStates();
    if (stateChanged()) return true;
    std::swap(x_, xBefore_);
    evaluateInstances(x_.data(), pluginTime, d);
    readStates();
    return stateChanged();
}

void TransientEngine::readStates() {
    size_t at = 0;
    for (size_t i = 0; i < instances_.size(); ++i) {
        Tracked& t = tracked_[i];
        PluginInstance& instance = *instances_[i];
        if (t.stateOutput > 0) {
            t.newState = stateFromOutput(instance.output(t.stateOutput, simulationRecord_.data()));
        } else {
            // No state output: a jump of the stamp is a switching event.
            bool jumped = false;
            for (int k = 0; k < instance.entryCount(); ++k) {
                const double now = stamp_[at + static_cast<size_t>(k)], before = t.acceptedStamp[static_cast<size_t>(k)];
                if (std::abs(now - before) > 0.5 * std::max(std::abs(now), std::abs(before))) jumped = true;
            }
            t.newState = jumped ? t.acceptedState + 1 : t.acceptedState;
        }
        at += static_cast<size_t>(instance.entryCount()) + instance.terminals().size();
    }
}

bool TransientEngine::stateChanged() const {
    return std::any_of(tracked_.begin(), tracked_.end(), [](const Tracked& t) { return t.newState != t.acceptedState; });
}

void TransientEngine::acceptPoint(double time, const Discretisation& d) {
    const size_t n = static_cast<size_t>(equations_.size());
    const bool trap = d.kind == Discretisation::Kind::Trapezoidal;
    const double c = d.kind == Discretisation::Kind::OperatingPoint ? 0.0 : (trap ? 2.0 : 1.0) / d.step;
    for (size_t u = 0; u < n; ++u) xDotPrev_[u] = c * (x_[u] - xPrev_[u]) - (trap ? xDotPrev_[u] : 0.0);
    if (d.kind != Discretisation::Kind::OperatingPoint) equations_.accept(x_.data(), d);
    std::copy(x_.begin(), x_.end(), xPrev_.begin());

    size_t at = 0;
    for (size_t i = 0; i < instances_.size(); ++i) {
        PluginInstance& instance = *instances_[i];
        instance.accept();
        Tracked& t = tracked_[i];
        if (t.newState != t.acceptedState && d.kind != Discretisation::Kind::OperatingPoint) {
            output_.events.push_back({time, instance.name(), t.newState});
            ++output_.stats.events;
        }
        t.acceptedState = t.newState;
        std::copy_n(stamp_.begin() + static_cast<std::ptrdiff_t>(at), instance.entryCount(), t.acceptedStamp.begin());
        at += static_cast<size_t>(instance.entryCount()) + instance.terminals().size();
        // Outputs read the node values of the accepted solution.
        const auto& terminals = instance.terminals();
        for (size_t k = 0; k < terminals.size(); ++k) {
            const int u = terminals[k];
            instance.setNode(k, u >= 0 ? x_[static_cast<size_t>(u)] : 0.0, u >= 0 ? xDotPrev_[static_cast<size_t>(u)] : 0.0);
        }
    }
    if (time >= circuit_.tran.start) recordRow(time);
}

void TransientEngine::recordRow(double time) { output_.rows.push_back(columns_->row(time)); }

void TransientEngine::initialPoint() {
    const Discretisation dc{Discretisation::Kind::OperatingPoint, 0.0};
    const bool uic = circuit_.tran.uic;
    // Every instance is evaluated and accepted once before the start time,
    // so that it starts in its initial state, then once at the start time.
    const double before = startTime_ - std::max(span_, 1e-9);
    std::fill(xPrev_.begin(), xPrev_.end(), 0.0);
    if (uic) {
        equations_.applyInitialConditions(xPrev_.data());
        std::copy(xPrev_.begin(), xPrev_.end(), x_.begin());
        evaluateInstances(x_.data(), before, dc);
        for (auto& instance : instances_) instance->accept();
        evaluateInstances(x_.data(), startTime_, dc);
    } else {
        if (!newton(startTime_, dc, kGmin, before))
            throw SimulationError("no DC operating point found; try UIC");
        for (auto& instance : instances_) instance->accept();
        std::copy(x_.begin(), x_.end(), xPrev_.begin());
        if (!newton(startTime_, dc, kGmin, startTime_))
            throw SimulationError("no DC operating point found at the start time; try UIC");
    }
    // The state each instance has at the start time is where it starts, not an event.
    readStates();
    for (Tracked& t : tracked_) t.acceptedState = t.newState;
    acceptPoint(startTime_, dc);
    equations_.startFrom(x_.data(), uic);
}

void TransientEngine::timeLoop() {
    const TranSpec& tran = circuit_.tran;
    const Options& o = circuit_.options;
    const double stop = tran.stop;
    double maxStep = tran.maxStep > 0.0 ? tran.maxStep : std::min(tran.step > 0.0 ? tran.step : span_, span_ / 50.0);
    const double eventTolerance = o.eventTolerance * span_;
    const double minStep = std::min(span_ * 1e-14, eventTolerance * 1e-2);
    const double restartStep = std::max(maxStep * 1e-3, 4.0 * minStep);
    const bool trapezoidal = o.method == Options::Method::Trapezoidal;

    double t = startTime_, h = restartStep, bracket = kInfinity;
    int stepsSinceRestart = 0;
    size_t nextBreakpoint = 0;
    double reported = -1.0;
    while (stop - t > minStep) {
        while (nextBreakpoint + 1 < breakpoints_.size() && breakpoints_[nextBreakpoint] <= t + minStep) ++nextBreakpoint;
        const double limit = std::min(breakpoints_[nextBreakpoint], bracket);
        double step = std::min({h, maxStep, limit - t});
        const bool onLimit = step >= limit - t - minStep;
        const double next = onLimit ? limit : t + step;
        step = next - t;
        if (!(step > 0.0)) throw SimulationError("time step too small at time " + timeText(t));
        const Discretisation d{stepsSinceRestart >= 2 && trapezoidal ? Discretisation::Kind::Trapezoidal
                                                                       : Discretisation::Kind::BackwardEuler,
                               step};
        auto reject = [&](double newStep) {
            ++output_.stats.rejected;
            if (newStep < minStep) throw SimulationError("time step too small at time " + timeText(t));
            h = newStep;
        };
        const bool converged = newton(next, d, 0.0, next);
        readStates();
        // A switch that flips back and forth between Newton iterations has
        // its switching instant inside this step: locate it like any other.
        if (!converged && !stateChanged()) {
            reject(step / 8.0);
            continue;
        }
        if (stateChanged()) {
            if (step > eventTolerance) {  // locate the switching instant: halve the bracket
                bracket = next;
                reject(step / 2.0);
                continue;
            }
            acceptPoint(next, d);
            ++output_.stats.accepted;
            t = next;
            bracket = kInfinity;
            stepsSinceRestart = 0;  // a fresh backward Euler step after the switching
            h = restartStep;
            continue;
        }
        double ratio = kInfinity;
        // Steps inside an event bracket are tiny by construction; their
        // divided differences are rounding noise, and the history they leave
        // ends at the switching anyway.
        if (stepsSinceRestart >= 1 && bracket == kInfinity) {
            ratio = equations_.truncationRatio(x_.data(), d, o);
            if (ratio < 0.9) {
                reject(step * std::max(0.9 * ratio, 0.1));
                continue;
            }
        }
        acceptPoint(next, d);
        ++output_.stats.accepted;
        t = next;
        ++stepsSinceRestart;
        h = std::min(2.0 * step, 0.9 * ratio * step);
        if (next == breakpoints_[nextBreakpoint] && next < stop) {
            stepsSinceRestart = 0;
            h = std::min(restartStep, 0.1 * (breakpoints_[nextBreakpoint + 1] - next));
        }
        if (bracket < kInfinity) {
            const double remaining = bracket - t;
            if (remaining <= minStep) bracket = kInfinity;
            else h = remaining <= eventTolerance ? remaining : std::min(h, remaining / 2.0);
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
    setUpInstances();
    setUpMatrix();
    setUpColumns();
    setUpBreakpoints();
    initialPoint();
    timeLoop();
    plugins_.releaseAll();
    return std::move(output_);
}

}  // namespace udmhost::sim
