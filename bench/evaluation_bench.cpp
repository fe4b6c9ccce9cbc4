// Mode 3 through the exported UDMMain of the loaded plug-in, with real
// platform handles: time per evaluation and heap allocations per evaluation.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "allocation_counter.h"
#include "test_host.h"

namespace {

using udmtest::plugin;
using udmtest::Simulation;
using udmtest::TestInstance;

int IgnoreMessage(int, const char*) { return 0; }

// The cheapest host evaluator there is: identifiers 1, 2; every value 0.5.
int TrivialExpression(int op, const char*, double*, double* out) {
    if (op == UDM_EXPR_REGISTER) {
        out[0] = 1.0;
        out[1] = 2.0;
    } else {
        out[0] = 0.5;
    }
    return 0;
}

void EvaluateLoop(benchmark::State& state, const char* definitionText) {
    RegistrationRecord record{};
    plugin().init(&IgnoreMessage, &TrivialExpression, &record);
    TestInstance instance;
    std::string definition = definitionText;
    const uint64_t beforeDefinition = udmbench::AllocationCount();
    if (instance.call(UDM_MODE_INIT, definition.data()) != UDM_OK || instance.call(UDM_MODE_PREPARE) != UDM_OK) {
        state.SkipWithError("definition or preparation failed");
        return;
    }
    // Parsing the definition allocates inside the plug-in: a counter that
    // saw nothing there would report 0 below for the wrong reason.
    if (udmbench::AllocationCount() == beforeDefinition) {
        state.SkipWithError("the allocation counter does not see the plug-in's allocations");
        return;
    }
    instance.setNodeValues(1.0, 0.0, 2.0, 0.0);
    Simulation sim(1.0, 0.0);

    int32_t failures = 0;
    const uint64_t allocationsBefore = udmbench::AllocationCount();
    for (auto _ : state) {
        const int32_t status = instance.call(UDM_MODE_EVALUATE, nullptr, sim.get());
        failures += status != UDM_OK;
        benchmark::DoNotOptimize(status);
    }
    const uint64_t allocations = udmbench::AllocationCount() - allocationsBefore;
    if (failures != 0) state.SkipWithError("an evaluation failed");
    state.counters["allocs_per_eval"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
    state.counters["ns_per_eval"] = benchmark::Counter(
        static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    instance.call(UDM_MODE_RELEASE);
}

void BM_EvaluateNumeric(benchmark::State& state) { EvaluateLoop(state, "1m,1k,1,0.5,0"); }
void BM_EvaluateTwoExpressions(benchmark::State& state) { EvaluateLoop(state, "1m,roff,1,hyst,0"); }
void BM_EvaluateFiveExpressions(benchmark::State& state) { EvaluateLoop(state, "ron,roff,vt,vh,c0"); }

BENCHMARK(BM_EvaluateNumeric);
BENCHMARK(BM_EvaluateTwoExpressions);
BENCHMARK(BM_EvaluateFiveExpressions);

}  // namespace

BENCHMARK_MAIN();
