#pragma once
// Stand-ins for the Darwin interfaces that the macOS sampling sources call, so that those sources
// build and run on Linux in the unit tests. Names and argument lists follow Apple's public
// documentation of the Mach host interface, sysctl and libproc; only the record fields the
// sources read are declared. The functions are defined by the tests (macos_sampling_test.cpp),
// which decide what each call returns and record what it was given. Never part of a macOS build.

#include <cstddef>
#include <cstdint>

using kern_return_t = int;
using natural_t = unsigned int;
using integer_t = int;
using mach_port_t = unsigned int;
using host_t = mach_port_t;
using ipc_space_t = mach_port_t;
using mach_port_name_t = natural_t;
using mach_msg_type_number_t = natural_t;
using host_flavor_t = integer_t;
using vm_size_t = uintptr_t;
using host_info_t = integer_t*;
using host_info64_t = integer_t*;

inline constexpr kern_return_t KERN_SUCCESS = 0;
inline constexpr kern_return_t KERN_FAILURE = 5;
inline constexpr mach_port_t MACH_PORT_NULL = 0;

inline constexpr host_flavor_t HOST_CPU_LOAD_INFO = 3;
inline constexpr host_flavor_t HOST_VM_INFO64 = 4;

inline constexpr int CPU_STATE_USER = 0;
inline constexpr int CPU_STATE_SYSTEM = 1;
inline constexpr int CPU_STATE_IDLE = 2;
inline constexpr int CPU_STATE_NICE = 3;
inline constexpr int CPU_STATE_MAX = 4;

struct vm_statistics64 {
    natural_t free_count;
    natural_t active_count;
    natural_t inactive_count;
    natural_t wire_count;
    natural_t purgeable_count;
    natural_t compressor_page_count;
    natural_t external_page_count;
    natural_t internal_page_count;
};
using vm_statistics64_data_t = vm_statistics64;

struct host_cpu_load_info {
    natural_t cpu_ticks[CPU_STATE_MAX];
};
using host_cpu_load_info_data_t = host_cpu_load_info;

// The counts the real headers give (in 32-bit words of the real records).
inline constexpr mach_msg_type_number_t HOST_VM_INFO64_COUNT = 38;
inline constexpr mach_msg_type_number_t HOST_CPU_LOAD_INFO_COUNT = 4;

struct xsw_usage {
    uint64_t xsu_total;
    uint64_t xsu_avail;
    uint64_t xsu_used;
    uint32_t xsu_pagesize;
    int xsu_encrypted;
};

struct mach_timebase_info {
    uint32_t numer;
    uint32_t denom;
};
using mach_timebase_info_data_t = mach_timebase_info;
using mach_timebase_info_t = mach_timebase_info*;

inline constexpr int RUSAGE_INFO_V4 = 4;
using rusage_info_t = void*;
struct rusage_info_v4 {
    uint64_t ri_user_time;
    uint64_t ri_system_time;
    uint64_t ri_pkg_idle_wkups;
    uint64_t ri_interrupt_wkups;
    uint64_t ri_phys_footprint;
    uint64_t ri_proc_start_abstime;
};

extern "C" {
mach_port_t mach_host_self(void);
mach_port_t tl_fake_mach_task_self(void);
kern_return_t mach_port_deallocate(ipc_space_t task, mach_port_name_t name);
kern_return_t host_page_size(host_t host, vm_size_t* size);
extern vm_size_t vm_kernel_page_size;
kern_return_t host_statistics(host_t host, host_flavor_t flavor, host_info_t info,
                              mach_msg_type_number_t* count);
kern_return_t host_statistics64(host_t host, host_flavor_t flavor, host_info64_t info,
                                mach_msg_type_number_t* count);
kern_return_t mach_timebase_info(mach_timebase_info_t info);
int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, void* newp, size_t newlen);
int proc_listallpids(void* buffer, int buffersize);
int proc_pid_rusage(int pid, int flavor, rusage_info_t* buffer);
int proc_pidpath(int pid, void* buffer, uint32_t buffersize);
int proc_name(int pid, void* buffer, uint32_t buffersize);
}

// mach_task_self() is a macro over a variable on macOS; a function does here.
#define mach_task_self() tl_fake_mach_task_self()
