#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

// One line of the `ps -axco pid=,rss=,pcpu=,comm=` table.
struct TLPsEntry {
    uint64_t bytes = 0; // resident size
    double cpu = 0;     // CPU percent as ps computes it
    std::string name;   // command name, may be empty or hold spaces
};

using TLPsTable = std::unordered_map<int32_t, TLPsEntry>;

// Bounds of what a line may hold. A line with a figure outside them is ignored: pids run from 1 to
// the kernel's limit (2^22), sizes up to 2^48 bytes (more than any machine's address space), CPU
// from 0 to 100 % of 8192 cores (the kernel's most). Names are cut to 255 bytes, and the table
// takes no more than 2^17 lines (several times the processes of a very busy machine).
inline constexpr int32_t TLPsMaxPid = 1 << 22;
inline constexpr int64_t TLPsMaxKiB = int64_t{1} << 38;
inline constexpr double TLPsMaxCPU = 100.0 * 8192;
inline constexpr size_t TLPsMaxNameBytes = 255;
inline constexpr size_t TLPsMaxLines = size_t{1} << 17;

// Parses one line; false when it does not scan or a figure is out of range (it is then ignored).
bool TLParsePsLine(std::string_view line, int32_t& pid, TLPsEntry& entry);

// Parses the whole output. Lines that are not valid UTF-8 or do not scan are ignored; a later
// line for the same pid replaces an earlier one.
TLPsTable TLParsePsOutput(std::string_view output);

// True when `s` is well-formed UTF-8.
bool TLIsValidUTF8(std::string_view s);
