#include "os/TLCLocaleNumbers.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <system_error>
#ifdef __APPLE__
#include <xlocale.h>
#endif

namespace {

locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

} // namespace

double TLStrtodC(const char* text, char** end) {
    return strtod_l(text, end, cLocale());
}

size_t TLFixedC(char* out, size_t size, double value, int decimals) {
    decimals = std::clamp(decimals, 0, 60);
#ifdef __APPLE__
    // Apple's libc++ offers this to_chars only on newer systems than the ones Tide runs on:
    // printf in the C locale, set for this thread alone, gives the same digits.
    char buf[400]; // the longest double in fixed notation has 309 integer digits
    const locale_t previous = uselocale(cLocale());
    const int written = std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    uselocale(previous);
    if (written <= 0 || static_cast<size_t>(written) >= sizeof buf) return 0;
    const size_t n = std::min(static_cast<size_t>(written), size);
    std::copy(buf, buf + n, out);
    return n;
#else
    // std::to_chars never consults the locale.
    const auto r = std::to_chars(out, out + size, value, std::chars_format::fixed, decimals);
    return r.ec == std::errc() ? static_cast<size_t>(r.ptr - out) : 0;
#endif
}
