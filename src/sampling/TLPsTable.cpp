#include "sampling/TLPsTable.h"

#include "sampling/TLCharconv.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <limits>

namespace {

// Space separators and tab; line breaks never reach here (the output is split on "\n" first).
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

void skipBlanks(std::string_view& s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
}

template <typename Int>
bool scanInteger(std::string_view& s, Int& out) {
    skipBlanks(s);
    const char* first = s.data();
    const char* last = s.data() + s.size();
    // One sign at most: "+5" and "-5", never "+-5".
    if (first != last && *first == '+') {
        ++first;
        if (first != last && *first == '-') return false;
    }
    auto [ptr, ec] = std::from_chars(first, last, out);
    if (ec != std::errc()) return false;
    // A figure ends at a blank or the end of the line: "0x10" is not 0 followed by a name.
    if (ptr != last && !isBlank(*ptr)) return false;
    s.remove_prefix(static_cast<size_t>(ptr - s.data()));
    return true;
}

// Whether a decimal number that a double cannot hold is too small (rather than too large): its
// magnitude's decimal exponent, from the digits and the written exponent, is negative.
bool tooSmall(const char* first, const char* last) {
    const char* p = first;
    if (p != last && (*p == '-' || *p == '+')) ++p;
    long long magnitude = 0; // position of the first significant digit relative to the point
    bool seenPoint = false, significant = false;
    long long position = 0;
    for (; p != last && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            seenPoint = true;
            continue;
        }
        if (!significant && *p != '0') {
            significant = true;
            magnitude = seenPoint ? -(position + 1) : 0;
        }
        if (seenPoint)
            ++position;
        else if (significant)
            ++magnitude;
    }
    long long exponent = 0;
    if (p != last) {
        ++p;
        bool negative = false;
        if (p != last && (*p == '+' || *p == '-')) negative = *p++ == '-';
        for (; p != last && exponent < 100000; ++p)
            exponent = exponent * 10 + (*p - '0');
        if (negative) exponent = -exponent;
    }
    return magnitude + exponent < 0;
}

// A decimal floating-point number: sign, digits, optional fraction, optional exponent.
// No hexadecimal, infinity or NaN forms.
bool scanDouble(std::string_view& s, double& out) {
    skipBlanks(s);
    const char* first = s.data();
    const char* last = s.data() + s.size();
    const char* p = first;
    if (p != last && (*p == '+' || *p == '-')) ++p;
    const char* digits = p;
    while (p != last && *p >= '0' && *p <= '9')
        ++p;
    bool any = p != digits;
    if (p != last && *p == '.') {
        ++p;
        const char* frac = p;
        while (p != last && *p >= '0' && *p <= '9')
            ++p;
        any = any || p != frac;
    }
    if (!any) return false;
    if (p != last && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        if (q != last && (*q == '+' || *q == '-')) ++q;
        const char* exp = q;
        while (q != last && *q >= '0' && *q <= '9')
            ++q;
        if (q != exp) p = q;
    }
    const char* numFirst = (first != last && *first == '+') ? first + 1 : first;
    auto [ptr, ec] = TLFromChars(numFirst, p, out);
    if (ec == std::errc::result_out_of_range) {
        // Too large: the largest double of that sign. Too small: 0.
        if (!tooSmall(numFirst, p)) {
            out = (*first == '-') ? -std::numeric_limits<double>::max()
                                  : std::numeric_limits<double>::max();
        } else {
            out = 0.0;
        }
    } else if (ec != std::errc() || ptr != p) {
        return false;
    }
    if (p != last && !isBlank(*p)) return false;
    s.remove_prefix(static_cast<size_t>(p - s.data()));
    return true;
}

} // namespace

bool TLIsValidUTF8(std::string_view s) {
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF.
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

bool TLParsePsLine(std::string_view line, int32_t& pid, TLPsEntry& entry) {
    std::string_view s = trim(line);
    if (s.empty()) return false;
    int32_t p = 0;
    int64_t kib = 0;
    double cpu = 0;
    if (!scanInteger(s, p) || !scanInteger(s, kib) || !scanDouble(s, cpu)) return false;
    // Figures no process can have mean a broken or hostile tool: the whole line is dropped.
    if (p < 1 || p > TLPsMaxPid || kib < 0 || kib > TLPsMaxKiB || !(cpu >= 0.0) ||
        !(cpu <= TLPsMaxCPU))
        return false;
    pid = p;
    entry.bytes = static_cast<uint64_t>(kib) * 1024;
    entry.cpu = cpu;
    std::string_view name = trim(s);
    if (name.size() > TLPsMaxNameBytes) {
        // Cut at a character boundary: never in the middle of a UTF-8 sequence.
        size_t cut = TLPsMaxNameBytes;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name = trim(name.substr(0, cut));
    }
    entry.name = std::string(name);
    return true;
}

TLPsTable TLParsePsOutput(std::string_view output) {
    TLPsTable table;
    table.reserve(512);
    size_t lines = 0;
    while (!output.empty() && lines++ < TLPsMaxLines) {
        const size_t nl = output.find('\n');
        const std::string_view line = output.substr(0, nl);
        output.remove_prefix(nl == std::string_view::npos ? output.size() : nl + 1);
        if (!TLIsValidUTF8(line)) continue;
        int32_t pid = 0;
        TLPsEntry entry;
        if (TLParsePsLine(line, pid, entry)) table.insert_or_assign(pid, std::move(entry));
    }
    return table;
}
