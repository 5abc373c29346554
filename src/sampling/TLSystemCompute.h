#pragma once
#include "os/TLSystemSource.h"
#include "sampling/TLSystemStats.h"

// Everything a system sample is computed from. A query that failed has its `...OK` flag false.
struct TLSystemInputs {
    uint64_t pageSize = 0;
    uint64_t total = 0;
    bool vmOK = false;
    TLVMCounters vm;
    bool swapOK = false;
    TLSwapUsage swap;
    bool pressureOK = false;
    TLPressureLevel pressureLevel = TLPressureLevel::Normal;
    bool stallOK = false;
    double stallPercent = 0; // share of time tasks waited for memory, where measured
    bool cpuOK = false;
    TLCPUTicks cpu;
};

// The CPU counters carried from one system sample to the next.
struct TLCPUHistory {
    TLCPUTicks prev;
    bool hasPrev = false;
};

// Turns raw counters into a sample. Pure but for `history`, which it reads and advances when the
// CPU query succeeded.
TLSystemStats TLComputeSystemStats(const TLSystemInputs& in, TLCPUHistory& history);
