// libFuzzer harness for the procfs readers of the system sample: the input becomes /proc/meminfo,
// /proc/stat and /proc/pressure/memory of a fake tree (and the pid files, through their parsers),
// and every figure that comes out must be in its range. Built and run by scripts/fuzz.

#include "os/linux/TLProcfsProcessSource.h"
#include "os/linux/TLProcfsSystemSource.h"
#include "sampling/TLSystemCompute.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace {

const std::string& root() {
    static const std::string dir = [] {
        char tmpl[] = "/tmp/tide-procfs-fuzz-XXXXXX";
        const char* made = ::mkdtemp(tmpl);
        if (!made) std::abort();
        std::filesystem::create_directories(std::string(made) + "/proc/pressure");
        return std::string(made);
    }();
    return dir;
}

void put(const std::string& rel, std::string_view text) {
    std::ofstream(root() + rel, std::ios::trunc | std::ios::binary)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
}

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "procfs fault: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    put("/proc/meminfo", input);
    put("/proc/stat", input);
    put("/proc/pressure/memory", input);

    TLProcfsSystemSource source(root());
    TLSystemInputs in;
    in.pageSize = source.pageSize();
    in.total = source.physicalMemory();
    in.vmOK = source.readVM(in.vm);
    in.swapOK = source.readSwap(in.swap);
    in.pressureOK = source.readPressureLevel(in.pressureLevel);
    in.cpuOK = source.readCPUTicks(in.cpu);
    if (in.pressureOK)
        check(in.pressureLevel == TLPressureLevel::Normal ||
                  in.pressureLevel == TLPressureLevel::Warning ||
                  in.pressureLevel == TLPressureLevel::Critical,
              "pressure level");

    // Two samples, the second from the input's counters read backwards: the load stays in range
    // whichever way the counters moved.
    TLCPUHistory history;
    const TLSystemStats first = TLComputeSystemStats(in, history);
    std::swap(in.cpu.user, in.cpu.idle);
    const TLSystemStats second = TLComputeSystemStats(in, history);
    for (const TLSystemStats& s : {first, second}) {
        check(s.cpuPercent >= 0 && s.cpuPercent <= 100, "CPU load outside 0-100");
        check(s.usagePercent >= 0 && s.usagePercent <= 100, "usage outside 0-100");
        check(s.pressurePercent >= 0 && s.pressurePercent <= 100, "pressure outside 0-100");
        check(s.used <= s.total, "used above total");
    }

    // The per-process parsers on the same text.
    uint64_t ticks = 0, start = 0, footprint = 0, wakeups = 0;
    bool kthread = false;
    TLParseProcStat(input, ticks, kthread, start);
    TLParseProcStatus(input, footprint, wakeups);
    return 0;
}
