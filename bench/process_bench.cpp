// The process sample against the floor it cannot beat: one bare run of the same `ps` command.
// Both are timed on the wall clock; run with --benchmark_enable_random_interleaving so that their
// repetitions alternate and share whatever else the machine is doing.

#include "platform/linux/sampling/TLFd.h"
#include "platform/linux/sampling/TLProcfsProcessSource.h"
#include "sampling/TLMetrics.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

extern char** environ;

namespace {

// posix_spawn's file actions, destroyed on every path.
struct FileActions {
    posix_spawn_file_actions_t actions;
    bool ok;
    FileActions() : ok(posix_spawn_file_actions_init(&actions) == 0) {}
    ~FileActions() {
        if (ok) posix_spawn_file_actions_destroy(&actions);
    }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
};

// `/bin/ps -axco pid=,rss=,pcpu=,comm=`, standard output on a pipe read to end of file in this
// thread, standard input and error on the null device, waited for. Returns the bytes read, or -1
// when the tool could not be started.
long runBarePs(std::string& out) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
    TLFd readEnd(fds[0]);
    TLFd writeEnd(fds[1]);
    FileActions fa;
    if (!fa.ok || posix_spawn_file_actions_addopen(&fa.actions, 0, "/dev/null", O_RDONLY, 0) != 0 ||
        posix_spawn_file_actions_adddup2(&fa.actions, writeEnd.get(), 1) != 0 ||
        posix_spawn_file_actions_addopen(&fa.actions, 2, "/dev/null", O_WRONLY, 0) != 0)
        return -1;
    char prog[] = "/bin/ps";
    char opt[] = "-axco";
    char cols[] = "pid=,rss=,pcpu=,comm=";
    char* argv[] = {prog, opt, cols, nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, prog, &fa.actions, nullptr, argv, environ) != 0) return -1;
    writeEnd.reset();

    out.clear();
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(readEnd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return static_cast<long>(out.size());
}

void BM_BarePs(benchmark::State& state) {
    std::string out;
    // Warm-up, and a check that the tool runs at all.
    static const bool runs = runBarePs(out) > 0;
    if (!runs) {
        state.SkipWithError("/bin/ps could not be run");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(runBarePs(out));
        benchmark::ClobberMemory();
    }
    state.counters["bytes"] = static_cast<double>(out.size());
}

void BM_SampleProcesses(benchmark::State& state) {
    TLMetrics& metrics = TLMetrics::shared();
    // Warm-up to the steady state of an open panel: the first call resolves every name, the
    // later ones find them in the cache.
    static const bool warmed = [&] {
        metrics.sampleProcesses();
        metrics.sampleProcesses();
        return true;
    }();
    benchmark::DoNotOptimize(warmed);

    size_t listed = 0;
    for (auto _ : state) {
        std::vector<TLProc> procs = metrics.sampleProcesses();
        listed = procs.size();
        benchmark::DoNotOptimize(procs.data());
    }
    // The pids present right after the measurement, kernel threads included.
    TLProcfsProcessSource source;
    std::vector<int32_t> pids;
    source.listPids(pids);
    state.counters["pids"] = static_cast<double>(pids.size());
    state.counters["listed"] = static_cast<double>(listed);
}

// One call per repetition: the median over the repetitions is the median single call.
BENCHMARK(BM_SampleProcesses)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_BarePs)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

BENCHMARK_MAIN();
