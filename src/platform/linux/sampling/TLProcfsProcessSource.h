#pragma once
#include "TLFd.h"
#include "platform/TLProcessSource.h"

#include <string>

// Per-process figures on Linux, from /proc/PID. Mapping onto the process sample's inputs:
//   CPU time      utime + stime of /proc/PID/stat (fields 14 and 15, clock ticks), in ns
//   wakeups       voluntary_ctxt_switches of /proc/PID/status: the times the process gave up the
//                 CPU to wait, the closest kernel figure to idle wakeups. The kernel reports it
//                 for the main thread only, so a process whose worker threads do the waking is
//                 undercounted.
//   footprint     RssAnon + RssShmem + VmSwap of /proc/PID/status: the memory the process itself
//                 owns, resident or swapped out, without the file pages it merely maps
//   path, name    /proc/PID/exe (link target), /proc/PID/comm
// Kernel threads (PF_KTHREAD in the stat flags) have no memory and cannot be ended by the user:
// they are skipped. A pid whose stat or status cannot be read counts as not inspectable.
class TLProcfsProcessSource final : public TLProcessSource {
public:
    explicit TLProcfsProcessSource(std::string procRoot = "/proc");

    bool listPids(std::vector<int32_t>& out) override;
    TLInspectResult inspect(int32_t pid, TLProcCounters& out) override;
    bool executablePath(int32_t pid, std::string& out) override;
    bool shortName(int32_t pid, std::string& out) override;
    double now() override;

private:
    std::string _root;
    TLFd _procDir;
    uint64_t _nsPerTick = 10'000'000;
};

// The pure parsers behind `inspect`, for tests.
// From the text of /proc/PID/stat: CPU time in clock ticks, the kernel-thread flag and the start
// time (clock ticks after boot).
bool TLParseProcStat(std::string_view text, uint64_t& ticks, bool& kernelThread,
                     uint64_t& startTime);
bool TLParseProcStat(std::string_view text, uint64_t& ticks, bool& kernelThread);
// From the text of /proc/PID/status: footprint in bytes and voluntary context switches.
bool TLParseProcStatus(std::string_view text, uint64_t& footprint, uint64_t& wakeups);
