#pragma once
#include <cstdint>

// The kernel's memory-pressure level, in the kernel's own numbering (macOS's
// kern.memorystatus_vm_pressure_level; the Linux reader maps PSI onto the same three). Another
// value a kernel reports passes through as it is: the colours and the chip treat anything but
// Warning and from Critical up as normal.
enum class TLPressureLevel : int32_t { Normal = 1, Warning = 2, Critical = 4 };

constexpr int32_t TLPressureLevelValue(TLPressureLevel level) {
    return static_cast<int32_t>(level);
}
