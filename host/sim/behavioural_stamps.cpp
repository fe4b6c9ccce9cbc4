#include "sim/behavioural_stamps.h"

#include <algorithm>
#include <cmath>

#include "sim/simulator.h"
#include "sim/time_text.h"

namespace udmhost::sim {

BehaviouralStamps::BehaviouralStamps(const Circuit& circuit, const CircuitEquations& equations)
    : circuit_(circuit), equations_(equations), size_(equations.size()) {
    for (size_t e = 0; e < circuit.elements.size(); ++e) {
        const Element& el = circuit.elements[e];
        if (el.kind != Element::Kind::BehaviouralVoltage && el.kind != Element::Kind::BehaviouralCurrent) continue;
        Source s{};
        s.element = e;
        s.expression = el.expression.get();
        s.voltage = el.kind == Element::Kind::BehaviouralVoltage;
        s.a = CircuitEquations::nodeUnknown(el.nodes.at(0));
        s.b = CircuitEquations::nodeUnknown(el.nodes.at(1));
        s.branch = equations.branchUnknown(static_cast<int>(e));
        for (const BehaviouralInput& in : s.expression->inputs())
            s.unknowns.push_back(in.kind == BehaviouralInput::Kind::NodeVoltage ? CircuitEquations::nodeUnknown(in.index)
                                 : in.kind == BehaviouralInput::Kind::BranchCurrent ? equations.branchUnknown(in.index)
                                                                                     : -1);
        sources_.push_back(std::move(s));
    }
}

// Tickets of a source, in order: a voltage source's four branch entries,
// then per input the entries of the rows its value enters (the branch row,
// or rows a and b of a current).
void BehaviouralStamps::requestEntries(PatternBuilder& builder) {
    slots_.clear();
    int count = 0;
    for (Source& s : sources_) {
        auto ask = [&](int row, int col) {
            const int t = builder.request(row, col);
            if (s.firstTicket < 0) s.firstTicket = t;
            ++count;
        };
        s.firstTicket = -1;
        if (s.voltage) ask(s.a, s.branch), ask(s.b, s.branch), ask(s.branch, s.a), ask(s.branch, s.b);
        for (int u : s.unknowns) {
            if (s.voltage) ask(s.branch, u);
            else ask(s.a, u), ask(s.b, u);
        }
    }
    (void)count;
}

void BehaviouralStamps::bindSlots(const PatternBuilder& builder) {
    for (Source& s : sources_) {
        const size_t entries = (s.voltage ? 4 : 0) + s.unknowns.size() * (s.voltage ? 1 : 2);
        if (s.firstTicket < 0) continue;
        const size_t first = static_cast<size_t>(s.firstTicket);
        if (slots_.size() < first + entries) slots_.resize(first + entries, 0);
        for (size_t i = 0; i < entries; ++i) slots_[first + i] = builder.slotOf(static_cast<int>(first + i));
    }
}

void BehaviouralStamps::inputs(const Source& s, const double* x, double t, std::vector<double>& in) const {
    in.resize(s.unknowns.size());
    for (size_t k = 0; k < s.unknowns.size(); ++k)
        in[k] = s.expression->inputs()[k].kind == BehaviouralInput::Kind::Time ? t
                : s.unknowns[k] >= 0                                          ? x[s.unknowns[k]]
                                                                               : 0.0;
}

void BehaviouralStamps::stamp(const double* x, double t, double* values, double* rhs) {
    std::vector<double> in, gradient;
    auto r = [&](int u) -> double& { return rhs[u >= 0 ? u : size_]; };
    for (Source& s : sources_) {
        inputs(s, x, t, in);
        gradient.assign(in.size(), 0.0);
        const char* domain = nullptr;
        const double f = s.expression->evaluate(in.data(), gradient.data(), &s.stamped, &domain);
        const std::string& name = circuit_.elements[s.element].name;
        if (domain) throw SimulationError(name + ": " + domain + " at time " + timeText(t));
        if (!std::isfinite(f)) throw SimulationError(name + ": the expression is not finite at time " + timeText(t));
        // Linearised: f(x) ~ f0 + sum g_k (x_k - x0_k); the constant part goes to the right-hand side.
        double constant = f;
        size_t slot = static_cast<size_t>(s.firstTicket);
        auto value = [&]() -> double& { return values[slots_[slot++]]; };
        if (s.voltage) value() += 1.0, value() -= 1.0, value() += 1.0, value() -= 1.0;
        for (size_t k = 0; k < in.size(); ++k) {
            const bool unknown = s.unknowns[k] >= 0;
            const double g = unknown ? gradient[k] : 0.0;
            if (unknown) constant -= g * in[k];
            if (s.voltage) value() -= g;
            else value() += g, value() -= g;
        }
        // v(a) - v(b) = f through the branch; a current f from a through the source to b.
        if (s.voltage) rhs[s.branch] += constant;
        else r(s.a) -= constant, r(s.b) += constant;
    }
    rhs[size_] = 0.0;
}

bool BehaviouralStamps::sameBranches(const double* x, double t) const {
    std::vector<double> in, gradient;
    BehaviouralExpression::Branches now;
    for (const Source& s : sources_) {
        if (s.expression->eventCount() == 0) continue;
        inputs(s, x, t, in);
        gradient.assign(in.size(), 0.0);
        s.expression->evaluate(in.data(), gradient.data(), &now);
        if (now.taken != s.stamped.taken) return false;
    }
    return true;
}

void BehaviouralStamps::accept(const double* x, double t) {
    std::vector<double> in, gradient, before;
    switched_.clear();
    for (Source& s : sources_) {
        inputs(s, x, t, in);
        gradient.assign(in.size(), 0.0);
        before = s.accepted.taken;
        s.expression->evaluate(in.data(), gradient.data(), &s.accepted);
        if (before.size() != s.accepted.taken.size()) continue;  // the first point: nothing to compare
        for (size_t k = 0; k < before.size(); ++k) {
            if (before[k] == s.accepted.taken[k]) continue;
            // A branch is 0 or 1, a sign, or floor/ceil of a value: clamped to the state's range.
            const double taken = std::clamp(s.accepted.taken[k], -1e9, 1e9);
            switched_.push_back({s.element, static_cast<int>(taken)});
            break;
        }
    }
}

std::optional<double> BehaviouralStamps::crossing(const double* x, double t) const {
    std::vector<double> in, gradient;
    BehaviouralExpression::Branches now;
    std::optional<double> first;
    for (const Source& s : sources_) {
        if (s.expression->eventCount() == 0) continue;
        inputs(s, x, t, in);
        gradient.assign(in.size(), 0.0);
        s.expression->evaluate(in.data(), gradient.data(), &now);
        for (size_t k = 0; k < now.taken.size(); ++k) {
            if (now.taken[k] == s.accepted.taken[k]) continue;
            const double before = s.accepted.argument[k], after = now.argument[k];
            double fraction = 0.5;
            if (std::isfinite(before) && std::isfinite(after) && before != after) {
                const double f = before / (before - after);
                if (f > 0.0 && f <= 1.0) fraction = f;
            }
            first = first ? std::min(*first, fraction) : fraction;
        }
    }
    return first;
}

}  // namespace udmhost::sim
