#include "check/compliance_check.h"

#include <dlfcn.h>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "host_records.h"
#include "pluginhost/plugin_library.h"
#include "netlist/spice_number.h"

namespace udmhost {

namespace {

constexpr unsigned char kGuard = 0xA5;
constexpr uint16_t kGap = 16;  // guard bytes between and around the regions
constexpr int kInstances = 3;

// What the plug-in is doing while a callback arrives, and what is due then.
struct Recorder {
    std::string activity = "loading";
    bool registrationDue = false;  // expression op 0
    bool evaluationDue = false;    // expression op 1
    std::vector<std::string> violations;
    std::map<std::pair<int, int>, double> registered;  // identifiers -> value
    std::vector<double> pendingValues;  // values of the expressions the next registrations get
    int nextId = 100;
    int registrations = 0;
    int evaluations = 0;
};

Recorder* activeRecorder = nullptr;

int UDM_CALL recordMessage(int severity, const char* text) {
    if (activeRecorder != nullptr)
        activeRecorder->violations.push_back("message (severity " + std::to_string(severity) + ") during " +
                                       activeRecorder->activity + ": " + (text != nullptr ? text : "(null)"));
    return 0;
}

int UDM_CALL recordExpression(int op, const char* text, double* in, double* out) {
    if (activeRecorder == nullptr) return 0;
    Recorder& r = *activeRecorder;
    if (out == nullptr) {
        r.violations.push_back("expression call without an output pair during " + r.activity);
        return 0;
    }
    out[0] = out[1] = 0.0;
    if (op == UDM_EXPR_REGISTER) {
        ++r.registrations;
        if (!r.registrationDue) {
            r.violations.push_back("expression registered during " + r.activity);
            return 0;
        }
        if (text == nullptr) r.violations.push_back("expression registered with a null text");
        const double value = r.pendingValues.empty() ? 0.0 : r.pendingValues.front();
        if (!r.pendingValues.empty()) r.pendingValues.erase(r.pendingValues.begin());
        const int id = r.nextId++;
        r.registered[{id, 7}] = value;
        out[0] = id;
        out[1] = 7;
    } else if (op == UDM_EXPR_EVALUATE) {
        ++r.evaluations;
        if (!r.evaluationDue) {
            r.violations.push_back("expression evaluated during " + r.activity);
            return 0;
        }
        if (in == nullptr) {
            r.violations.push_back("expression evaluated without identifiers");
            return 0;
        }
        const auto id1 = std::isfinite(in[0]) && std::fabs(in[0]) < 1e9 ? static_cast<int>(in[0]) : -1;
        const auto id2 = std::isfinite(in[1]) && std::fabs(in[1]) < 1e9 ? static_cast<int>(in[1]) : -1;
        const auto found = r.registered.find({id1, id2});
        if (found == r.registered.end()) {
            std::ostringstream what;
            what << "expression evaluated by identifiers (" << in[0] << ", " << in[1] << ") never handed out";
            r.violations.push_back(what.str());
        } else {
            out[0] = found->second;
        }
    } else {
        r.violations.push_back("expression call with unknown operation " + std::to_string(op));
    }
    return 0;
}

struct RecorderScope {
    explicit RecorderScope(Recorder& r) { activeRecorder = &r; }
    ~RecorderScope() { activeRecorder = nullptr; }
    RecorderScope(const RecorderScope&) = delete;
    RecorderScope& operator=(const RecorderScope&) = delete;
};

// Collects the faults of one check line.
struct Finding {
    std::string name;
    std::vector<std::string> faults;
    std::string seen;
    void fault(const std::string& text) { faults.push_back(text); }
    CheckLine line() const {
        CheckLine l;
        l.name = name;
        l.passed = faults.empty();
        if (!faults.empty()) {
            l.detail = faults.front();
            if (faults.size() > 1) l.detail += " (and " + std::to_string(faults.size() - 1) + " more)";
        } else {
            l.detail = seen;
        }
        return l;
    }
};

std::string describe(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
    return text;
}

// The four blocks of one instance, guard-filled where the plug-in must not write.
struct InstanceBlocks {
    HGLOBAL instance = nullptr, component = nullptr, vector = nullptr, matrix = nullptr;
    size_t terminals = 0, entries = 0;
    uint16_t nodeValue = 0, nodeDeriv = 0, rhs = 0, vectorBytes = 0;
    uint16_t colIndex = 0, rowIndex = 0, matrixValue = 0, matrixBytes = 0;
    std::vector<char> definition;
};

class LifeCycle {
public:
    LifeCycle(const PluginLibrary& library, const std::vector<CatalogueItem>& catalogue, size_t instanceBytes,
              Recorder& recorder)
        : lib_(library), recorder_(recorder) {
        for (const CatalogueItem& item : catalogue) {
            if (item.kind == UDM_KIND_TERMINAL) ++terminals_;
            if (item.kind == UDM_KIND_PARAMETER) parameters_.push_back(item);
            if (item.kind == UDM_KIND_OUTPUT) outputs_.push_back(item.name);
        }
        for (int i = 0; i < kInstances; ++i) {
            InstanceBlocks b;
            b.terminals = terminals_;
            b.instance = lib_.globalAlloc(GHND, instanceBytes);
            b.component = lib_.globalAlloc(GHND, 64);
            const auto doubles = static_cast<uint16_t>(8 * terminals_);
            b.nodeValue = kGap;
            b.nodeDeriv = static_cast<uint16_t>(b.nodeValue + doubles + kGap);
            b.rhs = static_cast<uint16_t>(b.nodeDeriv + doubles + kGap);
            b.vectorBytes = static_cast<uint16_t>(b.rhs + doubles + kGap);
            b.vector = lib_.globalAlloc(GMEM_MOVEABLE, b.vectorBytes);
            fill(b.vector, kGuard);
            withComponent(b, [&](udm::ComponentRecordView c) {
                c.setVectorBlock(b.vector);
                c.setNodeValueOffset(b.nodeValue);
                c.setNodeDerivOffset(b.nodeDeriv);
                c.setRhsOffset(b.rhs);
            });
            b.definition = definitionText(i == 1);
            blocks_.push_back(std::move(b));
        }
    }
    ~LifeCycle() {
        for (InstanceBlocks& b : blocks_)
            for (HGLOBAL h : {b.instance, b.component, b.vector, b.matrix})
                if (h != nullptr) {
                    while ((lib_.globalFlags(h) & GMEM_LOCKCOUNT) != 0) lib_.globalUnlock(h);
                    lib_.globalFree(h);
                }
    }
    LifeCycle(const LifeCycle&) = delete;
    LifeCycle& operator=(const LifeCycle&) = delete;

    std::vector<CheckLine> run() {
        Finding status{"every call returns 0", {}, ""};
        Finding locks{"lock counts back at zero after every call", {}, ""};
        Finding define{"mode 1 defines " + std::to_string(kInstances) + " instances with the catalogue defaults", {}, ""};
        Finding pattern{"mode 2 writes the matrix pattern inside the announced entries", {}, ""};
        Finding stamp{"mode 3 writes the stamp inside the announced entries", {}, ""};
        Finding outputs{"modes 5 and 6 resolve and read every output", {}, ""};
        status_ = &status;
        locks_ = &locks;

        recorder_.activity = "mode 1";
        for (size_t i = 0; i < blocks_.size(); ++i) {
            InstanceBlocks& b = blocks_[i];
            call(b, i, UDM_MODE_INIT, b.definition.data(), nullptr, nullptr);
            withComponent(b, [&](udm::ComponentRecordView c) { b.entries = c.entryCount(); });
            if (b.entries > terminals_ * terminals_)
                define.fault("instance " + std::to_string(i + 1) + " announces " + std::to_string(b.entries) +
                             " matrix entries for " + std::to_string(terminals_) + " terminals");
            allocateMatrix(b);
        }
        define.seen = std::to_string(blocks_.front().entries) + " matrix entries per instance; definition \"" +
                      definitionShown_ + "\"";

        recorder_.activity = "mode 2";
        recorder_.registrationDue = true;
        for (size_t i = 0; i < blocks_.size(); ++i) {
            InstanceBlocks& b = blocks_[i];
            if (i == 1) recorder_.pendingValues = expressionValues_;
            call(b, i, UDM_MODE_PREPARE, nullptr, nullptr, nullptr);
            checkPattern(b, i, pattern);
        }
        recorder_.registrationDue = false;
        pattern.seen = "indices written within " + std::to_string(blocks_.front().entries) + " entries";

        // One evaluation before the start time, then a few time points,
        // each accepted, with the terminals at different voltages.
        const double times[] = {-1e-6, 0.0, 1e-6, 2e-6, 4e-6};
        int step = 0;
        for (double time : times) {
            unsigned char simulation[UDM_SIMULATION_RECORD_BYTES] = {};
            udm::storeAt<double>(simulation, UDM_SIM_TIME, time);
            udm::storeAt<double>(simulation, UDM_SIM_START_TIME, 0.0);
            for (size_t i = 0; i < blocks_.size(); ++i) {
                InstanceBlocks& b = blocks_[i];
                setNodeValues(b, step);
                const std::vector<unsigned char> vectorBefore = bytes(b.vector);
                const std::vector<unsigned char> matrixBefore = bytes(b.matrix);
                recorder_.activity = "mode 3";
                recorder_.evaluationDue = true;
                call(b, i, UDM_MODE_EVALUATE, nullptr, simulation, nullptr);
                recorder_.evaluationDue = false;
                checkStamp(b, i, vectorBefore, matrixBefore, stamp);
                recorder_.activity = "mode 4";
                call(b, i, UDM_MODE_ACCEPT, nullptr, simulation, nullptr);
            }
            ++step;
        }
        stamp.seen = std::to_string(std::size(times)) + " evaluations per instance, finite values, " +
                     "node values untouched";

        for (size_t i = 0; i < blocks_.size(); ++i) {
            InstanceBlocks& b = blocks_[i];
            for (const std::string& name : outputs_) {
                std::vector<char> text(name.begin(), name.end());
                text.push_back('\0');
                double index = 0.0;
                recorder_.activity = "mode 5";
                call(b, i, UDM_MODE_OUTPUT_INDEX, text.data(), nullptr, &index);
                if (!(index >= 1.0 && index < 65536.0)) {
                    outputs.fault("output " + name + " resolves to index " + std::to_string(index));
                    continue;
                }
                unsigned char simulation[UDM_SIMULATION_RECORD_BYTES] = {};
                udm::storeAt<double>(simulation, UDM_SIM_SELECTOR, index);
                udm::storeAt<double>(simulation, UDM_SIM_TIME, 4e-6);
                double value = std::nan("");
                recorder_.activity = "mode 6";
                call(b, i, UDM_MODE_OUTPUT_VALUE, nullptr, simulation, &value);
                if (!std::isfinite(value)) outputs.fault("output " + name + " reads " + std::to_string(value));
            }
        }
        outputs.seen = std::to_string(outputs_.size()) + " outputs: " + describe(outputs_);

        recorder_.activity = "mode 7";
        for (size_t i = 0; i < blocks_.size(); ++i) call(blocks_[i], i, UDM_MODE_RELEASE, nullptr, nullptr, nullptr);

        status.seen = std::to_string(calls_) + " calls";
        locks.seen = std::to_string(calls_) + " calls, 4 handles each";
        Finding callbacks{"callbacks called only where due", {}, ""};
        for (const std::string& v : recorder_.violations) callbacks.fault(v);
        callbacks.seen = std::to_string(recorder_.registrations) + " expression registrations in mode 2, " +
                         std::to_string(recorder_.evaluations) + " evaluations in mode 3, no messages";
        return {define.line(), pattern.line(), stamp.line(), outputs.line(), status.line(), locks.line(),
                callbacks.line()};
    }

private:
    template <class F>
    void withComponent(const InstanceBlocks& b, F&& f) {
        void* base = lib_.globalLock(b.component);
        f(udm::ComponentRecordView(base));
        lib_.globalUnlock(b.component);
    }

    void fill(HGLOBAL h, unsigned char value) {
        void* base = lib_.globalLock(h);
        std::memset(base, value, lib_.globalSize(h));
        lib_.globalUnlock(h);
    }

    std::vector<unsigned char> bytes(HGLOBAL h) {
        std::vector<unsigned char> copy(lib_.globalSize(h));
        void* base = lib_.globalLock(h);
        std::memcpy(copy.data(), base, copy.size());
        lib_.globalUnlock(h);
        return copy;
    }

    // Parameter texts in catalogue order; with `expression`, the first
    // numeric default is wrapped in parentheses so that it reaches the
    // host as an expression of the same value.
    std::vector<char> definitionText(bool expression) {
        std::string text;
        bool wrapped = false;
        for (size_t p = 0; p < parameters_.size(); ++p) {
            if (p > 0) text += ',';
            const auto number = spiceNumber(parameters_[p].defaultText);
            if (expression && !wrapped && number) {
                text += "(" + parameters_[p].defaultText + ")";
                expressionValues_.push_back(*number);
                wrapped = true;
            } else {
                text += parameters_[p].defaultText;
            }
        }
        if (!expression) definitionShown_ = text;
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back('\0');
        return buffer;
    }

    void allocateMatrix(InstanceBlocks& b) {
        const auto n = static_cast<uint16_t>(std::min<size_t>(b.entries, 1024));
        b.colIndex = kGap;
        b.rowIndex = static_cast<uint16_t>(b.colIndex + 4 * n + kGap);
        b.matrixValue = static_cast<uint16_t>(b.rowIndex + 4 * n + kGap);
        b.matrixBytes = static_cast<uint16_t>(b.matrixValue + 8 * n + kGap);
        b.matrix = lib_.globalAlloc(GMEM_MOVEABLE, b.matrixBytes);
        fill(b.matrix, kGuard);
        withComponent(b, [&](udm::ComponentRecordView c) {
            c.setMatrixBlock(b.matrix);
            c.setColIndexOffset(b.colIndex);
            c.setRowIndexOffset(b.rowIndex);
            c.setMatrixValueOffset(b.matrixValue);
        });
    }

    void setNodeValues(InstanceBlocks& b, int step) {
        auto* base = static_cast<unsigned char*>(lib_.globalLock(b.vector));
        for (size_t t = 0; t < b.terminals; ++t) {
            udm::storeAt<double>(base, b.nodeValue + 8 * t, 0.75 * static_cast<double>(step) * static_cast<double>(t + 1));
            udm::storeAt<double>(base, b.nodeDeriv + 8 * t, 0.5 * static_cast<double>(t));
        }
        lib_.globalUnlock(b.vector);
    }

    // Bytes outside [from, to) must equal `before`.
    static bool untouchedOutside(const std::vector<unsigned char>& now, const std::vector<unsigned char>& before,
                                 const std::vector<std::pair<size_t, size_t>>& writable, size_t* where) {
        for (size_t at = 0; at < now.size(); ++at) {
            bool allowed = false;
            for (const auto& [from, to] : writable) allowed = allowed || (at >= from && at < to);
            if (!allowed && now[at] != before[at]) {
                *where = at;
                return false;
            }
        }
        return true;
    }

    void checkPattern(const InstanceBlocks& b, size_t i, Finding& finding) {
        const std::vector<unsigned char> now = bytes(b.matrix);
        const std::vector<unsigned char> guard(now.size(), kGuard);
        size_t at = 0;
        const std::string who = "instance " + std::to_string(i + 1);
        if (!untouchedOutside(now, guard,
                              {{b.colIndex, b.colIndex + 4 * b.entries},
                               {b.rowIndex, b.rowIndex + 4 * b.entries},
                               {b.matrixValue, b.matrixValue + 8 * b.entries}},
                              &at))
            finding.fault(who + " wrote matrix byte " + std::to_string(at) + " outside its entries");
        for (size_t k = 0; k < b.entries; ++k) {
            const auto row = udm::loadAt<int32_t>(now.data(), b.rowIndex + 4 * k);
            const auto col = udm::loadAt<int32_t>(now.data(), b.colIndex + 4 * k);
            if (row < 0 || col < 0 || static_cast<size_t>(row) >= terminals_ || static_cast<size_t>(col) >= terminals_)
                finding.fault(who + " entry " + std::to_string(k) + " at (" + std::to_string(row) + ", " +
                              std::to_string(col) + ") lies outside the " + std::to_string(terminals_) + " terminals");
        }
    }

    void checkStamp(const InstanceBlocks& b, size_t i, const std::vector<unsigned char>& vectorBefore,
                    const std::vector<unsigned char>& matrixBefore, Finding& finding) {
        const std::string who = "instance " + std::to_string(i + 1);
        const std::vector<unsigned char> matrix = bytes(b.matrix);
        const std::vector<unsigned char> vector = bytes(b.vector);
        size_t at = 0;
        if (!untouchedOutside(matrix, matrixBefore, {{b.matrixValue, b.matrixValue + 8 * b.entries}}, &at))
            finding.fault(who + " wrote matrix byte " + std::to_string(at) + " outside its values in mode 3");
        if (!untouchedOutside(vector, vectorBefore, {{b.rhs, b.rhs + 8 * b.terminals}}, &at))
            finding.fault(who + " wrote vector byte " + std::to_string(at) + " outside its right-hand side");
        for (size_t k = 0; k < b.entries; ++k)
            if (!std::isfinite(udm::loadAt<double>(matrix.data(), b.matrixValue + 8 * k)))
                finding.fault(who + " stamped a value that is not finite in entry " + std::to_string(k));
    }

    void call(InstanceBlocks& b, size_t i, int32_t mode, char* text, void* simulation, double* out) {
        ++calls_;
        double scratch = 0.0;
        const int32_t result = lib_.call(mode, text, simulation, out != nullptr ? out : &scratch, b.instance, b.component);
        const std::string what = "mode " + std::to_string(mode) + " on instance " + std::to_string(i + 1);
        if (result != 0) status_->fault(what + " returned " + std::to_string(result));
        const char* names[] = {"instance block", "component record", "vector block", "matrix block"};
        const HGLOBAL handles[] = {b.instance, b.component, b.vector, b.matrix};
        for (int h = 0; h < 4; ++h) {
            if (handles[h] == nullptr) continue;
            const UINT count = lib_.globalFlags(handles[h]) & GMEM_LOCKCOUNT;
            if (count != 0) {
                locks_->fault(what + " left the " + names[h] + " locked (count " + std::to_string(count) + ")");
                while ((lib_.globalFlags(handles[h]) & GMEM_LOCKCOUNT) != 0) lib_.globalUnlock(handles[h]);
            }
        }
    }

    const PluginLibrary& lib_;
    Recorder& recorder_;
    size_t terminals_ = 0;
    std::vector<CatalogueItem> parameters_;
    std::vector<std::string> outputs_;
    std::vector<double> expressionValues_;
    std::string definitionShown_;  // mode 1 may split the text in place
    std::vector<InstanceBlocks> blocks_;
    Finding* status_ = nullptr;
    Finding* locks_ = nullptr;
    int calls_ = 0;
};

std::vector<CheckLine> checkCatalogue(const PluginLibrary& lib, std::vector<CatalogueItem>& catalogue) {
    constexpr uint32_t kLimit = 4096;
    Finding ends{"catalogue enumeration ends in null", {}, ""};
    Finding names{"catalogue names are unique, non-empty and terminated", {}, ""};
    Finding kinds{"catalogue kinds are terminal, parameter or output", {}, ""};
    std::set<std::string> seen;
    uint32_t index = 0;
    int terminals = 0, parameters = 0, outputs = 0;
    for (; index < kLimit; ++index) {
        const auto* entry = static_cast<const unsigned char*>(lib.listNodeInfo(index));
        if (entry == nullptr) break;
        CatalogueItem item;
        if (std::memchr(entry + UDM_CAT_NAME, 0, UDM_CAT_NAME_BYTES) == nullptr ||
            std::memchr(entry + UDM_CAT_DESCRIPTION, 0, UDM_CAT_DESCRIPTION_BYTES) == nullptr ||
            std::memchr(entry + UDM_CAT_DEFAULT, 0, UDM_CAT_DEFAULT_BYTES) == nullptr)
            names.fault("entry " + std::to_string(index) + " has a text field without a terminating zero");
        item.name = reinterpret_cast<const char*>(entry + UDM_CAT_NAME);
        item.name = item.name.substr(0, UDM_CAT_NAME_BYTES);
        item.kind = udm::loadAt<int32_t>(entry, UDM_CAT_KIND);
        if (item.kind == UDM_KIND_PARAMETER)
            item.defaultText = std::string(reinterpret_cast<const char*>(entry + UDM_CAT_DEFAULT),
                                           strnlen(reinterpret_cast<const char*>(entry + UDM_CAT_DEFAULT), UDM_CAT_DEFAULT_BYTES));
        if (item.name.empty()) names.fault("entry " + std::to_string(index) + " has an empty name");
        if (!seen.insert(item.name).second) names.fault("name " + item.name + " appears twice");
        if (item.kind == UDM_KIND_TERMINAL) ++terminals;
        else if (item.kind == UDM_KIND_PARAMETER) ++parameters;
        else if (item.kind == UDM_KIND_OUTPUT) ++outputs;
        else kinds.fault("entry " + std::to_string(index) + " (" + item.name + ") has kind " + std::to_string(item.kind));
        catalogue.push_back(std::move(item));
    }
    if (index == kLimit) ends.fault("no null within " + std::to_string(kLimit) + " entries");
    if (lib.listNodeInfo(0xFFFFFFFFu) != nullptr) ends.fault("index 4294967295 yields an entry");
    ends.seen = std::to_string(index) + " entries, null at index " + std::to_string(index) + " and at 4294967295";
    if (terminals == 0) kinds.fault("no terminal");
    names.seen = std::to_string(seen.size()) + " distinct names";
    kinds.seen = std::to_string(terminals) + " terminals, " + std::to_string(parameters) + " parameters, " +
                 std::to_string(outputs) + " outputs";
    return {ends.line(), names.line(), kinds.line()};
}

}  // namespace

ComplianceReport checkCompliance(const std::string& path) {
    ComplianceReport report;
    auto add = [&](const std::string& name, bool passed, const std::string& detail) {
        report.lines.push_back({name, passed, detail});
        return passed;
    };

    // Exports, looked up one by one so that every missing one is named.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        add("library loads", false, dlerror());
        return report;
    }
    std::vector<std::string> missing, missingMemory;
    for (const char* name : {"GetPlugIn", "UDMInit", "GetVersionNumber", "ListNodeInfo", "UDMMain"})
        if (dlsym(handle, name) == nullptr) missing.push_back(name);
    for (const char* name : {"GlobalAlloc", "GlobalLock", "GlobalUnlock", "GlobalFree", "GlobalFlags", "GlobalSize"})
        if (dlsym(handle, name) == nullptr) missingMemory.push_back(name);
    void* exportedInit = dlsym(handle, "UDMInit");
    const bool exportsOk = add("exports GetPlugIn, UDMInit, GetVersionNumber, ListNodeInfo, UDMMain", missing.empty(),
                               missing.empty() ? "all five present" : "missing: " + describe(missing));
    const bool memoryOk = add("platform memory functions reachable from the library", missingMemory.empty(),
                              missingMemory.empty() ? "GlobalAlloc ... GlobalSize" : "missing: " + describe(missingMemory));
    if (!exportsOk || !memoryOk) {
        dlclose(handle);
        return report;
    }
    std::unique_ptr<PluginLibrary> lib;
    try {
        lib = std::make_unique<PluginLibrary>(path);
    } catch (const std::exception& error) {
        dlclose(handle);
        add("library loads", false, error.what());
        return report;
    }
    dlclose(handle);  // the PluginLibrary keeps its own reference

    Recorder rec;
    RecorderScope scope(rec);
    rec.activity = "registration";
    UDMInitFn slot = nullptr;
    const int pluginVersion = lib->getPlugin(&slot);
    add("GetPlugIn returns 2 and hands out UDMInit", pluginVersion == 2 && slot != nullptr && reinterpret_cast<void*>(slot) == exportedInit,
        "returned " + std::to_string(pluginVersion) +
            (slot == nullptr ? ", slot left empty" : reinterpret_cast<void*>(slot) == exportedInit ? ", slot holds UDMInit" : ", slot holds another function"));
    RegistrationRecord record{0xFFFF, 0xFFFF, 0xFFFF};
    const int initResult = (slot != nullptr ? slot : lib->init)(recordMessage, recordExpression, &record);
    std::ostringstream values;
    values << "returned " << initResult << ", record " << record.interfaceCode << ", " << record.instanceBytes << ", "
           << record.reserved;
    const bool registered = add("UDMInit returns 0 and fills the registration record (17, block size, 0)",
                                initResult == 0 && record.interfaceCode == UDM_REG_INTERFACE &&
                                    record.instanceBytes > 0 && record.instanceBytes != 0xFFFF && record.reserved == 0,
                                values.str());
    const int interfaceVersion = lib->getVersionNumber();
    add("GetVersionNumber returns 2", interfaceVersion == 2, "returned " + std::to_string(interfaceVersion));

    rec.activity = "catalogue enumeration";
    std::vector<CatalogueItem> catalogue;
    for (CheckLine& line : checkCatalogue(*lib, catalogue)) report.lines.push_back(std::move(line));
    add("no callback during registration and enumeration", rec.violations.empty(),
        rec.violations.empty() ? "none" : rec.violations.front());
    rec.violations.clear();
    if (!registered || !report.passed()) return report;

    LifeCycle cycle(*lib, catalogue, record.instanceBytes, rec);
    for (CheckLine& line : cycle.run()) report.lines.push_back(std::move(line));
    return report;
}

}  // namespace udmhost
