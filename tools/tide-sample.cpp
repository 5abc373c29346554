// tide-sample: the sampling engine on the command line. Prints one JSON object per sample, on a
// line of its own, with the fields of a system sample and, with --processes, the process list
// (and with --apps the same processes by application).

#include "sampling/TLAppGroups.h"
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
#include <vector>

namespace {

const char* const kUsage =
    "usage: tide-sample [--processes] [--apps] [--count N] [--interval SECONDS] [--help]\n"
    "\n"
    "Prints one JSON object per sample, one per line: the system memory, swap, pressure\n"
    "and CPU figures, and with --processes the list of processes.\n"
    "\n"
    "  --processes          include the process list (\"processes\": [...]), each with\n"
    "                       the application it belongs to (\"appId\", \"appName\")\n"
    "  --apps               include the processes merged by application (\"apps\": [...]),\n"
    "                       each with its name, member count and sums\n"
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

// A JSON object written onto the end of a string: "{" when made, then the members, "key":value,
// with a comma between them, then "}" at close().
class JsonObject {
public:
    explicit JsonObject(std::string& out) : _out(out) { _out += '{'; }
    // Starts a member: writes its key and returns the string, for the value to be appended.
    std::string& key(std::string_view name) {
        _out += _empty ? "\"" : ",\"";
        _empty = false;
        _out += name;
        _out += "\":";
        return _out;
    }
    void close() { _out += '}'; }

private:
    std::string& _out;
    bool _empty = true;
};

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

struct Options {
    bool processes = false;
    bool apps = false;
    long count = 1;
    double interval = 1.0;
};

// The options of the command line; prints the usage and exits on --help or a bad argument.
Options parseArguments(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--processes") {
            o.processes = true;
        } else if (a == "--apps") {
            o.apps = true;
        } else if (a == "--count") {
            if (i + 1 >= argc) usageError("--count needs a number");
            if (!parseCount(argv[++i], o.count))
                usageError(std::string("--count wants a whole number of at least 1, not '") +
                           argv[i] + "'");
        } else if (a == "--interval") {
            if (i + 1 >= argc) usageError("--interval needs a number of seconds");
            if (!parseSeconds(argv[++i], o.interval))
                usageError(std::string("--interval wants seconds from 0 to 86400, not '") +
                           argv[i] + "'");
        } else {
            usageError("unknown argument '" + std::string(a) + "'");
        }
    }
    return o;
}

// The members of a system sample.
void appendSystem(JsonObject& o, const TLSystemStats& s) {
    appendU64(o.key("total"), s.total);
    appendU64(o.key("app"), s.app);
    appendU64(o.key("wired"), s.wired);
    appendU64(o.key("compressed"), s.compressed);
    appendU64(o.key("cached"), s.cached);
    appendU64(o.key("used"), s.used);
    appendU64(o.key("swapUsed"), s.swapUsed);
    appendU64(o.key("swapTotal"), s.swapTotal);
    o.key("pressureLevel") += std::to_string(TLPressureLevelValue(s.pressureLevel));
    appendDouble(o.key("pressurePercent"), s.pressurePercent);
    appendDouble(o.key("usagePercent"), s.usagePercent);
    appendDouble(o.key("cpuPercent"), s.cpuPercent);
}

// The process list, as an array of objects.
void appendProcesses(std::string& out, const std::vector<TLProc>& processes) {
    out += '[';
    bool first = true;
    for (const TLProc& p : processes) {
        if (!first) out += ',';
        first = false;
        JsonObject o(out);
        o.key("pid") += std::to_string(p.pid);
        appendString(o.key("name"), p.name);
        appendU64(o.key("memory"), p.memory);
        appendDouble(o.key("cpu"), p.cpu);
        appendDouble(o.key("energy"), p.energy);
        o.key("approximate") += p.approximate ? "true" : "false";
        appendString(o.key("appId"), p.app ? p.app->id : std::string());
        appendString(o.key("appName"), p.app ? p.app->name : p.name);
        o.close();
    }
    out += ']';
}

// The applications of a process list, as an array of objects.
void appendApps(std::string& out, const std::vector<TLProc>& processes) {
    out += '[';
    bool first = true;
    for (const TLAppGroup& group : TLGroupByApp(processes)) {
        if (!first) out += ',';
        first = false;
        const TLProc& t = group.total;
        JsonObject o(out);
        appendString(o.key("appId"), t.app ? t.app->id : std::string());
        appendString(o.key("name"), t.name);
        o.key("processes") += std::to_string(group.members.size());
        appendU64(o.key("memory"), t.memory);
        appendDouble(o.key("cpu"), t.cpu);
        appendDouble(o.key("energy"), t.energy);
        o.key("approximate") += t.approximate ? "true" : "false";
        std::string& pids = o.key("pids");
        pids += '[';
        for (size_t i = 0; i < group.members.size(); ++i)
            pids += (i ? "," : "") + std::to_string(group.members[i].pid);
        pids += ']';
        o.close();
    }
    out += ']';
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parseArguments(argc, argv);
    TLMetrics& metrics = TLMetrics::shared();
    std::string line;
    for (long n = 0; n < options.count; ++n) {
        if (n > 0) std::this_thread::sleep_for(std::chrono::duration<double>(options.interval));
        const TLSystemStats s = metrics.sampleSystem();
        line.clear();
        JsonObject sample(line);
        appendSystem(sample, s);
        if (options.processes || options.apps) {
            const std::vector<TLProc> processes = metrics.sampleProcesses();
            if (options.processes) appendProcesses(sample.key("processes"), processes);
            if (options.apps) appendApps(sample.key("apps"), processes);
        }
        sample.close();
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
    return 0;
}
