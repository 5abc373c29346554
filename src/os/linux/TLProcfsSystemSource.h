#pragma once
#include "os/TLSystemSource.h"
#include "os/posix/TLFd.h"

#include <string>
#include <vector>

// The system sample on Linux, from procfs and sysfs. Files stay open and are re-read with pread
// into fixed buffers, so a sample opens nothing and allocates nothing. Which kernel figure feeds
// which of the memory formulas' inputs: docs/sampling-on-linux.md.
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
