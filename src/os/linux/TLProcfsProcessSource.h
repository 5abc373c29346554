#pragma once
#include "os/TLProcessSource.h"
#include "os/linux/TLDesktopEntries.h"
#include "os/posix/TLFd.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// Per-process figures on Linux, from /proc/PID: CPU time from stat, wakeups (voluntary context
// switches summed over the threads) and footprint from status, path and name from exe and comm.
// Reads only what may have changed since the last sample: a thread's status and a process's stat
// and status are read again when their schedstat shows a thread ran (every process in full at
// least every fifth sample), files are kept open between samples within a descriptor budget, and
// listings are reused while no task was made or ended. How and why: docs/sampling-on-linux.md.
// The application of a process is the one its cgroup's unit was started for, as named by the
// desktop entry of that application.
class TLProcfsProcessSource final : public TLProcessSource {
public:
    explicit TLProcfsProcessSource(std::string procRoot = "/proc");

    bool listPids(std::vector<int32_t>& out) override;
    TLInspectResult inspect(int32_t pid, TLProcCounters& out) override;
    bool executablePath(int32_t pid, std::string& out) override;
    bool shortName(int32_t pid, std::string& out) override;
    bool application(int32_t pid, const std::string& exePath, TLAppIdentity& out) override;
    double now() override;
    void releaseKeptFiles() override;

    // How many /proc files are kept open between samples now.
    size_t heldFileCount() const { return _heldCount; }
    // Reading every thread's status at every sample (off) or only after a change of its
    // schedstat (on, the default). Both give the same counts; off is the reference.
    void setThreadGate(bool on) { _threadGate = on; }
    // Reading every process's stat and status at every sample (off) or only after one of its
    // threads ran, and at least every fifth sample (on, the default). Off is the reference.
    void setProcessGate(bool on) { _processGate = on; }
    // How many thread status files and thread lists have been read so far.
    uint64_t threadStatusReads() const { return _threadStatusReads; }
    // How many times a process's stat and status have been read so far.
    uint64_t processReads() const { return _processReads; }
    uint64_t threadListings() const { return _threadListings; }
    // The directories searched for desktop entries, in order, instead of those the XDG
    // environment names (which are taken when `application` is first asked).
    void setDesktopEntryDirs(std::vector<std::string> dirs) {
        _desktopEntries.emplace(std::move(dirs));
    }

private:
    // The files kept open, by process (under the entry it was listed with, with its threads as
    // last listed and the sample they were listed in) and by thread (with its process and the
    // sample it was last seen in).
    struct Schedstat {
        uint64_t runTime = 0, waitTime = 0, runs = 0;
        bool operator==(const Schedstat&) const = default;
    };
    // With the schedstat figures of its main thread read before the last full reading, the
    // reading they belong to (`snapshot`, a number from `_inspections`; 0: none yet), the threads
    // its status counted, and its figures; `armed` when the next reading may be gated on them.
    struct HeldProcess {
        uint64_t entry = 0;
        TLFd stat, status, task, sched;
        std::vector<int32_t> threads;
        uint64_t threadsListed = 0; // 0: never
        bool armed = false;
        bool noSchedstat = false; // none, or zeros although it has switched: not asked again
        Schedstat main;
        uint64_t snapshot = 0;
        uint64_t threadCount = 0;
        TLProcCounters last;
    };
    // A thread's kept file is its schedstat, or its status where there is no usable schedstat;
    // with the schedstat as last read before its status, and the count that status gave.
    struct HeldThread {
        int32_t process = 0;
        uint64_t entry = 0; // the thread's entry in the last thread listing
        uint64_t seen = 0;
        TLFd file;
        bool statusOnly = false;
        bool known = false;
        uint64_t runTime = 0, waitTime = 0, runs = 0;
        uint64_t wakeups = 0;
        // The schedstat as read at the start of the process's reading numbered `readIn` (or
        // found unreadable there), and as read before the process's last full reading, numbered
        // `snapshot`.
        uint64_t readIn = 0;
        bool readFailed = false;
        Schedstat early;
        uint64_t snapshot = 0;
        Schedstat before;
    };
    // The main thread's schedstat as read at the start of a process's reading: `figures` when
    // `read`; `missing` when the process has no such file.
    struct MainSchedstat {
        Schedstat figures;
        bool read = false;
        bool missing = false;
    };
    // The figures of a process's stat and status, as its full reading finds them.
    struct ProcessFigures {
        uint64_t footprint = 0, wakeups = 0, threads = 1, ticks = 0, start = 0;
        bool hasMemory = false;
    };
    // The process gate: reads the schedstat of the main thread into `main`, and of the other
    // threads through their kept files, before anything else. True when these vouch that the
    // figures of the last full reading still hold, and it is not the process's turn (one sample in
    // five) to be read in full all the same.
    bool unchangedSinceLastReading(int32_t pid, HeldProcess& held, MainSchedstat& main);
    // Reads status and stat (stat first under a new entry) and the threads' wakeups into `out`,
    // and notes what the next reading, after `reading`, is gated on. Skipped for a kernel thread,
    // which is forgotten with its files (`held` with it), or for a process that has ended.
    TLInspectResult readInFull(int32_t pid, uint64_t entry, uint64_t reading, HeldProcess& held,
                               const MainSchedstat& main, TLProcCounters& out);
    // The process's status and stat into `f`, read through their kept files.
    TLInspectResult readStatus(int32_t pid, HeldProcess& held, ProcessFigures& f);
    TLInspectResult readStat(int32_t pid, uint64_t entry, HeldProcess& held, ProcessFigures& f);
    // The text of the open file `fd`, from its start, in `_text`, however long; the buffer grows
    // to the longest file seen and is kept, so steady sampling allocates nothing. -1 on failure.
    long readText(int fd);
    // The text of `path` (relative to `dirfd`), read through `held` when it is open; a file
    // opened here is kept in `held` while the budget allows. -1 on failure, with errno set by
    // the attempt to open the file by name.
    long readHeld(TLFd& held, int dirfd, const char* path);
    // Closes a kept file and gives its place back to the budget.
    void release(TLFd& held);
    // Closes the kept files of a process (not those of its threads).
    void releaseProcessFiles(HeldProcess& held);
    // Moves `opened` into `held` when the budget has a place for it; otherwise leaves it.
    void keep(TLFd& held, TLFd& opened);
    // voluntary_ctxt_switches summed over the threads of `pid`, with `mainThread` standing for
    // the thread whose id is the pid, of which the process's status counted `threadCount`;
    // `held` keeps the process's thread list. False when the thread list cannot be read.
    bool threadWakeups(int32_t pid, HeldProcess& held, uint64_t mainThread, uint64_t threadCount,
                       uint64_t& sum);
    // The sum over the threads last listed, each read through its kept schedstat file, of which
    // `threadCount` must still be alive (those that ended are dropped from the list); false when
    // one of them has no such file or the count differs, and the threads must be listed again.
    bool keptThreadWakeups(int32_t pid, HeldProcess& held, uint64_t mainThread,
                           uint64_t threadCount, uint64_t& sum);
    // voluntary_ctxt_switches of thread `tid` of `pid`, whose files are `dir` + "schedstat" and
    // `dir` + "status" relative to `dirfd`, listed under `entry` (kKeepEntry: as before). False
    // when the thread has ended.
    static constexpr uint64_t kKeepEntry = UINT64_MAX;
    bool threadStatusWakeups(int32_t pid, int32_t tid, uint64_t entry, int dirfd, const char* dir,
                             uint64_t& wakeups);
    // Reads the thread's status at `path` (relative to `dirfd`; through its kept file unless
    // `gated`) and notes its count, with the schedstat figures read just before it. False when
    // the thread has ended.
    bool threadStatus(HeldThread& thread, bool gated, int dirfd, const char* path, uint64_t runTime,
                      uint64_t waitTime, uint64_t runs, uint64_t& wakeups);
    // Reads the kept schedstat file of every thread of `held` but the main one, at the start of
    // the process's reading, into their `early` figures. True when each of them reads as before
    // the last full reading and, with the main thread, they are as many as it counted.
    bool threadsAtRest(int32_t pid, HeldProcess& held);
    // A thread's schedstat through its kept file, or as read at the start of this reading of its
    // process. False when the file cannot be read (the thread has ended) or holds no figures.
    bool keptSchedstat(HeldThread& thread, Schedstat& out);
    // voluntary_ctxt_switches from the status text in `_text`, `len` bytes long.
    bool statusWakeups(long len, uint64_t& wakeups) const;
    // Opens `path` relative to `dirfd` for a file to keep, at 1024 or above under a high limit.
    int openKept(int dirfd, const char* path, int flags);
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
    int _heldFloor = 0; // lowest descriptor number for kept files
    bool _threadGate = true;
    bool _processGate = true;
    bool _budgetRefused = false; // a file was turned away since the last listing
    bool _budgetShort = false;   // and in the sample before this one
    uint64_t _inspections = 0;
    uint64_t _processReads = 0;
    uint64_t _threadStatusReads = 0;
    uint64_t _threadListings = 0;
    uint64_t _sample = 0;        // counts the listings, reused or not
    uint64_t _listingSample = 0; // the sample of the last listing of /proc
    // The last listing of /proc, and whether this sample reuses it.
    std::vector<int32_t> _listing;
    bool _listingValid = false;
    bool _reusedListing = false;
    TLFd _loadavg;
    std::optional<std::pair<uint64_t, uint64_t>> _taskMark; // tasks, last pid
    std::optional<TLDesktopEntries> _desktopEntries;
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
// The same, and whether the status has memory lines at all (a zombie's has none).
bool TLParseProcStatus(std::string_view text, uint64_t& footprint, uint64_t& wakeups,
                       uint64_t& threads, bool& hasMemory);
bool TLParseProcStatus(std::string_view text, uint64_t& footprint, uint64_t& wakeups);
// From the text of /proc/PID/task/TID/schedstat: run time (ns), time spent waiting to run (ns) and
// the number of times the thread was run.
bool TLParseSchedstat(std::string_view text, uint64_t& runTime, uint64_t& waitTime, uint64_t& runs);
