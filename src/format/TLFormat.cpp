#include "format/TLFormat.h"

#include <cstdio>

namespace {

constexpr uint64_t kKiB = 1024;
constexpr uint64_t kMiB = kKiB * 1024;
constexpr uint64_t kGiB = kMiB * 1024;

// The quotient in double precision, as printf rounds it afterwards.
double quotient(uint64_t bytes, uint64_t unit) {
    return static_cast<double>(bytes) / static_cast<double>(unit);
}

QString fromBuffer(const char* buffer, int length) {
    // snprintf only fails on an encoding error, which these formats cannot produce.
    return length > 0 ? QString::fromLatin1(buffer, length) : QString();
}

} // namespace

QString TLFormatBytes(uint64_t bytes) {
    // The largest output, UINT64_MAX as "17179869184.00 GB", needs 18 characters.
    char buffer[64];
    int length;
    if (bytes >= kGiB) {
        length = std::snprintf(buffer, sizeof buffer, "%.2f GB", quotient(bytes, kGiB));
    } else if (bytes >= kMiB) {
        length = std::snprintf(buffer, sizeof buffer, "%.1f MB", quotient(bytes, kMiB));
    } else if (bytes >= kKiB) {
        length = std::snprintf(buffer, sizeof buffer, "%.0f KB", quotient(bytes, kKiB));
    } else {
        length =
            std::snprintf(buffer, sizeof buffer, "%llu B", static_cast<unsigned long long>(bytes));
    }
    return fromBuffer(buffer, length);
}

QString TLFormatBytesShort(uint64_t bytes) {
    char buffer[64];
    int length;
    if (bytes >= kGiB) {
        // Decided on the unrounded quotient: just under 10 GiB still takes two decimals and may
        // print as "10.00G".
        const double gib = quotient(bytes, kGiB);
        if (gib >= 10.0) {
            length = std::snprintf(buffer, sizeof buffer, "%.1fG", gib);
        } else {
            length = std::snprintf(buffer, sizeof buffer, "%.2fG", gib);
        }
    } else if (bytes >= kMiB) {
        length = std::snprintf(buffer, sizeof buffer, "%.0fM", quotient(bytes, kMiB));
    } else {
        length = std::snprintf(buffer, sizeof buffer, "%.0fK", quotient(bytes, kKiB));
    }
    return fromBuffer(buffer, length);
}
