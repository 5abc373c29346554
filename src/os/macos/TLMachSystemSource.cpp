#include "os/macos/TLMachSystemSource.h"

#include <memory>

TLVMCounters TLVMCountersFromMach(const vm_statistics64_data_t& vm) {
    TLVMCounters c;
    c.internalPages = static_cast<uint64_t>(vm.internal_page_count);
    c.purgeablePages = static_cast<uint64_t>(vm.purgeable_count);
    c.wirePages = static_cast<uint64_t>(vm.wire_count);
    c.compressorPages = static_cast<uint64_t>(vm.compressor_page_count);
    c.externalPages = static_cast<uint64_t>(vm.external_page_count);
    return c;
}

TLSwapUsage TLSwapUsageFromMach(const struct xsw_usage& swap) {
    TLSwapUsage s;
    s.total = static_cast<uint64_t>(swap.xsu_total);
    s.used = static_cast<uint64_t>(swap.xsu_used);
    return s;
}

TLCPUTicks TLCPUTicksFromMach(const host_cpu_load_info_data_t& load) {
    TLCPUTicks t;
    t.user = static_cast<uint64_t>(load.cpu_ticks[CPU_STATE_USER]);
    t.system = static_cast<uint64_t>(load.cpu_ticks[CPU_STATE_SYSTEM]);
    t.idle = static_cast<uint64_t>(load.cpu_ticks[CPU_STATE_IDLE]);
    t.nice = static_cast<uint64_t>(load.cpu_ticks[CPU_STATE_NICE]);
    return t;
}

TLMachSystemSource::TLMachSystemSource() : _host(mach_host_self()) {}

TLMachSystemSource::~TLMachSystemSource() {
    if (_host != MACH_PORT_NULL) mach_port_deallocate(mach_task_self(), _host);
}

uint64_t TLMachSystemSource::pageSize() {
    vm_size_t size = 0;
    host_page_size(_host, &size); // only whether it left 0 matters
    if (size == 0) size = vm_kernel_page_size;
    return static_cast<uint64_t>(size);
}

uint64_t TLMachSystemSource::physicalMemory() {
    uint64_t bytes = 0;
    size_t length = sizeof bytes;
    if (sysctlbyname("hw.memsize", &bytes, &length, nullptr, 0) != 0) return 0;
    return bytes;
}

bool TLMachSystemSource::readVM(TLVMCounters& out) {
    vm_statistics64_data_t vm{};
    mach_msg_type_number_t count = HOST_VM_INFO64_COUNT;
    if (host_statistics64(_host, HOST_VM_INFO64, reinterpret_cast<host_info64_t>(&vm), &count) !=
        KERN_SUCCESS)
        return false;
    out = TLVMCountersFromMach(vm);
    return true;
}

bool TLMachSystemSource::readSwap(TLSwapUsage& out) {
    struct xsw_usage swap {};
    size_t length = sizeof swap;
    if (sysctlbyname("vm.swapusage", &swap, &length, nullptr, 0) != 0) return false;
    out = TLSwapUsageFromMach(swap);
    return true;
}

bool TLMachSystemSource::readPressureLevel(TLPressureLevel& level) {
    int32_t value = 1;
    size_t length = sizeof value;
    if (sysctlbyname("kern.memorystatus_vm_pressure_level", &value, &length, nullptr, 0) != 0)
        return false;
    level = static_cast<TLPressureLevel>(value);
    return true;
}

bool TLMachSystemSource::readCPUTicks(TLCPUTicks& out) {
    host_cpu_load_info_data_t load{};
    mach_msg_type_number_t count = HOST_CPU_LOAD_INFO_COUNT;
    if (host_statistics(_host, HOST_CPU_LOAD_INFO, reinterpret_cast<host_info_t>(&load), &count) !=
        KERN_SUCCESS)
        return false;
    out = TLCPUTicksFromMach(load);
    return true;
}

#if defined(__APPLE__)
std::unique_ptr<TLSystemSource> TLMakeSystemSource() {
    return std::make_unique<TLMachSystemSource>();
}
#endif
