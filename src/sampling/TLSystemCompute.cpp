#include "sampling/TLSystemCompute.h"

#include <algorithm>

TLSystemStats TLComputeSystemStats(const TLSystemInputs& in, TLCPUHistory& history) {
    TLSystemStats s;
    s.total = in.total;

    if (in.vmOK) {
        const uint64_t page = in.pageSize;
        const TLVMCounters& vm = in.vm;
        s.app = vm.internalPages > vm.purgeablePages ? (vm.internalPages - vm.purgeablePages) * page
                                                     : 0;
        s.wired = vm.wirePages * page;
        s.compressed = vm.compressorPages * page;
        s.cached = (vm.externalPages + vm.purgeablePages) * page;
    }

    s.used = std::min(s.app + s.wired + s.compressed, s.total);
    s.usagePercent =
        s.total == 0 ? 0.0 : static_cast<double>(s.used) * 100.0 / static_cast<double>(s.total);

    if (in.swapOK) {
        s.swapUsed = in.swap.used;
        s.swapTotal = in.swap.total;
    }

    s.pressureLevel = in.pressureOK ? in.pressureLevel : TLPressureLevel::Normal;

    if (in.stallOK) {
        // Where the kernel measures the time lost waiting for memory, that share is the pressure:
        // it stays near 0 while memory suffices, whatever the kernel holds, and climbs as soon as
        // reclaim, swapping or a cgroup's limit makes tasks wait.
        const double stall = in.stallPercent;
        s.pressurePercent = stall > 0 ? std::min(stall, 100.0) : 0.0; // NaN reads as 0
    } else {
        s.pressurePercent = s.total == 0
                                ? 0.0
                                : std::min(100.0, static_cast<double>(s.wired + s.compressed) *
                                                      100.0 / static_cast<double>(s.total));
    }

    if (!in.cpuOK) return s;

    if (history.hasPrev) {
        const TLCPUTicks& a = history.prev;
        const TLCPUTicks& b = in.cpu;
        // A counter may go backwards (iowait does, and a broken source may): such a term counts
        // as 0, so the load stays within 0 … 100.
        const auto delta = [](uint64_t from, uint64_t to) {
            return to > from ? static_cast<double>(to - from) : 0.0;
        };
        const double busy =
            delta(a.user, b.user) + delta(a.system, b.system) + delta(a.nice, b.nice);
        const double all = busy + delta(a.idle, b.idle);
        if (all > 0) s.cpuPercent = std::clamp(busy * 100.0 / all, 0.0, 100.0);
    }
    history.prev = in.cpu;
    history.hasPrev = true;
    return s;
}
