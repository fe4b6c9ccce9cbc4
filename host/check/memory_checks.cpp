// Ownership and ranges: the definition text copied, no allocation left
// behind, large offsets, odd output selectors, non-integer identifiers,
// registration order.
#include <cmath>
#include <cstdlib>
#include <limits>

#include "check/heap_usage.h"
#include "check/isolated_check.h"
#include "check/sweep.h"
#include "netlist/spice_number.h"

namespace udmhost {

namespace {

void* volatile probeBlock = nullptr;  // keeps the probe allocation from being optimised away

// Whether the allocator's statistics see this process's allocations (not
// so under a sanitizer, which brings its own allocator).
bool allocationsVisible() {
    const size_t before = bytesInUse();
    probeBlock = std::malloc(100000);
    const size_t during = bytesInUse();
    std::free(probeBlock);
    return during >= before + 100000;
}

std::string noLeak(PlugInUnderTest& plugin, Finding& f) {
    if (!allocationsVisible()) return "the allocator's statistics are not available in this build";
    // Long expression texts, so that a lost copy shows far above the host's own noise.
    std::string definition;
    for (size_t p = 0; p < plugin.parameters.size(); ++p) {
        const std::string& value = plugin.parameters[p].defaultText;
        definition += (p > 0 ? "," : "") + (spiceNumber(value) ? "(" + std::string(1000, '0') + value + ")" : value);
    }
    // Texts that end a parameter parser on its error paths, each long enough
    // that a working copy left behind shows: a number with a word behind it,
    // an over-long number, blanks on either side.
    const std::string digits(1000, '0');
    std::vector<std::string> definitions = {definition};
    for (const std::string& odd : {"1" + digits + "xyz", "1" + digits, "0." + digits + "1e", std::string(1000, ' ') + "1x",
                                   "1" + std::string(1000, ' '), "-" + digits + "k"}) {
        std::string text;
        for (size_t p = 0; p < plugin.parameters.size(); ++p) text += (p > 0 ? "," : "") + odd;
        definitions.push_back(text);
    }
    SweepOptions coarse;
    coarse.rampStep = 1.0;
    auto lifeCycle = [&] {
        for (const std::string& text : definitions) sweepCase(plugin, text, coarse, {});
        Recorder& r = recorder();
        r.registered.clear();
        r.registeredTexts.clear();
        r.messages.clear();
        r.violations.clear();
    };
    for (int warm = 0; warm < 3; ++warm) lifeCycle();
    constexpr int kRounds = 20;
    const size_t before = bytesInUse();
    for (int round = 0; round < kRounds; ++round) lifeCycle();
    const size_t after = bytesInUse();
    if (after > before + 500 * kRounds)
        f.fault(std::to_string(after - before) + " bytes more in use after " + std::to_string(kRounds) +
                " rounds of life cycles with expressions of 1,000 bytes and more and with odd parameter texts");
    f.see(std::to_string(kRounds) + " rounds of " + std::to_string(definitions.size()) +
          " life cycles (define, prepare, evaluate, accept, outputs, release), expressions and odd texts of 1,000 bytes: " +
          std::to_string(after > before ? after - before : 0) + " bytes growth");
    return "";
}

std::string selectors(PlugInUnderTest& plugin, Finding& f) {
    TestInstance inst(plugin, 1);
    inst.watchLocks(&f);
    if (std::string why = readyInstance(inst, plugin.defaultDefinition()); !why.empty())
        return "needs usable sizes: " + why;
    SimulationBlock simulation;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double selectors[] = {nan, -nan, 2147483648.0, 2147483649.0, -2147483649.0, 4294967296.0, 4294967297.0,
                                9.3e18, -9.3e18, 1e300, -1e300, inf, -inf, -1.0, 65536.0, 0.5};
    for (double selector : selectors) {
        simulation.set(selector, 1e-6, 0.0);
        double value = -12345.0;
        const int32_t status = inst.call(UDM_MODE_OUTPUT_VALUE, nullptr, simulation.bytes, &value);
        if (status != 0) f.fault("selector " + number(selector) + " returned " + statusName(status));
        if (!std::isfinite(value)) f.fault("selector " + number(selector) + " reads " + number(value));
    }
    inst.call(UDM_MODE_RELEASE, nullptr, nullptr, nullptr);
    f.see(std::to_string(std::size(selectors)) + " selectors: status 0 and a finite value each");
    return "";
}

std::string fractionalIdentifiers(PlugInUnderTest& plugin, Finding& f) {
    SweepOptions variant;
    variant.idFraction = 0.75;
    const std::vector<std::string> definitions = {allExpressionDefinition(plugin)};
    recorder().violations.clear();
    compareVariant(plugin, f, variant, definitions);
    for (const std::string& v : recorder().violations) f.fault(v);
    f.see("identifiers handed out as 100.75 and -7.75 come back as 100 and -7");
    return "";
}

std::string registrationOrder(PlugInUnderTest& plugin, Finding& f) {
    std::vector<std::string> expected;
    for (const CatalogueItem& p : plugin.parameters)
        if (spiceNumber(p.defaultText)) expected.push_back("(" + p.defaultText + ")");
    if (expected.empty()) return "no parameter has a numeric default to pass as an expression";
    TestInstance inst(plugin, 1);
    inst.watchLocks(&f);
    std::string sizeFault;
    inst.define(allExpressionDefinition(plugin), &sizeFault);
    if (!sizeFault.empty()) return "needs usable sizes: " + sizeFault;
    Recorder& r = recorder();
    r.registeredTexts.clear();
    r.registrationDue = true;
    double out = 0.0;
    inst.call(UDM_MODE_PREPARE, nullptr, nullptr, &out);
    r.registrationDue = false;
    if (r.registeredTexts != expected)
        f.fault("registered " + describe(r.registeredTexts) + " instead of " + describe(expected));
    inst.call(UDM_MODE_RELEASE, nullptr, nullptr, nullptr);
    f.see(std::to_string(expected.size()) + " expressions registered in parameter order: " + describe(expected));
    return "";
}

}  // namespace

std::vector<std::string> variationDefinitions(const PlugInUnderTest& plugin) {
    return sweepDefinitions(plugin, {"0.5", "1", "(0.5)"});
}

void compareVariant(PlugInUnderTest& plugin, Finding& finding, const SweepOptions& variant,
                    const std::vector<std::string>& definitions) {
    for (const std::string& definition : definitions) {
        const std::vector<std::string> expected = sweepCase(plugin, definition, {}, {});
        const std::vector<std::string> actual = sweepCase(plugin, definition, variant, {});
        compareSweeps(expected, actual, finding, "\"" + definition + "\"");
    }
}

std::function<std::string(PlugInUnderTest&, Finding&)> sameUnderVariant(
    std::function<void(const PlugInUnderTest&, SweepOptions&)> vary, std::string seen) {
    return [vary = std::move(vary), seen = std::move(seen)](PlugInUnderTest& plugin, Finding& f) {
        SweepOptions variant;
        vary(plugin, variant);
        compareVariant(plugin, f, variant, variationDefinitions(plugin));
        f.see(seen);
        return std::string();
    };
}

std::vector<IsolatedCheck> memoryChecks() {
    return {
        {"the definition text is copied, not kept",
         sameUnderVariant([](const PlugInUnderTest&, SweepOptions& variant) { variant.scrubDefinition = true; },
                          "same behaviour after the host overwrote its definition text following mode 1")},
        {"no allocation outlives a life cycle", noLeak},
        {"offsets of 32768 and more work like small ones",
         sameUnderVariant([](const PlugInUnderTest&, SweepOptions& variant) { variant.regionStart = 32768 + 16; },
                          "regions at offsets from 32784 behave as at offset 16")},
        {"the plug-in keeps no address of a block from one call to the next",
         sameUnderVariant([](const PlugInUnderTest&, SweepOptions& variant) { variant.moveBlocks = true; },
                          "same behaviour with all four blocks moved to fresh memory before every call")},
        {"instances are independent: nothing of one lives in library-wide state",
         sameUnderVariant([](const PlugInUnderTest& plugin,
                             SweepOptions& variant) { variant.neighbour = allExpressionDefinition(plugin); },
                          "same behaviour with a second instance evaluated and accepted between every two calls")},
        {"output selectors NaN, infinite, 2^31 and more, 2^32 and more are harmless", selectors},
        {"non-integer expression identifiers are truncated toward zero", fractionalIdentifiers},
        {"expressions are registered in parameter order", registrationOrder},
    };
}

}  // namespace udmhost
