// The wakeups of a process's threads: their status files, read when their schedstat shows they
// may have given up the CPU since.
#include "os/linux/TLProcfsProcessSource.h"

#include "os/linux/TLProcText.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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
