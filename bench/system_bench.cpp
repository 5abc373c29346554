// The system sample on the real system: its wall time per call and the heap allocations it makes.

#include "alloc_counter.h"
#include "sampling/TLMetrics.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <glob.h>
#include <unistd.h>

#include <string>
#include <vector>

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

// The floor under a system sample: one pread of each file the sample reads, from descriptors held
// open, into a buffer large enough for the whole file, and no parsing at all.
void BM_SystemFloor(benchmark::State& state) {
    std::vector<int> fds;
    for (const char* path : {"/proc/meminfo", "/proc/stat", "/proc/pressure/memory"}) {
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) fds.push_back(fd);
    }
    glob_t zram{};
    if (::glob("/sys/block/zram*/mm_stat", 0, nullptr, &zram) == 0) {
        for (size_t i = 0; i < zram.gl_pathc; ++i) {
            const int fd = ::open(zram.gl_pathv[i], O_RDONLY | O_CLOEXEC);
            if (fd >= 0) fds.push_back(fd);
        }
    }
    ::globfree(&zram);
    static char buf[65536];
    for (auto _ : state) {
        for (int fd : fds)
            benchmark::DoNotOptimize(::pread(fd, buf, sizeof buf, 0));
        benchmark::ClobberMemory();
    }
    for (int fd : fds)
        ::close(fd);
    state.counters["files"] = static_cast<double>(fds.size());
}
BENCHMARK(BM_SystemFloor)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
