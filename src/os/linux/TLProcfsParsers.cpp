// The pure parsers of /proc/PID/stat, /proc/PID/status and schedstat behind
// TLProcfsProcessSource::inspect.
#include "os/linux/TLProcfsProcessSource.h"

#include "os/linux/TLProcText.h"

namespace {
constexpr uint64_t kPFKthread = 0x00200000; // PF_KTHREAD
}

bool TLParseProcStat(std::string_view text, uint64_t& ticks, bool& kernelThread,
                     uint64_t& startTime) {
    // "pid (comm) state ppid ..." — comm may hold spaces and parentheses: skip to the last ')'.
    const size_t close = text.rfind(')');
    if (close == std::string_view::npos) return false;
    std::string_view s = text.substr(close + 1);
    // Fields from 3 (state) on; flags is field 9, utime 14, stime 15.
    uint64_t flags = 0, utime = 0, stime = 0;
    for (int field = 3; field <= 15; ++field) {
        std::string_view f = TLNextField(s);
        if (f.empty()) return false;
        uint64_t v = 0;
        if (field == 9 || field == 14 || field == 15) {
            if (!TLScanU64(f, v)) return false;
            if (field == 9)
                flags = v;
            else if (field == 14)
                utime = v;
            else
                stime = v;
        }
    }
    // Start time (field 22): kernels have reported it since 2.6; without it the identity is 0.
    uint64_t start = 0;
    for (int field = 16; field <= 22; ++field) {
        std::string_view f = TLNextField(s);
        if (f.empty()) break;
        if (field == 22 && !TLScanU64(f, start)) start = 0;
    }
    if (__builtin_add_overflow(utime, stime, &ticks)) ticks = UINT64_MAX;
    kernelThread = (flags & kPFKthread) != 0;
    startTime = start;
    return true;
}

bool TLParseProcStat(std::string_view text, uint64_t& ticks, bool& kernelThread) {
    uint64_t startTime = 0;
    return TLParseProcStat(text, ticks, kernelThread, startTime);
}

bool TLParseProcStatus(std::string_view text, uint64_t& footprint, uint64_t& wakeups) {
    uint64_t threads = 0;
    return TLParseProcStatus(text, footprint, wakeups, threads);
}

bool TLParseProcStatus(std::string_view text, uint64_t& footprint, uint64_t& wakeups,
                       uint64_t& threads) {
    bool hasMemory = false;
    return TLParseProcStatus(text, footprint, wakeups, threads, hasMemory);
}

bool TLParseProcStatus(std::string_view text, uint64_t& footprint, uint64_t& wakeups,
                       uint64_t& threads, bool& hasMemory) {
    // A process without a memory map (a zombie) has none of the three memory lines: 0 bytes.
    TLKeyValue fields[] = {
        {"Threads", 1}, {"RssAnon"}, {"RssShmem"}, {"VmSwap"}, {"voluntary_ctxt_switches"}};
    TLFindKeyValues(text, fields);
    if (!fields[4].found) return false;
    const uint64_t anon = fields[1].value, shmem = fields[2].value, swap = fields[3].value;
    // Saturating: absurd counters must not wrap round to small ones.
    uint64_t kib = 0, bytes = 0;
    if (__builtin_add_overflow(anon, shmem, &kib) || __builtin_add_overflow(kib, swap, &kib) ||
        __builtin_mul_overflow(kib, uint64_t{1024}, &bytes))
        bytes = UINT64_MAX;
    footprint = bytes;
    wakeups = fields[4].value;
    threads = fields[0].value;
    hasMemory = fields[1].found;
    return true;
}

bool TLParseSchedstat(std::string_view text, uint64_t& runTime, uint64_t& waitTime,
                      uint64_t& runs) {
    uint64_t v[3];
    for (uint64_t& f : v)
        if (!TLScanU64(text, f)) return false;
    runTime = v[0];
    waitTime = v[1];
    runs = v[2];
    return true;
}
