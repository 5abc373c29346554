// The system sample on the real system: its wall time per call and the heap allocations it makes.

#include "alloc_counter.h"
#include "sampling/TLMetrics.h"

#include <benchmark/benchmark.h>

namespace {

// One system sample per iteration. The allocation counter runs across the timed loop (it costs a
// thread-local test per allocation, and the loop allocates nothing else), so `allocs` / `calls`
// over all repetitions is the number of allocations per call.
void BM_SampleSystem(benchmark::State& state) {
    TLMetrics& metrics = TLMetrics::shared();
    // Warm-up: the first call creates the engine and opens its files.
    benchmark::DoNotOptimize(metrics.sampleSystem());

    TLAllocCounter::start();
    for (auto _ : state)
        benchmark::DoNotOptimize(metrics.sampleSystem());
    const size_t allocs = TLAllocCounter::stop();

    state.counters["allocs"] = static_cast<double>(allocs);
    state.counters["calls"] = static_cast<double>(state.iterations());
}
BENCHMARK(BM_SampleSystem)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
