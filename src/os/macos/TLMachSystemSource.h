#pragma once
#include "os/TLSystemSource.h"
#include "os/macos/TLDarwinAPI.h"

// The system sample on macOS, from the Mach host statistics and sysctl:
//   page size       host_page_size, or vm_kernel_page_size when that leaves 0
//   total           hw.memsize, read once
//   pages           host_statistics64 HOST_VM_INFO64: internal_page_count, purgeable_count,
//                   wire_count, compressor_page_count, external_page_count (32-bit counters,
//                   widened before any arithmetic)
//   swap            vm.swapusage: xsu_total, xsu_used
//   pressure level  kern.memorystatus_vm_pressure_level (1 normal, 2 warning, 4 critical),
//                   read into a value preset to 1
//   CPU ticks       host_statistics HOST_CPU_LOAD_INFO: user, system, idle, nice. The kernel's
//                   counters are 32-bit: the sample after one wraps sees a negative difference
//                   and reports 0 % that once
// The host port is taken once and released with the source, so a sample asks the kernel for no
// new port and allocates nothing.
class TLMachSystemSource final : public TLSystemSource {
public:
    TLMachSystemSource();
    ~TLMachSystemSource() override;
    TLMachSystemSource(const TLMachSystemSource&) = delete;
    TLMachSystemSource& operator=(const TLMachSystemSource&) = delete;

    uint64_t pageSize() override;
    uint64_t physicalMemory() override;
    bool readVM(TLVMCounters& out) override;
    bool readSwap(TLSwapUsage& out) override;
    bool readPressureLevel(TLPressureLevel& level) override;
    bool readCPUTicks(TLCPUTicks& out) override;

private:
    mach_port_t _host;
};

// The conversions from the kernel's records to the sample's inputs.
TLVMCounters TLVMCountersFromMach(const vm_statistics64_data_t& vm);
TLSwapUsage TLSwapUsageFromMach(const struct xsw_usage& swap);
TLCPUTicks TLCPUTicksFromMach(const host_cpu_load_info_data_t& load);
