#pragma once
#include <unistd.h>

#include <utility>

// Owns one file descriptor and closes it.
class TLFd {
public:
    TLFd() = default;
    explicit TLFd(int fd) : _fd(fd) {}
    TLFd(TLFd&& o) noexcept : _fd(std::exchange(o._fd, -1)) {}
    TLFd& operator=(TLFd&& o) noexcept {
        if (this != &o) reset(std::exchange(o._fd, -1));
        return *this;
    }
    TLFd(const TLFd&) = delete;
    TLFd& operator=(const TLFd&) = delete;
    ~TLFd() { reset(); }

    int get() const { return _fd; }
    bool valid() const { return _fd >= 0; }
    int release() { return std::exchange(_fd, -1); }
    void reset(int fd = -1) {
        if (_fd >= 0) ::close(_fd);
        _fd = fd;
    }

private:
    int _fd = -1;
};
