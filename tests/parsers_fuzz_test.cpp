// Randomized checks of the text parsers of the sampling engine: the ps table, UTF-8 validation and
// the procfs scanners. Inputs come from a fixed seed, so every run sees the same cases: real ps
// output and /proc files mutated byte by byte, spliced, cut short and salted with huge numbers,
// NULs and stray UTF-8 bytes, plus lines built from known values; cgroup files, unit names and
// desktop entries likewise. Each parser is compared with an independent reference
// (fuzz/parser_oracles.h, shared with the libFuzzer harness).

#include "../fuzz/app_oracles.h"
#include "../fuzz/parser_oracles.h"

#include <QByteArray>
#include <QString>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace std::string_view_literals;

// --- Real inputs, as captured on a Linux machine -------------------------------------------------

constexpr std::string_view kPsOutput = "    1 11928  0.5 process_api\n"
                                       "    2     0  0.0 kthreadd\n"
                                       "    3     0  0.0 pool_workqueue_release\n"
                                       "   10     0  0.0 kworker/0:0H-events_highpri\n"
                                       "   14     0  0.0 ksoftirqd/0\n"
                                       "  612  8836  0.0 systemd-journal\n"
                                       "  988  5120  0.0 dbus-daemon\n"
                                       " 1544 412332 12.7 Web Content\n"
                                       " 1622 301228  3.1 Isolated Web Co\n"
                                       " 2071 97436  0.4 潮汐\n"
                                       " 2250  6144  0.0 café au lait\n"
                                       " 4101  4080  0.0 bash\n"
                                       "31337 2147483647 105.3 stress-ng-vm\n"
                                       "99999     0  0.0 <defunct>\n";

constexpr std::string_view kStatUser =
    "9717 (cat) R 9713 9713 4101 0 -1 4194304 99 0 0 0 0 0 0 0 20 0 1 0 49094 3133440 409 "
    "18446744073709551615 94142165270528 94142165290409 140735339119840 0 0 0 0 0 0 0 0 0 17 1 0 "
    "0 0 0 0 94142165306416 94142165308032 94142800343040 140735339121095 140735339121115 "
    "140735339121115 140735339122667 0\n";
constexpr std::string_view kStatKernel =
    "2 (kthreadd) S 0 0 0 0 -1 2129984 0 0 0 0 0 0 0 0 20 0 1 0 18 0 0 18446744073709551615 0 0 0 "
    "0 0 0 0 2147483647 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
constexpr std::string_view kStatBusy =
    "1 (process_api) S 0 0 0 0 -1 4194560 18591 378887 0 199 94 187 1256 864 10 -10 18 0 18 "
    "50831360 2952 18446744073709551615 1 1 0 0 0 0 0 4096 1256 0 0 0 17 0 0 0 0 0 0 0 0 0 0 0 0 "
    "0 0\n";
// A command name with spaces and parentheses, as prctl(PR_SET_NAME) allows.
constexpr std::string_view kStatOddName =
    "4242 (a) b (c)) S 1 4242 4242 0 -1 4194560 10 0 0 0 123 45 0 0 20 0 3 0 777 1000 10 "
    "18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 0 0 0 0 0 0\n";

constexpr std::string_view kStatus = "Name:\tcat\n"
                                     "Umask:\t0022\n"
                                     "State:\tR (running)\n"
                                     "Tgid:\t9720\n"
                                     "Pid:\t9720\n"
                                     "PPid:\t9713\n"
                                     "Uid:\t0\t0\t0\t0\n"
                                     "FDSize:\t256\n"
                                     "Groups:\t \n"
                                     "Kthread:\t0\n"
                                     "VmPeak:\t    3060 kB\n"
                                     "VmSize:\t    3060 kB\n"
                                     "VmRSS:\t    1780 kB\n"
                                     "RssAnon:\t     112 kB\n"
                                     "RssFile:\t    1668 kB\n"
                                     "RssShmem:\t       0 kB\n"
                                     "VmData:\t     360 kB\n"
                                     "VmSwap:\t       0 kB\n"
                                     "Threads:\t1\n"
                                     "SigQ:\t0/96367\n"
                                     "CapPrm:\t000001fffeffffff\n"
                                     "Cpus_allowed_list:\t0-1\n"
                                     "voluntary_ctxt_switches:\t0\n"
                                     "nonvoluntary_ctxt_switches:\t2\n";
// A zombie has no memory lines at all.
constexpr std::string_view kStatusZombie = "Name:\tdefunct\n"
                                           "State:\tZ (zombie)\n"
                                           "Tgid:\t77\n"
                                           "Threads:\t1\n"
                                           "voluntary_ctxt_switches:\t15\n"
                                           "nonvoluntary_ctxt_switches:\t1\n";

constexpr std::string_view kMeminfo = "MemTotal:       24683724 kB\n"
                                      "MemFree:        23788236 kB\n"
                                      "MemAvailable:   24074852 kB\n"
                                      "Buffers:           2540 kB\n"
                                      "Cached:          478436 kB\n"
                                      "SwapTotal:             0 kB\n"
                                      "SwapFree:              0 kB\n"
                                      "Zswap:                 0 kB\n"
                                      "PageTables:        4496 kB\n"
                                      "Percpu:            1632 kB\n";

constexpr std::string_view kKeys[] = {"MemTotal",
                                      "MemFree",
                                      "MemAvailable",
                                      "SwapFree",
                                      "Zswap",
                                      "RssAnon",
                                      "VmSwap",
                                      "Rss",
                                      "voluntary_ctxt_switches",
                                      "Name",
                                      "Cpus_allowed_list",
                                      "",
                                      "Mem",
                                      "kB"};

// --- Deterministic randomness and mutation -------------------------------------------------------

// splitmix64: the same sequence on every platform and standard library.
class Rng {
public:
    explicit Rng(uint64_t seed) : _s(seed) {}
    uint64_t next() {
        uint64_t z = (_s += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    size_t below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(next() % n); }
    bool chance(unsigned percent) { return below(100) < percent; }
    template <typename T, size_t N>
    const T& pick(const T (&items)[N]) {
        return items[below(N)];
    }

private:
    uint64_t _s;
};

// Bytes that steer the parsers: separators, signs, digits, the stat and status punctuation, NUL,
// and UTF-8 lead and continuation bytes (valid and invalid).
constexpr char kInteresting[] = {' ',    '\t',   '\n',   '\r',   '\v',   '\f',   '\0',   '+',
                                 '-',    '.',    'e',    'E',    '0',    '1',    '9',    '(',
                                 ')',    ':',    'x',    'k',    '\x80', '\xBF', '\xC0', '\xC2',
                                 '\xDF', '\xE0', '\xED', '\xEF', '\xF0', '\xF4', '\xF5', '\xFF'};

constexpr std::string_view kHugeNumbers[] = {"2147483647",
                                             "2147483648",
                                             "-2147483648",
                                             "-2147483649",
                                             "9223372036854775807",
                                             "9223372036854775808",
                                             "18014398509481983",
                                             "18014398509481984",
                                             "18446744073709551615",
                                             "18446744073709551616",
                                             "99999999999999999999999999999",
                                             "1e308",
                                             "1e309",
                                             "-1e999",
                                             "4.9e-324",
                                             "0.000",
                                             "00000000000000000000000000042",
                                             "+7",
                                             "-0",
                                             "4194304",
                                             "2097152"};

std::string mutate(Rng& rng, std::string s, const std::vector<std::string_view>& pool) {
    const size_t rounds = 1 + rng.below(4);
    for (size_t r = 0; r < rounds; ++r) {
        const size_t at = rng.below(s.size() + 1);
        switch (rng.below(9)) {
        case 0: // flip one bit
            if (!s.empty()) s[rng.below(s.size())] ^= static_cast<char>(1u << rng.below(8));
            break;
        case 1: // insert a steering byte
            s.insert(at, 1, rng.pick(kInteresting));
            break;
        case 2: // overwrite with a steering byte
            if (!s.empty()) s[rng.below(s.size())] = rng.pick(kInteresting);
            break;
        case 3: // delete a range
            s.erase(at, rng.below(8));
            break;
        case 4: // duplicate a range
            if (!s.empty()) {
                const size_t from = rng.below(s.size());
                s.insert(at, s.substr(from, rng.below(16)));
            }
            break;
        case 5: // cut short
            s.resize(at);
            break;
        case 6: { // replace the number at a digit with a huge or odd one
            size_t d = s.find_first_of("0123456789", at);
            if (d == std::string::npos) d = s.find_first_of("0123456789");
            if (d == std::string::npos) break;
            size_t e = d;
            while (e < s.size() && s[e] >= '0' && s[e] <= '9')
                ++e;
            s.replace(d, e - d, rng.pick(kHugeNumbers));
            break;
        }
        case 7: { // splice in a piece of another input
            const std::string_view other = pool[rng.below(pool.size())];
            const size_t from = rng.below(other.size() + 1);
            s.insert(at, other.substr(from, rng.below(40)));
            break;
        }
        default: // a random byte
            s.insert(at, 1, static_cast<char>(rng.below(256)));
            break;
        }
    }
    return s;
}

std::string randomBytes(Rng& rng, size_t maxLen) {
    std::string s(rng.below(maxLen + 1), '\0');
    for (char& c : s)
        c = rng.chance(50) ? rng.pick(kInteresting) : static_cast<char>(rng.below(256));
    return s;
}

// The lines of `text`, without their line breaks.
std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        lines.push_back(text.substr(0, nl));
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    }
    return lines;
}

// Reports the first few faults of a run and then stops adding to them.
class Faults {
public:
    explicit Faults(size_t limit = 5) : _limit(limit) {}
    void check(const std::string& fault) {
        if (fault.empty()) return;
        if (++_count <= _limit) ADD_FAILURE() << fault;
    }
    size_t count() const { return _count; }

private:
    size_t _limit;
    size_t _count = 0;
};

// UTF-8 encoding of a code point, surrogates and values past U+10FFFF included (they are then
// ill-formed, which is the point).
std::string encode(uint32_t cp) {
    std::string s;
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | ((cp >> 18) & 0x07));
        s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return s;
}

// --- UTF-8 -------------------------------------------------------------------------------------

TEST(ParsersFuzz, Utf8AgreesWithReferenceOnEverySequenceUpToThreeBytes) {
    Faults faults;
    char b[3];
    for (unsigned x = 0; x < 256; ++x) {
        b[0] = static_cast<char>(x);
        faults.check(TLFuzz::checkUTF8({b, 1}));
        for (unsigned y = 0; y < 256; ++y) {
            b[1] = static_cast<char>(y);
            faults.check(TLFuzz::checkUTF8({b, 2}));
            for (unsigned z = 0; z < 256; ++z) {
                b[2] = static_cast<char>(z);
                faults.check(TLFuzz::checkUTF8({b, 3}));
            }
        }
    }
    // Four-byte sequences: every lead byte from F0 on with every second byte, and the third and
    // fourth at the edges of the continuation range and just outside it.
    constexpr unsigned char edges[] = {0x00, 0x7F, 0x80, 0x81, 0xBE, 0xBF, 0xC0, 0xFF};
    char q[4];
    for (unsigned x = 0xF0; x < 0x100; ++x)
        for (unsigned y = 0; y < 256; ++y)
            for (const unsigned char z : edges)
                for (const unsigned char w : edges) {
                    q[0] = static_cast<char>(x);
                    q[1] = static_cast<char>(y);
                    q[2] = static_cast<char>(z);
                    q[3] = static_cast<char>(w);
                    faults.check(TLFuzz::checkUTF8({q, 4}));
                }
    EXPECT_EQ(faults.count(), 0u);
}

TEST(ParsersFuzz, Utf8AgreesWithReferenceAndQtOnRandomText) {
    // Code points at the edges of every encoding length and of the surrogate block.
    constexpr uint32_t edges[] = {0x0,      0x7F,     0x80,     0x7FF,    0x800,    0xD7FF, 0xD800,
                                  0xDBFF,   0xDC00,   0xDFFF,   0xE000,   0xFFFD,   0xFFFF, 0x10000,
                                  0x10FFFF, 0x110000, 0x13FFFF, 0x140000, 0x1FFFFF, 0x6F6E};
    Rng rng(0x7469646501);
    Faults faults;
    size_t valid = 0;
    for (int i = 0; i < 40000; ++i) {
        std::string s;
        const size_t atoms = rng.below(12);
        for (size_t a = 0; a < atoms; ++a) {
            switch (rng.below(5)) {
            case 0:
                s += static_cast<char>(rng.below(0x80));
                break;
            case 1:
                s += encode(rng.pick(edges));
                break;
            case 2:
                s += encode(static_cast<uint32_t>(rng.below(0x110000)));
                break;
            case 3:
                s += rng.pick(kInteresting);
                break;
            default:
                s += static_cast<char>(rng.below(256));
                break;
            }
        }
        if (rng.chance(20)) s.resize(rng.below(s.size() + 1)); // cut inside a sequence
        faults.check(TLFuzz::checkUTF8(s));
        // Qt's decoder as a second opinion: well-formed text survives a round trip unchanged,
        // ill-formed text has its bad bytes replaced.
        const QByteArray bytes(s.data(), static_cast<qsizetype>(s.size()));
        const bool roundTrips = QString::fromUtf8(bytes).toUtf8() == bytes;
        if (roundTrips != TLIsValidUTF8(s))
            faults.check("TLIsValidUTF8 and Qt disagree on " + TLFuzz::escape(s));
        valid += roundTrips;
    }
    EXPECT_EQ(faults.count(), 0u);
    // Both kinds were exercised in quantity.
    EXPECT_GT(valid, 5000u);
    EXPECT_LT(valid, 35000u);
}

// --- ps ----------------------------------------------------------------------------------------

TEST(ParsersFuzz, PsLinesFromKnownValuesParseExactly) {
    constexpr std::string_view names[] = {
        "bash", "Web Content", "潮汐",    "café au lait", "kworker/0:1-events",
        "a\tb", "(sd-pam)",    "x  y  z", "12 34 5.6",    "e",
        ""};
    constexpr std::string_view blanks[] = {"", " ", "   ", "\t", " \t ", "\r", "\v\f"};
    constexpr int64_t kibs[] = {0,
                                1,
                                1024,
                                11928,
                                412332,
                                2147483647,
                                18014398509481983,
                                18014398509481984,
                                9223372036854775807};
    Rng rng(0x7469646502);
    Faults faults;
    for (int i = 0; i < 20000; ++i) {
        const auto pid =
            static_cast<int32_t>(rng.below(2) ? rng.below(100000) : rng.below(0x80000000ULL));
        const int64_t kib =
            rng.chance(30) ? rng.pick(kibs) : static_cast<int64_t>(rng.below(1ULL << 40));
        const double cpu = static_cast<double>(rng.below(20000)) / 10.0;
        const std::string_view name = rng.pick(names);
        char nums[96];
        std::snprintf(nums, sizeof nums, "%d%.*s%lld%.*s%.1f", pid,
                      1 + static_cast<int>(rng.below(3)), "   ", static_cast<long long>(kib),
                      1 + static_cast<int>(rng.below(3)), "   ", cpu);
        const std::string_view sep = name.empty() ? ""sv : " "sv;
        const std::string line = std::string(rng.pick(blanks)) + nums + std::string(sep) +
                                 std::string(name) + std::string(rng.pick(blanks));

        int32_t gotPid = 0;
        TLPsEntry got;
        // Figures no process can have: a pid of 0 or past 2^22, more than 2^38 KiB.
        const bool inRange = pid >= 1 && pid <= (1 << 22) && kib <= (int64_t{1} << 38);
        if (TLParsePsLine(line, gotPid, got) != inRange) {
            faults.check((inRange ? "rejected " : "accepted ") + TLFuzz::escape(line));
            continue;
        }
        if (!inRange) continue;
        const auto bytes = static_cast<uint64_t>(kib) * 1024;
        if (gotPid != pid || got.bytes != bytes || got.cpu != cpu || got.name != name)
            faults.check("wrong fields from " + TLFuzz::escape(line) + ": " +
                         TLFuzz::describe(true, gotPid, got));
        faults.check(TLFuzz::checkPsLine(line));
    }
    EXPECT_EQ(faults.count(), 0u);
}

TEST(ParsersFuzz, MutatedPsLinesAgreeWithReference) {
    const std::vector<std::string_view> seeds = linesOf(kPsOutput);
    const std::vector<std::string_view> pool = {kPsOutput, kStatUser, kStatus, kMeminfo};
    Rng rng(0x7469646503);
    Faults faults;
    size_t accepted = 0;
    for (int i = 0; i < 60000; ++i) {
        std::string line = rng.chance(5)
                               ? randomBytes(rng, 40)
                               : mutate(rng, std::string(seeds[rng.below(seeds.size())]), pool);
        faults.check(TLFuzz::checkPsLine(line));
        int32_t pid = 0;
        TLPsEntry e;
        accepted += TLParsePsLine(line, pid, e);
    }
    EXPECT_EQ(faults.count(), 0u);
    // The mutations keep a good share of the lines parseable, so the comparison has substance.
    EXPECT_GT(accepted, 15000u);
}

TEST(ParsersFuzz, MutatedPsOutputMatchesLineByLineParse) {
    const std::vector<std::string_view> pool = {kPsOutput, kStatKernel, kStatus};
    Rng rng(0x7469646504);
    Faults faults;
    faults.check(TLFuzz::checkPsOutput(kPsOutput));
    EXPECT_EQ(TLParsePsOutput(kPsOutput).size(), linesOf(kPsOutput).size());
    for (int i = 0; i < 3000; ++i) {
        std::string out(kPsOutput);
        const size_t rounds = 1 + rng.below(6);
        for (size_t r = 0; r < rounds; ++r)
            out = mutate(rng, std::move(out), pool);
        faults.check(TLFuzz::checkPsOutput(out));
    }
    for (int i = 0; i < 2000; ++i)
        faults.check(TLFuzz::checkPsOutput(randomBytes(rng, 200)));
    EXPECT_EQ(faults.count(), 0u);
}

// --- procfs ------------------------------------------------------------------------------------

TEST(ParsersFuzz, ProcTextScannersAgreeWithReference) {
    const std::vector<std::string_view> pool = {kStatus, kMeminfo, kStatUser, kStatusZombie};
    Rng rng(0x7469646505);
    Faults faults;
    for (int i = 0; i < 30000; ++i) {
        const std::string text = rng.chance(10)
                                     ? randomBytes(rng, 60)
                                     : mutate(rng, std::string(pool[rng.below(pool.size())]), pool);
        faults.check(TLFuzz::checkFindKeyValue(text, rng.pick(kKeys)));
        // The scanners see the text from an arbitrary offset, as they do inside a line.
        const std::string_view tail = std::string_view(text).substr(rng.below(text.size() + 1));
        faults.check(TLFuzz::checkScanU64(tail));
        faults.check(TLFuzz::checkNextField(tail));
    }
    for (const std::string_view n : kHugeNumbers) {
        faults.check(TLFuzz::checkScanU64(n));
        faults.check(TLFuzz::checkScanU64(" \t" + std::string(n) + " kB"));
    }
    EXPECT_EQ(faults.count(), 0u);
}

TEST(ParsersFuzz, MutatedProcStatAndStatusAgreeWithReference) {
    const std::vector<std::string_view> stats = {kStatUser, kStatKernel, kStatBusy, kStatOddName};
    const std::vector<std::string_view> statuses = {kStatus, kStatusZombie};
    const std::vector<std::string_view> pool = {kStatUser, kStatOddName, kStatus, kMeminfo};
    Rng rng(0x7469646506);
    Faults faults;
    size_t statOK = 0, statusOK = 0;
    for (int i = 0; i < 30000; ++i) {
        const std::string stat = mutate(rng, std::string(stats[rng.below(stats.size())]), pool);
        faults.check(TLFuzz::checkProcStat(stat));
        const std::string status =
            mutate(rng, std::string(statuses[rng.below(statuses.size())]), pool);
        faults.check(TLFuzz::checkProcStatus(status));
        uint64_t a = 0, c = 0;
        bool k = false;
        statOK += TLParseProcStat(stat, a, k);
        statusOK += TLParseProcStatus(status, a, c);
    }
    EXPECT_EQ(faults.count(), 0u);
    EXPECT_GT(statOK, 10000u);
    EXPECT_GT(statusOK, 10000u);
}

TEST(ParsersFuzz, ProcStatFromKnownValuesWithAnyCommandName) {
    // The kernel prints the command name unescaped: any byte but NUL, up to 15 of them.
    Rng rng(0x7469646507);
    Faults faults;
    for (int i = 0; i < 20000; ++i) {
        std::string comm;
        for (size_t n = rng.below(16); n > 0; --n) {
            char c = rng.chance(40) ? rng.pick(kInteresting) : static_cast<char>(rng.below(256));
            comm += c == '\0' ? ')' : c;
        }
        const uint64_t flags = rng.chance(30) ? 0x00208040 : 0x00404100;
        const uint64_t utime = rng.below(1ULL << 40), stime = rng.below(1ULL << 40);
        const uint64_t started = rng.below(1ULL << 40);
        char tail[256];
        std::snprintf(
            tail, sizeof tail,
            ") S 1 2 3 0 -1 %llu 5 0 0 0 %llu %llu 0 0 20 0 1 0 %llu 3133440 409\n",
            static_cast<unsigned long long>(flags), static_cast<unsigned long long>(utime),
            static_cast<unsigned long long>(stime), static_cast<unsigned long long>(started));
        const std::string text = "4242 (" + comm + tail;
        uint64_t ticks = 0, start = 0;
        bool kthread = false;
        if (!TLParseProcStat(text, ticks, kthread, start) || ticks != utime + stime ||
            kthread != ((flags & 0x00200000) != 0) || start != started)
            faults.check("TLParseProcStat misread " + TLFuzz::escape(text));
    }
    EXPECT_EQ(faults.count(), 0u);
}

TEST(ParsersFuzz, MutatedUnitsAndDesktopEntriesAgreeWithChecks) {
    constexpr std::string_view kCgroup =
        "0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
        "app-gnome-org.gnome.Evolution\\x2dalarm\\x2dnotify-2412.scope\n";
    constexpr std::string_view kCgroupHybrid =
        "12:pids:/user.slice/user-1000.slice/user@1000.service\n"
        "4:memory:/user.slice/user-1000.slice/user@1000.service\n"
        "1:name=systemd:/user.slice/user-1000.slice/user@1000.service/app.slice/"
        "snap.firefox.firefox-0f9c5e3a-5d1e-4b58-9a7e-1c2d3e4f5a6b.scope\n0::/\n";
    constexpr std::string_view kUnits[] = {
        "app-org.kde.dolphin@a1b2c3.service", "app-flatpak-org.mozilla.firefox-98765.scope",
        "snap.lxd.daemon.service", "app-gnome-\\xe6\\xbd\\xae-1.scope"};
    constexpr std::string_view kEntry =
        "# A comment\r\n[Desktop Entry]\r\nType=Application\r\nName=Files\r\n"
        "Name[zh_CN]=文件\r\nName[zh]=档案\\s\\n\r\nIcon=org.gnome.Nautilus\r\n"
        "Categories=GNOME;GTK;Utility;Core;FileManager;\r\n\r\n[Desktop Action new]\r\n"
        "Name=New Window\r\n";
    const std::vector<std::string_view> texts = {kCgroup,   kCgroupHybrid, kEntry,   kUnits[0],
                                                 kUnits[1], kUnits[2],     kUnits[3]};
    Rng rng(0x7469646509);
    Faults faults;
    size_t ids = 0, names = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::string text = mutate(rng, std::string(texts[rng.below(texts.size())]), texts);
        faults.check(TLFuzz::checkCgroupUnit(text));
        faults.check(TLFuzz::checkUnitAppId(text));
        faults.check(TLFuzz::checkDesktopEntry(text));
        ids += !TLUnitAppId(TLCgroupUnit(text)).empty() || !TLUnitAppId(text).empty();
        TLDesktopEntry e;
        names += TLParseDesktopEntry(text, e) && !e.name.empty();
    }
    // Ids of random UTF-8 text survive being escaped into a unit name.
    for (int i = 0; i < 5000; ++i) {
        std::string id;
        for (size_t n = 1 + rng.below(12); n > 0; --n)
            id += encode(
                static_cast<uint32_t>(rng.chance(70) ? rng.below(0x80) : rng.below(0x11000)));
        faults.check(TLFuzz::checkUnitAppId(id));
    }
    EXPECT_EQ(faults.count(), 0u);
    // The mutations leave most inputs meaningful.
    EXPECT_GT(ids, 3000u);
    EXPECT_GT(names, 1000u);
}

TEST(ParsersFuzz, EveryCheckOnRandomBytes) {
    Rng rng(0x7469646508);
    Faults faults;
    for (int i = 0; i < 5000; ++i) {
        const std::string bytes = randomBytes(rng, 120);
        faults.check(TLFuzz::checkAll(bytes));
        faults.check(TLFuzz::checkApplicationParsers(bytes));
    }
    EXPECT_EQ(faults.count(), 0u);
}

// Faults these checks found once, kept as plain cases.
TEST(ParsersFuzz, ReportedFaultsAreFixed) {
    int32_t pid = 0;
    TLPsEntry e;
    // A CPU figure too small for a double is 0, not the largest double.
    ASSERT_TRUE(TLParsePsLine("1 2 1e-400 x", pid, e));
    EXPECT_EQ(e.cpu, 0.0);
    // A number has one sign.
    EXPECT_FALSE(TLParsePsLine("+-5 2 1.0 x", pid, e));
    // A name cut to its bound in front of a run of stray continuation bytes: cut before the run
    // (libFuzzer found the oracle taking this for a wrong name).
    ASSERT_TRUE(
        TLParsePsLine("1 2 1.0 " + std::string(150, 'a') + std::string(150, '\xAF'), pid, e));
    EXPECT_EQ(e.name, std::string(149, 'a')); // the last 'a' taken for the run's lead byte
    EXPECT_EQ(TLFuzz::checkPsLine("1 2 1.0 " + std::string(150, 'a') + std::string(150, '\xAF')),
              "");
    // Sums of kernel counters saturate instead of wrapping round to small numbers.
    uint64_t footprint = 0, wakeups = 0;
    ASSERT_TRUE(TLParseProcStatus("RssAnon:\t18014398509481984 kB\nvoluntary_ctxt_switches:\t1\n",
                                  footprint, wakeups));
    EXPECT_EQ(footprint, std::numeric_limits<uint64_t>::max());
    uint64_t ticks = 0;
    bool kthread = false;
    ASSERT_TRUE(
        TLParseProcStat("1 (x) S 0 0 0 0 -1 0 0 0 0 0 18446744073709551615 1 0", ticks, kthread));
    EXPECT_EQ(ticks, std::numeric_limits<uint64_t>::max());
}

} // namespace
