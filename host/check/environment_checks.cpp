// The process around the plug-in: a decimal-comma locale, huge definitions.
#include <algorithm>
#include <chrono>
#include <clocale>

#include "check/isolated_check.h"
#include "check/sweep.h"

namespace udmhost {

namespace {

std::string decimalComma(PlugInUnderTest& plugin, Finding& f) {
    const char* chosen = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr) {
            chosen = name;
            break;
        }
    }
    if (chosen == nullptr) return "no decimal-comma locale is installed (de_DE or fr_FR)";
    std::setlocale(LC_NUMERIC, "C");
    const std::vector<std::string> definitions = variationDefinitions(plugin);
    for (const std::string& definition : definitions) {
        const std::vector<std::string> expected = sweepCase(plugin, definition, {}, {});
        std::setlocale(LC_ALL, chosen);
        const std::vector<std::string> actual = sweepCase(plugin, definition, {}, {});
        std::setlocale(LC_ALL, "C");
        compareSweeps(expected, actual, f, "\"" + definition + "\" under " + chosen);
    }
    f.see("same behaviour under " + std::string(chosen) + " as under C");
    return "";
}

double secondsToDefine(PlugInUnderTest& plugin, const std::string& text) {
    TestInstance inst(plugin, 1);
    recorder().messagesAllowed = true;
    const auto start = std::chrono::steady_clock::now();
    inst.define(text);
    const auto end = std::chrono::steady_clock::now();
    inst.call(UDM_MODE_RELEASE, nullptr, nullptr, nullptr);
    recorder().messagesAllowed = false;
    recorder().messages.clear();
    return std::chrono::duration<double>(end - start).count();
}

std::string hugeDefinitions(PlugInUnderTest& plugin, Finding& f) {
    const std::string defaults = plugin.defaultDefinition();
    auto withFields = [&](size_t count) {
        std::string text = defaults;
        for (size_t i = 0; i < count; ++i) text += ",0";
        return text;
    };
    // Surplus fields are ignored: behaviour after the definition line is that of the defaults.
    std::vector<std::string> expected = sweepCase(plugin, defaults, {}, {});
    std::vector<std::string> actual = sweepCase(plugin, withFields(70000), {}, {});
    if (!expected.empty() && !actual.empty()) {
        expected.erase(expected.begin());
        actual.erase(actual.begin());
    }
    compareSweeps(expected, actual, f, "70,000 surplus fields");

    // A 1 MB expression reaches the host whole.
    if (!plugin.parameters.empty()) {
        const std::string big = "(" + std::string(1u << 20, '0') + "1)";
        std::string text = big;
        for (size_t p = 1; p < plugin.parameters.size(); ++p) text += "," + plugin.parameters[p].defaultText;
        TestInstance inst(plugin, 2);
        inst.watchLocks(&f);
        recorder().messagesAllowed = true;
        inst.define(text);
        recorder().registeredTexts.clear();
        recorder().registrationDue = true;
        double out = 0.0;
        inst.call(UDM_MODE_PREPARE, nullptr, nullptr, &out);
        recorder().registrationDue = false;
        const std::vector<std::string>& texts = recorder().registeredTexts;
        if (texts.empty() || texts.front() != big)
            f.fault("a 1 MB expression was registered as " +
                    (texts.empty() ? std::string("nothing") : std::to_string(texts.front().size()) + " bytes"));
        inst.call(UDM_MODE_RELEASE, nullptr, nullptr, nullptr);
        recorder().messagesAllowed = false;
    }

    // Ten times the fields may take ten times as long, with room for noise, not a hundred.
    const double small = secondsToDefine(plugin, withFields(7000));
    const double large = secondsToDefine(plugin, withFields(70000));
    if (large > 40.0 * small + 0.05)
        f.fault("7,000 fields take " + number(small) + " s to define, 70,000 take " + number(large) + " s");
    f.see("70,000 fields ignored beyond the parameters, a 1 MB expression registered whole, linear time");
    return "";
}

// A parameter field padded with blanks, before or behind its value: ten times
// the blanks may take ten times as long, with room for noise, not a hundred.
std::string blankPadding(PlugInUnderTest& plugin, Finding& f) {
    if (plugin.parameters.empty()) return "no parameter to pad";
    const std::string value = plugin.parameters.front().defaultText;
    std::string rest;
    for (size_t p = 1; p < plugin.parameters.size(); ++p) rest += "," + plugin.parameters[p].defaultText;
    for (const bool behind : {true, false}) {
        auto padded = [&](size_t blanks) {
            const std::string pad(blanks, ' ');
            return (behind ? value + pad : pad + value) + rest;
        };
        // The fastest of several runs, so that a busy machine's pauses count
        // less: a pause in every short run would hide a quadratic cost.
        double small = secondsToDefine(plugin, padded(30000));
        for (int run = 0; run < 4; ++run) small = std::min(small, secondsToDefine(plugin, padded(30000)));
        double large = secondsToDefine(plugin, padded(300000));
        for (int run = 0; run < 2; ++run) large = std::min(large, secondsToDefine(plugin, padded(300000)));
        // Linear time gives about 10 times the short runs' time, a quadratic
        // one 100 times; the floor is far above a linear plug-in's few
        // milliseconds and far below a quadratic one's tenths of a second.
        if (large > 40.0 * small + 0.05)
            f.fault(std::string("a field with 30,000 blanks ") + (behind ? "behind" : "before") + " its value takes " +
                    number(small) + " s to define, with 300,000 blanks " + number(large) + " s");
    }
    f.see("30,000 and 300,000 blanks behind and before a value: linear time");
    return "";
}

}  // namespace

std::vector<IsolatedCheck> environmentChecks() {
    return {
        {"a decimal-comma locale changes nothing", decimalComma},
        {"70,000 fields and a 1 MB text neither corrupt the instance nor take super-linear time", hugeDefinitions},
        {"blanks around a parameter value take time linear in their number", blankPadding},
    };
}

}  // namespace udmhost
