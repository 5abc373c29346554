#include "os/linux/TLProcfsProcessSource.h"
#include "os/posix/TLPosixPsRunner.h"
#include "sampling/TLMetrics.h"

#include <gtest/gtest.h>

#include "fake_proc_root.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

TEST(ProcStatParsing, FieldsAfterTheLastParenthesis) {
    uint64_t ticks = 0;
    bool kthread = true;
    // A command name holding spaces and parentheses.
    const char* stat = "4242 (my (odd) name) S 1 4242 4242 0 -1 4194560 1 0 0 0 150 50 0 0 "
                       "20 0 1 0 12345 1000 10 18446744073709551615";
    uint64_t start = 0;
    ASSERT_TRUE(TLParseProcStat(stat, ticks, kthread, start));
    EXPECT_EQ(start, 12345u);
    EXPECT_EQ(ticks, 200u);
    EXPECT_FALSE(kthread);
    ASSERT_TRUE(
        TLParseProcStat("2 (kthreadd) S 0 0 0 0 -1 2129984 0 0 0 0 3 4 0 0", ticks, kthread));
    EXPECT_TRUE(kthread);
    EXPECT_EQ(ticks, 7u);
    EXPECT_FALSE(TLParseProcStat("", ticks, kthread));
    EXPECT_FALSE(TLParseProcStat("1 (x) S 1 2 3", ticks, kthread)); // cut short
    EXPECT_FALSE(TLParseProcStat("1 (x S 1 2 3 4 5 6 7 8 9 10 11 12 13", ticks, kthread));
}

TEST(ProcStatusParsing, FootprintIsAnonShmemAndSwap) {
    uint64_t footprint = 0, wakeups = 0;
    ASSERT_TRUE(TLParseProcStatus("Name:\tx\nVmRSS:\t  9000 kB\nRssAnon:\t  1000 kB\n"
                                  "RssFile:\t  7000 kB\nRssShmem:\t   200 kB\nVmSwap:\t    30 kB\n"
                                  "voluntary_ctxt_switches:\t77\n"
                                  "nonvoluntary_ctxt_switches:\t5\n",
                                  footprint, wakeups));
    EXPECT_EQ(footprint, 1230u * 1024);
    EXPECT_EQ(wakeups, 77u);
    // A zombie has no memory lines: 0 bytes, still a process.
    ASSERT_TRUE(TLParseProcStatus("Name:\tz\nState:\tZ (zombie)\nvoluntary_ctxt_switches:\t3\n",
                                  footprint, wakeups));
    EXPECT_EQ(footprint, 0u);
    EXPECT_FALSE(TLParseProcStatus("Name:\tx\n", footprint, wakeups));
}

namespace {

std::string statusText(const std::string& groups, int threads, int voluntary) {
    return "Name:\tworker\nUmask:\t0022\nState:\tS (sleeping)\nTgid:\t123\nPid:\t123\n"
           "Groups:\t" +
           groups +
           "\nVmRSS:\t  9000 kB\nRssAnon:\t  1000 kB\nRssFile:\t  7000 kB\n"
           "RssShmem:\t   200 kB\nVmSwap:\t    30 kB\nThreads:\t" +
           std::to_string(threads) + "\nvoluntary_ctxt_switches:\t" + std::to_string(voluntary) +
           "\nnonvoluntary_ctxt_switches:\t5\n";
}

} // namespace

// A fake /proc: a process of a user in 400 directory groups (a status file of over 4 KB) with three
// threads, each waking on its own.
TEST(ProcfsProcessSourceTree, LongStatusFilesAndEveryThreadsWakeups) {
    const FakeProcRoot fake("proc");
    const std::filesystem::path& root = fake.path;
    std::string groups;
    for (int g = 0; g < 400; ++g)
        groups += std::to_string(1500000000 + g) + " ";
    const std::string main = statusText(groups, 3, 100);
    ASSERT_GT(main.size(), 4096u);
    writeFile(root / "123/stat", "123 (worker) S 1 123 123 0 -1 4194560 1 0 0 0 150 50 0 0 20 0 "
                                 "3 0 777 1000 10");
    writeFile(root / "123/status", main);
    writeFile(root / "123/task/123/status", main);
    writeFile(root / "123/task/124/status", statusText(groups, 3, 2000));
    writeFile(root / "123/task/125/status", statusText(groups, 3, 30000));
    // A one-thread process: its task directory is not consulted.
    writeFile(root / "200/stat", "200 (solo) S 1 200 200 0 -1 4194560 1 0 0 0 1 1 0 0 20 0 1 0 "
                                 "9 1000 10");
    writeFile(root / "200/status", statusText("", 1, 40));
    writeFile(root / "200/task/200/status", statusText("", 1, 40));
    writeFile(root / "200/task/999/status", statusText("", 1, 123456)); // would be wrong to add

    TLProcfsProcessSource source(root.string());
    TLProcCounters c;
    ASSERT_EQ(source.inspect(123, c), TLInspectResult::Exact);
    EXPECT_EQ(c.footprint, 1230u * 1024);
    EXPECT_EQ(c.idleWakeups, 100u + 2000u + 30000u);
    EXPECT_EQ(c.startTime, 777u);
    ASSERT_EQ(source.inspect(200, c), TLInspectResult::Exact);
    EXPECT_EQ(c.idleWakeups, 40u);

    // A pid listed a moment ago that has ended: gone, not a case for ps.
    EXPECT_EQ(source.inspect(4242, c), TLInspectResult::Skipped);

    // The same reads again (the buffer has grown and stays): the same figures.
    ASSERT_EQ(source.inspect(123, c), TLInspectResult::Exact);
    EXPECT_EQ(c.idleWakeups, 32100u);
}

// A kernel thread is read once; a process that later has its pid under a new /proc entry is
// read again, whatever the old entry said.
TEST(ProcfsProcessSourceTree, KernelThreadsAreReadOnceWhileTheirEntryLasts) {
    const FakeProcRoot fake("kproc");
    const std::filesystem::path& root = fake.path;
    const std::string kthreadStat = "7 (kworker/0:1) I 2 0 0 0 -1 69238880 0 0 0 0 3 4 0 0 20 0 "
                                    "1 0 5 0 0";
    const std::string userStat = "7 (editor) S 1 7 7 0 -1 4194560 1 0 0 0 150 50 0 0 20 0 1 0 "
                                 "900 1000 10";
    writeFile(root / "7/stat", kthreadStat);
    TLProcfsProcessSource source(root.string());
    std::vector<int32_t> pids;
    TLProcCounters c;
    ASSERT_TRUE(source.listPids(pids));
    ASSERT_EQ(source.inspect(7, c), TLInspectResult::Skipped);

    // The same entry: not read again (its text would now say otherwise).
    writeFile(root / "7/stat", userStat);
    writeFile(root / "7/status", statusText("", 1, 5));
    pids.clear();
    ASSERT_TRUE(source.listPids(pids));
    EXPECT_EQ(source.inspect(7, c), TLInspectResult::Skipped);

    // A new entry for the pid (made before the old one goes, so that it cannot get its inode
    // number back): read, and a process.
    std::filesystem::rename(root / "7", root / "old7");
    writeFile(root / "7/stat", userStat);
    writeFile(root / "7/status", statusText("", 1, 5));
    pids.clear();
    ASSERT_TRUE(source.listPids(pids));
    std::filesystem::remove_all(root / "old7");
    ASSERT_EQ(source.inspect(7, c), TLInspectResult::Exact);
    EXPECT_EQ(c.startTime, 900u);
}

// The files read on every sample stay open between samples: what they say now is read through
// them, they are let go with their process, their thread or their /proc entry, and no more are
// kept than the budget allows, the rest being read by name as before.
TEST(ProcfsProcessSourceTree, KeptFilesAreReadAfreshAndLetGo) {
    const FakeProcRoot fake("held");
    const std::filesystem::path& root = fake.path;
    auto stat = [](int pid, int start) {
        return std::to_string(pid) + " (p) S 1 1 1 0 -1 4194560 1 0 0 0 150 50 0 0 20 0 1 0 " +
               std::to_string(start) + " 1000 10";
    };
    // 60 one-thread processes and one with three threads.
    for (int pid = 100; pid < 160; ++pid) {
        writeFile(root / std::to_string(pid) / "stat", stat(pid, pid));
        writeFile(root / std::to_string(pid) / "status", statusText("", 1, pid));
    }
    writeFile(root / "300/stat", stat(300, 3));
    writeFile(root / "300/status", statusText("", 3, 1));
    writeFile(root / "300/task/300/status", statusText("", 3, 1));
    writeFile(root / "300/task/301/status", statusText("", 3, 10));
    writeFile(root / "300/task/302/status", statusText("", 3, 100));

    // A descriptor limit of 200 leaves a budget of 50 files.
    const auto made = sourceUnderLimit<TLProcfsProcessSource>(root.string(), 200);
    ASSERT_NE(made, nullptr);
    TLProcfsProcessSource& source = *made;

    auto sample = [&](std::map<int32_t, TLProcCounters>& out) {
        std::vector<int32_t> pids;
        ASSERT_TRUE(source.listPids(pids));
        out.clear();
        for (int32_t pid : pids)
            ASSERT_EQ(source.inspect(pid, out[pid]), TLInspectResult::Exact) << pid;
    };
    std::map<int32_t, TLProcCounters> seen;
    sample(seen);
    EXPECT_EQ(source.heldFileCount(), 50u);
    ASSERT_EQ(seen.size(), 61u);
    for (int pid = 100; pid < 160; ++pid)
        EXPECT_EQ(seen[pid].idleWakeups, static_cast<uint64_t>(pid));
    EXPECT_EQ(seen[300].idleWakeups, 111u);

    // Texts that change in place are read afresh, kept files or not.
    for (int pid = 100; pid < 160; ++pid)
        writeFile(root / std::to_string(pid) / "status", statusText("", 1, pid + 1000));
    sample(seen);
    for (int pid = 100; pid < 160; ++pid)
        EXPECT_EQ(seen[pid].idleWakeups, static_cast<uint64_t>(pid + 1000));

    // Half the processes end: their places go to the others, the threaded one included.
    for (int pid = 100; pid < 130; ++pid)
        std::filesystem::remove_all(root / std::to_string(pid));
    sample(seen);
    sample(seen);
    EXPECT_EQ(source.heldFileCount(), 50u);
    ASSERT_EQ(seen.size(), 31u);

    // A thread ends, and a pid is taken by a new process under a new entry (made before the old
    // one goes, which stays readable here, unlike in /proc): neither is read through an old file.
    std::filesystem::remove_all(root / "300/task/302");
    std::filesystem::rename(root / "159", root / "old159");
    writeFile(root / "159/stat", stat(159, 9999));
    writeFile(root / "159/status", statusText("", 1, 7));
    sample(seen);
    std::filesystem::remove_all(root / "old159");
    EXPECT_EQ(seen[300].idleWakeups, 11u);
    EXPECT_EQ(seen[159].startTime, 9999u);
    EXPECT_EQ(seen[159].idleWakeups, 7u);

    // Everything ends: nothing stays open.
    for (int pid = 130; pid < 160; ++pid)
        std::filesystem::remove_all(root / std::to_string(pid));
    std::filesystem::remove_all(root / "300");
    sample(seen);
    EXPECT_EQ(source.heldFileCount(), 0u);
}

// While /proc/loadavg shows the same number of tasks and the same last pid, no task was made or
// ended: the listings of processes and threads are used again, and any change lists afresh.
TEST(ProcfsProcessSourceTree, ListingsHoldWhileNoTaskIsMadeOrEnds) {
    const FakeProcRoot fake("listing");
    const std::filesystem::path& root = fake.path;
    writeFile(root / "loadavg", "0.10 0.20 0.30 1/120 5000\n");
    writeFile(root / "50/stat", "50 (p) S 1 1 1 0 -1 4194560 1 0 0 0 1 1 0 0 20 0 2 0 5 1 1");
    writeFile(root / "50/status", statusText("", 2, 1));
    writeFile(root / "50/task/50/status", statusText("", 2, 1));
    writeFile(root / "50/task/51/status", statusText("", 2, 10));
    TLProcfsProcessSource source(root.string());
    auto sample = [&](std::vector<int32_t>& pids, uint64_t& wakeups) {
        pids.clear();
        ASSERT_TRUE(source.listPids(pids));
        TLProcCounters c;
        ASSERT_EQ(source.inspect(50, c), TLInspectResult::Exact);
        wakeups = c.idleWakeups;
    };
    std::vector<int32_t> pids;
    uint64_t wakeups = 0;
    sample(pids, wakeups);
    EXPECT_EQ(pids, std::vector<int32_t>{50});
    EXPECT_EQ(wakeups, 11u);

    // Entries that appear while loadavg stays the same are not looked for (in /proc they cannot)
    // for four samples; the fifth lists all the same.
    writeFile(root / "60/stat", "60 (q) S 1 1 1 0 -1 4194560 1 0 0 0 1 1 0 0 20 0 1 0 6 1 1");
    writeFile(root / "60/status", statusText("", 1, 3));
    writeFile(root / "50/task/52/status", statusText("", 2, 100));
    for (int reused = 0; reused < 4; ++reused) {
        sample(pids, wakeups);
        EXPECT_EQ(pids, std::vector<int32_t>{50});
        EXPECT_EQ(wakeups, 11u);
    }
    sample(pids, wakeups);
    EXPECT_EQ(pids.size(), 2u);
    EXPECT_EQ(wakeups, 111u);

    // A new last pid, then a new number of tasks: listed afresh each time.
    writeFile(root / "loadavg", "0.10 0.20 0.30 1/122 5002\n");
    sample(pids, wakeups);
    std::sort(pids.begin(), pids.end());
    EXPECT_EQ(pids, (std::vector<int32_t>{50, 60}));
    EXPECT_EQ(wakeups, 111u);
    std::filesystem::remove_all(root / "60");
    std::filesystem::remove_all(root / "50/task/52");
    writeFile(root / "loadavg", "0.10 0.20 0.30 1/120 5002\n");
    sample(pids, wakeups);
    EXPECT_EQ(pids, std::vector<int32_t>{50});
    EXPECT_EQ(wakeups, 11u);

    // Without a readable loadavg every sample lists.
    std::filesystem::remove(root / "loadavg");
    TLProcfsProcessSource fresh(root.string());
    pids.clear();
    ASSERT_TRUE(fresh.listPids(pids));
    writeFile(root / "70/stat", "70 (r) S 1 1 1 0 -1 4194560 1 0 0 0 1 1 0 0 20 0 1 0 7 1 1");
    pids.clear();
    ASSERT_TRUE(fresh.listPids(pids));
    EXPECT_EQ(pids.size(), 2u);
}

// Against the real system: a process made between two samples is listed in the second, and one
// that ends is not read through the files kept for it.
TEST(ProcfsProcessSourceLive, AnEndedProcessIsGoneDespiteItsKeptFiles) {
    TLProcfsProcessSource source;
    std::vector<int32_t> pids;
    ASSERT_TRUE(source.listPids(pids));
    pid_t child = 0;
    char arg0[] = "sleep";
    char arg1[] = "30";
    char* argv[] = {arg0, arg1, nullptr};
    ASSERT_EQ(posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
    pids.clear();
    ASSERT_TRUE(source.listPids(pids));
    EXPECT_NE(std::find(pids.begin(), pids.end(), child), pids.end());
    TLProcCounters c;
    ASSERT_EQ(source.inspect(child, c), TLInspectResult::Exact);
    EXPECT_GE(source.heldFileCount(), 2u);
    // Let go while the panel is closed, and opened again by the next sample.
    source.releaseKeptFiles();
    EXPECT_EQ(source.heldFileCount(), 0u);
    pids.clear();
    ASSERT_TRUE(source.listPids(pids));
    ASSERT_EQ(source.inspect(child, c), TLInspectResult::Exact);
    EXPECT_GE(source.heldFileCount(), 2u);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(source.inspect(child, c), TLInspectResult::Skipped);
    pids.clear();
    ASSERT_TRUE(source.listPids(pids));
    EXPECT_EQ(std::find(pids.begin(), pids.end(), child), pids.end());
    EXPECT_EQ(source.heldFileCount(), 0u);
}

TEST(ProcStatusParsing, ThreadCount) {
    uint64_t footprint = 0, wakeups = 0, threads = 0;
    ASSERT_TRUE(TLParseProcStatus(statusText("1 2", 17, 9), footprint, wakeups, threads));
    EXPECT_EQ(threads, 17u);
    EXPECT_EQ(wakeups, 9u);
    ASSERT_TRUE(TLParseProcStatus("voluntary_ctxt_switches:\t3\n", footprint, wakeups, threads));
    EXPECT_EQ(threads, 1u);
}

namespace {
const TLProc* findPid(const std::vector<TLProc>& list, int32_t pid) {
    for (const TLProc& p : list)
        if (p.pid == pid) return &p;
    return nullptr;
}
} // namespace

// Against the real system: our own process and a child we start are listed with the memory we
// hold and the CPU time we burn; kernel threads are not listed.
TEST(ProcfsProcessSourceLive, SeesOurOwnProcessAndChildren) {
    pid_t child = 0;
    char arg0[] = "sleep";
    char arg1[] = "30";
    char* argv[] = {arg0, arg1, nullptr};
    ASSERT_EQ(posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);

    TLMetrics m(nullptr, std::make_unique<TLProcfsProcessSource>(), TLPosixPsRunner::standard());
    const auto before = m.sampleProcesses();
    const TLProc* self0 = findPid(before, ::getpid());
    ASSERT_NE(self0, nullptr);

    // Hold 96 MiB, touched so it is resident, and burn about 0.3 s of CPU.
    constexpr size_t kHeld = 96u << 20;
    std::vector<char> held(kHeld);
    std::memset(held.data(), 1, held.size());
    timespec t0{}, t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t0);
    volatile uint64_t spin = 0;
    do {
        for (int i = 0; i < 100000; ++i)
            spin = spin + 1;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    } while ((t.tv_sec - t0.tv_sec) + (t.tv_nsec - t0.tv_nsec) / 1e9 < 0.3);

    const auto after = m.sampleProcesses();
    const TLProc* self = findPid(after, ::getpid());
    ASSERT_NE(self, nullptr);
    EXPECT_FALSE(self->approximate);
    EXPECT_GE(self->memory, self0->memory + kHeld - (4u << 20));
    EXPECT_LE(self->memory, self0->memory + kHeld + (16u << 20));
    EXPECT_GT(self->cpu, 5.0);
    EXPECT_GE(self->energy, self->cpu);

    const TLProc* sleeper = findPid(after, child);
    ASSERT_NE(sleeper, nullptr);
    EXPECT_EQ(sleeper->name, "sleep");
    EXPECT_GT(sleeper->startTime, 0u);     // an identity for the row's menu
    EXPECT_EQ(findPid(after, 2), nullptr); // kthreadd, where there is one
    for (const TLProc& p : after) {
        EXPECT_GT(p.pid, 0);
        EXPECT_FALSE(p.name.empty());
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

// Against the real system: four threads that wake 50 times each count in our process's wakeups,
// not only the main thread's, which sleeps through them.
TEST(ProcfsProcessSourceLive, WakeupsOfEveryThreadCount) {
    TLProcfsProcessSource source;
    TLProcCounters before;
    ASSERT_EQ(source.inspect(::getpid(), before), TLInspectResult::Exact);

    constexpr int kThreads = 4, kWakes = 50;
    std::atomic<int> done{0};
    std::atomic<bool> release{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kWakes; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++done;
            // Parked, alive, until the count has been read: an ended thread takes its count along.
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
    while (done < kThreads)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    TLProcCounters after;
    const TLInspectResult r = source.inspect(::getpid(), after);
    release = true;
    for (std::thread& t : threads)
        t.join();
    ASSERT_EQ(r, TLInspectResult::Exact);
    EXPECT_GE(after.idleWakeups, before.idleWakeups + kThreads * kWakes);
}
