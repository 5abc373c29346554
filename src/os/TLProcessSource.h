#pragma once
#include "os/TLAppIdentity.h"

#include <cstdint>
#include <string>
#include <vector>

// Counters of one process, as read from the kernel's per-process accounting.
struct TLProcCounters {
    uint64_t cpuTimeNs = 0;   // user + system CPU time, nanoseconds
    uint64_t idleWakeups = 0; // cumulative wakeup count
    uint64_t footprint = 0;   // physical footprint, bytes
    uint64_t startTime = 0;   // when the process started (kernel units; 0 when unknown)
};

enum class TLInspectResult {
    Exact,   // counters filled in
    Failed,  // the process cannot be inspected (or vanished): the ps table may cover it
    Skipped, // not a user-visible process (a kernel thread), or one that has ended since it was
             // listed: left out of the sample altogether
};

// Per-process queries behind a process sample. Called on the process queue only.
class TLProcessSource {
public:
    virtual ~TLProcessSource() = default;
    // Every pid currently in the system; false when the list cannot be had.
    virtual bool listPids(std::vector<int32_t>& out) = 0;
    virtual TLInspectResult inspect(int32_t pid, TLProcCounters& out) = 0;
    // Full path of the executable; false (or empty) when it cannot be read.
    virtual bool executablePath(int32_t pid, std::string& out) = 0;
    // The kernel's short name of the process; false (or empty) when it cannot be read.
    virtual bool shortName(int32_t pid, std::string& out) = 0;
    // The application the process belongs to, by the desktop's account (Linux: the unit of its
    // cgroup and the desktop entry that unit names; macOS: the app bundle around `exePath`, its
    // executable). False where the desktop names none, or names a terminal emulator (what runs
    // in a terminal is not the terminal): the caller then takes the executable as the
    // application. Asked once per process: the answer does not change while it runs.
    virtual bool application(int32_t pid, const std::string& exePath, TLAppIdentity& out) {
        (void)pid, (void)exePath, (void)out;
        return false;
    }
    // Seconds on a monotonic clock.
    virtual double now() = 0;
    // Lets go of what the source keeps open between samples, when no sample is coming soon; the
    // next sample opens it again.
    virtual void releaseKeptFiles() {}
};
