#include "sampling/TLCharconv.h"

#include "os/TLCLocaleNumbers.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether [p, last) starts with `word`, ignoring case.
bool startsWithWord(const char* p, const char* last, const char* word) {
    for (; *word; ++word, ++p)
        if (p == last || lower(*p) != *word) return false;
    return true;
}

// The end of the longest prefix of [first, last) that the general format accepts after an
// optional '-': digits with an optional point and fraction (at least one digit), then an optional
// exponent that counts only when digits follow. `first` when there is none.
const char* scanDecimal(const char* first, const char* last, bool& hasExponent) {
    const char* p = first;
    const char* digits = p;
    while (p != last && isDigit(*p))
        ++p;
    bool any = p != digits;
    if (p != last && *p == '.') {
        const char* frac = ++p;
        while (p != last && isDigit(*p))
            ++p;
        any = any || p != frac;
    }
    if (!any) return first;
    hasExponent = false;
    if (p != last && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        if (q != last && (*q == '+' || *q == '-')) ++q;
        const char* exp = q;
        while (q != last && isDigit(*q))
            ++q;
        if (q != exp) {
            p = q;
            hasExponent = true;
        }
    }
    return p;
}

} // namespace

std::from_chars_result TLFromCharsPortable(const char* first, const char* last, double& value) {
    const char* p = first;
    const bool negative = p != last && *p == '-';
    if (negative) ++p;

    // Infinity and NaN, as the standard allows them: "inf", "infinity", "nan", "nan(chars)".
    if (p != last && (lower(*p) == 'i' || lower(*p) == 'n')) {
        if (startsWithWord(p, last, "inf")) {
            p += startsWithWord(p, last, "infinity") ? 8 : 3;
            value = negative ? -HUGE_VAL : HUGE_VAL;
            return {p, std::errc()};
        }
        if (startsWithWord(p, last, "nan")) {
            p += 3;
            if (p != last && *p == '(') {
                const char* q = p + 1;
                while (q != last &&
                       (isDigit(*q) || (lower(*q) >= 'a' && lower(*q) <= 'z') || *q == '_'))
                    ++q;
                if (q != last && *q == ')') p = q + 1;
            }
            value = negative ? -std::nan("") : std::nan("");
            return {p, std::errc()};
        }
        return {first, std::errc::invalid_argument};
    }

    bool hasExponent = false;
    const char* end = scanDecimal(p, last, hasExponent);
    if (end == p) return {first, std::errc::invalid_argument};

    // strtod wants a terminated string: short numbers are copied to the stack, long ones (a
    // thousand zeros before a digit is still a number) to the heap.
    const auto length = static_cast<size_t>(end - first);
    char small[128];
    std::string large;
    char* text = small;
    if (length + 1 > sizeof small) {
        large.assign(first, end);
        text = large.data();
    } else {
        std::memcpy(small, first, length);
        small[length] = '\0';
    }

    const int savedErrno = errno;
    errno = 0;
    char* stop = nullptr;
    const double parsed = TLStrtodC(text, &stop);
    const bool range = errno == ERANGE;
    errno = savedErrno;
    if (stop != text + length) return {first, std::errc::invalid_argument};
    // Overflow, or a non-zero number that reads as zero: out of range. A subnormal result is a
    // value like any other.
    if (range && (parsed == 0.0 || std::isinf(parsed)))
        return {end, std::errc::result_out_of_range};
    value = parsed;
    return {end, std::errc()};
}

namespace {

// The shortest significand of a finite, non-zero `magnitude` that reads back as the same double
// (1 to 17 digits, trailing zeros dropped) into `digits`, and its decimal exponent. Returns the
// number of digits.
int shortestDigits(double magnitude, char (&digits)[24], int& exponent) {
    int count = 0;
    exponent = 0;
    for (int precision = 1; precision <= 17; ++precision) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "%.*e", precision - 1, magnitude);
        // buf: d[<radix>ddd]e±XX, the radix character being whatever the locale says.
        count = 0;
        const char* p = buf;
        for (; *p && *p != 'e'; ++p)
            if (isDigit(*p)) digits[count++] = *p;
        exponent = *p == 'e' ? std::atoi(p + 1) : 0;
        digits[count] = '\0';
        // Read back in the C locale ("1.e5" with an empty fraction reads fine too).
        char check[48];
        std::snprintf(check, sizeof check, "%c.%se%d", digits[0], digits + 1, exponent);
        if (TLStrtodC(check, nullptr) == magnitude) break;
    }
    // Drop trailing zeros of the significand (they add length, not precision).
    while (count > 1 && digits[count - 1] == '0')
        --count;
    return count;
}

// Writes `magnitude`, whose significand is digits[0, count) and decimal exponent `exponent`, at
// out + n in the shorter of the fixed and the scientific forms (fixed when they are as long).
// Returns the new end.
size_t writeShortest(char (&out)[64], size_t n, double magnitude, const char* digits, int count,
                     int exponent) {
    // The scientific form: d[.ddd]e±XX.
    const int expDigits = std::abs(exponent) >= 100 ? 3 : 2;
    const int sciLength = count + (count > 1 ? 1 : 0) + 2 + expDigits;
    // The fixed form: as many digits as the value needs, padded with zeros.
    int fixedLength;
    if (exponent >= 0)
        fixedLength = std::max(count, exponent + 1) + (count > exponent + 1 ? 1 : 0);
    else
        fixedLength = 2 + (-exponent - 1) + count;

    if (fixedLength <= sciLength) {
        if (exponent >= 0 && count <= exponent + 1) {
            // A whole number is written with all its exact digits, not padded with zeros
            // (they differ above 2^53: 12345678901234567168, not ...567000).
            n += static_cast<size_t>(std::snprintf(out + n, sizeof out - n, "%.0f", magnitude));
        } else if (exponent >= 0) {
            for (int i = 0; i < std::max(count, exponent + 1); ++i) {
                if (i == exponent + 1) out[n++] = '.';
                out[n++] = i < count ? digits[i] : '0';
            }
        } else {
            out[n++] = '0';
            out[n++] = '.';
            for (int i = 0; i < -exponent - 1; ++i)
                out[n++] = '0';
            for (int i = 0; i < count; ++i)
                out[n++] = digits[i];
        }
    } else {
        out[n++] = digits[0];
        if (count > 1) {
            out[n++] = '.';
            for (int i = 1; i < count; ++i)
                out[n++] = digits[i];
        }
        n += static_cast<size_t>(std::snprintf(out + n, sizeof out - n, "e%c%0*d",
                                               exponent < 0 ? '-' : '+', expDigits,
                                               std::abs(exponent)));
    }
    return n;
}

} // namespace

std::to_chars_result TLToCharsPortable(char* first, char* last, double value) {
    char out[64];
    size_t n = 0;
    if (std::signbit(value)) out[n++] = '-';
    const double magnitude = std::fabs(value);

    if (std::isnan(value) || std::isinf(value)) {
        const char* word = std::isnan(value) ? "nan" : "inf";
        std::memcpy(out + n, word, 3);
        n += 3;
    } else if (magnitude == 0.0) {
        out[n++] = '0';
    } else {
        char digits[24] = {};
        int exponent = 0;
        const int count = shortestDigits(magnitude, digits, exponent);
        n = writeShortest(out, n, magnitude, digits, count, exponent);
    }

    if (static_cast<size_t>(last - first) < n) return {last, std::errc::value_too_large};
    std::memcpy(first, out, n);
    return {first + n, std::errc()};
}

#if defined(_LIBCPP_VERSION)
// libc++ as Apple ships it: the stand-ins.
std::from_chars_result TLFromChars(const char* first, const char* last, double& value) {
    return TLFromCharsPortable(first, last, value);
}
std::to_chars_result TLToChars(char* first, char* last, double value) {
    return TLToCharsPortable(first, last, value);
}
#else
std::from_chars_result TLFromChars(const char* first, const char* last, double& value) {
    return std::from_chars(first, last, value, std::chars_format::general);
}
std::to_chars_result TLToChars(char* first, char* last, double value) {
    return std::to_chars(first, last, value);
}
#endif
