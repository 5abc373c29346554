// tide-sample: the sampling engine on the command line. Prints one JSON object per sample, on a
// line of its own, with the fields of a system sample and, with --processes, the process list.

#include "sampling/TLCharconv.h"
#include "sampling/TLMetrics.h"
#include "sampling/TLPsTable.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

namespace {

const char* const kUsage =
    "usage: tide-sample [--processes] [--count N] [--interval SECONDS] [--help]\n"
    "\n"
    "Prints one JSON object per sample, one per line: the system memory, swap, pressure\n"
    "and CPU figures, and with --processes the list of processes.\n"
    "\n"
    "  --processes          include the process list (\"processes\": [...])\n"
    "  --count N            take N samples (default 1)\n"
    "  --interval SECONDS   wait SECONDS between samples (default 1); CPU figures are\n"
    "                       rates since the previous sample, so the first sample shows 0\n"
    "  --help               show this help\n";

[[noreturn]] void usageError(const std::string& message) {
    std::fprintf(stderr, "tide-sample: %s\n%s", message.c_str(), kUsage);
    std::exit(2);
}

void appendDouble(std::string& out, double v) {
    if (!std::isfinite(v)) {
        out += "null";
        return;
    }
    char buf[32];
    auto [end, ec] = TLToChars(buf, buf + sizeof buf, v);
    out.append(buf, ec == std::errc() ? end : buf);
}

void appendU64(std::string& out, uint64_t v) {
    out += std::to_string(v);
}

// A JSON string. Control characters are escaped; bytes that are not UTF-8 become U+FFFD.
void appendString(std::string& out, std::string_view s) {
    out += '"';
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
            }
            ++i;
            continue;
        }
        // The longest valid UTF-8 sequence starting here, if any.
        size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (len > 1 && i + len <= s.size() && TLIsValidUTF8(s.substr(i, len))) {
            out.append(s.substr(i, len));
            i += len;
        } else {
            out += "\\ufffd";
            ++i;
        }
    }
    out += '"';
}

bool parseCount(const char* s, long& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s, &end, 10);
    if (errno != 0 || end == s || *end != '\0' || v < 1) return false;
    out = v;
    return true;
}

bool parseSeconds(const char* s, double& out) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(s, &end);
    if (errno != 0 || end == s || *end != '\0' || !std::isfinite(v) || v < 0 || v > 86400)
        return false;
    out = v;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    bool processes = false;
    long count = 1;
    double interval = 1.0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--processes") {
            processes = true;
        } else if (a == "--count") {
            if (i + 1 >= argc) usageError("--count needs a number");
            if (!parseCount(argv[++i], count))
                usageError(std::string("--count wants a whole number of at least 1, not '") +
                           argv[i] + "'");
        } else if (a == "--interval") {
            if (i + 1 >= argc) usageError("--interval needs a number of seconds");
            if (!parseSeconds(argv[++i], interval))
                usageError(std::string("--interval wants seconds from 0 to 86400, not '") +
                           argv[i] + "'");
        } else {
            usageError("unknown argument '" + std::string(a) + "'");
        }
    }

    TLMetrics& metrics = TLMetrics::shared();
    std::string line;
    for (long n = 0; n < count; ++n) {
        if (n > 0) std::this_thread::sleep_for(std::chrono::duration<double>(interval));
        const TLSystemStats s = metrics.sampleSystem();
        line.clear();
        line += "{\"total\":";
        appendU64(line, s.total);
        line += ",\"app\":";
        appendU64(line, s.app);
        line += ",\"wired\":";
        appendU64(line, s.wired);
        line += ",\"compressed\":";
        appendU64(line, s.compressed);
        line += ",\"cached\":";
        appendU64(line, s.cached);
        line += ",\"used\":";
        appendU64(line, s.used);
        line += ",\"swapUsed\":";
        appendU64(line, s.swapUsed);
        line += ",\"swapTotal\":";
        appendU64(line, s.swapTotal);
        line += ",\"pressureLevel\":";
        line += std::to_string(TLPressureLevelValue(s.pressureLevel));
        line += ",\"pressurePercent\":";
        appendDouble(line, s.pressurePercent);
        line += ",\"usagePercent\":";
        appendDouble(line, s.usagePercent);
        line += ",\"cpuPercent\":";
        appendDouble(line, s.cpuPercent);
        if (processes) {
            line += ",\"processes\":[";
            bool first = true;
            for (const TLProc& p : metrics.sampleProcesses()) {
                if (!first) line += ',';
                first = false;
                line += "{\"pid\":";
                line += std::to_string(p.pid);
                line += ",\"name\":";
                appendString(line, p.name);
                line += ",\"memory\":";
                appendU64(line, p.memory);
                line += ",\"cpu\":";
                appendDouble(line, p.cpu);
                line += ",\"energy\":";
                appendDouble(line, p.energy);
                line += ",\"approximate\":";
                line += p.approximate ? "true" : "false";
                line += '}';
            }
            line += ']';
        }
        line += "}\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
    return 0;
}
