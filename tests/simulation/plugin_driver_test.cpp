// How the host drives plug-in instances: expression parameters, messages,
// failures and the release call that ends every instance.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <sstream>

#include "oscillator.h"
#include "sim/simulator.h"

namespace {

using simtest::Oscillator;

// The probe's release counter, from the same loaded copy the host uses;
// the test keeps the library loaded so that the count survives each run.
int probeReleases() {
    static void* handle = dlopen(PROBE_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(handle, nullptr);
    auto count = reinterpret_cast<int (*)()>(dlsym(handle, "ProbeReleaseCount"));
    return count != nullptr ? count() : -1;
}

struct Run {
    std::string messages;
    std::string error;
    udmhost::SimulationOutput output;
};

Run run(udmhost::Circuit& c) {
    Run r;
    std::ostringstream messages;
    try {
        r.output = udmhost::simulate(c, messages);
    } catch (const udmhost::SimulationError& e) {
        r.error = e.what();
    }
    r.messages = messages.str();
    return r;
}

TEST(PlugInDriver, ExpressionParametersGiveTheSameRunAsNumbers) {
    for (const auto& [path, numeric, expression] :
         {std::tuple{VCSWITCH_PLUGIN_PATH, "1,1e9,2.5,0.5,0", "1,2*rbase,2.5,0.5,0"},
          std::tuple{PROBE_PLUGIN_PATH, "1,1e9,2.5,0.5,0,-1", "1,2*rbase,2.5,0.5,0,-1"}}) {
        if (!simtest::hasCatalogue(path)) continue;
        auto plain = Oscillator::circuit(path, numeric, 3e-3);
        auto withExpression = Oscillator::circuit(path, expression, 3e-3);
        withExpression.circuit().params["rbase"] = 5e8;
        const auto a = run(plain.circuit()), b = run(withExpression.circuit());
        ASSERT_EQ(a.error, "");
        ASSERT_EQ(b.error, "");
        ASSERT_EQ(a.output.events.size(), b.output.events.size()) << path;
        ASSERT_GT(a.output.events.size(), 2u);
        for (size_t i = 0; i < a.output.events.size(); ++i) EXPECT_EQ(a.output.events[i].time, b.output.events[i].time);
    }
}

TEST(PlugInDriver, ExpressionThatDoesNotCompileNamesInstanceAndParameter) {
    auto b = Oscillator::circuit(PROBE_PLUGIN_PATH, "1,2*rbse,2.5,0.5,0,-1", 1e-3);
    b.circuit().params["rbase"] = 5e8;
    const int before = probeReleases();
    const auto r = run(b.circuit());
    EXPECT_NE(r.error.find("Y1"), std::string::npos) << r.error;
    EXPECT_NE(r.error.find("ROFF"), std::string::npos) << r.error;
    EXPECT_NE(r.error.find("2*rbse"), std::string::npos) << r.error;
    EXPECT_EQ(probeReleases(), before + 1);
}

TEST(PlugInDriver, SeverityThreeStopsTheRunAndTheInstanceIsStillReleased) {
    auto b = Oscillator::circuit(PROBE_PLUGIN_PATH, "1,1e9,2.5,0.5,0,2e-3", 20e-3);
    const int before = probeReleases();
    const auto r = run(b.circuit());
    EXPECT_EQ(r.error, "Y1: probe failure");
    EXPECT_NE(r.messages.find("Y1: error: probe failure\n"), std::string::npos) << r.messages;
    EXPECT_EQ(probeReleases(), before + 1);
}

TEST(PlugInDriver, EveryInstanceIsReleasedOnceAfterANormalRun) {
    auto b = Oscillator::circuit(PROBE_PLUGIN_PATH, "1,1e9,2.5,0.5,0,-1", 1e-3);
    b.plugIn("Y2", PROBE_PLUGIN_PATH, {"in", "cap", "in", "0"}, "1,1e9,10,0,0,-1");
    const int before = probeReleases();
    const auto r = run(b.circuit());
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(probeReleases(), before + 2);
}

TEST(PlugInDriver, WarningsAreRoutedWithTheInstanceName) {
    // A negative hysteresis is reported as a warning and the run goes on.
    if (!simtest::hasCatalogue(VCSWITCH_PLUGIN_PATH)) GTEST_SKIP() << "vcswitch lists no catalogue yet";
    auto b = Oscillator::circuit(VCSWITCH_PLUGIN_PATH, "1,1e9,2.5,-0.5,0", 2e-3);
    const auto r = run(b.circuit());
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.messages, "Y1: warning: The hysteresis value must be greater then 0. Modulo is used\n");
    EXPECT_EQ(r.output.events.size(), Oscillator::instants(2e-3).size());
}

TEST(PlugInDriver, BadPlacementsAreRefused) {
    auto wrongTerminals = Oscillator::circuit(PROBE_PLUGIN_PATH, "1,1e9,2.5,0.5,0,-1", 1e-3);
    wrongTerminals.circuit().elements.back().nodes.pop_back();
    EXPECT_EQ(run(wrongTerminals.circuit()).error, "Y1: plug-in has 4 terminals, 3 given");

    auto unknownOutput = Oscillator::circuit(PROBE_PLUGIN_PATH, "1,1e9,2.5,0.5,0,-1", 1e-3);
    unknownOutput.circuit().prints.back().output = "GATE";
    EXPECT_EQ(run(unknownOutput.circuit()).error, "Y1: the plug-in has no output named GATE");

    auto missing = Oscillator::circuit("/nonexistent/plugin.so", "1", 1e-3);
    EXPECT_NE(run(missing.circuit()).error.find("cannot load plug-in"), std::string::npos);
}

TEST(PlugInDriver, ASwitchStartingClosedIsNoEvent) {
    // CTRL0 1: closed from the start; with the capacitor at 0 V it opens at once.
    auto b = Oscillator::circuit(PROBE_PLUGIN_PATH, "1,1e9,2.5,0.5,1,-1", 1e-3);
    const auto r = run(b.circuit());
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.output.rows.front()[2], 0.0);  // the law at the start time already opens it
    EXPECT_TRUE(r.output.events.empty() || r.output.events.front().time > 0.5e-3);
}

}  // namespace
