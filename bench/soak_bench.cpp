// The soak: ten thousand ticks through the real engine, each a system sample of this machine and a
// process sample, with a clock that runs as fast as the samples do. The processes come and go:
// every sample some end, others start, some on the pid of one that ended, with names of any
// length, so that every per-process cache and the ps table see a long run of churn. The figure is
// footprint_growth_mb: resident memory after the run less resident memory after a warm-up.

#include "os/linux/TLProcfsSystemSource.h"
#include "sampling/TLMetrics.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>

namespace {

constexpr int kTicks = 10000;
constexpr int kWarmup = 500;
constexpr int kProcesses = 600;

// Resident memory of this process, in bytes.
double residentBytes() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

struct Churn {
    struct Proc {
        uint64_t start = 0, cpu = 0, wakeups = 0;
        std::string name;
        bool visible = true; // false: only ps knows it
    };
    std::map<int32_t, Proc> procs;
    std::mt19937_64 rng{0x7469646505};
    uint64_t clockTicks = 0;
    double clock = 1000.0;

    std::string randomName() {
        std::string n = "proc-";
        const size_t extra = rng() % 40;
        for (size_t i = 0; i < extra; ++i)
            n += static_cast<char>('a' + rng() % 26);
        return n;
    }
    void spawn(int32_t pid) { procs[pid] = {++clockTicks, 0, 0, randomName(), rng() % 5 != 0}; }
    void step() {
        clock += 2.0;
        // Some 3 % end; as many start, half of them on a pid that just ended.
        std::vector<int32_t> ended;
        for (auto it = procs.begin(); it != procs.end();)
            if (rng() % 33 == 0) {
                ended.push_back(it->first);
                it = procs.erase(it);
            } else {
                it->second.cpu += rng() % 20'000'000;
                it->second.wakeups += rng() % 50;
                ++it;
            }
        for (const int32_t pid : ended)
            spawn(rng() % 2 ? pid : static_cast<int32_t>(1 + rng() % 4'000'000));
        while (procs.size() < kProcesses)
            spawn(static_cast<int32_t>(1 + rng() % 4'000'000));
    }
};

class ChurnSource final : public TLProcessSource {
public:
    explicit ChurnSource(Churn& c) : _c(c) {}
    bool listPids(std::vector<int32_t>& out) override {
        for (const auto& [pid, p] : _c.procs)
            out.push_back(pid);
        return true;
    }
    TLInspectResult inspect(int32_t pid, TLProcCounters& out) override {
        const auto it = _c.procs.find(pid);
        if (it == _c.procs.end() || !it->second.visible) return TLInspectResult::Failed;
        out = {it->second.cpu, it->second.wakeups, 4096 * (1 + it->second.start % 1000),
               it->second.start};
        return TLInspectResult::Exact;
    }
    bool executablePath(int32_t pid, std::string& out) override {
        const auto it = _c.procs.find(pid);
        if (it == _c.procs.end()) return false;
        out = "/usr/bin/" + it->second.name;
        return true;
    }
    bool shortName(int32_t, std::string&) override { return false; }
    double now() override { return _c.clock; }

private:
    Churn& _c;
};

class ChurnPs final : public TLPsRunner {
public:
    explicit ChurnPs(Churn& c) : _c(c) {}
    std::unique_ptr<TLPsRun> start() override {
        struct Run final : TLPsRun {
            std::string out;
            std::string finish() override { return std::move(out); }
        };
        auto run = std::make_unique<Run>();
        char line[128];
        for (const auto& [pid, p] : _c.procs) {
            std::snprintf(line, sizeof line, "%d %llu 1.5 ", pid,
                          static_cast<unsigned long long>(p.start % 100000));
            run->out += line;
            run->out += p.name;
            run->out += '\n';
        }
        return run;
    }

private:
    Churn& _c;
};

void BM_Soak(benchmark::State& state) {
    for (auto _ : state) {
        Churn churn;
        TLMetrics metrics(std::make_unique<TLProcfsSystemSource>(),
                          std::make_unique<ChurnSource>(churn), std::make_unique<ChurnPs>(churn));
        double before = 0;
        size_t listed = 0;
        for (int tick = 0; tick < kTicks; ++tick) {
            if (tick == kWarmup) before = residentBytes();
            churn.step();
            benchmark::DoNotOptimize(metrics.sampleSystem());
            listed = metrics.sampleProcesses().size();
        }
        const double growth = (residentBytes() - before) / (1024.0 * 1024.0);
        state.counters["footprint_growth_mb"] = growth;
        state.counters["ticks"] = kTicks;
        state.counters["processes"] = static_cast<double>(listed);
    }
}
BENCHMARK(BM_Soak)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
