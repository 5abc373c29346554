#include "os/linux/TLProcfsProcessSource.h"

#include "os/linux/TLAppUnits.h"
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
    MainSchedstat main;
    if (unchangedSinceLastReading(pid, held, main)) {
        // Files turned away in the last sample: this process's stat and status, read only once
        // in five samples now, give their places to others.
        if (_budgetShort) {
            release(held.stat);
            release(held.status);
        }
        out = held.last;
        return TLInspectResult::Exact;
    }
    return readInFull(pid, entry, reading, held, main, out);
}

bool TLProcfsProcessSource::unchangedSinceLastReading(int32_t pid, HeldProcess& held,
                                                      MainSchedstat& main) {
    if (!_processGate || held.noSchedstat || (!held.sched.valid() && _heldCount >= _heldLimit))
        return false;
    // The main thread's schedstat, and the other threads' through their kept files, before
    // anything else: what runs after these reads shows as a change next time.
    char path[32];
    std::snprintf(path, sizeof path, "%d/schedstat", pid);
    long n = 0;
    bool bound = false;
    if (held.sched.valid()) {
        n = readText(held.sched.get());
        bound = n >= 0;
        if (!bound) release(held.sched); // the process has ended: by name below
    }
    if (!bound) {
        errno = 0;
        n = readHeld(held.sched, _procDir.get(), path);
        main.missing = n < 0 && errno == ENOENT;
    }
    Schedstat& figures = main.figures;
    main.read = n > 0 && TLParseSchedstat({_text.data(), static_cast<size_t>(n)}, figures.runTime,
                                          figures.waitTime, figures.runs);
    bool rest = main.read && bound && held.armed && figures.runTime != 0 && figures == held.main &&
                (_sample + static_cast<uint64_t>(pid)) % 5 != 0;
    // The other threads are read first only where the main thread has not run: a process whose
    // main thread runs is read in full anyway, and every sample where it keeps running.
    if (main.read && held.threadCount > 1 && figures == held.main)
        rest = threadsAtRest(pid, held) && rest;
    return rest;
}

TLInspectResult TLProcfsProcessSource::readInFull(int32_t pid, uint64_t entry, uint64_t reading,
                                                  HeldProcess& held, const MainSchedstat& main,
                                                  TLProcCounters& out) {
    ++_processReads;
    held.armed = false;
    // The first reading under this entry reads stat first, which tells a kernel thread without
    // reading more, and arms nothing. Later ones read status first: a thread that ended between
    // the schedstat reads and the status has done all its running before the count it left.
    const bool first = held.snapshot == 0;
    ProcessFigures f;
    for (int step = 0; step < 2; ++step) {
        const TLInspectResult r =
            (step == 0) == first ? readStat(pid, entry, held, f) : readStatus(pid, held, f);
        if (r != TLInspectResult::Exact) return r;
    }

    // A schedstat of zeros from a main thread that has switched, or none at all: the kernel
    // keeps no scheduler statistics, and the file is not asked again.
    if (main.missing || (main.read && main.figures.runTime == 0 && f.wakeups > 0)) {
        release(held.sched);
        held.noSchedstat = true;
    }
    // Every thread's wakeups: the status file above counted the main thread's only. A thread
    // list that cannot be read (the process ended) leaves the main thread's count.
    bool threadsRead = true;
    if (f.threads > 1) threadsRead = threadWakeups(pid, held, f.wakeups, f.threads, f.wakeups);
    if (__builtin_mul_overflow(f.ticks, _nsPerTick, &out.cpuTimeNs)) out.cpuTimeNs = UINT64_MAX;
    out.idleWakeups = f.wakeups;
    out.footprint = f.footprint;
    out.startTime = f.start;

    // What the next reading is gated on: the schedstat figures read before this one.
    held.last = out;
    held.threadCount = f.threads;
    held.main = main.figures;
    held.snapshot = reading;
    held.armed = !first && main.read && main.figures.runTime != 0 && f.hasMemory && threadsRead;
    if (f.threads > 1)
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

TLInspectResult TLProcfsProcessSource::readStatus(int32_t pid, HeldProcess& held,
                                                  ProcessFigures& f) {
    char path[32];
    std::snprintf(path, sizeof path, "%d/status", pid);
    errno = 0;
    const long n = readHeld(held.status, _procDir.get(), path);
    if (n < 0) return failure();
    if (n == 0 || !TLParseProcStatus({_text.data(), static_cast<size_t>(n)}, f.footprint, f.wakeups,
                                     f.threads, f.hasMemory))
        return TLInspectResult::Failed;
    return TLInspectResult::Exact;
}

TLInspectResult TLProcfsProcessSource::readStat(int32_t pid, uint64_t entry, HeldProcess& held,
                                                ProcessFigures& f) {
    char path[32];
    std::snprintf(path, sizeof path, "%d/stat", pid);
    errno = 0;
    const long n = readHeld(held.stat, _procDir.get(), path);
    if (n < 0) return failure();
    bool kthread = false;
    if (n == 0 ||
        !TLParseProcStat({_text.data(), static_cast<size_t>(n)}, f.ticks, kthread, f.start))
        return TLInspectResult::Failed;
    if (kthread) {
        // Not read again while its /proc entry stays the same one; `held` goes with it.
        releaseProcessFiles(held);
        _held.erase(pid);
        if (entry != 0) _kernelThreads[pid] = entry;
        return TLInspectResult::Skipped;
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

bool TLProcfsProcessSource::application(int32_t pid, const std::string& exePath,
                                        TLAppIdentity& out) {
    (void)exePath;
    char path[32];
    std::snprintf(path, sizeof path, "%d/cgroup", pid);
    // A text that fills the buffer may have been cut.
    const long n = TLReadFileAt(_procDir.get(), path, _text.data(), _text.size());
    if (n <= 0 || static_cast<size_t>(n) + 1 >= _text.size()) return false;
    if (!_desktopEntries) _desktopEntries.emplace(TLDesktopEntries::dirsFromEnvironment());
    return TLAppOfUnit(TLCgroupUnit({_text.data(), static_cast<size_t>(n)}), *_desktopEntries, out);
}

double TLProcfsProcessSource::now() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::unique_ptr<TLProcessSource> TLMakeProcessSource() {
    return std::make_unique<TLProcfsProcessSource>();
}
