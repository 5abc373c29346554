#pragma once
#include "os/TLProcessSource.h"
#include "os/TLPsRunner.h"
#include "os/TLSystemSource.h"
#include "sampling/TLProc.h"
#include "sampling/TLSystemCompute.h"
#include "sampling/TLSystemStats.h"

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// The program's one sampling engine. `sampleSystem` runs on the main thread, `sampleProcesses` on
// the process queue; they touch disjoint fields, so the object needs no lock.
class TLMetrics {
public:
    // The one shared instance, reading the real system. Created on first use, thread-safe,
    // never released.
    static TLMetrics& shared();

    TLMetrics(std::unique_ptr<TLSystemSource> system, std::unique_ptr<TLProcessSource> processes,
              std::unique_ptr<TLPsRunner> ps);
    TLMetrics(const TLMetrics&) = delete;
    TLMetrics& operator=(const TLMetrics&) = delete;

    // A fresh system sample. Allocates nothing.
    TLSystemStats sampleSystem();

    // A fresh, unsorted list of processes. Never fails: an empty list when the pids cannot be
    // listed.
    std::vector<TLProc> sampleProcesses();
    // Closes the files the process sample keeps open between samples (on the process queue).
    void releaseProcessFiles();

private:
    // Previous cumulative counters of a process: CPU time (ns) and wakeups.
    using Counters = std::pair<uint64_t, uint64_t>;
    // A process, as opposed to a pid: the pid with the start time, so that a process that takes
    // over the pid of one that ended is a new process (start time 0 when unknown).
    struct ProcKey {
        int32_t pid = 0;
        uint64_t startTime = 0;
        bool operator==(const ProcKey&) const = default;
    };
    struct ProcKeyHash {
        size_t operator()(const ProcKey& k) const noexcept {
            return std::hash<uint64_t>()(k.startTime * 0x9E3779B97F4A7C15ULL ^
                                         static_cast<uint32_t>(k.pid));
        }
    };

    // What one process sample builds before it becomes the state (defined with the sample).
    struct ProcPass;
    // The steps of `sampleProcesses` after the interval is known: each pid inspected, in listing
    // order, and then the ps table for the processes that could not be inspected or named.
    void inspectPids(double dt, ProcPass& pass);
    void completeFromPs(ProcPass& pass);
    // The name of an inspected process: the cached one, else its executable's file name, else its
    // short name; false when none is usable. `scratch` is a buffer the calls of one sample share;
    // `pathRead` tells whether it now holds the executable's path, read for the name. From the
    // cache, `app` (when given) gets the application found with the name.
    bool resolveName(const TLProc& proc, std::string& name, std::string& scratch, bool& pathRead,
                     std::shared_ptr<const TLAppIdentity>* app);
    // The application of an inspected, named process not placed before: what the source says,
    // or else its executable (its name where that cannot be read). The path is read unless
    // `pathRead` says `scratch` holds it.
    std::shared_ptr<const TLAppIdentity> resolveApp(const TLProc& proc, std::string& scratch,
                                                    bool pathRead);

    std::unique_ptr<TLSystemSource> _system;
    std::unique_ptr<TLProcessSource> _processes;
    std::unique_ptr<TLPsRunner> _ps;

    // System sample state.
    TLCPUHistory _prevCPU;
    uint64_t _pageSize = 0;
    uint64_t _totalMem = 0;

    // Process sample state.
    std::unordered_map<ProcKey, Counters, ProcKeyHash> _prevProc;
    // What a process was found to be when it was first seen: its name and its application.
    using AppRef = std::shared_ptr<const TLAppIdentity>;
    struct Known {
        std::string name;
        AppRef app;
    };
    std::unordered_map<ProcKey, Known, ProcKeyHash> _nameCache;
    // One identity per application key, shared by its processes while any of them runs.
    std::unordered_map<std::string, std::weak_ptr<const TLAppIdentity>> _apps;
    double _prevProcTime = 0;
    std::vector<int32_t> _pids; // reused pid buffer
};

// Shortest interval between two process samples that gives a rate; closer calls report 0.
inline constexpr double TLMinProcInterval = 0.05;
// Weight of one idle wakeup per second in the energy score.
inline constexpr double TLWakeupEnergyWeight = 0.35;
