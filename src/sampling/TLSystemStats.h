#pragma once
#include "os/TLPressureLevel.h"

#include <cstdint>

// One system sample, a plain value passed by value. Byte counts are unsigned 64-bit;
// percentages are doubles from 0 to 100.
struct TLSystemStats {
    uint64_t total = 0;      // physical memory
    uint64_t app = 0;        // memory of applications (anonymous, not purgeable)
    uint64_t wired = 0;      // memory the kernel holds and cannot reclaim
    uint64_t compressed = 0; // memory occupied by the compressor
    uint64_t cached = 0;     // file cache that can be reclaimed
    uint64_t used = 0;       // min(app + wired + compressed, total)
    uint64_t swapUsed = 0;
    uint64_t swapTotal = 0;
    TLPressureLevel pressureLevel{}; // none until sampled
    double pressurePercent = 0; // time lost waiting for memory where the kernel measures it
                                // (Linux PSI), else the share of memory wired or compressed
    double usagePercent = 0;    // used * 100 / total
    double cpuPercent = 0;      // busy share of all CPU ticks since the previous sample
};
