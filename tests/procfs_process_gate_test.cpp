// A process's stat and status are read again only after its schedstat, or one of its threads',
// changed, and at least every fifth sample; the figures come out the same as when both are read
// at every sample.
#include "os/linux/TLProcfsProcessSource.h"

#include <gtest/gtest.h>

#include "fake_proc_root.h"

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string stat(int pid, int ticks, int start = 50) {
    return std::to_string(pid) + " (p) S 1 1 1 0 -1 4194560 1 0 0 0 " + std::to_string(ticks) +
           " 0 0 0 20 0 1 0 " + std::to_string(start) + " 1000 10";
}

std::string status(int threads, int voluntary, int anonKib = 1000) {
    return "Name:\tp\nState:\tS (sleeping)\nRssAnon:\t" + std::to_string(anonKib) +
           " kB\nRssShmem:\t0 kB\nVmSwap:\t0 kB\nThreads:\t" + std::to_string(threads) +
           "\nvoluntary_ctxt_switches:\t" + std::to_string(voluntary) +
           "\nnonvoluntary_ctxt_switches:\t5\n";
}

// One sample: the listing, then every listed pid; the figures by pid.
std::map<int32_t, TLProcCounters> sample(TLProcfsProcessSource& source) {
    std::vector<int32_t> pids;
    std::map<int32_t, TLProcCounters> out;
    EXPECT_TRUE(source.listPids(pids));
    for (int32_t pid : pids) {
        TLProcCounters c;
        if (source.inspect(pid, c) == TLInspectResult::Exact) out[pid] = c;
    }
    return out;
}

// How many of our descriptors lead into `dir`.
size_t descriptorsUnder(const std::filesystem::path& dir) {
    size_t n = 0;
    const std::string prefix = dir.string() + "/";
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::filesystem::path target = std::filesystem::read_symlink(e.path(), ec);
        if (!ec && target.string().starts_with(prefix)) ++n;
    }
    return n;
}

} // namespace

TEST(ProcStatusParsing, TellsWhetherTheMemoryLinesAreThere) {
    uint64_t footprint = 0, wakeups = 0, threads = 0;
    bool memory = false;
    ASSERT_TRUE(TLParseProcStatus(status(2, 3), footprint, wakeups, threads, memory));
    EXPECT_TRUE(memory);
    ASSERT_TRUE(TLParseProcStatus("Name:\tz\nState:\tZ (zombie)\nvoluntary_ctxt_switches:\t3\n",
                                  footprint, wakeups, threads, memory));
    EXPECT_FALSE(memory);
}

// A fake /proc, where texts can say what the kernel never would: stat and status that change
// while the schedstat stays the same show whether they were read.
TEST(ProcfsProcessGate, OneThreadIsReadAgainOnlyAfterItRanOrEveryFifthSample) {
    const FakeProcRoot fake("gate-one");
    const std::filesystem::path& root = fake.path;
    writeFile(root / "100/stat", stat(100, 10));
    writeFile(root / "100/status", status(1, 7));
    writeFile(root / "100/schedstat", "5000 10 3\n");
    TLProcfsProcessSource source(root.string());

    // Read in full twice: the first reading tells a process from a kernel thread, the second
    // is the one later ones are gated on.
    auto seen = sample(source);
    seen = sample(source);
    EXPECT_EQ(source.processReads(), 2u);
    EXPECT_EQ(seen[100].idleWakeups, 7u);

    // Stat and status now say otherwise, the schedstat not: the last figures stand, until the
    // turn of this pid comes, within five samples, and once only.
    writeFile(root / "100/stat", stat(100, 20));
    writeFile(root / "100/status", status(1, 8, 2000));
    bool changed = false;
    for (int s = 0; s < 5; ++s) {
        seen = sample(source);
        if (seen[100].idleWakeups == 8u) {
            changed = true;
            EXPECT_EQ(seen[100].footprint, 2000u * 1024);
            EXPECT_EQ(seen[100].cpuTimeNs, 20 * 1'000'000'000ULL / ::sysconf(_SC_CLK_TCK));
        } else {
            EXPECT_FALSE(changed) << "the old figures came back at sample " << s;
            EXPECT_EQ(seen[100].idleWakeups, 7u) << "sample " << s;
            EXPECT_EQ(seen[100].footprint, 1000u * 1024);
        }
    }
    EXPECT_TRUE(changed) << "not read in full in five samples";
    EXPECT_EQ(source.processReads(), 3u);

    // Any of the three schedstat figures changes: read at once.
    const char* ran[] = {"5001 10 3\n", "5001 11 3\n", "5001 11 4\n"};
    for (int i = 0; i < 3; ++i) {
        writeFile(root / "100/status", status(1, 20 + i));
        writeFile(root / "100/schedstat", ran[i]);
        seen = sample(source);
        EXPECT_EQ(seen[100].idleWakeups, 20u + i) << ran[i];
    }

    // With the gate off, stat and status are read at every sample.
    TLProcfsProcessSource ungated(root.string());
    ungated.setProcessGate(false);
    for (int s = 0; s < 6; ++s)
        sample(ungated);
    EXPECT_EQ(ungated.processReads(), 6u);
}

// Every sample reads a fifth of the unchanged processes in full, not all of them in one sample.
TEST(ProcfsProcessGate, FullReadingsAreSpreadOverTheSamples) {
    const FakeProcRoot fake("gate-spread");
    const std::filesystem::path& root = fake.path;
    for (int pid = 200; pid < 220; ++pid) {
        const std::filesystem::path dir = root / std::to_string(pid);
        writeFile(dir / "stat", stat(pid, 1));
        writeFile(dir / "status", status(1, 1));
        writeFile(dir / "schedstat", "100 1 1\n");
    }
    TLProcfsProcessSource source(root.string());
    sample(source);
    sample(source);
    ASSERT_EQ(source.processReads(), 40u);
    for (int s = 0; s < 10; ++s) {
        const uint64_t before = source.processReads();
        EXPECT_EQ(sample(source).size(), 20u);
        EXPECT_EQ(source.processReads() - before, 4u) << "sample " << s;
    }
}

// No gate where the schedstat cannot vouch for the process: all zeros, a zombie, a new process
// under the pid, a process with no schedstat file.
TEST(ProcfsProcessGate, ReadInFullWhereTheSchedstatCannotTell) {
    const FakeProcRoot fake("gate-nogate");
    const std::filesystem::path& root = fake.path;
    // A kernel without scheduler statistics: zeros, although the process has switched.
    writeFile(root / "300/stat", stat(300, 1));
    writeFile(root / "300/status", status(1, 4));
    writeFile(root / "300/schedstat", "0 0 0\n");
    // A zombie: no memory lines, whatever its schedstat.
    writeFile(root / "301/stat", stat(301, 1));
    writeFile(root / "301/status", "Name:\tz\nState:\tZ (zombie)\nvoluntary_ctxt_switches:\t3\n");
    writeFile(root / "301/schedstat", "100 1 1\n");
    // Not run yet: zeros, and no switch either; gated once it has run.
    writeFile(root / "302/stat", stat(302, 0));
    writeFile(root / "302/status", status(1, 0));
    writeFile(root / "302/schedstat", "0 0 0\n");
    // No schedstat at all.
    writeFile(root / "303/stat", stat(303, 1));
    writeFile(root / "303/status", status(1, 9));
    // A process that will give its pid to another.
    writeFile(root / "304/stat", stat(304, 1, 60));
    writeFile(root / "304/status", status(1, 2));
    writeFile(root / "304/schedstat", "100 1 1\n");
    TLProcfsProcessSource source(root.string());
    sample(source);
    sample(source);

    for (int s = 0; s < 4; ++s) {
        writeFile(root / "300/status", status(1, 10 + s));
        writeFile(root / "301/status", "Name:\tz\nState:\tZ (zombie)\nvoluntary_ctxt_switches:\t" +
                                           std::to_string(10 + s) + "\n");
        writeFile(root / "303/status", status(1, 10 + s));
        auto seen = sample(source);
        for (int32_t pid : {300, 301, 303})
            EXPECT_EQ(seen[pid].idleWakeups, 10u + s) << "pid " << pid << ", sample " << s;
    }

    // The one not run yet has run: gated on what it reads now, after one full reading.
    writeFile(root / "302/schedstat", "100 1 1\n");
    writeFile(root / "302/status", status(1, 1));
    sample(source);
    // Over five samples: 300, 301 and 303 every time, 302 and 304 once each.
    const uint64_t reads = source.processReads();
    for (int s = 0; s < 5; ++s)
        EXPECT_EQ(sample(source)[302].idleWakeups, 1u);
    EXPECT_EQ(source.processReads() - reads, 5u * 3 + 2);

    // A new process under pid 304, with a new entry and the very schedstat of the old one:
    // read as the new process it is (made before the old one goes, so that it gets an entry
    // of its own).
    std::filesystem::rename(root / "304", root / "old304");
    writeFile(root / "304/stat", stat(304, 1, 999));
    writeFile(root / "304/status", status(1, 77));
    writeFile(root / "304/schedstat", "100 1 1\n");
    auto seen = sample(source);
    std::filesystem::remove_all(root / "old304");
    EXPECT_EQ(seen[304].startTime, 999u);
    EXPECT_EQ(seen[304].idleWakeups, 77u);

    // A process that ended is gone, kept files and all.
    std::filesystem::remove_all(root / "300");
    seen = sample(source);
    EXPECT_FALSE(seen.contains(300));
    EXPECT_EQ(descriptorsUnder(root), source.heldFileCount());
}

// A process of several threads: gated while its main thread and every thread read as before the
// last full reading, and read when any of them changed.
TEST(ProcfsProcessGate, ThreadsOfTheProcessVouchForIt) {
    const FakeProcRoot fake("gate-threads");
    const std::filesystem::path& root = fake.path;
    writeFile(root / "400/stat", stat(400, 10));
    writeFile(root / "400/status", status(3, 1));
    writeFile(root / "400/schedstat", "1000 1 1\n");
    writeFile(root / "400/task/400/schedstat", "1000 1 1\n");
    writeFile(root / "400/task/400/status", status(3, 1));
    writeFile(root / "400/task/401/schedstat", "2000 2 2\n");
    writeFile(root / "400/task/401/status", status(3, 10));
    writeFile(root / "400/task/402/schedstat", "3000 3 3\n");
    writeFile(root / "400/task/402/status", status(3, 100));
    TLProcfsProcessSource source(root.string());
    // Pid 400 gets its turn of a full reading in one sample of five: a run of samples long
    // enough to hold four gated ones in a row is looked for.
    auto gatedRun = [&](int samples) {
        int run = 0, best = 0;
        for (int s = 0; s < samples; ++s) {
            const uint64_t before = source.processReads();
            const uint64_t threadReads = source.threadStatusReads();
            EXPECT_EQ(sample(source)[400].idleWakeups, 111u);
            const bool gated = source.processReads() == before;
            if (gated) {
                EXPECT_EQ(source.threadStatusReads(), threadReads);
            }
            run = gated ? run + 1 : 0;
            best = std::max(best, run);
        }
        return best;
    };
    sample(source);
    sample(source);
    EXPECT_EQ(gatedRun(10), 4);

    // The main thread or another thread ran: read at once (twice in a row, which cannot both be
    // the pid's turn).
    int ticks = 10;
    for (const char* file : {"400/schedstat", "400/task/402/schedstat"})
        for (int again = 0; again < 2; ++again) {
            writeFile(root / "400/stat", stat(400, ++ticks));
            writeFile(root / file, std::to_string(9000 + ticks) + " 9 9\n");
            const uint64_t before = source.processReads();
            const auto seen = sample(source);
            EXPECT_EQ(source.processReads(), before + 1) << file;
            EXPECT_EQ(seen.at(400).cpuTimeNs, ticks * 1'000'000'000ULL / ::sysconf(_SC_CLK_TCK))
                << file;
        }
    // A status that counts a thread more than can be found (one made after the threads were
    // listed): not gated on threads that are not all of them.
    writeFile(root / "400/status", status(4, 1));
    writeFile(root / "400/schedstat", "20000 20 20\n");
    sample(source);
    uint64_t before = source.processReads();
    for (int s = 0; s < 3; ++s)
        sample(source);
    EXPECT_EQ(source.processReads(), before + 3);
    writeFile(root / "400/status", status(3, 1));
    writeFile(root / "400/schedstat", "30000 30 30\n");
    sample(source);
    // A thread whose schedstat reads zeros keeps the process read every time.
    writeFile(root / "400/task/401/schedstat", "0 0 0\n");
    before = source.processReads();
    for (int s = 0; s < 3; ++s)
        sample(source);
    EXPECT_EQ(source.processReads(), before + 3);
}

// Under a small budget of kept files, the schedstat files count against it like the others, no
// more are kept than it allows, and gated processes give back their stat and status files.
TEST(ProcfsProcessGate, KeptSchedstatFilesStayWithinTheBudget) {
    const FakeProcRoot fake("gate-budget");
    const std::filesystem::path& root = fake.path;
    for (int pid = 500; pid < 530; ++pid) {
        const std::filesystem::path dir = root / std::to_string(pid);
        writeFile(dir / "stat", stat(pid, pid));
        writeFile(dir / "status", status(1, pid));
        writeFile(dir / "schedstat", "100 1 1\n");
    }
    // A descriptor limit of 200 leaves a budget of 50 files: not three for every process.
    const auto made = sourceUnderLimit<TLProcfsProcessSource>(root.string(), 200);
    ASSERT_NE(made, nullptr);
    TLProcfsProcessSource& source = *made;

    std::vector<uint64_t> reads;
    for (int s = 0; s < 20; ++s) {
        const uint64_t before = source.processReads();
        const auto seen = sample(source);
        reads.push_back(source.processReads() - before);
        ASSERT_EQ(seen.size(), 30u);
        for (const auto& [pid, c] : seen)
            EXPECT_EQ(c.idleWakeups, static_cast<uint64_t>(pid));
        EXPECT_LE(source.heldFileCount(), 50u);
        EXPECT_EQ(descriptorsUnder(root), source.heldFileCount()) << "sample " << s;
    }
    // At the end every process keeps its schedstat file and little else: a fifth of them is
    // read in full at each sample.
    for (int s = 15; s < 20; ++s)
        EXPECT_EQ(reads[s], 6u) << "sample " << s;

    for (int pid = 500; pid < 530; ++pid)
        std::filesystem::remove_all(root / std::to_string(pid));
    sample(source);
    EXPECT_EQ(source.heldFileCount(), 0u);
    EXPECT_EQ(descriptorsUnder(root), 0u);
}

namespace {

// Child processes of several kinds, started together and stopped or let run together: one that
// spins on the CPU, one that wakes every millisecond, one that never wakes, one whose three
// threads wake every millisecond, one whose threads never wake, and one that makes and ends a
// thread every few milliseconds. Each holds some memory of its own.
class ProcessTree {
public:
    ProcessTree() {
        for (int kind = 0; kind < kKinds; ++kind) {
            const pid_t pid = ::fork();
            if (pid == 0) child(kind);
            if (pid > 0) _pids.push_back(pid);
        }
    }
    ~ProcessTree() {
        for (pid_t pid : _pids)
            ::kill(pid, SIGKILL);
        for (pid_t pid : _pids)
            ::waitpid(pid, nullptr, 0);
    }
    const std::vector<pid_t>& pids() const { return _pids; }
    bool complete() const { return _pids.size() == static_cast<size_t>(kKinds); }

    // Stops every child, and returns when every thread of each is stopped.
    bool stop() {
        for (pid_t pid : _pids)
            ::kill(pid, SIGSTOP);
        for (int tries = 0; tries < 500; ++tries) {
            if (allStopped()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
    void resume() {
        for (pid_t pid : _pids)
            ::kill(pid, SIGCONT);
    }

private:
    static constexpr int kKinds = 6;

    bool allStopped() const {
        for (pid_t pid : _pids) {
            const std::string dir = "/proc/" + std::to_string(pid) + "/task";
            DIR* d = ::opendir(dir.c_str());
            if (!d) return false;
            bool stopped = true;
            while (const dirent* e = ::readdir(d)) {
                if (e->d_name[0] == '.') continue;
                std::ifstream in(dir + "/" + e->d_name + "/stat");
                std::string text((std::istreambuf_iterator<char>(in)), {});
                const size_t close = text.rfind(')');
                if (close == std::string::npos || close + 2 >= text.size() ||
                    (text[close + 2] != 'T' && text[close + 2] != 't'))
                    stopped = false;
            }
            ::closedir(d);
            if (!stopped) return false;
        }
        return true;
    }

    [[noreturn]] static void child(int kind) {
        static std::vector<char> held;
        held.assign(static_cast<size_t>(kind + 1) << 20, static_cast<char>(kind + 1));
        auto wake = [] {
            for (;;)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        std::vector<std::thread> threads;
        switch (kind) {
        case 0:
            for (volatile uint64_t spin = 0;;)
                spin = spin + 1;
        case 1:
            wake();
        case 2:
            break;
        case 3:
            for (int i = 0; i < 3; ++i)
                threads.emplace_back(wake);
            break;
        case 4:
            for (int i = 0; i < 3; ++i)
                threads.emplace_back([] {
                    for (;;)
                        ::pause();
                });
            break;
        default:
            for (;;) {
                std::thread([] { held[0] = 1; }).join();
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
            }
        }
        for (;;)
            ::pause();
    }

    std::vector<pid_t> _pids;
};

} // namespace

// Against the real system: while the tree runs between samples and is stopped for them, the
// gated source and one that reads everything give the same figures for every child, and once
// nothing runs, each child is read in full once in five samples.
TEST(ProcfsProcessGateLive, FiguresAreTheSameAsWhenEverythingIsRead) {
    ProcessTree tree;
    ASSERT_TRUE(tree.complete());
    TLProcfsProcessSource gated;
    TLProcfsProcessSource every;
    every.setProcessGate(false);
    auto compare = [&](const char* when) {
        std::vector<int32_t> pids;
        EXPECT_TRUE(gated.listPids(pids));
        EXPECT_TRUE(every.listPids(pids));
        std::vector<TLProcCounters> out;
        for (pid_t pid : tree.pids()) {
            TLProcCounters a, b;
            EXPECT_EQ(gated.inspect(pid, a), TLInspectResult::Exact) << when;
            EXPECT_EQ(every.inspect(pid, b), TLInspectResult::Exact) << when;
            EXPECT_EQ(a.cpuTimeNs, b.cpuTimeNs) << when << ", pid " << pid;
            EXPECT_EQ(a.idleWakeups, b.idleWakeups) << when << ", pid " << pid;
            EXPECT_EQ(a.footprint, b.footprint) << when << ", pid " << pid;
            EXPECT_EQ(a.startTime, b.startTime) << when << ", pid " << pid;
            out.push_back(a);
        }
        return out;
    };

    std::vector<TLProcCounters> last;
    for (int round = 0; round < 6; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        ASSERT_TRUE(tree.stop()) << "the tree did not stop";
        // Twice while stopped: the second sample finds nothing run since the first.
        compare("first while stopped");
        const std::vector<TLProcCounters> now = compare("second while stopped");
        if (!last.empty()) {
            // What ran in between shows: the spinning child's CPU time, the waking ones' and the
            // thread maker's wakeups.
            EXPECT_GT(now[0].cpuTimeNs, last[0].cpuTimeNs) << "round " << round;
            for (size_t waking : {1, 3, 5})
                EXPECT_GT(now[waking].idleWakeups, last[waking].idleWakeups)
                    << "child " << waking << ", round " << round;
        }
        last = now;
        tree.resume();
    }

    // Stopped for good: after the samples that see the stop (two where a thread was listed for
    // the first time, whose schedstat then was not read before the process's stat and status),
    // each child is read in full once in the next five samples, and never otherwise.
    ASSERT_TRUE(tree.stop());
    compare("after the stop");
    compare("after the stop");
    std::map<pid_t, uint64_t> reads;
    for (int s = 0; s < 5; ++s) {
        std::vector<int32_t> pids;
        ASSERT_TRUE(gated.listPids(pids));
        for (pid_t pid : tree.pids()) {
            const uint64_t before = gated.processReads();
            TLProcCounters c;
            EXPECT_EQ(gated.inspect(pid, c), TLInspectResult::Exact);
            reads[pid] += gated.processReads() - before;
        }
    }
    for (pid_t pid : tree.pids())
        EXPECT_EQ(reads[pid], 1u) << "pid " << pid;
}
