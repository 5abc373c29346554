// The /proc files kept open between samples, within their budget, and their reading.
#include "os/linux/TLProcfsProcessSource.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

int TLProcfsProcessSource::openKept(int dirfd, const char* path, int flags) {
    const int fd = ::openat(dirfd, path, flags | O_CLOEXEC);
    if (fd < 0 || fd >= _heldFloor || _heldCount >= _heldLimit) return fd;
    const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, _heldFloor);
    if (high < 0) return fd;
    ::close(fd);
    return high;
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

void TLProcfsProcessSource::releaseProcessFiles(HeldProcess& held) {
    for (TLFd* fd : {&held.stat, &held.status, &held.task, &held.sched})
        release(*fd);
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
