#include "check/sweep.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "netlist/spice_number.h"

namespace udmhost {

namespace {

std::string numbers(const std::vector<double>& values) {
    std::string text;
    for (double v : values) text += (text.empty() ? "" : " ") + number(v);
    return text;
}

std::string clip(const std::string& text) { return text.size() <= 160 ? text : text.substr(0, 157) + "..."; }

// Messages since the last call, as one suffix.
std::string drainMessages() {
    std::string text;
    for (const std::string& m : recorder().messages) text += " message[" + clip(m) + "]";
    recorder().messages.clear();
    return text;
}

std::vector<double> ramp(double step) {
    std::vector<double> values;
    const int n = static_cast<int>(std::lround(2.0 / step));
    for (int k = -n; k <= n; ++k) values.push_back(step * k);
    for (int k = n - 1; k >= -n; --k) values.push_back(step * k);
    return values;
}

class CaseDriver {
public:
    CaseDriver(PlugInUnderTest& plugin, const SweepOptions& options, const SweepFindings& findings)
        : plugin_(plugin), options_(options), findings_(findings), inst_(plugin, 1, options.regionStart) {}

    std::vector<std::string> run(const std::string& definition) {
        Recorder& r = recorder();
        definitionText_ = definition;
        r.messagesAllowed = true;
        r.idFraction = options_.idFraction;
        std::string sizeFault;
        const int32_t defined = inst_.define(definition, &sizeFault);
        note(defined, "mode 1");
        lines_.push_back("define \"" + clip(definition) + "\" status " + statusName(defined) + " entries " +
                         std::to_string(inst_.entries) + drainMessages());
        if (!sizeFault.empty()) {
            lines_.push_back("unusable sizes");
            return finish();
        }
        if (!options_.neighbour.empty()) {
            neighbour_ = std::make_unique<TestInstance>(plugin_, 2, options_.regionStart);
            neighbour_->define(options_.neighbour);
            r.registrationDue = true;
            neighbour_->call(UDM_MODE_PREPARE, nullptr, nullptr, &scratch_);
            r.registrationDue = false;
        }
        if (options_.scrubDefinition) {
            std::vector<char>& buffer = inst_.definitionBuffer();
            std::memset(buffer.data(), '#', definition.size());
        }
        r.registrationDue = true;
        r.registeredTexts.clear();
        const int32_t prepared = inst_.call(UDM_MODE_PREPARE, nullptr, nullptr, &scratch_);
        r.registrationDue = false;
        note(prepared, "mode 2");
        std::string pattern;
        pattern_ = inst_.pattern();
        for (const auto& [row, col] : pattern_) pattern += " (" + std::to_string(row) + "," + std::to_string(col) + ")";
        std::string registered;
        for (const std::string& t : r.registeredTexts) registered += " [" + clip(t) + "]";
        lines_.push_back("prepare status " + statusName(prepared) + " pattern" + pattern + " registered" + registered +
                         drainMessages());
        resolveOutputs();

        r.evaluationDue = true;
        // Before the start time, once without acceptance, then accepted.
        lines_.push_back(evaluate(-2e-6, 0.0, 0, "before"));
        lines_.push_back(evaluate(-1e-6, 0.0, 0, "before"));  // not accepted: the first step starts from it
        double time = 0.0;
        int step = 0;
        const std::vector<double> controls = options_.controls.empty() ? ramp(options_.rampStep) : options_.controls;
        for (int parity = 0; parity < (options_.controls.empty() ? 2 : 1); ++parity)
            for (double v : controls) {
                // A Newton iteration that started far off: only the last evaluation counts.
                if (options_.iterateFirst) evaluate(time, v > 0 ? -2.5 : 2.5, parity, "iteration");
                const std::string first = evaluate(time, v, parity, "step");
                if (step % 3 == 2) {
                    evaluate(time + 1e-6, v > 0 ? -2.5 : 2.5, parity, "rejected");
                    const std::string replay = evaluate(time, v, parity, "step");
                    if (replay != first && findings_.replay != nullptr)
                        findings_.replay->fault(clip(definition) + ": after a rejected step, \"" + clip(replay) +
                                                "\" instead of \"" + clip(first) + "\"");
                } else {
                    const std::string again = evaluate(time, v, parity, "step");
                    if (again != first && findings_.repeat != nullptr)
                        findings_.repeat->fault(clip(definition) + ": \"" + clip(again) + "\" after \"" + clip(first) + "\"");
                }
                const std::string accepted = accept();
                lines_.push_back(first + accepted + outputs());
                time += 1e-6;
                ++step;
            }
        // Controls that compare with nothing, then odd selectors.
        for (double v : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
            const std::string probe = evaluate(time, v, 0, "probe");
            lines_.push_back(probe + accept() + outputs());
            time += 1e-6;
        }
        r.evaluationDue = false;
        lines_.push_back(selectors());
        return finish();
    }

private:
    void note(int32_t status, const std::string& what) {
        if (status != 0 && findings_.status != nullptr)
            findings_.status->fault(what + " returned " + statusName(status));
    }

    std::vector<std::string> finish() {
        if (neighbour_ != nullptr) neighbour_->call(UDM_MODE_RELEASE, nullptr, nullptr, &scratch_);
        note(inst_.call(UDM_MODE_RELEASE, nullptr, nullptr, &scratch_), "mode 7");
        lines_.push_back("release" + drainMessages());
        recorder().messagesAllowed = false;
        recorder().idFraction = 0.0;
        return lines_;
    }

    // Parity 0: v on every other terminal, 0 on the rest. Parity 1: each
    // terminal at its own multiple of v, so that every pair of terminals sees
    // a different voltage (a value read from the wrong node shows), while
    // terminals 2 and 3, a four-terminal device's control pair, still differ
    // by -v as on alternate terminals. All multiples are exact.
    void setControls(double v, int parity) {
        static constexpr double kApart[4] = {0.5, 2.0, -0.75, 0.25};
        std::vector<double> values, derivatives;
        for (size_t t = 0; t < plugin_.terminals; ++t) {
            const double apart = kApart[t % 4] + 4.0 * static_cast<double>(t / 4);
            values.push_back(parity == 1 ? apart * v : t % 2 == 0 ? v : 0.0);
            derivatives.push_back(0.1 * static_cast<double>(t + 1) * v);
        }
        inst_.setNodes(values, derivatives);
    }

    // Every current that enters the instance leaves it: each column of the
    // stamp (the change of all terminal currents with one node value) and the
    // right-hand side sum to zero, and nothing is infinite or NaN.
    void checkBalance(const std::string& where) {
        if (findings_.balance == nullptr) return;
        const std::vector<double> stamp = inst_.stamp(), rhs = inst_.rhs();
        // The pattern as preparation wrote it: a stamp written beyond its entries is another check's fault.
        const std::vector<std::pair<int32_t, int32_t>>& cells = pattern_;
        std::vector<double> sum(plugin_.terminals, 0.0), scale(plugin_.terminals, 0.0);
        for (size_t k = 0; k < stamp.size() && k < cells.size(); ++k) {
            const auto [row, col] = cells[k];
            if (!std::isfinite(stamp[k])) findings_.balance->fault(where + ": stamp entry " + std::to_string(k) + " is " + number(stamp[k]));
            if (row < 0 || col < 0 || static_cast<size_t>(col) >= sum.size()) continue;
            sum[static_cast<size_t>(col)] += stamp[k];
            scale[static_cast<size_t>(col)] = std::max(scale[static_cast<size_t>(col)], std::fabs(stamp[k]));
        }
        for (size_t c = 0; c < sum.size(); ++c)
            if (std::fabs(sum[c]) > 1e-9 * scale[c])
                findings_.balance->fault(where + ": column " + std::to_string(c) + " of the stamp sums to " + number(sum[c]));
        double total = 0.0, largest = 0.0;
        for (double r : rhs) {
            if (!std::isfinite(r)) findings_.balance->fault(where + ": a right-hand side entry is " + number(r));
            total += r;
            largest = std::max(largest, std::fabs(r));
        }
        if (std::fabs(total) > 1e-9 * largest) findings_.balance->fault(where + ": the right-hand side sums to " + number(total));
    }

    // Whatever the host does between two calls of this instance.
    void between(double time, double v) {
        if (options_.moveBlocks) inst_.relocate();
        if (neighbour_ == nullptr) return;
        std::vector<double> values(plugin_.terminals, -v);
        neighbour_->setNodes(values, values);
        SimulationBlock simulation;
        simulation.set(0.0, time, 0.0);
        const bool due = recorder().evaluationDue;
        recorder().evaluationDue = true;
        neighbour_->call(UDM_MODE_EVALUATE, nullptr, simulation.bytes, &scratch_);
        neighbour_->call(UDM_MODE_ACCEPT, nullptr, nullptr, &scratch_);
        recorder().evaluationDue = due;
        recorder().messages.clear();
    }

    std::string evaluate(double time, double v, int parity, const char* label) {
        between(time, v);
        setControls(v, parity);
        const unsigned char fill = options_.garbagePrefill ? 0x41 : kGuard;
        inst_.fillMatrixValues(fill);
        inst_.fillRhs(fill);
        SimulationBlock simulation;
        simulation.set(0.0, time, 0.0);
        const int evaluationsBefore = recorder().evaluations;
        const int32_t status = inst_.call(UDM_MODE_EVALUATE, nullptr, simulation.bytes, &scratch_);
        note(status, "mode 3");
        const int refreshed = recorder().evaluations - evaluationsBefore;
        if (status == 0 && std::isfinite(v) && std::string(label) != "iteration")
            checkBalance(clip(definitionText_) + " at t " + number(time) + " v " + number(v));
        return std::string(label) + " t " + number(time) + " v " + number(v) + " status " + std::to_string(status) +
               " stamp " + numbers(inst_.stamp()) + " rhs " + numbers(inst_.rhs()) +
               (refreshed > 0 ? " expressions " + std::to_string(refreshed) : "") + drainMessages();
    }

    std::string accept() {
        between(0.0, 1.0);
        if (options_.acceptWithoutBlocks) inst_.setComponentHandles(nullptr, nullptr);
        note(inst_.call(UDM_MODE_ACCEPT, nullptr, nullptr, &scratch_), "mode 4");
        if (options_.acceptWithoutBlocks) inst_.setComponentHandles(inst_.vector, inst_.matrix);
        const std::string messages = drainMessages();
        return messages.empty() ? "" : " accept" + messages;
    }

    std::string selectors() {
        std::string text = "selectors";
        setControls(0.75, 0);
        for (double selector : {0.0, 2.9, -1.0, 11.0, 65539.0, 4294967299.0, -2147483647.0, std::nan("")}) {
            between(0.0, 0.0);
            SimulationBlock simulation;
            simulation.set(selector, 0.0, 0.0);
            double value = -12345.0;
            note(inst_.call(UDM_MODE_OUTPUT_VALUE, nullptr, simulation.bytes, &value), "mode 6");
            text += " " + number(selector) + ":" + number(value);
        }
        return text + drainMessages();
    }

    void resolveOutputs() {
        std::string line = "outputs";
        for (std::string name : plugin_.outputs) {  // names the plug-in must not know
            for (char& c : name) c = static_cast<char>(c ^ 0x20);
            for (const std::string& other : {name, name + " ", std::string()}) {
                std::vector<char> text(other.begin(), other.end());
                text.push_back('\0');
                double index = -1.0;
                note(inst_.call(UDM_MODE_OUTPUT_INDEX, text.data(), nullptr, &index), "mode 5");
                line += " [" + other + "]=" + number(index);
            }
        }
        // Outputs, then parameters a plug-in may also deliver as outputs.
        std::vector<std::string> names = plugin_.outputs;
        for (const CatalogueItem& p : plugin_.parameters) names.push_back(p.name);
        for (size_t n = 0; n < names.size(); ++n) {
            std::vector<char> text(names[n].begin(), names[n].end());
            text.push_back('\0');
            double index = 0.0;
            note(inst_.call(UDM_MODE_OUTPUT_INDEX, text.data(), nullptr, &index), "mode 5");
            if (n < plugin_.outputs.size() || (index >= 1.0 && index < 65536.0)) indices_.push_back(index);
            line += " " + names[n] + "=" + number(index);
        }
        lines_.push_back(line + drainMessages());
    }

    std::string outputs() {
        std::string text = " out";
        for (double index : indices_) {
            between(0.0, -1.0);
            SimulationBlock simulation;
            simulation.set(index, 0.0, 0.0);
            double value = -12345.0;
            note(inst_.call(UDM_MODE_OUTPUT_VALUE, nullptr, simulation.bytes, &value), "mode 6");
            text += " " + number(value);
        }
        return text + drainMessages();
    }

    PlugInUnderTest& plugin_;
    const SweepOptions& options_;
    const SweepFindings& findings_;
    TestInstance inst_;
    std::unique_ptr<TestInstance> neighbour_;
    std::vector<std::string> lines_;
    std::vector<double> indices_;
    std::string definitionText_;
    std::vector<std::pair<int32_t, int32_t>> pattern_;
    double scratch_ = 0.0;
};

}  // namespace

std::string allExpressionDefinition(const PlugInUnderTest& plugin) {
    std::string text;
    for (size_t p = 0; p < plugin.parameters.size(); ++p) {
        const std::string& value = plugin.parameters[p].defaultText;
        text += (p > 0 ? "," : "") + (spiceNumber(value) ? "(" + value + ")" : value);
    }
    return text;
}

std::vector<std::string> sweepDefinitions(const PlugInUnderTest& plugin, const std::vector<std::string>& grid) {
    std::vector<std::string> definitions = {plugin.defaultDefinition(), allExpressionDefinition(plugin)};
    for (size_t p = 0; p < plugin.parameters.size(); ++p)
        for (const std::string& value : grid) {
            std::string text;
            for (size_t q = 0; q < plugin.parameters.size(); ++q)
                text += (q > 0 ? "," : "") + (q == p ? value : plugin.parameters[q].defaultText);
            definitions.push_back(text);
        }
    return definitions;
}

std::vector<std::string> sweepCase(PlugInUnderTest& plugin, const std::string& definition, const SweepOptions& options,
                                   const SweepFindings& findings) {
    Recorder& r = recorder();
    r.registered.clear();
    r.messages.clear();
    CaseDriver driver(plugin, options, findings);
    return driver.run(definition);
}

void compareSweeps(const std::vector<std::string>& expected, const std::vector<std::string>& actual, Finding& finding,
                   const std::string& where) {
    const size_t n = std::max(expected.size(), actual.size());
    for (size_t i = 0; i < n; ++i) {
        const std::string want = i < expected.size() ? expected[i] : "(nothing)";
        const std::string got = i < actual.size() ? actual[i] : "(nothing)";
        if (want != got) finding.fault(where + " line " + std::to_string(i + 1) + ": \"" + clip(got) + "\" instead of \"" + clip(want) + "\"");
    }
}

}  // namespace udmhost
