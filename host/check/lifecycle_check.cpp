#include "check/lifecycle_check.h"

#include <cmath>
#include <cstring>
#include <map>

#include "host_records.h"
#include "netlist/spice_number.h"

namespace udmhost {

namespace {

constexpr int kInstances = 3;

// The defaults; with `expression`, the first numeric default is wrapped in
// parentheses so that it reaches the host as an expression of that value.
std::string definitionFor(const PlugInUnderTest& plugin, bool expression) {
    std::string text;
    bool wrapped = false;
    for (size_t p = 0; p < plugin.parameters.size(); ++p) {
        const std::string& value = plugin.parameters[p].defaultText;
        if (p > 0) text += ',';
        if (expression && !wrapped && spiceNumber(value)) {
            text += "(" + value + ")";
            wrapped = true;
        } else {
            text += value;
        }
    }
    return text;
}

// Bytes outside the `writable` ranges must equal `before`.
bool untouchedOutside(const std::vector<unsigned char>& now, const std::vector<unsigned char>& before,
                      const std::vector<std::pair<size_t, size_t>>& writable, size_t* where) {
    for (size_t at = 0; at < now.size() && at < before.size(); ++at) {
        bool allowed = false;
        for (const auto& [from, to] : writable) allowed = allowed || (at >= from && at < to);
        if (!allowed && now[at] != before[at]) {
            *where = at;
            return false;
        }
    }
    return true;
}

}  // namespace

LifeCycle::LifeCycle(PlugInUnderTest& plugin, CheckChannel& channel)
    : plugin_(plugin),
      channel_(channel),
      define_(checkNames()[0]),
      text_(checkNames()[1]),
      stray_(checkNames()[2]),
      pattern_(checkNames()[3]),
      stamp_(checkNames()[4]),
      outputs_(checkNames()[5]),
      status_(checkNames()[6]),
      locks_(checkNames()[7]),
      callbacks_(checkNames()[8]) {
    for (int i = 0; i < kInstances; ++i) {
        instances_.push_back(std::make_unique<TestInstance>(plugin_, static_cast<size_t>(i + 1)));
        instances_.back()->watchLocks(&locks_);
        instances_.back()->watchStray(&stray_);
    }
}

std::vector<std::string> LifeCycle::checkNames() {
    return {"mode 1 defines 3 instances with the catalogue defaults and announces usable sizes",
            "mode 1 changes the definition text only by splitting it at commas",
            "calls write the instance block only within its registered size and the component record only in mode 1",
            "mode 2 writes the matrix pattern inside the announced entries",
            "mode 3 writes the stamp inside the announced entries",
            "modes 5 and 6 resolve and read every output",
            "every call of the life cycle returns 0",
            "every call unlocks what it locked, in reverse order",
            "callbacks called only where due"};
}

void LifeCycle::emit(const Finding& finding) { channel_.emit(finding.line()); }

void LifeCycle::skip(const Finding& finding, const std::string& reason) {
    channel_.emit(skippedLine(finding.name(), reason));
}

int32_t LifeCycle::call(TestInstance& inst, int32_t mode, char* text, void* simulation, double* out) {
    ++calls_;
    double scratch = 0.0;
    const int32_t status = inst.call(mode, text, simulation, out != nullptr ? out : &scratch);
    if (status != 0) status_.fault("mode " + std::to_string(mode) + " on " + inst.who + " returned " + statusName(status));
    return status;
}

void LifeCycle::run() {
    channel_.begin(define_.name());
    const bool usable = defineInstances();
    emit(define_);
    emit(text_);
    if (usable) {
        channel_.begin(pattern_.name());
        prepareInstances();
        emit(pattern_);
        channel_.begin(stamp_.name());
        evaluateSteps();
        emit(stamp_);
        channel_.begin(outputs_.name());
        readOutputs();
        emit(outputs_);
    } else {
        const std::string reason = "needs: " + define_.name();
        for (const Finding* f : {&pattern_, &stamp_, &outputs_}) skip(*f, reason);
    }
    channel_.begin(status_.name());
    releaseInstances();
    status_.see(std::to_string(calls_) + " calls");
    locks_.see(std::to_string(calls_) + " calls, 4 handles each");
    for (const std::string& v : recorder().violations) callbacks_.fault(v);
    callbacks_.see(std::to_string(recorder().registrations) + " expression registrations in mode 2, " +
                   std::to_string(recorder().evaluations) + " evaluations in mode 3, no messages");
    stray_.see("guard bytes behind " + std::to_string(plugin_.registration.record.instanceBytes) +
                " bytes and around the record's fields untouched; mode 1 cleared the two fields beside the entry count");
    emit(stray_);
    emit(status_);
    emit(locks_);
    emit(callbacks_);
}

bool LifeCycle::defineInstances() {
    bool usable = true;
    for (auto& inst : instances_) {
        const std::string text = definitionFor(plugin_, inst->who == "instance 2");
        std::string sizeFault;
        ++calls_;
        const int32_t status = inst->define(text, &sizeFault);
        if (status != 0) status_.fault("mode 1 on " + inst->who + " returned " + statusName(status));
        if (!sizeFault.empty()) {
            define_.fault(sizeFault);
            usable = false;
        }
        // Only commas may have become zero bytes; the guard behind the text stays.
        const std::vector<char>& now = inst->definitionBuffer();
        for (size_t at = 0; at < now.size(); ++at) {
            const char before = at < text.size() ? text[at] : at == text.size() ? '\0' : static_cast<char>(kGuard);
            if (now[at] != before && !(before == ',' && now[at] == '\0')) {
                text_.fault(inst->who + ": byte " + std::to_string(at) + " of the definition text changed" +
                            (at > text.size() ? " (behind its terminating zero)" : ""));
                break;
            }
        }
    }
    define_.see(std::to_string(instances_.front()->entries) + " matrix entries per instance; definition \"" +
                definitionFor(plugin_, false) + "\"");
    text_.see("commas became zero bytes at most");
    return usable;
}

void LifeCycle::prepareInstances() {
    recorder().registrationDue = true;
    for (auto& inst : instances_) {
        call(*inst, UDM_MODE_PREPARE, nullptr, nullptr, nullptr);
        checkPattern(*inst);
    }
    recorder().registrationDue = false;
    pattern_.see("indices written within " + std::to_string(instances_.front()->entries) + " entries");
}

void LifeCycle::checkPattern(const TestInstance& inst) {
    const std::vector<unsigned char> now = inst.bytes(inst.matrix);
    const std::vector<unsigned char> guard(now.size(), kGuard);
    const udm::InstanceBlockLayout& l = inst.layout;
    size_t at = 0;
    if (!untouchedOutside(now, guard,
                          {{l.colIndex, l.colIndex + 4 * inst.entries},
                           {l.rowIndex, l.rowIndex + 4 * inst.entries},
                           {l.matrixValue, l.matrixValue + 8 * inst.entries}},
                          &at))
        pattern_.fault(inst.who + " wrote matrix byte " + std::to_string(at) + " outside its entries");
    const auto n = static_cast<int32_t>(plugin_.terminals);
    size_t k = 0;
    for (const auto& [row, col] : inst.pattern()) {
        if (row < 0 || col < 0 || row >= n || col >= n)
            pattern_.fault(inst.who + " entry " + std::to_string(k) + " at (" + std::to_string(row) + ", " +
                           std::to_string(col) + ") lies outside the " + std::to_string(n) + " terminals");
        ++k;
    }
}

void LifeCycle::evaluateSteps() {
    // One evaluation before the start time, then a few time points, each
    // accepted, with the terminals at different voltages.
    const double times[] = {-1e-6, 0.0, 1e-6, 2e-6, 4e-6};
    int step = 0;
    for (double time : times) {
        SimulationBlock simulation;
        simulation.set(0.0, time, 0.0);
        for (auto& inst : instances_) {
            std::vector<double> values, derivatives;
            for (size_t t = 0; t < plugin_.terminals; ++t) {
                values.push_back(0.75 * step * static_cast<double>(t + 1));
                derivatives.push_back(0.5 * static_cast<double>(t));
            }
            inst->setNodes(values, derivatives);
            const std::vector<unsigned char> vectorBefore = inst->bytes(inst->vector);
            const std::vector<unsigned char> matrixBefore = inst->bytes(inst->matrix);
            recorder().evaluationDue = true;
            call(*inst, UDM_MODE_EVALUATE, nullptr, simulation.bytes, nullptr);
            recorder().evaluationDue = false;
            checkStamp(*inst, vectorBefore, matrixBefore);
            call(*inst, UDM_MODE_ACCEPT, nullptr, simulation.bytes, nullptr);
        }
        ++step;
    }
    stamp_.see(std::to_string(std::size(times)) + " evaluations per instance, finite values, node values untouched");
}

void LifeCycle::checkStamp(const TestInstance& inst, const std::vector<unsigned char>& vectorBefore,
                           const std::vector<unsigned char>& matrixBefore) {
    const std::vector<unsigned char> matrix = inst.bytes(inst.matrix);
    const std::vector<unsigned char> vector = inst.bytes(inst.vector);
    const udm::InstanceBlockLayout& l = inst.layout;
    size_t at = 0;
    if (!untouchedOutside(matrix, matrixBefore, {{l.matrixValue, l.matrixValue + 8 * inst.entries}}, &at))
        stamp_.fault(inst.who + " wrote matrix byte " + std::to_string(at) + " outside its values in mode 3");
    if (!untouchedOutside(vector, vectorBefore, {{l.rhs, l.rhs + 8 * plugin_.terminals}}, &at))
        stamp_.fault(inst.who + " wrote vector byte " + std::to_string(at) + " outside its right-hand side");
    size_t k = 0;
    for (double value : inst.stamp()) {
        if (!std::isfinite(value))
            stamp_.fault(inst.who + " stamped a value that is not finite in entry " + std::to_string(k));
        ++k;
    }
}

void LifeCycle::readOutputs() {
    for (auto& inst : instances_) {
        std::map<double, std::string> named;  // index -> the output that resolved to it
        for (const std::string& name : plugin_.outputs) {
            std::vector<char> text(name.begin(), name.end());
            text.push_back('\0');
            double index = 0.0;
            call(*inst, UDM_MODE_OUTPUT_INDEX, text.data(), nullptr, &index);
            if (std::string(text.data()) != name) outputs_.fault("mode 5 changed the output name " + name);
            if (!(index >= 1.0 && index < 65536.0)) {
                outputs_.fault(inst->who + ": output " + name + " resolves to index " + number(index));
                continue;
            }
            if (const auto [at, fresh] = named.emplace(index, name); !fresh)
                outputs_.fault(inst->who + ": outputs " + at->second + " and " + name + " resolve to the same index " +
                               number(index));
            SimulationBlock simulation;
            simulation.set(index, 4e-6, 0.0);
            double value = std::nan("");
            call(*inst, UDM_MODE_OUTPUT_VALUE, nullptr, simulation.bytes, &value);
            if (!std::isfinite(value)) outputs_.fault(inst->who + ": output " + name + " reads " + number(value));
        }
    }
    outputs_.see(std::to_string(plugin_.outputs.size()) + " outputs: " + describe(plugin_.outputs));
}

void LifeCycle::releaseInstances() {
    for (auto& inst : instances_) call(*inst, UDM_MODE_RELEASE, nullptr, nullptr, nullptr);
}

}  // namespace udmhost
