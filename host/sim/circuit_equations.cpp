#include "sim/circuit_equations.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "sim/stray_capacitance.h"
#include "sim/waveform_eval.h"

namespace udmhost::sim {

namespace {

using Kind = Element::Kind;


int ticketsOf(Kind kind) {
    switch (kind) {
        case Kind::Resistor:
        case Kind::Capacitor:
        case Kind::VoltageSource:
        case Kind::VoltageControlledCurrent: return 4;
        case Kind::Inductor:
        case Kind::CurrentControlledVoltage: return 5;
        case Kind::VoltageControlledVoltage: return 6;
        case Kind::CurrentControlledCurrent:
        case Kind::MutualInductance: return 2;
        default: return 0;
    }
}

// E, F, G, H: the entries they need (false for other kinds), in the order
// stampControlledSource fills them. k is the element's own branch, kx the
// branch of the source whose current controls F and H.
template <class Ask>
bool controlledSourcePattern(const Element& el, int k, int kx, Ask&& ask) {
    const int a = el.nodes.at(0) - 1, b = el.nodes.at(1) - 1;
    switch (el.kind) {
        case Kind::VoltageControlledCurrent: {
            const int c = el.nodes.at(2) - 1, d = el.nodes.at(3) - 1;
            ask(a, c), ask(a, d), ask(b, c), ask(b, d);
            return true;
        }
        case Kind::VoltageControlledVoltage: {
            const int c = el.nodes.at(2) - 1, d = el.nodes.at(3) - 1;
            ask(a, k), ask(b, k), ask(k, a), ask(k, b), ask(k, c), ask(k, d);
            return true;
        }
        case Kind::CurrentControlledCurrent: ask(a, kx), ask(b, kx); return true;
        case Kind::CurrentControlledVoltage: ask(a, k), ask(b, k), ask(k, a), ask(k, b), ask(k, kx); return true;
        default: return false;
    }
}

// The values of those entries: G drives gain * v(c,d) from a to b; E holds
// v(a,b) = gain * v(c,d) through its branch.
template <class Slot>
void stampControlledSource(const Element& el, Slot&& slot) {
    const double gain = el.value;
    switch (el.kind) {
        case Kind::VoltageControlledCurrent:
            slot(0) += gain, slot(1) -= gain, slot(2) -= gain, slot(3) += gain;
            break;
        case Kind::VoltageControlledVoltage:
            slot(0) += 1.0, slot(1) -= 1.0, slot(2) += 1.0, slot(3) -= 1.0, slot(4) -= gain, slot(5) += gain;
            break;
        case Kind::CurrentControlledCurrent: slot(0) += gain, slot(1) -= gain; break;
        case Kind::CurrentControlledVoltage:
            slot(0) += 1.0, slot(1) -= 1.0, slot(2) += 1.0, slot(3) -= 1.0, slot(4) -= gain;
            break;
        default: break;
    }
}

}  // namespace

CircuitEquations::CircuitEquations(const Circuit& circuit) : circuit_(circuit) {
    size_ = static_cast<int>(circuit.nodeNames.size()) - 1;
    if (size_ < 0) size_ = 0;
    branch_.assign(circuit.elements.size(), -1);
    for (size_t e = 0; e < circuit.elements.size(); ++e) {
        const Element& el = circuit.elements[e];
        if (el.kind == Kind::VoltageSource || el.kind == Kind::Inductor || el.kind == Kind::VoltageControlledVoltage ||
            el.kind == Kind::CurrentControlledVoltage || el.kind == Kind::BehaviouralVoltage)
            branch_[e] = size_++;
        if (el.kind == Kind::Capacitor || el.kind == Kind::Inductor) {
            Storage s{};
            s.element = static_cast<int>(e);
            s.inductor = el.kind == Kind::Inductor;
            s.a = nodeUnknown(el.nodes.at(0));
            s.b = nodeUnknown(el.nodes.at(1));
            s.branch = branch_[e];
            s.value = el.value;
            s.ic = el.hasInitialCondition ? el.initialCondition : 0.0;
            s.icGiven = el.hasInitialCondition;
            storage_.push_back(s);
        }
    }
    // K: the flux of each winding includes M times the other's current.
    mutual_.assign(circuit.elements.size(), 0.0);
    for (size_t e = 0; e < circuit.elements.size(); ++e) {
        const Element& el = circuit.elements[e];
        if (el.kind != Kind::MutualInductance) continue;
        size_t of[2] = {0, 0};
        for (size_t w = 0; w < 2; ++w)
            of[w] = static_cast<size_t>(std::find_if(storage_.begin(), storage_.end(),
                                                     [&](const Storage& s) { return s.element == el.coupled[w]; }) -
                                        storage_.begin());
        const double m = el.value * std::sqrt(storage_.at(of[0]).value * storage_.at(of[1]).value);
        mutual_[e] = m;
        storage_[of[0]].mutual.emplace_back(of[1], m);
        storage_[of[1]].mutual.emplace_back(of[0], m);
    }
    // After the elements' own, which the stamps take in element order.
    for (const auto& [unknown, c] : strayCapacitances(circuit)) {
        Storage s{};
        s.element = -1;
        s.a = unknown;
        s.b = s.branch = -1;
        s.value = c;
        s.stray = true;
        storage_.push_back(s);
    }
}

void CircuitEquations::requestEntries(PatternBuilder& builder) {
    tickets_.assign(circuit_.elements.size(), -1);
    for (size_t e = 0; e < circuit_.elements.size(); ++e) {
        const Element& el = circuit_.elements[e];
        if (ticketsOf(el.kind) == 0) continue;
        const int a = nodeUnknown(el.nodes.at(0)), b = nodeUnknown(el.nodes.at(1)), k = branch_[e];
        int first = -1;
        auto ask = [&](int row, int col) {
            const int t = builder.request(row, col);
            if (first < 0) first = t;
        };
        if (el.kind == Kind::Resistor || el.kind == Kind::Capacitor) {
            ask(a, a), ask(a, b), ask(b, a), ask(b, b);
        } else if (el.kind == Kind::MutualInductance) {
            const int k1 = branch_[static_cast<size_t>(el.coupled[0])], k2 = branch_[static_cast<size_t>(el.coupled[1])];
            ask(k1, k2), ask(k2, k1);
        } else if (!controlledSourcePattern(el, k, el.control >= 0 ? branch_[static_cast<size_t>(el.control)] : -1, ask)) {
            ask(a, k), ask(b, k), ask(k, a), ask(k, b);
            if (el.kind == Kind::Inductor) ask(k, k);
        }
        tickets_[e] = first;
    }
    diagonalTickets_.clear();
    for (int n = 0; n + 1 < static_cast<int>(circuit_.nodeNames.size()); ++n)
        diagonalTickets_.push_back(builder.request(n, n));
}

void CircuitEquations::bindSlots(const PatternBuilder& builder, int nonZeros) {
    valueCount_ = static_cast<size_t>(nonZeros) + 1;
    int count = 0;
    for (size_t e = 0; e < circuit_.elements.size(); ++e) count += ticketsOf(circuit_.elements[e].kind);
    count += static_cast<int>(diagonalTickets_.size());
    slots_.resize(static_cast<size_t>(count) + 1);
    for (int e = 0; e < static_cast<int>(circuit_.elements.size()); ++e) {
        const int first = tickets_[static_cast<size_t>(e)];
        for (int i = 0; i < ticketsOf(circuit_.elements[static_cast<size_t>(e)].kind); ++i)
            slots_[static_cast<size_t>(first + i)] = builder.slotOf(first + i);
    }
    for (int t : diagonalTickets_) slots_[static_cast<size_t>(t)] = builder.slotOf(t);

    constantValues_.assign(valueCount_, 0.0);
    varying_.clear();
    int storage = 0;
    for (size_t e = 0; e < circuit_.elements.size(); ++e) {
        const Element& el = circuit_.elements[e];
        const int ticket = tickets_[e];
        auto slot = [&](int i) -> double& { return constantValues_[static_cast<size_t>(slots_[static_cast<size_t>(ticket + i)])]; };
        switch (el.kind) {
            case Kind::Resistor: {
                const double g = 1.0 / el.value;
                slot(0) += g, slot(1) -= g, slot(2) -= g, slot(3) += g;
                break;
            }
            case Kind::Capacitor: varying_.push_back({e, storage++}); break;
            case Kind::Inductor:
                slot(0) += 1.0, slot(1) -= 1.0, slot(2) += 1.0, slot(3) -= 1.0;
                varying_.push_back({e, storage++});
                break;
            case Kind::VoltageSource:
                slot(0) += 1.0, slot(1) -= 1.0, slot(2) += 1.0, slot(3) -= 1.0;
                varying_.push_back({e, -1});
                break;
            case Kind::CurrentSource:
            case Kind::MutualInductance: varying_.push_back({e, -1}); break;
            case Kind::Plugin: break;
            default: stampControlledSource(el, slot); break;
        }
    }
    firstStray_ = static_cast<size_t>(storage);
}

double CircuitEquations::across(const Storage& s, const double* x) const {
    const double va = s.a >= 0 ? x[s.a] : 0.0, vb = s.b >= 0 ? x[s.b] : 0.0;
    return va - vb;
}

double CircuitEquations::stateOf(const Storage& s, const double* x) const {
    if (!s.inductor) return s.value * across(s, x);
    double flux = s.value * x[s.branch];
    for (const auto& [other, m] : s.mutual) flux += m * x[storage_[other].branch];
    return flux;
}

double CircuitEquations::flowOf(const Storage& s, const double* x, const Discretisation& d) const {
    const auto k = d.coefficients();
    const double flow = k[0] * (stateOf(s, x) - s.q[0]) + k[2] * (s.q[1] - s.q[0]);
    return d.kind == Discretisation::Kind::Trapezoidal ? flow - s.flow : flow;
}

double CircuitEquations::history(const Storage& s, const Discretisation& d) const {
    const auto k = d.coefficients();
    return k[0] * s.q[0] - k[2] * (s.q[1] - s.q[0]) + (d.kind == Discretisation::Kind::Trapezoidal ? s.flow : 0.0);
}

void CircuitEquations::assemble(double* values, double* rhs, double t, const Discretisation& d,
                                double gmin) const {
    std::copy(constantValues_.begin(), constantValues_.end(), values);
    std::fill(rhs, rhs + size_ + 1, 0.0);
    const double c = d.coefficients()[0];
    auto r = [&](int u) -> double& { return rhs[u >= 0 ? u : size_]; };
    auto slot = [&](int ticket, int i) -> double& { return values[slots_[static_cast<size_t>(ticket + i)]]; };

    for (const Varying& v : varying_) {
        const Element& el = circuit_.elements[v.element];
        const int ticket = tickets_[v.element];
        switch (el.kind) {
            case Kind::Capacitor: {
                // Most capacitors have a terminal at ground, whose entries
                // and current go to the spare slots cleared below; they are
                // left out, or each add there would wait for the one before.
                const Storage& s = storage_[static_cast<size_t>(v.storage)];
                const double g = c * s.value;
                const double ieq = history(s, d);  // current source equivalent
                const int* at = &slots_[static_cast<size_t>(ticket)];
                if (s.a >= 0) values[at[0]] += g, rhs[s.a] += ieq;
                if (s.a >= 0 && s.b >= 0) values[at[1]] -= g, values[at[2]] -= g;
                if (s.b >= 0) values[at[3]] += g, rhs[s.b] -= ieq;
                break;
            }
            case Kind::Inductor: {
                const Storage& s = storage_[static_cast<size_t>(v.storage)];
                // v = d(flux)/dt: v - c L i = -c flux_prev (- v_prev for the trapezoidal rule)
                slot(ticket, 4) -= c * s.value;
                if (d.kind == Discretisation::Kind::OperatingPoint) slot(ticket, 4) -= inductorDcResistance_;
                rhs[s.branch] -= history(s, d);
                break;
            }
            case Kind::VoltageSource: rhs[branch_[v.element]] = sourceFactor_ * waveformValue(el.waveform, t); break;
            case Kind::CurrentSource: {
                const double i = sourceFactor_ * waveformValue(el.waveform, t);  // from the first node through it
                r(nodeUnknown(el.nodes.at(0))) -= i;
                r(nodeUnknown(el.nodes.at(1))) += i;
                break;
            }
            case Kind::MutualInductance:
                // Each winding's branch row: v - c (L i + M i_other) = -c flux_prev ...
                slot(ticket, 0) -= c * mutual_[v.element], slot(ticket, 1) -= c * mutual_[v.element];
                break;
            default: break;
        }
    }
    for (size_t k = firstStray_; k < storage_.size(); ++k) {
        const Storage& s = storage_[k];
        values[slots_[static_cast<size_t>(diagonalTickets_[static_cast<size_t>(s.a)])]] += c * s.value;
        rhs[s.a] += history(s, d);
    }
    if (gmin > 0.0)
        for (int t0 : diagonalTickets_) values[slots_[static_cast<size_t>(t0)]] += gmin;
    // .ic replaces its node's row in the operating point (InitialVoltageRows).
    values[valueCount_ - 1] = 0.0;
    rhs[size_] = 0.0;
}

bool CircuitEquations::hasInductors() const {
    return std::any_of(storage_.begin(), storage_.end(), [](const Storage& s) { return s.inductor; });
}

const Element* CircuitEquations::inductorDrivenAcrossDcResistance(const double* x, double volts) const {
    for (const Storage& s : storage_)
        if (s.inductor && std::abs(x[s.branch]) * inductorDcResistance_ > volts)
            return &circuit_.elements[static_cast<size_t>(s.element)];
    return nullptr;
}

void CircuitEquations::applyInitialConditions(double* x) const {
    for (const auto& [node, v] : circuit_.initialVoltages) x[nodeUnknown(node)] = v;
    for (const Storage& s : storage_) {
        if (s.stray) continue;
        if (s.inductor) x[s.branch] = s.ic;
        else if (!s.icGiven) continue;  // its voltage is the nodes' (.ic or 0), as in SPICE
        else if (s.b < 0 && s.a >= 0) x[s.a] = s.ic;
        else if (s.a < 0 && s.b >= 0) x[s.b] = -s.ic;
    }
}

void CircuitEquations::applySourceValues(double* x, double t) const {
    std::vector<bool> known(static_cast<size_t>(size_), false), driven(static_cast<size_t>(size_), false);
    auto isKnown = [&](int u) { return u < 0 || known[static_cast<size_t>(u)]; };
    auto isVoltage = [](Kind k) { return k == Kind::VoltageSource || k == Kind::VoltageControlledVoltage; };
    for (const Element& el : circuit_.elements)
        if (isVoltage(el.kind))
            for (size_t i = 0; i < 2; ++i)
                if (const int u = nodeUnknown(el.nodes.at(i)); u >= 0) driven[static_cast<size_t>(u)] = true;
    // A node no source drives keeps the value it has (0, or its .ic), so
    // an E source controlled by such nodes is settled too.
    auto isSettled = [&](int u) { return isKnown(u) || !driven[static_cast<size_t>(u)]; };
    auto at = [&](int u) { return u < 0 ? 0.0 : x[u]; };
    // A chain of sources is resolved one link per pass.
    auto resolve = [&] {
        for (bool progress = true; progress;) {
            progress = false;
            for (const Element& el : circuit_.elements) {
                if (!isVoltage(el.kind)) continue;
                const int a = nodeUnknown(el.nodes.at(0)), b = nodeUnknown(el.nodes.at(1));
                if (isKnown(a) == isKnown(b)) continue;
                double v = 0.0;
                if (el.kind == Kind::VoltageSource) v = waveformValue(el.waveform, t);
                else {
                    const int cp = nodeUnknown(el.nodes.at(2)), cn = nodeUnknown(el.nodes.at(3));
                    if (!isSettled(cp) || !isSettled(cn)) continue;
                    v = el.value * (at(cp) - at(cn));
                }
                const int to = isKnown(a) ? b : a;
                x[to] = isKnown(a) ? (a < 0 ? 0.0 : x[a]) - v : (b < 0 ? 0.0 : x[b]) + v;
                known[static_cast<size_t>(to)] = true;
                progress = true;
            }
        }
    };
    resolve();
    // Then from the nodes an initial condition sets (.ic, or a grounded
    // capacitor's IC=) that no source chain from ground reached: a source
    // in series with such a capacitor carries its voltage on.
    for (const auto& [node, v] : circuit_.initialVoltages) known[static_cast<size_t>(nodeUnknown(node))] = true;
    for (const Storage& s : storage_)
        if (!s.stray && !s.inductor && s.icGiven && (s.a < 0) != (s.b < 0)) known[static_cast<size_t>(std::max(s.a, s.b))] = true;
    resolve();
}

std::vector<bool> CircuitEquations::stateUnknowns() const {
    std::vector<bool> states(static_cast<size_t>(size()) + 1, false);
    for (const Storage& s : storage_) {
        if (s.stray) continue;
        if (s.inductor) states[static_cast<size_t>(s.branch)] = true;
        else if ((s.a < 0) != (s.b < 0)) states[static_cast<size_t>(std::max(s.a, s.b))] = true;
    }
    return states;
}

void CircuitEquations::startFrom(const double* x, bool useInitialConditions) {
    // With UIC a capacitor without IC= starts at the voltage .ic gives its
    // nodes, 0 elsewhere, as in SPICE: not at what the first row shows, whose
    // sources and grounded capacitors' IC= move nodes it may share.
    std::vector<double> held(static_cast<size_t>(size_), 0.0);
    if (useInitialConditions)
        for (const auto& [node, v] : circuit_.initialVoltages) held[static_cast<size_t>(nodeUnknown(node))] = v;
    for (Storage& s : storage_) {
        const bool own = s.inductor || s.icGiven;
        double q = stateOf(s, x);
        if (useInitialConditions && !s.stray) q = own ? s.value * s.ic : stateOf(s, held.data());
        if (useInitialConditions)
            for (const auto& [other, m] : s.mutual) q += m * storage_[other].ic;
        s.q[0] = s.q[1] = s.q[2] = q;
        s.flow = 0.0;
    }
    steps_[0] = steps_[1] = 0.0;
}

void CircuitEquations::accept(const double* x, const Discretisation& d, bool smooth) {
    const bool secondOrder = smooth && d.kind == Discretisation::Kind::BackwardEuler && steps_[0] > 0.0;
    for (Storage& s : storage_) {
        s.flow = secondOrder ? secondOrderDerivative(stateOf(s, x), s.q[0], s.q[1], d.step, steps_[0]) : flowOf(s, x, d);
        // A stray capacitance carries no flow on into the next step: its mode
        // is far faster than any step, and a trapezoidal step would keep
        // alternating what the step before put into it (a capacitor's IC=
        // under UIC starts it away from its nodes' voltages).
        if (s.stray) s.flow = 0.0;
        s.q[2] = s.q[1];
        s.q[1] = s.q[0];
        s.q[0] = stateOf(s, x);
    }
    steps_[1] = steps_[0];
    steps_[0] = d.step;
}

double CircuitEquations::sourceValue(int e, double t) const {
    const Element& el = circuit_.elements[static_cast<size_t>(e)];
    if (el.kind == Kind::CurrentSource) return waveformValue(el.waveform, t);
    return 0.0;
}

}  // namespace udmhost::sim
