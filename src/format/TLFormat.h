#pragma once
#include <QString>

#include <cstddef>
#include <cstdint>

// Every figure the program writes goes through these functions, so that all of them round alike
// and read alike in every locale: a decimal point, never a comma, and printf's rounding of the
// exact binary value (an exact tie such as 62.5 or 7.25 goes to the even digit).

// `value` with `decimals` digits after the point into `out` (NUL-terminated, cut to fit). Returns
// the number of characters written. Allocates nothing.
size_t TLFormatFixedTo(char* out, size_t size, double value, int decimals);

// `value` with `decimals` digits after the point: "55", "7.2", "0.35".
QString TLFormatFixed(double value, int decimals);

// A percentage: `value` with `decimals` digits and a percent sign: "55%", "7.2%".
QString TLFormatPercent(double value, int decimals = 0);

// A byte count in the long form of the panel, the process list and the tool tip, in units of 1024:
// "16.00 GB", "512.0 MB", "12 KB", "1023 B".
QString TLFormatBytes(uint64_t bytes);
size_t TLFormatBytesTo(char* out, size_t size, uint64_t bytes);

// A byte count in the compact form of the status item's title: "8.85G", "12.3G", "512M", "0K".
// There is no byte form; anything under 1 MB is written in kilobytes.
QString TLFormatBytesShort(uint64_t bytes);
size_t TLFormatBytesShortTo(char* out, size_t size, uint64_t bytes);
