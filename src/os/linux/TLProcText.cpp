#include "os/linux/TLProcText.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

long TLPreadAll(int fd, char* buf, size_t size) {
    if (fd < 0 || size == 0) return -1;
    size_t got = 0;
    while (got + 1 < size) {
        const size_t room = size - 1 - got;
        const ssize_t n = ::pread(fd, buf + got, room, static_cast<off_t>(got));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        got += static_cast<size_t>(n);
        // procfs and sysfs hand a file over whole when the buffer can hold it: a read that
        // leaves room has reached the end, and a second read would only return end of file.
        if (static_cast<size_t>(n) < room) break;
    }
    buf[got] = '\0';
    return static_cast<long>(got);
}

long TLReadFileAt(int dirfd, const char* path, char* buf, size_t size) {
    if (size == 0) return -1;
    const int fd = ::openat(dirfd, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    // One read: the per-process files are far smaller than the buffer, and procfs hands a small
    // file over whole; a second read only to see the end of the file would make the kernel
    // generate the text again.
    ssize_t n;
    do {
        n = ::read(fd, buf, size - 1);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n < 0) return -1;
    buf[n] = '\0';
    return static_cast<long>(n);
}

static bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

void TLFindKeyValues(std::string_view text, std::span<TLKeyValue> keys) {
    size_t left = keys.size();
    // A key whose line has been seen, found or not, is done: at most 64 keys are tracked.
    uint64_t done = 0;
    size_t pos = 0;
    while (left > 0 && pos < text.size()) {
        const size_t end = text.find('\n', pos);
        const std::string_view line =
            text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        // The line's key is what comes before its first colon; the keys looked for hold none, so
        // a key matches a line that starts with it and a colon.
        for (size_t i = 0; i < keys.size() && i < 64; ++i) {
            const std::string_view key = keys[i].key;
            if ((done >> i & 1) || line.size() <= key.size() || line[key.size()] != ':' ||
                !line.starts_with(key) || key.find(':') != std::string_view::npos)
                continue;
            done |= uint64_t{1} << i;
            --left;
            std::string_view value = line.substr(key.size() + 1);
            uint64_t v = 0;
            if (TLScanU64(value, v)) {
                keys[i].value = v;
                keys[i].found = true;
            }
            break;
        }
        if (end == std::string_view::npos) break;
        pos = end + 1;
    }
}

bool TLScanU64(std::string_view& s, uint64_t& out) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    size_t i = 0;
    uint64_t v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        const uint64_t d = static_cast<uint64_t>(s[i] - '0');
        if (v > (UINT64_MAX - d) / 10) return false;
        v = v * 10 + d;
        ++i;
    }
    if (i == 0) return false;
    s.remove_prefix(i);
    out = v;
    return true;
}

std::string_view TLNextField(std::string_view& s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    size_t i = 0;
    while (i < s.size() && !isBlank(s[i]) && s[i] != '\n')
        ++i;
    std::string_view field = s.substr(0, i);
    s.remove_prefix(i);
    return field;
}

bool TLFindKeyValue(std::string_view text, std::string_view key, uint64_t& out) {
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            line[key.size()] == ':') {
            line.remove_prefix(key.size() + 1);
            return TLScanU64(line, out);
        }
        if (end == std::string_view::npos) break;
        pos = end + 1;
    }
    return false;
}
