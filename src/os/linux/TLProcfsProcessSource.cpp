#include "os/linux/TLProcfsProcessSource.h"

#include "os/linux/TLProcText.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

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

int TLProcfsProcessSource::openKept(int dirfd, const char* path, int flags) {
    const int fd = ::openat(dirfd, path, flags | O_CLOEXEC);
    if (fd < 0 || fd >= _heldFloor || _heldCount >= _heldLimit) return fd;
    const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, _heldFloor);
    if (high < 0) return fd;
    ::close(fd);
    return high;
}

bool TLProcfsProcessSource::tasksUnchanged() {
    // "0.06 0.37 0.73 2/106 22219": the number of tasks after the slash, and the last pid given
    // out. No pid given out means no process or thread was made; the same number then means
    // none ended either.
    char text[128];
    if (!_loadavg.valid())
        _loadavg.reset(::openat(_procDir.get(), "loadavg", O_RDONLY | O_CLOEXEC));
    const ssize_t n =
        _loadavg.valid() ? ::pread(_loadavg.get(), text, sizeof text - 1, 0) : ssize_t{-1};
    if (n <= 0) {
        _taskMark.reset();
        return false;
    }
    std::string_view s(text, static_cast<size_t>(n));
    std::string_view fields[5];
    for (std::string_view& f : fields)
        f = TLNextField(s);
    const size_t slash = fields[3].find('/');
    uint64_t tasks = 0, lastPid = 0;
    std::string_view count =
        slash == std::string_view::npos ? std::string_view() : fields[3].substr(slash + 1);
    if (!TLScanU64(count, tasks) || !TLScanU64(fields[4], lastPid)) {
        _taskMark.reset();
        return false;
    }
    const std::pair<uint64_t, uint64_t> mark{tasks, lastPid};
    const bool same = _taskMark == mark;
    _taskMark = mark;
    return same;
}

bool TLProcfsProcessSource::listPids(std::vector<int32_t>& out) {
    // Listing /proc costs the kernel a lookup for every entry: when no task was made or ended
    // since the last listing, that listing still holds, and so do the thread lists read since.
    // Every fifth sample lists all the same, should loadavg not tell the truth (some container
    // file systems make it up).
    constexpr uint64_t kMostReuses = 4;
    _budgetShort = _budgetRefused;
    _budgetRefused = false;
    if (tasksUnchanged() && _listingValid && _sample - _listingSample < kMostReuses) {
        out.insert(out.end(), _listing.begin(), _listing.end());
        _reusedListing = true;
        ++_sample;
        return true;
    }
    _reusedListing = false;
    _listingValid = false;
    DIR* dir = ::opendir(_root.c_str());
    if (!dir) return false;
    std::unique_ptr<DIR, int (*)(DIR*)> guard(dir, ::closedir);
    _listedEntry.clear();
    _listing.clear();
    while (const dirent* e = ::readdir(dir)) {
        const char* n = e->d_name;
        if (*n < '1' || *n > '9') continue;
        int64_t v = 0;
        bool ok = true;
        for (; *n; ++n) {
            if (*n < '0' || *n > '9' || v > INT32_MAX / 10) {
                ok = false;
                break;
            }
            v = v * 10 + (*n - '0');
        }
        if (ok && v <= INT32_MAX) {
            _listing.push_back(static_cast<int32_t>(v));
            _listedEntry[static_cast<int32_t>(v)] = e->d_ino;
        }
    }
    out.insert(out.end(), _listing.begin(), _listing.end());
    _listingValid = true;
    // Kernel threads that ended, or whose pid now has another entry, are forgotten, and so are
    // the files of such processes and of threads the last sample did not see.
    auto gone = [this](int32_t pid, uint64_t entry) {
        const auto listed = _listedEntry.find(pid);
        return listed == _listedEntry.end() || listed->second != entry;
    };
    std::erase_if(_kernelThreads, [&gone](const auto& k) { return gone(k.first, k.second); });
    for (auto it = _held.begin(); it != _held.end();) {
        if (!gone(it->first, it->second.entry)) {
            ++it;
            continue;
        }
        for (TLFd* fd : {&it->second.stat, &it->second.status, &it->second.task, &it->second.sched})
            release(*fd);
        it = _held.erase(it);
    }
    for (auto it = _heldThreads.begin(); it != _heldThreads.end();) {
        if (it->second.seen >= _sample && _held.contains(it->second.process)) {
            ++it;
            continue;
        }
        release(it->second.file);
        it = _heldThreads.erase(it);
    }
    ++_sample;
    _listingSample = _sample;
    return true;
}

void TLProcfsProcessSource::releaseKeptFiles() {
    _held.clear();
    _heldThreads.clear();
    _heldCount = 0;
    _loadavg.reset();
    // The listings are only good with the task count that went with them.
    _listingValid = false;
    _taskMark.reset();
}

void TLProcfsProcessSource::release(TLFd& held) {
    if (!held.valid()) return;
    held.reset();
    --_heldCount;
}

void TLProcfsProcessSource::keep(TLFd& held, TLFd& opened) {
    if (_heldCount >= _heldLimit) {
        _budgetRefused = true;
        return;
    }
    held = std::move(opened);
    ++_heldCount;
}

long TLProcfsProcessSource::readHeld(TLFd& held, int dirfd, const char* path) {
    if (held.valid()) {
        const long n = readText(held.get());
        if (n >= 0) return n;
        // The process or thread it belonged to has ended: look the name up again.
        release(held);
    }
    TLFd opened(openKept(dirfd, path, O_RDONLY));
    if (!opened.valid()) return -1;
    const long n = readText(opened.get());
    if (n >= 0) keep(held, opened);
    return n;
}

long TLProcfsProcessSource::readText(int fd) {
    size_t got = 0;
    for (;;) {
        // procfs hands a file over whole when the buffer can hold it: a read that leaves room
        // is the last one, and no second read is spent only to see the end of the file. A read
        // from the start makes procfs produce the text afresh.
        const size_t room = _text.size() - 1 - got;
        const ssize_t n = ::pread(fd, _text.data() + got, room, static_cast<off_t>(got));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        got += static_cast<size_t>(n);
        if (n == 0 || static_cast<size_t>(n) < room) break;
        // Filled: a longer file (a process in hundreds of groups has a status file of several
        // KB). Grow once and read on from where the kernel stopped.
        if (_text.size() >= (size_t{1} << 22)) return -1; // no status file is this long
        _text.resize(_text.size() * 2);
    }
    _text[got] = '\0';
    return static_cast<long>(got);
}

bool TLProcfsProcessSource::statusWakeups(long len, uint64_t& wakeups) const {
    if (len <= 0) return false;
    // The count is on the second line from the end of the file: looked for from the end.
    const std::string_view text(_text.data(), static_cast<size_t>(len));
    constexpr std::string_view key = "\nvoluntary_ctxt_switches:";
    const size_t at = text.rfind(key);
    if (at == std::string_view::npos) return false;
    std::string_view value = text.substr(at + key.size());
    return TLScanU64(value, wakeups);
}

bool TLProcfsProcessSource::threadStatusWakeups(int32_t pid, int32_t tid, uint64_t entry, int dirfd,
                                                const char* dir, uint64_t& wakeups) {
    HeldThread& thread = _heldThreads[tid];
    if (thread.process != pid || (entry != kKeepEntry && thread.entry != entry)) {
        // Another thread under this id (or the first sight of it): nothing known holds.
        release(thread.file);
        thread = HeldThread{};
        thread.process = pid;
        thread.entry = entry == kKeepEntry ? 0 : entry;
    }
    thread.seen = _sample;
    char path[64];
    uint64_t runTime = 0, waitTime = 0, runs = 0;
    bool gated = false;
    if (!thread.statusOnly && _threadGate) {
        std::snprintf(path, sizeof path, "%sschedstat", dir);
        errno = 0;
        long n = 0;
        bool figures = false;
        if (thread.readIn == _inspections && !thread.readFailed && thread.file.valid()) {
            // Read through the kept file at the start of this reading of the process.
            runTime = thread.early.runTime;
            waitTime = thread.early.waitTime;
            runs = thread.early.runs;
            figures = true;
        } else {
            n = readHeld(thread.file, dirfd, path);
            figures = n > 0 && TLParseSchedstat({_text.data(), static_cast<size_t>(n)}, runTime,
                                                waitTime, runs);
        }
        if (figures) {
            if (runTime == 0) {
                // Not run yet, or a kernel without scheduler statistics (all zeros): the
                // status tells which. A thread that has switched has run.
                std::snprintf(path, sizeof path, "%sstatus", dir);
                if (!threadStatus(thread, true, dirfd, path, 0, 0, 0, wakeups)) return false;
                thread.known = false;
                if (wakeups > 0) {
                    // It has run; zeros still mean a kernel without scheduler statistics, figures
                    // now a thread that first ran between the two reads, gated from now on.
                    uint64_t r = 0, w = 0, c = 0;
                    const long again = thread.file.valid() ? readText(thread.file.get()) : -1;
                    if (again > 0 &&
                        TLParseSchedstat({_text.data(), static_cast<size_t>(again)}, r, w, c) &&
                        r != 0)
                        return true;
                    release(thread.file);
                    thread.statusOnly = true;
                }
                return true;
            }
            if (thread.known && runTime == thread.runTime && waitTime == thread.waitTime &&
                runs == thread.runs) {
                wakeups = thread.wakeups;
                return true;
            }
            gated = true;
        } else if (n >= 0 || errno == ENOENT) {
            // No schedstat to go by: the status is read every time, through a kept file. When
            // the thread has simply ended, the status read below finds that out.
            release(thread.file);
            thread.statusOnly = true;
        } else {
            return false; // the thread has ended
        }
    }
    std::snprintf(path, sizeof path, "%sstatus", dir);
    if (!gated) {
        // The status file is the one kept (the gate is off, or there is no schedstat).
        if (!thread.statusOnly) release(thread.file);
        thread.statusOnly = true;
    }
    return threadStatus(thread, gated, dirfd, path, runTime, waitTime, runs, wakeups);
}

bool TLProcfsProcessSource::threadStatus(HeldThread& thread, bool gated, int dirfd,
                                         const char* path, uint64_t runTime, uint64_t waitTime,
                                         uint64_t runs, uint64_t& wakeups) {
    ++_threadStatusReads;
    long len = -1;
    if (gated) {
        // Read only when something changed: not worth a kept file.
        TLFd status(::openat(dirfd, path, O_RDONLY | O_CLOEXEC));
        if (status.valid()) len = readText(status.get());
    } else {
        len = readHeld(thread.file, dirfd, path);
    }
    uint64_t count = 0;
    if (!statusWakeups(len, count)) {
        thread.known = false;
        return false; // the thread ended meanwhile
    }
    thread.known = gated;
    thread.runTime = runTime;
    thread.waitTime = waitTime;
    thread.runs = runs;
    thread.wakeups = count;
    wakeups = count;
    return true;
}

bool TLProcfsProcessSource::keptSchedstat(HeldThread& thread, Schedstat& out) {
    if (thread.readIn == _inspections) {
        out = thread.early;
        return !thread.readFailed;
    }
    const long n = readText(thread.file.get());
    return n > 0 && TLParseSchedstat({_text.data(), static_cast<size_t>(n)}, out.runTime,
                                     out.waitTime, out.runs);
}

bool TLProcfsProcessSource::threadsAtRest(int32_t pid, HeldProcess& held) {
    size_t alike = 0;
    bool rest = true;
    for (int32_t tid : held.threads) {
        if (tid == pid) continue;
        const auto it = _heldThreads.find(tid);
        if (it == _heldThreads.end() || it->second.process != pid || it->second.statusOnly ||
            !it->second.file.valid()) {
            rest = false;
            continue;
        }
        HeldThread& thread = it->second;
        // Read once for this reading: the thread wakeups below go by the same figures.
        thread.readIn = 0;
        thread.readFailed = !keptSchedstat(thread, thread.early);
        thread.readIn = _inspections;
        if (thread.readFailed) {
            rest = false; // ended: let go of where the thread wakeups find out
            continue;
        }
        thread.seen = _sample;
        if (thread.early.runTime == 0 || thread.snapshot != held.snapshot ||
            thread.early != thread.before) {
            rest = false;
            continue;
        }
        ++alike;
    }
    return rest && alike + 1 == held.threadCount;
}

bool TLProcfsProcessSource::keptThreadWakeups(int32_t pid, HeldProcess& held, uint64_t mainThread,
                                              uint64_t threadCount, uint64_t& sum) {
    uint64_t total = 0;
    size_t alive = 0;
    bool ended = false;
    for (int32_t tid : held.threads) {
        uint64_t count = mainThread;
        if (tid != pid) {
            const auto it = _heldThreads.find(tid);
            if (it == _heldThreads.end() || it->second.process != pid || it->second.statusOnly ||
                !it->second.file.valid())
                return false;
            HeldThread& thread = it->second;
            // Through the kept file only: a file opened by name now could be another thread's
            // that took the id. A file that cannot be read belongs to a thread that has ended.
            Schedstat now;
            if (!keptSchedstat(thread, now)) {
                release(thread.file);
                ended = true;
                continue;
            }
            const uint64_t runTime = now.runTime, waitTime = now.waitTime, runs = now.runs;
            thread.seen = _sample;
            if (runTime == 0) return false;
            if (!thread.known || runTime != thread.runTime || waitTime != thread.waitTime ||
                runs != thread.runs) {
                char path[48];
                std::snprintf(path, sizeof path, "%d/task/%d/status", pid, tid);
                if (!threadStatus(thread, true, _procDir.get(), path, runTime, waitTime, runs,
                                  count)) {
                    ended = true;
                    continue;
                }
            } else {
                count = thread.wakeups;
            }
        }
        ++alive;
        if (__builtin_add_overflow(total, count, &total)) total = UINT64_MAX;
    }
    // As many threads alive as the status counted: the same threads, less those that ended (a
    // thread made meanwhile would make the count larger than the threads read).
    if (alive != threadCount) return false;
    if (ended)
        std::erase_if(held.threads, [&](int32_t tid) {
            if (tid == pid) return false;
            const auto it = _heldThreads.find(tid);
            return it == _heldThreads.end() || !it->second.file.valid();
        });
    sum = total;
    return true;
}

bool TLProcfsProcessSource::threadWakeups(int32_t pid, HeldProcess& held, uint64_t mainThread,
                                          uint64_t threadCount, uint64_t& sum) {
    char dir[48];
    uint64_t total = 0;
    auto add = [&total](uint64_t count) {
        if (__builtin_add_overflow(total, count, &total)) total = UINT64_MAX;
    };
    // Threads listed since the last listing of /proc, with no task made since: the same threads.
    if (_reusedListing && held.threadsListed >= _listingSample) {
        for (int32_t tid : held.threads) {
            uint64_t count = mainThread;
            std::snprintf(dir, sizeof dir, "%d/task/%d/", pid, tid);
            if (tid == pid || threadStatusWakeups(pid, tid, kKeepEntry, _procDir.get(), dir, count))
                add(count);
        }
        sum = total;
        return true;
    }
    // As many threads as listed, each still behind its kept file: the same threads.
    if (_threadGate && !held.threads.empty() && threadCount <= held.threads.size() &&
        keptThreadWakeups(pid, held, mainThread, threadCount, sum))
        return true;
    ++_threadListings;
    held.threads.clear();
    held.threadsListed = 0;
    TLFd& heldTask = held.task;
    // The kept thread list is listed again from its start.
    if (heldTask.valid() && ::lseek(heldTask.get(), 0, SEEK_SET) != 0) release(heldTask);
    TLFd opened;
    if (!heldTask.valid()) {
        std::snprintf(dir, sizeof dir, "%d/task", pid);
        opened.reset(openKept(_procDir.get(), dir, O_RDONLY | O_DIRECTORY));
        if (!opened.valid()) return false;
        keep(heldTask, opened);
    }
    const int task = heldTask.valid() ? heldTask.get() : opened.get();
    // getdents64 into a kept buffer: opendir would allocate for every process.
    for (;;) {
        const long n = ::syscall(SYS_getdents64, task, _dirents.data(), _dirents.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            release(heldTask); // the process has ended
            return false;
        }
        if (n == 0) break;
        for (long at = 0; at < n;) {
            struct Entry {
                uint64_t ino;
                int64_t off;
                unsigned short reclen;
                unsigned char type;
                char name[1];
            };
            const auto* e = reinterpret_cast<const Entry*>(_dirents.data() + at);
            at += e->reclen;
            const char* name = e->name;
            if (*name < '1' || *name > '9') continue;
            uint64_t tid = 0;
            std::string_view digits(name);
            if (!TLScanU64(digits, tid) || !digits.empty()) continue;
            if (tid > static_cast<uint64_t>(INT32_MAX)) continue;
            held.threads.push_back(static_cast<int32_t>(tid));
            if (tid == static_cast<uint64_t>(pid)) {
                add(mainThread);
                continue;
            }
            std::snprintf(dir, sizeof dir, "%s/", name);
            uint64_t count = 0;
            if (threadStatusWakeups(pid, static_cast<int32_t>(tid), e->ino, task, dir, count))
                add(count);
        }
    }
    held.threadsListed = _sample;
    sum = total;
    return true;
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
        for (TLFd* fd : {&held.stat, &held.status, &held.task, &held.sched})
            release(*fd);
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
            for (TLFd* fd : {&held.stat, &held.status, &held.task, &held.sched})
                release(*fd);
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
