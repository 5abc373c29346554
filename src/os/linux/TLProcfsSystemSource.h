#pragma once
#include "os/posix/TLFd.h"
#include "os/TLSystemSource.h"

#include <string>
#include <vector>

// The system sample on Linux, from procfs and sysfs. Files stay open and are re-read with pread
// into fixed buffers, so a sample opens nothing and allocates nothing.
//
// Mapping of the kernel's figures onto the memory formulas' inputs (all /proc/meminfo, in KiB):
//   page size       sysconf(_SC_PAGESIZE)
//   total           MemTotal, read once
//   used            MemTotal - MemAvailable: what free(1), GNOME and KDE call used memory
//   wire            SUnreclaim + KernelStack + PageTables + SecPageTables + Percpu: kernel memory
//                   that cannot be reclaimed (Unevictable and Mlocked pages already sit inside the
//                   anonymous and file lists, so they are not added)
//   compressor      Zswap (the zswap pool) + the memory zram devices use (mm_stat mem_used_total)
//   internal (app)  used - wire - compressor, never below 0
//   purgeable       0: Linux has no purgeable memory
//   external        MemAvailable - MemFree: the cache the kernel will hand back on demand. With it,
//   (cached)        app + wired + compressed + cached + MemFree = MemTotal, so the composition bar
//                   tiles the whole memory with the free part as its remainder.
//   swap            SwapTotal, SwapTotal - SwapFree
//   pressure level  /proc/pressure/memory: 4 when "full avg10" >= 5, 2 when "some avg10" >= 5,
//                   else 1; no PSI (older kernels, or disabled) counts as a failed query
//   pressure %      "some avg10" of the same read: the share of the last 10 seconds in which at
//                   least one task waited for memory (reclaim, swap-in, a cgroup's memory.high).
//                   The share of wired and compressed memory, the other platform's figure, stays
//                   near 0 on Linux without zram or zswap whatever happens, so it does not serve.
//   CPU ticks       the "cpu" line of /proc/stat: user; system + irq + softirq + steal;
//                   idle + iowait; nice (guest time is already inside user and nice)
class TLProcfsSystemSource final : public TLSystemSource {
public:
    // `root` prefixes every path ("" for the real system; tests point it at a fake tree).
    explicit TLProcfsSystemSource(std::string root = "");

    uint64_t pageSize() override;
    uint64_t physicalMemory() override;
    bool readVM(TLVMCounters& out) override;
    bool readSwap(TLSwapUsage& out) override;
    bool readPressureLevel(TLPressureLevel& level) override;
    bool readMemoryStall(double& percent) override;
    bool readCPUTicks(TLCPUTicks& out) override;

private:
    bool readMeminfo();
    bool readPSI();
    uint64_t zramBytes();

    TLFd _meminfo;
    TLFd _stat;
    TLFd _pressure;
    std::vector<TLFd> _zram;
    uint64_t _pageSize = 4096;
    char _buf[8192];
    long _len = 0;
    bool _meminfoFresh = false; // _buf holds a meminfo read that readSwap has not used yet
    // The swap lines of the last meminfo parse (KiB).
    uint64_t _swapTotal = 0;
    uint64_t _swapFree = 0;
    bool _swapFound = false;
    double _psiSome = 0, _psiFull = 0;
    bool _psiFresh = false; // a PSI read that readMemoryStall has not used yet
};
