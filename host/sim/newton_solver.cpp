#include "sim/newton_solver.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "sim/finite_values.h"
#include "sim/newton_tolerance.h"
#include "sim/simulator.h"
#include "sim/time_text.h"

namespace udmhost::sim {

namespace {

// Part of itself by which a node's diagonal is raised when the true matrix
// has lost a pivot in rounding: millions of units in its last place, and
// still a nanosiemens per siemens.
constexpr double kRaisedDiagonal = 1e-9;

// Equal as numbers. Equal arrays are mostly so bit for bit, which one
// memcmp finds far faster than a comparison of every element.
bool equalValues(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    if (a.empty()) return true;  // memcmp must not see the null data of an empty array
    return std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0 || a == b;
}

// Stamps (conductances and currents) equal within the Newton tolerances.
bool sameStamp(const std::vector<double>& a, const std::vector<double>& b, double reltol, double abstol) {
    return allWithinTolerance(a.data(), b.data(), a.size(), reltol, abstol);
}


}  // namespace

NewtonSolver::NewtonSolver(const Circuit& circuit, CircuitEquations& equations, PluginSet& plugins,
                           ExpressionEngine& expressions, RunStats& stats)
    : circuit_(circuit), equations_(equations), plugins_(plugins), expressions_(expressions), stats_(stats),
      behavioural_(circuit, equations), semiconductors_(circuit),
      operatingPointIterations_(circuit.options.operatingPointIterations) {}

void NewtonSolver::setUp() {
    const int n = equations_.size();
    if (n == 0) throw SimulationError("the circuit has no unknowns");
    PatternBuilder builder(n);
    equations_.requestEntries(builder);
    plugins_.requestEntries(builder);
    behavioural_.requestEntries(builder);
    semiconductors_.requestEntries(builder);
    pattern_ = builder.build();
    equations_.bindSlots(builder, pattern_.nonZeros());
    plugins_.bindSlots(builder);
    behavioural_.bindSlots(builder);
    semiconductors_.bindSlots(builder);
    pluginCharges_.setUp(plugins_);
    initialVoltages_.bind(pattern_, static_cast<int>(circuit_.nodeNames.size()) - 1, circuit_.initialVoltages);
    try {
        solver_ = makeLinearSolver(circuit_.options.solver);
    } catch (const std::invalid_argument& e) {
        throw SimulationError(e.what());
    }
    solver_->analyse(pattern_);

    const auto values = static_cast<size_t>(pattern_.nonZeros()) + 1;
    const auto unknowns = static_cast<size_t>(n) + 1;
    for (auto* v : {&baseValues_, &values_, &factoredValues_}) v->assign(values, 0.0);
    for (auto* v : {&baseRhs_, &rhs_, &x_, &xBefore_, &xPrev_, &xDotPrev_, &xFirst_, &xOlder_, &xOldest_})
        v->assign(unknowns, 0.0);
    for (auto* v : {&stamp_, &previousStamp_, &olderStamp_, &acceptedStamp_}) v->assign(plugins_.stampSize(), 0.0);
    size_t terminals = 0;
    for (const auto& instance : plugins_.instances()) terminals = std::max(terminals, instance->terminals().size());
    nodeValues_.assign(terminals, 0.0);
    std::vector<size_t> segments;
    for (const auto& instance : plugins_.instances())
        segments.push_back(static_cast<size_t>(instance->entryCount()) + instance->terminals().size());
    iterates_.setSegments(std::move(segments));
    nodeDerivatives_.assign(terminals, 0.0);
    for (auto* v : {&entryFrom_, &entryTo_, &currentFrom_, &currentTo_}) v->clear();
    // Entries and currents at ground are left out: they would all be added
    // into the one spare slot, each add waiting for the one before.
    const int spare = pattern_.nonZeros();
    int at = 0, entry = 0;
    for (const auto& instance : plugins_.instances()) {
        for (int k = 0; k < instance->entryCount(); ++k, ++at)
            if (const int slot = plugins_.slot(entry++); slot != spare) {
                entryFrom_.push_back(at);
                entryTo_.push_back(slot);
            }
        for (int u : instance->terminals()) {
            if (u >= 0) {
                currentFrom_.push_back(at);
                currentTo_.push_back(u);
            }
            ++at;
        }
    }
    if (circuit_.options.bypass) {
        bypass_.setUp(plugins_.instances());
        for (const auto& instance : plugins_.instances()) instance->countBlockChanges();
    }
}

void NewtonSolver::evaluateInstances(const double* x, double time, const Discretisation& d,
                                     const std::vector<size_t>* only) {
    udm::SimulationRecordWriter record(simulationRecord_.data());
    record.setTime(time);
    expressions_.setTime(time);  // parameter expressions may use `time`
    record.setStartTime(startTime_);
    const bool trap = d.kind == Discretisation::Kind::Trapezoidal;
    const auto c = d.coefficients();
    const bool started = time >= startTime_;
    // The instances a location re-evaluates are about to switch: always called.
    const bool mayBypass = circuit_.options.bypass && only == nullptr;
    // The rule the node derivatives below follow, for plug-ins' own charges;
    // a stamp kept from other rates (a trial retried on a shorter step)
    // would carry the old step.
    const std::array<double, 3> rates{c[0], c[2], trap ? 1.0 : 0.0};
    record.setRates(rates[0], rates[1], rates[2]);
    if (circuit_.options.bypass && rates != bypassRates_) {
        bypass_.forgetAll();
        bypassRates_ = rates;
    }
    size_t at = 0, next = 0;
    const auto& instances = plugins_.instances();
    // Read through locals: the stores below would otherwise make every
    // array's address load again.
    const double *xPrev = xPrev_.data(), *xOlder = xOlder_.data(), *xDotPrev = xDotPrev_.data();
    double *values = nodeValues_.data(), *derivatives = nodeDerivatives_.data();
    for (size_t n = 0; n < instances.size(); ++n) {
        const auto& instance = instances[n];
        const auto& terminals = instance->terminals();
        const size_t width = static_cast<size_t>(instance->entryCount()) + terminals.size();
        if (only && (next == only->size() || (*only)[next] != n)) {
            at += width;
            continue;
        }
        ++next;
        for (size_t i = 0; i < terminals.size(); ++i) {
            const int u = terminals[i];
            if (u < 0) {
                values[i] = derivatives[i] = 0.0;
                continue;
            }
            const auto k = static_cast<size_t>(u);
            const double derivative = c[0] * (x[u] - xPrev[k]) + c[2] * (xOlder[k] - xPrev[k]);
            values[i] = x[u];
            derivatives[i] = derivative - (trap ? xDotPrev[k] : 0.0);
        }
        if (mayBypass && bypass_.keeps(n, *instance, nodeValues_.data(), nodeDerivatives_.data(), started, time,
                                       c[0], circuit_.options)) {
            std::copy_n(bypass_.stampOf(n), width, stamp_.begin() + static_cast<std::ptrdiff_t>(at));
            at += width;
            ++stats_.evaluations;
            ++stats_.bypassed;
            continue;
        }
        instance->setNodes(values, derivatives);
        ++stats_.evaluations;
        const long changesBefore = instance->blockChanges();
        instance->evaluate(simulationRecord_.data());
        const size_t from = at;
        instance->copyStamp(stamp_.data() + from);
        at += width;
        // One pass over the copy; the entry at fault is named from the blocks.
        if (!std::all_of(stamp_.begin() + static_cast<std::ptrdiff_t>(from), stamp_.begin() + static_cast<std::ptrdiff_t>(at),
                         [](double v) { return std::isfinite(v); }))
            requireFiniteStamp(*instance, time);
        if (circuit_.options.bypass)
            bypass_.record(n, *instance, nodeValues_.data(), nodeDerivatives_.data(), started, time, changesBefore,
                           stamp_.data() + from);
    }
}

void NewtonSolver::addStamps() {
    const double* stamp = stamp_.data();
    double *values = values_.data(), *rhs = rhs_.data();
    for (size_t i = 0; i < entryTo_.size(); ++i) values[entryTo_[i]] += stamp[entryFrom_[i]];
    for (size_t i = 0; i < currentTo_.size(); ++i) rhs[currentTo_[i]] += stamp[currentFrom_[i]];
}

NewtonSolver::Result NewtonSolver::solve(double time, const Discretisation& d, double gmin, double pluginTime,
                                         const FirstSolutionTest* stopIf) {
    const size_t n = static_cast<size_t>(equations_.size());
    const auto& instances = plugins_.instances();
    equations_.assemble(baseValues_.data(), baseRhs_.data(), time, d, gmin);
    std::copy(xPrev_.begin(), xPrev_.end(), x_.begin());
    const Options& o = circuit_.options;
    bool small = false;
    // Between switchings the stamps at the last accepted point are usually
    // those of the next one: the first iterate is solved with them, and the
    // plug-ins are first evaluated at its solution.
    singularReason_.clear();
    const bool fromAccepted = haveAcceptedStamp_ && d.kind != Discretisation::Kind::OperatingPoint;
    if (startFromIterate_ && d.kind == Discretisation::Kind::OperatingPoint) semiconductors_.beginPointAt(x_.data());
    else semiconductors_.beginPoint();
    bool semiconductorsUnlimited = true;  // the transistors' latest linearisation took the iterate's voltages unlimited
    // A charge's companion puts an offset current (rate * capacitance *
    // voltage) into the stamp that dwarfs the junction's own current, so a
    // stamp within the tolerance of the one before still misses that current
    // by a share that grows with the voltage step, always the same way round:
    // accepted from the first solution, a junction's ringing loses its
    // energy the faster the finer the steps. As in SPICE, the point accepted
    // is then at least the second solution, solved at the first one's
    // linearisation. A stamp exactly the one solved with is exact at once.
    const int fewestForNear = pluginCharges_.smoothInstances().empty() ? 1 : 2;
    const bool mayStopOnFirst = stopIf != nullptr && fromAccepted && behavioural_.empty() && semiconductors_.empty();
    iterates_.clear();
    // The evaluations of this solve's iterations carry its number, and no
    // other evaluation does: a plug-in limits an iterate against the one
    // before only within one solve.
    const udm::SimulationRecordWriter record(simulationRecord_.data());
    record.setNewtonSolve(++solves_);
    const struct Unnumber {
        const udm::SimulationRecordWriter& record;
        ~Unnumber() { record.setNewtonSolve(0.0); }
    } unnumber{record};
    bool firstRaised = false;  // the first solution's matrix had its diagonal raised
    const int iterationLimit =
        d.kind == Discretisation::Kind::OperatingPoint ? operatingPointIterations_ : o.maxNewtonIterations;
    for (int iteration = 0; iteration <= iterationLimit; ++iteration) {
        if (iteration > 0) {
            // This iterate's stamps, the one before's and the one before
            // that: the arrays rotate, and the evaluation below writes every
            // stamp anew.
            std::swap(olderStamp_, previousStamp_);
            std::swap(previousStamp_, stamp_);
        }
        if (iteration == 0 && fromAccepted) {
            std::copy(acceptedStamp_.begin(), acceptedStamp_.end(), stamp_.begin());
            // A plug-in's own charge brings its history into the stamp's
            // current, new at every point: the old stamp would solve the last
            // step's equations again, and where the step changes a node by
            // less than the tolerance that first iterate passes as converged
            // (a junction's ringing then stalls for a stretch of steps). A
            // charge that was zero at every accepted point has no history:
            // such a diode's accepted stamp is its stamp there now.
            if (const auto& charged = pluginCharges_.smoothInstances(); !charged.empty())
                evaluateInstances(x_.data(), pluginTime, d, &charged);
        } else {
            evaluateInstances(x_.data(), pluginTime, d);
        }
        // Of a trial that a switching ends anyway, only where it switches
        // along the way to this first solution matters: further iterations
        // solve equations it never accepts. A switching that only this
        // iterate shows costs a trial more, never a point: every point is
        // accepted from a full solve.
        // The stamps are those this iterate was solved with.
        const bool unchanged = iteration > 0 && equalValues(stamp_, previousStamp_);
        if (iteration == 1 && mayStopOnFirst && !firstRaised && !unchanged && (*stopIf)(stamp_, previousStamp_))
            return Result::SwitchedOnFirst;
        if (d.kind != Discretisation::Kind::OperatingPoint &&
            iterates_.flipsBack(stamp_, previousStamp_, o.reltol, o.abstol))
            return Result::Cycling;
        if (!semiconductors_.empty()) semiconductorsUnlimited = semiconductors_.evaluate(x_.data(), d);
        // Converged only when the plug-ins' stamp at this iterate is the one
        // it was solved with: a small update under a stamp that has just
        // jumped (a switch flipping) solves the old equations, not these.
        // B sources are nonlinear: their iterates must have settled too. So
        // must the transistors': the charges a point keeps are those of their
        // latest linearisation, which is then the solution's, not that of
        // the iterate before (on quiet stretches the last point's).
        const bool behaviouralSettled =
            (behavioural_.empty() || (small && behavioural_.sameBranches(x_.data(), time))) &&
            (semiconductors_.empty() || (small && semiconductorsUnlimited && semiconductors_.sameAsSolved(o.reltol, o.abstol)));
        if (iteration > 0 && behaviouralSettled &&
            (instances.empty() || unchanged ||
             (small && iteration >= fewestForNear && sameStamp(stamp_, previousStamp_, o.reltol, o.abstol))))
            return Result::Converged;
        // Back to the stamps of two iterates before, bit for bit, and apart
        // from the last ones beyond the tolerances: a stamp that only turns
        // over in its last bits (a reverse junction's, while a MOSFET at its
        // threshold closes in by halves) has not alternated.
        if (iteration >= 2 && !unchanged && equalValues(stamp_, olderStamp_) &&
            !sameStamp(stamp_, previousStamp_, o.reltol, o.abstol))
            return Result::Alternating;
        if (iteration == iterationLimit) break;

        std::copy(baseValues_.begin(), baseValues_.end(), values_.begin());
        std::copy(baseRhs_.begin(), baseRhs_.end(), rhs_.begin());
        addStamps();
        if (!behavioural_.empty()) behavioural_.stamp(x_.data(), time, values_.data(), rhs_.data());
        if (!semiconductors_.empty()) semiconductors_.stamp(values_.data(), rhs_.data());
        if (d.kind == Discretisation::Kind::OperatingPoint && !initialVoltages_.empty())
            initialVoltages_.impose(values_.data(), rhs_.data());
        values_.back() = 0.0;
        bool raised = false;
        if (!factored_ || !equalValues(values_, factoredValues_)) {
            bool factorised = solver_->factorise(values_.data());
            // Kept for the error when the step cannot be cut further.
            if (!factorised)
                singularReason_ = "at time " + timeText(time) + ": " +
                                  singularMatrixReason(circuit_, equations_, pattern_, values_.data(),
                                                       solver_->singularColumn());
            if (!factorised && d.kind != Discretisation::Kind::OperatingPoint) {
                // A junction far forward (a diode that carried a large current
                // through a switch that has just opened) in series with an open
                // switch's ROFF: on a very short step the storage elements'
                // companions vanish beside it in rounding, and the node pair
                // loses its pivot although the circuit is well-posed. The
                // iteration goes on with every node's diagonal raised by a
                // part in 1e9 of itself; such an iteration never counts as
                // converged, the next one is solved on the true matrix.
                for (int u = 0; u < equations_.nodeCount(); ++u) {
                    double& diagonal = values_[static_cast<size_t>(equations_.nodeDiagonalSlot(u))];
                    diagonal += kRaisedDiagonal * std::abs(diagonal);
                }
                factorised = raised = solver_->factorise(values_.data());
            }
            if (!factorised) {
                // No factor is left to reuse, whatever is solved next.
                factored_ = false;
                // A wild iterate can leave a pivot that rounding cancels (a
                // junction far forward beside one far reversed): SPICE takes
                // that as a failed iteration and cuts the step.
                if (d.kind == Discretisation::Kind::OperatingPoint) throw SingularOperatingPoint(singularReason_);
                return Result::Failed;
            }
            // A raised matrix is not the one a later iteration may reuse.
            factored_ = !raised;
            // The next iteration builds its values from the base ones again.
            if (!raised) std::swap(values_, factoredValues_);
            ++stats_.factorisations;
        }
        solver_->solve(rhs_.data());
        rhs_[n] = 0.0;
        ++stats_.newtonIterations;

        small = !raised;
        for (size_t u = 0; u < n; ++u) {
            const double next = rhs_[u], now = x_[u];
            if (!std::isfinite(next)) return Result::Failed;
            const double tolerance = o.reltol * std::max(std::abs(next), std::abs(now)) + o.vntol;
            if (std::abs(next - now) > tolerance) small = false;
        }
        std::swap(xBefore_, rhs_);
        std::swap(x_, xBefore_);
        if (iteration == 0) {
            std::copy(x_.begin(), x_.end(), xFirst_.begin());
            firstRaised = raised;
        }
        // The iterates are a function of the iterate alone: one seen before
        // in this solve starts the same cycle again (a switch's state and a
        // junction's limiting going round), which more iterations never leave.
        if (iterates_.repeats(x_)) return Result::Cycling;
    }
    return Result::Failed;
}

bool NewtonSolver::stampIsAccepted() const { return haveAcceptedStamp_ && equalValues(stamp_, acceptedStamp_); }

void NewtonSolver::takeIterateBefore(double pluginTime, const Discretisation& d) {
    std::swap(x_, xBefore_);
    evaluateInstances(x_.data(), pluginTime, d);
}

void NewtonSolver::accept(double time, const Discretisation& d, bool smooth) {
    const size_t n = static_cast<size_t>(equations_.size());
    const bool trap = d.kind == Discretisation::Kind::Trapezoidal;
    const auto c = d.coefficients();
    const double before = tPrev_ - tOlder_;
    if (smooth && d.kind == Discretisation::Kind::BackwardEuler && before > 0.0)
        for (size_t u = 0; u < n; ++u)
            xDotPrev_[u] = CircuitEquations::secondOrderDerivative(x_[u], xPrev_[u], xOlder_[u], d.step, before);
    else
        for (size_t u = 0; u < n; ++u)
            xDotPrev_[u] = c[0] * (x_[u] - xPrev_[u]) + c[2] * (xOlder_[u] - xPrev_[u]) - (trap ? xDotPrev_[u] : 0.0);
    if (d.kind != Discretisation::Kind::OperatingPoint) equations_.accept(x_.data(), d, smooth);
    if (d.kind == Discretisation::Kind::OperatingPoint) {
        semiconductors_.startFrom(x_.data());
        pluginCharges_.startFrom(simulationRecord_.data());
    } else {
        semiconductors_.accept(d);
        if (!pluginCharges_.empty()) {
            pluginCharges_.read(simulationRecord_.data());
            pluginCharges_.accept(d);
        }
    }
    std::swap(xOldest_, xOlder_);
    std::swap(xOlder_, xPrev_);
    std::copy(x_.begin(), x_.end(), xPrev_.begin());
    tOldest_ = tOlder_;
    tOlder_ = tPrev_;
    tPrev_ = time;
    std::copy(stamp_.begin(), stamp_.end(), acceptedStamp_.begin());
    haveAcceptedStamp_ = true;
    behavioural_.accept(x_.data(), time);
}

bool NewtonSolver::solveWithLatestFactor(double* rhs) {
    if (!factored_) return false;
    solver_->solve(rhs);
    rhs[x_.size() - 1] = 0.0;
    return true;
}

}  // namespace udmhost::sim
