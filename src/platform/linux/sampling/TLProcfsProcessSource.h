#pragma once
#include "TLFd.h"
#include "platform/TLProcessSource.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// Per-process figures on Linux, from /proc/PID. Mapping onto the process sample's inputs:
//   CPU time      utime + stime of /proc/PID/stat (fields 14 and 15, clock ticks), in ns
//   wakeups       voluntary_ctxt_switches, summed over the process's threads: the times a thread
//                 gave up the CPU to wait, the closest kernel figure to idle wakeups. The
//                 process's own status file counts the main thread only, so for a process with
//                 more than one thread ("Threads:" > 1) every /proc/PID/task/TID/status is read as
//                 well. Threads that have ended take their count with them: a process whose
//                 threads come and go can show a sum lower than last time, which gives no wakeup
//                 term for that interval rather than a wrong one.
//   footprint     RssAnon + RssShmem + VmSwap of /proc/PID/status: the memory the process itself
//                 owns, resident or swapped out, without the file pages it merely maps
//   path, name    /proc/PID/exe (link target), /proc/PID/comm
// Kernel threads (PF_KTHREAD in the stat flags) have no memory and cannot be ended by the user:
// they are skipped, and so is a pid that ended since it was listed (its files are gone). A pid
// found to be a kernel thread is not read again while its /proc entry stays the same one (the
// entry's inode number in the listing: a new process that takes the pid gets a new entry). A pid
// whose stat or status exists but cannot be read counts as not inspectable.
//
// The files read on every sample (stat and status of each process, the thread list and the
// threads' status files) are kept open between samples and read again from the start: opening
// and closing a /proc file costs the kernel more than producing its text. An open /proc file
// stays bound to its process: once that process has ended, reading it fails even when a new
// process has taken the pid, and the file is then opened afresh by name. Files of processes no
// longer listed, or listed under a new entry, and of threads not seen in the last sample are
// closed, and all of them when the sampling pauses (the panel closed). At most a quarter of the
// descriptor limit, and no more than 256, are kept; beyond that, files are opened and closed on
// every read as before.
//
// Listing /proc and a process's threads costs a lookup for every entry. /proc/loadavg tells the
// number of tasks and the last pid given out: while both stay the same, no process or thread has
// been made or has ended, and the last listings are used again, for at most four samples.
class TLProcfsProcessSource final : public TLProcessSource {
public:
    explicit TLProcfsProcessSource(std::string procRoot = "/proc");

    bool listPids(std::vector<int32_t>& out) override;
    TLInspectResult inspect(int32_t pid, TLProcCounters& out) override;
    bool executablePath(int32_t pid, std::string& out) override;
    bool shortName(int32_t pid, std::string& out) override;
    double now() override;
    void releaseKeptFiles() override;

    // How many /proc files are kept open between samples now.
    size_t heldFileCount() const { return _heldCount; }

private:
    // The files kept open, by process (under the entry it was listed with, with its threads as
    // last listed and the sample they were listed in) and by thread (with its process and the
    // sample it was last seen in).
    struct HeldProcess {
        uint64_t entry = 0;
        TLFd stat, status, task;
        std::vector<int32_t> threads;
        uint64_t threadsListed = 0; // 0: never
    };
    struct HeldThread {
        int32_t process = 0;
        uint64_t seen = 0;
        TLFd status;
    };
    // The text of the open file `fd`, from its start, in `_text`, however long; the buffer grows
    // to the longest file seen and is kept, so steady sampling allocates nothing. -1 on failure.
    long readText(int fd);
    // The text of `path` (relative to `dirfd`), read through `held` when it is open; a file
    // opened here is kept in `held` while the budget allows. -1 on failure, with errno set by
    // the attempt to open the file by name.
    long readHeld(TLFd& held, int dirfd, const char* path);
    // Closes a kept file and gives its place back to the budget.
    void release(TLFd& held);
    // Moves `opened` into `held` when the budget has a place for it; otherwise leaves it.
    void keep(TLFd& held, TLFd& opened);
    // voluntary_ctxt_switches summed over the threads of `pid`, with `mainThread` standing for
    // the thread whose id is the pid; `held` keeps the process's thread list. False when the
    // thread list cannot be read.
    bool threadWakeups(int32_t pid, HeldProcess& held, uint64_t mainThread, uint64_t& sum);
    // voluntary_ctxt_switches of one thread of `pid`, from `path` relative to `dirfd`; 0 when
    // the thread has ended.
    uint64_t threadStatusWakeups(int32_t pid, int32_t tid, int dirfd, const char* path);
    // True when /proc/loadavg shows the same number of tasks and the same last pid given out as
    // at the previous call: no task has been made or has ended in between.
    bool tasksUnchanged();

    std::string _root;
    TLFd _procDir;
    uint64_t _nsPerTick = 10'000'000;
    std::vector<char> _text = std::vector<char>(8192);
    std::vector<char> _dirents = std::vector<char>(16384);
    // The /proc entry of each pid in the last listing, and the kernel threads seen, by the entry
    // they were seen under.
    std::unordered_map<int32_t, uint64_t> _listedEntry;
    std::unordered_map<int32_t, uint64_t> _kernelThreads;

    std::unordered_map<int32_t, HeldProcess> _held;
    std::unordered_map<int32_t, HeldThread> _heldThreads;
    size_t _heldCount = 0;
    size_t _heldLimit = 0;
    uint64_t _sample = 0;        // counts the listings, reused or not
    uint64_t _listingSample = 0; // the sample of the last listing of /proc
    // The last listing of /proc, and whether this sample reuses it.
    std::vector<int32_t> _listing;
    bool _listingValid = false;
    bool _reusedListing = false;
    TLFd _loadavg;
    std::optional<std::pair<uint64_t, uint64_t>> _taskMark; // tasks, last pid
};

// The pure parsers behind `inspect`, for tests.
// From the text of /proc/PID/stat: CPU time in clock ticks, the kernel-thread flag and the start
// time (clock ticks after boot).
bool TLParseProcStat(std::string_view text, uint64_t& ticks, bool& kernelThread,
                     uint64_t& startTime);
bool TLParseProcStat(std::string_view text, uint64_t& ticks, bool& kernelThread);
// From the text of /proc/PID/status: footprint in bytes, voluntary context switches and the
// number of threads (1 when the line is missing).
bool TLParseProcStatus(std::string_view text, uint64_t& footprint, uint64_t& wakeups,
                       uint64_t& threads);
bool TLParseProcStatus(std::string_view text, uint64_t& footprint, uint64_t& wakeups);
