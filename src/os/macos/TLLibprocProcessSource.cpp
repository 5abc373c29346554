#include "os/macos/TLLibprocProcessSource.h"

#include "os/macos/TLBundleInfo.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <new>
#include <numeric>

namespace {

constexpr int kSpareSlots = 128;
constexpr int kSlotsWithoutCount = 1152;
constexpr uint32_t kPathBufferSize = 4096; // PROC_PIDPATHINFO_MAXSIZE
constexpr uint32_t kNameBufferSize = 33;   // 2 * MAXCOMLEN + 1

// Mach absolute time units to nanoseconds, without overflow for any 64-bit count.
uint64_t toNanoseconds(uint64_t units, uint64_t numer, uint64_t denom) {
    if (numer == denom || denom == 0) return units;
    const uint64_t whole = units / denom;
    const uint64_t rest = units % denom;
    return whole * numer + rest * numer / denom;
}

} // namespace

int TLPidCapacity(int count) {
    return count > 0 ? count + kSpareSlots : kSlotsWithoutCount;
}

TLProcCounters TLProcCountersFromRusage(const struct rusage_info_v4& info, uint64_t timebaseNumer,
                                        uint64_t timebaseDenom) {
    TLProcCounters c;
    c.cpuTimeNs = toNanoseconds(static_cast<uint64_t>(info.ri_user_time) +
                                    static_cast<uint64_t>(info.ri_system_time),
                                timebaseNumer, timebaseDenom);
    c.idleWakeups = static_cast<uint64_t>(info.ri_pkg_idle_wkups);
    c.footprint = static_cast<uint64_t>(info.ri_phys_footprint);
    c.startTime = static_cast<uint64_t>(info.ri_proc_start_abstime);
    return c;
}

TLLibprocProcessSource::TLLibprocProcessSource() {
    // The timer's true rate: under Rosetta mach_timebase_info claims 1/1 while the kernel still
    // counts the hardware's ticks, so the frequency is asked for first.
    uint64_t frequency = 0;
    size_t length = sizeof frequency;
    if (sysctlbyname("hw.tbfrequency", &frequency, &length, nullptr, 0) == 0 &&
        length == sizeof frequency && frequency > 0) {
        const uint64_t common = std::gcd(uint64_t{1'000'000'000}, frequency);
        _timebaseNumer = 1'000'000'000 / common;
        _timebaseDenom = frequency / common;
        return;
    }
    mach_timebase_info_data_t timebase{};
    if (mach_timebase_info(&timebase) == KERN_SUCCESS && timebase.numer != 0 &&
        timebase.denom != 0) {
        _timebaseNumer = timebase.numer;
        _timebaseDenom = timebase.denom;
    }
}

bool TLLibprocProcessSource::listPids(std::vector<int32_t>& out) {
    const int capacity = TLPidCapacity(proc_listallpids(nullptr, 0));
    try {
        out.assign(static_cast<size_t>(capacity), 0);
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    const int listed = proc_listallpids(out.data(), capacity * static_cast<int>(sizeof(int32_t)));
    if (listed <= 0) {
        out.clear();
        return false;
    }
    out.resize(static_cast<size_t>(std::min(listed, capacity)));
    return true;
}

TLInspectResult TLLibprocProcessSource::inspect(int32_t pid, TLProcCounters& out) {
    struct rusage_info_v4 info {};
    if (proc_pid_rusage(pid, RUSAGE_INFO_V4, reinterpret_cast<rusage_info_t*>(&info)) != 0)
        return TLInspectResult::Failed;
    out = TLProcCountersFromRusage(info, _timebaseNumer, _timebaseDenom);
    return TLInspectResult::Exact;
}

bool TLLibprocProcessSource::executablePath(int32_t pid, std::string& out) {
    char buf[kPathBufferSize];
    if (proc_pidpath(pid, buf, sizeof buf) <= 0) return false;
    buf[sizeof buf - 1] = '\0';
    out.assign(buf);
    return !out.empty();
}

bool TLLibprocProcessSource::shortName(int32_t pid, std::string& out) {
    char buf[kNameBufferSize];
    if (proc_name(pid, buf, sizeof buf) <= 0) return false;
    buf[sizeof buf - 1] = '\0';
    out.assign(buf);
    return !out.empty();
}

double TLLibprocProcessSource::now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

#if defined(__APPLE__)
std::unique_ptr<TLProcessSource> TLMakeProcessSource() {
    return std::make_unique<TLLibprocProcessSource>();
}
#endif

bool TLLibprocProcessSource::application(int32_t, const std::string& exePath, TLAppIdentity& out) {
    const std::string bundle = TLOutermostAppBundle(exePath);
    if (bundle.empty()) return false;
    auto [it, added] = _bundles.try_emplace(bundle);
    if (added) {
        TLBundleInfo info;
        if (TLReadBundleInfo(bundle, info)) it->second = TLAppFromBundle(bundle, info);
    }
    if (!it->second) return false;
    out = *it->second;
    return true;
}
