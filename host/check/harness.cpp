#include "check/harness.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <algorithm>
#include <optional>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "check/isolation.h"
#include "check/lock_watch.h"
#include "host_records.h"
#include "netlist/spice_number.h"

namespace udmhost {

namespace {

constexpr uint16_t kGap = 16;  // guard bytes between and around the regions

Recorder theRecorder;

int UDM_CALL recordMessage(int severity, const char* text) {
    Recorder& r = theRecorder;
    const std::string message = std::to_string(severity) + ": " + (text != nullptr ? text : "(null)");
    r.messages.push_back(message);
    if (!r.messagesAllowed) r.violations.push_back("message (severity " + message + ") during " + r.activity);
    return 0;
}

int UDM_CALL recordExpression(int op, const char* text, double* in, double* out) {
    Recorder& r = theRecorder;
    if (out == nullptr) {
        r.violations.push_back("expression call without an output pair during " + r.activity);
        return 0;
    }
    out[0] = out[1] = 0.0;
    if (op == UDM_EXPR_REGISTER) {
        ++r.registrations;
        if (!r.registrationDue) r.violations.push_back("expression registered during " + r.activity);
        if (text == nullptr) {
            r.violations.push_back("expression registered with a null text during " + r.activity);
            r.registeredTexts.emplace_back("(null)");
        } else {
            r.registeredTexts.emplace_back(text);
        }
        const int id = r.nextId++;
        r.registered[{id, -7}] = text != nullptr ? expressionValue(text) : 0.0;
        out[0] = id + r.idFraction;
        out[1] = -7.0 - r.idFraction;
        return 0;
    }
    if (op != UDM_EXPR_EVALUATE) {
        r.violations.push_back("expression call with unknown operation " + std::to_string(op) + " during " + r.activity);
        return 0;
    }
    ++r.evaluations;
    if (!r.evaluationDue) r.violations.push_back("expression evaluated during " + r.activity);
    if (in == nullptr) {
        r.violations.push_back("expression evaluated without identifiers during " + r.activity);
        return 0;
    }
    const bool whole = std::isfinite(in[0]) && std::isfinite(in[1]) && std::fabs(in[0]) < 1e9 &&
                       std::fabs(in[1]) < 1e9 && std::trunc(in[0]) == in[0] && std::trunc(in[1]) == in[1];
    const auto found = whole ? r.registered.find({static_cast<int>(in[0]), static_cast<int>(in[1])}) : r.registered.end();
    if (found == r.registered.end()) {
        r.violations.push_back("expression evaluated by identifiers (" + number(in[0]) + ", " + number(in[1]) +
                               ") never handed out (identifiers are truncated toward zero)");
        return 0;
    }
    out[0] = found->second;
    return 0;
}

// Registered first and replaced at once: a plug-in must call only the latest pair.
int UDM_CALL staleMessage(int, const char*) {
    theRecorder.violations.push_back("message sent to the callback of an earlier UDMInit during " + theRecorder.activity);
    return 0;
}

int UDM_CALL staleExpression(int, const char*, double*, double* out) {
    theRecorder.violations.push_back("expression callback of an earlier UDMInit called during " + theRecorder.activity);
    if (out != nullptr) out[0] = out[1] = 0.0;
    return 0;
}

}  // namespace

Recorder& recorder() { return theRecorder; }
MessageCallback recordingMessageCallback() { return recordMessage; }
ExpressionCallback recordingExpressionCallback() { return recordExpression; }

double expressionValue(const std::string& text) {
    if (text.size() < 3 || text.front() != '(' || text.back() != ')') return 0.0;
    const auto value = spiceNumber(text.substr(1, text.size() - 2));
    return value ? *value : 0.0;
}

std::string describe(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
    return text;
}

std::string number(double value) {
    char text[64];  // shortest text that reads back exactly, whatever the locale
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

PlugInUnderTest::PlugInUnderTest(const std::string& path) : lib(path, LockBinding::Watched) {
    recorder().activity = "registration";
    RegistrationRecord first{};
    lib.init(staleMessage, staleExpression, &first);
    registration = lib.registerWith(recordMessage, recordExpression);
    recorder().activity = "catalogue enumeration";
    catalogue = lib.catalogue();
    for (const CatalogueItem& item : catalogue) {
        if (item.kind == UDM_KIND_TERMINAL) ++terminals;
        if (item.kind == UDM_KIND_PARAMETER) parameters.push_back(item);
        if (item.kind == UDM_KIND_OUTPUT) outputs.push_back(item.name);
    }
    if (registration.record.instanceBytes == 0 || terminals == 0 || terminals > 512)
        throw std::runtime_error("the registration or the catalogue is unusable");
}

std::string PlugInUnderTest::defaultDefinition() const {
    std::string text;
    for (size_t p = 0; p < parameters.size(); ++p) text += (p > 0 ? "," : "") + parameters[p].defaultText;
    return text;
}

void SimulationBlock::set(double selector, double time, double startTime) {
    udm::SimulationRecordWriter w(bytes);
    w.setSelector(selector);
    w.setTime(time);
    w.setStartTime(startTime);
}

TestInstance::TestInstance(PlugInUnderTest& p, size_t number, uint16_t regionStart)
    : plugin(p), who("instance " + std::to_string(number)), regionStart_(regionStart) {
    PluginLibrary& lib = plugin.lib;
    // Both blocks get a guarded tail: the plug-in owns only the bytes it registered
    // and the record's fields.
    const size_t instanceBytes = plugin.registration.record.instanceBytes;
    instance = lib.globalAlloc(GHND, instanceBytes + kTail);
    std::memset(static_cast<unsigned char*>(lib.globalLock(instance)) + instanceBytes, kGuard, kTail);
    lib.globalUnlock(instance);
    component = lib.globalAlloc(GHND, UDM_COMPONENT_RECORD_BYTES + kTail);
    std::memset(static_cast<unsigned char*>(lib.globalLock(component)) + UDM_COMPONENT_RECORD_BYTES, kGuard, kTail);
    lib.globalUnlock(component);
    if (const auto placed = placeRegions(0)) layout = *placed;
    vector = lib.globalAlloc(GMEM_MOVEABLE, layout.vectorBytes);
    std::memset(lib.globalLock(vector), kGuard, layout.vectorBytes);
    lib.globalUnlock(vector);
    udm::ComponentRecordView c(lib.globalLock(component));
    c.setVectorBlock(vector);
    layout.writeOffsets(c);
    lib.globalUnlock(component);
}

// The layout builder's arrays with guard gaps, all moved up together when the
// regions are to start higher; nothing when an offset would not fit.
std::optional<udm::InstanceBlockLayout> TestInstance::placeRegions(size_t matrixEntries) const {
    auto placed = udm::instanceBlockLayout(plugin.terminals, matrixEntries, {kGap, 8});
    if (!placed) return std::nullopt;
    const size_t shift = regionStart_ > placed->nodeValue ? regionStart_ - placed->nodeValue : 0;
    if (std::max(placed->vectorBytes, placed->matrixBytes) + shift > 0xFFFF) return std::nullopt;
    for (uint16_t* offset : {&placed->nodeValue, &placed->nodeDeriv, &placed->rhs, &placed->colIndex,
                             &placed->rowIndex, &placed->matrixValue})
        *offset = static_cast<uint16_t>(*offset + shift);
    placed->vectorBytes += shift;
    placed->matrixBytes += shift;
    return placed;
}

TestInstance::~TestInstance() {
    PluginLibrary& lib = plugin.lib;
    for (HGLOBAL h : {instance, component, vector, matrix})
        if (h != nullptr) {
            while ((lib.globalFlags(h) & GMEM_LOCKCOUNT) != 0) lib.globalUnlock(h);
            lib.globalFree(h);
        }
}

int32_t TestInstance::define(const std::string& text, std::string* sizeFault) {
    definitionText_ = text;
    definition_.assign(text.begin(), text.end());
    definition_.push_back('\0');
    definition_.insert(definition_.end(), kGap, static_cast<char>(kGuard));
    PluginLibrary& lib = plugin.lib;
    udm::ComponentRecordView(lib.globalLock(component)).fillReserved(0xA5A5);
    lib.globalUnlock(component);
    const int32_t status = call(UDM_MODE_INIT, definition_.data(), nullptr, nullptr);
    const void* record = lib.globalLock(component);
    entries = udm::ComponentRecordView(const_cast<void*>(record)).entryCount();
    const bool cleared = udm::ComponentRecordView(const_cast<void*>(record)).reservedCleared();
    lib.globalUnlock(component);
    if (!cleared && stray_ != nullptr)
        stray_->fault("mode 1 on " + who + " left the component record's two cleared fields (beside the entry count) set");
    const size_t n = plugin.terminals;
    std::string fault;
    if (entries == 0)
        fault = who + " announces no matrix entries for its " + std::to_string(n) + " terminals";
    else if (entries > n * n)
        fault = who + " announces " + std::to_string(entries) + " matrix entries; " + std::to_string(n) +
                " terminals allow at most " + std::to_string(n * n);
    else if (!placeRegions(entries))
        fault = who + " announces " + std::to_string(entries) + " matrix entries, more than 16-bit offsets reach";
    if (!fault.empty()) entries = 0;
    if (sizeFault != nullptr) *sizeFault = fault;
    allocateMatrix();
    return status;
}

void TestInstance::allocateMatrix() {
    PluginLibrary& lib = plugin.lib;
    if (const auto placed = placeRegions(entries)) layout = *placed;
    if (matrix != nullptr) lib.globalFree(matrix);
    matrix = lib.globalAlloc(GMEM_MOVEABLE, layout.matrixBytes);
    std::memset(lib.globalLock(matrix), kGuard, layout.matrixBytes);
    lib.globalUnlock(matrix);
    udm::ComponentRecordView c(lib.globalLock(component));
    c.setMatrixBlock(matrix);
    layout.writeOffsets(c);
    lib.globalUnlock(component);
}

int32_t TestInstance::call(int32_t mode, char* text, void* simulation, double* out) {
    return callWith(mode, text, simulation, out, instance, component);
}

int32_t TestInstance::callWith(int32_t mode, char* text, void* simulation, double* out, HGLOBAL inst, HGLOBAL comp) {
    const std::string what = "mode " + std::to_string(mode) + " on " + who;
    noteActivity(what);
    recorder().activity = what;
    const std::vector<unsigned char> instanceBefore = bytes(instance), componentBefore = bytes(component);
    startLockLog();
    const int32_t status = plugin.lib.call(mode, text, simulation, out, inst, comp);
    checkLockOrder(what, stopLockLog());
    checkLocks(what);
    checkStray(what, mode, instanceBefore, componentBefore);
    noteActivity("");
    return status;
}

std::string TestInstance::handleName(HGLOBAL h) const {
    if (h == nullptr) return "a null handle";
    if (h == instance) return "the instance block";
    if (h == component) return "the component record";
    if (h == vector) return "the vector block";
    if (h == matrix) return "the matrix block";
    return "a handle the host never gave it";
}

void TestInstance::checkLockOrder(const std::string& what, const std::vector<LockEvent>& events) {
    if (locks_ == nullptr) return;
    for (const std::string& fault : lockOrderFaults(events, {instance, component}, {vector, matrix},
                                                    [&](HGLOBAL h) { return handleName(h); }))
        locks_->fault(what + " " + fault);
}

// Past its registered size the instance block is the host's; the component
// record's fields are the host's except those mode 1 sets.
void TestInstance::checkStray(const std::string& what, int32_t mode, const std::vector<unsigned char>& instanceBefore,
                              const std::vector<unsigned char>& componentBefore) {
    if (stray_ == nullptr) return;
    const std::vector<unsigned char> instanceNow = bytes(instance), componentNow = bytes(component);
    const size_t own = plugin.registration.record.instanceBytes;
    for (size_t at = own; at < instanceNow.size() && at < instanceBefore.size(); ++at)
        if (instanceNow[at] != instanceBefore[at]) {
            stray_->fault(what + " wrote byte " + std::to_string(at) + " of the instance block, beyond the " +
                          std::to_string(own) + " bytes it registered");
            break;
        }
    for (size_t at = 0; at < componentNow.size() && at < componentBefore.size(); ++at) {
        const bool definitionField = udm::ComponentRecordView::isDefinitionByte(at);
        if (componentNow[at] != componentBefore[at] && !(mode == UDM_MODE_INIT && definitionField)) {
            stray_->fault(what + " wrote byte " + std::to_string(at) + " of the component record");
            break;
        }
    }
}

void TestInstance::checkLocks(const std::string& what) {
    const char* names[] = {"instance block", "component record", "vector block", "matrix block"};
    const HGLOBAL handles[] = {instance, component, vector, matrix};
    PluginLibrary& lib = plugin.lib;
    for (int h = 0; h < 4; ++h) {
        if (handles[h] == nullptr) continue;
        const UINT count = lib.globalFlags(handles[h]) & GMEM_LOCKCOUNT;
        if (count == 0) continue;
        if (locks_ != nullptr)
            locks_->fault(what + " left the " + names[h] + " locked (count " + std::to_string(count) + ")");
        while ((lib.globalFlags(handles[h]) & GMEM_LOCKCOUNT) != 0) lib.globalUnlock(handles[h]);
    }
}

void TestInstance::setNodes(const std::vector<double>& values, const std::vector<double>& derivatives) {
    void* base = plugin.lib.globalLock(vector);
    for (size_t t = 0; t < plugin.terminals; ++t) {
        udm::storeAt<double>(base, layout.nodeValue + 8 * t, t < values.size() ? values[t] : 0.0);
        udm::storeAt<double>(base, layout.nodeDeriv + 8 * t, t < derivatives.size() ? derivatives[t] : 0.0);
    }
    plugin.lib.globalUnlock(vector);
}

void TestInstance::fillMatrixValues(unsigned char byte) {
    auto* base = static_cast<unsigned char*>(plugin.lib.globalLock(matrix));
    std::memset(base + layout.matrixValue, byte, 8 * entries);
    plugin.lib.globalUnlock(matrix);
}

void TestInstance::fillRhs(unsigned char byte) {
    auto* base = static_cast<unsigned char*>(plugin.lib.globalLock(vector));
    std::memset(base + layout.rhs, byte, 8 * plugin.terminals);
    plugin.lib.globalUnlock(vector);
}

std::vector<unsigned char> TestInstance::bytes(HGLOBAL h) const {
    PluginLibrary& lib = plugin.lib;
    std::vector<unsigned char> copy(lib.globalSize(h));
    const void* base = lib.globalLock(h);
    if (base != nullptr) std::memcpy(copy.data(), base, copy.size());
    lib.globalUnlock(h);
    return copy;
}

std::vector<unsigned char> TestInstance::bytesOf(const std::string& which) const {
    if (which == "instance") return bytes(instance);
    if (which == "component") return bytes(component);
    if (which == "vector") return bytes(vector);
    return bytes(matrix);
}

void TestInstance::relocate() {
    PluginLibrary& lib = plugin.lib;
    auto move = [&](HGLOBAL& h) {
        const size_t size = lib.globalSize(h);
        HGLOBAL fresh = lib.globalAlloc(GMEM_MOVEABLE, size);
        std::memcpy(lib.globalLock(fresh), lib.globalLock(h), size);
        std::memset(lib.globalLock(h), 0xDD, size);  // what a stale address would now read
        lib.globalUnlock(h);
        lib.globalUnlock(h);
        lib.globalUnlock(fresh);
        lib.globalFree(h);
        h = fresh;
    };
    for (HGLOBAL* h : {&instance, &component, &vector, &matrix}) move(*h);
    setComponentHandles(vector, matrix);
}

void TestInstance::setComponentHandles(HGLOBAL vectorHandle, HGLOBAL matrixHandle) {
    udm::ComponentRecordView c(plugin.lib.globalLock(component));
    c.setVectorBlock(vectorHandle);
    c.setMatrixBlock(matrixHandle);
    plugin.lib.globalUnlock(component);
}

std::vector<double> TestInstance::stamp() const {
    const std::vector<unsigned char> block = bytes(matrix);
    std::vector<double> values;
    for (size_t k = 0; k < entries; ++k) values.push_back(udm::loadAt<double>(block.data(), layout.matrixValue + 8 * k));
    return values;
}

std::vector<double> TestInstance::rhs() const {
    // One double per equation; the pattern's rows name the instance's equations.
    size_t equations = 0;
    for (const auto& [row, col] : pattern())
        if (row >= 0 && static_cast<size_t>(row) < plugin.terminals) equations = std::max(equations, static_cast<size_t>(row) + 1);
    const std::vector<unsigned char> block = bytes(vector);
    std::vector<double> values;
    for (size_t t = 0; t < equations; ++t) values.push_back(udm::loadAt<double>(block.data(), layout.rhs + 8 * t));
    return values;
}

std::vector<std::pair<int32_t, int32_t>> TestInstance::pattern() const {
    const std::vector<unsigned char> block = bytes(matrix);
    std::vector<std::pair<int32_t, int32_t>> cells;
    for (size_t k = 0; k < entries; ++k)
        cells.emplace_back(udm::loadAt<int32_t>(block.data(), layout.rowIndex + 4 * k),
                           udm::loadAt<int32_t>(block.data(), layout.colIndex + 4 * k));
    return cells;
}

}  // namespace udmhost
