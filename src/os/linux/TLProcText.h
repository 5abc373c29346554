#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// Allocation-free helpers for the small text files of procfs and sysfs.

// Reads the whole file behind `fd` from offset 0 into `buf` (NUL-terminated). Returns the number
// of bytes read, or -1 on failure. Output longer than the buffer is cut. A read that does not fill
// the buffer is taken as the end of the file, as it is for procfs and sysfs files.
long TLPreadAll(int fd, char* buf, size_t size);

// Opens `path` (relative to `dirfd`), reads it with a single read (enough for the small files of
// procfs) into `buf` (NUL-terminated) and closes it. Returns the bytes read, or -1.
long TLReadFileAt(int dirfd, const char* path, char* buf, size_t size);

// The value of a "Key:   value ..." line of /proc/meminfo or /proc/PID/status, as an unsigned
// integer (units are left to the caller). False when the key is absent or has no number.
bool TLFindKeyValue(std::string_view text, std::string_view key, uint64_t& out);

// Several keys in one pass over the text: each key's first line counts, as TLFindKeyValue would
// find it. `found` says whether that line had a number, which is then in `value` (left as it was
// otherwise).
struct TLKeyValue {
    std::string_view key;
    uint64_t value = 0;
    bool found = false;
};
void TLFindKeyValues(std::string_view text, std::span<TLKeyValue> keys);

// Parses an unsigned decimal number at the start of `s` (after blanks), advancing `s`.
bool TLScanU64(std::string_view& s, uint64_t& out);

// Splits off the next blank-separated field of `s`.
std::string_view TLNextField(std::string_view& s);
