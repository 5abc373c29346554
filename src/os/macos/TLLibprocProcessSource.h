#pragma once
#include "os/TLProcessSource.h"
#include "os/macos/TLDarwinAPI.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// Per-process figures on macOS, from libproc:
//   pids         proc_listallpids: first the count, then a buffer with 128 spare slots for the
//                processes started in between (1152 slots when no count is available)
//   counters     proc_pid_rusage RUSAGE_INFO_V4: ri_user_time + ri_system_time, ri_pkg_idle_wkups,
//                ri_phys_footprint, ri_proc_start_abstime. The CPU times count Mach absolute
//                time units, which are nanoseconds on Intel Macs but 41.67 ns each on Apple
//                silicon: they are converted with the timer's frequency (hw.tbfrequency, or
//                mach_timebase_info where that cannot be read).
//   path, name   proc_pidpath (a 4096-byte buffer), proc_name (33 bytes)
//   application  the outermost app bundle around the path, by its Info dictionary (read once
//                per bundle)
// A pid that proc_pid_rusage refuses (another user's process, or one that has just ended) counts
// as not inspectable: the ps table may cover it.
class TLLibprocProcessSource final : public TLProcessSource {
public:
    TLLibprocProcessSource();

    bool listPids(std::vector<int32_t>& out) override;
    TLInspectResult inspect(int32_t pid, TLProcCounters& out) override;
    bool executablePath(int32_t pid, std::string& out) override;
    bool shortName(int32_t pid, std::string& out) override;
    double now() override;
    bool application(int32_t pid, const std::string& exePath, TLAppIdentity& out) override;

private:
    // Each bundle's application, or none where the bundle could not be read.
    std::unordered_map<std::string, std::optional<TLAppIdentity>> _bundles;
    // Mach absolute time units to nanoseconds: × numer ÷ denom.
    uint64_t _timebaseNumer = 1;
    uint64_t _timebaseDenom = 1;
};

// The conversion of one process's resource usage record, with the host's timebase.
TLProcCounters TLProcCountersFromRusage(const struct rusage_info_v4& info, uint64_t timebaseNumer,
                                        uint64_t timebaseDenom);

// How many pid slots to offer proc_listallpids for a count it reported.
int TLPidCapacity(int count);
