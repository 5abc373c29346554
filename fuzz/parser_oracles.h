#pragma once
// Reference implementations of the text parsers of the sampling engine, written independently of
// the engine's code, and checks that run an engine parser on one input and compare it with its
// reference. Shared by the randomized test (tests/parsers_fuzz_test.cpp) and the libFuzzer harness
// (fuzz/ps_fuzzer.cpp). Every check returns an empty string when the input passes, else a
// description of the fault with the input escaped so that it can be pasted into a test.

#include "os/linux/TLProcText.h"
#include "os/linux/TLProcfsProcessSource.h"
#include "sampling/TLPsTable.h"

#include <cerrno>
#include <cinttypes>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <locale.h>
#include <map>
#include <string>
#include <string_view>

namespace TLFuzz {

// Set to true to check only the general properties of inputs that hit a known, reported fault
// (while a fix is pending); every fault found so far is fixed, so every check is strict.
inline constexpr bool tolerateReported = false;

inline std::string escape(std::string_view s) {
    std::string out = "\"";
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += ch;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c >= 0x20 && c < 0x7F) {
            out += ch;
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
            out += "\"\""; // a hex escape must not swallow the next character
        }
    }
    return out + "\"";
}

// --- UTF-8 -----------------------------------------------------------------------------------

// Well-formed UTF-8 as the Unicode standard tabulates it (Table 3-7): each lead byte with the
// range its second byte must fall in and the length of the sequence.
inline bool referenceUTF8(std::string_view s) {
    struct Row {
        unsigned char leadLo, leadHi, secondLo, secondHi;
        int length;
    };
    static constexpr Row rows[] = {
        {0x00, 0x7F, 0, 0, 1},       {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3},
        {0xE1, 0xEC, 0x80, 0xBF, 3}, {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3},
        {0xF0, 0xF0, 0x90, 0xBF, 4}, {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4},
    };
    size_t i = 0;
    while (i < s.size()) {
        const auto lead = static_cast<unsigned char>(s[i]);
        const Row* row = nullptr;
        for (const Row& r : rows)
            if (lead >= r.leadLo && lead <= r.leadHi) row = &r;
        if (!row) return false;
        const auto len = static_cast<size_t>(row->length);
        if (s.size() - i < len) return false;
        for (size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            const unsigned char lo = k == 1 ? row->secondLo : 0x80;
            const unsigned char hi = k == 1 ? row->secondHi : 0xBF;
            if (b < lo || b > hi) return false;
        }
        i += len;
    }
    return true;
}

inline std::string checkUTF8(std::string_view s) {
    const bool got = TLIsValidUTF8(s);
    if (got == referenceUTF8(s)) return {};
    return "TLIsValidUTF8(" + escape(s) + ") is " + (got ? "true" : "false");
}

// --- ps lines ----------------------------------------------------------------------------------

inline bool psBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

inline std::string_view psTrim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && psBlank(s[b]))
        ++b;
    while (e > b && psBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

struct PsLine {
    bool ok = false;
    int32_t pid = 0;
    int64_t kib = 0;
    uint64_t bytes = 0;
    double cpu = 0;
    std::string name;
    // Inputs whose handling was reported as faulty: a "+-" sign before the pid or the size, and a
    // CPU figure too small for a double (it underflows to 0).
    bool reported = false;
};

// One signed decimal integer with an optional single sign, after blanks; false when it is
// missing or outside [lo, hi].
inline bool referenceInteger(std::string_view& s, int64_t lo, int64_t hi, int64_t& out,
                             bool& doubleSign) {
    size_t i = 0;
    while (i < s.size() && psBlank(s[i]))
        ++i;
    doubleSign = s.substr(i).starts_with("+-");
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    const size_t digits = i;
    // Accumulate as a negative number so that the most negative value fits.
    int64_t v = 0;
    bool overflow = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (__builtin_mul_overflow(v, 10, &v) || __builtin_sub_overflow(v, s[i] - '0', &v))
            overflow = true;
    }
    if (i == digits || overflow) return false;
    if (i < s.size() && !psBlank(s[i])) return false; // a figure ends at a blank
    if (!negative) {
        if (v == std::numeric_limits<int64_t>::min()) return false;
        v = -v;
    }
    if (v < lo || v > hi) return false;
    out = v;
    s.remove_prefix(i);
    return true;
}

// The C locale, for strtod.
inline locale_t cLocale() {
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

// A decimal number: sign, digits, a fraction, an exponent that counts only with digits. Values
// too large for a double become the largest double of that sign.
inline bool referenceDouble(std::string_view& s, double& out, bool& underflow) {
    size_t i = 0;
    while (i < s.size() && psBlank(s[i]))
        ++i;
    const size_t start = i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t mantissa = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
        ++mantissa;
    if (i < s.size() && s[i] == '.') {
        ++i;
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
            ++mantissa;
    }
    if (mantissa == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        const size_t expDigits = j;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9')
            ++j;
        if (j > expDigits) i = j;
    }
    if (i < s.size() && !psBlank(s[i])) return false; // a figure ends at a blank
    const std::string token(s.substr(start, i - start));
    errno = 0;
    double v = strtod_l(token.c_str(), nullptr, cLocale());
    underflow = errno == ERANGE && std::fabs(v) <= std::numeric_limits<double>::min();
    if (std::isinf(v))
        v = v < 0 ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();
    out = v;
    s.remove_prefix(i);
    return true;
}

inline PsLine referencePsLine(std::string_view line) {
    PsLine r;
    std::string_view s = psTrim(line);
    if (s.empty()) return r;
    int64_t pid = 0, kib = 0;
    bool pidSigns = false, kibSigns = false, underflow = false;
    if (!referenceInteger(s, INT32_MIN, INT32_MAX, pid, pidSigns)) {
        r.reported = pidSigns;
        return r;
    }
    if (!referenceInteger(s, INT64_MIN, INT64_MAX, kib, kibSigns) || kib < 0) {
        r.reported = pidSigns || kibSigns;
        return r;
    }
    if (!referenceDouble(s, r.cpu, underflow)) {
        r.reported = pidSigns || kibSigns;
        return r;
    }
    // Out of range: pid 1 … 2^22, size up to 2^38 KiB, CPU 0 … 819200 %.
    if (pid < 1 || pid > (1 << 22) || kib > (int64_t{1} << 38) || !(r.cpu >= 0) ||
        !(r.cpu <= 819200.0)) {
        r.reported = pidSigns || kibSigns;
        return r;
    }
    r.ok = true;
    r.pid = static_cast<int32_t>(pid);
    r.kib = kib;
    r.bytes = static_cast<uint64_t>(kib) * 1024;
    std::string_view name = psTrim(s);
    if (name.size() > 255) {
        size_t cut = 255;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name = psTrim(name.substr(0, cut));
    }
    r.name = std::string(name);
    r.reported = pidSigns || kibSigns || underflow;
    return r;
}

inline std::string describe(bool ok, int32_t pid, const TLPsEntry& e) {
    if (!ok) return "rejected";
    char buf[96];
    std::snprintf(buf, sizeof buf, "pid %d, %" PRIu64 " bytes, cpu %.17g, name ", pid, e.bytes,
                  e.cpu);
    return buf + escape(e.name);
}

inline std::string checkPsLine(std::string_view line) {
    int32_t pid = 0;
    TLPsEntry got;
    const bool ok = TLParsePsLine(line, pid, got);
    const PsLine ref = referencePsLine(line);
    const auto where = [&] { return "TLParsePsLine(" + escape(line) + "): "; };
    if (ok) {
        // Properties that hold whatever the numbers: the name is the trimmed tail of the line,
        // and the size is a whole number of KiB or saturated.
        if (got.name != psTrim(got.name))
            return where() + "name " + escape(got.name) + " untrimmed";
        const std::string_view body = psTrim(line);
        // (A name cut to its bound is the start of the tail, not all of it.)
        if (got.name.size() > 255 || body.find(got.name) == std::string_view::npos)
            return where() + "name " + escape(got.name) + " not its tail";
        if (got.bytes % 1024 != 0 || got.bytes > (uint64_t{1} << 48))
            return where() + "bytes " + std::to_string(got.bytes) + " not KiB x 1024 in range";
        if (pid < 1 || !(got.cpu >= 0) || !(got.cpu <= 819200.0))
            return where() + "figures out of range";
    }
    if (ref.reported && tolerateReported) return {};
    TLPsEntry want;
    want.bytes = ref.bytes;
    want.cpu = ref.cpu;
    want.name = ref.name;
    if (ok != ref.ok || (ok && (pid != ref.pid || got.bytes != ref.bytes || got.cpu != ref.cpu ||
                                got.name != ref.name)))
        return where() + describe(ok, pid, got) + ", expected " + describe(ref.ok, ref.pid, want);
    return {};
}

// The whole output: the line-by-line parse of its well-formed lines, a later pid replacing an
// earlier one.
inline std::string checkPsOutput(std::string_view output) {
    const TLPsTable got = TLParsePsOutput(output);
    std::map<int32_t, TLPsEntry> want;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string_view::npos) end = output.size();
        const std::string_view line = output.substr(start, end - start);
        start = end + 1;
        int32_t pid = 0;
        TLPsEntry e;
        if (referenceUTF8(line) && TLParsePsLine(line, pid, e)) want[pid] = e;
    }
    const auto where = [&] { return "TLParsePsOutput(" + escape(output) + "): "; };
    if (got.size() != want.size())
        return where() + std::to_string(got.size()) + " rows, expected " +
               std::to_string(want.size());
    for (const auto& [pid, e] : want) {
        const auto it = got.find(pid);
        if (it == got.end()) return where() + "pid " + std::to_string(pid) + " missing";
        if (it->second.bytes != e.bytes || it->second.cpu != e.cpu || it->second.name != e.name)
            return where() + describe(true, pid, it->second) + ", expected " +
                   describe(true, pid, e);
        if (!TLIsValidUTF8(it->second.name)) return where() + "name not UTF-8";
    }
    return {};
}

// --- procfs text -------------------------------------------------------------------------------

inline bool procBlank(char c) {
    return c == ' ' || c == '\t';
}

// Blanks, then decimal digits that fit 64 bits.
inline bool referenceU64(std::string_view s, uint64_t& out, size_t& used) {
    size_t i = 0;
    while (i < s.size() && procBlank(s[i]))
        ++i;
    const size_t digits = i;
    uint64_t v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (__builtin_mul_overflow(v, uint64_t{10}, &v) ||
            __builtin_add_overflow(v, static_cast<uint64_t>(s[i] - '0'), &v))
            return false;
    }
    if (i == digits) return false;
    out = v;
    used = i;
    return true;
}

inline constexpr uint64_t kUntouched = 0xDEADBEEFCAFEF00DULL;

inline std::string checkScanU64(std::string_view s) {
    std::string_view rest = s;
    uint64_t got = kUntouched;
    const bool ok = TLScanU64(rest, got);
    uint64_t want = 0;
    size_t used = 0;
    const bool wantOk = referenceU64(s, want, used);
    const auto where = [&] { return "TLScanU64(" + escape(s) + "): "; };
    if (ok != wantOk) return where() + (ok ? "accepted" : "rejected");
    if (ok && (got != want || rest.data() != s.data() + used || rest.size() != s.size() - used))
        return where() + "read " + std::to_string(got) + " leaving " + escape(rest);
    if (!ok && got != kUntouched) return where() + "failed but changed its output";
    if (!ok && (rest.data() + rest.size() != s.data() + s.size()))
        return where() + "failed and left a view that is not a tail of the input";
    return {};
}

inline std::string checkNextField(std::string_view s) {
    std::string_view rest = s;
    const std::string_view field = TLNextField(rest);
    size_t b = 0;
    while (b < s.size() && procBlank(s[b]))
        ++b;
    size_t e = b;
    while (e < s.size() && !procBlank(s[e]) && s[e] != '\n')
        ++e;
    const auto where = [&] { return "TLNextField(" + escape(s) + "): "; };
    if (field.data() != s.data() + b || field.size() != e - b)
        return where() + "field " + escape(field);
    if (rest.data() != s.data() + e || rest.size() != s.size() - e)
        return where() + "left " + escape(rest);
    return {};
}

// The first line of `text` that starts with `key` and a colon decides.
inline std::string checkFindKeyValue(std::string_view text, std::string_view key) {
    uint64_t got = kUntouched;
    const bool ok = TLFindKeyValue(text, key, got);
    std::string hay = "\n";
    hay.append(text);
    std::string needle = "\n";
    needle.append(key);
    needle += ':';
    const size_t at = hay.find(needle);
    bool wantOk = false;
    uint64_t want = 0;
    size_t used = 0;
    if (at != std::string::npos) {
        const std::string_view rest = std::string_view(hay).substr(at + needle.size());
        wantOk = referenceU64(rest.substr(0, rest.find('\n')), want, used);
    }
    const auto where = [&] {
        return "TLFindKeyValue(" + escape(text) + ", " + escape(key) + "): ";
    };
    if (ok != wantOk) return where() + (ok ? "found " + std::to_string(got) : "not found");
    if (ok && got != want)
        return where() + std::to_string(got) + ", expected " + std::to_string(want);
    if (!ok && got != kUntouched) return where() + "failed but changed its output";
    return {};
}

inline std::string checkProcStat(std::string_view text) {
    uint64_t ticks = kUntouched, start = kUntouched;
    bool kthread = false;
    const bool ok = TLParseProcStat(text, ticks, kthread, start);

    // Fields 3 on sit after the last ')' (the command name may hold any character) on the
    // remainder of its line, separated by blanks; flags is field 9, utime 14, stime 15 and the
    // start time 22, each read from the digits it starts with. Fields up to 15 must be there;
    // a start time that is missing or not a number is 0.
    bool wantOk = false, reported = false, wantKthread = false;
    uint64_t wantTicks = 0, wantStart = 0;
    if (const size_t close = text.rfind(')'); close != std::string_view::npos) {
        std::string_view rest = text.substr(close + 1);
        rest = rest.substr(0, rest.find('\n'));
        uint64_t values[23] = {};
        int field = 3;
        size_t i = 0;
        for (; field <= 22; ++field) {
            while (i < rest.size() && procBlank(rest[i]))
                ++i;
            const size_t from = i;
            while (i < rest.size() && !procBlank(rest[i]))
                ++i;
            if (i == from) break;
            size_t used = 0;
            if ((field == 9 || field == 14 || field == 15 || field == 22) &&
                !referenceU64(rest.substr(from, i - from), values[field], used)) {
                if (field != 22) break;
                values[22] = 0;
            }
        }
        if (field > 15) {
            wantOk = true;
            reported = __builtin_add_overflow(values[14], values[15], &wantTicks);
            wantKthread = (values[9] & 0x00200000) != 0;
            wantStart = values[22];
        }
    }
    const auto where = [&] { return "TLParseProcStat(" + escape(text) + "): "; };
    if (ok != wantOk) return where() + (ok ? "accepted" : "rejected");
    if (!ok) return {};
    if (kthread != wantKthread) return where() + "kernel-thread flag wrong";
    if (start != wantStart)
        return where() + "start time " + std::to_string(start) + ", expected " +
               std::to_string(wantStart);
    if (reported && tolerateReported) return {};
    if (reported && ticks != std::numeric_limits<uint64_t>::max())
        return where() + "utime + stime overflows to " + std::to_string(ticks);
    if (!reported && ticks != wantTicks)
        return where() + std::to_string(ticks) + " ticks, expected " + std::to_string(wantTicks);
    return {};
}

inline std::string checkProcStatus(std::string_view text) {
    uint64_t footprint = kUntouched, wakeups = kUntouched;
    const bool ok = TLParseProcStatus(text, footprint, wakeups);
    auto value = [&](std::string_view key, uint64_t& out) {
        out = 0;
        const std::string hay = "\n" + std::string(text);
        const std::string needle = "\n" + std::string(key) + ":";
        const size_t at = hay.find(needle);
        if (at == std::string::npos) return false;
        const std::string_view rest = std::string_view(hay).substr(at + needle.size());
        size_t used = 0;
        if (!referenceU64(rest.substr(0, rest.find('\n')), out, used)) {
            out = 0;
            return false;
        }
        return true;
    };
    uint64_t anon = 0, shmem = 0, swap = 0, vol = 0;
    value("RssAnon", anon);
    value("RssShmem", shmem);
    value("VmSwap", swap);
    const bool wantOk = value("voluntary_ctxt_switches", vol);
    uint64_t kib = 0, bytes = 0;
    const bool overflow = __builtin_add_overflow(anon, shmem, &kib) ||
                          __builtin_add_overflow(kib, swap, &kib) ||
                          __builtin_mul_overflow(kib, uint64_t{1024}, &bytes);
    const auto where = [&] { return "TLParseProcStatus(" + escape(text) + "): "; };
    if (ok != wantOk) return where() + (ok ? "accepted" : "rejected");
    if (!ok) return {};
    if (wakeups != vol) return where() + std::to_string(wakeups) + " wakeups";
    if (overflow && tolerateReported) return {};
    if (overflow && footprint != std::numeric_limits<uint64_t>::max())
        return where() + "footprint overflows to " + std::to_string(footprint);
    if (!overflow && footprint != bytes)
        return where() + "footprint " + std::to_string(footprint) + ", expected " +
               std::to_string(bytes);
    return {};
}

// Every check on one input, first fault first.
inline std::string checkAll(std::string_view data) {
    static constexpr std::string_view keys[] = {"RssAnon",  "VmSwap", "voluntary_ctxt_switches",
                                                "MemTotal", "cpu",    ""};
    for (std::string r :
         {checkUTF8(data), checkPsLine(data), checkPsOutput(data), checkScanU64(data),
          checkNextField(data), checkProcStat(data), checkProcStatus(data)})
        if (!r.empty()) return r;
    for (const std::string_view key : keys)
        if (std::string r = checkFindKeyValue(data, key); !r.empty()) return r;
    // All the keys in one pass agree with looking each up on its own.
    TLKeyValue many[std::size(keys)];
    for (size_t i = 0; i < std::size(keys); ++i)
        many[i] = {keys[i], kUntouched, false};
    TLFindKeyValues(data, many);
    for (const TLKeyValue& k : many) {
        uint64_t one = kUntouched;
        const bool found = TLFindKeyValue(data, k.key, one);
        if (found != k.found || (found && one != k.value) || (!found && k.value != kUntouched))
            return "TLFindKeyValues(" + escape(data) + "): key " + std::string(k.key) +
                   " differs from TLFindKeyValue";
    }
    return {};
}

} // namespace TLFuzz
