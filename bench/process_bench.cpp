// The process sample against one bare run of the same `ps` command that it would otherwise
// start. Both are timed on the wall clock and on the CPU (`cpu_ms`: this thread plus every child
// waited for); run with --benchmark_enable_random_interleaving so that their repetitions alternate
// and share whatever else the machine is doing.
//
// The process sample is measured three times: as the program takes it, reading every thread's
// status at every sample (BM_SampleProcessesEveryStatus), and reading every process's stat and
// status at every sample (BM_SampleProcessesUngated), both of which the first makes needless.
//
// The machine can be made busier for the run: TIDE_BENCH_THREADS=N starts N extra threads in
// this process (asleep, as most threads of a desktop are), TIDE_BENCH_PROCESSES=N starts N
// sleeping child processes. Both end with the program. Like the program, the benchmark first
// raises its soft limit on open files toward the hard one.

#include "os/TLDescriptorLimit.h"
#include "os/linux/TLProcfsProcessSource.h"
#include "os/posix/TLFd.h"
#include "os/posix/TLPosixPsRunner.h"
#include "sampling/TLMetrics.h"

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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

// CPU time of this thread plus that of the children waited for so far, in milliseconds.
double cpuMs() {
    rusage self{}, children{};
    ::getrusage(RUSAGE_THREAD, &self);
    ::getrusage(RUSAGE_CHILDREN, &children);
    auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(self.ru_utime) + ms(self.ru_stime) + ms(children.ru_utime) + ms(children.ru_stime);
}

// Sleeping threads and processes that make the machine look like a busy desktop.
struct Crowd {
    std::mutex mutex;
    std::condition_variable wake;
    bool done = false;
    std::vector<pthread_t> threads;
    std::vector<pid_t> children;

    void startThreads(long n) {
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setstacksize(&attr, 64 * 1024);
        for (long i = 0; i < n; ++i) {
            pthread_t t;
            if (pthread_create(
                    &t, &attr,
                    [](void* self) -> void* {
                        auto* c = static_cast<Crowd*>(self);
                        std::unique_lock lock(c->mutex);
                        c->wake.wait(lock, [c] { return c->done; });
                        return nullptr;
                    },
                    this) != 0)
                break;
            threads.push_back(t);
        }
        pthread_attr_destroy(&attr);
    }
    void startProcesses(long n) {
        for (long i = 0; i < n; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::pause();
                ::_exit(0);
            }
            if (pid < 0) break;
            children.push_back(pid);
        }
    }
    ~Crowd() {
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        wake.notify_all();
        for (pthread_t t : threads)
            pthread_join(t, nullptr);
        for (pid_t pid : children)
            ::kill(pid, SIGKILL);
        for (pid_t pid : children)
            ::waitpid(pid, nullptr, 0);
    }
};

long envCount(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::strtol(v, nullptr, 10) : 0;
}

void BM_BarePs(benchmark::State& state) {
    std::string out;
    // Warm-up, and a check that the tool runs at all.
    static const bool runs = runBarePs(out) > 0;
    if (!runs) {
        state.SkipWithError("/bin/ps could not be run");
        return;
    }
    double cpu = 0;
    for (auto _ : state) {
        const double before = cpuMs();
        benchmark::DoNotOptimize(runBarePs(out));
        benchmark::ClobberMemory();
        cpu += cpuMs() - before;
    }
    state.counters["bytes"] = static_cast<double>(out.size());
    state.counters["cpu_ms"] = cpu / static_cast<double>(state.iterations());
}

// The sampling engine as the program has it, or reading every thread's status or every
// process's stat and status at every sample (as before the thread gate or the process gate),
// with the source kept at hand for its counts.
struct Engine {
    TLProcfsProcessSource* source;
    TLMetrics metrics;
    Engine(bool threadGate, bool processGate)
        : Engine(std::make_unique<TLProcfsProcessSource>(), threadGate, processGate) {}
    Engine(std::unique_ptr<TLProcfsProcessSource> s, bool threadGate, bool processGate)
        : source(s.get()), metrics(nullptr, std::move(s), TLPosixPsRunner::standard()) {
        source->setThreadGate(threadGate);
        source->setProcessGate(processGate);
        // Warm-up to the steady state of an open panel: the first call resolves every name,
        // the later ones find them in the cache.
        metrics.sampleProcesses();
        metrics.sampleProcesses();
    }
};

void sampleProcesses(benchmark::State& state, Engine& engine, bool cold = false) {
    size_t listed = 0;
    double cpu = 0;
    const uint64_t readsBefore = engine.source->threadStatusReads();
    const uint64_t listingsBefore = engine.source->threadListings();
    const uint64_t processReadsBefore = engine.source->processReads();
    for (auto _ : state) {
        // A thread made and ended since the last sample: the sample lists /proc and every
        // thread list afresh, as on a machine where tasks come and go, instead of using the last
        // listings again.
        std::thread([] {}).join();
        if (cold) engine.metrics.releaseProcessFiles();
        const double before = cpuMs();
        std::vector<TLProc> procs = engine.metrics.sampleProcesses();
        cpu += cpuMs() - before;
        listed = procs.size();
        benchmark::DoNotOptimize(procs.data());
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["cpu_ms"] = cpu / iterations;
    state.counters["status_reads"] =
        static_cast<double>(engine.source->threadStatusReads() - readsBefore) / iterations;
    state.counters["thread_listings"] =
        static_cast<double>(engine.source->threadListings() - listingsBefore) / iterations;
    state.counters["process_reads"] =
        static_cast<double>(engine.source->processReads() - processReadsBefore) / iterations;
    state.counters["kept_files"] = static_cast<double>(engine.source->heldFileCount());
    // The pids present right after the measurement, kernel threads included.
    TLProcfsProcessSource source;
    std::vector<int32_t> pids;
    source.listPids(pids);
    state.counters["pids"] = static_cast<double>(pids.size());
    size_t threads = 0;
    for (int32_t pid : pids) {
        const std::string dir = "/proc/" + std::to_string(pid) + "/task";
        if (DIR* d = ::opendir(dir.c_str())) {
            while (const dirent* e = ::readdir(d))
                threads += e->d_name[0] != '.';
            ::closedir(d);
        }
    }
    state.counters["threads"] = static_cast<double>(threads);
    state.counters["listed"] = static_cast<double>(listed);
}

void BM_SampleProcesses(benchmark::State& state) {
    static Engine engine(true, true);
    sampleProcesses(state, engine);
}

// The same, every thread's status read at every sample: the cost the thread gate takes away.
void BM_SampleProcessesEveryStatus(benchmark::State& state) {
    static Engine engine(false, true);
    sampleProcesses(state, engine);
}

// The same, every process's stat and status read at every sample: the cost the process gate
// takes away.
void BM_SampleProcessesUngated(benchmark::State& state) {
    static Engine engine(true, false);
    sampleProcesses(state, engine);
}

// The sample once a minute with the panel closed: the files kept between samples were let go
// after the last one.
void BM_SampleProcessesCold(benchmark::State& state) {
    static Engine engine(true, true);
    sampleProcesses(state, engine, true);
}

// The first sample of a run, in which every process is named and placed in its application: what
// the first background sample and the first opening of the panel cost once.
void BM_FirstSample(benchmark::State& state) {
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto metrics = std::make_unique<TLMetrics>(
            nullptr, std::make_unique<TLProcfsProcessSource>(), TLPosixPsRunner::standard());
        state.ResumeTiming();
        const double before = cpuMs();
        benchmark::DoNotOptimize(metrics->sampleProcesses().data());
        cpu += cpuMs() - before;
    }
    state.counters["cpu_ms"] = cpu / static_cast<double>(state.iterations());
}

// One call per repetition: the median over the repetitions is the median single call.
BENCHMARK(BM_SampleProcesses)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_SampleProcessesEveryStatus)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(BM_SampleProcessesUngated)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_SampleProcessesCold)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_FirstSample)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_BarePs)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    // The limit on open files the program itself runs with: it raises the session's soft limit.
    TLRaiseDescriptorLimit();
    Crowd crowd;
    crowd.startProcesses(envCount("TIDE_BENCH_PROCESSES"));
    crowd.startThreads(envCount("TIDE_BENCH_THREADS"));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
