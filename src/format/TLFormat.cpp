#include "format/TLFormat.h"

#include "os/TLCLocaleNumbers.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <string_view>

namespace {

constexpr uint64_t kKiB = 1024;
constexpr uint64_t kMiB = kKiB * 1024;
constexpr uint64_t kGiB = kMiB * 1024;

// The quotient in double precision, rounded afterwards.
double quotient(uint64_t bytes, uint64_t unit) {
    return static_cast<double>(bytes) / static_cast<double>(unit);
}

// Appends text to a bounded, NUL-terminated buffer.
struct Writer {
    char* out;
    size_t size;
    size_t len = 0;

    void fixed(double value, int decimals) {
        if (len + 1 >= size) return;
        len += TLFormatFixedTo(out + len, size - len, value, decimals);
    }
    void text(std::string_view s) {
        if (len + 1 >= size) return;
        const size_t n = std::min(s.size(), size - 1 - len);
        std::memcpy(out + len, s.data(), n);
        len += n;
        out[len] = '\0';
    }
};

} // namespace

size_t TLFormatFixedTo(char* out, size_t size, double value, int decimals) {
    if (size == 0) return 0;
    // std::to_chars writes the shortest exact decimal rounding of the binary value, ties to even,
    // as printf's "%.*f" does in the C locale, and it never consults the locale.
    char buf[400]; // the longest double in fixed notation has 309 integer digits
    const size_t n = TLFixedC(buf, sizeof buf, value, decimals);
    const size_t kept = std::min(n, size - 1);
    std::memcpy(out, buf, kept);
    out[kept] = '\0';
    return kept;
}

QString TLFormatFixed(double value, int decimals) {
    char buf[400];
    const size_t n = TLFormatFixedTo(buf, sizeof buf, value, decimals);
    return QString::fromLatin1(buf, static_cast<qsizetype>(n));
}

QString TLFormatPercent(double value, int decimals) {
    char buf[400];
    Writer w{buf, sizeof buf};
    w.fixed(value, decimals);
    w.text("%");
    return QString::fromLatin1(buf, static_cast<qsizetype>(w.len));
}

size_t TLFormatBytesTo(char* out, size_t size, uint64_t bytes) {
    if (size == 0) return 0;
    out[0] = '\0';
    Writer w{out, size};
    if (bytes >= kGiB) {
        w.fixed(quotient(bytes, kGiB), 2);
        w.text(" GB");
    } else if (bytes >= kMiB) {
        w.fixed(quotient(bytes, kMiB), 1);
        w.text(" MB");
    } else if (bytes >= kKiB) {
        w.fixed(quotient(bytes, kKiB), 0);
        w.text(" KB");
    } else {
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, bytes);
        w.text({digits, static_cast<size_t>(r.ptr - digits)});
        w.text(" B");
    }
    return w.len;
}

size_t TLFormatBytesShortTo(char* out, size_t size, uint64_t bytes) {
    if (size == 0) return 0;
    out[0] = '\0';
    Writer w{out, size};
    if (bytes >= kGiB) {
        // Decided on the unrounded quotient: just under 10 GiB still takes two decimals and may
        // print as "10.00G".
        const double gib = quotient(bytes, kGiB);
        w.fixed(gib, gib >= 10.0 ? 1 : 2);
        w.text("G");
    } else if (bytes >= kMiB) {
        w.fixed(quotient(bytes, kMiB), 0);
        w.text("M");
    } else {
        w.fixed(quotient(bytes, kKiB), 0);
        w.text("K");
    }
    return w.len;
}

QString TLFormatBytes(uint64_t bytes) {
    // The largest output, UINT64_MAX as "17179869184.00 GB", needs 18 characters.
    char buf[64];
    const size_t n = TLFormatBytesTo(buf, sizeof buf, bytes);
    return QString::fromLatin1(buf, static_cast<qsizetype>(n));
}

QString TLFormatBytesShort(uint64_t bytes) {
    char buf[64];
    const size_t n = TLFormatBytesShortTo(buf, sizeof buf, bytes);
    return QString::fromLatin1(buf, static_cast<qsizetype>(n));
}
