// The macOS sampling sources, built on Linux against fakes of the Mach, sysctl and libproc calls
// (TLDarwinFakes.h): which calls they make with which arguments, and how the kernel's records
// become the sample's inputs, through the same engine the application uses.

#include "alloc_counter.h"
#include "os/macos/TLBundleInfo.h"
#include "os/macos/TLLibprocProcessSource.h"
#include "os/macos/TLMachSystemSource.h"
#include "sampling/TLMetrics.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

// ---------------------------------------------------------------- the fake kernel

namespace {

struct FakeProcess {
    std::optional<rusage_info_v4> usage; // nullopt: proc_pid_rusage refuses
    std::string path;                    // empty: proc_pidpath fails
    std::string name;                    // empty: proc_name fails
};

// Info dictionaries by bundle path, and the bundles read.
std::map<std::string, TLBundleInfo> bundleInfos;
std::vector<std::string> bundlesRead;

struct FakeDarwin {
    // Host.
    mach_port_t hostPort = 0x1d03;
    int hostSelfCalls = 0;
    std::vector<std::pair<mach_port_t, mach_port_name_t>> deallocated;
    vm_size_t hostPageSize = 16384;
    vm_size_t kernelPageSize = 4096;
    // sysctl.
    std::optional<uint64_t> memsize = 17179869184ULL;
    std::optional<xsw_usage> swap;
    std::optional<int32_t> pressure;
    std::optional<uint64_t> tbfrequency;
    int32_t pressurePreset = -1; // what the caller had put in the buffer
    size_t pressureLength = 0;
    // host_statistics64 / host_statistics.
    std::optional<vm_statistics64> vm;
    std::optional<host_cpu_load_info> cpu;
    std::vector<std::pair<host_flavor_t, mach_msg_type_number_t>> statisticsCalls;
    std::vector<host_t> statisticsHosts;
    // libproc.
    int pidCount = 0; // what the counting call reports
    std::vector<int32_t> pids;
    bool listFails = false;
    std::vector<int> listSizes; // buffersize of every call
    std::map<int32_t, FakeProcess> procs;
    std::vector<int> rusageFlavors;
    std::vector<uint32_t> pathSizes, nameSizes;
    mach_timebase_info_data_t timebase{1, 1};
};

FakeDarwin fake;

bool isName(const char* a, const char* b) {
    return std::strcmp(a, b) == 0;
}

template <typename T>
int answer(const std::optional<T>& value, void* oldp, size_t* oldlenp) {
    if (!value || *oldlenp < sizeof(T)) return -1;
    std::memcpy(oldp, &*value, sizeof(T));
    *oldlenp = sizeof(T);
    return 0;
}

} // namespace

vm_size_t vm_kernel_page_size = 0;

extern "C" {
mach_port_t mach_host_self(void) {
    ++fake.hostSelfCalls;
    return fake.hostPort;
}
mach_port_t tl_fake_mach_task_self(void) {
    return 0x103;
}
kern_return_t mach_port_deallocate(ipc_space_t task, mach_port_name_t name) {
    fake.deallocated.emplace_back(task, name);
    return KERN_SUCCESS;
}
kern_return_t host_page_size(host_t, vm_size_t* size) {
    *size = fake.hostPageSize;
    return fake.hostPageSize ? KERN_SUCCESS : KERN_FAILURE;
}
kern_return_t host_statistics64(host_t host, host_flavor_t flavor, host_info64_t info,
                                mach_msg_type_number_t* count) {
    fake.statisticsCalls.emplace_back(flavor, *count);
    fake.statisticsHosts.push_back(host);
    if (flavor != HOST_VM_INFO64 || !fake.vm) return KERN_FAILURE;
    std::memcpy(info, &*fake.vm, sizeof(vm_statistics64));
    return KERN_SUCCESS;
}
kern_return_t host_statistics(host_t host, host_flavor_t flavor, host_info_t info,
                              mach_msg_type_number_t* count) {
    fake.statisticsCalls.emplace_back(flavor, *count);
    fake.statisticsHosts.push_back(host);
    if (flavor != HOST_CPU_LOAD_INFO || !fake.cpu) return KERN_FAILURE;
    std::memcpy(info, &*fake.cpu, sizeof(host_cpu_load_info));
    return KERN_SUCCESS;
}
kern_return_t mach_timebase_info(mach_timebase_info_t info) {
    *info = fake.timebase;
    return KERN_SUCCESS;
}
int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, void*, size_t) {
    if (isName(name, "hw.memsize")) return answer(fake.memsize, oldp, oldlenp);
    if (isName(name, "vm.swapusage")) return answer(fake.swap, oldp, oldlenp);
    if (isName(name, "hw.tbfrequency")) return answer(fake.tbfrequency, oldp, oldlenp);
    if (isName(name, "kern.memorystatus_vm_pressure_level")) {
        std::memcpy(&fake.pressurePreset, oldp, sizeof(int32_t));
        fake.pressureLength = *oldlenp;
        return answer(fake.pressure, oldp, oldlenp);
    }
    return -1;
}
int proc_listallpids(void* buffer, int buffersize) {
    fake.listSizes.push_back(buffersize);
    if (buffer == nullptr) return fake.pidCount;
    if (fake.listFails) return 0;
    const int fits = buffersize / static_cast<int>(sizeof(int32_t));
    const int n = std::min(fits, static_cast<int>(fake.pids.size()));
    std::memcpy(buffer, fake.pids.data(), static_cast<size_t>(n) * sizeof(int32_t));
    // Like the kernel, the count may name more pids than fitted.
    return static_cast<int>(fake.pids.size());
}
int proc_pid_rusage(int pid, int flavor, rusage_info_t* buffer) {
    fake.rusageFlavors.push_back(flavor);
    const auto it = fake.procs.find(pid);
    if (it == fake.procs.end() || !it->second.usage || flavor != RUSAGE_INFO_V4) return -1;
    std::memcpy(buffer, &*it->second.usage, sizeof(rusage_info_v4));
    return 0;
}
int proc_pidpath(int pid, void* buffer, uint32_t buffersize) {
    fake.pathSizes.push_back(buffersize);
    const auto it = fake.procs.find(pid);
    if (it == fake.procs.end() || it->second.path.empty()) return 0;
    const std::string& p = it->second.path;
    std::memcpy(buffer, p.c_str(), std::min<size_t>(p.size() + 1, buffersize));
    return static_cast<int>(p.size());
}
int proc_name(int pid, void* buffer, uint32_t buffersize) {
    fake.nameSizes.push_back(buffersize);
    const auto it = fake.procs.find(pid);
    if (it == fake.procs.end() || it->second.name.empty()) return 0;
    const std::string& n = it->second.name;
    std::memcpy(buffer, n.c_str(), std::min<size_t>(n.size() + 1, buffersize));
    return static_cast<int>(n.size());
}
}

namespace {

vm_statistics64 workedExample() {
    vm_statistics64 vm{};
    vm.internal_page_count = 400000;
    vm.purgeable_count = 20000;
    vm.wire_count = 150000;
    vm.compressor_page_count = 50000;
    vm.external_page_count = 180000;
    vm.free_count = 12345; // not used by any formula
    return vm;
}

host_cpu_load_info ticks(natural_t user, natural_t system, natural_t idle, natural_t nice) {
    host_cpu_load_info t{};
    t.cpu_ticks[CPU_STATE_USER] = user;
    t.cpu_ticks[CPU_STATE_SYSTEM] = system;
    t.cpu_ticks[CPU_STATE_IDLE] = idle;
    t.cpu_ticks[CPU_STATE_NICE] = nice;
    return t;
}

rusage_info_v4 usage(uint64_t user, uint64_t system, uint64_t wakeups, uint64_t footprint) {
    rusage_info_v4 u{};
    u.ri_user_time = user;
    u.ri_system_time = system;
    u.ri_pkg_idle_wkups = wakeups;
    u.ri_interrupt_wkups = 999999; // never counted
    u.ri_phys_footprint = footprint;
    u.ri_proc_start_abstime = 77;
    return u;
}

class MachSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake = FakeDarwin{};
        vm_kernel_page_size = fake.kernelPageSize;
        fake.vm = workedExample();
        fake.swap = xsw_usage{3221225472ULL, 2147483648ULL, 1073741824ULL, 16384, 1};
        fake.pressure = 2;
        fake.cpu = ticks(100, 50, 1000, 10);
    }
    TLMetrics metrics() {
        return TLMetrics(std::make_unique<TLMachSystemSource>(), nullptr, nullptr);
    }
};

} // namespace

// ---------------------------------------------------------------- system sample

TEST_F(MachSystemTest, TheWorkedExampleFromTheKernelsRecords) {
    TLMetrics m = metrics();
    const TLSystemStats s = m.sampleSystem();
    EXPECT_EQ(s.total, 17179869184ULL);
    EXPECT_EQ(s.app, 6225920000ULL);
    EXPECT_EQ(s.wired, 2457600000ULL);
    EXPECT_EQ(s.compressed, 819200000ULL);
    EXPECT_EQ(s.cached, 3276800000ULL);
    EXPECT_EQ(s.used, 9502720000ULL);
    EXPECT_NEAR(s.usagePercent, 55.31, 0.005);
    EXPECT_NEAR(s.pressurePercent, 19.07, 0.005);
    EXPECT_EQ(s.swapTotal, 3221225472ULL);
    EXPECT_EQ(s.swapUsed, 1073741824ULL);
    EXPECT_EQ(s.pressureLevel, TLPressureLevel::Warning);
    EXPECT_EQ(s.cpuPercent, 0.0); // the first CPU reading has nothing to compare with

    // The calls as the kernel wants them: the held host port, the flavours and full counts.
    ASSERT_EQ(fake.statisticsCalls.size(), 2u);
    EXPECT_EQ(fake.statisticsCalls[0], std::make_pair(HOST_VM_INFO64, HOST_VM_INFO64_COUNT));
    EXPECT_EQ(fake.statisticsCalls[1],
              std::make_pair(HOST_CPU_LOAD_INFO, HOST_CPU_LOAD_INFO_COUNT));
    for (host_t h : fake.statisticsHosts)
        EXPECT_EQ(h, fake.hostPort);
    EXPECT_EQ(fake.pressurePreset, 1);
    EXPECT_EQ(fake.pressureLength, sizeof(int32_t));
}

TEST_F(MachSystemTest, PageSizeFallsBackToTheKernelsWhenTheHostLeavesZero) {
    fake.hostPageSize = 0;
    TLMetrics m = metrics();
    const TLSystemStats s = m.sampleSystem();
    EXPECT_EQ(s.wired, 150000ULL * 4096);
    EXPECT_EQ(s.app, 380000ULL * 4096);
}

TEST_F(MachSystemTest, CountersAreWidenedBeforeArithmetic) {
    // Near the top of the 32-bit range: sums and products must not wrap at 32 bits.
    vm_statistics64 vm{};
    vm.internal_page_count = 4000000000U;
    vm.purgeable_count = 100;
    vm.external_page_count = 4000000000U;
    vm.wire_count = 4000000000U;
    fake.vm = vm;
    fake.memsize = ~0ULL;
    TLMetrics m = metrics();
    const TLSystemStats s = m.sampleSystem();
    EXPECT_EQ(s.app, (4000000000ULL - 100) * 16384);
    EXPECT_EQ(s.cached, (4000000000ULL + 100) * 16384);
    EXPECT_EQ(s.wired, 4000000000ULL * 16384);
}

TEST_F(MachSystemTest, FailedQueriesLeaveTheirFieldsAtTheirDefaults) {
    fake.swap.reset();
    fake.pressure.reset();
    TLMetrics m = metrics();
    TLSystemStats s = m.sampleSystem();
    EXPECT_EQ(s.swapTotal, 0u);
    EXPECT_EQ(s.swapUsed, 0u);
    EXPECT_EQ(s.pressureLevel, TLPressureLevel::Normal);
    EXPECT_EQ(s.used, 9502720000ULL); // memory still filled

    fake.vm.reset();
    s = m.sampleSystem();
    EXPECT_EQ(s.app, 0u);
    EXPECT_EQ(s.cached, 0u);
    EXPECT_EQ(s.used, 0u);
    EXPECT_EQ(s.usagePercent, 0.0);
    EXPECT_EQ(s.total, 17179869184ULL);

    fake.memsize.reset();
    fake.vm = workedExample();
    TLMetrics noTotal = metrics();
    s = noTotal.sampleSystem();
    EXPECT_EQ(s.total, 0u);
    EXPECT_EQ(s.used, 0u);
    EXPECT_EQ(s.usagePercent, 0.0);
    EXPECT_EQ(s.pressurePercent, 0.0);

    fake.pressure = 4;
    EXPECT_EQ(noTotal.sampleSystem().pressureLevel, TLPressureLevel::Critical);
}

TEST_F(MachSystemTest, CPULoadFromTheFourTickCountersIncludingA32BitWrap) {
    TLMetrics m = metrics();
    m.sampleSystem();
    // 30 user + 10 system + 10 nice busy, 50 idle: 50 %.
    fake.cpu = ticks(130, 60, 1050, 20);
    EXPECT_DOUBLE_EQ(m.sampleSystem().cpuPercent, 50.0);

    // A failed read keeps the previous counters: the next one spans both intervals.
    fake.cpu.reset();
    EXPECT_EQ(m.sampleSystem().cpuPercent, 0.0);
    fake.cpu = ticks(190, 60, 1110, 20); // 60 busy, 60 idle since the last good read
    EXPECT_DOUBLE_EQ(m.sampleSystem().cpuPercent, 50.0);

    // The user counter wraps at 2^32: that one reading is 0, the next is right again.
    fake.cpu = ticks(0xFFFFFF00U, 60, 1110, 20);
    m.sampleSystem();
    fake.cpu = ticks(0x10, 60, 1130, 20);
    EXPECT_EQ(m.sampleSystem().cpuPercent, 0.0);
    fake.cpu = ticks(0x10 + 20, 60, 1150, 20);
    EXPECT_DOUBLE_EQ(m.sampleSystem().cpuPercent, 50.0);
}

TEST_F(MachSystemTest, TheHostPortIsTakenOnceAndReleasedOnce) {
    {
        TLMetrics m = metrics();
        for (int i = 0; i < 50; ++i)
            m.sampleSystem();
        EXPECT_EQ(fake.hostSelfCalls, 1);
        EXPECT_TRUE(fake.deallocated.empty());
    }
    ASSERT_EQ(fake.deallocated.size(), 1u);
    EXPECT_EQ(fake.deallocated[0].first, tl_fake_mach_task_self());
    EXPECT_EQ(fake.deallocated[0].second, fake.hostPort);
}

TEST_F(MachSystemTest, ASampleAllocatesNothing) {
    if (!TLAllocCounter::available())
        GTEST_SKIP() << "allocations are not counted under a sanitizer";
    TLMetrics m = metrics();
    m.sampleSystem();
    // The fake's own call log must not count: room for every call made below.
    fake.statisticsCalls.reserve(2000);
    fake.statisticsHosts.reserve(2000);
    TLAllocCounter::start();
    auto* probe = new std::string(100, 'x'); // the counter must see allocations
    delete probe;
    EXPECT_GE(TLAllocCounter::stop(), 1u);

    TLAllocCounter::start();
    double sink = 0;
    for (int i = 0; i < 500; ++i)
        sink += m.sampleSystem().usagePercent;
    EXPECT_EQ(TLAllocCounter::stop(), 0u);
    EXPECT_GT(sink, 0.0);
}

// ---------------------------------------------------------------- process sample

namespace {

struct ScriptedPs final : TLPsRunner {
    std::string output;
    std::unique_ptr<TLPsRun> start() override {
        struct Run final : TLPsRun {
            std::string out;
            std::string finish() override { return out; }
        };
        auto r = std::make_unique<Run>();
        r->out = output;
        return r;
    }
};

class LibprocTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake = FakeDarwin{};
        fake.tbfrequency = 1000000000ULL; // an Intel Mac: one unit per nanosecond
    }
};

} // namespace

TEST_F(LibprocTest, PidListOffersSpareSlotsAndKeepsWhatFits) {
    TLLibprocProcessSource source;
    fake.pidCount = 300;
    fake.pids.assign(310, 5);
    std::vector<int32_t> pids;
    ASSERT_TRUE(source.listPids(pids));
    ASSERT_EQ(fake.listSizes.size(), 2u);
    EXPECT_EQ(fake.listSizes[0], 0);               // the count first
    EXPECT_EQ(fake.listSizes[1], (300 + 128) * 4); // 128 spare slots, in bytes
    EXPECT_EQ(pids.size(), 310u);

    // No count: 1152 slots. More pids than slots: only the slots are visited.
    fake.listSizes.clear();
    fake.pidCount = -1;
    fake.pids.assign(2000, 7);
    ASSERT_TRUE(source.listPids(pids));
    EXPECT_EQ(fake.listSizes[1], 1152 * 4);
    EXPECT_EQ(pids.size(), 1152u);

    fake.listFails = true;
    EXPECT_FALSE(source.listPids(pids));
    EXPECT_TRUE(pids.empty());
}

TEST_F(LibprocTest, UsageRecordBecomesTheEnginesCounters) {
    const rusage_info_v4 u = usage(3000, 1500, 40, 123456789);
    TLProcCounters c = TLProcCountersFromRusage(u, 1, 1);
    EXPECT_EQ(c.cpuTimeNs, 4500u);
    EXPECT_EQ(c.idleWakeups, 40u); // package idle wakeups only, not interrupt wakeups
    EXPECT_EQ(c.footprint, 123456789u);
    EXPECT_EQ(c.startTime, 77u);

    // Apple silicon: 24 MHz timer, 125/3 ns per unit. One second of CPU is 24,000,000 units.
    c = TLProcCountersFromRusage(usage(24000000, 0, 0, 0), 125, 3);
    EXPECT_EQ(c.cpuTimeNs, 1000000000u);
    // Large counts convert without overflow: a year of CPU time.
    const uint64_t year = 24000000ULL * 3600 * 24 * 365;
    EXPECT_EQ(TLProcCountersFromRusage(usage(year, 0, 0, 0), 125, 3).cpuTimeNs,
              1000000000ULL * 3600 * 24 * 365);
}

TEST_F(LibprocTest, TimerFrequencyChoosesTheConversion) {
    fake.procs[42].usage = usage(24000000, 24000000, 0, 0);
    TLProcCounters c;

    fake.tbfrequency = 24000000ULL;
    ASSERT_EQ(TLLibprocProcessSource().inspect(42, c), TLInspectResult::Exact);
    EXPECT_EQ(c.cpuTimeNs, 2000000000u);

    // Without the frequency, the timebase.
    fake.tbfrequency.reset();
    fake.timebase = {125, 3};
    ASSERT_EQ(TLLibprocProcessSource().inspect(42, c), TLInspectResult::Exact);
    EXPECT_EQ(c.cpuTimeNs, 2000000000u);
    EXPECT_EQ(fake.rusageFlavors.back(), RUSAGE_INFO_V4);

    fake.procs[42].usage.reset();
    EXPECT_EQ(TLLibprocProcessSource().inspect(42, c), TLInspectResult::Failed);
}

TEST_F(LibprocTest, NamesExactAndApproximateRecordsThroughTheEngine) {
    fake.pidCount = 5;
    fake.pids = {0, 1, 812, 900, 901, 950};
    fake.procs[1] = {usage(0, 0, 0, 8 << 20), "/sbin/launchd", "launchd"};
    fake.procs[812] = {usage(0, 0, 0, 1 << 20), "", ""};       // no path, no name, not in ps
    fake.procs[900] = {usage(0, 0, 0, 1 << 20), "", "Finder"}; // short name only
    fake.procs[901] = {std::nullopt, "", ""};                  // another user's: ps has it
    fake.procs[950] = {std::nullopt, "", ""};                  // not inspectable, not in ps
    auto ps = std::make_unique<ScriptedPs>();
    ps->output = "  901  2048  3.5 Window Server Helper\n  900 1 0.0 x\n";
    TLMetrics m(nullptr, std::make_unique<TLLibprocProcessSource>(), std::move(ps));

    const std::vector<TLProc> procs = m.sampleProcesses();
    ASSERT_EQ(procs.size(), 4u);
    EXPECT_EQ(procs[0].pid, 1);
    EXPECT_EQ(procs[0].name, "launchd"); // last component of the path
    EXPECT_EQ(procs[0].memory, 8u << 20);
    EXPECT_FALSE(procs[0].approximate);
    EXPECT_EQ(procs[1].name, "PID 812");
    EXPECT_EQ(procs[2].name, "Finder");
    EXPECT_EQ(procs[3].pid, 901);
    EXPECT_TRUE(procs[3].approximate);
    EXPECT_EQ(procs[3].memory, 2048u * 1024);
    EXPECT_DOUBLE_EQ(procs[3].cpu, 3.5);
    EXPECT_DOUBLE_EQ(procs[3].energy, 3.5);
    EXPECT_EQ(procs[3].name, "Window Server Helper");

    // The buffers the calls were given.
    ASSERT_FALSE(fake.pathSizes.empty());
    for (uint32_t size : fake.pathSizes)
        EXPECT_EQ(size, 4096u);
    ASSERT_FALSE(fake.nameSizes.empty());
    for (uint32_t size : fake.nameSizes)
        EXPECT_EQ(size, 33u);
}

bool TLReadBundleInfo(const std::string& bundlePath, TLBundleInfo& out) {
    bundlesRead.push_back(bundlePath);
    const auto it = bundleInfos.find(bundlePath);
    if (it == bundleInfos.end()) return false;
    out = it->second;
    return true;
}

TEST_F(LibprocTest, HelpersBelongToTheOutermostBundleReadOncePerBundle) {
    EXPECT_EQ(TLOutermostAppBundle("/Applications/Firefox.app/Contents/MacOS/plugin-container.app/"
                                   "Contents/MacOS/plugin-container"),
              "/Applications/Firefox.app");
    for (const char* none : {"/usr/bin/make", "relative/X.app/Contents/MacOS/x", "/Foo.app", "",
                             "/.app/Contents/MacOS/x"})
        EXPECT_EQ(TLOutermostAppBundle(none), "") << none;

    bundleInfos = {{"/Applications/Firefox.app", {"org.mozilla.firefox", "", "Firefox", "firefox"}},
                   {"/Applications/Notes.app", {"", "备忘录", "Notes", "a/b.icns"}}};
    bundlesRead.clear();
    fake.pidCount = 5;
    fake.pids = {10, 11, 12, 13, 14};
    const std::string firefox = "/Applications/Firefox.app/Contents/MacOS/";
    fake.procs[10] = {usage(0, 0, 0, 4 << 20), firefox + "firefox", "firefox"};
    fake.procs[11] = {usage(0, 0, 0, 2 << 20),
                      firefox + "plugin-container.app/Contents/MacOS/plugin-container", "p"};
    fake.procs[12] = {usage(0, 0, 0, 1 << 20), "/Applications/Notes.app/Contents/MacOS/Notes", "N"};
    fake.procs[13] = {usage(0, 0, 0, 1 << 20), "/Applications/Gone.app/Contents/MacOS/Gone", "G"};
    fake.procs[14] = {usage(0, 0, 0, 1 << 20), "/bin/zsh", "zsh"};
    TLMetrics m(nullptr, std::make_unique<TLLibprocProcessSource>(), nullptr);
    for (int round = 0; round < 2; ++round) {
        const std::vector<TLProc> procs = m.sampleProcesses();
        ASSERT_EQ(procs.size(), 5u);
        EXPECT_EQ(procs[0].app, procs[1].app); // one object for one application
        EXPECT_EQ(procs[0].app->key, "app:org.mozilla.firefox");
        EXPECT_EQ(procs[0].app->name, "Firefox");
        EXPECT_EQ(procs[0].app->icon, "/Applications/Firefox.app/Contents/Resources/firefox.icns");
        EXPECT_EQ(procs[2].app->key, "app:/Applications/Notes.app"); // no identifier
        EXPECT_EQ(procs[2].app->name, "备忘录");
        EXPECT_EQ(procs[2].app->icon, ""); // an icon outside the resources is not taken
        EXPECT_EQ(procs[3].app->key, "exe:/Applications/Gone.app/Contents/MacOS/Gone");
        EXPECT_EQ(procs[4].app->key, "exe:/bin/zsh");
        EXPECT_EQ(procs[4].app->name, "zsh");
    }
    EXPECT_EQ(bundlesRead,
              (std::vector<std::string>{"/Applications/Firefox.app", "/Applications/Notes.app",
                                        "/Applications/Gone.app"}));
    const TLAppIdentity unnamed = TLAppFromBundle("/Applications/Tool.app", {});
    EXPECT_EQ(unnamed.name, "Tool");
}
