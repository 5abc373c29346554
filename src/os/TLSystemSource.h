#pragma once
#include "os/TLPressureLevel.h"
#include <cstdint>

// Raw inputs of a system sample, in the units the memory formulas take: page counts and the page
// size. Each platform maps its own counters onto these (see the Linux source for its mapping).
struct TLVMCounters {
    uint64_t internalPages = 0;   // anonymous memory (app memory before purgeable is taken off)
    uint64_t purgeablePages = 0;  // memory an application marked as reclaimable
    uint64_t wirePages = 0;       // memory the kernel cannot reclaim
    uint64_t compressorPages = 0; // memory occupied by compressed pages
    uint64_t externalPages = 0;   // file-backed cache
};

struct TLSwapUsage {
    uint64_t total = 0;
    uint64_t used = 0;
};

// Cumulative CPU ticks of all processors together: user, system, idle, nice.
struct TLCPUTicks {
    uint64_t user = 0;
    uint64_t system = 0;
    uint64_t idle = 0;
    uint64_t nice = 0;
};

// The system queries behind a system sample. Implementations read the OS; tests use fakes.
// Every read is called on the main thread once per tick and must not allocate.
class TLSystemSource {
public:
    virtual ~TLSystemSource() = default;
    // Page size in bytes (fixed for the life of the program).
    virtual uint64_t pageSize() = 0;
    // Physical memory in bytes; 0 when it cannot be read.
    virtual uint64_t physicalMemory() = 0;
    virtual bool readVM(TLVMCounters& out) = 0;
    virtual bool readSwap(TLSwapUsage& out) = 0;
    virtual bool readPressureLevel(TLPressureLevel& level) = 0;
    // How much of the recent past tasks spent waiting for memory, in percent, where the kernel
    // measures it (Linux: the "some avg10" share of /proc/pressure/memory). False elsewhere: the
    // pressure percentage is then the share of memory that is wired or compressed.
    virtual bool readMemoryStall(double& percent) {
        (void)percent;
        return false;
    }
    virtual bool readCPUTicks(TLCPUTicks& out) = 0;
};
