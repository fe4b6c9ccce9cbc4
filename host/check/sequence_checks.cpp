// Call sequences a demanding host may use: error paths, null pointers where
// a mode reads nothing, unknown modes, repeated release, acceptance without
// blocks, rejected and repeated evaluations, a stamp over garbage.
#include <climits>
#include <cmath>

#include "check/heap_usage.h"
#include "check/isolated_check.h"
#include "check/sweep.h"

namespace udmhost {

namespace {

struct Snapshot {
    std::vector<unsigned char> instance, component, vector, matrix;
    int registrations = 0, evaluations = 0;
    size_t messages = 0;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(const TestInstance& inst) {
    return {inst.bytes(inst.instance), inst.bytes(inst.component), inst.bytes(inst.vector), inst.bytes(inst.matrix),
            recorder().registrations, recorder().evaluations, recorder().messages.size()};
}

std::string changes(const Snapshot& before, const Snapshot& after) {
    std::vector<std::string> what;
    if (before.instance != after.instance) what.emplace_back("the instance block");
    if (before.component != after.component) what.emplace_back("the component record");
    if (before.vector != after.vector) what.emplace_back("the vector block");
    if (before.matrix != after.matrix) what.emplace_back("the matrix block");
    if (before.registrations != after.registrations || before.evaluations != after.evaluations)
        what.emplace_back("the expression callback was called");
    if (before.messages != after.messages) what.emplace_back("a message was sent");
    return describe(what);
}

// Null and unlockable handles, outer and inner.
std::string errorPaths(PlugInUnderTest& plugin, Finding& f) {
    TestInstance inst(plugin, 1);
    inst.watchLocks(&f);
    if (std::string why = readyInstance(inst, plugin.defaultDefinition()); !why.empty()) return "needs usable sizes: " + why;
    PluginLibrary& lib = plugin.lib;
    HGLOBAL dead = lib.globalAlloc(GHND, 64);
    lib.globalFree(dead);  // a handle that no longer locks
    const std::string output = plugin.outputs.empty() ? "X" : plugin.outputs.front();
    SimulationBlock simulation;
    simulation.set(1.0, 1e-6, 0.0);
    auto expect = [&](int32_t mode, HGLOBAL instance, HGLOBAL component, int32_t wanted, const std::string& how) {
        std::string text = mode == UDM_MODE_OUTPUT_INDEX ? output : plugin.defaultDefinition();
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back('\0');
        double out = -12345.0;
        const Snapshot before = snapshot(inst);
        const int32_t status = inst.callWith(mode, buffer.data(), simulation.bytes, &out, instance, component);
        if (status != wanted)
            f.fault("mode " + std::to_string(mode) + " with " + how + " returned " + statusName(status) + " instead of " +
                    statusName(wanted));
        if (wanted != 0) {
            const std::string changed = changes(before, snapshot(inst));
            if (!changed.empty()) f.fault("mode " + std::to_string(mode) + " with " + how + " changed " + changed);
            if (out != -12345.0) f.fault("mode " + std::to_string(mode) + " with " + how + " wrote its output");
        }
    };
    for (int32_t mode : {1, 2, 3, 4, 5, 6, 7, 0, 8}) {
        expect(mode, nullptr, inst.component, UDM_ERR_NULL_HANDLE, "a null instance handle");
        expect(mode, inst.instance, nullptr, UDM_ERR_NULL_HANDLE, "a null component handle");
        expect(mode, dead, inst.component, UDM_ERR_LOCK_FAILED, "an instance handle that does not lock");
        expect(mode, inst.instance, dead, UDM_ERR_LOCK_FAILED, "a component handle that does not lock");
    }
    struct Inner {
        HGLOBAL vector, matrix;
        const char* how;
        int32_t status;
    };
    const Inner inner[] = {{nullptr, inst.matrix, "a null vector block", UDM_ERR_NULL_HANDLE},
                           {inst.vector, nullptr, "a null matrix block", UDM_ERR_NULL_HANDLE},
                           {dead, inst.matrix, "a vector block that does not lock", UDM_ERR_LOCK_FAILED},
                           {inst.vector, dead, "a matrix block that does not lock", UDM_ERR_LOCK_FAILED}};
    for (const Inner& c : inner) {
        inst.setComponentHandles(c.vector, c.matrix);
        const bool vectorBad = c.vector != inst.vector;
        for (int32_t mode : {2, 3, 6, 4, 5})
            expect(mode, inst.instance, inst.component,
                   mode == 2 || mode == 3 || (mode == 6 && vectorBad) ? c.status : 0, c.how);
        inst.setComponentHandles(inst.vector, inst.matrix);
    }
    inst.call(UDM_MODE_RELEASE, nullptr, nullptr, nullptr);
    f.see("modes 0 to 8 with null and unlockable handles, modes 2 to 6 with null and unlockable inner blocks");
    return "";
}

// Text, simulation record and output are null wherever a mode reads none of them.
std::string nullPointers(PlugInUnderTest& plugin, Finding& f) {
    TestInstance inst(plugin, 1);
    inst.watchLocks(&f);
    std::string sizeFault;
    inst.define(allExpressionDefinition(plugin), &sizeFault);
    if (!sizeFault.empty()) return "needs usable sizes: " + sizeFault;
    Recorder& r = recorder();
    SimulationBlock simulation;
    simulation.set(1.0, 1e-6, 0.0);
    double out = 0.0;
    auto expect = [&](int32_t mode, char* text, void* sim, double* o, const char* what) {
        const int32_t status = inst.call(mode, text, sim, o);
        if (status != 0) f.fault("mode " + std::to_string(mode) + " with " + what + " returned " + statusName(status));
    };
    r.registrationDue = true;
    expect(UDM_MODE_PREPARE, nullptr, nullptr, nullptr, "null text, simulation record and output");
    r.registrationDue = false;
    r.evaluationDue = true;
    expect(UDM_MODE_EVALUATE, nullptr, simulation.bytes, nullptr, "null text and output");
    r.evaluationDue = false;
    expect(UDM_MODE_ACCEPT, nullptr, nullptr, nullptr, "null text, simulation record and output");
    expect(UDM_MODE_OUTPUT_VALUE, nullptr, simulation.bytes, &out, "a null text");
    expect(UDM_MODE_RELEASE, nullptr, nullptr, nullptr, "null text, simulation record and output");
    f.see("modes 2, 3, 4, 6 and 7");
    return "";
}

std::string unknownModes(PlugInUnderTest& plugin, Finding& f) {
    TestInstance inst(plugin, 1);
    inst.watchLocks(&f);
    if (std::string why = readyInstance(inst, allExpressionDefinition(plugin)); !why.empty())
        return "needs usable sizes: " + why;
    SimulationBlock simulation;
    simulation.set(1.0, 1e-6, 0.0);
    for (int32_t mode : {0, 8, -1, 100, INT32_MIN, INT32_MAX}) {
        std::string text = plugin.outputs.empty() ? "X,1,2" : plugin.outputs.front() + ",1,2";
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back('\0');
        double out = -12345.0;
        const Snapshot before = snapshot(inst);
        const int32_t status = inst.call(mode, buffer.data(), simulation.bytes, &out);
        const std::string m = "mode " + std::to_string(mode);
        if (status != 0) f.fault(m + " returned " + statusName(status));
        if (const std::string changed = changes(before, snapshot(inst)); !changed.empty()) f.fault(m + " changed " + changed);
        if (out != -12345.0) f.fault(m + " wrote its output");
        if (std::string(buffer.data()) != text) f.fault(m + " changed the text");
    }
    inst.call(UDM_MODE_RELEASE, nullptr, nullptr, nullptr);
    f.see("modes 0, 8, -1, 100, -2147483648, 2147483647: status 0, nothing changed");
    return "";
}

std::string releaseTwice(PlugInUnderTest& plugin, Finding& f) {
    TestInstance inst(plugin, 1);
    inst.watchLocks(&f);
    if (std::string why = readyInstance(inst, allExpressionDefinition(plugin)); !why.empty())
        return "needs usable sizes: " + why;
    // A second release that frees again may free a block the allocator has
    // handed out since, without a crash: it shows as memory given back.
    size_t inUse = 0, stray = 0;
    for (int round = 1; round <= 2; ++round) {
        const int32_t status = inst.call(UDM_MODE_RELEASE, nullptr, nullptr, nullptr);
        if (status != 0) f.fault("release " + std::to_string(round) + " returned " + statusName(status));
        const size_t now = bytesInUse(), strayNow = strayReleases();
        if (round == 2 && now < inUse)
            f.fault("the second release gave back " + std::to_string(inUse - now) + " bytes: it freed again");
        if (round == 2 && strayNow > stray)
            f.fault("the second release freed " + std::to_string(strayNow - stray) +
                    " blocks that were no longer allocated: it freed again");
        inUse = now;
        stray = strayNow;
    }
    f.see("two releases of an instance with expressions");
    return "";
}

std::string sweepFindings(PlugInUnderTest& plugin, Finding& f, bool replay) {
    SweepFindings findings;
    (replay ? findings.replay : findings.repeat) = &f;
    for (const std::string& definition : variationDefinitions(plugin)) sweepCase(plugin, definition, {}, findings);
    f.see(replay ? "evaluate at t1, at t2 > t1 with other controls, at t1 again: same stamp, right-hand side and messages"
                 : "two evaluations with the same inputs: same stamp, right-hand side and messages");
    return "";
}

// Over the variation definitions and each parameter at zero, where a
// reciprocal is most likely to overflow.
std::string balancedStamps(PlugInUnderTest& plugin, Finding& f) {
    SweepFindings findings;
    findings.balance = &f;
    std::vector<std::string> definitions = variationDefinitions(plugin);
    const std::vector<std::string> zeros = sweepDefinitions(plugin, {"0", "(0)"});
    definitions.insert(definitions.end(), zeros.begin() + 2, zeros.end());
    for (const std::string& definition : definitions) sweepCase(plugin, definition, {}, findings);
    f.see(std::to_string(definitions.size()) + " definitions, each parameter also at 0: every stamp finite, its columns "
          "and the right-hand side summing to zero");
    return "";
}

}  // namespace

std::string readyInstance(TestInstance& inst, const std::string& definition) {
    std::string sizeFault;
    inst.define(definition, &sizeFault);
    if (!sizeFault.empty()) return sizeFault;
    Recorder& r = recorder();
    r.registrationDue = true;
    double out = 0.0;
    inst.call(UDM_MODE_PREPARE, nullptr, nullptr, &out);
    r.registrationDue = false;
    r.evaluationDue = true;
    SimulationBlock simulation;
    simulation.set(0.0, 1e-6, 0.0);
    inst.call(UDM_MODE_EVALUATE, nullptr, simulation.bytes, &out);
    r.evaluationDue = false;
    return "";
}

std::vector<IsolatedCheck> sequenceChecks() {
    return {
        {"null and unlockable handles give their status, change nothing and leave every lock balanced", errorPaths},
        {"modes that read no text, simulation record or output take null for them", nullPointers},
        {"an unknown mode returns 0 and changes nothing", unknownModes},
        {"release twice is harmless", releaseTwice},
        {"accept needs neither vector nor matrix block",
         sameUnderVariant([](const PlugInUnderTest&, SweepOptions& variant) { variant.acceptWithoutBlocks = true; },
                          "same behaviour with null vector and matrix handles during mode 4")},
        {"a rejected step replayed gives the stamp of a fresh evaluation",
         [](PlugInUnderTest& p, Finding& f) { return sweepFindings(p, f, true); }},
        {"the stamp is written, not added",
         sameUnderVariant([](const PlugInUnderTest&, SweepOptions& variant) { variant.garbagePrefill = true; },
                          "same stamp and right-hand side over garbage as over guard bytes")},
        {"repeated evaluation with the same inputs gives the same stamp",
         [](PlugInUnderTest& p, Finding& f) { return sweepFindings(p, f, false); }},
        {"an evaluation follows its own node values, not an earlier iteration at the same time",
         sameUnderVariant([](const PlugInUnderTest&, SweepOptions& variant) { variant.iterateFirst = true; },
                          "same stamps when every step is first evaluated with the control at the far end")},
        {"stamps are finite and balanced: each column and the right-hand side sum to zero", balancedStamps},
    };
}

}  // namespace udmhost
