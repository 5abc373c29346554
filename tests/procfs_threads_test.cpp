// The threads' wakeup counts: a thread's status is read again only after its schedstat changed,
// and the figures come out the same as when every status is read.
#include "os/linux/TLProcfsProcessSource.h"
#include "os/posix/TLPosixPsRunner.h"
#include "sampling/TLMetrics.h"

#include <gtest/gtest.h>

#include "fake_proc_root.h"

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

std::string status(int threads, int voluntary) {
    return "Name:\tworker\nState:\tS (sleeping)\nRssAnon:\t  1000 kB\nThreads:\t" +
           std::to_string(threads) + "\nvoluntary_ctxt_switches:\t" + std::to_string(voluntary) +
           "\nnonvoluntary_ctxt_switches:\t5\n";
}

uint64_t wakeups(TLProcfsProcessSource& source, int32_t pid) {
    TLProcCounters c;
    EXPECT_EQ(source.inspect(pid, c), TLInspectResult::Exact);
    return c.idleWakeups;
}

} // namespace

TEST(SchedstatParsing, ThreeCounts) {
    uint64_t run = 0, wait = 0, runs = 0;
    ASSERT_TRUE(TLParseSchedstat("1234567 89 42\n", run, wait, runs));
    EXPECT_EQ(run, 1234567u);
    EXPECT_EQ(wait, 89u);
    EXPECT_EQ(runs, 42u);
    EXPECT_FALSE(TLParseSchedstat("", run, wait, runs));
    EXPECT_FALSE(TLParseSchedstat("12 34\n", run, wait, runs));
    EXPECT_FALSE(TLParseSchedstat("x 1 2\n", run, wait, runs));
}

// A fake /proc, where texts can say what the kernel never would: a status that changes while the
// schedstat stays the same shows whether the status was read.
TEST(ProcfsThreadGate, StatusIsReadAgainOnlyAfterTheSchedstatChanged) {
    const FakeProcRoot fake("threads");
    const std::filesystem::path& root = fake.path;
    writeFile(root / "400/stat", "400 (w) S 1 1 1 0 -1 4194560 1 0 0 0 5 5 0 0 20 0 3 0 77 1 1");
    writeFile(root / "400/status", status(3, 1));
    writeFile(root / "400/task/400/status", status(3, 1));
    writeFile(root / "400/task/401/schedstat", "1000 10 5\n");
    writeFile(root / "400/task/401/status", status(3, 10));
    writeFile(root / "400/task/402/schedstat", "2000 20 6\n");
    writeFile(root / "400/task/402/status", status(3, 100));

    TLProcfsProcessSource source(root.string());
    EXPECT_EQ(wakeups(source, 400), 111u);
    EXPECT_EQ(source.threadStatusReads(), 2u);
    EXPECT_EQ(source.threadListings(), 1u);

    // Nothing ran: the counts of the last reading stand, and the thread list, all behind kept
    // files and as long as the status says, is not listed again.
    writeFile(root / "400/task/401/status", status(3, 50));
    EXPECT_EQ(wakeups(source, 400), 111u);
    EXPECT_EQ(source.threadStatusReads(), 2u);
    EXPECT_EQ(source.threadListings(), 1u);

    // Any of the three figures changes: that thread's status is read, and only that one.
    writeFile(root / "400/task/401/schedstat", "1000 10 6\n");
    EXPECT_EQ(wakeups(source, 400), 151u);
    EXPECT_EQ(source.threadStatusReads(), 3u);
    writeFile(root / "400/task/402/status", status(3, 300));
    writeFile(root / "400/task/402/schedstat", "2000 25 6\n");
    EXPECT_EQ(wakeups(source, 400), 351u);
    writeFile(root / "400/task/402/status", status(3, 400));
    writeFile(root / "400/task/402/schedstat", "2001 25 6\n");
    EXPECT_EQ(wakeups(source, 400), 451u);
    EXPECT_EQ(source.threadStatusReads(), 5u);
    EXPECT_EQ(source.threadListings(), 1u);

    // A thread that took the id of one that ended, under a new entry, and with the very same
    // schedstat: a new thread, read; the new thread beside it changes the count, and the list is
    // listed again.
    std::filesystem::rename(root / "400/task/402", root / "400/old402");
    writeFile(root / "400/task/402/schedstat", "2001 25 6\n");
    writeFile(root / "400/task/402/status", status(4, 7));
    writeFile(root / "400/task/403/schedstat", "1 0 1\n");
    writeFile(root / "400/task/403/status", status(4, 1000));
    writeFile(root / "400/status", status(4, 1));
    EXPECT_EQ(wakeups(source, 400), 1u + 50 + 7 + 1000);
    EXPECT_EQ(source.threadListings(), 2u);
    EXPECT_EQ(source.threadStatusReads(), 7u);
    std::filesystem::remove_all(root / "400/old402");

    // Without a usable schedstat (all zeros, as from a kernel without scheduler statistics, or
    // none at all) a thread's status is read every time.
    std::filesystem::remove_all(root / "400/task/401");
    std::filesystem::remove_all(root / "400/task/403");
    writeFile(root / "400/task/402/schedstat", "0 0 0\n");
    writeFile(root / "400/task/404/status", status(3, 2000));
    writeFile(root / "400/status", status(3, 1));
    EXPECT_EQ(wakeups(source, 400), 1u + 7 + 2000);
    writeFile(root / "400/task/402/status", status(3, 8));
    EXPECT_EQ(wakeups(source, 400), 1u + 8 + 2000);
    writeFile(root / "400/task/404/status", status(3, 3000));
    EXPECT_EQ(wakeups(source, 400), 1u + 8 + 3000);

    // A thread not run yet reads all zeros too, but has no switches: gated once it has run.
    writeFile(root / "500/stat", "500 (n) S 1 1 1 0 -1 4194560 1 0 0 0 5 5 0 0 20 0 2 0 78 1 1");
    writeFile(root / "500/status", status(2, 1));
    writeFile(root / "500/task/500/status", status(2, 1));
    writeFile(root / "500/task/501/schedstat", "0 0 0\n");
    writeFile(root / "500/task/501/status", status(2, 0));
    EXPECT_EQ(wakeups(source, 500), 1u);
    writeFile(root / "500/task/501/schedstat", "100 1 1\n");
    writeFile(root / "500/task/501/status", status(2, 3));
    EXPECT_EQ(wakeups(source, 500), 4u);
    writeFile(root / "500/task/501/status", status(2, 9));
    EXPECT_EQ(wakeups(source, 500), 4u);

    // With the gate off every status is read at every sample.
    TLProcfsProcessSource ungated(root.string());
    ungated.setThreadGate(false);
    writeFile(root / "400/task/402/schedstat", "5 5 5\n");
    writeFile(root / "400/task/404/schedstat", "5 5 5\n");
    EXPECT_EQ(wakeups(ungated, 400), 1u + 8 + 3000);
    writeFile(root / "400/task/404/status", status(3, 4000));
    EXPECT_EQ(wakeups(ungated, 400), 1u + 8 + 4000);
    EXPECT_EQ(ungated.threadStatusReads(), 4u);
}

namespace {

// A child process with threads of three kinds, which work only between `round` and the answer
// to it, and then all sleep: a busy thread that spins on the CPU, threads that wake 20 times, and
// idle threads that never wake.
class ThreadTree {
public:
    static constexpr int kWaking = 3, kIdle = 12, kWakes = 20;

    ThreadTree() {
        int down[2], up[2];
        if (::pipe(down) != 0 || ::pipe(up) != 0) return;
        _pid = ::fork();
        if (_pid == 0) {
            ::close(down[1]);
            ::close(up[0]);
            child(down[0], up[1]);
        }
        ::close(down[0]);
        ::close(up[1]);
        _to = down[1];
        _from = up[0];
    }
    ~ThreadTree() {
        if (_pid > 0) {
            ::kill(_pid, SIGKILL);
            ::waitpid(_pid, nullptr, 0);
        }
        ::close(_to);
        ::close(_from);
    }
    pid_t pid() const { return _pid; }

    // One round of work; returns when every thread sleeps again.
    bool round() {
        char c = 'r';
        if (::write(_to, &c, 1) != 1 || ::read(_from, &c, 1) != 1) return false;
        // The last thread to finish may still be on its way into its wait: settled when no
        // thread is running and the voluntary counts stay put.
        for (int tries = 0; tries < 100; ++tries) {
            const std::string first = counts();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (first == counts() && first.find("R ") == std::string::npos) return true;
        }
        return false;
    }

private:
    // Every thread's state and voluntary count, in one string.
    std::string counts() const {
        std::string all;
        const std::string dir = "/proc/" + std::to_string(_pid) + "/task";
        DIR* d = ::opendir(dir.c_str());
        if (!d) return all;
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream in(dir + "/" + e->d_name + "/status");
            std::string line;
            while (std::getline(in, line))
                if (line.starts_with("State:") || line.starts_with("voluntary_ctxt_switches:"))
                    all += line.substr(line.find(':') + 1) + " ";
        }
        ::closedir(d);
        return all;
    }

    [[noreturn]] static void child(int in, int out) {
        std::mutex m;
        std::condition_variable cv;
        int round = 0, working = 0;
        auto worker = [&](auto work) {
            return std::thread([&, work] {
                int seen = 0;
                for (;;) {
                    {
                        std::unique_lock lock(m);
                        cv.wait(lock, [&] { return round != seen; });
                        seen = round;
                    }
                    work();
                    std::lock_guard lock(m);
                    if (--working == 0) cv.notify_all();
                }
            });
        };
        std::vector<std::thread> threads;
        threads.push_back(worker([] {
            // 50 ms of CPU time, however busy the machine is.
            timespec start{}, now{};
            ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
            volatile uint64_t spin = 0;
            do {
                for (int i = 0; i < 10000; ++i)
                    spin = spin + 1;
                ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
            } while ((now.tv_sec - start.tv_sec) * 1e3 + (now.tv_nsec - start.tv_nsec) / 1e6 < 50);
        }));
        for (int i = 0; i < kWaking; ++i)
            threads.push_back(worker([] {
                for (int w = 0; w < kWakes; ++w)
                    std::this_thread::sleep_for(std::chrono::microseconds(500));
            }));
        std::mutex never;
        std::condition_variable idle;
        for (int i = 0; i < kIdle; ++i)
            threads.emplace_back([&] {
                std::unique_lock lock(never);
                idle.wait(lock, [] { return false; });
            });
        char c = 0;
        while (::read(in, &c, 1) == 1) {
            {
                std::unique_lock lock(m);
                ++round;
                working = 1 + kWaking;
                cv.notify_all();
                cv.wait(lock, [&] { return working == 0; });
            }
            if (::write(out, &c, 1) != 1) break;
        }
        ::_exit(0);
    }

    pid_t _pid = -1;
    int _to = -1, _from = -1;
};

// The real /proc, read at the moments the test chooses.
class ClockedSource final : public TLProcessSource {
public:
    ClockedSource(const double& clock, bool gate) : _clock(clock) { _inner.setThreadGate(gate); }
    bool listPids(std::vector<int32_t>& out) override { return _inner.listPids(out); }
    TLInspectResult inspect(int32_t pid, TLProcCounters& out) override {
        return _inner.inspect(pid, out);
    }
    bool executablePath(int32_t pid, std::string& out) override {
        return _inner.executablePath(pid, out);
    }
    bool shortName(int32_t pid, std::string& out) override { return _inner.shortName(pid, out); }
    double now() override { return _clock; }
    const TLProcfsProcessSource& inner() const { return _inner; }

private:
    const double& _clock;
    TLProcfsProcessSource _inner;
};

const TLProc* findPid(const std::vector<TLProc>& list, int32_t pid) {
    for (const TLProc& p : list)
        if (p.pid == pid) return &p;
    return nullptr;
}

} // namespace

// Against the real system: the energy figures of a live tree of busy, waking and idle threads
// are the same whether every thread's status is read or only those whose schedstat changed, and
// the idle threads' are not read again.
TEST(ProcfsThreadGateLive, EnergyIsTheSameAsWhenEveryStatusIsRead) {
    ThreadTree tree;
    ASSERT_GT(tree.pid(), 0);
    double clock = 100;
    auto* gatedSource = new ClockedSource(clock, true);
    auto* everySource = new ClockedSource(clock, false);
    TLMetrics gated(nullptr, std::unique_ptr<TLProcessSource>(gatedSource),
                    TLPosixPsRunner::standard());
    TLMetrics every(nullptr, std::unique_ptr<TLProcessSource>(everySource),
                    TLPosixPsRunner::standard());

    uint64_t gatedReads = 0, everyReads = 0;
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(tree.round()) << "the tree did not settle";
        clock += 2;
        const uint64_t gatedBefore = gatedSource->inner().threadStatusReads();
        const uint64_t everyBefore = everySource->inner().threadStatusReads();
        const std::vector<TLProc> a = gated.sampleProcesses();
        const std::vector<TLProc> b = every.sampleProcesses();
        const TLProc* x = findPid(a, tree.pid());
        const TLProc* y = findPid(b, tree.pid());
        ASSERT_NE(x, nullptr);
        ASSERT_NE(y, nullptr);
        EXPECT_EQ(x->energy, y->energy) << "round " << round;
        EXPECT_EQ(x->cpu, y->cpu) << "round " << round;
        if (round > 0) {
            // 3 threads waking 20 times in 2 s: at least 30 wakeups a second, and the spinning
            // thread's 50 ms of CPU time (2.5 %, counted in clock ticks) on top.
            EXPECT_GE(x->energy,
                      TLWakeupEnergyWeight * ThreadTree::kWaking * ThreadTree::kWakes / 2.0);
            EXPECT_GT(x->cpu, 1.0);
            gatedReads += gatedSource->inner().threadStatusReads() - gatedBefore;
            everyReads += everySource->inner().threadStatusReads() - everyBefore;
        }
    }
    // The tree's idle threads alone spare 12 reads a round.
    EXPECT_LE(gatedReads + 4 * ThreadTree::kIdle, everyReads);
}

// Against the real system: the kept files of threads stay out of the descriptors below 1024,
// which code built on select() needs, wherever the limit leaves room above them.
TEST(ProcfsThreadGateLive, KeptFilesStayAboveTheSelectRange) {
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit raised = saved;
    raised.rlim_cur =
        raised.rlim_max == RLIM_INFINITY || raised.rlim_max > 8192 ? 8192 : raised.rlim_max;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &raised), 0);
    TLProcfsProcessSource source;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);

    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i)
        threads.emplace_back([&] {
            std::unique_lock lock(m);
            cv.wait(lock, [&] { return done; });
        });
    TLProcCounters c;
    const TLInspectResult r = source.inspect(::getpid(), c);
    // Our own descriptors that are threads' schedstat files.
    std::vector<int> kept;
    DIR* d = ::opendir("/proc/self/fd");
    ASSERT_NE(d, nullptr);
    while (const dirent* e = ::readdir(d)) {
        char target[256] = {};
        const std::string link = std::string("/proc/self/fd/") + e->d_name;
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string_view(target).ends_with("/schedstat"))
            kept.push_back(std::atoi(e->d_name));
    }
    ::closedir(d);
    {
        std::lock_guard lock(m);
        done = true;
    }
    cv.notify_all();
    for (std::thread& t : threads)
        t.join();
    ASSERT_EQ(r, TLInspectResult::Exact);
    ASSERT_GE(kept.size(), 3u);
    if (raised.rlim_cur <= 4096) { // no room above: the small budget of old
        EXPECT_LE(source.heldFileCount(), 256u);
        return;
    }
    for (int fd : kept)
        EXPECT_GE(fd, 1024) << "a kept file at descriptor " << fd;
}

// Against the real system: a thread that ends is dropped from the kept list without listing the
// threads again, and a thread that starts makes them listed again.
TEST(ProcfsThreadGateLive, EndedThreadsAreDroppedAndNewOnesListed) {
    auto threadsNow = [] {
        size_t n = 0;
        DIR* d = ::opendir("/proc/self/task");
        while (const dirent* e = d ? ::readdir(d) : nullptr)
            n += e->d_name[0] != '.';
        if (d) ::closedir(d);
        return n;
    };
    std::mutex m;
    std::condition_variable cv;
    int release = 0; // how many of the threads may end
    int running = 0; // how many have run: a thread not yet run has no run time to compare
    std::vector<std::thread> threads;
    auto start = [&](int index) {
        threads.emplace_back([&, index] {
            std::unique_lock lock(m);
            ++running;
            cv.notify_all();
            cv.wait(lock, [&] { return release > index; });
        });
    };
    for (int i = 0; i < 4; ++i)
        start(i);
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return running == 4; });
    }
    const size_t before = threadsNow();
    TLProcfsProcessSource gated;
    TLProcCounters a;
    ASSERT_EQ(gated.inspect(::getpid(), a), TLInspectResult::Exact);
    const uint64_t listings = gated.threadListings();
    const size_t kept = gated.heldFileCount();

    // One ends, and is gone from /proc before the next sample.
    {
        std::lock_guard lock(m);
        release = 1;
    }
    cv.notify_all();
    threads[0].join();
    for (int i = 0; i < 200 && threadsNow() != before - 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(threadsNow(), before - 1);
    ASSERT_EQ(gated.inspect(::getpid(), a), TLInspectResult::Exact);
    EXPECT_EQ(gated.threadListings(), listings);
    EXPECT_EQ(gated.heldFileCount(), kept - 1);

    // A new one: listed again.
    start(10);
    ASSERT_EQ(gated.inspect(::getpid(), a), TLInspectResult::Exact);
    EXPECT_EQ(gated.threadListings(), listings + 1);
    {
        std::lock_guard lock(m);
        release = 100;
    }
    cv.notify_all();
    for (std::thread& t : threads)
        if (t.joinable()) t.join();
}
