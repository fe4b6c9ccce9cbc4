// Cost of one UDMMain call through the exported entry point, with real
// handles from the platform layer: the bare frame (mode 0: two locks, two
// unlocks), an evaluation without and with expression parameters, and an
// output value.
#include <benchmark/benchmark.h>

#include "bench_scenario.h"

namespace {

using udmbench::PreparedSwitch;

void Require(benchmark::State& state, const PreparedSwitch& s) {
    if (!s.ok()) state.SkipWithError("the instance could not be defined and prepared");
}

void BM_Mode0_Frame(benchmark::State& state) {
    PreparedSwitch s(udmbench::kNumericDefinition);
    Require(state, s);
    for (auto _ : state) benchmark::DoNotOptimize(s.frame());
}
BENCHMARK(BM_Mode0_Frame);

void BM_Mode3_Evaluate(benchmark::State& state) {
    PreparedSwitch s(udmbench::kNumericDefinition);
    Require(state, s);
    for (auto _ : state) benchmark::DoNotOptimize(s.evaluate());
}
BENCHMARK(BM_Mode3_Evaluate);

void BM_Mode3_EvaluateTwoExpressions(benchmark::State& state) {
    PreparedSwitch s(udmbench::kExpressionDefinition);
    Require(state, s);
    for (auto _ : state) benchmark::DoNotOptimize(s.evaluate());
}
BENCHMARK(BM_Mode3_EvaluateTwoExpressions);

void BM_Mode6_OutputValue(benchmark::State& state) {
    PreparedSwitch s(udmbench::kNumericDefinition);
    Require(state, s);
    double value = 0.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.outputValue(&value));
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_Mode6_OutputValue);

}  // namespace

BENCHMARK_MAIN();
