// The floor under every UDMMain call: one GlobalLock/GlobalUnlock pair on a
// live handle, next to reading through a plain pointer.
#include <benchmark/benchmark.h>

#include <vector>

#include "udm_platform.h"

namespace {

void BM_PointerDereference(benchmark::State& state) {
    double block[4] = {1.0, 2.0, 3.0, 4.0};
    double* p = block;
    for (auto _ : state) {
        benchmark::DoNotOptimize(p);  // the compiler may not keep *p in a register
        benchmark::DoNotOptimize(*p);
    }
}
BENCHMARK(BM_PointerDereference);

void BM_LockUnlockPair(benchmark::State& state) {
    HGLOBAL h = GlobalAlloc(GHND, 64);
    if (h == nullptr) state.SkipWithError("GlobalAlloc failed");
    for (auto _ : state) {
        auto* p = static_cast<double*>(GlobalLock(h));
        benchmark::DoNotOptimize(*p);
        GlobalUnlock(h);
    }
    GlobalFree(h);
}
BENCHMARK(BM_LockUnlockPair);

// A host with many blocks: handles spread over several slot pages.
void BM_LockUnlockPairManyBlocks(benchmark::State& state) {
    const auto count = static_cast<size_t>(state.range(0));
    std::vector<HGLOBAL> handles(count);
    for (HGLOBAL& h : handles) h = GlobalAlloc(GHND, 64);
    size_t i = 0;
    for (auto _ : state) {
        auto* p = static_cast<double*>(GlobalLock(handles[i]));
        benchmark::DoNotOptimize(*p);
        GlobalUnlock(handles[i]);
        if (++i == count) i = 0;
    }
    for (HGLOBAL h : handles) GlobalFree(h);
}
BENCHMARK(BM_LockUnlockPairManyBlocks)->Arg(4000);

}  // namespace

BENCHMARK_MAIN();
