#pragma once
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

// Parses one line; false when it does not scan (it is then ignored).
bool TLParsePsLine(std::string_view line, int32_t& pid, TLPsEntry& entry);

// Parses the whole output. Lines that are not valid UTF-8 or do not scan are ignored; a later
// line for the same pid replaces an earlier one.
TLPsTable TLParsePsOutput(std::string_view output);

// True when `s` is well-formed UTF-8.
bool TLIsValidUTF8(std::string_view s);
