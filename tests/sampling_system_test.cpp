#include "os/linux/TLProcfsSystemSource.h"
#include "sampling/TLMetrics.h"
#include "sampling/TLSystemCompute.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>

namespace {

TLSystemInputs workedExample() {
    TLSystemInputs in;
    in.pageSize = 16384;
    in.total = 17179869184ULL;
    in.vmOK = true;
    in.vm.internalPages = 400000;
    in.vm.purgeablePages = 20000;
    in.vm.wirePages = 150000;
    in.vm.compressorPages = 50000;
    in.vm.externalPages = 180000;
    return in;
}

} // namespace

TEST(SystemStats, WorkedExampleToTheByte) {
    TLCPUHistory h;
    const TLSystemStats s = TLComputeSystemStats(workedExample(), h);
    EXPECT_EQ(s.total, 17179869184ULL);
    EXPECT_EQ(s.app, 6225920000ULL);
    EXPECT_EQ(s.wired, 2457600000ULL);
    EXPECT_EQ(s.compressed, 819200000ULL);
    EXPECT_EQ(s.cached, 3276800000ULL);
    EXPECT_EQ(s.used, 9502720000ULL);
    EXPECT_NEAR(s.usagePercent, 55.31, 0.005);
    EXPECT_NEAR(s.pressurePercent, 19.07, 0.005);
    EXPECT_EQ(s.pressureLevel, TLPressureLevel::Normal); // no pressure reading: normal
    EXPECT_EQ(s.swapUsed, 0u);
    EXPECT_EQ(s.cpuPercent, 0.0);
}

TEST(SystemStats, ClampsAndGuards) {
    TLCPUHistory h;
    // Purgeable at or above internal: app is 0, not a wrapped huge number.
    TLSystemInputs in = workedExample();
    in.vm.purgeablePages = in.vm.internalPages;
    EXPECT_EQ(TLComputeSystemStats(in, h).app, 0u);
    in.vm.purgeablePages = in.vm.internalPages + 1;
    EXPECT_EQ(TLComputeSystemStats(in, h).app, 0u);

    // More memory in use than installed: used is capped, usage exactly 100.
    in = workedExample();
    in.total = 1ULL << 30;
    TLSystemStats s = TLComputeSystemStats(in, h);
    EXPECT_EQ(s.used, in.total);
    EXPECT_EQ(s.usagePercent, 100.0);
    EXPECT_EQ(s.pressurePercent, 100.0); // wired + compressed > total

    // No total: nothing divides by zero.
    in.total = 0;
    s = TLComputeSystemStats(in, h);
    EXPECT_EQ(s.used, 0u);
    EXPECT_EQ(s.usagePercent, 0.0);
    EXPECT_EQ(s.pressurePercent, 0.0);
}

TEST(SystemStats, FailedQueriesLeaveTheirFieldsAtDefaults) {
    TLCPUHistory h;
    TLSystemInputs in = workedExample();
    in.swapOK = false;
    in.swap = {1000, 500}; // ignored: the query failed
    in.pressureOK = false;
    in.pressureLevel = TLPressureLevel::Critical;
    TLSystemStats s = TLComputeSystemStats(in, h);
    EXPECT_EQ(s.swapUsed, 0u);
    EXPECT_EQ(s.swapTotal, 0u);
    EXPECT_EQ(s.app, 6225920000ULL);                     // memory still filled
    EXPECT_EQ(s.pressureLevel, TLPressureLevel::Normal); // not 0

    in.swapOK = true;
    in.pressureOK = true;
    in.pressureLevel = TLPressureLevel{3}; // an unexpected level passes through
    s = TLComputeSystemStats(in, h);
    EXPECT_EQ(s.swapUsed, 500u);
    EXPECT_EQ(s.swapTotal, 1000u);
    EXPECT_EQ(s.pressureLevel, TLPressureLevel{3});

    in.vmOK = false;
    s = TLComputeSystemStats(in, h);
    EXPECT_EQ(s.total, in.total);
    EXPECT_EQ(s.app + s.wired + s.compressed + s.cached + s.used, 0u);
    EXPECT_EQ(s.usagePercent, 0.0);
    EXPECT_EQ(s.pressurePercent, 0.0);
}

TEST(SystemStats, CPULoadIsTheBusyShareSinceTheLastSuccessfulRead) {
    TLCPUHistory h;
    TLSystemInputs in = workedExample();
    in.cpuOK = true;
    in.cpu = {1000, 500, 8000, 100};
    EXPECT_EQ(TLComputeSystemStats(in, h).cpuPercent, 0.0); // first read reports 0
    EXPECT_TRUE(h.hasPrev);

    in.cpu = {1000, 500, 8000, 100}; // no tick elapsed
    EXPECT_EQ(TLComputeSystemStats(in, h).cpuPercent, 0.0);

    in.cpu = {1030, 510, 8050, 110}; // busy 50 of 100
    EXPECT_DOUBLE_EQ(TLComputeSystemStats(in, h).cpuPercent, 50.0);

    // A failed read reports 0 and keeps the previous counters: the next read spans both.
    in.cpuOK = false;
    in.cpu = {9999, 9999, 9999, 9999};
    EXPECT_EQ(TLComputeSystemStats(in, h).cpuPercent, 0.0);
    EXPECT_EQ(h.prev.user, 1030u);
    in.cpuOK = true;
    in.cpu = {1060, 510, 8140, 110}; // +30 busy, +90 idle since the last success
    EXPECT_DOUBLE_EQ(TLComputeSystemStats(in, h).cpuPercent, 25.0);
}

// A counter that goes backwards (iowait may) counts as no time: the load stays within 0 … 100.
TEST(SystemStats, CountersGoingBackwardsKeepTheLoadWithin0To100) {
    TLCPUHistory h;
    TLSystemInputs in = workedExample();
    in.cpuOK = true;
    in.cpu = {1000, 500, 8000, 100};
    TLComputeSystemStats(in, h);
    in.cpu = {1100, 500, 7950, 100}; // +100 busy, idle 50 back: was 200 %
    EXPECT_DOUBLE_EQ(TLComputeSystemStats(in, h).cpuPercent, 100.0);
    in.cpu = {600, 500, 8050, 100}; // user 500 back, +100 idle: was below 0
    EXPECT_DOUBLE_EQ(TLComputeSystemStats(in, h).cpuPercent, 0.0);
    in.cpu = {700, 400, 8100, 100}; // +100 user, system back, +50 idle
    const double load = TLComputeSystemStats(in, h).cpuPercent;
    EXPECT_GE(load, 0.0);
    EXPECT_LE(load, 100.0);
    EXPECT_NEAR(load, 100.0 * 100 / 150, 1e-9);
}

// The procfs source against a fake /proc and /sys tree.
class ProcfsSystemSourceTest : public ::testing::Test {
protected:
    void write(const std::string& rel, const std::string& text) {
        const std::filesystem::path p = std::filesystem::path(root.path().toStdString()) / rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::trunc) << text;
    }
    std::string meminfo(uint64_t availableKiB, uint64_t zswapKiB = 0) {
        return "MemTotal:       16000000 kB\n"
               "MemFree:         2000000 kB\n"
               "MemAvailable:    " +
               std::to_string(availableKiB) +
               " kB\n"
               "Buffers:          100000 kB\n"
               "Cached:          5000000 kB\n"
               "SwapTotal:       4000000 kB\n"
               "SwapFree:        3000000 kB\n"
               "Zswap:           " +
               std::to_string(zswapKiB) +
               " kB\n"
               "SUnreclaim:       200000 kB\n"
               "KernelStack:       20000 kB\n"
               "PageTables:        40000 kB\n"
               "SecPageTables:         0 kB\n"
               "Percpu:             4000 kB\n";
    }
    QTemporaryDir root;
};

TEST_F(ProcfsSystemSourceTest, MapsMeminfoPressureAndTicks) {
    write("proc/meminfo", meminfo(10000000, 40000));
    write("proc/stat", "cpu  100 20 50 800 30 5 5 0 0 0\ncpu0 1 2 3 4 5 6 7 8 9 10\n");
    write("proc/pressure/memory", "some avg10=6.50 avg60=1.00 avg300=0.20 total=1\n"
                                  "full avg10=1.25 avg60=0.00 avg300=0.00 total=1\n");
    write("sys/block/zram0/mm_stat", "  8192000  2048000  4096000 0 4096000 0 0 0 0\n");
    write("sys/block/loop0/stat", "0\n");

    TLProcfsSystemSource src(root.path().toStdString());
    const uint64_t page = src.pageSize();
    ASSERT_GT(page, 0u);
    EXPECT_EQ(src.physicalMemory(), 16000000ULL * 1024);

    TLVMCounters vm;
    ASSERT_TRUE(src.readVM(vm));
    const uint64_t wiredBytes = (200000 + 20000 + 40000 + 0 + 4000) * 1024ULL;
    EXPECT_EQ(vm.wirePages * page, wiredBytes);
    EXPECT_EQ(vm.compressorPages * page, 40000 * 1024ULL + 4096000);
    EXPECT_EQ(vm.purgeablePages, 0u);
    EXPECT_EQ(vm.externalPages * page, 8000000 * 1024ULL); // MemAvailable - MemFree
    // app + wired + compressed is what Linux calls used: MemTotal - MemAvailable.
    EXPECT_EQ((vm.internalPages + vm.wirePages + vm.compressorPages) * page, 6000000 * 1024ULL);

    TLSwapUsage swap;
    ASSERT_TRUE(src.readSwap(swap));
    EXPECT_EQ(swap.total, 4000000 * 1024ULL);
    EXPECT_EQ(swap.used, 1000000 * 1024ULL);

    TLPressureLevel level{};
    ASSERT_TRUE(src.readPressureLevel(level));
    EXPECT_EQ(level, TLPressureLevel::Warning);
    write("proc/pressure/memory", "some avg10=9.00 avg60=0 avg300=0 total=1\n"
                                  "full avg10=5.00 avg60=0 avg300=0 total=1\n");
    ASSERT_TRUE(src.readPressureLevel(level));
    EXPECT_EQ(level, TLPressureLevel::Critical);
    write("proc/pressure/memory", "some avg10=4.99 avg60=0 avg300=0 total=1\n"
                                  "full avg10=0.00 avg60=0 avg300=0 total=1\n");
    ASSERT_TRUE(src.readPressureLevel(level));
    EXPECT_EQ(level, TLPressureLevel::Normal);

    TLCPUTicks t;
    ASSERT_TRUE(src.readCPUTicks(t));
    EXPECT_EQ(t.user, 100u);
    EXPECT_EQ(t.nice, 20u);
    EXPECT_EQ(t.system, 50u + 5 + 5 + 0);
    EXPECT_EQ(t.idle, 800u + 30);
}

// Kernels before 3.14 and some containers have no MemAvailable: used memory comes from the
// kernel's own estimate of what is available instead of showing 0 % used.
TEST_F(ProcfsSystemSourceTest, WithoutMemAvailableTheKernelsEstimateIsUsed) {
    write("proc/meminfo", "MemTotal:       16000000 kB\n"
                          "MemFree:         2000000 kB\n"
                          "Buffers:          100000 kB\n"
                          "Cached:          5000000 kB\n"
                          "Active(file):    3000000 kB\n"
                          "Inactive(file):  2500000 kB\n"
                          "SReclaimable:     500000 kB\n"
                          "SwapTotal:             0 kB\n"
                          "SwapFree:              0 kB\n");
    write("proc/stat", "cpu  1 1 1 1\n");
    {
        TLProcfsSystemSource src(root.path().toStdString());
        const uint64_t page = src.pageSize();
        TLVMCounters vm;
        ASSERT_TRUE(src.readVM(vm));
        // Available: 2000000 free + 5500000 file cache + 500000 slab = 8000000 KiB.
        EXPECT_EQ((vm.internalPages + vm.wirePages + vm.compressorPages) * page, 8000000 * 1024ULL);
        EXPECT_EQ(vm.externalPages * page, 6000000 * 1024ULL);
        TLMetrics m(std::make_unique<TLProcfsSystemSource>(root.path().toStdString()), nullptr,
                    nullptr);
        EXPECT_DOUBLE_EQ(m.sampleSystem().usagePercent, 50.0);
    }
    // Older still, without the file LRU lines: Cached + Buffers as the page cache.
    write("proc/meminfo", "MemTotal:       16000000 kB\n"
                          "MemFree:         2000000 kB\n"
                          "Buffers:          100000 kB\n"
                          "Cached:          5000000 kB\n");
    TLProcfsSystemSource src(root.path().toStdString());
    TLVMCounters vm;
    ASSERT_TRUE(src.readVM(vm));
    EXPECT_EQ((vm.internalPages + vm.wirePages + vm.compressorPages) * src.pageSize(),
              8900000 * 1024ULL);
}

TEST_F(ProcfsSystemSourceTest, MissingOrBrokenFilesAreFailedQueries) {
    write("proc/meminfo", "MemTotal: 1000 kB\nMemFree: garbage\n");
    write("proc/stat", "intr 1 2 3\n");
    TLProcfsSystemSource src(root.path().toStdString());
    TLVMCounters vm;
    TLSwapUsage swap;
    TLCPUTicks t;
    TLPressureLevel level{7};
    EXPECT_FALSE(src.readVM(vm));
    EXPECT_FALSE(src.readSwap(swap));
    EXPECT_FALSE(src.readCPUTicks(t));
    EXPECT_FALSE(src.readPressureLevel(level)); // no PSI on this "kernel"

    // Through the engine: the failures give the documented defaults.
    TLMetrics m(std::make_unique<TLProcfsSystemSource>(root.path().toStdString()), nullptr,
                nullptr);
    const TLSystemStats s = m.sampleSystem();
    EXPECT_EQ(s.total, 1000u * 1024);
    EXPECT_EQ(s.used, 0u);
    EXPECT_EQ(s.pressureLevel, TLPressureLevel::Normal);
    EXPECT_EQ(s.cpuPercent, 0.0);
}

TEST(ProcfsSystemSourceLive, AgreesWithMeminfo) {
    TLMetrics m(std::make_unique<TLProcfsSystemSource>(), nullptr, nullptr);
    const TLSystemStats s = m.sampleSystem();
    std::ifstream f("/proc/meminfo");
    std::string key;
    uint64_t v = 0, total = 0, avail = 0;
    std::string unit;
    while (f >> key >> v) {
        if (key == "MemTotal:") total = v * 1024;
        if (key == "MemAvailable:") avail = v * 1024;
        std::getline(f, unit);
    }
    EXPECT_EQ(s.total, total);
    // MemAvailable moves between the two reads; allow 64 MiB of drift.
    const double expectedUsed = static_cast<double>(total - avail);
    EXPECT_NEAR(static_cast<double>(s.used), expectedUsed, 64.0 * 1024 * 1024);
    EXPECT_GE(TLPressureLevelValue(s.pressureLevel), 1);
}

// Memory pressure as a percentage: where the kernel measures the time tasks lose waiting for
// memory, that share; elsewhere the share of memory wired or compressed.
TEST(SystemStats, PressurePercentIsTheStallShareWhereMeasured) {
    TLCPUHistory h;
    TLSystemInputs in = workedExample(); // 19.07 % wired + compressed
    in.stallOK = true;
    in.stallPercent = 0.0;
    EXPECT_EQ(TLComputeSystemStats(in, h).pressurePercent, 0.0); // much wired, no waiting
    in.stallPercent = 37.25;
    EXPECT_EQ(TLComputeSystemStats(in, h).pressurePercent, 37.25);
    in.stallPercent = 250; // not a share any more: capped
    EXPECT_EQ(TLComputeSystemStats(in, h).pressurePercent, 100.0);
    in.stallPercent = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(TLComputeSystemStats(in, h).pressurePercent, 0.0);
    in.stallPercent = -3;
    EXPECT_EQ(TLComputeSystemStats(in, h).pressurePercent, 0.0);
    in.stallOK = false;
    EXPECT_NEAR(TLComputeSystemStats(in, h).pressurePercent, 19.07, 0.005);
}

TEST_F(ProcfsSystemSourceTest, PressurePercentFollowsPSIAndFallsBackWithoutIt) {
    write("proc/meminfo", meminfo(10000000, 0));
    write("proc/stat", "cpu  100 20 50 800 30 5 5 0 0 0\n");
    // A machine short of memory: tasks waited 23.4 % of the last 10 s, all of them 6.1 %.
    write("proc/pressure/memory", "some avg10=23.40 avg60=11.00 avg300=3.20 total=98765\n"
                                  "full avg10=6.10 avg60=2.00 avg300=0.50 total=4321\n");
    TLMetrics m(std::make_unique<TLProcfsSystemSource>(root.path().toStdString()), nullptr,
                nullptr);
    TLSystemStats s = m.sampleSystem();
    EXPECT_DOUBLE_EQ(s.pressurePercent, 23.4);
    EXPECT_EQ(s.pressureLevel, TLPressureLevel::Critical);

    // The file is read afresh at every sample: calm again.
    write("proc/pressure/memory", "some avg10=0.00 avg60=0.00 avg300=0.00 total=98765\n"
                                  "full avg10=0.00 avg60=0.00 avg300=0.00 total=4321\n");
    s = m.sampleSystem();
    EXPECT_EQ(s.pressurePercent, 0.0);
    EXPECT_EQ(s.pressureLevel, TLPressureLevel::Normal);

    // Without PSI: the wired share (264000 KiB of 16000000 KiB).
    std::filesystem::remove(root.filePath("proc/pressure/memory").toStdString());
    TLMetrics noPsi(std::make_unique<TLProcfsSystemSource>(root.path().toStdString()), nullptr,
                    nullptr);
    s = noPsi.sampleSystem();
    EXPECT_EQ(s.pressureLevel, TLPressureLevel::Normal);
    EXPECT_NEAR(s.pressurePercent, 264000.0 * 100 / 16000000, 0.01);
}
