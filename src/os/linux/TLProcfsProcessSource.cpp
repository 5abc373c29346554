#include "os/linux/TLProcfsProcessSource.h"

#include "os/linux/TLProcText.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

TLProcfsProcessSource::TLProcfsProcessSource(std::string procRoot) : _root(std::move(procRoot)) {
    _procDir.reset(::open(_root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const long hz = ::sysconf(_SC_CLK_TCK);
    if (hz > 0) _nsPerTick = 1'000'000'000ULL / static_cast<uint64_t>(hz);
    // Descriptors below 1024 are what code built on select() can wait on: under a limit that
    // leaves room above them, the kept files go there and may be many (one a thread).
    constexpr size_t kSelectLimit = 1024;
    rlimit files{};
    size_t limit = 1024;
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0)
        limit = files.rlim_cur == RLIM_INFINITY ? SIZE_MAX : static_cast<size_t>(files.rlim_cur);
    if (limit > 4 * kSelectLimit) {
        _heldLimit = std::min<size_t>(16384, (limit - kSelectLimit) / 2);
        _heldFloor = static_cast<int>(kSelectLimit);
    } else {
        _heldLimit = std::min<size_t>(256, limit / 4);
    }
}

namespace {
// After a failed read: the process ended since it was listed (it is simply gone, and ps would
// not know it either), rather than hidden from us.
TLInspectResult failure() {
    return errno == ENOENT || errno == ESRCH ? TLInspectResult::Skipped : TLInspectResult::Failed;
}
} // namespace

TLInspectResult TLProcfsProcessSource::inspect(int32_t pid, TLProcCounters& out) {
    const auto listed = _listedEntry.find(pid);
    const uint64_t entry = listed == _listedEntry.end() ? 0 : listed->second;
    if (entry != 0) {
        const auto known = _kernelThreads.find(pid);
        if (known != _kernelThreads.end() && known->second == entry)
            return TLInspectResult::Skipped;
    }
    HeldProcess& held = _held[pid];
    if (held.entry != entry) {
        releaseProcessFiles(held);
        held.entry = entry;
        held.threads.clear();
        held.threadsListed = 0;
        held.armed = false;
        held.noSchedstat = false;
        held.snapshot = 0;
    }
    const uint64_t reading = ++_inspections;
    char path[32];
    long n = 0;

    // The main thread's schedstat, and the other threads' through their kept files, before
    // anything else: what runs after these reads shows as a change next time.
    Schedstat main;
    bool schedstat = false, bound = false, missing = false;
    if (_processGate && !held.noSchedstat && (held.sched.valid() || _heldCount < _heldLimit)) {
        std::snprintf(path, sizeof path, "%d/schedstat", pid);
        if (held.sched.valid()) {
            n = readText(held.sched.get());
            bound = n >= 0;
            if (!bound) release(held.sched); // the process has ended: by name below
        }
        if (!bound) {
            errno = 0;
            n = readHeld(held.sched, _procDir.get(), path);
            missing = n < 0 && errno == ENOENT;
        }
        schedstat = n > 0 && TLParseSchedstat({_text.data(), static_cast<size_t>(n)}, main.runTime,
                                              main.waitTime, main.runs);
        bool rest = schedstat && bound && held.armed && main.runTime != 0 && main == held.main &&
                    (_sample + static_cast<uint64_t>(pid)) % 5 != 0;
        // The other threads are read first only where the main thread has not run: a process
        // whose main thread runs is read in full anyway, and every sample where it keeps running.
        if (schedstat && held.threadCount > 1 && main == held.main)
            rest = threadsAtRest(pid, held) && rest;
        if (rest) {
            // Files turned away in the last sample: this process's stat and status, read only
            // once in five samples now, give their places to others.
            if (_budgetShort) {
                release(held.stat);
                release(held.status);
            }
            out = held.last;
            return TLInspectResult::Exact;
        }
    }

    ++_processReads;
    held.armed = false;
    // The first reading under this entry reads stat first, which tells a kernel thread without
    // reading more, and arms nothing. Later ones read status first: a thread that ended between
    // the schedstat reads and the status has done all its running before the count it left.
    const bool first = held.snapshot == 0;
    uint64_t footprint = 0, wakeups = 0, threads = 1, ticks = 0, start = 0;
    bool hasMemory = false, kthread = false;
    auto readStatus = [&] {
        std::snprintf(path, sizeof path, "%d/status", pid);
        errno = 0;
        n = readHeld(held.status, _procDir.get(), path);
        if (n < 0) return failure();
        if (n == 0 || !TLParseProcStatus({_text.data(), static_cast<size_t>(n)}, footprint, wakeups,
                                         threads, hasMemory))
            return TLInspectResult::Failed;
        return TLInspectResult::Exact;
    };
    auto readStat = [&] {
        std::snprintf(path, sizeof path, "%d/stat", pid);
        errno = 0;
        n = readHeld(held.stat, _procDir.get(), path);
        if (n < 0) return failure();
        if (n == 0 ||
            !TLParseProcStat({_text.data(), static_cast<size_t>(n)}, ticks, kthread, start))
            return TLInspectResult::Failed;
        if (kthread) {
            releaseProcessFiles(held);
            _held.erase(pid);
            if (entry != 0) _kernelThreads[pid] = entry;
            return TLInspectResult::Skipped;
        }
        return TLInspectResult::Exact;
    };
    for (int step = 0; step < 2; ++step) {
        const TLInspectResult r = (step == 0) == first ? readStat() : readStatus();
        if (r != TLInspectResult::Exact) return r;
    }

    // A schedstat of zeros from a main thread that has switched, or none at all: the kernel
    // keeps no scheduler statistics, and the file is not asked again.
    if (missing || (schedstat && main.runTime == 0 && wakeups > 0)) {
        release(held.sched);
        held.noSchedstat = true;
    }
    // Every thread's wakeups: the status file above counted the main thread's only. A thread
    // list that cannot be read (the process ended) leaves the main thread's count.
    bool threadsRead = true;
    if (threads > 1) threadsRead = threadWakeups(pid, held, wakeups, threads, wakeups);
    if (__builtin_mul_overflow(ticks, _nsPerTick, &out.cpuTimeNs)) out.cpuTimeNs = UINT64_MAX;
    out.idleWakeups = wakeups;
    out.footprint = footprint;
    out.startTime = start;

    // What the next reading is gated on: the schedstat figures read before this one.
    held.last = out;
    held.threadCount = threads;
    held.main = main;
    held.snapshot = reading;
    held.armed = !first && schedstat && main.runTime != 0 && hasMemory && threadsRead;
    if (threads > 1)
        for (int32_t tid : held.threads) {
            const auto it = _heldThreads.find(tid);
            if (tid == pid || it == _heldThreads.end() || it->second.process != pid) continue;
            HeldThread& thread = it->second;
            if (thread.readIn == reading && !thread.readFailed) {
                thread.before = thread.early;
                thread.snapshot = reading;
            }
        }
    return TLInspectResult::Exact;
}

bool TLProcfsProcessSource::executablePath(int32_t pid, std::string& out) {
    char path[32];
    char buf[4096];
    std::snprintf(path, sizeof path, "%d/exe", pid);
    const ssize_t n = ::readlinkat(_procDir.get(), path, buf, sizeof buf);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return false;
    std::string_view target(buf, static_cast<size_t>(n));
    // An executable replaced or removed since the process started.
    constexpr std::string_view deleted = " (deleted)";
    if (target.ends_with(deleted)) target.remove_suffix(deleted.size());
    out.assign(target);
    return !out.empty();
}

bool TLProcfsProcessSource::shortName(int32_t pid, std::string& out) {
    char path[32];
    char buf[64];
    std::snprintf(path, sizeof path, "%d/comm", pid);
    long n = TLReadFileAt(_procDir.get(), path, buf, sizeof buf);
    if (n <= 0) return false;
    while (n > 0 && buf[n - 1] == '\n')
        --n;
    out.assign(buf, static_cast<size_t>(n));
    return !out.empty();
}

double TLProcfsProcessSource::now() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::unique_ptr<TLProcessSource> TLMakeProcessSource() {
    return std::make_unique<TLProcfsProcessSource>();
}
