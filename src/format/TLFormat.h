#pragma once
#include <QString>

#include <cstdint>

// A byte count in the long form of the panel, the process list and the tool tip, in units of 1024:
// "16.00 GB", "512.0 MB", "12 KB", "1023 B".
QString TLFormatBytes(uint64_t bytes);

// A byte count in the compact form of the status item's title: "8.85G", "12.3G", "512M", "0K".
// There is no byte form; anything under 1 MB is written in kilobytes.
QString TLFormatBytesShort(uint64_t bytes);
