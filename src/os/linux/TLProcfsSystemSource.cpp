#include "os/linux/TLProcfsSystemSource.h"

#include "os/linux/TLProcText.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

int openRO(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

uint64_t pagesOf(uint64_t bytes, uint64_t page) {
    return (bytes + page / 2) / page;
}

// "avg10=12.34" → 12.34, exactly as written, without locale or allocation.
bool parseAvg10(std::string_view line, double& out) {
    const size_t at = line.find("avg10=");
    if (at == std::string_view::npos) return false;
    const std::string_view s = line.substr(at + 6);
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::fixed);
    if (r.ec != std::errc() || r.ptr == s.data() || !(v >= 0)) return false;
    out = v;
    return true;
}

// Memory available without swapping where the kernel does not say (before Linux 3.14, and some
// containers): the kernel's own estimate, free memory plus the page cache and the slab it can
// reclaim, without the small low-watermark reserve it takes off (not in meminfo). Old kernels
// without the file LRU lines count Cached + Buffers as page cache. Never above MemTotal.
uint64_t estimatedAvailable(std::string_view text) {
    uint64_t total = 0, free = 0, activeFile = 0, inactiveFile = 0, slab = 0;
    TLFindKeyValue(text, "MemTotal", total);
    TLFindKeyValue(text, "MemFree", free);
    TLFindKeyValue(text, "SReclaimable", slab);
    uint64_t cache = 0;
    if (TLFindKeyValue(text, "Active(file)", activeFile) &&
        TLFindKeyValue(text, "Inactive(file)", inactiveFile)) {
        cache = activeFile + inactiveFile;
    } else {
        uint64_t cached = 0, buffers = 0;
        TLFindKeyValue(text, "Cached", cached);
        TLFindKeyValue(text, "Buffers", buffers);
        cache = cached + buffers;
    }
    const uint64_t estimate = free + cache + slab;
    return estimate < total ? estimate : total;
}

} // namespace

TLProcfsSystemSource::TLProcfsSystemSource(std::string root) {
    const long page = ::sysconf(_SC_PAGESIZE);
    if (page > 0) _pageSize = static_cast<uint64_t>(page);
    _meminfo.reset(openRO(root + "/proc/meminfo"));
    _stat.reset(openRO(root + "/proc/stat"));
    _pressure.reset(openRO(root + "/proc/pressure/memory"));
    // zram devices present at start-up; they are rarely added later.
    const std::string blockDir = root + "/sys/block";
    if (DIR* dir = ::opendir(blockDir.c_str())) {
        std::unique_ptr<DIR, int (*)(DIR*)> guard(dir, ::closedir);
        while (const dirent* e = ::readdir(dir)) {
            if (std::strncmp(e->d_name, "zram", 4) != 0) continue;
            TLFd fd(openRO(blockDir + "/" + e->d_name + "/mm_stat"));
            if (fd.valid()) _zram.push_back(std::move(fd));
        }
    }
}

uint64_t TLProcfsSystemSource::pageSize() {
    return _pageSize;
}

bool TLProcfsSystemSource::readMeminfo() {
    _len = TLPreadAll(_meminfo.get(), _buf, sizeof _buf);
    return _len > 0;
}

uint64_t TLProcfsSystemSource::physicalMemory() {
    uint64_t kib = 0;
    if (!readMeminfo() || !TLFindKeyValue({_buf, static_cast<size_t>(_len)}, "MemTotal", kib))
        return 0;
    return kib * 1024;
}

uint64_t TLProcfsSystemSource::zramBytes() {
    uint64_t sum = 0;
    char buf[256];
    for (const TLFd& fd : _zram) {
        const long n = TLPreadAll(fd.get(), buf, sizeof buf);
        if (n <= 0) continue;
        // orig_data_size compr_data_size mem_used_total ...
        std::string_view s(buf, static_cast<size_t>(n));
        uint64_t orig = 0, compr = 0, used = 0;
        if (TLScanU64(s, orig) && TLScanU64(s, compr) && TLScanU64(s, used)) sum += used;
    }
    return sum;
}

bool TLProcfsSystemSource::readVM(TLVMCounters& out) {
    _meminfoFresh = readMeminfo();
    if (!_meminfoFresh) return false;
    const std::string_view text(_buf, static_cast<size_t>(_len));
    // Every line this sample needs, in one pass (the swap lines for readSwap just after).
    TLKeyValue k[] = {{"MemTotal"},    {"MemFree"},    {"MemAvailable"},  {"SUnreclaim"},
                      {"KernelStack"}, {"PageTables"}, {"SecPageTables"}, {"Percpu"},
                      {"Zswap"},       {"SwapTotal"},  {"SwapFree"}};
    TLFindKeyValues(text, k);
    _swapFound = k[9].found && k[10].found;
    _swapTotal = k[9].value;
    _swapFree = k[10].value;
    if (!k[0].found || !k[1].found) return false;
    const uint64_t total = k[0].value, free = k[1].value;
    const uint64_t available = k[2].found ? k[2].value : estimatedAvailable(text);
    // Absent fields (older kernels) count as 0.
    const uint64_t sunreclaim = k[3].value, kstack = k[4].value, pagetables = k[5].value,
                   secpagetables = k[6].value, percpu = k[7].value, zswap = k[8].value;

    const uint64_t page = _pageSize;
    const uint64_t usedKiB = total > available ? total - available : 0;
    const uint64_t usedPages = pagesOf(usedKiB * 1024, page);
    out.wirePages =
        pagesOf((sunreclaim + kstack + pagetables + secpagetables + percpu) * 1024, page);
    out.compressorPages = pagesOf(zswap * 1024 + zramBytes(), page);
    const uint64_t taken = out.wirePages + out.compressorPages;
    out.internalPages = usedPages > taken ? usedPages - taken : 0;
    out.purgeablePages = 0;
    out.externalPages = pagesOf((available > free ? available - free : 0) * 1024, page);
    return true;
}

bool TLProcfsSystemSource::readSwap(TLSwapUsage& out) {
    // The read of the memory counters just before has the swap lines too: one read per sample.
    if (!_meminfoFresh) {
        if (!readMeminfo()) return false;
        TLKeyValue k[] = {{"SwapTotal"}, {"SwapFree"}};
        TLFindKeyValues({_buf, static_cast<size_t>(_len)}, k);
        _swapFound = k[0].found && k[1].found;
        _swapTotal = k[0].value;
        _swapFree = k[1].value;
    }
    _meminfoFresh = false;
    if (!_swapFound) return false;
    out.total = _swapTotal * 1024;
    out.used = _swapTotal > _swapFree ? (_swapTotal - _swapFree) * 1024 : 0;
    return true;
}

bool TLProcfsSystemSource::readPressureLevel(TLPressureLevel& level) {
    _psiFresh = readPSI();
    if (!_psiFresh) return false;
    level = _psiFull >= 5.0   ? TLPressureLevel::Critical
            : _psiSome >= 5.0 ? TLPressureLevel::Warning
                              : TLPressureLevel::Normal;
    return true;
}

bool TLProcfsSystemSource::readMemoryStall(double& percent) {
    // The read of the level just before has the figure: one read per sample.
    if (!_psiFresh && !readPSI()) return false;
    _psiFresh = false;
    percent = _psiSome;
    return true;
}

bool TLProcfsSystemSource::readPSI() {
    char buf[512];
    const long n = TLPreadAll(_pressure.get(), buf, sizeof buf);
    if (n <= 0) return false;
    std::string_view text(buf, static_cast<size_t>(n));
    double some = 0, full = 0;
    bool haveSome = false;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (line.starts_with("some "))
            haveSome = parseAvg10(line, some);
        else if (line.starts_with("full "))
            parseAvg10(line, full);
    }
    if (!haveSome) return false;
    _psiSome = some;
    _psiFull = full;
    return true;
}

bool TLProcfsSystemSource::readCPUTicks(TLCPUTicks& out) {
    char buf[1024];
    const long n = TLPreadAll(_stat.get(), buf, sizeof buf);
    if (n <= 0) return false;
    std::string_view s(buf, static_cast<size_t>(n));
    if (!s.starts_with("cpu ")) return false;
    s.remove_prefix(4);
    // user nice system idle iowait irq softirq steal [guest guest_nice]
    uint64_t v[8] = {};
    int got = 0;
    while (got < 8 && TLScanU64(s, v[got]))
        ++got;
    if (got < 4) return false;
    out.user = v[0];
    out.nice = v[1];
    out.system = v[2] + v[5] + v[6] + v[7];
    out.idle = v[3] + v[4];
    return true;
}

std::unique_ptr<TLSystemSource> TLMakeSystemSource() {
    return std::make_unique<TLProcfsSystemSource>();
}
