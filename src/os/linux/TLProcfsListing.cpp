// The listing of /proc, and whether the last one still holds.
#include "os/linux/TLProcfsProcessSource.h"

#include "os/linux/TLProcText.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <memory>

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
        releaseProcessFiles(it->second);
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
